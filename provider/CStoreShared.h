// What the objects of one open store share with it: the database it was
// opened on, its identity, the server's store cookie, the prebuilt entry
// identifiers, the MAPI support object and the named-property map. The store
// owns it; the registry hands it to folders, messages and tables for the
// length of one call, so a store that goes during such a call leaves them
// working on valid (if logged-off) state: its cookies are revoked, so any
// server call then fails cleanly.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CNamedPropMap.h"

#include <mapispi.h>

#include <memory>
#include <string>

class CStoreShared {
public:
    CStoreShared(std::wstring databasePath, const MAPIUID& serviceUid, ULONG version, DWORD instanceCookie,
                 DWORD storeCookie);
    CStoreShared(const CStoreShared&) = delete;
    CStoreShared& operator=(const CStoreShared&) = delete;

    const std::wstring& DatabasePath() const { return m_databasePath; }
    const MAPIUID& ServiceUid() const { return m_serviceUid; }
    ULONG Version() const { return m_version; }
    DWORD InstanceCookie() const { return m_instanceCookie; }
    DWORD StoreCookie() const { return m_storeCookie; }
    const CEntryId& StoreId() const { return m_storeId; }
    const CEntryId& RootId() const { return m_rootId; }
    const CEntryId& IpmSubtreeId() const { return m_ipmSubtreeId; }
    const CEntryId& SearchRootId() const { return m_searchRootId; }
    CNamedPropMap& NamedProps() { return m_namedProps; }

    // The MAPI support object of the logon (null before Logon gives it and
    // after the store's teardown).
    ComPtr<IMAPISupport> Support() const;
    void SetSupport(IMAPISupport* support);

private:
    const std::wstring m_databasePath;
    const MAPIUID m_serviceUid;
    const ULONG m_version;
    const DWORD m_instanceCookie;
    const DWORD m_storeCookie;
    const CEntryId m_storeId;
    const CEntryId m_rootId;
    const CEntryId m_ipmSubtreeId;
    const CEntryId m_searchRootId;
    CNamedPropMap m_namedProps;
    mutable SRWLOCK m_supportLock = SRWLOCK_INIT;
    ComPtr<IMAPISupport> m_support;
};

// The shared state of the open store an entry identifier belongs to (found
// in the registry by its store UID); null when that store is not open.
std::shared_ptr<CStoreShared> OpenStoreOf(const CEntryId& id);
// That store's MAPI support object; null when the store is not open or has
// none.
ComPtr<IMAPISupport> StoreSupportOf(const CEntryId& id);
