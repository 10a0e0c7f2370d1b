// The main job: a MAPI client of the provider. It makes a MAPI profile that
// holds a store of the given database (the store's private properties and
// settings file written as the service's wizard writes them), logs on
// through MAPI, opens the store from the session's stores table and prints
// the IPM subtree, each mailbox's folder tree with its counts, and the first
// rows of every folder's contents table. The profile and the settings file
// go again at the end. With --profile it logs on to a profile that the
// service's wizard made instead and browses the provider's store in it.
//
//   VostrelMapiBrowse <database.edb> [log folder]
//   VostrelMapiBrowse --profile <profile name>
#include "ProviderPlatform.h"
#include "CEntryId.h"
#include "CStoreConfig.h"
#include "ResourceStrings.h"
#include "Vostrel2007.h"
#include "testing/StoreProfile.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kRowsShown = 5;
constexpr int kMaxDepth = 16;

void Print(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = _vscwprintf(format, measure);
    va_end(measure);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    _vsnwprintf(&text[0], text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

struct CRowsFree {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using Rows = std::unique_ptr<SRowSet, CRowsFree>;

template <typename T>
std::wstring LastError(T* object, HRESULT hr)
{
    LPMAPIERROR error = nullptr;
    if (FAILED(object->GetLastError(hr, MAPI_UNICODE, &error)) || !error)
        return std::wstring();
    std::wstring text = error->lpszError ? reinterpret_cast<const wchar_t*>(error->lpszError) : L"";
    MAPIFreeBuffer(error);
    return text;
}

template <typename T>
void PrintFailure(int depth, const char* call, HRESULT hr, T* object)
{
    Print(L"%*s%S failed: 0x%08lX\n", depth * 2, L"", call, static_cast<unsigned long>(hr));
    std::wstring text = object ? LastError(object, hr) : std::wstring();
    if (!text.empty())
        Print(L"%*s%s\n", depth * 2 + 2, L"", text.c_str());
}

Rows QueryAll(IMAPITable* table, std::vector<ULONG> columns, LONG limit = 0x7FFFFFFF, LPSSortOrderSet order = nullptr)
{
    std::vector<ULONG> tags(columns.size() + 1);
    tags[0] = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags.begin() + 1);
    HRESULT hr = table->SetColumns(reinterpret_cast<LPSPropTagArray>(tags.data()), 0);
    if (FAILED(hr)) {
        PrintFailure(1, "IMAPITable::SetColumns", hr, table);
        return nullptr;
    }
    if (order && FAILED(hr = table->SortTable(order, 0))) {
        PrintFailure(1, "IMAPITable::SortTable", hr, table);
        return nullptr;
    }
    LPSRowSet rows = nullptr;
    if (FAILED(table->QueryRows(limit, 0, &rows)))
        return nullptr;
    return Rows(rows);
}

std::wstring Text(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW ? value.Value.lpszW : L"";
}

LONG Number(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_LONG ? value.Value.l : 0;
}

std::wstring Time(const SPropValue& value)
{
    if (PROP_TYPE(value.ulPropTag) != PT_SYSTIME)
        return L"";
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&value.Value.ft, &time);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute);
    return text;
}

ComPtr<IMAPIFolder> OpenFolder(IMAPIContainer* parent, const SBinary& id, int depth)
{
    ULONG type = 0;
    ComPtr<IUnknown> object;
    HRESULT hr = parent->OpenEntry(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS, &type,
                                   object.GetAddressOf());
    ComPtr<IMAPIFolder> folder;
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::OpenEntry", hr, parent);
        return folder;
    }
    object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(folder.GetAddressOf()));
    return folder;
}

void PrintContents(IMAPIFolder* folder, int depth)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetContentsTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::GetContentsTable", hr, folder);
        return;
    }
    // The newest first, as a mail client shows a folder.
    SSortOrderSet newestFirst = {1, 0, 0, {{PR_MESSAGE_DELIVERY_TIME, TABLE_SORT_DESCEND}}};
    Rows rows = QueryAll(table.Get(), {PR_SUBJECT_W, PR_SENDER_NAME_W, PR_SENT_REPRESENTING_NAME_W,
                                       PR_MESSAGE_DELIVERY_TIME, PR_MESSAGE_SIZE, PR_MESSAGE_FLAGS},
                         kRowsShown, &newestFirst);
    ULONG count = 0;
    table->GetRowCount(0, &count);
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        std::wstring sender = Text(v[1]);
        if (sender.empty())
            sender = Text(v[2]);
        Print(L"%*s- %s%s  \"%s\" from %s, %ld bytes\n", depth * 2, L"", Time(v[3]).c_str(),
              (Number(v[5]) & MSGFLAG_READ) ? L"" : L" (unread)", Text(v[0]).c_str(),
              sender.empty() ? L"(unknown sender)" : sender.c_str(), Number(v[4]));
    }
    if (count > kRowsShown)
        Print(L"%*s  ... and %lu more\n", depth * 2, L"", static_cast<unsigned long>(count - kRowsShown));
}

void PrintTree(IMAPIFolder* folder, int depth)
{
    PrintContents(folder, depth);
    if (depth >= kMaxDepth)
        return;
    ComPtr<IMAPITable> table;
    HRESULT hr = folder->GetHierarchyTable(0, table.GetAddressOf());
    if (FAILED(hr)) {
        PrintFailure(depth, "IMAPIFolder::GetHierarchyTable", hr, folder);
        return;
    }
    Rows rows = QueryAll(table.Get(), {PR_DISPLAY_NAME_W, PR_CONTENT_COUNT, PR_CONTENT_UNREAD, PR_ENTRYID,
                                       PR_CONTAINER_CLASS_W});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* v = rows->aRow[r].lpProps;
        std::wstring kind = Text(v[4]);
        Print(L"%*s%s (%ld items, %ld unread)%s%s\n", depth * 2, L"", Text(v[0]).c_str(), Number(v[1]),
              Number(v[2]), kind.empty() ? L"" : L" ", kind.c_str());
        if (PROP_TYPE(v[3].ulPropTag) != PT_BINARY)
            continue;
        ComPtr<IMAPIFolder> child = OpenFolder(folder, v[3].Value.bin, depth + 1);
        if (child)
            PrintTree(child.Get(), depth + 1);
    }
}

// Whether the database holds public folders only, as the wizard finds out:
// a database without a mailbox table.
bool IsPublicFolderStore(const std::wstring& database, const std::wstring& logs)
{
    ComPtr<IEseInstance> instance;
    if (FAILED(CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                reinterpret_cast<void**>(instance.GetAddressOf()))))
        return false;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring work = std::wstring(temp) + L"VostrelMapiBrowse";
    CreateDirectoryW(work.c_str(), nullptr);
    std::wstring path = database;
    std::wstring logPath = logs.empty() ? database.substr(0, database.find_last_of(L'\\')) : logs;
    ComPtr<IEseStore> store;
    if (FAILED(instance->Init(4096, &work[0], &work[0])) || FAILED(instance->OpenStore(&path[0], &logPath[0], &store)))
        return false;
    ComPtr<IEseTable> mailboxes;
    return store->GetMailboxesTable(0, nullptr, 1, &mailboxes) == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

int BrowseStore(IMAPISession* session, const MAPIUID& service, bool publicFoldersOnly);

int Browse(const std::wstring& database, const std::wstring& logs)
{
    providertest::SStoreSettings settings;
    settings.databasePath = database;
    settings.logFolder = logs;
    settings.publicFoldersOnly = IsPublicFolderStore(database, logs);

    providertest::CStoreProfile profile(L"VostrelMainJob");
    MAPIUID service = {};
    HRESULT hr = profile.AddStore(settings, &service);
    if (FAILED(hr)) {
        std::fprintf(stderr, "the profile could not be made: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ComPtr<IMAPISession> session;
    hr = profile.Logon(session.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "MAPILogonEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    return BrowseStore(session.Get(), service, settings.publicFoldersOnly);
}

// The store of this provider in a profile the service's wizard made.
int BrowseProfile(const std::wstring& name)
{
    ComPtr<IMAPISession> session;
    HRESULT hr = MAPILogonEx(0, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(name.c_str())), nullptr,
                             MAPI_UNICODE | MAPI_NEW_SESSION | MAPI_EXTENDED, session.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "MAPILogonEx failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    ComPtr<IMAPITable> stores;
    Rows rows;
    if (SUCCEEDED(session->GetMsgStoresTable(0, stores.GetAddressOf())))
        rows = QueryAll(stores.Get(), {PR_MDB_PROVIDER, PR_SERVICE_UID});
    for (ULONG r = 0; rows && r < rows->cRows; ++r) {
        const SPropValue* values = rows->aRow[r].lpProps;
        if (values[0].ulPropTag != PR_MDB_PROVIDER || values[0].Value.bin.cb != sizeof(kProviderUid.ab) ||
            memcmp(values[0].Value.bin.lpb, kProviderUid.ab, sizeof(kProviderUid.ab)) != 0 ||
            values[1].ulPropTag != PR_SERVICE_UID || values[1].Value.bin.cb != sizeof(MAPIUID))
            continue;
        MAPIUID service;
        memcpy(service.ab, values[1].Value.bin.lpb, sizeof(service.ab));
        LONG publicFoldersOnly = 0;
        CStoreConfig().GetPublicFoldersOnly(service, publicFoldersOnly);
        return BrowseStore(session.Get(), service, publicFoldersOnly != 0);
    }
    std::fprintf(stderr, "the profile holds no store of the provider\n");
    session->Logoff(0, 0, 0);
    return 1;
}

int BrowseStore(IMAPISession* session, const MAPIUID& service, bool publicFoldersOnly)
{
    ComPtr<IMsgStore> store;
    HRESULT hr = providertest::OpenStoreOf(session, service, store.GetAddressOf());
    if (FAILED(hr)) {
        std::fprintf(stderr, "the store could not be opened: 0x%08lX\n", static_cast<unsigned long>(hr));
        session->Logoff(0, 0, 0);
        return 1;
    }

    SizedSPropTagArray(2, storeTags) = {2, {PR_DISPLAY_NAME_W, PR_IPM_SUBTREE_ENTRYID}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    hr = store->GetProps(reinterpret_cast<LPSPropTagArray>(&storeTags), MAPI_UNICODE, &count, &values);
    int result = 1;
    if (SUCCEEDED(hr) && PROP_TYPE(values[1].ulPropTag) == PT_BINARY) {
        Print(L"%s%s\n", Text(values[0]).c_str(), publicFoldersOnly ? L", public folders" : L"");
        ULONG type = 0;
        ComPtr<IUnknown> object;
        hr = store->OpenEntry(values[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(values[1].Value.bin.lpb), nullptr,
                              MAPI_BEST_ACCESS, &type, object.GetAddressOf());
        ComPtr<IMAPIFolder> ipm;
        if (SUCCEEDED(hr))
            object->QueryInterface(IID_IMAPIFolder, reinterpret_cast<void**>(ipm.GetAddressOf()));
        if (ipm) {
            Print(L"IPM subtree\n");
            PrintTree(ipm.Get(), 1);
            result = 0;
        } else {
            PrintFailure(0, "IMsgStore::OpenEntry", hr, store.Get());
        }
    } else {
        PrintFailure(0, "IMsgStore::GetProps", hr, store.Get());
    }
    MAPIFreeBuffer(values);
    store.Reset();
    session->Logoff(0, 0, 0);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool existingProfile = argc == 3 && std::wstring(argv[1]) == L"--profile";
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: VostrelMapiBrowse <database.edb> [log folder]\n"
                             "       VostrelMapiBrowse --profile <profile name>\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "COM could not be initialised\n");
        return 1;
    }
    int result = 1;
    if (FAILED(MAPIInitialize(nullptr))) {
        std::fprintf(stderr, "MAPI could not be initialised\n");
    } else {
        // This program writes the store's settings file where the provider
        // reads it: in the data folder the resource library names.
        SetResourceLibrary(LoadLibraryW(L"pelmrix.dll"));
        result = existingProfile ? BrowseProfile(argv[2]) : Browse(argv[1], argc == 3 ? argv[2] : L"");
        MAPIUninitialize();
    }
    CoUninitialize();
    return result;
}
