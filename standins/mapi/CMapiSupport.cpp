#include "MapiSubsystem.h"
#include "CMapiSupport.h"
#include "CMapiCopier.h"
#include "CMapiSession.h"
#include "CNotifyHub.h"
#include "CProfSect.h"
#include "CProfileStore.h"
#include "StoreEntryIdWrap.h"

#include <cstring>

HRESULT CMapiSupport::Create(const std::wstring& profile, const MAPIUID& ownSection, CMapiSession* session,
                             std::shared_ptr<CNotifyHub> hub, CMapiSupport** out)
{
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = new (std::nothrow) CMapiSupport(profile, ownSection, session, std::move(hub));
    return *out ? S_OK : MAPI_E_NOT_ENOUGH_MEMORY;
}

CMapiSupport::CMapiSupport(const std::wstring& profile, const MAPIUID& ownSection, CMapiSession* session,
                           std::shared_ptr<CNotifyHub> hub)
    : m_profile(profile), m_ownSection(ownSection), m_session(session), m_hub(std::move(hub))
{
    if (!m_hub)
        m_hub = std::make_shared<CNotifyHub>();
}

CMapiSupport::~CMapiSupport() = default;

STDMETHODIMP CMapiSupport::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CMapiSupport::GetMemAllocRoutines(LPALLOCATEBUFFER* lpAllocateBuffer, LPALLOCATEMORE* lpAllocateMore,
                                               LPFREEBUFFER* lpFreeBuffer)
{
    if (lpAllocateBuffer)
        *lpAllocateBuffer = &MAPIAllocateBuffer;
    if (lpAllocateMore)
        *lpAllocateMore = &MAPIAllocateMore;
    if (lpFreeBuffer)
        *lpFreeBuffer = &MAPIFreeBuffer;
    return S_OK;
}

STDMETHODIMP CMapiSupport::Subscribe(LPNOTIFKEY lpKey, ULONG ulEventMask, ULONG ulFlags, LPMAPIADVISESINK lpAdviseSink,
                                     ULONG* lpulConnection)
{
    return mapistub::Guarded([&]() { return m_hub->Subscribe(lpKey, ulEventMask, ulFlags, lpAdviseSink, lpulConnection); });
}

STDMETHODIMP CMapiSupport::Unsubscribe(ULONG ulConnection)
{
    return mapistub::Guarded([&]() { return m_hub->Unsubscribe(ulConnection); });
}

STDMETHODIMP CMapiSupport::Notify(LPNOTIFKEY lpKey, ULONG cNotification, LPNOTIFICATION lpNotifications,
                                  ULONG* lpulFlags)
{
    return mapistub::Guarded([&]() { return m_hub->Notify(lpKey, cNotification, lpNotifications, lpulFlags); });
}

STDMETHODIMP CMapiSupport::ModifyStatusRow(ULONG cValues, LPSPropValue lpColumnVals, ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (cValues && !lpColumnVals)
            return MAPI_E_INVALID_PARAMETER;
        if (!m_session)
            return MAPI_E_NO_SUPPORT;
        return m_session->ModifyStatusRow(m_ownSection, cValues, lpColumnVals, ulFlags);
    });
}

STDMETHODIMP CMapiSupport::OpenProfileSection(LPMAPIUID lpUid, ULONG ulFlags, LPPROFSECT* lppProfileObj)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppProfileObj)
            return MAPI_E_INVALID_PARAMETER;
        *lppProfileObj = nullptr;
        return CProfSect::Create(m_profile, lpUid ? *lpUid : m_ownSection, ulFlags, lppProfileObj);
    });
}

STDMETHODIMP CMapiSupport::RegisterPreprocessor(LPMAPIUID, LPTSTR, LPTSTR, LPSTR, LPSTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::NewUID(LPMAPIUID lpMuid)
{
    if (!lpMuid)
        return MAPI_E_INVALID_PARAMETER;
    *lpMuid = CProfileStore::NewUid();
    return S_OK;
}

STDMETHODIMP CMapiSupport::MakeInvalid(ULONG, LPVOID, ULONG, ULONG)
{
    return S_OK;
}

STDMETHODIMP CMapiSupport::SpoolerYield(ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::SpoolerNotify(ULONG, LPVOID)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::CreateOneOff(LPTSTR, LPTSTR, LPTSTR, ULONG, ULONG* lpcbEntryID, LPENTRYID* lppEntryID)
{
    if (lpcbEntryID)
        *lpcbEntryID = 0;
    if (lppEntryID)
        *lppEntryID = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::SetProviderUID(LPMAPIUID lpProviderID, ULONG)
{
    if (!lpProviderID)
        return MAPI_E_INVALID_PARAMETER;
    for (const MAPIUID& uid : m_providerUids)
        if (mapistub::SameUid(uid, *lpProviderID))
            return S_OK;
    m_providerUids.push_back(*lpProviderID);
    return S_OK;
}

STDMETHODIMP CMapiSupport::CompareEntryIDs(ULONG cbEntry1, LPENTRYID lpEntry1, ULONG cbEntry2, LPENTRYID lpEntry2,
                                           ULONG ulCompareFlags, ULONG* lpulResult)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpulResult)
            return MAPI_E_INVALID_PARAMETER;
        if (m_session)
            return m_session->CompareEntryIDs(cbEntry1, lpEntry1, cbEntry2, lpEntry2, ulCompareFlags, lpulResult);
        *lpulResult = cbEntry1 == cbEntry2 && (!cbEntry1 || std::memcmp(lpEntry1, lpEntry2, cbEntry1) == 0);
        return S_OK;
    });
}

STDMETHODIMP CMapiSupport::OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP* lppMAPIPropNew,
                                          LPMAPIPROP)
{
    if (lppMAPIPropNew)
        *lppMAPIPropNew = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulOpenFlags,
                                     ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppUnk)
            return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        if (!m_session)
            return MAPI_E_NO_SUPPORT;
        return m_session->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulOpenFlags, lpulObjType, lppUnk);
    });
}

STDMETHODIMP CMapiSupport::GetOneOffTable(ULONG, LPMAPITABLE* lppTable)
{
    if (lppTable)
        *lppTable = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::Address(ULONG*, LPADRPARM, LPADRLIST*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::Details(ULONG*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID, LPFNBUTTON, LPVOID, LPTSTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::NewEntry(ULONG, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::DoConfigPropsheet(ULONG, ULONG, LPTSTR, LPMAPITABLE, LPMAPIPROP, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::CopyMessages(LPCIID lpSrcInterface, LPVOID lpSrcFolder, LPENTRYLIST lpMsgList,
                                        LPCIID lpDestInterface, LPVOID lpDestFolder, ULONG, LPMAPIPROGRESS lpProgress,
                                        ULONG ulFlags)
{
    return mapistub::Guarded([&]() {
        return CMapiCopier::CopyMessages(lpSrcInterface, lpSrcFolder, lpMsgList, lpDestInterface, lpDestFolder,
                                         lpProgress, ulFlags);
    });
}

STDMETHODIMP CMapiSupport::CopyFolder(LPCIID lpSrcInterface, LPVOID lpSrcFolder, ULONG cbEntryID, LPENTRYID lpEntryID,
                                      LPCIID lpDestInterface, LPVOID lpDestFolder, LPTSTR lszNewFolderName, ULONG,
                                      LPMAPIPROGRESS lpProgress, ULONG ulFlags)
{
    return mapistub::Guarded([&]() {
        return CMapiCopier::CopyFolder(lpSrcInterface, lpSrcFolder, cbEntryID, lpEntryID, lpDestInterface,
                                       lpDestFolder, mapistub::TextArg(lszNewFolderName, ulFlags), lpProgress,
                                       ulFlags);
    });
}

STDMETHODIMP CMapiSupport::DoCopyTo(LPCIID lpSrcInterface, LPVOID lpSrcObj, ULONG ciidExclude, LPCIID rgiidExclude,
                                    LPSPropTagArray lpExcludeProps, ULONG, LPMAPIPROGRESS lpProgress,
                                    LPCIID lpDestInterface, LPVOID lpDestObj, ULONG ulFlags,
                                    LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return CMapiCopier::CopyTo(lpSrcInterface, lpSrcObj, ciidExclude, rgiidExclude, lpExcludeProps, lpProgress,
                                   lpDestInterface, lpDestObj, ulFlags, lppProblems);
    });
}

STDMETHODIMP CMapiSupport::DoCopyProps(LPCIID lpSrcInterface, LPVOID lpSrcObj, LPSPropTagArray lpIncludeProps, ULONG,
                                       LPMAPIPROGRESS lpProgress, LPCIID lpDestInterface, LPVOID lpDestObj,
                                       ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    return mapistub::Guarded([&]() {
        return CMapiCopier::CopyProps(lpSrcInterface, lpSrcObj, lpIncludeProps, lpProgress, lpDestInterface,
                                      lpDestObj, ulFlags, lppProblems);
    });
}

STDMETHODIMP CMapiSupport::DoProgressDialog(ULONG, ULONG, LPMAPIPROGRESS* lppProgress)
{
    if (lppProgress)
        *lppProgress = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE* lppEmptyMessage)
{
    if (lppEmptyMessage)
        *lppEmptyMessage = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::PrepareSubmit(LPMESSAGE, ULONG*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::ExpandRecips(LPMESSAGE, ULONG*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::UpdatePAB(ULONG, LPMESSAGE)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::DoSentMail(ULONG, LPMESSAGE)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::OpenAddressBook(LPCIID, ULONG, LPADRBOOK* lppAdrBook)
{
    if (lppAdrBook)
        *lppAdrBook = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::Preprocess(ULONG, ULONG, LPENTRYID)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::CompleteMsg(ULONG, ULONG, LPENTRYID)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::StoreLogoffTransports(ULONG* lpulFlags)
{
    // No transport is ever logged on through these sessions, so there is
    // nothing to wait for whatever the flags ask.
    if (!lpulFlags)
        return MAPI_E_INVALID_PARAMETER;
    return S_OK;
}

STDMETHODIMP CMapiSupport::StatusRecips(LPMESSAGE, LPADRLIST)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMapiSupport::WrapStoreEntryID(ULONG cbOrigEntry, LPENTRYID lpOrigEntry, ULONG* lpcbWrappedEntry,
                                            LPENTRYID* lppWrappedEntry)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpcbWrappedEntry || !lppWrappedEntry || !lpOrigEntry)
            return MAPI_E_INVALID_PARAMETER;
        *lpcbWrappedEntry = 0;
        *lppWrappedEntry = nullptr;
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, m_ownSection, bag);
        if (FAILED(hr))
            return hr;
        const SPropValue* dll = bag.Find(PROP_ID(PR_PROVIDER_DLL_NAME));
        if (!dll || PROP_TYPE(dll->ulPropTag) != PT_UNICODE)
            return MAPI_E_NOT_FOUND;
        std::string name = mapistub::AnsiText(dll->Value.lpszW);
        return ::WrapStoreEntryID(0, reinterpret_cast<LPTSTR>(&name[0]), cbOrigEntry, lpOrigEntry, lpcbWrappedEntry, lppWrappedEntry);
    });
}

STDMETHODIMP CMapiSupport::ModifyProfile(ULONG)
{
    // Sections are written through as they change, so they are already
    // permanent.
    return S_OK;
}

STDMETHODIMP CMapiSupport::IStorageFromStream(LPUNKNOWN lpUnkIn, LPCIID lpInterface, ULONG ulFlags,
                                              LPSTORAGE* lppStorageOut)
{
    return HrIStorageFromStream(lpUnkIn, lpInterface, ulFlags, lppStorageOut);
}

STDMETHODIMP CMapiSupport::GetSvcConfigSupportObj(ULONG, LPMAPISUP* lppSvcSupport)
{
    if (lppSvcSupport)
        *lppSvcSupport = nullptr;
    return MAPI_E_NO_SUPPORT;
}
