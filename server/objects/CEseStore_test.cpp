// The store, folder, mailbox and message objects in process, through their
// COM methods, over fixture databases: mailbox lists, root aliasing and the
// root's counters, message lists without child-folder entries, computed
// subjects and senders, the subfolders flag, attachment lists, streams, and
// the errors the objects report.
#include "Platform.h"
#include "objects/CEseStore.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

std::wstring Text(const _SEsePropertyValue& value)
{
    if (value.m_type == ESE_PT_STRING16 && value.m_value.m_p_ws)
        return value.m_value.m_p_ws;
    return L"<type " + std::to_wstring(value.m_type) + L">";
}

// Rows of a table with the given columns, each row's values kept as text or
// numbers for comparison.
struct SRows {
    std::vector<std::vector<_SEsePropertyValue>> rows;
    std::vector<_SEseRow> owned;
    ~SRows()
    {
        for (_SEseRow& row : owned)
            FreeEseValues(row.m_p_values, row.m_valueCount);
    }
};

HRESULT ReadRows(IEseTable* table, std::vector<ULONG> tags, SRows& out)
{
    HRESULT hr = table->SetColumns(static_cast<ULONG>(tags.size()), tags.data());
    if (FAILED(hr))
        return hr;
    ULONG count = 0;
    _SEseRow* rows = nullptr;
    hr = table->GetRows(0x7FFFFFFF, 1, &count, &rows);
    for (ULONG i = 0; i < count; ++i) {
        out.owned.push_back(rows[i]);
        out.rows.emplace_back(rows[i].m_p_values, rows[i].m_p_values + rows[i].m_valueCount);
    }
    CoTaskMemFree(rows);
    return hr;
}

std::vector<std::wstring> Column(const SRows& rows, size_t index)
{
    std::vector<std::wstring> texts;
    for (const auto& row : rows.rows)
        texts.push_back(Text(row[index]));
    return texts;
}

// The description of the thread's error object ("" when none).
std::wstring ErrorDescription()
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    return description;
}

int64_t Int64Of(IEseProperty* object, ULONG tag)
{
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    EXPECT_EQ(S_OK, object->GetProperties(1, &tag, &count, &values));
    int64_t value = count == 1 && values[0].m_type == ESE_PT_INT64 ? values[0].m_value.m_i64 : -12345;
    FreeEseValues(values, count);
    return value;
}

long Int32Of(IEseProperty* object, ULONG tag)
{
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    EXPECT_EQ(S_OK, object->GetProperties(1, &tag, &count, &values));
    long value = count == 1 && values[0].m_type == ESE_PT_INT32 ? values[0].m_value.m_i32 : -12345;
    FreeEseValues(values, count);
    return value;
}

std::wstring TextOf(IEseProperty* object, ULONG tag)
{
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    EXPECT_EQ(S_OK, object->GetProperties(1, &tag, &count, &values));
    std::wstring value = count == 1 ? Text(values[0]) : L"<none>";
    FreeEseValues(values, count);
    return value;
}

class StoreObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CExchangeDatabase database;
        s_owner = database.AddMailbox(L"Owner");
        s_upper = database.AddMailbox(L"Upper", ETopFolder::OtherCase);
        s_noTop = database.AddMailbox(L"No top", ETopFolder::Absent);
        database.SetFolderValue(s_owner.topId, Int32("L66B0", 8));
        s_inbox = database.AddFolder(s_owner.topId, L"Inbox");
        s_empty = database.AddFolder(s_owner.topId, L"Empty");
        database.AddFolder(s_inbox, L"Sub");

        SMessage prefixed;
        prefixed.subject = L"Other";
        prefixed.subjectPrefix = L"RE: ";
        prefixed.normalizedSubject = L"Hello";
        prefixed.senderEntry = SenderEntry(ESenderLayout::Long, ENameEncoding::Utf16, L"Bruno", true, "b@x.org");
        prefixed.body = std::wstring(6000, L'z');
        s_prefixed = database.AddMessage(s_inbox, prefixed);
        SAttachment first;
        first.fileName = L"one.txt";
        first.data = "first";
        SAttachment second;
        second.fileName = L"two.txt";
        second.data = "second";
        database.AddAttachment(s_prefixed, first);
        database.AddAttachment(s_prefixed, second);

        SMessage ansi;
        ansi.normalizedSubject = L"Plain";
        ansi.senderEntry = SenderEntry(ESenderLayout::Short, ENameEncoding::Ansi, L"Carla");
        ansi.senderName = L"Stored sender";
        s_ansi = database.AddMessage(s_inbox, ansi);
        database.SetAttachmentList(s_ansi, Bytes(13, '\1'));

        SMessage shortList;
        shortList.normalizedSubject = L"Short list";
        s_shortList = database.AddMessage(s_inbox, shortList);
        database.SetAttachmentList(s_shortList, Bytes(8, '\1'));

        SMessage top;
        top.normalizedSubject = L"In the top folder";
        database.AddMessage(s_owner.topId, top);

        s_store = new CFixtureStore(database);
    }
    static void TearDownTestSuite()
    {
        delete s_store;
        s_store = nullptr;
    }

    void SetUp() override
    {
        CEseStore* store = nullptr;
        ASSERT_EQ(S_OK, CEseStore::Create(&store));
        *m_store.GetAddressOf() = store; // takes the creation's reference
        store->SetContext(s_store->Context());
    }

    ComPtr<IEseFolder> Folder(int64_t id)
    {
        ComPtr<IEseFolder> folder;
        EXPECT_EQ(S_OK, m_store->GetFolder(id, 0, &folder));
        return folder;
    }

    ComPtr<IEseMessage> Message(int64_t folder, int64_t id)
    {
        ComPtr<IEseMessage> message;
        EXPECT_EQ(S_OK, Folder(folder)->GetMessage(id, &message));
        return message;
    }

    ComPtr<CEseStore> m_store;
    static CFixtureStore* s_store;
    static SMailbox s_owner, s_upper, s_noTop;
    static int64_t s_inbox, s_empty, s_prefixed, s_ansi, s_shortList;
};

CFixtureStore* StoreObjects::s_store = nullptr;
SMailbox StoreObjects::s_owner, StoreObjects::s_upper, StoreObjects::s_noTop;
int64_t StoreObjects::s_inbox, StoreObjects::s_empty, StoreObjects::s_prefixed, StoreObjects::s_ansi,
    StoreObjects::s_shortList;

} // namespace

TEST_F(StoreObjects, MailboxListsWithAndWithoutRootFolderColumns)
{
    ComPtr<IEseTable> brief, full, folders;
    ASSERT_EQ(S_OK, m_store->GetMailboxesTable(0, nullptr, 1, &brief));
    ASSERT_EQ(S_OK, m_store->GetMailboxesTable(0, nullptr, 0, &full));
    ASSERT_EQ(S_OK, m_store->GetFoldersTable(&folders));
    SRows briefRows, fullRows, folderRows;
    ASSERT_EQ(S_OK, ReadRows(brief.Get(), {0x3001001F, 0x67480014}, briefRows));
    ASSERT_EQ(S_OK, ReadRows(full.Get(), {0x3001001F, 0x67480014}, fullRows));
    ASSERT_EQ(S_OK, ReadRows(folders.Get(), {0x3001001F, 0x67480014}, folderRows));
    std::vector<std::wstring> names = {L"Owner", L"Upper", L"No top"};
    EXPECT_EQ(names, Column(briefRows, 0));
    EXPECT_EQ(names, Column(fullRows, 0));
    EXPECT_EQ(names, Column(folderRows, 0));
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(ESE_PT_ERROR, briefRows.rows[i][1].m_type) << "no folder column when brief";
        EXPECT_EQ(ESE_PT_INT64, fullRows.rows[i][1].m_type);
        EXPECT_EQ(fullRows.rows[i][1].m_value.m_i64, folderRows.rows[i][1].m_value.m_i64);
    }

    // Listed ids only.
    hyper ids[] = {s_noTop.rootId};
    ComPtr<IEseTable> one;
    ASSERT_EQ(S_OK, m_store->GetMailboxesTable(1, ids, 1, &one));
    SRows oneRow;
    ASSERT_EQ(S_OK, ReadRows(one.Get(), {0x3001001F}, oneRow));
    EXPECT_EQ(std::vector<std::wstring>{L"No top"}, Column(oneRow, 0));
}

TEST_F(StoreObjects, MailboxRootStandsInForItsTopOfInformationStore)
{
    struct Case {
        const char* name;
        SMailbox mailbox;
        std::vector<std::wstring> children;
    } cases[] = {
        {"named exactly", s_owner, {L"Empty", L"Inbox"}},
        {"named in other case", s_upper, {}},
        {"without such a child", s_noTop, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IEseFolder> root = Folder(c.mailbox.rootId);
        ASSERT_TRUE(root);
        ComPtr<IEseTable> children;
        ASSERT_EQ(S_OK, root->GetFoldersTable(&children));
        SRows rows;
        ASSERT_EQ(S_OK, ReadRows(children.Get(), {0x3001001F, 0x67490014}, rows));
        EXPECT_EQ(c.children, Column(rows, 0));
        for (const auto& row : rows.rows)
            EXPECT_EQ(c.mailbox.rootId, row[1].m_value.m_i64) << "children name the root as parent";
        // The root answers from its mailbox row first.
        EXPECT_EQ(c.mailbox.rootId, Int64Of(root.Get(), 0x67640014));
    }

    // The other-case child is the alias: its messages table exists (empty).
    ComPtr<IEseTable> upperMessages;
    EXPECT_EQ(S_OK, Folder(s_upper.rootId)->GetMessagesTable(&upperMessages));
    // Without an alias the root lists no messages: the table does not exist.
    ComPtr<IEseTable> none;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), Folder(s_noTop.rootId)->GetMessagesTable(&none));
    EXPECT_EQ(nullptr, none.Get());
}

TEST_F(StoreObjects, RootShowsTheCountersAndMessagesOfItsTopFolder)
{
    ComPtr<IEseFolder> root = Folder(s_owner.rootId);
    // The top folder holds one message; the root's own rows count none.
    EXPECT_EQ(1, Int32Of(root.Get(), 0x36020003));
    EXPECT_EQ(1, Int32Of(root.Get(), 0x36030003));
    EXPECT_EQ(8, Int32Of(root.Get(), 0x66B00003));

    ComPtr<IEseTable> messages;
    ASSERT_EQ(S_OK, root->GetMessagesTable(&messages));
    SRows rows;
    ASSERT_EQ(S_OK, ReadRows(messages.Get(), {0x0037001F, 0x67480014}, rows));
    ASSERT_EQ(1u, rows.rows.size()) << "the child-folder entries are no messages";
    EXPECT_EQ(L"In the top folder", Text(rows.rows[0][0]));
    EXPECT_EQ(s_owner.rootId, rows.rows[0][1].m_value.m_i64) << "messages name the root as their folder";

    // The mailbox list shows the same counters for the root.
    ComPtr<IEseTable> mailboxes;
    ASSERT_EQ(S_OK, m_store->GetMailboxesTable(0, nullptr, 0, &mailboxes));
    SRows mailboxRows;
    ASSERT_EQ(S_OK, ReadRows(mailboxes.Get(), {0x36020003}, mailboxRows));
    EXPECT_EQ(1, mailboxRows.rows[0][0].m_value.m_i32);
}

TEST_F(StoreObjects, MessageListsComputeSubjectsAndSenders)
{
    ComPtr<IEseTable> messages;
    ASSERT_EQ(S_OK, Folder(s_inbox)->GetMessagesTable(&messages));
    SRows rows;
    ASSERT_EQ(S_OK, ReadRows(messages.Get(), {0x0037001F, 0x0042001F, 0x0064001F, 0x0C1A001F, 0x674A0014}, rows));
    ASSERT_EQ(3u, rows.rows.size()) << "the entry row of the child folder is left out";
    EXPECT_EQ((std::vector<std::wstring>{L"RE: Hello", L"Plain", L"Short list"}), Column(rows, 0));
    // A stored sender name wins over the entry's.
    EXPECT_EQ((std::vector<std::wstring>{L"Bruno", L"Stored sender", L"<type 0>"}), Column(rows, 1));
    EXPECT_EQ((std::vector<std::wstring>{L"SMTP", L"EX", L"<type 0>"}), Column(rows, 2));
    EXPECT_EQ((std::vector<std::wstring>{L"Bruno", L"Stored sender", L"<type 0>"}), Column(rows, 3));
    for (const auto& row : rows.rows)
        EXPECT_EQ(5u, row.size()) << "no source values in the row";

    // Asked alone, the representing name is a copy of the stored sender
    // name only: the entry is not read for it.
    ComPtr<IEseTable> alone;
    ASSERT_EQ(S_OK, Folder(s_inbox)->GetMessagesTable(&alone));
    SRows aloneRows;
    ASSERT_EQ(S_OK, ReadRows(alone.Get(), {0x0C1A001F}, aloneRows));
    ASSERT_EQ(3u, aloneRows.rows.size());
    EXPECT_EQ((std::vector<std::wstring>{L"<type 0>", L"Stored sender", L"<type 0>"}), Column(aloneRows, 0));
    EXPECT_EQ(1u, aloneRows.rows[1].size());
}

TEST_F(StoreObjects, SubfoldersFlagTellsWhetherAFolderHasChildren)
{
    ComPtr<IEseTable> children;
    ASSERT_EQ(S_OK, Folder(s_owner.rootId)->GetFoldersTable(&children));
    SRows rows;
    ASSERT_EQ(S_OK, ReadRows(children.Get(), {0x3001001F, 0x360A000B}, rows));
    std::map<std::wstring, int> flags;
    for (const auto& row : rows.rows) {
        EXPECT_EQ(ESE_PT_BOOL, row[1].m_type);
        flags[Text(row[0])] = row[1].m_value.m_b;
    }
    EXPECT_EQ((std::map<std::wstring, int>{{L"Empty", 0}, {L"Inbox", 1}}), flags);
}

TEST_F(StoreObjects, FolderIsTheSameForAnyRootId)
{
    for (int64_t idRoot : {int64_t(0), s_owner.rootId, int64_t(-1)}) {
        ComPtr<IEseFolder> folder;
        ASSERT_EQ(S_OK, m_store->GetFolder(s_inbox, idRoot, &folder));
        EXPECT_EQ(L"Inbox", TextOf(folder.Get(), 0x3001001F));
        ComPtr<IEseFolder> again;
        ASSERT_EQ(S_OK, Folder(s_owner.rootId)->GetFolder(s_inbox, idRoot, &again));
        EXPECT_EQ(L"Inbox", TextOf(again.Get(), 0x3001001F));
    }
    ComPtr<IEseFolder> missing;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), m_store->GetFolder(0x7777, 0, &missing));
    EXPECT_EQ(nullptr, missing.Get());
    EXPECT_EQ(0u, ErrorDescription().find(L"1 0 0 message=cannot find object by tag=6748; value=7777"));
}

TEST_F(StoreObjects, AttachmentListsAndTheirErrors)
{
    ComPtr<IEseMessage> message = Message(s_inbox, s_prefixed);
    ComPtr<IEseTable> table;
    ASSERT_EQ(S_OK, message->GetAttachmentsTable(&table));
    SRows rows;
    ASSERT_EQ(S_OK, ReadRows(table.Get(), {0x3704001F}, rows));
    EXPECT_EQ((std::vector<std::wstring>{L"one.txt", L"two.txt"}), Column(rows, 0));

    ComPtr<IEseMessage> second;
    ASSERT_EQ(S_OK, message->GetAttachmentByNumber(1, 0, &second));
    EXPECT_EQ(L"two.txt", TextOf(second.Get(), 0x3704001F));
    ULONG size = 0;
    BYTE* data = nullptr;
    ASSERT_EQ(S_OK, second->GetProperty(0x37010102, &size, &data));
    EXPECT_EQ("second", std::string(reinterpret_cast<char*>(data), size));
    CoTaskMemFree(data);

    ComPtr<IEseMessage> third;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), message->GetAttachmentByNumber(2, 0, &third));
    EXPECT_NE(std::wstring::npos, ErrorDescription().find(L"the actual number of attachments=2"));

    struct Case {
        const char* name;
        int64_t id;
        HRESULT expected;
        std::wstring description;
    } cases[] = {
        {"13 bytes", s_ansi, static_cast<HRESULT>(0x8007000B), L"5 0 0 attachment list has incorrect format"},
        {"8 bytes", s_shortList, static_cast<HRESULT>(0x80070002), L"1 0 0 zero attachments was found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IEseTable> bad;
        EXPECT_EQ(c.expected, Message(s_inbox, c.id)->GetAttachmentsTable(&bad));
        EXPECT_EQ(nullptr, bad.Get());
        EXPECT_EQ(0u, ErrorDescription().find(c.description));
    }

    // A message without a list.
    ComPtr<IEseTable> noList;
    ComPtr<IEseFolder> root = Folder(s_owner.rootId);
    ComPtr<IEseTable> topMessages;
    ASSERT_EQ(S_OK, root->GetMessagesTable(&topMessages));
    SRows topRows;
    ASSERT_EQ(S_OK, ReadRows(topMessages.Get(), {0x674A0014}, topRows));
    ComPtr<IEseMessage> topMessage;
    ASSERT_EQ(S_OK, root->GetMessage(topRows.rows[0][0].m_value.m_i64, &topMessage));
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), topMessage->GetAttachmentsTable(&noList));
    EXPECT_EQ(0u, ErrorDescription().find(L"1 0 0 there are no attachments"));
}

TEST_F(StoreObjects, LargeBodiesAreStreamed)
{
    ComPtr<IEseMessage> message = Message(s_inbox, s_prefixed);
    ULONG tag = 0x1000001F;
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    ASSERT_EQ(S_OK, message->GetProperties(1, &tag, &count, &values));
    EXPECT_EQ(ESE_PT_ERROR, values[0].m_type);
    EXPECT_EQ(static_cast<long>(0x8007000E), values[0].m_value.m_err.m_code);
    FreeEseValues(values, count);

    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, message->OpenProperty(tag, &stream));
    STATSTG stat = {};
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(12000u, stat.cbSize.QuadPart);
    std::wstring body(6000, L'\0');
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(&body[0], 12000, &read));
    EXPECT_EQ(12000u, read);
    EXPECT_EQ(std::wstring(6000, L'z'), body);

    ComPtr<IStream> missing;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), message->OpenProperty(0x0E1D0102, &missing));
    EXPECT_EQ(nullptr, missing.Get());
    EXPECT_EQ(L"4 2 80070002 cannot create stream", ErrorDescription());
}

TEST_F(StoreObjects, MailboxObjectsAndStoreInfo)
{
    ComPtr<IEseMailbox> mailbox;
    ASSERT_EQ(S_OK, m_store->GetMailbox(s_owner.rootId, &mailbox));
    EXPECT_EQ(L"Owner", TextOf(mailbox.Get(), 0x3001001F));
    EXPECT_EQ(s_owner.rootId, Int64Of(mailbox.Get(), 0x67480014)) << "joined with its root folder";

    ComPtr<IEseMailbox> missing;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), m_store->GetMailbox(0x4242, &missing));
    EXPECT_EQ(0u, ErrorDescription().find(L"1 0 0 message=cannot find object by tag=6764; value=4242"));

    _SEseStoreInfo info;
    std::memset(&info, 0xAB, sizeof(info));
    EXPECT_EQ(S_OK, m_store->GetStoreInfo(&info));
    EXPECT_EQ(0xABABABABu, info.m_pageSize);

    ComPtr<IEseTable> named;
    ASSERT_EQ(S_OK, m_store->GetNamedPropertiesTable(&named));
}

TEST(PublicStoreObjects, FoldersTableListsTheChildrenOfIpmSubtree)
{
    CExchangeDatabase database(EStoreKind::PublicFolders);
    database.AddFolder(database.IpmSubtreeId(), L"Projects");
    database.AddFolder(database.IpmSubtreeId(), L"Archive");
    CFixtureStore fixture(database);
    CEseStore* created = nullptr;
    ASSERT_EQ(S_OK, CEseStore::Create(&created));
    ComPtr<CEseStore> store;
    *store.GetAddressOf() = created;
    store->SetContext(fixture.Context());

    ComPtr<IEseTable> folders;
    ASSERT_EQ(S_OK, store->GetFoldersTable(&folders));
    SRows rows;
    ASSERT_EQ(S_OK, ReadRows(folders.Get(), {0x3001001F}, rows));
    std::vector<std::wstring> names = Column(rows, 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Archive", L"Projects"}), names);

    ComPtr<IEseTable> mailboxes;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), store->GetMailboxesTable(0, nullptr, 0, &mailboxes));
    EXPECT_EQ(0u, ErrorDescription().find(L"1 3 fffffae7 "));

    // Public folders are never aliased: a root is an ordinary folder.
    ComPtr<IEseFolder> root;
    ASSERT_EQ(S_OK, store->GetFolder(database.PublicRootId(), 0, &root));
    ComPtr<IEseTable> children;
    ASSERT_EQ(S_OK, root->GetFoldersTable(&children));
    SRows childRows;
    ASSERT_EQ(S_OK, ReadRows(children.Get(), {0x3001001F}, childRows));
    EXPECT_EQ((std::vector<std::wstring>{L"IPM_SUBTREE", L"NON_IPM_SUBTREE"}), Column(childRows, 0));
}
