#include "MapiStandin.h"
#include "CMsgCopier.h"
#include "CMsgContent.h"
#include "CPropObject.h"

#include <algorithm>

namespace {

// Attachment numbers and recipient row ids belong to the source; the
// destination gives its own.
bool IsOwnIdentity(ULONG propId)
{
    return propId == PROP_ID(PR_ATTACH_NUM) || propId == PROP_ID(PR_ROWID);
}

} // namespace

bool CMsgCopier::Selection::Takes(ULONG propId) const
{
    bool listed = std::find(ids.begin(), ids.end(), propId) != ids.end();
    return onlyIncluded ? listed : !listed;
}

HRESULT CMsgCopier::Destination(LPCIID lpInterface, LPVOID lpDestObj, IMAPIProp* self, ComPtr<IMAPIProp>& destination)
{
    if (!lpInterface || IsEqualIID(*lpInterface, IID_IMAPIProp) || IsEqualIID(*lpInterface, IID_IMessage) ||
        IsEqualIID(*lpInterface, IID_IAttachment)) {
        destination = static_cast<IMAPIProp*>(lpDestObj);
    } else if (FAILED(static_cast<IUnknown*>(lpDestObj)->QueryInterface(
                   IID_IMAPIProp, reinterpret_cast<void**>(destination.GetAddressOf())))) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    return destination.Get() == self ? MAPI_E_NO_ACCESS : S_OK;
}

HRESULT CMsgCopier::Selected(const SPropTagArray* tags, bool onlyIncluded, Selection& selection)
{
    selection.onlyIncluded = onlyIncluded;
    selection.ids.clear();
    if (onlyIncluded && !tags)
        return MAPI_E_INVALID_PARAMETER;
    if (tags)
        for (ULONG i = 0; i < tags->cValues; ++i)
            selection.ids.push_back(PROP_ID(tags->aulPropTag[i]));
    return S_OK;
}

HRESULT CMsgCopier::CopyProps(const CPropBag& bag, const Selection& selection, ULONG flags, IMAPIProp* destination,
                              std::vector<SPropProblem>& problems)
{
    std::vector<SPropValue> values;
    for (ULONG tag : bag.Tags()) {
        ULONG id = PROP_ID(tag);
        if (!selection.Takes(id) || IsOwnIdentity(id))
            continue;
        values.push_back(*bag.Find(id));
    }
    if (values.empty())
        return S_OK;
    if (flags & MAPI_NOREPLACE) {
        // Leave out what the destination already has.
        std::vector<BYTE> block(CbNewSPropTagArray(values.size()));
        auto* tags = reinterpret_cast<LPSPropTagArray>(block.data());
        tags->cValues = static_cast<ULONG>(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            tags->aulPropTag[i] = values[i].ulPropTag;
        ULONG count = 0;
        LPSPropValue existing = nullptr;
        if (SUCCEEDED(destination->GetProps(tags, MAPI_UNICODE, &count, &existing)) && existing) {
            std::vector<SPropValue> kept;
            for (size_t i = 0; i < values.size() && i < count; ++i)
                if (PROP_TYPE(existing[i].ulPropTag) == PT_ERROR)
                    kept.push_back(values[i]);
            values.swap(kept);
        }
        MAPIFreeBuffer(existing);
        if (values.empty())
            return S_OK;
    }
    LPSPropProblemArray returned = nullptr;
    HRESULT hr = destination->SetProps(static_cast<ULONG>(values.size()), values.data(), &returned);
    if (returned) {
        for (ULONG i = 0; i < returned->cProblem; ++i)
            problems.push_back(returned->aProblem[i]);
        MAPIFreeBuffer(returned);
    }
    return hr;
}

HRESULT CMsgCopier::CopyRecipients(const CMsgContent& content, IMessage* destination)
{
    ULONG count = static_cast<ULONG>(content.recipients.size());
    LPADRLIST list = nullptr;
    HRESULT hr = MAPIAllocateBuffer(CbNewADRLIST(count), reinterpret_cast<void**>(&list));
    if (FAILED(hr))
        return hr;
    list->cEntries = 0;
    for (const CPropBag& recipient : content.recipients) {
        ADRENTRY& entry = list->aEntries[list->cEntries];
        entry.ulReserved1 = 0;
        entry.cValues = 0;
        entry.rgPropVals = nullptr;
        std::vector<ULONG> tags = recipient.Tags();
        void* values = nullptr;
        hr = MAPIAllocateBuffer(static_cast<ULONG>(std::max<size_t>(tags.size(), 1) * sizeof(SPropValue)), &values);
        if (FAILED(hr))
            break;
        entry.rgPropVals = static_cast<LPSPropValue>(values);
        ++list->cEntries;
        for (ULONG tag : tags) {
            if (PROP_ID(tag) == PROP_ID(PR_ROWID))
                continue;
            hr = PropCopyMore(&entry.rgPropVals[entry.cValues], const_cast<LPSPropValue>(recipient.Find(PROP_ID(tag))),
                              MAPIAllocateMore, values);
            if (FAILED(hr))
                break;
            ++entry.cValues;
        }
        if (FAILED(hr))
            break;
    }
    if (SUCCEEDED(hr))
        hr = destination->ModifyRecipients(0, list);
    FreePadrlist(list);
    return hr;
}

HRESULT CMsgCopier::CopyAttachments(const CMsgContent& content, IMessage* destination)
{
    Selection everything;
    for (const auto& item : content.attachments) {
        ComPtr<IAttach> attach;
        ULONG number = 0;
        HRESULT hr = destination->CreateAttach(nullptr, 0, &number, &attach);
        if (FAILED(hr))
            return hr;
        std::vector<SPropProblem> ignored;
        hr = CopyProps(item.second->props, everything, 0, attach.Get(), ignored);
        if (FAILED(hr))
            return hr;
        if (item.second->embedded) {
            ComPtr<IMessage> embedded;
            hr = attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                      reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf()));
            if (FAILED(hr))
                return hr;
            hr = CopyProps(item.second->embedded->props, everything, 0, embedded.Get(), ignored);
            if (SUCCEEDED(hr) && !item.second->embedded->recipients.empty())
                hr = CopyRecipients(*item.second->embedded, embedded.Get());
            if (SUCCEEDED(hr))
                hr = CopyAttachments(*item.second->embedded, embedded.Get());
            if (SUCCEEDED(hr))
                hr = embedded->SaveChanges(0);
            if (FAILED(hr))
                return hr;
        } else if (item.second->storage) {
            hr = CopyStorage(*item.second, attach.Get());
            if (FAILED(hr))
                return hr;
        }
        hr = attach->SaveChanges(0);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CMsgCopier::Problems(const std::vector<SPropProblem>& list, const CPropObject& helper, LPSPropProblemArray* out)
{
    if (!out)
        return S_OK;
    *out = nullptr;
    if (list.empty())
        return S_OK;
    void* block = nullptr;
    HRESULT hr = helper.Allocators().allocateBuffer(CbNewSPropProblemArray(list.size()), &block);
    if (FAILED(hr))
        return hr;
    auto* problems = static_cast<LPSPropProblemArray>(block);
    problems->cProblem = static_cast<ULONG>(list.size());
    std::copy(list.begin(), list.end(), problems->aProblem);
    *out = problems;
    return S_OK;
}

HRESULT CMsgCopier::CopyMessage(const CMsgContent& content, const Selection& selection, ULONG flags,
                                IMAPIProp* destination, const CPropObject& helper, LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    std::vector<SPropProblem> list;
    HRESULT hr = CopyProps(content.props, selection, flags, destination, list);
    if (FAILED(hr))
        return hr;
    ComPtr<IMessage> message;
    if (SUCCEEDED(destination->QueryInterface(IID_IMessage, reinterpret_cast<void**>(message.GetAddressOf())))) {
        if (selection.Takes(PROP_ID(PR_MESSAGE_RECIPIENTS)) && !content.recipients.empty()) {
            hr = CopyRecipients(content, message.Get());
            if (FAILED(hr))
                return hr;
        }
        if (selection.Takes(PROP_ID(PR_MESSAGE_ATTACHMENTS))) {
            hr = CopyAttachments(content, message.Get());
            if (FAILED(hr))
                return hr;
        }
    }
    return Problems(list, helper, problems);
}

HRESULT CMsgCopier::CopyAttachment(const CAttachContent& content, const Selection& selection, ULONG flags,
                                   IMAPIProp* destination, const CPropObject& helper, LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    std::vector<SPropProblem> list;
    HRESULT hr = CopyProps(content.props, selection, flags, destination, list);
    if (FAILED(hr))
        return hr;
    if (content.embedded && selection.Takes(PROP_ID(PR_ATTACH_DATA_OBJ))) {
        ComPtr<IMessage> embedded;
        hr = destination->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY,
                                       reinterpret_cast<LPUNKNOWN*>(embedded.GetAddressOf()));
        if (SUCCEEDED(hr)) {
            Selection everything;
            hr = CopyMessage(*content.embedded, everything, 0, embedded.Get(), helper, nullptr);
            if (SUCCEEDED(hr))
                hr = embedded->SaveChanges(0);
        }
        if (FAILED(hr))
            return hr;
    } else if (content.storage && selection.Takes(PROP_ID(PR_ATTACH_DATA_OBJ))) {
        hr = CopyStorage(content, destination);
        if (FAILED(hr))
            return hr;
    }
    return Problems(list, helper, problems);
}

HRESULT CMsgCopier::CopyStorage(const CAttachContent& content, IMAPIProp* destination)
{
    ComPtr<IStorage> from;
    HRESULT hr = StgOpenStorageOnILockBytes(content.storage.Get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                            nullptr, 0, &from);
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> to;
    hr = destination->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                                   reinterpret_cast<LPUNKNOWN*>(to.GetAddressOf()));
    if (SUCCEEDED(hr))
        hr = from->CopyTo(0, nullptr, nullptr, to.Get());
    if (SUCCEEDED(hr))
        hr = to->Commit(STGC_DEFAULT);
    return hr;
}
