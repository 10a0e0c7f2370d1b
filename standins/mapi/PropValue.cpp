#include "MapiStandin.h"
#include "PropValue.h"

#include <cstring>

namespace mapistub {

namespace {

template <typename T>
int Three(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBinary(const SBinary& a, const SBinary& b)
{
    if (a.cb != b.cb)
        return a.cb < b.cb ? -1 : 1;
    if (a.cb == 0)
        return 0;
    int c = std::memcmp(a.lpb, b.lpb, a.cb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareWide(const WCHAR* a, const WCHAR* b, StringCompare mode)
{
    if (!a || !b)
        return Three(a != nullptr, b != nullptr);
    DWORD flags = mode == StringCompare::kIgnoreCase ? NORM_IGNORECASE : 0;
    int c = CompareStringW(LOCALE_USER_DEFAULT, flags, a, -1, b, -1);
    if (c == 0) // failure: fall back to code-point order
        return Three(wcscmp(a, b), 0);
    return c - CSTR_EQUAL;
}

int CompareAnsi(const char* a, const char* b, StringCompare mode)
{
    if (!a || !b)
        return Three(a != nullptr, b != nullptr);
    DWORD flags = mode == StringCompare::kIgnoreCase ? NORM_IGNORECASE : 0;
    int c = CompareStringA(LOCALE_USER_DEFAULT, flags, a, -1, b, -1);
    if (c == 0)
        return Three(std::strcmp(a, b), 0);
    return c - CSTR_EQUAL;
}

ULONGLONG FileTimeValue(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace

bool IsKnownType(ULONG type)
{
    switch (type) {
    case PT_UNSPECIFIED:
    case PT_NULL:
    case PT_I2:
    case PT_LONG:
    case PT_R4:
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_ERROR:
    case PT_BOOLEAN:
    case PT_OBJECT:
    case PT_I8:
    case PT_STRING8:
    case PT_UNICODE:
    case PT_SYSTIME:
    case PT_CLSID:
    case PT_BINARY:
    case 0x00FB:
    case PT_MV_I2:
    case PT_MV_LONG:
    case PT_MV_R4:
    case PT_MV_DOUBLE:
    case PT_MV_CURRENCY:
    case PT_MV_APPTIME:
    case PT_MV_SYSTIME:
    case PT_MV_STRING8:
    case PT_MV_BINARY:
    case PT_MV_UNICODE:
    case PT_MV_CLSID:
    case PT_MV_I8:
        return true;
    default:
        return false;
    }
}

bool IsKnownTagType(ULONG type)
{
    if ((type & MVI_FLAG) == MVI_FLAG)
        return IsKnownType(type & ~static_cast<ULONG>(MV_INSTANCE));
    return IsKnownType(type);
}

bool IsComparableType(ULONG type)
{
    switch (type & ~static_cast<ULONG>(MV_FLAG | MV_INSTANCE)) {
    case PT_I2:
    case PT_LONG:
    case PT_R4:
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_ERROR:
    case PT_BOOLEAN:
    case PT_I8:
    case PT_STRING8:
    case PT_UNICODE:
    case PT_SYSTIME:
    case PT_CLSID:
    case PT_BINARY:
    case 0x00FB:
        return true;
    default:
        return false;
    }
}

ULONG ExtraSize(const SPropValue& value)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_STRING8:
        return value.Value.lpszA ? RoundUp8(static_cast<ULONG>(std::strlen(value.Value.lpszA) + 1)) : 0;
    case PT_UNICODE:
        return value.Value.lpszW ? RoundUp8(static_cast<ULONG>((wcslen(value.Value.lpszW) + 1) * sizeof(WCHAR))) : 0;
    case PT_CLSID:
        return value.Value.lpguid ? RoundUp8(sizeof(GUID)) : 0;
    case PT_BINARY:
    case 0x00FB:
        return RoundUp8(value.Value.bin.cb);
    case PT_MV_I2:
        return RoundUp8(value.Value.MVi.cValues * sizeof(short));
    case PT_MV_LONG:
        return RoundUp8(value.Value.MVl.cValues * sizeof(LONG));
    case PT_MV_R4:
        return RoundUp8(value.Value.MVflt.cValues * sizeof(float));
    case PT_MV_DOUBLE:
    case PT_MV_APPTIME:
    case PT_MV_CURRENCY:
    case PT_MV_SYSTIME:
    case PT_MV_I8:
        return RoundUp8(value.Value.MVdbl.cValues * 8);
    case PT_MV_CLSID:
        return RoundUp8(value.Value.MVguid.cValues * sizeof(GUID));
    case PT_MV_BINARY: {
        ULONG total = RoundUp8(value.Value.MVbin.cValues * sizeof(SBinary));
        if (value.Value.MVbin.lpbin)
            for (ULONG i = 0; i < value.Value.MVbin.cValues; ++i)
                total += RoundUp8(value.Value.MVbin.lpbin[i].cb);
        return total;
    }
    case PT_MV_STRING8: {
        ULONG total = RoundUp8(value.Value.MVszA.cValues * sizeof(LPSTR));
        if (value.Value.MVszA.lppszA)
            for (ULONG i = 0; i < value.Value.MVszA.cValues; ++i)
                if (value.Value.MVszA.lppszA[i])
                    total += RoundUp8(static_cast<ULONG>(std::strlen(value.Value.MVszA.lppszA[i]) + 1));
        return total;
    }
    case PT_MV_UNICODE: {
        ULONG total = RoundUp8(value.Value.MVszW.cValues * sizeof(LPWSTR));
        if (value.Value.MVszW.lppszW)
            for (ULONG i = 0; i < value.Value.MVszW.cValues; ++i)
                if (value.Value.MVszW.lppszW[i])
                    total += RoundUp8(static_cast<ULONG>((wcslen(value.Value.MVszW.lppszW[i]) + 1) * sizeof(WCHAR)));
        return total;
    }
    default:
        return 0;
    }
}

ULONG ElementCount(const SPropValue& value)
{
    return IsMultiValued(value.ulPropTag) ? value.Value.MVl.cValues : 1;
}

SPropValue Element(const SPropValue& value, ULONG index)
{
    SPropValue element{};
    ULONG type = BaseType(value.ulPropTag);
    element.ulPropTag = PROP_TAG(type, PROP_ID(value.ulPropTag));
    if (!IsMultiValued(value.ulPropTag))
        return value;
    switch (type) {
    case PT_I2: element.Value.i = value.Value.MVi.lpi[index]; break;
    case PT_LONG: element.Value.l = value.Value.MVl.lpl[index]; break;
    case PT_R4: element.Value.flt = value.Value.MVflt.lpflt[index]; break;
    case PT_DOUBLE: element.Value.dbl = value.Value.MVdbl.lpdbl[index]; break;
    case PT_CURRENCY: element.Value.cur = value.Value.MVcur.lpcur[index]; break;
    case PT_APPTIME: element.Value.at = value.Value.MVat.lpat[index]; break;
    case PT_SYSTIME: element.Value.ft = value.Value.MVft.lpft[index]; break;
    case PT_I8: element.Value.li = value.Value.MVli.lpli[index]; break;
    case PT_CLSID: element.Value.lpguid = &value.Value.MVguid.lpguid[index]; break;
    case PT_BINARY: element.Value.bin = value.Value.MVbin.lpbin[index]; break;
    case PT_STRING8: element.Value.lpszA = value.Value.MVszA.lppszA[index]; break;
    case PT_UNICODE: element.Value.lpszW = value.Value.MVszW.lppszW[index]; break;
    default: element.ulPropTag = PROP_TAG(PT_NULL, PROP_ID(value.ulPropTag)); break;
    }
    return element;
}

int CompareValues(const SPropValue& a, const SPropValue& b, StringCompare mode)
{
    ULONG typeA = PROP_TYPE(a.ulPropTag);
    ULONG typeB = PROP_TYPE(b.ulPropTag);
    if (typeA != typeB)
        return Three(typeA, typeB);
    if (IsMultiValued(a.ulPropTag)) {
        ULONG countA = a.Value.MVl.cValues;
        ULONG countB = b.Value.MVl.cValues;
        ULONG common = countA < countB ? countA : countB;
        for (ULONG i = 0; i < common; ++i) {
            SPropValue ea = Element(a, i);
            SPropValue eb = Element(b, i);
            int c = CompareValues(ea, eb, mode);
            if (c != 0)
                return c;
        }
        return Three(countA, countB);
    }
    switch (typeA) {
    case PT_I2: return Three(a.Value.i, b.Value.i);
    case PT_LONG: return Three(a.Value.l, b.Value.l);
    case PT_R4: return Three(a.Value.flt, b.Value.flt);
    case PT_DOUBLE: return Three(a.Value.dbl, b.Value.dbl);
    case PT_APPTIME: return Three(a.Value.at, b.Value.at);
    case PT_CURRENCY: return Three(a.Value.cur.int64, b.Value.cur.int64);
    case PT_I8: return Three(a.Value.li.QuadPart, b.Value.li.QuadPart);
    case PT_SYSTIME: return Three(FileTimeValue(a.Value.ft), FileTimeValue(b.Value.ft));
    case PT_ERROR: return Three(static_cast<ULONG>(a.Value.err), static_cast<ULONG>(b.Value.err));
    case PT_BOOLEAN: return Three(a.Value.b != 0, b.Value.b != 0);
    case PT_STRING8: return CompareAnsi(a.Value.lpszA, b.Value.lpszA, mode);
    case PT_UNICODE: return CompareWide(a.Value.lpszW, b.Value.lpszW, mode);
    case PT_CLSID: {
        if (!a.Value.lpguid || !b.Value.lpguid)
            return Three(a.Value.lpguid != nullptr, b.Value.lpguid != nullptr);
        int c = std::memcmp(a.Value.lpguid, b.Value.lpguid, sizeof(GUID));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case PT_BINARY:
    case 0x00FB:
        return CompareBinary(a.Value.bin, b.Value.bin);
    case PT_OBJECT:
        return Three(a.Value.x, b.Value.x);
    default:
        return 0;
    }
}

std::wstring WideFromAnsi(const char* text)
{
    if (!text || !*text)
        return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

} // namespace mapistub
