#include "Platform.h"
#include "MapiSvcRegistration.h"

#include "ResourceStrings.h"

#include <cwchar>
#include <string>
#include <vector>

namespace setup {

const wchar_t kServiceSection[] = L"KOLVENOV";
const wchar_t kProviderSection[] = L"P_KOLVENOV";

namespace {

// The provider library as MAPI names it in the file; the installed library is
// found under this name, not under the module's own.
const wchar_t kDllName[] = L"KOLVEN.DLL";
const wchar_t kMapiSvcFile[] = L"MAPISVC.INF";
const wchar_t kOutlookClient[] = L"Microsoft Outlook";

std::string AnsiFromWide(const wchar_t* text)
{
    if (!text)
        return std::string();
    int cb = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return std::string();
    std::string ansi(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], cb, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(cb - 1));
    return ansi;
}

// The MAPI library's path as the stub reports it for the client's MSI
// component.
std::wstring ComponentPath(LPCWSTR client)
{
    RegistryText componentId;
    RegistryText appLcid;
    RegistryText officeLcid;
    GetMapiMsiIds(client, &componentId, &appLcid, &officeLcid);
    if (!componentId)
        return std::wstring();

    HMODULE stub = LoadLibraryW(L"mapistub.dll");
    if (!stub)
        stub = LoadLibraryW(L"mapi32.dll");
    if (!stub)
        return std::wstring();
    std::wstring result;
    auto getPath = reinterpret_cast<FGetComponentPathFn>(
        reinterpret_cast<void*>(GetProcAddress(stub, "FGetComponentPath")));
    if (getPath)
        result = QueryComponentPath(getPath, componentId.get(), appLcid.get(), officeLcid.get());
    FreeLibrary(stub);
    return result;
}

std::wstring SystemDirectory()
{
    wchar_t system[MAX_PATH + 1];
    UINT cch = GetSystemDirectoryW(system, MAX_PATH + 1);
    if (cch == 0 || cch > MAX_PATH)
        return std::wstring();
    return std::wstring(system, cch);
}

// The bytes of the file as they were before a table was written, so that a
// table refused part-way can be taken back whole: INI writes have no undo of
// their own, and a [Services] entry without its sections makes MAPI offer a
// service it cannot configure.
class CFileBackup {
public:
    explicit CFileBackup(std::wstring path) : m_path(std::move(path)) {}
    CFileBackup(const CFileBackup&) = delete;
    CFileBackup& operator=(const CFileBackup&) = delete;

    // False when the file exists but cannot be read; it could then not be
    // put back, so nothing may be written.
    bool Take(ProfileWriteFn write)
    {
        // The system may hold changes of its own in its cached copy.
        write(nullptr, nullptr, nullptr, m_path.c_str());
        HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            m_existed = false;
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        m_existed = true;
        char buffer[4096];
        DWORD read = 0;
        bool ok = true;
        for (;;) {
            if (!ReadFile(file, buffer, sizeof buffer, &read, nullptr)) {
                ok = false;
                break;
            }
            if (read == 0)
                break;
            m_bytes.append(buffer, read);
        }
        CloseHandle(file);
        return ok;
    }

    void Restore(ProfileWriteFn write) const
    {
        // Drop the system's cached copy first, or it would write the
        // refused table's lines over the restored bytes.
        write(nullptr, nullptr, nullptr, m_path.c_str());
        if (!m_existed) {
            DeleteFileW(m_path.c_str());
            return;
        }
        // The old bytes go to a file beside it first and replace it only once
        // written whole: a write that fails part-way must not leave MAPI's
        // file cut short.
        const std::wstring restored = m_path + L".restore";
        HANDLE file = CreateFileW(restored.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        const bool whole = WriteFile(file, m_bytes.data(), static_cast<DWORD>(m_bytes.size()), &written, nullptr) &&
                           written == m_bytes.size();
        CloseHandle(file);
        if (!whole || !MoveFileExW(restored.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            DeleteFileW(restored.c_str());
    }

private:
    std::wstring m_path;
    bool m_existed = false;
    std::string m_bytes;
};

} // namespace

std::wstring QueryComponentPath(FGetComponentPathFn getPath, LPCWSTR componentId, LPCWSTR appLcid, LPCWSTR officeLcid)
{
    if (!getPath || !componentId)
        return std::wstring();
    std::string component = AnsiFromWide(componentId);
    // The application's language first, then Office's, then none; a call
    // that succeeds with an empty path counts as a miss.
    std::vector<std::string> qualifiers;
    if (appLcid)
        qualifiers.push_back(AnsiFromWide(appLcid));
    if (officeLcid)
        qualifiers.push_back(AnsiFromWide(officeLcid));
    char path[MAX_PATH + 1] = {};
    bool found = false;
    for (std::string& qualifier : qualifiers) {
        path[0] = 0;
        if (getPath(&component[0], &qualifier[0], path, MAX_PATH, TRUE) && path[0]) {
            found = true;
            break;
        }
    }
    if (!found) {
        path[0] = 0;
        found = getPath(&component[0], nullptr, path, MAX_PATH, TRUE) && path[0];
    }
    if (!found)
        return std::wstring();
    path[MAX_PATH] = 0;
    int cch = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (cch <= 1)
        return std::wstring();
    std::wstring result(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, path, -1, &result[0], cch);
    result.resize(static_cast<size_t>(cch - 1));
    return result;
}

CRegistryKey GetMailKey(LPCWSTR client)
{
    std::wstring name;
    if (client) {
        name = client;
    } else {
        const CRegistryKey mail(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", KEY_READ);
        if (!mail)
            return CRegistryKey();
        DWORD type = 0;
        RegistryText value;
        const LONG rc = GetRegistryValue(mail.Get(), nullptr, &type, &value);
        if (rc != ERROR_SUCCESS || type != REG_SZ || !value.get()[0])
            return CRegistryKey();
        name = value.get();
    }
    const std::wstring path = L"Software\\Clients\\Mail\\" + name;
    return CRegistryKey(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ);
}

LONG GetRegistryValue(HKEY key, LPCWSTR name, DWORD* type, RegistryText* value)
{
    value->reset();
    DWORD cb = 0;
    DWORD kind = 0;
    if (RegQueryValueExW(key, name, nullptr, &kind, nullptr, &cb) != ERROR_SUCCESS || cb == 0 ||
        (kind != REG_SZ && kind != REG_DWORD && kind != REG_MULTI_SZ))
        return ERROR_INVALID_DATA;
    // Two spare zero characters: the registry keeps strings as stored, so a
    // value written without its terminator would otherwise run off the end.
    DWORD allocated = cb + 2 * sizeof(wchar_t);
    RegistryText buffer(static_cast<wchar_t*>(LocalAlloc(LPTR, allocated)));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD read = cb;
    LONG rc = RegQueryValueExW(key, name, nullptr, &kind, reinterpret_cast<BYTE*>(buffer.get()), &read);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (type)
        *type = kind;
    *value = std::move(buffer);
    return ERROR_SUCCESS;
}

void GetMapiMsiIds(LPCWSTR client, RegistryText* componentId, RegistryText* appLcid, RegistryText* officeLcid)
{
    struct Wanted {
        const wchar_t* name;
        RegistryText* out;
    } wanted[] = {{L"MSIComponentID", componentId}, {L"MSIApplicationLCID", appLcid}, {L"MSIOfficeLCID", officeLcid}};
    for (Wanted& w : wanted) {
        if (w.out)
            w.out->reset();
    }
    const CRegistryKey key = GetMailKey(client);
    if (!key)
        return;
    for (Wanted& w : wanted) {
        if (!w.out)
            continue;
        DWORD type = 0;
        RegistryText text;
        // Only text names a component or a language qualifier.
        if (GetRegistryValue(key.Get(), w.name, &type, &text) == ERROR_SUCCESS && type != REG_DWORD && text.get()[0])
            *w.out = std::move(text);
    }
}

void GetMAPISVCPath(LPWSTR buffer, UINT size)
{
    if (!buffer || size == 0)
        return;
    buffer[0] = 0;
    std::wstring directory = ComponentPath(kOutlookClient);
    size_t slash = directory.find_last_of(L'\\');
    directory = slash == std::wstring::npos ? std::wstring() : directory.substr(0, slash);
    if (directory.empty())
        directory = SystemDirectory();
    if (directory.empty())
        return;
    std::wstring path = directory + L"\\" + kMapiSvcFile;
    if (path.size() >= size)
        return;
    wmemcpy(buffer, path.c_str(), path.size() + 1);
}

HRESULT HrSetProfileParameters(const ProfileRow* rows, ProfileWriteFn write)
{
    if (!rows)
        return E_INVALIDARG;
    wchar_t found[272];
    GetMAPISVCPath(found, 272);
    std::wstring file = found;
    if (file.empty()) {
        std::wstring system = SystemDirectory();
        if (system.empty())
            return E_FAIL;
        file = system + L"\\" + kMapiSvcFile;
    }
    CFileBackup backup(file);
    if (!backup.Take(write)) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    HRESULT hr = S_OK;
    for (const ProfileRow* row = rows; row->section && SUCCEEDED(hr); ++row) {
        wchar_t numbered[16];
        const wchar_t* key = row->key;
        if (!key && row->numericKey != 0) {
            if (swprintf(numbered, 16, L"%lx", row->numericKey) < 0) {
                hr = E_FAIL;
                break;
            }
            key = numbered;
        }
        // A refused write (read-only or unreachable file) must not look like
        // a registered service to the installer.
        if (!write(row->section, key, row->value, file.c_str())) {
            DWORD error = GetLastError();
            hr = error ? HRESULT_FROM_WIN32(error) : E_FAIL;
        }
    }
    if (FAILED(hr)) {
        backup.Restore(write);
        return hr;
    }
    // Flushes the system's cached copy of the file.
    write(nullptr, nullptr, nullptr, file.c_str());
    return hr;
}

} // namespace setup

extern "C" HRESULT WINAPI RegProvider()
{
    try {
        std::wstring name = LoadResString(kIdsComponentName);
        const wchar_t* display = name.c_str();
        using setup::kProviderSection;
        using setup::kServiceSection;
        const wchar_t* dll = setup::kDllName;
        const setup::ProfileRow rows[] = {
            {L"Services", kServiceSection, 0, display},
            {kServiceSection, L"PR_DISPLAY_NAME", 0, display},
            {kServiceSection, L"PR_SERVICE_DLL_NAME", 0, dll},
            {kServiceSection, L"PR_SERVICE_ENTRY_NAME", 0, L"ServiceEntry"},
            {kServiceSection, L"PR_RESOURCE_FLAGS", 0, L"SERVICE_NO_PRIMARY_IDENTITY"},
            {kServiceSection, L"Providers", 0, kProviderSection},
            {kServiceSection, L"PR_SERVICE_SUPPORT_FILES", 0, dll},
            {kServiceSection, L"PR_SERVICE_DELETE_FILES", 0, dll},
            {kProviderSection, L"PR_RESOURCE_TYPE", 0, L"MAPI_STORE_PROVIDER"},
            {kProviderSection, L"PR_PROVIDER_DLL_NAME", 0, dll},
            {kProviderSection, L"PR_RESOURCE_FLAGS", 0, L"STATUS_DEFAULT_STORE"},
            {kProviderSection, L"PR_DISPLAY_NAME", 0, display},
            {kProviderSection, L"PR_PROVIDER_DISPLAY", 0, display},
            {nullptr, nullptr, 0, nullptr},
        };
        return setup::HrSetProfileParameters(rows);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

extern "C" HRESULT WINAPI UnRegProvider()
{
    try {
        const setup::ProfileRow rows[] = {
            {L"Services", setup::kServiceSection, 0, nullptr},
            {setup::kServiceSection, nullptr, 0, nullptr},
            {setup::kProviderSection, nullptr, 0, nullptr},
            {nullptr, nullptr, 0, nullptr},
        };
        return setup::HrSetProfileParameters(rows);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
