// A MAPI support object for tests that call the provider's Logon directly:
// the provider's own profile section (holding the service UID) and the
// service's section (holding the store's private properties), a record of
// what Logon asked for, and switches that make single calls fail.
#pragma once
#include "ProviderPlatform.h"
#include "MapiInterfaces.h"

#include <mapispi.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace providertest {

// A profile section answering GetProps from a fixed set of values; memory
// from MAPI's allocator, as MAPI's own sections hand out.
class CFakeProfSect : public IProfSect {
public:
    explicit CFakeProfSect(std::map<ULONG, SPropValue> values, std::vector<std::wstring> texts,
                           std::vector<std::vector<BYTE>> bytes)
        : m_values(std::move(values)), m_texts(std::move(texts)), m_bytes(std::move(bytes))
    {
    }
    virtual ~CFakeProfSect() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPIProp) && !IsEqualIID(riid, IID_IProfSect))
            return E_NOINTERFACE;
        *ppv = static_cast<IProfSect*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG count = InterlockedDecrement(&m_refs);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }
    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) override
    {
        if (lppMAPIError)
            *lppMAPIError = nullptr;
        return S_OK;
    }
    STDMETHODIMP SaveChanges(ULONG) override { return S_OK; }
    STDMETHODIMP GetProps(LPSPropTagArray tags, ULONG, ULONG* count, LPSPropValue* values) override
    {
        if (!tags || !count || !values)
            return MAPI_E_INVALID_PARAMETER;
        LPVOID block = nullptr;
        HRESULT hr = MAPIAllocateBuffer(sizeof(SPropValue) * tags->cValues, &block);
        if (FAILED(hr))
            return hr;
        auto* out = static_cast<LPSPropValue>(block);
        bool missing = false;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            auto found = m_values.find(tags->aulPropTag[i]);
            if (found == m_values.end()) {
                out[i] = {};
                out[i].ulPropTag = CHANGE_PROP_TYPE(tags->aulPropTag[i], PT_ERROR);
                out[i].Value.err = MAPI_E_NOT_FOUND;
                missing = true;
            } else {
                out[i] = found->second;
            }
        }
        *count = tags->cValues;
        *values = out;
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    }
    STDMETHODIMP GetPropList(ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP SetProps(ULONG, LPSPropValue, LPSPropProblemArray*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP DeleteProps(LPSPropTagArray, LPSPropProblemArray*) override { return MAPI_E_NO_SUPPORT; }
    STDMETHODIMP CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                           LPSPropProblemArray*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    STDMETHODIMP GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*) override { return MAPI_E_NO_SUPPORT; }

private:
    volatile LONG m_refs = 1;
    std::map<ULONG, SPropValue> m_values;
    std::vector<std::wstring> m_texts;
    std::vector<std::vector<BYTE>> m_bytes;
};

class CFakeSupport : public IMAPISupport {
public:
    // Which call fails, and with what.
    enum class EFail { None, OwnSection, ServiceSection, SetProviderUid, StatusRow, ModifyProfile };

    CFakeSupport(const MAPIUID& serviceUid, const std::wstring& databasePath, const std::wstring& logFolder)
        : m_serviceUid(serviceUid), m_databasePath(databasePath), m_logFolder(logFolder)
    {
    }
    virtual ~CFakeSupport() = default;

    EFail fail = EFail::None;
    HRESULT failure = MAPI_E_CALL_FAILED;
    bool hasSourceKind = false;
    LONG sourceKind = 0;
    bool hasImages = false;
    std::wstring databaseImage;
    std::wstring logImage;
    // When set, ModifyProfile signals the first and waits for the second.
    HANDLE modifyProfileEntered = nullptr;
    HANDLE modifyProfileHeld = nullptr;

    // What the provider did.
    int modifyProfileCalls = 0;
    int statusRowCalls = 0;
    int logoffTransportsCalls = 0;
    std::vector<std::string> statusTexts;
    ULONG statusCode = 0;
    // Every tag of the last status row in order, its PR_RESOURCE_METHODS
    // value (~0 when the row had none) and its flags.
    std::vector<ULONG> statusTags;
    ULONG resourceMethods = ~0u;
    ULONG statusRowFlags = ~0u;
    MAPIUID providerUid = {};
    LONG refs = 1;

    // Subscriptions the store made, delivered by Notify.
    struct SSubscription {
        std::vector<BYTE> key;
        ULONG mask;
        ULONG flags;
        IMAPIAdviseSink* sink;
    };
    std::vector<SSubscription> subscriptions;
    std::vector<ULONG> unsubscribed;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMAPISup))
            return E_NOINTERFACE;
        *ppv = static_cast<IMAPISupport*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }

    STDMETHODIMP GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError) override
    {
        if (lppMAPIError)
            *lppMAPIError = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetMemAllocRoutines(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m, LPFREEBUFFER* f) override
    {
        if (a)
            *a = &MAPIAllocateBuffer;
        if (m)
            *m = &MAPIAllocateMore;
        if (f)
            *f = &MAPIFreeBuffer;
        return S_OK;
    }
    STDMETHODIMP Subscribe(LPNOTIFKEY lpKey, ULONG ulEventMask, ULONG ulFlags, LPMAPIADVISESINK lpAdviseSink,
                           ULONG* lpulConnection) override
    {
        if (!lpKey || !lpAdviseSink || !lpulConnection)
            return MAPI_E_INVALID_PARAMETER;
        subscriptions.push_back({std::vector<BYTE>(lpKey->ab, lpKey->ab + lpKey->cb), ulEventMask, ulFlags,
                                 lpAdviseSink});
        *lpulConnection = static_cast<ULONG>(subscriptions.size());
        return S_OK;
    }
    STDMETHODIMP Unsubscribe(ULONG ulConnection) override
    {
        unsubscribed.push_back(ulConnection);
        return S_OK;
    }
    STDMETHODIMP Notify(LPNOTIFKEY lpKey, ULONG cNotification, LPNOTIFICATION lpNotifications, ULONG*) override
    {
        for (const SSubscription& s : subscriptions)
            if (s.key.size() == lpKey->cb && std::memcmp(s.key.data(), lpKey->ab, lpKey->cb) == 0)
                s.sink->OnNotify(cNotification, lpNotifications);
        return S_OK;
    }
    STDMETHODIMP ModifyStatusRow(ULONG cValues, LPSPropValue lpColumnVals, ULONG ulFlags) override
    {
        ++statusRowCalls;
        if (fail == EFail::StatusRow)
            return failure;
        statusRowFlags = ulFlags;
        statusTags.clear();
        for (ULONG i = 0; i < cValues; ++i) {
            statusTags.push_back(lpColumnVals[i].ulPropTag);
            if (lpColumnVals[i].ulPropTag == PR_RESOURCE_METHODS)
                resourceMethods = lpColumnVals[i].Value.l;
            if (PROP_TYPE(lpColumnVals[i].ulPropTag) == PT_STRING8)
                statusTexts.push_back(lpColumnVals[i].Value.lpszA);
            if (lpColumnVals[i].ulPropTag == PR_STATUS_CODE)
                statusCode = lpColumnVals[i].Value.l;
        }
        return S_OK;
    }
    STDMETHODIMP OpenProfileSection(LPMAPIUID lpUid, ULONG, LPPROFSECT* lppProfileObj) override
    {
        *lppProfileObj = nullptr;
        std::map<ULONG, SPropValue> values;
        std::vector<std::wstring> texts;
        std::vector<std::vector<BYTE>> bytes;
        if (!lpUid) {
            if (fail == EFail::OwnSection)
                return failure;
            bytes.emplace_back(m_serviceUid.ab, m_serviceUid.ab + sizeof(m_serviceUid.ab));
            SPropValue uid = {};
            uid.ulPropTag = PR_SERVICE_UID;
            uid.Value.bin.cb = sizeof(MAPIUID);
            uid.Value.bin.lpb = bytes.back().data();
            values[PR_SERVICE_UID] = uid;
        } else {
            if (fail == EFail::ServiceSection)
                return failure;
            texts.reserve(4);
            auto text = [&](ULONG tag, const std::wstring& value) {
                texts.push_back(value);
                SPropValue v = {};
                v.ulPropTag = tag;
                v.Value.lpszW = &texts.back()[0];
                values[tag] = v;
            };
            text(0x6610001F, m_databasePath);
            text(0x6611001F, m_logFolder);
            if (hasImages) {
                text(0x6613001F, databaseImage);
                text(0x6614001F, logImage);
            }
            if (hasSourceKind) {
                SPropValue v = {};
                v.ulPropTag = 0x66120003;
                v.Value.l = sourceKind;
                values[v.ulPropTag] = v;
            }
        }
        *lppProfileObj = new CFakeProfSect(std::move(values), std::move(texts), std::move(bytes));
        return S_OK;
    }
    STDMETHODIMP RegisterPreprocessor(LPMAPIUID, LPTSTR, LPTSTR, LPSTR, LPSTR, ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP NewUID(LPMAPIUID) override { return E_NOTIMPL; }
    STDMETHODIMP MakeInvalid(ULONG, LPVOID, ULONG, ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP SpoolerYield(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP SpoolerNotify(ULONG, LPVOID) override { return E_NOTIMPL; }
    STDMETHODIMP CreateOneOff(LPTSTR, LPTSTR, LPTSTR, ULONG, ULONG*, LPENTRYID*) override { return E_NOTIMPL; }
    STDMETHODIMP SetProviderUID(LPMAPIUID lpProviderID, ULONG) override
    {
        if (fail == EFail::SetProviderUid)
            return failure;
        providerUid = *lpProviderID;
        return S_OK;
    }
    STDMETHODIMP CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP*, LPMAPIPROP) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP OpenEntry(ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*) override { return E_NOTIMPL; }
    STDMETHODIMP GetOneOffTable(ULONG, LPMAPITABLE*) override { return E_NOTIMPL; }
    STDMETHODIMP Address(ULONG*, LPADRPARM, LPADRLIST*) override { return E_NOTIMPL; }
    STDMETHODIMP Details(ULONG*, LPFNDISMISS, LPVOID, ULONG, LPENTRYID, LPFNBUTTON, LPVOID, LPTSTR, ULONG) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP NewEntry(ULONG, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP DoConfigPropsheet(ULONG, ULONG, LPTSTR, LPMAPITABLE, LPMAPIPROP, ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP CopyMessages(LPCIID, LPVOID, LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP CopyFolder(LPCIID, LPVOID, ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS,
                            ULONG) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP DoCopyTo(LPCIID, LPVOID, ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                          LPSPropProblemArray*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP DoCopyProps(LPCIID, LPVOID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                             LPSPropProblemArray*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP DoProgressDialog(ULONG, ULONG, LPMAPIPROGRESS*) override { return E_NOTIMPL; }
    STDMETHODIMP ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE*) override { return E_NOTIMPL; }
    STDMETHODIMP PrepareSubmit(LPMESSAGE, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP ExpandRecips(LPMESSAGE, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP UpdatePAB(ULONG, LPMESSAGE) override { return E_NOTIMPL; }
    STDMETHODIMP DoSentMail(ULONG, LPMESSAGE) override { return E_NOTIMPL; }
    STDMETHODIMP OpenAddressBook(LPCIID, ULONG, LPADRBOOK*) override { return E_NOTIMPL; }
    STDMETHODIMP Preprocess(ULONG, ULONG, LPENTRYID) override { return E_NOTIMPL; }
    STDMETHODIMP CompleteMsg(ULONG, ULONG, LPENTRYID) override { return E_NOTIMPL; }
    STDMETHODIMP StoreLogoffTransports(ULONG*) override
    {
        ++logoffTransportsCalls;
        return S_OK;
    }
    STDMETHODIMP StatusRecips(LPMESSAGE, LPADRLIST) override { return E_NOTIMPL; }
    STDMETHODIMP WrapStoreEntryID(ULONG, LPENTRYID, ULONG*, LPENTRYID*) override { return E_NOTIMPL; }
    STDMETHODIMP ModifyProfile(ULONG) override
    {
        ++modifyProfileCalls;
        // A profile write that takes its time: signalled on entry, then
        // held until the test lets it go.
        if (modifyProfileEntered)
            SetEvent(modifyProfileEntered);
        if (modifyProfileHeld)
            WaitForSingleObject(modifyProfileHeld, INFINITE);
        return fail == EFail::ModifyProfile ? failure : S_OK;
    }
    STDMETHODIMP IStorageFromStream(LPUNKNOWN, LPCIID, ULONG, LPSTORAGE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSvcConfigSupportObj(ULONG, LPMAPISUP*) override { return E_NOTIMPL; }

private:
    MAPIUID m_serviceUid;
    std::wstring m_databasePath;
    std::wstring m_logFolder;
};

} // namespace providertest
