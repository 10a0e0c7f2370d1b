#include "Platform.h"
#include "CCommandBars.h"

#include "CCommandBar.h"
#include "CCommandBarButton.h"
#include "VariantArgs.h"

namespace olhost {

HRESULT ReadCriteria(const VARIANT& type, const VARIANT& id, const VARIANT& tag, const VARIANT& visible,
                     ControlCriteria* criteria)
{
    if (!IsMissing(type)) {
        criteria->anyType = false;
        if (FAILED(VariantToLong(type, &criteria->type)))
            return E_INVALIDARG;
    }
    if (!IsMissing(id)) {
        long value = 0;
        criteria->anyId = false;
        if (FAILED(VariantToLong(id, &value)))
            return E_INVALIDARG;
        criteria->id = static_cast<int>(value);
    }
    if (!IsMissing(tag)) {
        criteria->anyTag = false;
        if (FAILED(VariantToString(tag, &criteria->tag)))
            return E_INVALIDARG;
    }
    if (!IsMissing(visible) && FAILED(VariantToBool(visible, &criteria->visibleOnly)))
        return E_INVALIDARG;
    return S_OK;
}

HRESULT CCommandBars::Create(StatePtr state, office::_CommandBars** out)
{
    return CreateInstance(__uuidof(office::_CommandBars), reinterpret_cast<void**>(out), std::move(state));
}

STDMETHODIMP CCommandBars::get_Creator(long* Creator)
{
    if (!Creator)
        return E_POINTER;
    *Creator = kCreatorCode;
    return S_OK;
}

STDMETHODIMP CCommandBars::get_ActionControl(office::CommandBarControl** Control)
{
    if (!Control)
        return E_POINTER;
    *Control = nullptr; // no control is running its action
    return IsGone() ? E_FAIL : S_OK;
}

STDMETHODIMP CCommandBars::get_ActiveMenuBar(office::CommandBar** Bar)
{
    if (!Bar)
        return E_POINTER;
    *Bar = nullptr;
    if (IsGone())
        return E_FAIL;
    for (const auto& bar : m_state->bars->Bars()) {
        if (bar->type == office::msoBarTypeMenuBar)
            return CCommandBar::Create(m_state, bar, Bar);
    }
    return S_OK;
}

STDMETHODIMP CCommandBars::Add(VARIANT Name, VARIANT Position, VARIANT MenuBar, VARIANT Temporary,
                               office::CommandBar** Bar)
{
    if (!Bar)
        return E_POINTER;
    *Bar = nullptr;
    if (IsGone())
        return E_FAIL;
    std::wstring name;
    long position = office::msoBarFloating;
    bool menuBar = false;
    bool temporary = false;
    if (!IsMissing(Name) && FAILED(VariantToString(Name, &name)))
        return E_INVALIDARG;
    if (!IsMissing(Position) && FAILED(VariantToLong(Position, &position)))
        return E_INVALIDARG;
    if (!IsMissing(MenuBar) && FAILED(VariantToBool(MenuBar, &menuBar)))
        return E_INVALIDARG;
    if (!IsMissing(Temporary) && FAILED(VariantToBool(Temporary, &temporary)))
        return E_INVALIDARG;
    std::shared_ptr<BarState> bar;
    HRESULT hr = m_state->bars->AddBar(name, position, menuBar, temporary, &bar);
    if (FAILED(hr))
        return hr;
    return CCommandBar::Create(m_state, bar, Bar);
}

STDMETHODIMP CCommandBars::get_Count(int* Count)
{
    if (!Count)
        return E_POINTER;
    *Count = 0;
    if (IsGone())
        return E_FAIL;
    *Count = static_cast<int>(m_state->bars->Bars().size());
    return S_OK;
}

STDMETHODIMP CCommandBars::get_DisplayTooltips(VARIANT_BOOL* Display)
{
    if (!Display)
        return E_POINTER;
    *Display = ToVariantBool(m_displayTooltips);
    return S_OK;
}

STDMETHODIMP CCommandBars::put_DisplayTooltips(VARIANT_BOOL Display)
{
    m_displayTooltips = Display != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBars::get_DisplayKeysInTooltips(VARIANT_BOOL* Display)
{
    if (!Display)
        return E_POINTER;
    *Display = ToVariantBool(m_displayKeys);
    return S_OK;
}

STDMETHODIMP CCommandBars::put_DisplayKeysInTooltips(VARIANT_BOOL Display)
{
    m_displayKeys = Display != VARIANT_FALSE;
    return S_OK;
}

STDMETHODIMP CCommandBars::FindControl(VARIANT Type, VARIANT Id, VARIANT Tag, VARIANT Visible,
                                       office::CommandBarControl** Control)
{
    if (!Control)
        return E_POINTER;
    *Control = nullptr;
    if (IsGone())
        return E_FAIL;
    ControlCriteria criteria;
    if (FAILED(ReadCriteria(Type, Id, Tag, Visible, &criteria)))
        return E_INVALIDARG;
    auto control = m_state->bars->FindControl(nullptr, criteria);
    if (!control)
        return S_OK; // Nothing
    return CCommandBarButton::Create(m_state, control, Control);
}

STDMETHODIMP CCommandBars::get_Item(VARIANT Index, office::CommandBar** Bar)
{
    if (!Bar)
        return E_POINTER;
    *Bar = nullptr;
    if (IsGone())
        return E_FAIL;
    std::shared_ptr<BarState> bar;
    if (IsTextIndex(Index)) {
        std::wstring name;
        if (FAILED(VariantToString(Index, &name)))
            return E_INVALIDARG;
        bar = m_state->bars->FindBar(name);
    } else {
        long index = 0;
        if (FAILED(VariantToLong(Index, &index)))
            return E_INVALIDARG;
        auto bars = m_state->bars->Bars();
        if (index >= 1 && index <= static_cast<long>(bars.size()))
            bar = bars[index - 1];
    }
    if (!bar)
        return E_INVALIDARG;
    return CCommandBar::Create(m_state, bar, Bar);
}

} // namespace olhost
