#pragma once
// The toy message store: IMsgStore and IMSLogon in one object. Its own
// properties live in a message on storage (so every IMAPIProp call has a
// real answer); it subscribes client sinks through the support object and
// sends new-mail notifications through it.
#include "MapiSubsystem.h"
#include "ToyState.h"

class CToyStore final : public common::CUnknownImpl<CToyStore, IMsgStore, IMSLogon> {
public:
    static HRESULT Create(IMAPISupport* support, const MAPIUID& serviceUid, ToyState& state, CToyStore** out);

    const ToyEntryId& StoreId() const { return m_id; }
    IMAPISupport* Support() const { return m_support.Get(); }

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
    friend class common::CUnknownImpl<CToyStore, IMsgStore, IMSLogon>;
    CToyStore(IMAPISupport* support, const MAPIUID& serviceUid, ToyState& state);
    ~CToyStore() override = default;
    HRESULT Init();

    ComPtr<IMAPISupport> m_support;
    ToyState& m_state;
    ToyEntryId m_id{};
    ComPtr<IMessage> m_props;
    ComPtr<IMAPIFolder> m_root;
};
