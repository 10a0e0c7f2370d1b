#include "Platform.h"
#include "EseValueMemory.h"

namespace {

template <typename Array>
void FreeElements(Array& array, void* elements)
{
    CoTaskMemFree(elements);
    array.m_count = 0;
}

} // namespace

void FreeEseValueContents(_SEsePropertyValue& value)
{
    auto& v = value.m_value;
    switch (value.m_type) {
    case ESE_PT_GUID:
        CoTaskMemFree(v.m_p_g);
        v.m_p_g = nullptr;
        break;
    case ESE_PT_STRING8:
        CoTaskMemFree(v.m_p_s);
        v.m_p_s = nullptr;
        break;
    case ESE_PT_STRING16:
        CoTaskMemFree(v.m_p_ws);
        v.m_p_ws = nullptr;
        break;
    case ESE_PT_INTERFACE:
        if (v.m_p_i)
            v.m_p_i->Release();
        v.m_p_i = nullptr;
        break;
    case ESE_PT_BINARY:
        CoTaskMemFree(v.m_bin.m_p_bt);
        v.m_bin.m_p_bt = nullptr;
        v.m_bin.m_count = 0;
        break;
    case ESE_PT_MV_STRING8:
        for (ULONG i = 0; v.m_mv_s.m_pp_s && i < v.m_mv_s.m_count; ++i)
            CoTaskMemFree(v.m_mv_s.m_pp_s[i]);
        FreeElements(v.m_mv_s, v.m_mv_s.m_pp_s);
        v.m_mv_s.m_pp_s = nullptr;
        break;
    case ESE_PT_MV_STRING16:
        for (ULONG i = 0; v.m_mv_ws.m_pp_ws && i < v.m_mv_ws.m_count; ++i)
            CoTaskMemFree(v.m_mv_ws.m_pp_ws[i]);
        FreeElements(v.m_mv_ws, v.m_mv_ws.m_pp_ws);
        v.m_mv_ws.m_pp_ws = nullptr;
        break;
    case ESE_PT_MV_BINARY:
        for (ULONG i = 0; v.m_mv_bin.m_p_bin && i < v.m_mv_bin.m_count; ++i)
            CoTaskMemFree(v.m_mv_bin.m_p_bin[i].m_p_bt);
        FreeElements(v.m_mv_bin, v.m_mv_bin.m_p_bin);
        v.m_mv_bin.m_p_bin = nullptr;
        break;
    case ESE_PT_MV_BOOL:
    case ESE_PT_MV_INT8:
    case ESE_PT_MV_INT16:
    case ESE_PT_MV_INT32:
    case ESE_PT_MV_INT64:
    case ESE_PT_MV_UINT8:
    case ESE_PT_MV_UINT16:
    case ESE_PT_MV_UINT32:
    case ESE_PT_MV_UINT64:
    case ESE_PT_MV_GUID:
    case ESE_PT_MV_FLOAT:
    case ESE_PT_MV_DOUBLE:
    case ESE_PT_MV_DATETIME:
    case ESE_PT_MV_FILETIME:
        // Every array record is {count, elements}: one view frees them all.
        FreeElements(v.m_mv_i32, v.m_mv_i32.m_p_i32);
        v.m_mv_i32.m_p_i32 = nullptr;
        break;
    default:
        // Scalars, errors and unknown types own nothing.
        break;
    }
}

void FreeEseValues(_SEsePropertyValue*& values, ULONG count)
{
    if (!values)
        return;
    for (ULONG i = 0; i < count; ++i)
        FreeEseValueContents(values[i]);
    CoTaskMemFree(values);
    values = nullptr;
}

void FreeEseRows(_SEseRow*& rows, ULONG count)
{
    if (!rows)
        return;
    for (ULONG i = 0; i < count; ++i)
        FreeEseValues(rows[i].m_p_values, rows[i].m_valueCount);
    CoTaskMemFree(rows);
    rows = nullptr;
}

void FreeEseNameIds(_SEseNamedPropertyId*& names, ULONG count)
{
    if (!names)
        return;
    for (ULONG i = 0; i < count; ++i) {
        if (names[i].ulKind == 1)
            CoTaskMemFree(names[i].Kind.lpwstrName);
        CoTaskMemFree(names[i].lpguid);
    }
    CoTaskMemFree(names);
    names = nullptr;
}
