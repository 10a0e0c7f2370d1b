#include "Platform.h"
#include "objects/CEseTable.h"
#include "ComErrors.h"

namespace {

template <typename Body>
HRESULT ServeTableCall(Body&& body)
{
    return ServeComCall(IID_IEseTable, body);
}

} // namespace

HRESULT CEseTable::Create(const NJbFramework::CSharedRef<CEseTableImpl>& engine, IEseTable** ppTable)
{
    if (!ppTable)
        return E_POINTER;
    *ppTable = nullptr;
    if (!engine)
        return E_INVALIDARG;
    return CreateInstance(IID_IEseTable, reinterpret_cast<void**>(ppTable), engine);
}

STDMETHODIMP CEseTable::GetColumns(signed char all, ULONG* pTagCount, ULONG** ppTags)
{
    return ServeTableCall([&] {
        m_engine->GetColumns(all != 0, pTagCount, ppTags);
        return S_OK;
    });
}

STDMETHODIMP CEseTable::SetColumns(ULONG tagCount, ULONG* pTags)
{
    return ServeTableCall([&] {
        m_engine->SetColumns(tagCount, pTags);
        return S_OK;
    });
}

STDMETHODIMP CEseTable::GetRows(ULONG maxRowCount, signed char noAdvance, ULONG* pActualRowCount, _SEseRow** ppRows)
{
    return ServeTableCall([&] {
        m_engine->GetRows(maxRowCount, noAdvance != 0, pActualRowCount, ppRows);
        return S_OK;
    });
}
