#include "MapiStandin.h"
#include "SubsystemTables.h"
#include "MapiSubsystem.h"
#include "PropValue.h"

#include <algorithm>
#include <deque>
#include <string>

namespace mapistub {

HRESULT MakeBagTable(const std::vector<ULONG>& columns, ULONG indexTag, const std::vector<CPropBag>& rows,
                     ULONG flags, LPMAPITABLE* out)
{
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    bool unicode = (flags & MAPI_UNICODE) != 0;
    std::vector<ULONG> tags;
    for (ULONG tag : columns) {
        if (!unicode && PROP_TYPE(tag) == PT_UNICODE)
            tag = PROP_TAG(PT_STRING8, PROP_ID(tag));
        tags.push_back(tag);
    }
    std::vector<BYTE> tagBlock(sizeof(ULONG) * (tags.size() + 1));
    auto* tagArray = reinterpret_cast<LPSPropTagArray>(tagBlock.data());
    tagArray->cValues = static_cast<ULONG>(tags.size());
    for (size_t i = 0; i < tags.size(); ++i)
        tagArray->aulPropTag[i] = tags[i];

    ComPtr<ITableData> data;
    HRESULT hr = CreateTable(&IID_IMAPITableData, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, nullptr,
                             TBLTYPE_DYNAMIC, indexTag, tagArray, data.GetAddressOf());
    if (FAILED(hr))
        return hr;
    for (const CPropBag& bag : rows) {
        std::vector<SPropValue> values;
        std::deque<std::string> ansi;
        for (ULONG tag : tags) {
            const SPropValue* value = bag.Find(PROP_ID(tag));
            if (!value)
                continue;
            SPropValue v = *value;
            if (PROP_TYPE(tag) == PT_STRING8 && PROP_TYPE(v.ulPropTag) == PT_UNICODE) {
                ansi.push_back(AnsiText(v.Value.lpszW));
                v.Value.lpszA = &ansi.back()[0];
            }
            v.ulPropTag = PROP_TYPE(tag) == PT_STRING8 && PROP_TYPE(value->ulPropTag) == PT_UNICODE
                              ? tag
                              : value->ulPropTag;
            values.push_back(v);
        }
        SRow row{};
        row.cValues = static_cast<ULONG>(values.size());
        row.lpProps = values.data();
        hr = data->HrModifyRow(&row);
        if (FAILED(hr))
            return hr;
    }
    return data->HrGetView(nullptr, nullptr, 0, out);
}

HRESULT MakeUnionTable(ULONG indexTag, const std::vector<CPropBag>& rows, LPMAPITABLE* out)
{
    if (!out)
        return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    std::vector<ULONG> columns = {indexTag};
    for (const CPropBag& row : rows)
        for (ULONG tag : row.Tags())
            if (std::find(columns.begin(), columns.end(), tag) == columns.end())
                columns.push_back(tag);
    std::vector<BYTE> tagBlock(sizeof(ULONG) * (columns.size() + 1));
    auto* tags = reinterpret_cast<LPSPropTagArray>(tagBlock.data());
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    ComPtr<ITableData> data;
    HRESULT hr = CreateTable(&IID_IMAPITableData, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, nullptr,
                             TBLTYPE_SNAPSHOT, indexTag, tags, data.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ULONG position = 0;
    for (const CPropBag& row : rows) {
        if (!row.Find(PROP_ID(indexTag)))
            continue;
        std::vector<SPropValue> values;
        for (ULONG tag : row.Tags())
            values.push_back(*row.Find(PROP_ID(tag)));
        SRow srow{0, static_cast<ULONG>(values.size()), values.data()};
        hr = data->HrInsertRow(position++, &srow);
        if (FAILED(hr))
            return hr;
    }
    return data->HrGetView(nullptr, nullptr, 0, out);
}

} // namespace mapistub
