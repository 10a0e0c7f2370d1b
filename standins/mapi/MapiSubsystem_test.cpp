// Profiles, message services, sessions and support objects, driven as a
// MAPI client drives them, with the tests' toy message service.
#include "MapiSubsystem.h"
#include "ToyState.h"

#include <gtest/gtest.h>

#include <cstring>
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
    using UnwrapFn = HRESULT(STDAPICALLTYPE*)(ULONG, LPENTRYID, LPSTR*, ULONG*, LPENTRYID*);
    auto fn = reinterpret_cast<UnwrapFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"mapi32.dll"), "UnwrapStoreEntryID")));
    return fn ? fn(cbWrapped, lpWrapped, name, cbOrig, orig) : E_FAIL;
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

TEST_F(MapiSubsystemTest, FailedCreateLeavesNothingInTheProfile)
{
    struct Case {
        const wchar_t* service;
        HRESULT entryResult;
        HRESULT expected;
    };
    const Case cases[] = {
        {L"NOSUCHSERVICE", S_OK, MAPI_E_NOT_FOUND},
        {L"TOYNODLL", S_OK, MAPI_E_NOT_FOUND},
        {L"TOYSTORE", MAPI_E_USER_CANCEL, MAPI_E_USER_CANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "service " << mapistub::AnsiText(c.service));
        m_state->serviceEntryResult = c.entryResult;
        EXPECT_EQ(c.expected, CreateService(c.service, nullptr));
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
        // Once the provider lets it, the same session opens the store.
        if (c.logonResult != S_OK) {
            m_state->logonResult = S_OK;
            EXPECT_EQ(S_OK, OpenStore(session.Get(), id, store.GetAddressOf()));
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

} // namespace
