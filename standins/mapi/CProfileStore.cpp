#include "MapiStandin.h"
#include "CProfileStore.h"
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

// Serialised value: the bytes of the value itself. Fixed-size types keep
// their union bytes; strings keep their characters with the terminator;
// binaries and GUIDs their bytes; multi-valued ones a count followed, per
// element, by a 4-byte length and the element's serialised bytes.
void Append(std::vector<BYTE>& out, const void* data, size_t cb)
{
    const BYTE* p = static_cast<const BYTE*>(data);
    out.insert(out.end(), p, p + cb);
}

void SerialiseSingle(const SPropValue& value, std::vector<BYTE>& out)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_STRING8:
        Append(out, value.Value.lpszA, std::strlen(value.Value.lpszA) + 1);
        break;
    case PT_UNICODE:
        Append(out, value.Value.lpszW, (wcslen(value.Value.lpszW) + 1) * sizeof(WCHAR));
        break;
    case PT_BINARY:
        Append(out, value.Value.bin.lpb, value.Value.bin.cb);
        break;
    case PT_CLSID:
        Append(out, value.Value.lpguid, sizeof(GUID));
        break;
    default:
        Append(out, &value.Value, sizeof(value.Value));
        break;
    }
}

std::vector<BYTE> Serialise(const SPropValue& value)
{
    std::vector<BYTE> out;
    if (!mapistub::IsMultiValued(value.ulPropTag)) {
        SerialiseSingle(value, out);
        return out;
    }
    ULONG count = mapistub::ElementCount(value);
    Append(out, &count, sizeof(count));
    for (ULONG i = 0; i < count; ++i) {
        std::vector<BYTE> element;
        SerialiseSingle(mapistub::Element(value, i), element);
        ULONG cb = static_cast<ULONG>(element.size());
        Append(out, &cb, sizeof(cb));
        Append(out, element.data(), element.size());
    }
    return out;
}

// Rebuilds a value into a single MAPI buffer; false for malformed bytes.
bool ReadSingle(ULONG type, const BYTE* data, size_t cb, SPropValue& value, void* root)
{
    auto more = [&](size_t size) -> void* {
        void* p = nullptr;
        if (MAPIAllocateMore(static_cast<ULONG>(size ? size : 1), root, &p) != S_OK)
            return nullptr;
        return p;
    };
    value.ulPropTag = PROP_TAG(type, 0);
    switch (type) {
    case PT_STRING8: {
        char* text = static_cast<char*>(more(cb + 1));
        if (!text)
            return false;
        std::memcpy(text, data, cb);
        text[cb] = 0;
        value.Value.lpszA = text;
        return true;
    }
    case PT_UNICODE: {
        size_t chars = cb / sizeof(WCHAR);
        WCHAR* text = static_cast<WCHAR*>(more((chars + 1) * sizeof(WCHAR)));
        if (!text)
            return false;
        std::memcpy(text, data, chars * sizeof(WCHAR));
        text[chars] = 0;
        value.Value.lpszW = text;
        return true;
    }
    case PT_BINARY: {
        BYTE* bytes = static_cast<BYTE*>(more(cb));
        if (!bytes)
            return false;
        std::memcpy(bytes, data, cb);
        value.Value.bin.cb = static_cast<ULONG>(cb);
        value.Value.bin.lpb = bytes;
        return true;
    }
    case PT_CLSID: {
        if (cb != sizeof(GUID))
            return false;
        GUID* guid = static_cast<GUID*>(more(sizeof(GUID)));
        if (!guid)
            return false;
        std::memcpy(guid, data, sizeof(GUID));
        value.Value.lpguid = guid;
        return true;
    }
    default:
        if (cb != sizeof(value.Value))
            return false;
        std::memcpy(&value.Value, data, cb);
        return true;
    }
}

bool Deserialise(ULONG tag, const std::vector<BYTE>& bytes, SPropValue& value, void* root)
{
    ULONG type = PROP_TYPE(tag);
    if (!mapistub::IsMultiValued(tag)) {
        if (!ReadSingle(type, bytes.data(), bytes.size(), value, root))
            return false;
        value.ulPropTag = tag;
        return true;
    }
    ULONG base = mapistub::BaseType(tag);
    if (bytes.size() < 4)
        return false;
    ULONG count = 0;
    std::memcpy(&count, bytes.data(), 4);
    std::vector<SPropValue> elements(count);
    size_t at = 4;
    for (ULONG i = 0; i < count; ++i) {
        ULONG cb = 0;
        if (bytes.size() - at < 4)
            return false;
        std::memcpy(&cb, bytes.data() + at, 4);
        at += 4;
        if (bytes.size() - at < cb)
            return false;
        if (!ReadSingle(base, bytes.data() + at, cb, elements[i], root))
            return false;
        at += cb;
    }
    // Multi-valued arrays of every type are laid out as {count, pointer}.
    size_t elementSize = 0;
    switch (base) {
    case PT_I2: elementSize = sizeof(short); break;
    case PT_LONG: elementSize = sizeof(LONG); break;
    case PT_R4: elementSize = sizeof(float); break;
    case PT_DOUBLE: case PT_APPTIME: elementSize = sizeof(double); break;
    case PT_CURRENCY: elementSize = sizeof(CURRENCY); break;
    case PT_SYSTIME: elementSize = sizeof(FILETIME); break;
    case PT_I8: elementSize = sizeof(LARGE_INTEGER); break;
    case PT_CLSID: elementSize = sizeof(GUID); break;
    case PT_BINARY: elementSize = sizeof(SBinary); break;
    case PT_STRING8: elementSize = sizeof(LPSTR); break;
    case PT_UNICODE: elementSize = sizeof(LPWSTR); break;
    default: return false;
    }
    void* array = nullptr;
    if (MAPIAllocateMore(static_cast<ULONG>(elementSize * (count ? count : 1)), root, &array) != S_OK)
        return false;
    BYTE* p = static_cast<BYTE*>(array);
    for (ULONG i = 0; i < count; ++i, p += elementSize) {
        const SPropValue& e = elements[i];
        switch (base) {
        case PT_BINARY: std::memcpy(p, &e.Value.bin, elementSize); break;
        case PT_STRING8: std::memcpy(p, &e.Value.lpszA, elementSize); break;
        case PT_UNICODE: std::memcpy(p, &e.Value.lpszW, elementSize); break;
        case PT_CLSID: std::memcpy(p, e.Value.lpguid, elementSize); break;
        default: std::memcpy(p, &e.Value, elementSize); break;
        }
    }
    value.ulPropTag = tag;
    value.Value.MVl.cValues = count;
    value.Value.MVl.lpl = static_cast<LONG*>(array);
    return true;
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
        if (!Deserialise(tag, bytes, value, root))
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
        if (!value || PROP_TYPE(value->ulPropTag) == PT_ERROR)
            continue;
        wchar_t name[16];
        wsprintfW(name, L"%08x", value->ulPropTag);
        std::vector<BYTE> bytes = Serialise(*value);
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
