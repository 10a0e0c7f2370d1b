#pragma once
// Status codes of the archive family: 0 is success, everything else names the
// failure. File-layer codes pass through the archive readers unchanged, so a
// caller sees one vocabulary from the file up to the archive.
#include <cstdint>
#include <new>
#include <stdexcept>

enum : int {
    ARCERR_OK = 0,
    ARCERR_DISK_FULL = 0x10019,
    ARCERR_NO_MEMORY = 0x1001A,
    ARCERR_READ = 0x1001B,          // read, seek or write failed; entry without its magic
    ARCERR_IO = 0x10022,            // I/O, name conversion or zlib failure
    ARCERR_OPEN = 0x10023,          // cannot open, or already open
    ARCERR_FORMAT = 0x10025,        // not this format, corrupt packed data, foreign volume
    ARCERR_NOT_POSSIBLE = 0x1002F,
    ARCERR_PASSWORD = 0x10036,
    ARCERR_SHARING = 0x1004F,
    ARCERR_ABORTED = 0x10091,
    ARCERR_BAD_STATE = 0x1100A,     // file layer: no handle, bad disposition, offset past the end
    ARCERR_FILE_READ = 0x11020,
    ARCERR_FILE_WRITE = 0x11025,
    ARCERR_END = 0x200A3,
    ARCERR_NOT_IN_ARCHIVE = 0x200A4,
    ARCERR_BAD_ARGUMENT = 0x200A6,
    ARCERR_CRC = 0x200A7,
    ARCERR_VERSION = 0x200A8,
    ARCERR_BASE_MISMATCH = 0x200A9,
    ARCERR_COMPANION_KIND = 0x200B0,
    ARCERR_NOT_COMPANION = 0x200B1,
    ARCERR_COMPANION_VERSION = 0x200B2,
    ARCERR_COMPANION_FOREIGN = 0x200B3,
    ARCERR_OWN_ID = 0x200B4,
    ARCERR_BASE_INDEX = 0x200B7,
    ARCERR_BASE_REVISION = 0x200B8,
    ARCERR_ABORT_MARKER = 0x200BA,
};

// Event callback codes the readers and the writer raise.
enum : uint8_t {
    ARCCB_NEW_VOLUME = 0,
    ARCCB_VOLUME_MISSING = 2,
    ARCCB_CREATE_FILE = 4,
    ARCCB_CRC_MISMATCH = 6,
    ARCCB_VOLUME_OPENED = 8,
    ARCCB_PROGRESS = 10,
    ARCCB_FREE_SPACE = 11,
    ARCCB_NEW_VOLUME_RETRY = 12,
    ARCCB_BASE_MISSING = 13,
};

// The status for the exception being handled, from inside a catch handler:
// every method that answers in status codes ends with catch (...) and this,
// so that no exception crosses that boundary. A length read from a damaged
// file that no container can hold counts as memory running out.
inline int StatusOfException() noexcept
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return ARCERR_NO_MEMORY;
    } catch (const std::length_error&) {
        return ARCERR_NO_MEMORY;
    } catch (...) {
        return ARCERR_IO;
    }
}
