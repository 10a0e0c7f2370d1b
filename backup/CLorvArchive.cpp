#include "Platform.h"

#include "CLorvArchive.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cwchar>

namespace {

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
    m_lastError = buffer;
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
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare16_v2(connection, sql, static_cast<int>(wcslen(sql) * sizeof(wchar_t)), &statement,
                                  nullptr);
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
        sqlite3_finalize(statement);
        return 0;
    }
    rc = sqlite3_finalize(statement);
    if (rc != SQLITE_OK) {
        SetError(L"db_Run(). sqlite3_finalize() failed. query = %ls. rc = %d. %ls", sql, rc,
                 ErrorText(connection).c_str());
        return 0;
    }
    return 1;
}

int CLorvArchive::RunQuery(const std::wstring& query, const std::function<void(sqlite3_stmt*)>& onRow)
{
    std::wstring path = m_folder + L"\\catalog.db";
    CConnection db;
    // Opening a catalog that is not there would create an empty one in the
    // user's archive folder; refuse it as SQLite refuses what it cannot open.
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        SetError(L"sqlite3_open16() failed. Cannot open database \"%ls\". rc = %d", path.c_str(), SQLITE_CANTOPEN);
        return 0;
    }
    int rc = sqlite3_open16(path.c_str(), &db.connection);
    if (rc != SQLITE_OK) {
        SetError(L"sqlite3_open16() failed. Cannot open database \"%ls\". rc = %d", path.c_str(), rc);
        return 0;
    }
    if (!db_Run(db.connection, L"BEGIN EXCLUSIVE TRANSACTION;"))
        return 0;
    rc = sqlite3_prepare16_v2(db.connection, query.c_str(), static_cast<int>(query.size() * sizeof(wchar_t)),
                              &db.statement, nullptr);
    if (rc != SQLITE_OK) {
        SetError(L"sqlite3_prepare16_v2() failed.  %ls   . rc = %d. %ls", query.c_str(), rc,
                 ErrorText(db.connection).c_str());
        return 0;
    }
    while ((rc = sqlite3_step(db.statement)) == SQLITE_ROW)
        onRow(db.statement);
    if (rc != SQLITE_DONE) {
        SetError(L"sqlite3_step() failed.  %ls  . rc = %d. %ls", query.c_str(), rc, ErrorText(db.connection).c_str());
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
}

int CLorvArchive::ListDatabases(std::vector<SCatalogDatabase>* databases)
{
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
}

int CLorvArchive::ListDatabaseVersions(const std::wstring& databaseName, std::vector<SCatalogVersion>* versions)
{
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
}

int CLorvArchive::GetImagePaths(int databaseId, SCatalogImagePaths* paths)
{
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
}

int CLorvArchive::ListStorageGroupFiles(unsigned storageGroupId, std::vector<SCatalogDatabaseFile>* files)
{
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
}

int CLorvArchive::Close()
{
    return 1;
}

int CLorvArchive::GetDatabaseVersion(int databaseId, SCatalogDatabase* database, SCatalogVersion* version)
{
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
}
