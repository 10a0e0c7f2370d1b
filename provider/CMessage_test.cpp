// Messages as a MAPI client sees them: their identity, bodies of every kind
// (plain, ANSI, compressed RTF, HTML, held only as MIME) as values and as
// streams, the slots they refuse, recipients of every record layout, the
// display strings made of them, and sender identifiers of both kinds.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "SenderIds.h"
#include "testing/MessageClientTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace providertest;
using exchangefixture::EGeneration;

namespace {

constexpr ULONG kPrStoreUnicodeMask = 0x340F0003;
constexpr ULONG kPrRecipientEntryId = 0x5FF70102;
constexpr ULONG kPrRecipientFlags = 0x5FFD0003;
constexpr ULONG kPrRecipientTrackStatus = 0x5FFF0003;
constexpr ULONG kPrSmtpAddressW = 0x39FE001F;
constexpr ULONG kPrMimeText = 0x66590102;

const std::wstring kPlainBody = L"Quarterly figures are up by 12%.\r\nSee you on Friday.\r\n";

class MessageTest : public MessageClientTest {};

std::vector<ULONG> Columns(IMAPITable* table)
{
    LPSPropTagArray raw = nullptr;
    if (FAILED(table->QueryColumns(0, &raw)) || !raw)
        return {};
    ClientBuffer<SPropTagArray> columns(raw);
    return std::vector<ULONG>(columns->aulPropTag, columns->aulPropTag + columns->cValues);
}

const SPropValue* Value(const SRow& row, ULONG tag)
{
    return FindProp(row.lpProps, row.cValues, tag);
}

// The provider's log, from a position on, as one text of its lines.
size_t LogLineCount()
{
    std::wstring directory;
    GetDataDirectory(directory);
    return ReadLogLines(directory + L"\\KOLWEN32.log").size();
}

std::vector<std::wstring> LogLinesSince(size_t first)
{
    std::wstring directory;
    GetDataDirectory(directory);
    std::vector<std::wstring> lines = ReadLogLines(directory + L"\\KOLWEN32.log");
    if (first >= lines.size())
        return {};
    return std::vector<std::wstring>(lines.begin() + static_cast<ptrdiff_t>(first), lines.end());
}

// Whether a dump follows a line ending in prefix among lines.
bool DumpFollows(const std::vector<std::wstring>& lines, const std::wstring& prefix, const std::wstring& dump)
{
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].size() >= prefix.size() && lines[i].compare(lines[i].size() - prefix.size(), prefix.size(), prefix) == 0 &&
            lines[i + 1] == dump)
            return true;
    return false;
}

TEST_P(MessageTest, IdentityIsTheProvidersAndTheRestTheServers)
{
    const SMailboxFixture& ids = Ids();
    ComPtr<IMessage> message = Sample(Samples().plain);
    ASSERT_NE(nullptr, message);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values =
        GetProps(message.Get(),
                 {PR_OBJECT_TYPE, PR_ENTRYID, PR_RECORD_KEY, PR_PARENT_ENTRYID, PR_STORE_RECORD_KEY,
                  PR_MAPPING_SIGNATURE, PR_MDB_PROVIDER, PR_ACCESS, PR_ACCESS_LEVEL, PR_STORE_SUPPORT_MASK,
                  kPrStoreUnicodeMask, PR_MESSAGE_ATTACHMENTS, PR_MESSAGE_RECIPIENTS, PR_SUBJECT_W, 0x7FFF001F,
                  PR_NULL, PR_STORE_ENTRYID},
                 hr, MAPI_UNICODE);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    ASSERT_NE(nullptr, values);
    const SPropValue* v = values.get();
    EXPECT_EQ(static_cast<LONG>(MAPI_MESSAGE), v[0].Value.l);
    EXPECT_EQ(IdBytes(SampleId(Samples().plain)), Bytes(&v[1]));
    EXPECT_EQ(IdBytes(SampleId(Samples().plain)), Bytes(&v[2]));
    EXPECT_EQ(IdBytes(FolderId(uid, ids.alice.rootId, ids.samples)), Bytes(&v[3]));
    EXPECT_EQ(UidBytes(uid), Bytes(&v[4]));
    EXPECT_EQ(UidBytes(uid), Bytes(&v[5]));
    EXPECT_EQ(std::vector<BYTE>(kProviderUid.ab, kProviderUid.ab + 16), Bytes(&v[6]));
    EXPECT_EQ(static_cast<LONG>(MAPI_ACCESS_READ), v[7].Value.l);
    EXPECT_EQ(0, v[8].Value.l);
    EXPECT_EQ(0x00050B67, v[9].Value.l);
    EXPECT_EQ(0x00050B67, v[10].Value.l);
    EXPECT_EQ(PR_MESSAGE_ATTACHMENTS, v[11].ulPropTag);
    EXPECT_EQ(PR_MESSAGE_RECIPIENTS, v[12].ulPropTag);
    EXPECT_EQ(L"Plain text body", Text(&v[13]));
    EXPECT_EQ(0x7FFF000Au, v[14].ulPropTag);
    EXPECT_EQ(MAPI_E_NOT_FOUND, v[14].Value.err);
    EXPECT_EQ(PR_NULL, v[15].ulPropTag);
    EXPECT_EQ(PR_STORE_ENTRYID, v[16].ulPropTag);
    EXPECT_LT(72u, v[16].Value.bin.cb);

    // The store opens the same message by its identifier.
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, OpenEntry(store, SampleId(Samples().plain), 0, &type, object.GetAddressOf()));
    EXPECT_EQ(static_cast<ULONG>(MAPI_MESSAGE), type);
    ComPtr<IMessage> throughStore;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(throughStore.GetAddressOf())));
    ClientBuffer<SPropValue> again = GetProps(throughStore.Get(), {PR_ENTRYID, PR_SUBJECT_W}, hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(IdBytes(SampleId(Samples().plain)), Bytes(&again.get()[0]));
    EXPECT_EQ(L"Plain text body", Text(&again.get()[1]));

    struct Interface {
        const IID* iid;
        HRESULT hr;
    } interfaces[] = {{&IID_IMessage, S_OK},        {&IID_IMAPIProp, S_OK},          {&IID_IUnknown, S_OK},
                      {&IID_IMAPIFolder, E_NOINTERFACE}, {&IID_IAttachment, E_NOINTERFACE}};
    for (const Interface& i : interfaces) {
        ComPtr<IUnknown> asked;
        EXPECT_EQ(i.hr, message->QueryInterface(*i.iid, reinterpret_cast<void**>(asked.GetAddressOf())));
    }

    ULONG count = 0;
    LPSPropValue none = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->GetProps(nullptr, 0, &count, &none));
    SizedSPropTagArray(1, one) = {1, {PR_SUBJECT_W}};
    EXPECT_EQ(E_INVALIDARG, message->GetProps(reinterpret_cast<LPSPropTagArray>(&one), 0, nullptr, &none));
}

TEST_P(MessageTest, PropListHoldsTheFixedTagsThenTheServers)
{
    ComPtr<IMessage> message = Sample(Samples().rtf);
    ASSERT_NE(nullptr, message);
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, message->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> list(raw);
    const std::vector<ULONG> tags(list->aulPropTag, list->aulPropTag + list->cValues);
    const std::vector<ULONG> fixed = {0x0E13000D, 0x0E12000D, 0x340F0003, 0x340D0003, 0x34140102,
                                      0x0FF90102, 0x0FFF0102, 0x0FFB0102, 0x0FF80102, 0x0FFA0102,
                                      0x0E090102, 0x0FF40003, 0x0FF70003, 0x0FFE0003};
    ASSERT_LT(fixed.size(), tags.size());
    EXPECT_EQ(fixed, std::vector<ULONG>(tags.begin(), tags.begin() + 14));
    for (ULONG tag : {0x0037001Fu, 0x1000001Fu, 0x10090102u, 0x0E1F000Bu})
        EXPECT_NE(tags.end(), std::find(tags.begin() + 14, tags.end(), tag)) << std::hex << tag;
    EXPECT_EQ(E_INVALIDARG, message->GetPropList(0, nullptr));

    // A message held as MIME lists the bodies its MIME text holds.
    ComPtr<IMessage> mime = Sample(Samples().mimeOnly);
    ASSERT_NE(nullptr, mime);
    ASSERT_EQ(S_OK, mime->GetPropList(0, &raw));
    ClientBuffer<SPropTagArray> mimeList(raw);
    const std::vector<ULONG> mimeTags(mimeList->aulPropTag, mimeList->aulPropTag + mimeList->cValues);
    for (ULONG tag : {PR_BODY_W, kPrHtml, kPrMimeText})
        EXPECT_NE(mimeTags.end(), std::find(mimeTags.begin(), mimeTags.end(), tag)) << std::hex << tag;
    EXPECT_EQ(mimeTags.end(), std::find(mimeTags.begin(), mimeTags.end(), PR_RTF_COMPRESSED));
}

// Each body the server holds is a stream (PT_ERROR / E_OUTOFMEMORY), except
// a plain-text body kept in the ANSI code page, which comes back as text;
// a message held only as MIME marks the bodies its MIME text holds.
TEST_P(MessageTest, BodiesAreStreamsExceptAnsiTextWhichIsConverted)
{
    enum EBody { Missing, Stream, Converted };
    const exchangefixture::SMessageSamples& s = Samples();
    std::wstring large;
    while (large.size() < 9000)
        large += L"An older client wrote this caf\u00E9 body in the ANSI code page.\r\n";
    struct Case {
        const char* what;
        int64_t mid;
        EBody body, rtf, html;
        std::wstring text;  // the body's text, value or stream
    } cases[] = {
        {"plain text", s.plain, Stream, Missing, Missing, kPlainBody},
        {"RTF and plain", s.rtf, Stream, Stream, Missing, kPlainBody},
        {"HTML and plain", s.html, Stream, Missing, Stream, kPlainBody},
        {"HTML only", s.htmlOnly, Missing, Missing, Stream, L""},
        {"all three", s.allBodies, Stream, Stream, Stream, kPlainBody},
        {"ANSI", s.ansi, Converted, Missing, Missing, L"Caf\u00E9 au lait for 3 \u20AC, please.\r\nThanks!\r\n"},
        {"large ANSI", s.ansiLarge, Converted, Missing, Missing, large},
        {"MIME, plain and HTML", s.mimeOnly, Stream, Missing, Stream, L"Shall we meet at the caf\u00E9 at noon?"},
        {"MIME, plain only", s.mimeWithAttachments, Stream, Missing, Missing,
         L"The report is attached, with the note it answers."},
        {"no body at all", Ids().draft, Missing, Missing, Missing, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IMessage> message = Sample(c.mid);
        ASSERT_NE(nullptr, message);
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values = GetProps(message.Get(), {PR_BODY_W, PR_RTF_COMPRESSED, kPrHtml}, hr);
        ASSERT_NE(nullptr, values);
        const EBody expected[] = {c.body, c.rtf, c.html};
        const ULONG tags[] = {PR_BODY_W, PR_RTF_COMPRESSED, kPrHtml};
        bool anyError = false;
        for (int i = 0; i < 3; ++i) {
            const SPropValue& value = values.get()[i];
            switch (expected[i]) {
            case Missing:
                EXPECT_EQ(CHANGE_PROP_TYPE(tags[i], PT_ERROR), value.ulPropTag) << i;
                EXPECT_EQ(MAPI_E_NOT_FOUND, value.Value.err) << i;
                break;
            case Stream:
                EXPECT_EQ(CHANGE_PROP_TYPE(tags[i], PT_ERROR), value.ulPropTag) << i;
                EXPECT_EQ(E_OUTOFMEMORY, value.Value.err) << i;
                break;
            case Converted:
                EXPECT_EQ(tags[i], value.ulPropTag) << i << " " << Describe(&value);
                EXPECT_TRUE(Text(&value) == c.text) << i;
                break;
            }
            anyError = anyError || expected[i] != Converted;
        }
        EXPECT_EQ(anyError ? MAPI_W_ERRORS_RETURNED : S_OK, hr);

        // The streams hold the bodies; a converted body streams as UTF-16 too.
        HRESULT open = S_OK;
        const std::vector<BYTE> body = PropertyStream(message.Get(), PR_BODY_W, open);
        if (c.body == Missing) {
            EXPECT_EQ(MAPI_E_NOT_FOUND, open);
        } else {
            ASSERT_EQ(S_OK, open);
            const std::wstring text = WideOf(body);
            EXPECT_NE(std::wstring::npos, text.find(c.text)) << std::string(text.begin(), text.end());
        }
        const std::vector<BYTE> rtf = PropertyStream(message.Get(), PR_RTF_COMPRESSED, open);
        if (c.rtf == Stream)
            EXPECT_EQ(exchangefixture::SampleRtf(), RtfOf(rtf));
        else
            EXPECT_EQ(MAPI_E_NOT_FOUND, open);
        const std::vector<BYTE> html = PropertyStream(message.Get(), kPrHtml, open);
        if (c.html == Missing)
            EXPECT_EQ(MAPI_E_NOT_FOUND, open);
        else if (c.mid == s.mimeOnly)
            EXPECT_NE(std::string::npos, NarrowOf(html).find("at <b>noon</b>?"));
        else
            EXPECT_EQ(exchangefixture::SampleHtml(), NarrowOf(html));
    }

    // Asked for alone, a body of a message held as MIME is marked only when
    // the MIME text holds it.
    for (const auto& c : {std::make_pair(s.mimeOnly, E_OUTOFMEMORY), std::make_pair(s.mimeWithAttachments, MAPI_E_NOT_FOUND)}) {
        ComPtr<IMessage> message = Sample(c.first);
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> html = GetProps(message.Get(), {kPrHtml}, hr);
        EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
        EXPECT_EQ(c.second, html->Value.err);
    }
}

TEST_P(MessageTest, InternetIdentifiersKeptAsAnsiTextAreConverted)
{
    ComPtr<IMessage> message = Sample(Ids().internetIds);
    ASSERT_NE(nullptr, message);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(message.Get(), {0x1035001F, 0x1039001F, PR_SUBJECT_W}, hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"<caf\u00E9@example.com>", Text(&values.get()[0]));
    EXPECT_EQ(L"<a@example.com> <b@example.com>", Text(&values.get()[1]));
    EXPECT_EQ(L"Internet identifiers", Text(&values.get()[2]));
}

// MIME text that the converter cannot make a message of costs the message
// nothing it holds elsewhere, and fails no call.
TEST_P(MessageTest, MimeTextThatIsNoMimeBreaksNothing)
{
    ComPtr<IMessage> message = Sample(Ids().brokenMime);
    ASSERT_NE(nullptr, message);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(message.Get(), {PR_SUBJECT_W, PR_BODY_W, kPrHtml, PR_RTF_COMPRESSED}, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    EXPECT_EQ(L"Broken MIME", Text(&values.get()[0]));
    EXPECT_EQ(MAPI_E_NOT_FOUND, values.get()[3].Value.err);
    LPSPropTagArray raw = nullptr;
    EXPECT_EQ(S_OK, message->GetPropList(0, &raw));
    MAPIFreeBuffer(raw);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(S_OK, message->GetAttachmentTable(0, table.GetAddressOf()));
    EXPECT_EQ(S_OK, message->GetRecipientTable(0, table.ReleaseAndGetAddressOf()));
    HRESULT open = S_OK;
    PropertyStream(message.Get(), PR_RTF_COMPRESSED, open);
    EXPECT_EQ(MAPI_E_NOT_FOUND, open);
}

TEST_P(MessageTest, OpenPropertyRefusesWritesAndOtherInterfaces)
{
    ComPtr<IMessage> message = Sample(Samples().plain);
    ASSERT_NE(nullptr, message);
    struct Case {
        const char* what;
        ULONG tag;
        const IID* iid;
        ULONG flags;
        bool out;
        HRESULT hr;
    } cases[] = {
        {"a stream of the body", PR_BODY_W, &IID_IStream, 0, true, S_OK},
        {"the body as a storage", PR_BODY_W, &IID_IStorage, 0, true, E_NOINTERFACE},
        {"modify", PR_BODY_W, &IID_IStream, MAPI_MODIFY, true, E_ACCESSDENIED},
        {"create", PR_BODY_W, &IID_IStream, MAPI_CREATE, true, E_ACCESSDENIED},
        {"the recipients", PR_MESSAGE_RECIPIENTS, &IID_IMAPITable, 0, true, E_NOTIMPL},
        {"the attachments", PR_MESSAGE_ATTACHMENTS, &IID_IMAPITable, 0, true, E_NOTIMPL},
        {"no interface", PR_BODY_W, nullptr, 0, true, E_INVALIDARG},
        {"no out pointer", PR_BODY_W, &IID_IStream, 0, false, E_INVALIDARG},
        {"a property the message lacks", 0x7FFF0102, &IID_IStream, 0, true, MAPI_E_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IUnknown> object;
        const HRESULT hr = message->OpenProperty(c.tag, c.iid, 0, c.flags, c.out ? object.GetAddressOf() : nullptr);
        EXPECT_EQ(c.hr, hr);
        EXPECT_EQ(SUCCEEDED(hr), object != nullptr);
    }
    // The server's failure is recorded for GetLastError.
    ComPtr<IUnknown> object;
    EXPECT_EQ(MAPI_E_NOT_FOUND, message->OpenProperty(0x7FFF0102, &IID_IStream, 0, 0, object.GetAddressOf()));
    const std::wstring text = LastErrorText(message.Get());
    EXPECT_NE(std::wstring::npos, text.find(L"CMessage::OpenProperty"));
    EXPECT_NE(std::wstring::npos, text.find(L"cannot create stream")) << "the server's own description";
    EXPECT_EQ(S_OK, message->OpenProperty(PR_BODY_W, &IID_IStream, 0, 0, object.GetAddressOf()));
    EXPECT_EQ(L"", LastErrorText(message.Get())) << "a successful call leaves no error";
}

TEST_P(MessageTest, WritesAreRefused)
{
    ComPtr<IMessage> message = Sample(Samples().attachments);
    ASSERT_NE(nullptr, message);
    SPropValue subject = {};
    subject.ulPropTag = PR_SUBJECT_W;
    subject.Value.lpszW = const_cast<wchar_t*>(L"changed");
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->SaveChanges(KEEP_OPEN_READWRITE));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->SetProps(1, &subject, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->DeleteProps(nullptr, nullptr));
    ULONG number = 0;
    ComPtr<IAttach> attach;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->CreateAttach(nullptr, 0, &number, attach.GetAddressOf()));
    EXPECT_EQ(nullptr, attach);
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->DeleteAttach(0, 0, nullptr, 0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->ModifyRecipients(MODRECIP_ADD, nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->SubmitMessage(0));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->SetReadFlag(0));
    EXPECT_EQ(E_ACCESSDENIED, message->OpenAttach(0, nullptr, MAPI_MODIFY, attach.GetAddressOf()));
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> kept = GetProps(message.Get(), {PR_SUBJECT_W}, hr);
    EXPECT_EQ(L"Attachments of every kind", Text(kept.get()));
}

TEST_P(MessageTest, RecipientTableOfEveryLayout)
{
    ComPtr<IMessage> message = Sample(Samples().recipients);
    ASSERT_NE(nullptr, message);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, table.GetAddressOf()));
    EXPECT_EQ((std::vector<ULONG>{PR_INSTANCE_KEY, PR_ROWID, PR_RECIPIENT_TYPE, PR_ADDRTYPE_W, PR_DISPLAY_NAME_W,
                                  PR_EMAIL_ADDRESS_W, kPrRecipientEntryId, kPrRecipientFlags,
                                  kPrRecipientTrackStatus, kPrSmtpAddressW, PR_DISPLAY_TYPE}),
              Columns(table.Get()));
    ClientRows rows = AllRows(table.Get());
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(5u, rows->cRows);

    struct Expected {
        LONG type;
        const wchar_t* addressType;  // null: none
        const wchar_t* name;
        const wchar_t* address;      // null: none
        bool flagsAbsent;            // PR_RECIPIENT_FLAGS marked absent
        bool hasFlags;
    } expected[] = {
        {MAPI_TO, L"SMTP", L"Alice Lindqvist", L"alice@example.com", false, true},
        {MAPI_TO, L"EX", L"Carla Nystr\u00F6m", nullptr, true, true},
        {MAPI_CC, nullptr, L"Team Leads", nullptr, false, true},
        {MAPI_CC, L"SMTP", L"Dmitri Orlov", L"dmitri@example.org", false, true},
        {MAPI_BCC, L"EX", L"Erik Berg", nullptr, false, false},
    };
    for (ULONG r = 0; r < rows->cRows; ++r) {
        SCOPED_TRACE(r);
        const SRow& row = rows->aRow[r];
        const Expected& e = expected[r];
        ASSERT_NE(nullptr, Value(row, PR_ROWID));
        EXPECT_EQ(static_cast<LONG>(r), Value(row, PR_ROWID)->Value.l);
        EXPECT_EQ(e.type, Value(row, PR_RECIPIENT_TYPE)->Value.l);
        EXPECT_EQ(std::vector<BYTE>({static_cast<BYTE>(r), 0, 0, 0}), Bytes(Value(row, PR_INSTANCE_KEY)));
        if (e.addressType)
            EXPECT_EQ(e.addressType, Text(Value(row, PR_ADDRTYPE_W)));
        else
            EXPECT_NE(nullptr, Value(row, CHANGE_PROP_TYPE(PR_ADDRTYPE_W, PT_ERROR)));
        EXPECT_EQ(e.name, Text(Value(row, PR_DISPLAY_NAME_W)));
        if (e.address)
            EXPECT_EQ(e.address, Text(Value(row, PR_EMAIL_ADDRESS_W)));
        else
            EXPECT_NE(nullptr, Value(row, CHANGE_PROP_TYPE(PR_EMAIL_ADDRESS_W, PT_ERROR)));
        if (e.flagsAbsent)
            EXPECT_NE(nullptr, Value(row, CHANGE_PROP_TYPE(kPrRecipientFlags, PT_ERROR)));
        else if (e.hasFlags)
            EXPECT_EQ(1, Value(row, kPrRecipientFlags)->Value.l);
        else
            EXPECT_EQ(nullptr, Value(row, kPrRecipientFlags));
    }
    // The extra columns: an entry identifier without its length prefix, a
    // wide string.
    const std::vector<BYTE> aliceId = Bytes(Value(rows->aRow[0], kPrRecipientEntryId));
    ASSERT_EQ(24u + 2 * (16 + 5 + 18), aliceId.size());
    EXPECT_EQ(0x81, aliceId[4]);
    EXPECT_EQ(L"alice@example.com", Text(Value(rows->aRow[0], kPrSmtpAddressW)));
    EXPECT_EQ(L"dmitri@example.org", Text(Value(rows->aRow[3], kPrSmtpAddressW)));
    EXPECT_NE(nullptr, Value(rows->aRow[2], CHANGE_PROP_TYPE(kPrRecipientEntryId, PT_ERROR)));

    // Without a recipient record the table is empty, with its six columns.
    ComPtr<IMessage> plain = Sample(Samples().plain);
    ASSERT_EQ(S_OK, plain->GetRecipientTable(0, table.ReleaseAndGetAddressOf()));
    EXPECT_EQ((std::vector<ULONG>{PR_INSTANCE_KEY, PR_ROWID, PR_RECIPIENT_TYPE, PR_ADDRTYPE_W, PR_DISPLAY_NAME_W,
                                  PR_EMAIL_ADDRESS_W}),
              Columns(table.Get()));
    ULONG count = 99;
    EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(E_INVALIDARG, plain->GetRecipientTable(0, nullptr));
}

// A record that does not fit its bounds is left out and logged as a hex
// dump, by the recipient table and by the display strings alike.
TEST_P(MessageTest, DamagedRecipientRecordsAreLoggedAndLeftOut)
{
    ComPtr<IMessage> message = Sample(Samples().damagedRecipients);
    ASSERT_NE(nullptr, message);
    const std::wstring dump = L"02 00 00 06 00 10 00 42 00 72 00 ";

    size_t before = LogLineCount();
    ComPtr<IMAPITable> table;
    ASSERT_EQ(S_OK, message->GetRecipientTable(0, table.GetAddressOf()));
    ClientRows rows = AllRows(table.Get(), {PR_ROWID, PR_DISPLAY_NAME_W, PR_RECIPIENT_TYPE});
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(2u, rows->cRows);
    EXPECT_EQ(0, rows->aRow[0].lpProps[0].Value.l);
    EXPECT_EQ(L"Anna", Text(&rows->aRow[0].lpProps[1]));
    EXPECT_EQ(2, rows->aRow[1].lpProps[0].Value.l) << "the left-out record keeps its number";
    EXPECT_EQ(L"Bo", Text(&rows->aRow[1].lpProps[1]));
    EXPECT_TRUE(DumpFollows(LogLinesSince(before), L"Unexpected recipients: ", dump));

    before = LogLineCount();
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> display = GetProps(message.Get(), {PR_DISPLAY_TO_W, PR_DISPLAY_CC_W, PR_DISPLAY_BCC_W}, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    EXPECT_EQ(L"Anna", Text(&display.get()[0]));
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_DISPLAY_CC_W, PT_ERROR), display.get()[1].ulPropTag);
    EXPECT_EQ(L"Bo", Text(&display.get()[2]));
    EXPECT_TRUE(DumpFollows(LogLinesSince(before), L"Unexpected display recipients: ", dump));
}

TEST_P(MessageTest, DisplayRecipientsJoinTheNamesOfEachType)
{
    ComPtr<IMessage> message = Sample(Samples().recipients);
    ASSERT_NE(nullptr, message);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> display =
        GetProps(message.Get(), {PR_DISPLAY_BCC_W, PR_SUBJECT_W, PR_DISPLAY_TO_W, PR_DISPLAY_CC_W}, hr);
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(L"Erik Berg", Text(&display.get()[0]));
    EXPECT_EQ(L"Alice Lindqvist; Carla Nystr\u00F6m", Text(&display.get()[2]));
    EXPECT_EQ(L"Team Leads; Dmitri Orlov", Text(&display.get()[3]));
    // Without a record there is nothing to show.
    ComPtr<IMessage> plain = Sample(Samples().plain);
    display = GetProps(plain.Get(), {PR_DISPLAY_TO_W}, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    EXPECT_EQ(MAPI_E_NOT_FOUND, display->Value.err);
}

TEST_P(MessageTest, SenderIdentifiersOfBothKinds)
{
    const exchangefixture::SMessageSamples& s = Samples();
    const std::wstring carlaDn = L"/o=Example/ou=First Administrative Group/cn=Recipients/cn=carla";
    const std::vector<BYTE> bruno = BuildOneOffEntryId(L"Bruno Castell", L"bruno@example.com");
    struct Case {
        const char* what;
        int64_t mid;
        std::wstring name;
        std::wstring address;
        std::wstring addressType;
        std::vector<BYTE> sentRepresentingId;
        std::vector<BYTE> senderId;  // empty: none
    } cases[] = {
        {"an SMTP sender", s.smtpSender, L"Bruno Castell", L"bruno@example.com", L"SMTP", bruno, bruno},
        {"an Exchange sender", s.exchangeSender, L"Carla Nystr\u00F6m", carlaDn, L"EX",
         BuildAddressBookEntryId(carlaDn), BuildAddressBookEntryId(carlaDn)},
        {"a stored identifier starting 0xFF is kept", s.keptSenderId, L"Bruno Castell", L"bruno@example.com", L"SMTP",
         {0xFF, 0x01, 0x02, 0x03}, {}},
        {"an unexpected stored identifier is rebuilt", s.oddSenderId, L"Bruno Castell", L"bruno@example.com",
         L"SMTP", bruno, bruno},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IMessage> message = Sample(c.mid);
        ASSERT_NE(nullptr, message);
        const size_t before = LogLineCount();
        HRESULT hr = S_OK;
        ClientBuffer<SPropValue> values =
            GetProps(message.Get(),
                     {PR_SENT_REPRESENTING_ENTRYID, PR_SENDER_ENTRYID, PR_SENT_REPRESENTING_EMAIL_ADDRESS_W,
                      PR_SENDER_EMAIL_ADDRESS_W, PR_SENDER_NAME_W, PR_SENT_REPRESENTING_NAME_W,
                      PR_SENDER_ADDRTYPE_W, PR_SENT_REPRESENTING_ADDRTYPE_W},
                     hr);
        ASSERT_NE(nullptr, values);
        const SPropValue* v = values.get();
        EXPECT_EQ(c.senderId.empty() ? MAPI_W_ERRORS_RETURNED : S_OK, hr);
        EXPECT_EQ(c.sentRepresentingId, Bytes(&v[0]));
        if (c.senderId.empty())
            EXPECT_EQ(CHANGE_PROP_TYPE(PR_SENDER_ENTRYID, PT_ERROR), v[1].ulPropTag);
        else
            EXPECT_EQ(c.senderId, Bytes(&v[1]));
        EXPECT_EQ(c.address, Text(&v[2]));
        EXPECT_EQ(c.address, Text(&v[3]));
        EXPECT_EQ(c.name, Text(&v[4]));
        EXPECT_EQ(c.name, Text(&v[5]));
        EXPECT_EQ(c.addressType, Text(&v[6]));
        EXPECT_EQ(c.addressType, Text(&v[7]));
        const bool logged = DumpFollows(LogLinesSince(before), L"Unexpected sender: ", L"12 34 56 78 ");
        EXPECT_EQ(c.mid == s.oddSenderId, logged);
    }

    // A sender known by name only: what cannot be made stays an error of
    // its own value, and the call succeeds with the warning.
    ComPtr<IMessage> named = Message(Ids().inbox, Ids().inboxMessages[0]);
    ASSERT_NE(nullptr, named);
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> values = GetProps(named.Get(), {PR_SENDER_ENTRYID, PR_SENDER_NAME_W}, hr);
    EXPECT_EQ(MAPI_W_ERRORS_RETURNED, hr);
    ASSERT_NE(nullptr, values);
    EXPECT_EQ(CHANGE_PROP_TYPE(PR_SENDER_ENTRYID, PT_ERROR), values.get()[0].ulPropTag);
    EXPECT_EQ(L"Eva Marsh", Text(&values.get()[1]));
}

TEST_P(MessageTest, NamedPropertiesComeFromTheStoresMap)
{
    ComPtr<IMessage> message = Sample(Samples().plain);
    ASSERT_NE(nullptr, message);
    static GUID publicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    MAPINAMEID keywords = {&publicStrings, MNID_STRING, {0}};
    keywords.Kind.lpwstrName = const_cast<wchar_t*>(L"Keywords");
    LPMAPINAMEID names[] = {&keywords};
    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, message->GetIDsFromNames(1, names, 0, &raw));
    ClientBuffer<SPropTagArray> tags(raw);
    EXPECT_EQ(0x80000000u, tags->aulPropTag[0]);
    ULONG count = 0;
    LPMAPINAMEID* found = nullptr;
    LPSPropTagArray asked = tags.get();
    ASSERT_EQ(S_OK, message->GetNamesFromIDs(&asked, nullptr, 0, &count, &found));
    ClientBuffer<LPMAPINAMEID> foundNames(found);
    ASSERT_EQ(1u, count);
    EXPECT_EQ(std::wstring(L"Keywords"), found[0]->Kind.lpwstrName);
    LPSPropTagArray nullTags = nullptr;
    EXPECT_EQ(MAPI_E_NO_SUPPORT, message->GetNamesFromIDs(&nullTags, nullptr, 0, &count, &found));
}

INSTANTIATE_TEST_SUITE_P(Generations, MessageTest,
                         ::testing::Values(EGeneration::Exchange2003, EGeneration::Exchange2007), GenerationName);

} // namespace
