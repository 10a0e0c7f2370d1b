#pragma once
// IEseTable over one table engine: a row set the client chooses columns of,
// reads rows from and lists the columns of. The object keeps its engine (and
// through it the table's cursor and database) alive until its last Release.
// Engine failures become COM errors under IEseTable's IID.
#include "Platform.h"
#include "CUnknownImpl.h"
#include "Vostrel2007.h"
#include "objects/CEseTableImpl.h"

// Error information is offered for IEseTable and for IEseProperty: the
// objects that hand tables out report under their own interfaces.
class CEseTableErrorInfo : public ISupportErrorInfo {
public:
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, IID_IEseTable) || IsEqualIID(riid, IID_IEseProperty) ? S_OK : S_FALSE;
    }
};

namespace common {
template <>
struct InterfaceIid<CEseTableErrorInfo> {
    static const IID& Get() { return IID_ISupportErrorInfo; }
};
} // namespace common

class CEseTable final : public common::CUnknownImpl<CEseTable, IEseTable, CEseTableErrorInfo> {
public:
    // A new table object over `engine`, handed out as IEseTable.
    static HRESULT Create(const NJbFramework::CSharedRef<CEseTableImpl>& engine, IEseTable** ppTable);

    STDMETHODIMP GetColumns(signed char all, ULONG* pTagCount, ULONG** ppTags) override;
    STDMETHODIMP SetColumns(ULONG tagCount, ULONG* pTags) override;
    // noAdvance is the engine's restart flag: read from the first row.
    STDMETHODIMP GetRows(ULONG maxRowCount, signed char noAdvance, ULONG* pActualRowCount, _SEseRow** ppRows) override;

    const NJbFramework::CSharedRef<CEseTableImpl>& Engine() const { return m_engine; }

private:
    friend class common::CUnknownImpl<CEseTable, IEseTable, CEseTableErrorInfo>;
    explicit CEseTable(const NJbFramework::CSharedRef<CEseTableImpl>& engine) : m_engine(engine) {}
    ~CEseTable() override = default;

    NJbFramework::CSharedRef<CEseTableImpl> m_engine;
};
