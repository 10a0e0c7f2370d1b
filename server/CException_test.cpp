#include "Platform.h"
#include "CException.h"
#include "ComErrors.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

namespace {

std::wstring TakeErrorDescription(GUID* guid = nullptr, std::wstring* source = nullptr)
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<no error object>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    if (guid)
        info->GetGUID(guid);
    if (source) {
        BSTR s = nullptr;
        info->GetSource(&s);
        *source = s ? s : L"";
        SysFreeString(s);
    }
    return description;
}

TEST(CException, StartsEmptyAndCopiesItsMessage)
{
    CException error;
    unsigned long code = 9, source = 9;
    long sourceCode = 9;
    error.GetCodes(&code, &source, &sourceCode);
    EXPECT_EQ(nullptr, error.GetMessage());
    EXPECT_EQ(0u, code);
    EXPECT_EQ(0u, source);
    EXPECT_EQ(0, sourceCode);

    error.SetMessage(L"row %d of %s", 42, L"Folders");
    error.SetCode(kErrNotFound);
    CException copy(error);
    error.SetMessage(L"changed");
    ASSERT_NE(nullptr, copy.GetMessage());
    EXPECT_STREQ(L"row 42 of Folders", copy.GetMessage());
    EXPECT_EQ(ErrorCodeToHResult(kErrNotFound), copy.GetHResult());

    CException nullCopy{CException()};
    EXPECT_EQ(nullptr, nullCopy.GetMessage());
}

TEST(CException, SourceErrorSetsTheCode)
{
    struct Case {
        unsigned long source;
        long sourceCode;
        unsigned long code;
    } cases[] = {
        {kSrcEse, -1305, kErrNotFound},
        {kSrcEse, -1032, kErrUnspecified},
        {kSrcHResult, -1305, kErrUnspecified}, // both numbers must match the row
        {kSrcEse, 0, kErrUnspecified},
    };
    for (const Case& c : cases) {
        CException error;
        EXPECT_EQ(c.code, error.SetSourceError(c.source, c.sourceCode)) << c.source << " " << c.sourceCode;
        unsigned long code = 99;
        error.GetCodes(&code, nullptr, nullptr);
        EXPECT_EQ(c.code, code);
    }
}

TEST(ErrorCodeToHResult, FollowsTheTable)
{
    struct Case {
        unsigned long code;
        HRESULT hr;
    } cases[] = {
        {0, E_FAIL},
        {1, static_cast<HRESULT>(0x80070002)},
        {2, static_cast<HRESULT>(0x80070002)},
        {3, E_FAIL},
        {4, E_FAIL},
        {5, static_cast<HRESULT>(0x8007000B)},
        {6, static_cast<HRESULT>(0x80070002)},
        {7, E_FAIL},
        {1234, E_FAIL},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.hr, ErrorCodeToHResult(c.code)) << c.code;
}

class ReportEseErrorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ReportEseErrorTest, DescriptionCarriesTheNumbersInHexThenTheText)
{
    ASSERT_EQ(S_OK, ReportEseError(IID_IUnknown, 4, 2, static_cast<long>(0x80004005),
                                   L"cannot create instance of the ese store class, database=%s", L"C:\\x.edb"));
    GUID guid = {};
    std::wstring source;
    EXPECT_EQ(L"4 2 80004005 cannot create instance of the ese store class, database=C:\\x.edb",
              TakeErrorDescription(&guid, &source));
    EXPECT_TRUE(IsEqualGUID(IID_IUnknown, guid));
    EXPECT_EQ(L"Morvane.Vostrel2007", source);
}

TEST_F(ReportEseErrorTest, ExceptionWithoutMessagePrintsTheNullText)
{
    CException error;
    error.SetCode(kErrForeignLog);
    ASSERT_EQ(S_OK, ReportException(IID_IUnknown, error));
    EXPECT_EQ(L"7 0 0 message=(null)", TakeErrorDescription());
    EXPECT_EQ(E_FAIL, error.GetHResult());
}

TEST_F(ReportEseErrorTest, ServeComCallTurnsTheExceptionIntoItsHResult)
{
    HRESULT hr = ServeComCall(IID_IUnknown, []() -> HRESULT { ThrowServerError(kErrColumnMissing, L"no %s", L"x"); });
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), hr);
    EXPECT_EQ(L"2 0 0 message=no x", TakeErrorDescription());

    // Other exceptions never leave the method either.
    hr = ServeComCall(IID_IUnknown, []() -> HRESULT { throw std::bad_alloc(); });
    EXPECT_EQ(E_OUTOFMEMORY, hr);
    EXPECT_EQ(L"0 2 8007000e out of memory", TakeErrorDescription());
    hr = ServeComCall(IID_IUnknown, []() -> HRESULT {
        std::vector<char> huge;
        huge.reserve(huge.max_size() + 1);
        return S_OK;
    });
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ(0u, TakeErrorDescription().rfind(L"0 0 0 ", 0));

    EXPECT_EQ(S_FALSE, ServeComCall(IID_IUnknown, [] { return S_FALSE; }));
    ComPtr<IErrorInfo> none;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &none)); // success sets no error object
}

} // namespace
