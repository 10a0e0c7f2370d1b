#include "MapiStandin.h"
#include "CTableData.h"
#include "CLockGuard.h"
#include "CNotificationBatch.h"
#include "CTableRow.h"
#include "CTableView.h"
#include "PropValue.h"

#include <algorithm>

namespace {

// Room for 32 halvings between neighbours before ranks are spread again.
constexpr ULONGLONG kRankGap = 1ull << 32;
// Smallest gap a local spreading leaves between ranks.
constexpr ULONGLONG kMinSpacing = 1ull << 16;

} // namespace

HRESULT CTableData::Create(const mapistub::Allocators& allocators, ULONG tableType, ULONG indexTag,
                           const SPropTagArray* columns, ITableData** out)
{
    return mapistub::Guarded([&]() -> HRESULT {
        return CreateInstance(IID_IMAPITableData, reinterpret_cast<void**>(out), allocators, tableType, indexTag,
                              columns);
    });
}

CTableData::CTableData(const mapistub::Allocators& allocators, ULONG tableType, ULONG indexTag,
                       const SPropTagArray* columns)
    : m_allocators(allocators), m_tableType(tableType), m_indexTag(indexTag)
{
    InitializeCriticalSection(&m_lock);
    InitializeCriticalSection(&m_deliveryLock);
    if (columns)
        m_columns.assign(columns->aulPropTag, columns->aulPropTag + columns->cValues);
}

CTableData::~CTableData()
{
    DeleteCriticalSection(&m_deliveryLock);
    DeleteCriticalSection(&m_lock);
}

void CTableData::DetachView(CTableView* view)
{
    CLockGuard guard(m_lock);
    m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
}

STDMETHODIMP CTableData::HrGetView(LPSSortOrderSet lpSSortOrderSet, CALLERRELEASE* lpfCallerRelease,
                                   ULONG ulCallerData, LPMAPITABLE* lppMAPITable)
{
    if (!lppMAPITable)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPITable = nullptr;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_lock);
        IMAPITable* view = nullptr;
        HRESULT hr = CTableView::Create(this, lpSSortOrderSet, lpfCallerRelease, ulCallerData, &view);
        if (FAILED(hr))
            return hr;
        m_views.push_back(static_cast<CTableView*>(view));
        *lppMAPITable = view;
        return S_OK;
    });
}

const SPropValue* CTableData::IndexValue(const SRow& row) const
{
    if (!row.lpProps)
        return nullptr;
    return PpropFindProp(row.lpProps, row.cValues, m_indexTag);
}

size_t CTableData::PositionOf(const CTableRow* row) const
{
    // Ranks increase along m_rows, so the row is found by its rank.
    auto it = std::lower_bound(m_rows.begin(), m_rows.end(), row->rank,
                               [](const std::shared_ptr<CTableRow>& entry, ULONGLONG rank) { return entry->rank < rank; });
    if (it != m_rows.end() && it->get() == row)
        return static_cast<size_t>(it - m_rows.begin());
    return m_rows.size();
}

void CTableData::AssignRank(size_t position)
{
    ULONGLONG before = position > 0 ? m_rows[position - 1]->rank : 0;
    ULONGLONG after = position + 1 < m_rows.size() ? m_rows[position + 1]->rank : before + 2 * kRankGap;
    if (after > before && after - before >= 2) {
        m_rows[position]->rank = before + (after - before) / 2;
        return;
    }
    // No room between the neighbours: spread the ranks of a window around
    // the row, doubling it until the ranks just outside leave enough room.
    // Order is kept, so views stay sorted; inserting many rows at one
    // place costs O(log n) per row on average instead of a full renumbering.
    size_t count = m_rows.size();
    for (size_t width = 1;; width *= 2) {
        size_t low = position >= width ? position - width : 0;
        size_t high = std::min(position + width, count - 1);
        size_t inside = high - low + 1;
        ULONGLONG floor = low > 0 ? m_rows[low - 1]->rank : 0;
        bool open = high + 1 >= count;
        ULONGLONG ceiling = open ? floor + (inside + 1) * kRankGap : m_rows[high + 1]->rank;
        if (ceiling > floor && (ceiling - floor) / (inside + 1) >= kMinSpacing) {
            ULONGLONG step = (ceiling - floor) / (inside + 1);
            for (size_t i = low; i <= high; ++i)
                m_rows[i]->rank = floor + step * (i - low + 1);
            return;
        }
        if (low == 0 && open) {
            for (size_t i = 0; i < count; ++i)
                m_rows[i]->rank = (i + 1) * kRankGap;
            return;
        }
    }
}

HRESULT CTableData::InsertAt(size_t position, const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch)
{
    const SPropValue* index = row->FindTag(m_indexTag);
    std::string key = CTableRow::KeyOf(*index);
    if (position > m_rows.size())
        position = m_rows.size();
    m_byKey.emplace(key, row);
    try {
        m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(position), row);
    } catch (...) {
        m_byKey.erase(key);
        throw;
    }
    AssignRank(position);
    if (IsDynamic())
        for (CTableView* view : m_views)
            view->OnRowInserted(row, batch);
    return S_OK;
}

HRESULT CTableData::ModifyOne(const SRow& source, CNotificationBatch& batch)
{
    const SPropValue* index = IndexValue(source);
    if (!index)
        return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = S_OK;
    std::shared_ptr<CTableRow> row = CTableRow::Create(source.cValues, source.lpProps, hr);
    if (!row)
        return hr;
    std::string key = CTableRow::KeyOf(*index);
    auto existing = m_byKey.find(key);
    if (existing == m_byKey.end())
        return InsertAt(m_rows.size(), row, batch);
    std::shared_ptr<CTableRow> old = existing->second;
    row->rank = old->rank;
    size_t position = PositionOf(old.get());
    m_rows[position] = row;
    existing->second = row;
    if (IsDynamic())
        for (CTableView* view : m_views)
            view->OnRowReplaced(old, row, batch);
    return S_OK;
}

bool CTableData::DeleteOne(const SPropValue& index, CNotificationBatch& batch)
{
    auto existing = m_byKey.find(CTableRow::KeyOf(index));
    if (existing == m_byKey.end())
        return false;
    std::shared_ptr<CTableRow> old = existing->second;
    m_byKey.erase(existing);
    size_t position = PositionOf(old.get());
    if (position < m_rows.size())
        m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(position));
    if (IsDynamic())
        for (CTableView* view : m_views)
            view->OnRowDeleted(old, batch);
    return true;
}

STDMETHODIMP CTableData::HrModifyRow(LPSRow lpSRow)
{
    if (!lpSRow)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CNotificationBatch batch;
        HRESULT hr;
        {
            CLockGuard guard(m_lock);
            hr = ModifyOne(*lpSRow, batch);
        }
        batch.Deliver(m_deliveryLock);
        return hr;
    });
}

STDMETHODIMP CTableData::HrModifyRows(ULONG ulFlags, LPSRowSet lpSRowSet)
{
    if (!lpSRowSet || ulFlags != 0)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CNotificationBatch batch;
        HRESULT hr = S_OK;
        {
            CLockGuard guard(m_lock);
            // All rows are checked before any is applied, so a bad row
            // changes nothing.
            for (ULONG i = 0; i < lpSRowSet->cRows; ++i) {
                const SRow& row = lpSRowSet->aRow[i];
                ULONG size = 0;
                if (!IndexValue(row) || FAILED(mapistub::CountProps(static_cast<int>(row.cValues), row.lpProps, &size)))
                    return MAPI_E_INVALID_PARAMETER;
            }
            for (ULONG i = 0; i < lpSRowSet->cRows && SUCCEEDED(hr); ++i)
                hr = ModifyOne(lpSRowSet->aRow[i], batch);
        }
        batch.Deliver(m_deliveryLock);
        return hr;
    });
}

STDMETHODIMP CTableData::HrInsertRow(ULONG uliRow, LPSRow lpSRow)
{
    if (!lpSRow)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        const SPropValue* index = IndexValue(*lpSRow);
        if (!index)
            return MAPI_E_INVALID_PARAMETER;
        HRESULT hr = S_OK;
        std::shared_ptr<CTableRow> row = CTableRow::Create(lpSRow->cValues, lpSRow->lpProps, hr);
        if (!row)
            return hr;
        CNotificationBatch batch;
        {
            CLockGuard guard(m_lock);
            // MAPI places a row only at 0..n, n appending it.
            if (m_byKey.count(CTableRow::KeyOf(*index)) || uliRow > m_rows.size())
                return MAPI_E_INVALID_PARAMETER;
            hr = InsertAt(uliRow, row, batch);
        }
        batch.Deliver(m_deliveryLock);
        return hr;
    });
}

STDMETHODIMP CTableData::HrDeleteRow(LPSPropValue lpSPropValue)
{
    if (!lpSPropValue)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CNotificationBatch batch;
        bool deleted;
        {
            CLockGuard guard(m_lock);
            deleted = DeleteOne(*lpSPropValue, batch);
        }
        batch.Deliver(m_deliveryLock);
        return deleted ? S_OK : MAPI_E_NOT_FOUND;
    });
}

STDMETHODIMP CTableData::HrDeleteRows(ULONG ulFlags, LPSRowSet lprowsetToDelete, ULONG* cRowsDeleted)
{
    if (cRowsDeleted)
        *cRowsDeleted = 0;
    if ((ulFlags & ~static_cast<ULONG>(TAD_ALL_ROWS)) != 0 || (!(ulFlags & TAD_ALL_ROWS) && !lprowsetToDelete))
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CNotificationBatch batch;
        ULONG count = 0;
        {
            CLockGuard guard(m_lock);
            if (ulFlags & TAD_ALL_ROWS) {
                count = static_cast<ULONG>(m_rows.size());
                m_rows.clear();
                m_byKey.clear();
                if (IsDynamic())
                    for (CTableView* view : m_views)
                        view->OnAllRowsDeleted(batch);
            } else {
                for (ULONG i = 0; i < lprowsetToDelete->cRows; ++i) {
                    const SPropValue* index = IndexValue(lprowsetToDelete->aRow[i]);
                    if (index && DeleteOne(*index, batch))
                        ++count;
                }
            }
        }
        batch.Deliver(m_deliveryLock);
        if (cRowsDeleted)
            *cRowsDeleted = count;
        return S_OK;
    });
}

HRESULT CTableData::CopyRowOut(const CTableRow& row, LPSRow* out) const
{
    *out = nullptr;
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(sizeof(SRow), &block);
    if (FAILED(hr))
        return hr;
    auto* result = static_cast<LPSRow>(block);
    result->ulAdrEntryPad = 0;
    result->cValues = row.Count();
    result->lpProps = nullptr;
    void* props = nullptr;
    hr = m_allocators.allocateMore(std::max<ULONG>(row.Count(), 1) * sizeof(SPropValue), block, &props);
    for (ULONG i = 0; SUCCEEDED(hr) && i < row.Count(); ++i)
        hr = PropCopyMore(&static_cast<LPSPropValue>(props)[i], const_cast<LPSPropValue>(&row.Props()[i]),
                          m_allocators.allocateMore, block);
    if (FAILED(hr)) {
        m_allocators.freeBuffer(block);
        return hr;
    }
    result->lpProps = static_cast<LPSPropValue>(props);
    *out = result;
    return S_OK;
}

STDMETHODIMP CTableData::HrQueryRow(LPSPropValue lpsPropValue, LPSRow* lppSRow, ULONG* lpuliRow)
{
    if (!lpsPropValue || !lppSRow)
        return MAPI_E_INVALID_PARAMETER;
    *lppSRow = nullptr;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_lock);
        auto existing = m_byKey.find(CTableRow::KeyOf(*lpsPropValue));
        if (existing == m_byKey.end())
            return MAPI_E_NOT_FOUND;
        if (lpuliRow)
            *lpuliRow = static_cast<ULONG>(PositionOf(existing->second.get()));
        return CopyRowOut(*existing->second, lppSRow);
    });
}

STDMETHODIMP CTableData::HrEnumRow(ULONG ulRowNumber, LPSRow* lppSRow)
{
    if (!lppSRow)
        return MAPI_E_INVALID_PARAMETER;
    *lppSRow = nullptr;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_lock);
        if (ulRowNumber >= m_rows.size())
            return S_OK; // past the end: no row
        return CopyRowOut(*m_rows[ulRowNumber], lppSRow);
    });
}

STDMETHODIMP CTableData::HrNotify(ULONG ulFlags, ULONG cValues, LPSPropValue lpSPropValue)
{
    if (!lpSPropValue || ulFlags != 0)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        const SPropValue* index = PpropFindProp(lpSPropValue, cValues, m_indexTag);
        if (!index)
            return MAPI_E_INVALID_PARAMETER;
        CNotificationBatch batch;
        {
            CLockGuard guard(m_lock);
            auto existing = m_byKey.find(CTableRow::KeyOf(*index));
            if (existing == m_byKey.end())
                return MAPI_E_NOT_FOUND;
            if (IsDynamic())
                for (CTableView* view : m_views)
                    view->OnRowNotified(existing->second, batch);
        }
        batch.Deliver(m_deliveryLock);
        return S_OK;
    });
}
