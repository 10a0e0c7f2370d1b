#pragma once
// Block signatures of archives whose header asks for them: the zlib CRC-32 of
// an entry's unit data, from 0, stored in the first four signature bytes.
#include <cstddef>
#include <cstdint>

class CCrc32Sign {
public:
    static uint32_t Sign(const uint8_t* data, size_t length);
    // 0 when the signature fits, ARCERR_CRC otherwise.
    static int Verify(const uint8_t* data, size_t length, const uint8_t* signature);
};
