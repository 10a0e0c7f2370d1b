#include "Platform.h"
#include "CExplorer.h"

#include "CCommandBars.h"
#include "CConnectionPoint.h"

namespace olhost {

HRESULT CExplorer::Create(StatePtr state, outlook::_Explorer** out)
{
    return CreateInstance(__uuidof(outlook::_Explorer), reinterpret_cast<void**>(out), std::move(state));
}

STDMETHODIMP CExplorer::get_Class(long* Class)
{
    if (!Class)
        return E_POINTER;
    *Class = outlook::olExplorer;
    return S_OK;
}

STDMETHODIMP CExplorer::get_CommandBars(office::_CommandBars** CommandBars)
{
    if (!CommandBars)
        return E_POINTER;
    *CommandBars = nullptr;
    if (!m_state->explorerOpen)
        return E_FAIL;
    return CCommandBars::Create(m_state, CommandBars);
}

STDMETHODIMP CExplorer::get_CurrentFolder(outlook::MAPIFolder** Folder)
{
    if (Folder)
        *Folder = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CExplorer::Close()
{
    if (!m_state->explorerOpen || !m_state->closeExplorer)
        return E_FAIL;
    return m_state->closeExplorer();
}

STDMETHODIMP CExplorer::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CExplorer::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    if (point)
        *point = nullptr;
    if (!m_state->explorerOpen)
        return E_FAIL;
    return CConnectionPoint::Find(m_state->explorerSinks, this, riid, point);
}

} // namespace olhost
