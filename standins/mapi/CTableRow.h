#pragma once
// One row of an in-memory table: an immutable deep copy of the caller's
// property values in a single block, with an index by property id for fast
// look-up. Rows are shared (std::shared_ptr) between the table data and its
// views, so a snapshot view keeps the rows it saw alive after the data
// dropped or replaced them.
#include "MapiStandin.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CTableRow {
public:
    // Copies the values; hr receives MAPI_E_INVALID_PARAMETER for values of
    // unknown types or broken pointers, MAPI_E_NOT_ENOUGH_MEMORY on failure.
    static std::shared_ptr<CTableRow> Create(ULONG cValues, const SPropValue* props, HRESULT& hr);

    ULONG Count() const { return m_count; }
    const SPropValue* Props() const { return m_props; }

    // The first value with this property id (any type), or nullptr.
    const SPropValue* FindId(ULONG propId) const;
    // The value with exactly this tag; a PT_UNSPECIFIED tag matches any
    // type of its id.
    const SPropValue* FindTag(ULONG tag) const;

    // Bytes that identify a value of the index column (type and value).
    static std::string KeyOf(const SPropValue& value);

    // Order of the row in its table data, kept by the data under its lock.
    ULONGLONG rank = 0;

private:
    CTableRow() = default;

    std::unique_ptr<ULONGLONG[]> m_block; // 8-byte aligned storage of the values
    SPropValue* m_props = nullptr;
    ULONG m_count = 0;
    std::vector<std::pair<ULONG, ULONG>> m_byId; // (property id, index), sorted
};
