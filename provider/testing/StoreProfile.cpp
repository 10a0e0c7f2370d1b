#include "ProviderPlatform.h"
#include "StoreProfile.h"
#include "CEntryId.h"
#include "CStoreConfig.h"
#include "MailboxSelection.h"
#include "MapiPtr.h"
#include "MapiSvcRegistration.h"
#include "ProfileProps.h"
#include "ResourceStrings.h"

#include <cstring>
#include <memory>

namespace providertest {

const wchar_t kStoreServiceName[] = L"KOLVENDIRECT";

namespace {

constexpr ULONG kPrIdentityFlag = 0x66010003;
constexpr ULONG kPrDatabasePathCopy = 0x6700001F;

LPTSTR Text(const wchar_t* text)
{
    return reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(text));
}

struct CRowsDeleter {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, CRowsDeleter>;

Rows AllRows(IMAPITable* table)
{
    LPSRowSet rows = nullptr;
    if (FAILED(HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &rows)))
        return nullptr;
    return Rows(rows);
}

const SPropValue* Find(const SRow& row, ULONG tag)
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == tag)
            return &row.lpProps[i];
    return nullptr;
}

bool SameUid(const SPropValue* value, const MAPIUID& uid)
{
    return value && value->Value.bin.cb == sizeof(MAPIUID) &&
           std::memcmp(value->Value.bin.lpb, uid.ab, sizeof(MAPIUID)) == 0;
}

SPropValue Wide(ULONG tag, const std::wstring& text)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.lpszW = const_cast<LPWSTR>(text.c_str());
    return value;
}

SPropValue Long(ULONG tag, LONG number)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.l = number;
    return value;
}

SPropValue Binary(ULONG tag, const void* bytes, ULONG cb)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.bin.cb = cb;
    value.Value.bin.lpb = static_cast<LPBYTE>(const_cast<void*>(bytes));
    return value;
}

HRESULT WriteSection(IMsgServiceAdmin* services, const MAPIUID& section, std::vector<SPropValue>& values)
{
    ComPtr<IProfSect> opened;
    MAPIUID uid = section;
    HRESULT hr = services->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, opened.GetAddressOf());
    if (FAILED(hr))
        return hr;
    hr = opened->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
    if (SUCCEEDED(hr))
        hr = opened->SaveChanges(KEEP_OPEN_READWRITE);
    return hr;
}

} // namespace

HRESULT RegisterStoreService()
{
    const wchar_t display[] = L"Exchange Mail Archive (profile written without the wizard)";
    const setup::ProfileRow rows[] = {
        {L"Services", kStoreServiceName, 0, display},
        {kStoreServiceName, L"PR_DISPLAY_NAME", 0, display},
        {kStoreServiceName, L"PR_RESOURCE_FLAGS", 0, L"SERVICE_NO_PRIMARY_IDENTITY"},
        {kStoreServiceName, L"Providers", 0, L"P_KOLVENDIRECT"},
        {L"P_KOLVENDIRECT", L"PR_RESOURCE_TYPE", 0, L"MAPI_STORE_PROVIDER"},
        {L"P_KOLVENDIRECT", L"PR_PROVIDER_DLL_NAME", 0, L"KOLVEN.DLL"},
        {L"P_KOLVENDIRECT", L"PR_RESOURCE_FLAGS", 0, L"STATUS_DEFAULT_STORE"},
        {L"P_KOLVENDIRECT", L"PR_DISPLAY_NAME", 0, display},
        {L"P_KOLVENDIRECT", L"PR_PROVIDER_DISPLAY", 0, display},
        {nullptr, nullptr, 0, nullptr},
    };
    return setup::HrSetProfileParameters(rows);
}

CStoreProfile::CStoreProfile(const std::wstring& namePrefix)
{
    static LONG counter = 0;
    m_name = namePrefix + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
             std::to_wstring(InterlockedIncrement(&counter));
    m_status = MAPIAdminProfiles(0, m_admin.GetAddressOf());
    if (SUCCEEDED(m_status))
        m_status = m_admin->CreateProfile(Text(m_name.c_str()), nullptr, 0, MAPI_UNICODE);
    if (SUCCEEDED(m_status))
        m_status = m_admin->AdminServices(Text(m_name.c_str()), nullptr, 0, MAPI_UNICODE, m_services.GetAddressOf());
}

CStoreProfile::~CStoreProfile()
{
    m_services.Reset();
    if (m_admin)
        m_admin->DeleteProfile(Text(m_name.c_str()), MAPI_UNICODE);
    CStoreConfig config;
    for (const MAPIUID& uid : m_settingsFiles)
        config.Delete(uid);
}

HRESULT CStoreProfile::NewestService(const wchar_t* serviceName, MAPIUID* serviceUid)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = m_services->GetMsgServiceTable(MAPI_UNICODE, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    Rows rows = AllRows(table.Get());
    if (!rows)
        return E_FAIL;
    for (ULONG i = rows->cRows; i-- > 0;) {
        const SPropValue* name = Find(rows->aRow[i], PR_SERVICE_NAME_W);
        const SPropValue* uid = Find(rows->aRow[i], PR_SERVICE_UID);
        if (name && uid && lstrcmpiW(name->Value.lpszW, serviceName) == 0 && uid->Value.bin.cb == sizeof(MAPIUID)) {
            std::memcpy(serviceUid->ab, uid->Value.bin.lpb, sizeof(MAPIUID));
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT CStoreProfile::AddStore(const SStoreSettings& settings, MAPIUID* serviceUid)
{
    if (FAILED(m_status))
        return m_status;
    HRESULT hr = RegisterStoreService();
    if (SUCCEEDED(hr))
        hr = m_services->CreateMsgService(Text(kStoreServiceName), nullptr, 0, MAPI_UNICODE);
    MAPIUID uid = {};
    if (SUCCEEDED(hr))
        hr = NewestService(kStoreServiceName, &uid);
    if (FAILED(hr))
        return hr;

    std::vector<SPropValue> privateValues = {Wide(PR_PROV_DATABASE_PATH, settings.databasePath),
                                             Wide(PR_PROV_LOG_PATH, settings.logFolder)};
    if (settings.hasSourceKind)
        privateValues.push_back(Long(PR_PROV_SOURCE_KIND, settings.sourceKind));
    if (settings.hasImages) {
        privateValues.push_back(Wide(PR_PROV_DATABASE_IMAGE, settings.databaseImage));
        privateValues.push_back(Wide(PR_PROV_LOG_IMAGE, settings.logImage));
    }
    hr = m_services->ConfigureMsgService(&uid, 0, 0, static_cast<ULONG>(privateValues.size()),
                                         privateValues.data());
    if (FAILED(hr))
        return hr;

    if (settings.writeSettingsFile) {
        CStoreConfig config;
        config.databasePath = settings.databasePath;
        config.logFolder = settings.logFolder;
        config.mailboxSelection = settings.mailboxSelection;
        config.publicFoldersOnly = settings.publicFoldersOnly ? 1 : 0;
        if (!config.Save(CStoreConfig::FormatName(uid)))
            return E_FAIL;
        m_settingsFiles.push_back(uid);
    }

    // The provider section's identity, as the service entry completes it.
    ComPtr<IProviderAdmin> providers;
    hr = m_services->AdminProviders(&uid, 0, providers.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPITable> table;
    hr = providers->GetProviderTable(0, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    Rows rows = AllRows(table.Get());
    const SPropValue* section = rows && rows->cRows ? Find(rows->aRow[0], PR_PROVIDER_UID) : nullptr;
    if (!section || section->Value.bin.cb != sizeof(MAPIUID))
        return MAPI_E_NOT_FOUND;
    MAPIUID providerSection;
    std::memcpy(providerSection.ab, section->Value.bin.lpb, sizeof(MAPIUID));

    CEntryId storeId(kEntryMessageStore, uid);
    ULONG cbWrapped = 0;
    LPENTRYID wrapped = nullptr;
    hr = WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(const_cast<char*>(kProviderDllName)), sizeof(storeId),
                          storeId.AsEntryId(), &cbWrapped, &wrapped);
    if (FAILED(hr))
        return hr;
    SubsystemPtr<ENTRYID> wrappedOwner(wrapped);
    const std::wstring displayName = LoadResString(386) + L" (" + settings.databasePath + L")";
    std::vector<SPropValue> identity = {Binary(PR_RECORD_KEY, uid.ab, sizeof(uid.ab)),
                                        Binary(PR_STORE_RECORD_KEY, uid.ab, sizeof(uid.ab)),
                                        Long(kPrIdentityFlag, 0),
                                        Binary(PR_MDB_PROVIDER, &kProviderUid, sizeof(kProviderUid)),
                                        Wide(PR_DISPLAY_NAME_W, displayName),
                                        Wide(kPrDatabasePathCopy, settings.databasePath),
                                        Binary(PR_STORE_ENTRYID, wrapped, cbWrapped),
                                        Binary(PR_ENTRYID, wrapped, cbWrapped)};
    hr = WriteSection(m_services.Get(), providerSection, identity);
    if (SUCCEEDED(hr))
        hr = WriteSection(m_services.Get(), uid, identity);
    if (SUCCEEDED(hr) && serviceUid)
        *serviceUid = uid;
    return hr;
}

HRESULT CStoreProfile::AddWritableStore(MAPIUID* serviceUid)
{
    if (FAILED(m_status))
        return m_status;
    HRESULT hr = m_services->CreateMsgService(Text(L"WRITABLESTORE"), nullptr, 0, MAPI_UNICODE);
    if (SUCCEEDED(hr))
        hr = NewestService(L"WRITABLESTORE", serviceUid);
    return hr;
}

HRESULT CStoreProfile::SetMailboxSelection(const MAPIUID& serviceUid, const std::wstring& selection)
{
    CStoreConfig config;
    return config.SetMailboxSelectionByName(CStoreConfig::FormatName(serviceUid), selection) ? S_OK : E_FAIL;
}

HRESULT CStoreProfile::Logon(IMAPISession** session) const
{
    return MAPILogonEx(0, Text(m_name.c_str()), nullptr, MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session);
}

HRESULT StoreEntryIdOf(IMAPISession* session, const MAPIUID& serviceUid, std::vector<BYTE>& entryId)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    Rows rows = AllRows(table.Get());
    if (!rows)
        return E_FAIL;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        if (!SameUid(Find(rows->aRow[i], PR_SERVICE_UID), serviceUid))
            continue;
        const SPropValue* id = Find(rows->aRow[i], PR_ENTRYID);
        if (!id)
            return MAPI_E_NOT_FOUND;
        entryId.assign(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT OpenStoreOf(IMAPISession* session, const MAPIUID& serviceUid, IMsgStore** store, ULONG flags)
{
    std::vector<BYTE> id;
    HRESULT hr = StoreEntryIdOf(session, serviceUid, id);
    if (FAILED(hr))
        return hr;
    return session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr,
                                 flags, reinterpret_cast<LPMDB*>(store));
}

std::wstring MailboxSelectionText(const std::vector<std::pair<LONGLONG, std::wstring>>& checked,
                                  const std::vector<std::pair<LONGLONG, std::wstring>>& unchecked)
{
    std::wstring text;
    for (const auto& item : checked)
        text += FormatMailboxSelectionItem({item.first, true, item.second});
    for (const auto& item : unchecked)
        text += FormatMailboxSelectionItem({item.first, false, item.second});
    return text;
}

} // namespace providertest
