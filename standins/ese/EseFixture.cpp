#include "EseFixture.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace esefixture {

long Check(long err, const char* call)
{
    if (err < 0) {
        char text[160];
        snprintf(text, sizeof(text), "%s failed with ESE error %ld", call, err);
        throw std::runtime_error(text);
    }
    return err;
}

namespace {

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

CTempFolder::CTempFolder()
{
    static std::atomic<unsigned> counter{0};
    char base[MAX_PATH];
    GetTempPathA(sizeof(base), base);
    for (;;) {
        char name[64];
        snprintf(name, sizeof(name), "vostrel-ese-%lu-%u", GetCurrentProcessId(), counter++);
        m_path = std::string(base) + name;
        if (CreateDirectoryA(m_path.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create a temporary folder");
    }
}

CTempFolder::~CTempFolder()
{
    RemoveTree(m_path);
}

std::string CTempFolder::Folder(const std::string& name) const
{
    std::string path = File(name);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

Bytes ReadFileBytes(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        throw std::runtime_error("cannot read " + path);
    Bytes data;
    char buffer[65536];
    size_t read;
    while ((read = fread(buffer, 1, sizeof(buffer), file)) > 0)
        data.append(buffer, read);
    fclose(file);
    return data;
}

void WriteFileBytes(const std::string& path, const Bytes& data)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    fwrite(data.data(), 1, data.size(), file);
    fclose(file);
}

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return names;
}

Bytes I16(int16_t value)
{
    return Bytes(reinterpret_cast<const char*>(&value), sizeof(value));
}

Bytes I32(int32_t value)
{
    return Bytes(reinterpret_cast<const char*>(&value), sizeof(value));
}

Bytes I64(int64_t value)
{
    return Bytes(reinterpret_cast<const char*>(&value), sizeof(value));
}

Bytes Utf16(const std::wstring& text)
{
    return Bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

CEseWriter::CEseWriter(const std::string& logFolder, const std::string& baseName, unsigned long logFileKb)
{
    static std::atomic<unsigned> counter{0};
    char name[64];
    snprintf(name, sizeof(name), "fixture-writer-%lu-%u", GetCurrentProcessId(), counter++);
    Check(JetCreateInstanceA(&m_instance, name), "JetCreateInstance");
    if (!logFolder.empty()) {
        std::string folder = logFolder + "\\";
        Check(JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramLogFilePath, 0, folder.c_str()),
              "JetSetSystemParameter(log path)");
        Check(JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramSystemPath, 0, folder.c_str()),
              "JetSetSystemParameter(system path)");
        Check(JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramBaseName, 0, baseName.c_str()),
              "JetSetSystemParameter(base name)");
        if (logFileKb)
            Check(JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramLogFileSize, logFileKb, nullptr),
                  "JetSetSystemParameter(log file size)");
    } else {
        Check(JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramRecovery, 0, "Off"),
              "JetSetSystemParameter(recovery)");
    }
    Check(JetInit2(&m_instance, 0), "JetInit2");
    Check(JetBeginSessionA(m_instance, &m_session, nullptr, nullptr), "JetBeginSession");
}

CEseWriter::~CEseWriter()
{
    if (m_instance != JET_instanceNil)
        JetTerm(m_instance);
}

void CEseWriter::CreateDatabase(const std::string& path)
{
    Check(JetCreateDatabaseA(m_session, path.c_str(), nullptr, &m_dbid, 0), "JetCreateDatabase");
}

void CEseWriter::AttachDatabase(const std::string& path)
{
    Check(JetAttachDatabaseA(m_session, path.c_str(), 0), "JetAttachDatabase");
    Check(JetOpenDatabaseA(m_session, path.c_str(), nullptr, &m_dbid, 0), "JetOpenDatabase");
}

void CEseWriter::CreateTable(const std::string& table, const std::vector<ColumnSpec>& columns,
                             const std::vector<IndexSpec>& indexes)
{
    std::vector<JET_COLUMNCREATE_A> columnCreates(columns.size());
    std::vector<std::string> columnNames;
    for (const ColumnSpec& column : columns)
        columnNames.push_back(column.name);
    for (size_t i = 0; i < columns.size(); ++i) {
        JET_COLUMNCREATE_A& create = columnCreates[i];
        create = JET_COLUMNCREATE_A();
        create.cbStruct = sizeof(create);
        create.szColumnName = &columnNames[i][0];
        create.coltyp = columns[i].coltyp;
        create.cbMax = columns[i].cbMax;
        create.grbit = columns[i].grbit;
        create.cp = columns[i].cp;
    }
    std::vector<std::string> indexNames, indexKeys;
    for (const IndexSpec& index : indexes) {
        indexNames.push_back(index.name);
        std::string key = index.key;
        for (char& c : key) {
            if (c == ';')
                c = '\0';
        }
        key.push_back('\0');
        key.push_back('\0');
        indexKeys.push_back(key);
    }
    std::vector<JET_INDEXCREATE_A> indexCreates(indexes.size());
    for (size_t i = 0; i < indexes.size(); ++i) {
        JET_INDEXCREATE_A& create = indexCreates[i];
        create = JET_INDEXCREATE_A();
        create.cbStruct = sizeof(create);
        create.szIndexName = &indexNames[i][0];
        create.szKey = &indexKeys[i][0];
        create.cbKey = static_cast<unsigned long>(indexKeys[i].size());
        create.grbit = indexes[i].grbit;
        create.ulDensity = 80;
    }
    JET_TABLECREATE_A create = {};
    create.cbStruct = sizeof(create);
    std::string tableName = table;
    create.szTableName = &tableName[0];
    create.ulPages = 1;
    create.ulDensity = 80;
    create.rgcolumncreate = reinterpret_cast<decltype(create.rgcolumncreate)>(columnCreates.data());
    create.cColumns = static_cast<unsigned long>(columnCreates.size());
    create.rgindexcreate = indexCreates.data();
    create.cIndexes = static_cast<unsigned long>(indexCreates.size());
    Check(JetCreateTableColumnIndexA(m_session, m_dbid, &create), "JetCreateTableColumnIndex");
    m_tables[table] = create.tableid;
    for (size_t i = 0; i < columns.size(); ++i)
        m_columns[table][columns[i].name] = columnCreates[i].columnid;
}

JET_TABLEID CEseWriter::Table(const std::string& table)
{
    auto found = m_tables.find(table);
    if (found != m_tables.end())
        return found->second;
    JET_TABLEID tableid = JET_tableidNil;
    Check(JetOpenTableA(m_session, m_dbid, table.c_str(), nullptr, 0, 0, &tableid), "JetOpenTable");
    m_tables[table] = tableid;
    JET_COLUMNLIST list = {};
    list.cbStruct = sizeof(list);
    Check(JetGetTableColumnInfoA(m_session, tableid, nullptr, &list, sizeof(list), JET_ColInfoList),
          "JetGetTableColumnInfo");
    for (long err = JetMove(m_session, list.tableid, JET_MoveFirst, 0); err >= 0;
         err = JetMove(m_session, list.tableid, JET_MoveNext, 0)) {
        char name[256] = {};
        unsigned long size = 0;
        JET_COLUMNID columnid = 0;
        JetRetrieveColumn(m_session, list.tableid, list.columnidcolumnname, name, sizeof(name) - 1, &size, 0,
                          nullptr);
        JetRetrieveColumn(m_session, list.tableid, list.columnidcolumnid, &columnid, sizeof(columnid), &size, 0,
                          nullptr);
        m_columns[table][name] = columnid;
    }
    JetCloseTable(m_session, list.tableid);
    return tableid;
}

JET_COLUMNID CEseWriter::Column(const std::string& table, const std::string& column) const
{
    auto found = m_columns.find(table);
    if (found == m_columns.end() || found->second.find(column) == found->second.end())
        throw std::runtime_error("no column " + table + "." + column);
    return found->second.find(column)->second;
}

void CEseWriter::Insert(const std::string& table, const std::vector<ColumnValues>& row)
{
    JET_TABLEID tableid = Table(table);
    Check(JetBeginTransaction(m_session), "JetBeginTransaction");
    try {
        Check(JetPrepareUpdate(m_session, tableid, JET_prepInsert), "JetPrepareUpdate");
        for (const ColumnValues& column : row) {
            JET_COLUMNID columnid = Column(table, column.column);
            for (const Bytes& value : column.values) {
                JET_SETINFO info = {sizeof(JET_SETINFO), 0, column.values.size() > 1 ? 0ul : 1ul};
                Check(JetSetColumn(m_session, tableid, columnid, value.data(), static_cast<unsigned long>(value.size()),
                                   value.empty() ? JET_bitSetZeroLength : 0, &info),
                      "JetSetColumn");
            }
        }
        Check(JetUpdate(m_session, tableid, nullptr, 0, nullptr), "JetUpdate");
        Check(JetCommitTransaction(m_session, 0), "JetCommitTransaction");
    } catch (...) {
        JetRollback(m_session, 0);
        throw;
    }
}

void CEseWriter::End(JET_GRBIT grbit)
{
    if (m_instance == JET_instanceNil)
        return;
    JET_INSTANCE instance = m_instance;
    m_instance = JET_instanceNil;
    m_tables.clear();
    Check(JetTerm2(instance, grbit), "JetTerm2");
}

void CEseWriter::Term()
{
    End(JET_bitTermComplete);
}

void CEseWriter::TermDirty()
{
    End(JET_bitTermDirty);
}

} // namespace esefixture
