#include "MapiSubsystem.h"
#include "CWritableFolder.h"
#include "CWritableStore.h"
#include "SubsystemTables.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

const std::vector<ULONG> kComputedIds = {
    PROP_ID(PR_ENTRYID),       PROP_ID(PR_PARENT_ENTRYID), PROP_ID(PR_RECORD_KEY),      PROP_ID(PR_INSTANCE_KEY),
    PROP_ID(PR_OBJECT_TYPE),   PROP_ID(PR_CONTENT_COUNT),  PROP_ID(PR_SUBFOLDERS),      PROP_ID(PR_STORE_ENTRYID),
    PROP_ID(PR_STORE_RECORD_KEY), PROP_ID(PR_ASSOC_CONTENT_COUNT), PROP_ID(PR_CONTENT_UNREAD)};

using Lock = std::lock_guard<std::recursive_mutex>;

void SetIdentity(CPropBag& bag, const WritableEntryId& own, const WritableEntryId& parent, CWritableStore& store)
{
    bag.Set(mapistub::BinaryValue(PR_ENTRYID, &own, sizeof(own)));
    bag.Set(mapistub::BinaryValue(PR_RECORD_KEY, &own, sizeof(own)));
    bag.Set(mapistub::BinaryValue(PR_INSTANCE_KEY, &own, sizeof(own)));
    bag.Set(mapistub::BinaryValue(PR_PARENT_ENTRYID, &parent, sizeof(parent)));
    const std::vector<BYTE>& wrapped = store.WrappedId();
    bag.Set(mapistub::BinaryValue(PR_STORE_ENTRYID, wrapped.data(), static_cast<ULONG>(wrapped.size())));
    const MAPIUID& uid = store.Data().Service();
    bag.Set(mapistub::BinaryValue(PR_STORE_RECORD_KEY, uid.ab, sizeof(uid.ab)));
}

const WritableEntryId* FolderEntry(CWritableData& data, ULONG cbEntryID, LPENTRYID lpEntryID, ULONG kind)
{
    if (!lpEntryID || cbEntryID != sizeof(WritableEntryId))
        return nullptr;
    const auto* id = reinterpret_cast<const WritableEntryId*>(lpEntryID);
    if (!mapistub::SameUid(id->store, data.Service()) || id->kind != kind)
        return nullptr;
    return id;
}

} // namespace

HRESULT CWritableFolder::Create(CWritableStore* store, ULONG id, LPCIID iid, void** out)
{
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    {
        Lock guard(store->Data().Lock());
        if (!store->Data().FindFolder(id))
            return MAPI_E_NOT_FOUND;
    }
    if (iid && !IsEqualIID(*iid, IID_IMAPIFolder) && !IsEqualIID(*iid, IID_IMAPIContainer) &&
        !IsEqualIID(*iid, IID_IMAPIProp) && !IsEqualIID(*iid, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    return CreateInstance(iid ? *iid : IID_IMAPIFolder, out, store, id);
}

CWritableFolder::CWritableFolder(CWritableStore* store, ULONG id) : m_store(store), m_storeRef(store), m_id(id)
{
}

bool CWritableFolder::Props(CPropBag& bag) const
{
    CWritableData& data = m_store->Data();
    Lock guard(data.Lock());
    CWritableData::Folder* folder = data.FindFolder(m_id);
    if (!folder)
        return false;
    bag = folder->props;
    SetIdentity(bag, data.IdOf(WritableEntryId::kFolder, m_id),
                data.IdOf(WritableEntryId::kFolder, folder->parent ? folder->parent : m_id), *m_store);
    bag.Set(mapistub::LongValue(PR_OBJECT_TYPE, MAPI_FOLDER));
    bag.Set(mapistub::LongValue(PR_CONTENT_COUNT, static_cast<LONG>(folder->messages.size())));
    bag.Set(mapistub::LongValue(PR_CONTENT_UNREAD, 0));
    bag.Set(mapistub::LongValue(PR_ASSOC_CONTENT_COUNT, 0));
    SPropValue sub{};
    sub.ulPropTag = PR_SUBFOLDERS;
    sub.Value.b = !folder->children.empty();
    bag.Set(sub);
    return true;
}

STDMETHODIMP CWritableFolder::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CWritableFolder::SaveChanges(ULONG)
{
    return S_OK;
}

STDMETHODIMP CWritableFolder::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                       LPSPropValue* lppPropArray)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CPropBag bag;
        if (!Props(bag))
            return MAPI_E_OBJECT_DELETED;
        return m_store->Helper().GetProps(bag, lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    });
}

STDMETHODIMP CWritableFolder::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CPropBag bag;
        if (!Props(bag))
            return MAPI_E_OBJECT_DELETED;
        return m_store->Helper().GetPropList(bag, ulFlags, lppPropTagArray);
    });
}

STDMETHODIMP CWritableFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    if (lppUnk)
        *lppUnk = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CWritableData& data = m_store->Data();
        Lock guard(data.Lock());
        CWritableData::Folder* folder = data.FindFolder(m_id);
        if (!folder)
            return MAPI_E_OBJECT_DELETED;
        HRESULT hr = m_store->Helper().SetProps(folder->props, cValues, lpPropArray, lppProblems, kComputedIds);
        return FAILED(hr) ? hr : data.SaveTree();
    });
}

STDMETHODIMP CWritableFolder::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CWritableData& data = m_store->Data();
        Lock guard(data.Lock());
        CWritableData::Folder* folder = data.FindFolder(m_id);
        if (!folder)
            return MAPI_E_OBJECT_DELETED;
        HRESULT hr = m_store->Helper().DeleteProps(folder->props, lpPropTagArray, lppProblems, kComputedIds);
        return FAILED(hr) ? hr : data.SaveTree();
    });
}

STDMETHODIMP CWritableFolder::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                                     ULONG ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                                     ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return m_store->Support()->DoCopyTo(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), ciidExclude, rgiidExclude,
                                        lpExcludeProps, ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags,
                                        lppProblems);
}

STDMETHODIMP CWritableFolder::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                        LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                                        LPSPropProblemArray* lppProblems)
{
    return m_store->Support()->DoCopyProps(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), lpIncludeProps,
                                           ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags, lppProblems);
}

STDMETHODIMP CWritableFolder::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                              ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return m_store->GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
}

STDMETHODIMP CWritableFolder::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                              LPSPropTagArray* lppPropTags)
{
    return m_store->GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
}

STDMETHODIMP CWritableFolder::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppTable)
            return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        std::vector<CPropBag> rows;
        if (!(ulFlags & MAPI_ASSOCIATED)) {
            CWritableData& data = m_store->Data();
            std::vector<ULONG> messages;
            {
                Lock guard(data.Lock());
                CWritableData::Folder* folder = data.FindFolder(m_id);
                if (!folder)
                    return MAPI_E_OBJECT_DELETED;
                messages = folder->messages;
            }
            for (ULONG id : messages) {
                ComPtr<IMessage> message;
                if (FAILED(m_store->OpenMessage(id, reinterpret_cast<void**>(message.GetAddressOf()))))
                    continue;
                ULONG count = 0;
                LPSPropValue values = nullptr;
                if (FAILED(message->GetProps(nullptr, MAPI_UNICODE, &count, &values)))
                    continue;
                CPropBag row;
                for (ULONG i = 0; i < count; ++i) {
                    ULONG type = PROP_TYPE(values[i].ulPropTag);
                    if (type != PT_ERROR && type != PT_OBJECT)
                        row.Set(values[i]);
                }
                MAPIFreeBuffer(values);
                SetIdentity(row, data.IdOf(WritableEntryId::kMessage, id), data.IdOf(WritableEntryId::kFolder, m_id),
                            *m_store);
                row.Set(mapistub::LongValue(PR_OBJECT_TYPE, MAPI_MESSAGE));
                rows.push_back(row);
            }
        }
        return mapistub::MakeUnionTable(PR_INSTANCE_KEY, rows, lppTable);
    });
}

STDMETHODIMP CWritableFolder::GetHierarchyTable(ULONG, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppTable)
            return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        std::vector<ULONG> children;
        {
            Lock guard(m_store->Data().Lock());
            CWritableData::Folder* folder = m_store->Data().FindFolder(m_id);
            if (!folder)
                return MAPI_E_OBJECT_DELETED;
            children = folder->children;
        }
        std::vector<CPropBag> rows;
        for (ULONG id : children) {
            CWritableFolder child(m_store, id);
            CPropBag row;
            if (child.Props(row)) {
                row.Set(mapistub::LongValue(PR_DEPTH, 1));
                rows.push_back(row);
            }
        }
        return mapistub::MakeUnionTable(PR_INSTANCE_KEY, rows, lppTable);
    });
}

STDMETHODIMP CWritableFolder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                        ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    if (!lpEntryID) {
        if (!lppUnk || !lpulObjType)
            return MAPI_E_INVALID_PARAMETER;
        *lpulObjType = MAPI_FOLDER;
        return QueryInterface(lpInterface ? *lpInterface : IID_IMAPIFolder, reinterpret_cast<void**>(lppUnk));
    }
    return m_store->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
}

STDMETHODIMP CWritableFolder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppMessage)
            return MAPI_E_INVALID_PARAMETER;
        *lppMessage = nullptr;
        if (lpInterface && !IsEqualIID(*lpInterface, IID_IMessage))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (ulFlags & MAPI_ASSOCIATED)
            return MAPI_E_NO_SUPPORT;
        ULONG id = 0;
        {
            Lock guard(m_store->Data().Lock());
            HRESULT hr = m_store->Data().AddMessage(m_id, &id);
            if (FAILED(hr))
                return hr;
        }
        HRESULT hr = m_store->OpenMessage(id, reinterpret_cast<void**>(lppMessage));
        if (FAILED(hr)) {
            Lock guard(m_store->Data().Lock());
            m_store->Data().RemoveMessage(id);
        }
        return hr;
    });
}

STDMETHODIMP CWritableFolder::CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder,
                                           ULONG ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags)
{
    return m_store->Support()->CopyMessages(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), lpMsgList,
                                            lpInterface, lpDestFolder, ulUIParam, lpProgress, ulFlags);
}

STDMETHODIMP CWritableFolder::DeleteMessages(LPENTRYLIST lpMsgList, ULONG, LPMAPIPROGRESS, ULONG)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpMsgList)
            return MAPI_E_INVALID_PARAMETER;
        CWritableData& data = m_store->Data();
        Lock guard(data.Lock());
        bool missed = false;
        for (ULONG i = 0; i < lpMsgList->cValues; ++i) {
            const SBinary& entry = lpMsgList->lpbin[i];
            const WritableEntryId* id =
                FolderEntry(data, entry.cb, reinterpret_cast<LPENTRYID>(entry.lpb), WritableEntryId::kMessage);
            CWritableData::Message* message = id ? data.FindMessage(id->id) : nullptr;
            if (!message || message->folder != m_id) {
                missed = true;
                continue;
            }
            data.RemoveMessage(id->id);
        }
        return missed ? MAPI_W_PARTIAL_COMPLETION : S_OK;
    });
}

STDMETHODIMP CWritableFolder::CreateFolder(ULONG ulFolderType, LPTSTR lpszFolderName, LPTSTR lpszFolderComment,
                                           LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppFolder || !lpszFolderName)
            return MAPI_E_INVALID_PARAMETER;
        *lppFolder = nullptr;
        if (ulFolderType == FOLDER_SEARCH)
            return MAPI_E_NO_SUPPORT;
        std::wstring name = mapistub::TextArg(lpszFolderName, ulFlags);
        if (name.empty())
            return MAPI_E_INVALID_PARAMETER;
        ULONG id = 0;
        {
            CWritableData& data = m_store->Data();
            Lock guard(data.Lock());
            if (CWritableData::Folder* existing = data.ChildNamed(m_id, name)) {
                if (!(ulFlags & OPEN_IF_EXISTS))
                    return MAPI_E_COLLISION;
                id = existing->id;
            } else {
                HRESULT hr = data.AddFolder(m_id, name, mapistub::TextArg(lpszFolderComment, ulFlags),
                                            ulFolderType ? ulFolderType : FOLDER_GENERIC, &id);
                if (FAILED(hr))
                    return hr;
            }
        }
        return m_store->OpenFolder(id, lpInterface, reinterpret_cast<void**>(lppFolder));
    });
}

STDMETHODIMP CWritableFolder::CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                                         LPTSTR lpszNewFolderName, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                         ULONG ulFlags)
{
    return m_store->Support()->CopyFolder(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), cbEntryID, lpEntryID,
                                          lpInterface, lpDestFolder, lpszNewFolderName, ulUIParam, lpProgress,
                                          ulFlags);
}

STDMETHODIMP CWritableFolder::DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG, LPMAPIPROGRESS, ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CWritableData& data = m_store->Data();
        Lock guard(data.Lock());
        const WritableEntryId* id = FolderEntry(data, cbEntryID, lpEntryID, WritableEntryId::kFolder);
        CWritableData::Folder* folder = id ? data.FindFolder(id->id) : nullptr;
        if (!folder || folder->parent != m_id)
            return MAPI_E_NOT_FOUND;
        if ((!folder->children.empty() && !(ulFlags & DEL_FOLDERS)) ||
            (!folder->messages.empty() && !(ulFlags & DEL_MESSAGES)))
            return MAPI_E_HAS_FOLDERS;
        data.RemoveFolder(id->id);
        return S_OK;
    });
}

STDMETHODIMP CWritableFolder::SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG* lpulMessageStatus)
{
    if (!lpulMessageStatus)
        return MAPI_E_INVALID_PARAMETER;
    *lpulMessageStatus = 0;
    return S_OK;
}

STDMETHODIMP CWritableFolder::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::SaveContentsSort(LPSSortOrderSet, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableFolder::EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG)
{
    return mapistub::Guarded([&]() -> HRESULT {
        CWritableData& data = m_store->Data();
        Lock guard(data.Lock());
        CWritableData::Folder* folder = data.FindFolder(m_id);
        if (!folder)
            return MAPI_E_OBJECT_DELETED;
        std::vector<ULONG> children = folder->children;
        std::vector<ULONG> messages = folder->messages;
        for (ULONG child : children)
            data.RemoveFolder(child);
        for (ULONG message : messages)
            data.RemoveMessage(message);
        return S_OK;
    });
}
