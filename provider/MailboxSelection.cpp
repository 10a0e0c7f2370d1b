#include "ProviderPlatform.h"
#include "MailboxSelection.h"

#include <limits>

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// A decimal number ending at the next blank: [-]digits, within the range of
// LONGLONG. Moves pos past the blank.
bool ReadNumber(std::wstring_view text, size_t& pos, bool allowSign, LONGLONG& value)
{
    const size_t blank = text.find(L' ', pos);
    if (blank == std::wstring_view::npos)
        return false;
    size_t i = pos;
    const bool negative = allowSign && i < blank && text[i] == L'-';
    if (negative)
        ++i;
    if (i == blank)
        return false;
    unsigned long long magnitude = 0;
    const unsigned long long limit = static_cast<unsigned long long>(std::numeric_limits<LONGLONG>::max()) +
                                     (negative ? 1 : 0);
    for (; i < blank; ++i) {
        if (!IsDigit(text[i]))
            return false;
        const unsigned digit = text[i] - L'0';
        if (magnitude > (limit - digit) / 10)
            return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? static_cast<LONGLONG>(0 - magnitude) : static_cast<LONGLONG>(magnitude);
    pos = blank + 1;
    return true;
}

} // namespace

size_t ParseMailboxSelectionItem(std::wstring_view text, MailboxSelectionItem& item)
{
    item = MailboxSelectionItem();
    size_t pos = 0;
    LONGLONG id = 0;
    if (!ReadNumber(text, pos, true, id))
        return std::wstring_view::npos;
    // The checked flag is one digit and its blank.
    if (pos + 1 >= text.size() || !IsDigit(text[pos]) || text[pos + 1] != L' ')
        return std::wstring_view::npos;
    const bool checked = text[pos] != L'0';
    pos += 2;
    LONGLONG length = 0;
    if (!ReadNumber(text, pos, false, length) || static_cast<unsigned long long>(length) > text.size() - pos)
        return std::wstring_view::npos;
    const size_t nameEnd = pos + static_cast<size_t>(length);
    if (nameEnd < text.size() && text[nameEnd] != L' ')
        return std::wstring_view::npos;
    item.id = id;
    item.checked = checked;
    item.name.assign(text.substr(pos, static_cast<size_t>(length)));
    return nameEnd < text.size() ? nameEnd + 1 : nameEnd;
}

bool ParseMailboxSelection(std::wstring_view text, ParsedMailboxSelection& result)
{
    result = ParsedMailboxSelection();
    std::vector<LONGLONG> checkedIds;
    bool complete = true;
    while (!text.empty()) {
        MailboxSelectionItem item;
        const size_t next = ParseMailboxSelectionItem(text, item);
        if (next == std::wstring_view::npos) {
            complete = false;
            break;
        }
        if (item.checked)
            checkedIds.push_back(item.id);
        else
            result.allChecked = false;
        text.remove_prefix(next);
    }
    result.count = static_cast<ULONG>(checkedIds.size());
    if (!result.allChecked)
        result.ids = std::move(checkedIds);
    return complete;
}

std::wstring FormatMailboxSelectionItem(const MailboxSelectionItem& item)
{
    return std::to_wstring(item.id) + L" " + (item.checked ? L"1" : L"0") + L" " +
           std::to_wstring(item.name.size()) + L" " + item.name + L" ";
}
