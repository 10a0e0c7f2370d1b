// Wrapped store entry identifiers, in the documented layout: 4 flag bytes,
// the 16-byte MAPI store-wrapping UID, a version byte and a flag byte (both
// 0), the provider DLL name as ANSI text with its terminating zero, zero
// bytes up to a 4-byte boundary, then the provider's own identifier.
#include "MapiStandin.h"
#include "StoreEntryIdWrap.h"

#include <cstring>

namespace {

const BYTE kStoreWrapUid[16] = {0x38, 0xA1, 0xBB, 0x10, 0x05, 0xE5, 0x10, 0x1A,
                                0xA1, 0xBB, 0x08, 0x00, 0x2B, 0x2A, 0x56, 0xC2};
constexpr ULONG kHeaderSize = 4 + 16 + 2;
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
    ULONG prefix = RoundUp4(kHeaderSize + static_cast<ULONG>(nameLength) + 1);
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
    std::memcpy(out + kHeaderSize, name, nameLength);
    std::memcpy(out + prefix, lpOrigEntry, cbOrigEntry);
    *lpcbWrappedEntry = total;
    *lppWrappedEntry = reinterpret_cast<LPENTRYID>(out);
    return S_OK;
}

STDAPI UnwrapStoreEntryID(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* lppszDllName, ULONG* lpcbOrig,
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
    if (cbWrapped <= kHeaderSize + 1 || std::memcmp(bytes + 4, kStoreWrapUid, sizeof(kStoreWrapUid)) != 0)
        return MAPI_E_INVALID_ENTRYID;
    const BYTE* name = bytes + kHeaderSize;
    const BYTE* end = static_cast<const BYTE*>(std::memchr(name, 0, cbWrapped - kHeaderSize));
    if (!end || end == name)
        return MAPI_E_INVALID_ENTRYID;
    ULONG prefix = RoundUp4(static_cast<ULONG>(end - bytes) + 1);
    if (prefix >= cbWrapped)
        return MAPI_E_INVALID_ENTRYID;
    if (lppszDllName)
        *lppszDllName = reinterpret_cast<LPSTR>(const_cast<BYTE*>(name));
    *lpcbOrig = cbWrapped - prefix;
    *lppOrig = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(bytes + prefix));
    return S_OK;
}
