#include "Platform.h"
#include "CApplication.h"

#include "VariantArgs.h"

namespace olhost {

HRESULT CApplication::Create(StatePtr state, outlook::_NameSpace* nameSpace, outlook::_Explorer* explorer,
                             outlook::_Application** out)
{
    return CreateInstance(__uuidof(outlook::_Application), reinterpret_cast<void**>(out), std::move(state), nameSpace,
                          explorer);
}

STDMETHODIMP CApplication::get_Application(outlook::_Application** Application)
{
    if (!Application)
        return E_POINTER;
    *Application = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP CApplication::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olApplication;
    return S_OK;
}

STDMETHODIMP CApplication::get_Session(outlook::_NameSpace** Session)
{
    if (!Session)
        return E_POINTER;
    return m_nameSpace.CopyTo(Session);
}

STDMETHODIMP CApplication::get_Parent(IDispatch** Parent)
{
    if (!Parent)
        return E_POINTER;
    *Parent = nullptr; // the Application has no parent
    return S_OK;
}

STDMETHODIMP CApplication::get_Name(BSTR* Name)
{
    return CopyText(L"Outlook", Name);
}

STDMETHODIMP CApplication::get_Version(BSTR* Version)
{
    return CopyText(m_state->version, Version);
}

STDMETHODIMP CApplication::ActiveExplorer(outlook::_Explorer** ActiveExplorer)
{
    if (!ActiveExplorer)
        return E_POINTER;
    *ActiveExplorer = nullptr;
    // Nothing when no Explorer is open.
    if (!m_state->explorerOpen)
        return S_OK;
    return m_explorer.CopyTo(ActiveExplorer);
}

STDMETHODIMP CApplication::ActiveInspector(IDispatch** Inspector)
{
    if (!Inspector)
        return E_POINTER;
    *Inspector = nullptr; // no item is open
    return S_OK;
}

STDMETHODIMP CApplication::GetNamespace(BSTR Type, outlook::_NameSpace** NameSpace)
{
    if (!NameSpace)
        return E_POINTER;
    *NameSpace = nullptr;
    // "MAPI" is the only namespace Outlook knows.
    if (!Type || _wcsicmp(Type, L"MAPI") != 0)
        return E_INVALIDARG;
    return m_nameSpace.CopyTo(NameSpace);
}

} // namespace olhost
