// The backup-archive volume page and the catalog version page in this
// process, over archives and catalogs the tests write, with the
// image-mounting driver stood in for by the sheet's probe (so every mount
// these pages try fails at the controller, unless the image shows already):
// the volume listing of both archive formats and of collections, the
// catalog's server, databases and versions in both layouts, every message of
// the two pages, and what a chosen version leaves in the wizard's record.
#include "ProviderPlatform.h"

#include "ArchiveTestSupport.h"
#include "BackupSourceBuilder.h"
#include "CAddStoreWizardSheet.h"
#include "CLorvArchive.h"
#include "CWizardRobot.h"
#include "Messages.h"
#include "ResourceStrings.h"
#include "WizardSession.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Message 334 as the clean-up shows it when the driver's controller is not
// there (the test program carries the library's own table, tokens and all).
const std::wstring kControllerMissing =
    L"Unable to dismount the <VendorShortName> Backup archive. Function QorApiControllerOpen() failed, error code "
    L"E0000010.";

using namespace wizardtest;
using backupsource::Utf8;
using backupsource::Wide;

constexpr int kDatasourcePage = 107;
constexpr int kVolumePage = 235;
constexpr int kVersionPage = 236;
constexpr int kDatabasePage = 202;

constexpr int kBackupRadio = 219;
constexpr int kBackupFolder = 221;
constexpr int kCatalogRadio = 220;
constexpr int kCatalogFolder = 223;

constexpr int kVolumeList = 239;
constexpr int kToDatabase = 214;
constexpr int kToLogs = 240;
constexpr int kDatabaseVolume = 241;
constexpr int kLogVolume = 242;
constexpr int kArchiveLabel = 243;

constexpr int kServerLine = 244;
constexpr int kDatabaseList = 245;
constexpr int kVersionList = 246;

int DevicePresent()
{
    return 1;
}

UINT WINAPI EveryDriveUsed(LPCWSTR)
{
    return DRIVE_FIXED;
}

std::string Narrow(const std::wstring& text)
{
    return Utf8(text);
}

// A volume of the older archive format: one FAT16 partition of 8 sectors,
// all present (its boot sector has no signature).
void WriteOlderFormatVolume(const std::string& path)
{
    std::vector<uint8_t> bytes(512, 0);
    bytes[0] = 'K';
    bytes[1] = 'Z';
    bytes[6] = 1;
    std::vector<uint8_t> marker(512, 0);
    std::memcpy(marker.data(), "xENT", 4);
    marker[0] = 0x41;
    std::vector<uint8_t> descriptor(512, 0);
    descriptor[0] = 8;  // sectors
    descriptor[4] = 6;  // FAT16
    std::vector<uint8_t> boot(512, 0);
    boot[0] = 0xEB;
    boot[17] = 224;  // root entries
    for (const auto* part : {&marker, &descriptor, &boot})
        bytes.insert(bytes.end(), part->begin(), part->end());
    bytes.insert(bytes.end(), boot.begin(), boot.end());
    bytes.resize(bytes.size() + 7 * 512, 0x5A);
    backupsource::WriteWholeFile(path, bytes);
}

// Database files for catalogs only listed here: the bytes are never opened.
backupsource::SDatabaseFiles SomeDatabaseFiles()
{
    backupsource::SDatabaseFiles files;
    files.database = {L"Mailbox Database.edb", std::vector<uint8_t>(8192, 0x42)};
    files.logs = {{L"E00.log", std::vector<uint8_t>(4096, 0x17)}, {L"E00.chk", std::vector<uint8_t>(512, 1)}};
    return files;
}

// Makes the driver look as if it showed an image of this file name at a free
// drive letter (HKLM "SYSTEM\MountedDevices", as the platform's mount manager
// records it); the value goes with the object.
class CShownImage {
public:
    explicit CShownImage(const std::wstring& imageFileName)
    {
        for (wchar_t letter = L'Y'; letter > L'D' && m_name.empty(); --letter) {
            const wchar_t root[] = {letter, L':', L'\\', 0};
            if (GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR)
                continue;
            m_root = root;
            m_name = std::wstring(L"\\DosDevices\\") + letter + L":";
        }
        HKEY key = nullptr;
        if (m_name.empty() || RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", 0, nullptr, 0,
                                              KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        // UTF-16 without a terminator of its own.
        const std::wstring device =
            L"_??_QorBus#ImageDevice#Image&" + imageFileName + L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        m_set = RegSetValueExW(key, m_name.c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(device.data()),
                               static_cast<DWORD>(device.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~CShownImage()
    {
        HKEY key = nullptr;
        if (m_set && RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", 0, KEY_ALL_ACCESS, &key) ==
                         ERROR_SUCCESS) {
            RegDeleteValueW(key, m_name.c_str());
            RegCloseKey(key);
        }
    }
    CShownImage(const CShownImage&) = delete;
    CShownImage& operator=(const CShownImage&) = delete;

    bool Set() const { return m_set; }
    const std::wstring& Root() const { return m_root; }

private:
    std::wstring m_name;
    std::wstring m_root;
    bool m_set = false;
};

// Makes the driver look as if it showed this very image at a free drive
// letter, for the pages' lookup of images shown already (the driver itself is
// not there); the pretence goes with the object.
class CDriverShows {
public:
    static constexpr uint32_t kIndex = 7;
    explicit CDriverShows(const std::wstring& imagePath)
    {
        s_image = imagePath;
        s_root.clear();
        for (wchar_t letter = L'Y'; letter > L'D' && s_root.empty(); --letter) {
            const wchar_t root[] = {letter, L':', L'\\', 0};
            if (GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR)
                s_root = root;
        }
    }
    ~CDriverShows() { s_image.clear(); }
    CDriverShows(const CDriverShows&) = delete;
    CDriverShows& operator=(const CDriverShows&) = delete;

    const std::wstring& Root() const { return s_root; }
    static int Probe(const std::wstring& imagePath, std::wstring& root, uint32_t& imageIndex)
    {
        if (s_image.empty() || _wcsicmp(imagePath.c_str(), s_image.c_str()) != 0)
            return 0;
        root = s_root;
        imageIndex = kIndex;
        return 1;
    }

private:
    static std::wstring s_image;
    static std::wstring s_root;
};
std::wstring CDriverShows::s_image;
std::wstring CDriverShows::s_root;

// Runs one statement on a catalog (a test changing its own fixture).
bool ExecOnCatalog(const std::string& catalog, const char* sql)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(catalog.c_str(), &db) == SQLITE_OK && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) ==
                                                                      SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

class BackupPagesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { OleInitialize(nullptr); }

    INT_PTR Run(CWizardData& data, const RobotScript& script, UINT(WINAPI* driveType)(LPCWSTR) = nullptr,
                int (*shownImage)(const std::wstring&, std::wstring&, uint32_t&) = nullptr)
    {
        INT_PTR result = -2;
        RunWithRobot(
            [&] {
                CAddStoreWizardSheet sheet(data, DevicePresent);
                if (driveType)
                    sheet.SetDriveTypeProbe(driveType);
                if (shownImage)
                    sheet.SetShownImageProbe(shownImage);
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
            log.Note("message: \"" + Narrow(box.text) + "\" expected \"" + Narrow(text) + "\"");
        ROBOT_CHECK(log, box.icon == icon);
        ROBOT_CHECK(log, robot.Dismiss(box));
    }

    static void ExpectNoMessage(CWizardRobot& robot, CScriptLog& log)
    {
        SMessageBox box;
        if (robot.FindMessageBox(box)) {
            log.Note("unexpected message: " + Narrow(box.text));
            robot.Dismiss(box);
        }
    }

    // From the data-source page to the page of an archive folder.
    static void ChooseSource(CWizardRobot& robot, CScriptLog& log, int radio, int edit, const std::wstring& folder)
    {
        ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
        ROBOT_CHECK(log, robot.Click(radio));
        ROBOT_CHECK(log, robot.SetText(edit, folder));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
    }

    // Cancel, and the clean-up's message about the controller that is not there.
    static void Cancel(CWizardRobot& robot, CScriptLog& log)
    {
        ROBOT_CHECK(log, robot.Press(EButton::Cancel));
        ExpectMessage(robot, log, kControllerMissing, MB_ICONERROR);
        ROBOT_CHECK(log, robot.WaitForSheetGone(10000));
    }

    std::vector<std::wstring> Column(CWizardRobot& robot, int list, int column)
    {
        std::vector<std::wstring> texts;
        for (int item = 0; item < robot.ListCount(list); ++item)
            texts.push_back(robot.ListText(list, item, column));
        return texts;
    }

    archivetest::CTempFolder m_temp;
    CScriptLog m_log;
};

#define EXPECT_SCRIPT_OK() EXPECT_TRUE(m_log.Failures().empty()) << m_log.Joined()

// A collection lists its members in record order and no row of its own;
// members that are missing or are no archives are left out, and a
// collection that names itself is not walked twice.
TEST_F(BackupPagesTest, VolumePageListsTheVolumesOfTheChain)
{
    using backupsource::WriteListingVolume;
    const std::string monday = m_temp.Path() + "Monday";
    backupsource::MakeFolders(monday);
    WriteListingVolume(monday + "\\Monday-C.KZF", 'G', "LOGS", 2097152, 1048576, "Monday logs");
    WriteListingVolume(monday + "\\Monday-A.KZF", 'E', "MAILDATA", 41943040, 20971520, "Monday data");
    WriteListingVolume(monday + "\\Monday-B.KZF", 'F', "SPARE", 1000000, 0, "Monday spare");
    backupsource::WriteWholeFile(monday + "\\Monday-X.KZF", std::vector<uint8_t>(4096, 'x'));
    backupsource::WriteCollectionArchive(monday + "\\Monday.KZF", {"Monday-A.KZF", "Monday-X.KZF", "Monday-C.KZF",
                                                                   "Monday-Missing.KZF", "Monday-B.KZF", "Monday.KZF"});
    const std::string loop = m_temp.Path() + "Loop";
    backupsource::MakeFolders(loop);
    WriteListingVolume(loop + "\\Member.KZF", 'H', "ONE", 2048, 2048, "Loop member");
    backupsource::WriteCollectionArchive(loop + "\\Inner.KZF", {"Loop.KZF", "Member.KZF"});
    backupsource::WriteCollectionArchive(loop + "\\Loop.KZF", {"Inner.KZF"});
    const std::string old = m_temp.Path() + "Old";
    backupsource::MakeFolders(old);
    WriteOlderFormatVolume(old + "\\Old.KZF");
    // A header that ends where its partition area would begin: no record to read.
    const std::string bare = m_temp.Path() + "Bare";
    backupsource::MakeFolders(bare);
    WriteListingVolume(bare + "\\Bare.KZF", 'K', "BARE", 2048, 2048, "Bare");
    std::vector<uint8_t> header = backupsource::ReadWholeFile(bare + "\\Bare.KZF");
    const uint32_t fixedLength = 1240, none = 0;
    std::memcpy(&header[12], &fixedLength, 4);
    std::memcpy(&header[48], &none, 4);
    std::memcpy(&header[236], &none, 4);
    header[37] = 0;
    header[39] = 0;
    DeleteFileW(Wide(bare + "\\Bare.KZF").c_str());
    backupsource::WriteWholeFile(bare + "\\Bare.KZF", header);

    CWizardData data;
    Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(monday));
        ROBOT_CHECK(log, robot.PageId() == kVolumePage);
        ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back) && robot.ButtonEnabled(EButton::Next));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 0) == (std::vector<std::wstring>{L"E:", L"G:", L"F:"}));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 1) == (std::vector<std::wstring>{L"MAILDATA", L"LOGS", L"SPARE"}));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 2) ==
                             (std::vector<std::wstring>{L"20.00 GB", L"1.00 GB", L"0.48 GB"}));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 3) ==
                             (std::vector<std::wstring>{L"10.00 GB", L"0.50 GB", L"0.00 GB"}));
        ROBOT_CHECK(log, robot.ListImage(kVolumeList, 0) == 0);
        // The label of the file listed last.
        ROBOT_CHECK(log, robot.Text(kArchiveLabel) == L"Monday spare");

        // The buttons send the selected volume; without a selection nothing.
        ROBOT_CHECK(log, robot.Click(kToDatabase));
        ROBOT_CHECK(log, robot.Text(kDatabaseVolume).empty());
        ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {1}));
        ROBOT_CHECK(log, robot.Click(kToDatabase));
        ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {0}));
        ROBOT_CHECK(log, robot.Click(kToLogs));
        ROBOT_CHECK(log, robot.Text(kDatabaseVolume) == Wide(monday + "\\Monday-C.KZF"));
        ROBOT_CHECK(log, robot.Text(kLogVolume) == Wide(monday + "\\Monday-A.KZF"));

        // Back, and Next into another folder: the list is made again.
        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(loop));
        ROBOT_CHECK(log, robot.PageId() == kVolumePage);
        ROBOT_CHECK(log, Column(robot, kVolumeList, 1) == (std::vector<std::wstring>{L"ONE"}));
        ROBOT_CHECK(log, robot.Text(kDatabaseVolume).empty() && robot.Text(kLogVolume).empty());

        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(bare));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 1) == (std::vector<std::wstring>{L""}));
        ROBOT_CHECK(log, Column(robot, kVolumeList, 2) == (std::vector<std::wstring>{L"0.00 GB"}));

        ROBOT_CHECK(log, robot.Press(EButton::Back));
        ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(old));
        ROBOT_CHECK(log, robot.ListCount(kVolumeList) == 1);
        ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {0}));
        ROBOT_CHECK(log, robot.Click(kToDatabase));
        ROBOT_CHECK(log, robot.Text(kDatabaseVolume) == Wide(old + "\\Old.KZF"));
        Cancel(robot, log);
    });
    EXPECT_SCRIPT_OK();
}

// Next checks both volumes and finds them a drive: the messages it shows.
TEST_F(BackupPagesTest, VolumePageNextChecksAndMounts)
{
    const std::string monday = m_temp.Path() + "Monday";
    backupsource::MakeFolders(monday);
    backupsource::WriteListingVolume(monday + "\\Monday.KZF", 'E', "MAILDATA", 4096, 2048, "Monday");
    const std::wstring volume = Wide(monday + "\\Monday.KZF");

    for (bool lettersLeft : {false, true}) {
        SCOPED_TRACE(lettersLeft ? "a free letter" : "every letter in use");
        CWizardData data;
        Run(
            data,
            [&](CWizardRobot& robot, CScriptLog& log) {
                ROBOT_CHECK(log, robot.WaitForSheet());
                ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(monday));
                ROBOT_CHECK(log, robot.PageId() == kVolumePage);
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                ExpectMessage(robot, log, LoadResString(330), MB_ICONWARNING);
                ROBOT_CHECK(log, robot.SetText(kDatabaseVolume, L"  " + volume + L" "));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                ExpectMessage(robot, log, LoadResString(331), MB_ICONWARNING);
                ROBOT_CHECK(log, robot.SetText(kLogVolume, volume));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                if (lettersLeft)
                    // The mount itself reports that there is no driver.
                    ExpectMessage(robot, log, ui::FormatResource(333, L"QorApiControllerOpen()", 0xE0000010u),
                                  MB_ICONERROR);
                else
                    ExpectMessage(robot, log, LoadResString(332), MB_ICONERROR);
                ROBOT_CHECK(log, robot.PageId() == kVolumePage);
                ROBOT_CHECK(log, robot.Press(EButton::Back));
                ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
                Cancel(robot, log);
            },
            lettersLeft ? nullptr : EveryDriveUsed);
        EXPECT_SCRIPT_OK();
        EXPECT_TRUE(data.VolumeMounts.empty());
        EXPECT_TRUE(data.DatabaseImage.empty());
    }
}

// A volume the driver shows already is used at its drive, for the database
// and the logs alike, and nothing is mounted; Finish is to flush it, Cancel
// leaves it alone. A value of "SYSTEM\MountedDevices" alone, left from an
// earlier mount, says nothing: the volume is mounted (here that fails at the
// controller, which is not there).
TEST_F(BackupPagesTest, VolumePageUsesTheDriveOfAVolumeShownAlready)
{
    const std::string monday = m_temp.Path() + "Monday";
    backupsource::MakeFolders(monday);
    backupsource::WriteListingVolume(monday + "\\Monday.KZF", 'E', "MAILDATA", 4096, 2048, "Monday");
    const std::wstring volume = Wide(monday + "\\Monday.KZF");
    for (bool byDriver : {true, false}) {
        SCOPED_TRACE(byDriver ? "shown by the driver" : "only a value left behind");
        CShownImage value(L"monday.kzf");
        ASSERT_TRUE(value.Set());
        CDriverShows shown(byDriver ? volume : std::wstring());
        CWizardData data;
        Run(
            data,
            [&](CWizardRobot& robot, CScriptLog& log) {
                ROBOT_CHECK(log, robot.WaitForSheet());
                ChooseSource(robot, log, kBackupRadio, kBackupFolder, Wide(monday));
                ROBOT_CHECK(log, robot.ListSelect(kVolumeList, {0}));
                ROBOT_CHECK(log, robot.Click(kToDatabase));
                ROBOT_CHECK(log, robot.Click(kToLogs));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                if (!byDriver) {
                    ExpectMessage(robot, log, ui::FormatResource(333, L"QorApiControllerOpen()", 0xE0000010u),
                                  MB_ICONERROR);
                    ROBOT_CHECK(log, robot.PageId() == kVolumePage);
                    Cancel(robot, log);
                    return;
                }
                ExpectNoMessage(robot, log);
                ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                ROBOT_CHECK(log, robot.Press(EButton::Back));
                ROBOT_CHECK(log, robot.PageId() == kVolumePage);
                Cancel(robot, log);
            },
            nullptr, CDriverShows::Probe);
        EXPECT_SCRIPT_OK();
        if (!byDriver) {
            EXPECT_TRUE(data.DatabaseImage.empty());
            EXPECT_TRUE(data.VolumeMounts.empty());
            continue;
        }
        EXPECT_EQ(volume, data.DatabaseImage);
        EXPECT_EQ(volume, data.LogImage);
        EXPECT_EQ(shown.Root(), data.DatabaseMountRoot);
        EXPECT_EQ(shown.Root(), data.LogMountRoot);
        ASSERT_EQ(1u, data.VolumeMounts.size());
        const SImageMount& mount = data.VolumeMounts.begin()->second;
        EXPECT_EQ(volume, data.VolumeMounts.begin()->first);
        EXPECT_EQ(shown.Root(), mount.root);
        EXPECT_EQ(CDriverShows::kIndex, mount.imageIndex);
        EXPECT_TRUE(mount.shownBefore);
    }
}

// Reconfiguring shows the stored volumes locked and mounts nothing on Next.
TEST_F(BackupPagesTest, VolumePageReconfigured)
{
    const std::string monday = m_temp.Path() + "Monday";
    backupsource::MakeFolders(monday);
    backupsource::WriteListingVolume(monday + "\\Monday.KZF", 'E', "MAILDATA", 4096, 2048, "Monday");
    CWizardData data;
    data.Reconfigure = 1;
    data.SourceKind = 1;
    data.DatabaseImage = Wide(monday + "\\Monday.KZF");
    data.LogImage = Wide(monday + "\\Monday-Logs.KZF");
    Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kVolumePage);
        ROBOT_CHECK(log, robot.ListCount(kVolumeList) == 1);
        ROBOT_CHECK(log, robot.Text(kDatabaseVolume) == data.DatabaseImage);
        ROBOT_CHECK(log, robot.Text(kLogVolume) == data.LogImage);
        for (int id : {kDatabaseVolume, kLogVolume, kToDatabase, kToLogs})
            ROBOT_CHECK(log, !robot.IsEnabled(id));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectNoMessage(robot, log);
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        Cancel(robot, log);
    });
    EXPECT_SCRIPT_OK();
    EXPECT_TRUE(data.VolumeMounts.empty());
}

// Both catalog layouts: the server line, the complete databases with their
// icons, the versions of the chosen one, and what the chosen version leaves
// in the record (here its image shows already, so nothing is mounted).
TEST_F(BackupPagesTest, CatalogPageListsAndChoosesAVersion)
{
    using backupsource::ECatalogLayout;
    for (ECatalogLayout layout : {ECatalogLayout::Exchange2010, ECatalogLayout::Exchange2007}) {
        const bool is2010 = layout == ECatalogLayout::Exchange2010;
        SCOPED_TRACE(is2010 ? "2010" : "2007");
        const std::string folder = m_temp.Path() + (is2010 ? "Protect2010" : "Protect2007");
        backupsource::MakeFolders(folder);
        backupsource::SCatalogOptions options;
        options.layout = layout;
        options.publicFolders = true;
        const backupsource::SCatalogSource source = MakeCatalogSource(folder, SomeDatabaseFiles(), options);
        const std::wstring image = Wide(source.images[0]);
        CDriverShows shown(image);
        const std::wstring publicCaption = is2010 ? L"Public Folder Database" : L"First Storage Group\\Public Folder Store";
        const std::wstring server = is2010 ? L"MAIL01, Version 14.1 (Build 218.15), Enterprise Edition."
                                           : L"MAIL01, Version 8.3 (Build 83.6), Enterprise Edition.";

        CWizardData data;
        Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(folder));
            ROBOT_CHECK(log, robot.PageId() == kVersionPage);
            ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back) && robot.ButtonEnabled(EButton::Next));
            ROBOT_CHECK(log, robot.Text(kServerLine) == server);
            ROBOT_CHECK(log, Column(robot, kDatabaseList, 0) ==
                                 (std::vector<std::wstring>{source.databaseCaption, publicCaption}));
            ROBOT_CHECK(log, robot.ListImage(kDatabaseList, 0) == 0 && robot.ListImage(kDatabaseList, 1) == 1);
            ROBOT_CHECK(log, robot.ListCount(kVersionList) == 0);
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectMessage(robot, log, LoadResString(373), MB_ICONWARNING);

            for (int database : {1, 0}) {
                ROBOT_CHECK(log, robot.ListSelect(kDatabaseList, {database}));
                ROBOT_CHECK(log, Column(robot, kVersionList, 0) ==
                                     (std::vector<std::wstring>{L"2009-03-04 05:06:07", L"2009-03-05 23:00:01"}));
            }
            // Full first, then the incremental one.
            ROBOT_CHECK(log, robot.ListImage(kVersionList, 0) == 0 && robot.ListImage(kVersionList, 1) == 1);

            // Next twice on the same version: the record is the version's alone.
            for (int round = 0; round < 2; ++round) {
                ROBOT_CHECK(log, robot.ListSelect(kDatabaseList, {0}));
                ROBOT_CHECK(log, robot.ListSelect(kVersionList, {0}));
                ROBOT_CHECK(log, robot.Press(EButton::Next));
                ExpectNoMessage(robot, log);
                ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
                ROBOT_CHECK(log, robot.Text(207) == shown.Root() + L"Data\\" + source.databaseFile);
                ROBOT_CHECK(log, robot.Text(208) == shown.Root() + L"Data");
                ROBOT_CHECK(log, robot.Press(EButton::Back));
                ROBOT_CHECK(log, robot.PageId() == kVersionPage);
            }
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ROBOT_CHECK(log, robot.PageId() == kDatasourcePage);
            Cancel(robot, log);
        }, nullptr, CDriverShows::Probe);
        EXPECT_SCRIPT_OK();
        EXPECT_EQ(2, data.SourceKind);
        EXPECT_EQ(image, data.DatabaseImage);
        EXPECT_EQ(image, data.LogImage);
        EXPECT_EQ(shown.Root(), data.DatabaseMountRoot);
        EXPECT_EQ(shown.Root(), data.LogMountRoot);
        // Recorded as shown before the wizard, so that Finish flushes it.
        ASSERT_EQ(1u, data.VersionMounts.size());
        EXPECT_TRUE(data.VersionMounts.begin()->second.shownBefore);
        EXPECT_EQ(source.databaseIds[0], data.CatalogBackupId);
        if (is2010) {
            EXPECT_EQ(L"Mailbox Database.edb", data.VersionDatabaseFile);
            EXPECT_TRUE(data.RestoreMap.empty());
        } else {
            EXPECT_EQ(L"First Storage Group\\Mailbox Database.edb", data.VersionDatabaseFile);
            const std::vector<std::pair<std::wstring, std::wstring>> expected = {
                {L"Mailbox Database", L"E:\\Exchange\\Data\\Mailbox Database.edb"},
                {L"Public Folder Store", L"E:\\Exchange\\Data\\pub1.edb"}};
            EXPECT_EQ(expected, data.RestoreMap);
        }
    }
}

// A catalog that fails shows the page's line and the catalog's own text,
// leaves only Back, and shows nothing of the catalog listed before; going
// back to another folder lists that one.
TEST_F(BackupPagesTest, CatalogFailuresShowTheCatalogsText)
{
    using backupsource::ECatalogDamage;
    struct Case {
        ECatalogDamage damage;
        UINT message;
    };
    const Case cases[] = {{ECatalogDamage::EmptySettings, 371},
                          {ECatalogDamage::NoDatabaseTable, 370},
                          {ECatalogDamage::NoBackupTable, 372}};
    const std::string good = m_temp.Path() + "Good";
    backupsource::MakeFolders(good);
    MakeCatalogSource(good, SomeDatabaseFiles());
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const std::string folder = m_temp.Path() + "Damaged" + std::to_string(n++);
        backupsource::MakeFolders(folder);
        backupsource::SCatalogOptions options;
        options.damage = c.damage;
        MakeCatalogSource(folder, SomeDatabaseFiles(), options);
        // The catalog's own text, as its reader gives it.
        CLorvArchive reader;
        reader.SetCatalogFolder(Wide(folder) + L"\\");
        std::vector<SCatalogDatabase> databases;
        std::vector<SCatalogVersion> versions;
        if (reader.ReadSettings(nullptr, nullptr, nullptr) && reader.ListDatabases(&databases) && !databases.empty())
            reader.ListDatabaseVersions(databases[0].name, &versions);
        const std::wstring expected = LoadResString(c.message) + reader.GetLastErrorText();
        ASSERT_FALSE(reader.GetLastErrorText().empty());

        CWizardData data;
        Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(good));
            ROBOT_CHECK(log, robot.ListCount(kDatabaseList) == 1);
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(folder));
            if (c.message == 372) {
                ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Next));
                ROBOT_CHECK(log, robot.ListClick(kDatabaseList, 0));
            }
            ExpectMessage(robot, log, expected, MB_ICONERROR);
            ROBOT_CHECK(log, robot.PageId() == kVersionPage);
            ROBOT_CHECK(log, robot.ListCount(kVersionList) == 0);
            if (c.message != 372) {
                ROBOT_CHECK(log, robot.ListCount(kDatabaseList) == 0);
                ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Back) && !robot.ButtonEnabled(EButton::Next));
            }
            if (c.message == 371)
                ROBOT_CHECK(log, robot.Text(kServerLine).empty());
            ROBOT_CHECK(log, robot.Press(EButton::Back));
            ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(good));
            ROBOT_CHECK(log, robot.ListCount(kDatabaseList) == 1);
            ROBOT_CHECK(log, robot.ButtonEnabled(EButton::Next));
            Cancel(robot, log);
        });
        EXPECT_SCRIPT_OK();
    }

    // A version whose image the catalog no longer names.
    const std::string gone = m_temp.Path() + "Gone";
    backupsource::MakeFolders(gone);
    const backupsource::SCatalogSource source = MakeCatalogSource(gone, SomeDatabaseFiles());
    CWizardData data;
    Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(gone));
        ROBOT_CHECK(log, robot.ListSelect(kDatabaseList, {0}));
        ROBOT_CHECK(log, robot.ListSelect(kVersionList, {0}));
        ROBOT_CHECK(log, ExecOnCatalog(source.catalogPath, "delete from BackupInfo;"));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectMessage(robot, log,
                      LoadResString(374) + L"Database version with DatabaseID = " +
                          std::to_wstring(source.databaseIds[0]) + L" is not found",
                      MB_ICONWARNING);
        ROBOT_CHECK(log, robot.PageId() == kVersionPage);
        Cancel(robot, log);
    });
    EXPECT_SCRIPT_OK();
    EXPECT_TRUE(data.DatabaseImage.empty());
}

// With every letter in use, the version's image has no drive to go to.
TEST_F(BackupPagesTest, CatalogPageWithoutAFreeLetter)
{
    const std::string folder = m_temp.Path() + "Protect";
    backupsource::MakeFolders(folder);
    MakeCatalogSource(folder, SomeDatabaseFiles());
    CWizardData data;
    Run(
        data,
        [&](CWizardRobot& robot, CScriptLog& log) {
            ROBOT_CHECK(log, robot.WaitForSheet());
            ChooseSource(robot, log, kCatalogRadio, kCatalogFolder, Wide(folder));
            ROBOT_CHECK(log, robot.ListSelect(kDatabaseList, {0}));
            ROBOT_CHECK(log, robot.ListSelect(kVersionList, {1}));
            ROBOT_CHECK(log, robot.Press(EButton::Next));
            ExpectMessage(robot, log, LoadResString(332), MB_ICONERROR);
            ROBOT_CHECK(log, robot.PageId() == kVersionPage);
            Cancel(robot, log);
        },
        EveryDriveUsed);
    EXPECT_SCRIPT_OK();
    EXPECT_TRUE(data.VersionMounts.empty());
}

// Reconfiguring shows the stored version alone and mounts nothing on Next.
TEST_F(BackupPagesTest, CatalogPageReconfigured)
{
    const std::string folder = m_temp.Path() + "Protect";
    backupsource::MakeFolders(folder);
    const backupsource::SCatalogSource source = MakeCatalogSource(folder, SomeDatabaseFiles());
    CWizardData data;
    data.Reconfigure = 1;
    data.SourceKind = 2;
    data.DatabaseImage = data.LogImage = Wide(source.images[1]);
    data.CatalogBackupId = source.databaseIds[1];
    data.DatabasePath = L"Q:\\Data\\Mailbox Database.edb";
    data.LogPath = L"Q:\\Data";
    Run(data, [&](CWizardRobot& robot, CScriptLog& log) {
        ROBOT_CHECK(log, robot.WaitForSheet());
        ROBOT_CHECK(log, robot.Text(kCatalogFolder) == Wide(folder));
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ROBOT_CHECK(log, robot.PageId() == kVersionPage);
        ROBOT_CHECK(log, robot.Text(kServerLine) == L"MAIL01, Version 14.1 (Build 218.15), Enterprise Edition.");
        ROBOT_CHECK(log, Column(robot, kDatabaseList, 0) == (std::vector<std::wstring>{source.databaseCaption}));
        ROBOT_CHECK(log, Column(robot, kVersionList, 0) == (std::vector<std::wstring>{L"2009-03-05 23:00:01"}));
        ROBOT_CHECK(log, robot.ListImage(kVersionList, 0) == 1);
        ROBOT_CHECK(log, robot.Press(EButton::Next));
        ExpectNoMessage(robot, log);
        ROBOT_CHECK(log, robot.PageId() == kDatabasePage);
        ROBOT_CHECK(log, robot.Text(207) == data.DatabasePath);
        Cancel(robot, log);
    });
    EXPECT_SCRIPT_OK();
    EXPECT_TRUE(data.VersionMounts.empty());
    EXPECT_TRUE(data.RestoreMap.empty());
}

} // namespace
