#pragma once
// What the tests' toy message service records of MAPI's calls, and the
// knobs that make it fail. The toy DLL hands out one instance through its
// export ToyGetState; the tests read and set it directly.
#include "MapiStandin.h"

#include <vector>

struct ToyServiceCall {
    ULONG context;
    ULONG flags;
    ULONG cValues;
    bool hadSupport;
    bool hadAdmin;
    bool hadMalloc;
};

struct ToyState {
    std::vector<ToyServiceCall> serviceCalls;
    HRESULT serviceEntryResult = S_OK;  // returned by create/configure
    int providerInits = 0;
    ULONG mapiVersion = 0;
    bool hadAllocators = false;
    int logons = 0;
    HRESULT logonResult = S_OK;
    bool logonHadSupport = false;
    bool sectionHadServiceUid = false;  // the support's own section names the service
    ULONG logonEntryIdSize = 0;
    int shutdowns = 0;
    int logoffs = 0;
    bool syncNotifications = false;     // how the store subscribes client sinks
    IMAPISupport* lastSupport = nullptr;  // not counted
};

typedef ToyState*(WINAPI* ToyGetStateFn)();

// The toy's store entry identifier: 4 flag bytes, the service UID (which
// the store also registers with SetProviderUID), a kind and an object id.
struct ToyEntryId {
    BYTE flags[4];
    MAPIUID store;
    ULONG kind;   // 1 store, 2 folder, 3 message
    ULONG id;
};
