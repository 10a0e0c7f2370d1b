#include "ProviderPlatform.h"
#include "StoreLink.h"

#include "CMsgStore.h"
#include "CStoreRegistry.h"
#include "ProviderGlobals.h"

namespace setup {

void SignalStoreMailboxChanged(const MAPIUID& serviceUid)
{
    CMsgStore::SignalMailboxChanged(serviceUid);
}

void CloseOpenStoreForDelete(const std::wstring& databasePath)
{
    // The provider lock keeps the store from its last release meanwhile, so
    // the registry's pointer stays good until the teardown has run.
    CProviderGlobals& globals = ProviderGlobals();
    CCriticalSectionLock lock(globals.providerLock);
    StoreEntry entry;
    if (globals.storeRegistry.FindByPath(databasePath, entry) && entry.store)
        entry.store->Teardown(false);
}

} // namespace setup
