#include "Platform.h"

#include "CNAFile.h"

#include <io.h>

#include <cstdio>

CNAFile::~CNAFile()
{
    if (m_descriptor != -1) {
        _commit(m_descriptor);
        _close(m_descriptor);
    }
    if (m_nativeHandle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_nativeHandle));
}

int CNAFile::ReadAt(void* buffer, uint32_t n, uint64_t offset)
{
    // Positional reads of the root go through its descriptor, which no object
    // of this system opens.
    if (m_descriptor == -1)
        return -1;
    if (_lseeki64(m_descriptor, static_cast<__int64>(offset), SEEK_SET) < 0)
        return -1;
    return _read(m_descriptor, buffer, n) == static_cast<int>(n) ? 0 : -1;
}
