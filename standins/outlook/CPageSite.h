#pragma once
// The site of an ActiveX control that Outlook shows as a property page: its
// client site, in-place site and control site, and Outlook's PropertyPageSite,
// which the control finds by querying its client site. The site's IDispatch
// also answers the ambient properties a control asks its container for (user
// mode, colours, locale). A site reports status changes to its page host
// (IPageSiteOwner) until the host detaches it.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

#include <ocidl.h>
#include <oleidl.h>

namespace common {
template <> struct InterfaceBase<IOleInPlaceSite> { using Type = IOleWindow; };
} // namespace common

namespace olhost {

class IPageSiteOwner {
public:
    virtual HWND PageWindow() const = 0;
    virtual HWND FrameWindow() const = 0;
    virtual void OnStatusChange() = 0;

protected:
    ~IPageSiteOwner() = default;
};

class CPageSite final : public common::CUnknownImpl<CPageSite, CDispatchImpl<CPageSite, outlook::PropertyPageSite>,
                                                    IOleClientSite, IOleInPlaceSite, IOleControlSite> {
public:
    static HRESULT Create(StatePtr state, IPageSiteOwner* owner, CPageSite** out);
    // The page goes away: no more status changes reach its owner.
    void Detach() { m_owner = nullptr; }

    // PropertyPageSite
    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override { return m_state->GetNameSpace(Session); }
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP OnStatusChange() override;
    // IDispatch: ambient properties first, then PropertyPageSite's members.
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow / IOleInPlaceSite
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return m_owner ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleControlSite
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** control) override;
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CPageSite, CDispatchImpl<CPageSite, outlook::PropertyPageSite>, IOleClientSite,
                                      IOleInPlaceSite, IOleControlSite>;
    CPageSite(StatePtr state, IPageSiteOwner* owner) : m_state(std::move(state)), m_owner(owner) {}

    StatePtr m_state;
    IPageSiteOwner* m_owner;
};

} // namespace olhost
