#pragma once
// Outlook's Explorer: its command bars, Close, and the source of ExplorerEvents.
// Once closed it answers no more calls.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

#include <ocidl.h>

namespace olhost {

class CExplorer final : public common::CUnknownImpl<CExplorer, CDispatchImpl<CExplorer, outlook::_Explorer>,
                                                    IConnectionPointContainer> {
public:
    static HRESULT Create(StatePtr state, outlook::_Explorer** out);

    STDMETHODIMP get_Application(outlook::_Application** Application) override
    {
        return m_state->GetApplication(Application);
    }
    STDMETHODIMP get_Class(long* Class) override;
    STDMETHODIMP get_Session(outlook::_NameSpace** Session) override { return m_state->GetNameSpace(Session); }
    STDMETHODIMP get_Parent(IDispatch** Parent) override { return m_state->GetApplication(Parent); }
    STDMETHODIMP get_CommandBars(office::_CommandBars** CommandBars) override;
    STDMETHODIMP get_CurrentFolder(outlook::MAPIFolder** Folder) override;
    STDMETHODIMP putref_CurrentFolder(outlook::MAPIFolder*) override { return E_NOTIMPL; }
    STDMETHODIMP Close() override;

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    friend class common::CUnknownImpl<CExplorer, CDispatchImpl<CExplorer, outlook::_Explorer>, IConnectionPointContainer>;
    explicit CExplorer(StatePtr state) : m_state(std::move(state)) {}

    StatePtr m_state;
};

} // namespace olhost
