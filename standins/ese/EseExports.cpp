// The exported ESE functions of the stand-in ese.dll, with ESE's names and
// calling convention. Each one only takes the engine's lock, converts text
// and runs the engine's operation; whatever escapes as an exception becomes
// its ESE error (an unexpected one JET_errInternalError), so no exception
// leaves the DLL.
//
// Text-taking functions come three times, as esent.dll has them: the
// undecorated name (narrow text, as in every ese.dll), the A name and the W
// name (UTF-16, converted to the ANSI code page).
#include "EseEngine.h"

#include <new>

using esestandin::CEngine;
using esestandin::JetError;

namespace {

template <typename Body>
JET_ERR Guard(Body&& body)
{
    std::lock_guard<std::recursive_mutex> lock(CEngine::Get().Lock());
    try {
        return body(CEngine::Get());
    } catch (const JetError& error) {
        return error.err;
    } catch (const std::bad_alloc&) {
        return JET_errOutOfMemory;
    } catch (...) {
        return JET_errInternalError;
    }
}

// A narrow copy of a wide argument; null stays null.
class CNarrow {
public:
    explicit CNarrow(const WCHAR* text) : m_null(text == nullptr)
    {
        if (text)
            m_text = esestandin::Narrow(text);
    }
    const char* c_str() const { return m_null ? nullptr : m_text.c_str(); }

private:
    bool m_null;
    std::string m_text;
};

JET_ERR CopyText(const std::string& text, char* out, unsigned long size)
{
    if (!out)
        return JET_errInvalidParameter;
    if (text.size() + 1 > size)
        return JET_errBufferTooSmall;
    memcpy(out, text.c_str(), text.size() + 1);
    return JET_errSuccess;
}

JET_ERR CopyText(const std::string& text, WCHAR* out, unsigned long size)
{
    std::wstring wide = esestandin::Widen(text);
    if (!out)
        return JET_errInvalidParameter;
    if ((wide.size() + 1) * sizeof(WCHAR) > size)
        return JET_errBufferTooSmall;
    memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return JET_errSuccess;
}

} // namespace

// The undecorated names are macros of <esent.h> (mapped to A or W); here they
// are functions of their own.
#undef JetCreateInstance
#undef JetSetSystemParameter
#undef JetGetSystemParameter
#undef JetInit3
#undef JetBeginSession
#undef JetCreateDatabase
#undef JetAttachDatabase
#undef JetDetachDatabase
#undef JetOpenDatabase
#undef JetCreateTable
#undef JetOpenTable
#undef JetAddColumn
#undef JetCreateIndex
#undef JetCreateTableColumnIndex
#undef JetGetTableColumnInfo
#undef JetGetTableIndexInfo
#undef JetSetCurrentIndex
// mingw-w64's header maps this W name to the A one by mistake.
#undef JetGetTableColumnInfoW

extern "C" {

// ---- instances and system parameters -------------------------------------------------

JET_ERR JET_API JetCreateInstanceA(JET_INSTANCE* pinstance, const char* szInstanceName)
{
    return Guard([&](CEngine& engine) { return engine.CreateInstance(pinstance, szInstanceName); });
}

JET_ERR JET_API JetCreateInstance(JET_INSTANCE* pinstance, const char* szInstanceName)
{
    return JetCreateInstanceA(pinstance, szInstanceName);
}

JET_ERR JET_API JetCreateInstanceW(JET_INSTANCE* pinstance, const WCHAR* szInstanceName)
{
    CNarrow name(szInstanceName);
    return JetCreateInstanceA(pinstance, name.c_str());
}

JET_ERR JET_API JetSetSystemParameterA(JET_INSTANCE* pinstance, JET_SESID sesid, unsigned long paramid,
                                       JET_API_PTR lParam, JET_PCSTR szParam)
{
    return Guard([&](CEngine& engine) { return engine.SetSystemParameter(pinstance, sesid, paramid, lParam, szParam); });
}

JET_ERR JET_API JetSetSystemParameter(JET_INSTANCE* pinstance, JET_SESID sesid, unsigned long paramid,
                                      JET_API_PTR lParam, JET_PCSTR szParam)
{
    return JetSetSystemParameterA(pinstance, sesid, paramid, lParam, szParam);
}

JET_ERR JET_API JetSetSystemParameterW(JET_INSTANCE* pinstance, JET_SESID sesid, unsigned long paramid,
                                       JET_API_PTR lParam, JET_PCWSTR szParam)
{
    CNarrow text(szParam);
    return JetSetSystemParameterA(pinstance, sesid, paramid, lParam, text.c_str());
}

JET_ERR JET_API JetGetSystemParameterA(JET_INSTANCE instance, JET_SESID sesid, unsigned long paramid,
                                       JET_API_PTR* plParam, JET_PSTR szParam, unsigned long cbMax)
{
    return Guard([&](CEngine& engine) {
        std::string text;
        JET_ERR err = engine.GetSystemParameter(instance, sesid, paramid, plParam, szParam ? &text : nullptr);
        return szParam ? CopyText(text, szParam, cbMax) : err;
    });
}

JET_ERR JET_API JetGetSystemParameter(JET_INSTANCE instance, JET_SESID sesid, unsigned long paramid,
                                      JET_API_PTR* plParam, JET_PSTR szParam, unsigned long cbMax)
{
    return JetGetSystemParameterA(instance, sesid, paramid, plParam, szParam, cbMax);
}

JET_ERR JET_API JetGetSystemParameterW(JET_INSTANCE instance, JET_SESID sesid, unsigned long paramid,
                                       JET_API_PTR* plParam, JET_PWSTR szParam, unsigned long cbMax)
{
    return Guard([&](CEngine& engine) {
        std::string text;
        JET_ERR err = engine.GetSystemParameter(instance, sesid, paramid, plParam, szParam ? &text : nullptr);
        return szParam ? CopyText(text, szParam, cbMax) : err;
    });
}

JET_ERR JET_API JetInit(JET_INSTANCE* pinstance)
{
    return Guard([&](CEngine& engine) { return engine.Init(pinstance, 0); });
}

JET_ERR JET_API JetInit2(JET_INSTANCE* pinstance, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.Init(pinstance, grbit); });
}

// Restore maps are not supported; without one JetInit3 is JetInit2.
JET_ERR JET_API JetInit3A(JET_INSTANCE* pinstance, JET_RSTINFO_A* prstInfo, JET_GRBIT grbit)
{
    if (prstInfo && prstInfo->crstmap > 0)
        return JET_errFeatureNotAvailable;
    return JetInit2(pinstance, grbit);
}

JET_ERR JET_API JetInit3(JET_INSTANCE* pinstance, JET_RSTINFO_A* prstInfo, JET_GRBIT grbit)
{
    return JetInit3A(pinstance, prstInfo, grbit);
}

JET_ERR JET_API JetInit3W(JET_INSTANCE* pinstance, JET_RSTINFO_W* prstInfo, JET_GRBIT grbit)
{
    if (prstInfo && prstInfo->crstmap > 0)
        return JET_errFeatureNotAvailable;
    return JetInit2(pinstance, grbit);
}

JET_ERR JET_API JetTerm(JET_INSTANCE instance)
{
    return Guard([&](CEngine& engine) { return engine.Term(instance, 0); });
}

JET_ERR JET_API JetTerm2(JET_INSTANCE instance, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.Term(instance, grbit); });
}

JET_ERR JET_API JetGetVersion(JET_SESID sesid, unsigned long* pwVersion)
{
    return Guard([&](CEngine&) {
        (void)sesid;
        if (!pwVersion)
            return JET_errInvalidParameter;
        *pwVersion = 0x08000000;
        return JET_errSuccess;
    });
}

// ---- sessions and databases ------------------------------------------------------------

JET_ERR JET_API JetBeginSessionA(JET_INSTANCE instance, JET_SESID* psesid, JET_PCSTR, JET_PCSTR)
{
    return Guard([&](CEngine& engine) { return engine.BeginSession(instance, psesid); });
}

JET_ERR JET_API JetBeginSession(JET_INSTANCE instance, JET_SESID* psesid, JET_PCSTR szUserName, JET_PCSTR szPassword)
{
    return JetBeginSessionA(instance, psesid, szUserName, szPassword);
}

JET_ERR JET_API JetBeginSessionW(JET_INSTANCE instance, JET_SESID* psesid, JET_PCWSTR, JET_PCWSTR)
{
    return JetBeginSessionA(instance, psesid, nullptr, nullptr);
}

JET_ERR JET_API JetEndSession(JET_SESID sesid, JET_GRBIT)
{
    return Guard([&](CEngine& engine) { return engine.EndSession(sesid); });
}

JET_ERR JET_API JetCreateDatabaseA(JET_SESID sesid, const char* szFilename, const char*, JET_DBID* pdbid,
                                   JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.CreateDatabase(sesid, szFilename, pdbid, grbit); });
}

JET_ERR JET_API JetCreateDatabase(JET_SESID sesid, const char* szFilename, const char* szConnect, JET_DBID* pdbid,
                                  JET_GRBIT grbit)
{
    return JetCreateDatabaseA(sesid, szFilename, szConnect, pdbid, grbit);
}

JET_ERR JET_API JetCreateDatabaseW(JET_SESID sesid, const WCHAR* szFilename, const WCHAR*, JET_DBID* pdbid,
                                   JET_GRBIT grbit)
{
    CNarrow file(szFilename);
    return JetCreateDatabaseA(sesid, file.c_str(), nullptr, pdbid, grbit);
}

JET_ERR JET_API JetAttachDatabaseA(JET_SESID sesid, const char* szFilename, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.AttachDatabase(sesid, szFilename, grbit); });
}

JET_ERR JET_API JetAttachDatabase(JET_SESID sesid, const char* szFilename, JET_GRBIT grbit)
{
    return JetAttachDatabaseA(sesid, szFilename, grbit);
}

JET_ERR JET_API JetAttachDatabaseW(JET_SESID sesid, const WCHAR* szFilename, JET_GRBIT grbit)
{
    CNarrow file(szFilename);
    return JetAttachDatabaseA(sesid, file.c_str(), grbit);
}

JET_ERR JET_API JetDetachDatabaseA(JET_SESID sesid, const char* szFilename)
{
    return Guard([&](CEngine& engine) { return engine.DetachDatabase(sesid, szFilename); });
}

JET_ERR JET_API JetDetachDatabase(JET_SESID sesid, const char* szFilename)
{
    return JetDetachDatabaseA(sesid, szFilename);
}

// mingw-w64's header declares the file name as char*; it is UTF-16 text.
JET_ERR JET_API JetDetachDatabaseW(JET_SESID sesid, const char* szFilename)
{
    CNarrow file(reinterpret_cast<const WCHAR*>(szFilename));
    return JetDetachDatabaseA(sesid, file.c_str());
}

JET_ERR JET_API JetOpenDatabaseA(JET_SESID sesid, const char* szFilename, const char*, JET_DBID* pdbid,
                                 JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.OpenDatabase(sesid, szFilename, pdbid, grbit); });
}

JET_ERR JET_API JetOpenDatabase(JET_SESID sesid, const char* szFilename, const char* szConnect, JET_DBID* pdbid,
                                JET_GRBIT grbit)
{
    return JetOpenDatabaseA(sesid, szFilename, szConnect, pdbid, grbit);
}

JET_ERR JET_API JetOpenDatabaseW(JET_SESID sesid, const WCHAR* szFilename, const WCHAR*, JET_DBID* pdbid,
                                 JET_GRBIT grbit)
{
    CNarrow file(szFilename);
    return JetOpenDatabaseA(sesid, file.c_str(), nullptr, pdbid, grbit);
}

JET_ERR JET_API JetCloseDatabase(JET_SESID sesid, JET_DBID dbid, JET_GRBIT)
{
    return Guard([&](CEngine& engine) { return engine.CloseDatabase(sesid, dbid); });
}

// ---- transactions ------------------------------------------------------------------

JET_ERR JET_API JetBeginTransaction(JET_SESID sesid)
{
    return Guard([&](CEngine& engine) { return engine.BeginTransaction(sesid); });
}

JET_ERR JET_API JetCommitTransaction(JET_SESID sesid, JET_GRBIT)
{
    return Guard([&](CEngine& engine) { return engine.CommitTransaction(sesid); });
}

JET_ERR JET_API JetRollback(JET_SESID sesid, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.Rollback(sesid, grbit); });
}

// ---- tables ----------------------------------------------------------------------

JET_ERR JET_API JetCreateTableA(JET_SESID sesid, JET_DBID dbid, const char* szTableName, unsigned long,
                                unsigned long, JET_TABLEID* ptableid)
{
    return Guard([&](CEngine& engine) { return engine.CreateTable(sesid, dbid, szTableName, ptableid); });
}

JET_ERR JET_API JetCreateTable(JET_SESID sesid, JET_DBID dbid, const char* szTableName, unsigned long lPages,
                               unsigned long lDensity, JET_TABLEID* ptableid)
{
    return JetCreateTableA(sesid, dbid, szTableName, lPages, lDensity, ptableid);
}

JET_ERR JET_API JetCreateTableW(JET_SESID sesid, JET_DBID dbid, const WCHAR* szTableName, unsigned long lPages,
                                unsigned long lDensity, JET_TABLEID* ptableid)
{
    CNarrow name(szTableName);
    return JetCreateTableA(sesid, dbid, name.c_str(), lPages, lDensity, ptableid);
}

JET_ERR JET_API JetOpenTableA(JET_SESID sesid, JET_DBID dbid, const char* szTableName, const void*, unsigned long,
                              JET_GRBIT grbit, JET_TABLEID* ptableid)
{
    return Guard([&](CEngine& engine) { return engine.OpenTable(sesid, dbid, szTableName, grbit, ptableid); });
}

JET_ERR JET_API JetOpenTable(JET_SESID sesid, JET_DBID dbid, const char* szTableName, const void* pvParameters,
                             unsigned long cbParameters, JET_GRBIT grbit, JET_TABLEID* ptableid)
{
    return JetOpenTableA(sesid, dbid, szTableName, pvParameters, cbParameters, grbit, ptableid);
}

JET_ERR JET_API JetOpenTableW(JET_SESID sesid, JET_DBID dbid, const WCHAR* szTableName, const void* pvParameters,
                              unsigned long cbParameters, JET_GRBIT grbit, JET_TABLEID* ptableid)
{
    CNarrow name(szTableName);
    return JetOpenTableA(sesid, dbid, name.c_str(), pvParameters, cbParameters, grbit, ptableid);
}

JET_ERR JET_API JetCloseTable(JET_SESID sesid, JET_TABLEID tableid)
{
    return Guard([&](CEngine& engine) { return engine.CloseTable(sesid, tableid); });
}

JET_ERR JET_API JetAddColumnA(JET_SESID sesid, JET_TABLEID tableid, JET_PCSTR szColumnName,
                              const JET_COLUMNDEF* pcolumndef, const void* pvDefault, unsigned long cbDefault,
                              JET_COLUMNID* pcolumnid)
{
    return Guard([&](CEngine& engine) {
        return engine.AddColumn(sesid, tableid, szColumnName, pcolumndef, pvDefault, cbDefault, pcolumnid);
    });
}

JET_ERR JET_API JetAddColumn(JET_SESID sesid, JET_TABLEID tableid, JET_PCSTR szColumnName,
                             const JET_COLUMNDEF* pcolumndef, const void* pvDefault, unsigned long cbDefault,
                             JET_COLUMNID* pcolumnid)
{
    return JetAddColumnA(sesid, tableid, szColumnName, pcolumndef, pvDefault, cbDefault, pcolumnid);
}

JET_ERR JET_API JetCreateIndexA(JET_SESID sesid, JET_TABLEID tableid, JET_PCSTR szIndexName, JET_GRBIT grbit,
                                const char* szKey, unsigned long cbKey, unsigned long lDensity)
{
    return Guard([&](CEngine& engine) {
        return engine.CreateIndex(sesid, tableid, szIndexName, grbit, szKey, cbKey, lDensity);
    });
}

JET_ERR JET_API JetCreateIndex(JET_SESID sesid, JET_TABLEID tableid, JET_PCSTR szIndexName, JET_GRBIT grbit,
                               const char* szKey, unsigned long cbKey, unsigned long lDensity)
{
    return JetCreateIndexA(sesid, tableid, szIndexName, grbit, szKey, cbKey, lDensity);
}

JET_ERR JET_API JetCreateTableColumnIndexA(JET_SESID sesid, JET_DBID dbid, JET_TABLECREATE_A* ptablecreate)
{
    return Guard([&](CEngine& engine) { return engine.CreateTableColumnIndex(sesid, dbid, ptablecreate); });
}

JET_ERR JET_API JetCreateTableColumnIndex(JET_SESID sesid, JET_DBID dbid, JET_TABLECREATE_A* ptablecreate)
{
    return JetCreateTableColumnIndexA(sesid, dbid, ptablecreate);
}

JET_ERR JET_API JetDelete(JET_SESID sesid, JET_TABLEID tableid)
{
    return Guard([&](CEngine& engine) { return engine.Delete(sesid, tableid); });
}

// ---- column and index information -----------------------------------------------------

JET_ERR JET_API JetGetTableColumnInfoA(JET_SESID sesid, JET_TABLEID tableid, const char* szColumnName,
                                       void* pvResult, unsigned long cbMax, unsigned long InfoLevel)
{
    return Guard([&](CEngine& engine) {
        return engine.GetTableColumnInfo(sesid, tableid, szColumnName, pvResult, cbMax, InfoLevel, false);
    });
}

JET_ERR JET_API JetGetTableColumnInfo(JET_SESID sesid, JET_TABLEID tableid, const char* szColumnName,
                                      void* pvResult, unsigned long cbMax, unsigned long InfoLevel)
{
    return JetGetTableColumnInfoA(sesid, tableid, szColumnName, pvResult, cbMax, InfoLevel);
}

JET_ERR JET_API JetGetTableColumnInfoW(JET_SESID sesid, JET_TABLEID tableid, const WCHAR* szColumnName,
                                       void* pvResult, unsigned long cbMax, unsigned long InfoLevel)
{
    // JET_ColInfoByColid passes a JET_COLUMNID through the name pointer.
    bool byId = (InfoLevel & 0x0FFFFFFF) == JET_ColInfoByColid;
    CNarrow name(byId ? nullptr : szColumnName);
    const char* column = byId ? reinterpret_cast<const char*>(szColumnName) : name.c_str();
    return Guard([&](CEngine& engine) {
        return engine.GetTableColumnInfo(sesid, tableid, column, pvResult, cbMax, InfoLevel, true);
    });
}

JET_ERR JET_API JetGetTableIndexInfoA(JET_SESID sesid, JET_TABLEID tableid, const char* szIndexName,
                                      void* pvResult, unsigned long cbResult, unsigned long InfoLevel)
{
    return Guard([&](CEngine& engine) {
        return engine.GetTableIndexInfo(sesid, tableid, szIndexName, pvResult, cbResult, InfoLevel, false);
    });
}

JET_ERR JET_API JetGetTableIndexInfo(JET_SESID sesid, JET_TABLEID tableid, const char* szIndexName,
                                     void* pvResult, unsigned long cbResult, unsigned long InfoLevel)
{
    return JetGetTableIndexInfoA(sesid, tableid, szIndexName, pvResult, cbResult, InfoLevel);
}

JET_ERR JET_API JetGetTableIndexInfoW(JET_SESID sesid, JET_TABLEID tableid, const WCHAR* szIndexName,
                                      void* pvResult, unsigned long cbResult, unsigned long InfoLevel)
{
    CNarrow name(szIndexName);
    return Guard([&](CEngine& engine) {
        return engine.GetTableIndexInfo(sesid, tableid, name.c_str(), pvResult, cbResult, InfoLevel, true);
    });
}

// ---- navigation ------------------------------------------------------------------------

JET_ERR JET_API JetSetCurrentIndexA(JET_SESID sesid, JET_TABLEID tableid, const char* szIndexName)
{
    return Guard([&](CEngine& engine) { return engine.SetCurrentIndex(sesid, tableid, szIndexName); });
}

JET_ERR JET_API JetSetCurrentIndex(JET_SESID sesid, JET_TABLEID tableid, const char* szIndexName)
{
    return JetSetCurrentIndexA(sesid, tableid, szIndexName);
}

JET_ERR JET_API JetSetCurrentIndexW(JET_SESID sesid, JET_TABLEID tableid, const WCHAR* szIndexName)
{
    CNarrow name(szIndexName);
    return JetSetCurrentIndexA(sesid, tableid, name.c_str());
}

JET_ERR JET_API JetMakeKey(JET_SESID sesid, JET_TABLEID tableid, const void* pvData, unsigned long cbData,
                           JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.MakeKey(sesid, tableid, pvData, cbData, grbit); });
}

JET_ERR JET_API JetSeek(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.Seek(sesid, tableid, grbit); });
}

JET_ERR JET_API JetSetIndexRange(JET_SESID sesid, JET_TABLEID tableid, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.SetIndexRange(sesid, tableid, grbit); });
}

JET_ERR JET_API JetMove(JET_SESID sesid, JET_TABLEID tableid, long cRow, JET_GRBIT grbit)
{
    return Guard([&](CEngine& engine) { return engine.Move(sesid, tableid, cRow, grbit); });
}

JET_ERR JET_API JetIndexRecordCount(JET_SESID sesid, JET_TABLEID tableid, unsigned long* pcrec,
                                    unsigned long crecMax)
{
    return Guard([&](CEngine& engine) { return engine.IndexRecordCount(sesid, tableid, pcrec, crecMax); });
}

// ---- values ------------------------------------------------------------------------------

JET_ERR JET_API JetRetrieveColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, void* pvData,
                                  unsigned long cbData, unsigned long* pcbActual, JET_GRBIT grbit,
                                  JET_RETINFO* pretinfo)
{
    return Guard([&](CEngine& engine) {
        return engine.RetrieveColumn(sesid, tableid, columnid, pvData, cbData, pcbActual, grbit, pretinfo);
    });
}

JET_ERR JET_API JetRetrieveColumns(JET_SESID sesid, JET_TABLEID tableid, JET_RETRIEVECOLUMN* pretrievecolumn,
                                   unsigned long cretrievecolumn)
{
    return Guard([&](CEngine& engine) {
        return engine.RetrieveColumns(sesid, tableid, pretrievecolumn, cretrievecolumn);
    });
}

JET_ERR JET_API JetPrepareUpdate(JET_SESID sesid, JET_TABLEID tableid, unsigned long prep)
{
    return Guard([&](CEngine& engine) { return engine.PrepareUpdate(sesid, tableid, prep); });
}

JET_ERR JET_API JetSetColumn(JET_SESID sesid, JET_TABLEID tableid, JET_COLUMNID columnid, const void* pvData,
                             unsigned long cbData, JET_GRBIT grbit, JET_SETINFO* psetinfo)
{
    return Guard([&](CEngine& engine) {
        return engine.SetColumn(sesid, tableid, columnid, pvData, cbData, grbit, psetinfo);
    });
}

JET_ERR JET_API JetSetColumns(JET_SESID sesid, JET_TABLEID tableid, JET_SETCOLUMN* psetcolumn,
                              unsigned long csetcolumn)
{
    return Guard([&](CEngine& engine) { return engine.SetColumns(sesid, tableid, psetcolumn, csetcolumn); });
}

JET_ERR JET_API JetUpdate(JET_SESID sesid, JET_TABLEID tableid, void* pvBookmark, unsigned long cbBookmark,
                          unsigned long* pcbActual)
{
    return Guard([&](CEngine& engine) { return engine.Update(sesid, tableid, pvBookmark, cbBookmark, pcbActual); });
}

} // extern "C"
