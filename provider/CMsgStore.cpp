#include "ProviderPlatform.h"
#include "CMsgStore.h"
#include "CIpmSubtreeFolder.h"
#include "CStoreShared.h"
#include "ComErrorRaise.h"
#include "EntryOpening.h"
#include "ImageMount.h"
#include "MapiPtr.h"
#include "NamedPropRequests.h"
#include "PropAnswers.h"
#include "ProviderFiles.h"
#include "ProviderGlobals.h"
#include "ProviderObjectFactory.h"
#include "ResourceStrings.h"
#include "ServerInterfaces.h"

#include <cstring>
#include <new>
#include <string>

namespace {

constexpr ULONG kValidFolderMask = FOLDER_IPM_SUBTREE_VALID | FOLDER_FINDER_VALID;
constexpr ULONG kPrStoreFlag0E5C = 0x0E5C000B;
constexpr ULONG kPrStoreFlag6632 = 0x6632000B;
constexpr ULONG kPrFinderEntryId = 0x35E70102;

const ULONG kStorePropList[] = {PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER,        PR_ENTRYID,
                                PR_STORE_ENTRYID,      PR_RECORD_KEY,          PR_STORE_RECORD_KEY,
                                PR_MAPPING_SIGNATURE,  PR_DISPLAY_NAME_W,      PR_VALID_FOLDER_MASK,
                                PR_IPM_SUBTREE_ENTRYID, PR_ACCESS,             PR_ACCESS_LEVEL,
                                PR_OBJECT_TYPE};

// What the store's property table reads.
struct SStoreView {
    const CStoreShared& shared;
    const std::wstring& displayName;
};

HRESULT FillServiceUid(const SStoreView& s, SPropValue& v, LPVOID p)
{
    return FillBinary(v, p, &s.shared.ServiceUid(), sizeof(MAPIUID));
}

HRESULT FillStoreId(const SStoreView& s, SPropValue& v, LPVOID p)
{
    return FillWrappedStoreId(s.shared.StoreId(), v, p);
}

const SPropHandler<SStoreView> kStoreProps[] = {
    {PR_OBJECT_TYPE, &FixedLong<SStoreView, MAPI_STORE>},
    {PR_ACCESS, &FixedLong<SStoreView, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<SStoreView, 0>},
    {PR_STORE_SUPPORT_MASK, &FixedLong<SStoreView, kStoreSupportMask>},
    {PR_VALID_FOLDER_MASK, &FixedLong<SStoreView, kValidFolderMask>},
    {PR_RESOURCE_FLAGS, &FixedLong<SStoreView, 0>},
    {PR_NULL, &FixedLong<SStoreView, 0>},
    {kPrStoreFlag0E5C, &FixedBool<SStoreView, true>},
    {kPrStoreFlag6632, &FixedBool<SStoreView, true>},
    {PR_DISPLAY_NAME_W,
     [](const SStoreView& s, SPropValue& v, LPVOID p) {
         const std::wstring name = s.displayName + L" (" + s.shared.DatabasePath() + L")";
         return FillString(v, p, name.c_str());
     }},
    {PR_MDB_PROVIDER, &ProviderUidValue<SStoreView>},
    {PR_ENTRYID, &FillStoreId},
    {PR_STORE_ENTRYID, &FillStoreId},
    {PR_MAPPING_SIGNATURE, &FillServiceUid},
    {PR_RECORD_KEY, &FillServiceUid},
    {PR_STORE_RECORD_KEY, &FillServiceUid},
    {PR_IPM_SUBTREE_ENTRYID,
     [](const SStoreView& s, SPropValue& v, LPVOID p) { return FillEntryId(s.shared.IpmSubtreeId(), v, p); }},
    {kPrFinderEntryId,
     [](const SStoreView& s, SPropValue& v, LPVOID p) { return FillEntryId(s.shared.SearchRootId(), v, p); }},
};

bool DrivePresent(const std::wstring& root)
{
    return !root.empty() && GetDriveTypeW(root.c_str()) != DRIVE_NO_ROOT_DIR;
}

void Dismount(const std::wstring& root)
{
    uint32_t index = 0;
    DismountImage(GetActiveWindow(), root.c_str(), &index);
}

// Lets a server interface go from the module's table: fetched, revoked,
// released. Nothing is left to free when any of that fails.
template <typename I>
void LetServerGo(DWORD cookie)
{
    if (!cookie)
        return;
    try {
        ComPtr<I> object = FetchServer<I>(cookie);
        RevokeServerInterface(cookie);
    } catch (...) {
        RevokeServerInterface(cookie);
    }
}

} // namespace

HRESULT CMsgStore::Create(const std::wstring& databasePath, const MAPIUID& serviceUid, ULONG version,
                          DWORD instanceCookie, DWORD storeCookie, CMsgStore** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CMsgStore* store = nullptr;
    try {
        store = new CMsgStore(databasePath, serviceUid, version, instanceCookie, storeCookie);
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    if (!store->StartWatcher()) {
        const HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
        // The cookies stay with the caller, who revokes them: the store
        // never took them over, so its teardown must not run.
        InterlockedExchange(&store->m_loggedOff, 1);
        store->Release();
        return FAILED(hr) ? hr : E_FAIL;
    }
    *out = store;
    return S_OK;
}

CMsgStore::CMsgStore(const std::wstring& databasePath, const MAPIUID& serviceUid, ULONG version,
                     DWORD instanceCookie, DWORD storeCookie)
    : m_shared(std::make_shared<CStoreShared>(databasePath, serviceUid, version, instanceCookie, storeCookie)),
      m_displayName(LoadResString(kIdsComponentName)),
      m_creationTick(GetTickCount())
{
    CoCreateGuid(&m_instanceGuid);
}

CMsgStore::~CMsgStore()
{
    Teardown(true);
    StopWatcher();
    m_shared->SetSupport(nullptr);
}

const std::wstring& CMsgStore::DatabasePath() const { return m_shared->DatabasePath(); }
const MAPIUID& CMsgStore::ServiceUid() const { return m_shared->ServiceUid(); }
ULONG CMsgStore::Version() const { return m_shared->Version(); }

void CMsgStore::SetSupport(IMAPISupport* support)
{
    m_shared->SetSupport(support);
}

std::wstring CMsgStore::MailboxChangedEventName(const MAPIUID& serviceUid)
{
    GUID guid;
    std::memcpy(&guid, serviceUid.ab, sizeof(guid));
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return std::wstring(text) + L"MailboxChanged";
}

void CMsgStore::SignalMailboxChanged(const MAPIUID& serviceUid)
{
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, MailboxChangedEventName(serviceUid).c_str());
    if (!event)
        return;
    SetEvent(event);
    CloseHandle(event);
}

bool CMsgStore::StartWatcher()
{
    m_changedEvent = CreateEventW(nullptr, FALSE, FALSE, MailboxChangedEventName(ServiceUid()).c_str());
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_changedEvent || !m_stopEvent)
        return false;
    m_watcher = CreateThread(nullptr, 0, &CMsgStore::WatcherThread, this, 0, nullptr);
    return m_watcher != nullptr;
}

void CMsgStore::StopWatcher()
{
    // The changed event is shared by name with other processes, so the
    // watcher is stopped by an event of its own, then waited for: it may be
    // rebuilding a folder of this store.
    if (m_watcher) {
        SetEvent(m_stopEvent);
        WaitForSingleObject(m_watcher, INFINITE);
        CloseHandle(m_watcher);
        m_watcher = nullptr;
    }
    if (m_changedEvent)
        CloseHandle(m_changedEvent);
    if (m_stopEvent)
        CloseHandle(m_stopEvent);
    m_changedEvent = m_stopEvent = nullptr;
}

DWORD WINAPI CMsgStore::WatcherThread(LPVOID parameter)
{
    auto* store = static_cast<CMsgStore*>(parameter);
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE events[] = {store->m_stopEvent, store->m_changedEvent};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        store->RebuildIpmSubtrees();
    if (SUCCEEDED(init))
        CoUninitialize();
    return 0;
}

void CMsgStore::RebuildIpmSubtrees()
{
    CProviderGlobals& globals = ProviderGlobals();
    CCriticalSectionLock lock(globals.folderListLock);
    const CEntryId& ipm = m_shared->IpmSubtreeId();
    try {
        for (CIpmSubtreeFolder* folder : globals.ipmSubtreeFolders)
            if (folder->OwnId() == ipm)
                folder->FillHierarchyTable();
    } catch (...) {
        // A failing rebuild ends this walk; the next signal tries again.
    }
}

HRESULT CMsgStore::InitNamedProps(bool createEmpty)
{
    if (createEmpty)
        return m_shared->NamedProps().CreateEmpty();
    return m_shared->NamedProps().LoadFromStore(m_shared->StoreCookie());
}

HRESULT CMsgStore::PublishStatusRow()
{
    ComPtr<IMAPISupport> support = m_shared->Support();
    if (!support)
        return E_UNEXPECTED;
    MAPIUID uid = ServiceUid();
    HRESULT hr = support->SetProviderUID(&uid, 0);
    if (FAILED(hr))
        return hr;
    const std::string component = [&] {
        int cb = WideCharToMultiByte(CP_ACP, 0, m_displayName.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string text(cb > 0 ? cb : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, m_displayName.c_str(), -1, &text[0], cb, nullptr, nullptr);
        text.resize(text.size() - 1);
        return text;
    }();
    std::string path;
    {
        int cb = WideCharToMultiByte(CP_ACP, 0, DatabasePath().c_str(), -1, nullptr, 0, nullptr, nullptr);
        path.assign(cb > 0 ? cb : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, DatabasePath().c_str(), -1, &path[0], cb, nullptr, nullptr);
        path.resize(path.size() - 1);
    }
    std::string displayName = component + " (" + path + ")";
    std::string provider = component;
    char available[] = "Available";
    SPropValue values[5] = {};
    values[0].ulPropTag = PR_DISPLAY_NAME_A;
    values[0].Value.lpszA = &displayName[0];
    values[1].ulPropTag = PR_PROVIDER_DISPLAY_A;
    values[1].Value.lpszA = &provider[0];
    values[2].ulPropTag = PR_RESOURCE_METHODS;
    values[2].Value.l = 0;
    values[3].ulPropTag = PR_STATUS_CODE;
    values[3].Value.l = STATUS_AVAILABLE;
    values[4].ulPropTag = PR_STATUS_STRING_A;
    values[4].Value.lpszA = available;
    return support->ModifyStatusRow(5, values, 0);
}

HRESULT CMsgStore::NotifySearchComplete(const CEntryId& searchFolderId)
{
    ComPtr<IMAPISupport> support = m_shared->Support();
    if (!support)
        return E_UNEXPECTED;
    CEntryId folder = searchFolderId;
    CEntryId store = m_shared->StoreId();
    NOTIFICATION notification = {};
    notification.ulEventType = fnevSearchComplete;
    notification.info.obj.cbEntryID = sizeof(CEntryId);
    notification.info.obj.lpEntryID = folder.AsEntryId();
    notification.info.obj.ulObjType = MAPI_FOLDER;
    notification.info.obj.cbParentID = sizeof(CEntryId);
    notification.info.obj.lpParentID = store.AsEntryId();
    BYTE keyBytes[sizeof(NOTIFKEY) + sizeof(CEntryId)] = {};
    auto* key = reinterpret_cast<LPNOTIFKEY>(keyBytes);
    key->cb = sizeof(CEntryId);
    std::memcpy(key->ab, &folder, sizeof(CEntryId));
    ULONG flags = 0;
    return support->Notify(key, 1, &notification, &flags);
}

bool CMsgStore::LeaveRegistry(StoreEntry& entry)
{
    CProviderGlobals& globals = ProviderGlobals();
    CCriticalSectionLock lock(globals.providerLock);
    if (!globals.storeRegistry.FindByPath(DatabasePath(), entry) || entry.store != this)
        return false;
    globals.storeRegistry.Erase(DatabasePath());
    return true;
}

void CMsgStore::Teardown(bool dismount)
{
    if (InterlockedExchange(&m_loggedOff, 1) != 0)
        return;
    StoreEntry entry;
    const bool registered = LeaveRegistry(entry);
    TearDownAfterLeaving(dismount, registered ? &entry : nullptr);
}

void CMsgStore::TearDownAfterLeaving(bool dismount, const StoreEntry* entry)
{
    if (ComPtr<IMAPISupport> support = m_shared->Support()) {
        ULONG flags = LOGOFF_ABORT;
        support->StoreLogoffTransports(&flags);
    }
    LetServerGo<IEseStore>(m_shared->StoreCookie());
    LetServerGo<IEseInstance>(m_shared->InstanceCookie());
    if (!entry)
        return;
    if (dismount) {
        if (DrivePresent(entry->databaseDriveRoot))
            Dismount(entry->databaseDriveRoot);
        if (!entry->logDriveRoot.empty() &&
            lstrcmpiW(entry->logDriveRoot.c_str(), entry->databaseDriveRoot.c_str()) != 0 &&
            DrivePresent(entry->logDriveRoot))
            Dismount(entry->logDriveRoot);
    }
    if (!entry->tempFolder.empty())
        DeleteDirectoryTree(entry->tempFolder.c_str());
}

STDMETHODIMP_(ULONG) CMsgStore::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CMsgStore::Release()
{
    // Only the last release takes the provider lock. A logon that finds the
    // store in the registry adds its reference under that lock, so the
    // count reaches zero only while no logon can find the store.
    for (LONG count = m_refs; count > 1; count = m_refs)
        if (InterlockedCompareExchange(&m_refs, count - 1, count) == count)
            return static_cast<ULONG>(count - 1);

    // The teardown holds the provider lock and owns the registry entry.
    CGuardedCallBarrier barrier;
    CProviderGlobals& globals = ProviderGlobals();
    StoreEntry entry;
    bool tearDown = false;
    bool registered = false;
    {
        CCriticalSectionLock lock(globals.providerLock);
        const LONG count = InterlockedDecrement(&m_refs);
        if (count != 0)
            return static_cast<ULONG>(count);
        tearDown = InterlockedExchange(&m_loggedOff, 1) == 0;
        if (tearDown)
            registered = LeaveRegistry(entry);
        // A logon of the same database waits until the drives and the
        // working folder of this one are gone.
        if (registered)
            globals.storeRegistry.MarkBusy(DatabasePath());
    }
    // The teardown calls MAPI's support object and the server, and a
    // dismount may show a message box: no lock is held meanwhile.
    if (tearDown)
        TearDownAfterLeaving(true, registered ? &entry : nullptr);
    if (registered) {
        CCriticalSectionLock lock(globals.providerLock);
        globals.storeRegistry.ClearBusy(DatabasePath());
    }
    CMapiObject::Release();
    return 0;
}

STDMETHODIMP CMsgStore::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                 LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CMsgStore::GetProps", [&]() -> HRESULT {
        const SStoreView view{*m_shared, m_displayName};
        return ServeGetProps(view, kStoreProps, lpPropTagArray, lpcValues, lppPropArray, &NotFoundValues);
    });
}

STDMETHODIMP CMsgStore::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CMsgStore::GetPropList",
                 [&]() -> HRESULT { return HandOutPropList(kStorePropList, lppPropTagArray); });
}

STDMETHODIMP CMsgStore::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    m_lastError.SetText(nullptr);
    if (lppUnk)
        *lppUnk = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                               LPSPropProblemArray*)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray*)
{
    m_lastError.SetText(nullptr);
    return E_NOTIMPL;
}

STDMETHODIMP CMsgStore::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                        ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return Guard("CMsgStore::GetNamesFromIDs", [&]() -> HRESULT {
        SNamedPropSource source;
        source.map = &m_shared->NamedProps();
        return GetNamesFromIDsFor(source, lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CMsgStore::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                        LPSPropTagArray* lppPropTags)
{
    return Guard("CMsgStore::GetIDsFromNames", [&]() -> HRESULT {
        SNamedPropSource source;
        source.map = &m_shared->NamedProps();
        source.allNames = SNamedPropSource::EAllNames::Empty;
        return GetIDsFromNamesFor(source, cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}

STDMETHODIMP CMsgStore::Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                               ULONG* lpulConnection)
{
    return GuardKeep("CMsgStore::Advise", [&]() -> HRESULT {
        if (!(ulEventMask & fnevSearchComplete)) {
            if (lpulConnection)
                *lpulConnection = 0;
            return S_OK;
        }
        // The key is the searched folder's whole identifier: anything shorter
        // names no folder of this store.
        if (!lpEntryID || cbEntryID < sizeof(CEntryId))
            return MAPI_E_INVALID_ENTRYID;
        ComPtr<IMAPISupport> support = m_shared->Support();
        if (!support)
            return E_UNEXPECTED;
        BYTE keyBytes[sizeof(NOTIFKEY) + sizeof(CEntryId)] = {};
        auto* key = reinterpret_cast<LPNOTIFKEY>(keyBytes);
        key->cb = sizeof(CEntryId);
        std::memcpy(key->ab, lpEntryID, sizeof(CEntryId));
        return support->Subscribe(key, ulEventMask, NOTIFY_SYNC, lpAdviseSink, lpulConnection);
    });
}

STDMETHODIMP CMsgStore::Unadvise(ULONG ulConnection)
{
    if (ComPtr<IMAPISupport> support = m_shared->Support())
        support->Unsubscribe(ulConnection);
    return S_OK;
}

STDMETHODIMP CMsgStore::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                        LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult)
{
    (void)ulFlags;
    m_lastError.SetText(nullptr);
    if (!lpulResult)
        return E_INVALIDARG;
    *lpulResult = CEntryId::SameBytes(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2) ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CMsgStore::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                  ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    (void)lpInterface;
    return Guard("CMsgStore::OpenEntry", [&]() -> HRESULT {
        if (!lpulObjType || !lppUnk)
            return E_INVALIDARG;
        *lppUnk = nullptr;
        if ((ulFlags & MAPI_MODIFY) && !(ulFlags & MAPI_BEST_ACCESS))
            return E_ACCESSDENIED;
        CEntryId id;
        HRESULT hr = CEntryId::Decode(cbEntryID, lpEntryID, id);
        if (FAILED(hr))
            return hr;
        return OpenEntryOf(id, lpulObjType, lppUnk);
    });
}

HRESULT CMsgStore::OpenEntryOf(const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    const CStoreShared& s = *m_shared;
    switch (id.kind) {
    case kEntryRootFolder:
    case kEntryIpmSubtree:
        return OpenTopFolderEntry(s, id, lpulObjType, lppUnk);
    case kEntryMailboxTop:
    case kEntryFolder:
    case kEntryMessage:
        return OpenStoreEntry(s.StoreCookie(), id, s.IpmSubtreeId(), s.IpmSubtreeId(), s.StoreId(), lpulObjType,
                              lppUnk);
    case kEntrySearchRoot: {
        HRESULT hr = OpenSearchRootObject(s.StoreCookie(), id, s.StoreId(), s.RootId(), L"Search Folders", lppUnk);
        if (SUCCEEDED(hr))
            *lpulObjType = MAPI_FOLDER;
        return hr;
    }
    default:
        return MAPI_E_INVALID_ENTRYID;
    }
}

STDMETHODIMP CMsgStore::SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::GetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID,
                                         LPENTRYID* lppEntryID, LPTSTR* lppszExplicitClass)
{
    (void)lpszMessageClass;
    (void)ulFlags;
    return Guard("CMsgStore::GetReceiveFolder", [&]() -> HRESULT {
        if (!lpcbEntryID || !lppEntryID)
            return E_INVALIDARG;
        // No class is set explicitly; a caller that asks is told so rather
        // than left with whatever its pointer held.
        if (lppszExplicitClass)
            *lppszExplicitClass = nullptr;
        HRESULT hr = S_OK;
        MapiPtr<CEntryId> copy = MapiAllocate<CEntryId>(sizeof(CEntryId), hr);
        if (!copy)
            return hr;
        std::memcpy(static_cast<void*>(copy.get()), &m_shared->RootId(), sizeof(CEntryId));
        *lpcbEntryID = sizeof(CEntryId);
        *lppEntryID = copy.release()->AsEntryId();
        return S_OK;
    });
}

STDMETHODIMP CMsgStore::GetReceiveFolderTable(ULONG, LPMAPITABLE* lppTable)
{
    m_lastError.SetText(nullptr);
    if (lppTable)
        *lppTable = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::StoreLogoff(ULONG* lpulFlags)
{
    m_lastError.SetText(nullptr);
    if (!lpulFlags)
        return E_INVALIDARG;
    *lpulFlags = 0;
    return S_OK;
}

STDMETHODIMP CMsgStore::AbortSubmit(ULONG, LPENTRYID, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::GetOutgoingQueue(ULONG, LPMAPITABLE* lppTable)
{
    m_lastError.SetText(nullptr);
    if (lppTable)
        *lppTable = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::SetLockState(LPMESSAGE, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::FinishedMsg(ULONG, ULONG, LPENTRYID)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::NotifyNewMail(LPNOTIFICATION)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgStore::Logoff(ULONG*)
{
    m_lastError.SetText(nullptr);
    return S_OK;
}

STDMETHODIMP CMsgStore::OpenStatusEntry(LPCIID, ULONG, ULONG*, LPVOID* lppEntry)
{
    m_lastError.SetText(nullptr);
    if (lppEntry)
        *lppEntry = nullptr;
    return E_NOTIMPL;
}
