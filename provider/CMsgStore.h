// The read-only message store that Logon returns: one object per open
// database, serving IMsgStore and IMSLogon. It answers the store's own
// properties from fixed values and its prebuilt entry identifiers, opens
// folders and messages by entry identifier, relays search-complete
// notifications, and on its last release tears down what Logon set up
// (transports, server objects, mounted images, the working folder, the
// registry entry).
//
// It owns the store's "MailboxChanged" event and a watcher thread that
// rebuilds the hierarchy of the store's IPM subtree folders whenever the
// event is signalled (the mailbox selection changed). The thread is stopped
// and joined by the destructor.
//
// The store's count reaches zero only under ProviderLock, where it also
// leaves the registry, so a logon that finds the store there never hands out
// one that is going; the rest of the teardown runs without any lock.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CMapiProp.h"
#include "CStoreRegistry.h"
#include "MapiInterfaces.h"

#include <memory>
#include <string>

class CStoreShared;

class CMsgStore final : public CMapiProp<CMsgStore, IMsgStore, IMSLogon> {
public:
    // The store of a database opened by Logon. Counted from 1.
    static HRESULT Create(const std::wstring& databasePath, const MAPIUID& serviceUid, ULONG version,
                          DWORD instanceCookie, DWORD storeCookie, CMsgStore** out);

    // The name of a store's mailbox-changed event: the service UID in
    // registry form, then "MailboxChanged".
    static std::wstring MailboxChangedEventName(const MAPIUID& serviceUid);
    // Tells the open store of a service (in any process) that its mailbox
    // selection changed; nothing happens when none is open.
    static void SignalMailboxChanged(const MAPIUID& serviceUid);

    const std::shared_ptr<CStoreShared>& Shared() const { return m_shared; }
    const std::wstring& DatabasePath() const;
    const MAPIUID& ServiceUid() const;
    ULONG Version() const;

    // Set and referenced by Logon.
    void SetSupport(IMAPISupport* support);
    // Fills the store's named-property map: empty, or from the database.
    HRESULT InitNamedProps(bool createEmpty);
    // Publishes the store's status row through the support object.
    HRESULT PublishStatusRow();
    // The search engine's news that a search folder has finished.
    HRESULT NotifySearchComplete(const CEntryId& searchFolderId);

    // Leaves the registry, logs off transports, lets the server objects go,
    // dismounts the images Logon mounted (only with dismount set) and
    // deletes the working folder. Runs once; the last release runs it with
    // dismount set, the service's delete without.
    void Teardown(bool dismount);

    // The store's own count (the base's stays at one until the last
    // release).
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IMAPIProp (SaveChanges, SetProps and DeleteProps: CMapiProp)
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override;
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

    // IMsgStore (and the IMSLogon slots of the same names and signatures)
    STDMETHODIMP Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                        ULONG* lpulConnection) override;
    STDMETHODIMP Unadvise(ULONG ulConnection) override;
    STDMETHODIMP CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                 ULONG ulFlags, ULONG* lpulResult) override;
    STDMETHODIMP OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                           ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;
    STDMETHODIMP SetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID,
                                  LPENTRYID lpEntryID) override;
    STDMETHODIMP GetReceiveFolder(LPTSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID, LPENTRYID* lppEntryID,
                                  LPTSTR* lppszExplicitClass) override;
    STDMETHODIMP GetReceiveFolderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP StoreLogoff(ULONG* lpulFlags) override;
    STDMETHODIMP AbortSubmit(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags) override;
    STDMETHODIMP GetOutgoingQueue(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP SetLockState(LPMESSAGE lpMessage, ULONG ulLockState) override;
    STDMETHODIMP FinishedMsg(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) override;
    STDMETHODIMP NotifyNewMail(LPNOTIFICATION lpNotification) override;

    // IMSLogon
    STDMETHODIMP Logoff(ULONG* lpulFlags) override;
    STDMETHODIMP OpenStatusEntry(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPVOID* lppEntry) override;

private:
    friend class common::CUnknownImpl<CMsgStore, IMsgStore, IMSLogon>;
    CMsgStore(const std::wstring& databasePath, const MAPIUID& serviceUid, ULONG version, DWORD instanceCookie,
              DWORD storeCookie);
    ~CMsgStore() override;

    bool StartWatcher();
    void StopWatcher();
    static DWORD WINAPI WatcherThread(LPVOID parameter);
    void RebuildIpmSubtrees();
    HRESULT OpenEntryOf(const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk);
    // Takes this store's entry out of the registry (under ProviderLock);
    // false when the registry holds no entry of this store.
    bool LeaveRegistry(StoreEntry& entry);
    // The teardown after the store left the registry; entry is the one it
    // left, or null.
    void TearDownAfterLeaving(bool dismount, const StoreEntry* entry);

    std::shared_ptr<CStoreShared> m_shared;
    GUID m_instanceGuid = {};
    std::wstring m_displayName;
    DWORD m_creationTick;
    volatile LONG m_refs = 1;
    volatile LONG m_loggedOff = 0;
    HANDLE m_changedEvent = nullptr;
    HANDLE m_stopEvent = nullptr;
    HANDLE m_watcher = nullptr;
};
