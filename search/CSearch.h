// The search engine: one search of a search folder, run on a worker thread
// of its own. The database server cannot evaluate MAPI restrictions, so the
// engine reads every message row of every folder to be searched, turns each
// into a MAPI row with derived columns (plain text of bodies held only as
// HTML, compressed RTF or MIME, the To/Cc/Bcc lines, one boolean per
// recipient subrestriction, and the identity columns of a contents-table
// row), puts the rows into an in-memory working table, lets MAPI's table code
// evaluate the restriction on a view of it, and inserts the matching rows
// into the folder's result table. The store's search-complete notification
// ends every search, also one that was stopped or failed.
//
// Stops are asked by resetting the run event, which the worker polls once
// per row. Failures inside the engine are logged, never shown.
#pragma once
#include "ProviderPlatform.h"
#include "CLastError.h"
#include "HtmlToText.h"
#include "RTFToText.h"
#include "RestrictionCopy.h"
#include "SearchPhases.h"
#include "SearchRequest.h"
#include "Vostrel2007.h"

#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A value too large for the server's row that a message row's body is to be
// read from.
struct SSearchLargeRead {
    LONGLONG mid;
    ULONG tag;
};

class CSearch {
public:
    CSearch();
    ~CSearch();
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    // Takes the request, translates its restriction and lays out the
    // columns. A restriction the translation refuses is logged and leaves
    // the search without one: it then walks nothing and only notifies.
    bool Init(std::unique_ptr<SearchRequest> request);
    // Searches every folder of the request's list and notifies the store.
    HRESULT Go();

    // Searches the folder (none: the whole store) and, when recursive, the
    // folders below it; a folder met before is neither searched nor walked
    // again, and folders nested deeper than kMaxFolderDepth are left out.
    HRESULT WalkFolders(IEseStore* store, IEseFolder* folder, std::wstring path, ITableData* result, BOOL recursive);
    // Searches one folder; S_FALSE when it was searched before.
    HRESULT FillContentsTable(IEseFolder* folder, std::wstring& path, ITableData* result);

    // A damaged tree may loop through folders the server names without an
    // identifier; deeper walks are cut off here.
    static constexpr int kMaxFolderDepth = 256;

    // What the tests look at.
    const std::vector<ULONG>& ServerColumns() const { return m_serverColumns; }
    const std::vector<ULONG>& WorkingColumns() const { return m_workingColumns; }
    const SearchTagSet& Tags() const { return m_tags; }
    const SearchRequest* Request() const { return m_request.get(); }

private:
    friend HRESULT ApplySearchRestriction(CSearch* search, ITableData* working, ITableData* result);
    struct SRowContext;

    bool Running() const;
    void LayOutColumns();
    int WorkingPosition(ULONG propertyId) const;
    bool MessageRow(const _SEseRow& server) const;
    // The working table's matches into the result table; a restriction the
    // table refuses raises the engine's failure.
    void FilterInto(ITableData* working, ITableData* result);
    // The large values the bodies of the rows will be read from, in order.
    std::vector<SSearchLargeRead> LargeBodyReads(const _SEseRow* rows, ULONG count) const;
    void FillRow(SRowContext& row);
    // The body text column, from whichever source the message has: the
    // plain text itself, HTML or compressed RTF converted, or the MIME text
    // of a message kept only as MIME.
    void FillBody(SRowContext& row);
    struct SBodySource;
    SBodySource ChooseBodySource(const SPropValue* v, int plain, int html, int rtf) const;
    void FillPlainBodyFromRow(SPropValue* v, SPropValue& body);
    void FillLargePlainBody(SRowContext& row, SPropValue& body);
    void FillConvertedBody(SRowContext& row, const SBodySource& source, int html, int rtf, SPropValue& body);
    void FillBodyFromMime(SRowContext& row, SPropValue& body);
    void ConvertInto(SPropValue* v, SPropValue& body, ULONG form, IStream* input, int streamLine,
                     const wchar_t* streamFailure, const wchar_t* failure);
    void FillKeys(SRowContext& row, const std::wstring& path);
    void FillSubRestrictions(SRowContext& row);
    void NotifyComplete();
    void LogFailure(const wchar_t* method, const std::exception& error);
    void LogText(const wchar_t* text);

    SearchTagSet m_tags;
    std::unique_ptr<SearchRequest> m_request;
    std::vector<ULONG> m_serverColumns;
    std::vector<ULONG> m_workingColumns;
    std::unique_ptr<RTFToText> m_rtf;
    std::unique_ptr<HtmlToText> m_html;
    CLastError m_lastError;
    SubRestrictionMap m_subRestrictions;

    // Server columns read for the engine's own decisions only, after the
    // ones the working table takes (0 when not asked).
    ULONG m_workingServerCount = 0;  // server columns that go to the working table
    int m_hiddenColumn = -1;         // the server's hidden-row marker
    int m_mimeColumn = -1;           // the MIME text, asked when bodies are searched
    bool m_wantsBody = false;
    bool m_wantsRecipients = false;
    // The store entry identifier as MAPI wraps it, made once.
    HRESULT m_wrappedStoreIdResult = S_OK;
    std::vector<BYTE> m_wrappedStoreId;
    // Folders already searched: a folder met twice (overlapping entries of
    // the list, a damaged tree that loops) is searched and walked once.
    std::set<LONGLONG> m_visited;
    int m_depth = 0;
    bool m_depthLogged = false;
    // A restriction the table refuses is refused in every folder: once seen,
    // the search ends.
    bool m_refused = false;
    ULONGLONG m_memory = 0;
    // Where the search's time went, for a benchmark that asks.
    CSearchPhaseClock m_phases;
};

HRESULT ApplySearchRestriction(CSearch* search, ITableData* working, ITableData* result);

// The worker's thread procedure: runs the search of the request (which it
// owns) and signals the request's done event at its end.
DWORD WINAPI SearchThreadProc(LPVOID request);

// Tells the store of storeUid, when it is open, that the search of the folder
// folderId has ended (nothing for a search given up for a newer one). Never
// throws.
void NotifySearchEnd(const CSearchEvents& events, const MAPIUID& storeUid, const CEntryId& folderId);

// Starts a worker for the request; false (the request freed) when no thread
// could be made.
bool StartSearchThread(std::unique_ptr<SearchRequest> request);
