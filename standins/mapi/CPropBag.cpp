#include "MapiStandin.h"
#include "CPropBag.h"
#include "CTableRow.h"

HRESULT CPropBag::Set(const SPropValue& value)
{
    HRESULT hr = S_OK;
    std::shared_ptr<CTableRow> copy = CTableRow::Create(1, &value, hr);
    if (!copy)
        return hr;
    m_values[PROP_ID(value.ulPropTag)] = std::move(copy);
    return S_OK;
}

bool CPropBag::Delete(ULONG propId)
{
    return m_values.erase(propId) != 0;
}

const SPropValue* CPropBag::Find(ULONG propId) const
{
    auto it = m_values.find(propId);
    return it == m_values.end() ? nullptr : it->second->Props();
}

std::vector<ULONG> CPropBag::Tags() const
{
    std::vector<ULONG> tags;
    tags.reserve(m_values.size());
    for (const auto& item : m_values)
        tags.push_back(item.second->Props()->ulPropTag);
    return tags;
}
