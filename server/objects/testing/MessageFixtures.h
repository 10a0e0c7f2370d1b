#pragma once
// Messages of every kind the message and attachment objects meet, for
// fixture databases built with CExchangeDatabase (ExchangeFixture.h):
// - bodies: Unicode plain text ("S1000"), compressed RTF ("N1009", with
//   PR_RTF_IN_SYNC "B0E1F"), HTML ("N1013"), plain text kept in the ANSI code
//   page (as older clients left it), and messages kept only as MIME text
//   ("N6659", no body and no attachment list of their own);
// - the packed recipient record ("F67B4") in its three layouts, with extra
//   columns, with and without marker bytes;
// - senders both ways: an SMTP sender (one-off) and an Exchange sender
//   (address book), with the server's sender address ("S4031") and a stored
//   sent-representing entry identifier ("F0041");
// - attachments by value ("N3701", method 1), OLE storages ("O3701", method
//   6) and embedded messages (method 5) with attachments of their own: the
//   embedded message's properties and attachment list live on the
//   attachment's own rows.
// AddMessageSamples puts one message of each kind into a folder.
//
// CompressedRtf writes through MAPI's WrapCompressedRTFStream, so a program
// using it loads mapi32.dll (the stand-in in this build's folder).
#include <windows.h>

#include "ExchangeFixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace exchangefixture {

// Text in the ANSI code page, without a terminating zero.
Bytes AnsiBytes(const std::wstring& text);
// A text column whose value is ANSI text (a body as Exchange 2003 kept it).
Prop AnsiText(const std::string& column, const std::wstring& text);

// The PR_RTF_COMPRESSED value (LZFu) of RTF text.
Bytes CompressedRtf(const std::string& rtf);

// The bytes of a compound file as an OLE attachment keeps it: marked with
// clsid, holding one stream of the given name and content.
Bytes OleStorageBytes(const GUID& clsid, const std::wstring& streamName, const Bytes& content);

// Packed recipient record (0x67B4).
// Value bytes as the record stores them.
Bytes PackedLong(int32_t value);
Bytes PackedBinary(const Bytes& value);  // a 16-bit length, then the bytes
Bytes PackedUnicode(const std::wstring& text);  // UTF-16 with its terminating zero

struct SPackedValue {
    Bytes bytes;          // as stored (see the Packed... helpers)
    bool absent = false;  // written behind marker 0x0A (bytes: a 4-byte error code)
};

struct SPackedRecipient {
    uint8_t type = 1;        // 1 To, 2 Cc, 3 Bcc
    uint16_t flags = 0x0010; // choose the layout (see RecipientLayout)
    std::wstring address;    // layout A: the leading e-mail address
    std::string exchangeAddress;  // layout C: the ANSI string from byte 9
    std::wstring displayName;     // A, B: the string behind 0x10; C: the one behind 0x200
    std::wstring string20;        // behind flag 0x20
    std::wstring string400;       // behind flag 0x400
    std::wstring string10;        // layout C: behind flag 0x10 (not the name)
    bool markers = false;         // a marker byte before each value
    std::vector<SPackedValue> values;  // in the order of the extra tags
    int valueCount = -1;               // the stored count; -1: values.size()
};

// The layout a record's flags choose: 'A', 'B' or 'C'.
char RecipientLayout(uint16_t flags);

// A recipient of each layout: A (flags 0x0011), B (0x0010), C (0x8210).
SPackedRecipient SmtpRecipient(uint8_t type, const std::wstring& name, const std::wstring& address);
SPackedRecipient NameOnlyRecipient(uint8_t type, const std::wstring& name);
SPackedRecipient ExchangeRecipient(uint8_t type, const std::wstring& name, const std::string& legacyAddress);

// The record: u16 count, u16 0, u16 n, the n tags, then the records.
Bytes PackedRecipients(const std::vector<uint32_t>& extraTags, const std::vector<SPackedRecipient>& recipients);
Prop RecipientsColumn(const Bytes& packed);  // "F67B4"

// Senders. An SMTP sender: a long sender entry with the SMTP flag (one-off
// identifiers); an Exchange sender: a short entry naming the sender (address
// book identifiers, its address the legacy Exchange address). Both set
// "S4031" to the address.
enum class ESenderKind { Smtp, Exchange };
void SetSender(SMessage& message, ESenderKind kind, const std::wstring& name, const std::wstring& address);
// A stored sent-representing entry identifier ("F0041").
void SetStoredSenderEntryId(SMessage& message, const Bytes& entryId);

// Bodies.
SMessage PlainMessage(const std::wstring& subject, const std::wstring& body);
SMessage AnsiMessage(const std::wstring& subject, const std::wstring& body);
// RTF and its plain text, in sync.
SMessage RtfMessage(const std::wstring& subject, const std::string& rtf, const std::wstring& plain);
// HTML, with its plain text unless plain is empty.
SMessage HtmlMessage(const std::wstring& subject, const std::string& html, const std::wstring& plain);
// Only MIME text: the subject in the folder's row (as the folder lists it),
// no body, no attachment list.
SMessage MimeOnlyMessage(const std::wstring& subject, const std::string& mime);

// Attachments.
struct SAttachmentSpec {
    SAttachment attachment;   // the attachment's own rows
    bool embedded = false;
    SMessage message;         // embedded: the message (folderRow goes on the attachment row, the rest on its Msg row)
    std::vector<SAttachmentSpec> attachments;  // embedded: the message's own attachments
};
SAttachmentSpec FileAttachment(const std::wstring& name, const Bytes& data);
SAttachmentSpec OleAttachment(const std::wstring& name, const Bytes& storage);
SAttachmentSpec EmbeddedAttachment(const SMessage& message, const std::vector<SAttachmentSpec>& attachments = {});

// Adds attachments to a message that has none yet (its attachment list is
// rewritten to name exactly these). Returns their ids in order; the ids of an
// embedded message's own attachments are in nested, one list per embedded
// attachment in order, when given.
std::vector<int64_t> AddAttachments(CExchangeDatabase& database, int64_t messageId,
                                    const std::vector<SAttachmentSpec>& attachments,
                                    std::vector<std::vector<int64_t>>* nested = nullptr);

// The MIME texts of the samples.
std::string SampleMimeAlternative();      // multipart/alternative: plain and HTML
std::string SampleMimeWithAttachments();  // multipart/mixed: text, a binary file of 12000 bytes, an attached message
// The RTF and HTML of the samples.
std::string SampleRtf();
std::string SampleHtml();
// The extra recipient columns and the recipients of the recipients sample.
std::vector<uint32_t> SampleRecipientTags();
std::vector<SPackedRecipient> SampleRecipients();
// One extra column (PR_RECIPIENT_FLAGS); To "Anna", a Cc record whose name
// runs past the record's end, Bcc "Bo" <bo@example.com>.
Bytes SampleDamagedRecipients();

// One message of each kind in a folder; the ids of what was added.
struct SMessageSamples {
    int64_t plain = 0;
    int64_t rtf = 0;                 // RTF and plain, in sync
    int64_t html = 0;                // HTML and plain
    int64_t htmlOnly = 0;
    int64_t allBodies = 0;           // plain, RTF and HTML, RTF not in sync
    int64_t ansi = 0;
    int64_t ansiLarge = 0;           // an ANSI body of more than 8192 bytes
    int64_t mimeOnly = 0;            // SampleMimeAlternative
    int64_t mimeWithAttachments = 0; // SampleMimeWithAttachments
    int64_t recipients = 0;          // SampleRecipients: To "Alice Lindqvist; Carla Nystr\u00F6m",
                                     // Cc "Team Leads; Dmitri Orlov", Bcc "Erik Berg"
    int64_t damagedRecipients = 0;   // a record that does not fit between two good ones
    int64_t smtpSender = 0;          // "Bruno Castell" <bruno@example.com>
    int64_t exchangeSender = 0;      // "Carla Nystr\u00F6m", /o=Example/ou=First Administrative Group/cn=Recipients/cn=carla
    int64_t keptSenderId = 0;        // stored sent-representing id starting 0xFF
    int64_t oddSenderId = 0;         // stored sent-representing id starting 0x12
    int64_t attachments = 0;         // a file, an OLE storage, an embedded message with a file of its own
    std::vector<int64_t> attachmentIds;  // of `attachments`, in order
    int64_t embeddedAttachmentId = 0;    // the embedded message's own attachment
};
SMessageSamples AddMessageSamples(CExchangeDatabase& database, int64_t folderId);

} // namespace exchangefixture
