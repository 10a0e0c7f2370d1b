#include "Platform.h"
#include "CHtmlText.h"

#include "HtmlEntities.h"

#include <algorithm>
#include <cctype>
#include <cwctype>

namespace {

bool IsHtmlSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f';
}

bool IsAsciiAlpha(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsAsciiAlnum(wchar_t c)
{
    return IsAsciiAlpha(c) || (c >= L'0' && c <= L'9');
}

std::wstring Lower(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
    return s;
}

bool IsOneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* n : names)
        if (name == n)
            return true;
    return false;
}

// Elements whose start or end breaks the text into paragraphs.
bool IsBlockElement(const std::wstring& name)
{
    return IsOneOf(name, {L"p", L"div", L"br", L"hr", L"h1", L"h2", L"h3", L"h4", L"h5", L"h6", L"li", L"ul",
                          L"ol", L"dl", L"dt", L"dd", L"table", L"tr", L"thead", L"tbody", L"tfoot", L"caption",
                          L"blockquote", L"pre", L"address", L"center", L"form", L"fieldset", L"legend",
                          L"section", L"article", L"aside", L"header", L"footer", L"nav", L"main", L"figure",
                          L"figcaption", L"body", L"html", L"option", L"textarea", L"details", L"summary"});
}

// Elements whose content is not text.
bool IsSkippedElement(const std::wstring& name)
{
    return IsOneOf(name, {L"script", L"style", L"title", L"xml", L"template", L"noframes", L"object",
                          L"applet"});
}

bool IsValidUtf8(const std::string& bytes)
{
    return bytes.empty() ||
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                               0) > 0;
}

std::wstring ToWide(UINT codePage, const char* data, size_t size)
{
    if (size == 0)
        return {};
    const int n = MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, data, static_cast<int>(size), &text[0], n);
    return text;
}

std::wstring FromUtf16(const std::string& bytes, size_t start, bool bigEndian)
{
    std::wstring text;
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        const unsigned char a = bytes[i], b = bytes[i + 1];
        text += static_cast<wchar_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return text;
}

// The charset a page declares in its head: the name after "charset", an
// optional blank, '=' and optional quotes, within the first 4 KiB.
std::string DeclaredCharset(const std::string& bytes)
{
    std::string head = bytes.substr(0, 4096);
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    for (size_t pos = head.find("charset"); pos != std::string::npos; pos = head.find("charset", pos + 7)) {
        size_t i = pos + 7;
        while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i])))
            ++i;
        if (i >= head.size() || head[i] != '=')
            continue;
        ++i;
        while (i < head.size() && (std::isspace(static_cast<unsigned char>(head[i])) || head[i] == '"' || head[i] == '\''))
            ++i;
        size_t end = i;
        while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) || head[end] == '-' ||
                                     head[end] == '_' || head[end] == '.' || head[end] == ':'))
            ++end;
        if (end > i)
            return head.substr(i, end - i);
    }
    return {};
}

// Collects chunks: text is appended with white space collapsed, boundaries
// end the current chunk and remember the strongest break since.
class CChunkBuilder {
public:
    explicit CChunkBuilder(ULONG flags) : m_flags(flags) {}

    void Text(wchar_t c)
    {
        if (m_flags & IFILTER_INIT_CANON_SPACES) {
            if (c == 0x00A0 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F || c == 0x3000)
                c = L' ';
        }
        if (m_flags & IFILTER_INIT_CANON_HYPHENS) {
            if (c == 0x00AD)
                return;
            if (c == 0x2011)
                c = L'-';
        }
        if (m_pre) {
            if (c == L'\n') {
                Boundary(CHUNK_EOP);
                return;
            }
            if (c == L'\r')
                return;
            m_text += c == L'\t' ? L'\t' : c;
            return;
        }
        if (IsHtmlSpace(c)) {
            m_space = !m_text.empty();
            return;
        }
        if (m_space)
            m_text += L' ';
        m_space = false;
        m_text += c;
    }

    void CodePoint(unsigned long code)
    {
        if (code > 0xFFFF) {
            code -= 0x10000;
            Text(static_cast<wchar_t>(0xD800 + (code >> 10)));
            Text(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        } else {
            Text(static_cast<wchar_t>(code));
        }
    }

    void Boundary(CHUNK_BREAKTYPE kind)
    {
        Flush();
        if (!m_chunks.empty() && Strength(kind) > Strength(m_break))
            m_break = kind;
        m_space = false;
    }

    void SetPre(bool pre) { m_pre = pre; }

    std::vector<CHtmlText::Chunk> Finish()
    {
        Flush();
        return std::move(m_chunks);
    }

private:
    static int Strength(CHUNK_BREAKTYPE kind)
    {
        switch (kind) {
        case CHUNK_EOW: return 1;
        case CHUNK_EOS: return 2;
        case CHUNK_EOP: return 3;
        case CHUNK_EOC: return 4;
        default: return 0;
        }
    }

    void Flush()
    {
        size_t end = m_text.find_last_not_of(L" \t");
        if (end == std::wstring::npos) {
            m_text.clear();
            return;
        }
        m_text.erase(end + 1);
        m_chunks.push_back({m_chunks.empty() ? CHUNK_NO_BREAK : m_break, std::move(m_text)});
        m_text.clear();
        m_break = CHUNK_NO_BREAK;
    }

    ULONG m_flags;
    std::vector<CHtmlText::Chunk> m_chunks;
    std::wstring m_text;
    CHUNK_BREAKTYPE m_break = CHUNK_NO_BREAK;
    bool m_space = false;
    bool m_pre = false;
};

class CHtmlScanner {
public:
    CHtmlScanner(const std::wstring& html, ULONG flags) : m_html(html), m_out(flags) {}

    std::vector<CHtmlText::Chunk> Run()
    {
        while (m_pos < m_html.size()) {
            const wchar_t c = m_html[m_pos];
            if (c == L'<')
                Markup();
            else if (c == L'&')
                Reference();
            else {
                m_out.Text(c);
                ++m_pos;
            }
        }
        return m_out.Finish();
    }

private:
    wchar_t At(size_t i) const { return i < m_html.size() ? m_html[i] : L'\0'; }

    void SkipPast(const wchar_t* end)
    {
        size_t found = m_html.find(end, m_pos);
        m_pos = found == std::wstring::npos ? m_html.size() : found + wcslen(end);
    }

    void Markup()
    {
        const wchar_t next = At(m_pos + 1);
        if (m_html.compare(m_pos, 4, L"<!--") == 0) {
            m_pos += 4;
            SkipPast(L"-->");
            return;
        }
        if (next == L'!' || next == L'?') {
            SkipPast(L">");
            return;
        }
        const bool closing = next == L'/';
        size_t i = m_pos + (closing ? 2 : 1);
        if (!IsAsciiAlpha(At(i))) {
            m_out.Text(L'<'); // a lone '<' is text
            ++m_pos;
            return;
        }
        size_t nameEnd = i;
        while (nameEnd < m_html.size() && (IsAsciiAlnum(m_html[nameEnd]) || m_html[nameEnd] == L':' ||
                                           m_html[nameEnd] == L'-' || m_html[nameEnd] == L'_'))
            ++nameEnd;
        const std::wstring name = Lower(m_html.substr(i, nameEnd - i));
        // Attributes run to the first '>' outside quotes.
        size_t end = nameEnd;
        wchar_t quote = 0;
        for (; end < m_html.size(); ++end) {
            const wchar_t a = m_html[end];
            if (quote) {
                if (a == quote)
                    quote = 0;
            } else if (a == L'"' || a == L'\'') {
                quote = a;
            } else if (a == L'>') {
                break;
            }
        }
        const bool selfClosing = end > nameEnd && m_html[end - 1] == L'/';
        m_pos = end < m_html.size() ? end + 1 : m_html.size();
        Element(name, closing, selfClosing);
    }

    void Element(const std::wstring& name, bool closing, bool selfClosing)
    {
        if (!closing && !selfClosing && IsSkippedElement(name)) {
            SkipRawContent(name);
            return;
        }
        if (name == L"td" || name == L"th")
            m_out.Boundary(CHUNK_EOW);
        else if (IsBlockElement(name))
            m_out.Boundary(CHUNK_EOP);
        if (name == L"pre" || name == L"listing")
            m_out.SetPre(!closing);
    }

    // The content of a skipped element ends at its end tag, whatever lies between.
    void SkipRawContent(const std::wstring& name)
    {
        const std::wstring endTag = L"</" + name;
        for (size_t pos = m_pos; pos < m_html.size(); ++pos) {
            if (m_html[pos] == L'<' && Lower(m_html.substr(pos, endTag.size())) == endTag &&
                !IsAsciiAlnum(At(pos + endTag.size()))) {
                m_pos = pos;
                SkipPast(L">");
                return;
            }
        }
        m_pos = m_html.size();
    }

    void Reference()
    {
        size_t i = m_pos + 1;
        if (At(i) == L'#') {
            const bool hex = At(i + 1) == L'x' || At(i + 1) == L'X';
            size_t digits = i + (hex ? 2 : 1);
            size_t end = digits;
            unsigned long value = 0;
            while (end < m_html.size() && (hex ? std::iswxdigit(m_html[end]) : std::iswdigit(m_html[end]))) {
                const wchar_t d = m_html[end];
                const unsigned long digit = d <= L'9' ? d - L'0' : (d | 0x20) - L'a' + 10;
                value = std::min<unsigned long>(value * (hex ? 16 : 10) + digit, 0x110000);
                ++end;
            }
            if (end == digits) {
                m_out.Text(L'&');
                ++m_pos;
                return;
            }
            m_out.CodePoint(NumericHtmlReference(value));
            m_pos = At(end) == L';' ? end + 1 : end;
            return;
        }
        size_t end = i;
        while (end < m_html.size() && end - i < 32 && IsAsciiAlnum(m_html[end]))
            ++end;
        const std::wstring name = m_html.substr(i, end - i);
        const unsigned long code = LookupHtmlEntity(name);
        if (code && (At(end) == L';' || IsLegacyHtmlEntity(name))) {
            m_out.CodePoint(code);
            m_pos = At(end) == L';' ? end + 1 : end;
            return;
        }
        m_out.Text(L'&');
        ++m_pos;
    }

    const std::wstring& m_html;
    size_t m_pos = 0;
    CChunkBuilder m_out;
};

} // namespace

UINT CHtmlText::CodePageOf(const std::string& charset)
{
    std::string name = charset;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    struct Known {
        const char* name;
        UINT codePage;
    } known[] = {
        {"utf-8", CP_UTF8}, {"utf8", CP_UTF8}, {"unicode-1-1-utf-8", CP_UTF8},
        // Browsers read Latin-1 and ASCII pages as windows-1252.
        {"us-ascii", 1252}, {"ascii", 1252}, {"iso-8859-1", 1252}, {"latin1", 1252}, {"iso8859-1", 1252},
        {"iso-8859-2", 28592}, {"iso-8859-3", 28593}, {"iso-8859-4", 28594}, {"iso-8859-5", 28595},
        {"iso-8859-6", 28596}, {"iso-8859-7", 28597}, {"iso-8859-8", 28598}, {"iso-8859-9", 28599},
        {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"koi8-r", 20866}, {"koi8-u", 21866},
        {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"x-sjis", 932}, {"ms932", 932},
        {"euc-jp", 20932}, {"iso-2022-jp", 50220}, {"gb2312", 936}, {"gbk", 936}, {"x-gbk", 936},
        {"gb18030", 54936}, {"big5", 950}, {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"ibm866", 866},
        {"tis-620", 874}, {"windows-874", 874},
    };
    for (const Known& k : known)
        if (name == k.name)
            return k.codePage;
    for (const char* prefix : {"windows-", "cp", "x-cp"}) {
        const size_t n = strlen(prefix);
        if (name.compare(0, n, prefix) == 0 && name.size() > n &&
            name.find_first_not_of("0123456789", n) == std::string::npos)
            return static_cast<UINT>(std::stoul(name.substr(n)));
    }
    return 0;
}

std::wstring CHtmlText::Decode(const std::string& bytes)
{
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return ToWide(CP_UTF8, bytes.data() + 3, bytes.size() - 3);
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0)
        return FromUtf16(bytes, 2, false);
    if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFE\xFF") == 0)
        return FromUtf16(bytes, 2, true);
    const std::string declared = DeclaredCharset(bytes);
    UINT codePage = declared.empty() ? 0 : CodePageOf(declared);
    // A page that calls itself UTF-16 but has no mark is read as ASCII
    // would be: the declaration itself was legible as single bytes.
    if (!codePage || !IsValidCodePage(codePage))
        codePage = IsValidUtf8(bytes) ? CP_UTF8 : 1252;
    std::wstring text = ToWide(codePage, bytes.data(), bytes.size());
    if (text.empty() && !bytes.empty())
        text = ToWide(1252, bytes.data(), bytes.size());
    return text;
}

std::vector<CHtmlText::Chunk> CHtmlText::Extract(const std::wstring& html, ULONG initFlags)
{
    return CHtmlScanner(html, initFlags).Run();
}
