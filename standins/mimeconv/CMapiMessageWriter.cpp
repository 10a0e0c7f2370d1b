#include "MimeMapiTags.h"
#include "CMapiMessageWriter.h"
#include "CAddressList.h"
#include "CEncodedWords.h"
#include "CMailDate.h"
#include "CMimeCharset.h"
#include "CMimeDecoder.h"
#include "ConverterSession.h"

#include "CHtmlText.h"

#include <algorithm>
#include <cstdio>
#include <deque>

using namespace mimetags;

namespace {

const BYTE kOneOffProvider[16] = MAPI_ONE_OFF_UID;
constexpr ULONG kStreamChunk = 1 << 20;

// Property values of one SetProps call; the class owns the strings and bytes
// the values point at.
class CPropList {
public:
    void Wide(ULONG tag, const std::wstring& value)
    {
        m_wide.push_back(value);
        SPropValue prop{};
        prop.ulPropTag = tag;
        prop.Value.lpszW = const_cast<wchar_t*>(m_wide.back().c_str());
        m_values.push_back(prop);
    }
    void Long(ULONG tag, LONG value)
    {
        SPropValue prop{};
        prop.ulPropTag = tag;
        prop.Value.l = value;
        m_values.push_back(prop);
    }
    void Bool(ULONG tag, bool value)
    {
        SPropValue prop{};
        prop.ulPropTag = tag;
        prop.Value.b = value ? 1 : 0;
        m_values.push_back(prop);
    }
    void Time(ULONG tag, const FILETIME& value)
    {
        SPropValue prop{};
        prop.ulPropTag = tag;
        prop.Value.ft = value;
        m_values.push_back(prop);
    }
    void Binary(ULONG tag, const std::string& value)
    {
        m_bytes.push_back(value);
        SPropValue prop{};
        prop.ulPropTag = tag;
        prop.Value.bin.cb = static_cast<ULONG>(m_bytes.back().size());
        prop.Value.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(m_bytes.back().data()));
        m_values.push_back(prop);
    }

    // Per-property problems are not failures: a store may compute some of these.
    HRESULT SetOn(IMAPIProp* target)
    {
        if (m_values.empty())
            return S_OK;
        LPSPropProblemArray problems = nullptr;
        HRESULT hr = target->SetProps(static_cast<ULONG>(m_values.size()), m_values.data(), &problems);
        if (problems)
            MAPIFreeBuffer(problems);
        return FAILED(hr) ? hr : S_OK;
    }

private:
    std::deque<std::wstring> m_wide;
    std::deque<std::string> m_bytes;
    std::vector<SPropValue> m_values;
};

// Writes a value through a property stream, the way large values must reach
// a store.
HRESULT WriteStream(IMAPIProp* target, ULONG tag, const void* data, size_t size)
{
    // Filled in place rather than through ComPtr::Attach, which in this
    // toolchain adds a reference: the stream holds its message, and one
    // reference too many would keep the whole message alive.
    ComPtr<IStream> stream;
    HRESULT hr = target->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                      reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(size - done, kStreamChunk));
        ULONG written = 0;
        hr = stream->Write(bytes + done, chunk, &written);
        if (FAILED(hr))
            return hr;
        if (written == 0)
            return MAPI_E_DISK_ERROR;
        done += written;
    }
    return stream->Commit(STGC_DEFAULT);
}

std::wstring HeaderText(const CMimePart& part, const char* name)
{
    const std::string* raw = part.headers.Find(name);
    return raw ? CEncodedWords::Decode(*raw) : std::wstring();
}

// Identifiers and other structured text: raw bytes, read as UTF-8 or windows-1252.
std::wstring PlainText(const std::string& bytes)
{
    return CMimeCharset::FromCodePage(bytes.data(), bytes.size(),
                                      CMimeCharset::FallbackCodePage(bytes.data(), bytes.size()));
}

std::wstring CollapsedBlanks(const std::wstring& text)
{
    std::wstring out;
    bool blank = false;
    for (wchar_t c : text) {
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            blank = !out.empty();
            continue;
        }
        if (blank)
            out.push_back(L' ');
        blank = false;
        out.push_back(c);
    }
    return out;
}

std::wstring WithCrLf(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\r') {
            out += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else if (c == L'\n') {
            out += L"\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void AppendWide(std::string& bytes, const std::wstring& text)
{
    const char* data = reinterpret_cast<const char*>(text.c_str());
    bytes.append(data, (text.size() + 1) * sizeof(wchar_t));
}

// A one-off entry identifier of an SMTP address, Unicode form.
std::string OneOffEntryId(const std::wstring& name, const std::wstring& address)
{
    std::string id(4, '\0');
    id.append(reinterpret_cast<const char*>(kOneOffProvider), sizeof(kOneOffProvider));
    const WORD version = 0;
    const WORD flags = MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO;
    id.append(reinterpret_cast<const char*>(&version), sizeof(version));
    id.append(reinterpret_cast<const char*>(&flags), sizeof(flags));
    AppendWide(id, name);
    AppendWide(id, L"SMTP");
    AppendWide(id, address);
    return id;
}

// "SMTP:" and the address in upper case, 8-bit, with its terminator.
std::string SearchKey(const std::wstring& address)
{
    std::wstring key = L"SMTP:" + address;
    if (!key.empty())
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    const int needed = WideCharToMultiByte(CP_ACP, 0, key.c_str(), static_cast<int>(key.size()) + 1, nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(std::max(needed, 1)), '\0');
    if (needed > 0)
        WideCharToMultiByte(CP_ACP, 0, key.c_str(), static_cast<int>(key.size()) + 1, &bytes[0], needed, nullptr,
                            nullptr);
    return bytes;
}

std::wstring DisplayNameOf(const CMailbox& mailbox)
{
    return mailbox.name.empty() ? mailbox.address : mailbox.name;
}

// The subject's prefix: one to three letters, a colon and a blank ("Re: ").
size_t PrefixLength(const std::wstring& subject)
{
    for (size_t colon = 1; colon <= 3 && colon + 1 < subject.size(); ++colon) {
        if (!IsCharAlphaW(subject[colon - 1]))
            return 0;
        if (subject[colon] == L':' && subject[colon + 1] == L' ')
            return colon + 2;
    }
    return 0;
}

std::wstring Lower(const std::wstring& text)
{
    std::wstring lower = text;
    if (!lower.empty())
        CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    return lower;
}

std::string LowerAscii(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return lower;
}

std::string WithoutAngles(const std::string& id)
{
    size_t begin = 0;
    size_t end = id.size();
    while (begin < end && (id[begin] == '<' || id[begin] == ' '))
        ++begin;
    while (end > begin && (id[end - 1] == '>' || id[end - 1] == ' '))
        --end;
    return id.substr(begin, end - begin);
}

// The code page PR_INTERNET_CPID names for a text part: its charset's own,
// else the one its bytes were read with. A plain part without a charset is
// US-ASCII; an HTML part without one may declare its charset inside the
// page, so its bytes decide.
LONG CodePageOfPart(const CMimePart& part, const std::string& body)
{
    const std::string charset = part.Charset();
    if (charset.empty() && part.contentType == "text/plain")
        return 20127;
    const UINT declared = CMimeCharset::CodePageOf(charset);
    return static_cast<LONG>(declared ? declared : CMimeCharset::DecodingCodePage(charset, body.data(), body.size()));
}

std::wstring TextOfHtml(const CMimePart& part, const std::string& html)
{
    const std::wstring page = part.Charset().empty() ? CHtmlText::Decode(html) : CMimeCharset::ToWide(html, part.Charset());
    std::wstring text;
    for (const CHtmlText::Chunk& chunk : CHtmlText::Extract(page, IFILTER_INIT_CANON_SPACES)) {
        if (!text.empty()) {
            if (chunk.breakType == CHUNK_EOW)
                text += L" ";
            else if (chunk.breakType != CHUNK_NO_BREAK)
                text += L"\r\n";
        }
        text += chunk.text;
    }
    return text;
}

// A file name without the folders some mailers leave in it.
std::wstring BaseName(const std::wstring& name)
{
    const size_t slash = name.find_last_of(L"\\/");
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

std::wstring ExtensionOf(const std::wstring& name)
{
    const size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos || dot == 0 ? std::wstring() : name.substr(dot);
}

// The 8.3 form of a long file name: itself when it already fits.
std::wstring ShortName(const std::wstring& longName)
{
    const std::wstring extension = ExtensionOf(longName);
    const std::wstring base = longName.substr(0, longName.size() - extension.size());
    auto valid = [](wchar_t c) { return c > L' ' && c < 0x7F && !wcschr(L".\"/\\[]:;=,+*?<>|", c); };
    bool fits = base.size() <= 8 && extension.size() <= 4 && !base.empty();
    for (wchar_t c : base)
        fits = fits && valid(c);
    for (size_t i = 1; i < extension.size(); ++i)
        fits = fits && valid(extension[i]);
    if (fits)
        return longName;
    std::wstring shortBase;
    for (wchar_t c : base) {
        if (valid(c) && shortBase.size() < 6)
            shortBase.push_back(c);
    }
    if (shortBase.empty())
        shortBase = L"ATT";
    std::wstring shortExtension;
    for (size_t i = 1; i < extension.size() && shortExtension.size() < 3; ++i) {
        if (valid(extension[i]))
            shortExtension.push_back(extension[i]);
    }
    return shortBase + L"~1" + (shortExtension.empty() ? L"" : L"." + shortExtension);
}

// The extension an unnamed attachment of this type is given.
std::wstring ExtensionForType(const std::string& type)
{
    struct Known {
        const char* type;
        const wchar_t* extension;
    } known[] = {{"text/html", L".htm"},       {"image/png", L".png"},       {"image/gif", L".gif"},
                 {"image/jpeg", L".jpg"},      {"image/bmp", L".bmp"},       {"application/pdf", L".pdf"},
                 {"message/rfc822", L".eml"},  {"text/calendar", L".ics"},   {"application/zip", L".zip"}};
    for (const Known& k : known) {
        if (type == k.type)
            return k.extension;
    }
    if (type.compare(0, 5, "text/") == 0 || type.compare(0, 8, "message/") == 0)
        return L".txt";
    return L".dat";
}

} // namespace

HRESULT CMapiMessageWriter::Write(const CMimePart& message, IMessage* target) const
{
    return WriteMessage(message, target);
}

void CMapiMessageWriter::Collect(const CMimePart& part, Content& content) const
{
    if (part.IsEnclosedMessage()) {
        content.attachments.push_back(Attachment{&part, false});
        return;
    }
    if (!part.IsMultipart() || part.children.empty()) {
        CollectLeaf(part, content);
        return;
    }
    const std::string subtype = part.Subtype();
    if (subtype == "alternative") {
        ++content.alternativeDepth;
        for (const auto& child : part.children)
            Collect(*child, content);
        --content.alternativeDepth;
        if (content.alternativeDepth == 0 && (content.plain || content.html))
            content.bodyTaken = true;
        return;
    }
    if (subtype == "related") {
        // The root is the part the start parameter names, else the first.
        const std::string start = WithoutAngles(part.typeField.Raw("start"));
        const CMimePart* root = part.children.front().get();
        for (const auto& child : part.children) {
            const std::string* id = child->headers.Find("Content-ID");
            if (!start.empty() && id && WithoutAngles(*id) == start)
                root = child.get();
        }
        Collect(*root, content);
        for (const auto& child : part.children) {
            if (child.get() == root)
                continue;
            if (child->IsMultipart() && !child->children.empty())
                Collect(*child, content);
            else
                content.attachments.push_back(Attachment{child.get(), true});
        }
        return;
    }
    // mixed, digest, report, signed (content first, signature after) and
    // any other kind: the parts in order.
    for (const auto& child : part.children)
        Collect(*child, content);
}

void CMapiMessageWriter::CollectLeaf(const CMimePart& part, Content& content) const
{
    const bool plain = part.contentType == "text/plain";
    const bool inlineText = (plain || part.contentType == "text/html") && !part.IsAttachmentDisposition() &&
                            part.FileName().empty();
    if (inlineText && !content.bodyTaken) {
        const CMimePart*& slot = plain ? content.plain : content.html;
        if (!slot) {
            slot = &part;
            if (content.alternativeDepth == 0)
                content.bodyTaken = true;
            return;
        }
    }
    content.attachments.push_back(Attachment{&part, false});
}

HRESULT CMapiMessageWriter::WriteMessage(const CMimePart& message, IMessage* target) const
{
    Content content;
    Collect(message, content);
    std::wstring displays[3];
    HRESULT hr = WriteRecipients(message, target, displays);
    if (SUCCEEDED(hr))
        hr = WriteEnvelope(message, content, displays, target);
    if (SUCCEEDED(hr))
        hr = WriteBodies(content, target);
    ULONG ordinal = 0;
    for (const Attachment& attachment : content.attachments) {
        if (FAILED(hr))
            break;
        hr = WriteAttachment(attachment, ++ordinal, target);
    }
    return hr;
}

HRESULT CMapiMessageWriter::WriteRecipients(const CMimePart& message, IMessage* target,
                                            std::wstring displays[3]) const
{
    struct Recipient {
        LONG type;
        CMailbox mailbox;
    };
    std::vector<Recipient> recipients;
    const struct {
        const char* field;
        LONG type;
    } kinds[] = {{"To", MAPI_TO}, {"Cc", MAPI_CC}, {"Bcc", MAPI_BCC}};
    for (const auto& kind : kinds) {
        if (kind.type == MAPI_BCC && !(m_flags & CCSF_INCLUDE_BCC))
            continue;
        for (const std::string* value : message.headers.FindAll(kind.field)) {
            for (CMailbox& mailbox : CAddressList::Parse(*value)) {
                std::wstring& display = displays[kind.type - MAPI_TO];
                if (!display.empty())
                    display += L"; ";
                display += DisplayNameOf(mailbox);
                recipients.push_back(Recipient{kind.type, std::move(mailbox)});
            }
        }
    }
    if (recipients.empty())
        return S_OK;

    // The list and each entry's values are separate MAPI allocations, as
    // ModifyRecipients expects them (a provider may replace an entry's values).
    LPADRLIST list = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewADRLIST(recipients.size()), reinterpret_cast<LPVOID*>(&list));
    if (FAILED(hr))
        return hr;
    ZeroMemory(list, CbNewADRLIST(recipients.size()));
    constexpr ULONG kValues = 9;
    for (const Recipient& recipient : recipients) {
        ADRENTRY& entry = list->aEntries[list->cEntries];
        hr = MAPIAllocateBuffer(kValues * sizeof(SPropValue), reinterpret_cast<LPVOID*>(&entry.rgPropVals));
        if (FAILED(hr))
            break;
        ++list->cEntries;
        ZeroMemory(entry.rgPropVals, kValues * sizeof(SPropValue));
        auto wide = [&](ULONG tag, const std::wstring& text) -> HRESULT {
            SPropValue& value = entry.rgPropVals[entry.cValues++];
            value.ulPropTag = tag;
            const ULONG bytes = static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t));
            HRESULT result = MAPIAllocateMore(bytes, entry.rgPropVals, reinterpret_cast<LPVOID*>(&value.Value.lpszW));
            if (SUCCEEDED(result))
                CopyMemory(value.Value.lpszW, text.c_str(), bytes);
            return result;
        };
        auto binary = [&](ULONG tag, const std::string& bytes) -> HRESULT {
            SPropValue& value = entry.rgPropVals[entry.cValues++];
            value.ulPropTag = tag;
            value.Value.bin.cb = static_cast<ULONG>(bytes.size());
            HRESULT result = MAPIAllocateMore(static_cast<ULONG>(bytes.size()), entry.rgPropVals,
                                              reinterpret_cast<LPVOID*>(&value.Value.bin.lpb));
            if (SUCCEEDED(result))
                CopyMemory(value.Value.bin.lpb, bytes.data(), bytes.size());
            return result;
        };
        auto number = [&](ULONG tag, LONG n) {
            SPropValue& value = entry.rgPropVals[entry.cValues++];
            value.ulPropTag = tag;
            value.Value.l = n;
        };
        const std::wstring display = DisplayNameOf(recipient.mailbox);
        const std::wstring& address = recipient.mailbox.address;
        number(PR_RECIPIENT_TYPE, recipient.type);
        number(PR_OBJECT_TYPE, MAPI_MAILUSER);
        number(PR_DISPLAY_TYPE, DT_MAILUSER);
        hr = wide(Wide(PR_DISPLAY_NAME), display);
        if (SUCCEEDED(hr))
            hr = wide(Wide(PR_ADDRTYPE), L"SMTP");
        if (SUCCEEDED(hr) && !address.empty()) {
            hr = wide(Wide(PR_EMAIL_ADDRESS), address);
            if (SUCCEEDED(hr))
                hr = wide(kSmtpAddress, address);
            if (SUCCEEDED(hr))
                hr = binary(PR_ENTRYID, OneOffEntryId(display, address));
            if (SUCCEEDED(hr))
                hr = binary(PR_SEARCH_KEY, SearchKey(address));
        }
        if (FAILED(hr))
            break;
    }
    if (SUCCEEDED(hr))
        hr = target->ModifyRecipients(MODRECIP_ADD, list);
    // What FreePadrlist does, through the allocator Windows's mapi32 exports
    // undecorated, so the module loads with any import library.
    for (ULONG i = 0; i < list->cEntries; ++i)
        MAPIFreeBuffer(list->aEntries[i].rgPropVals);
    MAPIFreeBuffer(list);
    return hr;
}

HRESULT CMapiMessageWriter::WriteEnvelope(const CMimePart& message, const Content& content,
                                          const std::wstring displays[3], IMessage* target) const
{
    CPropList props;
    props.Wide(Wide(PR_MESSAGE_CLASS), L"IPM.Note");

    if (message.headers.Find("Subject")) {
        const std::wstring subject = HeaderText(message, "Subject");
        const size_t prefix = PrefixLength(subject);
        const std::wstring normalized = subject.substr(prefix);
        props.Wide(Wide(PR_SUBJECT), subject);
        props.Wide(Wide(PR_SUBJECT_PREFIX), subject.substr(0, prefix));
        props.Wide(Wide(PR_NORMALIZED_SUBJECT), normalized);
        props.Wide(Wide(PR_CONVERSATION_TOPIC),
                   message.headers.Find("Thread-Topic") ? HeaderText(message, "Thread-Topic") : normalized);
    }

    // From is who the message is sent for; Sender, when given, who sent it.
    std::vector<CMailbox> from;
    if (const std::string* value = message.headers.Find("From"))
        from = CAddressList::Parse(*value);
    std::vector<CMailbox> sender;
    if (const std::string* value = message.headers.Find("Sender"))
        sender = CAddressList::Parse(*value);
    if (sender.empty())
        sender = from;
    auto writeSender = [&](const CMailbox& mailbox, ULONG name, ULONG email, ULONG type, ULONG entryId,
                           ULONG searchKey) {
        const std::wstring display = DisplayNameOf(mailbox);
        props.Wide(name, display);
        props.Wide(type, L"SMTP");
        if (!mailbox.address.empty()) {
            props.Wide(email, mailbox.address);
            props.Binary(entryId, OneOffEntryId(display, mailbox.address));
            props.Binary(searchKey, SearchKey(mailbox.address));
        }
    };
    if (!from.empty())
        writeSender(from.front(), Wide(PR_SENT_REPRESENTING_NAME), Wide(PR_SENT_REPRESENTING_EMAIL_ADDRESS),
                    Wide(PR_SENT_REPRESENTING_ADDRTYPE), PR_SENT_REPRESENTING_ENTRYID,
                    PR_SENT_REPRESENTING_SEARCH_KEY);
    if (!sender.empty())
        writeSender(sender.front(), Wide(PR_SENDER_NAME), Wide(PR_SENDER_EMAIL_ADDRESS), Wide(PR_SENDER_ADDRTYPE),
                    PR_SENDER_ENTRYID, PR_SENDER_SEARCH_KEY);

    if (const std::string* value = message.headers.Find("Reply-To")) {
        std::wstring names;
        std::string entries;
        ULONG count = 0;
        for (const CMailbox& mailbox : CAddressList::Parse(*value)) {
            if (!names.empty())
                names += L"; ";
            names += DisplayNameOf(mailbox);
            const std::string id = OneOffEntryId(DisplayNameOf(mailbox), mailbox.address);
            // FLATENTRY records: a count and the bytes, each padded to 4 bytes.
            const ULONG size = static_cast<ULONG>(id.size());
            entries.append(reinterpret_cast<const char*>(&size), sizeof(size));
            entries += id;
            entries.append((4 - entries.size() % 4) % 4, '\0');
            ++count;
        }
        if (count > 0) {
            std::string list;
            const ULONG total = static_cast<ULONG>(entries.size());
            list.append(reinterpret_cast<const char*>(&count), sizeof(count));
            list.append(reinterpret_cast<const char*>(&total), sizeof(total));
            props.Wide(Wide(PR_REPLY_RECIPIENT_NAMES), names);
            props.Binary(PR_REPLY_RECIPIENT_ENTRIES, list + entries);
        }
    }

    FILETIME submitted{};
    const std::string* date = message.headers.Find("Date");
    const bool haveDate = date && CMailDate::Parse(*date, &submitted);
    if (haveDate)
        props.Time(PR_CLIENT_SUBMIT_TIME, submitted);
    // The newest Received field, written first, says when the message arrived.
    FILETIME delivered{};
    const std::string* received = message.headers.Find("Received");
    const size_t semicolon = received ? received->rfind(';') : std::string::npos;
    if (semicolon != std::string::npos && CMailDate::Parse(received->substr(semicolon + 1), &delivered))
        props.Time(PR_MESSAGE_DELIVERY_TIME, delivered);
    else if (haveDate)
        props.Time(PR_MESSAGE_DELIVERY_TIME, submitted);

    if (const std::string* value = message.headers.Find("Message-ID"))
        props.Wide(kInternetMessageId, PlainText(*value));
    if (const std::string* value = message.headers.Find("In-Reply-To"))
        props.Wide(kInReplyToId, PlainText(*value));
    if (const std::string* value = message.headers.Find("References"))
        props.Wide(kInternetReferences, CollapsedBlanks(PlainText(*value)));
    if (const std::string* value = message.headers.Find("Thread-Index"))
        props.Binary(PR_CONVERSATION_INDEX, CMimeDecoder::Base64(value->data(), value->size()));

    LONG importance = IMPORTANCE_NORMAL;
    if (const std::string* value = message.headers.Find("Importance")) {
        const std::string level = LowerAscii(*value);
        importance = level == "high" ? IMPORTANCE_HIGH : level == "low" ? IMPORTANCE_LOW : IMPORTANCE_NORMAL;
    } else if (const std::string* priority = message.headers.Find("X-Priority")) {
        const char digit = priority->empty() ? '3' : (*priority)[0];
        importance = digit == '1' || digit == '2' ? IMPORTANCE_HIGH
                     : digit == '4' || digit == '5' ? IMPORTANCE_LOW
                                                    : IMPORTANCE_NORMAL;
    }
    props.Long(PR_IMPORTANCE, importance);
    if (const std::string* value = message.headers.Find("Priority")) {
        const std::string level = LowerAscii(*value);
        props.Long(PR_PRIORITY, level == "urgent" ? PRIO_URGENT : level == "non-urgent" ? PRIO_NONURGENT : PRIO_NORMAL);
    }
    if (const std::string* value = message.headers.Find("Sensitivity")) {
        const std::string level = LowerAscii(*value);
        const LONG sensitivity = level == "personal"               ? SENSITIVITY_PERSONAL
                                 : level == "private"              ? SENSITIVITY_PRIVATE
                                 : level == "company-confidential" ? SENSITIVITY_COMPANY_CONFIDENTIAL
                                                                   : SENSITIVITY_NONE;
        props.Long(PR_SENSITIVITY, sensitivity);
    }
    if (message.headers.Find("Disposition-Notification-To") || message.headers.Find("Return-Receipt-To"))
        props.Bool(PR_READ_RECEIPT_REQUESTED, true);

    // The sent/unsent state travels in X-Unsent only for embedded messages.
    LONG flags = content.attachments.empty() ? 0 : MSGFLAG_HASATTACH;
    if (m_flags & CCSF_EMBEDDED_MESSAGE) {
        const std::string* unsent = message.headers.Find("X-Unsent");
        if (unsent && *unsent == "1")
            flags |= MSGFLAG_UNSENT;
    }
    props.Long(PR_MESSAGE_FLAGS, flags);
    props.Bool(PR_HASATTACH, !content.attachments.empty());

    const ULONG displayTags[3] = {Wide(PR_DISPLAY_TO), Wide(PR_DISPLAY_CC), Wide(PR_DISPLAY_BCC)};
    for (int i = 0; i < 3; ++i)
        props.Wide(displayTags[i], displays[i]);

    const std::string headers = message.HeaderBlock();
    if (!headers.empty())
        props.Wide(Wide(PR_TRANSPORT_MESSAGE_HEADERS), WithCrLf(PlainText(headers)));
    return props.SetOn(target);
}

HRESULT CMapiMessageWriter::WriteBodies(const Content& content, IMessage* target) const
{
    std::wstring text;
    bool haveText = false;
    LONG codePage = 0;
    if (content.plain) {
        const std::string body = content.plain->DecodedBody();
        text = WithCrLf(CMimeCharset::ToWide(body, content.plain->Charset()));
        haveText = true;
        codePage = CodePageOfPart(*content.plain, body);
    }
    if (content.html) {
        // PR_HTML keeps the page's own bytes; PR_INTERNET_CPID says how to read them.
        const std::string html = content.html->DecodedBody();
        HRESULT hr = WriteStream(target, kHtml, html.data(), html.size());
        if (FAILED(hr))
            return hr;
        if (!haveText) {
            text = TextOfHtml(*content.html, html);
            haveText = true;
        }
        codePage = CodePageOfPart(*content.html, html);
    }
    if (!haveText)
        return S_OK;
    HRESULT hr = WriteStream(target, PR_BODY_W, text.data(), text.size() * sizeof(wchar_t));
    if (FAILED(hr))
        return hr;
    CPropList props;
    props.Long(kInternetCodePage, codePage);
    return props.SetOn(target);
}

HRESULT CMapiMessageWriter::WriteAttachment(const Attachment& attachment, ULONG ordinal, IMessage* target) const
{
    const CMimePart& part = *attachment.part;
    if (part.IsEnclosedMessage())
        return WriteEmbedded(part, target);

    ULONG number = 0;
    ComPtr<IAttach> attach;
    HRESULT hr = target->CreateAttach(nullptr, 0, &number, &attach);
    if (FAILED(hr))
        return hr;
    std::wstring name = BaseName(part.FileName());
    if (name.empty()) {
        wchar_t generated[16];
        std::swprintf(generated, 16, L"ATT%05lu", ordinal);
        name = generated + ExtensionForType(part.contentType);
    }
    CPropList props;
    props.Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    props.Wide(Wide(PR_ATTACH_LONG_FILENAME), name);
    props.Wide(Wide(PR_ATTACH_FILENAME), ShortName(name));
    props.Wide(Wide(PR_DISPLAY_NAME), name);
    props.Wide(Wide(PR_ATTACH_EXTENSION), Lower(ExtensionOf(name)));
    props.Wide(Wide(PR_ATTACH_MIME_TAG), PlainText(part.contentType));
    props.Long(PR_RENDERING_POSITION, -1);
    const std::string* contentId = part.headers.Find("Content-ID");
    if (contentId && !WithoutAngles(*contentId).empty())
        props.Wide(kAttachContentId, PlainText(WithoutAngles(*contentId)));
    const std::string* location = part.headers.Find("Content-Location");
    if (location && !location->empty())
        props.Wide(kAttachContentLocation, PlainText(*location));
    props.Bool(kAttachmentHidden, attachment.related);
    if (attachment.related)
        props.Long(kAttachFlags, kAttachMhtmlReference);
    hr = props.SetOn(attach.Get());
    if (SUCCEEDED(hr)) {
        const std::string data = part.DecodedBody();
        hr = WriteStream(attach.Get(), PR_ATTACH_DATA_BIN, data.data(), data.size());
    }
    if (SUCCEEDED(hr))
        hr = attach->SaveChanges(0);
    return hr;
}

HRESULT CMapiMessageWriter::WriteEmbedded(const CMimePart& part, IMessage* target) const
{
    const CMimePart& enclosed = *part.children.front();
    ULONG number = 0;
    ComPtr<IAttach> attach;
    HRESULT hr = target->CreateAttach(nullptr, 0, &number, &attach);
    if (FAILED(hr))
        return hr;
    std::wstring name = HeaderText(enclosed, "Subject");
    if (name.empty())
        name = BaseName(part.FileName());
    CPropList props;
    props.Long(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    props.Wide(Wide(PR_DISPLAY_NAME), name);
    props.Wide(Wide(PR_ATTACH_MIME_TAG), L"message/rfc822");
    props.Long(PR_RENDERING_POSITION, -1);
    hr = props.SetOn(attach.Get());
    if (FAILED(hr))
        return hr;
    ComPtr<IMessage> embedded;
    hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                              reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = WriteMessage(enclosed, embedded.Get());
    if (SUCCEEDED(hr))
        hr = embedded->SaveChanges(KEEP_OPEN_READWRITE);
    embedded.Reset();
    if (SUCCEEDED(hr))
        hr = attach->SaveChanges(0);
    return hr;
}
