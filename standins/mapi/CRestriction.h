#pragma once
// A restriction prepared for evaluation against table rows: validated once
// (unknown types, null pointers, unsupported operators are refused with a
// MAPI error instead of being met row by row), with its values copied so the
// caller's tree may go away, and content patterns normalised once.
//
// How values are matched:
// - a property the row lacks, or holds as PT_ERROR, never satisfies a
//   property, content, bitmask, size or compare-props test;
// - a multi-valued row property tested against a single value satisfies the
//   test when any of its values does; against a multi-valued value the
//   arrays are compared as wholes;
// - strings compare as FPropCompareProp compares them: locale order with
//   case counting (so an equality test on a name is exact); 8-bit and
//   Unicode strings compare with each other. Case-insensitive matching is
//   what RES_CONTENT with FL_IGNORECASE is for;
// - RES_SUBRESTRICTION has no sub-objects to look at in a single table and
//   never holds; RES_COMMENT holds when its inner restriction does (or has
//   none).
#include "MapiStandin.h"

#include <memory>
#include <vector>

class CContentMatcher;
class CTableRow;

class CRestriction {
public:
    // Prepares res; S_OK, MAPI_E_INVALID_PARAMETER for a malformed tree or
    // MAPI_E_TOO_COMPLEX for what no in-memory table can evaluate.
    static HRESULT Compile(const SRestriction* res, std::unique_ptr<CRestriction>& out);

    // Quick validity test, as FBadRestriction needs it.
    static bool IsValid(const SRestriction* res);

    bool Evaluate(const CTableRow& row) const;

    ~CRestriction();

private:
    CRestriction() = default;
    static HRESULT Build(const SRestriction* res, unsigned depth, std::unique_ptr<CRestriction>& out);
    bool EvaluateProperty(const CTableRow& row) const;
    bool EvaluateCompareProps(const CTableRow& row) const;
    bool EvaluateContent(const CTableRow& row) const;

    ULONG m_type = 0;
    ULONG m_relop = 0;
    ULONG m_tag = 0;
    ULONG m_tag2 = 0;
    ULONG m_mask = 0;
    ULONG m_size = 0;
    std::vector<std::unique_ptr<CRestriction>> m_children;
    std::unique_ptr<ULONGLONG[]> m_valueBlock; // owns the copied value
    const SPropValue* m_value = nullptr;
    std::unique_ptr<CContentMatcher> m_matcher;
};
