#include "ProviderPlatform.h"
#include "PropAnswers.h"
#include "MapiStrings.h"

#include <cstring>

HRESULT CheckGetPropsArguments(const SPropTagArray* tags, ULONG* lpcValues, LPSPropValue* lppPropArray)
{
    if (!lpcValues || !lppPropArray)
        return E_INVALIDARG;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    if (!tags || tags->cValues == 0)
        return MAPI_E_NO_SUPPORT;
    return S_OK;
}

void SetErrorValue(SPropValue& value, ULONG tag, SCODE error)
{
    value.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    value.dwAlignPad = 0;
    std::memset(&value.Value, 0, sizeof(value.Value));
    value.Value.err = error;
}

HRESULT ErrorsReturned(const SPropValue* values, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR)
            return MAPI_W_ERRORS_RETURNED;
    return S_OK;
}

HRESULT FillBinary(SPropValue& value, LPVOID parent, const void* bytes, ULONG cb)
{
    LPVOID copy = nullptr;
    HRESULT hr = ProviderAllocateMore(cb ? cb : 1, parent, &copy);
    if (FAILED(hr))
        return hr;
    if (cb)
        std::memcpy(copy, bytes, cb);
    value.Value.bin.cb = cb;
    value.Value.bin.lpb = static_cast<LPBYTE>(copy);
    return S_OK;
}

HRESULT FillString(SPropValue& value, LPVOID parent, const wchar_t* text)
{
    return MapiDupString(text ? text : L"", parent, &value.Value.lpszW);
}
