// The provider's process-wide objects, made when the library loads (the
// module object first, then these in the order of their members) and
// destroyed in the reverse order when it unloads.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"
#include "CStoreRegistry.h"
#include "SearchFolderRegistry.h"

#include <list>

class CIpmSubtreeFolder;

struct CProviderGlobals {
    CProviderGlobals();
    ~CProviderGlobals();
    CProviderGlobals(const CProviderGlobals&) = delete;
    CProviderGlobals& operator=(const CProviderGlobals&) = delete;

    // The open stores by database path.
    CStoreRegistry storeRegistry;
    // Taken by Logon for its look-up and its insertion, and by a store's
    // last release while its count reaches zero and it leaves the registry,
    // so that a logon never hands out a store that is going. Nothing that
    // calls the server, MAPI's support object or shows a message box runs
    // under it.
    CCriticalSection providerLock;
    // The event every image mount hands to the driver (the image layer's).
    HANDLE mountEvent = nullptr;
    // Every live IPM subtree folder, walked by the stores' watcher threads.
    std::list<CIpmSubtreeFolder*> ipmSubtreeFolders;
    CCriticalSection folderListLock;
    // The resource library with the branded texts (null when absent).
    HMODULE resourceLibrary = nullptr;
    // The search folders made in this process, with their names.
    CSearchFolderRegistry searchFolders;
};

// Made on first use; the module makes it at load.
CProviderGlobals& ProviderGlobals();
