#pragma once
// Outlook's Application: version, the MAPI NameSpace (also its Session) and
// the active Explorer.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

namespace olhost {

class CApplication final : public common::CUnknownImpl<CApplication, CDispatchImpl<CApplication, outlook::_Application>> {
public:
    static HRESULT Create(StatePtr state, outlook::_NameSpace* nameSpace, outlook::_Explorer* explorer,
                          outlook::_Application** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override;
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override;
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_Assistant(IDispatch** Assistant) override { return NotServed(Assistant); }
    STDMETHODIMP get_Name(BSTR* Name) override;
    STDMETHODIMP get_Version(BSTR* Version) override;
    STDMETHODIMP ActiveExplorer(outlook::_Explorer** ActiveExplorer) override;
    STDMETHODIMP ActiveInspector(IDispatch** Inspector) override;
    STDMETHODIMP CreateItem(long, IDispatch** Item) override { return NotServed(Item); }
    STDMETHODIMP CreateItemFromTemplate(BSTR, VARIANT, IDispatch** Item) override { return NotServed(Item); }
    STDMETHODIMP CreateObject(BSTR, IDispatch** Object) override { return NotServed(Object); }
    STDMETHODIMP GetNamespace(BSTR Type, outlook::_NameSpace** NameSpace) override;
    STDMETHODIMP Quit() override { return E_NOTIMPL; }

private:
    friend class common::CUnknownImpl<CApplication, CDispatchImpl<CApplication, outlook::_Application>>;
    CApplication(StatePtr state, outlook::_NameSpace* nameSpace, outlook::_Explorer* explorer)
        : m_state(std::move(state)), m_nameSpace(nameSpace), m_explorer(explorer)
    {
        m_state->application = this;
    }
    ~CApplication() override
    {
        if (m_state->application == this)
            m_state->application = nullptr;
    }
    template <typename T>
    static HRESULT NotServed(T** out)
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }

    StatePtr m_state;
    ComPtr<outlook::_NameSpace> m_nameSpace;
    ComPtr<outlook::_Explorer> m_explorer;
};

} // namespace olhost
