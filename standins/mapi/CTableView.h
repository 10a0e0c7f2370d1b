#pragma once
// A view of an in-memory table (IMAPITable from ITableData::HrGetView): its
// own column set, restriction, sort order, cursor, bookmarks and advise
// sinks over the rows of its CTableData.
//
// The view keeps the rows it shows in m_entries, ordered by (sort key, rank);
// an unsorted view has empty sort keys and so shows the data's order. A
// dynamic view is told of every change of the data and keeps m_entries,
// the cursor and its bookmarks in step; a snapshot view never changes after
// creation except through its own SortTable/Restrict, which work on the rows
// it captured. All state is guarded by the data's lock.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "MapiIids.h"

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CTableData;
class CTableRow;
class CRestriction;
class CSortKey;
class CNotificationBatch;

class CTableView final : public common::CUnknownImpl<CTableView, IMAPITable> {
public:
    static HRESULT Create(CTableData* data, const SSortOrderSet* sortOrder, CALLERRELEASE* callerRelease,
                          ULONG callerData, IMAPITable** out);

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) override;
    STDMETHODIMP Unadvise(ULONG ulConnection) override;
    STDMETHODIMP GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override;
    STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
    STDMETHODIMP QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override;
    STDMETHODIMP GetRowCount(ULONG ulFlags, ULONG* lpulCount) override;
    STDMETHODIMP SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override;
    STDMETHODIMP SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override;
    STDMETHODIMP QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) override;
    STDMETHODIMP FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) override;
    STDMETHODIMP Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
    STDMETHODIMP CreateBookmark(BOOKMARK* lpbkPosition) override;
    STDMETHODIMP FreeBookmark(BOOKMARK bkPosition) override;
    STDMETHODIMP SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    STDMETHODIMP QuerySortOrder(LPSSortOrderSet* lppSortCriteria) override;
    STDMETHODIMP QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                           LPSRowSet* lppRows, ULONG* lpulMoreRows) override;
    STDMETHODIMP CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags, ULONG* lpulRowCount) override;
    STDMETHODIMP WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) override;
    STDMETHODIMP GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey, ULONG* lpcbCollapseState,
                                  LPBYTE* lppbCollapseState) override;
    STDMETHODIMP SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                                  BOOKMARK* lpbkLocation) override;

    // Changes of the data, called under the data's lock.
    void OnRowInserted(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch);
    void OnRowDeleted(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch);
    void OnRowReplaced(const std::shared_ptr<CTableRow>& oldRow, const std::shared_ptr<CTableRow>& newRow,
                       CNotificationBatch& batch);
    void OnRowNotified(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch);
    void OnAllRowsDeleted(CNotificationBatch& batch);

private:
    friend class common::CUnknownImpl<CTableView, IMAPITable>;
    struct Entry {
        std::shared_ptr<CTableRow> row;
        ULONGLONG rank;
        std::string sortKey;
    };
    struct Bookmark {
        bool atEnd;  // made past the last row
        Entry entry;
    };

    CTableView(CTableData* data, CALLERRELEASE* callerRelease, ULONG callerData);
    ~CTableView() override;

    bool Less(const Entry& a, const Entry& b) const;
    Entry MakeEntry(const std::shared_ptr<CTableRow>& row) const;
    bool Passes(const CTableRow& row) const;
    void Rebuild();
    // Position of the entry's row in m_entries, or where it would be.
    size_t Locate(const Entry& entry, bool* found) const;
    size_t InsertEntry(Entry entry);
    void RemoveAt(size_t position);
    HRESULT OriginPosition(BOOKMARK origin, size_t* position, bool* moved) const;
    // The row in the view's columns: one array from allocators (a new root
    // when parent is null, else added to parent).
    HRESULT BuildRow(const CTableRow& row, const mapistub::Allocators& allocators, void* parent,
                     LPSPropValue* props, ULONG* count) const;
    void Notify(ULONG event, const CTableRow* row, const CTableRow* prior, const CTableRow* removed,
                CNotificationBatch& batch) const;
    bool HasSinks() const { return !m_sinks.empty(); }

    CTableData* m_data;  // held (AddRef) for the view's life
    CALLERRELEASE* m_callerRelease;
    ULONG m_callerData;
    bool m_dynamic;
    std::vector<ULONG> m_columns;
    std::unique_ptr<CRestriction> m_restriction;
    std::unique_ptr<CSortKey> m_sortKey;
    std::deque<Entry> m_entries;
    // Rows captured at creation: what a snapshot view restricts and sorts.
    std::vector<std::pair<std::shared_ptr<CTableRow>, ULONGLONG>> m_snapshot;
    size_t m_cursor = 0;
    std::map<ULONG, Bookmark> m_bookmarks;
    ULONG m_nextBookmark = 3; // 0, 1, 2 are BOOKMARK_BEGINNING, _CURRENT, _END
    std::map<ULONG, IMAPIAdviseSink*> m_sinks;
    ULONG m_nextConnection = 1;
};
