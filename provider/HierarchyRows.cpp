#include "ProviderPlatform.h"
#include "HierarchyRows.h"
#include "CTable.h"
#include "EseValueConversion.h"
#include "MapiPtr.h"
#include "PropAnswers.h"
#include "ServerResults.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr ULONG kPrLongTermEntryIdFromTable = 0x66700102;
constexpr ULONG kColumnCount = 24;
// Where the server's folder columns start in a row of the table.
constexpr ULONG kFirstFolderColumn = 9;

const ULONG kFolderColumns[] = {0x3004001F, 0x3001001F, 0x36010003, 0x36020003, 0x36030003,
                                0x3613001F, 0x10F4000B, 0x36DA0102, 0x36DE0003, 0x672D0003,
                                0x67310003, 0x67300014, 0x6732001F, 0x6733001F, 0x360A000B};

SizedSPropTagArray(kColumnCount, kHierarchyColumns) = {
    kColumnCount,
    {0x0FF60102, 0x30050003, 0x39000003, 0x0FFF0102, 0x0FFE0003, 0x360B0003, 0x0E090102, 0x0FF90102,
     0x66700102, 0x3004001F, 0x3001001F, 0x36010003, 0x36020003, 0x36030003, 0x3613001F, 0x10F4000B,
     0x36DA0102, 0x36DE0003, 0x672D0003, 0x67310003, 0x67300014, 0x6732001F, 0x6733001F, 0x360A000B}};

static_assert(2 + std::size(kFolderColumns) == kHierarchyServerColumnCount);
static_assert(kFirstFolderColumn + std::size(kFolderColumns) == kColumnCount);

} // namespace

std::vector<ULONG> HierarchyServerColumns(ULONG first, ULONG second)
{
    std::vector<ULONG> columns = {first, second};
    columns.insert(columns.end(), std::begin(kFolderColumns), std::end(kFolderColumns));
    return columns;
}

HRESULT ResetHierarchyData(ComPtr<ITableData>& data)
{
    if (data)
        return data->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr);
    return CreateProviderTable(TBLTYPE_DYNAMIC, PR_INSTANCE_KEY,
                               reinterpret_cast<const SPropTagArray*>(&kHierarchyColumns), data);
}

bool IsFolderRow(const _SEseRow& row)
{
    return row.m_valueCount >= kHierarchyServerColumnCount && row.m_p_values &&
           IsUsableServerValue(row.m_p_values[0]) && IsUsableServerValue(row.m_p_values[1]);
}

void SwappedHalves(LONGLONG id, BYTE key[8])
{
    const ULONGLONG value = static_cast<ULONGLONG>(id);
    const ULONG low = static_cast<ULONG>(value);
    const ULONG high = static_cast<ULONG>(value >> 32);
    std::memcpy(key, &high, 4);
    std::memcpy(key + 4, &low, 4);
}

HRESULT InsertHierarchyRow(ITableData* data, ULONG position, const _SEseRow& row, const CEntryId& child,
                           const CEntryId& parent, const void* instanceKey, ULONG keySize, LONG displayType)
{
    HRESULT hr = S_OK;
    MapiPtr<SPropValue> values = MapiAllocate<SPropValue>(sizeof(SPropValue) * kColumnCount, hr);
    if (!values)
        return hr;
    SPropValue* v = values.get();
    // Only the columns asked for are the row's: more values from the server
    // have no place in it.
    const _SEseRow asked = {std::min(row.m_valueCount, kHierarchyServerColumnCount), row.m_p_values};
    ConvertEseRow(v + kFirstFolderColumn, asked, 2, v);
    v[0].ulPropTag = PR_INSTANCE_KEY;
    hr = FillBinary(v[0], v, instanceKey, keySize);
    v[1].ulPropTag = PR_DEPTH;
    v[1].Value.l = 1;
    v[2].ulPropTag = PR_DISPLAY_TYPE;
    v[2].Value.l = displayType;
    v[3].ulPropTag = PR_ENTRYID;
    if (SUCCEEDED(hr))
        hr = FillEntryId(child, v[3], v);
    v[4].ulPropTag = PR_OBJECT_TYPE;
    v[4].Value.l = MAPI_FOLDER;
    v[5].ulPropTag = PR_STATUS;
    v[5].Value.l = 0;
    v[6].ulPropTag = PR_PARENT_ENTRYID;
    if (SUCCEEDED(hr))
        hr = FillEntryId(parent, v[6], v);
    v[7].ulPropTag = PR_RECORD_KEY;
    if (SUCCEEDED(hr))
        hr = FillEntryId(child, v[7], v);
    v[8].ulPropTag = kPrLongTermEntryIdFromTable;
    if (SUCCEEDED(hr))
        hr = FillEntryId(child, v[8], v);
    if (FAILED(hr))
        return hr;
    SRow mapiRow = {0, kColumnCount, v};
    return data->HrInsertRow(position, &mapiRow);
}
