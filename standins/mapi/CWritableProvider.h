#pragma once
// The provider object of the writable store service (IMSProvider): Logon
// opens the store of the service its support object belongs to.
#include "MapiSubsystem.h"

class CWritableProvider final : public common::CUnknownImpl<CWritableProvider, IMSProvider> {
public:
    static HRESULT Create(IMSProvider** out);

    STDMETHODIMP Shutdown(ULONG* lpulFlags) override;
    STDMETHODIMP Logon(LPMAPISUP lpMAPISup, ULONG ulUIParam, LPTSTR lpszProfileName, ULONG cbEntryID,
                       LPENTRYID lpEntryID, ULONG ulFlags, LPCIID lpInterface, ULONG* lpcbSpoolSecurity,
                       LPBYTE* lppbSpoolSecurity, LPMAPIERROR* lppMAPIError, LPMSLOGON* lppMSLogon,
                       LPMDB* lppMDB) override;
    STDMETHODIMP SpoolerLogon(LPMAPISUP lpMAPISup, ULONG ulUIParam, LPTSTR lpszProfileName, ULONG cbEntryID,
                              LPENTRYID lpEntryID, ULONG ulFlags, LPCIID lpInterface, ULONG cbSpoolSecurity,
                              LPBYTE lpbSpoolSecurity, LPMAPIERROR* lppMAPIError, LPMSLOGON* lppMSLogon,
                              LPMDB* lppMDB) override;
    STDMETHODIMP CompareStoreIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                 ULONG ulFlags, ULONG* lpulResult) override;

private:
    friend class common::CUnknownImpl<CWritableProvider, IMSProvider>;
    CWritableProvider() = default;
    ~CWritableProvider() override = default;
};
