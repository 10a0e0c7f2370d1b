#pragma once
// The engine behind the exported functions: instances, sessions, attached
// and opened databases, cursors and transactions, each known by its handle.
// Every operation throws JetError for a failure and returns a result >= 0
// (a warning or success); EseExports.cpp serialises the calls.
#include "EseStandIn.h"

#include <mutex>

namespace esestandin {

// Where a cursor stands on its current index.
enum class PosKind { BeforeFirst, AfterLast, OnEntry, Gap };

struct Position {
    PosKind kind = PosKind::BeforeFirst;
    Bytes key;           // OnEntry, Gap: the entry, or the key before whose first entry the gap lies
    uint32_t recid = 0;  // OnEntry: the record; Gap: 0
};

struct Instance;

struct AttachedDb {
    Instance* instance = nullptr;
    std::string path;  // full path
    bool readOnly = false;
    std::unique_ptr<CDbFile> file;
    DbImage image;
    std::vector<Op> unflushed;  // committed, logged, not yet in the file
};

struct Params {
    std::map<unsigned long, std::string> text;
    std::map<unsigned long, JET_API_PTR> numbers;
};

struct Instance {
    JET_INSTANCE handle = 0;
    std::string name;
    Params params;
    bool initialized = false;
    bool logging = false;
    std::unique_ptr<CLogWriter> log;
    std::vector<std::shared_ptr<AttachedDb>> attached;
};

struct Change {
    std::shared_ptr<AttachedDb> db;
    Op redo;
    Op undo;
};

struct Session {
    JET_SESID handle = 0;
    Instance* instance = nullptr;
    std::vector<std::vector<Change>> levels;  // open transactions, innermost last
};

struct OpenDb {
    JET_DBID id = 0;
    JET_SESID session = 0;
    std::shared_ptr<AttachedDb> db;
    bool readOnly = false;
};

struct Cursor {
    JET_TABLEID id = 0;
    JET_SESID session = 0;
    JET_DBID dbid = 0;  // 0 for a temporary table
    std::shared_ptr<CTableData> table;
    std::shared_ptr<AttachedDb> db;
    bool readOnly = false;
    bool wideNames = false;  // a temporary info table made through a W function
    std::string indexName;  // empty: the clustered index (primary, else by record)
    Position position;

    Bytes key;
    bool keyStarted = false;
    bool keyLimited = false;
    size_t keySegments = 0;

    bool rangeActive = false;
    Bytes rangeLimit;
    bool rangeUpper = false;
    bool rangeInclusive = false;

    bool prepared = false;
    bool prepInsert = false;
    uint32_t updateRecid = 0;
    Record copy;
};

class CEngine {
public:
    static CEngine& Get();
    std::recursive_mutex& Lock() { return m_lock; }

    // System parameters and instances.
    JET_ERR CreateInstance(JET_INSTANCE* instance, const char* name);
    JET_ERR SetSystemParameter(JET_INSTANCE* instance, JET_SESID sesid, unsigned long paramid, JET_API_PTR value,
                               const char* text);
    JET_ERR GetSystemParameter(JET_INSTANCE instance, JET_SESID sesid, unsigned long paramid, JET_API_PTR* value,
                               std::string* text);
    JET_ERR Init(JET_INSTANCE* instance, JET_GRBIT grbit);
    JET_ERR Term(JET_INSTANCE instance, JET_GRBIT grbit);

    // Sessions and databases.
    JET_ERR BeginSession(JET_INSTANCE instance, JET_SESID* sesid);
    JET_ERR EndSession(JET_SESID sesid);
    JET_ERR CreateDatabase(JET_SESID sesid, const char* file, JET_DBID* dbid, JET_GRBIT grbit);
    JET_ERR AttachDatabase(JET_SESID sesid, const char* file, JET_GRBIT grbit);
    JET_ERR DetachDatabase(JET_SESID sesid, const char* file);
    JET_ERR OpenDatabase(JET_SESID sesid, const char* file, JET_DBID* dbid, JET_GRBIT grbit);
    JET_ERR CloseDatabase(JET_SESID sesid, JET_DBID dbid);

    // Transactions.
    JET_ERR BeginTransaction(JET_SESID sesid);
    JET_ERR CommitTransaction(JET_SESID sesid);
    JET_ERR Rollback(JET_SESID sesid, JET_GRBIT grbit);

    // Tables and their definitions.
    JET_ERR CreateTable(JET_SESID sesid, JET_DBID dbid, const char* name, JET_TABLEID* tableid);
    JET_ERR OpenTable(JET_SESID sesid, JET_DBID dbid, const char* name, JET_GRBIT grbit, JET_TABLEID* tableid);
    JET_ERR CloseTable(JET_SESID sesid, JET_TABLEID tableid);
    JET_ERR AddColumn(JET_SESID sesid, JET_TABLEID tableid, const char* name, const JET_COLUMNDEF* def,
                      const void* defaultValue, unsigned long defaultSize, JET_COLUMNID* columnid);
    JET_ERR CreateIndex(JET_SESID sesid, JET_TABLEID tableid, const char* name, JET_GRBIT grbit, const char* key,
                        unsigned long keySize, unsigned long density);
    JET_ERR CreateTableColumnIndex(JET_SESID sesid, JET_DBID dbid, JET_TABLECREATE_A* create);
    JET_ERR GetTableColumnInfo(JET_SESID sesid, JET_TABLEID tableid, const char* column, void* result,
                               unsigned long size, unsigned long level, bool wide);
    JET_ERR GetTableIndexInfo(JET_SESID sesid, JET_TABLEID tableid, const char* index, void* result,
                              unsigned long size, unsigned long level, bool wide);

    // Navigation.
    JET_ERR SetCurrentIndex(JET_SESID sesid, JET_TABLEID tableid, const char* index);
    JET_ERR MakeKey(JET_SESID sesid, JET_TABLEID tableid, const void* data, unsigned long size, JET_GRBIT grbit);
    JET_ERR Seek(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit);
    JET_ERR SetIndexRange(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit);
    JET_ERR Move(JET_SESID sesid, JET_TABLEID tableid, long rows, JET_GRBIT grbit);
    JET_ERR IndexRecordCount(JET_SESID sesid, JET_TABLEID tableid, unsigned long* count, unsigned long maximum);

    // Values.
    JET_ERR RetrieveColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, void* data,
                           unsigned long size, unsigned long* actual, JET_GRBIT grbit, JET_RETINFO* retinfo);
    JET_ERR RetrieveColumns(JET_SESID sesid, JET_TABLEID tableid, JET_RETRIEVECOLUMN* columns, unsigned long count);
    JET_ERR PrepareUpdate(JET_SESID sesid, JET_TABLEID tableid, unsigned long prep);
    JET_ERR SetColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, const void* data,
                      unsigned long size, JET_GRBIT grbit, const JET_SETINFO* setinfo);
    JET_ERR SetColumns(JET_SESID sesid, JET_TABLEID tableid, JET_SETCOLUMN* columns, unsigned long count);
    JET_ERR Update(JET_SESID sesid, JET_TABLEID tableid, void* bookmark, unsigned long size, unsigned long* actual);
    JET_ERR Delete(JET_SESID sesid, JET_TABLEID tableid);

private:
    Instance& InstanceOf(JET_INSTANCE handle);
    Session& SessionOf(JET_SESID handle);
    Cursor& CursorOf(JET_SESID sesid, JET_TABLEID tableid);
    OpenDb& OpenDbOf(JET_SESID sesid, JET_DBID dbid);
    Cursor& WritableCursor(JET_SESID sesid, JET_TABLEID tableid);

    std::string TextParam(const Instance* instance, unsigned long paramid) const;
    JET_API_PTR NumberParam(const Instance* instance, unsigned long paramid) const;
    bool AnyInstanceInitialized() const;

    void RecordChange(Session& session, const std::shared_ptr<AttachedDb>& db, Op redo, Op undo);
    void Persist(const std::shared_ptr<AttachedDb>& db, const std::vector<Op>& ops);
    void CommitChanges(std::vector<Change>& changes);
    void RollbackLevel(Session& session);
    void CloseCursor(JET_TABLEID tableid);
    void EndSessionInternal(Session& session);
    void FinishDb(AttachedDb& db, bool clean);
    JET_TABLEID NewCursor(Session& session, JET_DBID dbid, std::shared_ptr<CTableData> table,
                          std::shared_ptr<AttachedDb> db, bool readOnly);
    JET_TABLEID OpenTempTable(Session& session, std::shared_ptr<CTableData> table);

    const IndexDef* CurrentIndex(Cursor& cursor) const;
    const IndexEntries& EntriesOf(Cursor& cursor);
    bool InRange(const Cursor& cursor, const IndexEntry& entry) const;
    IndexEntries::const_iterator FirstAfter(Cursor& cursor);
    IndexEntries::const_iterator LastBefore(Cursor& cursor);
    const Record* CurrentRecord(Cursor& cursor, bool fromCopy);
    void PlaceOn(Cursor& cursor, const IndexEntry& entry);
    void ResetKey(Cursor& cursor);
    JET_ERR RetrieveValue(Cursor& cursor, const Record& record, const ColumnDef& column, void* data,
                          unsigned long size, unsigned long* actual, unsigned long ibLongValue,
                          unsigned long itagSequence);

    std::recursive_mutex m_lock;
    JET_API_PTR m_nextHandle = 0x10;
    JET_DBID m_nextDbid = 1;
    Params m_globals;
    std::map<JET_INSTANCE, std::unique_ptr<Instance>> m_instances;
    std::map<JET_SESID, std::unique_ptr<Session>> m_sessions;
    std::map<JET_DBID, OpenDb> m_openDbs;
    std::map<JET_TABLEID, std::unique_ptr<Cursor>> m_cursors;
};

} // namespace esestandin
