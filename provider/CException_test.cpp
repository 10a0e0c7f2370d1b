#include "ProviderPlatform.h"
#include "CException.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProviderException, FormatReplacesTheMessageAndCopiesAreIndependent)
{
    CException error;
    EXPECT_EQ(nullptr, error.GetText());

    const int result = error.Format(L"Error in file: %s, line: %d, code:0x%08X", L"x.cpp", 12, 0x80004005u);
    EXPECT_STREQ(L"Error in file: x.cpp, line: 12, code:0x80004005", error.GetText());
    EXPECT_EQ(static_cast<int>(wcslen(error.GetText())), result);

    CException copy(error);
    EXPECT_NE(error.GetText(), copy.GetText());
    EXPECT_STREQ(error.GetText(), copy.GetText());

    // An empty result still replaces the message.
    EXPECT_EQ(0, error.Format(L""));
    ASSERT_NE(nullptr, error.GetText());
    EXPECT_STREQ(L"", error.GetText());
    EXPECT_STREQ(L"Error in file: x.cpp, line: 12, code:0x80004005", copy.GetText());

    const CException blank;
    const CException blankCopy(blank);
    EXPECT_EQ(nullptr, blankCopy.GetText());
}

TEST(ProviderException, ThrownByValueAndCaughtByType)
{
    try {
        CException error;
        error.Format(L"%S failed", "Convert");
        throw error;
    } catch (const CException& caught) {
        EXPECT_STREQ(L"Convert failed", caught.GetText());
        return;
    }
    ADD_FAILURE() << "not caught";
}

} // namespace
