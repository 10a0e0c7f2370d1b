#pragma once
// The profiles of the user (IProfAdmin, from MAPIAdminProfiles).
#include "MapiSubsystem.h"

class CProfAdmin final : public common::CUnknownImpl<CProfAdmin, IProfAdmin> {
public:
    static HRESULT Create(IProfAdmin** out);

    STDMETHODIMP GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    STDMETHODIMP GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    STDMETHODIMP CreateProfile(LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG_PTR ulUIParam,
                               ULONG ulFlags) override;
    STDMETHODIMP DeleteProfile(LPTSTR lpszProfileName, ULONG ulFlags) override;
    STDMETHODIMP ChangeProfilePassword(LPTSTR lpszProfileName, LPTSTR lpszOldPassword, LPTSTR lpszNewPassword,
                                       ULONG ulFlags) override;
    STDMETHODIMP CopyProfile(LPTSTR lpszOldProfileName, LPTSTR lpszOldPassword, LPTSTR lpszNewProfileName,
                             ULONG_PTR ulUIParam, ULONG ulFlags) override;
    STDMETHODIMP RenameProfile(LPTSTR lpszOldProfileName, LPTSTR lpszOldPassword, LPTSTR lpszNewProfileName,
                               ULONG_PTR ulUIParam, ULONG ulFlags) override;
    STDMETHODIMP SetDefaultProfile(LPTSTR lpszProfileName, ULONG ulFlags) override;
    STDMETHODIMP AdminServices(LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                               LPSERVICEADMIN* lppServiceAdmin) override;

private:
    friend class common::CUnknownImpl<CProfAdmin, IProfAdmin>;
    CProfAdmin() = default;
    ~CProfAdmin() override = default;
};
