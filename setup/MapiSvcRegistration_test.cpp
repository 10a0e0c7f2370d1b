// The service's entries in MAPISVC.INF, written and removed through the
// library's installer exports, and the search for the file.
#include "Platform.h"
#include "MapiSvcRegistration.h"

#include "testing/FailingAllocations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using setup::ProfileRow;
using PlainFn = HRESULT(WINAPI*)();

const wchar_t kClientKey[] = L"Software\\Clients\\Mail\\Microsoft Outlook";
const wchar_t kComponent[] = L"{FF1D0740-D227-11D1-A4B0-006008AF820E}";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring SystemInf()
{
    wchar_t system[MAX_PATH];
    UINT cch = GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, cch) + L"\\MAPISVC.INF";
}

// MAPISVC.INF beside the stand-in MAPI library, where the MAPI stub's answer leads.
std::wstring BesideMapiInf()
{
    wchar_t path[MAX_PATH];
    DWORD cch = GetModuleFileNameW(GetModuleHandleW(L"mapi32.dll"), path, MAX_PATH);
    std::wstring library(path, cch);
    return library.substr(0, library.find_last_of(L'\\')) + L"\\MAPISVC.INF";
}

// A file's bytes as they are on disk (after the system's cached copy is
// flushed), or nothing when there is no such file.
std::optional<std::string> FileBytes(const std::wstring& path)
{
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// Keeps a file's bytes (or its absence) and puts them back.
class CFileSnapshot {
public:
    explicit CFileSnapshot(std::wstring path) : m_path(std::move(path)), m_bytes(FileBytes(m_path)) {}
    ~CFileSnapshot()
    {
        SetFileAttributesW(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_path.c_str());
        if (!m_bytes) {
            DeleteFileW(m_path.c_str());
        } else {
            HANDLE file = CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            DWORD written = 0;
            WriteFile(file, m_bytes->data(), static_cast<DWORD>(m_bytes->size()), &written, nullptr);
            CloseHandle(file);
        }
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_path.c_str());
    }
    CFileSnapshot(const CFileSnapshot&) = delete;
    CFileSnapshot& operator=(const CFileSnapshot&) = delete;

private:
    std::wstring m_path;
    std::optional<std::string> m_bytes;
};

// The "key=value" lines of a section, in file order.
std::vector<std::wstring> Section(const std::wstring& file, const wchar_t* section)
{
    std::vector<wchar_t> buffer(32768);
    DWORD cch = GetPrivateProfileSectionW(section, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<std::wstring> lines;
    for (DWORD i = 0; i < cch;) {
        std::wstring line(&buffer[i]);
        if (line.empty())
            break;
        i += static_cast<DWORD>(line.size()) + 1;
        lines.push_back(line);
    }
    return lines;
}

std::wstring Value(const std::wstring& file, const wchar_t* section, const wchar_t* key)
{
    wchar_t value[512];
    GetPrivateProfileStringW(section, key, L"<none>", value, 512, file.c_str());
    return value;
}

class MapiSvcRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_library = LoadLibraryW(L"KOLVEN32.dll");
        ASSERT_NE(nullptr, m_library) << GetLastError();
        m_register = reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(m_library, "RegProvider")));
        m_unregister = reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(m_library, "UnRegProvider")));
        ASSERT_NE(nullptr, m_register);
        ASSERT_NE(nullptr, m_unregister);
        // The display name is the provider's string 386, from the resource
        // library when the module found one, else from its own table.
        HMODULE texts = GetModuleHandleW(L"pelmrix.dll");
        wchar_t name[256] = {};
        if (!texts || !LoadStringW(texts, 386, name, 256))
            LoadStringW(m_library, 386, name, 256);
        m_displayName = name;
        ASSERT_FALSE(m_displayName.empty());
        // A registration that the main job (or an interrupted run) left in
        // the prefix is set aside for the test and put back after it.
        for (const std::wstring& inf : {SystemInf(), BesideMapiInf()}) {
            m_kept.push_back(std::make_unique<CFileSnapshot>(inf));
            WritePrivateProfileStringW(L"Services", L"KOLVENOV", nullptr, inf.c_str());
            WritePrivateProfileStringW(L"KOLVENOV", nullptr, nullptr, inf.c_str());
            WritePrivateProfileStringW(L"P_KOLVENOV", nullptr, nullptr, inf.c_str());
            WritePrivateProfileStringW(nullptr, nullptr, nullptr, inf.c_str());
        }
    }
    void TearDown() override
    {
        if (m_createdClientKey)
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClientKey);
        if (m_library)
            FreeLibrary(m_library);
    }

    // Outlook's mail-client key for the test; false when the prefix has one of its own.
    bool CreateClientKey(const wchar_t* component)
    {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition) != ERROR_SUCCESS)
            return false;
        if (disposition != REG_CREATED_NEW_KEY) {
            RegCloseKey(key);
            return false;
        }
        m_createdClientKey = true;
        if (component)
            RegSetValueExW(key, L"MSIComponentID", 0, REG_SZ, reinterpret_cast<const BYTE*>(component),
                           static_cast<DWORD>((wcslen(component) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        return true;
    }

    static bool ClientKeyExists()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    std::vector<std::unique_ptr<CFileSnapshot>> m_kept;
    HMODULE m_library = nullptr;
    PlainFn m_register = nullptr;
    PlainFn m_unregister = nullptr;
    std::wstring m_displayName;
    bool m_createdClientKey = false;
};

TEST_F(MapiSvcRegistrationTest, RegisterWritesEachKeyOnceAndUnregisterRemovesOnlyTheService)
{
    if (!CreateClientKey(kComponent))
        GTEST_SKIP() << "the prefix has a mail client of its own";
    const std::wstring inf = BesideMapiInf();
    CFileSnapshot snapshot(inf);
    // Another service already in the file.
    WritePrivateProfileStringW(L"Services", L"OTHERSVC", L"Other service", inf.c_str());
    WritePrivateProfileStringW(L"OTHERSVC", L"Providers", L"P_OTHERSVC", inf.c_str());
    WritePrivateProfileStringW(L"P_OTHERSVC", L"PR_PROVIDER_DLL_NAME", L"OTHER.DLL", inf.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, inf.c_str());
    const std::vector<std::wstring> otherService = Section(inf, L"OTHERSVC");
    const std::vector<std::wstring> otherProvider = Section(inf, L"P_OTHERSVC");

    ASSERT_EQ(S_OK, m_register());
    ASSERT_EQ(S_OK, m_register());

    const std::wstring& name = m_displayName;
    const std::vector<std::wstring> service = {
        L"PR_DISPLAY_NAME=" + name,
        L"PR_SERVICE_DLL_NAME=KOLVEN.DLL",
        L"PR_SERVICE_ENTRY_NAME=ServiceEntry",
        L"PR_RESOURCE_FLAGS=SERVICE_NO_PRIMARY_IDENTITY",
        L"Providers=P_KOLVENOV",
        L"PR_SERVICE_SUPPORT_FILES=KOLVEN.DLL",
        L"PR_SERVICE_DELETE_FILES=KOLVEN.DLL",
    };
    const std::vector<std::wstring> provider = {
        L"PR_RESOURCE_TYPE=MAPI_STORE_PROVIDER",
        L"PR_PROVIDER_DLL_NAME=KOLVEN.DLL",
        L"PR_RESOURCE_FLAGS=STATUS_DEFAULT_STORE",
        L"PR_DISPLAY_NAME=" + name,
        L"PR_PROVIDER_DISPLAY=" + name,
    };
    const std::vector<std::wstring> services = {L"OTHERSVC=Other service", L"KOLVENOV=" + name};
    EXPECT_EQ(services, Section(inf, L"Services"));
    EXPECT_EQ(service, Section(inf, L"KOLVENOV"));
    EXPECT_EQ(provider, Section(inf, L"P_KOLVENOV"));
    // Nothing went to the system directory's file.
    EXPECT_EQ(L"<none>", Value(SystemInf(), L"Services", L"KOLVENOV"));

    ASSERT_EQ(S_OK, m_unregister());
    EXPECT_EQ(std::vector<std::wstring>{L"OTHERSVC=Other service"}, Section(inf, L"Services"));
    EXPECT_TRUE(Section(inf, L"KOLVENOV").empty());
    EXPECT_TRUE(Section(inf, L"P_KOLVENOV").empty());
    EXPECT_EQ(otherService, Section(inf, L"OTHERSVC"));
    EXPECT_EQ(otherProvider, Section(inf, L"P_OTHERSVC"));
    // Removing what is already gone is no error.
    EXPECT_EQ(S_OK, m_unregister());
}

TEST_F(MapiSvcRegistrationTest, FileIsBesideTheMapiLibraryOnlyWhenOutlooksComponentIsKnown)
{
    if (ClientKeyExists())
        GTEST_SKIP() << "the prefix has a mail client of its own";
    const struct {
        const char* what;
        bool clientKey;
        const wchar_t* component;
        bool beside;
    } cases[] = {
        {"no mail-client key", false, nullptr, false},
        {"mail-client key without a component", true, nullptr, false},
        {"mail-client key with an empty component", true, L"", false},
        {"mail-client key with Outlook's component", true, kComponent, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.clientKey) {
            ASSERT_TRUE(CreateClientKey(c.component));
        }
        {
            CFileSnapshot system(SystemInf());
            CFileSnapshot beside(BesideMapiInf());
            const std::wstring wanted = c.beside ? BesideMapiInf() : SystemInf();
            const std::wstring other = c.beside ? SystemInf() : BesideMapiInf();

            wchar_t found[272];
            setup::GetMAPISVCPath(found, 272);
            EXPECT_EQ(Narrow(wanted), Narrow(found));

            ASSERT_EQ(S_OK, m_register());
            EXPECT_EQ(m_displayName, Value(wanted, L"Services", L"KOLVENOV"));
            EXPECT_EQ(L"<none>", Value(other, L"Services", L"KOLVENOV"));
            ASSERT_EQ(S_OK, m_unregister());
            EXPECT_EQ(L"<none>", Value(wanted, L"Services", L"KOLVENOV"));
        }
        if (m_createdClientKey) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClientKey);
            m_createdClientKey = false;
        }
    }
}

TEST_F(MapiSvcRegistrationTest, RowsNameKeysByNumberAndRefusedWritesAreReported)
{
    EXPECT_EQ(E_INVALIDARG, setup::HrSetProfileParameters(nullptr));
    if (ClientKeyExists())
        GTEST_SKIP() << "the prefix has a mail client of its own";
    const std::wstring inf = SystemInf();
    CFileSnapshot snapshot(inf);

    const ProfileRow numbered[] = {
        {L"VOSTRELTEST", nullptr, 0x6A0B, L"numbered"},
        {L"VOSTRELTEST", L"named", 0, L"text"},
        {nullptr, nullptr, 0, nullptr},
    };
    ASSERT_EQ(S_OK, setup::HrSetProfileParameters(numbered));
    EXPECT_EQ((std::vector<std::wstring>{L"6a0b=numbered", L"named=text"}), Section(inf, L"VOSTRELTEST"));

    // A file another program holds open without sharing: the installer must
    // not hear success.
    HANDLE held = CreateFileW(inf.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const ProfileRow more[] = {
        {L"VOSTRELTEST", L"later", 0, L"lost"},
        {nullptr, nullptr, 0, nullptr},
    };
    HRESULT hr = setup::HrSetProfileParameters(more);
    CloseHandle(held);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(L"<none>", Value(inf, L"VOSTRELTEST", L"later"));
}

// Writes as the system does, except that every write into one section is
// refused as a read-only or locked file refuses it.
const wchar_t* g_refusedSection = nullptr;

BOOL WINAPI RefusingWriter(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file)
{
    if (section && g_refusedSection && lstrcmpiW(section, g_refusedSection) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return WritePrivateProfileStringW(section, key, value, file);
}

TEST_F(MapiSvcRegistrationTest, AWriteRefusedPartWayLeavesTheFileAsItWasBefore)
{
    if (ClientKeyExists())
        GTEST_SKIP() << "the prefix has a mail client of its own";
    const std::wstring inf = SystemInf();
    // The service's three parts, as registration writes them.
    const ProfileRow rows[] = {
        {L"Services", L"VOSTRELTEST", 0, L"Test service"},
        {L"VOSTRELTEST", L"Providers", 0, L"P_VOSTRELTEST"},
        {L"VOSTRELTEST", L"PR_SERVICE_DLL_NAME", 0, L"KOLVEN.DLL"},
        {L"P_VOSTRELTEST", L"PR_RESOURCE_TYPE", 0, L"MAPI_STORE_PROVIDER"},
        {L"P_VOSTRELTEST", L"PR_DISPLAY_NAME", 0, L"Test service"},
        {nullptr, nullptr, 0, nullptr},
    };
    const struct {
        const char* what;
        bool otherService;
        const wchar_t* refused;
    } cases[] = {
        {"the first section refused", true, L"Services"},
        {"the service section refused after the list", true, L"VOSTRELTEST"},
        {"the provider section refused last", true, L"P_VOSTRELTEST"},
        {"no file before, the provider section refused", false, L"P_VOSTRELTEST"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CFileSnapshot snapshot(inf);
        DeleteFileW(inf.c_str());
        if (c.otherService) {
            WritePrivateProfileStringW(L"Services", L"OTHERSVC", L"Other service", inf.c_str());
            WritePrivateProfileStringW(L"OTHERSVC", L"Providers", L"P_OTHERSVC", inf.c_str());
            // A value the refused table would have overwritten.
            WritePrivateProfileStringW(L"P_VOSTRELTEST", L"PR_DISPLAY_NAME", L"Older name", inf.c_str());
        }
        const std::optional<std::string> before = FileBytes(inf);
        ASSERT_EQ(c.otherService, before.has_value());

        g_refusedSection = c.refused;
        HRESULT hr = setup::HrSetProfileParameters(rows, &RefusingWriter);
        g_refusedSection = nullptr;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), hr);
        EXPECT_EQ(before, FileBytes(inf));
        EXPECT_EQ(L"<none>", Value(inf, L"Services", L"VOSTRELTEST"));
    }
    // With nothing refused the same table is written whole.
    CFileSnapshot snapshot(inf);
    ASSERT_EQ(S_OK, setup::HrSetProfileParameters(rows, &RefusingWriter));
    EXPECT_EQ(L"Test service", Value(inf, L"Services", L"VOSTRELTEST"));
    EXPECT_EQ(L"Test service", Value(inf, L"P_VOSTRELTEST", L"PR_DISPLAY_NAME"));
}

TEST_F(MapiSvcRegistrationTest, InstallerEntriesAnswerAnExhaustedHeapWithAFailure)
{
    if (!CreateClientKey(kComponent))
        GTEST_SKIP() << "the prefix has a mail client of its own";
    const std::wstring inf = BesideMapiInf();
    CFileSnapshot snapshot(inf);
    ASSERT_EQ(S_OK, m_register());
    const std::optional<std::string> before = FileBytes(inf);
    // This program's own copies of the entries: its allocations are the ones
    // made to fail.
    const struct {
        const char* what;
        PlainFn entry;
    } cases[] = {
        {"RegProvider", &RegProvider},
        {"UnRegProvider", &UnRegProvider},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HRESULT hr = S_OK;
        bool escaped = false;
        try {
            testing_support::CFailingAllocations failing;
            hr = c.entry();
        } catch (...) {
            escaped = true;
        }
        EXPECT_FALSE(escaped);
        EXPECT_EQ(E_OUTOFMEMORY, hr);
        EXPECT_EQ(before, FileBytes(inf));
    }
}

// A stand-in for the MAPI stub's FGetComponentPath that records each
// qualifier it is asked with and answers from a script.
struct StubAnswer {
    BOOL result;
    const char* path;
};
std::map<std::string, StubAnswer> g_answers;
std::vector<std::string> g_asked;

BOOL WINAPI ScriptedComponentPath(LPSTR component, LPSTR qualifier, LPSTR path, DWORD size, BOOL install)
{
    (void)install;
    std::string asked = qualifier ? qualifier : "<none>";
    g_asked.push_back(asked);
    if (std::string(component) != "{COMPONENT}")
        return FALSE;
    auto it = g_answers.find(asked);
    if (it == g_answers.end())
        return FALSE;
    lstrcpynA(path, it->second.path, static_cast<int>(size));
    return it->second.result;
}

TEST(QueryComponentPathTest, QualifiersAreTriedInOrderAndAnEmptyPathFallsThrough)
{
    const struct {
        const char* what;
        const wchar_t* appLcid;
        const wchar_t* officeLcid;
        std::map<std::string, StubAnswer> answers;
        std::vector<std::string> asked;
        std::wstring path;
    } cases[] = {
        {"no qualifiers", nullptr, nullptr, {{"<none>", {TRUE, "C:\\m\\mapi32.dll"}}}, {"<none>"}, L"C:\\m\\mapi32.dll"},
        {"application language answers", L"1033", L"1049",
         {{"1033", {TRUE, "C:\\app\\mapi32.dll"}}}, {"1033"}, L"C:\\app\\mapi32.dll"},
        {"application language misses, Office's answers", L"1033", L"1049",
         {{"1049", {TRUE, "C:\\office\\mapi32.dll"}}}, {"1033", "1049"}, L"C:\\office\\mapi32.dll"},
        {"only Office's language, asked first", nullptr, L"1049",
         {{"1049", {TRUE, "C:\\office\\mapi32.dll"}}, {"<none>", {TRUE, "C:\\plain\\mapi32.dll"}}}, {"1049"},
         L"C:\\office\\mapi32.dll"},
        {"only Office's language, empty path falls through", nullptr, L"1049",
         {{"1049", {TRUE, ""}}, {"<none>", {TRUE, "C:\\plain\\mapi32.dll"}}}, {"1049", "<none>"},
         L"C:\\plain\\mapi32.dll"},
        {"every call misses", L"1033", L"1049", {}, {"1033", "1049", "<none>"}, L""},
        {"success with an empty path is a miss", nullptr, nullptr, {{"<none>", {TRUE, ""}}}, {"<none>"}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_answers = c.answers;
        g_asked.clear();
        EXPECT_EQ(Narrow(c.path),
                  Narrow(setup::QueryComponentPath(&ScriptedComponentPath, L"{COMPONENT}", c.appLcid, c.officeLcid)));
        EXPECT_EQ(c.asked, g_asked);
    }
    g_asked.clear();
    EXPECT_TRUE(setup::QueryComponentPath(&ScriptedComponentPath, nullptr, L"1033", nullptr).empty());
    EXPECT_TRUE(g_asked.empty());
}

TEST(GetRegistryValueTest, ReadsTextAndNumbersAndRefusesTheRest)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\VostrelSetupTest", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    RegSetValueExW(key, L"unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof unterminated);
    const wchar_t text[] = L"1033";
    RegSetValueExW(key, L"text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    DWORD number = 0x409;
    RegSetValueExW(key, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    const BYTE binary[] = {1, 2, 3, 4};
    RegSetValueExW(key, L"binary", 0, REG_BINARY, binary, sizeof binary);
    RegSetValueExW(key, L"empty", 0, REG_SZ, nullptr, 0);

    const struct {
        const wchar_t* name;
        LONG rc;
        DWORD type;
        const wchar_t* text;
    } cases[] = {
        {L"text", ERROR_SUCCESS, REG_SZ, L"1033"},
        {L"unterminated", ERROR_SUCCESS, REG_SZ, L"abc"},
        {L"number", ERROR_SUCCESS, REG_DWORD, nullptr},
        {L"binary", ERROR_INVALID_DATA, 0, nullptr},
        {L"empty", ERROR_INVALID_DATA, 0, nullptr},
        {L"missing", ERROR_INVALID_DATA, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        DWORD type = 0;
        setup::RegistryText value;
        EXPECT_EQ(c.rc, setup::GetRegistryValue(key, c.name, &type, &value));
        if (c.rc != ERROR_SUCCESS) {
            EXPECT_EQ(nullptr, value.get());
            continue;
        }
        ASSERT_NE(nullptr, value.get());
        EXPECT_EQ(c.type, type);
        if (c.text) {
            EXPECT_EQ(Narrow(c.text), Narrow(value.get()));
        } else {
            EXPECT_EQ(number, *reinterpret_cast<const DWORD*>(value.get()));
        }
    }
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VostrelSetupTest");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\VostrelSetupTest");
}

} // namespace
