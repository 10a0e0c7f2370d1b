#include "MapiStandin.h"
#include "CRestriction.h"
#include "CContentMatcher.h"
#include "CTableRow.h"
#include "PropValue.h"

#include <string>

namespace {

// Deep trees are refused rather than risking the stack.
constexpr unsigned kMaxDepth = 200;

bool IsString(ULONG type)
{
    return type == PT_STRING8 || type == PT_UNICODE;
}

bool IsRelop(ULONG relop)
{
    return relop <= RELOP_NE;
}

bool ApplyRelop(ULONG relop, int c)
{
    switch (relop) {
    case RELOP_LT: return c < 0;
    case RELOP_LE: return c <= 0;
    case RELOP_GT: return c > 0;
    case RELOP_GE: return c >= 0;
    case RELOP_EQ: return c == 0;
    case RELOP_NE: return c != 0;
    default: return false;
    }
}

// Usable value of a row, or nullptr for missing and error values.
const SPropValue* RowValue(const CTableRow& row, ULONG tag)
{
    const SPropValue* value = row.FindId(PROP_ID(tag));
    if (!value)
        return nullptr;
    ULONG type = PROP_TYPE(value->ulPropTag);
    if (type == PT_ERROR && PROP_TYPE(tag) != PT_ERROR)
        return nullptr;
    if (type == PT_NULL)
        return nullptr;
    return value;
}

// Compares two single values, letting 8-bit and Unicode strings meet.
// Returns false in *comparable when the types do not compare.
int CompareSingle(const SPropValue& a, const SPropValue& b, bool* comparable)
{
    ULONG typeA = PROP_TYPE(a.ulPropTag);
    ULONG typeB = PROP_TYPE(b.ulPropTag);
    *comparable = true;
    if (typeA == typeB)
        return mapistub::CompareValues(a, b, mapistub::StringCompare::kExact);
    if (IsString(typeA) && IsString(typeB)) {
        std::wstring wa = typeA == PT_UNICODE ? std::wstring(a.Value.lpszW ? a.Value.lpszW : L"")
                                              : mapistub::WideFromAnsi(a.Value.lpszA);
        std::wstring wb = typeB == PT_UNICODE ? std::wstring(b.Value.lpszW ? b.Value.lpszW : L"")
                                              : mapistub::WideFromAnsi(b.Value.lpszA);
        SPropValue va{};
        SPropValue vb{};
        va.ulPropTag = vb.ulPropTag = PT_UNICODE;
        va.Value.lpszW = &wa[0];
        vb.Value.lpszW = &wb[0];
        return mapistub::CompareValues(va, vb, mapistub::StringCompare::kExact);
    }
    *comparable = false;
    return 0;
}

// relop test of a row value against a restriction value.
bool TestValues(ULONG relop, const SPropValue& rowValue, const SPropValue& value)
{
    bool rowMulti = mapistub::IsMultiValued(rowValue.ulPropTag);
    bool valueMulti = mapistub::IsMultiValued(value.ulPropTag);
    bool comparable = false;
    if (rowMulti && !valueMulti) {
        ULONG count = rowValue.Value.MVl.cValues;
        for (ULONG i = 0; i < count; ++i) {
            SPropValue element = mapistub::Element(rowValue, i);
            int c = CompareSingle(element, value, &comparable);
            if (comparable && ApplyRelop(relop, c))
                return true;
        }
        return false;
    }
    if (rowMulti != valueMulti)
        return false;
    int c = rowMulti ? 0 : CompareSingle(rowValue, value, &comparable);
    if (rowMulti) {
        if (PROP_TYPE(rowValue.ulPropTag) != PROP_TYPE(value.ulPropTag))
            return false;
        c = mapistub::CompareValues(rowValue, value, mapistub::StringCompare::kExact);
        comparable = true;
    }
    return comparable && ApplyRelop(relop, c);
}

} // namespace

CRestriction::~CRestriction() = default;

HRESULT CRestriction::Compile(const SRestriction* res, std::unique_ptr<CRestriction>& out)
{
    out.reset();
    if (!res)
        return MAPI_E_INVALID_PARAMETER;
    try {
        return Build(res, 0, out);
    } catch (const std::bad_alloc&) {
        out.reset();
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

bool CRestriction::IsValid(const SRestriction* res)
{
    std::unique_ptr<CRestriction> compiled;
    HRESULT hr = Compile(res, compiled);
    return SUCCEEDED(hr) || hr == MAPI_E_TOO_COMPLEX;
}

HRESULT CRestriction::Build(const SRestriction* res, unsigned depth, std::unique_ptr<CRestriction>& out)
{
    if (!res)
        return MAPI_E_INVALID_PARAMETER;
    if (depth > kMaxDepth)
        return MAPI_E_TOO_COMPLEX;
    std::unique_ptr<CRestriction> node(new CRestriction());
    node->m_type = res->rt;
    auto copyValue = [&](const SPropValue* value) -> HRESULT {
        if (!value)
            return MAPI_E_INVALID_PARAMETER;
        ULONG size = 0;
        HRESULT hr = mapistub::CountProps(1, value, &size);
        if (FAILED(hr))
            return hr;
        node->m_valueBlock.reset(new ULONGLONG[size / 8 + 1]);
        hr = ScCopyProps(1, const_cast<LPSPropValue>(value), node->m_valueBlock.get(), nullptr);
        if (FAILED(hr))
            return hr;
        node->m_value = reinterpret_cast<const SPropValue*>(node->m_valueBlock.get());
        return S_OK;
    };
    auto addChildren = [&](ULONG count, const SRestriction* children) -> HRESULT {
        if (count > 0 && !children)
            return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < count; ++i) {
            std::unique_ptr<CRestriction> child;
            HRESULT hr = Build(&children[i], depth + 1, child);
            if (FAILED(hr))
                return hr;
            node->m_children.push_back(std::move(child));
        }
        return S_OK;
    };
    HRESULT hr = S_OK;
    switch (res->rt) {
    case RES_AND:
        hr = addChildren(res->res.resAnd.cRes, res->res.resAnd.lpRes);
        break;
    case RES_OR:
        hr = addChildren(res->res.resOr.cRes, res->res.resOr.lpRes);
        break;
    case RES_NOT:
        hr = res->res.resNot.lpRes ? addChildren(1, res->res.resNot.lpRes) : MAPI_E_INVALID_PARAMETER;
        break;
    case RES_CONTENT: {
        const SContentRestriction& r = res->res.resContent;
        if (!r.lpProp || !CContentMatcher::IsValidFuzzyLevel(r.ulFuzzyLevel))
            return MAPI_E_INVALID_PARAMETER;
        ULONG type = PROP_TYPE(r.lpProp->ulPropTag);
        if (type != PT_STRING8 && type != PT_UNICODE && type != PT_BINARY)
            return MAPI_E_TOO_COMPLEX;
        node->m_tag = r.ulPropTag;
        hr = copyValue(r.lpProp);
        if (SUCCEEDED(hr))
            node->m_matcher.reset(new CContentMatcher(*node->m_value, r.ulFuzzyLevel));
        break;
    }
    case RES_PROPERTY: {
        const SPropertyRestriction& r = res->res.resProperty;
        if (!r.lpProp)
            return MAPI_E_INVALID_PARAMETER;
        if (r.relop == RELOP_RE)
            return MAPI_E_TOO_COMPLEX;
        if (!IsRelop(r.relop))
            return MAPI_E_INVALID_PARAMETER;
        if (!mapistub::IsKnownType(PROP_TYPE(r.lpProp->ulPropTag)))
            return MAPI_E_INVALID_PARAMETER;
        if (!mapistub::IsComparableType(PROP_TYPE(r.lpProp->ulPropTag)))
            return MAPI_E_TOO_COMPLEX;
        node->m_relop = r.relop;
        node->m_tag = r.ulPropTag;
        hr = copyValue(r.lpProp);
        break;
    }
    case RES_COMPAREPROPS: {
        const SComparePropsRestriction& r = res->res.resCompareProps;
        if (r.relop == RELOP_RE)
            return MAPI_E_TOO_COMPLEX;
        if (!IsRelop(r.relop))
            return MAPI_E_INVALID_PARAMETER;
        node->m_relop = r.relop;
        node->m_tag = r.ulPropTag1;
        node->m_tag2 = r.ulPropTag2;
        break;
    }
    case RES_BITMASK: {
        const SBitMaskRestriction& r = res->res.resBitMask;
        if (r.relBMR != BMR_EQZ && r.relBMR != BMR_NEZ)
            return MAPI_E_INVALID_PARAMETER;
        node->m_relop = r.relBMR;
        node->m_tag = r.ulPropTag;
        node->m_mask = r.ulMask;
        break;
    }
    case RES_SIZE: {
        const SSizeRestriction& r = res->res.resSize;
        if (r.relop == RELOP_RE)
            return MAPI_E_TOO_COMPLEX;
        if (!IsRelop(r.relop))
            return MAPI_E_INVALID_PARAMETER;
        node->m_relop = r.relop;
        node->m_tag = r.ulPropTag;
        node->m_size = r.cb;
        break;
    }
    case RES_EXIST:
        node->m_tag = res->res.resExist.ulPropTag;
        break;
    case RES_SUBRESTRICTION:
        // Checked for shape only: a single table has no sub-objects.
        if (!res->res.resSub.lpRes)
            return MAPI_E_INVALID_PARAMETER;
        {
            std::unique_ptr<CRestriction> inner;
            hr = Build(res->res.resSub.lpRes, depth + 1, inner);
        }
        break;
    case RES_COMMENT:
        if (res->res.resComment.cValues > 0 && !res->res.resComment.lpProp)
            return MAPI_E_INVALID_PARAMETER;
        if (res->res.resComment.lpRes)
            hr = addChildren(1, res->res.resComment.lpRes);
        break;
    default:
        return MAPI_E_INVALID_PARAMETER;
    }
    if (FAILED(hr))
        return hr;
    out = std::move(node);
    return S_OK;
}

bool CRestriction::EvaluateProperty(const CTableRow& row) const
{
    const SPropValue* value = RowValue(row, m_tag);
    return value && TestValues(m_relop, *value, *m_value);
}

bool CRestriction::EvaluateCompareProps(const CTableRow& row) const
{
    const SPropValue* first = RowValue(row, m_tag);
    const SPropValue* second = RowValue(row, m_tag2);
    if (!first || !second)
        return false;
    if (mapistub::IsMultiValued(first->ulPropTag) || mapistub::IsMultiValued(second->ulPropTag)) {
        if (first->ulPropTag != second->ulPropTag && PROP_TYPE(first->ulPropTag) != PROP_TYPE(second->ulPropTag))
            return false;
        return ApplyRelop(m_relop, mapistub::CompareValues(*first, *second, mapistub::StringCompare::kExact));
    }
    bool comparable = false;
    int c = CompareSingle(*first, *second, &comparable);
    return comparable && ApplyRelop(m_relop, c);
}

bool CRestriction::EvaluateContent(const CTableRow& row) const
{
    const SPropValue* value = RowValue(row, m_tag);
    if (!value)
        return false;
    if (mapistub::IsMultiValued(value->ulPropTag)) {
        for (ULONG i = 0; i < value->Value.MVl.cValues; ++i)
            if (m_matcher->Matches(mapistub::Element(*value, i)))
                return true;
        return false;
    }
    return m_matcher->Matches(*value);
}

bool CRestriction::Evaluate(const CTableRow& row) const
{
    switch (m_type) {
    case RES_AND:
        for (const auto& child : m_children)
            if (!child->Evaluate(row))
                return false;
        return true;
    case RES_OR:
        for (const auto& child : m_children)
            if (child->Evaluate(row))
                return true;
        return false;
    case RES_NOT:
        return !m_children[0]->Evaluate(row);
    case RES_CONTENT:
        return EvaluateContent(row);
    case RES_PROPERTY:
        return EvaluateProperty(row);
    case RES_COMPAREPROPS:
        return EvaluateCompareProps(row);
    case RES_BITMASK: {
        const SPropValue* value = RowValue(row, m_tag);
        if (!value)
            return false;
        ULONG bits = 0;
        switch (PROP_TYPE(value->ulPropTag)) {
        case PT_LONG: bits = value->Value.ul; break;
        case PT_I2:
        case PT_BOOLEAN: bits = static_cast<unsigned short>(value->Value.i); break;
        default: return false;
        }
        bool zero = (bits & m_mask) == 0;
        return m_relop == BMR_EQZ ? zero : !zero;
    }
    case RES_SIZE: {
        const SPropValue* value = RowValue(row, m_tag);
        if (!value)
            return false;
        ULONG size = UlPropSize(const_cast<LPSPropValue>(value));
        return ApplyRelop(m_relop, size < m_size ? -1 : (size > m_size ? 1 : 0));
    }
    case RES_EXIST:
        return RowValue(row, m_tag) != nullptr;
    case RES_SUBRESTRICTION:
        return false;
    case RES_COMMENT:
        return m_children.empty() || m_children[0]->Evaluate(row);
    default:
        return false;
    }
}
