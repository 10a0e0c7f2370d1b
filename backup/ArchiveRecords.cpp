#include "Platform.h"

#include "ArchiveRecords.h"

#include <cstdlib>
#include <cstring>

namespace {

const size_t kPathOffset = 164;

uint8_t* Bytes(HdArchiveHeader* header) { return reinterpret_cast<uint8_t*>(header); }

// The record area: [1240 + partition area, length - tail).
bool RecordArea(const HdArchiveHeader* header, size_t* start, size_t* end)
{
    uint64_t first = static_cast<uint64_t>(kHdFixedHeaderLength) + header->partitionAreaLength;
    if (header->length < header->tailLength)
        return false;
    uint64_t last = static_cast<uint64_t>(header->length) - header->tailLength;
    if (first > last)
        return false;
    *start = static_cast<size_t>(first);
    *end = static_cast<size_t>(last);
    return true;
}

// The end of the used part of the record list.
size_t UsedEnd(HdArchiveHeader* header)
{
    size_t start, end;
    if (!RecordArea(header, &start, &end))
        return 0;
    size_t at = start;
    for (unsigned i = 0; i < header->recordCount; ++i) {
        if (at + 4 > end)
            break;
        uint16_t length;
        memcpy(&length, Bytes(header) + at, 2);
        if (length < 4 || at + length > end)
            break;
        at += length;
    }
    return at;
}

bool StartsWithNoCase(const char* text, const char* prefix)
{
    return _strnicmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

const char* GetRecordPath(const ArchiveRecord* record)
{
    if (!record || record->length < kPathOffset + 2)
        return nullptr;
    const char* bytes = reinterpret_cast<const char*>(record);
    const char* name = bytes + kPathOffset;
    const char* end = bytes + record->length;
    const char* nul = static_cast<const char*>(memchr(name, 0, end - name));
    if (!nul || nul + 1 >= end)
        return nullptr;
    const char* path = nul + 1;
    if (!memchr(path, 0, end - path))
        return nullptr;
    return path;
}

bool IsPipeLocation(const ArchiveRecord* record)
{
    const char* path = GetRecordPath(record);
    return path && StartsWithNoCase(path, "pipe:/");
}

bool IsFtpLocation(const ArchiveRecord* record)
{
    const char* path = GetRecordPath(record);
    return path && StartsWithNoCase(path, "ftp:/");
}

ArchiveRecord* NewArchiveLocation(const char* path)
{
    size_t n = strlen(path);
    if (n + 170 > 0xFFFF)
        return nullptr;
    auto* record = static_cast<ArchiveRecord*>(calloc(1, n + 170));
    if (!record)
        return nullptr;
    record->length = static_cast<uint16_t>(n + 170);
    memcpy(reinterpret_cast<char*>(record) + kPathOffset + 1, path, n);
    return record;
}

ArchiveRecord* CopyArchiveRecord(const ArchiveRecord* record)
{
    if (!record || record->length < 4)
        return nullptr;
    auto* copy = static_cast<ArchiveRecord*>(malloc(record->length));
    if (copy)
        memcpy(copy, record, record->length);
    return copy;
}

void FreeArchiveRecord(ArchiveRecord* record)
{
    free(record);
}

long long LocationFreeSpace(const char* path)
{
    size_t n = strlen(path);
    if (n > 2047)
        return -1;
    char folder[2048];
    memcpy(folder, path, n + 1);
    char* cut = nullptr;
    for (char* p = folder; *p; ++p)
        if (*p == '\\' || *p == '/')
            cut = p;
    if (cut)
        cut[1] = 0;
    else
        strcpy(folder, ".\\");
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr))
        return -1;
    return static_cast<long long>(available.QuadPart);
}

unsigned GetHeaderRecordCount(const HdArchiveHeader* header)
{
    return header->recordCount;
}

ArchiveRecord* GetFirstHeaderRecord(HdArchiveHeader* header)
{
    size_t start, end;
    if (!RecordArea(header, &start, &end))
        return nullptr;
    return reinterpret_cast<ArchiveRecord*>(Bytes(header) + start);
}

ArchiveRecord* GetNextHeaderRecord(HdArchiveHeader* header, ArchiveRecord* record)
{
    (void)header;
    return reinterpret_cast<ArchiveRecord*>(reinterpret_cast<uint8_t*>(record) + record->length);
}

bool EndOfHeaderRecords(const HdArchiveHeader* header, const ArchiveRecord* record)
{
    size_t start, end;
    if (!record || !RecordArea(header, &start, &end))
        return true;
    const uint8_t* base = reinterpret_cast<const uint8_t*>(header);
    const uint8_t* at = reinterpret_cast<const uint8_t*>(record);
    if (at < base + start || at + 4 > base + end)
        return true;
    uint16_t length;
    memcpy(&length, at, 2);
    return length < 4 || at + length > base + end;
}

ArchiveRecord* FindHeaderRecord(HdArchiveHeader* header, uint8_t type)
{
    ArchiveRecord* record = GetFirstHeaderRecord(header);
    for (unsigned i = 0; i < header->recordCount && !EndOfHeaderRecords(header, record); ++i) {
        if (record->type == type)
            return record;
        record = GetNextHeaderRecord(header, record);
    }
    return nullptr;
}

ArchiveRecord* InsertHeaderRecord(HdArchiveHeader* header, const ArchiveRecord* record, ArchiveRecord* after)
{
    size_t start, end;
    if (!record || record->length < 4 || !RecordArea(header, &start, &end) || header->recordCount == 0xFF)
        return nullptr;
    size_t used = UsedEnd(header);
    if (used + record->length > end)
        return nullptr;
    uint8_t* at = after ? reinterpret_cast<uint8_t*>(after) + after->length : Bytes(header) + start;
    if (at < Bytes(header) + start || at > Bytes(header) + used)
        return nullptr;
    memmove(at + record->length, at, Bytes(header) + used - at);
    memcpy(at, record, record->length);
    ++header->recordCount;
    return reinterpret_cast<ArchiveRecord*>(at);
}

ArchiveRecord* RemoveHeaderRecord(HdArchiveHeader* header, ArchiveRecord* record)
{
    ArchiveRecord* walk = GetFirstHeaderRecord(header);
    for (unsigned i = 0; i < header->recordCount && !EndOfHeaderRecords(header, walk); ++i) {
        if (walk == record) {
            size_t used = UsedEnd(header);
            uint8_t* at = reinterpret_cast<uint8_t*>(record);
            size_t length = record->length;
            memmove(at, at + length, Bytes(header) + used - at - length);
            memset(Bytes(header) + used - length, 0, length);
            --header->recordCount;
            return record;
        }
        walk = GetNextHeaderRecord(header, walk);
    }
    return nullptr;
}

void FreeArchiveHeader(HdArchiveHeader* header)
{
    free(header);
}

HeaderPartition GetFirstHeaderPartition(const HdArchiveHeader* header)
{
    HeaderPartition partition;
    const size_t length = header->length;
    if (length <= kHdFixedHeaderLength)
        return partition;
    const size_t room = length - kHdFixedHeaderLength;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(header) + kHdFixedHeaderLength;
    if (room > kPartitionDriveLetter)
        partition.driveLetterNumber = bytes[kPartitionDriveLetter];
    if (room > kPartitionLabel) {
        const char* label = reinterpret_cast<const char*>(bytes + kPartitionLabel);
        const size_t labelRoom = (room < kPartitionUsedSectors ? room : kPartitionUsedSectors) - kPartitionLabel;
        partition.label.assign(label, strnlen(label, labelRoom));
    }
    if (room >= kPartitionUsedSectors + 4)
        std::memcpy(&partition.usedSectors, bytes + kPartitionUsedSectors, 4);
    if (room >= kPartitionTotalSectors + 4)
        std::memcpy(&partition.totalSectors, bytes + kPartitionTotalSectors, 4);
    return partition;
}
