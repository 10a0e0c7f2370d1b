#pragma once
// A command-bar button (a view of its ControlState) and the source of its
// Click event (_CommandBarButtonEvents through its connection point).
#include "Platform.h"
#include "CDispatchImpl.h"
#include "COutlookState.h"

#include <ocidl.h>

namespace olhost {

class CCommandBarButton final
    : public common::CUnknownImpl<CCommandBarButton, CAccessibleDispatchImpl<CCommandBarButton, office::_CommandBarButton>,
                                  IConnectionPointContainer> {
public:
    static HRESULT Create(StatePtr state, std::shared_ptr<ControlState> control, office::CommandBarControl** out);
    static HRESULT Create(StatePtr state, std::shared_ptr<ControlState> control, office::_CommandBarButton** out);

    // A click on the control: Click goes to its sinks with a new view of the
    // button and CancelDefault false; a built-in control then runs its own
    // action unless a sink set CancelDefault. *cancelled tells what the sinks left.
    static HRESULT Click(const StatePtr& state, const std::shared_ptr<ControlState>& control, bool* cancelled);

    // _IMsoOleAccDispObj
    STDMETHODIMP get_Application(IDispatch** Application) override { return m_state->GetApplication(Application); }
    STDMETHODIMP get_Creator(long* Creator) override;
    // CommandBarControl
    STDMETHODIMP get_BeginGroup(VARIANT_BOOL* BeginGroup) override;
    STDMETHODIMP put_BeginGroup(VARIANT_BOOL BeginGroup) override;
    STDMETHODIMP get_BuiltIn(VARIANT_BOOL* BuiltIn) override;
    STDMETHODIMP get_Caption(BSTR* Caption) override { return GetText(m_control->caption, Caption); }
    STDMETHODIMP put_Caption(BSTR Caption) override { return PutText(&m_control->caption, Caption); }
    STDMETHODIMP get_Control(IDispatch** Control) override;
    STDMETHODIMP Copy(VARIANT, VARIANT, office::CommandBarControl** Copy) override;
    STDMETHODIMP Delete(VARIANT Temporary) override;
    STDMETHODIMP get_DescriptionText(BSTR* Text) override { return GetText(m_control->description, Text); }
    STDMETHODIMP put_DescriptionText(BSTR Text) override { return PutText(&m_control->description, Text); }
    STDMETHODIMP get_Enabled(VARIANT_BOOL* Enabled) override;
    STDMETHODIMP put_Enabled(VARIANT_BOOL Enabled) override;
    STDMETHODIMP Execute() override;
    STDMETHODIMP get_Height(int* Height) override;
    STDMETHODIMP put_Height(int Height) override;
    STDMETHODIMP get_HelpContextId(int* Id) override;
    STDMETHODIMP put_HelpContextId(int Id) override;
    STDMETHODIMP get_HelpFile(BSTR* File) override { return GetText(m_control->helpFile, File); }
    STDMETHODIMP put_HelpFile(BSTR File) override { return PutText(&m_control->helpFile, File); }
    STDMETHODIMP get_Id(int* Id) override;
    STDMETHODIMP get_Index(int* Index) override;
    STDMETHODIMP get_InstanceId(long* InstanceId) override;
    STDMETHODIMP Move(VARIANT, VARIANT, office::CommandBarControl** Moved) override;
    STDMETHODIMP get_Left(int* Left) override;
    STDMETHODIMP get_OLEUsage(long* Usage) override;
    STDMETHODIMP put_OLEUsage(long Usage) override;
    STDMETHODIMP get_OnAction(BSTR* OnAction) override { return GetText(m_control->onAction, OnAction); }
    STDMETHODIMP put_OnAction(BSTR OnAction) override { return PutText(&m_control->onAction, OnAction); }
    STDMETHODIMP get_Parent(office::CommandBar** Parent) override;
    STDMETHODIMP get_Parameter(BSTR* Parameter) override { return GetText(m_control->parameter, Parameter); }
    STDMETHODIMP put_Parameter(BSTR Parameter) override { return PutText(&m_control->parameter, Parameter); }
    STDMETHODIMP get_Priority(int* Priority) override;
    STDMETHODIMP put_Priority(int Priority) override;
    STDMETHODIMP Reset() override { return E_NOTIMPL; }
    STDMETHODIMP SetFocus() override { return E_NOTIMPL; }
    STDMETHODIMP get_Tag(BSTR* Tag) override { return GetText(m_control->tag, Tag); }
    STDMETHODIMP put_Tag(BSTR Tag) override { return PutText(&m_control->tag, Tag); }
    STDMETHODIMP get_TooltipText(BSTR* Text) override { return GetText(m_control->tooltip, Text); }
    STDMETHODIMP put_TooltipText(BSTR Text) override { return PutText(&m_control->tooltip, Text); }
    STDMETHODIMP get_Top(int* Top) override;
    STDMETHODIMP get_Type(long* Type) override;
    STDMETHODIMP get_Visible(VARIANT_BOOL* Visible) override;
    STDMETHODIMP put_Visible(VARIANT_BOOL Visible) override;
    STDMETHODIMP get_Width(int* Width) override;
    STDMETHODIMP put_Width(int Width) override;
    STDMETHODIMP get_IsPriorityDropped(VARIANT_BOOL* Dropped) override;
    STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved5() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
    STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
    // _CommandBarButton
    STDMETHODIMP get_BuiltInFace(VARIANT_BOOL* BuiltInFace) override;
    STDMETHODIMP put_BuiltInFace(VARIANT_BOOL BuiltInFace) override;
    STDMETHODIMP CopyFace() override { return E_NOTIMPL; }
    STDMETHODIMP get_FaceId(int* FaceId) override;
    STDMETHODIMP put_FaceId(int FaceId) override;
    STDMETHODIMP PasteFace() override;
    STDMETHODIMP get_ShortcutText(BSTR* Text) override { return GetText(m_control->shortcut, Text); }
    STDMETHODIMP put_ShortcutText(BSTR Text) override { return PutText(&m_control->shortcut, Text); }
    STDMETHODIMP get_State(long* State) override;
    STDMETHODIMP put_State(long State) override;
    STDMETHODIMP get_Style(long* Style) override;
    STDMETHODIMP put_Style(long Style) override;
    STDMETHODIMP get_HyperlinkType(long* Type) override;
    STDMETHODIMP put_HyperlinkType(long Type) override;
    STDMETHODIMP get_Picture(IPictureDisp** Picture) override { return GetPicture(m_control->picture, Picture); }
    STDMETHODIMP put_Picture(IPictureDisp* Picture) override { return PutPicture(&m_control->picture, Picture); }
    STDMETHODIMP get_Mask(IPictureDisp** Mask) override { return GetPicture(m_control->mask, Mask); }
    STDMETHODIMP put_Mask(IPictureDisp* Mask) override { return PutPicture(&m_control->mask, Mask); }
    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    friend class common::CUnknownImpl<CCommandBarButton,
                                      CAccessibleDispatchImpl<CCommandBarButton, office::_CommandBarButton>,
                                      IConnectionPointContainer>;
    CCommandBarButton(StatePtr state, std::shared_ptr<ControlState> control);
    ~CCommandBarButton() override;
    static HRESULT View(StatePtr state, std::shared_ptr<ControlState> control, REFIID riid, void** out);
    bool IsGone() const { return m_control->deleted || !m_state->bars || m_state->bars->IsClosed(); }
    HRESULT GetText(const std::wstring& text, BSTR* out) const;
    HRESULT PutText(std::wstring* text, BSTR value);
    HRESULT GetFlag(bool flag, VARIANT_BOOL* out) const;
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
    HRESULT GetPicture(const ComPtr<IPictureDisp>& picture, IPictureDisp** out) const;
    HRESULT PutPicture(ComPtr<IPictureDisp>* picture, IPictureDisp* value);

    StatePtr m_state;
    std::shared_ptr<ControlState> m_control;
};

} // namespace olhost
