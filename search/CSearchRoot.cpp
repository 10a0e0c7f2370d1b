#include "SearchPlatform.h"
#include "CSearchRoot.h"

#include "CSearch.h"
#include "CTable.h"
#include "ComErrorRaise.h"
#include "EntryOpening.h"
#include "PropAnswers.h"
#include "ProviderGlobals.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"
#include "ProviderObjectFactory.h"
#include "RestrictionCopy.h"
#include "SearchColumns.h"
#include "ServerInterfaces.h"

#include <cstring>
#include <new>

namespace {

constexpr ULONG kPrOwnEntryId = 0x66720102;
constexpr ULONG kPrFinderEntryId = 0x35E70102;
constexpr ULONG kPrFolderGuid = 0x68420102;
constexpr DWORD kStopWaitMs = 20000;
constexpr wchar_t kSearchRootName[] = L"Search Folders";

const ULONG kSearchRootPropList[] = {PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER,      PR_ENTRYID,       PR_PARENT_ENTRYID,
                                     PR_STORE_ENTRYID,      PR_DISPLAY_NAME_W,    PR_ACCESS,        PR_ACCESS_LEVEL,
                                     PR_FOLDER_TYPE,        PR_STORE_RECORD_KEY,  PR_MAPPING_SIGNATURE,
                                     kPrFinderEntryId,      kPrFolderGuid,        kPrExtendedFolderFlags};

// The hierarchy table a search folder hands out: its columns, never a row.
const ULONG kHierarchyColumns[] = {0x0FF60102, 0x30050003, 0x0FF40003, 0x0FFF0102, 0x0E090102, 0x0FFB0102,
                                  0x0FFA0102, 0x0FF90102, 0x0FF80102, 0x36010003, 0x0FFE0003, 0x39000003,
                                  0x36020003, 0x36030003, 0x36170003, 0x360A000B, 0x30070040, 0x30080040,
                                  0x3001001F, 0x6732001F, 0x672D0003, 0x36E8101F, 0x36E7101F};

struct SSearchRootView {
    const CSearchRoot& folder;
    const std::vector<BYTE>& extendedFlags;

    const CEntryId& OwnId() const { return folder.OwnId(); }
    const CEntryId& StoreId() const { return folder.StoreId(); }
};

HRESULT NoSupport(const SSearchRootView&, SPropValue& v, LPVOID)
{
    SetErrorValue(v, v.ulPropTag, MAPI_E_NO_SUPPORT);
    return S_OK;
}

// A search folder is its own parent, and its mapping signature and finder
// identifier are the store UID whatever the store's version.
const SPropHandler<SSearchRootView> kSearchRootProps[] = {
    {PR_ENTRYID, &OwnIdValue<SSearchRootView>},
    {PR_RECORD_KEY, &OwnIdValue<SSearchRootView>},
    {PR_PARENT_ENTRYID, &OwnIdValue<SSearchRootView>},
    {kPrOwnEntryId, &OwnIdValue<SSearchRootView>},
    {PR_MAPPING_SIGNATURE, &StoreUidValue<SSearchRootView>},
    {PR_STORE_RECORD_KEY, &StoreUidValue<SSearchRootView>},
    {kPrFinderEntryId, &StoreUidValue<SSearchRootView>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<SSearchRootView>},
    {PR_MDB_PROVIDER, &ProviderUidValue<SSearchRootView>},
    {PR_DISPLAY_NAME_W,
     [](const SSearchRootView& s, SPropValue& v, LPVOID p) {
         return FillString(v, p, s.folder.DisplayName().c_str());
     }},
    {PR_CONTAINER_CLASS_W, [](const SSearchRootView&, SPropValue& v, LPVOID p) { return FillString(v, p, L"IPF.Note"); }},
    {kPrExtendedFolderFlags,
     [](const SSearchRootView& s, SPropValue& v, LPVOID p) {
         return FillBinary(v, p, s.extendedFlags.data(), static_cast<ULONG>(s.extendedFlags.size()));
     }},
    {kPrFolderGuid,
     [](const SSearchRootView& s, SPropValue& v, LPVOID p) {
         return FillBinary(v, p, &s.folder.FolderGuid(), sizeof(GUID));
     }},
    {PR_FOLDER_TYPE, &FixedLong<SSearchRootView, FOLDER_SEARCH>},
    {PR_ACCESS, &FixedLong<SSearchRootView, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<SSearchRootView, 0>},
    {PR_NULL, &FixedLong<SSearchRootView, 0>},
    {PR_STORE_SUPPORT_MASK, &FixedLong<SSearchRootView, kStoreSupportMask>},
    {PR_SUBFOLDERS, &NoSupport},
    {PR_CONTENT_COUNT, &NoSupport},
};

// Only a property the folder lacks makes the answer a warning; the ones it
// does not support are plain answers.
HRESULT NotFoundReturned(const SPropValue* values, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR && values[i].Value.err == MAPI_E_NOT_FOUND)
            return MAPI_W_ERRORS_RETURNED;
    return S_OK;
}

// The extended folder flags a search folder starts with: a sequence of {id,
// length, data}: 01 04 00 00 00 01, then 03 04 and the tick count of its
// making, then 02 10 and the folder's GUID.
std::vector<BYTE> InitialExtendedFlags(const GUID& guid)
{
    std::vector<BYTE> blob(30, 0);
    blob[0] = 0x01;
    blob[1] = 0x04;
    blob[5] = 0x01;
    blob[6] = 0x03;
    blob[7] = 0x04;
    const DWORD tick = GetTickCount();
    std::memcpy(&blob[8], &tick, 4);
    blob[12] = 0x02;
    blob[13] = 0x10;
    std::memcpy(&blob[14], &guid, sizeof(GUID));
    return blob;
}

// A restriction copy in a buffer of its own; null for none.
MapiPtr<SRestriction> CopyOfRestriction(const SRestriction* source, HRESULT& hr)
{
    hr = S_OK;
    if (!source)
        return MapiPtr<SRestriction>();
    MapiPtr<SRestriction> copy = MapiAllocate<SRestriction>(sizeof(SRestriction), hr);
    if (!copy)
        return copy;
    hr = CopyRestriction(copy.get(), source, copy.get(), nullptr);
    if (FAILED(hr))
        return MapiPtr<SRestriction>();
    return copy;
}

// The folder name as the client passed it: wide with MAPI_UNICODE, else in
// the ANSI code page.
std::wstring NameArgument(LPTSTR name, ULONG flags)
{
    if (!name)
        return std::wstring();
    if (flags & MAPI_UNICODE)
        return std::wstring(reinterpret_cast<const wchar_t*>(name));
    const char* ansi = reinterpret_cast<const char*>(name);
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (units <= 1)
        return std::wstring();
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &text[0], units);
    text.resize(static_cast<size_t>(units - 1));
    return text;
}

} // namespace

HRESULT CSearchRoot::Create(DWORD storeCookie, const CEntryId& ownId, const CEntryId& storeId,
                            const CEntryId& parentId, const wchar_t* displayName, IMAPIFolder** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CSearchRoot* folder = nullptr;
    try {
        folder = new CSearchRoot(storeCookie, ownId, storeId, parentId, displayName);
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *out = folder;
    return S_OK;
}

HRESULT CSearchRoot::Open(DWORD storeCookie, const CEntryId& id, const CEntryId& storeId, const CEntryId& parentId,
                          const wchar_t* defaultName, LPUNKNOWN* object)
{
    if (!object)
        return E_INVALIDARG;
    *object = nullptr;
    std::wstring name = defaultName ? defaultName : L"";
    try {
        SSearchFolderEntry entry;
        if (ProviderGlobals().searchFolders.Find(id, entry))
            name = entry.name;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    IMAPIFolder* folder = nullptr;
    HRESULT hr = Create(storeCookie, id, storeId, parentId, name.c_str(), &folder);
    if (FAILED(hr))
        return hr;
    *object = folder;
    return S_OK;
}

CSearchRoot::CSearchRoot(DWORD storeCookie, const CEntryId& ownId, const CEntryId& storeId, const CEntryId& parentId,
                         const wchar_t* displayName)
    : CFolder(CServerCookie(), ownId, &parentId, storeId), m_storeCookie(storeCookie),
      m_displayName(displayName ? displayName : L"")
{
    CoCreateGuid(&m_folderGuid);
    m_extendedFlags = InitialExtendedFlags(m_folderGuid);
    const std::vector<ULONG> columns = SearchResultColumns();
    HRESULT hr = S_OK;
    m_columns = MapiAllocate<SPropTagArray>(CbNewSPropTagArray(columns.size()), hr);
    if (!m_columns)
        throw std::bad_alloc();
    m_columns->cValues = static_cast<ULONG>(columns.size());
    std::memcpy(m_columns->aulPropTag, columns.data(), columns.size() * sizeof(ULONG));
}

// A running search is neither stopped nor waited for: it runs on to its end
// on its own copies, with its own references to the result table and the
// events.
CSearchRoot::~CSearchRoot() = default;

std::vector<BYTE> CSearchRoot::ExtendedFlags() const
{
    CCriticalSectionLock lock(m_searchLock);
    return m_extendedFlags;
}

STDMETHODIMP CSearchRoot::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                   LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CSearchRoot::GetProps", [&]() -> HRESULT {
        const std::vector<BYTE> flags = ExtendedFlags();
        const SSearchRootView view{*this, flags};
        return ServeGetProps(view, kSearchRootProps, lpPropTagArray, lpcValues, lppPropArray, &NotFoundValues,
                             &NotFoundReturned);
    });
}

STDMETHODIMP CSearchRoot::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CSearchRoot::GetPropList",
                 [&]() -> HRESULT { return HandOutPropList(kSearchRootPropList, lppPropTagArray); });
}

STDMETHODIMP CSearchRoot::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return Guard("CSearchRoot::SetProps", [&]() -> HRESULT {
        if (lppProblems)
            *lppProblems = nullptr;
        if (!lpPropArray)
            return S_OK;
        for (ULONG i = 0; i < cValues; ++i) {
            const SPropValue& value = lpPropArray[i];
            if (value.ulPropTag != kPrExtendedFolderFlags)
                continue;
            const SBinary& bin = value.Value.bin;
            std::vector<BYTE> copy;
            if (bin.cb && bin.lpb)
                copy.assign(bin.lpb, bin.lpb + bin.cb);
            CCriticalSectionLock lock(m_searchLock);
            m_extendedFlags.swap(copy);
        }
        return S_OK;
    });
}

HRESULT CSearchRoot::NewResultTable()
{
    ComPtr<ITableData> table;
    HRESULT hr = CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, m_columns.get(), table);
    if (FAILED(hr))
        return hr;
    m_resultTable = table;
    return S_OK;
}

STDMETHODIMP CSearchRoot::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    m_lastError.SetText(nullptr);
    try {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        CCriticalSectionLock lock(m_searchLock);
        if (!(m_resultTable && m_restriction && m_containers)) {
            m_resultTable.Reset();
            HRESULT hr = NewResultTable();
            if (FAILED(hr))
                return hr;
            StartSearch();
        }
        return HandOutView(m_resultTable.Get(), 1, lppTable);
    } catch (const _com_error& error) {
        try {
            m_lastError.SetFromComError("CSearchRoot::GetContentsTable", error);
        } catch (...) {
        }
        return S_OK;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

STDMETHODIMP CSearchRoot::GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard("CSearchRoot::GetHierarchyTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        SizedSPropTagArray(23, columns);
        columns.cValues = 23;
        std::memcpy(columns.aulPropTag, kHierarchyColumns, sizeof(kHierarchyColumns));
        ComPtr<ITableData> data;
        if (FAILED(CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                                       data)))
            return MAPI_E_NO_SUPPORT;
        return HandOutView(data.Get(), 0, lppTable);
    });
}

STDMETHODIMP CSearchRoot::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                    ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    (void)lpInterface;
    return Guard("CSearchRoot::OpenEntry", [&]() -> HRESULT {
        if (!lpulObjType || !lppUnk)
            return E_INVALIDARG;
        *lppUnk = nullptr;
        if (ulFlags & MAPI_MODIFY)
            return E_ACCESSDENIED;
        // No identifier, or fewer bytes than one, names nothing here.
        if (!lpEntryID || cbEntryID < sizeof(CEntryId))
            return MAPI_E_NOT_FOUND;
        CEntryId id;
        std::memcpy(static_cast<void*>(&id), lpEntryID, sizeof(CEntryId));
        switch (id.kind) {
        case kEntryMessage: {
            ComPtr<IEseStore> store = FetchServer<IEseStore>(m_storeCookie);
            ComPtr<IEseFolder> folder;
            HRESULT hr = store->GetFolder(id.fid, id.idRoot, folder.GetAddressOf());
            if (FAILED(hr) || !folder)
                RaiseComError(FAILED(hr) ? hr : E_POINTER, store.Get(), IID_IEseStore);
            ComPtr<IEseMessage> message;
            hr = folder->GetMessage(id.mid, message.GetAddressOf());
            if (FAILED(hr) || !message)
                RaiseComError(FAILED(hr) ? hr : E_POINTER, folder.Get(), IID_IEseFolder);
            CServerCookie cookie = CServerCookie::Register(message.Get(), IID_IEseMessage);
            LPUNKNOWN object = nullptr;
            hr = OpenMessageObject(std::move(cookie), id, OwnId(), StoreId(), &object);
            if (FAILED(hr))
                return hr;
            *lpulObjType = MAPI_MESSAGE;
            *lppUnk = object;
            return S_OK;
        }
        case kEntrySearchRoot: {
            std::wstring name = kSearchRootName;
            SSearchFolderEntry entry;
            if (ProviderGlobals().searchFolders.Find(id, entry))
                name = entry.name;
            if (name.empty())
                return MAPI_E_NOT_FOUND;
            IMAPIFolder* folder = nullptr;
            HRESULT hr = Create(m_storeCookie, id, StoreId(), OwnId(), name.c_str(), &folder);
            if (FAILED(hr))
                return hr;
            *lpulObjType = MAPI_FOLDER;
            *lppUnk = folder;
            return S_OK;
        }
        default:
            return MAPI_E_NOT_FOUND;
        }
    });
}

void CSearchRoot::StopSearch(const std::shared_ptr<CSearchEvents>& events)
{
    if (!events)
        return;
    ResetEvent(events->Run());
    if (WaitForSingleObject(events->Done(), kStopWaitMs) == WAIT_TIMEOUT) {
        LogFormat(m_lastError.LogPath(), L"%s", L"SearchComplete time-out elapsed.");
        // What it still gathers would mix with the next search's results.
        events->Abandon();
    }
}

STDMETHODIMP CSearchRoot::SetSearchCriteria(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList,
                                            ULONG ulSearchFlags)
{
    return Guard("CSearchRoot::SetSearchCriteria", [&]() -> HRESULT {
        // Copies first: a copy that cannot be made changes nothing.
        HRESULT hr = S_OK;
        MapiPtr<ENTRYLIST> containers = CopyEntryList(lpContainerList, hr);
        if (FAILED(hr))
            return hr;
        MapiPtr<SRestriction> restriction = CopyOfRestriction(lpRestriction, hr);
        if (FAILED(hr))
            return hr;

        std::shared_ptr<CSearchEvents> running;
        {
            CCriticalSectionLock lock(m_searchLock);
            m_searchFlags = ulSearchFlags;
            if ((ulSearchFlags & (STOP_SEARCH | RESTART_SEARCH)) || m_resultTable)
                running = m_events;
        }
        // Not under the lock: the wait may be long.
        StopSearch(running);

        CCriticalSectionLock lock(m_searchLock);
        m_containers = std::move(containers);
        m_restriction = std::move(restriction);
        if (!m_restriction)
            return S_OK;
        if (m_resultTable && m_containers) {
            m_resultTable->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr);
            StartSearch();
        }
        return S_OK;
    });
}

STDMETHODIMP CSearchRoot::GetSearchCriteria(ULONG ulFlags, LPSRestriction* lppRestriction,
                                            LPENTRYLIST* lppContainerList, ULONG* lpulSearchState)
{
    (void)ulFlags;
    return Guard("CSearchRoot::GetSearchCriteria", [&]() -> HRESULT {
        CCriticalSectionLock lock(m_searchLock);
        HRESULT hr = S_OK;
        MapiPtr<SRestriction> restriction;
        MapiPtr<ENTRYLIST> containers;
        if (lppRestriction) {
            restriction = CopyOfRestriction(m_restriction.get(), hr);
            if (FAILED(hr))
                return hr;
        }
        if (lppContainerList) {
            containers = CopyEntryList(m_containers.get(), hr);
            if (FAILED(hr))
                return hr;
        }
        if (lppRestriction)
            *lppRestriction = restriction.release();
        if (lppContainerList)
            *lppContainerList = containers.release();
        if (lpulSearchState)
            *lpulSearchState = m_searchFlags;
        return S_OK;
    });
}

void CSearchRoot::StartSearch()
{
    if (!m_resultTable || !m_restriction || !m_containers)
        return;
    try {
        std::unique_ptr<SearchRequest> request(new SearchRequest());
        request->searchFolderId = OwnId();
        request->storeId = StoreId();
        request->storeCookie = m_storeCookie;
        HRESULT hr = S_OK;
        request->containers = CopyEntryList(m_containers.get(), hr);
        if (FAILED(hr))
            return;
        request->flags = m_searchFlags;
        request->result = m_resultTable;
        request->restriction = CopyOfRestriction(m_restriction.get(), hr);
        if (FAILED(hr))
            return;
        const ULONG bytes = CbNewSPropTagArray(m_columns->cValues);
        request->columns = MapiAllocate<SPropTagArray>(bytes, hr);
        if (!request->columns)
            return;
        std::memcpy(request->columns.get(), m_columns.get(), bytes);

        m_events = CSearchEvents::ForNextSearch(m_events);
        if (!m_events)
            return;
        request->events = m_events;
        StartSearchThread(std::move(request));
    } catch (const std::bad_alloc&) {
    }
}

STDMETHODIMP CSearchRoot::CreateMessage(LPCIID, ULONG, LPMESSAGE* lppMessage)
{
    m_lastError.SetText(nullptr);
    if (lppMessage)
        *lppMessage = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CSearchRoot::CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                                       LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder)
{
    (void)lpszFolderComment;
    return Guard("CSearchRoot::CreateFolder", [&]() -> HRESULT {
        if (!lppFolder)
            return E_INVALIDARG;
        *lppFolder = nullptr;
        CCriticalSectionLock lock(m_searchLock);
        if (ulFolderType != FOLDER_SEARCH)
            return MAPI_E_NO_SUPPORT;
        if (lpInterface && !IsEqualIID(*lpInterface, IID_IUnknown) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
            !IsEqualIID(*lpInterface, IID_IMAPIContainer) && !IsEqualIID(*lpInterface, IID_IMAPIFolder))
            return MAPI_E_NO_SUPPORT;
        const std::wstring name = NameArgument(lpszFolderName, ulFlags);
        CSearchFolderRegistry& registry = ProviderGlobals().searchFolders;
        CEntryId id = OwnId();
        id.serial = registry.NextSerial();
        SSearchFolderEntry entry;
        entry.name = name;
        entry.extendedFlags = m_extendedFlags;
        registry.Insert(id, entry);
        IMAPIFolder* folder = nullptr;
        HRESULT hr = Create(m_storeCookie, id, StoreId(), OwnId(), name.c_str(), &folder);
        if (FAILED(hr))
            return hr;
        *lppFolder = folder;
        return S_OK;
    });
}

STDMETHODIMP CSearchRoot::CopyFolder(ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CSearchRoot::DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return S_OK;
}
