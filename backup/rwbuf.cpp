#include "Platform.h"

#include "rwbuf.h"

#include "ArchiveStatus.h"
#include "WinFile.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
const uint32_t kAccessUnbuffered = 0x1000u;
}

template <class File>
uint32_t rwbuf<File>::s_cacheKiB = 2048;

template <class File>
rwbuf<File>::~rwbuf()
{
    Close();
}

template <class File>
void rwbuf<File>::FreeCache()
{
    free(m_allocation);
    m_allocation = nullptr;
    m_allocationSize = 0;
    m_cache = nullptr;
    m_capacity = 0;
    m_valid = m_dirtyStart = m_dirtyEnd = 0;
    m_windowStart = 0;
}

template <class File>
void rwbuf<File>::Configure(uint32_t sectorSize, bool readOnlyExisting)
{
    m_sector = sectorSize ? sectorSize : 512;
    m_valid = m_dirtyStart = m_dirtyEnd = 0;
    m_windowStart = 0;
    m_capacity = 0;
    size_t cacheSize = static_cast<size_t>(s_cacheKiB) << 10;
    if (cacheSize < m_sector || m_size == ~0ull)
        return;
    size_t capacity = cacheSize / m_sector * m_sector;
    if (readOnlyExisting) {
        if (m_size == 0)
            return;
        if (m_size < capacity)
            capacity = static_cast<size_t>(RoundUp(m_size));
    }
    m_capacity = capacity;
}

template <class File>
bool rwbuf<File>::EnsureAllocation()
{
    if (m_capacity == 0)
        return false;
    size_t needed = m_capacity + m_sector - 1;
    if (!m_allocation || m_allocationSize < needed) {
        free(m_allocation);
        m_allocation = static_cast<uint8_t*>(malloc(needed));
        if (!m_allocation) {
            m_allocationSize = 0;
            m_capacity = 0;
            m_cache = nullptr;
            return false;
        }
        m_allocationSize = needed;
    }
    uintptr_t at = reinterpret_cast<uintptr_t>(m_allocation);
    m_cache = reinterpret_cast<uint8_t*>((at + m_sector - 1) / m_sector * m_sector);
    return true;
}

template <class File>
int rwbuf<File>::Open(const char* path, uint32_t disposition, uint32_t access, uint32_t share)
{
    m_unbuffered = (access & kAccessUnbuffered) != 0;
    int rc = File::Open(path, disposition, access, share);
    if (rc)
        return rc;
    m_position = 0;
    m_size = File::GetSize();
    Configure(File::SectorSizeOfPath(path), disposition == 1 && access == 0x80000000u);
    return ARCERR_OK;
}

template <class File>
int rwbuf<File>::Fill(size_t from, size_t to)
{
    uint32_t want = static_cast<uint32_t>(to - from);
    // Unbuffered reads go in whole sectors; the bytes past the wanted end are
    // either past the file's end or valid file contents, so both are fine.
    uint32_t ask = m_unbuffered ? static_cast<uint32_t>(RoundUp(want)) : want;
    if (from + ask > m_capacity)
        ask = want;
    uint32_t got = 0;
    int rc = File::ReadAtDirect(m_cache + from, ask, m_windowStart + from, &got);
    if (rc)
        return rc;
    return got >= want ? ARCERR_OK : -1;
}

template <class File>
int rwbuf<File>::WriteBack()
{
    if (m_dirtyEnd <= m_dirtyStart)
        return ARCERR_OK;
    size_t start = m_dirtyStart;
    size_t end = m_dirtyEnd;
    if (m_unbuffered) {
        start = static_cast<size_t>(RoundDown(start));
        size_t rounded = static_cast<size_t>(RoundUp(end));
        if (rounded != end) {
            if (m_windowStart + end >= m_size) {
                // The last sector of the file: zero-padded, and the file
                // grows to the whole sector.
                memset(m_cache + end, 0, rounded - end);
                if (m_valid < rounded)
                    m_valid = rounded;
                m_size = m_windowStart + rounded;
            }
            end = rounded;
        }
    }
    int rc = File::WriteAt(m_cache + start, static_cast<uint32_t>(end - start), m_windowStart + start);
    m_dirtyStart = m_dirtyEnd = 0;
    return rc;
}

template <class File>
int rwbuf<File>::ReadAt(void* buffer, uint32_t n, uint64_t offset)
{
    if (n == 0)
        return ARCERR_OK;
    uint64_t end = offset + n;
    if (end < offset || end > m_size || RoundUp(end) < end)
        return -1;
    if (m_capacity == 0 || !EnsureAllocation()) {
        uint32_t got = 0;
        int rc = File::ReadAtDirect(buffer, n, offset, &got);
        return rc ? rc : (got == n ? ARCERR_OK : -1);
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        bool inWindow = m_valid > 0 && offset >= m_windowStart && offset < m_windowStart + m_valid;
        if (!inWindow && m_valid > 0 && offset >= m_windowStart + m_valid && offset < m_windowStart + m_capacity) {
            // The request starts just past the valid data but inside the
            // window: extend the valid data up to it (whole sectors).
            uint64_t fillEnd = RoundUp(offset + n);
            if (fillEnd > m_size)
                fillEnd = m_size;
            if (fillEnd > m_windowStart + m_capacity)
                fillEnd = m_windowStart + m_capacity;
            size_t to = static_cast<size_t>(fillEnd - m_windowStart);
            if (int rc = Fill(m_valid, to))
                return rc;
            m_valid = to;
            inWindow = true;
        }
        if (!inWindow) {
            if (int rc = WriteBack())
                return rc;
            m_windowStart = RoundDown(offset);
            m_valid = 0;
            uint64_t fillEnd = RoundUp(offset + n);
            if (fillEnd > m_size)
                fillEnd = m_size;
            if (fillEnd > m_windowStart + m_capacity)
                fillEnd = m_windowStart + m_capacity;
            size_t to = static_cast<size_t>(fillEnd - m_windowStart);
            if (int rc = Fill(0, to))
                return rc;
            m_valid = to;
        }
        size_t at = static_cast<size_t>(offset - m_windowStart);
        size_t take = m_valid - at;
        if (take > n)
            take = n;
        memcpy(out, m_cache + at, take);
        out += take;
        offset += take;
        n -= static_cast<uint32_t>(take);
    }
    return ARCERR_OK;
}

template <class File>
int rwbuf<File>::WriteAt(const void* buffer, uint32_t n, uint64_t offset)
{
    if (n == 0)
        return ARCERR_OK;
    uint64_t end = offset + n;
    if (end < offset || offset > m_size || RoundUp(end) < end)
        return -1;
    if (m_capacity == 0 || !EnsureAllocation()) {
        int rc = File::WriteAt(buffer, n, offset);
        if (rc == ARCERR_OK && end > m_size)
            m_size = end;
        return rc;
    }
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    while (n > 0) {
        bool fits = offset >= m_windowStart && offset <= m_windowStart + m_valid &&
                    offset < m_windowStart + m_capacity;
        if (!fits) {
            if (int rc = WriteBack())
                return rc;
            m_windowStart = RoundDown(offset);
            m_valid = 0;
            size_t head = static_cast<size_t>(offset - m_windowStart);
            if (head != 0) {
                // The sector the write starts in holds file data: read it so
                // that only whole, correct sectors are written.
                uint64_t sectorEnd = m_windowStart + m_sector;
                if (sectorEnd > m_size)
                    sectorEnd = m_size;
                size_t to = static_cast<size_t>(sectorEnd - m_windowStart);
                if (to < head)
                    return -1;
                if (int rc = Fill(0, to)) {
                    m_valid = 0;
                    return rc;
                }
                m_valid = to;
            }
            if (m_valid < head)
                return -1;
        }
        size_t at = static_cast<size_t>(offset - m_windowStart);
        size_t take = m_capacity - at;
        if (take > n)
            take = n;
        size_t writeEnd = at + take;
        size_t newValid = writeEnd > m_valid ? writeEnd : m_valid;
        size_t sectorStart = static_cast<size_t>(RoundDown(writeEnd));
        if (writeEnd > m_valid && sectorStart != writeEnd && sectorStart >= m_valid &&
            m_windowStart + sectorStart < m_size) {
            // The write ends inside a sector past the valid data that still
            // holds file data: bring that sector in first. The bytes between
            // the old valid end and that sector are all overwritten below.
            uint64_t sectorEnd = m_windowStart + sectorStart + m_sector;
            if (sectorEnd > m_size)
                sectorEnd = m_size;
            size_t to = static_cast<size_t>(sectorEnd - m_windowStart);
            if (to > m_capacity)
                to = m_capacity;
            if (int rc = Fill(sectorStart, to))
                return rc;
            if (to > newValid)
                newValid = to;
        }
        memcpy(m_cache + at, in, take);
        m_valid = newValid;
        if (m_dirtyEnd <= m_dirtyStart) {
            m_dirtyStart = at;
            m_dirtyEnd = writeEnd;
        } else {
            if (at < m_dirtyStart)
                m_dirtyStart = at;
            if (writeEnd > m_dirtyEnd)
                m_dirtyEnd = writeEnd;
        }
        if (m_windowStart + m_dirtyEnd > m_size)
            m_size = m_windowStart + m_dirtyEnd;
        in += take;
        offset += take;
        n -= static_cast<uint32_t>(take);
        if (writeEnd == m_capacity) {
            if (int rc = WriteBack())
                return rc;
            m_windowStart += m_capacity;
            m_valid = 0;
        }
    }
    return ARCERR_OK;
}

template <class File>
int rwbuf<File>::Read(void* buffer, uint32_t n, uint32_t* done)
{
    if (done)
        *done = 0;
    int rc = ReadAt(buffer, n, m_position);
    if (rc == ARCERR_OK) {
        m_position += n;
        if (done)
            *done = n;
    }
    return rc;
}

template <class File>
int rwbuf<File>::Write(const void* buffer, uint32_t n)
{
    int rc = WriteAt(buffer, n, m_position);
    if (rc == ARCERR_OK)
        m_position += n;
    return rc;
}

template <class File>
int rwbuf<File>::Seek(uint64_t offset)
{
    m_position = offset;
    return offset > m_size ? -1 : ARCERR_OK;
}

template <class File>
int rwbuf<File>::SetSize(uint64_t size)
{
    if (int rc = WriteBack())
        return rc;
    if (m_unbuffered && RoundUp(size) < size)
        return -1;
    if (int rc = File::SetSize(size))
        return rc;
    m_size = size;
    if (m_windowStart >= size) {
        m_valid = 0;
    } else if (m_windowStart + m_valid > size) {
        m_valid = static_cast<size_t>(size - m_windowStart);
    }
    return ARCERR_OK;
}

template <class File>
int rwbuf<File>::Close()
{
    int result = WriteBack();
    FreeCache();
    int rc = File::Close();
    return result ? result : rc;
}

template class rwbuf<WinFile>;

CNAFile* NewWinFileCache()
{
    return new (std::nothrow) rwbuf<WinFile>();
}
