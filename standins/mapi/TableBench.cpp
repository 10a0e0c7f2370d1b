// Throughput of the in-memory table on 100,000 rows: insert, sort, restrict
// (content and property) and query, in rows per second. Each figure is
// printed next to the same work done on a plain array of the rows in this
// run (copies of the rows, a stable sort, a loop over the values), so the
// ratio is what the table costs over the work itself.
#include "MapiStandin.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr ULONG kRows = 100000;
constexpr ULONG kNumber = PROP_TAG(PT_LONG, 0x6900);

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Report(const char* what, ULONG rows, double seconds)
{
    std::printf("%-34s %8lu rows %8.3f s %12.0f rows/s\n", what, static_cast<unsigned long>(rows), seconds,
                seconds > 0 ? rows / seconds : 0.0);
}

void Result(const char* figure, double value, const char* reference, double referenceValue)
{
    std::printf("RESULT\t%s\t%.4f\ts\t%s\t%.4f\t%.2f\n", figure, value, reference, referenceValue,
                referenceValue > 0 ? value / referenceValue : 0.0);
}

// The rows as a plain array, for the references.
struct SPlainRow {
    ULONG key;
    std::wstring subject;
    LONG number;
    FILETIME delivered;
};

// Seconds to copy rows first..last of the array with MAPI's own copy, as
// the table copies rows in and out, and to free the copies.
double CopyRows(const std::vector<SPlainRow>& plain, ULONG count, double* freeSeconds = nullptr)
{
    std::vector<LPSPropValue> copies(count, nullptr);
    auto start = std::chrono::steady_clock::now();
    for (ULONG i = 0; i < count; ++i) {
        const SPlainRow& row = plain[i];
        ULONG key = row.key;
        SPropValue props[4] = {};
        props[0].ulPropTag = PR_INSTANCE_KEY;
        props[0].Value.bin.cb = sizeof(key);
        props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&key);
        props[1].ulPropTag = PR_SUBJECT_W;
        props[1].Value.lpszW = const_cast<LPWSTR>(row.subject.c_str());
        props[2].ulPropTag = kNumber;
        props[2].Value.l = row.number;
        props[3].ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        props[3].Value.ft = row.delivered;
        ScDupPropset(4, props, MAPIAllocateBuffer, &copies[i]);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    start = std::chrono::steady_clock::now();
    for (LPSPropValue copy : copies)
        MAPIFreeBuffer(copy);
    if (freeSeconds)
        *freeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return seconds;
}

ULONG CountAll(IMAPITable* view)
{
    view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr);
    ULONG total = 0;
    for (;;) {
        LPSRowSet rows = nullptr;
        if (FAILED(view->QueryRows(1000, 0, &rows)) || !rows)
            break;
        ULONG count = rows->cRows;
        total += count;
        FreeProws(rows);
        if (count == 0)
            break;
    }
    return total;
}

} // namespace

int main()
{
    SizedSPropTagArray(4, columns) = {4, {PR_INSTANCE_KEY, PR_SUBJECT_W, kNumber, PR_MESSAGE_DELIVERY_TIME}};
    ITableData* data = nullptr;
    if (FAILED(CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, TBLTYPE_DYNAMIC,
                           PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns), &data))) {
        std::printf("CreateTable failed\n");
        return 1;
    }
    IMAPITable* view = nullptr;
    data->HrGetView(nullptr, nullptr, 0, &view);

    const wchar_t* words[] = {L"Quarterly", L"report", L"meeting", L"Invoice", L"lunch", L"Project", L"status",
                              L"update", L"holiday", L"budget"};
    std::vector<SPlainRow> plain;
    for (ULONG i = 0; i < kRows; ++i) {
        FILETIME delivered = {i * 1000, 0};
        plain.push_back({i, std::wstring(words[i % 10]) + L" " + words[(i / 10) % 10] + L" #" + std::to_wstring(i),
                         static_cast<LONG>((i * 7919u) % kRows), delivered});
    }
    double freeSeconds = 0;
    const double copyAll = CopyRows(plain, kRows, &freeSeconds);

    auto start = std::chrono::steady_clock::now();
    for (ULONG i = 0; i < kRows; ++i) {
        ULONG key = i;
        std::wstring subject = std::wstring(words[i % 10]) + L" " + words[(i / 10) % 10] + L" #" + std::to_wstring(i);
        SPropValue props[4] = {};
        props[0].ulPropTag = PR_INSTANCE_KEY;
        props[0].Value.bin.cb = sizeof(key);
        props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&key);
        props[1].ulPropTag = PR_SUBJECT_W;
        props[1].Value.lpszW = &subject[0];
        props[2].ulPropTag = kNumber;
        props[2].Value.l = static_cast<LONG>((i * 7919u) % kRows);
        props[3].ulPropTag = PR_MESSAGE_DELIVERY_TIME;
        props[3].Value.ft.dwLowDateTime = i * 1000;
        SRow row{0, 4, props};
        if (FAILED(data->HrInsertRow(i, &row))) {
            std::printf("HrInsertRow failed at %lu\n", static_cast<unsigned long>(i));
            return 1;
        }
    }
    const double inserted = Seconds(start);
    Report("insert (one view open)", kRows, inserted);
    Result("insert 100000 rows, one view open (vs copying the rows)", inserted, "ScDupPropset of each row", copyAll);

    std::vector<ULONG> order(kRows);
    std::iota(order.begin(), order.end(), 0);
    SizedSSortOrderSet(1, byNumber) = {1, 0, 0, {{kNumber, TABLE_SORT_DESCEND}}};
    start = std::chrono::steady_clock::now();
    view->SortTable(reinterpret_cast<LPSSortOrderSet>(&byNumber), 0);
    double sorted = Seconds(start);
    Report("sort on a long", kRows, sorted);
    start = std::chrono::steady_clock::now();
    std::stable_sort(order.begin(), order.end(), [&](ULONG a, ULONG b) { return plain[a].number > plain[b].number; });
    Result("sort 100000 rows on a long (vs a stable sort of the array)", sorted, "std::stable_sort of the rows",
           Seconds(start));

    SizedSSortOrderSet(2, bySubject) = {2, 0, 0, {{PR_SUBJECT_W, TABLE_SORT_ASCEND}, {kNumber, TABLE_SORT_ASCEND}}};
    start = std::chrono::steady_clock::now();
    view->SortTable(reinterpret_cast<LPSSortOrderSet>(&bySubject), 0);
    sorted = Seconds(start);
    Report("sort on a string, then a long", kRows, sorted);
    std::iota(order.begin(), order.end(), 0);
    start = std::chrono::steady_clock::now();
    std::stable_sort(order.begin(), order.end(), [&](ULONG a, ULONG b) {
        int c = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, plain[a].subject.c_str(), -1,
                               plain[b].subject.c_str(), -1);
        return c != CSTR_EQUAL ? c == CSTR_LESS_THAN : plain[a].number < plain[b].number;
    });
    Result("sort 100000 rows on a string, then a long (vs a stable sort of the array, CompareStringW)", sorted,
           "std::stable_sort of the rows", Seconds(start));

    start = std::chrono::steady_clock::now();
    ULONG queried = CountAll(view);
    double queriedSeconds = Seconds(start);
    Report("query all rows (batches of 1000)", queried, queriedSeconds);
    Result("query 100000 rows in batches of 1000 (vs copying the rows)", queriedSeconds, "ScDupPropset of each row",
           copyAll);

    std::wstring needle = L"INVOICE";
    SPropValue pattern{};
    pattern.ulPropTag = PR_SUBJECT_W;
    pattern.Value.lpszW = &needle[0];
    SRestriction content{};
    content.rt = RES_CONTENT;
    content.res.resContent.ulFuzzyLevel = FL_SUBSTRING | FL_IGNORECASE;
    content.res.resContent.ulPropTag = PR_SUBJECT_W;
    content.res.resContent.lpProp = &pattern;
    start = std::chrono::steady_clock::now();
    view->Restrict(&content, 0);
    ULONG count = 0;
    view->GetRowCount(0, &count);
    double restricted = Seconds(start);
    Report("restrict, content (substring)", kRows, restricted);
    std::printf("  matched %lu\n", static_cast<unsigned long>(count));
    start = std::chrono::steady_clock::now();
    ULONG found = 0;
    std::wstring upper;
    for (const SPlainRow& row : plain) {
        upper = row.subject;
        CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
        found += std::wcsstr(upper.c_str(), needle.c_str()) ? 1 : 0;
    }
    Result("restrict 100000 rows, substring ignoring case (vs a loop over the array)", restricted,
           "CharUpperBuffW and wcsstr over the subjects", Seconds(start));
    if (found != count)
        std::printf("  the plain loop matched %lu\n", static_cast<unsigned long>(found));

    SPropValue limit{};
    limit.ulPropTag = kNumber;
    limit.Value.l = 25000;
    SRestriction property{};
    property.rt = RES_PROPERTY;
    property.res.resProperty.relop = RELOP_LT;
    property.res.resProperty.ulPropTag = kNumber;
    property.res.resProperty.lpProp = &limit;
    start = std::chrono::steady_clock::now();
    view->Restrict(&property, 0);
    view->GetRowCount(0, &count);
    restricted = Seconds(start);
    Report("restrict, property (long <)", kRows, restricted);
    std::printf("  matched %lu\n", static_cast<unsigned long>(count));
    start = std::chrono::steady_clock::now();
    volatile ULONG below = 0;
    for (const SPlainRow& row : plain)
        below = below + (row.number < limit.Value.l ? 1 : 0);
    Result("restrict 100000 rows, long less than (vs a loop over the array)", restricted, "a loop over the numbers",
           Seconds(start));

    start = std::chrono::steady_clock::now();
    queried = CountAll(view);
    queriedSeconds = Seconds(start);
    Report("query restricted rows", queried, queriedSeconds);
    Result("query 25000 restricted rows (vs copying them)", queriedSeconds, "ScDupPropset of each row",
           CopyRows(plain, queried));

    start = std::chrono::steady_clock::now();
    ULONG deleted = 0;
    data->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted);
    double deletedSeconds = Seconds(start);
    Report("delete all rows", deleted, deletedSeconds);
    Result("delete 100000 rows (vs freeing copies of them)", deletedSeconds, "MAPIFreeBuffer of each row copy",
           freeSeconds);

    // The search engine's result table: each batch of 1000 matches is
    // inserted at positions 0..999 while a view is open; next to the same
    // rows appended.
    auto insertAll = [&](bool batches) {
        auto begin = std::chrono::steady_clock::now();
        for (ULONG i = 0; i < kRows; ++i) {
            ULONG key = i;
            SPropValue props[2] = {};
            props[0].ulPropTag = PR_INSTANCE_KEY;
            props[0].Value.bin.cb = sizeof(key);
            props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&key);
            props[1].ulPropTag = kNumber;
            props[1].Value.l = static_cast<LONG>(i);
            SRow row{0, 2, props};
            data->HrInsertRow(batches ? i % 1000 : i, &row);
        }
        return Seconds(begin);
    };
    double batched = insertAll(true);
    Report("insert at batch positions", kRows, batched);
    data->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted);
    double appended = insertAll(false);
    Report("insert appended", kRows, appended);
    Result("insert 100000 rows at positions 0..999, one view open (vs appending them)", batched,
           "the same rows appended", appended);

    view->Release();
    data->Release();
    return 0;
}
