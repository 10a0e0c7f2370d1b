#include "ProviderPlatform.h"
#include "CMessage.h"
#include "CAttach.h"
#include "CStoreShared.h"
#include "CTable.h"
#include "ComErrorRaise.h"
#include "EseValueConversion.h"
#include "MapiPtr.h"
#include "MessageBodies.h"
#include "MimeMessage.h"
#include "PropAnswers.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"
#include "RecipientRecords.h"
#include "ServerObjectNames.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr HRESULT kNotFoundOnServer = 0x80070002;
constexpr ULONG kAllRows = 0x7FFFFFFF;
// Without STORE_HTML_OK: while a copy runs, the copy takes the bodies a
// store without HTML takes.
constexpr ULONG kCopyingSupportMask = 0x00040B67;
constexpr ULONG kPrInternetMessageIdW = 0x1035001F;
constexpr ULONG kPrInternetReferencesW = 0x1039001F;
constexpr ULONG kPrStoreUnicodeMask = 0x340F0003;

const ULONG kFixedPropList[] = {0x0E13000D, 0x0E12000D, 0x340F0003, 0x340D0003, 0x34140102, 0x0FF90102, 0x0FFF0102,
                                0x0FFB0102, 0x0FF80102, 0x0FFA0102, 0x0E090102, 0x0FF40003, 0x0FF70003, 0x0FFE0003};
// What a store of version 2010 lists beyond the server's tags.
const ULONG kPropList2010[] = {0x0C1A001F, 0x3001001F, 0x0037001F};

// The attachment table's columns, and the same columns in the order the
// server is asked for them.
constexpr ULONG kAttachmentColumnCount = 33;
SizedSPropTagArray(kAttachmentColumnCount, kAttachmentColumns) = {
    kAttachmentColumnCount,
    {0x0FF90102, 0x0E210003, 0x0FF60102, 0x370B0003, 0x3708001F, 0x370D001F, 0x30070040, 0x370C001F, 0x30080040,
     0x37020102, 0x3703001F, 0x3704001F, 0x3707001F, 0x37050003, 0x370A0102, 0x3001001F, 0x7FFF000B, 0x37140003,
     0x7FFE000B, 0x7FFA0003, 0x3712001F, 0x370E001F, 0x0E200003, 0x7FFC0040, 0x7FFB0040, 0x7FF90040, 0x370F0102,
     0x3711001F, 0x3713001F, 0x7FFD0003, 0x3719001F, 0x371A001F, 0x69090003}};
const ULONG kAttachmentServerColumns[kAttachmentColumnCount] = {
    0x0FF90102, 0x0E210003, 0x0FF60102, 0x370B0003, 0x3708001F, 0x370D001F, 0x30070040, 0x370C001F, 0x30080040,
    0x37020102, 0x3703001F, 0x3704001F, 0x3707001F, 0x37050003, 0x370A0102, 0x3001001F, 0x7FFF000B, 0x37140003,
    0x7FFE000B, 0x7FFA0003, 0x3712001F, 0x370E001F, 0x0E200003, 0x7FFC0040, 0x7FFB0040, 0x370F0102, 0x3711001F,
    0x3713001F, 0x7FFD0003, 0x7FF90040, 0x3719001F, 0x371A001F, 0x69090003};

HRESULT FillSupportMask(const CMessage& m, SPropValue& v, LPVOID)
{
    v.Value.l = static_cast<LONG>(m.IsCopying() ? kCopyingSupportMask : kStoreSupportMask);
    return S_OK;
}

const SPropHandler<CMessage> kMessageProps[] = {
    {PR_OBJECT_TYPE, &FixedLong<CMessage, MAPI_MESSAGE>},
    {PR_ENTRYID, &OwnIdValue<CMessage>},
    {PR_RECORD_KEY, &OwnIdValue<CMessage>},
    {PR_PARENT_ENTRYID, &ParentIdValue<CMessage>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<CMessage>},
    {PR_STORE_RECORD_KEY, &StoreUidValue<CMessage>},
    {PR_MAPPING_SIGNATURE, &MappingSignatureValue<CMessage>},
    {PR_MDB_PROVIDER, &ProviderUidValue<CMessage>},
    {PR_ACCESS, &FixedLong<CMessage, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<CMessage, 0>},
    {PR_NULL, &FixedLong<CMessage, 0>},
    {PR_MESSAGE_ATTACHMENTS, &FixedLong<CMessage, 0>},
    {PR_MESSAGE_RECIPIENTS, &FixedLong<CMessage, 0>},
    {PR_STORE_SUPPORT_MASK, &FillSupportMask},
    {kPrStoreUnicodeMask, &FillSupportMask},
};

// A failed server call whose failure is an answer (no such property) leaves
// the server's error object on the thread; it is dropped so that no later
// failure is reported with its text.
void ForgetServerError()
{
    SetErrorInfo(0, nullptr);
}

// The value bytes of a 4-byte index, as rows without a key of their own
// are keyed.
HRESULT FillIndexKey(SPropValue& value, ULONG tag, ULONG index, LPVOID parent)
{
    value.ulPropTag = tag;
    value.dwAlignPad = 0;
    return FillBinary(value, parent, &index, sizeof(index));
}

// Whether a value of the MIME message says its property is there (a
// value, or too large to be handed out).
bool HeldByMimeMessage(const SPropValue& value)
{
    if (PROP_TYPE(value.ulPropTag) != PT_ERROR)
        return true;
    return value.Value.err == E_OUTOFMEMORY || value.Value.err == MAPI_E_NOT_ENOUGH_MEMORY;
}

} // namespace

HRESULT CMessage::Create(CServerCookie messageCookie, const CEntryId& ownId, const CEntryId& parentId,
                         const CEntryId& storeId, CMessage** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CMessage* message = new (std::nothrow) CMessage(std::move(messageCookie), ownId, parentId, storeId);
    if (!message)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = message;
    return S_OK;
}

CMessage::CMessage(CServerCookie messageCookie, const CEntryId& ownId, const CEntryId& parentId,
                   const CEntryId& storeId)
    : m_ownId(ownId),
      m_parentId(parentId),
      m_storeId(storeId),
      m_messageCookie(std::move(messageCookie)),
      m_creationTick(GetTickCount())
{
}

CMessage::~CMessage() = default;

ComPtr<IEseMessage> CMessage::ServerMessage() const
{
    return FetchServer<IEseMessage>(m_messageCookie.Get());
}

ComPtr<IMessage> CMessage::MimeMessage()
{
    CCriticalSectionLock lock(m_mimeLock);
    return m_mimeMessage;
}

bool CMessage::LoadFromMime()
{
    CCriticalSectionLock lock(m_mimeLock);
    if (m_mimeMessage)
        return true;
    ComPtr<IEseMessage> message = ServerMessage();
    ComPtr<IStream> mime;
    if (FAILED(message->OpenProperty(kMimeTextTag, mime.GetAddressOf())) || !mime) {
        ForgetServerError();
        return false;
    }
    const SMapiMemory memory = ProviderMapiMemory();
    SMessageAllocators allocators;
    allocators.allocateBuffer = memory.allocateBuffer;
    allocators.allocateMore = memory.allocateMore;
    allocators.freeBuffer = memory.freeBuffer;
    allocators.malloc = memory.malloc ? memory.malloc : MAPIGetDefaultMalloc();
    ComPtr<IMessage> made;
    const HRESULT hr = MessageFromMime(mime.Get(), allocators, made.GetAddressOf());
    if (FAILED(hr)) {
        // A message that could not be converted stays as far as it came;
        // the log says why its content may be missing.
        std::wstring text;
        if (FormatWide(text, L"The MIME text of a message could not be converted.  HRESULT 0x%08x.",
                       static_cast<unsigned>(hr)))
            WriteLogLine(m_lastError.LogPath(), text.c_str());
    }
    m_mimeMessage = made;
    return m_mimeMessage != nullptr;
}

HRESULT CMessage::FillDisplayRecipients(IEseProperty* message, const SDisplayPositions& positions, SPropValue* values,
                                        LPVOID parent)
{
    if (!message || !values)
        return E_INVALIDARG;
    CServerBytes packed;
    // Without the record (or when it cannot be read) the slots stay as the
    // server gave them.
    if (FAILED(message->GetProperty(kPackedRecipientsTag, &packed.count, &packed.bytes))) {
        ForgetServerError();
        return S_OK;
    }
    const SRecipientRecords records =
        ReadRecipientRecords(packed.bytes, packed.count, kDisplayRecipientsDumpPrefix, m_lastError.LogPath());
    return StoreDisplayRecipients(CollectDisplayRecipients(records.records), positions, values, parent);
}

HRESULT CMessage::SynthesizeSenderIds(IEseProperty* message, const SSenderPositions& sentRepresenting,
                                      const SSenderPositions& sender, SPropValue* values, LPVOID parent)
{
    if (!message || !values)
        return E_INVALIDARG;
    SSenderSource source;
    source.text = [message](ULONG tag, std::wstring& text) -> HRESULT {
        CServerValues read;
        HRESULT hr = message->GetProperties(1, &tag, &read.count, &read.values);
        if (FAILED(hr)) {
            ForgetServerError();
            return hr;
        }
        const _SEsePropertyValue* value = read.At(0);
        if (!value || PROP_TYPE(value->m_tag) != PT_UNICODE || !value->m_value.m_p_ws)
            return MAPI_E_NOT_FOUND;
        text = value->m_value.m_p_ws;
        return S_OK;
    };
    source.bytes = [message](ULONG tag, std::vector<BYTE>& bytes) -> HRESULT {
        CServerBytes raw;
        HRESULT hr = message->GetProperty(tag, &raw.count, &raw.bytes);
        if (FAILED(hr)) {
            ForgetServerError();
            return hr;
        }
        bytes.assign(raw.bytes, raw.bytes + (raw.bytes ? raw.count : 0));
        return S_OK;
    };
    return SynthesizeSenderValues(values, sentRepresenting, sender, source, parent, m_lastError.LogPath());
}

bool CMessage::ReadAnsiBody(IEseMessage* message, std::wstring& text)
{
    // Any failure on the way leaves the body to the caller's stream, which
    // OpenProperty serves; it never fails the other properties.
    ComPtr<IStream> stream;
    if (FAILED(message->OpenProperty(kPrBodyW, stream.GetAddressOf())) || !stream) {
        ForgetServerError();
        return false;
    }
    std::vector<BYTE> bytes;
    if (FAILED(ReadStreamBytes(stream.Get(), kBodyTestBytes, bytes)) ||
        IsUnicodeText(bytes.data(), static_cast<ULONG>(bytes.size())))
        return false;
    if (FAILED(ReadStreamBytes(stream.Get(), 0, bytes)))
        return false;
    text = WideFromAnsi(bytes.data(), static_cast<ULONG>(bytes.size()));
    return true;
}

HRESULT CMessage::AnswerFromServer(IEseMessage* message, const SPropTagArray& request,
                                   const std::vector<ULONG>& positions, SPropValue* values)
{
    std::vector<ULONG> tags;
    tags.reserve(positions.size());
    for (ULONG position : positions)
        tags.push_back(request.aulPropTag[position]);
    CServerValues read;
    HRESULT hr = message->GetProperties(static_cast<ULONG>(tags.size()), tags.data(), &read.count, &read.values);
    if (FAILED(hr))
        RaiseComError(hr, message, IID_IEseMessage);

    // Message ids and references of stores before 2010 are ANSI text under
    // the Unicode tag.
    const bool ansiInternetIds = StoreVersionOf(m_ownId) < kStoreVersion2010;
    bool bodyPresent = false;
    std::vector<ULONG> absentBodies;
    SDisplayPositions display;
    SSenderPositions sentRepresenting;
    SSenderPositions sender;
    for (size_t i = 0; i < positions.size(); ++i) {
        const ULONG tag = tags[i];
        const int position = static_cast<int>(positions[i]);
        SPropValue& value = values[position];
        const _SEsePropertyValue* server = read.At(static_cast<ULONG>(i));
        NoteDisplayTag(tag, position, display);
        NoteSenderTag(tag, position, sentRepresenting, sender);

        if (IsBodyTag(tag)) {
            if (!server || !IsPresentServerValue(*server)) {
                SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
                absentBodies.push_back(positions[i]);
                continue;
            }
            bodyPresent = true;
            if (tag == kPrBodyW) {
                // A body kept in the ANSI code page is handed out as text.
                std::wstring text;
                bool converted = false;
                if (PROP_TYPE(server->m_tag) == PT_UNICODE) {
                    const wchar_t* stored = server->m_value.m_p_ws;
                    converted = !IsUnicodeText(stored, WideByteCount(stored));
                    if (converted)
                        text = WideFromAnsi(stored, WideByteCount(stored));
                } else if (IsTooLargeServerValue(*server)) {
                    converted = ReadAnsiBody(message, text);
                }
                if (converted) {
                    value.ulPropTag = tag;
                    hr = FillString(value, values, text.c_str());
                    if (FAILED(hr))
                        return hr;
                    continue;
                }
            }
            // Every other body is read as a stream.
            SetErrorValue(value, tag, E_OUTOFMEMORY);
            continue;
        }
        if (!server) {
            SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
            continue;
        }
        if (PROP_TYPE(server->m_tag) == PT_NULL && tag != PR_NULL) {
            SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
            continue;
        }
        if (ansiInternetIds && (tag == kPrInternetMessageIdW || tag == kPrInternetReferencesW) &&
            PROP_TYPE(server->m_tag) == PT_UNICODE && server->m_value.m_p_ws) {
            const wchar_t* stored = server->m_value.m_p_ws;
            value.ulPropTag = tag;
            value.dwAlignPad = 0;
            hr = FillString(value, values, WideFromAnsi(stored, WideByteCount(stored)).c_str());
            if (FAILED(hr))
                return hr;
            continue;
        }
        hr = ConvertEseValue(&value, server, values);
        if (hr == MAPI_E_NOT_ENOUGH_MEMORY)
            return hr;
    }

    if (sentRepresenting.Any() || sender.Any()) {
        hr = SynthesizeSenderIds(message, sentRepresenting, sender, values, values);
        // What could not be made stays PT_ERROR: a warning, not a failure.
        if (FAILED(hr) && hr != MAPI_E_NOT_FOUND)
            return hr;
    }
    if (display.to >= 0 || display.cc >= 0 || display.bcc >= 0) {
        hr = FillDisplayRecipients(message, display, values, values);
        if (FAILED(hr))
            return hr;
    }
    if (!bodyPresent && !absentBodies.empty() && LoadFromMime())
        return MarkMimeBodies(request, absentBodies, values);
    return S_OK;
}

HRESULT CMessage::MarkMimeBodies(const SPropTagArray& request, const std::vector<ULONG>& positions,
                                 SPropValue* values)
{
    ComPtr<IMessage> mime = MimeMessage();
    if (!mime)
        return S_OK;
    std::vector<ULONG> block(positions.size() + 1);
    block[0] = static_cast<ULONG>(positions.size());
    for (size_t i = 0; i < positions.size(); ++i)
        block[i + 1] = request.aulPropTag[positions[i]];
    ULONG count = 0;
    LPSPropValue raw = nullptr;
    HRESULT hr = mime->GetProps(reinterpret_cast<LPSPropTagArray>(block.data()), MAPI_UNICODE, &count, &raw);
    MapiPtr<SPropValue> held(raw);
    if (FAILED(hr) || !held)
        return S_OK;
    // Each body the MIME message holds is read from it as a stream.
    for (size_t i = 0; i < positions.size() && i < count; ++i) {
        if (HeldByMimeMessage(held.get()[i]))
            SetErrorValue(values[positions[i]], block[i + 1], E_OUTOFMEMORY);
    }
    return S_OK;
}

STDMETHODIMP CMessage::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CMessage::GetProps", [&]() -> HRESULT {
        return ServeGetProps(*this, kMessageProps, lpPropTagArray, lpcValues, lppPropArray,
                             [&](const std::vector<ULONG>& positions, SPropValue* values) {
                                 return AnswerFromServer(ServerMessage().Get(), *lpPropTagArray, positions, values);
                             });
    });
}

STDMETHODIMP CMessage::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CMessage::GetPropList", [&]() -> HRESULT {
        if (!lppPropTagArray)
            return E_INVALIDARG;
        *lppPropTagArray = nullptr;
        ComPtr<IEseMessage> message = ServerMessage();
        CServerTags server;
        HRESULT hr = message->GetPropertyTags(&server.count, &server.tags);
        if (FAILED(hr))
            RaiseComError(hr, message.Get(), IID_IEseMessage);
        std::vector<ULONG> tags(std::begin(kFixedPropList), std::end(kFixedPropList));
        if (server.tags)
            tags.insert(tags.end(), server.tags, server.tags + server.count);
        if (StoreVersionOf(m_ownId) == kStoreVersion2010)
            tags.insert(tags.end(), std::begin(kPropList2010), std::end(kPropList2010));

        // A message held as MIME has its bodies there, not on the server:
        // they are listed, so that copies take them.
        const auto listed = [&](ULONG tag) {
            return std::any_of(tags.begin(), tags.end(), [tag](ULONG t) { return PROP_ID(t) == PROP_ID(tag); });
        };
        if (listed(kMimeTextTag) && !listed(kPrBodyW) && !listed(kPrHtml) && !listed(kPrRtfCompressed) &&
            LoadFromMime()) {
            SizedSPropTagArray(3, bodies) = {3, {kPrBodyW, kPrHtml, kPrRtfCompressed}};
            ULONG count = 0;
            LPSPropValue raw = nullptr;
            ComPtr<IMessage> mime = MimeMessage();
            if (SUCCEEDED(mime->GetProps(reinterpret_cast<LPSPropTagArray>(&bodies), MAPI_UNICODE, &count, &raw))) {
                MapiPtr<SPropValue> held(raw);
                for (ULONG i = 0; held && i < count && i < 3; ++i)
                    if (HeldByMimeMessage(held.get()[i]))
                        tags.push_back(bodies.aulPropTag[i]);
            }
        }

        return HandOutPropList(tags.data(), tags.size(), lppPropTagArray);
    });
}

STDMETHODIMP CMessage::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                    LPUNKNOWN* lppUnk)
{
    return Guard("CMessage::OpenProperty", [&]() -> HRESULT {
        if (!lpiid || !lppUnk)
            return E_INVALIDARG;
        *lppUnk = nullptr;
        if (ulFlags & (MAPI_MODIFY | MAPI_CREATE))
            return E_ACCESSDENIED;
        if (ulPropTag == PR_MESSAGE_RECIPIENTS || ulPropTag == PR_MESSAGE_ATTACHMENTS)
            return E_NOTIMPL;
        if (!IsEqualIID(*lpiid, IID_IStream))
            return E_NOINTERFACE;
        ComPtr<IEseMessage> message = ServerMessage();
        ComPtr<IStream> stream;
        HRESULT hr = message->OpenProperty(ulPropTag, stream.GetAddressOf());
        if (FAILED(hr) || !stream) {
            // Taken before the MIME text is looked for, which replaces the
            // thread's error object.
            const _com_error error = ComErrorFrom(FAILED(hr) ? hr : E_UNEXPECTED, message.Get(), IID_IEseMessage);
            if (hr == kNotFoundOnServer && LoadFromMime())
                return MimeMessage()->OpenProperty(ulPropTag, lpiid, ulInterfaceOptions, ulFlags, lppUnk);
            m_lastError.SetFromComError("CMessage::OpenProperty", error);
            return hr == kNotFoundOnServer ? MAPI_E_NOT_FOUND : MAPI_E_EXTENDED_ERROR;
        }
        if (ulPropTag == kPrBodyW) {
            // A body kept in the ANSI code page is handed out as UTF-16, as
            // GetProps hands it out, converted piece by piece; a Unicode one
            // is the server's stream itself. Only the body's beginning is
            // read to tell them apart.
            std::vector<BYTE> head;
            hr = ReadStreamBytes(stream.Get(), kBodyTestBytes, head);
            if (FAILED(hr))
                return hr;
            if (!IsUnicodeText(head.data(), static_cast<ULONG>(head.size()))) {
                ComPtr<IStream> wide;
                hr = WideStreamFromAnsi(head, stream.Get(), wide.GetAddressOf());
                if (FAILED(hr))
                    return hr;
                stream = wide;
            } else {
                LARGE_INTEGER start = {};
                if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) {
                    stream.Reset();
                    hr = message->OpenProperty(ulPropTag, stream.GetAddressOf());
                    if (FAILED(hr) || !stream)
                        RaiseComError(FAILED(hr) ? hr : E_UNEXPECTED, message.Get(), IID_IEseMessage);
                }
            }
        }
        STATSTG stat = {};
        stream->Stat(&stat, STATFLAG_NONAME);
        *lppUnk = stream.Detach();
        return S_OK;
    });
}

STDMETHODIMP CMessage::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                              ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                              ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return CopyThroughSupport("CMessage::CopyTo", m_storeId, [&](IMAPISupport* support) -> HRESULT {
        HRESULT hr;
        {
            struct CCopyingFlag {
                explicit CCopyingFlag(volatile LONG& flag) : m_flag(flag) { InterlockedExchange(&m_flag, 1); }
                ~CCopyingFlag() { InterlockedExchange(&m_flag, 0); }
                volatile LONG& m_flag;
            } copying(m_copying);
            hr = CallOutGuarded([&] {
                return support->DoCopyTo(&IID_IMessage, static_cast<IMessage*>(this), ciidExclude, rgiidExclude,
                                         lpExcludeProps, ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags,
                                         lppProblems);
            });
        }
        if (FAILED(hr))
            return hr;

        // The copy's bodies are brought in step, and an unsent copy gets
        // the (empty) RTF body a client expects of a draft.
        ComPtr<IMessage> destination;
        if (!lpDestObj || FAILED(static_cast<IUnknown*>(lpDestObj)->QueryInterface(
                              IID_IMessage, reinterpret_cast<void**>(destination.GetAddressOf()))))
            return hr;
        BOOL updated = FALSE;
        hr = RTFSync(destination.Get(), RTF_SYNC_RTF_CHANGED | RTF_SYNC_BODY_CHANGED, &updated);
        LPSPropValue raw = nullptr;
        if (SUCCEEDED(HrGetOneProp(destination.Get(), PR_MESSAGE_FLAGS, &raw))) {
            SubsystemPtr<SPropValue> flags(raw);
            if (flags->Value.l & MSGFLAG_UNSENT) {
                LPSPropValue rtf = nullptr;
                const HRESULT present = HrGetOneProp(destination.Get(), PR_RTF_COMPRESSED, &rtf);
                SubsystemPtr<SPropValue> rtfValue(rtf);
                if (present == MAPI_E_NOT_FOUND) {
                    SPropValue empty = {};
                    empty.ulPropTag = PR_RTF_COMPRESSED;
                    HrSetOneProp(destination.Get(), &empty);
                }
            }
        }
        return hr;
    });
}

STDMETHODIMP CMessage::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                 LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return CopyThroughSupport("CMessage::CopyProps", m_storeId, [&](IMAPISupport* support) {
        return CallOutGuarded([&] {
            return support->DoCopyProps(&IID_IMessage, static_cast<IMessage*>(this), lpIncludeProps, ulUIParam,
                                        lpProgress, lpInterface, lpDestObj, ulFlags, lppProblems);
        });
    });
}

STDMETHODIMP CMessage::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                       ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return Guard("CMessage::GetNamesFromIDs", [&]() -> HRESULT {
        return GetNamesFromIDsOfServerObject<IEseMessage>(m_messageCookie.Get(), m_storeId, lppPropTags,
                                                          lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CMessage::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                       LPSPropTagArray* lppPropTags)
{
    return Guard("CMessage::GetIDsFromNames", [&]() -> HRESULT {
        return GetIDsFromNamesOfServerObject<IEseMessage>(m_messageCookie.Get(), m_storeId, cPropNames,
                                                          lppPropNames, ulFlags, lppPropTags);
    });
}

HRESULT CMessage::EmptyAttachmentTable(LPMAPITABLE* lppTable)
{
    ComPtr<ITableData> data;
    HRESULT hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY,
                                     reinterpret_cast<const SPropTagArray*>(&kAttachmentColumns), data);
    if (FAILED(hr))
        return hr;
    return HandOutView(data.Get(), 3, lppTable);
}

STDMETHODIMP CMessage::GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return Guard("CMessage::GetAttachmentTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        ComPtr<IEseMessage> message = ServerMessage();
        ComPtr<IEseTable> attachments;
        HRESULT hr = message->GetAttachmentsTable(attachments.GetAddressOf());
        if (hr == kNotFoundOnServer) {
            ForgetServerError();
            if (LoadFromMime())
                return MimeMessage()->GetAttachmentTable(ulFlags, lppTable);
            // The server keeps no attachment list for a message without
            // attachments: its table is empty.
            return EmptyAttachmentTable(lppTable);
        }
        if (FAILED(hr) || !attachments)
            RaiseComError(FAILED(hr) ? hr : E_UNEXPECTED, message.Get(), IID_IEseMessage);

        ComPtr<ITableData> data;
        hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY,
                                 reinterpret_cast<const SPropTagArray*>(&kAttachmentColumns), data);
        if (FAILED(hr))
            return hr;
        std::vector<ULONG> columns(kAttachmentServerColumns, kAttachmentServerColumns + kAttachmentColumnCount);
        hr = attachments->SetColumns(kAttachmentColumnCount, columns.data());
        if (FAILED(hr))
            RaiseComError(hr, attachments.Get(), IID_IEseTable);
        CServerRows server;
        hr = attachments->GetRows(kAllRows, 1, &server.count, &server.rows);
        if (FAILED(hr))
            RaiseComError(hr, attachments.Get(), IID_IEseTable);
        const ULONG rowCount = server.rows ? server.count : 0;
        for (ULONG i = 0; i < rowCount; ++i) {
            const _SEseRow& row = server.rows[i];
            MapiPtr<SPropValue> values =
                MapiAllocate<SPropValue>(sizeof(SPropValue) * kAttachmentColumnCount, hr);
            if (!values)
                return hr;
            SPropValue* v = values.get();
            const ULONG given = row.m_p_values ? std::min(row.m_valueCount, kAttachmentColumnCount) : 0;
            if (given) {
                _SEseRow part = {given, row.m_p_values};
                ConvertEseRow(v, part, 0, v);
            }
            for (ULONG c = given; c < kAttachmentColumnCount; ++c)
                SetErrorValue(v[c], kAttachmentServerColumns[c], MAPI_E_NOT_FOUND);
            // Rows without keys of their own are keyed and numbered by
            // their place, the number OpenAttach takes.
            if (PROP_TYPE(v[0].ulPropTag) == PT_ERROR && FAILED(hr = FillIndexKey(v[0], PR_RECORD_KEY, i, v)))
                return hr;
            if (PROP_TYPE(v[1].ulPropTag) == PT_ERROR) {
                v[1].ulPropTag = PR_ATTACH_NUM;
                v[1].Value.l = static_cast<LONG>(i);
            }
            if (PROP_TYPE(v[2].ulPropTag) == PT_ERROR && FAILED(hr = FillIndexKey(v[2], PR_INSTANCE_KEY, i, v)))
                return hr;
            SRow mapiRow = {0, kAttachmentColumnCount, v};
            hr = data->HrInsertRow(i, &mapiRow);
            if (FAILED(hr))
                return hr;
        }
        return HandOutView(data.Get(), 3, lppTable);
    });
}

STDMETHODIMP CMessage::OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach)
{
    return Guard("CMessage::OpenAttach", [&]() -> HRESULT {
        if (!lppAttach)
            return E_INVALIDARG;
        *lppAttach = nullptr;
        if (ulFlags & MAPI_MODIFY)
            return E_ACCESSDENIED;
        ComPtr<IEseMessage> message = ServerMessage();
        ComPtr<IEseMessage> attachment;
        HRESULT hr = message->GetAttachmentByNumber(ulAttachmentNum, 0, attachment.GetAddressOf());
        if (FAILED(hr) || !attachment) {
            const _com_error error = ComErrorFrom(FAILED(hr) ? hr : E_UNEXPECTED, message.Get(), IID_IEseMessage);
            if (hr == kNotFoundOnServer && LoadFromMime())
                return MimeMessage()->OpenAttach(ulAttachmentNum, lpInterface, ulFlags, lppAttach);
            throw error;
        }
        CServerCookie cookie = CServerCookie::Register(attachment.Get(), IID_IEseMessage);
        return CAttach::Create(std::move(cookie), m_messageCookie.Get(), static_cast<IMessage*>(this),
                               ulAttachmentNum, m_ownId, m_storeId, lppAttach);
    });
}

STDMETHODIMP CMessage::CreateAttach(LPCIID, ULONG, ULONG*, LPATTACH* lppAttach)
{
    m_lastError.SetText(nullptr);
    if (lppAttach)
        *lppAttach = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMessage::DeleteAttach(ULONG, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMessage::GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard("CMessage::GetRecipientTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        ComPtr<IEseMessage> message = ServerMessage();
        CServerBytes packed;
        HRESULT hr = message->GetProperty(kPackedRecipientsTag, &packed.count, &packed.bytes);
        SRecipientRecords records;
        if (hr == kNotFoundOnServer) {
            ForgetServerError();
        } else {
            if (FAILED(hr))
                RaiseComError(hr, message.Get(), IID_IEseMessage);
            records = ReadRecipientRecords(packed.bytes, packed.bytes ? packed.count : 0, kRecipientsDumpPrefix,
                                           m_lastError.LogPath());
        }
        const std::vector<ULONG> columns = RecipientTableColumns(records.extraTags);
        const ULONG columnCount = static_cast<ULONG>(columns.size());
        MapiPtr<SPropTagArray> columnArray = MapiAllocate<SPropTagArray>(CbNewSPropTagArray(columnCount), hr);
        if (!columnArray)
            return hr;
        columnArray->cValues = columnCount;
        std::copy(columns.begin(), columns.end(), columnArray->aulPropTag);
        ComPtr<ITableData> data;
        hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY, columnArray.get(), data);
        if (FAILED(hr))
            return hr;
        ULONG inserted = 0;
        std::set<std::vector<BYTE>> keysInUse;
        for (const SRecipientRecord& record : records.records) {
            MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(sizeof(SPropValue) * columnCount, hr);
            if (!values)
                return hr;
            hr = FillRecipientRow(record, columns, values.get(), values.get(), keysInUse);
            if (FAILED(hr))
                return hr;
            SRow row = {0, columnCount, values.get()};
            hr = data->HrInsertRow(inserted++, &row);
            if (FAILED(hr))
                return hr;
        }
        return HandOutView(data.Get(), 2, lppTable);
    });
}

STDMETHODIMP CMessage::ModifyRecipients(ULONG, LPADRLIST)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMessage::SubmitMessage(ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMessage::SetReadFlag(ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}
