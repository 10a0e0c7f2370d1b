#include "ProviderPlatform.h"
#include "CDialog.h"

#include "ProviderLog.h"
#include "ResourceStrings.h"

#include <exception>
#include <vector>

namespace ui {

namespace {

// Messages whose result is the dialog procedure's own return value rather
// than DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message)
{
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (; text && *text; ++text)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return wide;
}

} // namespace

bool EntryMatches(UINT entryMessage, UINT entryControl, UINT entryCode, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (entryMessage != message)
        return false;
    UINT control = kAny;
    UINT code = kAny;
    if (message == WM_COMMAND) {
        control = LOWORD(wParam);
        code = HIWORD(wParam);
    } else if (message == WM_NOTIFY && lParam) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        control = static_cast<UINT>(header->idFrom);
        code = header->code;
    }
    return (entryControl == kAny || entryControl == control) && (entryCode == kAny || entryCode == code);
}

HINSTANCE ResourceModule()
{
    HINSTANCE module = GetResourceInstance();
    return module ? module : GetModuleHandleW(nullptr);
}

void LogFailure(const wchar_t* where, const wchar_t* text)
{
    // One path for the whole window layer; only the UI thread writes it.
    static std::wstring logPath;
    std::wstring line;
    FormatWide(line, L"%s: %s", where ? where : L"", text ? text : L"");
    WriteLogLine(logPath, line.c_str());
}

CDialog::~CDialog()
{
    DestroyWindowNow();
}

std::wstring CDialog::ItemText(int id) const
{
    HWND item = Item(id);
    if (!item)
        return std::wstring();
    const int length = GetWindowTextLengthW(item);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    const int got = GetWindowTextW(item, buffer.data(), length + 1);
    return std::wstring(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

void CDialog::SetItemText(int id, const std::wstring& text) const
{
    SetDlgItemTextW(m_window, id, text.c_str());
}

void CDialog::EnableItem(int id, bool enable) const
{
    if (HWND item = Item(id))
        EnableWindow(item, enable ? TRUE : FALSE);
}

bool CDialog::IsChecked(int id) const
{
    return IsDlgButtonChecked(m_window, id) == BST_CHECKED;
}

void CDialog::SetChecked(int id, bool checked) const
{
    CheckDlgButton(m_window, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void CDialog::FocusItem(int id) const
{
    if (HWND item = Item(id))
        SendMessageW(m_window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item), TRUE);
}

bool CDialog::CreateModeless(UINT templateId, HWND owner)
{
    return CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), owner, DialogProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void CDialog::DestroyWindowNow()
{
    if (m_window && IsWindow(m_window))
        DestroyWindow(m_window);
    m_window = nullptr;
}

bool CDialog::RouteMore(UINT, WPARAM, LPARAM, INT_PTR&)
{
    return false;
}

INT_PTR CDialog::FailureResult(UINT, WPARAM, LPARAM) const
{
    return 0;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Process(message == WM_INITDIALOG ? reinterpret_cast<CDialog*>(lParam) : nullptr, window, message, wParam,
                   lParam);
}

INT_PTR CDialog::Process(CDialog* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG && self) {
        self->m_window = window;
        SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self)
        return FALSE;

    INT_PTR result = 0;
    bool handled = false;
    const wchar_t* failure = nullptr;
    std::wstring detail;
    try {
        handled = self->RouteTable(message, wParam, lParam, result) || self->RouteMore(message, wParam, lParam, result);
    } catch (const _com_error& error) {
        failure = L"COM error";
        const _bstr_t description = error.Description();
        const wchar_t* text = static_cast<const wchar_t*>(description);
        FormatWide(detail, L"0x%08X %s", static_cast<unsigned>(error.Error()), text ? text : L"");
    } catch (const std::exception& error) {
        failure = L"exception";
        detail = Widen(error.what());
    } catch (...) {
        failure = L"unknown exception";
    }
    if (failure) {
        std::wstring where;
        FormatWide(where, L"dialog message 0x%04X", message);
        LogFailure(where.c_str(), (std::wstring(failure) + L" " + detail).c_str());
        handled = true;
        result = self->FailureResult(message, wParam, lParam);
    }

    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        if (self->m_window == window)
            self->m_window = nullptr;
    }
    if (!handled)
        return FALSE;
    if (ReturnsDirectly(message))
        return result;
    SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}

} // namespace ui
