#pragma once
// The content test of MAPI (FPropContainsProp, RES_CONTENT): whole value,
// prefix or substring of a string or binary value, with the fuzzy flags for
// strings (case, non-spacing marks, loose). The pattern is prepared once so a
// table restriction can test many rows quickly.
#include "MapiStandin.h"

#include <string>

class CContentMatcher {
public:
    // pattern: PT_STRING8, PT_UNICODE or PT_BINARY (any other type never
    // matches); fuzzyLevel: FL_* flags.
    CContentMatcher(const SPropValue& pattern, ULONG fuzzyLevel);

    // Whether value (single-valued; callers split multi-valued ones) holds
    // the pattern. 8-bit and Unicode strings are compared with each other.
    bool Matches(const SPropValue& value) const;

    // Whether the fuzzy level's low word names one of the three modes.
    static bool IsValidFuzzyLevel(ULONG fuzzyLevel);

private:
    std::wstring Normalise(const WCHAR* text, size_t length) const;
    bool MatchText(const std::wstring& haystack, const std::wstring& needle) const;

    ULONG m_mode;       // FL_FULLSTRING, FL_SUBSTRING or FL_PREFIX
    bool m_ignoreCase;
    bool m_ignoreNonSpace;
    bool m_isString = false;
    bool m_isBinary = false;
    std::wstring m_text;     // normalised pattern
    std::string m_bytes;     // binary pattern
};
