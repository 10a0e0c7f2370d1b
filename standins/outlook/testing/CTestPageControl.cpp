#include "Platform.h"
#include "CTestPageControl.h"

#include <olectl.h>

namespace olhosttest {

namespace {

const wchar_t kWindowClass[] = L"VostrelTestPageControl";

void RegisterWindowClass()
{
    static bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(L"OutlookHostTestAddIn.dll");
        windowClass.lpszClassName = kWindowClass;
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        return RegisterClassW(&windowClass) != 0;
    }();
    (void)registered;
}

} // namespace

CTestPageControl::CTestPageControl()
{
    ++TestAddInScriptOf()->controlsCreated;
}

CTestPageControl::~CTestPageControl()
{
    if (m_window)
        DestroyWindow(m_window);
    ++TestAddInScriptOf()->controlsDestroyed;
}

STDMETHODIMP CTestPageControl::SetClientSite(IOleClientSite* site)
{
    TestAddInScript* script = TestAddInScriptOf();
    m_site = site;
    m_pageSite.Reset();
    if (!site)
        return S_OK;
    if (!script->initNewCalled)
        script->siteSetBeforeInitNew = true;
    // Outlook's page site is found through the client site.
    script->foundPageSite = SUCCEEDED(site->QueryInterface(__uuidof(outlook::PropertyPageSite),
                                                           reinterpret_cast<void**>(m_pageSite.GetAddressOf())));
    return S_OK;
}

STDMETHODIMP CTestPageControl::GetClientSite(IOleClientSite** site)
{
    if (!site)
        return E_POINTER;
    return m_site.CopyTo(site);
}

STDMETHODIMP CTestPageControl::Close(DWORD)
{
    InPlaceDeactivate();
    return S_OK;
}

STDMETHODIMP CTestPageControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect)
{
    TestAddInScriptOf()->verb = verb;
    if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW && verb != OLEIVERB_UIACTIVATE)
        return OLEOBJ_S_INVALIDVERB;
    if (m_window)
        return S_OK;
    if (!site || FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(m_inPlaceSite.GetAddressOf()))))
        return E_INVALIDARG;
    if (m_inPlaceSite->CanInPlaceActivate() != S_OK)
        return E_FAIL;
    m_inPlaceSite->OnInPlaceActivate();
    HWND siteWindow = nullptr;
    m_inPlaceSite->GetWindow(&siteWindow);
    if (!siteWindow)
        siteWindow = parent;
    RegisterWindowClass();
    RECT area = rect ? *rect : RECT{0, 0, 200, 100};
    m_window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE, area.left, area.top, area.right - area.left,
                               area.bottom - area.top, siteWindow, nullptr, nullptr, nullptr);
    if (!m_window)
        return HRESULT_FROM_WIN32(GetLastError());
    SetWindowLongPtrW(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CTestPageControl::WindowProc));
    CreateWindowExW(0, L"BUTTON", L"Show the test mailbox", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 12, 12,
                    220, 20, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTestCheckBoxId)), nullptr, nullptr);
    return S_OK;
}

LRESULT CALLBACK CTestPageControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* control = reinterpret_cast<CTestPageControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_COMMAND && LOWORD(wParam) == kTestCheckBoxId && HIWORD(wParam) == BN_CLICKED && control)
        control->OnCheckChanged();
    return DefWindowProcW(window, message, wParam, lParam);
}

bool CTestPageControl::IsChecked() const
{
    return m_window && IsDlgButtonChecked(m_window, kTestCheckBoxId) == BST_CHECKED;
}

void CTestPageControl::OnCheckChanged()
{
    m_dirty = IsChecked() != m_applied;
    if (m_pageSite)
        m_pageSite->OnStatusChange();
}

STDMETHODIMP CTestPageControl::GetUserClassID(CLSID* clsid)
{
    if (!clsid)
        return E_POINTER;
    *clsid = kClsidTestPageControl;
    return S_OK;
}

STDMETHODIMP CTestPageControl::GetMiscStatus(DWORD, DWORD* status)
{
    if (!status)
        return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

STDMETHODIMP CTestPageControl::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = m_window;
    return m_window ? S_OK : E_FAIL;
}

STDMETHODIMP CTestPageControl::InPlaceDeactivate()
{
    if (!m_window)
        return S_OK;
    SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    m_window = nullptr;
    if (m_inPlaceSite)
        m_inPlaceSite->OnInPlaceDeactivate();
    m_inPlaceSite.Reset();
    return S_OK;
}

STDMETHODIMP CTestPageControl::SetObjectRects(LPCRECT position, LPCRECT)
{
    if (m_window && position)
        MoveWindow(m_window, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    return S_OK;
}

STDMETHODIMP CTestPageControl::InitNew()
{
    TestAddInScriptOf()->initNewCalled = true;
    return S_OK;
}

STDMETHODIMP CTestPageControl::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP CTestPageControl::GetPageInfo(BSTR* HelpFile, long* HelpContext)
{
    ++TestAddInScriptOf()->pageInfoCalls;
    if (!HelpFile || !HelpContext)
        return E_POINTER;
    *HelpFile = SysAllocString(L"VostrelTest.chm");
    *HelpContext = 42;
    return S_OK;
}

STDMETHODIMP CTestPageControl::get_Dirty(VARIANT_BOOL* Dirty)
{
    ++TestAddInScriptOf()->dirtyQueries;
    if (!Dirty)
        return E_POINTER;
    *Dirty = m_dirty ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CTestPageControl::Apply()
{
    TestAddInScript* script = TestAddInScriptOf();
    ++script->applyCalls;
    m_applied = IsChecked();
    script->appliedChecked = m_applied;
    m_dirty = false;
    if (m_pageSite)
        m_pageSite->OnStatusChange();
    return S_OK;
}

} // namespace olhosttest
