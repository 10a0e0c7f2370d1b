#include "Platform.h"
#include "CCommandBarButton.h"

#include "CCommandBar.h"
#include "CConnectionPoint.h"
#include "VariantArgs.h"

#include <olectl.h>

namespace olhost {

HRESULT CCommandBarButton::View(StatePtr state, std::shared_ptr<ControlState> control, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (control->view)
        return control->view->QueryInterface(riid, out);
    return CreateInstance(riid, out, std::move(state), std::move(control));
}

HRESULT CCommandBarButton::Create(StatePtr state, std::shared_ptr<ControlState> control, office::CommandBarControl** out)
{
    return View(std::move(state), std::move(control), __uuidof(office::CommandBarControl), reinterpret_cast<void**>(out));
}

HRESULT CCommandBarButton::Create(StatePtr state, std::shared_ptr<ControlState> control, office::_CommandBarButton** out)
{
    return View(std::move(state), std::move(control), __uuidof(office::_CommandBarButton), reinterpret_cast<void**>(out));
}

CCommandBarButton::CCommandBarButton(StatePtr state, std::shared_ptr<ControlState> control)
    : m_state(std::move(state)), m_control(std::move(control))
{
    m_control->view = static_cast<IConnectionPointContainer*>(this);
}

CCommandBarButton::~CCommandBarButton()
{
    if (m_control->view == static_cast<IConnectionPointContainer*>(this))
        m_control->view = nullptr;
}

HRESULT CCommandBarButton::Click(const StatePtr& state, const std::shared_ptr<ControlState>& control, bool* cancelled)
{
    if (control->deleted || !state->bars || state->bars->IsClosed())
        return E_FAIL;
    ComPtr<office::_CommandBarButton> button;
    HRESULT hr = Create(state, control, button.GetAddressOf());
    if (FAILED(hr))
        return hr;
    // Click(Ctrl As CommandBarButton, CancelDefault As Boolean): arguments
    // travel last first, CancelDefault by reference.
    VARIANT_BOOL cancelDefault = VARIANT_FALSE;
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_BOOL | VT_BYREF;
    args[0].pboolVal = &cancelDefault;
    args[1].vt = VT_DISPATCH;
    args[1].pdispVal = button.Get();
    control->clickSinks->Fire(office::dispid::ButtonEventClick, args, 2);
    if (control->builtIn && cancelDefault == VARIANT_FALSE)
        ++control->defaultActions;
    if (cancelled)
        *cancelled = cancelDefault != VARIANT_FALSE;
    return S_OK;
}

HRESULT CCommandBarButton::GetText(const std::wstring& text, BSTR* out) const
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    return IsGone() ? E_FAIL : CopyText(text, out);
}

HRESULT CCommandBarButton::PutText(std::wstring* text, BSTR value)
{
    if (IsGone())
        return E_FAIL;
    text->assign(value ? value : L"", SysStringLen(value));
    return S_OK;
}

HRESULT CCommandBarButton::GetFlag(bool flag, VARIANT_BOOL* out) const
{
    return Read(out, ToVariantBool(flag));
}

STDMETHODIMP CCommandBarButton::get_Creator(long* Creator)
{
    return Read(Creator, kCreatorCode);
}

STDMETHODIMP CCommandBarButton::get_BeginGroup(VARIANT_BOOL* BeginGroup)
{
    return GetFlag(m_control->beginGroup, BeginGroup);
}

STDMETHODIMP CCommandBarButton::put_BeginGroup(VARIANT_BOOL BeginGroup)
{
    if (IsGone())
        return E_FAIL;
    m_control->beginGroup = BeginGroup != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_BuiltIn(VARIANT_BOOL* BuiltIn)
{
    return GetFlag(m_control->builtIn, BuiltIn);
}

STDMETHODIMP CCommandBarButton::get_Control(IDispatch** Control)
{
    if (Control)
        *Control = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCommandBarButton::Copy(VARIANT, VARIANT, office::CommandBarControl** Copy)
{
    if (Copy)
        *Copy = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCommandBarButton::Delete(VARIANT Temporary)
{
    if (IsGone())
        return E_FAIL;
    bool temporary = false;
    if (!IsMissing(Temporary) && FAILED(VariantToBool(Temporary, &temporary)))
        return E_INVALIDARG;
    // Temporary only says whether Office keeps the deletion in the user's
    // customization; the host keeps every deletion.
    return m_state->bars->DeleteControl(*m_control);
}

STDMETHODIMP CCommandBarButton::get_Enabled(VARIANT_BOOL* Enabled)
{
    return GetFlag(m_control->enabled, Enabled);
}

STDMETHODIMP CCommandBarButton::put_Enabled(VARIANT_BOOL Enabled)
{
    if (IsGone())
        return E_FAIL;
    m_control->enabled = Enabled != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::Execute()
{
    if (IsGone())
        return E_FAIL;
    // A custom button's action is its Click event.
    return Click(m_state, m_control, nullptr);
}

STDMETHODIMP CCommandBarButton::get_Height(int* Height)
{
    return Read(Height, m_control->height);
}

STDMETHODIMP CCommandBarButton::put_Height(int Height)
{
    if (IsGone())
        return E_FAIL;
    if (Height < 0)
        return E_INVALIDARG;
    m_control->height = Height;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_HelpContextId(int* Id)
{
    return Read(Id, m_control->helpContextId);
}

STDMETHODIMP CCommandBarButton::put_HelpContextId(int Id)
{
    if (IsGone())
        return E_FAIL;
    m_control->helpContextId = Id;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_Id(int* Id)
{
    return Read(Id, m_control->id);
}

STDMETHODIMP CCommandBarButton::get_Index(int* Index)
{
    auto bar = m_control->bar.lock();
    return Read(Index, bar ? CCommandBarModel::IndexOf(*bar, *m_control) : 0);
}

STDMETHODIMP CCommandBarButton::get_InstanceId(long* InstanceId)
{
    return Read(InstanceId, m_control->instanceId);
}

STDMETHODIMP CCommandBarButton::Move(VARIANT, VARIANT, office::CommandBarControl** Moved)
{
    if (Moved)
        *Moved = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCommandBarButton::get_Left(int* Left)
{
    auto bar = m_control->bar.lock();
    int left = 0;
    if (bar) {
        for (const auto& control : CCommandBarModel::Controls(*bar)) {
            if (control.get() == m_control.get())
                break;
            if (control->visible)
                left += control->width;
        }
    }
    return Read(Left, left);
}

STDMETHODIMP CCommandBarButton::get_OLEUsage(long* Usage)
{
    return Read(Usage, m_control->oleUsage);
}

STDMETHODIMP CCommandBarButton::put_OLEUsage(long Usage)
{
    if (IsGone())
        return E_FAIL;
    m_control->oleUsage = Usage;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_Parent(office::CommandBar** Parent)
{
    if (!Parent)
        return E_POINTER;
    *Parent = nullptr;
    auto bar = m_control->bar.lock();
    if (IsGone() || !bar)
        return E_FAIL;
    return CCommandBar::Create(m_state, bar, Parent);
}

STDMETHODIMP CCommandBarButton::get_Priority(int* Priority)
{
    return Read(Priority, m_control->priority);
}

STDMETHODIMP CCommandBarButton::put_Priority(int Priority)
{
    if (IsGone())
        return E_FAIL;
    if (Priority < 0 || Priority > 7)
        return E_INVALIDARG;
    m_control->priority = Priority;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_Top(int* Top)
{
    auto bar = m_control->bar.lock();
    return Read(Top, bar ? bar->top : 0);
}

STDMETHODIMP CCommandBarButton::get_Type(long* Type)
{
    return Read(Type, m_control->type);
}

STDMETHODIMP CCommandBarButton::get_Visible(VARIANT_BOOL* Visible)
{
    return GetFlag(m_control->visible, Visible);
}

STDMETHODIMP CCommandBarButton::put_Visible(VARIANT_BOOL Visible)
{
    if (IsGone())
        return E_FAIL;
    m_control->visible = Visible != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_Width(int* Width)
{
    return Read(Width, m_control->width);
}

STDMETHODIMP CCommandBarButton::put_Width(int Width)
{
    if (IsGone())
        return E_FAIL;
    if (Width < 0)
        return E_INVALIDARG;
    m_control->width = Width;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_IsPriorityDropped(VARIANT_BOOL* Dropped)
{
    return GetFlag(false, Dropped);
}

STDMETHODIMP CCommandBarButton::get_BuiltInFace(VARIANT_BOOL* BuiltInFace)
{
    return GetFlag(m_control->builtInFace, BuiltInFace);
}

STDMETHODIMP CCommandBarButton::put_BuiltInFace(VARIANT_BOOL BuiltInFace)
{
    if (IsGone())
        return E_FAIL;
    // Only a built-in button has a built-in face to go back to.
    if (BuiltInFace != VARIANT_FALSE && !m_control->builtIn)
        return E_INVALIDARG;
    m_control->builtInFace = BuiltInFace != VARIANT_FALSE;
    if (m_control->builtInFace) {
        m_control->faceId = m_control->id;
        m_control->pastedFace = FaceImage();
    }
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_FaceId(int* FaceId)
{
    return Read(FaceId, m_control->faceId);
}

STDMETHODIMP CCommandBarButton::put_FaceId(int FaceId)
{
    if (IsGone())
        return E_FAIL;
    if (FaceId < 0)
        return E_INVALIDARG;
    m_control->faceId = FaceId;
    m_control->builtInFace = m_control->builtIn && FaceId == m_control->id;
    m_control->pastedFace = FaceImage();
    return S_OK;
}

STDMETHODIMP CCommandBarButton::PasteFace()
{
    if (IsGone())
        return E_FAIL;
    // The face comes from a bitmap on the clipboard; without one the call fails.
    if (!OpenClipboard(nullptr))
        return E_FAIL;
    HRESULT hr = E_FAIL;
    HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    BITMAP info{};
    if (bitmap && GetObjectW(bitmap, sizeof(info), &info) && info.bmWidth > 0 && info.bmHeight > 0) {
        FaceImage face;
        face.width = info.bmWidth;
        face.height = info.bmHeight;
        face.pixels.resize(static_cast<size_t>(face.width) * face.height);
        BITMAPINFO request{};
        request.bmiHeader.biSize = sizeof(request.bmiHeader);
        request.bmiHeader.biWidth = face.width;
        request.bmiHeader.biHeight = -face.height; // top-down rows
        request.bmiHeader.biPlanes = 1;
        request.bmiHeader.biBitCount = 32;
        request.bmiHeader.biCompression = BI_RGB;
        HDC screen = GetDC(nullptr);
        if (GetDIBits(screen, bitmap, 0, face.height, face.pixels.data(), &request, DIB_RGB_COLORS) == face.height) {
            m_control->pastedFace = std::move(face);
            m_control->faceId = 0;
            m_control->builtInFace = false;
            hr = S_OK;
        }
        ReleaseDC(nullptr, screen);
    }
    CloseClipboard();
    return hr;
}

STDMETHODIMP CCommandBarButton::get_State(long* State)
{
    return Read(State, m_control->state);
}

STDMETHODIMP CCommandBarButton::put_State(long State)
{
    if (IsGone())
        return E_FAIL;
    if (State != office::msoButtonUp && State != office::msoButtonDown && State != office::msoButtonMixed)
        return E_INVALIDARG;
    m_control->state = State;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::get_Style(long* Style)
{
    return Read(Style, m_control->style);
}

STDMETHODIMP CCommandBarButton::put_Style(long Style)
{
    if (IsGone())
        return E_FAIL;
    switch (Style) {
    case office::msoButtonAutomatic:
    case office::msoButtonIcon:
    case office::msoButtonCaption:
    case office::msoButtonIconAndCaption:
    case office::msoButtonIconAndWrapCaption:
    case office::msoButtonIconAndCaptionBelow:
    case office::msoButtonWrapCaption:
    case office::msoButtonIconAndWrapCaptionBelow:
        m_control->style = Style;
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

STDMETHODIMP CCommandBarButton::get_HyperlinkType(long* Type)
{
    return Read(Type, 0L);
}

STDMETHODIMP CCommandBarButton::put_HyperlinkType(long Type)
{
    if (IsGone())
        return E_FAIL;
    return Type == 0 ? S_OK : E_NOTIMPL;
}

HRESULT CCommandBarButton::GetPicture(const ComPtr<IPictureDisp>& picture, IPictureDisp** out) const
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!m_state->HasPictureButtons())
        return E_NOTIMPL; // Office 2000's buttons have no Picture and Mask
    if (IsGone())
        return E_FAIL;
    return picture.CopyTo(out);
}

HRESULT CCommandBarButton::PutPicture(ComPtr<IPictureDisp>* picture, IPictureDisp* value)
{
    if (!m_state->HasPictureButtons())
        return E_NOTIMPL;
    if (IsGone())
        return E_FAIL;
    if (!value)
        return E_INVALIDARG;
    ComPtr<IPicture> image;
    SHORT type = PICTYPE_NONE;
    if (FAILED(value->QueryInterface(IID_IPicture, reinterpret_cast<void**>(image.GetAddressOf()))) ||
        FAILED(image->get_Type(&type)) || (type != PICTYPE_BITMAP && type != PICTYPE_ICON))
        return E_INVALIDARG;
    *picture = value;
    m_control->faceId = 0;
    m_control->builtInFace = false;
    return S_OK;
}

STDMETHODIMP CCommandBarButton::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    if (points)
        *points = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCommandBarButton::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    if (point)
        *point = nullptr;
    if (IsGone())
        return E_FAIL;
    return CConnectionPoint::Find(m_control->clickSinks, this, riid, point);
}

} // namespace olhost
