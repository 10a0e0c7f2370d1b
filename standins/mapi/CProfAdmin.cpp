#include "MapiSubsystem.h"
#include "CProfAdmin.h"
#include "CMsgServiceAdmin.h"
#include "CProfileStore.h"
#include "SubsystemTables.h"

namespace {

// Profile names are registry key names.
bool IsValidName(const std::wstring& name)
{
    return !name.empty() && name.size() < 64 && name.find(L'\\') == std::wstring::npos;
}

} // namespace

HRESULT CProfAdmin::Create(IProfAdmin** out)
{
    return CreateInstance(IID_IProfAdmin, reinterpret_cast<void**>(out));
}

STDMETHODIMP CProfAdmin::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CProfAdmin::GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::wstring defaultName = CProfileStore::DefaultProfile();
        std::vector<CPropBag> rows;
        for (const std::wstring& name : CProfileStore::Profiles()) {
            CPropBag bag;
            bag.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, name.c_str()));
            SPropValue isDefault{};
            isDefault.ulPropTag = PR_DEFAULT_PROFILE;
            isDefault.Value.b = lstrcmpiW(name.c_str(), defaultName.c_str()) == 0;
            bag.Set(isDefault);
            rows.push_back(bag);
        }
        return mapistub::MakeBagTable({PR_DISPLAY_NAME_W, PR_DEFAULT_PROFILE}, PR_DISPLAY_NAME_W, rows, ulFlags,
                                      lppTable);
    });
}

STDMETHODIMP CProfAdmin::CreateProfile(LPTSTR lpszProfileName, LPTSTR, ULONG_PTR, ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::wstring name = mapistub::TextArg(lpszProfileName, ulFlags);
        if (!IsValidName(name))
            return MAPI_E_INVALID_PARAMETER;
        if (CProfileStore::Exists(name))
            return MAPI_E_NO_ACCESS;
        HRESULT hr = CProfileStore::Create(name);
        if (FAILED(hr))
            return hr;
        CPropBag global;
        global.Set(mapistub::WideValue(PR_PROFILE_NAME_W, name.c_str()));
        hr = CProfileStore::SaveSection(name, kGlobalProfileSectionUid, global);
        if (SUCCEEDED(hr))
            hr = CProfileStore::SetServices(name, {});
        if (FAILED(hr))
            CProfileStore::Delete(name);
        return hr;
    });
}

STDMETHODIMP CProfAdmin::DeleteProfile(LPTSTR lpszProfileName, ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::wstring name = mapistub::TextArg(lpszProfileName, ulFlags);
        if (!CProfileStore::Exists(name))
            return MAPI_E_NOT_FOUND;
        for (const MAPIUID& service : CProfileStore::Services(name))
            CMsgServiceAdmin::CallServiceEntry(name, service, 0, 0, MSG_SERVICE_DELETE, 0, nullptr);
        return CProfileStore::Delete(name);
    });
}

STDMETHODIMP CProfAdmin::ChangeProfilePassword(LPTSTR, LPTSTR, LPTSTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfAdmin::CopyProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfAdmin::RenameProfile(LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CProfAdmin::SetDefaultProfile(LPTSTR lpszProfileName, ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::wstring name = mapistub::TextArg(lpszProfileName, ulFlags);
        if (!name.empty() && !CProfileStore::Exists(name))
            return MAPI_E_NOT_FOUND;
        return CProfileStore::SetDefaultProfile(name);
    });
}

STDMETHODIMP CProfAdmin::AdminServices(LPTSTR lpszProfileName, LPTSTR, ULONG_PTR, ULONG ulFlags,
                                       LPSERVICEADMIN* lppServiceAdmin)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppServiceAdmin)
            return MAPI_E_INVALID_PARAMETER;
        *lppServiceAdmin = nullptr;
        std::wstring name = mapistub::TextArg(lpszProfileName, ulFlags);
        if (!CProfileStore::Exists(name))
            return MAPI_E_NOT_FOUND;
        return CMsgServiceAdmin::Create(name, lppServiceAdmin);
    });
}
