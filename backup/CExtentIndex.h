#pragma once
// The extent index of one archive volume: where each run of sectors lives.
// Extents go into 256 buckets by (first sector >> shift) & 0xFF, each bucket
// sorted by first sector (a new extent goes after those with the same first
// sector). A lookup asks the sector's own bucket and its two neighbours, which
// finds an extent that started in the previous bucket and one that starts
// just inside the request.
#include <cstdint>
#include <functional>
#include <vector>

struct SExtent {
    uint32_t first;   // first sector
    uint32_t end;     // first sector after the extent
    uint64_t offset;  // entry offset in the volume
    uint8_t flags;    // bits 0-1 from the entry's byte 33, bit 2 = the entry has a unit bitmap
};

enum : uint8_t {
    kExtentHasBitmap = 0x04,
};

enum : uint32_t {
    kExtentRecordLength = 17,
    kExtentIndexHeaderLength = 16,
    kExtentBuckets = 256,
};

// Result of a lookup in one volume.
struct SExtentMatch {
    enum EKind { kNone, kCandidate, kHit } kind = kNone;
    SExtent extent{};
};

class CExtentIndex {
public:
    CExtentIndex();

    void SetRange(uint32_t dataStart, uint32_t dataEnd) { m_dataStart = dataStart; m_dataEnd = dataEnd; }
    void SetShift(uint32_t shift) { m_shift = shift; }
    uint32_t GetShift() const { return m_shift; }
    uint32_t GetDataStart() const { return m_dataStart; }
    uint32_t GetDataEnd() const { return m_dataEnd; }
    void Clear();
    // Throws std::bad_alloc.
    void Add(const SExtent& extent);
    size_t GetCount() const;

    // The extent covering `sector` (a hit) or, failing that, the one starting
    // first inside [sector, sector + count) (a candidate).
    SExtentMatch Lookup(uint32_t sector, uint32_t count) const;

    // The saved layout: data start, data end, the further u32, shift, then per
    // bucket a u32 count and that many 17-byte extents.
    size_t GetSavedLength() const;
    void Save(std::vector<uint8_t>& out) const;
    // `read(buffer, n)` returns 0 or a status; `available` bounds what the
    // counts may claim, so an absurd count fails instead of allocating. An
    // extent outside its bucket or out of order is ARCERR_FORMAT; a failed
    // load leaves the index empty.
    int Load(const std::function<int(void*, uint32_t)>& read, uint64_t available);
    void ForEach(const std::function<void(const SExtent&)>& visit) const;

private:
    std::vector<SExtent> m_buckets[kExtentBuckets];
    uint32_t m_dataStart = 0;
    uint32_t m_dataEnd = 0;
    uint32_t m_further = 0;
    uint32_t m_shift = 0;
};
