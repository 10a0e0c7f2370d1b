// The property utility functions of MAPI: copies, sizes, look-ups, single
// property get/set, row-set freeing and comparisons.
#include "MapiStandin.h"
#include "CContentMatcher.h"
#include "PropValue.h"

#include <cstring>

using mapistub::CopyValue;
using mapistub::ExtraSize;
using mapistub::IsKnownType;

STDAPI_(SCODE) PropCopyMore(LPSPropValue lpSPropValueDest, LPSPropValue lpSPropValueSrc,
                            ALLOCATEMORE* lpfAllocMore, LPVOID lpvObject)
{
    if (!lpSPropValueDest || !lpSPropValueSrc || !lpfAllocMore)
        return MAPI_E_INVALID_PARAMETER;
    if (!IsKnownType(PROP_TYPE(lpSPropValueSrc->ulPropTag)))
        return MAPI_E_INVALID_PARAMETER;
    SCODE allocResult = S_OK;
    SCODE sc = CopyValue(*lpSPropValueDest, *lpSPropValueSrc, [&](ULONG cb) -> void* {
        void* block = nullptr;
        allocResult = lpfAllocMore(cb, lpvObject, &block);
        return FAILED(allocResult) ? nullptr : block;
    });
    return FAILED(allocResult) ? allocResult : sc;
}

STDAPI_(ULONG) UlPropSize(LPSPropValue lpSPropValue)
{
    if (!lpSPropValue)
        return 0;
    const SPropValue& v = *lpSPropValue;
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_I2: return sizeof(short);
    case PT_BOOLEAN: return sizeof(unsigned short);
    case PT_LONG: return sizeof(LONG);
    case PT_R4: return sizeof(float);
    case PT_ERROR: return sizeof(SCODE);
    case PT_DOUBLE:
    case PT_APPTIME: return sizeof(double);
    case PT_CURRENCY: return sizeof(CURRENCY);
    case PT_I8: return sizeof(LARGE_INTEGER);
    case PT_SYSTIME: return sizeof(FILETIME);
    case PT_CLSID: return sizeof(GUID);
    case PT_STRING8: return v.Value.lpszA ? static_cast<ULONG>(std::strlen(v.Value.lpszA) + 1) : 0;
    case PT_UNICODE: return v.Value.lpszW ? static_cast<ULONG>((wcslen(v.Value.lpszW) + 1) * sizeof(WCHAR)) : 0;
    case PT_BINARY:
    case 0x00FB: return v.Value.bin.cb;
    case PT_MV_I2: return v.Value.MVi.cValues * sizeof(short);
    case PT_MV_LONG: return v.Value.MVl.cValues * sizeof(LONG);
    case PT_MV_R4: return v.Value.MVflt.cValues * sizeof(float);
    case PT_MV_DOUBLE:
    case PT_MV_APPTIME:
    case PT_MV_CURRENCY:
    case PT_MV_SYSTIME:
    case PT_MV_I8: return v.Value.MVdbl.cValues * 8;
    case PT_MV_CLSID: return v.Value.MVguid.cValues * sizeof(GUID);
    case PT_MV_BINARY: {
        ULONG total = 0;
        for (ULONG i = 0; v.Value.MVbin.lpbin && i < v.Value.MVbin.cValues; ++i)
            total += v.Value.MVbin.lpbin[i].cb;
        return total;
    }
    case PT_MV_STRING8: {
        ULONG total = 0;
        for (ULONG i = 0; v.Value.MVszA.lppszA && i < v.Value.MVszA.cValues; ++i)
            if (v.Value.MVszA.lppszA[i])
                total += static_cast<ULONG>(std::strlen(v.Value.MVszA.lppszA[i]) + 1);
        return total;
    }
    case PT_MV_UNICODE: {
        ULONG total = 0;
        for (ULONG i = 0; v.Value.MVszW.lppszW && i < v.Value.MVszW.cValues; ++i)
            if (v.Value.MVszW.lppszW[i])
                total += static_cast<ULONG>((wcslen(v.Value.MVszW.lppszW[i]) + 1) * sizeof(WCHAR));
        return total;
    }
    default:
        return 0;
    }
}

SCODE mapistub::CountProps(int cValues, const SPropValue* values, ULONG* cb)
{
    if (cValues < 0 || (cValues > 0 && !values))
        return MAPI_E_INVALID_PARAMETER;
    ULONG total = RoundUp8(static_cast<ULONG>(cValues) * sizeof(SPropValue));
    for (int i = 0; i < cValues; ++i) {
        if (!IsKnownType(PROP_TYPE(values[i].ulPropTag)))
            return MAPI_E_INVALID_PARAMETER;
        total += ExtraSize(values[i]);
    }
    if (cb)
        *cb = total;
    return S_OK;
}

// As MAPI counts: beside a type no value carries (MV_INSTANCE among them),
// a value with the identifier PROP_ID_NULL or PROP_ID_INVALID, or a
// multi-valued one without values, makes the whole array invalid.
STDAPI_(SCODE) ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG* lpcb)
{
    for (int i = 0; i < cValues && lpPropArray; ++i) {
        const SPropValue& value = lpPropArray[i];
        if (PROP_ID(value.ulPropTag) == PROP_ID_NULL || PROP_ID(value.ulPropTag) == PROP_ID_INVALID)
            return MAPI_E_INVALID_PARAMETER;
        if (mapistub::IsMultiValued(value.ulPropTag) && value.Value.MVl.cValues == 0)
            return MAPI_E_INVALID_PARAMETER;
    }
    return mapistub::CountProps(cValues, lpPropArray, lpcb);
}

STDAPI_(SCODE) ScCopyProps(int cValues, LPSPropValue lpPropArray, LPVOID lpvDst, ULONG* lpcb)
{
    if (cValues < 0 || (cValues > 0 && !lpPropArray) || !lpvDst)
        return MAPI_E_INVALID_PARAMETER;
    BYTE* base = static_cast<BYTE*>(lpvDst);
    auto* dst = reinterpret_cast<LPSPropValue>(base);
    BYTE* next = base + mapistub::RoundUp8(static_cast<ULONG>(cValues) * sizeof(SPropValue));
    for (int i = 0; i < cValues; ++i) {
        if (!IsKnownType(PROP_TYPE(lpPropArray[i].ulPropTag)))
            return MAPI_E_INVALID_PARAMETER;
        SCODE sc = CopyValue(dst[i], lpPropArray[i], [&](ULONG cb) -> void* {
            void* block = next;
            next += mapistub::RoundUp8(cb);
            return block;
        });
        if (FAILED(sc))
            return sc;
    }
    if (lpcb)
        *lpcb = static_cast<ULONG>(next - base);
    return S_OK;
}

STDAPI_(SCODE) ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                            LPSPropValue* lppPropArray)
{
    if (!lppPropArray || !lpAllocateBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppPropArray = nullptr;
    ULONG cb = 0;
    SCODE sc = ScCountProps(cValues, lpPropArray, &cb);
    if (FAILED(sc))
        return sc;
    LPVOID block = nullptr;
    sc = lpAllocateBuffer(cb, &block);
    if (FAILED(sc))
        return sc;
    sc = ScCopyProps(cValues, lpPropArray, block, nullptr);
    if (FAILED(sc)) {
        MAPIFreeBuffer(block);
        return sc;
    }
    *lppPropArray = static_cast<LPSPropValue>(block);
    return S_OK;
}

STDAPI_(LPSPropValue) LpValFindProp(ULONG ulPropTag, ULONG cValues, LPSPropValue lpPropArray)
{
    if (!lpPropArray)
        return nullptr;
    for (ULONG i = 0; i < cValues; ++i)
        if (PROP_ID(lpPropArray[i].ulPropTag) == PROP_ID(ulPropTag))
            return &lpPropArray[i];
    return nullptr;
}

STDAPI_(LPSPropValue) PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag)
{
    if (!lpPropArray)
        return nullptr;
    bool anyType = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < cValues; ++i) {
        ULONG tag = lpPropArray[i].ulPropTag;
        if (tag == ulPropTag || (anyType && PROP_ID(tag) == PROP_ID(ulPropTag)))
            return &lpPropArray[i];
    }
    return nullptr;
}

STDAPI HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp)
{
    if (!lpMapiProp || !lppProp)
        return MAPI_E_INVALID_PARAMETER;
    *lppProp = nullptr;
    SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr))
        return hr;
    if (!values || count != 1) {
        MAPIFreeBuffer(values);
        return MAPI_E_NOT_FOUND;
    }
    if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
        hr = values->Value.err;
        MAPIFreeBuffer(values);
        return FAILED(hr) ? hr : MAPI_E_NOT_FOUND;
    }
    *lppProp = values;
    return S_OK;
}

STDAPI HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp)
{
    if (!lpMapiProp || !lpProp)
        return MAPI_E_INVALID_PARAMETER;
    LPSPropProblemArray problems = nullptr;
    HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
    if (SUCCEEDED(hr) && problems && problems->cProblem > 0)
        hr = problems->aProblem[0].scode;
    MAPIFreeBuffer(problems);
    return hr;
}

STDAPI_(WINBOOL) FPropExists(LPMAPIPROP lpMapiProp, ULONG ulPropTag)
{
    LPSPropValue value = nullptr;
    if (FAILED(HrGetOneProp(lpMapiProp, ulPropTag, &value)))
        return FALSE;
    MAPIFreeBuffer(value);
    return TRUE;
}

STDAPI_(void) FreeProws(LPSRowSet lpRows)
{
    if (!lpRows)
        return;
    for (ULONG i = 0; i < lpRows->cRows; ++i)
        MAPIFreeBuffer(lpRows->aRow[i].lpProps);
    MAPIFreeBuffer(lpRows);
}

STDAPI_(void) FreePadrlist(LPADRLIST lpAdrlist)
{
    if (!lpAdrlist)
        return;
    for (ULONG i = 0; i < lpAdrlist->cEntries; ++i)
        MAPIFreeBuffer(lpAdrlist->aEntries[i].rgPropVals);
    MAPIFreeBuffer(lpAdrlist);
}

STDAPI HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags, LPSRestriction lpRestriction,
                      LPSSortOrderSet lpSortOrderSet, LONG crowsMax, LPSRowSet* lppRows)
{
    if (!lpTable || !lppRows)
        return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    HRESULT hr = S_OK;
    if (lpPropTags && FAILED(hr = lpTable->SetColumns(lpPropTags, TBL_BATCH)))
        return hr;
    if (lpRestriction && FAILED(hr = lpTable->Restrict(lpRestriction, TBL_BATCH)))
        return hr;
    if (lpSortOrderSet && FAILED(hr = lpTable->SortTable(lpSortOrderSet, TBL_BATCH)))
        return hr;
    if (FAILED(hr = lpTable->SeekRow(BOOKMARK_BEGINNING, 0, nullptr)))
        return hr;
    ULONG count = 0;
    if (FAILED(hr = lpTable->GetRowCount(0, &count)))
        return hr;
    if (crowsMax > 0 && count > static_cast<ULONG>(crowsMax))
        return MAPI_E_TABLE_TOO_BIG;
    LONG wanted = count > 0 ? static_cast<LONG>(count) : 1;
    return lpTable->QueryRows(wanted, 0, lppRows);
}

STDAPI_(LONG) LPropCompareProp(LPSPropValue lpSPropValueA, LPSPropValue lpSPropValueB)
{
    if (!lpSPropValueA || !lpSPropValueB)
        return lpSPropValueA == lpSPropValueB ? 0 : (lpSPropValueA ? 1 : -1);
    return mapistub::CompareValues(*lpSPropValueA, *lpSPropValueB, mapistub::StringCompare::kExact);
}

STDAPI_(WINBOOL) FPropCompareProp(LPSPropValue lpSPropValue1, ULONG ulRelOp, LPSPropValue lpSPropValue2)
{
    if (!lpSPropValue1 || !lpSPropValue2)
        return FALSE;
    if (PROP_TYPE(lpSPropValue1->ulPropTag) != PROP_TYPE(lpSPropValue2->ulPropTag))
        return FALSE;
    int c = mapistub::CompareValues(*lpSPropValue1, *lpSPropValue2, mapistub::StringCompare::kExact);
    switch (ulRelOp) {
    case RELOP_LT: return c < 0;
    case RELOP_LE: return c <= 0;
    case RELOP_GT: return c > 0;
    case RELOP_GE: return c >= 0;
    case RELOP_EQ: return c == 0;
    case RELOP_NE: return c != 0;
    default: return FALSE;
    }
}

STDAPI_(WINBOOL) FPropContainsProp(LPSPropValue lpSPropValueDst, LPSPropValue lpSPropValueSrc, ULONG ulFuzzyLevel)
{
    if (!lpSPropValueDst || !lpSPropValueSrc)
        return FALSE;
    ULONG typeDst = PROP_TYPE(lpSPropValueDst->ulPropTag);
    ULONG typeSrc = PROP_TYPE(lpSPropValueSrc->ulPropTag);
    if (typeDst != typeSrc || !CContentMatcher::IsValidFuzzyLevel(ulFuzzyLevel))
        return FALSE;
    return CContentMatcher(*lpSPropValueSrc, ulFuzzyLevel).Matches(*lpSPropValueDst);
}

STDAPI_(WINBOOL) FEqualNames(LPMAPINAMEID lpName1, LPMAPINAMEID lpName2)
{
    if (!lpName1 || !lpName2 || !lpName1->lpguid || !lpName2->lpguid)
        return FALSE;
    if (!IsEqualGUID(*lpName1->lpguid, *lpName2->lpguid) || lpName1->ulKind != lpName2->ulKind)
        return FALSE;
    if (lpName1->ulKind == MNID_STRING) {
        if (!lpName1->Kind.lpwstrName || !lpName2->Kind.lpwstrName)
            return FALSE;
        return wcscmp(lpName1->Kind.lpwstrName, lpName2->Kind.lpwstrName) == 0;
    }
    return lpName1->Kind.lID == lpName2->Kind.lID;
}

STDAPI_(ULONG) UlAddRef(LPVOID lpunk)
{
    return lpunk ? static_cast<IUnknown*>(lpunk)->AddRef() : 0;
}

STDAPI_(ULONG) UlRelease(LPVOID lpunk)
{
    return lpunk ? static_cast<IUnknown*>(lpunk)->Release() : 0;
}

STDAPI_(SCODE) ScInitMapiUtil(ULONG ulFlags)
{
    return S_OK;
}

STDAPI_(VOID) DeinitMapiUtil(VOID)
{
}
