#include "ProviderPlatform.h"
#include "NamedPropRequests.h"
#include "CNamedPropMap.h"
#include "MapiPtr.h"
#include "testing/FakeEseServer.h"
#include "testing/ProviderTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using providertest::CFakeEseProperty;

const GUID kPublicStrings = {0x00020329, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kAddress = {0x00062004, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

MAPINAMEID StringName(const GUID& guid, const wchar_t* name)
{
    MAPINAMEID id = {};
    id.lpguid = const_cast<GUID*>(&guid);
    id.ulKind = MNID_STRING;
    id.Kind.lpwstrName = const_cast<LPWSTR>(name);
    return id;
}

MAPINAMEID NumericName(const GUID& guid, LONG lid)
{
    MAPINAMEID id = {};
    id.lpguid = const_cast<GUID*>(&guid);
    id.ulKind = MNID_ID;
    id.Kind.lID = lid;
    return id;
}

class NamedPropRequests : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, map.CreateEmpty());
        ULONG tag = 0;
        ASSERT_EQ(S_OK, map.GetIdForName(&kPublicStrings, L"Keywords", 0, MNID_STRING, true, &tag)); // 0x8000
        ASSERT_EQ(S_OK, map.GetIdForName(&kAddress, nullptr, 0x8084, MNID_ID, true, &tag));        // 0x8001
        server = new CFakeEseProperty;
        server->names = {{kAddress, MNID_STRING, L"Server", 0, 0x8100}, {kAddress, MNID_ID, L"", 0x8005, 0x8101}};
    }
    void TearDown() override { server->Release(); }

    SNamedPropSource MapOnly() const
    {
        SNamedPropSource source;
        source.map = const_cast<CNamedPropMap*>(&map);
        source.server = server;
        source.serverIid = &IID_IEseProperty;
        return source;
    }
    SNamedPropSource ServerFirst() const
    {
        SNamedPropSource source = MapOnly();
        source.serverResolves = true;
        return source;
    }

    providertest::CScratchDir logDir;
    CNamedPropMap map;
    CFakeEseProperty* server = nullptr;
};

TEST_F(NamedPropRequests, GetIDsFromNamesChecksItsArguments)
{
    MAPINAMEID name = StringName(kPublicStrings, L"Keywords");
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    SNamedPropSource noStore = MapOnly();
    noStore.map = nullptr;
    struct Case {
        const char* what;
        SNamedPropSource source;
        ULONG count;
        LPMAPINAMEID* names;
        LPSPropTagArray* out;
        HRESULT hr;
    };
    const Case cases[] = {
        {"no result pointer", MapOnly(), 1, names, nullptr, E_INVALIDARG},
        {"names with a count of 0", MapOnly(), 0, names, &tags, E_INVALIDARG},
        {"a count without names", MapOnly(), 1, nullptr, &tags, E_INVALIDARG},
        {"store not open", noStore, 1, names, &tags, E_FAIL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.hr, GetIDsFromNamesFor(c.source, c.count, c.names, 0,
                                           c.out))
            << c.what;
        EXPECT_EQ(nullptr, tags) << c.what;
    }
}

TEST_F(NamedPropRequests, GetIDsFromNamesFromTheMapOrTheServer)
{
    MAPINAMEID keywords = StringName(kPublicStrings, L"Keywords");
    MAPINAMEID lid = NumericName(kAddress, 0x8084);
    MAPINAMEID onServer = StringName(kAddress, L"Server");
    MAPINAMEID fresh = StringName(kPublicStrings, L"Fresh");
    LPMAPINAMEID names[] = {&keywords, &lid, &onServer, &fresh, nullptr};
    struct Case {
        const char* what;
        bool serverFirst;
        ULONG flags;
        HRESULT hr;
        std::vector<ULONG> tags;
    };
    const Case cases[] = {
        {"map, without create", false, 0, MAPI_W_ERRORS_RETURNED,
         {0x80000000, 0x80010000, 0x0000000A, 0x0000000A, 0x0000000A}},
        {"map, with create", false, MAPI_CREATE, MAPI_W_ERRORS_RETURNED, // the null entry stays unknown
         {0x80000000, 0x80010000, 0x80020000, 0x80030000, 0x0000000A}},
        {"map again: the made ids stay", false, MAPI_CREATE, MAPI_W_ERRORS_RETURNED,
         {0x80000000, 0x80010000, 0x80020000, 0x80030000, 0x0000000A}},
        {"server first, without create", true, 0, MAPI_W_ERRORS_RETURNED,
         {0x0000000A, 0x0000000A, 0x81000000, 0x0000000A, 0x0000000A}},
        {"server first, the map makes or finds the rest", true, MAPI_CREATE, MAPI_W_ERRORS_RETURNED,
         {0x80000000, 0x80010000, 0x81000000, 0x80030000, 0x0000000A}},
    };
    for (const Case& c : cases) {
        LPSPropTagArray raw = nullptr;
        const HRESULT hr = GetIDsFromNamesFor(c.serverFirst ? ServerFirst() : MapOnly(), 5, names, c.flags, &raw);
        MapiPtr<SPropTagArray> tags(raw);
        EXPECT_EQ(c.hr, hr) << c.what;
        ASSERT_NE(nullptr, tags) << c.what;
        EXPECT_EQ(std::vector<ULONG>(tags->aulPropTag, tags->aulPropTag + tags->cValues), c.tags) << c.what;
    }

    LPMAPINAMEID known[] = {&keywords, &lid};
    LPSPropTagArray raw = nullptr;
    EXPECT_EQ(S_OK, GetIDsFromNamesFor(MapOnly(), 2, known, 0, &raw));
    MAPIFreeBuffer(raw);
}

TEST_F(NamedPropRequests, GetIDsFromNamesWithoutNamesListsTheServersTags)
{
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, GetIDsFromNamesFor(MapOnly(), 0, nullptr, 0, &raw));
    MapiPtr<SPropTagArray> tags(raw);
    EXPECT_EQ(0u, server->lastNameCount);
    EXPECT_EQ((std::vector<ULONG>{0x81000000, 0x81010000}),
              std::vector<ULONG>(tags->aulPropTag, tags->aulPropTag + tags->cValues));

    SNamedPropSource noServer = MapOnly();
    noServer.server = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, GetIDsFromNamesFor(noServer, 0, nullptr, 0, &raw));
}

// A server failure is raised with the server's error information, for the
// calling object's boundary to record under its own method name.
TEST_F(NamedPropRequests, ServerFailuresAreRaisedWithTheServersError)
{
    server->result = E_FAIL;
    MAPINAMEID name = StringName(kAddress, L"Server");
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    try {
        GetIDsFromNamesFor(ServerFirst(), 1, names, 0, &tags);
        ADD_FAILURE() << "no failure raised";
    } catch (const _com_error& error) {
        EXPECT_EQ(E_FAIL, error.Error());
        const _bstr_t description = error.Description();
        ASSERT_NE(nullptr, static_cast<const wchar_t*>(description));
        EXPECT_NE(std::wstring::npos, std::wstring(static_cast<const wchar_t*>(description)).find(L"failed on purpose"));
    }
    EXPECT_EQ(nullptr, tags);

    SizedSPropTagArray(1, ask) = {1, {0x81000000}};
    LPSPropTagArray askPtr = reinterpret_cast<LPSPropTagArray>(&ask);
    ULONG count = 7;
    LPMAPINAMEID* out = nullptr;
    EXPECT_THROW(GetNamesFromIDsFor(ServerFirst(), &askPtr, nullptr, 0, &count, &out), _com_error);
    EXPECT_EQ(0u, count);
    EXPECT_EQ(nullptr, out);
}

// What each kind of object answers when asked for every named property.
TEST_F(NamedPropRequests, EveryNamedPropertyAsTheObjectAnswersIt)
{
    SNamedPropSource store = MapOnly();
    store.allNames = SNamedPropSource::EAllNames::Empty;
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, GetIDsFromNamesFor(store, 0, nullptr, 0, &raw));
    MapiPtr<SPropTagArray> tags(raw);
    ASSERT_NE(nullptr, tags);
    EXPECT_EQ(0u, tags->cValues);
    EXPECT_EQ(0xFFFFFFFFu, server->lastNameCount) << "the server is not asked";

    SNamedPropSource subtree = MapOnly();
    subtree.allNames = SNamedPropSource::EAllNames::NoSupport;
    raw = reinterpret_cast<LPSPropTagArray>(1);
    EXPECT_EQ(MAPI_E_NO_SUPPORT, GetIDsFromNamesFor(subtree, 0, nullptr, 0, &raw));
    EXPECT_EQ(nullptr, raw);
    // The argument checks come first for every kind.
    MAPINAMEID name = StringName(kPublicStrings, L"Keywords");
    LPMAPINAMEID names[] = {&name};
    EXPECT_EQ(E_INVALIDARG, GetIDsFromNamesFor(subtree, 0, names, 0, &raw));
    EXPECT_EQ(E_INVALIDARG, GetIDsFromNamesFor(store, 1, nullptr, 0, &raw));
}

TEST_F(NamedPropRequests, GetNamesFromIDsChecksItsArguments)
{
    SizedSPropTagArray(1, one) = {1, {0x80000000}};
    SizedSPropTagArray(1, none) = {0, {0}};
    LPSPropTagArray onePtr = reinterpret_cast<LPSPropTagArray>(&one);
    LPSPropTagArray nonePtr = reinterpret_cast<LPSPropTagArray>(&none);
    LPSPropTagArray nullTags = nullptr;
    ULONG count = 0;
    LPMAPINAMEID* names = nullptr;
    SNamedPropSource noStore = MapOnly();
    noStore.map = nullptr;
    struct Case {
        const char* what;
        SNamedPropSource source;
        LPSPropTagArray* tags;
        ULONG* count;
        LPMAPINAMEID** names;
        HRESULT hr;
    };
    const Case cases[] = {
        {"no count pointer", MapOnly(), &onePtr, nullptr, &names, E_INVALIDARG},
        {"no names pointer", MapOnly(), &onePtr, &count, nullptr, E_INVALIDARG},
        {"store not open", noStore, &onePtr, &count, &names, E_FAIL},
        {"every name asked (null tag array)", MapOnly(), &nullTags, &count, &names, MAPI_E_NO_SUPPORT},
        {"every name asked (no pointer)", MapOnly(), nullptr, &count, &names, MAPI_E_NO_SUPPORT},
        {"a tag array of count 0", MapOnly(), &nonePtr, &count, &names, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.hr, GetNamesFromIDsFor(c.source, c.tags, nullptr, 0,
                                           c.count, c.names))
            << c.what;
        EXPECT_EQ(nullptr, names) << c.what;
    }
}

TEST_F(NamedPropRequests, GetNamesFromIDsMarksUnknownIds)
{
    struct Case {
        const char* what;
        bool serverFirst;
    };
    const Case cases[] = {{"map", false}, {"server first", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Known to the map: 0x8000, 0x8001; known to the server: 0x8100, 0x8101.
        const ULONG known0 = c.serverFirst ? 0x81000000 : 0x80000000;
        const ULONG known1 = c.serverFirst ? 0x81010003 : 0x80010003;
        SizedSPropTagArray(3, ask) = {3, {known0, 0x9000001F, known1}};
        LPSPropTagArray askPtr = reinterpret_cast<LPSPropTagArray>(&ask);
        ULONG count = 0;
        LPMAPINAMEID* raw = nullptr;
        EXPECT_EQ(MAPI_W_ERRORS_RETURNED,
                  GetNamesFromIDsFor(c.serverFirst ? ServerFirst() : MapOnly(),
                                     &askPtr, nullptr, 0, &count, &raw));
        MapiPtr<LPMAPINAMEID> names(raw);
        ASSERT_EQ(3u, count);
        ASSERT_NE(nullptr, names);
        ASSERT_NE(nullptr, names.get()[0]);
        EXPECT_EQ(static_cast<ULONG>(MNID_STRING), names.get()[0]->ulKind);
        EXPECT_STREQ(c.serverFirst ? L"Server" : L"Keywords", names.get()[0]->Kind.lpwstrName);
        EXPECT_TRUE(IsEqualGUID(c.serverFirst ? kAddress : kPublicStrings, *names.get()[0]->lpguid));
        EXPECT_EQ(nullptr, names.get()[1]);
        EXPECT_EQ(0x9000000Au, ask.aulPropTag[1]); // the caller's tag, now PT_ERROR
        ASSERT_NE(nullptr, names.get()[2]);
        EXPECT_EQ(static_cast<ULONG>(MNID_ID), names.get()[2]->ulKind);
        EXPECT_EQ(c.serverFirst ? 0x8005 : 0x8084, names.get()[2]->Kind.lID);
        EXPECT_EQ(known1, ask.aulPropTag[2]);
    }
}

} // namespace
