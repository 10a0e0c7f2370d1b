#include "ProviderPlatform.h"
#include "CContentsTable.h"
#include "CFolder.h"
#include "ComErrorRaise.h"
#include "EseValueConversion.h"
#include "EseValueMemory.h"
#include "MapiPtr.h"
#include "PropAnswers.h"
#include "ServerInterfaces.h"
#include "ServerResults.h"
#include "Vostrel2007.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr ULONG kPrMid = 0x674A0014;
constexpr ULONG kPrMsgLink = 0x67B00102;
constexpr ULONG kPrFid = 0x67480014;
constexpr ULONG kPrMessageFlags = 0x0E070003;
// A message row with a value here is not shown.
constexpr ULONG kPrHiddenMarker = 0x36410003;
constexpr ULONG kServerLeadColumns = 5;
constexpr ULONG kPrLongTermEntryIdFromTable = 0x66700102;
constexpr HRESULT kNoSuchTable = 0x80070002;

LONGLONG Int64Of(const _SEsePropertyValue& value)
{
    return value.m_value.m_i64;
}

// The 8 bytes of an id with its two 32-bit halves swapped.
void InstanceKeyOf(LONGLONG id, BYTE key[8])
{
    const ULONGLONG value = static_cast<ULONGLONG>(id);
    const ULONG low = static_cast<ULONG>(value);
    const ULONG high = static_cast<ULONG>(value >> 32);
    std::memcpy(key, &high, 4);
    std::memcpy(key + 4, &low, 4);
}

// The columns the table makes itself rather than reads from the server.
bool IsMadeColumn(ULONG tag)
{
    switch (tag) {
    case PR_ENTRYID:
    case PR_RECORD_KEY:
    case kPrLongTermEntryIdFromTable:
    case PR_PARENT_ENTRYID:
    case PR_INSTANCE_KEY:
    case PR_OBJECT_TYPE:
    case PR_ACCESS:
    case PR_ACCESS_LEVEL:
    case PR_NULL:
    case PR_STORE_RECORD_KEY:
    case PR_MAPPING_SIGNATURE:
    case PR_STORE_ENTRYID:
        return true;
    default:
        return false;
    }
}

} // namespace

HRESULT CContentsTable::Create(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId,
                               bool associated, CFolder* folder, IMAPITable** out, std::shared_ptr<SContentsFill> fill)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!contentsData)
        return E_INVALIDARG;
    if (!fill)
        fill = std::make_shared<SContentsFill>();
    CContentsTable* table =
        new (std::nothrow) CContentsTable(contentsData, folderCookie, folderId, associated, folder, std::move(fill));
    if (!table)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = table->OpenView();
    if (FAILED(hr)) {
        table->Release();
        return hr;
    }
    *out = table;
    return S_OK;
}

CContentsTable::CContentsTable(ITableData* contentsData, DWORD folderCookie, const CEntryId& folderId,
                               bool associated, CFolder* folder, std::shared_ptr<SContentsFill> fill)
    : CTable(nullptr, 1),
      m_folderCookie(folderCookie),
      m_folderId(folderId),
      m_associated(associated),
      m_contentsData(contentsData),
      m_folder(folder),
      m_fill(std::move(fill))
{
}

CContentsTable::~CContentsTable() = default;

HRESULT CContentsTable::OpenView()
{
    ComPtr<IMAPITable> view;
    HRESULT hr = m_contentsData->HrGetView(nullptr, nullptr, 0, view.GetAddressOf());
    if (SUCCEEDED(hr))
        AttachView(view.Get());
    return hr;
}

STDMETHODIMP CContentsTable::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    // A failed fill is this table's own failure, which the view knows
    // nothing of.
    if (m_lastError.Text())
        return m_lastError.GetMapiError(ulFlags, lppMAPIError);
    return CTable::GetLastError(hResult, ulFlags, lppMAPIError);
}

STDMETHODIMP CContentsTable::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags)
{
    return Guard("CContentsTable::SetColumns", [&]() -> HRESULT {
        HRESULT hr = View()->SetColumns(lpPropTagArray, ulFlags);
        if (FAILED(hr) || !lpPropTagArray)
            return hr;
        CCriticalSectionLock lock(m_fill->lock);
        const ULONG* asking = lpPropTagArray->aulPropTag;
        std::vector<ULONG> columns;
        if (!m_fill->filled) {
            columns.assign(asking, asking + lpPropTagArray->cValues);
        } else {
            // A column no fill has read yet is read into the same rows,
            // with every column read before.
            columns = m_fill->columns;
            bool more = false;
            for (ULONG i = 0; i < lpPropTagArray->cValues; ++i)
                if (!IsMadeColumn(asking[i]) && std::find(columns.begin(), columns.end(), asking[i]) == columns.end()) {
                    columns.push_back(asking[i]);
                    more = true;
                }
            if (!more)
                return hr;
        }
        MapiPtr<SPropTagArray> asked =
            MapiAllocate<SPropTagArray>(CbNewSPropTagArray(static_cast<ULONG>(columns.size())), hr);
        if (!asked)
            return hr;
        asked->cValues = static_cast<ULONG>(columns.size());
        std::copy(columns.begin(), columns.end(), asked->aulPropTag);
        hr = Fill(*asked, m_fill->filled);
        if (FAILED(hr))
            return hr;
        m_fill->filled = true;
        m_fill->columns = std::move(columns);
        return hr;
    });
}

HRESULT CContentsTable::Fill(const SPropTagArray& columns, bool replace)
{
    ComPtr<IEseFolder> folder = FetchServer<IEseFolder>(m_folderCookie);
    ComPtr<IEseTable> messages;
    HRESULT hr = folder->GetMessagesTable(messages.GetAddressOf());
    if (hr == kNoSuchTable)
        return S_OK;
    if (FAILED(hr))
        RaiseComError(hr, folder.Get(), IID_IEseFolder);

    bool instanceKeyAsked = false;
    std::vector<ULONG> serverColumns = {kPrMid, kPrMsgLink, kPrFid, kPrMessageFlags, kPrHiddenMarker};
    for (ULONG i = 0; i < columns.cValues; ++i) {
        serverColumns.push_back(columns.aulPropTag[i]);
        if (columns.aulPropTag[i] == PR_INSTANCE_KEY)
            instanceKeyAsked = true;
    }
    hr = messages->SetColumns(static_cast<ULONG>(serverColumns.size()), serverColumns.data());
    if (FAILED(hr))
        RaiseComError(hr, messages.Get(), IID_IEseTable);
    CServerRows server;
    hr = messages->GetRows(0x7FFFFFFF, 1, &server.count, &server.rows);
    if (FAILED(hr))
        RaiseComError(hr, messages.Get(), IID_IEseTable);
    if (!server.rows)
        server.count = 0;

    const CEntryId storeId(kEntryMessageStore, m_folderId.storeUid);
    const ULONG valueCount = columns.cValues + (instanceKeyAsked ? 0 : 1);
    ULONG kept = 0;
    for (ULONG r = 0; r < server.count; ++r) {
        const _SEseRow& row = server.rows[r];
        if (row.m_valueCount < kServerLeadColumns + columns.cValues || !row.m_p_values)
            continue;
        const _SEsePropertyValue* lead = row.m_p_values;
        if (lead[0].m_tag != kPrMid || lead[1].m_tag != kPrMsgLink || lead[2].m_tag != kPrFid)
            continue;
        const bool associated = lead[3].m_tag == kPrMessageFlags && (lead[3].m_value.m_i32 & MSGFLAG_ASSOCIATED);
        if (associated != m_associated)
            continue;
        if (lead[4].m_type != ESE_PT_ERROR)
            continue;

        CEntryId messageId(kEntryMessage, m_folderId.storeUid);
        messageId.idRoot = m_folderId.idRoot;
        messageId.fid = Int64Of(lead[2]);
        messageId.mid = Int64Of(lead[0]);
        BYTE instanceKey[8];
        InstanceKeyOf(messageId.mid, instanceKey);

        MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(static_cast<ULONG>(sizeof(SPropValue) * valueCount), hr);
        if (!values)
            return hr;
        SPropValue* value = values.get();
        LPVOID parent = values.get();
        for (ULONG i = 0; i < columns.cValues; ++i) {
            const ULONG tag = columns.aulPropTag[i];
            SPropValue& v = value[i];
            v.ulPropTag = tag;
            switch (tag) {
            case PR_ENTRYID:
            case PR_RECORD_KEY:
            case kPrLongTermEntryIdFromTable:
                hr = FillBinary(v, parent, &messageId, sizeof(messageId));
                break;
            case PR_PARENT_ENTRYID:
                hr = FillBinary(v, parent, &m_folderId, sizeof(m_folderId));
                break;
            case PR_INSTANCE_KEY:
                hr = FillBinary(v, parent, instanceKey, sizeof(instanceKey));
                break;
            case PR_OBJECT_TYPE:
                v.Value.l = MAPI_MESSAGE;
                break;
            case PR_ACCESS:
                v.Value.l = MAPI_ACCESS_READ;
                break;
            case PR_ACCESS_LEVEL:
            case PR_NULL:
                v.Value.l = 0;
                break;
            case PR_STORE_RECORD_KEY:
                hr = FillBinary(v, parent, &m_folderId.storeUid, sizeof(m_folderId.storeUid));
                break;
            case PR_MAPPING_SIGNATURE:
                hr = FillBinary(v, parent, &m_folderId.idRoot, sizeof(m_folderId.idRoot));
                break;
            case PR_STORE_ENTRYID: {
                HRESULT wrapped = storeId.WrapStoreEntryId(parent, v.Value.bin);
                if (FAILED(wrapped)) {
                    if (wrapped == MAPI_E_NOT_ENOUGH_MEMORY)
                        return wrapped;
                    SetErrorValue(v, tag, wrapped);
                }
                break;
            }
            default:
                ConvertEseValue(&v, &row.m_p_values[kServerLeadColumns + i], parent);
                break;
            }
            if (FAILED(hr))
                return hr;
        }
        if (!instanceKeyAsked) {
            SPropValue& v = value[columns.cValues];
            v.ulPropTag = PR_INSTANCE_KEY;
            hr = FillBinary(v, parent, instanceKey, sizeof(instanceKey));
            if (FAILED(hr))
                return hr;
        }
        SRow mapiRow = {0, valueCount, values.get()};
        hr = replace ? m_contentsData->HrModifyRow(&mapiRow) : m_contentsData->HrInsertRow(kept, &mapiRow);
        if (FAILED(hr))
            return hr;
        ++kept;
    }
    return S_OK;
}
