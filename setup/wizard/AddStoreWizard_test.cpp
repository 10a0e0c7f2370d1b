// The add-store wizard as a MAPI client meets it: the service is created,
// configured and deleted through IMsgServiceAdmin, which calls the library's
// ServiceEntry; a robot thread works the wizard's pages as a person would;
// then the profile sections and the store's settings file are read back.
// The databases are small fixtures opened by the real database server.
#include "ProviderPlatform.h"

#include "CEntryId.h"
#include "ExchangeFixture.h"
#include "ServiceEntry.h"
#include "testing/StoreProfile.h"
#include "WizardSession.h"

#include <mapispi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

using namespace wizardtest;

constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;
constexpr int kDatabaseBrowse = 206;
constexpr int kDatabasePath = 207;
constexpr int kLogPath = 208;
constexpr int kLogBrowse = 209;
constexpr int kMailboxList = 1120;

constexpr ULONG kTagDatabasePath = 0x6610001F;
constexpr ULONG kTagLogPath = 0x6611001F;
constexpr ULONG kTagSourceKind = 0x66120003;
constexpr ULONG kTagDatabaseImage = 0x6613001F;
constexpr ULONG kTagLogImage = 0x6614001F;
constexpr ULONG kTagRestoreMap = 0x6615101F;
constexpr ULONG kTagCatalogBackupId = 0x66160003;
constexpr ULONG kTagStoreFlags = 0x66010003;
constexpr ULONG kTagStoreDatabasePath = 0x6700001F;

const std::vector<ULONG> kIdentityTags = {PR_RECORD_KEY,     PR_STORE_RECORD_KEY, kTagStoreFlags, PR_MDB_PROVIDER,
                                          PR_DISPLAY_NAME_W, kTagStoreDatabasePath, PR_STORE_ENTRYID, PR_ENTRYID};
const std::vector<ULONG> kPrivateTags = {kTagDatabasePath,  kTagLogPath,    kTagSourceKind,     kTagDatabaseImage,
                                         kTagLogImage,      kTagRestoreMap, kTagCatalogBackupId};

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring Item(LONGLONG id, bool checked, const std::wstring& name)
{
    return std::to_wstring(id) + L" " + (checked ? L"1" : L"0") + L" " + std::to_wstring(name.size()) + L" " + name +
           L" ";
}

std::vector<BYTE> UidBytes(const MAPIUID& uid)
{
    return std::vector<BYTE>(uid.ab, uid.ab + sizeof(uid.ab));
}

std::wstring HexOf(const std::vector<BYTE>& bytes)
{
    std::wstring text;
    wchar_t pair[3];
    for (BYTE b : bytes) {
        swprintf(pair, 3, L"%02X", b);
        text += pair;
    }
    return text;
}

// Fixture databases, written once for the whole suite.
struct SDatabases {
    SDatabases()
    {
        using namespace exchangefixture;
        {
            CExchangeDatabase three;
            ann = three.AddMailbox(L"Ann Lee").rootId;
            carla = three.AddMailbox(L"Carla Diaz").rootId;
            bob = three.AddMailbox(L"Bob Stone").rootId;
            threeMailboxes = Wide(folder.File("three.edb"));
            three.Write(folder.File("three.edb"));
        }
        {
            CExchangeDatabase none;
            noMailboxes = Wide(folder.File("none.edb"));
            none.Write(folder.File("none.edb"));
        }
        {
            CExchangeDatabase publicOnly(EStoreKind::PublicFolders);
            publicFolders = Wide(folder.File("public.edb"));
            publicOnly.Write(folder.File("public.edb"));
        }
        garbage = Wide(folder.File("garbage.edb"));
        if (FILE* file = _wfopen(garbage.c_str(), L"wb")) {
            const std::string text(16384, 'x');
            fwrite(text.data(), 1, text.size(), file);
            fclose(file);
        }
        aFolder = Wide(folder.Folder("a-folder"));
        logs = Wide(folder.Folder("logs"));
    }

    esefixture::CTempFolder folder;
    std::wstring threeMailboxes, noMailboxes, publicFolders, garbage, aFolder, logs;
    LONGLONG ann = 0, bob = 0, carla = 0;
};

SDatabases* g_db = nullptr;

using ServiceEntryFn = HRESULT(WINAPI*)(HINSTANCE, LPMALLOC, LPMAPISUP, ULONG_PTR, ULONG, ULONG, ULONG, LPSPropValue,
                                        LPPROVIDERADMIN, LPMAPIERROR*);

// Property values whose strings live as long as the object.
class CValues {
public:
    SPropValue Long(ULONG tag, LONG value)
    {
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.l = value;
        return v;
    }
    SPropValue Text(ULONG tag, const std::wstring& text)
    {
        m_texts.push_back(text);
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.lpszW = &m_texts.back()[0];
        return v;
    }

private:
    std::deque<std::wstring> m_texts;
};

class AddStoreWizardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // A MAPI client's thread, with COM as Outlook's UI thread has it.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s_serviceFiles = new CServiceFilesSnapshot();
        ASSERT_EQ(S_OK, RegisterLibrary(false));
        g_db = new SDatabases();
    }
    static void TearDownTestSuite()
    {
        delete g_db;
        g_db = nullptr;
        delete s_serviceFiles;
        s_serviceFiles = nullptr;
    }

    static CServiceFilesSnapshot* s_serviceFiles;

    void SetUp() override { ASSERT_TRUE(m_profile.Ready()); }
    void TearDown() override
    {
        for (const MAPIUID& uid : m_created)
            DeleteFileW(SettingsFilePath(uid).c_str());
    }

    HRESULT Create(const RobotScript& script, ULONG flags = SERVICE_UI_ALWAYS)
    {
        const HRESULT hr = RunWithRobot([&] { return m_profile.CreateService(flags); }, script, m_log);
        MAPIUID uid;
        if (SUCCEEDED(hr) && m_profile.LastServiceUid(uid))
            m_created.push_back(uid);
        return hr;
    }

    HRESULT Configure(const MAPIUID& uid, ULONG flags, const RobotScript& script)
    {
        return RunWithRobot([&] { return m_profile.Configure(uid, flags); }, script, m_log);
    }

    // A store of the three-mailbox database with Ann and Carla checked.
    MAPIUID CreateStore()
    {
        const HRESULT hr = Create([](CWizardRobot& robot, CScriptLog& log) {
            EnterDatabase(robot, log, g_db->threeMailboxes, g_db->logs);
            ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 3);
            ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 0, true)); // Ann Lee
            ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 2, true)); // Carla Diaz
            ROBOT_CHECK(log, robot.Press(EButton::Finish));
        });
        EXPECT_EQ(S_OK, hr);
        MAPIUID uid{};
        EXPECT_TRUE(m_profile.LastServiceUid(uid));
        return uid;
    }

    std::wstring AnnAndCarla() const
    {
        return Item(g_db->ann, true, L"Ann Lee") + Item(g_db->bob, false, L"Bob Stone") +
               Item(g_db->carla, true, L"Carla Diaz");
    }

    // Types the paths on the database page and goes on to the mailbox page.
    static void EnterDatabase(CWizardRobot& robot, CScriptLog& log, const std::wstring& database,
                              const std::wstring& logs)
    {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.SetText(kDatabasePath, database));
        ROBOT_CHECK(log, robot.SetText(kLogPath, logs));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
    }

    // Waits for a message box with the configuration caption, checks its
    // text and icon, and dismisses it.
    static void ExpectMessage(CWizardRobot& robot, CScriptLog& log, const std::wstring& text, UINT icon)
    {
        SMessageBox box;
        const bool shown = robot.WaitForMessageBox(box, 20000);
        ROBOT_CHECK(log, shown);
        if (!shown)
            return;
        ROBOT_CHECK(log, box.caption == LibraryText(301));
        if (box.text != text)
            log.Note("message text: got \"" + std::string(box.text.begin(), box.text.end()) + "\", expected \"" +
                     std::string(text.begin(), text.end()) + "\"");
        ROBOT_CHECK(log, box.icon == icon);
        ROBOT_CHECK(log, robot.Dismiss(box));
    }

    ServiceEntryFn Entry() const
    {
        return reinterpret_cast<ServiceEntryFn>(reinterpret_cast<void*>(GetProcAddress(Kolven32(), "ServiceEntry")));
    }

    ComPtr<IProviderAdmin> AdminOf(const MAPIUID& service)
    {
        MAPIUID uid = service;
        ComPtr<IProviderAdmin> admin;
        EXPECT_EQ(S_OK, m_profile.Services()->AdminProviders(&uid, 0, admin.GetAddressOf()));
        return admin;
    }

    void SetServiceProps(const MAPIUID& service, std::vector<SPropValue> values)
    {
        ASSERT_EQ(S_OK, m_profile.Configure(service, 0, static_cast<ULONG>(values.size()), values.data()));
    }

    void DeleteServiceProps(const MAPIUID& service, const std::vector<ULONG>& tags)
    {
        MAPIUID uid = service;
        ComPtr<IProfSect> section;
        ASSERT_EQ(S_OK, m_profile.Services()->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, section.GetAddressOf()));
        std::vector<ULONG> array(tags.size() + 1);
        array[0] = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), array.begin() + 1);
        ASSERT_TRUE(SUCCEEDED(section->DeleteProps(reinterpret_cast<LPSPropTagArray>(array.data()), nullptr)));
    }

    CMapiProfile m_profile;
    CScriptLog m_log;
    std::vector<MAPIUID> m_created;
};

CServiceFilesSnapshot* AddStoreWizardTest::s_serviceFiles = nullptr;

#define EXPECT_SCRIPT_OK() EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined()

TEST_F(AddStoreWizardTest, CreateWritesTheServiceTheProviderSectionAndTheSettingsFile)
{
    const MAPIUID uid = CreateStore();
    EXPECT_SCRIPT_OK();

    const CSectionValues values = m_profile.Read(uid, kPrivateTags);
    EXPECT_EQ(g_db->threeMailboxes, values.Text(kTagDatabasePath));
    EXPECT_EQ(g_db->logs, values.Text(kTagLogPath));
    EXPECT_EQ(0, values.Long(kTagSourceKind));
    EXPECT_EQ(L"", values.Text(kTagDatabaseImage));
    EXPECT_EQ(L"", values.Text(kTagLogImage));
    EXPECT_FALSE(values.Has(kTagRestoreMap));
    EXPECT_EQ(0, values.Long(kTagCatalogBackupId));

    // The identity is the same on the provider's section and the service's.
    MAPIUID provider;
    ASSERT_TRUE(m_profile.ProviderSection(uid, provider));
    for (const MAPIUID& section : {provider, uid}) {
        const CSectionValues identity = m_profile.Read(section, kIdentityTags);
        EXPECT_EQ(UidBytes(uid), identity.Bytes(PR_RECORD_KEY));
        EXPECT_EQ(UidBytes(uid), identity.Bytes(PR_STORE_RECORD_KEY));
        EXPECT_EQ(0, identity.Long(kTagStoreFlags));
        EXPECT_EQ(UidBytes(kProviderUid), identity.Bytes(PR_MDB_PROVIDER));
        EXPECT_EQ(LibraryText(386) + L" (" + g_db->threeMailboxes + L")", identity.Text(PR_DISPLAY_NAME_W));
        EXPECT_EQ(g_db->threeMailboxes, identity.Text(kTagStoreDatabasePath));
        const std::vector<BYTE> entryId = identity.Bytes(PR_ENTRYID);
        EXPECT_EQ(entryId, identity.Bytes(PR_STORE_ENTRYID));
        EXPECT_NE(std::wstring::npos, HexOf(entryId).find(HexOf(UidBytes(uid))));
        // The wrapped identifier ends with the store's 72 bytes: kind 1, this
        // store's UID and the provider's UID.
        ASSERT_GE(entryId.size(), 72u);
        CEntryId store;
        std::memcpy(&store, entryId.data() + entryId.size() - 72, 72);
        EXPECT_EQ(static_cast<ULONG>(kEntryMessageStore), store.kind);
        EXPECT_EQ(0, std::memcmp(store.storeUid.ab, uid.ab, 16));
    }

    // Items in list order (sorted by name), checked as chosen.
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, g_db->logs, AnnAndCarla(), 0),
              ReadFileBytes(SettingsFilePath(uid)));
}

TEST_F(AddStoreWizardTest, DatabasePageChecksThePathsItWasGiven)
{
    const std::wstring missing = g_db->logs + L"\\missing.edb";
    struct Case {
        std::wstring database, logs;
        UINT message; // 0: the page lets the user on
        std::wstring argument;
        int focus;
    };
    const Case cases[] = {
        {L"", L"", 305, L"", 0},
        {L"   \t", g_db->logs, 305, L"", 0},
        {missing, L"", 306, missing, kDatabasePath},
        {L"  " + missing + L" ", L"", 306, missing, kDatabasePath},
        {g_db->threeMailboxes, g_db->threeMailboxes, 304, g_db->threeMailboxes, kLogPath},
        {g_db->threeMailboxes, g_db->logs + L"\\none", 304, g_db->logs + L"\\none", kLogPath},
        {L" " + g_db->threeMailboxes + L" ", g_db->logs + L"  ", 0, L"", 0},
    };
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        // Without the image-mounting driver the wizard starts here, with Next only.
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Next));
        ROBOT_CHECK(log, !robot.ButtonEnabled(EButton::Back));
        ROBOT_CHECK(log, robot.IsEnabled(kDatabaseBrowse) && robot.IsEnabled(kLogBrowse));
        ROBOT_CHECK(log, robot.Text(210) == LibraryText(350) && robot.Text(212) == LibraryText(352));
        for (const Case& c : cases) {
            ROBOT_CHECK(log, robot.SetText(kDatabasePath, c.database));
            ROBOT_CHECK(log, robot.SetText(kLogPath, c.logs));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            if (c.message) {
                ExpectMessage(robot, log,
                              c.argument.empty() ? LibraryText(c.message) : LibraryFormat(c.message, c.argument.c_str()),
                              MB_ICONWARNING);
                ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                if (c.focus)
                    ROBOT_CHECK(log, robot.FocusedControlId() == c.focus);
            }
        }
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, true));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    ASSERT_EQ(S_OK, hr);
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    // The trimmed paths are the ones written.
    const CSectionValues values = m_profile.Read(uid, kPrivateTags);
    EXPECT_EQ(g_db->threeMailboxes, values.Text(kTagDatabasePath));
    EXPECT_EQ(g_db->logs, values.Text(kTagLogPath));
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, g_db->logs,
                                Item(g_db->ann, false, L"Ann Lee") + Item(g_db->bob, true, L"Bob Stone") +
                                    Item(g_db->carla, false, L"Carla Diaz"),
                                0),
              ReadFileBytes(SettingsFilePath(uid)));
}

// Cancel on either page of a first creation: MAPI keeps the service it made
// before it called the entry (its caller deletes it), but nothing of the
// wizard's was written into it.
TEST_F(AddStoreWizardTest, CancelOnEachPageCreatesNothing)
{
    for (const int page : {kDatabasePage, kMailboxPage}) {
        SCOPED_TRACE(page);
        const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
            if (page == kMailboxPage)
                EnterDatabase(robot, log, g_db->threeMailboxes, L"");
            else
                ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.PageId() == page);
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
            ROBOT_CHECK(log, robot.WaitForSheetGone());
        });
        EXPECT_SCRIPT_OK();
        EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
        MAPIUID uid;
        ASSERT_TRUE(m_profile.LastServiceUid(uid));
        const std::wstring database = m_profile.Read(uid, kPrivateTags).Text(kTagDatabasePath);
        EXPECT_TRUE(database.empty() || database == L"<absent>");
        EXPECT_TRUE(ReadFileBytes(SettingsFilePath(uid)).empty());
        EXPECT_EQ(S_OK, m_profile.Delete(uid));
    }
}

// Zero mailboxes leave nothing to check; a public-folder database is no
// error; going back to another database fills the list afresh.
TEST_F(AddStoreWizardTest, EmptyAndPublicFolderDatabases)
{
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        EnterDatabase(robot, log, g_db->noMailboxes, L"");
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 0);
        ROBOT_CHECK(log, !robot.ButtonEnabled(EButton::Finish));
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back));
        ROBOT_CHECK(log, robot.Text(210) == LibraryText(360) && robot.Text(211) == LibraryText(361));

        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.Text(kDatabasePath) == g_db->noMailboxes);
        ROBOT_CHECK(log, robot.SetText(kDatabasePath, g_db->publicFolders));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 1);
        ROBOT_CHECK(log, robot.ListText(kMailboxList, 0) == LibraryText(365));
        ROBOT_CHECK(log, !robot.ListHasCheckBoxes(kMailboxList));
        ROBOT_CHECK(log, !robot.IsEnabled(kMailboxList));
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Finish));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    ASSERT_EQ(S_OK, hr);
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    EXPECT_EQ(SettingsFileBytes(g_db->publicFolders, L"", L"", 1), ReadFileBytes(SettingsFilePath(uid)));
}

// What the server cannot open is reported on the mailbox page, which stays
// without Finish and tries again on the next visit.
TEST_F(AddStoreWizardTest, DatabasesTheServerCannotOpen)
{
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        for (const std::wstring& path : {g_db->garbage, g_db->aFolder}) {
            EnterDatabase(robot, log, path, L"");
            SMessageBox box;
            ROBOT_CHECK(log, robot.WaitForMessageBox(box, 20000));
            ROBOT_CHECK(log, box.caption == LibraryText(301));
            ROBOT_CHECK(log, box.icon == MB_ICONERROR);
            // The server's own error numbers choose the text; the stand-in
            // engine reports codes of its own, shown as such.
            const std::wstring framed = LibraryText(320);
            ROBOT_CHECK(log, box.text.compare(0, framed.find(L"0x"), framed, 0, framed.find(L"0x")) == 0);
            ROBOT_CHECK(log, robot.Dismiss(box));
            ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
            ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 0);
            ROBOT_CHECK(log, !robot.ButtonEnabled(EButton::Finish));
            // Back and Next without a change: the fill is tried again.
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, robot.WaitForMessageBox(box, 20000));
            ROBOT_CHECK(log, robot.Dismiss(box));
            ROBOT_CHECK(log, robot.Press(EButton::Back));
        }
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
}

// A toggle of a selected item's check box carries the other selected items
// with it; a change that also changes the selection touches the item alone.
// Going Back and Next without a change keeps the checks.
TEST_F(AddStoreWizardTest, CheckBoxesFollowTheSelection)
{
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        EnterDatabase(robot, log, g_db->threeMailboxes, L"");
        ROBOT_CHECK(log, robot.ListText(kMailboxList, 0) == L"Ann Lee");
        ROBOT_CHECK(log, robot.ListText(kMailboxList, 1) == L"Bob Stone");
        ROBOT_CHECK(log, robot.ListText(kMailboxList, 2) == L"Carla Diaz");
        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {0, 1}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 0, true));
        ROBOT_CHECK(log, robot.ListChecked(kMailboxList, 0) && robot.ListChecked(kMailboxList, 1));
        ROBOT_CHECK(log, !robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Finish));

        ROBOT_CHECK(log, robot.ListSetStateWithSelection(kMailboxList, 2, true));
        ROBOT_CHECK(log, robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, robot.ListChecked(kMailboxList, 0) && robot.ListChecked(kMailboxList, 1));

        // Unchecking the last of a selection of one leaves Finish disabled
        // once nothing is checked.
        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {1}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, false));
        ROBOT_CHECK(log, robot.ListChecked(kMailboxList, 0) && !robot.ListChecked(kMailboxList, 1));
        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {0, 2}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 2, false));
        ROBOT_CHECK(log, !robot.ListChecked(kMailboxList, 0) && !robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, !robot.ButtonEnabled(EButton::Finish));

        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {2}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 2, true));
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 3);
        ROBOT_CHECK(log, !robot.ListChecked(kMailboxList, 0) && robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    ASSERT_EQ(S_OK, hr);
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, L"",
                                Item(g_db->ann, false, L"Ann Lee") + Item(g_db->bob, false, L"Bob Stone") +
                                    Item(g_db->carla, true, L"Carla Diaz"),
                                0),
              ReadFileBytes(SettingsFilePath(uid)));
}

// Configure with SERVICE_UI_ALWAYS alone reopens the wizard over the stored
// configuration: the source is locked, Next checks nothing, the list comes
// from the stored selection, and a changed selection is saved and told to
// the open store.
TEST_F(AddStoreWizardTest, ReconfigureShowsTheStoredChoiceAndSignalsAChange)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    GUID guid;
    std::memcpy(&guid, uid.ab, sizeof(guid));
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, (std::wstring(text) + L"MailboxChanged").c_str());
    ASSERT_NE(nullptr, changed);

    // Cancelled: nothing changes and the store is not told.
    HRESULT hr = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, true));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(changed, 0));
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, g_db->logs, AnnAndCarla(), 0),
              ReadFileBytes(SettingsFilePath(uid)));

    hr = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.Text(kDatabasePath) == g_db->threeMailboxes);
        ROBOT_CHECK(log, robot.Text(kLogPath) == g_db->logs);
        ROBOT_CHECK(log, robot.IsReadOnly(kDatabasePath) && robot.IsReadOnly(kLogPath));
        ROBOT_CHECK(log, !robot.IsEnabled(kDatabaseBrowse) && !robot.IsEnabled(kLogBrowse));
        // Whatever the fields hold, Next checks nothing.
        ROBOT_CHECK(log, robot.SetText(kDatabasePath, L""));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 3);
        ROBOT_CHECK(log, robot.ListChecked(kMailboxList, 0) && !robot.ListChecked(kMailboxList, 1) &&
                             robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Finish));
        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {1}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, true));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(changed, 0));
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, g_db->logs,
                                Item(g_db->ann, true, L"Ann Lee") + Item(g_db->bob, true, L"Bob Stone") +
                                    Item(g_db->carla, true, L"Carla Diaz"),
                                0),
              ReadFileBytes(SettingsFilePath(uid)));
    EXPECT_EQ(g_db->threeMailboxes, m_profile.Read(uid, kPrivateTags).Text(kTagDatabasePath));

    // Finish without a change does not tell the store.
    hr = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(changed, 0));
    CloseHandle(changed);
}

// With the settings in place, configure with SERVICE_UI_ALLOWED shows no
// wizard and writes nothing of the wizard's, but completes the provider's
// section. A profile whose settings file is gone (copied to another
// machine) gets the wizard, prefilled, and a new settings file.
TEST_F(AddStoreWizardTest, ConfigureAllowedRunsTheWizardOnlyWhenTheSettingsAreMissing)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    MAPIUID provider;
    ASSERT_TRUE(m_profile.ProviderSection(uid, provider));
    DeleteServiceProps(uid, {PR_ENTRYID, PR_STORE_ENTRYID});
    const std::vector<BYTE> before = ReadFileBytes(SettingsFilePath(uid));

    HRESULT hr = Configure(uid, SERVICE_UI_ALLOWED, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, !robot.WaitForSheet(3000));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(before, ReadFileBytes(SettingsFilePath(uid)));
    EXPECT_EQ(m_profile.Read(provider, {PR_ENTRYID}).Bytes(PR_ENTRYID),
              m_profile.Read(uid, {PR_ENTRYID}).Bytes(PR_ENTRYID));

    ASSERT_TRUE(DeleteFileW(SettingsFilePath(uid).c_str()));
    hr = Configure(uid, SERVICE_UI_ALLOWED, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.IsReadOnly(kDatabasePath));
        ROBOT_CHECK(log, robot.Text(kDatabasePath) == g_db->threeMailboxes);
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        // No stored selection: the list comes from the database.
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 3);
        ROBOT_CHECK(log, !robot.ListChecked(kMailboxList, 0) && !robot.ListChecked(kMailboxList, 2));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, true));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(SettingsFileBytes(g_db->threeMailboxes, g_db->logs,
                                Item(g_db->ann, false, L"Ann Lee") + Item(g_db->bob, true, L"Bob Stone") +
                                    Item(g_db->carla, false, L"Carla Diaz"),
                                0),
              ReadFileBytes(SettingsFilePath(uid)));
}

// An entry identifier of another service (a copied section) is rewritten;
// one that carries this service's UID is left as it is.
TEST_F(AddStoreWizardTest, OnlyAStaleEntryIdentifierIsRewritten)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    const std::vector<BYTE> written = m_profile.Read(uid, {PR_ENTRYID}).Bytes(PR_ENTRYID);

    std::vector<BYTE> foreign(72, 0x11);
    SPropValue value{};
    value.ulPropTag = PR_ENTRYID;
    value.Value.bin.cb = static_cast<ULONG>(foreign.size());
    value.Value.bin.lpb = foreign.data();
    SetServiceProps(uid, {value});
    EXPECT_EQ(written, m_profile.Read(uid, {PR_ENTRYID}).Bytes(PR_ENTRYID));

    std::vector<BYTE> own = {0xAB, 0xCD};
    own.insert(own.end(), uid.ab, uid.ab + 16);
    own.push_back(0xEF);
    value.Value.bin.cb = static_cast<ULONG>(own.size());
    value.Value.bin.lpb = own.data();
    SetServiceProps(uid, {value});
    EXPECT_EQ(own, m_profile.Read(uid, {PR_ENTRYID}).Bytes(PR_ENTRYID));
}

// The contexts without a wizard, called as MAPI calls them.
TEST_F(AddStoreWizardTest, ContextsWithoutAWizard)
{
    // Without the wizard there is nothing to create a store from; the
    // service MAPI made before the call is the caller's to delete.
    EXPECT_EQ(E_INVALIDARG, m_profile.CreateService(0));
    MAPIUID refused;
    ASSERT_TRUE(m_profile.LastServiceUid(refused));
    EXPECT_FALSE(m_profile.Read(refused, kPrivateTags).Has(kTagDatabasePath));
    EXPECT_EQ(S_OK, m_profile.Delete(refused));
    MAPIUID none;
    EXPECT_FALSE(m_profile.LastServiceUid(none));

    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    ServiceEntryFn entry = Entry();
    ASSERT_NE(nullptr, entry);
    ComPtr<IProviderAdmin> admin = AdminOf(uid);
    const std::vector<BYTE> settings = ReadFileBytes(SettingsFilePath(uid));
    for (ULONG context : {MSG_SERVICE_INSTALL, MSG_SERVICE_UNINSTALL, MSG_SERVICE_PROVIDER_CREATE,
                          MSG_SERVICE_PROVIDER_DELETE}) {
        LPMAPIERROR error = reinterpret_cast<LPMAPIERROR>(1);
        EXPECT_EQ(S_OK, entry(Kolven32(), nullptr, nullptr, 0, SERVICE_UI_ALWAYS, context, 0, nullptr, admin.Get(),
                              &error));
        EXPECT_EQ(nullptr, error);
    }
    // Configure without values and without a UI flag does nothing.
    EXPECT_EQ(S_OK, entry(Kolven32(), nullptr, nullptr, 0, 0, MSG_SERVICE_CONFIGURE, 0, nullptr, admin.Get(), nullptr));
    EXPECT_EQ(settings, ReadFileBytes(SettingsFilePath(uid)));
}

// A first creation cancelled: the result is MAPI_E_USER_CANCEL with an
// empty MAPIERROR, and the two paths are written empty.
TEST_F(AddStoreWizardTest, CancelledCreationWritesEmptyPaths)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    DeleteServiceProps(uid, kPrivateTags);
    ComPtr<IProviderAdmin> admin = AdminOf(uid);
    LPMAPIERROR error = nullptr;
    const HRESULT hr = RunWithRobot(
        [&] {
            return Entry()(Kolven32(), nullptr, nullptr, 0, SERVICE_UI_ALWAYS, MSG_SERVICE_CREATE, 0, nullptr,
                           admin.Get(), &error);
        },
        [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            // Not prefilled: the fields are the user's to fill.
            ROBOT_CHECK(log, robot.Text(kDatabasePath).empty() && !robot.IsReadOnly(kDatabasePath));
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        },
        m_log);
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
    ASSERT_NE(nullptr, error);
    const MAPIERROR zero{};
    EXPECT_EQ(0, std::memcmp(&zero, error, sizeof(MAPIERROR)));
    EXPECT_EQ(sizeof(void*) == 8 ? 32u : 20u, sizeof(MAPIERROR));
    MAPIFreeBuffer(error);
    const CSectionValues values = m_profile.Read(uid, kPrivateTags);
    EXPECT_EQ(L"", values.Text(kTagDatabasePath));
    EXPECT_EQ(L"", values.Text(kTagLogPath));
    EXPECT_FALSE(values.Has(kTagSourceKind));

    // Empty paths are no configuration to reopen: the wizard starts afresh.
    const HRESULT again = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, !robot.IsReadOnly(kDatabasePath) && robot.IsEnabled(kDatabaseBrowse));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, again);
}

// Delete removes the settings file, the identity on both sections and the
// private properties.
TEST_F(AddStoreWizardTest, DeleteRemovesWhatTheServiceWrote)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    MAPIUID provider;
    ASSERT_TRUE(m_profile.ProviderSection(uid, provider));
    ASSERT_FALSE(ReadFileBytes(SettingsFilePath(uid)).empty());
    ComPtr<IProviderAdmin> admin = AdminOf(uid);
    // An identity section named by the service UID itself, as MAPI keeps one.
    {
        MAPIUID named = uid;
        ComPtr<IProfSect> section;
        ASSERT_EQ(S_OK, admin->OpenProfileSection(&named, nullptr, MAPI_MODIFY, section.GetAddressOf()));
        SPropValue flag{};
        flag.ulPropTag = kTagStoreFlags;
        flag.Value.l = 0;
        ASSERT_EQ(S_OK, section->SetProps(1, &flag, nullptr));
    }

    EXPECT_EQ(S_OK, Entry()(Kolven32(), nullptr, nullptr, 0, 0, MSG_SERVICE_DELETE, 0, nullptr, admin.Get(), nullptr));
    EXPECT_EQ(static_cast<DWORD>(INVALID_FILE_ATTRIBUTES), GetFileAttributesW(SettingsFilePath(uid).c_str()));
    for (ULONG tag : {PR_RECORD_KEY, PR_STORE_RECORD_KEY, kTagStoreFlags, PR_MDB_PROVIDER, PR_STORE_ENTRYID,
                      PR_ENTRYID}) {
        EXPECT_FALSE(m_profile.Read(uid, {tag}).Has(tag)) << std::hex << tag;
    }
    for (ULONG tag : kPrivateTags)
        EXPECT_FALSE(m_profile.Read(uid, {tag}).Has(tag)) << std::hex << tag;
    // The provider's own section is MAPI's to remove.
    EXPECT_TRUE(m_profile.Read(provider, {PR_ENTRYID}).Has(PR_ENTRYID));

    // Deleting again finds nothing to do and still succeeds.
    EXPECT_EQ(S_OK, Entry()(Kolven32(), nullptr, nullptr, 0, 0, MSG_SERVICE_DELETE, 0, nullptr, admin.Get(), nullptr));
    EXPECT_EQ(S_OK, m_profile.Delete(uid));
    EXPECT_FALSE(m_profile.HasService(uid));
}

// The side files of an archive store's images go with the service: one per
// drive, so a log folder on the database's drive takes none of its own.
TEST_F(AddStoreWizardTest, DeleteOfAnArchiveStoreRemovesTheChangeFiles)
{
    std::vector<wchar_t> free;
    for (wchar_t letter = L'Y'; letter > L'D' && free.size() < 2; --letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
            free.push_back(letter);
    }
    ASSERT_EQ(2u, free.size());
    const std::wstring onDatabaseDrive = std::wstring(1, free[0]) + L":\\Logs";
    // The same drive, its letter written in lower case.
    const std::wstring onDatabaseDriveLower = std::wstring(1, static_cast<wchar_t>(towlower(free[0]))) + L":\\Logs";
    const std::wstring onOtherDrive = std::wstring(1, free[1]) + L":\\Logs";
    for (const std::wstring& logs : {onDatabaseDrive, onDatabaseDriveLower, onOtherDrive}) {
        SCOPED_TRACE(std::string(logs.begin(), logs.end()));
        const MAPIUID uid = CreateStore();
        ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
        const std::wstring databaseImage = g_db->logs + L"\\Monday-1.KZF";
        const std::wstring logImage = g_db->logs + L"\\Monday-2.KZF";
        for (const std::wstring& file : {databaseImage + L".chunk.dat", logImage + L".chunk.dat"}) {
            FILE* made = _wfopen(file.c_str(), L"wb");
            ASSERT_NE(nullptr, made);
            fclose(made);
        }
        CValues values;
        SetServiceProps(uid, {values.Long(kTagSourceKind, 1),
                              values.Text(kTagDatabasePath, std::wstring(1, free[0]) + L":\\Data\\priv1.edb"),
                              values.Text(kTagLogPath, logs), values.Text(kTagDatabaseImage, databaseImage),
                              values.Text(kTagLogImage, logImage)});
        EXPECT_EQ(S_OK, m_profile.Delete(uid));
        EXPECT_EQ(static_cast<DWORD>(INVALID_FILE_ATTRIBUTES),
                  GetFileAttributesW((databaseImage + L".chunk.dat").c_str()));
        const bool logChangeFileLeft =
            GetFileAttributesW((logImage + L".chunk.dat").c_str()) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(logs != onOtherDrive, logChangeFileLeft);
        DeleteFileW((logImage + L".chunk.dat").c_str());
    }
}

// Reconfiguring an archive store whose drives are gone (after a restart)
// mounts the database's image again before the database is opened; the
// mount's failure goes to the log, and the open that follows reports it.
TEST_F(AddStoreWizardTest, ReconfiguringAnArchiveStoreRemountsItsImageFirst)
{
    std::vector<wchar_t> free;
    for (wchar_t letter = L'Y'; letter > L'D' && free.size() < 2; --letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
            free.push_back(letter);
    }
    ASSERT_EQ(2u, free.size());
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    const std::wstring databaseImage = g_db->logs + L"\\Tuesday-1.KZF";
    const std::wstring logImage = g_db->logs + L"\\Tuesday-2.KZF";
    const std::wstring databaseRoot = std::wstring(1, free[0]) + L":\\";
    CValues values;
    SetServiceProps(uid, {values.Long(kTagSourceKind, 1), values.Text(kTagDatabasePath, databaseRoot + L"Data\\priv1.edb"),
                          values.Text(kTagLogPath, std::wstring(1, free[1]) + L":\\Logs"),
                          values.Text(kTagDatabaseImage, databaseImage), values.Text(kTagLogImage, logImage)});
    // A reconfiguration with an empty stored selection lists the mailboxes
    // from the database.
    ASSERT_TRUE(DeleteFileW(SettingsFilePath(uid).c_str()));

    const std::wstring logFile = SettingsFilePath(uid).substr(0, SettingsFilePath(uid).find_last_of(L'\\')) +
                                 L"\\KOLWEN32.log";
    const size_t mark = ReadFileBytes(logFile).size();
    const HRESULT hr = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        SMessageBox box;
        ROBOT_CHECK(log, robot.WaitForMessageBox(box, 20000));
        ROBOT_CHECK(log, box.icon == MB_ICONERROR);
        ROBOT_CHECK(log, robot.Dismiss(box));
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
    const std::vector<BYTE> bytes = ReadFileBytes(logFile);
    ASSERT_GT(bytes.size(), mark);
    const std::wstring added(reinterpret_cast<const wchar_t*>(bytes.data() + mark), (bytes.size() - mark) / 2);
    EXPECT_NE(std::wstring::npos, added.find(databaseImage + L", " + databaseRoot)) << std::string(added.begin(), added.end());
    // The log image waits for the database's image to be there.
    EXPECT_EQ(std::wstring::npos, added.find(logImage));
}

// The add-in finds the stores of this provider in a session by their
// provider UID.
TEST_F(AddStoreWizardTest, ProfileGuidListNamesTheServicesOfThisProvider)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    ComPtr<IMAPISession> session;
    ASSERT_EQ(S_OK, MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(m_profile.Name().c_str())), nullptr,
                                MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session.GetAddressOf()));
    std::vector<MAPIUID> list(1);
    EXPECT_EQ(1u, setup::GetProfileGuidListFromProfile(session.Get(), list));
    ASSERT_EQ(2u, list.size());
    EXPECT_EQ(0, std::memcmp(list[1].ab, uid.ab, sizeof(uid.ab)));
    EXPECT_EQ(0u, setup::GetProfileGuidListFromProfile(nullptr, list));
    session->Logoff(0, 0, 0);
}

std::vector<std::wstring> ChildNames(IMAPIFolder* folder)
{
    std::vector<std::wstring> names;
    ComPtr<IMAPITable> table;
    if (!folder || FAILED(folder->GetHierarchyTable(0, table.GetAddressOf())))
        return {L"<no table>"};
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, columns) = {1, {PR_DISPLAY_NAME_W}};
    if (FAILED(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows)))
        return {L"<no rows>"};
    for (ULONG r = 0; r < rows->cRows; ++r)
        names.push_back(rows->aRow[r].lpProps[0].ulPropTag == PR_DISPLAY_NAME_W ? rows->aRow[r].lpProps[0].Value.lpszW
                                                                               : L"<no name>");
    FreeProws(rows);
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<BYTE> FirstChildEntryId(IMAPIFolder* folder)
{
    std::vector<BYTE> id;
    ComPtr<IMAPITable> table;
    LPSRowSet rows = nullptr;
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    if (SUCCEEDED(folder->GetHierarchyTable(0, table.GetAddressOf())) &&
        SUCCEEDED(HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows)) &&
        rows->cRows > 0 && rows->aRow[0].lpProps[0].ulPropTag == PR_ENTRYID) {
        const SBinary& bin = rows->aRow[0].lpProps[0].Value.bin;
        id.assign(bin.lpb, bin.lpb + bin.cb);
    }
    if (rows)
        FreeProws(rows);
    return id;
}

ComPtr<IMAPIFolder> OpenIpmSubtree(IMsgStore* store)
{
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_SUBTREE_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    ComPtr<IMAPIFolder> folder;
    if (SUCCEEDED(store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values)) &&
        values[0].ulPropTag == PR_IPM_SUBTREE_ENTRYID) {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        if (SUCCEEDED(store->OpenEntry(values[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[0].Value.bin.lpb),
                                       nullptr, MAPI_BEST_ACCESS, &type, object.GetAddressOf())))
            object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
    }
    MAPIFreeBuffer(values);
    return folder;
}

// What the wizard wrote is what the store serves: logon opens the store, its
// IPM subtree shows the checked mailboxes, a changed selection reaches the
// open store, and deleting the service closes it.
TEST_F(AddStoreWizardTest, LogonServesTheStoreTheWizardAdded)
{
    const MAPIUID uid = CreateStore();
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    ComPtr<IMAPISession> session;
    ASSERT_EQ(S_OK, MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(m_profile.Name().c_str())), nullptr,
                                MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session.GetAddressOf()));
    ComPtr<IMsgStore> store;
    ASSERT_EQ(S_OK, providertest::OpenStoreOf(session.Get(), uid, store.GetAddressOf()));
    ComPtr<IMAPIFolder> ipm = OpenIpmSubtree(store.Get());
    ASSERT_NE(nullptr, ipm);
    EXPECT_EQ((std::vector<std::wstring>{L"Ann Lee", L"Carla Diaz"}), ChildNames(ipm.Get()));

    const HRESULT hr = Configure(uid, SERVICE_UI_ALWAYS, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.ListSelect(kMailboxList, {1}));
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 1, true));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    EXPECT_SCRIPT_OK();
    ASSERT_EQ(S_OK, hr);
    std::vector<std::wstring> names;
    for (int i = 0; i < 100; ++i) {
        names = ChildNames(ipm.Get());
        if (names.size() == 3)
            break;
        Sleep(50);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Ann Lee", L"Bob Stone", L"Carla Diaz"}), names);

    // The open store is closed with the service: its mailboxes are no longer
    // reached through the server.
    const std::vector<BYTE> mailbox = FirstChildEntryId(ipm.Get());
    ASSERT_FALSE(mailbox.empty());
    auto openMailbox = [&] {
        ULONG type = 0;
        ComPtr<IUnknown> object;
        return store->OpenEntry(static_cast<ULONG>(mailbox.size()),
                                reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(mailbox.data())), nullptr,
                                MAPI_BEST_ACCESS, &type, object.GetAddressOf());
    };
    EXPECT_EQ(S_OK, openMailbox());
    EXPECT_EQ(S_OK, m_profile.Delete(uid));
    EXPECT_TRUE(FAILED(openMailbox()));
    ipm.Reset();
    store.Reset();
    session->Logoff(0, 0, 0);
}

// The record of what outlives a process or crosses to a peer: one line per
// value, its bytes in hexadecimal.
class CStoredBytes {
public:
    void Add(const std::string& name, const std::vector<BYTE>& bytes)
    {
        std::wstring hex = HexOf(bytes);
        m_text += name + " " + std::string(hex.begin(), hex.end()) + "\n";
    }
    void AddText(const std::string& name, const std::wstring& text)
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(text.data());
        Add(name, std::vector<BYTE>(bytes, bytes + text.size() * sizeof(wchar_t)));
    }
    void AddLong(const std::string& name, LONG value)
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
        Add(name, std::vector<BYTE>(bytes, bytes + sizeof(value)));
    }
    void AddNote(const std::string& line) { m_text += line + "\n"; }
    // Each section's UID is new with every profile: it is named, not compared.
    void Mask(const MAPIUID& uid, const std::string& name)
    {
        const std::wstring wide = HexOf(UidBytes(uid));
        const std::string hex(wide.begin(), wide.end());
        for (size_t at = m_text.find(hex); at != std::string::npos; at = m_text.find(hex, at))
            m_text.replace(at, hex.size(), "<" + name + ">");
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

std::string TagName(ULONG tag)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lX", static_cast<unsigned long>(tag));
    return text;
}

void AddSectionValues(CStoredBytes& record, const std::string& section, const CSectionValues& values,
                      const std::vector<ULONG>& tags)
{
    for (ULONG tag : tags) {
        const std::string name = section + " " + TagName(tag);
        if (!values.Has(tag)) {
            record.AddNote(name + " absent");
            continue;
        }
        switch (PROP_TYPE(tag)) {
        case PT_LONG:
            record.AddLong(name, values.Long(tag));
            break;
        case PT_UNICODE:
            record.AddText(name, values.Text(tag));
            break;
        case PT_MV_UNICODE: {
            int n = 0;
            for (const std::wstring& text : values.Texts(tag))
                record.AddText(name + "[" + std::to_string(n++) + "]", text);
            break;
        }
        default:
            record.Add(name, values.Bytes(tag));
        }
    }
}

std::vector<BYTE> BinaryProp(IMAPIProp* object, ULONG tag)
{
    std::vector<BYTE> bytes;
    LPSPropValue value = nullptr;
    if (SUCCEEDED(HrGetOneProp(object, tag, &value)) && value->ulPropTag == tag)
        bytes.assign(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
    MAPIFreeBuffer(value);
    return bytes;
}

// The entry identifiers of a table's rows, ordered by name (folders) or
// subject (messages).
std::vector<std::vector<BYTE>> RowEntryIds(IMAPITable* table)
{
    std::vector<std::pair<std::wstring, std::vector<BYTE>>> rows;
    LPSRowSet set = nullptr;
    SizedSPropTagArray(3, columns) = {3, {PR_DISPLAY_NAME_W, PR_SUBJECT_W, PR_ENTRYID}};
    if (table && SUCCEEDED(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                          &set))) {
        for (ULONG r = 0; r < set->cRows; ++r) {
            const SPropValue* values = set->aRow[r].lpProps;
            if (values[2].ulPropTag != PR_ENTRYID)
                continue;
            std::wstring key = values[0].ulPropTag == PR_DISPLAY_NAME_W ? values[0].Value.lpszW : L"";
            if (values[1].ulPropTag == PR_SUBJECT_W)
                key += values[1].Value.lpszW;
            rows.emplace_back(key, std::vector<BYTE>(values[2].Value.bin.lpb,
                                                     values[2].Value.bin.lpb + values[2].Value.bin.cb));
        }
        FreeProws(set);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::vector<BYTE>> ids;
    for (auto& row : rows)
        ids.push_back(std::move(row.second));
    return ids;
}

// A folder's identifier, then its messages' and its subfolders' in turn.
void AddFolderTree(CStoredBytes& record, IMsgStore* store, const std::string& path, const std::vector<BYTE>& id,
                   int depth)
{
    record.Add("entryid " + path, id);
    if (depth > 4)
        return;
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ComPtr<IMAPIFolder> folder;
    if (FAILED(store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data())),
                                nullptr, MAPI_BEST_ACCESS, &type, object.GetAddressOf())) ||
        FAILED(object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf())))) {
        record.AddNote("entryid " + path + " does not open");
        return;
    }
    ComPtr<IMAPITable> contents;
    if (SUCCEEDED(folder->GetContentsTable(0, contents.GetAddressOf()))) {
        int n = 0;
        for (const std::vector<BYTE>& message : RowEntryIds(contents.Get()))
            record.Add("entryid " + path + " message " + std::to_string(n++), message);
    }
    ComPtr<IMAPITable> hierarchy;
    if (SUCCEEDED(folder->GetHierarchyTable(0, hierarchy.GetAddressOf()))) {
        int n = 0;
        for (const std::vector<BYTE>& child : RowEntryIds(hierarchy.Get()))
            AddFolderTree(record, store, path + "/" + std::to_string(n++), child, depth + 1);
    }
}

std::string ReadText(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// What the store keeps and hands out has one byte layout in every build: the
// settings file, the values the service writes into the profile and the
// entry identifiers of the store, its folders and messages. The i686 and the
// x86_64 build are both held against the same record
// (setup/wizard/testdata/StoredBytes.txt), made of a fixed database at a
// fixed path; on a difference the record of this build is written beside the
// test as StoredBytes.actual.txt.
TEST_F(AddStoreWizardTest, StoredBytesAreTheSameInEveryBuild)
{
    const std::wstring folder = L"C:\\VostrelStoredBytes";
    const std::wstring database = folder + L"\\layout.edb";
    const std::wstring logs = folder + L"\\logs";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(logs.c_str(), nullptr);
    {
        using namespace exchangefixture;
        CExchangeDatabase layout;
        const SMailbox ann = layout.AddMailbox(L"Ann Lee");
        layout.AddMailbox(L"Bob Stone");
        const int64_t inbox = layout.AddFolder(ann.topId, L"Inbox");
        SMessage first;
        first.subject = L"First";
        first.body = L"One body.";
        layout.AddMessage(inbox, first);
        SMessage second;
        second.subject = L"Second";
        second.read = true;
        layout.AddMessage(inbox, second);
        layout.AddFolder(ann.topId, L"Sent Items");
        layout.Write("C:\\VostrelStoredBytes\\layout.edb");
    }

    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        EnterDatabase(robot, log, database, logs);
        ROBOT_CHECK(log, robot.ListCount(kMailboxList) == 2);
        ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, 0, true)); // Ann Lee
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    });
    ASSERT_EQ(S_OK, hr);
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    MAPIUID uid{};
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    MAPIUID provider{};
    ASSERT_TRUE(m_profile.ProviderSection(uid, provider));

    CStoredBytes record;
    record.Add("settings", ReadFileBytes(SettingsFilePath(uid)));
    AddSectionValues(record, "service", m_profile.Read(uid, kPrivateTags), kPrivateTags);
    AddSectionValues(record, "service", m_profile.Read(uid, kIdentityTags), kIdentityTags);
    AddSectionValues(record, "provider", m_profile.Read(provider, kIdentityTags), kIdentityTags);

    ComPtr<IMAPISession> session;
    ASSERT_EQ(S_OK, MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(m_profile.Name().c_str())), nullptr,
                                MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session.GetAddressOf()));
    {
        ComPtr<IMsgStore> store;
        ASSERT_EQ(S_OK, providertest::OpenStoreOf(session.Get(), uid, store.GetAddressOf()));
        record.Add("store entryid", BinaryProp(store.Get(), PR_ENTRYID));
        record.Add("store record key", BinaryProp(store.Get(), PR_RECORD_KEY));
        const std::vector<BYTE> ipm = BinaryProp(store.Get(), PR_IPM_SUBTREE_ENTRYID);
        ASSERT_FALSE(ipm.empty());
        AddFolderTree(record, store.Get(), "ipm", ipm, 0);
    }
    session->Logoff(0, 0, 0);
    session.Reset();
    EXPECT_EQ(S_OK, m_profile.Delete(uid));

    record.Mask(uid, "service uid");
    record.Mask(provider, "provider section uid");
    const std::string expected = ReadText(L"testdata\\StoredBytes.txt");
    ASSERT_FALSE(expected.empty()) << "testdata\\StoredBytes.txt is missing beside the test";
    if (record.Text() != expected) {
        if (FILE* file = _wfopen(L"StoredBytes.actual.txt", L"wb")) {
            fwrite(record.Text().data(), 1, record.Text().size(), file);
            fclose(file);
        }
        // The first line that differs, for the failure message.
        size_t at = 0;
        while (at < expected.size() && at < record.Text().size() && expected[at] == record.Text()[at])
            ++at;
        const size_t line = expected.rfind('\n', at == 0 ? 0 : at - 1);
        const size_t from = line == std::string::npos ? 0 : line + 1;
        ADD_FAILURE() << "stored bytes differ from testdata\\StoredBytes.txt (this build's record: "
                      << "StoredBytes.actual.txt) at:\n  expected: "
                      << expected.substr(from, expected.find('\n', from) - from) << "\n  actual:   "
                      << record.Text().substr(from, record.Text().find('\n', from) - from);
    }
    DeleteFileW(database.c_str());
    RemoveDirectoryW(logs.c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
