#include "ProviderPlatform.h"
#include "PropAnswers.h"
#include "CStoreShared.h"
#include "ComErrorRaise.h"
#include "MapiStrings.h"
#include "ServerResults.h"

#include <cstring>

HRESULT CheckGetPropsArguments(const SPropTagArray* tags, ULONG* lpcValues, LPSPropValue* lppPropArray)
{
    if (!lpcValues || !lppPropArray)
        return E_INVALIDARG;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    if (!tags || tags->cValues == 0)
        return MAPI_E_NO_SUPPORT;
    return S_OK;
}

void SetErrorValue(SPropValue& value, ULONG tag, SCODE error)
{
    value.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
    value.dwAlignPad = 0;
    std::memset(&value.Value, 0, sizeof(value.Value));
    value.Value.err = error;
}

HRESULT ErrorsReturned(const SPropValue* values, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        if (PROP_TYPE(values[i].ulPropTag) == PT_ERROR)
            return MAPI_W_ERRORS_RETURNED;
    return S_OK;
}

HRESULT FillBinary(SPropValue& value, LPVOID parent, const void* bytes, ULONG cb)
{
    LPVOID copy = nullptr;
    HRESULT hr = ProviderAllocateMore(cb ? cb : 1, parent, &copy);
    if (FAILED(hr))
        return hr;
    if (cb)
        std::memcpy(copy, bytes, cb);
    value.Value.bin.cb = cb;
    value.Value.bin.lpb = static_cast<LPBYTE>(copy);
    return S_OK;
}

HRESULT FillString(SPropValue& value, LPVOID parent, const wchar_t* text)
{
    return MapiDupString(text ? text : L"", parent, &value.Value.lpszW);
}

ULONG StoreVersionOf(const CEntryId& id)
{
    std::shared_ptr<CStoreShared> store = OpenStoreOf(id);
    return store ? store->Version() : 0;
}

HRESULT FillEntryId(const CEntryId& id, SPropValue& value, LPVOID parent)
{
    return FillBinary(value, parent, &id, sizeof(id));
}

HRESULT FillWrappedStoreId(const CEntryId& storeId, SPropValue& value, LPVOID parent)
{
    HRESULT hr = storeId.WrapStoreEntryId(parent, value.Value.bin);
    if (FAILED(hr))
        SetErrorValue(value, value.ulPropTag, hr);
    return S_OK;
}

HRESULT FillStoreRecordKey(const CEntryId& id, SPropValue& value, LPVOID parent)
{
    return FillBinary(value, parent, &id.storeUid, sizeof(MAPIUID));
}

HRESULT FillMappingSignature(const CEntryId& id, SPropValue& value, LPVOID parent)
{
    if (StoreVersionOf(id) == kStoreVersion2010)
        return FillBinary(value, parent, &id.idRoot, sizeof(id.idRoot));
    return FillBinary(value, parent, &id.storeUid, sizeof(MAPIUID));
}

HRESULT FillProviderUid(SPropValue& value, LPVOID parent)
{
    return FillBinary(value, parent, &kProviderUid, sizeof(kProviderUid));
}

HRESULT NotFoundValues(const std::vector<ULONG>& positions, SPropValue* values)
{
    for (ULONG position : positions)
        SetErrorValue(values[position], values[position].ulPropTag, MAPI_E_NOT_FOUND);
    return S_OK;
}

HRESULT AnswerFromServerObject(IEseProperty* object, REFIID iid, const SPropTagArray& request,
                               const std::vector<ULONG>& positions, SPropValue* values, ServerValueAnswer answer)
{
    std::vector<ULONG> tags;
    tags.reserve(positions.size());
    for (ULONG position : positions)
        tags.push_back(request.aulPropTag[position]);
    CServerValues read;
    HRESULT hr = object->GetProperties(static_cast<ULONG>(tags.size()), tags.data(), &read.count, &read.values);
    if (FAILED(hr))
        RaiseComError(hr, object, iid);
    for (size_t i = 0; i < positions.size(); ++i) {
        hr = answer(values[positions[i]], tags[i], read.At(static_cast<ULONG>(i)), values);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT HandOutPropList(const ULONG* tags, size_t count, LPSPropTagArray* lppPropTagArray)
{
    if (!lppPropTagArray)
        return E_INVALIDARG;
    *lppPropTagArray = nullptr;
    HRESULT hr = S_OK;
    MapiPtr<SPropTagArray> list = MapiAllocate<SPropTagArray>(CbNewSPropTagArray(count), hr);
    if (!list)
        return hr;
    list->cValues = static_cast<ULONG>(count);
    if (count)
        std::memcpy(list->aulPropTag, tags, count * sizeof(ULONG));
    *lppPropTagArray = list.release();
    return S_OK;
}
