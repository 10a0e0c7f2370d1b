#include "ProviderPlatform.h"
#include "CStoreShared.h"
#include "ProviderGlobals.h"

CStoreShared::CStoreShared(std::wstring databasePath, const MAPIUID& serviceUid, ULONG version,
                           DWORD instanceCookie, DWORD storeCookie)
    : m_databasePath(std::move(databasePath)),
      m_serviceUid(serviceUid),
      m_version(version),
      m_instanceCookie(instanceCookie),
      m_storeCookie(storeCookie),
      m_storeId(kEntryMessageStore, serviceUid),
      m_rootId(kEntryRootFolder, serviceUid),
      m_ipmSubtreeId(kEntryIpmSubtree, serviceUid),
      m_searchRootId(kEntrySearchRoot, serviceUid)
{
}

ComPtr<IMAPISupport> CStoreShared::Support() const
{
    AcquireSRWLockShared(&m_supportLock);
    ComPtr<IMAPISupport> support = m_support;
    ReleaseSRWLockShared(&m_supportLock);
    return support;
}

void CStoreShared::SetSupport(IMAPISupport* support)
{
    ComPtr<IMAPISupport> previous;
    AcquireSRWLockExclusive(&m_supportLock);
    previous = m_support;
    m_support = support;
    ReleaseSRWLockExclusive(&m_supportLock);
    // The old object is released outside the lock: its release may call out.
}

std::shared_ptr<CStoreShared> OpenStoreOf(const CEntryId& id)
{
    return ProviderGlobals().storeRegistry.SharedByServiceUid(id.storeUid);
}

ComPtr<IMAPISupport> StoreSupportOf(const CEntryId& id)
{
    std::shared_ptr<CStoreShared> store = OpenStoreOf(id);
    return store ? store->Support() : nullptr;
}
