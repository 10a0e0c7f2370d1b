// The add-in with real stores of the provider: the toolbar button adds a
// store of a database through the wizard (a robot plays the user), Cancel
// leaves no service behind, a profile that already holds a store gets no
// second one; and the Mailboxes page changes the folder list of a store
// that Outlook has open.
#include "ProviderPlatform.h"
#include "AddInTestFixture.h"

#include "CWizardRobot.h"
#include "ResourceStrings.h"
#include "WizardSession.h"
#include "testing/ProviderFixture.h"

#include <commctrl.h>

#include <algorithm>

namespace addintest {
namespace {

using exchangefixture::EGeneration;
using providertest::CFixtureFiles;

constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;
constexpr int kDatabaseEdit = 207;
constexpr int kLogEdit = 208;
constexpr int kMailboxList = 1120;

class AddInStoreTest : public AddInTest {
protected:
    static void SetUpTestSuite()
    {
        // The test's own lookups of the data directory (settings files) go
        // through the same resource library as the provider's.
        if (!GetResourceLibrary())
            SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
    }

    HRESULT StartHostOn(const std::wstring& profile)
    {
        m_host.reset();
        return olhost::COutlookHost::Start(profile, olhost::HostOptions(), &m_host);
    }

    // The services of the fixture's profile named serviceName.
    ULONG ServiceCount(const wchar_t* serviceName)
    {
        ComPtr<IMAPITable> table;
        if (FAILED(m_services->GetMsgServiceTable(MAPI_UNICODE, table.GetAddressOf())))
            return 0;
        providertest::ClientRows rows = providertest::AllRows(table.Get(), {PR_SERVICE_NAME_W});
        ULONG count = 0;
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            count += providertest::Text(&rows->aRow[r].lpProps[0]) == serviceName ? 1 : 0;
        return count;
    }

    // The stores of this provider in the host's session.
    ULONG ProviderStores()
    {
        ComPtr<IMAPITable> table;
        if (FAILED(m_host->Session()->GetMsgStoresTable(0, table.GetAddressOf())))
            return 0;
        providertest::ClientRows rows = providertest::AllRows(table.Get(), {PR_MDB_PROVIDER});
        ULONG count = 0;
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            count += providertest::Bytes(&rows->aRow[r].lpProps[0]) ==
                     std::vector<BYTE>(kProviderUid.ab, kProviderUid.ab + sizeof(kProviderUid.ab));
        return count;
    }

    // The top folder Outlook shows for this provider's store of a service.
    ComPtr<outlook::MAPIFolder> StoreTop(const MAPIUID* serviceUid = nullptr)
    {
        ComPtr<outlook::_NameSpace> nameSpace;
        ComPtr<outlook::_Folders> folders;
        EXPECT_EQ(S_OK, m_host->Application()->get_Session(nameSpace.GetAddressOf()));
        EXPECT_EQ(S_OK, nameSpace->get_Folders(folders.GetAddressOf()));
        long count = 0;
        folders->get_Count(&count);
        for (long i = 1; i <= count; ++i) {
            ComPtr<outlook::MAPIFolder> folder;
            BSTR text = nullptr;
            if (FAILED(folders->Item(Long(i), folder.GetAddressOf())) || FAILED(folder->get_EntryID(&text)))
                continue;
            const std::wstring hex = Take(text);
            CEntryId id;
            if (hex.size() != 144 || !HexToBytes(hex.c_str(), reinterpret_cast<BYTE*>(&id), sizeof(id)))
                continue;
            if (memcmp(id.providerUid.ab, kProviderUid.ab, 16) != 0 || id.kind != kEntryIpmSubtree)
                continue;
            if (!serviceUid || memcmp(id.storeUid.ab, serviceUid->ab, 16) == 0)
                return folder;
        }
        return nullptr;
    }

    // A click on the add-in's button while the robot plays the user.
    HRESULT Click(const wizardtest::RobotScript& script)
    {
        return wizardtest::RunWithRobot([&] { return m_host->ClickButton(BarName(), kButtonTag); }, script, m_log);
    }

    wizardtest::CScriptLog m_log;
};

TEST_F(AddInStoreTest, TheButtonAddsAStoreThroughTheWizardAndOnlyOnce)
{
    const std::wstring database = CFixtureFiles::Instance().MailboxCopy(EGeneration::Exchange2003, L"AddInButton");
    ASSERT_EQ(S_OK, StartHost());
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, extensibility::ext_cm_Startup));
    ASSERT_EQ(0u, ProviderStores());

    int mailboxes = 0;
    ASSERT_EQ(S_OK, Click([&](wizardtest::CWizardRobot& robot, wizardtest::CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.SetText(kDatabaseEdit, database));
        ROBOT_CHECK(log, robot.SetText(kLogEdit, CFixtureFiles::Instance().LogFolder()));
        ROBOT_CHECK(log, robot.Press(wizardtest::EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        mailboxes = robot.ListCount(kMailboxList);
        for (int item = 0; item < mailboxes; ++item)
            robot.ListSetChecked(kMailboxList, item, true);
        ROBOT_CHECK(log, robot.Press(wizardtest::EButton::Finish));
    }));
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(3, mailboxes);
    EXPECT_EQ(1u, ServiceCount(L"KOLVENOV"));
    EXPECT_EQ(1u, ProviderStores());
    // Outlook shows the new store, and offers the page on its top folder.
    ComPtr<outlook::MAPIFolder> top = StoreTop();
    ASSERT_TRUE(top);
    std::unique_ptr<olhost::CFolderPropertiesDialog> dialog;
    std::vector<olhost::PageEntry> pages;
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(top.Get(), L"", &dialog, &pages));
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ(kPageProgId, pages[0].progId);
    EXPECT_EQ(S_OK, dialog->PressCancel());

    // A second click finds the store: no wizard, no second service.
    ASSERT_EQ(S_OK, Click([&](wizardtest::CWizardRobot& robot, wizardtest::CScriptLog& log) {
        ROBOT_CHECK(log, !robot.WaitForSheet(3000));
    }));
    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(1u, ServiceCount(L"KOLVENOV"));
    EXPECT_EQ(1u, ProviderStores());
}

TEST_F(AddInStoreTest, CancelLeavesNoHalfMadeServiceAndTouchesNoOther)
{
    ASSERT_EQ(S_OK, StartHost());
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, extensibility::ext_cm_Startup));
    ASSERT_EQ(1u, ServiceCount(L"WRITABLESTORE"));
    for (bool onMailboxPage : {false, true}) {
        SCOPED_TRACE(onMailboxPage ? "cancelled on the mailbox page" : "cancelled on the first page");
        const std::wstring database = CFixtureFiles::Instance().MailboxCopy(EGeneration::Exchange2003, L"AddInCancel");
        ASSERT_EQ(S_OK, Click([&](wizardtest::CWizardRobot& robot, wizardtest::CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            if (onMailboxPage) {
                ROBOT_CHECK(log, robot.SetText(kDatabaseEdit, database));
                ROBOT_CHECK(log, robot.SetText(kLogEdit, CFixtureFiles::Instance().LogFolder()));
                ROBOT_CHECK(log, robot.Press(wizardtest::EButton::Next));
                ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
            }
            ROBOT_CHECK(log, robot.Press(wizardtest::EButton::Cancel));
            ROBOT_CHECK(log, robot.WaitForSheetGone());
        }));
        EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
        EXPECT_EQ(0u, ServiceCount(L"KOLVENOV"));
        EXPECT_EQ(1u, ServiceCount(L"WRITABLESTORE"));
        EXPECT_EQ(0u, ProviderStores());
    }
}

TEST_F(AddInStoreTest, ThePageChangesTheFolderListOfAStoreOutlookHasOpen)
{
    const providertest::SMailboxFixture& ids = [] {
        CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
        return CFixtureFiles::Instance().MailboxIds();
    }();
    providertest::SStoreSettings settings;
    settings.databasePath = CFixtureFiles::Instance().MailboxCopy(EGeneration::Exchange2007, L"AddInPage");
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    settings.mailboxSelection = providertest::MailboxSelectionText({{ids.alice.rootId, providertest::kAliceName},
                                                                    {ids.bruno.rootId, providertest::kBrunoName},
                                                                    {ids.old.rootId, providertest::kOldName}});
    providertest::CStoreProfile profile(L"AddInPage");
    ASSERT_EQ(S_OK, profile.Status());
    MAPIUID service{};
    ASSERT_EQ(S_OK, profile.AddStore(settings, &service));
    ASSERT_EQ(S_OK, StartHostOn(profile.Name()));
    ASSERT_EQ(S_OK, m_host->ConnectAddIn(kAddInProgId, extensibility::ext_cm_Startup));

    // The store as Outlook keeps it open, and its IPM subtree's folder list.
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, providertest::OpenStoreOf(m_host->Session(), service, store.GetAddressOf()));
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, providertest::OpenEntry(store.Get(), CEntryId(kEntryIpmSubtree, service), 0, &type,
                                            object.GetAddressOf()));
    ComPtr<IMAPIFolder> subtree;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(subtree.GetAddressOf())));
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, subtree->GetHierarchyTable(0, table.GetAddressOf()));
    auto names = [&] {
        std::vector<std::wstring> list;
        providertest::ClientRows rows = providertest::AllRows(table.Get(), {PR_DISPLAY_NAME_W});
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            list.push_back(providertest::Text(&rows->aRow[r].lpProps[0]));
        std::sort(list.begin(), list.end());
        return list;
    };
    const std::vector<std::wstring> before = {providertest::kAliceName, providertest::kBrunoName,
                                              providertest::kOldName};
    ASSERT_EQ(before, names());

    // The user unticks Bruno on the page and presses OK.
    ComPtr<outlook::MAPIFolder> top = StoreTop(&service);
    ASSERT_TRUE(top);
    std::unique_ptr<olhost::CFolderPropertiesDialog> dialog;
    const std::wstring title = LibraryText(362);
    ASSERT_EQ(S_OK, m_host->ShowFolderProperties(top.Get(), title, &dialog));
    HWND list = GetDlgItem(dialog->ControlWindow(title), kMailboxList);
    ASSERT_NE(nullptr, list);
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = providertest::kBrunoName;
    const int item = static_cast<int>(SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>(&find)));
    ASSERT_GE(item, 0);
    LVITEMW state{};
    state.stateMask = LVIS_STATEIMAGEMASK;
    state.state = INDEXTOSTATEIMAGEMASK(1);
    SendMessageW(list, LVM_SETITEMSTATE, item, reinterpret_cast<LPARAM>(&state));
    dialog->PumpMessages();
    ASSERT_TRUE(dialog->IsApplyEnabled());
    ASSERT_EQ(S_OK, dialog->PressOk());
    EXPECT_EQ(1, dialog->Record(title)->applyCalls);

    // The store's watcher rebuilds the open folder list.
    const std::vector<std::wstring> after = {providertest::kAliceName, providertest::kOldName};
    std::vector<std::wstring> now;
    for (int i = 0; i < 200; ++i) {
        now = names();
        if (now == after)
            break;
        Sleep(50);
    }
    EXPECT_EQ(after, now);
    table.Reset();
    subtree.Reset();
    object.Reset();
    store.Reset();
}

} // namespace
} // namespace addintest
