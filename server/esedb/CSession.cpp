#include "Platform.h"
#include "esedb/CSession.h"

namespace NJbFramework {

// A failing begin throws from here; the member holder then drops the instance.
CSession::CSession(const CSharedRef<CInstance>& instance) : m_instance(instance)
{
    CheckJbResult(kJetBeginSession, JetBeginSessionA(m_instance->Handle(), &m_session, nullptr, nullptr));
}

CSession::~CSession()
{
    if (m_session != kNoHandle) {
        try {
            CheckJbResult(kJetEndSession, JetEndSession(m_session, 0));
        } catch (...) {
        }
        m_session = kNoHandle;
    }
    m_instance.Reset();
}

void CSession::AttachDatabase(const char* file, JET_GRBIT grbit)
{
    CheckJbResult(kJetAttachDatabase, JetAttachDatabaseA(m_session, file, grbit));
}

} // namespace NJbFramework
