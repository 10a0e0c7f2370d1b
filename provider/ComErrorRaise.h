// Server failures as _com_error, the form every provider method catches: the
// HRESULT with the thread's error object when the failing object reports
// error information for the interface that was called.
#pragma once
#include "ProviderPlatform.h"

_com_error ComErrorFrom(HRESULT hr, IUnknown* object, REFIID iid);

[[noreturn]] void RaiseComError(HRESULT hr, IUnknown* object, REFIID iid);
