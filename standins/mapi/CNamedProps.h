#pragma once
// The named-property map of one message on storage (shared by its
// attachments and embedded messages): names get ids from 0x8000 upwards in
// the order they are first asked for with MAPI_CREATE.
#include "MapiStandin.h"

#include <string>
#include <vector>

class CNamedProps {
public:
    struct Name {
        GUID guid;
        ULONG kind;           // MNID_ID or MNID_STRING
        LONG id;
        std::wstring text;
    };

    // Id for the name, or 0 when unknown and create is false.
    ULONG IdOf(const MAPINAMEID& name, bool create);
    // The name for a property id of the named range, or nullptr.
    const Name* NameOf(ULONG propId) const;

    const std::vector<Name>& Names() const { return m_names; }
    void Add(const Name& name) { m_names.push_back(name); }
    void Clear() { m_names.clear(); }

    static constexpr ULONG kFirstId = 0x8000;

private:
    std::vector<Name> m_names;
};
