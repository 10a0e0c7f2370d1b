#pragma once
// A COM add-in that makes the calls the product's add-in makes, through the
// vtables of Outlook's and Office's interfaces: the command bar and its button
// at connection, the Explorer's Close, the button's Click and the NameSpace's
// OptionsPagesAdd through connection points, and its page by ProgID.
#include "Platform.h"
#include "CUnknownImpl.h"
#include "OutlookObjectModel.h"
#include "TestAddInScript.h"

namespace olhosttest {

class CTestAddIn final : public common::CUnknownImpl<CTestAddIn, extensibility::_IDTExtensibility2> {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    STDMETHODIMP OnConnection(IDispatch* Application, extensibility::ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                              SAFEARRAY** custom) override;
    STDMETHODIMP OnDisconnection(extensibility::ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP OnStartupComplete(SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP OnBeginShutdown(SAFEARRAY**) override;

    // Event handlers, called by the sinks.
    void OnClick(DISPPARAMS* params);
    void OnExplorerClose();
    void OnOptionsPagesAdd(DISPPARAMS* params);

private:
    friend class common::CUnknownImpl<CTestAddIn, extensibility::_IDTExtensibility2>;
    CTestAddIn() = default;
    ~CTestAddIn() override;

    HRESULT AddToolBar();
    HRESULT AddButton(office::CommandBar* bar, office::CommandBarControl** control);
    HRESULT SetFace(office::_CommandBarButton* button);
    HRESULT Advise(IUnknown* source, REFIID iid, IUnknown* sink, DWORD* cookie);
    void Unadvise(IUnknown* source, REFIID iid, DWORD* cookie);

    ComPtr<outlook::_Application> m_application;
    ComPtr<outlook::_Explorer> m_explorer;
    ComPtr<outlook::_NameSpace> m_nameSpace;
    ComPtr<office::_CommandBars> m_bars;
    ComPtr<office::_CommandBarButton> m_button;
    ComPtr<IUnknown> m_clickSink, m_explorerSink, m_nameSpaceSink;
    DWORD m_clickCookie = 0, m_explorerCookie = 0, m_nameSpaceCookie = 0;
    bool m_shuttingDown = false;
};

} // namespace olhosttest
