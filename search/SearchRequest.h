// What a search folder hands to the worker thread of one search: the
// request (its own copies of the criteria, the folder's and the store's
// identifiers, the result table) and the two events through which the
// folder stops the search and learns of its end.
//
// The events belong to the folder and to every search it started, all
// together: each holds a reference, and the handles are closed when the last
// one lets go. A search whose folder went away meanwhile thus still polls
// and signals live handles.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "MapiPtr.h"

#include <memory>

class CSearchEvents {
public:
    // Run: manual reset, signalled while the search may run. Done: manual
    // reset, unsignalled while it runs. Null when either cannot be made.
    static std::shared_ptr<CSearchEvents> Create();
    // The events of a folder's next search: current again, set going, when
    // its search has ended and was not given up; else new ones. A search
    // still running is given up, so that the next one's start does not set
    // it going again, and events once given up are never reused (what their
    // search gathers goes nowhere). Null when new ones cannot be made.
    static std::shared_ptr<CSearchEvents> ForNextSearch(const std::shared_ptr<CSearchEvents>& current);
    ~CSearchEvents();
    CSearchEvents(const CSearchEvents&) = delete;
    CSearchEvents& operator=(const CSearchEvents&) = delete;

    HANDLE Run() const { return m_run; }
    HANDLE Done() const { return m_done; }
    bool Finished() const { return WaitForSingleObject(m_done, 0) == WAIT_OBJECT_0; }

    // A search given up for a newer one of the same folder: it stops, and
    // what it gathers no longer reaches the result table or the client.
    void Abandon()
    {
        InterlockedExchange(&m_abandoned, 1);
        ResetEvent(m_run);
    }
    bool Abandoned() const { return m_abandoned != 0; }

private:
    CSearchEvents(HANDLE run, HANDLE done) : m_run(run), m_done(done) {}

    HANDLE m_run;
    HANDLE m_done;
    volatile LONG m_abandoned = 0;
};

struct SearchRequest {
    CEntryId searchFolderId;
    CEntryId storeId;
    DWORD storeCookie = 0;
    MapiPtr<ENTRYLIST> containers;
    ULONG flags = 0;
    ComPtr<ITableData> result;
    MapiPtr<SRestriction> restriction;
    MapiPtr<SPropTagArray> columns;
    std::shared_ptr<CSearchEvents> events;
    // The module holding the worker's code, kept loaded until it ends.
    HMODULE pinnedModule = nullptr;
};

// A deep copy of an entry list in one buffer chain; null for a null list.
MapiPtr<ENTRYLIST> CopyEntryList(const ENTRYLIST* list, HRESULT& hr);
