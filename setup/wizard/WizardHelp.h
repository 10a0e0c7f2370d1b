#pragma once
// Help of the add-store wizard: one topic of the product's help file, shown
// by HTML Help. The help file is not part of this build; without an install
// location nothing is shown.
#include "Platform.h"

#include <string>

// The help file's path followed by "::" and the wizard's topic; false when
// the product has no install location.
bool WizardHelpTopicPath(std::wstring& path);

// Every page's Help button and the sheet's help request; both arguments are
// taken and not used, the topic is the same for every page.
void ShowWizardHelp(int pageId, int controlId);

// HTML Help's entry (HtmlHelpW of hhctrl.ocx), through which the topic is
// shown. SetHtmlHelp puts another in its place and returns the one before;
// null gives the system's back. For tests that watch what help is asked.
using HtmlHelpFn = HWND(WINAPI*)(HWND owner, LPCWSTR file, UINT command, DWORD_PTR data);
HtmlHelpFn SetHtmlHelp(HtmlHelpFn help);
