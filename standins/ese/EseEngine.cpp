// Instances, sessions, databases, transactions and table definitions.
// Navigation and values are in EseCursor.cpp.
#include "EseEngine.h"

#include <algorithm>
#include <cstring>

namespace esestandin {
namespace {

bool IsTextParam(unsigned long paramid)
{
    switch (paramid) {
    case JET_paramSystemPath:
    case JET_paramTempPath:
    case JET_paramLogFilePath:
    case JET_paramBaseName:
    case JET_paramEventSource:
    case JET_paramRecovery:
    case JET_paramEventSourceKey:
    case JET_paramAlternateDatabaseRecoveryPath:
        return true;
    default:
        return paramid >= 137 && paramid <= 151;
    }
}

std::string DefaultText(unsigned long paramid)
{
    switch (paramid) {
    case JET_paramSystemPath:
    case JET_paramTempPath:
    case JET_paramLogFilePath:
        return ".\\";
    case JET_paramBaseName:
        return "edb";
    case JET_paramRecovery:
        return "On";
    default:
        return std::string();
    }
}

JET_API_PTR DefaultNumber(unsigned long paramid)
{
    switch (paramid) {
    case JET_paramDatabasePageSize:
        return 4096;
    case JET_paramLogFileSize:
        return 5120;  // KB
    default:
        return 0;
    }
}

std::string Text(const char* text)
{
    return text ? std::string(text) : std::string();
}

bool EnsureFolder(const std::string& folder, bool create)
{
    if (FolderExists(folder))
        return true;
    if (!create)
        return false;
    std::string path = FullPath(folder);
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
    return FolderExists(folder);
}

} // namespace

CEngine& CEngine::Get()
{
    static CEngine engine;
    return engine;
}

// ---- handles ------------------------------------------------------------------

Instance& CEngine::InstanceOf(JET_INSTANCE handle)
{
    auto found = m_instances.find(handle);
    if (found == m_instances.end())
        Fail(JET_errInvalidInstance);
    return *found->second;
}

Session& CEngine::SessionOf(JET_SESID handle)
{
    auto found = m_sessions.find(handle);
    if (found == m_sessions.end())
        Fail(JET_errInvalidSesid);
    return *found->second;
}

Cursor& CEngine::CursorOf(JET_SESID sesid, JET_TABLEID tableid)
{
    SessionOf(sesid);
    auto found = m_cursors.find(tableid);
    if (found == m_cursors.end())
        Fail(JET_errInvalidTableId);
    if (found->second->session != sesid)
        Fail(JET_errSesidTableIdMismatch);
    return *found->second;
}

OpenDb& CEngine::OpenDbOf(JET_SESID sesid, JET_DBID dbid)
{
    SessionOf(sesid);
    auto found = m_openDbs.find(dbid);
    if (found == m_openDbs.end() || found->second.session != sesid)
        Fail(JET_errInvalidDatabaseId);
    return found->second;
}

Cursor& CEngine::WritableCursor(JET_SESID sesid, JET_TABLEID tableid)
{
    Cursor& cursor = CursorOf(sesid, tableid);
    if (cursor.readOnly || !cursor.db)
        Fail(JET_errPermissionDenied);
    return cursor;
}

// ---- system parameters ---------------------------------------------------------

std::string CEngine::TextParam(const Instance* instance, unsigned long paramid) const
{
    if (instance) {
        auto found = instance->params.text.find(paramid);
        if (found != instance->params.text.end())
            return found->second;
    }
    auto global = m_globals.text.find(paramid);
    return global != m_globals.text.end() ? global->second : DefaultText(paramid);
}

JET_API_PTR CEngine::NumberParam(const Instance* instance, unsigned long paramid) const
{
    if (instance && paramid != JET_paramDatabasePageSize) {
        auto found = instance->params.numbers.find(paramid);
        if (found != instance->params.numbers.end())
            return found->second;
    }
    auto global = m_globals.numbers.find(paramid);
    return global != m_globals.numbers.end() ? global->second : DefaultNumber(paramid);
}

bool CEngine::AnyInstanceInitialized() const
{
    for (const auto& instance : m_instances) {
        if (instance.second->initialized)
            return true;
    }
    return false;
}

JET_ERR CEngine::CreateInstance(JET_INSTANCE* instance, const char* name)
{
    if (!instance)
        Fail(JET_errInvalidParameter);
    std::string instanceName = Text(name);
    for (const auto& existing : m_instances) {
        if (!instanceName.empty() && existing.second->name == instanceName)
            Fail(JET_errInstanceNameInUse);
    }
    auto created = std::make_unique<Instance>();
    created->handle = m_nextHandle++;
    created->name = instanceName;
    *instance = created->handle;
    m_instances[created->handle] = std::move(created);
    return JET_errSuccess;
}

// A null pointer, or an instance of 0 or JET_instanceNil, names the global
// settings, which also are the defaults of instances created later.
JET_ERR CEngine::SetSystemParameter(JET_INSTANCE* instance, JET_SESID sesid, unsigned long paramid,
                                    JET_API_PTR value, const char* text)
{
    if (paramid >= JET_paramMaxValueInvalid)
        Fail(JET_errInvalidParameter);
    Instance* target = nullptr;
    if (sesid != 0 && sesid != JET_sesidNil)
        target = SessionOf(sesid).instance;
    else if (instance && *instance != 0 && *instance != JET_instanceNil)
        target = &InstanceOf(*instance);

    if (paramid == JET_paramDatabasePageSize) {
        if (AnyInstanceInitialized())
            Fail(JET_errAlreadyInitialized);
        if (value != 2048 && value != 4096 && value != 8192 && value != 16384 && value != 32768)
            Fail(JET_errInvalidParameter);
        m_globals.numbers[paramid] = value;
        return JET_errSuccess;
    }
    Params& params = target ? target->params : m_globals;
    if (target && target->initialized &&
        (paramid == JET_paramSystemPath || paramid == JET_paramLogFilePath || paramid == JET_paramBaseName ||
         paramid == JET_paramRecovery || paramid == JET_paramAlternateDatabaseRecoveryPath))
        Fail(JET_errAlreadyInitialized);
    if (IsTextParam(paramid)) {
        std::string textValue = Text(text);
        if (paramid == JET_paramBaseName && textValue.size() != 3)
            Fail(JET_errInvalidParameter);
        params.text[paramid] = textValue;
    } else {
        params.numbers[paramid] = value;
    }
    return JET_errSuccess;
}

JET_ERR CEngine::GetSystemParameter(JET_INSTANCE instance, JET_SESID sesid, unsigned long paramid,
                                    JET_API_PTR* value, std::string* text)
{
    if (paramid >= JET_paramMaxValueInvalid)
        Fail(JET_errInvalidParameter);
    const Instance* source = nullptr;
    if (sesid != 0 && sesid != JET_sesidNil)
        source = SessionOf(sesid).instance;
    else if (instance != 0 && instance != JET_instanceNil)
        source = &InstanceOf(instance);
    if (IsTextParam(paramid)) {
        if (!text)
            Fail(JET_errInvalidParameter);
        *text = TextParam(source, paramid);
    } else {
        if (!value)
            Fail(JET_errInvalidParameter);
        *value = NumberParam(source, paramid);
    }
    return JET_errSuccess;
}

// ---- instances ------------------------------------------------------------------

JET_ERR CEngine::Init(JET_INSTANCE* instance, JET_GRBIT grbit)
{
    Instance* target;
    if (!instance || *instance == 0 || *instance == JET_instanceNil) {
        // The legacy single-instance way: JetInit creates the instance itself.
        JET_INSTANCE created = 0;
        CreateInstance(&created, nullptr);
        if (instance)
            *instance = created;
        target = &InstanceOf(created);
    } else {
        target = &InstanceOf(*instance);
    }
    if (target->initialized)
        Fail(JET_errAlreadyInitialized);

    bool logPathSet = target->params.text.count(JET_paramLogFilePath) != 0 ||
                      m_globals.text.count(JET_paramLogFilePath) != 0;
    bool recovery = Lower(TextParam(target, JET_paramRecovery)) != "off";
    target->logging = logPathSet && recovery;
    if (target->logging) {
        bool create = NumberParam(target, JET_paramCreatePathIfNotExist) != 0;
        std::string logFolder = TextParam(target, JET_paramLogFilePath);
        std::string systemFolder = TextParam(target, JET_paramSystemPath);
        if (!EnsureFolder(logFolder, create))
            Fail(JET_errInvalidLogDirectory);
        if (!EnsureFolder(systemFolder, create))
            Fail(JET_errInvalidSystemPath);
        RecoveryParams params;
        params.logFolder = logFolder;
        params.baseName = TextParam(target, JET_paramBaseName);
        params.systemFolder = systemFolder;
        params.alternateFolder = TextParam(target, JET_paramAlternateDatabaseRecoveryPath);
        params.ignoreMissingDatabases = (grbit & JET_bitReplayIgnoreMissingDB) != 0;
        RecoveryResult recovered = Recover(params);
        unsigned long logFileBytes = static_cast<unsigned long>(NumberParam(target, JET_paramLogFileSize)) * 1024;
        target->log = std::make_unique<CLogWriter>(logFolder, params.baseName, systemFolder,
                                                   std::max<unsigned long>(logFileBytes, 1024));
        if (recovered.found)
            target->log->Continue(recovered.signature, recovered.lastGeneration, recovered.lastLsn,
                                  recovered.lastIsBaseFile);
    }
    target->initialized = true;
    return JET_errSuccess;
}

void CEngine::FinishDb(AttachedDb& db, bool clean)
{
    if (!db.file)
        return;
    if (clean && !db.readOnly) {
        Instance& instance = *db.instance;
        if (instance.logging && instance.log) {
            uint64_t lsn = instance.log->LastLsn();
            if (!db.unflushed.empty())
                db.file->Apply(db.unflushed, lsn);
            db.unflushed.clear();
            db.file->SetState(kDbClean, instance.log->Signature(), lsn);
        } else {
            db.file->SetState(kDbClean, 0, 0);
        }
    }
    db.file.reset();
}

// JET_bitTermAbrupt and JET_bitTermDirty end the instance without writing
// its databases: what was committed since they were attached stays in the
// transaction logs only, and the files stay in the dirty state until a
// recovery replays those logs.
JET_ERR CEngine::Term(JET_INSTANCE handle, JET_GRBIT grbit)
{
    Instance& instance = InstanceOf(handle);
    bool clean = (grbit & (JET_bitTermAbrupt | JET_bitTermDirty)) == 0;
    std::vector<JET_SESID> sessions;
    for (const auto& session : m_sessions) {
        if (session.second->instance == &instance)
            sessions.push_back(session.first);
    }
    for (JET_SESID sesid : sessions) {
        EndSessionInternal(*m_sessions[sesid]);
        m_sessions.erase(sesid);
    }
    JET_ERR result = JET_errSuccess;
    for (auto& db : instance.attached) {
        try {
            FinishDb(*db, clean);
        } catch (const JetError& error) {
            if (result == JET_errSuccess)
                result = error.err;
        }
    }
    instance.attached.clear();
    if (clean && instance.logging && instance.log) {
        try {
            instance.log->WriteCheckpoint();
        } catch (const JetError& error) {
            if (result == JET_errSuccess)
                result = error.err;
        }
    }
    m_instances.erase(handle);
    return result;
}

// ---- sessions -----------------------------------------------------------------

JET_ERR CEngine::BeginSession(JET_INSTANCE instance, JET_SESID* sesid)
{
    if (!sesid)
        Fail(JET_errInvalidParameter);
    Instance& owner = InstanceOf(instance);
    if (!owner.initialized)
        Fail(JET_errNotInitialized);
    auto session = std::make_unique<Session>();
    session->handle = m_nextHandle++;
    session->instance = &owner;
    *sesid = session->handle;
    m_sessions[session->handle] = std::move(session);
    return JET_errSuccess;
}

void CEngine::EndSessionInternal(Session& session)
{
    while (!session.levels.empty())
        RollbackLevel(session);
    std::vector<JET_TABLEID> cursors;
    for (const auto& cursor : m_cursors) {
        if (cursor.second->session == session.handle)
            cursors.push_back(cursor.first);
    }
    for (JET_TABLEID tableid : cursors)
        CloseCursor(tableid);
    for (auto it = m_openDbs.begin(); it != m_openDbs.end();) {
        if (it->second.session == session.handle)
            it = m_openDbs.erase(it);
        else
            ++it;
    }
}

JET_ERR CEngine::EndSession(JET_SESID sesid)
{
    EndSessionInternal(SessionOf(sesid));
    m_sessions.erase(sesid);
    return JET_errSuccess;
}

// ---- databases ----------------------------------------------------------------

JET_ERR CEngine::CreateDatabase(JET_SESID sesid, const char* file, JET_DBID* dbid, JET_GRBIT grbit)
{
    Session& session = SessionOf(sesid);
    if (!file || !*file || !dbid)
        Fail(JET_errInvalidParameter);
    Instance& instance = *session.instance;
    std::string path = FullPath(file);
    for (const auto& db : instance.attached) {
        if (SameName(db->path, path))
            Fail(JET_errDatabaseDuplicate);
    }
    auto db = std::make_shared<AttachedDb>();
    db->instance = &instance;
    db->path = path;
    db->file = CDbFile::Create(path, static_cast<unsigned long>(NumberParam(nullptr, JET_paramDatabasePageSize)),
                               RandomU64(), (grbit & JET_bitDbOverwriteExisting) != 0);
    db->file->Load(db->image);
    if (instance.logging) {
        uint64_t lsn = instance.log->Append(db->image.signature, path, SerializeOps({}));
        db->file->SetState(kDbDirty, instance.log->Signature(), lsn);
    }
    instance.attached.push_back(db);
    OpenDb open;
    open.id = m_nextDbid++;
    open.session = sesid;
    open.db = db;
    m_openDbs[open.id] = open;
    *dbid = open.id;
    return JET_errSuccess;
}

JET_ERR CEngine::AttachDatabase(JET_SESID sesid, const char* file, JET_GRBIT grbit)
{
    Session& session = SessionOf(sesid);
    if (!file || !*file)
        Fail(JET_errInvalidParameter);
    Instance& instance = *session.instance;
    std::string path = FullPath(file);
    for (const auto& db : instance.attached) {
        if (SameName(db->path, path))
            return JET_wrnDatabaseAttached;
    }
    bool readOnly = (grbit & JET_bitDbReadOnly) != 0;
    auto db = std::make_shared<AttachedDb>();
    db->instance = &instance;
    db->path = path;
    db->readOnly = readOnly;
    db->file = CDbFile::Open(path, readOnly);
    if (db->file->State() != kDbClean)
        Fail(JET_errDatabaseDirtyShutdown);
    if (db->file->PageSize() != NumberParam(nullptr, JET_paramDatabasePageSize))
        Fail(JET_errPageSizeMismatch);
    db->file->Load(db->image);
    if (!readOnly) {
        if (instance.logging) {
            uint64_t lsn = instance.log->Append(db->image.signature, path, SerializeOps({}));
            db->file->SetState(kDbDirty, instance.log->Signature(), lsn);
        } else {
            db->file->SetState(kDbDirty, 0, 0);
        }
    }
    instance.attached.push_back(db);
    return JET_errSuccess;
}

JET_ERR CEngine::DetachDatabase(JET_SESID sesid, const char* file)
{
    Session& session = SessionOf(sesid);
    Instance& instance = *session.instance;
    std::string path = file && *file ? FullPath(file) : std::string();
    bool any = false;
    for (auto it = instance.attached.begin(); it != instance.attached.end();) {
        if (!path.empty() && !SameName((*it)->path, path)) {
            ++it;
            continue;
        }
        for (const auto& open : m_openDbs) {
            if (open.second.db == *it)
                Fail(JET_errDatabaseInUse);
        }
        FinishDb(**it, true);
        it = instance.attached.erase(it);
        any = true;
    }
    if (!any && !path.empty())
        Fail(JET_errDatabaseNotFound);
    if (any && instance.logging && instance.log)
        instance.log->WriteCheckpoint();
    return JET_errSuccess;
}

JET_ERR CEngine::OpenDatabase(JET_SESID sesid, const char* file, JET_DBID* dbid, JET_GRBIT grbit)
{
    Session& session = SessionOf(sesid);
    if (!file || !dbid)
        Fail(JET_errInvalidParameter);
    std::string path = FullPath(file);
    for (const auto& db : session.instance->attached) {
        if (!SameName(db->path, path))
            continue;
        OpenDb open;
        open.id = m_nextDbid++;
        open.session = sesid;
        open.db = db;
        open.readOnly = db->readOnly || (grbit & JET_bitDbReadOnly) != 0;
        m_openDbs[open.id] = open;
        *dbid = open.id;
        return db->readOnly && !(grbit & JET_bitDbReadOnly) ? JET_wrnFileOpenReadOnly : JET_errSuccess;
    }
    Fail(JET_errDatabaseNotFound);
}

JET_ERR CEngine::CloseDatabase(JET_SESID sesid, JET_DBID dbid)
{
    OpenDbOf(sesid, dbid);
    std::vector<JET_TABLEID> cursors;
    for (const auto& cursor : m_cursors) {
        if (cursor.second->session == sesid && cursor.second->dbid == dbid)
            cursors.push_back(cursor.first);
    }
    for (JET_TABLEID tableid : cursors)
        CloseCursor(tableid);
    m_openDbs.erase(dbid);
    return JET_errSuccess;
}

// ---- transactions -------------------------------------------------------------

void CEngine::Persist(const std::shared_ptr<AttachedDb>& db, const std::vector<Op>& ops)
{
    Instance& instance = *db->instance;
    if (instance.logging && instance.log) {
        instance.log->Append(db->image.signature, db->path, SerializeOps(ops));
        db->unflushed.insert(db->unflushed.end(), ops.begin(), ops.end());
    } else {
        db->file->Apply(ops, 0);
    }
}

void CEngine::CommitChanges(std::vector<Change>& changes)
{
    std::vector<std::shared_ptr<AttachedDb>> order;
    for (const Change& change : changes) {
        if (std::find(order.begin(), order.end(), change.db) == order.end())
            order.push_back(change.db);
    }
    for (const auto& db : order) {
        std::vector<Op> ops;
        for (const Change& change : changes) {
            if (change.db == db)
                ops.push_back(change.redo);
        }
        Persist(db, ops);
    }
}

void CEngine::RecordChange(Session& session, const std::shared_ptr<AttachedDb>& db, Op redo, Op undo)
{
    ApplyToImage(db->image, redo);
    Change change{db, std::move(redo), std::move(undo)};
    if (session.levels.empty()) {
        std::vector<Change> single;
        single.push_back(std::move(change));
        CommitChanges(single);
    } else {
        session.levels.back().push_back(std::move(change));
    }
}

void CEngine::RollbackLevel(Session& session)
{
    std::vector<Change> changes = std::move(session.levels.back());
    session.levels.pop_back();
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
        try {
            ApplyToImage(it->db->image, it->undo);
        } catch (const JetError&) {
        }
    }
}

JET_ERR CEngine::BeginTransaction(JET_SESID sesid)
{
    Session& session = SessionOf(sesid);
    if (session.levels.size() >= 7)
        Fail(JET_errTransTooDeep);
    session.levels.emplace_back();
    return JET_errSuccess;
}

JET_ERR CEngine::CommitTransaction(JET_SESID sesid)
{
    Session& session = SessionOf(sesid);
    if (session.levels.empty())
        Fail(JET_errNotInTransaction);
    std::vector<Change> changes = std::move(session.levels.back());
    session.levels.pop_back();
    if (!session.levels.empty()) {
        for (Change& change : changes)
            session.levels.back().push_back(std::move(change));
    } else {
        CommitChanges(changes);
    }
    return JET_errSuccess;
}

JET_ERR CEngine::Rollback(JET_SESID sesid, JET_GRBIT grbit)
{
    Session& session = SessionOf(sesid);
    if (session.levels.empty())
        Fail(JET_errNotInTransaction);
    do {
        RollbackLevel(session);
    } while ((grbit & JET_bitRollbackAll) && !session.levels.empty());
    return JET_errSuccess;
}

// ---- tables ---------------------------------------------------------------------

JET_TABLEID CEngine::NewCursor(Session& session, JET_DBID dbid, std::shared_ptr<CTableData> table,
                               std::shared_ptr<AttachedDb> db, bool readOnly)
{
    auto cursor = std::make_unique<Cursor>();
    cursor->id = m_nextHandle++;
    cursor->session = session.handle;
    cursor->dbid = dbid;
    cursor->table = std::move(table);
    cursor->db = std::move(db);
    cursor->readOnly = readOnly;
    JET_TABLEID id = cursor->id;
    m_cursors[id] = std::move(cursor);
    return id;
}

JET_TABLEID CEngine::OpenTempTable(Session& session, std::shared_ptr<CTableData> table)
{
    table->temporary = true;
    return NewCursor(session, 0, std::move(table), nullptr, true);
}

void CEngine::CloseCursor(JET_TABLEID tableid)
{
    m_cursors.erase(tableid);
}

JET_ERR CEngine::CreateTable(JET_SESID sesid, JET_DBID dbid, const char* name, JET_TABLEID* tableid)
{
    Session& session = SessionOf(sesid);
    OpenDb& open = OpenDbOf(sesid, dbid);
    if (!name || !*name || !tableid)
        Fail(JET_errInvalidName);
    if (open.readOnly)
        Fail(JET_errPermissionDenied);
    if (open.db->image.FindTable(name))
        Fail(JET_errTableDuplicate);
    Op redo;
    redo.kind = OpKind::CreateTable;
    redo.table = open.db->image.nextTableId;
    redo.name = name;
    Op undo;
    undo.kind = OpKind::DropTable;
    undo.table = redo.table;
    uint32_t id = redo.table;
    RecordChange(session, open.db, redo, undo);
    *tableid = NewCursor(session, dbid, open.db->image.tables[id], open.db, false);
    return JET_errSuccess;
}

JET_ERR CEngine::OpenTable(JET_SESID sesid, JET_DBID dbid, const char* name, JET_GRBIT grbit, JET_TABLEID* tableid)
{
    Session& session = SessionOf(sesid);
    OpenDb& open = OpenDbOf(sesid, dbid);
    if (!name || !tableid)
        Fail(JET_errInvalidParameter);
    auto table = open.db->image.FindTable(name);
    if (!table)
        Fail(JET_errObjectNotFound);
    *tableid = NewCursor(session, dbid, table, open.db, open.readOnly || (grbit & JET_bitTableReadOnly) != 0);
    return JET_errSuccess;
}

JET_ERR CEngine::CloseTable(JET_SESID sesid, JET_TABLEID tableid)
{
    CursorOf(sesid, tableid);
    CloseCursor(tableid);
    return JET_errSuccess;
}

JET_ERR CEngine::AddColumn(JET_SESID sesid, JET_TABLEID tableid, const char* name, const JET_COLUMNDEF* def,
                           const void* defaultValue, unsigned long defaultSize, JET_COLUMNID* columnid)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (!def || def->cbStruct < sizeof(JET_COLUMNDEF))
        Fail(JET_errInvalidParameter);
    if (!name || !*name)
        Fail(JET_errInvalidName);
    if (cursor.table->FindColumn(name))
        Fail(JET_errColumnDuplicate);
    if (def->coltyp <= JET_coltypNil || def->coltyp >= JET_coltypMax || def->coltyp == JET_coltypSLV)
        Fail(JET_errInvalidColumnType);
    ColumnDef column;
    column.name = name;
    column.coltyp = def->coltyp;
    column.cbMax = def->cbMax;
    column.grbit = def->grbit;
    column.cp = column.IsText() ? (def->cp ? def->cp : 1252) : 0;
    if (column.IsText() && column.cp != 1200 && column.cp != 1252 && column.cp != 0)
        column.cp = def->cp;
    if ((column.grbit & JET_bitColumnMultiValued) && (column.grbit & JET_bitColumnFixed))
        Fail(JET_errMultiValuedColumnMustBeTagged);
    if ((column.grbit & JET_bitColumnEscrowUpdate) && column.coltyp != JET_coltypLong)
        Fail(JET_errInvalidParameter);
    if (defaultValue && defaultSize)
        column.defaultValue.assign(static_cast<const char*>(defaultValue), defaultSize);
    column.id = cursor.table->NextColumnId(column);
    Op redo;
    redo.kind = OpKind::AddColumn;
    redo.table = cursor.table->id;
    redo.column = column;
    Op undo;
    undo.kind = OpKind::DropColumn;
    undo.table = cursor.table->id;
    undo.column.id = column.id;
    RecordChange(session, cursor.db, redo, undo);
    if (columnid)
        *columnid = column.id;
    return JET_errSuccess;
}

JET_ERR CEngine::CreateIndex(JET_SESID sesid, JET_TABLEID tableid, const char* name, JET_GRBIT grbit,
                             const char* key, unsigned long keySize, unsigned long density)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = WritableCursor(sesid, tableid);
    if (!name || !*name)
        Fail(JET_errInvalidName);
    if (cursor.table->FindIndex(name))
        Fail(JET_errIndexDuplicate);
    if (!key || keySize < 2)
        Fail(JET_errIndexInvalidDef);
    IndexDef index;
    index.name = name;
    index.grbit = grbit;
    index.density = density;
    // "+Column\0-Other\0\0": one NUL-terminated name per segment, '+' (or none) ascending, '-' descending.
    size_t pos = 0;
    while (pos < keySize && key[pos] != '\0') {
        size_t end = pos;
        while (end < keySize && key[end] != '\0')
            ++end;
        std::string segmentText(key + pos, end - pos);
        KeySegment segment;
        if (segmentText[0] == '+' || segmentText[0] == '-') {
            segment.descending = segmentText[0] == '-';
            segmentText.erase(0, 1);
        }
        const ColumnDef* column = cursor.table->FindColumn(segmentText);
        if (!column)
            Fail(JET_errColumnNotFound);
        segment.column = column->id;
        index.segments.push_back(segment);
        pos = end + 1;
    }
    if (index.segments.empty())
        Fail(JET_errIndexInvalidDef);
    if (index.IsPrimary()) {
        if (cursor.table->PrimaryIndex())
            Fail(JET_errIndexHasPrimary);
        if (!cursor.table->records.empty())
            Fail(JET_errTableNotEmpty);
    }
    if (index.IsUnique()) {
        std::vector<IndexEntry> entries;
        for (const auto& record : cursor.table->records) {
            for (Bytes& entryKey : cursor.table->RecordKeys(&index, record.first, record.second))
                entries.push_back(IndexEntry{std::move(entryKey), record.first});
        }
        std::sort(entries.begin(), entries.end());
        for (size_t i = 1; i < entries.size(); ++i) {
            if (entries[i].key == entries[i - 1].key && entries[i].recid != entries[i - 1].recid)
                Fail(JET_errKeyDuplicate);
        }
    }
    Op redo;
    redo.kind = OpKind::CreateIndex;
    redo.table = cursor.table->id;
    redo.index = index;
    Op undo;
    undo.kind = OpKind::DropIndex;
    undo.table = cursor.table->id;
    undo.name = index.name;
    RecordChange(session, cursor.db, redo, undo);
    return JET_errSuccess;
}

JET_ERR CEngine::CreateTableColumnIndex(JET_SESID sesid, JET_DBID dbid, JET_TABLECREATE_A* create)
{
    if (!create || create->cbStruct < sizeof(JET_TABLECREATE_A))
        Fail(JET_errInvalidParameter);
    BeginTransaction(sesid);
    JET_TABLEID tableid = JET_tableidNil;
    try {
        CreateTable(sesid, dbid, create->szTableName, &tableid);
        unsigned long created = 1;
        auto* columns = reinterpret_cast<JET_COLUMNCREATE_A*>(create->rgcolumncreate);
        for (unsigned long i = 0; i < create->cColumns; ++i) {
            JET_COLUMNCREATE_A& column = columns[i];
            JET_COLUMNDEF def = {};
            def.cbStruct = sizeof(def);
            def.coltyp = column.coltyp;
            def.cbMax = column.cbMax;
            def.grbit = column.grbit;
            def.cp = static_cast<unsigned short>(column.cp);
            try {
                AddColumn(sesid, tableid, column.szColumnName, &def, column.pvDefault, column.cbDefault,
                          &column.columnid);
                column.err = JET_errSuccess;
            } catch (const JetError& error) {
                column.err = error.err;
                throw;
            }
            ++created;
        }
        for (unsigned long i = 0; i < create->cIndexes; ++i) {
            JET_INDEXCREATE_A& index = create->rgindexcreate[i];
            try {
                CreateIndex(sesid, tableid, index.szIndexName, index.grbit, index.szKey, index.cbKey,
                            index.ulDensity);
                index.err = JET_errSuccess;
            } catch (const JetError& error) {
                index.err = error.err;
                throw;
            }
            ++created;
        }
        CommitTransaction(sesid);
        create->tableid = tableid;
        create->cCreated = created;
    } catch (...) {
        if (tableid != JET_tableidNil)
            CloseCursor(tableid);
        Rollback(sesid, 0);
        throw;
    }
    return JET_errSuccess;
}

// ---- column and index lists -------------------------------------------------------

namespace {

Bytes U32Value(uint32_t value)
{
    Bytes out;
    PutU32(out, value);
    return out;
}

Bytes U16Value(uint16_t value)
{
    return Bytes{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

Bytes NameValue(const std::string& name, bool wide)
{
    if (!wide)
        return name;
    std::wstring text = Widen(name);
    return Bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

// A column of a temporary info table.
JET_COLUMNID AddInfoColumn(CTableData& table, const char* name, JET_COLTYP coltyp, JET_COLUMNID id, bool wide)
{
    ColumnDef column;
    column.id = id;
    column.name = name;
    column.coltyp = coltyp;
    column.cp = (coltyp == JET_coltypText || coltyp == JET_coltypLongText) ? (wide ? 1200 : 1252) : 0;
    table.columns[id] = column;
    return id;
}

void AddInfoRow(CTableData& table, Record record)
{
    uint32_t recid = table.nextRecid++;
    for (auto it = record.values.begin(); it != record.values.end();) {
        if (it->second.empty())
            it = record.values.erase(it);
        else
            ++it;
    }
    table.records[recid] = std::move(record);
    table.Changed();
}

} // namespace

JET_ERR CEngine::GetTableColumnInfo(JET_SESID sesid, JET_TABLEID tableid, const char* columnName, void* result,
                                    unsigned long size, unsigned long level, bool wide)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = CursorOf(sesid, tableid);
    if (!result)
        Fail(JET_errInvalidParameter);
    unsigned long baseLevel = level & 0x0FFFFFFF;
    bool sortById = baseLevel == JET_ColInfoListSortColumnid || (level & JET_ColInfoGrbitSortByColumnid);
    switch (baseLevel) {
    case JET_ColInfo:
    case JET_ColInfoByColid: {
        if (size < sizeof(JET_COLUMNDEF) || !columnName)
            Fail(JET_errInvalidParameter);
        const ColumnDef* column =
            baseLevel == JET_ColInfoByColid
                ? cursor.table->FindColumn(*reinterpret_cast<const JET_COLUMNID*>(columnName))
                : cursor.table->FindColumn(std::string(columnName));
        if (!column)
            Fail(JET_errColumnNotFound);
        JET_COLUMNDEF* def = static_cast<JET_COLUMNDEF*>(result);
        memset(def, 0, sizeof(*def));
        def->cbStruct = sizeof(*def);
        def->columnid = column->id;
        def->coltyp = column->coltyp;
        def->cp = column->cp;
        def->cbMax = column->cbMax ? column->cbMax : column->TypeSize();
        def->grbit = column->grbit | (column->IsTagged() ? JET_bitColumnTagged : 0) |
                     (column->IsFixedId() ? JET_bitColumnFixed : 0);
        return JET_errSuccess;
    }
    case JET_ColInfoList:
    case JET_ColInfoListCompact:
    case JET_ColInfoListSortColumnid: {
        if (size < sizeof(JET_COLUMNLIST))
            Fail(JET_errInvalidParameter);
        auto list = std::make_shared<CTableData>();
        list->name = "ColumnList";
        JET_COLUMNLIST* out = static_cast<JET_COLUMNLIST*>(result);
        memset(out, 0, sizeof(*out));
        out->cbStruct = sizeof(*out);
        out->columnidPresentationOrder = AddInfoColumn(*list, "PresentationOrder", JET_coltypLong, 1, wide);
        out->columnidcolumnid = AddInfoColumn(*list, "ColumnId", JET_coltypLong, 2, wide);
        out->columnidcoltyp = AddInfoColumn(*list, "ColumnType", JET_coltypLong, 3, wide);
        out->columnidCountry = AddInfoColumn(*list, "Country", JET_coltypShort, 4, wide);
        out->columnidLangid = AddInfoColumn(*list, "Langid", JET_coltypShort, 5, wide);
        out->columnidCp = AddInfoColumn(*list, "Cp", JET_coltypShort, 6, wide);
        out->columnidCollate = AddInfoColumn(*list, "Collate", JET_coltypShort, 7, wide);
        out->columnidcbMax = AddInfoColumn(*list, "Size", JET_coltypLong, 8, wide);
        out->columnidgrbit = AddInfoColumn(*list, "Grbit", JET_coltypLong, 9, wide);
        out->columnidcolumnname = AddInfoColumn(*list, "ColumnName", JET_coltypText, 128, wide);
        out->columnidBaseTableName = AddInfoColumn(*list, "BaseTableName", JET_coltypText, 129, wide);
        out->columnidBaseColumnName = AddInfoColumn(*list, "BaseColumnName", JET_coltypText, 130, wide);
        out->columnidDefinitionName = AddInfoColumn(*list, "DefinitionName", JET_coltypText, 131, wide);
        out->columnidDefault = AddInfoColumn(*list, "DefaultValue", JET_coltypLongBinary, 256, wide);

        std::vector<const ColumnDef*> columns;
        for (const auto& entry : cursor.table->columns)
            columns.push_back(&entry.second);
        if (!sortById) {
            std::stable_sort(columns.begin(), columns.end(), [](const ColumnDef* a, const ColumnDef* b) {
                return Lower(a->name) < Lower(b->name);
            });
        }
        uint32_t order = 0;
        for (const ColumnDef* column : columns) {
            Record row;
            row.values[1] = {U32Value(order++)};
            row.values[2] = {U32Value(column->id)};
            row.values[3] = {U32Value(column->coltyp)};
            row.values[4] = {U16Value(0)};
            row.values[5] = {U16Value(0)};
            row.values[6] = {U16Value(column->cp)};
            row.values[7] = {U16Value(0)};
            row.values[8] = {U32Value(column->cbMax ? column->cbMax : column->TypeSize())};
            row.values[9] = {U32Value(column->grbit | (column->IsTagged() ? JET_bitColumnTagged : 0) |
                                      (column->IsFixedId() ? JET_bitColumnFixed : 0))};
            row.values[128] = {NameValue(column->name, wide)};
            row.values[129] = {NameValue(cursor.table->name, wide)};
            row.values[130] = {NameValue(column->name, wide)};
            if (!column->defaultValue.empty())
                row.values[256] = {column->defaultValue};
            AddInfoRow(*list, std::move(row));
        }
        out->cRecord = static_cast<unsigned long>(columns.size());
        out->tableid = OpenTempTable(session, list);
        m_cursors[out->tableid]->wideNames = wide;
        return JET_errSuccess;
    }
    default:
        Fail(JET_errInvalidParameter);
    }
}

JET_ERR CEngine::GetTableIndexInfo(JET_SESID sesid, JET_TABLEID tableid, const char* indexName, void* result,
                                   unsigned long size, unsigned long level, bool wide)
{
    Session& session = SessionOf(sesid);
    Cursor& cursor = CursorOf(sesid, tableid);
    if (!result)
        Fail(JET_errInvalidParameter);
    std::vector<const IndexDef*> indexes;
    if (indexName && *indexName) {
        const IndexDef* index = cursor.table->FindIndex(indexName);
        if (!index)
            Fail(JET_errIndexNotFound);
        indexes.push_back(index);
    } else {
        for (const IndexDef& index : cursor.table->indexes)
            indexes.push_back(&index);
        std::stable_sort(indexes.begin(), indexes.end(),
                         [](const IndexDef* a, const IndexDef* b) { return Lower(a->name) < Lower(b->name); });
    }
    if (level == JET_IdxInfoCount) {
        if (size < sizeof(unsigned long))
            Fail(JET_errInvalidParameter);
        *static_cast<unsigned long*>(result) = static_cast<unsigned long>(indexes.size());
        return JET_errSuccess;
    }
    if (level != JET_IdxInfo && level != JET_IdxInfoList)
        Fail(JET_errInvalidParameter);
    if (size < sizeof(JET_INDEXLIST))
        Fail(JET_errInvalidParameter);
    auto list = std::make_shared<CTableData>();
    list->name = "IndexList";
    JET_INDEXLIST* out = static_cast<JET_INDEXLIST*>(result);
    memset(out, 0, sizeof(*out));
    out->cbStruct = sizeof(*out);
    out->columnidgrbitIndex = AddInfoColumn(*list, "IndexGrbit", JET_coltypLong, 1, wide);
    out->columnidcKey = AddInfoColumn(*list, "KeyCount", JET_coltypLong, 2, wide);
    out->columnidcEntry = AddInfoColumn(*list, "EntryCount", JET_coltypLong, 3, wide);
    out->columnidcPage = AddInfoColumn(*list, "PageCount", JET_coltypLong, 4, wide);
    out->columnidcColumn = AddInfoColumn(*list, "ColumnCount", JET_coltypLong, 5, wide);
    out->columnidiColumn = AddInfoColumn(*list, "ColumnIndex", JET_coltypLong, 6, wide);
    out->columnidcolumnid = AddInfoColumn(*list, "ColumnId", JET_coltypLong, 7, wide);
    out->columnidcoltyp = AddInfoColumn(*list, "ColumnType", JET_coltypLong, 8, wide);
    out->columnidCountry = AddInfoColumn(*list, "Country", JET_coltypShort, 9, wide);
    out->columnidLangid = AddInfoColumn(*list, "Langid", JET_coltypShort, 10, wide);
    out->columnidCp = AddInfoColumn(*list, "Cp", JET_coltypShort, 11, wide);
    out->columnidCollate = AddInfoColumn(*list, "Collate", JET_coltypShort, 12, wide);
    out->columnidgrbitColumn = AddInfoColumn(*list, "ColumnGrbit", JET_coltypLong, 13, wide);
    out->columnidLCMapFlags = AddInfoColumn(*list, "LCMapFlags", JET_coltypLong, 14, wide);
    out->columnidindexname = AddInfoColumn(*list, "IndexName", JET_coltypText, 128, wide);
    out->columnidcolumnname = AddInfoColumn(*list, "ColumnName", JET_coltypText, 129, wide);

    unsigned long rows = 0;
    for (const IndexDef* index : indexes) {
        const IndexEntries& entries = cursor.table->Entries(index);
        uint32_t keys = 0;
        const Bytes* previous = nullptr;
        for (const IndexEntry& entry : entries) {
            if (!previous || entry.key != *previous)
                ++keys;
            previous = &entry.key;
        }
        for (size_t segment = 0; segment < index->segments.size(); ++segment) {
            const ColumnDef* column = cursor.table->FindColumn(index->segments[segment].column);
            Record row;
            row.values[1] = {U32Value(index->grbit)};
            row.values[2] = {U32Value(keys)};
            row.values[3] = {U32Value(static_cast<uint32_t>(entries.size()))};
            row.values[4] = {U32Value(1)};
            row.values[5] = {U32Value(static_cast<uint32_t>(index->segments.size()))};
            row.values[6] = {U32Value(static_cast<uint32_t>(segment))};
            row.values[7] = {U32Value(index->segments[segment].column)};
            row.values[8] = {U32Value(column ? column->coltyp : 0)};
            row.values[9] = {U16Value(0)};
            row.values[10] = {U16Value(0)};
            row.values[11] = {U16Value(column ? column->cp : 0)};
            row.values[12] = {U16Value(0)};
            row.values[13] = {U32Value(index->segments[segment].descending ? JET_bitKeyDescending
                                                                           : JET_bitKeyAscending)};
            row.values[14] = {U32Value(0)};
            row.values[128] = {NameValue(index->name, wide)};
            row.values[129] = {NameValue(column ? column->name : std::string(), wide)};
            AddInfoRow(*list, std::move(row));
            ++rows;
        }
    }
    out->cRecord = rows;
    out->tableid = OpenTempTable(session, list);
    m_cursors[out->tableid]->wideNames = wide;
    return JET_errSuccess;
}

} // namespace esestandin
