#include "MapiStandin.h"
#include "CNamedProps.h"

ULONG CNamedProps::IdOf(const MAPINAMEID& name, bool create)
{
    if (!name.lpguid)
        return 0;
    for (size_t i = 0; i < m_names.size(); ++i) {
        const Name& known = m_names[i];
        if (!IsEqualGUID(known.guid, *name.lpguid) || known.kind != name.ulKind)
            continue;
        if (name.ulKind == MNID_ID ? known.id == name.Kind.lID
                                   : (name.Kind.lpwstrName && known.text == name.Kind.lpwstrName))
            return kFirstId + static_cast<ULONG>(i);
    }
    if (!create || m_names.size() >= 0x7FFE)
        return 0;
    if (name.ulKind == MNID_STRING && !name.Kind.lpwstrName)
        return 0;
    Name added{*name.lpguid, name.ulKind, name.ulKind == MNID_ID ? name.Kind.lID : 0,
               name.ulKind == MNID_STRING ? std::wstring(name.Kind.lpwstrName) : std::wstring()};
    m_names.push_back(added);
    return kFirstId + static_cast<ULONG>(m_names.size() - 1);
}

const CNamedProps::Name* CNamedProps::NameOf(ULONG propId) const
{
    if (propId < kFirstId || propId - kFirstId >= m_names.size())
        return nullptr;
    return &m_names[propId - kFirstId];
}
