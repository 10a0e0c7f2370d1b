// Searches as a MAPI client runs them over the search fixture: criteria on
// subjects, on bodies held in every form, on properties; one folder, a tree,
// the whole store; the rows found, the one notification of the end, stops
// and new criteria while a search runs, a folder let go during its search,
// and a restriction the engine cannot evaluate.
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "SearchColumns.h"
#include "testing/SearchFixture.h"
#include "testing/SearchTestSupport.h"
#include "testing/StoreClientTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace searchtest;
using namespace providertest;

namespace {

constexpr ULONG kPrMessageAttachments = 0x0E13000D;

using Subjects = std::set<std::wstring>;

class SearchEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CSearchStore::Instance().Status());
        store = CSearchStore::Instance().Store();
        uid = CSearchStore::Instance().Uid();
    }

    const SSearchFixture& Ids() const { return SearchIds(); }
    CEntryId Folder(int64_t fid) const { return FolderId(uid, Ids().owner.rootId, fid); }
    CEntryId Inbox() const { return Folder(Ids().inbox); }
    CEntryId Bulk() const { return Folder(Ids().bulk); }

    IMsgStore* store = nullptr;
    MAPIUID uid = {};
};

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string Listed(const Subjects& subjects)
{
    std::string text;
    for (const std::wstring& s : subjects)
        text += "[" + Narrow(s) + "] ";
    return text;
}

SPropValue Unicode(ULONG tag, const wchar_t* text)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.lpszW = const_cast<LPWSTR>(text);
    return value;
}

TEST_F(SearchEngineTest, FindsWordsWhereverTheMessageHoldsThem)
{
    CRestrictionBuilder b;
    const std::vector<CEntryId> inbox = {Inbox()};
    const std::vector<CEntryId> inboxAndOther = {Inbox(), Folder(Ids().other)};
    const std::vector<CEntryId> overlapping = {Inbox(), Folder(Ids().sub)};
    const std::vector<CEntryId> wholeStore = {CEntryId(kEntryIpmSubtree, uid)};
    struct Case {
        const char* what;
        SRestriction* restriction;
        std::vector<CEntryId> containers;
        ULONG flags;
        Subjects expected;
    };
    const Case cases[] = {
        {"a subject", b.Content(PR_SUBJECT_W, L"quarterly"), inbox, 0, {L"Quarterly report"}},
        {"a plain body", b.Content(PR_BODY_W, L"plainword"), inbox, 0, {L"Plain only"}},
        {"a body held only as RTF", b.Content(PR_BODY_W, L"rtfword"), inbox, 0, {L"RTF only"}},
        {"a body held only as HTML", b.Content(PR_BODY_W, L"htmlword"), inbox, 0, {L"HTML only"}},
        {"a body held only as MIME", b.Content(PR_BODY_W, L"mimeword"), inbox, 0, {L"MIME only"}},
        {"an HTML body held only as MIME", b.Content(PR_BODY_W, L"mimemarkupword"), inbox, 0, {L"MIME HTML only"}},
        {"a plain body beside RTF", b.Content(PR_BODY_W, L"plainsideword"), inbox, 0, {L"RTF beside plain"}},
        {"RTF is not read where a plain body is held", b.Content(PR_BODY_W, L"rtfonlyword"), inbox, 0, {}},
        {"a body in the ANSI code page", b.Content(PR_BODY_W, L"caf\u00E9 ansiword"), inbox, 0, {L"ANSI body"}},
        {"a plain body too large for the row", b.Content(PR_BODY_W, L"plainlargeword"), inbox, 0, {L"Plain large"}},
        {"an RTF body too large for the row", b.Content(PR_BODY_W, L"rtflargeword"), inbox, 0, {L"RTF large"}},
        {"an HTML body too large for the row", b.Content(PR_BODY_W, L"htmllargeword"), inbox, 0, {L"HTML large"}},
        {"MIME too large for the row", b.Content(PR_BODY_W, L"mimelargeword"), inbox, 0, {L"MIME large"}},
        {"all three too large: the RTF is read", b.Content(PR_BODY_W, L"everyrichtext"), inbox, 0, {L"All large"}},
        {"all three too large: not the HTML", b.Content(PR_BODY_W, L"everyhypertext"), inbox, 0, {}},
        {"all three too large: not the plain text", b.Content(PR_BODY_W, L"everyplain"), inbox, 0, {}},
        {"a property value", b.Property(RELOP_EQ, PR_SUBJECT_W, Unicode(PR_SUBJECT_W, L"RTF only")), inbox, 0,
         {L"RTF only"}},
        {"a bit of the flags", b.Bitmask(BMR_NEZ, PR_MESSAGE_FLAGS, MSGFLAG_READ), inbox, 0, {L"Quarterly report"}},
        {"either of two", b.Or({b.Content(PR_BODY_W, L"rtfword"), b.Property(RELOP_EQ, PR_SUBJECT_W, Unicode(PR_SUBJECT_W, L"HTML only"))}), inbox, 0,
         {L"RTF only", L"HTML only"}},
        {"a subrestriction on attachments never holds", b.Sub(kPrMessageAttachments, b.Exist(PR_ATTACH_NUM)), inbox,
         0, {}},
        {"the folder only", b.Content(PR_BODY_W, L"plainword"), inbox, 0, {L"Plain only"}},
        {"the folder and its sub-folders", b.Content(PR_BODY_W, L"plainword"), inbox, RECURSIVE_SEARCH,
         {L"Plain only", L"Nested plainword", L"Deep plainword", L"Beneath damaged plainword"}},
        {"two folders", b.Content(PR_BODY_W, L"plainword"), inboxAndOther, 0, {L"Plain only", L"Other plainword"}},
        {"folders met twice", b.Content(PR_BODY_W, L"plainword"), overlapping, RECURSIVE_SEARCH,
         {L"Plain only", L"Nested plainword", L"Deep plainword", L"Beneath damaged plainword"}},
        {"the whole store", b.Content(PR_BODY_W, L"plainword"), wholeStore, RECURSIVE_SEARCH,
         {L"Plain only", L"Nested plainword", L"Deep plainword", L"Beneath damaged plainword", L"Other plainword",
          L"Second mailbox plainword"}},
        {"the folder path the engine makes",
         b.And({b.Content(PR_BODY_W, L"plainword"), b.Content(PR_PARENT_DISPLAY_W, L"\\Inbox\\Sub")}), inbox,
         RECURSIVE_SEARCH, {L"Nested plainword", L"Deep plainword"}},
    };
    for (const Case& c : cases) {
        CSearchFolder folder(store, L"Words");
        ASSERT_EQ(S_OK, folder.Status()) << c.what;
        ASSERT_EQ(S_OK, folder.SetCriteria(c.restriction, c.containers, c.flags)) << c.what;
        ComPtr<IMAPITable> table = folder.Contents();
        ASSERT_NE(nullptr, table) << c.what;
        ASSERT_TRUE(folder.Sink().Wait(1)) << c.what;
        const Subjects found = Subjects(searchtest::Subjects(table.Get()));
        EXPECT_EQ(c.expected, found) << c.what << ": " << Listed(found);
        ULONG count = 0;
        EXPECT_EQ(S_OK, table->GetRowCount(0, &count));
        EXPECT_EQ(c.expected.size(), count) << c.what << ": every message once";
    }
}

TEST_F(SearchEngineTest, FindsRecipientsByTheirLinesAndByRestrictionsOnThemselves)
{
    CRestrictionBuilder b;
    SPropValue cc = {};
    cc.ulPropTag = PR_RECIPIENT_TYPE;
    cc.Value.l = MAPI_CC;
    SPropValue to = cc;
    to.Value.l = MAPI_TO;
    const Subjects recipients = {L"Recipients of every layout"};
    struct Case {
        const char* what;
        SRestriction* restriction;
        Subjects expected;
    };
    const Case cases[] = {
        {"a name on the To line", b.Content(PR_DISPLAY_TO_W, L"carla"), recipients},
        {"a name on the Cc line", b.Content(PR_DISPLAY_CC_W, L"dmitri"), recipients},
        {"a Cc name is not on the To line", b.Content(PR_DISPLAY_TO_W, L"dmitri"), {}},
        {"a name on the Bcc line", b.Content(PR_DISPLAY_BCC_W, L"erik"), recipients},
        {"a recipient of a kind",
         b.Sub(PR_MESSAGE_RECIPIENTS,
               b.And({b.Property(RELOP_EQ, PR_RECIPIENT_TYPE, cc), b.Content(PR_DISPLAY_NAME_W, L"dmitri")})),
         recipients},
        {"no recipient of that kind",
         b.Sub(PR_MESSAGE_RECIPIENTS,
               b.And({b.Property(RELOP_EQ, PR_RECIPIENT_TYPE, to), b.Content(PR_DISPLAY_NAME_W, L"dmitri")})),
         {}},
        {"a recipient's address", b.Sub(PR_MESSAGE_RECIPIENTS, b.Content(PR_EMAIL_ADDRESS_W, L"alice@example")),
         recipients},
        {"two recipients, each its own test",
         b.And({b.Sub(PR_MESSAGE_RECIPIENTS, b.Content(PR_DISPLAY_NAME_W, L"alice")),
                b.Sub(PR_MESSAGE_RECIPIENTS, b.Content(PR_DISPLAY_NAME_W, L"erik"))}),
         recipients},
        {"lines and bodies together",
         b.Or({b.Content(PR_DISPLAY_CC_W, L"team leads"), b.Content(PR_BODY_W, L"rtfword")}),
         {L"Recipients of every layout", L"RTF only"}},
    };
    for (const Case& c : cases) {
        const Subjects found = Search(store, c.restriction, {Inbox()}, 0);
        EXPECT_EQ(c.expected, found) << c.what << ": " << Listed(found);
    }
    // A message without recipients has none that matches: the negation
    // holds for it.
    const Subjects others =
        Search(store, b.Not(b.Sub(PR_MESSAGE_RECIPIENTS, b.Content(PR_DISPLAY_NAME_W, L"dmitri"))), {Inbox()}, 0);
    EXPECT_EQ(0u, others.count(L"Recipients of every layout"));
    EXPECT_EQ(1u, others.count(L"Plain only"));
    EXPECT_EQ(1u, others.count(L"MIME only"));
}

TEST_F(SearchEngineTest, NeverFindsAssociatedOrHiddenMessagesOrChildFolderRows)
{
    CRestrictionBuilder b;
    // The instance key is the engine's own column: every row has one.
    const Subjects found = Search(store, b.Exist(PR_INSTANCE_KEY), {Inbox()}, 0);
    EXPECT_EQ(0u, found.count(L"Associated plainword"));
    EXPECT_EQ(0u, found.count(L"Hidden plainword"));
    EXPECT_EQ(0u, found.count(L"Sub"));
    EXPECT_EQ(1u, found.count(L"Plain only"));
    EXPECT_EQ(1u, found.count(L"Recipients of every layout"));
}

TEST_F(SearchEngineTest, RowsCarryTheIdentityOfAContentsRowOfTheStore)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Identity");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Or({b.Content(PR_SUBJECT_W, L"Plain only"),
                                             b.Content(PR_SUBJECT_W, L"Nested plainword"),
                                             b.Content(PR_SUBJECT_W, L"Unnamed folder message")}),
                                       {Inbox()}, RECURSIVE_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    ASSERT_TRUE(folder.Sink().Wait(1));

    // The notification names the search folder under the store.
    EXPECT_EQ(IdBytes(folder.Id()), folder.Sink().LastFolder());
    EXPECT_EQ(IdBytes(CEntryId(kEntryMessageStore, uid)), folder.Sink().LastParent());
    EXPECT_EQ(static_cast<ULONG>(MAPI_FOLDER), folder.Sink().LastObjectType());

    LPSPropTagArray raw = nullptr;
    ASSERT_EQ(S_OK, table->QueryColumns(0, &raw));
    ClientBuffer<SPropTagArray> columns(raw);
    EXPECT_EQ(WrittenResultColumns(), std::vector<ULONG>(columns->aulPropTag, columns->aulPropTag + columns->cValues));

    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> storeIds = GetProps(store, {PR_STORE_ENTRYID}, hr);
    ASSERT_EQ(S_OK, hr);
    const std::vector<BYTE> wrapped = Bytes(storeIds.get());

    const std::vector<ULONG> tags = {PR_SUBJECT_W,   PR_INSTANCE_KEY,      PR_ENTRYID,          PR_RECORD_KEY,
                                     kPrLongTermEntryIdFromTable, PR_PARENT_ENTRYID, PR_MAPPING_SIGNATURE,
                                     PR_STORE_RECORD_KEY, PR_STORE_ENTRYID, PR_OBJECT_TYPE, PR_ACCESS,
                                     PR_ACCESS_LEVEL, PR_PARENT_DISPLAY_W};
    ClientRows rows = AllRows(table.Get(), tags);
    ASSERT_NE(nullptr, rows);
    ASSERT_EQ(3u, rows->cRows);
    const std::map<std::wstring, std::pair<int64_t, std::wstring>> where = {
        {L"Plain only", {Ids().inbox, L"\\Inbox"}},
        {L"Nested plainword", {Ids().sub, L"\\Inbox\\Sub"}},
        {L"Unnamed folder message", {Ids().unnamed, L"\\Inbox\\?"}},
    };
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        const std::wstring subject = Text(&v[0]);
        ASSERT_EQ(1u, where.count(subject)) << Narrow(subject);
        const int64_t fid = where.at(subject).first;
        const int64_t mid = Ids().messages.at(subject);
        const CEntryId message = MessageId(uid, Ids().owner.rootId, fid, mid);
        std::vector<BYTE> key(8);
        const ULONGLONG m = static_cast<ULONGLONG>(mid);
        const ULONG high = static_cast<ULONG>(m >> 32), low = static_cast<ULONG>(m);
        std::memcpy(key.data(), &high, 4);
        std::memcpy(key.data() + 4, &low, 4);
        EXPECT_EQ(key, Bytes(&v[1])) << Narrow(subject);
        EXPECT_EQ(IdBytes(message), Bytes(&v[2])) << Narrow(subject);
        EXPECT_EQ(IdBytes(message), Bytes(&v[3])) << Narrow(subject);
        EXPECT_EQ(IdBytes(message), Bytes(&v[4])) << Narrow(subject);
        EXPECT_EQ(IdBytes(folder.Id()), Bytes(&v[5])) << Narrow(subject);
        EXPECT_EQ(UidBytes(uid), Bytes(&v[6])) << Narrow(subject);
        EXPECT_EQ(UidBytes(uid), Bytes(&v[7])) << Narrow(subject);
        EXPECT_EQ(wrapped, Bytes(&v[8])) << Narrow(subject);
        EXPECT_EQ(static_cast<LONG>(MAPI_MESSAGE), v[9].Value.l);
        EXPECT_EQ(MAPI_ACCESS_READ, v[10].Value.l);
        EXPECT_EQ(0, v[11].Value.l);
        EXPECT_EQ(where.at(subject).second, Text(&v[12])) << Narrow(subject);
    }
}

TEST_F(SearchEngineTest, NotifiesOnceAtTheEnd)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Once");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"plainword"), {Inbox()}, RECURSIVE_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    ASSERT_TRUE(folder.Sink().Wait(1));
    // Another look at the contents neither searches nor notifies again.
    ComPtr<IMAPITable> again = folder.Contents();
    ASSERT_NE(nullptr, again);
    Sleep(500);
    EXPECT_EQ(1, folder.Sink().Count());
    EXPECT_EQ(4u, searchtest::Subjects(again.Get()).size());
}

TEST_F(SearchEngineTest, ASearchStartedWithStopSearchWalksNothingAndNotifies)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Stopped at once");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"plainword"), {Inbox()}, STOP_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    ASSERT_TRUE(folder.Sink().Wait(1));
    EXPECT_TRUE(searchtest::Subjects(table.Get()).empty());
}

// How many rows a table shows now.
ULONG RowCount(IMAPITable* table)
{
    ULONG count = 0;
    table->GetRowCount(0, &count);
    return count;
}

TEST_F(SearchEngineTest, StopSearchEndsARunningSearchKeepingWhatItFound)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Stopped");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulkeven"), {Bulk()}, RECURSIVE_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    // Once the first folder's matches are in, stop.
    for (int i = 0; i < 3000 && RowCount(table.Get()) == 0 && folder.Sink().Count() == 0; ++i)
        Sleep(10);
    const ULONG before = RowCount(table.Get());
    const DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, folder.Folder()->SetSearchCriteria(nullptr, nullptr, STOP_SEARCH));
    EXPECT_LT(GetTickCount() - start, 20000u) << "the search stops at its next row";
    ASSERT_TRUE(folder.Sink().Wait(1));
    const ULONG after = RowCount(table.Get());
    EXPECT_LE(before, after) << "what was found stays";
    Sleep(300);
    EXPECT_EQ(1, folder.Sink().Count());
    EXPECT_EQ(after, RowCount(table.Get())) << "nothing arrives after the end";

    LPSRestriction restriction = reinterpret_cast<LPSRestriction>(1);
    LPENTRYLIST list = reinterpret_cast<LPENTRYLIST>(1);
    ULONG state = 0;
    ASSERT_EQ(S_OK, folder.Folder()->GetSearchCriteria(0, &restriction, &list, &state));
    EXPECT_EQ(nullptr, restriction);
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(static_cast<ULONG>(STOP_SEARCH), state);
}

TEST_F(SearchEngineTest, NewCriteriaWhileASearchRunsReplaceItsResults)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Changed");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulkeven"), {Bulk()}, RECURSIVE_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    for (int i = 0; i < 3000 && RowCount(table.Get()) == 0 && folder.Sink().Count() == 0; ++i)
        Sleep(10);
    // The first search has found its first folder's matches and goes on.
    ASSERT_EQ(0, folder.Sink().Count()) << "the first search already ended";
    ASSERT_LT(0u, RowCount(table.Get()));
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulkodd"), {Bulk()}, RECURSIVE_SEARCH));
    // The first search ended (stopped or done) before the second began.
    ASSERT_TRUE(folder.Sink().Wait(2));
    const Subjects found = searchtest::Subjects(table.Get());
    EXPECT_EQ(static_cast<size_t>(kBulkFolders * kBulkPerFolder / 2), found.size());
    for (const std::wstring& subject : found) {
        const int m = std::stoi(subject.substr(subject.find(L'.') + 1));
        EXPECT_EQ(1, m % 2) << Narrow(subject);
    }
    EXPECT_EQ(found.size(), RowCount(table.Get()));
}

// Counts the rows a table view reports added, and how many of them came
// before the search's end.
class CTableSink : public IMAPIAdviseSink {
public:
    explicit CTableSink(CSearchSink& search) : m_search(search) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIAdviseSink))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override
    {
        for (ULONG i = 0; i < cNotif; ++i)
            if (lpNotifications[i].ulEventType == fnevTableModified &&
                lpNotifications[i].info.tab.ulTableEvent == TABLE_ROW_ADDED) {
                InterlockedIncrement(&added);
                if (m_search.Count() == 0)
                    InterlockedIncrement(&addedBeforeEnd);
            }
        return 0;
    }
    volatile LONG added = 0;
    volatile LONG addedBeforeEnd = 0;

private:
    CSearchSink& m_search;
};

TEST_F(SearchEngineTest, TheContentsTableFillsWhileTheClientReadsIt)
{
    CRestrictionBuilder b;
    CSearchFolder folder(store, L"Watched");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulk"), {Bulk()}, RECURSIVE_SEARCH));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    CTableSink sink(folder.Sink());
    ULONG connection = 0;
    ASSERT_EQ(S_OK, table->Advise(fnevTableModified, &sink, &connection));
    // Read the rows again and again while they arrive: every read sees whole
    // rows, never fewer than the read before.
    ULONG last = 0;
    int reads = 0;
    while (folder.Sink().Count() == 0 && reads < 100000) {
        ClientRows rows = AllRows(table.Get(), {PR_SUBJECT_W, PR_ENTRYID});
        ASSERT_NE(nullptr, rows);
        EXPECT_LE(last, rows->cRows);
        for (ULONG r = 0; r < rows->cRows; ++r)
            EXPECT_EQ(sizeof(CEntryId), rows->aRow[r].lpProps[1].Value.bin.cb);
        last = rows->cRows;
        ++reads;
        Sleep(5);
    }
    ASSERT_TRUE(folder.Sink().Wait(1));
    EXPECT_EQ(static_cast<ULONG>(kBulkFolders * kBulkPerFolder), RowCount(table.Get()));
    table->Unadvise(connection);
    EXPECT_EQ(kBulkFolders * kBulkPerFolder, sink.added);
    EXPECT_GT(sink.addedBeforeEnd, 0) << "rows reach the client before the search ends";
}

TEST_F(SearchEngineTest, AFolderLetGoDuringItsSearchLeavesNothingBehind)
{
    CRestrictionBuilder b;
    // A search to its end first, so that what the process sets up once for
    // searches (the server's connection, the converters' classes) is there.
    {
        CSearchFolder warm(store, L"Warm");
        ASSERT_EQ(S_OK, warm.Status());
        ASSERT_EQ(S_OK, warm.SetCriteria(b.Content(PR_BODY_W, L"bulkodd"), {Bulk()}, RECURSIVE_SEARCH));
        ComPtr<IMAPITable> table = warm.Contents();
        ASSERT_TRUE(warm.Sink().Wait(1));
    }
    Sleep(500);
    const auto handles = [] {
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        return count;
    };
    const DWORD baseline = handles();
    {
        CSearchFolder folder(store, L"Let go");
        ASSERT_EQ(S_OK, folder.Status());
        ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulkodd"), {Bulk()}, RECURSIVE_SEARCH));
        {
            ComPtr<IMAPITable> table = folder.Contents();
            ASSERT_NE(nullptr, table);
        }
        folder.ReleaseFolder();
        // The search runs on to its end and still tells the store.
        ASSERT_TRUE(folder.Sink().Wait(1));
    }
    DWORD now = handles();
    for (int i = 0; i < 200 && now > baseline; ++i) {
        Sleep(50);
        now = handles();
    }
    EXPECT_LE(now, baseline) << "handles of the search are all closed";
}

TEST_F(SearchEngineTest, ARestrictionTheEngineCannotEvaluateEndsTheSearch)
{
    CRestrictionBuilder b;
    std::vector<SRestriction*> many;
    for (int i = 0; i < 0x401; ++i)
        many.push_back(b.Sub(PR_MESSAGE_RECIPIENTS, b.Exist(PR_DISPLAY_NAME_W)));
    const size_t lines = LogLineCount();
    CSearchFolder folder(store, L"Too complex");
    ASSERT_EQ(S_OK, folder.Status());
    ASSERT_EQ(S_OK, folder.SetCriteria(b.Or(many), {Inbox()}, 0));
    ComPtr<IMAPITable> table = folder.Contents();
    ASSERT_NE(nullptr, table);
    ASSERT_TRUE(folder.Sink().Wait(1));
    EXPECT_TRUE(searchtest::Subjects(table.Get()).empty());
    EXPECT_EQ(1u, LogLinesWith(L"Error in file: .\\Search, line: 112, code:0x80040117", lines).size());
}

TEST_F(SearchEngineTest, BodiesAreConvertedOnlyForRestrictionsOnTheBody)
{
    CRestrictionBuilder b;
    size_t lines = LogLineCount();
    EXPECT_EQ(Subjects{L"Damaged RTF"}, Search(store, b.Content(PR_SUBJECT_W, L"damaged rtf"), {Inbox()}, 0));
    EXPECT_TRUE(LogLinesWith(L"RTFToText.Convert failed", lines).empty());

    lines = LogLineCount();
    // The damaged body fails to convert; the search goes on past it.
    EXPECT_EQ((Subjects{L"RTF only", L"RTF large"}), Search(store, b.Content(PR_BODY_W, L"rtf"), {Inbox()}, 0));
    EXPECT_EQ(1u, LogLinesWith(L"RTFToText.Convert failed.\t", lines).size());
}

TEST_F(SearchEngineTest, AFolderTreeThatLoopsIsSearchedOnceAndTheSearchEnds)
{
    CRestrictionBuilder b;
    struct Case {
        const char* what;
        int64_t container;
        Subjects expected;
    };
    const Case cases[] = {
        {"a folder that is its own parent", Ids().selfLoop, {L"Self loop loopword", L"Beneath the loop loopword"}},
        {"two folders each the other's parent", Ids().loopA, {L"Loop A loopword", L"Loop B loopword"}},
    };
    for (const Case& c : cases) {
        CSearchFolder folder(store, L"Loop");
        ASSERT_EQ(S_OK, folder.Status()) << c.what;
        ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"loopword"), {Folder(c.container)}, RECURSIVE_SEARCH))
            << c.what;
        ComPtr<IMAPITable> table = folder.Contents();
        ASSERT_NE(nullptr, table) << c.what;
        ASSERT_TRUE(folder.Sink().Wait(1)) << c.what;
        const Subjects found = searchtest::Subjects(table.Get());
        EXPECT_EQ(c.expected, found) << c.what << ": " << Listed(found);
        EXPECT_EQ(c.expected.size(), RowCount(table.Get())) << c.what << ": every message once";
        Sleep(300);
        EXPECT_EQ(1, folder.Sink().Count()) << c.what;
    }
}

// Restores the shared store's mailbox selection when the test ends.
class CSelectionScope {
public:
    explicit CSelectionScope(const std::wstring& selection)
    {
        CSearchStore& shared = CSearchStore::Instance();
        m_status = shared.Session().Profile().SetMailboxSelection(shared.Uid(), selection);
    }
    ~CSelectionScope()
    {
        CSearchStore& shared = CSearchStore::Instance();
        shared.Session().Profile().SetMailboxSelection(shared.Uid(), L"");
    }
    HRESULT Status() const { return m_status; }

private:
    HRESULT m_status;
};

TEST_F(SearchEngineTest, AWholeStoreSearchKeepsToTheMailboxesSelected)
{
    CRestrictionBuilder b;
    const std::pair<LONGLONG, std::wstring> owner = {Ids().owner.rootId, L"Searcher"};
    const std::pair<LONGLONG, std::wstring> second = {Ids().second.rootId, L"Second Mailbox"};
    struct Case {
        const char* what;
        std::wstring selection;
        Subjects expected;
    };
    const Case cases[] = {
        {"one of two selected", MailboxSelectionText({second}, {owner}), {L"Second mailbox plainword"}},
        {"none selected", MailboxSelectionText({}, {owner, second}), {}},
    };
    for (const Case& c : cases) {
        CSelectionScope selection(c.selection);
        ASSERT_EQ(S_OK, selection.Status()) << c.what;
        const Subjects found =
            Search(store, b.Content(PR_BODY_W, L"plainword"), {CEntryId(kEntryIpmSubtree, uid)}, RECURSIVE_SEARCH);
        EXPECT_EQ(c.expected, found) << c.what << ": " << Listed(found);
    }
}

TEST_F(SearchEngineTest, AWholeStoreSearchOfAPublicFolderStore)
{
    SStoreSettings settings;
    settings.databasePath = CFixtureFiles::Instance().Public();
    settings.logFolder = CFixtureFiles::Instance().LogFolder();
    settings.publicFoldersOnly = true;
    CStoreSession session(settings, L"SearchPublic");
    ASSERT_EQ(S_OK, session.Status());
    CRestrictionBuilder b;
    const Subjects found = Search(session.Store(), b.Content(PR_SUBJECT_W, L"public"),
                                  {CEntryId(kEntryIpmSubtree, session.Uid())}, RECURSIVE_SEARCH);
    EXPECT_EQ((Subjects{L"Public one", L"Public two"}), found) << Listed(found);
}

TEST_F(SearchEngineTest, AStoreLoggedOffDuringASearchEndsItQuietly)
{
    SStoreSettings settings;
    settings.databasePath = SearchDatabaseCopy(L"logged-off");
    settings.logFolder = SearchLogFolder();
    std::unique_ptr<CStoreSession> session(new CStoreSession(settings, L"SearchLoggedOff"));
    ASSERT_EQ(S_OK, session->Status());
    const MAPIUID other = session->Uid();
    const size_t lines = LogLineCount();
    CRestrictionBuilder b;
    {
        CSearchFolder folder(session->Store(), L"Logged off");
        ASSERT_EQ(S_OK, folder.Status());
        ASSERT_EQ(S_OK, folder.SetCriteria(b.Content(PR_BODY_W, L"bulk"),
                                           {FolderId(other, Ids().owner.rootId, Ids().bulk),
                                            FolderId(other, Ids().owner.rootId, Ids().inbox)},
                                           RECURSIVE_SEARCH));
        ComPtr<IMAPITable> table = folder.Contents();
        ASSERT_NE(nullptr, table);
        for (int i = 0; i < 3000 && RowCount(table.Get()) == 0 && folder.Sink().Count() == 0; ++i)
            Sleep(10);
        ASSERT_EQ(0, folder.Sink().Count()) << "the search already ended";
    }
    // The client lets everything go and logs off while the search runs.
    session.reset();
    // The search ends at its next folder: the store's server interface is
    // gone with the store.
    std::vector<std::wstring> ended;
    for (int i = 0; i < 600 && ended.empty(); ++i) {
        Sleep(100);
        ended = LogLinesWith(L"Error in file: .\\Search, line: 146, code:0x", lines);
    }
    EXPECT_EQ(1u, ended.size());
    // Searches of the other store go on as before.
    EXPECT_EQ(Subjects{L"Quarterly report"}, Search(store, b.Content(PR_SUBJECT_W, L"quarterly"), {Inbox()}, 0));
}

// The shared store goes before the process ends its MAPI.
class CSearchStoreEnvironment : public ::testing::Environment {
public:
    void TearDown() override { CSearchStore::Close(); }
};

::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new CSearchStoreEnvironment());

} // namespace
