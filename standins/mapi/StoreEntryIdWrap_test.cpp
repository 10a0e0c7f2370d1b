// Wrapping of a provider's store entry identifier and its unwrapping.
#include "MapiStandin.h"
#include "StoreEntryIdWrap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// MAPI exports no unwrapping; the test reads the wrapped form with the
// library's own reader, compiled in.
HRESULT Unwrap(ULONG cbWrapped, LPENTRYID lpWrapped, LPSTR* name, ULONG* cbOrig, LPENTRYID* orig)
{
    return mapistub::UnwrapStoreEntryID(cbWrapped, lpWrapped, name, cbOrig, orig);
}

TEST(StoreEntryIdWrap, WrappedFormCarriesTheDllNameAndTheProvidersBytes)
{
    std::vector<BYTE> original(72);
    for (size_t i = 0; i < original.size(); ++i)
        original[i] = static_cast<BYTE>(i * 3);
    char dll[] = "KOLVEN.DLL";
    ULONG cb = 0;
    LPENTRYID wrapped = nullptr;
    ASSERT_EQ(S_OK, WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(dll), 72, reinterpret_cast<LPENTRYID>(original.data()),
                                     &cb, &wrapped));
    EXPECT_GT(cb, 72u);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(wrapped);
    EXPECT_NE(nullptr, std::search(bytes, bytes + cb, dll, dll + sizeof(dll)) );
    EXPECT_EQ(0, std::memcmp(bytes + cb - 72, original.data(), 72));

    LPSTR name = nullptr;
    ULONG cbOrig = 0;
    LPENTRYID orig = nullptr;
    ASSERT_EQ(S_OK, Unwrap(cb, wrapped, &name, &cbOrig, &orig));
    EXPECT_STREQ("KOLVEN.DLL", name);
    ASSERT_EQ(72u, cbOrig);
    EXPECT_EQ(0, std::memcmp(orig, original.data(), 72));

    // Not a wrapped identifier: the provider's own bytes.
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID,
              Unwrap(72, reinterpret_cast<LPENTRYID>(original.data()), &name, &cbOrig, &orig));
    // Cut inside the name.
    EXPECT_EQ(MAPI_E_INVALID_ENTRYID, Unwrap(26, wrapped, &name, &cbOrig, &orig));
    MAPIFreeBuffer(wrapped);
}

TEST(StoreEntryIdWrap, BadArgumentsAreRefused)
{
    BYTE id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    char dll[] = "KOLVEN.DLL";
    char empty[] = "";
    ULONG cb = 1;
    LPENTRYID wrapped = reinterpret_cast<LPENTRYID>(1);
    auto name = reinterpret_cast<LPTSTR>(dll);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapStoreEntryID(0, nullptr, 8, reinterpret_cast<LPENTRYID>(id), &cb, &wrapped));
    EXPECT_EQ(nullptr, wrapped);
    EXPECT_EQ(0u, cb);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
              WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(empty), 8, reinterpret_cast<LPENTRYID>(id), &cb, &wrapped));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapStoreEntryID(0, name, 0, reinterpret_cast<LPENTRYID>(id), &cb, &wrapped));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapStoreEntryID(0, name, 8, nullptr, &cb, &wrapped));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, WrapStoreEntryID(0, name, 8, reinterpret_cast<LPENTRYID>(id), nullptr, &wrapped));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, Unwrap(8, nullptr, nullptr, &cb, &wrapped));
}

} // namespace
