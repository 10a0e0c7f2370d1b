#include "ProviderPlatform.h"
#include "testing/SearchFixture.h"
#include "MessageFixtures.h"
#include "ProviderFiles.h"
#include "testing/ProviderTestSupport.h"

#include <cstring>

namespace searchtest {

using namespace exchangefixture;
using namespace providertest;

namespace {

constexpr ULONG kPrFinderEntryId = 0x35E70102;

// Words that compress poorly, so that a body of them stays large once
// stored as compressed RTF.
std::string Filler(size_t bytes, unsigned seed)
{
    std::string text;
    unsigned state = seed * 2654435761u + 1;
    while (text.size() < bytes) {
        state = state * 1103515245u + 12345u;
        text += "k" + std::to_string((state >> 8) % 1000003) + " ";
    }
    return text;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string Rtf(const std::string& text)
{
    return "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20 " + text + "\\par\r\n}";
}

std::string Html(const std::string& text)
{
    return "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=us-ascii\"></head><body><p>" +
           text + "</p></body></html>";
}

std::string MimePlain(const std::string& subject, const std::string& text)
{
    return "From: Bruno Castell <bruno@example.com>\r\n"
           "To: Searcher <searcher@example.com>\r\n"
           "Subject: " + subject + "\r\n"
           "Date: Fri, 4 Jul 2003 09:15:00 +0200\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=us-ascii\r\n"
           "\r\n" + text + "\r\n";
}

std::string MimeHtml(const std::string& subject, const std::string& text)
{
    return "From: Bruno Castell <bruno@example.com>\r\n"
           "To: Searcher <searcher@example.com>\r\n"
           "Subject: " + subject + "\r\n"
           "Date: Fri, 4 Jul 2003 09:15:00 +0200\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/html; charset=us-ascii\r\n"
           "\r\n" + Html(text) + "\r\n";
}

class CFixture {
public:
    CFixture()
    {
        CExchangeDatabase database;
        SSearchFixture& ids = m_ids;
        ids.owner = database.AddMailbox(L"Searcher");
        ids.inbox = database.AddFolder(ids.owner.topId, L"Inbox");
        ids.sub = database.AddFolder(ids.inbox, L"Sub");
        ids.deeper = database.AddFolder(ids.sub, L"Deeper");
        ids.other = database.AddFolder(ids.owner.topId, L"Other");
        ids.unnamed = database.AddFolder(ids.inbox, L"", {Prop{"S3001", {}}});
        ids.bulk = database.AddFolder(ids.owner.topId, L"Bulk");

        auto add = [&](int64_t folder, const SMessage& message) {
            ids.messages[message.subject] = database.AddMessage(folder, message);
        };
        // Bodies of every form, each with a word of its own.
        add(ids.inbox, PlainMessage(L"Plain only", L"The word plainword is in this body.\r\n"));
        add(ids.inbox, RtfMessage(L"RTF only", Rtf("An \\b rtfword\\b0  in bold."), L""));
        add(ids.inbox, HtmlMessage(L"HTML only", Html("An <b>htmlword</b> in bold."), L""));
        add(ids.inbox, MimeOnlyMessage(L"MIME only", MimePlain("MIME only", "A mimeword in plain text.")));
        add(ids.inbox, MimeOnlyMessage(L"MIME HTML only", MimeHtml("MIME HTML only", "A <i>mimemarkupword</i> here.")));
        add(ids.inbox, RtfMessage(L"RTF beside plain", Rtf("The rtfonlyword stays unread."), L"The plainsideword.\r\n"));
        add(ids.inbox, AnsiMessage(L"ANSI body", L"Caf\u00E9 ansiword for 3 \u20AC.\r\n"));
        add(ids.inbox, PlainMessage(L"Plain large", Wide(Filler(12000, 1)) + L" plainlargeword\r\n"));
        add(ids.inbox, RtfMessage(L"RTF large", Rtf(Filler(30000, 2) + " rtflargeword"), L""));
        add(ids.inbox, HtmlMessage(L"HTML large", Html(Filler(12000, 3) + " htmllargeword"), L""));
        add(ids.inbox, MimeOnlyMessage(L"MIME large", MimePlain("MIME large", Filler(12000, 4) + " mimelargeword")));
        {
            SMessage all = HtmlMessage(L"All large", Html(Filler(12000, 5) + " everyhypertext"),
                                       Wide(Filler(12000, 6)) + L" everyplain");
            all.msgRow.push_back(Binary("N1009", CompressedRtf(Rtf(Filler(30000, 7) + " everyrichtext"))));
            add(ids.inbox, all);
        }
        {
            SMessage damaged = PlainMessage(L"Damaged RTF", L"");
            damaged.body.clear();
            damaged.msgRow.push_back(Binary("N1009", exchangefixture::Bytes("\x10\x00\x00\x00\x20\x00\x00\x00LZFuXXXX garbage", 28)));
            add(ids.inbox, damaged);
        }
        {
            SMessage read = PlainMessage(L"Quarterly report", L"Figures of the quarter.\r\n");
            read.read = true;
            add(ids.inbox, read);
        }
        {
            SMessage recipients = PlainMessage(L"Recipients of every layout", L"To two, Cc two, Bcc one.\r\n");
            recipients.msgRow.push_back(RecipientsColumn(PackedRecipients(SampleRecipientTags(), SampleRecipients())));
            add(ids.inbox, recipients);
        }
        {
            SMessage view = PlainMessage(L"Associated plainword", L"plainword");
            view.associated = true;
            add(ids.inbox, view);
            SMessage hidden = PlainMessage(L"Hidden plainword", L"plainword");
            hidden.folderRow = {Int32("L3641", 1)};
            add(ids.inbox, hidden);
        }
        {
            // A folder the server cannot list; what lies beneath it can be.
            const int64_t damaged = database.AddFolder(ids.inbox, L"Damaged");
            database.SetIndexes(CExchangeDatabase::MessageTable(damaged), {});
            add(damaged, PlainMessage(L"Damaged plainword", L"plainword"));
            add(database.AddFolder(damaged, L"Beneath"), PlainMessage(L"Beneath damaged plainword", L"plainword"));
        }
        {
            ids.selfLoop = database.AddFolder(ids.owner.topId, L"Self loop");
            database.SetFolderValue(ids.selfLoop, Int64("Q6749", ids.selfLoop));
            add(ids.selfLoop, PlainMessage(L"Self loop loopword", L"loopword"));
            add(database.AddFolder(ids.selfLoop, L"Beneath the loop"),
                PlainMessage(L"Beneath the loop loopword", L"loopword"));
            ids.loopA = database.AddFolder(ids.owner.topId, L"Loop A");
            const int64_t loopB = database.AddFolder(ids.loopA, L"Loop B");
            database.SetFolderValue(ids.loopA, Int64("Q6749", loopB));
            add(ids.loopA, PlainMessage(L"Loop A loopword", L"loopword"));
            add(loopB, PlainMessage(L"Loop B loopword", L"loopword"));
        }
        add(ids.sub, PlainMessage(L"Nested plainword", L"plainword"));
        add(ids.deeper, PlainMessage(L"Deep plainword", L"plainword"));
        add(ids.other, PlainMessage(L"Other plainword", L"plainword"));
        add(ids.unnamed, PlainMessage(L"Unnamed folder message", L"unnamedword"));

        for (int f = 0; f < kBulkFolders; ++f) {
            const int64_t folder = database.AddFolder(ids.bulk, L"Batch " + std::to_wstring(f + 1));
            for (int m = 0; m < kBulkPerFolder; ++m) {
                const std::string word = (m % 2 == 0) ? " bulkeven" : " bulkodd";
                SMessage message =
                    RtfMessage(L"Bulk " + std::to_wstring(f) + L"." + std::to_wstring(m),
                               Rtf(Filler(1500, static_cast<unsigned>(100 + f * kBulkPerFolder + m)) + word), L"");
                database.AddMessage(folder, message);
            }
        }

        ids.second = database.AddMailbox(L"Second Mailbox");
        ids.secondInbox = database.AddFolder(ids.second.topId, L"Inbox");
        database.AddMessage(ids.secondInbox, PlainMessage(L"Second mailbox plainword", L"plainword"));

        const std::wstring folder = m_dir.File(L"search");
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW(m_dir.File(L"logs").c_str(), nullptr);
        m_path = folder + L"\\search.edb";
        database.Write(std::string(m_path.begin(), m_path.end()));
    }

    CScratchDir m_dir;
    std::wstring m_path;
    SSearchFixture m_ids;
};

CFixture& Fixture()
{
    static CFixture fixture;
    return fixture;
}

} // namespace

const std::wstring& SearchDatabase()
{
    return Fixture().m_path;
}

std::wstring SearchDatabaseCopy(const std::wstring& name)
{
    const std::wstring folder = Fixture().m_dir.File(name);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\search.edb";
    CopyFileW(Fixture().m_path.c_str(), path.c_str(), FALSE);
    return path;
}

const SSearchFixture& SearchIds()
{
    return Fixture().m_ids;
}

std::wstring SearchLogFolder()
{
    return Fixture().m_dir.File(L"logs");
}

namespace {

CSearchStore* g_store = nullptr;

} // namespace

CSearchStore& CSearchStore::Instance()
{
    if (!g_store)
        g_store = new CSearchStore();
    return *g_store;
}

CSearchStore::CSearchStore() : m_client(new CMapiClient())
{
    // The HTML filter bodies are read through, registered as a system
    // registers its own.
    if (HMODULE filter = LoadLibraryW(L"htmlfilter.dll")) {
        if (auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(filter, "DllRegisterServer")))
            registerServer();
        FreeLibrary(filter);
    }
    SStoreSettings settings;
    settings.databasePath = SearchDatabase();
    settings.logFolder = SearchLogFolder();
    m_session.reset(new CStoreSession(settings, L"SearchTest"));
}

HRESULT CSearchStore::Status() const
{
    if (FAILED(m_client->Status()))
        return m_client->Status();
    return m_session->Status();
}

void CSearchStore::Close()
{
    if (!g_store)
        return;
    g_store->m_session.reset();
    g_store->m_client.reset();
    delete g_store;
    g_store = nullptr;
}

SRestriction* CRestrictionBuilder::Node()
{
    m_nodes.emplace_back(new SRestriction());
    return m_nodes.back().get();
}

SRestriction* CRestrictionBuilder::Content(ULONG tag, const wchar_t* text, ULONG fuzzy)
{
    m_texts.emplace_back(text);
    m_values.emplace_back(new SPropValue());
    SPropValue* value = m_values.back().get();
    value->ulPropTag = tag;
    value->Value.lpszW = const_cast<LPWSTR>(m_texts.back().c_str());
    SRestriction* r = Node();
    r->rt = RES_CONTENT;
    r->res.resContent.ulFuzzyLevel = fuzzy;
    r->res.resContent.ulPropTag = tag;
    r->res.resContent.lpProp = value;
    return r;
}

SRestriction* CRestrictionBuilder::Property(ULONG relop, ULONG tag, const SPropValue& value)
{
    m_values.emplace_back(new SPropValue(value));
    SRestriction* r = Node();
    r->rt = RES_PROPERTY;
    r->res.resProperty.relop = relop;
    r->res.resProperty.ulPropTag = tag;
    r->res.resProperty.lpProp = m_values.back().get();
    return r;
}

SRestriction* CRestrictionBuilder::Bitmask(ULONG rel, ULONG tag, ULONG mask)
{
    SRestriction* r = Node();
    r->rt = RES_BITMASK;
    r->res.resBitMask.relBMR = rel;
    r->res.resBitMask.ulPropTag = tag;
    r->res.resBitMask.ulMask = mask;
    return r;
}

SRestriction* CRestrictionBuilder::Exist(ULONG tag)
{
    SRestriction* r = Node();
    r->rt = RES_EXIST;
    r->res.resExist.ulPropTag = tag;
    return r;
}

SRestriction* CRestrictionBuilder::Not(SRestriction* inner)
{
    SRestriction* r = Node();
    r->rt = RES_NOT;
    r->res.resNot.lpRes = inner;
    return r;
}

SRestriction* CRestrictionBuilder::And(const std::vector<SRestriction*>& children)
{
    m_arrays.emplace_back(new SRestriction[children.size()]);
    for (size_t i = 0; i < children.size(); ++i)
        m_arrays.back()[i] = *children[i];
    SRestriction* r = Node();
    r->rt = RES_AND;
    r->res.resAnd.cRes = static_cast<ULONG>(children.size());
    r->res.resAnd.lpRes = m_arrays.back().get();
    return r;
}

SRestriction* CRestrictionBuilder::Or(const std::vector<SRestriction*>& children)
{
    SRestriction* r = And(children);
    r->rt = RES_OR;
    return r;
}

SRestriction* CRestrictionBuilder::Sub(ULONG subObject, SRestriction* inner)
{
    SRestriction* r = Node();
    r->rt = RES_SUBRESTRICTION;
    r->res.resSub.ulSubObject = subObject;
    r->res.resSub.lpRes = inner;
    return r;
}

CSearchSink::CSearchSink() : m_event(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    InitializeCriticalSection(&m_lock);
}

CSearchSink::~CSearchSink()
{
    CloseHandle(m_event);
    DeleteCriticalSection(&m_lock);
}

STDMETHODIMP CSearchSink::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIAdviseSink))
        return E_NOINTERFACE;
    *ppv = this;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSearchSink::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CSearchSink::Release()
{
    LONG count = InterlockedDecrement(&m_refs);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) CSearchSink::OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications)
{
    for (ULONG i = 0; i < cNotif; ++i) {
        const NOTIFICATION& n = lpNotifications[i];
        if (n.ulEventType != fnevSearchComplete)
            continue;
        EnterCriticalSection(&m_lock);
        const BYTE* folder = reinterpret_cast<const BYTE*>(n.info.obj.lpEntryID);
        const BYTE* parent = reinterpret_cast<const BYTE*>(n.info.obj.lpParentID);
        m_lastFolder.assign(folder, folder + (folder ? n.info.obj.cbEntryID : 0));
        m_lastParent.assign(parent, parent + (parent ? n.info.obj.cbParentID : 0));
        m_lastType = n.info.obj.ulObjType;
        LeaveCriticalSection(&m_lock);
        InterlockedIncrement(&m_count);
        SetEvent(m_event);
    }
    return 0;
}

bool CSearchSink::Wait(LONG n, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (m_count < n) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            return false;
        WaitForSingleObject(m_event, timeoutMs - spent);
    }
    return true;
}

CSearchFolder::CSearchFolder(IMsgStore* store, const wchar_t* name) : m_store(store), m_sink(new CSearchSink())
{
    HRESULT hr = S_OK;
    ClientBuffer<SPropValue> finder = GetProps(store, {kPrFinderEntryId}, hr);
    if (FAILED(hr) || !finder || PROP_TYPE(finder->ulPropTag) != PT_BINARY) {
        m_status = FAILED(hr) ? hr : E_FAIL;
        return;
    }
    ULONG type = 0;
    ComPtr<IUnknown> object;
    m_status = store->OpenEntry(finder->Value.bin.cb, reinterpret_cast<LPENTRYID>(finder->Value.bin.lpb), nullptr, 0,
                                &type, object.GetAddressOf());
    if (FAILED(m_status))
        return;
    m_status = object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(m_root.GetAddressOf()));
    if (FAILED(m_status))
        return;
    m_status = m_root->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name)), nullptr,
                                    nullptr, MAPI_UNICODE, m_folder.GetAddressOf());
    if (FAILED(m_status))
        return;
    ClientBuffer<SPropValue> id = GetProps(m_folder.Get(), {PR_ENTRYID}, hr);
    if (FAILED(hr) || !id || id->Value.bin.cb != sizeof(CEntryId)) {
        m_status = FAILED(hr) ? hr : E_FAIL;
        return;
    }
    std::memcpy(static_cast<void*>(&m_id), id->Value.bin.lpb, sizeof(CEntryId));
    m_status = store->Advise(sizeof(CEntryId), m_id.AsEntryId(), fnevSearchComplete, m_sink, &m_connection);
}

CSearchFolder::~CSearchFolder()
{
    if (m_connection)
        m_store->Unadvise(m_connection);
    m_folder.Reset();
    m_root.Reset();
    m_sink->Release();
}

HRESULT CSearchFolder::SetCriteria(SRestriction* restriction, const std::vector<CEntryId>& containers, ULONG flags)
{
    std::vector<SBinary> entries;
    for (const CEntryId& id : containers)
        entries.push_back({sizeof(CEntryId), reinterpret_cast<LPBYTE>(const_cast<CEntryId*>(&id))});
    ENTRYLIST list = {static_cast<ULONG>(entries.size()), entries.data()};
    return m_folder->SetSearchCriteria(restriction, containers.empty() ? nullptr : &list, flags);
}

ComPtr<IMAPITable> CSearchFolder::Contents()
{
    ComPtr<IMAPITable> table;
    if (FAILED(m_folder->GetContentsTable(0, table.GetAddressOf())))
        return nullptr;
    return table;
}

std::set<std::wstring> Subjects(IMAPITable* table)
{
    std::set<std::wstring> subjects;
    ClientRows rows = AllRows(table, {PR_SUBJECT_W});
    for (ULONG i = 0; rows && i < rows->cRows; ++i)
        subjects.insert(Text(&rows->aRow[i].lpProps[0]));
    return subjects;
}

std::set<std::wstring> Search(IMsgStore* store, SRestriction* restriction, const std::vector<CEntryId>& containers,
                              ULONG flags)
{
    CSearchFolder folder(store, L"A search");
    if (FAILED(folder.Status()))
        return {L"<no search folder>"};
    if (FAILED(folder.SetCriteria(restriction, containers, flags)))
        return {L"<no criteria>"};
    ComPtr<IMAPITable> table = folder.Contents();
    if (!table)
        return {L"<no table>"};
    if (!folder.Sink().Wait(1))
        return {L"<no end>"};
    return Subjects(table.Get());
}

namespace {

std::wstring LogPath()
{
    std::wstring directory;
    GetDataDirectory(directory);
    return directory + L"\\" + L"KOLWEN32.log";
}

} // namespace

size_t LogLineCount()
{
    return ReadLogLines(LogPath()).size();
}

std::vector<std::wstring> LogLinesWith(const std::wstring& text, size_t after)
{
    std::vector<std::wstring> found;
    const std::vector<std::wstring> lines = ReadLogLines(LogPath());
    for (size_t i = after; i < lines.size(); ++i)
        if (lines[i].find(text) != std::wstring::npos)
            found.push_back(lines[i]);
    return found;
}

} // namespace searchtest
