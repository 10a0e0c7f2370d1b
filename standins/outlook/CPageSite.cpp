#include "Platform.h"
#include "CPageSite.h"

#include <olectl.h>

namespace olhost {

namespace {

// The frame of the in-place control: the properties dialog. It has no menus,
// tool space or status bar to share.
class CPageFrame final : public common::CUnknownImpl<CPageFrame, IOleInPlaceFrame> {
public:
    static HRESULT Create(HWND window, IOleInPlaceFrame** out)
    {
        return CreateInstance(IID_IOleInPlaceFrame, reinterpret_cast<void**>(out), window);
    }
    STDMETHODIMP GetWindow(HWND* window) override
    {
        if (!window)
            return E_POINTER;
        *window = m_window;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    friend class common::CUnknownImpl<CPageFrame, IOleInPlaceFrame>;
    explicit CPageFrame(HWND window) : m_window(window) {}
    HWND m_window;
};

} // namespace

HRESULT CPageSite::Create(StatePtr state, IPageSiteOwner* owner, CPageSite** out)
{
    if (!out)
        return E_POINTER;
    *out = new (std::nothrow) CPageSite(std::move(state), owner);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CPageSite::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olPropertyPageSite;
    return S_OK;
}

STDMETHODIMP CPageSite::get_Parent(IDispatch** Parent)
{
    return m_state->GetApplication(Parent);
}

STDMETHODIMP CPageSite::OnStatusChange()
{
    if (m_owner)
        m_owner->OnStatusChange();
    return S_OK;
}

STDMETHODIMP CPageSite::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError)
{
    if ((flags & DISPATCH_PROPERTYGET) && result) {
        VariantInit(result);
        switch (id) {
        case DISPID_AMBIENT_USERMODE:
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
            return S_OK;
        case DISPID_AMBIENT_UIDEAD:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
        case DISPID_AMBIENT_SHOWHATCHING:
        case DISPID_AMBIENT_DISPLAYASDEFAULT:
        case DISPID_AMBIENT_MESSAGEREFLECT:
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_FALSE;
            return S_OK;
        case DISPID_AMBIENT_LOCALEID:
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(GetUserDefaultLCID());
            return S_OK;
        case DISPID_AMBIENT_BACKCOLOR:
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(0x80000000u | COLOR_BTNFACE);
            return S_OK;
        case DISPID_AMBIENT_FORECOLOR:
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(0x80000000u | COLOR_BTNTEXT);
            return S_OK;
        default:
            break;
        }
    }
    return CDispatchImpl<CPageSite, outlook::PropertyPageSite>::Invoke(id, riid, lcid, flags, params, result,
                                                                     exception, argError);
}

STDMETHODIMP CPageSite::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker)
        *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CPageSite::GetContainer(IOleContainer** container)
{
    if (container)
        *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CPageSite::GetWindow(HWND* window)
{
    if (!window)
        return E_POINTER;
    *window = m_owner ? m_owner->PageWindow() : nullptr;
    return *window ? S_OK : E_FAIL;
}

STDMETHODIMP CPageSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                         LPRECT clip, LPOLEINPLACEFRAMEINFO info)
{
    if (!frame || !document || !position || !clip || !info)
        return E_POINTER;
    *frame = nullptr;
    *document = nullptr; // the frame is the document window
    if (!m_owner)
        return E_FAIL;
    HRESULT hr = CPageFrame::Create(m_owner->FrameWindow(), frame);
    if (FAILED(hr))
        return hr;
    GetClientRect(m_owner->PageWindow(), position);
    *clip = *position;
    info->cb = sizeof(*info);
    info->fMDIApp = FALSE;
    info->hwndFrame = m_owner->FrameWindow();
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP CPageSite::GetExtendedControl(IDispatch** control)
{
    if (control)
        *control = nullptr;
    return E_NOTIMPL;
}

} // namespace olhost
