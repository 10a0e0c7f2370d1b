// The stand-in Outlook driven as the product's tests will drive it: add-ins
// through their life as Outlook's add-in manager runs it, the NameSpace and
// its folders, late-bound calls, connection points, and the folder Properties
// dialog hosting an add-in's ActiveX page.
#include "Platform.h"
#include "HostTestFixture.h"

#include "CMapiFolder.h"
#include "CUnknownImpl.h"

#include <olectl.h>

#include <vector>

namespace olhosttest {
namespace {

using extensibility::ext_cm_AfterStartup;
using extensibility::ext_cm_Startup;
using olhost::AddInCall;

std::vector<std::wstring> Methods(const std::vector<AddInCall>& calls)
{
    std::vector<std::wstring> methods;
    for (const auto& call : calls)
        methods.push_back(call.method);
    return methods;
}

TEST_F(HostTest, RegisteredAddInRunsFromStartupToTheExplorersClose)
{
    RegisterAddIn(3);
    ASSERT_EQ(S_OK, StartHost());
    ASSERT_EQ(S_OK, m_host->LoadRegisteredAddIns());
    auto calls = m_host->Calls(kTestAddInProgId);
    ASSERT_EQ((std::vector<std::wstring>{L"OnConnection", L"OnAddInsUpdate", L"OnStartupComplete"}), Methods(calls));
    EXPECT_EQ(ext_cm_Startup, calls[0].mode);
    EXPECT_EQ(S_OK, calls[0].result);
    EXPECT_EQ(E_NOTIMPL, calls[2].result);
    EXPECT_STREQ(L"11.0.8217", m_script->version);
    EXPECT_EQ(S_OK, m_script->toolbarResult);
    EXPECT_EQ(1u, m_host->ExplorerSinkCount());
    EXPECT_EQ(1u, m_host->NameSpaceSinkCount());

    ASSERT_EQ(S_OK, m_host->CloseExplorer());
    EXPECT_EQ(1, m_script->explorerCloses);
    EXPECT_EQ(S_OK, m_script->closeResult);
    EXPECT_EQ(1, m_script->deletedControls);
    calls = m_host->Calls(kTestAddInProgId);
    ASSERT_EQ((std::vector<std::wstring>{L"OnConnection", L"OnAddInsUpdate", L"OnStartupComplete", L"OnBeginShutdown",
                                         L"OnDisconnection"}),
              Methods(calls));
    EXPECT_EQ(extensibility::ext_dm_HostShutdown, calls[4].mode);
    EXPECT_FALSE(m_host->IsConnected(kTestAddInProgId));
    EXPECT_FALSE(m_host->HasExplorer());
    EXPECT_EQ(nullptr, m_host->Application());

    // The next start-up finds neither the temporary bar nor the button.
    ASSERT_EQ(S_OK, StartHost());
    auto bars = m_host->Bars();
    EXPECT_FALSE(FindBar(bars, m_script->barName));
    for (const auto& bar : bars) {
        for (const auto& control : bar.controls)
            EXPECT_NE(std::wstring(m_script->buttonTag), control.tag);
    }
}

TEST_F(HostTest, LoadBehaviorDecidesAndAFailedConnectionStopsLoading)
{
    struct Case {
        DWORD loadBehavior;
        bool failConnection;
        std::vector<std::wstring> calls;
        DWORD loadBehaviorAfter;
    };
    const Case cases[] = {
        {3, false, {L"OnConnection", L"OnAddInsUpdate", L"OnStartupComplete"}, 3},
        {2, false, {}, 2},
        {0, false, {}, 0},
        {3, true, {L"OnConnection"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "LoadBehavior " << c.loadBehavior << (c.failConnection ? ", failing" : ""));
        *m_script = TestAddInScript();
        m_script->failConnection = c.failConnection;
        RegisterAddIn(c.loadBehavior);
        ASSERT_EQ(S_OK, StartHost());
        ASSERT_EQ(S_OK, m_host->LoadRegisteredAddIns());
        EXPECT_EQ(c.calls, Methods(m_host->Calls(kTestAddInProgId)));
        EXPECT_EQ(c.loadBehaviorAfter, LoadBehavior());
        ASSERT_EQ(S_OK, m_host->Shutdown());
        // A failed add-in hears nothing of the shutdown.
        EXPECT_EQ(c.calls.empty() || c.failConnection ? 0 : 1, m_script->beginShutdowns);
        m_host.reset();
    }
}

TEST_F(HostTest, AddInConnectedLaterIsUpdatedAndUnloadedByTheUser)
{
    ASSERT_EQ(S_OK, StartHost());
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kTestAddInProgId, ext_cm_AfterStartup));
    EXPECT_EQ(S_FALSE, m_host->ConnectAddIn(kTestAddInProgId, ext_cm_AfterStartup));
    EXPECT_EQ(ext_cm_AfterStartup, m_script->connectMode);
    auto bar = FindBar(m_host->Bars(), m_script->barName);
    ASSERT_TRUE(bar);
    ASSERT_EQ(1u, bar->controls.size());
    EXPECT_EQ(1u, bar->controls[0].clickSinks);

    ASSERT_EQ(S_OK, m_host->UnloadAddIn(kTestAddInProgId));
    auto calls = m_host->Calls(kTestAddInProgId);
    ASSERT_EQ((std::vector<std::wstring>{L"OnConnection", L"OnAddInsUpdate", L"OnDisconnection"}), Methods(calls));
    EXPECT_EQ(extensibility::ext_dm_UserClosed, calls[2].mode);
    EXPECT_EQ(0u, m_host->ExplorerSinkCount());
    EXPECT_EQ(0u, m_host->NameSpaceSinkCount());
    EXPECT_EQ(0u, FindBar(m_host->Bars(), m_script->barName)->controls[0].clickSinks);
    ASSERT_EQ(S_OK, m_host->Shutdown());
    EXPECT_EQ(3u, m_host->Calls(kTestAddInProgId).size());
}

TEST_F(HostTest, WithoutAnExplorerThereIsNoActiveExplorerAndNoBar)
{
    olhost::HostOptions options;
    options.withExplorer = false;
    ASSERT_EQ(S_OK, StartHost(options));
    ComPtr<outlook::_Explorer> explorer;
    EXPECT_EQ(S_OK, m_host->Application()->ActiveExplorer(explorer.GetAddressOf()));
    EXPECT_EQ(nullptr, explorer.Get());
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kTestAddInProgId, ext_cm_Startup));
    EXPECT_EQ(1, m_script->connections);
    EXPECT_TRUE(m_host->Bars().empty());
    EXPECT_EQ(E_FAIL, m_host->CloseExplorer());
}

TEST_F(HostTest, FaceComesFromTheClipboardForOutlook2000AndFromPicturesLater)
{
    struct Case {
        const wchar_t* version;
        bool pasted;
    };
    for (const Case& c : {Case{L"9.0.0.2711", true}, Case{L"", true}, Case{L"10.0.2627", false}, Case{L"11.0.8217", false}}) {
        SCOPED_TRACE(testing::Message() << "version \"" << std::string(c.version, c.version + wcslen(c.version)) << "\"");
        *m_script = TestAddInScript();
        olhost::HostOptions options;
        options.version = c.version;
        ASSERT_EQ(S_OK, StartHost(options));
        ASSERT_EQ(S_OK, m_host->ConnectAddIn(kTestAddInProgId, ext_cm_Startup));
        EXPECT_EQ(c.pasted, m_script->pastedFace);
        EXPECT_EQ(S_OK, m_script->faceResult);
        auto bar = FindBar(m_host->Bars(), m_script->barName);
        ASSERT_TRUE(bar);
        const olhost::ControlSnapshot& button = bar->controls.at(0);
        EXPECT_EQ(office::msoButtonIconAndCaption, button.style);
        EXPECT_EQ(1, button.priority);
        EXPECT_TRUE(button.beginGroup);
        EXPECT_EQ(std::wstring(m_script->tooltip), button.tooltip);
        if (c.pasted) {
            ASSERT_EQ(16, button.pastedFace.width);
            ASSERT_EQ(16, button.pastedFace.height);
            EXPECT_EQ(0x0080FFu, button.pastedFace.pixels[0] & 0xFFFFFF); // RGB(0,128,255) read as BGRA
            EXPECT_EQ(nullptr, button.picture.Get());
        } else {
            EXPECT_TRUE(button.pastedFace.pixels.empty());
            EXPECT_NE(nullptr, button.picture.Get());
            EXPECT_NE(nullptr, button.mask.Get());
        }
        m_host.reset();
    }
}

TEST_F(HostTest, NameSpaceServesTheSessionAndEachStoresTopFolder)
{
    ASSERT_EQ(S_OK, StartHost());
    outlook::_Application* app = m_host->Application();
    ComPtr<outlook::_NameSpace> session, mapi;
    ASSERT_EQ(S_OK, app->get_Session(session.GetAddressOf()));
    CText mapiName(L"mapi"), other(L"Other");
    ASSERT_EQ(S_OK, app->GetNamespace(mapiName.Bstr(), mapi.GetAddressOf()));
    EXPECT_EQ(session.Get(), mapi.Get());
    ComPtr<outlook::_NameSpace> none;
    EXPECT_EQ(E_INVALIDARG, app->GetNamespace(other.Bstr(), none.GetAddressOf()));

    ComPtr<IUnknown> mapiObject, hostSession;
    ASSERT_EQ(S_OK, session->get_MAPIOBJECT(mapiObject.GetAddressOf()));
    ASSERT_EQ(S_OK, m_host->Session()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(hostSession.GetAddressOf())));
    EXPECT_EQ(hostSession.Get(), mapiObject.Get());

    // The store's own view of its IPM subtree and entry identifier.
    ComPtr<IMAPITable> stores;
    ASSERT_EQ(S_OK, m_host->Session()->GetMsgStoresTable(MAPI_UNICODE, stores.GetAddressOf()));
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
    ASSERT_EQ(S_OK, HrQueryAllRows(stores.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows));
    ASSERT_EQ(1u, rows->cRows);
    std::vector<BYTE> storeId(rows->aRow[0].lpProps[0].Value.bin.lpb,
                              rows->aRow[0].lpProps[0].Value.bin.lpb + rows->aRow[0].lpProps[0].Value.bin.cb);
    std::wstring storeName = rows->aRow[0].lpProps[1].Value.lpszW;
    FreeProws(rows);
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, m_host->Session()->OpenMsgStore(0, static_cast<ULONG>(storeId.size()),
                                                     reinterpret_cast<LPENTRYID>(storeId.data()), nullptr,
                                                     MDB_NO_DIALOG | MDB_WRITE, store.GetAddressOf()));
    LPSPropValue subtree = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(store.Get(), PR_IPM_SUBTREE_ENTRYID, &subtree));
    std::vector<BYTE> subtreeId(subtree->Value.bin.lpb, subtree->Value.bin.lpb + subtree->Value.bin.cb);
    ComPtr<IMAPIFolder> top;
    ULONG type = 0;
    ASSERT_EQ(S_OK, store->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb),
                                     &IID_IMAPIFolder, MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(top.GetAddressOf())));
    MAPIFreeBuffer(subtree);
    ComPtr<IMAPIFolder> inbox;
    ASSERT_EQ(S_OK, top->CreateFolder(FOLDER_GENERIC, W(L"Inbox"), nullptr, nullptr, MAPI_UNICODE, inbox.GetAddressOf()));

    ComPtr<outlook::_Folders> folders;
    ASSERT_EQ(S_OK, session->get_Folders(folders.GetAddressOf()));
    long count = 0;
    ASSERT_EQ(S_OK, folders->get_Count(&count));
    ASSERT_EQ(1, count);
    ComPtr<outlook::MAPIFolder> folder;
    ASSERT_EQ(S_OK, folders->Item(Long(1), folder.GetAddressOf()));
    BSTR text = nullptr;
    ASSERT_EQ(S_OK, folder->get_EntryID(&text));
    EXPECT_EQ(olhost::ToHex(subtreeId), Take(text));
    ASSERT_EQ(S_OK, folder->get_StoreID(&text));
    EXPECT_EQ(olhost::ToHex(storeId), Take(text));
    ASSERT_EQ(S_OK, folder->get_Name(&text));
    EXPECT_EQ(storeName, Take(text));
    EXPECT_EQ(E_INVALIDARG, folders->Item(Long(2), folder.ReleaseAndGetAddressOf()));

    ComPtr<outlook::MAPIFolder> found;
    ASSERT_EQ(S_OK, m_host->FindFolder(storeName + L"\\Inbox", &found));
    ASSERT_EQ(S_OK, found->get_Name(&text));
    EXPECT_EQ(L"Inbox", Take(text));
    ASSERT_EQ(S_OK, found->get_EntryID(&text));
    CText inboxHex(Take(text).c_str());
    ComPtr<outlook::MAPIFolder> again;
    ASSERT_EQ(S_OK, session->GetFolderFromID(inboxHex.Bstr(), Missing(), again.GetAddressOf()));
    ASSERT_EQ(S_OK, again->get_Name(&text));
    EXPECT_EQ(L"Inbox", Take(text));
    EXPECT_TRUE(FAILED(m_host->FindFolder(storeName + L"\\Nowhere", &found)));
}

// Late-bound callers reach the members vtable callers reach, under the
// documented names and dispatch identifiers.
HRESULT InvokeByName(IDispatch* object, const wchar_t* name, DISPID expected, WORD flags, VARIANT* args, UINT count,
                     VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    if (!object) {
        ADD_FAILURE() << "no object for " << std::string(name, name + wcslen(name));
        return E_POINTER;
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    EXPECT_EQ(expected, id) << std::string(name, name + wcslen(name));
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{args, flags == DISPATCH_PROPERTYPUT ? &put : nullptr, count,
                      flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

TEST_F(HostTest, LateBoundCallsUseTheDocumentedIdentifiers)
{
    ASSERT_EQ(S_OK, StartHost());
    outlook::_Application* app = m_host->Application();
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, InvokeByName(app, L"Version", outlook::dispid::Version, DISPATCH_PROPERTYGET, nullptr, 0, &result));
    EXPECT_EQ(VT_BSTR, result.vt);
    EXPECT_EQ(L"11.0.8217", std::wstring(result.bstrVal));
    VariantClear(&result);

    CText mapi(L"MAPI");
    VARIANT arg = mapi.Value();
    ASSERT_EQ(S_OK, InvokeByName(app, L"GetNamespace", outlook::dispid::GetNamespace, DISPATCH_METHOD, &arg, 1, &result));
    ASSERT_EQ(VT_DISPATCH, result.vt);
    ComPtr<IDispatch> ns;
    *ns.GetAddressOf() = result.pdispVal;
    VariantInit(&result);
    ASSERT_EQ(S_OK, InvokeByName(ns.Get(), L"MAPIOBJECT", outlook::dispid::MAPIOBJECT, DISPATCH_PROPERTYGET, nullptr, 0,
                                 &result));
    EXPECT_EQ(VT_UNKNOWN, result.vt);
    VariantClear(&result);

    ASSERT_EQ(S_OK, InvokeByName(app, L"ActiveExplorer", outlook::dispid::ActiveExplorer,
                                 DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, 0, &result));
    ComPtr<IDispatch> explorer;
    *explorer.GetAddressOf() = result.pdispVal;
    VariantInit(&result);
    ASSERT_EQ(S_OK, InvokeByName(explorer.Get(), L"CommandBars", outlook::dispid::CommandBars, DISPATCH_PROPERTYGET,
                                 nullptr, 0, &result));
    ComPtr<IDispatch> bars;
    *bars.GetAddressOf() = result.pdispVal;
    VariantInit(&result);
    ASSERT_EQ(S_OK, InvokeByName(bars.Get(), L"Count", office::dispid::BarsCount, DISPATCH_PROPERTYGET, nullptr, 0, &result));
    EXPECT_EQ(4, result.lVal);

    // Add(Name, Position, MenuBar, Temporary): arguments travel last first.
    CText name(L"Late");
    VARIANT addArgs[] = {Bool(true), Missing(), Long(office::msoBarTop), name.Value()};
    ASSERT_EQ(S_OK, InvokeByName(bars.Get(), L"Add", office::dispid::BarsAdd, DISPATCH_METHOD, addArgs, 4, &result));
    ComPtr<IDispatch> bar;
    *bar.GetAddressOf() = result.pdispVal;
    VariantInit(&result);
    VARIANT visible = Bool(true);
    ASSERT_EQ(S_OK, InvokeByName(bar.Get(), L"Visible", office::dispid::BarVisible, DISPATCH_PROPERTYPUT, &visible, 1,
                                 nullptr));
    VARIANT controlArgs[] = {Bool(true), Missing(), Missing(), Missing(), Long(office::msoControlButton)};
    ComPtr<office::CommandBar> typedBar;
    ASSERT_EQ(S_OK, bar.As(&typedBar));
    ComPtr<office::CommandBarControls> controls;
    ASSERT_EQ(S_OK, typedBar->get_Controls(controls.GetAddressOf()));
    ASSERT_EQ(S_OK, InvokeByName(controls.Get(), L"Add", office::dispid::ControlsAdd, DISPATCH_METHOD, controlArgs, 5,
                                 &result));
    ComPtr<IDispatch> button;
    *button.GetAddressOf() = result.pdispVal;
    VariantInit(&result);
    CText tag(L"LATE_TAG");
    VARIANT tagArg = tag.Value();
    ASSERT_EQ(S_OK, InvokeByName(button.Get(), L"Tag", office::dispid::ControlTag, DISPATCH_PROPERTYPUT, &tagArg, 1,
                                 nullptr));
    auto snapshot = FindBar(m_host->Bars(), L"Late");
    ASSERT_TRUE(snapshot);
    EXPECT_TRUE(snapshot->visible);
    EXPECT_TRUE(snapshot->temporary);
    ASSERT_EQ(1u, snapshot->controls.size());
    EXPECT_EQ(L"LATE_TAG", snapshot->controls[0].tag);

    DISPID unknown = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    EXPECT_EQ(DISP_E_UNKNOWNNAME, app->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &unknown));
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              app->Invoke(12345, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
}

// A sink that answers IDispatch but not the event interface.
class CPlainDispatch final : public common::CUnknownImpl<CPlainDispatch, IDispatch> {
public:
    static ComPtr<IDispatch> Make()
    {
        ComPtr<IDispatch> out;
        CreateInstance(IID_IDispatch, reinterpret_cast<void**>(out.GetAddressOf()));
        return out;
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

private:
    friend class common::CUnknownImpl<CPlainDispatch, IDispatch>;
    CPlainDispatch() = default;
};

TEST_F(HostTest, ConnectionPointsServeOnlyTheirEventInterface)
{
    ASSERT_EQ(S_OK, StartHost());
    ComPtr<outlook::_Explorer> explorer;
    ASSERT_EQ(S_OK, m_host->Application()->ActiveExplorer(explorer.GetAddressOf()));
    ComPtr<outlook::_NameSpace> ns;
    ASSERT_EQ(S_OK, m_host->Application()->get_Session(ns.GetAddressOf()));
    struct Source {
        IUnknown* object;
        IID events;
    };
    for (const Source& source : {Source{explorer.Get(), __uuidof(outlook::ExplorerEvents)},
                                 Source{ns.Get(), __uuidof(outlook::NameSpaceEvents)}}) {
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, source.object->QueryInterface(IID_IConnectionPointContainer,
                                                      reinterpret_cast<void**>(container.GetAddressOf())));
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IDispatch, point.GetAddressOf()));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(source.events, point.GetAddressOf()));
        IID iid{};
        EXPECT_EQ(S_OK, point->GetConnectionInterface(&iid));
        EXPECT_TRUE(IsEqualIID(source.events, iid));
        DWORD cookie = 0;
        EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point->Advise(CPlainDispatch::Make().Get(), &cookie));
        EXPECT_EQ(0u, cookie);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(12345));
        ComPtr<IConnectionPointContainer> back;
        EXPECT_EQ(S_OK, point->GetConnectionPointContainer(back.GetAddressOf()));
    }
}

class PropertiesTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        ASSERT_EQ(S_OK, StartHost());
        m_top = TopFolder();
        ASSERT_TRUE(m_top);
        BSTR id = nullptr;
        ASSERT_EQ(S_OK, m_top->get_EntryID(&id));
        wcsncpy(m_script->pageFolderEntryId, Take(id).c_str(), 511);
        ASSERT_EQ(S_OK, m_host->ConnectAddIn(kTestAddInProgId, extensibility::ext_cm_Startup));
    }
    void TearDown() override
    {
        m_dialog.reset();
        m_top.Reset();
        HostTest::TearDown();
    }

    void ClickCheckBox()
    {
        HWND control = m_dialog->ControlWindow(m_script->pageTitle);
        ASSERT_NE(nullptr, control);
        SendMessageW(GetDlgItem(control, kTestCheckBoxId), BM_CLICK, 0, 0);
        m_dialog->PumpMessages();
    }

    ComPtr<outlook::MAPIFolder> m_top;
    std::unique_ptr<olhost::CFolderPropertiesDialog> m_dialog;
};

TEST_F(PropertiesTest, PageIsOfferedThroughOptionsPagesAddAndHostedAsAControl)
{
    std::vector<olhost::PageEntry> pages;
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(m_top.Get(), m_script->pageTitle, &m_dialog, &pages));
    EXPECT_EQ(1, m_script->pagesAddEvents);
    EXPECT_TRUE(m_script->pagesArgumentsAsDocumented);
    EXPECT_EQ(S_OK, m_script->pageAddResult);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ(kTestPageProgId, pages[0].progId);
    EXPECT_EQ((std::vector<std::wstring>{L"General", m_script->pageTitle}), m_dialog->PageTitles());

    const olhost::PageRecord* record = m_dialog->Record(m_script->pageTitle);
    ASSERT_NE(nullptr, record);
    EXPECT_TRUE(record->shown);
    EXPECT_EQ(S_OK, record->createResult);
    EXPECT_TRUE(record->hasPropertyPage);
    EXPECT_EQ(S_OK, record->pageInfoResult);
    EXPECT_EQ(L"VostrelTest.chm", record->helpFile);
    EXPECT_EQ(42, record->helpContext);
    EXPECT_TRUE(m_script->siteSetBeforeInitNew);
    EXPECT_TRUE(m_script->initNewCalled);
    EXPECT_TRUE(m_script->foundPageSite);
    EXPECT_EQ(OLEIVERB_INPLACEACTIVATE, m_script->verb);
    HWND control = m_dialog->ControlWindow(m_script->pageTitle);
    ASSERT_NE(nullptr, control);
    EXPECT_TRUE(IsChild(m_dialog->Window(), control));
    EXPECT_FALSE(m_dialog->IsApplyEnabled());
    EXPECT_EQ(S_FALSE, m_dialog->PressApply());
    EXPECT_EQ(0, m_script->applyCalls);

    // A change makes the page dirty, the site tells the dialog, Apply lights up.
    ClickCheckBox();
    EXPECT_EQ(1, record->statusChanges);
    EXPECT_TRUE(record->dirty);
    EXPECT_TRUE(m_dialog->IsApplyEnabled());
    ASSERT_EQ(S_OK, m_dialog->PressApply());
    EXPECT_EQ(1, m_script->applyCalls);
    EXPECT_TRUE(m_script->appliedChecked);
    EXPECT_FALSE(m_dialog->IsApplyEnabled());
    EXPECT_TRUE(m_dialog->IsOpen());

    // OK with nothing changed since does not apply again; closing lets the control go.
    ASSERT_EQ(S_OK, m_dialog->PressOk());
    EXPECT_FALSE(m_dialog->IsOpen());
    EXPECT_EQ(1, m_script->applyCalls);
    EXPECT_TRUE(record->released);
    EXPECT_EQ(m_script->controlsCreated, m_script->controlsDestroyed);
    EXPECT_EQ(1, m_script->controlsCreated);
}

TEST_F(PropertiesTest, OkAppliesAChangeAndCancelDropsIt)
{
    for (bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        m_script->applyCalls = 0;
        ASSERT_EQ(S_OK, m_host->ShowFolderProperties(m_top.Get(), m_script->pageTitle, &m_dialog));
        ClickCheckBox();
        ASSERT_EQ(S_OK, ok ? m_dialog->PressOk() : m_dialog->PressCancel());
        EXPECT_FALSE(m_dialog->IsOpen());
        EXPECT_EQ(ok ? 1 : 0, m_script->applyCalls);
        EXPECT_TRUE(m_dialog->Record(m_script->pageTitle)->released);
        m_dialog.reset();
    }
    EXPECT_EQ(m_script->controlsCreated, m_script->controlsDestroyed);
}

TEST_F(PropertiesTest, PageIsCreatedOnlyWhenItsTabIsShown)
{
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(m_top.Get(), L"", &m_dialog));
    EXPECT_FALSE(m_dialog->Record(m_script->pageTitle)->shown);
    EXPECT_EQ(0, m_script->controlsCreated);
    ASSERT_EQ(S_OK, m_dialog->SelectPage(m_script->pageTitle));
    EXPECT_TRUE(m_dialog->Record(m_script->pageTitle)->shown);
    EXPECT_EQ(1, m_script->controlsCreated);
    EXPECT_EQ(E_INVALIDARG, m_dialog->SelectPage(L"No such page"));
}

TEST_F(PropertiesTest, OtherFoldersGetNoPageAndUnknownProgIdsFailToShow)
{
    ComPtr<outlook::_Folders> children;
    ASSERT_EQ(S_OK, m_top->get_Folders(children.GetAddressOf()));
    // Nothing is offered for a folder the add-in does not want.
    wcscpy(m_script->pageFolderEntryId, L"00");
    std::vector<olhost::PageEntry> pages;
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(m_top.Get(), L"", &m_dialog, &pages));
    EXPECT_EQ(1, m_script->pagesAddEvents);
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(std::vector<std::wstring>{L"General"}, m_dialog->PageTitles());
    m_dialog.reset();

    m_script->pageFolderEntryId[0] = 0;
    wcscpy(m_script->pageProgId, L"VostrelTest.NoSuchPage");
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(m_top.Get(), m_script->pageTitle, &m_dialog, &pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_TRUE(FAILED(m_dialog->Record(m_script->pageTitle)->createResult));
    EXPECT_EQ(nullptr, m_dialog->ControlWindow(m_script->pageTitle));
    EXPECT_EQ(S_OK, m_dialog->PressCancel());
}

} // namespace
} // namespace olhosttest
