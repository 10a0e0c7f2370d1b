// The wizard's sheet and pages in this process, over a record the test
// prepares: the data-source page (which needs the image-mounting driver, here
// stood in for by the sheet's probe), the archive cases of the database page,
// the shell's pickers, the Cancel clean-up, and the window layer's guard.
// Also the small pieces the pages use: the server's error texts, the drive
// probes and the service values of a finished wizard.
#include "ProviderPlatform.h"

#include "CAddStoreWizardSheet.h"
#include "CMailboxWizardPage.h"
#include "CPropertyPage.h"
#include "CWizardRobot.h"
#include "CWizardSheet.h"
#include "Messages.h"
#include "ResourceStrings.h"
#include "ServiceEntry.h"
#include "WizardHelp.h"
#include "WizardProbes.h"
#include "WizardSession.h"

#include <htmlhelp.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Message 334 as the clean-up shows it when the driver's controller is not
// there (the test program carries the library's own table, tokens and all).
const std::wstring kControllerMissing =
    L"Unable to dismount the <VendorShortName> Backup archive. Function QorApiControllerOpen() failed, error code "
    L"E0000010.";

using namespace wizardtest;

constexpr int kDatasourcePage = 107;
constexpr int kVolumePage = 235;
constexpr int kVersionPage = 236;
constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;

int DevicePresent()
{
    return 1;
}

int DeviceAbsent()
{
    return 0;
}

// A folder under the temporary folder, removed with what the test put in it.
class CScratch {
public:
    CScratch()
    {
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        static LONG counter = 0;
        m_path = std::wstring(base) + L"wizpages_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                 std::to_wstring(InterlockedIncrement(&counter));
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~CScratch()
    {
        for (auto it = m_files.rbegin(); it != m_files.rend(); ++it) {
            if (!DeleteFileW(it->c_str()))
                RemoveDirectoryW(it->c_str());
        }
        RemoveDirectoryW(m_path.c_str());
    }
    const std::wstring& Path() const { return m_path; }
    std::wstring Folder(const std::wstring& name)
    {
        const std::wstring path = m_path + L"\\" + name;
        CreateDirectoryW(path.c_str(), nullptr);
        m_files.push_back(path);
        return path;
    }
    std::wstring File(const std::wstring& name)
    {
        const std::wstring path = m_path + L"\\" + name;
        if (FILE* file = _wfopen(path.c_str(), L"wb"))
            fclose(file);
        m_files.push_back(path);
        return path;
    }

private:
    std::wstring m_path;
    std::vector<std::wstring> m_files;
};

// Selects a folder in the shell's folder browser as a click in its tree
// does; true once the browser's edit box names the folder.
bool PickFolder(CWizardRobot& robot, HWND browser, const std::wstring& folder)
{
    const std::wstring name = folder.substr(folder.find_last_of(L'\\') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(folder.c_str()));
        robot.Settle();
        wchar_t shown[MAX_PATH] = {};
        if (HWND edit = FindWindowExW(browser, nullptr, L"Edit", nullptr))
            GetWindowTextW(edit, shown, MAX_PATH);
        if (name == shown)
            return true;
        Sleep(20);
    }
    return false;
}

class WizardPagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { OleInitialize(nullptr); }

    // Runs the add-store wizard over data while script drives it.
    INT_PTR Run(CWizardData& data, CAddStoreWizardSheet::DeviceProbe probe, const RobotScript& script)
    {
        INT_PTR result = -2;
        RunWithRobot(
            [&] {
                CAddStoreWizardSheet sheet(data, probe);
                result = sheet.DoModal(nullptr);
                return S_OK;
            },
            script, m_log);
        return result;
    }

    static void ExpectMessage(CWizardRobot& robot, CScriptLog& log, const std::wstring& text, UINT icon)
    {
        SMessageBox box;
        const bool shown = robot.WaitForMessageBox(box, 10000);
        ROBOT_CHECK(log, shown);
        if (!shown)
            return;
        ROBOT_CHECK(log, box.caption == LoadResString(301));
        if (box.text != text)
            log.Note("message: \"" + std::string(box.text.begin(), box.text.end()) + "\" expected \"" +
                     std::string(text.begin(), text.end()) + "\"");
        ROBOT_CHECK(log, box.icon == icon);
        ROBOT_CHECK(log, robot.Dismiss(box));
    }

    CScriptLog m_log;
};

#define EXPECT_SCRIPT_OK() EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined()

TEST_F(WizardPagesTest, DataSourcePageOffersTheKindsAndMovesOnByKind)
{
    CWizardData data;
    const INT_PTR result = Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Next) && !robot.ButtonEnabled(EButton::Back));
        ROBOT_CHECK(log, robot.Text(218) == LoadResString(380) && robot.Text(219) == LoadResString(381) &&
                             robot.Text(220) == LoadResString(382));
        ROBOT_CHECK(log, robot.Text(222) == LoadResString(353) && robot.Text(224) == LoadResString(354));
        ROBOT_CHECK(log, robot.IsChecked(218) && robot.IsEnabled(219) && robot.IsEnabled(220));
        // Each radio enables its own folder.
        struct Expect {
            int radio;
            bool backup, catalog;
        };
        for (const Expect& e : {Expect{219, true, false}, Expect{220, false, true}, Expect{218, false, false}}) {
            ROBOT_CHECK(log, robot.Click(e.radio));
            ROBOT_CHECK(log, robot.IsChecked(e.radio));
            ROBOT_CHECK(log, robot.IsEnabled(221) == e.backup && robot.IsEnabled(222) == e.backup);
            ROBOT_CHECK(log, robot.IsEnabled(223) == e.catalog && robot.IsEnabled(224) == e.catalog);
        }
        // A plain file goes on to the database page, where Back is offered.
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back) && robot.ButtonEnabled(EButton::Next));
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, data.SourceKind);
    EXPECT_EQ(1, data.DevicePresent);
}

TEST_F(WizardPagesTest, BackupArchiveFolderIsChecked)
{
    CScratch scratch;
    const std::wstring monday = scratch.Folder(L"Monday");
    const std::wstring tuesday = scratch.Folder(L"Tuesday");
    const std::wstring root = scratch.File(L"Monday\\Monday.KZF");
    struct Case {
        std::wstring folder;
        std::wstring message; // empty: accepted
        UINT icon;
    };
    const std::wstring drive = monday.substr(0, 3);
    const std::vector<Case> cases = {
        {L"", LoadResString(369), MB_ICONWARNING},
        // Not on a local drive: refused before anything is looked up.
        {L"\\\\server\\share\\Monday", LoadResString(378), MB_ICONWARNING},
        // A drive root has no folder name to name the archive after.
        {drive, LoadResString(369), MB_ICONWARNING},
        {tuesday, ui::FormatResource(383, (tuesday + L"\\Tuesday.KZF").c_str()), MB_ICONERROR},
        {tuesday + L"\\", ui::FormatResource(383, (tuesday + L"\\Tuesday.KZF").c_str()), MB_ICONERROR},
        {monday + L"\\", L"", 0},
    };
    CWizardData data;
    Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(219));
        for (const Case& c : cases) {
            ROBOT_CHECK(log, robot.SetText(221, c.folder));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            if (!c.message.empty())
                ExpectMessage(robot, log, c.message, c.icon);
            // An accepted folder leads on to its volumes.
            ROBOT_CHECK(log, robot.PageId() == (c.message.empty() ? kVolumePage : kDatasourcePage));
        }
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(1, data.SourceKind);
    EXPECT_EQ(monday + L"\\Monday.KZF", data.ArchivePath);

    // The same folder typed without its trailing backslash.
    CWizardData again;
    Run(again, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(219));
        ROBOT_CHECK(log, robot.SetText(221, monday));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        SMessageBox box;
        ROBOT_CHECK(log, !robot.FindMessageBox(box));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(monday + L"\\Monday.KZF", again.ArchivePath);
}

TEST_F(WizardPagesTest, ProtectionArchiveFolderIsChecked)
{
    CScratch scratch;
    const std::wstring catalog = scratch.Folder(L"Catalog");
    scratch.File(L"Catalog\\catalog.db");
    const std::wstring empty = scratch.Folder(L"Empty");
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"", LoadResString(369)},
        {empty, ui::FormatResource(384, (empty + L"\\catalog.db").c_str())},
        // Off the local drives the existence check comes first.
        {L"\\\\server\\share\\Catalog", ui::FormatResource(384, L"\\\\server\\share\\Catalog\\catalog.db")},
        {catalog, L""},
    };
    CWizardData data;
    Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(220));
        for (const auto& [folder, message] : cases) {
            ROBOT_CHECK(log, robot.SetText(223, folder));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            if (!message.empty()) {
                ExpectMessage(robot, log, message, folder.empty() ? MB_ICONWARNING : MB_ICONERROR);
                ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
                continue;
            }
            // Accepted: the catalog version page reads the catalog, which
            // here is an empty file.
            SMessageBox box;
            ROBOT_CHECK(log, robot.WaitForMessageBox(box, 10000));
            ROBOT_CHECK(log, box.text.rfind(LoadResString(371), 0) == 0);
            ROBOT_CHECK(log, robot.Dismiss(box));
            ROBOT_CHECK(log, robot.PageId() == kVersionPage);
        }
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(2, data.SourceKind);
    EXPECT_EQ(catalog + L"\\", data.ArchivePath);
}

// Reconfiguring shows the stored source, locked.
TEST_F(WizardPagesTest, ReconfiguredSourceIsShownLocked)
{
    struct Case {
        int kind;
        std::wstring image;
        int radio, edit;
        std::wstring shown;
        int archivePage;
    };
    const Case cases[] = {
        {1, L"D:\\Backups\\Monday\\Monday-1.KZF", 219, 221, L"D:\\Backups\\Monday", kVolumePage},
        {2, L"D:\\Protect\\Images\\db-LOG.VHD", 220, 223, L"D:\\Protect", kVersionPage},
    };
    for (const Case& c : cases) {
        CWizardData data;
        data.Reconfigure = 1;
        data.SourceKind = c.kind;
        data.DatabaseImage = c.image;
        Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.IsChecked(c.radio));
            ROBOT_CHECK(log, robot.Text(c.edit) == c.shown);
            for (int id = 218; id <= 224; ++id)
                ROBOT_CHECK(log, !robot.IsEnabled(id));
            // The archive is not where it was; the stored source is still
            // reopened, without a word, through its own page on to the
            // locked database page.
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            SMessageBox box;
            ROBOT_CHECK(log, !robot.FindMessageBox(box));
            ROBOT_CHECK(log, robot.PageId() == c.archivePage);
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, !robot.FindMessageBox(box));
            ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ROBOT_CHECK(log, robot.PageId() == c.archivePage);
            if (c.archivePage == kVolumePage) {
                ROBOT_CHECK(log, robot.Press(EButton::Back));
                ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
            } else {
                // The catalog version page leaves the buttons of a stored
                // version as they were: the database page's.
                ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Next));
            }
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        });
        EXPECT_SCRIPT_OK();
    }
}

// After an archive page the database page takes its paths from the mounted
// drives.
TEST_F(WizardPagesTest, DatabasePageAfterAnArchiveSource)
{
    CWizardData version;
    version.SourceKind = 2;
    version.VersionDatabaseFile = L"E:\\Exchange\\Mailbox Database.edb";
    version.DatabaseMountRoot = L"H:\\";
    Run(version, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.Text(207) == L"H:\\Data\\Mailbox Database.edb");
        ROBOT_CHECK(log, robot.Text(208) == L"H:\\Data");
        for (int id : {206, 207, 208, 209})
            ROBOT_CHECK(log, !robot.IsEnabled(id));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(L"H:\\Data\\Mailbox Database.edb", version.DatabasePath);
    EXPECT_EQ(L"H:\\Data", version.LogPath);

    // Volumes mounted at other letters than the earlier choice: forgotten.
    CWizardData volumes;
    volumes.SourceKind = 1;
    volumes.DatabasePath = L"F:\\Data\\priv1.edb";
    volumes.LogPath = L"F:\\Logs";
    volumes.DatabaseMountRoot = L"H:\\";
    volumes.LogMountRoot = L"H:\\";
    Run(volumes, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Text(207).empty() && robot.Text(208).empty());
        ROBOT_CHECK(log, robot.IsEnabled(207) && robot.IsEnabled(206));
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_TRUE(volumes.DatabasePath.empty() && volumes.LogPath.empty());

    // The same drives, typed in lower case: kept.
    CWizardData typed;
    typed.SourceKind = 1;
    typed.DatabasePath = L"h:\\Data\\priv1.edb";
    typed.LogPath = L"h:\\Logs";
    typed.DatabaseMountRoot = L"H:\\";
    typed.LogMountRoot = L"H:\\";
    Run(typed, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Text(207) == L"h:\\Data\\priv1.edb" && robot.Text(208) == L"h:\\Logs");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(L"h:\\Data\\priv1.edb", typed.DatabasePath);
    EXPECT_EQ(L"h:\\Logs", typed.LogPath);
}

// The shell's pickers fill the page's fields.
TEST_F(WizardPagesTest, PickersFillTheDatabasePage)
{
    CScratch scratch;
    const std::wstring database = scratch.File(L"priv1.edb");
    const std::wstring logs = scratch.Folder(L"logs");
    CWizardData data;
    Run(data, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(206));
        HWND picker = nullptr;
        for (int i = 0; i < 500 && !(picker = robot.FindOtherDialog()); ++i)
            Sleep(10);
        ROBOT_CHECK(log, picker != nullptr);
        if (!picker)
            return;
        wchar_t title[256] = {};
        GetWindowTextW(picker, title, 256);
        ROBOT_CHECK(log, std::wstring(title) == LoadResString(307));
        // The file name box of the open dialog, then OK.
        HWND name = GetDlgItem(picker, 0x047C);
        if (!name)
            name = GetDlgItem(picker, 0x0480);
        ROBOT_CHECK(log, name != nullptr);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(database.c_str()));
        PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
        for (int i = 0; i < 500 && IsWindow(picker); ++i)
            Sleep(10);
        robot.Settle();
        ROBOT_CHECK(log, robot.Text(207) == database);
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    (void)logs;
}

// The folder browser fills the log field with one trailing backslash.
TEST_F(WizardPagesTest, FolderBrowserFillsTheLogField)
{
    CScratch scratch;
    const std::wstring logs = scratch.Folder(L"logs");
    CWizardData data;
    Run(data, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(209));
        HWND picker = nullptr;
        for (int i = 0; i < 500 && !(picker = robot.FindOtherDialog()); ++i)
            Sleep(10);
        ROBOT_CHECK(log, picker != nullptr);
        if (!picker)
            return;
        // The folder picked in the browser's tree, once the tree is there.
        ROBOT_CHECK(log, PickFolder(robot, picker, logs));
        PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
        for (int i = 0; i < 500 && IsWindow(picker); ++i)
            Sleep(10);
        robot.Settle();
        ROBOT_CHECK(log, robot.Text(208) == logs + L"\\");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
}

// For an archive source the open-file dialog keeps the user on the drive of
// the mounted volume.
TEST_F(WizardPagesTest, OpenDialogKeepsAnArchiveSourceOnItsDrive)
{
    CScratch scratch;
    const std::wstring database = scratch.File(L"priv1.edb");
    const std::wstring elsewhere = L"Z:\\etc\\hostname";
    if (GetFileAttributesW(elsewhere.c_str()) == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no file on another drive";
    CWizardData data;
    data.SourceKind = 1;
    data.DatabaseMountRoot = database.substr(0, 3);
    Run(data, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(206));
        HWND picker = nullptr;
        for (int i = 0; i < 500 && !(picker = robot.FindOtherDialog()); ++i)
            Sleep(10);
        ROBOT_CHECK(log, picker != nullptr);
        if (!picker)
            return;
        HWND name = GetDlgItem(picker, 0x047C);
        if (!name)
            name = GetDlgItem(picker, 0x0480);
        auto type = [&](const std::wstring& text) {
            SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
            PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
            robot.Settle();
        };
        // Into the other drive's folder first, then the file there.
        type(L"Z:\\etc\\");
        type(L"hostname");
        SMessageBox box;
        ROBOT_CHECK(log, robot.WaitForMessageBox(box, 10000));
        ROBOT_CHECK(log, box.text == std::wstring(L"Please select file from disk ") + database[0] + L":");
        ROBOT_CHECK(log, box.caption == LoadResString(301));
        ROBOT_CHECK(log, box.icon == MB_ICONWARNING);
        ROBOT_CHECK(log, robot.Dismiss(box));
        ROBOT_CHECK(log, IsWindow(picker));
        type(scratch.Path() + L"\\");
        type(L"priv1.edb");
        for (int i = 0; i < 500 && IsWindow(picker); ++i)
            Sleep(10);
        robot.Settle();
        ROBOT_CHECK(log, robot.Text(207) == database);
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
}

// What the wizard asked of HTML Help, in place of showing it.
struct SHelpCall {
    UINT command;
    std::wstring file;
};
std::vector<SHelpCall> g_helpCalls;

HWND WINAPI RecordHtmlHelp(HWND, LPCWSTR file, UINT command, DWORD_PTR)
{
    g_helpCalls.push_back({command, file ? file : L""});
    return nullptr;
}

// Help opens the wizard's topic of the installed help file, and the wizard
// goes on as it was.
TEST_F(WizardPagesTest, HelpNamesTheWizardsTopic)
{
    const wchar_t kUninstall[] =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6F93A0C5-B21E-4D7C-8F48-3E5D07A9B162}";
    std::wstring topic;
    HKEY existing = nullptr;
    const bool hadKey = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ, &existing) == ERROR_SUCCESS;
    if (existing)
        RegCloseKey(existing);
    if (hadKey)
        GTEST_SKIP() << "the product's uninstall key exists in this prefix";
    EXPECT_FALSE(WizardHelpTopicPath(topic));

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    const wchar_t location[] = L"C:\\Program Files\\Vostrel\\ ";
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location), sizeof(location));
    RegCloseKey(key);
    EXPECT_TRUE(WizardHelpTopicPath(topic));
    EXPECT_EQ(L"C:\\Program Files\\Vostrel\\Trevassa.chm::Connecting_MS_Exchange_Mail_Database.htm", topic);

    g_helpCalls.clear();
    const HtmlHelpFn system = SetHtmlHelp(&RecordHtmlHelp);
    CWizardData data;
    Run(data, DeviceAbsent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Help));
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.FindOtherDialog() == nullptr);
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
    SetHtmlHelp(system);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstall);
    ASSERT_EQ(1u, g_helpCalls.size());
    EXPECT_EQ(static_cast<UINT>(HH_DISPLAY_TOPIC), g_helpCalls[0].command);
    EXPECT_EQ(L"C:\\Program Files\\Vostrel\\Trevassa.chm::Connecting_MS_Exchange_Mail_Database.htm",
              g_helpCalls[0].file);
}

// Cancel with the driver reported present takes down what was mounted; a
// controller that does not open is reported once and ends the clean-up.
TEST_F(WizardPagesTest, CancelReportsAControllerThatDoesNotOpen)
{
    CWizardData data;
    const INT_PTR result = Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        SMessageBox box;
        ROBOT_CHECK(log, robot.WaitForMessageBox(box, 10000));
        ROBOT_CHECK(log, box.caption == LoadResString(301));
        // The driver's client leaves its own code when the controller is missing.
        ROBOT_CHECK(log, box.text == kControllerMissing);
        ROBOT_CHECK(log, box.icon == MB_ICONERROR);
        ROBOT_CHECK(log, robot.Dismiss(box));
        ROBOT_CHECK(log, robot.WaitForSheetGone(10000));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(0, result);
}

// Closing the wizard's window cancels it as the Cancel button does, clean-up
// included.
TEST_F(WizardPagesTest, ClosingTheWindowCleansUpAsCancelDoes)
{
    CWizardData data;
    const INT_PTR result = Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        PostMessageW(robot.Sheet(), WM_SYSCOMMAND, SC_CLOSE, 0);
        ExpectMessage(robot, log, kControllerMissing, MB_ICONERROR);
        ROBOT_CHECK(log, robot.WaitForSheetGone(10000));
    });
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(0, result);
}

// The archive folder's browser fills its field with one trailing backslash.
TEST_F(WizardPagesTest, ArchiveFolderBrowser)
{
    CScratch scratch;
    const std::wstring monday = scratch.Folder(L"Monday");
    CWizardData data;
    Run(data, DevicePresent, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Click(219));
        ROBOT_CHECK(log, robot.Click(222));
        HWND picker = nullptr;
        for (int i = 0; i < 500 && !(picker = robot.FindOtherDialog()); ++i)
            Sleep(10);
        ROBOT_CHECK(log, picker != nullptr);
        if (!picker)
            return;
        ROBOT_CHECK(log, PickFolder(robot, picker, monday));
        PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
        for (int i = 0; i < 500 && IsWindow(picker); ++i)
            Sleep(10);
        robot.Settle();
        ROBOT_CHECK(log, robot.Text(221) == monday + L"\\");
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
    });
    EXPECT_SCRIPT_OK();
}

// A page whose handlers fail: the failure is caught at the window
// procedure, Next stays on the page, and the wizard goes on working.
class CFailingPage : public ui::CPropertyPageImpl<CFailingPage> {
public:
    CFailingPage() : CPropertyPageImpl(kDatabasePage) { SetHeader(L"Failing", L"Every handler throws"); }
    static const ui::SMessageEntry<CFailingPage> kMessages[];
    int nextCalls = 0;

protected:
    int OnWizardNext() override
    {
        ++nextCalls;
        throw std::runtime_error("Next failed");
    }

private:
    INT_PTR OnBrowse(WPARAM, LPARAM) { throw _com_error(E_FAIL); }
};

const ui::SMessageEntry<CFailingPage> CFailingPage::kMessages[] = {
    {WM_COMMAND, 206, BN_CLICKED, &CFailingPage::OnBrowse},
    {0, 0, 0, nullptr},
};

class CPlainPage : public ui::CPropertyPageImpl<CPlainPage> {
public:
    CPlainPage() : CPropertyPageImpl(kMailboxPage) {}
    static const ui::SMessageEntry<CPlainPage> kMessages[];
};

const ui::SMessageEntry<CPlainPage> CPlainPage::kMessages[] = {
    {0, 0, 0, nullptr},
};

TEST_F(WizardPagesTest, FailingHandlersAreCaughtAtTheWindowProcedure)
{
    CFailingPage failing;
    CPlainPage plain;
    INT_PTR result = -2;
    RunWithRobot(
        [&] {
            ui::CWizardSheet sheet(L"Wizard", 1000, 1001);
            sheet.AddPage(failing);
            sheet.AddPage(plain);
            result = sheet.DoModal(nullptr);
            return S_OK;
        },
        [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ROBOT_CHECK(log, robot.Click(206));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
            ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        },
        m_log);
    EXPECT_SCRIPT_OK();
    EXPECT_EQ(0, result);
    EXPECT_EQ(2, failing.nextCalls);
}

_com_error ServerError(HRESULT hr, const wchar_t* description)
{
    ComPtr<ICreateErrorInfo> create;
    CreateErrorInfo(create.GetAddressOf());
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    create.As(&info);
    return _com_error(hr, info.Detach());
}

TEST(WizardErrorTexts, ServerErrorsChooseTheMessage)
{
    const wchar_t kCorrupted[] = L"Cannot open Exchange Database file.\nThe file is corrupted.";
    struct Case {
        const wchar_t* description;
        std::wstring text;
    };
    const Case cases[] = {
        {L"7 3 fffffdaf log base names differ",
         L"The specified folder contains log files with different base names and ESE engine cannot play them back "
         L"correctly. Please place log files with the same base name into a separate folder before trying to open "
         L"the database."},
        {L"2 3 fffffb4a anything", L"Cannot open Exchange Database file.\nError code: 0xFFFFFB4A."},
        {L"0 2 80070005 a call failed", L"Cannot open Exchange Database file.\nError code: 0x80070005."},
        {L"0 3 fffffb4a corrupted", kCorrupted},  // -1206
        {L"0 3 fffff05f corrupted", kCorrupted},  // -4001
        {L"0 3 fffffc02 corrupted", kCorrupted},  // -1022
        {L"0 3 fffffeb9 corrupted", kCorrupted},  // -327
        {L"0 3 fffff8ed not found", L"Cannot open the specified Exchange database file.\nFile not found."},  // -1811
        {L"0 3 fffffb41 in use",
         L"Unable to open the specified Exchange database file. The file is already in use by this or some other "
         L"application."},                                                           // -1215
        {L"0 3 fffffbf8 denied", L"Cannot open Exchange Database file.\nAccess denied."}, // -1032
        {L"0 3 fffffbfc other", L"Cannot open Exchange Database file.\nError code: 0xFFFFFBFC."},
    };
    for (const Case& c : cases) {
        const std::wstring description = c.description;
        SCOPED_TRACE(std::string(description.begin(), description.end()));
        EXPECT_EQ(c.text, GetUIErrorMessage(ServerError(E_FAIL, c.description)));
    }
    // No description, or one the server did not frame: the system's text.
    const _com_error bare(E_ACCESSDENIED);
    const std::wstring system = bare.ErrorMessage();
    const std::wstring unframed = L"Cannot open the specified Exchange database file. " + system;
    EXPECT_EQ(unframed, GetUIErrorMessage(bare));
    EXPECT_EQ(unframed, GetUIErrorMessage(ServerError(E_ACCESSDENIED, L"not framed")));
}

UINT WINAPI EveryDriveUsed(LPCWSTR)
{
    return DRIVE_FIXED;
}

UINT WINAPI OnlyAFree(LPCWSTR root)
{
    return root[0] == L'A' ? DRIVE_NO_ROOT_DIR : DRIVE_FIXED;
}

UINT WINAPI UpperHalfUsed(LPCWSTR root)
{
    return root[0] > L'M' ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
}

TEST(WizardProbes, FreeDriveLetterFromZDown)
{
    std::wstring root = L"stale";
    EXPECT_EQ(0, FindFreeDriveLetterWith(EveryDriveUsed, root));
    EXPECT_TRUE(root.empty());
    EXPECT_EQ(1, FindFreeDriveLetterWith(OnlyAFree, root));
    EXPECT_EQ(L"A:\\", root);
    EXPECT_EQ(1, FindFreeDriveLetterWith(UpperHalfUsed, root));
    EXPECT_EQ(L"M:\\", root);
}

TEST(WizardProbes, ImageDriveLetterFromTheMountedDevices)
{
    const std::wstring keyPath = L"Software\\VostrelTest\\MountedDevices" + std::to_wstring(GetCurrentProcessId());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    auto binary = [&](const wchar_t* name, const std::wstring& text) {
        // UTF-16 without a terminator; the reader gives up the last unit.
        const std::wstring stored = text + L"#";
        RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(stored.data()),
                       static_cast<DWORD>(stored.size() * sizeof(wchar_t)));
    };
    const std::wstring device = L"_??_QorBus#ImageDevice#Image&Monday-1.KZF#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    binary(L"\\DosDevices\\P:", L"_??_QorBus#ImageDevice#Image&Other.KZF#{x}");
    binary(L"\\??\\Volume{1}", device);                                       // not a drive letter
    binary(L"\\DosDevices\\Q:", L"_??_SomeBus#Disk#Image&Monday-1.KZF#{x}");  // another device
    RegSetValueExW(key, L"\\DosDevices\\R:", 0, REG_SZ, reinterpret_cast<const BYTE*>(device.c_str()),
                   static_cast<DWORD>((device.size() + 1) * sizeof(wchar_t)));  // not binary
    std::wstring root;
    EXPECT_EQ(0, FindImageDriveLetterIn(key, L"Monday-1.KZF", root));
    binary(L"\\DosDevices\\S:", device);
    EXPECT_EQ(1, FindImageDriveLetterIn(key, L"monday-1.kzf", root));
    EXPECT_EQ(L"S:\\", root);
    EXPECT_EQ(1, FindImageDriveLetterIn(key, L"Other.KZF", root));
    EXPECT_EQ(L"P:\\", root);
    RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath.c_str());
}

// A finished wizard's answers as the service values: the restore map only
// for a catalog version, name then path in list order.
TEST(ServiceValues, RestoreMapOfACatalogVersion)
{
    CWizardData data;
    data.DatabasePath = L"H:\\Data\\Mailbox Database.edb";
    data.LogPath = L"H:\\Data";
    data.SourceKind = 2;
    data.DatabaseImage = L"D:\\Protect\\Images\\db-LOG.VHD";
    data.LogImage = data.DatabaseImage;
    data.CatalogBackupId = 17;
    data.RestoreMap = {{L"First", L"C:\\SG\\first.edb"}, {L"Second", L"C:\\SG\\second.edb"},
                       {L"Third", L"C:\\SG\\third.edb"}};
    std::vector<SPropValue> values(8);
    for (SPropValue& value : values)
        value.ulPropTag = PROP_TAG(PT_ERROR, 0x6600);
    setup::CServiceValues answers;
    answers.FromWizard(data, values.data());
    EXPECT_EQ(PR_PROV_DATABASE_PATH, values[0].ulPropTag);
    EXPECT_STREQ(L"H:\\Data\\Mailbox Database.edb", values[0].Value.lpszW);
    EXPECT_EQ(2, values[2].Value.l);
    EXPECT_EQ(17, values[6].Value.l);
    ASSERT_EQ(PR_PROV_RESTORE_MAP, values[5].ulPropTag);
    ASSERT_EQ(6u, values[5].Value.MVszW.cValues);
    const wchar_t* expected[] = {L"First", L"C:\\SG\\first.edb", L"Second", L"C:\\SG\\second.edb",
                                 L"Third", L"C:\\SG\\third.edb"};
    for (int i = 0; i < 6; ++i)
        EXPECT_STREQ(expected[i], values[5].Value.MVszW.lppszW[i]);

    // Another kind leaves the value as it was read.
    data.SourceKind = 1;
    std::vector<SPropValue> plain(8);
    plain[5].ulPropTag = PROP_TAG(PT_ERROR, 0x6615);
    setup::CServiceValues other;
    other.FromWizard(data, plain.data());
    EXPECT_EQ(static_cast<ULONG>(PROP_TAG(PT_ERROR, 0x6615)), plain[5].ulPropTag);
}

} // namespace
