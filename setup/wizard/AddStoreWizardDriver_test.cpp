// The add-store wizard with the image-mounting driver installed: the sheet
// finds the driver's controller, so the wizard starts with the data-source
// page, and Cancel opens the controller to take down what the pages mounted.
#include "ProviderPlatform.h"

#include "BackupSampleFixture.h"
#include "CAddStoreWizardSheet.h"
#include "ImageMount.h"
#include "Messages.h"
#include "ExchangeFixture.h"
#include "QorBusTestSupport.h"
#include "WizardSession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace wizardtest;
using backupsource::Wide;

constexpr int kDatasourcePage = 107;
constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;

class AddStoreWizardDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_serviceFiles = new CServiceFilesSnapshot();
        s_installed = qorbustest::InstallDriver(s_installError);
    }
    static void TearDownTestSuite()
    {
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

    static CServiceFilesSnapshot* s_serviceFiles;
    static bool s_installed;
    static std::string s_installError;
    CMapiProfile m_profile;
    CScriptLog m_log;
};

CServiceFilesSnapshot* AddStoreWizardDriverTest::s_serviceFiles = nullptr;
bool AddStoreWizardDriverTest::s_installed = false;
std::string AddStoreWizardDriverTest::s_installError;

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
    const std::wstring root = std::wstring(1, letter) + L":\\";
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

    EXPECT_EQ(S_OK, m_profile.Delete(uid));
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
