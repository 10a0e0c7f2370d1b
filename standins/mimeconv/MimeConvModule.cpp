// The stand-in MIME converter's module: its class object, registered under
// CLSID_IConverterSession as an in-process server the way Outlook registers
// its converter.
#include "Platform.h"
#include "CConverterSession.h"

#include "CClassFactory.h"
#include "CRegistrar.h"
#include "ModuleLock.h"

#include <string>

namespace {

HMODULE g_module = nullptr;
volatile LONG g_locks = 0;

long Lock() { return InterlockedIncrement(&g_locks); }
long Unlock() { return InterlockedDecrement(&g_locks); }

// No ForceRemove: registering again rewrites the same values and never leaves
// the class unregistered for a moment while others create it.
const common::RegistryRow kRows[] = {
    {L"CLSID\\%CLASS%", nullptr, L"IConverterSession (Vostrel stand-in)", common::RegistryRow::None},
    {L"CLSID\\%CLASS%\\InprocServer32", nullptr, L"%MODULE%", common::RegistryRow::None},
    {L"CLSID\\%CLASS%\\InprocServer32", L"ThreadingModel", L"Both", common::RegistryRow::None},
};

common::CRegistrar MakeRegistrar()
{
    common::CRegistrar registrar(kRows, sizeof(kRows) / sizeof(kRows[0]));
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_IConverterSession, clsid, 40);
    registrar.AddReplacement(L"%MODULE%", path);
    registrar.AddReplacement(L"%CLASS%", clsid);
    return registrar;
}

common::CClassFactory<CConverterSession> g_factory;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        common::SetModuleLockHandlers(&Lock, &Unlock);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_IConverterSession))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return MakeRegistrar().Register(false);
}

STDAPI DllUnregisterServer()
{
    return MakeRegistrar().Unregister(false);
}
