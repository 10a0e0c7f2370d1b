#include "MapiStandin.h"
#include "CContentMatcher.h"
#include "PropValue.h"

#include <vector>

CContentMatcher::CContentMatcher(const SPropValue& pattern, ULONG fuzzyLevel)
    : m_mode(fuzzyLevel & 0xFFFF)
    , m_ignoreCase((fuzzyLevel & (FL_IGNORECASE | FL_LOOSE)) != 0)
    , m_ignoreNonSpace((fuzzyLevel & (FL_IGNORENONSPACE | FL_LOOSE)) != 0)
{
    switch (PROP_TYPE(pattern.ulPropTag)) {
    case PT_UNICODE:
        if (pattern.Value.lpszW) {
            m_isString = true;
            m_text = Normalise(pattern.Value.lpszW, wcslen(pattern.Value.lpszW));
        }
        break;
    case PT_STRING8:
        if (pattern.Value.lpszA) {
            m_isString = true;
            std::wstring wide = mapistub::WideFromAnsi(pattern.Value.lpszA);
            m_text = Normalise(wide.c_str(), wide.size());
        }
        break;
    case PT_BINARY:
        if (pattern.Value.bin.lpb || pattern.Value.bin.cb == 0) {
            m_isBinary = true;
            m_bytes.assign(reinterpret_cast<const char*>(pattern.Value.bin.lpb), pattern.Value.bin.cb);
        }
        break;
    default:
        break;
    }
}

bool CContentMatcher::IsValidFuzzyLevel(ULONG fuzzyLevel)
{
    ULONG mode = fuzzyLevel & 0xFFFF;
    return mode == FL_FULLSTRING || mode == FL_SUBSTRING || mode == FL_PREFIX;
}

std::wstring CContentMatcher::Normalise(const WCHAR* text, size_t length) const
{
    std::wstring result(text, length);
    if (result.empty())
        return result;
    if (m_ignoreNonSpace) {
        // Decompose accented letters, then drop the combining marks.
        int needed = FoldStringW(MAP_COMPOSITE, result.c_str(), static_cast<int>(result.size()), nullptr, 0);
        if (needed > 0) {
            std::wstring folded(static_cast<size_t>(needed), L'\0');
            FoldStringW(MAP_COMPOSITE, result.c_str(), static_cast<int>(result.size()), &folded[0], needed);
            std::vector<WORD> types(folded.size());
            if (GetStringTypeW(CT_CTYPE3, folded.c_str(), static_cast<int>(folded.size()), types.data())) {
                std::wstring kept;
                kept.reserve(folded.size());
                for (size_t i = 0; i < folded.size(); ++i)
                    if (!(types[i] & C3_NONSPACING))
                        kept.push_back(folded[i]);
                result.swap(kept);
            } else {
                result.swap(folded);
            }
        }
    }
    if (m_ignoreCase && !result.empty())
        CharUpperBuffW(&result[0], static_cast<DWORD>(result.size()));
    return result;
}

bool CContentMatcher::MatchText(const std::wstring& haystack, const std::wstring& needle) const
{
    switch (m_mode) {
    case FL_FULLSTRING:
        return haystack == needle;
    case FL_PREFIX:
        return haystack.compare(0, needle.size(), needle) == 0 && haystack.size() >= needle.size();
    case FL_SUBSTRING:
        return haystack.find(needle) != std::wstring::npos;
    default:
        return false;
    }
}

bool CContentMatcher::Matches(const SPropValue& value) const
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_UNICODE:
        if (!m_isString || !value.Value.lpszW)
            return false;
        return MatchText(Normalise(value.Value.lpszW, wcslen(value.Value.lpszW)), m_text);
    case PT_STRING8: {
        if (!m_isString || !value.Value.lpszA)
            return false;
        std::wstring wide = mapistub::WideFromAnsi(value.Value.lpszA);
        return MatchText(Normalise(wide.c_str(), wide.size()), m_text);
    }
    case PT_BINARY: {
        if (!m_isBinary || (!value.Value.bin.lpb && value.Value.bin.cb))
            return false;
        std::string bytes(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        switch (m_mode) {
        case FL_FULLSTRING:
            return bytes == m_bytes;
        case FL_PREFIX:
            return bytes.size() >= m_bytes.size() && bytes.compare(0, m_bytes.size(), m_bytes) == 0;
        case FL_SUBSTRING:
            return bytes.find(m_bytes) != std::string::npos;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}
