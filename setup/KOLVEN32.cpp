// The library's entry point and exports. The library has three callers: MAPI
// (the store provider and the service's configuration entry), the installer
// (COM registration and the MAPISVC.INF entries) and Outlook (the add-in and
// property page classes). Every export lands in the one module object.
#include "Platform.h"
#include "ProviderPlatform.h"

#include <mapispi.h>

#include "CAddInModule.h"
#include "CProvider.h"
#include "MapiSvcRegistration.h"
#include "ProviderGlobals.h"
#include "ResourceStrings.h"
#include "ServerInterfaces.h"
#include "ServiceEntry.h"

namespace {

HRESULT ModuleInterfaceTableOf(IGlobalInterfaceTable** git)
{
    return setup::Module().GetGlobalInterfaceTable(git);
}

// The library's process-wide objects, made when it loads: the module object
// first, then the provider's (store registry, locks, mount event, the IPM
// subtree list, the resource library), destroyed in the reverse order at
// unload. Provider objects reach the database server through the module's
// interface table.
struct CLibraryGlobals {
    CLibraryGlobals()
    {
        setup::Module();
        ProviderGlobals();
        SetInterfaceTableSource(&ModuleInterfaceTableOf);
    }
};

const CLibraryGlobals g_libraryGlobals;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        setup::CAddInModule& module = setup::Module();
        if (!module.IsInitialised())
            return FALSE;
        module.SetInstance(instance);
        // Texts come from the resource library (loaded with the library's
        // globals) when it is installed, else from this library's own table.
        SetResourceInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return setup::Module().CanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    return setup::Module().GetClassObject(rclsid, riid, ppv);
}

STDAPI DllRegisterServer()
{
    return setup::Module().RegisterServer();
}

STDAPI DllUnregisterServer()
{
    return setup::Module().UnregisterServer();
}

// MAPI's entry for the message store provider.
extern "C" HRESULT STDMAPIINITCALLTYPE MSProviderInit(HINSTANCE hInstance, LPMALLOC lpMalloc,
                                                      LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                                                      LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer,
                                                      ULONG* lpulProviderVer, LPMSPROVIDER* lppMSProvider)
{
    return ProviderInit(hInstance, lpMalloc, lpAllocateBuffer, lpAllocateMore, lpFreeBuffer, ulFlags, ulMAPIVer,
                        lpulProviderVer, lppMSProvider);
}

// MAPI's configuration entry of the message service. The window handle comes
// as a ULONG_PTR, as MAPI documents it (a full pointer-sized value on x64).
extern "C" HRESULT WINAPI ServiceEntry(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam,
                                       ULONG ulFlags, ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                                       LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    return setup::ServiceEntryImpl(hInstance, lpMalloc, lpMAPISup, ulUIParam, ulFlags, ulContext, cValues, lpProps,
                                   lpProviderAdmin, lppMapiError);
}

// MAPI reaches both entries through GetProcAddress, so nothing else checks
// their calling conventions: these fail to compile when either differs from
// the SDK's function type (MSProviderInit is cdecl, ServiceEntry stdcall).
// The toolchain's MSGSERVICEENTRY types the window handle as ULONG, which is
// MAPI's ULONG_PTR only on 32-bit Windows; on x64 the entry is held against
// the documented type instead.
[[maybe_unused]] static MSPROVIDERINIT* const kProviderInitType = &MSProviderInit;
using DocumentedServiceEntry = HRESULT WINAPI(HINSTANCE, LPMALLOC, LPMAPISUP, ULONG_PTR, ULONG, ULONG, ULONG,
                                              LPSPropValue, LPPROVIDERADMIN, LPMAPIERROR*);
[[maybe_unused]] static DocumentedServiceEntry* const kServiceEntryType = &ServiceEntry;
#ifndef _WIN64
[[maybe_unused]] static MSGSERVICEENTRY* const kSdkServiceEntryType = &ServiceEntry;
#endif
