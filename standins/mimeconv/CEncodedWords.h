// Header text with RFC 2047 encoded words ("=?charset?B?...?=" and
// "=?charset?Q?...?="). White space between two encoded words is not part of
// the text; consecutive words in one charset are joined before conversion so
// that a character split across two words survives. Text outside encoded
// words is raw header bytes: UTF-8 when valid, else windows-1252. A malformed
// word stays as it was written.
#pragma once
#include <string>

class CEncodedWords {
public:
    static std::wstring Decode(const std::string& raw);

    // Longest encoded word looked for; RFC 2047 allows 75 characters, longer
    // ones are common enough to accept, but not without bound.
    static constexpr size_t kMaxWordLength = 4096;
};
