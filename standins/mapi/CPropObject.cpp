#include "MapiStandin.h"
#include "CPropObject.h"
#include "CNamedProps.h"
#include "PropValue.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::string AnsiFromWide(const WCHAR* text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], length, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(length - 1));
    return ansi;
}

bool Contains(const std::vector<ULONG>& ids, ULONG id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

} // namespace

CPropObject::CPropObject(const mapistub::Allocators& allocators, std::shared_ptr<CNamedProps> names)
    : m_allocators(allocators), m_names(std::move(names))
{
}

HRESULT CPropObject::GetProps(const CPropBag& bag, const SPropTagArray* tags, ULONG flags, ULONG* count,
                              LPSPropValue* values) const
{
    if (!count || !values)
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    std::vector<ULONG> wanted = tags ? std::vector<ULONG>(tags->aulPropTag, tags->aulPropTag + tags->cValues) : bag.Tags();
    bool unicode = (flags & MAPI_UNICODE) != 0;
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(static_cast<ULONG>(std::max<size_t>(wanted.size(), 1) * sizeof(SPropValue)), &block);
    if (FAILED(hr))
        return hr;
    auto* out = static_cast<LPSPropValue>(block);
    bool missing = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        ULONG tag = wanted[i];
        ULONG type = PROP_TYPE(tag);
        const SPropValue* value = bag.Find(PROP_ID(tag));
        ULONG stored = value ? PROP_TYPE(value->ulPropTag) : 0;
        if (!tags && value && !unicode && stored == PT_UNICODE)
            type = PT_STRING8; // a full list without MAPI_UNICODE answers 8-bit strings
        else if (!tags && value)
            type = stored;
        if (type == PT_UNSPECIFIED && value)
            type = unicode || stored != PT_UNICODE ? stored : PT_STRING8;
        std::string ansi;
        std::wstring wide;
        SPropValue converted{};
        const SPropValue* source = nullptr;
        if (value && stored == type) {
            source = value;
        } else if (value && stored == PT_UNICODE && type == PT_STRING8) {
            ansi = AnsiFromWide(value->Value.lpszW);
            converted.ulPropTag = PROP_TAG(PT_STRING8, PROP_ID(tag));
            converted.Value.lpszA = &ansi[0];
            source = &converted;
        } else if (value && stored == PT_STRING8 && type == PT_UNICODE) {
            wide = mapistub::WideFromAnsi(value->Value.lpszA);
            converted.ulPropTag = PROP_TAG(PT_UNICODE, PROP_ID(tag));
            converted.Value.lpszW = &wide[0];
            source = &converted;
        }
        if (!source) {
            out[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            out[i].dwAlignPad = 0;
            out[i].Value.err = MAPI_E_NOT_FOUND;
            missing = true;
            continue;
        }
        hr = PropCopyMore(&out[i], const_cast<LPSPropValue>(source), m_allocators.allocateMore, block);
        if (FAILED(hr)) {
            m_allocators.freeBuffer(block);
            return hr;
        }
    }
    *count = static_cast<ULONG>(wanted.size());
    *values = out;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT CPropObject::GetPropList(const CPropBag& bag, ULONG flags, LPSPropTagArray* tags) const
{
    if (!tags)
        return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    std::vector<ULONG> list = bag.Tags();
    if (!(flags & MAPI_UNICODE))
        for (ULONG& tag : list)
            if (PROP_TYPE(tag) == PT_UNICODE)
                tag = PROP_TAG(PT_STRING8, PROP_ID(tag));
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(CbNewSPropTagArray(list.size()), &block);
    if (FAILED(hr))
        return hr;
    auto* out = static_cast<LPSPropTagArray>(block);
    out->cValues = static_cast<ULONG>(list.size());
    std::copy(list.begin(), list.end(), out->aulPropTag);
    *tags = out;
    return S_OK;
}

HRESULT CPropObject::Problems(const std::vector<SPropProblem>& list, LPSPropProblemArray* out) const
{
    if (!out)
        return S_OK;
    *out = nullptr;
    if (list.empty())
        return S_OK;
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(CbNewSPropProblemArray(list.size()), &block);
    if (FAILED(hr))
        return hr;
    auto* problems = static_cast<LPSPropProblemArray>(block);
    problems->cProblem = static_cast<ULONG>(list.size());
    std::copy(list.begin(), list.end(), problems->aProblem);
    *out = problems;
    return S_OK;
}

HRESULT CPropObject::SetProps(CPropBag& bag, ULONG count, const SPropValue* values, LPSPropProblemArray* problems,
                              const std::vector<ULONG>& readOnlyIds) const
{
    if (problems)
        *problems = nullptr;
    if (count > 0 && !values)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> list;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& value = values[i];
        ULONG type = PROP_TYPE(value.ulPropTag);
        SCODE sc = S_OK;
        if (!mapistub::IsKnownType(type) || type == PT_ERROR || type == PT_OBJECT || type == PT_NULL ||
            type == PT_UNSPECIFIED || PROP_ID(value.ulPropTag) == 0)
            sc = MAPI_E_INVALID_TYPE;
        else if (Contains(readOnlyIds, PROP_ID(value.ulPropTag)))
            sc = MAPI_E_COMPUTED;
        else
            sc = bag.Set(value);
        if (FAILED(sc))
            list.push_back({i, value.ulPropTag, sc});
    }
    return Problems(list, problems);
}

HRESULT CPropObject::DeleteProps(CPropBag& bag, const SPropTagArray* tags, LPSPropProblemArray* problems,
                                 const std::vector<ULONG>& readOnlyIds) const
{
    if (problems)
        *problems = nullptr;
    if (!tags)
        return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> list;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        ULONG id = PROP_ID(tags->aulPropTag[i]);
        if (Contains(readOnlyIds, id))
            list.push_back({i, tags->aulPropTag[i], MAPI_E_COMPUTED});
        else if (!bag.Delete(id))
            list.push_back({i, tags->aulPropTag[i], MAPI_E_NOT_FOUND});
    }
    return Problems(list, problems);
}

HRESULT CPropObject::GetIDsFromNames(ULONG count, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* tags) const
{
    if (!tags || (count > 0 && !names))
        return MAPI_E_INVALID_PARAMETER;
    *tags = nullptr;
    if (count == 0) // all names of the map
        count = static_cast<ULONG>(m_names->Names().size());
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(CbNewSPropTagArray(count), &block);
    if (FAILED(hr))
        return hr;
    auto* out = static_cast<LPSPropTagArray>(block);
    out->cValues = count;
    bool missing = false;
    for (ULONG i = 0; i < count; ++i) {
        ULONG id = 0;
        if (!names)
            id = CNamedProps::kFirstId + i;
        else if (names[i])
            id = m_names->IdOf(*names[i], (flags & MAPI_CREATE) != 0);
        out->aulPropTag[i] = id ? PROP_TAG(PT_UNSPECIFIED, id) : PROP_TAG(PT_ERROR, 0);
        missing = missing || id == 0;
    }
    *tags = out;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT CPropObject::GetNamesFromIDs(LPSPropTagArray* tags, LPGUID guid, ULONG flags, ULONG* count,
                                     LPMAPINAMEID** names) const
{
    if (!tags || !count || !names)
        return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *names = nullptr;
    std::vector<ULONG> ids;
    if (*tags) {
        for (ULONG i = 0; i < (*tags)->cValues; ++i)
            ids.push_back(PROP_ID((*tags)->aulPropTag[i]));
    } else {
        for (size_t i = 0; i < m_names->Names().size(); ++i)
            if (!guid || IsEqualGUID(*guid, m_names->Names()[i].guid))
                ids.push_back(CNamedProps::kFirstId + static_cast<ULONG>(i));
    }
    void* block = nullptr;
    HRESULT hr = m_allocators.allocateBuffer(static_cast<ULONG>(std::max<size_t>(ids.size(), 1) * sizeof(LPMAPINAMEID)), &block);
    if (FAILED(hr))
        return hr;
    auto* out = static_cast<LPMAPINAMEID*>(block);
    bool missing = false;
    for (size_t i = 0; i < ids.size(); ++i) {
        out[i] = nullptr;
        const CNamedProps::Name* name = m_names->NameOf(ids[i]);
        if (!name) {
            missing = true;
            continue;
        }
        void* entry = nullptr;
        hr = m_allocators.allocateMore(sizeof(MAPINAMEID) + sizeof(GUID), block, &entry);
        if (FAILED(hr)) {
            m_allocators.freeBuffer(block);
            return hr;
        }
        auto* id = static_cast<LPMAPINAMEID>(entry);
        id->lpguid = reinterpret_cast<LPGUID>(static_cast<BYTE*>(entry) + sizeof(MAPINAMEID));
        *id->lpguid = name->guid;
        id->ulKind = name->kind;
        if (name->kind == MNID_STRING) {
            void* text = nullptr;
            hr = m_allocators.allocateMore(static_cast<ULONG>((name->text.size() + 1) * sizeof(WCHAR)), block, &text);
            if (FAILED(hr)) {
                m_allocators.freeBuffer(block);
                return hr;
            }
            std::memcpy(text, name->text.c_str(), (name->text.size() + 1) * sizeof(WCHAR));
            id->Kind.lpwstrName = static_cast<LPWSTR>(text);
        } else {
            id->Kind.lID = name->id;
        }
        out[i] = id;
    }
    *count = static_cast<ULONG>(ids.size());
    *names = out;
    return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
}
