// The mailbox selection kept in a store's settings file: which mailboxes the
// IPM subtree shows. Text of items "%I64d %d %d %s " (mailbox root folder
// identifier, checked 0 or 1, name length in UTF-16 units, name). The text
// comes from a file, so every field is checked against what is there: an
// item that does not fit ends the walk with a failure, never a read past
// the end.
#pragma once
#include "ProviderPlatform.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct MailboxSelectionItem {
    LONGLONG id = 0;
    bool checked = false;
    std::wstring name;
};

struct ParsedMailboxSelection {
    // True when no item is unchecked: the store shows every mailbox the
    // server has, including ones added since the selection was written.
    bool allChecked = true;
    // The number of checked items.
    ULONG count = 0;
    // The checked identifiers; filled only when not all items are checked.
    std::vector<LONGLONG> ids;
};

// One item at the start of text. Returns the position just after it (past
// its trailing blank, which may be missing at the very end of the text), or
// npos when the text does not start with a whole item.
size_t ParseMailboxSelectionItem(std::wstring_view text, MailboxSelectionItem& item);

// Walks the items of text. True when every unit of the text belonged to an
// item (an empty text is all checked, count 0); false when a malformed item
// ended the walk, in which case the items before it stand in result.
bool ParseMailboxSelection(std::wstring_view text, ParsedMailboxSelection& result);

// The text of one item, as the mailbox pages write it.
std::wstring FormatMailboxSelectionItem(const MailboxSelectionItem& item);
