// Messages on structured storage, used the way a provider keeps a converted
// message: properties of every type, property streams, recipients, nested
// attachments and named properties survive SaveChanges and a reopen.
#include "MapiStandin.h"
#include "MapiTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using mapitest::CValueStore;

namespace {

const GUID kCustom = {0xA1B2C3D4, 0x1111, 0x2222, {3, 3, 3, 3, 4, 4, 4, 4}};
const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class MsgOnStorageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &m_bytes));
        ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(m_bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE,
                                                     0, &m_storage));
        m_malloc = MAPIGetDefaultMalloc();
    }
    void TearDown() override
    {
        if (m_malloc)
            m_malloc->Release();
    }

    ComPtr<IMessage> Open(HRESULT expected = S_OK)
    {
        ComPtr<IMessage> message;
        EXPECT_EQ(expected, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc,
                                           nullptr, m_storage.Get(), nullptr, 0, MAPI_UNICODE, &message));
        return message;
    }

    static std::vector<LONG> Column(IMAPITable* table, ULONG tag)
    {
        std::vector<LONG> values;
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, HrQueryAllRows(table, nullptr, nullptr, nullptr, 0, &rows));
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* v = PpropFindProp(rows->aRow[i].lpProps, rows->aRow[i].cValues, tag);
            values.push_back(v ? v->Value.l : -1);
        }
        FreeProws(rows);
        return values;
    }

    static std::string ReadStream(IMAPIProp* object, ULONG tag)
    {
        ComPtr<IStream> stream;
        EXPECT_EQ(S_OK, object->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf())));
        std::string data;
        char chunk[1024];
        ULONG read = 0;
        while (stream && SUCCEEDED(stream->Read(chunk, sizeof(chunk), &read)) && read)
            data.append(chunk, read);
        return data;
    }

    static void WriteStream(IMAPIProp* object, ULONG tag, const std::string& data)
    {
        ComPtr<IStream> stream;
        ASSERT_EQ(S_OK, object->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                             reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf())));
        ULONG written = 0;
        ASSERT_EQ(S_OK, stream->Write(data.data(), static_cast<ULONG>(data.size()), &written));
        ASSERT_EQ(S_OK, stream->Commit(STGC_DEFAULT));
    }

    ComPtr<ILockBytes> m_bytes;
    ComPtr<IStorage> m_storage;
    IMalloc* m_malloc = nullptr;
};

TEST_F(MsgOnStorageTest, EveryPropertyTypeSurvivesSaveAndReopen)
{
    CValueStore v;
    const GUID guid = kCustom;
    std::vector<SPropValue> values = {
        v.Short(PROP_TAG(PT_I2, 0x6800), -7),
        v.Long(PROP_TAG(PT_LONG, 0x6801), 123456),
        v.Float(PROP_TAG(PT_R4, 0x6802), 1.25f),
        v.Double(PROP_TAG(PT_DOUBLE, 0x6803), -2.5),
        v.Currency(PROP_TAG(PT_CURRENCY, 0x6804), 99),
        v.Double(PROP_TAG(PT_APPTIME, 0x6805), 40000.5),
        v.Bool(PROP_TAG(PT_BOOLEAN, 0x6807), true),
        v.I8(PROP_TAG(PT_I8, 0x6808), -(1ll << 50)),
        v.Ansi(PROP_TAG(PT_STRING8, 0x6809), "eight bit"),
        v.Wide(PROP_TAG(PT_UNICODE, 0x680A), L"uni\u00E7ode \u4E2D\u6587"),
        v.Time(PROP_TAG(PT_SYSTIME, 0x680B), 0x01D0000000000000ull),
        v.Guid(PROP_TAG(PT_CLSID, 0x680C), guid),
        v.Binary(PROP_TAG(PT_BINARY, 0x680D), {0, 1, 2, 255}),
        v.Binary(PROP_TAG(PT_BINARY, 0x6811), {}),
        v.Wide(PROP_TAG(PT_UNICODE, 0x6812), L""),
        v.WideList(PROP_TAG(PT_MV_UNICODE, 0x680E), {L"one", L"two", L""}),
        v.LongList(PROP_TAG(PT_MV_LONG, 0x680F), {3, -4}),
    };
    {
        ComPtr<IMessage> message = Open();
        ASSERT_TRUE(message);
        LPSPropProblemArray problems = nullptr;
        ASSERT_EQ(S_OK, message->SetProps(static_cast<ULONG>(values.size()), values.data(), &problems));
        EXPECT_EQ(nullptr, problems);
        WriteStream(message.Get(), PR_BODY_W, std::string(reinterpret_cast<const char*>(L"body text"), 18));
        SPropValue subject = v.Wide(PR_SUBJECT_W, L"via HrSetOneProp");
        ASSERT_EQ(S_OK, HrSetOneProp(message.Get(), &subject));
        ASSERT_EQ(S_OK, message->SaveChanges(KEEP_OPEN_READWRITE));
    }
    ComPtr<IMessage> reopened = Open();
    ASSERT_TRUE(reopened);
    for (const SPropValue& expected : values) {
        LPSPropValue actual = nullptr;
        ASSERT_EQ(S_OK, HrGetOneProp(reopened.Get(), expected.ulPropTag, &actual)) << std::hex << expected.ulPropTag;
        EXPECT_EQ(expected.ulPropTag, actual->ulPropTag);
        EXPECT_EQ(0, LPropCompareProp(const_cast<LPSPropValue>(&expected), actual)) << std::hex << expected.ulPropTag;
        MAPIFreeBuffer(actual);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(L"body text"), 18), ReadStream(reopened.Get(), PR_BODY_W));
    LPSPropValue subject = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(reopened.Get(), PR_SUBJECT_W, &subject));
    EXPECT_STREQ(L"via HrSetOneProp", subject->Value.lpszW);
    MAPIFreeBuffer(subject);

    // A Unicode value asked for as 8-bit text, and one that is missing.
    SizedSPropTagArray(2, tags) = {2, {PR_SUBJECT_A, PR_IMPORTANCE}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, reopened->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &props));
    ASSERT_EQ(2u, count);
    EXPECT_STREQ("via HrSetOneProp", props[0].Value.lpszA);
    EXPECT_EQ(PROP_TAG(PT_ERROR, PROP_ID(PR_IMPORTANCE)), props[1].ulPropTag);
    MAPIFreeBuffer(props);
    LPSPropValue none = nullptr;
    EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(reopened.Get(), PR_IMPORTANCE, &none));
}

TEST_F(MsgOnStorageTest, RecipientsAndNestedAttachmentsSurviveSaveAndReopen)
{
    CValueStore v;
    {
        ComPtr<IMessage> message = Open();
        LPADRLIST list = nullptr;
        ASSERT_EQ(S_OK, MAPIAllocateBuffer(CbNewADRLIST(2), reinterpret_cast<void**>(&list)));
        list->cEntries = 2;
        const wchar_t* names[] = {L"Ann", L"Bob"};
        for (ULONG i = 0; i < 2; ++i) {
            ASSERT_EQ(S_OK, MAPIAllocateBuffer(2 * sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[i].rgPropVals)));
            list->aEntries[i].cValues = 2;
            list->aEntries[i].rgPropVals[0] = v.Wide(PR_DISPLAY_NAME_W, names[i]);
            list->aEntries[i].rgPropVals[1] = v.Long(PR_RECIPIENT_TYPE, i == 0 ? MAPI_TO : MAPI_CC);
        }
        ASSERT_EQ(S_OK, message->ModifyRecipients(MODRECIP_ADD, list));
        FreePadrlist(list);

        ULONG number = 99;
        ComPtr<IAttach> plain;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, &plain));
        EXPECT_EQ(0u, number);
        SPropValue method = v.Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
        ASSERT_EQ(S_OK, HrSetOneProp(plain.Get(), &method));
        WriteStream(plain.Get(), PR_ATTACH_DATA_BIN, std::string("\0\1\2attachment bytes", 19));
        ASSERT_EQ(S_OK, plain->SaveChanges(0));

        ComPtr<IAttach> outer;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, &outer));
        EXPECT_EQ(1u, number);
        method.Value.l = ATTACH_EMBEDDED_MSG;
        ASSERT_EQ(S_OK, HrSetOneProp(outer.Get(), &method));
        ComPtr<IMessage> embedded;
        ASSERT_EQ(S_OK, outer->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                            reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf())));
        SPropValue subject = v.Wide(PR_SUBJECT_W, L"inner");
        ASSERT_EQ(S_OK, HrSetOneProp(embedded.Get(), &subject));
        ComPtr<IAttach> inner;
        ASSERT_EQ(S_OK, embedded->CreateAttach(nullptr, 0, &number, &inner));
        WriteStream(inner.Get(), PR_ATTACH_DATA_BIN, "deepest");
        ASSERT_EQ(S_OK, inner->SaveChanges(0));
        ASSERT_EQ(S_OK, embedded->SaveChanges(0));
        ASSERT_EQ(S_OK, outer->SaveChanges(0));

        // Not saved: never reaches the message.
        ComPtr<IAttach> dropped;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, &dropped));
        ASSERT_EQ(S_OK, message->SaveChanges(0));
    }
    ComPtr<IMessage> message = Open();
    ComPtr<IMAPITable> recipients;
    ASSERT_EQ(S_OK, message->GetRecipientTable(MAPI_UNICODE, &recipients));
    EXPECT_EQ((std::vector<LONG>{MAPI_TO, MAPI_CC}), Column(recipients.Get(), PR_RECIPIENT_TYPE));
    EXPECT_EQ((std::vector<LONG>{0, 1}), Column(recipients.Get(), PR_ROWID));

    ComPtr<IMAPITable> attachments;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, &attachments));
    EXPECT_EQ((std::vector<LONG>{0, 1}), Column(attachments.Get(), PR_ATTACH_NUM));
    EXPECT_EQ((std::vector<LONG>{ATTACH_BY_VALUE, ATTACH_EMBEDDED_MSG}), Column(attachments.Get(), PR_ATTACH_METHOD));

    ComPtr<IAttach> plain;
    ASSERT_EQ(S_OK, message->OpenAttach(0, nullptr, 0, &plain));
    EXPECT_EQ(std::string("\0\1\2attachment bytes", 19), ReadStream(plain.Get(), PR_ATTACH_DATA_BIN));

    ComPtr<IAttach> outer;
    ASSERT_EQ(S_OK, message->OpenAttach(1, nullptr, 0, &outer));
    ComPtr<IMessage> embedded;
    ASSERT_EQ(S_OK, outer->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0,
                                        reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf())));
    LPSPropValue subject = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(embedded.Get(), PR_SUBJECT_W, &subject));
    EXPECT_STREQ(L"inner", subject->Value.lpszW);
    MAPIFreeBuffer(subject);
    ComPtr<IMAPITable> innerTable;
    ASSERT_EQ(S_OK, embedded->GetAttachmentTable(0, &innerTable));
    EXPECT_EQ((std::vector<LONG>{0}), Column(innerTable.Get(), PR_ATTACH_NUM));
    ComPtr<IAttach> inner;
    ASSERT_EQ(S_OK, embedded->OpenAttach(0, nullptr, 0, &inner));
    EXPECT_EQ("deepest", ReadStream(inner.Get(), PR_ATTACH_DATA_BIN));

    // Changing then deleting: the table follows, a deleted number is gone.
    ASSERT_EQ(S_OK, message->DeleteAttach(0, 0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->OpenAttach(0, nullptr, 0, &plain));
    ComPtr<IMAPITable> after;
    ASSERT_EQ(S_OK, message->GetAttachmentTable(0, &after));
    EXPECT_EQ((std::vector<LONG>{1}), Column(after.Get(), PR_ATTACH_NUM));
}

TEST_F(MsgOnStorageTest, CopyToWritesEverythingThroughTheDestinationsInterface)
{
    CValueStore v;
    ComPtr<IMessage> source = Open();
    SPropValue props[3] = {v.Wide(PR_SUBJECT_W, L"copied"), v.Long(PR_IMPORTANCE, 2), v.Wide(PR_BODY_W, L"body")};
    ASSERT_EQ(S_OK, source->SetProps(3, props, nullptr));
    LPADRLIST list = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void**>(&list)));
    list->cEntries = 1;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[0].rgPropVals)));
    list->aEntries[0].cValues = 1;
    list->aEntries[0].rgPropVals[0] = v.Wide(PR_DISPLAY_NAME_W, L"Ann");
    ASSERT_EQ(S_OK, source->ModifyRecipients(0, list));
    FreePadrlist(list);
    ULONG number = 0;
    ComPtr<IAttach> outer;
    ASSERT_EQ(S_OK, source->CreateAttach(nullptr, 0, &number, &outer));
    ComPtr<IMessage> embedded;
    ASSERT_EQ(S_OK, outer->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                        reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf())));
    ComPtr<IAttach> inner;
    ASSERT_EQ(S_OK, embedded->CreateAttach(nullptr, 0, &number, &inner));
    WriteStream(inner.Get(), PR_ATTACH_DATA_BIN, "nested data");
    ASSERT_EQ(S_OK, inner->SaveChanges(0));
    ASSERT_EQ(S_OK, embedded->SaveChanges(0));
    ASSERT_EQ(S_OK, outer->SaveChanges(0));

    // Into a second message on its own storage, leaving out PR_IMPORTANCE.
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                                 &storage));
    ComPtr<IMessage> target;
    ASSERT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                   storage.Get(), nullptr, 0, 0, &target));
    SPropValue existing = v.Wide(PR_BODY_W, L"kept");
    ASSERT_EQ(S_OK, HrSetOneProp(target.Get(), &existing));
    SizedSPropTagArray(1, exclude) = {1, {PR_IMPORTANCE}};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(S_OK, source->CopyTo(0, nullptr, reinterpret_cast<LPSPropTagArray>(&exclude), 0, nullptr, &IID_IMessage,
                                   target.Get(), MAPI_NOREPLACE, &problems));
    EXPECT_EQ(nullptr, problems);
    ASSERT_EQ(S_OK, target->SaveChanges(0));
    target.Reset();
    ASSERT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                   storage.Get(), nullptr, 0, 0, &target));

    LPSPropValue value = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(target.Get(), PR_SUBJECT_W, &value));
    EXPECT_STREQ(L"copied", value->Value.lpszW);
    MAPIFreeBuffer(value);
    ASSERT_EQ(S_OK, HrGetOneProp(target.Get(), PR_BODY_W, &value));
    EXPECT_STREQ(L"kept", value->Value.lpszW); // MAPI_NOREPLACE
    MAPIFreeBuffer(value);
    EXPECT_EQ(MAPI_E_NOT_FOUND, HrGetOneProp(target.Get(), PR_IMPORTANCE, &value));
    ComPtr<IMAPITable> recipients;
    ASSERT_EQ(S_OK, target->GetRecipientTable(0, &recipients));
    EXPECT_EQ(1u, Column(recipients.Get(), PR_ROWID).size());
    ComPtr<IAttach> copiedOuter;
    ASSERT_EQ(S_OK, target->OpenAttach(0, nullptr, 0, &copiedOuter));
    ComPtr<IMessage> copiedEmbedded;
    ASSERT_EQ(S_OK, copiedOuter->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, 0,
                                              reinterpret_cast<LPUNKNOWN*>(copiedEmbedded.GetAddressOf())));
    ComPtr<IAttach> copiedInner;
    ASSERT_EQ(S_OK, copiedEmbedded->OpenAttach(0, nullptr, 0, &copiedInner));
    EXPECT_EQ("nested data", ReadStream(copiedInner.Get(), PR_ATTACH_DATA_BIN));

    // CopyProps takes only what it is given; moving and copying into itself are refused.
    ComPtr<IMessage> other;
    ASSERT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                   storage.Get(), nullptr, 0, 0, &other));
    SizedSPropTagArray(1, include) = {1, {PR_IMPORTANCE}};
    ASSERT_EQ(S_OK, source->CopyProps(reinterpret_cast<LPSPropTagArray>(&include), 0, nullptr, &IID_IMessage,
                                      other.Get(), 0, nullptr));
    ASSERT_EQ(S_OK, HrGetOneProp(other.Get(), PR_IMPORTANCE, &value));
    EXPECT_EQ(2, value->Value.l);
    MAPIFreeBuffer(value);
    EXPECT_EQ(MAPI_E_NO_SUPPORT, source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, other.Get(), MAPI_MOVE,
                                                nullptr));
    EXPECT_EQ(MAPI_E_NO_ACCESS, source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, source.Get(), 0, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, nullptr, 0, nullptr));
}

// An OLE attachment's data object is a storage: made with MAPI_CREATE,
// kept through SaveChanges and a reopen, copied with the message.
TEST_F(MsgOnStorageTest, OleStoragesOfAttachmentsSurviveSaveReopenAndCopy)
{
    CValueStore v;
    const GUID drawing = {0x6C0B2F41, 0x8E17, 0x4D3A, {0x9B, 0x52, 0x1E, 0x7D, 0x30, 0xA4, 0xC6, 0x19}};
    {
        ComPtr<IMessage> message = Open();
        ULONG number = 0;
        ComPtr<IAttach> attach;
        ASSERT_EQ(S_OK, message->CreateAttach(nullptr, 0, &number, &attach));
        SPropValue method = v.Long(PR_ATTACH_METHOD, ATTACH_OLE);
        ASSERT_EQ(S_OK, HrSetOneProp(attach.Get(), &method));
        ComPtr<IStorage> missing;
        EXPECT_EQ(MAPI_E_NOT_FOUND, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0,
                                                         reinterpret_cast<LPUNKNOWN*>(missing.GetAddressOf())));
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE,
                                                                 reinterpret_cast<LPUNKNOWN*>(missing.GetAddressOf())));
        ComPtr<IStorage> storage;
        ASSERT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE | MAPI_MODIFY,
                                             reinterpret_cast<LPUNKNOWN*>(storage.GetAddressOf())));
        ASSERT_EQ(S_OK, WriteClassStg(storage.Get(), drawing));
        ComPtr<IStream> contents;
        ASSERT_EQ(S_OK, storage->CreateStream(L"CONTENTS", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                              &contents));
        ULONG written = 0;
        ASSERT_EQ(S_OK, contents->Write("strokes", 7, &written));
        contents.Reset();
        ASSERT_EQ(S_OK, storage->Commit(STGC_DEFAULT));
        storage.Reset();
        ASSERT_EQ(S_OK, attach->SaveChanges(0));
        ASSERT_EQ(S_OK, message->SaveChanges(0));
    }
    auto expectDrawing = [&](IMessage* message) {
        ComPtr<IAttach> attach;
        ASSERT_EQ(S_OK, message->OpenAttach(0, nullptr, 0, &attach));
        ComPtr<IStorage> storage;
        ASSERT_EQ(S_OK, attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0,
                                             reinterpret_cast<LPUNKNOWN*>(storage.GetAddressOf())));
        STATSTG stat{};
        ASSERT_EQ(S_OK, storage->Stat(&stat, STATFLAG_NONAME));
        EXPECT_TRUE(IsEqualGUID(drawing, stat.clsid));
        ComPtr<IStream> contents;
        ASSERT_EQ(S_OK, storage->OpenStream(L"CONTENTS", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents));
        char data[16] = {};
        ULONG read = 0;
        ASSERT_EQ(S_OK, contents->Read(data, sizeof(data), &read));
        EXPECT_EQ("strokes", std::string(data, read));
    };
    ComPtr<IMessage> message = Open();
    expectDrawing(message.Get());

    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    ComPtr<IStorage> storage;
    ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                                 &storage));
    ComPtr<IMessage> copy;
    ASSERT_EQ(S_OK, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                   storage.Get(), nullptr, 0, 0, &copy));
    ASSERT_EQ(S_OK, message->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, copy.Get(), 0, nullptr));
    expectDrawing(copy.Get());
}

TEST_F(MsgOnStorageTest, ReadsAStorageLaidOutAsTheMsgFormatDescribesIt)
{
    // Written by hand, not by this library: a 32-byte header, a long held
    // inline, a Unicode subject in its own stream, one recipient storage.
    auto writeStream = [](IStorage* storage, const wchar_t* name, const std::string& data) {
        ComPtr<IStream> stream;
        ASSERT_EQ(S_OK, storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream));
        ULONG written = 0;
        ASSERT_EQ(S_OK, stream->Write(data.data(), static_cast<ULONG>(data.size()), &written));
    };
    auto le32 = [](ULONG value) { return std::string(reinterpret_cast<const char*>(&value), 4); };
    std::wstring subject = L"Hand made";
    std::string subjectBytes(reinterpret_cast<const char*>(subject.c_str()), (subject.size() + 1) * 2);
    std::string props = std::string(8, '\0') + le32(1) + le32(0) + le32(1) + le32(0) + std::string(8, '\0');
    props += le32(PR_IMPORTANCE) + le32(6) + le32(2) + le32(0);
    props += le32(PR_SUBJECT_W) + le32(6) + le32(static_cast<ULONG>(subjectBytes.size())) + le32(0);
    writeStream(m_storage.Get(), L"__properties_version1.0", props);
    writeStream(m_storage.Get(), L"__substg1.0_0037001F", subjectBytes);
    ComPtr<IStorage> recipient;
    ASSERT_EQ(S_OK, m_storage->CreateStorage(L"__recip_version1.0_#00000000",
                                             STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &recipient));
    writeStream(recipient.Get(), L"__properties_version1.0",
                std::string(8, '\0') + le32(PR_RECIPIENT_TYPE) + le32(6) + le32(MAPI_BCC) + le32(0));
    recipient.Reset();

    ComPtr<IMessage> message = Open();
    ASSERT_TRUE(message);
    LPSPropValue value = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(message.Get(), PR_SUBJECT_W, &value));
    EXPECT_STREQ(L"Hand made", value->Value.lpszW);
    MAPIFreeBuffer(value);
    ASSERT_EQ(S_OK, HrGetOneProp(message.Get(), PR_IMPORTANCE, &value));
    EXPECT_EQ(2, value->Value.l);
    MAPIFreeBuffer(value);
    ComPtr<IMAPITable> recipients;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, &recipients));
    EXPECT_EQ((std::vector<LONG>{MAPI_BCC}), Column(recipients.Get(), PR_RECIPIENT_TYPE));
}

TEST_F(MsgOnStorageTest, NamedPropertiesKeepTheirIds)
{
    ULONG stringId = 0, numberId = 0;
    {
        ComPtr<IMessage> message = Open();
        MAPINAMEID byName{const_cast<LPGUID>(&kPublicStrings), MNID_STRING, {}};
        byName.Kind.lpwstrName = const_cast<LPWSTR>(L"Keywords");
        MAPINAMEID byNumber{const_cast<LPGUID>(&kCustom), MNID_ID, {}};
        byNumber.Kind.lID = 0x8510;
        LPMAPINAMEID names[2] = {&byName, &byNumber};
        LPSPropTagArray tags = nullptr;
        EXPECT_EQ(MAPI_W_ERRORS_RETURNED, message->GetIDsFromNames(2, names, 0, &tags));
        MAPIFreeBuffer(tags);
        ASSERT_EQ(S_OK, message->GetIDsFromNames(2, names, MAPI_CREATE, &tags));
        stringId = PROP_ID(tags->aulPropTag[0]);
        numberId = PROP_ID(tags->aulPropTag[1]);
        EXPECT_GE(stringId, 0x8000u);
        EXPECT_NE(stringId, numberId);
        MAPIFreeBuffer(tags);
        SPropValue value{};
        value.ulPropTag = PROP_TAG(PT_LONG, numberId);
        value.Value.l = 42;
        ASSERT_EQ(S_OK, HrSetOneProp(message.Get(), &value));
        ASSERT_EQ(S_OK, message->SaveChanges(0));
    }
    ComPtr<IMessage> message = Open();
    MAPINAMEID byNumber{const_cast<LPGUID>(&kCustom), MNID_ID, {}};
    byNumber.Kind.lID = 0x8510;
    LPMAPINAMEID names[1] = {&byNumber};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(S_OK, message->GetIDsFromNames(1, names, 0, &tags));
    EXPECT_EQ(numberId, PROP_ID(tags->aulPropTag[0]));
    MAPIFreeBuffer(tags);

    SizedSPropTagArray(1, ask) = {1, {PROP_TAG(PT_UNSPECIFIED, stringId)}};
    LPSPropTagArray askPtr = reinterpret_cast<LPSPropTagArray>(&ask);
    ULONG count = 0;
    LPMAPINAMEID* found = nullptr;
    ASSERT_EQ(S_OK, message->GetNamesFromIDs(&askPtr, nullptr, 0, &count, &found));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(static_cast<ULONG>(MNID_STRING), found[0]->ulKind);
    EXPECT_STREQ(L"Keywords", found[0]->Kind.lpwstrName);
    EXPECT_TRUE(IsEqualGUID(kPublicStrings, *found[0]->lpguid));
    MAPIFreeBuffer(found);

    LPSPropValue value = nullptr;
    ASSERT_EQ(S_OK, HrGetOneProp(message.Get(), PROP_TAG(PT_LONG, numberId), &value));
    EXPECT_EQ(42, value->Value.l);
    MAPIFreeBuffer(value);
}

TEST_F(MsgOnStorageTest, BadInputGivesMapiErrorsAndChangesNothing)
{
    ComPtr<IMessage> message;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, OpenIMsgOnIStg(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer,
                                                       m_malloc, nullptr, nullptr, nullptr, 0, 0, &message));
    ULONG notASession[16] = {};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, OpenIMsgOnIStg(reinterpret_cast<LPMSGSESS>(notASession), MAPIAllocateBuffer,
                                                       MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                                       m_storage.Get(), nullptr, 0, 0, &message));
    message = Open();
    CValueStore v;
    SPropValue bad[2] = {v.Long(PROP_TAG(PT_OBJECT, 0x6900), 0), v.Long(PR_IMPORTANCE, 1)};
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(S_OK, message->SetProps(2, bad, &problems));
    ASSERT_NE(nullptr, problems);
    EXPECT_EQ(1u, problems->cProblem);
    EXPECT_EQ(0u, problems->aProblem[0].ulIndex);
    MAPIFreeBuffer(problems);

    LPUNKNOWN unknown = nullptr;
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, &unknown));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, message->OpenProperty(PR_BODY_W, nullptr, 0, 0, &unknown));
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED, message->OpenProperty(PR_IMPORTANCE, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unknown));
    ComPtr<IAttach> attach;
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->OpenAttach(7, nullptr, 0, &attach));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, message->ModifyRecipients(0, nullptr));

    // Modifying a recipient that does not exist leaves the list alone.
    LPADRLIST list = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void**>(&list)));
    list->cEntries = 1;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[0].rgPropVals)));
    list->aEntries[0].cValues = 1;
    list->aEntries[0].rgPropVals[0] = v.Long(PR_ROWID, 5);
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->ModifyRecipients(MODRECIP_MODIFY, list));
    FreePadrlist(list);
    ComPtr<IMAPITable> recipients;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, &recipients));
    EXPECT_TRUE(Column(recipients.Get(), PR_ROWID).empty());

    // A damaged property stream is refused on open; the storage stays as it was.
    message.Reset();
    ComPtr<IStream> props;
    ASSERT_EQ(S_OK, m_storage->CreateStream(L"__properties_version1.0", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                            0, 0, &props));
    ULONG written = 0;
    props->Write("short", 5, &written);
    props.Reset();
    EXPECT_FALSE(Open(MAPI_E_CORRUPT_DATA));
}

TEST_F(MsgOnStorageTest, ClosingTheSessionLeavesItsMessagesUsable)
{
    LPMSGSESS session = nullptr;
    ASSERT_EQ(S_OK, OpenIMsgSession(m_malloc, 0, &session));
    ComPtr<IMessage> message;
    ASSERT_EQ(S_OK, OpenIMsgOnIStg(session, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, m_malloc, nullptr,
                                   m_storage.Get(), nullptr, 0, 0, &message));
    CloseIMsgSession(session);
    CValueStore v;
    SPropValue subject = v.Wide(PR_SUBJECT_W, L"after close");
    EXPECT_EQ(S_OK, HrSetOneProp(message.Get(), &subject));
    EXPECT_EQ(S_OK, message->SaveChanges(0));
    CloseIMsgSession(nullptr);
}

} // namespace
