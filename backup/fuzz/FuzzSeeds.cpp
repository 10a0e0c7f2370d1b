#include "FuzzSeeds.h"

#include "ArchiveCipher.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "CBlockPacker.h"
#include "CHDArchive.h"
#include "MemoryFiles.h"

#include <sqlite3.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

// Modes and flags as the fuzzer reads them.
enum : uint8_t { kNewer = 1, kNewerWithCompanion = 2, kOlder = 3, kCatalog = 4 };
enum : uint8_t { kFlagCallback = 1, kFlagWritable = 2, kFlagPassword = 4 };

void Save(const std::string& folder, const std::string& name, uint8_t mode, uint8_t flags,
          const std::vector<Bytes>& parts)
{
    Bytes input = {mode, flags};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            input.insert(input.end(), kSeparator, kSeparator + sizeof kSeparator - 1);
        input.insert(input.end(), parts[i].begin(), parts[i].end());
    }
    FILE* f = fopen((folder + "/" + name).c_str(), "wb");
    if (!f)
        return;
    fwrite(input.data(), 1, input.size(), f);
    fclose(f);
}

// Sectors of runs, text and noise, so that every codec has work.
Bytes Pattern(size_t sectors, uint32_t seed)
{
    Bytes out(sectors * 512);
    uint32_t state = seed * 2654435761u + 1;
    static const char text[] = "Subject: quarterly figures, mailbox store, folder Inbox; ";
    for (size_t s = 0; s < sectors; ++s) {
        for (size_t i = 0; i < 512; ++i) {
            state = state * 1103515245u + 12345u;
            uint8_t* p = &out[s * 512 + i];
            switch (s % 3) {
            case 0: *p = static_cast<uint8_t>(s); break;
            case 1: *p = static_cast<uint8_t>(text[(i + s) % (sizeof text - 1)]); break;
            default: *p = static_cast<uint8_t>(state >> 16); break;
            }
        }
    }
    return out;
}

struct SNewer {
    SHdCreateOptions options;
    uint8_t compression = 6;
    const char* password = "";
    uint32_t volumeLimit = kNoVolumeLimit;
    // 0 plain entries; 1 a unit bitmap; 2 an entry without data.
    int shape = 0;
};

ArchiveOpenParams Params(ArchiveRecord* location, const char* password)
{
    ArchiveOpenParams params{};
    params.location = location;
    params.volumeLimit = kNoVolumeLimit;
    params.eventCallback = memoryfiles::EventCallback;
    memcpy(params.key, password, strlen(password));
    return params;
}

// Writes an archive into the memory files; its volumes in chain order.
std::vector<Bytes> WriteNewer(const SNewer& seed, const std::string& path, CBaseArchive* base = nullptr)
{
    ArchiveRecord* location = NewArchiveLocation(path.c_str());
    ArchiveOpenParams params = Params(location, seed.password);
    params.volumeLimit = seed.volumeLimit;
    params.compression = seed.compression;
    SHdCreateOptions options = seed.options;
    options.base = base;
    CHDArchive writer;
    std::vector<Bytes> volumes;
    if (writer.Create(&params, options) == 0) {
        const uint32_t spu = options.unitSize / 512;
        const Bytes data = Pattern(16 * spu, static_cast<uint32_t>(options.archiveId));
        for (uint32_t unit = 0; unit < 16; unit += 4) {
            HdEntryHeader entry{};
            entry.firstSector = unit * spu;
            entry.units = 4;
            entry.sectorsPerUnit = static_cast<uint8_t>(spu);
            const uint8_t* bytes = &data[static_cast<size_t>(unit) * options.unitSize];
            uint32_t length = 4 * options.unitSize;
            uint8_t bitmap[1] = {0x05};
            if (seed.shape == 1 && unit == 4) {
                entry.flags = kEntryBitmap;
                length = 2 * options.unitSize;
                writer.WriteEntry(&entry, bitmap, bytes, length);
                continue;
            }
            if (seed.shape == 2 && unit == 8) {
                entry.entryFlags = kEntryNoData;
                writer.WriteEntry(&entry, nullptr, nullptr, 0);
                continue;
            }
            writer.WriteEntry(&entry, nullptr, bytes, length);
        }
        writer.Finish();
        for (size_t i = 0; i < writer.GetVolumeCount(); ++i)
            volumes.push_back(memoryfiles::Files()[writer.GetVolumePath(i)]);
    }
    FreeArchiveRecord(location);
    return volumes;
}

// The companion of an archive whose volumes are `parts`.
Bytes CompanionOf(const std::vector<Bytes>& parts, const char* password)
{
    memoryfiles::Reset(parts);
    Bytes companion;
    ArchiveRecord* location = NewArchiveLocation("M:\\fuzz\\volume.kzf");
    ArchiveOpenParams params = Params(location, password);
    params.readOnly = 1;
    CHDArchive archive;
    if (archive.Open(&params, nullptr, nullptr, nullptr) == 0 && archive.BuildIndex() == 0) {
        std::unique_ptr<CNAFile> file(memoryfiles::NewFile());
        if (file->Open("M:\\fuzz\\volume.kfm", 2, 0xC0000000u, 0) == 0 && archive.SaveCompanion(file.get()) == 0)
            companion = memoryfiles::Files()["M:\\fuzz\\volume.kfm"];
    }
    FreeArchiveRecord(location);
    return companion;
}

void NewerSeeds(const std::string& folder)
{
    struct SCase {
        const char* name;
        SNewer seed;
        uint8_t flags;
    };
    std::vector<SCase> cases;
    auto add = [&](const char* name, uint8_t flags, const std::function<void(SNewer&)>& shape) {
        SCase c{name, SNewer{}, flags};
        c.seed.options.archiveId = cases.size() + 1;
        c.seed.options.unitSize = 2048;
        c.seed.options.label = name;
        shape(c.seed);
        cases.push_back(c);
    };
    add("zlib", 0, [](SNewer&) {});
    add("runlength", kFlagCallback, [](SNewer& s) { s.compression = kChoiceRunLength; });
    add("lzrw3", 0, [](SNewer& s) { s.compression = kChoiceLzrw3; });
    add("stored", 0, [](SNewer& s) { s.options.flags = 0; });
    add("password-signed", kFlagPassword, [](SNewer& s) {
        s.password = kSeedPassword;
        s.options.signEntries = true;
    });
    add("bitmap", 0, [](SNewer& s) { s.shape = 1; });
    add("major1", 0, [](SNewer& s) { s.options.major = 1; });
    add("flat", kFlagWritable | kFlagCallback, [](SNewer& s) {
        s.options.flags = kHdFlat;
        s.shape = 2;
    });
    add("flat-password", kFlagWritable | kFlagPassword, [](SNewer& s) {
        s.options.flags = kHdFlat;
        s.password = kSeedPassword;
    });
    add("volumes", 0, [](SNewer& s) {
        s.options.unitSize = 512;
        s.volumeLimit = 24;
        s.compression = 0;
    });
    add("small-units", 0, [](SNewer& s) { s.options.unitSize = 512; });
    for (const SCase& c : cases) {
        memoryfiles::Reset();
        std::vector<Bytes> volumes = WriteNewer(c.seed, std::string("M:\\seed\\") + c.name + ".kzf");
        if (volumes.empty())
            continue;
        Save(folder, std::string("newer-") + c.name, kNewer, c.flags, volumes);
        Bytes companion = CompanionOf(volumes, c.seed.password);
        if (companion.empty())
            continue;
        volumes.push_back(companion);
        Save(folder, std::string("companion-") + c.name, kNewerWithCompanion, c.flags, volumes);
    }

    // A differential archive: the child's volume, then its base.
    memoryfiles::Reset();
    SNewer baseSeed;
    baseSeed.options.archiveId = 100;
    baseSeed.options.unitSize = 2048;
    std::vector<Bytes> base = WriteNewer(baseSeed, "M:\\seed\\base.kzf");
    ArchiveRecord* location = NewArchiveLocation("M:\\seed\\base.kzf");
    ArchiveOpenParams params = Params(location, "");
    params.readOnly = 1;
    CHDArchive opened;
    if (!base.empty() && opened.Open(&params, nullptr, nullptr, nullptr) == 0) {
        SNewer childSeed;
        childSeed.options.archiveId = 200;
        childSeed.options.unitSize = 2048;
        childSeed.shape = 1;
        std::vector<Bytes> child = WriteNewer(childSeed, "M:\\seed\\child.kzf", &opened);
        if (child.size() == 1) {
            child.push_back(base[0]);
            Save(folder, "newer-differential", kNewer, 0, child);
        }
    }
    FreeArchiveRecord(location);
    memoryfiles::Reset();
}

// --- older format ---------------------------------------------------------------

void Put16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct SOlderStream {
    bool compressed = false;
    bool passworded = false;
    Bytes stream;

    // Every piece is enciphered from stream position 0, plain sectors one
    // by one, as the reader deciphers them.
    void Encipher(uint8_t* data, size_t length)
    {
        if (!passworded)
            return;
        uint8_t key[14] = {};
        memcpy(key, kSeedPassword, strlen(kSeedPassword));
        ArchiveCipher(data, length, key, 0);
    }

    void Block(const uint8_t* data, size_t length)
    {
        z_stream z = {};
        deflateInit(&z, 6);
        Bytes out(length + length / 100 + 64);
        z.next_in = const_cast<uint8_t*>(data);
        z.avail_in = static_cast<uInt>(length);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_SYNC_FLUSH);
        out.resize(z.total_out);
        deflateEnd(&z);
        Bytes header(9, 0);
        Put32(header, 0, static_cast<uint32_t>(out.size()));
        Put32(header, 4, static_cast<uint32_t>(length));
        Encipher(header.data(), header.size());
        Encipher(out.data(), out.size());
        stream.insert(stream.end(), header.begin(), header.end());
        stream.insert(stream.end(), out.begin(), out.end());
    }

    void Item(Bytes bytes)
    {
        if (compressed) {
            Block(bytes.data(), bytes.size());
            return;
        }
        Encipher(bytes.data(), bytes.size());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }

    // A FAT16 partition of 256 sectors with every third cluster used.
    void Fat16(uint8_t id)
    {
        Bytes descriptor(512, 0);
        Put32(descriptor, 0, 256);
        descriptor[4] = id;
        Item(descriptor);
        Bytes boot(512, 0);
        boot[0] = 0xEB;
        Put16(boot, 11, 512);
        boot[13] = 4;       // sectors per cluster
        Put16(boot, 14, 1); // reserved
        boot[16] = 2;       // copies
        Put16(boot, 17, 16);
        Put16(boot, 19, 256);
        Put16(boot, 22, 1); // sectors per FAT
        boot[38] = 0x29;
        memcpy(&boot[54], "FAT16   ", 8);
        Put16(boot, 510, 0xAA55);
        Item(boot);
        Bytes fat(512, 0);
        Bytes used;
        const uint32_t dataStart = 1 + 2 + 1;
        for (uint32_t c = 2; c < (256 - dataStart) / 4 + 2; ++c)
            if (c % 3 == 0) {
                Put16(fat, c * 2, 0xFFFF);
                used.push_back(static_cast<uint8_t>(c));
            }
        Item(fat);
        // The stored sectors: the boot sector, the root directory, the used clusters.
        Bytes data = boot;
        Bytes root = Pattern(1, 7);
        data.insert(data.end(), root.begin(), root.end());
        for (uint8_t c : used) {
            Bytes cluster = Pattern(4, c);
            data.insert(data.end(), cluster.begin(), cluster.end());
        }
        if (compressed) {
            for (size_t at = 0; at < data.size(); at += 8 * 512)
                Block(&data[at], std::min<size_t>(8 * 512, data.size() - at));
        } else {
            for (size_t at = 0; at < data.size(); at += 512)
                Encipher(&data[at], 512);
            stream.insert(stream.end(), data.begin(), data.end());
        }
    }

    std::vector<Bytes> Volumes(size_t perVolume = ~size_t(0))
    {
        std::vector<Bytes> out;
        size_t count = perVolume == ~size_t(0) ? 1 : (stream.size() + perVolume - 1) / perVolume;
        for (size_t v = 0; v < count; ++v) {
            Bytes volume(512, 0);
            volume[0] = 'K';
            volume[1] = 'Z';
            Put32(volume, 6, static_cast<uint32_t>(v + 1));
            if (v + 1 < count) {
                std::string next = "image." + std::to_string(v + 2);
                memcpy(&volume[10], next.c_str(), next.size());
            }
            if (compressed)
                memcpy(&volume[508], "CMPR", 4);
            size_t from = perVolume == ~size_t(0) ? 0 : v * perVolume;
            size_t to = perVolume == ~size_t(0) ? stream.size() : std::min(stream.size(), from + perVolume);
            Bytes piece(stream.begin() + from, stream.begin() + to);
            if (passworded) {
                uint8_t key[14] = {};
                memcpy(key, kSeedPassword, strlen(kSeedPassword));
                volume[407] = 1;
                MakePasswordCheckBlock(&volume[408], key, 5);
            }
            volume.insert(volume.end(), piece.begin(), piece.end());
            out.push_back(volume);
        }
        return out;
    }
};

Bytes Marker(const char* text, uint8_t first)
{
    Bytes d(512, 0);
    memcpy(d.data(), text, 4);
    if (first)
        d[0] = first;
    return d;
}

void OlderSeeds(const std::string& folder)
{
    for (bool compressed : {false, true}) {
        const std::string kind = compressed ? "compressed" : "plain";
        SOlderStream single;
        single.compressed = compressed;
        single.Item(Marker("xENT", 0x41));
        single.Fat16(6);
        Save(folder, "older-single-" + kind, kOlder, 0, single.Volumes());
        Save(folder, "older-chain-" + kind, kOlder, kFlagCallback, single.Volumes(single.stream.size() / 2 + 1));

        SOlderStream disk;
        disk.compressed = compressed;
        disk.Item(Marker("HDSK", 0));
        Bytes mbr(512, 0);
        mbr[450] = 6;
        mbr[450 + 16] = 0x0F;
        Put16(mbr, 510, 0xAA55);
        disk.Item(mbr);
        disk.Item(Bytes(0x4400, 0x11));
        disk.Fat16(6);
        Bytes list(512, 0);
        Put32(list, 0, 63);
        Put32(list, 4, 0xFFFFFFFFu);
        disk.Item(list);
        disk.Fat16(0x16);
        Save(folder, "older-disk-" + kind, kOlder, 0, disk.Volumes());
    }
    SOlderStream list;
    list.passworded = true;
    list.compressed = true;
    list.Item(Marker("xENT", 5));
    Bytes entries(512, 0);
    Put32(entries, 0, 1);
    Put32(entries, 4, 0xFFFFFFFFu);
    list.Item(entries);
    list.Fat16(4);
    Save(folder, "older-list-password", kOlder, kFlagPassword, list.Volumes());
}

// --- catalogs -------------------------------------------------------------------

bool Exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

Bytes ReadFile(const std::string& path)
{
    Bytes bytes;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        uint8_t buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        fclose(f);
    }
    return bytes;
}

void Clear(const std::string& folder)
{
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (strcmp(entry->d_name, ".") && strcmp(entry->d_name, ".."))
                unlink((folder + entry->d_name).c_str());
        closedir(dir);
    }
}

const char kLayout2010[] =
    "create table Settings(ID integer, ServerName text, ExchangeVersion text, Edition text);"
    "create table BackupInfo(ID integer, BackupStart text, BackupType integer, Label text);"
    "insert into Settings values(1, 'MAIL01', 'Version 14.1 (Build 218.15)', 'Enterprise');"
    "insert into BackupInfo values(1, '2009-03-04 05:06:07', 1, 'Monday full');"
    "insert into BackupInfo values(2, '2009-03-05 23:00:01', 2, 'Tuesday');"
    "create table Databases(ID integer, Caption text, Name text, IsComplete integer, BackupID integer,"
    " IsPublicFolderDatabase integer, DatabaseFileName text, DatabaseFilePath text);"
    "insert into Databases values(10, 'Mailbox Database', 'MDB1', 1, 1, 0, 'mdb1.edb', 'D:\\db');"
    "insert into Databases values(11, 'Mailbox Database', 'MDB1', 1, 2, 0, 'mdb1.edb', 'D:\\db');"
    "insert into Databases values(12, 'Public', 'PF1', 1, 1, 1, 'pf.edb', 'D:\\pf');";

const char kLayout2007[] =
    "create table Settings(ID integer, ServerName text, ExchangeVersion text, Edition text);"
    "create table BackupInfo(ID integer, BackupStart text, BackupType integer, Label text);"
    "insert into Settings values(1, 'MAIL01', 'Version 8.3 (Build 83.6)', 'Enterprise');"
    "insert into BackupInfo values(1, '2009-03-04 05:06:07', 1, 'Monday full');"
    "create table Databases(ID integer, Caption text, Name text, IsComplete integer,"
    " StorageGroupID integer, IsPublic integer);"
    "create table StorageGroups(ID integer, BackupID integer, Name text, Caption text, IsComplete integer);"
    "create table DatabaseFiles(DatabaseID integer, FileName text, FilePath text);"
    "create table Logs(StorageGroupID integer);"
    "insert into StorageGroups values(1, 1, 'SG1', 'First Storage Group', 1);"
    "insert into Databases values(20, 'Mailbox Store', 'MS1', 1, 1, 0);"
    "insert into DatabaseFiles values(20, 'priv1.edb', 'E:\\SG1');"
    "insert into Logs values(1);";

void CatalogSeeds(const std::string& folder, const std::string& scratch)
{
    const std::string path = scratch + "catalog.db";
    for (int layout = 0; layout < 2; ++layout) {
        const std::string name = layout ? "2007" : "2010";
        const char* sql = layout ? kLayout2007 : kLayout2010;
        Clear(scratch);
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) == SQLITE_OK && Exec(db, sql)) {
            sqlite3_close(db);
            db = nullptr;
            Save(folder, "catalog-" + name, kCatalog, 0, {ReadFile(path)});
            // A change half written when its writer stopped: a hot journal.
            if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                Exec(db, "BEGIN; update Databases set Caption = 'Changed';") && sqlite3_db_cacheflush(db) == SQLITE_OK)
                Save(folder, "catalog-hot-" + name, kCatalog, 0, {ReadFile(path), ReadFile(path + "-journal")});
            Exec(db, "ROLLBACK;");
            sqlite3_close(db);
            db = nullptr;
            // Committed rows that only the write-ahead log holds.
            if (sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                Exec(db, "PRAGMA journal_mode=WAL; insert into BackupInfo values(9, '2010-01-01 00:00:00', 1, 'x');"))
                Save(folder, "catalog-wal-" + name, kCatalog, 1, {ReadFile(path), ReadFile(path + "-wal")});
        }
        sqlite3_close(db);
    }
    Clear(scratch);
}

}  // namespace

void WriteSeeds(const std::string& folder, const std::string& scratchRoot)
{
    mkdir(folder.c_str(), 0755);
    if (DIR* dir = opendir(folder.c_str())) {
        bool empty = true;
        while (dirent* entry = readdir(dir))
            empty = empty && (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, ".."));
        closedir(dir);
        if (!empty)
            return;
    }
    NewerSeeds(folder);
    OlderSeeds(folder);
    const std::string scratch = scratchRoot + "seeds/";
    mkdir(scratch.c_str(), 0755);
    CatalogSeeds(folder, scratch);
    rmdir(scratch.c_str());
}
