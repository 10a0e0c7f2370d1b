#pragma once
// The content of one writable message store (the stand-in's own store
// service): its folders, each with its properties, sub-folders and
// messages, and its messages, each kept as a message on memory storage.
// One content exists per service UID for the life of the process, so that
// every logon to the service sees what earlier ones wrote.
//
// The caller holds Lock() while it reads or changes the maps.
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

    static std::shared_ptr<CWritableData> ForService(const MAPIUID& service);

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

private:
    explicit CWritableData(const MAPIUID& service);

    std::recursive_mutex m_lock;
    MAPIUID m_service;
    ULONG m_nextId = 3;
    std::map<ULONG, Folder> m_folders;
    std::map<ULONG, Message> m_messages;
};
