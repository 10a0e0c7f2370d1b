#pragma once
// Helpers of the image-mounting tests: the stand-in driver installed as a
// kernel service of the Wine prefix and removed again, a closer for the
// message boxes the procedures show, and the provider log's text. The images
// themselves come from the stand-in's own test support (QorImageTestSupport).
#include "Platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <atomic>
#include <vector>

namespace qorbustest {

constexpr wchar_t kServiceName[] = L"QorBus";

// Creates and starts the service of qorbus.sys beside the test program,
// after removing one that an interrupted run left behind. False with a
// reason in error. settings are DWORD values of the service key that the
// stand-in reads at start ("ReportedVersion", "InsertDelay").
struct DriverSetting {
    const wchar_t* name;
    DWORD value;
};
bool InstallDriver(std::string& error, const std::vector<DriverSetting>& settings = {});
// Stops and deletes the service; stopping unloads the driver, which takes
// back every letter it still shows. True when no service is left.
bool RemoveDriver();

std::vector<uint8_t> ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
std::string ReadText(const std::wstring& path);  // empty when it cannot be read

// A drive letter (upper case) that no drive uses, from the end of the alphabet.
wchar_t FreeDriveLetter();
bool IsDriveShown(wchar_t letter);

// The provider log's whole text (empty when there is none).
std::wstring ReadProviderLog();

// Closes every message box of this process while it lives, keeping the texts.
class CMessageBoxCloser {
public:
    CMessageBoxCloser();
    ~CMessageBoxCloser();
    CMessageBoxCloser(const CMessageBoxCloser&) = delete;
    CMessageBoxCloser& operator=(const CMessageBoxCloser&) = delete;
    std::vector<std::wstring> Texts();

private:
    void Run();
    static BOOL CALLBACK CloseBox(HWND window, LPARAM parameter);
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    std::vector<HWND> m_seen;
    std::thread m_thread;
};

// Suites that talk to the driver: installed once per suite and removed after
// it; each test gets an open controller, and images a test leaves open are
// reported and closed.
class CDriverTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    void SetUp() override;
    void TearDown() override;
    HANDLE m_controller = INVALID_HANDLE_VALUE;

private:
    static std::string s_installError;
    static bool s_installed;
};

}  // namespace qorbustest
