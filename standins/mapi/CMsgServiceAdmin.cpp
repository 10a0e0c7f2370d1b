#include "MapiSubsystem.h"
#include "CMsgServiceAdmin.h"
#include "CMapiSupport.h"
#include "CProfSect.h"
#include "CProfileStore.h"
#include "CProviderAdmin.h"
#include "CServiceInf.h"
#include "SubsystemTables.h"

#include <algorithm>
#include <cstring>

namespace {

const SPropValue* FindIn(const CPropBag& bag, ULONG tag)
{
    const SPropValue* value = bag.Find(PROP_ID(tag));
    if (!value || PROP_TYPE(value->ulPropTag) == PT_ERROR)
        return nullptr;
    return value;
}

std::wstring WideOf(const CPropBag& bag, ULONG tag)
{
    const SPropValue* value = FindIn(bag, tag);
    if (!value)
        return std::wstring();
    if (PROP_TYPE(value->ulPropTag) == PT_UNICODE)
        return value->Value.lpszW;
    if (PROP_TYPE(value->ulPropTag) == PT_STRING8)
        return mapistub::TextArg(value->Value.lpszA, 0);
    return std::wstring();
}

LONG LongOf(const CPropBag& bag, ULONG tag, LONG fallback)
{
    const SPropValue* value = FindIn(bag, tag);
    return value && PROP_TYPE(value->ulPropTag) == PT_LONG ? value->Value.l : fallback;
}

bool UidOf(const CPropBag& bag, ULONG tag, MAPIUID& uid)
{
    const SPropValue* value = FindIn(bag, tag);
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY || value->Value.bin.cb != sizeof(MAPIUID))
        return false;
    std::memcpy(uid.ab, value->Value.bin.lpb, sizeof(uid.ab));
    return true;
}

// The ServiceEntry and the DLL it lives in, loaded the way MAPI loads them.
struct EntryPoint {
    HMODULE module = nullptr;
    mapistub::ServiceEntryFunction* entry = nullptr;
};

HRESULT LoadEntry(const CPropBag& service, EntryPoint& point)
{
    std::wstring dll = WideOf(service, PR_SERVICE_DLL_NAME_W);
    std::wstring entry = WideOf(service, PR_SERVICE_ENTRY_NAME);
    if (dll.empty() || entry.empty())
        return S_FALSE;
    point.module = LoadLibraryW(CServiceInf::LoadName(dll).c_str());
    if (!point.module)
        return MAPI_E_NOT_FOUND;
    point.entry = reinterpret_cast<mapistub::ServiceEntryFunction*>(
        reinterpret_cast<void*>(mapistub::EntryPointOf(point.module, mapistub::AnsiText(entry).c_str())));
    if (!point.entry)
        return MAPI_E_NOT_FOUND;
    return S_OK;
}

} // namespace

std::vector<ULONG> ProviderTableColumns()
{
    return {PR_PROVIDER_UID,      PR_SERVICE_UID,   PR_RESOURCE_TYPE,   PR_DISPLAY_NAME_W,
            PR_PROVIDER_DISPLAY_W, PR_PROVIDER_DLL_NAME_W, PR_RESOURCE_FLAGS, PR_INSTANCE_KEY,
            PR_PROVIDER_ORDINAL,  PR_SERVICE_NAME_W};
}

std::vector<CPropBag> ProviderRows(const std::wstring& profile, const std::vector<MAPIUID>& sections)
{
    std::vector<CPropBag> rows;
    for (const MAPIUID& uid : sections) {
        CPropBag bag;
        if (FAILED(CProfileStore::LoadSection(profile, uid, bag)))
            continue;
        bag.Set(mapistub::BinaryValue(PR_INSTANCE_KEY, uid.ab, sizeof(uid.ab)));
        rows.push_back(bag);
    }
    return rows;
}

HRESULT CMsgServiceAdmin::Create(const std::wstring& profile, IMsgServiceAdmin** out)
{
    return CreateInstance(IID_IMsgServiceAdmin, reinterpret_cast<void**>(out), profile);
}

std::vector<MAPIUID> CMsgServiceAdmin::ProviderSections(const std::wstring& profile, const MAPIUID& service)
{
    std::vector<std::pair<LONG, MAPIUID>> found;
    for (const MAPIUID& uid : CProfileStore::Sections(profile)) {
        if (mapistub::SameUid(uid, service))
            continue;
        CPropBag bag;
        MAPIUID owner;
        MAPIUID provider;
        if (FAILED(CProfileStore::LoadSection(profile, uid, bag)) || !UidOf(bag, PR_SERVICE_UID, owner) ||
            !mapistub::SameUid(owner, service) || !UidOf(bag, PR_PROVIDER_UID, provider))
            continue;
        found.emplace_back(LongOf(bag, PR_PROVIDER_ORDINAL, 0), uid);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<MAPIUID> sections;
    for (const auto& entry : found)
        sections.push_back(entry.second);
    return sections;
}

HRESULT CMsgServiceAdmin::CallServiceEntry(const std::wstring& profile, const MAPIUID& service, ULONG_PTR ulUIParam,
                                           ULONG ulFlags, ULONG context, ULONG cValues, LPSPropValue lpProps)
{
    CPropBag bag;
    HRESULT hr = CProfileStore::LoadSection(profile, service, bag);
    if (FAILED(hr))
        return hr;
    EntryPoint point;
    hr = LoadEntry(bag, point);
    if (hr == S_FALSE)
        return S_OK;
    if (FAILED(hr))
        return hr;
    CMapiSupport* rawSupport = nullptr;
    hr = CMapiSupport::Create(profile, service, nullptr, nullptr, &rawSupport);
    if (FAILED(hr))
        return hr;
    ComPtr<IMAPISupport> support;
    *support.GetAddressOf() = rawSupport;
    ComPtr<IProviderAdmin> admin;
    hr = CProviderAdmin::Create(profile, service, admin.GetAddressOf());
    if (FAILED(hr))
        return hr;
    LPMAPIERROR error = nullptr;
    hr = point.entry(point.module, MAPIGetDefaultMalloc(), support.Get(), ulUIParam, ulFlags, context, cValues,
                     lpProps, admin.Get(), &error);
    if (error)
        MAPIFreeBuffer(error);
    return hr;
}

void CMsgServiceAdmin::RemoveService(const std::wstring& profile, const MAPIUID& service)
{
    for (const MAPIUID& uid : ProviderSections(profile, service))
        CProfileStore::DeleteSection(profile, uid);
    CProfileStore::DeleteSection(profile, service);
    std::vector<MAPIUID> services = CProfileStore::Services(profile);
    services.erase(std::remove_if(services.begin(), services.end(),
                                  [&](const MAPIUID& uid) { return mapistub::SameUid(uid, service); }),
                   services.end());
    CProfileStore::SetServices(profile, services);
}

bool CMsgServiceAdmin::HasService(const MAPIUID& service) const
{
    for (const MAPIUID& uid : CProfileStore::Services(m_profile))
        if (mapistub::SameUid(uid, service))
            return true;
    return false;
}

STDMETHODIMP CMsgServiceAdmin::GetLastError(HRESULT, ULONG, LPMAPIERROR* lppMAPIError)
{
    return mapistub::NoLastError(lppMAPIError);
}

STDMETHODIMP CMsgServiceAdmin::GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::vector<CPropBag> rows;
        for (const MAPIUID& uid : CProfileStore::Services(m_profile)) {
            CPropBag bag;
            HRESULT hr = CProfileStore::LoadSection(m_profile, uid, bag);
            if (FAILED(hr))
                return hr;
            bag.Set(mapistub::BinaryValue(PR_INSTANCE_KEY, uid.ab, sizeof(uid.ab)));
            rows.push_back(bag);
        }
        std::vector<ULONG> columns = {PR_SERVICE_UID,        PR_SERVICE_NAME_W,     PR_DISPLAY_NAME_W,
                                      PR_RESOURCE_FLAGS,     PR_SERVICE_DLL_NAME_W, PR_SERVICE_ENTRY_NAME,
                                      PR_INSTANCE_KEY};
        return mapistub::MakeBagTable(columns, PR_INSTANCE_KEY, rows, ulFlags, lppTable);
    });
}

STDMETHODIMP CMsgServiceAdmin::CreateMsgService(LPTSTR lpszService, LPTSTR lpszDisplayName, ULONG_PTR ulUIParam,
                                                ULONG ulFlags)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpszService)
            return MAPI_E_INVALID_PARAMETER;
        if (!CProfileStore::Exists(m_profile))
            return MAPI_E_NOT_FOUND;
        CServiceInf::Service service;
        HRESULT hr = CServiceInf::Find(mapistub::TextArg(lpszService, ulFlags), service);
        if (FAILED(hr))
            return hr;

        MAPIUID serviceUid = CProfileStore::NewUid();
        CPropBag serviceBag = service.props;
        serviceBag.Set(mapistub::BinaryValue(PR_SERVICE_UID, serviceUid.ab, sizeof(serviceUid.ab)));
        serviceBag.Set(mapistub::WideValue(PR_SERVICE_NAME_W, service.name.c_str()));
        std::wstring display = mapistub::TextArg(lpszDisplayName, ulFlags);
        if (display.empty())
            display = WideOf(service.props, PR_DISPLAY_NAME_W);
        if (display.empty())
            display = service.name;
        serviceBag.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, display.c_str()));

        std::vector<BYTE> stores, books, transports;
        std::vector<std::pair<MAPIUID, CPropBag>> providers;
        LONG ordinal = 0;
        for (const CServiceInf::Provider& provider : service.providers) {
            MAPIUID uid = CProfileStore::NewUid();
            CPropBag bag = provider.props;
            bag.Set(mapistub::BinaryValue(PR_PROVIDER_UID, uid.ab, sizeof(uid.ab)));
            bag.Set(mapistub::BinaryValue(PR_SERVICE_UID, serviceUid.ab, sizeof(serviceUid.ab)));
            bag.Set(mapistub::WideValue(PR_SERVICE_NAME_W, service.name.c_str()));
            bag.Set(mapistub::LongValue(PR_PROVIDER_ORDINAL, ordinal++));
            if (!FindIn(bag, PR_DISPLAY_NAME_W))
                bag.Set(mapistub::WideValue(PR_DISPLAY_NAME_W, display.c_str()));
            std::vector<BYTE>* list = nullptr;
            switch (LongOf(bag, PR_RESOURCE_TYPE, 0)) {
            case MAPI_STORE_PROVIDER: list = &stores; break;
            case MAPI_AB_PROVIDER: list = &books; break;
            case MAPI_TRANSPORT_PROVIDER: list = &transports; break;
            default: break;
            }
            if (list)
                list->insert(list->end(), uid.ab, uid.ab + sizeof(uid.ab));
            providers.emplace_back(uid, bag);
        }
        if (!stores.empty())
            serviceBag.Set(mapistub::BinaryValue(PR_STORE_PROVIDERS, stores.data(), static_cast<ULONG>(stores.size())));
        if (!books.empty())
            serviceBag.Set(mapistub::BinaryValue(PR_AB_PROVIDERS, books.data(), static_cast<ULONG>(books.size())));
        if (!transports.empty())
            serviceBag.Set(mapistub::BinaryValue(PR_TRANSPORT_PROVIDERS, transports.data(),
                                                 static_cast<ULONG>(transports.size())));

        // Nothing is written before the service's DLL is known to serve.
        EntryPoint point;
        hr = LoadEntry(serviceBag, point);
        if (FAILED(hr))
            return hr;

        std::vector<MAPIUID> services = CProfileStore::Services(m_profile);
        services.push_back(serviceUid);
        hr = CProfileStore::SaveSection(m_profile, serviceUid, serviceBag);
        for (size_t i = 0; SUCCEEDED(hr) && i < providers.size(); ++i)
            hr = CProfileStore::SaveSection(m_profile, providers[i].first, providers[i].second);
        if (SUCCEEDED(hr))
            hr = CProfileStore::SetServices(m_profile, services);
        if (FAILED(hr)) {
            RemoveService(m_profile, serviceUid);
            return hr;
        }
        // MAPI adds the service to the profile first and only then calls its
        // entry. When the entry fails or the user cancels its dialog, MAPI
        // returns the entry's error and takes nothing back: the service stays
        // in the profile until the caller deletes it.
        return CallServiceEntry(m_profile, serviceUid, ulUIParam, ulFlags & ~MAPI_UNICODE, MSG_SERVICE_CREATE, 0,
                                nullptr);
    });
}

STDMETHODIMP CMsgServiceAdmin::DeleteMsgService(LPMAPIUID lpUID)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpUID)
            return MAPI_E_INVALID_PARAMETER;
        if (!HasService(*lpUID))
            return MAPI_E_NOT_FOUND;
        // The service goes whatever its entry says: it has been told.
        CallServiceEntry(m_profile, *lpUID, 0, 0, MSG_SERVICE_DELETE, 0, nullptr);
        RemoveService(m_profile, *lpUID);
        return S_OK;
    });
}

STDMETHODIMP CMsgServiceAdmin::CopyMsgService(LPMAPIUID, LPTSTR, LPCIID, LPCIID, LPVOID, ULONG_PTR, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgServiceAdmin::RenameMsgService(LPMAPIUID, ULONG, LPTSTR)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgServiceAdmin::ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                                   LPSPropValue lpProps)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpUID || (cValues && !lpProps))
            return MAPI_E_INVALID_PARAMETER;
        if (!HasService(*lpUID))
            return MAPI_E_NOT_FOUND;
        CPropBag bag;
        HRESULT hr = CProfileStore::LoadSection(m_profile, *lpUID, bag);
        if (FAILED(hr))
            return hr;
        EntryPoint point;
        hr = LoadEntry(bag, point);
        if (FAILED(hr))
            return hr;
        if (hr == S_FALSE) {
            // A service without an entry keeps the values as given.
            for (ULONG i = 0; i < cValues; ++i)
                bag.Set(lpProps[i]);
            return CProfileStore::SaveSection(m_profile, *lpUID, bag);
        }
        return CallServiceEntry(m_profile, *lpUID, ulUIParam, ulFlags, MSG_SERVICE_CONFIGURE, cValues, lpProps);
    });
}

STDMETHODIMP CMsgServiceAdmin::OpenProfileSection(LPMAPIUID lpUID, LPCIID, ULONG ulFlags, LPPROFSECT* lppProfSect)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppProfSect || !lpUID)
            return MAPI_E_INVALID_PARAMETER;
        *lppProfSect = nullptr;
        return CProfSect::Create(m_profile, *lpUID, ulFlags, lppProfSect);
    });
}

STDMETHODIMP CMsgServiceAdmin::MsgServiceTransportOrder(ULONG, LPMAPIUID, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgServiceAdmin::AdminProviders(LPMAPIUID lpUID, ULONG, LPPROVIDERADMIN* lppProviderAdmin)
{
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lpUID || !lppProviderAdmin)
            return MAPI_E_INVALID_PARAMETER;
        *lppProviderAdmin = nullptr;
        if (!HasService(*lpUID))
            return MAPI_E_NOT_FOUND;
        return CProviderAdmin::Create(m_profile, *lpUID, lppProviderAdmin);
    });
}

STDMETHODIMP CMsgServiceAdmin::SetPrimaryIdentity(LPMAPIUID, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CMsgServiceAdmin::GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return mapistub::Guarded([&]() -> HRESULT {
        std::vector<MAPIUID> sections;
        for (const MAPIUID& service : CProfileStore::Services(m_profile))
            for (const MAPIUID& uid : ProviderSections(m_profile, service))
                sections.push_back(uid);
        return mapistub::MakeBagTable(ProviderTableColumns(), PR_INSTANCE_KEY, ProviderRows(m_profile, sections),
                                      ulFlags, lppTable);
    });
}
