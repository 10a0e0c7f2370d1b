#pragma once
// The newer archive format: a chain of volume files, each opening with a
// header ("KImg") and continuing with a stream of 95-byte entry headers and
// their data. Entries hold runs of sectors (packed per block, with optional
// unit bitmaps), links to the next volume, padding and the end marker.
// The same class writes the format: entries, packed blocks with each method,
// volume chains with a size limit and padding, passwords, differential
// archives over a base.
//
// Reading keeps every opened volume with its extent index; sector reads go
// through the indexes (or, in a flat archive, straight into the entries). In a
// differential archive the sectors it does not hold, and the units its
// bitmaps mark absent, come from the base archive.
#include "CBaseArchive.h"
#include "CBlockPacker.h"
#include "CExtentIndex.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CNAFile;

// What a new archive looks like; the writer fills in the rest of the header.
struct SHdCreateOptions {
    uint16_t major = 2;
    uint16_t minor = 0x10;
    uint32_t unitSize = 4096;
    uint8_t kind = 0;
    uint8_t flags = kHdPacked;  // kHdPacked, kHdFlat, kHdNotABase; password and base are set by the writer
    bool signEntries = false;
    std::string label;
    std::vector<uint8_t> partitionArea;
    uint64_t archiveId = 0;
    uint32_t recordAreaLength = 2048;
    uint32_t tailLength = 0;
    // Makes a differential archive over this open archive of the newer format.
    CBaseArchive* base = nullptr;
};

class CHDArchive : public CBaseArchive {
public:
    CHDArchive();
    ~CHDArchive() override;

    int Open(const ArchiveOpenParams* params, HdArchiveHeader** headerOut, CBaseArchive* base,
             const uint64_t* forbiddenId) override;
    CNAFile* OpenVolumeFile(const ArchiveRecord* location, int kind, int* status) override;
    int ReadEntry(HdEntryHeader* entry, std::vector<uint8_t>* bitmap, std::vector<uint8_t>* data) override;
    int WriteEntry(const HdEntryHeader* entry, const uint8_t* bitmap, const uint8_t* data,
                   uint32_t dataLength) override;
    CBaseArchive* GetBaseArchive() override { return m_base; }
    int Read(int mode, uint32_t firstSector, uint32_t count, void* buffer, uint32_t* done) override;
    int GetHeaderCopy(HdArchiveHeader** header) override;
    int BuildIndex() override;
    int LoadCompanion(CNAFile* file) override;
    int SaveCompanion(CNAFile* file) override;
    const ArchiveOpenParams* GetParams() override { return &m_params; }
    const HdArchiveHeader* GetHeader() override;
    int AttachBase(CBaseArchive* child) override;
    int DeleteVolumes() override;

    // Writing: creates the first volume at the params' location. WriteEntry
    // then appends entries; Finish closes the last volume with the end marker
    // (the abort marker after Abort) and writes every header back.
    int Create(const ArchiveOpenParams* params, const SHdCreateOptions& options);
    int Finish();

    size_t GetVolumeCount() const { return m_volumes.size(); }
    std::string GetVolumePath(size_t index) const;

    // How often a missing volume or base is looked for again after the
    // callback corrected its record; the callback must change the record for
    // a retry to happen at all.
    static const int kMaxLocationRetries = 8;

private:
    struct SVolume;
    struct SCachedEntry;

    int OpenFirstVolume(const uint64_t* forbiddenId);
    int OpenFile(const std::string& path, std::unique_ptr<CNAFile>& file, bool allowWrite);
    int ReadVolumeHeader(SVolume& volume);
    int OpenBase(CBaseArchive* base);
    int OpenNextVolume(const std::vector<uint8_t>& record, size_t* index);
    int FollowLink(size_t volume, const std::vector<uint8_t>& record, size_t* index);
    bool IsKnownVolumePath(const std::string& path) const;

    int ReadRaw(SVolume& volume, uint64_t offset, void* buffer, uint32_t n);
    int ReadStream(SVolume& volume, uint64_t offset, void* buffer, uint32_t n);
    int ReadPart(SVolume& volume, uint64_t* at, uint64_t expected, bool packed, std::vector<uint8_t>* out);
    int LoadEntry(size_t volume, uint64_t offset, HdEntryHeader* header, uint64_t* size,
                  std::vector<uint8_t>* bitmap, std::vector<uint8_t>* data, bool loadData);
    int CheckSignature(HdEntryHeader* header, const std::vector<uint8_t>& data);
    void ReportProgress(uint64_t offset, uint64_t size);
    int Callback(uint8_t code, void* arg, void* out);

    int LookupExtent(uint32_t sector, uint32_t count, size_t* volume, SExtentMatch* match) const;
    int ReadIndexed(uint32_t first, uint32_t count, uint8_t* buffer);
    int ReadFromEntry(size_t volume, const SExtent& extent, uint32_t first, uint32_t count, uint8_t* buffer);
    bool IsFlat() const;
    int CheckExtent(size_t volume, const SExtent& extent, uint64_t* entryEnd);
    int CheckCompanionIndex(size_t volume);
    int LoadCompanionIndexes(const std::function<int(void*, uint32_t)>& read, uint64_t& available);
    int ReadFromBase(uint32_t first, uint32_t count, uint8_t* buffer);
    int TransferFlat(bool write, uint32_t first, uint32_t count, uint8_t* buffer);
    int WalkVolumes();

    // Writing.
    int WritePiece(const HdEntryHeader& entry, const uint8_t* bitmap, const uint8_t* data, uint32_t unitStart,
                   uint32_t unitCount);
    int BuildEntryBytes(const HdEntryHeader& entry, const uint8_t* bitmap, const uint8_t* data,
                        uint32_t unitStart, uint32_t unitCount, std::vector<uint8_t>& out);
    void AppendPart(const uint8_t* data, size_t length, bool packed, std::vector<uint8_t>& out);
    int WriteBytes(const void* data, size_t length);
    int StartVolume(const std::string& path);
    int CloseVolume(const ArchiveRecord* next);
    int NextVolume();
    std::vector<uint8_t> BuildVolumeHeader(const ArchiveRecord* next) const;
    uint64_t VolumeLimitBytes() const;

    bool IsEnciphered() const { return m_enciphered; }
    void Cipher(void* data, size_t length, uint64_t position) const;

    ArchiveOpenParams m_params{};
    std::vector<uint8_t> m_location;
    std::vector<std::unique_ptr<SVolume>> m_volumes;
    size_t m_current = 0;  // the volume whose header is "the header in memory"
    bool m_open = false;
    uint8_t m_key[14] = {};
    bool m_enciphered = false;
    bool m_signed = false;
    bool m_checkSignatures = true;
    uint32_t m_shift = 0;
    uint32_t m_blockHeaderLength = 8;
    CBlockPacker m_packer;

    // Entry stream.
    size_t m_streamVolume = 0;
    uint64_t m_entryOffset = 0;
    uint64_t m_entrySize = 0;
    bool m_streamStarted = false;

    // Differential archives.
    CBaseArchive* m_base = nullptr;
    bool m_ownsBase = false;
    CBaseArchive* m_child = nullptr;

    std::unique_ptr<SCachedEntry> m_cache;

    // Writer.
    bool m_writing = false;
    int m_writeError = 0;
    SHdCreateOptions m_options;
    std::vector<uint8_t> m_headerTemplate;
    std::vector<uint8_t> m_baseRecord;
    uint64_t m_writeOffset = 0;
    std::unique_ptr<CNAFile> m_writeFile;
    std::vector<uint8_t> m_writeRecord;
};
