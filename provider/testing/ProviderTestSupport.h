#pragma once
// Helpers for the provider's tests: a scratch folder removed afterwards and
// whole-file reads and writes.
#include "ProviderPlatform.h"

#include <cstdio>
#include <string>
#include <vector>

namespace providertest {

// A fresh folder under the temporary folder, deleted with its contents.
class CScratchDir {
public:
    CScratchDir()
    {
        wchar_t base[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, base);
        static LONG counter = 0;
        for (;;) {
            m_path = std::wstring(base) + L"provtest_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                     std::to_wstring(InterlockedIncrement(&counter));
            if (CreateDirectoryW(m_path.c_str(), nullptr))
                break;
        }
    }
    ~CScratchDir() { Remove(m_path); }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    static void Remove(const std::wstring& path)
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(path + L"\\" + name);
                else
                    DeleteFileW((path + L"\\" + name).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }

    std::wstring m_path;
};

inline std::vector<BYTE> ReadBytes(const std::wstring& path)
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

inline bool WriteBytes(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

inline bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A UTF-16LE log file without its byte-order mark, split into lines at
// "\r\n" (the terminators dropped). hasMark tells whether it started with one.
inline std::vector<std::wstring> ReadLogLines(const std::wstring& path, bool* hasMark = nullptr)
{
    std::vector<BYTE> bytes = ReadBytes(path);
    size_t start = 0;
    const bool mark = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
    if (hasMark)
        *hasMark = mark;
    if (mark)
        start = 2;
    std::wstring text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
    std::vector<std::wstring> lines;
    size_t pos = 0;
    for (size_t end; (end = text.find(L"\r\n", pos)) != std::wstring::npos; pos = end + 2)
        lines.push_back(text.substr(pos, end - pos));
    if (pos < text.size())
        lines.push_back(text.substr(pos)); // an unterminated tail, which a test reports
    return lines;
}

// The text of a log line after "<stamp> : <thread> : ", with the thread id.
inline bool SplitLogLine(const std::wstring& line, std::wstring& stamp, std::wstring& thread, std::wstring& text)
{
    const size_t first = line.find(L" : ");
    if (first == std::wstring::npos || first + 3 + 8 + 3 > line.size() ||
        line.compare(first + 3 + 8, 3, L" : ") != 0)
        return false;
    stamp = line.substr(0, first);
    thread = line.substr(first + 3, 8);
    text = line.substr(first + 3 + 8 + 3);
    for (wchar_t c : thread)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    return true;
}

} // namespace providertest
