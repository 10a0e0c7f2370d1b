// The archive readers' mutex for the native fuzzer: a recursive mutex, as a
// Win32 mutex is.
#include "ArchiveMutex.h"

#include <mutex>

ArchiveMutex::ArchiveMutex() : m_handle(new std::recursive_mutex) {}

ArchiveMutex::~ArchiveMutex()
{
    delete static_cast<std::recursive_mutex*>(m_handle);
}

void ArchiveMutex::Lock()
{
    static_cast<std::recursive_mutex*>(m_handle)->lock();
}

void ArchiveMutex::Unlock()
{
    static_cast<std::recursive_mutex*>(m_handle)->unlock();
}
