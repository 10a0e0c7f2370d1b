// Restriction and sort cases against a small table of known rows, through
// CreateTable / HrGetView / Restrict / SortTable as a client uses them.
#include "MapiStandin.h"
#include "MapiTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using mapitest::CRestrictionBuilder;
using mapitest::CValueStore;
using mapitest::kIdTag;

// MAPI declares the validators in mapival.h, which this code does not use.
extern "C" ULONG WINAPI FBadRestriction(LPSRestriction lpres);

namespace {

constexpr ULONG kSubject = PR_SUBJECT_W;
constexpr ULONG kSubjectA = PR_SUBJECT_A;
constexpr ULONG kImportance = PROP_TAG(PT_LONG, 0x6701);
constexpr ULONG kLimit = PROP_TAG(PT_LONG, 0x6702);
constexpr ULONG kFlags = PROP_TAG(PT_LONG, 0x6703);
constexpr ULONG kScore = PROP_TAG(PT_DOUBLE, 0x6704);
constexpr ULONG kBig = PROP_TAG(PT_I8, 0x6705);
constexpr ULONG kFlag = PROP_TAG(PT_BOOLEAN, 0x6706);
constexpr ULONG kData = PROP_TAG(PT_BINARY, 0x6707);
constexpr ULONG kCats = PROP_TAG(PT_MV_UNICODE, 0x6708);
constexpr ULONG kNums = PROP_TAG(PT_MV_LONG, 0x6709);
constexpr ULONG kName = PROP_TAG(PT_STRING8, 0x670A);
constexpr ULONG kTime = PROP_TAG(PT_SYSTIME, 0x670B);
constexpr ULONG kMoney = PROP_TAG(PT_CURRENCY, 0x670C);
constexpr ULONG kShort = PROP_TAG(PT_I2, 0x670D);
constexpr ULONG kReal = PROP_TAG(PT_R4, 0x670E);
constexpr ULONG kGuid = PROP_TAG(PT_CLSID, 0x670F);

const GUID kGuid1 = {0x11111111, 0x1111, 0x1111, {1, 1, 1, 1, 1, 1, 1, 1}};
const GUID kGuid2 = {0x22222222, 0x2222, 0x2222, {2, 2, 2, 2, 2, 2, 2, 2}};

using RowIds = std::vector<LONG>;

class RestrictionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SizedSPropTagArray(2, columns) = {2, {PR_INSTANCE_KEY, kIdTag}};
        ASSERT_EQ(S_OK, CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                                    TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                                    &m_data));
        CValueStore& v = m_values;
        // id 0..5; missing values are simply left out, row 3 holds errors.
        AddRow(0, {v.Wide(kSubject, L"Hello World"), v.Long(kImportance, 1), v.Long(kLimit, 1), v.Long(kFlags, 0x05),
                   v.Double(kScore, 1.5), v.I8(kBig, 10), v.Bool(kFlag, true), v.Binary(kData, {1, 2}),
                   v.WideList(kCats, {L"red", L"blue"}), v.LongList(kNums, {1, 2}), v.Ansi(kName, "alpha"),
                   v.Time(kTime, 100), v.Currency(kMoney, 5), v.Short(kShort, 3), v.Float(kReal, 0.5f),
                   v.Guid(kGuid, kGuid1)});
        AddRow(1, {v.Wide(kSubject, L"hello"), v.Long(kImportance, 2), v.Long(kLimit, 5), v.Long(kFlags, 0x02),
                   v.Double(kScore, -2.0), v.I8(kBig, -1), v.Bool(kFlag, false), v.Binary(kData, {1}),
                   v.WideList(kCats, {L"green"}), v.LongList(kNums, {5}), v.Ansi(kName, "Beta"), v.Time(kTime, 200),
                   v.Currency(kMoney, -5), v.Short(kShort, -3), v.Float(kReal, 1.5f), v.Guid(kGuid, kGuid2)});
        AddRow(2, {v.Wide(kSubject, L"\u00C4rger im B\u00FCro"), v.Long(kImportance, 0), v.Long(kLimit, 0),
                   v.Long(kFlags, 0), v.Double(kScore, 0.0), v.I8(kBig, 1ll << 40), v.Binary(kData, {2, 0, 1}),
                   v.WideList(kCats, {}), v.Ansi(kName, "gamma"), v.Time(kTime, 50), v.Currency(kMoney, 0),
                   v.Short(kShort, 0), v.Float(kReal, -1.0f), v.Guid(kGuid, kGuid1)});
        AddRow(3, {v.Error(PROP_ID(kSubject), MAPI_E_NOT_FOUND), v.Long(kImportance, 2), v.Long(kFlags, 0x04),
                   v.Error(PROP_ID(kScore), MAPI_E_NOT_ENOUGH_MEMORY)});
        // Row 4 holds a null importance: it behaves as a missing one.
        SPropValue nullImportance{};
        nullImportance.ulPropTag = PROP_TAG(PT_NULL, PROP_ID(kImportance));
        AddRow(4, {v.Wide(kSubject, L"Zebra"), v.Double(kScore, 1e10), nullImportance});
        AddRow(5, {v.Wide(kSubject, L"r\u00E9sum\u00E9"), v.Long(kImportance, -5), v.Double(kScore, -0.5)});
        ASSERT_EQ(S_OK, m_data->HrGetView(nullptr, nullptr, 0, &m_view));
    }

    void TearDown() override
    {
        if (m_view)
            m_view->Release();
        if (m_data)
            m_data->Release();
    }

    void AddRow(LONG id, std::vector<SPropValue> props)
    {
        m_keys.push_back(id);
        SPropValue key{};
        key.ulPropTag = PR_INSTANCE_KEY;
        key.Value.bin.cb = sizeof(LONG);
        key.Value.bin.lpb = reinterpret_cast<LPBYTE>(&m_keys.back());
        props.push_back(key);
        props.push_back(m_values.Long(kIdTag, id));
        SRow row{0, static_cast<ULONG>(props.size()), props.data()};
        ASSERT_EQ(S_OK, m_data->HrInsertRow(static_cast<ULONG>(m_keys.size() - 1), &row));
    }

    // Ids of the rows the view shows, in view order.
    RowIds ShownIds()
    {
        RowIds ids;
        EXPECT_EQ(S_OK, m_view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, m_view->QueryRows(100, 0, &rows));
        if (!rows)
            return ids;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* id = PpropFindProp(rows->aRow[i].lpProps, rows->aRow[i].cValues, kIdTag);
            ids.push_back(id ? id->Value.l : -1);
        }
        FreeProws(rows);
        return ids;
    }

    RowIds Matching(SRestriction* restriction)
    {
        EXPECT_EQ(S_OK, m_view->Restrict(restriction, 0));
        RowIds ids = ShownIds();
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    ITableData* m_data = nullptr;
    IMAPITable* m_view = nullptr;
    CValueStore m_values;
    std::deque<LONG> m_keys;
};

struct RestrictionCase {
    const char* name;
    std::function<SRestriction*(CRestrictionBuilder&, CValueStore&)> build;
    RowIds expected;
};

TEST_F(RestrictionTest, EachCaseSelectsTheExpectedRows)
{
    const ULONG subSub = FL_SUBSTRING;
    const std::vector<RestrictionCase> cases = {
        // Property tests, every relop, on long values; the row without the
        // property never matches, not even for RELOP_NE.
        {"long eq", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 2)); }, {1, 3}},
        {"long ne", [](auto& b, auto& v) { return b.Property(RELOP_NE, kImportance, v.Long(kImportance, 2)); }, {0, 2, 5}},
        {"long lt", [](auto& b, auto& v) { return b.Property(RELOP_LT, kImportance, v.Long(kImportance, 1)); }, {2, 5}},
        {"long le", [](auto& b, auto& v) { return b.Property(RELOP_LE, kImportance, v.Long(kImportance, 1)); }, {0, 2, 5}},
        {"long gt", [](auto& b, auto& v) { return b.Property(RELOP_GT, kImportance, v.Long(kImportance, 0)); }, {0, 1, 3}},
        {"long ge", [](auto& b, auto& v) { return b.Property(RELOP_GE, kImportance, v.Long(kImportance, 2)); }, {1, 3}},
        // Strings: locale order with case counting, 8-bit meets Unicode, error values are missing.
        {"unicode eq", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kSubject, v.Wide(kSubject, L"hello")); }, {1}},
        {"unicode eq keeps case", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kSubject, v.Wide(kSubject, L"HELLO")); }, {}},
        {"unicode gt in locale order", [](auto& b, auto& v) { return b.Property(RELOP_GT, kSubject, v.Wide(kSubject, L"H")); }, {0, 1, 4, 5}},
        {"8-bit value against unicode column", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kSubject, v.Ansi(kSubjectA, "hello")); }, {1}},
        {"8-bit column", [](auto& b, auto& v) { return b.Property(RELOP_LT, kName, v.Ansi(kName, "B")); }, {0}},
        {"double lt", [](auto& b, auto& v) { return b.Property(RELOP_LT, kScore, v.Double(kScore, 0.0)); }, {1, 5}},
        {"i8 ge", [](auto& b, auto& v) { return b.Property(RELOP_GE, kBig, v.I8(kBig, 10)); }, {0, 2}},
        {"boolean eq", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kFlag, v.Bool(kFlag, true)); }, {0}},
        {"boolean ne", [](auto& b, auto& v) { return b.Property(RELOP_NE, kFlag, v.Bool(kFlag, true)); }, {1}},
        {"binary eq", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kData, v.Binary(kData, {1})); }, {1}},
        {"binary orders by length first", [](auto& b, auto& v) { return b.Property(RELOP_GT, kData, v.Binary(kData, {9, 9})); }, {2}},
        {"systime lt", [](auto& b, auto& v) { return b.Property(RELOP_LT, kTime, v.Time(kTime, 150)); }, {0, 2}},
        {"currency gt", [](auto& b, auto& v) { return b.Property(RELOP_GT, kMoney, v.Currency(kMoney, 0)); }, {0}},
        {"i2 lt", [](auto& b, auto& v) { return b.Property(RELOP_LT, kShort, v.Short(kShort, 0)); }, {1}},
        {"r4 ge", [](auto& b, auto& v) { return b.Property(RELOP_GE, kReal, v.Float(kReal, 1.0f)); }, {1}},
        {"clsid eq", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kGuid, v.Guid(kGuid, kGuid1)); }, {0, 2}},
        {"clsid ne", [](auto& b, auto& v) { return b.Property(RELOP_NE, kGuid, v.Guid(kGuid, kGuid1)); }, {1}},
        // Multi-valued columns: any value satisfies a single-valued test,
        // an array value compares the whole array.
        {"mv any value", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kCats, v.Wide(PROP_TAG(PT_UNICODE, 0x6708), L"red")); }, {0}},
        {"mv long any gt", [](auto& b, auto& v) { return b.Property(RELOP_GT, kNums, v.Long(PROP_TAG(PT_LONG, 0x6709), 4)); }, {1}},
        {"mv whole array", [](auto& b, auto& v) { return b.Property(RELOP_EQ, kNums, v.LongList(kNums, {1, 2})); }, {0}},
        // Content.
        {"substring ignore case", [=](auto& b, auto& v) { return b.Content(subSub | FL_IGNORECASE, kSubject, v.Wide(kSubject, L"WORLD")); }, {0}},
        {"substring with case", [=](auto& b, auto& v) { return b.Content(subSub, kSubject, v.Wide(kSubject, L"WORLD")); }, {}},
        {"prefix ignore case", [](auto& b, auto& v) { return b.Content(FL_PREFIX | FL_IGNORECASE, kSubject, v.Wide(kSubject, L"hel")); }, {0, 1}},
        {"fullstring", [](auto& b, auto& v) { return b.Content(FL_FULLSTRING, kSubject, v.Wide(kSubject, L"hello")); }, {1}},
        {"fullstring with case", [](auto& b, auto& v) { return b.Content(FL_FULLSTRING, kSubject, v.Wide(kSubject, L"Hello")); }, {}},
        {"ignore non-spacing marks", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING | FL_IGNORECASE | FL_IGNORENONSPACE, kSubject, v.Wide(kSubject, L"buro")); }, {2}},
        {"accents count without the flag", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING | FL_IGNORECASE, kSubject, v.Wide(kSubject, L"buro")); }, {}},
        {"loose", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING | FL_LOOSE, kSubject, v.Wide(kSubject, L"RESUME")); }, {5}},
        {"8-bit content", [](auto& b, auto& v) { return b.Content(FL_PREFIX | FL_IGNORECASE, kName, v.Ansi(kName, "be")); }, {1}},
        {"8-bit pattern on unicode", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING | FL_IGNORECASE, kSubject, v.Ansi(kSubjectA, "zeb")); }, {4}},
        {"binary substring", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING, kData, v.Binary(kData, {0, 1})); }, {2}},
        {"binary prefix", [](auto& b, auto& v) { return b.Content(FL_PREFIX, kData, v.Binary(kData, {1})); }, {0, 1}},
        {"content on multi-valued", [](auto& b, auto& v) { return b.Content(FL_SUBSTRING, kCats, v.Wide(PROP_TAG(PT_UNICODE, 0x6708), L"re")); }, {0, 1}},
        // Bitmask, size, exist, compare-props.
        {"bitmask nez", [](auto& b, auto&) { return b.Bitmask(BMR_NEZ, kFlags, 0x04); }, {0, 3}},
        {"bitmask eqz", [](auto& b, auto&) { return b.Bitmask(BMR_EQZ, kFlags, 0x01); }, {1, 2, 3}},
        {"size le", [](auto& b, auto&) { return b.Size(RELOP_LE, kSubject, 12); }, {1, 4}},
        {"size gt", [](auto& b, auto&) { return b.Size(RELOP_GT, kData, 2); }, {2}},
        {"exist skips errors", [](auto& b, auto&) { return b.Exist(kSubject); }, {0, 1, 2, 4, 5}},
        {"exist skips nulls", [](auto& b, auto&) { return b.Exist(kImportance); }, {0, 1, 2, 3, 5}},
        {"exist any type", [](auto& b, auto&) { return b.Exist(PROP_TAG(PT_UNSPECIFIED, PROP_ID(kFlag))); }, {0, 1}},
        {"compare props ge", [](auto& b, auto&) { return b.CompareProps(RELOP_GE, kImportance, kLimit); }, {0, 2}},
        {"compare props lt", [](auto& b, auto&) { return b.CompareProps(RELOP_LT, kImportance, kLimit); }, {1}},
        // Logic.
        {"not includes missing", [](auto& b, auto& v) { return b.Not(b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 2))); }, {0, 2, 4, 5}},
        {"or", [](auto& b, auto& v) { return b.Or({b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 1)), b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 0))}); }, {0, 2}},
        {"and", [](auto& b, auto& v) { return b.And({b.Exist(kSubject), b.Property(RELOP_GT, kImportance, v.Long(kImportance, 0))}); }, {0, 1}},
        {"empty and", [](auto& b, auto&) { return b.And({}); }, {0, 1, 2, 3, 4, 5}},
        {"empty or", [](auto& b, auto&) { return b.Or({}); }, {}},
        {"comment wraps", [](auto& b, auto& v) { return b.Comment(b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 1))); }, {0}},
        {"comment alone", [](auto& b, auto&) { return b.Comment(nullptr); }, {0, 1, 2, 3, 4, 5}},
        {"subrestriction never holds", [](auto& b, auto&) { return b.Sub(PR_MESSAGE_RECIPIENTS, b.Exist(PR_DISPLAY_NAME_W)); }, {}},
    };
    for (const RestrictionCase& c : cases) {
        CRestrictionBuilder builder(m_values);
        SRestriction* restriction = c.build(builder, m_values);
        EXPECT_EQ(c.expected, Matching(restriction)) << c.name;
    }
    // Removing the restriction shows every row again, in insertion order.
    ASSERT_EQ(S_OK, m_view->Restrict(nullptr, 0));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 4, 5}), ShownIds());
}

struct SortCase {
    const char* name;
    std::vector<SSortOrder> columns;
    RowIds expected;
};

TEST_F(RestrictionTest, EachSortOrdersTheRows)
{
    const std::vector<SortCase> cases = {
        // Missing and error values first; case and accents as the locale sorts.
        {"unicode ascending", {{kSubject, TABLE_SORT_ASCEND}}, {3, 2, 1, 0, 5, 4}},
        {"unicode descending", {{kSubject, TABLE_SORT_DESCEND}}, {4, 5, 0, 1, 2, 3}},
        {"long descending then subject", {{kImportance, TABLE_SORT_DESCEND}, {kSubject, TABLE_SORT_ASCEND}}, {3, 1, 0, 2, 5, 4}},
        {"double ascending", {{kScore, TABLE_SORT_ASCEND}}, {3, 1, 5, 2, 0, 4}},
        {"binary by length then bytes", {{kData, TABLE_SORT_ASCEND}}, {3, 4, 5, 1, 0, 2}},
        {"systime descending", {{kTime, TABLE_SORT_DESCEND}}, {1, 0, 2, 3, 4, 5}},
        {"i8 ascending", {{kBig, TABLE_SORT_ASCEND}}, {3, 4, 5, 1, 0, 2}},
        {"currency ascending", {{kMoney, TABLE_SORT_ASCEND}}, {3, 4, 5, 1, 2, 0}},
        {"i2 descending", {{kShort, TABLE_SORT_DESCEND}}, {0, 2, 1, 3, 4, 5}},
        {"8-bit ignores case", {{kName, TABLE_SORT_ASCEND}}, {3, 4, 5, 0, 1, 2}},
        {"multi-valued arrays", {{kCats, TABLE_SORT_ASCEND}}, {3, 4, 5, 2, 1, 0}},
        {"boolean descending", {{kFlag, TABLE_SORT_DESCEND}}, {0, 1, 2, 3, 4, 5}},
    };
    for (const SortCase& c : cases) {
        std::vector<BYTE> buffer(CbNewSSortOrderSet(c.columns.size()));
        auto* set = reinterpret_cast<LPSSortOrderSet>(buffer.data());
        set->cSorts = static_cast<ULONG>(c.columns.size());
        set->cCategories = 0;
        set->cExpanded = 0;
        std::copy(c.columns.begin(), c.columns.end(), set->aSort);
        ASSERT_EQ(S_OK, m_view->SortTable(set, 0)) << c.name;
        EXPECT_EQ(c.expected, ShownIds()) << c.name;

        LPSSortOrderSet queried = nullptr;
        ASSERT_EQ(S_OK, m_view->QuerySortOrder(&queried));
        EXPECT_EQ(c.columns.size(), queried->cSorts);
        MAPIFreeBuffer(queried);
    }
}

TEST_F(RestrictionTest, SortAndRestrictCombineAndFollowLaterRows)
{
    CRestrictionBuilder builder(m_values);
    ASSERT_EQ(S_OK, m_view->Restrict(builder.Exist(kImportance), 0));
    SizedSSortOrderSet(1, sort) = {1, 0, 0, {{kImportance, TABLE_SORT_ASCEND}}};
    ASSERT_EQ(S_OK, m_view->SortTable(reinterpret_cast<LPSSortOrderSet>(&sort), 0));
    EXPECT_EQ((RowIds{5, 2, 0, 1, 3}), ShownIds());
    // A later row lands at its sorted place; one the restriction excludes does not appear.
    AddRow(6, {m_values.Long(kImportance, 1)});
    AddRow(7, {m_values.Wide(kSubject, L"no importance")});
    EXPECT_EQ((RowIds{5, 2, 0, 6, 1, 3}), ShownIds());
}

TEST_F(RestrictionTest, BadRestrictionsAreRefusedAndLeaveTheViewWorking)
{
    CRestrictionBuilder b(m_values);
    CValueStore& v = m_values;
    SRestriction* nullChildren = b.And({});
    nullChildren->res.resAnd.cRes = 2;
    SRestriction* nullValue = b.Property(RELOP_EQ, kImportance, v.Long(kImportance, 1));
    nullValue->res.resProperty.lpProp = nullptr;
    SRestriction* nullNot = b.Raw(RES_NOT);
    SRestriction* deep = b.Exist(kSubject);
    for (int i = 0; i < 1000; ++i)
        deep = b.Not(deep);

    // malformed: FBadRestriction says so; otherwise only beyond what a table evaluates.
    const struct {
        const char* name;
        SRestriction* restriction;
        bool malformed;
    } cases[] = {
        {"unknown restriction type", b.Raw(99), true},
        {"children pointer null", nullChildren, true},
        {"property value null", nullValue, true},
        {"not without child", nullNot, true},
        {"unknown relop", b.Property(42, kImportance, v.Long(kImportance, 1)), true},
        {"unknown value type", b.Property(RELOP_EQ, kImportance, v.Long(PROP_TAG(0x0777, 0x6701), 1)), true},
        {"bad fuzzy level", b.Content(7, kSubject, v.Wide(kSubject, L"x")), true},
        {"bad bitmask relation", b.Bitmask(9, kFlags, 1), true},
        {"regular expressions", b.Property(RELOP_RE, kSubject, v.Wide(kSubject, L"h.*")), false},
        {"object values", b.Property(RELOP_EQ, PR_NULL, v.Long(PROP_TAG(PT_OBJECT, 0x6710), 0)), false},
        {"content on a long", b.Content(FL_SUBSTRING, kImportance, v.Long(kImportance, 1)), false},
        {"nesting too deep", deep, false},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(FAILED(m_view->Restrict(c.restriction, 0))) << c.name;
        EXPECT_TRUE(FAILED(m_view->FindRow(c.restriction, BOOKMARK_BEGINNING, 0))) << c.name;
        EXPECT_EQ(c.malformed, FBadRestriction(c.restriction) != FALSE) << c.name;
    }
    EXPECT_TRUE(FAILED(m_view->FindRow(nullptr, BOOKMARK_BEGINNING, 0)));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 4, 5}), ShownIds());
}

TEST_F(RestrictionTest, BadSortOrdersAreRefused)
{
    SizedSSortOrderSet(1, unknownType) = {1, 0, 0, {{PROP_TAG(0x0777, 0x6701), TABLE_SORT_ASCEND}}};
    SizedSSortOrderSet(1, badOrder) = {1, 0, 0, {{kImportance, 77}}};
    SizedSSortOrderSet(1, categories) = {1, 1, 1, {{kImportance, TABLE_SORT_ASCEND}}};
    SizedSSortOrderSet(1, objects) = {1, 0, 0, {{PROP_TAG(PT_OBJECT, 0x6701), TABLE_SORT_ASCEND}}};
    for (void* set : {static_cast<void*>(&unknownType), static_cast<void*>(&badOrder), static_cast<void*>(&categories),
                      static_cast<void*>(&objects)})
        EXPECT_TRUE(FAILED(m_view->SortTable(static_cast<LPSSortOrderSet>(set), 0)));
    EXPECT_TRUE(FAILED(m_view->SortTable(nullptr, 0)));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 4, 5}), ShownIds());
}

} // namespace
