#pragma once
// A modal Wizard97 property sheet of comctl32 (PropertySheetW with
// PSH_WIZARD97, a header bitmap and a watermark bitmap from the module's
// resources) over CPropertyPage objects. The sheet's own window is
// subclassed once comctl32 has made it, so that a derived sheet can take its
// messages first (help requests, the Cancel button) through OnSheetMessage.
#include "CPropertyPage.h"

#include <string>
#include <vector>

namespace ui {

class CWizardSheet {
public:
    CWizardSheet(std::wstring caption, UINT headerBitmap, UINT watermarkBitmap);
    virtual ~CWizardSheet();
    CWizardSheet(const CWizardSheet&) = delete;
    CWizardSheet& operator=(const CWizardSheet&) = delete;

    // Pages are shown in the order they are added; they must outlive DoModal.
    void AddPage(CPropertyPage& page);
    size_t PageCount() const { return m_pages.size(); }

    // PropertySheetW's result: 1 after Finish, 0 after Cancel, -1 when the
    // sheet could not be made.
    INT_PTR DoModal(HWND owner);

    // The sheet's window while it is shown.
    HWND Window() const { return m_window; }
    // Dialog resource id of the page shown now (0 when none).
    int CurrentPageId() const;

protected:
    // The sheet's messages before comctl32 sees them; true consumes the
    // message with result. Exceptions are caught and logged by the caller.
    virtual bool OnSheetMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static int CALLBACK SheetCallback(HWND window, UINT message, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);

    std::wstring m_caption;
    UINT m_headerBitmap;
    UINT m_watermarkBitmap;
    std::vector<CPropertyPage*> m_pages;
    HWND m_window = nullptr;
};

} // namespace ui
