#pragma once
// Plain text from RTF and RTF from plain text, as RTFSync needs them to keep
// PR_BODY and PR_RTF_COMPRESSED in step. Text extraction follows the RTF
// grammar far enough for message bodies: groups, control words and
// symbols, ignorable and non-text destinations (font and colour tables,
// style sheets, pictures, objects, \*), \par/\line/\tab, \'hh in the
// document's ANSI code page and \uN with its \uc fallback.
#include "MapiStandin.h"

#include <string>

class CRtfText {
public:
    static std::wstring ToText(const std::string& rtf);
    static std::string FromText(const std::wstring& text);
};
