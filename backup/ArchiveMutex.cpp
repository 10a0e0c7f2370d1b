#include "Platform.h"

#include "ArchiveMutex.h"

ArchiveMutex::ArchiveMutex() : m_handle(CreateMutexW(nullptr, FALSE, nullptr)) {}

ArchiveMutex::~ArchiveMutex()
{
    if (m_handle)
        CloseHandle(m_handle);
}

void ArchiveMutex::Lock()
{
    if (m_handle)
        WaitForSingleObject(m_handle, INFINITE);
}

void ArchiveMutex::Unlock()
{
    if (m_handle)
        ReleaseMutex(m_handle);
}
