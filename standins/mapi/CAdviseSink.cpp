#include "MapiStandin.h"
#include "CAdviseSink.h"

HRESULT CAdviseSink::Create(LPNOTIFCALLBACK callback, LPVOID context, IMAPIAdviseSink** out)
{
    return CreateInstance(IID_IMAPIAdviseSink, reinterpret_cast<void**>(out), callback, context);
}

STDMETHODIMP_(ULONG) CAdviseSink::OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications)
{
    return static_cast<ULONG>(m_callback(m_context, cNotif, lpNotifications));
}

STDAPI HrAllocAdviseSink(LPNOTIFCALLBACK lpfnCallback, LPVOID lpvContext, LPMAPIADVISESINK* lppAdviseSink)
{
    if (!lppAdviseSink)
        return MAPI_E_INVALID_PARAMETER;
    *lppAdviseSink = nullptr;
    if (!lpfnCallback)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() { return CAdviseSink::Create(lpfnCallback, lpvContext, lppAdviseSink); });
}
