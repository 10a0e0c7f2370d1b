// The server as COM starts it: launch as a local server, the instance's
// answers, and the idle shutdown after the client released everything.
#include "Platform.h"
#include "CInterfaceTable.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <string>
#include <thread>

namespace {

constexpr HRESULT kEseNotImplemented = static_cast<HRESULT>(0xFFFFFC17);

// The running server process of this prefix, if any.
HANDLE OpenServerProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return nullptr;
    PROCESSENTRY32W entry = {sizeof entry};
    HANDLE process = nullptr;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !process; more = Process32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"Vostrel2003.exe") == 0)
            process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return process;
}

class ServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        // Start from no server, so the one seen is this test's.
        if (HANDLE old = OpenServerProcess()) {
            WaitForSingleObject(old, 10000);
            CloseHandle(old);
        }
    }
    void TearDown() override { CoUninitialize(); }

    static HRESULT CreateInstance(IEseInstance** instance)
    {
        return CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                reinterpret_cast<void**>(instance));
    }

    // Milliseconds from now until the process ends (or the limit).
    static DWORD MillisecondsUntilExit(HANDLE process, DWORD limit)
    {
        DWORD start = GetTickCount();
        WaitForSingleObject(process, limit);
        return GetTickCount() - start;
    }
};

TEST_F(ServerProcessTest, LaunchedByComAnswersAsAnInstance)
{
    ComPtr<IEseInstance> instance;
    ASSERT_EQ(S_OK, CreateInstance(&instance));
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(kEseNotImplemented, instance->PlayLogFiles(const_cast<LPWSTR>(L"C:\\logs"), 0, nullptr));
    ComPtr<IErrorInfo> error;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &error)); // the answer carries no error object

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(S_OK, instance.As(&support));
    EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IEseInstance));
    EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IUnknown));
    ComPtr<IEseStore> notAStore;
    EXPECT_EQ(E_NOINTERFACE, instance.As(&notAStore));

    // The ProgIDs lead to the same class.
    CLSID byProgId = {};
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Morvane.Vostrel2007.EseInstance", &byProgId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_X2007EseInstance, byProgId));
}

TEST_F(ServerProcessTest, EndsFiveSecondsAfterTheLastRelease)
{
    ComPtr<IEseInstance> first, second;
    ASSERT_EQ(S_OK, CreateInstance(&first));
    ASSERT_EQ(S_OK, CreateInstance(&second));
    HANDLE process = OpenServerProcess();
    ASSERT_NE(nullptr, process);
    first.Reset();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process, 6500)); // an object is still in use
    second.Reset();
    DWORD elapsed = MillisecondsUntilExit(process, 15000);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LE(elapsed, 8000u);
    CloseHandle(process);
}

TEST_F(ServerProcessTest, ALockDuringTheWaitRestartsTheIdlePeriod)
{
    ComPtr<IEseInstance> instance;
    ASSERT_EQ(S_OK, CreateInstance(&instance));
    HANDLE process = OpenServerProcess();
    ASSERT_NE(nullptr, process);
    instance.Reset();
    Sleep(3000);
    ASSERT_EQ(S_OK, CreateInstance(&instance)); // lock and unlock within the idle period
    instance.Reset();
    DWORD elapsed = MillisecondsUntilExit(process, 15000);
    EXPECT_GE(elapsed, 5000u); // counted from the second release, not the first
    EXPECT_LE(elapsed, 8000u);
    CloseHandle(process);
}

TEST_F(ServerProcessTest, ACopyThatNoClientReachesEndsByItself)
{
    // As when two clients launch the server at once and COM hands both the
    // other copy: this one never gets an object.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring commandLine = path;
    commandLine.erase(commandLine.find_last_of(L'\\') + 1);
    commandLine = L"\"" + commandLine + L"Vostrel2003.exe\" -Embedding";
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    DWORD elapsed = MillisecondsUntilExit(process.hProcess, 15000);
    EXPECT_GE(elapsed, 4500u);
    EXPECT_LE(elapsed, 8000u);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

TEST_F(ServerProcessTest, EndsAlsoWhenTheClientKeptItsObjectsInTheInterfaceTable)
{
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(S_OK, common::CreateGlobalInterfaceTable(&git));
    ComPtr<IEseInstance> instance;
    ASSERT_EQ(S_OK, CreateInstance(&instance));
    HANDLE process = OpenServerProcess();
    ASSERT_NE(nullptr, process);
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, git->RegisterInterfaceInGlobal(instance.Get(), IID_IEseInstance, &cookie));
    instance.Reset();

    // Another apartment fetches it per call, as the provider's threads do.
    HRESULT fromThread = E_FAIL;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            ComPtr<IEseInstance> fetched;
            fromThread = git->GetInterfaceFromGlobal(cookie, IID_IEseInstance,
                                                     reinterpret_cast<void**>(fetched.GetAddressOf()));
            if (SUCCEEDED(fromThread))
                fromThread = fetched->PlayLogFiles(nullptr, 0, nullptr);
        }
        CoUninitialize();
    });
    worker.join();
    EXPECT_EQ(kEseNotImplemented, fromThread);

    ComPtr<IEseInstance> fetched;
    ASSERT_EQ(S_OK, git->GetInterfaceFromGlobal(cookie, IID_IEseInstance,
                                                reinterpret_cast<void**>(fetched.GetAddressOf())));
    EXPECT_EQ(kEseNotImplemented, fetched->PlayLogFiles(nullptr, 0, nullptr));
    fetched.Reset();
    ASSERT_EQ(S_OK, git->RevokeInterfaceFromGlobal(cookie));
    EXPECT_EQ(E_INVALIDARG, git->RevokeInterfaceFromGlobal(cookie));
    git.Reset();

    DWORD elapsed = MillisecondsUntilExit(process, 15000);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LE(elapsed, 8000u);
    CloseHandle(process);
}

} // namespace
