#pragma once
// What the stand-in's tests share: a reader that opens a database read-only,
// as the server does, and small value helpers.
#include "EseFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace esetest {

using esefixture::Bytes;

// An instance without logs, a session and (when the attach works) the
// database opened read-only.
class CReadSession {
public:
    explicit CReadSession(const std::string& dbPath)
    {
        static int counter = 0;
        char name[64];
        snprintf(name, sizeof(name), "reader-%d", counter++);
        JetCreateInstanceA(&m_instance, name);
        JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramRecovery, 0, "Off");
        esefixture::Check(JetInit2(&m_instance, 0), "JetInit2");
        esefixture::Check(JetBeginSessionA(m_instance, &m_session, nullptr, nullptr), "JetBeginSession");
        m_attach = JetAttachDatabaseA(m_session, dbPath.c_str(), JET_bitDbReadOnly);
        if (m_attach >= 0)
            esefixture::Check(JetOpenDatabaseA(m_session, dbPath.c_str(), nullptr, &m_dbid, JET_bitDbReadOnly),
                              "JetOpenDatabase");
    }
    ~CReadSession() { JetTerm(m_instance); }
    CReadSession(const CReadSession&) = delete;
    CReadSession& operator=(const CReadSession&) = delete;

    JET_ERR AttachResult() const { return m_attach; }
    JET_SESID Session() const { return m_session; }
    JET_DBID Database() const { return m_dbid; }
    JET_TABLEID Open(const char* table)
    {
        JET_TABLEID tableid = JET_tableidNil;
        esefixture::Check(JetOpenTableA(m_session, m_dbid, table, nullptr, 0, JET_bitTableReadOnly, &tableid),
                          "JetOpenTable");
        return tableid;
    }

private:
    JET_INSTANCE m_instance = JET_instanceNil;
    JET_SESID m_session = JET_sesidNil;
    JET_DBID m_dbid = JET_dbidNil;
    JET_ERR m_attach = 0;
};

inline int64_t RetrieveI64(JET_SESID session, JET_TABLEID table, JET_COLUMNID column)
{
    int64_t value = -1;
    unsigned long actual = 0;
    esefixture::Check(JetRetrieveColumn(session, table, column, &value, sizeof(value), &actual, 0, nullptr),
                      "JetRetrieveColumn");
    return value;
}

inline Bytes RetrieveBytes(JET_SESID session, JET_TABLEID table, JET_COLUMNID column)
{
    char buffer[4096];
    unsigned long actual = 0;
    esefixture::Check(JetRetrieveColumn(session, table, column, buffer, sizeof(buffer), &actual, 0, nullptr),
                      "JetRetrieveColumn");
    return Bytes(buffer, actual);
}

} // namespace esetest
