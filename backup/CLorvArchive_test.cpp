#include "Platform.h"

#include "CLorvArchive.h"

#include "ArchiveTestSupport.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <utility>
#include <vector>

using archivetest::CTempFolder;
using archivetest::FileExists;

namespace {

std::wstring Wide(const std::string& text)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(n - 1);
    return out;
}

void Exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, &error)) << (error ? error : "") << "\n" << sql;
}

// Writes a catalog the way the backup product lays it out.
void MakeCatalog(const std::string& folder, bool layout2010, const char* version, bool withSettings = true)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder + "catalog.db").c_str(), &db));
    Exec(db, "create table Settings(ID integer, ServerName text, ExchangeVersion text, Edition text);"
             "create table BackupInfo(ID integer, BackupStart text, BackupType integer, Label text);");
    if (withSettings) {
        std::string settings = std::string("insert into Settings values(1, 'MAIL01', '") + version +
                               "', 'Enterprise'); insert into Settings values(2, 'OTHER', 'x', 'y');";
        Exec(db, settings.c_str());
    }
    Exec(db, "insert into BackupInfo values(1, '2009-03-04 05:06:07', 1, 'Monday full');"
             "insert into BackupInfo values(2, '2009-03-05 23:00:01', 2, 'Tuesday');");
    if (layout2010) {
        Exec(db, "create table Databases(ID integer, Caption text, Name text, IsComplete integer, BackupID integer,"
                 " IsPublicFolderDatabase integer, DatabaseFileName text, DatabaseFilePath text);"
                 "insert into Databases values(10, 'Mailbox Database', 'MDB1', 1, 1, 0, 'mdb1.edb', 'D:\\db');"
                 "insert into Databases values(11, 'Mailbox Database', 'MDB1', 1, 2, 0, 'mdb1.edb', 'D:\\db');"
                 "insert into Databases values(12, 'Public', 'PF1', 1, 1, 1, 'pf.edb', 'D:\\pf');"
                 "insert into Databases values(13, 'Broken', 'BRK', 0, 1, 0, 'b.edb', 'D:\\b');"
                 "insert into Databases values(14, 'Quoted', 'O''Brien''s DB', 1, 2, 0, 'q.edb', 'D:\\q');"
                 "insert into Databases values(15, 'Lonely', 'LONE', 1, 99, 0, 'l.edb', 'D:\\l');");
    } else {
        Exec(db, "create table Databases(ID integer, Caption text, Name text, IsComplete integer,"
                 " StorageGroupID integer, IsPublic integer);"
                 "create table StorageGroups(ID integer, BackupID integer, Name text, Caption text, IsComplete integer);"
                 "create table DatabaseFiles(DatabaseID integer, FileName text, FilePath text);"
                 "create table Logs(StorageGroupID integer);"
                 "insert into StorageGroups values(1, 1, 'SG1', 'First Storage Group', 1);"
                 "insert into StorageGroups values(2, 2, 'SG1b', 'First Storage Group', 1);"
                 "insert into StorageGroups values(3, 1, 'SG3', 'Unfinished', 0);"
                 "insert into Databases values(20, 'Mailbox Store', 'MS1', 1, 1, 0);"
                 "insert into Databases values(21, 'Public Store', 'PS1', 1, 1, 1);"
                 "insert into Databases values(22, 'Mailbox Store', 'MS1', 1, 2, 0);"
                 "insert into Databases values(23, 'Skipped', 'SK', 1, 3, 0);"
                 "insert into DatabaseFiles values(20, 'priv1.edb', 'E:\\SG1');"
                 "insert into DatabaseFiles values(21, 'pub1.edb', 'E:\\SG1');"
                 "insert into DatabaseFiles values(22, 'priv1.edb', 'E:\\SG1');"
                 "insert into Logs values(1); insert into Logs values(2);");
    }
    sqlite3_close(db);
}

class Catalog : public ::testing::Test {
protected:
    void Use(bool layout2010, const char* version = nullptr)
    {
        MakeCatalog(folder.Path(), layout2010, version ? version : layout2010 ? "Version 14.1 (Build 218.15)"
                                                                              : "Version 8.3 (Build 83.6)");
        reader.SetCatalogFolder(Wide(folder.Path().substr(0, folder.Path().size() - 1)));
    }
    CTempFolder folder;
    CLorvArchive reader;
};

TEST_F(Catalog, SettingsChooseTheLayout)
{
    struct Case {
        const char* version;
        int layout;
    } cases[] = {{"Version 14.1 (Build 218.15)", 2010}, {"Version 14", 2010}, {"Version 8.3 (Build 83.6)", 2007},
                 {"version 14.1", 2007}, {"", 2007}};
    for (const Case& c : cases) {
        CTempFolder own;
        MakeCatalog(own.Path(), true, c.version);
        CLorvArchive catalog;
        catalog.SetCatalogFolder(Wide(own.Path()));
        std::wstring server, version, edition;
        ASSERT_EQ(1, catalog.ReadSettings(&server, &version, &edition)) << c.version;
        EXPECT_EQ(c.layout, catalog.GetLayoutVersion()) << c.version;
        EXPECT_EQ(L"MAIL01", server);
        EXPECT_EQ(L"Enterprise", edition);
    }
    CTempFolder empty;
    MakeCatalog(empty.Path(), true, "", false);
    CLorvArchive catalog;
    catalog.SetCatalogFolder(Wide(empty.Path()));
    EXPECT_EQ(0, catalog.ReadSettings(nullptr, nullptr, nullptr));
    EXPECT_EQ(L"Table Settings is empty", catalog.GetLastErrorText());
    EXPECT_EQ(0, catalog.GetLayoutVersion());
}

TEST_F(Catalog, Layout2010)
{
    Use(true);
    ASSERT_EQ(1, reader.ReadSettings(nullptr, nullptr, nullptr));
    std::vector<SCatalogDatabase> databases;
    ASSERT_EQ(1, reader.ListDatabases(&databases));
    ASSERT_EQ(4u, databases.size()) << "complete ones, one per name";
    EXPECT_EQ(L"MDB1", databases[0].name);
    EXPECT_EQ(L"PF1", databases[1].name);
    EXPECT_EQ(1, databases[1].isPublic);

    std::vector<SCatalogVersion> versions;
    ASSERT_EQ(1, reader.ListDatabaseVersions(L"MDB1", &versions));
    ASSERT_EQ(2u, versions.size());
    EXPECT_EQ(L"2009-03-04 05:06:07", versions[0].backupStart);
    EXPECT_EQ(L"Full", versions[0].backupType);
    EXPECT_EQ(L"Incremental", versions[1].backupType);
    EXPECT_EQ(L"Monday full", versions[0].label);
    EXPECT_EQ(10, versions[0].databaseId);
    EXPECT_EQ(L"mdb1.edb", versions[0].fileName);
    EXPECT_EQ(L"D:\\db", versions[0].filePath);
    EXPECT_EQ(0, versions[0].storageGroupId);

    // A name holding quotes is matched as it is, and cannot change the query.
    ASSERT_EQ(1, reader.ListDatabaseVersions(L"O'Brien's DB", &versions));
    ASSERT_EQ(1u, versions.size());
    EXPECT_EQ(14, versions[0].databaseId);
    ASSERT_EQ(1, reader.ListDatabaseVersions(L"x' OR '1'='1", &versions));
    EXPECT_TRUE(versions.empty());
    ASSERT_EQ(1, reader.ListDatabaseVersions(L"'", &versions));
    EXPECT_TRUE(versions.empty());
    ASSERT_EQ(1, reader.ListDatabaseVersions(std::wstring(3000, L'\''), &versions)) << "no query buffer to overrun";
    EXPECT_TRUE(versions.empty());

    SCatalogImagePaths paths;
    ASSERT_EQ(1, reader.GetImagePaths(11, &paths));
    std::wstring base = reader.GetCatalogFolder();
    EXPECT_EQ(base + L"\\{MDB1}\\2009-03-05T23-00-01-{MDB1}-LOG.VHD", paths.imagePath);
    EXPECT_EQ(L"\\Data", paths.dataFolder);
    EXPECT_EQ(L"Mailbox Database.edb", paths.databaseFileName);
    // Trailing backslashes on the folder change nothing.
    CLorvArchive trailing;
    trailing.SetCatalogFolder(base + L"\\\\");
    ASSERT_EQ(1, trailing.ReadSettings(nullptr, nullptr, nullptr));
    SCatalogImagePaths same;
    ASSERT_EQ(1, trailing.GetImagePaths(11, &same));
    EXPECT_EQ(paths.imagePath, same.imagePath);

    EXPECT_EQ(0, reader.GetImagePaths(15, &paths)) << "no backup row";
    EXPECT_EQ(L"Database version with DatabaseID = 15 is not found", reader.GetLastErrorText());

    SCatalogDatabase database;
    SCatalogVersion version;
    ASSERT_EQ(1, reader.GetDatabaseVersion(12, &database, &version));
    EXPECT_EQ(L"Public", database.caption);
    EXPECT_EQ(1, database.isPublic);
    EXPECT_EQ(L"Full", version.backupType);
    EXPECT_EQ(L"2009-03-04 05:06:07", version.backupStart);
    EXPECT_EQ(0, reader.GetDatabaseVersion(12, &database, nullptr));

    std::wstring before = reader.GetLastErrorText();
    std::vector<SCatalogDatabaseFile> files;
    EXPECT_EQ(0, reader.ListStorageGroupFiles(1, &files));
    EXPECT_EQ(before, reader.GetLastErrorText());
    EXPECT_EQ(1, reader.Close());
}

TEST_F(Catalog, Layout2007)
{
    Use(false);
    ASSERT_EQ(1, reader.ReadSettings(nullptr, nullptr, nullptr));
    EXPECT_EQ(2007, reader.GetLayoutVersion());
    std::vector<SCatalogDatabase> databases;
    ASSERT_EQ(1, reader.ListDatabases(&databases));
    ASSERT_EQ(3u, databases.size());
    EXPECT_EQ(L"First Storage Group\\Mailbox Store", databases[0].caption);
    EXPECT_EQ(20, databases[0].id);

    std::vector<SCatalogVersion> versions;
    ASSERT_EQ(1, reader.ListDatabaseVersions(L"MS1", &versions));
    ASSERT_EQ(2u, versions.size());
    EXPECT_EQ(L"priv1.edb", versions[0].fileName);
    EXPECT_EQ(L"E:\\SG1", versions[0].filePath);
    EXPECT_EQ(1, versions[0].storageGroupId);
    EXPECT_EQ(2, versions[1].storageGroupId);

    SCatalogImagePaths paths;
    ASSERT_EQ(1, reader.GetImagePaths(22, &paths));
    EXPECT_EQ(reader.GetCatalogFolder() + L"\\{SG1b}\\2009-03-05T23-00-01-{SG1b}-LOG.VHD", paths.imagePath);
    EXPECT_EQ(L"Mailbox Store.edb", paths.databaseFileName);

    std::vector<SCatalogDatabaseFile> files;
    ASSERT_EQ(1, reader.ListStorageGroupFiles(1, &files));
    ASSERT_EQ(2u, files.size());
    EXPECT_EQ(L"Mailbox Store", files[0].caption);
    EXPECT_EQ(L"E:\\SG1\\priv1.edb", files[0].path);

    SCatalogDatabase database;
    SCatalogVersion version;
    ASSERT_EQ(1, reader.GetDatabaseVersion(21, &database, &version));
    EXPECT_EQ(L"First Storage Group\\Public Store", database.caption);
    EXPECT_EQ(L"Monday full", version.label);
}

TEST_F(Catalog, FailuresLeaveTheirText)
{
    CLorvArchive missing;
    missing.SetCatalogFolder(Wide(folder.Path() + "nothing"));
    EXPECT_EQ(0, missing.ReadSettings(nullptr, nullptr, nullptr));
    EXPECT_EQ(0u, missing.GetLastErrorText().find(L"sqlite3_open16() failed. Cannot open database \""));
    EXPECT_FALSE(FileExists(folder.Path() + "nothing\\catalog.db")) << "no empty catalog is made";

    Use(true);
    // The 2007 texts on a 2010 catalog (ReadSettings not run): a prepare failure.
    std::vector<SCatalogDatabase> databases;
    EXPECT_EQ(0, reader.ListDatabases(&databases));
    std::wstring text = reader.GetLastErrorText();
    EXPECT_EQ(0u, text.find(L"sqlite3_prepare16_v2() failed.  select d.ID, sg.Caption")) << text;
    EXPECT_NE(std::wstring::npos, text.find(L"   . rc = 1. no such table: StorageGroups")) << text;
}

TEST_F(Catalog, LockedCatalogIsWaitedForThenGivenUp)
{
    Use(true);
    sqlite3* writer = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder.Path() + "catalog.db").c_str(), &writer));
    Exec(writer, "BEGIN EXCLUSIVE TRANSACTION;");

    reader.SetBusyWait(4, 20);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, reader.ReadSettings(nullptr, nullptr, nullptr));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 60u) << "waited after each busy step";
    std::wstring text = reader.GetLastErrorText();
    EXPECT_EQ(0u, text.find(L"db_Run(). sqlite3_step() failed. query = BEGIN EXCLUSIVE TRANSACTION;. rc = 5. ")) << text;

    // A writer that finishes while the reader waits.
    reader.SetBusyWait(100, 20);
    std::thread release([writer] {
        Sleep(100);
        sqlite3_exec(writer, "COMMIT;", nullptr, nullptr, nullptr);
    });
    EXPECT_EQ(1, reader.ReadSettings(nullptr, nullptr, nullptr)) << reader.GetLastErrorText().c_str();
    release.join();
    sqlite3_close(writer);

    // The reader never changes the catalog: nothing it did stays locked.
    sqlite3* after = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((folder.Path() + "catalog.db").c_str(), &after));
    Exec(after, "BEGIN EXCLUSIVE TRANSACTION; ROLLBACK;");
    sqlite3_close(after);
}

// Every file of a folder: name, attributes and bytes.
std::map<std::wstring, std::pair<DWORD, std::vector<uint8_t>>> Snapshot(const std::string& folder)
{
    std::map<std::wstring, std::pair<DWORD, std::vector<uint8_t>>> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((Wide(folder) + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::vector<uint8_t> bytes;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            int n = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, nullptr, 0, nullptr, nullptr);
            std::string narrow(n - 1, '\0');
            WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, &narrow[0], n, nullptr, nullptr);
            bytes = archivetest::ReadWholeFile(folder + narrow);
        }
        files[name] = {found.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE, bytes};
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

// The private copies this process left in the temporary folder.
int PrivateCopiesLeft()
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    wchar_t pattern[64];
    swprintf(pattern, 64, L"vostrel-catalog-%lu-*", static_cast<unsigned long>(GetCurrentProcessId()));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(temp) + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int n = 0;
    do
        ++n;
    while (FindNextFileW(search, &found));
    FindClose(search);
    return n;
}

void Copy(const std::string& from, const std::string& to)
{
    ASSERT_TRUE(CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE)) << from;
}

// Reading never changes the catalog's folder, whatever lies beside the
// catalog: SQLite would roll a hot journal back into the catalog, fold a
// write-ahead log into it, or create its "-wal" and "-shm" files. A catalog
// that needs recovering is read as it was before the interrupted change; what
// a write-ahead log holds is read as committed.
TEST(CatalogFolder, ReadsLeaveItAsItWas)
{
    CTempFolder work;
    // A hot journal: a change half written into the catalog when its writer
    // stopped (the files copied while the change is under way).
    const std::string hot = work / "hot\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(hot).c_str(), nullptr));
    {
        const std::string source = work / "writer\\";
        ASSERT_TRUE(CreateDirectoryW(Wide(source).c_str(), nullptr));
        MakeCatalog(source, true, "Version 14.1 (Build 218.15)");
        sqlite3* writer = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((source + "catalog.db").c_str(), &writer));
        Exec(writer, "BEGIN; update Databases set Caption = 'Changed';");
        ASSERT_EQ(SQLITE_OK, sqlite3_db_cacheflush(writer));
        Copy(source + "catalog.db", hot + "catalog.db");
        Copy(source + "catalog.db-journal", hot + "catalog.db-journal");
        Exec(writer, "ROLLBACK;");
        sqlite3_close(writer);
    }
    // A write-ahead log holding a committed row that the catalog itself lacks.
    const std::string logged = work / "logged\\";
    const std::string walMode = work / "walmode\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(logged).c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Wide(walMode).c_str(), nullptr));
    {
        const std::string source = work / "walwriter\\";
        ASSERT_TRUE(CreateDirectoryW(Wide(source).c_str(), nullptr));
        MakeCatalog(source, true, "Version 14.1 (Build 218.15)");
        sqlite3* writer = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((source + "catalog.db").c_str(), &writer));
        Exec(writer, "PRAGMA journal_mode=WAL;"
                     "insert into Databases values(16, 'Logged', 'LOGGED', 1, 2, 0, 'l.edb', 'D:\\l');");
        Copy(source + "catalog.db", logged + "catalog.db");
        Copy(source + "catalog.db-wal", logged + "catalog.db-wal");
        sqlite3_close(writer);
        // Closed: the log folded in and gone, the catalog still in WAL mode.
        ASSERT_FALSE(FileExists(source + "catalog.db-wal"));
        Copy(source + "catalog.db", walMode + "catalog.db");
    }
    const std::string plain = work / "plain\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(plain).c_str(), nullptr));
    MakeCatalog(plain, true, "Version 14.1 (Build 218.15)");
    // A read-only catalog beside a hot journal.
    const std::string readOnly = work / "readonly\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(readOnly).c_str(), nullptr));
    Copy(hot + "catalog.db", readOnly + "catalog.db");
    Copy(hot + "catalog.db-journal", readOnly + "catalog.db-journal");
    ASSERT_TRUE(SetFileAttributesW(Wide(readOnly + "catalog.db").c_str(), FILE_ATTRIBUTE_READONLY));
    // An empty catalog beside a journal (SQLite deletes such a journal).
    const std::string empty = work / "empty\\";
    ASSERT_TRUE(CreateDirectoryW(Wide(empty).c_str(), nullptr));
    archivetest::WriteWholeFile(empty + "catalog.db", {});
    Copy(hot + "catalog.db-journal", empty + "catalog.db-journal");

    struct Case {
        const char* what;
        std::string folder;
        bool readable;
        std::vector<std::wstring> captions;  // of the complete databases
    } cases[] = {
        {"plain catalog", plain, true, {L"Mailbox Database", L"Public", L"Quoted", L"Lonely"}},
        {"hot journal beside it", hot, true, {L"Mailbox Database", L"Public", L"Quoted", L"Lonely"}},
        {"read-only catalog, hot journal beside it", readOnly, true,
         {L"Mailbox Database", L"Public", L"Quoted", L"Lonely"}},
        {"write-ahead log beside it", logged, true, {L"Mailbox Database", L"Public", L"Quoted", L"Lonely", L"Logged"}},
        {"WAL mode, no log", walMode, true, {L"Mailbox Database", L"Public", L"Quoted", L"Lonely", L"Logged"}},
        {"empty catalog beside a journal", empty, false, {}},
    };
    for (const Case& c : cases) {
        const auto before = Snapshot(c.folder);
        CLorvArchive catalog;
        catalog.SetCatalogFolder(Wide(c.folder));
        ASSERT_EQ(c.readable ? 1 : 0, catalog.ReadSettings(nullptr, nullptr, nullptr)) << c.what;
        if (c.readable) {
            std::vector<SCatalogDatabase> databases;
            ASSERT_EQ(1, catalog.ListDatabases(&databases)) << c.what;
            std::vector<std::wstring> captions;
            for (const SCatalogDatabase& d : databases)
                captions.push_back(d.caption);
            EXPECT_EQ(c.captions, captions) << c.what;
            std::vector<SCatalogVersion> versions;
            EXPECT_EQ(1, catalog.ListDatabaseVersions(L"MDB1", &versions)) << c.what;
            SCatalogImagePaths paths;
            EXPECT_EQ(1, catalog.GetImagePaths(11, &paths)) << c.what;
            SCatalogDatabase database;
            SCatalogVersion version;
            EXPECT_EQ(1, catalog.GetDatabaseVersion(12, &database, &version)) << c.what;
        } else {
            EXPECT_FALSE(catalog.GetLastErrorText().empty()) << c.what;
        }
        EXPECT_TRUE(before == Snapshot(c.folder)) << c.what << ": the folder changed";
        EXPECT_EQ(0, PrivateCopiesLeft()) << c.what;
    }
    SetFileAttributesW(Wide(readOnly + "catalog.db").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
