// A folder's contents table: a view of the folder's contents data (an
// in-memory table the folder prepared with the server's columns), empty
// until the caller first sets its columns. That first SetColumns reads
// every message row of the folder from the server in one call, keeps the
// normal or the associated ones, adds the columns the provider makes (entry
// identifiers, record and instance keys, the store's keys) and inserts the
// rows; later SetColumns calls only change the view's columns.
//
// The table keeps its folder alive, so that the folder's server cookie
// stays valid for the fill whenever the caller makes it.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CTable.h"

class CFolder;

class CContentsTable final : public CTable {
public:
    // A table over contentsData (referenced) for folder, with its view
    // opened; hands out IMAPITable.
    static HRESULT Create(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId, bool associated,
                          CFolder* folder, IMAPITable** out);

    // Opens the view of the contents data and keeps it.
    HRESULT OpenView();

    // The table's own record of a failed fill, else the view's.
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError);
    STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;

private:
    CContentsTable(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId, bool associated,
                   CFolder* folder);
    ~CContentsTable() override;

    HRESULT Fill(const SPropTagArray& columns);

    DWORD m_folderCookie;
    CEntryId m_folderId;
    bool m_associated;
    ComPtr<ITableData> m_contentsData;
    bool m_filled = false;
    ComPtr<IMAPIFolder> m_folder;
};
