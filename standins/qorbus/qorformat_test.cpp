#include "Platform.h"

#include "QorImageTestSupport.h"
#include "qorformat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

using qorbusimages::ArchiveSettings;
using qorbusimages::FixtureFiles;
using qorbusimages::FixturePartition;
using qorbusimages::MakeArchive;
using qorbusimages::MakeVhd;

// The reader's memory, counted: every case must give back all it took.
static long g_blocks = 0;

extern "C" void* QfAlloc(size_t size)
{
    void* block = calloc(1, size ? size : 1);
    if (block)
        ++g_blocks;
    return block;
}

extern "C" void QfFree(void* block)
{
    if (block) {
        --g_blocks;
        free(block);
    }
}

namespace {

// An image in memory. A read outside it means a length was not checked.
struct MemoryFile {
    explicit MemoryFile(const std::vector<uint8_t>& data) : bytes(data)
    {
        file.context = this;
        file.size = bytes.size();
        file.read = [](void* context, uint64_t offset, void* buffer, uint32_t length) -> uint32_t {
            auto* self = static_cast<MemoryFile*>(context);
            if (offset > self->bytes.size() || self->bytes.size() - offset < length) {
                self->outside = true;
                return 38;  // ERROR_HANDLE_EOF
            }
            memcpy(buffer, self->bytes.data() + offset, length);
            return 0;
        };
    }
    std::vector<uint8_t> bytes;
    QF_FILE file{};
    bool outside = false;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct Shown {
    std::map<std::wstring, std::vector<uint8_t>> files;
    std::vector<std::wstring> folders;
};

// What the driver does with an image before it gives it a letter: open it,
// walk the file system and unpack every file.
uint32_t Present(const std::vector<uint8_t>& image, int kind, Shown* shown = nullptr, bool* outside = nullptr)
{
    MemoryFile memory(image);
    QF_DISK* disk = nullptr;
    QF_FAT* fat = nullptr;
    uint32_t code = QfOpenDisk(&memory.file, kind, &disk);
    if (!code)
        code = QfOpenFat(disk, &fat);
    struct Context {
        QF_FAT* fat;
        Shown* shown;
    } context{fat, shown};
    if (!code) {
        code = QfWalk(
            fat,
            [](void* raw, const QF_ENTRY* entry) -> uint32_t {
                auto* context = static_cast<Context*>(raw);
                const std::wstring path(reinterpret_cast<const wchar_t*>(entry->path), entry->pathLength);
                if (entry->isFolder) {
                    if (context->shown)
                        context->shown->folders.push_back(path);
                    return 0;
                }
                std::vector<uint8_t> data;
                uint32_t code = QfReadFile(
                    context->fat, entry,
                    [](void* out, const uint8_t* piece, uint32_t length) -> uint32_t {
                        auto* data = static_cast<std::vector<uint8_t>*>(out);
                        data->insert(data->end(), piece, piece + length);
                        return 0;
                    },
                    &data);
                if (!code && data.size() != entry->size)
                    code = 0xBADu;
                if (!code && context->shown)
                    context->shown->files[path] = data;
                return code;
            },
            &context);
    }
    QfCloseFat(fat);
    QfCloseDisk(disk);
    if (outside)
        *outside = memory.outside;
    return code;
}

// ---------------------------------------------------------------- sound images

struct ImageKind {
    const char* what;
    int kind;
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&, int bits)> make;
};

std::vector<uint8_t> ArchiveOf(const std::vector<uint8_t>& partition, ArchiveSettings settings)
{
    return MakeArchive(partition, settings);
}

const ImageKind kKinds[] = {
    {"fixed VHD", QF_IMAGE_VHD,
     [](const std::vector<uint8_t>& p, int bits) { return MakeVhd(p, bits == 32 ? 0x0C : 0x06); }},
    {"archive, zlib and stored blocks", QF_IMAGE_ARCHIVE,
     [](const std::vector<uint8_t>& p, int) { return ArchiveOf(p, {}); }},
    {"archive, not packed", QF_IMAGE_ARCHIVE,
     [](const std::vector<uint8_t>& p, int) {
         ArchiveSettings s;
         s.packed = false;
         return ArchiveOf(p, s);
     }},
    {"archive, byte-run blocks", QF_IMAGE_ARCHIVE,
     [](const std::vector<uint8_t>& p, int) {
         ArchiveSettings s;
         s.compression = 1;
         return ArchiveOf(p, s);
     }},
    {"archive, unit bitmaps", QF_IMAGE_ARCHIVE,
     [](const std::vector<uint8_t>& p, int) {
         ArchiveSettings s;
         s.bitmaps = true;
         s.unitsPerEntry = 64;
         return ArchiveOf(p, s);
     }},
    {"archive of major version 1", QF_IMAGE_ARCHIVE,
     [](const std::vector<uint8_t>& p, int) {
         ArchiveSettings s;
         s.major = 1;
         return ArchiveOf(p, s);
     }},
};

TEST(QorFormat, EveryKindShowsTheFilesThatWentIn)
{
    const std::vector<qorbusimages::FixtureFile> expected = FixtureFiles();
    ASSERT_GE(expected.size(), 7u) << "fixture files missing";
    for (int bits : {16, 32}) {
        const std::vector<uint8_t> partition = FixturePartition(bits);
        ASSERT_FALSE(partition.empty()) << bits;
        for (const ImageKind& kind : kKinds) {
            SCOPED_TRACE(testing::Message() << "FAT" << bits << ", " << kind.what);
            const std::vector<uint8_t> image = kind.make(partition, bits);
            ASSERT_FALSE(image.empty());
            Shown shown;
            bool outside = false;
            ASSERT_EQ(Present(image, kind.kind, &shown, &outside), 0u);
            EXPECT_FALSE(outside);
            EXPECT_EQ(g_blocks, 0);
            ASSERT_EQ(shown.files.size(), expected.size());
            for (const auto& file : expected) {
                auto found = shown.files.find(file.path);
                ASSERT_NE(found, shown.files.end()) << Narrow(file.path);
                EXPECT_TRUE(found->second == file.data) << Narrow(file.path);
            }
            // Short names keep the case their entry asks for; a folder comes before what it holds.
            std::vector<std::wstring> folders = shown.folders;
            const auto deep = std::find(folders.begin(), folders.end(), L"deep");
            EXPECT_LT(deep, std::find(folders.begin(), folders.end(), L"deep\\er"));
            std::sort(folders.begin(), folders.end());
            EXPECT_EQ(folders, (std::vector<std::wstring>{L"Logs", L"deep", L"deep\\er"}));
        }
    }
}

TEST(QorFormat, VolumeFacts)
{
    for (int bits : {16, 32}) {
        MemoryFile memory(MakeVhd(FixturePartition(bits), 0x0C));
        QF_DISK* disk = nullptr;
        QF_FAT* fat = nullptr;
        ASSERT_EQ(QfOpenDisk(&memory.file, QF_IMAGE_VHD, &disk), 0u);
        ASSERT_EQ(QfOpenFat(disk, &fat), 0u);
        EXPECT_EQ(QfFatBits(fat), bits);
        EXPECT_EQ(QfFatSerial(fat), 0x51C0FA7Eu);
        EXPECT_STREQ(QfFatLabel(fat), bits == 32 ? "QORFAT32" : "QORFAT16");
        QfCloseFat(fat);
        QfCloseDisk(disk);
        EXPECT_EQ(g_blocks, 0);
    }
}

// ---------------------------------------------------------------- hostile images

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16); }
void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    Put16(b, at, static_cast<uint16_t>(v));
    Put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// Where things lie in a fixture partition, to damage them.
struct FatLayout {
    explicit FatLayout(const std::vector<uint8_t>& p)
    {
        bytesPerSector = Get16(p, 11);
        clusterBytes = p[13] * bytesPerSector;
        const uint32_t fatSectors = Get16(p, 22) ? Get16(p, 22) : Get32(p, 36);
        fat32 = Get16(p, 22) == 0;
        fatOffset = static_cast<size_t>(Get16(p, 14)) * bytesPerSector;
        rootOffset = fatOffset + static_cast<size_t>(p[16]) * fatSectors * bytesPerSector;
        dataOffset = rootOffset + (Get16(p, 17) * 32 + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
        rootCluster = fat32 ? Get32(p, 44) : 0;
    }
    size_t ClusterOffset(uint32_t cluster) const { return dataOffset + static_cast<size_t>(cluster - 2) * clusterBytes; }
    uint32_t Next(const std::vector<uint8_t>& p, uint32_t cluster) const
    {
        return fat32 ? Get32(p, fatOffset + 4 * cluster) & 0x0FFFFFFF : Get16(p, fatOffset + 2 * cluster);
    }
    void SetNext(std::vector<uint8_t>& p, uint32_t cluster, uint32_t value) const
    {
        if (fat32)
            Put32(p, fatOffset + 4 * cluster, value);
        else
            Put16(p, fatOffset + 2 * cluster, static_cast<uint16_t>(value));
    }
    // The 32-byte entry with this 8.3 name in a folder (cluster 0: the root).
    size_t Find(const std::vector<uint8_t>& p, uint32_t folder, const char* name) const
    {
        std::vector<size_t> spans;
        if (folder == 0 && !fat32) {
            for (size_t at = rootOffset; at < dataOffset; at += 32)
                spans.push_back(at);
        } else {
            for (uint32_t c = folder ? folder : rootCluster; c >= 2 && c < 0x0FFFFFF0 && spans.size() < 100000;
                 c = Next(p, c)) {
                if (!fat32 && c >= 0xFFF0)
                    break;
                for (size_t at = ClusterOffset(c); at < ClusterOffset(c) + clusterBytes; at += 32)
                    spans.push_back(at);
            }
        }
        for (size_t at : spans)
            if (memcmp(&p[at], name, 11) == 0)
                return at;
        ADD_FAILURE() << "no entry " << name;
        return 0;
    }
    uint32_t ClusterOf(const std::vector<uint8_t>& p, size_t entry) const
    {
        return Get16(p, entry + 26) | (fat32 ? static_cast<uint32_t>(Get16(p, entry + 20)) << 16 : 0);
    }
    void SetCluster(std::vector<uint8_t>& p, size_t entry, uint32_t cluster) const
    {
        Put16(p, entry + 26, static_cast<uint16_t>(cluster));
        if (fat32)
            Put16(p, entry + 20, static_cast<uint16_t>(cluster >> 16));
    }
    uint32_t bytesPerSector, clusterBytes, rootCluster;
    size_t fatOffset, rootOffset, dataOffset;
    bool fat32;
};

TEST(QorFormat, HostileFileSystemsAreRefused)
{
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>& p, const FatLayout& fat)> damage;
        uint32_t code;
    } cases[] = {
        {"no jump at the boot sector", [](auto& p, auto&) { p[0] = 0; }, QF_BAD_FORMAT},
        {"sector size 300", [](auto& p, auto&) { Put16(p, 11, 300); }, QF_BAD_FORMAT},
        {"no clusters per sector", [](auto& p, auto&) { p[13] = 0; }, QF_BAD_FORMAT},
        {"an NTFS boot sector", [](auto& p, auto&) { memcpy(&p[3], "NTFS    ", 8); }, QF_NOT_SUPPORTED},
        {"FAT12 cluster count",
         [](auto& p, auto&) {
             Put16(p, 19, 0);
             Put32(p, 32, Get16(p, 14) + 2 * (Get16(p, 22) ? Get16(p, 22) : Get32(p, 36)) + 64 + 4000u * p[13]);
         },
         QF_NOT_SUPPORTED},
        {"more sectors than the partition", [](auto& p, auto&) { Put16(p, 19, 0), Put32(p, 32, 0x7FFFFFFF); },
         QF_BAD_FORMAT},
        {"file longer than its chain",
         [](auto& p, auto& f) { Put32(p, f.Find(p, 0, "MAILBOX EDB") + 28, 0x7FFFFFFF); }, QF_BAD_FORMAT},
        {"free cluster inside a chain",
         [](auto& p, auto& f) { f.SetNext(p, f.ClusterOf(p, f.Find(p, 0, "MAILBOX EDB")), 0); }, QF_BAD_FORMAT},
        {"chain leaving the volume",
         [](auto& p, auto& f) { f.SetNext(p, f.ClusterOf(p, f.Find(p, 0, "MAILBOX EDB")), f.fat32 ? 0x0FFFFF00u : 0xFFF0u); },
         QF_BAD_FORMAT},
        {"file starting outside the volume",
         [](auto& p, auto& f) { f.SetCluster(p, f.Find(p, 0, "MAILBOX EDB"), 1); }, QF_BAD_FORMAT},
        {"folder inside itself",
         [](auto& p, auto& f) {
             const uint32_t deep = f.ClusterOf(p, f.Find(p, 0, "DEEP       "));
             f.SetCluster(p, f.Find(p, deep, "ER         "), deep);
         },
         QF_BAD_FORMAT},
        {"folder whose chain is a loop",
         [](auto& p, auto& f) {
             const uint32_t deep = f.ClusterOf(p, f.Find(p, 0, "DEEP       "));
             f.SetNext(p, deep, deep);
         },
         QF_BAD_FORMAT},
        {"folder without clusters", [](auto& p, auto& f) { f.SetCluster(p, f.Find(p, 0, "LOGS       "), 0); },
         QF_BAD_FORMAT},
        {"long name with a colon",
         [](auto& p, auto& f) { Put16(p, f.Find(p, 0, "ALONGF~1TXT") - 32 + 1, ':'); }, QF_BAD_FORMAT},
        {"long name \"..\"",
         [](auto& p, auto& f) {
             const size_t piece = f.Find(p, 0, "ALONGF~1TXT") - 32;  // the first 13 characters
             Put16(p, piece + 1, '.'), Put16(p, piece + 3, '.'), Put16(p, piece + 5, 0);
         },
         QF_BAD_FORMAT},
        {"short name with a control character", [](auto& p, auto& f) { p[f.Find(p, 0, "EMPTY   DAT") + 1] = 1; },
         QF_BAD_FORMAT},
        {"short name beyond ASCII without a long name",
         [](auto& p, auto& f) { p[f.Find(p, 0, "EMPTY   DAT") + 1] = 0xC9; }, QF_NOT_SUPPORTED},
    };
    for (int bits : {16, 32}) {
        const std::vector<uint8_t> partition = FixturePartition(bits);
        ASSERT_FALSE(partition.empty());
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "FAT" << bits << ": " << c.what);
            std::vector<uint8_t> damaged = partition;
            c.damage(damaged, FatLayout(damaged));
            bool outside = false;
            EXPECT_EQ(Present(MakeVhd(damaged, 0x0C), QF_IMAGE_VHD, nullptr, &outside), c.code);
            EXPECT_FALSE(outside);
            EXPECT_EQ(g_blocks, 0);
        }
    }
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t at)
{
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

TEST(QorFormat, HostileVhdsAreRefused)
{
    const std::vector<uint8_t> sound = MakeVhd(FixturePartition(16), 0x06);
    const size_t footer = sound.size() - 512;
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>& v)> damage;
        uint32_t code;
    } cases[] = {
        {"nothing but a footer", [](auto& v) { v.erase(v.begin(), v.end() - 512); }, QF_BAD_FORMAT},
        {"100 bytes", [](auto& v) { v.resize(100); }, QF_BAD_FORMAT},
        {"no footer", [](auto& v) { v.resize(v.size() - 512); }, QF_BAD_FORMAT},
        {"other cookie", [&](auto& v) { v[footer] = 'C'; }, QF_BAD_FORMAT},
        {"checksum off by one", [&](auto& v) { v[footer + 67]++; }, QF_BAD_FORMAT},
        {"dynamic disk", [&](auto& v) { v[footer + 63] = 3, qorbusimages::SealVhdFooter(v); }, QF_NOT_SUPPORTED},
        {"differencing disk", [&](auto& v) { v[footer + 63] = 4, qorbusimages::SealVhdFooter(v); }, QF_NOT_SUPPORTED},
        {"unknown disk type", [&](auto& v) { v[footer + 63] = 9, qorbusimages::SealVhdFooter(v); }, QF_BAD_FORMAT},
        {"disk larger than the file", [&](auto& v) { v[footer + 50] = 0x7F, qorbusimages::SealVhdFooter(v); },
         QF_BAD_FORMAT},
        {"disk cut inside the partition",
         [&](auto& v) {
             std::vector<uint8_t> tail(v.end() - 512, v.end());
             v.resize(v.size() / 2 / 512 * 512);
             v.insert(v.end(), tail.begin(), tail.end());
             const uint64_t size = v.size() - 512;
             for (int i = 0; i < 8; ++i)
                 v[v.size() - 512 + 48 + i] = v[v.size() - 512 + 40 + i] = static_cast<uint8_t>(size >> (56 - 8 * i));
             qorbusimages::SealVhdFooter(v);
         },
         QF_BAD_FORMAT},
        {"no MBR signature", [](auto& v) { v[510] = 0; }, QF_BAD_FORMAT},
        {"no partition", [](auto& v) { v[446 + 4] = 0; }, QF_BAD_FORMAT},
        {"partition at sector 0", [](auto& v) { Put32(v, 446 + 8, 0); }, QF_BAD_FORMAT},
        {"partition past the disk", [](auto& v) { Put32(v, 446 + 12, 0x7FFFFFFF); }, QF_BAD_FORMAT},
        {"partition smaller than its file system", [](auto& v) { Put32(v, 446 + 12, Get32(v, 446 + 12) / 2); },
         QF_BAD_FORMAT},
        {"GPT disk", [](auto& v) { v[446 + 4] = 0xEE; }, QF_NOT_SUPPORTED},
        {"extended partition", [](auto& v) { v[446 + 4] = 0x0F; }, QF_NOT_SUPPORTED},
    };
    ASSERT_EQ(Be32(sound, footer + 60), 2u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> damaged = sound;
        c.damage(damaged);
        bool outside = false;
        EXPECT_EQ(Present(damaged, QF_IMAGE_VHD, nullptr, &outside), c.code);
        EXPECT_FALSE(outside);
        EXPECT_EQ(g_blocks, 0);
    }
}

// The entries of a packed archive without bitmaps: offsets of their headers.
std::vector<size_t> EntryOffsets(const std::vector<uint8_t>& archive)
{
    std::vector<size_t> offsets;
    size_t at = Get32(archive, 12);
    while (at + 95 <= archive.size()) {
        offsets.push_back(at);
        const uint8_t kind = archive[at + 2] & 0xE0;
        if (kind == 0x60)
            break;
        at += 95 + ((archive[at + 2] & 1) ? 8 + Get32(archive, at + 95) : Get32(archive, at + 11));
    }
    return offsets;
}

TEST(QorFormat, HostileArchivesAreRefused)
{
    const std::vector<uint8_t> sound = MakeArchive(FixturePartition(16), {});
    ASSERT_FALSE(sound.empty());
    const std::vector<size_t> entries = EntryOffsets(sound);
    ASSERT_GE(entries.size(), 4u);
    ASSERT_EQ(sound[entries.back() + 2] & 0xE0, 0x60) << "the stream ends with its end marker";
    // The first block of each method.
    size_t stored = 0, zlib = 0;
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
        const uint32_t method = Get32(sound, entries[i] + 95 + 4);
        if (method == 0 && !stored)
            stored = entries[i];
        if (method > 2 && !zlib)
            zlib = entries[i];
    }
    ASSERT_TRUE(stored && zlib) << "the fixture has stored and zlib blocks";
    ArchiveSettings lzrw3;
    lzrw3.compression = 10;

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>& a)> damage;
        uint32_t code;
    } cases[] = {
        {"1239 bytes", [](auto& a) { a.resize(1239); }, QF_BAD_FORMAT},
        {"other magic", [](auto& a) { a[0] = 'k'; }, QF_BAD_FORMAT},
        {"major version 3", [](auto& a) { Put16(a, 6, 3); }, QF_NOT_SUPPORTED},
        {"password", [](auto& a) { a[38] |= 0x02; }, QF_NOT_SUPPORTED},
        {"differential", [](auto& a) { a[38] |= 0x80; }, QF_NOT_SUPPORTED},
        {"collection of archives", [](auto& a) { a[28] = 3; }, QF_NOT_SUPPORTED},
        {"header longer than the volume", [](auto& a) { Put32(a, 12, static_cast<uint32_t>(a.size() + 1)); },
         QF_BAD_FORMAT},
        {"partition area longer than the header", [](auto& a) { Put32(a, 48, Get32(a, 12)); }, QF_BAD_FORMAT},
        {"cut in half", [](auto& a) { a.resize(a.size() / 2); }, QF_BAD_FORMAT},
        {"end marker missing", [](auto& a) { a.resize(a.size() - 95); }, QF_BAD_FORMAT},
        {"entry without its magic", [&](auto& a) { a[entries[1]] = 0; }, QF_BAD_FORMAT},
        {"ends as aborted", [&](auto& a) { a[entries.back() + 2] = 0xA0; }, QF_BAD_FORMAT},
        {"goes on in another volume", [&](auto& a) { a[entries.back() + 2] = 0x20; }, QF_NOT_SUPPORTED},
        {"sectors past 2^32", [&](auto& a) { Put32(a, entries[1] + 3, 0xFFFFFFF0u); }, QF_BAD_FORMAT},
        {"two entries for one sector", [&](auto& a) { Put32(a, entries[2] + 3, Get32(a, entries[1] + 3)); },
         QF_BAD_FORMAT},
        {"unit data of another length", [&](auto& a) { Put32(a, entries[1] + 11, Get32(a, entries[1] + 11) + 512); },
         QF_BAD_FORMAT},
        {"block longer than the volume", [&](auto& a) { Put32(a, entries[1] + 95, 0x7FFFFFF0u); }, QF_BAD_FORMAT},
        {"stored block of another length", [&](auto& a) { Put32(a, stored + 95, Get32(a, stored + 95) - 1); },
         QF_BAD_FORMAT},
        {"zlib block damaged",
         [&](auto& a) {
             for (size_t i = 0; i < 16; ++i)
                 a[zlib + 95 + 8 + 2 + i] ^= 0x5A;
         },
         QF_BAD_FORMAT},
        {"block that would grow beyond zlib's limit", [&](auto& a) { Put32(a, zlib + 95, 16); }, QF_BAD_FORMAT},
        {"LZRW3 blocks", [&](auto& a) { a = MakeArchive(FixturePartition(16), lzrw3); }, QF_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> damaged = sound;
        c.damage(damaged);
        bool outside = false;
        EXPECT_EQ(Present(damaged, QF_IMAGE_ARCHIVE, nullptr, &outside), c.code);
        EXPECT_FALSE(outside);
        EXPECT_EQ(g_blocks, 0);
    }
}

TEST(QorFormat, ImageKindMustBeKnown)
{
    MemoryFile memory(std::vector<uint8_t>(4096, 0));
    QF_DISK* disk = reinterpret_cast<QF_DISK*>(1);
    EXPECT_EQ(QfOpenDisk(&memory.file, 7, &disk), QF_NOT_SUPPORTED);
    EXPECT_EQ(disk, nullptr);
}

// ---------------------------------------------------------------- change file

struct Record {
    int kind;
    std::wstring path;
    std::string data;
};

std::vector<uint8_t> ChangeFile(uint64_t imageSize, uint32_t check, const std::vector<Record>& records)
{
    std::vector<uint8_t> bytes(QF_CHANGE_HEADER_SIZE);
    QfChangeHeader(bytes.data(), imageSize, check);
    for (const Record& r : records) {
        uint8_t head[QF_CHANGE_RECORD_SIZE];
        QfChangeRecord(head, r.kind, static_cast<uint32_t>(r.path.size()), r.data.size());
        bytes.insert(bytes.end(), head, head + sizeof head);
        for (wchar_t c : r.path)
            bytes.push_back(static_cast<uint8_t>(c)), bytes.push_back(static_cast<uint8_t>(c >> 8));
        bytes.insert(bytes.end(), r.data.begin(), r.data.end());
    }
    bytes.push_back(0);
    return bytes;
}

uint32_t WalkChanges(const std::vector<uint8_t>& bytes, std::vector<Record>* seen, uint64_t size = 5000,
                     uint32_t check = 0x1234)
{
    MemoryFile memory(bytes);
    struct Context {
        MemoryFile* memory;
        std::vector<Record>* seen;
    } context{&memory, seen};
    uint32_t code = QfWalkChanges(
        &memory.file, size, check,
        [](void* raw, int kind, const uint16_t* path, uint32_t length, uint64_t offset, uint64_t dataLength) -> uint32_t {
            auto* context = static_cast<Context*>(raw);
            const auto* data = context->memory->bytes.data() + offset;
            context->seen->push_back({kind, std::wstring(reinterpret_cast<const wchar_t*>(path), length),
                                      std::string(data, data + dataLength)});
            return 0;
        },
        &context);
    EXPECT_FALSE(memory.outside);
    return code;
}

TEST(QorFormat, ChangeFileRecordsComeBackInOrder)
{
    const std::vector<Record> records = {{QF_CHANGE_REMOVED, L"Mailbox.edb", ""},
                                         {QF_CHANGE_FOLDER, L"made", ""},
                                         {QF_CHANGE_FILE, L"made\\new file.log", "written after the mount"},
                                         {QF_CHANGE_FILE, L"empty.dat", ""}};
    std::vector<Record> seen;
    ASSERT_EQ(WalkChanges(ChangeFile(5000, 0x1234, records), &seen), 0u);
    ASSERT_EQ(seen.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(seen[i].kind, records[i].kind);
        EXPECT_EQ(seen[i].path, records[i].path);
        EXPECT_EQ(seen[i].data, records[i].data);
    }
    EXPECT_EQ(g_blocks, 0);
}

TEST(QorFormat, DamagedChangeFilesAreRefusedBeforeAnyRecord)
{
    const std::vector<uint8_t> sound =
        ChangeFile(5000, 0x1234, {{QF_CHANGE_FOLDER, L"a", ""}, {QF_CHANGE_FILE, L"a\\b.txt", "data"}});
    // Cut anywhere, the file is not whole.
    for (size_t length = 0; length < sound.size(); ++length) {
        std::vector<Record> seen;
        EXPECT_EQ(WalkChanges(std::vector<uint8_t>(sound.begin(), sound.begin() + length), &seen), QF_FILE_CORRUPT)
            << length;
        EXPECT_TRUE(seen.empty()) << length;
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t code;
    } cases[] = {
        {"byte after the end", [&] { auto b = sound; b.push_back(0); return b; }(), QF_FILE_CORRUPT},
        {"other magic", [&] { auto b = sound; b[0] = 'X'; return b; }(), QF_FILE_CORRUPT},
        {"another image's size", ChangeFile(5001, 0x1234, {}), QF_FILE_INVALID},
        {"another image's check", ChangeFile(5000, 0x1235, {}), QF_FILE_INVALID},
        {"unknown kind", ChangeFile(5000, 0x1234, {{'Z', L"a", ""}}), QF_FILE_CORRUPT},
        {"folder with data", ChangeFile(5000, 0x1234, {{QF_CHANGE_FOLDER, L"a", "x"}}), QF_FILE_CORRUPT},
        {"empty path", ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"", "x"}}), QF_FILE_CORRUPT},
        {"parent folder", ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"..\\x", "x"}}), QF_FILE_CORRUPT},
        {"drive", ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"C:x", "x"}}), QF_FILE_CORRUPT},
        {"rooted", ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"\\x", "x"}}), QF_FILE_CORRUPT},
        {"double separator", ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"a\\\\x", "x"}}), QF_FILE_CORRUPT},
        {"data past the end",
         [&] {
             auto b = ChangeFile(5000, 0x1234, {{QF_CHANGE_FILE, L"a", "x"}});
             Put32(b, QF_CHANGE_HEADER_SIZE + 4, 2);
             return b;
         }(),
         QF_FILE_CORRUPT},
    };
    for (const Case& c : cases) {
        std::vector<Record> seen;
        EXPECT_EQ(WalkChanges(c.bytes, &seen), c.code) << c.what;
        EXPECT_TRUE(seen.empty()) << c.what;
    }
    EXPECT_EQ(g_blocks, 0);
}

TEST(QorFormat, NamesTheDriveCanHold)
{
    struct Case {
        const wchar_t* name;
        int good;
    } cases[] = {{L"Mailbox.edb", 1}, {L"a", 1},     {L".hidden", 1}, {L".", 0},   {L"..", 0},  {L"trailing.", 0},
                 {L"blank ", 0},      {L"a:b", 0},   {L"a*", 0},      {L"a?", 0},  {L"a|b", 0}, {L"a\"b", 0},
                 {L"a<b", 0},         {L"a>b", 0},   {L"a/b", 0},     {L"a\\b", 0}, {L"\x1f", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(QfIsGoodName(reinterpret_cast<const uint16_t*>(c.name), static_cast<uint32_t>(wcslen(c.name))),
                  c.good)
            << Narrow(c.name);
    const std::wstring longest(255, L'n'), tooLong(256, L'n');
    EXPECT_TRUE(QfIsGoodName(reinterpret_cast<const uint16_t*>(longest.c_str()), 255));
    EXPECT_FALSE(QfIsGoodName(reinterpret_cast<const uint16_t*>(tooLong.c_str()), 256));
}

}  // namespace
