#pragma once
// Reading the optional VARIANT arguments of automation methods: a missing
// argument comes as VT_ERROR with DISP_E_PARAMNOTFOUND (or VT_EMPTY from
// callers that leave it empty); a present one is converted as the method's
// documented type.
#include "Platform.h"

#include <string>

namespace olhost {

inline bool IsMissing(const VARIANT& v)
{
    return v.vt == VT_EMPTY || (v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND);
}

inline HRESULT VariantToLong(const VARIANT& v, long* out)
{
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&v), 0, VT_I4);
    if (FAILED(hr))
        return E_INVALIDARG;
    *out = converted.lVal;
    return S_OK;
}

inline HRESULT VariantToBool(const VARIANT& v, bool* out)
{
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&v), 0, VT_BOOL);
    if (FAILED(hr))
        return E_INVALIDARG;
    *out = converted.boolVal != VARIANT_FALSE;
    return S_OK;
}

inline HRESULT VariantToString(const VARIANT& v, std::wstring* out)
{
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(&v), 0, VT_BSTR);
    if (FAILED(hr))
        return E_INVALIDARG;
    out->assign(converted.bstrVal ? converted.bstrVal : L"", SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    return S_OK;
}

// Whether v names an item by its text rather than by its 1-based index.
inline bool IsTextIndex(const VARIANT& v)
{
    VARTYPE vt = v.vt & ~VT_BYREF;
    return vt == VT_BSTR;
}

inline HRESULT CopyText(const std::wstring& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

inline VARIANT_BOOL ToVariantBool(bool value)
{
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

} // namespace olhost
