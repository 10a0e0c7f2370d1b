// The entries of the proxy/stub library. The generated entries (named with
// the Prx prefix) do the work; these add the error-object bridge, installed
// when COM first asks the library for a class object, the first point at
// which COM is running in the process and the loader lock is not held.
#include "Platform.h"
#include "ErrorInfoBridge.h"

extern "C" {
BOOL WINAPI PrxDllMain(HINSTANCE instance, DWORD reason, void* reserved);
HRESULT WINAPI PrxDllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
HRESULT WINAPI PrxDllCanUnloadNow();
HRESULT WINAPI PrxDllRegisterServer();
HRESULT WINAPI PrxDllUnregisterServer();

// Threads come and go with every call in the RPC runtime's pool: the library
// asks for no notice of them.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return PrxDllMain(instance, reason, reserved);
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    proxy_library::InstallErrorInfoBridge();
    return PrxDllGetClassObject(clsid, iid, object);
}

// Once the bridge is installed the library stays (COM keeps calling it).
HRESULT WINAPI DllCanUnloadNow()
{
    return proxy_library::ErrorInfoBridgeInstalled() ? S_FALSE : PrxDllCanUnloadNow();
}

HRESULT WINAPI DllRegisterServer() { return PrxDllRegisterServer(); }
HRESULT WINAPI DllUnregisterServer() { return PrxDllUnregisterServer(); }
}
