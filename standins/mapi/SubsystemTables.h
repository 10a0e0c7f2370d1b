#pragma once
// Tables of the MAPI subsystem (profiles, services, providers, message
// stores, status rows) built from property bags: one row per bag, only the
// listed columns, Unicode strings turned into 8-bit ones unless the caller
// asked for MAPI_UNICODE.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <vector>

namespace mapistub {

HRESULT MakeBagTable(const std::vector<ULONG>& columns, ULONG indexTag, const std::vector<CPropBag>& rows,
                     ULONG flags, LPMAPITABLE* out);

// A table whose columns are every property any row has (index first);
// rows without the index are left out. For folder contents and hierarchy.
HRESULT MakeUnionTable(ULONG indexTag, const std::vector<CPropBag>& rows, LPMAPITABLE* out);

// A binary value whose bytes live in the caller's storage.
inline SPropValue BinaryValue(ULONG tag, const void* bytes, ULONG cb)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin.cb = cb;
    value.Value.bin.lpb = static_cast<LPBYTE>(const_cast<void*>(bytes));
    return value;
}

inline SPropValue LongValue(ULONG tag, LONG v)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.l = v;
    return value;
}

inline SPropValue WideValue(ULONG tag, const wchar_t* text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszW = const_cast<LPWSTR>(text);
    return value;
}

} // namespace mapistub
