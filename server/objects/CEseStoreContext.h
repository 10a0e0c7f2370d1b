#pragma once
// One opened database, shared by every store object of its path: the path
// (narrow, the key of the store map), the opened database (which holds its
// session, which holds its engine instance), and caches that the store and
// folder objects fill on first use.
//
// The store map is process-wide and guarded by its own lock, which is taken
// before the reference registry's. A context enters the map when it is built
// and leaves it when it is destroyed (its last holder let go).
#include "Platform.h"
#include "esedb/CDatabase.h"

#include <string>

class CEseStoreContext {
public:
    // Begins a session on the instance, attaches the database file read-only
    // and opens it, and enters the context into the map under `path`. The
    // file opened is `attachPath` (the replayed copy) when given, else `path`.
    // `workFolder` (may be empty) is removed when the context goes.
    CEseStoreContext(const NJbFramework::CSharedRef<NJbFramework::CInstance>& instance, const std::string& path,
                     const std::string& attachPath, const std::wstring& workFolder);
    ~CEseStoreContext();
    CEseStoreContext(const CEseStoreContext&) = delete;
    CEseStoreContext& operator=(const CEseStoreContext&) = delete;

    const std::string& Path() const { return m_path; }
    const NJbFramework::CSharedRef<NJbFramework::CDatabase>& Database() const { return m_database; }

    // The caches the object Parts fill: the message-table name of the
    // attachments folder, and the name of the discovered folder index.
    std::wstring& AttachmentsTableCache() { return m_attachmentsTable; }
    std::wstring& FolderIndexCache() { return m_folderIndex; }

    // The message-table name of the folder "MDB Attachments Folder", found
    // on first use and cached; a database without that folder throws
    // CException code 1. The context must be held by a shared reference (the
    // table engine it opens takes one).
    std::string AttachmentsFolderTable();

    // Whether the database holds public folders (it has no "Mailbox"
    // table): -1 until first asked, then 0 or 1 for the context's life.
    int& PublicFolderFlag() { return m_publicFolders; }

    // The store map: the context of a path (exact, case-sensitive), or none.
    // Call with the map lock held.
    static CEseStoreContext* Find(const std::string& path);
    static CRITICAL_SECTION& MapLock();

    // Removes a working folder; one that the engine still holds a file of
    // is removed later, with the left ones below. Call with the map lock held.
    static void DiscardWorkFolder(const std::wstring& folder);

    // Working copies the engine still held when their context went (an
    // attached file stays open until its instance ends): removed again when
    // an instance is let go. Call with the map lock held.
    static void RemoveLeftWorkFolders();

private:
    std::string m_path;
    std::wstring m_attachmentsTable;
    std::wstring m_folderIndex;
    int m_publicFolders = -1;
    NJbFramework::CSharedRef<NJbFramework::CDatabase> m_database;
    std::wstring m_workFolder;
};

// Holds the store-map lock for a scope.
class CStoreMapLock {
public:
    CStoreMapLock() { EnterCriticalSection(&CEseStoreContext::MapLock()); }
    ~CStoreMapLock() { LeaveCriticalSection(&CEseStoreContext::MapLock()); }
    CStoreMapLock(const CStoreMapLock&) = delete;
    CStoreMapLock& operator=(const CStoreMapLock&) = delete;
};
