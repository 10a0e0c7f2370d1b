#pragma once
// A set of columns fetched together with one JetRetrieveColumns call: the
// array of JET_RETRIEVECOLUMN records (36 bytes each), whose value buffers the
// set owns (C heap), and the ordered list of the columns' descriptors, each
// pointing at its own record. Fetching grows a buffer to the exact size of a
// longer value and fetches again, unless the value is longer than the set's
// maximum (0 = none): then the value stays truncated in its short buffer.
#include "esedb/CTable.h"

#include <memory>
#include <vector>

namespace NJbFramework {

struct SColumnDescriptor {
    JET_COLUMNID columnid;
    JET_GRBIT grbit;             // always 0 in the server
    JET_RETRIEVECOLUMN* record;  // into the set's array; re-pointed when it moves
};

class CColumnSet {
public:
    explicit CColumnSet(unsigned long maximumSize = 0);
    // Frees every record's buffer, the array and the list.
    ~CColumnSet();
    CColumnSet(const CColumnSet&) = delete;
    CColumnSet& operator=(const CColumnSet&) = delete;

    // Appends a descriptor for the column with a new record (empty buffer, so
    // that the first fetch sizes it). The descriptor belongs to the set and
    // stays valid while the set lives.
    SColumnDescriptor* AddColumn(JET_COLUMNID columnid, JET_GRBIT grbit = 0);
    // Sets itagSequence of every record, then retrieves until no buffer grew.
    void Fetch(CTable& table, unsigned long itagSequence);

    unsigned long Count() const { return m_count; }
    JET_RETRIEVECOLUMN* Records() const { return m_records; }
    unsigned long MaximumSize() const { return m_maximumSize; }

private:
    std::vector<std::unique_ptr<SColumnDescriptor>> m_columns;
    JET_RETRIEVECOLUMN* m_records = nullptr;
    unsigned long m_count = 0;
    unsigned long m_maximumSize;
};

} // namespace NJbFramework
