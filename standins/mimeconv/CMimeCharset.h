// MIME charset names and the text of bytes in them, through the platform's
// code-page conversion. A name the converter does not know, a code page the
// platform cannot convert, and "UTF-8" or "US-ASCII" text that is neither
// are read as UTF-8 when the bytes are valid UTF-8, else as windows-1252,
// which gives every byte a character: nothing is dropped.
#pragma once
#include "Platform.h"

#include <cstddef>
#include <string>

class CMimeCharset {
public:
    // The code page a charset name declares (20127 for US-ASCII, 28591 for
    // ISO-8859-1, 65001 for UTF-8, ...); 0 for a name not known here.
    static UINT CodePageOf(const std::string& charset);

    // The code page the bytes of a part in this charset are actually read
    // with: the declared one, except that US-ASCII and ISO-8859-1 are read as
    // windows-1252, their superset on Windows, and names not known here as
    // the fallback for these bytes.
    static UINT DecodingCodePage(const std::string& charset, const char* data, size_t size);

    // The text of bytes labelled with a charset (empty: no label).
    static std::wstring ToWide(const std::string& bytes, const std::string& charset);
    static std::wstring ToWide(const char* data, size_t size, const std::string& charset);

    // The text of bytes in one code page; the fallback when the platform
    // cannot convert that code page.
    static std::wstring FromCodePage(const char* data, size_t size, UINT codePage);

    static bool IsValidUtf8(const char* data, size_t size);
    static bool IsAscii(const char* data, size_t size);

    // UTF-8 when the bytes are valid UTF-8, else windows-1252.
    static UINT FallbackCodePage(const char* data, size_t size);
};
