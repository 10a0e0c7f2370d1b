#include "ProviderPlatform.h"
#include "CListView.h"

#include "CDialog.h"

namespace ui {

void CListView::SetExtendedStyle(DWORD style) const
{
    ListView_SetExtendedListViewStyle(m_window, style);
}

DWORD CListView::ExtendedStyle() const
{
    return ListView_GetExtendedListViewStyle(m_window);
}

void CListView::InsertColumn(int column, const std::wstring& heading, int width) const
{
    LVCOLUMNW data{};
    data.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    data.pszText = const_cast<LPWSTR>(heading.c_str());
    data.cx = width;
    data.iSubItem = column;
    SendMessageW(m_window, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&data));
}

void CListView::SetColumnWidth(int column, int width) const
{
    ListView_SetColumnWidth(m_window, column, width);
}

int CListView::ClientWidth() const
{
    RECT client{};
    GetClientRect(m_window, &client);
    return client.right - client.left;
}

void CListView::SetSmallImageList(HIMAGELIST images) const
{
    ListView_SetImageList(m_window, images, LVSIL_SMALL);
}

void CListView::SetSmallIcons(std::initializer_list<UINT> iconIds) const
{
    HIMAGELIST images = ImageList_Create(16, 16, ILC_MASK | ILC_COLOR32, 4, 4);
    if (!images)
        return;
    for (UINT id : iconIds) {
        HICON icon = static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
        if (!icon)
            continue;
        ImageList_AddIcon(images, icon);
        DestroyIcon(icon);
    }
    SetSmallImageList(images);
}

int CListView::InsertItem(const std::wstring& text, LPARAM param, int stateImage, int image) const
{
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ItemCount();
    item.pszText = const_cast<LPWSTR>(text.c_str());
    item.lParam = param;
    if (stateImage) {
        item.mask |= LVIF_STATE;
        item.state = INDEXTOSTATEIMAGEMASK(stateImage);
        item.stateMask = LVIS_STATEIMAGEMASK;
    }
    if (image >= 0) {
        item.mask |= LVIF_IMAGE;
        item.iImage = image;
    }
    return static_cast<int>(SendMessageW(m_window, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CListView::SetSubItemText(int item, int column, const std::wstring& text) const
{
    LVITEMW data{};
    data.iSubItem = column;
    data.pszText = const_cast<LPWSTR>(text.c_str());
    SendMessageW(m_window, LVM_SETITEMTEXTW, item, reinterpret_cast<LPARAM>(&data));
}

bool CListView::DeleteAllItems() const
{
    return ListView_DeleteAllItems(m_window) != FALSE;
}

int CListView::ItemCount() const
{
    return ListView_GetItemCount(m_window);
}

std::wstring CListView::ItemText(int item, int column) const
{
    // The control copies at most the buffer's size; grow until the text fits.
    for (int size = 256;; size *= 2) {
        std::vector<wchar_t> buffer(size, L'\0');
        LVITEMW data{};
        data.iSubItem = column;
        data.pszText = buffer.data();
        data.cchTextMax = size;
        const int length = static_cast<int>(
            SendMessageW(m_window, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&data)));
        if (length < size - 1 || size >= (1 << 20))
            return std::wstring(buffer.data());
    }
}

LPARAM CListView::ItemParam(int item) const
{
    LVITEMW data{};
    data.mask = LVIF_PARAM;
    data.iItem = item;
    if (!SendMessageW(m_window, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)))
        return 0;
    return data.lParam;
}

std::vector<int> CListView::ItemsWithState(UINT mask) const
{
    std::vector<int> items;
    const int count = ItemCount();
    for (int item = 0; item < count; ++item) {
        if ((ListView_GetItemState(m_window, item, mask) & mask) == mask)
            items.push_back(item);
    }
    return items;
}

int CListView::StateImage(int item) const
{
    return static_cast<int>((ListView_GetItemState(m_window, item, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12);
}

void CListView::SetStateImage(int item, int image) const
{
    SetItemState(item, INDEXTOSTATEIMAGEMASK(image), LVIS_STATEIMAGEMASK);
}

void CListView::SetItemState(int item, UINT state, UINT mask) const
{
    LVITEMW data{};
    data.state = state;
    data.stateMask = mask;
    SendMessageW(m_window, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&data));
}

} // namespace ui
