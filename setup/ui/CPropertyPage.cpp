#include "ProviderPlatform.h"
#include "CPropertyPage.h"

namespace ui {

CPropertyPage::CPropertyPage(UINT templateId) : m_templateId(templateId)
{
    Refresh();
}

void CPropertyPage::Refresh()
{
    m_descriptor = PROPSHEETPAGEW{};
    m_descriptor.dwSize = sizeof(m_descriptor);
    m_descriptor.dwFlags = PSP_HASHELP;
    m_descriptor.hInstance = ResourceModule();
    m_descriptor.pszTemplate = MAKEINTRESOURCEW(m_templateId);
    m_descriptor.pfnDlgProc = PageProc;
    m_descriptor.lParam = reinterpret_cast<LPARAM>(this);
    if (!m_title.empty()) {
        m_descriptor.dwFlags |= PSP_USETITLE;
        m_descriptor.pszTitle = m_title.c_str();
    }
    if (!m_headerTitle.empty()) {
        m_descriptor.dwFlags |= PSP_USEHEADERTITLE;
        m_descriptor.pszHeaderTitle = m_headerTitle.c_str();
    }
    if (!m_headerSubtitle.empty()) {
        m_descriptor.dwFlags |= PSP_USEHEADERSUBTITLE;
        m_descriptor.pszHeaderSubTitle = m_headerSubtitle.c_str();
    }
}

void CPropertyPage::SetTitle(const std::wstring& title)
{
    m_title = title;
    Refresh();
}

void CPropertyPage::SetHeader(const std::wstring& title, const std::wstring& subtitle)
{
    m_headerTitle = title;
    m_headerSubtitle = subtitle;
    Refresh();
}

HWND CPropertyPage::Sheet() const
{
    return Window() ? GetParent(Window()) : nullptr;
}

void CPropertyPage::SetWizardButtons(DWORD flags) const
{
    if (HWND sheet = Sheet())
        PropSheet_SetWizButtons(sheet, flags);
}

bool CPropertyPage::SheetHasPage(int templateId) const
{
    HWND sheet = Sheet();
    return sheet && PropSheet_IdToIndex(sheet, templateId) >= 0;
}

int CPropertyPage::OnSetActive()
{
    return 0;
}

int CPropertyPage::OnWizardNext()
{
    return kDefaultPage;
}

int CPropertyPage::OnWizardBack()
{
    return kDefaultPage;
}

bool CPropertyPage::OnWizardFinish()
{
    return true;
}

void CPropertyPage::OnHelp() {}

bool CPropertyPage::RouteMore(UINT message, WPARAM, LPARAM lParam, INT_PTR& result)
{
    if (message != WM_NOTIFY || !lParam)
        return false;
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    // Only the sheet's own notifications; a control's codes may overlap.
    if (header->hwndFrom != Sheet())
        return false;
    switch (header->code) {
    case PSN_SETACTIVE:
        result = OnSetActive();
        return true;
    case PSN_WIZNEXT:
        result = OnWizardNext();
        return true;
    case PSN_WIZBACK:
        result = OnWizardBack();
        return true;
    case PSN_WIZFINISH:
        // Non-zero keeps the wizard open.
        result = OnWizardFinish() ? FALSE : TRUE;
        return true;
    case PSN_HELP:
        OnHelp();
        result = 0;
        return true;
    default:
        return false;
    }
}

INT_PTR CPropertyPage::FailureResult(UINT message, WPARAM, LPARAM lParam) const
{
    if (message == WM_NOTIFY && lParam) {
        switch (reinterpret_cast<const NMHDR*>(lParam)->code) {
        case PSN_WIZNEXT:
        case PSN_WIZBACK:
            return kStay;
        case PSN_WIZFINISH:
            return TRUE;
        default:
            break;
        }
    }
    return 0;
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // At WM_INITDIALOG comctl32 hands over its copy of the PROPSHEETPAGEW,
    // whose lParam is the page object.
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG && lParam)
        self = reinterpret_cast<CPropertyPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
    return Process(self, window, message, wParam, lParam);
}

} // namespace ui
