// The converter as its callers reach it: created through COM from its
// registration, converting into messages on storage of the MAPI library.
#include "MimeMapiTags.h"
#include "MimeTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace mimetest;
using namespace mimetags;

namespace {

class ConverterSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterConverter(); }

    void SetUp() override { m_converter = NewConverter(); }

    // Converts into a fresh message that stays open for the test.
    IMessage* Converted(const std::string& mime, ULONG flags = CCSF_SMTP)
    {
        m_messages.emplace_back(new CStorageMessage());
        EXPECT_EQ(S_OK, Convert(m_converter.Get(), mime, m_messages.back()->Get(), flags));
        return m_messages.back()->Get();
    }

    CComScope m_com;
    ComPtr<IConverterSession> m_converter;
    std::vector<std::unique_ptr<CStorageMessage>> m_messages;
};

const char kEnvelope[] =
    "Return-Path: <x@example.net>\r\n"
    "Received: from mx.example.com by mail.example.org; Tue, 1 Jul 2003 10:52:37 +0200\r\n"
    "Received: from older.example.com; Tue, 1 Jul 2003 10:50:00 +0200\r\n"
    "Message-ID: <abc@example.com>\r\n"
    "In-Reply-To: <parent@example.com>\r\n"
    "References: <root@example.com>\r\n"
    "\t<parent@example.com>\r\n"
    "From: =?utf-8?Q?Ren=C3=A9?= <rene@example.fr>\r\n"
    "Sender: Secretary <sec@example.fr>\r\n"
    "Reply-To: Replies <replies@example.fr>, other@example.fr\r\n"
    "To: Anna <anna@example.com>, bob@example.com\r\n"
    "Cc: Team: carl@example.com;\r\n"
    "Bcc: hidden@example.com\r\n"
    "Subject: Re: =?iso-8859-1?Q?caf=E9?= plans\r\n"
    "Date: Tue, 1 Jul 2003 10:45:00 +0200\r\n"
    "Importance: high\r\n"
    "Sensitivity: Private\r\n"
    "Disposition-Notification-To: rene@example.fr\r\n"
    "Thread-Index: AQHZ\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "\r\n"
    "Body\r\n";

// A one-off entry id: flags, the one-off provider, version, flags, then the
// display name, address type and address as Unicode strings.
std::wstring OneOffStrings(const std::string& id)
{
    if (id.size() < 24)
        return L"(short)";
    const BYTE provider[16] = MAPI_ONE_OFF_UID;
    if (id.compare(4, 16, std::string(reinterpret_cast<const char*>(provider), 16)) != 0)
        return L"(not one-off)";
    std::wstring strings(reinterpret_cast<const wchar_t*>(id.data() + 24), (id.size() - 24) / 2);
    for (wchar_t& c : strings)
        c = c ? c : L'|';
    return strings;
}

TEST_F(ConverterSessionTest, EnvelopeHeadersBecomeMessageProperties)
{
    IMessage* message = Converted(kEnvelope);
    EXPECT_EQ(L"IPM.Note", Text(message, Wide(PR_MESSAGE_CLASS)));
    EXPECT_EQ(L"Re: caf\u00E9 plans", Text(message, Wide(PR_SUBJECT)));
    EXPECT_EQ(L"Re: ", Text(message, Wide(PR_SUBJECT_PREFIX)));
    EXPECT_EQ(L"caf\u00E9 plans", Text(message, Wide(PR_NORMALIZED_SUBJECT)));
    EXPECT_EQ(L"caf\u00E9 plans", Text(message, Wide(PR_CONVERSATION_TOPIC)));

    EXPECT_EQ(L"Ren\u00E9", Text(message, Wide(PR_SENT_REPRESENTING_NAME)));
    EXPECT_EQ(L"rene@example.fr", Text(message, Wide(PR_SENT_REPRESENTING_EMAIL_ADDRESS)));
    EXPECT_EQ(L"SMTP", Text(message, Wide(PR_SENT_REPRESENTING_ADDRTYPE)));
    EXPECT_EQ(L"Ren\u00E9|SMTP|rene@example.fr|", OneOffStrings(Prop(message, PR_SENT_REPRESENTING_ENTRYID).bytes));
    EXPECT_EQ(L"Secretary", Text(message, Wide(PR_SENDER_NAME)));
    EXPECT_EQ(L"sec@example.fr", Text(message, Wide(PR_SENDER_EMAIL_ADDRESS)));
    EXPECT_EQ(L"SMTP", Text(message, Wide(PR_SENDER_ADDRTYPE)));
    EXPECT_EQ(std::string("SMTP:SEC@EXAMPLE.FR", 20), Prop(message, PR_SENDER_SEARCH_KEY).bytes);
    EXPECT_EQ(L"Secretary|SMTP|sec@example.fr|", OneOffStrings(Prop(message, PR_SENDER_ENTRYID).bytes));
    EXPECT_EQ(L"Replies; other@example.fr", Text(message, Wide(PR_REPLY_RECIPIENT_NAMES)));
    const std::string entries = Prop(message, PR_REPLY_RECIPIENT_ENTRIES).bytes;
    ASSERT_GE(entries.size(), 8u);
    EXPECT_EQ(2u, *reinterpret_cast<const ULONG*>(entries.data()));
    EXPECT_EQ(entries.size() - 8, *reinterpret_cast<const ULONG*>(entries.data() + 4));

    EXPECT_EQ(UtcTicks(2003, 7, 1, 8, 45, 0), Ticks(Prop(message, PR_CLIENT_SUBMIT_TIME).time));
    EXPECT_EQ(UtcTicks(2003, 7, 1, 8, 52, 37), Ticks(Prop(message, PR_MESSAGE_DELIVERY_TIME).time));
    EXPECT_EQ(L"<abc@example.com>", Text(message, kInternetMessageId));
    EXPECT_EQ(L"<parent@example.com>", Text(message, kInReplyToId));
    EXPECT_EQ(L"<root@example.com> <parent@example.com>", Text(message, kInternetReferences));
    EXPECT_EQ(std::string("\x01\x01\xD9", 3), Prop(message, PR_CONVERSATION_INDEX).bytes);
    EXPECT_EQ(IMPORTANCE_HIGH, Prop(message, PR_IMPORTANCE).number);
    EXPECT_EQ(static_cast<LONG>(SENSITIVITY_PRIVATE), Prop(message, PR_SENSITIVITY).number);
    EXPECT_TRUE(Prop(message, PR_READ_RECEIPT_REQUESTED).flag);
    EXPECT_FALSE(Prop(message, PR_PRIORITY).Found());
    EXPECT_EQ(0, Prop(message, PR_MESSAGE_FLAGS).number);
    EXPECT_EQ(L"Anna; bob@example.com", Text(message, Wide(PR_DISPLAY_TO)));
    EXPECT_EQ(L"carl@example.com", Text(message, Wide(PR_DISPLAY_CC)));
    EXPECT_EQ(L"", Text(message, Wide(PR_DISPLAY_BCC)));

    const std::wstring headers = Text(message, Wide(PR_TRANSPORT_MESSAGE_HEADERS));
    EXPECT_EQ(0u, headers.find(L"Return-Path: <x@example.net>\r\nReceived: from mx.example.com"));
    EXPECT_NE(std::wstring::npos, headers.find(L"References: <root@example.com>\r\n\t<parent@example.com>\r\n"));
    EXPECT_EQ(headers.size() - 4, headers.rfind(L"\r\n\r\n"));
    EXPECT_EQ(L"Body\r\n", Body(message));
}

TEST_F(ConverterSessionTest, RecipientsGoToTheRecipientTableBccOnlyWhenAsked)
{
    struct Case {
        ULONG flags;
        std::vector<std::wstring> rows; // type|display|address|addrtype|one-off strings
    } cases[] = {
        {CCSF_SMTP,
         {L"1|Anna|anna@example.com|SMTP|Anna|SMTP|anna@example.com|",
          L"1|bob@example.com|bob@example.com|SMTP|bob@example.com|SMTP|bob@example.com|",
          L"2|carl@example.com|carl@example.com|SMTP|carl@example.com|SMTP|carl@example.com|"}},
        {CCSF_SMTP | CCSF_INCLUDE_BCC,
         {L"1|Anna|anna@example.com|SMTP|Anna|SMTP|anna@example.com|",
          L"1|bob@example.com|bob@example.com|SMTP|bob@example.com|SMTP|bob@example.com|",
          L"2|carl@example.com|carl@example.com|SMTP|carl@example.com|SMTP|carl@example.com|",
          L"3|hidden@example.com|hidden@example.com|SMTP|hidden@example.com|SMTP|hidden@example.com|"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        IMessage* message = Converted(kEnvelope, c.flags);
        std::vector<std::wstring> rows;
        for (const Row& row : Recipients(message)) {
            const auto entry = row.find(PROP_ID(PR_ENTRYID));
            rows.push_back(std::to_wstring(Number(row, PR_RECIPIENT_TYPE)) + L"|" + Cell(row, PR_DISPLAY_NAME_W) +
                           L"|" + Cell(row, PR_EMAIL_ADDRESS_W) + L"|" + Cell(row, PR_ADDRTYPE_W) + L"|" +
                           (entry == row.end() ? L"" : OneOffStrings(entry->second.bytes)));
            EXPECT_EQ(static_cast<LONG>(MAPI_MAILUSER), Number(row, PR_OBJECT_TYPE));
            EXPECT_EQ(Cell(row, PR_EMAIL_ADDRESS_W), Cell(row, kSmtpAddress));
        }
        EXPECT_EQ(c.rows, rows);
    }
}

TEST_F(ConverterSessionTest, TextPartsBecomeBodies)
{
    struct Case {
        const char* name;
        std::string mime;
        std::wstring body;
        std::string html; // empty: no PR_HTML
        LONG codePage;
        size_t attachments;
    } cases[] = {
        {"quoted-printable Latin-1",
         "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
         "caf=E9=\n au lait\nsecond line\n",
         L"caf\u00E9 au lait\r\nsecond line\r\n", "", 28591, 0},
        {"no charset: US-ASCII", "Subject: x\n\nplain\n", L"plain\r\n", "", 20127, 0},
        {"windows-1252", "Content-Type: text/plain; charset=windows-1252\n\n\x80 \x93q\x94", L"\u20AC \u201Cq\u201D", "",
         1252, 0},
        {"HTML only, base64 UTF-8",
         "Content-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
         "PHA+SGVsbG8gPGI+d8O2cmxkPC9iPjwvcD4=\n",
         L"Hello w\u00F6rld", "<p>Hello <b>w\xC3\xB6rld</b></p>", 65001, 0},
        {"HTML only, charset in the page",
         "Content-Type: text/html\n\n<html><head><meta charset=\"windows-1252\"></head><body>caf\xE9</body></html>",
         L"caf\u00E9", "<html><head><meta charset=\"windows-1252\"></head><body>caf\xE9</body></html>", 1252, 0},
        {"alternative",
         "Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain; charset=utf-8\n\n"
         "plain \xC3\xA9\n--a\nContent-Type: text/html; charset=iso-8859-1\n\n<p>html \xE9</p>\n--a--\n",
         L"plain \u00E9", "<p>html \xE9</p>", 28591, 0},
        {"HTML first in mixed: the later plain part is an attachment",
         "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/html\n\n<i>x</i>\n--m\n\nplain\n--m--\n",
         L"x", "<i>x</i>", 65001, 1},
        {"related inside alternative",
         "Content-Type: multipart/alternative; boundary=a\n\n--a\n\nplain\n--a\n"
         "Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<img src=\"cid:i1\">\n"
         "--r\nContent-Type: image/png\nContent-ID: <i1>\nContent-Transfer-Encoding: base64\n\niVBORw==\n--r--\n--a--\n",
         L"plain", "<img src=\"cid:i1\">", 65001, 1},
        {"no text at all", "Content-Type: image/gif\nContent-Transfer-Encoding: base64\n\nR0lGODlh\n", L"", "", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IMessage* message = Converted(c.mime);
        HRESULT bodyResult = S_OK;
        const std::wstring body = Body(message, &bodyResult);
        if (c.body.empty()) {
            EXPECT_EQ(MAPI_E_NOT_FOUND, bodyResult);
        }
        EXPECT_EQ(c.body, body);
        HRESULT htmlResult = S_OK;
        EXPECT_EQ(c.html, StreamBytes(message, kHtml, &htmlResult));
        EXPECT_EQ(c.html.empty() ? MAPI_E_NOT_FOUND : S_OK, htmlResult);
        if (c.codePage) {
            EXPECT_EQ(c.codePage, Prop(message, kInternetCodePage).number);
        }
        EXPECT_EQ(c.attachments, Attachments(message).size());
        EXPECT_EQ(c.attachments != 0, Prop(message, PR_HASATTACH).flag);
    }
}

TEST_F(ConverterSessionTest, PartsBecomeAttachmentsWithTheirNamesAndData)
{
    const std::string mime =
        "Subject: files\n"
        "Content-Type: multipart/mixed; boundary=\"==b==\"\n"
        "\n"
        "--==b==\n"
        "Content-Type: text/plain\n"
        "\n"
        "see the files\n"
        "--==b==\n"
        "Content-Type: application/pdf; name*=utf-8''r%C3%A9sum%C3%A9.pdf\n"
        "Content-Disposition: attachment\n"
        "Content-Transfer-Encoding: base64\n"
        "\n"
        "JVBERi0x\n"
        "--==b==\n"
        "Content-Type: text/plain; charset=us-ascii\n"
        "Content-Disposition: attachment; filename=\"C:\\\\docs\\\\notes.txt\"\n"
        "\n"
        "n1\n"
        "--==b==\n"
        "Content-Type: application/octet-stream\n"
        "Content-Transfer-Encoding: base64\n"
        "\n"
        "AAEC\n"
        "--==b==\n"
        "Content-Type: image/PNG; name=\"a very long file name.png\"\n"
        "Content-ID: <img1@example.com>\n"
        "Content-Location: http://example.com/a.png\n"
        "Content-Disposition: inline\n"
        "\n"
        "PNGDATA\n"
        "--==b==--\n";
    IMessage* message = Converted(mime);
    EXPECT_EQ(L"see the files", Body(message));
    const std::vector<Row> rows = Attachments(message);
    struct Expected {
        std::wstring longName, shortName, extension, mimeTag, contentId, location;
        std::string data;
    } expected[] = {
        {L"r\u00E9sum\u00E9.pdf", L"rsum~1.pdf", L".pdf", L"application/pdf", L"", L"", "%PDF-1"},
        {L"notes.txt", L"notes.txt", L".txt", L"text/plain", L"", L"", "n1"},
        {L"ATT00003.dat", L"ATT00003.dat", L".dat", L"application/octet-stream", L"", L"", std::string("\0\1\2", 3)},
        {L"a very long file name.png", L"averyl~1.png", L".png", L"image/png", L"img1@example.com",
         L"http://example.com/a.png", "PNGDATA"},
    };
    ASSERT_EQ(4u, rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const Row& row = rows[i];
        const Expected& e = expected[i];
        EXPECT_EQ(ATTACH_BY_VALUE, Number(row, PR_ATTACH_METHOD));
        EXPECT_EQ(e.longName, Cell(row, Wide(PR_ATTACH_LONG_FILENAME)));
        EXPECT_EQ(e.longName, Cell(row, Wide(PR_DISPLAY_NAME)));
        EXPECT_EQ(e.shortName, Cell(row, Wide(PR_ATTACH_FILENAME)));
        EXPECT_EQ(e.extension, Cell(row, Wide(PR_ATTACH_EXTENSION)));
        EXPECT_EQ(e.mimeTag, Cell(row, Wide(PR_ATTACH_MIME_TAG)));
        EXPECT_EQ(e.contentId, Cell(row, kAttachContentId));
        EXPECT_EQ(e.location, Cell(row, kAttachContentLocation));
        EXPECT_EQ(-1, Number(row, PR_RENDERING_POSITION));
        EXPECT_EQ(0, Number(row, kAttachmentHidden));
        ComPtr<IAttach> attach = OpenAttachment(message, row);
        EXPECT_EQ(e.data, StreamBytes(attach.Get(), PR_ATTACH_DATA_BIN));
    }
}

TEST_F(ConverterSessionTest, RelatedPartsAreHiddenAttachmentsOfTheHtmlBody)
{
    IMessage* message = Converted("Content-Type: multipart/related; boundary=r; start=\"<root>\"\n\n"
                                  "--r\nContent-Type: image/gif\nContent-ID: <pic>\n\nGIF\n"
                                  "--r\nContent-Type: text/html\nContent-ID: <root>\n\n<img src=cid:pic>\n--r--\n");
    EXPECT_EQ("<img src=cid:pic>", StreamBytes(message, kHtml));
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"pic", Cell(rows[0], kAttachContentId));
    EXPECT_EQ(1, Number(rows[0], kAttachmentHidden));
    EXPECT_EQ(kAttachMhtmlReference, Number(rows[0], kAttachFlags));
    EXPECT_EQ(L"ATT00001.gif", Cell(rows[0], Wide(PR_ATTACH_LONG_FILENAME)));
}

TEST_F(ConverterSessionTest, EnclosedMessagesBecomeEmbeddedMessages)
{
    IMessage* message = Converted(
        "Subject: outer\nContent-Type: multipart/mixed; boundary=o\n\n"
        "--o\n\nsee inside\n"
        "--o\nContent-Type: message/rfc822\n\n"
        "From: Inner Sender <in@example.com>\nTo: to@example.com\nSubject: =?utf-8?Q?Inn=C3=A9r?=\n"
        "Content-Type: multipart/mixed; boundary=i\n\n"
        "--i\n\ninner body\n--i\nContent-Type: text/plain; name=x.txt\n\nX\n--i--\n"
        "--o--\n");
    EXPECT_EQ(L"see inside", Body(message));
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(ATTACH_EMBEDDED_MSG, Number(rows[0], PR_ATTACH_METHOD));
    EXPECT_EQ(L"Inn\u00E9r", Cell(rows[0], Wide(PR_DISPLAY_NAME)));
    EXPECT_EQ(L"message/rfc822", Cell(rows[0], Wide(PR_ATTACH_MIME_TAG)));

    ComPtr<IAttach> attach = OpenAttachment(message, rows[0]);
    ComPtr<IMessage> inner = OpenEmbedded(attach.Get());
    ASSERT_TRUE(inner);
    EXPECT_EQ(L"Inn\u00E9r", Text(inner.Get(), Wide(PR_SUBJECT)));
    EXPECT_EQ(L"Inner Sender", Text(inner.Get(), Wide(PR_SENT_REPRESENTING_NAME)));
    EXPECT_EQ(L"inner body", Body(inner.Get()));
    ASSERT_EQ(1u, Recipients(inner.Get()).size());
    const std::vector<Row> innerRows = Attachments(inner.Get());
    ASSERT_EQ(1u, innerRows.size());
    EXPECT_EQ(L"x.txt", Cell(innerRows[0], Wide(PR_ATTACH_LONG_FILENAME)));
    EXPECT_EQ("X", StreamBytes(OpenAttachment(inner.Get(), innerRows[0]).Get(), PR_ATTACH_DATA_BIN));
}

TEST_F(ConverterSessionTest, UnsentStateTravelsOnlyForEmbeddedMessages)
{
    const std::string mime = "X-Unsent: 1\nSubject: draft\n\ntext\n";
    EXPECT_EQ(0, Prop(Converted(mime), PR_MESSAGE_FLAGS).number);
    EXPECT_EQ(static_cast<LONG>(MSGFLAG_UNSENT), Prop(Converted(mime, CCSF_EMBEDDED_MESSAGE), PR_MESSAGE_FLAGS).number);
}

TEST_F(ConverterSessionTest, BrokenMimeGivesTheBestPartialMessage)
{
    // The closing delimiter and the end of the attachment are missing.
    IMessage* message = Converted("Subject: cut\nContent-Type: multipart/mixed; boundary=b\n\n--b\n\nfirst\n"
                                  "--b\nContent-Type: application/pdf; name=x.pdf\nContent-Transfer-Encoding: base64\n\n"
                                  "JVBERi0xLjQK\nJVBER");
    EXPECT_EQ(L"cut", Text(message, Wide(PR_SUBJECT)));
    EXPECT_EQ(L"first", Body(message));
    const std::vector<Row> rows = Attachments(message);
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ("%PDF-1.4\n%PD", StreamBytes(OpenAttachment(message, rows[0]).Get(), PR_ATTACH_DATA_BIN));
}

TEST_F(ConverterSessionTest, ConversionLeavesNoReferenceToTheMessage)
{
    // What the converter opens on the message (property streams, attachments,
    // embedded messages) each hold the message; one left unreleased keeps the
    // message, its storage and all its values in memory for good.
    const struct {
        const char* what;
        std::string mime;
    } cases[] = {
        {"headers only", "Subject: s\n\n"},
        {"plain body", "Subject: s\n\nbody\n"},
        {"html body", "Content-Type: text/html\n\n<p>body</p>\n"},
        {"attachment", "Content-Type: multipart/mixed; boundary=b\n\n--b\n\ntext\n"
                       "--b\nContent-Type: application/octet-stream; name=a.bin\n\ndata\n--b--\n"},
        {"enclosed message", "Content-Type: multipart/mixed; boundary=o\n\n--o\n\nouter\n"
                             "--o\nContent-Type: message/rfc822\n\nSubject: inner\n\ninner body\n--o--\n"},
    };
    for (const auto& c : cases) {
        CStorageMessage target;
        ASSERT_EQ(S_OK, Convert(m_converter.Get(), c.mime, target.Get())) << c.what;
        target.Get()->AddRef();
        EXPECT_EQ(1u, target.Get()->Release()) << c.what;
    }
}

TEST_F(ConverterSessionTest, CallsAreCheckedAsDocumented)
{
    CStorageMessage target;
    ComPtr<IStream> stream = StreamOf("Subject: x\n\ny");
    EXPECT_EQ(E_INVALIDARG, m_converter->MIMEToMAPI(nullptr, target.Get(), nullptr, CCSF_SMTP));
    EXPECT_EQ(E_INVALIDARG, m_converter->MIMEToMAPI(stream.Get(), nullptr, nullptr, CCSF_SMTP));
    EXPECT_EQ(E_INVALIDARG, m_converter->MIMEToMAPI(stream.Get(), target.Get(), "server", CCSF_SMTP));
    EXPECT_EQ(E_INVALIDARG, m_converter->MIMEToMAPI(stream.Get(), target.Get(), nullptr, CCSF_NO_MSGID));
    EXPECT_EQ(MAPI_E_CORRUPT_DATA, m_converter->MIMEToMAPI(StreamOf("").Get(), target.Get(), nullptr, CCSF_SMTP));
    EXPECT_EQ(S_OK, m_converter->MIMEToMAPI(stream.Get(), target.Get(), nullptr,
                                            CCSF_SMTP | CCSF_INCLUDE_BCC | CCSF_USE_RTF | CCSF_EMBEDDED_MESSAGE));

    // The stream is read from where it stands.
    CStorageMessage second;
    ComPtr<IStream> offset = StreamOf("Subject: skipped\n\nSubject: read\n\nbody");
    LARGE_INTEGER move{};
    move.QuadPart = 18;
    offset->Seek(move, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(S_OK, m_converter->MIMEToMAPI(offset.Get(), second.Get(), nullptr, CCSF_SMTP));
    EXPECT_EQ(L"read", Text(second.Get(), Wide(PR_SUBJECT)));

    for (ENCODINGTYPE et : {IET_BASE64, IET_UUENCODE, IET_QP, IET_7BIT, IET_8BIT})
        EXPECT_EQ(S_OK, m_converter->SetEncoding(et));
    for (ENCODINGTYPE et : {IET_BINARY, IET_UNICODE, IET_LAST})
        EXPECT_EQ(E_INVALIDARG, m_converter->SetEncoding(et));
    EXPECT_EQ(S_OK, m_converter->SetSaveFormat(SAVE_RFC822));
    EXPECT_EQ(E_INVALIDARG, m_converter->SetSaveFormat(static_cast<MIMESAVETYPE>(7)));
    EXPECT_EQ(S_OK, m_converter->SetTextWrapping(TRUE, 74));
    EXPECT_EQ(S_OK, m_converter->SetCharset(FALSE, nullptr, CSET_APPLY_ALL));
    EXPECT_EQ(S_OK, m_converter->SetAdrBook(nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, m_converter->MAPIToMIMEStm(target.Get(), stream.Get(), CCSF_SMTP));
}

TEST_F(ConverterSessionTest, ClassIsRegisteredInProcessFromItsModule)
{
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_IConverterSession, clsid, 40);
    const std::wstring key = std::wstring(L"CLSID\\") + clsid + L"\\InprocServer32";
    wchar_t path[MAX_PATH] = {};
    LONG size = sizeof(path);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), path, &size));
    std::wstring module(path);
    CharLowerBuffW(&module[0], static_cast<DWORD>(module.size()));
    EXPECT_EQ(module.size() - 12, module.rfind(L"mimeconv.dll"));
}

} // namespace
