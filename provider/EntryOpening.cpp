#include "ProviderPlatform.h"
#include "EntryOpening.h"
#include "CFolder.h"
#include "CIpmSubtreeFolder.h"
#include "CRootFolder.h"
#include "CStoreShared.h"
#include "CLocalServerActivation.h"
#include "ComErrorRaise.h"
#include "EseValueMemory.h"
#include "ProviderObjectFactory.h"
#include "ServerInterfaces.h"
#include "ServerResults.h"

namespace {

constexpr ULONG kPrParentFid = 0x67490014;
constexpr ULONG kPrMailboxRootFid = 0x67640014;

LONGLONG Int64Value(const CServerValues& read, ULONG i, ULONG tag)
{
    if (!read.values || i >= read.count || read.values[i].m_tag != tag)
        return 0;
    return read.values[i].m_value.m_i64;
}

} // namespace

bool ObjectNotOpened(HRESULT hr, IUnknown* server, REFIID iid)
{
    if (FAILED(hr) && common::IsServerGone(hr))
        RaiseComError(hr, server, iid);
    return FAILED(hr);
}

void ReadFolderParentIds(IEseFolder* folder, LONGLONG& parentFid, LONGLONG& mailboxRootFid)
{
    ULONG tags[] = {kPrParentFid, kPrMailboxRootFid};
    CServerValues read;
    HRESULT hr = folder->GetProperties(2, tags, &read.count, &read.values);
    if (FAILED(hr))
        RaiseComError(hr, folder, IID_IEseFolder);
    parentFid = Int64Value(read, 0, kPrParentFid);
    mailboxRootFid = Int64Value(read, 1, kPrMailboxRootFid);
}

bool ParentIdentifier(LONGLONG parentFid, LONGLONG mailboxRootFid, const CEntryId& like, CEntryId& parent)
{
    if (parentFid == 0)
        return false;
    parent = CEntryId(parentFid == mailboxRootFid ? kEntryMailboxTop : kEntryFolder, like.storeUid);
    parent.idRoot = mailboxRootFid;
    parent.fid = parentFid;
    return true;
}

HRESULT OpenFolderEntry(IEseFolder* serverFolder, const CEntryId& id, const CEntryId& topParent,
                        const CEntryId& storeId, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    CServerCookie cookie = CServerCookie::Register(serverFolder, IID_IEseFolder);
    LONGLONG parentFid = 0;
    LONGLONG mailboxRootFid = 0;
    ReadFolderParentIds(serverFolder, parentFid, mailboxRootFid);
    CEntryId parent;
    if (!ParentIdentifier(parentFid, mailboxRootFid, id, parent))
        parent = topParent;
    IMAPIFolder* folder = nullptr;
    HRESULT hr = CFolder::Create(std::move(cookie), id, &parent, storeId, &folder);
    if (FAILED(hr))
        return hr;
    *lpulObjType = MAPI_FOLDER;
    *lppUnk = folder;
    return S_OK;
}

HRESULT OpenMessageEntry(IEseFolder* serverFolder, const CEntryId& id, const CEntryId* knownParent,
                         const CEntryId& topParent, const CEntryId& storeId, ULONG* lpulObjType,
                         LPUNKNOWN* lppUnk)
{
    ComPtr<IEseMessage> message;
    if (ObjectNotOpened(serverFolder->GetMessage(id.mid, message.GetAddressOf()), serverFolder, IID_IEseFolder) ||
        !message)
        return MAPI_E_INVALID_ENTRYID;
    CServerCookie cookie = CServerCookie::Register(message.Get(), IID_IEseMessage);
    CEntryId parent;
    if (knownParent) {
        parent = *knownParent;
    } else {
        LONGLONG parentFid = 0;
        LONGLONG mailboxRootFid = 0;
        ReadFolderParentIds(serverFolder, parentFid, mailboxRootFid);
        if (parentFid != 0) {
            // The folder as it names itself: the mailbox's top (kind 4)
            // only when it is the mailbox root, else an ordinary folder.
            parent = CEntryId(id.fid == mailboxRootFid ? kEntryMailboxTop : kEntryFolder, id.storeUid);
            parent.idRoot = mailboxRootFid;
            parent.fid = id.fid;
        } else {
            parent = topParent;
        }
    }
    LPUNKNOWN object = nullptr;
    HRESULT hr = OpenMessageObject(std::move(cookie), id, parent, storeId, &object);
    if (FAILED(hr))
        return hr;
    *lpulObjType = MAPI_MESSAGE;
    *lppUnk = object;
    return S_OK;
}

HRESULT DecodeFolderEntry(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk,
                          CEntryId& id)
{
    if (!lpulObjType || !lppUnk)
        return E_INVALIDARG;
    *lppUnk = nullptr;
    if (ulFlags & MAPI_MODIFY)
        return E_ACCESSDENIED;
    if (!lpEntryID)
        return MAPI_E_INVALID_ENTRYID;
    return CEntryId::Decode(cbEntryID, lpEntryID, id);
}

HRESULT OpenTopFolderEntry(const CStoreShared& store, const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    IMAPIFolder* folder = nullptr;
    HRESULT hr = id.kind == kEntryRootFolder
                     ? CRootFolder::Create(store.StoreCookie(), store.RootId(), store.StoreId(), &folder)
                     : CIpmSubtreeFolder::Create(store.StoreCookie(), store.IpmSubtreeId(), store.RootId(),
                                                 store.StoreId(), &folder);
    if (FAILED(hr))
        return hr;
    *lpulObjType = MAPI_FOLDER;
    *lppUnk = folder;
    return S_OK;
}

HRESULT OpenStoreEntry(DWORD storeCookie, const CEntryId& id, const CEntryId& folderTop, const CEntryId& messageTop,
                       const CEntryId& storeId, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    ComPtr<IEseStore> store = FetchServer<IEseStore>(storeCookie);
    ComPtr<IEseFolder> folder;
    if (ObjectNotOpened(store->GetFolder(id.fid, id.idRoot, folder.GetAddressOf()), store.Get(), IID_IEseStore) ||
        !folder)
        return MAPI_E_INVALID_ENTRYID;
    if (id.kind == kEntryMessage)
        return OpenMessageEntry(folder.Get(), id, nullptr, messageTop, storeId, lpulObjType, lppUnk);
    return OpenFolderEntry(folder.Get(), id, folderTop, storeId, lpulObjType, lppUnk);
}
