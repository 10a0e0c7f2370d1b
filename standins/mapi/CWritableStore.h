#pragma once
// The stand-in's own writable message store (IMsgStore and IMSLogon in one
// object) over a CWritableData: a root folder holding the IPM subtree, where
// clients create folders and messages and copy other stores' items to.
#include "MapiSubsystem.h"
#include "CPropObject.h"
#include "CWritableData.h"

#include <memory>
#include <vector>

class CWritableStore final : public common::CUnknownImpl<CWritableStore, IMsgStore, IMSLogon> {
public:
    static HRESULT Create(IMAPISupport* support, std::shared_ptr<CWritableData> data, CWritableStore** out);

    IMAPISupport* Support() const { return m_support.Get(); }
    CWritableData& Data() const { return *m_data; }
    const std::vector<BYTE>& WrappedId() const { return m_wrappedId; }
    const CPropObject& Helper() const { return m_helper; }
    HRESULT OpenFolder(ULONG id, LPCIID iid, void** out);
    HRESULT OpenMessage(ULONG id, void** out);

    // IMAPIProp
    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP SaveChanges(ULONG ulFlags) override;
    STDMETHODIMP GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                          LPSPropValue* lppPropArray) override;
    STDMETHODIMP GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    STDMETHODIMP OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                              LPUNKNOWN* lppUnk) override;
    STDMETHODIMP SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG ulUIParam,
                        LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                        LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP CopyProps(LPSPropTagArray lpIncludeProps, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                           LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                           LPSPropProblemArray* lppProblems) override;
    STDMETHODIMP GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                 ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) override;
    STDMETHODIMP GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                 LPSPropTagArray* lppPropTags) override;
    // IMsgStore and IMSLogon
    MAPI_IMSGSTORE_METHODS(override)
    STDMETHODIMP Logoff(ULONG* lpulFlags) override;
    STDMETHODIMP OpenStatusEntry(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPVOID* lppEntry) override;

private:
    friend class common::CUnknownImpl<CWritableStore, IMsgStore, IMSLogon>;
    CWritableStore(IMAPISupport* support, std::shared_ptr<CWritableData> data);
    ~CWritableStore() override = default;
    HRESULT Init();
    CPropBag Props() const;

    ComPtr<IMAPISupport> m_support;
    std::shared_ptr<CWritableData> m_data;
    std::vector<BYTE> m_wrappedId;
    CPropObject m_helper;
    CPropBag m_own;   // properties clients set on the store
};

// The store's MAPIUID as PR_MDB_PROVIDER reports it.
extern const MAPIUID kWritableStoreProviderUid;
