#include "Platform.h"

#include "CHDArchive.h"

#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "ArchiveTestSupport.h"
#include "CBaseArchive.h"
#include "rwbuf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>

using archivetest::CTempFolder;
using archivetest::FileExists;
using archivetest::ReadWholeFile;
using archivetest::SectorPattern;
using archivetest::WriteWholeFile;

namespace {

struct RecordDeleter {
    void operator()(ArchiveRecord* r) const { FreeArchiveRecord(r); }
};
using RecordPtr = std::unique_ptr<ArchiveRecord, RecordDeleter>;
struct HeaderDeleter {
    void operator()(HdArchiveHeader* h) const { FreeArchiveHeader(h); }
};
using HeaderPtr = std::unique_ptr<HdArchiveHeader, HeaderDeleter>;
struct ArchiveDeleter {
    void operator()(CBaseArchive* a) const { CloseArchive(a); }
};
using ArchivePtr = std::unique_ptr<CBaseArchive, ArchiveDeleter>;

// Event callback of the tests: files from the system's factory, and a log
// of every other code; optional answers for the volume-name and
// missing-volume questions.
struct CallbackLog {
    std::vector<uint8_t> codes;
    std::vector<std::string> volumeNames;  // answers to code 0, in turn
    std::vector<RecordPtr> answered;
    std::string correctedPath;             // answer to codes 2 and 13
    int crcAnswer = 0;
};

int TestCallback(uint8_t code, void* arg, void* context, void* out)
{
    auto* log = static_cast<CallbackLog*>(context);
    if (code == ARCCB_CREATE_FILE)
        return ArchiveFileFactory(code, arg, nullptr, out);
    log->codes.push_back(code);
    if (code == ARCCB_NEW_VOLUME && !log->volumeNames.empty()) {
        log->answered.emplace_back(NewArchiveLocation(log->volumeNames.front().c_str()));
        log->volumeNames.erase(log->volumeNames.begin());
        *static_cast<ArchiveRecord**>(out) = log->answered.back().get();
        return 0;
    }
    if ((code == ARCCB_VOLUME_MISSING || code == ARCCB_BASE_MISSING) && !log->correctedPath.empty()) {
        RecordPtr fresh(NewArchiveLocation(log->correctedPath.c_str()));
        auto* record = static_cast<ArchiveRecord*>(arg);
        uint8_t type = record->type, kind = record->kind;
        memcpy(record, fresh.get(), fresh->length);
        record->type = type;
        record->kind = kind;
        log->correctedPath.clear();
        return 0;
    }
    if (code == ARCCB_CRC_MISMATCH)
        return log->crcAnswer;
    return 0;
}

struct WriteSettings {
    uint8_t compression = 6;
    uint32_t volumeLimit = kNoVolumeLimit;  // sectors
    std::string password;
    SHdCreateOptions options;
    uint32_t unitsPerEntry = 16;
    bool abort = false;
};

ArchiveOpenParams Params(ArchiveRecord* location, CallbackLog* log, const std::string& password = std::string())
{
    ArchiveOpenParams params{};
    params.location = location;
    params.volumeLimit = kNoVolumeLimit;
    params.compression = 6;
    params.eventCallback = TestCallback;
    params.eventContext = log;
    params.readOnly = 1;
    memcpy(params.key, password.c_str(), std::min<size_t>(password.size(), 13));
    return params;
}

// Writes `data` (whole units) as sector entries starting at sector 0.
int WriteArchive(const std::string& path, const WriteSettings& settings, const std::vector<uint8_t>& data,
                 CallbackLog* log = nullptr, std::vector<std::string>* volumes = nullptr)
{
    CallbackLog local;
    RecordPtr location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params = Params(location.get(), log ? log : &local, settings.password);
    params.volumeLimit = settings.volumeLimit;
    params.compression = settings.compression;
    params.readOnly = 0;
    CHDArchive writer;
    if (int rc = writer.Create(&params, settings.options))
        return rc;
    const uint32_t spu = settings.options.unitSize / 512;
    const uint32_t unitBytes = settings.options.unitSize;
    const uint32_t units = static_cast<uint32_t>(data.size() / unitBytes);
    for (uint32_t u = 0; u < units; u += settings.unitsPerEntry) {
        HdEntryHeader entry{};
        entry.units = std::min(settings.unitsPerEntry, units - u);
        entry.firstSector = u * spu;
        entry.sectorsPerUnit = static_cast<uint8_t>(spu);
        if (int rc = writer.WriteEntry(&entry, nullptr, &data[static_cast<size_t>(u) * unitBytes],
                                       entry.units * unitBytes))
            return rc;
    }
    if (settings.abort)
        writer.Abort();
    int rc = writer.Finish();
    if (volumes) {
        volumes->clear();
        for (size_t i = 0; i < writer.GetVolumeCount(); ++i)
            volumes->push_back(writer.GetVolumePath(i));
    }
    return rc;
}

int Open(const std::string& path, ArchivePtr& archive, CallbackLog* log, const std::string& password = std::string(),
         HeaderPtr* header = nullptr)
{
    RecordPtr location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params = Params(location.get(), log, password);
    CBaseArchive* opened = nullptr;
    HdArchiveHeader* copy = nullptr;
    int rc = OpenArchive(&params, &copy, &opened, nullptr);
    archive.reset(opened);
    if (header)
        header->reset(copy);
    else
        FreeArchiveHeader(copy);
    return rc;
}

// Every data entry of the stream, concatenated; the stream's final status in `end`.
std::vector<uint8_t> StreamData(CBaseArchive* archive, int* end)
{
    std::vector<uint8_t> all;
    for (;;) {
        HdEntryHeader entry;
        std::vector<uint8_t> bitmap, data;
        int rc = archive->ReadEntry(&entry, &bitmap, &data);
        if (rc) {
            *end = rc;
            return all;
        }
        all.insert(all.end(), data.begin(), data.end());
    }
}

TEST(HdArchive, RoundTripsEveryChoice)
{
    CTempFolder folder;
    const std::vector<uint8_t> data = SectorPattern(8 * 40, 11);  // 40 units of 4096
    struct Case {
        uint8_t compression;
        const char* password;
        uint32_t volumeLimit;
        uint16_t major;
        bool sign;
        uint8_t flags;
    } cases[] = {
        {kChoiceRunLength, "", kNoVolumeLimit, 2, false, kHdPacked},
        {kChoiceLzrw3, "", kNoVolumeLimit, 2, true, kHdPacked},
        {6, "", kNoVolumeLimit, 2, false, kHdPacked},
        {0, "", kNoVolumeLimit, 1, false, kHdPacked},  // zlib level 0, 9-byte block headers
        {9, "", kNoVolumeLimit, 2, false, 0},          // not packed
        {kChoiceRunLength, "secret", kNoVolumeLimit, 2, true, kHdPacked},
        {kChoiceLzrw3, "secret", 40, 2, false, kHdPacked},  // several 20 KiB volumes
        {6, "pass phrase12", 48, 1, true, kHdPacked},
        {6, "", 40, 2, false, kHdPacked},
        {1, "", 60, 2, false, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        std::string path = folder / ("rt" + std::to_string(n++) + ".kzf");
        WriteSettings settings;
        settings.compression = c.compression;
        settings.password = c.password;
        settings.volumeLimit = c.volumeLimit;
        settings.options.major = c.major;
        settings.options.signEntries = c.sign;
        settings.options.flags = c.flags;
        settings.options.label = "Round trip";
        settings.options.archiveId = 0x1122334455667788ull + n;
        settings.options.partitionArea = std::vector<uint8_t>(64, 0x5C);
        settings.unitsPerEntry = 7;
        std::vector<std::string> volumes;
        ASSERT_EQ(0, WriteArchive(path, settings, data, nullptr, &volumes));
        if (c.volumeLimit != kNoVolumeLimit) {
            EXPECT_GT(volumes.size(), 1u);
            for (const std::string& v : volumes)
                EXPECT_EQ(c.volumeLimit * 512ull, ReadWholeFile(v).size()) << "padded to the limit";
        } else {
            EXPECT_EQ(1u, volumes.size());
        }

        CallbackLog log;
        ArchivePtr archive;
        HeaderPtr header;
        ASSERT_EQ(0, Open(path, archive, &log, c.password, &header));
        EXPECT_EQ(kHdMagic, header->magic);
        EXPECT_EQ(c.major, header->major);
        EXPECT_STREQ("Round trip", header->label);
        EXPECT_EQ(std::vector<uint8_t>(64, 0x5C),
                  std::vector<uint8_t>(reinterpret_cast<uint8_t*>(header.get()) + kHdFixedHeaderLength,
                                       reinterpret_cast<uint8_t*>(header.get()) + kHdFixedHeaderLength + 64))
            << "partition area deciphered in the copy";
        int end = 0;
        EXPECT_EQ(data, StreamData(archive.get(), &end));
        EXPECT_EQ(ARCERR_END, end);
        EXPECT_EQ(volumes.size() - 1,
                  static_cast<size_t>(std::count(log.codes.begin(), log.codes.end(), ARCCB_VOLUME_OPENED)));
        EXPECT_NE(log.codes.end(), std::find(log.codes.begin(), log.codes.end(), ARCCB_PROGRESS));

        ASSERT_EQ(0, archive->BuildIndex());
        std::mt19937 random(n);
        for (int i = 0; i < 30; ++i) {
            uint32_t first = random() % 320;
            uint32_t count = 1 + random() % std::min<uint32_t>(60, 320 - first);
            std::vector<uint8_t> got(count * 512);
            uint32_t done = 0;
            ASSERT_EQ(0, archive->Read(0, first, count, got.data(), &done)) << first << "+" << count;
            EXPECT_EQ(count, done);
            ASSERT_EQ(0, memcmp(got.data(), &data[first * 512], got.size())) << first << "+" << count;
        }
        std::vector<uint8_t> past(512);
        EXPECT_EQ(ARCERR_NOT_IN_ARCHIVE, archive->Read(0, 320, 1, past.data(), nullptr));
        EXPECT_EQ(ARCERR_NOT_POSSIBLE, archive->Read(1, 0, 1, past.data(), nullptr)) << "no base";
        EXPECT_EQ(ARCERR_BAD_ARGUMENT, archive->Read(2, 0, 1, past.data(), nullptr));
    }
}

TEST(HdArchive, FlatArchiveReadsAndWritesInPlace)
{
    CTempFolder folder;
    const std::vector<uint8_t> data = SectorPattern(8 * 12, 5);
    for (const char* password : {"", "flat key"}) {
        std::string path = folder / (std::string("flat") + (password[0] ? "p" : "") + ".kzf");
        WriteSettings settings;
        settings.password = password;
        settings.options.flags = kHdFlat;
        settings.unitsPerEntry = 5;
        ASSERT_EQ(0, WriteArchive(path, settings, data));

        CallbackLog log;
        RecordPtr location(NewArchiveLocation(path.c_str()));
        ArchiveOpenParams params = Params(location.get(), &log, password);
        params.readOnly = 0;
        CHDArchive archive;
        ASSERT_EQ(0, archive.Open(&params, nullptr, nullptr, nullptr));
        ASSERT_EQ(0, archive.BuildIndex());
        std::vector<uint8_t> got(30 * 512);
        ASSERT_EQ(0, archive.Read(0, 33, 30, got.data(), nullptr));  // crosses entries
        EXPECT_EQ(0, memcmp(got.data(), &data[33 * 512], got.size()));

        std::vector<uint8_t> changed(3 * 512, 0x42);
        ASSERT_EQ(0, archive.Read(1, 50, 3, changed.data(), nullptr));
        std::vector<uint8_t> back(3 * 512);
        ASSERT_EQ(0, archive.Read(0, 50, 3, back.data(), nullptr));
        EXPECT_EQ(changed, back);
        std::vector<uint8_t> before(512);
        ASSERT_EQ(0, archive.Read(0, 49, 1, before.data(), nullptr));
        EXPECT_EQ(0, memcmp(before.data(), &data[49 * 512], 512));
    }
}

// A base archive of sectors 0-159 and a differential one that changes some
// units (unit bitmaps), adds sectors past the base's end and leaves the rest
// to the base.
class DifferentialArchive : public ::testing::Test {
protected:
    void SetUp() override
    {
        basePath = folder / "base.kzf";
        childPath = folder / "child.kzf";
        baseData = SectorPattern(160, 1);
        WriteSettings settings;
        settings.options.archiveId = 100;
        settings.options.major = baseMajor;
        settings.options.label = "base";
        settings.password = password;
        ASSERT_EQ(0, WriteArchive(basePath, settings, baseData));

        CallbackLog log;
        RecordPtr location(NewArchiveLocation(basePath.c_str()));
        ArchiveOpenParams baseParams = Params(location.get(), &log, password);
        CHDArchive base;
        ASSERT_EQ(0, base.Open(&baseParams, nullptr, nullptr, nullptr));

        RecordPtr childLocation(NewArchiveLocation(childPath.c_str()));
        ArchiveOpenParams params = Params(childLocation.get(), &log, password);
        params.readOnly = 0;
        SHdCreateOptions options;
        options.archiveId = childId;
        options.label = "child";
        options.base = &base;
        CHDArchive child;
        ASSERT_EQ(0, child.Create(&params, options));
        expected = baseData;
        expected.resize(200 * 512);
        // Units 2 and 5 of the first 8 units (sectors 16-23 and 40-47) change.
        uint8_t bitmap[1] = {0x24};
        std::vector<uint8_t> changed = SectorPattern(16, 9);
        HdEntryHeader entry{};
        entry.flags = kEntryBitmap;
        entry.units = 8;
        entry.sectorsPerUnit = 8;
        ASSERT_EQ(0, child.WriteEntry(&entry, bitmap, changed.data(), static_cast<uint32_t>(changed.size())));
        memcpy(&expected[16 * 512], changed.data(), 8 * 512);
        memcpy(&expected[40 * 512], changed.data() + 8 * 512, 8 * 512);
        // Sectors 160-199 are new.
        std::vector<uint8_t> fresh = SectorPattern(40, 4);
        entry = HdEntryHeader{};
        entry.firstSector = 160;
        entry.units = 5;
        entry.sectorsPerUnit = 8;
        ASSERT_EQ(0, child.WriteEntry(&entry, nullptr, fresh.data(), static_cast<uint32_t>(fresh.size())));
        memcpy(&expected[160 * 512], fresh.data(), fresh.size());
        ASSERT_EQ(0, child.Finish());
    }

    CTempFolder folder;
    std::string basePath, childPath;
    std::string password;
    std::vector<uint8_t> baseData, expected;
    uint64_t childId = 200;
    uint16_t baseMajor = 2;
};

TEST_F(DifferentialArchive, ReadsThroughTheBase)
{
    CallbackLog log;
    ArchivePtr child;
    ASSERT_EQ(0, Open(childPath, child, &log));
    CBaseArchive* base = child->GetBaseArchive();
    ASSERT_NE(nullptr, base);
    EXPECT_EQ(ARCERR_BASE_INDEX, child->BuildIndex()) << "the base's index comes first";
    ASSERT_EQ(0, base->BuildIndex());
    ASSERT_EQ(0, child->BuildIndex());
    std::vector<uint8_t> got(200 * 512);
    ASSERT_EQ(0, child->Read(0, 0, 200, got.data(), nullptr));
    EXPECT_EQ(expected, got);
    std::vector<uint8_t> fromBase(16 * 512);
    ASSERT_EQ(0, child->Read(1, 16, 16, fromBase.data(), nullptr));
    EXPECT_EQ(0, memcmp(fromBase.data(), &baseData[16 * 512], fromBase.size()));
    std::vector<uint8_t> past(512);
    EXPECT_EQ(ARCERR_NOT_IN_ARCHIVE, child->Read(0, 200, 1, past.data(), nullptr));
}

TEST_F(DifferentialArchive, SecondBitmapIsSkipped)
{
    // Give the first entry a second bitmap: a copy of its first bitmap block.
    std::vector<uint8_t> bytes = archivetest::ReadWholeFile(childPath);
    const uint32_t entry = reinterpret_cast<const HdArchiveHeader*>(bytes.data())->length;
    ASSERT_EQ(kEntryBitmap | kEntryPacked, bytes[entry + 2] & 0x0F);
    bytes[entry + 2] |= kEntrySecondBitmap;
    const size_t block = entry + kHdEntryHeaderLength;
    uint32_t stored;
    memcpy(&stored, &bytes[block], 4);
    std::vector<uint8_t> copy(bytes.begin() + block, bytes.begin() + block + 8 + stored);
    copy[8] ^= 0xFF;  // whatever it says, the reader does not use it
    bytes.insert(bytes.begin() + block + 8 + stored, copy.begin(), copy.end());
    archivetest::WriteWholeFile(childPath, bytes);

    CallbackLog log;
    ArchivePtr child;
    ASSERT_EQ(0, Open(childPath, child, &log));
    ASSERT_EQ(0, child->GetBaseArchive()->BuildIndex());
    ASSERT_EQ(0, child->BuildIndex());
    std::vector<uint8_t> got(200 * 512);
    ASSERT_EQ(0, child->Read(0, 0, 200, got.data(), nullptr));
    EXPECT_EQ(expected, got);
}

TEST_F(DifferentialArchive, FindsAMovedBaseBesideItself)
{
    std::string moved = folder / "sub";
    CreateDirectoryA(moved.c_str(), nullptr);
    std::string newChild = moved + "\\child.kzf";
    std::string newBase = moved + "\\base.kzf";
    ASSERT_TRUE(MoveFileA(childPath.c_str(), newChild.c_str()));
    ASSERT_TRUE(MoveFileA(basePath.c_str(), newBase.c_str()));
    CallbackLog log;
    ArchivePtr child;
    ASSERT_EQ(0, Open(newChild, child, &log));
    ASSERT_EQ(0, child->GetBaseArchive()->BuildIndex());
    ASSERT_EQ(0, child->BuildIndex());
    std::vector<uint8_t> got(200 * 512);
    ASSERT_EQ(0, child->Read(0, 0, 200, got.data(), nullptr));
    EXPECT_EQ(expected, got);
}

TEST_F(DifferentialArchive, MissingBaseGivesUpInsteadOfRetryingForEver)
{
    std::string elsewhere = folder / "elsewhere.kzf";
    ASSERT_TRUE(MoveFileA(basePath.c_str(), elsewhere.c_str()));
    {
        // The system's own factory answers code 13 with 0 and corrects nothing.
        RecordPtr location(NewArchiveLocation(childPath.c_str()));
        ArchiveOpenParams params = Params(location.get(), nullptr);
        params.eventCallback = ArchiveFileFactory;
        CBaseArchive* archive = nullptr;
        EXPECT_EQ(ARCERR_ABORTED, OpenArchive(&params, nullptr, &archive, nullptr));
        EXPECT_EQ(nullptr, archive);
    }
    // A callback that corrects the record is asked once and succeeds.
    CallbackLog log;
    log.correctedPath = elsewhere;
    ArchivePtr child;
    ASSERT_EQ(0, Open(childPath, child, &log));
    EXPECT_EQ(1, std::count(log.codes.begin(), log.codes.end(), ARCCB_BASE_MISSING));
}

class DifferentialWithOwnId : public DifferentialArchive {
protected:
    DifferentialWithOwnId() { childId = 100; }
};

TEST_F(DifferentialWithOwnId, BaseCarryingTheChildsIdIsRefused)
{
    CallbackLog log;
    RecordPtr location(NewArchiveLocation(childPath.c_str()));
    ArchiveOpenParams params = Params(location.get(), &log);
    params.eventCallback = nullptr;
    CHDArchive child;
    EXPECT_EQ(ARCERR_OWN_ID, child.Open(&params, nullptr, nullptr, nullptr));
}

class DifferentialOverOldRevision : public DifferentialArchive {
protected:
    DifferentialOverOldRevision() { baseMajor = 1; }
};

TEST_F(DifferentialOverOldRevision, BaseReadsNeedTheNewerRevision)
{
    CallbackLog log;
    ArchivePtr child;
    ASSERT_EQ(0, Open(childPath, child, &log));
    ASSERT_EQ(0, child->BuildIndex()) << "an older base needs no index of its own first";
    std::vector<uint8_t> got(8 * 512);
    EXPECT_EQ(ARCERR_BASE_REVISION, child->Read(0, 0, 8, got.data(), nullptr));
    EXPECT_EQ(ARCERR_BASE_REVISION, child->Read(1, 0, 8, got.data(), nullptr));
    ASSERT_EQ(0, child->Read(0, 160, 8, got.data(), nullptr)) << "its own sectors still read";
    EXPECT_EQ(0, memcmp(got.data(), &expected[160 * 512], got.size()));
}

class PasswordedDifferential : public DifferentialArchive {
protected:
    PasswordedDifferential() { password = "both"; }
};

TEST_F(PasswordedDifferential, BaseOpensWithTheChildsKey)
{
    CallbackLog log;
    ArchivePtr child;
    ASSERT_EQ(0, Open(childPath, child, &log, password));
    ASSERT_EQ(0, child->GetBaseArchive()->BuildIndex());
    ASSERT_EQ(0, child->BuildIndex());
    std::vector<uint8_t> got(200 * 512);
    ASSERT_EQ(0, child->Read(0, 0, 200, got.data(), nullptr));
    EXPECT_EQ(expected, got);
}

TEST(HdArchive, CompanionSavesAndLoads)
{
    CTempFolder folder;
    std::string path = folder / "comp.kzf";
    const std::vector<uint8_t> data = SectorPattern(8 * 30, 2);
    WriteSettings settings;
    settings.volumeLimit = 100;
    settings.compression = 0;
    settings.options.archiveId = 0xABCDEF;
    ASSERT_EQ(0, WriteArchive(path, settings, data));
    std::string companion = folder / "comp.kfm";
    {
        CallbackLog log;
        ArchivePtr archive;
        ASSERT_EQ(0, Open(path, archive, &log));
        ASSERT_EQ(0, archive->BuildIndex());
        std::unique_ptr<CNAFile> file(NewWinFileCache());
        ASSERT_EQ(0, file->Open(companion.c_str(), 2, 0xC0000000u, 0));
        ASSERT_EQ(0, archive->SaveCompanion(file.get()));
        ASSERT_EQ(0, file->Close());
    }
    std::vector<uint8_t> saved = ReadWholeFile(companion);
    ASSERT_GE(saved.size(), 20u);
    EXPECT_EQ(0, memcmp(saved.data(), "Kfm0\x01\0\0\0", 8));

    auto load = [&](const std::vector<uint8_t>& bytes, ArchivePtr& archive) {
        WriteWholeFile(companion, bytes);
        CallbackLog log;
        if (int rc = Open(path, archive, &log))
            return rc;
        std::unique_ptr<CNAFile> file(NewWinFileCache());
        if (int rc = file->Open(companion.c_str(), 1, 0x80000000u, 0))
            return rc;
        return archive->LoadCompanion(file.get());
    };
    ArchivePtr archive;
    ASSERT_EQ(0, load(saved, archive));
    EXPECT_TRUE(archive->IsIndexBuilt());
    std::vector<uint8_t> got(data.size());
    ASSERT_EQ(0, archive->Read(0, 0, 240, got.data(), nullptr));
    EXPECT_EQ(data, got);

    struct Case {
        size_t at;
        uint8_t value;
        int status;
    } cases[] = {
        {0, 'X', ARCERR_COMPANION_KIND},  // "Xfm0": same family, another kind
        {1, 'x', ARCERR_NOT_COMPANION},
        {3, '1', ARCERR_NOT_COMPANION},
        {4, 2, ARCERR_COMPANION_VERSION},
        {8, 0x55, ARCERR_COMPANION_FOREIGN},
        {20 + 16, 0xFF, ARCERR_READ},     // an absurd extent count
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = saved;
        bytes[c.at] = c.value;
        if (c.at == 36)
            bytes[37] = bytes[38] = bytes[39] = 0xFF;
        ArchivePtr damaged;
        EXPECT_EQ(c.status, load(bytes, damaged)) << c.at;
    }
    for (size_t cut : {size_t(10), size_t(30), saved.size() - 1}) {
        ArchivePtr damaged;
        EXPECT_NE(0, load(std::vector<uint8_t>(saved.begin(), saved.begin() + cut), damaged)) << cut;
    }
}

// Where each extent of a saved companion lies in it: its byte offset and its
// first sector, for every volume in turn.
struct SavedExtent {
    size_t at;
    uint32_t first;
    uint64_t offset;
};

std::vector<SavedExtent> SavedExtents(const std::vector<uint8_t>& companion)
{
    std::vector<SavedExtent> out;
    size_t at = 20;
    auto get32 = [&](size_t p) {
        uint32_t v;
        memcpy(&v, &companion[p], 4);
        return v;
    };
    for (;;) {
        at += 16;
        for (int bucket = 0; bucket < 256; ++bucket) {
            uint32_t count = get32(at);
            at += 4;
            for (uint32_t i = 0; i < count; ++i, at += 17)
                out.push_back(SavedExtent{at, get32(at), get32(at + 8) | static_cast<uint64_t>(get32(at + 12)) << 32});
        }
        uint16_t length;
        memcpy(&length, &companion[at], 2);
        if (length == 0)
            return out;
        at += length;
    }
}

int LoadCompanionFile(CBaseArchive* archive, const std::string& companion)
{
    std::unique_ptr<CNAFile> file(NewWinFileCache());
    if (int rc = file->Open(companion.c_str(), 1, 0x80000000u, 0))
        return rc;
    return archive->LoadCompanion(file.get());
}

int SaveCompanionFile(CBaseArchive* archive, const std::string& companion)
{
    std::unique_ptr<CNAFile> file(NewWinFileCache());
    if (int rc = file->Open(companion.c_str(), 2, 0xC0000000u, 0))
        return rc;
    if (int rc = archive->SaveCompanion(file.get()))
        return rc;
    return file->Close();
}

// A companion decides which entry a sector is read from: one whose extents do
// not describe the entries they name is refused as a whole, whether it claims
// sectors an entry does not hold, names another entry or no entry at all.
TEST(HdArchive, CompanionNotMatchingItsEntriesIsRefused)
{
    CTempFolder folder;
    std::string path = folder / "hostile.kzf";
    // Sectors 0-127 plainly, 800-927 with a unit bitmap (units 0, 2, 4, 6, 9,
    // 11, 13 and 15 present, the others zero).
    const std::vector<uint8_t> plain = SectorPattern(128, 21);
    const std::vector<uint8_t> present = SectorPattern(64, 22);
    const uint8_t bitmap[2] = {0x55, 0xAA};
    {
        CallbackLog log;
        RecordPtr location(NewArchiveLocation(path.c_str()));
        ArchiveOpenParams params = Params(location.get(), &log);
        params.readOnly = 0;
        SHdCreateOptions options;
        options.archiveId = 77;
        CHDArchive writer;
        ASSERT_EQ(0, writer.Create(&params, options));
        HdEntryHeader entry{};
        entry.units = 16;
        entry.sectorsPerUnit = 8;
        ASSERT_EQ(0, writer.WriteEntry(&entry, nullptr, plain.data(), static_cast<uint32_t>(plain.size())));
        entry.firstSector = 800;
        entry.flags = kEntryBitmap;
        ASSERT_EQ(0, writer.WriteEntry(&entry, bitmap, present.data(), static_cast<uint32_t>(present.size())));
        ASSERT_EQ(0, writer.Finish());
    }
    std::vector<uint8_t> expected(128 * 512, 0);
    for (unsigned unit = 0, next = 0; unit < 16; ++unit)
        if ((bitmap[unit / 8] >> (unit % 8)) & 1)
            memcpy(&expected[unit * 4096], &present[4096 * next++], 4096);

    std::string companion = folder / "hostile.kfm";
    {
        CallbackLog log;
        ArchivePtr archive;
        ASSERT_EQ(0, Open(path, archive, &log));
        ASSERT_EQ(0, archive->BuildIndex());
        ASSERT_EQ(0, SaveCompanionFile(archive.get(), companion));
    }
    const std::vector<uint8_t> saved = ReadWholeFile(companion);
    const std::vector<SavedExtent> extents = SavedExtents(saved);
    ASSERT_EQ(2u, extents.size());
    const SavedExtent& first = extents[0].first == 0 ? extents[0] : extents[1];
    const SavedExtent& second = extents[0].first == 800 ? extents[0] : extents[1];
    ASSERT_EQ(800u, second.first);

    auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) { memcpy(&b[at], &v, 4); };
    auto put64 = [](std::vector<uint8_t>& b, size_t at, uint64_t v) { memcpy(&b[at], &v, 8); };
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
    } cases[] = {
        {"first sector 800 made 0", [&](std::vector<uint8_t>& b) { put32(b, second.at, 0); }},
        {"end past the entry's units", [&](std::vector<uint8_t>& b) { put32(b, second.at + 4, 2000); }},
        {"end before the entry's end", [&](std::vector<uint8_t>& b) { put32(b, second.at + 4, 900); }},
        {"offset of the other entry", [&](std::vector<uint8_t>& b) { put64(b, second.at + 8, first.offset); }},
        {"offset inside an entry's data", [&](std::vector<uint8_t>& b) { put64(b, second.at + 8, second.offset + 95); }},
        {"offset inside the header", [&](std::vector<uint8_t>& b) { put64(b, second.at + 8, 8); }},
        {"offset past the volume", [&](std::vector<uint8_t>& b) { put64(b, second.at + 8, 1ull << 40); }},
        {"bitmap flag dropped", [&](std::vector<uint8_t>& b) { b[second.at + 16] = 0; }},
        {"flags the entry does not have", [&](std::vector<uint8_t>& b) { b[second.at + 16] |= 0x02; }},
        {"another shift than the archive's", [&](std::vector<uint8_t>& b) { put32(b, 20 + 12, 9); }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = saved;
        c.damage(bytes);
        WriteWholeFile(companion, bytes);
        for (bool builtBefore : {false, true}) {
            CallbackLog log;
            ArchivePtr archive;
            ASSERT_EQ(0, Open(path, archive, &log));
            if (builtBefore) {
                ASSERT_EQ(0, archive->BuildIndex());
            }
            EXPECT_EQ(ARCERR_FORMAT, LoadCompanionFile(archive.get(), companion)) << c.what;
            EXPECT_FALSE(archive->IsIndexBuilt()) << c.what << ": no index is left to read through";
            std::vector<uint8_t> got(64 * 512);
            for (uint32_t sector : {0u, 200u, 800u, 1500u})
                EXPECT_EQ(ARCERR_BAD_ARGUMENT, archive->Read(0, sector, 64, got.data(), nullptr)) << c.what;
        }
    }

    WriteWholeFile(companion, saved);
    CallbackLog log;
    ArchivePtr archive;
    ASSERT_EQ(0, Open(path, archive, &log));
    ASSERT_EQ(0, LoadCompanionFile(archive.get(), companion));
    std::vector<uint8_t> got(128 * 512);
    ASSERT_EQ(0, archive->Read(0, 800, 128, got.data(), nullptr));
    EXPECT_TRUE(got == expected);
    ASSERT_EQ(0, archive->Read(0, 0, 128, got.data(), nullptr));
    EXPECT_TRUE(got == plain);
}

// In a flat archive the index says where in-place writes land: they stay
// inside the data of the entry that holds the sectors, whatever the index
// came from, and an entry without data is read as zeros and never written.
TEST(HdArchive, FlatWritesStayInsideTheirEntries)
{
    CTempFolder folder;
    std::string path = folder / "flatnd.kzf";
    const std::vector<uint8_t> data = SectorPattern(120, 31);
    {
        CallbackLog log;
        RecordPtr location(NewArchiveLocation(path.c_str()));
        ArchiveOpenParams params = Params(location.get(), &log);
        params.readOnly = 0;
        SHdCreateOptions options;
        options.flags = kHdFlat;
        options.archiveId = 5;
        CHDArchive writer;
        ASSERT_EQ(0, writer.Create(&params, options));
        for (uint32_t first : {0u, 40u, 80u}) {
            HdEntryHeader entry{};
            entry.firstSector = first;
            entry.units = 5;
            entry.sectorsPerUnit = 8;
            const bool empty = first == 40;
            if (empty)
                entry.entryFlags = kEntryNoData;
            ASSERT_EQ(0, writer.WriteEntry(&entry, nullptr, empty ? nullptr : &data[first * 512],
                                           empty ? 0 : 40 * 512));
        }
        ASSERT_EQ(0, writer.Finish());
    }
    const std::vector<uint8_t> original = ReadWholeFile(path);
    std::vector<uint8_t> expected = data;
    std::fill(expected.begin() + 40 * 512, expected.begin() + 80 * 512, 0);

    auto openWritable = [&](CHDArchive& archive, CallbackLog& log, RecordPtr& location) {
        location.reset(NewArchiveLocation(path.c_str()));
        ArchiveOpenParams params = Params(location.get(), &log);
        params.readOnly = 0;
        return archive.Open(&params, nullptr, nullptr, nullptr);
    };
    std::string companion = folder / "flatnd.kfm";
    {
        CallbackLog log;
        RecordPtr location;
        CHDArchive archive;
        ASSERT_EQ(0, openWritable(archive, log, location));
        ASSERT_EQ(0, archive.BuildIndex());
        std::vector<uint8_t> got(120 * 512, 0xEE);
        ASSERT_EQ(0, archive.Read(0, 0, 120, got.data(), nullptr));
        EXPECT_TRUE(got == expected) << "sectors of an entry without data read as zeros";
        std::vector<uint8_t> change(2 * 512, 0x42);
        EXPECT_EQ(ARCERR_NOT_POSSIBLE, archive.Read(1, 45, 2, change.data(), nullptr));
        EXPECT_EQ(ARCERR_NOT_POSSIBLE, archive.Read(1, 79, 2, change.data(), nullptr));
        ASSERT_EQ(0, SaveCompanionFile(&archive, companion));
    }
    EXPECT_TRUE(ReadWholeFile(path) == original) << "no byte of the archive changed";

    const std::vector<uint8_t> saved = ReadWholeFile(companion);
    const std::vector<SavedExtent> extents = SavedExtents(saved);
    ASSERT_EQ(3u, extents.size());
    auto find = [&](uint32_t first) {
        for (const SavedExtent& e : extents)
            if (e.first == first)
                return e;
        return SavedExtent{};
    };
    const SavedExtent a = find(0), c = find(80);
    struct Case {
        const char* what;
        size_t at;
        uint64_t value;
        int width;
    } cases[] = {
        {"sectors 0-39 sent into the entry of 80-119", a.at + 8, c.offset, 8},
        {"sectors 80-119 claimed to reach sector 400", c.at + 4, 400, 4},
        {"the entry of 0-39 moved onto the volume header", a.at + 8, 200, 8},
        {"the empty entry given data", find(40).at + 16, 0, 1},
    };
    for (const Case& k : cases) {
        std::vector<uint8_t> bytes = saved;
        memcpy(&bytes[k.at], &k.value, k.width);
        WriteWholeFile(companion, bytes);
        {
            CallbackLog log;
            RecordPtr location;
            CHDArchive archive;
            ASSERT_EQ(0, openWritable(archive, log, location));
            EXPECT_EQ(ARCERR_FORMAT, LoadCompanionFile(&archive, companion)) << k.what;
            std::vector<uint8_t> change(512, 0x42);
            for (uint32_t sector : {0u, 45u, 100u, 300u})
                EXPECT_NE(0, archive.Read(1, sector, 1, change.data(), nullptr)) << k.what << " " << sector;
        }
        EXPECT_TRUE(ReadWholeFile(path) == original) << k.what;
    }
}

TEST(HdArchive, HeaderEdgeCases)
{
    CTempFolder folder;
    std::string path = folder / "edge.kzf";
    const std::vector<uint8_t> data = SectorPattern(8 * 4, 3);
    WriteSettings settings;
    settings.password = "right";
    ASSERT_EQ(0, WriteArchive(path, settings, data));
    const std::vector<uint8_t> good = ReadWholeFile(path);

    CallbackLog log;
    ArchivePtr archive;
    EXPECT_EQ(ARCERR_PASSWORD, Open(path, archive, &log, "wrong"));
    EXPECT_EQ(ARCERR_PASSWORD, Open(path, archive, &log, "")) << "no key and no password callback";
    EXPECT_EQ(std::vector<uint8_t>(), log.codes) << "nothing read before the password check";

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int status;
    };
    auto patched = [&](size_t at, std::vector<uint8_t> value) {
        std::vector<uint8_t> b = good;
        memcpy(&b[at], value.data(), value.size());
        return b;
    };
    std::vector<Case> cases = {
        {"1239 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 1239), ARCERR_FORMAT},
        {"no magic", patched(0, {'K', 'I', 'm', 'h'}), ARCERR_FORMAT},
        {"major 3", patched(6, {3, 0}), ARCERR_VERSION},
        {"header longer than the volume", patched(12, {0xFF, 0xFF, 0xFF, 0xFF}), ARCERR_READ},
        {"header shorter than its fixed part", patched(12, {0x10, 0, 0, 0}), ARCERR_READ},
        {"partition area past the header", patched(48, {0xFF, 0xFF, 0xFF, 0x7F}), ARCERR_FORMAT},
        {"tail past the header", patched(236, {0xFF, 0xFF, 0xFF, 0xFF}), ARCERR_FORMAT},
        // 255 records claimed over an empty record area, one of them the
        // base reference the header says it has.
        {"absurd record count", patched(37, {0xFF, static_cast<uint8_t>(good[38] | kHdHasBase)}), ARCERR_FORMAT},
    };
    for (const Case& c : cases) {
        std::string p = folder / "case.kzf";
        WriteWholeFile(p, c.bytes);
        ArchivePtr a;
        EXPECT_EQ(c.status, Open(p, a, &log, "right")) << c.what;
        EXPECT_EQ(nullptr, a.get()) << c.what;
    }

    {
        // Records that claim more than the area holds are never walked past it.
        std::vector<uint8_t> bytes = patched(37, {0xFF});
        std::string p = folder / "records.kzf";
        WriteWholeFile(p, bytes);
        ArchivePtr a;
        HeaderPtr h;
        ASSERT_EQ(0, Open(p, a, &log, "right", &h));
        EXPECT_EQ(nullptr, FindHeaderRecord(h.get(), kRecordBaseArchive));
        unsigned walked = 0;
        for (ArchiveRecord* r = GetFirstHeaderRecord(h.get()); !EndOfHeaderRecords(h.get(), r);
             r = GetNextHeaderRecord(h.get(), r))
            ++walked;
        EXPECT_EQ(0u, walked);
    }

    // Password callback: asked once when no key is given.
    struct Asked {
        int calls = 0;
    } asked;
    RecordPtr location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params = Params(location.get(), &log);
    params.passwordCallback = [](uint8_t* key, int, void* context) -> int {
        ++static_cast<Asked*>(context)->calls;
        memcpy(key, "right", 5);
        return 1;
    };
    params.passwordContext = &asked;
    CHDArchive reader;
    EXPECT_EQ(0, reader.Open(&params, nullptr, nullptr, nullptr));
    EXPECT_EQ(1, asked.calls);
    EXPECT_EQ(ARCERR_OPEN, reader.Open(&params, nullptr, nullptr, nullptr)) << "already open";
}

TEST(HdArchive, AbortMarkerEndsTheStream)
{
    CTempFolder folder;
    std::string path = folder / "aborted.kzf";
    const std::vector<uint8_t> data = SectorPattern(8 * 6, 3);
    WriteSettings settings;
    settings.abort = true;
    ASSERT_EQ(0, WriteArchive(path, settings, data));
    CallbackLog log;
    ArchivePtr archive;
    ASSERT_EQ(0, Open(path, archive, &log));
    int end = 0;
    EXPECT_EQ(data, StreamData(archive.get(), &end));
    EXPECT_EQ(ARCERR_ABORT_MARKER, end);
}

// Three volumes named by the callback, all of one length, so that records
// can be patched in place.
class VolumeChain : public ::testing::Test {
protected:
    void SetUp() override
    {
        data = SectorPattern(8 * 30, 8);
        WriteSettings settings;
        settings.volumeLimit = 100;
        settings.compression = 0;  // stored: the data fills several volumes
        settings.options.label = "chain";
        CallbackLog log;
        for (int i = 2; i < 10; ++i)
            log.volumeNames.push_back(folder / ("v" + std::to_string(i) + ".kzf"));
        ASSERT_EQ(0, WriteArchive(folder / "v1.kzf", settings, data, &log, &volumes));
        ASSERT_GE(volumes.size(), 3u);
    }

    static void Replace(std::vector<uint8_t>& bytes, const std::string& from, const std::string& to)
    {
        for (size_t i = 0; i + from.size() <= bytes.size(); ++i)
            if (memcmp(&bytes[i], from.data(), from.size()) == 0)
                memcpy(&bytes[i], to.data(), to.size());
    }

    int ReadAll(CallbackLog& log, int* end)
    {
        ArchivePtr archive;
        if (int rc = Open(volumes[0], archive, &log))
            return rc;
        got = StreamData(archive.get(), end);
        return 0;
    }

    CTempFolder folder;
    std::vector<uint8_t> data, got;
    std::vector<std::string> volumes;
};

TEST_F(VolumeChain, LoopBackToItselfIsRefused)
{
    std::vector<uint8_t> second = ReadWholeFile(volumes[1]);
    Replace(second, "v3.kzf", "v1.kzf");
    WriteWholeFile(volumes[1], second);
    CallbackLog log;
    int end = 0;
    ASSERT_EQ(0, ReadAll(log, &end));
    EXPECT_EQ(ARCERR_FORMAT, end);

    ArchivePtr archive;
    ASSERT_EQ(0, Open(volumes[0], archive, &log));
    EXPECT_EQ(ARCERR_FORMAT, archive->BuildIndex());
}

TEST_F(VolumeChain, VolumeOfAnotherArchiveIsRefused)
{
    CTempFolder other;
    WriteSettings settings;
    settings.volumeLimit = 100;
    settings.compression = 0;
    settings.options.label = "other";
    CallbackLog writeLog;
    writeLog.volumeNames = {other / "v2.kzf"};
    std::vector<std::string> otherVolumes;
    ASSERT_EQ(0, WriteArchive(other / "v1.kzf", settings, SectorPattern(8 * 14, 1), &writeLog, &otherVolumes));
    ASSERT_GE(otherVolumes.size(), 2u);
    WriteWholeFile(volumes[1], ReadWholeFile(otherVolumes[1]));
    CallbackLog log;
    int end = 0;
    ASSERT_EQ(0, ReadAll(log, &end));
    EXPECT_EQ(ARCERR_FORMAT, end);
}

TEST_F(VolumeChain, MissingVolumeAsksOnceAndGivesUp)
{
    std::string moved = folder / "moved-v2.kzf";
    ASSERT_TRUE(MoveFileA(volumes[1].c_str(), moved.c_str()));
    CallbackLog log;
    int end = 0;
    ASSERT_EQ(0, ReadAll(log, &end));
    EXPECT_EQ(ARCERR_ABORTED, end) << "an uncorrected record is not retried";
    EXPECT_EQ(1, std::count(log.codes.begin(), log.codes.end(), ARCCB_VOLUME_MISSING));

    CallbackLog helped;
    helped.correctedPath = moved;
    ASSERT_EQ(0, ReadAll(helped, &end));
    EXPECT_EQ(ARCERR_END, end);
    EXPECT_EQ(data, got);
}

TEST_F(VolumeChain, MovedChainIsFoundBesideItsVolumes)
{
    CTempFolder other;
    std::vector<std::string> moved;
    for (const std::string& v : volumes) {
        moved.push_back(other / v.substr(v.find_last_of('\\') + 1));
        ASSERT_TRUE(MoveFileA(v.c_str(), moved.back().c_str()));
    }
    CallbackLog log;
    ArchivePtr archive;
    ASSERT_EQ(0, Open(moved[0], archive, &log));
    int end = 0;
    EXPECT_EQ(data, StreamData(archive.get(), &end));
    EXPECT_EQ(ARCERR_END, end);
    EXPECT_EQ(0, std::count(log.codes.begin(), log.codes.end(), ARCCB_VOLUME_MISSING));
}

TEST_F(VolumeChain, TruncatedVolumesGiveAStatus)
{
    const std::vector<uint8_t> last = ReadWholeFile(volumes.back());
    for (size_t cut : {size_t(0), size_t(100), size_t(1240), size_t(3400), size_t(3400 + 95), last.size() / 2,
                       last.size() - 1}) {
        WriteWholeFile(volumes.back(), std::vector<uint8_t>(last.begin(), last.begin() + cut));
        CallbackLog log;
        int end = 0;
        ASSERT_EQ(0, ReadAll(log, &end));
        EXPECT_NE(0, end);
        EXPECT_NE(ARCERR_END, end) << cut;
        ArchivePtr archive;
        ASSERT_EQ(0, Open(volumes[0], archive, &log));
        EXPECT_NE(0, archive->BuildIndex()) << cut;
    }
}

TEST_F(VolumeChain, DeleteVolumesRemovesChainAndCompanions)
{
    for (const std::string& v : volumes)
        WriteWholeFile(v.substr(0, v.size() - 4) + ".kfm", {1, 2, 3});
    CallbackLog log;
    ArchivePtr archive;
    ASSERT_EQ(0, Open(volumes[0], archive, &log));
    EXPECT_EQ(0, archive->DeleteVolumes());
    for (const std::string& v : volumes) {
        EXPECT_FALSE(FileExists(v)) << v;
        EXPECT_FALSE(FileExists(v.substr(0, v.size() - 4) + ".kfm")) << v;
    }
}

// The companion names the archive by its first volume's id, whichever volume
// the reader saw last, so that it loads on a reader fresh from the first.
TEST_F(VolumeChain, CompanionNamesTheArchiveByItsFirstVolume)
{
    for (size_t i = 1; i < volumes.size(); ++i) {
        std::vector<uint8_t> bytes = ReadWholeFile(volumes[i]);
        bytes[216] ^= 0x5A;
        WriteWholeFile(volumes[i], bytes);
    }
    std::string companion = folder / "v1.kfm";
    CallbackLog log;
    {
        ArchivePtr archive;
        ASSERT_EQ(0, Open(volumes[0], archive, &log));
        ASSERT_EQ(0, archive->BuildIndex());
        ASSERT_EQ(0, SaveCompanionFile(archive.get(), companion));
    }
    ArchivePtr fresh;
    ASSERT_EQ(0, Open(volumes[0], fresh, &log));
    ASSERT_EQ(0, LoadCompanionFile(fresh.get(), companion));
    std::vector<uint8_t> got(data.size());
    ASSERT_EQ(0, fresh->Read(0, 0, static_cast<uint32_t>(data.size() / 512), got.data(), nullptr));
    EXPECT_TRUE(got == data);
}

// Damage anywhere in an archive gives a status, never a crash, a hang or a
// read past a buffer.
TEST(HdArchive, DamageAlwaysGivesAStatus)
{
    CTempFolder folder;
    const std::vector<uint8_t> data = SectorPattern(8 * 12, 6);
    int n = 0;
    for (uint8_t compression : {uint8_t(kChoiceRunLength), uint8_t(kChoiceLzrw3), uint8_t(6)}) {
        for (bool sign : {false, true}) {
            std::string path = folder / ("d" + std::to_string(n++) + ".kzf");
            WriteSettings settings;
            settings.compression = compression;
            settings.options.signEntries = sign;
            settings.unitsPerEntry = 4;
            ASSERT_EQ(0, WriteArchive(path, settings, data));
            const std::vector<uint8_t> good = ReadWholeFile(path);
            const uint32_t headerLength = reinterpret_cast<const HdArchiveHeader*>(good.data())->length;
            std::mt19937 random(n);
            int failures = 0;
            for (int round = 0; round < 40; ++round) {
                std::vector<uint8_t> bad = good;
                int flips = 1 + random() % 4;
                for (int i = 0; i < flips; ++i) {
                    size_t at = headerLength + random() % (bad.size() - headerLength);
                    bad[at] ^= static_cast<uint8_t>(1 + random() % 255);
                }
                std::string p = folder / "damaged.kzf";
                WriteWholeFile(p, bad);
                CallbackLog log;
                RecordPtr location(NewArchiveLocation(p.c_str()));
                ArchiveOpenParams params = Params(location.get(), &log);
                params.eventCallback = nullptr;  // mismatching signatures then fail reads
                CHDArchive archive;
                ASSERT_EQ(0, archive.Open(&params, nullptr, nullptr, nullptr));
                int rc = archive.BuildIndex();
                std::vector<uint8_t> got(data.size());
                if (rc == 0)
                    rc = archive.Read(0, 0, 96, got.data(), nullptr);
                if (rc != 0) {
                    ++failures;
                } else if (got != data) {
                    EXPECT_FALSE(sign) << "a signed archive hands out no damaged data";
                }
            }
            EXPECT_GT(failures, 0);
        }
    }
}

TEST(HdArchive, SignatureMismatchGoesToTheCallback)
{
    CTempFolder folder;
    std::string path = folder / "signed.kzf";
    std::vector<uint8_t> data = SectorPattern(8 * 2, 1);
    WriteSettings settings;
    settings.options.flags = 0;  // stored, so one flipped byte changes the data only
    settings.options.signEntries = true;
    ASSERT_EQ(0, WriteArchive(path, settings, data));
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    const uint32_t headerLength = reinterpret_cast<const HdArchiveHeader*>(bytes.data())->length;
    bytes[headerLength + 95 + 700] ^= 1;
    WriteWholeFile(path, bytes);

    CallbackLog log;
    log.crcAnswer = 1;
    ArchivePtr archive;
    ASSERT_EQ(0, Open(path, archive, &log));
    HdEntryHeader entry;
    std::vector<uint8_t> bitmap, got;
    EXPECT_EQ(0, archive->ReadEntry(&entry, &bitmap, &got));
    EXPECT_EQ(1, std::count(log.codes.begin(), log.codes.end(), ARCCB_CRC_MISMATCH));

    RecordPtr location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params = Params(location.get(), nullptr);
    params.eventCallback = nullptr;
    CHDArchive quiet;
    ASSERT_EQ(0, quiet.Open(&params, nullptr, nullptr, nullptr));
    EXPECT_EQ(ARCERR_CRC, quiet.ReadEntry(&entry, &bitmap, &got));
}

TEST(HdArchive, AbsurdEntryFieldsGiveAStatus)
{
    CTempFolder folder;
    std::string path = folder / "absurd.kzf";
    std::vector<uint8_t> data = SectorPattern(8 * 2, 1);
    WriteSettings settings;
    settings.options.flags = 0;
    ASSERT_EQ(0, WriteArchive(path, settings, data));
    const std::vector<uint8_t> good = ReadWholeFile(path);
    const uint32_t at = reinterpret_cast<const HdArchiveHeader*>(good.data())->length;
    struct Case {
        size_t offset;
        std::vector<uint8_t> value;
    } cases[] = {
        {0, {'K', 'Y'}},                    // entry magic
        {7, {0xFF, 0xFF, 0xFF, 0xFF}},      // units
        {11, {0xFF, 0xFF, 0xFF, 0x7F}},     // data length
        {3, {0xFF, 0xFF, 0xFF, 0xFF}},      // first sector at the top of the range
        {2, {kEntryBitmap}},                // a bitmap that claims units
        {2, {kEntryPacked}},                // "packed" stored data
        {32, {0}},                          // sectors per unit 0 means 1
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = good;
        memcpy(&bad[at + c.offset], c.value.data(), c.value.size());
        std::string p = folder / "bad.kzf";
        WriteWholeFile(p, bad);
        CallbackLog log;
        ArchivePtr archive;
        ASSERT_EQ(0, Open(p, archive, &log));
        int end = 0;
        StreamData(archive.get(), &end);
        EXPECT_NE(ARCERR_END, end) << c.offset;
        ArchivePtr again;
        ASSERT_EQ(0, Open(p, again, &log));
        int rc = again->BuildIndex();
        if (rc == 0) {
            std::vector<uint8_t> got(16 * 512);
            rc = again->Read(0, 0, 16, got.data(), nullptr);
        }
        EXPECT_NE(0, rc) << c.offset;
    }
}

TEST(ArchiveRecords, LocationsAndHeaderRecordList)
{
    RecordPtr location(NewArchiveLocation("C:\\backup\\disk.kzf"));
    ASSERT_TRUE(location);
    EXPECT_EQ(strlen("C:\\backup\\disk.kzf") + 170, location->length);
    EXPECT_STREQ("C:\\backup\\disk.kzf", reinterpret_cast<const char*>(location.get()) + 165);
    EXPECT_STREQ("C:\\backup\\disk.kzf", GetRecordPath(location.get()));
    EXPECT_FALSE(IsPipeLocation(location.get()));
    RecordPtr pipe(NewArchiveLocation("PIPE:/x"));
    RecordPtr ftp(NewArchiveLocation("Ftp:/host/x"));
    EXPECT_TRUE(IsPipeLocation(pipe.get()));
    EXPECT_TRUE(IsFtpLocation(ftp.get()));
    CTempFolder folder;
    EXPECT_GT(LocationFreeSpace((folder / "disk.kzf").c_str()), 0);
    EXPECT_EQ(-1, LocationFreeSpace(std::string(3000, 'a').c_str()));
    RecordPtr broken(CopyArchiveRecord(location.get()));
    memset(reinterpret_cast<char*>(broken.get()) + 164, 'x', broken->length - 164);
    EXPECT_EQ(nullptr, GetRecordPath(broken.get())) << "unterminated strings";

    std::vector<uint8_t> bytes(kHdFixedHeaderLength + 16 + 400 + 8, 0);
    auto* header = reinterpret_cast<HdArchiveHeader*>(bytes.data());
    header->length = static_cast<uint32_t>(bytes.size());
    header->partitionAreaLength = 16;
    header->tailLength = 8;
    RecordPtr a(NewArchiveLocation("a"));
    RecordPtr b(NewArchiveLocation("bb"));
    a->type = 1;
    b->type = 10;
    ArchiveRecord* first = InsertHeaderRecord(header, a.get(), nullptr);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(bytes.data() + kHdFixedHeaderLength + 16, reinterpret_cast<uint8_t*>(first));
    ArchiveRecord* front = InsertHeaderRecord(header, b.get(), nullptr);
    ASSERT_NE(nullptr, front);
    EXPECT_EQ(2u, GetHeaderRecordCount(header));
    EXPECT_EQ(10, GetFirstHeaderRecord(header)->type);
    EXPECT_EQ(1, GetNextHeaderRecord(header, GetFirstHeaderRecord(header))->type);
    EXPECT_EQ(nullptr, InsertHeaderRecord(header, a.get(), nullptr)) << "would pass length minus tail";
    EXPECT_NE(nullptr, RemoveHeaderRecord(header, GetFirstHeaderRecord(header)));
    EXPECT_EQ(1u, GetHeaderRecordCount(header));
    EXPECT_EQ(1, GetFirstHeaderRecord(header)->type);
    EXPECT_EQ(nullptr, RemoveHeaderRecord(header, reinterpret_cast<ArchiveRecord*>(bytes.data() + 1300)));
    EXPECT_TRUE(EndOfHeaderRecords(header, GetNextHeaderRecord(header, GetFirstHeaderRecord(header))));
}

}  // namespace
