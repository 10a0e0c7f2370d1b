#include "MapiStandin.h"
#include "CAttachOnStorage.h"
#include "CMsgOnStorage.h"
#include "CMsgCopier.h"
#include "CPropertyStream.h"

#include <vector>

namespace {

const std::vector<ULONG> kComputed = {PROP_ID(PR_ATTACH_NUM)};

} // namespace

HRESULT CAttachOnStorage::Create(CMsgOnStorage* parent, ULONG number, std::shared_ptr<CAttachContent> working,
                                 IAttach** out)
{
    return mapistub::Guarded([&]() -> HRESULT {
        SPropValue num{};
        num.ulPropTag = PR_ATTACH_NUM;
        num.Value.l = static_cast<LONG>(number);
        HRESULT hr = working->props.Set(num);
        if (FAILED(hr))
            return hr;
        return CreateInstance(IID_IAttachment, reinterpret_cast<void**>(out), parent, number, working);
    });
}

CAttachOnStorage::CAttachOnStorage(CMsgOnStorage* parent, ULONG number, std::shared_ptr<CAttachContent> working)
    : m_parentRef(parent), m_parent(parent), m_number(number), m_working(std::move(working))
{
}

void CAttachOnStorage::StoreEmbedded(std::shared_ptr<CMsgContent> content)
{
    m_working->embedded = std::move(content);
}

STDMETHODIMP CAttachOnStorage::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    return S_OK;
}

STDMETHODIMP CAttachOnStorage::SaveChanges(ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        m_parent->StoreAttachment(m_number, m_working->Clone());
        return S_OK;
    });
}

STDMETHODIMP CAttachOnStorage::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                        LPSPropValue* lppPropArray)
{
    return mapistub::Guarded([&]() {
        return m_parent->Helper().GetProps(m_working->props, lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    });
}

STDMETHODIMP CAttachOnStorage::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    return mapistub::Guarded([&]() { return m_parent->Helper().GetPropList(m_working->props, ulFlags, lppPropTagArray); });
}

STDMETHODIMP CAttachOnStorage::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                            LPUNKNOWN* lppUnk)
{
    if (!lppUnk || !lpiid)
        return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    return mapistub::Guarded([&]() -> HRESULT {
        if (PROP_ID(ulPropTag) == PROP_ID(PR_ATTACH_DATA_OBJ) && IsEqualIID(*lpiid, IID_IMessage)) {
            std::shared_ptr<CMsgContent> content;
            if (ulFlags & MAPI_CREATE)
                content = std::make_shared<CMsgContent>();
            else if (m_working->embedded)
                content = m_working->embedded->Clone();
            else
                return MAPI_E_NOT_FOUND;
            return CMsgOnStorage::OpenEmbedded(this, content, m_parent->Helper(),
                                               reinterpret_cast<IMessage**>(lppUnk));
        }
        if (PROP_ID(ulPropTag) == PROP_ID(PR_ATTACH_DATA_OBJ) && IsEqualIID(*lpiid, IID_IStorage))
            return OpenStorage(ulFlags, reinterpret_cast<IStorage**>(lppUnk));
        if (!IsEqualIID(*lpiid, IID_IStream))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        std::string bytes;
        if (!(ulFlags & MAPI_CREATE)) {
            const SPropValue* value = m_working->props.Find(PROP_ID(ulPropTag));
            if (!value || PROP_TYPE(value->ulPropTag) != PROP_TYPE(ulPropTag))
                return MAPI_E_NOT_FOUND;
            if (!CPropertyStream::BytesOf(*value, bytes))
                return MAPI_E_INTERFACE_NOT_SUPPORTED;
        } else if (!(ulFlags & MAPI_MODIFY)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        if (!CPropertyStream::IsStreamType(PROP_TYPE(ulPropTag)))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        return CPropertyStream::Create(static_cast<IAttach*>(this), &m_working->props, ulPropTag, bytes,
                                       (ulFlags & MAPI_MODIFY) != 0, reinterpret_cast<IStream**>(lppUnk));
    });
}

HRESULT CAttachOnStorage::OpenStorage(ULONG ulFlags, IStorage** out)
{
    // The storage works on the attachment's compound file in memory: what
    // it commits is what SaveChanges hands to the message.
    if (ulFlags & MAPI_CREATE) {
        if (!(ulFlags & MAPI_MODIFY))
            return MAPI_E_INVALID_PARAMETER;
        ComPtr<ILockBytes> bytes;
        HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
        if (FAILED(hr))
            return hr;
        hr = StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, out);
        if (FAILED(hr))
            return hr;
        m_working->storage = bytes;
        return S_OK;
    }
    if (!m_working->storage)
        return MAPI_E_NOT_FOUND;
    const DWORD mode = ((ulFlags & MAPI_MODIFY) ? STGM_READWRITE : STGM_READ) | STGM_SHARE_EXCLUSIVE;
    return StgOpenStorageOnILockBytes(m_working->storage.Get(), nullptr, mode, nullptr, 0, out);
}

STDMETHODIMP CAttachOnStorage::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return m_parent->Helper().SetProps(m_working->props, cValues, lpPropArray, lppProblems, kComputed);
    });
}

STDMETHODIMP CAttachOnStorage::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return m_parent->Helper().DeleteProps(m_working->props, lpPropTagArray, lppProblems, kComputed);
    });
}

STDMETHODIMP CAttachOnStorage::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                                   ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                                   ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    CMsgCopier::Selection selection;
    HRESULT hr = CMsgCopier::Selected(lpExcludeProps, false, selection);
    if (FAILED(hr))
        return hr;
    return CopyInto(selection, lpInterface, lpDestObj, ulFlags, lppProblems);
}

STDMETHODIMP CAttachOnStorage::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                      LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                                      LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    CMsgCopier::Selection selection;
    HRESULT hr = CMsgCopier::Selected(lpIncludeProps, true, selection);
    if (FAILED(hr))
        return hr;
    return CopyInto(selection, lpInterface, lpDestObj, ulFlags, lppProblems);
}

HRESULT CAttachOnStorage::CopyInto(const CMsgCopier::Selection& selection, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                               LPSPropProblemArray* lppProblems)
{
    if (!lpDestObj)
        return MAPI_E_INVALID_PARAMETER;
    // Moving would delete from this object, which only copies.
    if (ulFlags & MAPI_MOVE)
        return MAPI_E_NO_SUPPORT;
    return mapistub::Guarded([&]() -> HRESULT {
        ComPtr<IMAPIProp> destination;
        HRESULT hr = CMsgCopier::Destination(lpInterface, lpDestObj, static_cast<IMAPIProp*>(this), destination);
        if (FAILED(hr))
            return hr;
        return CMsgCopier::CopyAttachment(*m_working, selection, ulFlags, destination.Get(), m_parent->Helper(), lppProblems);
    });
}

STDMETHODIMP CAttachOnStorage::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                               ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return mapistub::Guarded([&]() {
        return m_parent->Helper().GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CAttachOnStorage::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                               LPSPropTagArray* lppPropTags)
{
    return mapistub::Guarded([&]() {
        return m_parent->Helper().GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
    });
}
