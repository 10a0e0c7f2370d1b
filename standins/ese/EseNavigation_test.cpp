// Seeks, index ranges and moves, as an ESE client sees them.
#include "EseTestSupport.h"

#include <vector>

using esefixture::ColumnSpec;
using esefixture::I64;
using esefixture::IndexSpec;

namespace {

// Table "Items": Id (primary), Parent, Name. Parents: 10 10 20 20 20 40.
class EseNavigation : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_folder = new esefixture::CTempFolder();
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(Db());
        writer.CreateTable("Items",
                           {ColumnSpec{"Id", JET_coltypCurrency}, ColumnSpec{"Parent", JET_coltypCurrency},
                            ColumnSpec{"Name", JET_coltypText, 0, 255}},
                           {IndexSpec{"IdIndex", "+Id", JET_bitIndexPrimary},
                            IndexSpec{"ParentIndex", "+Parent;+Id"}, IndexSpec{"NameDesc", "-Name"}});
        const int64_t parents[] = {10, 10, 20, 20, 20, 40};
        const char* names[] = {"alpha", "Bravo", "charlie", "delta", "Echo", "foxtrot"};
        for (int i = 0; i < 6; ++i)
            writer.Insert("Items", {{"Id", {I64(i + 1)}}, {"Parent", {I64(parents[i])}}, {"Name", {names[i]}}});
        writer.CreateTable("Empty", {ColumnSpec{"Id", JET_coltypLong}}, {IndexSpec{"Primary", "+Id", JET_bitIndexPrimary}});
        writer.Term();
    }
    static void TearDownTestSuite() { delete s_folder; }
    static std::string Db() { return s_folder->File("nav.edb"); }

    void SetUp() override
    {
        m_reader.reset(new esetest::CReadSession(Db()));
        ASSERT_EQ(JET_errSuccess, m_reader->AttachResult());
        m_table = m_reader->Open("Items");
        m_session = m_reader->Session();
        JET_COLUMNDEF def = {};
        def.cbStruct = sizeof(def);
        ASSERT_EQ(0, JetGetTableColumnInfoA(m_session, m_table, "Id", &def, sizeof(def), JET_ColInfo));
        m_id = def.columnid;
    }

    int64_t CurrentId() { return esetest::RetrieveI64(m_session, m_table, m_id); }

    JET_ERR MakeKey(int64_t value, JET_GRBIT grbit)
    {
        return JetMakeKey(m_session, m_table, &value, sizeof(value), grbit);
    }

    // The ids from the current row on, moving next until the move fails.
    std::vector<int64_t> RestIds()
    {
        std::vector<int64_t> ids;
        do {
            ids.push_back(CurrentId());
        } while (JetMove(m_session, m_table, JET_MoveNext, 0) == JET_errSuccess);
        return ids;
    }

    static esefixture::CTempFolder* s_folder;
    std::unique_ptr<esetest::CReadSession> m_reader;
    JET_SESID m_session = 0;
    JET_TABLEID m_table = 0;
    JET_COLUMNID m_id = 0;
};

esefixture::CTempFolder* EseNavigation::s_folder = nullptr;

TEST_F(EseNavigation, MovesInPrimaryOrderAndReportsTheEnds)
{
    struct Step {
        long rows;
        JET_ERR expected;
        int64_t idAfter;  // 0: no current record
    } steps[] = {
        {JET_MovePrevious, JET_errNoCurrentRecord, 0},  // before the first row
        {static_cast<long>(JET_MoveFirst), JET_errSuccess, 1},
        {JET_MovePrevious, JET_errNoCurrentRecord, 0},
        {JET_MoveNext, JET_errSuccess, 1},
        {2, JET_errSuccess, 3},
        {JET_MoveLast, JET_errSuccess, 6},
        {JET_MoveNext, JET_errNoCurrentRecord, 0},
        {JET_MoveNext, JET_errNoCurrentRecord, 0},
        {JET_MovePrevious, JET_errSuccess, 6},
        {-3, JET_errSuccess, 3},
        {-5, JET_errNoCurrentRecord, 0},
        {JET_MoveNext, JET_errSuccess, 1},
        {10, JET_errNoCurrentRecord, 0},
        {0, JET_errNoCurrentRecord, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.rows);
        EXPECT_EQ(step.expected, JetMove(m_session, m_table, step.rows, 0));
        if (step.idAfter) {
            EXPECT_EQ(step.idAfter, CurrentId());
        } else {
            EXPECT_EQ(JET_errNoCurrentRecord,
                      JetRetrieveColumn(m_session, m_table, m_id, nullptr, 0, nullptr, 0, nullptr));
        }
    }
}

TEST_F(EseNavigation, EmptyTableHasNoFirstRow)
{
    JET_TABLEID empty = m_reader->Open("Empty");
    EXPECT_EQ(JET_errNoCurrentRecord, JetMove(m_session, empty, JET_MoveFirst, 0));
    EXPECT_EQ(JET_errNoCurrentRecord, JetMove(m_session, empty, JET_MoveLast, 0));
    EXPECT_EQ(JET_errNoCurrentRecord, JetMove(m_session, empty, JET_MoveNext, 0));
    unsigned long count = 99;
    EXPECT_EQ(JET_errSuccess, JetIndexRecordCount(m_session, empty, &count, 0));
    EXPECT_EQ(0u, count);
}

TEST_F(EseNavigation, SeeksOnThePrimaryIndex)
{
    struct Case {
        int64_t key;
        JET_GRBIT grbit;
        JET_ERR expected;
        int64_t id;
    } cases[] = {
        {3, JET_bitSeekEQ, JET_errSuccess, 3},
        {7, JET_bitSeekEQ, JET_errRecordNotFound, 0},
        {0, JET_bitSeekEQ, JET_errRecordNotFound, 0},
        {3, JET_bitSeekGE, JET_errSuccess, 3},
        {0, JET_bitSeekGE, JET_wrnSeekNotEqual, 1},
        {7, JET_bitSeekGE, JET_errRecordNotFound, 0},
        {3, JET_bitSeekGT, JET_errSuccess, 4},
        {6, JET_bitSeekGT, JET_errRecordNotFound, 0},
        {3, JET_bitSeekLE, JET_errSuccess, 3},
        {9, JET_bitSeekLE, JET_wrnSeekNotEqual, 6},
        {1, JET_bitSeekLT, JET_errRecordNotFound, 0},
        {3, JET_bitSeekLT, JET_errSuccess, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << c.key << " grbit " << c.grbit);
        ASSERT_EQ(JET_errSuccess, MakeKey(c.key, JET_bitNewKey));
        EXPECT_EQ(c.expected, JetSeek(m_session, m_table, c.grbit));
        if (c.id) {
            EXPECT_EQ(c.id, CurrentId());
        }
    }
}

TEST_F(EseNavigation, SeekNeedsAKeyAndAnIndex)
{
    EXPECT_EQ(JET_errKeyNotMade, JetSeek(m_session, m_table, JET_bitSeekEQ));
    int64_t value = 1;
    EXPECT_EQ(JET_errKeyNotMade, JetMakeKey(m_session, m_table, &value, sizeof(value), 0));
    ASSERT_EQ(JET_errSuccess, MakeKey(1, JET_bitNewKey));
    EXPECT_EQ(JET_errKeyIsMade, MakeKey(1, 0));  // the primary index has one segment
    EXPECT_EQ(JET_errIndexNotFound, JetSetCurrentIndexA(m_session, m_table, "NoSuchIndex"));
    JET_TABLEID table = JET_tableidNil;
    EXPECT_EQ(JET_errObjectNotFound,
              JetOpenTableA(m_session, m_reader->Database(), "NoSuchTable", nullptr, 0, 0, &table));
}

// The server's range: a partial start limit, SeekGE, a partial end limit on
// the same key, then an inclusive upper range.
TEST_F(EseNavigation, RangeOverTheFirstSegmentOfASecondaryIndex)
{
    struct Case {
        int64_t parent;
        JET_ERR seek;
        JET_ERR range;
        std::vector<int64_t> ids;
    } cases[] = {
        {10, JET_errSuccess, JET_errSuccess, {1, 2}},
        {20, JET_errSuccess, JET_errSuccess, {3, 4, 5}},
        {40, JET_errSuccess, JET_errSuccess, {6}},
        {30, JET_wrnSeekNotEqual, JET_errNoCurrentRecord, {}},  // lands on 40, outside the range
        {5, JET_wrnSeekNotEqual, JET_errNoCurrentRecord, {}},
        {50, JET_errRecordNotFound, JET_errNoCurrentRecord, {}},
    };
    ASSERT_EQ(JET_errSuccess, JetSetCurrentIndexA(m_session, m_table, "ParentIndex"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parent);
        ASSERT_EQ(JET_errSuccess, MakeKey(c.parent, JET_bitNewKey | JET_bitPartialColumnStartLimit));
        EXPECT_EQ(c.seek, JetSeek(m_session, m_table, JET_bitSeekGE));
        ASSERT_EQ(JET_errSuccess, MakeKey(c.parent, JET_bitNewKey | JET_bitPartialColumnEndLimit));
        EXPECT_EQ(c.range, JetSetIndexRange(m_session, m_table, JET_bitRangeInclusive | JET_bitRangeUpperLimit));
        if (c.range != JET_errSuccess)
            continue;
        unsigned long count = 0;
        EXPECT_EQ(JET_errSuccess, JetIndexRecordCount(m_session, m_table, &count, 0));
        EXPECT_EQ(c.ids.size(), count);
        EXPECT_EQ(c.ids, RestIds());
        // Past the range's end the cursor stays just beyond it.
        EXPECT_EQ(JET_errNoCurrentRecord, JetMove(m_session, m_table, JET_MoveNext, 0));
        EXPECT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MovePrevious, 0));
        EXPECT_EQ(c.ids.back(), CurrentId());
    }
}

TEST_F(EseNavigation, MoveFirstAndSeekCancelTheRange)
{
    ASSERT_EQ(JET_errSuccess, JetSetCurrentIndexA(m_session, m_table, "ParentIndex"));
    ASSERT_EQ(JET_errSuccess, MakeKey(10, JET_bitNewKey));
    ASSERT_EQ(JET_errSuccess, JetSeek(m_session, m_table, JET_bitSeekEQ | JET_bitSetIndexRange));
    EXPECT_EQ((std::vector<int64_t>{1, 2}), RestIds());
    ASSERT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MoveFirst, 0));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4, 5, 6}), RestIds());
}

TEST_F(EseNavigation, ExactSeekOnTheFirstSegmentFindsTheFirstOfItsRows)
{
    ASSERT_EQ(JET_errSuccess, JetSetCurrentIndexA(m_session, m_table, "ParentIndex"));
    ASSERT_EQ(JET_errSuccess, MakeKey(20, JET_bitNewKey));
    ASSERT_EQ(JET_errSuccess, JetSeek(m_session, m_table, JET_bitSeekEQ));
    EXPECT_EQ(3, CurrentId());
    ASSERT_EQ(JET_errSuccess, MakeKey(30, JET_bitNewKey));
    EXPECT_EQ(JET_errRecordNotFound, JetSeek(m_session, m_table, JET_bitSeekEQ));
    // After a failed seek the cursor stands where the key would be.
    EXPECT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MoveNext, 0));
    EXPECT_EQ(6, CurrentId());
}

TEST_F(EseNavigation, DescendingTextIndexIgnoresCase)
{
    ASSERT_EQ(JET_errSuccess, JetSetCurrentIndexA(m_session, m_table, "NameDesc"));
    EXPECT_EQ(6, CurrentId());  // setting an index stands on its first entry
    EXPECT_EQ((std::vector<int64_t>{6, 5, 4, 3, 2, 1}), RestIds());
    ASSERT_EQ(JET_errSuccess, JetMakeKey(m_session, m_table, "ECHO", 4, JET_bitNewKey));
    ASSERT_EQ(JET_errSuccess, JetSeek(m_session, m_table, JET_bitSeekEQ));
    EXPECT_EQ(5, CurrentId());
    // Prefix "C": a partial key; on a descending index the end limit is the lower names.
    ASSERT_EQ(JET_errSuccess, JetMakeKey(m_session, m_table, "c", 1, JET_bitNewKey | JET_bitPartialColumnStartLimit));
    EXPECT_EQ(JET_errSuccess, JetSeek(m_session, m_table, JET_bitSeekGE));
    EXPECT_EQ(3, CurrentId());
}

TEST_F(EseNavigation, IndexRecordCountHonoursTheMaximum)
{
    ASSERT_EQ(JET_errSuccess, JetMove(m_session, m_table, JET_MoveFirst, 0));
    unsigned long count = 0;
    EXPECT_EQ(JET_errSuccess, JetIndexRecordCount(m_session, m_table, &count, 0));
    EXPECT_EQ(6u, count);
    EXPECT_EQ(JET_errSuccess, JetIndexRecordCount(m_session, m_table, &count, 4));
    EXPECT_EQ(4u, count);
    ASSERT_EQ(JET_errSuccess, JetMove(m_session, m_table, 4, 0));
    EXPECT_EQ(JET_errSuccess, JetIndexRecordCount(m_session, m_table, &count, 0));
    EXPECT_EQ(2u, count);
}

} // namespace
