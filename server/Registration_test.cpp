// Self-registration of the server program, read back from the registry.
// Runs alone: it removes the registration the other tests use, and restores it.
#include "Platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kClsid[] = L"{3F1A7C42-9B6E-4D2A-8C15-7E04B9D2A6F1}";
const wchar_t kAppId[] = L"{A7C04E19-2D85-4B3F-9E61-C48F0A5D7B93}";
const wchar_t kLibId[] = L"{8E52D1B7-4C3A-4F69-A0D4-15C9E7B3F208}";

std::wstring ServerPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result = path;
    return result.erase(result.find_last_of(L'\\') + 1) + L"Vostrel2003.exe";
}

// Runs the server with arguments; its exit code, or -2 when it is still
// running after `waitMs` (it is then ended).
long RunServer(const std::wstring& arguments, DWORD waitMs = 20000)
{
    std::wstring commandLine = L"\"" + ServerPath() + L"\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -3;
    long result = -2;
    if (WaitForSingleObject(process.hProcess, waitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

struct Classes {
    HKEY root;
    std::wstring prefix; // path of the class registry below root
};

bool KeyExists(const Classes& classes, const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(classes.root, (classes.prefix + key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// The string value, or "<none>".
std::wstring Value(const Classes& classes, const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    LONG rc = RegGetValueW(classes.root, (classes.prefix + key).c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
    return rc == ERROR_SUCCESS ? std::wstring(data) : L"<none>";
}

void ExpectRegistered(const Classes& classes)
{
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsid;
    struct Row {
        std::wstring key;
        const wchar_t* name;
        std::wstring data;
    } rows[] = {
        {std::wstring(L"AppID\\") + kAppId, nullptr, L"Morvane.Vostrel2007"},
        {L"AppID\\Vostrel.EXE", L"AppID", kAppId},
        {L"Morvane.Vostrel2007.EseInstance.1", nullptr, L"Exchange 2007 ESE Instance Class"},
        {L"Morvane.Vostrel2007.EseInstance.1\\CLSID", nullptr, kClsid},
        {L"Morvane.Vostrel2007.EseInstance", nullptr, L"Exchange 2007 ESE Instance Class"},
        {L"Morvane.Vostrel2007.EseInstance\\CLSID", nullptr, kClsid},
        {L"Morvane.Vostrel2007.EseInstance\\CurVer", nullptr, L"Morvane.Vostrel2007.EseInstance.1"},
        {clsidKey, nullptr, L"Exchange 2007 ESE Instance Class"},
        {clsidKey, L"AppID", kAppId},
        {clsidKey + L"\\ProgID", nullptr, L"Morvane.Vostrel2007.EseInstance.1"},
        {clsidKey + L"\\VersionIndependentProgID", nullptr, L"Morvane.Vostrel2007.EseInstance"},
        {clsidKey + L"\\LocalServer32", nullptr, ServerPath()},
        {clsidKey + L"\\LocalServer32", L"ThreadingModel", L"Apartment"},
        {clsidKey + L"\\TypeLib", nullptr, kLibId},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.data, Value(classes, row.key, row.name)) << row.key << " " << (row.name ? row.name : L"(default)");
}

void ExpectUnregistered(const Classes& classes)
{
    for (const std::wstring& key : {std::wstring(L"AppID\\") + kAppId, std::wstring(L"AppID\\Vostrel.EXE"),
                                    std::wstring(L"Morvane.Vostrel2007.EseInstance.1"),
                                    std::wstring(L"Morvane.Vostrel2007.EseInstance"),
                                    std::wstring(L"CLSID\\") + kClsid})
        EXPECT_FALSE(KeyExists(classes, key)) << key;
    // The shared parents stay.
    EXPECT_TRUE(KeyExists(classes, L"AppID"));
    EXPECT_TRUE(KeyExists(classes, L"CLSID"));
}

class RegistrationTest : public ::testing::Test {
protected:
    static void TearDownTestSuite()
    {
        // Leave the machine registration in place for the rest of the run.
        RunServer(L"/RegServer");
    }
    const Classes m_machine{HKEY_CLASSES_ROOT, L""};
    const Classes m_user{HKEY_CURRENT_USER, L"Software\\Classes\\"};
};

TEST_F(RegistrationTest, MachineRegistrationWritesTheScriptsAndTheTypeLibrary)
{
    ASSERT_EQ(0, RunServer(L"/UnregServer"));
    ExpectUnregistered(m_machine);

    ASSERT_EQ(0, RunServer(L"-regserver"));
    ExpectRegistered(m_machine);
    EXPECT_TRUE(KeyExists(m_machine, std::wstring(L"TypeLib\\") + kLibId + L"\\1.0"));
    GUID libId = {};
    ASSERT_EQ(S_OK, CLSIDFromString(const_cast<LPWSTR>(kLibId), &libId));
    ComPtr<ITypeLib> typeLib;
    EXPECT_EQ(S_OK, LoadRegTypeLib(libId, 1, 0, 0, &typeLib));

    // Registration rewrites the class key whole: a stray value goes.
    HKEY clsid = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + kClsid).c_str(), 0,
                                           KEY_SET_VALUE, &clsid));
    RegSetValueExW(clsid, L"Stray", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(clsid);
    ASSERT_EQ(0, RunServer(L"/RegServer"));
    EXPECT_EQ(L"<none>", Value(m_machine, std::wstring(L"CLSID\\") + kClsid, L"Stray"));

    ASSERT_EQ(0, RunServer(L"/UnRegServer"));
    ExpectUnregistered(m_machine);
    EXPECT_FALSE(KeyExists(m_machine, std::wstring(L"TypeLib\\") + kLibId));
}

TEST_F(RegistrationTest, PerUserRegistrationGoesToTheUsersClasses)
{
    ASSERT_EQ(0, RunServer(L"/RegServerPerUser"));
    ExpectRegistered(m_user);
    ASSERT_EQ(0, RunServer(L"-UnregServerPerUser"));
    ExpectUnregistered(m_user);
}

TEST_F(RegistrationTest, ALongerWordIsNoSwitchAndRunsTheServer)
{
    ASSERT_EQ(0, RunServer(L"/RegServer"));
    RunServer(L"/UnregServerPerUser");
    std::wstring commandLine = L"\"" + ServerPath() + L"\" -RegServerX";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    // Not a registration: the program serves and waits for its clients.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 1500));
    EXPECT_FALSE(KeyExists(m_user, std::wstring(L"CLSID\\") + kClsid));

    // A client of that server, then its idle end (a killed server would leave
    // its class registered with a dead process).
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    GUID clsid = {};
    CLSIDFromString(const_cast<LPWSTR>(kClsid), &clsid);
    ComPtr<IUnknown> instance;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(instance.GetAddressOf())));
    instance.Reset();
    CoUninitialize();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 15000));
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace
