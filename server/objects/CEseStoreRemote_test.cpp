// The store and its objects the way the provider uses them: through COM from
// another process. One database, opened once by the server: mailboxes,
// folders, messages with computed values, attachments, named properties,
// streams, and the error descriptions that cross back.
#include "Platform.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"
#include "Vostrel2007.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring Text(const _SEsePropertyValue& value)
{
    if (value.m_type == ESE_PT_STRING16 && value.m_value.m_p_ws)
        return value.m_value.m_p_ws;
    return L"<type " + std::to_wstring(value.m_type) + L">";
}

std::wstring TakeDescription(REFIID iid)
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<none>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    GUID guid = {};
    info->GetGUID(&guid);
    if (!IsEqualGUID(guid, iid))
        description += L" <under another IID>";
    return description;
}

// Every row of the table with these columns, as text (or "i64:<n>").
std::vector<std::vector<std::wstring>> Rows(IEseTable* table, std::vector<ULONG> tags)
{
    std::vector<std::vector<std::wstring>> result;
    EXPECT_EQ(S_OK, table->SetColumns(static_cast<ULONG>(tags.size()), tags.data()));
    ULONG count = 0;
    _SEseRow* rows = nullptr;
    EXPECT_EQ(S_OK, table->GetRows(0x7FFFFFFF, 1, &count, &rows));
    for (ULONG i = 0; i < count; ++i) {
        std::vector<std::wstring> texts;
        for (ULONG v = 0; v < rows[i].m_valueCount; ++v) {
            const _SEsePropertyValue& value = rows[i].m_p_values[v];
            texts.push_back(value.m_type == ESE_PT_INT64 ? L"i64:" + std::to_wstring(value.m_value.m_i64)
                                                         : Text(value));
        }
        result.push_back(texts);
    }
    FreeEseRows(rows, count);
    return result;
}

const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class StoreThroughCom : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_files = new esefixture::CTempFolder();
        CExchangeDatabase database;
        SMailbox owner = database.AddMailbox(L"Owner");
        database.AddMailbox(L"Second", ETopFolder::Absent);
        s_root = owner.rootId;
        s_inbox = database.AddFolder(owner.topId, L"Inbox");
        database.AddFolder(owner.topId, L"Drafts");
        SMessage message;
        message.subject = L"stored";
        message.subjectPrefix = L"FW: ";
        message.normalizedSubject = L"Plans";
        message.senderEntry = SenderEntry(ESenderLayout::Long, ENameEncoding::Ansi, L"Dana", true);
        message.body = std::wstring(20000, L'q');
        message.folderRow = {exchangefixture::Text("S8001", L"blue")};
        s_message = database.AddMessage(s_inbox, message);
        SAttachment attachment;
        attachment.fileName = L"notes.txt";
        attachment.data = "attached bytes";
        s_attachment = database.AddAttachment(s_message, attachment);
        SMessage broken;
        broken.normalizedSubject = L"Broken list";
        s_broken = database.AddMessage(s_inbox, broken);
        database.SetAttachmentList(s_broken, Bytes(13, '\2'));
        database.AddNamedProp({0x8001, kPublicStrings, true, 0, L"Keywords"});
        s_path = s_files->File("priv1.edb");
        database.Write(s_path);
    }
    static void TearDownTestSuite()
    {
        delete s_files;
        s_files = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                         reinterpret_cast<void**>(m_instance.GetAddressOf())));
        std::wstring work = Wide(m_work.Path()) + L"\\";
        ASSERT_EQ(S_OK, m_instance->Init(4096, &work[0], &work[0]));
        std::wstring db = Wide(s_path);
        std::wstring logs = Wide(m_work.Folder("nologs"));
        ASSERT_EQ(S_OK, m_instance->OpenStore(&db[0], &logs[0], &m_store)) << TakeDescription(IID_IEseInstance);
    }
    void TearDown() override
    {
        m_store.Reset();
        m_instance.Reset();
        CoUninitialize();
    }

    ComPtr<IEseMessage> Message(int64_t id)
    {
        ComPtr<IEseFolder> inbox;
        EXPECT_EQ(S_OK, m_store->GetFolder(s_inbox, 0, &inbox));
        ComPtr<IEseMessage> message;
        EXPECT_EQ(S_OK, inbox->GetMessage(id, &message));
        return message;
    }

    static esefixture::CTempFolder* s_files;
    static std::string s_path;
    static int64_t s_root, s_inbox, s_message, s_attachment, s_broken;
    esefixture::CTempFolder m_work;
    ComPtr<IEseInstance> m_instance;
    ComPtr<IEseStore> m_store;
};

esefixture::CTempFolder* StoreThroughCom::s_files = nullptr;
std::string StoreThroughCom::s_path;
int64_t StoreThroughCom::s_root, StoreThroughCom::s_inbox, StoreThroughCom::s_message, StoreThroughCom::s_attachment,
    StoreThroughCom::s_broken;

} // namespace

TEST_F(StoreThroughCom, MailboxesFoldersAndMessages)
{
    ComPtr<IEseTable> mailboxes;
    ASSERT_EQ(S_OK, m_store->GetMailboxesTable(0, nullptr, 0, &mailboxes));
    auto mailboxRows = Rows(mailboxes.Get(), {0x3001001F, 0x67480014});
    ASSERT_EQ(2u, mailboxRows.size());
    EXPECT_EQ(L"Owner", mailboxRows[0][0]);
    EXPECT_EQ(L"i64:" + std::to_wstring(s_root), mailboxRows[0][1]);

    ComPtr<IEseFolder> root;
    ASSERT_EQ(S_OK, m_store->GetFolder(s_root, s_root, &root));
    ComPtr<IEseTable> children;
    ASSERT_EQ(S_OK, root->GetFoldersTable(&children));
    auto childRows = Rows(children.Get(), {0x3001001F, 0x67490014, 0x360A000B});
    ASSERT_EQ(2u, childRows.size());
    EXPECT_EQ(L"Drafts", childRows[0][0]);
    EXPECT_EQ(L"Inbox", childRows[1][0]);
    EXPECT_EQ(L"i64:" + std::to_wstring(s_root), childRows[1][1]);

    ComPtr<IEseFolder> inbox;
    ASSERT_EQ(S_OK, root->GetFolder(s_inbox, 0, &inbox));
    ComPtr<IEseTable> messages;
    ASSERT_EQ(S_OK, inbox->GetMessagesTable(&messages));
    auto messageRows = Rows(messages.Get(), {0x0037001F, 0x0042001F, 0x0064001F});
    ASSERT_EQ(2u, messageRows.size());
    EXPECT_EQ((std::vector<std::wstring>{L"FW: Plans", L"Dana", L"SMTP"}), messageRows[0]);
}

TEST_F(StoreThroughCom, MessagePropertiesAndStreams)
{
    ComPtr<IEseMessage> message = Message(s_message);
    ASSERT_TRUE(message);
    ULONG tags[] = {0x0037001F, 0x1000001F, 0x7777001F};
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    ASSERT_EQ(S_OK, message->GetProperties(3, tags, &count, &values));
    ASSERT_EQ(3u, count);
    EXPECT_EQ(L"FW: Plans", Text(values[0]));
    EXPECT_EQ(ESE_PT_ERROR, values[1].m_type);
    EXPECT_EQ(static_cast<long>(0x8007000E), values[1].m_value.m_err.m_code);
    EXPECT_EQ(0x7777000Au, values[2].m_tag);
    EXPECT_EQ(static_cast<long>(0x8004010F), values[2].m_value.m_err.m_code);
    FreeEseValues(values, count);

    ULONG size = 0;
    BYTE* data = nullptr;
    ASSERT_EQ(S_OK, message->GetProperty(0x1000001F, &size, &data));
    EXPECT_EQ(40000u, size);
    CoTaskMemFree(data);

    ComPtr<IStream> stream;
    ASSERT_EQ(S_OK, message->OpenProperty(0x1000001F, &stream));
    STATSTG stat = {};
    ASSERT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(40000u, stat.cbSize.QuadPart);
    LARGE_INTEGER move;
    move.QuadPart = 39998;
    ULARGE_INTEGER position = {};
    ASSERT_EQ(S_OK, stream->Seek(move, STREAM_SEEK_SET, &position));
    wchar_t last[4] = {};
    ULONG read = 0;
    ASSERT_EQ(S_OK, stream->Read(last, sizeof(last), &read));
    EXPECT_EQ(2u, read);
    EXPECT_EQ(L'q', last[0]);

    ULONG tagCount = 0;
    ULONG* present = nullptr;
    ASSERT_EQ(S_OK, message->GetPropertyTags(&tagCount, &present));
    std::vector<ULONG> listed(present, present + tagCount);
    CoTaskMemFree(present);
    EXPECT_NE(listed.end(), std::find(listed.begin(), listed.end(), 0x1000001Fu));

    ComPtr<IStream> missing;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), message->OpenProperty(0x7777001F, &missing));
    EXPECT_EQ(L"4 2 80070002 cannot create stream", TakeDescription(IID_IEseMessage));
}

TEST_F(StoreThroughCom, AttachmentsAndTheirErrors)
{
    ComPtr<IEseMessage> message = Message(s_message);
    ComPtr<IEseTable> attachments;
    ASSERT_EQ(S_OK, message->GetAttachmentsTable(&attachments));
    auto rows = Rows(attachments.Get(), {0x3704001F, 0x674A0014});
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"notes.txt", rows[0][0]);

    ComPtr<IEseMessage> byNumber, byId;
    ASSERT_EQ(S_OK, message->GetAttachmentByNumber(0, 0, &byNumber));
    ASSERT_EQ(S_OK, message->GetAttachment(s_attachment, 1, &byId));
    ULONG size = 0;
    BYTE* data = nullptr;
    ASSERT_EQ(S_OK, byNumber->GetProperty(0x37010102, &size, &data));
    EXPECT_EQ("attached bytes", std::string(reinterpret_cast<char*>(data), size));
    CoTaskMemFree(data);
    // Brief: the attachment's own row only, without its "Msg" row.
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), byId->GetProperty(0x37010102, &size, &data));

    ComPtr<IEseMessage> none;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), message->GetAttachmentByNumber(5, 0, &none));
    EXPECT_EQ(0u, TakeDescription(IID_IEseMessage)
                      .find(L"1 0 0 there is no attachment with number=5, the actual number of attachments=1"));

    ComPtr<IEseTable> broken;
    EXPECT_EQ(static_cast<HRESULT>(0x8007000B), Message(s_broken)->GetAttachmentsTable(&broken));
    EXPECT_EQ(0u, TakeDescription(IID_IEseMessage).find(L"5 0 0 attachment list has incorrect format, instance id="));
}

TEST_F(StoreThroughCom, NamedPropertiesAndMissingObjects)
{
    ComPtr<IEseMessage> message = Message(s_message);
    _SEseNamedPropertyId name = {};
    name.lpguid = const_cast<GUID*>(&kPublicStrings);
    name.ulKind = 1;
    name.Kind.lpwstrName = const_cast<wchar_t*>(L"keywords");
    _SEseNamedPropertyId* names[] = {&name};
    ULONG tagCount = 0;
    ULONG* tags = nullptr;
    ASSERT_EQ(S_OK, message->GetTagsFromPropNames(1, names, &tagCount, &tags));
    ASSERT_EQ(1u, tagCount);
    EXPECT_EQ(0x80010000u, tags[0]);
    CoTaskMemFree(tags);

    ULONG list[] = {0x8001001F};
    ULONG* listPointer = list;
    ULONG listCount = 1;
    ULONG nameCount = 0;
    _SEseNamedPropertyId* found = nullptr;
    ASSERT_EQ(S_OK, message->GetPropNamesFromTags(&listCount, &listPointer, nullptr, 0, &nameCount, &found));
    ASSERT_EQ(1u, nameCount);
    EXPECT_EQ(1u, found[0].ulKind);
    EXPECT_STREQ(L"Keywords", found[0].Kind.lpwstrName);
    FreeEseNameIds(found, nameCount);

    ComPtr<IEseTable> namedTable;
    ASSERT_EQ(S_OK, m_store->GetNamedPropertiesTable(&namedTable));
    auto rows = Rows(namedTable.Get(), {0x67F4001F});
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"Keywords", rows[0][0]);

    ComPtr<IEseFolder> folder;
    EXPECT_EQ(static_cast<HRESULT>(0x80070002), m_store->GetFolder(0x1234, 0, &folder));
    EXPECT_EQ(L"1 0 0 message=cannot find object by tag=6748; value=1234", TakeDescription(IID_IEseStore));
    ComPtr<IEseMailbox> mailbox;
    ASSERT_EQ(S_OK, m_store->GetMailbox(s_root, &mailbox));
    ComPtr<IEseProperty> asProperty;
    EXPECT_EQ(S_OK, mailbox.As(&asProperty));
}

TEST_F(StoreThroughCom, ObjectsKeepTheDatabaseOpenWithoutTheStore)
{
    ComPtr<IEseFolder> inbox;
    ASSERT_EQ(S_OK, m_store->GetFolder(s_inbox, 0, &inbox));
    m_store.Reset();
    ComPtr<IEseTable> messages;
    ASSERT_EQ(S_OK, inbox->GetMessagesTable(&messages)) << TakeDescription(IID_IEseFolder);
    EXPECT_EQ(2u, Rows(messages.Get(), {0x0037001F}).size());
}
