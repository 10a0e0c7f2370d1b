#include "Platform.h"
#include "CRegistrar.h"

namespace common {
namespace {

class CKey {
public:
    CKey() = default;
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    ~CKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool KeyIsRemovable(const RegistryRow& row) { return !(row.flags & RegistryRow::NoRemove); }

} // namespace

void CRegistrar::AddReplacement(std::wstring name, std::wstring value)
{
    m_replacements.emplace_back(std::move(name), std::move(value));
}

std::wstring CRegistrar::Expand(const wchar_t* s) const
{
    std::wstring text = s ? s : L"";
    for (const auto& [name, value] : m_replacements) {
        for (size_t pos = text.find(name); pos != std::wstring::npos; pos = text.find(name, pos + value.size()))
            text.replace(pos, name.size(), value);
    }
    return text;
}

HRESULT CRegistrar::OpenRoot(bool perUser, HKEY* root) const
{
    if (!perUser) {
        *root = HKEY_CLASSES_ROOT;
        return S_OK;
    }
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              root, nullptr);
    return HRESULT_FROM_WIN32(rc);
}

HRESULT CRegistrar::Register(bool perUser) const
{
    HKEY root = nullptr;
    HRESULT hr = OpenRoot(perUser, &root);
    if (FAILED(hr))
        return hr;
    for (size_t i = 0; i < m_count && SUCCEEDED(hr); ++i) {
        const RegistryRow& row = m_rows[i];
        std::wstring path = Expand(row.key);
        if (row.flags & RegistryRow::ForceRemove)
            RegDeleteTreeW(root, path.c_str());
        CKey key;
        LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr);
        if (rc == ERROR_SUCCESS && row.data) {
            std::wstring data = Expand(row.data);
            rc = RegSetValueExW(key.Get(), row.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        }
        hr = HRESULT_FROM_WIN32(rc);
    }
    if (perUser)
        RegCloseKey(root);
    return hr;
}

HRESULT CRegistrar::Unregister(bool perUser) const
{
    HKEY root = nullptr;
    HRESULT hr = OpenRoot(perUser, &root);
    if (FAILED(hr))
        return hr;
    for (size_t i = m_count; i-- > 0;) {
        const RegistryRow& row = m_rows[i];
        if (!KeyIsRemovable(row))
            continue;
        std::wstring path = Expand(row.key);
        LONG rc = RegDeleteTreeW(root, path.c_str());
        if (rc == ERROR_SUCCESS)
            rc = RegDeleteKeyW(root, path.c_str());
        // A key that is already gone (removed with its parent, or never
        // written) is what unregistration wants.
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
            hr = HRESULT_FROM_WIN32(rc);
            break;
        }
    }
    if (perUser)
        RegCloseKey(root);
    return hr;
}

} // namespace common
