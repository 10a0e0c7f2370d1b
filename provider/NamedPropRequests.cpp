#include "ProviderPlatform.h"
#include "NamedPropRequests.h"
#include "CNamedPropMap.h"
#include "ComErrorRaise.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "MapiPtr.h"
#include "MapiStrings.h"
#include "ServerResults.h"

#include <cstring>

namespace {

[[noreturn]] void RaiseServerFailure(const SNamedPropSource& source, HRESULT hr)
{
    RaiseComError(hr, source.server, source.serverIid ? *source.serverIid : IID_IEseProperty);
}

struct CServerNames {
    ~CServerNames() { FreeEseNameIds(names, count); }
    ULONG count = 0;
    _SEseNamedPropertyId* names = nullptr;
};

MapiPtr<SPropTagArray> NewTagArray(ULONG count, HRESULT& hr)
{
    return MapiAllocate<SPropTagArray>(CbNewSPropTagArray(count), hr);
}

ULONG MapTag(CNamedPropMap& map, const MAPINAMEID* name, bool create)
{
    ULONG tag = kNoNamedPropTag;
    if (name)
        map.GetIdForName(name->lpguid, name->Kind.lpwstrName, name->Kind.lID, name->ulKind, create, &tag);
    return tag;
}

// A copy of a server name chained to parent; null when the server has no
// name for the tag (no property set).
HRESULT CopyServerName(const _SEseNamedPropertyId& from, LPVOID parent, LPMAPINAMEID* out)
{
    *out = nullptr;
    if (!from.lpguid)
        return S_OK;
    LPVOID block = nullptr;
    HRESULT hr = ProviderAllocateMore(sizeof(MAPINAMEID), parent, &block);
    if (FAILED(hr))
        return hr;
    auto* name = static_cast<LPMAPINAMEID>(block);
    std::memset(name, 0, sizeof(MAPINAMEID));
    LPVOID guid = nullptr;
    hr = MapiCopyBytes(parent, sizeof(GUID), from.lpguid, &guid);
    if (FAILED(hr))
        return hr;
    name->lpguid = static_cast<LPGUID>(guid);
    name->ulKind = from.ulKind;
    if (from.ulKind == MNID_STRING) {
        hr = MapiDupString(from.Kind.lpwstrName, parent, &name->Kind.lpwstrName);
        if (FAILED(hr))
            return hr;
    } else {
        name->Kind.lID = from.Kind.lID;
    }
    *out = name;
    return S_OK;
}

} // namespace

HRESULT GetIDsFromNamesFor(const SNamedPropSource& source, ULONG cPropNames, LPMAPINAMEID* lppPropNames,
                           ULONG ulFlags, LPSPropTagArray* lppPropTags)
{
    if (!lppPropTags || (lppPropNames && cPropNames == 0) || (!lppPropNames && cPropNames != 0))
        return E_INVALIDARG;
    *lppPropTags = nullptr;
    if (!source.map)
        return E_FAIL;
    const bool create = (ulFlags & MAPI_CREATE) != 0;
    HRESULT hr = S_OK;

    if (!lppPropNames) {
        if (source.allNames == SNamedPropSource::EAllNames::NoSupport)
            return MAPI_E_NO_SUPPORT;
        if (source.allNames == SNamedPropSource::EAllNames::Empty) {
            MapiPtr<SPropTagArray> none = NewTagArray(0, hr);
            if (!none)
                return hr;
            *lppPropTags = none.release();
            return S_OK;
        }
        // Every named property of the object: only the server knows which.
        if (!source.server)
            return MAPI_E_NO_SUPPORT;
        CServerTags all;
        hr = source.server->GetTagsFromPropNames(0, nullptr, &all.count, &all.tags);
        if (FAILED(hr))
            RaiseServerFailure(source, hr);
        if (!all.tags)
            all.count = 0;
        MapiPtr<SPropTagArray> result = NewTagArray(all.count, hr);
        if (!result)
            return hr;
        result->cValues = all.count;
        if (all.count)
            std::memcpy(result->aulPropTag, all.tags, all.count * sizeof(ULONG));
        *lppPropTags = result.release();
        return S_OK;
    }

    MapiPtr<SPropTagArray> result = NewTagArray(cPropNames, hr);
    if (!result)
        return hr;
    HRESULT warning = S_OK;
    if (source.serverResolves && source.server) {
        CServerTags found;
        hr = source.server->GetTagsFromPropNames(cPropNames, reinterpret_cast<_SEseNamedPropertyId**>(lppPropNames),
                                                 &found.count, &found.tags);
        if (FAILED(hr))
            RaiseServerFailure(source, hr);
        for (ULONG i = 0; i < cPropNames; ++i) {
            ULONG tag = found.tags && i < found.count ? found.tags[i] : kNoNamedPropTag;
            if (PROP_TYPE(tag) == PT_ERROR) {
                if (create)
                    tag = MapTag(*source.map, lppPropNames[i], true);
                if (tag == kNoNamedPropTag || PROP_TYPE(tag) == PT_ERROR)
                    warning = MAPI_W_ERRORS_RETURNED;
            }
            result->aulPropTag[i] = tag;
        }
    } else {
        for (ULONG i = 0; i < cPropNames; ++i) {
            result->aulPropTag[i] = MapTag(*source.map, lppPropNames[i], create);
            if (result->aulPropTag[i] == kNoNamedPropTag)
                warning = MAPI_W_ERRORS_RETURNED;
        }
    }
    result->cValues = cPropNames;
    *lppPropTags = result.release();
    return warning;
}

HRESULT GetNamesFromIDsFor(const SNamedPropSource& source, LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid,
                           ULONG ulFlags, ULONG* lpcPropNames, LPMAPINAMEID** lppPropNames)
{
    if (!lppPropNames || !lpcPropNames)
        return E_INVALIDARG;
    *lppPropNames = nullptr;
    *lpcPropNames = 0;
    if (!source.map)
        return E_FAIL;
    if (!lppPropTags || !*lppPropTags)
        return MAPI_E_NO_SUPPORT;
    SPropTagArray& tags = **lppPropTags;
    if (tags.cValues == 0)
        return E_INVALIDARG;
    const ULONG count = tags.cValues;

    HRESULT hr = S_OK;
    MapiPtr<LPMAPINAMEID> names = MapiAllocate<LPMAPINAMEID>(count * sizeof(LPMAPINAMEID), hr);
    if (!names)
        return hr;
    HRESULT warning = S_OK;
    const auto unknown = [&](ULONG i) {
        names.get()[i] = nullptr;
        tags.aulPropTag[i] = CHANGE_PROP_TYPE(tags.aulPropTag[i], PT_ERROR);
        warning = MAPI_W_ERRORS_RETURNED;
    };

    if (source.serverResolves && source.server) {
        ULONG tagCount = count;
        ULONG* tagArray = tags.aulPropTag;
        CServerNames found;
        hr = source.server->GetPropNamesFromTags(&tagCount, &tagArray, lpPropSetGuid, ulFlags, &found.count,
                                                  &found.names);
        if (FAILED(hr))
            RaiseServerFailure(source, hr);
        for (ULONG i = 0; i < count; ++i) {
            // An entry without a property set names nothing: it is reported
            // as unknown rather than handed out as an empty name.
            if (!found.names || i >= found.count || !found.names[i].lpguid) {
                unknown(i);
                continue;
            }
            hr = CopyServerName(found.names[i], names.get(), &names.get()[i]);
            if (FAILED(hr))
                return hr;
        }
    } else {
        for (ULONG i = 0; i < count; ++i) {
            LPMAPINAMEID name = nullptr;
            hr = source.map->GetNameForId(tags.aulPropTag[i], names.get(), &name);
            if (hr == MAPI_E_NOT_ENOUGH_MEMORY)
                return hr;
            if (!name) {
                unknown(i);
                continue;
            }
            names.get()[i] = name;
        }
    }
    *lpcPropNames = count;
    *lppPropNames = names.release();
    return warning;
}
