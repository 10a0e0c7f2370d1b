#include "Platform.h"
#include "BackupSourceBuilder.h"

#include "ArchiveFormat.h"
#include "ArchiveRecords.h"
#include "ArchiveStatus.h"
#include "CBaseArchive.h"
#include "CHDArchive.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

namespace backupsource {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

void PutLe16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

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

bool IsZero(const uint8_t* p, size_t n)
{
    return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
    return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

std::wstring JoinWide(const std::wstring& folder, const std::wstring& name)
{
    return folder.empty() ? name : folder + L"\\" + name;
}

bool Exists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

wchar_t UpperAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

std::wstring UpperAscii(std::wstring text)
{
    for (wchar_t& c : text)
        c = UpperAscii(c);
    return text;
}

bool EndsWithIgnoringCase(const std::wstring& text, const wchar_t* suffix)
{
    const size_t n = wcslen(suffix);
    return text.size() >= n && UpperAscii(text.substr(text.size() - n)) == UpperAscii(suffix);
}

// ------------------------------------------------------------------ FAT

constexpr uint32_t kSector = 512;
constexpr uint32_t kFat16MinClusters = 4085 + 16;   // clear of the FAT12 boundary
constexpr uint32_t kFat16MaxClusters = 65525 - 16;  // and of the FAT32 one
constexpr uint32_t kFat32MinClusters = 65525 + 16;
constexpr uint32_t kFat32MaxClusters = 4u << 20;    // beyond this, larger clusters
constexpr uint32_t kFat32Reserved = 32;
constexpr uint32_t kMinRootEntries = 512;

// Every entry carries the same time: 2009-03-04 05:06:06.
constexpr uint16_t kFatDate = ((2009 - 1980) << 9) | (3 << 5) | 4;
constexpr uint16_t kFatTime = (5 << 11) | (6 << 5) | 3;

struct SNode {
    std::wstring name;
    bool folder = false;
    const std::vector<uint8_t>* data = nullptr;
    size_t parent = 0;
    std::vector<size_t> children;
    uint8_t shortName[11] = {};
    bool longName = false;
    uint32_t entries = 0;  // folders: the directory entries they hold
    uint32_t clusters = 0;
    uint32_t firstCluster = 0;
};

bool IsShortChar(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || (c && c < 128 && wcschr(L"!#$%&'()-@^_`{}~", c));
}

bool IsGoodName(const std::wstring& name)
{
    if (name.empty() || name.size() > 255 || name == L"." || name == L".." || name.back() == L'.' ||
        name.back() == L' ')
        return false;
    for (wchar_t c : name) {
        if (c < 0x20 || wcschr(L"\"*/:<>?\\|", c))
            return false;
    }
    return true;
}

// The name as a short entry stores it, when it is a plain upper-case 8.3 name.
bool ExactShortName(const std::wstring& name, uint8_t out[11])
{
    const size_t dot = name.find(L'.');
    const std::wstring base = name.substr(0, dot);
    const std::wstring ext = dot == std::wstring::npos ? L"" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || (dot != std::wstring::npos && ext.empty()) ||
        ext.find(L'.') != std::wstring::npos)
        return false;
    for (wchar_t c : base + ext) {
        if (!IsShortChar(c))
            return false;
    }
    memset(out, ' ', 11);
    for (size_t i = 0; i < base.size(); ++i)
        out[i] = static_cast<uint8_t>(base[i]);
    for (size_t i = 0; i < ext.size(); ++i)
        out[8 + i] = static_cast<uint8_t>(ext[i]);
    return true;
}

std::string ShortPart(const std::wstring& text, size_t limit)
{
    std::string part;
    for (wchar_t c : text) {
        if (c == L' ' || c == L'.')
            continue;
        c = UpperAscii(c);
        part.push_back(IsShortChar(c) ? static_cast<char>(c) : '_');
        if (part.size() == limit)
            break;
    }
    return part;
}

// A generated short name ("BASIS~N.EXT") that no other entry of the folder uses.
void GenerateShortName(const std::wstring& name, std::set<std::string>& used, uint8_t out[11])
{
    const size_t dot = name.rfind(L'.');
    const bool hasExt = dot != std::wstring::npos && dot > 0;
    std::string base = ShortPart(hasExt ? name.substr(0, dot) : name, 8);
    const std::string ext = hasExt ? ShortPart(name.substr(dot + 1), 3) : "";
    if (base.empty())
        base = "_";
    for (unsigned n = 1; n < 1000000; ++n) {
        const std::string tail = "~" + std::to_string(n);
        std::string candidate = base.substr(0, std::min(base.size(), 8 - tail.size())) + tail;
        candidate.resize(8, ' ');
        std::string padded = ext;
        padded.resize(3, ' ');
        candidate += padded;
        if (used.insert(candidate).second) {
            memcpy(out, candidate.data(), 11);
            return;
        }
    }
    Fail("no short name left for a file of the partition");
}

uint8_t ShortNameChecksum(const uint8_t name[11])
{
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

uint32_t LongEntryCount(const std::wstring& name) { return static_cast<uint32_t>((name.size() + 12) / 13); }

class CFatBuilder {
public:
    CFatBuilder(const std::vector<SFatItem>& items, const SFatOptions& options) : m_options(options)
    {
        if (options.bits != 16 && options.bits != 32)
            Fail("a partition is FAT16 or FAT32");
        if (options.label.size() > 11)
            Fail("a volume label has at most 11 characters");
        m_nodes.emplace_back();
        m_nodes[0].folder = true;
        for (const SFatItem& item : items)
            Add(item);
        NameEntries();
    }

    std::vector<uint8_t> Build()
    {
        Lay();
        std::vector<uint8_t> image(static_cast<size_t>(m_totalSectors) * kSector, 0);
        WriteBootArea(image);
        WriteTables(image);
        for (size_t i = 0; i < m_nodes.size(); ++i) {
            const SNode& node = m_nodes[i];
            if (node.folder)
                WriteFolder(image, i);
            else if (node.data && !node.data->empty())
                std::copy(node.data->begin(), node.data->end(), image.begin() + ClusterOffset(node.firstCluster));
        }
        return image;
    }

private:
    void Add(const SFatItem& item)
    {
        size_t at = 0, start = 0;
        const std::wstring& path = item.path;
        while (true) {
            const size_t slash = path.find(L'\\', start);
            const std::wstring part =
                path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
            if (!IsGoodName(part))
                Fail("not a file name for a FAT partition: " + Utf8(path));
            const bool last = slash == std::wstring::npos;
            const bool folder = !last || item.folder;
            size_t found = 0;
            for (size_t child : m_nodes[at].children) {
                if (UpperAscii(m_nodes[child].name) == UpperAscii(part))
                    found = child;
            }
            if (found) {
                if (!m_nodes[found].folder || last)
                    Fail("a name given twice for a FAT partition: " + Utf8(path));
                at = found;
            } else {
                SNode node;
                node.name = part;
                node.folder = folder;
                node.parent = at;
                if (!folder)
                    node.data = &item.data;
                m_nodes.push_back(node);
                m_nodes[at].children.push_back(m_nodes.size() - 1);
                at = m_nodes.size() - 1;
            }
            if (last)
                break;
            start = slash + 1;
        }
    }

    void NameEntries()
    {
        for (SNode& folder : m_nodes) {
            if (!folder.folder)
                continue;
            std::set<std::string> used;
            // Exact 8.3 names first, so that no generated name takes one of them.
            for (size_t child : folder.children) {
                SNode& node = m_nodes[child];
                if (ExactShortName(node.name, node.shortName))
                    used.insert(std::string(reinterpret_cast<char*>(node.shortName), 11));
                else
                    node.longName = true;
            }
            // Names that are 8.3 names but for their case keep their upper-case
            // form as the short name, as far as it is free; the rest get one made.
            for (size_t child : folder.children) {
                SNode& node = m_nodes[child];
                if (node.longName && ExactShortName(UpperAscii(node.name), node.shortName) &&
                    !used.insert(std::string(reinterpret_cast<char*>(node.shortName), 11)).second)
                    memset(node.shortName, 0, 11);
            }
            for (size_t child : folder.children) {
                SNode& node = m_nodes[child];
                if (node.longName && node.shortName[0] == 0)
                    GenerateShortName(node.name, used, node.shortName);
            }
            const bool root = &folder == &m_nodes[0];
            folder.entries = root ? (m_options.label.empty() ? 0 : 1) : 2;
            for (size_t child : folder.children)
                folder.entries += 1 + (m_nodes[child].longName ? LongEntryCount(m_nodes[child].name) : 0);
        }
    }

    bool InClusters(size_t index) const { return index != 0 || m_options.bits == 32; }

    uint64_t ClustersNeeded(uint32_t clusterBytes) const
    {
        uint64_t total = 0;
        for (size_t i = 0; i < m_nodes.size(); ++i) {
            const SNode& node = m_nodes[i];
            if (node.folder && InClusters(i))
                total += std::max<uint64_t>(
                    1, (static_cast<uint64_t>(node.entries) * 32 + clusterBytes - 1) / clusterBytes);
            else if (!node.folder && node.data)
                total += (node.data->size() + clusterBytes - 1) / clusterBytes;
        }
        return total;
    }

    void Lay()
    {
        const bool fat32 = m_options.bits == 32;
        uint64_t count = 0;
        for (m_sectorsPerCluster = 1; m_sectorsPerCluster <= 64; m_sectorsPerCluster *= 2) {
            const uint32_t clusterBytes = ClusterBytes();
            count = ClustersNeeded(clusterBytes) + (m_options.spareBytes + clusterBytes - 1) / clusterBytes;
            count = std::max<uint64_t>(count, fat32 ? kFat32MinClusters : kFat16MinClusters);
            if (count <= (fat32 ? kFat32MaxClusters : kFat16MaxClusters))
                break;
        }
        if (m_sectorsPerCluster > 64)
            Fail("the files do not fit into a FAT" + std::to_string(m_options.bits) + " partition");
        m_clusterCount = static_cast<uint32_t>(count);
        m_reserved = fat32 ? kFat32Reserved : 1;
        m_rootEntries = fat32 ? 0 : std::max(kMinRootEntries, (m_nodes[0].entries + 15) / 16 * 16);
        if (m_rootEntries > 0xFFF0)
            Fail("too many names in the root folder of a FAT16 partition");
        const uint32_t entryBytes = fat32 ? 4 : 2;
        m_fatSectors = ((m_clusterCount + 2) * entryBytes + kSector - 1) / kSector;
        const uint32_t rootSectors = m_rootEntries * 32 / kSector;
        m_totalSectors = m_reserved + 2 * m_fatSectors + rootSectors + m_clusterCount * m_sectorsPerCluster;
        m_rootOffset = static_cast<uint64_t>(m_reserved + 2 * m_fatSectors) * kSector;
        m_dataOffset = m_rootOffset + static_cast<uint64_t>(rootSectors) * kSector;

        uint32_t next = 2;
        for (size_t i = 0; i < m_nodes.size(); ++i) {
            SNode& node = m_nodes[i];
            if (node.folder && InClusters(i))
                node.clusters = std::max<uint32_t>(1, (node.entries * 32 + ClusterBytes() - 1) / ClusterBytes());
            else if (!node.folder && node.data)
                node.clusters = static_cast<uint32_t>((node.data->size() + ClusterBytes() - 1) / ClusterBytes());
            if (node.clusters) {
                node.firstCluster = next;
                next += node.clusters;
            }
        }
        m_usedClusters = next - 2;
    }

    uint32_t ClusterBytes() const { return m_sectorsPerCluster * kSector; }
    size_t ClusterOffset(uint32_t cluster) const
    {
        return static_cast<size_t>(m_dataOffset + static_cast<uint64_t>(cluster - 2) * ClusterBytes());
    }

    void WriteBootArea(std::vector<uint8_t>& image) const
    {
        const bool fat32 = m_options.bits == 32;
        uint8_t* boot = image.data();
        boot[0] = 0xEB;
        boot[1] = fat32 ? 0x58 : 0x3C;
        boot[2] = 0x90;
        memcpy(boot + 3, "VOSTREL ", 8);
        PutLe16(boot + 11, kSector);
        boot[13] = static_cast<uint8_t>(m_sectorsPerCluster);
        PutLe16(boot + 14, m_reserved);
        boot[16] = 2;
        PutLe16(boot + 17, m_rootEntries);
        if (!fat32 && m_totalSectors < 0x10000)
            PutLe16(boot + 19, m_totalSectors);
        else
            PutLe32(boot + 32, m_totalSectors);
        boot[21] = 0xF8;
        if (!fat32)
            PutLe16(boot + 22, m_fatSectors);
        PutLe16(boot + 24, 63);
        PutLe16(boot + 26, 255);
        PutLe32(boot + 28, m_options.hiddenSectors);
        char label[11];
        memset(label, ' ', 11);
        memcpy(label, m_options.label.empty() ? "NO NAME" : m_options.label.c_str(),
               m_options.label.empty() ? 7 : m_options.label.size());
        uint8_t* extended = boot + (fat32 ? 64 : 36);
        if (fat32) {
            PutLe32(boot + 36, m_fatSectors);
            PutLe32(boot + 44, m_nodes[0].firstCluster);
            PutLe16(boot + 48, 1);  // FSInfo
            PutLe16(boot + 50, 6);  // backup boot sector
        }
        extended[0] = 0x80;
        extended[2] = 0x29;
        PutLe32(extended + 3, m_options.serial);
        memcpy(extended + 7, label, 11);
        memcpy(extended + 18, fat32 ? "FAT32   " : "FAT16   ", 8);
        boot[510] = 0x55;
        boot[511] = 0xAA;
        if (fat32) {
            uint8_t* info = image.data() + kSector;
            PutLe32(info, 0x41615252);
            PutLe32(info + 484, 0x61417272);
            PutLe32(info + 488, m_clusterCount - m_usedClusters);
            PutLe32(info + 492, m_usedClusters + 2);
            PutLe32(info + 508, 0xAA550000);
            std::copy(image.begin(), image.begin() + 2 * kSector, image.begin() + 6 * kSector);
        }
    }

    void SetEntry(std::vector<uint8_t>& table, uint32_t cluster, uint32_t value) const
    {
        if (m_options.bits == 32)
            PutLe32(&table[cluster * 4], value);
        else
            PutLe16(&table[cluster * 2], value);
    }

    void WriteTables(std::vector<uint8_t>& image) const
    {
        const bool fat32 = m_options.bits == 32;
        const uint32_t end = fat32 ? 0x0FFFFFFF : 0xFFFF;
        std::vector<uint8_t> table(static_cast<size_t>(m_fatSectors) * kSector, 0);
        SetEntry(table, 0, fat32 ? 0x0FFFFFF8 : 0xFFF8);
        SetEntry(table, 1, end);
        for (const SNode& node : m_nodes) {
            for (uint32_t i = 0; i < node.clusters; ++i)
                SetEntry(table, node.firstCluster + i, i + 1 < node.clusters ? node.firstCluster + i + 1 : end);
        }
        for (int copy = 0; copy < 2; ++copy)
            std::copy(table.begin(), table.end(),
                      image.begin() + static_cast<size_t>(m_reserved + copy * m_fatSectors) * kSector);
    }

    static void ShortEntry(uint8_t* entry, const uint8_t name[11], uint8_t attributes, uint32_t cluster,
                           uint32_t size)
    {
        memcpy(entry, name, 11);
        entry[11] = attributes;
        PutLe16(entry + 14, kFatTime);
        PutLe16(entry + 16, kFatDate);
        PutLe16(entry + 18, kFatDate);
        PutLe16(entry + 20, cluster >> 16);
        PutLe16(entry + 22, kFatTime);
        PutLe16(entry + 24, kFatDate);
        PutLe16(entry + 26, cluster & 0xFFFF);
        PutLe32(entry + 28, size);
    }

    static void LongEntries(uint8_t* at, const std::wstring& name, uint8_t checksum)
    {
        static const int kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        const uint32_t count = LongEntryCount(name);
        for (uint32_t k = count; k >= 1; --k) {
            uint8_t* entry = at + (count - k) * 32;
            entry[0] = static_cast<uint8_t>(k | (k == count ? 0x40 : 0));
            entry[11] = 0x0F;
            entry[13] = checksum;
            for (int i = 0; i < 13; ++i) {
                const size_t unit = (k - 1) * 13 + i;
                const uint16_t value = unit < name.size() ? static_cast<uint16_t>(name[unit])
                                                          : unit == name.size() ? 0 : 0xFFFF;
                PutLe16(entry + kPlaces[i], value);
            }
        }
    }

    void WriteFolder(std::vector<uint8_t>& image, size_t index) const
    {
        const SNode& folder = m_nodes[index];
        uint8_t* at = InClusters(index) ? image.data() + ClusterOffset(folder.firstCluster)
                                        : image.data() + m_rootOffset;
        if (index == 0) {
            if (!m_options.label.empty()) {
                uint8_t label[11];
                memset(label, ' ', 11);
                memcpy(label, m_options.label.c_str(), m_options.label.size());
                ShortEntry(at, label, 0x08, 0, 0);
                at += 32;
            }
        } else {
            const uint8_t dot[11] = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
            const uint8_t dots[11] = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
            ShortEntry(at, dot, 0x10, folder.firstCluster, 0);
            ShortEntry(at + 32, dots, 0x10, folder.parent == 0 ? 0 : m_nodes[folder.parent].firstCluster, 0);
            at += 64;
        }
        for (size_t child : folder.children) {
            const SNode& node = m_nodes[child];
            if (node.longName) {
                LongEntries(at, node.name, ShortNameChecksum(node.shortName));
                at += LongEntryCount(node.name) * 32;
            }
            ShortEntry(at, node.shortName, node.folder ? 0x10 : 0x20, node.firstCluster,
                       node.folder ? 0 : static_cast<uint32_t>(node.data ? node.data->size() : 0));
            at += 32;
        }
    }

    SFatOptions m_options;
    std::vector<SNode> m_nodes;
    uint32_t m_sectorsPerCluster = 1;
    uint32_t m_clusterCount = 0;
    uint32_t m_usedClusters = 0;
    uint32_t m_reserved = 1;
    uint32_t m_rootEntries = 0;
    uint32_t m_fatSectors = 0;
    uint32_t m_totalSectors = 0;
    uint64_t m_rootOffset = 0;
    uint64_t m_dataOffset = 0;
};

// ------------------------------------------------------------------ archives

struct RecordDeleter {
    void operator()(ArchiveRecord* r) const { FreeArchiveRecord(r); }
};
using RecordPtr = std::unique_ptr<ArchiveRecord, RecordDeleter>;

// ------------------------------------------------------------------ catalog

class CCatalogWriter {
public:
    explicit CCatalogWriter(const std::string& path)
    {
        if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            const std::string text = m_db ? sqlite3_errmsg(m_db) : "out of memory";
            sqlite3_close(m_db);
            Fail("cannot create the catalog " + path + ": " + text);
        }
    }
    ~CCatalogWriter() { sqlite3_close(m_db); }
    CCatalogWriter(const CCatalogWriter&) = delete;
    CCatalogWriter& operator=(const CCatalogWriter&) = delete;

    void Exec(const std::string& sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string text = error ? error : "unknown error";
            sqlite3_free(error);
            Fail("catalog statement failed: " + text + "\n" + sql);
        }
    }
    // sqlite3_mprintf with %Q and %d, run at once.
    template <typename... Args>
    void Execf(const char* format, Args... args)
    {
        char* sql = sqlite3_mprintf(format, args...);
        if (!sql)
            Fail("out of memory");
        std::string text(sql);
        sqlite3_free(sql);
        Exec(text);
    }

private:
    sqlite3* m_db = nullptr;
};

bool IsBackupStart(const std::string& text)
{
    static const char kShape[] = "DDDD-DD-DD DD:DD:DD";
    if (text.size() != sizeof kShape - 1)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'D' ? !(text[i] >= '0' && text[i] <= '9') : text[i] != kShape[i])
            return false;
    }
    return true;
}

// The catalog's image name of a backup: "{folder}\<stamp>-{folder}-LOG.VHD",
// the stamp being the start in strftime's "%Y-%m-%dT%H-%M-%S".
std::string ImageName(const std::string& folder, const std::string& backupStart)
{
    std::string stamp = backupStart;
    stamp[10] = 'T';
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return "{" + folder + "}\\" + stamp + "-{" + folder + "}-LOG.VHD";
}

std::vector<SFatItem> DataItems(const SDatabaseFiles& files, const std::wstring& databaseName)
{
    std::vector<SFatItem> items;
    items.push_back({JoinWide(kDataFolder, databaseName), files.database.data, false});
    for (const SFileData& log : files.logs)
        items.push_back({JoinWide(kDataFolder, log.name), log.data, false});
    return items;
}

}  // namespace

// ------------------------------------------------------------------ helpers

std::vector<uint8_t> ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot open " + path + " (error " + std::to_string(GetLastError()) + ")");
    std::vector<uint8_t> bytes;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = bytes.empty() ||
             (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) && got == bytes.size());
    }
    CloseHandle(file);
    if (!ok)
        Fail("cannot read " + path);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    // A new file only: what is there already is someone's.
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail("cannot create " + path + " (error " + std::to_string(GetLastError()) + ")");
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    CloseHandle(file);
    if (!ok) {
        DeleteFileW(Wide(path).c_str());
        Fail("cannot write " + path);
    }
}

void MakeFolders(const std::string& path)
{
    const std::wstring wide = Wide(path);
    for (size_t at = wide.find_first_of(L"\\/"); ; at = wide.find_first_of(L"\\/", at + 1)) {
        const std::wstring part = wide.substr(0, at);
        // Nothing to make for a root ("", "C:") or a server's name (\\server).
        const bool root = part.empty() || part.back() == L':' || part.find_first_not_of(L"\\/") == std::wstring::npos ||
                          (part.compare(0, 2, L"\\\\") == 0 && part.find_first_of(L"\\/", 2) == std::wstring::npos);
        if (!root && GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES &&
            !CreateDirectoryW(part.c_str(), nullptr))
            Fail("cannot make the folder " + Utf8(part));
        if (at == std::wstring::npos)
            break;
    }
}

// ------------------------------------------------------------------ FAT, VHD

std::vector<uint8_t> MakeFatPartition(const std::vector<SFatItem>& items, const SFatOptions& options)
{
    return CFatBuilder(items, options).Build();
}

uint8_t FatPartitionType(int bits) { return bits == 32 ? 0x0C : 0x06; }

std::vector<uint8_t> MakeFixedVhd(const std::vector<uint8_t>& partition, uint8_t partitionType)
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

// ------------------------------------------------------------------ archive volumes

int WriteArchiveVolume(const std::string& path, const std::vector<uint8_t>& partition, const SArchiveOptions& options)
{
    constexpr uint32_t kUnit = 4096;
    if (options.unitsPerEntry == 0 || options.partitionLabel.size() > 13)
        return ARCERR_BAD_ARGUMENT;
    const uint32_t sectors = static_cast<uint32_t>((partition.size() + 511) / 512);
    RecordPtr location(NewArchiveLocation(path.c_str()));
    if (!location)
        return ARCERR_NO_MEMORY;
    ArchiveOpenParams params{};
    params.location = location.get();
    params.volumeLimit = kNoVolumeLimit;
    params.compression = options.compression;
    params.eventCallback = ArchiveFileFactory;

    SHdCreateOptions create;
    create.major = options.major;
    create.unitSize = kUnit;
    create.flags = options.packed ? kHdPacked : kHdFlat;
    create.label = options.label;
    create.archiveId = options.archiveId;
    // The partition record: drive letter number, label, used and total sectors.
    create.partitionArea.assign(128, 0);
    const char letter = static_cast<char>(options.driveLetter & ~0x20);
    create.partitionArea[32] = static_cast<uint8_t>(letter - 64);
    memcpy(&create.partitionArea[42], options.partitionLabel.c_str(), options.partitionLabel.size());
    uint32_t used = 0;
    for (size_t at = 0; at < partition.size(); at += 512)
        used += IsZero(&partition[at], std::min<size_t>(512, partition.size() - at)) ? 0 : 1;
    PutLe32(&create.partitionArea[56], options.usedSectors >= 0 ? static_cast<uint32_t>(options.usedSectors) : used);
    PutLe32(&create.partitionArea[60],
            options.totalSectors >= 0 ? static_cast<uint32_t>(options.totalSectors) : sectors);

    CHDArchive writer;
    if (int rc = writer.Create(&params, create))
        return rc;
    std::vector<uint8_t> padded(partition);
    padded.resize((partition.size() + kUnit - 1) / kUnit * kUnit, 0);
    const uint32_t units = static_cast<uint32_t>(padded.size() / kUnit);
    for (uint32_t first = 0; first < units; first += options.unitsPerEntry) {
        const uint32_t count = std::min(options.unitsPerEntry, units - first);
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
        if (options.bitmaps && held < count) {
            entry.flags = kEntryBitmap;
            rc = writer.WriteEntry(&entry, bitmap.data(), present.data(), static_cast<uint32_t>(present.size()));
        } else {
            rc = writer.WriteEntry(&entry, nullptr, &padded[static_cast<size_t>(first) * kUnit], count * kUnit);
        }
        if (rc) {
            writer.Finish();
            return rc;
        }
    }
    return writer.Finish();
}

void WriteCollectionArchive(const std::string& path, const std::vector<std::string>& memberFileNames,
                            const std::string& label)
{
    {
        RecordPtr location(NewArchiveLocation(path.c_str()));
        if (!location)
            Fail("out of memory");
        ArchiveOpenParams params{};
        params.location = location.get();
        params.volumeLimit = kNoVolumeLimit;
        params.compression = 6;
        params.eventCallback = ArchiveFileFactory;
        SHdCreateOptions create;
        create.kind = 1;
        create.label = label;
        create.archiveId = 0x4E4F4954434C4F43ull;
        CHDArchive writer;
        int rc = writer.Create(&params, create);
        if (!rc)
            rc = writer.Finish();
        else
            writer.Finish();
        if (rc)
            Fail("cannot write the collection archive " + path + " (status " + std::to_string(rc) + ")");
    }
    // The writer keeps the records of a volume chain itself; the member
    // records go into the finished header.
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    auto* header = reinterpret_cast<HdArchiveHeader*>(bytes.data());
    ArchiveRecord* after = nullptr;
    for (size_t i = 0; i < header->recordCount; ++i)
        after = after ? GetNextHeaderRecord(header, after) : GetFirstHeaderRecord(header);
    for (const std::string& name : memberFileNames) {
        RecordPtr record(NewArchiveLocation(("/" + name).c_str()));
        if (!record)
            Fail("out of memory");
        record->type = kRecordChain;
        after = InsertHeaderRecord(header, record.get(), after);
        if (!after)
            Fail("too many members for one collection archive");
    }
    header->recordFlags |= kHdHasType0Record;
    DeleteFileW(Wide(path).c_str());
    WriteWholeFile(path, bytes);
}

// ------------------------------------------------------------------ databases

SDatabaseFiles ReadDatabaseFiles(const std::string& databasePath, const std::string& logFolder)
{
    SDatabaseFiles files;
    const std::wstring wide = Wide(databasePath);
    const size_t slash = wide.find_last_of(L"\\/");
    files.database.name = slash == std::wstring::npos ? wide : wide.substr(slash + 1);
    files.database.data = ReadWholeFile(databasePath);
    if (logFolder.empty())
        return files;
    const std::wstring folder = Wide(logFolder);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        Fail("no log folder " + logFolder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(JoinWide(folder, L"*").c_str(), &found);
    std::vector<std::wstring> names;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (EndsWithIgnoringCase(name, L".log") || EndsWithIgnoringCase(name, L".chk") ||
                 EndsWithIgnoringCase(name, L".jrs")))
                names.push_back(name);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names)
        files.logs.push_back({name, ReadWholeFile(Utf8(JoinWide(folder, name)))});
    return files;
}

// ------------------------------------------------------------------ kind 1

SArchiveSource MakeArchiveSource(const std::string& folder, const std::string& baseName, const SDatabaseFiles& files,
                                 const SArchiveSourceOptions& options)
{
    SArchiveSource source;
    const std::wstring& databaseName = files.database.name;
    source.databasePath = JoinWide(kDataFolder, databaseName);
    SFatOptions fat;
    fat.bits = options.bits;
    if (!options.separateLogVolume) {
        source.archivePath = source.databaseVolume = source.logVolume = Join(folder, baseName + ".KZF");
        source.logFolder = kDataFolder;
        const std::vector<uint8_t> partition = MakeFatPartition(DataItems(files, databaseName), fat);
        if (Exists(source.archivePath))
            Fail(source.archivePath + " exists already");
        if (int rc = WriteArchiveVolume(source.archivePath, partition, options.archive))
            Fail("cannot write the archive " + source.archivePath + " (status " + std::to_string(rc) + ")");
        return source;
    }

    source.archivePath = Join(folder, baseName + ".KZF");
    source.databaseVolume = Join(folder, baseName + "-Database.KZF");
    source.logVolume = Join(folder, baseName + "-Logs.KZF");
    source.logFolder = L"Logs";
    for (const std::string& path : {source.archivePath, source.databaseVolume, source.logVolume}) {
        if (Exists(path))
            Fail(path + " exists already");
    }
    const std::vector<uint8_t> databasePartition =
        MakeFatPartition({{source.databasePath, files.database.data, false}}, fat);
    std::vector<SFatItem> logItems = {{source.logFolder, {}, true}};
    for (const SFileData& log : files.logs)
        logItems.push_back({JoinWide(source.logFolder, log.name), log.data, false});
    fat.label = "MAILLOGS";
    const std::vector<uint8_t> logPartition = MakeFatPartition(logItems, fat);

    SArchiveOptions logOptions = options.archive;
    logOptions.driveLetter = options.logDriveLetter;
    logOptions.partitionLabel = "MAILLOGS";
    logOptions.archiveId = options.archive.archiveId + 1;
    if (int rc = WriteArchiveVolume(source.databaseVolume, databasePartition, options.archive))
        Fail("cannot write the archive " + source.databaseVolume + " (status " + std::to_string(rc) + ")");
    if (int rc = WriteArchiveVolume(source.logVolume, logPartition, logOptions))
        Fail("cannot write the archive " + source.logVolume + " (status " + std::to_string(rc) + ")");
    WriteCollectionArchive(source.archivePath, {baseName + "-Database.KZF", baseName + "-Logs.KZF"},
                           options.archive.label);
    return source;
}

// ------------------------------------------------------------------ kind 2

SCatalogSource MakeCatalogSource(const std::string& folder, const SDatabaseFiles& files,
                                 const SCatalogOptions& options)
{
    const bool layout2010 = options.layout == ECatalogLayout::Exchange2010;
    if (options.versions.empty())
        Fail("a catalog needs at least one backup version");
    SCatalogSource source;
    source.folder = folder;
    source.catalogPath = Join(folder, "catalog.db");
    if (Exists(source.catalogPath))
        Fail(source.catalogPath + " exists already");

    std::wstring caption = Wide(options.databaseCaption);
    if (caption.empty()) {
        caption = files.database.name;
        if (EndsWithIgnoringCase(caption, L".edb"))
            caption.resize(caption.size() - 4);
    }
    // The names the catalog version page derives the file on the drive from.
    const std::wstring fileName = layout2010 ? files.database.name : caption + L".edb";
    source.databaseCaption = layout2010 ? caption : Wide(options.storageGroupCaption) + L"\\" + caption;
    source.databaseFile = fileName;
    source.databasePath = JoinWide(kDataFolder, fileName);
    source.logFolder = kDataFolder;

    const std::string imageFolder = layout2010 ? options.databaseName : options.storageGroupName;
    std::set<std::string> names;
    for (const SCatalogBackup& version : options.versions) {
        if (!IsBackupStart(version.backupStart))
            Fail("a backup start is \"YYYY-MM-DD HH:MM:SS\", not " + version.backupStart);
        if (!names.insert(ImageName(imageFolder, version.backupStart)).second)
            Fail("two backup versions start at " + version.backupStart);
    }

    SFatOptions fat;
    fat.bits = options.bits;
    fat.hiddenSectors = kVhdPartitionSector;
    const std::vector<uint8_t> vhd =
        MakeFixedVhd(MakeFatPartition(DataItems(files, fileName), fat), FatPartitionType(options.bits));

    const std::string fileNameUtf8 = Utf8(fileName);
    const std::string captionUtf8 = Utf8(caption);
    const std::string version =
        !options.exchangeVersion.empty() ? options.exchangeVersion
                                      : layout2010 ? "Version 14.1 (Build 218.15)" : "Version 8.3 (Build 83.6)";
    {
        CCatalogWriter catalog(source.catalogPath);
        catalog.Exec("begin;"
                     "create table Settings(ID integer primary key, ServerName text, ExchangeVersion text,"
                     " Edition text);"
                     "create table BackupInfo(ID integer primary key, BackupStart text, BackupType integer,"
                     " Label text);");
        catalog.Execf("insert into Settings values(1, %Q, %Q, %Q);", options.serverName.c_str(), version.c_str(),
                      options.edition.c_str());
        if (layout2010)
            catalog.Exec("create table Databases(ID integer primary key, Caption text, Name text, IsComplete integer,"
                         " BackupID integer, IsPublicFolderDatabase integer, DatabaseFileName text,"
                         " DatabaseFilePath text);");
        else
            catalog.Exec("create table StorageGroups(ID integer primary key, BackupID integer, Name text, Caption text,"
                         " IsComplete integer);"
                         "create table Databases(ID integer primary key, Caption text, Name text, IsComplete integer,"
                         " StorageGroupID integer, IsPublic integer);"
                         "create table DatabaseFiles(DatabaseID integer, FileName text, FilePath text);"
                         "create table Logs(StorageGroupID integer, LogFolder text);");
        for (size_t i = 0; i < options.versions.size(); ++i) {
            const SCatalogBackup& v = options.versions[i];
            const int backupId = static_cast<int>(i) + 1;
            const int databaseId = 100 + static_cast<int>(i);
            const int publicId = 200 + static_cast<int>(i);
            catalog.Execf("insert into BackupInfo values(%d, %Q, %d, %Q);", backupId, v.backupStart.c_str(),
                          v.backupType, v.label.c_str());
            if (layout2010) {
                catalog.Execf("insert into Databases values(%d, %Q, %Q, 1, %d, 0, %Q, %Q);", databaseId,
                              captionUtf8.c_str(), options.databaseName.c_str(), backupId, fileNameUtf8.c_str(),
                              options.serverFolder.c_str());
                if (options.publicFolders)
                    catalog.Execf("insert into Databases values(%d, 'Public Folder Database', 'PFDB01', 1, %d, 1,"
                                  " 'Public Folder Database.edb', %Q);",
                                  publicId, backupId, options.serverFolder.c_str());
            } else {
                const int groupId = backupId;
                catalog.Execf("insert into StorageGroups values(%d, %d, %Q, %Q, 1);", groupId, backupId,
                              options.storageGroupName.c_str(), options.storageGroupCaption.c_str());
                catalog.Execf("insert into Databases values(%d, %Q, %Q, 1, %d, 0);", databaseId, captionUtf8.c_str(),
                              options.databaseName.c_str(), groupId);
                catalog.Execf("insert into DatabaseFiles values(%d, %Q, %Q);", databaseId, fileNameUtf8.c_str(),
                              options.serverFolder.c_str());
                if (options.publicFolders) {
                    catalog.Execf("insert into Databases values(%d, 'Public Folder Store', 'PF01', 1, %d, 1);",
                                  publicId, groupId);
                    catalog.Execf("insert into DatabaseFiles values(%d, 'pub1.edb', %Q);", publicId,
                                  options.serverFolder.c_str());
                }
                // One row per group: the version query joins on it.
                catalog.Execf("insert into Logs values(%d, %Q);", groupId, options.serverFolder.c_str());
            }
            source.databaseIds.push_back(databaseId);
            if (options.publicFolders)
                source.publicDatabaseIds.push_back(publicId);
        }
        switch (options.damage) {
        case ECatalogDamage::None:
            break;
        case ECatalogDamage::EmptySettings:
            catalog.Exec("delete from Settings;");
            break;
        case ECatalogDamage::NoDatabaseTable:
            catalog.Exec("drop table Databases;");
            break;
        case ECatalogDamage::NoBackupTable:
            catalog.Exec("drop table BackupInfo;");
            break;
        }
        catalog.Exec("commit;");
    }

    for (const SCatalogBackup& v : options.versions) {
        const std::string image = Join(folder, ImageName(imageFolder, v.backupStart));
        MakeFolders(image.substr(0, image.find_last_of('\\')));
        WriteWholeFile(image, vhd);
        source.images.push_back(image);
    }
    return source;
}

// ------------------------------------------------------------------ listing fixtures

void WriteListingVolume(const std::string& path, char driveLetter, const std::string& partitionLabel,
                        uint32_t totalSectors, uint32_t usedSectors, const std::string& archiveLabel)
{
    SArchiveOptions options;
    options.driveLetter = driveLetter;
    options.partitionLabel = partitionLabel;
    options.totalSectors = totalSectors;
    options.usedSectors = usedSectors;
    options.label = archiveLabel;
    if (Exists(path))
        Fail(path + " exists already");
    // One unit that is not all zeros, so that the volume holds an entry.
    std::vector<uint8_t> partition(4096, 0);
    partition[510] = 0x55;
    partition[511] = 0xAA;
    if (int rc = WriteArchiveVolume(path, partition, options))
        Fail("cannot write the archive " + path + " (status " + std::to_string(rc) + ")");
}

}  // namespace backupsource
