#include "ProviderPlatform.h"
#include "CStoreConfig.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using providertest::CScratchDir;
using providertest::FileExists;
using providertest::ReadBytes;
using providertest::WriteBytes;

const MAPIUID kServiceUid = {{0x00, 0x1F, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17, 0x28, 0x39, 0x4A, 0x5B,
                              0x6C, 0x7D}};

void PutU32(std::vector<BYTE>& bytes, UINT32 v)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<BYTE>(v >> (8 * i)));
}

void PutText(std::vector<BYTE>& bytes, const std::wstring& text)
{
    for (wchar_t c : text) {
        bytes.push_back(static_cast<BYTE>(c));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
}

std::vector<BYTE> FileOf(const std::wstring& db, const std::wstring& log, const std::wstring& sel, UINT32 flag)
{
    std::vector<BYTE> bytes;
    PutU32(bytes, static_cast<UINT32>(db.size()));
    PutText(bytes, db);
    PutU32(bytes, static_cast<UINT32>(log.size()));
    PutText(bytes, log);
    PutU32(bytes, static_cast<UINT32>(sel.size()));
    PutText(bytes, sel);
    PutU32(bytes, flag);
    return bytes;
}

TEST(StoreConfig, FileIsNamedByTheServiceUidInUpperCaseHex)
{
    EXPECT_EQ(L"001FA0B1C2D3E4F5061728394A5B6C7D", CStoreConfig::FormatName(kServiceUid));
    const CStoreConfig config(L"C:\\data");
    EXPECT_EQ(L"C:\\data\\001FA0B1C2D3E4F5061728394A5B6C7D.cfg",
              config.GetFilePath(CStoreConfig::FormatName(kServiceUid)));
    // Without a data directory there is no path (never the drive's root).
    const CStoreConfig nowhere(L"");
    EXPECT_EQ(L"", nowhere.GetFilePath(L"001FA0B1C2D3E4F5061728394A5B6C7D"));
}

TEST(StoreConfig, SaveWritesTheExactLayoutAndLoadReadsItBack)
{
    CScratchDir dir;
    const std::wstring name = CStoreConfig::FormatName(kServiceUid);
    struct Case {
        std::wstring db, log, sel;
        LONG flag;
    };
    const Case cases[] = {
        {L"D:\\Exchange\\priv1.edb", L"D:\\Exchange\\logs", L"5 1 3 Bob ", 0},
        {L"E:\\pub1.edb", L"", L"", 1}, // empty strings are bare zero lengths
        {L"", L"", L"", 0},
    };
    for (const Case& c : cases) {
        CStoreConfig config(dir.Path());
        config.databasePath = c.db;
        config.logFolder = c.log;
        config.mailboxSelection = c.sel;
        config.publicFoldersOnly = c.flag;
        ASSERT_TRUE(config.Save(name));
        const std::vector<BYTE> bytes = ReadBytes(config.GetFilePath(name));
        EXPECT_EQ(4 + 2 * c.db.size() + 4 + 2 * c.log.size() + 4 + 2 * c.sel.size() + 4, bytes.size());
        EXPECT_EQ(FileOf(c.db, c.log, c.sel, c.flag), bytes);

        CStoreConfig loaded(dir.Path());
        loaded.databasePath = L"stale";
        ASSERT_TRUE(loaded.Load(name));
        EXPECT_EQ(c.db, loaded.databasePath);
        EXPECT_EQ(c.log, loaded.logFolder);
        EXPECT_EQ(c.sel, loaded.mailboxSelection);
        EXPECT_EQ(c.flag, loaded.publicFoldersOnly);
    }
    EXPECT_TRUE(CStoreConfig(dir.Path()).Exists(kServiceUid));
    EXPECT_TRUE(CStoreConfig(dir.Path()).Delete(kServiceUid));
    EXPECT_FALSE(CStoreConfig(dir.Path()).Exists(kServiceUid));
    EXPECT_FALSE(CStoreConfig(dir.Path()).Load(name));
}

// The wizard's record replaces all four settings of the file, also over an
// existing file with other values.
TEST(StoreConfig, SaveFromWizardWritesTheRecordsFourSettings)
{
    CScratchDir dir;
    struct WizardAnswers {
        std::wstring DatabasePath = L"C:\\Data\\priv1.edb";
        std::wstring LogPath = L"C:\\Data\\logs\\";
        std::wstring MailboxSelection = L"42 1 7 Ann Lee ";
        int PublicFoldersOnly = 0;
        std::wstring DatabaseImage = L"ignored";
    } answers;
    CStoreConfig previous(dir.Path());
    previous.databasePath = L"old";
    previous.publicFoldersOnly = 1;
    ASSERT_TRUE(previous.Save(CStoreConfig::FormatName(kServiceUid)));

    CStoreConfig config(dir.Path());
    ASSERT_TRUE(config.SaveFromWizard(kServiceUid, answers));
    EXPECT_EQ(FileOf(answers.DatabasePath, answers.LogPath, answers.MailboxSelection, 0),
              ReadBytes(config.GetFilePath(CStoreConfig::FormatName(kServiceUid))));
    EXPECT_FALSE(CStoreConfig(L"").SaveFromWizard(kServiceUid, answers));
}

TEST(StoreConfig, StringsEndAtAnEmbeddedZeroUnit)
{
    CScratchDir dir;
    ASSERT_TRUE(WriteBytes(dir.File(L"cut.cfg"), FileOf(std::wstring(L"C:\\a.edb\0junk", 13), L"L", L"", 1)));
    CStoreConfig config(dir.Path());
    ASSERT_TRUE(config.Load(L"cut"));
    EXPECT_EQ(L"C:\\a.edb", config.databasePath);
    EXPECT_EQ(L"L", config.logFolder);
    EXPECT_EQ(1, config.publicFoldersOnly);
}

// Damaged files fail the load and leave every field empty.
TEST(StoreConfig, MalformedFilesFailTheLoad)
{
    CScratchDir dir;
    const std::vector<BYTE> whole = FileOf(L"C:\\db.edb", L"C:\\logs", L"5 1 3 Bob ", 1);
    std::vector<BYTE> hugeLength = whole;
    hugeLength[0] = hugeLength[1] = hugeLength[2] = hugeLength[3] = 0xFF;
    std::vector<BYTE> pastEnd = whole;
    pastEnd[4 + 18] = 200; // the log folder's length runs past the end of the file
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"cut inside the first length", {9, 0}},
        {"length 0xFFFFFFFF", hugeLength},
        {"length past the end", pastEnd},
        {"cut inside a string", std::vector<BYTE>(whole.begin(), whole.begin() + 10)},
        {"flag missing", std::vector<BYTE>(whole.begin(), whole.end() - 4)},
        {"flag cut", std::vector<BYTE>(whole.begin(), whole.end() - 1)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(dir.File(L"bad.cfg"), c.bytes));
        CStoreConfig config(dir.Path());
        config.databasePath = L"stale";
        config.mailboxSelection = L"stale";
        config.publicFoldersOnly = 7;
        EXPECT_FALSE(config.Load(L"bad")) << c.what;
        EXPECT_EQ(L"", config.databasePath) << c.what;
        EXPECT_EQ(L"", config.logFolder) << c.what;
        EXPECT_EQ(L"", config.mailboxSelection) << c.what;
        EXPECT_EQ(0, config.publicFoldersOnly) << c.what;
    }
}

TEST(StoreConfig, MailboxSelectionHelpersKeepTheOtherSettings)
{
    CScratchDir dir;
    const std::wstring name = CStoreConfig::FormatName(kServiceUid);
    CStoreConfig config(dir.Path());
    std::wstring selection = L"unchanged";
    LONG flag = 5;
    EXPECT_FALSE(config.GetMailboxSelection(kServiceUid, selection));
    EXPECT_EQ(L"", selection);
    EXPECT_FALSE(config.GetPublicFoldersOnly(kServiceUid, flag));
    EXPECT_EQ(0, flag);

    // A missing file is created with the selection alone.
    ASSERT_TRUE(config.SetMailboxSelectionByName(name, L"1 1 1 A "));
    ASSERT_TRUE(config.GetMailboxSelection(kServiceUid, selection));
    EXPECT_EQ(L"1 1 1 A ", selection);

    config.databasePath = L"C:\\db.edb";
    config.logFolder = L"C:\\logs";
    config.publicFoldersOnly = 1;
    ASSERT_TRUE(config.Save(name));
    CStoreConfig other(dir.Path());
    ASSERT_TRUE(other.SetMailboxSelectionByName(name, L"2 0 1 B "));
    CStoreConfig check(dir.Path());
    ASSERT_TRUE(check.Load(name));
    EXPECT_EQ(L"C:\\db.edb", check.databasePath);
    EXPECT_EQ(L"C:\\logs", check.logFolder);
    EXPECT_EQ(L"2 0 1 B ", check.mailboxSelection);
    ASSERT_TRUE(check.GetPublicFoldersOnlyByName(name, flag));
    EXPECT_EQ(1, flag);

    // A damaged file is not replaced by one that lost its database path.
    const std::vector<BYTE> damaged = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2};
    ASSERT_TRUE(WriteBytes(check.GetFilePath(name), damaged));
    EXPECT_FALSE(check.SetMailboxSelectionByName(name, L"3 1 1 C "));
    EXPECT_EQ(damaged, ReadBytes(check.GetFilePath(name)));
}

TEST(StoreConfig, FailedSaveLeavesThePreviousFile)
{
    CScratchDir dir;
    CStoreConfig config(dir.Path());
    config.databasePath = L"C:\\kept.edb";
    ASSERT_TRUE(config.Save(L"store"));
    const std::vector<BYTE> before = ReadBytes(config.GetFilePath(L"store"));

    // The new content cannot be written (its temporary name is taken by a
    // folder): the old settings stay whole.
    wchar_t suffix[32];
    _snwprintf_s(suffix, 32, _TRUNCATE, L".%lx.%lx.tmp", GetCurrentProcessId(), GetCurrentThreadId());
    ASSERT_TRUE(CreateDirectoryW((config.GetFilePath(L"store") + suffix).c_str(), nullptr));
    config.databasePath = L"C:\\other.edb";
    EXPECT_FALSE(config.Save(L"store"));
    EXPECT_EQ(before, ReadBytes(config.GetFilePath(L"store")));

    EXPECT_FALSE(CStoreConfig(dir.File(L"no such folder")).Save(L"store"));
    EXPECT_FALSE(CStoreConfig(L"").Save(L"store"));
    EXPECT_FALSE(CStoreConfig(L"").Load(L"store"));
}

} // namespace
