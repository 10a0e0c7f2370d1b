#include "Platform.h"

#include "CLorvArchive.h"
#include "TextCodes.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

const wchar_t kCatalogName[] = L"catalog.db";
// What SQLite keeps beside a catalog while its writer works on it, and after
// a writer stopped in the middle of a change.
const wchar_t* const kBeside[] = {L"-journal", L"-wal"};
// How often a private copy is made again when a writer changed the catalog
// while it was being copied.
const int kCopyAttempts = 5;
const DWORD kCopyPiece = 1 << 16;

std::wstring Text(sqlite3_stmt* statement, int column)
{
    const void* text = sqlite3_column_text16(statement, column);
    return text ? std::wstring(static_cast<const wchar_t*>(text)) : std::wstring();
}

std::wstring ErrorText(sqlite3* connection)
{
    const void* text = sqlite3_errmsg16(connection);
    return text ? std::wstring(static_cast<const wchar_t*>(text)) : std::wstring();
}

std::wstring Number(long long value)
{
    wchar_t buffer[32];
    swprintf(buffer, 32, L"%lld", value);
    return buffer;
}

using textcode::Utf8;

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE OpenToRead(const std::wstring& path)
{
    // Shared every way: the catalog's writer keeps it open and may go on.
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The first `n` bytes of a file (fewer when it is shorter), with a mark that
// tells a missing file from an empty one.
std::string FileStart(const std::wstring& path, DWORD n)
{
    HANDLE file = OpenToRead(path);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes(n + 1, '\0');
    bytes[0] = '+';
    DWORD got = 0;
    if (!ReadFile(file, &bytes[1], n, &got, nullptr))
        got = 0;
    CloseHandle(file);
    bytes.resize(got + 1);
    return bytes;
}

// A catalog in WAL mode keeps its latest changes in "-wal" and their index
// in "-shm"; even a read-only connection creates both beside it.
bool IsWalMode(const std::string& start)
{
    static const char kMagic[] = "SQLite format 3";  // with its NUL, 16 bytes
    return start.size() >= 1 + 20 && memcmp(start.data() + 1, kMagic, sizeof kMagic) == 0 &&
           (start[1 + 18] == 2 || start[1 + 19] == 2);
}

// What changes whenever a writer commits: the database header (its change
// counter) and the headers of the journal and the write-ahead log.
std::string WriterState(const std::wstring& catalog)
{
    std::string state = FileStart(catalog, 100);
    for (const wchar_t* suffix : kBeside)
        state += "|" + FileStart(catalog + suffix, 32);
    return state;
}

// Copies a file's bytes (not its attributes: a read-only copy could not be
// recovered). 0 or a Win32 error.
DWORD CopyBytes(const std::wstring& from, const std::wstring& to)
{
    HANDLE source = OpenToRead(from);
    if (source == INVALID_HANDLE_VALUE)
        return GetLastError();
    HANDLE target = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        CloseHandle(source);
        return error;
    }
    DWORD error = 0;
    std::vector<char> buffer(kCopyPiece);
    for (;;) {
        DWORD got = 0, written = 0;
        if (!ReadFile(source, buffer.data(), kCopyPiece, &got, nullptr)) {
            error = GetLastError();
            break;
        }
        if (got == 0)
            break;
        if (!WriteFile(target, buffer.data(), got, &written, nullptr) || written != got) {
            error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            break;
        }
    }
    CloseHandle(source);
    CloseHandle(target);
    return error;
}

// A copy of the catalog, and of the journal or log beside it, in a folder of
// its own under the temporary folder; SQLite may recover it there. The
// folder goes with the object.
class CPrivateCopy {
public:
    CPrivateCopy() = default;
    CPrivateCopy(const CPrivateCopy&) = delete;
    CPrivateCopy& operator=(const CPrivateCopy&) = delete;
    ~CPrivateCopy() { Remove(); }

    // 0 or a Win32 error.
    DWORD Make(const std::wstring& catalog)
    {
        if (DWORD error = MakeFolder())
            return error;
        m_catalog = m_folder + kCatalogName;
        for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
            RemoveFiles();
            const std::string before = WriterState(catalog);
            // The database first, then what lies beside it: a journal copied
            // later still holds every page a writer changed meanwhile.
            DWORD error = CopyBytes(catalog, m_catalog);
            for (const wchar_t* suffix : kBeside) {
                if (error == 0 && Exists(catalog + suffix)) {
                    error = CopyBytes(catalog + suffix, m_catalog + suffix);
                    // Gone since: the writer committed, which the state shows.
                    if (error == ERROR_FILE_NOT_FOUND)
                        error = 0;
                }
            }
            if (error == 0 && WriterState(catalog) == before)
                return 0;
            if (error != 0 && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
                return error;
        }
        return ERROR_BUSY;
    }

    const std::wstring& CatalogPath() const { return m_catalog; }

private:
    DWORD MakeFolder()
    {
        wchar_t temp[MAX_PATH + 1];
        DWORD n = GetTempPathW(MAX_PATH + 1, temp);
        if (n == 0 || n > MAX_PATH)
            return n == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
        static std::atomic<unsigned> s_counter{0};
        for (int tries = 0; tries < 100; ++tries) {
            wchar_t name[64];
            swprintf(name, 64, L"vostrel-catalog-%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
                     ++s_counter);
            std::wstring folder = std::wstring(temp) + name;
            if (CreateDirectoryW(folder.c_str(), nullptr)) {
                m_folder = folder + L"\\";
                return 0;
            }
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS)
                return error;
        }
        return ERROR_ALREADY_EXISTS;
    }

    void RemoveFiles()
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((m_folder + L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                std::wstring path = m_folder + found.cFileName;
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    void Remove()
    {
        if (m_folder.empty())
            return;
        RemoveFiles();
        RemoveDirectoryW(m_folder.c_str());
    }

    std::wstring m_folder;
    std::wstring m_catalog;
};

// Closes the connection (and a statement left over) on every way out.
class CConnection {
public:
    ~CConnection()
    {
        if (statement)
            sqlite3_finalize(statement);
        if (connection)
            sqlite3_close(connection);
    }
    sqlite3* connection = nullptr;
    sqlite3_stmt* statement = nullptr;
};

}  // namespace

CLorvArchive::CLorvArchive() = default;
CLorvArchive::~CLorvArchive() = default;

void CLorvArchive::SetError(const wchar_t* format, ...)
{
    wchar_t buffer[2048];
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer, 2048, format, args);
    va_end(args);
    if (n < 0)
        buffer[2047] = 0;
    try {
        m_lastError = buffer;
    } catch (...) {
        m_lastError.clear();
    }
}

int CLorvArchive::Guard(const std::function<int()>& operation)
{
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        SetError(L"Out of memory while reading the catalog");
    } catch (const std::length_error&) {
        SetError(L"Out of memory while reading the catalog");
    } catch (...) {
        SetError(L"Unexpected failure while reading the catalog");
    }
    return 0;
}

std::wstring CLorvArchive::QuoteSql(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size() + 2);
    for (wchar_t c : text) {
        out.push_back(c);
        if (c == L'\'')
            out.push_back(L'\'');
    }
    return out;
}

int CLorvArchive::db_Run(sqlite3* connection, const wchar_t* sql)
{
    return Guard([&]() -> int {
        sqlite3_stmt* statement = nullptr;
        int rc = sqlite3_prepare16_v2(connection, sql, static_cast<int>(wcslen(sql) * sizeof(wchar_t)), &statement,
                                      nullptr);
        // Finalized on every way out, an exception's included.
        struct SFinalizer {
            sqlite3_stmt*& statement;
            ~SFinalizer()
            {
                if (statement)
                    sqlite3_finalize(statement);
            }
        } finalizer{statement};
        if (rc == SQLITE_BUSY) {
            SetError(L"db_Run(). sqlite3_prepare16_v2() failed. query = %ls. rc = %d. %ls", sql, rc,
                     ErrorText(connection).c_str());
            return 0;
        }
        // Any other failure of the prepare leaves no statement, and the step
        // below reports it with its own result.
        rc = sqlite3_step(statement);
        for (int tries = 1; rc == SQLITE_BUSY && tries < m_busyTries; ++tries) {
            Sleep(m_busySleepMs);
            rc = sqlite3_step(statement);
        }
        if (rc == SQLITE_BUSY)
            Sleep(m_busySleepMs);
        if (rc != SQLITE_DONE) {
            SetError(L"db_Run(). sqlite3_step() failed. query = %ls. rc = %d. %ls", sql, rc, ErrorText(connection).c_str());
            return 0;
        }
        rc = sqlite3_finalize(statement);
        statement = nullptr;
        if (rc != SQLITE_OK) {
            SetError(L"db_Run(). sqlite3_finalize() failed. query = %ls. rc = %d. %ls", sql, rc,
                     ErrorText(connection).c_str());
            return 0;
        }
        return 1;
    });
}

int CLorvArchive::RunQuery(const std::wstring& query, const std::function<void(sqlite3_stmt*)>& onRow)
{
    const std::wstring path = m_folder + L"\\" + kCatalogName;
    // Opening a catalog that is not there would create an empty one in the
    // user's archive folder; refuse it as SQLite refuses what it cannot open.
    if (!Exists(path)) {
        SetError(L"sqlite3_open16() failed. Cannot open database \"%ls\". rc = %d", path.c_str(), SQLITE_CANTOPEN);
        return 0;
    }
    bool besideIt = IsWalMode(FileStart(path, 100));
    for (const wchar_t* suffix : kBeside)
        besideIt = besideIt || Exists(path + suffix);
    if (!besideIt) {
        const std::wstring before = m_lastError;
        bool refused = false;
        int ok = RunQueryOn(path, path, true, query, onRow, &refused);
        if (!refused)
            return ok;
        // A journal came in the meantime: the private copy answers instead.
        m_lastError = before;
    }
    CPrivateCopy copy;
    if (DWORD error = copy.Make(path)) {
        SetError(L"Cannot copy the catalog \"%ls\" to read it unchanged. Error %lu", path.c_str(),
                 static_cast<unsigned long>(error));
        return 0;
    }
    bool refused = false;
    return RunQueryOn(path, copy.CatalogPath(), false, query, onRow, &refused);
}

int CLorvArchive::RunQueryOn(const std::wstring& path, const std::wstring& openPath, bool readOnly,
                             const std::wstring& query, const std::function<void(sqlite3_stmt*)>& onRow, bool* refused)
{
    *refused = false;
    CConnection db;
    // Read-only, SQLite neither recovers nor writes anything; it answers
    // SQLITE_READONLY instead where it would have to.
    int rc = readOnly ? sqlite3_open_v2(Utf8(openPath).c_str(), &db.connection, SQLITE_OPEN_READONLY, nullptr)
                      : sqlite3_open16(openPath.c_str(), &db.connection);
    if (rc != SQLITE_OK) {
        SetError(L"sqlite3_open16() failed. Cannot open database \"%ls\". rc = %d", path.c_str(), rc);
        return 0;
    }
    bool delivered = false;
    auto needsRecovery = [&] {
        return readOnly && !delivered && (sqlite3_errcode(db.connection) & 0xFF) == SQLITE_READONLY;
    };
    // On a read-only connection this is a read transaction: it waits while a
    // writer holds the catalog and keeps writers from committing until the
    // connection closes.
    if (!db_Run(db.connection, L"BEGIN EXCLUSIVE TRANSACTION;")) {
        *refused = needsRecovery();
        return 0;
    }
    rc = sqlite3_prepare16_v2(db.connection, query.c_str(), static_cast<int>(query.size() * sizeof(wchar_t)),
                              &db.statement, nullptr);
    if (rc != SQLITE_OK) {
        SetError(L"sqlite3_prepare16_v2() failed.  %ls   . rc = %d. %ls", query.c_str(), rc,
                 ErrorText(db.connection).c_str());
        *refused = needsRecovery();
        return 0;
    }
    while ((rc = sqlite3_step(db.statement)) == SQLITE_ROW) {
        delivered = true;
        onRow(db.statement);
    }
    if (rc != SQLITE_DONE) {
        SetError(L"sqlite3_step() failed.  %ls  . rc = %d. %ls", query.c_str(), rc, ErrorText(db.connection).c_str());
        *refused = needsRecovery();
        return 0;
    }
    rc = sqlite3_finalize(db.statement);
    db.statement = nullptr;
    if (rc != SQLITE_OK) {
        SetError(L"sqlite3_finalize() failed.  %ls  . rc = %d. %ls", query.c_str(), rc,
                 ErrorText(db.connection).c_str());
        return 0;
    }
    // The transaction is never committed: closing the connection ends it.
    return 1;
}

int CLorvArchive::ReadSettings(std::wstring* serverName, std::wstring* exchangeVersion, std::wstring* edition)
{
    return Guard([&]() -> int {
        bool found = false;
        std::wstring server, version, kind;
        int ok = RunQuery(L"select ServerName, ExchangeVersion, Edition from Settings where ID = 1;",
                          [&](sqlite3_stmt* statement) {
                              if (found)
                                  return;
                              found = true;
                              server = Text(statement, 0);
                              version = Text(statement, 1);
                              kind = Text(statement, 2);
                          });
        if (!ok)
            return 0;
        if (!found) {
            SetError(L"Table Settings is empty");
            return 0;
        }
        m_layout = version.compare(0, 10, L"Version 14") == 0 ? 2010 : 2007;
        if (serverName)
            *serverName = server;
        if (exchangeVersion)
            *exchangeVersion = version;
        if (edition)
            *edition = kind;
        return 1;
    });
}

int CLorvArchive::ListDatabases(std::vector<SCatalogDatabase>* databases)
{
    return Guard([&]() -> int {
        const wchar_t* query =
            m_layout == 2010
                ? L"select ID, Caption, Name, IsPublicFolderDatabase from Databases where IsComplete = 1 group by Name "
                  L"order by ID;"
                : L"select d.ID, sg.Caption || '\\' || d.Caption, d.Name, d.IsPublic from Databases d inner join "
                  L"StorageGroups sg on(d.StorageGroupID = sg.ID) where sg.IsComplete = 1 group by sg.Name, d.Name order "
                  L"by d.ID;";
        std::vector<SCatalogDatabase> rows;
        int ok = RunQuery(query, [&](sqlite3_stmt* statement) {
            SCatalogDatabase row;
            row.id = static_cast<int>(sqlite3_column_int64(statement, 0));
            row.caption = Text(statement, 1);
            row.name = Text(statement, 2);
            row.isPublic = sqlite3_column_int(statement, 3);
            rows.push_back(row);
        });
        if (ok && databases)
            *databases = rows;
        return ok;
    });
}

int CLorvArchive::ListDatabaseVersions(const std::wstring& databaseName, std::vector<SCatalogVersion>* versions)
{
    return Guard([&]() -> int {
        // The name goes between the quotes of the query as an SQL literal, so a
        // name holding a quote neither breaks the query nor changes it.
        const std::wstring name = QuoteSql(databaseName);
        std::wstring query =
            m_layout == 2010
                ? L"select strftime('%Y-%m-%d %H:%M:%S', bi.BackupStart), bi.BackupType, bi.Label, d.ID, "
                  L"d.DatabaseFileName, d.DatabaseFilePath, 0 \t\t  from BackupInfo bi inner join Databases d on(bi.ID = "
                  L"d.BackupID) where d.IsComplete = 1 AND d.Name = '" +
                      name + L"' order by d.ID;"
                : L"select strftime('%Y-%m-%d %H:%M:%S', bi.BackupStart), bi.BackupType, bi.Label, d.ID, df.FileName, "
                  L"df.FilePath, d.StorageGroupID \t\t  from Databases d \t\t\tinner join StorageGroups sg "
                  L"on(d.StorageGroupID = sg.ID) \t\t\tinner join BackupInfo bi on(bi.ID = sg.BackupID) \t\t\tinner join "
                  L"Logs l on(sg.ID = l.StorageGroupID) \t\t\tinner join DatabaseFiles df on(d.ID = df.DatabaseID) \t\t  "
                  L"where sg.IsComplete = 1 AND d.Name = '" +
                      name + L"' order by d.ID;";
        std::vector<SCatalogVersion> rows;
        int ok = RunQuery(query, [&](sqlite3_stmt* statement) {
            SCatalogVersion row;
            row.backupStart = Text(statement, 0);
            row.backupType = sqlite3_column_int(statement, 1) == 1 ? L"Full" : L"Incremental";
            row.label = Text(statement, 2);
            row.databaseId = sqlite3_column_int(statement, 3);
            row.fileName = Text(statement, 4);
            row.filePath = Text(statement, 5);
            row.storageGroupId = sqlite3_column_int(statement, 6);
            rows.push_back(row);
        });
        if (ok && versions)
            *versions = rows;
        return ok;
    });
}

int CLorvArchive::GetImagePaths(int databaseId, SCatalogImagePaths* paths)
{
    return Guard([&]() -> int {
        const std::wstring id = Number(databaseId);
        std::wstring query =
            m_layout == 2010
                ? L"select '{' || d.Name  || '}' || '\\' || strftime('%Y-%m-%dT%H-%M-%S', bi.BackupStart) || '-{' || "
                  L"d.Name  || '}-LOG.VHD', '{' || d.Name  || '}' || '\\' || strftime('%Y-%m-%dT%H-%M-%S', "
                  L"bi.BackupStart) || '-{' || d.Name  || '}-LOG.AddOn.VHD', '\\Data', d.Caption || '.edb' from "
                  L"BackupInfo bi inner join Databases d on(bi.ID = d.BackupID) where d.ID = " +
                      id + L";"
                : L"select '{' || sg.Name || '}' || '\\' || strftime('%Y-%m-%dT%H-%M-%S', bi.BackupStart) || '-{' || "
                  L"sg.Name || '}-LOG.VHD', '{' || sg.Name || '}' || '\\' || strftime('%Y-%m-%dT%H-%M-%S', "
                  L"bi.BackupStart) || '-{' || sg.Name || '}-LOG.AddOn.VHD', '\\Data', d.Caption || '.edb' from "
                  L"BackupInfo bi inner join StorageGroups sg on(bi.ID = sg.BackupID) inner join Databases d on(sg.ID = "
                  L"d.StorageGroupID) where d.ID = " +
                      id + L";";
        bool found = false;
        SCatalogImagePaths row;
        int ok = RunQuery(query, [&](sqlite3_stmt* statement) {
            if (found)
                return;
            found = true;
            std::wstring folder = m_folder;
            while (!folder.empty() && folder.back() == L'\\')
                folder.pop_back();
            row.imagePath = folder + L"\\" + Text(statement, 0);
            row.dataFolder = Text(statement, 2);
            row.databaseFileName = Text(statement, 3);
        });
        if (!ok)
            return 0;
        if (!found) {
            SetError(L"Database version with DatabaseID = %d is not found", databaseId);
            return 0;
        }
        if (paths)
            *paths = row;
        return 1;
    });
}

int CLorvArchive::ListStorageGroupFiles(unsigned storageGroupId, std::vector<SCatalogDatabaseFile>* files)
{
    return Guard([&]() -> int {
        if (m_layout != 2007)
            return 0;
        wchar_t id[16];
        swprintf(id, 16, L"%u", storageGroupId);
        std::wstring query = L"SELECT d.Caption, df.FileName, df.FilePath from Databases d \t\t  INNER JOIN StorageGroups "
                             L"sg ON(d.StorageGroupID = sg.ID) \t\t  INNER JOIN DatabaseFiles df on(d.ID = "
                             L"df.DatabaseID) \t\t  WHERE sg.IsComplete = 1 AND d.StorageGroupID = " +
                             std::wstring(id) + L" \t\t  ORDER BY d.ID;";
        std::vector<SCatalogDatabaseFile> rows;
        int ok = RunQuery(query, [&](sqlite3_stmt* statement) {
            SCatalogDatabaseFile row;
            row.caption = Text(statement, 0);
            row.path = Text(statement, 2) + L"\\" + Text(statement, 1);
            rows.push_back(row);
        });
        if (ok && files)
            *files = rows;
        return ok;
    });
}

int CLorvArchive::Close()
{
    return 1;
}

int CLorvArchive::GetDatabaseVersion(int databaseId, SCatalogDatabase* database, SCatalogVersion* version)
{
    return Guard([&]() -> int {
        if (!database || !version)
            return 0;
        const std::wstring id = Number(databaseId);
        std::wstring query =
            m_layout == 2010
                ? L"select d.ID, d.Caption, d.Name, d.IsPublicFolderDatabase, strftime('%Y-%m-%d %H:%M:%S', "
                  L"bi.BackupStart), bi.BackupType, bi.Label from Databases d inner join BackupInfo bi on(bi.ID = "
                  L"d.BackupID) where d.ID = " +
                      id + L";"
                : L"select d.ID, sg.Caption || '\\' || d.Caption, d.Name, d.IsPublic, strftime('%Y-%m-%d %H:%M:%S', "
                  L"bi.BackupStart), bi.BackupType, bi.Label from Databases d inner join StorageGroups sg "
                  L"on(d.StorageGroupID = sg.ID) inner join BackupInfo bi on(bi.ID = sg.BackupID) where d.ID = " +
                      id + L";";
        return RunQuery(query, [&](sqlite3_stmt* statement) {
            database->id = sqlite3_column_int(statement, 0);
            database->caption = Text(statement, 1);
            database->name = Text(statement, 2);
            database->isPublic = sqlite3_column_int(statement, 3);
            version->backupStart = Text(statement, 4);
            version->backupType = sqlite3_column_int(statement, 5) == 1 ? L"Full" : L"Incremental";
            version->label = Text(statement, 6);
        });
    });
}
