// The backups made from a database, read back without a driver: the FAT
// partitions through the image-mounting driver's own reader (the code that
// presents them), the archive volumes and collections through the product's
// archive readers as the volume page lists them, and the catalogs of both
// layouts through the catalog reader as the catalog version page reads them.
#include "Platform.h"

#include "BackupSourceBuilder.h"

#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "ArchiveTestSupport.h"
#include "CBaseArchive.h"
#include "CLorvArchive.h"
#include "qorformat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace backupsource;
using archivetest::CTempFolder;

extern "C" void* QfAlloc(size_t size) { return calloc(1, size ? size : 1); }
extern "C" void QfFree(void* block) { free(block); }

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

std::vector<uint8_t> Pattern(size_t size, uint32_t seed)
{
    std::vector<uint8_t> data(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(seed >> 16);
    }
    return data;
}

// What the driver shows of an image: the file system's label and kind, its
// folders and files with their contents.
struct SShown {
    uint32_t code = 0;
    int bits = 0;
    std::string label;
    std::vector<std::wstring> folders;
    std::map<std::wstring, std::vector<uint8_t>> files;
};

SShown Present(const std::vector<uint8_t>& image, int kind)
{
    struct Memory {
        const std::vector<uint8_t>* bytes;
        QF_FILE file;
    } memory{&image, {}};
    memory.file.context = &memory;
    memory.file.size = image.size();
    memory.file.read = [](void* context, uint64_t offset, void* buffer, uint32_t length) -> uint32_t {
        const std::vector<uint8_t>& bytes = *static_cast<Memory*>(context)->bytes;
        if (offset > bytes.size() || bytes.size() - offset < length)
            return 38;  // ERROR_HANDLE_EOF
        memcpy(buffer, bytes.data() + offset, length);
        return 0;
    };
    SShown shown;
    QF_DISK* disk = nullptr;
    QF_FAT* fat = nullptr;
    shown.code = QfOpenDisk(&memory.file, kind, &disk);
    if (!shown.code)
        shown.code = QfOpenFat(disk, &fat);
    if (!shown.code) {
        shown.bits = QfFatBits(fat);
        shown.label = QfFatLabel(fat);
        struct Walk {
            QF_FAT* fat;
            SShown* shown;
        } walk{fat, &shown};
        shown.code = QfWalk(
            fat,
            [](void* raw, const QF_ENTRY* entry) -> uint32_t {
                auto* walk = static_cast<Walk*>(raw);
                const std::wstring path(reinterpret_cast<const wchar_t*>(entry->path), entry->pathLength);
                if (entry->isFolder) {
                    walk->shown->folders.push_back(path);
                    return 0;
                }
                std::vector<uint8_t>& data = walk->shown->files[path];
                return QfReadFile(
                    walk->fat, entry,
                    [](void* out, const uint8_t* piece, uint32_t length) -> uint32_t {
                        auto* data = static_cast<std::vector<uint8_t>*>(out);
                        data->insert(data->end(), piece, piece + length);
                        return 0;
                    },
                    &data);
            },
            &walk);
    }
    QfCloseFat(fat);
    QfCloseDisk(disk);
    return shown;
}

// The image of a partition in an archive volume: every sector read back
// through the product's reader.
std::vector<uint8_t> PartitionOfArchive(const std::string& path, uint32_t sectors)
{
    std::unique_ptr<ArchiveRecord, void (*)(ArchiveRecord*)> location(NewArchiveLocation(path.c_str()),
                                                                      FreeArchiveRecord);
    ArchiveOpenParams params{};
    params.location = location.get();
    params.eventCallback = ArchiveFileFactory;
    HdArchiveHeader* header = nullptr;
    CBaseArchive* archive = nullptr;
    std::vector<uint8_t> sectorsRead;
    EXPECT_EQ(0, OpenArchive(&params, &header, &archive, nullptr)) << path;
    if (!archive)
        return sectorsRead;
    EXPECT_EQ(0, archive->BuildIndex());
    sectorsRead.assign(static_cast<size_t>(sectors) * 512, 0);
    // Entry by entry (16 units of 8 sectors): an entry is stored whole or not at all.
    for (uint32_t at = 0; at < sectors; at += 128) {
        const uint32_t count = std::min<uint32_t>(128, sectors - at);
        const int rc = archive->Read(0, at, count, &sectorsRead[static_cast<size_t>(at) * 512], nullptr);
        EXPECT_TRUE(rc == 0 || rc == ARCERR_NOT_IN_ARCHIVE) << rc;  // zeros are not stored
    }
    FreeArchiveHeader(header);
    CloseArchive(archive);
    return sectorsRead;
}

// What the volume page reads of one archive file.
struct SListed {
    int status = -1;
    uint8_t kind = 0;
    std::string label;
    char letter = 0;
    std::string partitionLabel;
    uint32_t used = 0, total = 0;
    std::vector<std::string> recordPaths;
};

SListed List(const std::string& path)
{
    SListed listed;
    std::unique_ptr<ArchiveRecord, void (*)(ArchiveRecord*)> location(NewArchiveLocation(path.c_str()),
                                                                      FreeArchiveRecord);
    ArchiveOpenParams params{};
    params.location = location.get();
    params.eventCallback = ArchiveFileFactory;
    HdArchiveHeader* header = nullptr;
    CBaseArchive* archive = nullptr;
    listed.status = OpenArchive(&params, &header, &archive, nullptr);
    if (listed.status)
        return listed;
    listed.kind = header->kind;
    listed.label = header->label;
    const uint8_t* partition = reinterpret_cast<const uint8_t*>(header) + kHdFixedHeaderLength;
    listed.letter = static_cast<char>(partition[32] + 64);
    listed.partitionLabel = reinterpret_cast<const char*>(partition + 42);
    memcpy(&listed.used, partition + 56, 4);
    memcpy(&listed.total, partition + 60, 4);
    ArchiveRecord* record = GetFirstHeaderRecord(header);
    for (unsigned i = 0; i < GetHeaderRecordCount(header) && record && !EndOfHeaderRecords(header, record); ++i) {
        const char* stored = GetRecordPath(record);
        listed.recordPaths.push_back(stored ? stored : "<none>");
        record = GetNextHeaderRecord(header, record);
    }
    FreeArchiveHeader(header);
    CloseArchive(archive);
    return listed;
}

SDatabaseFiles SomeDatabase()
{
    SDatabaseFiles files;
    files.database = {L"Mailbox Database.edb", Pattern(200000, 1)};
    files.logs = {{L"E00.chk", Pattern(8192, 2)},
                  {L"E00.log", Pattern(65536, 3)},
                  {L"E0000000001.log", Pattern(65536, 4)},
                  {L"E00res00001.jrs", std::vector<uint8_t>(65536, 0)}};
    return files;
}

TEST(FatPartition, TheDriverShowsEveryNameAndByte)
{
    std::vector<SFatItem> items = {
        {L"Data\\Mailbox Database.edb", Pattern(70000, 7)},
        {L"Data\\E00.log", Pattern(5000, 8)},
        {L"Data\\e00.chk", Bytes("lower-case 8.3 name")},
        {L"README.TXT", Bytes("a plain short name")},
        {L"Postfach Müller – €.txt", Bytes("a long name beyond ASCII")},
        {L"a.b.c.d", Bytes("dots")},
        {L".hidden", Bytes("a leading dot")},
        {L"empty.dat", {}},
        {L"Deep\\er\\still\\nested.txt", Bytes("three folders down")},
        {L"Empty Folder", {}, true},
    };
    // Enough names in one folder that it spans clusters, and names whose
    // generated short forms collide (LONGNAME~1 ... ~12).
    for (int i = 0; i < 300; ++i)
        items.push_back({L"Many\\Long file name number " + std::to_wstring(i) + L".log", Bytes(std::to_string(i))});

    struct Case {
        int bits;
        const char* label;
    } cases[] = {{16, "MAILDATA"}, {32, "BIG FAT"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        SFatOptions options;
        options.bits = c.bits;
        options.label = c.label;
        const std::vector<uint8_t> partition = MakeFatPartition(items, options);
        ASSERT_EQ(0u, partition.size() % 512);
        const SShown shown = Present(MakeFixedVhd(partition, FatPartitionType(c.bits)), QF_IMAGE_VHD);
        ASSERT_EQ(0u, shown.code);
        EXPECT_EQ(c.bits, shown.bits);
        EXPECT_EQ(c.label, shown.label);
        EXPECT_EQ(items.size() - 1, shown.files.size());
        for (const SFatItem& item : items) {
            if (item.folder)
                continue;
            auto found = shown.files.find(item.path);
            ASSERT_NE(found, shown.files.end()) << Utf8(item.path);
            EXPECT_TRUE(found->second == item.data) << Utf8(item.path);
        }
        for (const wchar_t* folder : {L"Data", L"Deep", L"Deep\\er", L"Deep\\er\\still", L"Empty Folder", L"Many"})
            EXPECT_NE(std::find(shown.folders.begin(), shown.folders.end(), folder), shown.folders.end())
                << Utf8(folder);
    }
}

TEST(FatPartition, RefusesWhatNoFileSystemHolds)
{
    const std::vector<std::vector<SFatItem>> bad = {
        {{L"a\\..\\b", Bytes("x")}},
        {{L"name?", Bytes("x")}},
        {{L"trailing. ", Bytes("x")}},
        {{L"", Bytes("x")}},
        {{L"Twice.txt", Bytes("x")}, {L"TWICE.TXT", Bytes("y")}},
        {{L"file", Bytes("x")}, {L"file\\inside", Bytes("y")}},
        {{std::wstring(256, L'n'), Bytes("x")}},
    };
    for (const auto& items : bad)
        EXPECT_THROW(MakeFatPartition(items, {}), std::runtime_error) << Utf8(items.back().path);
    SFatOptions label;
    label.label = "TWELVE CHARS";
    EXPECT_THROW(MakeFatPartition({}, label), std::runtime_error);
}

// Kind 1: the volume (or the collection naming a database and a log volume)
// lists as the volume page lists it, and holds the partition whose files are
// the database and its logs where the wizard's database page finds them.
TEST(ArchiveSource, ListsAndHoldsTheDatabaseAndItsLogs)
{
    const SDatabaseFiles files = SomeDatabase();
    for (bool separate : {false, true}) {
        SCOPED_TRACE(separate ? "two volumes" : "one volume");
        CTempFolder folder;
        SArchiveSourceOptions options;
        options.separateLogVolume = separate;
        options.bits = separate ? 32 : 16;
        const SArchiveSource source = MakeArchiveSource(folder.Path(), "Backup", files, options);
        EXPECT_EQ(folder / "Backup.KZF", source.archivePath);
        EXPECT_EQ(L"Data\\Mailbox Database.edb", source.databasePath);

        const SListed root = List(source.archivePath);
        ASSERT_EQ(0, root.status);
        EXPECT_EQ("Exchange backup", root.label);
        if (separate) {
            EXPECT_NE(0, root.kind) << "a collection";
            EXPECT_EQ((std::vector<std::string>{"/Backup-Database.KZF", "/Backup-Logs.KZF"}), root.recordPaths);
            EXPECT_EQ(folder / "Backup-Database.KZF", source.databaseVolume);
            EXPECT_EQ(folder / "Backup-Logs.KZF", source.logVolume);
            EXPECT_EQ(L"Logs", source.logFolder);
        } else {
            EXPECT_EQ(0, root.kind);
            EXPECT_EQ(source.archivePath, source.databaseVolume);
            EXPECT_EQ(source.archivePath, source.logVolume);
            EXPECT_EQ(L"Data", source.logFolder);
        }

        std::map<std::wstring, std::vector<uint8_t>> shown;
        for (const std::string& volume : {source.databaseVolume, source.logVolume}) {
            const SListed listed = List(volume);
            ASSERT_EQ(0, listed.status) << volume;
            EXPECT_EQ(0, listed.kind);
            EXPECT_EQ(volume == source.logVolume && separate ? 'F' : 'E', listed.letter);
            EXPECT_EQ(volume == source.logVolume && separate ? "MAILLOGS" : "MAILDATA", listed.partitionLabel);
            EXPECT_GT(listed.total, listed.used);
            EXPECT_GT(listed.used, 0u);
            const std::vector<uint8_t> partition = PartitionOfArchive(volume, listed.total);
            // The partition read back is a file system the driver presents.
            const SShown fromVhd = Present(MakeFixedVhd(partition, FatPartitionType(options.bits)), QF_IMAGE_VHD);
            ASSERT_EQ(0u, fromVhd.code);
            EXPECT_EQ(options.bits, fromVhd.bits);
            shown.insert(fromVhd.files.begin(), fromVhd.files.end());
            // And the volume itself is presented the same.
            const SShown fromVolume = Present(ReadWholeFile(volume), QF_IMAGE_ARCHIVE);
            ASSERT_EQ(0u, fromVolume.code);
            EXPECT_EQ(fromVhd.files, fromVolume.files);
        }
        EXPECT_TRUE(shown[source.databasePath] == files.database.data);
        for (const SFileData& log : files.logs)
            EXPECT_TRUE(shown[source.logFolder + L"\\" + log.name] == log.data) << Utf8(log.name);
        EXPECT_EQ(1 + files.logs.size(), shown.size());
    }
}

// Kind 2: a catalog of each layout lists the server, the database and its
// versions as the catalog version page reads them, and each version's image
// path names a VHD holding the database and its logs in "Data".
TEST(CatalogSource, BothLayoutsNameTheirImages)
{
    const SDatabaseFiles files = SomeDatabase();
    struct Case {
        ECatalogLayout layout;
        int expectedLayout;
        const wchar_t* caption;
    } cases[] = {{ECatalogLayout::Exchange2010, 2010, L"Mailbox Database"},
                 {ECatalogLayout::Exchange2007, 2007, L"First Storage Group\\Mailbox Database"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedLayout);
        CTempFolder folder;
        SCatalogOptions options;
        options.layout = c.layout;
        options.publicFolders = true;
        options.bits = c.expectedLayout == 2010 ? 32 : 16;
        const std::string root = folder.Path().substr(0, folder.Path().size() - 1);
        const SCatalogSource source = MakeCatalogSource(root, files, options);
        EXPECT_EQ(root + "\\catalog.db", source.catalogPath);
        EXPECT_EQ(c.caption, source.databaseCaption);
        EXPECT_EQ(L"Mailbox Database.edb", source.databaseFile);
        EXPECT_EQ(L"Data\\Mailbox Database.edb", source.databasePath);
        EXPECT_EQ(L"Data", source.logFolder);
        ASSERT_EQ(2u, source.images.size());
        ASSERT_EQ(2u, source.databaseIds.size());

        CLorvArchive catalog;
        catalog.SetCatalogFolder(Wide(root));
        std::wstring server, version, edition;
        ASSERT_EQ(1, catalog.ReadSettings(&server, &version, &edition)) << catalog.GetLastErrorText();
        EXPECT_EQ(c.expectedLayout, catalog.GetLayoutVersion());
        EXPECT_EQ(L"MAIL01", server);
        EXPECT_EQ(L"Enterprise", edition);

        std::vector<SCatalogDatabase> databases;
        ASSERT_EQ(1, catalog.ListDatabases(&databases)) << catalog.GetLastErrorText();
        ASSERT_EQ(2u, databases.size());
        EXPECT_EQ(c.caption, databases[0].caption);
        EXPECT_EQ(0, databases[0].isPublic);
        EXPECT_EQ(1, databases[1].isPublic);

        std::vector<SCatalogVersion> versions;
        ASSERT_EQ(1, catalog.ListDatabaseVersions(databases[0].name, &versions)) << catalog.GetLastErrorText();
        ASSERT_EQ(2u, versions.size());
        EXPECT_EQ(L"2009-03-04 05:06:07", versions[0].backupStart);
        EXPECT_EQ(L"Full", versions[0].backupType);
        EXPECT_EQ(L"Incremental", versions[1].backupType);
        // What the page derives the file on the drive from.
        const std::wstring derived = c.expectedLayout == 2010 ? versions[0].fileName : databases[0].caption + L".edb";
        EXPECT_EQ(source.databaseFile, derived.substr(derived.rfind(L'\\') + 1));

        for (size_t i = 0; i < versions.size(); ++i) {
            EXPECT_EQ(source.databaseIds[i], versions[i].databaseId);
            SCatalogImagePaths paths;
            ASSERT_EQ(1, catalog.GetImagePaths(versions[i].databaseId, &paths)) << catalog.GetLastErrorText();
            EXPECT_EQ(Wide(source.images[i]), paths.imagePath);
            const SShown shown = Present(ReadWholeFile(source.images[i]), QF_IMAGE_VHD);
            ASSERT_EQ(0u, shown.code);
            EXPECT_EQ(options.bits, shown.bits);
            EXPECT_TRUE(shown.files.at(source.databasePath) == files.database.data);
            for (const SFileData& log : files.logs)
                EXPECT_TRUE(shown.files.at(source.logFolder + L"\\" + log.name) == log.data);
        }
        std::vector<SCatalogDatabaseFile> groupFiles;
        if (c.expectedLayout == 2007) {
            ASSERT_EQ(1, catalog.ListStorageGroupFiles(versions[0].storageGroupId, &groupFiles));
            ASSERT_EQ(2u, groupFiles.size());
            EXPECT_EQ(L"Mailbox Database", groupFiles[0].caption);
            EXPECT_EQ(L"E:\\Exchange\\Data\\Mailbox Database.edb", groupFiles[0].path);
        } else {
            EXPECT_EQ(0, catalog.ListStorageGroupFiles(0, &groupFiles));
        }
        // The catalog is a plain file: no journal is left beside it.
        EXPECT_FALSE(archivetest::FileExists(root + "\\catalog.db-journal"));
        EXPECT_THROW(MakeCatalogSource(root, files, options), std::runtime_error) << "a second catalog over the first";
    }
}

// Damaged catalogs fail where the pages show their messages, each with the
// reader's own text.
TEST(CatalogSource, DamagedCatalogsFailWithTheReadersText)
{
    const SDatabaseFiles files = SomeDatabase();
    struct Case {
        ECatalogDamage damage;
        const char* failsAt;
        const wchar_t* text;
    } cases[] = {
        {ECatalogDamage::EmptySettings, "settings", L"Table Settings is empty"},
        {ECatalogDamage::NoDatabaseTable, "databases", L"no such table: Databases"},
        {ECatalogDamage::NoBackupTable, "versions", L"no such table: BackupInfo"},
    };
    for (ECatalogLayout layout : {ECatalogLayout::Exchange2010, ECatalogLayout::Exchange2007}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.failsAt);
            CTempFolder folder;
            SCatalogOptions options;
            options.layout = layout;
            options.damage = c.damage;
            options.versions.resize(1);
            const SCatalogSource source = MakeCatalogSource(folder.Path(), files, options);
            CLorvArchive catalog;
            catalog.SetCatalogFolder(Wide(folder.Path()));
            std::string failed = "none";
            std::vector<SCatalogDatabase> databases;
            std::vector<SCatalogVersion> versions;
            SCatalogImagePaths paths;
            if (!catalog.ReadSettings(nullptr, nullptr, nullptr))
                failed = "settings";
            else if (!catalog.ListDatabases(&databases))
                failed = "databases";
            else if (!catalog.ListDatabaseVersions(L"MDB01", &versions))
                failed = "versions";
            EXPECT_EQ(c.failsAt, failed);
            EXPECT_NE(std::wstring::npos, catalog.GetLastErrorText().find(c.text)) << Utf8(catalog.GetLastErrorText());
            if (c.damage == ECatalogDamage::NoBackupTable) {
                EXPECT_EQ(1u, databases.size());
                EXPECT_EQ(0, catalog.GetImagePaths(source.databaseIds[0], &paths));
            }
        }
    }
}

// What only a listing reads: a collection naming three volumes of its
// folder, in record order; a partition record of 41943040 sectors.
TEST(ListingFixtures, CollectionsAndClaimedSizes)
{
    CTempFolder folder;
    WriteListingVolume(folder / "Mon.KZF", 'E', "MONDAY", 41943040, 20971520, "Monday");
    WriteListingVolume(folder / "Tue.KZF", 'F', "TUESDAY", 2097152, 1024, "Tuesday");
    WriteListingVolume(folder / "Wed.KZF", 'G', "WEDNESDAY", 4096, 4096, "Wednesday");
    WriteCollectionArchive(folder / "Week.KZF", {"Wed.KZF", "Mon.KZF", "Tue.KZF"});

    const SListed week = List(folder / "Week.KZF");
    ASSERT_EQ(0, week.status);
    EXPECT_NE(0, week.kind);
    EXPECT_EQ((std::vector<std::string>{"/Wed.KZF", "/Mon.KZF", "/Tue.KZF"}), week.recordPaths);
    const SListed monday = List(folder / "Mon.KZF");
    ASSERT_EQ(0, monday.status);
    EXPECT_EQ('E', monday.letter);
    EXPECT_EQ("MONDAY", monday.partitionLabel);
    EXPECT_EQ(41943040u, monday.total);
    EXPECT_EQ(20971520u, monday.used);
    EXPECT_EQ("Monday", monday.label);
    char shown[32];
    snprintf(shown, sizeof shown, "%.2f GB", monday.total * 512.0 / 1073741824);
    EXPECT_STREQ("20.00 GB", shown);
    EXPECT_THROW(WriteListingVolume(folder / "Mon.KZF", 'E', "AGAIN", 1, 1, "x"), std::runtime_error);
}

}  // namespace
