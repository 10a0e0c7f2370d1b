#include "qorformat.h"

#include <string.h>
#include <zlib.h>

#define SECTOR 512u

static uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }
static uint64_t Le64(const uint8_t* p) { return Le32(p) | ((uint64_t)Le32(p + 4) << 32); }
static uint32_t Be32(const uint8_t* p) { return ((uint32_t)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
static uint64_t Be64(const uint8_t* p) { return ((uint64_t)Be32(p) << 32) | Be32(p + 4); }
static void PutLe16(uint8_t* p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
static void PutLe32(uint8_t* p, uint32_t v)
{
    PutLe16(p, (uint16_t)v);
    PutLe16(p + 2, (uint16_t)(v >> 16));
}
static void PutLe64(uint8_t* p, uint64_t v)
{
    PutLe32(p, (uint32_t)v);
    PutLe32(p + 4, (uint32_t)(v >> 32));
}

/* Reads a range that must lie inside the file. */
static uint32_t ReadAt(const QF_FILE* file, uint64_t offset, void* buffer, uint32_t length)
{
    if (offset > file->size || file->size - offset < length)
        return QF_BAD_FORMAT;
    return length ? file->read(file->context, offset, buffer, length) : QF_OK;
}

/* ================================================================== partition */

/* One entry of an archive that holds sectors. */
typedef struct {
    uint32_t first;       /* first sector */
    uint32_t end;         /* sector after the last one */
    uint32_t units;
    uint32_t unitSectors;
    uint64_t bitmapAt;    /* the bitmap part (its block header when packed); 0 without a bitmap */
    uint64_t dataAt;      /* the unit part (its block header when packed) */
    uint32_t dataLength;  /* unpacked length of the unit part */
    uint8_t packed;
    uint8_t noData;       /* an entry that covers sectors without holding them: they read as zeros */
} ARCHIVE_ENTRY;

struct QF_DISK {
    const QF_FILE* file;
    int kind;
    uint64_t sectors;
    /* VHD */
    uint64_t partitionOffset;
    /* archive */
    ARCHIVE_ENTRY* entries;
    uint32_t entryCount;
    uint32_t blockHeaderLength;
    /* the entry whose data was unpacked last */
    uint32_t cachedEntry; /* index + 1, 0 = none */
    uint8_t* cachedData;
    uint32_t* cachedRank; /* per unit: its position among the units held, or ~0 when absent */
};

/* Longest unpacked part of an entry, and the most a packed block may grow (zlib's own limit). */
#define MAX_PART_LENGTH (64u << 20)
#define MAX_EXPANSION 1032u
#define MAX_ENTRIES (1u << 22)
#define MAX_BITMAP_UNITS (1u << 21)

/* ---------------------------------------------------------------- byte-run coding */

static uint32_t RunLengthDecode(const uint8_t* in, uint32_t inLength, uint8_t* out, uint32_t outLength)
{
    uint32_t at = 0, written = 0;
    while (at < inLength) {
        if (inLength - at >= 2 && in[at] == in[at + 1]) {
            uint32_t count;
            if (inLength - at < 3)
                return QF_BAD_FORMAT;
            count = in[at + 2];
            if (count > outLength - written)
                return QF_BAD_FORMAT;
            memset(out + written, in[at], count);
            written += count;
            at += 3;
        } else {
            if (written == outLength)
                return QF_BAD_FORMAT;
            out[written++] = in[at++];
        }
    }
    return written == outLength ? QF_OK : QF_BAD_FORMAT;
}

/* ---------------------------------------------------------------- archive parts */

/* Steps over one part of an entry at *at (expected bytes unpacked), checking its block header when
 * packed. Returns the method through *method (0 when not packed). */
static uint32_t SkipPart(QF_DISK* disk, uint64_t* at, uint32_t expected, int packed, uint32_t* method)
{
    const QF_FILE* file = disk->file;
    uint8_t head[9];
    uint32_t stored, code;
    *method = 0;
    if (!packed) {
        if (*at > file->size || file->size - *at < expected)
            return QF_BAD_FORMAT;
        *at += expected;
        return QF_OK;
    }
    code = ReadAt(file, *at, head, disk->blockHeaderLength);
    if (code)
        return code;
    stored = Le32(head);
    *method = Le32(head + 4);
    if (*method == 2)
        return QF_NOT_SUPPORTED; /* LZRW3 */
    if (*at + disk->blockHeaderLength > file->size || file->size - *at - disk->blockHeaderLength < stored)
        return QF_BAD_FORMAT;
    if (*method == 0 && stored != expected)
        return QF_BAD_FORMAT;
    if ((uint64_t)expected > (uint64_t)stored * MAX_EXPANSION + 1024)
        return QF_BAD_FORMAT;
    *at += disk->blockHeaderLength + stored;
    return QF_OK;
}

/* Reads one part into out (expected bytes), unpacking it. */
static uint32_t LoadPart(QF_DISK* disk, uint64_t at, uint32_t expected, int packed, uint8_t* out)
{
    const QF_FILE* file = disk->file;
    uint8_t head[9];
    uint32_t stored, method, code;
    uint8_t* bytes;
    if (!packed)
        return ReadAt(file, at, out, expected);
    code = ReadAt(file, at, head, disk->blockHeaderLength);
    if (code)
        return code;
    stored = Le32(head);
    method = Le32(head + 4);
    if (method == 0) {
        if (stored != expected)
            return QF_BAD_FORMAT;
        return ReadAt(file, at + disk->blockHeaderLength, out, expected);
    }
    if (method == 2)
        return QF_NOT_SUPPORTED;
    if ((uint64_t)expected > (uint64_t)stored * MAX_EXPANSION + 1024)
        return QF_BAD_FORMAT;
    bytes = QfAlloc(stored ? stored : 1);
    if (!bytes)
        return QF_NOT_ENOUGH_MEMORY;
    code = ReadAt(file, at + disk->blockHeaderLength, bytes, stored);
    if (!code) {
        if (method == 1) {
            code = RunLengthDecode(bytes, stored, out, expected);
        } else {
            uint8_t spare;
            uLongf length = expected;
            int rc = uncompress(expected ? out : &spare, &length, bytes, stored);
            code = rc == Z_MEM_ERROR ? QF_NOT_ENOUGH_MEMORY : (rc != Z_OK || length != expected) ? QF_BAD_FORMAT : 0;
        }
    }
    QfFree(bytes);
    return code;
}

static uint32_t CountBits(const uint8_t* bitmap, uint32_t units)
{
    uint32_t i, count = 0;
    for (i = 0; i < units; i++)
        count += (bitmap[i >> 3] >> (i & 7)) & 1;
    return count;
}

static uint32_t AddEntry(QF_DISK* disk, const ARCHIVE_ENTRY* entry, uint32_t* capacity)
{
    if (disk->entryCount == *capacity) {
        uint32_t grown = *capacity ? *capacity * 2 : 64;
        ARCHIVE_ENTRY* bigger;
        if (grown > MAX_ENTRIES)
            return QF_NOT_SUPPORTED;
        bigger = QfAlloc((size_t)grown * sizeof *bigger);
        if (!bigger)
            return QF_NOT_ENOUGH_MEMORY;
        if (disk->entryCount)
            memcpy(bigger, disk->entries, (size_t)disk->entryCount * sizeof *bigger);
        QfFree(disk->entries);
        disk->entries = bigger;
        *capacity = grown;
    }
    disk->entries[disk->entryCount++] = *entry;
    return QF_OK;
}

/* One entry of the stream at *at: a sector entry is added, padding skipped; *end is set at the end
 * marker. */
static uint32_t ParseEntry(QF_DISK* disk, uint64_t* at, int* end, uint32_t* capacity)
{
    const QF_FILE* file = disk->file;
    uint8_t head[95];
    ARCHIVE_ENTRY entry;
    uint32_t code, method, kind, dataLength, bitmapLength;
    uint64_t next = *at + sizeof head;
    int packed;

    code = ReadAt(file, *at, head, sizeof head);
    if (code)
        return code;
    if (Le16(head) != 0x5A4B)
        return QF_BAD_FORMAT;
    kind = head[2] & 0xE0;
    packed = head[2] & 0x01;
    dataLength = Le32(head + 11);
    switch (kind) {
    case 0x80: /* padding */
        if (next > file->size || file->size - next < dataLength)
            return QF_BAD_FORMAT;
        *at = next + dataLength;
        return QF_OK;
    case 0x60:
        *end = 1;
        return QF_OK;
    case 0xA0: /* a backup that was aborted holds no whole partition */
        return QF_BAD_FORMAT;
    case 0x20: /* the archive goes on in another volume file */
        return QF_NOT_SUPPORTED;
    default:
        break;
    }
    memset(&entry, 0, sizeof entry);
    entry.first = Le32(head + 3);
    entry.units = Le32(head + 7);
    entry.unitSectors = head[32] ? head[32] : 1;
    entry.packed = (uint8_t)packed;
    if ((uint64_t)entry.first + (uint64_t)entry.units * entry.unitSectors > 0xFFFFFFFFull)
        return QF_BAD_FORMAT;
    entry.end = entry.first + entry.units * entry.unitSectors;
    if (!(head[2] & 0x04) && (head[33] & 0x02)) {
        entry.noData = 1;
        *at = next;
        return entry.units ? AddEntry(disk, &entry, capacity) : QF_OK;
    }
    if (head[2] & 0x04) {
        uint8_t* bitmap;
        bitmapLength = (entry.units + 7) / 8;
        if (entry.units > MAX_BITMAP_UNITS)
            return QF_NOT_SUPPORTED;
        entry.bitmapAt = next;
        bitmap = QfAlloc(bitmapLength ? bitmapLength : 1);
        if (!bitmap)
            return QF_NOT_ENOUGH_MEMORY;
        code = LoadPart(disk, next, bitmapLength, packed, bitmap);
        if (!code)
            code = SkipPart(disk, &next, bitmapLength, packed, &method);
        if (!code) {
            uint64_t present = (uint64_t)CountBits(bitmap, entry.units) * entry.unitSectors * SECTOR;
            if (present > MAX_PART_LENGTH)
                code = QF_NOT_SUPPORTED;
            entry.dataLength = (uint32_t)present;
        }
        QfFree(bitmap);
        if (!code && (head[2] & 0x08))
            code = SkipPart(disk, &next, bitmapLength, packed, &method);
        if (code)
            return code;
    } else {
        if ((uint64_t)entry.units * entry.unitSectors * SECTOR != dataLength)
            return QF_BAD_FORMAT;
        if (dataLength > MAX_PART_LENGTH)
            return QF_NOT_SUPPORTED;
        entry.dataLength = dataLength;
    }
    entry.dataAt = next;
    code = SkipPart(disk, &next, entry.dataLength, packed, &method);
    if (code)
        return code;
    *at = next;
    return entry.units ? AddEntry(disk, &entry, capacity) : QF_OK;
}

static void SortEntries(ARCHIVE_ENTRY* entries, uint32_t count)
{
    /* Shell sort: entries usually come in order already. */
    uint32_t gap, i, j;
    for (gap = count / 2; gap > 0; gap /= 2) {
        for (i = gap; i < count; i++) {
            ARCHIVE_ENTRY moving = entries[i];
            for (j = i; j >= gap && entries[j - gap].first > moving.first; j -= gap)
                entries[j] = entries[j - gap];
            entries[j] = moving;
        }
    }
}

static uint32_t OpenArchive(QF_DISK* disk)
{
    const QF_FILE* file = disk->file;
    uint8_t header[1240];
    uint32_t code, headerLength, areaLength, capacity = 0, i;
    uint64_t at;
    int end = 0;

    if (file->size < sizeof header)
        return QF_BAD_FORMAT;
    code = ReadAt(file, 0, header, sizeof header);
    if (code)
        return code;
    if (Le32(header) != 0x676D494B)
        return QF_BAD_FORMAT;
    if (Le16(header + 6) > 2)
        return QF_NOT_SUPPORTED;
    headerLength = Le32(header + 12);
    areaLength = Le32(header + 48);
    if (headerLength < sizeof header || headerLength > file->size || areaLength > headerLength - sizeof header)
        return QF_BAD_FORMAT;
    /* Passwords, differential archives and collections of archives are not presented. */
    if ((header[38] & (0x02 | 0x80)) || header[28] != 0)
        return QF_NOT_SUPPORTED;
    disk->blockHeaderLength = Le16(header + 6) < 2 ? 9 : 8;

    at = headerLength;
    while (!end) {
        code = ParseEntry(disk, &at, &end, &capacity);
        if (code)
            return code;
    }
    SortEntries(disk->entries, disk->entryCount);
    for (i = 0; i < disk->entryCount; i++) {
        if (i + 1 < disk->entryCount && disk->entries[i].end > disk->entries[i + 1].first)
            return QF_BAD_FORMAT; /* two entries claim one sector */
        if (disk->entries[i].end > disk->sectors)
            disk->sectors = disk->entries[i].end;
    }
    /* The first partition record gives the partition's size, also past the last sector held. */
    if (areaLength >= 64) {
        uint8_t record[64];
        code = ReadAt(file, sizeof header, record, sizeof record);
        if (code)
            return code;
        if (Le32(record + 60) > disk->sectors)
            disk->sectors = Le32(record + 60);
    }
    return QF_OK;
}

/* ---------------------------------------------------------------- VHD */

static uint32_t OpenVhd(QF_DISK* disk)
{
    const QF_FILE* file = disk->file;
    uint8_t footer[512], mbr[512];
    uint32_t code, sum = 0, i, type;
    uint64_t diskBytes;

    if (file->size < 2 * SECTOR)
        return QF_BAD_FORMAT;
    code = ReadAt(file, file->size - SECTOR, footer, SECTOR);
    if (code)
        return code;
    if (memcmp(footer, "conectix", 8) != 0)
        return QF_BAD_FORMAT;
    for (i = 0; i < SECTOR; i++)
        if (i < 64 || i >= 68)
            sum += footer[i];
    if (~sum != Be32(footer + 64))
        return QF_BAD_FORMAT;
    type = Be32(footer + 60);
    if (type == 3 || type == 4)
        return QF_NOT_SUPPORTED; /* dynamic and differencing disks */
    if (type != 2)
        return QF_BAD_FORMAT;
    diskBytes = Be64(footer + 48);
    if (diskBytes > file->size - SECTOR || diskBytes < SECTOR || diskBytes % SECTOR)
        return QF_BAD_FORMAT;

    code = ReadAt(file, 0, mbr, SECTOR);
    if (code)
        return code;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA)
        return QF_BAD_FORMAT;
    for (i = 0; i < 4; i++) {
        const uint8_t* slot = mbr + 446 + 16 * i;
        uint64_t start = Le32(slot + 8), count = Le32(slot + 12);
        if (slot[4] == 0)
            continue;
        if (slot[4] == 0xEE || slot[4] == 0x05 || slot[4] == 0x0F || slot[4] == 0x85)
            return QF_NOT_SUPPORTED; /* GPT and extended partitions */
        if (start == 0 || count == 0 || start + count > diskBytes / SECTOR)
            return QF_BAD_FORMAT;
        disk->partitionOffset = start * SECTOR;
        disk->sectors = count;
        return QF_OK;
    }
    return QF_BAD_FORMAT;
}

/* ---------------------------------------------------------------- disk */

uint32_t QfOpenDisk(const QF_FILE* file, int kind, QF_DISK** result)
{
    QF_DISK* disk;
    uint32_t code;
    *result = NULL;
    if (kind != QF_IMAGE_ARCHIVE && kind != QF_IMAGE_VHD)
        return QF_NOT_SUPPORTED;
    disk = QfAlloc(sizeof *disk);
    if (!disk)
        return QF_NOT_ENOUGH_MEMORY;
    disk->file = file;
    disk->kind = kind;
    code = kind == QF_IMAGE_ARCHIVE ? OpenArchive(disk) : OpenVhd(disk);
    if (code) {
        QfCloseDisk(disk);
        return code;
    }
    *result = disk;
    return QF_OK;
}

uint64_t QfDiskSectors(const QF_DISK* disk) { return disk->sectors; }

void QfCloseDisk(QF_DISK* disk)
{
    if (!disk)
        return;
    QfFree(disk->entries);
    QfFree(disk->cachedData);
    QfFree(disk->cachedRank);
    QfFree(disk);
}

/* The entry holding sector, or the index of the first entry after it (as -(index + 1)). */
static int64_t FindEntry(const QF_DISK* disk, uint32_t sector)
{
    uint32_t low = 0, high = disk->entryCount;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        if (disk->entries[middle].end <= sector)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < disk->entryCount && disk->entries[low].first <= sector)
        return low;
    return -(int64_t)low - 1;
}

static uint32_t LoadEntry(QF_DISK* disk, uint32_t index)
{
    const ARCHIVE_ENTRY* entry = &disk->entries[index];
    uint32_t code = QF_OK, u, held = 0;
    if (disk->cachedEntry == index + 1)
        return QF_OK;
    QfFree(disk->cachedData);
    QfFree(disk->cachedRank);
    disk->cachedEntry = 0;
    disk->cachedData = QfAlloc(entry->dataLength ? entry->dataLength : 1);
    disk->cachedRank = QfAlloc((size_t)entry->units * sizeof(uint32_t));
    if (!disk->cachedData || !disk->cachedRank)
        return QF_NOT_ENOUGH_MEMORY;
    if (entry->bitmapAt) {
        uint32_t bitmapLength = (entry->units + 7) / 8;
        uint8_t* bitmap = QfAlloc(bitmapLength);
        if (!bitmap)
            return QF_NOT_ENOUGH_MEMORY;
        code = LoadPart(disk, entry->bitmapAt, bitmapLength, entry->packed, bitmap);
        for (u = 0; !code && u < entry->units; u++)
            disk->cachedRank[u] = ((bitmap[u >> 3] >> (u & 7)) & 1) ? held++ : 0xFFFFFFFFu;
        /* The bitmap is read again here: it must still say what it said when the entry was opened. */
        if (!code && (uint64_t)held * entry->unitSectors * SECTOR != entry->dataLength)
            code = QF_BAD_FORMAT;
        QfFree(bitmap);
    } else {
        for (u = 0; u < entry->units; u++)
            disk->cachedRank[u] = u;
    }
    if (!code)
        code = LoadPart(disk, entry->dataAt, entry->dataLength, entry->packed, disk->cachedData);
    if (!code)
        disk->cachedEntry = index + 1;
    return code;
}

static uint32_t ReadArchiveSectors(QF_DISK* disk, uint32_t first, uint32_t count, uint8_t* out)
{
    while (count) {
        int64_t found = FindEntry(disk, first);
        if (found < 0) {
            /* Not held by the archive: zeros up to the next entry. */
            uint32_t next = (uint32_t)(-found - 1);
            uint32_t gap = next < disk->entryCount ? disk->entries[next].first - first : count;
            if (gap > count)
                gap = count;
            memset(out, 0, (size_t)gap * SECTOR);
            out += (size_t)gap * SECTOR;
            first += gap;
            count -= gap;
        } else {
            const ARCHIVE_ENTRY* entry = &disk->entries[found];
            uint32_t code;
            if (entry->noData) {
                memset(out, 0, SECTOR);
            } else {
                uint32_t offset = first - entry->first, unit = offset / entry->unitSectors, rank;
                code = LoadEntry(disk, (uint32_t)found);
                if (code)
                    return code;
                rank = disk->cachedRank[unit];
                if (rank == 0xFFFFFFFFu)
                    memset(out, 0, SECTOR);
                else
                    memcpy(out, disk->cachedData + ((size_t)rank * entry->unitSectors + offset % entry->unitSectors) * SECTOR,
                           SECTOR);
            }
            out += SECTOR;
            first++;
            count--;
        }
    }
    return QF_OK;
}

uint32_t QfReadSectors(QF_DISK* disk, uint64_t first, uint32_t count, void* buffer)
{
    if (first > disk->sectors || disk->sectors - first < count)
        return QF_BAD_FORMAT;
    if (disk->kind == QF_IMAGE_VHD)
        return ReadAt(disk->file, disk->partitionOffset + first * SECTOR, buffer, count * SECTOR);
    return ReadArchiveSectors(disk, (uint32_t)first, count, buffer);
}

/* ================================================================== file system */

#define FAT_END 0x0FFFFFF8u
#define FAT_BAD 0x0FFFFFF7u
#define MAX_DEPTH 32
#define MAX_DIRECTORY_BYTES (65536u * 32u)
#define MAX_FAT_BYTES (64u << 20)
#define MAX_WALK_ENTRIES (1u << 20)
#define READ_PIECE (64u << 10)

struct QF_FAT {
    QF_DISK* disk;
    int bits;
    uint32_t clusterBytes;
    uint32_t clusterCount;
    uint64_t dataOffset; /* bytes from the partition's start */
    uint64_t rootOffset; /* FAT16: the fixed root folder */
    uint32_t rootBytes;
    uint32_t rootCluster; /* FAT32 */
    uint32_t* table;      /* clusterCount + 2 entries, FAT16 values widened to FAT32's */
    uint8_t* folderSeen;  /* one bit per cluster: a folder starts there */
    uint32_t serial;
    char label[12];
};

/* Reads bytes of the partition; offset is sector-aligned, length may end inside a sector. */
static uint32_t ReadBytes(QF_DISK* disk, uint64_t offset, uint8_t* out, uint32_t length)
{
    uint32_t whole = length / SECTOR, code;
    if (whole) {
        code = QfReadSectors(disk, offset / SECTOR, whole, out);
        if (code)
            return code;
    }
    if (length % SECTOR) {
        uint8_t tail[SECTOR];
        code = QfReadSectors(disk, offset / SECTOR + whole, 1, tail);
        if (code)
            return code;
        memcpy(out + (size_t)whole * SECTOR, tail, length % SECTOR);
    }
    return QF_OK;
}

int QfFatBits(const QF_FAT* fat) { return fat->bits; }
uint32_t QfFatSerial(const QF_FAT* fat) { return fat->serial; }
const char* QfFatLabel(const QF_FAT* fat) { return fat->label; }

void QfCloseFat(QF_FAT* fat)
{
    if (!fat)
        return;
    QfFree(fat->table);
    QfFree(fat->folderSeen);
    QfFree(fat);
}

static void CopyLabel(char* to, const uint8_t* from)
{
    int length = 11;
    memcpy(to, from, 11);
    while (length > 0 && (to[length - 1] == ' ' || to[length - 1] == 0))
        length--;
    to[length] = 0;
    if (length == 7 && memcmp(to, "NO NAME", 7) == 0)
        to[0] = 0;
}

uint32_t QfOpenFat(QF_DISK* disk, QF_FAT** result)
{
    uint8_t boot[SECTOR];
    uint32_t code, bytesPerSector, sectorsPerCluster, reserved, fats, rootEntries, fatSectors, i;
    uint64_t total, rootSectors, dataSectors, fatOffset, tableBytes;
    uint8_t* raw;
    QF_FAT* fat;

    *result = NULL;
    code = QfReadSectors(disk, 0, 1, boot);
    if (code)
        return code;
    if (memcmp(boot + 3, "NTFS    ", 8) == 0 || memcmp(boot + 3, "EXFAT   ", 8) == 0)
        return QF_NOT_SUPPORTED;
    if ((boot[0] != 0xEB && boot[0] != 0xE9) || boot[510] != 0x55 || boot[511] != 0xAA)
        return QF_BAD_FORMAT;
    bytesPerSector = Le16(boot + 11);
    sectorsPerCluster = boot[13];
    reserved = Le16(boot + 14);
    fats = boot[16];
    rootEntries = Le16(boot + 17);
    total = Le16(boot + 19) ? Le16(boot + 19) : Le32(boot + 32);
    fatSectors = Le16(boot + 22) ? Le16(boot + 22) : Le32(boot + 36);
    if ((bytesPerSector != 512 && bytesPerSector != 1024 && bytesPerSector != 2048 && bytesPerSector != 4096) ||
        sectorsPerCluster == 0 || (sectorsPerCluster & (sectorsPerCluster - 1)) ||
        (uint64_t)sectorsPerCluster * bytesPerSector > (256u << 10) || reserved == 0 || fats == 0 || fatSectors == 0)
        return QF_BAD_FORMAT;
    rootSectors = ((uint64_t)rootEntries * 32 + bytesPerSector - 1) / bytesPerSector;
    if (total * bytesPerSector > QfDiskSectors(disk) * SECTOR ||
        total <= reserved + (uint64_t)fats * fatSectors + rootSectors)
        return QF_BAD_FORMAT;
    dataSectors = total - reserved - (uint64_t)fats * fatSectors - rootSectors;

    fat = QfAlloc(sizeof *fat);
    if (!fat)
        return QF_NOT_ENOUGH_MEMORY;
    fat->disk = disk;
    fat->clusterBytes = sectorsPerCluster * bytesPerSector;
    fat->clusterCount = (uint32_t)(dataSectors / sectorsPerCluster);
    fatOffset = (uint64_t)reserved * bytesPerSector;
    fat->rootOffset = fatOffset + (uint64_t)fats * fatSectors * bytesPerSector;
    fat->rootBytes = rootEntries * 32;
    fat->dataOffset = fat->rootOffset + rootSectors * bytesPerSector;
    code = QF_OK;
    if (fat->clusterCount < 4085) {
        code = QF_NOT_SUPPORTED; /* FAT12 */
    } else if (fat->clusterCount < 65525) {
        fat->bits = 16;
        if (Le16(boot + 22) == 0 || rootEntries == 0)
            code = QF_BAD_FORMAT;
        fat->serial = Le32(boot + 39);
        if (boot[38] == 0x29)
            CopyLabel(fat->label, boot + 43);
    } else if (fat->clusterCount <= 0x0FFFFFF5) {
        fat->bits = 32;
        fat->rootCluster = Le32(boot + 44);
        if (Le16(boot + 22) != 0 || rootEntries != 0 || fat->rootCluster < 2 ||
            fat->rootCluster > fat->clusterCount + 1)
            code = QF_BAD_FORMAT;
        fat->serial = Le32(boot + 67);
        if (boot[66] == 0x29)
            CopyLabel(fat->label, boot + 71);
    } else {
        code = QF_BAD_FORMAT;
    }
    tableBytes = (uint64_t)(fat->clusterCount + 2) * (fat->bits / 8);
    if (!code && tableBytes > (uint64_t)fatSectors * bytesPerSector)
        code = QF_BAD_FORMAT;
    if (!code && tableBytes > MAX_FAT_BYTES)
        code = QF_NOT_SUPPORTED;
    if (code) {
        QfCloseFat(fat);
        return code;
    }

    fat->table = QfAlloc((size_t)(fat->clusterCount + 2) * sizeof(uint32_t));
    fat->folderSeen = QfAlloc((fat->clusterCount + 2 + 7) / 8);
    raw = QfAlloc((size_t)tableBytes);
    if (!fat->table || !fat->folderSeen || !raw) {
        QfFree(raw);
        QfCloseFat(fat);
        return QF_NOT_ENOUGH_MEMORY;
    }
    code = ReadBytes(disk, fatOffset, raw, (uint32_t)tableBytes);
    for (i = 0; !code && i < fat->clusterCount + 2; i++) {
        uint32_t value;
        if (fat->bits == 16) {
            value = Le16(raw + 2 * i);
            if (value >= 0xFFF8)
                value = FAT_END;
            else if (value == 0xFFF7)
                value = FAT_BAD;
        } else {
            value = Le32(raw + 4 * i) & 0x0FFFFFFF;
        }
        fat->table[i] = value;
    }
    QfFree(raw);
    if (code) {
        QfCloseFat(fat);
        return code;
    }
    *result = fat;
    return QF_OK;
}

static int IsCluster(const QF_FAT* fat, uint32_t cluster) { return cluster >= 2 && cluster <= fat->clusterCount + 1; }

/* The cluster after `cluster` in its chain: QF_OK with *next a cluster or FAT_END. */
static uint32_t NextCluster(const QF_FAT* fat, uint32_t cluster, uint32_t* next)
{
    uint32_t value = fat->table[cluster];
    if (value >= FAT_END) {
        *next = FAT_END;
        return QF_OK;
    }
    if (!IsCluster(fat, value))
        return QF_BAD_FORMAT; /* free, reserved or bad cluster inside a chain */
    *next = value;
    return QF_OK;
}

static uint64_t ClusterOffset(const QF_FAT* fat, uint32_t cluster)
{
    return fat->dataOffset + (uint64_t)(cluster - 2) * fat->clusterBytes;
}

/* A file's chain must hold its size. */
static uint32_t CheckFileChain(const QF_FAT* fat, uint32_t first, uint32_t size)
{
    uint32_t needed = (uint32_t)(((uint64_t)size + fat->clusterBytes - 1) / fat->clusterBytes), cluster = first, code;
    if (size == 0)
        return QF_OK;
    if (!IsCluster(fat, first))
        return QF_BAD_FORMAT;
    while (--needed) {
        code = NextCluster(fat, cluster, &cluster);
        if (code)
            return code;
        if (cluster == FAT_END)
            return QF_BAD_FORMAT; /* shorter than the file */
    }
    return QF_OK;
}

/* Loads a whole folder: the fixed root of FAT16 (cluster 0) or a cluster chain. */
static uint32_t LoadFolder(QF_FAT* fat, uint32_t cluster, uint8_t** data, uint32_t* length)
{
    uint32_t count = 0, at, code, probe;
    *data = NULL;
    *length = 0;
    if (cluster == 0) {
        *data = QfAlloc(fat->rootBytes ? fat->rootBytes : 1);
        if (!*data)
            return QF_NOT_ENOUGH_MEMORY;
        *length = fat->rootBytes;
        return ReadBytes(fat->disk, fat->rootOffset, *data, fat->rootBytes);
    }
    if (!IsCluster(fat, cluster))
        return QF_BAD_FORMAT;
    if (fat->folderSeen[cluster >> 3] & (1 << (cluster & 7)))
        return QF_BAD_FORMAT; /* a folder inside itself, or two folders sharing their clusters */
    fat->folderSeen[cluster >> 3] |= (uint8_t)(1 << (cluster & 7));
    for (probe = cluster; probe != FAT_END;) {
        if (++count > MAX_DIRECTORY_BYTES / fat->clusterBytes + 1 || count > fat->clusterCount)
            return QF_BAD_FORMAT;
        code = NextCluster(fat, probe, &probe);
        if (code)
            return code;
    }
    if ((uint64_t)count * fat->clusterBytes > MAX_DIRECTORY_BYTES + fat->clusterBytes)
        return QF_BAD_FORMAT;
    *length = count * fat->clusterBytes;
    *data = QfAlloc(*length);
    if (!*data)
        return QF_NOT_ENOUGH_MEMORY;
    for (at = 0, probe = cluster; probe != FAT_END; at += fat->clusterBytes) {
        code = ReadBytes(fat->disk, ClusterOffset(fat, probe), *data + at, fat->clusterBytes);
        if (!code)
            code = NextCluster(fat, probe, &probe);
        if (code)
            return code;
    }
    return QF_OK;
}

int QfIsGoodName(const uint16_t* name, uint32_t length)
{
    uint32_t i;
    if (length == 0 || length > 255)
        return 0;
    if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')))
        return 0;
    if (name[length - 1] == '.' || name[length - 1] == ' ')
        return 0;
    for (i = 0; i < length; i++) {
        uint16_t c = name[i];
        if (c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            return 0;
    }
    return 1;
}

int QfIsGoodPath(const uint16_t* path, uint32_t length)
{
    uint32_t i, start = 0;
    if (length == 0 || length > QF_MAX_PATH)
        return 0;
    for (i = 0; i <= length; i++) {
        if (i == length || path[i] == '\\') {
            if (!QfIsGoodName(path + start, i - start))
                return 0;
            start = i + 1;
        }
    }
    return 1;
}

static uint8_t ShortNameSum(const uint8_t* name)
{
    uint8_t sum = 0;
    int i;
    for (i = 0; i < 11; i++)
        sum = (uint8_t)(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

/* Long-name pieces gathered before a short entry. */
typedef struct {
    uint16_t units[20 * 13];
    int count;    /* pieces announced by the first (highest) one; 0 = none */
    int expected; /* order of the piece that must come next */
    uint8_t sum;
} LONG_NAME;

static void GatherLongName(LONG_NAME* gathered, const uint8_t* entry)
{
    static const uint8_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    int order = entry[0] & 0x1F, i;
    if (entry[0] & 0x40) {
        gathered->count = order;
        gathered->expected = order;
        gathered->sum = entry[13];
        if (order == 0 || order > 20) {
            gathered->count = 0;
            return;
        }
    }
    if (gathered->count == 0 || order != gathered->expected || entry[13] != gathered->sum) {
        gathered->count = 0;
        return;
    }
    for (i = 0; i < 13; i++)
        gathered->units[(order - 1) * 13 + i] = Le16(entry + offsets[i]);
    gathered->expected--;
}

/* The name of a short entry: its long name when one was gathered whole for it, else the 8.3 name. */
static uint32_t EntryName(LONG_NAME* gathered, const uint8_t* entry, uint16_t* name, uint32_t* length)
{
    uint32_t i, n = 0, base = 8, extension = 3;
    if (gathered->count && gathered->expected == 0 && gathered->sum == ShortNameSum(entry)) {
        uint32_t all = (uint32_t)gathered->count * 13;
        while (n < all && gathered->units[n] != 0)
            n++;
        gathered->count = 0;
        if (n == 0)
            return QF_BAD_FORMAT;
        memcpy(name, gathered->units, n * sizeof(uint16_t));
        *length = n;
        return QfIsGoodName(name, n) ? QF_OK : QF_BAD_FORMAT;
    }
    gathered->count = 0;
    while (base > 0 && entry[base - 1] == ' ')
        base--;
    while (extension > 0 && entry[8 + extension - 1] == ' ')
        extension--;
    for (i = 0; i < base; i++) {
        uint8_t c = (i == 0 && entry[0] == 0x05) ? 0xE5 : entry[i];
        if (c >= 0x80)
            return QF_NOT_SUPPORTED; /* a code-page character without a long name */
        name[n++] = (entry[12] & 0x08) && c >= 'A' && c <= 'Z' ? c + 32 : c;
    }
    if (extension)
        name[n++] = '.';
    for (i = 0; i < extension; i++) {
        uint8_t c = entry[8 + i];
        if (c >= 0x80)
            return QF_NOT_SUPPORTED;
        name[n++] = (entry[12] & 0x10) && c >= 'A' && c <= 'Z' ? c + 32 : c;
    }
    *length = n;
    return QfIsGoodName(name, n) ? QF_OK : QF_BAD_FORMAT;
}

typedef struct {
    uint8_t* data;
    uint32_t length;
    uint32_t at;
    uint32_t pathLength; /* of the folder itself */
} FOLDER_FRAME;

typedef struct {
    FOLDER_FRAME frames[MAX_DEPTH + 1];
    int depth;
    uint16_t path[QF_MAX_PATH + 256];
    LONG_NAME gathered;
} WALK_STATE;

uint32_t QfWalk(QF_FAT* fat, QF_ENTRY_CALLBACK callback, void* context)
{
    WALK_STATE* state = QfAlloc(sizeof *state);
    uint32_t code, visited = 0;
    if (!state)
        return QF_NOT_ENOUGH_MEMORY;
    memset(fat->folderSeen, 0, (fat->clusterCount + 2 + 7) / 8);
    code = LoadFolder(fat, fat->bits == 32 ? fat->rootCluster : 0, &state->frames[0].data, &state->frames[0].length);
    state->depth = code ? 0 : 1;
    if (code)
        QfFree(state->frames[0].data);

    while (!code && state->depth > 0) {
        FOLDER_FRAME* frame = &state->frames[state->depth - 1];
        const uint8_t* entry;
        uint16_t name[20 * 13];
        uint32_t nameLength, pathLength;
        QF_ENTRY found;

        if (frame->at + 32 > frame->length || frame->data[frame->at] == 0) {
            QfFree(frame->data);
            frame->data = NULL;
            state->depth--;
            state->gathered.count = 0;
            continue;
        }
        entry = frame->data + frame->at;
        frame->at += 32;
        if (entry[0] == 0xE5) {
            state->gathered.count = 0;
            continue;
        }
        if ((entry[11] & 0x3F) == 0x0F) {
            GatherLongName(&state->gathered, entry);
            continue;
        }
        if (entry[11] & 0x08) { /* the volume label */
            state->gathered.count = 0;
            continue;
        }
        if (entry[0] == '.' && (entry[1] == ' ' || (entry[1] == '.' && entry[2] == ' '))) {
            state->gathered.count = 0;
            continue;
        }
        if (++visited > MAX_WALK_ENTRIES) {
            code = QF_NOT_SUPPORTED;
            break;
        }
        code = EntryName(&state->gathered, entry, name, &nameLength);
        if (code)
            break;
        pathLength = frame->pathLength + (frame->pathLength ? 1 : 0) + nameLength;
        if (pathLength > QF_MAX_PATH) {
            code = QF_BAD_FORMAT;
            break;
        }
        if (frame->pathLength)
            state->path[frame->pathLength] = '\\';
        memcpy(state->path + pathLength - nameLength, name, nameLength * sizeof(uint16_t));

        memset(&found, 0, sizeof found);
        found.path = state->path;
        found.pathLength = pathLength;
        found.firstCluster = Le16(entry + 26) | (fat->bits == 32 ? (uint32_t)Le16(entry + 20) << 16 : 0);
        found.isFolder = (entry[11] & 0x10) != 0;
        found.size = found.isFolder ? 0 : Le32(entry + 28);
        if (found.isFolder) {
            FOLDER_FRAME* inner;
            if (!IsCluster(fat, found.firstCluster)) {
                code = QF_BAD_FORMAT;
                break;
            }
            if (state->depth > MAX_DEPTH) {
                code = QF_NOT_SUPPORTED;
                break;
            }
            if (callback && (code = callback(context, &found)) != 0)
                break;
            inner = &state->frames[state->depth];
            memset(inner, 0, sizeof *inner);
            inner->pathLength = pathLength;
            code = LoadFolder(fat, found.firstCluster, &inner->data, &inner->length);
            if (code) {
                QfFree(inner->data);
                inner->data = NULL;
                break;
            }
            state->depth++;
        } else {
            code = CheckFileChain(fat, found.firstCluster, found.size);
            if (!code && callback)
                code = callback(context, &found);
        }
    }
    while (state->depth > 0) {
        QfFree(state->frames[state->depth - 1].data);
        state->depth--;
    }
    QfFree(state);
    return code;
}

uint32_t QfReadFile(QF_FAT* fat, const QF_ENTRY* entry, QF_DATA_CALLBACK callback, void* context)
{
    uint32_t left = entry->size, cluster = entry->firstCluster, code = QF_OK;
    uint32_t pieceBytes = fat->clusterBytes > READ_PIECE ? fat->clusterBytes : READ_PIECE;
    uint8_t* piece;
    if (left == 0)
        return QF_OK;
    code = CheckFileChain(fat, cluster, left);
    if (code)
        return code;
    piece = QfAlloc(pieceBytes);
    if (!piece)
        return QF_NOT_ENOUGH_MEMORY;
    while (!code && left) {
        /* A run of consecutive clusters is read at once. */
        uint32_t run = 1, bytes, next = cluster;
        while (!code && (uint64_t)(run + 1) * fat->clusterBytes <= pieceBytes &&
               (uint64_t)run * fat->clusterBytes < left) {
            code = NextCluster(fat, next, &next);
            if (code || next != cluster + run)
                break;
            run++;
        }
        if (code)
            break;
        bytes = (uint64_t)run * fat->clusterBytes < left ? run * fat->clusterBytes : left;
        code = ReadBytes(fat->disk, ClusterOffset(fat, cluster), piece, bytes);
        if (!code)
            code = callback(context, piece, bytes);
        left -= bytes;
        if (!code && left) {
            uint32_t last = cluster + run - 1;
            code = NextCluster(fat, last, &cluster);
            if (!code && cluster == FAT_END)
                code = QF_BAD_FORMAT;
        }
    }
    QfFree(piece);
    return code;
}

/* ================================================================== change file */

static const uint8_t kChangeMagic[8] = {'Q', 'O', 'R', 'C', 'H', 'G', '1', '\n'};
#define CHECK_SPAN (64u << 10)

uint32_t QfImageCheck(const QF_FILE* image, uint32_t* check)
{
    uint32_t span = image->size < CHECK_SPAN ? (uint32_t)image->size : CHECK_SPAN, code;
    uint8_t* bytes = QfAlloc(span ? span : 1);
    uLong crc = crc32(0, Z_NULL, 0);
    if (!bytes)
        return QF_NOT_ENOUGH_MEMORY;
    code = ReadAt(image, 0, bytes, span);
    if (!code) {
        crc = crc32(crc, bytes, span);
        code = ReadAt(image, image->size - span, bytes, span);
    }
    if (!code)
        crc = crc32(crc, bytes, span);
    QfFree(bytes);
    *check = (uint32_t)crc;
    return code;
}

void QfChangeHeader(uint8_t header[QF_CHANGE_HEADER_SIZE], uint64_t imageSize, uint32_t check)
{
    memcpy(header, kChangeMagic, sizeof kChangeMagic);
    PutLe64(header + 8, imageSize);
    PutLe32(header + 16, check);
    PutLe32(header + 20, 0);
}

void QfChangeRecord(uint8_t record[QF_CHANGE_RECORD_SIZE], int kind, uint32_t pathLength, uint64_t dataLength)
{
    record[0] = (uint8_t)kind;
    record[1] = 0;
    PutLe16(record + 2, (uint16_t)pathLength);
    PutLe64(record + 4, dataLength);
}

static uint32_t ChangeWalk(const QF_FILE* change, QF_CHANGE_CALLBACK callback, void* context, uint16_t* path)
{
    uint64_t at = QF_CHANGE_HEADER_SIZE;
    for (;;) {
        uint8_t record[QF_CHANGE_RECORD_SIZE];
        uint32_t pathLength, i, code;
        uint64_t dataLength;
        int kind;
        if (at >= change->size)
            return QF_FILE_CORRUPT;
        if (change->size - at == 1) {
            uint8_t last;
            code = change->read(change->context, at, &last, 1);
            if (code)
                return code;
            return last == 0 ? QF_OK : QF_FILE_CORRUPT;
        }
        if (change->size - at < QF_CHANGE_RECORD_SIZE)
            return QF_FILE_CORRUPT;
        code = change->read(change->context, at, record, sizeof record);
        if (code)
            return code;
        at += sizeof record;
        kind = record[0];
        pathLength = Le16(record + 2);
        dataLength = Le64(record + 4);
        if ((kind != QF_CHANGE_FILE && kind != QF_CHANGE_FOLDER && kind != QF_CHANGE_REMOVED) || record[1] != 0 ||
            (kind != QF_CHANGE_FILE && dataLength != 0) || dataLength > 0xFFFFFFFFu)
            return QF_FILE_CORRUPT;
        if (pathLength == 0 || change->size - at < (uint64_t)pathLength * 2)
            return QF_FILE_CORRUPT;
        code = change->read(change->context, at, path, pathLength * 2);
        if (code)
            return code;
        for (i = 0; i < pathLength; i++)
            path[i] = Le16((const uint8_t*)&path[i]);
        if (!QfIsGoodPath(path, pathLength))
            return QF_FILE_CORRUPT;
        at += (uint64_t)pathLength * 2;
        if (change->size - at < dataLength)
            return QF_FILE_CORRUPT;
        if (callback) {
            code = callback(context, kind, path, pathLength, at, dataLength);
            if (code)
                return code;
        }
        at += dataLength;
    }
}

uint32_t QfWalkChanges(const QF_FILE* change, uint64_t imageSize, uint32_t check, QF_CHANGE_CALLBACK callback,
                       void* context)
{
    uint8_t header[QF_CHANGE_HEADER_SIZE];
    uint16_t* path;
    uint32_t code;
    if (change->size < sizeof header)
        return QF_FILE_CORRUPT;
    code = change->read(change->context, 0, header, sizeof header);
    if (code)
        return code;
    if (memcmp(header, kChangeMagic, sizeof kChangeMagic) != 0 || Le32(header + 20) != 0)
        return QF_FILE_CORRUPT;
    if (Le64(header + 8) != imageSize || Le32(header + 16) != check)
        return QF_FILE_INVALID;
    path = QfAlloc(0x10000 * sizeof(uint16_t));
    if (!path)
        return QF_NOT_ENOUGH_MEMORY;
    code = ChangeWalk(change, NULL, NULL, path);
    if (!code && callback)
        code = ChangeWalk(change, callback, context, path);
    QfFree(path);
    return code;
}
