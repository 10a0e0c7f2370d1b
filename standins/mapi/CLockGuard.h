#pragma once
// Scoped ownership of a CRITICAL_SECTION (recursive, as the tables need when
// a view method calls another under the same lock).
#include "MapiStandin.h"

class CLockGuard {
public:
    explicit CLockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
    ~CLockGuard() { LeaveCriticalSection(&m_lock); }
    CLockGuard(const CLockGuard&) = delete;
    CLockGuard& operator=(const CLockGuard&) = delete;

private:
    CRITICAL_SECTION& m_lock;
};
