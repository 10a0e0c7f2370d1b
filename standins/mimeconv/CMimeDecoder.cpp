#include "Platform.h"
#include "CMimeDecoder.h"

#include <algorithm>

namespace {

int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Normalised(const std::string& name)
{
    std::string lower;
    for (char c : name) {
        if (c == ' ' || c == '\t' || c == '"')
            continue;
        lower.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    }
    return lower;
}

} // namespace

std::string CMimeDecoder::Base64(const char* data, size_t size)
{
    std::string out;
    out.reserve(size / 4 * 3 + 3);
    unsigned long bits = 0;
    int count = 0;
    for (size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c == '=')
            break;
        const int value = Base64Value(c);
        if (value < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned long>(value);
        if (++count == 4) {
            out.push_back(static_cast<char>((bits >> 16) & 0xFF));
            out.push_back(static_cast<char>((bits >> 8) & 0xFF));
            out.push_back(static_cast<char>(bits & 0xFF));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<char>((bits >> 4) & 0xFF));
    } else if (count == 3) {
        out.push_back(static_cast<char>((bits >> 10) & 0xFF));
        out.push_back(static_cast<char>((bits >> 2) & 0xFF));
    }
    return out;
}

std::string CMimeDecoder::QuotedPrintable(const char* data, size_t size, bool underscoreIsSpace)
{
    std::string out;
    out.reserve(size);
    size_t i = 0;
    while (i < size) {
        const char c = data[i];
        if (c == '_' && underscoreIsSpace) {
            out.push_back(' ');
            ++i;
            continue;
        }
        if (c != '=') {
            out.push_back(c);
            ++i;
            continue;
        }
        // "=XX": an escaped byte.
        const int high = i + 1 < size ? HexValue(static_cast<unsigned char>(data[i + 1])) : -1;
        const int low = i + 2 < size ? HexValue(static_cast<unsigned char>(data[i + 2])) : -1;
        if (high >= 0 && low >= 0) {
            out.push_back(static_cast<char>((high << 4) | low));
            i += 3;
            continue;
        }
        // "=" followed by blanks up to a line end: a soft line break.
        size_t j = i + 1;
        while (j < size && (data[j] == ' ' || data[j] == '\t'))
            ++j;
        if (j == size) {
            i = j;
            continue;
        }
        if (data[j] == '\n') {
            i = j + 1;
            continue;
        }
        if (data[j] == '\r') {
            i = j + 1 < size && data[j + 1] == '\n' ? j + 2 : j + 1;
            continue;
        }
        // Anything else is kept as written.
        out.push_back('=');
        ++i;
    }
    return out;
}

std::string CMimeDecoder::Decode(const std::string& encoding, const char* data, size_t size)
{
    const std::string name = Normalised(encoding);
    if (name == "base64")
        return Base64(data, size);
    if (name == "quoted-printable")
        return QuotedPrintable(data, size);
    return std::string(data, size);
}
