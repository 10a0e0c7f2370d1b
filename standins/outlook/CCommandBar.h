#pragma once
// One command bar (a view of its BarState).
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

namespace olhost {

class CCommandBar final
    : public common::CUnknownImpl<CCommandBar, CAccessibleDispatchImpl<CCommandBar, office::CommandBar>> {
public:
    static HRESULT Create(StatePtr state, std::shared_ptr<BarState> bar, office::CommandBar** out);

    STDMETHODIMP get_Application(IDispatch** Application) override { return m_state->GetApplication(Application); }
    STDMETHODIMP get_Creator(long* Creator) override;
    STDMETHODIMP get_BuiltIn(VARIANT_BOOL* BuiltIn) override;
    STDMETHODIMP get_Context(BSTR* Context) override;
    STDMETHODIMP put_Context(BSTR Context) override;
    STDMETHODIMP get_Controls(office::CommandBarControls** Controls) override;
    STDMETHODIMP Delete() override;
    STDMETHODIMP get_Enabled(VARIANT_BOOL* Enabled) override;
    STDMETHODIMP put_Enabled(VARIANT_BOOL Enabled) override;
    STDMETHODIMP FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, VARIANT Recursive,
                             office::CommandBarControl** Control) override;
    STDMETHODIMP get_Height(int* Height) override;
    STDMETHODIMP put_Height(int Height) override;
    STDMETHODIMP get_Index(int* Index) override;
    STDMETHODIMP get_InstanceId(long* InstanceId) override;
    STDMETHODIMP get_Left(int* Left) override;
    STDMETHODIMP put_Left(int Left) override;
    STDMETHODIMP get_Name(BSTR* Name) override;
    STDMETHODIMP put_Name(BSTR Name) override;
    STDMETHODIMP get_NameLocal(BSTR* Name) override;
    STDMETHODIMP put_NameLocal(BSTR Name) override;
    STDMETHODIMP get_Parent(IDispatch** Parent) override;
    STDMETHODIMP get_Position(long* Position) override;
    STDMETHODIMP put_Position(long Position) override;
    STDMETHODIMP get_RowIndex(int* RowIndex) override;
    STDMETHODIMP put_RowIndex(int RowIndex) override;
    STDMETHODIMP get_Protection(long* Protection) override;
    STDMETHODIMP put_Protection(long Protection) override;
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP ShowPopup(VARIANT, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP get_Top(int* Top) override;
    STDMETHODIMP put_Top(int Top) override;
    STDMETHODIMP get_Type(long* Type) override;
    STDMETHODIMP get_Visible(VARIANT_BOOL* Visible) override;
    STDMETHODIMP put_Visible(VARIANT_BOOL Visible) override;
    STDMETHODIMP get_Width(int* Width) override;
    STDMETHODIMP put_Width(int Width) override;

private:
    friend class common::CUnknownImpl<CCommandBar, CAccessibleDispatchImpl<CCommandBar, office::CommandBar>>;
    CCommandBar(StatePtr state, std::shared_ptr<BarState> bar);
    ~CCommandBar() override;
    bool IsGone() const { return m_bar->deleted || !m_state->bars || m_state->bars->IsClosed(); }
    template <typename T>
    HRESULT Read(T* out, T value) const
    {
        if (!out)
            return E_POINTER;
        *out = T{};
        if (IsGone())
            return E_FAIL;
        *out = value;
        return S_OK;
    }

    StatePtr m_state;
    std::shared_ptr<BarState> m_bar;
};

} // namespace olhost
