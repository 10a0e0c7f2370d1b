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

void ShowWizardHelp(int, int)
{
    std::wstring topic;
    if (!WizardHelpTopicPath(topic))
        return;
    // HTML Help lives in hhctrl.ocx, loaded on first use the way the SDK's
    // import stub loads it; the library stays loaded for later requests.
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
    static HtmlHelpFn htmlHelp = [] {
        HMODULE control = LoadLibraryW(L"hhctrl.ocx");
        return control ? reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(control, "HtmlHelpW")))
                       : nullptr;
    }();
    if (htmlHelp)
        htmlHelp(GetActiveWindow(), topic.c_str(), HH_DISPLAY_TOPIC, 0);
}
