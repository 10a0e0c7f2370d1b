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

    // A search folder's criteria, copied in and handed back out: every block
    // of the copies, down to the restriction's values and texts.
    ClientBuffer<SPropValue> finder = GetProps(store, {0x35E70102}, hr);
    ASSERT_NE(nullptr, finder);
    ASSERT_EQ(static_cast<ULONG>(PT_BINARY), PROP_TYPE(finder->ulPropTag));
    ComPtr<IUnknown> rootObject;
    ASSERT_EQ(S_OK, store->OpenEntry(finder->Value.bin.cb, reinterpret_cast<LPENTRYID>(finder->Value.bin.lpb), nullptr,
                                     0, &type, rootObject.GetAddressOf()));
    ComPtr<IMAPIFolder> searchRoot;
    ASSERT_EQ(S_OK, rootObject->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(searchRoot.GetAddressOf())));
    ComPtr<IMAPIFolder> searchFolder;
    ASSERT_EQ(S_OK, searchRoot->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(L"Memory")),
                                             nullptr, nullptr, MAPI_UNICODE, searchFolder.GetAddressOf()));
    SPropValue words[2] = {};
    words[0].ulPropTag = PR_SUBJECT_W;
    words[0].Value.lpszW = const_cast<LPWSTR>(L"report");
    words[1].ulPropTag = PR_BODY_W;
    words[1].Value.lpszW = const_cast<LPWSTR>(L"figures");
    SRestriction either[2] = {};
    for (int i = 0; i < 2; ++i) {
        either[i].rt = RES_CONTENT;
        either[i].res.resContent.ulFuzzyLevel = FL_SUBSTRING;
        either[i].res.resContent.ulPropTag = words[i].ulPropTag;
        either[i].res.resContent.lpProp = &words[i];
    }
    SRestriction any = {};
    any.rt = RES_OR;
    any.res.resOr.cRes = 2;
    any.res.resOr.lpRes = either;
    CEntryId inboxId = FolderId(session.Uid(), ids.alice.rootId, ids.inbox);
    SBinary entry = {sizeof(CEntryId), reinterpret_cast<LPBYTE>(&inboxId)};
    ENTRYLIST containers = {1, &entry};
    ASSERT_EQ(S_OK, searchFolder->SetSearchCriteria(&any, &containers, 0));
    LPSRestriction criteria = nullptr;
    LPENTRYLIST searched = nullptr;
    ULONG state = 0;
    ASSERT_EQ(S_OK, searchFolder->GetSearchCriteria(0, &criteria, &searched, &state));
    ClientBuffer<SRestriction> criteriaOwner(criteria);
    ClientBuffer<ENTRYLIST> searchedOwner(searched);
    ASSERT_NE(nullptr, criteria);
    EXPECT_TRUE(Recorded(criteria));
    ASSERT_EQ(static_cast<ULONG>(RES_OR), criteria->rt);
    ASSERT_EQ(2u, criteria->res.resOr.cRes);
    EXPECT_TRUE(Recorded(criteria->res.resOr.lpRes));
    for (ULONG i = 0; i < 2; ++i) {
        const SPropValue* value = criteria->res.resOr.lpRes[i].res.resContent.lpProp;
        ASSERT_NE(nullptr, value);
        EXPECT_TRUE(Recorded(value)) << "restriction value " << i;
        ExpectValueBlocks(*value, "restriction value");
    }
    ASSERT_NE(nullptr, searched);
    EXPECT_TRUE(Recorded(searched));
    ASSERT_EQ(1u, searched->cValues);
    EXPECT_TRUE(Recorded(searched->lpbin));
    EXPECT_TRUE(Recorded(searched->lpbin[0].lpb));
}

} // namespace
