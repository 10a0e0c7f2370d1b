// Every buffer the provider hands a MAPI client comes from the memory
// routines MAPI gave MSProviderInit. The subsystem here hands the provider
// routines of this test (exported below and named to the subsystem through
// its environment switch) that record each block they make; every buffer a
// client receives, and every block hanging on it, must be one of them.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/ProviderFixture.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

std::mutex g_lock;
std::set<const void*> g_blocks;
size_t g_made = 0;

void Record(const void* block)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_blocks.insert(block);
    ++g_made;
}

bool Recorded(const void* block)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_blocks.count(block) != 0;
}

} // namespace

// The routines the subsystem hands the provider instead of its exports.
// They make MAPI blocks (clients free them with MAPIFreeBuffer) and remember
// each one.
extern "C" __declspec(dllexport) SCODE WINAPI MapiStubAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer)
{
    SCODE sc = MAPIAllocateBuffer(cbSize, lppBuffer);
    if (SUCCEEDED(sc))
        Record(*lppBuffer);
    return sc;
}

extern "C" __declspec(dllexport) SCODE WINAPI MapiStubAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer)
{
    SCODE sc = MAPIAllocateMore(cbSize, lpObject, lppBuffer);
    if (SUCCEEDED(sc))
        Record(*lppBuffer);
    return sc;
}

extern "C" __declspec(dllexport) ULONG WINAPI MapiStubFreeBuffer(LPVOID lpBuffer)
{
    return MAPIFreeBuffer(lpBuffer);
}

namespace {

// A value's own blocks: strings, binaries, arrays.
void ExpectValueBlocks(const SPropValue& value, const char* what)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_UNICODE:
        EXPECT_TRUE(Recorded(value.Value.lpszW)) << what << " " << std::hex << value.ulPropTag;
        break;
    case PT_STRING8:
        EXPECT_TRUE(Recorded(value.Value.lpszA)) << what << " " << std::hex << value.ulPropTag;
        break;
    case PT_BINARY:
        if (value.Value.bin.cb)
            EXPECT_TRUE(Recorded(value.Value.bin.lpb)) << what << " " << std::hex << value.ulPropTag;
        break;
    default:
        break;
    }
}

class ProviderMemoryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring name = exe;
        name = name.substr(name.find_last_of(L'\\') + 1);
        SetEnvironmentVariableW(L"MAPISTUB_PROVIDER_MEMORY", name.c_str());
        s_client = new CMapiClient();
    }
    static void TearDownTestSuite()
    {
        delete s_client;
        SetEnvironmentVariableW(L"MAPISTUB_PROVIDER_MEMORY", nullptr);
    }
    static CMapiClient* s_client;
};

CMapiClient* ProviderMemoryTest::s_client = nullptr;

TEST_F(ProviderMemoryTest, EveryBufferComesFromTheRoutinesMapiGave)
{
    ASSERT_EQ(S_OK, s_client->Status());
    SStoreSettings settings;
    settings.databasePath = CFixtureFiles::Instance().Mailbox(EGeneration::Exchange2007);
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    CStoreSession session(settings, L"MemoryTest");
    ASSERT_EQ(S_OK, session.Status());
    IMsgStore* store = session.Store();
    const SMailboxFixture& ids = CFixtureFiles::Instance().MailboxIds();
    ASSERT_LT(0u, g_made) << "the provider was handed this test's routines";

    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> storeProps =
        GetProps(store, {PR_DISPLAY_NAME_W, PR_STORE_ENTRYID, PR_RECORD_KEY, PR_IPM_SUBTREE_ENTRYID}, hr);
    ASSERT_NE(nullptr, storeProps);
    EXPECT_TRUE(Recorded(storeProps.get()));
    for (int i = 0; i < 4; ++i)
        ExpectValueBlocks(storeProps.get()[i], "store GetProps");

    LPSPropTagArray list = nullptr;
    ASSERT_EQ(S_OK, store->GetPropList(0, &list));
    EXPECT_TRUE(Recorded(list));
    MAPIFreeBuffer(list);

    ULONG cb = 0;
    LPENTRYID receive = nullptr;
    ASSERT_EQ(S_OK, store->GetReceiveFolder(nullptr, 0, &cb, &receive, nullptr));
    EXPECT_TRUE(Recorded(receive));
    MAPIFreeBuffer(receive);

    LPMAPIERROR error = nullptr;
    ASSERT_EQ(S_OK, store->GetLastError(S_OK, MAPI_UNICODE, &error));
    EXPECT_TRUE(Recorded(error));
    EXPECT_TRUE(Recorded(error->lpszComponent));
    MAPIFreeBuffer(error);

    static const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID name = {const_cast<GUID*>(&kPublicStrings), MNID_STRING, {}};
    name.Kind.lpwstrName = const_cast<LPWSTR>(L"Keywords");
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(S_OK, store->GetIDsFromNames(1, names, 0, &tags));
    EXPECT_TRUE(Recorded(tags));
    ULONG count = 0;
    LPMAPINAMEID* found = nullptr;
    ASSERT_EQ(S_OK, store->GetNamesFromIDs(&tags, nullptr, 0, &count, &found));
    EXPECT_TRUE(Recorded(found));
    EXPECT_TRUE(Recorded(found[0]));
    EXPECT_TRUE(Recorded(found[0]->Kind.lpwstrName));
    MAPIFreeBuffer(found);
    MAPIFreeBuffer(tags);

    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(store, FolderId(session.Uid(), ids.alice.rootId, ids.inbox), 0, &type,
                              object.GetAddressOf()));
    ComPtr<IMAPIFolder> inbox;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(inbox.GetAddressOf())));
    ClientBuffer<SPropValue> folderProps =
        GetProps(inbox.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_CONTAINER_CLASS_W, PR_STORE_ENTRYID}, hr);
    ASSERT_NE(nullptr, folderProps);
    EXPECT_TRUE(Recorded(folderProps.get()));
    for (int i = 0; i < 4; ++i)
        ExpectValueBlocks(folderProps.get()[i], "folder GetProps");
    ASSERT_EQ(S_OK, inbox->GetPropList(0, &list));
    EXPECT_TRUE(Recorded(list));
    MAPIFreeBuffer(list);

    // Rows of the provider's tables, from the table data it made.
    for (bool contents : {true, false}) {
        ComPtr<IMAPITable> table;
        ASSERT_EQ(S_OK, contents ? inbox->GetContentsTable(0, table.GetAddressOf())
                                 : inbox->GetHierarchyTable(0, table.GetAddressOf()));
        ClientRows rows = AllRows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_W, PR_SUBJECT_W, PR_INSTANCE_KEY});
        ASSERT_NE(nullptr, rows);
        ASSERT_LT(0u, rows->cRows);
        for (ULONG r = 0; r < rows->cRows; ++r) {
            EXPECT_TRUE(Recorded(rows->aRow[r].lpProps)) << (contents ? "contents" : "hierarchy") << " row " << r;
            for (ULONG v = 0; v < rows->aRow[r].cValues; ++v)
                ExpectValueBlocks(rows->aRow[r].lpProps[v], contents ? "contents row" : "hierarchy row");
        }
    }
}

} // namespace
