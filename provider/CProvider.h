// The message store provider object MSProviderInit hands to MAPI
// (IMSProvider). Logon reads a store's settings from its profile section,
// mounts the backup images its data lies in when their drives are gone,
// starts the database server, opens the database and returns a CMsgStore;
// a second logon to the same database shares the open store.
#pragma once
#include "ProviderPlatform.h"
#include "CMapiObject.h"
#include "MapiInterfaces.h"

#include <string>

// The SPI version the provider serves and requires of MAPI.
constexpr ULONG kProviderSpiVersion = 0x00010010;
// The version number Logon gives every store.
constexpr ULONG kStoreVersion = 2003;

class CProvider final : public CMapiObject<CProvider, IMSProvider> {
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
    friend class common::CUnknownImpl<CProvider, IMSProvider>;
    CProvider();
    ~CProvider() override;

    std::wstring m_componentName;
    DWORD m_creationTick;
};

// The body of the library's MSProviderInit export.
HRESULT ProviderInit(HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                     LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer,
                     ULONG* lpulProviderVer, LPMSPROVIDER* lppMSProvider);
