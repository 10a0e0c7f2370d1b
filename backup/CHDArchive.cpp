#include "Platform.h"

#include "CHDArchive.h"

#include "ArchiveCipher.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "CCrc32Sign.h"
#include "CNAFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>

namespace {

const uint32_t kAccessRead = 0x80000000u;
const uint32_t kAccessWrite = 0x40000000u;
// Largest unpacked part an entry may claim; anything larger is damage.
const uint64_t kMaxPartLength = 256ull << 20;
// No codec expands a stored byte into more than this many bytes (zlib's
// limit is about 1032); a block that claims more is damage, caught before
// anything is allocated for it.
const uint64_t kMaxExpansion = 1100;
// What a packed block may carry beyond its unpacked length: a codec's own
// header (LZRW3's flag word, zlib's header and check value) and slack for
// packers that do not fall back to storing.
const uint64_t kMaxPackedOverhead = 1024;
const size_t kPaddingPiece = 0x100000;
// What the end of every volume keeps free: a padding entry header and the
// closing entry with the largest record a link may carry.
const uint64_t kVolumeReserve = 2 * kHdEntryHeaderLength + kMaxBaseRecordLength;

uint32_t Get32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

unsigned PopCount(uint8_t b)
{
    unsigned n = 0;
    for (; b; b &= b - 1)
        ++n;
    return n;
}

uint64_t CountPresent(const uint8_t* bitmap, uint32_t units)
{
    uint64_t n = 0;
    for (uint32_t i = 0; i < units / 8; ++i)
        n += PopCount(bitmap[i]);
    if (units % 8)
        n += PopCount(bitmap[units / 8] & ((1u << (units % 8)) - 1));
    return n;
}

bool IsBitSet(const uint8_t* bitmap, uint64_t i)
{
    return (bitmap[i / 8] >> (i % 8)) & 1;
}

bool IsSectorKind(uint8_t flags)
{
    uint8_t kind = flags & kEntryKindMask;
    return kind != kEntryKindLink && kind != kEntryKindEnd && kind != kEntryKindPadding &&
           kind != kEntryKindAbortEnd;
}

std::string FolderOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string FileNameOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The folder one level above the folder of `path`, with the file name.
std::string OneFolderUp(const std::string& path)
{
    std::string folder = FolderOf(path);
    if (folder.size() < 2)
        return std::string();
    size_t cut = folder.find_last_of("\\/", folder.size() - 2);
    if (cut == std::string::npos)
        return std::string();
    return folder.substr(0, cut + 1) + FileNameOf(path);
}

std::string NormalisedPath(const std::string& path)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return path;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], n);
    wchar_t full[4096];
    DWORD length = GetFullPathNameW(wide.c_str(), 4096, full, nullptr);
    if (length == 0 || length >= 4096)
        return path;
    CharUpperBuffW(full, length);
    int m = WideCharToMultiByte(CP_UTF8, 0, full, length, nullptr, 0, nullptr, nullptr);
    std::string out(m, '\0');
    WideCharToMultiByte(CP_UTF8, 0, full, length, &out[0], m, nullptr, nullptr);
    return out;
}

std::vector<uint8_t> RecordBytes(const ArchiveRecord* record)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(record);
    return std::vector<uint8_t>(p, p + record->length);
}

const ArchiveRecord* AsRecord(const std::vector<uint8_t>& bytes)
{
    return reinterpret_cast<const ArchiveRecord*>(bytes.data());
}

bool IsWholeRecord(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < 4)
        return false;
    uint16_t length;
    memcpy(&length, bytes.data(), 2);
    return length >= 4 && length <= bytes.size() && GetRecordPath(AsRecord(bytes)) != nullptr;
}

std::vector<uint8_t> RecordWithPath(const std::vector<uint8_t>& record, const std::string& path, uint8_t type)
{
    ArchiveRecord* fresh = NewArchiveLocation(path.c_str());
    if (!fresh)
        throw std::bad_alloc();
    std::vector<uint8_t> out = RecordBytes(fresh);
    FreeArchiveRecord(fresh);
    if (record.size() >= 160)
        memcpy(out.data() + 3, record.data() + 3, 157);  // kind and location parameters
    out[2] = type;
    return out;
}

int StatusOfErrno(int error)
{
    switch (error) {
    case 0:
    case ENOENT:
        return ARCERR_OK;
    case EACCES:
        return ARCERR_NOT_POSSIBLE;
    case ENOMEM:
        return ARCERR_NO_MEMORY;
    default:
        return ARCERR_IO;
    }
}

}  // namespace

struct CHDArchive::SVolume {
    std::vector<uint8_t> record;
    std::string path;
    std::unique_ptr<CNAFile> file;
    uint64_t size = 0;
    std::vector<uint8_t> header;
    CExtentIndex index;

    HdArchiveHeader* Header() { return reinterpret_cast<HdArchiveHeader*>(header.data()); }
};

struct CHDArchive::SCachedEntry {
    size_t volume = ~size_t(0);
    uint64_t offset = 0;
    HdEntryHeader header{};
    std::vector<uint8_t> bitmap;
    std::vector<uint8_t> data;
    std::vector<uint32_t> rank;  // present units before each bitmap byte
};

CHDArchive::CHDArchive() = default;

CHDArchive::~CHDArchive()
{
    if (m_writing)
        m_writeFile.reset();
    if (m_child)
        static_cast<CHDArchive*>(m_child)->m_base = nullptr;
    if (m_base) {
        if (m_ownsBase) {
            delete m_base;
        } else {
            m_base->AttachBase(nullptr);
        }
    }
}

const HdArchiveHeader* CHDArchive::GetHeader()
{
    if (m_volumes.empty() || m_volumes[m_current]->header.size() < kHdFixedHeaderLength)
        return nullptr;
    return m_volumes[m_current]->Header();
}

std::string CHDArchive::GetVolumePath(size_t index) const
{
    return index < m_volumes.size() ? m_volumes[index]->path : std::string();
}

void CHDArchive::Cipher(void* data, size_t length, uint64_t position) const
{
    if (m_enciphered)
        ArchiveCipher(data, length, m_key, position);
}

int CHDArchive::Callback(uint8_t code, void* arg, void* out)
{
    if (!m_params.eventCallback)
        return 0;
    return m_params.eventCallback(code, arg, m_params.eventContext, out);
}

CNAFile* CHDArchive::OpenVolumeFile(const ArchiveRecord* location, int kind, int* status)
{
    (void)kind;
    if (!location) {
        if (status)
            *status = ARCERR_BAD_ARGUMENT;
        return nullptr;
    }
    CNAFile* file = nullptr;
    int rc = m_params.eventCallback
                 ? m_params.eventCallback(ARCCB_CREATE_FILE, const_cast<ArchiveRecord*>(location),
                                          m_params.eventContext, &file)
                 : ArchiveFileFactory(ARCCB_CREATE_FILE, const_cast<ArchiveRecord*>(location), nullptr, &file);
    if (rc == 0 && !file)
        rc = ARCERR_NO_MEMORY;
    if (status)
        *status = rc;
    return rc == 0 ? file : nullptr;
}

int CHDArchive::OpenFile(const std::string& path, std::unique_ptr<CNAFile>& file, bool allowWrite)
{
    std::vector<uint8_t> location = RecordWithPath(m_location, path, kRecordChain);
    int rc = 0;
    file.reset(OpenVolumeFile(AsRecord(location), 0, &rc));
    if (!file)
        return rc ? rc : ARCERR_NO_MEMORY;
    if (allowWrite && !m_params.readOnly) {
        rc = file->Open(path.c_str(), 1, kAccessRead | kAccessWrite, 0);
        if (rc == ARCERR_ABORTED)
            return rc;
        if (rc == 0)
            return 0;
        m_params.readOnly = 1;
    }
    rc = file->Open(path.c_str(), 1, kAccessRead, 0);
    if (rc == ARCERR_ABORTED)
        return rc;
    if (rc != 0 && (rc < 0x10001 || rc > 0x1FFFF))
        rc = ARCERR_OPEN;
    return rc;
}

int CHDArchive::ReadRaw(SVolume& volume, uint64_t offset, void* buffer, uint32_t n)
{
    if (n == 0)
        return 0;
    if (offset > volume.size || volume.size - offset < n)
        return ARCERR_READ;
    SetLastError(0);
    if (volume.file->ReadAt(buffer, n, offset) != 0)
        return GetLastError() == ERROR_OPERATION_ABORTED ? ARCERR_ABORTED : ARCERR_READ;
    return 0;
}

int CHDArchive::ReadStream(SVolume& volume, uint64_t offset, void* buffer, uint32_t n)
{
    int rc = ReadRaw(volume, offset, buffer, n);
    if (rc == 0)
        Cipher(buffer, n, 0);
    return rc;
}

int CHDArchive::ReadVolumeHeader(SVolume& volume)
{
    volume.size = volume.file->GetSize();
    if (volume.size < kHdFixedHeaderLength)
        return ARCERR_FORMAT;
    try {
        volume.header.assign(kHdFixedHeaderLength, 0);
    } catch (...) {
        return StatusOfException();
    }
    if (int rc = ReadRaw(volume, 0, volume.header.data(), kHdFixedHeaderLength))
        return rc;
    HdArchiveHeader* header = volume.Header();
    if (header->magic != kHdMagic)
        return ARCERR_FORMAT;
    return 0;
}

int CHDArchive::Open(const ArchiveOpenParams* params, HdArchiveHeader** headerOut, CBaseArchive* base,
                     const uint64_t* forbiddenId)
{
    if (m_open || m_writing)
        return ARCERR_OPEN;
    if (!params || !params->location)
        return ARCERR_BAD_ARGUMENT;
    try {
        m_params = *params;
        if (!IsWholeRecord(RecordBytes(params->location)))
            return ARCERR_BAD_ARGUMENT;
        m_location = RecordBytes(params->location);
        m_params.location = reinterpret_cast<ArchiveRecord*>(m_location.data());
        int rc = OpenFirstVolume(forbiddenId);
        if (rc)
            return rc;
        rc = OpenBase(base);
        if (rc)
            return rc;

        SVolume& first = *m_volumes[0];
        HdArchiveHeader* header = first.Header();
        m_streamVolume = 0;
        m_streamStarted = false;
        m_shift = 0;
        while (m_shift < 31 && (1u << (m_shift + 1)) <= header->unitSize)
            ++m_shift;
        first.index.SetShift(m_shift);
        first.index.SetRange(header->dataStart, header->dataStart + header->dataLength);
        m_open = true;
        m_blockHeaderLength = header->major < 2 ? 9 : 8;
        m_packer.SetBlockHeaderLength(m_blockHeaderLength);
        if (headerOut) {
            *headerOut = nullptr;
            return GetHeaderCopy(headerOut);
        }
        return 0;
    } catch (...) {
        return StatusOfException();
    }
}

int CHDArchive::OpenFirstVolume(const uint64_t* forbiddenId)
{
    auto volume = std::make_unique<SVolume>();
    volume->record = m_location;
    volume->path = GetRecordPath(AsRecord(m_location));
    if (int rc = OpenFile(volume->path, volume->file, true))
        return rc;
    if (int rc = ReadVolumeHeader(*volume))
        return rc;
    HdArchiveHeader* header = volume->Header();
    if (header->major > 2)
        return ARCERR_VERSION;
    if (forbiddenId && *forbiddenId == header->archiveId)
        return ARCERR_OWN_ID;
    m_signed = (header->signFlags & 1) != 0;
    if (header->flags & kHdPassword) {
        uint8_t key[14] = {};
        if (m_params.key[0]) {
            memcpy(key, m_params.key, sizeof key);
        } else if (!m_params.passwordCallback || !m_params.passwordCallback(key, 1, m_params.passwordContext) ||
                   !key[0]) {
            return ARCERR_PASSWORD;
        }
        if (!CheckArchivePassword(header->passwordCheck, key))
            return ARCERR_PASSWORD;
        memcpy(m_key, key, sizeof m_key);
        m_enciphered = true;
    }
    // The rest of the header; a header that claims more than the volume
    // holds, or areas that do not fit in it, is damage.
    uint32_t length = header->length;
    if (length < kHdFixedHeaderLength || length > volume->size)
        return ARCERR_READ;
    if (static_cast<uint64_t>(kHdFixedHeaderLength) + header->partitionAreaLength + header->tailLength > length)
        return ARCERR_FORMAT;
    volume->header.resize(length);
    if (int rc = ReadRaw(*volume, kHdFixedHeaderLength, volume->header.data() + kHdFixedHeaderLength,
                         length - kHdFixedHeaderLength))
        return rc;
    m_volumes.clear();
    m_volumes.push_back(std::move(volume));
    m_current = 0;
    return 0;
}

int CHDArchive::OpenBase(CBaseArchive* base)
{
    HdArchiveHeader* header = m_volumes[0]->Header();
    if (!(header->flags & kHdHasBase))
        return 0;
    if (!base)
        base = m_base;
    if (!base) {
        ArchiveRecord* found = FindHeaderRecord(header, kRecordBaseArchive);
        if (!found)
            return ARCERR_FORMAT;
        std::vector<uint8_t> record(kMaxBaseRecordLength, 0);
        size_t n = std::min<size_t>(found->length, kMaxBaseRecordLength);
        memcpy(record.data(), found, n);
        uint16_t length = static_cast<uint16_t>(n);
        memcpy(record.data(), &length, 2);
        record.resize(n);
        if (!IsWholeRecord(record))
            return ARCERR_FORMAT;
        const uint64_t ownId = header->archiveId;
        int lastError = 0;
        // The automatic places first, then the callback, which may correct
        // the record; a callback that leaves the record as it was (the
        // system's own factory does) ends the search instead of retrying
        // for ever.
        for (int attempt = 0; attempt <= kMaxLocationRetries; ++attempt) {
            std::string path = GetRecordPath(AsRecord(record));
            const std::string tries[] = {path, FolderOf(m_volumes[0]->path) + FileNameOf(path), OneFolderUp(path)};
            for (const std::string& candidate : tries) {
                if (candidate.empty())
                    continue;
                std::vector<uint8_t> location = RecordWithPath(record, candidate, kRecordBaseArchive);
                auto opened = std::unique_ptr<CHDArchive>(new (std::nothrow) CHDArchive());
                if (!opened)
                    return ARCERR_NO_MEMORY;
                ArchiveOpenParams params = m_params;
                params.location = reinterpret_cast<ArchiveRecord*>(location.data());
                params.readOnly = 1;
                if (!params.key[0] && m_enciphered)
                    memcpy(params.key, m_key, sizeof params.key);
                int rc = opened->Open(&params, nullptr, nullptr, &ownId);
                // A base that was found but refused says more than the
                // places where nothing was found.
                if (lastError == 0 || lastError == ARCERR_OPEN)
                    lastError = rc;
                if (rc == 0) {
                    base = opened.release();
                    m_ownsBase = true;
                    break;
                }
                if (rc == ARCERR_ABORTED)
                    return rc;
            }
            if (base)
                break;
            if (!m_params.eventCallback)
                return lastError;
            std::vector<uint8_t> corrected(kMaxBaseRecordLength, 0);
            memcpy(corrected.data(), record.data(), record.size());
            if (Callback(ARCCB_BASE_MISSING, corrected.data(), nullptr) != 0)
                return ARCERR_ABORTED;
            uint16_t correctedLength;
            memcpy(&correctedLength, corrected.data(), 2);
            corrected.resize(std::min<size_t>(correctedLength, kMaxBaseRecordLength));
            if (corrected == record || !IsWholeRecord(corrected))
                return ARCERR_ABORTED;
            record = corrected;
        }
        if (!base)
            return ARCERR_ABORTED;
    }
    int rc = base->AttachBase(this);
    if (rc) {
        if (m_ownsBase)
            delete base;
        m_ownsBase = false;
        return rc;
    }
    m_base = base;
    return 0;
}

int CHDArchive::AttachBase(CBaseArchive* child)
{
    if (!child) {
        m_child = nullptr;
        return 0;
    }
    if (!m_open)
        return ARCERR_BAD_ARGUMENT;
    const HdArchiveHeader* mine = GetHeader();
    const HdArchiveHeader* theirs = child->GetHeader();
    if (!mine || !theirs)
        return ARCERR_BASE_MISMATCH;
    if (!(theirs->flags & kHdHasBase) || (mine->flags & kHdNotABase) || theirs->unitSize != mine->unitSize ||
        theirs->dataStart != mine->dataStart || (theirs->major > 1 && theirs->baseId != mine->archiveId))
        return ARCERR_BASE_MISMATCH;
    if (m_child && m_child != child)
        return ARCERR_BAD_ARGUMENT;
    m_child = child;
    return 0;
}

int CHDArchive::GetHeaderCopy(HdArchiveHeader** out)
{
    if (!out)
        return ARCERR_BAD_ARGUMENT;
    *out = nullptr;
    if (!m_open || m_volumes.empty())
        return ARCERR_READ;
    const std::vector<uint8_t>& header = m_volumes[m_current]->header;
    auto* copy = static_cast<uint8_t*>(malloc(header.size()));
    if (!copy)
        return ARCERR_NO_MEMORY;
    memcpy(copy, header.data(), header.size());
    auto* typed = reinterpret_cast<HdArchiveHeader*>(copy);
    Cipher(copy + kHdFixedHeaderLength, typed->partitionAreaLength, 0);
    *out = typed;
    return 0;
}

bool CHDArchive::IsKnownVolumePath(const std::string& path) const
{
    std::string normalised = NormalisedPath(path);
    for (const auto& volume : m_volumes)
        if (NormalisedPath(volume->path) == normalised)
            return true;
    return false;
}

int CHDArchive::OpenNextVolume(const std::vector<uint8_t>& recordIn, size_t* index)
{
    if (!IsWholeRecord(recordIn))
        return ARCERR_FORMAT;
    std::vector<uint8_t> record = recordIn;
    record.resize(AsRecord(record)->length);
    const SVolume& current = *m_volumes.back();
    for (int attempt = 0; attempt <= kMaxLocationRetries; ++attempt) {
        std::string path = GetRecordPath(AsRecord(record));
        std::vector<std::string> tries = {path};
        if (AsRecord(record)->kind == kLocationNextToVolume)
            tries.push_back(FolderOf(current.path) + FileNameOf(path));
        for (const std::string& candidate : tries) {
            if (IsKnownVolumePath(candidate))
                return ARCERR_FORMAT;  // the chain loops back onto itself
            auto volume = std::make_unique<SVolume>();
            volume->record = record;
            volume->path = candidate;
            int rc = OpenFile(candidate, volume->file, true);
            if (rc == ARCERR_ABORTED)
                return rc;
            if (rc)
                continue;
            if ((rc = ReadVolumeHeader(*volume)))
                return rc;
            const HdArchiveHeader* first = m_volumes[0]->Header();
            HdArchiveHeader* header = volume->Header();
            if (header->length != first->length || header->partitionAreaLength != first->partitionAreaLength ||
                memcmp(header->label, first->label, sizeof header->label) != 0 || header->length > volume->size)
                return ARCERR_FORMAT;
            // The header grows to its whole length: `header` moves with it.
            const uint32_t length = header->length;
            volume->header.resize(length);
            header = volume->Header();
            if ((rc = ReadRaw(*volume, kHdFixedHeaderLength, volume->header.data() + kHdFixedHeaderLength,
                              length - kHdFixedHeaderLength)))
                return rc;
            volume->index.SetShift(m_shift);
            volume->index.SetRange(header->dataStart, header->dataStart + header->dataLength);
            m_volumes.push_back(std::move(volume));
            m_current = m_volumes.size() - 1;
            *index = m_current;
            Callback(ARCCB_VOLUME_OPENED, m_volumes.back()->record.data(), nullptr);
            return 0;
        }
        std::vector<uint8_t> corrected(kMaxBaseRecordLength > record.size() ? kMaxBaseRecordLength : record.size(), 0);
        memcpy(corrected.data(), record.data(), record.size());
        if (!m_params.eventCallback || Callback(ARCCB_VOLUME_MISSING, corrected.data(), nullptr) != 0)
            return ARCERR_ABORTED;
        uint16_t length;
        memcpy(&length, corrected.data(), 2);
        corrected.resize(std::min<size_t>(length, corrected.size()));
        if (corrected == record || !IsWholeRecord(corrected))
            return ARCERR_ABORTED;
        record = corrected;
    }
    return ARCERR_ABORTED;
}

int CHDArchive::FollowLink(size_t volume, const std::vector<uint8_t>& record, size_t* index)
{
    if (volume + 1 < m_volumes.size()) {
        *index = volume + 1;
        m_current = *index;
        return 0;
    }
    std::vector<uint8_t> next = record;
    if (next.empty()) {
        HdArchiveHeader* header = m_volumes[volume]->Header();
        ArchiveRecord* found = (header->recordFlags & kHdHasNextVolumeRecord)
                                   ? FindHeaderRecord(header, kRecordNextVolume)
                                   : nullptr;
        if (!found)
            return ARCERR_END;
        next = RecordBytes(found);
    }
    return OpenNextVolume(next, index);
}

int CHDArchive::ReadPart(SVolume& volume, uint64_t* at, uint64_t expected, bool packed, std::vector<uint8_t>* out)
{
    if (expected > kMaxPartLength)
        return ARCERR_FORMAT;
    if (!packed) {
        if (*at > volume.size || volume.size - *at < expected)
            return ARCERR_READ;
        if (out) {
            out->resize(static_cast<size_t>(expected));
            if (int rc = ReadStream(volume, *at, out->data(), static_cast<uint32_t>(expected)))
                return rc;
        }
        *at += expected;
        return 0;
    }
    uint8_t blockHeader[9];
    if (int rc = ReadStream(volume, *at, blockHeader, m_blockHeaderLength))
        return rc;
    uint32_t stored = Get32(blockHeader);
    uint32_t method = Get32(blockHeader + 4);
    uint64_t dataAt = *at + m_blockHeaderLength;
    if (dataAt > volume.size || volume.size - dataAt < stored)
        return ARCERR_READ;
    if (expected > static_cast<uint64_t>(stored) * kMaxExpansion + 1024)
        return ARCERR_FORMAT;
    // A part is packed only when that makes it smaller, else stored as it is;
    // a block far longer than its part is damage, caught before its stored
    // bytes are allocated (the volume's size alone bounds nothing on a large
    // volume).
    if (stored > expected + expected / 64 + kMaxPackedOverhead)
        return ARCERR_FORMAT;
    if (out) {
        std::vector<uint8_t> packedBytes(stored);
        if (int rc = ReadStream(volume, dataAt, packedBytes.data(), stored))
            return rc;
        out->resize(static_cast<size_t>(expected));
        if (int rc = m_packer.Unpack(method, packedBytes.data(), stored, out->data(), static_cast<size_t>(expected)))
            return rc;
    }
    *at = dataAt + stored;
    return 0;
}

int CHDArchive::LoadEntry(size_t index, uint64_t offset, HdEntryHeader* header, uint64_t* size,
                          std::vector<uint8_t>* bitmap, std::vector<uint8_t>* data, bool loadData)
{
    SVolume& volume = *m_volumes[index];
    if (int rc = ReadStream(volume, offset, header, kHdEntryHeaderLength))
        return rc;
    if (header->magic != kEntryMagic)
        return ARCERR_READ;
    const uint8_t kind = header->flags & kEntryKindMask;
    const bool packed = (header->flags & kEntryPacked) != 0;
    uint64_t at = offset + kHdEntryHeaderLength;
    if (bitmap)
        bitmap->clear();
    if (data)
        data->clear();
    if (kind == kEntryKindPadding) {
        if (at > volume.size || volume.size - at < header->dataLength)
            return ARCERR_READ;
        *size = kHdEntryHeaderLength + static_cast<uint64_t>(header->dataLength);
        return 0;
    }
    if (kind == kEntryKindEnd || kind == kEntryKindAbortEnd) {
        *size = kHdEntryHeaderLength;
        return 0;
    }
    if (kind == kEntryKindLink) {
        if (int rc = ReadPart(volume, &at, header->dataLength, packed, data))
            return rc;
        *size = at - offset;
        return 0;
    }
    const uint32_t spu = header->sectorsPerUnit ? header->sectorsPerUnit : 1;
    const uint64_t unitBytes = static_cast<uint64_t>(spu) * kSectorSize;
    if (static_cast<uint64_t>(header->firstSector) + static_cast<uint64_t>(header->units) * spu > 0xFFFFFFFFull + 1)
        return ARCERR_FORMAT;
    const bool hasBitmap = (header->flags & kEntryBitmap) != 0;
    if (!hasBitmap && (header->entryFlags & kEntryNoData)) {
        *size = kHdEntryHeaderLength;
        return 0;
    }
    uint64_t unitData = header->dataLength;
    if (hasBitmap) {
        uint64_t bitmapLength = (static_cast<uint64_t>(header->units) + 7) / 8;
        std::vector<uint8_t> local;
        std::vector<uint8_t>* target = bitmap ? bitmap : &local;
        if (int rc = ReadPart(volume, &at, bitmapLength, packed, target))
            return rc;
        if (header->flags & kEntrySecondBitmap) {
            if (int rc = ReadPart(volume, &at, bitmapLength, packed, nullptr))
                return rc;
        }
        unitData = CountPresent(target->data(), header->units) * unitBytes;
    } else if (header->dataLength != static_cast<uint64_t>(header->units) * unitBytes) {
        return ARCERR_FORMAT;
    }
    std::vector<uint8_t> local;
    std::vector<uint8_t>* target = data ? data : &local;
    if (int rc = ReadPart(volume, &at, unitData, packed, loadData ? target : nullptr))
        return rc;
    *size = at - offset;
    if (loadData && m_signed && m_checkSignatures)
        return CheckSignature(header, *target);
    return 0;
}

int CHDArchive::CheckSignature(HdEntryHeader* header, const std::vector<uint8_t>& data)
{
    if (CCrc32Sign::Verify(data.data(), data.size(), header->signature) == 0)
        return 0;
    // A mismatch is the callback's to judge; without a callback the data is
    // not handed out as if it were sound.
    if (!m_params.eventCallback)
        return ARCERR_CRC;
    if (Callback(ARCCB_CRC_MISMATCH, header, nullptr) == 1)
        m_checkSignatures = false;
    return 0;
}

void CHDArchive::ReportProgress(uint64_t offset, uint64_t size)
{
    uint32_t percent = size ? static_cast<uint32_t>(offset * 100 / size) : 100;
    Callback(ARCCB_PROGRESS, nullptr, &percent);
}

int CHDArchive::ReadEntry(HdEntryHeader* entry, std::vector<uint8_t>* bitmap, std::vector<uint8_t>* data)
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_BAD_ARGUMENT;
    try {
        for (;;) {
            if (m_streamStarted) {
                m_entryOffset += m_entrySize;
            } else {
                m_entryOffset = m_volumes[m_streamVolume]->Header()->length;
                m_streamStarted = true;
            }
            m_entrySize = 0;
            HdEntryHeader header;
            std::vector<uint8_t> localBitmap, localData;
            std::vector<uint8_t>* b = bitmap ? bitmap : &localBitmap;
            std::vector<uint8_t>* d = data ? data : &localData;
            uint64_t size = 0;
            if (int rc = LoadEntry(m_streamVolume, m_entryOffset, &header, &size, b, d, true))
                return rc;
            m_entrySize = size;
            const uint8_t kind = header.flags & kEntryKindMask;
            if (kind == kEntryKindPadding)
                continue;
            if (kind == kEntryKindLink || kind == kEntryKindEnd || kind == kEntryKindAbortEnd ||
                header.units == 0) {
                if (kind == kEntryKindEnd)
                    return ARCERR_END;
                if (kind == kEntryKindAbortEnd)
                    return ARCERR_ABORT_MARKER;
                if (kind == kEntryKindLink) {
                    size_t next = 0;
                    if (int rc = FollowLink(m_streamVolume, *d, &next))
                        return rc;
                    m_streamVolume = next;
                    m_streamStarted = false;
                }
                continue;
            }
            if (entry)
                *entry = header;
            ReportProgress(m_entryOffset, m_volumes[m_streamVolume]->size);
            return 0;
        }
    } catch (...) {
        return StatusOfException();
    }
}

int CHDArchive::WalkVolumes()
{
    size_t index = 0;
    uint64_t offset = m_volumes[0]->Header()->length;
    for (auto& volume : m_volumes)
        volume->index.Clear();
    for (;;) {
        HdEntryHeader header;
        uint64_t size = 0;
        std::vector<uint8_t> record;
        if (int rc = LoadEntry(index, offset, &header, &size, nullptr, &record, false))
            return rc;
        const uint8_t kind = header.flags & kEntryKindMask;
        if (kind == kEntryKindEnd)
            return 0;
        if (kind == kEntryKindAbortEnd)
            return ARCERR_ABORT_MARKER;
        if (kind == kEntryKindLink) {
            size_t next = 0;
            if (int rc = FollowLink(index, record, &next))
                return rc;
            index = next;
            offset = m_volumes[index]->Header()->length;
            continue;
        }
        if (kind != kEntryKindPadding && header.units > 0) {
            const uint32_t spu = header.sectorsPerUnit ? header.sectorsPerUnit : 1;
            SExtent extent;
            extent.first = header.firstSector;
            extent.end = static_cast<uint32_t>(header.firstSector + static_cast<uint64_t>(header.units) * spu);
            extent.offset = offset;
            extent.flags = static_cast<uint8_t>((header.entryFlags & 0x03) |
                                                ((header.flags & kEntryBitmap) ? kExtentHasBitmap : 0));
            m_volumes[index]->index.Add(extent);
        }
        offset += size;
    }
}

int CHDArchive::BuildIndex()
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_BAD_ARGUMENT;
    if (m_base) {
        const HdArchiveHeader* baseHeader = m_base->GetHeader();
        if (baseHeader && HdRevision(baseHeader) >= kHdRevision && !m_base->IsIndexBuilt())
            return ARCERR_BASE_INDEX;
    }
    try {
        int rc = WalkVolumes();
        if (rc == 0 || rc == ARCERR_ABORT_MARKER)
            m_indexBuilt = true;
        m_cache.reset();
        return rc;
    } catch (...) {
        return StatusOfException();
    }
}

int CHDArchive::LookupExtent(uint32_t sector, uint32_t count, size_t* volume, SExtentMatch* match) const
{
    SExtentMatch best;
    size_t bestVolume = 0;
    for (size_t i = 0; i < m_volumes.size(); ++i) {
        SExtentMatch found = m_volumes[i]->index.Lookup(sector, count);
        if (found.kind == SExtentMatch::kHit) {
            *volume = i;
            *match = found;
            return 0;
        }
        if (found.kind == SExtentMatch::kCandidate &&
            (best.kind == SExtentMatch::kNone || found.extent.first < best.extent.first)) {
            best = found;
            bestVolume = i;
        }
    }
    *volume = bestVolume;
    *match = best;
    return best.kind == SExtentMatch::kNone ? ARCERR_NOT_IN_ARCHIVE : 0;
}

int CHDArchive::ReadFromBase(uint32_t first, uint32_t count, uint8_t* buffer)
{
    if (!m_base)
        return ARCERR_NOT_IN_ARCHIVE;
    const HdArchiveHeader* baseHeader = m_base->GetHeader();
    if (!baseHeader || HdRevision(baseHeader) < kHdRevision)
        return ARCERR_BASE_REVISION;
    if (!m_base->IsIndexBuilt())
        return ARCERR_BASE_INDEX;
    return m_base->Read(0, first, count, buffer, nullptr);
}

int CHDArchive::ReadFromEntry(size_t volume, const SExtent& extent, uint32_t first, uint32_t count,
                              uint8_t* buffer)
{
    if (!m_cache)
        m_cache = std::make_unique<SCachedEntry>();
    SCachedEntry& cache = *m_cache;
    if (cache.volume != volume || cache.offset != extent.offset) {
        cache.volume = ~size_t(0);
        uint64_t size = 0;
        if (int rc = LoadEntry(volume, extent.offset, &cache.header, &size, &cache.bitmap, &cache.data, true))
            return rc;
        cache.rank.resize(cache.bitmap.size() + 1);
        uint32_t running = 0;
        for (size_t i = 0; i < cache.bitmap.size(); ++i) {
            cache.rank[i] = running;
            running += PopCount(cache.bitmap[i]);
        }
        cache.rank[cache.bitmap.size()] = running;
        cache.volume = volume;
        cache.offset = extent.offset;
    }
    const HdEntryHeader& header = cache.header;
    const uint32_t spu = header.sectorsPerUnit ? header.sectorsPerUnit : 1;
    const bool hasBitmap = (header.flags & kEntryBitmap) != 0;
    // The units of the entry bound every place computed below.
    const uint64_t entryEnd = header.firstSector + static_cast<uint64_t>(header.units) * spu;
    if (first < header.firstSector || first + static_cast<uint64_t>(count) > entryEnd ||
        (hasBitmap && cache.bitmap.size() < (static_cast<uint64_t>(header.units) + 7) / 8))
        return ARCERR_FORMAT;
    uint32_t sector = first;
    const uint32_t end = first + count;
    while (sector < end) {
        uint32_t relative = sector - header.firstSector;
        uint32_t unit = relative / spu;
        uint32_t inUnit = relative % spu;
        uint32_t run = std::min(end - sector, spu - inUnit);
        uint8_t* out = buffer + static_cast<size_t>(sector - first) * kSectorSize;
        if (!hasBitmap && (header.entryFlags & kEntryNoData)) {
            memset(out, 0, static_cast<size_t>(run) * kSectorSize);
        } else if (hasBitmap && !IsBitSet(cache.bitmap.data(), unit)) {
            if (m_base) {
                if (int rc = ReadFromBase(sector, run, out))
                    return rc;
            } else {
                memset(out, 0, static_cast<size_t>(run) * kSectorSize);
            }
        } else {
            uint64_t unitIndex = unit;
            if (hasBitmap)
                unitIndex = cache.rank[unit / 8] + PopCount(cache.bitmap[unit / 8] & ((1u << (unit % 8)) - 1));
            uint64_t at = (unitIndex * spu + inUnit) * kSectorSize;
            uint64_t length = static_cast<uint64_t>(run) * kSectorSize;
            if (at + length > cache.data.size())
                return ARCERR_FORMAT;
            memcpy(out, cache.data.data() + at, static_cast<size_t>(length));
        }
        sector += run;
    }
    return 0;
}

int CHDArchive::ReadIndexed(uint32_t first, uint32_t count, uint8_t* buffer)
{
    while (count > 0) {
        size_t volume = 0;
        SExtentMatch match;
        int rc = LookupExtent(first, count, &volume, &match);
        if (rc)
            return m_base ? ReadFromBase(first, count, buffer) : rc;
        if (match.kind == SExtentMatch::kCandidate) {
            uint32_t gap = match.extent.first - first;
            if (!m_base)
                return ARCERR_NOT_IN_ARCHIVE;
            if ((rc = ReadFromBase(first, gap, buffer)))
                return rc;
            first += gap;
            count -= gap;
            buffer += static_cast<size_t>(gap) * kSectorSize;
            continue;
        }
        uint32_t run = std::min<uint64_t>(count, static_cast<uint64_t>(match.extent.end) - first);
        if ((rc = ReadFromEntry(volume, match.extent, first, run, buffer)))
            return rc;
        first += run;
        count -= run;
        buffer += static_cast<size_t>(run) * kSectorSize;
    }
    return 0;
}

bool CHDArchive::IsFlat() const
{
    const HdArchiveHeader* header = m_volumes.empty() ? nullptr : m_volumes[0]->Header();
    return header && (header->flags & kHdFlat) && !(header->flags & kHdPacked) && !m_base;
}

// Whether `extent` describes the sector entry at its offset in the volume:
// the same sectors and flags, the entry whole inside the volume and, in a
// flat archive, its sectors stored as they are right behind its header (or
// none), since there they are read and written in place. `entryEnd` gets the
// end of a flat entry's data.
int CHDArchive::CheckExtent(size_t index, const SExtent& extent, uint64_t* entryEnd)
{
    SVolume& volume = *m_volumes[index];
    const uint64_t headerLength = volume.Header()->length;
    if (extent.offset < headerLength || extent.offset > volume.size ||
        volume.size - extent.offset < kHdEntryHeaderLength)
        return ARCERR_FORMAT;
    HdEntryHeader header;
    if (int rc = ReadStream(volume, extent.offset, &header, kHdEntryHeaderLength))
        return rc;
    const uint32_t spu = header.sectorsPerUnit ? header.sectorsPerUnit : 1;
    const uint64_t end = header.firstSector + static_cast<uint64_t>(header.units) * spu;
    const uint8_t flags =
        static_cast<uint8_t>((header.entryFlags & 0x03) | ((header.flags & kEntryBitmap) ? kExtentHasBitmap : 0));
    if (header.magic != kEntryMagic || !IsSectorKind(header.flags) || header.units == 0 || end > 0x100000000ull ||
        extent.first != header.firstSector || extent.end != static_cast<uint32_t>(end) || extent.flags != flags)
        return ARCERR_FORMAT;
    uint64_t dataEnd = extent.offset + kHdEntryHeaderLength;
    if (IsFlat()) {
        if (header.flags & (kEntryPacked | kEntryBitmap))
            return ARCERR_FORMAT;
        if (!(header.entryFlags & kEntryNoData)) {
            const uint64_t length = (end - header.firstSector) * kSectorSize;
            if (header.dataLength != length || volume.size - dataEnd < length)
                return ARCERR_FORMAT;
            dataEnd += length;
        }
    }
    if (entryEnd)
        *entryEnd = dataEnd;
    return 0;
}

// Every extent a companion gave a volume must describe its entry; in a flat
// archive, where writes land inside the entries, no two entries may overlap.
int CHDArchive::CheckCompanionIndex(size_t index)
{
    CExtentIndex& extentIndex = m_volumes[index]->index;
    if (extentIndex.GetShift() != m_shift)
        return ARCERR_FORMAT;
    std::vector<SExtent> extents;
    extentIndex.ForEach([&](const SExtent& e) { extents.push_back(e); });
    // In file order, so that the volume is read front to back.
    std::sort(extents.begin(), extents.end(),
              [](const SExtent& a, const SExtent& b) { return a.offset < b.offset; });
    uint64_t previousEnd = 0;
    for (const SExtent& e : extents) {
        uint64_t entryEnd = 0;
        if (int rc = CheckExtent(index, e, &entryEnd))
            return rc == ARCERR_ABORTED ? rc : ARCERR_FORMAT;
        if (IsFlat() && e.offset < previousEnd)
            return ARCERR_FORMAT;
        previousEnd = entryEnd;
    }
    return 0;
}

int CHDArchive::TransferFlat(bool write, uint32_t first, uint32_t count, uint8_t* buffer)
{
    struct SRun {
        size_t volume;
        SExtent extent;
        uint32_t first;
        uint32_t count;
    };
    // Every run is found and its entry checked before anything moves, so that
    // a write is done whole or not at all.
    std::vector<SRun> runs;
    for (uint32_t sector = first, left = count; left > 0;) {
        size_t index = 0;
        SExtentMatch match;
        if (int rc = LookupExtent(sector, left, &index, &match))
            return rc;
        if (match.kind != SExtentMatch::kHit)
            return ARCERR_NOT_POSSIBLE;
        if (int rc = CheckExtent(index, match.extent, nullptr))
            return rc;
        // An entry without data holds zeros and has no room to write into.
        if (write && (match.extent.flags & kEntryNoData))
            return ARCERR_NOT_POSSIBLE;
        uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(left, static_cast<uint64_t>(match.extent.end) - sector));
        runs.push_back(SRun{index, match.extent, sector, run});
        sector += run;
        left -= run;
    }
    for (const SRun& r : runs) {
        SVolume& volume = *m_volumes[r.volume];
        uint8_t* data = buffer + static_cast<size_t>(r.first - first) * kSectorSize;
        uint64_t position = static_cast<uint64_t>(r.first - r.extent.first) * kSectorSize;
        uint64_t at = r.extent.offset + kHdEntryHeaderLength + position;
        uint32_t length = r.count * kSectorSize;
        if (r.extent.flags & kEntryNoData) {
            memset(data, 0, length);
        } else if (write) {
            std::vector<uint8_t> bytes(data, data + length);
            Cipher(bytes.data(), length, position);
            if (volume.file->WriteAt(bytes.data(), length, at) != 0)
                return ARCERR_READ;
        } else {
            if (int rc = ReadRaw(volume, at, data, length))
                return rc;
            Cipher(data, length, position);
        }
    }
    return 0;
}

int CHDArchive::Read(int mode, uint32_t firstSector, uint32_t count, void* buffer, uint32_t* done)
{
    if (done)
        *done = 0;
    if (!m_open)
        return ARCERR_BAD_ARGUMENT;
    if (static_cast<uint64_t>(firstSector) + count > 0x100000000ull || (count && !buffer))
        return ARCERR_BAD_ARGUMENT;
    const bool flat = IsFlat();
    int rc;
    try {
        if (flat) {
            ArchiveMutexLock lock(m_mutex);
            if (!m_indexBuilt)
                return ARCERR_BAD_ARGUMENT;
            if (mode != 0 && m_params.readOnly)
                return ARCERR_NOT_POSSIBLE;
            rc = TransferFlat(mode != 0, firstSector, count, static_cast<uint8_t*>(buffer));
        } else if (mode == 1) {
            if (!m_base)
                return ARCERR_NOT_POSSIBLE;
            rc = ReadFromBase(firstSector, count, static_cast<uint8_t*>(buffer));
        } else if (mode == 0) {
            ArchiveMutexLock lock(m_mutex);
            if (!m_indexBuilt)
                return ARCERR_BAD_ARGUMENT;
            rc = ReadIndexed(firstSector, count, static_cast<uint8_t*>(buffer));
        } else {
            return ARCERR_BAD_ARGUMENT;
        }
    } catch (...) {
        return StatusOfException();
    }
    if (rc == 0 && done)
        *done = count;
    return rc;
}

int CHDArchive::SaveCompanion(CNAFile* file)
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_READ;
    // The archive is named by its first volume, whichever volume was read last.
    const HdArchiveHeader* header = m_volumes[0]->Header();
    if (header->unitSize == 0 || (header->unitSize & (header->unitSize - 1)))
        return ARCERR_NOT_POSSIBLE;
    if (!file || !m_indexBuilt)
        return ARCERR_BAD_ARGUMENT;
    try {
        std::vector<uint8_t> out;
        auto put32 = [&out](uint32_t v) {
            for (int i = 0; i < 4; ++i)
                out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        };
        put32(kCompanionMagic);
        put32(kCompanionVersion);
        uint64_t id = header->archiveId;
        put32(static_cast<uint32_t>(id));
        put32(static_cast<uint32_t>(id >> 32));
        put32(static_cast<uint32_t>(m_volumes.size()));
        for (size_t i = 0; i < m_volumes.size(); ++i) {
            m_volumes[i]->index.Save(out);
            if (i + 1 < m_volumes.size())
                out.insert(out.end(), m_volumes[i + 1]->record.begin(), m_volumes[i + 1]->record.end());
            else
                put32(0);
        }
        if (int rc = file->Write(out.data(), static_cast<uint32_t>(out.size())))
            return rc;
        return 0;
    } catch (...) {
        return StatusOfException();
    }
}

int CHDArchive::LoadCompanion(CNAFile* file)
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_open)
        return ARCERR_READ;
    const HdArchiveHeader* header = m_volumes[0]->Header();
    if (header->unitSize == 0 || (header->unitSize & (header->unitSize - 1)))
        return ARCERR_NOT_POSSIBLE;
    if (!file)
        return ARCERR_BAD_ARGUMENT;
    uint64_t available = file->GetSize() > file->Tell() ? file->GetSize() - file->Tell() : 0;
    auto read = [&](void* buffer, uint32_t n) -> int {
        if (n > available)
            return ARCERR_READ;
        uint32_t got = 0;
        int rc = file->Read(buffer, n, &got);
        if (rc || got != n)
            return ARCERR_READ;
        available -= n;
        return 0;
    };
    try {
        uint8_t head[20];
        if (int rc = read(head, sizeof head))
            return rc;
        uint32_t magic = Get32(head);
        if (magic < 0x306D6600 || magic > 0x306D66FF)
            return ARCERR_NOT_COMPANION;
        if (magic != kCompanionMagic)
            return ARCERR_COMPANION_KIND;
        if (Get32(head + 4) > kCompanionVersion)
            return ARCERR_COMPANION_VERSION;
        uint64_t id = Get32(head + 8) | (static_cast<uint64_t>(Get32(head + 12)) << 32);
        if (id != header->archiveId)
            return ARCERR_COMPANION_FOREIGN;
        // From here on the index is the companion's or none: a refused
        // companion leaves nothing to read through.
        m_cache.reset();
        m_indexBuilt = false;
        for (auto& volume : m_volumes)
            volume->index.Clear();
        int rc = LoadCompanionIndexes(read, available);
        if (rc) {
            for (auto& volume : m_volumes)
                volume->index.Clear();
            return rc;
        }
        m_indexBuilt = true;
        return 0;
    } catch (...) {
        for (auto& volume : m_volumes)
            volume->index.Clear();
        m_indexBuilt = false;
        return StatusOfException();
    }
}

int CHDArchive::LoadCompanionIndexes(const std::function<int(void*, uint32_t)>& read, uint64_t& available)
{
    size_t index = 0;
    for (;;) {
        if (int rc = m_volumes[index]->index.Load(read, available))
            return rc;
        if (int rc = CheckCompanionIndex(index))
            return rc;
        uint8_t lengthBytes[2];
        if (int rc = read(lengthBytes, 2))
            return rc;
        uint16_t length = static_cast<uint16_t>(lengthBytes[0] | (lengthBytes[1] << 8));
        if (length == 0) {
            uint8_t rest[2];
            return read(rest, 2);
        }
        if (length < 4)
            return ARCERR_FORMAT;
        std::vector<uint8_t> record(length);
        record[0] = lengthBytes[0];
        record[1] = lengthBytes[1];
        if (int rc = read(record.data() + 2, length - 2))
            return rc;
        size_t next = 0;
        if (int rc = FollowLink(index, record, &next))
            return rc;
        index = next;
    }
}

int CHDArchive::DeleteVolumes()
{
    ArchiveMutexLock lock(m_mutex);
    if (m_volumes.empty())
        return ARCERR_BAD_ARGUMENT;
    try {
        // Follow the chain through the headers' next-volume records until it
        // ends or comes back to the first volume.
        std::vector<std::string> paths;
        for (const auto& volume : m_volumes)
            paths.push_back(volume->path);
        const std::string first = NormalisedPath(paths[0]);
        for (;;) {
            SVolume& last = *m_volumes.back();
            HdArchiveHeader* header = last.Header();
            ArchiveRecord* next = (header->recordFlags & kHdHasNextVolumeRecord)
                                      ? FindHeaderRecord(header, kRecordNextVolume)
                                      : nullptr;
            if (!next || !GetRecordPath(next))
                break;
            std::string path = GetRecordPath(next);
            if (NormalisedPath(path) == first)
                break;
            size_t index = 0;
            if (OpenNextVolume(RecordBytes(next), &index) != 0)
                break;
            paths.push_back(m_volumes[index]->path);
        }
        std::unique_ptr<CNAFile> helper;
        int rc = 0;
        helper.reset(OpenVolumeFile(AsRecord(m_location), 0, &rc));
        if (!helper)
            return rc ? rc : ARCERR_NO_MEMORY;
        m_cache.reset();
        for (auto& volume : m_volumes)
            volume->file.reset();
        m_open = false;
        for (const std::string& path : paths) {
            int error = helper->DeleteFile(path.c_str());
            if (error == -1)
                error = errno;
            if (int status = StatusOfErrno(error))
                return status;
            std::string companion = path;
            size_t dot = companion.find_last_of('.');
            size_t slash = companion.find_last_of("\\/");
            if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                companion.resize(dot);
            companion += ".kfm";
            error = helper->DeleteFile(companion.c_str());
            if (error == -1)
                error = errno;
            if (int status = StatusOfErrno(error))
                return status;
        }
        return 0;
    } catch (...) {
        return StatusOfException();
    }
}

// ---------------------------------------------------------------------------
// Writing

uint64_t CHDArchive::VolumeLimitBytes() const
{
    return m_params.volumeLimit == kNoVolumeLimit ? ~0ull : static_cast<uint64_t>(m_params.volumeLimit) * kSectorSize;
}

std::vector<uint8_t> CHDArchive::BuildVolumeHeader(const ArchiveRecord* next) const
{
    std::vector<uint8_t> bytes = m_headerTemplate;
    auto* header = reinterpret_cast<HdArchiveHeader*>(bytes.data());
    if (!m_baseRecord.empty())
        InsertHeaderRecord(header, AsRecord(m_baseRecord), nullptr);
    if (next) {
        ArchiveRecord* after = FindHeaderRecord(header, kRecordBaseArchive);
        if (InsertHeaderRecord(header, next, after))
            header->recordFlags |= kHdHasNextVolumeRecord;
    }
    Cipher(bytes.data() + kHdFixedHeaderLength, header->partitionAreaLength, 0);
    return bytes;
}

int CHDArchive::WriteBytes(const void* data, size_t length)
{
    if (!m_writeFile)
        return ARCERR_BAD_ARGUMENT;
    int rc = m_writeFile->WriteAt(data, static_cast<uint32_t>(length), m_writeOffset);
    if (rc)
        return rc == -1 ? ARCERR_READ : rc;
    m_writeOffset += length;
    return 0;
}

int CHDArchive::StartVolume(const std::string& path)
{
    auto volume = std::make_unique<SVolume>();
    volume->path = path;
    volume->record = RecordWithPath(m_location, path, m_volumes.empty() ? kRecordChain : kRecordNextVolume);
    if (!m_volumes.empty())
        volume->record[3] = kLocationNextToVolume;
    int rc = 0;
    std::unique_ptr<CNAFile> file(OpenVolumeFile(AsRecord(volume->record), 0, &rc));
    if (!file)
        return rc ? rc : ARCERR_NO_MEMORY;
    if ((rc = file->Open(path.c_str(), 2, kAccessRead | kAccessWrite, 0)))
        return rc;
    m_writeFile = std::move(file);
    m_writeOffset = 0;
    // A placeholder: the header goes in again when the volume is closed and
    // its records are known.
    std::vector<uint8_t> header = BuildVolumeHeader(nullptr);
    if ((rc = WriteBytes(header.data(), header.size())))
        return rc;
    volume->header = m_headerTemplate;
    m_volumes.push_back(std::move(volume));
    return 0;
}

int CHDArchive::Create(const ArchiveOpenParams* params, const SHdCreateOptions& options)
{
    if (m_open || m_writing)
        return ARCERR_OPEN;
    if (!params || !params->location || options.unitSize < kSectorSize ||
        (options.unitSize & (options.unitSize - 1)) || options.unitSize / kSectorSize > 255 ||
        options.label.size() >= 64 || options.major > 2)
        return ARCERR_BAD_ARGUMENT;
    try {
        if (!IsWholeRecord(RecordBytes(params->location)))
            return ARCERR_BAD_ARGUMENT;
        m_params = *params;
        m_location = RecordBytes(params->location);
        m_params.location = reinterpret_cast<ArchiveRecord*>(m_location.data());
        m_options = options;

        const uint64_t length = static_cast<uint64_t>(kHdFixedHeaderLength) + options.partitionArea.size() +
                                options.recordAreaLength + options.tailLength;
        if (length > 0x7FFFFFFF)
            return ARCERR_BAD_ARGUMENT;
        const uint64_t limit = VolumeLimitBytes();
        // Room for at least one unit with its block headers in every volume.
        if (limit < length + kVolumeReserve + kHdEntryHeaderLength + options.unitSize + 64)
            return ARCERR_BAD_ARGUMENT;

        m_headerTemplate.assign(static_cast<size_t>(length), 0);
        auto* header = reinterpret_cast<HdArchiveHeader*>(m_headerTemplate.data());
        header->magic = kHdMagic;
        header->minor = options.minor;
        header->major = options.major;
        header->length = static_cast<uint32_t>(length);
        header->unitSize = options.unitSize;
        header->kind = options.kind;
        header->dataStart = 0xFFFFFFFFu;
        header->dataLength = 0;
        header->flags = options.flags & (kHdPacked | kHdFlat | kHdNotABase);
        header->partitionAreaLength = static_cast<uint32_t>(options.partitionArea.size());
        memcpy(header->label, options.label.c_str(), options.label.size());
        header->archiveId = options.archiveId;
        header->signFlags = options.signEntries ? 1 : 0;
        header->tailLength = options.tailLength;
        if (!options.partitionArea.empty())
            memcpy(m_headerTemplate.data() + kHdFixedHeaderLength, options.partitionArea.data(),
                   options.partitionArea.size());
        if (m_params.key[0]) {
            memcpy(m_key, m_params.key, sizeof m_key);
            m_enciphered = true;
            header->flags |= kHdPassword;
            MakePasswordCheckBlock(header->passwordCheck, m_key, options.archiveId);
        }
        if (options.base) {
            const HdArchiveHeader* baseHeader = options.base->GetHeader();
            const ArchiveOpenParams* baseParams = options.base->GetParams();
            if (!baseHeader || !baseParams || !baseParams->location || (baseHeader->flags & kHdNotABase) ||
                baseHeader->unitSize != options.unitSize)
                return ARCERR_BASE_MISMATCH;
            header->flags |= kHdHasBase;
            header->baseId = baseHeader->archiveId;
            header->dataStart = baseHeader->dataStart;
            m_baseRecord = RecordWithPath(RecordBytes(baseParams->location), GetRecordPath(baseParams->location),
                                          kRecordBaseArchive);
            if (m_baseRecord.size() > kMaxBaseRecordLength)
                return ARCERR_BAD_ARGUMENT;
        }
        m_signed = options.signEntries;
        m_blockHeaderLength = options.major < 2 ? 9 : 8;
        m_packer.SetBlockHeaderLength(m_blockHeaderLength);
        m_writing = true;
        m_writeError = StartVolume(GetRecordPath(AsRecord(m_location)));
        return m_writeError;
    } catch (...) {
        return StatusOfException();
    }
}

void CHDArchive::AppendPart(const uint8_t* data, size_t length, bool packed, std::vector<uint8_t>& out)
{
    size_t at = out.size();
    if (packed) {
        int rc = m_packer.Pack(data, length, m_params.compression, out);
        if (rc)
            throw std::bad_alloc();
        // The block header and its stored bytes are read as two separate
        // streams, so they are enciphered as two.
        if (m_enciphered) {
            Cipher(out.data() + at, m_blockHeaderLength, 0);
            Cipher(out.data() + at + m_blockHeaderLength, out.size() - at - m_blockHeaderLength, 0);
        }
        return;
    }
    out.insert(out.end(), data, data + length);
    Cipher(out.data() + at, length, 0);
}

int CHDArchive::BuildEntryBytes(const HdEntryHeader& entry, const uint8_t* bitmap, const uint8_t* data,
                                uint32_t unitStart, uint32_t unitCount, std::vector<uint8_t>& out)
{
    const uint32_t spu = entry.sectorsPerUnit ? entry.sectorsPerUnit : 1;
    const uint64_t unitBytes = static_cast<uint64_t>(spu) * kSectorSize;
    const bool hasBitmap = (entry.flags & kEntryBitmap) != 0;
    const bool noData = !hasBitmap && (entry.entryFlags & kEntryNoData);
    const bool packed = (m_headerTemplate[38] & kHdPacked) != 0;

    HdEntryHeader header = entry;
    header.magic = kEntryMagic;
    header.flags = static_cast<uint8_t>((entry.flags & (kEntryKindMask | kEntryBitmap)) | (packed ? kEntryPacked : 0));
    header.firstSector = entry.firstSector + unitStart * spu;
    header.units = unitCount;
    header.compression = m_params.compression;
    header.sectorsPerUnit = static_cast<uint8_t>(spu);
    memset(header.signature, 0, sizeof header.signature);

    std::vector<uint8_t> slice;
    const uint8_t* unitData = nullptr;
    uint64_t unitLength = 0;
    if (hasBitmap) {
        slice.assign((unitCount + 7) / 8, 0);
        for (uint32_t i = 0; i < unitCount; ++i)
            if (IsBitSet(bitmap, unitStart + i))
                slice[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
        unitData = data + CountPresent(bitmap, unitStart) * unitBytes;
        unitLength = CountPresent(slice.data(), unitCount) * unitBytes;
    } else if (!noData) {
        unitData = data + unitStart * unitBytes;
        unitLength = unitCount * unitBytes;
    }
    header.dataLength = static_cast<uint32_t>(unitLength);
    if (m_signed) {
        uint32_t crc = CCrc32Sign::Sign(unitData, static_cast<size_t>(unitLength));
        memcpy(header.signature, &crc, 4);
    }
    out.resize(kHdEntryHeaderLength);
    memcpy(out.data(), &header, kHdEntryHeaderLength);
    Cipher(out.data(), kHdEntryHeaderLength, 0);
    if (hasBitmap)
        AppendPart(slice.data(), slice.size(), packed, out);
    if (!noData)
        AppendPart(unitData, static_cast<size_t>(unitLength), packed, out);
    return 0;
}

int CHDArchive::WritePiece(const HdEntryHeader& entry, const uint8_t* bitmap, const uint8_t* data,
                           uint32_t unitStart, uint32_t unitCount)
{
    std::vector<uint8_t> bytes;
    if (int rc = BuildEntryBytes(entry, bitmap, data, unitStart, unitCount, bytes))
        return rc;
    const uint64_t limit = VolumeLimitBytes();
    const uint64_t headerLength = m_headerTemplate.size();
    if (m_writeOffset + bytes.size() + kVolumeReserve <= limit)
        return WriteBytes(bytes.data(), bytes.size());
    const bool fitsEmpty = headerLength + bytes.size() + kVolumeReserve <= limit;
    if (fitsEmpty && m_writeOffset > headerLength) {
        if (int rc = NextVolume())
            return rc;
        return WriteBytes(bytes.data(), bytes.size());
    }
    if (unitCount > 1) {
        // Too large for what is left of this volume: split the units.
        uint32_t half = unitCount / 2;
        if (int rc = WritePiece(entry, bitmap, data, unitStart, half))
            return rc;
        return WritePiece(entry, bitmap, data, unitStart + half, unitCount - half);
    }
    if (m_writeOffset > headerLength) {
        if (int rc = NextVolume())
            return rc;
        return WritePiece(entry, bitmap, data, unitStart, unitCount);
    }
    return ARCERR_BAD_ARGUMENT;  // one unit does not fit in an empty volume
}

int CHDArchive::WriteEntry(const HdEntryHeader* entry, const uint8_t* bitmap, const uint8_t* data,
                           uint32_t dataLength)
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_writing)
        return ARCERR_BAD_ARGUMENT;
    if (m_writeError)
        return m_writeError;
    if (!entry || !IsSectorKind(entry->flags) || entry->units == 0)
        return ARCERR_BAD_ARGUMENT;
    const uint32_t spu = entry->sectorsPerUnit ? entry->sectorsPerUnit : 1;
    const uint64_t unitBytes = static_cast<uint64_t>(spu) * kSectorSize;
    const bool hasBitmap = (entry->flags & kEntryBitmap) != 0;
    if (hasBitmap && !bitmap)
        return ARCERR_BAD_ARGUMENT;
    // A flat archive's sectors lie at fixed places inside their entries,
    // which a bitmap would shift.
    const uint8_t headerFlags = m_headerTemplate[38];
    if (hasBitmap && (headerFlags & kHdFlat) && !(headerFlags & (kHdPacked | kHdHasBase)))
        return ARCERR_BAD_ARGUMENT;
    if (static_cast<uint64_t>(entry->firstSector) + static_cast<uint64_t>(entry->units) * spu > 0x100000000ull)
        return ARCERR_BAD_ARGUMENT;
    uint64_t expected = 0;
    if (hasBitmap)
        expected = CountPresent(bitmap, entry->units) * unitBytes;
    else if (!(entry->entryFlags & kEntryNoData))
        expected = entry->units * unitBytes;
    if (expected != dataLength || (expected && !data))
        return ARCERR_BAD_ARGUMENT;
    try {
        int rc = WritePiece(*entry, bitmap, data, 0, entry->units);
        if (rc)
            m_writeError = rc;
        return rc;
    } catch (...) {
        return StatusOfException();
    }
}

int CHDArchive::CloseVolume(const ArchiveRecord* next)
{
    std::vector<uint8_t> closing(kHdEntryHeaderLength, 0);
    HdEntryHeader header{};
    header.magic = kEntryMagic;
    if (next) {
        header.flags = kEntryKindLink;
        header.dataLength = next->length;
    } else {
        header.flags = m_aborted ? kEntryKindAbortEnd : kEntryKindEnd;
    }
    memcpy(closing.data(), &header, kHdEntryHeaderLength);
    Cipher(closing.data(), kHdEntryHeaderLength, 0);
    if (next) {
        size_t at = closing.size();
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(next);
        closing.insert(closing.end(), bytes, bytes + next->length);
        Cipher(closing.data() + at, next->length, 0);
    }
    const uint64_t limit = VolumeLimitBytes();
    if (limit != ~0ull) {
        uint64_t left = limit - m_writeOffset - closing.size();
        if (left >= kHdEntryHeaderLength) {
            HdEntryHeader padding{};
            padding.magic = kEntryMagic;
            padding.flags = kEntryKindPadding;
            padding.dataLength = static_cast<uint32_t>(left - kHdEntryHeaderLength);
            uint8_t bytes[kHdEntryHeaderLength];
            memcpy(bytes, &padding, sizeof bytes);
            Cipher(bytes, sizeof bytes, 0);
            if (int rc = WriteBytes(bytes, sizeof bytes))
                return rc;
            std::vector<uint8_t> zeros(kPaddingPiece, 0);
            for (uint64_t remaining = padding.dataLength; remaining > 0;) {
                size_t piece = static_cast<size_t>(std::min<uint64_t>(remaining, kPaddingPiece));
                if (int rc = WriteBytes(zeros.data(), piece))
                    return rc;
                remaining -= piece;
            }
        }
    }
    if (int rc = WriteBytes(closing.data(), closing.size()))
        return rc;
    std::vector<uint8_t> volumeHeader = BuildVolumeHeader(next);
    if (int rc = m_writeFile->WriteAt(volumeHeader.data(), static_cast<uint32_t>(volumeHeader.size()), 0))
        return rc == -1 ? ARCERR_READ : rc;
    SVolume& volume = *m_volumes.back();
    volume.header = volumeHeader;
    Cipher(volume.header.data() + kHdFixedHeaderLength, m_options.partitionArea.size(), 0);
    int rc = m_writeFile->Close();
    m_writeFile.reset();
    return rc;
}

int CHDArchive::NextVolume()
{
    ArchiveRecord* asked = nullptr;
    std::string path;
    if (m_params.eventCallback &&
        Callback(ARCCB_NEW_VOLUME, m_volumes.back()->record.data(), &asked) == 0 && asked &&
        GetRecordPath(asked)) {
        path = GetRecordPath(asked);
    } else {
        // Automatic names beside the first volume: name_002.ext, name_003.ext...
        std::string first = m_volumes[0]->path;
        size_t dot = first.find_last_of('.');
        size_t slash = first.find_last_of("\\/");
        std::string stem = first, extension;
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
            stem = first.substr(0, dot);
            extension = first.substr(dot);
        }
        char number[16];
        snprintf(number, sizeof number, "_%03u", static_cast<unsigned>(m_volumes.size() + 1));
        path = stem + number + extension;
    }
    std::vector<uint8_t> record = RecordWithPath(m_location, path, kRecordNextVolume);
    record[3] = kLocationNextToVolume;
    if (record.size() > kMaxBaseRecordLength)
        return ARCERR_BAD_ARGUMENT;
    if (int rc = CloseVolume(AsRecord(record)))
        return rc;
    return StartVolume(path);
}

int CHDArchive::Finish()
{
    ArchiveMutexLock lock(m_mutex);
    if (!m_writing)
        return ARCERR_BAD_ARGUMENT;
    int rc = m_writeError;
    if (m_writeFile) {
        int closed;
        try {
            closed = CloseVolume(nullptr);
        } catch (...) {
            closed = StatusOfException();
        }
        if (!rc)
            rc = closed;
    }
    m_writing = false;
    m_writeFile.reset();
    return rc;
}
