#include "ProviderPlatform.h"
#include "DisplayRecipients.h"
#include "MapiStrings.h"

namespace {

constexpr wchar_t kSeparator[] = L"; ";

void Append(std::wstring& list, const std::wstring& name)
{
    if (!list.empty())
        list += kSeparator;
    list += name;
}

HRESULT Store(const std::wstring& list, int position, ULONG tag, SPropValue* values, LPVOID parent)
{
    if (list.empty() || position < 0 || PROP_TYPE(values[position].ulPropTag) != PT_ERROR)
        return S_OK;
    LPWSTR copy = nullptr;
    const HRESULT hr = MapiDupString(list.c_str(), parent, &copy);
    if (FAILED(hr))
        return hr;
    values[position].ulPropTag = tag;
    values[position].dwAlignPad = 0;
    values[position].Value.lpszW = copy;
    return S_OK;
}

} // namespace

const std::wstring* RecipientShownName(const SRecipientRecord& record)
{
    if (record.hasDisplayName && !record.displayName.empty())
        return &record.displayName;
    if (record.hasAddress && !record.address.empty())
        return &record.address;
    return nullptr;
}

SDisplayRecipients CollectDisplayRecipients(const std::vector<SRecipientRecord>& records)
{
    SDisplayRecipients lists;
    for (const SRecipientRecord& record : records) {
        const std::wstring* name = RecipientShownName(record);
        if (!name)
            continue;
        switch (record.type) {
        case MAPI_TO:
            Append(lists.to, *name);
            break;
        case MAPI_CC:
            Append(lists.cc, *name);
            break;
        case MAPI_BCC:
            Append(lists.bcc, *name);
            break;
        default:
            break;
        }
    }
    return lists;
}

bool NoteDisplayTag(ULONG tag, int position, SDisplayPositions& positions)
{
    switch (tag) {
    case kPrDisplayToW:
        positions.to = position;
        return true;
    case kPrDisplayCcW:
        positions.cc = position;
        return true;
    case kPrDisplayBccW:
        positions.bcc = position;
        return true;
    default:
        return false;
    }
}

HRESULT StoreDisplayRecipients(const SDisplayRecipients& lists, const SDisplayPositions& positions, SPropValue* values,
                               LPVOID parent)
{
    if (!values)
        return E_INVALIDARG;
    HRESULT result = S_OK;
    const HRESULT to = Store(lists.to, positions.to, kPrDisplayToW, values, parent);
    const HRESULT cc = Store(lists.cc, positions.cc, kPrDisplayCcW, values, parent);
    const HRESULT bcc = Store(lists.bcc, positions.bcc, kPrDisplayBccW, values, parent);
    for (HRESULT hr : {to, cc, bcc})
        if (FAILED(hr) && SUCCEEDED(result))
            result = hr;
    return result;
}
