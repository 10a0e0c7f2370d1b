#pragma once
// The argument values an automation client passes and takes back: a missing
// optional argument, numbers, booleans and texts as VARIANTs and BSTRs.
#include <windows.h>
#include <oleauto.h>

#include <string>

namespace olhosttest {

inline LPTSTR W(const wchar_t* text)
{
    return reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(text));
}

inline VARIANT Missing()
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

inline VARIANT Long(long value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

inline VARIANT Bool(bool value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// A VARIANT holding a BSTR it owns.
class CText {
public:
    explicit CText(const wchar_t* text)
    {
        VariantInit(&m_value);
        m_value.vt = VT_BSTR;
        m_value.bstrVal = SysAllocString(text);
    }
    ~CText() { VariantClear(&m_value); }
    CText(const CText&) = delete;
    CText& operator=(const CText&) = delete;
    const VARIANT& Value() const { return m_value; }
    BSTR Bstr() const { return m_value.bstrVal; }

private:
    VARIANT m_value;
};

// The text of a BSTR the caller was handed, which it frees.
inline std::wstring Take(BSTR text)
{
    std::wstring value(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return value;
}

} // namespace olhosttest
