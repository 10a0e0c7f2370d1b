#include "ProviderPlatform.h"
#include "CStoreRegistry.h"

#include <cstring>

namespace {

class CSharedLock {
public:
    explicit CSharedLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockShared(&m_lock); }
    ~CSharedLock() { ReleaseSRWLockShared(&m_lock); }
    CSharedLock(const CSharedLock&) = delete;
    CSharedLock& operator=(const CSharedLock&) = delete;

private:
    SRWLOCK& m_lock;
};

class CExclusiveLock {
public:
    explicit CExclusiveLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~CExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    CExclusiveLock(const CExclusiveLock&) = delete;
    CExclusiveLock& operator=(const CExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

} // namespace

bool CStoreRegistry::Insert(const std::wstring& databasePath, const StoreEntry& entry)
{
    CExclusiveLock lock(m_lock);
    return m_entries.emplace(databasePath, entry).second;
}

bool CStoreRegistry::FindByPath(const std::wstring& databasePath, StoreEntry& entry) const
{
    CSharedLock lock(m_lock);
    auto found = m_entries.find(databasePath);
    if (found == m_entries.end())
        return false;
    entry = found->second;
    return true;
}

bool CStoreRegistry::FindByServiceUid(const MAPIUID& serviceUid, StoreEntry& entry) const
{
    CSharedLock lock(m_lock);
    for (const auto& item : m_entries)
        if (std::memcmp(item.second.serviceUid.ab, serviceUid.ab, sizeof(serviceUid.ab)) == 0) {
            entry = item.second;
            return true;
        }
    return false;
}

std::shared_ptr<CStoreShared> CStoreRegistry::SharedByServiceUid(const MAPIUID& serviceUid) const
{
    StoreEntry entry;
    if (!FindByServiceUid(serviceUid, entry))
        return nullptr;
    return entry.shared;
}

bool CStoreRegistry::Erase(const std::wstring& databasePath)
{
    CExclusiveLock lock(m_lock);
    return m_entries.erase(databasePath) != 0;
}

size_t CStoreRegistry::Count() const
{
    CSharedLock lock(m_lock);
    return m_entries.size();
}

bool CStoreRegistry::IsBusy(const std::wstring& databasePath) const
{
    CSharedLock lock(m_lock);
    return m_busy.count(databasePath) != 0;
}

void CStoreRegistry::MarkBusy(const std::wstring& databasePath)
{
    CExclusiveLock lock(m_lock);
    m_busy.insert(databasePath);
}

void CStoreRegistry::ClearBusy(const std::wstring& databasePath)
{
    {
        CExclusiveLock lock(m_lock);
        m_busy.erase(databasePath);
    }
    WakeAllConditionVariable(&m_workEnded);
}

void CStoreRegistry::WaitWhileBusy(const std::wstring& databasePath, CCriticalSection& providerLock)
{
    while (IsBusy(databasePath))
        providerLock.Wait(m_workEnded);
}
