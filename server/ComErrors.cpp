#include "Platform.h"
#include "ComErrors.h"

#include <memory>

const wchar_t kErrorSourceName[] = L"Morvane.Vostrel2007";

namespace {

wchar_t* FormatAlloc(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    wchar_t* text = FormatAllocV(format, args);
    va_end(args);
    return text;
}

} // namespace

HRESULT ReportEseError(REFIID iid, unsigned long code, unsigned long source, long sourceCode,
                       const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::unique_ptr<wchar_t[]> text(FormatAllocV(format, args));
    va_end(args);
    std::unique_ptr<wchar_t[]> description(
        FormatAlloc(L"%x %x %x %s", code, source, static_cast<unsigned long>(sourceCode), text.get()));

    ComPtr<ICreateErrorInfo> create;
    HRESULT hr = CreateErrorInfo(&create);
    if (SUCCEEDED(hr))
        hr = create->SetGUID(iid);
    if (SUCCEEDED(hr))
        hr = create->SetDescription(description.get());
    if (SUCCEEDED(hr))
        hr = create->SetSource(const_cast<wchar_t*>(kErrorSourceName));
    ComPtr<IErrorInfo> errorInfo;
    if (SUCCEEDED(hr))
        hr = create.As(&errorInfo);
    if (SUCCEEDED(hr))
        hr = SetErrorInfo(0, errorInfo.Get());
    return hr;
}

HRESULT ReportException(REFIID iid, const CException& error)
{
    unsigned long code = 0, source = 0;
    long sourceCode = 0;
    error.GetCodes(&code, &source, &sourceCode);
    return ReportEseError(iid, code, source, sourceCode, L"message=%s", error.GetMessage());
}
