#pragma once
// The older archive format: a chain of volume files, each opening with a
// 512-byte volume header ("KZ"), whose contents after the headers form one
// logical stream holding a partition image, a list of partition images or a
// whole-disk image. Only the sectors that a partition's file system marks as
// used are stored, so the reader rebuilds each partition's allocation from
// the stored boot sector and allocation table and maps every requested
// sector to its place in the stream. Read side only.
//
// Stream items (descriptors, boot records, allocation tables) are read as
// one piece each: raw bytes in a plain stream, one packed block each in a
// compressed ("CMPR") stream. The used sectors follow each partition's
// allocation table: whole sectors in a plain stream, blocks of at most
// 0x1FC000 unpacked bytes in a compressed one. A passworded stream deciphers
// every piece it reads from stream position 0, plain sector data 512 bytes
// at a time.
#include "ArchiveStatus.h"
#include "CBaseArchive.h"

#include <memory>
#include <string>
#include <vector>

class CNAFile;

class COldArchive : public CBaseArchive {
public:
    // Archive kinds of the stream's first descriptor.
    enum EKind { kSinglePartition = 1, kPartitionList = 2, kWholeDisk = 4 };

    // One partition of the image, as the reader mapped it.
    struct SPartitionInfo {
        uint8_t systemId;      // after hidden ids were made visible and id 4 refined
        uint32_t sectors;      // size from the descriptor
        bool allocationRead;   // false: every sector is present
    };

    COldArchive();
    ~COldArchive() override;

    int Open(const ArchiveOpenParams* params, HdArchiveHeader** headerOut, CBaseArchive* base,
             const uint64_t* forbiddenId) override;
    CNAFile* OpenVolumeFile(const ArchiveRecord* location, int kind, int* status) override;
    int ReadEntry(HdEntryHeader*, std::vector<uint8_t>*, std::vector<uint8_t>*) override { return ARCERR_BAD_ARGUMENT; }
    int WriteEntry(const HdEntryHeader*, const uint8_t*, const uint8_t*, uint32_t) override { return ARCERR_BAD_ARGUMENT; }
    CBaseArchive* GetBaseArchive() override { return nullptr; }
    // `mode` is the partition index.
    int Read(int partition, uint32_t firstSector, uint32_t count, void* buffer, uint32_t* done) override;
    int GetHeaderCopy(HdArchiveHeader** header) override;
    int BuildIndex() override;
    int LoadCompanion(CNAFile* file) override;
    int SaveCompanion(CNAFile*) override { return ARCERR_NOT_POSSIBLE; }
    const ArchiveOpenParams* GetParams() override { return nullptr; }
    const HdArchiveHeader* GetHeader() override;
    int AttachBase(CBaseArchive*) override { return ARCERR_BAD_ARGUMENT; }
    int DeleteVolumes() override { return 0; }

    int GetKind() const { return m_kind; }
    size_t GetPartitionCount() const { return m_partitions.size(); }
    SPartitionInfo GetPartitionInfo(size_t index) const;
    size_t GetVolumeCount() const { return m_volumes.size(); }

    // A plain or compressed block's largest unpacked size.
    static const uint32_t kDataCacheSize = 0x1FC000;

private:
    struct SVolume;
    struct SPartition;
    struct SBlock;
    class CStream;

    int OpenVolume(const std::string& path, std::unique_ptr<SVolume>& volume);
    int WalkChain();
    int MapStream();
    int MapPartition(CStream& stream);
    int ReadPartitionData(size_t index, uint32_t first, uint32_t count, uint8_t* buffer);
    int ReadStreamBytes(uint64_t offset, void* buffer, uint32_t n);
    // Whether the known stream holds `n` bytes at `offset`: 0, or the status
    // ReadStreamBytes would give, before anything is allocated for them.
    int StreamHolds(uint64_t offset, uint64_t n) const;
    int UnpackBlock(const SBlock& block, std::vector<uint8_t>& out);
    int Callback(uint8_t code, void* arg, void* out);

    ArchiveOpenParams m_params{};
    std::vector<uint8_t> m_location;
    std::vector<std::unique_ptr<SVolume>> m_volumes;
    std::vector<std::unique_ptr<SPartition>> m_partitions;
    std::vector<uint8_t> m_header;  // the synthesised newer-form header
    bool m_open = false;
    bool m_mapped = false;
    bool m_compressed = false;
    bool m_passworded = false;
    uint8_t m_key[14] = {};
    int m_kind = 0;

    // The last unpacked data block.
    std::vector<uint8_t> m_cache;
    uint64_t m_cachedBlock = ~0ull;
};
