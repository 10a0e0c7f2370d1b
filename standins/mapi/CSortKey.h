#pragma once
// Order-preserving byte keys for table sorting. A row's key is the
// concatenation of one encoding per sort column, built so that comparing two
// keys byte by byte gives the order the sort set asks for:
// - each column's encoding is prefix-free, so a difference is always decided
//   inside the column it belongs to;
// - a descending column is the bitwise complement of its ascending encoding;
// - a missing (or error) value sorts before every value;
// - strings use the locale's case-insensitive sort key, as MAPI's tables
//   sort them; binary values order by length, then bytes;
// - a multi-valued column orders its arrays element by element.
// Sorting then costs one key per row plus memcmp, not a locale comparison
// per pair.
#include "MapiStandin.h"

#include <string>
#include <vector>

class CTableRow;

class CSortKey {
public:
    // Checks a sort order set; S_OK, MAPI_E_INVALID_PARAMETER, or
    // MAPI_E_TOO_COMPLEX for categories and multi-value instance sorting.
    static HRESULT Validate(const SSortOrderSet* sortOrder);

    explicit CSortKey(const SSortOrderSet* sortOrder);

    bool IsEmpty() const { return m_columns.empty(); }
    std::string KeyOf(const CTableRow& row) const;
    // The sort set as given (for QuerySortOrder).
    const std::vector<SSortOrder>& Columns() const { return m_columns; }

private:
    static void AppendValue(std::string& key, const SPropValue& value);
    std::vector<SSortOrder> m_columns;
};
