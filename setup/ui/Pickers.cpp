#include "ProviderPlatform.h"
#include "Pickers.h"

#include <shlobj.h>

#include <cwctype>
#include <vector>

namespace ui {

namespace {

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data)
{
    const SFolderBrowse* browse = reinterpret_cast<const SFolderBrowse*>(data);
    if (message == BFFM_INITIALIZED && browse && !browse->select.empty()) {
        SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(browse->select.c_str()));
        if (browse->expand)
            SendMessageW(window, BFFM_SETEXPANDED, TRUE, reinterpret_cast<LPARAM>(browse->select.c_str()));
    }
    return 0;
}

struct CItemIdList {
    PIDLIST_ABSOLUTE list = nullptr;
    ~CItemIdList()
    {
        if (list)
            CoTaskMemFree(list);
    }
};

} // namespace

bool BrowseForFolder(const SFolderBrowse& browse, std::wstring& path)
{
    path.clear();
    CItemIdList root;
    if (!browse.root.empty() && FAILED(SHParseDisplayName(browse.root.c_str(), nullptr, &root.list, 0, nullptr)))
        root.list = nullptr;

    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = browse.owner;
    info.pidlRoot = root.list;
    info.pszDisplayName = display;
    info.lpszTitle = browse.title.c_str();
    info.ulFlags = browse.flags;
    if (!browse.select.empty()) {
        info.lpfn = BrowseCallback;
        info.lParam = reinterpret_cast<LPARAM>(&browse);
    }
    CItemIdList chosen;
    chosen.list = SHBrowseForFolderW(&info);
    if (!chosen.list)
        return false;
    wchar_t folder[MAX_PATH + 1] = {};
    if (!SHGetPathFromIDListW(chosen.list, folder))
        return false;
    path = folder;
    return !path.empty();
}

bool GetOpenFilePath(const SOpenFile& open, std::wstring& path)
{
    path.clear();
    std::vector<wchar_t> file(MAX_PATH, L'\0');
    // Two NULs end the list whatever the table's text looks like.
    const std::wstring filter = open.filter + std::wstring(2, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = open.owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = open.title.empty() ? nullptr : open.title.c_str();
    dialog.lpstrDefExt = open.defaultExtension.empty() ? nullptr : open.defaultExtension.c_str();
    dialog.lpstrInitialDir = open.initialFolder.empty() ? nullptr : open.initialFolder.c_str();
    dialog.Flags = open.flags;
    dialog.lpfnHook = open.hook;
    dialog.lCustData = open.hookData;
    if (!GetOpenFileNameW(&dialog))
        return false;
    path = file.data();
    return !path.empty();
}

std::wstring FilterFromTable(const std::wstring& text)
{
    std::wstring filter = text;
    for (wchar_t& unit : filter) {
        if (unit == L'|')
            unit = L'\0';
    }
    return filter;
}

std::wstring WithOneTrailingBackslash(std::wstring path)
{
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path + L"\\";
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

} // namespace ui
