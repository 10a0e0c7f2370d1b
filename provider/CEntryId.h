// The one fixed-size entry identifier of every object the provider hands to
// MAPI. The layout is read byte for byte by MAPI clients, the Outlook add-in
// and the search folders, so the members are public and the class has no
// virtual functions: it is exactly the 72 bytes that travel.
#pragma once
#include "ProviderPlatform.h"

#include <cstddef>

enum EEntryKind : ULONG {
    kEntryNone = 0,
    kEntryMessageStore = 1,
    kEntryRootFolder = 2,
    kEntryIpmSubtree = 3,
    kEntryMailboxTop = 4,
    kEntryFolder = 5,
    kEntryMessage = 6,
    kEntrySearchRoot = 7,
};

// The provider's MAPIUID, also reported as PR_MDB_PROVIDER.
extern const MAPIUID kProviderUid;

// The DLL name MAPI records in the wrapped store entry identifier.
extern const char kProviderDllName[];

class CEntryId {
public:
    // All zero except the provider UID; the kind stays 0 until assigned.
    CEntryId();
    // All zero except the provider UID, the store UID and the kind; the
    // caller assigns the server identifiers.
    CEntryId(EEntryKind entryKind, const MAPIUID& owningStoreUid);

    // Field-by-field equality; the reserved word takes no part.
    bool operator==(const CEntryId& other) const;
    bool operator!=(const CEntryId& other) const { return !(*this == other); }

    // Reads an identifier handed in by MAPI. A null identifier names the root
    // folder (kind 2, everything else blank). Fewer than 72 bytes are refused
    // with MAPI_E_INVALID_ENTRYID rather than read past their end.
    static HRESULT Decode(ULONG cbEntryID, const ENTRYID* lpEntryID, CEntryId& out);

    // Whether two identifiers handed in by MAPI are the same bytes (two
    // null ones are), as the store and the provider compare them.
    static bool SameBytes(ULONG cbEntryID1, const ENTRYID* lpEntryID1, ULONG cbEntryID2, const ENTRYID* lpEntryID2);

    // The store's PR_STORE_ENTRYID form: these 72 bytes wrapped by MAPI with
    // the provider's DLL name, copied into a block chained to lpParent. MAPI's
    // own wrapped copy is freed before returning. On failure out is untouched.
    HRESULT WrapStoreEntryId(LPVOID lpParent, SBinary& out) const;

    ENTRYID* AsEntryId() { return reinterpret_cast<ENTRYID*>(this); }
    const ENTRYID* AsEntryId() const { return reinterpret_cast<const ENTRYID*>(this); }

    BYTE abFlags[4] = {};
    MAPIUID storeUid = {};
    ULONG kind = kEntryNone;
    MAPIUID providerUid = kProviderUid;
    ULONG serial = 0;
    ULONG reserved = 0;
    LONGLONG idRoot = 0;
    LONGLONG fid = 0;
    LONGLONG mid = 0;
};

static_assert(sizeof(CEntryId) == 72, "the entry identifier is 72 bytes on the wire");
static_assert(offsetof(CEntryId, storeUid) == 4 && offsetof(CEntryId, kind) == 20 &&
                  offsetof(CEntryId, providerUid) == 24 && offsetof(CEntryId, serial) == 40 &&
                  offsetof(CEntryId, reserved) == 44 && offsetof(CEntryId, idRoot) == 48 &&
                  offsetof(CEntryId, fid) == 56 && offsetof(CEntryId, mid) == 64,
              "entry identifier layout");
