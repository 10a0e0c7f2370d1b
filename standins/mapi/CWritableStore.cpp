#include "MapiSubsystem.h"
#include "CWritableStore.h"
#include "CNamedProps.h"
#include "CWritableFolder.h"
#include "SubsystemTables.h"

#include <cstring>

// {5653544F-5752-4954-4142-4C4553544F52}
const MAPIUID kWritableStoreProviderUid = {
    {0x4F, 0x54, 0x53, 0x56, 0x52, 0x57, 0x54, 0x49, 0x41, 0x42, 0x4C, 0x45, 0x53, 0x54, 0x4F, 0x52}};

namespace {

// STORE_UNICODE_OK, which the toolchain's headers lack.
constexpr LONG kStoreUnicodeOk = 0x00040000;

const std::vector<ULONG> kComputedIds = {
    PROP_ID(PR_ENTRYID),        PROP_ID(PR_STORE_ENTRYID),      PROP_ID(PR_RECORD_KEY),
    PROP_ID(PR_STORE_RECORD_KEY), PROP_ID(PR_MDB_PROVIDER),     PROP_ID(PR_OBJECT_TYPE),
    PROP_ID(PR_IPM_SUBTREE_ENTRYID), PROP_ID(PR_STORE_SUPPORT_MASK)};

} // namespace

HRESULT CWritableStore::Create(IMAPISupport* support, std::shared_ptr<CWritableData> data, CWritableStore** out)
{
    *out = new (std::nothrow) CWritableStore(support, std::move(data));
    if (!*out)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = (*out)->Init();
    if (FAILED(hr)) {
        static_cast<IMsgStore*>(*out)->Release();
        *out = nullptr;
    }
    return hr;
}

CWritableStore::CWritableStore(IMAPISupport* support, std::shared_ptr<CWritableData> data)
    : m_support(support), m_data(std::move(data)),
      m_helper(mapistub::DefaultAllocators(), std::make_shared<CNamedProps>())
{
}

HRESULT CWritableStore::Init()
{
    WritableEntryId id = m_data->IdOf(WritableEntryId::kStore, 0);
    ULONG cb = 0;
    LPENTRYID wrapped = nullptr;
    HRESULT hr = m_support->WrapStoreEntryID(sizeof(id), reinterpret_cast<LPENTRYID>(&id), &cb, &wrapped);
    if (FAILED(hr))
        return hr;
    m_wrappedId.assign(reinterpret_cast<BYTE*>(wrapped), reinterpret_cast<BYTE*>(wrapped) + cb);
    MAPIFreeBuffer(wrapped);
    m_own.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, L"Writable Message Store"));
    return S_OK;
}

CPropBag CWritableStore::Props() const
{
    CPropBag bag = m_own;
    const MAPIUID& uid = m_data->Service();
    WritableEntryId subtree = m_data->IdOf(WritableEntryId::kFolder, CWritableData::kIpmSubtree);
    bag.Set(mapistub::BinaryValue(PR_ENTRYID, m_wrappedId.data(), static_cast<ULONG>(m_wrappedId.size())));
    bag.Set(mapistub::BinaryValue(PR_STORE_ENTRYID, m_wrappedId.data(), static_cast<ULONG>(m_wrappedId.size())));
    bag.Set(mapistub::BinaryValue(PR_RECORD_KEY, uid.ab, sizeof(uid.ab)));
    bag.Set(mapistub::BinaryValue(PR_STORE_RECORD_KEY, uid.ab, sizeof(uid.ab)));
    bag.Set(mapistub::BinaryValue(PR_MDB_PROVIDER, kWritableStoreProviderUid.ab, sizeof(kWritableStoreProviderUid.ab)));
    bag.Set(mapistub::BinaryValue(PR_IPM_SUBTREE_ENTRYID, &subtree, sizeof(subtree)));
    bag.Set(mapistub::LongValue(PR_OBJECT_TYPE, MAPI_STORE));
    bag.Set(mapistub::LongValue(PR_STORE_SUPPORT_MASK, STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK | STORE_CREATE_OK |
                                                           STORE_ATTACH_OK | STORE_MV_PROPS_OK | kStoreUnicodeOk));
    return bag;
}

HRESULT CWritableStore::OpenFolder(ULONG id, LPCIID iid, void** out)
{
    return CWritableFolder::Create(this, id, iid, out);
}

HRESULT CWritableStore::OpenMessage(ULONG id, void** out)
{
    std::lock_guard<std::recursive_mutex> guard(m_data->Lock());
    CWritableData::Message* message = m_data->FindMessage(id);
    if (!message)
        return MAPI_E_NOT_FOUND;
    return OpenIMsgOnIStg(nullptr, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, MAPIGetDefaultMalloc(),
                          nullptr, message->storage.Get(), nullptr, 0, 0, reinterpret_cast<LPMESSAGE*>(out));
}

STDMETHODIMP CWritableStore::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CWritableStore::SaveChanges(ULONG)
{
    return S_OK;
}

STDMETHODIMP CWritableStore::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                      LPSPropValue* lppPropArray)
{
    return mapistub::Guarded([&]() { return m_helper.GetProps(Props(), lpPropTagArray, ulFlags, lpcValues, lppPropArray); });
}

STDMETHODIMP CWritableStore::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    return mapistub::Guarded([&]() { return m_helper.GetPropList(Props(), ulFlags, lppPropTagArray); });
}

STDMETHODIMP CWritableStore::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    if (lppUnk)
        *lppUnk = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableStore::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() { return m_helper.SetProps(m_own, cValues, lpPropArray, lppProblems, kComputedIds); });
}

STDMETHODIMP CWritableStore::DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() { return m_helper.DeleteProps(m_own, lpPropTagArray, lppProblems, kComputedIds); });
}

STDMETHODIMP CWritableStore::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                    LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableStore::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                       LPSPropProblemArray* lppProblems)
{
    if (lppProblems)
        *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CWritableStore::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                             ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return mapistub::Guarded([&]() {
        return m_helper.GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CWritableStore::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                             LPSPropTagArray* lppPropTags)
{
    return mapistub::Guarded([&]() { return m_helper.GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags); });
}

STDMETHODIMP CWritableStore::Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                                    LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection)
{
    return mapistub::Guarded([&]() -> HRESULT {
        const void* bytes = lpEntryID ? static_cast<const void*>(lpEntryID) : m_wrappedId.data();
        ULONG cb = lpEntryID ? cbEntryID : static_cast<ULONG>(m_wrappedId.size());
        std::vector<BYTE> key(sizeof(NOTIFKEY) + cb);
        auto* notifKey = reinterpret_cast<LPNOTIFKEY>(key.data());
        notifKey->cb = cb;
        std::memcpy(notifKey->ab, bytes, cb);
        return m_support->Subscribe(notifKey, ulEventMask, 0, lpAdviseSink, lpulConnection);
    });
}

STDMETHODIMP CWritableStore::Unadvise(ULONG ulConnection)
{
    return m_support->Unsubscribe(ulConnection);
}

STDMETHODIMP CWritableStore::CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG,
                                             ULONG* lpulResult)
{
    if (!lpulResult)
        return MAPI_E_INVALID_PARAMETER;
    *lpulResult = cb1 == cb2 && e1 && e2 && std::memcmp(e1, e2, cb1) == 0;
    return S_OK;
}

STDMETHODIMP CWritableStore::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG,
                                       ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppUnk || !lpulObjType)
            return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        if (!lpEntryID) {
            *lpulObjType = MAPI_FOLDER;
            return OpenFolder(CWritableData::kRootFolder, lpInterface, reinterpret_cast<void**>(lppUnk));
        }
        if (cbEntryID != sizeof(WritableEntryId))
            return MAPI_E_INVALID_ENTRYID;
        const auto* id = reinterpret_cast<const WritableEntryId*>(lpEntryID);
        if (!mapistub::SameUid(id->store, m_data->Service()))
            return MAPI_E_INVALID_ENTRYID;
        switch (id->kind) {
        case WritableEntryId::kStore:
            *lpulObjType = MAPI_STORE;
            return QueryInterface(lpInterface ? *lpInterface : IID_IMsgStore, reinterpret_cast<void**>(lppUnk));
        case WritableEntryId::kFolder:
            *lpulObjType = MAPI_FOLDER;
            return OpenFolder(id->id, lpInterface, reinterpret_cast<void**>(lppUnk));
        case WritableEntryId::kMessage:
            *lpulObjType = MAPI_MESSAGE;
            return OpenMessage(id->id, reinterpret_cast<void**>(lppUnk));
        default:
            return MAPI_E_INVALID_ENTRYID;
        }
    });
}

STDMETHODIMP CWritableStore::SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::GetReceiveFolder(LPTSTR, ULONG, ULONG*, LPENTRYID*, LPTSTR*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::GetReceiveFolderTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::StoreLogoff(ULONG* lpulFlags)
{
    if (!lpulFlags)
        return MAPI_E_INVALID_PARAMETER;
    *lpulFlags = 0;
    return S_OK;
}
STDMETHODIMP CWritableStore::AbortSubmit(ULONG, LPENTRYID, ULONG) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::GetOutgoingQueue(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::SetLockState(LPMESSAGE, ULONG) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::FinishedMsg(ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CWritableStore::NotifyNewMail(LPNOTIFICATION) { return MAPI_E_NO_SUPPORT; }

STDMETHODIMP CWritableStore::Logoff(ULONG* lpulFlags)
{
    if (lpulFlags)
        *lpulFlags = 0;
    return S_OK;
}

STDMETHODIMP CWritableStore::OpenStatusEntry(LPCIID, ULONG, ULONG*, LPVOID*) { return MAPI_E_NO_SUPPORT; }
