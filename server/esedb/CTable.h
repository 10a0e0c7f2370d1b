#pragma once
// An ESE cursor (JET_TABLEID) on a table of a database, or on a temporary
// table made by CColumnInfo (no database then). It keeps the session it was
// opened in, and its database, alive.
#include "esedb/CDatabase.h"

namespace NJbFramework {

class CTable {
public:
    // Takes the database and the database's session and opens the table.
    CTable(const CSharedRef<CDatabase>& database, const char* name, JET_GRBIT grbit);
    // Takes over an open cursor of the session (a temporary table).
    CTable(const CSharedRef<CSession>& session, JET_TABLEID cursor);
    // Closes the cursor, then drops the database and then the session.
    ~CTable();
    CTable(const CTable&) = delete;
    CTable& operator=(const CTable&) = delete;

    // True on a row; false without throwing at either end (-1603) and on a
    // positive warning.
    bool Move(long rows, JET_GRBIT grbit);
    void SetIndex(const char* name);
    // A new key of these bytes and JET_bitSeekEQ: false when no row has it.
    bool SeekExact(const void* key, unsigned long size);
    // The rows whose first key column is this key: a partial-column start
    // limit, SeekGE (its result is not examined), the same key as partial-
    // column end limit and an inclusive upper index range. False when no row
    // lies in the range.
    bool SeekRange(const void* key, unsigned long size);
    // Clears every record's buffer, then JetRetrieveColumns; -1047 (escrow
    // buffer too small) is tolerated, the caller grows its buffers. Returns
    // the engine's result.
    JET_ERR RetrieveColumns(JET_RETRIEVECOLUMN* records, unsigned long count);

    JET_TABLEID Handle() const { return m_cursor; }
    JET_SESID SessionHandle() const { return m_session->Handle(); }
    const CSharedRef<CSession>& Session() const { return m_session; }
    const CSharedRef<CDatabase>& Database() const { return m_database; }

private:
    JET_TABLEID m_cursor = kNoHandle;
    CSharedRef<CSession> m_session;
    CSharedRef<CDatabase> m_database;
};

} // namespace NJbFramework
