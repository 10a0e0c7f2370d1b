#include "Platform.h"
#include "QorImageTestSupport.h"

#include <zlib.h>

#include <cstring>

namespace qorbusimages {

namespace {

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, length);
    return path.substr(0, path.rfind(L'\\'));
}

void CollectFiles(const std::wstring& root, const std::wstring& relative, std::vector<FixtureFile>& files)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = root + (relative.empty() ? L"" : L"\\" + relative) + L"\\*";
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(root, path, files);
        else
            files.push_back({path, ReadAll(root + L"\\" + path)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

std::wstring FixtureFolder() { return ProgramFolder() + L"\\qorbus_fixtures"; }

std::vector<uint8_t> FixturePartition(int bits)
{
    return ReadAll(FixtureFolder() + (bits == 32 ? L"\\fat32.img" : L"\\fat16.img"));
}

std::vector<FixtureFile> FixtureFiles()
{
    std::vector<FixtureFile> files;
    CollectFiles(FixtureFolder() + L"\\files", L"", files);
    return files;
}

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                               got != bytes.size()))
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::vector<uint8_t> MakeVhd(const std::vector<uint8_t>& partition, uint8_t partitionType)
{
    return backupsource::MakeFixedVhd(partition, partitionType);
}

void SealVhdFooter(std::vector<uint8_t>& vhd) { backupsource::SealVhdFooter(vhd); }

int WriteArchive(const std::string& path, const std::vector<uint8_t>& partition, const ArchiveSettings& settings)
{
    backupsource::SArchiveOptions options;
    options.packed = settings.packed;
    options.compression = settings.compression;
    options.major = settings.major;
    options.unitsPerEntry = settings.unitsPerEntry;
    options.bitmaps = settings.bitmaps;
    return backupsource::WriteArchiveVolume(path, partition, options);
}

std::vector<uint8_t> MakeArchive(const std::vector<uint8_t>& partition, const ArchiveSettings& settings)
{
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"qar", 0, file);
    const std::wstring wide(file);
    std::string path;
    for (wchar_t c : wide)
        path.push_back(static_cast<char>(c));  // the temporary folder's path is ASCII
    std::vector<uint8_t> bytes;
    if (WriteArchive(path, partition, settings) == 0)
        bytes = ReadAll(wide);
    DeleteFileW(file);
    return bytes;
}

std::vector<uint8_t> MountedDeviceValue(wchar_t letter, DWORD* type)
{
    const wchar_t name[] = {L'\\', L'D', L'o', L's', L'D', L'e', L'v', L'i', L'c', L'e', L's', L'\\', letter, L':', 0};
    std::vector<uint8_t> data(4096);
    DWORD size = static_cast<DWORD>(data.size()), kind = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    const LONG rc = RegQueryValueExW(key, name, nullptr, &kind, data.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return {};
    data.resize(size);
    if (type)
        *type = kind;
    return data;
}

std::wstring MountedImageName(const std::vector<uint8_t>& value)
{
    std::wstring text(value.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], value.data(), text.size() * 2);
    text = text.substr(0, text.find(L'\0'));
    const size_t hash = text.rfind(L'#');
    if (hash == std::wstring::npos)
        return L"";
    text.resize(hash);
    const size_t amp = text.rfind(L'&');
    return amp == std::wstring::npos ? L"" : text.substr(amp + 1);
}

FileSum SumOf(const std::wstring& path)
{
    FileSum sum;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return sum;
    std::vector<uint8_t> piece(1 << 20);
    uLong crc = crc32(0, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) && got) {
        crc = crc32(crc, piece.data(), got);
        sum.size += got;
    }
    CloseHandle(file);
    sum.crc = static_cast<uint32_t>(crc);
    return sum;
}

}  // namespace qorbusimages
