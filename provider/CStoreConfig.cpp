#include "ProviderPlatform.h"
#include "CStoreConfig.h"
#include "ProviderFiles.h"

#include <cstdio>
#include <cstring>
#include <io.h>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool ReadU32(FILE* file, UINT32& value)
{
    BYTE bytes[4];
    if (fread(bytes, 1, 4, file) != 4)
        return false;
    value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<UINT32>(bytes[3]) << 24;
    return true;
}

bool WriteU32(FILE* file, UINT32 value)
{
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                           static_cast<BYTE>(value >> 24)};
    return fwrite(bytes, 1, 4, file) == 4;
}

// A length-prefixed UTF-16LE string; the length is checked against what is
// left of the file before anything is allocated. The text ends at its first
// zero unit.
bool ReadString(FILE* file, long& remaining, std::wstring& text)
{
    UINT32 units = 0;
    if (remaining < 4 || !ReadU32(file, units))
        return false;
    remaining -= 4;
    if (units > static_cast<unsigned long>(remaining) / 2)
        return false;
    std::vector<wchar_t> buffer(units + 1, L'\0');
    if (units && fread(buffer.data(), 2, units, file) != units)
        return false;
    remaining -= static_cast<long>(units * 2);
    text = buffer.data();
    return true;
}

bool WriteString(FILE* file, const std::wstring& text)
{
    return WriteU32(file, static_cast<UINT32>(text.size())) &&
           (text.empty() || fwrite(text.data(), 2, text.size(), file) == text.size());
}

} // namespace

CStoreConfig::CStoreConfig()
{
    GetDataDirectory(m_baseDirectory);
}

CStoreConfig::CStoreConfig(std::wstring baseDirectory) : m_baseDirectory(std::move(baseDirectory)) {}

std::wstring CStoreConfig::FormatName(const MAPIUID& serviceUid)
{
    return BytesToHex(serviceUid.ab, sizeof(serviceUid.ab));
}

std::wstring CStoreConfig::GetFilePath(const std::wstring& name) const
{
    // Without a data directory the path would name the drive's root folder.
    if (m_baseDirectory.empty() || name.empty())
        return std::wstring();
    return m_baseDirectory + L"\\" + name + L".cfg";
}

void CStoreConfig::Clear()
{
    databasePath.clear();
    logFolder.clear();
    mailboxSelection.clear();
    publicFoldersOnly = 0;
}

bool CStoreConfig::Load(const std::wstring& name)
{
    Clear();
    const std::wstring path = GetFilePath(name);
    if (path.empty())
        return false;
    FilePtr file(_wfopen(path.c_str(), L"rb"));
    if (!file)
        return false;
    if (fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    long remaining = ftell(file.get());
    if (remaining < 0 || fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    std::wstring database, log, selection;
    UINT32 flag = 0;
    if (!ReadString(file.get(), remaining, database) || !ReadString(file.get(), remaining, log) ||
        !ReadString(file.get(), remaining, selection) || remaining < 4 || !ReadU32(file.get(), flag))
        return false;
    databasePath = std::move(database);
    logFolder = std::move(log);
    mailboxSelection = std::move(selection);
    publicFoldersOnly = static_cast<LONG>(flag);
    return true;
}

bool CStoreConfig::Save(const std::wstring& name) const
{
    const std::wstring path = GetFilePath(name);
    if (path.empty())
        return false;
    // Truncating the settings in place would lose them if the write failed
    // half way (a full disk); the old file stays until the new one is whole.
    wchar_t suffix[32];
    _snwprintf_s(suffix, 32, _TRUNCATE, L".%lx.%lx.tmp", GetCurrentProcessId(), GetCurrentThreadId());
    const std::wstring temporary = path + suffix;
    FILE* raw = _wfopen(temporary.c_str(), L"wb");
    if (!raw)
        return false;
    bool written = WriteString(raw, databasePath) && WriteString(raw, logFolder) &&
                   WriteString(raw, mailboxSelection) && WriteU32(raw, static_cast<UINT32>(publicFoldersOnly));
    written = fflush(raw) == 0 && written;
    written = fclose(raw) == 0 && written;
    if (!written || !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}

bool CStoreConfig::Exists(const MAPIUID& serviceUid) const
{
    const std::wstring path = GetFilePath(FormatName(serviceUid));
    return !path.empty() && _waccess(path.c_str(), 0) == 0;
}

bool CStoreConfig::Delete(const MAPIUID& serviceUid) const
{
    return DeleteByName(FormatName(serviceUid));
}

bool CStoreConfig::DeleteByName(const std::wstring& name) const
{
    const std::wstring path = GetFilePath(name);
    return !path.empty() && DeleteFileW(path.c_str());
}

bool CStoreConfig::GetMailboxSelection(const MAPIUID& serviceUid, std::wstring& selection)
{
    return GetMailboxSelectionByName(FormatName(serviceUid), selection);
}

bool CStoreConfig::GetMailboxSelectionByName(const std::wstring& name, std::wstring& selection)
{
    const bool loaded = Load(name);
    selection = mailboxSelection;
    return loaded;
}

bool CStoreConfig::SetMailboxSelectionByName(const std::wstring& name, const std::wstring& selection)
{
    // A file that is there but cannot be read is kept as it is rather than
    // replaced by one that has lost its database path.
    if (!Load(name) && _waccess(GetFilePath(name).c_str(), 0) == 0)
        return false;
    mailboxSelection = selection;
    return Save(name);
}

bool CStoreConfig::GetPublicFoldersOnly(const MAPIUID& serviceUid, LONG& flag)
{
    return GetPublicFoldersOnlyByName(FormatName(serviceUid), flag);
}

bool CStoreConfig::GetPublicFoldersOnlyByName(const std::wstring& name, LONG& flag)
{
    const bool loaded = Load(name);
    flag = publicFoldersOnly;
    return loaded;
}

namespace {

const wchar_t kAddInKey[] = L"Software\\Microsoft\\Office\\Outlook\\AddIns\\KOLVEN32.Connect";

struct SToolbarValue {
    const wchar_t* name;
    LONG* value;
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

KeyPtr OpenAddInKey()
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddInKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return KeyPtr();
    return KeyPtr(key);
}

} // namespace

bool CStoreConfig::LoadToolbarState(LONG& visible, LONG& position, LONG& top, LONG& left, LONG& rowIndex)
{
    KeyPtr key = OpenAddInKey();
    if (!key)
        return false;
    const SToolbarValue values[] = {{L"ToolbarVisible", &visible},
                                    {L"ToolbarPosition", &position},
                                    {L"ToolbarTop", &top},
                                    {L"ToolbarLeft", &left},
                                    {L"ToolbarRowIndex", &rowIndex}};
    for (const SToolbarValue& value : values) {
        DWORD type = 0;
        DWORD data = 0;
        DWORD size = sizeof(data);
        LONG status = RegQueryValueExW(key.get(), value.name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(data))
            return false;
        *value.value = static_cast<LONG>(data);
    }
    return true;
}

bool CStoreConfig::SaveToolbarState(LONG visible, LONG position, LONG top, LONG left, LONG rowIndex)
{
    KeyPtr key = OpenAddInKey();
    if (!key)
        return false;
    const std::pair<const wchar_t*, LONG> values[] = {{L"ToolbarVisible", visible},
                                                      {L"ToolbarPosition", position},
                                                      {L"ToolbarTop", top},
                                                      {L"ToolbarLeft", left},
                                                      {L"ToolbarRowIndex", rowIndex}};
    for (const auto& value : values) {
        const DWORD data = static_cast<DWORD>(value.second);
        if (RegSetValueExW(key.get(), value.first, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data)) !=
            ERROR_SUCCESS)
            return false;
    }
    return true;
}
