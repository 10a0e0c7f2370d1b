#pragma once
// The message services of one profile (IMsgServiceAdmin). A service is made
// from its MAPISVC.INF entry: a service section and one section per
// provider, listed in the service section (PR_STORE_PROVIDERS,
// PR_AB_PROVIDERS, PR_TRANSPORT_PROVIDERS), then the service's ServiceEntry
// is called with MSG_SERVICE_CREATE. When that fails, or the service's DLL
// cannot be used, every section made for it is removed again, so a failed
// create leaves the profile as it was.
#include "MapiSubsystem.h"
#include "CPropBag.h"

#include <string>
#include <vector>

class CMsgServiceAdmin final : public common::CUnknownImpl<CMsgServiceAdmin, IMsgServiceAdmin> {
public:
    static HRESULT Create(const std::wstring& profile, IMsgServiceAdmin** out);

    // The provider sections of a service, in provider order.
    static std::vector<MAPIUID> ProviderSections(const std::wstring& profile, const MAPIUID& service);
    // Calls the service's ServiceEntry (S_OK when the service has none).
    static HRESULT CallServiceEntry(const std::wstring& profile, const MAPIUID& service, ULONG_PTR ulUIParam,
                                    ULONG ulFlags, ULONG context, ULONG cValues, LPSPropValue lpProps);
    // Removes the service's sections and its place in the service list.
    static void RemoveService(const std::wstring& profile, const MAPIUID& service);

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP CreateMsgService(LPTSTR lpszService, LPTSTR lpszDisplayName, ULONG_PTR ulUIParam,
                                  ULONG ulFlags) override;
    STDMETHODIMP DeleteMsgService(LPMAPIUID lpUID) override;
    STDMETHODIMP CopyMsgService(LPMAPIUID lpUID, LPTSTR lpszDisplayName, LPCIID lpInterfaceToCopy,
                                LPCIID lpInterfaceDst, LPVOID lpObjectDst, ULONG_PTR ulUIParam,
                                ULONG ulFlags) override;
    STDMETHODIMP RenameMsgService(LPMAPIUID lpUID, ULONG ulFlags, LPTSTR lpszDisplayName) override;
    STDMETHODIMP ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                     LPSPropValue lpProps) override;
    STDMETHODIMP OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                    LPPROFSECT* lppProfSect) override;
    STDMETHODIMP MsgServiceTransportOrder(ULONG cUID, LPMAPIUID lpUIDList, ULONG ulFlags) override;
    STDMETHODIMP AdminProviders(LPMAPIUID lpUID, ULONG ulFlags, LPPROVIDERADMIN* lppProviderAdmin) override;
    STDMETHODIMP SetPrimaryIdentity(LPMAPIUID lpUID, ULONG ulFlags) override;
    STDMETHODIMP GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;

private:
    friend class common::CUnknownImpl<CMsgServiceAdmin, IMsgServiceAdmin>;
    explicit CMsgServiceAdmin(const std::wstring& profile) : m_profile(profile) {}
    ~CMsgServiceAdmin() override = default;

    bool HasService(const MAPIUID& service) const;

    std::wstring m_profile;
};

// The columns of provider tables.
std::vector<ULONG> ProviderTableColumns();
std::vector<CPropBag> ProviderRows(const std::wstring& profile, const std::vector<MAPIUID>& sections);
