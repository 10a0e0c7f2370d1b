#include "Platform.h"
#include "objects/CEseStoreContext.h"
#include "objects/LogReplay.h"
#include "CException.h"
#include "objects/FolderTables.h"

#include <map>
#include <vector>

using NJbFramework::CDatabase;
using NJbFramework::CInstance;
using NJbFramework::CSession;
using NJbFramework::CSharedRef;

namespace {

// Read-only attach and open.
constexpr JET_GRBIT kReadOnly = 0x1;

std::map<std::string, CEseStoreContext*>& StoreMap()
{
    static std::map<std::string, CEseStoreContext*> map;
    return map;
}

std::vector<std::wstring>& LeftWorkFolders()
{
    static std::vector<std::wstring> folders;
    return folders;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct MapLockHolder {
    MapLockHolder() { InitializeCriticalSection(&lock); }
    CRITICAL_SECTION lock;
};

} // namespace

CRITICAL_SECTION& CEseStoreContext::MapLock()
{
    static MapLockHolder holder;
    return holder.lock;
}

CEseStoreContext* CEseStoreContext::Find(const std::string& path)
{
    auto found = StoreMap().find(path);
    return found == StoreMap().end() ? nullptr : found->second;
}

CEseStoreContext::CEseStoreContext(const CSharedRef<CInstance>& instance, const std::string& path,
                                   const std::string& attachPath, const std::wstring& workFolder)
    : m_path(path), m_workFolder(workFolder)
{
    const std::string& file = attachPath.empty() ? path : attachPath;
    CSharedRef<CSession> session = NJbFramework::MakeShared<CSession>(instance);
    session->AttachDatabase(file.c_str(), kReadOnly);
    m_database = NJbFramework::MakeShared<CDatabase>(session, file.c_str(), kReadOnly);
    StoreMap()[m_path] = this;
}

CEseStoreContext::~CEseStoreContext()
{
    auto found = StoreMap().find(m_path);
    if (found != StoreMap().end() && found->second == this)
        StoreMap().erase(found);
    m_database.Reset();
    if (!m_workFolder.empty())
        DiscardWorkFolder(m_workFolder);
}

void CEseStoreContext::DiscardWorkFolder(const std::wstring& folder)
{
    RemoveFolderTree(folder);
    if (Exists(folder))
        LeftWorkFolders().push_back(folder);
}

void CEseStoreContext::RemoveLeftWorkFolders()
{
    std::vector<std::wstring>& folders = LeftWorkFolders();
    for (size_t i = folders.size(); i-- > 0;) {
        RemoveFolderTree(folders[i]);
        if (!Exists(folders[i]))
            folders.erase(folders.begin() + static_cast<long>(i));
    }
}

std::string CEseStoreContext::AttachmentsFolderTable()
{
    constexpr wchar_t kAttachmentsFolder[] = L"MDB Attachments Folder";
    if (m_attachmentsTable.empty()) {
        CSharedRef<CEseStoreContext> self(this);
        CEseTableImpl folders(0x6748, self, "Folders", kKindFolders);
        int64_t id = FindFolderIdByName(folders, kAttachmentsFolder);
        if (!id)
            ThrowServerError(kErrNotFound, L"cannot find attachment folder by name=%s", kAttachmentsFolder);
        std::string name = FormatEseId(id);
        m_attachmentsTable.assign(name.begin(), name.end());
    }
    return std::string(m_attachmentsTable.begin(), m_attachmentsTable.end());
}
