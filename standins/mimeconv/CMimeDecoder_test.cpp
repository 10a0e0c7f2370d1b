#include "Platform.h"
#include "CMimeDecoder.h"
#include "CEncodedWords.h"
#include "CMimeCharset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CMimeDecoder, TransferEncodingsDecodeLeniently)
{
    struct Case {
        const char* name;
        const char* encoding;
        std::string input;
        std::string output;
    } cases[] = {
        {"base64", "base64", "SGVsbG8sIHdvcmxkIQ==", "Hello, world!"},
        {"base64 name in any case, blanks around", " BASE64 ", "SGk=", "Hi"},
        {"base64 lines and junk skipped", "base64", "SGVs\r\nbG8s*IHdv\ncmxk\tIQ==", "Hello, world!"},
        {"base64 without padding", "base64", "SGVsbG8", "Hello"},
        {"base64 stops at padding", "base64", "SGk=SGk=", "Hi"},
        {"base64 lone trailing character dropped", "base64", "SGkh1", "Hi!"},
        {"base64 binary", "base64", "AP8A/w==", std::string("\x00\xFF\x00\xFF", 4)},
        {"quoted-printable escapes", "quoted-printable", "caf=C3=A9 =3D", "caf\xC3\xA9 ="},
        {"quoted-printable lower-case hex", "quoted-printable", "=c3=a9", "\xC3\xA9"},
        {"quoted-printable soft breaks", "quoted-printable", "long =\r\nline=\nend= \t\r\nhere", "long lineendhere"},
        {"quoted-printable broken escapes kept", "quoted-printable", "a=ZZb=4", "a=ZZb=4"},
        {"quoted-printable final equals", "quoted-printable", "end=", "end"},
        {"quoted-printable underscore is literal", "quoted-printable", "a_b", "a_b"},
        {"7bit is the identity", "7bit", "=41 SGk=", "=41 SGk="},
        {"unknown encodings give the bytes", "x-unknown", "abc", "abc"},
        {"no encoding", "", "abc", "abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.output, CMimeDecoder::Decode(c.encoding, c.input.data(), c.input.size()));
    }
    EXPECT_EQ("a b", CMimeDecoder::QuotedPrintable("a_b", 3, true));
}

TEST(CEncodedWords, HeaderTextDecodes)
{
    struct Case {
        const char* name;
        std::string raw;
        std::wstring text;
    } cases[] = {
        {"plain text", "Hello there", L"Hello there"},
        {"B word", "=?utf-8?B?w6l0w6k=?=", L"\u00E9t\u00E9"},
        {"Q word with underscores", "=?iso-8859-1?q?caf=E9_cr=E8me?=", L"caf\u00E9 cr\u00E8me"},
        {"text around words kept", "Re: =?utf-8?Q?=C3=A9t=C3=A9?= news", L"Re: \u00E9t\u00E9 news"},
        {"blanks between words dropped", "=?utf-8?Q?a?= \r\n =?utf-8?Q?b?=", L"ab"},
        {"a character split across words", "=?utf-8?B?4g==?= =?utf-8?B?gqw=?=", L"\u20AC"},
        {"words of different charsets", "=?iso-8859-1?Q?=E9?= =?utf-8?Q?=C3=A9?=", L"\u00E9\u00E9"},
        {"language suffix", "=?utf-8*en?Q?hi?=", L"hi"},
        {"windows-1252 smart quotes", "=?windows-1252?Q?=93x=94?=", L"\u201Cx\u201D"},
        {"unknown charset falls back to UTF-8", "=?x-nonesuch?Q?=C3=A9?=", L"\u00E9"},
        {"unknown charset falls back to windows-1252", "=?x-nonesuch?Q?=E9?=", L"\u00E9"},
        {"malformed word kept", "=?utf-8?X?abc?= and =?utf-8?Q?unterminated", L"=?utf-8?X?abc?= and =?utf-8?Q?unterminated"},
        {"blank inside a word breaks it", "=?utf-8?Q?a b?=", L"=?utf-8?Q?a b?="},
        {"raw UTF-8 header bytes", "caf\xC3\xA9", L"caf\u00E9"},
        {"raw 8-bit header bytes", "caf\xE9", L"caf\u00E9"},
        {"empty", "", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.text, CEncodedWords::Decode(c.raw));
    }
}

TEST(CMimeCharset, CharsetsReadThroughTheirCodePages)
{
    struct Case {
        const char* charset;
        std::string bytes;
        std::wstring text;
        UINT declared;
    } cases[] = {
        {"utf-8", "\xE2\x82\xAC caf\xC3\xA9", L"\u20AC caf\u00E9", CP_UTF8},
        {"UTF8", "\xC3\xA9", L"\u00E9", CP_UTF8},
        {"us-ascii", "plain", L"plain", 20127},
        {"us-ascii", "mislabelled caf\xC3\xA9", L"mislabelled caf\u00E9", 20127},
        {"US-ASCII", "mislabelled caf\xE9", L"mislabelled caf\u00E9", 20127},
        {"iso-8859-1", "caf\xE9 \x92", L"caf\u00E9 \u2019", 28591},
        {"\"ISO-8859-1\"", "\xE9", L"\u00E9", 28591},
        {"windows-1252", "\x80 \x93q\x94", L"\u20AC \u201Cq\u201D", 1252},
        {"cp1252", "\x80", L"\u20AC", 1252},
        {"iso-8859-2", "\xB9", L"\u0161", 28592},
        {"koi8-r", "\xC1", L"\u0430", 20866},
        {"utf-16", std::string("\xFF\xFE\x41\x00\xAC\x20", 6), L"A\u20AC", 1200},
        {"utf-16be", std::string("\x00\x41", 2), L"A", 1201},
        {"utf-8", "broken \xE9 utf-8", L"broken \u00E9 utf-8", CP_UTF8},
        {"x-unknown", "caf\xC3\xA9", L"caf\u00E9", 0},
        {"x-unknown", "caf\xE9", L"caf\u00E9", 0},
        {"", "", L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.charset) + ": " + c.bytes);
        EXPECT_EQ(c.text, CMimeCharset::ToWide(c.bytes, c.charset));
        EXPECT_EQ(c.declared, CMimeCharset::CodePageOf(c.charset));
    }
}

TEST(CMimeCharset, Utf8ValidityFollowsTheStandard)
{
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"ascii", true},
        {"\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},
        {"\xC3", false},          // truncated
        {"\xC0\xAF", false},      // overlong
        {"\xED\xA0\x80", false},  // surrogate
        {"\xF4\x90\x80\x80", false}, // past U+10FFFF
        {"\x80", false},          // stray continuation
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(c.valid, CMimeCharset::IsValidUtf8(c.bytes.data(), c.bytes.size()));
    }
}

} // namespace
