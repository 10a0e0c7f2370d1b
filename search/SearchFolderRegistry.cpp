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
    CCriticalSectionLock lock(m_lock);
    m_entries[std::move(key)] = std::move(copy);
}

bool CSearchFolderRegistry::Find(const CEntryId& id, SSearchFolderEntry& entry) const
{
    const Key key = KeyOf(id);
    CCriticalSectionLock lock(m_lock);
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return false;
    entry = it->second;
    return true;
}

size_t CSearchFolderRegistry::Count() const
{
    CCriticalSectionLock lock(m_lock);
    return m_entries.size();
}
