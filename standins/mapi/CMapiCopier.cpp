#include "MapiStandin.h"
#include "CMapiCopier.h"

HRESULT CMapiCopier::CopyTo(LPCIID, void*, ULONG, LPCIID, const SPropTagArray*, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                            LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMapiCopier::CopyProps(LPCIID, void*, const SPropTagArray*, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                               LPSPropProblemArray* problems)
{
    if (problems)
        *problems = nullptr;
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMapiCopier::CopyMessages(LPCIID, void*, const ENTRYLIST*, LPCIID, void*, LPMAPIPROGRESS, ULONG)
{
    return MAPI_E_NO_SUPPORT;
}
HRESULT CMapiCopier::CopyFolder(LPCIID, void*, ULONG, LPENTRYID, LPCIID, void*, const std::wstring&, LPMAPIPROGRESS,
                                ULONG)
{
    return MAPI_E_NO_SUPPORT;
}
