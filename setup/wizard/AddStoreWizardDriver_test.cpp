// The add-store wizard with the image-mounting driver installed: the sheet
// finds the driver's controller, so the wizard starts with the data-source
// page, and Cancel opens the controller to take down what the pages mounted.
// The backup sources are made from the sample database (with a mailbox only
// its logs hold) and go through the whole life of a store: the wizard mounts
// the archive volume or the catalog version's VHD, the store is logged on to
// and browsed, logging off takes the drives down, the next logon mounts them
// again, and deleting the service takes them down with their change files.
// The user's archives, images and catalogs stay as they were throughout.
#include "ProviderPlatform.h"

#include "BackupSampleFixture.h"
#include "BackupSourceBuilder.h"
#include "CAddStoreWizardSheet.h"
#include "ExchangeFixture.h"
#include "ImageMount.h"
#include "Messages.h"
#include "QorApi.h"
#include "QorBusTestSupport.h"
#include "WizardProbes.h"
#include "WizardSession.h"
#include "testing/StoreProfile.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace wizardtest;
using backupsource::Utf8;
using backupsource::Wide;

constexpr int kDatasourcePage = 107;
constexpr int kVolumePage = 235;
constexpr int kVersionPage = 236;
constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;

constexpr int kBackupRadio = 219;
constexpr int kBackupFolder = 221;
constexpr int kCatalogRadio = 220;
constexpr int kCatalogFolder = 223;
constexpr int kVolumeList = 239;
constexpr int kToDatabase = 214;
constexpr int kToLogs = 240;
constexpr int kDatabaseVolume = 241;
constexpr int kLogVolume = 242;
constexpr int kDatabaseList = 245;
constexpr int kVersionList = 246;
constexpr int kDatabasePath = 207;
constexpr int kLogPath = 208;
constexpr int kMailboxList = 1120;

constexpr ULONG kTagDatabasePath = 0x6610001F;
constexpr ULONG kTagLogPath = 0x6611001F;
constexpr ULONG kTagSourceKind = 0x66120003;
constexpr ULONG kTagDatabaseImage = 0x6613001F;
constexpr ULONG kTagLogImage = 0x6614001F;
constexpr ULONG kTagRestoreMap = 0x6615101F;
constexpr ULONG kTagCatalogBackupId = 0x66160003;

using Sums = std::map<std::wstring, std::pair<uint64_t, uint32_t>>;

// Size and CRC-32 of every file under a folder.
Sums SumsOf(const std::wstring& folder)
{
    Sums sums;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return sums;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const Sums inner = SumsOf(path);
            sums.insert(inner.begin(), inner.end());
            continue;
        }
        const std::vector<uint8_t> bytes = qorbustest::ReadBytes(path);
        sums[path] = {bytes.size(), static_cast<uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())))};
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return sums;
}

// The images the driver holds open now.
uint32_t OpenImages()
{
    HANDLE controller = INVALID_HANDLE_VALUE;
    if (!QorApiControllerOpen(&controller))
        return ~0u;
    uint32_t indices[64];
    uint32_t count = 64;
    if (!QorApiEnumImages(controller, indices, &count, nullptr))
        count = ~0u;
    QorApiControllerClose(controller);
    return count;
}

// Drive roots ("X:\") shown now that were not in `before` (a drive mask).
std::vector<std::wstring> NewDrives(DWORD before)
{
    std::vector<std::wstring> roots;
    const DWORD now = GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if ((now & (1u << bit)) && !(before & (1u << bit)))
            roots.push_back(std::wstring(1, static_cast<wchar_t>(L'A' + bit)) + L":\\");
    }
    return roots;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> Texts(CWizardRobot& robot, int list)
{
    std::vector<std::wstring> texts;
    for (int item = 0; item < robot.ListCount(list); ++item)
        texts.push_back(robot.ListText(list, item));
    return texts;
}

int IndexOf(const std::vector<std::wstring>& texts, const std::wstring& text)
{
    const auto at = std::find(texts.begin(), texts.end(), text);
    return at == texts.end() ? -1 : static_cast<int>(at - texts.begin());
}

struct CRowsFree {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, CRowsFree>;

Rows AllRows(IMAPITable* table, ULONG tag1, ULONG tag2)
{
    SizedSPropTagArray(2, columns) = {2, {tag1, tag2}};
    LPSRowSet rows = nullptr;
    if (!table || FAILED(HrQueryAllRows(table, reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows)))
        return nullptr;
    return Rows(rows);
}

ComPtr<IMAPIFolder> OpenFolder(IMsgStore* store, const SBinary& entryId)
{
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ComPtr<IMAPIFolder> folder;
    if (SUCCEEDED(store->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, MAPI_BEST_ACCESS,
                                   &type, object.GetAddressOf())))
        object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
    return folder;
}

// What a user sees of the store: the mailboxes under the IPM subtree, how
// many messages the contents tables of one mailbox's folders hold, and a
// message opened from one of them.
struct SBrowsed {
    std::vector<std::wstring> mailboxes;
    ULONG messages = 0;
    // The subject of the first message opened, as the message gives it.
    std::wstring openedSubject;
};

// The subject a message opened by its entry identifier answers.
std::wstring OpenedSubject(IMsgStore* store, const SBinary& entryId)
{
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ComPtr<IMessage> message;
    if (FAILED(store->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, MAPI_BEST_ACCESS,
                                &type, object.GetAddressOf())) ||
        type != MAPI_MESSAGE ||
        FAILED(object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf()))))
        return std::wstring();
    LPSPropValue subject = nullptr;
    std::wstring text;
    if (SUCCEEDED(HrGetOneProp(message.Get(), PR_SUBJECT_W, &subject)) && subject->Value.lpszW)
        text = subject->Value.lpszW;
    MAPIFreeBuffer(subject);
    return text;
}

ULONG CountMessages(IMsgStore* store, IMAPIFolder* folder, int depth, SBrowsed& browsed)
{
    ULONG count = 0;
    ComPtr<IMAPITable> contents;
    if (SUCCEEDED(folder->GetContentsTable(0, contents.GetAddressOf()))) {
        if (const Rows rows = AllRows(contents.Get(), PR_ENTRYID, PR_SUBJECT_W)) {
            count += rows->cRows;
            for (ULONG r = 0; r < rows->cRows && browsed.openedSubject.empty(); ++r) {
                const SPropValue* props = rows->aRow[r].lpProps;
                if (props[0].ulPropTag != PR_ENTRYID || props[1].ulPropTag != PR_SUBJECT_W || !*props[1].Value.lpszW)
                    continue;
                browsed.openedSubject = OpenedSubject(store, props[0].Value.bin);
                // The row and the message it opens agree.
                if (browsed.openedSubject != props[1].Value.lpszW)
                    browsed.openedSubject = L"<" + browsed.openedSubject + L"> but the row says <" +
                                            props[1].Value.lpszW + L">";
            }
        }
    }
    ComPtr<IMAPITable> hierarchy;
    if (depth > 8 || FAILED(folder->GetHierarchyTable(0, hierarchy.GetAddressOf())))
        return count;
    const Rows children = AllRows(hierarchy.Get(), PR_ENTRYID, PR_DISPLAY_NAME_W);
    for (ULONG r = 0; children && r < children->cRows; ++r) {
        if (children->aRow[r].lpProps[0].ulPropTag != PR_ENTRYID)
            continue;
        if (ComPtr<IMAPIFolder> child = OpenFolder(store, children->aRow[r].lpProps[0].Value.bin))
            count += CountMessages(store, child.Get(), depth + 1, browsed);
    }
    return count;
}

SBrowsed Browse(IMsgStore* store, const std::wstring& mailbox)
{
    SBrowsed browsed;
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_SUBTREE_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (FAILED(store->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values)) ||
        values[0].ulPropTag != PR_IPM_SUBTREE_ENTRYID) {
        MAPIFreeBuffer(values);
        return browsed;
    }
    ComPtr<IMAPIFolder> ipm = OpenFolder(store, values[0].Value.bin);
    MAPIFreeBuffer(values);
    ComPtr<IMAPITable> hierarchy;
    if (!ipm || FAILED(ipm->GetHierarchyTable(0, hierarchy.GetAddressOf())))
        return browsed;
    const Rows rows = AllRows(hierarchy.Get(), PR_ENTRYID, PR_DISPLAY_NAME_W);
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* props = rows->aRow[r].lpProps;
        if (props[1].ulPropTag != PR_DISPLAY_NAME_W)
            continue;
        browsed.mailboxes.push_back(props[1].Value.lpszW);
        if (browsed.mailboxes.back() == mailbox && props[0].ulPropTag == PR_ENTRYID) {
            if (ComPtr<IMAPIFolder> root = OpenFolder(store, props[0].Value.bin))
                browsed.messages = CountMessages(store, root.Get(), 0, browsed);
        }
    }
    std::sort(browsed.mailboxes.begin(), browsed.mailboxes.end());
    return browsed;
}

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

class AddStoreWizardDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // A MAPI client's thread, with COM as Outlook's UI thread has it.
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s_serviceFiles = new CServiceFilesSnapshot();
        s_installed = qorbustest::InstallDriver(s_installError);
        s_user = new esefixture::CTempFolder();
        s_files = new backupsource::SDatabaseFiles(backupsource::WriteSampleWithLogs(s_user->Path()));
    }
    static void TearDownTestSuite()
    {
        delete s_files;
        s_files = nullptr;
        delete s_user;
        s_user = nullptr;
        qorbustest::RemoveDriver();
        delete s_serviceFiles;
        s_serviceFiles = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_installed) << s_installError;
        ASSERT_EQ(S_OK, RegisterLibrary(false));
        ASSERT_TRUE(m_profile.Ready());
    }
    void TearDown() override
    {
        for (const MAPIUID& uid : m_created)
            DeleteFileW(SettingsFilePath(uid).c_str());
        EXPECT_EQ(0u, OpenImages()) << "images left mounted";
    }

    // Creates the service while the script works the wizard.
    HRESULT Create(const RobotScript& script)
    {
        const HRESULT hr = RunWithRobot([&] { return m_profile.CreateService(SERVICE_UI_ALWAYS); }, script, m_log);
        MAPIUID uid;
        if (SUCCEEDED(hr) && m_profile.LastServiceUid(uid))
            m_created.push_back(uid);
        return hr;
    }

    // The mailbox page of the sample: every mailbox listed, the one only the
    // logs hold among them; all are checked and the wizard finishes.
    static void FinishOnTheMailboxPage(CWizardRobot& robot, CScriptLog& log)
    {
        ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
        const std::vector<std::wstring> names = Texts(robot, kMailboxList);
        ROBOT_CHECK(log, Contains(names, backupsource::kSampleMailboxName));
        ROBOT_CHECK(log, Contains(names, backupsource::kLoggedMailboxName));
        for (int item = 0; item < static_cast<int>(names.size()); ++item)
            ROBOT_CHECK(log, robot.ListSetChecked(kMailboxList, item, true));
        ROBOT_CHECK(log, robot.Press(EButton::Finish));
    }

    static void ExpectNoMessage(CWizardRobot& robot, CScriptLog& log)
    {
        SMessageBox box;
        if (robot.FindMessageBox(box)) {
            log.Note("unexpected message: " + Utf8(box.text));
            robot.Dismiss(box);
        }
    }

    // The store's life after the wizard: logon (drives there), browse, logoff
    // (drives gone), logon again (mounted again), a change on the drive, and
    // the service deleted while the store is open (drives gone, change files
    // deleted). `images` are the image files behind the drives.
    void LiveTheStoresLife(const MAPIUID& uid, const std::vector<std::wstring>& roots,
                           const std::vector<std::wstring>& images)
    {
        qorbustest::CMessageBoxCloser closer;
        for (const std::wstring& root : roots)
            EXPECT_TRUE(Exists(root)) << "the wizard's Finish leaves the drive of " << Utf8(root);
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round == 0 ? "first logon" : "logon after the drives went");
            ComPtr<IMAPISession> session;
            ASSERT_EQ(S_OK, MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(m_profile.Name().c_str())),
                                        nullptr, MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED,
                                        session.GetAddressOf()));
            ComPtr<IMsgStore> store;
            ASSERT_EQ(S_OK, providertest::OpenStoreOf(session.Get(), uid, store.GetAddressOf()));
            for (const std::wstring& root : roots)
                EXPECT_TRUE(Exists(root)) << Utf8(root);
            const SBrowsed browsed = Browse(store.Get(), backupsource::kSampleMailboxName);
            EXPECT_TRUE(Contains(browsed.mailboxes, backupsource::kSampleMailboxName));
            EXPECT_TRUE(Contains(browsed.mailboxes, backupsource::kLoggedMailboxName)) << "logs not replayed";
            EXPECT_GT(browsed.messages, 0u);
            EXPECT_FALSE(browsed.openedSubject.empty()) << "no message opened";
            EXPECT_EQ(std::wstring::npos, browsed.openedSubject.find(L"but the row says"))
                << Utf8(browsed.openedSubject);
            if (round == 0) {
                store.Reset();
                session->Logoff(0, 0, 0);
                session.Reset();
                for (const std::wstring& root : roots)
                    EXPECT_FALSE(Exists(root)) << "logging off leaves " << Utf8(root);
                EXPECT_EQ(0u, OpenImages());
                continue;
            }
            // Something written on the drive goes into the image's change file.
            ASSERT_TRUE(qorbustest::WriteBytes(roots[0] + L"note.txt", {'h', 'i'}));
            HANDLE controller = INVALID_HANDLE_VALUE;
            uint32_t index = 0;
            ASSERT_TRUE(QorApiControllerOpen(&controller));
            EXPECT_TRUE(QorApiGetImageByDriveLetter(controller, roots[0][0] - L'A', &index));
            QorApiControllerClose(controller);
            EXPECT_EQ(1, FlushImage(nullptr, index));
            EXPECT_TRUE(Exists(images[0] + L".chunk.dat"));

            EXPECT_EQ(S_OK, m_profile.Delete(uid));
            for (const std::wstring& root : roots)
                EXPECT_FALSE(Exists(root)) << "deleting the service leaves " << Utf8(root);
            EXPECT_EQ(0u, OpenImages());
            store.Reset();
            session->Logoff(0, 0, 0);
        }
        for (const std::wstring& image : images)
            EXPECT_FALSE(Exists(image + L".chunk.dat")) << Utf8(image);
        ExpectNoMessageShown(closer);
    }

    // The closer also meets the wait dialog, which has no text.
    static void ExpectNoMessageShown(qorbustest::CMessageBoxCloser& closer)
    {
        for (const std::wstring& text : closer.Texts())
            EXPECT_TRUE(text.empty()) << "a message was shown: " << Utf8(text);
    }

    static CServiceFilesSnapshot* s_serviceFiles;
    static bool s_installed;
    static std::string s_installError;
    static esefixture::CTempFolder* s_user;
    static backupsource::SDatabaseFiles* s_files;
    esefixture::CTempFolder m_sources;
    CMapiProfile m_profile;
    CScriptLog m_log;
    std::vector<MAPIUID> m_created;
};

CServiceFilesSnapshot* AddStoreWizardDriverTest::s_serviceFiles = nullptr;
bool AddStoreWizardDriverTest::s_installed = false;
std::string AddStoreWizardDriverTest::s_installError;
esefixture::CTempFolder* AddStoreWizardDriverTest::s_user = nullptr;
backupsource::SDatabaseFiles* AddStoreWizardDriverTest::s_files = nullptr;

#define EXPECT_SCRIPT_OK() EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined()

TEST_F(AddStoreWizardDriverTest, DataSourcePageComesFirstAndLeadsToAPlainFile)
{
    esefixture::CTempFolder files;
    exchangefixture::CExchangeDatabase database;
    database.AddMailbox(L"Ann Lee");
    database.Write(files.File("one.edb"));
    const std::string narrow = files.File("one.edb");
    const std::wstring path(narrow.begin(), narrow.end());

    // Cancel on the data-source page: the clean-up finds the controller and
    // nothing to take down, so no message shows.
    HRESULT hr = RunWithRobot([&] { return m_profile.CreateService(SERVICE_UI_ALWAYS); },
                              [&](CWizardRobot& robot, CScriptLog& log) {
                                  ROBOT_CHECK(log, robot.WaitForSheet());
                                  ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
                                  ROBOT_CHECK(log, robot.IsEnabled(219) && robot.IsEnabled(220));
                                  ROBOT_CHECK(log, robot.Press(EButton::Cancel));
                                  ROBOT_CHECK(log, robot.WaitForSheetGone(10000));
                                  SMessageBox box;
                                  ROBOT_CHECK(log, !robot.FindMessageBox(box));
                              },
                              m_log);
    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);

    hr = RunWithRobot([&] { return m_profile.CreateService(SERVICE_UI_ALWAYS); },
                      [&](CWizardRobot& robot, CScriptLog& log) {
                          ROBOT_CHECK(log, robot.WaitForSheet());
                          ROBOT_CHECK(log, robot.Press(EButton::Next));
                          ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                          // With the data-source page before it, Back is offered.
                          ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back));
                          ROBOT_CHECK(log, robot.SetText(207, path));
                          ROBOT_CHECK(log, robot.Press(EButton::Next));
                          ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
                          ROBOT_CHECK(log, robot.ListSetChecked(1120, 0, true));
                          ROBOT_CHECK(log, robot.Press(EButton::Finish));
                      },
                      m_log);
    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(S_OK, hr);
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    EXPECT_EQ(0, m_profile.Read(uid, {0x66120003}).Long(0x66120003));
    DeleteFileW(SettingsFilePath(uid).c_str());
}

wchar_t FreeLetter(wchar_t but = 0)
{
    for (wchar_t letter = L'Y'; letter > L'D'; --letter) {
        const wchar_t root[] = {letter, L':', L'\\', 0};
        if (letter != but && GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
            return letter;
    }
    return 0;
}

// An archive store reconfigured after a restart: the mailbox page mounts the
// database's volume at its drive again, the server opens the database from
// there (replaying the logs the volume holds), Finish flushes the volume and
// leaves it mounted, and deleting the service takes it down with its change
// file.
TEST_F(AddStoreWizardDriverTest, ArchiveStoreIsRemountedForTheMailboxList)
{
    using namespace backupsource;
    esefixture::CTempFolder user;
    esefixture::CTempFolder sources;
    const SDatabaseFiles files = WriteSampleWithLogs(user.Path());
    // The backup product names the root archive of a folder after the folder.
    CreateDirectoryA((sources.Path() + "\\Monday").c_str(), nullptr);
    const SArchiveSource source = MakeArchiveSource(sources.Path() + "\\Monday", "Monday", files);
    const std::wstring sample = Wide(user.Path() + "\\Sample.edb");

    // A store of the plain file first, then made into one of the archive.
    HRESULT hr = RunWithRobot([&] { return m_profile.CreateService(SERVICE_UI_ALWAYS); },
                              [&](CWizardRobot& robot, CScriptLog& log) {
                                  ROBOT_CHECK(log, robot.WaitForSheet());
                                  ROBOT_CHECK(log, robot.Press(EButton::Next));
                                  ROBOT_CHECK(log, robot.SetText(207, sample));
                                  ROBOT_CHECK(log, robot.SetText(208, Wide(user.Path() + "\\logs")));
                                  ROBOT_CHECK(log, robot.Press(EButton::Next));
                                  SMessageBox box;
                                  if (robot.FindMessageBox(box))
                                      log.Note("message: " + std::string(box.text.begin(), box.text.end()));
                                  ROBOT_CHECK(log, robot.ListSetChecked(1120, 0, true));
                                  ROBOT_CHECK(log, robot.Press(EButton::Finish));
                              },
                              m_log);
    ASSERT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    ASSERT_EQ(S_OK, hr);
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    const wchar_t letter = FreeLetter();
    ASSERT_NE(0, letter);
    // The paths as a user may type them, with a lower-case drive letter.
    const std::wstring root = std::wstring(1, static_cast<wchar_t>(std::towlower(letter))) + L":\\";
    const std::wstring volume = Wide(source.databaseVolume);
    std::wstring database = root + source.databasePath;
    std::wstring logs = root + source.logFolder;
    std::wstring image = volume;
    SPropValue values[5] = {};
    values[0].ulPropTag = 0x66120003;
    values[0].Value.l = 1;
    values[1].ulPropTag = 0x6610001F;
    values[1].Value.lpszW = &database[0];
    values[2].ulPropTag = 0x6611001F;
    values[2].Value.lpszW = &logs[0];
    values[3].ulPropTag = 0x6613001F;
    values[3].Value.lpszW = &image[0];
    values[4].ulPropTag = 0x6614001F;
    values[4].Value.lpszW = &image[0];
    ASSERT_EQ(S_OK, m_profile.Configure(uid, 0, 5, values));
    // No stored selection: the page opens the database.
    ASSERT_TRUE(DeleteFileW(SettingsFilePath(uid).c_str()));

    hr = RunWithRobot([&] { return m_profile.Configure(uid, SERVICE_UI_ALWAYS); },
                      [&](CWizardRobot& robot, CScriptLog& log) {
                          ROBOT_CHECK(log, robot.WaitForSheet());
                          // The stored source, locked.
                          ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
                          ROBOT_CHECK(log, robot.IsChecked(219) && !robot.IsEnabled(219));
                          ROBOT_CHECK(log, robot.Press(EButton::Next));
                          // The stored volumes, locked; nothing is mounted here.
                          ROBOT_CHECK(log, robot.PageId() == kVolumePage);
                          ROBOT_CHECK(log, robot.Text(kDatabaseVolume) == volume && !robot.IsEnabled(kDatabaseVolume));
                          ROBOT_CHECK(log, robot.Press(EButton::Next));
                          ROBOT_CHECK(log, !qorbustest::IsDriveShown(letter));
                          ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                          ROBOT_CHECK(log, robot.Press(EButton::Next));
                          ROBOT_CHECK(log, robot.PageId() == kMailboxPage);
                          SMessageBox box;
                          if (robot.FindMessageBox(box)) {
                              log.Note("message: " + std::string(box.text.begin(), box.text.end()));
                              robot.Dismiss(box);
                          }
                          bool logged = false;
                          for (int item = 0; item < robot.ListCount(1120); ++item) {
                              logged = logged || robot.ListText(1120, item) == kLoggedMailboxName;
                              ROBOT_CHECK(log, robot.ListSetChecked(1120, item, true));
                          }
                          ROBOT_CHECK(log, logged);
                          ROBOT_CHECK(log, robot.Press(EButton::Finish));
                      },
                      m_log);
    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(S_OK, hr);
    EXPECT_TRUE(qorbustest::IsDriveShown(letter)) << "Finish leaves the database's volume mounted";

    {
        qorbustest::CMessageBoxCloser closer;
        EXPECT_EQ(S_OK, m_profile.Delete(uid));
        ExpectNoMessageShown(closer);
    }
    EXPECT_FALSE(qorbustest::IsDriveShown(letter));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((volume + L".chunk.dat").c_str()));
}

// Cancel takes down every image the pages mounted and deletes their change
// files; an image the driver does not know is reported and keeps its file.
TEST_F(AddStoreWizardDriverTest, CancelTakesDownWhatThePagesMounted)
{
    using namespace backupsource;
    esefixture::CTempFolder user;
    esefixture::CTempFolder sources;
    const SDatabaseFiles files = WriteSampleWithLogs(user.Path());
    SArchiveSourceOptions options;
    options.separateLogVolume = true;
    const SArchiveSource source = MakeArchiveSource(sources.Path(), "Tuesday", files, options);

    CWizardData data;
    for (const std::string& volume : {source.databaseVolume, source.logVolume}) {
        const wchar_t letter = FreeLetter();
        ASSERT_NE(0, letter);
        const std::wstring root = std::wstring(1, letter) + L":\\";
        uint32_t index = 0;
        ASSERT_EQ(1, MountImage(LogOwner(), Wide(volume).c_str(), root.c_str(), &GUID_QOR_IMAGE_ARCHIVE, MountEvent(),
                                &index));
        data.VolumeMounts[Wide(volume)] = SImageMount{root, index};
    }
    // One the driver never mounted, with a change file of its own.
    const std::wstring stranger = Wide(sources.Path() + "\\Stranger.KZF");
    const std::wstring strangerChanges = stranger + L".chunk.dat";
    if (FILE* file = _wfopen(strangerChanges.c_str(), L"wb"))
        fclose(file);
    data.VersionMounts[stranger] = SImageMount{L"Q:\\", 999};

    INT_PTR result = -2;
    RunWithRobot(
        [&] {
            CAddStoreWizardSheet sheet(data);
            result = sheet.DoModal(nullptr);
            return S_OK;
        },
        [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
            SMessageBox box;
            ROBOT_CHECK(log, robot.WaitForMessageBox(box, 20000));
            const std::wstring expected = ui::FormatResource(335, 999, L"QorApiImageRemove()", 0u);
            // The driver's own code follows "error code".
            const size_t fixed = expected.find(L"error code") + 10;
            ROBOT_CHECK(log, box.text.compare(0, fixed, expected, 0, fixed) == 0);
            ROBOT_CHECK(log, box.icon == MB_ICONERROR);
            ROBOT_CHECK(log, robot.Dismiss(box));
            ROBOT_CHECK(log, robot.WaitForSheetGone(20000));
        },
        m_log);
    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(0, result);
    EXPECT_EQ(1, data.DevicePresent);
    for (const auto& [image, mount] : data.VolumeMounts) {
        EXPECT_FALSE(qorbustest::IsDriveShown(mount.root[0]));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((image + L".chunk.dat").c_str()));
    }
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(strangerChanges.c_str()));
    DeleteFileW(strangerChanges.c_str());
}

} // namespace

namespace {

// Kind 1 end to end, with one volume holding the database and its logs (its
// drive mounted once for both) and with a collection of a database volume
// and a log volume.
TEST_F(AddStoreWizardDriverTest, StoreFromABackupArchive)
{
    for (bool split : {false, true}) {
        SCOPED_TRACE(split ? "collection of two volumes" : "one volume");
        const std::string name = split ? "Tuesday" : "Monday";
        const std::string folder = m_sources.Folder(name);
        backupsource::SArchiveSourceOptions options;
        options.separateLogVolume = split;
        options.bits = split ? 32 : 16;
        const backupsource::SArchiveSource source = MakeArchiveSource(folder, name, *s_files, options);
        const Sums before = SumsOf(Wide(folder));
        ASSERT_EQ(split ? 3u : 1u, before.size());
        const std::wstring databaseVolume = Wide(source.databaseVolume);
        const std::wstring logVolume = Wide(source.logVolume);

        const DWORD drivesBefore = GetLogicalDrives();
        std::wstring databaseRoot, logRoot;
        const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.Click(kBackupRadio));
            ROBOT_CHECK(log, robot.SetText(kBackupFolder, Wide(folder)));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, robot.PageId() == kVolumePage);
            ROBOT_CHECK(log, robot.ListCount(kVolumeList) == (split ? 2 : 1));
            ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {0}));
            ROBOT_CHECK(log, robot.Click(kToDatabase));
            ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {split ? 1 : 0}));
            ROBOT_CHECK(log, robot.Click(kToLogs));
            ROBOT_CHECK(log, robot.Text(kDatabaseVolume) == databaseVolume && robot.Text(kLogVolume) == logVolume);
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectNoMessage(robot, log);
            ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
            // One volume for the database and the logs is mounted once.
            const std::vector<std::wstring> drives = NewDrives(drivesBefore);
            ROBOT_CHECK(log, drives.size() == (split ? 2u : 1u));
            ROBOT_CHECK(log, OpenImages() == (split ? 2u : 1u));
            for (const std::wstring& root : drives) {
                if (Exists(root + source.databasePath))
                    databaseRoot = root;
                if (Exists(root + source.logFolder))
                    logRoot = root;
            }
            ROBOT_CHECK(log, !databaseRoot.empty() && !logRoot.empty());
            ROBOT_CHECK(log, robot.SetText(kDatabasePath, databaseRoot + source.databasePath));
            ROBOT_CHECK(log, robot.SetText(kLogPath, logRoot + source.logFolder));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectNoMessage(robot, log);
            FinishOnTheMailboxPage(robot, log);
        });
        EXPECT_SCRIPT_OK();
        ASSERT_EQ(S_OK, hr);
        MAPIUID uid;
        ASSERT_TRUE(m_profile.LastServiceUid(uid));
        const CSectionValues values = m_profile.Read(
            uid, {kTagDatabasePath, kTagLogPath, kTagSourceKind, kTagDatabaseImage, kTagLogImage, kTagRestoreMap});
        EXPECT_EQ(1, values.Long(kTagSourceKind));
        EXPECT_EQ(databaseRoot + source.databasePath, values.Text(kTagDatabasePath));
        EXPECT_EQ(logRoot + source.logFolder, values.Text(kTagLogPath));
        EXPECT_EQ(databaseVolume, values.Text(kTagDatabaseImage));
        EXPECT_EQ(logVolume, values.Text(kTagLogImage));
        EXPECT_FALSE(values.Has(kTagRestoreMap));
        // The driver records where it shows the volume, as the pages look it up.
        std::wstring shownAt;
        EXPECT_EQ(1, FindImageDriveLetter(databaseVolume.substr(databaseVolume.rfind(L'\\') + 1), shownAt));
        EXPECT_EQ(databaseRoot, shownAt);

        std::vector<std::wstring> roots = {databaseRoot};
        std::vector<std::wstring> images = {databaseVolume};
        if (split) {
            roots.push_back(logRoot);
            images.push_back(logVolume);
        }
        LiveTheStoresLife(uid, roots, images);
        EXPECT_EQ(before, SumsOf(Wide(folder)));
    }
}

// Kind 2 end to end, for both catalog layouts: the version's VHD is mounted
// once however often Next is pressed, and the database page names the file
// on its drive.
TEST_F(AddStoreWizardDriverTest, StoreFromACatalogVersion)
{
    using backupsource::ECatalogLayout;
    for (ECatalogLayout layout : {ECatalogLayout::Exchange2010, ECatalogLayout::Exchange2007}) {
        const bool is2010 = layout == ECatalogLayout::Exchange2010;
        SCOPED_TRACE(is2010 ? "2010" : "2007");
        const std::string folder = m_sources.Folder(is2010 ? "Protect2010" : "Protect2007");
        backupsource::SCatalogOptions options;
        options.layout = layout;
        options.bits = is2010 ? 32 : 16;
        options.publicFolders = !is2010;
        options.versions = {{"2010-11-12 13:14:15", 1, "Friday full"}, {"2010-11-13 08:00:00", 2, "Saturday"}};
        const backupsource::SCatalogSource source = MakeCatalogSource(folder, *s_files, options);
        const Sums before = SumsOf(Wide(folder));
        ASSERT_EQ(3u, before.size());
        const std::wstring image = Wide(source.images[0]);

        const DWORD drivesBefore = GetLogicalDrives();
        std::wstring root;
        const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.Click(kCatalogRadio));
            ROBOT_CHECK(log, robot.SetText(kCatalogFolder, Wide(folder)));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            for (int round = 0; round < 2; ++round) {
                ROBOT_CHECK(log, robot.PageId() == kVersionPage);
                const int database = IndexOf(Texts(robot, kDatabaseList), source.databaseCaption);
                ROBOT_CHECK(log, database >= 0);
                ROBOT_CHECK(log, robot.ListSelect(kDatabaseList, {database}));
                ROBOT_CHECK(log, robot.ListCount(kVersionList) == 2);
                ROBOT_CHECK(log, robot.ListSelect(kVersionList, {0}));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                ExpectNoMessage(robot, log);
                ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                const std::vector<std::wstring> drives = NewDrives(drivesBefore);
                ROBOT_CHECK(log, drives.size() == 1u);
                ROBOT_CHECK(log, OpenImages() == 1u);
                if (drives.size() == 1)
                    root = drives[0];
                ROBOT_CHECK(log, robot.Text(kDatabasePath) == root + source.databasePath);
                ROBOT_CHECK(log, robot.Text(kLogPath) == root + source.logFolder);
                ROBOT_CHECK(log, !robot.IsEnabled(kDatabasePath) && !robot.IsEnabled(kLogPath));
                if (round == 0)
                    ROBOT_CHECK(log, robot.Press(EButton::Back));
            }
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectNoMessage(robot, log);
            FinishOnTheMailboxPage(robot, log);
        });
        EXPECT_SCRIPT_OK();
        ASSERT_EQ(S_OK, hr);
        MAPIUID uid;
        ASSERT_TRUE(m_profile.LastServiceUid(uid));
        const CSectionValues values =
            m_profile.Read(uid, {kTagDatabasePath, kTagLogPath, kTagSourceKind, kTagDatabaseImage, kTagLogImage,
                                 kTagRestoreMap, kTagCatalogBackupId});
        EXPECT_EQ(2, values.Long(kTagSourceKind));
        EXPECT_EQ(root + source.databasePath, values.Text(kTagDatabasePath));
        EXPECT_EQ(image, values.Text(kTagDatabaseImage));
        EXPECT_EQ(image, values.Text(kTagLogImage));
        EXPECT_EQ(source.databaseIds[0], values.Long(kTagCatalogBackupId));
        if (is2010) {
            EXPECT_FALSE(values.Has(kTagRestoreMap));
        } else {
            // The storage group's two databases, name then path.
            const std::vector<std::wstring> map = values.Texts(kTagRestoreMap);
            ASSERT_EQ(4u, map.size());
            EXPECT_EQ(L"Sample", map[0]);
            EXPECT_EQ(L"E:\\Exchange\\Data\\Sample.edb", map[1]);
            EXPECT_EQ(L"Public Folder Store", map[2]);
        }
        LiveTheStoresLife(uid, {root}, {image});
        EXPECT_EQ(before, SumsOf(Wide(folder)));
    }
}

// Cancel takes down what the volume page mounted, with the changes made on
// the drives meanwhile.
TEST_F(AddStoreWizardDriverTest, CancelTakesDownTheMountedVolumes)
{
    const std::string folder = m_sources.Folder("Wednesday");
    backupsource::SArchiveSourceOptions options;
    options.separateLogVolume = true;
    const backupsource::SArchiveSource source = MakeArchiveSource(folder, "Wednesday", *s_files, options);
    const Sums before = SumsOf(Wide(folder));
    const DWORD drivesBefore = GetLogicalDrives();
    std::vector<std::wstring> drives;
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(kBackupRadio));
        ROBOT_CHECK(log, robot.SetText(kBackupFolder, Wide(folder)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, Wide(source.databaseVolume)));
        ROBOT_CHECK(log, robot.SetText(kLogVolume, Wide(source.logVolume)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        drives = NewDrives(drivesBefore);
        ROBOT_CHECK(log, drives.size() == 2u);
        for (const std::wstring& root : drives)
            ROBOT_CHECK(log, qorbustest::WriteBytes(root + L"note.txt", {'h', 'i'}));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        ROBOT_CHECK(log, robot.WaitForSheetGone(20000));
        ExpectNoMessage(robot, log);
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(MAPI_E_USER_CANCEL, hr);
    for (const std::wstring& root : drives)
        EXPECT_FALSE(Exists(root)) << Utf8(root);
    EXPECT_EQ(0u, OpenImages());
    EXPECT_EQ(before, SumsOf(Wide(folder))) << "change files left beside the volumes";
}

// Finish leaves the database's and the logs' volumes mounted (flushed) and
// takes down any other volume the wizard mounted on the way, with its
// change file.
TEST_F(AddStoreWizardDriverTest, FinishKeepsOnlyTheDatabaseAndLogVolumes)
{
    const std::string other = m_sources.Folder("Thursday");
    const backupsource::SArchiveSource first = MakeArchiveSource(other, "Thursday", *s_files);
    const std::string folder = m_sources.Folder("Friday");
    backupsource::SArchiveSourceOptions options;
    options.separateLogVolume = true;
    const backupsource::SArchiveSource source = MakeArchiveSource(folder, "Friday", *s_files, options);
    const Sums before = SumsOf(Wide(folder));
    const Sums otherBefore = SumsOf(Wide(other));
    const DWORD drivesBefore = GetLogicalDrives();
    std::wstring firstRoot;
    std::vector<std::wstring> kept;
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(kBackupRadio));
        ROBOT_CHECK(log, robot.SetText(kBackupFolder, Wide(folder)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        // A volume of another archive first, typed in.
        ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, Wide(first.databaseVolume)));
        ROBOT_CHECK(log, robot.SetText(kLogVolume, Wide(first.databaseVolume)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        const std::vector<std::wstring> drives = NewDrives(drivesBefore);
        ROBOT_CHECK(log, drives.size() == 1u);
        if (drives.size() == 1)
            firstRoot = drives[0];
        ROBOT_CHECK(log, qorbustest::WriteBytes(firstRoot + L"note.txt", {'h', 'i'}));
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.PageId() == kVolumePage);
        ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, Wide(source.databaseVolume)));
        ROBOT_CHECK(log, robot.SetText(kLogVolume, Wide(source.logVolume)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, OpenImages() == 3u);
        std::wstring databaseRoot, logRoot;
        for (const std::wstring& root : NewDrives(drivesBefore)) {
            if (root == firstRoot)
                continue;
            if (Exists(root + source.databasePath))
                databaseRoot = root;
            else if (Exists(root + source.logFolder))
                logRoot = root;
        }
        kept = {databaseRoot, logRoot};
        ROBOT_CHECK(log, robot.SetText(kDatabasePath, databaseRoot + source.databasePath));
        ROBOT_CHECK(log, robot.SetText(kLogPath, logRoot + source.logFolder));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectNoMessage(robot, log);
        FinishOnTheMailboxPage(robot, log);
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(S_OK, hr);
    EXPECT_FALSE(Exists(firstRoot));
    EXPECT_EQ(otherBefore, SumsOf(Wide(other))) << "the change file of the volume taken down is left";
    EXPECT_EQ(2u, OpenImages());
    qorbustest::CMessageBoxCloser closer;
    for (const std::wstring& root : kept) {
        EXPECT_TRUE(Exists(root)) << Utf8(root);
        uint32_t index = 0;
        EXPECT_EQ(1, DismountImage(nullptr, root.c_str(), &index));
    }
    ExpectNoMessageShown(closer);
    EXPECT_EQ(before, SumsOf(Wide(folder)));
}

}  // namespace

namespace {

// Archive volumes picked, then Back to the data-source page and a plain file
// chosen instead: the volumes go with their change files, and the store
// records no image.
TEST_F(AddStoreWizardDriverTest, ChangingTheKindTakesDownWhatTheEarlierKindMounted)
{
    const std::string folder = m_sources.Folder("Saturday");
    const backupsource::SArchiveSource source = MakeArchiveSource(folder, "Saturday", *s_files);
    const Sums before = SumsOf(Wide(folder));
    const std::wstring sample = Wide(s_user->Path() + "\\Sample.edb");
    const std::wstring logs = Wide(s_user->Path() + "\\logs");
    const DWORD drivesBefore = GetLogicalDrives();
    const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(kBackupRadio));
        ROBOT_CHECK(log, robot.SetText(kBackupFolder, Wide(folder)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, Wide(source.databaseVolume)));
        ROBOT_CHECK(log, robot.SetText(kLogVolume, Wide(source.databaseVolume)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, NewDrives(drivesBefore).size() == 1u);
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
        ROBOT_CHECK(log, robot.Click(218));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectNoMessage(robot, log);
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, NewDrives(drivesBefore).empty());
        ROBOT_CHECK(log, robot.SetText(kDatabasePath, sample));
        ROBOT_CHECK(log, robot.SetText(kLogPath, logs));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectNoMessage(robot, log);
        FinishOnTheMailboxPage(robot, log);
    });
    EXPECT_SCRIPT_OK();
    ASSERT_EQ(S_OK, hr);
    EXPECT_TRUE(NewDrives(drivesBefore).empty());
    EXPECT_EQ(0u, OpenImages());
    MAPIUID uid;
    ASSERT_TRUE(m_profile.LastServiceUid(uid));
    const CSectionValues values =
        m_profile.Read(uid, {kTagDatabasePath, kTagSourceKind, kTagDatabaseImage, kTagLogImage});
    EXPECT_EQ(0, values.Long(kTagSourceKind));
    EXPECT_EQ(sample, values.Text(kTagDatabasePath));
    EXPECT_EQ(L"", values.Text(kTagDatabaseImage));
    EXPECT_EQ(L"", values.Text(kTagLogImage));
    EXPECT_EQ(before, SumsOf(Wide(folder))) << "a change file is left beside the volume";
    EXPECT_EQ(S_OK, m_profile.Delete(uid));
}

// The backup product names each root archive after its folder, so archives
// of two folders "Monday" have volumes of the same file name. A volume the
// driver shows is used where it is only when it is this very file; then
// Finish flushes it and leaves it mounted.
TEST_F(AddStoreWizardDriverTest, AVolumeShownAlreadyIsUsedOnlyWhenItIsThatVeryFile)
{
    std::string folders[2];
    backupsource::SArchiveSource sources[2];
    for (int i = 0; i < 2; ++i) {
        folders[i] = m_sources.Folder(i == 0 ? "A" : "B") + "\\Monday";
        CreateDirectoryA(folders[i].c_str(), nullptr);
        sources[i] = MakeArchiveSource(folders[i], "Monday", *s_files);
    }
    const backupsource::SArchiveSource& chosen = sources[1];
    const std::wstring volume = Wide(chosen.databaseVolume);
    for (bool same : {false, true}) {
        SCOPED_TRACE(same ? "this very volume shown" : "the other folder's volume shown");
        const wchar_t letter = FreeLetter();
        ASSERT_NE(0, letter);
        const wchar_t letterText[3] = {letter, L':', 0};
        const std::wstring shownRoot = std::wstring(1, letter) + L":\\";
        const std::wstring shown = Wide(sources[same ? 1 : 0].databaseVolume);
        uint32_t index = 0;
        ASSERT_EQ(1, MountImage(LogOwner(), shown.c_str(), letterText, &GUID_QOR_IMAGE_ARCHIVE, MountEvent(), &index));
        const DWORD drivesBefore = GetLogicalDrives();
        std::wstring root;
        const HRESULT hr = Create([&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.Click(kBackupRadio));
            ROBOT_CHECK(log, robot.SetText(kBackupFolder, Wide(folders[1])));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, volume));
            ROBOT_CHECK(log, robot.SetText(kLogVolume, volume));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectNoMessage(robot, log);
            ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
            const std::vector<std::wstring> drives = NewDrives(drivesBefore);
            ROBOT_CHECK(log, drives.size() == (same ? 0u : 1u));
            root = same ? shownRoot : (drives.empty() ? std::wstring() : drives[0]);
            ROBOT_CHECK(log, robot.SetText(kDatabasePath, root + chosen.databasePath));
            ROBOT_CHECK(log, robot.SetText(kLogPath, root + chosen.logFolder));
            // A change on the drive, which only a flush saves while it stays mounted.
            ROBOT_CHECK(log, qorbustest::WriteBytes(root + L"note.txt", {'h', 'i'}));
            ROBOT_CHECK(log, !Exists(volume + L".chunk.dat"));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectNoMessage(robot, log);
            FinishOnTheMailboxPage(robot, log);
        });
        EXPECT_SCRIPT_OK();
        ASSERT_EQ(S_OK, hr);
        MAPIUID uid;
        ASSERT_TRUE(m_profile.LastServiceUid(uid));
        const CSectionValues values = m_profile.Read(uid, {kTagDatabasePath, kTagDatabaseImage});
        EXPECT_EQ(volume, values.Text(kTagDatabaseImage));
        EXPECT_EQ(root + chosen.databasePath, values.Text(kTagDatabasePath));
        EXPECT_TRUE(qorbustest::IsDriveShown(root[0])) << "Finish leaves the database's volume mounted";
        if (same) {
            // Finish flushed the change into the volume's change file.
            EXPECT_TRUE(Exists(volume + L".chunk.dat")) << "the volume was not flushed";
        } else {
            EXPECT_NE(shownRoot, root);
        }
        {
            qorbustest::CMessageBoxCloser closer;
            EXPECT_EQ(S_OK, m_profile.Delete(uid));
            if (!same)
                EXPECT_EQ(1, DismountImage(nullptr, letterText, &index));
            ExpectNoMessageShown(closer);
        }
        EXPECT_EQ(0u, OpenImages());
        for (const backupsource::SArchiveSource& source : sources)
            DeleteFileW((Wide(source.databaseVolume) + L".chunk.dat").c_str());
    }
}

}  // namespace
