#pragma once
// The OLE control interfaces a container needs to host a windowed control
// that is always active in place, such as a property page Outlook shows:
// the client site, in-place activation with the control's own window as a
// child of the site's window, UI activation, deactivation and Close,
// keyboard navigation inside the control's window, and persistence of an
// empty state (the control keeps nothing between showings).
//
// Derived supplies, besides the IUnknown and interfaces of its own:
//   static const CLSID& ControlClsid();
//   static constexpr DWORD kMiscStatus;       // as registered under MiscStatus
//   HWND CreateControlWindow(HWND parent);    // a hidden child window of parent
//   void DestroyControlWindow();
// The window is created on in-place activation and destroyed on in-place
// deactivation, so it never outlives its site.
#include "Platform.h"
#include "CAggregatableUnknownImpl.h"

#include <ocidl.h>
#include <oleidl.h>

namespace setup {

template <typename Derived>
class CActiveXControl : public IOleObject,
                        public IOleInPlaceObject,
                        public IOleInPlaceActiveObject,
                        public IOleControl,
                        public IPersistStreamInit {
public:
    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        m_clientSite = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** site) override
    {
        if (!site)
            return E_POINTER;
        *site = m_clientSite.Get();
        if (*site)
            (*site)->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override
    {
        InPlaceDeactivate();
        if (m_adviseHolder)
            m_adviseHolder->SendOnClose();
        return S_OK;
    }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override
    {
        if (data)
            *data = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT position) override
    {
        switch (verb) {
        case OLEIVERB_INPLACEACTIVATE:
            return InPlaceActivate(activeSite, position);
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
            return UIActivate(activeSite, position);
        case OLEIVERB_HIDE:
            if (m_window)
                ShowWindow(m_window, SW_HIDE);
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override { return OleRegEnumVerbs(Derived::ControlClsid(), verbs); }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override
    {
        if (!clsid)
            return E_POINTER;
        *clsid = Derived::ControlClsid();
        return S_OK;
    }
    STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override
    {
        return OleRegGetUserType(Derived::ControlClsid(), form, type);
    }
    STDMETHODIMP SetExtent(DWORD aspect, SIZEL* extent) override
    {
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!extent)
            return E_POINTER;
        m_extent = *extent;
        return S_OK;
    }
    STDMETHODIMP GetExtent(DWORD aspect, SIZEL* extent) override
    {
        if (aspect != DVASPECT_CONTENT)
            return DV_E_DVASPECT;
        if (!extent)
            return E_POINTER;
        *extent = m_extent;
        return S_OK;
    }
    STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override
    {
        if (!m_adviseHolder) {
            HRESULT hr = CreateOleAdviseHolder(m_adviseHolder.GetAddressOf());
            if (FAILED(hr))
                return hr;
        }
        return m_adviseHolder->Advise(sink, connection);
    }
    STDMETHODIMP Unadvise(DWORD connection) override
    {
        return m_adviseHolder ? m_adviseHolder->Unadvise(connection) : OLE_E_NOCONNECTION;
    }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** advises) override
    {
        if (!advises)
            return E_POINTER;
        *advises = nullptr;
        return m_adviseHolder ? m_adviseHolder->EnumAdvise(advises) : S_OK;
    }
    STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override
    {
        if (!status)
            return E_POINTER;
        *status = aspect == DVASPECT_CONTENT ? Derived::kMiscStatus : 0;
        return S_OK;
    }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, through both in-place interfaces
    STDMETHODIMP GetWindow(HWND* window) override
    {
        if (!window)
            return E_POINTER;
        *window = m_window;
        return m_window ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceObject
    STDMETHODIMP InPlaceDeactivate() override
    {
        if (!m_inPlaceSite)
            return S_OK;
        UIDeactivate();
        if (m_window) {
            static_cast<Derived*>(this)->DestroyControlWindow();
            m_window = nullptr;
        }
        ComPtr<IOleInPlaceSite> site = std::move(m_inPlaceSite);
        site->OnInPlaceDeactivate();
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override
    {
        if (!m_uiActive)
            return S_OK;
        m_uiActive = false;
        if (m_frame)
            m_frame->SetActiveObject(nullptr, nullptr);
        m_frame.Reset();
        if (m_inPlaceSite)
            m_inPlaceSite->OnUIDeactivate(FALSE);
        return S_OK;
    }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override
    {
        if (!position)
            return E_POINTER;
        if (m_window)
            SetWindowPos(m_window, nullptr, position->left, position->top, position->right - position->left,
                         position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IOleInPlaceActiveObject: the container hands over the keys of the
    // control's window, which moves the focus among its controls itself.
    STDMETHODIMP TranslateAccelerator(LPMSG message) override
    {
        if (!message || !m_window || message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
            return S_FALSE;
        if (message->hwnd != m_window && !IsChild(m_window, message->hwnd))
            return S_FALSE;
        return IsDialogMessageW(m_window, message) ? S_OK : S_FALSE;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnMnemonic(MSG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnAmbientPropertyChange(DISPID) override { return S_OK; }
    STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

    // IPersistStreamInit: the control has no state to keep.
    STDMETHODIMP GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPSTREAM stream) override { return stream ? S_OK : E_POINTER; }
    STDMETHODIMP Save(LPSTREAM stream, BOOL) override { return stream ? S_OK : E_POINTER; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override
    {
        if (!size)
            return E_POINTER;
        size->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP InitNew() override { return S_OK; }

protected:
    CActiveXControl() = default;
    ~CActiveXControl() = default;

    IOleClientSite* ClientSite() const { return m_clientSite.Get(); }
    HWND ControlWindow() const { return m_window; }

private:
    HRESULT InPlaceActivate(IOleClientSite* activeSite, LPCRECT position)
    {
        if (m_inPlaceSite) {
            if (position)
                SetObjectRects(position, position);
            return S_OK;
        }
        IOleClientSite* site = activeSite ? activeSite : m_clientSite.Get();
        if (!site)
            return E_UNEXPECTED;
        ComPtr<IOleInPlaceSite> inPlaceSite;
        HRESULT hr = site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlaceSite.GetAddressOf()));
        if (FAILED(hr))
            return hr;
        if (inPlaceSite->CanInPlaceActivate() != S_OK)
            return E_FAIL;
        hr = inPlaceSite->OnInPlaceActivate();
        if (FAILED(hr))
            return hr;
        HWND parent = nullptr;
        RECT rect = {};
        RECT clip = {};
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof(frameInfo);
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> document;
        hr = inPlaceSite->GetWindow(&parent);
        if (SUCCEEDED(hr))
            hr = inPlaceSite->GetWindowContext(frame.GetAddressOf(), document.GetAddressOf(), &rect, &clip, &frameInfo);
        if (position)
            rect = *position;
        HWND window = SUCCEEDED(hr) ? static_cast<Derived*>(this)->CreateControlWindow(parent) : nullptr;
        if (!window) {
            inPlaceSite->OnInPlaceDeactivate();
            return FAILED(hr) ? hr : E_FAIL;
        }
        m_window = window;
        m_inPlaceSite = inPlaceSite;
        m_frame = frame;
        SetWindowPos(window, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        return S_OK;
    }

    HRESULT UIActivate(IOleClientSite* activeSite, LPCRECT position)
    {
        HRESULT hr = InPlaceActivate(activeSite, position);
        if (FAILED(hr) || m_uiActive)
            return hr;
        m_uiActive = true;
        m_inPlaceSite->OnUIActivate();
        if (m_frame)
            m_frame->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), nullptr);
        SetFocus(m_window);
        return S_OK;
    }

    ComPtr<IOleClientSite> m_clientSite;
    ComPtr<IOleInPlaceSite> m_inPlaceSite;
    ComPtr<IOleInPlaceFrame> m_frame;
    ComPtr<IOleAdviseHolder> m_adviseHolder;
    HWND m_window = nullptr;
    bool m_uiActive = false;
    SIZEL m_extent = {};
};

} // namespace setup

namespace common {
template <>
struct InterfaceBase<IOleInPlaceObject> {
    using Type = IOleWindow;
};
template <>
struct InterfaceBase<IOleInPlaceActiveObject> {
    using Type = IOleWindow;
};
template <>
struct InterfaceBase<IPersistStreamInit> {
    using Type = IPersist;
};
template <typename Derived>
struct ServedInterfaces<setup::CActiveXControl<Derived>> {
    using Type = InterfaceList<IOleObject, IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl, IPersistStreamInit>;
};
} // namespace common
