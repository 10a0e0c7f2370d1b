#include "ProviderPlatform.h"
#include "StoreLink.h"

namespace setup {

void SignalStoreMailboxChanged(const MAPIUID& serviceUid)
{
    // TODO: call the store's own SignalMailboxChanged once the message store
    // is part of this library; until then the event is set here, by the name
    // the store's watcher waits on.
    GUID guid;
    static_assert(sizeof(guid) == sizeof(serviceUid.ab), "a service UID is 16 bytes");
    memcpy(&guid, serviceUid.ab, sizeof(guid));
    wchar_t text[40] = {};
    if (!StringFromGUID2(guid, text, 40))
        return;
    const std::wstring name = std::wstring(text) + L"MailboxChanged";
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (!event)
        return;
    SetEvent(event);
    CloseHandle(event);
}

void CloseOpenStoreForDelete(const std::wstring& databasePath)
{
    // TODO: find the store in the open-store registry by its database path
    // and run its teardown without dismounting; the message store and its
    // registry are not part of this library yet, so no store can be open.
    (void)databasePath;
}

} // namespace setup
