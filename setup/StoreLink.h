#pragma once
// What the service entry asks of the stores this process has open: to
// refresh their mailbox list after the selection changed, and to close a
// store whose service is being deleted.
#include "ProviderPlatform.h"

#include <string>

namespace setup {

// Tells the open store of this service (in any process) that its mailbox
// selection changed; nothing happens when no store of the service is open.
void SignalStoreMailboxChanged(const MAPIUID& serviceUid);

// Closes the store opened on this database path in this process, if there is
// one, without dismounting its images (the caller takes those down).
void CloseOpenStoreForDelete(const std::wstring& databasePath);

} // namespace setup
