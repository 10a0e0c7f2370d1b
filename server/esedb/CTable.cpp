#include "Platform.h"
#include "esedb/CTable.h"

#include <cstring>

namespace NJbFramework {

CTable::CTable(const CSharedRef<CDatabase>& database, const char* name, JET_GRBIT grbit)
    : m_session(database->Session()), m_database(database)
{
    CheckJbResult(kJetOpenTable, JetOpenTableA(m_session->Handle(), m_database->Handle(), name, nullptr, 0, grbit,
                                               &m_cursor));
}

CTable::CTable(const CSharedRef<CSession>& session, JET_TABLEID cursor) : m_cursor(cursor), m_session(session)
{
}

CTable::~CTable()
{
    if (m_cursor != kNoHandle) {
        try {
            CheckJbResult(kJetCloseTable, JetCloseTable(m_session->Handle(), m_cursor));
        } catch (...) {
        }
        m_cursor = kNoHandle;
    }
    m_database.Reset();
    m_session.Reset();
}

bool CTable::Move(long rows, JET_GRBIT grbit)
{
    JET_ERR err = JetMove(m_session->Handle(), m_cursor, rows, grbit);
    if (err == JET_errNoCurrentRecord)
        return false;
    CheckJbResult(kJetMove, err);
    return err == JET_errSuccess;
}

void CTable::SetIndex(const char* name)
{
    CheckJbResult(kJetSetCurrentIndex, JetSetCurrentIndexA(m_session->Handle(), m_cursor, name));
}

bool CTable::SeekExact(const void* key, unsigned long size)
{
    CheckJbResult(kJetMakeKey, JetMakeKey(m_session->Handle(), m_cursor, key, size, JET_bitNewKey));
    JET_ERR err = JetSeek(m_session->Handle(), m_cursor, JET_bitSeekEQ);
    if (err == JET_errRecordNotFound || err == JET_errNoCurrentRecord)
        return false;
    CheckJbResult(kJetSeek, err);
    return err == JET_errSuccess;
}

bool CTable::SeekRange(const void* key, unsigned long size)
{
    JET_SESID session = m_session->Handle();
    CheckJbResult(kJetMakeKey,
                  JetMakeKey(session, m_cursor, key, size, JET_bitNewKey | JET_bitPartialColumnStartLimit));
    JetSeek(session, m_cursor, JET_bitSeekGE);
    CheckJbResult(kJetMakeKey, JetMakeKey(session, m_cursor, key, size, JET_bitNewKey | JET_bitPartialColumnEndLimit));
    JET_ERR err = JetSetIndexRange(session, m_cursor, JET_bitRangeInclusive | JET_bitRangeUpperLimit);
    if (err == JET_errRecordNotFound || err == JET_errNoCurrentRecord)
        return false;
    CheckJbResult(kJetSeek, err);
    return err == JET_errSuccess;
}

JET_ERR CTable::RetrieveColumns(JET_RETRIEVECOLUMN* records, unsigned long count)
{
    for (unsigned long i = 0; i < count; ++i) {
        if (records[i].pvData && records[i].cbData)
            memset(records[i].pvData, 0, records[i].cbData);
    }
    JET_ERR err = JetRetrieveColumns(m_session->Handle(), m_cursor, records, count);
    if (err != JET_errInvalidBufferSize)
        CheckJbResult(kJetRetrieveColumns, err);
    return err;
}

} // namespace NJbFramework
