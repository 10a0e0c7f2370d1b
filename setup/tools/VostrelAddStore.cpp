// The main job's first half, done the way a user does it: registers the
// library and its message service, makes a MAPI profile, adds the service
// (CreateMsgService, which runs the add-store wizard; a robot thread works its
// pages and checks every mailbox, taking a screenshot of each page), then
// configures it once more (ConfigureMsgService, which now only completes the
// store's profile section). Prints the profile's name for the logon that
// follows.
//
// The database is a plain .edb file, or lies in a backup: an archive folder
// whose volume the wizard mounts (the database and its log folder then named
// relative to the mounted drive), or a protection archive's catalog folder,
// where the first mailbox database's first version is chosen and its image
// mounted (the catalog names the file). Both need the image-mounting driver.
//
//   VostrelAddStore <database.edb> [log folder] [--screenshots <folder>]
//   VostrelAddStore --archive <folder> <database on the drive> <log folder on the drive> [--screenshots <folder>]
//   VostrelAddStore --catalog <folder> [--screenshots <folder>]
#include "ProviderPlatform.h"

#include "WizardProbes.h"
#include "WizardSession.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace wizardtest;

namespace {

constexpr int kDatasourcePage = 107;
constexpr int kVolumePage = 235;
constexpr int kVersionPage = 236;
constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;
constexpr int kMailboxList = 1120;

enum class ESource { File, Archive, Catalog };

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t unit : text)
        narrow += unit < 128 ? static_cast<char>(unit) : '?';
    return narrow;
}

std::wstring Hex(const MAPIUID& uid)
{
    std::wstring text;
    wchar_t pair[3];
    for (BYTE b : uid.ab) {
        swprintf(pair, 3, L"%02X", b);
        text += pair;
    }
    return text;
}

std::wstring FileNameOf(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Ends the script when the wizard says something instead of moving on.
bool Moved(CWizardRobot& robot, CScriptLog& script, int page)
{
    SMessageBox box;
    if (robot.FindMessageBox(box)) {
        script.Note("the wizard says: " + Narrow(box.text));
        return false;
    }
    if (robot.PageId() != page) {
        script.Note("the wizard is not on page " + std::to_string(page));
        return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> paths;
    std::wstring screenshots;
    ESource source = ESource::File;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--screenshots" && i + 1 < argc)
            screenshots = argv[++i];
        else if (arg == L"--archive")
            source = ESource::Archive;
        else if (arg == L"--catalog")
            source = ESource::Catalog;
        else
            paths.push_back(arg);
    }
    const size_t wanted = source == ESource::Archive ? 3 : 1;
    if (paths.size() < wanted || paths.size() > (source == ESource::File ? 2u : wanted)) {
        std::fprintf(stderr,
                     "usage: VostrelAddStore <database.edb> [log folder] [--screenshots <folder>]\n"
                     "       VostrelAddStore --archive <folder> <database on the drive> <log folder on the drive>"
                     " [--screenshots <folder>]\n"
                     "       VostrelAddStore --catalog <folder> [--screenshots <folder>]\n");
        return 2;
    }
    if (!screenshots.empty())
        CreateDirectoryW(screenshots.c_str(), nullptr);

    HRESULT hr = RegisterLibrary(true);
    if (FAILED(hr)) {
        std::fprintf(stderr, "registering KOLVEN32.dll failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    CMapiProfile profile(L"Vostrel", true);
    if (!profile.Ready()) {
        std::fprintf(stderr, "no MAPI profile could be made\n");
        return 1;
    }
    profile.Keep();
    profile.SetDefault();

    CScriptLog log;
    int mailboxes = 0;
    hr = RunWithRobot(
        [&] { return profile.CreateService(SERVICE_UI_ALWAYS); },
        [&](CWizardRobot& robot, CScriptLog& script) {
            int shots = 0;
            auto shot = [&](const wchar_t* name) {
                if (!screenshots.empty())
                    robot.Screenshot(robot.Sheet(),
                                     screenshots + L"\\main-" + std::to_wstring(++shots) + L"-" + name + L".png");
            };
            ROBOT_CHECK(script, robot.WaitForSheet());
            if (source == ESource::File) {
                if (robot.PageId() == kDatasourcePage)
                    ROBOT_CHECK(script, robot.Press(EButton::Next));
                ROBOT_CHECK(script, robot.PageId() == kDatabasePage);
                ROBOT_CHECK(script, robot.SetText(207, paths[0]));
                ROBOT_CHECK(script, robot.SetText(208, paths.size() > 1 ? paths[1] : std::wstring()));
            } else {
                // The driver is there, so the wizard starts with the source.
                if (!Moved(robot, script, kDatasourcePage))
                    return;
                const bool archive = source == ESource::Archive;
                ROBOT_CHECK(script, robot.Click(archive ? 219 : 220));
                ROBOT_CHECK(script, robot.SetText(archive ? 221 : 223, paths[0]));
                shot(L"datasource-page");
                ROBOT_CHECK(script, robot.Press(EButton::Next));
                if (archive) {
                    // The first volume holds the database; a second one, the logs.
                    if (!Moved(robot, script, kVolumePage))
                        return;
                    const int volumes = robot.ListCount(239);
                    ROBOT_CHECK(script, volumes > 0);
                    ROBOT_CHECK(script, robot.ListSelect(239, {0}));
                    ROBOT_CHECK(script, robot.Click(214));
                    ROBOT_CHECK(script, robot.ListSelect(239, {volumes > 1 ? 1 : 0}));
                    ROBOT_CHECK(script, robot.Click(240));
                    const std::wstring databaseVolume = robot.Text(241);
                    const std::wstring logVolume = robot.Text(242);
                    shot(L"volume-page");
                    ROBOT_CHECK(script, robot.Press(EButton::Next));
                    if (!Moved(robot, script, kDatabasePage))
                        return;
                    // The drives the volumes were mounted at, as the driver records them.
                    std::wstring databaseRoot, logRoot;
                    ROBOT_CHECK(script, FindImageDriveLetter(FileNameOf(databaseVolume), databaseRoot));
                    ROBOT_CHECK(script, FindImageDriveLetter(FileNameOf(logVolume), logRoot));
                    ROBOT_CHECK(script, robot.SetText(207, databaseRoot + paths[1]));
                    ROBOT_CHECK(script, robot.SetText(208, logRoot + paths[2]));
                } else {
                    // A mailbox database (icon 0) and its first version.
                    if (!Moved(robot, script, kVersionPage))
                        return;
                    int database = -1;
                    for (int item = 0; item < robot.ListCount(245) && database < 0; ++item) {
                        if (robot.ListImage(245, item) == 0)
                            database = item;
                    }
                    ROBOT_CHECK(script, database >= 0);
                    ROBOT_CHECK(script, robot.ListSelect(245, {database}));
                    ROBOT_CHECK(script, robot.ListCount(246) > 0);
                    ROBOT_CHECK(script, robot.ListSelect(246, {0}));
                    shot(L"version-page");
                    ROBOT_CHECK(script, robot.Press(EButton::Next));
                    if (!Moved(robot, script, kDatabasePage))
                        return;
                }
            }
            shot(L"database-page");
            ROBOT_CHECK(script, robot.Press(EButton::Next));
            if (!Moved(robot, script, kMailboxPage))
                return;
            mailboxes = robot.ListCount(kMailboxList);
            for (int item = 0; item < mailboxes; ++item)
                robot.ListSetChecked(kMailboxList, item, true);
            shot(L"mailbox-page");
            ROBOT_CHECK(script, robot.ButtonEnabled(EButton::Finish));
            ROBOT_CHECK(script, robot.Press(EButton::Finish));
        },
        log);
    if (!log.Failures().empty() || hr != S_OK) {
        std::fprintf(stderr, "adding the store failed (0x%08lX):\n%s", static_cast<unsigned long>(hr),
                     log.Joined().c_str());
        return 1;
    }
    MAPIUID service;
    if (!profile.LastServiceUid(service)) {
        std::fprintf(stderr, "the profile has no store service\n");
        return 1;
    }
    // With the settings in place, configuring shows no wizard.
    hr = RunWithRobot([&] { return profile.Configure(service, SERVICE_UI_ALLOWED); },
                      [&](CWizardRobot& robot, CScriptLog& script) {
                          ROBOT_CHECK(script, !robot.WaitForSheet(3000));
                      },
                      log);
    if (!log.Failures().empty() || FAILED(hr)) {
        std::fprintf(stderr, "configuring the store failed (0x%08lX):\n%s", static_cast<unsigned long>(hr),
                     log.Joined().c_str());
        return 1;
    }

    MAPIUID provider;
    profile.ProviderSection(service, provider);
    const CSectionValues identity = profile.Read(provider, {PR_DISPLAY_NAME_W});
    const CSectionValues images = profile.Read(service, {0x6613001F, 0x6614001F});
    std::printf("profile: %s\n", Narrow(profile.Name()).c_str());
    std::printf("service: %s\n", Narrow(Hex(service)).c_str());
    std::printf("store: %s, %d mailbox(es) shown\n", Narrow(identity.Text(PR_DISPLAY_NAME_W)).c_str(), mailboxes);
    if (source != ESource::File) {
        std::printf("database image: %s\n", Narrow(images.Text(0x6613001F)).c_str());
        std::printf("log image: %s\n", Narrow(images.Text(0x6614001F)).c_str());
    }
    std::printf("settings: %s\n", Narrow(SettingsFilePath(service)).c_str());
    return 0;
}
