// The store's search root (the folder its finder entry identifier names) and
// every search folder a client makes under it. A search folder keeps its
// criteria (restriction, folders to search, flags) in the object only;
// nothing is written to disk. Its contents table is a view of the folder's
// result table, which the search engine (CSearch) fills on a worker thread
// while the client watches it.
//
// The folder has no counterpart in the database server: the CFolder part is
// built without a server folder, and the slots a search folder answers
// differently are replaced here.
//
// Search folders made with CreateFolder get identifiers of their own (the
// search root's with a process-wide serial number) and are registered with
// their names in the module's search-folder registry, so that opening such
// an identifier again yields a folder of that name (without criteria: those
// belong to the object).
#pragma once
#include "ProviderPlatform.h"
#include "CFolder.h"
#include "MapiPtr.h"
#include "SearchRequest.h"

#include <memory>
#include <string>
#include <vector>

class CSearchRoot final : public CFolder {
public:
    // A search root or search folder over the store's server store (the
    // store's cookie, which the store owns).
    static HRESULT Create(DWORD storeCookie, const CEntryId& ownId, const CEntryId& storeId, const CEntryId& parentId,
                          const wchar_t* displayName, IMAPIFolder** out);

    // The identifier kind 7 of a store opened: named by the search-folder
    // registry when it holds the identifier, else defaultName.
    static HRESULT Open(DWORD storeCookie, const CEntryId& id, const CEntryId& storeId, const CEntryId& parentId,
                        const wchar_t* defaultName, LPUNKNOWN* object);

    const std::wstring& DisplayName() const { return m_displayName; }
    const GUID& FolderGuid() const { return m_folderGuid; }
    ULONG SearchFlags() const { return m_searchFlags; }
    std::vector<BYTE> ExtendedFlags() const;

    // Starts a search over the folder's criteria when they are complete (a
    // result table, a restriction and a list of folders) and the result
    // table exists. Called with the folder's lock held.
    void StartSearch();

    // IMAPIProp
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;

    // IMAPIContainer
    STDMETHODIMP GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;
    STDMETHODIMP SetSearchCriteria(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList,
                                   ULONG ulSearchFlags) override;
    STDMETHODIMP GetSearchCriteria(ULONG ulFlags, LPSRestriction* lppRestriction, LPENTRYLIST* lppContainerList,
                                   ULONG* lpulSearchState) override;

    // IMAPIFolder
    STDMETHODIMP CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) override;
    STDMETHODIMP CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                              LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder) override;
    STDMETHODIMP CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                            LPTSTR lpszNewFolderName, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                            ULONG ulFlags) override;
    STDMETHODIMP DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                              ULONG ulFlags) override;

private:
    CSearchRoot(DWORD storeCookie, const CEntryId& ownId, const CEntryId& storeId, const CEntryId& parentId,
                const wchar_t* displayName);
    ~CSearchRoot() override;

    HRESULT NewResultTable();
    // Stops the running search, if any, and waits for its end (20 s at
    // most); a search that does not end in time is given up.
    void StopSearch(const std::shared_ptr<CSearchEvents>& events);

    DWORD m_storeCookie;
    GUID m_folderGuid = {};
    std::vector<BYTE> m_extendedFlags;
    std::wstring m_displayName;
    ComPtr<ITableData> m_resultTable;
    std::shared_ptr<CSearchEvents> m_events;
    MapiPtr<ENTRYLIST> m_containers;
    ULONG m_searchFlags = 1;
    // Guards the criteria, the result table, the events and the flags blob
    // (Outlook calls from several threads), and the registry insertion of
    // CreateFolder. Never held while waiting for a search to end.
    mutable CCriticalSection m_searchLock;
    MapiPtr<SRestriction> m_restriction;
    MapiPtr<SPropTagArray> m_columns;
};
