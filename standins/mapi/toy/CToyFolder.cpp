#include "MapiSubsystem.h"
#include "CToyFolder.h"
#include "CToyMessage.h"
#include "ToyMessages.h"

#include <cstring>

HRESULT CToyFolder::Create(IMAPISupport* support, const ToyEntryId& id, const ToyEntryId& parent, CToyFolder** out)
{
    *out = new (std::nothrow) CToyFolder(support, id);
    if (!*out)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = NewMemoryMessage((*out)->m_props.GetAddressOf());
    SPropValue values[4]{};
    values[0].ulPropTag = PR_ENTRYID;
    values[0].Value.bin.cb = sizeof(id);
    values[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<ToyEntryId*>(&id));
    values[1].ulPropTag = PR_PARENT_ENTRYID;
    values[1].Value.bin.cb = sizeof(parent);
    values[1].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<ToyEntryId*>(&parent));
    values[2].ulPropTag = PR_OBJECT_TYPE;
    values[2].Value.l = MAPI_FOLDER;
    values[3].ulPropTag = PR_FOLDER_TYPE;
    values[3].Value.l = FOLDER_GENERIC;
    if (SUCCEEDED(hr))
        hr = (*out)->m_props->SetProps(4, values, nullptr);
    if (FAILED(hr)) {
        (*out)->Release();
        *out = nullptr;
    }
    return hr;
}

HRESULT CToyFolder::AddMessage(ULONG id, IMessage** message)
{
    Item item{m_id, nullptr};
    item.id.kind = 3;
    item.id.id = id;
    HRESULT hr = NewMemoryMessage(item.message.GetAddressOf());
    if (FAILED(hr))
        return hr;
    m_messages.push_back(item);
    *message = item.message.Get();
    (*message)->AddRef();
    return S_OK;
}

HRESULT CToyFolder::AddFolder(ULONG id, const wchar_t* name, CToyFolder** folder)
{
    ToyEntryId childId = m_id;
    childId.kind = 2;
    childId.id = id;
    HRESULT hr = Create(m_support.Get(), childId, m_id, folder);
    if (FAILED(hr))
        return hr;
    SPropValue value{};
    value.ulPropTag = PR_DISPLAY_NAME_W;
    value.Value.lpszW = const_cast<LPWSTR>(name);
    hr = (*folder)->m_props->SetProps(1, &value, nullptr);
    ComPtr<IMAPIFolder> held;
    *held.GetAddressOf() = *folder;
    (*folder)->AddRef();
    m_folders.push_back(held);
    m_folderObjects.push_back(*folder);
    return hr;
}

HRESULT CToyFolder::Open(const ToyEntryId& id, LPCIID iid, ULONG* type, LPUNKNOWN* out)
{
    if (id.kind == 2 && id.id == m_id.id) {
        *type = MAPI_FOLDER;
        return QueryInterface(iid ? *iid : IID_IMAPIFolder, reinterpret_cast<void**>(out));
    }
    for (const Item& item : m_messages)
        if (id.kind == 3 && item.id.id == id.id) {
            *type = MAPI_MESSAGE;
            return CToyMessage::Create(item.message.Get(), m_support.Get(), reinterpret_cast<IMessage**>(out));
        }
    for (CToyFolder* child : m_folderObjects)
        if (SUCCEEDED(child->Open(id, iid, type, out)))
            return S_OK;
    return MAPI_E_NOT_FOUND;
}

HRESULT CToyFolder::Table(bool folders, LPMAPITABLE* out)
{
    SizedSPropTagArray(3, columns) = {3, {PR_INSTANCE_KEY, PR_ENTRYID, PR_DISPLAY_NAME_W}};
    ComPtr<ITableData> data;
    HRESULT hr = CreateTable(&IID_IMAPITableData, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, nullptr,
                             TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY, reinterpret_cast<LPSPropTagArray>(&columns),
                             data.GetAddressOf());
    if (FAILED(hr))
        return hr;
    std::vector<ToyEntryId> ids;
    if (folders)
        for (CToyFolder* child : m_folderObjects)
            ids.push_back(child->m_id);
    else
        for (const Item& item : m_messages)
            ids.push_back(item.id);
    for (ToyEntryId& id : ids) {
        SPropValue values[2]{};
        values[0].ulPropTag = PR_INSTANCE_KEY;
        values[0].Value.bin.cb = sizeof(id);
        values[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(&id);
        values[1].ulPropTag = PR_ENTRYID;
        values[1].Value.bin = values[0].Value.bin;
        SRow row{0, 2, values};
        hr = data->HrModifyRow(&row);
        if (FAILED(hr))
            return hr;
    }
    return data->HrGetView(nullptr, nullptr, 0, out);
}

STDMETHODIMP CToyFolder::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}
STDMETHODIMP CToyFolder::SaveChanges(ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::GetProps(LPSPropTagArray a, ULONG f, ULONG* c, LPSPropValue* v)
{
    return m_props->GetProps(a, f, c, v);
}
STDMETHODIMP CToyFolder::GetPropList(ULONG f, LPSPropTagArray* t) { return m_props->GetPropList(f, t); }
STDMETHODIMP CToyFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyFolder::SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::DeleteProps(LPSPropTagArray, LPSPropProblemArray*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG ulUIParam,
                                LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                                LPSPropProblemArray* lppProblems)
{
    return m_support->DoCopyTo(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), ciidExclude, rgiidExclude,
                               lpExcludeProps, ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags, lppProblems);
}
STDMETHODIMP CToyFolder::CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                   LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return m_support->DoCopyProps(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), lpIncludeProps, ulUIParam,
                                  lpProgress, lpInterface, lpDestObj, ulFlags, lppProblems);
}
STDMETHODIMP CToyFolder::GetNamesFromIDs(LPSPropTagArray* t, LPGUID g, ULONG f, ULONG* c, LPMAPINAMEID** n)
{
    return m_props->GetNamesFromIDs(t, g, f, c, n);
}
STDMETHODIMP CToyFolder::GetIDsFromNames(ULONG c, LPMAPINAMEID* n, ULONG f, LPSPropTagArray* t)
{
    return m_props->GetIDsFromNames(c, n, f, t);
}
STDMETHODIMP CToyFolder::GetContentsTable(ULONG, LPMAPITABLE* t) { return Table(false, t); }
STDMETHODIMP CToyFolder::GetHierarchyTable(ULONG, LPMAPITABLE* t) { return Table(true, t); }
STDMETHODIMP CToyFolder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG, ULONG* lpulObjType,
                                   LPUNKNOWN* lppUnk)
{
    *lppUnk = nullptr;
    if (!lpEntryID || cbEntryID != sizeof(ToyEntryId))
        return MAPI_E_INVALID_ENTRYID;
    return Open(*reinterpret_cast<ToyEntryId*>(lpEntryID), lpInterface, lpulObjType, lppUnk);
}
STDMETHODIMP CToyFolder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyFolder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyFolder::CreateMessage(LPCIID, ULONG, LPMESSAGE*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder, ULONG ulUIParam,
                                      LPMAPIPROGRESS lpProgress, ULONG ulFlags)
{
    if (ulFlags & MESSAGE_MOVE)
        return E_ACCESSDENIED;
    return m_support->CopyMessages(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), lpMsgList, lpInterface,
                                   lpDestFolder, ulUIParam, lpProgress, ulFlags);
}
STDMETHODIMP CToyFolder::DeleteMessages(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                                    LPTSTR lpszNewFolderName, ULONG ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags)
{
    if (ulFlags & FOLDER_MOVE)
        return E_ACCESSDENIED;
    return m_support->CopyFolder(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), cbEntryID, lpEntryID, lpInterface,
                                 lpDestFolder, lpszNewFolderName, ulUIParam, lpProgress, ulFlags);
}
STDMETHODIMP CToyFolder::DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyFolder::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::SaveContentsSort(LPSSortOrderSet, ULONG) { return E_ACCESSDENIED; }
STDMETHODIMP CToyFolder::EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG) { return E_ACCESSDENIED; }
