#pragma once
// An opened ESE database (JET_DBID), which keeps its session alive.
#include "esedb/CSession.h"

namespace NJbFramework {

class CDatabase {
public:
    // Takes the session and opens the (attached) database file.
    CDatabase(const CSharedRef<CSession>& session, const char* file, JET_GRBIT grbit);
    // Closes the database, then drops the session.
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    JET_DBID Handle() const { return m_database; }
    const CSharedRef<CSession>& Session() const { return m_session; }

private:
    JET_DBID m_database = kNoDatabase;
    CSharedRef<CSession> m_session;
};

} // namespace NJbFramework
