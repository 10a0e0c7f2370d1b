#pragma once
// The library's Outlook COM add-in (coclass Connect). Outlook's add-in manager
// creates it and drives it through _IDTExtensibility2. At connection it gives
// the active Explorer a command bar with one button, which adds an archive
// store to the profile through MAPI's service administration (and so the
// service entry's wizard), and it listens for the NameSpace's
// OptionsPagesAdd to offer the "Mailboxes" page on the IPM subtree folder of
// a store of this provider. When the Explorer closes it keeps the bar's
// placement under the add-in key and removes the bar and its button.
//
// Outlook calls it on its UI thread only. Nothing fails towards Outlook: every
// failure of an Outlook, Office or MAPI call inside a step is recorded in the
// object's last error (and so in the log) under the step's name.
#include "ProviderPlatform.h"

#include "CEventSink.h"
#include "CLastError.h"
#include "CTypeLibDispatch.h"
#include "CUnknownImpl.h"
#include "OfficeInterfaces.h"

#include <vector>

namespace setup {

using CAddInDesignerLibrary = SRegisteredTypeLibrary<extensibility::kLibidAddInDesigner, 1, 0>;

class CConnect final
    : public common::CUnknownImpl<CConnect, CTypeLibDispatch<CAddInDesignerLibrary, extensibility::_IDTExtensibility2>> {
public:
    // The tag that marks the add-in's button wherever the user moved it.
    static constexpr wchar_t kButtonTag[] = L"ORMEL_TOOLBAR_ITEM";

    static HRESULT CreateInstance(REFIID riid, void** ppv) { return CUnknownImpl::CreateInstance(riid, ppv); }

    // _IDTExtensibility2
    STDMETHODIMP OnConnection(IDispatch* Application, extensibility::ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                              SAFEARRAY** custom) override;
    STDMETHODIMP OnDisconnection(extensibility::ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    STDMETHODIMP OnAddInsUpdate(SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP OnStartupComplete(SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHODIMP OnBeginShutdown(SAFEARRAY** custom) override;

private:
    friend class common::CUnknownImpl<CConnect,
                                      CTypeLibDispatch<CAddInDesignerLibrary, extensibility::_IDTExtensibility2>>;
    CConnect();
    ~CConnect() override;

    void Connect(IDispatch* application);
    void AddToolBar();
    ComPtr<office::CommandBarControl> AddButton(office::CommandBar* bar);
    void SetButtonFace(office::_CommandBarButton* button);
    void DeleteToolBar();
    // The command bar named after the product, or null.
    ComPtr<office::CommandBar> FindBar();

    // Event handlers.
    void OnClickConfig();
    void OnExplorerClose();
    void OnOptionsAddPages(DISPPARAMS* params);

    void AddMessageStore();
    // The service UIDs of this provider's stores that Outlook shows.
    ULONG GetProfileGuidList(std::vector<MAPIUID>& list);
    void DeleteMsgService(const MAPIUID* serviceUid);
    ComPtr<IMAPISession> MapiSession();

    void Record(const char* operation, const _com_error& error) { m_lastError.SetFromComError(operation, error); }

    CSinkConnection m_buttonSink;
    CSinkConnection m_explorerSink;
    CSinkConnection m_nameSpaceSink;
    ComPtr<office::_CommandBars> m_commandBars;
    ComPtr<outlook::_Explorer> m_explorer;
    ComPtr<outlook::_Application> m_application;
    ComPtr<outlook::_NameSpace> m_nameSpace;
    ComPtr<IPictureDisp> m_facePicture;
    ComPtr<IPictureDisp> m_maskPicture;
    ComPtr<office::CommandBarControl> m_button;
    ComPtr<office::CommandBar> m_bar;
    _bstr_t m_barName;
    _bstr_t m_buttonCaption; // never loaded: the button shows its face only
    _bstr_t m_buttonTooltip;
    bool m_shutdown = false;
    CLastError m_lastError;
    bool m_outlook2000 = false;
};

} // namespace setup
