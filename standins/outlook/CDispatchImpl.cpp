#include "Platform.h"
#include "CDispatchImpl.h"

namespace olhost {

VARIANT CDispArgs::Optional(UINT index) const
{
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    // Named arguments (other than a put's value) are not served: positions only.
    UINT positional = m_params->cArgs - m_params->cNamedArgs;
    if (index >= positional)
        return missing;
    const VARIANT& arg = m_params->rgvarg[m_params->cArgs - 1 - index];
    if (arg.vt == (VT_VARIANT | VT_BYREF) && arg.pvarVal)
        return *arg.pvarVal;
    return arg;
}

HRESULT CDispArgs::Required(UINT index, VARTYPE vt, VARIANT* out) const
{
    VARIANT arg = Optional(index);
    if (arg.vt == VT_ERROR && arg.scode == DISP_E_PARAMNOTFOUND)
        return DISP_E_BADPARAMCOUNT;
    return FAILED(VariantChangeType(out, &arg, 0, vt)) ? DISP_E_TYPEMISMATCH : S_OK;
}

HRESULT CDispArgs::PutValue(VARTYPE vt, VARIANT* out) const
{
    for (UINT i = 0; i < m_params->cNamedArgs; ++i) {
        if (m_params->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT)
            return FAILED(VariantChangeType(out, &m_params->rgvarg[i], 0, vt)) ? DISP_E_TYPEMISMATCH : S_OK;
    }
    return DISP_E_PARAMNOTOPTIONAL;
}

void CDispArgs::SetResult(BSTR value)
{
    if (!m_result) {
        SysFreeString(value);
        return;
    }
    m_result->vt = VT_BSTR;
    m_result->bstrVal = value;
}

void CDispArgs::SetResult(VARIANT_BOOL value)
{
    if (!m_result)
        return;
    m_result->vt = VT_BOOL;
    m_result->boolVal = value;
}

void CDispArgs::SetResult(long value)
{
    if (!m_result)
        return;
    m_result->vt = VT_I4;
    m_result->lVal = value;
}

void CDispArgs::SetResult(IUnknown* value, bool isDispatch)
{
    if (!m_result) {
        if (value)
            value->Release();
        return;
    }
    if (isDispatch) {
        m_result->vt = VT_DISPATCH;
        m_result->pdispVal = static_cast<IDispatch*>(value);
    } else {
        m_result->vt = VT_UNKNOWN;
        m_result->punkVal = value;
    }
}

} // namespace olhost
