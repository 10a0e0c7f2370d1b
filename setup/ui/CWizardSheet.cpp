#include "ProviderPlatform.h"
#include "CWizardSheet.h"

#include <exception>

namespace ui {

namespace {

constexpr UINT_PTR kSubclassId = 0x56574953; // "SIWV"

// The sheet being made on this thread: PropertySheetW's callback carries no
// context of its own.
thread_local CWizardSheet* t_starting = nullptr;

// A bitmap of the module's resources, deleted with the object.
struct CBitmap {
    explicit CBitmap(UINT id)
        : handle(static_cast<HBITMAP>(
              LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)))
    {
    }
    ~CBitmap()
    {
        if (handle)
            DeleteObject(handle);
    }
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;
    HBITMAP handle;
};

} // namespace

CWizardSheet::CWizardSheet(std::wstring caption, UINT headerBitmap, UINT watermarkBitmap)
    : m_caption(std::move(caption)), m_headerBitmap(headerBitmap), m_watermarkBitmap(watermarkBitmap)
{
}

CWizardSheet::~CWizardSheet() = default;

void CWizardSheet::AddPage(CPropertyPage& page)
{
    m_pages.push_back(&page);
}

INT_PTR CWizardSheet::DoModal(HWND owner)
{
    // The common controls the pages use (list views among them) are
    // registered before any dialog is made.
    INITCOMMONCONTROLSEX classes = {sizeof(classes), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);

    std::vector<HPROPSHEETPAGE> handles;
    for (CPropertyPage* page : m_pages) {
        HPROPSHEETPAGE handle = CreatePropertySheetPageW(&page->Descriptor());
        if (!handle) {
            for (HPROPSHEETPAGE made : handles)
                DestroyPropertySheetPage(made);
            return -1;
        }
        handles.push_back(handle);
    }
    if (handles.empty())
        return -1;

    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_WIZARD97 | PSH_HEADER | PSH_WATERMARK | PSH_USECALLBACK | PSH_HASHELP;
    header.hwndParent = owner;
    header.hInstance = ResourceModule();
    header.pszCaption = m_caption.c_str();
    header.nPages = static_cast<UINT>(handles.size());
    header.nStartPage = 0;
    header.phpage = handles.data();
    header.pfnCallback = SheetCallback;
    // The sheet's pictures are loaded here and handed over as bitmaps; the
    // sheet is done with them once PropertySheetW returns.
    CBitmap watermark(m_watermarkBitmap);
    CBitmap headerPicture(m_headerBitmap);
    if (watermark.handle) {
        header.dwFlags |= PSH_USEHBMWATERMARK;
        header.hbmWatermark = watermark.handle;
    }
    if (headerPicture.handle) {
        header.dwFlags |= PSH_USEHBMHEADER;
        header.hbmHeader = headerPicture.handle;
    }

    CWizardSheet* outer = t_starting;
    t_starting = this;
    const INT_PTR result = PropertySheetW(&header);
    t_starting = outer;
    m_window = nullptr;
    return result;
}

int CWizardSheet::CurrentPageId() const
{
    if (!m_window)
        return 0;
    const LRESULT index = PropSheet_HwndToIndex(m_window, PropSheet_GetCurrentPageHwnd(m_window));
    return index < 0 ? 0 : static_cast<int>(PropSheet_IndexToId(m_window, index));
}

bool CWizardSheet::OnSheetMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

int CALLBACK CWizardSheet::SheetCallback(HWND window, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED && t_starting) {
        t_starting->m_window = window;
        SetWindowSubclass(window, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(t_starting));
    }
    return 0;
}

LRESULT CALLBACK CWizardSheet::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data)
{
    CWizardSheet* self = reinterpret_cast<CWizardSheet*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        if (self && self->m_window == window)
            self->m_window = nullptr;
        return DefSubclassProc(window, message, wParam, lParam);
    }
    if (self) {
        LRESULT result = 0;
        bool handled = false;
        try {
            handled = self->OnSheetMessage(message, wParam, lParam, result);
        } catch (...) {
            // The sheet's own handling failed; comctl32 still gets the message.
            LogFailure(L"wizard sheet", L"a sheet message handler failed");
            handled = false;
        }
        if (handled)
            return result;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

} // namespace ui
