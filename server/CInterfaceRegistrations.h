#pragma once
// Wine only: keeps the RPC registration of every interface the server hands
// out for the life of the serving loop.
//
// Wine's COM withdraws an interface's RPC registration when the last stub of
// that interface in the apartment goes, and waits there for every call still
// counted against it. A call another client thread sent meanwhile is counted
// at arrival but queued for this very apartment, whose thread is the one
// waiting: the server hangs for good. It was seen when a client released its
// store (the last IEseInstance stub) while its search thread released a
// message. Windows does not wait for calls on its own apartment there.
//
// One small object of our own, table-marshalled once for each interface,
// keeps a stub of each, so no registration is ever withdrawn while the server
// serves; nobody unmarshals it and none of its methods is ever called.
#include "Platform.h"

namespace server {

class CInterfaceRegistrations {
public:
    CInterfaceRegistrations() = default;
    ~CInterfaceRegistrations() { Release(); }
    CInterfaceRegistrations(const CInterfaceRegistrations&) = delete;
    CInterfaceRegistrations& operator=(const CInterfaceRegistrations&) = delete;

    // Registers every interface (on Wine; elsewhere nothing). Returns how
    // many interfaces are held.
    int Hold();
    // Lets the registrations go without waiting for calls (the serving loop
    // has ended).
    void Release();

private:
    IUnknown* m_holder = nullptr;
    IStream* m_marshals[16] = {};
    int m_count = 0;
};

} // namespace server
