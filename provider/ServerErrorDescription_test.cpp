#include "ProviderPlatform.h"
#include "ServerErrorDescription.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ServerErrorDescription, ThreeHexNumbersThenTheWholeMessage)
{
    struct Case {
        const wchar_t* description;
        bool parsed;
        ULONG code, source, sourceCode;
        const wchar_t* text;
    };
    const Case cases[] = {
        {L"80040119 3 fffffdf5 Database is in use by   another process", true, 0x80040119, 3, 0xfffffdf5,
         L"Database is in use by   another process"},
        {L"8007000e 2 8007000e x", true, 0x8007000e, 2, 0x8007000e, L"x"},
        {L"1 2 3 ", true, 1, 2, 3, L""},           // an empty message after the third blank
        {L"1 2 3", false, 0, 0, 0, nullptr},       // nothing after the third number
        {L"zz 2 3 message", false, 0, 0, 0, nullptr}, // first item not a number
        {L"1 2 message text", false, 0, 0, 0, nullptr}, // only two numbers
        {L"", false, 0, 0, 0, nullptr},
        {nullptr, false, 0, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        ULONG code = 0xAAAA, source = 0xAAAA, sourceCode = 0xAAAA;
        std::wstring text = L"unchanged";
        EXPECT_EQ(c.parsed, ParseServerErrorDescription(c.description, code, source, sourceCode, text))
            << (c.description ? c.description : L"(null)");
        if (c.parsed) {
            EXPECT_EQ(c.code, code);
            EXPECT_EQ(c.source, source);
            EXPECT_EQ(c.sourceCode, sourceCode);
            EXPECT_EQ(c.text, text);
        } else {
            EXPECT_EQ(L"unchanged", text);
        }
    }
}

TEST(ServerErrorDescription, ReadsTheDescriptionOfACaughtComError)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(S_OK, CreateErrorInfo(&create));
    create->SetDescription(const_cast<LPOLESTR>(L"80040119 3 fffffb4a Log file is corrupt"));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    const _com_error error(MAPI_E_EXTENDED_ERROR, info);

    ULONG code = 0, source = 0, sourceCode = 0;
    std::wstring text;
    ASSERT_TRUE(ParseServerErrorDescription(error, code, source, sourceCode, text));
    EXPECT_EQ(0x80040119u, code);
    EXPECT_EQ(3u, source);
    EXPECT_EQ(0xfffffb4au, sourceCode);
    EXPECT_EQ(L"Log file is corrupt", text);

    // No error information: no description to read.
    EXPECT_FALSE(ParseServerErrorDescription(_com_error(E_FAIL), code, source, sourceCode, text));
}

} // namespace
