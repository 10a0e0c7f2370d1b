#pragma once
// What every ESE wrapper of NJbFramework shares: the published
// ESE declarations, the exception and check of failing calls, the shared
// references, and the value of a handle that is none.
#include "Platform.h"
#include "esedb/EseApi.h"
#include "esedb/CFailedJbApiCallException.h"
#include "esedb/CSharedRef.h"

namespace NJbFramework {

// Every handle starts as none, all ones.
constexpr JET_API_PTR kNoHandle = 0xFFFFFFFF;
constexpr JET_DBID kNoDatabase = 0xFFFFFFFF;

} // namespace NJbFramework
