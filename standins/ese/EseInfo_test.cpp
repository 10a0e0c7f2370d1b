// Column and index lists: temporary tables the caller walks.
#include "EseTestSupport.h"

#include <vector>

// mingw-w64's <esent.h> maps this W name to the A function by mistake.
#undef JetGetTableColumnInfoW

using esefixture::ColumnSpec;
using esefixture::IndexSpec;

namespace {

struct ListedColumn {
    std::string name;
    JET_COLUMNID columnid;
    JET_COLTYP coltyp;
    unsigned short cp;
    bool operator==(const ListedColumn& other) const
    {
        return name == other.name && columnid == other.columnid && coltyp == other.coltyp && cp == other.cp;
    }
};

struct ListedSegment {
    std::string index;
    unsigned long segmentCount;
    unsigned long segment;
    std::string column;
    JET_GRBIT direction;
    bool operator==(const ListedSegment& other) const
    {
        return index == other.index && segmentCount == other.segmentCount && segment == other.segment &&
               column == other.column && direction == other.direction;
    }
};

class EseInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        esefixture::CEseWriter writer("");
        writer.CreateDatabase(m_folder.File("info.edb"));
        writer.CreateTable("Folders",
                           {ColumnSpec{"Q6748", JET_coltypCurrency}, ColumnSpec{"S3001", JET_coltypLongText, 0, 0, 1200},
                            ColumnSpec{"Q6749", JET_coltypCurrency}, ColumnSpec{"MB1234", JET_coltypBinary, JET_bitColumnMultiValued | JET_bitColumnTagged},
                            ColumnSpec{"L3602", JET_coltypLong}, ColumnSpec{"T3007", JET_coltypDateTime}},
                           {IndexSpec{"FoldersIndex1", "+Q6748", JET_bitIndexPrimary},
                            IndexSpec{"FoldersIndex2", "+Q6749;-T3007;+Q6748"}});
        writer.Term();
        m_reader.reset(new esetest::CReadSession(m_folder.File("info.edb")));
        ASSERT_EQ(JET_errSuccess, m_reader->AttachResult());
        m_session = m_reader->Session();
        m_table = m_reader->Open("Folders");
    }

    std::string Text(JET_TABLEID table, JET_COLUMNID column)
    {
        return esetest::RetrieveBytes(m_session, table, column);
    }
    unsigned long Number(JET_TABLEID table, JET_COLUMNID column)
    {
        unsigned long value = 0;
        unsigned long actual = 0;
        EXPECT_GE(JetRetrieveColumn(m_session, table, column, &value, sizeof(value), &actual, 0, nullptr), 0);
        return actual == 2 ? (value & 0xFFFF) : value;
    }

    esefixture::CTempFolder m_folder;
    std::unique_ptr<esetest::CReadSession> m_reader;
    JET_SESID m_session = 0;
    JET_TABLEID m_table = 0;
};

TEST_F(EseInfo, ColumnListIsATemporaryTableSortedByName)
{
    JET_COLUMNLIST list = {};
    list.cbStruct = sizeof(list);
    // ESE's layout of each build: 68 bytes on 32-bit Windows, 80 on x64.
    ASSERT_EQ(sizeof(void*) == 8 ? 80u : 68u, sizeof(list));
    ASSERT_EQ(JET_errSuccess, JetGetTableColumnInfoA(m_session, m_table, nullptr, &list, sizeof(list), JET_ColInfoList));
    EXPECT_EQ(6u, list.cRecord);
    std::vector<ListedColumn> listed;
    for (JET_ERR err = JetMove(m_session, list.tableid, JET_MoveFirst, 0); err == JET_errSuccess;
         err = JetMove(m_session, list.tableid, JET_MoveNext, 0)) {
        listed.push_back(ListedColumn{Text(list.tableid, list.columnidcolumnname),
                                      Number(list.tableid, list.columnidcolumnid),
                                      static_cast<JET_COLTYP>(Number(list.tableid, list.columnidcoltyp)),
                                      static_cast<unsigned short>(Number(list.tableid, list.columnidCp))});
    }
    // Fixed columns from 1, tagged ones (long values, multi-valued) from 256.
    std::vector<ListedColumn> expected = {
        {"L3602", 3, JET_coltypLong, 0},      {"MB1234", 257, JET_coltypBinary, 0},
        {"Q6748", 1, JET_coltypCurrency, 0},  {"Q6749", 2, JET_coltypCurrency, 0},
        {"S3001", 256, JET_coltypLongText, 1200}, {"T3007", 4, JET_coltypDateTime, 0},
    };
    EXPECT_EQ(expected, listed) << "listed " << listed.size();
    EXPECT_EQ(JET_errSuccess, JetCloseTable(m_session, list.tableid));
    EXPECT_EQ(JET_errInvalidTableId, JetMove(m_session, list.tableid, JET_MoveFirst, 0));
}

TEST_F(EseInfo, ColumnListSortedByColumnIdAndSingleColumns)
{
    JET_COLUMNLIST list = {};
    list.cbStruct = sizeof(list);
    ASSERT_EQ(JET_errSuccess, JetGetTableColumnInfoA(m_session, m_table, nullptr, &list, sizeof(list),
                                                      JET_ColInfoListSortColumnid));
    std::vector<unsigned long> ids;
    for (JET_ERR err = JetMove(m_session, list.tableid, JET_MoveFirst, 0); err == JET_errSuccess;
         err = JetMove(m_session, list.tableid, JET_MoveNext, 0))
        ids.push_back(Number(list.tableid, list.columnidcolumnid));
    EXPECT_EQ((std::vector<unsigned long>{1, 2, 3, 4, 256, 257}), ids);
    JetCloseTable(m_session, list.tableid);

    JET_COLUMNDEF def = {};
    def.cbStruct = sizeof(def);
    EXPECT_EQ(JET_errSuccess, JetGetTableColumnInfoA(m_session, m_table, "s3001", &def, sizeof(def), JET_ColInfo));
    EXPECT_EQ(256u, def.columnid);
    EXPECT_EQ(JET_errColumnNotFound,
              JetGetTableColumnInfoA(m_session, m_table, "Nothing", &def, sizeof(def), JET_ColInfo));
    EXPECT_EQ(JET_errInvalidParameter,
              JetGetTableColumnInfoA(m_session, m_table, nullptr, &list, sizeof(list) - 4, JET_ColInfoList));
}

TEST_F(EseInfo, IndexListHasOneRowPerKeySegment)
{
    JET_INDEXLIST list = {};
    list.cbStruct = sizeof(list);
    ASSERT_EQ(JET_errSuccess, JetGetTableIndexInfoA(m_session, m_table, nullptr, &list, sizeof(list), JET_IdxInfoList));
    EXPECT_EQ(4u, list.cRecord);
    std::vector<ListedSegment> listed;
    for (JET_ERR err = JetMove(m_session, list.tableid, JET_MoveFirst, 0); err == JET_errSuccess;
         err = JetMove(m_session, list.tableid, JET_MoveNext, 0)) {
        listed.push_back(ListedSegment{Text(list.tableid, list.columnidindexname),
                                       Number(list.tableid, list.columnidcColumn),
                                       Number(list.tableid, list.columnidiColumn),
                                       Text(list.tableid, list.columnidcolumnname),
                                       Number(list.tableid, list.columnidgrbitColumn)});
        EXPECT_EQ(Number(list.tableid, list.columnidcolumnid) == 1 ? std::string("Q6748") : listed.back().column,
                  listed.back().column);
    }
    std::vector<ListedSegment> expected = {
        {"FoldersIndex1", 1, 0, "Q6748", JET_bitKeyAscending},
        {"FoldersIndex2", 3, 0, "Q6749", JET_bitKeyAscending},
        {"FoldersIndex2", 3, 1, "T3007", JET_bitKeyDescending},
        {"FoldersIndex2", 3, 2, "Q6748", JET_bitKeyAscending},
    };
    EXPECT_EQ(expected, listed);
    JetCloseTable(m_session, list.tableid);

    ASSERT_EQ(JET_errSuccess,
              JetGetTableIndexInfoA(m_session, m_table, "FoldersIndex2", &list, sizeof(list), JET_IdxInfo));
    EXPECT_EQ(3u, list.cRecord);
    JetCloseTable(m_session, list.tableid);
    unsigned long count = 0;
    EXPECT_EQ(JET_errSuccess, JetGetTableIndexInfoA(m_session, m_table, nullptr, &count, sizeof(count), JET_IdxInfoCount));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(JET_errIndexNotFound,
              JetGetTableIndexInfoA(m_session, m_table, "NoIndex", &list, sizeof(list), JET_IdxInfoList));
}

TEST_F(EseInfo, WideVariantsListNamesInUtf16)
{
    JET_COLUMNLIST list = {};
    list.cbStruct = sizeof(list);
    ASSERT_EQ(JET_errSuccess, JetGetTableColumnInfoW(m_session, m_table, nullptr, &list, sizeof(list), JET_ColInfoList));
    ASSERT_EQ(JET_errSuccess, JetMove(m_session, list.tableid, JET_MoveFirst, 0));
    EXPECT_EQ(esefixture::Utf16(L"L3602"), Text(list.tableid, list.columnidcolumnname));
    JetCloseTable(m_session, list.tableid);
    EXPECT_EQ(JET_errSuccess, JetSetCurrentIndexW(m_session, m_table, L"FoldersIndex2"));
}

} // namespace
