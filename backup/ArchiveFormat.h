#pragma once
// The on-disk and in-memory records of the newer archive format and of the
// open parameters that every archive reader and writer shares. All layouts
// are little-endian and packed; the sizes are part of the format.
#include <cstddef>
#include <cstdint>

struct ArchiveRecord;

// Event callback: code (ARCCB_*), its argument, the caller's context, an
// optional output. Password callback: fills the key area, returns nonzero
// when it did.
typedef int (*ArchiveEventCallback)(uint8_t code, void* arg, void* context, void* out);
typedef int (*ArchivePasswordCallback)(uint8_t* key, int kind, void* context);

enum : uint32_t {
    kHdMagic = 0x676D494B,          // "KImg"
    kHdFixedHeaderLength = 1240,
    kHdRevision = 0x20010,          // major 2, minor 0x10
    kHdEntryHeaderLength = 95,
    kEntryMagic = 0x5A4B,           // "KZ"
    kCompanionMagic = 0x306D664B,   // "Kfm0"
    kCompanionVersion = 1,
    kMaxBaseRecordLength = 424,
    kNoVolumeLimit = 0xFFFFFFFFu,
    kSectorSize = 512,
};

// Header byte 38.
enum : uint8_t {
    kHdPacked = 0x01,
    kHdPassword = 0x02,
    kHdFlat = 0x04,
    kHdNotABase = 0x40,
    kHdHasBase = 0x80,
};

// Header byte 39.
enum : uint8_t {
    kHdHasType0Record = 0x20,
    kHdHasNextVolumeRecord = 0x40,
};

// Record types.
enum : uint8_t {
    kRecordChain = 0,
    kRecordNextVolume = 1,
    kRecordBaseArchive = 10,
};

// Location kinds.
enum : uint8_t {
    kLocationFile = 0,
    kLocationNextToVolume = 3,
};

// Entry header byte 2.
enum : uint8_t {
    kEntryPacked = 0x01,
    kEntryBitmap = 0x04,
    kEntrySecondBitmap = 0x08,
    kEntryKindMask = 0xE0,
    kEntryKindLink = 0x20,
    kEntryKindEnd = 0x60,
    kEntryKindPadding = 0x80,
    kEntryKindAbortEnd = 0xA0,
};

// Entry header byte 33.
enum : uint8_t {
    kEntryNoData = 0x02,
};

#pragma pack(push, 1)

struct ArchiveOpenParams {
    ArchiveRecord* location;                   // 0
    uint32_t volumeLimit;                      // 4, in 512-byte sectors
    uint8_t compression;                       // 8: 1 RLE, 10 LZRW3, other zlib level
    uint8_t reserved9;                         // 9
    ArchiveEventCallback eventCallback;        // 10
    void* eventContext;                        // 14
    ArchivePasswordCallback passwordCallback;  // 18
    void* passwordContext;                     // 22
    uint32_t readOnly;                         // 26
    uint8_t key[14];                           // 30, empty when key[0] == 0
};

// A location or header record; variable length (`length` bytes). The path
// follows the NUL of the name at byte 164.
struct ArchiveRecord {
    uint16_t length;
    uint8_t type;
    uint8_t kind;
    uint8_t parameters[156];  // 4-159
    uint8_t reserved[4];      // 160-163
    char name[1];             // 164
};

struct HdArchiveHeader {
    uint32_t magic;                // 0
    uint16_t minor;                // 4
    uint16_t major;                // 6
    uint8_t reserved8[4];          // 8
    uint32_t length;               // 12
    uint8_t reserved16[8];         // 16
    uint32_t unitSize;             // 24
    uint8_t kind;                  // 28
    uint32_t dataStart;            // 29
    uint32_t dataLength;           // 33
    uint8_t recordCount;           // 37
    uint8_t flags;                 // 38
    uint8_t recordFlags;           // 39
    uint8_t reserved40[8];         // 40
    uint32_t partitionAreaLength;  // 48
    char label[64];                // 52
    uint8_t passwordCheck[100];    // 116
    uint64_t archiveId;            // 216
    uint64_t baseId;               // 224
    uint8_t signFlags;             // 232: bit 0 every entry carries a CRC-32
    uint8_t reserved233[3];        // 233
    uint32_t tailLength;           // 236
    uint8_t reserved240[1000];     // 240
};

// Fields of a partition record (the first one starts at kHdFixedHeaderLength).
enum : size_t {
    kPartitionDriveLetter = 32,  // u8, 1 for A:
    kPartitionLabel = 42,        // ANSI, NUL-terminated unless it fills its room
    kPartitionUsedSectors = 56,  // u32
    kPartitionTotalSectors = 60, // u32
};

struct HdEntryHeader {
    uint16_t magic;           // 0
    uint8_t flags;            // 2
    uint32_t firstSector;     // 3
    uint32_t units;           // 7
    uint32_t dataLength;      // 11
    uint8_t reserved15[8];    // 15
    uint8_t signature[8];     // 23: CRC-32 of the unit data in 23-26
    uint8_t compression;      // 31
    uint8_t sectorsPerUnit;   // 32, 0 means 1
    uint8_t entryFlags;       // 33
    uint8_t reserved34[61];   // 34
};

#pragma pack(pop)

static_assert(sizeof(void*) != 4 || sizeof(ArchiveOpenParams) == 44, "open parameters are 44 bytes");
static_assert(offsetof(ArchiveRecord, name) == 164, "record name at byte 164");
static_assert(sizeof(HdArchiveHeader) == kHdFixedHeaderLength, "fixed header is 1240 bytes");
static_assert(offsetof(HdArchiveHeader, archiveId) == 216, "archive id at 216");
static_assert(offsetof(HdArchiveHeader, tailLength) == 236, "tail length at 236");
static_assert(sizeof(HdEntryHeader) == kHdEntryHeaderLength, "entry header is 95 bytes");
static_assert(offsetof(HdEntryHeader, entryFlags) == 33, "entry flags at 33");

inline uint32_t HdRevision(const HdArchiveHeader* header)
{
    return (static_cast<uint32_t>(header->major) << 16) | header->minor;
}
