#include "MapiSubsystem.h"
#include "CProviderAdmin.h"
#include "CMsgServiceAdmin.h"
#include "CProfSect.h"
#include "SubsystemTables.h"

HRESULT CProviderAdmin::Create(const std::wstring& profile, const MAPIUID& service, IProviderAdmin** out)
{
    return CreateInstance(IID_IProviderAdmin, reinterpret_cast<void**>(out), profile, service);
}

STDMETHODIMP CProviderAdmin::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CProviderAdmin::GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::vector<CPropBag> rows =
            ProviderRows(m_profile, CMsgServiceAdmin::ProviderSections(m_profile, m_service));
        return mapistub::MakeBagTable(ProviderTableColumns(), PR_INSTANCE_KEY, rows, ulFlags, lppTable);
    });
}

STDMETHODIMP CProviderAdmin::CreateProvider(LPTSTR, ULONG, LPSPropValue, ULONG, ULONG, MAPIUID*)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProviderAdmin::DeleteProvider(LPMAPIUID)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProviderAdmin::OpenProfileSection(LPMAPIUID lpUID, LPCIID, ULONG ulFlags, LPPROFSECT* lppProfSect)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppProfSect)
            return MAPI_E_INVALID_PARAMETER;
        *lppProfSect = nullptr;
        return CProfSect::Create(m_profile, lpUID ? *lpUID : m_service, ulFlags, lppProfSect);
    });
}
