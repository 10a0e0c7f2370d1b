#include "MapiStandin.h"
#include "CTableRow.h"
#include "PropValue.h"

#include <algorithm>
#include <cstring>

std::shared_ptr<CTableRow> CTableRow::Create(ULONG cValues, const SPropValue* props, HRESULT& hr)
{
    hr = S_OK;
    if (cValues > 0 && !props) {
        hr = MAPI_E_INVALID_PARAMETER;
        return nullptr;
    }
    ULONG size = 0;
    hr = mapistub::CountProps(static_cast<int>(cValues), props, &size);
    if (FAILED(hr))
        return nullptr;
    std::shared_ptr<CTableRow> row(new (std::nothrow) CTableRow());
    if (!row) {
        hr = MAPI_E_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    row->m_block.reset(new (std::nothrow) ULONGLONG[(size + 7) / 8 + 1]);
    if (!row->m_block) {
        hr = MAPI_E_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    hr = ScCopyProps(static_cast<int>(cValues), const_cast<LPSPropValue>(props), row->m_block.get(), nullptr);
    if (FAILED(hr))
        return nullptr;
    row->m_props = reinterpret_cast<SPropValue*>(row->m_block.get());
    row->m_count = cValues;
    row->m_byId.reserve(cValues);
    for (ULONG i = 0; i < cValues; ++i)
        row->m_byId.emplace_back(PROP_ID(props[i].ulPropTag), i);
    std::stable_sort(row->m_byId.begin(), row->m_byId.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return row;
}

const SPropValue* CTableRow::FindId(ULONG propId) const
{
    auto it = std::lower_bound(m_byId.begin(), m_byId.end(), propId,
                               [](const std::pair<ULONG, ULONG>& entry, ULONG id) { return entry.first < id; });
    if (it == m_byId.end() || it->first != propId)
        return nullptr;
    return &m_props[it->second];
}

const SPropValue* CTableRow::FindTag(ULONG tag) const
{
    ULONG id = PROP_ID(tag);
    auto it = std::lower_bound(m_byId.begin(), m_byId.end(), id,
                               [](const std::pair<ULONG, ULONG>& entry, ULONG value) { return entry.first < value; });
    for (; it != m_byId.end() && it->first == id; ++it) {
        const SPropValue& value = m_props[it->second];
        if (value.ulPropTag == tag || PROP_TYPE(tag) == PT_UNSPECIFIED)
            return &value;
    }
    return nullptr;
}

std::string CTableRow::KeyOf(const SPropValue& value)
{
    std::string key;
    ULONG type = PROP_TYPE(value.ulPropTag);
    key.append(reinterpret_cast<const char*>(&type), sizeof(type));
    switch (type) {
    case PT_BINARY:
        if (value.Value.bin.lpb)
            key.append(reinterpret_cast<const char*>(value.Value.bin.lpb), value.Value.bin.cb);
        break;
    case PT_STRING8:
        if (value.Value.lpszA)
            key.append(value.Value.lpszA);
        break;
    case PT_UNICODE:
        if (value.Value.lpszW)
            key.append(reinterpret_cast<const char*>(value.Value.lpszW), wcslen(value.Value.lpszW) * sizeof(WCHAR));
        break;
    case PT_CLSID:
        if (value.Value.lpguid)
            key.append(reinterpret_cast<const char*>(value.Value.lpguid), sizeof(GUID));
        break;
    case PT_I2:
    case PT_BOOLEAN:
        key.append(reinterpret_cast<const char*>(&value.Value.i), sizeof(short));
        break;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
        key.append(reinterpret_cast<const char*>(&value.Value.l), sizeof(LONG));
        break;
    default:
        key.append(reinterpret_cast<const char*>(&value.Value.li), sizeof(LARGE_INTEGER));
        break;
    }
    return key;
}
