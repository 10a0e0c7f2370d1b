// GetIDsFromNames and GetNamesFromIDs of the provider's objects over one
// server object each (messages and attachments over an IEseMessage): the
// store's named-property map, and with a 2010 database the server object
// itself, fetched for the call only when it is asked. A missing store is
// E_FAIL (NamedPropRequests); a failing server call raises _com_error for
// the calling object's boundary guard.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CStoreShared.h"
#include "NamedPropRequests.h"
#include "PropAnswers.h"
#include "ServerInterfaces.h"

#include <memory>

template <typename I>
HRESULT GetIDsFromNamesOfServerObject(DWORD cookie, const CEntryId& storeId, ULONG cPropNames,
                                      LPMAPINAMEID* lppPropNames, ULONG ulFlags, LPSPropTagArray* lppPropTags)
{
    if (!lppPropTags || (lppPropNames && cPropNames == 0) || (!lppPropNames && cPropNames != 0))
        return E_INVALIDARG;
    std::shared_ptr<CStoreShared> store = OpenStoreOf(storeId);
    SNamedPropSource source;
    ComPtr<I> server;
    if (store) {
        source.map = &store->NamedProps();
        source.serverResolves = store->Version() == kStoreVersion2010;
        // Every name of the object is the server's to list.
        if (source.serverResolves || !lppPropNames) {
            server = FetchServer<I>(cookie);
            source.server = server.Get();
            source.serverIid = &__uuidof(I);
        }
    }
    return GetIDsFromNamesFor(source, cPropNames, lppPropNames, ulFlags, lppPropTags);
}

template <typename I>
HRESULT GetNamesFromIDsOfServerObject(DWORD cookie, const CEntryId& storeId, LPSPropTagArray* lppPropTags,
                                      LPGUID lpPropSetGuid, ULONG ulFlags, ULONG* lpcPropNames,
                                      LPMAPINAMEID** lpppPropNames)
{
    if (!lpcPropNames || !lpppPropNames)
        return E_INVALIDARG;
    std::shared_ptr<CStoreShared> store = OpenStoreOf(storeId);
    SNamedPropSource source;
    ComPtr<I> server;
    if (store) {
        source.map = &store->NamedProps();
        source.serverResolves = store->Version() == kStoreVersion2010;
        if (source.serverResolves) {
            server = FetchServer<I>(cookie);
            source.server = server.Get();
            source.serverIid = &__uuidof(I);
        }
    }
    return GetNamesFromIDsFor(source, lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
}
