// In-process rates of the table engine and of the fixture builder under it:
// - a folder of 10,000 messages joined with "Msg", 20 columns selected, every
//   row read in one GetRows as the provider's contents tables read them, next
//   to the engine's own reads of the same rows (JetMove, JetRetrieveColumns
//   of every column of both tables, JetSeek into "Msg"), without conversion;
// - building that fixture database, next to ten times the build of one of
//   1,000 messages: a builder that scales linearly gives 1.
#include "Platform.h"
#include "objects/CEseTableImpl.h"
#include "CFixtureStore.h"
#include "EseValueMemory.h"
#include "ExchangeFixture.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

using namespace exchangefixture;

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Result(const char* figure, double value, const char* unit, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.4f\t%s\t%s\t%.4f\t%.2f\n", figure, value, unit, reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
    std::fflush(stdout);
}

CExchangeDatabase Folder(int messages, int64_t* folder)
{
    CExchangeDatabase database;
    SMailbox box = database.AddMailbox(L"Bench");
    *folder = database.AddFolder(box.topId, L"Big");
    for (int i = 0; i < messages; ++i) {
        SMessage message;
        message.subject = L"Message number " + std::to_wstring(i);
        message.normalizedSubject = message.subject;
        message.senderName = L"Sender " + std::to_wstring(i % 50);
        message.body = L"A short body of message " + std::to_wstring(i);
        message.read = (i % 3) == 0;
        database.AddMessage(*folder, message);
    }
    return database;
}

// Seconds to write the fixture of `messages` messages into a fresh file.
double BuildSeconds(int messages, const esefixture::CTempFolder& files)
{
    int64_t folder = 0;
    double start = Now();
    CExchangeDatabase database = Folder(messages, &folder);
    database.Write(files.File("build-" + std::to_string(messages) + ".edb"));
    return Now() - start;
}

void Jet(JET_ERR err, const char* call)
{
    if (err < 0)
        throw std::runtime_error(std::string(call) + " failed with " + std::to_string(err));
}

// The engine's reads of the rows the table engine reads: every column of the
// folder's message table and of the message's "Msg" row.
class CRawWalk {
public:
    CRawWalk(const std::string& path, const std::string& messageTable)
    {
        Jet(JetCreateInstanceA(&m_instance, "raw-walk"), "JetCreateInstance");
        JetSetSystemParameterA(&m_instance, JET_sesidNil, JET_paramRecovery, 0, "Off");
        Jet(JetInit2(&m_instance, 0), "JetInit2");
        Jet(JetBeginSessionA(m_instance, &m_session, nullptr, nullptr), "JetBeginSession");
        Jet(JetAttachDatabaseA(m_session, path.c_str(), JET_bitDbReadOnly), "JetAttachDatabase");
        Jet(JetOpenDatabaseA(m_session, path.c_str(), nullptr, &m_db, JET_bitDbReadOnly), "JetOpenDatabase");
        m_messages = Open(messageTable.c_str(), m_messageColumns);
        m_msg = Open("Msg", m_msgColumns);
        JET_COLUMNDEF key = {sizeof(key)};
        Jet(JetGetTableColumnInfoA(m_session, m_messages, "Q67B0", &key, sizeof(key), JET_ColInfo),
            "JetGetTableColumnInfo");
        m_keyColumn = key.columnid;
    }
    ~CRawWalk() { JetTerm(m_instance); }

    // Rows read.
    unsigned long Walk()
    {
        unsigned long rows = 0;
        for (JET_ERR err = JetMove(m_session, m_messages, JET_MoveFirst, 0); err >= 0;
             err = JetMove(m_session, m_messages, JET_MoveNext, 0)) {
            Retrieve(m_messages, m_messageColumns);
            int64_t id = 0;
            unsigned long actual = 0;
            Jet(JetRetrieveColumn(m_session, m_messages, m_keyColumn, &id, sizeof(id), &actual, 0, nullptr),
                "JetRetrieveColumn");
            Jet(JetMakeKey(m_session, m_msg, &id, sizeof(id), JET_bitNewKey), "JetMakeKey");
            if (JetSeek(m_session, m_msg, JET_bitSeekEQ) >= 0)
                Retrieve(m_msg, m_msgColumns);
            ++rows;
        }
        return rows;
    }

private:
    struct SColumns {
        std::vector<JET_RETRIEVECOLUMN> records;
        std::vector<std::vector<char>> buffers;
    };

    JET_TABLEID Open(const char* name, SColumns& columns)
    {
        JET_TABLEID table = JET_tableidNil;
        Jet(JetOpenTableA(m_session, m_db, name, nullptr, 0, JET_bitTableReadOnly, &table), "JetOpenTable");
        JET_COLUMNLIST list = {sizeof(list)};
        Jet(JetGetTableColumnInfoA(m_session, table, nullptr, &list, sizeof(list), JET_ColInfoList),
            "JetGetTableColumnInfo");
        for (JET_ERR err = JetMove(m_session, list.tableid, JET_MoveFirst, 0); err >= 0;
             err = JetMove(m_session, list.tableid, JET_MoveNext, 0)) {
            JET_COLUMNID id = 0;
            unsigned long actual = 0;
            JetRetrieveColumn(m_session, list.tableid, list.columnidcolumnid, &id, sizeof(id), &actual, 0, nullptr);
            JET_RETRIEVECOLUMN record = {};
            record.columnid = id;
            record.itagSequence = 1;
            columns.records.push_back(record);
            columns.buffers.emplace_back(8192);
        }
        JetCloseTable(m_session, list.tableid);
        for (size_t i = 0; i < columns.records.size(); ++i) {
            columns.records[i].pvData = columns.buffers[i].data();
            columns.records[i].cbData = static_cast<unsigned long>(columns.buffers[i].size());
        }
        return table;
    }
    void Retrieve(JET_TABLEID table, SColumns& columns)
    {
        JetRetrieveColumns(m_session, table, columns.records.data(), static_cast<unsigned long>(columns.records.size()));
    }

    JET_INSTANCE m_instance = JET_instanceNil;
    JET_SESID m_session = JET_sesidNil;
    JET_DBID m_db = JET_dbidNil;
    JET_TABLEID m_messages = JET_tableidNil;
    JET_TABLEID m_msg = JET_tableidNil;
    JET_COLUMNID m_keyColumn = 0;
    SColumns m_messageColumns, m_msgColumns;
};

} // namespace

int main()
{
    const int kMessages = 10000;
    try {
        esefixture::CTempFolder files;
        double small = BuildSeconds(kMessages / 10, files);
        double large = BuildSeconds(kMessages, files);

        int64_t folder = 0;
        CExchangeDatabase database = Folder(kMessages, &folder);
        CFixtureStore store(database);
        const std::vector<unsigned long> tags = {
            0x0037001F, 0x0E1D001F, 0x003D001F, 0x0042001F, 0x674A0014, 0x67B00014, 0x67480014,
            0x0E080003, 0x0E070003, 0x0E060040, 0x1000001F, 0x0064001F, 0x0065001F, 0x0C1A001F,
            0x0C1F001F, 0x0C1E001F, 0x67B60102, 0x67B30102, 0x3001001F, 0x0E1B000B};
        double engine = 1e9;
        unsigned long count = 0;
        for (int run = 0; run < 3; ++run) {
            NJbFramework::CSharedRef<CEseTableImpl> messages(new CEseTableImpl(
                0x674A, store.Context(), CExchangeDatabase::MessageTable(folder).c_str(), kKindFolderMessages));
            messages->AddLinkedTable(0x67B0, NJbFramework::CSharedRef<CEseTableImpl>(
                                                 new CEseTableImpl(0x67B0, store.Context(), "Msg", kKindMsg)));
            double start = Now();
            messages->SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
            _SEseRow* rows = nullptr;
            messages->GetRows(0x7FFFFFFF, true, &count, &rows);
            engine = std::min(engine, Now() - start);
            FreeEseRows(rows, count);
        }
        CRawWalk walk(store.Path(), CExchangeDatabase::MessageTable(folder));
        double raw = 1e9;
        unsigned long walked = 0;
        for (int run = 0; run < 3; ++run) {
            double start = Now();
            walked = walk.Walk();
            raw = std::min(raw, Now() - start);
        }
        if (count != static_cast<unsigned long>(kMessages) || walked != count)
            throw std::runtime_error("the table engine and the raw walk read different row counts");

        std::printf("fixture of %d messages built in %.2f s (%d messages: %.2f s)\n", kMessages, large,
                    kMessages / 10, small);
        std::printf("in-process SetColumns(%u) + GetRows: %lu rows in %.3f s, %.0f rows/s, %.0f values/s; "
                    "engine reads alone %.3f s\n",
                    static_cast<unsigned>(tags.size()), count, engine, count / engine,
                    count * static_cast<double>(tags.size()) / engine, raw);
        Result("fixture of 10000 messages, build time (vs 10 x the build of 1000: 1 = linear)", large, "s",
               "10 x build of 1000 messages", 10 * small);
        Result("table engine, 10000 rows x 20 columns in one GetRows (vs the engine's own reads of the rows)", engine,
               "s", "JetMove/JetRetrieveColumns/JetSeek of the same rows", raw);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "bench failed\n");
        return 1;
    }
    return 0;
}
