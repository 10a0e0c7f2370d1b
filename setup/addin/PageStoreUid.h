#pragma once
// The store whose folder properties Outlook is about to show, handed from the
// add-in to the "Mailboxes" page it adds: the upper-case hexadecimal text of
// the store's 16-byte UID. One value per process; the add-in sets it just
// before Outlook creates the page, and each page takes its own copy.
#include "Platform.h"

#include <string>

namespace setup {

void SetPageStoreUid(const std::wstring& hexUid);
std::wstring GetPageStoreUid();

} // namespace setup
