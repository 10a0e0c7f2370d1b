#include "ProviderPlatform.h"
#include "ServiceEntry.h"

#include "CAddStoreWizardSheet.h"
#include "CEntryId.h"
#include "CStoreConfig.h"
#include "CWaitDialog.h"
#include "CWizardData.h"
#include "ImageMount.h"
#include "MapiPtr.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"
#include "StoreLink.h"

#include <cstring>
#include <cwctype>

namespace setup {

namespace {

// The service values, in the order ServiceEntry reads and writes them.
enum EServiceValue {
    kDatabasePath,
    kLogPath,
    kSourceKind,
    kDatabaseImage,
    kLogImage,
    kRestoreMap,
    kCatalogBackupId,
    kMdbProvider,
    kServiceValueCount
};

const SizedSPropTagArray(kServiceValueCount, kServiceTags) = {
    kServiceValueCount,
    {PR_PROV_DATABASE_PATH, PR_PROV_LOG_PATH, PR_PROV_SOURCE_KIND, PR_PROV_DATABASE_IMAGE, PR_PROV_LOG_IMAGE,
     PR_PROV_RESTORE_MAP, PR_PROV_CATALOG_BACKUP_ID, PR_MDB_PROVIDER}};

const SizedSPropTagArray(7, kPrivateTags) = {
    7,
    {PR_PROV_DATABASE_PATH, PR_PROV_LOG_PATH, PR_PROV_SOURCE_KIND, PR_PROV_DATABASE_IMAGE, PR_PROV_LOG_IMAGE,
     PR_PROV_RESTORE_MAP, PR_PROV_CATALOG_BACKUP_ID}};

const SizedSPropTagArray(3, kCompletionQuery) = {3, {PR_PROV_DATABASE_PATH, PR_STORE_PROVIDERS, PR_ENTRYID}};

constexpr ULONG PR_PROV_STORE_FLAGS = 0x66010003;

const SizedSPropTagArray(6, kIdentityTags) = {
    6, {PR_RECORD_KEY, PR_STORE_RECORD_KEY, PR_PROV_STORE_FLAGS, PR_MDB_PROVIDER, PR_STORE_ENTRYID, PR_ENTRYID}};

const SizedSPropTagArray(1, kServiceUidTag) = {1, {PR_SERVICE_UID}};

constexpr ULONG kWizardFinished = 1;

LPSPropTagArray Tags(const void* array)
{
    return reinterpret_cast<LPSPropTagArray>(const_cast<void*>(array));
}

bool Present(const SPropValue& value, ULONG tag)
{
    return value.ulPropTag == tag;
}

std::wstring Text(const SPropValue& value, ULONG tag)
{
    return Present(value, tag) && value.Value.lpszW ? value.Value.lpszW : L"";
}

bool UidFrom(const SPropValue* value, MAPIUID& uid)
{
    if (!value || value->ulPropTag != PR_SERVICE_UID || value->Value.bin.cb != sizeof(uid.ab) || !value->Value.bin.lpb)
        return false;
    std::memcpy(uid.ab, value->Value.bin.lpb, sizeof(uid.ab));
    return true;
}

// The section named by the first UID of a PR_STORE_PROVIDERS value.
HRESULT OpenProviderSection(LPPROVIDERADMIN admin, const SPropValue& providers, LPPROFSECT* section)
{
    *section = nullptr;
    if (providers.Value.bin.cb < sizeof(MAPIUID) || !providers.Value.bin.lpb)
        return MAPI_E_CORRUPT_DATA;
    return admin->OpenProfileSection(reinterpret_cast<LPMAPIUID>(providers.Value.bin.lpb), nullptr, MAPI_MODIFY,
                                     section);
}

// The 16 bytes of a UID as upper-case hexadecimal text.
std::wstring HexOf(const BYTE* bytes, size_t count)
{
    return BytesToHex(bytes, count);
}

HRESULT WriteIdentity(LPPROFSECT section, ULONG count, LPSPropValue values)
{
    HRESULT hr = section->SetProps(count, values, nullptr);
    if (SUCCEEDED(hr))
        hr = section->SaveChanges(KEEP_OPEN_READWRITE);
    return hr;
}

// The wizard over the record, shown modally.
INT_PTR RunAddStoreWizard(CWizardData& record)
{
    CAddStoreWizardSheet sheet(record);
    return sheet.DoModal(GetActiveWindow());
}

// Fills the record from the profile and the settings file for a run over an
// existing configuration. True when the prefill holds (both paths known).
bool Prefill(CWizardData& record, const SPropValue* values, const MAPIUID* uid)
{
    // A path written empty by a cancelled creation is no configuration: a
    // wizard locked on it could not open anything.
    if (!Present(values[kDatabasePath], PR_PROV_DATABASE_PATH) || !Present(values[kLogPath], PR_PROV_LOG_PATH) ||
        Text(values[kDatabasePath], PR_PROV_DATABASE_PATH).empty())
        return false;
    record.DatabasePath = Text(values[kDatabasePath], PR_PROV_DATABASE_PATH);
    record.LogPath = Text(values[kLogPath], PR_PROV_LOG_PATH);
    if (uid) {
        CStoreConfig config;
        config.Load(CStoreConfig::FormatName(*uid));
        record.MailboxSelection = config.mailboxSelection;
        record.PublicFoldersOnly = config.publicFoldersOnly;
        if (Present(values[kSourceKind], PR_PROV_SOURCE_KIND))
            record.SourceKind = values[kSourceKind].Value.l;
        if (Present(values[kDatabaseImage], PR_PROV_DATABASE_IMAGE))
            record.DatabaseImage = Text(values[kDatabaseImage], PR_PROV_DATABASE_IMAGE);
        if (Present(values[kLogImage], PR_PROV_LOG_IMAGE))
            record.LogImage = Text(values[kLogImage], PR_PROV_LOG_IMAGE);
        if (Present(values[kCatalogBackupId], PR_PROV_CATALOG_BACKUP_ID))
            record.CatalogBackupId = values[kCatalogBackupId].Value.l;
    }
    return true;
}

HRESULT Configure(LPMAPISUP support, ULONG ulFlags, ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN admin,
                  LPMAPIERROR* lppMapiError)
{
    if (!admin)
        return E_INVALIDARG;
    ComPtr<IProfSect> section;
    HRESULT hr = admin->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, section.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (cValues && lpProps)
        section->SetProps(cValues, lpProps, nullptr);

    bool cancelled = false;
    bool prefilled = false;
    ULONG count = 0;
    LPSPropValue read = nullptr;
    hr = section->GetProps(Tags(&kServiceTags), MAPI_UNICODE, &count, &read);
    MapiPtr<SPropValue> values(read);
    if (SUCCEEDED(hr) && values && count == kServiceValueCount) {
        CWizardData record;
        LPSPropValue uidValue = nullptr;
        GetServiceUid(section.Get(), admin, &uidValue);
        MapiPtr<SPropValue> uidHolder(uidValue);
        MAPIUID uid{};
        const bool haveUid = UidFrom(uidValue, uid);
        const bool settingsExist = !haveUid || CStoreConfig().Exists(uid);

        const bool keepAsIs =
            Present(values.get()[kDatabasePath], PR_PROV_DATABASE_PATH) && ulFlags != SERVICE_UI_ALWAYS && settingsExist;
        bool finished = false;
        bool wizardRan = false;
        if (!keepAsIs) {
            if (ulFlags == SERVICE_UI_ALWAYS || !settingsExist)
                prefilled = Prefill(record, values.get(), haveUid ? &uid : nullptr);
            record.Reconfigure = prefilled ? 1 : 0;
            if (ulFlags & (SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED)) {
                wizardRan = true;
                finished = RunAddStoreWizard(record) == kWizardFinished;
                cancelled = !finished;
            }
            CServiceValues answers;
            if (finished) {
                answers.FromWizard(record, values.get());
                if (haveUid)
                    CStoreConfig().SaveFromWizard(uid, record);
            }
            if (cancelled && !prefilled) {
                values.get()[kDatabasePath].ulPropTag = PR_PROV_DATABASE_PATH;
                values.get()[kDatabasePath].Value.lpszW = const_cast<LPWSTR>(L"");
                values.get()[kLogPath].ulPropTag = PR_PROV_LOG_PATH;
                values.get()[kLogPath].Value.lpszW = const_cast<LPWSTR>(L"");
            }
            SPropValue& provider = values.get()[kMdbProvider];
            provider.ulPropTag = PR_MDB_PROVIDER;
            provider.Value.bin.cb = sizeof(kProviderUid.ab);
            provider.Value.bin.lpb = const_cast<LPBYTE>(kProviderUid.ab);
            if (SUCCEEDED(section->SetProps(kServiceValueCount, values.get(), nullptr)))
                section->SaveChanges(KEEP_OPEN_READWRITE);
        }
        if ((finished || !wizardRan) && prefilled && record.SelectionChanged && haveUid)
            SignalStoreMailboxChanged(uid);
    }

    HRESULT result = S_OK;
    if (!(cancelled && prefilled))
        result = CompleteProviderSection(support, section.Get(), admin);
    if (cancelled) {
        result = MAPI_E_USER_CANCEL;
        if (lppMapiError) {
            LPVOID error = nullptr;
            if (SUCCEEDED(MAPIAllocateBuffer(sizeof(MAPIERROR), &error))) {
                std::memset(error, 0, sizeof(MAPIERROR));
                *lppMapiError = static_cast<LPMAPIERROR>(error);
            }
        }
    }
    return result;
}

// The drive root of a path when the path is long enough to have one. The
// letter is made upper-case: a path may have been typed either way, and the
// dismount takes the letter as it stands.
bool DriveRoot(const std::wstring& path, std::wstring& root)
{
    if (path.size() <= 2)
        return false;
    root = path.substr(0, 3);
    root[0] = static_cast<wchar_t>(std::towupper(root[0]));
    return true;
}

void TakeDownImage(const std::wstring& root, const std::wstring& image)
{
    if (GetDriveTypeW(root.c_str()) != DRIVE_NO_ROOT_DIR) {
        uint32_t index = 0;
        DismountImage(GetActiveWindow(), root.c_str(), &index);
    }
    // The change file goes whether or not the image was still mounted.
    DeleteFileW((image + L".chunk.dat").c_str());
}

void Delete(LPPROVIDERADMIN admin)
{
    if (!admin)
        return;
    ComPtr<IProfSect> section;
    if (FAILED(admin->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, section.GetAddressOf())))
        return;
    LPSPropValue uidValue = nullptr;
    GetServiceUid(section.Get(), admin, &uidValue);
    MapiPtr<SPropValue> uidHolder(uidValue);
    MAPIUID uid{};
    if (!UidFrom(uidValue, uid))
        return;

    CStoreConfig().Delete(uid);
    ComPtr<IProfSect> named;
    if (SUCCEEDED(admin->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, named.GetAddressOf())))
        named->DeleteProps(Tags(&kIdentityTags), nullptr);
    section->DeleteProps(Tags(&kIdentityTags), nullptr);

    ULONG count = 0;
    LPSPropValue read = nullptr;
    const HRESULT hr = section->GetProps(Tags(&kPrivateTags), MAPI_UNICODE, &count, &read);
    MapiPtr<SPropValue> values(read);
    if (SUCCEEDED(hr) && values && count == 7) {
        const SPropValue* v = values.get();
        const std::wstring database = Text(v[kDatabasePath], PR_PROV_DATABASE_PATH);
        if (!database.empty()) {
            CloseOpenStoreForDelete(database);
            const LONG kind = Present(v[kSourceKind], PR_PROV_SOURCE_KIND) ? v[kSourceKind].Value.l : 0;
            if (kind == 1 || kind == 2) {
                ui::CWaitDialog wait(GetActiveWindow());
                ui::CWaitCursor cursor;
                std::wstring root;
                if (Present(v[kDatabaseImage], PR_PROV_DATABASE_IMAGE) && DriveRoot(database, root))
                    TakeDownImage(root, Text(v[kDatabaseImage], PR_PROV_DATABASE_IMAGE));
                const std::wstring logs = Text(v[kLogPath], PR_PROV_LOG_PATH);
                // A log folder on the database's drive was taken down with it
                // (drive letters compare without regard to case).
                if (Present(v[kLogImage], PR_PROV_LOG_IMAGE) && !logs.empty() &&
                    std::towupper(logs[0]) != std::towupper(database[0]) && DriveRoot(logs, root))
                    TakeDownImage(root, Text(v[kLogImage], PR_PROV_LOG_IMAGE));
            }
        }
    }
    section->DeleteProps(Tags(&kPrivateTags), nullptr);
}

} // namespace

void CServiceValues::FromWizard(const CWizardData& data, SPropValue* values)
{
    m_database = data.DatabasePath;
    m_log = data.LogPath;
    // A plain file lies in no image, whatever a page left in the record.
    const bool inImages = data.SourceKind == 1 || data.SourceKind == 2;
    m_databaseImage = inImages ? data.DatabaseImage : std::wstring();
    m_logImage = inImages ? data.LogImage : std::wstring();
    values[kDatabasePath].ulPropTag = PR_PROV_DATABASE_PATH;
    values[kDatabasePath].Value.lpszW = &m_database[0];
    values[kLogPath].ulPropTag = PR_PROV_LOG_PATH;
    values[kLogPath].Value.lpszW = &m_log[0];
    values[kSourceKind].ulPropTag = PR_PROV_SOURCE_KIND;
    values[kSourceKind].Value.l = data.SourceKind;
    values[kDatabaseImage].ulPropTag = PR_PROV_DATABASE_IMAGE;
    values[kDatabaseImage].Value.lpszW = &m_databaseImage[0];
    values[kLogImage].ulPropTag = PR_PROV_LOG_IMAGE;
    values[kLogImage].Value.lpszW = &m_logImage[0];
    values[kCatalogBackupId].ulPropTag = PR_PROV_CATALOG_BACKUP_ID;
    values[kCatalogBackupId].Value.l = data.CatalogBackupId;
    if (data.SourceKind == 2 && !data.RestoreMap.empty()) {
        m_restore.clear();
        for (const auto& [name, path] : data.RestoreMap) {
            m_restore.push_back(name);
            m_restore.push_back(path);
        }
        m_restorePointers.clear();
        for (std::wstring& text : m_restore)
            m_restorePointers.push_back(&text[0]);
        values[kRestoreMap].ulPropTag = PR_PROV_RESTORE_MAP;
        values[kRestoreMap].Value.MVszW.cValues = static_cast<ULONG>(m_restorePointers.size());
        values[kRestoreMap].Value.MVszW.lppszW = m_restorePointers.data();
    }
}

HRESULT GetServiceUid(LPPROFSECT serviceSection, LPPROVIDERADMIN providerAdmin, LPSPropValue* uid)
{
    if (!uid)
        return E_INVALIDARG;
    *uid = nullptr;
    if (!serviceSection || !providerAdmin)
        return E_INVALIDARG;
    ULONG count = 0;
    LPSPropValue read = nullptr;
    HRESULT hr = serviceSection->GetProps(Tags(&kCompletionQuery), MAPI_UNICODE, &count, &read);
    MapiPtr<SPropValue> values(read);
    if (FAILED(hr))
        return hr;
    if (!values || count < 2 || values.get()[1].ulPropTag != PR_STORE_PROVIDERS)
        return hr;
    ComPtr<IProfSect> provider;
    hr = OpenProviderSection(providerAdmin, values.get()[1], provider.GetAddressOf());
    if (FAILED(hr))
        return hr;
    LPSPropValue serviceUid = nullptr;
    hr = provider->GetProps(Tags(&kServiceUidTag), 0, &count, &serviceUid);
    if (FAILED(hr)) {
        MAPIFreeBuffer(serviceUid);
        return hr;
    }
    *uid = serviceUid;
    return hr;
}

HRESULT CompleteProviderSection(LPMAPISUP support, LPPROFSECT serviceSection, LPPROVIDERADMIN providerAdmin)
{
    if (!support || !serviceSection || !providerAdmin)
        return E_INVALIDARG;
    ULONG count = 0;
    LPSPropValue read = nullptr;
    HRESULT hr = serviceSection->GetProps(Tags(&kCompletionQuery), MAPI_UNICODE, &count, &read);
    MapiPtr<SPropValue> values(read);
    if (FAILED(hr))
        return hr;
    if (!values || count != 3)
        return MAPI_E_CALL_FAILED;
    const SPropValue* query = values.get();
    const bool haveProviders = query[1].ulPropTag == PR_STORE_PROVIDERS;
    const bool haveEntryId = query[2].ulPropTag == PR_ENTRYID;
    if (!haveProviders)
        return hr;

    ComPtr<IProfSect> provider;
    hr = OpenProviderSection(providerAdmin, query[1], provider.GetAddressOf());
    if (FAILED(hr))
        return hr;
    LPSPropValue uidRead = nullptr;
    hr = provider->GetProps(Tags(&kServiceUidTag), 0, &count, &uidRead);
    MapiPtr<SPropValue> uidValue(uidRead);
    if (FAILED(hr))
        return hr;
    MAPIUID uid{};
    const bool haveUid = UidFrom(uidValue.get(), uid);

    bool stale = false;
    if (haveEntryId && haveUid) {
        const std::wstring idText = HexOf(query[2].Value.bin.lpb, query[2].Value.bin.cb);
        stale = idText.find(HexOf(uid.ab, sizeof(uid.ab))) == std::wstring::npos;
    }
    if (!((haveProviders && !haveEntryId) || stale))
        return hr;
    if (!haveUid)
        return hr;

    // The eight identity values, in one MAPI allocation with their data.
    LPVOID block = nullptr;
    hr = MAPIAllocateBuffer(8 * sizeof(SPropValue), &block);
    if (FAILED(hr))
        return hr;
    MapiPtr<SPropValue> identity(static_cast<LPSPropValue>(block));
    std::memset(block, 0, 8 * sizeof(SPropValue));
    const CEntryId storeId(kEntryMessageStore, uid);
    SBinary wrapped{};
    hr = storeId.WrapStoreEntryId(block, wrapped);
    if (FAILED(hr))
        return hr;

    const bool haveDatabase = query[0].ulPropTag == PR_PROV_DATABASE_PATH && query[0].Value.lpszW;
    const std::wstring database = haveDatabase ? query[0].Value.lpszW : L"";
    std::wstring display = LoadResString(kIdsComponentName);
    if (haveDatabase)
        display += L" (" + database + L")";

    SPropValue* v = identity.get();
    v[0].ulPropTag = PR_RECORD_KEY;
    v[0].Value.bin.cb = sizeof(uid.ab);
    v[0].Value.bin.lpb = uid.ab;
    v[1].ulPropTag = PR_STORE_RECORD_KEY;
    v[1].Value.bin.cb = sizeof(uid.ab);
    v[1].Value.bin.lpb = uid.ab;
    v[2].ulPropTag = PR_PROV_STORE_FLAGS;
    v[2].Value.l = 0;
    v[3].ulPropTag = PR_MDB_PROVIDER;
    v[3].Value.bin.cb = sizeof(kProviderUid.ab);
    v[3].Value.bin.lpb = const_cast<LPBYTE>(kProviderUid.ab);
    v[4].ulPropTag = PR_DISPLAY_NAME_W;
    v[4].Value.lpszW = &display[0];
    v[5].ulPropTag = PR_PROV_STORE_DATABASE_PATH;
    v[5].Value.lpszW = const_cast<LPWSTR>(database.c_str());
    v[6].ulPropTag = PR_STORE_ENTRYID;
    v[6].Value.bin = wrapped;
    v[7].ulPropTag = PR_ENTRYID;
    v[7].Value.bin = wrapped;

    hr = WriteIdentity(provider.Get(), 8, v);
    // The service section gets the same values whatever the provider's
    // section answered; the last call's status is the result.
    hr = WriteIdentity(serviceSection, 8, v);
    return hr;
}

ULONG GetProfileGuidListFromProfile(LPMAPISESSION session, std::vector<MAPIUID>& list)
{
    if (!session)
        return 0;
    ULONG appended = 0;
    ComPtr<IMAPITable> table;
    if (FAILED(session->GetMsgStoresTable(0, table.GetAddressOf())))
        return 0;
    const SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_W, PR_SERVICE_UID, PR_MDB_PROVIDER}};
    ULONG rowCount = 0;
    if (FAILED(table->SetColumns(Tags(&columns), TBL_BATCH)) || FAILED(table->GetRowCount(0, &rowCount)))
        return 0;
    LPSRowSet read = nullptr;
    if (FAILED(table->QueryRows(static_cast<LONG>(rowCount), 0, &read)))
        return 0;
    RowSetPtr rows(read);
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        if (row.cValues < 3)
            continue;
        const SPropValue& provider = row.lpProps[2];
        const SPropValue& service = row.lpProps[1];
        if (PROP_TYPE(provider.ulPropTag) == PT_ERROR || provider.ulPropTag != PR_MDB_PROVIDER)
            continue;
        if (provider.Value.bin.cb > sizeof(kProviderUid.ab) ||
            std::memcmp(provider.Value.bin.lpb, kProviderUid.ab, provider.Value.bin.cb) != 0)
            continue;
        if (service.ulPropTag != PR_SERVICE_UID || service.Value.bin.cb != sizeof(MAPIUID))
            continue;
        MAPIUID uid;
        std::memcpy(uid.ab, service.Value.bin.lpb, sizeof(uid.ab));
        list.push_back(uid);
        ++appended;
    }
    return appended;
}

HRESULT ServiceEntryImpl(HINSTANCE, LPMALLOC, LPMAPISUP lpMAPISup, ULONG_PTR, ULONG ulFlags, ULONG ulContext,
                         ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin,
                         LPMAPIERROR* lppMapiError)
{
    if (lppMapiError)
        *lppMapiError = nullptr;
    const bool uiAllowed = (ulFlags & (SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED)) != 0;
    try {
        switch (ulContext) {
        case MSG_SERVICE_INSTALL:
        case MSG_SERVICE_UNINSTALL:
            return S_OK;
        case MSG_SERVICE_CREATE:
            if (!uiAllowed)
                return E_INVALIDARG;
            return Configure(lpMAPISup, ulFlags, cValues, lpProps, lpProviderAdmin, lppMapiError);
        case MSG_SERVICE_DELETE:
            Delete(lpProviderAdmin);
            return S_OK;
        case MSG_SERVICE_CONFIGURE:
            if ((cValues && lpProps) || uiAllowed)
                return Configure(lpMAPISup, ulFlags, cValues, lpProps, lpProviderAdmin, lppMapiError);
            return S_OK;
        default:
            return S_OK;
        }
    } catch (const std::bad_alloc&) {
        return ulContext == MSG_SERVICE_DELETE ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ulContext == MSG_SERVICE_DELETE ? S_OK : MAPI_E_CALL_FAILED;
    }
}

} // namespace setup
