#pragma once
// The event sinks advised on one outgoing interface of one event source, and
// the firing of an event to them. A sink is advised only when it answers
// QueryInterface for the outgoing interface (CONNECT_E_CANNOTCONNECT
// otherwise), as a connection point does; events reach it through IDispatch.
#include "Platform.h"

#include <string>
#include <vector>

namespace olhost {

class CSinkList {
public:
    explicit CSinkList(const IID& iid) : m_iid(iid) {}
    CSinkList(const CSinkList&) = delete;
    CSinkList& operator=(const CSinkList&) = delete;

    const IID& Iid() const { return m_iid; }
    HRESULT Advise(IUnknown* sink, DWORD* cookie);
    HRESULT Unadvise(DWORD cookie);
    size_t Count() const { return m_sinks.size(); }
    // Drops every sink (the source goes away).
    void Clear() { m_sinks.clear(); }

    // Invokes the event on every sink advised when the firing starts (a sink
    // may unadvise itself or others meanwhile). The arguments are in
    // DISPPARAMS order (last argument first). Returns how many sinks were called.
    size_t Fire(DISPID id, VARIANTARG* args, UINT count);

private:
    struct Sink {
        DWORD cookie;
        ComPtr<IDispatch> sink;
    };
    IID m_iid;
    std::vector<Sink> m_sinks;
    DWORD m_nextCookie = 1;
};

} // namespace olhost
