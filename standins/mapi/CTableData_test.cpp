// In-memory tables as providers and clients use them: the data object's row
// maintenance, dynamic and snapshot views, positioning, bookmarks and table
// notifications.
#include "MapiStandin.h"
#include "MapiTestSupport.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>
#include <vector>

using mapitest::CRecordingSink;
using mapitest::kIdTag;

namespace {

constexpr ULONG kName = PR_DISPLAY_NAME_W;
constexpr ULONG kSize = PROP_TAG(PT_LONG, 0x6711);

using RowIds = std::vector<LONG>;

ULONG g_released = 0;
void WINAPI OnViewReleased(ULONG ulCallerData, LPTABLEDATA, LPMAPITABLE)
{
    g_released = ulCallerData;
}

class TableTest : public ::testing::Test {
protected:
    void Make(ULONG type)
    {
        SizedSPropTagArray(3, columns) = {3, {PR_INSTANCE_KEY, kIdTag, kName}};
        ASSERT_EQ(S_OK, CreateTable(&IID_IMAPITableData, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer,
                                    nullptr, type, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                                    &m_data));
    }
    void TearDown() override
    {
        for (IMAPITable* view : m_views)
            view->Release();
        if (m_data)
            m_data->Release();
    }

    IMAPITable* View()
    {
        IMAPITable* view = nullptr;
        EXPECT_EQ(S_OK, m_data->HrGetView(nullptr, nullptr, 0, &view));
        if (view)
            m_views.push_back(view);
        return view;
    }

    // A row keyed by a 4-byte instance key equal to id.
    SRow Row(LONG id, const wchar_t* name, LONG size)
    {
        m_keys.push_back(id);
        m_names.push_back(name);
        m_props.emplace_back(4);
        std::vector<SPropValue>& p = m_props.back();
        p[0].ulPropTag = PR_INSTANCE_KEY;
        p[0].Value.bin.cb = 4;
        p[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&m_keys.back());
        p[1].ulPropTag = kIdTag;
        p[1].Value.l = id;
        p[2].ulPropTag = kName;
        p[2].Value.lpszW = &m_names.back()[0];
        p[3].ulPropTag = kSize;
        p[3].Value.l = size;
        return SRow{0, 4, p.data()};
    }
    HRESULT Insert(ULONG position, LONG id, const wchar_t* name = L"n", LONG size = 0)
    {
        SRow row = Row(id, name, size);
        return m_data->HrInsertRow(position, &row);
    }
    SPropValue Key(LONG id)
    {
        m_keys.push_back(id);
        SPropValue key{};
        key.ulPropTag = PR_INSTANCE_KEY;
        key.Value.bin.cb = 4;
        key.Value.bin.lpb = reinterpret_cast<LPBYTE>(&m_keys.back());
        return key;
    }

    static RowIds Ids(LPSRowSet rows)
    {
        RowIds ids;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* id = PpropFindProp(rows->aRow[i].lpProps, rows->aRow[i].cValues, kIdTag);
            ids.push_back(id ? id->Value.l : -1);
        }
        FreeProws(rows);
        return ids;
    }
    static RowIds All(IMAPITable* view)
    {
        EXPECT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, view->QueryRows(100000, 0, &rows));
        return Ids(rows);
    }
    static RowIds Next(IMAPITable* view, LONG count, ULONG flags = 0)
    {
        LPSRowSet rows = nullptr;
        EXPECT_EQ(S_OK, view->QueryRows(count, flags, &rows));
        return Ids(rows);
    }

    ITableData* m_data = nullptr;
    std::vector<IMAPITable*> m_views;
    std::deque<LONG> m_keys;
    std::deque<std::wstring> m_names;
    std::deque<std::vector<SPropValue>> m_props;
};

TEST_F(TableTest, RowsKeepTheGivenPositionsAndAreKeyedByTheIndexColumn)
{
    Make(TBLTYPE_DYNAMIC);
    ASSERT_EQ(S_OK, Insert(0, 1));
    ASSERT_EQ(S_OK, Insert(1, 3));
    ASSERT_EQ(S_OK, Insert(1, 2));
    ASSERT_EQ(S_OK, Insert(0, 0));
    // A place past the end is refused, as MAPI places rows at 0..n only;
    // n appends.
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, Insert(5, 4));
    EXPECT_EQ((RowIds{0, 1, 2, 3}), All(View()));
    ASSERT_EQ(S_OK, Insert(4, 4));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 4}), All(View()));

    // Same index value again: refused, nothing changes.
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, Insert(0, 2));

    SPropValue key = Key(3);
    LPSRow row = nullptr;
    ULONG position = 0;
    ASSERT_EQ(S_OK, m_data->HrQueryRow(&key, &row, &position));
    EXPECT_EQ(3u, position);
    EXPECT_EQ(4u, row->cValues);
    EXPECT_STREQ(L"n", PpropFindProp(row->lpProps, row->cValues, kName)->Value.lpszW);
    MAPIFreeBuffer(row);

    ASSERT_EQ(S_OK, m_data->HrEnumRow(4, &row));
    EXPECT_EQ(4, PpropFindProp(row->lpProps, row->cValues, kIdTag)->Value.l);
    MAPIFreeBuffer(row);
    ASSERT_EQ(S_OK, m_data->HrEnumRow(5, &row));
    EXPECT_EQ(nullptr, row);

    SPropValue missing = Key(77);
    EXPECT_EQ(MAPI_E_NOT_FOUND, m_data->HrQueryRow(&missing, &row, nullptr));
    EXPECT_EQ(MAPI_E_NOT_FOUND, m_data->HrDeleteRow(&missing));
}

TEST_F(TableTest, ModifyReplacesInPlaceOrAppendsAndDeleteRemoves)
{
    Make(TBLTYPE_DYNAMIC);
    for (LONG id = 0; id < 4; ++id)
        ASSERT_EQ(S_OK, Insert(id, id, L"old"));
    IMAPITable* view = View();

    SRow changed = Row(1, L"new", 9);
    ASSERT_EQ(S_OK, m_data->HrModifyRow(&changed));
    SRow added = Row(7, L"added", 0);
    ASSERT_EQ(S_OK, m_data->HrModifyRow(&added));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 7}), All(view));
    SPropValue key = Key(1);
    LPSRow row = nullptr;
    ASSERT_EQ(S_OK, m_data->HrQueryRow(&key, &row, nullptr));
    EXPECT_STREQ(L"new", PpropFindProp(row->lpProps, row->cValues, kName)->Value.lpszW);
    MAPIFreeBuffer(row);

    SRow rows[2] = {Row(2, L"two", 0), Row(8, L"eight", 0)};
    SizedSRowSet(2, set) = {2, {rows[0], rows[1]}};
    ASSERT_EQ(S_OK, m_data->HrModifyRows(0, reinterpret_cast<LPSRowSet>(&set)));
    EXPECT_EQ((RowIds{0, 1, 2, 3, 7, 8}), All(view));

    SPropValue three = Key(3);
    ASSERT_EQ(S_OK, m_data->HrDeleteRow(&three));
    SRow gone[2] = {Row(0, L"", 0), Row(55, L"", 0)};
    SizedSRowSet(2, deletions) = {2, {gone[0], gone[1]}};
    ULONG deleted = 99;
    ASSERT_EQ(S_OK, m_data->HrDeleteRows(0, reinterpret_cast<LPSRowSet>(&deletions), &deleted));
    EXPECT_EQ(1u, deleted);
    EXPECT_EQ((RowIds{1, 2, 7, 8}), All(view));

    ASSERT_EQ(S_OK, m_data->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted));
    EXPECT_EQ(4u, deleted);
    ULONG count = 99;
    ASSERT_EQ(S_OK, view->GetRowCount(0, &count));
    EXPECT_EQ(0u, count);
}

TEST_F(TableTest, DynamicViewsSeeLaterChangesSnapshotViewsDoNot)
{
    for (ULONG type : {TBLTYPE_DYNAMIC, TBLTYPE_SNAPSHOT}) {
        SCOPED_TRACE(type);
        Make(type);
        ASSERT_EQ(S_OK, Insert(0, 0));
        ASSERT_EQ(S_OK, Insert(1, 1));
        IMAPITable* view = View();
        ASSERT_EQ(S_OK, Insert(2, 2));
        SPropValue zero = Key(0);
        ASSERT_EQ(S_OK, m_data->HrDeleteRow(&zero));
        SRow changed = Row(1, L"changed", 0);
        ASSERT_EQ(S_OK, m_data->HrModifyRow(&changed));

        ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
        LPSRowSet rows = nullptr;
        ASSERT_EQ(S_OK, view->QueryRows(10, 0, &rows));
        if (type == TBLTYPE_DYNAMIC) {
            ASSERT_EQ(2u, rows->cRows);
            EXPECT_STREQ(L"changed", rows->aRow[0].lpProps[2].Value.lpszW);
        } else {
            // The snapshot still holds the rows and values it was made from.
            ASSERT_EQ(2u, rows->cRows);
            EXPECT_EQ(0, rows->aRow[0].lpProps[1].Value.l);
            EXPECT_STREQ(L"n", rows->aRow[1].lpProps[2].Value.lpszW);
        }
        FreeProws(rows);
        ULONG status = 0, tableType = 0;
        ASSERT_EQ(S_OK, view->GetStatus(&status, &tableType));
        EXPECT_EQ(TBLSTAT_COMPLETE, status);
        EXPECT_EQ(type, tableType);
        TearDown();
        m_views.clear();
        m_data = nullptr;
    }
}

TEST_F(TableTest, ColumnsMissingValuesAndAllColumns)
{
    Make(TBLTYPE_DYNAMIC);
    ASSERT_EQ(S_OK, Insert(0, 0, L"zero", 5));
    IMAPITable* view = View();
    SizedSPropTagArray(3, columns) = {3, {kSize, PR_SUBJECT_W, PROP_TAG(PT_UNSPECIFIED, PROP_ID(kName))}};
    ASSERT_EQ(S_OK, view->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    LPSRowSet rows = nullptr;
    ASSERT_EQ(S_OK, view->QueryRows(1, 0, &rows));
    ASSERT_EQ(1u, rows->cRows);
    ASSERT_EQ(3u, rows->aRow[0].cValues);
    EXPECT_EQ(kSize, rows->aRow[0].lpProps[0].ulPropTag);
    EXPECT_EQ(5, rows->aRow[0].lpProps[0].Value.l);
    EXPECT_EQ(PROP_TAG(PT_ERROR, PROP_ID(PR_SUBJECT_W)), rows->aRow[0].lpProps[1].ulPropTag);
    EXPECT_EQ(MAPI_E_NOT_FOUND, rows->aRow[0].lpProps[1].Value.err);
    EXPECT_EQ(kName, rows->aRow[0].lpProps[2].ulPropTag);
    FreeProws(rows);

    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(S_OK, view->QueryColumns(0, &tags));
    EXPECT_EQ(3u, tags->cValues);
    MAPIFreeBuffer(tags);
    ASSERT_EQ(S_OK, view->QueryColumns(TBL_ALL_COLUMNS, &tags));
    EXPECT_EQ(4u, tags->cValues); // the three of the data plus kSize
    MAPIFreeBuffer(tags);
}

TEST_F(TableTest, PositioningBookmarksAndFindRow)
{
    Make(TBLTYPE_DYNAMIC);
    for (LONG id = 0; id < 10; ++id)
        ASSERT_EQ(S_OK, Insert(id, id, id % 2 ? L"odd" : L"even"));
    IMAPITable* view = View();

    LONG sought = 0;
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 3, &sought));
    EXPECT_EQ(3, sought);
    EXPECT_EQ((RowIds{3, 4}), Next(view, 2));
    EXPECT_EQ((RowIds{5}), Next(view, 1, TBL_NOADVANCE));
    // Backwards: the start moves back, rows come in table order and the
    // cursor ends after them.
    EXPECT_EQ((RowIds{3, 4}), Next(view, -2));
    ULONG row = 0, num = 0, den = 0;
    ASSERT_EQ(S_OK, view->QueryPosition(&row, &num, &den));
    EXPECT_EQ(5u, row);
    EXPECT_EQ((RowIds{3, 4}), Next(view, -2, TBL_NOADVANCE));
    ASSERT_EQ(S_OK, view->QueryPosition(&row, &num, &den));
    EXPECT_EQ(3u, row);
    LPSRowSet noRows = nullptr;
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->QueryRows(0, 0, &noRows));
    EXPECT_EQ(10u, den);
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_END, -20, &sought));
    EXPECT_EQ(-10, sought);
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_CURRENT, 100, &sought));
    EXPECT_EQ(10, sought);
    EXPECT_EQ(RowIds{}, Next(view, 5));
    ASSERT_EQ(S_OK, view->SeekRowApprox(1, 2));
    EXPECT_EQ((RowIds{5}), Next(view, 1));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->SeekRowApprox(1, 0));

    // A bookmark on row 6; FindRow forwards and backwards from it.
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 6, nullptr));
    BOOKMARK mark = 0;
    ASSERT_EQ(S_OK, view->CreateBookmark(&mark));
    std::wstring even = L"even";
    SPropValue value{};
    value.ulPropTag = kName;
    value.Value.lpszW = &even[0];
    SRestriction isEven{};
    isEven.rt = RES_PROPERTY;
    isEven.res.resProperty.relop = RELOP_EQ;
    isEven.res.resProperty.ulPropTag = kName;
    isEven.res.resProperty.lpProp = &value;
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr));
    ASSERT_EQ(S_OK, view->FindRow(&isEven, mark, 0));
    EXPECT_EQ((RowIds{6}), Next(view, 1, TBL_NOADVANCE));
    // Backwards the search starts at the row before the bookmark.
    ASSERT_EQ(S_OK, view->FindRow(&isEven, mark, DIR_BACKWARD));
    EXPECT_EQ((RowIds{4}), Next(view, 1, TBL_NOADVANCE));
    std::wstring odd = L"odd";
    value.Value.lpszW = &odd[0];
    ASSERT_EQ(S_OK, view->FindRow(&isEven, mark, DIR_BACKWARD));
    EXPECT_EQ((RowIds{5}), Next(view, 1, TBL_NOADVANCE));
    ASSERT_EQ(S_OK, view->FindRow(&isEven, BOOKMARK_END, DIR_BACKWARD));
    EXPECT_EQ((RowIds{9}), Next(view, 1, TBL_NOADVANCE));
    std::wstring none = L"none";
    value.Value.lpszW = &none[0];
    ASSERT_EQ(S_OK, view->SeekRow(BOOKMARK_BEGINNING, 2, nullptr));
    EXPECT_EQ(MAPI_E_NOT_FOUND, view->FindRow(&isEven, BOOKMARK_BEGINNING, 0));
    EXPECT_EQ((RowIds{2}), Next(view, 1, TBL_NOADVANCE)); // position unchanged

    // Rows inserted before the bookmark and the cursor move them along.
    ASSERT_EQ(S_OK, Insert(0, 100));
    EXPECT_EQ((RowIds{2}), Next(view, 1, TBL_NOADVANCE));
    ASSERT_EQ(S_OK, view->SeekRow(mark, 0, nullptr));
    EXPECT_EQ((RowIds{6}), Next(view, 1, TBL_NOADVANCE));

    // The bookmarked row goes away: the bookmark lands on the next row.
    SPropValue six = Key(6);
    ASSERT_EQ(S_OK, m_data->HrDeleteRow(&six));
    EXPECT_EQ(MAPI_W_POSITION_CHANGED, view->SeekRow(mark, 0, nullptr));
    EXPECT_EQ((RowIds{7}), Next(view, 1, TBL_NOADVANCE));

    // A freed bookmark is an error everywhere, never a crash.
    ASSERT_EQ(S_OK, view->FreeBookmark(mark));
    EXPECT_EQ(MAPI_E_INVALID_BOOKMARK, view->SeekRow(mark, 0, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_BOOKMARK, view->FindRow(&isEven, mark, 0));
    EXPECT_EQ(MAPI_E_INVALID_BOOKMARK, view->FreeBookmark(mark));
    EXPECT_EQ(MAPI_E_INVALID_BOOKMARK, view->SeekRow(0x12345, 0, nullptr));
}

TEST_F(TableTest, NotificationsReachTheSinkInOrder)
{
    Make(TBLTYPE_DYNAMIC);
    ASSERT_EQ(S_OK, Insert(0, 0, L"a"));
    IMAPITable* view = View();
    IMAPITable* other = View();
    // Only rows named "a" are shown in the first view.
    std::wstring a = L"a";
    SPropValue value{};
    value.ulPropTag = kName;
    value.Value.lpszW = &a[0];
    SRestriction named{};
    named.rt = RES_PROPERTY;
    named.res.resProperty.relop = RELOP_EQ;
    named.res.resProperty.ulPropTag = kName;
    named.res.resProperty.lpProp = &value;
    ASSERT_EQ(S_OK, view->Restrict(&named, 0));

    CRecordingSink sink;
    CRecordingSink otherSink;
    ULONG connection = 0, otherConnection = 0;
    ASSERT_EQ(S_OK, view->Advise(fnevTableModified, &sink, &connection));
    ASSERT_EQ(S_OK, other->Advise(fnevTableModified, &otherSink, &otherConnection));
    EXPECT_NE(0u, connection);

    ASSERT_EQ(S_OK, Insert(1, 1, L"a"));          // added after row 0
    ASSERT_EQ(S_OK, Insert(2, 2, L"b"));          // not shown in the first view
    SRow changed = Row(1, L"a", 42);
    ASSERT_EQ(S_OK, m_data->HrModifyRow(&changed)); // modified
    SRow hidden = Row(0, L"b", 0);
    ASSERT_EQ(S_OK, m_data->HrModifyRow(&hidden));  // leaves the first view
    SPropValue key = Key(1);
    ASSERT_EQ(S_OK, m_data->HrNotify(0, 1, &key));  // explicit change notice
    ASSERT_EQ(S_OK, Insert(0, 3, L"a"));          // first row: no prior
    ASSERT_EQ(S_OK, m_data->HrDeleteRow(&key));     // deleted
    ASSERT_EQ(S_OK, m_data->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr));

    using E = CRecordingSink::Event;
    const std::vector<std::pair<ULONG, std::pair<LONG, LONG>>> expected = {
        {TABLE_ROW_ADDED, {1, 0}},   {TABLE_ROW_MODIFIED, {1, 0}}, {TABLE_ROW_DELETED, {0, -1}},
        {TABLE_ROW_MODIFIED, {1, -1}}, {TABLE_ROW_ADDED, {3, -1}}, {TABLE_ROW_DELETED, {1, -1}},
        {TABLE_RELOAD, {-1, -1}},
    };
    ASSERT_EQ(expected.size(), sink.events.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const E& e = sink.events[i];
        EXPECT_EQ(expected[i].first, e.tableEvent) << i;
        EXPECT_EQ(expected[i].second.first, e.index) << i;
        EXPECT_EQ(expected[i].second.second, e.prior) << i;
        if (e.tableEvent == TABLE_ROW_ADDED || e.tableEvent == TABLE_ROW_MODIFIED) {
            EXPECT_EQ(3u, e.columns) << i; // the view's columns
        }
    }
    // The unrestricted view saw every change, the "b" row too.
    EXPECT_EQ(8u, otherSink.events.size());

    ASSERT_EQ(S_OK, view->Unadvise(connection));
    EXPECT_EQ(MAPI_E_NOT_FOUND, view->Unadvise(connection));
    ASSERT_EQ(S_OK, Insert(0, 4, L"a"));
    EXPECT_EQ(expected.size(), sink.events.size());
    ASSERT_EQ(S_OK, other->Unadvise(otherConnection));
    EXPECT_EQ(1, sink.m_refs);
}

LONG STDAPICALLTYPE CountRowsAdded(LPVOID lpvContext, ULONG cNotification, LPNOTIFICATION lpNotifications)
{
    for (ULONG i = 0; i < cNotification; ++i)
        if (lpNotifications[i].ulEventType == fnevTableModified &&
            lpNotifications[i].info.tab.ulTableEvent == TABLE_ROW_ADDED)
            ++*static_cast<ULONG*>(lpvContext);
    return 0;
}

TEST_F(TableTest, ASinkFromHrAllocAdviseSinkCallsItsFunction)
{
    Make(TBLTYPE_DYNAMIC);
    IMAPITable* view = View();
    ULONG added = 0;
    LPMAPIADVISESINK sink = nullptr;
    ASSERT_EQ(S_OK, HrAllocAdviseSink(&CountRowsAdded, &added, &sink));
    ULONG connection = 0;
    ASSERT_EQ(S_OK, view->Advise(fnevTableModified, sink, &connection));
    ASSERT_EQ(S_OK, Insert(0, 0));
    ASSERT_EQ(S_OK, Insert(1, 1));
    EXPECT_EQ(2u, added);
    ASSERT_EQ(S_OK, view->Unadvise(connection));
    sink->Release();
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, HrAllocAdviseSink(nullptr, nullptr, &sink));
}

TEST_F(TableTest, ThisThreadSinkDeliversOnTheThreadThatMadeIt)
{
    Make(TBLTYPE_DYNAMIC);
    IMAPITable* view = View();
    CRecordingSink sink;
    std::vector<DWORD> threads;
    sink.onNotify = [&]() { threads.push_back(GetCurrentThreadId()); };
    LPMAPIADVISESINK wrapped = nullptr;
    ASSERT_EQ(S_OK, HrThisThreadAdviseSink(&sink, &wrapped));
    ULONG connection = 0;
    ASSERT_EQ(S_OK, view->Advise(fnevTableModified, wrapped, &connection));

    std::vector<SRow> rows = {Row(0, L"a", 0), Row(1, L"b", 0)};
    std::thread writer([&]() {
        m_data->HrInsertRow(0, &rows[0]);
        m_data->HrInsertRow(1, &rows[1]);
    });
    writer.join();
    EXPECT_TRUE(sink.events.empty()); // waiting in this thread's queue
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);
    ASSERT_EQ(2u, sink.events.size());
    EXPECT_EQ(TABLE_ROW_ADDED, sink.events[1].tableEvent);
    EXPECT_EQ(1, sink.events[1].index);
    EXPECT_EQ(0, sink.events[1].prior);
    EXPECT_EQ(3u, sink.events[1].columns);
    for (DWORD thread : threads)
        EXPECT_EQ(GetCurrentThreadId(), thread);

    // On its own thread the notification goes straight through.
    ASSERT_EQ(S_OK, Insert(2, 2));
    EXPECT_EQ(3u, sink.events.size());
    ASSERT_EQ(S_OK, view->Unadvise(connection));
    wrapped->Release();
    EXPECT_EQ(1, sink.m_refs);
}

TEST_F(TableTest, ASinkMayReadTheTableWhileBeingNotified)
{
    Make(TBLTYPE_DYNAMIC);
    IMAPITable* view = View();
    CRecordingSink sink;
    ULONG seen = 0;
    sink.onNotify = [&]() { view->GetRowCount(0, &seen); };
    ULONG connection = 0;
    ASSERT_EQ(S_OK, view->Advise(fnevTableModified, &sink, &connection));
    ASSERT_EQ(S_OK, Insert(0, 0));
    EXPECT_EQ(1u, seen);
    ASSERT_EQ(S_OK, view->Unadvise(connection));
}

TEST_F(TableTest, ConcurrentWriterAndReaderKeepTheTableConsistent)
{
    Make(TBLTYPE_DYNAMIC);
    IMAPITable* view = View();
    const LONG total = 2000;
    std::vector<SRow> rows;
    for (LONG id = 0; id < total; ++id)
        rows.push_back(Row(id, L"x", id));
    std::thread writer([&]() {
        for (LONG id = 0; id < total; ++id)
            m_data->HrInsertRow(static_cast<ULONG>(id / 2), &rows[id]);
    });
    ULONG count = 0;
    while (count < static_cast<ULONG>(total)) {
        LPSRowSet batch = nullptr;
        view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
        ASSERT_EQ(S_OK, view->QueryRows(50, 0, &batch));
        FreeProws(batch);
        view->GetRowCount(0, &count);
    }
    writer.join();
    EXPECT_EQ(static_cast<size_t>(total), All(view).size());
}

TEST_F(TableTest, BadArgumentsGiveMapiErrors)
{
    ITableData* data = nullptr;
    SizedSPropTagArray(1, columns) = {1, {PR_INSTANCE_KEY}};
    auto cols = reinterpret_cast<LPSPropTagArray>(&columns);
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
              CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, 0, PR_INSTANCE_KEY,
                          cols, nullptr));
    EXPECT_EQ(MAPI_E_INTERFACE_NOT_SUPPORTED,
              CreateTable(&IID_IMAPITable, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, 0,
                          PR_INSTANCE_KEY, cols, &data));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
              CreateTable(nullptr, nullptr, MAPIAllocateMore, MAPIFreeBuffer, nullptr, 0, PR_INSTANCE_KEY, cols, &data));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER,
              CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, 7, PR_INSTANCE_KEY,
                          cols, &data));
    EXPECT_EQ(nullptr, data);

    Make(TBLTYPE_DYNAMIC);
    SPropValue noIndex{};
    noIndex.ulPropTag = kSize;
    SRow row{0, 1, &noIndex};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrInsertRow(0, &row));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrModifyRow(&row));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrInsertRow(0, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrDeleteRows(0, nullptr, nullptr));
    SPropValue badType[2] = {Key(1), {}};
    badType[1].ulPropTag = PROP_TAG(0x0777, 0x6720);
    SRow badRow{0, 2, badType};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrInsertRow(0, &badRow));
    SizedSRowSet(1, set) = {1, {badRow}};
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrModifyRows(0, reinterpret_cast<LPSRowSet>(&set)));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, m_data->HrGetView(nullptr, nullptr, 0, nullptr));

    IMAPITable* view = View();
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->QueryRows(1, 0, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->SetColumns(nullptr, 0));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->GetRowCount(0, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->Advise(fnevTableModified, nullptr, nullptr));
    EXPECT_EQ(MAPI_E_INVALID_PARAMETER, view->CreateBookmark(nullptr));
    EXPECT_EQ(MAPI_E_NO_SUPPORT, view->ExpandRow(0, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(0u, All(view).size());
}

TEST_F(TableTest, ReleasingAViewCallsTheCallersCallback)
{
    Make(TBLTYPE_DYNAMIC);
    g_released = 0;
    IMAPITable* view = nullptr;
    ASSERT_EQ(S_OK, m_data->HrGetView(nullptr, &OnViewReleased, 77, &view));
    view->Release();
    EXPECT_EQ(77u, g_released);
}

} // namespace
