#include "CBlockPacker.h"

#include "ArchiveStatus.h"
#include "RunLengthCodec.h"

#include <zlib.h>

#include <cstring>
#include <new>

namespace {

void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int CBlockPacker::Pack(const uint8_t* data, size_t length, uint8_t choice, std::vector<uint8_t>& out)
{
    try {
        uint32_t method = kMethodStored;
        size_t packedLength = 0;
        if (choice == kChoiceRunLength) {
            m_scratch.resize(length + 1);
            packedLength = RunLengthEncode(data, length, m_scratch.data());
            method = kMethodRunLength;
        } else if (choice == kChoiceLzrw3) {
            m_scratch.resize(CLzrw3Codec::MaxCompressedLength(length));
            long long n = m_lzrw3.Compress(data, length, m_scratch.data());
            if (n < 0)
                return ARCERR_NO_MEMORY;
            packedLength = static_cast<size_t>(n);
            method = kMethodLzrw3;
        } else {
            uLongf bound = static_cast<uLongf>(length + length / 1000 + 13);
            m_scratch.resize(bound);
            if (compress2(m_scratch.data(), &bound, data, static_cast<uLong>(length), choice) == Z_OK) {
                packedLength = bound;
                method = static_cast<uint32_t>(packedLength + m_headerLength);
            }
        }
        const uint8_t* stored = m_scratch.data();
        if (packedLength == 0 || packedLength >= length) {
            method = kMethodStored;
            packedLength = length;
            stored = data;
        }
        size_t at = out.size();
        out.resize(at + m_headerLength + packedLength);
        Put32(&out[at], static_cast<uint32_t>(packedLength));
        Put32(&out[at + 4], method);
        if (m_headerLength > 8)
            memset(&out[at + 8], 0, m_headerLength - 8);
        if (packedLength)
            memcpy(&out[at + m_headerLength], stored, packedLength);
        return ARCERR_OK;
    } catch (...) {
        return StatusOfException();
    }
}

int CBlockPacker::Unpack(uint32_t method, const uint8_t* stored, size_t storedLength, uint8_t* out, size_t expected)
{
    switch (method) {
    case kMethodStored:
        if (storedLength != expected)
            return ARCERR_FORMAT;
        if (expected)
            memcpy(out, stored, expected);
        return ARCERR_OK;
    case kMethodRunLength: {
        long long n = RunLengthDecode(stored, storedLength, out, expected);
        return n == static_cast<long long>(expected) ? ARCERR_OK : ARCERR_FORMAT;
    }
    case kMethodLzrw3: {
        long long n = m_lzrw3.Decompress(stored, storedLength, out, expected);
        return n == static_cast<long long>(expected) ? ARCERR_OK : ARCERR_FORMAT;
    }
    default: {
        uLongf outLength = static_cast<uLongf>(expected);
        // zlib wants a non-null destination even for an empty block.
        uint8_t dummy;
        int rc = uncompress(expected ? out : &dummy, &outLength, stored, static_cast<uLong>(storedLength));
        if (rc != Z_OK)
            return ARCERR_IO;
        return outLength == expected ? ARCERR_OK : ARCERR_FORMAT;
    }
    }
}
