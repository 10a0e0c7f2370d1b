#include "SearchPlatform.h"
#include "RTFToText.h"

#include "CException.h"
#include "testing/SearchTestSupport.h"

#include <gtest/gtest.h>

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
