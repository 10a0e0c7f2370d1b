#pragma once
// An open registry key, closed with its owner; never copied, so no key is
// closed twice or left open on an early return.
#include "Platform.h"

class CRegistryKey {
public:
    CRegistryKey() = default;
    // Opens `path` below `root` with `access`; Get() is null when that fails.
    CRegistryKey(HKEY root, const wchar_t* path, REGSAM access)
    {
        if (RegOpenKeyExW(root, path, 0, access, &m_key) != ERROR_SUCCESS)
            m_key = nullptr;
    }
    CRegistryKey(CRegistryKey&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }
    CRegistryKey& operator=(CRegistryKey&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_key = other.m_key;
            other.m_key = nullptr;
        }
        return *this;
    }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;
    ~CRegistryKey() { Close(); }

    HKEY Get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }

private:
    void Close()
    {
        if (m_key)
            RegCloseKey(m_key);
        m_key = nullptr;
    }
    HKEY m_key = nullptr;
};
