// Throughput of the in-memory table on 100,000 rows: insert, sort, restrict
// (content and property) and query, in rows per second.
#include "MapiStandin.h"

#include <chrono>
#include <cstdio>
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
    Report("insert (one view open)", kRows, Seconds(start));

    SizedSSortOrderSet(1, byNumber) = {1, 0, 0, {{kNumber, TABLE_SORT_DESCEND}}};
    start = std::chrono::steady_clock::now();
    view->SortTable(reinterpret_cast<LPSSortOrderSet>(&byNumber), 0);
    Report("sort on a long", kRows, Seconds(start));

    SizedSSortOrderSet(2, bySubject) = {2, 0, 0, {{PR_SUBJECT_W, TABLE_SORT_ASCEND}, {kNumber, TABLE_SORT_ASCEND}}};
    start = std::chrono::steady_clock::now();
    view->SortTable(reinterpret_cast<LPSSortOrderSet>(&bySubject), 0);
    Report("sort on a string, then a long", kRows, Seconds(start));

    start = std::chrono::steady_clock::now();
    ULONG queried = CountAll(view);
    Report("query all rows (batches of 1000)", queried, Seconds(start));

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
    Report("restrict, content (substring)", kRows, Seconds(start));
    std::printf("  matched %lu\n", static_cast<unsigned long>(count));

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
    Report("restrict, property (long <)", kRows, Seconds(start));
    std::printf("  matched %lu\n", static_cast<unsigned long>(count));

    start = std::chrono::steady_clock::now();
    queried = CountAll(view);
    Report("query restricted rows", queried, Seconds(start));

    start = std::chrono::steady_clock::now();
    ULONG deleted = 0;
    data->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted);
    Report("delete all rows", deleted, Seconds(start));

    // The search engine's result table: each batch of 1000 matches is
    // inserted at positions 0..999 while a view is open.
    start = std::chrono::steady_clock::now();
    for (ULONG i = 0; i < kRows; ++i) {
        ULONG key = i;
        SPropValue props[2] = {};
        props[0].ulPropTag = PR_INSTANCE_KEY;
        props[0].Value.bin.cb = sizeof(key);
        props[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&key);
        props[1].ulPropTag = kNumber;
        props[1].Value.l = static_cast<LONG>(i);
        SRow row{0, 2, props};
        data->HrInsertRow(i % 1000, &row);
    }
    Report("insert at batch positions", kRows, Seconds(start));

    view->Release();
    data->Release();
    return 0;
}
