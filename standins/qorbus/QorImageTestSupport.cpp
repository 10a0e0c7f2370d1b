#include "Platform.h"
#include "QorImageTestSupport.h"

#include "ArchiveFormat.h"
#include "ArchiveRecords.h"
#include "CBaseArchive.h"
#include "CHDArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qorbusimages {

namespace {

void PutBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

void PutBe64(uint8_t* p, uint64_t v)
{
    PutBe32(p, static_cast<uint32_t>(v >> 32));
    PutBe32(p + 4, static_cast<uint32_t>(v));
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::wstring ProgramFolder()
{
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, length);
    return path.substr(0, path.rfind(L'\\'));
}

void CollectFiles(const std::wstring& root, const std::wstring& relative, std::vector<FixtureFile>& files)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = root + (relative.empty() ? L"" : L"\\" + relative) + L"\\*";
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectFiles(root, path, files);
        else
            files.push_back({path, ReadAll(root + L"\\" + path)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

struct RecordDeleter {
    void operator()(ArchiveRecord* r) const { FreeArchiveRecord(r); }
};

bool IsZero(const uint8_t* p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

}  // namespace

std::wstring FixtureFolder() { return ProgramFolder() + L"\\qorbus_fixtures"; }

std::vector<uint8_t> FixturePartition(int bits)
{
    return ReadAll(FixtureFolder() + (bits == 32 ? L"\\fat32.img" : L"\\fat16.img"));
}

std::vector<FixtureFile> FixtureFiles()
{
    std::vector<FixtureFile> files;
    CollectFiles(FixtureFolder() + L"\\files", L"", files);
    return files;
}

std::vector<uint8_t> ReadAll(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size)) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
                               got != bytes.size()))
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::vector<uint8_t> MakeVhd(const std::vector<uint8_t>& partition, uint8_t partitionType)
{
    const uint32_t partitionSectors = static_cast<uint32_t>((partition.size() + 511) / 512);
    const uint64_t diskBytes = (static_cast<uint64_t>(kVhdPartitionSector) + partitionSectors) * 512;
    std::vector<uint8_t> vhd(static_cast<size_t>(diskBytes) + 512, 0);

    uint8_t* slot = &vhd[446];
    slot[1] = 0xFE, slot[2] = 0xFF, slot[3] = 0xFF;  // beyond what CHS addresses
    slot[4] = partitionType;
    slot[5] = 0xFE, slot[6] = 0xFF, slot[7] = 0xFF;
    PutLe32(slot + 8, kVhdPartitionSector);
    PutLe32(slot + 12, partitionSectors);
    vhd[510] = 0x55;
    vhd[511] = 0xAA;
    std::copy(partition.begin(), partition.end(), vhd.begin() + kVhdPartitionSector * 512);

    uint8_t* footer = &vhd[static_cast<size_t>(diskBytes)];
    memcpy(footer, "conectix", 8);
    PutBe32(footer + 8, 2);
    PutBe32(footer + 12, 0x00010000);
    PutBe64(footer + 16, ~0ull);
    memcpy(footer + 28, "qorb", 4);
    PutBe32(footer + 32, 0x00010000);
    memcpy(footer + 36, "Wi2k", 4);
    PutBe64(footer + 40, diskBytes);
    PutBe64(footer + 48, diskBytes);
    const uint64_t cylinders = std::min<uint64_t>(diskBytes / 512 / (16 * 63), 65535);
    footer[56] = static_cast<uint8_t>(cylinders >> 8);
    footer[57] = static_cast<uint8_t>(cylinders);
    footer[58] = 16;
    footer[59] = 63;
    PutBe32(footer + 60, 2);
    for (int i = 0; i < 16; ++i)
        footer[68 + i] = static_cast<uint8_t>(0x51 + 7 * i);
    SealVhdFooter(vhd);
    return vhd;
}

void SealVhdFooter(std::vector<uint8_t>& vhd)
{
    uint8_t* footer = &vhd[vhd.size() - 512];
    PutBe32(footer + 64, 0);
    uint32_t sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += footer[i];
    PutBe32(footer + 64, ~sum);
}

int WriteArchive(const std::string& path, const std::vector<uint8_t>& partition, const ArchiveSettings& settings)
{
    constexpr uint32_t kUnit = 4096;
    const uint32_t sectors = static_cast<uint32_t>((partition.size() + 511) / 512);
    std::unique_ptr<ArchiveRecord, RecordDeleter> location(NewArchiveLocation(path.c_str()));
    ArchiveOpenParams params{};
    params.location = location.get();
    params.volumeLimit = kNoVolumeLimit;
    params.compression = settings.compression;
    params.eventCallback = ArchiveFileFactory;

    SHdCreateOptions options;
    options.major = settings.major;
    options.unitSize = kUnit;
    options.flags = settings.packed ? kHdPacked : kHdFlat;
    options.label = "Exchange backup";
    options.archiveId = 0x5152534F52424F51ull;
    // The partition record: drive letter number, label, used and total sectors.
    options.partitionArea.assign(128, 0);
    options.partitionArea[32] = 'E' - 64;
    memcpy(&options.partitionArea[42], "MAILDATA", 8);
    uint32_t used = 0;
    for (size_t at = 0; at < partition.size(); at += 512)
        used += IsZero(&partition[at], std::min<size_t>(512, partition.size() - at)) ? 0 : 1;
    PutLe32(&options.partitionArea[56], used);
    PutLe32(&options.partitionArea[60], sectors);

    CHDArchive writer;
    if (int rc = writer.Create(&params, options))
        return rc;
    std::vector<uint8_t> padded(partition);
    padded.resize((partition.size() + kUnit - 1) / kUnit * kUnit, 0);
    const uint32_t units = static_cast<uint32_t>(padded.size() / kUnit);
    for (uint32_t first = 0; first < units; first += settings.unitsPerEntry) {
        const uint32_t count = std::min(settings.unitsPerEntry, units - first);
        std::vector<uint8_t> bitmap((count + 7) / 8, 0), present;
        uint32_t held = 0;
        for (uint32_t u = 0; u < count; ++u) {
            const uint8_t* unit = &padded[static_cast<size_t>(first + u) * kUnit];
            if (IsZero(unit, kUnit))
                continue;
            bitmap[u / 8] |= static_cast<uint8_t>(1 << (u % 8));
            present.insert(present.end(), unit, unit + kUnit);
            ++held;
        }
        if (held == 0)
            continue;  // nothing but zeros: not backed up
        HdEntryHeader entry{};
        entry.firstSector = first * (kUnit / 512);
        entry.units = count;
        entry.sectorsPerUnit = kUnit / 512;
        int rc;
        if (settings.bitmaps && held < count) {
            entry.flags = kEntryBitmap;
            rc = writer.WriteEntry(&entry, bitmap.data(), present.data(), static_cast<uint32_t>(present.size()));
        } else {
            rc = writer.WriteEntry(&entry, nullptr, &padded[static_cast<size_t>(first) * kUnit], count * kUnit);
        }
        if (rc)
            return rc;
    }
    return writer.Finish();
}

std::vector<uint8_t> MakeArchive(const std::vector<uint8_t>& partition, const ArchiveSettings& settings)
{
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"qar", 0, file);
    const std::wstring wide(file);
    std::string path;
    for (wchar_t c : wide)
        path.push_back(static_cast<char>(c));  // the temporary folder's path is ASCII
    std::vector<uint8_t> bytes;
    if (WriteArchive(path, partition, settings) == 0)
        bytes = ReadAll(wide);
    DeleteFileW(file);
    return bytes;
}

std::vector<uint8_t> MountedDeviceValue(wchar_t letter, DWORD* type)
{
    const wchar_t name[] = {L'\\', L'D', L'o', L's', L'D', L'e', L'v', L'i', L'c', L'e', L's', L'\\', letter, L':', 0};
    std::vector<uint8_t> data(4096);
    DWORD size = static_cast<DWORD>(data.size()), kind = 0;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    const LONG rc = RegQueryValueExW(key, name, nullptr, &kind, data.data(), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return {};
    data.resize(size);
    if (type)
        *type = kind;
    return data;
}

std::wstring MountedImageName(const std::vector<uint8_t>& value)
{
    std::wstring text(value.size() / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], value.data(), text.size() * 2);
    text = text.substr(0, text.find(L'\0'));
    const size_t hash = text.rfind(L'#');
    if (hash == std::wstring::npos)
        return L"";
    text.resize(hash);
    const size_t amp = text.rfind(L'&');
    return amp == std::wstring::npos ? L"" : text.substr(amp + 1);
}

FileSum SumOf(const std::wstring& path)
{
    FileSum sum;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return sum;
    std::vector<uint8_t> piece(1 << 20);
    uLong crc = crc32(0, Z_NULL, 0);
    DWORD got = 0;
    while (ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) && got) {
        crc = crc32(crc, piece.data(), got);
        sum.size += got;
    }
    CloseHandle(file);
    sum.crc = static_cast<uint32_t>(crc);
    return sum;
}

}  // namespace qorbusimages
