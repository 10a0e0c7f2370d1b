#include "MapiSubsystem.h"
#include "CToyStore.h"
#include "ToyMessages.h"
#include "CToyFolder.h"
#include "ToySample.h"

#include <cstring>
#include <vector>

namespace {
// STORE_UNICODE_OK, which the toolchain's headers lack.
constexpr LONG kStoreUnicodeOk = 0x00040000;
} // namespace

HRESULT CToyStore::Create(IMAPISupport* support, const MAPIUID& serviceUid, ToyState& state, CToyStore** out)
{
    *out = new (std::nothrow) CToyStore(support, serviceUid, state);
    if (!*out)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = (*out)->Init();
    if (FAILED(hr)) {
        (*out)->Release();
        *out = nullptr;
    }
    return hr;
}

CToyStore::CToyStore(IMAPISupport* support, const MAPIUID& serviceUid, ToyState& state)
    : m_support(support), m_state(state)
{
    m_id.store = serviceUid;
    m_id.kind = 1;
}

HRESULT CToyStore::Init()
{
    HRESULT hr = NewMemoryMessage(m_props.GetAddressOf());
    if (FAILED(hr))
        return hr;
    SPropValue values[2]{};
    values[0].ulPropTag = PR_DISPLAY_NAME_W;
    values[0].Value.lpszW = const_cast<LPWSTR>(L"Toy Store");
    values[1].ulPropTag = PR_STORE_SUPPORT_MASK;
    values[1].Value.l = kStoreUnicodeOk;
    hr = m_props->SetProps(2, values, nullptr);
    if (FAILED(hr))
        return hr;
    ToyEntryId rootId = m_id;
    rootId.kind = 2;
    rootId.id = 1;
    CToyFolder* root = nullptr;
    hr = CToyFolder::Create(m_support.Get(), rootId, rootId, &root);
    if (FAILED(hr))
        return hr;
    *m_root.GetAddressOf() = root;
    return BuildToySample(root);
}

STDMETHODIMP CToyStore::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}
STDMETHODIMP CToyStore::SaveChanges(ULONG) { return S_OK; }
STDMETHODIMP CToyStore::GetProps(LPSPropTagArray a, ULONG f, ULONG* c, LPSPropValue* v)
{
    return m_props->GetProps(a, f, c, v);
}
STDMETHODIMP CToyStore::GetPropList(ULONG f, LPSPropTagArray* t) { return m_props->GetPropList(f, t); }
STDMETHODIMP CToyStore::OpenProperty(ULONG tag, LPCIID iid, ULONG o, ULONG f, LPUNKNOWN* u)
{
    return m_props->OpenProperty(tag, iid, o, f, u);
}
STDMETHODIMP CToyStore::SetProps(ULONG c, LPSPropValue v, LPSPropProblemArray* p) { return m_props->SetProps(c, v, p); }
STDMETHODIMP CToyStore::DeleteProps(LPSPropTagArray t, LPSPropProblemArray* p) { return m_props->DeleteProps(t, p); }
STDMETHODIMP CToyStore::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                               LPSPropProblemArray*)
{
    return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP CToyStore::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*)
{
    return MAPI_E_NO_SUPPORT;
}
STDMETHODIMP CToyStore::GetNamesFromIDs(LPSPropTagArray* t, LPGUID g, ULONG f, ULONG* c, LPMAPINAMEID** n)
{
    return m_props->GetNamesFromIDs(t, g, f, c, n);
}
STDMETHODIMP CToyStore::GetIDsFromNames(ULONG c, LPMAPINAMEID* n, ULONG f, LPSPropTagArray* t)
{
    return m_props->GetIDsFromNames(c, n, f, t);
}

STDMETHODIMP CToyStore::Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                               ULONG* lpulConnection)
{
    if (!m_support)
        return MAPI_E_CALL_FAILED;
    const void* bytes = lpEntryID ? static_cast<const void*>(lpEntryID) : &m_id;
    ULONG cb = lpEntryID ? cbEntryID : sizeof(m_id);
    std::vector<BYTE> key(sizeof(NOTIFKEY) + cb);
    auto* notifKey = reinterpret_cast<LPNOTIFKEY>(key.data());
    notifKey->cb = cb;
    std::memcpy(notifKey->ab, bytes, cb);
    return m_support->Subscribe(notifKey, ulEventMask, m_state.syncNotifications ? NOTIFY_SYNC : 0, lpAdviseSink,
                                lpulConnection);
}

STDMETHODIMP CToyStore::Unadvise(ULONG ulConnection)
{
    return m_support ? m_support->Unsubscribe(ulConnection) : MAPI_E_CALL_FAILED;
}

STDMETHODIMP CToyStore::CompareEntryIDs(ULONG cb1, LPENTRYID e1, ULONG cb2, LPENTRYID e2, ULONG, ULONG* lpulResult)
{
    if (!lpulResult)
        return MAPI_E_INVALID_PARAMETER;
    *lpulResult = cb1 == cb2 && e1 && e2 && std::memcmp(e1, e2, cb1) == 0;
    return S_OK;
}

STDMETHODIMP CToyStore::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG, ULONG* lpulObjType,
                                  LPUNKNOWN* lppUnk)
{
    if (!lppUnk || !lpulObjType)
        return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    if (lpEntryID && cbEntryID == sizeof(ToyEntryId) && reinterpret_cast<ToyEntryId*>(lpEntryID)->kind == 1) {
        *lpulObjType = MAPI_STORE;
        return QueryInterface(lpInterface ? *lpInterface : IID_IMsgStore, reinterpret_cast<void**>(lppUnk));
    }
    if (!m_root)
        return MAPI_E_NOT_FOUND;
    if (!lpEntryID) {
        *lpulObjType = MAPI_FOLDER;
        return m_root->QueryInterface(lpInterface ? *lpInterface : IID_IMAPIFolder, reinterpret_cast<void**>(lppUnk));
    }
    if (cbEntryID != sizeof(ToyEntryId))
        return MAPI_E_INVALID_ENTRYID;
    return static_cast<CToyFolder*>(m_root.Get())
        ->Open(*reinterpret_cast<ToyEntryId*>(lpEntryID), lpInterface, lpulObjType, lppUnk);
}

STDMETHODIMP CToyStore::SetReceiveFolder(LPTSTR, ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::GetReceiveFolder(LPTSTR, ULONG, ULONG*, LPENTRYID*, LPTSTR*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::GetReceiveFolderTable(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::StoreLogoff(ULONG* lpulFlags)
{
    if (lpulFlags)
        *lpulFlags = 0;
    return S_OK;
}
STDMETHODIMP CToyStore::AbortSubmit(ULONG, LPENTRYID, ULONG) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::GetOutgoingQueue(ULONG, LPMAPITABLE*) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::SetLockState(LPMESSAGE, ULONG) { return MAPI_E_NO_SUPPORT; }
STDMETHODIMP CToyStore::FinishedMsg(ULONG, ULONG, LPENTRYID) { return MAPI_E_NO_SUPPORT; }

// The toy's way of raising an event: the notification goes out through the
// support object under the store's key.
STDMETHODIMP CToyStore::NotifyNewMail(LPNOTIFICATION lpNotification)
{
    if (!m_support || !lpNotification)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<BYTE> key(sizeof(NOTIFKEY) + sizeof(m_id));
    auto* notifKey = reinterpret_cast<LPNOTIFKEY>(key.data());
    notifKey->cb = sizeof(m_id);
    std::memcpy(notifKey->ab, &m_id, sizeof(m_id));
    ULONG flags = 0;
    return m_support->Notify(notifKey, 1, lpNotification, &flags);
}

STDMETHODIMP CToyStore::Logoff(ULONG* lpulFlags)
{
    ++m_state.logoffs;
    if (lpulFlags)
        *lpulFlags = 0;
    m_root.Reset();
    m_support.Reset();
    return S_OK;
}

STDMETHODIMP CToyStore::OpenStatusEntry(LPCIID, ULONG, ULONG*, LPVOID*) { return MAPI_E_NO_SUPPORT; }
