#include "Platform.h"
#include "CVostrelModule.h"

#include <gtest/gtest.h>

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
