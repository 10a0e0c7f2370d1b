#include "Platform.h"
#include "CConnectionPoint.h"

#include <olectl.h>

namespace olhost {

HRESULT CConnectionPoint::Create(std::shared_ptr<CSinkList> sinks, IConnectionPointContainer* container,
                                 IConnectionPoint** out)
{
    return CreateInstance(IID_IConnectionPoint, reinterpret_cast<void**>(out), std::move(sinks), container);
}

HRESULT CConnectionPoint::Find(const std::shared_ptr<CSinkList>& sinks, IConnectionPointContainer* container,
                               REFIID riid, IConnectionPoint** point)
{
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (!sinks || !IsEqualIID(riid, sinks->Iid()))
        return CONNECT_E_NOCONNECTION;
    return Create(sinks, container, point);
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = m_sinks->Iid();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    return m_container.CopyTo(container);
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    return m_sinks->Advise(sink, cookie);
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD cookie)
{
    return m_sinks->Unadvise(cookie);
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections)
{
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

} // namespace olhost
