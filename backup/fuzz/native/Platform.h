// The Win32 calls of the archive readers and the catalog reader, done with
// POSIX calls, so that the fuzzer runs them natively under the sanitizers.
// Only what those readers call is here, with the behaviour they rely on.
// Paths are wide strings (32-bit wchar_t here) converted to UTF-8.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <strings.h>

typedef uint32_t DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef unsigned int UINT;
typedef union {
    uint64_t QuadPart;
} ULARGE_INTEGER;

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define CP_UTF8 65001
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))
#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 1
#define FILE_SHARE_WRITE 2
#define FILE_SHARE_DELETE 4
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3

enum : DWORD {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_ACCESS_DENIED = 5,
    ERROR_WRITE_FAULT = 29,
    ERROR_SHARING_VIOLATION = 32,
    ERROR_LOCK_VIOLATION = 33,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_BUFFER_OVERFLOW = 111,
    ERROR_BUSY = 170,
    ERROR_NO_MORE_FILES = 18,
    ERROR_OPERATION_ABORTED = 995,
};

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    wchar_t cFileName[MAX_PATH];
};

namespace nativeplatform {

inline DWORD& LastError()
{
    static thread_local DWORD error = 0;
    return error;
}

inline DWORD ErrorOfErrno(int e)
{
    switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    default: return ERROR_WRITE_FAULT;
    }
}

inline BOOL Fail()
{
    LastError() = ErrorOfErrno(errno);
    return FALSE;
}

inline std::string Narrow(const wchar_t* text)
{
    std::string out;
    for (; *text; ++text) {
        uint32_t c = static_cast<uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

inline std::wstring Widen(const char* text)
{
    std::wstring out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more)
            c &= 0x3F >> more;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more)
            c = (c << 6) | (*p++ & 0x3F);
        out += static_cast<wchar_t>(c);
    }
    return out;
}

// Backslashes become slashes: the readers build Windows paths.
inline std::string PathOf(const wchar_t* path)
{
    std::string out = Narrow(path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

struct SFind {
    DIR* dir;
    std::string prefix;
};

inline bool Matches(const std::string& name, const std::string& prefix)
{
    return name != "." && name != ".." && name.compare(0, prefix.size(), prefix) == 0;
}

inline BOOL Fill(SFind* find, WIN32_FIND_DATAW* data, const std::string& folder)
{
    while (dirent* entry = readdir(find->dir)) {
        if (!Matches(entry->d_name, find->prefix))
            continue;
        std::wstring name = Widen(entry->d_name);
        if (name.size() >= MAX_PATH)
            continue;
        wcscpy(data->cFileName, name.c_str());
        struct stat st;
        std::string full = folder + entry->d_name;
        data->dwFileAttributes =
            stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        return TRUE;
    }
    LastError() = ERROR_NO_MORE_FILES;
    return FALSE;
}

struct SFindHandle {
    SFind find;
    std::string folder;
};

}  // namespace nativeplatform

inline int _strnicmp(const char* a, const char* b, size_t n)
{
    return strncasecmp(a, b, n);
}

inline void SetLastError(DWORD error)
{
    nativeplatform::LastError() = error;
}

inline DWORD GetLastError()
{
    return nativeplatform::LastError();
}

inline void Sleep(DWORD ms)
{
    usleep(static_cast<useconds_t>(ms) * 1000);
}

inline DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

inline int MultiByteToWideChar(UINT, DWORD, const char* text, int length, wchar_t* out, int capacity)
{
    std::string in = length < 0 ? std::string(text) : std::string(text, static_cast<size_t>(length));
    std::wstring wide = nativeplatform::Widen(in.c_str());
    int n = static_cast<int>(wide.size()) + (length < 0 ? 1 : 0);
    if (!out || capacity == 0)
        return n;
    if (capacity < n)
        return 0;
    memcpy(out, wide.c_str(), sizeof(wchar_t) * static_cast<size_t>(n));
    return n;
}

inline int WideCharToMultiByte(UINT, DWORD, const wchar_t* text, int length, char* out, int capacity, const char*,
                               BOOL*)
{
    std::wstring in = length < 0 ? std::wstring(text) : std::wstring(text, static_cast<size_t>(length));
    std::string narrow = nativeplatform::Narrow(in.c_str());
    int n = static_cast<int>(narrow.size()) + (length < 0 ? 1 : 0);
    if (!out || capacity == 0)
        return n;
    if (capacity < n)
        return 0;
    memcpy(out, narrow.c_str(), static_cast<size_t>(n));
    return n;
}

inline DWORD GetFullPathNameW(const wchar_t* path, DWORD capacity, wchar_t* out, wchar_t**)
{
    size_t n = wcslen(path);
    if (n + 1 > capacity)
        return static_cast<DWORD>(n + 1);
    wcscpy(out, path);
    return static_cast<DWORD>(n);
}

inline DWORD CharUpperBuffW(wchar_t* text, DWORD length)
{
    for (DWORD i = 0; i < length; ++i)
        text[i] = static_cast<wchar_t>(towupper(static_cast<wint_t>(text[i])));
    return length;
}

inline BOOL GetDiskFreeSpaceExA(const char* folder, ULARGE_INTEGER* available, ULARGE_INTEGER*, ULARGE_INTEGER*)
{
    struct statvfs st;
    if (statvfs(folder, &st) != 0)
        return nativeplatform::Fail();
    available->QuadPart = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    return TRUE;
}

inline DWORD GetFileAttributesW(const wchar_t* path)
{
    struct stat st;
    if (stat(nativeplatform::PathOf(path).c_str(), &st) != 0) {
        nativeplatform::Fail();
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (!(st.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

inline BOOL SetFileAttributesW(const wchar_t* path, DWORD attributes)
{
    std::string p = nativeplatform::PathOf(path);
    struct stat st;
    if (stat(p.c_str(), &st) != 0)
        return nativeplatform::Fail();
    mode_t mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (st.st_mode & ~0222) : (st.st_mode | S_IWUSR);
    return chmod(p.c_str(), mode) == 0 ? TRUE : nativeplatform::Fail();
}

inline HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE)
{
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (disposition == CREATE_ALWAYS)
        flags |= O_CREAT | O_TRUNC;
    int fd = open(nativeplatform::PathOf(path).c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        nativeplatform::Fail();
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

inline BOOL ReadFile(HANDLE file, void* buffer, DWORD n, DWORD* got, void*)
{
    ssize_t r = read(static_cast<int>(reinterpret_cast<intptr_t>(file)), buffer, n);
    if (r < 0)
        return nativeplatform::Fail();
    if (got)
        *got = static_cast<DWORD>(r);
    return TRUE;
}

inline BOOL WriteFile(HANDLE file, const void* buffer, DWORD n, DWORD* written, void*)
{
    ssize_t r = write(static_cast<int>(reinterpret_cast<intptr_t>(file)), buffer, n);
    if (r < 0)
        return nativeplatform::Fail();
    if (written)
        *written = static_cast<DWORD>(r);
    return TRUE;
}

inline BOOL CloseHandle(HANDLE file)
{
    return close(static_cast<int>(reinterpret_cast<intptr_t>(file))) == 0 ? TRUE : nativeplatform::Fail();
}

inline BOOL DeleteFileW(const wchar_t* path)
{
    return unlink(nativeplatform::PathOf(path).c_str()) == 0 ? TRUE : nativeplatform::Fail();
}

inline BOOL CreateDirectoryW(const wchar_t* path, void*)
{
    return mkdir(nativeplatform::PathOf(path).c_str(), 0755) == 0 ? TRUE : nativeplatform::Fail();
}

inline BOOL RemoveDirectoryW(const wchar_t* path)
{
    return rmdir(nativeplatform::PathOf(path).c_str()) == 0 ? TRUE : nativeplatform::Fail();
}

// The temporary folder: $TMPDIR, else /tmp; with a trailing separator.
inline DWORD GetTempPathW(DWORD capacity, wchar_t* out)
{
    const char* base = getenv("TMPDIR");
    std::wstring path = nativeplatform::Widen(base && *base ? base : "/tmp");
    if (path.back() != L'/')
        path += L'/';
    if (path.size() + 1 > capacity)
        return static_cast<DWORD>(path.size() + 1);
    wcscpy(out, path.c_str());
    return static_cast<DWORD>(path.size());
}

// Patterns are a folder and "name*" (all the readers ask for).
inline HANDLE FindFirstFileW(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    std::string path = nativeplatform::PathOf(pattern);
    size_t cut = path.find_last_of('/');
    std::string folder = cut == std::string::npos ? "./" : path.substr(0, cut + 1);
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    if (!name.empty() && name.back() == '*')
        name.pop_back();
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        nativeplatform::Fail();
        return INVALID_HANDLE_VALUE;
    }
    auto* handle = new nativeplatform::SFindHandle{{dir, name}, folder};
    if (!nativeplatform::Fill(&handle->find, data, folder)) {
        closedir(dir);
        delete handle;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

inline BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data)
{
    auto* handle = static_cast<nativeplatform::SFindHandle*>(search);
    return nativeplatform::Fill(&handle->find, data, handle->folder);
}

inline BOOL FindClose(HANDLE search)
{
    auto* handle = static_cast<nativeplatform::SFindHandle*>(search);
    closedir(handle->find.dir);
    delete handle;
    return TRUE;
}
