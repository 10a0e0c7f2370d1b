#include "qorfiles.h"

#include "qorformat.h"

/* ------------------------------------------------------------------ memory */

void* Allocate(SIZE_T size)
{
    void* p = ExAllocatePoolWithTag(NonPagedPool, size ? size : 1, POOL_TAG);
    if (p)
        RtlZeroMemory(p, size ? size : 1);
    return p;
}

void* QfAlloc(size_t size) { return Allocate(size); }

void QfFree(void* block)
{
    if (block)
        ExFreePool(block);
}

/* zlib takes its working memory through these. */
void* malloc(size_t size) { return ExAllocatePoolWithTag(NonPagedPool, size ? size : 1, POOL_TAG); }

void free(void* block)
{
    if (block)
        ExFreePool(block);
}

ULONG ToWin32(NTSTATUS status)
{
    ULONG code = RtlNtStatusToDosError(status);
    return code ? code : 87; /* ERROR_INVALID_PARAMETER */
}

/* Code of a comparison that found the first difference; never reaches a caller. */
#define DIFFERENT 0xE0DF0001u

/* ------------------------------------------------------------------ paths */

/* "\??\" + an ANSI Win32 path, then optionally '\' + a relative UTF-16 path, then a suffix. */
static NTSTATUS MakePath(const char* dosPath, const WCHAR* relative, ULONG relativeLength, const WCHAR* suffix,
                         UNICODE_STRING* out)
{
    static const WCHAR prefix[] = L"\\??\\";
    ANSI_STRING ansi;
    UNICODE_STRING wide;
    SIZE_T units, suffixLength = suffix ? wcslen(suffix) : 0, at;
    NTSTATUS status;

    RtlZeroMemory(out, sizeof *out);
    if (strlen(dosPath) > 0x7FF0)
        return STATUS_NAME_TOO_LONG;
    RtlInitAnsiString(&ansi, dosPath);
    status = RtlAnsiStringToUnicodeString(&wide, &ansi, TRUE);
    if (!NT_SUCCESS(status))
        return status;
    units = 4 + wide.Length / sizeof(WCHAR) + (relative ? 1 + relativeLength : 0) + suffixLength;
    if (units * sizeof(WCHAR) > 0xFFF0) {
        RtlFreeUnicodeString(&wide);
        return STATUS_NAME_TOO_LONG;
    }
    out->Buffer = Allocate((units + 1) * sizeof(WCHAR));
    if (!out->Buffer) {
        RtlFreeUnicodeString(&wide);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(out->Buffer, prefix, 4 * sizeof(WCHAR));
    RtlCopyMemory(out->Buffer + 4, wide.Buffer, wide.Length);
    at = 4 + wide.Length / sizeof(WCHAR);
    RtlFreeUnicodeString(&wide);
    if (relative) {
        out->Buffer[at++] = L'\\';
        RtlCopyMemory(out->Buffer + at, relative, relativeLength * sizeof(WCHAR));
        at += relativeLength;
    }
    if (suffixLength)
        RtlCopyMemory(out->Buffer + at, suffix, suffixLength * sizeof(WCHAR));
    out->Length = (USHORT)(units * sizeof(WCHAR));
    out->MaximumLength = (USHORT)((units + 1) * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

/* base + '\' + relative. */
static NTSTATUS JoinPath(const UNICODE_STRING* base, const WCHAR* relative, ULONG relativeLength, UNICODE_STRING* out)
{
    SIZE_T units = base->Length / sizeof(WCHAR) + 1 + relativeLength;
    RtlZeroMemory(out, sizeof *out);
    if (units * sizeof(WCHAR) > 0xFFF0)
        return STATUS_NAME_TOO_LONG;
    out->Buffer = Allocate((units + 1) * sizeof(WCHAR));
    if (!out->Buffer)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(out->Buffer, base->Buffer, base->Length);
    out->Buffer[base->Length / sizeof(WCHAR)] = L'\\';
    RtlCopyMemory(out->Buffer + base->Length / sizeof(WCHAR) + 1, relative, relativeLength * sizeof(WCHAR));
    out->Length = (USHORT)(units * sizeof(WCHAR));
    out->MaximumLength = (USHORT)((units + 1) * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

static void FreePath(UNICODE_STRING* path)
{
    if (path->Buffer)
        ExFreePool(path->Buffer);
    RtlZeroMemory(path, sizeof *path);
}

#define SHARE_ALL (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)

static NTSTATUS OpenNt(const UNICODE_STRING* path, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                       HANDLE* handle)
{
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    return ZwCreateFile(handle, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL, share, disposition,
                        options | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
}

static NTSTATUS QueryPath(const UNICODE_STRING* path, FILE_NETWORK_OPEN_INFORMATION* info)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    return ZwQueryFullAttributesFile(&attributes, info);
}

static BOOLEAN IsMissing(NTSTATUS status)
{
    return status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND ||
           status == STATUS_NO_SUCH_FILE;
}

/* ------------------------------------------------------------------ file I/O */

static uint32_t ReadHandle(void* context, uint64_t offset, void* buffer, uint32_t length)
{
    IO_STATUS_BLOCK io;
    LARGE_INTEGER at;
    NTSTATUS status;
    at.QuadPart = (LONGLONG)offset;
    status = ZwReadFile((HANDLE)context, NULL, NULL, NULL, &io, buffer, length, &at, NULL);
    if (status == STATUS_END_OF_FILE)
        return QF_BAD_FORMAT;
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    return io.Information == length ? QF_OK : QF_BAD_FORMAT;
}

static ULONG WriteHandle(HANDLE file, ULONG64 offset, const void* data, ULONG length)
{
    IO_STATUS_BLOCK io;
    LARGE_INTEGER at;
    NTSTATUS status;
    if (!length)
        return 0;
    at.QuadPart = (LONGLONG)offset;
    status = ZwWriteFile(file, NULL, NULL, NULL, &io, (PVOID)data, length, &at, NULL);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    return io.Information == length ? 0 : 112; /* ERROR_DISK_FULL */
}

static ULONG SizeOf(HANDLE file, ULONG64* size)
{
    IO_STATUS_BLOCK io;
    FILE_STANDARD_INFORMATION info;
    NTSTATUS status = ZwQueryInformationFile(file, &io, &info, sizeof info, FileStandardInformation);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    *size = (ULONG64)info.EndOfFile.QuadPart;
    return 0;
}

#define COPY_PIECE (256u << 10)

/* Copies length bytes from one file's offset to another's. A source that ends early is a failure. */
static ULONG CopyRange(HANDLE from, ULONG64 fromAt, HANDLE to, ULONG64 toAt, ULONG64 length)
{
    UCHAR* piece = Allocate(COPY_PIECE);
    ULONG code = 0;
    if (!piece)
        return QF_NOT_ENOUGH_MEMORY;
    while (!code && length) {
        ULONG n = length < COPY_PIECE ? (ULONG)length : COPY_PIECE;
        code = ReadHandle(from, fromAt, piece, n);
        if (!code)
            code = WriteHandle(to, toAt, piece, n);
        fromAt += n;
        toAt += n;
        length -= n;
    }
    ExFreePool(piece);
    return code;
}

/* ------------------------------------------------------------------ the image */

typedef struct {
    HANDLE file;
    QF_FILE source;
    QF_DISK* disk;
    QF_FAT* fat;
} READER;

static void CloseReader(READER* reader)
{
    QfCloseFat(reader->fat);
    QfCloseDisk(reader->disk);
    if (reader->file)
        ZwClose(reader->file);
    RtlZeroMemory(reader, sizeof *reader);
}

/* The reader must stay where it is while it is open: the partition keeps a pointer to its source. */
static ULONG OpenReader(const char* image, int kind, READER* reader)
{
    UNICODE_STRING path;
    NTSTATUS status;
    ULONG code;
    RtlZeroMemory(reader, sizeof *reader);
    status = MakePath(image, NULL, 0, NULL, &path);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    status = OpenNt(&path, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &reader->file);
    FreePath(&path);
    if (!NT_SUCCESS(status)) {
        reader->file = NULL;
        return ToWin32(status);
    }
    reader->source.context = reader->file;
    reader->source.read = ReadHandle;
    code = SizeOf(reader->file, &reader->source.size);
    if (!code)
        code = QfOpenDisk(&reader->source, kind, &reader->disk);
    if (!code)
        code = QfOpenFat(reader->disk, &reader->fat);
    if (code)
        CloseReader(reader);
    return code;
}

/* Hands the records of the change file to the callback; no change file is no failure. */
static ULONG ReadChanges(READER* reader, const char* change, QF_CHANGE_CALLBACK callback, void* context,
                         HANDLE* changeFile)
{
    UNICODE_STRING path;
    NTSTATUS status;
    QF_FILE source;
    uint32_t check;
    ULONG code;
    HANDLE file;

    code = QfImageCheck(&reader->source, &check);
    if (code)
        return code;
    status = MakePath(change, NULL, 0, NULL, &path);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    status = OpenNt(&path, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &file);
    FreePath(&path);
    if (IsMissing(status))
        return 0;
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    source.context = file;
    source.read = ReadHandle;
    code = SizeOf(file, &source.size);
    if (changeFile)
        *changeFile = file;
    if (!code)
        code = QfWalkChanges(&source, reader->source.size, check, callback, context);
    if (changeFile)
        *changeFile = NULL;
    ZwClose(file);
    return code;
}

static uint32_t DiscardPiece(void* context, const uint8_t* data, uint32_t length)
{
    (void)context;
    (void)data;
    (void)length;
    return 0;
}

static uint32_t UnpackEntry(void* context, const QF_ENTRY* entry)
{
    return entry->isFolder ? 0 : QfReadFile(context, entry, DiscardPiece, NULL);
}

ULONG CheckImage(const char* image, const char* change, int kind, VOLUME_FACTS* facts)
{
    READER reader;
    ULONG code = OpenReader(image, kind, &reader);
    if (code)
        return code;
    /* Every file is unpacked once, so that a damaged block is found before a letter is given. */
    code = QfWalk(reader.fat, UnpackEntry, reader.fat);
    if (!code)
        code = ReadChanges(&reader, change, NULL, NULL, NULL);
    if (!code && facts) {
        facts->bits = QfFatBits(reader.fat);
        facts->serial = QfFatSerial(reader.fat);
        RtlCopyMemory(facts->label, QfFatLabel(reader.fat), sizeof facts->label);
    }
    CloseReader(&reader);
    return code;
}

/* ------------------------------------------------------------------ folders */

#define MAX_FOLDER_DEPTH 128
#define LISTING_SIZE (16u << 10)

static NTSTATUS DeleteTreeNt(const UNICODE_STRING* path, int depth)
{
    FILE_NETWORK_OPEN_INFORMATION info;
    OBJECT_ATTRIBUTES attributes;
    NTSTATUS status = QueryPath(path, &info), failure = STATUS_SUCCESS;
    if (IsMissing(status))
        return STATUS_SUCCESS;
    if (!NT_SUCCESS(status))
        return status;
    if (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        HANDLE folder;
        UCHAR* listing;
        BOOLEAN restart = TRUE;
        if (depth > MAX_FOLDER_DEPTH)
            return STATUS_NAME_TOO_LONG;
        status = OpenNt(path, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_OPEN, FILE_DIRECTORY_FILE, &folder);
        if (!NT_SUCCESS(status))
            return status;
        listing = Allocate(LISTING_SIZE);
        if (!listing) {
            ZwClose(folder);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        for (;;) {
            IO_STATUS_BLOCK io;
            FILE_DIRECTORY_INFORMATION* item = (FILE_DIRECTORY_INFORMATION*)listing;
            status = ZwQueryDirectoryFile(folder, NULL, NULL, NULL, &io, listing, LISTING_SIZE,
                                          FileDirectoryInformation, FALSE, NULL, restart);
            restart = FALSE;
            if (!NT_SUCCESS(status))
                break;
            for (;;) {
                ULONG units = item->FileNameLength / sizeof(WCHAR);
                if (!(units == 1 && item->FileName[0] == L'.') &&
                    !(units == 2 && item->FileName[0] == L'.' && item->FileName[1] == L'.')) {
                    UNICODE_STRING child;
                    NTSTATUS childStatus = JoinPath(path, item->FileName, units, &child);
                    if (NT_SUCCESS(childStatus)) {
                        childStatus = DeleteTreeNt(&child, depth + 1);
                        FreePath(&child);
                    }
                    if (!NT_SUCCESS(childStatus))
                        failure = childStatus;
                }
                if (!item->NextEntryOffset)
                    break;
                item = (FILE_DIRECTORY_INFORMATION*)((UCHAR*)item + item->NextEntryOffset);
            }
        }
        ExFreePool(listing);
        ZwClose(folder);
        if (status != STATUS_NO_MORE_FILES && !NT_SUCCESS(status))
            return status;
        if (!NT_SUCCESS(failure))
            return failure;
    }
    InitializeObjectAttributes(&attributes, (PUNICODE_STRING)path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL,
                               NULL);
    status = ZwDeleteFile(&attributes);
    return IsMissing(status) ? STATUS_SUCCESS : status;
}

NTSTATUS DeleteTree(const char* path)
{
    UNICODE_STRING nt;
    NTSTATUS status = MakePath(path, NULL, 0, NULL, &nt);
    if (!NT_SUCCESS(status))
        return status;
    status = DeleteTreeNt(&nt, 0);
    FreePath(&nt);
    return status;
}

typedef ULONG (*FOLDER_CALLBACK)(void* context, const WCHAR* relative, ULONG length, BOOLEAN isFolder,
                                 ULONG64 size);

/* Visits what a folder holds, a folder before its contents; `relative` (room for QF_MAX_PATH units)
 * holds the path below the root of the walk. */
static ULONG WalkFolder(const UNICODE_STRING* root, WCHAR* relative, ULONG length, int depth, FOLDER_CALLBACK callback,
                        void* context)
{
    UNICODE_STRING path;
    HANDLE folder;
    UCHAR* listing;
    BOOLEAN restart = TRUE;
    NTSTATUS status;
    ULONG code = 0;

    if (depth > MAX_FOLDER_DEPTH)
        return QF_NOT_SUPPORTED;
    status = length ? JoinPath(root, relative, length, &path) : STATUS_SUCCESS;
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    status = OpenNt(length ? &path : root, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_OPEN, FILE_DIRECTORY_FILE, &folder);
    if (length)
        FreePath(&path);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    listing = Allocate(LISTING_SIZE);
    if (!listing) {
        ZwClose(folder);
        return QF_NOT_ENOUGH_MEMORY;
    }
    while (!code) {
        IO_STATUS_BLOCK io;
        FILE_DIRECTORY_INFORMATION* item = (FILE_DIRECTORY_INFORMATION*)listing;
        status = ZwQueryDirectoryFile(folder, NULL, NULL, NULL, &io, listing, LISTING_SIZE, FileDirectoryInformation,
                                      FALSE, NULL, restart);
        restart = FALSE;
        if (status == STATUS_NO_MORE_FILES)
            break;
        if (!NT_SUCCESS(status)) {
            code = ToWin32(status);
            break;
        }
        for (;;) {
            ULONG units = item->FileNameLength / sizeof(WCHAR);
            if (!(units == 1 && item->FileName[0] == L'.') &&
                !(units == 2 && item->FileName[0] == L'.' && item->FileName[1] == L'.')) {
                ULONG inner = length + (length ? 1 : 0) + units;
                BOOLEAN isFolder = (item->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                if (inner > QF_MAX_PATH) {
                    code = QF_NOT_SUPPORTED;
                    break;
                }
                if (length)
                    relative[length] = L'\\';
                RtlCopyMemory(relative + inner - units, item->FileName, units * sizeof(WCHAR));
                code = callback(context, relative, inner, isFolder, (ULONG64)item->EndOfFile.QuadPart);
                if (!code && isFolder)
                    code = WalkFolder(root, relative, inner, depth + 1, callback, context);
                if (code)
                    break;
            }
            if (!item->NextEntryOffset)
                break;
            item = (FILE_DIRECTORY_INFORMATION*)((UCHAR*)item + item->NextEntryOffset);
        }
    }
    ExFreePool(listing);
    ZwClose(folder);
    return code;
}

/* Makes the folder, and the one it lies in when that is missing. */
static ULONG MakeFolder(const UNICODE_STRING* path, ULONG disposition)
{
    HANDLE folder;
    NTSTATUS status = OpenNt(path, FILE_LIST_DIRECTORY, SHARE_ALL, disposition, FILE_DIRECTORY_FILE, &folder);
    if (status == STATUS_OBJECT_PATH_NOT_FOUND) {
        UNICODE_STRING parent = *path;
        while (parent.Length && parent.Buffer[parent.Length / sizeof(WCHAR) - 1] != L'\\')
            parent.Length -= sizeof(WCHAR);
        if (parent.Length > sizeof(WCHAR)) {
            HANDLE made;
            parent.Length -= sizeof(WCHAR);
            if (NT_SUCCESS(OpenNt(&parent, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_OPEN_IF, FILE_DIRECTORY_FILE, &made)))
                ZwClose(made);
            status = OpenNt(path, FILE_LIST_DIRECTORY, SHARE_ALL, disposition, FILE_DIRECTORY_FILE, &folder);
        }
    }
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    ZwClose(folder);
    return 0;
}

/* ------------------------------------------------------------------ presenting */

typedef struct {
    READER* reader;
    UNICODE_STRING folder;
    HANDLE change; /* while the change file is replayed */
} PRESENT;

typedef struct {
    HANDLE file;
    ULONG64 at;
} SINK;

static uint32_t WritePiece(void* context, const uint8_t* data, uint32_t length)
{
    SINK* sink = context;
    ULONG code = WriteHandle(sink->file, sink->at, data, length);
    sink->at += length;
    return code;
}

static uint32_t ExtractEntry(void* context, const QF_ENTRY* entry)
{
    PRESENT* present = context;
    UNICODE_STRING path;
    HANDLE handle;
    NTSTATUS status = JoinPath(&present->folder, entry->path, entry->pathLength, &path);
    ULONG code = 0;
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    if (entry->isFolder) {
        status = OpenNt(&path, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_CREATE, FILE_DIRECTORY_FILE, &handle);
    } else {
        status = OpenNt(&path, GENERIC_WRITE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, &handle);
    }
    FreePath(&path);
    if (status == STATUS_OBJECT_NAME_COLLISION)
        return QF_BAD_FORMAT; /* two entries of one folder with the same name */
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    if (!entry->isFolder) {
        SINK sink;
        sink.file = handle;
        sink.at = 0;
        code = QfReadFile(present->reader->fat, entry, WritePiece, &sink);
    }
    ZwClose(handle);
    return code;
}

static uint32_t ApplyChange(void* context, int kind, const uint16_t* relative, uint32_t length, uint64_t dataOffset,
                            uint64_t dataLength)
{
    PRESENT* present = context;
    UNICODE_STRING path;
    HANDLE handle;
    NTSTATUS status = JoinPath(&present->folder, relative, length, &path);
    ULONG code = 0;
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    switch (kind) {
    case QF_CHANGE_REMOVED:
        status = DeleteTreeNt(&path, 0);
        code = NT_SUCCESS(status) ? 0 : ToWin32(status);
        break;
    case QF_CHANGE_FOLDER:
        status = OpenNt(&path, FILE_LIST_DIRECTORY, SHARE_ALL, FILE_OPEN_IF, FILE_DIRECTORY_FILE, &handle);
        if (NT_SUCCESS(status))
            ZwClose(handle);
        else
            code = QF_FILE_CORRUPT; /* a file stands where the folder goes, or its parent is missing */
        break;
    default:
        status = OpenNt(&path, GENERIC_WRITE, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE, &handle);
        if (!NT_SUCCESS(status)) {
            code = QF_FILE_CORRUPT;
        } else {
            code = CopyRange(present->change, dataOffset, handle, 0, dataLength);
            ZwClose(handle);
        }
        break;
    }
    FreePath(&path);
    return code;
}

ULONG PresentImage(const char* image, const char* change, int kind, const char* folder)
{
    READER reader;
    PRESENT present;
    NTSTATUS status;
    ULONG code;

    RtlZeroMemory(&present, sizeof present);
    code = OpenReader(image, kind, &reader);
    if (code)
        return code;
    present.reader = &reader;
    status = MakePath(folder, NULL, 0, NULL, &present.folder);
    code = NT_SUCCESS(status) ? 0 : ToWin32(status);
    if (!code) {
        status = DeleteTreeNt(&present.folder, 0);
        code = NT_SUCCESS(status) ? MakeFolder(&present.folder, FILE_CREATE) : ToWin32(status);
    }
    if (!code)
        code = QfWalk(reader.fat, ExtractEntry, &present);
    if (!code)
        code = ReadChanges(&reader, change, ApplyChange, &present, &present.change);
    if (code && present.folder.Buffer)
        DeleteTreeNt(&present.folder, 0);
    FreePath(&present.folder);
    CloseReader(&reader);
    return code;
}

/* ------------------------------------------------------------------ saving */

/* The image's paths, compared without regard to case as the drive compares them. */
typedef struct NAME_NODE {
    struct NAME_NODE* next;
    ULONG length;
    BOOLEAN isFolder;
    WCHAR name[1];
} NAME_NODE;

#define NAME_BUCKETS 1024

typedef struct {
    NAME_NODE* buckets[NAME_BUCKETS];
} NAME_SET;

static ULONG HashName(const WCHAR* name, ULONG length)
{
    ULONG hash = 2166136261u, i;
    for (i = 0; i < length; i++)
        hash = (hash ^ RtlUpcaseUnicodeChar(name[i])) * 16777619u;
    return hash % NAME_BUCKETS;
}

static ULONG AddName(NAME_SET* set, const WCHAR* name, ULONG length, BOOLEAN isFolder)
{
    ULONG bucket = HashName(name, length);
    NAME_NODE* node = Allocate(FIELD_OFFSET(NAME_NODE, name) + length * sizeof(WCHAR));
    if (!node)
        return QF_NOT_ENOUGH_MEMORY;
    node->length = length;
    node->isFolder = isFolder;
    RtlCopyMemory(node->name, name, length * sizeof(WCHAR));
    node->next = set->buckets[bucket];
    set->buckets[bucket] = node;
    return 0;
}

static BOOLEAN HasName(const NAME_SET* set, const WCHAR* name, ULONG length, BOOLEAN isFolder)
{
    const NAME_NODE* node;
    for (node = set->buckets[HashName(name, length)]; node; node = node->next) {
        ULONG i;
        if (node->length != length || node->isFolder != isFolder)
            continue;
        for (i = 0; i < length && RtlUpcaseUnicodeChar(node->name[i]) == RtlUpcaseUnicodeChar(name[i]); i++)
            ;
        if (i == length)
            return TRUE;
    }
    return FALSE;
}

static void FreeNames(NAME_SET* set)
{
    ULONG i;
    for (i = 0; i < NAME_BUCKETS; i++) {
        while (set->buckets[i]) {
            NAME_NODE* next = set->buckets[i]->next;
            ExFreePool(set->buckets[i]);
            set->buckets[i] = next;
        }
    }
    ExFreePool(set);
}

typedef struct {
    READER* reader;
    UNICODE_STRING folder;
    NAME_SET* names;
    HANDLE out; /* the new change file */
    ULONG64 at;
    ULONG records;
} SAVE;

static ULONG Append(SAVE* save, const void* data, ULONG length)
{
    ULONG code = WriteHandle(save->out, save->at, data, length);
    save->at += length;
    return code;
}

static ULONG AppendRecord(SAVE* save, int kind, const WCHAR* relative, ULONG length, ULONG64 dataLength)
{
    uint8_t record[QF_CHANGE_RECORD_SIZE];
    ULONG code;
    QfChangeRecord(record, kind, length, dataLength);
    code = Append(save, record, sizeof record);
    if (!code)
        code = Append(save, relative, length * sizeof(WCHAR));
    save->records++;
    return code;
}

/* A file of the folder, whole, as a record. */
static ULONG AppendFile(SAVE* save, const WCHAR* relative, ULONG length, const UNICODE_STRING* path)
{
    HANDLE file;
    ULONG64 size;
    ULONG code;
    NTSTATUS status = OpenNt(path, GENERIC_READ, SHARE_ALL, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &file);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    code = SizeOf(file, &size);
    if (!code && size > 0xFFFFFFFFull)
        code = QF_NOT_SUPPORTED;
    if (!code)
        code = AppendRecord(save, QF_CHANGE_FILE, relative, length, size);
    if (!code) {
        code = CopyRange(file, 0, save->out, save->at, size);
        save->at += size;
    }
    ZwClose(file);
    return code;
}

typedef struct {
    HANDLE file;
    ULONG64 at;
    UCHAR* piece;
} COMPARE;

static uint32_t ComparePiece(void* context, const uint8_t* data, uint32_t length)
{
    COMPARE* compare = context;
    while (length) {
        ULONG n = length < COPY_PIECE ? length : COPY_PIECE;
        if (ReadHandle(compare->file, compare->at, compare->piece, n) || RtlCompareMemory(compare->piece, data, n) != n)
            return DIFFERENT;
        compare->at += n;
        data += n;
        length -= n;
    }
    return 0;
}

/* An entry of the image: removed from the folder, replaced, written, or as it was. */
static uint32_t CompareEntry(void* context, const QF_ENTRY* entry)
{
    SAVE* save = context;
    FILE_NETWORK_OPEN_INFORMATION info;
    UNICODE_STRING path;
    NTSTATUS status;
    ULONG code = AddName(save->names, entry->path, entry->pathLength, (BOOLEAN)entry->isFolder);
    BOOLEAN isFolder;
    if (code)
        return code;
    status = JoinPath(&save->folder, entry->path, entry->pathLength, &path);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    status = QueryPath(&path, &info);
    isFolder = NT_SUCCESS(status) && (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (IsMissing(status) || (NT_SUCCESS(status) && isFolder != (BOOLEAN)entry->isFolder)) {
        code = AppendRecord(save, QF_CHANGE_REMOVED, entry->path, entry->pathLength, 0);
    } else if (!NT_SUCCESS(status)) {
        code = ToWin32(status);
    } else if (!entry->isFolder) {
        BOOLEAN same = (ULONG64)info.EndOfFile.QuadPart == entry->size;
        if (same && entry->size) {
            COMPARE compare;
            RtlZeroMemory(&compare, sizeof compare);
            compare.piece = Allocate(COPY_PIECE);
            status = OpenNt(&path, GENERIC_READ, SHARE_ALL, FILE_OPEN, FILE_NON_DIRECTORY_FILE, &compare.file);
            if (!compare.piece) {
                code = QF_NOT_ENOUGH_MEMORY;
            } else if (!NT_SUCCESS(status)) {
                code = ToWin32(status);
            } else {
                code = QfReadFile(save->reader->fat, entry, ComparePiece, &compare);
                if (code == DIFFERENT) {
                    same = FALSE;
                    code = 0;
                }
            }
            if (NT_SUCCESS(status))
                ZwClose(compare.file);
            if (compare.piece)
                ExFreePool(compare.piece);
        }
        if (!code && !same)
            code = AppendFile(save, entry->path, entry->pathLength, &path);
    }
    FreePath(&path);
    return code;
}

/* An entry of the folder that the image does not hold. */
static ULONG NewEntry(void* context, const WCHAR* relative, ULONG length, BOOLEAN isFolder, ULONG64 size)
{
    SAVE* save = context;
    UNICODE_STRING path;
    NTSTATUS status;
    ULONG code;
    (void)size;
    if (HasName(save->names, relative, length, isFolder))
        return 0;
    /* A name that the drive could not have made (no Win32 path reaches it) cannot be kept. */
    if (!QfIsGoodPath(relative, length))
        return 0;
    if (isFolder)
        return AppendRecord(save, QF_CHANGE_FOLDER, relative, length, 0);
    status = JoinPath(&save->folder, relative, length, &path);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    code = AppendFile(save, relative, length, &path);
    FreePath(&path);
    return code;
}

static NTSTATUS RenameOver(HANDLE file, const UNICODE_STRING* target)
{
    ULONG size = FIELD_OFFSET(FILE_RENAME_INFORMATION, FileName) + target->Length;
    FILE_RENAME_INFORMATION* rename = Allocate(size);
    IO_STATUS_BLOCK io;
    NTSTATUS status;
    if (!rename)
        return STATUS_INSUFFICIENT_RESOURCES;
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = NULL;
    rename->FileNameLength = target->Length;
    RtlCopyMemory(rename->FileName, target->Buffer, target->Length);
    status = ZwSetInformationFile(file, &io, rename, size, FileRenameInformation);
    ExFreePool(rename);
    return status;
}

static void DeleteOnClose(HANDLE file)
{
    FILE_DISPOSITION_INFORMATION disposition;
    IO_STATUS_BLOCK io;
    disposition.DeleteFile = TRUE;
    ZwSetInformationFile(file, &io, &disposition, sizeof disposition, FileDispositionInformation);
}

ULONG SaveChanges(const char* image, const char* change, int kind, const char* folder)
{
    static const WCHAR newSuffix[] = L".new";
    READER reader;
    SAVE save;
    UNICODE_STRING changePath, newPath;
    FILE_NETWORK_OPEN_INFORMATION info;
    uint8_t header[QF_CHANGE_HEADER_SIZE];
    uint32_t check;
    WCHAR* relative = NULL;
    NTSTATUS status;
    ULONG code;
    BOOLEAN existed;

    RtlZeroMemory(&save, sizeof save);
    RtlZeroMemory(&changePath, sizeof changePath);
    RtlZeroMemory(&newPath, sizeof newPath);
    code = OpenReader(image, kind, &reader);
    if (code)
        return code;
    save.reader = &reader;
    code = QfImageCheck(&reader.source, &check);
    if (!code) {
        status = MakePath(folder, NULL, 0, NULL, &save.folder);
        if (NT_SUCCESS(status))
            status = MakePath(change, NULL, 0, NULL, &changePath);
        if (NT_SUCCESS(status))
            status = MakePath(change, NULL, 0, newSuffix, &newPath);
        if (NT_SUCCESS(status))
            status = OpenNt(&newPath, GENERIC_WRITE | DELETE, 0, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE, &save.out);
        if (!NT_SUCCESS(status)) {
            save.out = NULL;
            code = ToWin32(status);
        }
    }
    if (!code) {
        save.names = Allocate(sizeof *save.names);
        relative = Allocate((QF_MAX_PATH + 1) * sizeof(WCHAR));
        if (!save.names || !relative)
            code = QF_NOT_ENOUGH_MEMORY;
    }
    if (!code) {
        QfChangeHeader(header, reader.source.size, check);
        code = Append(&save, header, sizeof header);
    }
    if (!code)
        code = QfWalk(reader.fat, CompareEntry, &save);
    if (!code)
        code = WalkFolder(&save.folder, relative, 0, 0, NewEntry, &save);
    if (!code) {
        static const uint8_t end = 0;
        code = Append(&save, &end, 1);
    }
    if (!code) {
        IO_STATUS_BLOCK io;
        status = ZwFlushBuffersFile(save.out, &io);
        if (!NT_SUCCESS(status))
            code = ToWin32(status);
    }
    existed = NT_SUCCESS(QueryPath(&changePath, &info));
    if (!code && (save.records || existed)) {
        status = RenameOver(save.out, &changePath);
        if (!NT_SUCCESS(status))
            code = ToWin32(status);
    } else if (save.out) {
        DeleteOnClose(save.out);
    }
    if (code && save.out)
        DeleteOnClose(save.out);
    if (save.out)
        ZwClose(save.out);
    if (save.names)
        FreeNames(save.names);
    if (relative)
        ExFreePool(relative);
    FreePath(&save.folder);
    FreePath(&changePath);
    FreePath(&newPath);
    CloseReader(&reader);
    return code;
}
