#include "MapiStandin.h"
#include "CWritableData.h"
#include "MapiSubsystem.h"
#include "SubsystemTables.h"

#include <algorithm>

std::shared_ptr<CWritableData> CWritableData::ForService(const MAPIUID& service)
{
    static std::mutex lock;
    static std::vector<std::shared_ptr<CWritableData>> stores;
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& store : stores)
        if (mapistub::SameUid(store->m_service, service))
            return store;
    std::shared_ptr<CWritableData> created(new CWritableData(service));
    stores.push_back(created);
    return created;
}

CWritableData::CWritableData(const MAPIUID& service) : m_service(service)
{
    Folder root;
    root.id = kRootFolder;
    root.props.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, L""));
    root.props.Set(mapistub::LongValue(PR_FOLDER_TYPE, FOLDER_ROOT));
    root.children.push_back(kIpmSubtree);
    m_folders[kRootFolder] = root;
    Folder top;
    top.id = kIpmSubtree;
    top.parent = kRootFolder;
    top.props.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, L"Top of Information Store"));
    top.props.Set(mapistub::LongValue(PR_FOLDER_TYPE, FOLDER_GENERIC));
    m_folders[kIpmSubtree] = top;
}

WritableEntryId CWritableData::IdOf(ULONG kind, ULONG id) const
{
    WritableEntryId entry{};
    entry.store = m_service;
    entry.kind = kind;
    entry.id = id;
    return entry;
}

CWritableData::Folder* CWritableData::FindFolder(ULONG id)
{
    auto it = m_folders.find(id);
    return it == m_folders.end() ? nullptr : &it->second;
}

CWritableData::Message* CWritableData::FindMessage(ULONG id)
{
    auto it = m_messages.find(id);
    return it == m_messages.end() ? nullptr : &it->second;
}

CWritableData::Folder* CWritableData::ChildNamed(ULONG parent, const std::wstring& name)
{
    Folder* folder = FindFolder(parent);
    if (!folder)
        return nullptr;
    for (ULONG child : folder->children) {
        Folder* f = FindFolder(child);
        const SPropValue* value = f ? f->props.Find(PROP_ID(PR_DISPLAY_NAME_W)) : nullptr;
        if (value && PROP_TYPE(value->ulPropTag) == PT_UNICODE && lstrcmpiW(value->Value.lpszW, name.c_str()) == 0)
            return f;
    }
    return nullptr;
}

HRESULT CWritableData::AddFolder(ULONG parent, const std::wstring& name, const std::wstring& comment, ULONG type,
                                 ULONG* id)
{
    Folder* owner = FindFolder(parent);
    if (!owner)
        return MAPI_E_NOT_FOUND;
    Folder folder;
    folder.id = m_nextId++;
    folder.parent = parent;
    HRESULT hr = folder.props.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, name.c_str()));
    if (SUCCEEDED(hr) && !comment.empty())
        hr = folder.props.Set(mapistub::WideValue(PR_COMMENT_W, comment.c_str()));
    if (SUCCEEDED(hr))
        hr = folder.props.Set(mapistub::LongValue(PR_FOLDER_TYPE, static_cast<LONG>(type)));
    if (FAILED(hr))
        return hr;
    owner->children.push_back(folder.id);
    *id = folder.id;
    m_folders[folder.id] = folder;
    return S_OK;
}

HRESULT CWritableData::AddMessage(ULONG folder, ULONG* id)
{
    Folder* owner = FindFolder(folder);
    if (!owner)
        return MAPI_E_NOT_FOUND;
    ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.GetAddressOf());
    if (FAILED(hr))
        return hr;
    Message message;
    hr = StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                      message.storage.GetAddressOf());
    if (FAILED(hr))
        return hr;
    message.id = m_nextId++;
    message.folder = folder;
    owner->messages.push_back(message.id);
    *id = message.id;
    m_messages[message.id] = message;
    return S_OK;
}

void CWritableData::RemoveMessage(ULONG id)
{
    Message* message = FindMessage(id);
    if (!message)
        return;
    if (Folder* owner = FindFolder(message->folder))
        owner->messages.erase(std::remove(owner->messages.begin(), owner->messages.end(), id), owner->messages.end());
    m_messages.erase(id);
}

void CWritableData::RemoveFolder(ULONG id)
{
    Folder* folder = FindFolder(id);
    if (!folder || id == kRootFolder || id == kIpmSubtree)
        return;
    std::vector<ULONG> children = folder->children;
    std::vector<ULONG> messages = folder->messages;
    for (ULONG child : children)
        RemoveFolder(child);
    for (ULONG message : messages)
        RemoveMessage(message);
    folder = FindFolder(id);
    if (Folder* owner = FindFolder(folder->parent))
        owner->children.erase(std::remove(owner->children.begin(), owner->children.end(), id), owner->children.end());
    m_folders.erase(id);
}
