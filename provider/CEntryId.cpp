#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "ProviderMemory.h"

#include <cstring>

// {B8E1427D-C63A-4F90-A51E-0D9B7E26C3F4} in GUID byte order.
const MAPIUID kProviderUid = {{0x7D, 0x42, 0xE1, 0xB8, 0x3A, 0xC6, 0x90, 0x4F,
                               0xA5, 0x1E, 0x0D, 0x9B, 0x7E, 0x26, 0xC3, 0xF4}};

const char kProviderDllName[] = "KOLVEN.DLL";

CEntryId::CEntryId() = default;

CEntryId::CEntryId(EEntryKind entryKind, const MAPIUID& owningStoreUid) : CEntryId()
{
    storeUid = owningStoreUid;
    kind = entryKind;
}

bool CEntryId::operator==(const CEntryId& other) const
{
    return std::memcmp(abFlags, other.abFlags, sizeof(abFlags)) == 0 &&
           std::memcmp(&storeUid, &other.storeUid, sizeof(storeUid)) == 0 && kind == other.kind &&
           std::memcmp(&providerUid, &other.providerUid, sizeof(providerUid)) == 0 &&
           serial == other.serial && idRoot == other.idRoot && fid == other.fid && mid == other.mid;
}

HRESULT CEntryId::Decode(ULONG cbEntryID, const ENTRYID* lpEntryID, CEntryId& out)
{
    if (!lpEntryID) {
        out = CEntryId();
        out.kind = kEntryRootFolder;
        return S_OK;
    }
    if (cbEntryID < sizeof(CEntryId))
        return MAPI_E_INVALID_ENTRYID;
    std::memcpy(static_cast<void*>(&out), lpEntryID, sizeof(CEntryId));
    return S_OK;
}

bool CEntryId::SameBytes(ULONG cbEntryID1, const ENTRYID* lpEntryID1, ULONG cbEntryID2, const ENTRYID* lpEntryID2)
{
    if (!lpEntryID1 && !lpEntryID2)
        return true;
    return lpEntryID1 && lpEntryID2 && cbEntryID1 == cbEntryID2 &&
           std::memcmp(lpEntryID1, lpEntryID2, cbEntryID1) == 0;
}

HRESULT CEntryId::WrapStoreEntryId(LPVOID lpParent, SBinary& out) const
{
    ULONG cbWrapped = 0;
    LPENTRYID wrapped = nullptr;
    // MAPI takes the DLL name as an 8-bit string whatever the build's TCHAR.
    HRESULT hr = WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(const_cast<char*>(kProviderDllName)),
                                  sizeof(CEntryId), const_cast<ENTRYID*>(AsEntryId()), &cbWrapped, &wrapped);
    if (FAILED(hr))
        return hr;
    LPVOID copy = nullptr;
    hr = ProviderAllocateMore(cbWrapped, lpParent, &copy);
    if (SUCCEEDED(hr)) {
        std::memcpy(copy, wrapped, cbWrapped);
        out.cb = cbWrapped;
        out.lpb = static_cast<LPBYTE>(copy);
        hr = S_OK;
    }
    // MAPI made the wrapped copy with its own allocator.
    MAPIFreeBuffer(wrapped);
    return hr;
}
