#include "Platform.h"
#include "CMimeParser.h"
#include "CContentField.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

std::unique_ptr<CMimePart> ParseText(const std::string& text)
{
    return CMimeParser::Parse(std::make_shared<const std::string>(text));
}

std::string BodyOf(const CMimePart& part)
{
    return std::string(part.Body(), part.bodySize);
}

// The tree as text: "type[child,child]" with leaf bodies in quotes.
std::string Shape(const CMimePart& part)
{
    std::string shape = part.contentType;
    if (part.children.empty())
        return shape + "'" + BodyOf(part) + "'";
    shape += "[";
    for (size_t i = 0; i < part.children.size(); ++i)
        shape += (i ? "," : "") + Shape(*part.children[i]);
    return shape + "]" + (part.truncated ? "!" : "");
}

TEST(CContentField, ParametersParse)
{
    struct Case {
        const char* name;
        const char* raw;
        const char* value;
        const char* parameter;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"token", "text/plain; charset=us-ascii", "text/plain", "charset", "us-ascii", L"us-ascii"},
        {"quoted with escapes", "attachment; filename=\"a \\\"b\\\".txt\"", "attachment", "filename", "a \"b\".txt",
         L"a \"b\".txt"},
        {"case of names and value", "Text/HTML; CHARSET=UTF-8", "text/html", "charset", "UTF-8", L"UTF-8"},
        {"comments in the value", "text/plain (plain text) ; format=flowed", "text/plain", "format", "flowed",
         L"flowed"},
        {"unquoted with blanks", "application/octet-stream; name=my file.bin", "application/octet-stream", "name",
         "my file.bin", L"my file.bin"},
        {"RFC 2231 charset", "attachment; filename*=iso-8859-1'fr'caf%E9.txt", "attachment", "filename", "caf\xE9.txt",
         L"caf\u00E9.txt"},
        {"RFC 2231 continuations", "attachment; filename*1*=%C3%A9.txt; filename*0*=utf-8''caf", "attachment",
         "filename", "caf\xC3\xA9.txt", L"caf\u00E9.txt"},
        {"plain continuations", "message/external-body; url*0=\"ftp://\"; url*1=\"x/y\"", "message/external-body",
         "url", "ftp://x/y", L"ftp://x/y"},
        {"RFC 2231 wins over plain", "attachment; filename=old.txt; filename*=utf-8''new.txt", "attachment",
         "filename", "new.txt", L"new.txt"},
        {"RFC 2047 in a plain value", "image/png; name=\"=?utf-8?Q?=C3=A9.png?=\"", "image/png", "name",
         "=?utf-8?Q?=C3=A9.png?=", L"\u00E9.png"},
        {"unterminated quote", "text/plain; charset=\"utf-8", "text/plain", "charset", "utf-8", L"utf-8"},
        {"missing value", "text/plain; charset", "text/plain", "charset", "", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CContentField field = CContentField::Parse(c.raw);
        EXPECT_EQ(c.value, field.Value());
        EXPECT_EQ(c.bytes, field.Raw(c.parameter));
        EXPECT_EQ(c.text, field.Text(c.parameter));
    }
}

TEST(CMimeParser, HeaderBlocksReadLeniently)
{
    auto part = ParseText("From someone@example.com Mon Jan  1 00:00:00 2001\n"
                          "Subject: first\r\n"
                          "  continued\r\n"
                          "X-Empty:\r\n"
                          "To : a@example.com\r\n"
                          "\r\n"
                          "body\r\n");
    EXPECT_EQ("first  continued", *part->headers.Find("subject"));
    EXPECT_EQ("", *part->headers.Find("X-Empty"));
    EXPECT_EQ("a@example.com", *part->headers.Find("TO"));
    EXPECT_EQ(nullptr, part->headers.Find("From"));
    EXPECT_EQ("body\r\n", BodyOf(*part));
    EXPECT_EQ("Subject: first\r\n  continued\r\nX-Empty:\r\nTo : a@example.com\r\n\r\n", part->HeaderBlock());
    EXPECT_EQ("text/plain", part->contentType);

    // A line that is no header field starts the body.
    part = ParseText("Subject: x\nthis is body text\nmore\n");
    EXPECT_EQ("this is body text\nmore\n", BodyOf(*part));
    // Headers only.
    part = ParseText("Subject: only");
    EXPECT_EQ("only", *part->headers.Find("Subject"));
    EXPECT_EQ(0u, part->bodySize);
    // Every field of a name is kept in order.
    part = ParseText("Received: a\nReceived: b\n\n");
    ASSERT_EQ(2u, part->headers.FindAll("received").size());
    EXPECT_EQ("b", *part->headers.FindAll("received")[1]);
}

TEST(CMimeParser, TreesTakeTheShapeOfTheirDelimiters)
{
    struct Case {
        const char* name;
        std::string text;
        std::string shape;
    } cases[] = {
        {"mixed with preamble and epilogue",
         "Content-Type: multipart/mixed; boundary=XX\n\npreamble\n--XX\n\none\n--XX\nContent-Type: text/html\n\n"
         "<b>two</b>\n--XX--\nepilogue\n",
         "multipart/mixed[text/plain'one',text/html'<b>two</b>']"},
        {"CRLF line ends and blanks after delimiters",
         "Content-Type: multipart/alternative; boundary=\"b 1\"\r\n\r\n--b 1  \r\n\r\nA\r\n\r\n--b 1\r\n\r\nB\r\n--b 1-- \r\n",
         "multipart/alternative[text/plain'A\r\n',text/plain'B']"},
        {"nested multiparts",
         "Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/alternative; boundary=i\n\n"
         "--i\n\nplain\n--i\nContent-Type: text/html\n\nhtml\n--i--\n--o\nContent-Type: image/png\n\nPNG\n--o--\n",
         "multipart/mixed[multipart/alternative[text/plain'plain',text/html'html'],image/png'PNG']"},
        {"boundary prefix lines are content",
         "Content-Type: multipart/mixed; boundary=ab\n\n--ab\n\n--abc\n--ab x\n--ab--\n",
         "multipart/mixed[text/plain'--abc\n--ab x']"},
        {"missing closing delimiter",
         "Content-Type: multipart/mixed; boundary=ab\n\n--ab\n\nfirst\n--ab\n\nlast, cut",
         "multipart/mixed[text/plain'first',text/plain'last, cut']!"},
        {"no delimiter at all: the body is text",
         "Content-Type: multipart/mixed; boundary=ab\n\njust text\n", "text/plain'just text\n'"},
        {"no boundary parameter: the body is text", "Content-Type: multipart/mixed\n\njust text\n",
         "text/plain'just text\n'"},
        {"empty part", "Content-Type: multipart/mixed; boundary=ab\n\n--ab\n--ab--\n",
         "multipart/mixed[text/plain'']"},
        {"digest parts default to messages",
         "Content-Type: multipart/digest; boundary=d\n\n--d\n\nSubject: inner\n\nhi\n--d--\n",
         "multipart/digest[message/rfc822[text/plain'hi']]"},
        {"enclosed message", "Content-Type: message/rfc822\n\nSubject: inner\n\ninner body\n",
         "message/rfc822[text/plain'inner body\n']"},
        {"base64 enclosed message", "Content-Type: message/rfc822\nContent-Transfer-Encoding: base64\n\n"
                                    "U3ViamVjdDogaW5uZXIKCmhp\n",
         "message/rfc822[text/plain'hi']"},
        {"nested multipart sharing its parent's boundary",
         "Content-Type: multipart/mixed; boundary=S\n\n--S\nContent-Type: multipart/alternative; boundary=S\n\n\n"
         "--S\n\nplain\n--S\nContent-Type: text/html\n\nhtml\n--S--\n\n--S\nContent-Type: image/gif\n\nGIF\n--S--\n",
         "multipart/mixed[multipart/alternative[text/plain'plain',text/html'html'],image/gif'GIF']"},
        {"invalid content type is text", "Content-Type: text\n\nx", "text/plain'x'"},
        {"garbage without headers", "\x01\x02 no colon\n\nrest", "text/plain'\x01\x02 no colon\n\nrest'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.shape, Shape(*ParseText(c.text)));
    }
}

TEST(CMimeParser, LimitsKeepWhatTheyCut)
{
    // Nesting past the limit: the innermost multipart kept as opaque data.
    std::string deep;
    const size_t levels = CMimeParser::kMaxDepth + 8;
    for (size_t i = 0; i < levels; ++i)
        deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\n\n--b" + std::to_string(i) + "\n";
    deep += "\ninnermost\n";
    auto part = ParseText(deep);
    size_t depth = 0;
    const CMimePart* at = part.get();
    while (!at->children.empty()) {
        at = at->children.front().get();
        ++depth;
    }
    EXPECT_EQ(CMimeParser::kMaxDepth, depth);
    EXPECT_EQ("application/octet-stream", at->contentType);
    EXPECT_TRUE(at->truncated);
    EXPECT_NE(std::string::npos, BodyOf(*at).find("innermost"));

    // More parts than the limit.
    std::string many = "Content-Type: multipart/mixed; boundary=m\n\n";
    for (size_t i = 0; i < CMimeParser::kMaxParts + 10; ++i)
        many += "--m\n\nx\n";
    many += "--m--\n";
    part = ParseText(many);
    EXPECT_TRUE(part->truncated);
    EXPECT_EQ(CMimeParser::kMaxParts - 1, part->children.size());
}

} // namespace
