#include "ProviderPlatform.h"
#include "CLogTimestamp.h"
#include "ProviderLog.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using providertest::CScratchDir;
using providertest::FileExists;
using providertest::ReadBytes;
using providertest::ReadLogLines;
using providertest::SplitLogLine;
using providertest::WriteBytes;

std::wstring ThreadHex()
{
    wchar_t text[16];
    _snwprintf_s(text, 16, _TRUNCATE, L"%08x", static_cast<unsigned>(GetCurrentThreadId()));
    return text;
}

TEST(ProviderLog, FirstLineCreatesTheFileWithItsMarkLaterLinesAppend)
{
    CScratchDir dir;
    std::wstring first = dir.File(L"KOLWEN32.log");
    std::wstring second = first; // another holder of the same file
    WriteLogLine(first, L"one");
    WriteLogLine(second, nullptr);
    WriteLogLine(first, L"three : with : separators");

    const std::vector<BYTE> bytes = ReadBytes(first);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    bool mark = false;
    const std::vector<std::wstring> lines = ReadLogLines(first, &mark);
    ASSERT_EQ(3u, lines.size());
    const wchar_t* texts[] = {L"one", L"", L"three : with : separators"};
    for (size_t i = 0; i < 3; ++i) {
        std::wstring stamp, thread, text;
        ASSERT_TRUE(SplitLogLine(lines[i], stamp, thread, text)) << i;
        EXPECT_FALSE(stamp.empty());
        EXPECT_EQ(ThreadHex(), thread);
        EXPECT_EQ(texts[i], text);
        // No second mark anywhere.
        EXPECT_EQ(std::wstring::npos, lines[i].find(L'\xFEFF'));
    }
}

TEST(ProviderLog, ExistingFilesKeepTheirContentAndEmptyOnesGetTheMark)
{
    CScratchDir dir;
    struct Case {
        const char* what;
        std::vector<BYTE> before;
        bool markAdded;
    };
    const Case cases[] = {
        {"written by another process", {0xFF, 0xFE, 'x', 0, '\r', 0, '\n', 0}, false},
        {"left empty", {}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::wstring path = dir.File(L"log" + std::to_wstring(n++) + L".log");
        ASSERT_TRUE(WriteBytes(path, c.before));
        WriteLogLine(path, L"next");
        const std::vector<BYTE> after = ReadBytes(path);
        const size_t prefix = c.before.size() + (c.markAdded ? 2 : 0);
        ASSERT_GT(after.size(), prefix) << c.what;
        EXPECT_TRUE(std::equal(c.before.begin(), c.before.end(), after.begin())) << c.what;
        if (c.markAdded) {
            EXPECT_EQ(0xFF, after[0]) << c.what;
            EXPECT_EQ(0xFE, after[1]) << c.what;
        }
        EXPECT_NE(0xFF, after[prefix]) << c.what;
    }
}

TEST(ProviderLog, UnopenableFileLosesTheLineQuietly)
{
    CScratchDir dir;
    std::wstring path = dir.File(L"missing\\KOLWEN32.log");
    WriteLogLine(path, L"lost");
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(dir.File(L"missing\\KOLWEN32.log"), path);
}

TEST(ProviderLog, LogFormatWritesTheFormattedLine)
{
    CScratchDir dir;
    std::wstring path = dir.File(L"KOLWEN32.log");
    LogFormat(path, L"Method %s failed.  HRESULT 0x%08x.", L"CFolder::CopyTo", 0x80040102u);
    LogFormat(path, nullptr);
    const std::vector<std::wstring> lines = ReadLogLines(path);
    ASSERT_EQ(2u, lines.size());
    std::wstring stamp, thread, text;
    ASSERT_TRUE(SplitLogLine(lines[0], stamp, thread, text));
    EXPECT_EQ(L"Method CFolder::CopyTo failed.  HRESULT 0x80040102.", text);
    // A format that cannot be applied is logged as it stands (here: none).
    ASSERT_TRUE(SplitLogLine(lines[1], stamp, thread, text));
    EXPECT_EQ(L"", text);
}

TEST(ProviderLog, TimestampIsReusedForOneHundredMilliseconds)
{
    SYSTEMTIME ten = {2026, 12, 4, 10, 10, 0, 0, 0};
    SYSTEMTIME tenPastOne = ten;
    tenPastOne.wSecond = 1;
    wchar_t date[520], time[520];
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &ten, nullptr, date, 520);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &ten, nullptr, time, 520);
    const std::wstring atTen = std::wstring(date) + L" " + time;

    struct Step {
        DWORD tick;
        const SYSTEMTIME* now;
        bool sameAsFirst;
    };
    const Step steps[] = {
        {1000, &ten, true},
        {1050, &tenPastOne, true},  // within 100 ms: the stamp as it stands
        {1100, &tenPastOne, true},  // exactly 100 ms
        {1101, &tenPastOne, false}, // rebuilt
    };
    CLogTimestamp stamp;
    for (const Step& s : steps)
        EXPECT_EQ(s.sameAsFirst, atTen == stamp.Get(s.tick, *s.now)) << s.tick;

    // Across the wrap of the tick counter the difference is still small.
    CLogTimestamp wrapping;
    const std::wstring before = wrapping.Get(0xFFFFFFF0u, ten);
    EXPECT_EQ(before, wrapping.Get(0x20u, tenPastOne));
    EXPECT_NE(before, wrapping.Get(0x100u, tenPastOne));
}

// Writers in two threads of this process and in two other processes at once:
// every line arrives whole, once, after a single byte-order mark.
TEST(ProviderLog, ConcurrentWritersLoseNoLines)
{
    CScratchDir dir;
    const std::wstring path = dir.File(L"KOLWEN32.log");
    constexpr int kLines = 100;

    std::vector<PROCESS_INFORMATION> processes;
    for (const wchar_t* tag : {L"procA", L"procB"}) {
        std::wstring command = L"provider_log_writer.exe \"" + path + L"\" " + std::to_wstring(kLines) + L" " + tag;
        STARTUPINFOW startup = {sizeof(startup)};
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        processes.push_back(process);
    }
    // The threads keep writing until both processes are done, so that the
    // processes always write while this process does.
    std::atomic<bool> processesDone{false};
    int written[2] = {};
    std::vector<std::thread> threads;
    const wchar_t* tags[] = {L"threadA", L"threadB"};
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            std::wstring own = path;
            int i = 0;
            for (; i < kLines || !processesDone; ++i)
                WriteLogLine(own, (std::wstring(tags[t]) + L" " + std::to_wstring(i)).c_str());
            written[t] = i;
        });
    }
    for (PROCESS_INFORMATION& p : processes) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(p.hProcess, 60000));
        DWORD code = 1;
        GetExitCodeProcess(p.hProcess, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(p.hThread);
        CloseHandle(p.hProcess);
    }
    processesDone = true;
    for (std::thread& t : threads)
        t.join();

    bool mark = false;
    const std::vector<std::wstring> lines = ReadLogLines(path, &mark);
    EXPECT_TRUE(mark);
    std::map<std::wstring, std::set<int>> seen;
    for (const std::wstring& line : lines) {
        std::wstring stamp, thread, text;
        ASSERT_TRUE(SplitLogLine(line, stamp, thread, text)) << "damaged line";
        const size_t blank = text.find(L' ');
        ASSERT_NE(std::wstring::npos, blank);
        seen[text.substr(0, blank)].insert(_wtoi(text.c_str() + blank + 1));
    }
    EXPECT_EQ(static_cast<size_t>(2 * kLines + written[0] + written[1]), lines.size());
    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ(static_cast<size_t>(kLines), seen[L"procA"].size());
    EXPECT_EQ(static_cast<size_t>(kLines), seen[L"procB"].size());
    EXPECT_EQ(static_cast<size_t>(written[0]), seen[L"threadA"].size());
    EXPECT_EQ(static_cast<size_t>(written[1]), seen[L"threadB"].size());
}

} // namespace
