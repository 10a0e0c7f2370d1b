#include "ProviderPlatform.h"
#include "CWaitDialog.h"

#include "ResourceStrings.h"
#include "UiResources.h"

namespace ui {

namespace {

constexpr UINT kIdsPleaseWait = 343;

} // namespace

const SMessageEntry<CWaitDialog> CWaitDialog::kMessages[] = {
    {WM_INITDIALOG, kAny, kAny, &CWaitDialog::OnInitDialog},
    {0, 0, 0, nullptr},
};

CWaitDialog::CWaitDialog(HWND owner)
{
    if (!CreateModeless(IDD_WAIT, owner))
        return;
    // Centred on the owner, or on the screen when there is none.
    RECT own{};
    if (!owner || !GetWindowRect(owner, &own))
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &own, 0);
    RECT self{};
    GetWindowRect(Window(), &self);
    const int width = self.right - self.left;
    const int height = self.bottom - self.top;
    SetWindowPos(Window(), nullptr, own.left + (own.right - own.left - width) / 2,
                 own.top + (own.bottom - own.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(Window(), SW_SHOW);
    UpdateWindow(Window());
}

CWaitDialog::~CWaitDialog()
{
    DestroyWindowNow();
}

INT_PTR CWaitDialog::OnInitDialog(WPARAM, LPARAM)
{
    SetItemText(IDC_WAIT_TEXT, LoadResString(kIdsPleaseWait));
    return TRUE;
}

CWaitCursor::CWaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}

CWaitCursor::~CWaitCursor()
{
    SetCursor(m_previous);
}

} // namespace ui
