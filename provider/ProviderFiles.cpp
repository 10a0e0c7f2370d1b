#include "ProviderPlatform.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

const wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6F93A0C5-B21E-4D7C-8F48-3E5D07A9B162}";
const wchar_t kHelpFileName[] = L"Trevassa.chm";

bool FolderPath(int csidl, std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) || !buffer[0])
        return false;
    path = buffer;
    return true;
}

bool EnsureDirectory(const std::wstring& path)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool AppendLevel(std::wstring& path, UINT id)
{
    const std::wstring name = LoadResString(id);
    // An empty name would leave the files in the application-data folder
    // itself, beside other programs' folders.
    if (name.empty())
        return false;
    if (path.back() != L'\\')
        path += L'\\';
    path += name;
    return EnsureDirectory(path);
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    return -1;
}

bool DeleteTree(const std::wstring& path)
{
    if (RemoveDirectoryW(path.c_str()))
        return true;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(child.c_str());
            else if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryW(child.c_str());
            else
                DeleteTree(child);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

} // namespace

bool GetDataDirectory(std::wstring& path)
{
    path.clear();
    std::wstring base;
    if (!FolderPath(CSIDL_COMMON_APPDATA, base) && !FolderPath(CSIDL_APPDATA, base)) {
        if (!FolderPath(CSIDL_WINDOWS, base))
            return false;
        path = base;
        return true;
    }
    if (!AppendLevel(base, kIdsDataFolderVendor) || !AppendLevel(base, kIdsDataFolderProduct))
        return false;
    path = base;
    return true;
}

bool CreateTempDirectory(std::wstring& path)
{
    path.clear();
    wchar_t tempPath[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, tempPath);
    if (length == 0 || length > MAX_PATH)
        return false;
    // GetTempFileNameW keeps 16 bits of the number, and the tick moves in
    // steps of 10-16 ms, so two logons close together pick the same name: the
    // next number is tried then. Zero would make it create a file instead.
    UINT unique = GetTickCount() & 0xFFFF;
    for (int attempt = 0; attempt < 64; ++attempt, unique = (unique + 1) & 0xFFFF) {
        if (unique == 0)
            unique = 1;
        wchar_t fileName[MAX_PATH] = {};
        if (!GetTempFileNameW(tempPath, L"KO", unique, fileName))
            return false;
        wchar_t* dot = wcsrchr(fileName, L'.');
        if (!dot)
            return false;
        *dot = L'\0';
        if (CreateDirectoryW(fileName, nullptr)) {
            path = fileName;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool DeleteDirectoryTree(const wchar_t* path)
{
    if (!path || wcslen(path) < 4)
        return false;
    return DeleteTree(path);
}

void BytesToHex(const BYTE* bytes, size_t n, wchar_t* out)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    out[2 * n] = L'\0';
}

std::wstring BytesToHex(const BYTE* bytes, size_t n)
{
    std::wstring text(2 * n + 1, L'\0');
    BytesToHex(bytes, n, &text[0]);
    text.resize(2 * n);
    return text;
}

bool HexToBytes(const wchar_t* text, BYTE* out, size_t n)
{
    if (!out)
        return false;
    std::vector<BYTE> bytes(n);
    for (size_t i = 0; i < n; ++i) {
        // Stops at a terminator, so a short text is never read past its end.
        const int high = text ? HexDigit(text[2 * i]) : -1;
        const int low = high >= 0 ? HexDigit(text[2 * i + 1]) : -1;
        if (low < 0) {
            std::fill(out, out + n, 0);
            return false;
        }
        bytes[i] = static_cast<BYTE>(high << 4 | low);
    }
    std::copy(bytes.begin(), bytes.end(), out);
    return true;
}

bool GetInstallLocation(std::wstring& path)
{
    path.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t value[260 + 1] = {};
    DWORD type = 0;
    DWORD size = 520;
    const LONG result =
        RegQueryValueExW(key, L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    // The registry does not promise a terminator; the spare unit provides one.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value[size / sizeof(wchar_t)] = L'\0';
    path = value;
    return !path.empty();
}

bool GetHelpFilePath(std::wstring& path)
{
    std::wstring location;
    path.clear();
    if (!GetInstallLocation(location))
        return false;
    while (!location.empty() && (location.back() == L' ' || location.back() == L'\\'))
        location.pop_back();
    path = location + L"\\" + kHelpFileName;
    return true;
}
