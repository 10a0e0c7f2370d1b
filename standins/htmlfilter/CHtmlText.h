// The text of an HTML page as an IFilter hands it out: runs of text
// separated by breaks. Block elements (paragraphs, headings, list items,
// table rows, line breaks) end a paragraph, table cells end a word; the
// content of scripts, styles, the title and embedded XML is not text;
// character references are resolved and runs of white space become one
// blank (outside <pre>, whose line ends are paragraph breaks).
#pragma once
#include "Platform.h"

#include <filter.h>

#include <string>
#include <vector>

class CHtmlText {
public:
    struct Chunk {
        CHUNK_BREAKTYPE breakType; // the break before the text; the first chunk has none
        std::wstring text;
    };

    // The page's bytes as UTF-16: by byte-order mark, else by the charset the
    // page declares (<meta charset> or http-equiv content), else UTF-8 when
    // the bytes are valid UTF-8, else windows-1252.
    static std::wstring Decode(const std::string& bytes);

    // The code page of a charset name, 0 when the name is not known.
    static UINT CodePageOf(const std::string& charset);

    // The text chunks of a decoded page. initFlags are IFilter::Init's:
    // IFILTER_INIT_CANON_SPACES makes no-break and other spaces blanks,
    // IFILTER_INIT_CANON_HYPHENS drops soft hyphens and makes non-breaking
    // hyphens '-'.
    static std::vector<Chunk> Extract(const std::wstring& html, ULONG initFlags);
};
