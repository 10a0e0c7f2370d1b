#include "Platform.h"
#include "CVostrelModule.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(ParseServerCommandLine, FirstKnownSwitchDecides)
{
    struct Case {
        const wchar_t* commandLine;
        EServerSwitch expected;
        bool perUser;
    } cases[] = {
        {L"Vostrel2003.exe /RegServer", EServerSwitch::RegServer, false},
        {L"Vostrel2003.exe -regserver", EServerSwitch::RegServer, false},
        {L"Vostrel2003.exe /rEgSeRvEr", EServerSwitch::RegServer, false},
        {L"Vostrel2003.exe -RegServerX", EServerSwitch::None, false},
        {L"Vostrel2003.exe /RegServerPerUserX", EServerSwitch::None, false},
        {L"Vostrel2003.exe /RegServ", EServerSwitch::None, false},
        {L"Vostrel2003.exe /UnregServer", EServerSwitch::UnregServer, false},
        {L"Vostrel2003.exe /RegServerPerUser", EServerSwitch::RegServer, true},
        {L"Vostrel2003.exe -unregserverperuser", EServerSwitch::UnregServer, true},
        {L"Vostrel2003.exe -Embedding", EServerSwitch::None, false},
        {L"Vostrel2003.exe -Embedding /UnregServer", EServerSwitch::UnregServer, false},
        {L"Vostrel2003.exe /RegServer\t/UnregServer", EServerSwitch::RegServer, false},
        {L"Z:\\build-x\\bin\\Vostrel2003.exe /UnregServerPerUser", EServerSwitch::UnregServer, true},
        {L"Vostrel2003.exe RegServer", EServerSwitch::None, false},
        {L"Vostrel2003.exe /", EServerSwitch::None, false},
        {L"", EServerSwitch::None, false},
        {nullptr, EServerSwitch::None, false},
    };
    for (const Case& c : cases) {
        bool perUser = !c.perUser;
        EXPECT_EQ(c.expected, ParseServerCommandLine(c.commandLine, &perUser)) << (c.commandLine ? c.commandLine : L"");
        EXPECT_EQ(c.perUser, perUser) << (c.commandLine ? c.commandLine : L"");
    }
}

} // namespace

namespace {

// The monitor decided to end the process (WM_QUIT is on its way) and a client
// got a new object before the class object was revoked: the object's client
// is served until it releases the object, then the process ends.
TEST(CVostrelModuleShutdown, ObjectsHandedOutBeforeTheRevokeAreServedToTheirRelease)
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CVostrelModule* module = nullptr;
    DWORD serverThread = 0;
    HRESULT served = E_PENDING;
    std::thread server([&] {
        CVostrelModule own;
        module = &own;
        serverThread = GetCurrentThreadId();
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists before anyone posts
        SetEvent(ready);
        served = own.RunServer();
        SetEvent(done);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 5000));

    module->Lock();
    PostThreadMessageW(serverThread, WM_QUIT, 0, 0);
    // Revoke and the pause before exit take about a second; the object's
    // client still holds it well after that.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(done, 2500));
    module->Unlock();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done, 5000));
    server.join();
    EXPECT_EQ(S_OK, served);
    CloseHandle(ready);
    CloseHandle(done);
}

} // namespace
