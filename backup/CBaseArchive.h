#pragma once
// The common interface of the archive readers (and the newer format's
// writer). Methods return ARCERR_* status codes and let no exception out.
// The virtual methods keep this order.
#include "ArchiveFormat.h"
#include "ArchiveMutex.h"

#include <cstdint>
#include <vector>

class CNAFile;

class CBaseArchive {
public:
    CBaseArchive() = default;
    virtual ~CBaseArchive() = default;
    CBaseArchive(const CBaseArchive&) = delete;
    CBaseArchive& operator=(const CBaseArchive&) = delete;

    // `base` (may be null) serves a differential archive; `forbiddenId` (may
    // be null) is an archive id this archive must not carry.
    virtual int Open(const ArchiveOpenParams* params, HdArchiveHeader** headerOut, CBaseArchive* base,
                     const uint64_t* forbiddenId) = 0;
    // A file object for a location, through event callback code 4.
    virtual CNAFile* OpenVolumeFile(const ArchiveRecord* location, int kind, int* status) = 0;
    // The next data entry, unpacked: its header, its unit bitmap (empty when
    // it has none) and its unit data.
    virtual int ReadEntry(HdEntryHeader* entry, std::vector<uint8_t>* bitmap, std::vector<uint8_t>* data) = 0;
    virtual int WriteEntry(const HdEntryHeader* entry, const uint8_t* bitmap, const uint8_t* data,
                           uint32_t dataLength) = 0;
    virtual CBaseArchive* GetBaseArchive() = 0;
    // Sectors of 512 bytes. `done` (may be null) gets the sectors transferred.
    virtual int Read(int mode, uint32_t firstSector, uint32_t count, void* buffer, uint32_t* done) = 0;
    // A copy of the whole header with the partition area deciphered; free it
    // with FreeArchiveHeader.
    virtual int GetHeaderCopy(HdArchiveHeader** header) = 0;
    virtual int BuildIndex() = 0;
    virtual int LoadCompanion(CNAFile* file) = 0;
    virtual int SaveCompanion(CNAFile* file) = 0;
    virtual const ArchiveOpenParams* GetParams() = 0;
    virtual const HdArchiveHeader* GetHeader() = 0;
    virtual int AttachBase(CBaseArchive* child) = 0;
    virtual void Abort() { m_aborted = true; }
    virtual int DeleteVolumes() = 0;

    bool IsIndexBuilt() const { return m_indexBuilt; }

protected:
    ArchiveMutex m_mutex;
    bool m_aborted = false;
    bool m_indexBuilt = false;
};

// Opens an archive of either format: the newer reader first, the older one
// when the newer answers ARCERR_FORMAT. On success `*header` holds a header
// copy (free with FreeArchiveHeader) and `*archive` the reader.
int OpenArchive(const ArchiveOpenParams* params, HdArchiveHeader** header, CBaseArchive** archive,
                const uint64_t* forbiddenId);
int CloseArchive(CBaseArchive* archive);

// The system's own event callback: answers code 4 with a cached Win32 file
// object, and 0 to every other code.
int ArchiveFileFactory(uint8_t code, void* arg, void* context, void* out);
