#pragma once
// The shell's folder browser and comctl32's open-file dialog, as the setup
// pages call them.
#include "Platform.h"

#include <commdlg.h>

#include <string>

namespace ui {

struct SFolderBrowse {
    HWND owner = nullptr;
    std::wstring title;
    UINT flags = 0;           // BIF_*
    std::wstring root;        // the browser's root folder; empty: the desktop
    std::wstring select;      // selected (and, with expand, expanded) when the browser starts
    bool expand = false;
};

// True with the chosen folder's file-system path (at most MAX_PATH units).
bool BrowseForFolder(const SFolderBrowse& browse, std::wstring& path);

struct SOpenFile {
    HWND owner = nullptr;
    std::wstring filter;      // "|"-separated pairs, as the string table keeps them
    std::wstring title;
    std::wstring defaultExtension;
    DWORD flags = 0;          // OFN_*
    std::wstring initialFolder;
    LPOFNHOOKPROC hook = nullptr;
    LPARAM hookData = 0;      // OPENFILENAMEW::lCustData
};

// True with the chosen file's path (a buffer of MAX_PATH units).
bool GetOpenFilePath(const SOpenFile& open, std::wstring& path);

// The filter text of the string table with every "|" turned into a NUL.
std::wstring FilterFromTable(const std::wstring& text);

// Trailing backslashes removed, then exactly one appended.
std::wstring WithOneTrailingBackslash(std::wstring path);

// White space removed at both ends.
std::wstring Trimmed(const std::wstring& text);

} // namespace ui
