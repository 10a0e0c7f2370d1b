#pragma once
// Creating an object of a local (out-of-process) COM server, with a bridge
// for a Wine gap.
//
// What Wine lacks: Wine 8's class table (kept by its rpcss service) holds
// the class-object registration of a server process until the server
// revokes it. A server that dies without revoking (killed, crashed) leaves
// its registration behind, and every later activation of the class is
// handed the dead process's class object and fails with
// RPC_S_SERVER_UNAVAILABLE (0x800706BA), for as long as rpcss runs: no new
// server is ever started.
//
// What Windows keeps: the service control manager notices a dead server's
// registrations and starts a new server process. There the call is made
// once, unchanged.
//
// The bridge: on Wine only, when an activation fails with a code that says
// the server's process is gone, the RpcSs service is stopped (its next
// start, which the next COM call makes, begins with an empty class table)
// and the activation is made once more. The registrations of other live
// servers are dropped with the table; their next activations start them
// anew, as they would after a restart.
#include "Platform.h"

namespace common {

HRESULT CreateLocalServerInstance(REFCLSID clsid, REFIID iid, void** ppv);

// Whether a failure means that the server's process is gone.
bool IsServerGone(HRESULT hr);

} // namespace common
