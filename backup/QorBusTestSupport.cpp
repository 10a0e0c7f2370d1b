#include "Platform.h"
#include "QorBusTestSupport.h"

#include "ProviderFiles.h"
#include "ProviderLog.h"

#include "QorApi.h"

#include <cstring>

namespace qorbustest {

namespace {

struct ServiceHandle {
    SC_HANDLE handle = nullptr;
    explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
    ~ServiceHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
};

bool WaitForState(SC_HANDLE service, DWORD state)
{
    for (int i = 0; i < 250; ++i) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == state)
            return true;
        Sleep(20);
    }
    return false;
}

std::wstring DriverPath()
{
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, length);
    return path.substr(0, path.rfind(L'\\') + 1) + L"qorbus.sys";
}

} // namespace

bool RemoveDriver()
{
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.handle)
        return false;
    ServiceHandle service(OpenServiceW(manager.handle, kServiceName, SERVICE_ALL_ACCESS));
    if (!service.handle)
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
    // A service left by a session that ended without stopping it: started
    // once more, the driver takes back the letters it had recorded.
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.handle, &status) && status.dwCurrentState == SERVICE_STOPPED) {
        const std::wstring path = DriverPath();
        ChangeServiceConfigW(service.handle, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, path.c_str(),
                             nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (StartServiceW(service.handle, 0, nullptr))
            WaitForState(service.handle, SERVICE_RUNNING);
    }
    if (QueryServiceStatus(service.handle, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        ControlService(service.handle, SERVICE_CONTROL_STOP, &status);
        WaitForState(service.handle, SERVICE_STOPPED);
    }
    return DeleteService(service.handle) != FALSE;
}

bool InstallDriver(std::string& error, const std::vector<DriverSetting>& settings)
{
    if (!RemoveDriver()) {
        error = "an earlier QorBus service could not be removed";
        return false;
    }
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.handle) {
        error = "OpenSCManager failed: " + std::to_string(GetLastError());
        return false;
    }
    const std::wstring path = DriverPath();
    ServiceHandle service(CreateServiceW(manager.handle, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                                         SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service.handle) {
        error = "CreateService failed: " + std::to_string(GetLastError());
        return false;
    }
    for (const DriverSetting& setting : settings) {
        if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\QorBus", setting.name,
                            REG_DWORD, &setting.value, sizeof setting.value) != ERROR_SUCCESS) {
            error = "a driver setting could not be written";
            return false;
        }
    }
    if (!StartServiceW(service.handle, 0, nullptr) || !WaitForState(service.handle, SERVICE_RUNNING)) {
        error = "StartService failed: " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

std::vector<uint8_t> ReadBytes(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    uint8_t chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return bytes;
}

bool WriteBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool IsDriveShown(wchar_t letter)
{
    return (GetLogicalDrives() >> (letter - L'A')) & 1;
}

wchar_t FreeDriveLetter()
{
    for (wchar_t letter = L'Y'; letter >= L'M'; --letter)
        if (!IsDriveShown(letter))
            return letter;
    return 0;
}

std::wstring ReadProviderLog()
{
    std::wstring directory;
    if (!GetDataDirectory(directory))
        return L"";
    const std::vector<uint8_t> bytes = ReadBytes(directory + L"\\" + kLogFileName);
    std::wstring text(bytes.size() / 2, L'\0');
    if (!text.empty())
        std::memcpy(&text[0], bytes.data(), text.size() * 2);
    return text;
}

CMessageBoxCloser::CMessageBoxCloser() : m_thread([this] { Run(); }) {}

CMessageBoxCloser::~CMessageBoxCloser()
{
    m_stop = true;
    m_thread.join();
}

std::vector<std::wstring> CMessageBoxCloser::Texts()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_texts;
}

BOOL CALLBACK CMessageBoxCloser::CloseBox(HWND window, LPARAM parameter)
{
    auto* self = reinterpret_cast<CMessageBoxCloser*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (process != GetCurrentProcessId() || wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    {
        std::lock_guard<std::mutex> guard(self->m_lock);
        bool seen = false;
        for (HWND known : self->m_seen)
            seen = seen || known == window;
        if (!seen) {
            wchar_t text[1024] = {};
            // The text of a message box is its static control 0xFFFF.
            GetDlgItemTextW(window, 0xFFFF, text, 1024);
            self->m_texts.emplace_back(text);
            self->m_seen.push_back(window);
        }
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CMessageBoxCloser::Run()
{
    while (!m_stop) {
        EnumWindows(CloseBox, reinterpret_cast<LPARAM>(this));
        Sleep(20);
    }
}

}  // namespace qorbustest

namespace qorbustest {

std::string CDriverTest::s_installError;
bool CDriverTest::s_installed = false;

void CDriverTest::SetUpTestSuite()
{
    s_installError.clear();
    s_installed = InstallDriver(s_installError);
}

void CDriverTest::TearDownTestSuite()
{
    RemoveDriver();
    s_installed = false;
}

void CDriverTest::SetUp()
{
    ASSERT_TRUE(s_installed) << s_installError;
    ASSERT_TRUE(QorApiControllerOpen(&m_controller)) << std::hex << GetLastError();
}

void CDriverTest::TearDown()
{
    if (m_controller == INVALID_HANDLE_VALUE)
        return;
    // Whatever a test left open is closed, which also takes its letter back.
    uint32_t indices[64];
    uint32_t count = 64;
    if (QorApiEnumImages(m_controller, indices, &count, nullptr)) {
        EXPECT_EQ(count, 0u) << "images left open by the test";
        for (uint32_t i = 0; i < count; ++i)
            QorApiImageClose(m_controller, indices[i]);
    }
    QorApiControllerClose(m_controller);
    m_controller = INVALID_HANDLE_VALUE;
}

}  // namespace qorbustest
