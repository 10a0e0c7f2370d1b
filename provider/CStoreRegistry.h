// The open stores of the process, by database path. A second logon to the
// same database shares the first store; every folder, message and table
// finds its store here by the store UID its entry identifier carries.
//
// The registry keeps its own lock, so lookups from any thread are safe while
// a logon or a store's last release changes it. It does not keep the store
// alive: a lookup hands out the store's shared state (CStoreShared), which
// stays valid for the caller even if the store goes meanwhile; the store
// pointer itself is only used under ProviderLock, which a store's last
// release holds while its count reaches zero and it leaves the registry.
//
// A path is busy while a logon opens its database or a last release tears
// its store down; both run without ProviderLock (they start the server, call
// MAPI's support object, may show a message box), and a second logon of a
// busy path waits for that work to end instead of opening the database
// twice or mounting over a drive that is being dismounted.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"

#include <map>
#include <memory>
#include <set>
#include <string>

class CMsgStore;
class CStoreShared;

struct StoreEntry {
    CMsgStore* store = nullptr;               // not counted
    std::wstring tempFolder;                  // created at logon; empty when none was
    MAPIUID serviceUid = {};
    std::wstring databaseDriveRoot;           // "X:\" when logon found the database on an image
    std::wstring logDriveRoot;
    std::shared_ptr<CStoreShared> shared;
};

class CStoreRegistry {
public:
    CStoreRegistry() = default;
    CStoreRegistry(const CStoreRegistry&) = delete;
    CStoreRegistry& operator=(const CStoreRegistry&) = delete;

    // False when the path is already registered (the entry stays as it was).
    bool Insert(const std::wstring& databasePath, const StoreEntry& entry);
    bool FindByPath(const std::wstring& databasePath, StoreEntry& entry) const;
    bool FindByServiceUid(const MAPIUID& serviceUid, StoreEntry& entry) const;
    // The shared state of the store of a service UID; null when none is open.
    std::shared_ptr<CStoreShared> SharedByServiceUid(const MAPIUID& serviceUid) const;
    bool Erase(const std::wstring& databasePath);
    size_t Count() const;

    // The busy paths; the caller holds providerLock, which WaitWhileBusy
    // leaves while it waits.
    bool IsBusy(const std::wstring& databasePath) const;
    void MarkBusy(const std::wstring& databasePath);
    // Ends the work on a path and wakes the logons that wait for it.
    void ClearBusy(const std::wstring& databasePath);
    void WaitWhileBusy(const std::wstring& databasePath, CCriticalSection& providerLock);

private:
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::map<std::wstring, StoreEntry> m_entries;
    std::set<std::wstring> m_busy;
    CONDITION_VARIABLE m_workEnded = CONDITION_VARIABLE_INIT;
};
