// Native libFuzzer target for everything that reads a file a user hands the
// backup layer: the block codecs, the packed-block unpacker, the cipher and
// the saved extent index; archives of the newer format (volume chains, base
// archives, flat archives written in place) through OpenArchive, with their
// index built by walking the entries or loaded from a companion file;
// archives of the older format; and the backup catalog through CLorvArchive
// over SQLite. Built and run by run-fuzz.sh.
//
// An input is a mode byte, a flags byte and parts separated by kSeparator:
// the volumes in the order the readers open them (then the companion file),
// or the catalog and the files beside it.
#include "ArchiveCipher.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "CBaseArchive.h"
#include "CBlockPacker.h"
#include "CExtentIndex.h"
#include "CHDArchive.h"
#include "CLorvArchive.h"
#include "CLzrw3Codec.h"
#include "COldArchive.h"
#include "FuzzSeeds.h"
#include "MemoryFiles.h"
#include "RunLengthCodec.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

enum EMode { kCodecs, kNewer, kNewerWithCompanion, kOlder, kCatalog, kModes };

void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "broken: %s\n", what);
        abort();
    }
}

std::vector<std::vector<uint8_t>> Split(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> parts(1);
    const size_t n = sizeof kSeparator - 1;
    for (size_t i = 0; i < size;) {
        if (size - i >= n && memcmp(data + i, kSeparator, n) == 0) {
            parts.emplace_back();
            i += n;
        } else {
            parts.back().push_back(data[i++]);
        }
    }
    return parts;
}

// Sector ranges to read, taken from the input so that the fuzzer steers them.
struct SRange {
    uint32_t first;
    uint32_t count;
};

std::vector<SRange> Ranges(const std::vector<std::vector<uint8_t>>& parts)
{
    std::vector<SRange> ranges = {{0, 64}, {0, 1}};
    const std::vector<uint8_t>& last = parts.back();
    for (size_t at = last.size() >= 16 ? last.size() - 16 : 0; at + 8 <= last.size(); at += 8) {
        uint32_t first, count;
        memcpy(&first, &last[at], 4);
        memcpy(&count, &last[at + 4], 4);
        ranges.push_back({first % 0x10000, 1 + count % 128});
    }
    return ranges;
}

// --- codecs -----------------------------------------------------------------

void FuzzCodecs(const uint8_t* data, size_t size)
{
    if (size < 4)
        return;
    const uint8_t selector = data[0];
    // An output capacity chosen by the input, so that every size of
    // destination, too small ones included, gets exercised.
    const size_t capacity = (static_cast<size_t>(data[1]) << 8 | data[2]) % 70000;
    data += 3;
    size -= 3;
    std::vector<uint8_t> out(capacity + 1);
    static CLzrw3Codec lzrw3;
    static CBlockPacker packer;
    switch (selector % 6) {
    case 0: {
        long long n = RunLengthDecode(data, size, out.data(), capacity);
        Check(n <= static_cast<long long>(capacity), "run-length output within capacity");
        break;
    }
    case 1: {
        long long n = lzrw3.Decompress(data, size, out.data(), capacity);
        Check(n <= static_cast<long long>(capacity), "LZRW3 output within capacity");
        break;
    }
    case 2:
        packer.Unpack(selector >> 4, data, size, out.data(), capacity);
        break;
    case 3: {
        // Every codec gives back what it was given.
        std::vector<uint8_t> block;
        uint8_t choice = selector >> 3 == 0 ? kChoiceRunLength : selector >> 3 == 1 ? kChoiceLzrw3 : 1 + selector % 9;
        Check(packer.Pack(data, size, choice, block) == 0, "packing succeeds");
        uint32_t stored, method;
        memcpy(&stored, block.data(), 4);
        memcpy(&method, block.data() + 4, 4);
        Check(block.size() == 8 + stored, "block length");
        std::vector<uint8_t> back(size + 1);
        Check(packer.Unpack(method, block.data() + 8, stored, back.data(), size) == 0, "unpacking succeeds");
        Check(memcmp(back.data(), data, size) == 0, "round trip");
        break;
    }
    case 4: {
        std::vector<uint8_t> copy(data, data + size);
        uint8_t key[13] = {};
        memcpy(key, data, size < 13 ? size : 13);
        ArchiveCipher(copy.data(), copy.size(), key, capacity);
        ArchiveCipher(copy.data(), copy.size(), key, capacity);
        Check(memcmp(copy.data(), data, size) == 0, "cipher twice restores");
        if (size >= kPasswordCheckBlockLength)
            CheckArchivePassword(data, key);
        break;
    }
    default: {
        size_t at = 0;
        auto read = [&](void* buffer, uint32_t n) -> int {
            if (n > size - at)
                return 1;
            memcpy(buffer, data + at, n);
            at += n;
            return 0;
        };
        CExtentIndex index;
        if (index.Load(read, size) == 0)
            index.Lookup(static_cast<uint32_t>(capacity), 8);
        break;
    }
    }
}

// --- archives -----------------------------------------------------------------

struct ArchiveCloser {
    void operator()(CBaseArchive* archive) const { CloseArchive(archive); }
};
using ArchivePtr = std::unique_ptr<CBaseArchive, ArchiveCloser>;

const char kVolumePath[] = "M:\\fuzz\\volume.kzf";
const char kCompanionPath[] = "M:\\fuzz\\volume.kfm";

int OpenFromMemory(const char* path, uint8_t flags, ArchivePtr& archive)
{
    ArchiveRecord* location = NewArchiveLocation(path);
    Check(location != nullptr, "location");
    ArchiveOpenParams params{};
    params.location = location;
    params.volumeLimit = kNoVolumeLimit;
    // Without a callback the readers use the system's factory, which hands
    // out memory files here too.
    params.eventCallback = (flags & 1) ? memoryfiles::EventCallback : nullptr;
    params.readOnly = (flags & 2) ? 0 : 1;
    if (flags & 4)
        memcpy(params.key, kSeedPassword, strlen(kSeedPassword));
    HdArchiveHeader* header = nullptr;
    CBaseArchive* opened = nullptr;
    int rc = OpenArchive(&params, &header, &opened, nullptr);
    FreeArchiveRecord(location);
    archive.reset(opened);
    if (rc) {
        Check(!opened && !header, "a failed open hands out nothing");
        return rc;
    }
    Check(header != nullptr, "header copy");
    unsigned n = 0;
    for (ArchiveRecord* r = GetFirstHeaderRecord(header); !EndOfHeaderRecords(header, r) && n < 300;
         r = GetNextHeaderRecord(header, r), ++n)
        GetRecordPath(r);
    FreeArchiveHeader(header);
    return 0;
}

std::vector<uint8_t> ReadRange(CBaseArchive* archive, int mode, const SRange& range, int* rc)
{
    std::vector<uint8_t> buffer(static_cast<size_t>(range.count) * 512, 0xA5);
    *rc = archive->Read(mode, range.first, range.count, buffer.data(), nullptr);
    return buffer;
}

bool IsFlat(CBaseArchive* archive)
{
    const HdArchiveHeader* header = archive->GetHeader();
    return header && (header->flags & kHdFlat) && !(header->flags & kHdPacked) && !archive->GetBaseArchive();
}

// In-place writes of a flat archive stay inside the volumes they were made
// in, behind their headers.
void WriteInPlace(CBaseArchive* archive, const std::vector<SRange>& ranges)
{
    std::map<std::string, std::vector<uint8_t>> before = memoryfiles::Files();
    for (const SRange& range : ranges) {
        std::vector<uint8_t> sectors(static_cast<size_t>(range.count) * 512, 0x5A);
        archive->Read(1, range.first, range.count, sectors.data(), nullptr);
    }
    for (const memoryfiles::SWrite& w : memoryfiles::Writes()) {
        auto volume = before.find(w.path);
        Check(volume != before.end(), "writes go to a volume");
        const std::vector<uint8_t>& old = volume->second;
        uint32_t headerLength = 0;
        if (old.size() >= 16)
            memcpy(&headerLength, &old[12], 4);
        Check(w.offset >= headerLength && w.offset <= old.size() && old.size() - w.offset >= w.length,
              "a write lands inside the volume, behind its header");
    }
    for (const auto& file : memoryfiles::Files()) {
        auto old = before.find(file.first);
        Check(old == before.end() || old->second.size() == file.second.size(), "in-place writes grow nothing");
    }
}

void FuzzNewer(std::vector<std::vector<uint8_t>> parts, uint8_t flags, bool withCompanion)
{
    std::vector<uint8_t> companion;
    if (withCompanion) {
        if (parts.size() < 2)
            return;
        companion = std::move(parts.back());
        parts.pop_back();
    }
    const std::vector<SRange> ranges = Ranges(parts);
    memoryfiles::Reset(parts);
    ArchivePtr archive;
    if (OpenFromMemory(kVolumePath, flags, archive))
        return;
    CBaseArchive* base = archive->GetBaseArchive();
    if (base && !base->IsIndexBuilt())
        base->BuildIndex();
    for (int i = 0; i < 64; ++i) {
        HdEntryHeader entry;
        std::vector<uint8_t> bitmap, data;
        if (archive->ReadEntry(&entry, &bitmap, &data))
            break;
    }
    int rc;
    if (withCompanion) {
        memoryfiles::Files()[kCompanionPath] = companion;
        std::unique_ptr<CNAFile> file(memoryfiles::NewFile());
        Check(file && file->Open(kCompanionPath, 1, 0x80000000u, 0) == 0, "companion opens");
        rc = archive->LoadCompanion(file.get());
        Check(rc == 0 || !archive->IsIndexBuilt(), "a refused companion leaves no index");
    } else {
        rc = archive->BuildIndex();
    }
    if (!archive->IsIndexBuilt())
        return;
    std::vector<int> status;
    std::vector<std::vector<uint8_t>> got;
    for (const SRange& range : ranges) {
        int r = 0;
        got.push_back(ReadRange(archive.get(), 0, range, &r));
        status.push_back(r);
    }
    if (!withCompanion && !IsFlat(archive.get()) && dynamic_cast<CHDArchive*>(archive.get())) {
        // What the walk found, saved and loaded again, reads the same.
        std::unique_ptr<CNAFile> file(memoryfiles::NewFile());
        Check(file && file->Open(kCompanionPath, 2, 0xC0000000u, 0) == 0, "companion is made");
        if (archive->SaveCompanion(file.get()) == 0) {
            ArchivePtr again;
            std::unique_ptr<CNAFile> saved(memoryfiles::NewFile());
            Check(saved->Open(kCompanionPath, 1, 0x80000000u, 0) == 0, "companion opens");
            if (OpenFromMemory(kVolumePath, flags & ~2, again) == 0) {
                CBaseArchive* againBase = again->GetBaseArchive();
                if (againBase && !againBase->IsIndexBuilt())
                    againBase->BuildIndex();
                Check(again->LoadCompanion(saved.get()) == 0, "a saved index loads again");
                for (size_t i = 0; i < ranges.size(); ++i) {
                    int r = 0;
                    std::vector<uint8_t> same = ReadRange(again.get(), 0, ranges[i], &r);
                    Check(r == status[i] && (r != 0 || same == got[i]), "a loaded index reads as the walked one");
                }
            }
        }
    }
    if (IsFlat(archive.get()) && (flags & 2))
        WriteInPlace(archive.get(), ranges);
}

void FuzzOlder(std::vector<std::vector<uint8_t>> parts, uint8_t flags)
{
    const std::vector<SRange> ranges = Ranges(parts);
    memoryfiles::Reset(parts);
    ArchivePtr archive;
    if (OpenFromMemory("M:\\fuzz\\image.1", flags, archive))
        return;
    auto* older = dynamic_cast<COldArchive*>(archive.get());
    if (!older)
        return;
    auto readAll = [&] {
        for (size_t p = 0; p < older->GetPartitionCount() && p < 8; ++p)
            for (const SRange& range : ranges) {
                int rc = 0;
                ReadRange(older, static_cast<int>(p), range, &rc);
            }
    };
    readAll();
    if (older->BuildIndex() == 0)
        readAll();
    if (older->LoadCompanion(nullptr) == 0)
        readAll();
}

// --- catalog ------------------------------------------------------------------

std::string g_catalogFolder;
std::string g_tempFolder;

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> files;
    DIR* dir = opendir(folder.c_str());
    Check(dir != nullptr, "folder");
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string bytes;
        if (FILE* f = fopen((folder + name).c_str(), "rb")) {
            char buffer[65536];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
                bytes.append(buffer, n);
            fclose(f);
        }
        files[name] = bytes;
    }
    closedir(dir);
    return files;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    Check(f != nullptr, "catalog file");
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

void FuzzCatalog(const std::vector<std::vector<uint8_t>>& parts, uint8_t flags)
{
    for (const auto& file : Snapshot(g_catalogFolder))
        unlink((g_catalogFolder + file.first).c_str());
    WriteFile(g_catalogFolder + "catalog.db", parts[0]);
    const char* beside[2] = {"catalog.db-journal", "catalog.db-wal"};
    if (flags & 1)
        std::swap(beside[0], beside[1]);
    for (size_t i = 1; i < parts.size() && i <= 2; ++i)
        WriteFile(g_catalogFolder + beside[i - 1], parts[i]);
    const auto before = Snapshot(g_catalogFolder);

    CLorvArchive catalog;
    catalog.SetCatalogFolder(std::wstring(g_catalogFolder.begin(), g_catalogFolder.end() - 1));
    catalog.SetBusyWait(1, 0);
    catalog.ReadSettings(nullptr, nullptr, nullptr);
    std::vector<SCatalogDatabase> databases;
    catalog.ListDatabases(&databases);
    const std::wstring name = databases.empty() ? L"MDB1" : databases[0].name;
    const int id = databases.empty() ? 10 : databases[0].id;
    std::vector<SCatalogVersion> versions;
    catalog.ListDatabaseVersions(name, &versions);
    SCatalogImagePaths paths;
    catalog.GetImagePaths(id, &paths);
    std::vector<SCatalogDatabaseFile> files;
    catalog.ListStorageGroupFiles(versions.empty() ? 1 : versions[0].storageGroupId, &files);
    SCatalogDatabase database;
    SCatalogVersion version;
    catalog.GetDatabaseVersion(id, &database, &version);
    catalog.GetLastErrorText();

    Check(before == Snapshot(g_catalogFolder), "reading leaves the catalog's folder as it was");
    Check(Snapshot(g_tempFolder).empty(), "no private copy is left behind");
}

std::string MakeFolder(const std::string& path)
{
    mkdir(path.c_str(), 0755);
    return path + "/";
}

std::string g_root;

void RemoveScratch()
{
    for (const std::string& folder : {g_catalogFolder, g_tempFolder}) {
        for (const auto& file : Snapshot(folder))
            unlink((folder + file.first).c_str());
        rmdir(folder.c_str());
    }
    rmdir(g_root.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string root = MakeFolder("/tmp/vostrel-fuzz-" + std::to_string(getpid()));
    g_root = root;
    g_catalogFolder = MakeFolder(root + "catalog");
    g_tempFolder = MakeFolder(root + "temp");
    setenv("TMPDIR", g_tempFolder.c_str(), 1);
    atexit(RemoveScratch);
    if (const char* seeds = getenv("VOSTREL_FUZZ_SEEDS"))
        WriteSeeds(seeds, root);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0] % kModes;
    const uint8_t flags = data[1];
    if (mode == kCodecs) {
        FuzzCodecs(data + 1, size - 1);
        return 0;
    }
    std::vector<std::vector<uint8_t>> parts = Split(data + 2, size - 2);
    switch (mode) {
    case kNewer: FuzzNewer(std::move(parts), flags, false); break;
    case kNewerWithCompanion: FuzzNewer(std::move(parts), flags, true); break;
    case kOlder: FuzzOlder(std::move(parts), flags); break;
    default: FuzzCatalog(parts, flags); break;
    }
    memoryfiles::Reset();
    return 0;
}
