#include "ProviderPlatform.h"
#include "CEntryId.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

// {B8E1427D-C63A-4F90-A51E-0D9B7E26C3F4}, spelled as a GUID so that the byte
// order of the provider UID is checked against the usual GUID layout.
const GUID kProviderGuid = {0xB8E1427D, 0xC63A, 0x4F90, {0xA5, 0x1E, 0x0D, 0x9B, 0x7E, 0x26, 0xC3, 0xF4}};

MAPIUID StoreUid(BYTE seed)
{
    MAPIUID uid;
    for (int i = 0; i < 16; ++i)
        uid.ab[i] = static_cast<BYTE>(seed + i);
    return uid;
}

const BYTE* Bytes(const CEntryId& id) { return reinterpret_cast<const BYTE*>(&id); }

TEST(EntryId, BlankIdentifierHoldsOnlyTheProviderUid)
{
    const CEntryId id;
    const BYTE* b = Bytes(id);
    EXPECT_EQ(0, std::memcmp(b + 24, &kProviderGuid, 16));
    for (int i = 0; i < 72; ++i) {
        if (i < 24 || i >= 40) {
            EXPECT_EQ(0, b[i]) << "offset " << i;
        }
    }
    EXPECT_EQ(0u, id.kind);
}

TEST(EntryId, TypedIdentifierLaysOutStoreUidAndKindLittleEndian)
{
    CEntryId id(kEntryMessage, StoreUid(0x40));
    id.idRoot = 0x0102030405060708LL;
    id.fid = -1;
    id.mid = 0x1122334455667788LL;
    const BYTE* b = Bytes(id);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0x40 + i, b[4 + i]);
    const BYTE kind[4] = {6, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(b + 20, kind, 4));
    EXPECT_EQ(0, std::memcmp(b + 24, &kProviderGuid, 16));
    const BYTE idRoot[8] = {8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(0, std::memcmp(b + 48, idRoot, 8));
    EXPECT_TRUE(std::all_of(b + 56, b + 64, [](BYTE x) { return x == 0xFF; }));
    EXPECT_EQ(0x88, b[64]);
    EXPECT_EQ(0x11, b[71]);
}

// Every byte in turn: only the reserved word 44-47 is left out of equality.
TEST(EntryId, EqualityComparesEveryByteButTheReservedWord)
{
    CEntryId base(kEntryFolder, StoreUid(1));
    base.idRoot = 77;
    base.fid = 78;
    for (int offset = 0; offset < 72; ++offset) {
        CEntryId changed = base;
        reinterpret_cast<BYTE*>(&changed)[offset] ^= 0x5A;
        const bool reserved = offset >= 44 && offset < 48;
        EXPECT_EQ(reserved, changed == base) << "offset " << offset;
        EXPECT_EQ(!reserved, changed != base) << "offset " << offset;
    }
}

TEST(EntryId, StoreIdentifiersOfOneStoreDifferOnlyInTheKind)
{
    const MAPIUID uid = StoreUid(9);
    const CEntryId ids[] = {CEntryId(kEntryMessageStore, uid), CEntryId(kEntryRootFolder, uid),
                            CEntryId(kEntryIpmSubtree, uid), CEntryId(kEntrySearchRoot, uid)};
    const ULONG kinds[] = {1, 2, 3, 7};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kinds[i], ids[i].kind);
        for (int j = 0; j < 4; ++j) {
            if (i == j)
                continue;
            EXPECT_FALSE(ids[i] == ids[j]);
            EXPECT_EQ(0, std::memcmp(Bytes(ids[i]), Bytes(ids[j]), 20));
            EXPECT_EQ(0, std::memcmp(Bytes(ids[i]) + 24, Bytes(ids[j]) + 24, 48));
        }
    }
}

TEST(EntryId, DecodeReadsWholeIdentifiersAndRefusesShortOnes)
{
    CEntryId original(kEntryMessage, StoreUid(3));
    original.idRoot = 5;
    original.fid = 6;
    original.mid = 7;
    BYTE longer[80] = {};
    std::memcpy(longer, &original, 72);

    struct Case {
        ULONG cb;
        const ENTRYID* entry;
        HRESULT hr;
        ULONG kind;
    };
    const Case cases[] = {
        {0, nullptr, S_OK, kEntryRootFolder}, // no identifier: the root folder
        {72, original.AsEntryId(), S_OK, kEntryMessage},
        {80, reinterpret_cast<const ENTRYID*>(longer), S_OK, kEntryMessage},
        {71, original.AsEntryId(), MAPI_E_INVALID_ENTRYID, 99},
        {4, original.AsEntryId(), MAPI_E_INVALID_ENTRYID, 99},
    };
    for (const Case& c : cases) {
        CEntryId out;
        out.kind = 99;
        EXPECT_EQ(c.hr, CEntryId::Decode(c.cb, c.entry, out)) << c.cb;
        EXPECT_EQ(c.kind, out.kind) << c.cb;
        if (c.kind == kEntryMessage) {
            EXPECT_TRUE(out == original);
        }
    }
}

TEST(EntryId, StoreEntryIdIsMapisWrapperAroundTheSeventyTwoBytes)
{
    const CEntryId store(kEntryMessageStore, StoreUid(0x20));
    LPVOID parent = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(8, &parent));
    SBinary wrapped = {};
    ASSERT_EQ(S_OK, store.WrapStoreEntryId(parent, wrapped));
    ASSERT_GT(wrapped.cb, 72u);
    EXPECT_EQ(0, std::memcmp(wrapped.lpb + wrapped.cb - 72, &store, 72));
    const char* dll = "KOLVEN.DLL";
    EXPECT_NE(wrapped.lpb + wrapped.cb, std::search(wrapped.lpb, wrapped.lpb + wrapped.cb, dll, dll + 11));
    // The copy belongs to the parent block: one free releases both.
    EXPECT_EQ(S_OK, MAPIFreeBuffer(parent));
}

} // namespace
