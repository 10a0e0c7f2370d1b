#pragma once
// A small ActiveX control that implements Outlook's PropertyPage, as a
// property page of an add-in does: one check box; changing it makes the page
// dirty and tells the PropertyPageSite (found by querying the client site);
// Apply keeps the state. Its registration asks for the client site before
// InitNew (OLEMISC_SETCLIENTSITEFIRST).
#include "Platform.h"
#include "CUnknownImpl.h"
#include "OutlookObjectModel.h"
#include "TestAddInScript.h"

#include <ocidl.h>
#include <oleidl.h>

namespace common {
template <> struct InterfaceBase<IOleInPlaceObject> { using Type = IOleWindow; };
template <> struct InterfaceBase<outlook::PropertyPage> { using Type = IDispatch; };
template <> struct InterfaceBase<IPersistStreamInit> { using Type = IPersist; };
} // namespace common

namespace olhosttest {

class CTestPageControl final : public common::CUnknownImpl<CTestPageControl, IOleObject, IOleInPlaceObject,
                                                           IPersistStreamInit, outlook::PropertyPage> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }
    static constexpr DWORD kMiscStatus = 131473;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* site) override;
    STDMETHODIMP GetClientSite(IOleClientSite** site) override;
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override;
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID* clsid) override;
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return S_OK; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override;
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

    // IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
    STDMETHODIMP IsDirty() override { return S_FALSE; }
    STDMETHODIMP Load(LPSTREAM) override { return E_NOTIMPL; }
    STDMETHODIMP Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP InitNew() override;

    // PropertyPage (IDispatch is not served)
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetPageInfo(BSTR* HelpFile, long* HelpContext) override;
    STDMETHODIMP get_Dirty(VARIANT_BOOL* Dirty) override;
    STDMETHODIMP Apply() override;

private:
    friend class common::CUnknownImpl<CTestPageControl, IOleObject, IOleInPlaceObject, IPersistStreamInit,
                                      outlook::PropertyPage>;
    CTestPageControl();
    ~CTestPageControl() override;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnCheckChanged();
    bool IsChecked() const;

    ComPtr<IOleClientSite> m_site;
    ComPtr<IOleInPlaceSite> m_inPlaceSite;
    ComPtr<outlook::PropertyPageSite> m_pageSite;
    HWND m_window = nullptr;
    bool m_dirty = false;
    bool m_applied = false;
};

} // namespace olhosttest
