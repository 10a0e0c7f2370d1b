// The add-in as Outlook runs it: loaded by the add-in manager in each connect
// mode, its command bar and button built once and placed from the add-in key,
// the Explorer's close keeping the placement and taking the bar and every
// tagged button away, the Mailboxes page offered for the right folder only,
// and the button's command reaching MAPI.
#include "Platform.h"
#include "AddInTestFixture.h"

#include "CUnknownImpl.h"
#include "WizardSession.h"

#include <shlobj.h>

#include <cstring>

namespace addintest {
namespace {

using extensibility::ext_cm_AfterStartup;
using extensibility::ext_cm_Startup;

std::vector<std::wstring> Methods(const std::vector<olhost::AddInCall>& calls)
{
    std::vector<std::wstring> methods;
    for (const auto& call : calls)
        methods.push_back(call.method);
    return methods;
}

class ConnectTest : public AddInTest {
protected:
    // The add-in connected to a freshly started host.
    void Connect(extensibility::ext_ConnectMode mode = ext_cm_Startup,
                 const olhost::HostOptions& options = olhost::HostOptions())
    {
        ASSERT_EQ(S_OK, StartHost(options));
        ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, mode));
    }

    std::optional<olhost::BarSnapshot> AddInBar() { return FindBar(m_host->Bars(), BarName()); }
};

TEST_F(ConnectTest, StartupBuildsOneBarWithOneButtonAndReconnectionReusesThem)
{
    RegisterAddIn(3);
    ASSERT_EQ(S_OK, StartHost());
    ASSERT_EQ(S_OK, m_host->LoadRegisteredAddIns());
    auto calls = m_host->Calls(kAddInProgId);
    ASSERT_EQ((std::vector<std::wstring>{L"OnConnection", L"OnAddInsUpdate", L"OnStartupComplete"}), Methods(calls));
    EXPECT_EQ(S_OK, calls[0].result);
    EXPECT_EQ(E_NOTIMPL, calls[1].result);
    EXPECT_EQ(E_NOTIMPL, calls[2].result);
    EXPECT_EQ(3u, *StoredDword(L"LoadBehavior"));
    EXPECT_EQ(1u, m_host->ExplorerSinkCount());
    EXPECT_EQ(1u, m_host->NameSpaceSinkCount());

    ASSERT_FALSE(BarName().empty());
    auto bar = AddInBar();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->temporary);
    EXPECT_TRUE(bar->visible);
    EXPECT_TRUE(bar->enabled);
    EXPECT_EQ(office::msoBarTop, bar->position);
    ASSERT_EQ(1u, bar->controls.size());
    const olhost::ControlSnapshot& button = bar->controls[0];
    EXPECT_EQ(kButtonTag, button.tag);
    EXPECT_EQ(office::msoControlButton, button.type);
    EXPECT_TRUE(button.temporary);
    EXPECT_EQ(L"", button.caption);
    EXPECT_EQ(LibraryText(315), button.tooltip);
    EXPECT_EQ(L"Add an Exchange Database Archive", button.tooltip);
    EXPECT_EQ(office::msoButtonIconAndCaption, button.style);
    EXPECT_EQ(1, button.priority);
    EXPECT_TRUE(button.beginGroup);
    EXPECT_TRUE(button.visible);
    EXPECT_TRUE(button.enabled);
    EXPECT_NE(nullptr, button.picture.Get());
    EXPECT_NE(nullptr, button.mask.Get());
    EXPECT_EQ(1u, button.clickSinks);

    // Unloaded by the user: the listeners go, the temporary bar stays for
    // this run; connected again, the add-in takes the bar and button it finds.
    ASSERT_EQ(S_OK, m_host->UnloadAddIn(kAddInProgId));
    EXPECT_EQ(0u, m_host->ExplorerSinkCount());
    EXPECT_EQ(0u, m_host->NameSpaceSinkCount());
    ASSERT_TRUE(AddInBar());
    EXPECT_EQ(0u, AddInBar()->controls.at(0).clickSinks);
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, ext_cm_AfterStartup));
    size_t bars = 0;
    for (const auto& snapshot : m_host->Bars())
        bars += snapshot.name == BarName() ? 1 : 0;
    EXPECT_EQ(1u, bars);
    EXPECT_EQ(1u, TaggedControls(m_host->Bars()));
    EXPECT_EQ(1u, AddInBar()->controls.at(0).clickSinks);
    EXPECT_EQ(1u, m_host->ExplorerSinkCount());
}

TEST_F(ConnectTest, EveryConnectAndDisconnectModeSetsUpAndTearsDownTheSame)
{
    const extensibility::ext_ConnectMode connects[] = {extensibility::ext_cm_AfterStartup,
                                                       extensibility::ext_cm_Startup,
                                                       extensibility::ext_cm_External,
                                                       extensibility::ext_cm_CommandLine};
    for (auto connect : connects) {
        for (bool hostShutdown : {false, true}) {
            SCOPED_TRACE(testing::Message() << "connect mode " << connect << (hostShutdown ? ", Outlook quits"
                                                                                           : ", user unloads"));
            olhost::COutlookHost::ForgetCustomizations();
            RegDeleteTreeW(HKEY_CURRENT_USER, kAddInKey);
            Connect(connect);
            ASSERT_TRUE(AddInBar());
            EXPECT_EQ(1u, TaggedControls(m_host->Bars()));
            EXPECT_EQ(1u, m_host->ExplorerSinkCount());
            EXPECT_EQ(1u, m_host->NameSpaceSinkCount());
            if (hostShutdown) {
                ASSERT_EQ(S_OK, m_host->Shutdown());
                auto calls = m_host->Calls(kAddInProgId);
                const std::vector<std::wstring> expected = {L"OnConnection", L"OnAddInsUpdate", L"OnBeginShutdown",
                                                            L"OnDisconnection"};
                const std::vector<std::wstring> expectedStartup = {L"OnConnection", L"OnBeginShutdown",
                                                                   L"OnDisconnection"};
                EXPECT_EQ(connect == extensibility::ext_cm_Startup ? expectedStartup : expected, Methods(calls));
                EXPECT_EQ(extensibility::ext_dm_HostShutdown, calls.back().mode);
                EXPECT_EQ(S_OK, calls.back().result);
                // The Explorer closed before Outlook quit: the state is kept.
                EXPECT_TRUE(StoredDword(L"ToolbarVisible"));
            } else {
                ASSERT_EQ(S_OK, m_host->UnloadAddIn(kAddInProgId));
                auto calls = m_host->Calls(kAddInProgId);
                EXPECT_EQ(L"OnDisconnection", calls.back().method);
                EXPECT_EQ(extensibility::ext_dm_UserClosed, calls.back().mode);
                EXPECT_EQ(S_OK, calls.back().result);
                EXPECT_EQ(0u, m_host->ExplorerSinkCount());
                EXPECT_EQ(0u, m_host->NameSpaceSinkCount());
                EXPECT_EQ(0u, AddInBar()->controls.at(0).clickSinks);
                EXPECT_FALSE(StoredDword(L"ToolbarVisible"));
            }
            m_host.reset();
        }
    }
}

TEST_F(ConnectTest, Outlook2000GetsTheFaceThroughTheClipboardAndLaterVersionsPictures)
{
    struct Case {
        const wchar_t* version;
        bool pasted;
    };
    const COLORREF buttonFace = GetSysColor(COLOR_BTNFACE);
    const DWORD faceAsRead = GetRValue(buttonFace) << 16 | GetGValue(buttonFace) << 8 | GetBValue(buttonFace);
    for (const Case& c : {Case{L"9.0.0.2711", true}, Case{L"", true}, Case{L"10.0.2627", false},
                          Case{L"11.0.8217", false}, Case{L"19", false}}) {
        SCOPED_TRACE(testing::Message() << "version \"" << std::string(c.version, c.version + wcslen(c.version))
                                        << "\"");
        olhost::COutlookHost::ForgetCustomizations();
        olhost::HostOptions options;
        options.version = c.version;
        Connect(ext_cm_Startup, options);
        auto bar = AddInBar();
        ASSERT_TRUE(bar);
        const olhost::ControlSnapshot& button = bar->controls.at(0);
        if (c.pasted) {
            ASSERT_EQ(16, button.pastedFace.width);
            ASSERT_EQ(16, button.pastedFace.height);
            // The key colour became the user's button face; the picture kept
            // its own colours (row 7 is the gold band).
            EXPECT_EQ(faceAsRead, button.pastedFace.pixels[0] & 0xFFFFFF);
            EXPECT_EQ(0xE8B020u, button.pastedFace.pixels[7 * 16 + 5] & 0xFFFFFF);
            EXPECT_EQ(nullptr, button.picture.Get());
            EXPECT_EQ(nullptr, button.mask.Get());
        } else {
            EXPECT_TRUE(button.pastedFace.pixels.empty());
            ASSERT_NE(nullptr, button.picture.Get());
            ASSERT_NE(nullptr, button.mask.Get());
            OLE_HANDLE handle = 0;
            ComPtr<IPicture> picture;
            ASSERT_EQ(S_OK, button.picture.As(&picture));
            ASSERT_EQ(S_OK, picture->get_Handle(&handle));
            BITMAP info{};
            ASSERT_NE(0, GetObjectW(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), sizeof(info), &info));
            EXPECT_EQ(16, info.bmWidth);
        }
        m_host.reset();
    }
}

TEST_F(ConnectTest, ExplorerCloseKeepsTheBarsPlacementAndTheNextStartRestoresIt)
{
    Connect();
    {
        // The user hides the bar and floats it elsewhere.
        ComPtr<office::CommandBar> bar = Bar(BarName());
        ASSERT_TRUE(bar);
        ASSERT_EQ(S_OK, bar->put_Position(office::msoBarFloating));
        ASSERT_EQ(S_OK, bar->put_Top(120));
        ASSERT_EQ(S_OK, bar->put_Left(300));
        ASSERT_EQ(S_OK, bar->put_RowIndex(2));
        ASSERT_EQ(S_OK, bar->put_Visible(VARIANT_FALSE));
    }
    ASSERT_EQ(S_OK, m_host->CloseExplorer());
    EXPECT_EQ(0u, *StoredDword(L"ToolbarVisible"));
    EXPECT_EQ(static_cast<DWORD>(office::msoBarFloating), *StoredDword(L"ToolbarPosition"));
    EXPECT_EQ(120u, *StoredDword(L"ToolbarTop"));
    EXPECT_EQ(300u, *StoredDword(L"ToolbarLeft"));
    EXPECT_EQ(2u, *StoredDword(L"ToolbarRowIndex"));

    Connect();
    auto bar = AddInBar();
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->visible);
    EXPECT_EQ(office::msoBarFloating, bar->position);
    EXPECT_EQ(120, bar->top);
    EXPECT_EQ(300, bar->left);
    EXPECT_EQ(2, bar->rowIndex);

    // Shown again, it is stored as the sign-extended true of a VARIANT_BOOL.
    ASSERT_EQ(S_OK, Bar(BarName())->put_Visible(VARIANT_TRUE));
    ASSERT_EQ(S_OK, m_host->CloseExplorer());
    EXPECT_EQ(0xFFFFFFFFu, *StoredDword(L"ToolbarVisible"));
}

TEST_F(ConnectTest, StoredStateIsAppliedByItsRules)
{
    struct Case {
        const char* what;
        std::vector<StoredValue> stored;
        bool visible;
        long position;
        int top;
    };
    const Case cases[] = {
        {"nothing stored: visible, where Office puts it", {}, true, office::msoBarTop, -1},
        {"zeros everywhere are no placement",
         {{L"ToolbarVisible", REG_DWORD, 0xFFFFFFFF},
          {L"ToolbarPosition", REG_DWORD, 0},
          {L"ToolbarTop", REG_DWORD, 0},
          {L"ToolbarLeft", REG_DWORD, 0},
          {L"ToolbarRowIndex", REG_DWORD, 0}},
         true,
         office::msoBarTop,
         -1},
        {"one placement value places the bar",
         {{L"ToolbarVisible", REG_DWORD, 0xFFFFFFFF}, {L"ToolbarTop", REG_DWORD, 77}},
         true,
         office::msoBarLeft,
         77},
        {"a text value ends the reading: later values keep their defaults",
         {{L"ToolbarVisible", REG_SZ, 0}, {L"ToolbarPosition", REG_DWORD, 4}, {L"ToolbarTop", REG_DWORD, 55}},
         true,
         office::msoBarTop,
         -1},
        {"values read before a text value stand",
         {{L"ToolbarVisible", REG_DWORD, 0}, {L"ToolbarPosition", REG_SZ, 4}, {L"ToolbarTop", REG_DWORD, 55}},
         false,
         office::msoBarTop,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        olhost::COutlookHost::ForgetCustomizations();
        RegDeleteTreeW(HKEY_CURRENT_USER, kAddInKey);
        for (const StoredValue& value : c.stored)
            SetValue(value.name, value.type, value.value);
        Connect();
        auto bar = AddInBar();
        ASSERT_TRUE(bar);
        EXPECT_EQ(c.visible, bar->visible);
        EXPECT_EQ(c.position, bar->position);
        if (c.top >= 0) {
            EXPECT_EQ(c.top, bar->top);
        }
        m_host.reset();
    }
}

TEST_F(ConnectTest, ExplorerCloseDeletesEveryTaggedButtonEvenSideBySide)
{
    Connect();
    // The user copied the button twice onto the Standard bar, side by side,
    // and once more onto the add-in's own bar.
    for (const std::wstring& barName : {std::wstring(L"Standard"), std::wstring(L"Standard"), BarName()}) {
        ComPtr<office::CommandBar> bar = Bar(barName);
        ComPtr<office::CommandBarControls> controls;
        ComPtr<office::CommandBarControl> control;
        ASSERT_EQ(S_OK, bar->get_Controls(controls.GetAddressOf()));
        ASSERT_EQ(S_OK, controls->Add(Long(office::msoControlButton), Missing(), Missing(), Long(1), Bool(false),
                                      control.GetAddressOf()));
        CText tag(kButtonTag);
        ASSERT_EQ(S_OK, control->put_Tag(tag.Bstr()));
    }
    ASSERT_EQ(4u, TaggedControls(m_host->Bars()));
    auto standardBefore = FindBar(m_host->Bars(), L"Standard");
    ASSERT_TRUE(standardBefore);

    ASSERT_EQ(S_OK, m_host->CloseExplorer());
    ASSERT_EQ(S_OK, StartHost());
    auto bars = m_host->Bars();
    EXPECT_EQ(0u, TaggedControls(bars));
    EXPECT_FALSE(FindBar(bars, BarName()));
    auto standard = FindBar(bars, L"Standard");
    ASSERT_TRUE(standard);
    EXPECT_EQ(standardBefore->controls.size() - 2, standard->controls.size());
}

// The lines of the provider's log that name an operation.
size_t LogMentions(const wchar_t* operation)
{
    wchar_t common[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    const std::vector<BYTE> bytes = wizardtest::ReadFileBytes(std::wstring(common) + L"\\" + LibraryText(387) + L"\\" +
                                                              LibraryText(388) + L"\\KOLWEN32.log");
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t count = 0;
    for (size_t at = text.find(operation); at != std::wstring::npos; at = text.find(operation, at + 1))
        ++count;
    return count;
}

TEST_F(ConnectTest, AStepThatFailsIsRecordedAndTheNextStepsStillRun)
{
    const size_t before = LogMentions(L"function=CConnect::AddToolBar");
    // A stored position Office refuses for a toolbar (a pop-up).
    SetValue(L"ToolbarPosition", REG_DWORD, 5);
    Connect();
    EXPECT_EQ(before + 1, LogMentions(L"function=CConnect::AddToolBar"));
    EXPECT_EQ(S_OK, m_host->Calls(kAddInProgId).at(0).result);
    auto bar = AddInBar();
    ASSERT_TRUE(bar);
    ASSERT_EQ(1u, bar->controls.size());
    EXPECT_EQ(1u, bar->controls[0].clickSinks);
}

// A bare dispatch object: an application that is not Outlook's.
class CNotOutlook final : public common::CUnknownImpl<CNotOutlook, IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

};

TEST_F(ConnectTest, WithoutOutlooksApplicationOrAnExplorerTheConnectionEndsQuietly)
{
    ComPtr<extensibility::_IDTExtensibility2> addIn;
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(kAddInProgId, &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(extensibility::_IDTExtensibility2),
                                     reinterpret_cast<void**>(addIn.GetAddressOf())));
    SAFEARRAY* custom = nullptr;
    EXPECT_EQ(S_OK, addIn->OnConnection(nullptr, ext_cm_Startup, nullptr, &custom));
    ComPtr<IDispatch> other;
    *other.GetAddressOf() = new CNotOutlook();
    EXPECT_EQ(S_OK, addIn->OnConnection(other.Get(), ext_cm_Startup, nullptr, &custom));
    EXPECT_EQ(S_OK, addIn->OnDisconnection(extensibility::ext_dm_UserClosed, &custom));
    EXPECT_EQ(E_NOTIMPL, addIn->OnBeginShutdown(&custom));
    addIn.Reset();

    olhost::HostOptions noWindow;
    noWindow.withExplorer = false;
    Connect(ext_cm_Startup, noWindow);
    EXPECT_TRUE(m_host->Bars().empty());
    EXPECT_EQ(0u, m_host->NameSpaceSinkCount());
    EXPECT_EQ(S_OK, m_host->Calls(kAddInProgId).at(0).result);
    EXPECT_EQ(S_OK, m_host->Shutdown());
}

TEST_F(ConnectTest, MailboxesPageIsOfferedOnlyForTheIpmSubtreeOfThisProvidersStores)
{
    const MAPIUID otherProvider = {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
                                    0x0F, 0x10}};
    const std::wstring ownSubtree = EntryIdHex(kEntryIpmSubtree);
    std::wstring lowerCase = ownSubtree;
    for (wchar_t& c : lowerCase)
        c = static_cast<wchar_t>(towlower(c));
    struct Case {
        const char* what;
        std::wstring entryId;
        bool offered;
    };
    const Case cases[] = {
        {"this provider's IPM subtree", ownSubtree, true},
        {"the same in lower-case digits", lowerCase, true},
        {"a mailbox's top folder", EntryIdHex(kEntryMailboxTop), false},
        {"the root folder", EntryIdHex(kEntryRootFolder), false},
        {"a plain folder", EntryIdHex(kEntryFolder), false},
        {"another provider's kind 3", EntryIdHex(kEntryIpmSubtree, otherProvider), false},
        {"one digit short", ownSubtree.substr(0, ownSubtree.size() - 1), false},
        {"longer than an identifier", ownSubtree + L"00", false},
        {"not hexadecimal", std::wstring(ownSubtree.size(), L'Z'), false},
        {"empty", L"", false},
    };
    Connect();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<olhost::CFolderPropertiesDialog> dialog;
        std::vector<olhost::PageEntry> pages;
        ASSERT_EQ(S_OK, m_host->ShowFolderProperties(CFolder::Make(c.entryId).Get(), L"", &dialog, &pages));
        if (c.offered) {
            ASSERT_EQ(1u, pages.size());
            EXPECT_EQ(kPageProgId, pages[0].progId);
            EXPECT_EQ(LibraryText(362), pages[0].title);
            EXPECT_EQ(L"Mailboxes", pages[0].title);
        } else {
            EXPECT_TRUE(pages.empty());
        }
        EXPECT_EQ(S_OK, dialog->PressCancel());
    }

    // Nor for the folders of another store of the profile.
    ComPtr<outlook::_NameSpace> nameSpace;
    ComPtr<outlook::_Folders> folders;
    ComPtr<outlook::MAPIFolder> top;
    ASSERT_EQ(S_OK, m_host->Application()->get_Session(nameSpace.GetAddressOf()));
    ASSERT_EQ(S_OK, nameSpace->get_Folders(folders.GetAddressOf()));
    ASSERT_EQ(S_OK, folders->Item(Long(1), top.GetAddressOf()));
    std::unique_ptr<olhost::CFolderPropertiesDialog> dialog;
    std::vector<olhost::PageEntry> pages;
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(top.Get(), L"", &dialog, &pages));
    EXPECT_TRUE(pages.empty());
}

} // namespace
} // namespace addintest
