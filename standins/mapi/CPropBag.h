#pragma once
// The properties of one MAPI object held in memory: one value per property
// id, each an immutable deep copy (shared, so copying a bag is cheap and a
// working copy never disturbs the original).
#include "MapiStandin.h"

#include <map>
#include <memory>
#include <vector>

class CTableRow;

class CPropBag {
public:
    // Stores a copy; replaces any value with the same id.
    HRESULT Set(const SPropValue& value);
    bool Delete(ULONG propId);
    // The value for the tag's id (any type), or nullptr.
    const SPropValue* Find(ULONG propId) const;
    std::vector<ULONG> Tags() const;
    size_t Size() const { return m_values.size(); }
    void Clear() { m_values.clear(); }

private:
    std::map<ULONG, std::shared_ptr<CTableRow>> m_values;
};
