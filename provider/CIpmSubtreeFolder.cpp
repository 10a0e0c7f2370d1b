#include "ProviderPlatform.h"
#include "CIpmSubtreeFolder.h"
#include "ComErrorRaise.h"
#include "CStoreConfig.h"
#include "CStoreShared.h"
#include "CTable.h"
#include "EntryOpening.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "HierarchyRows.h"
#include "MailboxSelection.h"
#include "MapiPtr.h"
#include "NamedPropRequests.h"
#include "PropAnswers.h"
#include "ProviderGlobals.h"
#include "ServerInterfaces.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kPrOwnEntryId = 0x66720102;
constexpr ULONG kPrSubfolderMarker = 0x663D0003;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMailboxRootFid = 0x67640014;
constexpr ULONG kPrMailboxInstanceKey = 0x676A0102;
// The display type of the subtree and of its rows.
constexpr LONG kSubtreeDisplayType = 6;
constexpr HRESULT kNoSuchTable = 0x80070002;

const ULONG kIpmPropList[] = {PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER,      PR_RECORD_KEY,        PR_ENTRYID,
                              PR_STORE_ENTRYID,      PR_DISPLAY_NAME_W,    PR_ACCESS,            PR_ACCESS_LEVEL,
                              PR_FOLDER_TYPE,        PR_PARENT_ENTRYID,    PR_MAPPING_SIGNATURE, PR_STORE_RECORD_KEY,
                              PR_SUBFOLDERS,         kPrSubfolderMarker};

SizedSPropTagArray(1, kInstanceKeyOnly) = {1, {PR_INSTANCE_KEY}};

// The subtree's mapping signature is the store UID whatever the store's
// version.
const SPropHandler<CIpmSubtreeFolder> kIpmProps[] = {
    {PR_STORE_SUPPORT_MASK, &FixedLong<CIpmSubtreeFolder, kStoreSupportMask>},
    {PR_MDB_PROVIDER, &ProviderUidValue<CIpmSubtreeFolder>},
    {PR_RECORD_KEY, &OwnIdValue<CIpmSubtreeFolder>},
    {PR_ENTRYID, &OwnIdValue<CIpmSubtreeFolder>},
    {kPrOwnEntryId, &OwnIdValue<CIpmSubtreeFolder>},
    {PR_PARENT_ENTRYID, &ParentIdValue<CIpmSubtreeFolder>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<CIpmSubtreeFolder>},
    {PR_MAPPING_SIGNATURE, &StoreUidValue<CIpmSubtreeFolder>},
    {PR_STORE_RECORD_KEY, &StoreUidValue<CIpmSubtreeFolder>},
    {PR_DISPLAY_NAME_W, [](const CIpmSubtreeFolder&, SPropValue& v, LPVOID p) { return FillString(v, p, L"IPM"); }},
    {PR_ACCESS, &FixedLong<CIpmSubtreeFolder, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<CIpmSubtreeFolder, 0>},
    {PR_FOLDER_TYPE, &FixedLong<CIpmSubtreeFolder, FOLDER_GENERIC>},
    {PR_SUBFOLDERS, &FixedBool<CIpmSubtreeFolder, true>},
    {kPrSubfolderMarker, &FixedLong<CIpmSubtreeFolder, 1>},
    {PR_DISPLAY_TYPE, &FixedLong<CIpmSubtreeFolder, kSubtreeDisplayType>},
    {PR_NULL, &FixedLong<CIpmSubtreeFolder, 0>},
};

} // namespace

HRESULT CIpmSubtreeFolder::Create(DWORD storeCookie, const CEntryId& ownId, const CEntryId& rootId,
                                  const CEntryId& storeId, IMAPIFolder** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CIpmSubtreeFolder* folder = new (std::nothrow) CIpmSubtreeFolder(storeCookie, ownId, rootId, storeId);
    if (!folder)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = folder;
    return S_OK;
}

CIpmSubtreeFolder::CIpmSubtreeFolder(DWORD storeCookie, const CEntryId& ownId, const CEntryId& rootId,
                                     const CEntryId& storeId)
    : CFolder(CServerCookie(), ownId, &rootId, storeId), m_storeCookie(storeCookie)
{
    CProviderGlobals& globals = ProviderGlobals();
    CCriticalSectionLock lock(globals.folderListLock);
    globals.ipmSubtreeFolders.push_back(this);
}

CIpmSubtreeFolder::~CIpmSubtreeFolder()
{
    try {
        CProviderGlobals& globals = ProviderGlobals();
        CCriticalSectionLock lock(globals.folderListLock);
        globals.ipmSubtreeFolders.remove(this);
    } catch (...) {
    }
}

STDMETHODIMP CIpmSubtreeFolder::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                         LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CIpmSubtreeFolder::GetProps", [&]() -> HRESULT {
        return ServeGetProps(*this, kIpmProps, lpPropTagArray, lpcValues, lppPropArray, &NotFoundValues);
    });
}

STDMETHODIMP CIpmSubtreeFolder::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CIpmSubtreeFolder::GetPropList",
                 [&]() -> HRESULT { return HandOutPropList(kIpmPropList, lppPropTagArray); });
}

STDMETHODIMP CIpmSubtreeFolder::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                                LPSPropTagArray* lppPropTags)
{
    return Guard("CIpmSubtreeFolder::GetIDsFromNames", [&]() -> HRESULT {
        SNamedPropSource source;
        std::shared_ptr<CStoreShared> store = OpenStoreOf(StoreId());
        if (store)
            source.map = &store->NamedProps();
        source.allNames = SNamedPropSource::EAllNames::NoSupport;
        return GetIDsFromNamesFor(source, cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}

STDMETHODIMP CIpmSubtreeFolder::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard("CIpmSubtreeFolder::GetContentsTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        ComPtr<ITableData> data;
        HRESULT hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY,
                                         reinterpret_cast<const SPropTagArray*>(&kInstanceKeyOnly), data);
        if (FAILED(hr))
            return hr;
        return HandOutView(data.Get(), 1, lppTable);
    });
}

STDMETHODIMP CIpmSubtreeFolder::GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard(
        "CIpmSubtreeFolder::GetHierarchyTable",
        [&]() -> HRESULT {
            if (!lppTable)
                return E_INVALIDARG;
            *lppTable = nullptr;
            if (!m_hierarchyBuilt) {
                HRESULT hr = FillHierarchyTable();
                if (FAILED(hr))
                    return hr;
            }
            ComPtr<IMAPITable> view;
            HRESULT hr = m_hierarchyData->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
            if (FAILED(hr))
                return hr;
            return CIpmHierarchyTable::Create(view.Get(), 0, this, lppTable);
        },
        E_FAIL);
}

STDMETHODIMP CIpmSubtreeFolder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                          ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    (void)lpInterface;
    return Guard("CIpmSubtreeFolder::OpenEntry", [&]() -> HRESULT {
        CEntryId id;
        HRESULT hr = DecodeFolderEntry(cbEntryID, lpEntryID, ulFlags, lpulObjType, lppUnk, id);
        if (FAILED(hr))
            return hr;
        if (id.kind != kEntryMailboxTop)
            return MAPI_E_INVALID_ENTRYID;
        return OpenStoreEntry(m_storeCookie, id, OwnId(), OwnId(), StoreId(), lpulObjType, lppUnk);
    });
}

HRESULT CIpmSubtreeFolder::FillHierarchyTable()
{
    CCriticalSectionLock lock(m_lock);
    return Rebuild();
}

HRESULT CIpmSubtreeFolder::Rebuild()
{
    HRESULT hr = ResetHierarchyData(m_hierarchyData);
    if (FAILED(hr))
        return hr;

    ComPtr<IEseStore> store = FetchServer<IEseStore>(m_storeCookie);

    CStoreConfig config;
    LONG publicFoldersOnly = 0;
    config.GetPublicFoldersOnly(OwnId().storeUid, publicFoldersOnly);
    ParsedMailboxSelection selection;
    if (!publicFoldersOnly) {
        std::wstring text;
        if (config.GetMailboxSelection(OwnId().storeUid, text))
            ParseMailboxSelection(text, selection);
    }

    const ULONG count = selection.allChecked ? 0 : static_cast<ULONG>(selection.ids.size());
    ComPtr<IEseTable> table;
    hr = store->GetMailboxesTable(count, count ? selection.ids.data() : nullptr, 0, table.GetAddressOf());
    if (FAILED(hr) && hr != kNoSuchTable)
        RaiseComError(hr, store.Get(), IID_IEseStore);
    if (!selection.allChecked && selection.count == 0)
        return S_OK;

    std::vector<ULONG> columns;
    if (publicFoldersOnly) {
        table.Reset();
        hr = store->GetFoldersTable(table.GetAddressOf());
        if (FAILED(hr))
            RaiseComError(hr, store.Get(), IID_IEseStore);
        columns = HierarchyServerColumns(kPrFid, kPrMailboxRootFid);
    } else {
        columns = HierarchyServerColumns(kPrMailboxRootFid, kPrMailboxInstanceKey);
    }
    // A mailbox store without a mailbox table has nothing to show.
    if (!table)
        return S_OK;
    hr = table->SetColumns(kHierarchyServerColumnCount, columns.data());
    if (FAILED(hr))
        RaiseComError(hr, table.Get(), IID_IEseTable);
    CServerRows server;
    hr = table->GetRows(0x7FFFFFFF, 1, &server.count, &server.rows);
    if (FAILED(hr))
        RaiseComError(hr, table.Get(), IID_IEseTable);
    if (!server.rows)
        server.count = 0;

    ULONG position = 0;
    for (ULONG i = 0; i < server.count; ++i) {
        const _SEseRow& row = server.rows[i];
        if (row.m_valueCount < kHierarchyServerColumnCount || !row.m_p_values)
            continue;
        const _SEsePropertyValue* v = row.m_p_values;
        // A row without its identifiers names no folder that could be opened.
        if (!IsUsableServerValue(v[0]) || (publicFoldersOnly && !IsUsableServerValue(v[1])))
            continue;
        CEntryId child(publicFoldersOnly ? kEntryFolder : kEntryMailboxTop, OwnId().storeUid);
        if (publicFoldersOnly) {
            child.idRoot = v[1].m_value.m_i64;
            child.fid = v[0].m_value.m_i64;
        } else {
            child.idRoot = child.fid = v[0].m_value.m_i64;
        }
        // A mailbox row without its instance key is keyed by its root id,
        // as a public folder is by its own.
        BYTE swapped[8];
        const void* key = swapped;
        ULONG keySize = sizeof(swapped);
        if (!publicFoldersOnly && PROP_TYPE(v[1].m_tag) == PT_BINARY && v[1].m_value.m_bin.m_count) {
            key = v[1].m_value.m_bin.m_p_bt;
            keySize = v[1].m_value.m_bin.m_count;
        } else {
            SwappedHalves(child.fid, swapped);
        }
        hr = InsertHierarchyRow(m_hierarchyData.Get(), position, row, child, OwnId(), key, keySize,
                                kSubtreeDisplayType);
        if (FAILED(hr))
            return hr;
        ++position;
    }
    return hr;
}
