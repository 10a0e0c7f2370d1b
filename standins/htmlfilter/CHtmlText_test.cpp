#include "Platform.h"
#include "CHtmlText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr ULONG kIndexingFlags = 0x5D; // what the product's converter asks for

// Chunks as one text: "[w]" for a word break, "[p]" for a paragraph break.
std::wstring Render(const std::vector<CHtmlText::Chunk>& chunks)
{
    std::wstring out;
    for (const auto& chunk : chunks) {
        switch (chunk.breakType) {
        case CHUNK_EOW: out += L"[w]"; break;
        case CHUNK_EOS: out += L"[s]"; break;
        case CHUNK_EOP: out += L"[p]"; break;
        case CHUNK_EOC: out += L"[c]"; break;
        default: break;
        }
        out += chunk.text;
    }
    return out;
}

TEST(CHtmlText, PagesBecomeChunksOfText)
{
    struct Case {
        const char* name;
        const wchar_t* html;
        const wchar_t* text;
        ULONG flags = kIndexingFlags;
    } cases[] = {
        {"entities", L"a &amp; b &lt;c&gt; &quot;d&quot; &#233;t&#xE9; &euro;&nbsp;x &copy 2024 &unknown; &#128512; "
                     L"&#150; &Eacute;&eacute; &#0; &#xD800;",
         L"a & b <c> \"d\" été € x © 2024 &unknown; \xD83D\xDE00 \x2013 Éé \xFFFD \xFFFD"},
        {"symbols and Greek", L"&forall;x &isin; &empty;: x &ne; &alefsym; &rArr; &lang;&thetasym;&rang; &spades;",
         L"\x2200x \x2208 \x2205: x \x2260 \x2135 \x21D2 \x2329\x03D1\x232A \x2660"},
        {"no-break space kept without the spaces flag", L"a&nbsp;b", L"a\xA0" L"b", 0},
        {"hyphens", L"infor&shy;mation non&#8209;breaking", L"information non-breaking"},
        {"hyphens kept without the hyphens flag", L"infor&shy;mation", L"infor\xADmation", 0},
        {"scripts, styles, title and comments are not text",
         L"<html><head><title>Title</title><style>p { color: red }</style>"
         L"<script type='text/javascript'>if (a < b && c > d) document.write('</p>x');</script></head>"
         L"<body><!-- a <b>comment</b> -->Visible<SCRIPT>hidden()</SCRIPT > text</body></html>",
         L"Visible text"},
        {"Office's conditional comments and XML islands",
         L"<!--[if gte mso 9]><xml><o:OfficeDocumentSettings><o:AllowPNG/></o:OfficeDocumentSettings></xml>"
         L"<![endif]--><xml>data</xml><p class=MsoNormal>Hello<o:p></o:p></p>",
         L"Hello"},
        {"tables", L"<table><tr><td>A1</td><td>B1</td></tr><tr><th>A2</th><td>B2</td></tr></table>after",
         L"A1[w]B1[p]A2[w]B2[p]after"},
        {"blocks", L"<p>One</p><p>Two<br>Three</p><div><h1>Four</h1></div><ul><li>Five<li>Six</ul>",
         L"One[p]Two[p]Three[p]Four[p]Five[p]Six"},
        {"white space", L"  lots   of\r\n\t space  <b>bold</b>text <i> it </i> end  ", L"lots of space boldtext it end"},
        {"preformatted", L"<pre>line 1\n  line 2</pre>after", L"line 1[p]  line 2[p]after"},
        {"lone markup characters", L"a < b && c <3 & d", L"a < b && c <3 & d"},
        {"upper case and quoted '>'", L"<P CLASS=\"x>y\">Text</P><IMG ALT='a>b' SRC=x>more", L"Text[p]more"},
        {"doctype and processing instructions", L"<!DOCTYPE html><?xml version=\"1.0\"?>body", L"body"},
        {"unterminated comment", L"before<!-- never closed", L"before"},
        {"unterminated script", L"before<script>never closed", L"before"},
        {"only markup", L"<html><body><p></p><br/></body></html>", L""},
        {"empty", L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.text, Render(CHtmlText::Extract(c.html, c.flags)));
    }
}

TEST(CHtmlText, TheFirstChunkHasNoBreakAndBreaksDoNotPileUp)
{
    auto chunks = CHtmlText::Extract(L"<p><p><div>first</div></p><br><br><td>second", kIndexingFlags);
    ASSERT_EQ(2u, chunks.size());
    EXPECT_EQ(CHUNK_NO_BREAK, chunks[0].breakType);
    EXPECT_EQ(CHUNK_EOP, chunks[1].breakType); // the strongest break since the last text
    EXPECT_EQ(L"second", chunks[1].text);
}

TEST(CHtmlText, BytesAreDecodedByMarkDeclarationOrContent)
{
    struct Case {
        const char* name;
        std::string bytes;
        const wchar_t* tail; // the text after the last '>'
    } cases[] = {
        {"UTF-8 mark", "\xEF\xBB\xBF<p>caf\xC3\xA9", L"café"},
        {"UTF-16LE mark", std::string("\xFF\xFE<\0p\0>\0\xE9\0", 10), L"é"},
        {"UTF-16BE mark", std::string("\xFE\xFF\0<\0p\0>\0\xE9", 10), L"é"},
        {"meta charset", "<meta charset=\"windows-1251\">\xCF\xF0\xE8", L"При"},
        {"http-equiv content", "<meta http-equiv=Content-Type content=\"text/html; charset=iso-8859-2\">\xB1",
         L"\x0105"},
        {"GB2312", "<meta charset=gb2312>\xD6\xD0\xCE\xC4", L"中文"},
        {"Shift_JIS", "<META CHARSET='Shift_JIS'>\x93\xFA\x96\x7B", L"日本"},
        {"Latin-1 read as windows-1252", "<meta charset=iso-8859-1>\x93quoted\x94", L"\x201Cquoted\x201D"},
        {"undeclared UTF-8", "<p>\xE2\x82\xAC 5", L"€ 5"},
        {"undeclared and not UTF-8", "<p>caf\xE9", L"café"},
        {"unknown charset", "<meta charset=x-unheard-of><p>\xC3\xA9", L"é"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring text = CHtmlText::Decode(c.bytes);
        const size_t gt = text.rfind(L'>');
        EXPECT_EQ(c.tail, gt == std::wstring::npos ? text : text.substr(gt + 1));
    }
}

TEST(CHtmlText, CharsetNamesMapToCodePages)
{
    struct Case {
        const char* name;
        UINT codePage;
    } cases[] = {
        {"UTF-8", 65001}, {"utf8", 65001}, {"windows-1252", 1252}, {"Windows-1250", 1250}, {"cp1251", 1251},
        {"ISO-8859-15", 28605}, {"iso-8859-1", 1252}, {"us-ascii", 1252}, {"koi8-r", 20866}, {"big5", 950},
        {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"gbk", 936}, {"bogus", 0}, {"windows-", 0}, {"", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.codePage, CHtmlText::CodePageOf(c.name)) << c.name;
}

} // namespace
