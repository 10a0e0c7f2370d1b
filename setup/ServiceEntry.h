#pragma once
// The message service's configuration entry: MAPI calls it when the service
// is created, configured or deleted in a profile. Create and configure run
// the add-store wizard and write its answers as the service's private
// profile properties and the store's settings file, then complete the
// provider's profile section with the store's entry identifier and name;
// delete removes the settings file, the profile properties and the side
// files of mounted archive images.
#include "ProviderPlatform.h"
#include "ProfileProps.h"

#include <mapispi.h>

#include <string>
#include <vector>

class CWizardData;

namespace setup {

// The database path again on the provider's section, beside its display name.
constexpr ULONG PR_PROV_STORE_DATABASE_PATH = 0x6700001F;

HRESULT ServiceEntryImpl(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam, ULONG ulFlags,
                         ULONG ulContext, ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin,
                         LPMAPIERROR* lppMapiError);

// The service UID, read from the provider section named by the service
// section's PR_STORE_PROVIDERS: a one-value array (free with MAPIFreeBuffer),
// or null when the service section names no provider.
HRESULT GetServiceUid(LPPROFSECT serviceSection, LPPROVIDERADMIN providerAdmin, LPSPropValue* uid);

// Writes the store's identity (record keys, provider UID, display name,
// database path, wrapped entry identifier) on the provider section and the
// service section, when the service section has no entry identifier yet or
// one of another service. The result is the status of the last call made.
HRESULT CompleteProviderSection(LPMAPISUP support, LPPROFSECT serviceSection, LPPROVIDERADMIN providerAdmin);

// Appends the service UIDs of the session's stores of this provider; returns
// how many it appended.
ULONG GetProfileGuidListFromProfile(LPMAPISESSION session, std::vector<MAPIUID>& list);

// The wizard's answers put into the eight service values that GetProps read
// (in the order of the service tags). The values point into this object's
// strings, so it must outlive their write.
class CServiceValues {
public:
    void FromWizard(const CWizardData& data, SPropValue* values);

private:
    std::wstring m_database;
    std::wstring m_log;
    std::wstring m_databaseImage;
    std::wstring m_logImage;
    std::vector<std::wstring> m_restore;
    std::vector<LPWSTR> m_restorePointers;
};

} // namespace setup
