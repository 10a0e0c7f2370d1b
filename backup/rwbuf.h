#pragma once
// A write-back cache over one window of a file, always aligned to the
// volume's sector size, so that an unbuffered file is only ever read and
// written in whole sectors. Invariants: the window starts at a sector
// multiple; its first `m_valid` bytes are the file's current contents
// (including changes not yet written); the dirty range lies inside them.
// Reads never run past the logical end. Without a cache (none configured, or
// its allocation failed) every call goes straight to the file below.
#include "CNAFile.h"

#include <cstddef>
#include <cstdint>

template <class File>
class rwbuf : public File {
public:
    // The cache size in KiB; 2048 KiB unless a caller changes it before Open.
    static uint32_t s_cacheKiB;

    rwbuf() = default;
    ~rwbuf() override;

    int Open(const char* path, uint32_t disposition, uint32_t access, uint32_t share) override;
    int Close() override;
    int Read(void* buffer, uint32_t n, uint32_t* done = nullptr) override;
    int ReadAt(void* buffer, uint32_t n, uint64_t offset) override;
    int Write(const void* buffer, uint32_t n) override;
    int WriteAt(const void* buffer, uint32_t n, uint64_t offset) override;
    uint64_t Tell() override { return m_position; }
    int Seek(uint64_t offset) override;
    uint64_t GetSize() override { return m_size; }
    int SetSize(uint64_t size) override;

    bool HasCache() const { return m_capacity != 0; }

private:
    void Configure(uint32_t sectorSize, bool readOnlyExisting);
    bool EnsureAllocation();
    void FreeCache();
    int WriteBack();
    // Fills window bytes [from, to) from the file; every fill must be complete.
    int Fill(size_t from, size_t to);
    uint64_t RoundUp(uint64_t v) const { return (v + m_sector - 1) / m_sector * m_sector; }
    uint64_t RoundDown(uint64_t v) const { return v / m_sector * m_sector; }

    bool m_unbuffered = false;
    uint8_t* m_allocation = nullptr;
    size_t m_allocationSize = 0;
    uint8_t* m_cache = nullptr;
    size_t m_capacity = 0;
    uint64_t m_position = 0;
    uint32_t m_sector = 512;
    uint64_t m_windowStart = 0;
    size_t m_valid = 0;
    size_t m_dirtyStart = 0;
    size_t m_dirtyEnd = 0;
    uint64_t m_size = 0;
};

class WinFile;
// The file object the archive readers receive; null when out of memory.
CNAFile* NewWinFileCache();
