#include "MapiStandin.h"
#include "CSortKey.h"
#include "CTableRow.h"
#include "PropValue.h"

#include <cstring>

namespace {

void AppendBigEndian(std::string& key, ULONGLONG value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        key.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Escapes 0x00 and 0x01 so that 0x00 can end the field.
void AppendEscaped(std::string& key, const BYTE* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        BYTE b = data[i];
        if (b <= 1) {
            key.push_back('\x01');
            key.push_back(static_cast<char>(b + 1));
        } else {
            key.push_back(static_cast<char>(b));
        }
    }
    key.push_back('\0');
}

void AppendDouble(std::string& key, double value)
{
    ULONGLONG bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    bits = (bits & 0x8000000000000000ull) ? ~bits : (bits | 0x8000000000000000ull);
    AppendBigEndian(key, bits, 8);
}

void AppendString(std::string& key, const WCHAR* text)
{
    if (!text)
        text = L"";
    int length = static_cast<int>(wcslen(text));
    int needed = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text, length, nullptr, 0);
    if (needed <= 0) {
        AppendEscaped(key, reinterpret_cast<const BYTE*>(text), length * sizeof(WCHAR));
        return;
    }
    std::string sortKey(static_cast<size_t>(needed), '\0');
    LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE, text, length,
                 reinterpret_cast<LPWSTR>(&sortKey[0]), needed);
    // The sort key ends with its own terminating zero; leave it out.
    while (!sortKey.empty() && sortKey.back() == '\0')
        sortKey.pop_back();
    AppendEscaped(key, reinterpret_cast<const BYTE*>(sortKey.data()), sortKey.size());
}

} // namespace

HRESULT CSortKey::Validate(const SSortOrderSet* sortOrder)
{
    if (!sortOrder)
        return MAPI_E_INVALID_PARAMETER;
    if (sortOrder->cSorts > 64 || sortOrder->cCategories > sortOrder->cSorts ||
        sortOrder->cExpanded > sortOrder->cCategories)
        return MAPI_E_INVALID_PARAMETER;
    if (sortOrder->cCategories > 0)
        return MAPI_E_TOO_COMPLEX;
    for (ULONG i = 0; i < sortOrder->cSorts; ++i) {
        const SSortOrder& column = sortOrder->aSort[i];
        if (column.ulOrder != TABLE_SORT_ASCEND && column.ulOrder != TABLE_SORT_DESCEND)
            return column.ulOrder == TABLE_SORT_COMBINE ? MAPI_E_TOO_COMPLEX : MAPI_E_INVALID_PARAMETER;
        ULONG type = PROP_TYPE(column.ulPropTag);
        if (type & MV_INSTANCE)
            return MAPI_E_TOO_COMPLEX;
        if (!mapistub::IsKnownType(type))
            return MAPI_E_INVALID_PARAMETER;
        if (!mapistub::IsComparableType(type))
            return MAPI_E_TOO_COMPLEX;
    }
    return S_OK;
}

CSortKey::CSortKey(const SSortOrderSet* sortOrder)
{
    if (sortOrder)
        m_columns.assign(sortOrder->aSort, sortOrder->aSort + sortOrder->cSorts);
}

void CSortKey::AppendValue(std::string& key, const SPropValue& value)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_I2:
        AppendBigEndian(key, static_cast<USHORT>(value.Value.i) ^ 0x8000u, 2);
        break;
    case PT_BOOLEAN:
        key.push_back(value.Value.b ? '\x01' : '\0');
        break;
    case PT_LONG:
        AppendBigEndian(key, static_cast<ULONG>(value.Value.l) ^ 0x80000000u, 4);
        break;
    case PT_ERROR:
        AppendBigEndian(key, static_cast<ULONG>(value.Value.err), 4);
        break;
    case PT_R4:
        AppendDouble(key, value.Value.flt);
        break;
    case PT_DOUBLE:
    case PT_APPTIME:
        AppendDouble(key, value.Value.dbl);
        break;
    case PT_CURRENCY:
    case PT_I8:
        AppendBigEndian(key, static_cast<ULONGLONG>(value.Value.li.QuadPart) ^ 0x8000000000000000ull, 8);
        break;
    case PT_SYSTIME:
        AppendBigEndian(key, (static_cast<ULONGLONG>(value.Value.ft.dwHighDateTime) << 32) | value.Value.ft.dwLowDateTime, 8);
        break;
    case PT_CLSID:
        if (value.Value.lpguid)
            key.append(reinterpret_cast<const char*>(value.Value.lpguid), sizeof(GUID));
        else
            key.append(sizeof(GUID), '\0');
        break;
    case PT_BINARY:
    case 0x00FB:
        AppendBigEndian(key, value.Value.bin.cb, 4);
        if (value.Value.bin.cb && value.Value.bin.lpb)
            key.append(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        break;
    case PT_UNICODE:
        AppendString(key, value.Value.lpszW);
        break;
    case PT_STRING8: {
        std::wstring wide = mapistub::WideFromAnsi(value.Value.lpszA);
        AppendString(key, wide.c_str());
        break;
    }
    default:
        break;
    }
}

std::string CSortKey::KeyOf(const CTableRow& row) const
{
    std::string key;
    for (const SSortOrder& column : m_columns) {
        size_t start = key.size();
        const SPropValue* value = row.FindId(PROP_ID(column.ulPropTag));
        ULONG wanted = PROP_TYPE(column.ulPropTag);
        if (value) {
            ULONG type = PROP_TYPE(value->ulPropTag);
            bool stringPair = (mapistub::BaseType(type) == PT_STRING8 || mapistub::BaseType(type) == PT_UNICODE) &&
                              (mapistub::BaseType(wanted) == PT_STRING8 || mapistub::BaseType(wanted) == PT_UNICODE) &&
                              mapistub::IsMultiValued(type) == mapistub::IsMultiValued(wanted);
            if (type != wanted && wanted != PT_UNSPECIFIED && !stringPair)
                value = nullptr;
            else if (type == PT_ERROR || type == PT_NULL)
                value = nullptr;
        }
        if (!value) {
            key.push_back('\0');
        } else {
            key.push_back('\x01');
            if (mapistub::IsMultiValued(value->ulPropTag)) {
                for (ULONG i = 0; i < value->Value.MVl.cValues; ++i) {
                    key.push_back('\x01');
                    AppendValue(key, mapistub::Element(*value, i));
                }
                key.push_back('\0');
            } else {
                AppendValue(key, *value);
            }
        }
        if (column.ulOrder == TABLE_SORT_DESCEND)
            for (size_t i = start; i < key.size(); ++i)
                key[i] = static_cast<char>(~static_cast<unsigned char>(key[i]));
    }
    return key;
}
