// Read throughput of archives of each compression method, with and without a
// password, next to zlib's own uncompress on the same data. Usage:
// backup_read_bench [megabytes] (200 unless given).
#include "Platform.h"

#include "ArchiveRecords.h"
#include "ArchiveTestSupport.h"
#include "CBaseArchive.h"
#include "CBlockPacker.h"
#include "CHDArchive.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const uint32_t kUnit = 4096;
const uint32_t kUnitsPerEntry = 256;  // 1 MiB entries
const uint32_t kEntryBytes = kUnit * kUnitsPerEntry;

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// The same 1 MiB of mixed sector content repeated with a changing stamp, so
// that every entry differs but generating it costs nothing.
void FillEntry(std::vector<uint8_t>& entry, const std::vector<uint8_t>& pattern, uint32_t index)
{
    memcpy(entry.data(), pattern.data(), entry.size());
    for (size_t at = 0; at < entry.size(); at += 512)
        memcpy(&entry[at], &index, 4);
}

bool WriteArchive(const std::string& path, uint8_t compression, const char* password, uint32_t entries,
                  const std::vector<uint8_t>& pattern)
{
    ArchiveRecord* location = NewArchiveLocation(path.c_str());
    ArchiveOpenParams params{};
    params.location = location;
    params.volumeLimit = kNoVolumeLimit;
    params.compression = compression;
    params.eventCallback = ArchiveFileFactory;
    strncpy(reinterpret_cast<char*>(params.key), password, 13);
    SHdCreateOptions options;
    options.unitSize = kUnit;
    options.flags = compression == 0xFF ? 0 : kHdPacked;
    CHDArchive writer;
    bool ok = writer.Create(&params, options) == 0;
    std::vector<uint8_t> entry(kEntryBytes);
    for (uint32_t i = 0; ok && i < entries; ++i) {
        FillEntry(entry, pattern, i);
        HdEntryHeader header{};
        header.firstSector = i * (kEntryBytes / 512);
        header.units = kUnitsPerEntry;
        header.sectorsPerUnit = kUnit / 512;
        ok = writer.WriteEntry(&header, nullptr, entry.data(), kEntryBytes) == 0;
    }
    ok = writer.Finish() == 0 && ok;
    FreeArchiveRecord(location);
    return ok;
}

double ReadArchive(const std::string& path, const char* password, uint32_t entries, uint64_t* fileBytes)
{
    ArchiveRecord* location = NewArchiveLocation(path.c_str());
    ArchiveOpenParams params{};
    params.location = location;
    params.eventCallback = ArchiveFileFactory;
    params.readOnly = 1;
    strncpy(reinterpret_cast<char*>(params.key), password, 13);
    CBaseArchive* archive = nullptr;
    double seconds = -1;
    if (OpenArchive(&params, nullptr, &archive, nullptr) == 0) {
        double start = Seconds();
        std::vector<uint8_t> buffer(kEntryBytes);
        bool ok = archive->BuildIndex() == 0;
        for (uint32_t i = 0; ok && i < entries; ++i)
            ok = archive->Read(0, i * (kEntryBytes / 512), kEntryBytes / 512, buffer.data(), nullptr) == 0;
        if (ok)
            seconds = Seconds() - start;
        CloseArchive(archive);
    }
    FreeArchiveRecord(location);
    *fileBytes = archivetest::ReadWholeFile(path).size();
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t megabytes = argc > 1 ? static_cast<uint32_t>(atoi(argv[1])) : 200;
    const uint32_t entries = megabytes;  // one entry per MiB
    const std::vector<uint8_t> pattern = archivetest::SectorPattern(kEntryBytes / 512, 1);
    archivetest::CTempFolder folder;

    // zlib's own speed on the same data, in the same 1 MiB pieces.
    {
        std::vector<uint8_t> entry(kEntryBytes), packed(compressBound(kEntryBytes)), out(kEntryBytes);
        std::vector<std::vector<uint8_t>> blocks;
        for (uint32_t i = 0; i < entries; ++i) {
            FillEntry(entry, pattern, i);
            uLongf n = static_cast<uLongf>(packed.size());
            compress2(packed.data(), &n, entry.data(), kEntryBytes, 6);
            blocks.emplace_back(packed.begin(), packed.begin() + n);
        }
        double start = Seconds();
        for (const auto& block : blocks) {
            uLongf n = kEntryBytes;
            uncompress(out.data(), &n, block.data(), static_cast<uLong>(block.size()));
        }
        double seconds = Seconds() - start;
        printf("%-28s %8.1f MB/s\n", "zlib uncompress (level 6)", megabytes / seconds);
    }

    struct Method {
        const char* name;
        uint8_t choice;
    } methods[] = {{"stored", 0xFF}, {"run-length", kChoiceRunLength}, {"LZRW3", kChoiceLzrw3}, {"zlib 6", 6}};
    printf("%-28s %12s %12s\n", "archive read", "MB/s", "archive MB");
    for (const Method& m : methods) {
        for (const char* password : {"", "benchmark"}) {
            std::string path = folder / "bench.kzf";
            char label[64];
            snprintf(label, sizeof label, "%s%s", m.name, password[0] ? " + password" : "");
            if (!WriteArchive(path, m.choice, password, entries, pattern)) {
                printf("%-28s write failed\n", label);
                continue;
            }
            uint64_t size = 0;
            double seconds = ReadArchive(path, password, entries, &size);
            if (seconds < 0)
                printf("%-28s read failed\n", label);
            else
                printf("%-28s %12.1f %12.1f\n", label, megabytes / seconds, size / 1048576.0);
            fflush(stdout);
        }
    }
    return 0;
}
