#pragma once
// Drives a wizard the way a person does, from a thread of its own: finds the
// sheet of the thread that runs it and the current page by its dialog id,
// types into edits, clicks buttons and radios, ticks list items, presses
// Back, Next, Finish, Cancel and Help, and reads and dismisses message
// boxes. Everything goes through window messages to the real controls; a
// press is posted, as a click is, so that a message box it opens never
// blocks the robot.
//
// After every action the robot waits until the wizard's thread has taken all
// messages posted before (a marker message seen by a message hook): what the
// action caused (a new page, a message box, a closed sheet) is there by then.
#include "Platform.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace wizardtest {

struct SMessageBox {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    // MB_ICONWARNING, MB_ICONERROR, MB_ICONINFORMATION, MB_ICONQUESTION or 0.
    UINT icon = 0;
};

enum class EButton { Back, Next, Finish, Cancel, Help };

class CWizardRobot {
public:
    static constexpr DWORD kTimeout = 60000;

    // uiThread runs the wizard (and its message boxes).
    explicit CWizardRobot(DWORD uiThread);
    ~CWizardRobot();
    CWizardRobot(const CWizardRobot&) = delete;
    CWizardRobot& operator=(const CWizardRobot&) = delete;

    // Waits for the sheet to show; false on timeout.
    bool WaitForSheet(DWORD timeout = kTimeout);
    // Waits until no sheet of the thread is left.
    bool WaitForSheetGone(DWORD timeout = kTimeout);
    HWND Sheet();
    HWND Page();
    // The current page's dialog resource id; 0 without a sheet.
    int PageId();
    // The sheet's caption, the current header title and subtitle.
    std::wstring SheetCaption();

    // Controls of the current page.
    HWND Control(int id);
    bool SetText(int id, const std::wstring& text);
    std::wstring Text(int id);
    bool IsEnabled(int id);
    bool IsVisible(int id);
    bool IsReadOnly(int id);
    bool IsChecked(int id);
    // The id of the control that has the keyboard focus (0 when none).
    int FocusedControlId();
    // A click on a push button, radio or check box; false when the control
    // is missing, hidden or disabled.
    bool Click(int id);

    bool ButtonEnabled(EButton button);
    bool ButtonVisible(EButton button);
    // A click on the sheet's button; false when it is hidden or disabled.
    // Returns once the wizard's thread has taken the click.
    bool Press(EButton button);

    // The message box of the wizard's thread showing now, if any.
    bool FindMessageBox(SMessageBox& box);
    bool WaitForMessageBox(SMessageBox& box, DWORD timeout = kTimeout);
    // Clicks OK on the box and waits until it is gone.
    bool Dismiss(const SMessageBox& box);
    // The first top-level dialog of the thread other than the sheet, the
    // message boxes and the wait dialog (a file or folder picker).
    HWND FindOtherDialog();

    // A list view on the current page.
    int ListCount(int id);
    std::wstring ListText(int id, int item, int column = 0);
    // The item's icon in the list's small images (-1 when it has none).
    int ListImage(int id, int item);
    bool ListChecked(int id, int item);
    bool ListHasCheckBoxes(int id);
    // Toggles the item's check box as a click on it does.
    bool ListSetChecked(int id, int item, bool checked);
    // Selects exactly these items (and focuses the first).
    bool ListSelect(int id, const std::vector<int>& items);
    // Selects exactly this item by posted messages, as a click does, so that
    // a message box the selection opens never blocks the robot.
    bool ListClick(int id, int item);
    // Changes check box and selection at once (a notification that carries
    // more than the check state).
    bool ListSetStateWithSelection(int id, int item, bool checked);

    // Saves the window as it shows on the screen into a PNG file.
    bool Screenshot(HWND window, const std::wstring& path);

    // Waits until the wizard's thread has taken everything posted so far.
    bool Settle(DWORD timeout = kTimeout);

    // Every wait ends at once, unsuccessfully, when *stop becomes true (the
    // wizard's thread has left the call that shows the wizard).
    void SetStop(const volatile bool* stop) { m_stop = stop; }
    bool Stopped() const { return m_stop && *m_stop; }

private:
    static LRESULT CALLBACK MessageHook(int code, WPARAM wParam, LPARAM lParam);
    HWND SheetButton(EButton button);
    HWND FindSheet();

    // Sleeps one polling step; false when the time is up or the robot stops.
    bool Wait(DWORD start, DWORD timeout) const;
    bool SettleOnce(DWORD timeout);

    DWORD m_thread;
    const volatile bool* m_stop = nullptr;
    HHOOK m_hook = nullptr;
    HWND m_sheet = nullptr;
    // What ListClick posts: the list reads it when it takes the messages.
    LVITEMW m_posted[2] = {};
};

// Every top-level window of the thread, in z-order.
std::vector<HWND> ThreadWindows(DWORD thread);

} // namespace wizardtest
