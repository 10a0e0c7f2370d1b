#pragma once
// A page of a comctl32 property sheet: the dialog object of CDialog that owns
// its PROPSHEETPAGEW and maps the sheet's notifications (PSN_*) to virtual
// functions. A wizard page is created with a header title and subtitle
// (Wizard97 interior page), a window title and a Help button.
#include "CDialog.h"

#include <prsht.h>

#include <string>

namespace ui {

class CPropertyPage : public CDialog {
public:
    // What a Next or Back handler returns besides a dialog resource id.
    static constexpr int kStay = -1;
    static constexpr int kDefaultPage = 0;

    UINT TemplateId() const { return m_templateId; }
    // The page as comctl32 takes it (valid while this object lives).
    const PROPSHEETPAGEW& Descriptor() const { return m_descriptor; }

    void SetTitle(const std::wstring& title);
    void SetHeader(const std::wstring& title, const std::wstring& subtitle);

    // The sheet the page is shown in (null before the page has a window).
    HWND Sheet() const;
    // PSWIZB_* flags of the wizard's buttons.
    void SetWizardButtons(DWORD flags) const;
    // Whether the sheet holds the page of this dialog resource id.
    bool SheetHasPage(int templateId) const;

protected:
    explicit CPropertyPage(UINT templateId);

    // PSN_SETACTIVE: 0 accepts the activation.
    virtual int OnSetActive();
    // PSN_WIZNEXT and PSN_WIZBACK: kStay, kDefaultPage, or the dialog
    // resource id of the page to go to.
    virtual int OnWizardNext();
    virtual int OnWizardBack();
    // PSN_WIZFINISH: false keeps the wizard open.
    virtual bool OnWizardFinish();
    // PSN_HELP.
    virtual void OnHelp();

    bool RouteMore(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    // A failed Next or Back stays on the page and a failed Finish keeps the
    // wizard open.
    INT_PTR FailureResult(UINT message, WPARAM wParam, LPARAM lParam) const override;

    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Refresh();

    UINT m_templateId;
    PROPSHEETPAGEW m_descriptor{};
    std::wstring m_title;
    std::wstring m_headerTitle;
    std::wstring m_headerSubtitle;
};

// A page routed through Derived::kMessages.
template <typename Derived>
class CPropertyPageImpl : public CDialogImpl<Derived, CPropertyPage> {
protected:
    explicit CPropertyPageImpl(UINT templateId) : CDialogImpl<Derived, CPropertyPage>(templateId) {}
};

} // namespace ui
