#include "SearchPlatform.h"
#include "RTFToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

using searchtest::Squeezed;
using searchtest::TextOf;

namespace {

// RTF stored as PR_RTF_COMPRESSED is, written through MAPI's own wrapper.
ComPtr<IStream> CompressedRtf(const std::string& rtf)
{
    ComPtr<IStream> stored = searchtest::EmptyStream();
    ComPtr<IStream> plain;
    EXPECT_EQ(S_OK, WrapCompressedRTFStream(stored.Get(), MAPI_MODIFY, &plain));
    ULONG written = 0;
    EXPECT_EQ(S_OK, plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written));
    EXPECT_EQ(S_OK, plain->Commit(STGC_DEFAULT));
    plain.Reset();
    LARGE_INTEGER zero{};
    stored->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stored;
}

std::wstring Convert(RTFToText& converter, const std::string& rtf)
{
    ComPtr<IStream> output = searchtest::EmptyStream();
    converter.Convert(CompressedRtf(rtf).Get(), output.Get());
    return TextOf(output.Get());
}

std::wstring FailureOf(RTFToText& converter, IStream* input, IStream* output)
{
    try {
        converter.Convert(input, output);
    } catch (const CException& error) {
        return error.GetText() ? error.GetText() : L"(null)";
    }
    return L"(no failure)";
}

class RTFToTextTest : public ::testing::Test {
protected:
    searchtest::CComScope m_com;
};

TEST_F(RTFToTextTest, RtfBodiesBecomeTheirText)
{
    struct Case {
        const char* name;
        const char* rtf;
        const wchar_t* text; // after squeezing whitespace
    } cases[] = {
        {"tab", R"({\rtf1\ansi\deff0 one\tab two\par})", L"one two"},
        {"tab kept as a tab", R"({\rtf1\ansi one\tab two})", nullptr},
        {"hex escape in the ANSI code page", R"({\rtf1\ansi\ansicpg1252 caf\'e9 cr\'e8me\par})", L"café crème"},
        {"unicode escape with fallback", R"({\rtf1\ansi\uc1 price \u8364? 5\par})", L"price € 5"},
        {"CJK through unicode escapes", R"({\rtf1\ansi\uc1 \u20013?\u25991? text\par})", L"中文 text"},
        {"CJK through a GB2312 font",
         R"({\rtf1\ansi\ansicpg936{\fonttbl{\f0\fnil\fcharset134 SimSun;}}\f0 \'d6\'d0\'ce\'c4\par})", L"中文"},
        {"paragraphs", R"({\rtf1\ansi first\par second\par third})", L"first second third"},
        {"table cells and rows",
         R"({\rtf1\ansi \trowd\cellx1000\cellx2000\pard\intbl A1\cell B1\cell\row )"
         R"(\trowd\cellx1000\cellx2000\pard\intbl A2\cell B2\cell\row\pard after\par})",
         L"A1 B1 A2 B2 after"},
        {"formatting and groups",
         R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red255\green0\blue0;}\f0\fs20 plain {\b bold} {\cf1 red}\par})",
         L"plain bold red"},
        {"escaped braces and backslash", R"({\rtf1\ansi a \{b\} c\\d\par})", L"a {b} c\\d"},
    };
    RTFToText converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring text = Convert(converter, c.rtf);
        if (c.text)
            EXPECT_EQ(c.text, Squeezed(text));
        else
            EXPECT_NE(std::wstring::npos, text.find(L"one\ttwo")) << "tab lost in: " << Squeezed(text);
        EXPECT_TRUE(text.empty() || text[0] != 0xFEFF) << "no byte-order mark";
    }
}

TEST_F(RTFToTextTest, TheFirstConversionStartsTheControlAndLaterOnesReuseIt)
{
    HWND window = nullptr;
    {
        RTFToText converter;
        EXPECT_EQ(nullptr, converter.Window());
        EXPECT_EQ(L"first", Squeezed(Convert(converter, R"({\rtf1\ansi first\par})")));
        window = converter.Window();
        ASSERT_NE(nullptr, window);
        EXPECT_NE(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr));
        // Each conversion replaces the control's content.
        EXPECT_EQ(L"second", Squeezed(Convert(converter, R"({\rtf1\ansi second\par})")));
        EXPECT_EQ(window, converter.Window());
        EXPECT_FALSE(IsWindowVisible(window));
    }
    EXPECT_FALSE(IsWindow(window)) << "the window goes with the converter";
}

// Emptying a control of many paragraphs is slow, so such a body is followed
// by a fresh control; it must be set up as the first one was and hold
// nothing of the body before it.
TEST_F(RTFToTextTest, ABodyOfManyParagraphsIsFollowedByAFreshControlWithNothingOfIt)
{
    std::string manyLines = R"({\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 )";
    for (int i = 0; i < 3000; ++i)
        manyLines += "line " + std::to_string(i) + " of a plain mail {\\b with} words\\par\n";
    manyLines += "}";
    std::string longLine = R"({\rtf1\ansi )";
    for (int i = 0; i < 8000; ++i)
        longLine += "word" + std::to_string(i) + " ";
    longLine += R"(\par end})";

    HWND used = nullptr;
    HWND fresh = nullptr;
    {
        RTFToText converter;
        const std::wstring many = Convert(converter, manyLines);
        EXPECT_NE(std::wstring::npos, many.find(L"line 2999 of a plain mail with words"));
        used = converter.Window();

        EXPECT_EQ(L"second", Squeezed(Convert(converter, R"({\rtf1\ansi second\par})")));
        fresh = converter.Window();
        ASSERT_NE(nullptr, fresh);
        EXPECT_NE(used, fresh);
        EXPECT_FALSE(IsWindow(used)) << "the used control is destroyed";
        EXPECT_NE(GetCurrentThreadId(), GetWindowThreadProcessId(fresh, nullptr));

        // The fresh control takes more than RichEdit's default limit, lays a
        // long paragraph out as one line, and a body after it replaces it.
        const std::wstring text = Convert(converter, longLine);
        const size_t lineEnd = text.find_first_of(L"\r\n");
        EXPECT_EQ(std::wstring::npos, text.find(L"second"));
        ASSERT_NE(std::wstring::npos, lineEnd);
        EXPECT_GT(lineEnd, 60000u) << "a soft line break or a cut text";
        EXPECT_NE(std::wstring::npos, text.find(L"word7999"));
        EXPECT_EQ(L"third", Squeezed(Convert(converter, R"({\rtf1\ansi third\par})")));
        EXPECT_EQ(fresh, converter.Window()) << "a body of one paragraph keeps its control";

        EXPECT_NE(std::wstring::npos, Convert(converter, manyLines).find(L"line 0 of a plain mail with words"));
        EXPECT_EQ(L"", Convert(converter, ""));
        EXPECT_EQ(L"fourth", Squeezed(Convert(converter, R"({\rtf1\ansi fourth\par})")));
        fresh = converter.Window();
    }
    EXPECT_FALSE(IsWindow(fresh)) << "the window in use goes with the converter";
}

TEST_F(RTFToTextTest, AnEmptyCompressedStreamGivesNoText)
{
    RTFToText converter;
    for (const char* before : {"", R"({\rtf1\ansi earlier body\par})"}) {
        SCOPED_TRACE(before);
        if (*before)
            Convert(converter, before);
        for (ComPtr<IStream> input : {searchtest::EmptyStream(), CompressedRtf("")}) {
            ComPtr<IStream> output = searchtest::EmptyStream();
            converter.Convert(input.Get(), output.Get());
            EXPECT_EQ(L"", TextOf(output.Get()));
        }
    }
}

TEST_F(RTFToTextTest, LongBodiesComeThroughWhole)
{
    std::string rtf = R"({\rtf1\ansi )";
    for (int i = 0; i < 12000; ++i)
        rtf += "word" + std::to_string(i) + " ";
    rtf += R"(\par last words})";
    RTFToText converter;
    const std::wstring text = Squeezed(Convert(converter, rtf));
    EXPECT_GT(text.size(), 100000u);
    EXPECT_NE(std::wstring::npos, text.find(L"word11999 last words"));
}

TEST_F(RTFToTextTest, FailuresCarryTheTextOfTheStepThatFailed)
{
    RTFToText converter;
    // A compressed header whose CRC does not match its data.
    std::string damaged = std::string("\x2d\x00\x00\x00\x2b\x00\x00\x00LZFu\x01\x02\x03\x04", 16) + "garbage data";
    ComPtr<IStream> output = searchtest::EmptyStream();
    EXPECT_EQ(0u, FailureOf(converter, searchtest::StreamOf(damaged).Get(), output.Get())
                      .find(L"writting rtf stream to rich edit control is failed with error="
                            L"cannot get input uncompressed rtf stream, hr="));

    EXPECT_EQ(L"writting plain text to output stream is failed with error="
              L"write to output plain text stream is failed, hr=80030070",
              FailureOf(converter, CompressedRtf(R"({\rtf1\ansi some text\par})").Get(),
                        searchtest::CFailingStream::Make(STG_E_MEDIUMFULL).Get()));

    EXPECT_EQ(L"incorrect output data stream",
              FailureOf(converter, CompressedRtf(R"({\rtf1\ansi x})").Get(), nullptr));

    // The converter goes on working after each failure.
    EXPECT_EQ(L"still fine", Squeezed(Convert(converter, R"({\rtf1\ansi still fine\par})")));
}

} // namespace

namespace {

// The text a RichEdit control with no settings but the text limit streams
// out: created as the converter's own, on this thread, fed the RTF as it is.
std::wstring PlainControlText(const std::string& rtf)
{
    struct Reader {
        const std::string* rtf;
        size_t position;
        static DWORD CALLBACK In(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
        {
            auto* reader = reinterpret_cast<Reader*>(cookie);
            const size_t n = std::min(reader->rtf->size() - reader->position, static_cast<size_t>(cb));
            std::memcpy(buffer, reader->rtf->data() + reader->position, n);
            reader->position += n;
            *pcb = static_cast<LONG>(n);
            return 0;
        }
        static DWORD CALLBACK Out(DWORD_PTR cookie, LPBYTE buffer, LONG cb, LONG* pcb)
        {
            reinterpret_cast<std::string*>(cookie)->append(reinterpret_cast<const char*>(buffer), cb);
            *pcb = cb;
            return 0;
        }
    };
    HMODULE richEdit = LoadLibraryW(L"Riched20.dll");
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"RichEdit20W", L"reference", WS_OVERLAPPEDWINDOW | ES_MULTILINE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(nullptr, window);
    SendMessageW(window, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    Reader reader{&rtf, 0};
    EDITSTREAM in{reinterpret_cast<DWORD_PTR>(&reader), 0, &Reader::In};
    SendMessageW(window, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&in));
    std::string bytes;
    EDITSTREAM out{reinterpret_cast<DWORD_PTR>(&bytes), 0, &Reader::Out};
    SendMessageW(window, EM_STREAMOUT, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&out));
    DestroyWindow(window);
    FreeLibrary(richEdit);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

std::string Repeated(const std::string& piece, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

// The control is set up to skip layout work nobody sees; the text it gives
// must stay exactly what a control without those settings gives, line ends
// and table cells included, and never pick up soft line breaks.
TEST_F(RTFToTextTest, TheTextIsExactlyWhatAPlainControlGives)
{
    const std::string longLine = Repeated("a long line that a window of any width would have to wrap ", 60);
    struct Case {
        const char* name;
        std::string rtf;
    } cases[] = {
        {"tabs", R"({\rtf1\ansi\deff0 one\tab two\tab\tab three\par})"},
        {"hex escapes", R"({\rtf1\ansi\ansicpg1252 caf\'e9 cr\'e8me br\'fbl\'e9e\par})"},
        {"unicode escapes", R"({\rtf1\ansi\uc1 price \u8364? 5, \u8220?quoted\u8221?\par})"},
        {"CJK", R"({\rtf1\ansi\ansicpg936{\fonttbl{\f0\fnil\fcharset134 SimSun;}}\f0 \'d6\'d0\'ce\'c4 and \u26085?\u26412?\par})"},
        {"right to left", R"({\rtf1\ansi\uc1 {\rtlch \u1575?\u1604?\u1593?\u1585?\u1576?\u1610?\u1577?} mixed \u1513?\u1500?\u1493?\u1501?\par})"},
        {"surrogate pair", R"({\rtf1\ansi\uc1 smile \u-10179?\u-8704? end\par})"},
        {"table",
         R"({\rtf1\ansi \trowd\cellx1000\cellx2000\pard\intbl A1\cell B1\cell\row )"
         R"(\trowd\cellx1000\cellx2000\pard\intbl A2\cell B2\cell\row\pard after\par})"},
        {"long line", R"({\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 )" + longLine + R"(\par next\par})"},
        {"long formatted paragraph",
         R"({\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 )" +
             Repeated(R"(plain words {\b bold words} {\i\ul emphasised} caf\'e9 )", 80) + R"(\par})"},
        {"line breaks and many paragraphs",
         R"({\rtf1\ansi first\line second\par\par )" + Repeated(R"(line of a plain mail\par )", 300) + "}"},
        {"hidden text and fields",
         R"({\rtf1\ansi shown {\v hidden} {\field{\*\fldinst HYPERLINK "http://example.com"}{\fldrslt link}} end\par})"},
        {"picture", R"({\rtf1\ansi before {\pict\pngblip\picw10\pich10 )" + Repeated("89504e470d0a1a0a", 200) +
                        R"(} after\par})"},
        {"encapsulated plain text",
         R"({\rtf1\ansi\ansicpg1252\fromtext \fbidis \deff0{\fonttbl{\f0\fswiss Arial;}})"
         R"({\*\generator Microsoft Exchange Server;}{\*\formatting plain text}\uc1\pard\plain\deftab360 \f0\fs20 )"
         R"(Hello,\par\par the figures:\tab 12\par Regards\par})"},
    };
    RTFToText converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring expected = PlainControlText(c.rtf);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(expected, Convert(converter, c.rtf));
    }
    // Twice in a row, and after a bigger body, the same text again.
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(PlainControlText(cases[0].rtf), Convert(converter, cases[0].rtf));
}

TEST_F(RTFToTextTest, ALongParagraphComesOutAsOneLine)
{
    const std::string line = Repeated("word ", 4000);
    RTFToText converter;
    const std::wstring text = Convert(converter, R"({\rtf1\ansi\deff0{\fonttbl{\f0 Arial;}}\f0\fs20 )" + line + R"(\par end})");
    const size_t lineEnd = text.find_first_of(L"\r\n");
    ASSERT_NE(std::wstring::npos, lineEnd);
    EXPECT_EQ(std::wstring(line.begin(), line.end()), text.substr(0, lineEnd)) << "a soft line break inside";
    EXPECT_EQ(L"end", text.substr(text.find_first_not_of(L"\r\n", lineEnd)));
}

} // namespace

namespace {

ULONG References(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

TEST_F(RTFToTextTest, TheInputStreamIsReleasedWhetherTheConversionWorksOrNot)
{
    RTFToText converter;
    ComPtr<IStream> good = CompressedRtf(R"({\rtf1\ansi text\par})");
    ComPtr<IStream> damaged = searchtest::StreamOf(std::string("\x10\x00\x00\x00\x00\x00\x00\x00LZFu\0\0\0\0", 16));
    ComPtr<IStream> empty = searchtest::EmptyStream();
    for (IStream* input : {good.Get(), damaged.Get(), empty.Get()}) {
        const ULONG before = References(input);
        ComPtr<IStream> output = searchtest::EmptyStream();
        FailureOf(converter, input, output.Get());
        EXPECT_EQ(before, References(input));
    }
}

} // namespace
