// GetProps as the provider's objects answer it: one value per requested tag,
// in request order, in one block of the provider's allocator, every string
// and binary chained to it. Each object keeps a constant table that maps a
// tag to the function filling its value; what no entry fills is either
// "not found" or left to the caller (a folder asks the server for those).
//
// A fill function sets the value (the tag is preset to the requested one)
// and returns S_OK; a value that cannot be made for a reason of its own
// (a wrapping failure) becomes a PT_ERROR entry and still returns S_OK. A
// failing return (the allocator) ends the whole call with that result.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "MapiPtr.h"

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

// Allocates the array and fills every value whose tag has a handler. With
// unanswered given, the positions without a handler are collected there and
// their entries left holding the requested tag; without it they become
// PT_ERROR / MAPI_E_NOT_FOUND.
template <typename Source, size_t N>
HRESULT AnswerProps(const Source& source, const SPropHandler<Source> (&handlers)[N], const SPropTagArray& tags,
                    MapiPtr<SPropValue>& values, std::vector<ULONG>* unanswered)
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
        } else if (unanswered) {
            unanswered->push_back(i);
        } else {
            SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
        }
    }
    return S_OK;
}
