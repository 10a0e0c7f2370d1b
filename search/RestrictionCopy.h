// Deep copies of MAPI restrictions and property values in MAPI memory, and
// the translation that the search engine evaluates on its flat working
// table: every recipient subrestriction becomes a test of a synthetic boolean
// column that the engine computes per message.
//
// Every block of a copy comes from the provider's allocators (the routines
// MAPI handed the provider at its start, ProviderMemory.h), chained on the
// caller's parent, so one free of the parent frees the whole copy; the
// caller's root block must come from the same allocator. The copies a
// SubRestrictionMap holds are roots of their own (FreeSubRestrictionMap).
//
// On failure the first failing result is returned (a later success never
// hides it) and the copy stays safe to free: whatever could not be filled is
// null or zero. A caller should not evaluate an incomplete copy.
#pragma once
#include "SearchPlatform.h"

#include <map>
#include <set>

// The synthetic boolean column of the first subrestriction met; the n-th
// (from 0, depth first, children in array order) is ((0x7C00 + n) << 16) | PT_BOOLEAN.
constexpr ULONG PR_SEARCH_SUBRESTRICTION_BASE = 0x7C00000B;
// Identifiers 0x7C00-0x7FFF: the next one would fall into the named-property
// range and could collide with a real column of the working table.
constexpr ULONG kMaxSubRestrictions = 0x400;

// Property tags a restriction tests, ordered as signed 32-bit numbers.
using SearchTagSet = std::set<LONG>;
// Synthetic tag -> a separately allocated copy of the RES_SUBRESTRICTION node.
using SubRestrictionMap = std::map<ULONG, LPSRestriction>;

// Copies src into dst (which the caller allocated), every further block on
// parent. When tags is given, the tags the restriction tests are inserted.
// MAPI_E_INVALID_PARAMETER for a null dst/src/parent or an array pointer that
// is null while its count is not; a null inner restriction or value is
// copied as null.
HRESULT CopyRestriction(SRestriction* dst, const SRestriction* src, void* parent, SearchTagSet* tags);

// As CopyRestriction, but with a map every RES_SUBRESTRICTION (at any depth
// under RES_AND, RES_OR, RES_NOT and RES_COMMENT) is copied into the map under
// the next synthetic tag, and replaced in dst by RES_PROPERTY RELOP_EQ
// {tag, TRUE}; the synthetic tag goes into the tag set, the tags inside the
// subrestriction do not. MAPI_E_TOO_COMPLEX when the map is full
// (kMaxSubRestrictions). Without a map it is CopyRestriction.
HRESULT TranslateRestriction(SRestriction* dst, const SRestriction* src, void* parent, SearchTagSet* tags,
                             SubRestrictionMap* map);

// Copies one property value; strings, binaries, GUIDs and multi-valued
// arrays get blocks of their own on parent. PT_OBJECT and types without a
// defined value get a zero value. S_OK when no allocation was needed.
HRESULT CopyPropValue(SPropValue* dst, const SPropValue* src, void* parent);

// Frees every copy the map holds and empties it.
void FreeSubRestrictionMap(SubRestrictionMap& map);
