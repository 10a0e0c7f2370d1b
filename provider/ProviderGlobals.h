// The provider's process-wide objects, made when the library loads (the
// module object first, then these in the order of their members) and
// destroyed in the reverse order when it unloads.
#pragma once
#include "ProviderPlatform.h"
#include "CCriticalSection.h"
#include "CStoreRegistry.h"

#include <list>

class CIpmSubtreeFolder;

struct CProviderGlobals {
    CProviderGlobals();
    ~CProviderGlobals();
    CProviderGlobals(const CProviderGlobals&) = delete;
    CProviderGlobals& operator=(const CProviderGlobals&) = delete;

    // The open stores by database path.
    CStoreRegistry storeRegistry;
    // Taken by Logon for its whole find-open-register sequence, and by a
    // store's last release, so that a logon never hands out a store that is
    // going.
    CCriticalSection providerLock;
    // The event every image mount hands to the driver (the image layer's).
    HANDLE mountEvent = nullptr;
    // Every live IPM subtree folder, walked by the stores' watcher threads.
    std::list<CIpmSubtreeFolder*> ipmSubtreeFolders;
    CCriticalSection folderListLock;
    // The resource library with the branded texts (null when absent).
    HMODULE resourceLibrary = nullptr;
};

// Made on first use; the module makes it at load.
CProviderGlobals& ProviderGlobals();
