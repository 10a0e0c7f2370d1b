#pragma once
// Helpers over single property values that the utilities, the tables and the
// message object share: deep copies, sizes, three-way comparison and access
// to the elements of multi-valued properties.
#include "MapiStandin.h"

#include <cstring>
#include <string>

namespace mapistub {

inline ULONG RoundUp8(ULONG cb)
{
    return (cb + 7u) & ~7u;
}

inline bool IsMultiValued(ULONG tag)
{
    return (PROP_TYPE(tag) & MV_FLAG) != 0;
}

inline ULONG BaseType(ULONG tag)
{
    return PROP_TYPE(tag) & ~static_cast<ULONG>(MV_FLAG | MV_INSTANCE);
}

// Whether a property value may carry the type: one of MAPI's types, single
// or multi-valued. Never with MV_INSTANCE: that flag only asks a table for
// one row per value of a column, no value has it.
bool IsKnownType(ULONG type);

// Bytes one block holding a copy of the values needs (as ScCopyProps lays
// it out); MAPI_E_INVALID_PARAMETER for a type no value carries. The
// library's own tables and restrictions count with it; ScCountProps adds
// MAPI's further rules on identifiers and empty lists.
SCODE CountProps(int cValues, const SPropValue* values, ULONG* cb);

// Whether a property tag may carry the type: a value's type, or a
// multi-valued type with MV_INSTANCE (MVI_FLAG, as in column sets).
bool IsKnownTagType(ULONG type);

// Bytes a deep copy of the value needs beyond its SPropValue, each piece
// rounded up to 8 bytes. Unknown types need nothing.
ULONG ExtraSize(const SPropValue& value);

// Deep copy of src into dst; alloc(cb) returns a block of at least cb bytes or
// nullptr. Returns MAPI_E_NOT_ENOUGH_MEMORY when an allocation fails,
// MAPI_E_INVALID_PARAMETER for a pointer-valued property whose pointer is null
// while its count is not.
template <typename Alloc>
SCODE CopyValue(SPropValue& dst, const SPropValue& src, Alloc&& alloc);

// Number of elements of a multi-valued property (1 for a single value).
ULONG ElementCount(const SPropValue& value);
// Element i of a multi-valued property as a single value of the base type.
SPropValue Element(const SPropValue& value, ULONG index);

enum class StringCompare {
    kExact,      // locale order, case counts (lstrcmp)
    kIgnoreCase, // locale order, case ignored: what tables use
};

// Three-way comparison of two values of the same type (whole arrays for
// multi-valued types, element by element then by count). Binary values order
// by length first, then by bytes. Values of different types order by type.
int CompareValues(const SPropValue& a, const SPropValue& b, StringCompare mode);

// Whether the type can be ordered or tested for equality in a restriction.
bool IsComparableType(ULONG type);

std::wstring WideFromAnsi(const char* text);

// ---- implementation of the template ----

template <typename Alloc>
SCODE CopyValue(SPropValue& dst, const SPropValue& src, Alloc&& alloc)
{
    dst = src;
    auto copyBlock = [&](const void* data, ULONG cb, void*& out) -> SCODE {
        out = nullptr;
        if (cb == 0)
            return S_OK;
        if (!data)
            return MAPI_E_INVALID_PARAMETER;
        void* block = alloc(cb);
        if (!block)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        std::memcpy(block, data, cb);
        out = block;
        return S_OK;
    };
    void* out = nullptr;
    SCODE sc = S_OK;
    switch (PROP_TYPE(src.ulPropTag)) {
    case PT_STRING8:
        if (!src.Value.lpszA)
            return MAPI_E_INVALID_PARAMETER;
        sc = copyBlock(src.Value.lpszA, static_cast<ULONG>(std::strlen(src.Value.lpszA) + 1), out);
        dst.Value.lpszA = static_cast<LPSTR>(out);
        return sc;
    case PT_UNICODE:
        if (!src.Value.lpszW)
            return MAPI_E_INVALID_PARAMETER;
        sc = copyBlock(src.Value.lpszW, static_cast<ULONG>((wcslen(src.Value.lpszW) + 1) * sizeof(WCHAR)), out);
        dst.Value.lpszW = static_cast<LPWSTR>(out);
        return sc;
    case PT_CLSID:
        sc = copyBlock(src.Value.lpguid, sizeof(GUID), out);
        dst.Value.lpguid = static_cast<LPGUID>(out);
        return sc;
    case PT_BINARY:
    case 0x00FB: // PT_SVREID
        sc = copyBlock(src.Value.bin.lpb, src.Value.bin.cb, out);
        dst.Value.bin.lpb = static_cast<LPBYTE>(out);
        return sc;
    case PT_MV_I2:
        sc = copyBlock(src.Value.MVi.lpi, src.Value.MVi.cValues * sizeof(short), out);
        dst.Value.MVi.lpi = static_cast<short*>(out);
        return sc;
    case PT_MV_LONG:
        sc = copyBlock(src.Value.MVl.lpl, src.Value.MVl.cValues * sizeof(LONG), out);
        dst.Value.MVl.lpl = static_cast<LONG*>(out);
        return sc;
    case PT_MV_R4:
        sc = copyBlock(src.Value.MVflt.lpflt, src.Value.MVflt.cValues * sizeof(float), out);
        dst.Value.MVflt.lpflt = static_cast<float*>(out);
        return sc;
    case PT_MV_DOUBLE:
        sc = copyBlock(src.Value.MVdbl.lpdbl, src.Value.MVdbl.cValues * sizeof(double), out);
        dst.Value.MVdbl.lpdbl = static_cast<double*>(out);
        return sc;
    case PT_MV_CURRENCY:
        sc = copyBlock(src.Value.MVcur.lpcur, src.Value.MVcur.cValues * sizeof(CURRENCY), out);
        dst.Value.MVcur.lpcur = static_cast<CURRENCY*>(out);
        return sc;
    case PT_MV_APPTIME:
        sc = copyBlock(src.Value.MVat.lpat, src.Value.MVat.cValues * sizeof(double), out);
        dst.Value.MVat.lpat = static_cast<double*>(out);
        return sc;
    case PT_MV_SYSTIME:
        sc = copyBlock(src.Value.MVft.lpft, src.Value.MVft.cValues * sizeof(FILETIME), out);
        dst.Value.MVft.lpft = static_cast<FILETIME*>(out);
        return sc;
    case PT_MV_I8:
        sc = copyBlock(src.Value.MVli.lpli, src.Value.MVli.cValues * sizeof(LARGE_INTEGER), out);
        dst.Value.MVli.lpli = static_cast<LARGE_INTEGER*>(out);
        return sc;
    case PT_MV_CLSID:
        sc = copyBlock(src.Value.MVguid.lpguid, src.Value.MVguid.cValues * sizeof(GUID), out);
        dst.Value.MVguid.lpguid = static_cast<GUID*>(out);
        return sc;
    case PT_MV_BINARY: {
        ULONG count = src.Value.MVbin.cValues;
        dst.Value.MVbin.lpbin = nullptr;
        if (count == 0)
            return S_OK;
        if (!src.Value.MVbin.lpbin)
            return MAPI_E_INVALID_PARAMETER;
        auto* array = static_cast<SBinary*>(alloc(count * sizeof(SBinary)));
        if (!array)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        for (ULONG i = 0; i < count; ++i) {
            array[i].cb = src.Value.MVbin.lpbin[i].cb;
            sc = copyBlock(src.Value.MVbin.lpbin[i].lpb, array[i].cb, out);
            if (FAILED(sc))
                return sc;
            array[i].lpb = static_cast<LPBYTE>(out);
        }
        dst.Value.MVbin.lpbin = array;
        return S_OK;
    }
    case PT_MV_STRING8: {
        ULONG count = src.Value.MVszA.cValues;
        dst.Value.MVszA.lppszA = nullptr;
        if (count == 0)
            return S_OK;
        if (!src.Value.MVszA.lppszA)
            return MAPI_E_INVALID_PARAMETER;
        auto* array = static_cast<LPSTR*>(alloc(count * sizeof(LPSTR)));
        if (!array)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        for (ULONG i = 0; i < count; ++i) {
            const char* text = src.Value.MVszA.lppszA[i];
            if (!text)
                return MAPI_E_INVALID_PARAMETER;
            sc = copyBlock(text, static_cast<ULONG>(std::strlen(text) + 1), out);
            if (FAILED(sc))
                return sc;
            array[i] = static_cast<LPSTR>(out);
        }
        dst.Value.MVszA.lppszA = array;
        return S_OK;
    }
    case PT_MV_UNICODE: {
        ULONG count = src.Value.MVszW.cValues;
        dst.Value.MVszW.lppszW = nullptr;
        if (count == 0)
            return S_OK;
        if (!src.Value.MVszW.lppszW)
            return MAPI_E_INVALID_PARAMETER;
        auto* array = static_cast<LPWSTR*>(alloc(count * sizeof(LPWSTR)));
        if (!array)
            return MAPI_E_NOT_ENOUGH_MEMORY;
        for (ULONG i = 0; i < count; ++i) {
            const WCHAR* text = src.Value.MVszW.lppszW[i];
            if (!text)
                return MAPI_E_INVALID_PARAMETER;
            sc = copyBlock(text, static_cast<ULONG>((wcslen(text) + 1) * sizeof(WCHAR)), out);
            if (FAILED(sc))
                return sc;
            array[i] = static_cast<LPWSTR>(out);
        }
        dst.Value.MVszW.lppszW = array;
        return S_OK;
    }
    default:
        return S_OK;
    }
}

} // namespace mapistub
