#include "Platform.h"
#include "esedb/CFailedJbApiCallException.h"
#include "ComErrors.h"

#include <gtest/gtest.h>

#include <string>

using NJbFramework::CFailedJbApiCallException;
using NJbFramework::CheckJbResult;

namespace {

TEST(CheckJbResult, WarningsAndSuccessPass)
{
    for (long result : {0L, 1L, 1004L, 1006L})
        EXPECT_NO_THROW(CheckJbResult(NJbFramework::kJetRetrieveColumn, result)) << result;
}

TEST(CheckJbResult, FailureCarriesErrorFunctionAndCodes)
{
    struct Case {
        int function;
        long error;
        unsigned long code;
        const wchar_t* message;
        const wchar_t* descriptionStart;
    } cases[] = {
        {NJbFramework::kJetOpenTable, -1305, 1,
         L"ESE API function=JetOpenTable was failed with error code=-1305", L"1 3 fffffae7 message="},
        {NJbFramework::kJetSeek, -1032, 0, L"ESE API function=JetSeek was failed with error code=-1032",
         L"0 3 fffffbf8 message="},
        {99, -1601, 0, L"ESE API function=UnknownJbApiFunction was failed with error code=-1601",
         L"0 3 fffff9bf message="},
    };
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    for (const Case& c : cases) {
        try {
            CheckJbResult(c.function, c.error);
            ADD_FAILURE() << "no exception for " << c.error;
        } catch (CException& error) {
            auto* failed = dynamic_cast<CFailedJbApiCallException*>(&error);
            ASSERT_NE(nullptr, failed);
            EXPECT_EQ(c.error, failed->GetEseError());
            EXPECT_EQ(c.function, failed->GetFunctionIndex());
            unsigned long code = 99, source = 99;
            long sourceCode = 0;
            error.GetCodes(&code, &source, &sourceCode);
            EXPECT_EQ(c.code, code);
            EXPECT_EQ(3u, source);
            EXPECT_EQ(c.error, sourceCode);
            EXPECT_STREQ(c.message, error.GetMessage());
            EXPECT_EQ(c.code == 1 ? static_cast<HRESULT>(0x80070002) : E_FAIL, error.GetHResult());

            ASSERT_EQ(S_OK, ReportException(IID_IUnknown, error));
            ComPtr<IErrorInfo> info;
            ASSERT_EQ(S_OK, GetErrorInfo(0, &info));
            BSTR description = nullptr;
            info->GetDescription(&description);
            EXPECT_EQ(std::wstring(c.descriptionStart) + c.message, std::wstring(description));
            SysFreeString(description);
        }
    }
    CoUninitialize();
}

TEST(EseFunctionName, NamesEveryIndexAndFallsBack)
{
    EXPECT_STREQ("JetCreateInstance", NJbFramework::EseFunctionName(0));
    EXPECT_STREQ("JetSeek", NJbFramework::EseFunctionName(36));
    EXPECT_STREQ("JetGetTableColumnInfo", NJbFramework::EseFunctionName(33));
    EXPECT_STREQ("UnknownJbApiFunction", NJbFramework::EseFunctionName(37));
    EXPECT_STREQ("UnknownJbApiFunction", NJbFramework::EseFunctionName(-1));
    EXPECT_STREQ("UnknownJbApiFunction", NJbFramework::EseFunctionName(1000));
}

} // namespace
