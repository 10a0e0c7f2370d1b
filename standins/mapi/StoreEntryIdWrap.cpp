// Wrapped store entry identifiers, in the documented layout: 4 flag bytes,
// the 16-byte MAPI store-wrapping UID, a version byte and a flag byte (both
// 0), the provider DLL name as ANSI text with its terminating zero, zero
// bytes up to a 4-byte boundary, then the provider's own identifier.
#include "MapiStandin.h"
#include "StoreEntryIdWrap.h"

#include <cstring>

using mapistub::kStoreWrapHeaderSize;
using mapistub::kStoreWrapUid;

namespace {

constexpr ULONG kMaxDllName = MAX_PATH;

ULONG RoundUp4(ULONG value)
{
    return (value + 3u) & ~3u;
}

} // namespace

// The DLL name is ANSI text whatever the header's LPTSTR says: MAPI has a
// single WrapStoreEntryID that takes the name as 8-bit characters.
STDAPI WrapStoreEntryID(ULONG ulFlags, LPTSTR lpszDLLName, ULONG cbOrigEntry, LPENTRYID lpOrigEntry,
                        ULONG* lpcbWrappedEntry, LPENTRYID* lppWrappedEntry)
{
    if (lppWrappedEntry)
        *lppWrappedEntry = nullptr;
    if (lpcbWrappedEntry)
        *lpcbWrappedEntry = 0;
    const char* name = reinterpret_cast<const char*>(lpszDLLName);
    if (!name || !lpOrigEntry || cbOrigEntry == 0 || !lpcbWrappedEntry || !lppWrappedEntry)
        return MAPI_E_INVALID_PARAMETER;
    size_t nameLength = strnlen(name, kMaxDllName + 1);
    if (nameLength == 0 || nameLength > kMaxDllName)
        return MAPI_E_INVALID_PARAMETER;
    ULONG prefix = RoundUp4(kStoreWrapHeaderSize + static_cast<ULONG>(nameLength) + 1);
    if (cbOrigEntry > 0x7FFFFFFFu - prefix)
        return MAPI_E_INVALID_PARAMETER;
    ULONG total = prefix + cbOrigEntry;
    void* block = nullptr;
    HRESULT hr = MAPIAllocateBuffer(total, &block);
    if (FAILED(hr))
        return hr;
    BYTE* out = static_cast<BYTE*>(block);
    std::memset(out, 0, prefix);
    std::memcpy(out + 4, kStoreWrapUid, sizeof(kStoreWrapUid));
    std::memcpy(out + kStoreWrapHeaderSize, name, nameLength);
    std::memcpy(out + prefix, lpOrigEntry, cbOrigEntry);
    *lpcbWrappedEntry = total;
    *lppWrappedEntry = reinterpret_cast<LPENTRYID>(out);
    return S_OK;
}
