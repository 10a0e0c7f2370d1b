#pragma once
// The column list of a table: JetGetTableColumnInfo with JET_ColInfoList
// gives a temporary table, one row per column, which the caller walks through
// the returned CTable, reading the columns that the list record names.
#include "esedb/CTable.h"

namespace NJbFramework {

class CColumnInfo {
public:
    CColumnInfo();
    CColumnInfo(const CColumnInfo&) = delete;
    CColumnInfo& operator=(const CColumnInfo&) = delete;

    // Lists the columns of the table; the list's cursor is a new CTable in
    // the same session, without database.
    CSharedRef<CTable> ListColumns(const CTable& table);
    // The list record of the last listing: column ids of the list's columns
    // (columnidcolumnname, columnidcolumnid, columnidcoltyp, ...), row count.
    const JET_COLUMNLIST& List() const { return m_list; }

private:
    JET_COLUMNLIST m_list;
};

} // namespace NJbFramework
