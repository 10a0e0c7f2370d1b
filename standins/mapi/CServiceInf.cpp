#include "MapiStandin.h"
#include "CServiceInf.h"
#include "MapiSubsystem.h"

#include <cwctype>
#include <string>

namespace {

struct KnownTag {
    const wchar_t* name;
    ULONG tag;
};

// The property lines the file may carry, with the type each one takes.
const KnownTag kKnownTags[] = {
    {L"PR_DISPLAY_NAME", PR_DISPLAY_NAME_W},
    {L"PR_SERVICE_DLL_NAME", PR_SERVICE_DLL_NAME_W},
    {L"PR_SERVICE_ENTRY_NAME", PR_SERVICE_ENTRY_NAME},
    {L"PR_RESOURCE_FLAGS", PR_RESOURCE_FLAGS},
    {L"PR_SERVICE_SUPPORT_FILES", PR_SERVICE_SUPPORT_FILES_W},
    {L"PR_SERVICE_DELETE_FILES", PR_SERVICE_DELETE_FILES_W},
    {L"PR_RESOURCE_TYPE", PR_RESOURCE_TYPE},
    {L"PR_PROVIDER_DLL_NAME", PR_PROVIDER_DLL_NAME_W},
    {L"PR_PROVIDER_DISPLAY", PR_PROVIDER_DISPLAY_W},
};

struct KnownFlag {
    const wchar_t* name;
    ULONG value;
};

const KnownFlag kKnownFlags[] = {
    {L"SERVICE_DEFAULT_STORE", SERVICE_DEFAULT_STORE},
    {L"SERVICE_SINGLE_COPY", SERVICE_SINGLE_COPY},
    {L"SERVICE_CREATE_WITH_STORE", SERVICE_CREATE_WITH_STORE},
    {L"SERVICE_PRIMARY_IDENTITY", SERVICE_PRIMARY_IDENTITY},
    {L"SERVICE_NO_PRIMARY_IDENTITY", SERVICE_NO_PRIMARY_IDENTITY},
    {L"STATUS_DEFAULT_OUTBOUND", STATUS_DEFAULT_OUTBOUND},
    {L"STATUS_DEFAULT_STORE", STATUS_DEFAULT_STORE},
    {L"STATUS_PRIMARY_IDENTITY", STATUS_PRIMARY_IDENTITY},
    {L"STATUS_SIMPLE_STORE", STATUS_SIMPLE_STORE},
    {L"STATUS_XP_PREFER_LAST", STATUS_XP_PREFER_LAST},
    {L"STATUS_NO_PRIMARY_IDENTITY", STATUS_NO_PRIMARY_IDENTITY},
    {L"STATUS_NO_DEFAULT_STORE", STATUS_NO_DEFAULT_STORE},
    {L"STATUS_TEMP_SECTION", STATUS_TEMP_SECTION},
    {L"STATUS_OWN_STORE", STATUS_OWN_STORE},
    {L"STATUS_NEED_IPM_TREE", STATUS_NEED_IPM_TREE},
    {L"STATUS_PRIMARY_STORE", STATUS_PRIMARY_STORE},
    {L"STATUS_SECONDARY_STORE", STATUS_SECONDARY_STORE},
    {L"MAPI_STORE_PROVIDER", MAPI_STORE_PROVIDER},
    {L"MAPI_AB_PROVIDER", MAPI_AB_PROVIDER},
    {L"MAPI_TRANSPORT_PROVIDER", MAPI_TRANSPORT_PROVIDER},
};

std::wstring Trim(const std::wstring& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && iswspace(text[begin]))
        ++begin;
    while (end > begin && iswspace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        std::wstring part = Trim(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
        if (!part.empty())
            parts.push_back(part);
        if (at == std::wstring::npos)
            break;
        start = at + 1;
    }
    return parts;
}

// "A | B", names of flags or numbers.
ULONG ParseFlags(const std::wstring& text)
{
    ULONG value = 0;
    for (const std::wstring& part : Split(text, L'|')) {
        bool known = false;
        for (const KnownFlag& flag : kKnownFlags)
            if (lstrcmpiW(flag.name, part.c_str()) == 0) {
                value |= flag.value;
                known = true;
            }
        if (!known)
            value |= wcstoul(part.c_str(), nullptr, 0);
    }
    return value;
}

std::wstring ReadString(const std::wstring& file, const std::wstring& section, const wchar_t* key)
{
    std::wstring buffer(32768, L'\0');
    DWORD got = GetPrivateProfileStringW(section.c_str(), key, L"", &buffer[0], static_cast<DWORD>(buffer.size()),
                                         file.c_str());
    buffer.resize(got);
    return buffer;
}

HRESULT SetTyped(CPropBag& props, ULONG tag, const std::wstring& text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    std::vector<std::wstring> list;
    std::vector<LPWSTR> pointers;
    std::string ansi;
    switch (PROP_TYPE(tag)) {
    case PT_LONG:
        value.Value.l = static_cast<LONG>(ParseFlags(text));
        break;
    case PT_BOOLEAN:
        value.Value.b = ParseFlags(text) != 0;
        break;
    case PT_UNICODE:
        value.Value.lpszW = const_cast<LPWSTR>(text.c_str());
        break;
    case PT_STRING8: {
        int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
        ansi.assign(cb > 0 ? cb : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], cb, nullptr, nullptr);
        value.Value.lpszA = &ansi[0];
        break;
    }
    case PT_MV_UNICODE:
        list = Split(text, L',');
        for (std::wstring& item : list)
            pointers.push_back(&item[0]);
        value.Value.MVszW.cValues = static_cast<ULONG>(pointers.size());
        value.Value.MVszW.lppszW = pointers.empty() ? nullptr : pointers.data();
        if (pointers.empty())
            return S_OK;
        break;
    default:
        return S_OK;
    }
    return props.Set(value);
}

} // namespace

std::wstring CServiceInf::Path()
{
    // The same search the service registration makes.
    std::wstring directory;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Microsoft Outlook", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        wchar_t component[256];
        DWORD cb = sizeof(component);
        DWORD type = 0;
        if (RegQueryValueExW(key, L"MSIComponentID", nullptr, &type, reinterpret_cast<BYTE*>(component), &cb) ==
                ERROR_SUCCESS &&
            type == REG_SZ && component[0]) {
            char path[MAX_PATH];
            std::string id = mapistub::AnsiText(component);
            if (FGetComponentPath(&id[0], nullptr, path, MAX_PATH, TRUE) && path[0]) {
                std::wstring wide(path, path + strlen(path));
                size_t slash = wide.find_last_of(L'\\');
                directory = slash == std::wstring::npos ? std::wstring() : wide.substr(0, slash);
            }
        }
        RegCloseKey(key);
    }
    if (directory.empty()) {
        wchar_t system[MAX_PATH];
        UINT cch = GetSystemDirectoryW(system, MAX_PATH);
        directory.assign(system, cch);
    }
    return directory + L"\\MAPISVC.INF";
}

std::wstring CServiceInf::LoadName(const std::wstring& dllName)
{
    size_t dot = dllName.find_last_of(L'.');
    size_t slash = dllName.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash))
        return dllName + L"32";
    return dllName.substr(0, dot) + L"32" + dllName.substr(dot);
}

HRESULT CServiceInf::ReadSection(const std::wstring& file, const std::wstring& section, CPropBag& props)
{
    std::wstring keys(65536, L'\0');
    DWORD got = GetPrivateProfileStringW(section.c_str(), nullptr, L"", &keys[0], static_cast<DWORD>(keys.size()),
                                         file.c_str());
    keys.resize(got);
    for (size_t at = 0; at < keys.size();) {
        std::wstring key(keys.c_str() + at);
        at += key.size() + 1;
        if (key.empty())
            continue;
        std::wstring text = ReadString(file, section, key.c_str());
        ULONG tag = 0;
        for (const KnownTag& known : kKnownTags)
            if (lstrcmpiW(known.name, key.c_str()) == 0)
                tag = known.tag;
        if (!tag && key.size() == 8 && key.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos)
            tag = wcstoul(key.c_str(), nullptr, 16);
        if (!tag)
            continue;
        HRESULT hr = SetTyped(props, tag, text);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// The library's own writable store service, known without MAPISVC.INF.
static void BuiltInWritableStore(CServiceInf::Service& service)
{
    service.name = kWritableStoreService;
    SetTyped(service.props, PR_DISPLAY_NAME_W, L"Writable Message Store");
    SetTyped(service.props, PR_SERVICE_DLL_NAME_W, L"MAPI.DLL");
    SetTyped(service.props, PR_SERVICE_ENTRY_NAME, L"WritableStoreServiceEntry");
    SetTyped(service.props, PR_RESOURCE_FLAGS, L"SERVICE_NO_PRIMARY_IDENTITY");
    CServiceInf::Provider provider;
    provider.section = L"P_WRITABLESTORE";
    SetTyped(provider.props, PR_RESOURCE_TYPE, L"MAPI_STORE_PROVIDER");
    SetTyped(provider.props, PR_PROVIDER_DLL_NAME_W, L"MAPI.DLL");
    SetTyped(provider.props, PR_DISPLAY_NAME_W, L"Writable Message Store");
    SetTyped(provider.props, PR_PROVIDER_DISPLAY_W, L"Writable Message Store");
    service.providers.push_back(provider);
}

HRESULT CServiceInf::Find(const std::wstring& serviceName, Service& service)
{
    std::wstring file = Path();
    if (serviceName.empty())
        return MAPI_E_NOT_FOUND;
    if (ReadString(file, L"Services", serviceName.c_str()).empty()) {
        if (lstrcmpiW(serviceName.c_str(), kWritableStoreService) != 0)
            return MAPI_E_NOT_FOUND;
        BuiltInWritableStore(service);
        return S_OK;
    }
    service.name = serviceName;
    HRESULT hr = ReadSection(file, serviceName, service.props);
    if (FAILED(hr))
        return hr;
    for (const std::wstring& section : Split(ReadString(file, serviceName, L"Providers"), L',')) {
        Provider provider;
        provider.section = section;
        hr = ReadSection(file, section, provider.props);
        if (FAILED(hr))
            return hr;
        service.providers.push_back(provider);
    }
    return S_OK;
}
