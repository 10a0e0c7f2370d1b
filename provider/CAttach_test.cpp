// Attachments as a MAPI client sees them: the attachment table of a message,
// attachments by value, OLE storages and embedded messages with attachments
// of their own, messages without attachments, and the attachments of a
// message held only as MIME.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "SenderIds.h"
#include "testing/MessageClientTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

class AttachmentTest : public MessageClientTest {};

const GUID kDrawingClass = {0x6C0B2F41, 0x8E17, 0x4D3A, {0x9B, 0x52, 0x1E, 0x7D, 0x30, 0xA4, 0xC6, 0x19}};

std::vector<BYTE> Key(ULONG index)
{
    return {static_cast<BYTE>(index), static_cast<BYTE>(index >> 8), static_cast<BYTE>(index >> 16),
            static_cast<BYTE>(index >> 24)};
}

std::vector<BYTE> SampleFileData()
{
    std::vector<BYTE> data(12000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<BYTE>(i * 7 + i / 256);
    return data;
}

TEST_P(AttachmentTest, TheAttachmentTableHasItsColumnsAndNumbersItsRows)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ASSERT_NE(nullptr, message);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, table.GetAddressOf()));
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, table->QueryColumns(0, &raw));
    ClientBuffer<SPropTagArray> columns(raw);
    EXPECT_EQ((std::vector<ULONG>{0x0FF90102, 0x0E210003, 0x0FF60102, 0x370B0003, 0x3708001F, 0x370D001F,
                                  0x30070040, 0x370C001F, 0x30080040, 0x37020102, 0x3703001F, 0x3704001F,
                                  0x3707001F, 0x37050003, 0x370A0102, 0x3001001F, 0x7FFF000B, 0x37140003,
                                  0x7FFE000B, 0x7FFA0003, 0x3712001F, 0x370E001F, 0x0E200003, 0x7FFC0040,
                                  0x7FFB0040, 0x7FF90040, 0x370F0102, 0x3711001F, 0x3713001F, 0x7FFD0003,
                                  0x3719001F, 0x371A001F, 0x69090003}),
              std::vector<ULONG>(columns->aulPropTag, columns->aulPropTag + columns->cValues));

    ClientRows rows = AllRows(table.Get(), {PR_ATTACH_NUM, PR_INSTANCE_KEY, PR_RECORD_KEY, PR_ATTACH_METHOD,
                                            PR_DISPLAY_NAME_W, PR_ATTACH_SIZE, PR_ATTACH_LONG_FILENAME_W});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(3u, rows->cRows);
    const LONG methods[] = {ATTACH_BY_VALUE, ATTACH_OLE, ATTACH_EMBEDDED_MSG};
    const wchar_t* names[] = {L"figures.csv", L"drawing", L"The note"};
    for (ULONG r = 0; r < 3; ++r) {
        SCOPED_TRACE(r);
        const SPropValue* v = rows->aRow[r].lpProps;
        EXPECT_EQ(static_cast<LONG>(r), v[0].Value.l);
        EXPECT_EQ(Key(r), Bytes(&v[1]));
        EXPECT_EQ(Key(r), Bytes(&v[2]));
        EXPECT_EQ(methods[r], v[3].Value.l);
        EXPECT_EQ(names[r], Text(&v[4]));
        EXPECT_EQ(PR_ATTACH_SIZE, v[5].ulPropTag);
    }
    EXPECT_EQ(L"figures.csv", Text(&rows->aRow[0].lpProps[6]));
    EXPECT_EQ(E_INVALIDARG, message->GetAttachmentTable(0, nullptr));
}

TEST_P(AttachmentTest, DataByValueIsAlwaysAStream)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ComPtr<IAttach> attach = Attachment(message.Get(), 0);
    ASSERT_NE(nullptr, attach);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values =
        GetProps(attach.Get(),
                 {PR_ATTACH_DATA_BIN, PR_OBJECT_TYPE, PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_ATTACH_LONG_FILENAME_W,
                  PR_ACCESS, PR_STORE_SUPPORT_MASK, PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE, PR_MDB_PROVIDER,
                  0x7FFF001F},
                 hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    const SPropValue* v = values.get();
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_ATTACH_DATA_BIN, PT_ERROR), v[0].ulPropTag);
    EXPECT_EQ(E_OUTOFMEMORY, v[0].Value.err);
    EXPECT_EQ(static_cast<LONG>(MAPI_ATTACH), v[1].Value.l);
    EXPECT_EQ(0, v[2].Value.l);
    EXPECT_EQ(ATTACH_BY_VALUE, v[3].Value.l);
    EXPECT_EQ(L"figures.csv", Text(&v[4]));
    EXPECT_EQ(static_cast<LONG>(MAPI_ACCESS_READ), v[5].Value.l);
    EXPECT_EQ(0x00050B67, v[6].Value.l);
    EXPECT_EQ(UidBytes(uid), Bytes(&v[7]));
    EXPECT_EQ(UidBytes(uid), Bytes(&v[8]));
    EXPECT_EQ(std::vector<BYTE>(kProviderUid.ab, kProviderUid.ab + 16), Bytes(&v[9]));
    EXPECT_EQ(MAPI_E_NOT_FOUND, v[10].Value.err);

    EXPECT_EQ(BytesOf("quarter,revenue\r\nQ1,120\r\nQ2,135\r\n"), PropertyStream(attach.Get(), PR_ATTACH_DATA_BIN, hr));
    EXPECT_EQ(S_OK, hr);

    // Data the server does not hold is also a stream to GetProps.
    ComPtr<IAttach> ole = Attachment(message.Get(), 1);
    values = GetProps(ole.Get(), {PR_ATTACH_DATA_BIN}, hr);
    EXPECT_EQ(E_OUTOFMEMORY, values->Value.err);

    struct Case {
        const char* what;
        ULONG tag;
        const IID* iid;
        ULONG flags;
        HRESULT hr;
    } cases[] = {
        {"the data as a storage", PR_ATTACH_DATA_BIN, &IID_IStorage, 0, E_NOINTERFACE},
        {"modify", PR_ATTACH_DATA_BIN, &IID_IStream, MAPI_MODIFY, E_ACCESSDENIED},
        {"create", PR_ATTACH_DATA_BIN, &IID_IStream, MAPI_CREATE, E_ACCESSDENIED},
        {"another property", PR_ATTACH_LONG_FILENAME_W, &IID_IStream, 0, MAPI_E_NOT_FOUND},
        {"no interface", PR_ATTACH_DATA_BIN, nullptr, 0, E_INVALIDARG},
    };
    for (const Case& c : cases) {
        ComPtr<IUnknown> object;
        EXPECT_EQ(c.hr, attach->OpenProperty(c.tag, c.iid, 0, c.flags, object.GetAddressOf())) << c.what;
        EXPECT_EQ(nullptr, object) << c.what;
    }

    ComPtr<IUnknown> asked;
    EXPECT_EQ(S_OK, attach->QueryInterface(IID_IAttachment, reinterpret_cast<void**>(asked.GetAddressOf())));
    EXPECT_EQ(S_OK, attach->QueryInterface(IID_IMAPIProp, reinterpret_cast<void**>(asked.ReleaseAndGetAddressOf())));
    EXPECT_EQ(E_NOINTERFACE, attach->QueryInterface(IID_IMessage, reinterpret_cast<void**>(asked.ReleaseAndGetAddressOf())));
    SPropValue name = {};
    name.ulPropTag = PR_DISPLAY_NAME_W;
    name.Value.lpszW = const_cast<wchar_t*>(L"x");
    EXPECT_EQ(MAPI_E_NO_SUPPORT, attach->SetProps(1, &name, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, attach->DeleteProps(nullptr, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, attach->SaveChanges(0));
}

TEST_P(AttachmentTest, OleAttachmentsOpenAsStoragesOnly)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ComPtr<IAttach> attach = Attachment(message.Get(), 1);
    ASSERT_NE(nullptr, attach);
    ComPtr<IUnknown> object;
    EXPECT_EQ(E_NOINTERFACE, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0, object.GetAddressOf()));
    EXPECT_EQ(E_NOINTERFACE, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStream, 0, 0, object.GetAddressOf()));
    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0,
                                         reinterpret_cast<LPUNKNOWN*>(storage.GetAddressOf())));
    STATSTG stat = {};
    ASSERT_EQ(S_OK, storage->Stat(&stat, STATFLAG_NONAME));
    EXPECT_TRUE(IsEqualGUID(kDrawingClass, stat.clsid));
    ComPtr<IStream> contents;
    ASSERT_EQ(S_OK, storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                        contents.GetAddressOf()));
    EXPECT_EQ(BytesOf("drawing strokes"), ReadAll(contents.Get()));
}

TEST_P(AttachmentTest, EmbeddedMessagesOpenWithAttachmentsOfTheirOwn)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ComPtr<IAttach> attach = Attachment(message.Get(), 2);
    ASSERT_NE(nullptr, attach);
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, attach->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> list(raw);
    EXPECT_EQ((std::vector<ULONG>{0x0FF40003, 0x0FF70003, 0x0FF60102, 0x0E210003, 0x340D0003, 0x34140102, 0x0FFB0102,
                                  0x0FF80102, 0x0FFA0102, 0x0FFE0003}),
              std::vector<ULONG>(list->aulPropTag, list->aulPropTag + 10));
    EXPECT_EQ(PR_ATTACH_DATA_OBJ, list->aulPropTag[list->cValues - 1]);
    ComPtr<IUnknown> object;
    EXPECT_EQ(E_NOINTERFACE, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0, object.GetAddressOf()));

    ComPtr<IMessage> embedded = Embedded(attach.Get());
    ASSERT_NE(nullptr, embedded);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values =
        GetProps(embedded.Get(), {PR_SUBJECT_W, PR_ENTRYID, PR_OBJECT_TYPE, PR_SENDER_ENTRYID, PR_SENDER_NAME_W}, hr);
    ASSERT_NE(nullptr, values);
    EXPECT_EQ(L"The note", Text(&values.get()[0]));
    const std::vector<BYTE> id = Bytes(&values.get()[1]);
    ASSERT_EQ(72u, id.size());
    CEntryId entry;
    std::memcpy(static_cast<void*>(&entry), id.data(), sizeof(entry));
    EXPECT_EQ(static_cast<ULONG>(kEntryMessage), entry.kind);
    EXPECT_EQ(0, entry.idRoot);
    EXPECT_NE(0, entry.mid) << "the server's link of the attachment names the embedded message";
    EXPECT_TRUE(std::memcmp(&entry.storeUid, &uid, sizeof(uid)) == 0);
    EXPECT_EQ(static_cast<LONG>(MAPI_MESSAGE), values.get()[2].Value.l);
    EXPECT_EQ(BuildOneOffEntryId(L"Alice Lindqvist", L"alice@example.com"), Bytes(&values.get()[3]));
    EXPECT_EQ(L"Alice Lindqvist", Text(&values.get()[4]));
    EXPECT_EQ(L"The note's own text.\r\n", WideOf(PropertyStream(embedded.Get(), PR_BODY_W, hr)));

    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, embedded->GetAttachmentTable(0, table.GetAddressOf()));
    ClientRows rows = AllRows(table.Get(), {PR_ATTACH_NUM, PR_ATTACH_LONG_FILENAME_W});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(1u, rows->cRows);
    EXPECT_EQ(L"minutes.txt", Text(&rows->aRow[0].lpProps[1]));
    ComPtr<IAttach> inner = Attachment(embedded.Get(), 0);
    ASSERT_NE(nullptr, inner);
    EXPECT_EQ(BytesOf("Minutes of the meeting.\r\n"), PropertyStream(inner.Get(), PR_ATTACH_DATA_BIN, hr));

    // The attachment keeps its message: what it opens still opens when the
    // caller has let the message go.
    ComPtr<IAttach> kept = Attachment(message.Get(), 2);
    message.Reset();
    attach.Reset();
    ASSERT_NE(nullptr, kept);
    ComPtr<IMessage> again = Embedded(kept.Get());
    ASSERT_NE(nullptr, again);
    values = GetProps(again.Get(), {PR_SUBJECT_W}, hr);
    EXPECT_EQ(L"The note", Text(values.get()));
}

TEST_P(AttachmentTest, MessagesWithoutAttachmentsHaveAnEmptyTable)
{
    ComPtr<IMessage> message = Sample(Samples().plain);
    ASSERT_NE(nullptr, message);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, table.GetAddressOf()));
    ULONG count = 99;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
    EXPECT_EQ(0u, count);
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, table->QueryColumns(0, &raw));
    ClientBuffer<SPropTagArray> columns(raw);
    EXPECT_EQ(33u, columns->cValues);
    // There is no attachment to open: the server's failure is recorded.
    ComPtr<IAttach> attach;
    EXPECT_EQ(MAPI_E_EXTENDED_ERROR, message->OpenAttach(0, nullptr, 0, attach.GetAddressOf()));
    EXPECT_EQ(nullptr, attach);
    const std::wstring text = LastErrorText(message.Get(), MAPI_E_EXTENDED_ERROR);
    EXPECT_NE(std::wstring::npos, text.find(L"CMessage::OpenAttach"));
    EXPECT_NE(std::wstring::npos, text.find(L"there are no attachments")) << "the server's own description";
}

TEST_P(AttachmentTest, MessagesHeldAsMimeServeTheAttachmentsOfTheMimeText)
{
    ComPtr<IMessage> message = Sample(Samples().mimeWithAttachments);
    ASSERT_NE(nullptr, message);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, table.GetAddressOf()));
    ClientRows rows = AllRows(table.Get(), {PR_ATTACH_NUM, PR_ATTACH_METHOD});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(2u, rows->cRows);
    EXPECT_EQ(ATTACH_BY_VALUE, rows->aRow[0].lpProps[1].Value.l);
    EXPECT_EQ(ATTACH_EMBEDDED_MSG, rows->aRow[1].lpProps[1].Value.l);

    ComPtr<IAttach> file = Attachment(message.Get(), static_cast<ULONG>(rows->aRow[0].lpProps[0].Value.l));
    ASSERT_NE(nullptr, file);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> name = GetProps(file.Get(), {PR_ATTACH_LONG_FILENAME_W}, hr, MAPI_UNICODE);
    EXPECT_EQ(L"report.bin", Text(name.get()));
    EXPECT_EQ(SampleFileData(), PropertyStream(file.Get(), PR_ATTACH_DATA_BIN, hr));

    ComPtr<IAttach> note = Attachment(message.Get(), static_cast<ULONG>(rows->aRow[1].lpProps[0].Value.l));
    ComPtr<IMessage> embedded = Embedded(note.Get());
    ASSERT_NE(nullptr, embedded);
    ClientBuffer<SPropValue> subject = GetProps(embedded.Get(), {PR_SUBJECT_W}, hr, MAPI_UNICODE);
    EXPECT_EQ(L"Where is the report?", Text(subject.get()));
}

INSTANTIATE_TEST_SUITE_P(Generations, AttachmentTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

} // namespace
