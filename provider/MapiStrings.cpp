#include "ProviderPlatform.h"
#include "MapiStrings.h"
#include "ProviderMemory.h"

#include <cstring>
#include <cwchar>

HRESULT MapiDupString(const wchar_t* text, LPVOID parent, LPWSTR* out)
{
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (!text)
        return S_OK;
    const size_t units = wcslen(text) + 1;
    LPVOID copy = nullptr;
    const HRESULT hr = ProviderAllocateMore(static_cast<ULONG>(units * sizeof(wchar_t)), parent, &copy);
    if (FAILED(hr))
        return hr;
    std::memcpy(copy, text, units * sizeof(wchar_t));
    *out = static_cast<LPWSTR>(copy);
    return S_OK;
}
