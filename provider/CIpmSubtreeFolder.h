// The IPM subtree (entry kind 3), the folder under the root whose children
// are the top folders of the mailboxes chosen in the store's mailbox
// selection (or the top-level public folders of a public-folder store).
// Its hierarchy is rebuilt from the server on every GetHierarchyTable, and
// by the store's watcher thread when the selection changes: every live IPM
// subtree folder is on the process's list that the watchers walk.
#pragma once
#include "ProviderPlatform.h"
#include "CFolder.h"

class CIpmSubtreeFolder final : public CFolder {
public:
    static HRESULT Create(DWORD storeCookie, const CEntryId& ownId, const CEntryId& rootId, const CEntryId& storeId,
                          IMAPIFolder** out);

    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override;
    STDMETHODIMP GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;

    // Rebuilds the rows of the hierarchy data from the server (under the
    // folder's lock: the watcher and a caller may rebuild at once).
    HRESULT FillHierarchyTable() override;

private:
    CIpmSubtreeFolder(DWORD storeCookie, const CEntryId& ownId, const CEntryId& rootId, const CEntryId& storeId);
    ~CIpmSubtreeFolder() override;

    HRESULT Rebuild();

    DWORD m_storeCookie;
};
