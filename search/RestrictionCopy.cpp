#include "SearchPlatform.h"
#include "RestrictionCopy.h"

#include "ProviderMemory.h"

#include <cstring>
#include <cwchar>

namespace {

// Keeps the first failure of a run of allocations.
class CFirstFailure {
public:
    void Note(HRESULT hr)
    {
        if (FAILED(hr) && SUCCEEDED(m_hr))
            m_hr = hr;
    }
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr = S_OK;
};

// A zeroed block of size bytes on parent; null (and the error) on failure.
template <typename T>
HRESULT AllocateOn(void* parent, size_t size, T** out)
{
    *out = nullptr;
    if (size == 0)
        return S_OK;
    if (size > 0x7FFFFFFF)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    void* block = nullptr;
    SCODE sc = ProviderAllocateMore(static_cast<ULONG>(size), parent, &block);
    if (FAILED(sc))
        return sc;
    if (!block)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    std::memset(block, 0, size);
    *out = static_cast<T*>(block);
    return S_OK;
}

// An array of count elements of elementSize bytes copied onto parent.
template <typename T>
HRESULT CopyArray(const T* src, ULONG count, size_t elementSize, void* parent, T** out)
{
    *out = nullptr;
    if (count == 0)
        return S_OK;
    if (!src)
        return MAPI_E_INVALID_PARAMETER;
    if (count > 0x7FFFFFFF / elementSize)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = AllocateOn(parent, count * elementSize, out);
    if (SUCCEEDED(hr))
        std::memcpy(*out, src, count * elementSize);
    return hr;
}

HRESULT CopyStringA(const char* src, void* parent, LPSTR* out)
{
    *out = nullptr;
    if (!src)
        return S_OK;
    const size_t size = std::strlen(src) + 1;
    HRESULT hr = AllocateOn(parent, size, out);
    if (SUCCEEDED(hr))
        std::memcpy(*out, src, size);
    return hr;
}

HRESULT CopyStringW(const wchar_t* src, void* parent, LPWSTR* out)
{
    *out = nullptr;
    if (!src)
        return S_OK;
    const size_t size = (std::wcslen(src) + 1) * sizeof(wchar_t);
    HRESULT hr = AllocateOn(parent, size, out);
    if (SUCCEEDED(hr))
        std::memcpy(*out, src, size);
    return hr;
}

HRESULT CopyBinary(const SBinary& src, void* parent, SBinary& dst)
{
    dst.cb = 0;
    dst.lpb = nullptr;
    HRESULT hr = CopyArray(src.lpb, src.cb, 1, parent, &dst.lpb);
    if (SUCCEEDED(hr))
        dst.cb = src.cb;
    return hr;
}

// Copies a multi-valued array of fixed-size elements: count and pointer are
// set together, so a failed copy reads as an empty array.
template <typename Array, typename T>
HRESULT CopyFixedArray(const Array& src, T* Array::*values, void* parent, Array& dst)
{
    dst.cValues = 0;
    dst.*values = nullptr;
    HRESULT hr = CopyArray(src.*values, src.cValues, sizeof(T), parent, &(dst.*values));
    if (SUCCEEDED(hr))
        dst.cValues = src.cValues;
    return hr;
}

HRESULT CopyStringArrayA(const SLPSTRArray& src, void* parent, SLPSTRArray& dst)
{
    dst.cValues = 0;
    dst.lppszA = nullptr;
    HRESULT hr = CopyArray(src.lppszA, src.cValues, sizeof(LPSTR), parent, &dst.lppszA);
    if (FAILED(hr) || !dst.lppszA)
        return hr;
    dst.cValues = src.cValues;
    CFirstFailure result;
    for (ULONG i = 0; i < src.cValues; ++i)
        result.Note(CopyStringA(src.lppszA[i], parent, &dst.lppszA[i]));
    return result.Result();
}

HRESULT CopyStringArrayW(const SWStringArray& src, void* parent, SWStringArray& dst)
{
    dst.cValues = 0;
    dst.lppszW = nullptr;
    HRESULT hr = CopyArray(src.lppszW, src.cValues, sizeof(LPWSTR), parent, &dst.lppszW);
    if (FAILED(hr) || !dst.lppszW)
        return hr;
    dst.cValues = src.cValues;
    CFirstFailure result;
    for (ULONG i = 0; i < src.cValues; ++i)
        result.Note(CopyStringW(src.lppszW[i], parent, &dst.lppszW[i]));
    return result.Result();
}

HRESULT CopyBinaryArray(const SBinaryArray& src, void* parent, SBinaryArray& dst)
{
    dst.cValues = 0;
    dst.lpbin = nullptr;
    if (src.cValues == 0)
        return S_OK;
    if (!src.lpbin)
        return MAPI_E_INVALID_PARAMETER;
    if (src.cValues > 0x7FFFFFFF / sizeof(SBinary))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = AllocateOn(parent, src.cValues * sizeof(SBinary), &dst.lpbin);
    if (FAILED(hr))
        return hr;
    dst.cValues = src.cValues;
    CFirstFailure result;
    for (ULONG i = 0; i < src.cValues; ++i)
        result.Note(CopyBinary(src.lpbin[i], parent, dst.lpbin[i]));
    return result.Result();
}

// Copies one value of a counted array into dst[i]: the destination array is
// zeroed first so that a failure leaves null pointers only.
HRESULT CopyValueArray(const SPropValue* src, ULONG count, void* parent, SPropValue** dst)
{
    *dst = nullptr;
    if (count == 0)
        return S_OK;
    if (!src)
        return MAPI_E_INVALID_PARAMETER;
    if (count > 0x7FFFFFFF / sizeof(SPropValue))
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = AllocateOn(parent, count * sizeof(SPropValue), dst);
    if (FAILED(hr))
        return hr;
    CFirstFailure result;
    for (ULONG i = 0; i < count; ++i)
        result.Note(CopyPropValue(&(*dst)[i], &src[i], parent));
    return result.Result();
}

HRESULT CopyOneValue(const SPropValue* src, void* parent, SPropValue** dst)
{
    *dst = nullptr;
    if (!src)
        return S_OK;
    return CopyValueArray(src, 1, parent, dst);
}

void InsertTag(SearchTagSet* tags, ULONG tag)
{
    if (tags)
        tags->insert(static_cast<LONG>(tag));
}

class CRestrictionCopier {
public:
    CRestrictionCopier(void* parent, SearchTagSet* tags, SubRestrictionMap* map)
        : m_parent(parent), m_tags(tags), m_map(map)
    {
    }

    HRESULT Copy(SRestriction* dst, const SRestriction* src)
    {
        std::memset(dst, 0, sizeof(*dst));
        dst->rt = src->rt;
        switch (src->rt) {
        case RES_AND:
        case RES_OR: {
            // resAnd and resOr share one layout.
            const SAndRestriction& from = src->res.resAnd;
            SAndRestriction& to = dst->res.resAnd;
            HRESULT hr = CopyChildren(from.lpRes, from.cRes, &to.lpRes);
            if (to.lpRes)
                to.cRes = from.cRes;
            return hr;
        }
        case RES_NOT:
            dst->res.resNot.ulReserved = src->res.resNot.ulReserved;
            return CopyChildren(src->res.resNot.lpRes, src->res.resNot.lpRes ? 1 : 0, &dst->res.resNot.lpRes);
        case RES_CONTENT:
            dst->res.resContent.ulFuzzyLevel = src->res.resContent.ulFuzzyLevel;
            dst->res.resContent.ulPropTag = src->res.resContent.ulPropTag;
            InsertTag(m_tags, src->res.resContent.ulPropTag);
            return CopyOneValue(src->res.resContent.lpProp, m_parent, &dst->res.resContent.lpProp);
        case RES_PROPERTY:
            dst->res.resProperty.relop = src->res.resProperty.relop;
            dst->res.resProperty.ulPropTag = src->res.resProperty.ulPropTag;
            InsertTag(m_tags, src->res.resProperty.ulPropTag);
            return CopyOneValue(src->res.resProperty.lpProp, m_parent, &dst->res.resProperty.lpProp);
        case RES_COMPAREPROPS:
            dst->res.resCompareProps = src->res.resCompareProps;
            InsertTag(m_tags, src->res.resCompareProps.ulPropTag1);
            InsertTag(m_tags, src->res.resCompareProps.ulPropTag2);
            return S_OK;
        case RES_BITMASK:
            dst->res.resBitMask = src->res.resBitMask;
            InsertTag(m_tags, src->res.resBitMask.ulPropTag);
            return S_OK;
        case RES_SIZE:
            dst->res.resSize = src->res.resSize;
            InsertTag(m_tags, src->res.resSize.ulPropTag);
            return S_OK;
        case RES_EXIST:
            dst->res.resExist = src->res.resExist;
            InsertTag(m_tags, src->res.resExist.ulPropTag);
            return S_OK;
        case RES_SUBRESTRICTION:
            if (m_map)
                return Translate(dst, src);
            dst->res.resSub.ulSubObject = src->res.resSub.ulSubObject;
            return CopyChildren(src->res.resSub.lpRes, src->res.resSub.lpRes ? 1 : 0, &dst->res.resSub.lpRes);
        case RES_COMMENT: {
            const SCommentRestriction& from = src->res.resComment;
            SCommentRestriction& to = dst->res.resComment;
            CFirstFailure result;
            result.Note(CopyValueArray(from.lpProp, from.cValues, m_parent, &to.lpProp));
            if (to.lpProp)
                to.cValues = from.cValues;
            result.Note(CopyChildren(from.lpRes, from.lpRes ? 1 : 0, &to.lpRes));
            return result.Result();
        }
        default:
            return S_OK;
        }
    }

private:
    HRESULT CopyChildren(const SRestriction* src, ULONG count, SRestriction** dst)
    {
        *dst = nullptr;
        if (count == 0)
            return S_OK;
        if (!src)
            return MAPI_E_INVALID_PARAMETER;
        if (count > 0x7FFFFFFF / sizeof(SRestriction))
            return MAPI_E_NOT_ENOUGH_MEMORY;
        HRESULT hr = AllocateOn(m_parent, count * sizeof(SRestriction), dst);
        if (FAILED(hr))
            return hr;
        CFirstFailure result;
        for (ULONG i = 0; i < count; ++i)
            result.Note(Copy(&(*dst)[i], &src[i]));
        return result.Result();
    }

    // The subrestriction goes into the map as a root of its own, copied
    // without collecting its tags; dst tests the synthetic column instead.
    HRESULT Translate(SRestriction* dst, const SRestriction* src)
    {
        dst->rt = RES_PROPERTY;
        if (m_map->size() >= kMaxSubRestrictions)
            return MAPI_E_TOO_COMPLEX;
        LPSRestriction copy = nullptr;
        SCODE sc = ProviderAllocateBuffer(sizeof(SRestriction), reinterpret_cast<void**>(&copy));
        if (FAILED(sc) || !copy)
            return FAILED(sc) ? sc : MAPI_E_NOT_ENOUGH_MEMORY;
        std::memset(copy, 0, sizeof(*copy));
        copy->rt = RES_SUBRESTRICTION;
        copy->res.resSub.ulSubObject = src->res.resSub.ulSubObject;
        CFirstFailure result;
        if (src->res.resSub.lpRes) {
            CRestrictionCopier inner(copy, nullptr, nullptr);
            result.Note(inner.CopyChildren(src->res.resSub.lpRes, 1, &copy->res.resSub.lpRes));
        }
        const ULONG tag = PROP_TAG(PT_BOOLEAN, PROP_ID(PR_SEARCH_SUBRESTRICTION_BASE) + m_map->size());
        InsertTag(m_tags, tag);
        (*m_map)[tag] = copy;

        dst->res.resProperty.relop = RELOP_EQ;
        dst->res.resProperty.ulPropTag = tag;
        SPropValue* value = nullptr;
        HRESULT hr = AllocateOn(m_parent, sizeof(SPropValue), &value);
        if (value) {
            value->ulPropTag = tag;
            value->Value.b = TRUE;
        }
        dst->res.resProperty.lpProp = value;
        result.Note(hr);
        return result.Result();
    }

    void* m_parent;
    SearchTagSet* m_tags;
    SubRestrictionMap* m_map;
};

} // namespace

HRESULT CopyPropValue(SPropValue* dst, const SPropValue* src, void* parent)
{
    if (!dst || !src || !parent)
        return MAPI_E_INVALID_PARAMETER;
    std::memset(dst, 0, sizeof(*dst));
    dst->ulPropTag = src->ulPropTag;
    dst->dwAlignPad = 0;
    const SPropValue& from = *src;
    SPropValue& to = *dst;
    switch (PROP_TYPE(src->ulPropTag)) {
    case PT_NULL:
    case PT_LONG:
    case PT_FLOAT:
        to.Value.l = from.Value.l;
        return S_OK;
    case PT_ERROR:
        to.Value.err = from.Value.err;
        return S_OK;
    case PT_I2:
        to.Value.i = from.Value.i;
        return S_OK;
    case PT_BOOLEAN:
        to.Value.b = from.Value.b;
        return S_OK;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
        to.Value.li = from.Value.li;
        return S_OK;
    case PT_OBJECT:
        return S_OK;
    case PT_STRING8:
        return CopyStringA(from.Value.lpszA, parent, &to.Value.lpszA);
    case PT_UNICODE:
        return CopyStringW(from.Value.lpszW, parent, &to.Value.lpszW);
    case PT_CLSID:
        return CopyArray(from.Value.lpguid, from.Value.lpguid ? 1 : 0, sizeof(GUID), parent, &to.Value.lpguid);
    case PT_BINARY:
    case 0x0105: // PT_SVREID, laid out as a binary
        return CopyBinary(from.Value.bin, parent, to.Value.bin);
    case PT_MV_I2:
        return CopyFixedArray(from.Value.MVi, &SShortArray::lpi, parent, to.Value.MVi);
    case PT_MV_LONG:
        return CopyFixedArray(from.Value.MVl, &SLongArray::lpl, parent, to.Value.MVl);
    case PT_MV_R4:
        return CopyFixedArray(from.Value.MVflt, &SRealArray::lpflt, parent, to.Value.MVflt);
    case PT_MV_DOUBLE:
        return CopyFixedArray(from.Value.MVdbl, &SDoubleArray::lpdbl, parent, to.Value.MVdbl);
    case PT_MV_CURRENCY:
        return CopyFixedArray(from.Value.MVcur, &SCurrencyArray::lpcur, parent, to.Value.MVcur);
    case PT_MV_APPTIME:
        return CopyFixedArray(from.Value.MVat, &SAppTimeArray::lpat, parent, to.Value.MVat);
    case PT_MV_SYSTIME:
        return CopyFixedArray(from.Value.MVft, &SDateTimeArray::lpft, parent, to.Value.MVft);
    case PT_MV_I8:
        return CopyFixedArray(from.Value.MVli, &SLargeIntegerArray::lpli, parent, to.Value.MVli);
    case PT_MV_CLSID:
        return CopyFixedArray(from.Value.MVguid, &SGuidArray::lpguid, parent, to.Value.MVguid);
    case PT_MV_STRING8:
        return CopyStringArrayA(from.Value.MVszA, parent, to.Value.MVszA);
    case PT_MV_UNICODE:
        return CopyStringArrayW(from.Value.MVszW, parent, to.Value.MVszW);
    case PT_MV_BINARY:
        return CopyBinaryArray(from.Value.MVbin, parent, to.Value.MVbin);
    default:
        return S_OK;
    }
}

HRESULT CopyRestriction(SRestriction* dst, const SRestriction* src, void* parent, SearchTagSet* tags)
{
    if (!dst || !src || !parent)
        return MAPI_E_INVALID_PARAMETER;
    return CRestrictionCopier(parent, tags, nullptr).Copy(dst, src);
}

HRESULT TranslateRestriction(SRestriction* dst, const SRestriction* src, void* parent, SearchTagSet* tags,
                             SubRestrictionMap* map)
{
    if (!dst || !src || !parent)
        return MAPI_E_INVALID_PARAMETER;
    return CRestrictionCopier(parent, tags, map).Copy(dst, src);
}

void FreeSubRestrictionMap(SubRestrictionMap& map)
{
    for (auto& entry : map)
        ProviderFreeBuffer(entry.second);
    map.clear();
}
