#pragma once
// LZRW3 (method 2 of packed blocks), with its standard parameters: a 4-byte
// flag word (0 compressed, 1 copied), groups of up to 16 items behind a 16-bit
// control word, literals of one byte and copy items of two bytes that name a
// 12-bit hash-table slot and a length of 3 to 18. Both sides keep the same
// hash table of earlier positions, so the compressed form never carries
// offsets. The work area is allocated once, on first use.
#include <cstddef>
#include <cstdint>
#include <memory>

class CLzrw3Codec {
public:
    CLzrw3Codec();
    ~CLzrw3Codec();
    CLzrw3Codec(const CLzrw3Codec&) = delete;
    CLzrw3Codec& operator=(const CLzrw3Codec&) = delete;

    // Output capacity needed for `length` input bytes in the worst case.
    static size_t MaxCompressedLength(size_t length) { return length + 4 + 2; }

    // Compresses into `output` (at least MaxCompressedLength bytes). Falls back
    // to the copy form when compression does not help. Returns the length
    // written, or -1 when the work area cannot be allocated.
    long long Compress(const uint8_t* input, size_t length, uint8_t* output);

    // Decompresses into `output` of `capacity` bytes; -1 for malformed input
    // or output that would overflow, else the decompressed length.
    long long Decompress(const uint8_t* input, size_t length, uint8_t* output, size_t capacity);

private:
    bool EnsureWorkArea();
    void ResetTable();

    std::unique_ptr<const uint8_t*[]> m_table;
};
