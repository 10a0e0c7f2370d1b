#include "MapiStandin.h"
#include "CCompressedRtf.h"

#include <cstring>
#include <vector>

namespace {

constexpr ULONG kTypeCompressed = 0x75465A4C;   // "LZFu"
constexpr ULONG kTypeUncompressed = 0x414C454D; // "MELA"
constexpr size_t kHeaderSize = 16;
constexpr size_t kDictionarySize = 4096;
constexpr size_t kMaxMatch = 17;
// Decoded text may not exceed this many times the encoded data: each
// 2-byte reference yields at most 17 bytes.
constexpr ULONGLONG kMaxExpansion = 9;

const char kPreload[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
    "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
    "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr size_t kPreloadSize = sizeof(kPreload) - 1;
static_assert(kPreloadSize == 207, "the dictionary's preloaded text is 207 bytes");

ULONG ReadLe32(const std::string& data, size_t offset)
{
    const auto* p = reinterpret_cast<const BYTE*>(data.data()) + offset;
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<ULONG>(p[3]) << 24);
}

void PutLe32(std::string& out, size_t offset, ULONG value)
{
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

const ULONG* CrcTable()
{
    static ULONG table[256];
    static bool ready = false;
    if (!ready) {
        for (ULONG i = 0; i < 256; ++i) {
            ULONG c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            table[i] = c;
        }
        ready = true;
    }
    return table;
}

} // namespace

ULONG CCompressedRtf::Crc(const BYTE* data, size_t size, ULONG crc)
{
    const ULONG* table = CrcTable();
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

HRESULT CCompressedRtf::Decompress(const std::string& stored, std::string& rtf)
{
    rtf.clear();
    if (stored.empty())
        return S_OK;
    if (stored.size() < kHeaderSize)
        return MAPI_E_CORRUPT_DATA;
    ULONG compressedSize = ReadLe32(stored, 0);
    ULONG rawSize = ReadLe32(stored, 4);
    ULONG type = ReadLe32(stored, 8);
    ULONG crc = ReadLe32(stored, 12);
    // The compressed size counts everything after its own field.
    if (compressedSize < kHeaderSize - 4 || static_cast<ULONGLONG>(compressedSize) + 4 > stored.size())
        return MAPI_E_CORRUPT_DATA;
    const auto* data = reinterpret_cast<const BYTE*>(stored.data()) + kHeaderSize;
    size_t dataSize = compressedSize + 4 - kHeaderSize;

    if (type == kTypeUncompressed) {
        if (rawSize > dataSize)
            return MAPI_E_CORRUPT_DATA;
        rtf.assign(reinterpret_cast<const char*>(data), rawSize);
        return S_OK;
    }
    if (type != kTypeCompressed)
        return MAPI_E_CORRUPT_DATA;
    if (Crc(data, dataSize) != crc)
        return MAPI_E_CORRUPT_DATA;
    if (rawSize > dataSize * kMaxExpansion + kMaxMatch)
        return MAPI_E_CORRUPT_DATA;

    std::vector<BYTE> dictionary(kDictionarySize, 0);
    std::memcpy(dictionary.data(), kPreload, kPreloadSize);
    size_t write = kPreloadSize;
    rtf.reserve(rawSize);
    size_t in = 0;
    while (in < dataSize) {
        BYTE control = data[in++];
        for (int bit = 0; bit < 8; ++bit) {
            if (in >= dataSize)
                break;
            if (control & (1 << bit)) {
                if (in + 2 > dataSize)
                    return MAPI_E_CORRUPT_DATA;
                ULONG token = (data[in] << 8) | data[in + 1];
                in += 2;
                size_t offset = token >> 4;
                size_t length = (token & 0xF) + 2;
                if (offset == write) // the end marker
                    goto done;
                for (size_t k = 0; k < length; ++k) {
                    BYTE b = dictionary[(offset + k) % kDictionarySize];
                    if (rtf.size() >= rawSize)
                        return MAPI_E_CORRUPT_DATA;
                    rtf.push_back(static_cast<char>(b));
                    dictionary[write] = b;
                    write = (write + 1) % kDictionarySize;
                }
            } else {
                BYTE b = data[in++];
                if (rtf.size() >= rawSize)
                    return MAPI_E_CORRUPT_DATA;
                rtf.push_back(static_cast<char>(b));
                dictionary[write] = b;
                write = (write + 1) % kDictionarySize;
            }
        }
    }
done:
    if (rtf.size() != rawSize)
        return MAPI_E_CORRUPT_DATA;
    return S_OK;
}

std::string CCompressedRtf::Compress(const std::string& rtf, bool uncompressed)
{
    std::string out(kHeaderSize, '\0');
    if (uncompressed) {
        out += rtf;
        PutLe32(out, 0, static_cast<ULONG>(out.size() - 4));
        PutLe32(out, 4, static_cast<ULONG>(rtf.size()));
        PutLe32(out, 8, kTypeUncompressed);
        PutLe32(out, 12, 0);
        return out;
    }

    std::vector<BYTE> dictionary(kDictionarySize, 0);
    std::memcpy(dictionary.data(), kPreload, kPreloadSize);
    size_t write = kPreloadSize;
    // Most recent dictionary positions per 2-byte prefix, newest first.
    std::vector<std::vector<USHORT>> recent(65536);
    auto remember = [&](size_t position) {
        size_t next = (position + 1) % kDictionarySize;
        USHORT key = static_cast<USHORT>((dictionary[position] << 8) | dictionary[next]);
        auto& list = recent[key];
        list.insert(list.begin(), static_cast<USHORT>(position));
        if (list.size() > 32)
            list.pop_back();
    };
    for (size_t p = 0; p + 1 < kPreloadSize; ++p)
        remember(p);

    const auto* input = reinterpret_cast<const BYTE*>(rtf.data());
    size_t size = rtf.size();
    size_t i = 0;
    size_t controlAt = 0;
    int bit = 8;
    BYTE control = 0;
    auto startToken = [&]() {
        if (bit == 8) {
            if (bit == 8 && controlAt)
                out[controlAt] = static_cast<char>(control);
            controlAt = out.size();
            out.push_back('\0');
            control = 0;
            bit = 0;
        }
    };
    auto put = [&](BYTE b) {
        dictionary[write] = b;
        size_t previous = (write + kDictionarySize - 1) % kDictionarySize;
        write = (write + 1) % kDictionarySize;
        remember(previous);
    };
    while (i < size) {
        size_t bestLength = 0;
        size_t bestOffset = 0;
        if (i + 1 < size) {
            USHORT key = static_cast<USHORT>((input[i] << 8) | input[i + 1]);
            for (USHORT candidate : recent[key]) {
                if (candidate == write)
                    continue;
                // Follows exactly what the decoder will read, including
                // bytes it writes during this very reference.
                size_t length = 0;
                while (length < kMaxMatch && i + length < size) {
                    size_t position = (candidate + length) % kDictionarySize;
                    size_t ahead = (position + kDictionarySize - write) % kDictionarySize;
                    BYTE value = ahead < length ? input[i + ahead] : dictionary[position];
                    if (value != input[i + length])
                        break;
                    ++length;
                }
                if (length > bestLength) {
                    bestLength = length;
                    bestOffset = candidate;
                    if (length == kMaxMatch)
                        break;
                }
            }
        }
        startToken();
        if (bestLength >= 2) {
            control |= static_cast<BYTE>(1 << bit);
            USHORT token = static_cast<USHORT>((bestOffset << 4) | (bestLength - 2));
            out.push_back(static_cast<char>(token >> 8));
            out.push_back(static_cast<char>(token & 0xFF));
            for (size_t k = 0; k < bestLength; ++k)
                put(input[i + k]);
            i += bestLength;
        } else {
            out.push_back(static_cast<char>(input[i]));
            put(input[i]);
            ++i;
        }
        ++bit;
    }
    // The end marker: a reference to the current write position.
    startToken();
    control |= static_cast<BYTE>(1 << bit);
    USHORT end = static_cast<USHORT>(write << 4);
    out.push_back(static_cast<char>(end >> 8));
    out.push_back(static_cast<char>(end & 0xFF));
    out[controlAt] = static_cast<char>(control);

    PutLe32(out, 0, static_cast<ULONG>(out.size() - 4));
    PutLe32(out, 4, static_cast<ULONG>(size));
    PutLe32(out, 8, kTypeCompressed);
    PutLe32(out, 12, Crc(reinterpret_cast<const BYTE*>(out.data()) + kHeaderSize, out.size() - kHeaderSize));
    return out;
}
