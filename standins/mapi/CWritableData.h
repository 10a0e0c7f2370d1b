#pragma once
// The content of one writable message store (the stand-in's own store
// service): its folders, each with its properties, sub-folders and
// messages, and its messages, each a message on a storage of its own.
//
// The content lives in one compound file per service under the user's
// local application data ("Vostrel\Writable Stores\<service UID>.store"):
// a stream "Folders" holds the folder tree and the folders' properties
// (rewritten at every change of them), and a storage "M<folder>.<id>" per
// message holds the message in the layout of messages on storage (its name
// alone records the message, so adding one rewrites nothing else). The file is open
// in direct mode, so what a message's SaveChanges writes is in the file at
// once. Where the file cannot be made, the same layout lives in memory.
// One content object exists per service while anything uses it; the next
// logon reads the file again.
//
// The caller holds Lock() while it reads or changes the maps, and calls
// SaveTree() after changing folders or their properties.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

// The store's entry identifiers: flags, the service UID (which the store
// registers as its provider UID, so MAPI routes them back), kind and id.
struct WritableEntryId {
    BYTE flags[4];
    MAPIUID store;
    ULONG kind;
    ULONG id;

    static constexpr ULONG kStore = 1;
    static constexpr ULONG kFolder = 2;
    static constexpr ULONG kMessage = 3;
};

class CWritableData {
public:
    struct Folder {
        ULONG id = 0;
        ULONG parent = 0;
        CPropBag props;
        std::vector<ULONG> children;
        std::vector<ULONG> messages;
    };
    struct Message {
        ULONG id = 0;
        ULONG folder = 0;
        ComPtr<IStorage> storage;
    };

    static constexpr ULONG kRootFolder = 1;
    static constexpr ULONG kIpmSubtree = 2;

    // MAPI_E_CORRUPT_DATA when the file is there but cannot be read (it is
    // left as it is).
    static HRESULT ForService(const MAPIUID& service, std::shared_ptr<CWritableData>& out);
    // The service is gone: its file goes with the last user of the content.
    static void DeleteService(const MAPIUID& service);
    static std::wstring FileFor(const MAPIUID& service);
    ~CWritableData();

    std::recursive_mutex& Lock() { return m_lock; }
    const MAPIUID& Service() const { return m_service; }
    WritableEntryId IdOf(ULONG kind, ULONG id) const;

    Folder* FindFolder(ULONG id);
    Message* FindMessage(ULONG id);
    // Null name: any. Returns the child folder of parent with that display name.
    Folder* ChildNamed(ULONG parent, const std::wstring& name);
    HRESULT AddFolder(ULONG parent, const std::wstring& name, const std::wstring& comment, ULONG type, ULONG* id);
    HRESULT AddMessage(ULONG folder, ULONG* id);
    void RemoveMessage(ULONG id);
    void RemoveFolder(ULONG id);
    HRESULT SaveTree();

private:
    explicit CWritableData(const MAPIUID& service);
    HRESULT Open();
    HRESULT LoadTree();
    void CreateTree();
    static std::wstring MessageName(ULONG folder, ULONG id);

    std::recursive_mutex m_lock;
    MAPIUID m_service;
    ULONG m_nextId = 3;
    std::map<ULONG, Folder> m_folders;
    std::map<ULONG, Message> m_messages;
    ComPtr<IStorage> m_root;
    std::wstring m_file;     // empty when the content is in memory
    bool m_deleted = false;
};
