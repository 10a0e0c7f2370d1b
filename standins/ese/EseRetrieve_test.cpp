// Retrieving values: nulls, truncation, long-value offsets, multi-valued
// columns, escrow counters; and the write side's transactions.
#include "EseTestSupport.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using esefixture::ColumnSpec;
using esefixture::I32;
using esefixture::I64;
using esefixture::IndexSpec;

namespace {

const std::string kLong = "0123456789abcdefghij";  // 20 bytes

class EseRetrieve : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new esefixture::CTempFolder();
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(Db());
        writer.CreateTable("Values",
                           {ColumnSpec{"Id", JET_coltypLong}, ColumnSpec{"Text", JET_coltypText, 0, 255},
                            ColumnSpec{"Body", JET_coltypLongBinary},
                            ColumnSpec{"Multi", JET_coltypLong, JET_bitColumnMultiValued | JET_bitColumnTagged},
                            ColumnSpec{"Count", JET_coltypLong, JET_bitColumnEscrowUpdate},
                            ColumnSpec{"Empty", JET_coltypBinary, 0, 255}},
                           {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary}});
        writer.Insert("Values", {{"Id", {I32(1)}},
                                 {"Text", {"hello"}},
                                 {"Body", {kLong}},
                                 {"Multi", {I32(7), I32(8), I32(9)}},
                                 {"Count", {I32(42)}},
                                 {"Empty", {""}}});
        writer.Insert("Values", {{"Id", {I32(2)}}});
        writer.Term();
    }
    static void TearDownTestSuite() { delete s_folder; }
    static std::string Db() { return s_folder->File("values.edb"); }

    void SetUp() override
    {
        m_reader.reset(new esetest::CReadSession(Db()));
        ASSERT_EQ(JET_errSuccess, m_reader->AttachResult());
        m_session = m_reader->Session();
        m_table = m_reader->Open("Values");
        for (const char* name : {"Id", "Text", "Body", "Multi", "Count", "Empty"}) {
            JET_COLUMNDEF def = {};
            def.cbStruct = sizeof(def);
            ASSERT_EQ(0, JetGetTableColumnInfoA(m_session, m_table, name, &def, sizeof(def), JET_ColInfo));
            m_columns[name] = def.columnid;
        }
        ASSERT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MoveFirst, 0));
    }

    static esefixture::CTempFolder* s_folder;
    std::unique_ptr<esetest::CReadSession> m_reader;
    JET_SESID m_session = 0;
    JET_TABLEID m_table = 0;
    std::map<std::string, JET_COLUMNID> m_columns;
};

esefixture::CTempFolder* EseRetrieve::s_folder = nullptr;

TEST_F(EseRetrieve, SingleColumnResults)
{
    struct Case {
        const char* column;
        unsigned long size;
        unsigned long ibLongValue;
        unsigned long itag;
        JET_ERR expected;
        unsigned long actual;
        std::string data;
    } cases[] = {
        {"Text", 64, 0, 1, JET_errSuccess, 5, "hello"},
        {"Text", 3, 0, 1, JET_wrnBufferTruncated, 5, "hel"},
        {"Text", 0, 0, 1, JET_wrnBufferTruncated, 5, ""},
        {"Body", 64, 0, 1, JET_errSuccess, 20, kLong},
        {"Body", 64, 15, 1, JET_errSuccess, 5, "fghij"},
        {"Body", 4, 10, 1, JET_wrnBufferTruncated, 10, "abcd"},
        {"Body", 64, 20, 1, JET_errSuccess, 0, ""},
        {"Body", 64, 99, 1, JET_errSuccess, 0, ""},
        {"Multi", 4, 0, 2, JET_errSuccess, 4, I32(8)},
        {"Multi", 4, 0, 3, JET_errSuccess, 4, I32(9)},
        {"Multi", 4, 0, 4, JET_wrnColumnNull, 0, ""},
        {"Multi", 4, 0, 0, JET_errBadItagSequence, 0, ""},
        {"Empty", 8, 0, 1, JET_errSuccess, 0, ""},
        {"Count", 4, 0, 1, JET_errSuccess, 4, I32(42)},
        {"Count", 2, 0, 1, JET_errInvalidBufferSize, 4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.column << " size " << c.size << " ib " << c.ibLongValue << " itag "
                                        << c.itag);
        char buffer[64];
        memset(buffer, 0, sizeof(buffer));
        unsigned long actual = 12345;
        JET_RETINFO info = {sizeof(JET_RETINFO), c.ibLongValue, c.itag, 0};
        EXPECT_EQ(c.expected, JetRetrieveColumn(m_session, m_table, m_columns[c.column], buffer, c.size, &actual, 0,
                                                &info));
        if (c.expected >= 0) {
            EXPECT_EQ(c.actual, actual);
            EXPECT_EQ(c.data, std::string(buffer, std::min<unsigned long>(actual, c.size)));
        }
    }
}

TEST_F(EseRetrieve, NullsOfEveryKind)
{
    ASSERT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MoveNext, 0));
    for (const char* column : {"Text", "Body", "Multi", "Count", "Empty"}) {
        SCOPED_TRACE(column);
        unsigned long actual = 99;
        char buffer[8];
        EXPECT_EQ(JET_wrnColumnNull, JetRetrieveColumn(m_session, m_table, m_columns[column], buffer, sizeof(buffer),
                                                       &actual, 0, nullptr));
        EXPECT_EQ(0u, actual);
    }
    EXPECT_EQ(JET_errColumnNotFound,
              JetRetrieveColumn(m_session, m_table, 4000, nullptr, 0, nullptr, 0, nullptr));
}

TEST_F(EseRetrieve, RetrieveColumnsCountsValuesAndReportsEachColumn)
{
    struct Case {
        const char* column;
        unsigned long size;
        unsigned long itag;
        JET_ERR err;
        unsigned long actual;
        unsigned long itagAfter;
    } cases[] = {
        {"Multi", 4, 0, JET_errSuccess, 0, 3},
        {"Text", 4, 0, JET_errSuccess, 0, 1},
        {"Multi", 4, 1, JET_errSuccess, 4, 1},
        {"Text", 2, 1, JET_wrnBufferTruncated, 5, 1},
        {"Body", 0, 1, JET_wrnBufferTruncated, 20, 1},
        {"Multi", 4, 5, JET_wrnColumnNull, 0, 5},
    };
    const size_t count = sizeof(cases) / sizeof(cases[0]);
    std::vector<JET_RETRIEVECOLUMN> records(count);
    std::vector<std::vector<char>> buffers(count);
    for (size_t i = 0; i < count; ++i) {
        buffers[i].assign(cases[i].size + 1, 0);
        records[i] = JET_RETRIEVECOLUMN();
        records[i].columnid = m_columns[cases[i].column];
        records[i].pvData = cases[i].size ? buffers[i].data() : nullptr;
        records[i].cbData = cases[i].size;
        records[i].itagSequence = cases[i].itag;
    }
    EXPECT_EQ(JET_wrnBufferTruncated, JetRetrieveColumns(m_session, m_table, records.data(), count));
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cases[i].err, records[i].err);
        EXPECT_EQ(cases[i].actual, records[i].cbActual);
        EXPECT_EQ(cases[i].itagAfter, records[i].itagSequence);
    }
    EXPECT_EQ(I32(7), std::string(buffers[2].data(), 4));
}

// An escrow counter needs a buffer that holds it: the call fails, yet every
// record tells its size so that the caller can grow its buffers and retry.
TEST_F(EseRetrieve, RetrieveColumnsWithATooSmallEscrowBuffer)
{
    char small[2];
    char text[1];
    JET_RETRIEVECOLUMN records[2] = {};
    records[0].columnid = m_columns["Count"];
    records[0].pvData = small;
    records[0].cbData = sizeof(small);
    records[0].itagSequence = 1;
    records[1].columnid = m_columns["Text"];
    records[1].pvData = text;
    records[1].cbData = sizeof(text);
    records[1].itagSequence = 1;
    EXPECT_EQ(JET_errInvalidBufferSize, JetRetrieveColumns(m_session, m_table, records, 2));
    EXPECT_EQ(JET_errInvalidBufferSize, records[0].err);
    EXPECT_EQ(4u, records[0].cbActual);
    EXPECT_EQ(JET_wrnBufferTruncated, records[1].err);
    EXPECT_EQ(5u, records[1].cbActual);
}

TEST_F(EseRetrieve, NoCurrentRecord)
{
    ASSERT_EQ(JET_errNoCurrentRecord, JetMove(m_session, m_table, JET_MovePrevious, 0));
    JET_RETRIEVECOLUMN record = {};
    record.columnid = m_columns["Id"];
    record.itagSequence = 1;
    EXPECT_EQ(JET_errNoCurrentRecord, JetRetrieveColumns(m_session, m_table, &record, 1));
    EXPECT_EQ(JET_errNoCurrentRecord, record.err);
}

TEST(EseWrite, RollbackUndoesAndNestedCommitsJoinTheOuterTransaction)
{
    esefixture::CTempFolder folder;
    esefixture::CEseWriter writer("");
    writer.CreateDatabase(folder.File("t.edb"));
    writer.CreateTable("T", {ColumnSpec{"Id", JET_coltypLong}, ColumnSpec{"Tags", JET_coltypText, JET_bitColumnMultiValued | JET_bitColumnTagged}},
                       {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary}});
    JET_SESID session = writer.Session();
    JET_TABLEID table = writer.Table("T");
    auto insert = [&](int32_t id) {
        ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepInsert));
        ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, writer.Column("T", "Id"), &id, sizeof(id), 0, nullptr));
        ASSERT_EQ(JET_errSuccess, JetUpdate(session, table, nullptr, 0, nullptr));
    };
    auto count = [&]() {
        unsigned long rows = 0;
        if (JetMove(session, table, JET_MoveFirst, 0) == JET_errSuccess)
            JetIndexRecordCount(session, table, &rows, 0);
        return rows;
    };
    ASSERT_EQ(JET_errSuccess, JetBeginTransaction(session));
    insert(1);
    ASSERT_EQ(JET_errSuccess, JetBeginTransaction(session));
    insert(2);
    ASSERT_EQ(JET_errSuccess, JetCommitTransaction(session, 0));
    EXPECT_EQ(2u, count());
    ASSERT_EQ(JET_errSuccess, JetRollback(session, 0));
    EXPECT_EQ(0u, count());
    EXPECT_EQ(JET_errNotInTransaction, JetCommitTransaction(session, 0));

    insert(3);
    ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepInsert));
    int32_t three = 3;
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, writer.Column("T", "Id"), &three, sizeof(three), 0, nullptr));
    EXPECT_EQ(JET_errKeyDuplicate, JetUpdate(session, table, nullptr, 0, nullptr));
    EXPECT_EQ(JET_errAlreadyPrepared, JetPrepareUpdate(session, table, JET_prepInsert));
    ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepCancel));

    // Multi-valued: append with itagSequence 0, replace and delete by sequence.
    ASSERT_EQ(JET_errSuccess, JetMove(session, table, JET_MoveFirst, 0));
    ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepReplace));
    JET_COLUMNID tags = writer.Column("T", "Tags");
    for (const char* tag : {"a", "b", "c"}) {
        JET_SETINFO info = {sizeof(JET_SETINFO), 0, 0};
        ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, tags, tag, 1, 0, &info));
    }
    JET_SETINFO second = {sizeof(JET_SETINFO), 0, 2};
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, tags, "B", 1, 0, &second));
    JET_SETINFO first = {sizeof(JET_SETINFO), 0, 1};
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, tags, nullptr, 0, 0, &first));
    ASSERT_EQ(JET_errSuccess, JetUpdate(session, table, nullptr, 0, nullptr));
    std::string values;
    for (unsigned long itag = 1;; ++itag) {
        char value[4];
        unsigned long actual = 0;
        JET_RETINFO info = {sizeof(JET_RETINFO), 0, itag, 0};
        if (JetRetrieveColumn(session, table, tags, value, sizeof(value), &actual, 0, &info) != JET_errSuccess)
            break;
        values.append(value, actual);
    }
    EXPECT_EQ("Bc", values);
    writer.Term();
}

TEST(EseWrite, AddColumnCreateIndexAndLongValueUpdates)
{
    esefixture::CTempFolder folder;
    esefixture::CEseWriter writer("");
    writer.CreateDatabase(folder.File("w.edb"));
    JET_SESID session = writer.Session();
    JET_TABLEID table = JET_tableidNil;
    ASSERT_EQ(JET_errSuccess, JetCreateTableA(session, writer.Database(), "Parts", 1, 80, &table));
    EXPECT_EQ(JET_errTableDuplicate, JetCreateTableA(session, writer.Database(), "parts", 1, 80, &table));
    struct NewColumn {
        const char* name;
        JET_COLTYP coltyp;
        JET_GRBIT grbit;
        JET_COLUMNID expectedId;
    } columns[] = {
        {"Group", JET_coltypLong, 0, 1},
        {"Name", JET_coltypText, 0, 128},
        {"Blob", JET_coltypLongBinary, 0, 256},
        {"Rank", JET_coltypShort, JET_bitColumnTagged, 257},
    };
    std::map<std::string, JET_COLUMNID> ids;
    for (const NewColumn& column : columns) {
        JET_COLUMNDEF def = {};
        def.cbStruct = sizeof(def);
        def.coltyp = column.coltyp;
        def.grbit = column.grbit;
        JET_COLUMNID id = 0;
        ASSERT_EQ(JET_errSuccess, JetAddColumnA(session, table, column.name, &def, nullptr, 0, &id));
        EXPECT_EQ(column.expectedId, id) << column.name;
        ids[column.name] = id;
    }
    JET_COLUMNDEF def = {sizeof(JET_COLUMNDEF)};
    def.coltyp = JET_coltypLong;
    JET_COLUMNID duplicate = 0;
    EXPECT_EQ(JET_errColumnDuplicate, JetAddColumnA(session, table, "group", &def, nullptr, 0, &duplicate));
    const char key[] = "+Group\0-Name\0";
    ASSERT_EQ(JET_errSuccess, JetCreateIndexA(session, table, "GroupName", 0, key, sizeof(key), 80));
    EXPECT_EQ(JET_errColumnNotFound, JetCreateIndexA(session, table, "Bad", 0, "+Nope\0", 7, 80));

    struct Row {
        int32_t group;
        const char* name;
    } rows[] = {{2, "b"}, {1, "a"}, {2, "c"}, {1, "d"}};
    for (const Row& row : rows) {
        ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepInsert));
        ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, ids["Group"], &row.group, 4, 0, nullptr));
        ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, ids["Name"], row.name, 1, 0, nullptr));
        EXPECT_EQ(JET_errInvalidBufferSize, JetSetColumn(session, table, ids["Group"], &row.group, 2, 0, nullptr));
        ASSERT_EQ(JET_errSuccess, JetUpdate(session, table, nullptr, 0, nullptr));
    }
    ASSERT_EQ(JET_errSuccess, JetSetCurrentIndexA(session, table, "GroupName"));
    std::string order;
    for (JET_ERR err = JetMove(session, table, JET_MoveFirst, 0); err == JET_errSuccess;
         err = JetMove(session, table, JET_MoveNext, 0))
        order += esetest::RetrieveBytes(session, table, ids["Name"]);
    EXPECT_EQ("dacb", order);  // group ascending, then name descending

    // Long values: set, append, overwrite inside, then read at an offset.
    ASSERT_EQ(JET_errSuccess, JetMove(session, table, JET_MoveFirst, 0));
    ASSERT_EQ(JET_errSuccess, JetPrepareUpdate(session, table, JET_prepReplace));
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, ids["Blob"], "hello", 5, 0, nullptr));
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, ids["Blob"], " world", 6, JET_bitSetAppendLV, nullptr));
    JET_SETINFO at = {sizeof(JET_SETINFO), 1, 1};
    ASSERT_EQ(JET_errSuccess, JetSetColumn(session, table, ids["Blob"], "E", 1, JET_bitSetOverwriteLV, &at));
    char copy[32] = {};
    unsigned long actual = 0;
    EXPECT_EQ(JET_errSuccess,
              JetRetrieveColumn(session, table, ids["Blob"], copy, sizeof(copy), &actual, JET_bitRetrieveCopy, nullptr));
    EXPECT_EQ("hEllo world", std::string(copy, actual));
    ASSERT_EQ(JET_errSuccess, JetUpdate(session, table, nullptr, 0, nullptr));
    char tail[32] = {};
    JET_RETINFO from = {sizeof(JET_RETINFO), 6, 1, 0};
    EXPECT_EQ(JET_errSuccess, JetRetrieveColumn(session, table, ids["Blob"], tail, sizeof(tail), &actual, 0, &from));
    EXPECT_EQ("world", std::string(tail, actual));
    writer.Term();
}

// An index once read keeps following the table: each step changes records
// after the entries exist, and the order read through the index afterwards
// must match what a fresh build would give.
TEST(EseWrite, IndexesFollowReplacesDeletesAndRollbacks)
{
    esefixture::CTempFolder folder;
    esefixture::CEseWriter writer("");
    writer.CreateDatabase(folder.File("i.edb"));
    writer.CreateTable("T", {ColumnSpec{"Id", JET_coltypLong}, ColumnSpec{"Name", JET_coltypText}},
                       {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary},
                        IndexSpec{"ByName", "-Name", JET_bitIndexUnique | JET_bitIndexIgnoreNull}});
    JET_SESID session = writer.Session();
    JET_TABLEID table = writer.Table("T");
    JET_COLUMNID idColumn = writer.Column("T", "Id");
    JET_COLUMNID nameColumn = writer.Column("T", "Name");
    auto put = [&](unsigned long prep, int32_t id, const char* name) {
        JET_ERR err = JetPrepareUpdate(session, table, prep);
        if (err < 0)
            return err;
        if (prep == JET_prepInsert)
            JetSetColumn(session, table, idColumn, &id, sizeof(id), 0, nullptr);
        JetSetColumn(session, table, nameColumn, name, name ? static_cast<unsigned long>(strlen(name)) : 0, 0,
                     nullptr);
        err = JetUpdate(session, table, nullptr, 0, nullptr);
        if (err < 0)
            JetPrepareUpdate(session, table, JET_prepCancel);
        return err;
    };
    auto seekId = [&](int32_t id) {
        JetSetCurrentIndexA(session, table, "Primary");
        JetMakeKey(session, table, &id, sizeof(id), JET_bitNewKey);
        return JetSeek(session, table, JET_bitSeekEQ);
    };
    // The names through "ByName" (descending), then the ids through "Primary".
    auto order = [&]() {
        std::string names;
        JetSetCurrentIndexA(session, table, "ByName");
        for (JET_ERR err = JetMove(session, table, JET_MoveFirst, 0); err == JET_errSuccess;
             err = JetMove(session, table, JET_MoveNext, 0))
            names += esetest::RetrieveBytes(session, table, nameColumn);
        names += "|";
        JetSetCurrentIndexA(session, table, "Primary");
        for (JET_ERR err = JetMove(session, table, JET_MoveFirst, 0); err == JET_errSuccess;
             err = JetMove(session, table, JET_MoveNext, 0))
            names += std::to_string(esetest::RetrieveI64(session, table, idColumn) & 0xFFFFFFFF);
        return names;
    };
    for (int32_t id = 1; id <= 4; ++id)
        ASSERT_EQ(JET_errSuccess, put(JET_prepInsert, id, std::string(1, static_cast<char>('a' + id - 1)).c_str()));
    EXPECT_EQ("dcba|1234", order());

    struct Step {
        const char* what;
        std::function<JET_ERR()> change;
        JET_ERR result;
        const char* expected;
    } steps[] = {
        {"a key moves", [&] { seekId(1); return put(JET_prepReplace, 0, "z"); }, JET_errSuccess, "zdcb|1234"},
        {"a duplicate is refused", [&] { seekId(2); return put(JET_prepReplace, 0, "Z"); }, JET_errKeyDuplicate,
         "zdcb|1234"},
        {"a null leaves the index", [&] { seekId(3); return put(JET_prepReplace, 0, nullptr); }, JET_errSuccess,
         "zdb|1234"},
        {"a delete", [&] { seekId(4); return JetDelete(session, table); }, JET_errSuccess, "zb|123"},
        {"a freed key is free", [&] { return put(JET_prepInsert, 9, "d"); }, JET_errSuccess, "zdb|1239"},
        {"a rolled back insert and change",
         [&] {
             JetBeginTransaction(session);
             put(JET_prepInsert, 5, "m");
             seekId(2);
             put(JET_prepReplace, 0, "y");
             return JetRollback(session, 0);
         },
         JET_errSuccess, "zdb|1239"},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(step.result, step.change()) << step.what;
        EXPECT_EQ(step.expected, order()) << step.what;
    }
    writer.Term();
}

} // namespace
