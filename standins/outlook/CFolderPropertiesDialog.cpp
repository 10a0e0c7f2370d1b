#include "Platform.h"
#include "CFolderPropertiesDialog.h"

#include "CPageSite.h"

#include <commctrl.h>
#include <olectl.h>

namespace olhost {

namespace {

constexpr int kApplyButton = 0x3021; // the property sheet's Apply button
constexpr short kPageWidth = 252;    // dialog units, a standard property page
constexpr short kPageHeight = 218;

void Append(std::vector<WORD>& t, DWORD value)
{
    t.push_back(LOWORD(value));
    t.push_back(HIWORD(value));
}

// An empty child dialog of the standard page size in the dialog font; the
// General page adds its text, an added page its control.
std::vector<WORD> PageTemplate()
{
    std::vector<WORD> t;
    Append(t, WS_CHILD | DS_CONTROL | DS_SETFONT); // style
    Append(t, 0);                                 // extended style
    t.push_back(0);                               // no controls
    t.push_back(0);                               // x
    t.push_back(0);                               // y
    t.push_back(static_cast<WORD>(kPageWidth));
    t.push_back(static_cast<WORD>(kPageHeight));
    t.push_back(0); // no menu
    t.push_back(0); // default class
    t.push_back(0); // no title
    t.push_back(8); // point size
    for (const wchar_t* c = L"MS Shell Dlg"; *c; ++c)
        t.push_back(static_cast<WORD>(*c));
    t.push_back(0);
    return t;
}

} // namespace

// One added page: the property sheet page and the control it hosts.
class CHostedPage final : public IPageSiteOwner {
public:
    CHostedPage(StatePtr state, PageEntry entry) : m_state(std::move(state)), m_entry(std::move(entry))
    {
        m_record.title = m_entry.title;
    }
    ~CHostedPage() { Release(); }

    HWND PageWindow() const override { return m_window; }
    HWND FrameWindow() const override { return m_window ? GetParent(m_window) : nullptr; }
    void OnStatusChange() override
    {
        ++m_record.statusChanges;
        bool dirty = AskDirty();
        if (m_window)
            SendMessageW(GetParent(m_window), dirty ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(m_window), 0);
    }

    const PageRecord& Record() const { return m_record; }
    HWND ControlWindow() const
    {
        HWND window = nullptr;
        if (m_inPlace)
            m_inPlace->GetWindow(&window);
        return window;
    }
    ComPtr<IUnknown> Control() const { return m_control; }

    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM, LPARAM lParam)
    {
        auto* page = reinterpret_cast<CHostedPage*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        switch (message) {
        case WM_INITDIALOG:
            page = reinterpret_cast<CHostedPage*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(page));
            page->m_window = window;
            page->Show();
            return TRUE;
        case WM_NOTIFY:
            if (page && reinterpret_cast<NMHDR*>(lParam)->code == PSN_APPLY) {
                page->Apply();
                SetWindowLongPtrW(window, DWLP_MSGRESULT, PSNRET_NOERROR);
                return TRUE;
            }
            break;
        case WM_DESTROY:
            if (page) {
                page->Release();
                page->m_window = nullptr;
            }
            break;
        default:
            break;
        }
        return FALSE;
    }

private:
    bool AskDirty()
    {
        VARIANT_BOOL dirty = VARIANT_FALSE;
        m_record.dirtyResult = m_page ? m_page->get_Dirty(&dirty) : S_OK;
        m_record.dirty = SUCCEEDED(m_record.dirtyResult) && dirty != VARIANT_FALSE;
        return m_record.dirty;
    }

    void Show()
    {
        m_record.shown = true;
        m_record.createResult = MakeControl();
    }

    HRESULT MakeControl()
    {
        HRESULT hr = CPageSite::Create(m_state, this, m_site.GetAddressOf());
        if (FAILED(hr))
            return hr;
        if (m_entry.object) {
            m_control = m_entry.object;
        } else {
            CLSID clsid;
            hr = CLSIDFromProgID(m_entry.progId.c_str(), &clsid);
            if (FAILED(hr))
                return hr;
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(m_control.GetAddressOf()));
            if (FAILED(hr))
                return hr;
        }
        hr = m_control.As(&m_oleObject);
        if (FAILED(hr))
            return hr;
        DWORD misc = 0;
        m_oleObject->GetMiscStatus(DVASPECT_CONTENT, &misc);
        IOleClientSite* site = m_site.Get();
        if (misc & OLEMISC_SETCLIENTSITEFIRST) {
            hr = m_oleObject->SetClientSite(site);
            if (FAILED(hr))
                return hr;
        }
        ComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(m_control.As(&persist))) {
            hr = persist->InitNew();
            if (FAILED(hr))
                return hr;
        }
        if (!(misc & OLEMISC_SETCLIENTSITEFIRST)) {
            hr = m_oleObject->SetClientSite(site);
            if (FAILED(hr))
                return hr;
        }
        m_record.hasPropertyPage = SUCCEEDED(m_control.As(&m_page));
        if (m_page) {
            BSTR helpFile = nullptr;
            long helpContext = 0;
            m_record.pageInfoResult = m_page->GetPageInfo(&helpFile, &helpContext);
            if (SUCCEEDED(m_record.pageInfoResult)) {
                m_record.helpFile.assign(helpFile ? helpFile : L"", SysStringLen(helpFile));
                m_record.helpContext = helpContext;
            }
            SysFreeString(helpFile);
        }
        RECT rect;
        GetClientRect(m_window, &rect);
        HDC screen = GetDC(nullptr);
        SIZEL extent = {MulDiv(rect.right, 2540, GetDeviceCaps(screen, LOGPIXELSX)),
                        MulDiv(rect.bottom, 2540, GetDeviceCaps(screen, LOGPIXELSY))};
        ReleaseDC(nullptr, screen);
        m_oleObject->SetExtent(DVASPECT_CONTENT, &extent);
        hr = m_oleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, m_window, &rect);
        if (FAILED(hr))
            return hr;
        if (SUCCEEDED(m_control.As(&m_inPlace)))
            m_inPlace->SetObjectRects(&rect, &rect);
        return S_OK;
    }

    void Apply()
    {
        // Apply reaches a page only when it says it has changes.
        if (!m_page || !AskDirty())
            return;
        ++m_record.applyCalls;
        m_record.applyResult = m_page->Apply();
    }

    void Release()
    {
        if (m_site)
            m_site->Detach();
        if (m_inPlace)
            m_inPlace->InPlaceDeactivate();
        if (m_oleObject) {
            m_oleObject->Close(OLECLOSE_NOSAVE);
            m_oleObject->SetClientSite(nullptr);
        }
        if (m_control)
            m_record.released = true;
        m_inPlace.Reset();
        m_page.Reset();
        m_oleObject.Reset();
        m_control.Reset();
        m_site.Reset();
    }

    StatePtr m_state;
    PageEntry m_entry;
    PageRecord m_record;
    HWND m_window = nullptr;
    ComPtr<CPageSite> m_site;
    ComPtr<IUnknown> m_control;
    ComPtr<IOleObject> m_oleObject;
    ComPtr<IOleInPlaceObject> m_inPlace;
    ComPtr<outlook::PropertyPage> m_page;

    friend class CFolderPropertiesDialog;
};

INT_PTR CALLBACK CFolderPropertiesDialog::GeneralPageProc(HWND window, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CFolderPropertiesDialog*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
        CreateWindowExW(0, L"STATIC", dialog->m_folderName.c_str(), WS_CHILD | WS_VISIBLE, 12, 12, 300, 20, window,
                        nullptr, nullptr, nullptr);
        return TRUE;
    }
    return FALSE;
}

HRESULT CFolderPropertiesDialog::Open(StatePtr state, const std::wstring& folderName, const std::vector<PageEntry>& pages,
                                      const std::wstring& startPage, std::unique_ptr<CFolderPropertiesDialog>* out)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    std::unique_ptr<CFolderPropertiesDialog> dialog(new CFolderPropertiesDialog());
    dialog->m_state = state;
    dialog->m_folderName = folderName;
    dialog->m_template = PageTemplate();

    std::vector<PROPSHEETPAGEW> sheetPages;
    PROPSHEETPAGEW general{};
    general.dwSize = sizeof(general);
    general.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    general.pResource = reinterpret_cast<LPCDLGTEMPLATEW>(dialog->m_template.data());
    general.pfnDlgProc = &CFolderPropertiesDialog::GeneralPageProc;
    general.pszTitle = L"General";
    general.lParam = reinterpret_cast<LPARAM>(dialog.get());
    sheetPages.push_back(general);
    UINT start = 0;
    for (const PageEntry& entry : pages) {
        dialog->m_pages.push_back(std::make_unique<CHostedPage>(state, entry));
        PROPSHEETPAGEW page = general;
        page.pfnDlgProc = &CHostedPage::PageProc;
        page.pszTitle = dialog->m_pages.back()->m_record.title.c_str();
        page.lParam = reinterpret_cast<LPARAM>(dialog->m_pages.back().get());
        if (!startPage.empty() && _wcsicmp(entry.title.c_str(), startPage.c_str()) == 0 && start == 0)
            start = static_cast<UINT>(sheetPages.size());
        sheetPages.push_back(page);
    }
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_PROPTITLE | PSH_NOCONTEXTHELP;
    header.pszCaption = dialog->m_folderName.c_str();
    header.nPages = static_cast<UINT>(sheetPages.size());
    header.nStartPage = start;
    header.ppsp = sheetPages.data();
    INT_PTR sheet = PropertySheetW(&header);
    if (sheet <= 0)
        return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE);
    dialog->m_sheet = reinterpret_cast<HWND>(sheet);
    dialog->PumpMessages();
    *out = std::move(dialog);
    return S_OK;
}

CFolderPropertiesDialog::~CFolderPropertiesDialog()
{
    if (m_sheet) {
        DestroyWindow(m_sheet);
        m_sheet = nullptr;
    }
}

std::vector<std::wstring> CFolderPropertiesDialog::PageTitles() const
{
    std::vector<std::wstring> titles{L"General"};
    for (const auto& page : m_pages)
        titles.push_back(page->m_record.title);
    return titles;
}

CHostedPage* CFolderPropertiesDialog::FindPage(const std::wstring& title) const
{
    for (const auto& page : m_pages) {
        if (_wcsicmp(page->m_record.title.c_str(), title.c_str()) == 0)
            return page.get();
    }
    return nullptr;
}

HRESULT CFolderPropertiesDialog::SelectPage(const std::wstring& title)
{
    if (!m_sheet)
        return E_FAIL;
    auto titles = PageTitles();
    for (size_t i = 0; i < titles.size(); ++i) {
        if (_wcsicmp(titles[i].c_str(), title.c_str()) == 0) {
            BOOL selected = static_cast<BOOL>(SendMessageW(m_sheet, PSM_SETCURSEL, i, 0));
            PumpMessages();
            return selected ? S_OK : E_FAIL;
        }
    }
    return E_INVALIDARG;
}

HWND CFolderPropertiesDialog::ControlWindow(const std::wstring& title) const
{
    CHostedPage* page = FindPage(title);
    return page ? page->ControlWindow() : nullptr;
}

ComPtr<IUnknown> CFolderPropertiesDialog::Control(const std::wstring& title) const
{
    CHostedPage* page = FindPage(title);
    return page ? page->Control() : nullptr;
}

const PageRecord* CFolderPropertiesDialog::Record(const std::wstring& title) const
{
    CHostedPage* page = FindPage(title);
    return page ? &page->Record() : nullptr;
}

bool CFolderPropertiesDialog::IsApplyEnabled() const
{
    HWND apply = m_sheet ? GetDlgItem(m_sheet, kApplyButton) : nullptr;
    return apply && IsWindowEnabled(apply);
}

HRESULT CFolderPropertiesDialog::PressApply()
{
    if (!m_sheet)
        return E_FAIL;
    if (!IsApplyEnabled())
        return S_FALSE;
    SendMessageW(m_sheet, PSM_PRESSBUTTON, PSBTN_APPLYNOW, 0);
    PumpMessages();
    return S_OK;
}

HRESULT CFolderPropertiesDialog::PressOk()
{
    if (!m_sheet)
        return E_FAIL;
    SendMessageW(m_sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    PumpMessages();
    return S_OK;
}

HRESULT CFolderPropertiesDialog::PressCancel()
{
    if (!m_sheet)
        return E_FAIL;
    SendMessageW(m_sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    PumpMessages();
    return S_OK;
}

void CFolderPropertiesDialog::PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (m_sheet && SendMessageW(m_sheet, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&message)))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // A modeless sheet ended by OK or Cancel is left for its owner to destroy.
    if (m_sheet && !SendMessageW(m_sheet, PSM_GETCURRENTPAGEHWND, 0, 0)) {
        DestroyWindow(m_sheet);
        m_sheet = nullptr;
    }
}

} // namespace olhost
