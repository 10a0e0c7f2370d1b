#include "ProviderPlatform.h"
#include "CFolder.h"
#include "CContentsTable.h"
#include "ComErrorRaise.h"
#include "CopyFaultGuard.h"
#include "CStoreShared.h"
#include "EntryOpening.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "HierarchyRows.h"
#include "MapiPtr.h"
#include "PropAnswers.h"
#include "ProviderLog.h"
#include "ProviderMemory.h"
#include "ServerObjectNames.h"
#include "ServerResults.h"
#include "Vostrel2007.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr ULONG kPrOwnEntryId = 0x66720102;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMailboxRootFid = 0x67640014;
constexpr ULONG kPrExtendedFolderFlags = 0x36DA0102;
constexpr HRESULT kNoSuchTable = 0x80070002;
constexpr ULONG kAllRows = 0x7FFFFFFF;

SizedSPropTagArray(1, kInstanceKeyOnly) = {1, {PR_INSTANCE_KEY}};

const ULONG kFixedPropList[] = {0x340D0003, 0x34140102, 0x0FF90102, 0x0FFF0102, 0x66720102, 0x0FFB0102, 0x0FF80102,
                                0x0FFA0102, 0x0E090102, 0x0FF40003, 0x0FF70003, 0x39000003, 0x0FFE0003, 0x36010003};

const SPropHandler<CFolder> kFolderProps[] = {
    {PR_OBJECT_TYPE, &FixedLong<CFolder, MAPI_FOLDER>},
    {PR_ENTRYID, &OwnIdValue<CFolder>},
    {PR_RECORD_KEY, &OwnIdValue<CFolder>},
    {kPrOwnEntryId, &OwnIdValue<CFolder>},
    {PR_PARENT_ENTRYID, &ParentIdValue<CFolder>},
    {PR_STORE_ENTRYID, &WrappedStoreIdValue<CFolder>},
    {PR_STORE_RECORD_KEY, &StoreUidValue<CFolder>},
    {PR_MAPPING_SIGNATURE, &MappingSignatureValue<CFolder>},
    {PR_MDB_PROVIDER, &ProviderUidValue<CFolder>},
    {PR_STORE_SUPPORT_MASK, &FixedLong<CFolder, kStoreSupportMask>},
    {PR_ACCESS, &FixedLong<CFolder, MAPI_ACCESS_READ>},
    {PR_ACCESS_LEVEL, &FixedLong<CFolder, 0>},
    {PR_FOLDER_TYPE, &FixedLong<CFolder, FOLDER_GENERIC>},
    {PR_DISPLAY_TYPE, &FixedLong<CFolder, DT_FOLDER>},
    {PR_CONTAINER_HIERARCHY, &FixedLong<CFolder, 0>},
    {PR_CONTAINER_CONTENTS, &FixedLong<CFolder, 0>},
    {PR_NULL, &FixedLong<CFolder, 0>},
};

// A server value of a folder: a null value, and an error value that is not
// the server's own "no such property", are not found.
HRESULT FolderValue(SPropValue& value, ULONG tag, const _SEsePropertyValue* server, LPVOID parent)
{
    if (!server || PROP_TYPE(server->m_tag) == PT_NULL ||
        (PROP_TYPE(server->m_tag) == PT_ERROR && server->m_type != ESE_PT_ERROR)) {
        SetErrorValue(value, tag, MAPI_E_NOT_FOUND);
        return S_OK;
    }
    const HRESULT hr = ConvertEseValue(&value, server, parent);
    return hr == MAPI_E_NOT_ENOUGH_MEMORY ? hr : S_OK;
}

} // namespace

HRESULT CFolder::Create(CServerCookie folderCookie, const CEntryId& ownId, const CEntryId* parentId,
                        const CEntryId& storeId, IMAPIFolder** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    CFolder* folder = new (std::nothrow) CFolder(std::move(folderCookie), ownId, parentId, storeId);
    if (!folder)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    *out = folder;
    return S_OK;
}

CFolder::CFolder(CServerCookie folderCookie, const CEntryId& ownId, const CEntryId* parentId, const CEntryId& storeId)
    : m_ownId(ownId), m_storeId(storeId), m_creationTick(GetTickCount()), m_folderCookie(std::move(folderCookie))
{
    if (parentId)
        m_parentId = *parentId;
    else
        std::memset(static_cast<void*>(&m_parentId), 0, sizeof(m_parentId));
}

// The server folder's cookie goes with the folder (CServerCookie), after the
// tables over its data.
CFolder::~CFolder() = default;

ComPtr<IEseFolder> CFolder::ServerFolder() const
{
    return FetchServer<IEseFolder>(m_folderCookie.Get());
}

STDMETHODIMP CFolder::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                               LPSPropValue* lppPropArray)
{
    (void)ulFlags;
    return Guard("CFolder::GetProps", [&]() -> HRESULT {
        return ServeGetProps(*this, kFolderProps, lpPropTagArray, lpcValues, lppPropArray,
                             [&](const std::vector<ULONG>& positions, SPropValue* values) {
                                 return AnswerFromServerObject(ServerFolder().Get(), IID_IEseFolder, *lpPropTagArray,
                                                               positions, values, &FolderValue);
                             });
    });
}

STDMETHODIMP CFolder::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    (void)ulFlags;
    return Guard("CFolder::GetPropList", [&]() -> HRESULT {
        if (!lppPropTagArray)
            return E_INVALIDARG;
        *lppPropTagArray = nullptr;
        ComPtr<IEseFolder> folder = ServerFolder();
        CServerTags server;
        HRESULT hr = folder->GetPropertyTags(&server.count, &server.tags);
        if (FAILED(hr))
            RaiseComError(hr, folder.Get(), IID_IEseFolder);
        std::vector<ULONG> tags(std::begin(kFixedPropList), std::end(kFixedPropList));
        if (server.tags)
            tags.insert(tags.end(), server.tags, server.tags + server.count);
        return HandOutPropList(tags.data(), tags.size(), lppPropTagArray);
    });
}

STDMETHODIMP CFolder::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    m_lastError.SetText(nullptr);
    if (lppUnk)
        *lppUnk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFolder::SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    m_lastError.SetText(nullptr);
    // Outlook writes the extended folder flags of every folder it shows and
    // gives up on a folder that refuses them; they are accepted and dropped.
    if (cValues >= 1 && lpPropArray && lpPropArray[0].ulPropTag == kPrExtendedFolderFlags) {
        if (lppProblems)
            *lppProblems = nullptr;
        return S_OK;
    }
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG ulUIParam,
                             LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                             LPSPropProblemArray* lppProblems)
{
    return CopyThroughSupport("CFolder::CopyTo", m_storeId, [&](IMAPISupport* support) {
        return CallOutGuarded([&] {
            return support->DoCopyTo(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), ciidExclude, rgiidExclude,
                                     lpExcludeProps, ulUIParam, lpProgress, lpInterface, lpDestObj, ulFlags,
                                     lppProblems);
        });
    });
}

STDMETHODIMP CFolder::CopyProps(LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                LPSPropProblemArray* lppProblems)
{
    m_lastError.SetText(nullptr);
    if (lppProblems)
        *lppProblems = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CFolder::GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                                      ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames)
{
    return Guard("CFolder::GetNamesFromIDs", [&]() -> HRESULT {
        return GetNamesFromIDsOfServerObject<IEseFolder>(m_folderCookie.Get(), m_storeId, lppPropTags,
                                                         lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    });
}

STDMETHODIMP CFolder::GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                      LPSPropTagArray* lppPropTags)
{
    return Guard("CFolder::GetIDsFromNames", [&]() -> HRESULT {
        return GetIDsFromNamesOfServerObject<IEseFolder>(m_folderCookie.Get(), m_storeId, cPropNames,
                                                         lppPropNames, ulFlags, lppPropTags);
    });
}

HRESULT CFolder::PrepareContents(IEseFolder* folder)
{
    ComPtr<ITableData> contents;
    ComPtr<ITableData> associated;
    ComPtr<IEseTable> messages;
    HRESULT hr = folder->GetMessagesTable(messages.GetAddressOf());
    if (hr == kNoSuchTable) {
        const SPropTagArray* columns = reinterpret_cast<const SPropTagArray*>(&kInstanceKeyOnly);
        hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY, columns, contents);
        if (SUCCEEDED(hr))
            hr = CreateProviderTable(TBLTYPE_SNAPSHOT, PR_INSTANCE_KEY, columns, associated);
    } else {
        if (FAILED(hr))
            RaiseComError(hr, folder, IID_IEseFolder);
        CServerTags server;
        hr = messages->GetColumns(1, &server.count, &server.tags);
        if (FAILED(hr))
            RaiseComError(hr, messages.Get(), IID_IEseTable);
        const ULONG count = server.tags ? server.count : 0;
        MapiPtr<SPropTagArray> columns = MapiAllocate<SPropTagArray>(CbNewSPropTagArray(count), hr);
        if (!columns)
            return hr;
        columns->cValues = count;
        if (count)
            std::memcpy(columns->aulPropTag, server.tags, count * sizeof(ULONG));
        hr = CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, columns.get(), contents);
        if (SUCCEEDED(hr))
            hr = CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, columns.get(), associated);
    }
    if (FAILED(hr))
        return hr;
    m_contentsData = contents;
    m_associatedContentsData = associated;
    m_contentsFill = std::make_shared<SContentsFill>();
    return S_OK;
}

STDMETHODIMP CFolder::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    return Guard("CFolder::GetContentsTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        if (!m_folderCookie)
            return E_UNEXPECTED;
        if (ulFlags & MAPI_ASSOCIATED)
            return MAPI_E_NO_SUPPORT;
        CCriticalSectionLock lock(m_lock);
        if (!m_contentsPrepared) {
            HRESULT hr = PrepareContents(ServerFolder().Get());
            if (FAILED(hr)) {
                m_contentsData.Reset();
                m_associatedContentsData.Reset();
                return hr;
            }
            m_contentsPrepared = true;
        }
        return CContentsTable::Create(m_contentsData.Get(), m_folderCookie.Get(), m_ownId, false, this, lppTable,
                                      m_contentsFill);
    });
}

STDMETHODIMP CFolder::GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    (void)ulFlags;
    return Guard("CFolder::GetHierarchyTable", [&]() -> HRESULT {
        if (!lppTable)
            return E_INVALIDARG;
        *lppTable = nullptr;
        CCriticalSectionLock lock(m_lock);
        if (!m_hierarchyBuilt) {
            HRESULT hr = FillHierarchyTable();
            if (FAILED(hr))
                return hr;
        }
        ComPtr<IMAPITable> view;
        HRESULT hr = m_hierarchyData->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
        if (FAILED(hr))
            return hr;
        return CTable::Create(view.Get(), 0, lppTable);
    });
}

HRESULT CFolder::FillHierarchyTable()
{
    HRESULT hr = ResetHierarchyData(m_hierarchyData);
    if (FAILED(hr))
        return hr;

    ComPtr<IEseFolder> folder = ServerFolder();
    ComPtr<IEseTable> children;
    hr = folder->GetFoldersTable(children.GetAddressOf());
    if (FAILED(hr))
        RaiseComError(hr, folder.Get(), IID_IEseFolder);
    std::vector<ULONG> columns = HierarchyServerColumns(kPrFid, kPrMailboxRootFid);
    hr = children->SetColumns(kHierarchyServerColumnCount, columns.data());
    if (FAILED(hr))
        RaiseComError(hr, children.Get(), IID_IEseTable);
    CServerRows server;
    hr = children->GetRows(kAllRows, 1, &server.count, &server.rows);
    if (FAILED(hr))
        RaiseComError(hr, children.Get(), IID_IEseTable);
    if (!server.rows)
        server.count = 0;

    ULONG kept = 0;
    for (ULONG i = 0; i < server.count; ++i) {
        const _SEseRow& row = server.rows[i];
        if (!IsFolderRow(row))
            continue;
        const LONGLONG fid = row.m_p_values[0].m_value.m_i64;
        CEntryId child(kEntryFolder, m_ownId.storeUid);
        child.idRoot = row.m_p_values[1].m_value.m_i64;
        child.fid = fid;
        BYTE instanceKey[8];
        SwappedHalves(fid, instanceKey);
        // Placed after the rows kept so far (the rows left out take no place).
        hr = InsertHierarchyRow(m_hierarchyData.Get(), kept, row, child, m_ownId, instanceKey, sizeof(instanceKey),
                                DT_FOLDER);
        if (FAILED(hr))
            return hr;
        ++kept;
    }
    m_hierarchyBuilt = true;
    return S_OK;
}

STDMETHODIMP CFolder::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    (void)lpInterface;
    return Guard("CFolder::OpenEntry", [&]() -> HRESULT {
        CEntryId id;
        HRESULT hr = DecodeFolderEntry(cbEntryID, lpEntryID, ulFlags, lpulObjType, lppUnk, id);
        if (FAILED(hr))
            return hr;
        return OpenEntryOf(id, lpulObjType, lppUnk);
    });
}

HRESULT CFolder::OpenEntryOf(const CEntryId& id, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    switch (id.kind) {
    case kEntryRootFolder:
    case kEntryIpmSubtree: {
        std::shared_ptr<CStoreShared> store = OpenStoreOf(m_storeId);
        if (!store)
            return E_FAIL;
        return OpenTopFolderEntry(*store, id, lpulObjType, lppUnk);
    }
    case kEntryMessage:
        return OpenMessageEntry(ServerFolder().Get(), id, &m_ownId, m_ownId, m_storeId, lpulObjType, lppUnk);
    case kEntryMailboxTop:
    case kEntryFolder: {
        ComPtr<IEseFolder> child;
        ComPtr<IEseFolder> parent = ServerFolder();
        if (ObjectNotOpened(parent->GetFolder(id.fid, id.idRoot, child.GetAddressOf()), parent.Get(), IID_IEseFolder) ||
            !child)
            return MAPI_E_INVALID_ENTRYID;
        const CEntryId top(kEntryIpmSubtree, id.storeUid);
        return OpenFolderEntry(child.Get(), id, top, m_storeId, lpulObjType, lppUnk);
    }
    default:
        return MAPI_E_INVALID_ENTRYID;
    }
}

STDMETHODIMP CFolder::SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG)
{
    m_lastError.SetText(nullptr);
    return E_NOTIMPL;
}

STDMETHODIMP CFolder::GetSearchCriteria(ULONG, LPSRestriction*, LPENTRYLIST*, ULONG*)
{
    m_lastError.SetText(nullptr);
    return E_NOTIMPL;
}

STDMETHODIMP CFolder::CreateMessage(LPCIID, ULONG, LPMESSAGE* lppMessage)
{
    m_lastError.SetText(nullptr);
    if (lppMessage)
        *lppMessage = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, LPVOID lpDestFolder, ULONG ulUIParam,
                                   LPMAPIPROGRESS lpProgress, ULONG ulFlags)
{
    return CopyThroughSupport("CFolder::CopyMessages", m_storeId, [&](IMAPISupport* support) -> HRESULT {
        if (ulFlags & MESSAGE_MOVE)
            return E_ACCESSDENIED;
        return CallOutGuarded([&] {
            return support->CopyMessages(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), lpMsgList, lpInterface,
                                         lpDestFolder, ulUIParam, lpProgress, ulFlags);
        });
    });
}

STDMETHODIMP CFolder::DeleteMessages(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::CreateFolder(ULONG, LPTSTR, LPTSTR, LPCIID, ULONG, LPMAPIFOLDER* lppFolder)
{
    m_lastError.SetText(nullptr);
    if (lppFolder)
        *lppFolder = nullptr;
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, LPVOID lpDestFolder,
                                 LPTSTR lpszNewFolderName, ULONG ulUIParam, LPMAPIPROGRESS lpProgress,
                                 ULONG ulFlags)
{
    return CopyThroughSupport("CFolder::CopyFolder", m_storeId, [&](IMAPISupport* support) -> HRESULT {
        if (ulFlags & FOLDER_MOVE)
            return E_ACCESSDENIED;
        // The copy's result so far stands when Outlook's progress dialog
        // faults inside it (see CopyFaultGuard.h).
        HRESULT result = S_OK;
        auto copy = [&] {
            result = support->CopyFolder(&IID_IMAPIFolder, static_cast<IMAPIFolder*>(this), cbEntryID, lpEntryID,
                                         lpInterface, lpDestFolder, lpszNewFolderName, ulUIParam, lpProgress,
                                         ulFlags);
        };
        if (!RunGuardedAgainstDivideByZero(copy))
            LogFormat(m_lastError.LogPath(), L"Method %s failed.  HRESULT 0x%08x.", L"CFolder::CopyFolder",
                      0xC0000094u);
        return SUCCEEDED(result) ? S_OK : result;
    });
}

STDMETHODIMP CFolder::DeleteFolder(ULONG, LPENTRYID, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::SetReadFlags(LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return E_NOTIMPL;
}

STDMETHODIMP CFolder::GetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG* lpulMessageStatus)
{
    m_lastError.SetText(nullptr);
    if (!lpulMessageStatus)
        return E_INVALIDARG;
    *lpulMessageStatus = 0;
    return S_OK;
}

STDMETHODIMP CFolder::SetMessageStatus(ULONG, LPENTRYID, ULONG, ULONG, ULONG*)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::SaveContentsSort(LPSSortOrderSet, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}

STDMETHODIMP CFolder::EmptyFolder(ULONG, LPMAPIPROGRESS, ULONG)
{
    m_lastError.SetText(nullptr);
    return MAPI_E_NO_SUPPORT;
}
