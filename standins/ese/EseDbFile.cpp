// The database file: a SQLite database holding the catalogue, the records and
// a small header table (format, signature, page size, state, log position).
#include "EseStandIn.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>

namespace esestandin {
namespace {

const char kFormatName[] = "Vostrel ESE stand-in database 1";

const char kSchema[] =
    "CREATE TABLE jet_header(name TEXT PRIMARY KEY, value);"
    "CREATE TABLE jet_tables(id INTEGER PRIMARY KEY, name TEXT NOT NULL, next_recid INTEGER NOT NULL);"
    "CREATE TABLE jet_columns(tbl INTEGER, id INTEGER, name TEXT, coltyp INTEGER, cp INTEGER, cbmax INTEGER,"
    " grbit INTEGER, defval BLOB, PRIMARY KEY(tbl, id));"
    "CREATE TABLE jet_indexes(tbl INTEGER, seq INTEGER, name TEXT, grbit INTEGER, density INTEGER,"
    " segments BLOB, PRIMARY KEY(tbl, seq));"
    "CREATE TABLE jet_records(tbl INTEGER, recid INTEGER, data BLOB, PRIMARY KEY(tbl, recid));";

std::string Utf8Path(const std::string& path)
{
    return Narrow(Widen(path), CP_UTF8);
}

JET_ERR ErrorOfSqlite(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
        return JET_errInvalidDatabase;
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
    case SQLITE_RANGE:
        return JET_errDatabaseCorrupted;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_PERM:
    case SQLITE_READONLY:
        return JET_errFileAccessDenied;
    case SQLITE_CANTOPEN:
        return JET_errFileNotFound;
    case SQLITE_NOMEM:
        return JET_errOutOfMemory;
    case SQLITE_FULL:
        return JET_errDiskFull;
    case SQLITE_IOERR:
        return JET_errDiskIO;
    default:
        return JET_errDatabaseCorrupted;
    }
}

// A prepared statement that finalizes itself; a failing step raises the
// matching ESE error.
class CStatement {
public:
    CStatement(sqlite3* db, const char* sql)
    {
        int rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
        if (rc != SQLITE_OK) {
            // A file of SQLite format without our tables is no database of ours.
            if ((rc & 0xFF) == SQLITE_ERROR)
                Fail(JET_errInvalidDatabase);
            Fail(ErrorOfSqlite(rc));
        }
    }
    ~CStatement() { sqlite3_finalize(m_statement); }
    CStatement(const CStatement&) = delete;
    CStatement& operator=(const CStatement&) = delete;

    CStatement& Bind(int index, int64_t value)
    {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    CStatement& Bind(int index, const std::string& data, bool blob)
    {
        if (blob)
            sqlite3_bind_blob(m_statement, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_text(m_statement, index, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while rows come.
    bool Step()
    {
        int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        Fail(ErrorOfSqlite(rc));
    }
    void Run()
    {
        while (Step()) {
        }
        sqlite3_reset(m_statement);
    }
    int64_t Int(int column) { return sqlite3_column_int64(m_statement, column); }
    std::string Blob(int column)
    {
        const void* data = sqlite3_column_blob(m_statement, column);
        int size = sqlite3_column_bytes(m_statement, column);
        return data ? std::string(static_cast<const char*>(data), size) : std::string();
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// The SQLite header tells the size the file must have; a shorter file was cut.
JET_ERR CheckFileHeader(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? JET_errFileNotFound
                                                                              : JET_errFileAccessDenied;
    }
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    unsigned char header[100] = {};
    DWORD read = 0;
    ReadFile(file, header, sizeof(header), &read, nullptr);
    CloseHandle(file);
    static const char kMagic[] = "SQLite format 3";
    if (read < 16 || memcmp(header, kMagic, 16) != 0)
        return JET_errInvalidDatabase;
    if (read < sizeof(header))
        return JET_errDatabaseCorrupted;
    uint32_t pageSize = (header[16] << 8) | header[17];
    if (pageSize == 1)
        pageSize = 65536;
    auto bigEndian = [&](int offset) {
        return (uint32_t(header[offset]) << 24) | (uint32_t(header[offset + 1]) << 16) |
               (uint32_t(header[offset + 2]) << 8) | uint32_t(header[offset + 3]);
    };
    uint32_t pageCount = bigEndian(28);
    bool countValid = bigEndian(24) == bigEndian(92);
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0)
        return JET_errDatabaseCorrupted;
    if (countValid && static_cast<uint64_t>(size.QuadPart) < static_cast<uint64_t>(pageCount) * pageSize)
        return JET_errDatabaseCorrupted;
    if (size.QuadPart % pageSize != 0)
        return JET_errDatabaseCorrupted;
    return JET_errSuccess;
}

} // namespace

CDbFile::~CDbFile()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

void CDbFile::Exec(const char* sql)
{
    char* message = nullptr;
    int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    sqlite3_free(message);
    if (rc != SQLITE_OK)
        Fail(ErrorOfSqlite(rc));
}

std::unique_ptr<CDbFile> CDbFile::Open(const std::string& path, bool readOnly)
{
    if (!FileExists(path))
        Fail(FolderExists(path) ? JET_errDatabaseInvalidPath : JET_errFileNotFound);
    JET_ERR headerError = CheckFileHeader(path);
    if (headerError < 0)
        Fail(headerError);
    std::unique_ptr<CDbFile> file(new CDbFile());
    file->m_readOnly = readOnly;
    int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    int rc = sqlite3_open_v2(Utf8Path(path).c_str(), &file->m_db, flags, nullptr);
    if (rc != SQLITE_OK)
        Fail(ErrorOfSqlite(rc));
    sqlite3_busy_timeout(file->m_db, 5000);
    sqlite3_extended_result_codes(file->m_db, 0);
    file->ReadMeta();
    {
        CStatement check(file->m_db, "PRAGMA quick_check");
        while (check.Step()) {
            if (check.Blob(0) != "ok")
                Fail(JET_errDatabaseCorrupted);
        }
    }
    return file;
}

std::unique_ptr<CDbFile> CDbFile::Create(const std::string& path, unsigned long pageSize, uint64_t signature,
                                         bool overwrite)
{
    if (FileExists(path)) {
        if (!overwrite)
            Fail(JET_errDatabaseDuplicate);
        if (!DeleteFileA(path.c_str()))
            Fail(JET_errFileAccessDenied);
    }
    std::string folder = path.substr(0, path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/"));
    if (!folder.empty() && !FolderExists(folder))
        Fail(JET_errInvalidPath);
    std::unique_ptr<CDbFile> file(new CDbFile());
    int rc = sqlite3_open_v2(Utf8Path(path).c_str(), &file->m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    if (rc != SQLITE_OK)
        Fail(rc == SQLITE_CANTOPEN ? JET_errInvalidPath : ErrorOfSqlite(rc));
    sqlite3_busy_timeout(file->m_db, 5000);
    file->Exec("BEGIN");
    file->Exec(kSchema);
    CStatement insert(file->m_db, "INSERT INTO jet_header(name, value) VALUES(?1, ?2)");
    insert.Bind(1, "format", false).Bind(2, kFormatName, false).Run();
    insert.Bind(1, "signature", false).Bind(2, static_cast<int64_t>(signature)).Run();
    insert.Bind(1, "page_size", false).Bind(2, static_cast<int64_t>(pageSize)).Run();
    insert.Bind(1, "state", false).Bind(2, static_cast<int64_t>(kDbDirty)).Run();
    insert.Bind(1, "log_signature", false).Bind(2, 0).Run();
    insert.Bind(1, "applied_lsn", false).Bind(2, 0).Run();
    file->Exec("COMMIT");
    file->ReadMeta();
    return file;
}

void CDbFile::ReadMeta()
{
    std::map<std::string, std::string> text;
    std::map<std::string, int64_t> numbers;
    CStatement query(m_db, "SELECT name, value FROM jet_header");
    while (query.Step()) {
        text[query.Blob(0)] = query.Blob(1);
        numbers[query.Blob(0)] = query.Int(1);
    }
    if (text["format"] != kFormatName)
        Fail(JET_errInvalidDatabase);
    m_signature = static_cast<uint64_t>(numbers["signature"]);
    m_pageSize = static_cast<unsigned long>(numbers["page_size"]);
    m_state = static_cast<uint32_t>(numbers["state"]);
    m_logSignature = static_cast<uint64_t>(numbers["log_signature"]);
    m_appliedLsn = static_cast<uint64_t>(numbers["applied_lsn"]);
}

void CDbFile::SetState(uint32_t state, uint64_t logSignature, uint64_t appliedLsn)
{
    if (m_readOnly)
        Fail(JET_errDatabaseFileReadOnly);
    CStatement update(m_db, "UPDATE jet_header SET value = ?2 WHERE name = ?1");
    update.Bind(1, "state", false).Bind(2, static_cast<int64_t>(state)).Run();
    update.Bind(1, "log_signature", false).Bind(2, static_cast<int64_t>(logSignature)).Run();
    update.Bind(1, "applied_lsn", false).Bind(2, static_cast<int64_t>(appliedLsn)).Run();
    m_state = state;
    m_logSignature = logSignature;
    m_appliedLsn = appliedLsn;
}

void CDbFile::Load(DbImage& image)
{
    image.signature = m_signature;
    image.pageSize = m_pageSize;
    image.tables.clear();
    image.nextTableId = 1;
    {
        CStatement tables(m_db, "SELECT id, name, next_recid FROM jet_tables");
        while (tables.Step()) {
            auto table = std::make_shared<CTableData>();
            table->id = static_cast<uint32_t>(tables.Int(0));
            table->name = tables.Blob(1);
            table->nextRecid = static_cast<uint32_t>(tables.Int(2));
            image.tables[table->id] = table;
            if (table->id >= image.nextTableId)
                image.nextTableId = table->id + 1;
        }
    }
    auto tableOf = [&](int64_t id) -> CTableData& {
        auto found = image.tables.find(static_cast<uint32_t>(id));
        if (found == image.tables.end())
            Fail(JET_errDatabaseCorrupted);
        return *found->second;
    };
    {
        CStatement columns(m_db, "SELECT tbl, id, name, coltyp, cp, cbmax, grbit, defval FROM jet_columns");
        while (columns.Step()) {
            ColumnDef column;
            column.id = static_cast<JET_COLUMNID>(columns.Int(1));
            column.name = columns.Blob(2);
            column.coltyp = static_cast<JET_COLTYP>(columns.Int(3));
            column.cp = static_cast<unsigned short>(columns.Int(4));
            column.cbMax = static_cast<unsigned long>(columns.Int(5));
            column.grbit = static_cast<JET_GRBIT>(columns.Int(6));
            column.defaultValue = columns.Blob(7);
            tableOf(columns.Int(0)).columns[column.id] = column;
        }
    }
    {
        CStatement indexes(m_db, "SELECT tbl, name, grbit, density, segments FROM jet_indexes ORDER BY tbl, seq");
        while (indexes.Step()) {
            IndexDef index;
            index.name = indexes.Blob(1);
            index.grbit = static_cast<JET_GRBIT>(indexes.Int(2));
            index.density = static_cast<unsigned long>(indexes.Int(3));
            index.segments = ParseSegments(indexes.Blob(4));
            tableOf(indexes.Int(0)).indexes.push_back(index);
        }
    }
    {
        CStatement records(m_db, "SELECT tbl, recid, data FROM jet_records");
        while (records.Step()) {
            CTableData& table = tableOf(records.Int(0));
            uint32_t recid = static_cast<uint32_t>(records.Int(1));
            table.records[recid] = ParseRecord(records.Blob(2));
            if (recid >= table.nextRecid)
                table.nextRecid = recid + 1;
        }
    }
    for (auto& table : image.tables)
        table.second->Changed();
}

void CDbFile::Apply(const std::vector<Op>& ops, uint64_t lsn)
{
    if (m_readOnly)
        Fail(JET_errDatabaseFileReadOnly);
    Exec("BEGIN IMMEDIATE");
    try {
        for (const Op& op : ops) {
            switch (op.kind) {
            case OpKind::CreateTable:
                CStatement(m_db, "INSERT OR REPLACE INTO jet_tables(id, name, next_recid) VALUES(?1, ?2, 1)")
                    .Bind(1, op.table)
                    .Bind(2, op.name, false)
                    .Run();
                break;
            case OpKind::DropTable:
                for (const char* sql : {"DELETE FROM jet_tables WHERE id = ?1", "DELETE FROM jet_columns WHERE tbl = ?1",
                                        "DELETE FROM jet_indexes WHERE tbl = ?1",
                                        "DELETE FROM jet_records WHERE tbl = ?1"})
                    CStatement(m_db, sql).Bind(1, op.table).Run();
                break;
            case OpKind::AddColumn:
                CStatement(m_db, "INSERT OR REPLACE INTO jet_columns(tbl, id, name, coltyp, cp, cbmax, grbit, defval)"
                                 " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")
                    .Bind(1, op.table)
                    .Bind(2, op.column.id)
                    .Bind(3, op.column.name, false)
                    .Bind(4, op.column.coltyp)
                    .Bind(5, op.column.cp)
                    .Bind(6, op.column.cbMax)
                    .Bind(7, op.column.grbit)
                    .Bind(8, op.column.defaultValue, true)
                    .Run();
                break;
            case OpKind::DropColumn:
                CStatement(m_db, "DELETE FROM jet_columns WHERE tbl = ?1 AND id = ?2")
                    .Bind(1, op.table)
                    .Bind(2, op.column.id)
                    .Run();
                break;
            case OpKind::CreateIndex:
                CStatement(m_db, "INSERT INTO jet_indexes(tbl, seq, name, grbit, density, segments) VALUES(?1,"
                                 " (SELECT IFNULL(MAX(seq), 0) + 1 FROM jet_indexes WHERE tbl = ?1), ?2, ?3, ?4, ?5)")
                    .Bind(1, op.table)
                    .Bind(2, op.index.name, false)
                    .Bind(3, op.index.grbit)
                    .Bind(4, op.index.density)
                    .Bind(5, SerializeSegments(op.index.segments), true)
                    .Run();
                break;
            case OpKind::DropIndex:
                CStatement(m_db, "DELETE FROM jet_indexes WHERE tbl = ?1 AND name = ?2 COLLATE NOCASE")
                    .Bind(1, op.table)
                    .Bind(2, op.name, false)
                    .Run();
                break;
            case OpKind::PutRecord:
                CStatement(m_db, "INSERT OR REPLACE INTO jet_records(tbl, recid, data) VALUES(?1, ?2, ?3)")
                    .Bind(1, op.table)
                    .Bind(2, op.recid)
                    .Bind(3, op.data, true)
                    .Run();
                CStatement(m_db, "UPDATE jet_tables SET next_recid = MAX(next_recid, ?2) WHERE id = ?1")
                    .Bind(1, op.table)
                    .Bind(2, static_cast<int64_t>(op.recid) + 1)
                    .Run();
                break;
            case OpKind::DeleteRecord:
                CStatement(m_db, "DELETE FROM jet_records WHERE tbl = ?1 AND recid = ?2")
                    .Bind(1, op.table)
                    .Bind(2, op.recid)
                    .Run();
                break;
            }
        }
        if (lsn != 0) {
            CStatement(m_db, "UPDATE jet_header SET value = ?1 WHERE name = 'applied_lsn'")
                .Bind(1, static_cast<int64_t>(lsn))
                .Run();
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    if (lsn != 0)
        m_appliedLsn = lsn;
}

} // namespace esestandin
