#pragma once
// The stand-in ESE engine's interior: what stands behind the exported Jet*
// functions of our ese.dll. The exported surface (EseExports.cpp) only
// validates, locks and converts; everything else is here.
//
// Model: an attached database is held in memory as a set of tables (schema,
// records, lazily built index entries) loaded from its file, a SQLite
// database of our own format (CDbFile). Every change is an Op; a committed
// transaction's Ops go to the instance's transaction log (CLogSet) when
// logging is on, and reach the database file only when the database is
// flushed (clean detach or JetTerm), or straight away when logging is off.
// Recovery (JetInit2) replays the Ops of a log set into database files.
#include <windows.h>

#include "EseApi.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

struct sqlite3;

namespace esestandin {

// Binary-safe byte strings.
using Bytes = std::string;

// An ESE error raised inside the engine; the exported function returns it.
struct JetError {
    JET_ERR err;
};
[[noreturn]] void Fail(JET_ERR err);

// Lower-case copy (ASCII; ESE object names compare ignoring case).
std::string Lower(const std::string& text);
bool SameName(const std::string& a, const std::string& b);

struct ColumnDef {
    JET_COLUMNID id = 0;
    std::string name;
    JET_COLTYP coltyp = JET_coltypNil;
    unsigned short cp = 0;
    unsigned long cbMax = 0;
    JET_GRBIT grbit = 0;
    Bytes defaultValue;

    bool IsFixedId() const { return id < 128; }
    bool IsTagged() const { return id >= 256; }
    bool IsMultiValued() const { return (grbit & JET_bitColumnMultiValued) != 0; }
    bool IsLongValue() const { return coltyp == JET_coltypLongBinary || coltyp == JET_coltypLongText; }
    bool IsText() const { return coltyp == JET_coltypText || coltyp == JET_coltypLongText; }
    bool IsEscrow() const { return (grbit & JET_bitColumnEscrowUpdate) != 0; }
    // The size of a value of a fixed-size type (0 for text and binary types).
    unsigned long TypeSize() const;
};

struct KeySegment {
    JET_COLUMNID column = 0;
    bool descending = false;
};

struct IndexDef {
    std::string name;
    JET_GRBIT grbit = 0;
    unsigned long density = 0;
    std::vector<KeySegment> segments;

    bool IsPrimary() const { return (grbit & JET_bitIndexPrimary) != 0; }
    bool IsUnique() const { return (grbit & (JET_bitIndexPrimary | JET_bitIndexUnique)) != 0; }
};

// The values of one record: per column its values in itagSequence order (a
// fixed or variable column has at most one).
struct Record {
    std::map<JET_COLUMNID, std::vector<Bytes>> values;
};

// One entry of an index: the normalized key (compared bytewise) and the
// record it points to.
struct IndexEntry {
    Bytes key;
    uint32_t recid;
};
bool operator<(const IndexEntry& a, const IndexEntry& b);

// A search key against which index entries are compared cut to its length:
// the entries whose key starts with it form one run in key order.
struct KeyPrefix {
    const Bytes& key;
};

// Orders entries by key, then record; against a KeyPrefix, by the entry key's
// prefix of the search key's length.
struct EntryOrder {
    using is_transparent = void;
    bool operator()(const IndexEntry& a, const IndexEntry& b) const { return a < b; }
    bool operator()(const IndexEntry& a, const KeyPrefix& b) const;
    bool operator()(const KeyPrefix& a, const IndexEntry& b) const;
};

// The entries of one index in key order; a balanced tree, so that a record's
// change moves only its own entries (O(log n) each).
using IndexEntries = std::set<IndexEntry, EntryOrder>;

// A table: schema and records. The entries of an index are built on first
// use and from then on kept up to date record by record; a change of the
// schema drops them.
class CTableData {
public:
    uint32_t id = 0;
    std::string name;
    std::map<JET_COLUMNID, ColumnDef> columns;
    std::vector<IndexDef> indexes;
    // Read freely; changed only through PutRecord and EraseRecord (or, before
    // any index is used, directly followed by Changed()).
    std::map<uint32_t, Record> records;
    uint32_t nextRecid = 1;
    bool temporary = false;

    const ColumnDef* FindColumn(const std::string& columnName) const;
    const ColumnDef* FindColumn(JET_COLUMNID columnid) const;
    const IndexDef* FindIndex(const std::string& indexName) const;
    const IndexDef* PrimaryIndex() const;
    JET_COLUMNID NextColumnId(const ColumnDef& def) const;

    // The entries of an index in key order; null = the clustered order of a
    // table without primary index (by record number).
    const IndexEntries& Entries(const IndexDef* index);
    // The keys a record has in an index (several for a multi-valued column;
    // none when the index ignores the record's nulls).
    std::vector<Bytes> RecordKeys(const IndexDef* index, uint32_t recid, const Record& record) const;
    // Stores or replaces a record, and moves its entries in the built indexes.
    void PutRecord(uint32_t recid, Record record);
    void EraseRecord(uint32_t recid);
    // Columns or indexes changed (or records were set directly): every index
    // is built again on its next use.
    void Changed() { m_entryCache.clear(); }

private:
    // Built indexes by lower-case name ("" = the clustered order by record).
    std::map<std::string, IndexEntries> m_entryCache;
    const IndexDef* IndexOfCacheName(const std::string& cacheName) const;
};

// The in-memory image of a database.
struct DbImage {
    uint64_t signature = 0;
    unsigned long pageSize = 4096;
    std::map<uint32_t, std::shared_ptr<CTableData>> tables;
    uint32_t nextTableId = 1;

    std::shared_ptr<CTableData> FindTable(const std::string& tableName) const;
};

// Key normalization: each segment is a header byte (0x7F value, 0x00 null)
// and an order-preserving encoding of the value; text and binary values end
// with a 0x00 terminator unless the segment is partial. A descending segment
// has all its bytes inverted. An end limit appends 0xFF.
Bytes NormalizeSegment(const ColumnDef& column, const Bytes* value, bool descending, bool complete);
// Compares an index key, cut to the length of a search key, with it.
int ComparePrefix(const Bytes& entryKey, const Bytes& searchKey);

// A change to a database; its inverse undoes it.
enum class OpKind : uint8_t {
    CreateTable = 1,
    AddColumn = 2,
    CreateIndex = 3,
    PutRecord = 4,
    DeleteRecord = 5,
    DropTable = 6,
    DropColumn = 7,
    DropIndex = 8,
};

struct Op {
    OpKind kind = OpKind::PutRecord;
    uint32_t table = 0;
    std::string name;  // table name (CreateTable) or index name (DropIndex)
    ColumnDef column;  // AddColumn; DropColumn uses column.id
    IndexDef index;    // CreateIndex
    uint32_t recid = 0;
    Bytes data;        // PutRecord: the serialized record
};

Bytes SerializeRecord(const Record& record);
Record ParseRecord(const Bytes& data);  // throws JetError on malformed data
Bytes SerializeOps(const std::vector<Op>& ops);
std::vector<Op> ParseOps(const Bytes& data);  // throws JetError on malformed data
Bytes SerializeSegments(const std::vector<KeySegment>& segments);
std::vector<KeySegment> ParseSegments(const Bytes& data);
void ApplyToImage(DbImage& image, const Op& op);

// Little helpers for the byte formats.
void PutU32(Bytes& out, uint32_t value);
void PutU64(Bytes& out, uint64_t value);
void PutString(Bytes& out, const std::string& text);
class CReader {
public:
    CReader(const Bytes& data, JET_ERR malformed) : m_data(data), m_malformed(malformed) {}
    uint8_t U8();
    uint32_t U32();
    uint64_t U64();
    std::string String();
    Bytes Rest();
    bool AtEnd() const { return m_pos == m_data.size(); }

private:
    void Need(size_t count);
    const Bytes& m_data;
    size_t m_pos = 0;
    JET_ERR m_malformed;
};

// Database state in the file header (JET_dbstate*).
enum DbState : uint32_t {
    kDbDirty = JET_dbstateDirtyShutdown,
    kDbClean = JET_dbstateCleanShutdown,
};

// The database file: a SQLite database of our own schema.
class CDbFile {
public:
    ~CDbFile();
    // Opens an existing file: -1811 missing, -1028 not a database of ours,
    // -1206 truncated or corrupt.
    static std::unique_ptr<CDbFile> Open(const std::string& path, bool readOnly);
    // Creates a new empty database (-1201 when it exists and may not be replaced).
    static std::unique_ptr<CDbFile> Create(const std::string& path, unsigned long pageSize, uint64_t signature,
                                           bool overwrite);

    void Load(DbImage& image);
    // Writes ops in one transaction; lsn (when not 0) becomes the applied position.
    void Apply(const std::vector<Op>& ops, uint64_t lsn);

    uint64_t Signature() const { return m_signature; }
    unsigned long PageSize() const { return m_pageSize; }
    uint32_t State() const { return m_state; }
    uint64_t LogSignature() const { return m_logSignature; }
    uint64_t AppliedLsn() const { return m_appliedLsn; }
    // Records the state and the log position in the file.
    void SetState(uint32_t state, uint64_t logSignature, uint64_t appliedLsn);

private:
    CDbFile() = default;
    void Exec(const char* sql);
    void ReadMeta();
    ::sqlite3* m_db = nullptr;
    bool m_readOnly = false;
    uint64_t m_signature = 0;
    unsigned long m_pageSize = 0;
    uint32_t m_state = kDbClean;
    uint64_t m_logSignature = 0;
    uint64_t m_appliedLsn = 0;
};

// The log set of one base name in one folder, as one instance writes it.
class CLogWriter {
public:
    CLogWriter(const std::string& logFolder, const std::string& baseName, const std::string& systemFolder,
               unsigned long maxFileBytes);
    // Continues an existing set (after recovery) instead of starting a new one.
    void Continue(uint64_t signature, uint32_t generation, uint64_t lastLsn, bool currentIsBase);
    // Appends one record and returns its log sequence number.
    uint64_t Append(uint64_t dbSignature, const std::string& dbPath, const Bytes& ops);
    // Writes the checkpoint file (everything up to the last record is flushed).
    void WriteCheckpoint();
    uint64_t Signature() const { return m_signature; }
    uint64_t LastLsn() const { return m_nextLsn - 1; }
    bool Started() const { return m_started; }

private:
    std::string CurrentPath() const;
    void StartFile();
    std::string m_folder;
    std::string m_base;
    std::string m_systemFolder;
    unsigned long m_maxBytes;
    uint64_t m_signature;
    uint32_t m_generation = 1;
    uint64_t m_nextLsn = 1;
    bool m_started = false;
    bool m_currentExists = false;
};

struct RecoveryParams {
    std::string logFolder;
    std::string baseName;
    std::string systemFolder;
    std::string alternateFolder;  // JET_paramAlternateDatabaseRecoveryPath; empty = the logged paths
    bool ignoreMissingDatabases = false;
};

struct RecoveryResult {
    bool found = false;  // a log set of the base exists
    uint64_t signature = 0;
    uint32_t lastGeneration = 0;
    uint64_t lastLsn = 0;
    bool lastIsBaseFile = false;  // the newest generation is the file "<base>.log"
};

// Replays the log set of the base into the database files it names.
RecoveryResult Recover(const RecoveryParams& params);

// Names of the log set: "<base>.log" or "<base><hex>.log".
bool IsLogFileOfBase(const std::string& fileName, const std::string& baseName);
std::string JoinPath(const std::string& folder, const std::string& name);
std::string FullPath(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::wstring Widen(const std::string& text, UINT codePage = CP_ACP);
std::string Narrow(const std::wstring& text, UINT codePage = CP_ACP);
uint64_t RandomU64();

} // namespace esestandin
