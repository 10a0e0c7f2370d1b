#include "MapiSubsystem.h"
#include "CMapiSession.h"
#include "CMapiSupport.h"
#include "CMsgServiceAdmin.h"
#include "CNotifyHub.h"
#include "CProfSect.h"
#include "CProfileStore.h"
#include "CServiceInf.h"
#include "StoreEntryIdWrap.h"
#include "SubsystemTables.h"

#include <algorithm>
#include <cstring>
#include <map>

void ForgetSharedSession(CMapiSession* session);

namespace {

const SPropValue* Present(const CPropBag& bag, ULONG tag)
{
    const SPropValue* value = bag.Find(PROP_ID(tag));
    if (!value || PROP_TYPE(value->ulPropTag) != PROP_TYPE(tag))
        return nullptr;
    return value;
}

bool SameBytes(const SPropValue* value, ULONG cb, const void* bytes)
{
    return value && value->Value.bin.cb == cb && std::memcmp(value->Value.bin.lpb, bytes, cb) == 0;
}

std::wstring Upper(std::wstring text)
{
    CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::vector<BYTE> StatusKey(const MAPIUID& section)
{
    return std::vector<BYTE>(section.ab, section.ab + sizeof(section.ab));
}

// The memory routines a store provider gets from MSProviderInit. MAPI is
// free to hand providers routines other than its exports (a provider must
// use the ones it is given); a test asks for that by naming, in the
// environment variable MAPISTUB_PROVIDER_MEMORY, a module of the process
// that exports "MapiStubAllocateBuffer", "MapiStubAllocateMore" and
// "MapiStubFreeBuffer" (undecorated). Blocks of those routines must be
// MAPI blocks, since clients free what providers hand them with
// MAPIFreeBuffer.
mapistub::Allocators ProviderMemoryRoutines()
{
    mapistub::Allocators memory = mapistub::DefaultAllocators();
    wchar_t name[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"MAPISTUB_PROVIDER_MEMORY", name, MAX_PATH) || !name[0])
        return memory;
    HMODULE module = GetModuleHandleW(name);
    if (!module)
        return memory;
    auto allocateBuffer = reinterpret_cast<LPALLOCATEBUFFER>(
        reinterpret_cast<void*>(GetProcAddress(module, "MapiStubAllocateBuffer")));
    auto allocateMore =
        reinterpret_cast<LPALLOCATEMORE>(reinterpret_cast<void*>(GetProcAddress(module, "MapiStubAllocateMore")));
    auto freeBuffer =
        reinterpret_cast<LPFREEBUFFER>(reinterpret_cast<void*>(GetProcAddress(module, "MapiStubFreeBuffer")));
    if (allocateBuffer && allocateMore && freeBuffer) {
        memory.allocateBuffer = allocateBuffer;
        memory.allocateMore = allocateMore;
        memory.freeBuffer = freeBuffer;
    }
    return memory;
}

} // namespace

HRESULT CMapiSession::Create(const std::wstring& profile, ULONG flags, IMAPISession** out)
{
    return CreateInstance(IID_IMAPISession, reinterpret_cast<void**>(out), profile, flags);
}

CMapiSession::CMapiSession(const std::wstring& profile, ULONG flags)
    : m_profile(profile), m_shared((flags & MAPI_ALLOW_OTHERS) != 0), m_hub(std::make_shared<CNotifyHub>())
{
    InitializeCriticalSection(&m_lock);
    SizedSPropTagArray(8, columns) = {8,
                                      {PR_INSTANCE_KEY, PR_DISPLAY_NAME_A, PR_PROVIDER_DISPLAY_A, PR_RESOURCE_METHODS,
                                       PR_STATUS_CODE, PR_STATUS_STRING_A, PR_RESOURCE_TYPE, PR_OBJECT_TYPE}};
    CreateTable(&IID_IMAPITableData, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, nullptr,
                TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                m_status.GetAddressOf());
}

CMapiSession::~CMapiSession()
{
    LogoffAll();
    ForgetSharedSession(this);
    DeleteCriticalSection(&m_lock);
}

std::vector<MAPIUID> CMapiSession::StoreSections() const
{
    std::vector<MAPIUID> sections;
    for (const MAPIUID& service : CProfileStore::Services(m_profile))
        for (const MAPIUID& uid : CMsgServiceAdmin::ProviderSections(m_profile, service)) {
            CPropBag bag;
            if (FAILED(CProfileStore::LoadSection(m_profile, uid, bag)))
                continue;
            const SPropValue* type = Present(bag, PR_RESOURCE_TYPE);
            if (type && type->Value.l == MAPI_STORE_PROVIDER)
                sections.push_back(uid);
        }
    return sections;
}

HRESULT CMapiSession::FindStoreSection(ULONG cbEntryID, const ENTRYID* entryId, MAPIUID& section) const
{
    LPSTR dllName = nullptr;
    ULONG cbOrig = 0;
    LPENTRYID orig = nullptr;
    if (FAILED(mapistub::UnwrapStoreEntryID(cbEntryID, const_cast<LPENTRYID>(entryId), &dllName, &cbOrig, &orig)))
        return MAPI_E_INVALID_ENTRYID;
    std::vector<MAPIUID> sections = StoreSections();
    std::vector<CPropBag> bags(sections.size());
    for (size_t i = 0; i < sections.size(); ++i)
        CProfileStore::LoadSection(m_profile, sections[i], bags[i]);
    // The store's own identifier first, then the provider's bytes inside any
    // wrapping, then the first store of the same provider DLL.
    for (size_t i = 0; i < sections.size(); ++i)
        if (SameBytes(Present(bags[i], PR_ENTRYID), cbEntryID, entryId) ||
            SameBytes(Present(bags[i], PR_STORE_ENTRYID), cbEntryID, entryId)) {
            section = sections[i];
            return S_OK;
        }
    for (size_t i = 0; i < sections.size(); ++i) {
        const SPropValue* own = Present(bags[i], PR_ENTRYID);
        LPSTR ownDll = nullptr;
        ULONG cbOwn = 0;
        LPENTRYID ownOrig = nullptr;
        if (own && SUCCEEDED(mapistub::UnwrapStoreEntryID(own->Value.bin.cb, reinterpret_cast<LPENTRYID>(own->Value.bin.lpb),
                                                &ownDll, &cbOwn, &ownOrig)) &&
            cbOwn == cbOrig && std::memcmp(ownOrig, orig, cbOrig) == 0) {
            section = sections[i];
            return S_OK;
        }
    }
    std::wstring wanted = mapistub::TextArg(dllName, 0);
    for (size_t i = 0; i < sections.size(); ++i) {
        const SPropValue* dll = Present(bags[i], PR_PROVIDER_DLL_NAME_W);
        if (dll && lstrcmpiW(dll->Value.lpszW, wanted.c_str()) == 0) {
            section = sections[i];
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT CMapiSession::LoadProvider(const std::wstring& dll, IMSProvider** provider)
{
    std::wstring name = Upper(CServiceInf::LoadName(dll));
    for (const LoadedProvider& loaded : m_providers)
        if (loaded.dll == name) {
            *provider = loaded.provider.Get();
            (*provider)->AddRef();
            return S_OK;
        }
    // A provider that cannot be used fails this one store, not the session.
    HMODULE module = LoadLibraryW(name.c_str());
    if (!module)
        return MAPI_E_FAILONEPROVIDER;
    auto* init = reinterpret_cast<MSPROVIDERINIT*>(reinterpret_cast<void*>(mapistub::EntryPointOf(module, "MSProviderInit")));
    if (!init)
        return MAPI_E_FAILONEPROVIDER;
    ULONG version = 0;
    ComPtr<IMSProvider> created;
    mapistub::Allocators memory = ProviderMemoryRoutines();
    HRESULT hr = init(module, MAPIGetDefaultMalloc(), memory.allocateBuffer, memory.allocateMore, memory.freeBuffer, 0,
                      CURRENT_SPI_VERSION, &version, created.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (!created)
        return MAPI_E_FAILONEPROVIDER;
    if (version < CURRENT_SPI_VERSION) {
        ULONG flags = 0;
        created->Shutdown(&flags);
        return MAPI_E_VERSION;
    }
    m_providers.push_back(LoadedProvider{name, module, created});
    *provider = created.Detach();
    return S_OK;
}

const CMapiSession::StoreLogon* CMapiSession::LogonFor(ULONG cbEntryID, const ENTRYID* entryId) const
{
    if (!entryId || cbEntryID < 4 + sizeof(MAPIUID))
        return nullptr;
    const auto* uid = reinterpret_cast<const MAPIUID*>(reinterpret_cast<const BYTE*>(entryId) + 4);
    for (const StoreLogon& logon : m_logons)
        for (const MAPIUID& own : logon.uids)
            if (mapistub::SameUid(own, *uid))
                return &logon;
    return nullptr;
}

HRESULT CMapiSession::ModifyStatusRow(const MAPIUID& section, ULONG cValues, const SPropValue* values, ULONG flags)
{
    if (!m_status)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::vector<BYTE> key = StatusKey(section);
    SPropValue index = mapistub::BinaryValue(PR_INSTANCE_KEY, key.data(), static_cast<ULONG>(key.size()));
    CPropBag bag;
    if (flags & STATUSROW_UPDATE) {
        LPSRow existing = nullptr;
        if (SUCCEEDED(m_status->HrQueryRow(&index, &existing, nullptr)) && existing) {
            for (ULONG i = 0; i < existing->cValues; ++i)
                bag.Set(existing->lpProps[i]);
            MAPIFreeBuffer(existing);
        }
    }
    for (ULONG i = 0; i < cValues; ++i)
        bag.Set(values[i]);
    bag.Set(index);
    bag.Set(mapistub::LongValue(PR_OBJECT_TYPE, MAPI_STATUS));
    bag.Set(mapistub::LongValue(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER));
    std::vector<SPropValue> row;
    for (ULONG id : bag.Tags())
        row.push_back(*bag.Find(PROP_ID(id)));
    SRow srow{0, static_cast<ULONG>(row.size()), row.data()};
    return m_status->HrModifyRow(&srow);
}

void CMapiSession::LogoffAll()
{
    EnterCriticalSection(&m_lock);
    std::vector<StoreLogon> logons;
    logons.swap(m_logons);
    std::vector<LoadedProvider> providers;
    providers.swap(m_providers);
    m_loggedOff = true;
    LeaveCriticalSection(&m_lock);
    for (StoreLogon& logon : logons) {
        if (logon.logon) {
            ULONG flags = LOGOFF_ABORT;
            logon.logon->Logoff(&flags);
        }
        logon.support->DetachSession();
    }
    logons.clear();
    m_hub->Flush();
    for (LoadedProvider& loaded : providers) {
        ULONG flags = 0;
        loaded.provider->Shutdown(&flags);
    }
}

STDMETHODIMP CMapiSession::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CMapiSession::GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppTable)
            return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        if (m_loggedOff)
            return MAPI_E_END_OF_SESSION;
        std::vector<CPropBag> rows;
        for (const MAPIUID& uid : StoreSections()) {
            CPropBag section;
            HRESULT hr = CProfileStore::LoadSection(m_profile, uid, section);
            if (FAILED(hr))
                return hr;
            CPropBag row = section;
            if (!Present(section, PR_ENTRYID))
                if (const SPropValue* stored = Present(section, PR_STORE_ENTRYID)) {
                    SPropValue copy = *stored;
                    copy.ulPropTag = PR_ENTRYID;
                    row.Set(copy);
                }
            if (!Present(section, PR_RECORD_KEY))
                row.Set(mapistub::BinaryValue(PR_RECORD_KEY, uid.ab, sizeof(uid.ab)));
            row.Set(mapistub::BinaryValue(PR_INSTANCE_KEY, uid.ab, sizeof(uid.ab)));
            row.Set(mapistub::LongValue(PR_OBJECT_TYPE, MAPI_STORE));
            const SPropValue* flags = Present(section, PR_RESOURCE_FLAGS);
            SPropValue isDefault{};
            isDefault.ulPropTag = PR_DEFAULT_STORE;
            isDefault.Value.b = flags && (flags->Value.l & STATUS_DEFAULT_STORE) != 0;
            row.Set(isDefault);
            rows.push_back(row);
        }
        std::vector<ULONG> columns = {PR_ENTRYID,        PR_DISPLAY_NAME_W,     PR_MDB_PROVIDER,
                                      PR_SERVICE_UID,    PR_PROVIDER_UID,       PR_RESOURCE_FLAGS,
                                      PR_RECORD_KEY,     PR_INSTANCE_KEY,       PR_OBJECT_TYPE,
                                      PR_DEFAULT_STORE,  PR_PROVIDER_DISPLAY_W, PR_SERVICE_NAME_W,
                                      PR_RESOURCE_TYPE};
        return mapistub::MakeBagTable(columns, PR_INSTANCE_KEY, rows, ulFlags, lppTable);
    });
}

STDMETHODIMP CMapiSession::OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                        ULONG ulFlags, LPMDB* lppMDB)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppMDB || !lpEntryID || !cbEntryID)
            return MAPI_E_INVALID_PARAMETER;
        *lppMDB = nullptr;
        if (m_loggedOff)
            return MAPI_E_END_OF_SESSION;
        const IID& iid = lpInterface ? *lpInterface : IID_IMsgStore;
        EnterCriticalSection(&m_lock);
        struct Unlock {
            CRITICAL_SECTION* lock;
            ~Unlock() { LeaveCriticalSection(lock); }
        } unlock{&m_lock};

        MAPIUID section;
        HRESULT hr = FindStoreSection(cbEntryID, lpEntryID, section);
        if (FAILED(hr))
            return hr;
        for (const StoreLogon& logon : m_logons)
            if (mapistub::SameUid(logon.section, section))
                return logon.store->QueryInterface(iid, reinterpret_cast<void**>(lppMDB));
        for (const auto& failed : m_failed)
            if (mapistub::SameUid(failed.first, section))
                return failed.second;

        CPropBag bag;
        hr = CProfileStore::LoadSection(m_profile, section, bag);
        if (FAILED(hr))
            return hr;
        const SPropValue* dll = Present(bag, PR_PROVIDER_DLL_NAME_W);
        if (!dll)
            return MAPI_E_UNCONFIGURED;
        ComPtr<IMSProvider> provider;
        hr = LoadProvider(dll->Value.lpszW, provider.GetAddressOf());
        if (FAILED(hr))
            return hr;

        LPSTR dllName = nullptr;
        ULONG cbOrig = 0;
        LPENTRYID orig = nullptr;
        hr = mapistub::UnwrapStoreEntryID(cbEntryID, lpEntryID, &dllName, &cbOrig, &orig);
        if (FAILED(hr))
            return hr;
        CMapiSupport* rawSupport = nullptr;
        hr = CMapiSupport::Create(m_profile, section, this, m_hub, &rawSupport);
        if (FAILED(hr))
            return hr;
        StoreLogon logon;
        logon.section = section;
        *logon.support.GetAddressOf() = rawSupport;

        std::string ansiProfile = mapistub::AnsiText(m_profile);
        LPTSTR profileName = (ulFlags & MAPI_UNICODE) ? reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(m_profile.c_str()))
                                                      : reinterpret_cast<LPTSTR>(&ansiProfile[0]);
        ULONG cbSpool = 0;
        LPBYTE spool = nullptr;
        LPMAPIERROR error = nullptr;
        hr = provider->Logon(logon.support.Get(), static_cast<ULONG>(ulUIParam), profileName, cbOrig, orig, ulFlags,
                             &iid, &cbSpool, &spool, &error, logon.logon.GetAddressOf(),
                             logon.store.GetAddressOf());
        if (spool)
            MAPIFreeBuffer(spool);
        if (error)
            MAPIFreeBuffer(error);
        if (FAILED(hr) || !logon.store) {
            logon.support->DetachSession();
            hr = FAILED(hr) ? hr : MAPI_E_LOGON_FAILED;
            if (hr != MAPI_E_FAILONEPROVIDER && hr != MAPI_E_USER_CANCEL)
                m_failed.emplace_back(section, hr);
            return hr;
        }
        logon.uids = logon.support->ProviderUids();
        hr = logon.store->QueryInterface(iid, reinterpret_cast<void**>(lppMDB));
        if (FAILED(hr))
            return hr;
        m_logons.push_back(logon);
        return S_OK;
    });
}

STDMETHODIMP CMapiSession::OpenAddressBook(ULONG_PTR, LPCIID, ULONG, LPADRBOOK* lppAdrBook)
{
    if (lppAdrBook)
        *lppAdrBook = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::OpenProfileSection(LPMAPIUID lpUID, LPCIID, ULONG ulFlags, LPPROFSECT* lppProfSect)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppProfSect || !lpUID)
            return MAPI_E_INVALID_PARAMETER;
        *lppProfSect = nullptr;
        return CProfSect::Create(m_profile, *lpUID, ulFlags, lppProfSect);
    });
}

STDMETHODIMP CMapiSession::GetStatusTable(ULONG, LPMAPITABLE* lppTable)
{
    if (!lppTable)
        return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (!m_status)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    return m_status->HrGetView(nullptr, nullptr, 0, lppTable);
}

STDMETHODIMP CMapiSession::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                     ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppUnk || !lpulObjType)
            return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        *lpulObjType = 0;
        if (!lpEntryID || !cbEntryID)
            return MAPI_E_INVALID_ENTRYID;
        LPSTR dll = nullptr;
        ULONG cbOrig = 0;
        LPENTRYID orig = nullptr;
        if (SUCCEEDED(mapistub::UnwrapStoreEntryID(cbEntryID, lpEntryID, &dll, &cbOrig, &orig))) {
            HRESULT hr = OpenMsgStore(0, cbEntryID, lpEntryID, lpInterface, ulFlags,
                                      reinterpret_cast<LPMDB*>(lppUnk));
            if (SUCCEEDED(hr))
                *lpulObjType = MAPI_STORE;
            return hr;
        }
        ComPtr<IMsgStore> store;
        EnterCriticalSection(&m_lock);
        if (const StoreLogon* logon = LogonFor(cbEntryID, lpEntryID))
            store = logon->store;
        LeaveCriticalSection(&m_lock);
        if (!store)
            return MAPI_E_UNKNOWN_ENTRYID;
        return store->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
    });
}

STDMETHODIMP CMapiSession::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                           LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpulResult)
            return MAPI_E_INVALID_PARAMETER;
        *lpulResult = FALSE;
        ComPtr<IMsgStore> store;
        EnterCriticalSection(&m_lock);
        const StoreLogon* first = LogonFor(cbEntryID1, lpEntryID1);
        if (first && first == LogonFor(cbEntryID2, lpEntryID2))
            store = first->store;
        LeaveCriticalSection(&m_lock);
        if (store)
            return store->CompareEntryIDs(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2, ulFlags, lpulResult);
        *lpulResult = cbEntryID1 == cbEntryID2 &&
                      (!cbEntryID1 || (lpEntryID1 && lpEntryID2 && std::memcmp(lpEntryID1, lpEntryID2, cbEntryID1) == 0));
        return S_OK;
    });
}

STDMETHODIMP CMapiSession::Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                                  ULONG* lpulConnection)
{
    return mapistub::Guarded([&]() -> HRESULT {
        // Events of the session itself and of entries no store claims are
        // subscribed under the entry's bytes in the session's registry.
        std::vector<BYTE> key(sizeof(NOTIFKEY) + cbEntryID);
        auto* notifKey = reinterpret_cast<LPNOTIFKEY>(key.data());
        notifKey->cb = lpEntryID ? cbEntryID : 0;
        if (lpEntryID)
            std::memcpy(notifKey->ab, lpEntryID, cbEntryID);
        return m_hub->Subscribe(notifKey, ulEventMask, 0, lpAdviseSink, lpulConnection);
    });
}

STDMETHODIMP CMapiSession::Unadvise(ULONG ulConnection)
{
    return mapistub::Guarded([&]() { return m_hub->Unsubscribe(ulConnection); });
}

STDMETHODIMP CMapiSession::MessageOptions(ULONG_PTR, ULONG, LPTSTR, LPMESSAGE)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::QueryDefaultMessageOpt(LPTSTR, ULONG, ULONG*, LPSPropValue*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::EnumAdrTypes(ULONG, ULONG*, LPTSTR**)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::QueryIdentity(ULONG*, LPENTRYID*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::Logoff(ULONG_PTR, ULONG, ULONG)
{
    return mapistub::Guarded([&]() -> HRESULT {
        LogoffAll();
        ForgetSharedSession(this);
        return S_OK;
    });
}

STDMETHODIMP CMapiSession::SetDefaultStore(ULONG, ULONG, LPENTRYID)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::AdminServices(ULONG, LPSERVICEADMIN* lppServiceAdmin)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppServiceAdmin)
            return MAPI_E_INVALID_PARAMETER;
        *lppServiceAdmin = nullptr;
        return CMsgServiceAdmin::Create(m_profile, lppServiceAdmin);
    });
}

STDMETHODIMP CMapiSession::ShowForm(ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG,
                                    LPSTR)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSession::PrepareForm(LPCIID, LPMESSAGE, ULONG*)
{
    return MAPI_E_NO_SUPPORT;
}
