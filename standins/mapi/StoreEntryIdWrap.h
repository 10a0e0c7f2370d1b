#pragma once
// Unwrapping of the store entry identifiers WrapStoreEntryID makes, for the
// MAPI subsystem's side of this library (support objects, sessions): the
// provider DLL name and the provider's own bytes, as pointers into the
// wrapped identifier (nothing is allocated).
#include "MapiStandin.h"

// MAPI_E_INVALID_ENTRYID when the bytes are not a wrapped store identifier.
STDAPI UnwrapStoreEntryID(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* lppszDllName, ULONG* lpcbOrig,
                          LPENTRYID* lppOrig);
