#include "ProviderPlatform.h"
#include "CAttach.h"
#include "CMessage.h"
#include "CStoreShared.h"
#include "ComErrorRaise.h"
#include "EseValueConversion.h"
#include "MapiPtr.h"
#include "PropAnswers.h"
#include "ProviderMemory.h"
#include "ServerObjectNames.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr HRESULT kNotFoundOnServer = 0x80070002;
constexpr ULONG kAttachDataId = 0x3701;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMsgLink = 0x67B00102;

const ULONG kFixedPropList[] = {0x0FF40003, 0x0FF70003, 0x0FF60102, 0x0E210003, 0x340D0003,
                                0x34140102, 0x0FFB0102, 0x0FF80102, 0x0FFA0102, 0x0FFE0003};

const SPropHandler<CAttach> kAttachProps[] = {
    {PR_OBJECT_TYPE, &FixedLong<CAttach, MAPI_ATTACH>},
    {PR_ATTACH_NUM,
     [](const CAttach& a, SPropValue& v, LPVOID) {
         v.Value.l = static_cast<LONG>(a.AttachmentNumber());
         return S_OK;
     }},
    {PR_ACCESS, &FixedLong<CAttach, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<CAttach, 0>},
    {PR_NULL, &FixedLong<CAttach, 0>},
    {PR_STORE_SUPPORT_MASK, &FixedLong<CAttach, kStoreSupportMask>},
    {PR_MDB_PROVIDER, &ProviderUidValue<CAttach>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<CAttach>},
    {PR_STORE_RECORD_KEY,
     [](const CAttach& a, SPropValue& v, LPVOID p) { return FillStoreRecordKey(a.StoreId(), v, p); }},
    {PR_MAPPING_SIGNATURE,
     [](const CAttach& a, SPropValue& v, LPVOID p) { return FillMappingSignature(a.MessageId(), v, p); }},
};

// A server value of an attachment: the data is always read through
// OpenProperty, whether the server could hand it out in a row or not, and
// so is an object.
HRESULT AttachmentValue(SPropValue& value, ULONG tag, const _SEsePropertyValue* server, LPVOID parent)
{
    if (PROP_ID(tag) == kAttachDataId) {
        SetErrorValue(value, tag, E_OUTOFMEMORY);
        return S_OK;
    }
    if (!server || (PROP_TYPE(server->m_tag) == PT_NULL && tag != PR_NULL)) {
        SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
        return S_OK;
    }
    if (PROP_TYPE(server->m_tag) == PT_OBJECT) {
        SetErrorValue(value, tag, E_OUTOFMEMORY);
        return S_OK;
    }
    const HRESULT hr = ConvertEseValue(&value, server, parent);
    return hr == MAPI_E_NOT_ENOUGH_MEMORY ? hr : S_OK;
}

// The attachment method the server keeps (0 when it keeps none).
LONG AttachMethodOf(IEseMessage* attachment)
{
    CServerBytes raw;
    if (FAILED(attachment->GetProperty(PR_ATTACH_METHOD, &raw.count, &raw.bytes)) || !raw.bytes ||
        raw.count < sizeof(LONG)) {
        SetErrorInfo(0, nullptr);
        return 0;
    }
    LONG method = 0;
    std::memcpy(&method, raw.bytes, sizeof(method));
    return method;
}

// A stream the server could not open: recorded, and MAPI_E_NOT_FOUND when
// the property is not there.
HRESULT StreamFailure(CLastError& lastError, const char* method, HRESULT hr, IEseMessage* attachment)
{
    lastError.SetFromComError(method, ComErrorFrom(hr, attachment, IID_IEseMessage));
    return hr == kNotFoundOnServer ? MAPI_E_NOT_FOUND : MAPI_E_EXTENDED_ERROR;
}

} // namespace

HRESULT CAttach::Create(CServerCookie attachmentCookie, DWORD messageCookie, IUnknown* message,
                        ULONG attachmentNumber, const CEntryId& messageId, const CEntryId& storeId, IAttach** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CAttach* attach = new (std::nothrow)
        CAttach(std::move(attachmentCookie), messageCookie, message, attachmentNumber, messageId, storeId);
    if (!attach)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = attach;
    return S_OK;
}

CAttach::CAttach(CServerCookie attachmentCookie, DWORD messageCookie, IUnknown* message, ULONG attachmentNumber,
                 const CEntryId& messageId, const CEntryId& storeId)
    : m_attachmentCookie(std::move(attachmentCookie)),
      m_messageCookie(messageCookie),
      m_message(message),
      m_attachmentNumber(attachmentNumber),
      m_messageId(messageId),
      m_storeId(storeId),
      m_creationTick(GetTickCount())
{
}

CAttach::~CAttach() = default;

ComPtr<IEseMessage> CAttach::ServerAttachment() const
{
    return FetchServer<IEseMessage>(m_attachmentCookie.Get());
}

STDMETHODIMP CAttach::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                               LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CAttach::GetProps", [&]() -> HRESULT {
        return ServeGetProps(*this, kAttachProps, lpPropTagArray, lpcValues, lppPropArray,
                             [&](const std::vector<ULONG>& positions, SPropValue* values) {
                                 return AnswerFromServerObject(ServerAttachment().Get(), IID_IEseMessage,
                                                               *lpPropTagArray, positions, values, &AttachmentValue);
                             });
    });
}

STDMETHODIMP CAttach::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CAttach::GetPropList", [&]() -> HRESULT {
        if (!lppPropTagArray)
            return E_INVALIDARG;
        *lppPropTagArray = nullptr;
        ComPtr<IEseMessage> attachment = ServerAttachment();
        ULONG methodTag = PR_ATTACH_METHOD;
        CServerValues method;
        HRESULT hr = attachment->GetProperties(1, &methodTag, &method.count, &method.values);
        if (FAILED(hr))
            RaiseComError(hr, attachment.Get(), IID_IEseMessage);
        CServerTags server;
        hr = attachment->GetPropertyTags(&server.count, &server.tags);
        if (FAILED(hr))
            RaiseComError(hr, attachment.Get(), IID_IEseMessage);

        std::vector<ULONG> tags(std::begin(kFixedPropList), std::end(kFixedPropList));
        if (server.tags)
            tags.insert(tags.end(), server.tags, server.tags + server.count);
        const _SEsePropertyValue* methodValue = method.At(0);
        if (methodValue && methodValue->m_tag == PR_ATTACH_METHOD &&
            methodValue->m_value.m_i32 == ATTACH_EMBEDDED_MSG)
            tags.push_back(PR_ATTACH_DATA_OBJ);
        return HandOutPropList(tags.data(), tags.size(), lppPropTagArray);
    });
}

STDMETHODIMP CAttach::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                   LPUNKNOWN* lppUnk)
{
    (void)ulInterfaceOptions;
    return Guard("CAttach::OpenProperty", [&]() -> HRESULT {
        if (!lpiid || !lppUnk)
            return E_INVALIDARG;
        *lppUnk = nullptr;
        if (ulFlags & (MAPI_MODIFY | MAPI_CREATE))
            return E_ACCESSDENIED;
        ComPtr<IEseMessage> attachment;
        try {
            attachment = ServerAttachment();
        } catch (const _com_error& error) {
            return error.Error();
        }

        if (ulPropTag == PR_ATTACH_DATA_BIN) {
            if (!IsEqualIID(*lpiid, IID_IStream))
                return E_NOINTERFACE;
            ComPtr<IStream> stream;
            HRESULT hr = attachment->OpenProperty(ulPropTag, stream.GetAddressOf());
            if (FAILED(hr) || !stream)
                return StreamFailure(m_lastError, "CAttach::OpenProperty", FAILED(hr) ? hr : E_UNEXPECTED,
                                     attachment.Get());
            *lppUnk = stream.Detach();
            return S_OK;
        }
        if (ulPropTag != PR_ATTACH_DATA_OBJ)
            return MAPI_E_NOT_FOUND;

        const LONG method = AttachMethodOf(attachment.Get());
        const bool asStorage = IsEqualIID(*lpiid, IID_IStorage) != FALSE;
        const bool asMessage = IsEqualIID(*lpiid, IID_IMessage) != FALSE;
        if ((method == ATTACH_OLE && !asStorage) || (method == ATTACH_EMBEDDED_MSG && !asMessage))
            return E_NOINTERFACE;
        if (asStorage) {
            ComPtr<IStream> stream;
            HRESULT hr = attachment->OpenProperty(PR_ATTACH_DATA_OBJ, stream.GetAddressOf());
            if (FAILED(hr) || !stream)
                return StreamFailure(m_lastError, "CAttach::OpenProperty", FAILED(hr) ? hr : E_UNEXPECTED,
                                     attachment.Get());
            ComPtr<IStorage> storage;
            if (FAILED(HrIStorageFromStream(stream.Get(), nullptr, 0, storage.GetAddressOf())) || !storage)
                return E_NOINTERFACE;
            *lppUnk = storage.Detach();
            return S_OK;
        }
        if (asMessage)
            return OpenEmbeddedMessage(attachment.Get(), lppUnk);
        return E_NOINTERFACE;
    });
}

HRESULT CAttach::OpenEmbeddedMessage(IEseMessage* attachment, LPUNKNOWN* lppUnk)
{
    // The embedded message's identity: the attachment's folder and the 8
    // bytes the server keeps for the attachment's link.
    ULONG tags[] = {kPrFid, kPrMsgLink};
    CServerValues read;
    HRESULT hr = attachment->GetProperties(2, tags, &read.count, &read.values);
    if (FAILED(hr))
        RaiseComError(hr, attachment, IID_IEseMessage);
    CEntryId id(kEntryMessage, m_storeId.storeUid);
    const _SEsePropertyValue* fid = read.At(0);
    if (fid && fid->m_tag == kPrFid)
        id.fid = fid->m_value.m_i64;
    const _SEsePropertyValue* link = read.At(1);
    if (link && link->m_tag == kPrMsgLink && link->m_value.m_bin.m_p_bt)
        std::memcpy(&id.mid, link->m_value.m_bin.m_p_bt, std::min<ULONG>(link->m_value.m_bin.m_count, sizeof(id.mid)));
    CEntryId parent(kEntryFolder, m_storeId.storeUid);
    parent.fid = id.fid;

    ComPtr<IEseMessage> message = FetchServer<IEseMessage>(m_messageCookie);
    ComPtr<IEseMessage> embedded;
    hr = message->GetAttachmentByNumber(m_attachmentNumber, 0, embedded.GetAddressOf());
    if (FAILED(hr) || !embedded)
        RaiseComError(FAILED(hr) ? hr : E_UNEXPECTED, message.Get(), IID_IEseMessage);
    CServerCookie cookie = CServerCookie::Register(embedded.Get(), IID_IEseMessage);
    CMessage* made = nullptr;
    hr = CMessage::Create(std::move(cookie), id, parent, m_storeId, &made);
    if (FAILED(hr))
        return hr;
    *lppUnk = static_cast<IMessage*>(made);
    return S_OK;
}

STDMETHODIMP CAttach::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                             ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                             ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return Guard("CAttach::CopyTo", [&]() -> HRESULT {
        if (lppProblems)
            *lppProblems = nullptr;
        ComPtr<IMAPISupport> support = StoreSupportOf(m_storeId);
        if (!support)
            return E_FAIL;
        HRESULT hr = CallOutGuarded([&] {
            return support->DoCopyTo(&IID_IAttachment, static_cast<IAttach*>(this), ciidExclude, rgiidExclude,
                                     lpExcludeProps, ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags, nullptr);
        });
        if (FAILED(hr) || !lppProblems)
            return hr;
        // The caller asked for the problems: there were none it is told of.
        MapiPtr<SPropProblemArray> none = MapiAllocate<SPropProblemArray>(CbNewSPropProblemArray(1), hr);
        if (!none)
            return hr;
        none->cProblem = 0;
        *lppProblems = none.release();
        return S_OK;
    });
}

STDMETHODIMP CAttach::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    // The support object's problems are not passed on: there are none the
    // caller is told of.
    if (lppProblems)
        *lppProblems = nullptr;
    return CopyThroughSupport("CAttach::CopyProps", m_storeId, [&](IMAPISupport* support) {
        return CallOutGuarded([&] {
            return support->DoCopyProps(&IID_IAttachment, static_cast<IAttach*>(this), lpIncludeProps, ulUIParam,
                                        lpProgress, lpInterface, lpDestObj, ulFlags, nullptr);
        });
    });
}

STDMETHODIMP CAttach::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                      ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return Guard("CAttach::GetNamesFromIDs", [&]() -> HRESULT {
        return GetNamesFromIDsOfServerObject<IEseMessage>(m_attachmentCookie.Get(), m_storeId, lppPropTags,
                                                          lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CAttach::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                      LPSPropTagArray* lppPropTags)
{
    return Guard("CAttach::GetIDsFromNames", [&]() -> HRESULT {
        return GetIDsFromNamesOfServerObject<IEseMessage>(m_attachmentCookie.Get(), m_storeId, cPropNames,
                                                          lppPropNames, ulFlags, lppPropTags);
    });
}
