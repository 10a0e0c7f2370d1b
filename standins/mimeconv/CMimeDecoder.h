// Content transfer encodings of MIME bodies. Decoding is lenient the way
// mail readers are: characters outside the alphabet are skipped, a broken
// escape stays as it was written, a truncated end decodes as far as it goes.
// Every decoder makes one pass over its input.
#pragma once
#include <cstddef>
#include <string>

class CMimeDecoder {
public:
    // Base64 (RFC 2045): characters outside the alphabet are ignored, the
    // first '=' ends the data, trailing bits of an incomplete group are dropped.
    static std::string Base64(const char* data, size_t size);

    // Quoted-printable (RFC 2045): "=XX" escapes and soft line breaks
    // ("=" at a line end, white space before the break allowed). With
    // underscoreIsSpace, '_' stands for a blank (the Q encoding of RFC 2047).
    static std::string QuotedPrintable(const char* data, size_t size, bool underscoreIsSpace = false);

    // The body decoded by the name of its Content-Transfer-Encoding (any
    // case, surrounding blanks ignored); identities and unknown names give
    // the bytes as they are.
    static std::string Decode(const std::string& encoding, const char* data, size_t size);
};
