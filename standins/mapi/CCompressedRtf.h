#pragma once
// The compressed-RTF format of PR_RTF_COMPRESSED: a 16-byte header
// (compressed size, raw size, type, CRC; little-endian) followed either by
// LZFu data ("LZFu": runs of a control byte and eight literal bytes or
// 2-byte dictionary references into a 4 KiB dictionary preloaded with
// common RTF text) or by the raw text ("MELA", CRC 0).
#include "MapiStandin.h"

#include <string>

class CCompressedRtf {
public:
    // Decodes a whole PR_RTF_COMPRESSED value into RTF text. Empty input
    // gives empty text. MAPI_E_CORRUPT_DATA for a bad header, an unknown
    // type, sizes that do not fit, a wrong CRC or references past the data.
    static HRESULT Decompress(const std::string& stored, std::string& rtf);

    // Encodes RTF text; compressed (LZFu) unless uncompressed is true (MELA).
    static std::string Compress(const std::string& rtf, bool uncompressed);

    // The format's CRC-32 (reflected polynomial 0xEDB88320, no inversion).
    static ULONG Crc(const BYTE* data, size_t size, ULONG crc = 0);
};
