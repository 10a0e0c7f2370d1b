#include "Platform.h"
#include "CCommandBarControls.h"

#include "CCommandBar.h"
#include "CCommandBarButton.h"
#include "VariantArgs.h"

namespace olhost {

HRESULT CCommandBarControls::Create(StatePtr state, std::shared_ptr<BarState> bar, office::CommandBarControls** out)
{
    return CreateInstance(__uuidof(office::CommandBarControls), reinterpret_cast<void**>(out), std::move(state),
                          std::move(bar));
}

STDMETHODIMP CCommandBarControls::get_Creator(long* Creator)
{
    if (!Creator)
        return E_POINTER;
    *Creator = kCreatorCode;
    return S_OK;
}

STDMETHODIMP CCommandBarControls::Add(VARIANT Type, VARIANT Id, VARIANT Parameter, VARIANT Before, VARIANT Temporary,
                                      office::CommandBarControl** Control)
{
    if (!Control)
        return E_POINTER;
    *Control = nullptr;
    if (IsGone())
        return E_FAIL;
    long type = office::msoControlButton;
    long id = 1;
    long before = 0;
    bool temporary = false;
    std::wstring parameter;
    if (!IsMissing(Type) && FAILED(VariantToLong(Type, &type)))
        return E_INVALIDARG;
    if (!IsMissing(Id) && FAILED(VariantToLong(Id, &id)))
        return E_INVALIDARG;
    if (!IsMissing(Parameter) && FAILED(VariantToString(Parameter, &parameter)))
        return E_INVALIDARG;
    if (!IsMissing(Before) && (FAILED(VariantToLong(Before, &before)) || before < 1))
        return E_INVALIDARG;
    if (!IsMissing(Temporary) && FAILED(VariantToBool(Temporary, &temporary)))
        return E_INVALIDARG;
    std::shared_ptr<ControlState> control;
    HRESULT hr = m_state->bars->AddControl(*m_bar, type, static_cast<int>(id), IsMissing(Parameter) ? nullptr : &parameter,
                                           static_cast<int>(before), temporary, &control);
    if (FAILED(hr))
        return hr;
    return CCommandBarButton::Create(m_state, control, Control);
}

STDMETHODIMP CCommandBarControls::get_Count(int* Count)
{
    if (!Count)
        return E_POINTER;
    *Count = 0;
    if (IsGone())
        return E_FAIL;
    *Count = static_cast<int>(CCommandBarModel::Controls(*m_bar).size());
    return S_OK;
}

STDMETHODIMP CCommandBarControls::get_Item(VARIANT Index, office::CommandBarControl** Control)
{
    if (!Control)
        return E_POINTER;
    *Control = nullptr;
    if (IsGone())
        return E_FAIL;
    auto controls = CCommandBarModel::Controls(*m_bar);
    std::shared_ptr<ControlState> control;
    if (IsTextIndex(Index)) {
        // By caption, as Office finds controls by name.
        std::wstring caption;
        if (FAILED(VariantToString(Index, &caption)))
            return E_INVALIDARG;
        for (const auto& candidate : controls) {
            if (!control && _wcsicmp(candidate->caption.c_str(), caption.c_str()) == 0)
                control = candidate;
        }
    } else {
        long index = 0;
        if (FAILED(VariantToLong(Index, &index)))
            return E_INVALIDARG;
        if (index >= 1 && index <= static_cast<long>(controls.size()))
            control = controls[index - 1];
    }
    if (!control)
        return E_INVALIDARG;
    return CCommandBarButton::Create(m_state, control, Control);
}

STDMETHODIMP CCommandBarControls::get__NewEnum(IUnknown** Enum)
{
    if (Enum)
        *Enum = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CCommandBarControls::get_Parent(office::CommandBar** Parent)
{
    if (!Parent)
        return E_POINTER;
    *Parent = nullptr;
    if (IsGone())
        return E_FAIL;
    return CCommandBar::Create(m_state, m_bar, Parent);
}

} // namespace olhost
