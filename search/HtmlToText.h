// Turns an HTML body into plain UTF-16 text through the IFilter that the
// system registers as the persistent handler of ".HTML": the filter's text
// chunks are copied out with their breaks, trimmed of surrounding white space
// and folded to plain ASCII look-alikes (TextFold.h). Every failure throws
// CException; what was written before it stays in the output.
#pragma once
#include "SearchPlatform.h"

class HtmlToText {
public:
    HtmlToText() = default;
    HtmlToText(const HtmlToText&) = delete;
    HtmlToText& operator=(const HtmlToText&) = delete;

    // Reads the filter's CLSID from the registry (HKEY_CLASSES_ROOT:
    // ".HTML\PersistentHandler", then the handler's IFilter add-in key).
    void GetHtmlFilterClsid();

    // Writes the text of the HTML in input (read from where it stands) to
    // output (UTF-16LE, no byte-order mark, no terminator). Looks the filter
    // up on first use.
    void Convert(IStream* input, IStream* output);

    const CLSID& FilterClsid() const { return m_filterClsid; }

    // Folds length units of piece and writes them to output in one Write.
    static void FoldPunctuationAndWrite(IStream* output, const wchar_t* piece, size_t length);

private:
    CLSID m_filterClsid = GUID_NULL;
};
