// SQLite's UTF-16 interface for code whose wchar_t is UTF-16 (Windows),
// compiled where wchar_t has 32 bits: the catalog reader's wide texts are
// converted on the way in and out, so that it runs unchanged under the
// native fuzzer. Everything else is SQLite's own header.
#pragma once

#include_next <sqlite3.h>

#include <string>

namespace nativesqlite {

inline std::u16string ToUtf16(const wchar_t* text, size_t n)
{
    std::u16string out;
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = static_cast<uint32_t>(text[i]);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

// Valid until the next call with the same slot.
inline const wchar_t* FromUtf16(const void* text, std::wstring& slot)
{
    if (!text)
        return nullptr;
    slot.clear();
    for (const char16_t* p = static_cast<const char16_t*>(text); *p; ++p) {
        uint32_t c = *p;
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (*++p - 0xDC00);
        slot += static_cast<wchar_t>(c);
    }
    return slot.c_str();
}

// Windows paths name the same files with slashes here.
inline int Open16(const void* path, sqlite3** db)
{
    const wchar_t* wide = static_cast<const wchar_t*>(path);
    std::u16string text = ToUtf16(wide, std::char_traits<wchar_t>::length(wide));
    for (char16_t& c : text)
        if (c == u'\\')
            c = u'/';
    return sqlite3_open16(text.c_str(), db);
}

inline int OpenV2(const char* path, sqlite3** db, int flags, const char* vfs)
{
    std::string text = path;
    for (char& c : text)
        if (c == '\\')
            c = '/';
    return sqlite3_open_v2(text.c_str(), db, flags, vfs);
}

inline int Prepare16(sqlite3* db, const void* sql, int bytes, sqlite3_stmt** statement, const void** tail)
{
    const wchar_t* wide = static_cast<const wchar_t*>(sql);
    size_t n = bytes < 0 ? std::char_traits<wchar_t>::length(wide) : static_cast<size_t>(bytes) / sizeof(wchar_t);
    std::u16string text = ToUtf16(wide, n);
    if (tail)
        *tail = nullptr;
    return sqlite3_prepare16_v2(db, text.c_str(), static_cast<int>(text.size() * sizeof(char16_t)), statement,
                                nullptr);
}

inline const void* ColumnText16(sqlite3_stmt* statement, int column)
{
    static thread_local std::wstring slot;
    return FromUtf16(sqlite3_column_text16(statement, column), slot);
}

inline const void* Errmsg16(sqlite3* db)
{
    static thread_local std::wstring slot;
    return FromUtf16(sqlite3_errmsg16(db), slot);
}

}  // namespace nativesqlite

#define sqlite3_open16 nativesqlite::Open16
#define sqlite3_open_v2 nativesqlite::OpenV2
#define sqlite3_prepare16_v2 nativesqlite::Prepare16
#define sqlite3_column_text16 nativesqlite::ColumnText16
#define sqlite3_errmsg16 nativesqlite::Errmsg16
