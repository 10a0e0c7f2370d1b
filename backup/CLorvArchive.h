#pragma once
// Reads the backup catalog "catalog.db" of a protection archive folder: the
// server settings (which Exchange version wrote the backups), the complete
// databases, the backup versions of one database, the image paths of one
// version and the database files of a storage group. Every operation opens
// the catalog, begins a transaction (waiting while a writer holds the
// catalog), runs one query and closes the connection without committing.
// Operations return 1 or 0; a failure leaves its text in the last error, and
// no exception leaves them.
//
// The catalog and its folder are never changed, not even by SQLite's own
// recovery: the catalog is opened read-only, and a catalog that would need
// recovering or that keeps its changes in a write-ahead log (a "-journal" or
// "-wal" file beside it, or a catalog in WAL mode) is read from a private
// copy in the temporary folder, recovered there and deleted afterwards.
#include <functional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

struct SCatalogDatabase {
    int id = 0;
    std::wstring caption;
    std::wstring name;
    int isPublic = 0;
};

struct SCatalogVersion {
    std::wstring backupStart;  // "year-month-day hours:minutes:seconds"
    std::wstring backupType;   // "Full" or "Incremental"
    int databaseId = 0;
    std::wstring label;
    std::wstring fileName;
    std::wstring filePath;
    int storageGroupId = 0;    // 0 in the 2010 layout
};

struct SCatalogDatabaseFile {
    std::wstring caption;
    std::wstring path;
};

struct SCatalogImagePaths {
    std::wstring imagePath;
    std::wstring dataFolder;
    std::wstring databaseFileName;
};

class CLorvArchive {
public:
    CLorvArchive();
    virtual ~CLorvArchive();

    virtual int db_Run(sqlite3* connection, const wchar_t* sql);
    virtual int ReadSettings(std::wstring* serverName, std::wstring* exchangeVersion, std::wstring* edition);
    virtual int ListDatabases(std::vector<SCatalogDatabase>* databases);
    virtual int ListDatabaseVersions(const std::wstring& databaseName, std::vector<SCatalogVersion>* versions);
    virtual int GetImagePaths(int databaseId, SCatalogImagePaths* paths);
    virtual int ListStorageGroupFiles(unsigned storageGroupId, std::vector<SCatalogDatabaseFile>* files);
    virtual int Close();
    virtual int GetDatabaseVersion(int databaseId, SCatalogDatabase* database, SCatalogVersion* version);

    void SetCatalogFolder(const std::wstring& folder) { m_folder = folder; }
    const std::wstring& GetCatalogFolder() const { return m_folder; }
    std::wstring GetLastErrorText() const { return m_lastError; }
    int GetLayoutVersion() const { return m_layout; }

    // How long beginning the transaction waits for another writer: `tries`
    // steps, `sleepMs` after each busy one (100 and 3000 unless changed).
    void SetBusyWait(int tries, unsigned sleepMs) { m_busyTries = tries; m_busySleepMs = sleepMs; }

    // `text` as an SQL string literal's contents: every quote doubled.
    static std::wstring QuoteSql(const std::wstring& text);

private:
    int RunQuery(const std::wstring& query, const std::function<void(sqlite3_stmt*)>& onRow);
    // One query on the catalog at `openPath` (read-only, or the private copy
    // read-write); texts name `path`. `refused` says that a read-only
    // connection could not read the catalog as it lies (it needs recovering).
    int RunQueryOn(const std::wstring& path, const std::wstring& openPath, bool readOnly, const std::wstring& query,
                   const std::function<void(sqlite3_stmt*)>& onRow, bool* refused);
    // Runs one operation; an exception inside it fails the operation with a text.
    int Guard(const std::function<int()>& operation);
    void SetError(const wchar_t* format, ...);

    std::wstring m_folder;
    std::wstring m_lastError;
    int m_layout = 0;
    int m_busyTries = 100;
    unsigned m_busySleepMs = 3000;
};
