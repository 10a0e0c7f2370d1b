// The MAPI memory routines of the provider. MAPI hands its allocators to
// MSProviderInit, and every buffer the provider hands back to MAPI or to a
// client (property arrays, tag arrays, rows, errors, entry identifiers) must
// come from them, since the caller frees it with the MAPI allocator it knows.
// Until MSProviderInit keeps the subsystem's routines, MAPI's exported ones
// serve (the groundwork's own tests, tools that call the provider directly).
//
// Memory that MAPI itself allocated for the provider (HrGetOneProp, a
// profile section's GetProps, WrapStoreEntryID) goes back through MAPI's own
// MAPIFreeBuffer, never through these.
#pragma once
#include "ProviderPlatform.h"

struct SMapiMemory {
    LPMALLOC malloc = nullptr;
    LPALLOCATEBUFFER allocateBuffer = nullptr;
    LPALLOCATEMORE allocateMore = nullptr;
    LPFREEBUFFER freeBuffer = nullptr;
};

// Keeps the routines MAPI passed to MSProviderInit. Null routines leave the
// exported ones in place.
void KeepMapiMemory(LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                    LPFREEBUFFER lpFreeBuffer);
// Back to MAPI's exported routines.
void ForgetMapiMemory();

// The routines in force, for CreateTable and the like.
SMapiMemory ProviderMapiMemory();

SCODE ProviderAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer);
SCODE ProviderAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
ULONG ProviderFreeBuffer(LPVOID lpBuffer);

// Frees a row set allocated with the provider's routines (rows of the
// provider's own in-memory tables), row by row and then the set.
void FreeProviderRows(LPSRowSet rows);
