// The rows a folder's contents and hierarchy tables take from the server's
// rows, over server objects of the test's: which rows are kept (normal or
// associated messages, hidden ones, rows without their identifiers) and
// what the provider adds to each.
#include "ProviderPlatform.h"
#include "CContentsTable.h"
#include "CFolder.h"
#include "ProviderMemory.h"
#include "ServerInterfaces.h"
#include "testing/FakeEseServer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace providertest;

namespace {

constexpr ULONG kPrMid = 0x674A0014;
constexpr ULONG kPrMsgLink = 0x67B00102;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMessageFlags = 0x0E070003;
constexpr ULONG kPrHidden = 0x36410003;
constexpr ULONG kPrMailboxRootFid = 0x67640014;

SFakeValue I8(ULONG tag, LONGLONG v) { return {tag, ESE_PT_INT64, v, {}, {}}; }

std::vector<SFakeValue> MessageRow(LONGLONG mid, LONG flags, bool hidden, const std::wstring& subject)
{
    const BYTE link[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::vector<SFakeValue> row = {I8(kPrMid, mid), FakeBytes(kPrMsgLink, link, 8), I8(kPrFid, 0x100),
                                   FakeLong(kPrMessageFlags, flags),
                                   hidden ? FakeLong(kPrHidden, 1) : FakeNull(kPrHidden),
                                   FakeText(PR_SUBJECT_W, subject)};
    return row;
}

class ServerRowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        folder = new CFakeEseFolder;
        folder->messages = new CFakeEseTable;
        folder->folders = new CFakeEseTable;
        cookie = RegisterServerInterface(static_cast<IEseFolder*>(folder), IID_IEseFolder);
        MAPIUID store;
        std::memset(store.ab, 0x42, sizeof(store.ab));
        folderId = CEntryId(kEntryFolder, store);
        folderId.idRoot = 0x77;
        folderId.fid = 0x100;
    }
    void TearDown() override
    {
        RevokeServerInterface(cookie);
        folder->Release();
        CoUninitialize();
    }

    // The hierarchy table of a provider folder over the fake server folder.
    ComPtr<IMAPITable> HierarchyTable()
    {
        IMAPIFolder* raw = nullptr;
        const HRESULT created = CFolder::Create(
            CServerCookie(RegisterServerInterface(static_cast<IEseFolder*>(folder), IID_IEseFolder)), folderId,
            nullptr, CEntryId(kEntryMessageStore, folderId.storeUid), &raw);
        EXPECT_EQ(S_OK, created);
        ComPtr<IMAPITable> table;
        if (FAILED(created))
            return table;
        ComPtr<IMAPIFolder> provider;
        *provider.GetAddressOf() = raw; // its first reference, taken over
        EXPECT_EQ(S_OK, provider->GetHierarchyTable(0, table.GetAddressOf()));
        return table;
    }

    ComPtr<ITableData> NewContentsData()
    {
        SizedSPropTagArray(1, columns) = {1, {PR_INSTANCE_KEY}};
        const SMapiMemory memory = ProviderMapiMemory();
        ComPtr<ITableData> data;
        EXPECT_EQ(S_OK, CreateTable(nullptr, memory.allocateBuffer, memory.allocateMore, memory.freeBuffer, nullptr,
                                    TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                                    data.GetAddressOf()));
        return data;
    }

    static std::vector<std::wstring> Subjects(IMAPITable* table)
    {
        SizedSPropTagArray(1, columns) = {1, {PR_SUBJECT_W}};
        EXPECT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, table->QueryRows(100, 0, &rows));
        std::vector<std::wstring> subjects;
        for (ULONG r = 0; rows && r < rows->cRows; ++r)
            subjects.push_back(rows->aRow[r].lpProps[0].Value.lpszW);
        FreeProws(rows);
        return subjects;
    }

    CFakeEseFolder* folder = nullptr;
    DWORD cookie = 0;
    CEntryId folderId;
};

TEST_F(ServerRowsTest, ContentsKeepTheirKindOfMessageAndNoHiddenOnes)
{
    folder->messages->rows = {MessageRow(1, 0, false, L"normal"), MessageRow(2, MSGFLAG_ASSOCIATED, false, L"view"),
                              MessageRow(3, 0, true, L"hidden"), MessageRow(4, MSGFLAG_ASSOCIATED, true, L"hidden view"),
                              MessageRow(5, MSGFLAG_READ, false, L"read")};
    // A row whose first columns are not the identifiers is no message.
    std::vector<SFakeValue> broken = MessageRow(6, 0, false, L"broken");
    broken[1] = FakeNull(kPrMsgLink);
    folder->messages->rows.push_back(broken);

    struct Case {
        bool associated;
        std::vector<std::wstring> subjects;
    };
    const Case cases[] = {{false, {L"normal", L"read"}}, {true, {L"view"}}};
    for (const Case& c : cases) {
        ComPtr<ITableData> data = NewContentsData();
        ComPtr<IMAPITable> table;
        ASSERT_EQ(S_OK, CContentsTable::Create(data.Get(), cookie, folderId, c.associated, nullptr,
                                               table.GetAddressOf()));
        EXPECT_EQ(c.subjects, Subjects(table.Get())) << (c.associated ? "associated" : "normal");
        // The server was asked for its five columns before the caller's.
        EXPECT_EQ((std::vector<ULONG>{kPrMid, kPrMsgLink, kPrFid, kPrMessageFlags, kPrHidden, PR_SUBJECT_W}),
                  folder->messages->columnsAsked);
        // Rows are keyed by their instance key even when it was not asked
        // for: the data holds it as the row's last value.
        SPropValue key = {};
        key.ulPropTag = PR_INSTANCE_KEY;
        const BYTE expected[8] = {0, 0, 0, 0, 1, 0, 0, 0};
        key.Value.bin.cb = 8;
        key.Value.bin.lpb = const_cast<BYTE*>(expected);
        LPSRow row = nullptr;
        if (!c.associated) {
            ASSERT_EQ(S_OK, data->HrQueryRow(&key, &row, nullptr));
            ASSERT_NE(nullptr, row);
            EXPECT_EQ(PR_INSTANCE_KEY, row->lpProps[row->cValues - 1].ulPropTag);
            MAPIFreeBuffer(row);
        }
    }
}

TEST_F(ServerRowsTest, AFolderWithoutAMessageTableHasNoRows)
{
    folder->messagesResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    ComPtr<ITableData> data = NewContentsData();
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, CContentsTable::Create(data.Get(), cookie, folderId, false, nullptr, table.GetAddressOf()));
    EXPECT_TRUE(Subjects(table.Get()).empty());
}

TEST_F(ServerRowsTest, HierarchyRowsWithoutTheirIdsAreLeftOut)
{
    auto row = [](const SFakeValue& fid, const SFakeValue& root, const std::wstring& name) {
        std::vector<SFakeValue> values = {fid, root, FakeNull(0x3004001F), FakeText(0x3001001F, name)};
        const ULONG rest[] = {0x36010003, 0x36020003, 0x36030003, 0x3613001F, 0x10F4000B, 0x36DA0102, 0x36DE0003,
                              0x672D0003, 0x67310003, 0x67300014, 0x6732001F, 0x6733001F, 0x360A000B};
        for (ULONG tag : rest)
            values.push_back(FakeNull(tag));
        return values;
    };
    folder->folders->rows = {row(I8(kPrFid, 0x201), I8(kPrMailboxRootFid, 0x77), L"kept"),
                             row(FakeNull(kPrFid), I8(kPrMailboxRootFid, 0x77), L"no folder id"),
                             row(I8(kPrFid, 0x203), FakeNull(kPrMailboxRootFid), L"no root id"),
                             row(I8(kPrFid, 0x204), I8(kPrMailboxRootFid, 0x77), L"kept too")};
    ComPtr<IMAPITable> table = HierarchyTable();
    ASSERT_NE(nullptr, table);
    SizedSPropTagArray(2, columns) = {2, {PR_DISPLAY_NAME_W, PR_ENTRYID}};
    ASSERT_EQ(S_OK, table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    LPSRowSet rows = nullptr;
    ASSERT_EQ(S_OK, table->QueryRows(10, 0, &rows));
    ASSERT_EQ(2u, rows->cRows);
    EXPECT_STREQ(L"kept", rows->aRow[0].lpProps[0].Value.lpszW);
    EXPECT_STREQ(L"kept too", rows->aRow[1].lpProps[0].Value.lpszW);
    CEntryId child;
    std::memcpy(static_cast<void*>(&child), rows->aRow[1].lpProps[1].Value.bin.lpb, sizeof(child));
    EXPECT_EQ(static_cast<ULONG>(kEntryFolder), child.kind);
    EXPECT_EQ(0x204, child.fid);
    EXPECT_EQ(0x77, child.idRoot);
    FreeProws(rows);
}

TEST_F(ServerRowsTest, HierarchyRowsHoldOnlyTheColumnsAskedFor)
{
    // A server that hands out more values than it was asked for: the rest
    // has no place in the folder's row.
    std::vector<SFakeValue> values = {I8(kPrFid, 0x201), I8(kPrMailboxRootFid, 0x77), FakeNull(0x3004001F),
                                      FakeText(0x3001001F, L"wide row")};
    while (values.size() < 17)
        values.push_back(FakeNull(0x36010003));
    for (ULONG extra = 0; extra < 4000; ++extra)
        values.push_back(FakeText(PROP_TAG(PT_UNICODE, 0x4000 + extra), L"more than was asked for"));
    folder->folders->rows = {values};
    ComPtr<IMAPITable> table = HierarchyTable();
    ASSERT_NE(nullptr, table);
    LPSPropTagArray columns = nullptr;
    ASSERT_EQ(S_OK, table->QueryColumns(0, &columns));
    EXPECT_EQ(24u, columns->cValues);
    MAPIFreeBuffer(columns);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(S_OK, table->QueryRows(10, 0, &rows));
    ASSERT_EQ(1u, rows->cRows);
    EXPECT_EQ(24u, rows->aRow[0].cValues);
    EXPECT_EQ(PR_DISPLAY_NAME_W, rows->aRow[0].lpProps[10].ulPropTag);
    EXPECT_STREQ(L"wide row", rows->aRow[0].lpProps[10].Value.lpszW);
    FreeProws(rows);
}

} // namespace
