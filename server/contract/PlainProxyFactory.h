#pragma once
// For measurements only: the contract's proxies and stubs built from the same
// generated code as the proxy/stub library, but linked into the calling
// program and registered for its apartment alone, without the library's
// error-object bridge. A process that registers them before its first IEse
// interface crosses never loads the library, so no channel hook is installed
// in it; the cost of the bridge is the difference to a process that does.
#include "Platform.h"

namespace plain_proxies {

// Registers the factory of the linked proxies and stubs for every contract
// interface in the calling thread's apartment (CoRegisterPSClsid).
HRESULT RegisterForThisApartment();

} // namespace plain_proxies
