#include "ProviderPlatform.h"
#include "Messages.h"

#include "ProviderLog.h"
#include "ResourceStrings.h"

#include <cstdarg>

namespace ui {

std::wstring FormatResource(UINT id, ...)
{
    const std::wstring format = LoadResString(id);
    va_list args;
    va_start(args, id);
    std::wstring text;
    const bool formatted = FormatWideV(text, format.c_str(), args);
    va_end(args);
    return formatted ? text : format;
}

int ShowMessage(HWND owner, const std::wstring& text, UINT icon)
{
    const std::wstring caption = LoadResString(kIdsConfigCaption);
    return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | icon);
}

} // namespace ui
