#pragma once
// The root of the archive layer's file objects: one abstract file whose paths
// are UTF-8 strings, so that the archive readers never touch Win32 directly.
// Results are ARCERR_* status codes (0 = success), errno values for the path
// helpers, or -1 where a method says so. The virtual methods keep this order;
// the reserved slots hold places that this system does not use.
#include <cstdint>

class CNAFile {
public:
    CNAFile() = default;
    // Commits and closes the descriptor and closes the native handle when
    // they are set; in this system they never are.
    virtual ~CNAFile();
    CNAFile(const CNAFile&) = delete;
    CNAFile& operator=(const CNAFile&) = delete;

    // disposition 1 open existing, 2 create always; access bit 31 read, bit
    // 30 write, bit 12 unbuffered; share 0 = read and write shared, else
    // 0x10 share read, 0x20 share write, 0x40 / 0x80 remove read / write.
    virtual int Open(const char* path, uint32_t disposition, uint32_t access, uint32_t share) = 0;
    virtual int Close() = 0;
    // Reads at the position and advances it; `done` (if given) gets the bytes read.
    virtual int Read(void* buffer, uint32_t n, uint32_t* done = nullptr) = 0;
    virtual int ReadAt(void* buffer, uint32_t n, uint64_t offset);
    virtual int Write(const void* buffer, uint32_t n) = 0;
    virtual int WriteAt(const void* buffer, uint32_t n, uint64_t offset) = 0;
    virtual uint64_t Tell() = 0;
    virtual int Seek(uint64_t offset) = 0;
    virtual uint64_t GetSize() = 0;
    virtual uint64_t GetMaxSize() { return ~0ull; }
    virtual int SetSize(uint64_t size) = 0;
    virtual int Reserved12() { return 0; }
    virtual char GetPathSeparator() { return '/'; }
    virtual int MakePath(const char* path, bool isFilePath) = 0;
    virtual int DeleteFile(const char* path) = 0;
    virtual int Flush() = 0;
    virtual int MakeDir(const char* path) = 0;
    virtual int RemoveDir(const char* path) = 0;
    virtual int Rename(const char* from, const char* to) = 0;
    virtual int GetAttributes(const char* path) = 0;
    virtual int SetAttributes(const char* path, uint32_t attributes) = 0;
    // FILETIME values as 64-bit numbers; any pointer may be null.
    virtual int GetTimes(uint64_t* created, uint64_t* accessed, uint64_t* written) = 0;
    virtual void* Reserved23() { return nullptr; }
    virtual int Reserved24() { return 0; }
    virtual int WriteChunked(const void* buffer, uint32_t n) = 0;
    // Positional read that bypasses any cache; `got` = n clipped to the size.
    virtual int ReadAtDirect(void* buffer, uint32_t n, uint64_t offset, uint32_t* got) = 0;

protected:
    int m_descriptor = -1;
    intptr_t m_nativeHandle = -1;
};
