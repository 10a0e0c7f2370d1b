#pragma once
// Helpers the archive tests share: a temporary folder that removes itself,
// whole-file reads and writes, and byte patterns.
#include <cstdint>
#include <string>
#include <vector>

namespace archivetest {

class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // UTF-8 path of the folder, ending with a backslash.
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Deterministic data that compresses: sector-sized pieces of runs, text and noise.
std::vector<uint8_t> SectorPattern(size_t sectors, uint32_t seed);

}  // namespace archivetest
