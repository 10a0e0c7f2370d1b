// MAPI memory and the property utilities, called as a client calls them.
#include "MapiStandin.h"
#include "MapiTestSupport.h"

#include <mapival.h>

#include <gtest/gtest.h>

#include <vector>

using mapitest::CValueStore;

namespace {

const GUID kGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

// One value of every type the utilities copy.
std::vector<SPropValue> EveryType(CValueStore& v)
{
    std::vector<SPropValue> values = {
        v.Short(PROP_TAG(PT_I2, 0x6800), -7),
        v.Long(PROP_TAG(PT_LONG, 0x6801), 123456),
        v.Float(PROP_TAG(PT_R4, 0x6802), 1.25f),
        v.Double(PROP_TAG(PT_DOUBLE, 0x6803), -2.5),
        v.Currency(PROP_TAG(PT_CURRENCY, 0x6804), 99),
        v.Double(PROP_TAG(PT_APPTIME, 0x6805), 40000.5),
        v.Error(0x6806, MAPI_E_NOT_FOUND),
        v.Bool(PROP_TAG(PT_BOOLEAN, 0x6807), true),
        v.I8(PROP_TAG(PT_I8, 0x6808), -(1ll << 50)),
        v.Ansi(PROP_TAG(PT_STRING8, 0x6809), "eight bit"),
        v.Wide(PROP_TAG(PT_UNICODE, 0x680A), L"uni\u00E7ode"),
        v.Time(PROP_TAG(PT_SYSTIME, 0x680B), 0x01D0000000000000ull),
        v.Guid(PROP_TAG(PT_CLSID, 0x680C), kGuid),
        v.Binary(PROP_TAG(PT_BINARY, 0x680D), {0, 1, 2, 255}),
        v.WideList(PROP_TAG(PT_MV_UNICODE, 0x680E), {L"one", L"two", L""}),
        v.LongList(PROP_TAG(PT_MV_LONG, 0x680F), {3, -4}),
    };
    SPropValue nullValue{};
    nullValue.ulPropTag = PROP_TAG(PT_NULL, 0x6810);
    values.push_back(nullValue);
    return values;
}

TEST(MapiMemory, ChainedBlocksAreFreedWithTheirRootAndBadPointersAreRefused)
{
    void* root = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(16, &root));
    EXPECT_EQ(0u, reinterpret_cast<ULONG_PTR>(root) % 8);
    void* more = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateMore(32, root, &more));
    void* more2 = nullptr;
    // A block added to a block joins the same root.
    ASSERT_EQ(S_OK, MAPIAllocateMore(8, more, &more2));
    memset(more, 0xAB, 32);
    memset(more2, 0xCD, 8);
    EXPECT_EQ(0u, MAPIFreeBuffer(root));
    EXPECT_EQ(0u, MAPIFreeBuffer(nullptr));

    char stack[64] = {};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateMore(8, stack + 16, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_NE(0u, MAPIFreeBuffer(stack + 16));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, MAPIAllocateBuffer(8, nullptr));

    IMalloc* malloc = MAPIGetDefaultMalloc();
    ASSERT_NE(nullptr, malloc);
    void* p = malloc->Alloc(100);
    ASSERT_NE(nullptr, p);
    p = malloc->Realloc(p, 200);
    ASSERT_NE(nullptr, p);
    EXPECT_GE(malloc->GetSize(p), 200u);
    malloc->Free(p);
    malloc->Release();
}

TEST(PropUtilities, CopiesOfEveryTypeCompareEqualToTheirSource)
{
    CValueStore v;
    std::vector<SPropValue> values = EveryType(v);
    int count = static_cast<int>(values.size());

    ULONG size = 0;
    ASSERT_EQ(S_OK, ScCountProps(count, values.data(), &size));
    std::vector<ULONGLONG> block(size / 8 + 1);
    ULONG used = 0;
    ASSERT_EQ(S_OK, ScCopyProps(count, values.data(), block.data(), &used));
    EXPECT_EQ(size, used);
    auto* copied = reinterpret_cast<LPSPropValue>(block.data());

    LPSPropValue duplicated = nullptr;
    ASSERT_EQ(S_OK, ScDupPropset(count, values.data(), MAPIAllocateBuffer, &duplicated));

    void* root = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue) * count, &root));
    auto* more = static_cast<LPSPropValue>(root);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(S_OK, PropCopyMore(&more[i], &values[i], MAPIAllocateMore, root)) << i;

    for (int i = 0; i < count; ++i) {
        for (LPSPropValue copy : {&copied[i], &duplicated[i], &more[i]}) {
            EXPECT_EQ(values[i].ulPropTag, copy->ulPropTag) << i;
            EXPECT_EQ(0, LPropCompareProp(&values[i], copy)) << i;
            EXPECT_EQ(UlPropSize(&values[i]), UlPropSize(copy)) << i;
        }
    }
    // Deep copies: the strings live in the copy, not in the source.
    EXPECT_NE(values[10].Value.lpszW, duplicated[10].Value.lpszW);
    MAPIFreeBuffer(duplicated);
    MAPIFreeBuffer(root);

    SPropValue unknown{};
    unknown.ulPropTag = PROP_TAG(0x0777, 0x6820);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScCountProps(1, &unknown, &size));
    SPropValue nullString{};
    nullString.ulPropTag = PR_SUBJECT_W;
    SPropValue target{};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, PropCopyMore(&target, &nullString, MAPIAllocateMore, nullptr));
}

// Values MAPI's utilities refuse: MV_INSTANCE only marks a table column
// (a row's value under such a column is a single value with that tag),
// identifiers PROP_ID_NULL and PROP_ID_INVALID, multi-valued properties
// without values, unknown types. A copy must never keep the caller's pointers.
TEST(PropUtilities, ValuesMapiRefusesAreNotCountedCopiedOrDuplicated)
{
    CValueStore v;
    const ULONG mviUnicode = MVI_PROP(PROP_TAG(PT_MV_UNICODE, 0x6830));
    SPropValue rowInstance = v.Wide(mviUnicode, L"the caller's text"); // as a row of an MVI column holds it
    SPropValue mviList = v.WideList(mviUnicode, {L"one", L"two"});
    SPropValue instanceOnly = v.Wide(PROP_TAG(PT_UNICODE | MV_INSTANCE, 0x6831), L"single");
    SPropValue emptyList = v.LongList(PROP_TAG(PT_MV_LONG, 0x6832), {});
    struct Case {
        const char* what;
        SPropValue value;
        bool typeRefused; // also by ScCopyProps and PropCopyMore
    } cases[] = {
        {"MVI_FLAG, single value", rowInstance, true},
        {"MVI_FLAG, list", mviList, true},
        {"MV_INSTANCE without MV_FLAG", instanceOnly, true},
        {"unknown type", v.Long(PROP_TAG(0x0777, 0x6833), 1), true},
        {"no multi-valued boolean", v.LongList(PROP_TAG(MV_FLAG | PT_BOOLEAN, 0x6834), {1}), true},
        {"PROP_ID_NULL", v.Long(PROP_TAG(PT_LONG, PROP_ID_NULL), 1), false},
        {"PROP_ID_INVALID", v.Long(PROP_TAG(PT_LONG, PROP_ID_INVALID), 1), false},
        {"multi-valued without values", emptyList, false},
    };
    for (Case& c : cases) {
        // Between two good values: one bad value spoils the whole array.
        std::vector<SPropValue> values = {v.Long(PR_IMPORTANCE, 1), c.value, v.Wide(PR_SUBJECT_W, L"fine")};
        ULONG size = 7;
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScCountProps(3, values.data(), &size)) << c.what;
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScCountProps(3, values.data(), nullptr)) << c.what;
        LPSPropValue duplicated = reinterpret_cast<LPSPropValue>(1);
        EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScDupPropset(3, values.data(), MAPIAllocateBuffer, &duplicated))
            << c.what;
        EXPECT_EQ(nullptr, duplicated) << c.what;
        EXPECT_TRUE(FBadProp(&c.value)) << c.what;
        if (c.typeRefused) {
            std::vector<ULONGLONG> block(64);
            EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScCopyProps(1, &c.value, block.data(), nullptr)) << c.what;
            void* root = nullptr;
            ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue), &root));
            EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
                      PropCopyMore(static_cast<LPSPropValue>(root), &c.value, MAPIAllocateMore, root))
                << c.what;
            MAPIFreeBuffer(root);
        }
    }
}

TEST(PropUtilities, BadPropTagKnowsMapisTypesAndColumnFlags)
{
    struct Case {
        ULONG tag;
        bool bad;
    } cases[] = {
        {PR_SUBJECT_W, false},
        {PROP_TAG(PT_NULL, 0x6840), false},
        {PROP_TAG(PT_ERROR, 0x6840), false},
        {PROP_TAG(PT_MV_UNICODE, 0x6840), false},
        {PROP_TAG(PT_MV_I8, 0x6840), false},
        {MVI_PROP(PROP_TAG(PT_MV_LONG, 0x6840)), false}, // a column of one row per value
        {MVI_PROP(PROP_TAG(PT_LONG, 0x6840)), false},    // MVI_PROP sets MV_FLAG too
        {PROP_TAG(PT_LONG | MV_INSTANCE, 0x6840), true},
        {PROP_TAG(MV_FLAG | PT_BOOLEAN, 0x6840), true},
        {PROP_TAG(MV_FLAG | PT_ERROR, 0x6840), true},
        {MVI_PROP(PROP_TAG(PT_OBJECT, 0x6840)), true},
        {PROP_TAG(0x0777, 0x6840), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.bad, FBadPropTag(c.tag) != FALSE) << std::hex << c.tag;

    SizedSPropTagArray(2, columns) = {2, {PR_SUBJECT_W, MVI_PROP(PROP_TAG(PT_MV_UNICODE, 0x6841))}};
    EXPECT_FALSE(FBadColumnSet(reinterpret_cast<LPSPropTagArray>(&columns)));
    columns.aulPropTag[1] = PROP_TAG(PT_UNICODE | MV_INSTANCE, 0x6841);
    EXPECT_TRUE(FBadColumnSet(reinterpret_cast<LPSPropTagArray>(&columns)));
}

TEST(PropUtilities, SizesFindAndCompare)
{
    CValueStore v;
    struct {
        SPropValue value;
        ULONG size;
    } sizes[] = {
        {v.Long(PROP_TAG(PT_LONG, 1), 1), 4},
        {v.Short(PROP_TAG(PT_I2, 1), 1), 2},
        {v.I8(PROP_TAG(PT_I8, 1), 1), 8},
        {v.Ansi(PROP_TAG(PT_STRING8, 1), "abc"), 4},
        {v.Wide(PROP_TAG(PT_UNICODE, 1), L"abc"), 8},
        {v.Binary(PROP_TAG(PT_BINARY, 1), {1, 2, 3, 4, 5}), 5},
        {v.LongList(PROP_TAG(PT_MV_LONG, 1), {1, 2, 3}), 12},
        {v.WideList(PROP_TAG(PT_MV_UNICODE, 1), {L"a", L"bc"}), 10},
    };
    for (auto& s : sizes)
        EXPECT_EQ(s.size, UlPropSize(&s.value)) << std::hex << s.value.ulPropTag;

    std::vector<SPropValue> values = EveryType(v);
    EXPECT_EQ(&values[1], PpropFindProp(values.data(), values.size(), PROP_TAG(PT_LONG, 0x6801)));
    EXPECT_EQ(&values[1], PpropFindProp(values.data(), values.size(), PROP_TAG(PT_UNSPECIFIED, 0x6801)));
    EXPECT_EQ(nullptr, PpropFindProp(values.data(), values.size(), PROP_TAG(PT_STRING8, 0x6801)));
    EXPECT_EQ(&values[1], LpValFindProp(PROP_TAG(PT_STRING8, 0x6801), values.size(), values.data()));

    SPropValue one = v.Long(PROP_TAG(PT_LONG, 1), 1);
    SPropValue two = v.Long(PROP_TAG(PT_LONG, 2), 2);
    SPropValue text = v.Wide(PROP_TAG(PT_UNICODE, 1), L"x");
    EXPECT_LT(LPropCompareProp(&one, &two), 0);
    EXPECT_GT(LPropCompareProp(&two, &one), 0);
    EXPECT_TRUE(FPropCompareProp(&one, RELOP_LT, &two));
    EXPECT_TRUE(FPropCompareProp(&one, RELOP_NE, &two));
    EXPECT_FALSE(FPropCompareProp(&one, RELOP_GE, &two));
    EXPECT_FALSE(FPropCompareProp(&one, RELOP_EQ, &text)); // types differ
    EXPECT_FALSE(FPropCompareProp(&one, RELOP_RE, &one));
}

TEST(PropUtilities, ContainsHandlesUnicodeAndFuzzyLevels)
{
    CValueStore v;
    SPropValue text = v.Wide(PR_SUBJECT_W, L"Gr\u00FC\u00DFe aus K\u00F6ln");
    struct {
        const wchar_t* pattern;
        ULONG fuzzy;
        bool expected;
    } cases[] = {
        {L"aus", FL_SUBSTRING, true},
        {L"AUS", FL_SUBSTRING, false},
        {L"AUS", FL_SUBSTRING | FL_IGNORECASE, true},
        {L"k\u00D6ln", FL_SUBSTRING | FL_IGNORECASE, true},
        {L"koln", FL_SUBSTRING | FL_IGNORECASE, false},
        {L"koln", FL_SUBSTRING | FL_IGNORECASE | FL_IGNORENONSPACE, true},
        {L"gr\u00FC", FL_PREFIX | FL_IGNORECASE, true},
        {L"aus", FL_PREFIX, false},
        {L"Gr\u00FC\u00DFe aus K\u00F6ln", FL_FULLSTRING, true},
        {L"Gr\u00FC\u00DFe", FL_FULLSTRING, false},
        {L"", FL_SUBSTRING, true},
    };
    for (const auto& c : cases) {
        SPropValue pattern = v.Wide(PR_SUBJECT_W, c.pattern);
        EXPECT_EQ(c.expected, FPropContainsProp(&text, &pattern, c.fuzzy) != FALSE)
            << static_cast<int>(&c - cases);
    }
    SPropValue ansi = v.Ansi(PR_SUBJECT_A, "Hello");
    SPropValue ansiPattern = v.Ansi(PR_SUBJECT_A, "hELL");
    EXPECT_TRUE(FPropContainsProp(&ansi, &ansiPattern, FL_PREFIX | FL_IGNORECASE));
    SPropValue wide = v.Wide(PR_SUBJECT_W, L"hELL");
    EXPECT_FALSE(FPropContainsProp(&ansi, &wide, FL_PREFIX | FL_IGNORECASE)); // types must match
    SPropValue bytes = v.Binary(PR_ENTRYID, {1, 2, 3, 4});
    SPropValue part = v.Binary(PR_ENTRYID, {2, 3});
    EXPECT_TRUE(FPropContainsProp(&bytes, &part, FL_SUBSTRING));
    EXPECT_FALSE(FPropContainsProp(&bytes, &part, FL_PREFIX));
    EXPECT_FALSE(FPropContainsProp(&bytes, &part, 0x77));
    EXPECT_FALSE(FPropContainsProp(nullptr, &part, FL_SUBSTRING));
}

TEST(PropUtilities, QueryAllRowsAppliesColumnsRestrictionSortAndLimit)
{
    SizedSPropTagArray(2, columns) = {2, {PR_INSTANCE_KEY, PR_IMPORTANCE}};
    ITableData* data = nullptr;
    ASSERT_EQ(S_OK, CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                                TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns), &data));
    LONG keys[5];
    for (LONG i = 0; i < 5; ++i) {
        keys[i] = i;
        SPropValue props[2] = {};
        props[0].ulPropTag = PR_INSTANCE_KEY;
        props[0].Value.bin.cb = 4;
        props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&keys[i]);
        props[1].ulPropTag = PR_IMPORTANCE;
        props[1].Value.l = (i * 3) % 5;
        SRow row{0, 2, props};
        ASSERT_EQ(S_OK, data->HrInsertRow(i, &row));
    }
    IMAPITable* view = nullptr;
    ASSERT_EQ(S_OK, data->HrGetView(nullptr, nullptr, 0, &view));

    SPropValue limit{};
    limit.ulPropTag = PR_IMPORTANCE;
    limit.Value.l = 1;
    SRestriction above{};
    above.rt = RES_PROPERTY;
    above.res.resProperty.relop = RELOP_GT;
    above.res.resProperty.ulPropTag = PR_IMPORTANCE;
    above.res.resProperty.lpProp = &limit;
    SizedSSortOrderSet(1, sort) = {1, 0, 0, {{PR_IMPORTANCE, TABLE_SORT_DESCEND}}};
    SizedSPropTagArray(1, only) = {1, {PR_IMPORTANCE}};
    LPSRowSet rows = nullptr;
    ASSERT_EQ(S_OK, HrQueryAllRows(view, reinterpret_cast<LPSPropTagArray>(&only), &above,
                                   reinterpret_cast<LPSSortOrderSet>(&sort), 0, &rows));
    ASSERT_EQ(3u, rows->cRows);
    EXPECT_EQ(1u, rows->aRow[0].cValues);
    EXPECT_EQ(4, rows->aRow[0].lpProps[0].Value.l);
    EXPECT_EQ(3, rows->aRow[1].lpProps[0].Value.l);
    EXPECT_EQ(2, rows->aRow[2].lpProps[0].Value.l);
    FreeProws(rows);

    EXPECT_EQ(MAPI_E_TABLE_TOO_BIG, HrQueryAllRows(view, nullptr, nullptr, nullptr, 2, &rows));
    EXPECT_EQ(nullptr, rows);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, HrQueryAllRows(nullptr, nullptr, nullptr, nullptr, 0, &rows));
    view->Release();
    data->Release();
}

TEST(PropUtilities, NotificationsCopyIntoOneBlock)
{
    CValueStore v;
    BYTE entryId[6] = {1, 2, 3, 4, 5, 6};
    SPropValue rowValues[2] = {v.Wide(PR_SUBJECT_W, L"subject"), v.Binary(PR_INSTANCE_KEY, {9, 8, 7, 6})};
    NOTIFICATION notifications[2] = {};
    notifications[0].ulEventType = fnevTableModified;
    notifications[0].info.tab.ulTableEvent = TABLE_ROW_ADDED;
    notifications[0].info.tab.propIndex = rowValues[1];
    notifications[0].info.tab.propPrior.ulPropTag = PR_NULL;
    notifications[0].info.tab.row.cValues = 2;
    notifications[0].info.tab.row.lpProps = rowValues;
    notifications[1].ulEventType = fnevObjectModified;
    notifications[1].info.obj.cbEntryID = sizeof(entryId);
    notifications[1].info.obj.lpEntryID = reinterpret_cast<LPENTRYID>(entryId);
    notifications[1].info.obj.ulObjType = MAPI_MESSAGE;

    ULONG size = 0;
    ASSERT_EQ(S_OK, ScCountNotifications(2, notifications, &size));
    std::vector<ULONGLONG> block(size / 8 + 1);
    ULONG used = 0;
    ASSERT_EQ(S_OK, ScCopyNotifications(2, notifications, block.data(), &used));
    EXPECT_EQ(size, used);
    auto* copy = reinterpret_cast<NOTIFICATION*>(block.data());
    const BYTE* begin = reinterpret_cast<const BYTE*>(block.data());
    auto inside = [&](const void* p) { return p >= begin && p < begin + size; };
    EXPECT_TRUE(inside(copy[0].info.tab.row.lpProps));
    EXPECT_TRUE(inside(copy[0].info.tab.row.lpProps[0].Value.lpszW));
    EXPECT_STREQ(L"subject", copy[0].info.tab.row.lpProps[0].Value.lpszW);
    EXPECT_TRUE(inside(copy[0].info.tab.propIndex.Value.bin.lpb));
    EXPECT_EQ(0, LPropCompareProp(&rowValues[1], &copy[0].info.tab.propIndex));
    EXPECT_TRUE(inside(copy[1].info.obj.lpEntryID));
    EXPECT_EQ(0, memcmp(copy[1].info.obj.lpEntryID, entryId, sizeof(entryId)));
    // The source is left as it was.
    EXPECT_EQ(rowValues, notifications[0].info.tab.row.lpProps);

    NOTIFICATION unknown = {};
    unknown.ulEventType = 0x40000000;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, ScCountNotifications(1, &unknown, &size));
}

TEST(PropUtilities, FreeingRowSetsAndAddressListsAcceptsNull)
{
    FreeProws(nullptr);
    FreePadrlist(nullptr);
    LPADRLIST list = nullptr;
    ASSERT_EQ(S_OK, MAPIAllocateBuffer(CbNewADRLIST(2), reinterpret_cast<void**>(&list)));
    list->cEntries = 2;
    for (ULONG i = 0; i < 2; ++i) {
        list->aEntries[i].cValues = 1;
        ASSERT_EQ(S_OK, MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&list->aEntries[i].rgPropVals)));
        list->aEntries[i].rgPropVals[0].ulPropTag = PR_NULL;
    }
    FreePadrlist(list);
}

} // namespace
