#include "Platform.h"
#include "objects/FolderTables.h"
#include "CException.h"
#include "EseValueMemory.h"
#include "esedb/CColumnInfo.h"
#include "esedb/CColumnSet.h"
#include "esedb/CFailedJbApiCallException.h"

#include <cstring>
#include <cwchar>
#include <vector>

using NJbFramework::CColumnSet;
using NJbFramework::CSharedRef;
using NJbFramework::CTable;

namespace {

constexpr char kFolderIndexPrefix[] = "?T668f+Q6749+S3001+Q6748";
constexpr size_t kFolderIndexPrefixLength = sizeof(kFolderIndexPrefix) - 1;
constexpr size_t kIndexNameMaximum = 128;
constexpr unsigned long kBatchRows = 100;

constexpr unsigned short kIdFolderId = 0x6748;
constexpr unsigned short kIdParentFolderId = 0x6749;
constexpr unsigned short kIdMailboxRoot = 0x6764;
constexpr ULONG kTagFolderId = 0x67480014;
constexpr ULONG kTagDisplayName = 0x3001001F;
constexpr ULONG kTagSubfolders = 0x360A000B;

constexpr wchar_t kIpmSubtree[] = L"IPM_SUBTREE";

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow.push_back(static_cast<char>(c));
    return narrow;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// The names and entry counts of the candidate indexes, in listing order.
std::string DiscoverFolderIndex(const ContextRef& context)
{
    CSharedRef<CTable> folders(new CTable(context->Database(), "Folders", JET_bitTableReadOnly));
    JET_INDEXLIST list;
    std::memset(&list, 0, sizeof(list));
    list.cbStruct = sizeof(list);
    NJbFramework::CheckJbResult(NJbFramework::kJetGetTableIndexInfo,
                                JetGetTableIndexInfoA(folders->SessionHandle(), folders->Handle(), nullptr, &list,
                                                      sizeof(list), JET_IdxInfoList));
    std::vector<std::string> candidates;
    {
        CTable listing(folders->Session(), list.tableid);
        CColumnSet columns(kIndexNameMaximum);
        NJbFramework::SColumnDescriptor* name = columns.AddColumn(list.columnidindexname);
        NJbFramework::SColumnDescriptor* segment = columns.AddColumn(list.columnidiColumn);
        for (bool more = listing.Move(JET_MoveFirst, 0); more; more = listing.Move(JET_MoveNext, 0)) {
            columns.Fetch(listing, 1);
            unsigned long segmentNumber = 0;
            if (segment->record->err >= 0 && segment->record->cbActual >= sizeof(segmentNumber))
                std::memcpy(&segmentNumber, segment->record->pvData, sizeof(segmentNumber));
            if (segmentNumber != 0 || name->record->err < 0)
                continue;
            size_t length = std::min<size_t>(name->record->cbActual, name->record->cbData);
            std::string text(static_cast<const char*>(name->record->pvData), length);
            text = text.c_str();  // up to a terminating zero, if stored with one
            if (text.size() >= kFolderIndexPrefixLength &&
                _strnicmp(text.c_str(), kFolderIndexPrefix, kFolderIndexPrefixLength) == 0)
                candidates.push_back(text);
        }
    }
    std::string winner;
    unsigned long most = 0;
    for (const std::string& candidate : candidates) {
        folders->SetIndex(candidate.c_str());
        unsigned long count = 0;
        NJbFramework::CheckJbResult(NJbFramework::kUnknownJbApiFunction,
                                    JetIndexRecordCount(folders->SessionHandle(), folders->Handle(), &count, 0));
        if (winner.empty() || count > most) {
            winner = candidate;
            most = count;
        }
    }
    return winner;
}

void FreeRows(_SEseRow* rows, ULONG count) { FreeEseRows(rows, count); }

} // namespace

bool IsPresentValue(const _SEsePropertyValue& value)
{
    USHORT type = static_cast<USHORT>(value.m_tag & 0xFFFF);
    return type != 0x0001 && type != 0x000A && value.m_type != ESE_PT_ERROR;
}

std::string DiscoveredFolderIndex(const ContextRef& context)
{
    std::wstring& cache = context->FolderIndexCache();
    if (cache.empty())
        cache = Widen(DiscoverFolderIndex(context));
    return Narrow(cache);
}

TableRef OpenChildFolders(const ContextRef& context, int64_t parentId)
{
    TableRef table(new CEseTableImpl(kIdParentFolderId, context, "Folders", kKindFolders));
    std::string index = DiscoveredFolderIndex(context);
    // Without the parent-id index the table stays in scan mode, which
    // compares each row's parent id: slower, but the same children (the
    // primary index would seek folder ids instead).
    if (!index.empty())
        table->SetIndexByName(index.c_str());
    table->SetKeyValues(1, &parentId, true);
    return table;
}

int64_t FindFolderIdByName(CEseTableImpl& table, const wchar_t* name)
{
    const unsigned long tags[] = {kTagFolderId, kTagDisplayName};
    table.SetColumns(2, tags);
    size_t length = std::wcslen(name);
    for (bool restart = true;; restart = false) {
        ULONG count = 0;
        _SEseRow* rows = nullptr;
        table.GetRows(kBatchRows, restart, &count, &rows);
        if (count == 0)
            return 0;
        int64_t found = 0;
        for (ULONG i = 0; i < count && !found; ++i) {
            const _SEseRow& row = rows[i];
            if (row.m_valueCount < 2 || !IsPresentValue(row.m_p_values[0]) || !IsPresentValue(row.m_p_values[1]))
                continue;
            const _SEsePropertyValue& display = row.m_p_values[1];
            if (display.m_type != ESE_PT_STRING16 || !display.m_value.m_p_ws)
                continue;
            if (std::wcslen(display.m_value.m_p_ws) == length && _wcsicmp(display.m_value.m_p_ws, name) == 0 &&
                row.m_p_values[0].m_type == ESE_PT_INT64)
                found = row.m_p_values[0].m_value.m_i64;
        }
        FreeRows(rows, count);
        if (found)
            return found;
    }
}

bool IsPublicFolderStore(const ContextRef& context)
{
    int& flag = context->PublicFolderFlag();
    if (flag < 0) {
        try {
            CEseTableImpl mailbox(kIdMailboxRoot, context, "Mailbox", kKindMailbox);
            flag = 0;
        } catch (CException&) {
            flag = 1;
        }
    }
    return flag == 1;
}

int64_t IpmSubtreeId(const ContextRef& context)
{
    if (!IsPublicFolderStore(context))
        return 0;
    CEseTableImpl folders(kIdFolderId, context, "Folders", kKindFolders);
    return FindFolderIdByName(folders, kIpmSubtree);
}

void ComputeSubfoldersFlag(ULONG count, _SEsePropertyValue* values, const ContextRef& context)
{
    const _SEsePropertyValue* folder = FindValueById(count, values, kIdFolderId);
    _SEsePropertyValue* target = FindValueById(count, values, static_cast<USHORT>(kTagSubfolders >> 16));
    // An absent folder id names no folder: the flag stays unknown.
    if (!target || !folder || folder->m_type != ESE_PT_INT64 || !context)
        return;
    TableRef children = OpenChildFolders(context, folder->m_value.m_i64);
    bool any = children->Move(true);
    FreeEseValueContents(*target);
    target->m_tag = kTagSubfolders;
    target->m_type = ESE_PT_BOOL;
    target->m_value.m_b = any ? 1 : 0;
}
