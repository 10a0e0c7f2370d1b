#include "MapiSubsystem.h"
#include "CWritableProvider.h"
#include "CWritableStore.h"

#include <cstring>

namespace {

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

} // namespace

HRESULT CWritableProvider::Create(IMSProvider** out)
{
    return CreateInstance(IID_IMSProvider, reinterpret_cast<void**>(out));
}

STDMETHODIMP CWritableProvider::Shutdown(ULONG* lpulFlags)
{
    if (lpulFlags)
        *lpulFlags = 0;
    return S_OK;
}

STDMETHODIMP CWritableProvider::Logon(LPMAPISUP lpMAPISup, ULONG, LPTSTR, ULONG, LPENTRYID, ULONG, LPCIID,
                                      ULONG* lpcbSpoolSecurity, LPBYTE* lppbSpoolSecurity, LPMAPIERROR* lppMAPIError,
                                      LPMSLOGON* lppMSLogon, LPMDB* lppMDB)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppMSLogon || !lppMDB || !lpMAPISup)
            return MAPI_E_INVALID_PARAMETER;
        *lppMSLogon = nullptr;
        *lppMDB = nullptr;
        if (lpcbSpoolSecurity)
            *lpcbSpoolSecurity = 0;
        if (lppbSpoolSecurity)
            *lppbSpoolSecurity = nullptr;
        if (lppMAPIError)
            *lppMAPIError = nullptr;
        MAPIUID service;
        if (FAILED(ServiceUidOf(lpMAPISup, service)))
            return MAPI_E_UNCONFIGURED;
        HRESULT hr = lpMAPISup->SetProviderUID(&service, 0);
        if (FAILED(hr))
            return hr;
        std::shared_ptr<CWritableData> data;
        hr = CWritableData::ForService(service, data);
        if (FAILED(hr))
            return hr;
        CWritableStore* store = nullptr;
        hr = CWritableStore::Create(lpMAPISup, data, &store);
        if (FAILED(hr))
            return hr;
        *lppMDB = static_cast<IMsgStore*>(store);
        store->AddRef();
        *lppMSLogon = static_cast<IMSLogon*>(store);
        return S_OK;
    });
}

STDMETHODIMP CWritableProvider::SpoolerLogon(LPMAPISUP, ULONG, LPTSTR, ULONG, LPENTRYID, ULONG, LPCIID, ULONG, LPBYTE,
                                             LPMAPIERROR*, LPMSLOGON*, LPMDB*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableProvider::CompareStoreIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                                                ULONG* lpulResult)
{
    if (!lpulResult)
        return MAPI_E_INVALID_PARAMETER;
    *lpulResult = cb1 == cb2 && e1 && e2 && std::memcmp(e1, e2, cb1) == 0;
    return S_OK;
}
