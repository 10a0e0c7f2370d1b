/*
 * qorbus.sys: a stand-in for the maker's image-mounting driver, for tests under Wine.
 *
 * It answers the driver's I/O-control protocol on the controller device \\.\QorBus and on the
 * volume devices of the letters it mounts. Every request is METHOD_BUFFERED; the reply's first
 * dword is its status (0 or a Win32 error code) and the IRP itself fails (STATUS_INVALID_PARAMETER)
 * only when its input or output size is not the one the request's layout fixes. A request whose
 * first dword is not the request magic is answered with ERROR_INVALID_PARAMETER: the version
 * query then carries no version and the volume query no reply magic. An archive is opened only
 * with its 1556-byte extra block naming the companion file; a VHD only without one.
 *
 * Images: a volume of the newer backup-archive format holding one partition (type GUID of an
 * archive), or a fixed VHD whose MBR names one partition (type GUID of a VHD); the partition holds
 * a FAT16 or FAT32 file system (qorformat.c reads all of these). An image that is not whole or
 * not of its kind is refused when it is opened with ERROR_BAD_FORMAT; one that uses what this
 * stand-in does not present (passwords, volume chains, LZRW3 blocks, dynamic VHDs, other file
 * systems) with ERROR_NOT_SUPPORTED.
 *
 * Presenting: the image itself is only ever read. An insert copies the image's files into a
 * folder of the driver's own (the system's temporary folder, "QorBus\<index>"), replays the
 * change file named in the request over them, and has Wine's mount manager map the drive letter
 * to that folder; then the letter's \DosDevices link is pointed at the driver's own volume device,
 * so that \\.\X: answers the volume query while file access through X:\ goes to the folder. A
 * flush, a remove and a close save what differs between the folder and the image into the change
 * file (qorfiles.c), so a later mount with the same change file shows every earlier write. Paths
 * must be ASCII "X:\..." paths on a drive that Wine's mount manager knows.
 *
 * Like the platform's mount manager, a mounted letter is recorded under HKLM\SYSTEM\MountedDevices
 * ("\DosDevices\X:", REG_BINARY UTF-16 "_??_QorBus#ImageDevice#Image<index>&<image file name>#
 * {volume class}" with its NUL) and the value is removed when the letter goes.
 *
 * Wine runs all dispatch on one thread, so dispatch never blocks: requests other than the
 * version and the volume query are queued and completed in order by one system thread, which
 * also owns the image table. The ready event handle belongs to the client: it is duplicated
 * out of the client's process during dispatch (referencing it UserMode is not implemented).
 *
 * The version reply's second dword is the number of handles open on the controller.
 *
 * Image information block (IOCTL_QOR_GET_IMAGE_INFO, s bytes, cut to s):
 *   0 u32 s, 4 u32 index, 8 u32 state (1 open, 2 inserted), 12 u32 mode, 16 u16 letter,
 *   18-28 zero, 29 u32 drive mask (unaligned), 33 ANSI image path (1024 bytes), 1057 ANSI path of
 *   the companion file that the extra block named at its byte 20 (empty for a VHD).
 */
#include <ntifs.h>

#include "qorfiles.h"
#include "qorformat.h"

#define EVENT_TYPE_PTR ((POBJECT_TYPE)ExEventObjectType) /* mingw declares it as a pointer already */

#define IOCTL_QOR_GET_VERSION 0x220400
#define IOCTL_QOR_IMAGE_INSERT 0x220404
#define IOCTL_QOR_IMAGE_REMOVE 0x220408
#define IOCTL_QOR_IMAGE_REMOVE_NOFLAG 0x22040C
#define IOCTL_QOR_QUERY_VOLUME 0x220410
#define IOCTL_QOR_IMAGE_OPEN 0x220414
#define IOCTL_QOR_IMAGE_CLOSE 0x220418
#define IOCTL_QOR_IMAGE_FLUSH 0x22044C
#define IOCTL_QOR_ENUM_IMAGES 0x220480
#define IOCTL_QOR_GET_IMAGE_INFO 0x220484

#define QOR_REQUEST_MAGIC 0x4B514F52
#define QOR_REPLY_MAGIC 0x524F514B
#define QOR_DRIVER_VERSION 0x20031104

/* Wine's mount manager: define or remove a drive letter mapped to a Unix folder, and query one. */
#define WINE_MOUNTMGR_DEFINE_UNIX_DRIVE 0x6DC080
#define WINE_MOUNTMGR_QUERY_UNIX_DRIVE 0x6D4084
#define DRIVE_TYPE_REMOVE 1
#define DRIVE_TYPE_FIXED 3

/* Win32 codes the replies carry. */
#define W32_FILE_NOT_FOUND 2
#define W32_INVALID_HANDLE 6
#define W32_NOT_ENOUGH_MEMORY 8
#define W32_NOT_READY 21
#define W32_ALREADY_ASSIGNED 85
#define W32_INVALID_PARAMETER 87
#define W32_INVALID_NAME 123
#define W32_BAD_PATHNAME 161
#define W32_BUSY 170
#define W32_TOO_MANY_IMAGES 1450 /* ERROR_NO_SYSTEM_RESOURCES */

#define MAX_IMAGES 32             /* indices 1..MAX_IMAGES; 0 is never an image */
#define PATH_FIELD 1024
#define OPEN_FIXED_SIZE 2089
#define EXTRA_SIZE 1556            /* the extra block of an archive volume */
#define EXTRA_COMPANION_OFFSET 20  /* its companion-file path */
#define ENUM_REPLY_SIZE 4108

static const GUID kArchiveType = {0xC13D5E8A, 0x47F2, 0x4B69, {0x9A, 0x0C, 0xE8, 0xB4, 0x21, 0x6D, 0x7F, 0x35}};
static const GUID kVhdType = {0x29A7F4D1, 0x8E63, 0x4C0B, {0xB5, 0xD8, 0x71, 0xC0, 0xE3, 0xF9, 0xA2, 0xB6}};

#define STATE_OPEN 1
#define STATE_INSERTED 2

typedef struct {
    ULONG state;
    ULONG mode;
    ULONG mask;            /* drive mask while inserted */
    WCHAR letter;          /* upper case while inserted */
    PKEVENT ready;         /* referenced; may be NULL */
    PDEVICE_OBJECT volume; /* \Device\QorVolX while inserted */
    BOOLEAN mountmgrLetter;
    BOOLEAN presented;     /* the folder holds the image's files */
    int kind;              /* QF_IMAGE_ARCHIVE or QF_IMAGE_VHD */
    VOLUME_FACTS facts;
    char image[PATH_FIELD];
    char change[PATH_FIELD];
    char companion[PATH_FIELD]; /* from the extra block of an archive, else empty */
    char folder[PATH_FIELD];    /* where the image's files are presented */
} IMAGE;

typedef struct {
    ULONG magic;
    ULONG index;
    VOLUME_FACTS facts; /* a copy: the dispatch thread reads it while the worker owns the image */
} VOLUME_EXTENSION;
#define VOLUME_MAGIC 0x4C4F5651

/* A queued request: the IRP and, for an open, the event referenced during dispatch. */
typedef struct {
    LIST_ENTRY link;
    PIRP irp;
    PKEVENT event;
} WORK_ITEM;

static PDRIVER_OBJECT g_driver;
static PDEVICE_OBJECT g_controller;
static UNICODE_STRING g_controllerLink;
static KSPIN_LOCK g_queueLock;
static LIST_ENTRY g_queue;
static KEVENT g_queueSignal;
static volatile LONG g_stopping;
static HANDLE g_worker;
static IMAGE g_images[MAX_IMAGES + 1];
static UNICODE_STRING g_serviceKey; /* the driver's service key, where it records its letters */
static volatile LONG g_controllerHandles;
static ULONG g_reportedVersion = QOR_DRIVER_VERSION;
static ULONG g_insertDelay; /* milliseconds an insert is held after the volume is ready */

static NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static ULONG GetU32(const UCHAR* p) { ULONG v; RtlCopyMemory(&v, p, 4); return v; }
static void PutU32(UCHAR* p, ULONG v) { RtlCopyMemory(p, &v, 4); }


/* ------------------------------------------------------------------ drive letters */

static NTSTATUS MountManagerRequest(ULONG code, void* input, ULONG inputSize, void* output, ULONG outputSize)
{
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK io;
    HANDLE manager;
    NTSTATUS status;
    RtlInitUnicodeString(&name, L"\\??\\MountPointManager");
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    status = ZwCreateFile(&manager, GENERIC_READ | GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, NULL, 0,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (!NT_SUCCESS(status))
        return status;
    status = ZwDeviceIoControlFile(manager, NULL, NULL, NULL, &io, code, input, inputSize, output, outputSize);
    ZwClose(manager);
    return status;
}

/* Request head of the mount manager's Unix-drive controls. */
#define MM_HEAD 32
#define MM_SIZE 0
#define MM_TYPE 4
#define MM_LETTER 24
#define MM_MOUNT_POINT 26

/* Maps letter to a Unix folder (unixPath) or, with unixPath NULL, removes it. */
static NTSTATUS DefineLetter(WCHAR letter, const char* unixPath)
{
    SIZE_T length = unixPath ? strlen(unixPath) + 1 : 0;
    ULONG size = (ULONG)(MM_HEAD + length);
    UCHAR* request = Allocate(size);
    NTSTATUS status;
    if (!request)
        return STATUS_INSUFFICIENT_RESOURCES;
    PutU32(request + MM_SIZE, size);
    PutU32(request + MM_TYPE, unixPath ? DRIVE_TYPE_FIXED : DRIVE_TYPE_REMOVE);
    *(WCHAR*)(request + MM_LETTER) = letter | 0x20;
    if (unixPath) {
        *(USHORT*)(request + MM_MOUNT_POINT) = MM_HEAD;
        RtlCopyMemory(request + MM_HEAD, unixPath, length);
    }
    status = MountManagerRequest(WINE_MOUNTMGR_DEFINE_UNIX_DRIVE, request, size, NULL, 0);
    ExFreePool(request);
    return status;
}

/* The Unix folder of an ASCII "X:\..." path, through the mount point of its drive (which may be
 * relative to the prefix's dosdevices folder, as Wine's own links are). Pool memory or NULL. */
static ULONG UnixPathOf(const char* path, char** unixPath)
{
    UCHAR query[MM_HEAD];
    UCHAR* reply;
    const ULONG replySize = 2048;
    NTSTATUS status;
    USHORT offset;
    SIZE_T mountLength, restLength, i;
    const char* rest;
    char* out;
    char letter = path[0] | 0x20;

    if (letter < 'a' || letter > 'z' || path[1] != ':' || path[2] != '\\')
        return W32_BAD_PATHNAME;
    for (i = 0; path[i]; i++)
        if ((UCHAR)path[i] >= 0x80)
            return W32_INVALID_NAME;
    RtlZeroMemory(query, sizeof query);
    PutU32(query + MM_SIZE, sizeof query);
    *(WCHAR*)(query + MM_LETTER) = letter;
    reply = Allocate(replySize);
    if (!reply)
        return W32_NOT_ENOUGH_MEMORY;
    status = MountManagerRequest(WINE_MOUNTMGR_QUERY_UNIX_DRIVE, query, sizeof query, reply, replySize);
    offset = *(USHORT*)(reply + MM_MOUNT_POINT);
    if (!NT_SUCCESS(status) || offset < MM_HEAD || offset >= replySize) {
        ExFreePool(reply);
        return NT_SUCCESS(status) ? W32_BAD_PATHNAME : ToWin32(status);
    }
    reply[replySize - 1] = 0;
    mountLength = strlen((char*)reply + offset);
    rest = path + 2;
    restLength = strlen(rest);
    out = Allocate(mountLength + restLength + 1);
    if (!out) {
        ExFreePool(reply);
        return W32_NOT_ENOUGH_MEMORY;
    }
    RtlCopyMemory(out, reply + offset, mountLength);
    for (i = 0; i < restLength; i++)
        out[mountLength + i] = rest[i] == '\\' ? '/' : rest[i];
    ExFreePool(reply);
    *unixPath = out;
    return 0;
}

static void LetterNames(WCHAR letter, WCHAR* device, WCHAR* link, UNICODE_STRING* deviceName,
                        UNICODE_STRING* linkName)
{
    static const WCHAR deviceText[] = L"\\Device\\QorVol?";
    static const WCHAR linkText[] = L"\\DosDevices\\?:";
    RtlCopyMemory(device, deviceText, sizeof deviceText);
    device[14] = letter;
    RtlCopyMemory(link, linkText, sizeof linkText);
    link[12] = letter;
    RtlInitUnicodeString(deviceName, device);
    RtlInitUnicodeString(linkName, link);
}

static BOOLEAN IsLetterDefined(WCHAR letter)
{
    WCHAR device[20], link[20];
    UNICODE_STRING deviceName, linkName;
    OBJECT_ATTRIBUTES attributes;
    HANDLE handle;
    LetterNames(letter, device, link, &deviceName, &linkName);
    InitializeObjectAttributes(&attributes, &linkName, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&handle, GENERIC_READ, &attributes)))
        return FALSE;
    ZwClose(handle);
    return TRUE;
}

/* ------------------------------------------------------------------ mounted devices */

/* What the platform's mount manager keeps of every letter it gives a volume; programs find the
 * volume behind a letter here. Our values are known by their beginning. */
static const WCHAR kMountedDevicesKey[] = L"\\Registry\\Machine\\SYSTEM\\MountedDevices";
static const WCHAR kDevicePrefix[] = L"_??_QorBus#ImageDevice#";
static const WCHAR kVolumeClass[] = L"#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
#define DEVICE_PREFIX_UNITS (sizeof kDevicePrefix / sizeof(WCHAR) - 1)

static HANDLE OpenMountedDevices(void)
{
    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    RtlInitUnicodeString(&name, kMountedDevicesKey);
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes, 0, NULL, REG_OPTION_NON_VOLATILE,
                                NULL)))
        return NULL;
    return key;
}

static BOOLEAN IsOurDevice(const KEY_VALUE_PARTIAL_INFORMATION* value)
{
    return value->Type == REG_BINARY && value->DataLength >= DEVICE_PREFIX_UNITS * sizeof(WCHAR) &&
           RtlCompareMemory(value->Data, kDevicePrefix, DEVICE_PREFIX_UNITS * sizeof(WCHAR)) ==
               DEVICE_PREFIX_UNITS * sizeof(WCHAR);
}

static void MountedDeviceName(WCHAR letter, WCHAR* text, UNICODE_STRING* name)
{
    static const WCHAR linkText[] = L"\\DosDevices\\?:";
    RtlCopyMemory(text, linkText, sizeof linkText);
    text[12] = letter;
    RtlInitUnicodeString(name, text);
}

static void RecordMountedDevice(const IMAGE* image, ULONG index)
{
    const char* fileName = image->image;
    const char* at;
    WCHAR nameText[20], digits[12];
    UNICODE_STRING name, file;
    ANSI_STRING ansi;
    ULONG digitCount = 0, units, length;
    WCHAR* data;
    HANDLE key;

    for (at = image->image; *at; at++)
        if (*at == '\\')
            fileName = at + 1;
    RtlInitAnsiString(&ansi, fileName);
    if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&file, &ansi, TRUE)))
        return;
    do {
        digits[digitCount++] = (WCHAR)(L'0' + index % 10);
        index /= 10;
    } while (index);
    units = DEVICE_PREFIX_UNITS + 5 + digitCount + 1 + file.Length / sizeof(WCHAR) +
            sizeof kVolumeClass / sizeof(WCHAR); /* the class's NUL ends the text */
    data = Allocate(units * sizeof(WCHAR));
    key = OpenMountedDevices();
    if (data && key) {
        length = 0;
        RtlCopyMemory(data, kDevicePrefix, DEVICE_PREFIX_UNITS * sizeof(WCHAR));
        length += DEVICE_PREFIX_UNITS;
        RtlCopyMemory(data + length, L"Image", 5 * sizeof(WCHAR));
        length += 5;
        while (digitCount)
            data[length++] = digits[--digitCount];
        data[length++] = L'&';
        RtlCopyMemory(data + length, file.Buffer, file.Length);
        length += file.Length / sizeof(WCHAR);
        RtlCopyMemory(data + length, kVolumeClass, sizeof kVolumeClass);
        MountedDeviceName(image->letter, nameText, &name);
        ZwSetValueKey(key, &name, 0, REG_BINARY, data, units * sizeof(WCHAR));
    }
    if (key)
        ZwClose(key);
    if (data)
        ExFreePool(data);
    RtlFreeUnicodeString(&file);
}

/* Removes the letter's value when it is one of ours. */
static void ForgetMountedDevice(WCHAR letter)
{
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof kDevicePrefix];
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    WCHAR nameText[20];
    UNICODE_STRING name;
    ULONG size = 0;
    NTSTATUS status;
    HANDLE key = OpenMountedDevices();
    if (!key)
        return;
    MountedDeviceName(letter, nameText, &name);
    status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer, &size);
    if ((NT_SUCCESS(status) || status == STATUS_BUFFER_OVERFLOW) && IsOurDevice(value))
        ZwDeleteValueKey(key, &name);
    ZwClose(key);
}

/* Values of letters that a session left behind when it ended without unloading the driver. */
static void RemoveStaleMountedDevices(void)
{
    WCHAR letter;
    for (letter = L'A'; letter <= L'Z'; letter++)
        ForgetMountedDevice(letter);
}

/* Takes the letter back: the volume device and its link, the mounted-device value, the mount
 * manager's drive, then the folder of the image's files. */
static void RemoveVolume(IMAGE* image)
{
    if (image->letter)
        ForgetMountedDevice(image->letter);
    if (image->volume) {
        WCHAR device[20], link[20];
        UNICODE_STRING deviceName, linkName;
        LetterNames(image->letter, device, link, &deviceName, &linkName);
        IoDeleteSymbolicLink(&linkName);
        IoDeleteDevice(image->volume);
        image->volume = NULL;
    }
    if (image->mountmgrLetter) {
        DefineLetter(image->letter, NULL);
        image->mountmgrLetter = FALSE;
    }
    if (image->presented) {
        /* Files still open in the folder stay until the next insert of this index or the next start. */
        DeleteTree(image->folder);
        image->presented = FALSE;
    }
    image->state &= ~STATE_INSERTED;
    image->mask = 0;
    image->letter = 0;
}

static ULONG CreateVolume(IMAGE* image, ULONG index)
{
    WCHAR device[20], link[20];
    UNICODE_STRING deviceName, linkName;
    PDEVICE_OBJECT volume;
    NTSTATUS status;
    LetterNames(image->letter, device, link, &deviceName, &linkName);
    status = IoCreateDevice(g_driver, sizeof(VOLUME_EXTENSION), &deviceName, FILE_DEVICE_DISK, 0, FALSE, &volume);
    if (!NT_SUCCESS(status))
        return ToWin32(status);
    ((VOLUME_EXTENSION*)volume->DeviceExtension)->magic = VOLUME_MAGIC;
    ((VOLUME_EXTENSION*)volume->DeviceExtension)->index = index;
    ((VOLUME_EXTENSION*)volume->DeviceExtension)->facts = image->facts;
    volume->Flags |= DO_BUFFERED_IO;
    volume->Flags &= ~DO_DEVICE_INITIALIZING;
    /* The mount manager's link goes to its own device; ours answers the volume query. */
    IoDeleteSymbolicLink(&linkName);
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(volume);
        return ToWin32(status);
    }
    image->volume = volume;
    return 0;
}

/* The letters shown are recorded in the service key ("MountedLetters", a drive mask), so that a
 * session that ended without unloading the driver (a killed wineserver) leaves no stale letter:
 * the next start takes them back. */
static const WCHAR kLettersValue[] = L"MountedLetters";

static HANDLE OpenServiceKey(void)
{
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    if (!g_serviceKey.Buffer)
        return NULL;
    InitializeObjectAttributes(&attributes, &g_serviceKey, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    return NT_SUCCESS(ZwOpenKey(&key, KEY_QUERY_VALUE | KEY_SET_VALUE, &attributes)) ? key : NULL;
}

static void RecordLetters(void)
{
    UNICODE_STRING name;
    ULONG index, mask = 0;
    HANDLE key = OpenServiceKey();
    if (!key)
        return;
    for (index = 1; index <= MAX_IMAGES; index++)
        if (g_images[index].mountmgrLetter)
            mask |= 1u << (g_images[index].letter - 'A');
    RtlInitUnicodeString(&name, kLettersValue);
    ZwSetValueKey(key, &name, 0, REG_DWORD, &mask, sizeof mask);
    ZwClose(key);
}

/* Settings for tests, read from the service key at start: "ReportedVersion" makes the driver
 * answer another version (the client's version check), "InsertDelay" holds an insert request
 * that many milliseconds after the volume is ready and its event set (a client that stops
 * waiting before the request ends). */
static void ReadSetting(const WCHAR* valueName, ULONG* setting)
{
    UNICODE_STRING name;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    ULONG size = 0;
    HANDLE key = OpenServiceKey();
    if (!key)
        return;
    RtlInitUnicodeString(&name, valueName);
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer, &size)) &&
        value->Type == REG_DWORD && value->DataLength == sizeof(ULONG))
        RtlCopyMemory(setting, value->Data, sizeof *setting);
    ZwClose(key);
}

static void RemoveStaleLetters(void)
{
    UNICODE_STRING name;
    UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    KEY_VALUE_PARTIAL_INFORMATION* value = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
    ULONG size = 0, mask, bit;
    HANDLE key = OpenServiceKey();
    if (!key)
        return;
    RtlInitUnicodeString(&name, kLettersValue);
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, value, sizeof buffer, &size)) &&
        value->Type == REG_DWORD && value->DataLength == sizeof(ULONG)) {
        RtlCopyMemory(&mask, value->Data, sizeof mask);
        for (bit = 2; bit < 26; bit++)
            if (mask & (1u << bit))
                DefineLetter((WCHAR)('A' + bit), NULL);
        mask = 0;
        ZwSetValueKey(key, &name, 0, REG_DWORD, &mask, sizeof mask);
    }
    ZwClose(key);
}

/* ------------------------------------------------------------------ the folders of images */

/* The system's temporary folder holds a folder per image index while it is inserted. */
static char g_folderRoot[PATH_FIELD] = "C:\\windows\\temp\\QorBus";

static void FindFolderRoot(void)
{
    static const char tail[] = "\\temp\\QorBus";
    UNICODE_STRING name, target;
    OBJECT_ATTRIBUTES attributes;
    WCHAR text[200];
    HANDLE link;
    ULONG units, i;
    /* \SystemRoot names the Windows folder ("\??\C:\windows"). */
    RtlInitUnicodeString(&name, L"\\SystemRoot");
    InitializeObjectAttributes(&attributes, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&link, GENERIC_READ, &attributes)))
        return;
    target.Buffer = text;
    target.Length = 0;
    target.MaximumLength = sizeof text;
    if (NT_SUCCESS(ZwQuerySymbolicLinkObject(link, &target, NULL))) {
        units = target.Length / sizeof(WCHAR);
        if (units > 6 && units < 100 && text[0] == L'\\' && text[1] == L'?' && text[2] == L'?' && text[3] == L'\\' &&
            text[5] == L':') {
            for (i = 4; i < units && text[i] < 0x80 && text[i] >= 0x20; i++)
                g_folderRoot[i - 4] = (char)text[i];
            if (i == units)
                RtlCopyMemory(g_folderRoot + units - 4, tail, sizeof tail);
            else
                RtlCopyMemory(g_folderRoot, "C:\\windows\\temp\\QorBus", sizeof "C:\\windows\\temp\\QorBus");
        }
    }
    ZwClose(link);
}

static void FolderOf(ULONG index, char* folder)
{
    SIZE_T length = strlen(g_folderRoot);
    char digits[12];
    int count = 0;
    RtlCopyMemory(folder, g_folderRoot, length);
    folder[length++] = '\\';
    do {
        digits[count++] = (char)('0' + index % 10);
        index /= 10;
    } while (index);
    while (count)
        folder[length++] = digits[--count];
    folder[length] = 0;
}

/* ------------------------------------------------------------------ requests (worker thread) */

static IMAGE* ImageAt(ULONG index)
{
    if (index == 0 || index > MAX_IMAGES || !(g_images[index].state & STATE_OPEN))
        return NULL;
    return &g_images[index];
}

static BOOLEAN CopyField(char* to, const UCHAR* from)
{
    SIZE_T length = strnlen((const char*)from, PATH_FIELD);
    if (length == 0 || length == PATH_FIELD)
        return FALSE;
    RtlCopyMemory(to, from, length + 1);
    return TRUE;
}

static ULONG DoOpen(UCHAR* buffer, ULONG inSize, PKEVENT* event)
{
    /* Layout: magic, mode, type GUID, descriptor {u32 1, image[1024], change[1024], u64 event},
     * u32 n, extra[n], one zero byte. */
    const UCHAR* descriptor = buffer + 24;
    ULONG extraSize = GetU32(buffer + 2084);
    ULONG index, code;
    IMAGE* image;
    GUID type;
    int kind;

    RtlCopyMemory(&type, buffer + 8, sizeof type);
    /* The request is exactly 2089 + n bytes: a client that sent another size has its layout wrong. */
    if (extraSize != inSize - OPEN_FIXED_SIZE || GetU32(descriptor) != 1)
        return W32_INVALID_PARAMETER;
    if (IsEqualGUID(&type, &kArchiveType))
        kind = QF_IMAGE_ARCHIVE;
    else if (IsEqualGUID(&type, &kVhdType))
        kind = QF_IMAGE_VHD;
    else
        return W32_INVALID_PARAMETER;
    /* An archive volume comes with its extra block naming the companion file; a VHD with none. */
    if (kind == QF_IMAGE_ARCHIVE) {
        const char* companion = (const char*)buffer + OPEN_FIXED_SIZE - 1 + EXTRA_COMPANION_OFFSET;
        SIZE_T length;
        if (extraSize != EXTRA_SIZE)
            return W32_INVALID_PARAMETER;
        length = strnlen(companion, EXTRA_SIZE - EXTRA_COMPANION_OFFSET);
        if (length == 0 || length >= PATH_FIELD)
            return W32_INVALID_PARAMETER;
    } else if (extraSize != 0) {
        return W32_INVALID_PARAMETER;
    }
    for (index = 1; index <= MAX_IMAGES && g_images[index].state; index++)
        ;
    if (index > MAX_IMAGES)
        return W32_TOO_MANY_IMAGES;
    image = &g_images[index];
    RtlZeroMemory(image, sizeof *image);
    if (!CopyField(image->image, descriptor + 4) || !CopyField(image->change, descriptor + 4 + PATH_FIELD))
        return W32_INVALID_PARAMETER;
    /* Every sector the drive will show, and the change file of earlier mounts, are checked now. */
    code = CheckImage(image->image, image->change, kind, &image->facts);
    if (code) {
        RtlZeroMemory(image, sizeof *image);
        return code;
    }
    if (kind == QF_IMAGE_ARCHIVE)
        CopyField(image->companion, buffer + OPEN_FIXED_SIZE - 1 + EXTRA_COMPANION_OFFSET);
    image->kind = kind;
    FolderOf(index, image->folder);
    image->state = STATE_OPEN;
    image->mode = GetU32(buffer + 4);
    image->ready = *event;
    *event = NULL;
    PutU32(buffer + 4, index);
    return 0;
}

static ULONG SingleLetter(ULONG mask, WCHAR* letter)
{
    ULONG bit;
    if (mask == 0 || (mask & (mask - 1)) || (mask & 0xFC000003))
        return W32_INVALID_PARAMETER;
    for (bit = 0; !(mask & (1u << bit)); bit++)
        ;
    *letter = (WCHAR)('A' + bit);
    return 0;
}

static ULONG DoInsert(ULONG index, ULONG mask)
{
    IMAGE* image = ImageAt(index);
    WCHAR letter;
    ULONG code;
    char* unixPath = NULL;
    NTSTATUS status;

    if (!image)
        return W32_INVALID_PARAMETER;
    if (image->state & STATE_INSERTED)
        return W32_BUSY;
    code = SingleLetter(mask, &letter);
    if (code)
        return code;
    if (IsLetterDefined(letter))
        return W32_ALREADY_ASSIGNED;

    /* The image is read again: it may have been replaced since the open. */
    code = PresentImage(image->image, image->change, image->kind, image->folder);
    if (code)
        return code;
    image->presented = TRUE;
    code = UnixPathOf(image->folder, &unixPath);
    if (code) {
        RemoveVolume(image);
        return code;
    }

    image->letter = letter;
    status = DefineLetter(letter, unixPath);
    ExFreePool(unixPath);
    if (!NT_SUCCESS(status)) {
        RemoveVolume(image);
        return ToWin32(status);
    }
    image->mountmgrLetter = TRUE;
    code = CreateVolume(image, index);
    if (code) {
        RemoveVolume(image);
        return code;
    }
    image->state |= STATE_INSERTED;
    image->mask = mask;
    RecordLetters();
    RecordMountedDevice(image, index);
    if (image->ready)
        KeSetEvent(image->ready, IO_NO_INCREMENT, FALSE);
    if (g_insertDelay) {
        LARGE_INTEGER delay;
        delay.QuadPart = -10000LL * g_insertDelay;
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    return 0;
}

static ULONG DoFlush(ULONG index)
{
    IMAGE* image = ImageAt(index);
    if (!image)
        return W32_INVALID_PARAMETER;
    if (!(image->state & STATE_INSERTED))
        return 0; /* nothing was written */
    return SaveChanges(image->image, image->change, image->kind, image->folder);
}

/* What was written is saved before the letter goes; when it cannot be, the image stays. */
static ULONG DoRemove(ULONG index)
{
    IMAGE* image = ImageAt(index);
    ULONG code;
    if (!image)
        return W32_INVALID_PARAMETER;
    if (!(image->state & STATE_INSERTED))
        return W32_NOT_READY;
    code = DoFlush(index);
    if (code)
        return code;
    RemoveVolume(image);
    RecordLetters();
    return 0;
}

static void ReleaseImage(IMAGE* image)
{
    RemoveVolume(image);
    if (image->ready)
        ObDereferenceObject(image->ready);
    RtlZeroMemory(image, sizeof *image);
    RecordLetters();
}

static ULONG DoClose(ULONG index)
{
    IMAGE* image = ImageAt(index);
    if (!image)
        return W32_INVALID_PARAMETER;
    /* Closing an image that is still inserted takes its letter back first. */
    if (image->state & STATE_INSERTED) {
        ULONG code = DoRemove(index);
        if (code)
            return code;
    }
    ReleaseImage(image);
    return 0;
}

static ULONG DoEnum(UCHAR* buffer, ULONG outSize)
{
    ULONG index, count = 0;
    for (index = 1; index <= MAX_IMAGES; index++) {
        if (!(g_images[index].state & STATE_OPEN))
            continue;
        if (8 + (count + 1) * 4 <= outSize)
            PutU32(buffer + 8 + count * 4, index);
        count++;
    }
    PutU32(buffer + 4, count);
    return 0;
}

static ULONG DoInfo(UCHAR* buffer, ULONG size)
{
    ULONG index = GetU32(buffer + 8);
    IMAGE* image = ImageAt(index);
    UCHAR block[33 + 2 * PATH_FIELD];
    ULONG blockSize = size - 8, length;
    if (!image)
        return W32_INVALID_PARAMETER;
    RtlZeroMemory(block, sizeof block);
    PutU32(block + 0, blockSize);
    PutU32(block + 4, index);
    PutU32(block + 8, image->state);
    PutU32(block + 12, image->mode);
    *(USHORT*)(block + 16) = image->letter;
    PutU32(block + 29, image->mask);
    length = (ULONG)strlen(image->image);
    RtlCopyMemory(block + 33, image->image, length + 1 < PATH_FIELD ? length + 1 : PATH_FIELD);
    length = (ULONG)strlen(image->companion);
    RtlCopyMemory(block + 33 + PATH_FIELD, image->companion, length + 1);
    RtlZeroMemory(buffer + 8, blockSize);
    RtlCopyMemory(buffer + 8, block, blockSize < sizeof block ? blockSize : sizeof block);
    return 0;
}

static void ProcessRequest(WORK_ITEM* item)
{
    PIRP irp = item->irp;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG status;

    switch (code) {
    case IOCTL_QOR_IMAGE_OPEN:
        status = DoOpen(buffer, inSize, &item->event);
        break;
    case IOCTL_QOR_IMAGE_INSERT:
        status = DoInsert(GetU32(buffer + 8), GetU32(buffer + 12));
        break;
    case IOCTL_QOR_IMAGE_REMOVE:
    case IOCTL_QOR_IMAGE_REMOVE_NOFLAG:
        status = DoRemove(GetU32(buffer + 8));
        break;
    case IOCTL_QOR_IMAGE_CLOSE:
        status = DoClose(GetU32(buffer + 8));
        break;
    case IOCTL_QOR_IMAGE_FLUSH:
        status = DoFlush(GetU32(buffer + 8));
        break;
    case IOCTL_QOR_ENUM_IMAGES:
        status = DoEnum(buffer, outSize);
        break;
    case IOCTL_QOR_GET_IMAGE_INFO:
        status = DoInfo(buffer, inSize);
        break;
    default:
        status = W32_INVALID_PARAMETER;
        break;
    }
    if (item->event)
        ObDereferenceObject(item->event);
    PutU32(buffer, status);
    ExFreePool(item);
    CompleteIrp(irp, STATUS_SUCCESS, outSize);
}

static WORK_ITEM* NextItem(void)
{
    KIRQL irql;
    WORK_ITEM* item = NULL;
    KeAcquireSpinLock(&g_queueLock, &irql);
    if (!IsListEmpty(&g_queue))
        item = CONTAINING_RECORD(RemoveHeadList(&g_queue), WORK_ITEM, link);
    KeReleaseSpinLock(&g_queueLock, irql);
    return item;
}

static VOID NTAPI WorkerMain(PVOID context)
{
    (void)context;
    while (!g_stopping) {
        WORK_ITEM* item;
        KeWaitForSingleObject(&g_queueSignal, Executive, KernelMode, FALSE, NULL);
        while (!g_stopping && (item = NextItem()) != NULL)
            ProcessRequest(item);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ------------------------------------------------------------------ dispatch */

/* The event handle of an open request lives in the client's process. */
static ULONG ReferenceClientEvent(ULONG64 handleValue, PKEVENT* event)
{
    OBJECT_ATTRIBUTES attributes;
    CLIENT_ID client;
    HANDLE process, mine;
    NTSTATUS status;
    *event = NULL;
    if (handleValue == 0)
        return 0;
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    client.UniqueProcess = PsGetCurrentProcessId();
    client.UniqueThread = NULL;
    status = ZwOpenProcess(&process, PROCESS_DUP_HANDLE, &attributes, &client);
    if (!NT_SUCCESS(status))
        return W32_INVALID_HANDLE;
    status = ZwDuplicateObject(process, (HANDLE)(ULONG_PTR)handleValue, NtCurrentProcess(), &mine,
                               EVENT_MODIFY_STATE | SYNCHRONIZE, 0, 0);
    ZwClose(process);
    if (!NT_SUCCESS(status))
        return W32_INVALID_HANDLE;
    status = ObReferenceObjectByHandle(mine, EVENT_MODIFY_STATE, EVENT_TYPE_PTR, KernelMode, (PVOID*)event, NULL);
    ZwClose(mine);
    if (!NT_SUCCESS(status)) {
        *event = NULL;
        return W32_INVALID_HANDLE;
    }
    return 0;
}

/* Each request has its fixed input and output sizes (the image open and the information request
 * one size for both): a client that sends any other has its layout wrong, and the driver does not
 * guess at it. */
static BOOLEAN SizesFit(ULONG code, ULONG inSize, ULONG outSize)
{
    switch (code) {
    case IOCTL_QOR_GET_VERSION:
        return inSize == 4 && outSize == 12;
    case IOCTL_QOR_QUERY_VOLUME:
        return inSize == 12 && outSize == 8;
    case IOCTL_QOR_IMAGE_OPEN:
        return inSize >= OPEN_FIXED_SIZE && outSize == inSize;
    case IOCTL_QOR_IMAGE_INSERT:
        return inSize == 16 && outSize == 16;
    case IOCTL_QOR_IMAGE_REMOVE:
    case IOCTL_QOR_IMAGE_REMOVE_NOFLAG:
    case IOCTL_QOR_IMAGE_CLOSE:
    case IOCTL_QOR_IMAGE_FLUSH:
        return inSize == 12 && outSize == 12;
    case IOCTL_QOR_ENUM_IMAGES:
        return inSize == 8 && outSize == ENUM_REPLY_SIZE;
    case IOCTL_QOR_GET_IMAGE_INFO:
        return inSize >= 12 && outSize == inSize;
    default:
        return FALSE;
    }
}

static NTSTATUS DispatchVolumeControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    VOLUME_EXTENSION* extension = device->DeviceExtension;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_QOR_QUERY_VOLUME)
        return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!SizesFit(IOCTL_QOR_QUERY_VOLUME, stack->Parameters.DeviceIoControl.InputBufferLength,
                  stack->Parameters.DeviceIoControl.OutputBufferLength) || !buffer)
        return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
    /* Without the magic the caller speaks another protocol: no reply magic, so the volume is not
     * claimed for this driver. */
    if (GetU32(buffer) != QOR_REQUEST_MAGIC) {
        PutU32(buffer, W32_INVALID_PARAMETER);
        PutU32(buffer + 4, 0);
        return CompleteIrp(irp, STATUS_SUCCESS, 8);
    }
    PutU32(buffer, QOR_REPLY_MAGIC);
    PutU32(buffer + 4, extension->index);
    return CompleteIrp(irp, STATUS_SUCCESS, 8);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG outSize = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = irp->AssociatedIrp.SystemBuffer;
    WORK_ITEM* item;
    KIRQL irql;

    if (device != g_controller)
        return DispatchVolumeControl(device, irp);

    if (code == IOCTL_QOR_QUERY_VOLUME)
        return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (!SizesFit(code, inSize, outSize) || !buffer)
        return CompleteIrp(irp, STATUS_INVALID_PARAMETER, 0);
    if (code == IOCTL_QOR_GET_VERSION) {
        /* A request without the magic learns no version, so a client cannot take it for this
         * driver. */
        const BOOLEAN known = GetU32(buffer) == QOR_REQUEST_MAGIC;
        PutU32(buffer, known ? 0 : W32_INVALID_PARAMETER);
        PutU32(buffer + 4, known ? (ULONG)g_controllerHandles : 0);
        PutU32(buffer + 8, known ? g_reportedVersion : 0);
        return CompleteIrp(irp, STATUS_SUCCESS, 12);
    }
    if (GetU32(buffer) != QOR_REQUEST_MAGIC) {
        PutU32(buffer, W32_INVALID_PARAMETER);
        return CompleteIrp(irp, STATUS_SUCCESS, outSize);
    }

    item = Allocate(sizeof *item);
    if (!item)
        return CompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    item->irp = irp;
    if (code == IOCTL_QOR_IMAGE_OPEN) {
        ULONG64 handleValue;
        ULONG status;
        RtlCopyMemory(&handleValue, buffer + 24 + 4 + 2 * PATH_FIELD, sizeof handleValue);
        status = ReferenceClientEvent(handleValue, &item->event);
        if (status) {
            ExFreePool(item);
            PutU32(buffer, status);
            return CompleteIrp(irp, STATUS_SUCCESS, outSize);
        }
    }
    IoMarkIrpPending(irp);
    KeAcquireSpinLock(&g_queueLock, &irql);
    InsertTailList(&g_queue, &item->link);
    KeReleaseSpinLock(&g_queueLock, irql);
    KeSetEvent(&g_queueSignal, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

static NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT device, PIRP irp)
{
    if (device == g_controller) {
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE)
            InterlockedIncrement(&g_controllerHandles);
        else
            InterlockedDecrement(&g_controllerHandles);
    }
    return CompleteIrp(irp, STATUS_SUCCESS, 0);
}

/* Volume label, serial and file-system name of the image's FAT, for callers that ask the volume
 * device. */
static NTSTATUS NTAPI DispatchQueryVolume(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.QueryVolume.Length;
    UCHAR* out = irp->AssociatedIrp.SystemBuffer;
    const VOLUME_FACTS* facts;
    if (device == g_controller || !out)
        return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    facts = &((VOLUME_EXTENSION*)device->DeviceExtension)->facts;
    RtlZeroMemory(out, length);
    switch (stack->Parameters.QueryVolume.FsInformationClass) {
    case FileFsVolumeInformation: {
        FILE_FS_VOLUME_INFORMATION* info = (FILE_FS_VOLUME_INFORMATION*)out;
        ULONG units = (ULONG)strlen(facts->label), i;
        ULONG need = FIELD_OFFSET(FILE_FS_VOLUME_INFORMATION, VolumeLabel) + units * sizeof(WCHAR);
        if (length < need)
            return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        info->VolumeSerialNumber = facts->serial;
        info->VolumeLabelLength = units * sizeof(WCHAR);
        for (i = 0; i < units; i++)
            info->VolumeLabel[i] = (UCHAR)facts->label[i];
        return CompleteIrp(irp, STATUS_SUCCESS, need);
    }
    case FileFsAttributeInformation: {
        FILE_FS_ATTRIBUTE_INFORMATION* info = (FILE_FS_ATTRIBUTE_INFORMATION*)out;
        const WCHAR* name = facts->bits == 32 ? L"FAT32" : L"FAT";
        ULONG bytes = (ULONG)wcslen(name) * sizeof(WCHAR);
        ULONG need = FIELD_OFFSET(FILE_FS_ATTRIBUTE_INFORMATION, FileSystemName) + bytes;
        if (length < need)
            return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        info->FileSystemAttributes = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
        info->MaximumComponentNameLength = 255;
        info->FileSystemNameLength = bytes;
        RtlCopyMemory(info->FileSystemName, name, bytes);
        return CompleteIrp(irp, STATUS_SUCCESS, need);
    }
    case FileFsDeviceInformation: {
        FILE_FS_DEVICE_INFORMATION* info = (FILE_FS_DEVICE_INFORMATION*)out;
        if (length < sizeof *info)
            return CompleteIrp(irp, STATUS_BUFFER_TOO_SMALL, 0);
        info->DeviceType = FILE_DEVICE_DISK;
        info->Characteristics = 0;
        return CompleteIrp(irp, STATUS_SUCCESS, sizeof *info);
    }
    default:
        return CompleteIrp(irp, STATUS_INVALID_INFO_CLASS, 0);
    }
}

static VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
    WORK_ITEM* item;
    ULONG index;
    (void)driver;
    g_stopping = 1;
    KeSetEvent(&g_queueSignal, IO_NO_INCREMENT, FALSE);
    if (g_worker) {
        ZwWaitForSingleObject(g_worker, FALSE, NULL);
        ZwClose(g_worker);
    }
    while ((item = NextItem()) != NULL) {
        if (item->event)
            ObDereferenceObject(item->event);
        CompleteIrp(item->irp, STATUS_CANCELLED, 0);
        ExFreePool(item);
    }
    /* A stopped driver leaves no letter behind, and keeps what was written where it can. */
    for (index = 1; index <= MAX_IMAGES; index++) {
        if (g_images[index].state & STATE_INSERTED)
            DoFlush(index);
        if (g_images[index].state)
            ReleaseImage(&g_images[index]);
    }
    IoDeleteSymbolicLink(&g_controllerLink);
    IoDeleteDevice(g_controller);
    if (g_serviceKey.Buffer)
        ExFreePool(g_serviceKey.Buffer);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING name;
    NTSTATUS status;
    g_driver = driver;
    if (registryPath && registryPath->Length) {
        g_serviceKey.Buffer = Allocate(registryPath->Length + sizeof(WCHAR));
        if (g_serviceKey.Buffer) {
            RtlCopyMemory(g_serviceKey.Buffer, registryPath->Buffer, registryPath->Length);
            g_serviceKey.Length = registryPath->Length;
            g_serviceKey.MaximumLength = registryPath->Length + sizeof(WCHAR);
        }
    }
    RemoveStaleLetters();
    RemoveStaleMountedDevices();
    FindFolderRoot();
    DeleteTree(g_folderRoot); /* the folders of a session that ended without unloading the driver */
    ReadSetting(L"ReportedVersion", &g_reportedVersion);
    ReadSetting(L"InsertDelay", &g_insertDelay);
    if (g_insertDelay > 60000)
        g_insertDelay = 60000;
    RtlInitUnicodeString(&name, L"\\Device\\QorBus");
    RtlInitUnicodeString(&g_controllerLink, L"\\DosDevices\\QorBus");
    status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &g_controller);
    if (!NT_SUCCESS(status))
        return status;
    g_controller->Flags |= DO_BUFFERED_IO;
    status = IoCreateSymbolicLink(&g_controllerLink, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(g_controller);
        return status;
    }
    KeInitializeSpinLock(&g_queueLock);
    InitializeListHead(&g_queue);
    KeInitializeEvent(&g_queueSignal, SynchronizationEvent, FALSE);
    status = PsCreateSystemThread(&g_worker, THREAD_ALL_ACCESS, NULL, NULL, NULL, WorkerMain, NULL);
    if (!NT_SUCCESS(status)) {
        IoDeleteSymbolicLink(&g_controllerLink);
        IoDeleteDevice(g_controller);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->MajorFunction[IRP_MJ_QUERY_VOLUME_INFORMATION] = DispatchQueryVolume;
    driver->DriverUnload = Unload;
    g_controller->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
