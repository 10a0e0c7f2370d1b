#pragma once
// Writes and removes COM registration from a const table of rows. Each row is
// a key below the class root (HKEY_CLASSES_ROOT, or the current user's
// Software\Classes for a per-user registration), optionally with one string value.
// "%MODULE%" and "%APPID%" (and any other replacement the caller adds) are
// substituted in key paths and data.
//
// Register walks the rows forwards: a ForceRemove key is deleted with its whole
// subtree before it is written again. Unregister walks them backwards and
// deletes every key not marked NoRemove, with its subtree; a NoRemove key stays
// (its listed subkeys go).
#include "Platform.h"

#include <string>
#include <utility>
#include <vector>

namespace common {

struct RegistryRow {
    enum Flags : unsigned {
        None = 0,
        NoRemove = 1,    // never deleted by Unregister
        ForceRemove = 2, // deleted with its subtree before Register writes it
    };
    const wchar_t* key;   // path below the class root
    const wchar_t* name;  // value name; nullptr: the key's default value
    const wchar_t* data;  // string data; nullptr: no value, only the key
    unsigned flags;
};

class CRegistrar {
public:
    CRegistrar(const RegistryRow* rows, size_t count) : m_rows(rows), m_count(count) {}

    void AddReplacement(std::wstring name, std::wstring value);

    HRESULT Register(bool perUser) const;
    HRESULT Unregister(bool perUser) const;

    // The text of s with every replacement applied.
    std::wstring Expand(const wchar_t* s) const;

private:
    HRESULT OpenRoot(bool perUser, HKEY* root) const;

    const RegistryRow* m_rows;
    size_t m_count;
    std::vector<std::pair<std::wstring, std::wstring>> m_replacements;
};

} // namespace common
