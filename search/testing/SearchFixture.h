// The mailbox database the search tests search, and a MAPI client's view of
// a search: a search folder made under the store's search root, its
// criteria set, its contents read once the store's search-complete
// notification came.
//
// Every message of the fixture carries a word of its own in the place the
// test looks for it (a body held only as RTF, only as HTML, only as MIME,
// large or small, a subject, a recipient), so that a search's matches name
// exactly the messages that hold the word.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "testing/ProviderFixture.h"

#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace searchtest {

using providertest::CStoreSession;

struct SSearchFixture {
    exchangefixture::SMailbox owner;   // "Searcher"
    int64_t inbox = 0;                 // the messages below
    int64_t sub = 0;                   // Inbox/Sub: "Nested plainword"
    int64_t deeper = 0;                // Inbox/Sub/Deeper: "Deep plainword"
    int64_t other = 0;                 // "Other": "Other plainword" (a sibling of Inbox)
    int64_t unnamed = 0;               // Inbox/<no name>: "Unnamed folder message"
    int64_t bulk = 0;                  // "Bulk": kBulkFolders sub-folders of RTF-only messages
    // A damaged tree that nothing above lists (each message says "loopword"):
    int64_t selfLoop = 0;              // "Self loop": its own parent, with "Beneath the loop" below it
    int64_t loopA = 0;                 // "Loop A" and "Loop B": each the other's parent
    exchangefixture::SMailbox second;  // "Second Mailbox"
    int64_t secondInbox = 0;           // "Second mailbox plainword"
    std::map<std::wstring, int64_t> messages;  // by subject, every message of Inbox and below
};

constexpr int kBulkFolders = 8;
constexpr int kBulkPerFolder = 40;

// The database, written once per process (with an empty log folder); its
// ids.
const std::wstring& SearchDatabase();
// A copy of the database in a folder of its own, for a store of its own.
std::wstring SearchDatabaseCopy(const std::wstring& name);
std::wstring SearchLogFolder();
const SSearchFixture& SearchIds();

// Restrictions built in memory the builder owns.
class CRestrictionBuilder {
public:
    SRestriction* Content(ULONG tag, const wchar_t* text, ULONG fuzzy = FL_SUBSTRING | FL_IGNORECASE);
    SRestriction* Property(ULONG relop, ULONG tag, const SPropValue& value);
    SRestriction* Bitmask(ULONG rel, ULONG tag, ULONG mask);
    SRestriction* Exist(ULONG tag);
    SRestriction* Not(SRestriction* inner);
    SRestriction* And(const std::vector<SRestriction*>& children);
    SRestriction* Or(const std::vector<SRestriction*>& children);
    SRestriction* Sub(ULONG subObject, SRestriction* inner);

private:
    SRestriction* Node();
    std::vector<std::unique_ptr<SRestriction>> m_nodes;
    std::vector<std::unique_ptr<SRestriction[]>> m_arrays;
    std::vector<std::unique_ptr<SPropValue>> m_values;
    std::list<std::wstring> m_texts;  // stable: values point into them
};

// An advise sink counting search-complete notifications; Wait blocks until
// the count reaches n (false on time-out).
class CSearchSink : public IMAPIAdviseSink {
public:
    CSearchSink();
    ~CSearchSink();
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override;

    bool Wait(LONG n, DWORD timeoutMs = 120000);
    LONG Count() const { return m_count; }
    const std::vector<BYTE>& LastFolder() const { return m_lastFolder; }
    const std::vector<BYTE>& LastParent() const { return m_lastParent; }
    ULONG LastObjectType() const { return m_lastType; }

private:
    volatile LONG m_refs = 1;
    volatile LONG m_count = 0;
    HANDLE m_event;
    CRITICAL_SECTION m_lock;
    std::vector<BYTE> m_lastFolder;
    std::vector<BYTE> m_lastParent;
    ULONG m_lastType = 0;
};

// One search folder of a store, made under its search root, with the
// store's notification subscribed for it.
class CSearchFolder {
public:
    CSearchFolder(IMsgStore* store, const wchar_t* name);
    ~CSearchFolder();

    IMAPIFolder* Folder() const { return m_folder.Get(); }
    IMAPIFolder* Root() const { return m_root.Get(); }
    const CEntryId& Id() const { return m_id; }
    CSearchSink& Sink() { return *m_sink; }
    HRESULT Status() const { return m_status; }

    HRESULT SetCriteria(SRestriction* restriction, const std::vector<CEntryId>& containers, ULONG flags);
    // The contents table (which starts the search when none ran yet).
    ComPtr<IMAPITable> Contents();
    // Lets the folder object go (the subscription stays).
    void ReleaseFolder() { m_folder.Reset(); }

private:
    IMsgStore* m_store;
    ComPtr<IMAPIFolder> m_root;
    ComPtr<IMAPIFolder> m_folder;
    CEntryId m_id;
    CSearchSink* m_sink;
    ULONG m_connection = 0;
    HRESULT m_status = S_OK;
};

// A store of the search database in a MAPI session of its own, shared by
// the tests of a process.
class CSearchStore {
public:
    static CSearchStore& Instance();
    IMsgStore* Store() const { return m_session->Store(); }
    const MAPIUID& Uid() const { return m_session->Uid(); }
    CStoreSession& Session() { return *m_session; }
    HRESULT Status() const;
    // Ends the session (before the process ends its MAPI).
    static void Close();

private:
    CSearchStore();
    std::unique_ptr<providertest::CMapiClient> m_client;
    std::unique_ptr<CStoreSession> m_session;
};

// The subjects of a table's rows.
std::set<std::wstring> Subjects(IMAPITable* table);

// Runs a search to its end: the subjects found.
std::set<std::wstring> Search(IMsgStore* store, SRestriction* restriction, const std::vector<CEntryId>& containers,
                              ULONG flags);

// Log lines holding text, written after the line count `after`.
size_t LogLineCount();
std::vector<std::wstring> LogLinesWith(const std::wstring& text, size_t after = 0);

} // namespace searchtest
