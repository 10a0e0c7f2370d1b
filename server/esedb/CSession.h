#pragma once
// An ESE session (JET_SESID), which keeps its instance alive.
#include "esedb/CInstance.h"

namespace NJbFramework {

class CSession {
public:
    // Takes the instance and begins a session on it (no user, no password).
    explicit CSession(const CSharedRef<CInstance>& instance);
    // Ends the session, then drops the instance.
    ~CSession();
    CSession(const CSession&) = delete;
    CSession& operator=(const CSession&) = delete;

    void AttachDatabase(const char* file, JET_GRBIT grbit);

    JET_SESID Handle() const { return m_session; }
    const CSharedRef<CInstance>& Instance() const { return m_instance; }

private:
    JET_SESID m_session = kNoHandle;
    CSharedRef<CInstance> m_instance;
};

} // namespace NJbFramework
