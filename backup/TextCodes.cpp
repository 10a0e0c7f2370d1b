#include "Platform.h"
#include "TextCodes.h"

namespace textcode {

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr,
                            nullptr);
    return out;
}

std::wstring FromCodePage(unsigned codePage, const char* text, size_t length)
{
    if (length == 0)
        return std::wstring();
    const int size = MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text, static_cast<int>(length), &out[0], size);
    return out;
}

std::wstring Wide(const std::string& utf8) { return FromCodePage(CP_UTF8, utf8.data(), utf8.size()); }

}  // namespace textcode
