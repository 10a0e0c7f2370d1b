// A folder's contents table: a view of the folder's contents data (an
// in-memory table the folder prepared with the server's columns), empty
// until the caller first sets its columns. That first SetColumns reads
// every message row of the folder from the server in one call, keeps the
// normal or the associated ones, adds the columns the provider makes (entry
// identifiers, record and instance keys, the store's keys) and inserts the
// rows. The rows belong to the folder and are shared by all its contents
// tables, so what has been filled (whether, and with which columns) is kept
// with them, under their own lock: a later SetColumns of any of these tables
// only changes its view's columns, unless it asks for a column no fill has
// read yet, which then reads those columns into the same rows.
//
// The table keeps its folder alive, so that the folder's server cookie
// stays valid for the fill whenever the caller makes it.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CCriticalSection.h"
#include "CTable.h"

#include <memory>
#include <vector>

class CFolder;

// What of a folder's contents data has been filled from the server.
struct SContentsFill {
    CCriticalSection lock;
    bool filled = false;
    std::vector<ULONG> columns; // the requested columns read so far
};

class CContentsTable final : public CTable {
public:
    // A table over contentsData (referenced) for folder, with its view
    // opened; hands out IMAPITable.
    // fill is shared by every table over the same data (a table of its own
    // when null).
    static HRESULT Create(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId, bool associated,
                          CFolder* folder, IMAPITable** out, std::shared_ptr<SContentsFill> fill = nullptr);

    // Opens the view of the contents data and keeps it.
    HRESULT OpenView();

    // The table's own record of a failed fill, else the view's.
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError);
    STDMETHODIMP SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;

private:
    CContentsTable(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId, bool associated,
                   CFolder* folder, std::shared_ptr<SContentsFill> fill);
    ~CContentsTable() override;

    // Reads the rows with columns from the server into the data: inserted,
    // or (replace) put in place of the rows already there.
    HRESULT Fill(const SPropTagArray& columns, bool replace);

    DWORD m_folderCookie;
    CEntryId m_folderId;
    bool m_associated;
    ComPtr<ITableData> m_contentsData;
    std::shared_ptr<SContentsFill> m_fill;
    ComPtr<IMAPIFolder> m_folder;
};
