#include "MapiStandin.h"
#include "CProfileStore.h"
#include "PropSerial.h"
#include "PropValue.h"

#include <cstring>
#include <memory>

// {C8B0DB13-05AA-1A10-9BB0-00AA002FC45A} as MAPI lays it out in bytes.
const MAPIUID kGlobalProfileSectionUid = {
    {0x13, 0xDB, 0xB0, 0xC8, 0xAA, 0x05, 0x10, 0x1A, 0x9B, 0xB0, 0x00, 0xAA, 0x00, 0x2F, 0xC4, 0x5A}};

namespace {

const wchar_t kProfilesKey[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";

class CRegKey {
public:
    CRegKey() = default;
    ~CRegKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    LONG Open(HKEY parent, const std::wstring& path, bool create)
    {
        if (create)
            return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
        return RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &m_key);
    }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

std::wstring ProfilePath(const std::wstring& profile)
{
    return std::wstring(kProfilesKey) + L"\\" + profile;
}

std::wstring SectionPath(const std::wstring& profile, const MAPIUID& uid)
{
    return ProfilePath(profile) + L"\\" + CProfileStore::UidText(uid);
}

} // namespace

std::wstring CProfileStore::UidText(const MAPIUID& uid)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (BYTE b : uid.ab) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

MAPIUID CProfileStore::NewUid()
{
    GUID guid;
    CoCreateGuid(&guid);
    MAPIUID uid;
    std::memcpy(uid.ab, &guid, sizeof(uid.ab));
    return uid;
}

bool CProfileStore::Exists(const std::wstring& profile)
{
    if (profile.empty())
        return false;
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, ProfilePath(profile), false) == ERROR_SUCCESS;
}

HRESULT CProfileStore::Create(const std::wstring& profile)
{
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProfilePath(profile), true) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    return S_OK;
}

HRESULT CProfileStore::Delete(const std::wstring& profile)
{
    if (RegDeleteTreeW(HKEY_CURRENT_USER, ProfilePath(profile).c_str()) != ERROR_SUCCESS)
        return MAPI_E_NOT_FOUND;
    if (DefaultProfile() == profile) {
        CRegKey key;
        if (key.Open(HKEY_CURRENT_USER, kProfilesKey, false) == ERROR_SUCCESS)
            RegDeleteValueW(key.Get(), L"DefaultProfile");
    }
    return S_OK;
}

std::vector<std::wstring> CProfileStore::Profiles()
{
    std::vector<std::wstring> names;
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kProfilesKey, false) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(key.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    return names;
}

std::wstring CProfileStore::DefaultProfile()
{
    wchar_t name[256];
    DWORD cb = sizeof(name);
    if (RegGetValueW(HKEY_CURRENT_USER, kProfilesKey, L"DefaultProfile", RRF_RT_REG_SZ, nullptr, name, &cb) !=
        ERROR_SUCCESS)
        return std::wstring();
    return name;
}

HRESULT CProfileStore::SetDefaultProfile(const std::wstring& profile)
{
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, kProfilesKey, true) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    if (profile.empty()) {
        RegDeleteValueW(key.Get(), L"DefaultProfile");
        return S_OK;
    }
    if (RegSetValueExW(key.Get(), L"DefaultProfile", 0, REG_SZ, reinterpret_cast<const BYTE*>(profile.c_str()),
                       static_cast<DWORD>((profile.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    return S_OK;
}

bool CProfileStore::SectionExists(const std::wstring& profile, const MAPIUID& uid)
{
    CRegKey key;
    return key.Open(HKEY_CURRENT_USER, SectionPath(profile, uid), false) == ERROR_SUCCESS;
}

HRESULT CProfileStore::LoadSection(const std::wstring& profile, const MAPIUID& uid, CPropBag& bag)
{
    bag.Clear();
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, SectionPath(profile, uid), false) != ERROR_SUCCESS)
        return S_OK;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD cch = 64;
        DWORD type = 0;
        DWORD cb = 0;
        LONG rc = RegEnumValueW(key.Get(), i, name, &cch, nullptr, &type, nullptr, &cb);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
            return MAPI_E_CALL_FAILED;
        if (type != REG_BINARY || cch != 8)
            continue;
        ULONG tag = wcstoul(name, nullptr, 16);
        std::vector<BYTE> bytes(cb);
        DWORD got = cb;
        if (RegQueryValueExW(key.Get(), name, nullptr, nullptr, bytes.data(), &got) != ERROR_SUCCESS)
            return MAPI_E_CALL_FAILED;
        bytes.resize(got);
        void* root = nullptr;
        if (MAPIAllocateBuffer(8, &root) != S_OK)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        std::unique_ptr<void, ULONG(WINAPI*)(LPVOID)> owner(root, &MAPIFreeBuffer);
        SPropValue value{};
        if (!mapistub::DeserialiseValue(tag, bytes, value, root))
            continue;
        HRESULT hr = bag.Set(value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT CProfileStore::SaveSection(const std::wstring& profile, const MAPIUID& uid, const CPropBag& bag)
{
    std::wstring path = SectionPath(profile, uid);
    RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, path, true) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    for (ULONG id : bag.Tags()) {
        const SPropValue* value = bag.Find(PROP_ID(id));
        // Error values and objects are no property a section can keep.
        if (!value || PROP_TYPE(value->ulPropTag) == PT_ERROR || PROP_TYPE(value->ulPropTag) == PT_OBJECT)
            continue;
        wchar_t name[16];
        wsprintfW(name, L"%08x", value->ulPropTag);
        std::vector<BYTE> bytes = mapistub::SerialiseValue(*value);
        if (RegSetValueExW(key.Get(), name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size())) !=
            ERROR_SUCCESS)
            return MAPI_E_CALL_FAILED;
    }
    return S_OK;
}

std::vector<MAPIUID> CProfileStore::Sections(const std::wstring& profile)
{
    std::vector<MAPIUID> uids;
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProfilePath(profile), false) != ERROR_SUCCESS)
        return uids;
    for (DWORD i = 0;; ++i) {
        wchar_t name[64];
        DWORD cch = 64;
        if (RegEnumKeyExW(key.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (cch != 32)
            continue;
        MAPIUID uid;
        for (int b = 0; b < 16; ++b) {
            wchar_t pair[3] = {name[2 * b], name[2 * b + 1], 0};
            uid.ab[b] = static_cast<BYTE>(wcstoul(pair, nullptr, 16));
        }
        uids.push_back(uid);
    }
    return uids;
}

HRESULT CProfileStore::DeleteSection(const std::wstring& profile, const MAPIUID& uid)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, SectionPath(profile, uid).c_str());
    return S_OK;
}

std::vector<MAPIUID> CProfileStore::Services(const std::wstring& profile)
{
    std::vector<MAPIUID> uids;
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProfilePath(profile), false) != ERROR_SUCCESS)
        return uids;
    DWORD cb = 0;
    if (RegQueryValueExW(key.Get(), L"Services", nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS)
        return uids;
    uids.resize(cb / sizeof(MAPIUID));
    cb = static_cast<DWORD>(uids.size() * sizeof(MAPIUID));
    if (cb && RegQueryValueExW(key.Get(), L"Services", nullptr, nullptr, reinterpret_cast<BYTE*>(uids.data()), &cb) !=
                  ERROR_SUCCESS)
        uids.clear();
    return uids;
}

HRESULT CProfileStore::SetServices(const std::wstring& profile, const std::vector<MAPIUID>& services)
{
    CRegKey key;
    if (key.Open(HKEY_CURRENT_USER, ProfilePath(profile), false) != ERROR_SUCCESS)
        return MAPI_E_NOT_FOUND;
    if (RegSetValueExW(key.Get(), L"Services", 0, REG_BINARY, reinterpret_cast<const BYTE*>(services.data()),
                       static_cast<DWORD>(services.size() * sizeof(MAPIUID))) != ERROR_SUCCESS)
        return MAPI_E_CALL_FAILED;
    return S_OK;
}
