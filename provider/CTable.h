// The provider's own table objects. Every table the provider hands to MAPI
// is a view of an in-memory table (ITableData, made by CreateTable) wrapped
// here: CTable forwards every slot to the view, so that the table is the
// provider's object; CIpmHierarchyTable also keeps its IPM subtree folder
// alive while it lives. The wrapper holds one reference to its view.
#pragma once
#include "ProviderPlatform.h"
#include "CMapiObject.h"
#include "MapiInterfaces.h"

class CIpmSubtreeFolder;

// The in-memory table every table of the provider is a view of, made with
// the provider's allocators (so that rows handed to callers come from
// them): CreateTable of the given type, indexed on indexTag, over columns.
HRESULT CreateProviderTable(ULONG type, ULONG indexTag, const SPropTagArray* columns, ComPtr<ITableData>& data);

// A view of data (no sort order) wrapped in a new CTable with flag; the
// IMAPITable handed out.
HRESULT HandOutView(ITableData* data, ULONG flag, IMAPITable** out);

class CTable : public CMapiObject<CTable, IMAPITable> {
public:
    // Wraps view (which the wrapper references). flag is the creator's and
    // not used by the wrapper: 0 hierarchy tables, 1 contents tables, 2 and 3
    // the message's tables.
    static HRESULT Create(IMAPITable* view, ULONG flag, IMAPITable** out);

    ULONG Flag() const { return m_flag; }

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError);
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
    STDMETHODIMP GetCollapseState(ULONG ulFlags, ULONG cbInstanceKey, LPBYTE lpbInstanceKey,
                                  ULONG* lpcbCollapseState, LPBYTE* lppbCollapseState) override;
    STDMETHODIMP SetCollapseState(ULONG ulFlags, ULONG cbCollapseState, LPBYTE pbCollapseState,
                                  BOOKMARK* lpbkLocation) override;

protected:
    friend class common::CUnknownImpl<CTable, IMAPITable>;
    CTable(IMAPITable* view, ULONG flag);
    ~CTable() override;

    // A view attached after construction (the contents table's).
    void AttachView(IMAPITable* view) { m_view = view; }
    IMAPITable* View() const { return m_view.Get(); }

private:
    ComPtr<IMAPITable> m_view;
    ULONG m_flag;
    DWORD m_creationTick;
};

// A hierarchy table of the IPM subtree: the folder stays alive while the
// table lives.
class CIpmHierarchyTable final : public CTable {
public:
    static HRESULT Create(IMAPITable* view, ULONG flag, CIpmSubtreeFolder* folder, IMAPITable** out);

private:
    CIpmHierarchyTable(IMAPITable* view, ULONG flag, CIpmSubtreeFolder* folder);
    ~CIpmHierarchyTable() override;

    CIpmSubtreeFolder* m_folder;
};
