#pragma once
// The message boxes of the setup dialogs and the texts they show. Every box
// has the configuration caption (string 301) and one OK button; the caller
// chooses the icon (MB_ICONWARNING, MB_ICONERROR).
#include "Platform.h"

#include <string>

namespace ui {

constexpr UINT kIdsConfigCaption = 301;

// A string of the table formatted with wide printf rules (the text is the
// format, the arguments fill its %s, %d, %c and %08X). A text that cannot be
// formatted is shown as it stands.
std::wstring FormatResource(UINT id, ...);

// MessageBoxW(owner, text, string 301, MB_OK | icon).
int ShowMessage(HWND owner, const std::wstring& text, UINT icon);

} // namespace ui
