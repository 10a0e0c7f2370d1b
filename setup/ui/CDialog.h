#pragma once
// The window layer of the library's dialogs. A dialog object is bound to its
// window when the window is initialised, and every message goes through one
// constant table per class of {message, control, code, handler} rows: a
// class is its dialog resource, its table and its handlers. The wizard's
// pages (CPropertyPage), the wait dialog and the "Mailboxes" page all build
// on this one procedure.
//
// No exception leaves a window procedure: it would unwind through user32's
// and comctl32's frames. The one guard in Process writes it to the provider
// log and gives the message the class's failure result (a wizard page then
// stays where it is).
#include "Platform.h"

#include <commctrl.h>

#include <string>

namespace ui {

// A table row's control or code that matches every value.
constexpr UINT kAny = 0xFFFFFFFFu;

// One row of a class's message table. For WM_COMMAND the control is the
// command's id and the code its notification (BN_CLICKED); for WM_NOTIFY the
// sender's id and the notification code; other messages use kAny for both.
// The handler's result is the message's result (DWLP_MSGRESULT, or the
// procedure's own return value for the messages that use it). The table
// ends with a row whose handler is null.
template <typename T>
struct SMessageEntry {
    UINT message;
    UINT control;
    UINT code;
    INT_PTR (T::*handler)(WPARAM wParam, LPARAM lParam);
};

bool EntryMatches(UINT entryMessage, UINT entryControl, UINT entryCode, UINT message, WPARAM wParam, LPARAM lParam);

// The module whose resources hold the dialogs and bitmaps: the library
// itself (or, in a test program, the program).
HINSTANCE ResourceModule();

// Writes a failure of a window procedure to the provider log.
void LogFailure(const wchar_t* where, const wchar_t* text);

class CDialog {
public:
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    HWND Window() const { return m_window; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::wstring& text) const;
    void EnableItem(int id, bool enable) const;
    bool IsChecked(int id) const;
    void SetChecked(int id, bool checked) const;
    // Moves the keyboard focus to a control the way the dialog manager does.
    void FocusItem(int id) const;

protected:
    CDialog() = default;
    virtual ~CDialog();

    // Modeless: the window from the resource template, owned by owner.
    bool CreateModeless(UINT templateId, HWND owner);
    void DestroyWindowNow();

    // The class's table; true when a row served the message.
    virtual bool RouteTable(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) = 0;
    // What a class routes besides its table (the wizard notifications).
    virtual bool RouteMore(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // The result of a message whose handler failed.
    virtual INT_PTR FailureResult(UINT message, WPARAM wParam, LPARAM lParam) const;

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Binds self at WM_INITDIALOG (self may be null for other messages),
    // routes, guards, and unbinds when the window goes.
    static INT_PTR Process(CDialog* self, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    HWND m_window = nullptr;
};

// Routes through Derived::kMessages.
template <typename Derived, typename Base = CDialog>
class CDialogImpl : public Base {
protected:
    using Base::Base;

    bool RouteTable(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override
    {
        for (const SMessageEntry<Derived>* entry = Derived::kMessages; entry->handler; ++entry) {
            if (EntryMatches(entry->message, entry->control, entry->code, message, wParam, lParam)) {
                result = (static_cast<Derived*>(this)->*entry->handler)(wParam, lParam);
                return true;
            }
        }
        return false;
    }
};

} // namespace ui
