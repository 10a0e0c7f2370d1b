#pragma once
// Test fixtures for code that reads ESE databases: temporary folders, and a
// writer that builds databases and transaction logs through the standard ESE
// write calls only (JetCreateDatabase, JetCreateTableColumnIndex,
// JetBeginTransaction, JetPrepareUpdate, JetSetColumn, JetUpdate, ...), so
// that the same fixtures would build a real database against a real ESE.
//
// Failures throw std::runtime_error naming the call and its ESE error, which
// a GoogleTest test reports as its failure. Usable after Platform.h or a
// plain <windows.h>: nothing here depends on UNICODE.
#include <windows.h>

#include "EseApi.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace esefixture {

using Bytes = std::string;

// Throws for a negative ESE result; returns the result otherwise.
long Check(long err, const char* call);

// A new empty folder under the temporary folder, removed with everything in
// it when the object goes.
class CTempFolder {
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "\\" + name; }
    // A subfolder, created.
    std::string Folder(const std::string& name) const;

private:
    std::string m_path;
};

// Whole-file helpers (names as narrow ANSI paths).
Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& data);
std::vector<std::string> ListFiles(const std::string& folder);

// Values as ESE stores them (little-endian numbers; text as given).
Bytes I16(int16_t value);
Bytes I32(int32_t value);
Bytes I64(int64_t value);
Bytes Utf16(const std::wstring& text);

struct ColumnSpec {
    std::string name;
    JET_COLTYP coltyp;
    JET_GRBIT grbit = 0;
    unsigned long cbMax = 0;
    unsigned short cp = 0;
};

struct IndexSpec {
    std::string name;
    std::string key;  // segments separated by ';', each "+Column" or "-Column"
    JET_GRBIT grbit = 0;
};

// One column's values in a new row: one value, or several for a multi-valued
// column (set with itagSequence 0, in order).
struct ColumnValues {
    std::string column;
    std::vector<Bytes> values;
};

class CEseWriter {
public:
    // An engine instance that logs into logFolder (also its system path) under
    // the base name; an empty logFolder runs without logs. logFileKb > 0 sets
    // JET_paramLogFileSize, so that small sets roll into several generations.
    explicit CEseWriter(const std::string& logFolder, const std::string& baseName = "E00",
                        unsigned long logFileKb = 0);
    ~CEseWriter();
    CEseWriter(const CEseWriter&) = delete;
    CEseWriter& operator=(const CEseWriter&) = delete;

    void CreateDatabase(const std::string& path);
    void AttachDatabase(const std::string& path);
    void CreateTable(const std::string& table, const std::vector<ColumnSpec>& columns,
                     const std::vector<IndexSpec>& indexes);
    JET_COLUMNID Column(const std::string& table, const std::string& column) const;
    // Inserts one row in a transaction of its own.
    void Insert(const std::string& table, const std::vector<ColumnValues>& row);

    // Clean end: everything is written into the database files.
    void Term();
    // End with JetTerm2(JET_bitTermDirty): what was committed since the
    // database was attached exists only in the transaction logs.
    void TermDirty();

    JET_INSTANCE Instance() const { return m_instance; }
    JET_SESID Session() const { return m_session; }
    JET_DBID Database() const { return m_dbid; }
    JET_TABLEID Table(const std::string& table);

private:
    void End(JET_GRBIT grbit);
    JET_INSTANCE m_instance = JET_instanceNil;
    JET_SESID m_session = JET_sesidNil;
    JET_DBID m_dbid = JET_dbidNil;
    std::map<std::string, JET_TABLEID> m_tables;
    std::map<std::string, std::map<std::string, JET_COLUMNID>> m_columns;
};

} // namespace esefixture
