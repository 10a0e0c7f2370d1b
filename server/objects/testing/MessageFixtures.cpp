#include <windows.h>
#include <objbase.h>
#include <mapidefs.h>
#include <mapicode.h>
#include <mapiutil.h>

#include "MessageFixtures.h"

#include <stdexcept>

namespace exchangefixture {

namespace {

constexpr uint16_t kFlagString10 = 0x10;
constexpr uint16_t kFlagString20 = 0x20;
constexpr uint16_t kFlagExchangeName = 0x200;
constexpr uint16_t kFlagString400 = 0x400;
constexpr uint16_t kFlagsWithThreeBytes = 0x0213;
constexpr uint8_t kMarkerAbsent = 0x0A;

constexpr int32_t kMethodByValue = 1;
constexpr int32_t kMethodEmbedded = 5;
constexpr int32_t kMethodOle = 6;

void Check(HRESULT hr, const char* call)
{
    if (FAILED(hr))
        throw std::runtime_error(std::string(call) + " failed");
}

Bytes U16(uint16_t value)
{
    return Bytes{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

Bytes U32(uint32_t value)
{
    return U16(static_cast<uint16_t>(value)) + U16(static_cast<uint16_t>(value >> 16));
}

// The bytes of a stream from its start.
Bytes StreamContent(IStream* stream)
{
    LARGE_INTEGER zero{};
    Check(stream->Seek(zero, STREAM_SEEK_SET, nullptr), "IStream::Seek");
    Bytes bytes;
    char chunk[4096];
    for (;;) {
        ULONG read = 0;
        Check(stream->Read(chunk, sizeof(chunk), &read), "IStream::Read");
        if (read == 0)
            break;
        bytes.append(chunk, read);
    }
    return bytes;
}

Bytes Base64(const Bytes& data)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes text;
    size_t line = 0;
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t a = static_cast<unsigned char>(data[i]);
        const uint32_t b = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0;
        const uint32_t c = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0;
        const uint32_t group = a << 16 | b << 8 | c;
        text += kDigits[group >> 18 & 63];
        text += kDigits[group >> 12 & 63];
        text += i + 1 < data.size() ? kDigits[group >> 6 & 63] : '=';
        text += i + 2 < data.size() ? kDigits[group & 63] : '=';
        if ((line += 4) == 76) {
            text += "\r\n";
            line = 0;
        }
    }
    if (line)
        text += "\r\n";
    return text;
}

Bytes SampleFileData()
{
    Bytes data(12000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 256);
    return data;
}

std::wstring ExtensionOf(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::wstring() : name.substr(dot);
}

Bytes PackedRecord(const SPackedRecipient& recipient)
{
    const char layout = RecipientLayout(recipient.flags);
    Bytes body;
    if (layout == 'A') {
        body += PackedUnicode(recipient.address);
        if (recipient.flags == kFlagsWithThreeBytes)
            body += Bytes("\x01\x02\x03", 3);
    }
    if (layout == 'C') {
        body += Bytes(2, '\0');
        body += recipient.exchangeAddress + '\0';
        if (recipient.flags & kFlagExchangeName) {
            body += PackedUnicode(recipient.displayName);
            if (recipient.flags == kFlagsWithThreeBytes)
                body += Bytes("\x01\x02\x03", 3);
        }
    }
    if (recipient.flags & kFlagString20)
        body += PackedUnicode(recipient.string20);
    if (recipient.flags & kFlagString400)
        body += PackedUnicode(recipient.string400);
    if (recipient.flags & kFlagString10)
        body += PackedUnicode(layout == 'C' ? recipient.string10 : recipient.displayName);
    const int count = recipient.valueCount < 0 ? static_cast<int>(recipient.values.size()) : recipient.valueCount;
    body += U16(static_cast<uint16_t>(count));
    body += recipient.markers ? '\x01' : '\x00';
    for (const SPackedValue& value : recipient.values) {
        if (recipient.markers)
            body += static_cast<char>(value.absent ? kMarkerAbsent : 0);
        body += value.bytes;
    }
    if (body.size() + 2 > 0xFFFF)
        throw std::invalid_argument("recipient record too long");
    return static_cast<char>(recipient.type) + Bytes(2, '\0') + U16(static_cast<uint16_t>(body.size() + 2)) +
           U16(recipient.flags) + body;
}

Bytes PackedHeader(uint16_t count, const std::vector<uint32_t>& extraTags)
{
    Bytes header = U16(count) + U16(0) + U16(static_cast<uint16_t>(extraTags.size()));
    for (uint32_t tag : extraTags)
        header += U32(tag);
    return header;
}

void SetSubject(SMessage& message, const std::wstring& subject)
{
    message.subject = subject;
    message.normalizedSubject = subject;
}

int64_t AddOne(CExchangeDatabase& database, int64_t messageId, const SAttachmentSpec& spec,
               std::vector<std::vector<int64_t>>* nested)
{
    SAttachment attachment = spec.attachment;
    if (spec.embedded) {
        std::vector<int64_t> inner;
        for (const SAttachmentSpec& child : spec.attachments)
            inner.push_back(AddOne(database, messageId, child, nullptr));
        const SMessage& message = spec.message;
        // The attachment's row answers for the embedded message's own
        // columns, its Msg row for the rest, as for a message.
        if (!message.subject.empty())
            attachment.row.push_back(Text("S0037", message.subject));
        if (!message.subjectPrefix.empty())
            attachment.row.push_back(Text("S003D", message.subjectPrefix));
        if (!message.normalizedSubject.empty())
            attachment.row.push_back(Text("S0E1D", message.normalizedSubject));
        for (const Prop& value : message.folderRow)
            attachment.row.push_back(value);
        if (!message.body.empty())
            attachment.msgRow.push_back(Text("S1000", message.body));
        if (!message.senderName.empty())
            attachment.msgRow.push_back(Text("S0042", message.senderName));
        if (!message.senderEntry.empty())
            attachment.msgRow.push_back(Binary("F67B6", message.senderEntry));
        for (const Prop& value : message.msgRow)
            attachment.msgRow.push_back(value);
        if (!inner.empty()) {
            Bytes list;
            for (int64_t id : inner)
                list += AttachmentListEntry(id);
            attachment.msgRow.push_back(Binary("F67B3", list));
        }
        if (nested)
            nested->push_back(inner);
    }
    return database.AddAttachment(messageId, attachment);
}

} // namespace

Bytes AnsiBytes(const std::wstring& text)
{
    const int size =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    Bytes bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

Prop AnsiText(const std::string& column, const std::wstring& text)
{
    return Binary(column, AnsiBytes(text));
}

Bytes CompressedRtf(const std::string& rtf)
{
    IStream* stored = nullptr;
    Check(CreateStreamOnHGlobal(nullptr, TRUE, &stored), "CreateStreamOnHGlobal");
    Bytes bytes;
    try {
        IStream* plain = nullptr;
        Check(WrapCompressedRTFStream(stored, MAPI_MODIFY, &plain), "WrapCompressedRTFStream");
        ULONG written = 0;
        HRESULT hr = plain->Write(rtf.data(), static_cast<ULONG>(rtf.size()), &written);
        if (SUCCEEDED(hr))
            hr = plain->Commit(STGC_DEFAULT);
        plain->Release();
        Check(hr, "writing compressed RTF");
        bytes = StreamContent(stored);
    } catch (...) {
        stored->Release();
        throw;
    }
    stored->Release();
    return bytes;
}

Bytes OleStorageBytes(const GUID& clsid, const std::wstring& streamName, const Bytes& content)
{
    ILockBytes* lockBytes = nullptr;
    Check(CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes), "CreateILockBytesOnHGlobal");
    IStorage* storage = nullptr;
    IStream* stream = nullptr;
    Bytes bytes;
    try {
        Check(StgCreateDocfileOnILockBytes(lockBytes, STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                           &storage),
              "StgCreateDocfileOnILockBytes");
        Check(WriteClassStg(storage, clsid), "WriteClassStg");
        Check(storage->CreateStream(streamName.c_str(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_WRITE, 0, 0,
                                    &stream),
              "IStorage::CreateStream");
        ULONG written = 0;
        Check(stream->Write(content.data(), static_cast<ULONG>(content.size()), &written), "IStream::Write");
        stream->Release();
        stream = nullptr;
        Check(storage->Commit(STGC_DEFAULT), "IStorage::Commit");
        storage->Release();
        storage = nullptr;
        STATSTG stat{};
        Check(lockBytes->Stat(&stat, STATFLAG_NONAME), "ILockBytes::Stat");
        bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
        ULONG read = 0;
        ULARGE_INTEGER zero{};
        Check(lockBytes->ReadAt(zero, &bytes[0], static_cast<ULONG>(bytes.size()), &read), "ILockBytes::ReadAt");
        bytes.resize(read);
    } catch (...) {
        if (stream)
            stream->Release();
        if (storage)
            storage->Release();
        lockBytes->Release();
        throw;
    }
    lockBytes->Release();
    return bytes;
}

Bytes PackedLong(int32_t value)
{
    return U32(static_cast<uint32_t>(value));
}

Bytes PackedBinary(const Bytes& value)
{
    if (value.size() > 0xFFFF)
        throw std::invalid_argument("binary too long for a packed value");
    return U16(static_cast<uint16_t>(value.size())) + value;
}

Bytes PackedUnicode(const std::wstring& text)
{
    return esefixture::Utf16(text) + Bytes(2, '\0');
}

char RecipientLayout(uint16_t flags)
{
    const bool exchangeFlags = flags == 0x8210 || flags == 0x8610;
    if (!(flags & 1) && !exchangeFlags)
        return 'B';
    if (exchangeFlags || (flags & 0x7F) == 0x51 || (flags & 0xFF) == 0x91 || (flags & 0xFF) == 0xB1)
        return 'C';
    return 'A';
}

SPackedRecipient SmtpRecipient(uint8_t type, const std::wstring& name, const std::wstring& address)
{
    SPackedRecipient recipient;
    recipient.type = type;
    recipient.flags = 0x0011;
    recipient.address = address;
    recipient.displayName = name;
    return recipient;
}

SPackedRecipient NameOnlyRecipient(uint8_t type, const std::wstring& name)
{
    SPackedRecipient recipient;
    recipient.type = type;
    recipient.flags = 0x0010;
    recipient.displayName = name;
    return recipient;
}

SPackedRecipient ExchangeRecipient(uint8_t type, const std::wstring& name, const std::string& legacyAddress)
{
    SPackedRecipient recipient;
    recipient.type = type;
    recipient.flags = 0x8210;
    recipient.exchangeAddress = legacyAddress;
    recipient.displayName = name;
    return recipient;
}

Bytes PackedRecipients(const std::vector<uint32_t>& extraTags, const std::vector<SPackedRecipient>& recipients)
{
    Bytes packed = PackedHeader(static_cast<uint16_t>(recipients.size()), extraTags);
    for (const SPackedRecipient& recipient : recipients)
        packed += PackedRecord(recipient);
    return packed;
}

Prop RecipientsColumn(const Bytes& packed)
{
    return Binary("F67B4", packed);
}

void SetSender(SMessage& message, ESenderKind kind, const std::wstring& name, const std::wstring& address)
{
    if (kind == ESenderKind::Smtp)
        message.senderEntry = SenderEntry(ESenderLayout::Long, ENameEncoding::Utf16, name, true, AnsiBytes(address));
    else
        message.senderEntry = SenderEntry(ESenderLayout::Short, ENameEncoding::Ansi, name);
    message.msgRow.push_back(Text("S4031", address));
}

void SetStoredSenderEntryId(SMessage& message, const Bytes& entryId)
{
    message.msgRow.push_back(Binary("F0041", entryId));
}

SMessage PlainMessage(const std::wstring& subject, const std::wstring& body)
{
    SMessage message;
    SetSubject(message, subject);
    message.body = body;
    return message;
}

SMessage AnsiMessage(const std::wstring& subject, const std::wstring& body)
{
    SMessage message;
    SetSubject(message, subject);
    const Bytes bytes = AnsiBytes(body);
    message.size = static_cast<int32_t>(bytes.size());
    message.msgRow.push_back(Binary("S1000", bytes));
    return message;
}

SMessage RtfMessage(const std::wstring& subject, const std::string& rtf, const std::wstring& plain)
{
    SMessage message;
    SetSubject(message, subject);
    message.body = plain;
    message.msgRow.push_back(Binary("N1009", CompressedRtf(rtf)));
    message.msgRow.push_back(Bool("B0E1F", true));
    return message;
}

SMessage HtmlMessage(const std::wstring& subject, const std::string& html, const std::wstring& plain)
{
    SMessage message;
    SetSubject(message, subject);
    message.body = plain;
    message.size = static_cast<int32_t>(html.size() + plain.size() * sizeof(wchar_t));
    message.msgRow.push_back(Binary("N1013", html));
    return message;
}

SMessage MimeOnlyMessage(const std::wstring& subject, const std::string& mime)
{
    SMessage message;
    SetSubject(message, subject);
    message.size = static_cast<int32_t>(mime.size());
    message.msgRow.push_back(Binary("N6659", mime));
    return message;
}

SAttachmentSpec FileAttachment(const std::wstring& name, const Bytes& data)
{
    SAttachmentSpec spec;
    spec.attachment.fileName = name;
    spec.attachment.data = data;
    spec.attachment.row = {Int32("L3705", kMethodByValue), Text("S3707", name), Text("S3001", name),
                           Text("S3703", ExtensionOf(name))};
    return spec;
}

SAttachmentSpec OleAttachment(const std::wstring& name, const Bytes& storage)
{
    SAttachmentSpec spec;
    spec.attachment.fileName = name;
    spec.attachment.row = {Int32("L3705", kMethodOle), Text("S3707", name), Text("S3001", name),
                           Int32("L0E20", static_cast<int32_t>(storage.size()))};
    spec.attachment.msgRow = {Binary("O3701", storage)};
    return spec;
}

SAttachmentSpec EmbeddedAttachment(const SMessage& message, const std::vector<SAttachmentSpec>& attachments)
{
    SAttachmentSpec spec;
    spec.embedded = true;
    spec.message = message;
    spec.attachments = attachments;
    const std::wstring& name = message.subject.empty() ? message.normalizedSubject : message.subject;
    spec.attachment.row = {Int32("L3705", kMethodEmbedded), Text("S3001", name),
                           Int32("L0E20", message.size ? message.size
                                                      : static_cast<int32_t>(message.body.size() * sizeof(wchar_t)))};
    return spec;
}

std::vector<int64_t> AddAttachments(CExchangeDatabase& database, int64_t messageId,
                                    const std::vector<SAttachmentSpec>& attachments,
                                    std::vector<std::vector<int64_t>>* nested)
{
    std::vector<int64_t> ids;
    for (const SAttachmentSpec& spec : attachments)
        ids.push_back(AddOne(database, messageId, spec, nested));
    // The attachments of embedded messages were added under this message
    // too; its own list names only its own.
    Bytes list;
    for (int64_t id : ids)
        list += AttachmentListEntry(id);
    database.SetAttachmentList(messageId, list);
    return ids;
}

std::string SampleMimeAlternative()
{
    return "From: Bruno Castell <bruno@example.com>\r\n"
           "To: Alice Lindqvist <alice@example.com>\r\n"
           "Subject: =?iso-8859-1?Q?Caf=E9?= on Friday\r\n"
           "Date: Fri, 4 Jul 2003 09:15:00 +0200\r\n"
           "Message-ID: <alternative@example.com>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"alt-boundary\"\r\n"
           "\r\n"
           "--alt-boundary\r\n"
           "Content-Type: text/plain; charset=iso-8859-1\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n"
           "\r\n"
           "Shall we meet at the caf=E9 at noon?\r\n"
           "--alt-boundary\r\n"
           "Content-Type: text/html; charset=us-ascii\r\n"
           "\r\n"
           "<html><body><p>Shall we meet at the caf&eacute; at <b>noon</b>?</p></body></html>\r\n"
           "--alt-boundary--\r\n";
}

std::string SampleMimeWithAttachments()
{
    return "From: Carla Nystrom <carla@example.com>\r\n"
           "To: Alice Lindqvist <alice@example.com>\r\n"
           "Cc: Bruno Castell <bruno@example.com>\r\n"
           "Subject: Report and the note it answers\r\n"
           "Date: Mon, 7 Jul 2003 16:20:00 +0200\r\n"
           "Message-ID: <mixed@example.com>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"mixed-boundary\"\r\n"
           "\r\n"
           "--mixed-boundary\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "\r\n"
           "The report is attached, with the note it answers.\r\n"
           "--mixed-boundary\r\n"
           "Content-Type: application/octet-stream; name=\"report.bin\"\r\n"
           "Content-Disposition: attachment; filename=\"report.bin\"\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n" +
           Base64(SampleFileData()) +
           "--mixed-boundary\r\n"
           "Content-Type: message/rfc822\r\n"
           "\r\n"
           "From: Alice Lindqvist <alice@example.com>\r\n"
           "To: Carla Nystrom <carla@example.com>\r\n"
           "Subject: Where is the report?\r\n"
           "Date: Mon, 7 Jul 2003 11:00:00 +0200\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "\r\n"
           "Could you send it today?\r\n"
           "--mixed-boundary--\r\n";
}

std::string SampleRtf()
{
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20 "
           "Quarterly figures are \\b up\\b0  by 12%.\\par\r\n"
           "See you on Friday.\\par\r\n}";
}

std::string SampleHtml()
{
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=us-ascii\"></head>"
           "<body><p>Quarterly figures are <b>up</b> by 12%.</p><p>See you on Friday.</p></body></html>";
}

std::vector<uint32_t> SampleRecipientTags()
{
    // PR_RECIPIENT_ENTRYID, PR_RECIPIENT_FLAGS, PR_RECIPIENT_TRACKSTATUS,
    // PR_SMTP_ADDRESS_W, PR_DISPLAY_TYPE.
    return {0x5FF70102, 0x5FFD0003, 0x5FFF0003, 0x39FE001F, 0x39000003};
}

std::vector<SPackedRecipient> SampleRecipients()
{
    const Bytes oneOff = Bytes(4, '\0') + Bytes("\x81\x2B\x1F\xA4\xBE\xA3\x10\x19\x9D\x6E\x00\xDD\x01\x0F\x54\x02", 16) +
                         Bytes("\x00\x00\x01\x90", 4) + PackedUnicode(L"Alice Lindqvist") + PackedUnicode(L"SMTP") +
                         PackedUnicode(L"alice@example.com");
    const std::string carlaDn = "/o=Example/ou=First Administrative Group/cn=Recipients/cn=carla";
    const Bytes addressBook = Bytes(4, '\0') +
                              Bytes("\xDC\xA7\x40\xC8\xC0\x42\x10\x1A\xB4\xB9\x08\x00\x2B\x2F\xE1\x82", 16) +
                              U32(1) + U32(0) + carlaDn + '\0';
    const Bytes notFound = PackedLong(static_cast<int32_t>(MAPI_E_NOT_FOUND));

    SPackedRecipient alice = SmtpRecipient(MAPI_TO, L"Alice Lindqvist", L"alice@example.com");
    alice.values = {{PackedBinary(oneOff)}, {PackedLong(1)}, {PackedLong(0)}, {PackedUnicode(L"alice@example.com")},
                    {PackedLong(0)}};

    SPackedRecipient carla = ExchangeRecipient(MAPI_TO, L"Carla Nystr\u00F6m", carlaDn);
    carla.markers = true;
    carla.values = {{PackedBinary(addressBook)}, {notFound, true}, {PackedLong(0)}, {notFound, true},
                    {PackedLong(0)}};

    SPackedRecipient team = NameOnlyRecipient(MAPI_CC, L"Team Leads");
    team.flags = 0x0430;
    team.string20 = L"team";
    team.string400 = L"list";
    team.markers = true;
    team.values = {{notFound, true}, {PackedLong(1)}};

    SPackedRecipient dmitri = SmtpRecipient(MAPI_CC, L"Dmitri Orlov", L"dmitri@example.org");
    dmitri.flags = 0x0213;
    dmitri.values = {{PackedBinary(Bytes(4, '\0'))}, {PackedLong(1)}, {PackedLong(0)},
                     {PackedUnicode(L"dmitri@example.org")}, {PackedLong(0)}};

    SPackedRecipient erik = ExchangeRecipient(MAPI_BCC, L"Erik Berg", "/o=Example/ou=First/cn=Recipients/cn=erik");
    erik.flags = 0x8610;
    erik.string400 = L"erik";
    erik.string10 = L"Erik";

    return {alice, carla, team, dmitri, erik};
}

Bytes SampleDamagedRecipients()
{
    SPackedRecipient anna = NameOnlyRecipient(MAPI_TO, L"Anna");
    anna.values = {{PackedLong(1)}};
    SPackedRecipient bo = SmtpRecipient(MAPI_BCC, L"Bo", L"bo@example.com");
    bo.values = {{PackedLong(1)}};
    // A Cc record whose name has no terminator before the record ends.
    const Bytes broken = Bytes("\x02\x00\x00\x06\x00\x10\x00" "B\0r\0", 11);
    return PackedHeader(3, {0x5FFD0003}) + PackedRecord(anna) + broken + PackedRecord(bo);
}

SMessageSamples AddMessageSamples(CExchangeDatabase& database, int64_t folderId)
{
    SMessageSamples ids;
    const std::wstring plain = L"Quarterly figures are up by 12%.\r\nSee you on Friday.\r\n";
    ids.plain = database.AddMessage(folderId, PlainMessage(L"Plain text body", plain));
    ids.rtf = database.AddMessage(folderId, RtfMessage(L"RTF body", SampleRtf(), plain));
    ids.html = database.AddMessage(folderId, HtmlMessage(L"HTML body", SampleHtml(), plain));
    ids.htmlOnly = database.AddMessage(folderId, HtmlMessage(L"HTML body only", SampleHtml(), L""));
    SMessage all = HtmlMessage(L"Plain, RTF and HTML bodies", SampleHtml(), plain);
    all.msgRow.push_back(Binary("N1009", CompressedRtf(SampleRtf())));
    all.msgRow.push_back(Bool("B0E1F", false));
    ids.allBodies = database.AddMessage(folderId, all);

    // Even lengths with a line break at an even offset: as UTF-16 the text
    // holds 0x0A0D units, which no Unicode text has.
    ids.ansi = database.AddMessage(
        folderId, AnsiMessage(L"ANSI body", L"Caf\u00E9 au lait for 3 \u20AC, please.\r\nThanks!\r\n"));
    std::wstring large;
    while (large.size() < 9000)
        large += L"An older client wrote this caf\u00E9 body in the ANSI code page.\r\n";
    ids.ansiLarge = database.AddMessage(folderId, AnsiMessage(L"Large ANSI body", large));

    ids.mimeOnly = database.AddMessage(folderId, MimeOnlyMessage(L"Caf\u00E9 on Friday", SampleMimeAlternative()));
    ids.mimeWithAttachments =
        database.AddMessage(folderId, MimeOnlyMessage(L"Report and the note it answers", SampleMimeWithAttachments()));

    SMessage recipients = PlainMessage(L"Recipients of every layout", L"To two, Cc two, Bcc one.\r\n");
    recipients.msgRow.push_back(RecipientsColumn(PackedRecipients(SampleRecipientTags(), SampleRecipients())));
    ids.recipients = database.AddMessage(folderId, recipients);

    SMessage damaged = PlainMessage(L"A damaged recipient record", L"One recipient record does not fit.\r\n");
    damaged.msgRow.push_back(RecipientsColumn(SampleDamagedRecipients()));
    ids.damagedRecipients = database.AddMessage(folderId, damaged);

    SMessage smtp = PlainMessage(L"From an SMTP sender", L"Sent from the Internet.\r\n");
    SetSender(smtp, ESenderKind::Smtp, L"Bruno Castell", L"bruno@example.com");
    SetStoredSenderEntryId(smtp, Bytes("\x67\x00\x00\x00", 4));
    ids.smtpSender = database.AddMessage(folderId, smtp);

    SMessage exchange = PlainMessage(L"From an Exchange sender", L"Sent inside the organisation.\r\n");
    SetSender(exchange, ESenderKind::Exchange, L"Carla Nystr\u00F6m",
              L"/o=Example/ou=First Administrative Group/cn=Recipients/cn=carla");
    ids.exchangeSender = database.AddMessage(folderId, exchange);

    SMessage kept = PlainMessage(L"A sender identifier kept as stored", L"Its stored identifier starts 0xFF.\r\n");
    SetSender(kept, ESenderKind::Smtp, L"Bruno Castell", L"bruno@example.com");
    SetStoredSenderEntryId(kept, Bytes("\xFF\x01\x02\x03", 4));
    ids.keptSenderId = database.AddMessage(folderId, kept);

    SMessage odd = PlainMessage(L"An unexpected sender identifier", L"Its stored identifier starts 0x12.\r\n");
    SetSender(odd, ESenderKind::Smtp, L"Bruno Castell", L"bruno@example.com");
    SetStoredSenderEntryId(odd, Bytes("\x12\x34\x56\x78", 4));
    ids.oddSenderId = database.AddMessage(folderId, odd);

    SMessage withAttachments = PlainMessage(L"Attachments of every kind", L"A file, a drawing and a note.\r\n");
    ids.attachments = database.AddMessage(folderId, withAttachments);
    // A class of the fixture's own: the storage is only carried, never run.
    static const GUID kDrawingClass = {0x6C0B2F41, 0x8E17, 0x4D3A, {0x9B, 0x52, 0x1E, 0x7D, 0x30, 0xA4, 0xC6, 0x19}};
    SMessage note = PlainMessage(L"The note", L"The note's own text.\r\n");
    SetSender(note, ESenderKind::Smtp, L"Alice Lindqvist", L"alice@example.com");
    std::vector<std::vector<int64_t>> nested;
    ids.attachmentIds = AddAttachments(
        database, ids.attachments,
        {FileAttachment(L"figures.csv", "quarter,revenue\r\nQ1,120\r\nQ2,135\r\n"),
         OleAttachment(L"drawing", OleStorageBytes(kDrawingClass, L"CONTENTS", "drawing strokes")),
         EmbeddedAttachment(note, {FileAttachment(L"minutes.txt", "Minutes of the meeting.\r\n")})},
        &nested);
    ids.embeddedAttachmentId = nested.at(0).at(0);
    return ids;
}

} // namespace exchangefixture
