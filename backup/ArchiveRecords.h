#pragma once
// Helpers on location records and on the record list of an archive header.
// Every helper checks the record against its own length, so a damaged record
// never sends a caller past its end.
#include "ArchiveFormat.h"

#include <cstdint>
#include <string>

// The path of a location (after the name's NUL); null when the record is too
// short or its strings are not terminated inside it.
const char* GetRecordPath(const ArchiveRecord* record);
bool IsPipeLocation(const ArchiveRecord* record);
bool IsFtpLocation(const ArchiveRecord* record);
// A zeroed record of strlen(path) + 170 bytes, empty name, the path at byte
// 165; free with FreeArchiveRecord. Null when out of memory.
ArchiveRecord* NewArchiveLocation(const char* path);
ArchiveRecord* CopyArchiveRecord(const ArchiveRecord* record);
void FreeArchiveRecord(ArchiveRecord* record);
// Free bytes in the folder of `path`; -1 on failure.
long long LocationFreeSpace(const char* path);

unsigned GetHeaderRecordCount(const HdArchiveHeader* header);
ArchiveRecord* GetFirstHeaderRecord(HdArchiveHeader* header);
ArchiveRecord* GetNextHeaderRecord(HdArchiveHeader* header, ArchiveRecord* record);
// True when `record` is not a whole record inside the record area.
bool EndOfHeaderRecords(const HdArchiveHeader* header, const ArchiveRecord* record);
// Inserts a copy of `record` after `after` (null: at the front); null when the
// list would pass the header length minus the tail.
ArchiveRecord* InsertHeaderRecord(HdArchiveHeader* header, const ArchiveRecord* record, ArchiveRecord* after);
// Removes `record`; returns it (now the position of the next one), or null
// when it is not in the list.
ArchiveRecord* RemoveHeaderRecord(HdArchiveHeader* header, ArchiveRecord* record);
// The first record of `type`, or null.
ArchiveRecord* FindHeaderRecord(HdArchiveHeader* header, uint8_t type);

// A header copy handed out by the readers (GetHeaderCopy, OpenArchive).
void FreeArchiveHeader(HdArchiveHeader* header);

// The first partition record of a volume's header (it lies right after the
// fixed header), read only as far as the header's length holds it: a field
// the header has no bytes for is empty or zero.
struct HeaderPartition {
    uint8_t driveLetterNumber = 0;  // 1 is A:
    std::string label;              // ANSI, without its NUL
    uint32_t usedSectors = 0;
    uint32_t totalSectors = 0;
};
HeaderPartition GetFirstHeaderPartition(const HdArchiveHeader* header);
