#include "Platform.h"
#include "CSinkList.h"

#include <olectl.h>

namespace olhost {

HRESULT CSinkList::Advise(IUnknown* sink, DWORD* cookie)
{
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;
    // The outgoing interfaces are dispinterfaces: what the sink hands out for
    // their IID is an IDispatch.
    // Kept with the reference QueryInterface gave: ComPtr::Attach of this
    // toolchain would add one more, and Unadvise would never let the sink go.
    ComPtr<IDispatch> events;
    if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void**>(events.GetAddressOf()))) || !events)
        return CONNECT_E_CANNOTCONNECT;
    m_sinks.push_back(Sink{m_nextCookie++, std::move(events)});
    *cookie = m_sinks.back().cookie;
    return S_OK;
}

HRESULT CSinkList::Unadvise(DWORD cookie)
{
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            m_sinks.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

size_t CSinkList::Fire(DISPID id, VARIANTARG* args, UINT count)
{
    std::vector<Sink> sinks = m_sinks;
    for (const Sink& entry : sinks) {
        DISPPARAMS params{args, nullptr, count, 0};
        entry.sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    return sinks.size();
}

} // namespace olhost
