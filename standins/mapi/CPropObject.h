#pragma once
// The IMAPIProp behaviour shared by messages and attachments on storage,
// over a CPropBag: one value per requested tag (PT_ERROR/MAPI_E_NOT_FOUND
// and MAPI_W_ERRORS_RETURNED for missing ones, 8-bit and Unicode strings
// converted to the requested type, PT_UNSPECIFIED answered with the stored
// type), problem arrays only when there are problems, and the named-property
// map of the message the object belongs to. Memory handed out comes from the
// caller's allocators given at open.
#include "MapiStandin.h"
#include "CPropBag.h"

#include <memory>

class CNamedProps;

class CPropObject {
public:
    CPropObject(const mapistub::Allocators& allocators, std::shared_ptr<CNamedProps> names);

    HRESULT GetProps(const CPropBag& bag, const SPropTagArray* tags, ULONG flags, ULONG* count,
                     LPSPropValue* values) const;
    HRESULT GetPropList(const CPropBag& bag, ULONG flags, LPSPropTagArray* tags) const;
    // readOnlyIds: property ids SetProps/DeleteProps refuse (computed ones).
    HRESULT SetProps(CPropBag& bag, ULONG count, const SPropValue* values, LPSPropProblemArray* problems,
                     const std::vector<ULONG>& readOnlyIds) const;
    HRESULT DeleteProps(CPropBag& bag, const SPropTagArray* tags, LPSPropProblemArray* problems,
                        const std::vector<ULONG>& readOnlyIds) const;
    HRESULT GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags) const;
    HRESULT GetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                            LPMAPINAMEID** names) const;

    const mapistub::Allocators& Allocators() const { return m_allocators; }
    const std::shared_ptr<CNamedProps>& Names() const { return m_names; }

private:
    HRESULT Problems(const std::vector<SPropProblem>& list, LPSPropProblemArray* out) const;

    mapistub::Allocators m_allocators;
    std::shared_ptr<CNamedProps> m_names;
};
