#include "CCrc32Sign.h"

#include "ArchiveStatus.h"

#include <zlib.h>

#include <cstring>

uint32_t CCrc32Sign::Sign(const uint8_t* data, size_t length)
{
    uLong crc = crc32(0, Z_NULL, 0);
    // zlib takes at most a uInt per call.
    while (length > 0) {
        uInt piece = length > 0x40000000u ? 0x40000000u : static_cast<uInt>(length);
        crc = crc32(crc, data, piece);
        data += piece;
        length -= piece;
    }
    return static_cast<uint32_t>(crc);
}

int CCrc32Sign::Verify(const uint8_t* data, size_t length, const uint8_t* signature)
{
    uint32_t stored;
    memcpy(&stored, signature, 4);
    return Sign(data, length) == stored ? ARCERR_OK : ARCERR_CRC;
}
