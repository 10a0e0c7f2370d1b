// The main job: a MAPI client of the provider. It makes a MAPI profile that
// holds a store of the given database (the store's private properties and
// settings file written as the service's wizard writes them), logs on
// through MAPI, opens the store from the session's stores table and prints
// the IPM subtree, each mailbox's folder tree with its counts, and the first
// rows of every folder's contents table. Then it prints one message of each
// body kind it finds (headers, body text, attachments), copies the folder
// that holds the most kinds into the MAPI subsystem's writable store, added
// to the profile, and prints what arrived there. The profile and the
// settings file go again at the end. With --profile it logs on to a profile
// that the service's wizard made instead and browses the provider's store in it.
//
//   VostrelMapiBrowse <database.edb> [log folder]
//   VostrelMapiBrowse --profile <profile name>
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CStoreConfig.h"
#include "ResourceStrings.h"
#include "Vostrel2007.h"
#include "testing/StoreProfile.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kRowsShown = 5;
constexpr int kMaxDepth = 16;
// Messages opened per folder while looking for body kinds: the messages of
// one folder are mostly of one kind.
constexpr ULONG kMessagesLookedAt = 25;
constexpr size_t kBodyLinesShown = 8;
constexpr ULONG kPrHtml = 0x10130102;
constexpr ULONG kPrMimeText = 0x66590102;
constexpr ULONG kPrDisplayToW = 0x0E04001F;
constexpr ULONG kPrDisplayCcW = 0x0E03001F;
constexpr ULONG kPrAttachDataObj = 0x3701000D;

void Print(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = _vscwprintf(format, measure);
    va_end(measure);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

struct CRowsFree {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, CRowsFree>;

template <typename T>
std::wstring LastError(T* object, HRESULT hr)
{
    LPMAPIERROR error = nullptr;
    if (FAILED(object->GetLastError(hr, MAPI_UNICODE, &error)) || !error)
        return std::wstring();
    std::wstring text = error->lpszError ? reinterpret_cast<const wchar_t*>(error->lpszError) : L"";
    MAPIFreeBuffer(error);
    return text;
}

template <typename T>
void PrintFailure(int depth, const char* call, HRESULT hr, T* object)
{
    Print(L"%*s%S failed: 0x%08lX\n", depth * 2, L"", call, static_cast<unsigned long>(hr));
    std::wstring text = object ? LastError(object, hr) : std::wstring();
    if (!text.empty())
        Print(L"%*s%s\n", depth * 2 + 2, L"", text.c_str());
}

Rows QueryAll(IMAPITable* table, std::vector<ULONG> columns, LONG limit = 0x7FFFFFFF, LPSSortOrderSet order = nullptr)
{
    std::vector<ULONG> tags(columns.size() + 1);
    tags[0] = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags.begin() + 1);
    HRESULT hr = table->SetColumns(reinterpret_cast<LPSPropTagArray>(tags.data()), 0);
    if (FAILED(hr)) {
        PrintFailure(1, "IMAPITable::SetColumns", hr, table);
        return nullptr;
    }
    if (order && FAILED(hr = table->SortTable(order, 0))) {
        PrintFailure(1, "IMAPITable::SortTable", hr, table);
        return nullptr;
    }
    LPSRowSet rows = nullptr;
    if (FAILED(table->QueryRows(limit, 0, &rows)))
        return nullptr;
    return Rows(rows);
}

std::wstring Text(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW ? value.Value.lpszW : L"";
}

LONG Number(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_LONG ? value.Value.l : 0;
}

std::wstring Time(const SPropValue& value)
{
    if (PROP_TYPE(value.ulPropTag) != PT_SYSTIME)
        return L"";
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&value.Value.ft, &time);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute);
    return text;
}

ComPtr<IMAPIFolder> OpenFolder(IMAPIContainer* parent, const SBinary& id, int depth)
{
    ULONG type = 0;
    ComPtr<IUnknown> object;
    HRESULT hr = parent->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS, &type,
                                   object.GetAddressOf());
    ComPtr<IMAPIFolder> folder;
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::OpenEntry", hr, parent);
        return folder;
    }
    object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
    return folder;
}

void PrintContents(IMAPIFolder* folder, int depth)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetContentsTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::GetContentsTable", hr, folder);
        return;
    }
    // The newest first, as a mail client shows a folder.
    SSortOrderSet newestFirst = {1, 0, 0, {{PR_MESSAGE_DELIVERY_TIME, TABLE_SORT_DESCEND}}};
    Rows rows = QueryAll(table.Get(), {PR_SUBJECT_W, PR_SENDER_NAME_W, PR_SENT_REPRESENTING_NAME_W,
                                       PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_SIZE, PR_MESSAGE_FLAGS},
                         kRowsShown, &newestFirst);
    ULONG count = 0;
    table->GetRowCount(0, &count);
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        std::wstring sender = Text(v[1]);
        if (sender.empty())
            sender = Text(v[2]);
        Print(L"%*s- %s%s  \"%s\" from %s, %ld bytes\n", depth * 2, L"", Time(v[3]).c_str(),
              (Number(v[5]) & MSGFLAG_READ) ? L"" : L" (unread)", Text(v[0]).c_str(),
              sender.empty() ? L"(unknown sender)" : sender.c_str(), Number(v[4]));
    }
    if (count > kRowsShown)
        Print(L"%*s  ... and %lu more\n", depth * 2, L"", static_cast<unsigned long>(count - kRowsShown));
}

void PrintTree(IMAPIFolder* folder, int depth)
{
    PrintContents(folder, depth);
    if (depth >= kMaxDepth)
        return;
    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetHierarchyTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::GetHierarchyTable", hr, folder);
        return;
    }
    Rows rows = QueryAll(table.Get(), {PR_DISPLAY_NAME_W, PR_CONTENT_COUNT, PR_CONTENT_UNREAD, PR_ENTRYID,
                                       PR_CONTAINER_CLASS_W});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        std::wstring kind = Text(v[4]);
        Print(L"%*s%s (%ld items, %ld unread)%s%s\n", depth * 2, L"", Text(v[0]).c_str(), Number(v[1]),
              Number(v[2]), kind.empty() ? L"" : L" ", kind.c_str());
        if (PROP_TYPE(v[3].ulPropTag) != PT_BINARY)
            continue;
        ComPtr<IMAPIFolder> child = OpenFolder(folder, v[3].Value.bin, depth + 1);
        if (child)
            PrintTree(child.Get(), depth + 1);
    }
}

// The body kinds a message can show, in the order they are printed.
enum EBodyKind { kPlainText, kAnsiText, kRtfBody, kHtmlBody, kMimeText, kBodyKindCount, kNoBody = kBodyKindCount };
const wchar_t* const kBodyKindNames[] = {L"plain text", L"plain text kept in the ANSI code page", L"compressed RTF",
                                         L"HTML", L"held only as MIME text"};

bool Present(const SPropValue& value, ULONG tag)
{
    return value.ulPropTag == tag || (PROP_TYPE(value.ulPropTag) == PT_ERROR && value.Value.err == E_OUTOFMEMORY);
}

// What a message's bodies say of it: held as MIME, a plain-text body the
// store hands out as text (kept in the ANSI code page), RTF in step with
// its text, HTML, RTF, or plain text.
EBodyKind BodyKindOf(IMessage* message)
{
    SizedSPropTagArray(5, tags) = {5, {PR_BODY_W, PR_RTF_COMPRESSED, kPrHtml, PR_RTF_IN_SYNC, kPrMimeText}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &values)) || !values)
        return kNoBody;
    std::unique_ptr<SPropValue, decltype(&MAPIFreeBuffer)> owned(values, &MAPIFreeBuffer);
    const bool inSync = values[3].ulPropTag == PR_RTF_IN_SYNC && values[3].Value.b;
    if (Present(values[4], kPrMimeText))
        return kMimeText;
    if (values[0].ulPropTag == PR_BODY_W)
        return kAnsiText;
    if (Present(values[1], PR_RTF_COMPRESSED) && inSync)
        return kRtfBody;
    if (Present(values[2], kPrHtml))
        return kHtmlBody;
    if (Present(values[1], PR_RTF_COMPRESSED))
        return kRtfBody;
    if (Present(values[0], PR_BODY_W))
        return kPlainText;
    return kNoBody;
}

// The bodies a message holds, named.
std::wstring BodiesOf(IMessage* message)
{
    SizedSPropTagArray(4, tags) = {4, {PR_BODY_W, PR_RTF_COMPRESSED, kPrHtml, kPrMimeText}};
    const wchar_t* const names[] = {L"plain text", L"RTF", L"HTML", L"MIME text"};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (FAILED(message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &values)) || !values)
        return L"?";
    std::unique_ptr<SPropValue, decltype(&MAPIFreeBuffer)> owned(values, &MAPIFreeBuffer);
    std::wstring text;
    for (ULONG i = 0; i < count && i < 4; ++i) {
        if (!Present(values[i], tags.aulPropTag[i]))
            continue;
        text += text.empty() ? L"" : L" + ";
        text += names[i];
    }
    return text.empty() ? L"no body" : text;
}

ULONG AttachmentCount(IMessage* message)
{
    ComPtr<IMAPITable> table;
    ULONG count = 0;
    if (SUCCEEDED(message->GetAttachmentTable(0, table.GetAddressOf())))
        table->GetRowCount(0, &count);
    return count;
}

std::vector<BYTE> ReadStream(IStream* stream)
{
    std::vector<BYTE> bytes;
    BYTE chunk[16384];
    for (;;) {
        ULONG read = 0;
        const HRESULT hr = stream->Read(chunk, sizeof(chunk), &read);
        if (FAILED(hr) || read == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + read);
        if (hr == S_FALSE)
            break;
    }
    return bytes;
}

// A property of a message read through its stream; empty when it has none.
std::vector<BYTE> PropertyBytes(IMAPIProp* object, ULONG tag)
{
    ComPtr<IStream> stream;
    if (FAILED(object->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN*>(stream.GetAddressOf()))))
        return {};
    return ReadStream(stream.Get());
}

std::wstring RtfText(const std::vector<BYTE>& compressed)
{
    ComPtr<IStream> stored;
    if (compressed.empty() || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stored.GetAddressOf())))
        return L"";
    ULONG written = 0;
    stored->Write(compressed.data(), static_cast<ULONG>(compressed.size()), &written);
    LARGE_INTEGER start = {};
    stored->Seek(start, STREAM_SEEK_SET, nullptr);
    ComPtr<IStream> rtf;
    if (FAILED(WrapCompressedRTFStream(stored.Get(), 0, rtf.GetAddressOf())))
        return L"";
    const std::vector<BYTE> bytes = ReadStream(rtf.Get());
    return std::wstring(bytes.begin(), bytes.end());
}

std::wstring WideText(const std::vector<BYTE>& bytes)
{
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    return text;
}

// The first lines of a text, indented.
void PrintLines(const std::wstring& text, int depth)
{
    size_t shown = 0;
    size_t at = 0;
    while (at < text.size() && shown < kBodyLinesShown) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(at, end - at);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L'\0'))
            line.pop_back();
        Print(L"%*s| %s\n", depth * 2, L"", line.c_str());
        ++shown;
        at = end + 1;
    }
    if (at < text.size())
        Print(L"%*s| ...\n", depth * 2, L"");
}

std::wstring Sender(const SPropValue& name, const SPropValue& address)
{
    std::wstring text = Text(name);
    const std::wstring mail = Text(address);
    if (!mail.empty())
        text += (text.empty() ? L"<" : L" <") + mail + L">";
    return text.empty() ? L"(unknown)" : text;
}

void PrintAttachments(IMessage* message, int depth);

void PrintMessage(IMessage* message, int depth)
{
    SizedSPropTagArray(9, tags) = {9,
                                   {PR_SUBJECT_W, PR_SENT_REPRESENTING_NAME_W, PR_SENT_REPRESENTING_EMAIL_ADDRESS_W,
                                    kPrDisplayToW, kPrDisplayCcW, PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_CLASS_W,
                                    PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_SIZE}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    HRESULT hr = message->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &raw);
    if (FAILED(hr)) {
        PrintFailure(depth, "IMessage::GetProps", hr, message);
        return;
    }
    std::unique_ptr<SPropValue, decltype(&MAPIFreeBuffer)> values(raw, &MAPIFreeBuffer);
    const SPropValue* v = values.get();
    std::wstring date = Time(v[5]);
    if (date.empty())
        date = Time(v[7]);
    Print(L"%*sSubject: %s\n", depth * 2, L"", Text(v[0]).c_str());
    Print(L"%*sFrom:    %s\n", depth * 2, L"", Sender(v[1], v[2]).c_str());
    if (!Text(v[3]).empty())
        Print(L"%*sTo:      %s\n", depth * 2, L"", Text(v[3]).c_str());
    if (!Text(v[4]).empty())
        Print(L"%*sCc:      %s\n", depth * 2, L"", Text(v[4]).c_str());
    if (!date.empty())
        Print(L"%*sDate:    %s\n", depth * 2, L"", date.c_str());
    if (!Text(v[6]).empty())
        Print(L"%*sClass:   %s\n", depth * 2, L"", Text(v[6]).c_str());

    // The text: the plain-text body, else the native body's source.
    std::wstring body = WideText(PropertyBytes(message, PR_BODY_W));
    const wchar_t* what = L"Body";
    if (body.empty()) {
        const std::vector<BYTE> html = PropertyBytes(message, kPrHtml);
        body.assign(html.begin(), html.end());
        what = L"HTML";
    }
    if (body.empty()) {
        body = RtfText(PropertyBytes(message, PR_RTF_COMPRESSED));
        what = L"RTF";
    }
    if (body.empty()) {
        Print(L"%*s(no body)\n", depth * 2, L"");
    } else {
        Print(L"%*s%s:\n", depth * 2, L"", what);
        PrintLines(body, depth);
    }
    PrintAttachments(message, depth);
}

void PrintAttachments(IMessage* message, int depth)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = message->GetAttachmentTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMessage::GetAttachmentTable", hr, message);
        return;
    }
    Rows rows = QueryAll(table.Get(), {PR_ATTACH_NUM, PR_ATTACH_METHOD, PR_DISPLAY_NAME_W, PR_ATTACH_LONG_FILENAME_W,
                                       PR_ATTACH_SIZE});
    if (!rows || rows->cRows == 0) {
        Print(L"%*sAttachments: none\n", depth * 2, L"");
        return;
    }
    Print(L"%*sAttachments:\n", depth * 2, L"");
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        std::wstring name = Text(v[3]);
        if (name.empty())
            name = Text(v[2]);
        ComPtr<IAttach> attach;
        hr = message->OpenAttach(static_cast<ULONG>(Number(v[0])), nullptr, 0, attach.GetAddressOf());
        if (FAILED(hr)) {
            PrintFailure(depth + 1, "IMessage::OpenAttach", hr, message);
            continue;
        }
        switch (Number(v[1])) {
        case ATTACH_BY_VALUE:
            Print(L"%*s%lu. %s: a file of %lu bytes\n", depth * 2 + 2, L"", static_cast<unsigned long>(r + 1),
                  name.c_str(), static_cast<unsigned long>(PropertyBytes(attach.Get(), PR_ATTACH_DATA_BIN).size()));
            break;
        case ATTACH_OLE: {
            ComPtr<IStorage> storage;
            STATSTG stat = {};
            wchar_t clsid[40] = L"?";
            if (SUCCEEDED(attach->OpenProperty(kPrAttachDataObj, &IID_IStorage, 0, 0,
                                               reinterpret_cast<LPUNKNOWN*>(storage.GetAddressOf()))) &&
                SUCCEEDED(storage->Stat(&stat, STATFLAG_NONAME)))
                StringFromGUID2(stat.clsid, clsid, 40);
            Print(L"%*s%lu. %s: an OLE object of class %s\n", depth * 2 + 2, L"", static_cast<unsigned long>(r + 1),
                  name.c_str(), clsid);
            break;
        }
        case ATTACH_EMBEDDED_MSG: {
            Print(L"%*s%lu. %s: a message\n", depth * 2 + 2, L"", static_cast<unsigned long>(r + 1), name.c_str());
            ComPtr<IMessage> embedded;
            hr = attach->OpenProperty(kPrAttachDataObj, &IID_IMessage, 0, 0,
                                      reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf()));
            if (FAILED(hr))
                PrintFailure(depth + 2, "IAttach::OpenProperty", hr, attach.Get());
            else
                PrintMessage(embedded.Get(), depth + 3);
            break;
        }
        default:
            Print(L"%*s%lu. %s (method %ld)\n", depth * 2 + 2, L"", static_cast<unsigned long>(r + 1), name.c_str(),
                  Number(v[1]));
            break;
        }
    }
}

ComPtr<IMessage> OpenMessage(IMAPIFolder* folder, const SBinary& id)
{
    ULONG type = 0;
    ComPtr<IUnknown> object;
    ComPtr<IMessage> message;
    if (SUCCEEDED(folder->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS, &type,
                                    object.GetAddressOf())) &&
        type == MAPI_MESSAGE)
        object->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf()));
    return message;
}

// One message of each body kind, looked for through the folder tree, and
// the folder that holds the most kinds.
struct SBodySamples {
    ComPtr<IMessage> messages[kBodyKindCount];
    std::wstring folderNames[kBodyKindCount];
    ULONG attachments[kBodyKindCount] = {};
    ComPtr<IMAPIFolder> richestFolder;
    std::wstring richestName;
    size_t richestKinds = 0;
};

void FindBodySamples(IMAPIFolder* folder, const std::wstring& name, int depth, SBodySamples& samples)
{
    if (samples.richestKinds == kBodyKindCount)
        return;
    ComPtr<IMAPITable> contents;
    if (SUCCEEDED(folder->GetContentsTable(0, contents.GetAddressOf()))) {
        Rows rows = QueryAll(contents.Get(), {PR_ENTRYID}, static_cast<LONG>(kMessagesLookedAt));
        std::set<int> kinds;
        for (ULONG r = 0; rows && r < rows->cRows; ++r) {
            if (PROP_TYPE(rows->aRow[r].lpProps[0].ulPropTag) != PT_BINARY)
                continue;
            ComPtr<IMessage> message = OpenMessage(folder, rows->aRow[r].lpProps[0].Value.bin);
            if (!message)
                continue;
            const EBodyKind kind = BodyKindOf(message.Get());
            if (kind == kNoBody)
                continue;
            kinds.insert(kind);
            // A message with attachments shows more than one without.
            const ULONG attachments = AttachmentCount(message.Get());
            if (!samples.messages[kind] || attachments > samples.attachments[kind]) {
                samples.messages[kind] = message;
                samples.folderNames[kind] = name;
                samples.attachments[kind] = attachments;
            }
        }
        if (kinds.size() > samples.richestKinds) {
            samples.richestKinds = kinds.size();
            samples.richestFolder = folder;
            samples.richestName = name;
        }
    }
    if (depth >= kMaxDepth)
        return;
    ComPtr<IMAPITable> children;
    if (FAILED(folder->GetHierarchyTable(0, children.GetAddressOf())))
        return;
    Rows rows = QueryAll(children.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        if (PROP_TYPE(rows->aRow[r].lpProps[1].ulPropTag) != PT_BINARY)
            continue;
        ComPtr<IMAPIFolder> child = OpenFolder(folder, rows->aRow[r].lpProps[1].Value.bin, depth + 1);
        if (child)
            FindBodySamples(child.Get(), Text(rows->aRow[r].lpProps[0]), depth + 1, samples);
    }
}

void PrintBodySamples(const SBodySamples& samples)
{
    Print(L"\nOne message of each body kind\n");
    for (int kind = 0; kind < kBodyKindCount; ++kind) {
        if (!samples.messages[kind]) {
            Print(L"\n- %s: none in this store\n", kBodyKindNames[kind]);
            continue;
        }
        Print(L"\n- %s (in \"%s\")\n", kBodyKindNames[kind], samples.folderNames[kind].c_str());
        PrintMessage(samples.messages[kind].Get(), 2);
    }
}

// The writable store's IPM subtree.
ComPtr<IMAPIFolder> WritableSubtree(IMsgStore* writable)
{
    SizedSPropTagArray(1, tags) = {1, {PR_IPM_SUBTREE_ENTRYID}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    ComPtr<IMAPIFolder> subtree;
    if (FAILED(writable->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &raw)) || !raw)
        return subtree;
    std::unique_ptr<SPropValue, decltype(&MAPIFreeBuffer)> value(raw, &MAPIFreeBuffer);
    if (PROP_TYPE(raw->ulPropTag) != PT_BINARY)
        return subtree;
    ULONG type = 0;
    ComPtr<IUnknown> object;
    if (SUCCEEDED(writable->OpenEntry(raw->Value.bin.cb, reinterpret_cast<LPENTRYID>(raw->Value.bin.lpb), nullptr,
                                      MAPI_MODIFY, &type, object.GetAddressOf())))
        object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(subtree.GetAddressOf()));
    return subtree;
}

// What a copied folder holds: its messages with their kinds, recipients
// and attachments, then its sub-folders.
void PrintArrived(IMAPIFolder* folder, int depth)
{
    ComPtr<IMAPITable> contents;
    HRESULT hr = folder->GetContentsTable(0, contents.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::GetContentsTable", hr, folder);
        return;
    }
    Rows rows = QueryAll(contents.Get(), {PR_SUBJECT_W, PR_ENTRYID, PR_MESSAGE_SIZE});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        ComPtr<IMessage> message = PROP_TYPE(v[1].ulPropTag) == PT_BINARY ? OpenMessage(folder, v[1].Value.bin) : nullptr;
        if (!message) {
            Print(L"%*s- \"%s\" (cannot be opened)\n", depth * 2, L"", Text(v[0]).c_str());
            continue;
        }
        ULONG recipients = 0;
        ComPtr<IMAPITable> table;
        if (SUCCEEDED(message->GetRecipientTable(0, table.GetAddressOf())))
            table->GetRowCount(0, &recipients);
        Print(L"%*s- \"%s\": %s; %lu recipients, %lu attachments, %ld bytes\n", depth * 2, L"", Text(v[0]).c_str(),
              BodiesOf(message.Get()).c_str(), static_cast<unsigned long>(recipients),
              static_cast<unsigned long>(AttachmentCount(message.Get())), Number(v[2]));
    }
    ComPtr<IMAPITable> children;
    if (FAILED(folder->GetHierarchyTable(0, children.GetAddressOf())))
        return;
    Rows folders = QueryAll(children.Get(), {PR_DISPLAY_NAME_W, PR_ENTRYID, PR_CONTENT_COUNT});
    for (ULONG r = 0; folders && r < folders->cRows; ++r) {
        const SPropValue* v = folders->aRow[r].lpProps;
        Print(L"%*s%s (%ld items)\n", depth * 2, L"", Text(v[0]).c_str(), Number(v[2]));
        if (PROP_TYPE(v[1].ulPropTag) != PT_BINARY)
            continue;
        ComPtr<IMAPIFolder> child = OpenFolder(folder, v[1].Value.bin, depth + 1);
        if (child)
            PrintArrived(child.Get(), depth + 1);
    }
}

// Copies a folder of the store, with its sub-folders, into the subsystem's
// writable store and prints what arrived. The writable store lives in a
// profile of its own, made for the copy and deleted after it, so that the
// browsed profile (perhaps one the service's wizard made) stays as it was.
// Copies a folder, with its sub-folders, into the IPM subtree of a writable
// store and prints what arrived.
int CopyInto(IMAPIFolder* source, IMsgStore* writable)
{
    ComPtr<IMAPIFolder> subtree = WritableSubtree(writable);
    if (!subtree) {
        Print(L"  the writable store has no IPM subtree\n");
        return 1;
    }
    // The copy goes through the folder's parent, which copies its child.
    SizedSPropTagArray(2, tags) = {2, {PR_ENTRYID, PR_PARENT_ENTRYID}};
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    HRESULT hr = source->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), MAPI_UNICODE, &count, &raw);
    if (FAILED(hr) || !raw || PROP_TYPE(raw[0].ulPropTag) != PT_BINARY || PROP_TYPE(raw[1].ulPropTag) != PT_BINARY) {
        MAPIFreeBuffer(raw);
        PrintFailure(1, "IMAPIFolder::GetProps", hr, source);
        return 1;
    }
    std::unique_ptr<SPropValue, decltype(&MAPIFreeBuffer)> ids(raw, &MAPIFreeBuffer);
    ComPtr<IMAPIFolder> parent = OpenFolder(source, raw[1].Value.bin, 1);
    if (!parent)
        return 1;
    const DWORD started = GetTickCount();
    hr = parent->CopyFolder(raw[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(raw[0].Value.bin.lpb), nullptr,
                            subtree.Get(), nullptr, 0, nullptr, COPY_SUBFOLDERS);
    if (FAILED(hr)) {
        PrintFailure(1, "IMAPIFolder::CopyFolder", hr, parent.Get());
        return 1;
    }
    Print(L"  copied in %lu ms; the writable store's IPM subtree now holds:\n",
          static_cast<unsigned long>(GetTickCount() - started));
    PrintArrived(subtree.Get(), 2);
    return 0;
}


int CopyIntoWritableStore(IMAPIFolder* source, const std::wstring& name)
{
    Print(L"\nCopying \"%s\" into the MAPI subsystem's writable store\n", name.c_str());
    providertest::CStoreProfile profile(L"VostrelMainJobCopy");
    MAPIUID service = {};
    HRESULT hr = profile.AddWritableStore(&service);
    ComPtr<IMAPISession> session;
    if (SUCCEEDED(hr))
        hr = profile.Logon(session.GetAddressOf());
    ComPtr<IMsgStore> writable;
    if (SUCCEEDED(hr))
        hr = providertest::OpenStoreOf(session.Get(), service, writable.GetAddressOf());
    int result = 1;
    if (FAILED(hr))
        Print(L"  the writable store could not be opened: 0x%08lX\n", static_cast<unsigned long>(hr));
    else
        result = CopyInto(source, writable.Get());
    writable.Reset();
    if (session)
        session->Logoff(0, 0, 0);
    return result;
}

// Whether the database holds public folders only, as the wizard finds out:
// a database without a mailbox table.
bool IsPublicFolderStore(const std::wstring& database, const std::wstring& logs)
{
    ComPtr<IEseInstance> instance;
    if (FAILED(CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                reinterpret_cast<void**>(instance.GetAddressOf()))))
        return false;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring work = std::wstring(temp) + L"VostrelMapiBrowse";
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring path = database;
    std::wstring logPath = logs.empty() ? database.substr(0, database.find_last_of(L'\\')) : logs;
    ComPtr<IEseStore> store;
    if (FAILED(instance->Init(4096, &work[0], &work[0])) || FAILED(instance->OpenStore(&path[0], &logPath[0], &store)))
        return false;
    ComPtr<IEseTable> mailboxes;
    return store->GetMailboxesTable(0, nullptr, 1, &mailboxes) == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

int BrowseStore(IMAPISession* session, const MAPIUID& service, bool publicFoldersOnly);

int Browse(const std::wstring& database, const std::wstring& logs)
{
    providertest::SStoreSettings settings;
    settings.databasePath = database;
    settings.logFolder = logs;
    settings.publicFoldersOnly = IsPublicFolderStore(database, logs);

    providertest::CStoreProfile profile(L"VostrelMainJob");
    MAPIUID service = {};
    HRESULT hr = profile.AddStore(settings, &service);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the profile could not be made: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ComPtr<IMAPISession> session;
    hr = profile.Logon(session.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "MAPILogonEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    return BrowseStore(session.Get(), service, settings.publicFoldersOnly);
}

// The store of this provider in a profile the service's wizard made.
int BrowseProfile(const std::wstring& name)
{
    ComPtr<IMAPISession> session;
    HRESULT hr = MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name.c_str())), nullptr,
                             MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "MAPILogonEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ComPtr<IMAPITable> stores;
    Rows rows;
    if (SUCCEEDED(session->GetMsgStoresTable(0, stores.GetAddressOf())))
        rows = QueryAll(stores.Get(), {PR_MDB_PROVIDER, PR_SERVICE_UID});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* values = rows->aRow[r].lpProps;
        if (values[0].ulPropTag != PR_MDB_PROVIDER || values[0].Value.bin.cb != sizeof(kProviderUid.ab) ||
            memcmp(values[0].Value.bin.lpb, kProviderUid.ab, sizeof(kProviderUid.ab)) != 0 ||
            values[1].ulPropTag != PR_SERVICE_UID || values[1].Value.bin.cb != sizeof(MAPIUID))
            continue;
        MAPIUID service;
        memcpy(service.ab, values[1].Value.bin.lpb, sizeof(service.ab));
        LONG publicFoldersOnly = 0;
        CStoreConfig().GetPublicFoldersOnly(service, publicFoldersOnly);
        return BrowseStore(session.Get(), service, publicFoldersOnly != 0);
    }
    std::fprintf(stderr, "the profile holds no store of the provider\n");
    session->Logoff(0, 0, 0);
    return 1;
}

int BrowseStore(IMAPISession* session, const MAPIUID& service, bool publicFoldersOnly)
{
    ComPtr<IMsgStore> store;
    HRESULT hr = providertest::OpenStoreOf(session, service, store.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "the store could not be opened: 0x%08lX\n", static_cast<unsigned long>(hr));
        session->Logoff(0, 0, 0);
        return 1;
    }

    SizedSPropTagArray(2, storeTags) = {2, {PR_DISPLAY_NAME_W, PR_IPM_SUBTREE_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = store->GetProps(reinterpret_cast<LPSPropTagArray>(&storeTags), MAPI_UNICODE, &count, &values);
    int result = 1;
    if (SUCCEEDED(hr) && PROP_TYPE(values[1].ulPropTag) == PT_BINARY) {
        Print(L"%s%s\n", Text(values[0]).c_str(), publicFoldersOnly ? L", public folders" : L"");
        ULONG type = 0;
        ComPtr<IUnknown> object;
        hr = store->OpenEntry(values[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[1].Value.bin.lpb), nullptr,
                              MAPI_BEST_ACCESS, &type, object.GetAddressOf());
        ComPtr<IMAPIFolder> ipm;
        if (SUCCEEDED(hr))
            object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(ipm.GetAddressOf()));
        if (ipm) {
            Print(L"IPM subtree\n");
            PrintTree(ipm.Get(), 1);
            result = 0;
            SBodySamples samples;
            FindBodySamples(ipm.Get(), L"IPM subtree", 0, samples);
            PrintBodySamples(samples);
            if (samples.richestFolder)
                result = CopyIntoWritableStore(samples.richestFolder.Get(), samples.richestName);
        } else {
            PrintFailure(0, "IMsgStore::OpenEntry", hr, store.Get());
        }
    } else {
        PrintFailure(0, "IMsgStore::GetProps", hr, store.Get());
    }
    MAPIFreeBuffer(values);
    store.Reset();
    session->Logoff(0, 0, 0);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool existingProfile = argc == 3 && std::wstring(argv[1]) == L"--profile";
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: VostrelMapiBrowse <database.edb> [log folder]\n"
                             "       VostrelMapiBrowse --profile <profile name>\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "COM could not be initialised\n");
        return 1;
    }
    int result = 1;
    if (FAILED(MAPIInitialize(nullptr))) {
        std::fprintf(stderr, "MAPI could not be initialised\n");
    } else {
        // This program writes the store's settings file where the provider
        // reads it: in the data folder the resource library names.
        SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
        result = existingProfile ? BrowseProfile(argv[2]) : Browse(argv[1], argc == 3 ? argv[2] : L"");
        MAPIUninitialize();
    }
    CoUninitialize();
    return result;
}
