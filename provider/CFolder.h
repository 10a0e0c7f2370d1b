// The provider's read-only IMAPIFolder over one folder of the database
// server (an IEseFolder reached through the module's interface table). It
// makes the identity properties itself, reads every other property from the
// server, hands out a contents table (CContentsTable) and a hierarchy table
// built from the server's child-folder rows, opens child folders and
// messages, and lets MAPI's support object copy folders and messages out of
// it. Every write is refused.
//
// CRootFolder and CIpmSubtreeFolder (the two folders with no counterpart in
// the database) and the search root derive from it and replace what
// differs; FillHierarchyTable, the slot after the destructor, is the IPM
// subtree's to replace.
//
// Tables: the contents data is prepared once per object, on the first
// GetContentsTable; the hierarchy data is filled once per object, on the
// first GetHierarchyTable, unless a subclass refills it. The folder lock
// covers that preparing and filling and the making of the table objects.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"
#include "CEntryId.h"
#include "CMapiProp.h"
#include "MapiInterfaces.h"
#include "ServerInterfaces.h"
#include "Vostrel2007.h"

#include <memory>

class CStoreShared;

struct SContentsFill;

class CFolder : public CMapiProp<CFolder, IMAPIFolder> {
public:
    // A folder over the server folder registered under folderCookie (whose
    // ownership passes to the folder); parentId may be null.
    static HRESULT Create(CServerCookie folderCookie, const CEntryId& ownId, const CEntryId* parentId,
                          const CEntryId& storeId, IMAPIFolder** out);

    const CEntryId& OwnId() const { return m_ownId; }
    const CEntryId& ParentId() const { return m_parentId; }
    const CEntryId& StoreId() const { return m_storeId; }
    DWORD FolderCookie() const { return m_folderCookie.Get(); }

    // IMAPIProp (SaveChanges and DeleteProps: CMapiProp)
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override;
    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG ulUIParam,
                        LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                        LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                           LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                           LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                 ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override;

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
    STDMETHODIMP CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder, ULONG ulUIParam,
                              LPMAPIPROGRESS lpProgress, ULONG ulFlags) override;
    STDMETHODIMP DeleteMessages(LPENTRYLIST lpMsgList, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                ULONG ulFlags) override;
    STDMETHODIMP CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                              LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder) override;
    STDMETHODIMP CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                            LPTSTR lpszNewFolderName, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                            ULONG ulFlags) override;
    STDMETHODIMP DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                              ULONG ulFlags) override;
    STDMETHODIMP SetReadFlags(LPENTRYLIST lpMsgList, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                              ULONG ulFlags) override;
    STDMETHODIMP GetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags,
                                  ULONG* lpulMessageStatus) override;
    STDMETHODIMP SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus, ULONG ulNewStatusMask,
                                  ULONG* lpulOldStatus) override;
    STDMETHODIMP SaveContentsSort(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    STDMETHODIMP EmptyFolder(ULONG ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) override;

    // (Re)fills the hierarchy data from the server's child-folder rows.
    virtual HRESULT FillHierarchyTable();

protected:
    friend class common::CUnknownImpl<CFolder, IMAPIFolder>;
    CFolder(CServerCookie folderCookie, const CEntryId& ownId, const CEntryId* parentId, const CEntryId& storeId);
    ~CFolder() override;

    // The server folder for one call.
    ComPtr<IEseFolder> ServerFolder() const;

    CCriticalSection m_lock;
    bool m_hierarchyBuilt = false;
    ComPtr<ITableData> m_hierarchyData;

private:
    HRESULT PrepareContents(IEseFolder* folder);
    HRESULT OpenEntryOf(const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

    CEntryId m_ownId;
    CEntryId m_parentId;
    CEntryId m_storeId;
    DWORD m_creationTick;
    bool m_contentsPrepared = false;
    ComPtr<ITableData> m_contentsData;
    // What of the contents data its tables have filled.
    std::shared_ptr<SContentsFill> m_contentsFill;
    ComPtr<ITableData> m_associatedContentsData;
    CServerCookie m_folderCookie;
};
