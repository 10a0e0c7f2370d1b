#pragma once
// A file on a Win32 handle: positional (overlapped-structure) reads and
// writes, 64-bit positions, an optional unbuffered mode that works in whole
// sectors of the volume, and, while the manage-volume privilege can be held,
// growth through SetFileValidData without zero-filling.
#include "CUtf8IOFile.h"

class WinFile : public CUtf8IOFile {
public:
    WinFile();
    ~WinFile() override;

    int Open(const char* path, uint32_t disposition, uint32_t access, uint32_t share) override;
    int Close() override;
    int Read(void* buffer, uint32_t n, uint32_t* done = nullptr) override;
    int Write(const void* buffer, uint32_t n) override;
    int WriteAt(const void* buffer, uint32_t n, uint64_t offset) override;
    uint64_t Tell() override { return m_position; }
    int Seek(uint64_t offset) override;
    uint64_t GetSize() override { return m_size; }
    int SetSize(uint64_t size) override;
    int Flush() override;
    int GetTimes(uint64_t* created, uint64_t* accessed, uint64_t* written) override;
    int WriteChunked(const void* buffer, uint32_t n) override;
    int ReadAtDirect(void* buffer, uint32_t n, uint64_t offset, uint32_t* got) override;

    void SetChunkSize(uint32_t size) { m_chunkSize = size; }
    bool IsUnbuffered() const { return m_unbuffered; }
    uint32_t GetSectorSize() const { return m_sectorSize; }
    bool HoldsManageVolumePrivilege() const { return m_privilegeHeld; }

    // Bytes per sector of the drive a path lies on (its own drive letter, else
    // the current directory's); 512 when it cannot be measured.
    static uint32_t SectorSizeOfPath(const char* path);

private:
    int Transfer(void* buffer, uint32_t n, bool write, uint32_t* done);

    uint32_t m_chunkSize = 0;
    void* m_file;
    void* m_event;
    uint64_t m_position = 0;
    uint64_t m_size = 0;
    bool m_unbuffered = false;
    uint32_t m_sectorSize = 512;
    bool m_privilegeHeld = false;
};
