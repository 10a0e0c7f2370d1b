#include "ProviderPlatform.h"
#include "CNamedPropMap.h"
#include "CInterfaceTable.h"
#include "MapiPtr.h"
#include "testing/FakeEseServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using providertest::CFakeEseStore;
using providertest::CFakeEseTable;
using providertest::FakeBytes;
using providertest::FakeI2;
using providertest::FakeLong;
using providertest::FakeNull;
using providertest::FakeText;
using providertest::SFakeValue;

const GUID kPublicStrings = {0x00020329, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kAddress = {0x00062004, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::vector<SFakeValue> StringRow(USHORT id, const GUID& guid, const std::wstring& name)
{
    return {FakeI2(kPrNamedPropId, id), FakeBytes(kPrNamedPropGuid, &guid, sizeof(guid)),
            FakeText(kPrNamedPropName, name), FakeNull(kPrNamedPropLid)};
}

std::vector<SFakeValue> NumericRow(USHORT id, const GUID& guid, LONG lid)
{
    return {FakeI2(kPrNamedPropId, id), FakeBytes(kPrNamedPropGuid, &guid, sizeof(guid)),
            FakeNull(kPrNamedPropName), FakeLong(kPrNamedPropLid, lid)};
}

// A store whose "NamedProps" table holds rows; the test keeps one reference.
struct SServer {
    explicit SServer(std::vector<std::vector<SFakeValue>> rows = {})
    {
        store = new CFakeEseStore;
        table = new CFakeEseTable;
        table->rows = std::move(rows);
        table->AddRef();
        store->namedProps = table;
    }
    ~SServer()
    {
        table->Release();
        store->Release();
    }
    CFakeEseStore* store;
    CFakeEseTable* table;
};

struct CComInit {
    CComInit() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~CComInit() { CoUninitialize(); }
};

ULONG TagFor(CNamedPropMap& map, const GUID& guid, const wchar_t* name, LONG lid, bool create, HRESULT* hr = nullptr)
{
    ULONG tag = 0x12345678;
    const HRESULT result = map.GetIdForName(&guid, name, lid, name ? MNID_STRING : MNID_ID, create, &tag);
    if (hr)
        *hr = result;
    return tag;
}

TEST(NamedPropMap, LoadedNamesResolveAndNewOnesFollowTheDatabasesIds)
{
    SServer server({StringRow(0x8000, kPublicStrings, L"Keywords"), NumericRow(0x8001, kAddress, 0x8084),
                    StringRow(0x8002, kAddress, L"33044"), NumericRow(0x8003, kAddress, 33044)});
    CNamedPropMap map;
    ASSERT_EQ(S_OK, map.LoadFromServer(server.store));
    EXPECT_EQ((std::vector<ULONG>{kPrNamedPropId, kPrNamedPropGuid, kPrNamedPropName, kPrNamedPropLid}),
              server.table->columnsAsked);
    EXPECT_EQ(0x8004u, map.NextId());

    struct Case {
        const char* what;
        const GUID& guid;
        const wchar_t* name;
        LONG lid;
        bool create;
        HRESULT hr;
        ULONG tag;
    };
    const Case cases[] = {
        {"string name", kPublicStrings, L"Keywords", 0, false, S_OK, 0x80000000},
        {"numeric name", kAddress, nullptr, 0x8084, false, S_OK, 0x80010000},
        // Same text and number under one set: two entries.
        {"string that reads as a number", kAddress, L"33044", 0, false, S_OK, 0x80020000},
        {"number equal to that text", kAddress, nullptr, 33044, false, S_OK, 0x80030000},
        {"known name under another set", kAddress, L"Keywords", 0, false, MAPI_E_NOT_FOUND, kNoNamedPropTag},
        {"unknown name without create", kPublicStrings, L"Color", 0, false, MAPI_E_NOT_FOUND, kNoNamedPropTag},
        {"first new name takes 0x8000 + n", kPublicStrings, L"Color", 0, true, S_OK, 0x80040000},
        {"the same new name again", kPublicStrings, L"Color", 0, true, S_OK, 0x80040000},
        {"found later without create", kPublicStrings, L"Color", 0, false, S_OK, 0x80040000},
        {"a new numeric name", kPublicStrings, nullptr, 7, true, S_OK, 0x80050000},
        {"known name with create is not made again", kAddress, nullptr, 0x8084, true, S_OK, 0x80010000},
    };
    for (const Case& c : cases) {
        HRESULT hr = E_FAIL;
        EXPECT_EQ(c.tag, TagFor(map, c.guid, c.name, c.lid, c.create, &hr)) << c.what;
        EXPECT_EQ(c.hr, hr) << c.what;
    }
    EXPECT_EQ(0x8006u, map.NextId());

    HRESULT hr = S_OK;
    MapiPtr<void> parent = MapiAllocate<void>(8, hr);
    LPMAPINAMEID name = nullptr;
    ASSERT_EQ(S_OK, map.GetNameForId(0x80000102, parent.get(), &name)); // the tag's type does not matter
    ASSERT_NE(nullptr, name);
    ASSERT_NE(nullptr, name->lpguid);
    EXPECT_TRUE(IsEqualGUID(kPublicStrings, *name->lpguid));
    EXPECT_EQ(static_cast<ULONG>(MNID_STRING), name->ulKind);
    EXPECT_STREQ(L"Keywords", name->Kind.lpwstrName);

    ASSERT_EQ(S_OK, map.GetNameForId(0x80050000, parent.get(), &name)); // made in this session
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(static_cast<ULONG>(MNID_ID), name->ulKind);
    EXPECT_EQ(7, name->Kind.lID);
    ASSERT_EQ(S_OK, map.GetNameForId(0x80030003, parent.get(), &name));
    EXPECT_EQ(33044, name->Kind.lID);

    name = reinterpret_cast<LPMAPINAMEID>(1);
    EXPECT_EQ(MAPI_E_NOT_FOUND, map.GetNameForId(0x81230000, parent.get(), &name));
    EXPECT_EQ(nullptr, name);
}

TEST(NamedPropMap, IdsWithAGapDoNotMakeANewNameReplaceAStoredOne)
{
    // Three rows, but not dense: counting rows alone would hand out 0x8003,
    // which the database already uses for "Private".
    SServer server({StringRow(0x8000, kPublicStrings, L"A"), StringRow(0x8001, kPublicStrings, L"B"),
                    StringRow(0x8003, kPublicStrings, L"Private")});
    CNamedPropMap map;
    ASSERT_EQ(S_OK, map.LoadFromServer(server.store));
    EXPECT_EQ(0x80040000u, TagFor(map, kPublicStrings, L"New", 0, true));
    EXPECT_EQ(0x80030000u, TagFor(map, kPublicStrings, L"Private", 0, false));
}

TEST(NamedPropMap, RowsWithoutAnIdOrWithARepeatedIdAreLeftOut)
{
    std::vector<SFakeValue> noId = StringRow(0x8001, kPublicStrings, L"Lost");
    noId[0] = FakeNull(kPrNamedPropId);
    SServer server({StringRow(0x8000, kPublicStrings, L"First"), noId, StringRow(0x8000, kPublicStrings, L"Again")});
    CNamedPropMap map;
    ASSERT_EQ(S_OK, map.LoadFromServer(server.store));
    EXPECT_EQ(0x80000000u, TagFor(map, kPublicStrings, L"First", 0, false));
    EXPECT_EQ(kNoNamedPropTag, TagFor(map, kPublicStrings, L"Lost", 0, false));
    EXPECT_EQ(kNoNamedPropTag, TagFor(map, kPublicStrings, L"Again", 0, false));
    EXPECT_EQ(0x8003u, map.NextId()); // 0x8000 + the server's row count
}

TEST(NamedPropMap, ServerFailuresRaiseAndLeaveTheMapUnbuilt)
{
    struct Case {
        const char* what;
        HRESULT namedProps, setColumns, getRows;
        HRESULT raised;
    };
    const Case cases[] = {
        // An empty map here would reuse the database's ids for new names.
        {"named-property table", E_FAIL, S_OK, S_OK, E_FAIL},
        {"column choice", S_OK, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), S_OK, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {"rows", S_OK, S_OK, E_OUTOFMEMORY, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        SServer server({StringRow(0x8000, kPublicStrings, L"A")});
        server.store->namedPropsResult = c.namedProps;
        server.table->setColumnsResult = c.setColumns;
        server.table->getRowsResult = c.getRows;
        CNamedPropMap map;
        bool raised = false;
        try {
            map.LoadFromServer(server.store);
        } catch (const _com_error& error) {
            raised = true;
            EXPECT_EQ(c.raised, error.Error()) << c.what;
            EXPECT_EQ(std::wstring(L"1 0 0 failed on purpose"), static_cast<const wchar_t*>(error.Description()))
                << c.what;
        }
        EXPECT_TRUE(raised) << c.what;
        EXPECT_EQ(0xFFFFu, map.NextId()) << c.what;
        EXPECT_EQ(MAPI_E_NOT_ENOUGH_RESOURCES, [&] {
            HRESULT hr;
            TagFor(map, kPublicStrings, L"A", 0, true, &hr);
            return hr;
        }()) << c.what;
        EXPECT_EQ(2, server.table->Refs()) << c.what; // the map let go of the table (the test and the store hold it)
    }
}

TEST(NamedPropMap, UnbuiltEmptyAndFullMaps)
{
    CNamedPropMap unbuilt;
    HRESULT hr = S_OK;
    EXPECT_EQ(kNoNamedPropTag, TagFor(unbuilt, kPublicStrings, L"A", 0, true, &hr));
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_RESOURCES, hr);
    TagFor(unbuilt, kPublicStrings, L"A", 0, false, &hr);
    EXPECT_EQ(MAPI_E_NOT_FOUND, hr);
    LPMAPINAMEID name = nullptr;
    EXPECT_EQ(MAPI_E_NOT_FOUND, unbuilt.GetNameForId(0x80000000, nullptr, &name));

    CNamedPropMap empty;
    ASSERT_EQ(S_OK, empty.CreateEmpty());
    EXPECT_EQ(0x80000000u, TagFor(empty, kPublicStrings, L"A", 0, true));

    // A server that has no table gives an empty map.
    SServer none;
    none.store->namedProps->Release();
    none.store->namedProps = nullptr;
    CNamedPropMap fromNone;
    ASSERT_EQ(S_OK, fromNone.LoadFromServer(none.store));
    EXPECT_EQ(0x8000u, fromNone.NextId());

    // The last id is 0xFFFE; 0xFFFF is never handed out.
    SServer full({StringRow(0xFFFE, kPublicStrings, L"Last")});
    CNamedPropMap map;
    ASSERT_EQ(S_OK, map.LoadFromServer(full.store));
    EXPECT_EQ(kNoNamedPropTag, TagFor(map, kPublicStrings, L"More", 0, true, &hr));
    EXPECT_EQ(MAPI_E_NOT_ENOUGH_RESOURCES, hr);

    ULONG tag = 0;
    EXPECT_EQ(E_INVALIDARG, empty.GetIdForName(&kPublicStrings, L"A", 0, MNID_STRING, false, nullptr));
    EXPECT_EQ(E_INVALIDARG, empty.GetIdForName(nullptr, L"A", 0, MNID_STRING, true, &tag));
    EXPECT_EQ(kNoNamedPropTag, tag);
    EXPECT_EQ(E_INVALIDARG, empty.GetIdForName(&kPublicStrings, nullptr, 0, MNID_STRING, true, &tag));
    EXPECT_EQ(E_INVALIDARG, empty.GetNameForId(0x80000000, nullptr, nullptr));
}

TEST(NamedPropMap, ThreadsCreatingTheSameNamesGetOneIdEach)
{
    CNamedPropMap map;
    ASSERT_EQ(S_OK, map.CreateEmpty());
    constexpr int kNames = 40;
    constexpr int kThreads = 4;
    std::vector<std::vector<ULONG>> tags(kThreads, std::vector<ULONG>(kNames));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kNames; ++i) {
                const int n = (i + t * 7) % kNames; // each thread in its own order
                const std::wstring name = L"name" + std::to_wstring(n);
                tags[t][n] = TagFor(map, kPublicStrings, name.c_str(), 0, true);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::map<ULONG, int> owners;
    for (int n = 0; n < kNames; ++n) {
        for (int t = 1; t < kThreads; ++t)
            EXPECT_EQ(tags[0][n], tags[t][n]) << n;
        EXPECT_TRUE(owners.emplace(tags[0][n], n).second) << n;
        EXPECT_GE(tags[0][n], 0x80000000u);
    }
    EXPECT_EQ(0x8000u + kNames, map.NextId());
}

TEST(NamedPropMap, LoadsTheStoreFoundByItsGlobalInterfaceTableCookie)
{
    CComInit com;
    SServer server({StringRow(0x8000, kPublicStrings, L"Keywords")});
    ComPtr<IGlobalInterfaceTable> git;
    ASSERT_EQ(S_OK, common::CreateGlobalInterfaceTable(&git));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, git->RegisterInterfaceInGlobal(static_cast<IEseStore*>(server.store), IID_IEseStore, &cookie));
    CNamedPropMap map;
    EXPECT_EQ(S_OK, map.LoadFromStore(cookie));
    EXPECT_EQ(0x80000000u, TagFor(map, kPublicStrings, L"Keywords", 0, false));
    EXPECT_EQ(S_OK, git->RevokeInterfaceFromGlobal(cookie));

    CNamedPropMap unknown;
    EXPECT_TRUE(FAILED(unknown.LoadFromStore(cookie))); // revoked
    EXPECT_EQ(0xFFFFu, unknown.NextId());
}

} // namespace
