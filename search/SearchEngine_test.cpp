// The search engine's pieces without a database server: the registry of
// search folders under readers and a writer, the columns a search asks for
// and works on, and how the matches of a working table reach a result table.
#include "SearchPlatform.h"
#include "CSearch.h"
#include "CMsgStore.h"
#include "MapiPtr.h"
#include "ProviderGlobals.h"
#include "ServerInterfaces.h"
#include "RestrictionCopy.h"
#include "SearchColumns.h"
#include "SearchFolderRegistry.h"
#include "ProviderFiles.h"
#include "ResourceStrings.h"
#include "testing/CFakeSupport.h"
#include "testing/FakeEseServer.h"
#include "testing/ProviderTestSupport.h"
#include "testing/SearchTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

MAPIUID Uid(BYTE seed)
{
    MAPIUID uid;
    for (int i = 0; i < 16; ++i)
        uid.ab[i] = static_cast<BYTE>(seed + i);
    return uid;
}

CEntryId SearchFolderId(ULONG serial)
{
    CEntryId id(kEntrySearchRoot, Uid(1));
    id.serial = serial;
    return id;
}

TEST(SearchFolderRegistry, KeepsNamesAndFlagsOfTheFoldersMade)
{
    CSearchFolderRegistry registry;
    EXPECT_EQ(1u, registry.NextSerial());
    EXPECT_EQ(2u, registry.NextSerial());
    SSearchFolderEntry entry;
    EXPECT_FALSE(registry.Find(SearchFolderId(1), entry));
    registry.Insert(SearchFolderId(1), {L"First", {1, 2, 3}});
    ASSERT_TRUE(registry.Find(SearchFolderId(1), entry));
    EXPECT_EQ(L"First", entry.name);
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), entry.extendedFlags);
    // The reserved word takes no part, as in every comparison of identifiers.
    CEntryId reserved = SearchFolderId(1);
    reserved.reserved = 0x55;
    EXPECT_TRUE(registry.Find(reserved, entry));
    EXPECT_FALSE(registry.Find(SearchFolderId(2), entry));
    CEntryId otherStore(kEntrySearchRoot, Uid(9));
    otherStore.serial = 1;
    EXPECT_FALSE(registry.Find(otherStore, entry));
}

TEST(SearchFolderRegistry, ReadersNeverMeetAnInsertionHalfDone)
{
    CSearchFolderRegistry registry;
    constexpr ULONG kFolders = 3000;
    std::atomic<ULONG> inserted{0};
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 4; ++r)
        readers.emplace_back([&, r] {
            ULONG probe = static_cast<ULONG>(r);
            while (!done) {
                const ULONG known = inserted;
                if (known == 0)
                    continue;
                probe = (probe * 7 + 1) % known;
                SSearchFolderEntry entry;
                if (!registry.Find(SearchFolderId(probe + 1), entry) ||
                    entry.name != L"Folder " + std::to_wstring(probe + 1) || entry.extendedFlags.size() != 30)
                    ++wrong;
            }
        });
    for (ULONG i = 1; i <= kFolders; ++i) {
        registry.Insert(SearchFolderId(i), {L"Folder " + std::to_wstring(i), std::vector<BYTE>(30, 0x11)});
        inserted = i;
    }
    done = true;
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(kFolders, registry.Count());
}

// A search's request over in-memory tables: no server, no store.
class SearchWithoutServer : public ::testing::Test {
protected:
    std::unique_ptr<SearchRequest> Request(const SRestriction* restriction)
    {
        std::unique_ptr<SearchRequest> request(new SearchRequest());
        request->searchFolderId = SearchFolderId(7);
        request->storeId = CEntryId(kEntryMessageStore, Uid(1));
        HRESULT hr = S_OK;
        if (restriction) {
            request->restriction = MapiAllocate<SRestriction>(sizeof(SRestriction), hr);
            EXPECT_EQ(S_OK, CopyRestriction(request->restriction.get(), restriction, request->restriction.get(), nullptr));
        }
        const std::vector<ULONG> columns = SearchResultColumns();
        request->columns = MapiAllocate<SPropTagArray>(CbNewSPropTagArray(columns.size()), hr);
        request->columns->cValues = static_cast<ULONG>(columns.size());
        std::memcpy(request->columns->aulPropTag, columns.data(), columns.size() * sizeof(ULONG));
        request->events = CSearchEvents::Create();
        return request;
    }

    static ComPtr<ITableData> Table(const std::vector<ULONG>& tags)
    {
        std::vector<ULONG> columns(tags.size() + 1);
        columns[0] = static_cast<ULONG>(tags.size());
        std::copy(tags.begin(), tags.end(), columns.begin() + 1);
        ComPtr<ITableData> table;
        EXPECT_EQ(S_OK, CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                                    TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(columns.data()),
                                    table.GetAddressOf()));
        return table;
    }

    // A working row: subject and instance key, everything else missing.
    static void AddRow(ITableData* table, const std::vector<ULONG>& columns, ULONG key, const wchar_t* subject)
    {
        std::vector<SPropValue> values(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            values[i].ulPropTag = CHANGE_PROP_TYPE(columns[i], PT_ERROR);
            values[i].Value.err = MAPI_E_NOT_FOUND;
            if (columns[i] == PR_SUBJECT_W) {
                values[i].ulPropTag = PR_SUBJECT_W;
                values[i].Value.lpszW = const_cast<LPWSTR>(subject);
            } else if (columns[i] == PR_INSTANCE_KEY) {
                values[i].ulPropTag = PR_INSTANCE_KEY;
                values[i].Value.bin.cb = sizeof(key);
                values[i].Value.bin.lpb = reinterpret_cast<LPBYTE>(&key);
            }
        }
        SRow row = {0, static_cast<ULONG>(values.size()), values.data()};
        ULONG count = 0;
        ComPtr<IMAPITable> view;
        table->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
        view->GetRowCount(0, &count);
        EXPECT_EQ(S_OK, table->HrInsertRow(count, &row));
    }

    static std::vector<std::wstring> SubjectsOf(ITableData* table)
    {
        ComPtr<IMAPITable> view;
        table->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
        SizedSPropTagArray(1, subject) = {1, {PR_SUBJECT_W}};
        view->SetColumns(reinterpret_cast<LPSPropTagArray>(&subject), 0);
        LPSRowSet rows = nullptr;
        view->QueryRows(1000000, 0, &rows);
        std::vector<std::wstring> subjects;
        for (ULONG i = 0; rows && i < rows->cRows; ++i)
            subjects.push_back(rows->aRow[i].lpProps[0].ulPropTag == PR_SUBJECT_W ? rows->aRow[i].lpProps[0].Value.lpszW
                                                                                   : L"?");
        FreeProws(rows);
        return subjects;
    }

    searchtest::CComScope m_com;
};

SRestriction SubjectContains(SPropValue& value, const wchar_t* text)
{
    value.ulPropTag = PR_SUBJECT_W;
    value.Value.lpszW = const_cast<LPWSTR>(text);
    SRestriction r = {};
    r.rt = RES_CONTENT;
    r.res.resContent.ulFuzzyLevel = FL_SUBSTRING | FL_IGNORECASE;
    r.res.resContent.ulPropTag = PR_SUBJECT_W;
    r.res.resContent.lpProp = &value;
    return r;
}

TEST_F(SearchWithoutServer, AsksTheServerForWhatTheRestrictionTestsAndMakesTheRowKeysItself)
{
    SPropValue text = {};
    SPropValue entry = {};
    entry.ulPropTag = PR_ENTRYID;
    SRestriction children[4] = {};
    children[0] = SubjectContains(text, L"x");
    children[1].rt = RES_EXIST;
    children[1].res.resExist.ulPropTag = 0x8001001F;
    children[2].rt = RES_PROPERTY;
    children[2].res.resProperty.relop = RELOP_EQ;
    children[2].res.resProperty.ulPropTag = PR_ENTRYID;
    children[2].res.resProperty.lpProp = &entry;
    SRestriction inner = {};
    inner.rt = RES_EXIST;
    inner.res.resExist.ulPropTag = PR_DISPLAY_NAME_W;
    children[3].rt = RES_SUBRESTRICTION;
    children[3].res.resSub.ulSubObject = PR_MESSAGE_RECIPIENTS;
    children[3].res.resSub.lpRes = &inner;
    SRestriction all = {};
    all.rt = RES_AND;
    all.res.resAnd.cRes = 4;
    all.res.resAnd.lpRes = children;

    CSearch search;
    ASSERT_TRUE(search.Init(Request(&all)));
    std::vector<ULONG> expected = searchtest::WrittenMessageColumns();
    ASSERT_EQ(48u, expected.size());
    // In the order of the tags as signed numbers; the subject is among the
    // message columns already, the entry identifier is the engine's own.
    expected.push_back(0x8001001F);
    expected.push_back(0x7C00000B);
    std::vector<ULONG> working(expected.begin() + 3, expected.end());
    const std::vector<ULONG> keys = searchtest::WrittenRowKeyColumns();
    ASSERT_EQ(12u, keys.size());
    working.insert(working.end(), keys.begin(), keys.end());
    // The hidden-row marker, and without a body test no MIME text.
    expected.push_back(0x36410003);
    EXPECT_EQ(expected, search.ServerColumns());
    EXPECT_EQ(working, search.WorkingColumns());
    // The request now holds the translated restriction: the subrestriction
    // became a test of its column.
    const SRestriction* translated = search.Request()->restriction.get();
    ASSERT_NE(nullptr, translated);
    EXPECT_EQ(static_cast<ULONG>(RES_PROPERTY), translated->res.resAnd.lpRes[3].rt);
    EXPECT_EQ(PR_SEARCH_SUBRESTRICTION_BASE, translated->res.resAnd.lpRes[3].res.resProperty.ulPropTag);

    // A body test also asks for the MIME text, after the marker.
    SRestriction body = SubjectContains(text, L"x");
    body.res.resContent.ulPropTag = PR_BODY_W;
    CSearch bodySearch;
    ASSERT_TRUE(bodySearch.Init(Request(&body)));
    const std::vector<ULONG>& asked = bodySearch.ServerColumns();
    ASSERT_EQ(48u + 2, asked.size());
    EXPECT_EQ(0x36410003u, asked[48]);
    EXPECT_EQ(0x66590102u, asked[48 + 1]);
    EXPECT_EQ(48u - 3 + 12, bodySearch.WorkingColumns().size());

    // What the search folder's rows show.
    const std::vector<ULONG> shown = searchtest::WrittenResultColumns();
    ASSERT_EQ(54u, shown.size());
    EXPECT_EQ(shown, SearchResultColumns());
}

TEST_F(SearchWithoutServer, ARestrictionTheTranslationRefusesLeavesTheSearchWithoutOne)
{
    SRestriction inner = {};
    inner.rt = RES_EXIST;
    inner.res.resExist.ulPropTag = PR_DISPLAY_NAME_W;
    std::vector<SRestriction> subs(kMaxSubRestrictions + 1);
    for (SRestriction& s : subs) {
        s.rt = RES_SUBRESTRICTION;
        s.res.resSub.ulSubObject = PR_MESSAGE_RECIPIENTS;
        s.res.resSub.lpRes = &inner;
    }
    SRestriction any = {};
    any.rt = RES_OR;
    any.res.resOr.cRes = static_cast<ULONG>(subs.size());
    any.res.resOr.lpRes = subs.data();
    CSearch search;
    ASSERT_TRUE(search.Init(Request(&any)));
    EXPECT_EQ(nullptr, search.Request()->restriction.get());
    EXPECT_TRUE(search.Tags().empty());
}

TEST_F(SearchWithoutServer, MatchesGoToTheResultTableOnceEach)
{
    SPropValue text = {};
    SRestriction restriction = SubjectContains(text, L"match");
    CSearch search;
    ASSERT_TRUE(search.Init(Request(&restriction)));
    const std::vector<ULONG>& columns = search.WorkingColumns();
    ComPtr<ITableData> working = Table(columns);
    const std::vector<ULONG> resultColumns = SearchResultColumns();
    ComPtr<ITableData> result = Table(resultColumns);

    // More rows than one batch of the view, every other one a match.
    for (ULONG i = 0; i < 2100; ++i)
        AddRow(working.Get(), columns, i, i % 2 ? L"a match" : L"nothing");
    // A message the result table holds already (met in another folder of
    // the same search) stays as it is.
    AddRow(result.Get(), resultColumns, 1, L"a match, found before");
    EXPECT_EQ(S_OK, ApplySearchRestriction(&search, working.Get(), result.Get()));
    const std::vector<std::wstring> found = SubjectsOf(result.Get());
    EXPECT_EQ(1050u, found.size());
    EXPECT_EQ(1, std::count(found.begin(), found.end(), L"a match, found before"));
    EXPECT_EQ(0, std::count(found.begin(), found.end(), L"nothing"));
}

TEST_F(SearchWithoutServer, ASearchGivenUpForANewerOneAddsNothing)
{
    SPropValue text = {};
    SRestriction restriction = SubjectContains(text, L"match");
    std::unique_ptr<SearchRequest> request = Request(&restriction);
    std::shared_ptr<CSearchEvents> events = request->events;
    CSearch search;
    ASSERT_TRUE(search.Init(std::move(request)));
    const std::vector<ULONG>& columns = search.WorkingColumns();
    ComPtr<ITableData> working = Table(columns);
    ComPtr<ITableData> result = Table(SearchResultColumns());
    AddRow(working.Get(), columns, 1, L"a match");
    events->Abandon();
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(events->Run(), 0)) << "given up is stopped";
    ApplySearchRestriction(&search, working.Get(), result.Get());
    EXPECT_TRUE(SubjectsOf(result.Get()).empty());
}

TEST_F(SearchWithoutServer, AStoreThatCannotBeReachedEndsTheSearchAtItsFirstFolder)
{
    // The provider's data directory, where the log is, is named by the
    // resource library.
    if (!GetResourceLibrary())
        SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
    std::wstring directory;
    ASSERT_TRUE(GetDataDirectory(directory));
    const std::wstring log = directory + L"\\KOLWEN32.log";
    const size_t before = providertest::ReadLogLines(log).size();

    SPropValue text = {};
    SRestriction restriction = SubjectContains(text, L"x");
    std::unique_ptr<SearchRequest> request = Request(&restriction);
    // A cookie no interface was registered under: the store has gone.
    request->storeCookie = 0x7FFF0001;
    CEntryId folders[2] = {CEntryId(kEntryFolder, Uid(1)), CEntryId(kEntryFolder, Uid(1))};
    SBinary entries[2] = {{sizeof(CEntryId), reinterpret_cast<LPBYTE>(&folders[0])},
                          {sizeof(CEntryId), reinterpret_cast<LPBYTE>(&folders[1])}};
    ENTRYLIST list = {2, entries};
    HRESULT hr = S_OK;
    request->containers = CopyEntryList(&list, hr);
    ASSERT_EQ(S_OK, hr);
    CSearch search;
    ASSERT_TRUE(search.Init(std::move(request)));
    search.Go();

    const std::vector<std::wstring> lines = providertest::ReadLogLines(log);
    int failures = 0;
    for (size_t i = before; i < lines.size(); ++i)
        if (lines[i].find(L"Error in file: .\\Search, line: 146, code:0x") != std::wstring::npos)
            ++failures;
    EXPECT_EQ(1, failures) << "the second folder is not tried";
}

// Server objects of the test's, for rows whose messages fail in chosen ways.
constexpr HRESULT kServerGone = RPC_E_DISCONNECTED;
constexpr HRESULT kNoSuchObject = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

class CFakeMessage : public providertest::CFakeObject<IEseMessage> {
public:
    explicit CFakeMessage(HRESULT result, std::wstring body) : m_result(result), m_body(std::move(body)) {}
    STDMETHODIMP GetPropertyTags(ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperties(ULONG, ULONG*, ULONG*, _SEsePropertyValue**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(ULONG tag, ULONG* count, BYTE** value) override
    {
        *count = 0;
        *value = nullptr;
        if (FAILED(m_result))
            return Fail(m_result);
        if (tag != PR_BODY_W)
            return Fail(kNoSuchObject);
        const ULONG size = static_cast<ULONG>(m_body.size() * sizeof(wchar_t));
        *value = static_cast<BYTE*>(CoTaskMemAlloc(size));
        std::memcpy(*value, m_body.data(), size);
        *count = size;
        return S_OK;
    }
    STDMETHODIMP OpenProperty(ULONG, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropNamesFromTags(ULONG*, ULONG**, GUID*, ULONG, ULONG*, _SEseNamedPropertyId**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG, _SEseNamedPropertyId**, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachment(LONGLONG, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentByNumber(ULONG, signed char, IEseMessage**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttachmentsTable(IEseTable**) override { return E_NOTIMPL; }

protected:
    const IID& OwnIid() const override { return IID_IEseMessage; }

private:
    HRESULT m_result;
    std::wstring m_body;
};

// One message row: its subject, and what its message does when asked for
// its body (too large for the row) or its recipients.
struct SFakeRow {
    LONGLONG mid;
    const wchar_t* subject;
    HRESULT openResult;     // of GetMessage
    HRESULT readResult;     // of the message's GetProperty
    const wchar_t* body;
};

class CFakeTable : public providertest::CFakeObject<IEseTable> {
public:
    CFakeTable(std::vector<ULONG> columns, std::vector<SFakeRow> rows)
        : m_columns(std::move(columns)), m_rows(std::move(rows))
    {
    }
    STDMETHODIMP GetColumns(signed char, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP SetColumns(ULONG, ULONG*) override { return S_OK; }
    STDMETHODIMP GetRows(ULONG, signed char, ULONG* count, _SEseRow** rows) override
    {
        const ULONG n = static_cast<ULONG>(m_rows.size());
        auto* out = static_cast<_SEseRow*>(CoTaskMemAlloc(n * sizeof(_SEseRow)));
        for (ULONG r = 0; r < n; ++r) {
            out[r].m_valueCount = static_cast<ULONG>(m_columns.size());
            out[r].m_p_values =
                static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(m_columns.size() * sizeof(_SEsePropertyValue)));
            for (size_t i = 0; i < m_columns.size(); ++i)
                Fill(out[r].m_p_values[i], m_columns[i], m_rows[r]);
        }
        *count = n;
        *rows = out;
        return S_OK;
    }

protected:
    const IID& OwnIid() const override { return IID_IEseTable; }

private:
    static void Error(_SEsePropertyValue& v, ULONG tag, HRESULT code)
    {
        v.m_tag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        v.m_type = ESE_PT_ERROR;
        v.m_value.m_err.m_code = code;
    }
    static void Fill(_SEsePropertyValue& v, ULONG tag, const SFakeRow& row)
    {
        ZeroMemory(&v, sizeof(v));
        v.m_tag = tag;
        switch (tag) {
        case kPrMid:
        case kPrFid:
            v.m_type = ESE_PT_INT64;
            v.m_value.m_i64 = tag == kPrMid ? row.mid : 0x1234;
            break;
        case kPrMsgLink:
            v.m_type = ESE_PT_BINARY;
            v.m_value.m_bin.m_count = 8;
            v.m_value.m_bin.m_p_bt = static_cast<BYTE*>(CoTaskMemAlloc(8));
            ZeroMemory(v.m_value.m_bin.m_p_bt, 8);
            break;
        case PR_MESSAGE_FLAGS:
            v.m_type = ESE_PT_INT32;
            break;
        case PR_SUBJECT_W: {
            v.m_type = ESE_PT_STRING16;
            const size_t size = (wcslen(row.subject) + 1) * sizeof(wchar_t);
            v.m_value.m_p_ws = static_cast<LPWSTR>(CoTaskMemAlloc(size));
            std::memcpy(v.m_value.m_p_ws, row.subject, size);
            break;
        }
        case PR_BODY_W:
            Error(v, tag, E_OUTOFMEMORY);  // too large for the row: read from the message
            break;
        default:
            Error(v, tag, MAPI_E_NOT_FOUND);
            break;
        }
    }

    std::vector<ULONG> m_columns;
    std::vector<SFakeRow> m_rows;
};

// A server folder of message rows. It may name itself by a folder id (none:
// the server gave none), list child folders by id, and run the test's code
// when its child folders or a message's body are asked for.
class CFakeFolder : public providertest::CFakeObject<IEseFolder> {
public:
    CFakeFolder(std::vector<ULONG> columns, std::vector<SFakeRow> rows) : m_columns(columns), m_rows(rows) {}

    LONGLONG fid = 0;
    std::vector<LONGLONG> children;
    std::function<void()> onChildFolders;
    std::function<void(LONGLONG mid)> onMessage;
    std::atomic<int> messageTables{0};

    STDMETHODIMP GetPropertyTags(ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperties(ULONG, ULONG*, ULONG* count, _SEsePropertyValue** values) override
    {
        *count = 0;
        *values = nullptr;
        if (!fid)
            return S_OK;
        // The display name, the mailbox root and the folder id asked for.
        auto* out = static_cast<_SEsePropertyValue*>(CoTaskMemAlloc(3 * sizeof(_SEsePropertyValue)));
        ZeroMemory(out, 3 * sizeof(_SEsePropertyValue));
        out[0].m_tag = CHANGE_PROP_TYPE(PR_DISPLAY_NAME_W, PT_ERROR);
        out[0].m_type = ESE_PT_ERROR;
        out[0].m_value.m_err.m_code = MAPI_E_NOT_FOUND;
        out[1] = out[0];
        out[1].m_tag = CHANGE_PROP_TYPE(kPrMailboxRootFid, PT_ERROR);
        out[2].m_tag = kPrFid;
        out[2].m_type = ESE_PT_INT64;
        out[2].m_value.m_i64 = fid;
        *count = 3;
        *values = out;
        return S_OK;
    }
    STDMETHODIMP GetProperty(ULONG, ULONG*, BYTE**) override { return E_NOTIMPL; }
    STDMETHODIMP OpenProperty(ULONG, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropNamesFromTags(ULONG*, ULONG**, GUID*, ULONG, ULONG*, _SEseNamedPropertyId**) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTagsFromPropNames(ULONG, _SEseNamedPropertyId**, ULONG*, ULONG**) override { return E_NOTIMPL; }
    STDMETHODIMP GetFolder(LONGLONG, LONGLONG, IEseFolder**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMessage(LONGLONG mid, IEseMessage** message) override
    {
        *message = nullptr;
        if (onMessage)
            onMessage(mid);
        for (const SFakeRow& row : m_rows)
            if (row.mid == mid) {
                if (FAILED(row.openResult))
                    return Fail(row.openResult);
                *message = new CFakeMessage(row.readResult, row.body ? row.body : L"");
                return S_OK;
            }
        return Fail(kNoSuchObject);
    }
    STDMETHODIMP GetFoldersTable(IEseTable** table) override
    {
        if (onChildFolders)
            onChildFolders();
        auto* folders = new providertest::CFakeEseTable();
        for (LONGLONG child : children)
            folders->rows.push_back({{kPrFid, ESE_PT_INT64, child, {}, {}}, {kPrMailboxRootFid, ESE_PT_INT64, 0, {}, {}}});
        *table = folders;
        return S_OK;
    }
    STDMETHODIMP GetMessagesTable(IEseTable** table) override
    {
        ++messageTables;
        *table = new CFakeTable(m_columns, m_rows);
        return S_OK;
    }

protected:
    const IID& OwnIid() const override { return IID_IEseFolder; }

private:
    std::vector<ULONG> m_columns;
    std::vector<SFakeRow> m_rows;
};

TEST_F(SearchWithoutServer, AMessageThatCannotBeReadHasNoValueAndTheSearchGoesOn)
{
    SPropValue subjectText = {};
    SPropValue bodyText = {};
    SRestriction inner = {};
    inner.rt = RES_EXIST;
    inner.res.resExist.ulPropTag = PR_DISPLAY_NAME_W;
    SRestriction either[4] = {SubjectContains(subjectText, L"keep"), SubjectContains(bodyText, L"hello"), {}, {}};
    either[1].res.resContent.ulPropTag = PR_BODY_W;
    bodyText.ulPropTag = PR_BODY_W;
    // A recipient line and a recipient test, which need the message too.
    SPropValue toText = {};
    either[2] = SubjectContains(toText, L"anyone");
    either[2].res.resContent.ulPropTag = PR_DISPLAY_TO_W;
    toText.ulPropTag = PR_DISPLAY_TO_W;
    either[3].rt = RES_SUBRESTRICTION;
    either[3].res.resSub.ulSubObject = PR_MESSAGE_RECIPIENTS;
    either[3].res.resSub.lpRes = &inner;
    SRestriction any = {};
    any.rt = RES_OR;
    any.res.resOr.cRes = 4;
    any.res.resOr.lpRes = either;

    CSearch search;
    ASSERT_TRUE(search.Init(Request(&any)));
    const std::vector<SFakeRow> rows = {
        {1, L"keep: its body cannot be read", S_OK, E_FAIL, nullptr},
        {2, L"its body says hello", S_OK, S_OK, L"well, hello there"},
        {3, L"keep: the server has no such message", kNoSuchObject, S_OK, nullptr},
        {4, L"a body without the word", S_OK, S_OK, L"nothing here"},
    };
    ComPtr<ITableData> result = Table(SearchResultColumns());
    auto* folder = new CFakeFolder(search.ServerColumns(), rows);
    std::wstring path;
    EXPECT_EQ(S_OK, search.FillContentsTable(folder, path, result.Get()));
    std::vector<std::wstring> found = SubjectsOf(result.Get());
    std::sort(found.begin(), found.end());
    EXPECT_EQ((std::vector<std::wstring>{L"its body says hello", L"keep: its body cannot be read",
                                         L"keep: the server has no such message"}),
              found);
    folder->Release();

    // A server that is gone ends the folder: what it gathered is not
    // filtered into the results.
    const std::vector<SFakeRow> gone = {
        {5, L"keep: before", S_OK, S_OK, L"x"},
        {6, L"keep: the server went", S_OK, kServerGone, nullptr},
    };
    ComPtr<ITableData> second = Table(SearchResultColumns());
    folder = new CFakeFolder(search.ServerColumns(), gone);
    EXPECT_EQ(S_OK, search.FillContentsTable(folder, path, second.Get()));
    EXPECT_TRUE(SubjectsOf(second.Get()).empty());
    folder->Release();
}

// The server store of a tree of fake folders, by folder id. An id the tree
// lacks is handed to make (a tree without end), which may also fail.
class CFakeTreeStore : public providertest::CFakeObject<IEseStore> {
public:
    std::map<LONGLONG, CFakeFolder*> folders;  // one reference held each
    std::function<CFakeFolder*(LONGLONG fid)> make;

    STDMETHODIMP GetFolder(LONGLONG fid, LONGLONG, IEseFolder** folder) override
    {
        *folder = nullptr;
        auto found = folders.find(fid);
        if (found != folders.end()) {
            found->second->AddRef();
            *folder = found->second;
            return S_OK;
        }
        if (!make)
            return Fail(kNoSuchObject);
        *folder = make(fid);
        return S_OK;
    }
    STDMETHODIMP GetFoldersTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailbox(LONGLONG, IEseMailbox**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMailboxesTable(ULONG, LONGLONG*, signed char, IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetNamedPropertiesTable(IEseTable**) override { return E_NOTIMPL; }
    STDMETHODIMP GetStoreInfo(_SEseStoreInfo*) override { return E_NOTIMPL; }

protected:
    ~CFakeTreeStore() override
    {
        for (auto& entry : folders)
            entry.second->Release();
    }
    const IID& OwnIid() const override { return IID_IEseStore; }
};

// Counts the search-complete notifications a store delivers.
class CCompletionSink : public IMAPIAdviseSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIAdviseSink))
            return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP_(ULONG) OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) override
    {
        for (ULONG i = 0; i < cNotif; ++i)
            if (lpNotifications[i].ulEventType == fnevSearchComplete)
                ++completions;
        return 0;
    }
    std::atomic<int> completions{0};
};

// A search over a store of fake server folders, as the worker runs it: the
// server store reached through the interface table by its cookie, and the
// provider's store open in the registry (as logon leaves it) with a support
// object that hands its notifications for the search folder to the test.
class SearchOfAStore : public SearchWithoutServer {
protected:
    void SetUp() override
    {
        if (!GetResourceLibrary())
            SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
        m_server = new CFakeTreeStore();
        ASSERT_EQ(S_OK, ModuleInterfaceTable()->RegisterInterfaceInGlobal(static_cast<IEseStore*>(m_server), IID_IEseStore, &m_cookie));
        ASSERT_EQ(S_OK, CMsgStore::Create(kStorePath, Uid(1), 1, 0, 0, &m_store));
        m_store->SetSupport(&m_support);
        StoreEntry entry;
        entry.store = m_store;
        entry.serviceUid = Uid(1);
        ASSERT_TRUE(ProviderGlobals().storeRegistry.Insert(kStorePath, entry));
        const CEntryId folder = SearchFolderId(7);
        const BYTE* key = reinterpret_cast<const BYTE*>(&folder);
        m_support.subscriptions.push_back({std::vector<BYTE>(key, key + sizeof(CEntryId)), fnevSearchComplete, 0, &m_sink});
    }
    void TearDown() override
    {
        if (m_store)
            m_store->Release();
        if (m_cookie)
            ModuleInterfaceTable()->RevokeInterfaceFromGlobal(m_cookie);
        m_server->Release();
    }

    // A request of the search folder over the folders of these ids.
    std::unique_ptr<SearchRequest> StoreRequest(const SRestriction* restriction, const std::vector<LONGLONG>& fids,
                                                ULONG flags)
    {
        std::unique_ptr<SearchRequest> request = Request(restriction);
        request->storeCookie = m_cookie;
        request->flags = flags;
        std::vector<CEntryId> ids;
        for (LONGLONG fid : fids) {
            ids.emplace_back(kEntryFolder, Uid(1));
            ids.back().fid = fid;
        }
        std::vector<SBinary> entries;
        for (CEntryId& id : ids)
            entries.push_back({sizeof(CEntryId), reinterpret_cast<LPBYTE>(&id)});
        ENTRYLIST list = {static_cast<ULONG>(entries.size()), entries.data()};
        HRESULT hr = S_OK;
        request->containers = CopyEntryList(&list, hr);
        EXPECT_EQ(S_OK, hr);
        request->result = Table(SearchResultColumns());
        return request;
    }

    // A folder of one message whose subject names it, under the id given.
    CFakeFolder* FolderWithMessage(const CSearch& search, LONGLONG fid, const wchar_t* subject)
    {
        return new CFakeFolder(search.ServerColumns(), {{fid, subject, S_OK, S_OK, L"text"}});
    }

    static std::vector<std::wstring> Sorted(std::vector<std::wstring> subjects)
    {
        std::sort(subjects.begin(), subjects.end());
        return subjects;
    }

    static size_t LogLines()
    {
        std::wstring directory;
        GetDataDirectory(directory);
        return providertest::ReadLogLines(directory + L"\\KOLWEN32.log").size();
    }
    static std::vector<std::wstring> LogLinesWith(const std::wstring& text, size_t after)
    {
        std::wstring directory;
        GetDataDirectory(directory);
        std::vector<std::wstring> found;
        const std::vector<std::wstring> lines = providertest::ReadLogLines(directory + L"\\KOLWEN32.log");
        for (size_t i = after; i < lines.size(); ++i)
            if (lines[i].find(text) != std::wstring::npos)
                found.push_back(lines[i]);
        return found;
    }

    static constexpr const wchar_t* kStorePath = L"C:\\search-engine-test\\none.edb";
    CFakeTreeStore* m_server = nullptr;
    DWORD m_cookie = 0;
    providertest::CFakeSupport m_support{Uid(1), kStorePath, L""};
    CMsgStore* m_store = nullptr;
    CCompletionSink m_sink;
};

SRestriction SubjectIs(SPropValue& value, const wchar_t* text)
{
    SRestriction r = SubjectContains(value, text);
    r.res.resContent.ulFuzzyLevel = FL_PREFIX | FL_IGNORECASE;
    return r;
}

TEST_F(SearchOfAStore, ATreeThatLoopsIsWalkedOnceAndEnds)
{
    SPropValue text = {};
    SRestriction restriction = SubjectIs(text, L"folder");

    // Folders that name themselves by id: one is its own child, two are
    // each other's.
    {
        CSearch search;
        ASSERT_TRUE(search.Init(StoreRequest(&restriction, {1}, RECURSIVE_SEARCH)));
        const wchar_t* names[] = {L"folder 1", L"folder 2", L"folder 3"};
        const std::vector<std::vector<LONGLONG>> children = {{2}, {1, 3}, {3}};
        for (LONGLONG fid = 1; fid <= 3; ++fid) {
            CFakeFolder* folder = FolderWithMessage(search, fid, names[fid - 1]);
            folder->fid = fid;
            folder->children = children[fid - 1];
            m_server->folders[fid] = folder;
        }
        ComPtr<ITableData> result = search.Request()->result;
        EXPECT_EQ(S_OK, search.Go());
        EXPECT_EQ(1, m_sink.completions.load());
        EXPECT_EQ((std::vector<std::wstring>{L"folder 1", L"folder 2", L"folder 3"}), Sorted(SubjectsOf(result.Get())));
        for (auto& entry : m_server->folders)
            EXPECT_EQ(1, entry.second->messageTables.load()) << "folder " << entry.first << " searched once";
    }

    // Folders the server names without an id, each with a child of its own
    // without end: the walk is cut off.
    {
        const size_t lines = LogLines();
        m_sink.completions = 0;
        m_server->folders.clear();
        CSearch search;
        ASSERT_TRUE(search.Init(StoreRequest(&restriction, {1}, RECURSIVE_SEARCH)));
        const std::vector<ULONG> columns = search.ServerColumns();
        m_server->make = [columns](LONGLONG fid) {
            auto* folder = new CFakeFolder(columns, {{fid, L"folder without end", S_OK, S_OK, L"text"}});
            folder->children = {fid + 1};
            return folder;
        };
        ComPtr<ITableData> result = search.Request()->result;
        EXPECT_EQ(S_OK, search.Go());
        EXPECT_EQ(1, m_sink.completions.load());
        EXPECT_EQ(static_cast<size_t>(CSearch::kMaxFolderDepth), SubjectsOf(result.Get()).size());
        EXPECT_EQ(1u, LogLinesWith(L"folders nested deeper than 256 are not searched", lines).size());
    }
}

TEST_F(SearchOfAStore, AFailureAnywhereInTheWalkStillEndsWithTheNotification)
{
    SPropValue text = {};
    SRestriction restriction = SubjectIs(text, L"folder");
    struct Case {
        const char* what;
        bool childFoldersFail;  // else opening the second container fails
        std::vector<std::wstring> expected;
        const wchar_t* logged;
    };
    const Case cases[] = {
        // A failure in one folder's walk ends that walk only.
        {"the child folders cannot be listed", true, {L"folder 1", L"folder 2"}, L"CSearch::WalkFolders: std::bad_alloc"},
        // A failure around a container ends the search.
        {"a container cannot be opened", false, {L"folder 1"}, L"CSearch::Go: std::bad_alloc"},
    };
    for (const Case& c : cases) {
        const size_t lines = LogLines();
        m_sink.completions = 0;
        m_server->folders.clear();
        m_server->make = nullptr;
        CSearch search;
        ASSERT_TRUE(search.Init(StoreRequest(&restriction, {1, 2}, RECURSIVE_SEARCH)));
        CFakeFolder* first = FolderWithMessage(search, 1, L"folder 1");
        first->fid = 1;
        m_server->folders[1] = first;
        if (c.childFoldersFail) {
            first->onChildFolders = [] { throw std::bad_alloc(); };
            m_server->folders[2] = FolderWithMessage(search, 2, L"folder 2");
        } else {
            m_server->make = [](LONGLONG) -> CFakeFolder* { throw std::bad_alloc(); };
        }
        ComPtr<ITableData> result = search.Request()->result;
        EXPECT_NO_THROW(search.Go()) << c.what;
        EXPECT_EQ(1, m_sink.completions.load()) << c.what;
        EXPECT_EQ(c.expected, Sorted(SubjectsOf(result.Get()))) << c.what;
        EXPECT_EQ(1u, LogLinesWith(c.logged, lines).size()) << c.what;
    }
}

TEST_F(SearchOfAStore, ARestrictionTheTableRefusesIsLoggedAndEndsTheSearch)
{
    // MAPI's tables evaluate no regular expressions.
    SPropValue value = {};
    value.ulPropTag = PR_SUBJECT_W;
    value.Value.lpszW = const_cast<LPWSTR>(L"folder.*");
    SRestriction restriction = {};
    restriction.rt = RES_PROPERTY;
    restriction.res.resProperty.relop = RELOP_RE;
    restriction.res.resProperty.ulPropTag = PR_SUBJECT_W;
    restriction.res.resProperty.lpProp = &value;
    const size_t lines = LogLines();
    CSearch search;
    ASSERT_TRUE(search.Init(StoreRequest(&restriction, {1, 2}, 0)));
    m_server->folders[1] = FolderWithMessage(search, 1, L"folder 1");
    m_server->folders[2] = FolderWithMessage(search, 2, L"folder 2");
    ComPtr<ITableData> result = search.Request()->result;
    search.Go();
    EXPECT_EQ(1, m_sink.completions.load());
    EXPECT_TRUE(SubjectsOf(result.Get()).empty());
    EXPECT_EQ(1u, LogLinesWith(L"Error in file: .\\Search, line: 812, code:0x80040117", lines).size());
    EXPECT_EQ(0, m_server->folders[2]->messageTables.load()) << "the same refusal would follow in every folder";
}

TEST_F(SearchOfAStore, AStopKeepsWhatWasFoundAndSearchesNoFurtherFolder)
{
    // The body test makes the engine open each message; the second one
    // holds the search until the stop has come.
    SPropValue subjectText = {};
    SPropValue bodyText = {};
    SRestriction either[2] = {SubjectContains(subjectText, L"match"), SubjectContains(bodyText, L"nowhere")};
    either[1].res.resContent.ulPropTag = PR_BODY_W;
    bodyText.ulPropTag = PR_BODY_W;
    SRestriction any = {};
    any.rt = RES_OR;
    any.res.resOr.cRes = 2;
    any.res.resOr.lpRes = either;

    std::unique_ptr<SearchRequest> request = StoreRequest(&any, {1, 2}, 0);
    std::shared_ptr<CSearchEvents> events = request->events;
    ComPtr<ITableData> result = request->result;
    CSearch search;
    ASSERT_TRUE(search.Init(std::move(request)));
    auto* first = new CFakeFolder(search.ServerColumns(), {{1, L"match one", S_OK, S_OK, L"a"},
                                                           {2, L"match two", S_OK, S_OK, L"b"},
                                                           {3, L"match three", S_OK, S_OK, L"c"}});
    m_server->folders[1] = first;
    m_server->folders[2] = FolderWithMessage(search, 4, L"match in the next folder");
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    first->onMessage = [&](LONGLONG mid) {
        if (mid != 2)
            return;
        SetEvent(held);
        for (int i = 0; i < 10000 && WaitForSingleObject(events->Run(), 0) == WAIT_OBJECT_0; ++i)
            Sleep(1);
    };
    std::thread worker([&] {
        searchtest::CComScope com;
        search.Go();
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, 20000));
    // What the search folder does to stop its search.
    ResetEvent(events->Run());
    worker.join();
    CloseHandle(held);
    EXPECT_EQ((std::vector<std::wstring>{L"match one", L"match two"}), Sorted(SubjectsOf(result.Get())));
    EXPECT_EQ(0, m_server->folders[2]->messageTables.load()) << "no folder is searched after the stop";
    EXPECT_EQ(1, m_sink.completions.load());
}

TEST(SearchEvents, AFolderReusesOnlyEventsWhoseSearchEndedAndWasNotGivenUp)
{
    struct Case {
        const char* what;
        bool finished;
        bool abandoned;
        bool reused;
    };
    const Case cases[] = {
        {"ended", true, false, true},
        {"still running: given up", false, false, false},
        {"given up, still running", false, true, false},
        {"given up, and ended since", true, true, false},
    };
    for (const Case& c : cases) {
        std::shared_ptr<CSearchEvents> current = CSearchEvents::Create();
        ASSERT_NE(nullptr, current);
        if (c.abandoned)
            current->Abandon();
        if (c.finished)
            SetEvent(current->Done());
        std::shared_ptr<CSearchEvents> next = CSearchEvents::ForNextSearch(current);
        ASSERT_NE(nullptr, next) << c.what;
        EXPECT_EQ(c.reused, next == current) << c.what;
        // The next search's events: running, not ended, its rows wanted.
        EXPECT_FALSE(next->Abandoned()) << c.what;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(next->Run(), 0)) << c.what;
        EXPECT_FALSE(next->Finished()) << c.what;
        // A search that still runs gathers for nobody from now on.
        if (!c.finished) {
            EXPECT_TRUE(current->Abandoned()) << c.what;
        }
    }
}

TEST(SearchEvents, BelongToEveryHolderUntilTheLastLetsGo)
{
    std::shared_ptr<CSearchEvents> folder = CSearchEvents::Create();
    ASSERT_NE(nullptr, folder);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(folder->Run(), 0)) << "signalled while the search may run";
    EXPECT_FALSE(folder->Finished());
    std::shared_ptr<CSearchEvents> search = folder;
    const HANDLE run = search->Run();
    folder.reset();
    // The folder went; the search still polls and signals live handles.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run, 0));
    EXPECT_TRUE(SetEvent(search->Done()));
    EXPECT_TRUE(search->Finished());
}

} // namespace
