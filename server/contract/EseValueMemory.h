#pragma once
// Frees what the server hands out. Every array and every block a value points
// to is a separate block of the COM task allocator that the caller owns; inner
// blocks are freed before the array that holds them. All functions accept a
// null array and clear the caller's pointer.
#include "Platform.h"
#include "Vostrel2007.h"

// One value's owned blocks (not the value itself).
void FreeEseValueContents(_SEsePropertyValue& value);

void FreeEseValues(_SEsePropertyValue*& values, ULONG count);
void FreeEseRows(_SEseRow*& rows, ULONG count);
// The name string of each string-kind id and each property-set GUID, then the array.
void FreeEseNameIds(_SEseNamedPropertyId*& names, ULONG count);
