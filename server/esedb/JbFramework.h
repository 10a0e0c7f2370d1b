#pragma once
// What every ESE wrapper of NJbFramework shares: the published
// ESE declarations, the exception and check of failing calls, the shared
// references, and the value of a handle that is none.
#include "Platform.h"
#include "esedb/EseApi.h"
#include "esedb/CFailedJbApiCallException.h"
#include "esedb/CSharedRef.h"

namespace NJbFramework {

// Every handle starts as none: all ones of its own width, as ESE's nil
// instance, session and cursor handles are (JET_API_PTR is pointer-sized;
// database identifiers stay 32 bits in both builds).
constexpr JET_API_PTR kNoHandle = ~JET_API_PTR(0);
constexpr JET_DBID kNoDatabase = ~JET_DBID(0);
static_assert(kNoHandle == JET_instanceNil && kNoHandle == JET_sesidNil && kNoHandle == JET_tableidNil,
              "none is ESE's own nil handle");
static_assert(kNoDatabase == JET_dbidNil, "no database is ESE's own nil identifier");

} // namespace NJbFramework
