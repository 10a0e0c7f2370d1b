#include "CLzrw3Codec.h"

#include <cstring>
#include <new>

namespace {

const size_t kTableSize = 4096;
const size_t kMaxRawItem = 18;
const uint32_t kFlagCompress = 0;
const uint32_t kFlagCopy = 1;
// Every slot starts out pointing here, so a copy item may name any slot and
// always finds 18 readable bytes.
const uint8_t kStartString[kMaxRawItem + 1] = "123456789012345678";

inline unsigned Hash(const uint8_t* p)
{
    return ((40543u * ((static_cast<unsigned>(p[0]) << 8) ^ (static_cast<unsigned>(p[1]) << 4) ^ p[2])) >> 4) &
           0x0FFF;
}

void PutFlag(uint8_t* out, uint32_t flag)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(flag >> (8 * i));
}

long long CopyForm(const uint8_t* input, size_t length, uint8_t* output)
{
    PutFlag(output, kFlagCopy);
    memcpy(output + 4, input, length);
    return static_cast<long long>(length + 4);
}

}  // namespace

CLzrw3Codec::CLzrw3Codec() = default;
CLzrw3Codec::~CLzrw3Codec() = default;

bool CLzrw3Codec::EnsureWorkArea()
{
    if (!m_table)
        m_table.reset(new (std::nothrow) const uint8_t*[kTableSize]);
    return static_cast<bool>(m_table);
}

void CLzrw3Codec::ResetTable()
{
    for (size_t i = 0; i < kTableSize; ++i)
        m_table[i] = kStartString;
}

long long CLzrw3Codec::Compress(const uint8_t* input, size_t length, uint8_t* output)
{
    if (!EnsureWorkArea())
        return -1;
    ResetTable();
    const uint8_t** table = m_table.get();
    const uint8_t* src = input;
    const uint8_t* const srcEnd = input + length;
    // Matches are looked for only while a whole item fits before the end.
    const uint8_t* const srcMatchLimit = length > kMaxRawItem ? srcEnd - kMaxRawItem : input;
    // A group writes at most a control word and 16 two-byte items; giving up
    // before a group that might not fit keeps every write inside the buffer.
    const size_t outLimit = MaxCompressedLength(length) - (2 + 16 * 2);

    PutFlag(output, kFlagCompress);
    uint8_t* dst = output + 4;
    uint8_t* control = nullptr;
    unsigned controlBits = 0;
    unsigned controlWord = 0;
    unsigned literals = 0;

    while (src < srcEnd) {
        if (controlBits == 0) {
            if (MaxCompressedLength(length) < 2 + 16 * 2 || static_cast<size_t>(dst - output) > outLimit)
                return CopyForm(input, length, output);
            control = dst;
            dst += 2;
            controlWord = 0;
        }
        const uint8_t* ziv = src;
        bool copied = false;
        if (src < srcMatchLimit) {
            unsigned index = Hash(src);
            const uint8_t* p = table[index];
            if (p[0] == src[0] && p[1] == src[1] && p[2] == src[2]) {
                size_t len = 3;
                while (len < kMaxRawItem && p[len] == src[len])
                    ++len;
                if (literals > 0) {
                    const uint8_t* r = ziv - literals;
                    table[Hash(r)] = r;
                    if (literals == 2) {
                        ++r;
                        table[Hash(r)] = r;
                    }
                    literals = 0;
                }
                table[index] = ziv;
                *dst++ = static_cast<uint8_t>(((index & 0xF00) >> 4) | (len - 3));
                *dst++ = static_cast<uint8_t>(index & 0xFF);
                controlWord |= 1u << controlBits;
                src += len;
                copied = true;
            }
        }
        if (!copied) {
            *dst++ = *src++;
            if (++literals == 3) {
                const uint8_t* r = src - 3;
                table[Hash(r)] = r;
                literals = 2;
            }
        }
        if (++controlBits == 16) {
            control[0] = static_cast<uint8_t>(controlWord & 0xFF);
            control[1] = static_cast<uint8_t>(controlWord >> 8);
            controlBits = 0;
        }
    }
    if (controlBits != 0) {
        control[0] = static_cast<uint8_t>(controlWord & 0xFF);
        control[1] = static_cast<uint8_t>(controlWord >> 8);
    }
    size_t written = static_cast<size_t>(dst - output);
    if (written >= length + 4)
        return CopyForm(input, length, output);
    return static_cast<long long>(written);
}

long long CLzrw3Codec::Decompress(const uint8_t* input, size_t length, uint8_t* output, size_t capacity)
{
    if (length < 4)
        return -1;
    uint32_t flag = input[0] | (input[1] << 8) | (input[2] << 16) | (static_cast<uint32_t>(input[3]) << 24);
    const uint8_t* src = input + 4;
    const uint8_t* const srcEnd = input + length;
    if (flag == kFlagCopy) {
        size_t n = length - 4;
        if (n > capacity)
            return -1;
        memcpy(output, src, n);
        return static_cast<long long>(n);
    }
    if (flag != kFlagCompress)
        return -1;
    if (!EnsureWorkArea())
        return -1;
    ResetTable();
    const uint8_t** table = m_table.get();
    uint8_t* dst = output;
    uint8_t* const dstEnd = output + capacity;
    unsigned control = 1;
    unsigned literals = 0;

    while (src < srcEnd) {
        if (control == 1) {
            if (srcEnd - src < 2)
                return -1;
            control = 0x10000u | src[0] | (src[1] << 8);
            src += 2;
            if (src == srcEnd)
                return -1;
        }
        // Every item is bounds-checked, which also covers the original
        // coder's one-item-at-a-time tail.
        uint8_t* ziv = dst;
        if (control & 1) {
            if (srcEnd - src < 2)
                return -1;
            unsigned lenmt = *src++;
            unsigned index = ((lenmt & 0xF0) << 4) | *src++;
            size_t len = (lenmt & 0x0F) + 3;
            if (static_cast<size_t>(dstEnd - dst) < len)
                return -1;
            const uint8_t* p = table[index];
            for (size_t i = 0; i < len; ++i)
                *dst++ = *p++;
            if (literals > 0) {
                uint8_t* r = ziv - literals;
                table[Hash(r)] = r;
                if (literals == 2) {
                    ++r;
                    table[Hash(r)] = r;
                }
                literals = 0;
            }
            table[index] = ziv;
        } else {
            if (dst == dstEnd)
                return -1;
            *dst++ = *src++;
            if (++literals == 3) {
                uint8_t* r = dst - 3;
                table[Hash(r)] = r;
                literals = 2;
            }
        }
        control >>= 1;
    }
    return static_cast<long long>(dst - output);
}
