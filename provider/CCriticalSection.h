// A critical section that owns itself, and the one scope guard the provider
// takes it with.
#pragma once
#include "ProviderPlatform.h"

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_section); }
    ~CCriticalSection() { DeleteCriticalSection(&m_section); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }
    // Leaves the section (held once by the caller) until condition is woken,
    // then enters it again.
    void Wait(CONDITION_VARIABLE& condition) { SleepConditionVariableCS(&condition, &m_section, INFINITE); }

private:
    CRITICAL_SECTION m_section;
};

class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CCriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~CCriticalSectionLock() { m_section.Leave(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& m_section;
};
