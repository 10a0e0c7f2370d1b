#pragma once
// The archive cipher: a byte-oriented stream cipher keyed by a 13-byte key
// (the password padded with zeros) and a 4-byte value. The same call
// enciphers and deciphers. Every call runs the key schedule afresh on its own
// state, so calls are independent and may run on several threads at once.
#include <cstddef>
#include <cstdint>

enum : size_t {
    kArchiveKeyLength = 13,
    kPasswordCheckBlockLength = 100,
};

// XORs `length` keystream bytes, starting at stream byte `position`, into
// `buffer`. `value` null means four zero bytes.
void ArchiveCipher(void* buffer, size_t length, const uint8_t* key, uint64_t position,
                   const uint8_t* value = nullptr);

// 1 when `key` deciphers the 100-byte check block of a header into a block
// whose first 96 bytes carry their CRC-32 in the last four, else 0.
int CheckArchivePassword(const uint8_t* block, const uint8_t* key);

// Writer side of the check: fills `block` with 96 bytes derived from `seed`,
// their CRC-32, and enciphers it with `key`.
void MakePasswordCheckBlock(uint8_t* block, const uint8_t* key, uint64_t seed);

// The standard CRC-32 (reflected polynomial 0xEDB88320, initial value all
// ones, final complement).
uint32_t ArchiveCrc32(const void* data, size_t length);
