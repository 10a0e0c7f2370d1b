// The tests' toy message service: ServiceEntry writes the store's entry
// identifier into the provider section as a store service does, and
// MSProviderInit hands out a provider whose Logon opens a CToyStore.
#include "MapiSubsystem.h"
#include "CToyStore.h"
#include "ToyState.h"

#include <cstring>

namespace {

ToyState g_state;

const MAPIUID kToyProviderUid = {{0x54, 0x4F, 0x59, 0x21, 0x11, 0x22, 0x33, 0x44,
                                  0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC}};

HRESULT ReadServiceUid(IMAPIProp* section, MAPIUID& uid)
{
    LPSPropValue value = nullptr;
    HRESULT hr = HrGetOneProp(section, PR_SERVICE_UID, &value);
    if (FAILED(hr))
        return hr;
    bool ok = value->Value.bin.cb == sizeof(uid.ab);
    if (ok)
        std::memcpy(uid.ab, value->Value.bin.lpb, sizeof(uid.ab));
    MAPIFreeBuffer(value);
    return ok ? S_OK : MAPI_E_CORRUPT_DATA;
}

// The provider section gets the store's wrapped entry identifier, its
// display name and the provider's UID.
HRESULT CompleteProviderSection(IMAPISupport* support, IProviderAdmin* admin)
{
    ComPtr<IProfSect> service;
    HRESULT hr = support->OpenProfileSection(nullptr, MAPI_MODIFY, service.GetAddressOf());
    if (FAILED(hr))
        return hr;
    LPSPropValue providers = nullptr;
    hr = HrGetOneProp(service.Get(), PR_STORE_PROVIDERS, &providers);
    if (FAILED(hr))
        return hr;
    MAPIUID providerSection;
    std::memcpy(providerSection.ab, providers->Value.bin.lpb, sizeof(providerSection.ab));
    MAPIFreeBuffer(providers);
    ComPtr<IProfSect> section;
    hr = admin->OpenProfileSection(&providerSection, nullptr, MAPI_MODIFY, section.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ToyEntryId id{};
    id.kind = 1;
    hr = ReadServiceUid(section.Get(), id.store);
    if (FAILED(hr))
        return hr;
    ULONG cbWrapped = 0;
    LPENTRYID wrapped = nullptr;
    hr = WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(const_cast<char*>("TOYSTORE.DLL")), sizeof(id),
                          reinterpret_cast<LPENTRYID>(&id), &cbWrapped, &wrapped);
    if (FAILED(hr))
        return hr;
    SPropValue values[4]{};
    values[0].ulPropTag = PR_ENTRYID;
    values[0].Value.bin.cb = cbWrapped;
    values[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(wrapped);
    values[1].ulPropTag = PR_STORE_ENTRYID;
    values[1].Value.bin = values[0].Value.bin;
    values[2].ulPropTag = PR_MDB_PROVIDER;
    values[2].Value.bin.cb = sizeof(kToyProviderUid);
    values[2].Value.bin.lpb = const_cast<LPBYTE>(kToyProviderUid.ab);
    values[3].ulPropTag = PR_DISPLAY_NAME_W;
    values[3].Value.lpszW = const_cast<LPWSTR>(L"Toy Store");
    hr = section->SetProps(4, values, nullptr);
    if (SUCCEEDED(hr))
        hr = section->SaveChanges(KEEP_OPEN_READWRITE);
    MAPIFreeBuffer(wrapped);
    return hr;
}

class CToyProvider final : public common::CUnknownImpl<CToyProvider, IMSProvider> {
public:
    static HRESULT Create(IMSProvider** out)
    {
        return CreateInstance(IID_IMSProvider, reinterpret_cast<void**>(out));
    }

    STDMETHODIMP Shutdown(ULONG* lpulFlags) override
    {
        ++g_state.shutdowns;
        if (lpulFlags)
            *lpulFlags = 0;
        return S_OK;
    }
    STDMETHODIMP Logon(LPMAPISUP lpMAPISup, ULONG, LPTSTR, ULONG cbEntryID, LPENTRYID lpEntryID, ULONG,
                       LPCIID, ULONG* lpcbSpoolSecurity, LPBYTE* lppbSpoolSecurity, LPMAPIERROR* lppMAPIError,
                       LPMSLOGON* lppMSLogon, LPMDB* lppMDB) override
    {
        ++g_state.logons;
        g_state.logonHadSupport = lpMAPISup != nullptr;
        g_state.lastSupport = lpMAPISup;
        g_state.logonEntryIdSize = cbEntryID;
        if (lpcbSpoolSecurity)
            *lpcbSpoolSecurity = 0;
        if (lppbSpoolSecurity)
            *lppbSpoolSecurity = nullptr;
        if (lppMAPIError)
            *lppMAPIError = nullptr;
        *lppMSLogon = nullptr;
        *lppMDB = nullptr;
        if (FAILED(g_state.logonResult))
            return g_state.logonResult;
        if (!lpMAPISup || !lpEntryID || cbEntryID != sizeof(ToyEntryId))
            return MAPI_E_INVALID_PARAMETER;
        // The support object's own section is this provider's: it names the
        // service, as the entry identifier does.
        ComPtr<IProfSect> own;
        HRESULT hr = lpMAPISup->OpenProfileSection(nullptr, MAPI_MODIFY, own.GetAddressOf());
        if (FAILED(hr))
            return MAPI_E_FAILONEPROVIDER;
        MAPIUID serviceUid;
        hr = ReadServiceUid(own.Get(), serviceUid);
        if (FAILED(hr))
            return MAPI_E_FAILONEPROVIDER;
        const auto* id = reinterpret_cast<const ToyEntryId*>(lpEntryID);
        g_state.sectionHadServiceUid = mapistub::SameUid(serviceUid, id->store);
        hr = lpMAPISup->SetProviderUID(&serviceUid, 0);
        if (FAILED(hr))
            return hr;
        SPropValue status[3]{};
        status[0].ulPropTag = PR_DISPLAY_NAME_A;
        status[0].Value.lpszA = const_cast<LPSTR>("Toy Store");
        status[1].ulPropTag = PR_STATUS_CODE;
        status[1].Value.l = STATUS_AVAILABLE;
        status[2].ulPropTag = PR_STATUS_STRING_A;
        status[2].Value.lpszA = const_cast<LPSTR>("Available");
        hr = lpMAPISup->ModifyStatusRow(3, status, 0);
        if (FAILED(hr))
            return hr;
        CToyStore* store = nullptr;
        hr = CToyStore::Create(lpMAPISup, serviceUid, g_state, &store);
        if (FAILED(hr))
            return hr;
        *lppMDB = static_cast<IMsgStore*>(store);
        store->AddRef();
        *lppMSLogon = static_cast<IMSLogon*>(store);
        return S_OK;
    }
    STDMETHODIMP SpoolerLogon(LPMAPISUP, ULONG, LPTSTR, ULONG, LPENTRYID, ULONG, LPCIID, ULONG, LPBYTE, LPMAPIERROR*,
                              LPMSLOGON*, LPMDB*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CompareStoreIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG, ULONG* lpulResult) override
    {
        *lpulResult = cb1 == cb2 && std::memcmp(e1, e2, cb1) == 0;
        return S_OK;
    }

private:
    friend class common::CUnknownImpl<CToyProvider, IMSProvider>;
    CToyProvider() = default;
    ~CToyProvider() override = default;
};

} // namespace

extern "C" ToyState* WINAPI ToyGetState()
{
    return &g_state;
}

extern "C" HRESULT WINAPI ServiceEntry(HINSTANCE, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG_PTR, ULONG ulFlags,
                                       ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                                       LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    if (lppMapiError)
        *lppMapiError = nullptr;
    g_state.serviceCalls.push_back({ulContext, ulFlags, cValues, lpMAPISup != nullptr, lpProviderAdmin != nullptr,
                                    lpMalloc != nullptr});
    if (!lpMAPISup || !lpProviderAdmin)
        return MAPI_E_INVALID_PARAMETER;
    switch (ulContext) {
    case MSG_SERVICE_CREATE: {
        if (FAILED(g_state.serviceEntryResult))
            return g_state.serviceEntryResult;
        return CompleteProviderSection(lpMAPISup, lpProviderAdmin);
    }
    case MSG_SERVICE_CONFIGURE: {
        if (FAILED(g_state.serviceEntryResult))
            return g_state.serviceEntryResult;
        ComPtr<IProfSect> service;
        HRESULT hr = lpMAPISup->OpenProfileSection(nullptr, MAPI_MODIFY, service.GetAddressOf());
        if (SUCCEEDED(hr) && cValues)
            hr = service->SetProps(cValues, lpProps, nullptr);
        return hr;
    }
    default:
        return S_OK;
    }
}

extern "C" HRESULT __cdecl MSProviderInit(HINSTANCE, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                                          LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG,
                                          ULONG ulMAPIVer, ULONG* lpulProviderVer, LPMSPROVIDER* lppMSProvider)
{
    ++g_state.providerInits;
    g_state.mapiVersion = ulMAPIVer;
    g_state.hadAllocators = lpMalloc && lpAllocateBuffer && lpAllocateMore && lpFreeBuffer;
    *lpulProviderVer = CURRENT_SPI_VERSION;
    return CToyProvider::Create(lppMSProvider);
}
