#pragma once
// The in-memory table of MAPI (CreateTable): the rows, in the order the
// caller gave them, keyed by the index column, and the list of live views.
//
// Invariants, all under m_lock (which also guards every view's state):
// - m_rows holds each row once; m_byKey maps every row's index value to it;
// - ranks strictly increase along m_rows, so views can order rows "as in the
//   data" by rank without looking at positions;
// - a change is applied to the data, then to every dynamic view; the table
//   notifications it causes are delivered after m_lock is released (so a
//   sink may call back into the table), in the order the changes happened.
#include "MapiStandin.h"
#include "CUnknownImpl.h"
#include "MapiIids.h"

#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class CTableRow;
class CTableView;
class CNotificationBatch;

class CTableData final : public common::CUnknownImpl<CTableData, ITableData> {
public:
    static HRESULT Create(const mapistub::Allocators& allocators, ULONG tableType, ULONG indexTag,
                          const SPropTagArray* columns, ITableData** out);

    STDMETHODIMP HrGetView(LPSSortOrderSet lpSSortOrderSet, CALLERRELEASE* lpfCallerRelease, ULONG ulCallerData,
                           LPMAPITABLE* lppMAPITable) override;
    STDMETHODIMP HrModifyRow(LPSRow lpSRow) override;
    STDMETHODIMP HrDeleteRow(LPSPropValue lpSPropValue) override;
    STDMETHODIMP HrQueryRow(LPSPropValue lpsPropValue, LPSRow* lppSRow, ULONG* lpuliRow) override;
    STDMETHODIMP HrEnumRow(ULONG ulRowNumber, LPSRow* lppSRow) override;
    STDMETHODIMP HrNotify(ULONG ulFlags, ULONG cValues, LPSPropValue lpSPropValue) override;
    STDMETHODIMP HrInsertRow(ULONG uliRow, LPSRow lpSRow) override;
    STDMETHODIMP HrModifyRows(ULONG ulFlags, LPSRowSet lpSRowSet) override;
    STDMETHODIMP HrDeleteRows(ULONG ulFlags, LPSRowSet lprowsetToDelete, ULONG* cRowsDeleted) override;

    // For the views.
    CRITICAL_SECTION& Lock() { return m_lock; }
    const mapistub::Allocators& Allocators() const { return m_allocators; }
    bool IsDynamic() const { return m_tableType != TBLTYPE_SNAPSHOT; }
    ULONG TableType() const { return m_tableType; }
    ULONG IndexTag() const { return m_indexTag; }
    const std::vector<ULONG>& Columns() const { return m_columns; }
    const std::deque<std::shared_ptr<CTableRow>>& Rows() const { return m_rows; }
    void DetachView(CTableView* view);
    // Serialises delivery of notifications across threads.
    CRITICAL_SECTION& DeliveryLock() { return m_deliveryLock; }

    // A copy of a row for a caller, from the caller's allocators (one root
    // block); the columns are the row's own values.
    HRESULT CopyRowOut(const CTableRow& row, LPSRow* out) const;

private:
    friend class common::CUnknownImpl<CTableData, ITableData>;
    CTableData(const mapistub::Allocators& allocators, ULONG tableType, ULONG indexTag,
               const SPropTagArray* columns);
    ~CTableData() override;

    // Index value of a caller's row, or nullptr when it has none.
    const SPropValue* IndexValue(const SRow& row) const;
    HRESULT InsertAt(size_t position, const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch);
    HRESULT ModifyOne(const SRow& row, CNotificationBatch& batch);
    bool DeleteOne(const SPropValue& index, CNotificationBatch& batch);
    size_t PositionOf(const CTableRow* row) const;
    void AssignRank(size_t position);

    CRITICAL_SECTION m_lock;
    CRITICAL_SECTION m_deliveryLock;
    mapistub::Allocators m_allocators;
    ULONG m_tableType;
    ULONG m_indexTag;
    std::vector<ULONG> m_columns;
    // A deque: insertions near either end (appends, and the search
    // engine's inserts at small positions) move only the nearer part.
    std::deque<std::shared_ptr<CTableRow>> m_rows;
    std::unordered_map<std::string, std::shared_ptr<CTableRow>> m_byKey;
    std::vector<CTableView*> m_views;
};
