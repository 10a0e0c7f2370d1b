// The fixture databases have the shape the object layer reads: checked here
// through the table engine, so that a fault in the builder shows as such and
// not as a fault of the code a test aims at.
#include "Platform.h"
#include "ExchangeFixture.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "objects/CEseTableImpl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace exchangefixture;
using NJbFramework::CSharedRef;

namespace {

using Engine = CSharedRef<CEseTableImpl>;

struct CRows {
    _SEseRow* rows = nullptr;
    unsigned long count = 0;
    ~CRows() { FreeEseRows(rows, count); }
};

void Read(CEseTableImpl& engine, std::vector<unsigned long> tags, CRows& rows)
{
    engine.SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
    engine.GetRows(0x7FFFFFFF, true, &rows.count, &rows.rows);
}

std::wstring Text(const _SEsePropertyValue& value)
{
    return value.m_type == ESE_PT_STRING16 ? value.m_value.m_p_ws : L"<none>";
}

// The children of a folder by the parent-id index that holds every folder.
std::vector<std::wstring> Children(const CFixtureStore& store, int64_t parent)
{
    Engine folders(new CEseTableImpl(0x6749, store.Context(), "Folders", kKindFolders));
    folders->SetIndexByName("?T668F+Q6749+S3001+Q6748+2");
    folders->SetKeyValues(1, &parent, true);
    CRows rows;
    Read(*folders, {0x3001001F}, rows);
    std::vector<std::wstring> names;
    for (unsigned long i = 0; i < rows.count; ++i)
        names.push_back(Text(rows.rows[i].m_p_values[0]));
    return names;
}

TEST(ExchangeFixture, SenderEntriesFollowBothLayouts)
{
    struct Case {
        ESenderLayout layout;
        ENameEncoding encoding;
        bool smtp;
        Bytes expected;
    } cases[] = {
        {ESenderLayout::Short, ENameEncoding::Ansi, false, Bytes("\x01\x00\x03" "Bo\0" "tail", 10)},
        {ESenderLayout::Short, ENameEncoding::Utf16, false, Bytes("\x01\x00\x06" "B\0o\0\0\0" "tail", 13)},
        {ESenderLayout::Long, ENameEncoding::Ansi, true, Bytes("\x01\x80\x10\x00\x03" "Bo\0" "tail", 12)},
        {ESenderLayout::Long, ENameEncoding::Utf16, false, Bytes("\x01\x80\x00\x00\x06" "B\0o\0\0\0" "tail", 15)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, SenderEntry(c.layout, c.encoding, L"Bo", c.smtp, "tail"));
    EXPECT_EQ(Bytes("\x05\x04\x03\x02\x01\x00\x00\x00\x01\x00\x00\x00", 12), AttachmentListEntry(0x0102030405LL));
}

TEST(ExchangeFixture, MailboxStoresHaveRootsTopFoldersAndAttachments)
{
    CExchangeDatabase database;
    SMailbox present = database.AddMailbox(L"One");
    SMailbox upper = database.AddMailbox(L"Two", ETopFolder::OtherCase);
    SMailbox absent = database.AddMailbox(L"Three", ETopFolder::Absent);
    EXPECT_EQ(0, absent.topId);
    int64_t inbox = database.AddFolder(present.topId, L"Inbox");
    SMessage message;
    message.subject = L"Hello";
    int64_t id = database.AddMessage(inbox, message);
    SAttachment attachment;
    attachment.data = "data";
    int64_t attached = database.AddAttachment(id, attachment);
    database.AddNamedProp({0x8001, GUID{1, 2, 3, {4}}, true, 0, L"Name"});
    database.AddNamedProp({0x8002, GUID{1, 2, 3, {4}}, false, 0x8510, L""});
    CFixtureStore store(database);

    EXPECT_EQ(std::vector<std::wstring>{L"Top of Information Store"}, Children(store, present.rootId));
    EXPECT_EQ(std::vector<std::wstring>{L"TOP OF INFORMATION STORE"}, Children(store, upper.rootId));
    EXPECT_EQ(std::vector<std::wstring>{L"Top of Information Store (old)"}, Children(store, absent.rootId));
    EXPECT_EQ(std::vector<std::wstring>{L"Inbox"}, Children(store, present.topId));

    // The mailbox rows name their roots.
    Engine mailboxes(new CEseTableImpl(0x6764, store.Context(), "Mailbox", kKindMailbox));
    CRows boxes;
    Read(*mailboxes, {0x67640014, 0x3001001F}, boxes);
    ASSERT_EQ(3u, boxes.count);
    EXPECT_EQ(present.rootId, boxes.rows[0].m_p_values[0].m_value.m_i64);

    // The folder's counters and the message in its table; the top folder's
    // table holds the entry row of its child.
    Engine folder(new CEseTableImpl(0x6748, store.Context(), "Folders", kKindFolders));
    folder->SetKeyValues(1, &inbox, true);
    CRows counters;
    Read(*folder, {0x36020003, 0x36030003, 0x674A0014}, counters);
    ASSERT_EQ(1u, counters.count);
    EXPECT_EQ(1, counters.rows[0].m_p_values[0].m_value.m_i32);
    EXPECT_EQ(1, counters.rows[0].m_p_values[1].m_value.m_i32);
    int64_t entry = counters.rows[0].m_p_values[2].m_value.m_i64;
    Engine top(new CEseTableImpl(0x674A, store.Context(), CExchangeDatabase::MessageTable(present.topId).c_str(),
                                 kKindFolderMessages));
    top->SetKeyValues(1, &entry, true);
    CRows entries;
    Read(*top, {0x0037001F}, entries);
    ASSERT_EQ(1u, entries.count);
    EXPECT_EQ(L"Inbox", Text(entries.rows[0].m_p_values[0]));

    // The attachment list of the message's Msg row names the attachment row.
    Engine msg(new CEseTableImpl(0x67B0, store.Context(), "Msg", kKindMsg));
    int64_t msgRow = database.MsgRowId(id);
    msg->SetKeyValues(1, &msgRow, true);
    CRows list;
    Read(*msg, {0x67B30000}, list);
    ASSERT_EQ(1u, list.count);
    const _SEsePropertyValue& value = list.rows[0].m_p_values[0];
    ASSERT_EQ(ESE_PT_BINARY, value.m_type);
    EXPECT_EQ(AttachmentListEntry(attached), Bytes(reinterpret_cast<char*>(value.m_value.m_bin.m_p_bt), value.m_value.m_bin.m_count));
    Engine attachments(new CEseTableImpl(0x674A, store.Context(),
                                         CExchangeDatabase::MessageTable(database.AttachmentsFolderId()).c_str(),
                                         kKindAttachments));
    attachments->SetKeyValues(1, &attached, true);
    EXPECT_TRUE(attachments->Move(true));

    // Named properties by id only.
    Engine named(new CEseTableImpl(0, store.Context(), "NamedProps", kKindNamedProps));
    CRows names;
    Read(*named, {0x67F10000, 0x67F00000, 0x67EF0000, 0x67F40000}, names);
    ASSERT_EQ(2u, names.count);
    EXPECT_EQ(L"Name", Text(names.rows[0].m_p_values[3]));
    EXPECT_EQ(0x8510, names.rows[1].m_p_values[2].m_value.m_i32);
    EXPECT_EQ(0x67F40001u, names.rows[1].m_p_values[3].m_tag) << "a numeric name has a null string";

    // A malformed list replaces the real one.
    database.SetAttachmentList(id, Bytes(13, '\x01'));
    EXPECT_THROW(database.SetAttachmentList(0x4242, Bytes(12, '\0')), std::invalid_argument);
}

TEST(ExchangeFixture, PublicFolderStoresHaveAnIpmSubtreeAndNoMailboxes)
{
    CExchangeDatabase database(EStoreKind::PublicFolders);
    EXPECT_THROW(database.AddMailbox(L"x"), std::logic_error);
    database.AddFolder(database.IpmSubtreeId(), L"Projects");
    CFixtureStore store(database);
    EXPECT_EQ((std::vector<std::wstring>{L"IPM_SUBTREE", L"NON_IPM_SUBTREE"}), Children(store, database.PublicRootId()));
    EXPECT_EQ(std::vector<std::wstring>{L"Projects"}, Children(store, database.IpmSubtreeId()));
    EXPECT_ANY_THROW(Engine(new CEseTableImpl(0x6764, store.Context(), "Mailbox", kKindMailbox)));
}

TEST(ExchangeFixture, TheSampleHoldsMailboxesAndMessages)
{
    CExchangeDatabase database;
    BuildSample(database);
    CFixtureStore store(database);
    Engine mailboxes(new CEseTableImpl(0x6764, store.Context(), "Mailbox", kKindMailbox));
    CRows rows;
    Read(*mailboxes, {0x3001001F}, rows);
    ASSERT_EQ(4u, rows.count);
    EXPECT_EQ(L"Alice Lindqvist", Text(rows.rows[0].m_p_values[0]));
}

} // namespace
