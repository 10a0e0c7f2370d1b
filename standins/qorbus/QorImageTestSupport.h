#pragma once
// Images for the tests of the image-mounting driver stand-in: the FAT16 and
// FAT32 partitions that the build makes (make-fat-images.sh) with the files
// they hold, wrapped into fixed VHDs and into volumes of the newer backup
// archive format by the project's own writer (through the backup builder);
// the mounted-device values the driver records; checksums of whole files.
#include "Platform.h"

#include "BackupSourceBuilder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorbusimages {

// The folder of the fixtures beside the test program ("qorbus_fixtures"),
// its partitions "fat16.img" and "fat32.img" and the tree "files" they hold.
std::wstring FixtureFolder();
std::vector<uint8_t> FixturePartition(int bits);
// Relative paths (with '\') of every file of the tree, and their contents.
struct FixtureFile {
    std::wstring path;
    std::vector<uint8_t> data;
};
std::vector<FixtureFile> FixtureFiles();

std::vector<uint8_t> ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes);

// A fixed VHD: an MBR naming the partition (of the given type) at sector
// 2048, the partition, and the 512-byte footer.
constexpr uint32_t kVhdPartitionSector = backupsource::kVhdPartitionSector;
std::vector<uint8_t> MakeVhd(const std::vector<uint8_t>& partition, uint8_t partitionType);
// Recomputes the footer's checksum after a test changed its fields.
void SealVhdFooter(std::vector<uint8_t>& vhd);

// How the archive writer stores the partition: units of 4 KiB, so many per
// entry; units of zeros are left out (whole entries, or through bitmaps).
struct ArchiveSettings {
    bool packed = true;
    uint8_t compression = 6;  // 1 byte-run, 10 LZRW3, other: zlib at that level
    uint16_t major = 2;
    uint32_t unitsPerEntry = 16;
    bool bitmaps = false;
};
// Writes the archive volume (UTF-8 path); 0 or the writer's status.
int WriteArchive(const std::string& path, const std::vector<uint8_t>& partition, const ArchiveSettings& settings);
std::vector<uint8_t> MakeArchive(const std::vector<uint8_t>& partition, const ArchiveSettings& settings);

// The data of the value "\DosDevices\X:" under HKLM\SYSTEM\MountedDevices;
// empty when there is none. type receives its type.
std::vector<uint8_t> MountedDeviceValue(wchar_t letter, DWORD* type = nullptr);
// The image file name a value of the driver names: the text after the last
// '&' of what comes before the last '#'.
std::wstring MountedImageName(const std::vector<uint8_t>& value);

// Size and CRC-32 of a whole file, to show that it did not change.
struct FileSum {
    uint64_t size = 0;
    uint32_t crc = 0;
    bool operator==(const FileSum& other) const { return size == other.size && crc == other.crc; }
    bool operator!=(const FileSum& other) const { return !(*this == other); }
};
FileSum SumOf(const std::wstring& path);

}  // namespace qorbusimages
