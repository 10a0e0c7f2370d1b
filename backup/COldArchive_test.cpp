#include "Platform.h"

#include "COldArchive.h"

#include "ArchiveCipher.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "ArchiveTestSupport.h"
#include "CBaseArchive.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using archivetest::CTempFolder;
using archivetest::WriteWholeFile;

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<uint8_t> SectorContent(uint32_t partition, uint32_t sector)
{
    std::vector<uint8_t> s(512);
    for (size_t i = 0; i < 512; ++i)
        s[i] = static_cast<uint8_t>(partition * 71 + sector * 13 + (i % 7) * (sector % 5));
    return s;
}

// One partition of a test image: what goes into the stream and what a read
// of the whole partition must give (absent sectors keep the fill byte).
struct Partition {
    std::vector<uint8_t> descriptor = std::vector<uint8_t>(512, 0);
    std::vector<uint8_t> boot;        // 512, or 1536 for ext2
    std::vector<uint8_t> allocation;  // FAT copy or bitmap, empty without one
    std::vector<uint8_t> data;        // the stored sectors in ascending order
    std::vector<uint8_t> expected;
};

const uint8_t kFill = 0xCC;

// present(s): stored in the data; fat(s): served from the FAT copy (offset).
Partition Finish(uint32_t number, uint32_t sectors, uint8_t id, std::vector<uint8_t> boot,
                 std::vector<uint8_t> allocation, const std::function<bool(uint32_t)>& present,
                 const std::function<long(uint32_t)>& fatOffset)
{
    Partition p;
    Put32(p.descriptor, 0, sectors);
    p.descriptor[4] = id;
    p.boot = boot;
    p.allocation = allocation;
    p.expected.assign(static_cast<size_t>(sectors) * 512, kFill);
    for (uint32_t s = 0; s < sectors; ++s) {
        long fat = fatOffset(s);
        if (fat >= 0) {
            memcpy(&p.expected[s * 512], &allocation[fat], 512);
            continue;
        }
        if (!present(s))
            continue;
        std::vector<uint8_t> content = SectorContent(number, s);
        if (s == 0)
            content.assign(boot.begin(), boot.begin() + 512);
        p.data.insert(p.data.end(), content.begin(), content.end());
        memcpy(&p.expected[s * 512], content.data(), 512);
    }
    return p;
}

std::vector<uint8_t> FatBoot(uint8_t spc, uint16_t reserved, uint8_t copies, uint16_t rootEntries, uint32_t sectors,
                             uint32_t spf, bool fat32, bool signature = true)
{
    std::vector<uint8_t> b(512, 0);
    b[0] = 0xEB;
    Put16(b, 11, 512);
    b[13] = spc;
    Put16(b, 14, reserved);
    b[16] = copies;
    Put16(b, 17, rootEntries);
    Put16(b, 19, sectors < 65536 ? static_cast<uint16_t>(sectors) : 0);
    Put32(b, 32, sectors);
    if (fat32) {
        Put32(b, 36, spf);
        b[66] = 0x29;
        memcpy(&b[82], "FAT32   ", 8);
    } else {
        Put16(b, 22, static_cast<uint16_t>(spf));
        b[38] = 0x29;
        memcpy(&b[54], "FAT16   ", 8);
    }
    if (signature)
        Put16(b, 510, 0xAA55);
    return b;
}

// A FAT12/16/32 partition whose clusters are used when used(c).
Partition FatPartition(uint32_t number, uint8_t id, int bits, uint32_t sectors, uint8_t spc, uint16_t reserved,
                       uint16_t rootEntries, uint32_t spf, const std::function<bool(uint32_t)>& used,
                       std::vector<uint8_t> boot = {})
{
    const uint8_t copies = 2;
    if (boot.empty())
        boot = FatBoot(spc, reserved, copies, rootEntries, sectors, spf, bits == 32);
    std::vector<uint8_t> fat(spf * 512, 0);
    const uint32_t rootSectors = bits == 32 ? 0 : (rootEntries * 32 + 511) / 512;
    const uint32_t dataStart = reserved + copies * spf + rootSectors;
    const uint32_t clusters = (sectors - dataStart) / spc;
    for (uint32_t c = 2; c < clusters + 2; ++c) {
        uint32_t value = used(c) ? 0x0FFF : 0;
        if (bits == 32 && !used(c) && c % 7 == 0)
            value = 0xF0000000;  // only the top four bits: still free
        if (bits == 12) {
            size_t at = c * 3 / 2;
            if (at + 1 >= fat.size())
                break;
            if (c & 1) {
                fat[at] |= static_cast<uint8_t>((value & 0x0F) << 4);
                fat[at + 1] = static_cast<uint8_t>(value >> 4);
            } else {
                fat[at] = static_cast<uint8_t>(value);
                fat[at + 1] |= static_cast<uint8_t>((value >> 8) & 0x0F);
            }
        } else if (bits == 16) {
            if (c * 2 + 1 >= fat.size())
                break;
            Put16(fat, c * 2, static_cast<uint16_t>(value));
        } else {
            if (c * 4 + 3 >= fat.size())
                break;
            Put32(fat, c * 4, value);
        }
    }
    auto present = [=](uint32_t s) {
        if (s < reserved)
            return true;
        if (s < reserved + copies * spf)
            return false;
        if (s < dataStart)
            return true;
        uint32_t c = (s - dataStart) / spc + 2;
        return c < clusters + 2 && used(c);
    };
    auto fatOffset = [=](uint32_t s) -> long {
        if (s >= reserved && s < reserved + copies * spf)
            return static_cast<long>(((s - reserved) % spf) * 512);
        return -1;
    };
    return Finish(number, sectors, id, boot, fat, present, fatOffset);
}

// A partition with every sector present (no boot signature).
Partition WholePartition(uint32_t number, uint8_t id, uint32_t sectors)
{
    std::vector<uint8_t> boot(512, 0);
    boot[0] = 0xEB;
    Put16(boot, 17, 224);
    return Finish(number, sectors, id, boot, {}, [](uint32_t) { return true; }, [](uint32_t) { return -1L; });
}

// NTFS (id 7) with a cluster bitmap.
Partition NtfsPartition(uint32_t number, uint32_t sectors, uint8_t spc, uint8_t id = 7)
{
    std::vector<uint8_t> boot(512, 0);
    memcpy(&boot[3], "NTFS    ", 8);
    boot[13] = spc;
    boot[38] = 0x80;
    Put32(boot, 40, sectors);
    Put16(boot, 510, 0xAA55);
    uint32_t clusters = sectors / spc;
    std::vector<uint8_t> bitmap(((clusters + 7) / 8 + 511) / 512 * 512, 0);
    auto used = [](uint32_t c) { return c == 0 || c % 4 == 1; };
    for (uint32_t c = 0; c < clusters; ++c)
        if (used(c))
            bitmap[c / 8] |= static_cast<uint8_t>(1u << (c % 8));
    return Finish(number, sectors, id, boot, bitmap,
                  [=](uint32_t s) { return s / spc < clusters && used(s / spc); }, [](uint32_t) { return -1L; });
}

Partition Ext2Partition(uint32_t number, uint32_t sectors)
{
    std::vector<uint8_t> boot(1536, 0);
    Put32(boot, 1024 + 4, sectors / 2);  // blocks of 1024 bytes
    Put32(boot, 1024 + 24, 0);
    uint32_t blocks = sectors / 2;
    std::vector<uint8_t> bitmap(((blocks + 7) / 8 + 511) / 512 * 512, 0);
    auto used = [](uint32_t b) { return b < 3 || b % 5 == 0; };
    for (uint32_t b = 0; b < blocks; ++b)
        if (used(b))
            bitmap[b / 8] |= static_cast<uint8_t>(1u << (b % 8));
    return Finish(number, sectors, 0x83, boot, bitmap, [=](uint32_t s) { return used(s / 2); },
                  [](uint32_t) { return -1L; });
}

// Builds the logical stream item by item and cuts it into volumes.
struct OldArchiveBuilder {
    bool compressed = false;
    bool finishBlocks = false;  // end every zlib stream (which the reader must refuse)
    std::string password;
    std::vector<uint8_t> stream;

    uint8_t key[14] = {};

    void Block(const uint8_t* data, size_t length)
    {
        z_stream z = {};
        deflateInit(&z, 6);
        std::vector<uint8_t> out(length + length / 100 + 64);
        z.next_in = const_cast<uint8_t*>(data);
        z.avail_in = static_cast<uInt>(length);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, finishBlocks ? Z_FINISH : Z_SYNC_FLUSH);
        out.resize(z.total_out);
        deflateEnd(&z);
        std::vector<uint8_t> header(9, 0);
        Put32(header, 0, static_cast<uint32_t>(out.size()));
        Put32(header, 4, static_cast<uint32_t>(length));
        if (!password.empty()) {
            ArchiveCipher(header.data(), 9, key, 0);
            ArchiveCipher(out.data(), out.size(), key, 0);
        }
        stream.insert(stream.end(), header.begin(), header.end());
        stream.insert(stream.end(), out.begin(), out.end());
    }

    void Item(std::vector<uint8_t> bytes)
    {
        if (compressed) {
            Block(bytes.data(), bytes.size());
            return;
        }
        if (!password.empty())
            ArchiveCipher(bytes.data(), bytes.size(), key, 0);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }

    void Data(const std::vector<uint8_t>& data, size_t blockLength = 0x1FC000)
    {
        if (compressed) {
            for (size_t at = 0; at < data.size(); at += blockLength)
                Block(&data[at], std::min(blockLength, data.size() - at));
            return;
        }
        for (size_t at = 0; at < data.size(); at += 512) {
            std::vector<uint8_t> sector(data.begin() + at, data.begin() + at + 512);
            if (!password.empty())
                ArchiveCipher(sector.data(), 512, key, 0);
            stream.insert(stream.end(), sector.begin(), sector.end());
        }
    }

    void Add(const Partition& p, size_t blockLength = 0x1FC000)
    {
        Item(p.descriptor);
        Item(p.boot);
        if (!p.allocation.empty())
            Item(p.allocation);
        Data(p.data, blockLength);
    }

    void Marker(const char* text, uint8_t first)
    {
        std::vector<uint8_t> d(512, 0);
        memcpy(d.data(), text, 4);
        d[0] = first ? first : d[0];
        Item(d);
    }

    void SetPassword(const std::string& text)
    {
        password = text;
        memset(key, 0, sizeof key);
        memcpy(key, text.c_str(), std::min<size_t>(text.size(), 14));
    }

    // Writes volumes of at most `perVolume` stream bytes; returns their paths.
    std::vector<std::string> Write(const CTempFolder& folder, const std::string& stem, size_t perVolume = ~size_t(0))
    {
        std::vector<std::string> paths;
        size_t count = stream.empty() ? 1 : (stream.size() + perVolume - 1) / std::min(perVolume, stream.size());
        if (perVolume == ~size_t(0))
            count = 1;
        for (size_t v = 0; v < count; ++v)
            paths.push_back(folder / (stem + "." + std::to_string(v + 1)));
        for (size_t v = 0; v < count; ++v) {
            std::vector<uint8_t> header(512, 0);
            header[0] = 'K';
            header[1] = 'Z';
            Put32(header, 6, static_cast<uint32_t>(v + 1));
            if (v + 1 < count) {
                std::string next = stem + "." + std::to_string(v + 2);
                memcpy(&header[10], next.c_str(), next.size());
            }
            if (!password.empty()) {
                header[407] = 1;
                MakePasswordCheckBlock(&header[408], key, 5);
            }
            if (compressed)
                memcpy(&header[508], "CMPR", 4);
            size_t from = perVolume == ~size_t(0) ? 0 : v * perVolume;
            size_t to = perVolume == ~size_t(0) ? stream.size() : std::min(stream.size(), from + perVolume);
            header.insert(header.end(), stream.begin() + from, stream.begin() + to);
            WriteWholeFile(paths[v], header);
        }
        return paths;
    }
};

struct RecordDeleter {
    void operator()(ArchiveRecord* r) const { FreeArchiveRecord(r); }
};

int OpenOld(const std::string& path, COldArchive& archive, const std::string& password = std::string(),
            ArchiveEventCallback callback = ArchiveFileFactory)
{
    std::unique_ptr<ArchiveRecord, RecordDeleter> location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params{};
    params.location = location.get();
    params.eventCallback = callback;
    params.readOnly = 1;
    memcpy(params.key, password.c_str(), std::min<size_t>(password.size(), 14));
    return archive.Open(&params, nullptr, nullptr, nullptr);
}

std::vector<uint8_t> ReadPartition(COldArchive& archive, int index, uint32_t sectors, int* rc)
{
    std::vector<uint8_t> got(static_cast<size_t>(sectors) * 512, kFill);
    *rc = archive.Read(index, 0, sectors, got.data(), nullptr);
    return got;
}

TEST(OldArchive, SinglePartitionsOfEachFileSystem)
{
    CTempFolder folder;
    struct Case {
        const char* what;
        Partition partition;
        uint8_t mappedId;
        bool allocationRead;
    } cases[] = {
        {"FAT16", FatPartition(0, 6, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 3 == 0; }), 6, true},
        {"FAT32 through hidden id 0x1B", FatPartition(0, 0x1B, 32, 4096, 1, 32, 0, 32,
                                                      [](uint32_t c) { return c % 5 < 2; }), 11, true},
        {"FAT12", FatPartition(0, 1, 12, 720, 2, 1, 112, 3, [](uint32_t c) { return c % 4 == 1; }), 1, true},
        {"id 4 with root entries stays FAT16 whatever its label says",
         FatPartition(0, 4, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 2 == 0; },
                      [] {
                          std::vector<uint8_t> b = FatBoot(4, 1, 2, 512, 2048, 8, false);
                          memcpy(&b[82], "FAT32   ", 8);
                          b[66] = 0x29;
                          return b;
                      }()),
         4, true},
        {"id 4 without root entries and a FAT32 label",
         FatPartition(0, 4, 32, 4096, 1, 32, 0, 32, [](uint32_t c) { return c % 3 == 0; }), 11, true},
        {"id 4 without root entries, NTFS mark", NtfsPartition(0, 1024, 8, 4), 7, true},
        {"NTFS", NtfsPartition(0, 2000, 4), 7, true},
        {"no boot signature: every sector", WholePartition(0, 6, 300), 6, false},
        {"ext2", Ext2Partition(0, 800), 0x83, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        for (bool compressed : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (compressed ? " compressed" : ""));
            OldArchiveBuilder builder;
            builder.compressed = compressed;
            builder.Marker("xENT", 0x41);
            builder.Add(c.partition, 8 * 512);
            std::vector<std::string> paths = builder.Write(folder, "single" + std::to_string(n++));
            COldArchive archive;
            ASSERT_EQ(0, OpenOld(paths[0], archive));
            EXPECT_EQ(COldArchive::kSinglePartition, archive.GetKind());
            ASSERT_EQ(1u, archive.GetPartitionCount());
            EXPECT_EQ(c.mappedId, archive.GetPartitionInfo(0).systemId);
            EXPECT_EQ(c.allocationRead, archive.GetPartitionInfo(0).allocationRead);
            const uint32_t sectors = static_cast<uint32_t>(c.partition.expected.size() / 512);
            int rc = 0;
            std::vector<uint8_t> got = ReadPartition(archive, 0, sectors, &rc);
            ASSERT_EQ(0, rc);
            EXPECT_TRUE(got == c.partition.expected);
            // A read that starts and ends inside runs.
            std::vector<uint8_t> part(37 * 512, kFill);
            ASSERT_EQ(0, archive.Read(0, 45, 37, part.data(), nullptr));
            EXPECT_EQ(0, memcmp(part.data(), &c.partition.expected[45 * 512], part.size()));
            EXPECT_EQ(ARCERR_READ, archive.Read(1, 0, 1, part.data(), nullptr)) << "no second partition";
        }
    }
}

TEST(OldArchive, WholeDiskWithExtendedPartitions)
{
    CTempFolder folder;
    Partition ntfs = NtfsPartition(0, 512, 2);
    Partition fat12 = FatPartition(1, 1, 12, 720, 2, 1, 112, 3, [](uint32_t c) { return c % 2 == 0; });
    Partition hidden = WholePartition(2, 0x11, 100);
    OldArchiveBuilder builder;
    builder.Marker("HDSK", 0);
    std::vector<uint8_t> mbr(512, 0);
    mbr[450] = 7;
    mbr[450 + 16] = 0x0F;
    Put16(mbr, 510, 0xAA55);
    builder.Item(mbr);
    builder.Item(std::vector<uint8_t>(0x4400, 0x11));
    builder.Add(ntfs);
    std::vector<uint8_t> list(512, 0);
    Put32(list, 0, 63);
    Put32(list, 4, 2000);
    Put32(list, 8, 0xFFFFFFFFu);
    builder.Item(list);
    builder.Add(fat12);
    builder.Add(hidden);
    std::vector<std::string> paths = builder.Write(folder, "disk");

    ArchiveOpenParams params{};
    std::unique_ptr<ArchiveRecord, RecordDeleter> location(NewArchiveLocation(paths[0].c_str()));
    params.location = location.get();
    params.eventCallback = ArchiveFileFactory;
    params.readOnly = 1;
    CBaseArchive* opened = nullptr;
    HdArchiveHeader* header = nullptr;
    ASSERT_EQ(0, OpenArchive(&params, &header, &opened, nullptr)) << "offered to the older reader";
    std::unique_ptr<CBaseArchive> archive(opened);
    ASSERT_NE(nullptr, header);
    EXPECT_EQ(1752u, header->length);
    EXPECT_EQ(4096u, header->unitSize);
    EXPECT_EQ(3, header->kind);
    EXPECT_EQ(kHdNotABase, header->flags);
    FreeArchiveHeader(header);

    auto* old = dynamic_cast<COldArchive*>(archive.get());
    ASSERT_NE(nullptr, old);
    EXPECT_EQ(COldArchive::kWholeDisk, old->GetKind());
    ASSERT_EQ(3u, old->GetPartitionCount());
    EXPECT_EQ(1, old->GetPartitionInfo(2).systemId) << "hidden FAT12 read as FAT12";
    const Partition* parts[] = {&ntfs, &fat12, &hidden};
    for (int i = 0; i < 3; ++i) {
        int rc = 0;
        std::vector<uint8_t> got = ReadPartition(*old, i, static_cast<uint32_t>(parts[i]->expected.size() / 512), &rc);
        ASSERT_EQ(0, rc);
        EXPECT_TRUE(got == parts[i]->expected) << i;
    }
    EXPECT_EQ(ARCERR_BAD_ARGUMENT, old->ReadEntry(nullptr, nullptr, nullptr));
    EXPECT_EQ(ARCERR_NOT_POSSIBLE, old->SaveCompanion(nullptr));
    EXPECT_EQ(ARCERR_BAD_ARGUMENT, old->AttachBase(nullptr));
}

TEST(OldArchive, PartitionListAndVolumeChainWithPassword)
{
    CTempFolder folder;
    Partition a = FatPartition(0, 6, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 3 != 0; });
    Partition b = Ext2Partition(1, 400);
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed);
        OldArchiveBuilder builder;
        builder.compressed = compressed;
        builder.SetPassword("geheim");
        builder.Marker("xENT", 5);
        std::vector<uint8_t> list(512, 0);
        Put32(list, 0, 1);
        Put32(list, 4, 2);
        Put32(list, 8, 0xFFFFFFFFu);
        builder.Item(list);
        builder.Add(a, 16 * 512);
        builder.Add(b, 16 * 512);
        std::vector<std::string> paths =
            builder.Write(folder, compressed ? "listc" : "list", builder.stream.size() / 3 + 1);
        ASSERT_EQ(3u, paths.size());

        COldArchive wrong;
        EXPECT_EQ(ARCERR_PASSWORD, OpenOld(paths[0], wrong, "geheimer"));
        COldArchive archive;
        ASSERT_EQ(0, OpenOld(paths[0], archive, "geheim"));
        std::vector<uint8_t> one(512);
        EXPECT_EQ(ARCERR_READ, archive.Read(0, 0, 1, one.data(), nullptr)) << "not mapped before the chain is walked";
        ASSERT_EQ(0, archive.BuildIndex());
        EXPECT_EQ(3u, archive.GetVolumeCount());
        EXPECT_EQ(COldArchive::kPartitionList, archive.GetKind());
        ASSERT_EQ(2u, archive.GetPartitionCount());
        int rc = 0;
        EXPECT_TRUE(ReadPartition(archive, 0, 2048, &rc) == a.expected);
        EXPECT_EQ(0, rc);
        EXPECT_TRUE(ReadPartition(archive, 1, 400, &rc) == b.expected);
        EXPECT_EQ(0, rc);
        HdArchiveHeader* header = nullptr;
        ASSERT_EQ(0, archive.GetHeaderCopy(&header));
        EXPECT_EQ(kHdNotABase | kHdPassword | (compressed ? kHdPacked : 0), header->flags);
        FreeArchiveHeader(header);
    }
}

TEST(OldArchive, BadStreamsGiveAStatus)
{
    CTempFolder folder;
    Partition fat = FatPartition(0, 6, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 3 == 0; });
    auto build = [&](const std::function<void(OldArchiveBuilder&)>& fill, bool compressed = false,
                     bool finish = false) {
        OldArchiveBuilder builder;
        builder.compressed = compressed;
        builder.finishBlocks = finish;
        fill(builder);
        static int n = 0;
        return builder.Write(folder, "bad" + std::to_string(n++))[0];
    };
    struct Case {
        const char* what;
        std::string path;
        int status;
    } cases[] = {
        {"unknown first descriptor", build([](OldArchiveBuilder& b) { b.Marker("ABCD", 0); }), ARCERR_FORMAT},
        {"partition id not accepted",
         build([&](OldArchiveBuilder& b) {
             b.Marker("xENT", 0x41);
             Partition p = fat;
             p.descriptor[4] = 0x42;
             b.Add(p);
         }),
         ARCERR_FORMAT},
        {"id 4 boot sector of no known kind",
         build([&](OldArchiveBuilder& b) {
             b.Marker("xENT", 0x41);
             Partition p = FatPartition(0, 4, 16, 2048, 4, 1, 0, 8, [](uint32_t) { return false; },
                                        FatBoot(4, 1, 2, 0, 2048, 8, false));
             p.boot[38] = 0;
             b.Add(p);
         }),
         ARCERR_FORMAT},
        {"first track cut short",
         build([](OldArchiveBuilder& b) {
             b.Marker("HDSK", 0);
             b.Item(std::vector<uint8_t>(512, 0));
             b.Item(std::vector<uint8_t>(100, 0));
         }),
         ARCERR_FORMAT},
        {"zlib stream that ends", build([&](OldArchiveBuilder& b) {
             b.Marker("xENT", 0x41);
             b.Add(fat);
         }, true, true),
         ARCERR_IO},
        {"no volume magic", std::string(), ARCERR_FORMAT},
    };
    std::vector<uint8_t> notMagic(600, 0);
    cases[5].path = folder / "zeros.bin";
    WriteWholeFile(cases[5].path, notMagic);
    for (const Case& c : cases) {
        COldArchive archive;
        EXPECT_EQ(c.status, OpenOld(c.path, archive)) << c.what;
    }
    // A block claiming more than the data cache holds.
    std::string big = build([&](OldArchiveBuilder& b) {
        b.Marker("xENT", 0x41);
        b.Add(fat);
    }, true);
    std::vector<uint8_t> bytes = archivetest::ReadWholeFile(big);
    Put32(bytes, 512 + 4, 0x1FC001);
    WriteWholeFile(big, bytes);
    COldArchive archive;
    EXPECT_EQ(ARCERR_IO, OpenOld(big, archive));

    // Damage in the data: reads give a status or data, never a crash.
    std::string plain = build([&](OldArchiveBuilder& b) {
        b.Marker("xENT", 0x41);
        b.Add(fat, 4 * 512);
    }, true);
    std::vector<uint8_t> good = archivetest::ReadWholeFile(plain);
    for (size_t at = 3000; at < good.size(); at += 997) {
        std::vector<uint8_t> bad = good;
        bad[at] ^= 0xA5;
        WriteWholeFile(plain, bad);
        COldArchive damaged;
        if (OpenOld(plain, damaged) == 0) {
            std::vector<uint8_t> got(2048 * 512);
            damaged.Read(0, 0, 2048, got.data(), nullptr);
        }
    }
}

// Lengths read from an archive are checked against what the stream can hold
// before anything is allocated for them: a hostile length gives a status,
// never an exception out of the reader or an allocation the file cannot back.
TEST(OldArchive, HostileLengthsGiveAStatus)
{
    CTempFolder folder;
    // A compressed volume whose first block header claims `stored` bytes, with
    // 64 bytes behind it (585 bytes in all).
    auto firstBlock = [](uint32_t stored, uint32_t unpacked, const char* next) {
        std::vector<uint8_t> b(512 + 9 + 64, 0);
        b[0] = 'K';
        b[1] = 'Z';
        memcpy(&b[508], "CMPR", 4);
        if (next)
            memcpy(&b[10], next, strlen(next));
        Put32(b, 512, stored);
        Put32(b, 516, unpacked);
        return b;
    };
    Partition fat = FatPartition(0, 6, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 3 == 0; });
    auto compressedImage = [&] {
        OldArchiveBuilder builder;
        builder.compressed = true;
        builder.Marker("xENT", 0x41);
        builder.Add(fat, 64 * 512);
        return archivetest::ReadWholeFile(builder.Write(folder, "image")[0]);
    };
    // The offsets of the block headers of a compressed volume.
    auto blockHeaders = [](const std::vector<uint8_t>& bytes) {
        std::vector<size_t> at;
        for (size_t p = 512; p + 9 <= bytes.size();) {
            at.push_back(p);
            uint32_t stored;
            memcpy(&stored, &bytes[p], 4);
            p += 9 + stored;
        }
        return at;
    };
    auto lastBlockClaims = [&](uint32_t stored) {
        std::vector<uint8_t> bytes = compressedImage();
        Put32(bytes, blockHeaders(bytes).back(), stored);
        return bytes;
    };
    // A plain single partition whose boot sector claims a FAT of 65535
    // sectors (32 MiB) that the file does not hold.
    auto bigFat = [&] {
        OldArchiveBuilder builder;
        builder.Marker("xENT", 0x41);
        std::vector<uint8_t> descriptor(512, 0);
        Put32(descriptor, 0, 200000);
        descriptor[4] = 6;
        builder.Item(descriptor);
        builder.Item(FatBoot(4, 1, 2, 512, 200000, 65535, false));
        builder.Item(std::vector<uint8_t>(4096, 0xF8));
        return archivetest::ReadWholeFile(builder.Write(folder, "bigfat")[0]);
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int status;
    } cases[] = {
        {"first block claims 0x80000000 bytes", firstBlock(0x80000000u, 512, nullptr), ARCERR_FORMAT},
        {"first block claims 0xFFFFFFFF bytes", firstBlock(0xFFFFFFFFu, 512, nullptr), ARCERR_FORMAT},
        {"first block claims 0x80000000 bytes, more volumes named", firstBlock(0x80000000u, 512, "next.2"),
         ARCERR_FORMAT},
        {"first block claims more than 512 bytes can pack into", firstBlock(60000, 512, nullptr), ARCERR_FORMAT},
        {"first block one byte past the end", firstBlock(65, 512, nullptr), ARCERR_FORMAT},
        {"last data block claims 0x80000000 bytes", lastBlockClaims(0x80000000u), ARCERR_FORMAT},
        {"last data block claims 0xFFFFFFF7 bytes", lastBlockClaims(0xFFFFFFF7u), ARCERR_FORMAT},
        {"last data block one byte past the end", lastBlockClaims(0), ARCERR_READ},
        {"FAT larger than the stream", bigFat(), ARCERR_READ},
    };
    {
        // The last block made one byte longer than the file.
        std::vector<uint8_t> bytes = compressedImage();
        size_t last = blockHeaders(bytes).back();
        Put32(cases[7].bytes, last, static_cast<uint32_t>(bytes.size() - last - 9 + 1));
    }
    int n = 0;
    for (const Case& c : cases) {
        std::string path = folder / ("hostile" + std::to_string(n++) + ".1");
        WriteWholeFile(path, c.bytes);
        std::unique_ptr<ArchiveRecord, RecordDeleter> location(NewArchiveLocation(path.c_str()));
        ArchiveOpenParams params{};
        params.location = location.get();
        params.eventCallback = ArchiveFileFactory;
        params.readOnly = 1;
        CBaseArchive* opened = nullptr;
        int rc = OpenArchive(&params, nullptr, &opened, nullptr);
        std::unique_ptr<CBaseArchive> archive(opened);
        if (rc == 0) {
            std::vector<uint8_t> got(2048 * 512);
            rc = archive->Read(0, 0, 2048, got.data(), nullptr);
        }
        EXPECT_EQ(c.status, rc) << c.what;
    }
}

TEST(OldArchive, MissingOrLoopingVolumes)
{
    CTempFolder folder;
    Partition fat = FatPartition(0, 6, 16, 2048, 4, 1, 512, 8, [](uint32_t c) { return c % 3 == 0; });
    OldArchiveBuilder builder;
    builder.Marker("xENT", 0x41);
    builder.Add(fat);
    std::vector<std::string> paths = builder.Write(folder, "chain", builder.stream.size() / 2 + 1);
    ASSERT_EQ(2u, paths.size());
    {
        std::string moved = folder / "elsewhere.2";
        ASSERT_TRUE(MoveFileA(paths[1].c_str(), moved.c_str()));
        COldArchive archive;
        ASSERT_EQ(0, OpenOld(paths[0], archive));
        EXPECT_EQ(ARCERR_ABORTED, archive.BuildIndex()) << "the factory corrects nothing: give up";
        ASSERT_TRUE(MoveFileA(moved.c_str(), paths[1].c_str()));
    }
    {
        // The second volume names the first as its successor.
        std::vector<uint8_t> second = archivetest::ReadWholeFile(paths[1]);
        memcpy(&second[10], "chain.1", 8);
        WriteWholeFile(paths[1], second);
        COldArchive archive;
        ASSERT_EQ(0, OpenOld(paths[0], archive));
        EXPECT_EQ(ARCERR_FORMAT, archive.BuildIndex());
    }
}

}  // namespace
