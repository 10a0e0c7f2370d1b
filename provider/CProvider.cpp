#include "ProviderPlatform.h"
#include "CProvider.h"
#include "CLocalServerActivation.h"
#include "CMsgStore.h"
#include "CStoreConfig.h"
#include "CStoreShared.h"
#include "ComErrorRaise.h"
#include "ImageMount.h"
#include "MapiPtr.h"
#include "ProfileProps.h"
#include "ProviderFiles.h"
#include "ProviderGlobals.h"
#include "ProviderMemory.h"
#include "ResourceStrings.h"
#include "ServerInterfaces.h"
#include "Vostrel2007.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace {

constexpr ULONG kLogonFlagsRefused = 0x00200000;
constexpr ULONG kPageSize = 4096;

SizedSPropTagArray(6, kProfileTags) = {6,
                                       {PR_PROV_DATABASE_PATH, PR_PROV_LOG_PATH, PR_PROV_SOURCE_KIND,
                                        PR_PROV_DATABASE_IMAGE, PR_PROV_LOG_IMAGE, PR_PROV_RESTORE_MAP}};

// The store's settings as the profile holds them.
struct SProfileSettings {
    MAPIUID serviceUid = {};
    std::wstring databasePath;
    std::wstring logFolder;
    bool hasSourceKind = false;
    LONG sourceKind = 0;
    bool hasDatabaseImage = false;
    std::wstring databaseImage;
    bool hasLogImage = false;
    std::wstring logImage;
};

const SPropValue* Present(const SPropValue* values, ULONG count, ULONG i, ULONG tag)
{
    if (!values || i >= count || values[i].ulPropTag != tag)
        return nullptr;
    return &values[i];
}

HRESULT ReadProfile(IMAPISupport* support, SProfileSettings& settings)
{
    ComPtr<IProfSect> own;
    if (FAILED(support->OpenProfileSection(nullptr, MAPI_MODIFY, own.GetAddressOf())) || !own)
        return MAPI_E_FAILONEPROVIDER;
    LPSPropValue uidValue = nullptr;
    if (FAILED(HrGetOneProp(own.Get(), PR_SERVICE_UID, &uidValue)))
        return MAPI_E_FAILONEPROVIDER;
    SubsystemPtr<SPropValue> uid(uidValue);
    if (uid->Value.bin.cb != sizeof(MAPIUID) || !uid->Value.bin.lpb)
        return MAPI_E_FAILONEPROVIDER;
    std::memcpy(settings.serviceUid.ab, uid->Value.bin.lpb, sizeof(MAPIUID));

    ComPtr<IProfSect> service;
    if (FAILED(support->OpenProfileSection(&settings.serviceUid, MAPI_MODIFY, service.GetAddressOf())) || !service)
        return MAPI_E_FAILONEPROVIDER;
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    if (FAILED(service->GetProps(reinterpret_cast<LPSPropTagArray>(&kProfileTags), 0, &count, &raw)))
        return MAPI_E_FAILONEPROVIDER;
    SubsystemPtr<SPropValue> values(raw);
    if (const SPropValue* v = Present(raw, count, 0, PR_PROV_DATABASE_PATH))
        settings.databasePath = v->Value.lpszW ? v->Value.lpszW : L"";
    if (const SPropValue* v = Present(raw, count, 1, PR_PROV_LOG_PATH))
        settings.logFolder = v->Value.lpszW ? v->Value.lpszW : L"";
    if (const SPropValue* v = Present(raw, count, 2, PR_PROV_SOURCE_KIND)) {
        settings.hasSourceKind = true;
        settings.sourceKind = v->Value.l;
    }
    if (const SPropValue* v = Present(raw, count, 3, PR_PROV_DATABASE_IMAGE)) {
        settings.hasDatabaseImage = true;
        settings.databaseImage = v->Value.lpszW ? v->Value.lpszW : L"";
    }
    if (const SPropValue* v = Present(raw, count, 4, PR_PROV_LOG_IMAGE)) {
        settings.hasLogImage = true;
        settings.logImage = v->Value.lpszW ? v->Value.lpszW : L"";
    }
    // The restore map (value 6) takes no part in a logon.
    return S_OK;
}

struct SMounted {
    std::wstring root;
    uint32_t imageIndex;
};

bool DriveAbsent(const std::wstring& root)
{
    return GetDriveTypeW(root.c_str()) == DRIVE_NO_ROOT_DIR;
}

// Mounts the images a store's data lies in when their drives are gone, and
// notes the drive roots for the store's registry entry.
void MountImages(const SProfileSettings& s, StoreEntry& entry, std::vector<SMounted>& mounted)
{
    if (!s.hasSourceKind || (s.sourceKind != 1 && s.sourceKind != 2) || s.databasePath.size() <= 3 ||
        s.logFolder.size() <= 2 || !s.hasDatabaseImage || s.databaseImage.empty() || !s.hasLogImage)
        return;
    entry.databaseDriveRoot = s.databasePath.substr(0, 3);
    entry.logDriveRoot = s.logFolder.substr(0, 3);
    if (s.logImage.empty())
        return;
    const GUID* type = s.sourceKind == 1 ? &GUID_QOR_IMAGE_ARCHIVE : &GUID_QOR_IMAGE_VHD;
    if (!DriveAbsent(entry.databaseDriveRoot))
        return;
    uint32_t index = 0;
    if (!MountImage(LogOwner(), s.databaseImage.c_str(), entry.databaseDriveRoot.c_str(), type,
                    ProviderGlobals().mountEvent, &index))
        return;
    mounted.push_back({entry.databaseDriveRoot, index});
    if (!DriveAbsent(entry.logDriveRoot))
        return;
    if (MountImage(LogOwner(), s.logImage.c_str(), entry.logDriveRoot.c_str(), type, ProviderGlobals().mountEvent,
                   &index))
        mounted.push_back({entry.logDriveRoot, index});
}

void DismountAll(const std::vector<SMounted>& mounted)
{
    for (const SMounted& m : mounted) {
        uint32_t index = m.imageIndex;
        DismountImage(GetActiveWindow(), m.root.c_str(), &index);
    }
}

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

template <typename Fn>
void RecordSafely(Fn&& fn) noexcept
{
    try {
        fn();
    } catch (...) {
    }
}

// Releases a store that could not be handed out. Its teardown lets the
// server objects go; the store was never registered.
void DiscardStore(CMsgStore*& store)
{
    if (store) {
        store->Release();
        store = nullptr;
    }
}

} // namespace

HRESULT CProvider::Create(IMSProvider** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CProvider* provider = new (std::nothrow) CProvider();
    if (!provider)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = provider;
    return S_OK;
}

CProvider::CProvider() : m_componentName(LoadResString(kIdsComponentName)), m_creationTick(GetTickCount()) {}

CProvider::~CProvider() = default;

STDMETHODIMP CProvider::Shutdown(ULONG* lpulFlags)
{
    if (lpulFlags)
        *lpulFlags = 0;
    return S_OK;
}

STDMETHODIMP CProvider::SpoolerLogon(LPMAPISUP, ULONG, LPTSTR, ULONG, LPENTRYID, ULONG, LPCIID, ULONG, LPBYTE,
                                     LPMAPIERROR* lppMAPIError, LPMSLOGON* lppMSLogon, LPMDB* lppMDB)
{
    if (lppMAPIError)
        *lppMAPIError = nullptr;
    if (lppMSLogon)
        *lppMSLogon = nullptr;
    if (lppMDB)
        *lppMDB = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProvider::CompareStoreIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                        LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult)
{
    (void)ulFlags;
    if (!lpulResult)
        return E_INVALIDARG;
    *lpulResult = CEntryId::SameBytes(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2) ? TRUE : FALSE;
    return S_OK;
}

STDMETHODIMP CProvider::Logon(LPMAPISUP lpMAPISup, ULONG ulUIParam, LPTSTR lpszProfileName, ULONG cbEntryID,
                              LPENTRYID lpEntryID, ULONG ulFlags, LPCIID lpInterface, ULONG* lpcbSpoolSecurity,
                              LPBYTE* lppbSpoolSecurity, LPMAPIERROR* lppMAPIError, LPMSLOGON* lppMSLogon,
                              LPMDB* lppMDB)
{
    (void)ulUIParam;
    (void)lpszProfileName;
    (void)cbEntryID;
    (void)lpEntryID;
    (void)lpInterface;
    if (!lppMSLogon || !lppMDB || (ulFlags & kLogonFlagsRefused))
        return E_INVALIDARG;
    if (lpcbSpoolSecurity)
        *lpcbSpoolSecurity = 0;
    if (lppbSpoolSecurity)
        *lppbSpoolSecurity = nullptr;
    if (lppMAPIError)
        *lppMAPIError = nullptr;
    *lppMSLogon = nullptr;
    *lppMDB = nullptr;
    if (!lpMAPISup)
        return E_INVALIDARG;
    m_lastError.SetText(nullptr);

    SProfileSettings settings;
    HRESULT hr = ReadProfile(lpMAPISup, settings);
    if (FAILED(hr))
        return hr;
    if (settings.databasePath.empty() || !CStoreConfig().Exists(settings.serviceUid))
        return MAPI_E_UNCONFIGURED;

    // Only the look-up and the insertion hold the provider lock; the server,
    // MAPI's support object and the image layer are called without it, while
    // the path is marked busy so that a second logon of it waits.
    CProviderGlobals& globals = ProviderGlobals();
    {
        CCriticalSectionLock lock(globals.providerLock);
        globals.storeRegistry.WaitWhileBusy(settings.databasePath, globals.providerLock);
        StoreEntry existing;
        if (globals.storeRegistry.FindByPath(settings.databasePath, existing)) {
            existing.store->AddRef();
            *lppMDB = existing.store;
            return S_OK;
        }
        globals.storeRegistry.MarkBusy(settings.databasePath);
    }
    struct CBusyPath {
        CProviderGlobals& globals;
        const std::wstring& path;
        ~CBusyPath()
        {
            CCriticalSectionLock lock(globals.providerLock);
            globals.storeRegistry.ClearBusy(path);
        }
    } busy{globals, settings.databasePath};

    StoreEntry entry;
    entry.serviceUid = settings.serviceUid;
    std::vector<SMounted> mounted;
    CMsgStore* store = nullptr;
    bool madeTempFolder = false;
    std::wstring workingFolder;
    auto open = [&]() -> HRESULT {
        MountImages(settings, entry, mounted);

        ComPtr<IEseInstance> instance;
        HRESULT result = common::CreateLocalServerInstance(CLSID_X2007EseInstance, IID_IEseInstance,
                                                           reinterpret_cast<void**>(instance.GetAddressOf()));
        if (FAILED(result))
            throw _com_error(result);

        madeTempFolder = CreateTempDirectory(workingFolder);
        if (!madeTempFolder)
            workingFolder = FolderOf(settings.databasePath);
        std::wstring logFolder = settings.logFolder.empty() ? FolderOf(settings.databasePath) : settings.logFolder;

        result = instance->Init(kPageSize, &workingFolder[0], &workingFolder[0]);
        if (FAILED(result))
            RaiseComError(result, instance.Get(), IID_IEseInstance);
        ComPtr<IEseStore> server;
        std::wstring databasePath = settings.databasePath;
        result = instance->OpenStore(&databasePath[0], &logFolder[0], server.GetAddressOf());
        if (result != S_OK)
            RaiseComError(result, instance.Get(), IID_IEseInstance);
        if (!server)
            throw _com_error(E_POINTER);

        CServerCookie instanceCookie = CServerCookie::Register(instance.Get(), IID_IEseInstance);
        CServerCookie storeCookie = CServerCookie::Register(server.Get(), IID_IEseStore);
        result = CMsgStore::Create(settings.databasePath, settings.serviceUid, kStoreVersion,
                                   instanceCookie.Get(), storeCookie.Get(), &store);
        if (FAILED(result))
            return result;
        // The store lets both cookies go at its teardown.
        instanceCookie.Release();
        storeCookie.Release();

        result = store->QueryInterface(IID_IMSLogon, reinterpret_cast<void**>(lppMSLogon));
        if (FAILED(result))
            return result;
        store->SetSupport(lpMAPISup);
        // Each of the last steps must succeed: a store that could not
        // publish its status, be recorded in the profile or map its
        // named properties is not handed out.
        result = store->PublishStatusRow();
        if (SUCCEEDED(result) && !(ulFlags & MDB_TEMPORARY))
            result = lpMAPISup->ModifyProfile(0);
        if (SUCCEEDED(result))
            result = store->InitNamedProps(false);
        if (FAILED(result))
            return result;
        if (madeTempFolder)
            entry.tempFolder = workingFolder;
        entry.store = store;
        entry.shared = store->Shared();
        {
            CCriticalSectionLock lock(globals.providerLock);
            if (!globals.storeRegistry.Insert(settings.databasePath, entry))
                return E_UNEXPECTED;
        }
        *lppMDB = store;
        store = nullptr;
        return result;
    };
    // A server failure is recorded with the server's text and fails this
    // provider only; anything else fails the logon.
    try {
        hr = open();
    } catch (const _com_error& error) {
        RecordSafely([&] { m_lastError.SetFromComError("CProvider::Logon", error); });
        hr = MAPI_E_FAILONEPROVIDER;
    } catch (const CException& error) {
        RecordSafely([&] { m_lastError.SetText(error.GetText()); });
        hr = MAPI_E_LOGON_FAILED;
    } catch (...) {
        hr = MAPI_E_LOGON_FAILED;
    }
    if (FAILED(hr)) {
        if (*lppMSLogon) {
            (*lppMSLogon)->Release();
            *lppMSLogon = nullptr;
        }
        *lppMDB = nullptr;
        DiscardStore(store);
        if (madeTempFolder)
            DeleteDirectoryTree(workingFolder.c_str());
        DismountAll(mounted);
    }
    return hr;
}

HRESULT ProviderInit(HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                     LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer,
                     ULONG* lpulProviderVer, LPMSPROVIDER* lppMSProvider)
{
    (void)hInstance;
    (void)ulFlags;
    if (!lppMSProvider || !lpulProviderVer)
        return E_INVALIDARG;
    *lpulProviderVer = kProviderSpiVersion;
    if (ulMAPIVer < kProviderSpiVersion)
        return MAPI_E_VERSION;
    KeepMapiMemory(lpMalloc, lpAllocateBuffer, lpAllocateMore, lpFreeBuffer);
    *lppMSProvider = nullptr;
    try {
        return CProvider::Create(lppMSProvider);
    } catch (...) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
