#include "ProviderPlatform.h"
#include "SearchFolderRegistry.h"

ULONG CSearchFolderRegistry::NextSerial()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_serial));
}

CSearchFolderRegistry::Key CSearchFolderRegistry::KeyOf(const CEntryId& id)
{
    CEntryId copy = id;
    copy.reserved = 0;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&copy);
    return Key(bytes, bytes + sizeof(CEntryId));
}

void CSearchFolderRegistry::Insert(const CEntryId& id, const SSearchFolderEntry& entry)
{
    Key key = KeyOf(id);
    SSearchFolderEntry copy = entry;
    AcquireSRWLockExclusive(&m_lock);
    try {
        m_entries[std::move(key)] = std::move(copy);
    } catch (...) {
        ReleaseSRWLockExclusive(&m_lock);
        throw;
    }
    ReleaseSRWLockExclusive(&m_lock);
}

bool CSearchFolderRegistry::Find(const CEntryId& id, SSearchFolderEntry& entry) const
{
    const Key key = KeyOf(id);
    AcquireSRWLockShared(&m_lock);
    bool found = false;
    try {
        auto it = m_entries.find(key);
        if (it != m_entries.end()) {
            entry = it->second;
            found = true;
        }
    } catch (...) {
        ReleaseSRWLockShared(&m_lock);
        throw;
    }
    ReleaseSRWLockShared(&m_lock);
    return found;
}

size_t CSearchFolderRegistry::Count() const
{
    AcquireSRWLockShared(&m_lock);
    const size_t count = m_entries.size();
    ReleaseSRWLockShared(&m_lock);
    return count;
}
