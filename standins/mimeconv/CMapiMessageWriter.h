// Writes a parsed MIME message into a MAPI message the way the MIME
// converter fills the message its caller hands it:
// - the envelope: subject with its prefix and normalized form, sender and
//   sent-representing (From, Sender) with one-off entry ids and search keys,
//   dates (Date as the submit time, the newest Received as the delivery time),
//   message ids and references, importance, priority, sensitivity, reply-to,
//   read-receipt request, conversation index, the transport headers;
// - recipients (To, Cc, and Bcc only with CCSF_INCLUDE_BCC) through
//   ModifyRecipients, SMTP one-offs;
// - the bodies: the first inline text/plain part as PR_BODY_W, the first
//   inline text/html part as PR_HTML (its bytes in their own charset, named
//   by PR_INTERNET_CPID), the HTML's text as PR_BODY_W when there is no plain
//   part; multipart/alternative offers both, multipart/related's root is
//   the body and its other parts hidden attachments;
// - every other part as an attachment by value (name, MIME type, content id
//   and location, data), an enclosed message/rfc822 as an embedded message
//   written the same way.
// Attachments and embedded messages are saved; the message itself is left
// for its caller to save. The first failing MAPI call ends the write and its
// result is returned; per-property problems of SetProps are not failures.
#pragma once
#include "MimeMapiTags.h"
#include "CMimePart.h"

#include <string>
#include <vector>

class CMapiMessageWriter {
public:
    explicit CMapiMessageWriter(ULONG flags) : m_flags(flags) {}

    HRESULT Write(const CMimePart& message, IMessage* target) const;

private:
    struct Attachment {
        const CMimePart* part;
        bool related; // a non-root part of multipart/related
    };
    // What the parts of one message become.
    struct Content {
        const CMimePart* plain = nullptr;
        const CMimePart* html = nullptr;
        bool bodyTaken = false;     // later inline text parts are attachments
        int alternativeDepth = 0;   // inside multipart/alternative each kind fills its own slot
        std::vector<Attachment> attachments;
    };

    void Collect(const CMimePart& part, Content& content) const;
    void CollectLeaf(const CMimePart& part, Content& content) const;
    HRESULT WriteMessage(const CMimePart& message, IMessage* target) const;
    // displays: the To, Cc and Bcc display lists of the recipients written.
    HRESULT WriteRecipients(const CMimePart& message, IMessage* target, std::wstring displays[3]) const;
    HRESULT WriteEnvelope(const CMimePart& message, const Content& content, const std::wstring displays[3],
                          IMessage* target) const;
    HRESULT WriteBodies(const Content& content, IMessage* target) const;
    HRESULT WriteAttachment(const Attachment& attachment, ULONG ordinal, IMessage* target) const;
    HRESULT WriteEmbedded(const CMimePart& part, IMessage* target) const;

    ULONG m_flags;
};
