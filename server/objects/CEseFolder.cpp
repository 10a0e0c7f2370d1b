#include "Platform.h"
#include "objects/CEseFolder.h"
#include "EseValueMemory.h"
#include "objects/CEseMessage.h"
#include "objects/FolderTables.h"
#include "objects/ObjectCreation.h"
#include "objects/RootAliasMaps.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

using NJbFramework::CSharedRef;

namespace {

constexpr unsigned short kIdFolder = 0x6748;
constexpr unsigned short kIdMailboxRoot = 0x6764;
constexpr unsigned short kIdMessage = 0x674A;
constexpr unsigned short kIdMsgRow = 0x67B0;
constexpr ULONG kTagParentFolderId = 0x67490014;
constexpr ULONG kTagMailboxRoot = 0x67640014;
constexpr ULONG kTagFolderId = 0x67480014;
constexpr ULONG kTagDisplayName = 0x3001001F;
constexpr ULONG kTagChildEntry = 0x674A0014;
constexpr int64_t kNoFolder = -1;  // all ones: a table name that does not exist
constexpr unsigned long kBatchRows = 100;
constexpr wchar_t kTopOfStore[] = L"Top of Information Store";

// The one 64-bit value of tag in the row, when present.
bool ReadInt64(CEsePropImpl& row, ULONG tag, int64_t* value)
{
    ULONG count = 0;
    _SEsePropertyValue* values = nullptr;
    row.GetProperties(1, &tag, &count, &values);
    bool present = count == 1 && IsPresentValue(values[0]) && values[0].m_type == ESE_PT_INT64;
    if (present)
        *value = values[0].m_value.m_i64;
    FreeEseValues(values, count);
    return present;
}

// The "Top of Information Store" child of the mailbox root `rootId`: its id
// (0 when none) and its counters.
int64_t FindTopOfStore(const CSharedRef<CEseStoreContext>& context, int64_t rootId, SRootCounters* counters)
{
    TableRef children = OpenChildFolders(context, rootId);
    std::vector<ULONG> tags = {kTagFolderId, kTagDisplayName};
    tags.insert(tags.end(), kRootCounterTags, kRootCounterTags + kRootCounterCount);
    children->SetColumns(static_cast<unsigned long>(tags.size()), tags.data());
    size_t nameLength = std::wcslen(kTopOfStore);
    for (bool restart = true;; restart = false) {
        ULONG count = 0;
        _SEseRow* rows = nullptr;
        children->GetRows(kBatchRows, restart, &count, &rows);
        if (count == 0)
            return 0;
        int64_t found = 0;
        for (ULONG r = 0; r < count && !found; ++r) {
            const _SEseRow& row = rows[r];
            bool complete = row.m_valueCount == tags.size();
            for (ULONG i = 0; complete && i < row.m_valueCount; ++i)
                complete = IsPresentValue(row.m_p_values[i]);
            if (!complete || row.m_p_values[0].m_type != ESE_PT_INT64 || row.m_p_values[1].m_type != ESE_PT_STRING16)
                continue;
            const wchar_t* name = row.m_p_values[1].m_value.m_p_ws;
            if (!name || std::wcslen(name) != nameLength || _wcsicmp(name, kTopOfStore) != 0)
                continue;
            found = row.m_p_values[0].m_value.m_i64;
            for (unsigned i = 0; i < kRootCounterCount; ++i)
                counters->values[i] = static_cast<ULONG>(row.m_p_values[2 + i].m_value.m_i32);
        }
        FreeEseRows(rows, count);
        if (found)
            return found;
    }
}

} // namespace

HRESULT CEseFolder::Create(CEseFolder** folder)
{
    *folder = new (std::nothrow) CEseFolder();
    return *folder ? S_OK : E_OUTOFMEMORY;
}

void CEseFolder::Construct(int64_t fid, const CSharedRef<CEseStoreContext>& context)
{
    m_id = fid;
    m_context = context;
    m_row.Reset(new CEsePropImpl(kIdFolder, fid, context, "Folders", kKindFolders));
    int64_t parent = -1;
    if (ReadInt64(*m_row, kTagParentFolderId, &parent) && parent == 0 && !IsPublicFolderStore(context))
        BecomeMailboxRoot(fid);
}

void CEseFolder::BecomeMailboxRoot(int64_t fid)
{
    m_row.Reset(new CEsePropImpl(kIdMailboxRoot, fid, m_context, "Mailbox", kKindMailbox));
    m_row->AddLinkedTable(kIdMailboxRoot, TableRef(new CEseTableImpl(kIdFolder, m_context, "Folders", kKindFolders)));
    int64_t root = 0;
    if (!ReadInt64(*m_row, kTagMailboxRoot, &root))
        root = 0;
    SRootCounters counters = {};
    int64_t top = root ? FindTopOfStore(m_context, root, &counters) : 0;
    if (!top) {
        m_id = kNoFolder;
        return;
    }
    m_id = top;
    SetRootAlias(top, root);
    SetRootCounters(root, counters);
}

STDMETHODIMP CEseFolder::GetFolder(hyper fid, hyper, IEseFolder** ppFolder)
{
    return HandOutObject<CEseFolder>(IID_IEseFolder, L"cannot create instance of the ese folder class", ppFolder,
                                     [&](CEseFolder& folder) { folder.Construct(fid, m_context); });
}

STDMETHODIMP CEseFolder::GetMessage(hyper mid, IEseMessage** ppMessage)
{
    return HandOutObject<CEseMessage>(IID_IEseFolder, L"cannot create instance of the ese message class", ppMessage,
                                      [&](CEseMessage& message) {
                                          message.Construct(mid, m_context, FormatEseId(m_id).c_str(),
                                                            kKindFolderMessages, false);
                                      });
}

STDMETHODIMP CEseFolder::GetFoldersTable(IEseTable** ppTable)
{
    return HandOutTable(IID_IEseFolder, ppTable, [&] { return OpenChildFolders(m_context, m_id); });
}

STDMETHODIMP CEseFolder::GetMessagesTable(IEseTable** ppTable)
{
    return HandOutTable(IID_IEseFolder, ppTable, [&] {
        // The message table also holds one entry row per child folder, whose
        // id is the child's 0x674A: those rows are left out.
        std::vector<int64_t> childEntries;
        {
            TableRef children = OpenChildFolders(m_context, m_id);
            ULONG tag = kTagChildEntry;
            children->SetColumns(1, &tag);
            ULONG count = 0;
            _SEseRow* rows = nullptr;
            children->GetRows(0xFFFFFFFF, true, &count, &rows);
            for (ULONG i = 0; i < count; ++i) {
                const _SEseRow& row = rows[i];
                if (row.m_valueCount >= 1 && IsPresentValue(row.m_p_values[0]) &&
                    row.m_p_values[0].m_type == ESE_PT_INT64)
                    childEntries.push_back(row.m_p_values[0].m_value.m_i64);
            }
            FreeEseRows(rows, count);
        }
        TableRef messages(new CEseTableImpl(kIdMessage, m_context, FormatEseId(m_id).c_str(), kKindFolderMessages));
        messages->SetKeyValues(static_cast<unsigned long>(childEntries.size()), childEntries.data(), false);
        messages->AddLinkedTable(kIdMsgRow, TableRef(new CEseTableImpl(kIdMsgRow, m_context, "Msg", kKindMsg)));
        return messages;
    });
}
