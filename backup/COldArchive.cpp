#include "Platform.h"

#include "COldArchive.h"

#include "ArchiveCipher.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "CNAFile.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const uint32_t kVolumeHeaderLength = 512;
const uint32_t kAccessRead = 0x80000000u;
const uint32_t kAccessWrite = 0x40000000u;
const uint32_t kDiskMagic = 0x4B534448;  // "HDSK"
const uint32_t kFirstTrackLength = 0x4400;
const size_t kMaxLogicalPartitions = 125;
const int kMaxVolumes = 100000;
// An allocation table larger than this is damage.
const uint64_t kMaxAllocationBytes = 64ull << 20;
// Stream position past the volumes known so far (the chain is not walked yet).
const int kPastKnownVolumes = -2;

// The most stored bytes a block of `unpacked` bytes can take: deflate's own
// worst case is a few bytes per 16 KiB over the input; anything beyond this
// bound is damage, refused before its stored bytes are allocated.
uint64_t MaxStoredLength(uint32_t unpacked)
{
    return unpacked + unpacked / 8 + 1024ull;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string FolderOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string FileNameOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Upper(const std::string& path)
{
    std::string out = path;
    for (char& c : out) {
        if (c == '/')
            c = '\\';
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

uint8_t VisibleId(uint8_t id)
{
    switch (id) {
    case 0x11: return 1;
    case 0x14: return 4;
    case 0x16: return 6;
    case 0x17: return 7;
    case 0x1B:
    case 0x1C: return 11;
    default: return id;
    }
}

bool IsAcceptedId(uint8_t id)
{
    switch (id) {
    case 1: case 4: case 6: case 7: case 11: case 12: case 14: case 0x83: return true;
    default: return false;
    }
}

}  // namespace

struct COldArchive::SVolume {
    std::string path;
    std::unique_ptr<CNAFile> file;
    uint64_t size = 0;
    uint64_t streamStart = 0;
    uint64_t streamLength = 0;
    uint8_t header[kVolumeHeaderLength] = {};
};

struct COldArchive::SBlock {
    uint64_t offset;      // of its 9-byte header in the stream
    uint32_t stored;
    uint32_t unpacked;
    uint64_t firstIndex;  // index of its first sector among the stored sectors
};

// A run of present sectors of a partition, with the index of its first
// sector among the sectors stored in the stream.
struct SRun {
    uint32_t first;
    uint32_t count;
    uint64_t index;
};

struct COldArchive::SPartition {
    uint8_t id = 0;
    uint32_t sectors = 0;
    bool allocationRead = false;
    std::vector<SRun> runs;
    uint64_t stored = 0;
    // FAT file systems: every copy of the table is served from the one stored.
    uint32_t fatStart = 0;
    uint32_t fatSectors = 0;
    uint32_t fatCopies = 0;
    std::vector<uint8_t> fat;
    // Where the stored sectors are: a plain stream offset, or blocks.
    uint64_t dataOffset = 0;
    std::vector<SBlock> blocks;

    void AddRun(uint32_t first, uint32_t count)
    {
        if (count == 0 || first >= sectors)
            return;
        count = std::min(count, sectors - first);
        if (!runs.empty() && runs.back().first + runs.back().count == first) {
            runs.back().count += count;
        } else {
            runs.push_back(SRun{first, count, stored});
        }
        stored += count;
    }
};

// Reads the items of the logical stream in order.
class COldArchive::CStream {
public:
    explicit CStream(COldArchive& archive) : m_archive(archive) {}

    uint64_t Position() const { return m_position; }

    // One item of `length` bytes (at most, in a compressed stream; exactly
    // when `exact`).
    int ReadItem(std::vector<uint8_t>& out, uint32_t length, bool exact)
    {
        if (!m_archive.m_compressed) {
            if (int rc = m_archive.StreamHolds(m_position, length))
                return rc;
            out.resize(length);
            if (int rc = m_archive.ReadStreamBytes(m_position, out.data(), length))
                return rc;
            if (m_archive.m_passworded)
                ArchiveCipher(out.data(), length, m_archive.m_key, 0);
            m_position += length;
            return 0;
        }
        SBlock block;
        if (int rc = ReadBlockHeader(&block))
            return rc;
        if (block.unpacked > length)
            return ARCERR_IO;
        if (int rc = m_archive.UnpackBlock(block, out))
            return rc;
        if (exact && out.size() != length)
            return ARCERR_FORMAT;
        m_position = block.offset + 9 + block.stored;
        return 0;
    }

    // Skips the `sectors` stored sectors that follow, noting where they are.
    int SkipData(SPartition& partition)
    {
        partition.dataOffset = m_position;
        if (!m_archive.m_compressed) {
            m_position += partition.stored * 512;
            return 0;
        }
        uint64_t index = 0;
        while (index < partition.stored) {
            SBlock block;
            if (int rc = ReadBlockHeader(&block))
                return rc;
            if (block.unpacked == 0 || block.unpacked % 512 || block.unpacked > kDataCacheSize)
                return ARCERR_FORMAT;
            block.firstIndex = index;
            partition.blocks.push_back(block);
            index += block.unpacked / 512;
            m_position = block.offset + 9 + block.stored;
        }
        return index == partition.stored ? 0 : ARCERR_FORMAT;
    }

private:
    int ReadBlockHeader(SBlock* block)
    {
        uint8_t header[9];
        if (int rc = m_archive.ReadStreamBytes(m_position, header, 9))
            return rc;
        if (m_archive.m_passworded)
            ArchiveCipher(header, 9, m_archive.m_key, 0);
        block->offset = m_position;
        block->stored = Get32(header);
        block->unpacked = Get32(header + 4);
        block->firstIndex = 0;
        if (block->unpacked > kDataCacheSize)
            return ARCERR_IO;
        if (block->stored > MaxStoredLength(block->unpacked))
            return ARCERR_FORMAT;
        return 0;
    }

    COldArchive& m_archive;
    uint64_t m_position = 0;
};

COldArchive::COldArchive() = default;
COldArchive::~COldArchive() = default;

int COldArchive::Callback(uint8_t code, void* arg, void* out)
{
    if (!m_params.eventCallback)
        return 0;
    return m_params.eventCallback(code, arg, m_params.eventContext, out);
}

CNAFile* COldArchive::OpenVolumeFile(const ArchiveRecord* location, int kind, int* status)
{
    (void)kind;
    if (!location) {
        if (status)
            *status = ARCERR_BAD_ARGUMENT;
        return nullptr;
    }
    CNAFile* file = nullptr;
    void* arg = const_cast<ArchiveRecord*>(location);
    int rc = m_params.eventCallback ? m_params.eventCallback(ARCCB_CREATE_FILE, arg, m_params.eventContext, &file)
                                    : ArchiveFileFactory(ARCCB_CREATE_FILE, arg, nullptr, &file);
    if (rc == 0 && !file)
        rc = ARCERR_NO_MEMORY;
    if (status)
        *status = rc;
    return rc == 0 ? file : nullptr;
}

int COldArchive::OpenVolume(const std::string& path, std::unique_ptr<SVolume>& volume)
{
    ArchiveRecord* location = NewArchiveLocation(path.c_str());
    if (!location)
        return ARCERR_NO_MEMORY;
    int rc = 0;
    volume = std::make_unique<SVolume>();
    volume->path = path;
    volume->file.reset(OpenVolumeFile(location, 0, &rc));
    FreeArchiveRecord(location);
    if (!volume->file)
        return rc ? rc : ARCERR_NO_MEMORY;
    rc = -1;
    if (!m_params.readOnly) {
        rc = volume->file->Open(path.c_str(), 1, kAccessRead | kAccessWrite, 0);
        if (rc == ARCERR_ABORTED)
            return rc;
        if (rc)
            m_params.readOnly = 1;
    }
    if (rc)
        rc = volume->file->Open(path.c_str(), 1, kAccessRead, 0);
    if (rc == ARCERR_ABORTED)
        return rc;
    if (rc)
        return ARCERR_OPEN;
    volume->size = volume->file->GetSize();
    if (volume->size < kVolumeHeaderLength)
        return ARCERR_FORMAT;
    if (volume->file->ReadAt(volume->header, kVolumeHeaderLength, 0) != 0)
        return ARCERR_READ;
    if (Get16(volume->header) != 0x5A4B)
        return ARCERR_FORMAT;
    volume->streamLength = volume->size - kVolumeHeaderLength;
    return 0;
}

int COldArchive::Open(const ArchiveOpenParams* params, HdArchiveHeader** headerOut, CBaseArchive* base,
                      const uint64_t* forbiddenId)
{
    (void)base;
    (void)forbiddenId;
    if (!params)
        return ARCERR_NO_MEMORY;
    if (m_open)
        return ARCERR_OPEN;
    try {
        m_params = *params;
        if (!params->location || !GetRecordPath(params->location))
            return ARCERR_BAD_ARGUMENT;
        const uint8_t* record = reinterpret_cast<const uint8_t*>(params->location);
        m_location.assign(record, record + params->location->length);
        m_params.location = reinterpret_cast<ArchiveRecord*>(m_location.data());
        // The password is text: at most 14 bytes of it, of which the key uses 13.
        memset(m_key, 0, sizeof m_key);
        for (size_t i = 0; i < sizeof m_key && params->key[i]; ++i)
            m_key[i] = params->key[i];

        std::unique_ptr<SVolume> first;
        if (int rc = OpenVolume(GetRecordPath(m_params.location), first))
            return rc;
        m_compressed = memcmp(first->header + 508, "CMPR", 4) == 0;
        m_passworded = first->header[407] == 1;
        if (m_passworded && !CheckArchivePassword(first->header + 408, m_key))
            return ARCERR_PASSWORD;
        m_volumes.clear();
        m_volumes.push_back(std::move(first));

        m_header.assign(1752, 0);
        auto* header = reinterpret_cast<HdArchiveHeader*>(m_header.data());
        header->length = 1752;
        header->unitSize = 4096;
        header->flags = kHdNotABase | (m_compressed ? kHdPacked : 0) | (m_passworded ? kHdPassword : 0);
        m_open = true;

        int rc = MapStream();
        if (rc == kPastKnownVolumes) {
            rc = 0;  // the rest of the stream is in volumes not opened yet
        } else if (rc) {
            m_open = false;
            return rc;
        }
        header->kind = m_kind == kWholeDisk ? 3 : m_kind == 5 ? 1 : 0;
        if (headerOut)
            return GetHeaderCopy(headerOut);
        return 0;
    } catch (...) {
        return StatusOfException();
    }
}

const HdArchiveHeader* COldArchive::GetHeader()
{
    return m_header.empty() ? nullptr : reinterpret_cast<const HdArchiveHeader*>(m_header.data());
}

int COldArchive::GetHeaderCopy(HdArchiveHeader** out)
{
    if (!out)
        return ARCERR_BAD_ARGUMENT;
    *out = nullptr;
    if (!m_open)
        return ARCERR_READ;
    auto* copy = static_cast<uint8_t*>(malloc(m_header.size()));
    if (!copy)
        return ARCERR_NO_MEMORY;
    memcpy(copy, m_header.data(), m_header.size());
    *out = reinterpret_cast<HdArchiveHeader*>(copy);
    return 0;
}

COldArchive::SPartitionInfo COldArchive::GetPartitionInfo(size_t index) const
{
    SPartitionInfo info{};
    if (index < m_partitions.size()) {
        info.systemId = m_partitions[index]->id;
        info.sectors = m_partitions[index]->sectors;
        info.allocationRead = m_partitions[index]->allocationRead;
    }
    return info;
}

int COldArchive::ReadStreamBytes(uint64_t offset, void* buffer, uint32_t n)
{
    uint8_t* out = static_cast<uint8_t*>(buffer);
    for (const auto& volume : m_volumes) {
        if (n == 0)
            return 0;
        uint64_t end = volume->streamStart + volume->streamLength;
        if (offset >= end)
            continue;
        uint64_t within = offset - volume->streamStart;
        uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(n, end - offset));
        SetLastError(0);
        if (volume->file->ReadAt(out, piece, kVolumeHeaderLength + within) != 0)
            return GetLastError() == ERROR_OPERATION_ABORTED ? ARCERR_ABORTED : ARCERR_READ;
        out += piece;
        offset += piece;
        n -= piece;
    }
    if (n == 0)
        return 0;
    // Past the last volume: either the chain is not walked yet or the stream
    // is cut short.
    const SVolume& last = *m_volumes.back();
    bool more = last.header[10] != 0 && !m_mapped;
    return more ? kPastKnownVolumes : ARCERR_READ;
}

int COldArchive::StreamHolds(uint64_t offset, uint64_t n) const
{
    const SVolume& last = *m_volumes.back();
    const uint64_t end = last.streamStart + last.streamLength;
    if (offset <= end && end - offset >= n)
        return 0;
    // As ReadStreamBytes answers past the last volume.
    return last.header[10] != 0 && !m_mapped ? kPastKnownVolumes : ARCERR_READ;
}

int COldArchive::UnpackBlock(const SBlock& block, std::vector<uint8_t>& out)
{
    if (block.unpacked > kDataCacheSize)
        return ARCERR_IO;
    if (block.stored > MaxStoredLength(block.unpacked))
        return ARCERR_FORMAT;
    if (int rc = StreamHolds(block.offset + 9, block.stored))
        return rc;
    std::vector<uint8_t> stored(block.stored);
    if (int rc = ReadStreamBytes(block.offset + 9, stored.data(), block.stored))
        return rc;
    if (m_passworded)
        ArchiveCipher(stored.data(), stored.size(), m_key, 0);
    out.resize(block.unpacked);
    z_stream z = {};
    if (inflateInit_(&z, "1.1.4", static_cast<int>(sizeof(z_stream))) != Z_OK)
        return ARCERR_IO;
    uint8_t dummy = 0;
    z.next_in = stored.empty() ? &dummy : stored.data();
    z.avail_in = static_cast<uInt>(stored.size());
    z.next_out = out.empty() ? &dummy : out.data();
    z.avail_out = static_cast<uInt>(out.size());
    // Every block is one piece of a deflate stream that never ends: the end
    // of a stream is as much a fault as any other result but Z_OK.
    int rc = inflate(&z, Z_PARTIAL_FLUSH);
    uLong total = z.total_out;
    inflateEnd(&z);
    if (rc != Z_OK)
        return ARCERR_IO;
    out.resize(total);
    return 0;
}

int COldArchive::MapPartition(CStream& stream)
{
    std::vector<uint8_t> descriptor;
    if (int rc = stream.ReadItem(descriptor, 512, true))
        return rc;
    auto partition = std::make_unique<SPartition>();
    partition->sectors = Get32(descriptor.data());
    uint8_t id = VisibleId(descriptor[4]);
    if (!IsAcceptedId(id))
        return ARCERR_FORMAT;
    std::vector<uint8_t> boot;
    if (int rc = stream.ReadItem(boot, id == 0x83 ? 1536 : 512, true))
        return rc;
    if (id == 4 && Get16(&boot[17]) == 0) {
        if (memcmp(&boot[54], "FAT16", 5) == 0 && boot[38] == 0x29)
            id = 4;
        else if (memcmp(&boot[82], "FAT32", 5) == 0 && boot[66] == 0x29)
            id = 11;
        else if (boot[38] == 0x80)
            id = 7;
        else
            return ARCERR_FORMAT;
    }
    partition->id = id;
    SPartition& p = *partition;
    const bool signed55 = Get16(&boot[510]) == 0xAA55;
    if (!signed55 && id != 0x83) {
        p.AddRun(0, p.sectors);
    } else if (id == 1 || id == 4 || id == 6 || id == 14 || id == 11 || id == 12) {
        const bool fat32 = id == 11 || id == 12;
        const uint32_t spc = boot[13];
        const uint32_t reserved = Get16(&boot[14]);
        const uint32_t copies = boot[16];
        const uint32_t rootEntries = Get16(&boot[17]);
        const uint32_t spf = fat32 ? Get32(&boot[36]) : Get16(&boot[22]);
        if (spc == 0 || copies == 0 || spf == 0 || static_cast<uint64_t>(spf) * 512 > kMaxAllocationBytes)
            return ARCERR_FORMAT;
        const uint32_t rootSectors = fat32 ? 0 : (rootEntries * 32 + 511) / 512;
        const uint64_t dataStart = static_cast<uint64_t>(reserved) + static_cast<uint64_t>(copies) * spf + rootSectors;
        if (dataStart > p.sectors)
            return ARCERR_FORMAT;
        if (int rc = stream.ReadItem(p.fat, spf * 512, true))
            return rc;
        p.allocationRead = true;
        p.fatStart = reserved;
        p.fatSectors = spf;
        p.fatCopies = copies;
        p.AddRun(0, reserved);
        p.AddRun(static_cast<uint32_t>(reserved + copies * spf), rootSectors);
        const uint64_t clusters = (p.sectors - dataStart) / spc;
        const uint64_t entries = id == 1 ? p.fat.size() * 2 / 3 : fat32 ? p.fat.size() / 4 : p.fat.size() / 2;
        for (uint64_t c = 2; c < clusters + 2 && c < entries; ++c) {
            uint32_t value;
            if (id == 1) {
                size_t at = static_cast<size_t>(c * 3 / 2);
                value = (c & 1) ? (p.fat[at] >> 4) | (p.fat[at + 1] << 4) : p.fat[at] | ((p.fat[at + 1] & 0x0F) << 8);
            } else if (fat32) {
                value = Get32(&p.fat[static_cast<size_t>(c * 4)]) & 0x0FFFFFFF;
            } else {
                value = Get16(&p.fat[static_cast<size_t>(c * 2)]);
            }
            if (value)
                p.AddRun(static_cast<uint32_t>(dataStart + (c - 2) * spc), spc);
        }
    } else {
        // NTFS: the cluster bitmap; ext2 (0x83): the block bitmap, from block
        // 0, with the block size of the superblock behind the boot sector.
        uint64_t units;
        uint32_t sectorsPerUnit;
        if (id == 7) {
            sectorsPerUnit = boot[13];
            uint64_t total = Get32(&boot[40]) | (static_cast<uint64_t>(Get32(&boot[44])) << 32);
            if (sectorsPerUnit == 0)
                return ARCERR_FORMAT;
            units = std::min<uint64_t>(total, p.sectors) / sectorsPerUnit;
        } else {
            uint32_t logBlock = Get32(&boot[1024 + 24]);
            if (logBlock > 6)
                return ARCERR_FORMAT;
            sectorsPerUnit = (1024u << logBlock) / 512;
            units = std::min<uint64_t>(Get32(&boot[1024 + 4]), p.sectors / sectorsPerUnit);
        }
        uint64_t bitmapBytes = ((units + 7) / 8 + 511) / 512 * 512;
        if (bitmapBytes > kMaxAllocationBytes)
            return ARCERR_FORMAT;
        std::vector<uint8_t> bitmap;
        if (int rc = stream.ReadItem(bitmap, static_cast<uint32_t>(bitmapBytes), true))
            return rc;
        p.allocationRead = true;
        for (uint64_t u = 0; u < units; ++u)
            if ((bitmap[static_cast<size_t>(u / 8)] >> (u % 8)) & 1)
                p.AddRun(static_cast<uint32_t>(u * sectorsPerUnit), sectorsPerUnit);
    }
    if (int rc = stream.SkipData(p))
        return rc;
    m_partitions.push_back(std::move(partition));
    return 0;
}

int COldArchive::MapStream()
{
    m_partitions.clear();
    m_cachedBlock = ~0ull;
    m_kind = 0;
    CStream stream(*this);
    std::vector<uint8_t> first;
    if (int rc = stream.ReadItem(first, 512, true))
        return rc == kPastKnownVolumes ? rc : rc == ARCERR_READ ? ARCERR_FORMAT : rc;
    int rc = 0;
    if (Get32(first.data()) == kDiskMagic) {
        m_kind = kWholeDisk;
        std::vector<uint8_t> mbr, track;
        if ((rc = stream.ReadItem(mbr, 512, true)) || (rc = stream.ReadItem(track, kFirstTrackLength, true)))
            return rc == kPastKnownVolumes ? rc : ARCERR_FORMAT;
        for (int k = 0; k < 4; ++k) {
            uint8_t id = mbr[450 + 16 * k];
            if (id == 0)
                break;
            if (id == 5 || id == 15) {
                std::vector<uint8_t> list;
                if ((rc = stream.ReadItem(list, 512, true)))
                    return rc;
                for (size_t i = 0; i < kMaxLogicalPartitions && Get32(&list[i * 4]) != 0xFFFFFFFFu; ++i)
                    if ((rc = MapPartition(stream)))
                        return rc;
            } else if ((rc = MapPartition(stream))) {
                return rc;
            }
        }
    } else if (memcmp(first.data() + 1, "ENT", 3) == 0) {
        if (first[0] == 5 || first[0] == 15) {
            m_kind = kPartitionList;
            std::vector<uint8_t> list;
            if ((rc = stream.ReadItem(list, 512, true)))
                return rc;
            for (size_t i = 0; i < kMaxLogicalPartitions && Get32(&list[i * 4]) != 0xFFFFFFFFu; ++i)
                if ((rc = MapPartition(stream)))
                    return rc;
        } else {
            m_kind = kSinglePartition;
            if ((rc = MapPartition(stream)))
                return rc;
        }
    } else {
        return ARCERR_FORMAT;
    }
    m_mapped = true;
    if (!m_header.empty())
        reinterpret_cast<HdArchiveHeader*>(m_header.data())->kind = m_kind == kWholeDisk ? 3 : 0;
    return 0;
}

int COldArchive::WalkChain()
{
    m_volumes.resize(1);
    const std::string firstPath = m_volumes[0]->path;
    std::vector<std::string> seen = {Upper(firstPath)};
    for (int count = 1; count < kMaxVolumes; ++count) {
        const SVolume& current = *m_volumes.back();
        char name[397] = {};
        memcpy(name, current.header + 10, sizeof name - 1);
        if (!name[0])
            return 0;
        std::string path = name;
        std::string candidates[2] = {path, FolderOf(firstPath) + FileNameOf(path)};
        std::unique_ptr<SVolume> next;
        int rc = ARCERR_OPEN;
        for (int attempt = 0; attempt <= 8 && rc; ++attempt) {
            for (const std::string& candidate : candidates) {
                if (std::find(seen.begin(), seen.end(), Upper(candidate)) != seen.end())
                    return ARCERR_FORMAT;  // the chain loops back onto itself
                rc = OpenVolume(candidate, next);
                if (rc == 0 || rc == ARCERR_ABORTED || rc == ARCERR_FORMAT)
                    break;
            }
            if (rc == 0 || rc == ARCERR_ABORTED || rc == ARCERR_FORMAT)
                break;
            ArchiveRecord* record = NewArchiveLocation(path.c_str());
            if (!record)
                return ARCERR_NO_MEMORY;
            std::vector<uint8_t> asked(std::max<size_t>(record->length, kMaxBaseRecordLength), 0);
            memcpy(asked.data(), record, record->length);
            FreeArchiveRecord(record);
            std::vector<uint8_t> before = asked;
            // A nonzero answer, no callback, or an answer that corrects
            // nothing all end the search.
            if (!m_params.eventCallback || Callback(ARCCB_VOLUME_MISSING, asked.data(), nullptr) != 0 ||
                asked == before)
                return ARCERR_ABORTED;
            const char* corrected = GetRecordPath(reinterpret_cast<ArchiveRecord*>(asked.data()));
            if (!corrected)
                return ARCERR_ABORTED;
            candidates[0] = candidates[1] = corrected;
        }
        if (rc)
            return rc;
        next->streamStart = current.streamStart + current.streamLength;
        seen.push_back(Upper(next->path));
        m_volumes.push_back(std::move(next));
    }
    return ARCERR_FORMAT;
}

int COldArchive::BuildIndex()
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_READ;
    try {
        m_mapped = false;
        if (int rc = WalkChain())
            return rc;
        m_mapped = true;  // every volume is known: running off the end is damage
        int rc = MapStream();
        if (rc) {
            m_mapped = false;
            return rc;
        }
        m_indexBuilt = true;
        return 0;
    } catch (...) {
        return StatusOfException();
    }
}

int COldArchive::LoadCompanion(CNAFile* file)
{
    (void)file;
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_READ;
    try {
        m_volumes.resize(1);
        int rc = MapStream();
        return rc == kPastKnownVolumes ? ARCERR_READ : rc;
    } catch (...) {
        return StatusOfException();
    }
}

int COldArchive::ReadPartitionData(size_t index, uint32_t first, uint32_t count, uint8_t* buffer)
{
    SPartition& p = *m_partitions[index];
    const uint64_t end = static_cast<uint64_t>(first) + count;
    uint64_t sector = first;
    while (sector < end) {
        uint8_t* out = buffer + (sector - first) * 512;
        const uint64_t fatEnd = static_cast<uint64_t>(p.fatStart) + static_cast<uint64_t>(p.fatSectors) * p.fatCopies;
        if (p.fatSectors && sector >= p.fatStart && sector < fatEnd) {
            size_t at = static_cast<size_t>((sector - p.fatStart) % p.fatSectors) * 512;
            memcpy(out, &p.fat[at], 512);
            ++sector;
            continue;
        }
        // The run holding this sector, or the next one after it.
        auto run = std::upper_bound(p.runs.begin(), p.runs.end(), sector,
                                    [](uint64_t s, const SRun& r) { return s < r.first; });
        if (run != p.runs.begin() && sector < std::prev(run)->first + static_cast<uint64_t>(std::prev(run)->count)) {
            --run;
        } else {
            // Absent: the buffer keeps what it held, up to the next run or FAT.
            uint64_t next = run == p.runs.end() ? end : std::min<uint64_t>(end, run->first);
            if (p.fatSectors && sector < p.fatStart)
                next = std::min<uint64_t>(next, p.fatStart);
            sector = std::max(next, sector + 1);
            continue;
        }
        uint64_t runEnd = std::min<uint64_t>(end, run->first + static_cast<uint64_t>(run->count));
        if (p.fatSectors && sector < p.fatStart)
            runEnd = std::min<uint64_t>(runEnd, p.fatStart);
        uint64_t storedIndex = run->index + (sector - run->first);
        uint32_t n = static_cast<uint32_t>(runEnd - sector);
        if (!m_compressed) {
            if (int rc = ReadStreamBytes(p.dataOffset + storedIndex * 512, out, n * 512))
                return rc == kPastKnownVolumes ? ARCERR_READ : rc;
            if (m_passworded)
                for (uint32_t i = 0; i < n; ++i)
                    ArchiveCipher(out + i * 512, 512, m_key, 0);
        } else {
            auto block = std::upper_bound(p.blocks.begin(), p.blocks.end(), storedIndex,
                                          [](uint64_t i, const SBlock& b) { return i < b.firstIndex; });
            if (block == p.blocks.begin())
                return ARCERR_FORMAT;
            --block;
            uint64_t key = block->offset;
            if (m_cachedBlock != key) {
                m_cachedBlock = ~0ull;
                if (int rc = UnpackBlock(*block, m_cache))
                    return rc == kPastKnownVolumes ? ARCERR_READ : rc;
                if (m_cache.size() != block->unpacked)
                    return ARCERR_FORMAT;
                m_cachedBlock = key;
            }
            uint64_t within = storedIndex - block->firstIndex;
            n = static_cast<uint32_t>(std::min<uint64_t>(n, block->unpacked / 512 - within));
            memcpy(out, &m_cache[static_cast<size_t>(within * 512)], static_cast<size_t>(n) * 512);
        }
        sector += n;
    }
    return 0;
}

int COldArchive::Read(int partition, uint32_t firstSector, uint32_t count, void* buffer, uint32_t* done)
{
    if (done)
        *done = 0;
    ArchiveMutexLock lock(m_mutex);
    if (!m_open || !m_mapped)
        return ARCERR_READ;
    if (partition < 0 || static_cast<size_t>(partition) >= m_partitions.size())
        return ARCERR_READ;
    if (count && !buffer)
        return ARCERR_BAD_ARGUMENT;
    try {
        int rc = ReadPartitionData(static_cast<size_t>(partition), firstSector, count, static_cast<uint8_t*>(buffer));
        if (rc == 0 && done)
            *done = count;
        return rc;
    } catch (...) {
        return StatusOfException();
    }
}
