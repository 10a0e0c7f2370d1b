// The add-store wizard with the image-mounting driver installed: the sheet
// finds the driver's controller, so the wizard starts with the data-source
// page, and Cancel opens the controller to take down what the pages mounted.
#include "ProviderPlatform.h"

#include "ExchangeFixture.h"
#include "QorBusTestSupport.h"
#include "WizardSession.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace wizardtest;

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

} // namespace
