#pragma once
// The error-object bridge of the proxy/stub library (Wine only).
//
// Every process that calls the IEse interfaces across a process boundary
// holds proxies made by this library, and every process that serves them
// holds its stubs, so both halves of each call load it; the bridge lives
// here, not in each program, and so any client of the server receives the
// server's error object, our own programs or a foreign one.
//
// The bridge is a process-wide channel hook: after a method ran, the server
// side takes the thread's error object (GetErrorInfo, which clears it) and
// writes it into an extent of the reply (common::CErrorInfoChannel); the
// client side rebuilds an equal object on the calling thread. A reply without
// the extent leaves the client's error object alone. A successful call sets
// no error object, so for it the hook only asks whether one is set.
//
// Installed once per process, on Wine only, when COM first asks the library
// for a class object (never from DllMain). A hook cannot be unregistered, so
// installing it also pins the library in the process.
#include "Platform.h"

namespace proxy_library {

// Registers the hook on Wine (S_OK, or the registration's failure); S_FALSE
// elsewhere, where COM carries error objects itself. Safe to call from any
// thread and any number of times.
HRESULT InstallErrorInfoBridge();

// Whether the hook is registered in this process.
bool ErrorInfoBridgeInstalled();

} // namespace proxy_library
