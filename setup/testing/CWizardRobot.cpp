#include "Platform.h"
#include "CWizardRobot.h"

#include "WindowShot.h"

#include <prsht.h>

#include <atomic>

namespace wizardtest {

namespace {

constexpr int kBackButton = 0x3023;
constexpr int kNextButton = 0x3024;
constexpr int kFinishButton = 0x3025;
constexpr int kMessageBoxText = 0xFFFF;
constexpr int kMessageBoxIcon = 0x0440;
constexpr DWORD kPoll = 10;

// The marker the hook waits for: one robot at a time.
std::atomic<UINT> g_markerMessage{0};
std::atomic<LONG> g_markerCookie{0};
HANDLE g_markerSeen = nullptr;

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window)
{
    const int length = static_cast<int>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = static_cast<int>(
        SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(length) + 1, reinterpret_cast<LPARAM>(&text[0])));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

bool IsDialog(HWND window)
{
    return IsWindowVisible(window) && ClassOf(window) == L"#32770";
}

bool IsMessageBox(HWND window)
{
    HWND text = GetDlgItem(window, kMessageBoxText);
    return IsDialog(window) && text && ClassOf(text) == L"Static";
}

bool IsSheet(HWND window)
{
    return IsDialog(window) && SendMessageW(window, PSM_GETCURRENTPAGEHWND, 0, 0) != 0;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
    return TRUE;
}

UINT IconKind(HWND box)
{
    HWND control = GetDlgItem(box, kMessageBoxIcon);
    if (!control)
        return 0;
    const HICON icon = reinterpret_cast<HICON>(SendMessageW(control, STM_GETICON, 0, 0));
    if (!icon)
        return 0;
    struct {
        LPCWSTR id;
        UINT kind;
    } const kinds[] = {{IDI_WARNING, MB_ICONWARNING},
                       {IDI_ERROR, MB_ICONERROR},
                       {IDI_INFORMATION, MB_ICONINFORMATION},
                       {IDI_QUESTION, MB_ICONQUESTION}};
    for (const auto& kind : kinds) {
        if (LoadIconW(nullptr, kind.id) == icon)
            return kind.kind;
    }
    return 0;
}

} // namespace

std::vector<HWND> ThreadWindows(DWORD thread)
{
    std::vector<HWND> windows;
    EnumThreadWindows(thread, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

CWizardRobot::CWizardRobot(DWORD uiThread) : m_thread(uiThread)
{
    g_markerMessage = RegisterWindowMessageW(L"VostrelWizardRobotMarker");
    if (!g_markerSeen)
        g_markerSeen = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hook = SetWindowsHookExW(WH_GETMESSAGE, MessageHook, nullptr, uiThread);
}

CWizardRobot::~CWizardRobot()
{
    if (m_hook)
        UnhookWindowsHookEx(m_hook);
}

LRESULT CALLBACK CWizardRobot::MessageHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
        const MSG* message = reinterpret_cast<const MSG*>(lParam);
        if (message->message == g_markerMessage && static_cast<LONG>(message->wParam) == g_markerCookie)
            SetEvent(g_markerSeen);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool CWizardRobot::Wait(DWORD start, DWORD timeout) const
{
    if (Stopped() || GetTickCount() - start >= timeout)
        return false;
    Sleep(kPoll);
    return true;
}

bool CWizardRobot::Settle(DWORD timeout)
{
    // What the wizard posts to itself while it handles the robot's action
    // (its buttons' states among them) lands behind the first marker; a
    // second round waits for that too.
    return SettleOnce(timeout) && SettleOnce(timeout);
}

bool CWizardRobot::SettleOnce(DWORD timeout)
{
    const LONG cookie = ++g_markerCookie;
    ResetEvent(g_markerSeen);
    if (!PostThreadMessageW(m_thread, g_markerMessage, static_cast<WPARAM>(cookie), 0))
        return false;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(g_markerSeen, kPoll) != WAIT_OBJECT_0) {
        if (Stopped() || GetTickCount() - start >= timeout)
            return false;
    }
    return true;
}

HWND CWizardRobot::FindSheet()
{
    for (HWND window : ThreadWindows(m_thread)) {
        if (IsSheet(window))
            return window;
    }
    return nullptr;
}

bool CWizardRobot::WaitForSheet(DWORD timeout)
{
    const DWORD start = GetTickCount();
    do {
        m_sheet = FindSheet();
        if (m_sheet) {
            Settle();
            return true;
        }
    } while (Wait(start, timeout));
    return false;
}

bool CWizardRobot::WaitForSheetGone(DWORD timeout)
{
    const DWORD start = GetTickCount();
    do {
        if (!FindSheet()) {
            m_sheet = nullptr;
            return true;
        }
    } while (Wait(start, timeout));
    return !FindSheet();
}

HWND CWizardRobot::Sheet()
{
    if (!m_sheet || !IsWindow(m_sheet))
        m_sheet = FindSheet();
    return m_sheet;
}

HWND CWizardRobot::Page()
{
    HWND sheet = Sheet();
    return sheet ? reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) : nullptr;
}

int CWizardRobot::PageId()
{
    HWND sheet = Sheet();
    if (!sheet)
        return 0;
    const LRESULT index = SendMessageW(sheet, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(Page()), 0);
    if (index < 0)
        return 0;
    return static_cast<int>(SendMessageW(sheet, PSM_INDEXTOID, static_cast<WPARAM>(index), 0));
}

std::wstring CWizardRobot::SheetCaption()
{
    HWND sheet = Sheet();
    return sheet ? TextOf(sheet) : std::wstring();
}

HWND CWizardRobot::Control(int id)
{
    HWND page = Page();
    return page ? GetDlgItem(page, id) : nullptr;
}

bool CWizardRobot::SetText(int id, const std::wstring& text)
{
    HWND control = Control(id);
    if (!control)
        return false;
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return Settle();
}

std::wstring CWizardRobot::Text(int id)
{
    HWND control = Control(id);
    return control ? TextOf(control) : std::wstring();
}

bool CWizardRobot::IsEnabled(int id)
{
    HWND control = Control(id);
    return control && IsWindowEnabled(control);
}

bool CWizardRobot::IsVisible(int id)
{
    HWND control = Control(id);
    return control && IsWindowVisible(control);
}

bool CWizardRobot::IsReadOnly(int id)
{
    HWND control = Control(id);
    return control && (GetWindowLongW(control, GWL_STYLE) & ES_READONLY);
}

bool CWizardRobot::IsChecked(int id)
{
    HWND control = Control(id);
    return control && SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int CWizardRobot::FocusedControlId()
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(m_thread, &info) || !info.hwndFocus)
        return 0;
    return GetDlgCtrlID(info.hwndFocus);
}

bool CWizardRobot::Click(int id)
{
    HWND control = Control(id);
    if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control))
        return false;
    if (!PostMessageW(control, BM_CLICK, 0, 0))
        return false;
    Settle();
    return true;
}

HWND CWizardRobot::SheetButton(EButton button)
{
    HWND sheet = Sheet();
    if (!sheet)
        return nullptr;
    switch (button) {
    case EButton::Back:
        return GetDlgItem(sheet, kBackButton);
    case EButton::Next:
        return GetDlgItem(sheet, kNextButton);
    case EButton::Finish:
        return GetDlgItem(sheet, kFinishButton);
    case EButton::Cancel:
        return GetDlgItem(sheet, IDCANCEL);
    case EButton::Help:
        return GetDlgItem(sheet, IDHELP);
    }
    return nullptr;
}

bool CWizardRobot::ButtonEnabled(EButton button)
{
    HWND control = SheetButton(button);
    return control && IsWindowVisible(control) && IsWindowEnabled(control);
}

bool CWizardRobot::ButtonVisible(EButton button)
{
    HWND control = SheetButton(button);
    return control && IsWindowVisible(control);
}

bool CWizardRobot::Press(EButton button)
{
    if (!ButtonEnabled(button))
        return false;
    if (!PostMessageW(SheetButton(button), BM_CLICK, 0, 0))
        return false;
    // A press that ends the wizard ends the wait as well.
    Settle();
    return true;
}

bool CWizardRobot::FindMessageBox(SMessageBox& box)
{
    for (HWND window : ThreadWindows(m_thread)) {
        if (!IsMessageBox(window))
            continue;
        box.window = window;
        box.caption = TextOf(window);
        box.text = TextOf(GetDlgItem(window, kMessageBoxText));
        box.icon = IconKind(window);
        return true;
    }
    return false;
}

bool CWizardRobot::WaitForMessageBox(SMessageBox& box, DWORD timeout)
{
    const DWORD start = GetTickCount();
    do {
        if (FindMessageBox(box))
            return true;
    } while (Wait(start, timeout));
    return false;
}

bool CWizardRobot::Dismiss(const SMessageBox& box)
{
    HWND ok = GetDlgItem(box.window, IDOK);
    if (!ok)
        return false;
    PostMessageW(ok, BM_CLICK, 0, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(box.window) && IsWindowVisible(box.window)) {
        if (!Wait(start, kTimeout))
            return false;
    }
    // Closing the box may end the wizard, and with it the wait.
    Settle();
    return true;
}

HWND CWizardRobot::FindOtherDialog()
{
    for (HWND window : ThreadWindows(m_thread)) {
        if (IsDialog(window) && !IsSheet(window) && !IsMessageBox(window) && !GetDlgItem(window, 234))
            return window;
    }
    return nullptr;
}

int CWizardRobot::ListCount(int id)
{
    HWND list = Control(id);
    return list ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : -1;
}

std::wstring CWizardRobot::ListText(int id, int item, int column)
{
    HWND list = Control(id);
    if (!list)
        return std::wstring();
    // The item structure and its buffer travel to the list view's thread
    // within the same process.
    wchar_t buffer[512] = {};
    LVITEMW data{};
    data.iSubItem = column;
    data.pszText = buffer;
    data.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&data));
    return buffer;
}

int CWizardRobot::ListImage(int id, int item)
{
    HWND list = Control(id);
    if (!list)
        return -1;
    LVITEMW data{};
    data.mask = LVIF_IMAGE;
    data.iItem = item;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)))
        return -1;
    return data.iImage;
}

bool CWizardRobot::ListChecked(int id, int item)
{
    HWND list = Control(id);
    return list && ((SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK) &
                     LVIS_STATEIMAGEMASK) >> 12) == 2;
}

bool CWizardRobot::ListHasCheckBoxes(int id)
{
    HWND list = Control(id);
    return list && (SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_CHECKBOXES);
}

bool CWizardRobot::ListSetChecked(int id, int item, bool checked)
{
    HWND list = Control(id);
    if (!list || !IsWindowEnabled(list))
        return false;
    LVITEMW data{};
    data.stateMask = LVIS_STATEIMAGEMASK;
    data.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&data));
    return Settle();
}

bool CWizardRobot::ListSelect(int id, const std::vector<int>& items)
{
    HWND list = Control(id);
    if (!list)
        return false;
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    bool first = true;
    for (int item : items) {
        LVITEMW data{};
        data.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        data.state = LVIS_SELECTED | (first ? LVIS_FOCUSED : 0);
        SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&data));
        first = false;
    }
    return Settle();
}

bool CWizardRobot::ListClick(int id, int item)
{
    HWND list = Control(id);
    if (!list || !IsWindowEnabled(list))
        return false;
    // The wizard's thread has taken everything posted before, so the items
    // of an earlier click are free again.
    if (!Settle())
        return false;
    m_posted[0] = LVITEMW{};
    m_posted[0].stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    m_posted[1] = m_posted[0];
    m_posted[1].state = LVIS_SELECTED | LVIS_FOCUSED;
    PostMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&m_posted[0]));
    PostMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&m_posted[1]));
    return Settle();
}

bool CWizardRobot::ListSetStateWithSelection(int id, int item, bool checked)
{
    HWND list = Control(id);
    if (!list)
        return false;
    LVITEMW data{};
    data.stateMask = LVIS_STATEIMAGEMASK | LVIS_SELECTED;
    data.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1) | LVIS_SELECTED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&data));
    return Settle();
}

bool CWizardRobot::Screenshot(HWND window, const std::wstring& path)
{
    if (!window || !IsWindow(window))
        return false;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Settle();
    Sleep(50);
    return SaveWindowPng(window, path);
}

} // namespace wizardtest
