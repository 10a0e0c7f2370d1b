// CreateTable and the validation helpers that take table structures.
#include "MapiStandin.h"
#include "CRestriction.h"
#include "CSortKey.h"
#include "CTableData.h"
#include "PropValue.h"

STDAPI_(SCODE) CreateTable(LPCIID lpInterface, ALLOCATEBUFFER* lpAllocateBuffer, ALLOCATEMORE* lpAllocateMore,
                           FREEBUFFER* lpFreeBuffer, LPVOID lpvReserved, ULONG ulTableType, ULONG ulPropTagIndexColumn,
                           LPSPropTagArray lpSPropTagArrayColumns, LPTABLEDATA* lppTableData)
{
    if (!lppTableData)
        return MAPI_E_INVALID_PARAMETER;
    *lppTableData = nullptr;
    if (!lpAllocateBuffer || !lpAllocateMore || !lpFreeBuffer || !lpSPropTagArrayColumns)
        return MAPI_E_INVALID_PARAMETER;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IMAPITableData))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (ulTableType != TBLTYPE_SNAPSHOT && ulTableType != TBLTYPE_KEYSET && ulTableType != TBLTYPE_DYNAMIC)
        return MAPI_E_INVALID_PARAMETER;
    if (!mapistub::IsKnownType(PROP_TYPE(ulPropTagIndexColumn)) || mapistub::IsMultiValued(ulPropTagIndexColumn))
        return MAPI_E_INVALID_PARAMETER;
    mapistub::Allocators allocators;
    allocators.allocateBuffer = lpAllocateBuffer;
    allocators.allocateMore = lpAllocateMore;
    allocators.freeBuffer = lpFreeBuffer;
    return CTableData::Create(allocators, ulTableType, ulPropTagIndexColumn, lpSPropTagArrayColumns, lppTableData);
}

STDAPI_(ULONG) FBadRestriction(LPSRestriction lpres)
{
    return CRestriction::IsValid(lpres) ? FALSE : TRUE;
}

STDAPI_(ULONG) FBadPropTag(ULONG ulPropTag)
{
    return mapistub::IsKnownTagType(PROP_TYPE(ulPropTag)) ? FALSE : TRUE;
}

STDAPI_(ULONG) FBadProp(LPSPropValue lpprop)
{
    if (!lpprop || FBadPropTag(lpprop->ulPropTag))
        return TRUE;
    ULONG size = 0;
    return FAILED(ScCountProps(1, lpprop, &size)) ? TRUE : FALSE;
}

STDAPI_(ULONG) FBadRow(LPSRow lprow)
{
    if (!lprow || (lprow->cValues > 0 && !lprow->lpProps))
        return TRUE;
    for (ULONG i = 0; i < lprow->cValues; ++i)
        if (FBadProp(&lprow->lpProps[i]))
            return TRUE;
    return FALSE;
}

STDAPI_(WINBOOL) FBadRowSet(LPSRowSet lprowset)
{
    if (!lprowset)
        return TRUE;
    for (ULONG i = 0; i < lprowset->cRows; ++i)
        if (FBadRow(&lprowset->aRow[i]))
            return TRUE;
    return FALSE;
}

STDAPI_(ULONG) FBadColumnSet(LPSPropTagArray lpptaCols)
{
    if (!lpptaCols)
        return TRUE;
    for (ULONG i = 0; i < lpptaCols->cValues; ++i)
        if (PROP_TYPE(lpptaCols->aulPropTag[i]) == PT_ERROR || FBadPropTag(lpptaCols->aulPropTag[i]))
            return TRUE;
    return FALSE;
}

STDAPI_(ULONG) FBadSortOrderSet(LPSSortOrderSet lpsos)
{
    HRESULT hr = CSortKey::Validate(lpsos);
    return SUCCEEDED(hr) || hr == MAPI_E_TOO_COMPLEX ? FALSE : TRUE;
}
