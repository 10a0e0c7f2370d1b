#include "Platform.h"
#include "esedb/CDatabase.h"

namespace NJbFramework {

CDatabase::CDatabase(const CSharedRef<CSession>& session, const char* file, JET_GRBIT grbit) : m_session(session)
{
    CheckJbResult(kJetOpenDatabase, JetOpenDatabaseA(m_session->Handle(), file, nullptr, &m_database, grbit));
}

CDatabase::~CDatabase()
{
    if (m_database != kNoDatabase) {
        try {
            CheckJbResult(kJetCloseDatabase, JetCloseDatabase(m_session->Handle(), m_database, 0));
        } catch (...) {
        }
        m_database = kNoDatabase;
    }
    m_session.Reset();
}

} // namespace NJbFramework
