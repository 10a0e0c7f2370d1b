#include "Platform.h"
#include "CCommandBarModel.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace olhost {

namespace {

// The customization the last closed Explorer of this process left behind, as
// Office keeps it in the user's profile between runs.
struct SavedCustomization {
    bool present = false;
    std::vector<std::shared_ptr<BarState>> bars;
};

SavedCustomization& Saved()
{
    static SavedCustomization saved;
    return saved;
}

// A copy of bar without what is temporary; controls get sinks of their own.
std::shared_ptr<BarState> CopyBar(const BarState& bar)
{
    auto copy = std::make_shared<BarState>(bar);
    copy->controls.clear();
    copy->view = nullptr;
    for (const auto& control : bar.controls) {
        if (control->deleted || control->temporary)
            continue;
        auto kept = std::make_shared<ControlState>(*control);
        kept->clickSinks = std::make_shared<CSinkList>(__uuidof(office::_CommandBarButtonEvents));
        kept->view = nullptr;
        kept->bar = copy;
        copy->controls.push_back(kept);
    }
    return copy;
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// Built-in commands of the Standard bar; the identifiers are the host's own.
struct BuiltInCommand {
    int id;
    const wchar_t* caption;
};
const BuiltInCommand kStandardCommands[] = {{1836, L"&New"}, {4, L"&Print..."}, {478, L"&Delete"}};
const BuiltInCommand kAdvancedCommands[] = {{1806, L"Pre&vious Folder"}};

} // namespace

CCommandBarModel::CCommandBarModel()
{
    SavedCustomization& saved = Saved();
    if (!saved.present) {
        AddBuiltInBars();
        return;
    }
    for (const auto& bar : saved.bars) {
        m_bars.push_back(CopyBar(*bar));
        m_bars.back()->instanceId = NextInstanceId();
        for (auto& control : m_bars.back()->controls)
            control->instanceId = NextInstanceId();
    }
}

void CCommandBarModel::AddBuiltInBars()
{
    struct BuiltInBar {
        const wchar_t* name;
        long type;
        bool visible;
        int rowIndex;
        const BuiltInCommand* commands;
        size_t count;
    };
    const BuiltInBar bars[] = {
        {L"Menu Bar", office::msoBarTypeMenuBar, true, 0, nullptr, 0},
        {L"Standard", office::msoBarTypeNormal, true, 1, kStandardCommands, std::size(kStandardCommands)},
        {L"Advanced", office::msoBarTypeNormal, false, 2, kAdvancedCommands, std::size(kAdvancedCommands)},
        {L"Web", office::msoBarTypeNormal, false, 3, nullptr, 0},
    };
    for (const BuiltInBar& spec : bars) {
        auto bar = std::make_shared<BarState>();
        bar->name = bar->nameLocal = spec.name;
        bar->builtIn = true;
        bar->visible = spec.visible;
        bar->position = office::msoBarTop;
        bar->type = spec.type;
        bar->rowIndex = spec.rowIndex;
        bar->instanceId = NextInstanceId();
        for (size_t i = 0; i < spec.count; ++i) {
            auto control = std::make_shared<ControlState>();
            control->id = spec.commands[i].id;
            control->caption = spec.commands[i].caption;
            control->builtIn = true;
            control->builtInFace = true;
            control->faceId = spec.commands[i].id;
            control->instanceId = NextInstanceId();
            control->bar = bar;
            bar->controls.push_back(control);
        }
        m_bars.push_back(bar);
    }
}

std::vector<std::shared_ptr<BarState>> CCommandBarModel::Bars() const
{
    std::vector<std::shared_ptr<BarState>> live;
    if (m_closed)
        return live;
    for (const auto& bar : m_bars) {
        if (!bar->deleted)
            live.push_back(bar);
    }
    return live;
}

std::shared_ptr<BarState> CCommandBarModel::FindBar(const std::wstring& name) const
{
    for (const auto& bar : Bars()) {
        if (SameText(bar->name, name) || SameText(bar->nameLocal, name))
            return bar;
    }
    return nullptr;
}

int CCommandBarModel::IndexOf(const BarState& bar) const
{
    auto bars = Bars();
    for (size_t i = 0; i < bars.size(); ++i) {
        if (bars[i].get() == &bar)
            return static_cast<int>(i + 1);
    }
    return 0;
}

std::vector<std::shared_ptr<ControlState>> CCommandBarModel::Controls(const BarState& bar)
{
    std::vector<std::shared_ptr<ControlState>> live;
    for (const auto& control : bar.controls) {
        if (!control->deleted)
            live.push_back(control);
    }
    return live;
}

int CCommandBarModel::IndexOf(const BarState& bar, const ControlState& control)
{
    auto controls = Controls(bar);
    for (size_t i = 0; i < controls.size(); ++i) {
        if (controls[i].get() == &control)
            return static_cast<int>(i + 1);
    }
    return 0;
}

HRESULT CCommandBarModel::AddBar(const std::wstring& name, long position, bool menuBar, bool temporary,
                                 std::shared_ptr<BarState>* out)
{
    if (m_closed)
        return E_FAIL;
    if (position < office::msoBarLeft || position > office::msoBarPopup)
        return E_INVALIDARG;
    std::wstring barName = name;
    if (barName.empty()) {
        // Office names unnamed bars "Custom 1", "Custom 2", ...
        for (int n = 1; barName.empty() || FindBar(barName); ++n)
            barName = L"Custom " + std::to_wstring(n);
    } else if (FindBar(barName)) {
        return E_INVALIDARG;
    }
    auto bar = std::make_shared<BarState>();
    bar->name = bar->nameLocal = barName;
    bar->temporary = temporary;
    bar->position = position;
    bar->type = position == office::msoBarPopup ? office::msoBarTypePopup
                                                : (menuBar ? office::msoBarTypeMenuBar : office::msoBarTypeNormal);
    bar->instanceId = NextInstanceId();
    m_bars.push_back(bar);
    *out = bar;
    return S_OK;
}

HRESULT CCommandBarModel::DeleteBar(BarState& bar)
{
    if (m_closed || bar.deleted)
        return E_FAIL;
    if (bar.builtIn)
        return E_FAIL; // built-in bars cannot be deleted
    bar.deleted = true;
    for (auto& control : bar.controls) {
        control->deleted = true;
        control->clickSinks->Clear();
    }
    return S_OK;
}

HRESULT CCommandBarModel::AddControl(BarState& bar, long type, int id, const std::wstring* parameter, int before,
                                     bool temporary, std::shared_ptr<ControlState>* out)
{
    if (m_closed || bar.deleted)
        return E_FAIL;
    if (type != office::msoControlButton)
        return E_NOTIMPL; // the host has buttons only
    auto control = std::make_shared<ControlState>();
    control->temporary = temporary;
    if (id != 1) {
        // A copy of a built-in command, known by its identifier.
        const BuiltInCommand* command = nullptr;
        for (const BuiltInCommand& c : kStandardCommands)
            command = c.id == id ? &c : command;
        for (const BuiltInCommand& c : kAdvancedCommands)
            command = c.id == id ? &c : command;
        if (!command)
            return E_INVALIDARG;
        control->id = id;
        control->caption = command->caption;
        control->builtIn = true;
        control->builtInFace = true;
        control->faceId = id;
    }
    if (parameter)
        control->parameter = *parameter;
    auto live = Controls(bar);
    if (before < 0 || before > static_cast<int>(live.size()) + 1)
        return E_INVALIDARG;
    auto where = bar.controls.end();
    if (before > 0 && before <= static_cast<int>(live.size()))
        where = std::find(bar.controls.begin(), bar.controls.end(), live[before - 1]);
    control->instanceId = NextInstanceId();
    std::shared_ptr<BarState> owner;
    for (const auto& candidate : m_bars) {
        if (candidate.get() == &bar)
            owner = candidate;
    }
    control->bar = owner;
    bar.controls.insert(where, control);
    *out = control;
    return S_OK;
}

HRESULT CCommandBarModel::DeleteControl(ControlState& control)
{
    if (m_closed || control.deleted)
        return E_FAIL;
    control.deleted = true;
    control.clickSinks->Clear();
    return S_OK;
}

std::shared_ptr<ControlState> CCommandBarModel::FindControl(const BarState* bar, const ControlCriteria& criteria) const
{
    for (const auto& candidateBar : Bars()) {
        if (bar && candidateBar.get() != bar)
            continue;
        if (!bar && criteria.visibleOnly && !candidateBar->visible)
            continue;
        for (const auto& control : Controls(*candidateBar)) {
            if (!criteria.anyType && control->type != criteria.type)
                continue;
            if (!criteria.anyId && control->id != criteria.id)
                continue;
            if (!criteria.anyTag && control->tag != criteria.tag)
                continue;
            if (criteria.visibleOnly && !control->visible)
                continue;
            return control;
        }
    }
    return nullptr;
}

void CCommandBarModel::Close()
{
    if (m_closed)
        return;
    SavedCustomization& saved = Saved();
    saved.present = true;
    saved.bars.clear();
    for (const auto& bar : m_bars) {
        if (!bar->deleted && !bar->temporary)
            saved.bars.push_back(CopyBar(*bar));
    }
    for (auto& bar : m_bars) {
        for (auto& control : bar->controls) {
            control->deleted = true;
            control->clickSinks->Clear();
        }
        bar->deleted = true;
    }
    m_closed = true;
}

void CCommandBarModel::ForgetCustomizations()
{
    Saved() = SavedCustomization();
}

} // namespace olhost
