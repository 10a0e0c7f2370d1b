#include "Platform.h"
#include "CCommandBar.h"

#include "CCommandBarButton.h"
#include "CCommandBarControls.h"
#include "CCommandBars.h"
#include "VariantArgs.h"

namespace olhost {

HRESULT CCommandBar::Create(StatePtr state, std::shared_ptr<BarState> bar, office::CommandBar** out)
{
    if (!out)
        return E_POINTER;
    if (bar->view)
        return bar->view->QueryInterface(__uuidof(office::CommandBar), reinterpret_cast<void**>(out));
    return CreateInstance(__uuidof(office::CommandBar), reinterpret_cast<void**>(out), std::move(state),
                          std::move(bar));
}

CCommandBar::CCommandBar(StatePtr state, std::shared_ptr<BarState> bar) : m_state(std::move(state)), m_bar(std::move(bar))
{
    m_bar->view = static_cast<office::CommandBar*>(this);
}

CCommandBar::~CCommandBar()
{
    if (m_bar->view == static_cast<office::CommandBar*>(this))
        m_bar->view = nullptr;
}

STDMETHODIMP CCommandBar::get_Creator(long* Creator)
{
    return Read(Creator, kCreatorCode);
}

STDMETHODIMP CCommandBar::get_BuiltIn(VARIANT_BOOL* BuiltIn)
{
    return Read(BuiltIn, ToVariantBool(m_bar->builtIn));
}

STDMETHODIMP CCommandBar::get_Context(BSTR* Context)
{
    if (!Context)
        return E_POINTER;
    *Context = nullptr;
    return IsGone() ? E_FAIL : CopyText(m_bar->context, Context);
}

STDMETHODIMP CCommandBar::put_Context(BSTR Context)
{
    if (IsGone())
        return E_FAIL;
    m_bar->context.assign(Context ? Context : L"", SysStringLen(Context));
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Controls(office::CommandBarControls** Controls)
{
    if (!Controls)
        return E_POINTER;
    *Controls = nullptr;
    if (IsGone())
        return E_FAIL;
    return CCommandBarControls::Create(m_state, m_bar, Controls);
}

STDMETHODIMP CCommandBar::Delete()
{
    if (IsGone())
        return E_FAIL;
    return m_state->bars->DeleteBar(*m_bar);
}

STDMETHODIMP CCommandBar::get_Enabled(VARIANT_BOOL* Enabled)
{
    return Read(Enabled, ToVariantBool(m_bar->enabled));
}

STDMETHODIMP CCommandBar::put_Enabled(VARIANT_BOOL Enabled)
{
    if (IsGone())
        return E_FAIL;
    m_bar->enabled = Enabled != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBar::FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible, VARIANT Recursive,
                                      office::CommandBarControl** Control)
{
    if (!Control)
        return E_POINTER;
    *Control = nullptr;
    if (IsGone())
        return E_FAIL;
    ControlCriteria criteria;
    bool recursive = false;
    if (FAILED(ReadCriteria(Type, Id, Tag, Visible, &criteria)) ||
        (!IsMissing(Recursive) && FAILED(VariantToBool(Recursive, &recursive))))
        return E_INVALIDARG;
    // The host's bars hold no pop-ups, so a recursive search finds what a flat one does.
    auto control = m_state->bars->FindControl(m_bar.get(), criteria);
    if (!control)
        return S_OK;
    return CCommandBarButton::Create(m_state, control, Control);
}

STDMETHODIMP CCommandBar::get_Height(int* Height)
{
    return Read(Height, m_bar->height);
}

STDMETHODIMP CCommandBar::put_Height(int Height)
{
    if (IsGone())
        return E_FAIL;
    if (Height < 0)
        return E_INVALIDARG;
    m_bar->height = Height;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Index(int* Index)
{
    return Read(Index, IsGone() ? 0 : m_state->bars->IndexOf(*m_bar));
}

STDMETHODIMP CCommandBar::get_InstanceId(long* InstanceId)
{
    return Read(InstanceId, m_bar->instanceId);
}

STDMETHODIMP CCommandBar::get_Left(int* Left)
{
    return Read(Left, m_bar->left);
}

STDMETHODIMP CCommandBar::put_Left(int Left)
{
    if (IsGone())
        return E_FAIL;
    m_bar->left = Left;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Name(BSTR* Name)
{
    if (!Name)
        return E_POINTER;
    *Name = nullptr;
    return IsGone() ? E_FAIL : CopyText(m_bar->name, Name);
}

STDMETHODIMP CCommandBar::put_Name(BSTR Name)
{
    if (IsGone())
        return E_FAIL;
    std::wstring name(Name ? Name : L"", SysStringLen(Name));
    if (m_bar->builtIn || name.empty())
        return E_INVALIDARG;
    auto other = m_state->bars->FindBar(name);
    if (other && other.get() != m_bar.get())
        return E_INVALIDARG; // names stay unique
    m_bar->name = name;
    m_bar->nameLocal = name;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_NameLocal(BSTR* Name)
{
    if (!Name)
        return E_POINTER;
    *Name = nullptr;
    return IsGone() ? E_FAIL : CopyText(m_bar->nameLocal, Name);
}

STDMETHODIMP CCommandBar::put_NameLocal(BSTR Name)
{
    if (IsGone())
        return E_FAIL;
    if (m_bar->builtIn)
        return E_INVALIDARG;
    m_bar->nameLocal.assign(Name ? Name : L"", SysStringLen(Name));
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Parent(IDispatch** Parent)
{
    if (!Parent)
        return E_POINTER;
    *Parent = nullptr;
    if (IsGone())
        return E_FAIL;
    ComPtr<office::_CommandBars> bars;
    HRESULT hr = CCommandBars::Create(m_state, bars.GetAddressOf());
    if (SUCCEEDED(hr))
        *Parent = bars.Detach();
    return hr;
}

STDMETHODIMP CCommandBar::get_Position(long* Position)
{
    return Read(Position, m_bar->position);
}

STDMETHODIMP CCommandBar::put_Position(long Position)
{
    if (IsGone())
        return E_FAIL;
    // A pop-up stays a pop-up, and no bar becomes one after its creation.
    if (Position < office::msoBarLeft || Position > office::msoBarFloating || m_bar->position == office::msoBarPopup)
        return E_INVALIDARG;
    m_bar->position = Position;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_RowIndex(int* RowIndex)
{
    return Read(RowIndex, m_bar->rowIndex);
}

STDMETHODIMP CCommandBar::put_RowIndex(int RowIndex)
{
    if (IsGone())
        return E_FAIL;
    if (RowIndex < office::msoBarRowLast)
        return E_INVALIDARG;
    m_bar->rowIndex = RowIndex;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Protection(long* Protection)
{
    return Read(Protection, m_bar->protection);
}

STDMETHODIMP CCommandBar::put_Protection(long Protection)
{
    if (IsGone())
        return E_FAIL;
    m_bar->protection = Protection;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Top(int* Top)
{
    return Read(Top, m_bar->top);
}

STDMETHODIMP CCommandBar::put_Top(int Top)
{
    if (IsGone())
        return E_FAIL;
    m_bar->top = Top;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Type(long* Type)
{
    return Read(Type, m_bar->type);
}

STDMETHODIMP CCommandBar::get_Visible(VARIANT_BOOL* Visible)
{
    return Read(Visible, ToVariantBool(m_bar->visible));
}

STDMETHODIMP CCommandBar::put_Visible(VARIANT_BOOL Visible)
{
    if (IsGone())
        return E_FAIL;
    m_bar->visible = Visible != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBar::get_Width(int* Width)
{
    return Read(Width, m_bar->width);
}

STDMETHODIMP CCommandBar::put_Width(int Width)
{
    if (IsGone())
        return E_FAIL;
    if (Width < 0)
        return E_INVALIDARG;
    m_bar->width = Width;
    return S_OK;
}

} // namespace olhost
