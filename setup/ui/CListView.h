#pragma once
// A thin view of a list-view control (report view) for the setup pages: the
// calls they make, by name, on a window they do not own. Check boxes are the
// items' state images: 1 unchecked, 2 checked.
#include "Platform.h"

#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace ui {

class CListView {
public:
    CListView() = default;
    explicit CListView(HWND window) : m_window(window) {}

    HWND Window() const { return m_window; }
    explicit operator bool() const { return m_window != nullptr; }

    void SetExtendedStyle(DWORD style) const;
    DWORD ExtendedStyle() const;
    void InsertColumn(int column, const std::wstring& heading, int width) const;
    // Width in pixels, or LVSCW_AUTOSIZE / LVSCW_AUTOSIZE_USEHEADER.
    void SetColumnWidth(int column, int width) const;
    int ClientWidth() const;
    void SetSmallImageList(HIMAGELIST images) const;
    // A small image list (16 x 16, masked, room for 4, growing by 4) of these
    // icon resources of the module, in this order; the list destroys it.
    void SetSmallIcons(std::initializer_list<UINT> iconIds) const;

    // Index of the new item (-1 on failure). stateImage 0 leaves the
    // control's default; image -1 gives none.
    int InsertItem(const std::wstring& text, LPARAM param, int stateImage = 0, int image = -1) const;
    void SetSubItemText(int item, int column, const std::wstring& text) const;
    bool DeleteAllItems() const;

    int ItemCount() const;
    std::wstring ItemText(int item, int column = 0) const;
    LPARAM ItemParam(int item) const;
    // Items in list order for which every bit of mask (LVIS_SELECTED, ...) is set.
    std::vector<int> ItemsWithState(UINT mask) const;

    int StateImage(int item) const;
    void SetStateImage(int item, int image) const;
    bool IsChecked(int item) const { return StateImage(item) == 2; }
    void SetChecked(int item, bool checked) const { SetStateImage(item, checked ? 2 : 1); }
    void SetItemState(int item, UINT state, UINT mask) const;

private:
    HWND m_window = nullptr;
};

} // namespace ui
