#include "ProviderPlatform.h"
#include "WizardHelp.h"

#include "ProviderFiles.h"

#include <htmlhelp.h>

bool WizardHelpTopicPath(std::wstring& path)
{
    path.clear();
    std::wstring file;
    if (!GetHelpFilePath(file))
        return false;
    path = file + L"::Connecting_MS_Exchange_Mail_Database.htm";
    return true;
}

namespace {

// HTML Help lives in hhctrl.ocx, loaded on first use the way the SDK's
// import stub loads it; the library stays loaded for later requests.
HWND WINAPI SystemHtmlHelp(HWND owner, LPCWSTR file, UINT command, DWORD_PTR data)
{
    static HtmlHelpFn htmlHelp = [] {
        HMODULE control = LoadLibraryW(L"hhctrl.ocx");
        return control ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpW")))
                       : nullptr;
    }();
    return htmlHelp ? htmlHelp(owner, file, command, data) : nullptr;
}

HtmlHelpFn g_htmlHelp = &SystemHtmlHelp;

} // namespace

HtmlHelpFn SetHtmlHelp(HtmlHelpFn help)
{
    HtmlHelpFn before = g_htmlHelp;
    g_htmlHelp = help ? help : &SystemHtmlHelp;
    return before;
}

void ShowWizardHelp(int, int)
{
    std::wstring topic;
    if (!WizardHelpTopicPath(topic))
        return;
    g_htmlHelp(GetActiveWindow(), topic.c_str(), HH_DISPLAY_TOPIC, 0);
}
