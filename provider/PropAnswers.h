// GetProps as the provider's objects answer it: one value per requested tag,
// in request order, in one block of the provider's allocator, every string
// and binary chained to it. Each object keeps a constant table that maps a
// tag to the function filling its value; what no entry fills is handed to
// the object's own answer for the rest: "not found" (NotFoundValues), or
// the values its server object keeps (AnswerFromServerObject).
//
// A fill function sets the value (the tag is preset to the requested one)
// and returns S_OK; a value that cannot be made for a reason of its own
// (a wrapping failure) becomes a PT_ERROR entry and still returns S_OK. A
// failing return (the allocator) ends the whole call with that result.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "MapiPtr.h"
#include "Vostrel2007.h"

#include <vector>

template <typename Source>
struct SPropHandler {
    ULONG tag;
    HRESULT (*fill)(const Source& source, SPropValue& value, LPVOID parent);
};

// The checks every provider GetProps makes first: null outputs are
// E_INVALIDARG (both outputs start as 0 / null), no tag array or an empty
// one MAPI_E_NO_SUPPORT (there is no answer for "all properties").
HRESULT CheckGetPropsArguments(const SPropTagArray* tags, ULONG* lpcValues, LPSPropValue* lppPropArray);

// A PT_ERROR entry under the id of tag.
void SetErrorValue(SPropValue& value, ULONG tag, SCODE error);

// MAPI_W_ERRORS_RETURNED when any entry is a PT_ERROR value, else S_OK.
HRESULT ErrorsReturned(const SPropValue* values, ULONG count);

// Fills for the common shapes: a copy of bytes chained to parent, a copy of
// a wide string.
HRESULT FillBinary(SPropValue& value, LPVOID parent, const void* bytes, ULONG cb);
HRESULT FillString(SPropValue& value, LPVOID parent, const wchar_t* text);

// The identity values every object of a store answers alike.
constexpr ULONG kStoreVersion2010 = 2010;
constexpr ULONG kStoreSupportMask = 0x00050B67;

// The version of the store an identifier belongs to (0 when it is not open).
ULONG StoreVersionOf(const CEntryId& id);
// The 72 bytes of an identifier.
HRESULT FillEntryId(const CEntryId& id, SPropValue& value, LPVOID parent);
// The store's identifier as MAPI wraps it; a wrapping failure is this
// value's own error (PT_ERROR), not the call's.
HRESULT FillWrappedStoreId(const CEntryId& storeId, SPropValue& value, LPVOID parent);
// The 16-byte store UID of an identifier.
HRESULT FillStoreRecordKey(const CEntryId& id, SPropValue& value, LPVOID parent);
// For a store of version 2010 the 8-byte idRoot of the identifier, else its
// store UID.
HRESULT FillMappingSignature(const CEntryId& id, SPropValue& value, LPVOID parent);
// The provider's MAPIUID.
HRESULT FillProviderUid(SPropValue& value, LPVOID parent);

template <typename Source, LONG N>
HRESULT FixedLong(const Source&, SPropValue& value, LPVOID)
{
    value.Value.l = N;
    return S_OK;
}

template <typename Source, bool B>
HRESULT FixedBool(const Source&, SPropValue& value, LPVOID)
{
    value.Value.b = B ? 1 : 0;
    return S_OK;
}

// The identity values of an object that knows its own, its parent's and its
// store's identifiers (OwnId, ParentId, StoreId), as table entries.
template <typename Source>
HRESULT OwnIdValue(const Source& source, SPropValue& value, LPVOID parent)
{
    return FillEntryId(source.OwnId(), value, parent);
}

template <typename Source>
HRESULT ParentIdValue(const Source& source, SPropValue& value, LPVOID parent)
{
    return FillEntryId(source.ParentId(), value, parent);
}

template <typename Source>
HRESULT WrappedStoreIdValue(const Source& source, SPropValue& value, LPVOID parent)
{
    return FillWrappedStoreId(source.StoreId(), value, parent);
}

// The store UID of the object's own identifier.
template <typename Source>
HRESULT StoreUidValue(const Source& source, SPropValue& value, LPVOID parent)
{
    return FillStoreRecordKey(source.OwnId(), value, parent);
}

template <typename Source>
HRESULT MappingSignatureValue(const Source& source, SPropValue& value, LPVOID parent)
{
    return FillMappingSignature(source.OwnId(), value, parent);
}

template <typename Source>
HRESULT ProviderUidValue(const Source&, SPropValue& value, LPVOID parent)
{
    return FillProviderUid(value, parent);
}

// Allocates the array and fills every value whose tag has a handler; the
// positions without a handler are collected in unanswered, their entries
// left holding the requested tag.
template <typename Source, size_t N>
HRESULT AnswerProps(const Source& source, const SPropHandler<Source> (&handlers)[N], const SPropTagArray& tags,
                    MapiPtr<SPropValue>& values, std::vector<ULONG>& unanswered)
{
    HRESULT hr = S_OK;
    values = MapiAllocate<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * tags.cValues), hr);
    if (!values)
        return hr;
    for (ULONG i = 0; i < tags.cValues; ++i) {
        const ULONG tag = tags.aulPropTag[i];
        SPropValue& value = values.get()[i];
        value.ulPropTag = tag;
        const SPropHandler<Source>* handler = nullptr;
        for (const SPropHandler<Source>& candidate : handlers)
            if (candidate.tag == tag) {
                handler = &candidate;
                break;
            }
        if (handler) {
            hr = handler->fill(source, value, values.get());
            if (FAILED(hr))
                return hr;
        } else {
            unanswered.push_back(i);
        }
    }
    return S_OK;
}

// The answer for the rest when an object has nothing more to ask: every
// position is PT_ERROR / MAPI_E_NOT_FOUND.
HRESULT NotFoundValues(const std::vector<ULONG>& positions, SPropValue* values);

// The answer for the rest from the object's server object: the tags at
// positions are asked of object in one GetProperties call (a failing call
// raises _com_error under iid) and each server value (null where the server
// handed out fewer) is made into the entry by answer, with the array as
// parent. A failing answer ends the call with its result.
using ServerValueAnswer = HRESULT (*)(SPropValue& value, ULONG tag, const _SEsePropertyValue* server,
                                      LPVOID parent);
HRESULT AnswerFromServerObject(IEseProperty* object, REFIID iid, const SPropTagArray& request,
                               const std::vector<ULONG>& positions, SPropValue* values, ServerValueAnswer answer);

// The whole of a provider GetProps after its guard: the argument checks,
// the table's values, answerRest(positions, values) for the tags the table
// does not answer, and the call's result from warning (by default
// MAPI_W_ERRORS_RETURNED when any entry is PT_ERROR). The outputs are set
// only when everything succeeded.
template <typename Source, size_t N, typename Rest>
HRESULT ServeGetProps(const Source& source, const SPropHandler<Source> (&handlers)[N],
                      const SPropTagArray* lpPropTagArray, ULONG* lpcValues, LPSPropValue* lppPropArray,
                      Rest&& answerRest, HRESULT (*warning)(const SPropValue*, ULONG) = &ErrorsReturned)
{
    HRESULT hr = CheckGetPropsArguments(lpPropTagArray, lpcValues, lppPropArray);
    if (hr != S_OK)
        return hr;
    MapiPtr<SPropValue> values;
    std::vector<ULONG> rest;
    hr = AnswerProps(source, handlers, *lpPropTagArray, values, rest);
    if (FAILED(hr))
        return hr;
    if (!rest.empty()) {
        hr = answerRest(rest, values.get());
        if (FAILED(hr))
            return hr;
    }
    hr = warning(values.get(), lpPropTagArray->cValues);
    *lpcValues = lpPropTagArray->cValues;
    *lppPropArray = values.release();
    return hr;
}

// GetPropList's answer: null output E_INVALIDARG (else it starts null), then
// a copy of count tags in a block of the provider's allocator.
HRESULT HandOutPropList(const ULONG* tags, size_t count, LPSPropTagArray* lppPropTagArray);

template <size_t N>
HRESULT HandOutPropList(const ULONG (&tags)[N], LPSPropTagArray* lppPropTagArray)
{
    return HandOutPropList(tags, N, lppPropTagArray);
}
