// The search folders a client made in this process: each one's entry
// identifier with its display name and the extended folder flags it was
// made with, so that a search folder opened again by its identifier shows
// its name. Kept in memory only, for the life of the module.
//
// Every lookup and insertion holds the registry's lock, so a lookup never
// meets the map half changed; results are copies.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"
#include "CEntryId.h"

#include <map>
#include <string>
#include <vector>

struct SSearchFolderEntry {
    std::wstring name;
    std::vector<BYTE> extendedFlags;
};

class CSearchFolderRegistry {
public:
    CSearchFolderRegistry() = default;
    CSearchFolderRegistry(const CSearchFolderRegistry&) = delete;
    CSearchFolderRegistry& operator=(const CSearchFolderRegistry&) = delete;

    // The serial number of the next search folder: 1 for the first one made
    // in the process, then counting up.
    ULONG NextSerial();

    // Registers (or replaces) the entry of an identifier.
    void Insert(const CEntryId& id, const SSearchFolderEntry& entry);
    // False when the identifier was never registered.
    bool Find(const CEntryId& id, SSearchFolderEntry& entry) const;
    size_t Count() const;

private:
    // The 72 bytes with the reserved word cleared: identifiers that are
    // equal as entry identifiers find the same entry.
    using Key = std::vector<BYTE>;
    static Key KeyOf(const CEntryId& id);

    mutable CCriticalSection m_lock;
    std::map<Key, SSearchFolderEntry> m_entries;
    volatile LONG m_serial = 0;
};
