#include "ProviderPlatform.h"
#include "CRootFolder.h"
#include "CIpmSubtreeFolder.h"
#include "CStoreShared.h"
#include "CTable.h"
#include "EntryOpening.h"
#include "MapiPtr.h"
#include "PropAnswers.h"
#include "ServerInterfaces.h"

#include <cstring>
#include <new>

namespace {

constexpr ULONG kPrOwnEntryId = 0x66720102;
constexpr ULONG kPrIpmTaskEntryId = 0x36D40102;
// The display type the root's and subtree's rows and the subtree itself give.
constexpr LONG kSubtreeDisplayType = 6;

const ULONG kRootPropList[] = {PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER,  PR_ENTRYID,   PR_PARENT_ENTRYID,
                               PR_STORE_ENTRYID,      PR_DISPLAY_NAME_W, PR_ACCESS,    PR_ACCESS_LEVEL,
                               PR_FOLDER_TYPE,        PR_STORE_RECORD_KEY, PR_MAPPING_SIGNATURE};

// The root is its own parent, and its mapping signature is the store UID
// whatever the store's version.
const SPropHandler<CRootFolder> kRootProps[] = {
    {PR_STORE_SUPPORT_MASK, &FixedLong<CRootFolder, kStoreSupportMask>},
    {PR_MDB_PROVIDER, &ProviderUidValue<CRootFolder>},
    {PR_ENTRYID, &OwnIdValue<CRootFolder>},
    {PR_PARENT_ENTRYID, &OwnIdValue<CRootFolder>},
    {kPrOwnEntryId, &OwnIdValue<CRootFolder>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<CRootFolder>},
    {PR_MAPPING_SIGNATURE, &StoreUidValue<CRootFolder>},
    {PR_STORE_RECORD_KEY, &StoreUidValue<CRootFolder>},
    {PR_DISPLAY_NAME_W, [](const CRootFolder&, SPropValue& v, LPVOID p) { return FillString(v, p, L"ROOT"); }},
    {PR_ACCESS, &FixedLong<CRootFolder, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<CRootFolder, 0>},
    {PR_FOLDER_TYPE, &FixedLong<CRootFolder, FOLDER_ROOT>},
    {PR_NULL, &FixedLong<CRootFolder, 0>},
    {kPrIpmTaskEntryId,
     [](const CRootFolder& f, SPropValue& v, LPVOID p) {
         return FillEntryId(CEntryId(kEntryIpmSubtree, f.OwnId().storeUid), v, p);
     }},
};

SizedSPropTagArray(6, kRootHierarchyColumns) = {
    6, {PR_RECORD_KEY, PR_ENTRYID, PR_OBJECT_TYPE, PR_DISPLAY_NAME_W, PR_FOLDER_TYPE, PR_DISPLAY_TYPE}};

} // namespace

HRESULT CRootFolder::Create(DWORD storeCookie, const CEntryId& rootId, const CEntryId& storeId, IMAPIFolder** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CRootFolder* folder = new (std::nothrow) CRootFolder(storeCookie, rootId, storeId);
    if (!folder)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = folder;
    return S_OK;
}

CRootFolder::CRootFolder(DWORD storeCookie, const CEntryId& rootId, const CEntryId& storeId)
    : CFolder(CServerCookie(), rootId, nullptr, storeId), m_storeCookie(storeCookie)
{
}

CRootFolder::~CRootFolder() = default;

STDMETHODIMP CRootFolder::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                   LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CRootFolder::GetProps", [&]() -> HRESULT {
        return ServeGetProps(*this, kRootProps, lpPropTagArray, lpcValues, lppPropArray, &NotFoundValues);
    });
}

STDMETHODIMP CRootFolder::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CRootFolder::GetPropList",
                 [&]() -> HRESULT { return HandOutPropList(kRootPropList, lppPropTagArray); });
}

STDMETHODIMP CRootFolder::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray* lppPropTags)
{
    m_lastError.SetText(nullptr);
    if (lppPropTags)
        *lppPropTags = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CRootFolder::GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard("CRootFolder::GetHierarchyTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        ComPtr<ITableData> data;
        HRESULT hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_RECORD_KEY,
                                         reinterpret_cast<const SPropTagArray*>(&kRootHierarchyColumns), data);
        if (FAILED(hr))
            return hr;
        const CEntryId ipm(kEntryIpmSubtree, OwnId().storeUid);
        SPropValue values[6] = {};
        values[0].ulPropTag = PR_RECORD_KEY;
        values[0].Value.bin.cb = sizeof(ipm);
        values[0].Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<CEntryId*>(&ipm));
        values[1].ulPropTag = PR_ENTRYID;
        values[1].Value.bin = values[0].Value.bin;
        values[2].ulPropTag = PR_OBJECT_TYPE;
        values[2].Value.l = MAPI_FOLDER;
        values[3].ulPropTag = PR_DISPLAY_NAME_W;
        values[3].Value.lpszW = const_cast<LPWSTR>(L"IPM");
        values[4].ulPropTag = PR_FOLDER_TYPE;
        values[4].Value.l = FOLDER_GENERIC;
        values[5].ulPropTag = PR_DISPLAY_TYPE;
        values[5].Value.l = kSubtreeDisplayType;
        SRow row = {0, 6, values};
        hr = data->HrInsertRow(0, &row);
        if (FAILED(hr))
            return hr;
        return HandOutView(data.Get(), 0, lppTable);
    });
}

STDMETHODIMP CRootFolder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                    ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    (void)lpInterface;
    return Guard("CRootFolder::OpenEntry", [&]() -> HRESULT {
        CEntryId id;
        HRESULT hr = DecodeFolderEntry(cbEntryID, lpEntryID, ulFlags, lpulObjType, lppUnk, id);
        if (FAILED(hr))
            return hr;
        switch (id.kind) {
        case kEntryRootFolder:
            AddRef();
            *lpulObjType = MAPI_FOLDER;
            *lppUnk = static_cast<IMAPIFolder*>(this);
            return S_OK;
        case kEntryIpmSubtree: {
            IMAPIFolder* folder = nullptr;
            hr = CIpmSubtreeFolder::Create(m_storeCookie, CEntryId(kEntryIpmSubtree, id.storeUid), OwnId(),
                                           StoreId(), &folder);
            if (FAILED(hr))
                return hr;
            *lpulObjType = MAPI_FOLDER;
            *lppUnk = folder;
            return S_OK;
        }
        case kEntryMailboxTop:
        case kEntryFolder:
        case kEntryMessage:
            return OpenStoreEntry(m_storeCookie, id, OwnId(), CEntryId(kEntryIpmSubtree, OwnId().storeUid), StoreId(),
                                  lpulObjType, lppUnk);
        default:
            return MAPI_E_INVALID_ENTRYID;
        }
    });
}
