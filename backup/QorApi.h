// Client of the image-mounting driver "\\.\QorBus": one device I/O control
// request per function. Every function returns 1 on success and 0 on
// failure, with the reason left in the thread's last error: either the Win32
// code the driver put in the reply's status dword, or one of the QOR_E_*
// codes below. Nothing here keeps state between calls or shows anything.
#pragma once
#include "Platform.h"

#include <cstdint>

// Device type 0x22 (FILE_DEVICE_UNKNOWN), METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr DWORD IOCTL_QOR_GET_VERSION = 0x220400;
constexpr DWORD IOCTL_QOR_IMAGE_INSERT = 0x220404;
constexpr DWORD IOCTL_QOR_IMAGE_REMOVE = 0x220408;
constexpr DWORD IOCTL_QOR_IMAGE_REMOVE_NOFLAG = 0x22040C;
constexpr DWORD IOCTL_QOR_QUERY_VOLUME = 0x220410;
constexpr DWORD IOCTL_QOR_IMAGE_OPEN = 0x220414;
constexpr DWORD IOCTL_QOR_IMAGE_CLOSE = 0x220418;
constexpr DWORD IOCTL_QOR_IMAGE_FLUSH = 0x22044C;
constexpr DWORD IOCTL_QOR_ENUM_IMAGES = 0x220480;
constexpr DWORD IOCTL_QOR_GET_IMAGE_INFO = 0x220484;

// First dword of every request ("ROQK" in memory); the driver overwrites it
// with the status of the reply (0 or a Win32 error code).
constexpr uint32_t QOR_REQUEST_MAGIC = 0x4B514F52;
// First dword of a volume's answer to IOCTL_QOR_QUERY_VOLUME ("KQOR").
constexpr uint32_t QOR_REPLY_MAGIC = 0x524F514B;
// The only driver version this client talks to.
constexpr uint32_t QOR_DRIVER_VERSION = 0x20031104;

// The client's own failure codes.
constexpr DWORD QOR_E_CONTROLLER_OPEN = 0xE0000010;     // "\\.\QorBus" could not be opened
constexpr DWORD QOR_E_CONTROLLER_CLOSE = 0xE0000011;    // CloseHandle on the controller failed
constexpr DWORD QOR_E_DRIVER_VERSION = 0xE0000013;      // version request failed or wrong version
constexpr DWORD QOR_E_VERSION_REQUEST = 0xE0000016;     // the version request itself failed
constexpr DWORD QOR_E_BAD_PARAMETER = 0xE0000017;
constexpr DWORD QOR_E_ARRAY_TOO_SMALL = 0xE0000019;     // the needed count is handed back
constexpr DWORD QOR_E_LETTER_IN_USE = 0xE000001A;
constexpr DWORD QOR_E_BAD_DRIVE_MASK = 0xE000001B;      // A:, B: or a bit above Z:
constexpr DWORD QOR_E_NO_IMAGE_AT_LETTER = 0xE000001F;

// Drive-mask bits an image may never be inserted at: A:, B: and above Z:.
constexpr uint32_t QOR_FORBIDDEN_DRIVE_MASK = 0xFC000003;

// Room for image indices in the reply of IOCTL_QOR_ENUM_IMAGES.
constexpr uint32_t QOR_MAX_ENUM_IMAGES = 1025;
constexpr DWORD QOR_ENUM_REPLY_SIZE = 4108;

// Size of the information buffer the drive-letter lookup asks for, and the
// fields of an information block it reads.
constexpr uint32_t QOR_IMAGE_INFO_LOOKUP_SIZE = 2127;
constexpr size_t QOR_IMAGE_INFO_INDEX_OFFSET = 4;
constexpr size_t QOR_IMAGE_INFO_MASK_OFFSET = 29;  // unaligned
// The image file the driver shows (ANSI, NUL-terminated, at most 1024 bytes).
constexpr size_t QOR_IMAGE_INFO_PATH_OFFSET = 33;
constexpr size_t QOR_IMAGE_INFO_PATH_SIZE = 1024;

#pragma pack(push, 1)
// What the driver mounts: the image, the file its changes go to, and the
// event it signals once the volume is ready.
struct QOR_IMAGE_DESCRIPTOR {
    uint32_t one;                // always 1
    char imagePath[1024];        // ANSI, NUL-terminated
    char changeFilePath[1024];   // the image path followed by ".chunk.dat"
    uint64_t readyEvent;         // the 32-bit event handle, sign-extended
};
// Extra block of an archive volume.
struct QOR_IMAGE_EXTRA {
    uint8_t reserved[20];
    char companionPath[1536];    // ANSI, NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(QOR_IMAGE_DESCRIPTOR) == 2060, "descriptor layout");
static_assert(sizeof(QOR_IMAGE_EXTRA) == 1556, "extra block layout");

// Head of the image-open request; the extra block and one spare zero byte
// follow it (2089 + n bytes in all).
#pragma pack(push, 1)
struct QOR_IMAGE_OPEN_REQUEST {
    uint32_t head;                    // magic; reply: status
    uint32_t mode;                    // request: mode; reply: the new image index
    GUID type;                        // GUID_QOR_IMAGE_ARCHIVE or GUID_QOR_IMAGE_VHD
    QOR_IMAGE_DESCRIPTOR descriptor;
    uint32_t extraSize;               // n
};
#pragma pack(pop)
static_assert(sizeof(QOR_IMAGE_OPEN_REQUEST) == 2088, "image-open request layout");
constexpr size_t QOR_OPEN_FIXED_SIZE = sizeof(QOR_IMAGE_OPEN_REQUEST) + 1;  // without the extra block

// Opens the controller and checks the driver's version. On failure
// *controller is INVALID_HANDLE_VALUE and nothing stays open.
int QorApiControllerOpen(HANDLE* controller);
int QorApiControllerClose(HANDLE controller);
// value: the second dword of the reply (unused by the product).
int QorApiGetVersion(HANDLE controller, uint32_t* value, uint32_t* version);
int QorApiImageOpen(HANDLE controller, uint32_t* index, const GUID* type, const QOR_IMAGE_DESCRIPTOR* descriptor,
                    uint32_t mode, const void* extra, uint32_t extraSize);
// May block in the driver until the volume is presented.
int QorApiImageInsert(HANDLE controller, uint32_t index, uint32_t mask);
int QorApiImageRemove(HANDLE controller, uint32_t index, uint8_t flag);
int QorApiImageClose(HANDLE controller, uint32_t index);
int QorApiImageFlush(HANDLE controller, uint32_t index);
// *count: room in indices on entry, the driver's count on return (also when
// the room was too small). reserved is not used.
int QorApiEnumImages(HANDLE controller, uint32_t* indices, uint32_t* count, void* reserved);
// info's first dword is its own size s (at least 4); s bytes of the
// driver's information block are copied over it.
int QorApiGetImageInfo(HANDLE controller, uint32_t index, void* info);
// letterIndex 0 is A:.
int QorApiGetImageByDriveLetter(HANDLE controller, uint32_t letterIndex, uint32_t* index);
