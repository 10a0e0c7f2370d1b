#include "MapiSubsystem.h"
#include "CToyMessage.h"

#include <cstring>

namespace {

constexpr ULONG kLargest = 4096;

bool TooLarge(const SPropValue& value)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_BINARY: return value.Value.bin.cb > kLargest;
    case PT_UNICODE: return wcslen(value.Value.lpszW) * sizeof(WCHAR) > kLargest;
    case PT_STRING8: return strlen(value.Value.lpszA) > kLargest;
    default: return false;
    }
}

} // namespace

HRESULT CToyMessage::Create(IMessage* inner, IMAPISupport* support, IMessage** out)
{
    return CreateInstance(IID_IMessage, reinterpret_cast<void**>(out), inner, support);
}

STDMETHODIMP CToyMessage::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}
STDMETHODIMP CToyMessage::SaveChanges(ULONG) { return E_ACCESSDENIED; }

STDMETHODIMP CToyMessage::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                   LPSPropValue* lppPropArray)
{
    HRESULT hr = m_inner->GetProps(lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    if (FAILED(hr))
        return hr;
    for (ULONG i = 0; i < *lpcValues; ++i) {
        SPropValue& value = (*lppPropArray)[i];
        if (TooLarge(value)) {
            value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(value.ulPropTag));
            value.Value.err = E_OUTOFMEMORY;
            hr = MAPI_W_ERRORS_RETURNED;
        }
    }
    return hr;
}

STDMETHODIMP CToyMessage::GetPropList(ULONG f, LPSPropTagArray* t) { return m_inner->GetPropList(f, t); }
STDMETHODIMP CToyMessage::OpenProperty(ULONG tag, LPCIID iid, ULONG o, ULONG f, LPUNKNOWN* u)
{
    if (f & (MAPI_CREATE | MAPI_MODIFY))
        return E_ACCESSDENIED;
    return m_inner->OpenProperty(tag, iid, o, f, u);
}
STDMETHODIMP CToyMessage::SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyMessage::DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return E_ACCESSDENIED; }

STDMETHODIMP CToyMessage::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                                 ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                                 ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return m_support->DoCopyTo(&IID_IMessage, static_cast<IMessage*>(this), ciidExclude, rgiidExclude, lpExcludeProps,
                               ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags, lppProblems);
}

STDMETHODIMP CToyMessage::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                    LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                                    LPSPropProblemArray* lppProblems)
{
    return m_support->DoCopyProps(&IID_IMessage, static_cast<IMessage*>(this), lpIncludeProps, ulUIParam, lpProgress,
                                  lpInterface, lpDestObj, ulFlags, lppProblems);
}

STDMETHODIMP CToyMessage::GetNamesFromIDs(LPSPropTagArray* t, LPGUID g, ULONG f, ULONG* c, LPMAPINAMEID** n)
{
    return m_inner->GetNamesFromIDs(t, g, f, c, n);
}
STDMETHODIMP CToyMessage::GetIDsFromNames(ULONG c, LPMAPINAMEID* n, ULONG f, LPSPropTagArray* t)
{
    return m_inner->GetIDsFromNames(c, n, f, t);
}
STDMETHODIMP CToyMessage::GetAttachmentTable(ULONG f, LPMAPITABLE* t) { return m_inner->GetAttachmentTable(f, t); }
STDMETHODIMP CToyMessage::OpenAttach(ULONG n, LPCIID iid, ULONG f, LPATTACH* a) { return m_inner->OpenAttach(n, iid, f, a); }
STDMETHODIMP CToyMessage::CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyMessage::DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyMessage::GetRecipientTable(ULONG f, LPMAPITABLE* t) { return m_inner->GetRecipientTable(f, t); }
STDMETHODIMP CToyMessage::ModifyRecipients(ULONG, LPADRLIST) { return E_ACCESSDENIED; }
STDMETHODIMP CToyMessage::SubmitMessage(ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyMessage::SetReadFlag(ULONG) { return S_OK; }
