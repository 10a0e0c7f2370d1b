/*
 * The image formats the stand-in driver presents, read from an image file through a read callback
 * so that the same code runs in the driver and in a user-mode test:
 *
 *   - a volume of the newer backup-archive format ("KImg" header, "KZ" entries whose data is
 *     stored, byte-run coded or zlib-packed) holding the sectors of one partition;
 *   - a fixed VHD (512-byte "conectix" footer) whose MBR names one partition;
 *   - the FAT16 or FAT32 file system inside that partition: its folders and files with long names;
 *   - the driver's change file, which keeps what was written on a mounted image.
 *
 * Every length and offset in an image is checked before it is used: a bad image gives a Win32 code
 * (QF_BAD_FORMAT, or QF_NOT_SUPPORTED for a sound image that uses something this reader does not
 * present), never a read outside a buffer. Nothing here writes the image.
 */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Win32 codes the functions return. */
#define QF_OK 0u
#define QF_NOT_ENOUGH_MEMORY 8u
#define QF_BAD_FORMAT 11u
#define QF_NOT_SUPPORTED 50u
#define QF_FILE_INVALID 1006u /* a change file made for another image */
#define QF_FILE_CORRUPT 1392u /* a change file that is not whole */

/* Memory of the embedder: blocks zeroed, NULL when none is left. */
void* QfAlloc(size_t size);
void QfFree(void* block);

/* An image file: its size and a read of exactly `length` bytes at `offset` (0 or a Win32 code). */
typedef struct {
    void* context;
    uint64_t size;
    uint32_t (*read)(void* context, uint64_t offset, void* buffer, uint32_t length);
} QF_FILE;

/* ------------------------------------------------------------------ partition */

#define QF_IMAGE_ARCHIVE 1
#define QF_IMAGE_VHD 2

typedef struct QF_DISK QF_DISK;

/* Opens the partition an image holds; the file must outlive the disk. */
uint32_t QfOpenDisk(const QF_FILE* file, int kind, QF_DISK** disk);
/* 512-byte sectors of the partition. */
uint64_t QfDiskSectors(const QF_DISK* disk);
/* Sectors that an archive does not hold read as zeros. */
uint32_t QfReadSectors(QF_DISK* disk, uint64_t first, uint32_t count, void* buffer);
void QfCloseDisk(QF_DISK* disk);

/* ------------------------------------------------------------------ file system */

typedef struct QF_FAT QF_FAT;

/* A folder or file of the file system. The path is relative to the root, UTF-16 with '\' between
 * its parts; it lives until the callback returns. */
typedef struct {
    const uint16_t* path;
    uint32_t pathLength; /* UTF-16 units */
    int isFolder;
    uint32_t size;
    uint32_t firstCluster;
} QF_ENTRY;

typedef uint32_t (*QF_ENTRY_CALLBACK)(void* context, const QF_ENTRY* entry);
typedef uint32_t (*QF_DATA_CALLBACK)(void* context, const uint8_t* data, uint32_t length);

uint32_t QfOpenFat(QF_DISK* disk, QF_FAT** fat);
/* 16 or 32, the volume serial and the label (11 characters, blanks trimmed, NUL-terminated). */
int QfFatBits(const QF_FAT* fat);
uint32_t QfFatSerial(const QF_FAT* fat);
const char* QfFatLabel(const QF_FAT* fat);
/* Visits every folder and file, a folder before what it holds, after checking it (names, cluster
 * chains, loops); callback may be NULL to check only. A nonzero code of the callback ends the walk
 * and is returned. */
uint32_t QfWalk(QF_FAT* fat, QF_ENTRY_CALLBACK callback, void* context);
/* Hands a file's data to the callback in order, in pieces. */
uint32_t QfReadFile(QF_FAT* fat, const QF_ENTRY* entry, QF_DATA_CALLBACK callback, void* context);
void QfCloseFat(QF_FAT* fat);

/* A file or folder name as the driver accepts it (1 to 255 units, no separator, wildcard or control
 * character, not "." or "..", no trailing dot or blank). */
int QfIsGoodName(const uint16_t* name, uint32_t length);
/* A relative path of good names with single '\' between them, at most QF_MAX_PATH units. */
#define QF_MAX_PATH 4096u
int QfIsGoodPath(const uint16_t* path, uint32_t length);

/* ------------------------------------------------------------------ change file */

/* Layout: header {"QORCHG1\n", u64 image size, u32 image check, u32 0}, then records
 * {u8 kind, u8 0, u16 path units, u64 data length, path (UTF-16), data}, then one zero byte that
 * ends the file. Kinds: a file with its whole content, a folder, a name of the image removed.
 * Applied in order over the image's files, the records give what the mounted drive showed. */
#define QF_CHANGE_HEADER_SIZE 24u
#define QF_CHANGE_RECORD_SIZE 12u
#define QF_CHANGE_FILE 'F'
#define QF_CHANGE_FOLDER 'D'
#define QF_CHANGE_REMOVED 'X'

/* Ties a change file to its image: a CRC-32 of the image's first and last 64 KiB. */
uint32_t QfImageCheck(const QF_FILE* image, uint32_t* check);
void QfChangeHeader(uint8_t header[QF_CHANGE_HEADER_SIZE], uint64_t imageSize, uint32_t check);
void QfChangeRecord(uint8_t record[QF_CHANGE_RECORD_SIZE], int kind, uint32_t pathLength, uint64_t dataLength);

typedef uint32_t (*QF_CHANGE_CALLBACK)(void* context, int kind, const uint16_t* path, uint32_t pathLength,
                                       uint64_t dataOffset, uint64_t dataLength);
/* Checks the whole file first (QF_FILE_CORRUPT, or QF_FILE_INVALID for another image's file), then,
 * with a callback, hands it every record in order. */
uint32_t QfWalkChanges(const QF_FILE* change, uint64_t imageSize, uint32_t check, QF_CHANGE_CALLBACK callback,
                       void* context);

#ifdef __cplusplus
}
#endif
