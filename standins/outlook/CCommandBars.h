#pragma once
// Office's CommandBars collection of the Explorer (a view of CCommandBarModel).
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

namespace olhost {

class CCommandBars final : public common::CUnknownImpl<CCommandBars, CDispatchImpl<CCommandBars, office::_CommandBars>> {
public:
    static HRESULT Create(StatePtr state, office::_CommandBars** out);

    STDMETHODIMP get_Application(IDispatch** Application) override { return m_state->GetApplication(Application); }
    STDMETHODIMP get_Creator(long* Creator) override;
    STDMETHODIMP get_ActionControl(office::CommandBarControl** Control) override;
    STDMETHODIMP get_ActiveMenuBar(office::CommandBar** Bar) override;
    STDMETHODIMP Add(VARIANT Name, VARIANT Position, VARIANT MenuBar, VARIANT Temporary, office::CommandBar** Bar) override;
    STDMETHODIMP get_Count(int* Count) override;
    STDMETHODIMP get_DisplayTooltips(VARIANT_BOOL* Display) override;
    STDMETHODIMP put_DisplayTooltips(VARIANT_BOOL Display) override;
    STDMETHODIMP get_DisplayKeysInTooltips(VARIANT_BOOL* Display) override;
    STDMETHODIMP put_DisplayKeysInTooltips(VARIANT_BOOL Display) override;
    STDMETHODIMP FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible,
                             office::CommandBarControl** Control) override;
    STDMETHODIMP get_Item(VARIANT Index, office::CommandBar** Bar) override;

private:
    friend class common::CUnknownImpl<CCommandBars, CDispatchImpl<CCommandBars, office::_CommandBars>>;
    explicit CCommandBars(StatePtr state) : m_state(std::move(state)) {}
    bool IsGone() const { return !m_state->bars || m_state->bars->IsClosed(); }

    StatePtr m_state;
    bool m_displayTooltips = true;
    bool m_displayKeys = false;
};

// FindControl's criteria from its optional arguments.
HRESULT ReadCriteria(const VARIANT& type, const VARIANT& id, const VARIANT& tag, const VARIANT& visible,
                     ControlCriteria* criteria);

} // namespace olhost
