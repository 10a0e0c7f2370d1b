#include "ProviderPlatform.h"
#include "CLastError.h"
#include "MapiStrings.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"
#include "ResourceStrings.h"

#include <cstring>
#include <cwchar>

namespace {

const wchar_t kComErrorDetail[] =
    L"\r\n \t%x\r\n \tfunction=%S\r\n \tmessage=%s\r\n \tsource=%s\r\n \tdescription=%s\r\n";

// What the C runtime prints for a null string argument, kept so that an
// absent source or description reads the same in every build.
const wchar_t kNullText[] = L"(null)";

} // namespace

CLastError::CLastError() = default;
CLastError::~CLastError() = default;

void CLastError::SetText(const wchar_t* text)
{
    if (!text) {
        m_text.reset();
        return;
    }
    const size_t units = wcslen(text) + 1;
    std::unique_ptr<wchar_t[]> copy(new wchar_t[units]);
    std::memcpy(copy.get(), text, units * sizeof(wchar_t));
    m_text = std::move(copy);
    WriteLogLine(m_logPath, m_text.get());
}

void CLastError::SetFromComError(const char* functionName, const _com_error& error)
{
    const _bstr_t source = error.Source();
    const _bstr_t description = error.Description();
    const wchar_t* sourceText = static_cast<const wchar_t*>(source);
    const wchar_t* descriptionText = static_cast<const wchar_t*>(description);
    const wchar_t* message = error.ErrorMessage();

    std::wstring detail;
    FormatWide(detail, kComErrorDetail, static_cast<unsigned>(error.Error()), functionName ? functionName : "",
               message ? message : kNullText, sourceText ? sourceText : kNullText,
               descriptionText ? descriptionText : kNullText);

    // The frame comes from a resource library that may be translated: its
    // "%s" is replaced as text, so no other '%' in it is taken for a format.
    std::wstring text = LoadResString(kIdsUnexpectedError);
    const size_t slot = text.find(L"%s");
    if (slot == std::wstring::npos)
        text += detail;
    else
        text.replace(slot, 2, detail);
    SetText(text.c_str());
}

HRESULT CLastError::GetMapiError(ULONG ulFlags, LPMAPIERROR* lppMAPIError) const
{
    if (!(ulFlags & MAPI_UNICODE))
        return MAPI_E_BAD_CHARWIDTH;
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    LPVOID block = nullptr;
    HRESULT hr = ProviderAllocateBuffer(sizeof(MAPIERROR), &block);
    if (FAILED(hr))
        return hr;
    auto* result = static_cast<LPMAPIERROR>(block);
    std::memset(result, 0, sizeof(MAPIERROR));
    LPWSTR errorText = nullptr;
    LPWSTR component = nullptr;
    hr = MapiDupString(m_text.get(), result, &errorText);
    if (SUCCEEDED(hr))
        hr = MapiDupString(LoadResString(kIdsComponentName).c_str(), result, &component);
    if (FAILED(hr)) {
        ProviderFreeBuffer(result);
        return hr;
    }
    result->ulVersion = 0;
    result->lpszError = reinterpret_cast<LPTSTR>(errorText);
    result->lpszComponent = reinterpret_cast<LPTSTR>(component);
    *lppMAPIError = result;
    return S_OK;
}
