#include "Platform.h"
#include "CEncodedWords.h"
#include "CMimeCharset.h"
#include "CMimeDecoder.h"

#include <algorithm>
#include <vector>

namespace {

struct Segment {
    bool encoded;
    std::string charset; // encoded segments only
    std::string bytes;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Finds, for positions that only grow, the next blank and the next "?=" of
// the text, so that looking for encoded words stays one pass over the text
// however many candidates fail.
class CForwardFinder {
public:
    explicit CForwardFinder(const std::string& raw) : m_raw(raw) {}

    size_t NextBlank(size_t from)
    {
        if (from < m_blankFrom || m_blank < from)
            m_blank = from;
        m_blankFrom = from;
        while (m_blank < m_raw.size() && !IsBlank(m_raw[m_blank]))
            ++m_blank;
        return m_blank;
    }

    // The position of the '?' of the next "?=", or the text's size.
    size_t NextClose(size_t from)
    {
        if (from < m_closeFrom || m_close < from)
            m_close = from;
        m_closeFrom = from;
        while (m_close < m_raw.size() && !(m_raw[m_close] == '?' && m_close + 1 < m_raw.size() &&
                                           m_raw[m_close + 1] == '='))
            ++m_close;
        return m_close;
    }

private:
    const std::string& m_raw;
    size_t m_blank = 0;
    size_t m_blankFrom = 0;
    size_t m_close = 0;
    size_t m_closeFrom = 0;
};

// An encoded word at raw[start]: its charset and decoded bytes, and where it
// ends. The charset and encoding may not hold '?' or blanks, the text may not
// hold blanks or "?=".
bool ParseWord(const std::string& raw, size_t start, CForwardFinder& finder, Segment& word, size_t& end)
{
    if (raw.compare(start, 2, "=?") != 0)
        return false;
    const size_t limit = std::min(raw.size(), start + CEncodedWords::kMaxWordLength);
    size_t charsetEnd = start + 2;
    while (charsetEnd < limit && raw[charsetEnd] != '?' && !IsBlank(raw[charsetEnd]))
        ++charsetEnd;
    if (charsetEnd == start + 2 || charsetEnd + 2 >= limit || raw[charsetEnd] != '?' || raw[charsetEnd + 2] != '?')
        return false;
    const char encoding = raw[charsetEnd + 1];
    const size_t textStart = charsetEnd + 3;
    const size_t textEnd = finder.NextClose(textStart);
    if (textEnd + 2 > limit || finder.NextBlank(textStart) < textEnd)
        return false;
    const char* text = raw.data() + textStart;
    const size_t length = textEnd - textStart;
    if (encoding == 'B' || encoding == 'b')
        word.bytes = CMimeDecoder::Base64(text, length);
    else if (encoding == 'Q' || encoding == 'q')
        word.bytes = CMimeDecoder::QuotedPrintable(text, length, true);
    else
        return false;
    word.encoded = true;
    word.charset = raw.substr(start + 2, charsetEnd - start - 2);
    end = textEnd + 2;
    return true;
}

} // namespace

std::wstring CEncodedWords::Decode(const std::string& raw)
{
    std::vector<Segment> segments;
    Segment literal{false, std::string(), std::string()};
    CForwardFinder finder(raw);
    size_t i = 0;
    while (i < raw.size()) {
        Segment word;
        size_t end = 0;
        if (raw[i] == '=' && ParseWord(raw, i, finder, word, end)) {
            // Blanks between two encoded words are dropped.
            bool onlyBlanks = true;
            for (char c : literal.bytes)
                onlyBlanks = onlyBlanks && IsBlank(c);
            const bool afterWord = !segments.empty() && segments.back().encoded;
            if (!(onlyBlanks && afterWord) && !literal.bytes.empty())
                segments.push_back(literal);
            literal.bytes.clear();
            if (!segments.empty() && segments.back().encoded && segments.back().charset == word.charset)
                segments.back().bytes += word.bytes;
            else
                segments.push_back(word);
            i = end;
            continue;
        }
        literal.bytes.push_back(raw[i]);
        ++i;
    }
    if (!literal.bytes.empty())
        segments.push_back(literal);

    std::wstring text;
    for (const Segment& segment : segments) {
        if (segment.encoded) {
            text += CMimeCharset::ToWide(segment.bytes, segment.charset);
        } else {
            const char* data = segment.bytes.data();
            text += CMimeCharset::FromCodePage(data, segment.bytes.size(),
                                               CMimeCharset::FallbackCodePage(data, segment.bytes.size()));
        }
    }
    return text;
}
