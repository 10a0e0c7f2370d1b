#include "MapiStandin.h"
#include "CTableView.h"
#include "CLockGuard.h"
#include "CNotificationBatch.h"
#include "CRestriction.h"
#include "CSortKey.h"
#include "CTableData.h"
#include "CTableRow.h"

#include <algorithm>
#include <iterator>

HRESULT CTableView::Create(CTableData* data, const SSortOrderSet* sortOrder, CALLERRELEASE* callerRelease,
                           ULONG callerData, IMAPITable** out)
{
    *out = nullptr;
    if (sortOrder) {
        HRESULT hr = CSortKey::Validate(sortOrder);
        if (FAILED(hr))
            return hr;
    }
    CTableView* view = new (std::nothrow) CTableView(data, callerRelease, callerData);
    if (!view)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = mapistub::Guarded([&]() -> HRESULT {
        if (sortOrder && sortOrder->cSorts > 0)
            view->m_sortKey.reset(new CSortKey(sortOrder));
        if (!view->m_dynamic) {
            // A snapshot keeps the rows and their order as they are now.
            const auto& rows = data->Rows();
            view->m_snapshot.reserve(rows.size());
            ULONGLONG rank = 0;
            for (const auto& row : rows)
                view->m_snapshot.emplace_back(row, ++rank);
        }
        view->Rebuild();
        return S_OK;
    });
    if (FAILED(hr)) {
        view->m_callerRelease = nullptr;
        view->Release();
        return hr;
    }
    *out = view;
    return S_OK;
}

CTableView::CTableView(CTableData* data, CALLERRELEASE* callerRelease, ULONG callerData)
    : m_data(data), m_callerRelease(callerRelease), m_callerData(callerData), m_dynamic(data->IsDynamic()),
      m_columns(data->Columns())
{
    m_data->AddRef();
}

CTableView::~CTableView()
{
    m_data->DetachView(this);
    for (auto& sink : m_sinks)
        sink.second->Release();
    if (m_callerRelease)
        m_callerRelease(m_callerData, m_data, this);
    m_data->Release();
}

bool CTableView::Less(const Entry& a, const Entry& b) const
{
    int c = a.sortKey.compare(b.sortKey);
    if (c != 0)
        return c < 0;
    // A dynamic view orders by the data's current ranks (the data may
    // spread them out again); a snapshot keeps the ranks it captured.
    if (m_dynamic)
        return a.row->rank < b.row->rank;
    return a.rank < b.rank;
}

CTableView::Entry CTableView::MakeEntry(const std::shared_ptr<CTableRow>& row) const
{
    Entry entry{row, row->rank, std::string()};
    if (m_sortKey)
        entry.sortKey = m_sortKey->KeyOf(*row);
    return entry;
}

bool CTableView::Passes(const CTableRow& row) const
{
    return !m_restriction || m_restriction->Evaluate(row);
}

void CTableView::Rebuild()
{
    std::vector<Entry> entries;
    auto add = [&](const std::shared_ptr<CTableRow>& row, ULONGLONG rank) {
        if (!Passes(*row))
            return;
        Entry entry{row, rank, std::string()};
        if (m_sortKey)
            entry.sortKey = m_sortKey->KeyOf(*row);
        entries.push_back(std::move(entry));
    };
    if (m_dynamic) {
        const auto& rows = m_data->Rows();
        entries.reserve(rows.size());
        for (const auto& row : rows)
            add(row, row->rank);
    } else {
        entries.reserve(m_snapshot.size());
        for (const auto& item : m_snapshot)
            add(item.first, item.second);
    }
    if (m_sortKey)
        std::sort(entries.begin(), entries.end(), [this](const Entry& a, const Entry& b) { return Less(a, b); });
    m_entries.assign(std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    m_cursor = 0;
    // Bookmarks keep their rows; their keys follow the new sort order.
    for (auto& bookmark : m_bookmarks)
        if (!bookmark.second.atEnd)
            bookmark.second.entry.sortKey = m_sortKey ? m_sortKey->KeyOf(*bookmark.second.entry.row) : std::string();
}

size_t CTableView::Locate(const Entry& entry, bool* found) const
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), entry,
                               [this](const Entry& a, const Entry& b) { return Less(a, b); });
    *found = it != m_entries.end() && it->row == entry.row;
    return static_cast<size_t>(it - m_entries.begin());
}

size_t CTableView::InsertEntry(Entry entry)
{
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), entry,
                               [this](const Entry& a, const Entry& b) { return Less(a, b); });
    size_t position = static_cast<size_t>(it - m_entries.begin());
    m_entries.insert(it, std::move(entry));
    if (position < m_cursor)
        ++m_cursor;
    return position;
}

void CTableView::RemoveAt(size_t position)
{
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(position));
    if (position < m_cursor)
        --m_cursor;
    if (m_cursor > m_entries.size())
        m_cursor = m_entries.size();
}

HRESULT CTableView::OriginPosition(BOOKMARK origin, size_t* position, bool* moved) const
{
    *moved = false;
    switch (origin) {
    case BOOKMARK_BEGINNING:
        *position = 0;
        return S_OK;
    case BOOKMARK_CURRENT:
        *position = m_cursor;
        return S_OK;
    case BOOKMARK_END:
        *position = m_entries.size();
        return S_OK;
    default:
        break;
    }
    auto it = m_bookmarks.find(origin);
    if (it == m_bookmarks.end())
        return MAPI_E_INVALID_BOOKMARK;
    if (it->second.atEnd) {
        *position = m_entries.size();
        return S_OK;
    }
    bool found = false;
    *position = Locate(it->second.entry, &found);
    *moved = !found;
    return S_OK;
}

HRESULT CTableView::BuildRow(const CTableRow& row, const mapistub::Allocators& allocators, void* parent,
                             LPSPropValue* props, ULONG* count) const
{
    *props = nullptr;
    *count = 0;
    ULONG columns = static_cast<ULONG>(m_columns.size());
    void* block = nullptr;
    ULONG size = std::max<ULONG>(columns, 1) * sizeof(SPropValue);
    HRESULT hr = parent ? allocators.allocateMore(size, parent, &block) : allocators.allocateBuffer(size, &block);
    if (FAILED(hr))
        return hr;
    void* root = parent ? parent : block;
    auto* values = static_cast<LPSPropValue>(block);
    for (ULONG i = 0; i < columns; ++i) {
        ULONG tag = m_columns[i];
        const SPropValue* value = row.FindTag(tag);
        if (!value) {
            values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            values[i].dwAlignPad = 0;
            values[i].Value.err = MAPI_E_NOT_FOUND;
            continue;
        }
        hr = PropCopyMore(&values[i], const_cast<LPSPropValue>(value), allocators.allocateMore, root);
        if (FAILED(hr)) {
            if (!parent)
                allocators.freeBuffer(block);
            return hr;
        }
    }
    *props = values;
    *count = columns;
    return S_OK;
}

void CTableView::Notify(ULONG event, const CTableRow* row, const CTableRow* prior, const CTableRow* removed,
                        CNotificationBatch& batch) const
{
    if (m_sinks.empty())
        return;
    const mapistub::Allocators ours = mapistub::DefaultAllocators();
    ULONG indexTag = m_data->IndexTag();
    for (const auto& sink : m_sinks) {
        void* block = nullptr;
        if (FAILED(MAPIAllocateBuffer(sizeof(NOTIFICATION), &block)))
            continue;
        auto* notification = static_cast<NOTIFICATION*>(block);
        ZeroMemory(notification, sizeof(NOTIFICATION));
        notification->ulEventType = fnevTableModified;
        TABLE_NOTIFICATION& table = notification->info.tab;
        table.ulTableEvent = event;
        table.hResult = S_OK;
        table.propIndex.ulPropTag = PR_NULL;
        table.propPrior.ulPropTag = PR_NULL;
        HRESULT hr = S_OK;
        const CTableRow* indexRow = row ? row : removed;
        if (indexRow) {
            if (const SPropValue* index = indexRow->FindTag(indexTag))
                hr = PropCopyMore(&table.propIndex, const_cast<LPSPropValue>(index), &MAPIAllocateMore, block);
        }
        if (SUCCEEDED(hr) && prior) {
            if (const SPropValue* index = prior->FindTag(indexTag))
                hr = PropCopyMore(&table.propPrior, const_cast<LPSPropValue>(index), &MAPIAllocateMore, block);
        }
        if (SUCCEEDED(hr) && row)
            hr = BuildRow(*row, ours, block, &table.row.lpProps, &table.row.cValues);
        if (FAILED(hr)) {
            MAPIFreeBuffer(block);
            continue;
        }
        batch.Add(sink.second, notification);
    }
}

void CTableView::OnRowInserted(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch)
{
    if (!m_dynamic || !Passes(*row))
        return;
    size_t position = InsertEntry(MakeEntry(row));
    if (HasSinks())
        Notify(TABLE_ROW_ADDED, row.get(), position > 0 ? m_entries[position - 1].row.get() : nullptr, nullptr, batch);
}

void CTableView::OnRowDeleted(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch)
{
    if (!m_dynamic)
        return;
    bool found = false;
    size_t position = Locate(MakeEntry(row), &found);
    if (!found)
        return;
    RemoveAt(position);
    if (HasSinks())
        Notify(TABLE_ROW_DELETED, nullptr, nullptr, row.get(), batch);
}

void CTableView::OnRowReplaced(const std::shared_ptr<CTableRow>& oldRow, const std::shared_ptr<CTableRow>& newRow,
                               CNotificationBatch& batch)
{
    if (!m_dynamic)
        return;
    bool wasShown = false;
    size_t oldPosition = Locate(MakeEntry(oldRow), &wasShown);
    bool isShown = Passes(*newRow);
    // The cursor stays on the row when it is replaced in place.
    bool cursorOnRow = wasShown && m_cursor == oldPosition;
    if (wasShown)
        RemoveAt(oldPosition);
    size_t newPosition = 0;
    if (isShown) {
        newPosition = InsertEntry(MakeEntry(newRow));
        if (cursorOnRow)
            m_cursor = newPosition;
    }
    for (auto& bookmark : m_bookmarks)
        if (!bookmark.second.atEnd && bookmark.second.entry.row == oldRow)
            bookmark.second.entry = MakeEntry(newRow);
    if (!HasSinks())
        return;
    const CTableRow* prior = isShown && newPosition > 0 ? m_entries[newPosition - 1].row.get() : nullptr;
    if (wasShown && isShown)
        Notify(TABLE_ROW_MODIFIED, newRow.get(), prior, nullptr, batch);
    else if (wasShown)
        Notify(TABLE_ROW_DELETED, nullptr, nullptr, oldRow.get(), batch);
    else if (isShown)
        Notify(TABLE_ROW_ADDED, newRow.get(), prior, nullptr, batch);
}

void CTableView::OnRowNotified(const std::shared_ptr<CTableRow>& row, CNotificationBatch& batch)
{
    if (!m_dynamic || !HasSinks())
        return;
    bool found = false;
    size_t position = Locate(MakeEntry(row), &found);
    if (found)
        Notify(TABLE_ROW_MODIFIED, row.get(), position > 0 ? m_entries[position - 1].row.get() : nullptr, nullptr,
               batch);
}

void CTableView::OnAllRowsDeleted(CNotificationBatch& batch)
{
    if (!m_dynamic)
        return;
    m_entries.clear();
    m_cursor = 0;
    if (HasSinks())
        Notify(TABLE_RELOAD, nullptr, nullptr, nullptr, batch);
}

STDMETHODIMP CTableView::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    // The table keeps no extended error information.
    *lppMAPIError = nullptr;
    return S_OK;
}

STDMETHODIMP CTableView::Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection)
{
    if (!lpAdviseSink || !lpulConnection)
        return MAPI_E_INVALID_PARAMETER;
    *lpulConnection = 0;
    if (!(ulEventMask & fnevTableModified))
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        ULONG connection = m_nextConnection++;
        m_sinks.emplace(connection, lpAdviseSink);
        lpAdviseSink->AddRef();
        *lpulConnection = connection;
        return S_OK;
    });
}

STDMETHODIMP CTableView::Unadvise(ULONG ulConnection)
{
    IMAPIAdviseSink* sink = nullptr;
    {
        CLockGuard guard(m_data->Lock());
        auto it = m_sinks.find(ulConnection);
        if (it == m_sinks.end())
            return MAPI_E_NOT_FOUND;
        sink = it->second;
        m_sinks.erase(it);
    }
    sink->Release();
    return S_OK;
}

STDMETHODIMP CTableView::GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType)
{
    if (!lpulTableStatus || !lpulTableType)
        return MAPI_E_INVALID_PARAMETER;
    *lpulTableStatus = TBLSTAT_COMPLETE;
    *lpulTableType = m_data->TableType();
    return S_OK;
}

STDMETHODIMP CTableView::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags)
{
    if (!lpPropTagArray)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        m_columns.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        return S_OK;
    });
}

STDMETHODIMP CTableView::QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray)
{
    if (!lpPropTagArray)
        return MAPI_E_INVALID_PARAMETER;
    *lpPropTagArray = nullptr;
    if (ulFlags & ~static_cast<ULONG>(TBL_ALL_COLUMNS))
        return MAPI_E_UNKNOWN_FLAGS;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        std::vector<ULONG> tags = m_columns;
        if (ulFlags & TBL_ALL_COLUMNS) {
            tags = m_data->Columns();
            auto addRow = [&](const CTableRow& row) {
                for (ULONG i = 0; i < row.Count(); ++i) {
                    ULONG tag = row.Props()[i].ulPropTag;
                    if (std::find(tags.begin(), tags.end(), tag) == tags.end())
                        tags.push_back(tag);
                }
            };
            if (m_dynamic)
                for (const auto& row : m_data->Rows())
                    addRow(*row);
            else
                for (const auto& item : m_snapshot)
                    addRow(*item.first);
        }
        void* block = nullptr;
        HRESULT hr = m_data->Allocators().allocateBuffer(CbNewSPropTagArray(tags.size()), &block);
        if (FAILED(hr))
            return hr;
        auto* result = static_cast<LPSPropTagArray>(block);
        result->cValues = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), result->aulPropTag);
        *lpPropTagArray = result;
        return S_OK;
    });
}

STDMETHODIMP CTableView::GetRowCount(ULONG ulFlags, ULONG* lpulCount)
{
    if (!lpulCount)
        return MAPI_E_INVALID_PARAMETER;
    CLockGuard guard(m_data->Lock());
    *lpulCount = static_cast<ULONG>(m_entries.size());
    return S_OK;
}

STDMETHODIMP CTableView::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought)
{
    if (lplRowsSought)
        *lplRowsSought = 0;
    CLockGuard guard(m_data->Lock());
    size_t origin = 0;
    bool moved = false;
    HRESULT hr = OriginPosition(bkOrigin, &origin, &moved);
    if (FAILED(hr))
        return hr;
    LONGLONG target = static_cast<LONGLONG>(origin) + lRowCount;
    if (target < 0)
        target = 0;
    if (target > static_cast<LONGLONG>(m_entries.size()))
        target = static_cast<LONGLONG>(m_entries.size());
    m_cursor = static_cast<size_t>(target);
    if (lplRowsSought)
        *lplRowsSought = static_cast<LONG>(target - static_cast<LONGLONG>(origin));
    return moved ? MAPI_W_POSITION_CHANGED : S_OK;
}

STDMETHODIMP CTableView::SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator)
{
    if (ulDenominator == 0)
        return MAPI_E_INVALID_PARAMETER;
    CLockGuard guard(m_data->Lock());
    if (ulNumerator >= ulDenominator)
        m_cursor = m_entries.size();
    else
        m_cursor = static_cast<size_t>(static_cast<ULONGLONG>(ulNumerator) * m_entries.size() / ulDenominator);
    return S_OK;
}

STDMETHODIMP CTableView::QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator)
{
    if (!lpulRow || !lpulNumerator || !lpulDenominator)
        return MAPI_E_INVALID_PARAMETER;
    CLockGuard guard(m_data->Lock());
    *lpulRow = static_cast<ULONG>(m_cursor);
    *lpulNumerator = static_cast<ULONG>(m_cursor);
    *lpulDenominator = static_cast<ULONG>(std::max<size_t>(m_entries.size(), 1));
    return S_OK;
}

STDMETHODIMP CTableView::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags)
{
    if (!lpRestriction)
        return MAPI_E_INVALID_PARAMETER;
    std::unique_ptr<CRestriction> restriction;
    HRESULT hr = CRestriction::Compile(lpRestriction, restriction);
    if (FAILED(hr))
        return hr;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        size_t origin = 0;
        bool moved = false;
        HRESULT result = OriginPosition(bkOrigin, &origin, &moved);
        if (FAILED(result))
            return result;
        if (ulFlags & DIR_BACKWARD) {
            // A backward search starts at the row before the origin.
            for (size_t i = std::min(origin, m_entries.size()); i > 0; --i) {
                if (restriction->Evaluate(*m_entries[i - 1].row)) {
                    m_cursor = i - 1;
                    return moved ? MAPI_W_POSITION_CHANGED : S_OK;
                }
            }
        } else {
            for (size_t i = origin; i < m_entries.size(); ++i) {
                if (restriction->Evaluate(*m_entries[i].row)) {
                    m_cursor = i;
                    return moved ? MAPI_W_POSITION_CHANGED : S_OK;
                }
            }
        }
        return MAPI_E_NOT_FOUND;
    });
}

STDMETHODIMP CTableView::Restrict(LPSRestriction lpRestriction, ULONG ulFlags)
{
    std::unique_ptr<CRestriction> restriction;
    if (lpRestriction) {
        HRESULT hr = CRestriction::Compile(lpRestriction, restriction);
        if (FAILED(hr))
            return hr;
    }
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        m_restriction = std::move(restriction);
        Rebuild();
        return S_OK;
    });
}

STDMETHODIMP CTableView::CreateBookmark(BOOKMARK* lpbkPosition)
{
    if (!lpbkPosition)
        return MAPI_E_INVALID_PARAMETER;
    *lpbkPosition = BOOKMARK_BEGINNING;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        if (m_bookmarks.size() >= 0x10000)
            return MAPI_E_UNABLE_TO_COMPLETE;
        Bookmark bookmark{true, Entry{nullptr, 0, std::string()}};
        if (m_cursor < m_entries.size()) {
            bookmark.atEnd = false;
            bookmark.entry = m_entries[m_cursor];
        }
        // Identifiers are never reused, so a freed bookmark stays invalid.
        ULONG id = m_nextBookmark++;
        if (id < 3)
            return MAPI_E_UNABLE_TO_COMPLETE;
        m_bookmarks.emplace(id, std::move(bookmark));
        *lpbkPosition = id;
        return S_OK;
    });
}

STDMETHODIMP CTableView::FreeBookmark(BOOKMARK bkPosition)
{
    if (bkPosition == BOOKMARK_BEGINNING || bkPosition == BOOKMARK_CURRENT || bkPosition == BOOKMARK_END)
        return S_OK;
    CLockGuard guard(m_data->Lock());
    return m_bookmarks.erase(bkPosition) ? S_OK : MAPI_E_INVALID_BOOKMARK;
}

STDMETHODIMP CTableView::SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags)
{
    if (!lpSortCriteria)
        return MAPI_E_INVALID_PARAMETER;
    HRESULT hr = CSortKey::Validate(lpSortCriteria);
    if (FAILED(hr))
        return hr;
    return mapistub::Guarded([&]() -> HRESULT {
        std::unique_ptr<CSortKey> sortKey;
        if (lpSortCriteria->cSorts > 0)
            sortKey.reset(new CSortKey(lpSortCriteria));
        CLockGuard guard(m_data->Lock());
        m_sortKey = std::move(sortKey);
        Rebuild();
        return S_OK;
    });
}

STDMETHODIMP CTableView::QuerySortOrder(LPSSortOrderSet* lppSortCriteria)
{
    if (!lppSortCriteria)
        return MAPI_E_INVALID_PARAMETER;
    *lppSortCriteria = nullptr;
    CLockGuard guard(m_data->Lock());
    ULONG count = m_sortKey ? static_cast<ULONG>(m_sortKey->Columns().size()) : 0;
    void* block = nullptr;
    HRESULT hr = m_data->Allocators().allocateBuffer(CbNewSSortOrderSet(count), &block);
    if (FAILED(hr))
        return hr;
    auto* result = static_cast<LPSSortOrderSet>(block);
    result->cSorts = count;
    result->cCategories = 0;
    result->cExpanded = 0;
    for (ULONG i = 0; i < count; ++i)
        result->aSort[i] = m_sortKey->Columns()[i];
    *lppSortCriteria = result;
    return S_OK;
}

STDMETHODIMP CTableView::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows)
{
    if (!lppRows)
        return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lRowCount == 0)
        return MAPI_E_INVALID_PARAMETER;
    return mapistub::Guarded([&]() -> HRESULT {
        CLockGuard guard(m_data->Lock());
        const mapistub::Allocators& allocators = m_data->Allocators();
        size_t first = m_cursor;
        size_t last = m_cursor;
        if (lRowCount >= 0) {
            last = std::min(m_entries.size(), m_cursor + static_cast<size_t>(lRowCount));
        } else {
            size_t back = static_cast<size_t>(-static_cast<LONGLONG>(lRowCount));
            first = m_cursor > back ? m_cursor - back : 0;
        }
        ULONG count = static_cast<ULONG>(last - first);
        void* block = nullptr;
        HRESULT hr = allocators.allocateBuffer(CbNewSRowSet(count), &block);
        if (FAILED(hr))
            return hr;
        auto* rows = static_cast<LPSRowSet>(block);
        rows->cRows = 0;
        for (size_t i = first; i < last; ++i) {
            SRow& out = rows->aRow[rows->cRows];
            out.ulAdrEntryPad = 0;
            hr = BuildRow(*m_entries[i].row, allocators, nullptr, &out.lpProps, &out.cValues);
            if (FAILED(hr)) {
                for (ULONG j = 0; j < rows->cRows; ++j)
                    allocators.freeBuffer(rows->aRow[j].lpProps);
                allocators.freeBuffer(block);
                return hr;
            }
            ++rows->cRows;
        }
        // A negative count moves the start back, then reads forwards; the
        // cursor ends after the last row read, or on the first with
        // TBL_NOADVANCE.
        m_cursor = (ulFlags & TBL_NOADVANCE) ? first : last;
        *lppRows = rows;
        return S_OK;
    });
}

STDMETHODIMP CTableView::Abort()
{
    // Every operation completes synchronously; there is nothing to stop.
    return S_OK;
}

STDMETHODIMP CTableView::ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                                   LPSRowSet* lppRows, ULONG* lpulMoreRows)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CTableView::CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags, ULONG* lpulRowCount)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CTableView::WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus)
{
    if (lpulTableStatus)
        *lpulTableStatus = TBLSTAT_COMPLETE;
    return S_OK;
}

STDMETHODIMP CTableView::GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                                          ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CTableView::SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                                          BOOKMARK* lpbkLocation)
{
    return MAPI_E_NO_SUPPORT;
}
