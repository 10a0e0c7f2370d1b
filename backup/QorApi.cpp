#include "Platform.h"
#include "QorApi.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr char kControllerPath[] = "\\\\.\\QorBus";

// Requests of the fixed small layouts: magic, a zero dword, the image index
// and (insert only) the drive mask.
struct IndexRequest {
    uint32_t head;
    uint32_t zero;
    uint32_t index;
    uint32_t mask;
};

// Sends buffer as input and output. 1 when the request went through and the
// driver's status dword is 0; otherwise 0 with the request's or the driver's
// code as the last error.
int Send(HANDLE device, DWORD code, void* buffer, DWORD inSize, DWORD outSize)
{
    DWORD returned = 0;
    if (!DeviceIoControl(device, code, buffer, inSize, buffer, outSize, &returned, nullptr))
        return 0;
    uint32_t status;
    std::memcpy(&status, buffer, sizeof status);
    if (status != 0) {
        SetLastError(status);
        return 0;
    }
    return 1;
}

int Fail(DWORD code)
{
    SetLastError(code);
    return 0;
}

int SendIndexRequest(HANDLE controller, DWORD code, uint32_t index)
{
    IndexRequest request = {QOR_REQUEST_MAGIC, 0, index, 0};
    return Send(controller, code, &request, 12, 12);
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using BufferPtr = std::unique_ptr<uint8_t, FreeDeleter>;

BufferPtr AllocateZeroed(size_t size)
{
    return BufferPtr(static_cast<uint8_t*>(std::calloc(size, 1)));
}

// The lookup older systems use: the first image whose information block
// holds the letter in its drive mask.
int FindImageByInformation(HANDLE controller, uint32_t letterMask, uint32_t* index)
{
    uint32_t indices[32];
    uint32_t count = 32;
    if (!QorApiEnumImages(controller, indices, &count, nullptr))
        return 0;
    uint8_t info[QOR_IMAGE_INFO_LOOKUP_SIZE];
    for (uint32_t i = 0; i < count; ++i) {
        std::memset(info, 0, sizeof info);
        const uint32_t size = sizeof info;
        std::memcpy(info, &size, sizeof size);
        if (!QorApiGetImageInfo(controller, indices[i], info))
            continue;
        uint32_t mask;
        std::memcpy(&mask, info + QOR_IMAGE_INFO_MASK_OFFSET, sizeof mask);
        if (mask & letterMask) {
            std::memcpy(index, info + QOR_IMAGE_INFO_INDEX_OFFSET, sizeof *index);
            return 1;
        }
    }
    return Fail(QOR_E_NO_IMAGE_AT_LETTER);
}

// The lookup on NT: ask the volume device of the letter whether it is one
// of the driver's and which image it shows.
int FindImageByVolume(uint32_t letterIndex, uint32_t* index)
{
    char volume[8];
    std::snprintf(volume, sizeof volume, "\\\\.\\%c:", static_cast<char>('A' + letterIndex));
    HANDLE device = CreateFileA(volume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Fail(QOR_E_NO_IMAGE_AT_LETTER);
    uint32_t request[3] = {QOR_REQUEST_MAGIC, 0, 0};
    DWORD returned = 0;
    const BOOL sent = DeviceIoControl(device, IOCTL_QOR_QUERY_VOLUME, request, 12, request, 8, &returned, nullptr);
    CloseHandle(device);
    if (!sent || returned < 8 || request[0] != QOR_REPLY_MAGIC)
        return Fail(QOR_E_NO_IMAGE_AT_LETTER);
    *index = request[1];
    return 1;
}

} // namespace

int QorApiGetVersion(HANDLE controller, uint32_t* value, uint32_t* version)
{
    // The reply's status is not inspected: a driver answers this request
    // whatever its state, and the caller judges the version.
    uint32_t buffer[3] = {QOR_REQUEST_MAGIC, 0, 0};
    DWORD returned = 0;
    if (!DeviceIoControl(controller, IOCTL_QOR_GET_VERSION, buffer, 4, buffer, 12, &returned, nullptr))
        return Fail(QOR_E_VERSION_REQUEST);
    if (value)
        *value = buffer[1];
    if (version)
        *version = returned >= 12 ? buffer[2] : 0;
    return 1;
}

int QorApiControllerOpen(HANDLE* controller)
{
    if (!controller)
        return Fail(QOR_E_BAD_PARAMETER);
    *controller = INVALID_HANDLE_VALUE;
    HANDLE device = CreateFileA(kControllerPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Fail(QOR_E_CONTROLLER_OPEN);
    uint32_t value = 0, version = 0;
    if (!QorApiGetVersion(device, &value, &version) || version != QOR_DRIVER_VERSION) {
        CloseHandle(device);
        return Fail(QOR_E_DRIVER_VERSION);
    }
    *controller = device;
    return 1;
}

int QorApiControllerClose(HANDLE controller)
{
    if (!CloseHandle(controller))
        return Fail(QOR_E_CONTROLLER_CLOSE);
    return 1;
}

int QorApiImageOpen(HANDLE controller, uint32_t* index, const GUID* type, const QOR_IMAGE_DESCRIPTOR* descriptor,
                    uint32_t mode, const void* extra, uint32_t extraSize)
{
    if (!index || !type || !descriptor || (extraSize && !extra) || extraSize > 0x10000000)
        return Fail(QOR_E_BAD_PARAMETER);
    const size_t size = QOR_OPEN_FIXED_SIZE + extraSize;
    BufferPtr request = AllocateZeroed(size);
    if (!request)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    auto* head = reinterpret_cast<QOR_IMAGE_OPEN_REQUEST*>(request.get());
    head->head = QOR_REQUEST_MAGIC;
    head->mode = mode;
    head->type = *type;
    head->descriptor = *descriptor;
    head->extraSize = extraSize;
    if (extraSize)
        std::memcpy(request.get() + sizeof *head, extra, extraSize);
    if (!Send(controller, IOCTL_QOR_IMAGE_OPEN, head, static_cast<DWORD>(size), static_cast<DWORD>(size)))
        return 0;
    *index = head->mode;
    return 1;
}

int QorApiImageInsert(HANDLE controller, uint32_t index, uint32_t mask)
{
    const DWORD inUse = GetLogicalDrives();
    if (mask & QOR_FORBIDDEN_DRIVE_MASK)
        return Fail(QOR_E_BAD_DRIVE_MASK);
    if (mask & inUse)
        return Fail(QOR_E_LETTER_IN_USE);
    IndexRequest request = {QOR_REQUEST_MAGIC, 0, index, mask};
    return Send(controller, IOCTL_QOR_IMAGE_INSERT, &request, 16, 16);
}

int QorApiImageRemove(HANDLE controller, uint32_t index, uint8_t flag)
{
    return SendIndexRequest(controller, flag ? IOCTL_QOR_IMAGE_REMOVE : IOCTL_QOR_IMAGE_REMOVE_NOFLAG, index);
}

int QorApiImageClose(HANDLE controller, uint32_t index)
{
    return SendIndexRequest(controller, IOCTL_QOR_IMAGE_CLOSE, index);
}

int QorApiImageFlush(HANDLE controller, uint32_t index)
{
    return SendIndexRequest(controller, IOCTL_QOR_IMAGE_FLUSH, index);
}

int QorApiEnumImages(HANDLE controller, uint32_t* indices, uint32_t* count, void* /*reserved*/)
{
    if (!count)
        return Fail(QOR_E_BAD_PARAMETER);
    BufferPtr reply = AllocateZeroed(QOR_ENUM_REPLY_SIZE);
    if (!reply)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    uint32_t* words = reinterpret_cast<uint32_t*>(reply.get());
    words[0] = QOR_REQUEST_MAGIC;
    if (!Send(controller, IOCTL_QOR_ENUM_IMAGES, words, 8, QOR_ENUM_REPLY_SIZE))
        return 0;
    const uint32_t driverCount = words[1];
    // A count beyond the reply's room would make us read past it.
    if (driverCount > QOR_MAX_ENUM_IMAGES)
        return Fail(ERROR_INVALID_DATA);
    const uint32_t room = indices ? *count : 0;
    *count = driverCount;
    if (driverCount > room)
        return Fail(QOR_E_ARRAY_TOO_SMALL);
    if (driverCount)
        std::memcpy(indices, words + 2, driverCount * sizeof(uint32_t));
    return 1;
}

int QorApiGetImageInfo(HANDLE controller, uint32_t index, void* info)
{
    if (!info)
        return Fail(QOR_E_BAD_PARAMETER);
    uint32_t size;
    std::memcpy(&size, info, sizeof size);
    const uint32_t requestSize = size + 8;
    if (requestSize < 12)
        return Fail(QOR_E_BAD_PARAMETER);
    BufferPtr request = AllocateZeroed(requestSize);
    if (!request)
        return Fail(QOR_E_BAD_PARAMETER);
    const uint32_t magic = QOR_REQUEST_MAGIC;
    std::memcpy(request.get(), &magic, 4);
    std::memcpy(request.get() + 8, &index, 4);
    if (!Send(controller, IOCTL_QOR_GET_IMAGE_INFO, request.get(), requestSize, requestSize))
        return 0;
    std::memcpy(info, request.get() + 8, size);
    return 1;
}

int QorApiGetImageByDriveLetter(HANDLE controller, uint32_t letterIndex, uint32_t* index)
{
    if (letterIndex >= 26 || !index)
        return Fail(QOR_E_BAD_PARAMETER);
    const uint32_t mask = 1u << letterIndex;
    if (!(GetLogicalDrives() & mask))
        return Fail(QOR_E_NO_IMAGE_AT_LETTER);
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof(OSVERSIONINFOW) == 276, "version structure size");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExW(&version);
#pragma GCC diagnostic pop
    if (known && version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        return FindImageByVolume(letterIndex, index);
    return FindImageByInformation(controller, mask, index);
}
