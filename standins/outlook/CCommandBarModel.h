#pragma once
// The command bars of an Explorer as plain state: the built-in bars, the bars
// and controls add-ins create, and what the user's customization keeps from
// one run of the host to the next. Office's automation objects (CCommandBars,
// CCommandBar, CCommandBarControls, CCommandBarButton) are thin views of this
// state, so every view of one bar or control sees the same properties and the
// same Click sinks.
//
// As Office does: a bar's name is unique among the bars (Add refuses a
// duplicate, temporary or not); a bar or control created Temporary disappears
// when the host closes, all others are kept in the customization and come
// back in the next Explorer; deleted bars and controls answer no more calls.
#include "Platform.h"
#include "CSinkList.h"
#include "OutlookObjectModel.h"

#include <memory>
#include <string>
#include <vector>

namespace olhost {

struct BarState;

// A button face pasted from the clipboard: its size and 32-bit pixels.
struct FaceImage {
    int width = 0;
    int height = 0;
    std::vector<DWORD> pixels;
};

struct ControlState {
    long type = office::msoControlButton;
    int id = 1;
    bool builtIn = false;
    bool temporary = false;
    std::wstring caption, tag, tooltip, onAction, parameter, description, shortcut, helpFile;
    bool visible = true;
    bool enabled = true;
    bool beginGroup = false;
    int priority = 0;
    int helpContextId = 0;
    int width = 23;
    int height = 22;
    long style = office::msoButtonAutomatic;
    long state = office::msoButtonUp;
    long oleUsage = 0;
    int faceId = 0;
    bool builtInFace = false;
    FaceImage pastedFace;
    ComPtr<IPictureDisp> picture;
    ComPtr<IPictureDisp> mask;
    long instanceId = 0;
    bool deleted = false;
    std::weak_ptr<BarState> bar;
    std::shared_ptr<CSinkList> clickSinks = std::make_shared<CSinkList>(__uuidof(office::_CommandBarButtonEvents));
    int defaultActions = 0; // built-in actions run by clicks nobody cancelled
    // The automation object of the control while one lives (weak), so that
    // every call hands out the same object for the same control.
    IUnknown* view = nullptr;
};

struct BarState {
    std::wstring name;
    std::wstring nameLocal;
    std::wstring context;
    bool builtIn = false;
    bool temporary = false;
    bool visible = false;
    bool enabled = true;
    long position = office::msoBarFloating;
    long type = office::msoBarTypeNormal;
    long protection = 0;
    int top = 0;
    int left = 0;
    int rowIndex = 0;
    int width = 0;
    int height = 26;
    long instanceId = 0;
    bool deleted = false;
    std::vector<std::shared_ptr<ControlState>> controls;
    IUnknown* view = nullptr; // as ControlState::view
};

// Criteria of FindControl; a missing one matches every control.
struct ControlCriteria {
    bool anyType = true;
    long type = 0;
    bool anyId = true;
    int id = 0;
    bool anyTag = true;
    std::wstring tag;
    bool visibleOnly = false;
};

class CCommandBarModel {
public:
    // The bars of a new Explorer: the built-in ones, or what the last closed
    // Explorer left in the customization.
    CCommandBarModel();
    CCommandBarModel(const CCommandBarModel&) = delete;
    CCommandBarModel& operator=(const CCommandBarModel&) = delete;

    // Live bars, in collection order.
    std::vector<std::shared_ptr<BarState>> Bars() const;
    std::shared_ptr<BarState> FindBar(const std::wstring& name) const;
    int IndexOf(const BarState& bar) const;
    static int IndexOf(const BarState& bar, const ControlState& control);
    static std::vector<std::shared_ptr<ControlState>> Controls(const BarState& bar);

    HRESULT AddBar(const std::wstring& name, long position, bool menuBar, bool temporary,
                   std::shared_ptr<BarState>* bar);
    HRESULT DeleteBar(BarState& bar);
    // before: 1-based position, 0 for the end.
    HRESULT AddControl(BarState& bar, long type, int id, const std::wstring* parameter, int before, bool temporary,
                       std::shared_ptr<ControlState>* control);
    HRESULT DeleteControl(ControlState& control);

    // The first control that fits, on one bar or (bar null) on every bar.
    std::shared_ptr<ControlState> FindControl(const BarState* bar, const ControlCriteria& criteria) const;

    // The Explorer closes: its customization is kept (without what was
    // temporary) and every bar and control goes away with their sinks.
    void Close();
    bool IsClosed() const { return m_closed; }

    // Forgets what earlier Explorers of this process kept (a fresh user).
    static void ForgetCustomizations();

private:
    long NextInstanceId() { return ++m_lastInstanceId; }
    void AddBuiltInBars();

    std::vector<std::shared_ptr<BarState>> m_bars;
    long m_lastInstanceId = 0;
    bool m_closed = false;
};

} // namespace olhost
