#pragma once
// Unwrapping of the store entry identifiers WrapStoreEntryID makes, for the
// MAPI subsystem's side of this library (support objects, sessions): the
// provider DLL name and the provider's own bytes, as pointers into the
// wrapped identifier (nothing is allocated).
#include "MapiStandin.h"

namespace mapistub {

// The 16-byte MAPI store-wrapping UID after 4 flag bytes, then a version and
// a flag byte: the DLL name starts at kStoreWrapHeaderSize.
constexpr BYTE kStoreWrapUid[16] = {0x38, 0xA1, 0xBB, 0x10, 0x05, 0xE5, 0x10, 0x1A,
                                    0xA1, 0xBB, 0x08, 0x00, 0x2B, 0x2A, 0x56, 0xC2};
constexpr ULONG kStoreWrapHeaderSize = 4 + 16 + 2;

// MAPI_E_INVALID_ENTRYID when the bytes are not a wrapped store identifier.
HRESULT UnwrapStoreEntryID(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* lppszDllName, ULONG* lpcbOrig,
                           LPENTRYID* lppOrig);

} // namespace mapistub
