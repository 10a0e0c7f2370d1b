#include "Platform.h"
#include "MapiFolderInfo.h"

#include <mapiutil.h>

#include <memory>

namespace olhost {

namespace {

struct RowsDeleter {
    void operator()(LPSRowSet rows) const { FreeProws(rows); }
};
using RowSetPtr = std::unique_ptr<SRowSet, RowsDeleter>;

struct BufferDeleter {
    void operator()(void* buffer) const { MAPIFreeBuffer(buffer); }
};

std::vector<BYTE> BinaryOf(const SPropValue& value)
{
    if (PROP_TYPE(value.ulPropTag) != PT_BINARY)
        return {};
    return std::vector<BYTE>(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
}

std::wstring TextOf(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_UNICODE && value.Value.lpszW ? value.Value.lpszW : L"";
}

HRESULT OpenFolder(IMsgStore* store, const std::vector<BYTE>& entryId, IMAPIFolder** folder)
{
    ULONG type = 0;
    return store->OpenEntry(static_cast<ULONG>(entryId.size()),
                            reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(entryId.data())), &IID_IMAPIFolder, 0, &type,
                            reinterpret_cast<LPUNKNOWN*>(folder));
}

// The folder's own entry identifier and name (fallbacks when it has none).
void ReadIdentity(IMAPIFolder* folder, FolderInfo* info)
{
    SizedSPropTagArray(2, tags) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    if (FAILED(folder->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values)) || !values)
        return;
    std::unique_ptr<void, BufferDeleter> owner(values);
    std::vector<BYTE> id = BinaryOf(values[0]);
    if (!id.empty())
        info->entryId = id;
    if (info->name.empty())
        info->name = TextOf(values[1]);
}

} // namespace

std::wstring ToHex(const std::vector<BYTE>& bytes)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (BYTE b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

bool FromHex(const std::wstring& text, std::vector<BYTE>* bytes)
{
    if (text.size() % 2)
        return false;
    auto digit = [](wchar_t c) -> int {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        return -1;
    };
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = digit(text[i]);
        int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes->push_back(static_cast<BYTE>(high * 16 + low));
    }
    return true;
}

HRESULT ReadTopFolders(IMAPISession* session, std::vector<FolderInfo>* folders)
{
    folders->clear();
    ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(MAPI_UNICODE, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
    LPSRowSet raw = nullptr;
    hr = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw);
    if (FAILED(hr))
        return hr;
    RowSetPtr rows(raw);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        FolderInfo info;
        info.storeId = BinaryOf(row.lpProps[0]);
        info.name = TextOf(row.lpProps[1]);
        if (info.storeId.empty())
            continue;
        ComPtr<IMsgStore> store;
        if (FAILED(session->OpenMsgStore(0, static_cast<ULONG>(info.storeId.size()),
                                         reinterpret_cast<LPENTRYID>(info.storeId.data()), nullptr, MDB_NO_DIALOG,
                                         store.GetAddressOf())))
            continue;
        LPSPropValue subtree = nullptr;
        if (FAILED(HrGetOneProp(store.Get(), PR_IPM_SUBTREE_ENTRYID, &subtree)))
            continue;
        info.entryId = BinaryOf(*subtree);
        MAPIFreeBuffer(subtree);
        ComPtr<IMAPIFolder> folder;
        if (info.entryId.empty() || FAILED(OpenFolder(store.Get(), info.entryId, folder.GetAddressOf())))
            continue;
        ReadIdentity(folder.Get(), &info);
        info.store = store;
        folders->push_back(std::move(info));
    }
    return S_OK;
}

HRESULT ReadSubFolders(const FolderInfo& parent, std::vector<FolderInfo>* folders)
{
    folders->clear();
    ComPtr<IMAPIFolder> folder;
    HRESULT hr = OpenFolder(parent.store.Get(), parent.entryId, folder.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPITable> table;
    hr = folder->GetHierarchyTable(MAPI_UNICODE, table.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DISPLAY_NAME_W}};
    LPSRowSet raw = nullptr;
    hr = HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &raw);
    if (FAILED(hr))
        return hr;
    RowSetPtr rows(raw);
    for (ULONG r = 0; r < rows->cRows; ++r) {
        FolderInfo info;
        info.entryId = BinaryOf(rows->aRow[r].lpProps[0]);
        info.name = TextOf(rows->aRow[r].lpProps[1]);
        info.storeId = parent.storeId;
        info.store = parent.store;
        if (!info.entryId.empty())
            folders->push_back(std::move(info));
    }
    return S_OK;
}

HRESULT ReadFolder(IMAPISession* session, const std::vector<BYTE>& entryId, const std::vector<BYTE>* storeId,
                   FolderInfo* folder)
{
    std::vector<FolderInfo> tops;
    HRESULT hr = ReadTopFolders(session, &tops);
    if (FAILED(hr))
        return hr;
    // The folder is looked for in the given store, or in each store in turn.
    for (const FolderInfo& top : tops) {
        if (storeId && top.storeId != *storeId)
            continue;
        ComPtr<IMAPIFolder> opened;
        if (FAILED(OpenFolder(top.store.Get(), entryId, opened.GetAddressOf())))
            continue;
        FolderInfo info;
        info.entryId = entryId;
        info.storeId = top.storeId;
        info.store = top.store;
        ReadIdentity(opened.Get(), &info);
        if (info.entryId == top.entryId)
            info.name = top.name;
        *folder = std::move(info);
        return S_OK;
    }
    return MAPI_E_NOT_FOUND;
}

} // namespace olhost
