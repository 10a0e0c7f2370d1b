#include "Platform.h"
#include "CMimeCharset.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr UINT kUtf16Le = 1200;
constexpr UINT kUtf16Be = 1201;
constexpr UINT kUsAscii = 20127;
constexpr UINT kLatin1 = 28591;
constexpr UINT kWindows1252 = 1252;

struct KnownCharset {
    const char* name;
    UINT codePage;
};

const KnownCharset kKnown[] = {
    {"utf-8", CP_UTF8}, {"utf8", CP_UTF8}, {"unicode-1-1-utf-8", CP_UTF8},
    {"utf-7", CP_UTF7}, {"unicode-1-1-utf-7", CP_UTF7},
    {"utf-16", kUtf16Le}, {"utf-16le", kUtf16Le}, {"utf-16be", kUtf16Be}, {"unicode", kUtf16Le},
    {"us-ascii", kUsAscii}, {"ascii", kUsAscii}, {"ansi_x3.4-1968", kUsAscii}, {"iso646-us", kUsAscii},
    {"us", kUsAscii}, {"iso-ir-6", kUsAscii},
    {"iso-8859-1", kLatin1}, {"iso8859-1", kLatin1}, {"iso_8859-1", kLatin1}, {"latin1", kLatin1},
    {"l1", kLatin1}, {"iso-ir-100", kLatin1},
    {"iso-8859-2", 28592}, {"iso-8859-3", 28593}, {"iso-8859-4", 28594}, {"iso-8859-5", 28595},
    {"iso-8859-6", 28596}, {"iso-8859-7", 28597}, {"iso-8859-8", 28598}, {"iso-8859-8-i", 38598},
    {"iso-8859-9", 28599}, {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"latin2", 28592},
    {"latin-9", 28605}, {"latin9", 28605},
    {"koi8-r", 20866}, {"koi8-u", 21866}, {"ibm866", 866}, {"tis-620", 874},
    {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"x-sjis", 932}, {"ms_kanji", 932},
    {"euc-jp", 51932}, {"iso-2022-jp", 50220},
    {"gb2312", 936}, {"gbk", 936}, {"x-gbk", 936}, {"gb18030", 54936}, {"hz-gb-2312", 52936},
    {"big5", 950}, {"big5-hkscs", 950}, {"x-x-big5", 950},
    {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"iso-2022-kr", 50225},
    {"macintosh", 10000}, {"x-mac-roman", 10000},
};

std::string Lower(const std::string& text)
{
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return lower;
}

// "windows-1250", "cp1251", "x-cp1252", "ms936": the number is the code page.
UINT NumberedCodePage(const std::string& name)
{
    for (const char* prefix : {"windows-", "cp", "x-cp", "ms", "ibm"}) {
        const size_t length = std::strlen(prefix);
        if (name.size() > length && name.size() <= length + 5 && name.compare(0, length, prefix) == 0 &&
            name.find_first_not_of("0123456789", length) == std::string::npos) {
            return static_cast<UINT>(std::stoul(name.substr(length)));
        }
    }
    return 0;
}

std::wstring FromUtf16(const char* data, size_t size, bool bigEndian)
{
    if (size >= 2) {
        const auto first = static_cast<unsigned char>(data[0]);
        const auto second = static_cast<unsigned char>(data[1]);
        if (first == 0xFF && second == 0xFE) {
            bigEndian = false;
            data += 2;
            size -= 2;
        } else if (first == 0xFE && second == 0xFF) {
            bigEndian = true;
            data += 2;
            size -= 2;
        }
    }
    std::wstring text;
    text.reserve(size / 2);
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto a = static_cast<unsigned char>(data[i]);
        const auto b = static_cast<unsigned char>(data[i + 1]);
        text.push_back(static_cast<wchar_t>(bigEndian ? (a << 8) | b : (b << 8) | a));
    }
    return text;
}

} // namespace

UINT CMimeCharset::CodePageOf(const std::string& charset)
{
    std::string name = Lower(charset);
    // A language suffix ("utf-8*en", RFC 2231) and quotes are not part of the name.
    const size_t star = name.find('*');
    if (star != std::string::npos)
        name.erase(star);
    while (!name.empty() && (name.back() == ' ' || name.back() == '"'))
        name.pop_back();
    while (!name.empty() && (name.front() == ' ' || name.front() == '"'))
        name.erase(0, 1);
    for (const KnownCharset& known : kKnown) {
        if (name == known.name)
            return known.codePage;
    }
    return NumberedCodePage(name);
}

bool CMimeCharset::IsAscii(const char* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80)
            return false;
    }
    return true;
}

bool CMimeCharset::IsValidUtf8(const char* data, size_t size)
{
    size_t i = 0;
    while (i < size) {
        const auto c = static_cast<unsigned char>(data[i]);
        size_t follow = 0;
        unsigned long point = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            follow = 1;
            point = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            follow = 2;
            point = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            follow = 3;
            point = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= follow)
            return false;
        for (size_t k = 1; k <= follow; ++k) {
            const auto next = static_cast<unsigned char>(data[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and points past U+10FFFF are not UTF-8.
        if ((follow == 2 && point < 0x800) || (follow == 3 && point < 0x10000) || point > 0x10FFFF ||
            (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += follow + 1;
    }
    return true;
}

UINT CMimeCharset::FallbackCodePage(const char* data, size_t size)
{
    return IsValidUtf8(data, size) ? CP_UTF8 : kWindows1252;
}

UINT CMimeCharset::DecodingCodePage(const std::string& charset, const char* data, size_t size)
{
    const UINT declared = CodePageOf(charset);
    switch (declared) {
    case 0:
        return FallbackCodePage(data, size);
    case kUsAscii:
        // Eight-bit text labelled ASCII is common; UTF-8 is the likelier reading.
        return IsAscii(data, size) ? kWindows1252 : FallbackCodePage(data, size);
    case kLatin1:
        return kWindows1252;
    case CP_UTF8:
        return FallbackCodePage(data, size);
    default:
        return declared;
    }
}

std::wstring CMimeCharset::FromCodePage(const char* data, size_t size, UINT codePage)
{
    if (size == 0)
        return std::wstring();
    if (codePage == kUtf16Le || codePage == kUtf16Be)
        return FromUtf16(data, size, codePage == kUtf16Be);
    if (size > static_cast<size_t>(INT_MAX / 2))
        size = INT_MAX / 2;
    const int length = static_cast<int>(size);
    int needed = codePage && IsValidCodePage(codePage) ? MultiByteToWideChar(codePage, 0, data, length, nullptr, 0) : 0;
    if (needed <= 0) {
        codePage = FallbackCodePage(data, size);
        needed = MultiByteToWideChar(codePage, 0, data, length, nullptr, 0);
        if (needed <= 0)
            return std::wstring();
    }
    std::wstring text(static_cast<size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(codePage, 0, data, length, &text[0], needed);
    text.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return text;
}

std::wstring CMimeCharset::ToWide(const char* data, size_t size, const std::string& charset)
{
    return FromCodePage(data, size, DecodingCodePage(charset, data, size));
}

std::wstring CMimeCharset::ToWide(const std::string& bytes, const std::string& charset)
{
    return ToWide(bytes.data(), bytes.size(), charset);
}
