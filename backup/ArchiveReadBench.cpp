// Read throughput of archives of each compression method, with and without a
// password. References: plain reads of the stored archive's file (stored),
// the stored archive (run-length, LZRW3), zlib's own uncompress of the same
// blocks (zlib), the same method without a password (with one). Usage:
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
#include <string>
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

// Seconds to read a whole file in 1 MiB pieces.
double PlainRead(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    std::vector<uint8_t> buffer(kEntryBytes);
    double start = Seconds();
    DWORD read = 0;
    while (ReadFile(file, buffer.data(), kEntryBytes, &read, nullptr) && read != 0) {
    }
    double seconds = Seconds() - start;
    CloseHandle(file);
    return seconds;
}

void Result(const std::string& figure, double value, const char* unit, const std::string& reference,
            double referenceValue)
{
    printf("RESULT\t%s\t%.4f\t%s\t%s\t%.4f\t%.2f\n", figure.c_str(), value, unit, reference.c_str(),
           referenceValue, referenceValue > 0 ? value / referenceValue : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const uint32_t megabytes = argc > 1 ? static_cast<uint32_t>(atoi(argv[1])) : 200;
    const uint32_t entries = megabytes;  // one entry per MiB
    const std::vector<uint8_t> pattern = archivetest::SectorPattern(kEntryBytes / 512, 1);
    archivetest::CTempFolder folder;

    // zlib's own speed on the same data, in the same 1 MiB pieces.
    double zlibSeconds = 0;
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
        zlibSeconds = Seconds() - start;
        printf("%-28s %8.1f MB/s\n", "zlib uncompress (level 6)", megabytes / zlibSeconds);
    }

    struct Method {
        const char* name;
        uint8_t choice;
    } methods[] = {{"stored", 0xFF}, {"run-length", kChoiceRunLength}, {"LZRW3", kChoiceLzrw3}, {"zlib 6", 6}};
    printf("%-28s %12s %12s\n", "archive read", "MB/s", "archive MB");
    double plainSeconds = 0;
    double storedSeconds = 0;
    for (const Method& m : methods) {
        double withoutPassword = 0;
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
            if (seconds < 0) {
                printf("%-28s read failed\n", label);
                continue;
            }
            printf("%-28s %12.1f %12.1f\n", label, megabytes / seconds, size / 1048576.0);
            char figure[128];
            snprintf(figure, sizeof figure, "archive read, %u MB, %s", megabytes, label);
            if (password[0]) {
                Result(std::string(figure) + " (vs no password: the cipher's cost)", seconds, "s",
                       std::string(m.name) + " without password", withoutPassword);
            } else if (m.choice == 0xFF) {
                plainSeconds = PlainRead(path);
                storedSeconds = seconds;
                Result(std::string(figure) + " (vs plain reads of the file: the archive layer's cost)", seconds, "s",
                       "ReadFile of the archive in 1 MiB pieces", plainSeconds);
            } else if (m.choice == 6) {
                Result(std::string(figure) + " (vs zlib's own uncompress of the blocks)", seconds, "s",
                       "zlib uncompress, 1 MiB blocks", zlibSeconds);
            } else {
                Result(std::string(figure) + " (vs the stored archive: the codec's cost)", seconds, "s",
                       "stored archive read", storedSeconds);
            }
            if (!password[0])
                withoutPassword = seconds;
            fflush(stdout);
        }
    }
    return 0;
}
