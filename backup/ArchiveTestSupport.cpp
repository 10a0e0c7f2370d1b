#include "Platform.h"

#include "ArchiveTestSupport.h"

#include <random>
#include <stdexcept>

namespace archivetest {

namespace {

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(n - 1);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(n - 1);
    return out;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + L"\\");
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

CTempFolder::CTempFolder()
{
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static unsigned counter = 0;
    wchar_t name[64];
    swprintf(name, 64, L"vostrel-backup-%lu-%u\\", GetCurrentProcessId(), ++counter);
    std::wstring path = std::wstring(base) + name;
    RemoveTree(path);
    if (!CreateDirectoryW(path.c_str(), nullptr))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = Narrow(path);
}

CTempFolder::~CTempFolder()
{
    RemoveTree(Wide(m_path));
}

std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot open " + path);
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    std::vector<uint8_t> bytes(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> SectorPattern(size_t sectors, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> out(sectors * 512);
    static const char text[] = "Subject: quarterly figures, mailbox store, folder Inbox; ";
    for (size_t s = 0; s < sectors; ++s) {
        uint8_t* p = &out[s * 512];
        unsigned kind = random() % 4;
        for (size_t i = 0; i < 512; ++i) {
            switch (kind) {
            case 0: p[i] = static_cast<uint8_t>(s); break;
            case 1: p[i] = static_cast<uint8_t>(text[(i + s) % (sizeof text - 1)]); break;
            case 2: p[i] = static_cast<uint8_t>(random()); break;
            default: p[i] = static_cast<uint8_t>(i < 256 ? 0 : (i * s) >> 3); break;
            }
        }
    }
    return out;
}

}  // namespace archivetest
