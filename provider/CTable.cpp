#include "ProviderPlatform.h"
#include "CTable.h"
#include "CIpmSubtreeFolder.h"

#include "ProviderMemory.h"

#include <new>

HRESULT CreateProviderTable(ULONG type, ULONG indexTag, const SPropTagArray* columns, ComPtr<ITableData>& data)
{
    const SMapiMemory memory = ProviderMapiMemory();
    return CreateTable(nullptr, memory.allocateBuffer, memory.allocateMore, memory.freeBuffer, nullptr, type,
                       indexTag, const_cast<LPSPropTagArray>(columns), data.ReleaseAndGetAddressOf());
}

HRESULT HandOutView(ITableData* data, ULONG flag, IMAPITable** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!data)
        return E_INVALIDARG;
    ComPtr<IMAPITable> view;
    HRESULT hr = data->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
    if (FAILED(hr))
        return hr;
    return CTable::Create(view.Get(), flag, out);
}

HRESULT CTable::Create(IMAPITable* view, ULONG flag, IMAPITable** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!view)
        return E_INVALIDARG;
    CTable* table = new (std::nothrow) CTable(view, flag);
    if (!table)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = table;
    return S_OK;
}

CTable::CTable(IMAPITable* view, ULONG flag) : m_view(view), m_flag(flag), m_creationTick(GetTickCount()) {}

CTable::~CTable() = default;

// Every slot is the view's: a table is never handed out without one.
STDMETHODIMP CTable::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    return m_view->GetLastError(hResult, ulFlags, lppMAPIError);
}

STDMETHODIMP CTable::Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection)
{
    return m_view->Advise(ulEventMask, lpAdviseSink, lpulConnection);
}

STDMETHODIMP CTable::Unadvise(ULONG ulConnection)
{
    return m_view->Unadvise(ulConnection);
}

STDMETHODIMP CTable::GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType)
{
    return m_view->GetStatus(lpulTableStatus, lpulTableType);
}

STDMETHODIMP CTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags)
{
    return m_view->SetColumns(lpPropTagArray, ulFlags);
}

STDMETHODIMP CTable::QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray)
{
    return m_view->QueryColumns(ulFlags, lpPropTagArray);
}

STDMETHODIMP CTable::GetRowCount(ULONG ulFlags, ULONG* lpulCount)
{
    return m_view->GetRowCount(ulFlags, lpulCount);
}

STDMETHODIMP CTable::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought)
{
    return m_view->SeekRow(bkOrigin, lRowCount, lplRowsSought);
}

STDMETHODIMP CTable::SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator)
{
    return m_view->SeekRowApprox(ulNumerator, ulDenominator);
}

STDMETHODIMP CTable::QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator)
{
    return m_view->QueryPosition(lpulRow, lpulNumerator, lpulDenominator);
}

STDMETHODIMP CTable::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags)
{
    return m_view->FindRow(lpRestriction, bkOrigin, ulFlags);
}

STDMETHODIMP CTable::Restrict(LPSRestriction lpRestriction, ULONG ulFlags)
{
    return m_view->Restrict(lpRestriction, ulFlags);
}

STDMETHODIMP CTable::CreateBookmark(BOOKMARK* lpbkPosition)
{
    return m_view->CreateBookmark(lpbkPosition);
}

STDMETHODIMP CTable::FreeBookmark(BOOKMARK bkPosition)
{
    return m_view->FreeBookmark(bkPosition);
}

STDMETHODIMP CTable::SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags)
{
    return m_view->SortTable(lpSortCriteria, ulFlags);
}

STDMETHODIMP CTable::QuerySortOrder(LPSSortOrderSet* lppSortCriteria)
{
    return m_view->QuerySortOrder(lppSortCriteria);
}

STDMETHODIMP CTable::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows)
{
    return m_view->QueryRows(lRowCount, ulFlags, lppRows);
}

STDMETHODIMP CTable::Abort()
{
    return m_view->Abort();
}

STDMETHODIMP CTable::ExpandRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulRowCount, ULONG ulFlags,
                               LPSRowSet* lppRows, ULONG* lpulMoreRows)
{
    return m_view->ExpandRow(cbInstanceKey, pbInstanceKey, ulRowCount, ulFlags, lppRows, lpulMoreRows);
}

STDMETHODIMP CTable::CollapseRow(ULONG cbInstanceKey, LPBYTE pbInstanceKey, ULONG ulFlags, ULONG* lpulRowCount)
{
    return m_view->CollapseRow(cbInstanceKey, pbInstanceKey, ulFlags, lpulRowCount);
}

STDMETHODIMP CTable::WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus)
{
    return m_view->WaitForCompletion(ulFlags, ulTimeout, lpulTableStatus);
}

STDMETHODIMP CTable::GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                                      ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState)
{
    return m_view->GetCollapseState(ulFlags, cbInstanceKey, lpbInstanceKey, lpcbCollapseState, lppbCollapseState);
}

STDMETHODIMP CTable::SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                                      BOOKMARK* lpbkLocation)
{
    return m_view->SetCollapseState(ulFlags, cbCollapseState, pbCollapseState, lpbkLocation);
}

HRESULT CIpmHierarchyTable::Create(IMAPITable* view, ULONG flag, CIpmSubtreeFolder* folder, IMAPITable** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!view || !folder)
        return E_INVALIDARG;
    CIpmHierarchyTable* table = new (std::nothrow) CIpmHierarchyTable(view, flag, folder);
    if (!table)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = table;
    return S_OK;
}

CIpmHierarchyTable::CIpmHierarchyTable(IMAPITable* view, ULONG flag, CIpmSubtreeFolder* folder)
    : CTable(view, flag), m_folder(folder)
{
    m_folder->AddRef();
}

CIpmHierarchyTable::~CIpmHierarchyTable()
{
    m_folder->Release();
}
