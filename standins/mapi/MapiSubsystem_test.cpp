// Profiles, message services, sessions and support objects, driven as a
// MAPI client drives them, with the tests' toy message service.
#include "MapiSubsystem.h"
#include "StoreEntryIdWrap.h"
#include "ToyState.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kProfilesKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

struct RowsDeleter {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using RowSetPtr = std::unique_ptr<SRowSet, RowsDeleter>;

std::wstring InfPath()
{
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\MAPISVC.INF";
}

// The toy's services: a good one, and services whose DLLs cannot serve.
void WriteInf()
{
    struct Line {
        const wchar_t* section;
        const wchar_t* key;
        const wchar_t* value;
    };
    const Line lines[] = {
        {L"Services", L"TOYSTORE", L"Toy Store"},
        {L"TOYSTORE", L"PR_DISPLAY_NAME", L"Toy Store"},
        {L"TOYSTORE", L"PR_SERVICE_DLL_NAME", L"TOYSTORE.DLL"},
        {L"TOYSTORE", L"PR_SERVICE_ENTRY_NAME", L"ServiceEntry"},
        {L"TOYSTORE", L"PR_RESOURCE_FLAGS", L"SERVICE_NO_PRIMARY_IDENTITY"},
        {L"TOYSTORE", L"Providers", L"P_TOYSTORE"},
        {L"P_TOYSTORE", L"PR_RESOURCE_TYPE", L"MAPI_STORE_PROVIDER"},
        {L"P_TOYSTORE", L"PR_PROVIDER_DLL_NAME", L"TOYSTORE.DLL"},
        {L"P_TOYSTORE", L"PR_RESOURCE_FLAGS", L"STATUS_DEFAULT_STORE"},
        {L"P_TOYSTORE", L"PR_PROVIDER_DISPLAY", L"Toy Store Provider"},
        // A service whose own DLL does not exist.
        {L"Services", L"TOYNODLL", L"Toy without DLL"},
        {L"TOYNODLL", L"PR_SERVICE_DLL_NAME", L"NOSUCHTOY.DLL"},
        {L"TOYNODLL", L"PR_SERVICE_ENTRY_NAME", L"ServiceEntry"},
        {L"TOYNODLL", L"Providers", L"P_TOYNODLL"},
        {L"P_TOYNODLL", L"PR_RESOURCE_TYPE", L"MAPI_STORE_PROVIDER"},
        {L"P_TOYNODLL", L"PR_PROVIDER_DLL_NAME", L"NOSUCHTOY.DLL"},
        // Services that configure fine but whose store provider cannot load,
        // or loads and has no MSProviderInit (KERNEL.DLL is KERNEL32.DLL).
        {L"Services", L"TOYNOPROV", L"Toy without provider"},
        {L"TOYNOPROV", L"PR_SERVICE_DLL_NAME", L"TOYSTORE.DLL"},
        {L"TOYNOPROV", L"PR_SERVICE_ENTRY_NAME", L"ServiceEntry"},
        {L"TOYNOPROV", L"Providers", L"P_TOYNOPROV"},
        {L"P_TOYNOPROV", L"PR_RESOURCE_TYPE", L"MAPI_STORE_PROVIDER"},
        {L"P_TOYNOPROV", L"PR_PROVIDER_DLL_NAME", L"NOSUCHTOY.DLL"},
        {L"Services", L"TOYNOINIT", L"Toy without MSProviderInit"},
        {L"TOYNOINIT", L"PR_SERVICE_DLL_NAME", L"TOYSTORE.DLL"},
        {L"TOYNOINIT", L"PR_SERVICE_ENTRY_NAME", L"ServiceEntry"},
        {L"TOYNOINIT", L"Providers", L"P_TOYNOINIT"},
        {L"P_TOYNOINIT", L"PR_RESOURCE_TYPE", L"MAPI_STORE_PROVIDER"},
        {L"P_TOYNOINIT", L"PR_PROVIDER_DLL_NAME", L"KERNEL.DLL"},
    };
    std::wstring path = InfPath();
    for (const Line& line : lines)
        WritePrivateProfileStringW(line.section, line.key, line.value, path.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}

DWORD SectionCount(const std::wstring& profile)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kProfilesKey) + L"\\" + profile).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return static_cast<DWORD>(-1);
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return count;
}

RowSetPtr AllRows(IMAPITable* table)
{
    LPSRowSet rows = nullptr;
    EXPECT_EQ(S_OK, HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &rows));
    return RowSetPtr(rows);
}

const SPropValue* Find(const SRow& row, ULONG tag)
{
    return PpropFindProp(row.lpProps, row.cValues, tag);
}

std::vector<BYTE> Bytes(const SPropValue* value)
{
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY)
        return {};
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

HRESULT Unwrap(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* name, ULONG* cbOrig, LPENTRYID* orig)
{
    return mapistub::UnwrapStoreEntryID(cbWrapped, lpWrapped, name, cbOrig, orig);
}

LPTSTR W(const wchar_t* text)
{
    return reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(text));
}

class MapiSubsystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
        WriteInf();
        m_toy = LoadLibraryW(L"TOYSTORE32.DLL");
        ASSERT_NE(nullptr, m_toy);
        auto get = reinterpret_cast<ToyGetStateFn>(reinterpret_cast<void*>(GetProcAddress(m_toy, "ToyGetState")));
        ASSERT_NE(nullptr, get);
        m_state = get();
        *m_state = ToyState();
        ASSERT_EQ(S_OK, MAPIAdminProfiles(0, m_profAdmin.GetAddressOf()));
        m_profile = L"ToyProfile" + std::to_wstring(GetTickCount()) + L"_" + std::to_wstring(++s_counter);
        ASSERT_EQ(S_OK, m_profAdmin->CreateProfile(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE));
        ASSERT_EQ(S_OK, m_profAdmin->AdminServices(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE,
                                                    m_services.GetAddressOf()));
    }

    void TearDown() override
    {
        m_services.Reset();
        if (m_profAdmin)
            m_profAdmin->DeleteProfile(W(m_profile.c_str()), MAPI_UNICODE);
        m_profAdmin.Reset();
        MAPIUninitialize();
    }

    // Creates a service and returns its UID (the newest row of the table).
    HRESULT CreateService(const wchar_t* name, MAPIUID* uid, ULONG flags = SERVICE_UI_ALLOWED)
    {
        HRESULT hr = m_services->CreateMsgService(W(name), W(L"My Toy"), 0, flags | MAPI_UNICODE);
        if (FAILED(hr) || !uid)
            return hr;
        ComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, m_services->GetMsgServiceTable(MAPI_UNICODE, table.GetAddressOf()));
        RowSetPtr rows = AllRows(table.Get());
        EXPECT_LT(0u, rows->cRows);
        std::vector<BYTE> bytes = Bytes(Find(rows->aRow[rows->cRows - 1], PR_SERVICE_UID));
        EXPECT_EQ(sizeof(MAPIUID), bytes.size());
        std::memcpy(uid->ab, bytes.data(), sizeof(uid->ab));
        return hr;
    }

    ULONG ServiceCount()
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, m_services->GetMsgServiceTable(0, table.GetAddressOf()));
        return AllRows(table.Get())->cRows;
    }

    ComPtr<IMAPISession> Logon()
    {
        ComPtr<IMAPISession> session;
        EXPECT_EQ(S_OK, MAPILogonEx(0, W(m_profile.c_str()), nullptr, MAPI_UNICODE | MAPI_NEW_SESSION,
                                    session.GetAddressOf()));
        return session;
    }

    std::vector<BYTE> StoreEntryId(IMAPISession* session)
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(S_OK, session->GetMsgStoresTable(0, table.GetAddressOf()));
        RowSetPtr rows = AllRows(table.Get());
        EXPECT_EQ(1u, rows->cRows);
        return rows->cRows ? Bytes(Find(rows->aRow[0], PR_ENTRYID)) : std::vector<BYTE>();
    }

    HRESULT OpenStore(IMAPISession* session, const std::vector<BYTE>& id, IMsgStore** store)
    {
        return session->OpenMsgStore(0, static_cast<ULONG>(id.size()),
                                     reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())), nullptr,
                                     MDB_NO_DIALOG, reinterpret_cast<LPMDB*>(store));
    }

    static int s_counter;
    HMODULE m_toy = nullptr;
    ToyState* m_state = nullptr;
    ComPtr<IProfAdmin> m_profAdmin;
    ComPtr<IMsgServiceAdmin> m_services;
    std::wstring m_profile;
};

int MapiSubsystemTest::s_counter = 0;

TEST_F(MapiSubsystemTest, ProfilesAreListedRefusedTwiceAndDeleted)
{
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, m_profAdmin->GetProfileTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    bool listed = false;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* name = Find(rows->aRow[i], PR_DISPLAY_NAME_W);
        listed |= name && m_profile == name->Value.lpszW;
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(MAPI_E_NO_ACCESS, m_profAdmin->CreateProfile(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE));
    // Names come as 8-bit text unless the flags say MAPI_UNICODE.
    std::string ansi = mapistub::AnsiText(m_profile);
    EXPECT_EQ(MAPI_E_NO_ACCESS, m_profAdmin->CreateProfile(reinterpret_cast<LPTSTR>(&ansi[0]), nullptr, 0, 0));
    for (const char* bad : {"", "back\\slash"})
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
                  m_profAdmin->CreateProfile(reinterpret_cast<LPTSTR>(const_cast<char*>(bad)), nullptr, 0, 0));
    EXPECT_EQ(MAPI_E_NOT_FOUND, m_profAdmin->DeleteProfile(W(L"NoSuchProfile"), MAPI_UNICODE));
    ComPtr<IMsgServiceAdmin> none;
    EXPECT_EQ(MAPI_E_NOT_FOUND,
              m_profAdmin->AdminServices(W(L"NoSuchProfile"), nullptr, 0, MAPI_UNICODE, none.GetAddressOf()));
    ComPtr<IMAPISession> session;
    EXPECT_EQ(MAPI_E_LOGON_FAILED,
              MAPILogonEx(0, W(L"NoSuchProfile"), nullptr, MAPI_UNICODE | MAPI_NEW_SESSION, session.GetAddressOf()));

    // The profile name is in the profile's global section.
    session = Logon();
    ASSERT_TRUE(session);
    const MAPIUID global = {{0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};
    ComPtr<IProfSect> section;
    ASSERT_EQ(S_OK, session->OpenProfileSection(const_cast<LPMAPIUID>(&global), nullptr, 0, section.GetAddressOf()));
    LPSPropValue name = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(section.Get(), PR_PROFILE_NAME_W, &name));
    EXPECT_EQ(m_profile, name->Value.lpszW);
    MAPIFreeBuffer(name);
    // Opened without MAPI_MODIFY, a section refuses changes.
    SPropValue value{};
    value.ulPropTag = PR_COMMENT_W;
    value.Value.lpszW = const_cast<LPWSTR>(L"x");
    EXPECT_EQ(MAPI_E_NO_ACCESS, section->SetProps(1, &value, nullptr));
}

TEST_F(MapiSubsystemTest, NothingWorksBeforeInitialize)
{
    MAPIUninitialize();
    ComPtr<IMAPISession> session;
    EXPECT_EQ(MAPI_E_NOT_INITIALIZED,
              MAPILogonEx(0, W(m_profile.c_str()), nullptr, MAPI_UNICODE, session.GetAddressOf()));
    ComPtr<IProfAdmin> admin;
    EXPECT_EQ(MAPI_E_NOT_INITIALIZED, MAPIAdminProfiles(0, admin.GetAddressOf()));
    ASSERT_EQ(S_OK, MAPIInitialize(nullptr));
}

TEST_F(MapiSubsystemTest, CreateMsgServiceCallsServiceEntryAndBuildsSections)
{
    MAPIUID uid;
    ASSERT_EQ(S_OK, CreateService(L"TOYSTORE", &uid));
    ASSERT_EQ(1u, m_state->serviceCalls.size());
    const ToyServiceCall& call = m_state->serviceCalls[0];
    EXPECT_EQ(static_cast<ULONG>(MSG_SERVICE_CREATE), call.context);
    EXPECT_EQ(static_cast<ULONG>(SERVICE_UI_ALLOWED), call.flags);
    EXPECT_TRUE(call.hadSupport);
    EXPECT_TRUE(call.hadAdmin);
    EXPECT_TRUE(call.hadMalloc);

    // Service table and section: as MAPISVC.INF describes the service.
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, m_services->GetMsgServiceTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr services = AllRows(table.Get());
    ASSERT_EQ(1u, services->cRows);
    EXPECT_STREQ(L"TOYSTORE", Find(services->aRow[0], PR_SERVICE_NAME_W)->Value.lpszW);
    EXPECT_STREQ(L"My Toy", Find(services->aRow[0], PR_DISPLAY_NAME_W)->Value.lpszW);
    EXPECT_EQ(static_cast<LONG>(SERVICE_NO_PRIMARY_IDENTITY), Find(services->aRow[0], PR_RESOURCE_FLAGS)->Value.l);
    // Without MAPI_UNICODE the same table answers 8-bit strings.
    table.Reset();
    ASSERT_EQ(S_OK, m_services->GetMsgServiceTable(0, table.GetAddressOf()));
    RowSetPtr ansiRows = AllRows(table.Get());
    ASSERT_EQ(1u, ansiRows->cRows);
    ASSERT_NE(nullptr, Find(ansiRows->aRow[0], PR_DISPLAY_NAME_A));
    EXPECT_STREQ("My Toy", Find(ansiRows->aRow[0], PR_DISPLAY_NAME_A)->Value.lpszA);
    ComPtr<IProfSect> serviceSection;
    ASSERT_EQ(S_OK, m_services->OpenProfileSection(&uid, nullptr, 0, serviceSection.GetAddressOf()));
    LPSPropValue stores = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(serviceSection.Get(), PR_STORE_PROVIDERS, &stores));
    ASSERT_EQ(sizeof(MAPIUID), stores->Value.bin.cb);
    MAPIUID providerSection;
    std::memcpy(providerSection.ab, stores->Value.bin.lpb, sizeof(providerSection.ab));
    MAPIFreeBuffer(stores);

    // Provider table: the one store provider, whose section the service
    // entry completed with the store's entry identifier.
    ComPtr<IProviderAdmin> providers;
    ASSERT_EQ(S_OK, m_services->AdminProviders(&uid, 0, providers.GetAddressOf()));
    table.Reset();
    ASSERT_EQ(S_OK, providers->GetProviderTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    ASSERT_EQ(1u, rows->cRows);
    EXPECT_EQ(Bytes(Find(rows->aRow[0], PR_PROVIDER_UID)),
              std::vector<BYTE>(providerSection.ab, providerSection.ab + 16));
    EXPECT_EQ(static_cast<LONG>(MAPI_STORE_PROVIDER), Find(rows->aRow[0], PR_RESOURCE_TYPE)->Value.l);
    EXPECT_STREQ(L"TOYSTORE.DLL", Find(rows->aRow[0], PR_PROVIDER_DLL_NAME_W)->Value.lpszW);
    EXPECT_EQ(static_cast<LONG>(STATUS_DEFAULT_STORE), Find(rows->aRow[0], PR_RESOURCE_FLAGS)->Value.l);

    // A new admin object, as a later process would make, reads it all back.
    ComPtr<IProfAdmin> again;
    ASSERT_EQ(S_OK, MAPIAdminProfiles(0, again.GetAddressOf()));
    ComPtr<IMsgServiceAdmin> services2;
    ASSERT_EQ(S_OK, again->AdminServices(W(m_profile.c_str()), nullptr, 0, MAPI_UNICODE, services2.GetAddressOf()));
    ComPtr<IProfSect> providerProps;
    ASSERT_EQ(S_OK, services2->OpenProfileSection(&providerSection, nullptr, 0, providerProps.GetAddressOf()));
    SizedSPropTagArray(3, tags) = {3, {PR_ENTRYID, PR_SERVICE_UID, PR_DISPLAY_NAME_A}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(S_OK, providerProps->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values));
    EXPECT_LT(sizeof(ToyEntryId), values[0].Value.bin.cb);
    EXPECT_EQ(0, std::memcmp(values[1].Value.bin.lpb, uid.ab, 16));
    EXPECT_STREQ("Toy Store", values[2].Value.lpszA);
    MAPIFreeBuffer(values);
}

TEST_F(MapiSubsystemTest, ConfigureAndDeleteReachServiceEntry)
{
    MAPIUID uid;
    ASSERT_EQ(S_OK, CreateService(L"TOYSTORE", &uid));
    DWORD sections = SectionCount(m_profile);
    EXPECT_EQ(3u, sections); // global, service, provider

    SPropValue value{};
    value.ulPropTag = PR_COMMENT_W;
    value.Value.lpszW = const_cast<LPWSTR>(L"configured");
    ASSERT_EQ(S_OK, m_services->ConfigureMsgService(&uid, 0, 0, 1, &value));
    ASSERT_EQ(2u, m_state->serviceCalls.size());
    EXPECT_EQ(static_cast<ULONG>(MSG_SERVICE_CONFIGURE), m_state->serviceCalls[1].context);
    EXPECT_EQ(1u, m_state->serviceCalls[1].cValues);
    ComPtr<IProfSect> section;
    ASSERT_EQ(S_OK, m_services->OpenProfileSection(&uid, nullptr, 0, section.GetAddressOf()));
    LPSPropValue comment = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(section.Get(), PR_COMMENT_W, &comment));
    EXPECT_STREQ(L"configured", comment->Value.lpszW);
    MAPIFreeBuffer(comment);

    ASSERT_EQ(S_OK, m_services->DeleteMsgService(&uid));
    ASSERT_EQ(3u, m_state->serviceCalls.size());
    EXPECT_EQ(static_cast<ULONG>(MSG_SERVICE_DELETE), m_state->serviceCalls[2].context);
    EXPECT_EQ(0u, ServiceCount());
    EXPECT_EQ(1u, SectionCount(m_profile));
    EXPECT_EQ(MAPI_E_NOT_FOUND, m_services->DeleteMsgService(&uid));
    EXPECT_EQ(MAPI_E_NOT_FOUND, m_services->ConfigureMsgService(&uid, 0, 0, 0, nullptr));
}

TEST_F(MapiSubsystemTest, CreateRefusedBeforeTheEntryLeavesNothingButAFailedEntryKeepsTheService)
{
    struct Case {
        const wchar_t* service;
        HRESULT entryResult;
        HRESULT expected;
        ULONG servicesAfter;
    };
    const Case cases[] = {
        {L"NOSUCHSERVICE", S_OK, MAPI_E_NOT_FOUND, 0},
        {L"TOYNODLL", S_OK, MAPI_E_NOT_FOUND, 0},
        // MAPI has written the service before it calls the entry, and leaves
        // it to the caller to delete.
        {L"TOYSTORE", MAPI_E_USER_CANCEL, MAPI_E_USER_CANCEL, 1},
        {L"TOYSTORE", MAPI_E_CALL_FAILED, MAPI_E_CALL_FAILED, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "service " << mapistub::AnsiText(c.service) << ", entry " << std::hex
                                        << c.entryResult);
        m_state->serviceEntryResult = c.entryResult;
        EXPECT_EQ(c.expected, CreateService(c.service, nullptr));
        m_state->serviceEntryResult = S_OK;
        ASSERT_EQ(c.servicesAfter, ServiceCount());
        if (c.servicesAfter == 0) {
            EXPECT_EQ(1u, SectionCount(m_profile));
            continue;
        }
        ComPtr<IMAPITable> table;
        ASSERT_EQ(S_OK, m_services->GetMsgServiceTable(0, table.GetAddressOf()));
        RowSetPtr rows = AllRows(table.Get());
        std::vector<BYTE> bytes = Bytes(Find(rows->aRow[0], PR_SERVICE_UID));
        ASSERT_EQ(sizeof(MAPIUID), bytes.size());
        MAPIUID uid;
        std::memcpy(uid.ab, bytes.data(), sizeof(uid.ab));
        EXPECT_EQ(S_OK, m_services->DeleteMsgService(&uid));
        EXPECT_EQ(0u, ServiceCount());
        EXPECT_EQ(1u, SectionCount(m_profile));
    }
}

TEST_F(MapiSubsystemTest, LogonListsAndOpensTheStoreThroughItsProvider)
{
    MAPIUID uid;
    ASSERT_EQ(S_OK, CreateService(L"TOYSTORE", &uid));
    ComPtr<IMAPISession> session = Logon();
    ASSERT_TRUE(session);

    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, session->GetMsgStoresTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    ASSERT_EQ(1u, rows->cRows);
    const SRow& row = rows->aRow[0];
    EXPECT_STREQ(L"Toy Store", Find(row, PR_DISPLAY_NAME_W)->Value.lpszW);
    EXPECT_EQ(16u, Bytes(Find(row, PR_MDB_PROVIDER)).size());
    EXPECT_EQ(Bytes(Find(row, PR_SERVICE_UID)), std::vector<BYTE>(uid.ab, uid.ab + 16));
    EXPECT_EQ(static_cast<LONG>(STATUS_DEFAULT_STORE), Find(row, PR_RESOURCE_FLAGS)->Value.l);
    EXPECT_TRUE(Find(row, PR_DEFAULT_STORE)->Value.b);
    std::vector<BYTE> id = Bytes(Find(row, PR_ENTRYID));
    ASSERT_FALSE(id.empty());

    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, OpenStore(session.Get(), id, store.GetAddressOf()));
    EXPECT_EQ(1, m_state->providerInits);
    EXPECT_EQ(static_cast<ULONG>(CURRENT_SPI_VERSION), m_state->mapiVersion);
    EXPECT_TRUE(m_state->hadAllocators);
    EXPECT_EQ(1, m_state->logons);
    EXPECT_TRUE(m_state->logonHadSupport);
    EXPECT_TRUE(m_state->sectionHadServiceUid);
    EXPECT_EQ(sizeof(ToyEntryId), m_state->logonEntryIdSize); // the provider's own bytes, unwrapped
    LPSPropValue name = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(store.Get(), PR_DISPLAY_NAME_W, &name));
    EXPECT_STREQ(L"Toy Store", name->Value.lpszW);
    MAPIFreeBuffer(name);

    // The support object works for the provider: allocators, UIDs, wrapping.
    IMAPISupport* support = m_state->lastSupport;
    ASSERT_NE(nullptr, support);
    LPALLOCATEBUFFER allocate = nullptr;
    ASSERT_EQ(S_OK, support->GetMemAllocRoutines(&allocate, nullptr, nullptr));
    EXPECT_NE(nullptr, allocate);
    ToyEntryId raw{};
    raw.kind = 1;
    ULONG cbWrapped = 0;
    LPENTRYID wrapped = nullptr;
    ASSERT_EQ(S_OK, support->WrapStoreEntryID(sizeof(raw), reinterpret_cast<LPENTRYID>(&raw), &cbWrapped, &wrapped));
    LPSTR dll = nullptr;
    ULONG cbOrig = 0;
    LPENTRYID orig = nullptr;
    ASSERT_EQ(S_OK, Unwrap(cbWrapped, wrapped, &dll, &cbOrig, &orig));
    EXPECT_STREQ("TOYSTORE.DLL", dll);
    MAPIFreeBuffer(wrapped);
    ULONG logoffFlags = LOGOFF_ABORT;
    EXPECT_EQ(S_OK, support->StoreLogoffTransports(&logoffFlags));
    EXPECT_EQ(S_OK, support->ModifyProfile(0));

    // A second open of the same store reuses the logon.
    ComPtr<IMsgStore> again;
    ASSERT_EQ(S_OK, OpenStore(session.Get(), id, again.GetAddressOf()));
    EXPECT_EQ(store.Get(), again.Get());
    EXPECT_EQ(1, m_state->logons);

    // Entry identifiers of the store route to it by the UID it registered.
    ToyEntryId own{};
    own.store = uid;
    own.kind = 1;
    ULONG type = 0;
    ComPtr<IUnknown> opened;
    ASSERT_EQ(S_OK, session->OpenEntry(sizeof(own), reinterpret_cast<LPENTRYID>(&own), nullptr, 0, &type,
                                       opened.GetAddressOf()));
    EXPECT_EQ(static_cast<ULONG>(MAPI_STORE), type);
    ULONG same = FALSE;
    ASSERT_EQ(S_OK, session->CompareEntryIDs(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()),
                                             static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), 0,
                                             &same));
    EXPECT_TRUE(same);
    ToyEntryId stranger{};
    stranger.kind = 1;
    opened.Reset();
    EXPECT_EQ(MAPI_E_UNKNOWN_ENTRYID, session->OpenEntry(sizeof(stranger), reinterpret_cast<LPENTRYID>(&stranger),
                                                         nullptr, 0, &type, opened.GetAddressOf()));

    // The status row the provider published.
    table.Reset();
    ASSERT_EQ(S_OK, session->GetStatusTable(0, table.GetAddressOf()));
    rows = AllRows(table.Get());
    ASSERT_EQ(1u, rows->cRows);
    EXPECT_STREQ("Available", Find(rows->aRow[0], PR_STATUS_STRING_A)->Value.lpszA);

    ASSERT_EQ(S_OK, session->Logoff(0, 0, 0));
    EXPECT_EQ(1, m_state->logoffs);
    EXPECT_EQ(1, m_state->shutdowns);
}

TEST_F(MapiSubsystemTest, StoresThatCannotOpenGiveMapiErrorsAndChangeNothing)
{
    struct Case {
        const wchar_t* service;
        HRESULT logonResult;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"TOYNOPROV", S_OK, MAPI_E_FAILONEPROVIDER},
        {L"TOYNOINIT", S_OK, MAPI_E_FAILONEPROVIDER},
        {L"TOYSTORE", MAPI_E_FAILONEPROVIDER, MAPI_E_FAILONEPROVIDER},
        {L"TOYSTORE", MAPI_E_LOGON_FAILED, MAPI_E_LOGON_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "service " << mapistub::AnsiText(c.service));
        MAPIUID uid;
        ASSERT_EQ(S_OK, CreateService(c.service, &uid));
        DWORD sections = SectionCount(m_profile);
        m_state->logonResult = c.logonResult;
        ComPtr<IMAPISession> session = Logon();
        ASSERT_TRUE(session);
        std::vector<BYTE> id = StoreEntryId(session.Get());
        ComPtr<IMsgStore> store;
        EXPECT_EQ(c.expected, OpenStore(session.Get(), id, store.GetAddressOf()));
        EXPECT_FALSE(store);
        EXPECT_EQ(sections, SectionCount(m_profile));
        EXPECT_EQ(1u, ServiceCount());
        if (c.logonResult != S_OK) {
            // MAPI_E_FAILONEPROVIDER lets the same session try again; any
            // other failure fails the provider for the session, and only a
            // new session calls Logon again.
            m_state->logonResult = S_OK;
            int logons = m_state->logons;
            HRESULT again = OpenStore(session.Get(), id, store.GetAddressOf());
            if (c.logonResult == MAPI_E_FAILONEPROVIDER) {
                EXPECT_EQ(S_OK, again);
            } else {
                EXPECT_EQ(c.logonResult, again);
                EXPECT_EQ(logons, m_state->logons);
                store.Reset();
                session->Logoff(0, 0, 0);
                session = Logon();
                EXPECT_EQ(S_OK, OpenStore(session.Get(), id, store.GetAddressOf()));
            }
        }
        store.Reset();
        session->Logoff(0, 0, 0);
        ASSERT_EQ(S_OK, m_services->DeleteMsgService(&uid));
    }
    ComPtr<IMAPISession> session = Logon();
    ComPtr<IMsgStore> store;
    BYTE junk[40] = {1, 2, 3};
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, session->OpenMsgStore(0, sizeof(junk), reinterpret_cast<LPENTRYID>(junk),
                                                            nullptr, 0, reinterpret_cast<LPMDB*>(store.GetAddressOf())));
}

// A client's sink that counts what arrives and on which thread.
class CCountingSink : public IMAPIAdviseSink {
public:
    CCountingSink() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~CCountingSink() { CloseHandle(m_event); }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIAdviseSink) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_refs); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_refs); }
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override
    {
        for (ULONG i = 0; i < cNotif; ++i) {
            events.push_back(lpNotifications[i].ulEventType);
            if (lpNotifications[i].ulEventType == fnevNewMail)
                classes.push_back(reinterpret_cast<const char*>(lpNotifications[i].info.newmail.lpszMessageClass));
        }
        thread = GetCurrentThreadId();
        SetEvent(m_event);
        return 0;
    }
    bool Wait() { return WaitForSingleObject(m_event, 5000) == WAIT_OBJECT_0; }

    std::vector<ULONG> events;
    std::vector<std::string> classes;
    DWORD thread = 0;
    LONG m_refs = 1;
    HANDLE m_event;
};

TEST_F(MapiSubsystemTest, NotificationsSubscribedByTheProviderReachTheClient)
{
    MAPIUID uid;
    ASSERT_EQ(S_OK, CreateService(L"TOYSTORE", &uid));
    for (bool sync : {true, false}) {
        SCOPED_TRACE(sync ? "synchronous" : "asynchronous");
        m_state->syncNotifications = sync;
        ComPtr<IMAPISession> session = Logon();
        ComPtr<IMsgStore> store;
        ASSERT_EQ(S_OK, OpenStore(session.Get(), StoreEntryId(session.Get()), store.GetAddressOf()));
        CCountingSink sink;
        ULONG connection = 0;
        ASSERT_EQ(S_OK, store->Advise(0, nullptr, fnevNewMail, &sink, &connection));
        EXPECT_NE(0u, connection);

        char messageClass[] = "IPM.Note.Toy";
        NOTIFICATION n{};
        n.ulEventType = fnevNewMail;
        n.info.newmail.lpszMessageClass = reinterpret_cast<LPTSTR>(messageClass);
        // An event the sink did not ask for does not reach it.
        NOTIFICATION other{};
        other.ulEventType = fnevObjectDeleted;
        ASSERT_EQ(S_OK, store->NotifyNewMail(&other));
        ASSERT_EQ(S_OK, store->NotifyNewMail(&n));
        ASSERT_TRUE(sink.Wait());
        if (sync)
            EXPECT_EQ(GetCurrentThreadId(), sink.thread);
        else
            EXPECT_NE(GetCurrentThreadId(), sink.thread);
        ASSERT_EQ(1u, sink.events.size());
        EXPECT_EQ(static_cast<ULONG>(fnevNewMail), sink.events[0]);
        EXPECT_EQ("IPM.Note.Toy", sink.classes[0]);

        ASSERT_EQ(S_OK, store->Unadvise(connection));
        ASSERT_EQ(S_OK, store->NotifyNewMail(&n));
        EXPECT_FALSE(WaitForSingleObject(sink.m_event, 200) == WAIT_OBJECT_0);
        EXPECT_EQ(1u, sink.events.size());
        EXPECT_EQ(1, sink.m_refs); // the registry let the sink go
        store.Reset();
        session->Logoff(0, 0, 0);
    }
}

TEST_F(MapiSubsystemTest, SharedSessionIsJoinedWithoutProfileName)
{
    ComPtr<IMAPISession> shared;
    ASSERT_EQ(S_OK, MAPILogonEx(0, W(m_profile.c_str()), nullptr, MAPI_UNICODE | MAPI_ALLOW_OTHERS | MAPI_NEW_SESSION,
                                shared.GetAddressOf()));
    ComPtr<IMAPISession> joined;
    ASSERT_EQ(S_OK, MAPILogonEx(0, nullptr, nullptr, 0, joined.GetAddressOf()));
    EXPECT_EQ(shared.Get(), joined.Get());
    // What Outlook's object model hands out as MAPIOBJECT is the session's
    // IUnknown, which answers IMAPISession.
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, shared.As(&unknown));
    ComPtr<IMAPISession> fromUnknown;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_IMAPISession, reinterpret_cast<void**>(fromUnknown.GetAddressOf())));
    EXPECT_EQ(shared.Get(), fromUnknown.Get());
    ASSERT_EQ(S_OK, shared->Logoff(0, 0, 0));
    joined.Reset();
    ComPtr<IMAPISession> none;
    EXPECT_EQ(MAPI_E_LOGON_FAILED, MAPILogonEx(0, nullptr, nullptr, 0, none.GetAddressOf()));
}

// Copies: every property of a toy folder tree reproduced in the writable
// store. Values are compared in a canonical form: named properties by name,
// values the source only hands out as streams by their stream's bytes.
using PropMap = std::map<std::string, std::string>;

const ULONG kNotCompared[] = {
    PROP_ID(PR_ENTRYID),       PROP_ID(PR_PARENT_ENTRYID),   PROP_ID(PR_RECORD_KEY),   PROP_ID(PR_INSTANCE_KEY),
    PROP_ID(PR_STORE_ENTRYID), PROP_ID(PR_STORE_RECORD_KEY), PROP_ID(PR_OBJECT_TYPE),  PROP_ID(PR_CONTENT_COUNT),
    PROP_ID(PR_CONTENT_UNREAD), PROP_ID(PR_ASSOC_CONTENT_COUNT), PROP_ID(PR_SUBFOLDERS), PROP_ID(PR_ATTACH_NUM),
    PROP_ID(PR_ROWID),         PROP_ID(PR_DEPTH),            PROP_ID(PR_MDB_PROVIDER),
};

std::string Hex(ULONG v)
{
    char text[16];
    wsprintfA(text, "%08lx", v);
    return text;
}

std::string Canonical(const SPropValue& value)
{
    const SPropValue& v = value;
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_UNICODE: return std::string(reinterpret_cast<const char*>(v.Value.lpszW), wcslen(v.Value.lpszW) * 2);
    case PT_STRING8: return v.Value.lpszA;
    case PT_BINARY: return std::string(reinterpret_cast<const char*>(v.Value.bin.lpb), v.Value.bin.cb);
    case PT_CLSID: return std::string(reinterpret_cast<const char*>(v.Value.lpguid), sizeof(GUID));
    case PT_LONG: return Hex(static_cast<ULONG>(v.Value.l));
    case PT_I2: return Hex(static_cast<USHORT>(v.Value.i));
    case PT_BOOLEAN: return v.Value.b ? "true" : "false";
    case PT_I8: case PT_CURRENCY: case PT_SYSTIME: case PT_DOUBLE: case PT_APPTIME:
        return std::string(reinterpret_cast<const char*>(&v.Value.li), 8);
    case PT_MV_UNICODE: {
        std::string all;
        for (ULONG i = 0; i < v.Value.MVszW.cValues; ++i)
            all += std::string(reinterpret_cast<const char*>(v.Value.MVszW.lppszW[i]), wcslen(v.Value.MVszW.lppszW[i]) * 2) + '|';
        return all;
    }
    default: return "type " + Hex(PROP_TYPE(v.ulPropTag));
    }
}

std::string StreamBytes(IMAPIProp* object, ULONG tag)
{
    ComPtr<IStream> stream;
    if (FAILED(object->OpenProperty(tag, &IID_IStream, STGM_READ, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()))))
        return "<no stream>";
    std::string bytes;
    char buffer[4096];
    ULONG got = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof(buffer), &got)) && got)
        bytes.append(buffer, got);
    return bytes;
}

PropMap PropsOf(IMAPIProp* object, const std::vector<ULONG>& skip = {})
{
    PropMap map;
    LPSPropTagArray list = nullptr;
    EXPECT_EQ(S_OK, object->GetPropList(MAPI_UNICODE, &list));
    if (!list)
        return map;
    for (ULONG i = 0; i < list->cValues; ++i) {
        ULONG tag = list->aulPropTag[i];
        ULONG id = PROP_ID(tag);
        if (PROP_TYPE(tag) == PT_OBJECT || std::find(std::begin(kNotCompared), std::end(kNotCompared), id) != std::end(kNotCompared) ||
            std::find(skip.begin(), skip.end(), id) != skip.end())
            continue;
        std::string key = "tag " + Hex(tag);
        if (id >= 0x8000) {
            SizedSPropTagArray(1, one) = {1, {tag}};
            LPSPropTagArray tags = reinterpret_cast<LPSPropTagArray>(&one);
            ULONG count = 0;
            LPMAPINAMEID* names = nullptr;
            EXPECT_EQ(S_OK, object->GetNamesFromIDs(&tags, nullptr, 0, &count, &names));
            if (names && names[0] && names[0]->ulKind == MNID_STRING)
                key = "name " + std::string(reinterpret_cast<const char*>(names[0]->lpguid), 16) +
                      mapistub::AnsiText(names[0]->Kind.lpwstrName) + " " + Hex(PROP_TYPE(tag));
            MAPIFreeBuffer(names);
        }
        SizedSPropTagArray(1, single) = {1, {tag}};
        ULONG count = 0;
        LPSPropValue value = nullptr;
        object->GetProps(reinterpret_cast<LPSPropTagArray>(&single), MAPI_UNICODE, &count, &value);
        if (value && PROP_TYPE(value->ulPropTag) == PT_ERROR &&
            (value->Value.err == E_OUTOFMEMORY || value->Value.err == MAPI_E_NOT_ENOUGH_MEMORY))
            map[key] = StreamBytes(object, tag);
        else if (value)
            map[key] = Canonical(*value);
        MAPIFreeBuffer(value);
    }
    MAPIFreeBuffer(list);
    return map;
}

std::vector<PropMap> RowsOf(IMAPITable* table)
{
    std::vector<PropMap> result;
    RowSetPtr rows = AllRows(table);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        PropMap map;
        for (ULONG i = 0; i < rows->aRow[r].cValues; ++i) {
            const SPropValue& v = rows->aRow[r].lpProps[i];
            ULONG id = PROP_ID(v.ulPropTag);
            if (PROP_TYPE(v.ulPropTag) != PT_ERROR &&
                std::find(std::begin(kNotCompared), std::end(kNotCompared), id) == std::end(kNotCompared))
                map["tag " + Hex(v.ulPropTag)] = Canonical(v);
        }
        result.push_back(map);
    }
    return result;
}

void ExpectSameMessage(IMessage* source, IMessage* copy)
{
    EXPECT_EQ(PropsOf(source), PropsOf(copy));
    ComPtr<IMAPITable> a, b;
    ASSERT_EQ(S_OK, source->GetRecipientTable(MAPI_UNICODE, a.GetAddressOf()));
    ASSERT_EQ(S_OK, copy->GetRecipientTable(MAPI_UNICODE, b.GetAddressOf()));
    EXPECT_EQ(RowsOf(a.Get()), RowsOf(b.Get()));
    a.Reset();
    b.Reset();
    ASSERT_EQ(S_OK, source->GetAttachmentTable(0, a.GetAddressOf()));
    ASSERT_EQ(S_OK, copy->GetAttachmentTable(0, b.GetAddressOf()));
    RowSetPtr from = AllRows(a.Get());
    RowSetPtr to = AllRows(b.Get());
    ASSERT_EQ(from->cRows, to->cRows);
    for (ULONG r = 0; r < from->cRows; ++r) {
        ComPtr<IAttach> x, y;
        ASSERT_EQ(S_OK, source->OpenAttach(Find(from->aRow[r], PR_ATTACH_NUM)->Value.l, nullptr, 0, x.GetAddressOf()));
        ASSERT_EQ(S_OK, copy->OpenAttach(Find(to->aRow[r], PR_ATTACH_NUM)->Value.l, nullptr, 0, y.GetAddressOf()));
        EXPECT_EQ(PropsOf(x.Get()), PropsOf(y.Get()));
        LPSPropValue method = nullptr;
        ASSERT_EQ(S_OK, HrGetOneProp(x.Get(), PR_ATTACH_METHOD, &method));
        bool embedded = method->Value.l == ATTACH_EMBEDDED_MSG;
        MAPIFreeBuffer(method);
        if (embedded) {
            ComPtr<IMessage> inner1, inner2;
            ASSERT_EQ(S_OK, x->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, reinterpret_cast<LPUNKNOWN*>(inner1.GetAddressOf())));
            ASSERT_EQ(S_OK, y->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, reinterpret_cast<LPUNKNOWN*>(inner2.GetAddressOf())));
            ExpectSameMessage(inner1.Get(), inner2.Get());
        }
    }
}

// Children of a folder by display name (folders) or subject (messages).
std::map<std::wstring, std::vector<BYTE>> Children(IMAPIFolder* folder, bool folders)
{
    std::map<std::wstring, std::vector<BYTE>> children;
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, folders ? folder->GetHierarchyTable(0, table.GetAddressOf())
                            : folder->GetContentsTable(0, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    for (ULONG r = 0; r < rows->cRows; ++r) {
        std::vector<BYTE> id = Bytes(Find(rows->aRow[r], PR_ENTRYID));
        ULONG type = 0;
        ComPtr<IMAPIProp> child;
        EXPECT_EQ(S_OK, folder->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr, 0,
                                          &type, reinterpret_cast<LPUNKNOWN*>(child.GetAddressOf())));
        LPSPropValue name = nullptr;
        if (child && SUCCEEDED(HrGetOneProp(child.Get(), folders ? PR_DISPLAY_NAME_W : PR_SUBJECT_W, &name))) {
            children[name->Value.lpszW] = id;
            MAPIFreeBuffer(name);
        }
    }
    return children;
}

template <typename T>
ComPtr<T> OpenChild(IMAPIFolder* folder, const std::vector<BYTE>& id, const IID& iid)
{
    ULONG type = 0;
    ComPtr<T> child;
    EXPECT_EQ(S_OK, folder->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())),
                                      &iid, 0, &type, reinterpret_cast<LPUNKNOWN*>(child.GetAddressOf())));
    return child;
}

void ExpectSameFolder(IMAPIFolder* source, IMAPIFolder* copy, bool renamed)
{
    std::vector<ULONG> skip;
    if (renamed)
        skip.push_back(PROP_ID(PR_DISPLAY_NAME));
    EXPECT_EQ(PropsOf(source, skip), PropsOf(copy, skip));
    auto sourceMessages = Children(source, false);
    auto copyMessages = Children(copy, false);
    ASSERT_EQ(sourceMessages.size(), copyMessages.size());
    for (const auto& entry : sourceMessages) {
        SCOPED_TRACE(mapistub::AnsiText(entry.first));
        ASSERT_EQ(1u, copyMessages.count(entry.first));
        ComPtr<IMessage> a = OpenChild<IMessage>(source, entry.second, IID_IMessage);
        ComPtr<IMessage> b = OpenChild<IMessage>(copy, copyMessages[entry.first], IID_IMessage);
        ExpectSameMessage(a.Get(), b.Get());
    }
    auto sourceFolders = Children(source, true);
    auto copyFolders = Children(copy, true);
    ASSERT_EQ(sourceFolders.size(), copyFolders.size());
    for (const auto& entry : sourceFolders) {
        ASSERT_EQ(1u, copyFolders.count(entry.first));
        ComPtr<IMAPIFolder> a = OpenChild<IMAPIFolder>(source, entry.second, IID_IMAPIFolder);
        ComPtr<IMAPIFolder> b = OpenChild<IMAPIFolder>(copy, copyFolders[entry.first], IID_IMAPIFolder);
        ExpectSameFolder(a.Get(), b.Get(), false);
    }
}

class CCountingProgress : public IMAPIProgress {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override { *ppv = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Progress(ULONG ulValue, ULONG ulCount, ULONG ulTotal) override
    {
        ++calls;
        lastValue = ulValue;
        lastCount = ulCount;
        lastTotal = ulTotal;
        return S_OK;
    }
    STDMETHODIMP GetFlags(ULONG* lpulFlags) override { *lpulFlags = MAPI_TOP_LEVEL; return S_OK; }
    STDMETHODIMP GetMax(ULONG* lpulMax) override { *lpulMax = max; return S_OK; }
    STDMETHODIMP GetMin(ULONG* lpulMin) override { *lpulMin = 0; return S_OK; }
    STDMETHODIMP SetLimits(LPULONG, LPULONG lpulMax, LPULONG) override
    {
        ++limits;
        if (lpulMax)
            max = *lpulMax;
        return S_OK;
    }
    int calls = 0;
    int limits = 0;
    ULONG lastValue = 0, lastCount = 0, lastTotal = 0, max = 0;
};

class MapiCopyTest : public MapiSubsystemTest {
protected:
    void SetUp() override
    {
        MapiSubsystemTest::SetUp();
        ASSERT_EQ(S_OK, CreateService(L"TOYSTORE", nullptr));
        ASSERT_EQ(S_OK, CreateService(L"WRITABLESTORE", nullptr));
        m_session = Logon();
        ASSERT_TRUE(m_session);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(MAPI_UNICODE, table.GetAddressOf()));
        RowSetPtr rows = AllRows(table.Get());
        ASSERT_EQ(2u, rows->cRows);
        for (ULONG r = 0; r < rows->cRows; ++r) {
            std::vector<BYTE> id = Bytes(Find(rows->aRow[r], PR_ENTRYID));
            std::wstring name = Find(rows->aRow[r], PR_DISPLAY_NAME_W)->Value.lpszW;
            ASSERT_EQ(S_OK, OpenStore(m_session.Get(), id, name == L"Toy Store" ? m_toyStore.GetAddressOf()
                                                                                 : m_writable.GetAddressOf()));
        }
        ASSERT_TRUE(m_toyStore && m_writable);
        ULONG type = 0;
        ASSERT_EQ(S_OK, m_toyStore->OpenEntry(0, nullptr, &IID_IMAPIFolder, 0, &type,
                                              reinterpret_cast<LPUNKNOWN*>(m_toyRoot.GetAddressOf())));
        m_inboxId = Children(m_toyRoot.Get(), true)[L"Inbox"];
        ASSERT_FALSE(m_inboxId.empty());
        m_inbox = OpenChild<IMAPIFolder>(m_toyRoot.Get(), m_inboxId, IID_IMAPIFolder);
        LPSPropValue subtree = nullptr;
        ASSERT_EQ(S_OK, HrGetOneProp(m_writable.Get(), PR_IPM_SUBTREE_ENTRYID, &subtree));
        ASSERT_EQ(S_OK, m_writable->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb),
                                              &IID_IMAPIFolder, MAPI_MODIFY, &type,
                                              reinterpret_cast<LPUNKNOWN*>(m_top.GetAddressOf())));
        MAPIFreeBuffer(subtree);
    }
    void TearDown() override
    {
        m_inbox.Reset();
        m_toyRoot.Reset();
        m_top.Reset();
        m_toyStore.Reset();
        m_writable.Reset();
        if (m_session)
            m_session->Logoff(0, 0, 0);
        m_session.Reset();
        MapiSubsystemTest::TearDown();
    }

    ComPtr<IMAPIFolder> NewFolder(const wchar_t* name)
    {
        ComPtr<IMAPIFolder> folder;
        EXPECT_EQ(S_OK, m_top->CreateFolder(FOLDER_GENERIC, W(name), nullptr, nullptr, MAPI_UNICODE, folder.GetAddressOf()));
        return folder;
    }

    ComPtr<IMAPISession> m_session;
    ComPtr<IMsgStore> m_toyStore, m_writable;
    ComPtr<IMAPIFolder> m_toyRoot, m_inbox, m_top;
    std::vector<BYTE> m_inboxId;
};

TEST_F(MapiCopyTest, CopyFolderReproducesEveryPropertyOfTheTree)
{
    CCountingProgress progress;
    ASSERT_EQ(S_OK, m_toyRoot->CopyFolder(static_cast<ULONG>(m_inboxId.size()), reinterpret_cast<LPENTRYID>(m_inboxId.data()),
                                          nullptr, m_top.Get(), W(L"Copied Inbox"), 0, &progress,
                                          COPY_SUBFOLDERS | MAPI_UNICODE));
    auto folders = Children(m_top.Get(), true);
    ASSERT_EQ(1u, folders.count(L"Copied Inbox"));
    ComPtr<IMAPIFolder> copy = OpenChild<IMAPIFolder>(m_top.Get(), folders[L"Copied Inbox"], IID_IMAPIFolder);
    ExpectSameFolder(m_inbox.Get(), copy.Get(), true);
    // The source's large values went through streams and arrived whole.
    auto messages = Children(copy.Get(), false);
    ComPtr<IMessage> report = OpenChild<IMessage>(copy.Get(), messages[L"Quarterly report"], IID_IMessage);
    LPSPropValue body = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(report.Get(), PR_BODY_W, &body));
    EXPECT_LT(4096u, wcslen(body->Value.lpszW) * 2);
    MAPIFreeBuffer(body);
    EXPECT_EQ(1, progress.limits);
    EXPECT_LT(0, progress.calls);
    EXPECT_EQ(progress.lastCount, progress.lastTotal);
    EXPECT_EQ(progress.max, progress.lastValue);
}

TEST_F(MapiCopyTest, CopyMessagesCopyToAndCopyPropsCopyWhatTheyAreAsked)
{
    // CopyMessages: the listed messages, whole.
    auto messages = Children(m_inbox.Get(), false);
    std::vector<SBinary> ids;
    for (auto& entry : messages)
        ids.push_back(SBinary{static_cast<ULONG>(entry.second.size()), entry.second.data()});
    ENTRYLIST list{static_cast<ULONG>(ids.size()), ids.data()};
    ComPtr<IMAPIFolder> target = NewFolder(L"Messages");
    ASSERT_EQ(S_OK, m_inbox->CopyMessages(&list, nullptr, target.Get(), 0, nullptr, 0));
    auto copied = Children(target.Get(), false);
    ASSERT_EQ(messages.size(), copied.size());
    for (auto& entry : messages)
        ExpectSameMessage(OpenChild<IMessage>(m_inbox.Get(), entry.second, IID_IMessage).Get(),
                          OpenChild<IMessage>(target.Get(), copied[entry.first], IID_IMessage).Get());
    EXPECT_EQ(E_ACCESSDENIED, m_inbox->CopyMessages(&list, nullptr, target.Get(), 0, nullptr, MESSAGE_MOVE));

    // CopyTo with an exclusion, CopyProps with an inclusion.
    ComPtr<IMessage> source = OpenChild<IMessage>(m_inbox.Get(), messages[L"Quarterly report"], IID_IMessage);
    struct Case {
        bool include;
        std::vector<ULONG> tags;
        bool hasSubject;
        bool hasBody;
        ULONG recipients;
    };
    const Case cases[] = {
        {false, {PR_SUBJECT_W, PR_MESSAGE_RECIPIENTS}, false, true, 0},
        {true, {PR_SUBJECT_W}, true, false, 0},
        {true, {PR_BODY_W, PR_MESSAGE_RECIPIENTS}, false, true, 2},
    };
    for (const Case& c : cases) {
        ComPtr<IMessage> dest;
        ASSERT_EQ(S_OK, target->CreateMessage(nullptr, 0, dest.GetAddressOf()));
        std::vector<ULONG> block(c.tags.size() + 1);
        block[0] = static_cast<ULONG>(c.tags.size());
        std::copy(c.tags.begin(), c.tags.end(), block.begin() + 1);
        auto* tags = reinterpret_cast<LPSPropTagArray>(block.data());
        LPSPropProblemArray problems = nullptr;
        if (c.include)
            ASSERT_EQ(S_OK, source->CopyProps(tags, 0, nullptr, &IID_IMessage, dest.Get(), 0, &problems));
        else
            ASSERT_EQ(S_OK, source->CopyTo(0, nullptr, tags, 0, nullptr, &IID_IMessage, dest.Get(), 0, &problems));
        EXPECT_EQ(nullptr, problems);
        LPSPropValue value = nullptr;
        EXPECT_EQ(c.hasSubject, SUCCEEDED(HrGetOneProp(dest.Get(), PR_SUBJECT_W, &value)));
        MAPIFreeBuffer(value);
        value = nullptr;
        EXPECT_EQ(c.hasBody, SUCCEEDED(HrGetOneProp(dest.Get(), PR_BODY_W, &value)));
        MAPIFreeBuffer(value);
        ComPtr<IMAPITable> recipients;
        ASSERT_EQ(S_OK, dest->GetRecipientTable(0, recipients.GetAddressOf()));
        EXPECT_EQ(c.recipients, AllRows(recipients.Get())->cRows);
    }
    // A destination of the wrong kind is refused before anything is copied.
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED,
              source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMAPIFolder, target.Get(), 0, nullptr));
}

TEST_F(MapiCopyTest, WritableStoreKeepsItsContentAcrossLogons)
{
    ComPtr<IMAPIFolder> folder = NewFolder(L"Kept");
    ComPtr<IMAPIFolder> again;
    EXPECT_EQ(MAPI_E_COLLISION, m_top->CreateFolder(FOLDER_GENERIC, W(L"Kept"), nullptr, nullptr, MAPI_UNICODE,
                                                    again.GetAddressOf()));
    ASSERT_EQ(S_OK, m_top->CreateFolder(FOLDER_GENERIC, W(L"Kept"), nullptr, nullptr, MAPI_UNICODE | OPEN_IF_EXISTS,
                                        again.GetAddressOf()));
    ComPtr<IMessage> message;
    ASSERT_EQ(S_OK, folder->CreateMessage(nullptr, 0, message.GetAddressOf()));
    SPropValue subject{};
    subject.ulPropTag = PR_SUBJECT_W;
    subject.Value.lpszW = const_cast<LPWSTR>(L"Written");
    ASSERT_EQ(S_OK, message->SetProps(1, &subject, nullptr));
    ASSERT_EQ(S_OK, message->SaveChanges(0));
    message.Reset();
    folder.Reset();
    again.Reset();
    // Nothing holds the store now: the next logon reads its file.
    m_top.Reset();
    m_writable.Reset();
    m_inbox.Reset();
    m_toyRoot.Reset();
    m_toyStore.Reset();
    ASSERT_EQ(S_OK, m_session->Logoff(0, 0, 0));
    m_session.Reset();

    // A second session on the profile sees the folder and the message.
    ComPtr<IMAPISession> session = Logon();
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, session->GetMsgStoresTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    ComPtr<IMsgStore> store;
    for (ULONG r = 0; r < rows->cRows; ++r)
        if (std::wstring(Find(rows->aRow[r], PR_DISPLAY_NAME_W)->Value.lpszW) != L"Toy Store")
            ASSERT_EQ(S_OK, OpenStore(session.Get(), Bytes(Find(rows->aRow[r], PR_ENTRYID)), store.GetAddressOf()));
    ASSERT_TRUE(store);
    LPSPropValue subtree = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(store.Get(), PR_IPM_SUBTREE_ENTRYID, &subtree));
    ULONG type = 0;
    ComPtr<IMAPIFolder> top;
    ASSERT_EQ(S_OK, session->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb),
                                       &IID_IMAPIFolder, 0, &type, reinterpret_cast<LPUNKNOWN*>(top.GetAddressOf())));
    MAPIFreeBuffer(subtree);
    auto folders = Children(top.Get(), true);
    ASSERT_EQ(1u, folders.count(L"Kept"));
    ComPtr<IMAPIFolder> kept = OpenChild<IMAPIFolder>(top.Get(), folders[L"Kept"], IID_IMAPIFolder);
    EXPECT_EQ(1u, Children(kept.Get(), false).count(L"Written"));
    LPSPropValue count = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(kept.Get(), PR_CONTENT_COUNT, &count));
    EXPECT_EQ(1, count->Value.l);
    MAPIFreeBuffer(count);
    kept.Reset();
    top.Reset();
    store.Reset();
    session->Logoff(0, 0, 0);
    session.Reset();

    // Deleting the service deletes its file.
    MAPIUID uid;
    for (ULONG r = 0; r < rows->cRows; ++r)
        if (std::wstring(Find(rows->aRow[r], PR_DISPLAY_NAME_W)->Value.lpszW) != L"Toy Store")
            std::memcpy(uid.ab, Find(rows->aRow[r], PR_SERVICE_UID)->Value.bin.lpb, sizeof(uid.ab));
    wchar_t base[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base));
    std::wstring file = std::wstring(base) + L"\\Vostrel\\Writable Stores\\";
    for (BYTE b : uid.ab) {
        wchar_t hex[3];
        wsprintfW(hex, L"%02x", b);
        file += hex;
    }
    file += L".store";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
    ASSERT_EQ(S_OK, m_services->DeleteMsgService(&uid));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(file.c_str()));
}

TEST_F(MapiCopyTest, UnreadableStoreFileFailsLogonAndIsLeftAlone)
{
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, m_session->GetMsgStoresTable(MAPI_UNICODE, table.GetAddressOf()));
    RowSetPtr rows = AllRows(table.Get());
    MAPIUID uid{};
    std::vector<BYTE> id;
    for (ULONG r = 0; r < rows->cRows; ++r)
        if (std::wstring(Find(rows->aRow[r], PR_DISPLAY_NAME_W)->Value.lpszW) != L"Toy Store") {
            std::memcpy(uid.ab, Find(rows->aRow[r], PR_SERVICE_UID)->Value.bin.lpb, sizeof(uid.ab));
            id = Bytes(Find(rows->aRow[r], PR_ENTRYID));
        }
    m_top.Reset();
    m_writable.Reset();
    wchar_t base[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base));
    std::wstring file = std::wstring(base) + L"\\Vostrel\\Writable Stores\\";
    for (BYTE b : uid.ab) {
        wchar_t hex[3];
        wsprintfW(hex, L"%02x", b);
        file += hex;
    }
    file += L".store";
    ASSERT_EQ(S_OK, m_session->Logoff(0, 0, 0));
    m_session.Reset();
    // Something that is not a store file takes its place.
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    const char junk[] = "not a compound file";
    DWORD written = 0;
    WriteFile(handle, junk, sizeof(junk), &written, nullptr);
    CloseHandle(handle);

    ComPtr<IMAPISession> session = Logon();
    ComPtr<IMsgStore> store;
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, OpenStore(session.Get(), id, store.GetAddressOf()));
    session->Logoff(0, 0, 0);
    handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    char back[64] = {};
    DWORD got = 0;
    ReadFile(handle, back, sizeof(back), &got, nullptr);
    CloseHandle(handle);
    EXPECT_EQ(sizeof(junk), got);
    EXPECT_STREQ(junk, back);
    DeleteFileW(file.c_str());
}

TEST_F(MapiCopyTest, RefusedPropertiesComeBackAsProblems)
{
    // A source that carries a property the writable store computes itself.
    const MAPIUID global = {{0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};
    ComPtr<IProfSect> source;
    ASSERT_EQ(S_OK, m_session->OpenProfileSection(const_cast<LPMAPIUID>(&global), nullptr, MAPI_MODIFY,
                                                  source.GetAddressOf()));
    BYTE fake[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SPropValue values[2]{};
    values[0].ulPropTag = PR_IPM_SUBTREE_ENTRYID;
    values[0].Value.bin.cb = sizeof(fake);
    values[0].Value.bin.lpb = fake;
    values[1].ulPropTag = PR_COMMENT_W;
    values[1].Value.lpszW = const_cast<LPWSTR>(L"copied");
    ASSERT_EQ(S_OK, source->SetProps(2, values, nullptr));

    IMAPISupport* support = m_state->lastSupport;
    ASSERT_NE(nullptr, support);
    SizedSPropTagArray(2, include) = {2, {PR_IPM_SUBTREE_ENTRYID, PR_COMMENT_W}};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(S_OK, support->DoCopyProps(&IID_IMAPIProp, static_cast<IMAPIProp*>(source.Get()),
                                         reinterpret_cast<LPSPropTagArray>(&include), 0, nullptr, &IID_IMsgStore,
                                         m_writable.Get(), 0, &problems));
    ASSERT_NE(nullptr, problems);
    ASSERT_EQ(1u, problems->cProblem);
    EXPECT_EQ(static_cast<ULONG>(PR_IPM_SUBTREE_ENTRYID), problems->aProblem[0].ulPropTag);
    EXPECT_EQ(MAPI_E_COMPUTED, problems->aProblem[0].scode);
    MAPIFreeBuffer(problems);
    LPSPropValue comment = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(m_writable.Get(), PR_COMMENT_W, &comment));
    EXPECT_STREQ(L"copied", comment->Value.lpszW);
    MAPIFreeBuffer(comment);

    // The notification registry: strangers are told so.
    EXPECT_EQ(MAPI_E_NOT_FOUND, support->Unsubscribe(12345));
    BYTE keyBytes[sizeof(NOTIFKEY) + 4] = {};
    auto* key = reinterpret_cast<LPNOTIFKEY>(keyBytes);
    key->cb = 4;
    NOTIFICATION n{};
    n.ulEventType = fnevNewMail;
    ULONG flags = 0;
    EXPECT_EQ(S_OK, support->Notify(key, 1, &n, &flags));
}

// With Outlook's mail-client key naming an MSI component, MAPISVC.INF is
// the one next to the MAPI library the stub names: this library.
TEST_F(MapiSubsystemTest, MapisvcInfFollowsTheMailClientsComponent)
{
    using ComponentPathFn = BOOL(WINAPI*)(LPSTR, LPSTR, LPSTR, DWORD, BOOL);
    auto componentPath = reinterpret_cast<ComponentPathFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"mapi32.dll"), "FGetComponentPath")));
    ASSERT_NE(nullptr, componentPath);
    char path[MAX_PATH] = {};
    EXPECT_FALSE(componentPath(nullptr, nullptr, path, MAX_PATH, TRUE));
    ASSERT_TRUE(componentPath(const_cast<LPSTR>("{FF1D0740-D227-11D1-A4B0-006008AF820E}"), nullptr, path, MAX_PATH, TRUE));
    std::string library = path;
    ASSERT_NE(std::string::npos, library.find_last_of('\\'));
    std::string folder = library.substr(0, library.find_last_of('\\'));
    std::wstring inf = mapistub::TextArg(folder.c_str(), 0) + L"\\MAPISVC.INF";

    const wchar_t clientKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, clientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                             &disposition));
    if (disposition != REG_CREATED_NEW_KEY) {
        RegCloseKey(key);
        GTEST_SKIP() << "the prefix has a mail client of its own";
    }
    const wchar_t component[] = L"{FF1D0740-D227-11D1-A4B0-006008AF820E}";
    RegSetValueExW(key, L"MSIComponentID", 0, REG_SZ, reinterpret_cast<const BYTE*>(component), sizeof(component));
    RegCloseKey(key);
    WritePrivateProfileStringW(L"Services", L"TOYBESIDE", L"Toy beside MAPI", inf.c_str());
    WritePrivateProfileStringW(L"TOYBESIDE", L"PR_SERVICE_DLL_NAME", L"TOYSTORE.DLL", inf.c_str());
    WritePrivateProfileStringW(L"TOYBESIDE", L"PR_SERVICE_ENTRY_NAME", L"ServiceEntry", inf.c_str());
    WritePrivateProfileStringW(L"TOYBESIDE", L"Providers", L"P_TOYBESIDE", inf.c_str());
    WritePrivateProfileStringW(L"P_TOYBESIDE", L"PR_RESOURCE_TYPE", L"MAPI_STORE_PROVIDER", inf.c_str());
    WritePrivateProfileStringW(L"P_TOYBESIDE", L"PR_PROVIDER_DLL_NAME", L"TOYSTORE.DLL", inf.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, inf.c_str());

    HRESULT beside = CreateService(L"TOYBESIDE", nullptr);
    HRESULT system = CreateService(L"TOYSTORE", nullptr); // listed only in the system directory's file

    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    DeleteFileW(inf.c_str());
    EXPECT_EQ(S_OK, beside);
    EXPECT_EQ(MAPI_E_NOT_FOUND, system);
    EXPECT_EQ(1u, ServiceCount());
}

} // namespace
