#pragma once
// A connection point over a CSinkList that its source owns. It keeps its
// container alive, as IConnectionPoint::GetConnectionPointContainer needs.
// EnumConnections is not served.
#include "Platform.h"
#include "CSinkList.h"
#include "CUnknownImpl.h"

#include <ocidl.h>

#include <memory>

namespace olhost {

class CConnectionPoint final : public common::CUnknownImpl<CConnectionPoint, IConnectionPoint> {
public:
    static HRESULT Create(std::shared_ptr<CSinkList> sinks, IConnectionPointContainer* container,
                          IConnectionPoint** out);

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // FindConnectionPoint of a source whose only outgoing interface is the
    // one of sinks.
    static HRESULT Find(const std::shared_ptr<CSinkList>& sinks, IConnectionPointContainer* container, REFIID riid,
                        IConnectionPoint** point);

private:
    friend class common::CUnknownImpl<CConnectionPoint, IConnectionPoint>;
    CConnectionPoint(std::shared_ptr<CSinkList> sinks, IConnectionPointContainer* container)
        : m_sinks(std::move(sinks)), m_container(container)
    {
    }

    std::shared_ptr<CSinkList> m_sinks;
    ComPtr<IConnectionPointContainer> m_container;
};

} // namespace olhost
