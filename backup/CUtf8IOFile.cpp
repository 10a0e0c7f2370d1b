#include "Platform.h"

#include "CUtf8IOFile.h"

#include "ArchiveStatus.h"
#include "cvt_error.h"

#include <direct.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Runs `call` on the converted path; conversion failures become -1 with errno.
template <typename Call>
int WithCodePage(const char* path, Call call)
{
    try {
        std::string converted = CUtf8IOFile::ToCodePage(path);
        return call(converted.c_str());
    } catch (const cvt_error&) {
        errno = EINVAL;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
    }
    return -1;
}

bool Exists(const char* path)
{
    return WithCodePage(path, [](const char* p) { return _access(p, 0); }) == 0;
}

}  // namespace

std::wstring CUtf8IOFile::DecodeUtf8(const char* text)
{
    std::wstring out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned lead = *p++;
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            continue;
        }
        if (lead < 0xC2 || lead > 0xF4)
            throw cvt_error();
        int more = lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        unsigned code = lead & (0x3F >> more);
        unsigned low = 0x80, high = 0xBF;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
        for (int i = 0; i < more; ++i) {
            unsigned c = *p;
            if (c < low || c > high)  // also catches the terminating NUL
                throw cvt_error();
            low = 0x80;
            high = 0xBF;
            code = (code << 6) | (c & 0x3F);
            ++p;
        }
        if (code == 0xFFFE || code == 0xFFFF)
            throw cvt_error();
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(code));
        }
    }
    return out;
}

std::string CUtf8IOFile::ToCodePage(const char* text)
{
    std::wstring wide = DecodeUtf8(text);
    size_t capacity = strlen(text) * MB_CUR_MAX + 1;
    std::string out(capacity, '\0');
    size_t n = wcstombs(&out[0], wide.c_str(), capacity);
    if (n == static_cast<size_t>(-1) || n >= capacity)
        throw cvt_error();
    out.resize(n);
    return out;
}

int CUtf8IOFile::MakePath(const char* path, bool isFilePath)
{
    std::string text;
    try {
        text = path;
    } catch (const std::bad_alloc&) {
        return ARCERR_NO_MEMORY;
    }
    size_t start = 0;
    bool unc = text.size() >= 2 && text[0] == '\\' && text[1] == '\\';
    if (unc)
        start = 2;
    char separator = GetPathSeparator();
    if (unc && (GetVersion() & 0x80000000u))
        separator = '\\';
    char other = separator == '/' ? '\\' : '/';
    for (size_t i = start; i < text.size(); ++i)
        if (text[i] == other)
            text[i] = separator;
    if (isFilePath) {
        size_t last = text.rfind(separator);
        if (last == std::string::npos || last < start)
            return 0;
        text.resize(last);
    }
    bool creating = false;
    for (size_t i = text.find(separator, start); i != std::string::npos; i = text.find(separator, i + 1)) {
        std::string prefix = text.substr(0, i);
        if (prefix.empty() || prefix.size() <= start)
            continue;
        if (!creating) {
            int attributes = GetAttributes(prefix.c_str());
            if (attributes == 0x10)
                continue;
            if (attributes != -1)
                return -1;
            creating = true;
        }
        if (MakeDir(prefix.c_str()) != 0 && !unc)
            return -1;
    }
    if (!text.empty() && MakeDir(text.c_str()) != 0)
        return -1;
    return 0;
}

int CUtf8IOFile::DeleteFile(const char* path)
{
    return WithCodePage(path, [](const char* p) {
        if (_unlink(p) == 0 || errno == ENOENT)
            return 0;
        return errno;
    });
}

int CUtf8IOFile::MakeDir(const char* path)
{
    if (strlen(path) == 2)
        return 0;
    return WithCodePage(path, [](const char* p) {
        if (_access(p, 0) == 0)
            return 0;
        if (_mkdir(p) == 0 || errno == EEXIST)
            return 0;
        return errno;
    });
}

int CUtf8IOFile::RemoveDir(const char* path)
{
    if (strlen(path) == 2)
        return 0;
    return WithCodePage(path, [](const char* p) {
        if (_access(p, 0) != 0)
            return 0;
        return _rmdir(p) == 0 ? 0 : errno;
    });
}

int CUtf8IOFile::Rename(const char* from, const char* to)
{
    if (!from || !to || strlen(from) == 2 || strlen(to) == 2)
        return 0;
    if (!Exists(from))
        return errno == EINVAL || errno == ENOMEM ? -1 : 0;
    try {
        std::string a = ToCodePage(from);
        std::string b = ToCodePage(to);
        return rename(a.c_str(), b.c_str()) == 0 ? 0 : errno;
    } catch (const cvt_error&) {
        errno = EINVAL;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
    }
    return -1;
}

int CUtf8IOFile::GetAttributes(const char* path)
{
    return WithCodePage(path, [](const char* p) {
        struct _stat64 info;
        if (_stat64(p, &info) != 0)
            return -1;
        return (info.st_mode & _S_IFDIR) ? 0x10 : 0;
    });
}

int CUtf8IOFile::SetAttributes(const char* path, uint32_t attributes)
{
    // The one helper that hands its path to Windows unconverted.
    return SetFileAttributesA(path, attributes & 0x27) ? 0 : -1;
}
