#pragma once
// The providers of one message service in a profile (IProviderAdmin), as a
// service's ServiceEntry and MAPI clients see them: their table and their
// profile sections. OpenProfileSection with no UID opens the service's own
// section.
#include "MapiSubsystem.h"

#include <string>

class CProviderAdmin final : public common::CUnknownImpl<CProviderAdmin, IProviderAdmin> {
public:
    static HRESULT Create(const std::wstring& profile, const MAPIUID& service, IProviderAdmin** out);

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP CreateProvider(LPTSTR lpszProvider, ULONG cValues, LPSPropValue lpProps, ULONG ulUIParam,
                                ULONG ulFlags, MAPIUID* lpUID) override;
    STDMETHODIMP DeleteProvider(LPMAPIUID lpUID) override;
    STDMETHODIMP OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                    LPPROFSECT* lppProfSect) override;

private:
    friend class common::CUnknownImpl<CProviderAdmin, IProviderAdmin>;
    CProviderAdmin(const std::wstring& profile, const MAPIUID& service) : m_profile(profile), m_service(service) {}
    ~CProviderAdmin() override = default;

    std::wstring m_profile;
    MAPIUID m_service;
};
