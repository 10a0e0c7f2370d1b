// Copies of messages and attachments out of the store, made by the MAPI
// support object from the provider's own objects into the subsystem's
// writable store: what the copy slots hand the support object, what they
// do after it, what they log, and a whole folder of every kind of message
// compared property by property, stream by stream, recipient by recipient
// and attachment by attachment with its copy.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/MessageClientTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

constexpr ULONG kPrStoreUnicodeMask = 0x340F0003;

// Properties that name an object in its own store, or that the store
// computes for its own objects: a copy has its own.
const ULONG kNotCopied[] = {PR_ENTRYID,           PR_PARENT_ENTRYID,      PR_STORE_ENTRYID,  PR_STORE_RECORD_KEY,
                            PR_STORE_SUPPORT_MASK, kPrStoreUnicodeMask,    PR_MAPPING_SIGNATURE, PR_RECORD_KEY,
                            PR_INSTANCE_KEY,       PR_OBJECT_TYPE,         PR_MDB_PROVIDER,   PR_ACCESS,
                            PR_ACCESS_LEVEL,       PR_MESSAGE_RECIPIENTS,  PR_MESSAGE_ATTACHMENTS, PR_ATTACH_NUM,
                            PR_ROWID};

bool Copied(ULONG tag)
{
    return std::none_of(std::begin(kNotCopied), std::end(kNotCopied),
                        [tag](ULONG skip) { return PROP_ID(skip) == PROP_ID(tag); });
}

bool TooLarge(const SPropValue* value)
{
    return value && PROP_TYPE(value->ulPropTag) == PT_ERROR &&
           (value->Value.err == E_OUTOFMEMORY || value->Value.err == MAPI_E_NOT_ENOUGH_MEMORY);
}

std::string Hex(ULONG tag)
{
    char text[16];
    snprintf(text, sizeof(text), "%08lX", static_cast<unsigned long>(tag));
    return text;
}

// Every property the source lists is in the copy with the same value or,
// when too large for a value, the same stream.
void ExpectSameProps(IMAPIProp* source, IMAPIProp* copy, const std::string& where, ULONG skipId = 0)
{
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, source->GetPropList(MAPI_UNICODE, &raw)) << where;
    ClientBuffer<SPropTagArray> list(raw);
    int compared = 0;
    for (ULONG i = 0; i < list->cValues; ++i) {
        const ULONG tag = list->aulPropTag[i];
        if (!Copied(tag) || PROP_ID(tag) == skipId || PROP_TYPE(tag) == PT_OBJECT)
            continue;
        SCOPED_TRACE(where + " " + Hex(tag));
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> from = GetProps(source, {tag}, hr, MAPI_UNICODE);
        ASSERT_NE(nullptr, from);
        if (PROP_TYPE(from->ulPropTag) == PT_ERROR && !TooLarge(from.get()))
            continue;
        ClientBuffer<SPropValue> to = GetProps(copy, {tag}, hr, MAPI_UNICODE);
        ASSERT_NE(nullptr, to);
        if (TooLarge(from.get()) || TooLarge(to.get())) {
            HRESULT fromOpen = S_OK;
            HRESULT toOpen = S_OK;
            const std::vector<BYTE> fromBytes = PropertyStream(source, tag, fromOpen);
            const std::vector<BYTE> toBytes = PropertyStream(copy, tag, toOpen);
            EXPECT_EQ(S_OK, fromOpen);
            EXPECT_EQ(S_OK, toOpen);
            EXPECT_TRUE(fromBytes == toBytes) << fromBytes.size() << " / " << toBytes.size() << " bytes";
        } else {
            EXPECT_EQ(tag, to->ulPropTag) << Describe(to.get());
            if (tag == to->ulPropTag) {
                EXPECT_TRUE(FPropCompareProp(from.get(), RELOP_EQ, to.get()));
            }
        }
        ++compared;
    }
    EXPECT_LT(0, compared) << where;
}

// Recipient rows compared by position: every value of a source row that
// is one (not an error, not a placeholder) is in the copy's row.
void ExpectSameRecipients(IMessage* source, IMessage* copy, const std::string& where)
{
    ComPtr<IMAPITable> from;
    ComPtr<IMAPITable> to;
    ASSERT_EQ(S_OK, source->GetRecipientTable(MAPI_UNICODE, from.GetAddressOf())) << where;
    ASSERT_EQ(S_OK, copy->GetRecipientTable(MAPI_UNICODE, to.GetAddressOf())) << where;
    ClientRows fromRows = AllRows(from.Get());
    ClientRows toRows = AllRows(to.Get());
    ASSERT_NE(nullptr, fromRows);
    ASSERT_NE(nullptr, toRows);
    ASSERT_EQ(fromRows->cRows, toRows->cRows) << where;
    for (ULONG r = 0; r < fromRows->cRows; ++r) {
        const SRow& row = fromRows->aRow[r];
        const SRow& copied = toRows->aRow[r];
        for (ULONG i = 0; i < row.cValues; ++i) {
            const SPropValue& value = row.lpProps[i];
            if (PROP_TYPE(value.ulPropTag) == PT_ERROR || value.ulPropTag == PR_NULL || !Copied(value.ulPropTag))
                continue;
            SCOPED_TRACE(where + " recipient " + std::to_string(r) + " " + Hex(value.ulPropTag));
            const SPropValue* match = FindProp(copied.lpProps, copied.cValues, value.ulPropTag);
            ASSERT_NE(nullptr, match);
            EXPECT_TRUE(FPropCompareProp(const_cast<LPSPropValue>(&value), RELOP_EQ, const_cast<LPSPropValue>(match)));
        }
    }
}

void ExpectSameStorages(IStorage* source, IStorage* copy, const std::string& where)
{
    STATSTG fromStat = {};
    STATSTG toStat = {};
    ASSERT_EQ(S_OK, source->Stat(&fromStat, STATFLAG_NONAME));
    ASSERT_EQ(S_OK, copy->Stat(&toStat, STATFLAG_NONAME));
    EXPECT_TRUE(IsEqualGUID(fromStat.clsid, toStat.clsid)) << where;
    ComPtr<IEnumSTATSTG> elements;
    ASSERT_EQ(S_OK, source->EnumElements(0, nullptr, 0, elements.GetAddressOf()));
    STATSTG element = {};
    int streams = 0;
    while (elements->Next(1, &element, nullptr) == S_OK) {
        const std::wstring name = element.pwcsName;
        CoTaskMemFree(element.pwcsName);
        if (element.type != STGTY_STREAM)
            continue;
        ComPtr<IStream> from;
        ComPtr<IStream> to;
        ASSERT_EQ(S_OK, source->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                           from.GetAddressOf()));
        ASSERT_EQ(S_OK, copy->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                         to.GetAddressOf()))
            << where;
        EXPECT_EQ(ReadAll(from.Get()), ReadAll(to.Get())) << where;
        ++streams;
    }
    EXPECT_LT(0, streams) << where;
}

void ExpectSameMessages(IMessage* source, IMessage* copy, const std::string& where);

void ExpectSameAttachments(IMessage* source, IMessage* copy, const std::string& where)
{
    ComPtr<IMAPITable> from;
    ComPtr<IMAPITable> to;
    ASSERT_EQ(S_OK, source->GetAttachmentTable(0, from.GetAddressOf())) << where;
    ASSERT_EQ(S_OK, copy->GetAttachmentTable(0, to.GetAddressOf())) << where;
    ClientRows fromRows = AllRows(from.Get(), {PR_ATTACH_NUM, PR_ATTACH_METHOD});
    ClientRows toRows = AllRows(to.Get(), {PR_ATTACH_NUM, PR_ATTACH_METHOD});
    ASSERT_NE(nullptr, fromRows);
    ASSERT_NE(nullptr, toRows);
    ASSERT_EQ(fromRows->cRows, toRows->cRows) << where;
    for (ULONG r = 0; r < fromRows->cRows; ++r) {
        const std::string at = where + " attachment " + std::to_string(r);
        ComPtr<IAttach> fromAttach;
        ComPtr<IAttach> toAttach;
        ASSERT_EQ(S_OK, source->OpenAttach(static_cast<ULONG>(fromRows->aRow[r].lpProps[0].Value.l), nullptr, 0,
                                           fromAttach.GetAddressOf()))
            << at;
        ASSERT_EQ(S_OK, copy->OpenAttach(static_cast<ULONG>(toRows->aRow[r].lpProps[0].Value.l), nullptr, 0,
                                         toAttach.GetAddressOf()))
            << at;
        const LONG method = fromRows->aRow[r].lpProps[1].Value.l;
        ExpectSameProps(fromAttach.Get(), toAttach.Get(), at, PROP_ID(PR_ATTACH_DATA_BIN));
        if (method == ATTACH_BY_VALUE) {
            HRESULT hr = S_OK;
            const std::vector<BYTE> data = PropertyStream(fromAttach.Get(), PR_ATTACH_DATA_BIN, hr);
            EXPECT_FALSE(data.empty()) << at;
            EXPECT_EQ(data, PropertyStream(toAttach.Get(), PR_ATTACH_DATA_BIN, hr)) << at;
        } else if (method == ATTACH_OLE) {
            ComPtr<IStorage> fromStorage;
            ComPtr<IStorage> toStorage;
            ASSERT_EQ(S_OK, fromAttach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0,
                                                     reinterpret_cast<LPUNKNOWN*>(fromStorage.GetAddressOf())));
            ASSERT_EQ(S_OK, toAttach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, 0,
                                                   reinterpret_cast<LPUNKNOWN*>(toStorage.GetAddressOf())))
                << at;
            ExpectSameStorages(fromStorage.Get(), toStorage.Get(), at);
        } else if (method == ATTACH_EMBEDDED_MSG) {
            ComPtr<IMessage> fromMessage = Embedded(fromAttach.Get());
            ComPtr<IMessage> toMessage = Embedded(toAttach.Get());
            ASSERT_NE(nullptr, fromMessage) << at;
            ASSERT_NE(nullptr, toMessage) << at;
            ExpectSameMessages(fromMessage.Get(), toMessage.Get(), at + " embedded");
        }
    }
}

void ExpectSameMessages(IMessage* source, IMessage* copy, const std::string& where)
{
    ExpectSameProps(source, copy, where);
    // The bodies, as streams, whether or not the source lists them.
    for (ULONG tag : {PR_BODY_W, kPrHtml, PR_RTF_COMPRESSED}) {
        HRESULT fromOpen = S_OK;
        HRESULT toOpen = S_OK;
        const std::vector<BYTE> from = PropertyStream(source, tag, fromOpen);
        const std::vector<BYTE> to = PropertyStream(copy, tag, toOpen);
        if (FAILED(fromOpen))
            continue;
        EXPECT_EQ(S_OK, toOpen) << where << " " << Hex(tag);
        if (tag == PR_RTF_COMPRESSED)
            EXPECT_EQ(RtfOf(from), RtfOf(to)) << where;
        else
            EXPECT_TRUE(from == to) << where << " " << Hex(tag);
    }
    ExpectSameRecipients(source, copy, where);
    ExpectSameAttachments(source, copy, where);
}

// Asks the source of a copy for its support mask whenever the support
// object reports progress.
class CMaskProbe : public IMAPIProgress {
public:
    explicit CMaskProbe(IMAPIProp* source) : m_source(source) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIProgress)) {
            *ppv = this;
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Progress(ULONG, ULONG, ULONG) override { return Probe(); }
    STDMETHODIMP GetFlags(ULONG* lpulFlags) override
    {
        *lpulFlags = MAPI_TOP_LEVEL;
        return Probe();
    }
    STDMETHODIMP GetMax(ULONG* lpulMax) override
    {
        *lpulMax = 1000;
        return S_OK;
    }
    STDMETHODIMP GetMin(ULONG* lpulMin) override
    {
        *lpulMin = 0;
        return S_OK;
    }
    STDMETHODIMP SetLimits(ULONG*, ULONG*, ULONG*) override { return Probe(); }

    std::vector<LONG> masks;

private:
    HRESULT Probe()
    {
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values = GetProps(m_source, {PR_STORE_SUPPORT_MASK, kPrStoreUnicodeMask}, hr);
        if (values) {
            masks.push_back(values.get()[0].Value.l);
            masks.push_back(values.get()[1].Value.l);
        }
        return S_OK;
    }
    IMAPIProp* m_source;
};

class MessageCopyTest : public MessageClientTest {
protected:
    void SetUp() override
    {
        MessageClientTest::SetUp();
        if (!writable) {
            ASSERT_EQ(S_OK, session->OpenWritableStore(writable.GetAddressOf()));
        }
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> ipm = GetProps(writable.Get(), {PR_IPM_SUBTREE_ENTRYID}, hr);
        ASSERT_EQ(S_OK, hr);
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, writable->OpenEntry(ipm->Value.bin.cb, reinterpret_cast<LPENTRYID>(ipm->Value.bin.lpb),
                                            nullptr, MAPI_MODIFY, &type, object.GetAddressOf()));
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(target.GetAddressOf())));
    }
    void TearDown() override { target.Reset(); }
    static void TearDownTestSuite()
    {
        writable.Reset();
        MessageClientTest::TearDownTestSuite();
    }

    std::string Generation() const { return GetParam() == EGeneration::Exchange2003 ? " 2003" : " 2007"; }

    ComPtr<IMAPIFolder> NewTarget(const std::string& name)
    {
        const std::wstring wide(name.begin(), name.end());
        ComPtr<IMAPIFolder> folder;
        EXPECT_EQ(S_OK, target->CreateFolder(FOLDER_GENERIC, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(wide.c_str())),
                                             nullptr, nullptr, MAPI_UNICODE | OPEN_IF_EXISTS, folder.GetAddressOf()));
        return folder;
    }

    ComPtr<IMessage> NewMessage(IMAPIFolder* folder)
    {
        ComPtr<IMessage> message;
        EXPECT_EQ(S_OK, folder->CreateMessage(nullptr, 0, message.GetAddressOf()));
        return message;
    }

    // The messages of a folder by subject.
    static std::map<std::wstring, ComPtr<IMessage>> MessagesOf(IMAPIFolder* folder)
    {
        std::map<std::wstring, ComPtr<IMessage>> messages;
        ComPtr<IMAPITable> table;
        if (FAILED(folder->GetContentsTable(0, table.GetAddressOf())))
            return messages;
        ClientRows rows = AllRows(table.Get(), {PR_SUBJECT_W, PR_ENTRYID});
        for (ULONG r = 0; rows && r < rows->cRows; ++r) {
            const SBinary& id = rows->aRow[r].lpProps[1].Value.bin;
            ULONG type = 0;
            ComPtr<IUnknown> object;
            ComPtr<IMessage> message;
            if (SUCCEEDED(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type,
                                            object.GetAddressOf())))
                object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf()));
            messages[Text(&rows->aRow[r].lpProps[0])] = message;
        }
        return messages;
    }

    static ComPtr<IMsgStore> writable;
    ComPtr<IMAPIFolder> target;
};

ComPtr<IMsgStore> MessageCopyTest::writable;

TEST_P(MessageCopyTest, WhileTheCopyRunsTheStoreOffersNoHtml)
{
    ComPtr<IMessage> message = Sample(Samples().html);
    ASSERT_NE(nullptr, message);
    ComPtr<IMAPIFolder> folder = NewTarget("support masks" + Generation());
    ComPtr<IMessage> destination = NewMessage(folder.Get());
    ASSERT_NE(nullptr, destination);
    CMaskProbe probe(message.Get());
    ASSERT_EQ(S_OK, message->CopyTo(0, nullptr, nullptr, 0, &probe, &IID_IMessage, destination.Get(), 0, nullptr));
    ASSERT_FALSE(probe.masks.empty()) << "the support object reported progress";
    for (LONG mask : probe.masks)
        EXPECT_EQ(0x00040B67, mask);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> after = GetProps(message.Get(), {PR_STORE_SUPPORT_MASK, kPrStoreUnicodeMask}, hr);
    EXPECT_EQ(0x00050B67, after.get()[0].Value.l);
    EXPECT_EQ(0x00050B67, after.get()[1].Value.l);
}

// After the support object's copy, CopyTo brings the copy's bodies in step
// and gives an unsent copy without RTF an empty RTF body.
TEST_P(MessageCopyTest, CopyToSyncsTheBodiesAndGivesDraftsAnRtfBody)
{
    ComPtr<IMAPIFolder> folder = NewTarget("copies of messages" + Generation());
    ASSERT_NE(nullptr, folder);
    ComPtr<IMessage> plain = Sample(Samples().plain);
    ComPtr<IMessage> destination = NewMessage(folder.Get());
    ASSERT_EQ(S_OK, plain->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, destination.Get(), 0, nullptr));
    EXPECT_EQ(L"", LastErrorText(plain.Get()));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> synced = GetProps(destination.Get(), {PR_RTF_IN_SYNC}, hr);
    EXPECT_EQ(PR_RTF_IN_SYNC, synced->ulPropTag);
    const std::string rtf = RtfOf(PropertyStream(destination.Get(), PR_RTF_COMPRESSED, hr));
    EXPECT_NE(std::string::npos, rtf.find("Quarterly figures are up by 12%.")) << rtf;
    ASSERT_EQ(S_OK, destination->SaveChanges(0));

    ComPtr<IMessage> draft = Sample(Ids().draft);
    ASSERT_NE(nullptr, draft);
    destination = NewMessage(folder.Get());
    ASSERT_EQ(S_OK, draft->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, destination.Get(), 0, nullptr));
    ClientBuffer<SPropValue> values = GetProps(destination.Get(), {PR_MESSAGE_FLAGS, PR_RTF_COMPRESSED}, hr);
    EXPECT_TRUE(values.get()[0].Value.l & MSGFLAG_UNSENT);
    EXPECT_EQ(PR_RTF_COMPRESSED, values.get()[1].ulPropTag);
    EXPECT_EQ(0u, values.get()[1].Value.bin.cb);

    // A whole message with recipients and every kind of attachment.
    for (int64_t mid : {Samples().attachments, Samples().recipients, Samples().rtf}) {
        ComPtr<IMessage> source = Sample(mid);
        destination = NewMessage(folder.Get());
        ASSERT_EQ(S_OK, source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, destination.Get(), 0, nullptr));
        ASSERT_EQ(S_OK, destination->SaveChanges(KEEP_OPEN_READWRITE));
        ExpectSameMessages(source.Get(), destination.Get(), "CopyTo " + std::to_string(mid));
    }

    // CopyProps: only what is named.
    ComPtr<IMessage> rtfSource = Sample(Samples().rtf);
    destination = NewMessage(folder.Get());
    SizedSPropTagArray(2, named) = {2, {PR_SUBJECT_W, PR_RTF_COMPRESSED}};
    ASSERT_EQ(S_OK, rtfSource->CopyProps(reinterpret_cast<LPSPropTagArray>(&named), 0, nullptr, &IID_IMessage,
                                         destination.Get(), 0, nullptr));
    ClientBuffer<SPropValue> subject = GetProps(destination.Get(), {PR_SUBJECT_W, PR_BODY_W}, hr);
    EXPECT_EQ(L"RTF body", Text(&subject.get()[0]));
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_BODY_W, PT_ERROR), subject.get()[1].ulPropTag);
    EXPECT_EQ(exchangefixture::SampleRtf(), RtfOf(PropertyStream(destination.Get(), PR_RTF_COMPRESSED, hr)));
}

TEST_P(MessageCopyTest, FailedCopiesAreLoggedUnderTheirMethods)
{
    ComPtr<IMessage> message = Sample(Samples().plain);
    ComPtr<IMAPIFolder> folder = NewTarget("failed copies" + Generation());
    ASSERT_NE(nullptr, folder);
    struct Case {
        const char* what;
        const wchar_t* method;
        std::function<HRESULT()> copy;
    };
    ComPtr<IMessage> attachments = Sample(Samples().attachments);
    ComPtr<IAttach> attach = Attachment(attachments.Get(), 0);
    const Case cases[] = {
        {"a message copied onto a folder", L"CMessage::CopyTo",
         [&] { return message->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, folder.Get(), 0, nullptr); }},
        {"message properties without a list", L"CMessage::CopyProps",
         [&] { return message->CopyProps(nullptr, 0, nullptr, &IID_IMessage, folder.Get(), 0, nullptr); }},
        {"attachment properties without a list", L"CAttach::CopyProps",
         [&] { return attach->CopyProps(nullptr, 0, nullptr, &IID_IAttachment, folder.Get(), 0, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring frame = std::wstring(L"Method ") + c.method + L" failed.  HRESULT 0x";
        const size_t before = LogLinesWith(frame).size();
        const HRESULT hr = c.copy();
        EXPECT_TRUE(FAILED(hr));
        wchar_t code[16];
        swprintf(code, 16, L"%08x.", static_cast<unsigned>(hr));
        const std::vector<std::wstring> lines = LogLinesWith(frame + code);
        EXPECT_EQ(before + 1, LogLinesWith(frame).size());
        EXPECT_FALSE(lines.empty());
    }
}

TEST_P(MessageCopyTest, AnAttachmentCopyHandsOutAnEmptyProblemArray)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ComPtr<IAttach> attach = Attachment(message.Get(), 0);
    ASSERT_NE(nullptr, attach);
    ComPtr<IMAPIFolder> folder = NewTarget("attachment copies" + Generation());
    ComPtr<IMessage> destination = NewMessage(folder.Get());
    ComPtr<IAttach> copy;
    ULONG number = 0;
    ASSERT_EQ(S_OK, destination->CreateAttach(nullptr, 0, &number, copy.GetAddressOf()));
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(S_OK, attach->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IAttachment, copy.Get(), 0, &problems));
    ASSERT_NE(nullptr, problems);
    EXPECT_EQ(0u, problems->cProblem);
    MAPIFreeBuffer(problems);
    HRESULT hr = S_OK;
    EXPECT_EQ(BytesOf("quarter,revenue\r\nQ1,120\r\nQ2,135\r\n"), PropertyStream(copy.Get(), PR_ATTACH_DATA_BIN, hr));
    ASSERT_EQ(S_OK, attach->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IAttachment, copy.Get(), 0, nullptr));
}

// The samples folder, every kind of message in it, copied through the
// support object's folder copy: each message arrives whole.
TEST_P(MessageCopyTest, AFolderOfEveryKindOfMessageArrivesWhole)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMAPIFolder> top = Folder(MailboxTopId(uid, ids.alice.rootId));
    ComPtr<IMAPIFolder> samples = Folder(FolderId(uid, ids.alice.rootId, ids.samples));
    ASSERT_NE(nullptr, top);
    ASSERT_NE(nullptr, samples);
    ComPtr<IMAPIFolder> destination = NewTarget("folder copies" + Generation());
    ASSERT_NE(nullptr, destination);
    CEntryId samplesId = FolderId(uid, ids.alice.rootId, ids.samples);
    ASSERT_EQ(S_OK, top->CopyFolder(72, samplesId.AsEntryId(), nullptr, destination.Get(), nullptr, 0, nullptr,
                                    COPY_SUBFOLDERS));
    std::map<std::wstring, ComPtr<IMessage>> copies;
    {
        ComPtr<IMAPITable> table;
        ASSERT_EQ(S_OK, destination->GetHierarchyTable(0, table.GetAddressOf()));
        ClientRows rows = AllRows(table.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID});
        ASSERT_NE(nullptr, rows);
        ASSERT_EQ(1u, rows->cRows);
        EXPECT_EQ(L"Message Samples", Text(&rows->aRow[0].lpProps[0]));
        const SBinary& id = rows->aRow[0].lpProps[1].Value.bin;
        ULONG type = 0;
        ComPtr<IUnknown> object;
        ComPtr<IMAPIFolder> copied;
        ASSERT_EQ(S_OK, destination->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, 0, &type,
                                               object.GetAddressOf()));
        ASSERT_EQ(S_OK, object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(copied.GetAddressOf())));
        copies = MessagesOf(copied.Get());
    }
    const std::map<std::wstring, ComPtr<IMessage>> sources = MessagesOf(samples.Get());
    ASSERT_EQ(sources.size(), copies.size());
    for (const auto& source : sources) {
        const std::string name(source.first.begin(), source.first.end());
        ASSERT_NE(nullptr, source.second) << name;
        auto copy = copies.find(source.first);
        ASSERT_NE(copies.end(), copy) << name;
        ASSERT_NE(nullptr, copy->second) << name;
        ExpectSameMessages(source.second.Get(), copy->second.Get(), name);
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, MessageCopyTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

} // namespace
