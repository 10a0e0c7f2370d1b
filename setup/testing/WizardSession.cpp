#include "ProviderPlatform.h"
#include "WizardSession.h"

#include <shlobj.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

namespace wizardtest {

namespace {

LPTSTR W(const wchar_t* text)
{
    return reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(text));
}

std::wstring Hex(const BYTE* bytes, size_t count)
{
    std::wstring text;
    wchar_t pair[3];
    for (size_t i = 0; i < count; ++i) {
        swprintf(pair, 3, L"%02X", bytes[i]);
        text += pair;
    }
    return text;
}

void PutU32(std::vector<BYTE>& bytes, UINT32 value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
}

void PutString(std::vector<BYTE>& bytes, const std::wstring& text)
{
    PutU32(bytes, static_cast<UINT32>(text.size()));
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
}

} // namespace

CServiceFilesSnapshot::CServiceFilesSnapshot()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    std::vector<std::wstring> paths = {std::wstring(system) + L"\\MAPISVC.INF"};
    wchar_t library[MAX_PATH] = {};
    if (GetModuleFileNameW(GetModuleHandleW(L"mapi32.dll"), library, MAX_PATH)) {
        std::wstring beside = library;
        paths.push_back(beside.substr(0, beside.find_last_of(L'\\') + 1) + L"MAPISVC.INF");
    }
    for (const std::wstring& path : paths) {
        // Whatever the profile API has cached goes to the file first.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
        SFile file;
        file.path = path;
        file.existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (file.existed)
            file.bytes = ReadFileBytes(path);
        m_files.push_back(file);
    }
}

CServiceFilesSnapshot::~CServiceFilesSnapshot()
{
    for (const SFile& file : m_files) {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, file.path.c_str());
        if (!file.existed) {
            DeleteFileW(file.path.c_str());
            continue;
        }
        if (FILE* out = _wfopen(file.path.c_str(), L"wb")) {
            if (!file.bytes.empty())
                fwrite(file.bytes.data(), 1, file.bytes.size(), out);
            fclose(out);
        }
    }
}

HMODULE Kolven32()
{
    static HMODULE library = LoadLibraryW(L"KOLVEN32.dll");
    return library;
}

HRESULT RegisterLibrary(bool comClasses)
{
    HMODULE library = Kolven32();
    if (!library)
        return HRESULT_FROM_WIN32(GetLastError());
    using PlainFn = HRESULT(WINAPI*)();
    if (comClasses) {
        auto registerServer =
            reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
        if (!registerServer)
            return E_FAIL;
        const HRESULT hr = registerServer();
        if (FAILED(hr))
            return hr;
    }
    auto regProvider = reinterpret_cast<PlainFn>(reinterpret_cast<void*>(GetProcAddress(library, "RegProvider")));
    return regProvider ? regProvider() : E_FAIL;
}

std::wstring LibraryText(UINT id)
{
    Kolven32();
    wchar_t text[4096] = {};
    HMODULE strings = GetModuleHandleW(L"pelmrix.dll");
    if (!strings || !LoadStringW(strings, id, text, 4096))
        LoadStringW(Kolven32(), id, text, 4096);
    return text;
}

std::wstring LibraryFormat(UINT id, ...)
{
    const std::wstring format = LibraryText(id);
    va_list args;
    va_start(args, id);
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format.c_str(), measure);
    va_end(measure);
    std::wstring text;
    if (length >= 0) {
        std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
        vswprintf_s(buffer.data(), buffer.size(), format.c_str(), args);
        text = buffer.data();
    }
    va_end(args);
    return text;
}

std::wstring SettingsFilePath(const MAPIUID& serviceUid)
{
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    return std::wstring(common) + L"\\" + LibraryText(387) + L"\\" + LibraryText(388) + L"\\" +
           Hex(serviceUid.ab, sizeof(serviceUid.ab)) + L".cfg";
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    BYTE chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

std::vector<BYTE> SettingsFileBytes(const std::wstring& database, const std::wstring& logs,
                                    const std::wstring& selection, LONG publicFoldersOnly)
{
    std::vector<BYTE> bytes;
    PutString(bytes, database);
    PutString(bytes, logs);
    PutString(bytes, selection);
    PutU32(bytes, static_cast<UINT32>(publicFoldersOnly));
    return bytes;
}

CSectionValues::~CSectionValues()
{
    if (m_values)
        MAPIFreeBuffer(m_values);
}

CSectionValues::CSectionValues(CSectionValues&& other) noexcept : m_values(other.m_values), m_count(other.m_count)
{
    other.m_values = nullptr;
    other.m_count = 0;
}

CSectionValues& CSectionValues::operator=(CSectionValues&& other) noexcept
{
    if (this != &other) {
        if (m_values)
            MAPIFreeBuffer(m_values);
        m_values = other.m_values;
        m_count = other.m_count;
        other.m_values = nullptr;
        other.m_count = 0;
    }
    return *this;
}

const SPropValue* CSectionValues::Find(ULONG tag) const
{
    for (ULONG i = 0; i < m_count; ++i) {
        if (m_values[i].ulPropTag == tag)
            return &m_values[i];
    }
    return nullptr;
}

bool CSectionValues::Has(ULONG tag) const
{
    return Find(tag) != nullptr;
}

std::wstring CSectionValues::Text(ULONG tag) const
{
    const SPropValue* value = Find(tag);
    return value && value->Value.lpszW ? value->Value.lpszW : L"<absent>";
}

LONG CSectionValues::Long(ULONG tag) const
{
    const SPropValue* value = Find(tag);
    return value ? value->Value.l : -12345;
}

std::vector<BYTE> CSectionValues::Bytes(ULONG tag) const
{
    const SPropValue* value = Find(tag);
    if (!value)
        return {};
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

std::vector<std::wstring> CSectionValues::Texts(ULONG tag) const
{
    const SPropValue* value = Find(tag);
    std::vector<std::wstring> texts;
    for (ULONG i = 0; value && i < value->Value.MVszW.cValues; ++i)
        texts.emplace_back(value->Value.MVszW.lppszW[i]);
    return texts;
}

CMapiProfile::CMapiProfile(const std::wstring& prefix, bool exactName)
{
    m_initialised = SUCCEEDED(MAPIInitialize(nullptr));
    if (!m_initialised || FAILED(MAPIAdminProfiles(0, m_admin.GetAddressOf())))
        return;
    static LONG counter = 0;
    if (exactName) {
        m_name = prefix;
        m_admin->DeleteProfile(W(m_name.c_str()), MAPI_UNICODE);
    } else {
        m_name = prefix + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount()) + L"_" +
                 std::to_wstring(InterlockedIncrement(&counter));
    }
    if (FAILED(m_admin->CreateProfile(W(m_name.c_str()), nullptr, 0, MAPI_UNICODE)))
        return;
    m_admin->AdminServices(W(m_name.c_str()), nullptr, 0, MAPI_UNICODE, m_services.GetAddressOf());
}

CMapiProfile::~CMapiProfile()
{
    m_services.Reset();
    if (m_admin && !m_name.empty() && !m_keep)
        m_admin->DeleteProfile(W(m_name.c_str()), MAPI_UNICODE);
    m_admin.Reset();
    if (m_initialised)
        MAPIUninitialize();
}

HRESULT CMapiProfile::SetDefault()
{
    return m_admin ? m_admin->SetDefaultProfile(W(m_name.c_str()), MAPI_UNICODE) : E_UNEXPECTED;
}

HRESULT CMapiProfile::CreateService(ULONG flags)
{
    if (!m_services)
        return E_UNEXPECTED;
    return m_services->CreateMsgService(W(L"KOLVENOV"), W(L""), 0, flags | MAPI_UNICODE);
}

bool CMapiProfile::LastServiceUid(MAPIUID& uid) const
{
    ComPtr<IMAPITable> table;
    if (!m_services || FAILED(m_services->GetMsgServiceTable(0, table.GetAddressOf())))
        return false;
    LPSRowSet rows = nullptr;
    if (FAILED(HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rows)) || !rows)
        return false;
    bool found = false;
    if (rows->cRows > 0) {
        const SRow& row = rows->aRow[rows->cRows - 1];
        const SPropValue* value = PpropFindProp(row.lpProps, row.cValues, PR_SERVICE_UID);
        if (value && value->Value.bin.cb == sizeof(uid.ab)) {
            std::memcpy(uid.ab, value->Value.bin.lpb, sizeof(uid.ab));
            found = true;
        }
    }
    FreeProws(rows);
    return found;
}

bool CMapiProfile::HasService(const MAPIUID& uid) const
{
    ComPtr<IMAPITable> table;
    if (!m_services || FAILED(m_services->GetMsgServiceTable(0, table.GetAddressOf())))
        return false;
    LPSRowSet rows = nullptr;
    if (FAILED(HrQueryAllRows(table.Get(), nullptr, nullptr, nullptr, 0, &rows)) || !rows)
        return false;
    bool found = false;
    for (ULONG r = 0; r < rows->cRows && !found; ++r) {
        const SPropValue* value = PpropFindProp(rows->aRow[r].lpProps, rows->aRow[r].cValues, PR_SERVICE_UID);
        found = value && value->Value.bin.cb == sizeof(uid.ab) &&
                std::memcmp(value->Value.bin.lpb, uid.ab, sizeof(uid.ab)) == 0;
    }
    FreeProws(rows);
    return found;
}

HRESULT CMapiProfile::Configure(const MAPIUID& service, ULONG flags, ULONG count, LPSPropValue values)
{
    MAPIUID uid = service;
    return m_services ? m_services->ConfigureMsgService(&uid, 0, flags, count, values) : E_UNEXPECTED;
}

HRESULT CMapiProfile::Delete(const MAPIUID& service)
{
    MAPIUID uid = service;
    return m_services ? m_services->DeleteMsgService(&uid) : E_UNEXPECTED;
}

CSectionValues CMapiProfile::Read(const MAPIUID& section, const std::vector<ULONG>& tags) const
{
    if (!m_services)
        return CSectionValues();
    MAPIUID uid = section;
    ComPtr<IProfSect> opened;
    if (FAILED(m_services->OpenProfileSection(&uid, nullptr, 0, opened.GetAddressOf())))
        return CSectionValues();
    std::vector<ULONG> array(tags.size() + 1);
    array[0] = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), array.begin() + 1);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (FAILED(opened->GetProps(reinterpret_cast<LPSPropTagArray>(array.data()), MAPI_UNICODE, &count, &values)))
        return CSectionValues();
    return CSectionValues(values, count);
}

bool CMapiProfile::ProviderSection(const MAPIUID& service, MAPIUID& provider) const
{
    const CSectionValues values = Read(service, {PR_STORE_PROVIDERS});
    const std::vector<BYTE> bytes = values.Bytes(PR_STORE_PROVIDERS);
    if (bytes.size() < sizeof(provider.ab))
        return false;
    std::memcpy(provider.ab, bytes.data(), sizeof(provider.ab));
    return true;
}

void CScriptLog::Check(bool condition, const char* what, int line)
{
    if (!condition)
        m_failures.push_back("line " + std::to_string(line) + ": " + what);
}

std::string CScriptLog::Joined() const
{
    std::string text;
    for (const std::string& failure : m_failures)
        text += failure + "\n";
    return text;
}

void DismissUnexpected(CWizardRobot& robot, CScriptLog& log)
{
    SMessageBox box;
    while (robot.FindMessageBox(box)) {
        std::string text(box.text.begin(), box.text.end());
        log.Note("unexpected message box: " + text);
        if (!robot.Dismiss(box))
            break;
    }
}

HRESULT RunWithRobot(const std::function<HRESULT()>& action, const RobotScript& script, CScriptLog& log)
{
    const DWORD uiThread = GetCurrentThreadId();
    // The message queue exists before the robot posts to it.
    MSG peek;
    PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE);
    volatile bool actionDone = false;
    std::thread driver([&] {
        CWizardRobot robot(uiThread);
        robot.SetStop(&actionDone);
        script(robot, log);
        // Whatever the script left open goes, so that the action returns.
        for (int round = 0; round < 20 && !actionDone && robot.Sheet(); ++round) {
            SMessageBox box;
            while (robot.FindMessageBox(box)) {
                if (!robot.Dismiss(box))
                    break;
            }
            if (HWND other = robot.FindOtherDialog())
                PostMessageW(other, WM_COMMAND, IDCANCEL, 0);
            robot.Press(EButton::Cancel);
            robot.WaitForSheetGone(2000);
        }
    });
    const HRESULT hr = action();
    actionDone = true;
    driver.join();
    return hr;
}

} // namespace wizardtest
