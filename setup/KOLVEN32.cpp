// The library's entry point and exports. The library has three callers: MAPI
// (the store provider and the service's configuration entry), the installer
// (COM registration and the MAPISVC.INF entries) and Outlook (the add-in and
// property page classes). Every export lands in the one module object.
#include "Platform.h"
#include "ProviderPlatform.h"

#include <mapispi.h>

#include "CAddInModule.h"
#include "MapiSvcRegistration.h"
#include "ResourceStrings.h"
#include "ServiceEntry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        setup::CAddInModule& module = setup::Module();
        if (!module.IsInitialised())
            return FALSE;
        module.SetInstance(instance);
        // Texts come from the resource library when it is installed, else
        // from this library's own table.
        SetResourceInstance(instance);
        LoadResourceLibrary();
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
    (void)hInstance;
    (void)lpMalloc;
    (void)lpAllocateBuffer;
    (void)lpAllocateMore;
    (void)lpFreeBuffer;
    (void)ulFlags;
    (void)ulMAPIVer;
    (void)lpulProviderVer;
    // TODO: the store provider (its logon and message store objects) is not
    // part of this library yet; MAPI is told the provider is unavailable.
    if (lppMSProvider)
        *lppMSProvider = nullptr;
    return MAPI_E_NO_SUPPORT;
}

// MAPI's configuration entry of the message service.
extern "C" HRESULT WINAPI ServiceEntry(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG ulUIParam,
                                       ULONG ulFlags, ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                                       LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    return setup::ServiceEntryImpl(hInstance, lpMalloc, lpMAPISup, ulUIParam, ulFlags, ulContext, cValues, lpProps,
                                   lpProviderAdmin, lppMapiError);
}

// MAPI reaches both entries through GetProcAddress, so nothing else checks
// their calling conventions: these fail to compile when either differs from
// the SDK's function type (MSProviderInit is cdecl, ServiceEntry stdcall).
[[maybe_unused]] static MSPROVIDERINIT* const kProviderInitType = &MSProviderInit;
[[maybe_unused]] static MSGSERVICEENTRY* const kServiceEntryType = &ServiceEntry;
