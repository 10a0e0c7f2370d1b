#include "ProviderPlatform.h"
#include "CLastError.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using providertest::CScratchDir;
using providertest::FileExists;
using providertest::ReadLogLines;
using providertest::SplitLogLine;

_com_error ComErrorWith(HRESULT hr, const wchar_t* source, const wchar_t* description)
{
    if (!source && !description)
        return _com_error(hr);
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create)))
        return _com_error(hr);
    if (source)
        create->SetSource(const_cast<LPOLESTR>(source));
    if (description)
        create->SetDescription(const_cast<LPOLESTR>(description));
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    return _com_error(hr, info); // takes the reference
}

std::wstring LoggedText(const std::wstring& path, size_t index)
{
    std::vector<std::wstring> lines = ReadLogLines(path);
    std::wstring stamp, thread, text;
    if (index >= lines.size() || !SplitLogLine(lines[index], stamp, thread, text))
        return L"<no line>";
    return text;
}

TEST(LastError, SetTextKeepsACopyAndLogsOnlyRealText)
{
    CScratchDir dir;
    CLastError holder;
    holder.LogPath() = dir.File(L"KOLWEN32.log");

    holder.SetText(nullptr);
    EXPECT_EQ(nullptr, holder.Text());
    EXPECT_FALSE(FileExists(holder.LogPath()));

    std::wstring text = L"Cannot open the table";
    holder.SetText(text.c_str());
    text[0] = L'X';
    EXPECT_STREQ(L"Cannot open the table", holder.Text());
    EXPECT_EQ(L"Cannot open the table", LoggedText(holder.LogPath(), 0));

    holder.SetText(nullptr);
    EXPECT_EQ(nullptr, holder.Text());
    EXPECT_EQ(1u, ReadLogLines(holder.LogPath()).size());
}

TEST(LastError, ComErrorTextCarriesEveryDetailInsideTheFrame)
{
    CScratchDir dir;
    CLastError holder;
    holder.LogPath() = dir.File(L"KOLWEN32.log");

    struct Case {
        const wchar_t* source;
        const wchar_t* description;
        const wchar_t* sourceText;
        const wchar_t* descriptionText;
    };
    const Case cases[] = {
        {L"Vostrel2003.EseStore", L"80040119 3 fffffdf5 Database is in use", L"Vostrel2003.EseStore",
         L"80040119 3 fffffdf5 Database is in use"},
        {nullptr, nullptr, L"(null)", L"(null)"}, // no error information at all
        {L"100% sure", L"%s %d %n", L"100% sure", L"%s %d %n"}, // texts are never taken for formats
    };
    for (const Case& c : cases) {
        const _com_error error = ComErrorWith(MAPI_E_CALL_FAILED, c.source, c.description);
        holder.SetFromComError("GetUIErrorMessage", error);
        const std::wstring expected =
            std::wstring(L"Unexpected error. Please consult with <VendorShortName> Technical Support.") +
            L"\r\n \t80004005\r\n \tfunction=GetUIErrorMessage\r\n \tmessage=" + error.ErrorMessage() +
            L"\r\n \tsource=" + c.sourceText + L"\r\n \tdescription=" + c.descriptionText + L"\r\n";
        ASSERT_NE(nullptr, holder.Text());
        EXPECT_EQ(expected, holder.Text());
    }
    // Each record is one log line whose text starts the same way; the line
    // breaks inside the detail are the detail's own.
    const std::vector<std::wstring> lines = ReadLogLines(holder.LogPath());
    std::wstring stamp, thread, text;
    ASSERT_FALSE(lines.empty());
    ASSERT_TRUE(SplitLogLine(lines[0], stamp, thread, text));
    EXPECT_EQ(L"Unexpected error. Please consult with <VendorShortName> Technical Support.", text);
}

TEST(LastError, MapiErrorIsUnicodeOnlyAndCarriesTextAndComponent)
{
    CLastError holder;
    LPMAPIERROR untouched = reinterpret_cast<LPMAPIERROR>(1);
    EXPECT_EQ(MAPI_E_BAD_CHARWIDTH, holder.GetMapiError(0, &untouched));
    EXPECT_EQ(reinterpret_cast<LPMAPIERROR>(1), untouched);

    LPMAPIERROR error = nullptr;
    ASSERT_EQ(S_OK, holder.GetMapiError(MAPI_UNICODE, &error));
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(0u, error->ulVersion);
    EXPECT_EQ(nullptr, error->lpszError);
    EXPECT_STREQ(L"<VendorShortName> Mail Archive", reinterpret_cast<LPWSTR>(error->lpszComponent));
    EXPECT_EQ(0u, error->ulLowLevelError);
    EXPECT_EQ(0u, error->ulContext);
    MAPIFreeBuffer(error);

    CScratchDir dir;
    holder.LogPath() = dir.File(L"KOLWEN32.log");
    holder.SetText(L"The folder is gone");
    error = nullptr;
    ASSERT_EQ(S_OK, holder.GetMapiError(MAPI_UNICODE, &error));
    EXPECT_STREQ(L"The folder is gone", reinterpret_cast<LPWSTR>(error->lpszError));
    EXPECT_NE(holder.Text(), reinterpret_cast<LPWSTR>(error->lpszError));
    MAPIFreeBuffer(error);
}

} // namespace
