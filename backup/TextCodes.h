#pragma once
// Conversions between the system's UTF-16 and the byte texts of the archive
// family: UTF-8 paths (what the readers and the catalog take) and texts of a
// code page such as the ANSI labels stored in archive headers.
#include <cstddef>
#include <string>

namespace textcode {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// `length` bytes of `text` (no NUL needed) read in `codePage`.
std::wstring FromCodePage(unsigned codePage, const char* text, size_t length);

}  // namespace textcode
