// Office's command bars as the host serves them: the collection, bars and
// buttons with their documented rules, Click through connection points, and
// the customization that outlives one run of Outlook.
#include "Platform.h"
#include "HostTestFixture.h"

#include "CUnknownImpl.h"

#include <olectl.h>

namespace olhosttest {
namespace {

class CommandBarsTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        ASSERT_EQ(S_OK, StartHost());
        m_bars = Bars();
        ASSERT_TRUE(m_bars);
    }
    void TearDown() override
    {
        m_bars.Reset();
        HostTest::TearDown();
    }

    ComPtr<office::CommandBar> AddBar(const wchar_t* name, bool temporary)
    {
        CText text(name);
        ComPtr<office::CommandBar> bar;
        EXPECT_EQ(S_OK, m_bars->Add(text.Value(), Long(office::msoBarTop), Missing(), Bool(temporary), bar.GetAddressOf()));
        return bar;
    }

    ComPtr<office::_CommandBarButton> AddButton(office::CommandBar* bar, const wchar_t* tag, bool temporary,
                                                VARIANT before = Missing())
    {
        ComPtr<office::CommandBarControls> controls;
        ComPtr<office::CommandBarControl> control;
        ComPtr<office::_CommandBarButton> button;
        EXPECT_EQ(S_OK, bar->get_Controls(controls.GetAddressOf()));
        EXPECT_EQ(S_OK, controls->Add(Long(office::msoControlButton), Missing(), Missing(), before, Bool(temporary),
                                      control.GetAddressOf()));
        if (!control)
            return button;
        CText text(tag);
        EXPECT_EQ(S_OK, control->put_Tag(text.Bstr()));
        EXPECT_EQ(S_OK, control.As(&button));
        return button;
    }

    ComPtr<office::_CommandBars> m_bars;
};

TEST_F(CommandBarsTest, BuiltInBarsAreFoundByIndexAndNameAndStay)
{
    int count = 0;
    ASSERT_EQ(S_OK, m_bars->get_Count(&count));
    EXPECT_EQ(4, count);
    struct Lookup {
        VARIANT index;
        const wchar_t* name; // null: refused
    };
    CText standard(L"standard"), missing(L"No such bar");
    const Lookup lookups[] = {{Long(1), L"Menu Bar"}, {Long(4), L"Web"},   {standard.Value(), L"Standard"},
                              {Long(0), nullptr},     {Long(5), nullptr}, {missing.Value(), nullptr}};
    for (const Lookup& lookup : lookups) {
        ComPtr<office::CommandBar> bar;
        HRESULT hr = m_bars->get_Item(lookup.index, bar.GetAddressOf());
        if (!lookup.name) {
            EXPECT_EQ(E_INVALIDARG, hr);
            continue;
        }
        ASSERT_EQ(S_OK, hr);
        BSTR name = nullptr;
        ASSERT_EQ(S_OK, bar->get_Name(&name));
        EXPECT_EQ(lookup.name, Take(name));
        VARIANT_BOOL builtIn = VARIANT_FALSE;
        EXPECT_EQ(S_OK, bar->get_BuiltIn(&builtIn));
        EXPECT_EQ(VARIANT_TRUE, builtIn);
        EXPECT_EQ(E_FAIL, bar->Delete());
    }
}

TEST_F(CommandBarsTest, AddRefusesATakenNameTemporaryOrNot)
{
    for (bool temporary : {true, false}) {
        SCOPED_TRACE(temporary ? "temporary" : "kept");
        const wchar_t* name = temporary ? L"Once" : L"Twice";
        ComPtr<office::CommandBar> first = AddBar(name, temporary);
        ASSERT_TRUE(first);
        VARIANT_BOOL visible = VARIANT_TRUE, enabled = VARIANT_FALSE;
        EXPECT_EQ(S_OK, first->get_Visible(&visible));
        EXPECT_EQ(VARIANT_FALSE, visible); // a new bar is hidden until shown
        EXPECT_EQ(S_OK, first->get_Enabled(&enabled));
        EXPECT_EQ(VARIANT_TRUE, enabled);
        CText again(name);
        for (bool secondTemporary : {true, false}) {
            ComPtr<office::CommandBar> second;
            EXPECT_EQ(E_INVALIDARG, m_bars->Add(again.Value(), Missing(), Missing(), Bool(secondTemporary),
                                                second.GetAddressOf()));
        }
    }
    ComPtr<office::CommandBar> unnamed;
    ASSERT_EQ(S_OK, m_bars->Add(Missing(), Missing(), Missing(), Missing(), unnamed.GetAddressOf()));
    BSTR name = nullptr;
    ASSERT_EQ(S_OK, unnamed->get_Name(&name));
    EXPECT_EQ(L"Custom 1", Take(name));
    long position = 0;
    EXPECT_EQ(S_OK, unnamed->get_Position(&position));
    EXPECT_EQ(office::msoBarFloating, position);
    int index = 0;
    EXPECT_EQ(S_OK, unnamed->get_Index(&index));
    EXPECT_EQ(7, index);
}

TEST_F(CommandBarsTest, PropertiesOutsideTheirDocumentedValuesAreRefused)
{
    ComPtr<office::CommandBar> bar = AddBar(L"Rules", true);
    ComPtr<office::_CommandBarButton> button = AddButton(bar.Get(), L"RULES", true);
    ASSERT_TRUE(button);
    struct Case {
        const char* what;
        HRESULT (*apply)(office::CommandBar*, office::_CommandBarButton*);
        HRESULT expected;
    };
    const Case cases[] = {
        {"Priority 7", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Priority(7); }, S_OK},
        {"Priority 8", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Priority(8); }, E_INVALIDARG},
        {"Priority -1", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Priority(-1); }, E_INVALIDARG},
        {"Style 3", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Style(3); }, S_OK},
        {"Style 4", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Style(4); }, E_INVALIDARG},
        {"State down", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_State(-1); }, S_OK},
        {"State 1", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_State(1); }, E_INVALIDARG},
        {"FaceId -2", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_FaceId(-2); }, E_INVALIDARG},
        {"Picture null", [](office::CommandBar*, office::_CommandBarButton* b) { return b->put_Picture(nullptr); },
         E_INVALIDARG},
        {"Position floating", [](office::CommandBar* r, office::_CommandBarButton*) { return r->put_Position(4); }, S_OK},
        {"Position popup", [](office::CommandBar* r, office::_CommandBarButton*) { return r->put_Position(5); },
         E_INVALIDARG},
        {"RowIndex last", [](office::CommandBar* r, office::_CommandBarButton*) { return r->put_RowIndex(-1); }, S_OK},
        {"RowIndex -2", [](office::CommandBar* r, office::_CommandBarButton*) { return r->put_RowIndex(-2); },
         E_INVALIDARG},
        {"Name of another bar",
         [](office::CommandBar* r, office::_CommandBarButton*) {
             CText standard(L"Standard");
             return r->put_Name(standard.Bstr());
         },
         E_INVALIDARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, c.apply(bar.Get(), button.Get())) << c.what;

    // A picture that is no picture is refused; Outlook 2000's buttons have none.
    ComPtr<IPictureDisp> picture;
    PICTDESC description{};
    description.cbSizeofstruct = sizeof(description);
    description.picType = PICTYPE_BITMAP;
    description.bmp.hbitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    ASSERT_EQ(S_OK, OleCreatePictureIndirect(&description, IID_IPictureDisp, TRUE,
                                             reinterpret_cast<void**>(picture.GetAddressOf())));
    EXPECT_EQ(S_OK, button->put_Picture(picture.Get()));
    ComPtr<IPictureDisp> back;
    EXPECT_EQ(S_OK, button->get_Picture(back.GetAddressOf()));
    EXPECT_EQ(picture.Get(), back.Get());

    m_bars.Reset();
    bar.Reset();
    button.Reset();
    olhost::HostOptions outlook2000;
    outlook2000.version = L"9.0.0.3821";
    ASSERT_EQ(S_OK, StartHost(outlook2000));
    m_bars = Bars();
    bar = AddBar(L"Old", true);
    button = AddButton(bar.Get(), L"OLD", true);
    EXPECT_EQ(E_NOTIMPL, button->put_Picture(picture.Get()));
    EXPECT_EQ(E_NOTIMPL, button->put_Mask(picture.Get()));
}

TEST_F(CommandBarsTest, ControlsAreAddedWhereAskedAndRefusedOtherwise)
{
    ComPtr<office::CommandBar> bar = AddBar(L"Places", true);
    ComPtr<office::CommandBarControls> controls;
    ASSERT_EQ(S_OK, bar->get_Controls(controls.GetAddressOf()));
    AddButton(bar.Get(), L"SECOND", true);
    AddButton(bar.Get(), L"FIRST", true, Long(1));
    AddButton(bar.Get(), L"THIRD", false, Long(3));
    ComPtr<office::CommandBarControl> control;
    struct Refusal {
        const char* what;
        VARIANT type, id, before;
        HRESULT expected;
    };
    const Refusal refusals[] = {
        {"before past the end", Long(office::msoControlButton), Missing(), Long(5), E_INVALIDARG},
        {"before zero", Long(office::msoControlButton), Missing(), Long(0), E_INVALIDARG},
        {"a pop-up", Long(office::msoControlPopup), Missing(), Missing(), E_NOTIMPL},
        {"an unknown command", Long(office::msoControlButton), Long(999999), Missing(), E_INVALIDARG},
    };
    for (const Refusal& r : refusals)
        EXPECT_EQ(r.expected, controls->Add(r.type, r.id, Missing(), r.before, Missing(), control.ReleaseAndGetAddressOf()))
            << r.what;
    // A built-in command by its identifier, with a parameter.
    CText parameter(L"P");
    ASSERT_EQ(S_OK, controls->Add(Missing(), Long(4), parameter.Value(), Missing(), Missing(),
                                  control.ReleaseAndGetAddressOf()));
    auto snapshot = FindBar(m_host->Bars(), L"Places");
    ASSERT_TRUE(snapshot);
    ASSERT_EQ(4u, snapshot->controls.size());
    EXPECT_EQ(L"FIRST", snapshot->controls[0].tag);
    EXPECT_EQ(L"SECOND", snapshot->controls[1].tag);
    EXPECT_EQ(L"THIRD", snapshot->controls[2].tag);
    EXPECT_FALSE(snapshot->controls[2].temporary);
    EXPECT_TRUE(snapshot->controls[3].builtIn);
    EXPECT_EQ(4, snapshot->controls[3].id);
    EXPECT_EQ(L"P", snapshot->controls[3].parameter);
    EXPECT_EQ(L"&Print...", snapshot->controls[3].caption);
}

TEST_F(CommandBarsTest, FindControlMatchesEveryGivenCriterion)
{
    ComPtr<office::CommandBar> shown = AddBar(L"Shown", true);
    ComPtr<office::CommandBar> hidden = AddBar(L"Hidden", true);
    ASSERT_EQ(S_OK, shown->put_Visible(VARIANT_TRUE));
    ComPtr<office::_CommandBarButton> visibleButton = AddButton(shown.Get(), L"FIND", true);
    ComPtr<office::_CommandBarButton> hiddenButton = AddButton(shown.Get(), L"GHOST", true);
    ASSERT_EQ(S_OK, hiddenButton->put_Visible(VARIANT_FALSE));
    AddButton(hidden.Get(), L"ELSEWHERE", true);
    CText find(L"FIND"), ghost(L"GHOST"), elsewhere(L"ELSEWHERE"), nothing(L"NOTHING");
    struct Case {
        const char* what;
        office::CommandBar* bar; // null: the whole collection
        VARIANT type, id, tag, visible;
        bool found;
    };
    const Case cases[] = {
        {"tag", shown.Get(), Missing(), Missing(), find.Value(), Missing(), true},
        {"no such tag", shown.Get(), Missing(), Missing(), nothing.Value(), Missing(), false},
        {"hidden control, any", shown.Get(), Missing(), Missing(), ghost.Value(), Missing(), true},
        {"hidden control, visible only", shown.Get(), Missing(), Missing(), ghost.Value(), Bool(true), false},
        {"type and id", shown.Get(), Long(office::msoControlButton), Long(1), find.Value(), Missing(), true},
        {"wrong id", shown.Get(), Missing(), Long(4), find.Value(), Missing(), false},
        {"other bar's tag", shown.Get(), Missing(), Missing(), elsewhere.Value(), Missing(), false},
        {"collection, hidden bar", nullptr, Missing(), Missing(), elsewhere.Value(), Missing(), true},
        {"collection, hidden bar, visible only", nullptr, Missing(), Missing(), elsewhere.Value(), Bool(true), false},
        {"collection, built-in id", nullptr, Missing(), Long(478), Missing(), Missing(), true},
    };
    // One control is one object, however it is found.
    ComPtr<office::CommandBarControl> again;
    ComPtr<IUnknown> first, second;
    ASSERT_EQ(S_OK, shown->FindControl(Missing(), Missing(), find.Value(), Missing(), Missing(), again.GetAddressOf()));
    ASSERT_EQ(S_OK, again.As(&first));
    ASSERT_EQ(S_OK, visibleButton.As(&second));
    EXPECT_EQ(first.Get(), second.Get());
    for (const Case& c : cases) {
        ComPtr<office::CommandBarControl> control;
        HRESULT hr = c.bar ? c.bar->FindControl(c.type, c.id, c.tag, c.visible, Missing(), control.GetAddressOf())
                           : m_bars->FindControl(c.type, c.id, c.tag, c.visible, control.GetAddressOf());
        EXPECT_EQ(S_OK, hr) << c.what;
        EXPECT_EQ(c.found, control != nullptr) << c.what;
    }
}

TEST_F(CommandBarsTest, DeletedBarsAndControlsAnswerNoMore)
{
    ComPtr<office::CommandBar> bar = AddBar(L"Doomed", true);
    ComPtr<office::_CommandBarButton> first = AddButton(bar.Get(), L"ONE", true);
    ComPtr<office::_CommandBarButton> second = AddButton(bar.Get(), L"TWO", true);
    int index = 0;
    ASSERT_EQ(S_OK, second->get_Index(&index));
    EXPECT_EQ(2, index);
    ASSERT_EQ(S_OK, first->Delete(Missing()));
    ASSERT_EQ(S_OK, second->get_Index(&index));
    EXPECT_EQ(1, index); // later controls move up
    BSTR tag = nullptr;
    EXPECT_EQ(E_FAIL, first->get_Tag(&tag));
    EXPECT_EQ(E_FAIL, first->Delete(Missing()));

    int before = 0, after = 0;
    ASSERT_EQ(S_OK, m_bars->get_Count(&before));
    ASSERT_EQ(S_OK, bar->Delete());
    ASSERT_EQ(S_OK, m_bars->get_Count(&after));
    EXPECT_EQ(before - 1, after);
    ComPtr<office::CommandBarControls> controls;
    EXPECT_EQ(E_FAIL, bar->get_Controls(controls.GetAddressOf()));
    EXPECT_EQ(E_FAIL, second->get_Tag(&tag));
    EXPECT_EQ(E_FAIL, bar->Delete());
    // The name is free again.
    EXPECT_TRUE(AddBar(L"Doomed", false));
}

TEST_F(CommandBarsTest, PasteFaceNeedsABitmapOnTheClipboard)
{
    ComPtr<office::CommandBar> bar = AddBar(L"Faces", true);
    ComPtr<office::_CommandBarButton> button = AddButton(bar.Get(), L"FACE", true);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    EXPECT_EQ(E_FAIL, button->PasteFace());

    HDC screen = GetDC(nullptr);
    HBITMAP face = CreateCompatibleBitmap(screen, 20, 18);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, face);
    RECT rect = {0, 0, 20, 18};
    HBRUSH brush = CreateSolidBrush(RGB(10, 200, 30));
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    SetClipboardData(CF_BITMAP, face);
    CloseClipboard();
    ASSERT_EQ(S_OK, button->PasteFace());
    const olhost::ControlSnapshot control = FindBar(m_host->Bars(), L"Faces")->controls.at(0);
    ASSERT_EQ(20, control.pastedFace.width);
    ASSERT_EQ(18, control.pastedFace.height);
    EXPECT_EQ(0x0AC81Eu, control.pastedFace.pixels[0] & 0xFFFFFF);
    EXPECT_EQ(0, control.faceId);
}

// A Click sink of the test's own.
class CClickSink final : public common::CUnknownImpl<CClickSink, IDispatch> {
public:
    static ComPtr<CClickSink> Make(bool cancel)
    {
        ComPtr<CClickSink> sink;
        *sink.GetAddressOf() = new CClickSink(cancel); // its first reference, taken over
        return sink;
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv && IsEqualIID(riid, __uuidof(office::_CommandBarButtonEvents))) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return CUnknownImpl::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (id == office::dispid::ButtonEventClick && params->cArgs == 2 && params->rgvarg[0].vt == (VT_BOOL | VT_BYREF)) {
            ++clicks;
            if (m_cancel)
                *params->rgvarg[0].pboolVal = VARIANT_TRUE;
        }
        return S_OK;
    }
    int clicks = 0;

private:
    friend class common::CUnknownImpl<CClickSink, IDispatch>;
    explicit CClickSink(bool cancel) : m_cancel(cancel) {}
    bool m_cancel;
};

DWORD AdviseClick(IUnknown* button, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    EXPECT_EQ(S_OK, button->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(container.GetAddressOf())));
    EXPECT_EQ(S_OK, container->FindConnectionPoint(__uuidof(office::_CommandBarButtonEvents), point.GetAddressOf()));
    EXPECT_EQ(S_OK, point->Advise(sink, &cookie));
    return cookie;
}

TEST_F(CommandBarsTest, ClickReachesTheAddInOnlyWhenTheUserCanClick)
{
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kTestAddInProgId, extensibility::ext_cm_Startup));
    bool cancelled = true;
    ASSERT_EQ(S_OK, m_host->ClickButton(m_script->barName, m_script->buttonTag, &cancelled));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(1, m_script->clicks);
    EXPECT_TRUE(m_script->clickArgumentsAsDocumented);
    EXPECT_TRUE(m_script->clickCtrlIsTheAdvisedButton);
    ComPtr<IUnknown> session;
    m_host->Session()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(session.GetAddressOf()));
    EXPECT_EQ(session.Get(), m_script->clickSession);

    CText name(m_script->barName), tag(m_script->buttonTag);
    ComPtr<office::CommandBar> bar;
    ASSERT_EQ(S_OK, m_bars->get_Item(name.Value(), bar.GetAddressOf()));
    ComPtr<office::CommandBarControl> button;
    ASSERT_EQ(S_OK, bar->FindControl(Missing(), Missing(), tag.Value(), Missing(), Missing(), button.GetAddressOf()));
    struct Case {
        const char* what;
        HRESULT (*hide)(office::CommandBar*, office::CommandBarControl*);
        HRESULT (*show)(office::CommandBar*, office::CommandBarControl*);
    };
    const Case cases[] = {
        {"hidden button", [](office::CommandBar*, office::CommandBarControl* b) { return b->put_Visible(VARIANT_FALSE); },
         [](office::CommandBar*, office::CommandBarControl* b) { return b->put_Visible(VARIANT_TRUE); }},
        {"disabled button", [](office::CommandBar*, office::CommandBarControl* b) { return b->put_Enabled(VARIANT_FALSE); },
         [](office::CommandBar*, office::CommandBarControl* b) { return b->put_Enabled(VARIANT_TRUE); }},
        {"hidden bar", [](office::CommandBar* r, office::CommandBarControl*) { return r->put_Visible(VARIANT_FALSE); },
         [](office::CommandBar* r, office::CommandBarControl*) { return r->put_Visible(VARIANT_TRUE); }},
        {"disabled bar", [](office::CommandBar* r, office::CommandBarControl*) { return r->put_Enabled(VARIANT_FALSE); },
         [](office::CommandBar* r, office::CommandBarControl*) { return r->put_Enabled(VARIANT_TRUE); }},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(S_OK, c.hide(bar.Get(), button.Get())) << c.what;
        EXPECT_EQ(E_ACCESSDENIED, m_host->ClickButton(m_script->barName, m_script->buttonTag)) << c.what;
        ASSERT_EQ(S_OK, c.show(bar.Get(), button.Get())) << c.what;
    }
    EXPECT_EQ(1, m_script->clicks);
    // Execute runs a custom button's action: its Click.
    ASSERT_EQ(S_OK, button->Execute());
    EXPECT_EQ(2, m_script->clicks);
    EXPECT_EQ(E_INVALIDARG, m_host->ClickButton(m_script->barName, L"NO_SUCH_TAG"));
}

TEST_F(CommandBarsTest, CancelDefaultStopsABuiltInButtonsOwnAction)
{
    CText standard(L"Standard");
    ComPtr<office::CommandBar> bar;
    ASSERT_EQ(S_OK, m_bars->get_Item(standard.Value(), bar.GetAddressOf()));
    ComPtr<office::CommandBarControl> newButton;
    ASSERT_EQ(S_OK, bar->FindControl(Missing(), Long(1836), Missing(), Missing(), Missing(), newButton.GetAddressOf()));
    CText tag(L"WATCHED");
    ASSERT_EQ(S_OK, newButton->put_Tag(tag.Bstr()));
    for (bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
        ComPtr<CClickSink> sink = CClickSink::Make(cancel);
        auto references = [&sink] {
            sink->AddRef();
            return sink->Release();
        };
        const ULONG held = references();
        DWORD cookie = AdviseClick(newButton.Get(), static_cast<IDispatch*>(sink.Get()));
        int before = FindBar(m_host->Bars(), L"Standard")->controls[0].defaultActions;
        bool cancelled = !cancel;
        ASSERT_EQ(S_OK, m_host->ClickButton(L"Standard", L"WATCHED", &cancelled));
        EXPECT_EQ(cancel, cancelled);
        EXPECT_EQ(1, sink->clicks);
        EXPECT_EQ(before + (cancel ? 0 : 1), FindBar(m_host->Bars(), L"Standard")->controls[0].defaultActions);
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(S_OK, newButton.As(&container));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(__uuidof(office::_CommandBarButtonEvents), point.GetAddressOf()));
        ASSERT_EQ(S_OK, point->Unadvise(cookie));
        EXPECT_EQ(held, references()); // the button no longer holds the sink
        ASSERT_EQ(S_OK, m_host->ClickButton(L"Standard", L"WATCHED"));
        EXPECT_EQ(1, sink->clicks); // no longer advised
    }
}

TEST_F(CommandBarsTest, CustomizationOutlivesOutlookUnlessTemporary)
{
    ComPtr<office::CommandBar> kept = AddBar(L"Kept", false);
    AddButton(kept.Get(), L"KEPT_BUTTON", false);
    AddButton(kept.Get(), L"GONE_BUTTON", true);
    AddBar(L"Gone", true);
    ASSERT_EQ(S_OK, kept->put_Visible(VARIANT_TRUE));
    ASSERT_EQ(S_OK, kept->put_RowIndex(3));
    kept.Reset();
    m_bars.Reset();
    ASSERT_EQ(S_OK, m_host->CloseExplorer());

    ASSERT_EQ(S_OK, StartHost());
    auto bars = m_host->Bars();
    EXPECT_FALSE(FindBar(bars, L"Gone"));
    auto restored = FindBar(bars, L"Kept");
    ASSERT_TRUE(restored);
    EXPECT_TRUE(restored->visible);
    EXPECT_EQ(3, restored->rowIndex);
    ASSERT_EQ(1u, restored->controls.size());
    EXPECT_EQ(L"KEPT_BUTTON", restored->controls[0].tag);
    // The kept bar's name is taken in the new Explorer too.
    m_bars = Bars();
    CText name(L"Kept");
    ComPtr<office::CommandBar> duplicate;
    EXPECT_EQ(E_INVALIDARG, m_bars->Add(name.Value(), Missing(), Missing(), Bool(true), duplicate.GetAddressOf()));

    m_bars.Reset();
    m_host.reset();
    olhost::COutlookHost::ForgetCustomizations();
    ASSERT_EQ(S_OK, StartHost());
    EXPECT_FALSE(FindBar(m_host->Bars(), L"Kept"));
}

} // namespace
} // namespace olhosttest
