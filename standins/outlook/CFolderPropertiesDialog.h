#pragma once
// The folder Properties dialog as Outlook shows it after OptionsPagesAdd: a
// property sheet with a General page and one page per added property page.
// An added page given by ProgID becomes an ActiveX control, created when its
// tab is first shown: CoCreateInstance of the ProgID's class, the client site
// before or after IPersistStreamInit::InitNew as the control's
// OLEMISC_SETCLIENTSITEFIRST asks, in-place activation in the page, and its
// PropertyPage interface asked for help (GetPageInfo). PropertyPageSite's
// OnStatusChange makes the dialog ask Dirty and enable Apply accordingly; OK
// and Apply call Apply on each shown page that is dirty. When the dialog
// closes each control is deactivated, closed, loses its site and is released.
//
// The sheet is modeless, on the caller's thread: the caller drives it with the
// Press*/Select* calls (each pumps the thread's messages) and may send the
// control's window messages of its own. A test needs a display (Xvfb).
#include "Platform.h"
#include "COutlookState.h"
#include "CPropertyPages.h"

#include <memory>
#include <string>
#include <vector>

namespace olhost {

// What happened to one added page, for tests to inspect.
struct PageRecord {
    std::wstring title;
    bool shown = false;            // its tab was shown, so its control was made
    HRESULT createResult = S_OK;   // making and activating the control
    bool hasPropertyPage = false;  // the control answers PropertyPage
    HRESULT pageInfoResult = S_OK; // GetPageInfo
    std::wstring helpFile;
    long helpContext = 0;
    int statusChanges = 0;         // OnStatusChange calls
    bool dirty = false;            // Dirty when last asked
    HRESULT dirtyResult = S_OK;
    int applyCalls = 0;
    HRESULT applyResult = S_OK;    // of the last Apply
    bool released = false;         // the dialog closed and let the control go
};

class CHostedPage;

class CFolderPropertiesDialog {
public:
    // Shows the dialog for a folder with the added pages; startPage names the
    // tab to show first (the General page when empty).
    static HRESULT Open(StatePtr state, const std::wstring& folderName, const std::vector<PageEntry>& pages,
                        const std::wstring& startPage, std::unique_ptr<CFolderPropertiesDialog>* out);
    ~CFolderPropertiesDialog();
    CFolderPropertiesDialog(const CFolderPropertiesDialog&) = delete;
    CFolderPropertiesDialog& operator=(const CFolderPropertiesDialog&) = delete;

    HWND Window() const { return m_sheet; }
    bool IsOpen() const { return m_sheet != nullptr; }
    // Tab titles in order: "General", then the added pages.
    std::vector<std::wstring> PageTitles() const;
    HRESULT SelectPage(const std::wstring& title);
    // The in-place window and the object of an added page's control (null
    // before the page is shown or after the dialog closed).
    HWND ControlWindow(const std::wstring& title) const;
    ComPtr<IUnknown> Control(const std::wstring& title) const;
    const PageRecord* Record(const std::wstring& title) const;

    bool IsApplyEnabled() const;
    // A press on a disabled Apply does nothing and answers S_FALSE.
    HRESULT PressApply();
    HRESULT PressOk();
    HRESULT PressCancel();
    // Runs the thread's pending messages through the dialog; destroys the
    // sheet once OK or Cancel ended it.
    void PumpMessages();

private:
    CFolderPropertiesDialog() = default;
    CHostedPage* FindPage(const std::wstring& title) const;
    static INT_PTR CALLBACK GeneralPageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    StatePtr m_state;
    std::wstring m_folderName;
    std::vector<WORD> m_template; // the pages' in-memory dialog template
    std::vector<std::unique_ptr<CHostedPage>> m_pages;
    HWND m_sheet = nullptr;
};

} // namespace olhost
