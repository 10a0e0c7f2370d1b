#pragma once
// Packs and unpacks the blocks of entry data. A packed block is a header
// {u32 stored length, u32 method} (plus one zero byte in archives of major
// version below 2) followed by the stored bytes. Method 0 is stored, 1 the
// byte-run coding, 2 LZRW3 and any other value zlib, whose method field the
// writer sets to the compressed length plus the block header length.
#include "CLzrw3Codec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum : uint8_t {
    kChoiceRunLength = 1,
    kChoiceLzrw3 = 10,
};

enum : uint32_t {
    kMethodStored = 0,
    kMethodRunLength = 1,
    kMethodLzrw3 = 2,
};

class CBlockPacker {
public:
    explicit CBlockPacker(uint32_t blockHeaderLength = 8) : m_headerLength(blockHeaderLength) {}

    void SetBlockHeaderLength(uint32_t length) { m_headerLength = length; }
    uint32_t GetBlockHeaderLength() const { return m_headerLength; }

    // Appends one whole block (header and stored bytes) for `data` to `out`,
    // packed with the compression choice (1 byte-run, 10 LZRW3, any other
    // value zlib at that level), or stored when packing does not make it
    // smaller. Returns 0 or ARCERR_NO_MEMORY.
    int Pack(const uint8_t* data, size_t length, uint8_t choice, std::vector<uint8_t>& out);

    // Unpacks the stored bytes of a block with `method` into exactly
    // `expected` bytes at `out`. 0, ARCERR_FORMAT for corrupt byte-run or
    // LZRW3 data or a wrong length, ARCERR_IO for a zlib failure,
    // ARCERR_NO_MEMORY when the LZRW3 work area cannot be had.
    int Unpack(uint32_t method, const uint8_t* stored, size_t storedLength, uint8_t* out, size_t expected);

private:
    uint32_t m_headerLength;
    CLzrw3Codec m_lzrw3;
    std::vector<uint8_t> m_scratch;
};
