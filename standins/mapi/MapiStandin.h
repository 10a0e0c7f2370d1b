#pragma once
// Shared header of the stand-in mapi32.dll: the SDK's MAPI declarations in
// dependency order, plus the few internal helpers every part of the library
// uses. The exported functions keep exactly the SDK's prototypes so that the
// import library of the toolchain binds to them.
#include "Platform.h"

#include <mapidefs.h>
#include <mapicode.h>
#include <mapitags.h>
#include <mapix.h>
#include <mapiutil.h>
#include <mapispi.h>
#include <imessage.h>

#include <new>

namespace mapistub {

// A message service's configuration entry as MAPI documents it: the window
// handle is a ULONG_PTR (the toolchain's MSGSERVICEENTRY has ULONG, which is
// the same type only on 32-bit Windows).
using ServiceEntryFunction = HRESULT WINAPI(HINSTANCE, LPMALLOC, LPMAPISUP, ULONG_PTR, ULONG, ULONG, ULONG,
                                            LPSPropValue, LPPROVIDERADMIN, LPMAPIERROR*);

// Allocators a caller handed to CreateTable / OpenIMsgOnIStg; memory the
// library returns to that caller comes from them.
struct Allocators {
    LPALLOCATEBUFFER allocateBuffer = nullptr;
    LPALLOCATEMORE allocateMore = nullptr;
    LPFREEBUFFER freeBuffer = nullptr;
};

// The library's own MAPI allocators (MAPIAllocateBuffer and friends).
Allocators DefaultAllocators();

// Runs a method body and turns any C++ exception into a MAPI error so that
// nothing escapes through a COM/MAPI boundary.
template <typename F>
HRESULT Guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return MAPI_E_CALL_FAILED;
    }
}

} // namespace mapistub
