#include "MapiStandin.h"
#include "CWritableData.h"
#include "MapiSubsystem.h"
#include "PropSerial.h"
#include "SubsystemTables.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

std::mutex g_registryLock;
std::vector<std::weak_ptr<CWritableData>> g_registry;
std::vector<MAPIUID> g_deleted;

constexpr ULONG kTreeVersion = 2;

class CWriter {
public:
    void Long(ULONG v) { Bytes(&v, sizeof(v)); }
    void Bytes(const void* p, size_t cb)
    {
        const BYTE* b = static_cast<const BYTE*>(p);
        m_bytes.insert(m_bytes.end(), b, b + cb);
    }
    const std::vector<BYTE>& Data() const { return m_bytes; }

private:
    std::vector<BYTE> m_bytes;
};

class CReader {
public:
    explicit CReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}
    bool Long(ULONG& v) { return Bytes(&v, sizeof(v)); }
    bool Bytes(void* p, size_t cb)
    {
        if (m_bytes.size() - m_at < cb)
            return false;
        std::memcpy(p, m_bytes.data() + m_at, cb);
        m_at += cb;
        return true;
    }
    bool Count(ULONG& v) { return Long(v) && v <= m_bytes.size(); }

private:
    const std::vector<BYTE>& m_bytes;
    size_t m_at = 0;
};

} // namespace

HRESULT CWritableData::ForService(const MAPIUID& service, std::shared_ptr<CWritableData>& out)
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    out.reset();
    for (auto it = g_registry.begin(); it != g_registry.end();) {
        std::shared_ptr<CWritableData> store = it->lock();
        if (!store) {
            it = g_registry.erase(it);
            continue;
        }
        if (mapistub::SameUid(store->m_service, service)) {
            out = store;
            return S_OK;
        }
        ++it;
    }
    std::shared_ptr<CWritableData> created(new (std::nothrow) CWritableData(service));
    if (!created)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = created->Open();
    if (FAILED(hr))
        return hr;
    g_registry.push_back(created);
    out = created;
    return S_OK;
}

void CWritableData::DeleteService(const MAPIUID& service)
{
    std::lock_guard<std::mutex> guard(g_registryLock);
    for (const auto& weak : g_registry)
        if (std::shared_ptr<CWritableData> store = weak.lock())
            if (mapistub::SameUid(store->m_service, service)) {
                std::lock_guard<std::recursive_mutex> storeGuard(store->m_lock);
                store->m_deleted = true;
                return;
            }
    DeleteFileW(FileFor(service).c_str());
}

std::wstring CWritableData::FileFor(const MAPIUID& service)
{
    wchar_t base[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)))
        return std::wstring();
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring name;
    for (BYTE b : service.ab) {
        name += digits[b >> 4];
        name += digits[b & 15];
    }
    return std::wstring(base) + L"\\Vostrel\\Writable Stores\\" + name + L".store";
}

std::wstring CWritableData::MessageName(ULONG folder, ULONG id)
{
    wchar_t name[32];
    wsprintfW(name, L"M%08lx.%08lx", folder, id);
    return name;
}

CWritableData::~CWritableData()
{
    m_messages.clear();
    m_root.Reset();
    if (m_deleted && !m_file.empty())
        DeleteFileW(m_file.c_str());
}

HRESULT CWritableData::Open()
{
    std::wstring file = FileFor(m_service);
    if (!file.empty()) {
        HRESULT hr = StgOpenStorage(file.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT,
                                    nullptr, 0, m_root.GetAddressOf());
        if (SUCCEEDED(hr)) {
            m_file = file;
            return LoadTree();
        }
        if (GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            return MAPI_E_CORRUPT_DATA; // there but unreadable: left alone
        std::wstring folder = file.substr(0, file.find_last_of(L'\\'));
        CreateDirectoryW(folder.substr(0, folder.find_last_of(L'\\')).c_str(), nullptr);
        CreateDirectoryW(folder.c_str(), nullptr);
        hr = StgCreateDocfile(file.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0,
                              m_root.GetAddressOf());
        if (SUCCEEDED(hr)) {
            m_file = file;
            CreateTree();
            return SaveTree();
        }
    }
    ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                          m_root.GetAddressOf());
    if (FAILED(hr))
        return hr;
    CreateTree();
    return SaveTree();
}

HRESULT CWritableData::SaveTree()
{
    CWriter out;
    out.Long(kTreeVersion);
    out.Long(m_nextId);
    out.Long(static_cast<ULONG>(m_folders.size()));
    for (const auto& entry : m_folders) {
        const Folder& folder = entry.second;
        out.Long(folder.id);
        out.Long(folder.parent);
        out.Long(static_cast<ULONG>(folder.children.size()));
        for (ULONG child : folder.children)
            out.Long(child);
        std::vector<ULONG> tags = folder.props.Tags();
        out.Long(static_cast<ULONG>(tags.size()));
        for (ULONG tag : tags) {
            std::vector<BYTE> bytes = mapistub::SerialiseValue(*folder.props.Find(PROP_ID(tag)));
            out.Long(tag);
            out.Long(static_cast<ULONG>(bytes.size()));
            out.Bytes(bytes.data(), bytes.size());
        }
    }
    ComPtr<IStream> stream;
    HRESULT hr = m_root->CreateStream(L"Folders", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                      stream.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ULONG written = 0;
    hr = stream->Write(out.Data().data(), static_cast<ULONG>(out.Data().size()), &written);
    if (FAILED(hr))
        return hr;
    stream.Reset();
    return m_root->Commit(STGC_DEFAULT);
}

HRESULT CWritableData::LoadTree()
{
    ComPtr<IStream> stream;
    if (FAILED(m_root->OpenStream(L"Folders", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.GetAddressOf())))
        return MAPI_E_CORRUPT_DATA;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > 0x10000000)
        return MAPI_E_CORRUPT_DATA;
    std::vector<BYTE> bytes(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG got = 0;
    if (!bytes.empty() && (FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got)) ||
                           got != bytes.size()))
        return MAPI_E_CORRUPT_DATA;
    CReader in(bytes);
    ULONG version = 0, count = 0;
    if (!in.Long(version) || version != kTreeVersion || !in.Long(m_nextId) || !in.Count(count))
        return MAPI_E_CORRUPT_DATA;
    for (ULONG f = 0; f < count; ++f) {
        Folder folder;
        ULONG n = 0;
        if (!in.Long(folder.id) || !in.Long(folder.parent) || !in.Count(n))
            return MAPI_E_CORRUPT_DATA;
        folder.children.resize(n);
        for (ULONG& child : folder.children)
            if (!in.Long(child))
                return MAPI_E_CORRUPT_DATA;
        if (!in.Count(n))
            return MAPI_E_CORRUPT_DATA;
        for (ULONG p = 0; p < n; ++p) {
            ULONG tag = 0, cb = 0;
            if (!in.Long(tag) || !in.Count(cb))
                return MAPI_E_CORRUPT_DATA;
            std::vector<BYTE> value(cb);
            if (!in.Bytes(value.data(), cb))
                return MAPI_E_CORRUPT_DATA;
            void* root = nullptr;
            if (MAPIAllocateBuffer(8, &root) != S_OK)
                return MAPI_E_NOT_ENOUGH_MEMORY;
            SPropValue prop{};
            bool ok = mapistub::DeserialiseValue(tag, value, prop, root);
            HRESULT hr = ok ? folder.props.Set(prop) : MAPI_E_CORRUPT_DATA;
            MAPIFreeBuffer(root);
            if (FAILED(hr))
                return hr;
        }
        m_folders[folder.id] = folder;
    }
    if (!FindFolder(kRootFolder) || !FindFolder(kIpmSubtree))
        return MAPI_E_CORRUPT_DATA;
    // The messages are the storages named after their folder and id, in
    // the order of their ids (the order they were made in).
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(m_root->EnumElements(0, nullptr, 0, elements.GetAddressOf())))
        return MAPI_E_CORRUPT_DATA;
    std::map<ULONG, ULONG> found; // id -> folder
    STATSTG stat2{};
    while (elements->Next(1, &stat2, nullptr) == S_OK) {
        ULONG folder = 0, id = 0;
        bool isMessage = stat2.type == STGTY_STORAGE && stat2.pwcsName && stat2.pwcsName[0] == L'M' &&
                         swscanf(stat2.pwcsName + 1, L"%8lx.%8lx", &folder, &id) == 2 &&
                         MessageName(folder, id) == stat2.pwcsName;
        CoTaskMemFree(stat2.pwcsName);
        if (!isMessage)
            continue;
        if (!FindFolder(folder))
            return MAPI_E_CORRUPT_DATA;
        found[id] = folder;
    }
    for (const auto& entry : found) {
        Message message;
        message.id = entry.first;
        message.folder = entry.second;
        if (FAILED(m_root->OpenStorage(MessageName(message.folder, message.id).c_str(), nullptr,
                                       STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                       message.storage.GetAddressOf())))
            return MAPI_E_CORRUPT_DATA;
        FindFolder(message.folder)->messages.push_back(message.id);
        m_messages[message.id] = message;
        m_nextId = std::max(m_nextId, message.id + 1);
    }
    return S_OK;
}

CWritableData::CWritableData(const MAPIUID& service) : m_service(service)
{
}

void CWritableData::CreateTree()
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
    return SaveTree();
}

HRESULT CWritableData::AddMessage(ULONG folder, ULONG* id)
{
    Folder* owner = FindFolder(folder);
    if (!owner)
        return MAPI_E_NOT_FOUND;
    Message message;
    message.id = m_nextId;
    HRESULT hr = m_root->CreateStorage(MessageName(folder, message.id).c_str(),
                                       STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                       message.storage.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ++m_nextId;
    message.folder = folder;
    owner->messages.push_back(message.id);
    *id = message.id;
    m_messages[message.id] = message;
    // The storage's name records the message; the tree need not change.
    return m_root->Commit(STGC_DEFAULT);
}

void CWritableData::RemoveMessage(ULONG id)
{
    Message* message = FindMessage(id);
    if (!message)
        return;
    ULONG folder = message->folder;
    if (Folder* owner = FindFolder(folder))
        owner->messages.erase(std::remove(owner->messages.begin(), owner->messages.end(), id), owner->messages.end());
    m_messages.erase(id);
    m_root->DestroyElement(MessageName(folder, id).c_str());
    m_root->Commit(STGC_DEFAULT);
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
    SaveTree();
}
