// The main job: opens a mailbox database through the database server (started
// by COM as a local server) and prints its mailboxes, their folder trees and
// the subjects and senders of the messages in each folder.
//
//   VostrelBrowse <database.edb> [log folder]
#include "Platform.h"
#include "EseValueMemory.h"
#include "Vostrel2007.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Prints as UTF-8, whatever the console's code page: names are Unicode.
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
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

constexpr ULONG kTagFolderId = 0x67480014;
constexpr ULONG kTagMailboxRoot = 0x67640014;
constexpr ULONG kTagDisplayName = 0x3001001F;
constexpr ULONG kTagContentCount = 0x36020003;
constexpr ULONG kTagMessageId = 0x674A0014;
constexpr ULONG kTagSubject = 0x0037001F;
constexpr ULONG kTagSenderName = 0x0C1A001F;
constexpr ULONG kTagSentRepresentingName = 0x0042001F;
constexpr int kMaxDepth = 16;

void PrintFailure(int depth, const char* call, HRESULT hr)
{
    Print(L"%*s%S failed: 0x%08lX", depth * 2, L"", call, static_cast<unsigned long>(hr));
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR text = nullptr;
        info->GetDescription(&text);
        Print(L" (%s)", text ? text : L"");
        SysFreeString(text);
    }
    Print(L"\n");
}

// The rows of a table with the given columns; empty on failure (printed).
class CRows {
public:
    CRows(IEseTable* table, std::vector<ULONG> columns, int depth)
    {
        HRESULT hr = table->SetColumns(static_cast<ULONG>(columns.size()), columns.data());
        if (SUCCEEDED(hr))
            hr = table->GetRows(0x7FFFFFFF, 1, &m_count, &m_rows);
        if (FAILED(hr))
            PrintFailure(depth, "IEseTable::GetRows", hr);
    }
    ~CRows() { FreeEseRows(m_rows, m_count); }
    CRows(const CRows&) = delete;
    CRows& operator=(const CRows&) = delete;

    ULONG Count() const { return m_count; }
    const _SEsePropertyValue* Find(ULONG row, ULONG tag) const
    {
        for (ULONG i = 0; i < m_rows[row].m_valueCount; ++i) {
            if (m_rows[row].m_p_values[i].m_tag == tag)
                return &m_rows[row].m_p_values[i];
        }
        return nullptr;
    }
    long long Id(ULONG row, ULONG tag) const
    {
        const _SEsePropertyValue* value = Find(row, tag);
        return value && value->m_type == ESE_PT_INT64 ? value->m_value.m_i64 : 0;
    }
    std::wstring Text(ULONG row, ULONG tag) const
    {
        const _SEsePropertyValue* value = Find(row, tag);
        if (value && value->m_type == ESE_PT_STRING16 && value->m_value.m_p_ws)
            return value->m_value.m_p_ws;
        return L"";
    }
    long Number(ULONG row, ULONG tag) const
    {
        const _SEsePropertyValue* value = Find(row, tag);
        return value && value->m_type == ESE_PT_INT32 ? value->m_value.m_i32 : 0;
    }

private:
    ULONG m_count = 0;
    _SEseRow* m_rows = nullptr;
};

void PrintMessages(IEseFolder* folder, int depth)
{
    ComPtr<IEseTable> table;
    HRESULT hr = folder->GetMessagesTable(&table);
    if (FAILED(hr))
        return; // a folder without a message table holds no messages
    CRows rows(table.Get(), {kTagMessageId, kTagSubject, kTagSenderName, kTagSentRepresentingName}, depth);
    for (ULONG i = 0; i < rows.Count(); ++i) {
        std::wstring sender = rows.Text(i, kTagSenderName);
        if (sender.empty())
            sender = rows.Text(i, kTagSentRepresentingName);
        Print(L"%*s- \"%s\" from %s\n", depth * 2, L"", rows.Text(i, kTagSubject).c_str(),
              sender.empty() ? L"(unknown sender)" : sender.c_str());
    }
}

void PrintFolderTree(IEseStore* store, IEseFolder* folder, int depth)
{
    PrintMessages(folder, depth);
    if (depth >= kMaxDepth)
        return;
    ComPtr<IEseTable> table;
    HRESULT hr = folder->GetFoldersTable(&table);
    if (FAILED(hr)) {
        PrintFailure(depth, "IEseFolder::GetFoldersTable", hr);
        return;
    }
    CRows rows(table.Get(), {kTagFolderId, kTagDisplayName, kTagContentCount}, depth);
    for (ULONG i = 0; i < rows.Count(); ++i) {
        Print(L"%*s%s (%ld items)\n", depth * 2, L"", rows.Text(i, kTagDisplayName).c_str(),
              rows.Number(i, kTagContentCount));
        ComPtr<IEseFolder> child;
        hr = store->GetFolder(rows.Id(i, kTagFolderId), 0, &child);
        if (FAILED(hr))
            PrintFailure(depth + 1, "IEseStore::GetFolder", hr);
        else
            PrintFolderTree(store, child.Get(), depth + 1);
    }
}

int Browse(const std::wstring& database, const std::wstring& logs)
{
    ComPtr<IEseInstance> instance;
    HRESULT hr = CoCreateInstance(CLSID_X2007EseInstance, nullptr, CLSCTX_LOCAL_SERVER, IID_IEseInstance,
                                  reinterpret_cast<void**>(instance.GetAddressOf()));
    if (FAILED(hr)) {
        std::fprintf(stderr, "X2007EseInstance could not be created: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring work = std::wstring(temp) + L"VostrelBrowse\\";
    CreateDirectoryW(work.c_str(), nullptr);
    hr = instance->Init(4096, &work[0], &work[0]);
    if (FAILED(hr)) {
        PrintFailure(0, "IEseInstance::Init", hr);
        return 1;
    }
    std::wstring path = database, logPath = logs;
    ComPtr<IEseStore> store;
    hr = instance->OpenStore(&path[0], logPath.empty() ? nullptr : &logPath[0], &store);
    if (FAILED(hr)) {
        PrintFailure(0, "IEseInstance::OpenStore", hr);
        return 1;
    }
    Print(L"%s\n", database.c_str());

    ComPtr<IEseTable> mailboxes;
    hr = store->GetMailboxesTable(0, nullptr, 0, &mailboxes);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        Print(L"public folders\n");
        ComPtr<IEseTable> top;
        if (FAILED(hr = store->GetFoldersTable(&top))) {
            PrintFailure(1, "IEseStore::GetFoldersTable", hr);
            return 1;
        }
        CRows rows(top.Get(), {kTagFolderId, kTagDisplayName, kTagContentCount}, 1);
        for (ULONG i = 0; i < rows.Count(); ++i) {
            Print(L"  %s\n", rows.Text(i, kTagDisplayName).c_str());
            ComPtr<IEseFolder> folder;
            if (SUCCEEDED(store->GetFolder(rows.Id(i, kTagFolderId), 0, &folder)))
                PrintFolderTree(store.Get(), folder.Get(), 2);
        }
        return 0;
    }
    if (FAILED(hr)) {
        PrintFailure(0, "IEseStore::GetMailboxesTable", hr);
        return 1;
    }
    CRows rows(mailboxes.Get(), {kTagMailboxRoot, kTagDisplayName}, 0);
    Print(L"%lu mailboxes\n", static_cast<unsigned long>(rows.Count()));
    for (ULONG i = 0; i < rows.Count(); ++i) {
        long long root = rows.Id(i, kTagMailboxRoot);
        Print(L"mailbox %s\n", rows.Text(i, kTagDisplayName).c_str());
        ComPtr<IEseFolder> folder;
        hr = store->GetFolder(root, root, &folder);
        if (FAILED(hr))
            PrintFailure(1, "IEseStore::GetFolder", hr);
        else
            PrintFolderTree(store.Get(), folder.Get(), 1);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: VostrelBrowse <database.edb> [log folder]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "COM could not be initialised\n");
        return 1;
    }
    int result = Browse(argv[1], argc == 3 ? argv[2] : L"");
    CoUninitialize();
    return result;
}
