// Unwrapping of a wrapped store entry identifier (layout in
// StoreEntryIdWrap.cpp). Not an export: MAPI has no such function, so the
// tests compile this file to read what WrapStoreEntryID made.
#include "MapiStandin.h"
#include "StoreEntryIdWrap.h"

#include <cstring>

using mapistub::kStoreWrapHeaderSize;
using mapistub::kStoreWrapUid;

HRESULT mapistub::UnwrapStoreEntryID(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* lppszDllName, ULONG* lpcbOrig,
                                     LPENTRYID* lppOrig)
{
    if (lppszDllName)
        *lppszDllName = nullptr;
    if (lpcbOrig)
        *lpcbOrig = 0;
    if (lppOrig)
        *lppOrig = nullptr;
    if (!lpWrapped || !lpcbOrig || !lppOrig)
        return MAPI_E_INVALID_PARAMETER;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(lpWrapped);
    if (cbWrapped <= kStoreWrapHeaderSize + 1 || std::memcmp(bytes + 4, kStoreWrapUid, sizeof(kStoreWrapUid)) != 0)
        return MAPI_E_INVALID_ENTRYID;
    const BYTE* name = bytes + kStoreWrapHeaderSize;
    const BYTE* end = static_cast<const BYTE*>(std::memchr(name, 0, cbWrapped - kStoreWrapHeaderSize));
    if (!end || end == name)
        return MAPI_E_INVALID_ENTRYID;
    ULONG prefix = (static_cast<ULONG>(end - bytes) + 1 + 3u) & ~3u;
    if (prefix >= cbWrapped)
        return MAPI_E_INVALID_ENTRYID;
    if (lppszDllName)
        *lppszDllName = reinterpret_cast<LPSTR>(const_cast<BYTE*>(name));
    *lpcbOrig = cbWrapped - prefix;
    *lppOrig = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(bytes + prefix));
    return S_OK;
}
