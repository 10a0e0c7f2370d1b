// The writable store service's entry points: its ServiceEntry, which gives
// the provider section the store's entry identifier, and MSProviderInit.
// MAPISVC.INF need not list the service: the library knows it by the name
// "WRITABLESTORE" (see CServiceInf), with "MAPI.DLL" as its DLL, which MAPI
// loads as this very library. The entries are not exported (Windows's MAPI
// library has no such exports); EntryPointOf hands them out by name.
#include "MapiSubsystem.h"
#include "CWritableData.h"
#include "CWritableProvider.h"
#include "CWritableStore.h"

#include <cstring>
#include <memory>

namespace {

HRESULT CompleteProviderSection(IMAPISupport* support, IProviderAdmin* admin)
{
    ComPtr<IProfSect> service;
    HRESULT hr = support->OpenProfileSection(nullptr, MAPI_MODIFY, service.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray(2, tags) = {2, {PR_STORE_PROVIDERS, PR_SERVICE_UID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = service->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<void, ULONG(WINAPI*)(LPVOID)> owner(values, &MAPIFreeBuffer);
    if (hr != S_OK || values[0].Value.bin.cb < sizeof(MAPIUID) || values[1].Value.bin.cb != sizeof(MAPIUID))
        return MAPI_E_UNCONFIGURED;
    MAPIUID providerSection;
    std::memcpy(providerSection.ab, values[0].Value.bin.lpb, sizeof(providerSection.ab));
    WritableEntryId id{};
    std::memcpy(id.store.ab, values[1].Value.bin.lpb, sizeof(id.store.ab));
    id.kind = WritableEntryId::kStore;
    ComPtr<IProfSect> section;
    hr = admin->OpenProfileSection(&providerSection, nullptr, MAPI_MODIFY, section.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ULONG cbWrapped = 0;
    LPENTRYID wrapped = nullptr;
    hr = WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(const_cast<char*>("MAPI.DLL")), sizeof(id),
                          reinterpret_cast<LPENTRYID>(&id), &cbWrapped, &wrapped);
    if (FAILED(hr))
        return hr;
    SPropValue props[4]{};
    props[0].ulPropTag = PR_ENTRYID;
    props[0].Value.bin.cb = cbWrapped;
    props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(wrapped);
    props[1].ulPropTag = PR_STORE_ENTRYID;
    props[1].Value.bin = props[0].Value.bin;
    props[2].ulPropTag = PR_MDB_PROVIDER;
    props[2].Value.bin.cb = sizeof(kWritableStoreProviderUid.ab);
    props[2].Value.bin.lpb = const_cast<LPBYTE>(kWritableStoreProviderUid.ab);
    props[3].ulPropTag = PR_RECORD_KEY;
    props[3].Value.bin.cb = sizeof(id.store.ab);
    props[3].Value.bin.lpb = id.store.ab;
    hr = section->SetProps(4, props, nullptr);
    MAPIFreeBuffer(wrapped);
    if (SUCCEEDED(hr))
        hr = section->SaveChanges(KEEP_OPEN_READWRITE);
    return hr;
}

HRESULT ServiceUidOf(IMAPISupport* support, MAPIUID& uid)
{
    ComPtr<IProfSect> section;
    HRESULT hr = support->OpenProfileSection(nullptr, MAPI_MODIFY, section.GetAddressOf());
    if (FAILED(hr))
        return hr;
    LPSPropValue value = nullptr;
    hr = HrGetOneProp(section.Get(), PR_SERVICE_UID, &value);
    if (FAILED(hr))
        return hr;
    bool ok = value->Value.bin.cb == sizeof(uid.ab);
    if (ok)
        std::memcpy(uid.ab, value->Value.bin.lpb, sizeof(uid.ab));
    MAPIFreeBuffer(value);
    return ok ? S_OK : MAPI_E_CORRUPT_DATA;
}

HRESULT WINAPI WritableStoreServiceEntry(HINSTANCE, LPMALLOC, LPMAPISUP lpMAPISup, ULONG_PTR, ULONG, ULONG ulContext,
                                         ULONG, LPSPropValue, LPPROVIDERADMIN lpProviderAdmin,
                                         LPMAPIERROR* lppMapiError)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (lppMapiError)
            *lppMapiError = nullptr;
        if (!lpMAPISup || !lpProviderAdmin)
            return MAPI_E_INVALID_PARAMETER;
        if (ulContext == MSG_SERVICE_DELETE) {
            MAPIUID service;
            if (SUCCEEDED(ServiceUidOf(lpMAPISup, service)))
                CWritableData::DeleteService(service);
            return S_OK;
        }
        if (ulContext != MSG_SERVICE_CREATE && ulContext != MSG_SERVICE_CONFIGURE)
            return S_OK;
        return CompleteProviderSection(lpMAPISup, lpProviderAdmin);
    });
}

HRESULT __cdecl WritableStoreProviderInit(HINSTANCE, LPMALLOC, LPALLOCATEBUFFER, LPALLOCATEMORE, LPFREEBUFFER,
                                          ULONG, ULONG ulMAPIVer, ULONG* lpulProviderVer, LPMSPROVIDER* lppMSProvider)
{
    if (!lpulProviderVer || !lppMSProvider)
        return MAPI_E_INVALID_PARAMETER;
    *lpulProviderVer = CURRENT_SPI_VERSION;
    *lppMSProvider = nullptr;
    if (ulMAPIVer < CURRENT_SPI_VERSION)
        return MAPI_E_VERSION;
    return CWritableProvider::Create(lppMSProvider);
}

// MAPI calls them through its own function types: they must match exactly.
mapistub::ServiceEntryFunction* const kServiceEntry = &WritableStoreServiceEntry;
MSPROVIDERINIT* const kProviderInit = &WritableStoreProviderInit;

} // namespace

FARPROC mapistub::EntryPointOf(HMODULE module, const char* name)
{
    HMODULE self = nullptr;
    if (name && GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCWSTR>(&EntryPointOf), &self) &&
        module == self) {
        if (std::strcmp(name, "WritableStoreServiceEntry") == 0)
            return reinterpret_cast<FARPROC>(kServiceEntry);
        if (std::strcmp(name, "MSProviderInit") == 0)
            return reinterpret_cast<FARPROC>(kProviderInit);
    }
    return GetProcAddress(module, name);
}
