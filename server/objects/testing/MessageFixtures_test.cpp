// The message samples as the server serves them, through the folder,
// message and attachment objects in process: each body kind where the
// message objects look for it, the packed recipient records and sender
// entries byte for byte, attachments of each method, an embedded message
// with its own attachment, and MIME-only messages without bodies or
// attachment lists of their own. The writers' byte layouts are pinned too.
#include "Platform.h"
#include "objects/CEseStore.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "MessageFixtures.h"

#include <mapidefs.h>
#include <mapiutil.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002);

TEST(MessageFixtureBytes, PackedRecordsOfEachLayout)
{
    struct Case {
        const char* what;
        SPackedRecipient recipient;
        Bytes expected;  // the record after the header
    };
    SPackedRecipient withValues = NameOnlyRecipient(2, L"B");
    withValues.markers = true;
    withValues.values = {{PackedLong(7)}, {PackedLong(0x0F), true}};
    SPackedRecipient three = SmtpRecipient(1, L"D", L"d");
    three.flags = 0x0213;
    SPackedRecipient exchange = ExchangeRecipient(3, L"C", "/o=X");
    exchange.flags = 0x8610;
    exchange.string400 = L"4";
    exchange.string10 = L"t";
    const Case cases[] = {
        {"B with markers", withValues,
         Bytes("\x02\x00\x00\x13\x00\x10\x00" "B\0\0\0" "\x02\x00\x01" "\x00\x07\x00\x00\x00" "\x0A\x0F\x00\x00\x00",
               24)},
        {"A 0x0213: three bytes after the address", three,
         Bytes("\x01\x00\x00\x10\x00\x13\x02" "d\0\0\0" "\x01\x02\x03" "D\0\0\0" "\x00\x00\x00", 21)},
        {"C 0x8610: two bytes, ANSI, the name, then 0x400 and 0x10", exchange,
         Bytes("\x03\x00\x00\x18\x00\x10\x86" "\0\0" "/o=X\0" "C\0\0\0" "4\0\0\0" "t\0\0\0" "\x00\x00\x00", 29)},
    };
    for (const Case& c : cases) {
        const Bytes packed = PackedRecipients({0x5FFD0003, 0x0C150003}, {c.recipient});
        EXPECT_EQ(Bytes("\x01\x00\x00\x00\x02\x00" "\x03\x00\xFD\x5F" "\x03\x00\x15\x0C", 14), packed.substr(0, 14))
            << c.what;
        EXPECT_EQ(c.expected, packed.substr(14)) << c.what;
    }
    EXPECT_EQ('A', RecipientLayout(0x0011));
    EXPECT_EQ('B', RecipientLayout(0x0430));
    EXPECT_EQ('C', RecipientLayout(0x00B1));
}

TEST(MessageFixtureBytes, CompressedRtfOleStoragesAndAnsiText)
{
    // LZFu: compressed size, raw size, "LZFu", CRC; MAPI reads it back.
    const Bytes stored = CompressedRtf(SampleRtf());
    ASSERT_GT(stored.size(), 16u);
    EXPECT_EQ("LZFu", stored.substr(8, 4));
    ComPtr<IStream> storedStream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &storedStream));
    ULONG written = 0;
    storedStream->Write(stored.data(), static_cast<ULONG>(stored.size()), &written);
    LARGE_INTEGER zero{};
    storedStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ComPtr<IStream> plain;
    ASSERT_EQ(S_OK, WrapCompressedRTFStream(storedStream.Get(), 0, &plain));
    std::string rtf(4096, '\0');
    ULONG read = 0;
    plain->Read(&rtf[0], static_cast<ULONG>(rtf.size()), &read);
    EXPECT_EQ(SampleRtf(), rtf.substr(0, read));

    // The storage opens with its class and stream.
    static const GUID kClass = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    const Bytes ole = OleStorageBytes(kClass, L"CONTENTS", "strokes");
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    ULARGE_INTEGER start{};
    ASSERT_EQ(S_OK, bytes->WriteAt(start, ole.data(), static_cast<ULONG>(ole.size()), &written));
    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, StgOpenStorageOnILockBytes(bytes.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                                &storage));
    CLSID clsid{};
    ASSERT_EQ(S_OK, ReadClassStg(storage.Get(), &clsid));
    EXPECT_TRUE(IsEqualGUID(kClass, clsid));
    ComPtr<IStream> contents;
    ASSERT_EQ(S_OK, storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents));
    char text[16] = {};
    ASSERT_EQ(S_OK, contents->Read(text, sizeof(text), &read));
    EXPECT_EQ("strokes", std::string(text, read));

    EXPECT_EQ(Bytes("Caf\xE9", 4), AnsiBytes(L"Caf\u00E9"));
}

std::wstring Text(const _SEsePropertyValue& value)
{
    if (value.m_type == ESE_PT_STRING16 && value.m_value.m_p_ws)
        return value.m_value.m_p_ws;
    if (value.m_type == ESE_PT_ERROR)
        return L"<error " + std::to_wstring(static_cast<unsigned long>(value.m_value.m_err.m_code)) + L">";
    return L"<type " + std::to_wstring(value.m_type) + L">";
}

class MessageSamples : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        CExchangeDatabase database;
        SMailbox owner = database.AddMailbox(L"Owner");
        s_folder = database.AddFolder(owner.topId, L"Samples");
        s_ids = AddMessageSamples(database, s_folder);
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
        *m_store.GetAddressOf() = store;
        store->SetContext(s_store->Context());
        ASSERT_EQ(S_OK, m_store->GetFolder(s_folder, 0, &m_folder));
    }

    ComPtr<IEseMessage> Message(int64_t id)
    {
        ComPtr<IEseMessage> message;
        EXPECT_EQ(S_OK, m_folder->GetMessage(id, &message));
        return message;
    }

    // One value as text (strings), "<error code>", or "<type n>".
    static std::wstring Value(IEseProperty* object, ULONG tag)
    {
        ULONG count = 0;
        _SEsePropertyValue* values = nullptr;
        EXPECT_EQ(S_OK, object->GetProperties(1, &tag, &count, &values));
        std::wstring text = count == 1 ? Text(values[0]) : L"<none>";
        FreeEseValues(values, count);
        return text;
    }

    // The raw bytes of a column; "<hr>" when there is none.
    static Bytes Raw(IEseProperty* object, ULONG tag)
    {
        ULONG size = 0;
        BYTE* data = nullptr;
        const HRESULT hr = object->GetProperty(tag, &size, &data);
        if (FAILED(hr))
            return "<" + std::to_string(static_cast<unsigned long>(hr)) + ">";
        Bytes bytes(reinterpret_cast<char*>(data), size);
        CoTaskMemFree(data);
        return bytes;
    }

    static Bytes Streamed(IEseProperty* object, ULONG tag)
    {
        ComPtr<IStream> stream;
        if (FAILED(object->OpenProperty(tag, &stream)))
            return "<none>";
        Bytes bytes;
        char chunk[3000];
        ULONG read = 0;
        while (stream->Read(chunk, sizeof(chunk), &read) == S_OK && read > 0)
            bytes.append(chunk, read);
        return bytes;
    }

    static std::vector<std::vector<std::wstring>> AttachmentRows(IEseMessage* message, std::vector<ULONG> tags)
    {
        std::vector<std::vector<std::wstring>> texts;
        ComPtr<IEseTable> table;
        EXPECT_EQ(S_OK, message->GetAttachmentsTable(&table));
        if (!table)
            return texts;
        EXPECT_EQ(S_OK, table->SetColumns(static_cast<ULONG>(tags.size()), tags.data()));
        ULONG count = 0;
        _SEseRow* rows = nullptr;
        EXPECT_EQ(S_OK, table->GetRows(0x7FFFFFFF, 1, &count, &rows));
        for (ULONG r = 0; r < count; ++r) {
            std::vector<std::wstring> row;
            for (ULONG v = 0; v < rows[r].m_valueCount; ++v) {
                const _SEsePropertyValue& value = rows[r].m_p_values[v];
                row.push_back(value.m_type == ESE_PT_INT32 ? std::to_wstring(value.m_value.m_i32) : Text(value));
            }
            texts.push_back(row);
        }
        FreeEseRows(rows, count);
        return texts;
    }

    ComPtr<CEseStore> m_store;
    ComPtr<IEseFolder> m_folder;
    static CFixtureStore* s_store;
    static int64_t s_folder;
    static SMessageSamples s_ids;
};

CFixtureStore* MessageSamples::s_store = nullptr;
int64_t MessageSamples::s_folder = 0;
SMessageSamples MessageSamples::s_ids;

const std::wstring kPlain = L"Quarterly figures are up by 12%.\r\nSee you on Friday.\r\n";

TEST_F(MessageSamples, EachBodyKindWhereTheMessageObjectsLookForIt)
{
    const std::wstring absent = L"<error " + std::to_wstring(0x8004010Ful) + L">";
    const std::wstring tooLarge = L"<error " + std::to_wstring(0x8007000Eul) + L">";
    struct Case {
        const char* what;
        int64_t id;
        std::wstring body;  // 0x1000001F through GetProperties
        Bytes rtf;          // 0x10090102 raw
        Bytes html;         // 0x10130102 raw
        Bytes mime;         // 0x66590102 streamed
    } cases[] = {
        {"plain", s_ids.plain, kPlain, "<2147942402>", "<2147942402>", "<none>"},
        {"rtf", s_ids.rtf, kPlain, CompressedRtf(SampleRtf()), "<2147942402>", "<none>"},
        {"html", s_ids.html, kPlain, "<2147942402>", SampleHtml(), "<none>"},
        {"html only", s_ids.htmlOnly, absent, "<2147942402>", SampleHtml(), "<none>"},
        {"all bodies", s_ids.allBodies, kPlain, CompressedRtf(SampleRtf()), SampleHtml(), "<none>"},
        {"mime only", s_ids.mimeOnly, absent, "<2147942402>", "<2147942402>", SampleMimeAlternative()},
        {"mime with attachments", s_ids.mimeWithAttachments, absent, "<2147942402>", "<2147942402>",
         SampleMimeWithAttachments()},
        {"large ansi", s_ids.ansiLarge, tooLarge, "<2147942402>", "<2147942402>", "<none>"},
    };
    for (const Case& c : cases) {
        ComPtr<IEseMessage> message = Message(c.id);
        EXPECT_EQ(c.body, Value(message.Get(), 0x1000001F)) << c.what;
        EXPECT_EQ(c.rtf, Raw(message.Get(), 0x10090102)) << c.what;
        EXPECT_EQ(c.html, Raw(message.Get(), 0x10130102)) << c.what;
        EXPECT_EQ(c.mime, Streamed(message.Get(), 0x66590102)) << c.what;
    }
    // The in-sync flags of the RTF bodies.
    ULONG tag = 0x0E1F000B;
    for (int64_t id : {s_ids.rtf, s_ids.allBodies}) {
        ULONG count = 0;
        _SEsePropertyValue* values = nullptr;
        ASSERT_EQ(S_OK, Message(id)->GetProperties(1, &tag, &count, &values));
        EXPECT_EQ(ESE_PT_BOOL, values[0].m_type);
        EXPECT_EQ(id == s_ids.rtf, values[0].m_value.m_b != 0);
        FreeEseValues(values, count);
    }
    // MIME-only messages have no attachment list: their attachments are in
    // the MIME text (of more than 8192 bytes, so it comes as a stream).
    ComPtr<IEseTable> none;
    EXPECT_EQ(kNotFound, Message(s_ids.mimeWithAttachments)->GetAttachmentsTable(&none));
    EXPECT_GT(SampleMimeWithAttachments().size(), 8192u);
    EXPECT_EQ(L"Report and the note it answers", Value(Message(s_ids.mimeWithAttachments).Get(), 0x0037001F));
}

TEST_F(MessageSamples, AnsiBodiesAreStoredAsAnsiText)
{
    for (int64_t id : {s_ids.ansi, s_ids.ansiLarge}) {
        const Bytes raw = Raw(Message(id).Get(), 0x1000001F);
        ASSERT_GT(raw.size(), 4u);
        EXPECT_EQ(0u, raw.size() % 2) << "whole 16-bit units, so that no byte is dropped on the way";
        // What the message object tests the body with.
        EXPECT_FALSE(IsTextUnicode(raw.data(), static_cast<int>(raw.size()), nullptr));
        std::wstring text(raw.size(), L'\0');
        text.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, raw.data(), static_cast<int>(raw.size()),
                                                            &text[0], static_cast<int>(text.size()))));
        EXPECT_NE(std::wstring::npos, text.find(L"af\u00E9"));
    }
    EXPECT_GT(Raw(Message(s_ids.ansiLarge).Get(), 0x1000001F).size(), 8192u);
}

TEST_F(MessageSamples, PackedRecipientRecordsAsWritten)
{
    EXPECT_EQ(PackedRecipients(SampleRecipientTags(), SampleRecipients()),
              Raw(Message(s_ids.recipients).Get(), 0x67B40102));
    EXPECT_EQ(SampleDamagedRecipients(), Raw(Message(s_ids.damagedRecipients).Get(), 0x67B40102));
    EXPECT_EQ("<2147942402>", Raw(Message(s_ids.plain).Get(), 0x67B40102));
}

TEST_F(MessageSamples, SendersBothWays)
{
    struct Case {
        const char* what;
        int64_t id;
        std::wstring name, addressType, address;
        Bytes storedId;
    } cases[] = {
        {"SMTP", s_ids.smtpSender, L"Bruno Castell", L"SMTP", L"bruno@example.com", Bytes("\x67\0\0\0", 4)},
        {"Exchange", s_ids.exchangeSender, L"Carla Nystr\u00F6m", L"EX",
         L"/o=Example/ou=First Administrative Group/cn=Recipients/cn=carla", "<2147942402>"},
        {"kept id", s_ids.keptSenderId, L"Bruno Castell", L"SMTP", L"bruno@example.com", Bytes("\xFF\x01\x02\x03", 4)},
        {"odd id", s_ids.oddSenderId, L"Bruno Castell", L"SMTP", L"bruno@example.com", Bytes("\x12\x34\x56\x78", 4)},
    };
    for (const Case& c : cases) {
        ComPtr<IEseMessage> message = Message(c.id);
        // Computed by the server from the sender entry.
        EXPECT_EQ(c.name, Value(message.Get(), 0x0042001F)) << c.what;
        EXPECT_EQ(c.addressType, Value(message.Get(), 0x0064001F)) << c.what;
        EXPECT_EQ(c.address, Value(message.Get(), 0x4031001F)) << c.what;
        EXPECT_EQ(c.address, Value(message.Get(), 0x0065001F)) << c.what;
        EXPECT_EQ(c.storedId, Raw(message.Get(), 0x00410102)) << c.what;
        const Bytes entry = Raw(message.Get(), 0x67B60102);
        ASSERT_GE(entry.size(), 4u) << c.what;
        EXPECT_EQ(c.addressType == L"SMTP", (entry[1] & 0x80) && (entry[2] & 0x10)) << c.what;
    }
}

TEST_F(MessageSamples, AttachmentsOfEachMethodAndAnEmbeddedMessageWithItsOwn)
{
    ComPtr<IEseMessage> message = Message(s_ids.attachments);
    EXPECT_EQ((std::vector<std::vector<std::wstring>>{{L"figures.csv", L"1"}, {L"drawing", L"6"},
                                                      {L"The note", L"5"}}),
              AttachmentRows(message.Get(), {0x3001001F, 0x37050003}));

    ComPtr<IEseMessage> file, ole, embedded;
    ASSERT_EQ(S_OK, message->GetAttachmentByNumber(0, 0, &file));
    ASSERT_EQ(S_OK, message->GetAttachmentByNumber(1, 0, &ole));
    ASSERT_EQ(S_OK, message->GetAttachmentByNumber(2, 0, &embedded));
    EXPECT_EQ("quarter,revenue\r\nQ1,120\r\nQ2,135\r\n", Streamed(file.Get(), 0x37010102));
    EXPECT_EQ(L"figures.csv", Value(file.Get(), 0x3707001F));

    // The OLE storage opens from its stream.
    const Bytes storage = Streamed(ole.Get(), 0x3701000D);
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    ULONG written = 0;
    ULARGE_INTEGER start{};
    ASSERT_EQ(S_OK, bytes->WriteAt(start, storage.data(), static_cast<ULONG>(storage.size()), &written));
    ComPtr<IStorage> opened;
    EXPECT_EQ(S_OK, StgOpenStorageOnILockBytes(bytes.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                               &opened));
    ULONG size = 0;
    BYTE* method = nullptr;
    ASSERT_EQ(S_OK, ole->GetProperty(0x37050003, &size, &method));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(6, *reinterpret_cast<int32_t*>(method));
    CoTaskMemFree(method);

    // The embedded message answers as a message, with an attachment of its own.
    EXPECT_EQ(L"The note", Value(embedded.Get(), 0x0037001F));
    EXPECT_EQ(L"The note's own text.\r\n", Value(embedded.Get(), 0x1000001F));
    EXPECT_EQ(L"alice@example.com", Value(embedded.Get(), 0x4031001F));
    EXPECT_EQ((std::vector<std::vector<std::wstring>>{{L"minutes.txt"}}),
              AttachmentRows(embedded.Get(), {0x3704001F}));
    ComPtr<IEseMessage> minutes;
    ASSERT_EQ(S_OK, embedded->GetAttachmentByNumber(0, 0, &minutes));
    EXPECT_EQ("Minutes of the meeting.\r\n", Streamed(minutes.Get(), 0x37010102));

    // Files have no attachments of their own.
    ComPtr<IEseTable> none;
    EXPECT_EQ(kNotFound, file->GetAttachmentsTable(&none));
}

} // namespace
