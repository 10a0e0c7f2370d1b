#pragma once
// The Controls collection of one command bar.
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

namespace olhost {

class CCommandBarControls final
    : public common::CUnknownImpl<CCommandBarControls, CDispatchImpl<CCommandBarControls, office::CommandBarControls>> {
public:
    static HRESULT Create(StatePtr state, std::shared_ptr<BarState> bar, office::CommandBarControls** out);

    STDMETHODIMP get_Application(IDispatch** Application) override { return m_state->GetApplication(Application); }
    STDMETHODIMP get_Creator(long* Creator) override;
    STDMETHODIMP Add(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT Temporary,
                     office::CommandBarControl** Control) override;
    STDMETHODIMP get_Count(int* Count) override;
    STDMETHODIMP get_Item(VARIANT Index, office::CommandBarControl** Control) override;
    STDMETHODIMP get__NewEnum(IUnknown** Enum) override;
    STDMETHODIMP get_Parent(office::CommandBar** Parent) override;

private:
    friend class common::CUnknownImpl<CCommandBarControls,
                                      CDispatchImpl<CCommandBarControls, office::CommandBarControls>>;
    CCommandBarControls(StatePtr state, std::shared_ptr<BarState> bar)
        : m_state(std::move(state)), m_bar(std::move(bar))
    {
    }
    bool IsGone() const { return m_bar->deleted || !m_state->bars || m_state->bars->IsClosed(); }

    StatePtr m_state;
    std::shared_ptr<BarState> m_bar;
};

} // namespace olhost
