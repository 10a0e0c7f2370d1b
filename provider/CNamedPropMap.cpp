#include "ProviderPlatform.h"
#include "CNamedPropMap.h"
#include "ComErrorRaise.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "MapiPtr.h"
#include "MapiStrings.h"
#include "ServerInterfaces.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

constexpr ULONG kUnbuilt = 0xFFFF;
constexpr ULONG kFirstNamedId = 0x8000;
constexpr ULONG kColumnCount = 4;

SizedSPropTagArray(kColumnCount, kColumns) = {kColumnCount,
                                               {kPrNamedPropId, kPrNamedPropGuid, kPrNamedPropName, kPrNamedPropLid}};

LPSPropTagArray Columns()
{
    return reinterpret_cast<LPSPropTagArray>(&kColumns);
}

class CLock {
public:
    explicit CLock(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~CLock() { LeaveCriticalSection(&m_lock); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};

const SPropValue* FindColumn(const SRow& row, ULONG tag)
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (PROP_ID(row.lpProps[i].ulPropTag) == PROP_ID(tag))
            return &row.lpProps[i];
    return nullptr;
}

// The id a row of the map carries, or 0 when its id column holds none.
ULONG RowId(const SRow& row)
{
    const SPropValue* id = FindColumn(row, kPrNamedPropId);
    if (!id || id->ulPropTag != kPrNamedPropId)
        return 0;
    return static_cast<USHORT>(id->Value.i);
}

HRESULT CreateMapTable(ComPtr<ITableData>& data)
{
    const SMapiMemory memory = ProviderMapiMemory();
    return CreateTable(nullptr, memory.allocateBuffer, memory.allocateMore, memory.freeBuffer, nullptr,
                       TBLTYPE_DYNAMIC, kPrNamedPropId, Columns(), data.GetAddressOf());
}

HRESULT OpenView(ITableData* data, ComPtr<IMAPITable>& view)
{
    return data->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
}

HRESULT MakeNameId(const SRow& row, LPVOID parent, LPMAPINAMEID* out)
{
    *out = nullptr;
    LPVOID block = nullptr;
    HRESULT hr = ProviderAllocateMore(sizeof(MAPINAMEID), parent, &block);
    if (FAILED(hr))
        return hr;
    auto* name = static_cast<LPMAPINAMEID>(block);
    std::memset(name, 0, sizeof(MAPINAMEID));
    const SPropValue* id = FindColumn(row, kPrNamedPropId);
    if (!id || PROP_TYPE(id->ulPropTag) == PT_ERROR) {
        *out = name;
        return S_OK;
    }
    const SPropValue* guid = FindColumn(row, kPrNamedPropGuid);
    if (guid && guid->ulPropTag == kPrNamedPropGuid && guid->Value.bin.cb == sizeof(GUID)) {
        LPVOID copy = nullptr;
        hr = MapiCopyBytes(parent, sizeof(GUID), guid->Value.bin.lpb, &copy);
        if (FAILED(hr))
            return hr;
        name->lpguid = static_cast<LPGUID>(copy);
    }
    const SPropValue* text = FindColumn(row, kPrNamedPropName);
    if (text && text->ulPropTag == kPrNamedPropName) {
        name->ulKind = MNID_STRING;
        hr = MapiDupString(text->Value.lpszW, parent, &name->Kind.lpwstrName);
        if (FAILED(hr))
            return hr;
    } else {
        name->ulKind = MNID_ID;
        const SPropValue* lid = FindColumn(row, kPrNamedPropLid);
        name->Kind.lID = lid && lid->ulPropTag == kPrNamedPropLid ? lid->Value.l : 0;
    }
    *out = name;
    return S_OK;
}

} // namespace

CNamedPropMap::CNamedPropMap() : m_nextId(kUnbuilt)
{
    InitializeCriticalSection(&m_lock);
}

CNamedPropMap::~CNamedPropMap()
{
    m_view.Reset();
    m_tableData.Reset();
    DeleteCriticalSection(&m_lock);
}

ULONG CNamedPropMap::NextId() const
{
    CLock guard(m_lock);
    return m_nextId;
}

HRESULT CNamedPropMap::CreateEmpty()
{
    ComPtr<ITableData> data;
    HRESULT hr = CreateMapTable(data);
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPITable> view;
    hr = OpenView(data.Get(), view);
    if (FAILED(hr))
        return hr;
    CLock guard(m_lock);
    m_tableData = data;
    m_view = view;
    m_nextId = kFirstNamedId;
    return hr;
}

HRESULT CNamedPropMap::LoadFromStore(DWORD storeCookie)
{
    ComPtr<IEseStore> store;
    try {
        store = FetchServer<IEseStore>(storeCookie);
    } catch (const _com_error& error) {
        return error.Error();
    }
    return LoadFromServer(store.Get());
}

HRESULT CNamedPropMap::LoadFromServer(IEseStore* store)
{
    if (!store)
        return E_INVALIDARG;
    ComPtr<IEseTable> table;
    HRESULT hr = store->GetNamedPropertiesTable(table.GetAddressOf());
    // An empty map here would hand out ids the database already uses.
    if (FAILED(hr))
        RaiseComError(hr, store, IID_IEseStore);

    ComPtr<ITableData> data;
    hr = CreateMapTable(data);
    if (FAILED(hr))
        return hr;

    ULONG nextId = kFirstNamedId;
    if (table) {
        ULONG tags[kColumnCount];
        std::copy(kColumns.aulPropTag, kColumns.aulPropTag + kColumnCount, tags);
        hr = table->SetColumns(kColumnCount, tags);
        if (FAILED(hr))
            RaiseComError(hr, table.Get(), IID_IEseTable);
        CServerRows server;
        hr = table->GetRows(0x7FFFFFFF, 1, &server.count, &server.rows);
        if (FAILED(hr))
            RaiseComError(hr, table.Get(), IID_IEseTable);
        if (!server.rows)
            server.count = 0;

        // Ids normally run densely from 0x8000, but a gap must not make a
        // new name take (and replace) a row the database already has.
        ULONG highest = kFirstNamedId - 1;
        std::set<ULONG> seen;
        ULONG position = 0;
        for (ULONG i = 0; i < server.count; ++i) {
            const _SEseRow& serverRow = server.rows[i];
            const _SEseRow firstFour = {std::min(serverRow.m_valueCount, kColumnCount), serverRow.m_p_values};
            MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(sizeof(SPropValue) * kColumnCount, hr);
            if (!values)
                return hr;
            ConvertEseRow(values.get(), firstFour, 0, values.get());
            SRow row = {0, firstFour.m_valueCount, values.get()};
            const ULONG id = RowId(row);
            // A row without an id names nothing; a repeated id keeps its
            // first name, as the server's own lookups do.
            if (id == 0 || !seen.insert(id).second)
                continue;
            highest = std::max(highest, id);
            hr = data->HrInsertRow(position++, &row);
            if (FAILED(hr))
                return hr;
        }
        nextId = std::min<ULONG>(std::max<ULONG>(kFirstNamedId + server.count, highest + 1), kUnbuilt);
    }

    ComPtr<IMAPITable> view;
    hr = OpenView(data.Get(), view);
    if (FAILED(hr))
        return hr;
    CLock guard(m_lock);
    m_tableData = data;
    m_view = view;
    m_nextId = nextId;
    return hr;
}

HRESULT CNamedPropMap::FindRow(const SRestriction& restriction, SRowSet** row)
{
    *row = nullptr;
    HRESULT hr = m_view->SetColumns(Columns(), 0);
    if (FAILED(hr))
        return hr;
    hr = m_view->FindRow(const_cast<LPSRestriction>(&restriction), BOOKMARK_BEGINNING, 0);
    if (FAILED(hr))
        return hr;
    return m_view->QueryRows(1, 0, row);
}

HRESULT CNamedPropMap::GetIdForName(const GUID* guid, const wchar_t* name, LONG lid, ULONG kind, bool create,
                                    ULONG* tag)
{
    if (!tag)
        return E_INVALIDARG;
    *tag = kNoNamedPropTag;
    if (!guid || (kind == MNID_STRING && !name))
        return E_INVALIDARG;
    CLock guard(m_lock);
    if (!m_view)
        return create ? MAPI_E_NOT_ENOUGH_RESOURCES : MAPI_E_NOT_FOUND;

    SPropValue match[2] = {};
    match[0].ulPropTag = kPrNamedPropGuid;
    match[0].Value.bin.cb = sizeof(GUID);
    match[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<GUID*>(guid));
    if (kind == MNID_STRING) {
        match[1].ulPropTag = kPrNamedPropName;
        match[1].Value.lpszW = const_cast<LPWSTR>(name);
    } else {
        match[1].ulPropTag = kPrNamedPropLid;
        match[1].Value.l = lid;
    }
    SRestriction both[2] = {};
    for (int i = 0; i < 2; ++i) {
        both[i].rt = RES_PROPERTY;
        both[i].res.resProperty.relop = RELOP_EQ;
        both[i].res.resProperty.ulPropTag = match[i].ulPropTag;
        both[i].res.resProperty.lpProp = &match[i];
    }
    SRestriction restriction = {};
    restriction.rt = RES_AND;
    restriction.res.resAnd.cRes = 2;
    restriction.res.resAnd.lpRes = both;

    SRowSet* found = nullptr;
    HRESULT hr = FindRow(restriction, &found);
    RowSetPtr rows(found);
    if (SUCCEEDED(hr)) {
        if (rows && rows->cRows == 1 && RowId(rows->aRow[0]) != 0)
            *tag = PROP_TAG(PT_UNSPECIFIED, RowId(rows->aRow[0]));
        return hr;
    }
    if (hr != MAPI_E_NOT_FOUND || !create)
        return hr;
    if (m_nextId >= kUnbuilt)
        return MAPI_E_NOT_ENOUGH_RESOURCES;

    SPropValue added[3] = {match[0], {}, match[1]};
    added[1].ulPropTag = kPrNamedPropId;
    added[1].Value.i = static_cast<short>(m_nextId);
    SRow row = {0, 3, added};
    hr = m_tableData->HrModifyRow(&row);
    if (SUCCEEDED(hr)) {
        *tag = PROP_TAG(PT_UNSPECIFIED, m_nextId);
        ++m_nextId;
    }
    return hr;
}

HRESULT CNamedPropMap::GetNameForId(ULONG tag, LPVOID parent, LPMAPINAMEID* name)
{
    if (!name)
        return E_INVALIDARG;
    *name = nullptr;
    CLock guard(m_lock);
    if (!m_view)
        return MAPI_E_NOT_FOUND;
    SPropValue id = {};
    id.ulPropTag = kPrNamedPropId;
    id.Value.i = static_cast<short>(PROP_ID(tag));
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_EQ;
    restriction.res.resProperty.ulPropTag = kPrNamedPropId;
    restriction.res.resProperty.lpProp = &id;
    SRowSet* found = nullptr;
    HRESULT hr = FindRow(restriction, &found);
    RowSetPtr rows(found);
    if (FAILED(hr))
        return hr;
    if (rows && rows->cRows == 1)
        hr = MakeNameId(rows->aRow[0], parent, name);
    return hr;
}
