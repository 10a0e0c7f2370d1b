#pragma once
// An unnamed Win32 mutex, created not owned; each archive reader holds one
// and runs its entry and sector I/O under it.
class ArchiveMutex {
public:
    ArchiveMutex();
    ~ArchiveMutex();
    ArchiveMutex(const ArchiveMutex&) = delete;
    ArchiveMutex& operator=(const ArchiveMutex&) = delete;

    void Lock();
    void Unlock();

private:
    void* m_handle;
};

// Holds an ArchiveMutex for one scope.
class ArchiveMutexLock {
public:
    explicit ArchiveMutexLock(ArchiveMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~ArchiveMutexLock() { m_mutex.Unlock(); }
    ArchiveMutexLock(const ArchiveMutexLock&) = delete;
    ArchiveMutexLock& operator=(const ArchiveMutexLock&) = delete;

private:
    ArchiveMutex& m_mutex;
};
