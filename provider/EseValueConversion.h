// Turns the server's values (task memory, laid out as SPropValue with the
// server's value type in the pad word) into MAPI property values whose
// memory hangs on one parent block of the caller, so that one MAPIFreeBuffer
// of the parent releases everything. The MAPI property type in the tag
// decides the conversion; the server's type word is read only to tell an
// error value's code from its source.
#pragma once
#include "ProviderPlatform.h"
#include "Vostrel2007.h"

static_assert(sizeof(_SEsePropertyValue) == sizeof(SPropValue), "server values are laid out as SPropValue");
static_assert(offsetof(_SEsePropertyValue, m_value) == offsetof(SPropValue, Value), "value union offset");

// MAPIAllocateMore(size, parent) and, on success, a copy of size bytes of
// src (src may be null only when size is 0). *out is null on failure.
HRESULT MapiCopyBytes(LPVOID parent, ULONG size, const void* src, LPVOID* out);

// Copies one value. The destination keeps the source tag (a null value
// becomes PT_ERROR / MAPI_E_NOT_FOUND under the same id); its pad is 0.
// A value that cannot be copied (allocation failure, or a pointer the type
// needs is missing: MAPI_E_CORRUPT_DATA) leaves the destination a PT_ERROR
// value holding that result under the same id, never half filled, and the
// result is returned. Types without a MAPI form keep only the tag, value 0.
HRESULT ConvertEseValue(SPropValue* dst, const _SEsePropertyValue* src, LPVOID parent);

// Converts values first .. count-1 of the row into dst[0] onward (dst has
// room for count - first values). A value that fails stays a PT_ERROR entry
// and the row goes on; the result is S_OK (E_INVALIDARG for a null dst with
// values to convert).
HRESULT ConvertEseRow(SPropValue* dst, const _SEseRow& srcRow, ULONG first, LPVOID parent);
