// The main job's first half, done the way a user does it: registers the
// library and its message service, makes a MAPI profile, adds the service
// (CreateMsgService, which runs the add-store wizard; a robot thread fills
// in the database page and checks every mailbox, taking a screenshot of each
// page), then configures it once more (ConfigureMsgService, which now only
// completes the store's profile section). Prints the profile's name for the
// logon that follows.
//
// VostrelAddStore <database.edb> [log folder] [--screenshots <folder>]
#include "ProviderPlatform.h"

#include "WizardSession.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace wizardtest;

namespace {

constexpr int kDatabasePage = 202;
constexpr int kMailboxPage = 203;
constexpr int kMailboxList = 1120;

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

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::wstring> paths;
    std::wstring screenshots;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--screenshots" && i + 1 < argc)
            screenshots = argv[++i];
        else
            paths.push_back(arg);
    }
    if (paths.empty() || paths.size() > 2) {
        std::fprintf(stderr, "usage: VostrelAddStore <database.edb> [log folder] [--screenshots <folder>]\n");
        return 2;
    }
    const std::wstring database = paths[0];
    const std::wstring logs = paths.size() > 1 ? paths[1] : std::wstring();
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
            auto shot = [&](const wchar_t* name) {
                if (!screenshots.empty())
                    robot.Screenshot(robot.Sheet(), screenshots + L"\\" + name);
            };
            ROBOT_CHECK(script, robot.WaitForSheet());
            ROBOT_CHECK(script, robot.PageId() == kDatabasePage);
            ROBOT_CHECK(script, robot.SetText(207, database));
            ROBOT_CHECK(script, robot.SetText(208, logs));
            shot(L"main-1-database-page.png");
            ROBOT_CHECK(script, robot.Press(EButton::Next));
            SMessageBox box;
            if (robot.FindMessageBox(box)) {
                script.Note("the wizard says: " + Narrow(box.text));
                return;
            }
            ROBOT_CHECK(script, robot.PageId() == kMailboxPage);
            mailboxes = robot.ListCount(kMailboxList);
            for (int item = 0; item < mailboxes; ++item)
                robot.ListSetChecked(kMailboxList, item, true);
            shot(L"main-2-mailbox-page.png");
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
    std::printf("profile: %s\n", Narrow(profile.Name()).c_str());
    std::printf("service: %s\n", Narrow(Hex(service)).c_str());
    std::printf("store: %s, %d mailbox(es) shown\n", Narrow(identity.Text(PR_DISPLAY_NAME_W)).c_str(), mailboxes);
    std::printf("settings: %s\n", Narrow(SettingsFilePath(service)).c_str());
    return 0;
}
