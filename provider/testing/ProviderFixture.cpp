#include "ProviderPlatform.h"
#include "ProviderFixture.h"
#include "ResourceStrings.h"

#include <cstring>

namespace providertest {

using namespace exchangefixture;

const wchar_t kAliceName[] = L"Alice Lindqvist";
const wchar_t kBrunoName[] = L"Bruno Castell";
const wchar_t kOldName[] = L"Old Archive";

namespace {

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

SMessage Message(const std::wstring& subject, bool read)
{
    SMessage message;
    message.subject = subject;
    message.normalizedSubject = subject;
    message.senderName = L"Eva Marsh";
    message.body = L"Body of " + subject;
    message.read = read;
    return message;
}

bool CopyTree(const std::wstring& from, const std::wstring& to)
{
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = CopyTree(from + L"\\" + name, to + L"\\" + name) && ok;
        else
            ok = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && ok;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return ok;
}

} // namespace

void BuildMailboxFixture(CExchangeDatabase& database, SMailboxFixture& ids)
{
    ids.alice = database.AddMailbox(kAliceName);
    ids.inbox = database.AddFolder(ids.alice.topId, L"Inbox", {exchangefixture::Text("S3613", L"IPF.Note")});
    ids.projects = database.AddFolder(ids.inbox, L"Projects");
    ids.sent = database.AddFolder(ids.alice.topId, L"Sent Items");
    ids.tree = database.AddFolder(ids.alice.topId, L"Archive Tree", {exchangefixture::Text("S3004", L"Kept for the copies")});
    database.AddFolder(ids.tree, L"2006");
    database.AddFolder(ids.tree, L"2007", {exchangefixture::Text("S3613", L"IPF.Note")});
    ids.broken = database.AddFolder(ids.alice.topId, L"Damaged");
    database.SetIndexes(CExchangeDatabase::MessageTable(ids.broken), {});

    for (int i = 0; i < 5; ++i)
        ids.inboxMessages.push_back(database.AddMessage(ids.inbox, Message(L"Inbox message " + std::to_wstring(i + 1),
                                                                            i % 2 == 0)));
    for (int i = 0; i < 2; ++i) {
        SMessage view = Message(L"Saved view " + std::to_wstring(i + 1), true);
        view.associated = true;
        ids.inboxAssociated.push_back(database.AddMessage(ids.inbox, view));
    }
    SMessage hidden = Message(L"Hidden message", true);
    hidden.folderRow = {Int32("L3641", 1)};
    ids.hiddenMessage = database.AddMessage(ids.inbox, hidden);
    database.AddMessage(ids.projects, Message(L"Project plan", false));
    database.AddMessage(ids.sent, Message(L"Sent one", true));
    database.AddMessage(ids.sent, Message(L"Sent two", true));

    ids.bruno = database.AddMailbox(kBrunoName, ETopFolder::OtherCase);
    ids.brunoInbox = database.AddFolder(ids.bruno.topId, L"Inbox");
    database.AddMessage(ids.brunoInbox, Message(L"For Bruno", false));
    ids.old = database.AddMailbox(kOldName, ETopFolder::Absent);

    ids.samples = database.AddFolder(ids.alice.topId, L"Message Samples", {exchangefixture::Text("S3613", L"IPF.Note")});
    ids.sampleMessages = AddMessageSamples(database, ids.samples);
    SMessage draft = PlainMessage(L"An unsent draft", L"");
    draft.folderRow = {Int32("L0E07", MSGFLAG_UNSENT)};
    ids.draft = database.AddMessage(ids.samples, draft);
    SMessage internet = PlainMessage(L"Internet identifiers", L"Its identifiers are ANSI text.\r\n");
    internet.msgRow.push_back(AnsiText("S1035", L"<caf\u00E9@example.com>"));
    internet.msgRow.push_back(AnsiText("S1039", L"<a@example.com> <b@example.com>"));
    ids.internetIds = database.AddMessage(ids.samples, internet);
    static const char kNoMime[] = "\xFF\xFE\0\x01 no header\r\n--\r\n\x80\x81";
    ids.brokenMime =
        database.AddMessage(ids.samples, MimeOnlyMessage(L"Broken MIME", std::string(kNoMime, sizeof(kNoMime) - 1)));

    static const GUID kPublicStrings = {0x00020329, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    static const GUID kCommon = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    database.AddNamedProp({0x8000, kPublicStrings, true, 0, L"Keywords"});
    database.AddNamedProp({0x8001, kCommon, false, 0x8510, L""});
    database.AddNamedProp({0x8002, kPublicStrings, true, 0, L"Project"});
    ids.namedProps = 3;
}

void BuildPublicFixture(CExchangeDatabase& database, SPublicFixture& ids)
{
    ids.projects = database.AddFolder(database.IpmSubtreeId(), L"Projects");
    ids.announcements = database.AddFolder(database.IpmSubtreeId(), L"Announcements");
    database.AddFolder(ids.projects, L"Plans");
    database.AddMessage(ids.projects, Message(L"Public one", true));
    database.AddMessage(ids.projects, Message(L"Public two", false));
}

CFixtureFiles& CFixtureFiles::Instance()
{
    static CFixtureFiles files;
    return files;
}

CFixtureFiles::CFixtureFiles()
{
    CreateDirectoryW(LogFolder().c_str(), nullptr);
}

std::wstring CFixtureFiles::LogFolder() const
{
    return m_dir.File(L"logs");
}

std::wstring CFixtureFiles::Folder(const std::wstring& name) const
{
    return m_dir.File(name);
}

std::wstring CFixtureFiles::Write(const CExchangeDatabase& database, const std::wstring& name)
{
    const std::wstring folder = m_dir.File(name);
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + L"\\" + name + L".edb";
    database.Write(Narrow(path));
    return path;
}

const std::wstring& CFixtureFiles::Mailbox(EGeneration generation)
{
    std::wstring& path = m_mailboxes[static_cast<int>(generation)];
    if (path.empty()) {
        CExchangeDatabase database(EStoreKind::Mailbox, generation);
        m_mailboxIds = SMailboxFixture();
        BuildMailboxFixture(database, m_mailboxIds);
        path = Write(database, generation == EGeneration::Exchange2003 ? L"mailbox2003" : L"mailbox2007");
    }
    return path;
}

std::wstring CFixtureFiles::MailboxCopy(EGeneration generation, const std::wstring& name)
{
    const std::wstring& original = Mailbox(generation);
    const std::wstring from = original.substr(0, original.find_last_of(L'\\'));
    const std::wstring to = m_dir.File(name);
    CopyTree(from, to);
    return to + original.substr(original.find_last_of(L'\\'));
}

const std::wstring& CFixtureFiles::Public()
{
    if (m_public.empty()) {
        CExchangeDatabase database(EStoreKind::PublicFolders);
        BuildPublicFixture(database, m_publicIds);
        m_public = Write(database, L"public");
    }
    return m_public;
}

CMapiClient::CMapiClient()
{
    m_comInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    m_status = MAPIInitialize(nullptr);
    // The provider names its data directory from the resource library; the
    // test's own lookups (settings files) must find the same one.
    if (!GetResourceLibrary())
        SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
}

CMapiClient::~CMapiClient()
{
    if (SUCCEEDED(m_status))
        MAPIUninitialize();
    if (m_comInitialised)
        CoUninitialize();
}

CEntryId MailboxTopId(const MAPIUID& store, int64_t rootId)
{
    CEntryId id(kEntryMailboxTop, store);
    id.idRoot = id.fid = rootId;
    return id;
}

CEntryId FolderId(const MAPIUID& store, int64_t rootId, int64_t fid)
{
    CEntryId id(kEntryFolder, store);
    id.idRoot = rootId;
    id.fid = fid;
    return id;
}

CEntryId MessageId(const MAPIUID& store, int64_t rootId, int64_t fid, int64_t mid)
{
    CEntryId id(kEntryMessage, store);
    id.idRoot = rootId;
    id.fid = fid;
    id.mid = mid;
    return id;
}

ClientBuffer<SPropValue> GetProps(IMAPIProp* object, const std::vector<ULONG>& tags, HRESULT& hr, ULONG flags)
{
    std::vector<ULONG> buffer(tags.size() + 1);
    buffer[0] = static_cast<ULONG>(tags.size());
    std::copy(tags.begin(), tags.end(), buffer.begin() + 1);
    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(buffer.data()), flags, &count, &values);
    return ClientBuffer<SPropValue>(values);
}

ClientRows AllRows(IMAPITable* table, const std::vector<ULONG>& columns)
{
    if (!columns.empty()) {
        std::vector<ULONG> buffer(columns.size() + 1);
        buffer[0] = static_cast<ULONG>(columns.size());
        std::copy(columns.begin(), columns.end(), buffer.begin() + 1);
        if (FAILED(table->SetColumns(reinterpret_cast<LPSPropTagArray>(buffer.data()), 0)))
            return nullptr;
    }
    if (FAILED(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)))
        return nullptr;
    LPSRowSet rows = nullptr;
    if (FAILED(table->QueryRows(0x7FFFFFFF, 0, &rows)))
        return nullptr;
    return ClientRows(rows);
}

const SPropValue* FindProp(const SPropValue* values, ULONG count, ULONG tag)
{
    for (ULONG i = 0; values && i < count; ++i)
        if (values[i].ulPropTag == tag)
            return &values[i];
    return nullptr;
}

std::vector<BYTE> Bytes(const SPropValue* value)
{
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY)
        return {};
    return std::vector<BYTE>(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
}

std::wstring Text(const SPropValue* value)
{
    if (!value || PROP_TYPE(value->ulPropTag) != PT_UNICODE || !value->Value.lpszW)
        return L"<none>";
    return value->Value.lpszW;
}

namespace {

template <typename T>
std::wstring ErrorTextOf(T* object, HRESULT hr)
{
    LPMAPIERROR error = nullptr;
    if (FAILED(object->GetLastError(hr, MAPI_UNICODE, &error)) || !error)
        return std::wstring();
    std::wstring text = error->lpszError ? reinterpret_cast<const wchar_t*>(error->lpszError) : L"";
    MAPIFreeBuffer(error);
    return text;
}

} // namespace

std::wstring LastErrorText(IMAPIProp* object, HRESULT hr)
{
    return ErrorTextOf(object, hr);
}

std::wstring LastErrorText(IMAPITable* table, HRESULT hr)
{
    return ErrorTextOf(table, hr);
}

HRESULT OpenEntry(IMsgStore* store, const CEntryId& id, ULONG flags, ULONG* type, IUnknown** object)
{
    return store->OpenEntry(sizeof(id), const_cast<CEntryId&>(id).AsEntryId(), nullptr, flags, type, object);
}

HRESULT OpenEntry(IMAPIContainer* container, const CEntryId& id, ULONG flags, ULONG* type, IUnknown** object)
{
    return container->OpenEntry(sizeof(id), const_cast<CEntryId&>(id).AsEntryId(), nullptr, flags, type, object);
}

} // namespace providertest

namespace providertest {

CStoreSession::CStoreSession(const SStoreSettings& settings, const wchar_t* profilePrefix) : m_profile(profilePrefix)
{
    m_status = m_profile.Status();
    if (SUCCEEDED(m_status))
        m_status = m_profile.AddStore(settings, &m_uid);
    if (SUCCEEDED(m_status))
        m_status = m_profile.Logon(m_session.GetAddressOf());
    if (SUCCEEDED(m_status))
        m_status = OpenStoreOf(m_session.Get(), m_uid, m_store.GetAddressOf());
}

CStoreSession::~CStoreSession()
{
    Close();
}

void CStoreSession::Close()
{
    m_store.Reset();
    if (m_session) {
        m_session->Logoff(0, 0, 0);
        m_session.Reset();
    }
}

HRESULT CStoreSession::OpenWritableStore(IMsgStore** store)
{
    MAPIUID uid = {};
    HRESULT hr = m_profile.AddWritableStore(&uid);
    if (FAILED(hr))
        return hr;
    return OpenStoreOf(m_session.Get(), uid, store);
}

} // namespace providertest
