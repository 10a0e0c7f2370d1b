// The databases and MAPI sessions the provider's client tests share: fixture
// databases of both schema generations (and a public-folder store), written
// once per test process into a scratch folder, stores of them in one MAPI
// profile, and a session that opens them the way a MAPI client does.
#pragma once
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "ExchangeFixture.h"
#include "MessageFixtures.h"
#include "StoreProfile.h"
#include "testing/ProviderTestSupport.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace providertest {

using exchangefixture::EGeneration;

// What the mailbox fixture holds, by server id.
struct SMailboxFixture {
    exchangefixture::SMailbox alice;    // "Alice Lindqvist"
    exchangefixture::SMailbox bruno;    // "Bruno Castell" (top folder named in capitals)
    exchangefixture::SMailbox old;      // "Old Archive" (no top folder)
    int64_t inbox = 0;                  // Alice: 5 messages, 2 associated, 1 hidden
    int64_t projects = 0;               // Alice: Inbox/Projects, 1 message
    int64_t sent = 0;                   // Alice: 2 messages
    int64_t tree = 0;                   // Alice: "Archive Tree" with two sub-folders, no messages
    int64_t broken = 0;                 // Alice: a folder whose message table lacks its index
    std::vector<int64_t> inboxMessages; // in order
    std::vector<int64_t> inboxAssociated;
    int64_t hiddenMessage = 0;
    int64_t brunoInbox = 0;
    ULONG namedProps = 0;               // rows of "NamedProps"
    int64_t samples = 0;                // Alice: "Message Samples", one message of each kind
    exchangefixture::SMessageSamples sampleMessages;
    int64_t draft = 0;                  // in "Message Samples": unsent, without a body
    int64_t internetIds = 0;            // in "Message Samples": message id and references kept as ANSI text
    int64_t brokenMime = 0;             // in "Message Samples": held as MIME text that is none
};

struct SPublicFixture {
    int64_t projects = 0;     // under IPM_SUBTREE, 2 messages
    int64_t announcements = 0;
};

// The mailbox names as the server lists them.
extern const wchar_t kAliceName[];
extern const wchar_t kBrunoName[];
extern const wchar_t kOldName[];

void BuildMailboxFixture(exchangefixture::CExchangeDatabase& database, SMailboxFixture& ids);
void BuildPublicFixture(exchangefixture::CExchangeDatabase& database, SPublicFixture& ids);

// One scratch folder for the process, with the fixture databases; each
// database file sits in a folder of its own with an empty log folder.
class CFixtureFiles {
public:
    static CFixtureFiles& Instance();

    // A mailbox database of a generation, written once; the same ids for
    // both generations (the builder is deterministic).
    const std::wstring& Mailbox(EGeneration generation);
    // Another copy, for a store of its own (mailbox selections are kept per
    // store, and one database path is one store).
    std::wstring MailboxCopy(EGeneration generation, const std::wstring& name);
    const std::wstring& Public();
    const SMailboxFixture& MailboxIds() const { return m_mailboxIds; }
    const SPublicFixture& PublicIds() const { return m_publicIds; }
    std::wstring LogFolder() const;
    std::wstring Folder(const std::wstring& name) const;

private:
    CFixtureFiles();
    std::wstring Write(const exchangefixture::CExchangeDatabase& database, const std::wstring& name);

    CScratchDir m_dir;
    std::map<int, std::wstring> m_mailboxes;
    std::wstring m_public;
    SMailboxFixture m_mailboxIds;
    SPublicFixture m_publicIds;
};

// The process's MAPI client side: MAPI initialised, the resource library
// loaded for the test's own lookups (so that it finds the data directory the
// provider uses).
class CMapiClient {
public:
    CMapiClient();
    ~CMapiClient();
    CMapiClient(const CMapiClient&) = delete;
    CMapiClient& operator=(const CMapiClient&) = delete;
    HRESULT Status() const { return m_status; }

private:
    HRESULT m_status;
    bool m_comInitialised = false;
};

// Entry identifiers of a store's objects as the provider makes them.
CEntryId MailboxTopId(const MAPIUID& store, int64_t rootId);
CEntryId FolderId(const MAPIUID& store, int64_t rootId, int64_t fid);
CEntryId MessageId(const MAPIUID& store, int64_t rootId, int64_t fid, int64_t mid);

// Property helpers for tests.
struct CMapiBufferFree {
    void operator()(void* p) const { MAPIFreeBuffer(p); }
};
template <typename T>
using ClientBuffer = std::unique_ptr<T, CMapiBufferFree>;
struct CClientRowsFree {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using ClientRows = std::unique_ptr<SRowSet, CClientRowsFree>;

// GetProps of the given tags; hr receives the call's result.
ClientBuffer<SPropValue> GetProps(IMAPIProp* object, const std::vector<ULONG>& tags, HRESULT& hr, ULONG flags = 0);
// Every row of a table with the given columns (none: the table's own).
ClientRows AllRows(IMAPITable* table, const std::vector<ULONG>& columns = {});
const SPropValue* FindProp(const SPropValue* values, ULONG count, ULONG tag);
std::vector<BYTE> Bytes(const SPropValue* value);
std::wstring Text(const SPropValue* value);
// The last error's text of an object (empty when none).
std::wstring LastErrorText(IMAPIProp* object, HRESULT hr = S_OK);
std::wstring LastErrorText(IMAPITable* table, HRESULT hr = S_OK);
HRESULT OpenEntry(IMsgStore* store, const CEntryId& id, ULONG flags, ULONG* type, IUnknown** object);
HRESULT OpenEntry(IMAPIContainer* container, const CEntryId& id, ULONG flags, ULONG* type, IUnknown** object);

} // namespace providertest

namespace providertest {

// One store of the provider opened through a MAPI session of its own
// profile; everything is let go in order when the object goes.
class CStoreSession {
public:
    explicit CStoreSession(const SStoreSettings& settings, const wchar_t* profilePrefix = L"ProviderTest");
    ~CStoreSession();
    CStoreSession(const CStoreSession&) = delete;
    CStoreSession& operator=(const CStoreSession&) = delete;

    HRESULT Status() const { return m_status; }
    IMsgStore* Store() const { return m_store.Get(); }
    IMAPISession* Session() const { return m_session.Get(); }
    CStoreProfile& Profile() { return m_profile; }
    const MAPIUID& Uid() const { return m_uid; }
    // Adds the subsystem's writable store and opens it.
    HRESULT OpenWritableStore(IMsgStore** store);
    // Lets the store go and logs the session off.
    void Close();

private:
    CStoreProfile m_profile;
    MAPIUID m_uid = {};
    HRESULT m_status = S_OK;
    ComPtr<IMAPISession> m_session;
    ComPtr<IMsgStore> m_store;
};

} // namespace providertest
