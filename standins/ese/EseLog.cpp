// Transaction logs and recovery.
//
// A log set is named by its three-character base: the current generation is
// "<base>.log"; when it outgrows JET_paramLogFileSize it is renamed to
// "<base><generation in 5 hex digits>.log" (E0000A1B.log) and a new current
// file starts. Each file begins with a header (generation, the set's random
// signature, the base) followed by records: one committed transaction on one
// database (its signature and path, and the serialized Ops), each with a
// length and a checksum, so that a torn last record is recognised. The
// checkpoint file "<base>.chk" in the system path records how far the
// database files are known to be written.
//
// The generation of a file is the one in its header: recovery orders a set by
// those, not by the file names.
#include "EseStandIn.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace esestandin {
namespace {

const char kLogMagic[8] = {'V', 'E', 'S', 'E', 'L', 'O', 'G', '1'};
const char kCheckpointMagic[8] = {'V', 'E', 'S', 'E', 'C', 'H', 'K', '1'};
const uint32_t kRecordMagic = 0x43455256;  // "VREC"
const size_t kHeaderSize = 32;
const size_t kRecordHeaderSize = 12;

uint32_t Checksum(const Bytes& data)
{
    uint32_t hash = 2166136261u;
    for (char c : data) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

bool ReadWholeFile(const std::string& path, Bytes& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    content.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    bool ok = content.empty() ||
              (ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr) && read == content.size());
    CloseHandle(file);
    return ok;
}

void WriteWholeFile(const std::string& path, const Bytes& content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(JET_errFileAccessDenied);
    DWORD written = 0;
    bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
              written == content.size();
    CloseHandle(file);
    if (!ok)
        Fail(JET_errLogWriteFail);
}

Bytes FileHeader(uint32_t generation, uint64_t signature, const std::string& base)
{
    Bytes header(kLogMagic, sizeof(kLogMagic));
    PutU32(header, generation);
    PutU32(header, 0);
    PutU64(header, signature);
    char name[4] = {};
    memcpy(name, base.data(), std::min<size_t>(3, base.size()));
    header.append(name, 4);
    PutU32(header, 0);
    return header;
}

std::string FileNameOf(const std::string& path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct LogRecord {
    uint64_t lsn;
    uint64_t dbSignature;
    std::string dbPath;
    Bytes ops;
};

struct LogFile {
    std::string name;
    uint32_t generation;
    uint64_t signature;
    Bytes content;
};

} // namespace

bool IsLogFileOfBase(const std::string& fileName, const std::string& baseName)
{
    std::string name = Lower(fileName);
    std::string base = Lower(baseName);
    if (name.size() < base.size() + 4 || name.compare(0, base.size(), base) != 0 ||
        name.compare(name.size() - 4, 4, ".log") != 0)
        return false;
    std::string middle = name.substr(base.size(), name.size() - base.size() - 4);
    if (middle.size() > 8)
        return false;
    return std::all_of(middle.begin(), middle.end(), [](char c) { return isxdigit(static_cast<unsigned char>(c)); });
}

CLogWriter::CLogWriter(const std::string& logFolder, const std::string& baseName, const std::string& systemFolder,
                       unsigned long maxFileBytes)
    : m_folder(logFolder), m_base(baseName), m_systemFolder(systemFolder), m_maxBytes(maxFileBytes),
      m_signature(RandomU64())
{
}

void CLogWriter::Continue(uint64_t signature, uint32_t generation, uint64_t lastLsn, bool currentIsBase)
{
    m_signature = signature;
    m_nextLsn = lastLsn + 1;
    m_started = true;
    m_currentExists = currentIsBase;
    m_generation = currentIsBase ? generation : generation + 1;
}

std::string CLogWriter::CurrentPath() const
{
    return JoinPath(m_folder, m_base + ".log");
}

void CLogWriter::StartFile()
{
    WriteWholeFile(CurrentPath(), FileHeader(m_generation, m_signature, m_base));
    m_currentExists = true;
    m_started = true;
}

uint64_t CLogWriter::Append(uint64_t dbSignature, const std::string& dbPath, const Bytes& ops)
{
    if (!m_currentExists || !FileExists(CurrentPath())) {
        StartFile();
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(CurrentPath().c_str(), GetFileExInfoStandard, &data)) {
            uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            if (size > kHeaderSize && size >= m_maxBytes) {
                char rolled[16];
                snprintf(rolled, sizeof(rolled), "%05X.log", static_cast<unsigned>(m_generation));
                std::string rolledPath = JoinPath(m_folder, m_base + rolled);
                if (!MoveFileExA(CurrentPath().c_str(), rolledPath.c_str(), MOVEFILE_REPLACE_EXISTING))
                    Fail(JET_errLogWriteFail);
                ++m_generation;
                StartFile();
            }
        }
    }
    uint64_t lsn = m_nextLsn;
    Bytes payload;
    PutU64(payload, lsn);
    PutU64(payload, dbSignature);
    PutString(payload, dbPath);
    payload += ops;
    Bytes record;
    PutU32(record, kRecordMagic);
    PutU32(record, static_cast<uint32_t>(payload.size()));
    PutU32(record, Checksum(payload));
    record += payload;

    HANDLE file = CreateFileA(CurrentPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        Fail(JET_errLogWriteFail);
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    bool ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) &&
              written == record.size();
    CloseHandle(file);
    if (!ok)
        Fail(JET_errLogWriteFail);
    ++m_nextLsn;
    return lsn;
}

void CLogWriter::WriteCheckpoint()
{
    if (!m_started)
        return;
    Bytes content(kCheckpointMagic, sizeof(kCheckpointMagic));
    PutU32(content, m_generation);
    PutU32(content, 0);
    PutU64(content, m_signature);
    PutU64(content, LastLsn());
    WriteWholeFile(JoinPath(m_systemFolder, m_base + ".chk"), content);
}

RecoveryResult Recover(const RecoveryParams& params)
{
    RecoveryResult result;
    std::vector<LogFile> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(params.logFolder, params.baseName + "*.log").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsLogFileOfBase(found.cFileName, params.baseName))
                continue;
            LogFile file;
            file.name = found.cFileName;
            if (!ReadWholeFile(JoinPath(params.logFolder, file.name), file.content))
                Fail(JET_errFileAccessDenied);
            if (file.content.size() < kHeaderSize || memcmp(file.content.data(), kLogMagic, sizeof(kLogMagic)) != 0 ||
                !SameName(std::string(file.content.data() + 24, strnlen(file.content.data() + 24, 3)),
                          params.baseName)) {
                FindClose(search);
                Fail(JET_errLogFileCorrupt);
            }
            CReader header(file.content, JET_errLogFileCorrupt);
            header.U64();
            file.generation = header.U32();
            header.U32();
            file.signature = header.U64();
            files.push_back(std::move(file));
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (files.empty())
        return result;

    std::sort(files.begin(), files.end(),
              [](const LogFile& a, const LogFile& b) { return a.generation < b.generation; });
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i].signature != files[0].signature)
            Fail(JET_errBadLogSignature);
        if (i > 0 && files[i].generation == files[i - 1].generation)
            Fail(JET_errLogGenerationMismatch);
        if (i > 0 && files[i].generation != files[i - 1].generation + 1)
            Fail(JET_errMissingLogFile);
    }
    result.found = true;
    result.signature = files[0].signature;
    result.lastGeneration = files.back().generation;
    result.lastIsBaseFile = SameName(files.back().name, params.baseName + ".log");

    std::vector<LogRecord> records;
    for (size_t i = 0; i < files.size(); ++i) {
        const Bytes& content = files[i].content;
        bool last = i + 1 == files.size();
        size_t pos = kHeaderSize;
        while (pos < content.size()) {
            bool torn = content.size() - pos < kRecordHeaderSize;
            Bytes payload;
            if (!torn) {
                CReader header(content.substr(pos, kRecordHeaderSize), JET_errLogFileCorrupt);
                uint32_t magic = header.U32();
                uint32_t length = header.U32();
                uint32_t checksum = header.U32();
                torn = magic != kRecordMagic || length > content.size() - pos - kRecordHeaderSize;
                if (!torn) {
                    payload = content.substr(pos + kRecordHeaderSize, length);
                    torn = Checksum(payload) != checksum;
                }
                pos += kRecordHeaderSize + length;
            }
            if (torn) {
                // Only the end of the newest generation may be torn.
                if (!last)
                    Fail(JET_errLogFileCorrupt);
                break;
            }
            CReader reader(payload, JET_errLogFileCorrupt);
            LogRecord record;
            record.lsn = reader.U64();
            record.dbSignature = reader.U64();
            record.dbPath = reader.String();
            record.ops = reader.Rest();
            if (!records.empty() && record.lsn <= records.back().lsn)
                Fail(JET_errLogFileCorrupt);
            records.push_back(std::move(record));
        }
    }
    if (!records.empty())
        result.lastLsn = records.back().lsn;

    struct Target {
        std::unique_ptr<CDbFile> file;
        bool skip = false;
        uint64_t appliedBefore = 0;
        uint64_t lastLsn = 0;
        std::vector<Op> ops;
    };
    std::map<std::string, Target> targets;
    std::vector<std::string> order;
    for (const LogRecord& record : records) {
        std::string path = params.alternateFolder.empty() ? record.dbPath
                                                          : JoinPath(params.alternateFolder, FileNameOf(record.dbPath));
        std::string key = Lower(FullPath(path));
        auto existing = targets.find(key);
        if (existing == targets.end()) {
            Target target;
            if (!FileExists(path)) {
                if (!params.ignoreMissingDatabases)
                    Fail(JET_errAttachedDatabaseMismatch);
                target.skip = true;
            } else {
                target.file = CDbFile::Open(path, false);
                if (target.file->Signature() != record.dbSignature)
                    Fail(JET_errAttachedDatabaseMismatch);
                // A database attached since under another log set is past these records.
                target.skip = target.file->LogSignature() != result.signature;
                target.appliedBefore = target.file->AppliedLsn();
            }
            existing = targets.emplace(key, std::move(target)).first;
            order.push_back(key);
        }
        Target& target = existing->second;
        if (target.skip || record.lsn <= target.appliedBefore)
            continue;
        for (Op& op : ParseOps(record.ops))
            target.ops.push_back(std::move(op));
        target.lastLsn = record.lsn;
    }
    for (const std::string& key : order) {
        Target& target = targets[key];
        if (target.skip || !target.file)
            continue;
        uint64_t applied = std::max(target.appliedBefore, target.lastLsn);
        if (!target.ops.empty())
            target.file->Apply(target.ops, applied);
        target.file->SetState(kDbClean, result.signature, applied);
    }

    Bytes checkpoint(kCheckpointMagic, sizeof(kCheckpointMagic));
    PutU32(checkpoint, result.lastGeneration);
    PutU32(checkpoint, 0);
    PutU64(checkpoint, result.signature);
    PutU64(checkpoint, result.lastLsn);
    WriteWholeFile(JoinPath(params.systemFolder, params.baseName + ".chk"), checkpoint);
    return result;
}

} // namespace esestandin
