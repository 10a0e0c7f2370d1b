// The store's root folder (entry kind 2), which has no counterpart in the
// database: its one child is the IPM subtree. It answers its properties
// from fixed values and opens any folder or message of the store through
// the server store.
#pragma once
#include "ProviderPlatform.h"
#include "CFolder.h"

class CRootFolder final : public CFolder {
public:
    static HRESULT Create(DWORD storeCookie, const CEntryId& rootId, const CEntryId& storeId, IMAPIFolder** out);

    DWORD StoreCookie() const { return m_storeCookie; }

    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override;
    STDMETHODIMP GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;

private:
    CRootFolder(DWORD storeCookie, const CEntryId& rootId, const CEntryId& storeId);
    ~CRootFolder() override;

    DWORD m_storeCookie;
};
