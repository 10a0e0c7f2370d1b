// Renders every page of the add-store wizard and every message box its pages
// show into PNG files under build/screenshots, for people to look at; the
// pictures are not compared with anything. The texts are the resource
// library's (its stand-in), as a user sees them.
#include "ProviderPlatform.h"

#include "BackupSourceBuilder.h"
#include "CAddStoreWizardSheet.h"
#include "CWaitDialog.h"
#include "ExchangeFixture.h"
#include "ResourceStrings.h"
#include "WindowShot.h"
#include "WizardSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace wizardtest;

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

int DevicePresent()
{
    return 1;
}

int DeviceAbsent()
{
    return 0;
}

UINT WINAPI EveryDriveUsed(LPCWSTR)
{
    return DRIVE_FIXED;
}

// build/screenshots beside build/bin, where this program runs.
std::wstring ScreenshotFolder()
{
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder = program;
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    folder = folder.substr(0, folder.find_last_of(L'\\')) + L"\\screenshots";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

class WizardScreenshots : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        OleInitialize(nullptr);
        // The branded texts when the resource library is there.
        if (HMODULE strings = LoadLibraryW(L"pelmrix.dll"))
            SetResourceLibrary(strings);
    }
    static void TearDownTestSuite() { SetResourceLibrary(nullptr); }

    // Runs the wizard over data while script drives it.
    void Run(CWizardData& data, bool device, const RobotScript& script, UINT(WINAPI* driveType)(LPCWSTR) = nullptr)
    {
        RunWithRobot(
            [&] {
                CAddStoreWizardSheet sheet(data, device ? DevicePresent : DeviceAbsent);
                if (driveType)
                    sheet.SetDriveTypeProbe(driveType);
                sheet.DoModal(nullptr);
                return S_OK;
            },
            script, m_log);
    }

    void Shot(CWizardRobot& robot, CScriptLog& log, HWND window, const std::wstring& name)
    {
        const std::wstring path = m_folder + L"\\" + name + L".png";
        const bool saved = robot.Screenshot(window, path);
        ROBOT_CHECK(log, saved);
        if (saved)
            m_saved.push_back(path);
    }

    // The message box that shows now, saved and dismissed.
    void ShotMessage(CWizardRobot& robot, CScriptLog& log, const std::wstring& name)
    {
        SMessageBox box;
        const bool shown = robot.WaitForMessageBox(box, 20000);
        ROBOT_CHECK(log, shown);
        if (!shown)
            return;
        Shot(robot, log, box.window, name);
        ROBOT_CHECK(log, robot.Dismiss(box));
    }

    std::wstring m_folder = ScreenshotFolder();
    std::vector<std::wstring> m_saved;
    CScriptLog m_log;
};

TEST_F(WizardScreenshots, EveryPageAndMessage)
{
    esefixture::CTempFolder files;
    exchangefixture::CExchangeDatabase three;
    three.AddMailbox(L"Ann Lee");
    three.AddMailbox(L"Bob Stone");
    three.AddMailbox(L"Carla Diaz");
    const std::wstring mailboxes = Wide(files.File("Mailboxes.edb"));
    three.Write(files.File("Mailboxes.edb"));
    exchangefixture::CExchangeDatabase empty;
    const std::wstring noMailboxes = Wide(files.File("Empty.edb"));
    empty.Write(files.File("Empty.edb"));
    exchangefixture::CExchangeDatabase publicStore(exchangefixture::EStoreKind::PublicFolders);
    const std::wstring publicFolders = Wide(files.File("Public.edb"));
    publicStore.Write(files.File("Public.edb"));
    const std::wstring garbage = Wide(files.File("Broken.edb"));
    if (FILE* file = _wfopen(garbage.c_str(), L"wb")) {
        const std::string text(16384, 'x');
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
    }
    const std::wstring folder = Wide(files.Folder("Backups"));

    // The data-source page and its messages, with the driver stood in for.
    CWizardData source;
    Run(source, true, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        Shot(robot, log, robot.Sheet(), L"01-datasource-page");
        ROBOT_CHECK(log, robot.Click(219));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"02-datasource-no-archive-folder");
        ROBOT_CHECK(log, robot.SetText(221, L"\\\\server\\share\\Monday"));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"03-datasource-not-a-local-drive");
        ROBOT_CHECK(log, robot.SetText(221, folder));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"04-datasource-no-root-archive");
        ROBOT_CHECK(log, robot.Click(220));
        ROBOT_CHECK(log, robot.SetText(223, folder));
        Shot(robot, log, robot.Sheet(), L"05-datasource-page-catalog");
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"06-datasource-no-catalog");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        ShotMessage(robot, log, L"07-cancel-controller-not-open");
    });

    // The database page, its messages, and the mailbox page in its states.
    CWizardData plain;
    Run(plain, false, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        Shot(robot, log, robot.Sheet(), L"10-database-page");
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"11-database-missing");
        ROBOT_CHECK(log, robot.SetText(207, folder + L"\\none.edb"));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"12-database-not-found");
        ROBOT_CHECK(log, robot.SetText(207, mailboxes));
        ROBOT_CHECK(log, robot.SetText(208, folder + L"\\none"));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"13-log-folder-not-found");
        ROBOT_CHECK(log, robot.SetText(208, L""));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.ListSetChecked(1120, 0, true));
        ROBOT_CHECK(log, robot.ListSetChecked(1120, 2, true));
        Shot(robot, log, robot.Sheet(), L"14-mailbox-page");
        for (const auto& [path, name] : {std::make_pair(noMailboxes, L"15-mailbox-page-no-mailboxes"),
                                         std::make_pair(publicFolders, L"16-mailbox-page-public-folders")}) {
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ROBOT_CHECK(log, robot.SetText(207, path));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            Shot(robot, log, robot.Sheet(), name);
        }
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.SetText(207, garbage));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"17-mailbox-server-error");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });

    // Reconfiguring, and a catalog version's locked paths.
    CWizardData reconfigure;
    reconfigure.Reconfigure = 1;
    reconfigure.DatabasePath = mailboxes;
    reconfigure.MailboxSelection = L"72057594037927937 1 7 Ann Lee 72057594037927953 0 9 Bob Stone ";
    CWizardData version;
    version.SourceKind = 2;
    version.VersionDatabaseFile = L"First Storage Group\\Mailbox Database.edb";
    version.DatabaseMountRoot = L"H:\\";
    for (CWizardData* data : {&reconfigure, &version}) {
        const bool isVersion = data == &version;
        Run(*data, false, [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            Shot(robot, log, robot.Sheet(), isVersion ? L"20-database-page-catalog-version"
                                                      : L"18-database-page-reconfigure");
            if (!isVersion) {
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                Shot(robot, log, robot.Sheet(), L"19-mailbox-page-reconfigure");
            }
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        });
    }

    // The volume page over a collection of three volumes, and its messages
    // (no driver is there, so the mount reports that).
    const std::string monday = files.Folder("Monday");
    backupsource::WriteListingVolume(monday + "\\Monday-1.KZF", 'E', "MAILDATA", 41943040, 20971520, "Monday");
    backupsource::WriteListingVolume(monday + "\\Monday-2.KZF", 'F', "LOGS", 4194304, 524288, "Monday");
    backupsource::WriteListingVolume(monday + "\\Monday-3.KZF", 'G', "PUBLIC", 8388608, 6291456, "Monday");
    backupsource::WriteCollectionArchive(monday + "\\Monday.KZF", {"Monday-1.KZF", "Monday-2.KZF", "Monday-3.KZF"});
    for (bool lettersLeft : {true, false}) {
        CWizardData volumes;
        Run(
            volumes, true,
            [&](CWizardRobot& robot, CScriptLog& log) {
                ROBOT_CHECK(log, robot.WaitForSheet());
                ROBOT_CHECK(log, robot.Click(219));
                ROBOT_CHECK(log, robot.SetText(221, Wide(monday)));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                if (lettersLeft) {
                    ROBOT_CHECK(log, robot.Press(EButton::Next));
                    ShotMessage(robot, log, L"22-volume-no-database-volume");
                    ROBOT_CHECK(log, robot.ListSelect(239, {0}));
                    ROBOT_CHECK(log, robot.Click(214));
                    ROBOT_CHECK(log, robot.Press(EButton::Next));
                    ShotMessage(robot, log, L"23-volume-no-log-volume");
                    ROBOT_CHECK(log, robot.ListSelect(239, {1}));
                    ROBOT_CHECK(log, robot.Click(240));
                    Shot(robot, log, robot.Sheet(), L"24-volume-page");
                    ROBOT_CHECK(log, robot.Press(EButton::Next));
                    ShotMessage(robot, log, L"25-volume-mount-failed");
                } else {
                    ROBOT_CHECK(log, robot.ListSelect(239, {0}));
                    ROBOT_CHECK(log, robot.Click(214));
                    ROBOT_CHECK(log, robot.Click(240));
                    ROBOT_CHECK(log, robot.Press(EButton::Next));
                    ShotMessage(robot, log, L"26-volume-no-drive-letter");
                }
                ROBOT_CHECK(log, robot.Press(EButton::Cancel));
            },
            lettersLeft ? nullptr : EveryDriveUsed);
    }

    // The catalog version page over a catalog of the older layout, its
    // messages, and a catalog it cannot read.
    backupsource::SDatabaseFiles database;
    database.database = {L"Mailbox Database.edb", std::vector<uint8_t>(8192, 0x42)};
    const std::string protect = files.Folder("Protect");
    backupsource::SCatalogOptions catalog;
    catalog.layout = backupsource::ECatalogLayout::Exchange2007;
    catalog.publicFolders = true;
    backupsource::MakeCatalogSource(protect, database, catalog);
    const std::string damaged = files.Folder("Damaged");
    catalog.damage = backupsource::ECatalogDamage::EmptySettings;
    backupsource::MakeCatalogSource(damaged, database, catalog);
    CWizardData versions;
    Run(versions, true, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(220));
        ROBOT_CHECK(log, robot.SetText(223, Wide(protect)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.ListSelect(245, {0}));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"27-catalog-no-version");
        ROBOT_CHECK(log, robot.ListSelect(246, {1}));
        Shot(robot, log, robot.Sheet(), L"28-catalog-page");
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.SetText(223, Wide(damaged)));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ShotMessage(robot, log, L"29-catalog-cannot-open");
        Shot(robot, log, robot.Sheet(), L"30-catalog-page-failed");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });

    // The wait dialog on its own.
    {
        ui::CWaitDialog wait(nullptr);
        const std::wstring path = m_folder + L"\\21-wait-dialog.png";
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        EXPECT_TRUE(SaveWindowPng(wait.Window(), path));
        m_saved.push_back(path);
    }

    EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined();
    EXPECT_EQ(28u, m_saved.size());
    for (const std::wstring& path : m_saved) {
        const std::vector<BYTE> png = ReadFileBytes(path);
        EXPECT_GT(png.size(), 200u) << std::string(path.begin(), path.end());
        EXPECT_TRUE(png.size() > 8 && png[1] == 'P' && png[2] == 'N' && png[3] == 'G');
    }
}

} // namespace
