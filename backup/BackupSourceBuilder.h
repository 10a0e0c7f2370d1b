#pragma once
// Builds the backups the add-store wizard and logon open, from a database and
// its transaction logs: FAT16 or FAT32 partitions holding the files, volumes
// of the newer backup-archive format holding a partition (data-source kind 1),
// and protection-archive folders (kind 2): a backup catalog "catalog.db" in
// either layout whose versions name fixed VHDs holding the partition. Also the
// archives only a volume listing reads: collection archives naming member
// volumes, and volumes whose partition record claims any size.
//
// Used by tests and by the VostrelMakeBackups tool; never by the product.
// Everything is written with the project's own writers (the archive writer,
// SQLite for the catalog); paths are UTF-8. Failures throw std::runtime_error
// naming what could not be done.
#include "TextCodes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace backupsource {

// ------------------------------------------------------------------ FAT partitions

// A file (or, with `folder`, an empty folder) of a new file system. The path
// is relative to the root, its parts separated by '\'; folders on the way are
// made as needed.
struct SFatItem {
    std::wstring path;
    std::vector<uint8_t> data;
    bool folder = false;
};

struct SFatOptions {
    int bits = 16;                   // 16 or 32
    std::string label = "MAILDATA";  // volume label, at most 11 ASCII characters
    uint32_t serial = 0x51C0FA7E;
    uint32_t hiddenSectors = 0;      // sectors in front of the partition on its disk
    uint32_t spareBytes = 256 << 10; // free room beyond what the items take
};

// A whole formatted partition (its size follows from the items: the smallest
// that the FAT kind allows, or more). Names that are no plain upper-case 8.3
// names get long-name entries beside generated short names.
std::vector<uint8_t> MakeFatPartition(const std::vector<SFatItem>& items, const SFatOptions& options);
// The MBR partition type of a FAT16 (0x06) or FAT32 (0x0C, LBA) partition.
uint8_t FatPartitionType(int bits);

// ------------------------------------------------------------------ VHDs

// A fixed VHD: an MBR naming the partition (of the given type) at sector
// 2048, the partition, and the 512-byte footer.
constexpr uint32_t kVhdPartitionSector = 2048;
std::vector<uint8_t> MakeFixedVhd(const std::vector<uint8_t>& partition, uint8_t partitionType);
// Recomputes the footer's checksum after its fields were changed.
void SealVhdFooter(std::vector<uint8_t>& vhd);

// ------------------------------------------------------------------ archive volumes

// How one archive file is written. The partition is stored in units of
// 4 KiB, unitsPerEntry per entry; units of zeros are left out (whole
// entries, or through unit bitmaps).
struct SArchiveOptions {
    bool packed = true;
    uint8_t compression = 6;  // 1 byte-run, 10 LZRW3, other: zlib at that level
    uint16_t major = 2;
    uint32_t unitsPerEntry = 16;
    bool bitmaps = false;
    std::string label = "Exchange backup";  // the archive's label (header bytes 52-115)
    uint64_t archiveId = 0x5152534F52424F51ull;
    // The partition record the volume listing shows: drive letter, label
    // (at most 13 characters), and the sizes in sectors (-1: the partition's
    // own total, and its sectors that are not all zeros).
    char driveLetter = 'E';
    std::string partitionLabel = "MAILDATA";
    int64_t totalSectors = -1;
    int64_t usedSectors = -1;
};

// Writes one archive volume holding the partition; 0 or the writer's status.
int WriteArchiveVolume(const std::string& path, const std::vector<uint8_t>& partition,
                       const SArchiveOptions& options);
// Writes a collection archive: a volume of kind 1 that holds no sectors and
// whose header records name the member files, in this order. Each stored
// path is "/" + the member's file name, as the maker's product stores the
// members of a collection it wrote elsewhere, so a reader finds them in the
// collection's own folder.
void WriteCollectionArchive(const std::string& path, const std::vector<std::string>& memberFileNames,
                            const std::string& label = "Exchange backup collection");

// ------------------------------------------------------------------ databases

// A database file with the files of its transaction-log folder (generations,
// checkpoint and reserve logs: "*.log", "*.chk", "*.jrs").
struct SFileData {
    std::wstring name;
    std::vector<uint8_t> data;
};
struct SDatabaseFiles {
    SFileData database;
    std::vector<SFileData> logs;
};
// Reads them; an empty log folder name reads no logs.
SDatabaseFiles ReadDatabaseFiles(const std::string& databasePath, const std::string& logFolder);

// Where a source keeps the files on its drive, relative to the drive root:
// the database in `Data`, and its logs there too, where the catalog version
// page expects them ("<root>Data\<file>" and "<root>Data").
constexpr wchar_t kDataFolder[] = L"Data";

// ------------------------------------------------------------------ kind 1: backup archives

struct SArchiveSourceOptions {
    int bits = 16;
    // One volume holding the database and its logs, or two (the database's
    // and the logs', each a partition of its own, both named by a collection
    // archive in that order).
    bool separateLogVolume = false;
    SArchiveOptions archive;           // of the (database) volume
    char logDriveLetter = 'F';         // of the log volume's partition record
};

struct SArchiveSource {
    std::string archivePath;  // what the data-source page is given (the volume, or the collection)
    std::string databaseVolume;
    std::string logVolume;    // the same as databaseVolume with one volume
    // On the mounted drives, relative to their roots.
    std::wstring databasePath;  // "Data\<file>"
    std::wstring logFolder;     // "Data" (one volume) or "Logs" (its own volume)
};

// Writes the archive files into `folder` (which must exist) under names
// beginning with `baseName`: "<base>.KZF", or with a log volume "<base>.KZF"
// (the collection), "<base>-Database.KZF" and "<base>-Logs.KZF".
SArchiveSource MakeArchiveSource(const std::string& folder, const std::string& baseName, const SDatabaseFiles& files,
                                 const SArchiveSourceOptions& options = {});

// ------------------------------------------------------------------ kind 2: backup catalogs

enum class ECatalogLayout { Exchange2007, Exchange2010 };

// A catalog the reader cannot read all of, for the pages' failure messages:
// no row in Settings (reading the settings fails with "Table Settings is
// empty"), no Databases table (listing the databases fails), no BackupInfo
// table (the databases list, but their versions and images do not).
enum class ECatalogDamage { None, EmptySettings, NoDatabaseTable, NoBackupTable };

struct SCatalogBackup {
    std::string backupStart;  // "YYYY-MM-DD HH:MM:SS"
    int backupType = 1;       // 1 full, 2 incremental
    std::string label;
};

struct SCatalogOptions {
    ECatalogLayout layout = ECatalogLayout::Exchange2010;
    std::string serverName = "MAIL01";
    std::string exchangeVersion;  // empty: "Version 14.1 (Build 218.15)" or "Version 8.3 (Build 83.6)"
    std::string edition = "Enterprise";
    std::string databaseName = "MDB01";
    // Databases.Caption; empty: the database file's name without ".edb",
    // from which the catalog version page names the file on the drive.
    std::string databaseCaption;
    std::string storageGroupName = "SG01";  // layout 2007: names the image folder
    std::string storageGroupCaption = "First Storage Group";
    std::string serverFolder = "E:\\Exchange\\Data";  // where the server kept the file (FilePath)
    // A public-folder database listed beside the mailbox database (in the
    // 2007 layout in the same storage group, so in the same images; in the
    // 2010 layout its own images, which are not written).
    bool publicFolders = false;
    int bits = 16;
    ECatalogDamage damage = ECatalogDamage::None;
    std::vector<SCatalogBackup> versions = {{"2009-03-04 05:06:07", 1, "Monday full"},
                                            {"2009-03-05 23:00:01", 2, "Tuesday"}};
};

struct SCatalogSource {
    std::string folder;                 // the protection archive folder (the data-source page's path)
    std::string catalogPath;            // folder\catalog.db
    std::vector<std::string> images;    // per version, in order: its VHD
    std::vector<int> databaseIds;       // per version: the mailbox database's Databases.ID
    std::vector<int> publicDatabaseIds; // per version, with publicFolders
    std::wstring databaseCaption;       // as the database list shows it (2007: "<group>\<database>")
    std::wstring databaseFile;          // the file name the catalog version page derives
    // On the mounted drive, relative to its root.
    std::wstring databasePath;  // "Data\<file>"
    std::wstring logFolder;     // "Data"
};

// Writes catalog.db and the versions' VHDs into `folder` (which must exist
// and hold no catalog yet).
SCatalogSource MakeCatalogSource(const std::string& folder, const SDatabaseFiles& files,
                                 const SCatalogOptions& options = {});

// ------------------------------------------------------------------ listing fixtures

// A volume only a listing reads: a small partition of zeros whose record
// claims `totalSectors` and `usedSectors` at the drive letter with the label.
void WriteListingVolume(const std::string& path, char driveLetter, const std::string& partitionLabel,
                        uint32_t totalSectors, uint32_t usedSectors, const std::string& archiveLabel);

// ------------------------------------------------------------------ helpers

using textcode::Utf8;
using textcode::Wide;
std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// Makes the folder and the folders above it as needed.
void MakeFolders(const std::string& path);

}  // namespace backupsource
