// The stand-in HTML filter's module: its class object and its registration
// as the persistent handler of ".html" and ".htm" whose IFilter is the
// filter, the way the system's HTML filter is registered.
#include "Platform.h"
#include "CHtmlFilter.h"

#include "CClassFactory.h"
#include "CRegistrar.h"
#include "ModuleLock.h"

#include <string>

namespace {

HMODULE g_module = nullptr;
volatile LONG g_locks = 0;

long Lock() { return InterlockedIncrement(&g_locks); }
long Unlock() { return InterlockedDecrement(&g_locks); }

const common::RegistryRow kRows[] = {
    {L"CLSID\\%FILTER%", nullptr, L"Vostrel stand-in HTML filter", common::RegistryRow::ForceRemove},
    {L"CLSID\\%FILTER%\\InprocServer32", nullptr, L"%MODULE%", common::RegistryRow::None},
    {L"CLSID\\%FILTER%\\InprocServer32", L"ThreadingModel", L"Both", common::RegistryRow::None},
    {L"CLSID\\%HANDLER%", nullptr, L"HTML persistent handler", common::RegistryRow::ForceRemove},
    {L"CLSID\\%HANDLER%\\PersistentAddinsRegistered", nullptr, nullptr, common::RegistryRow::None},
    {L"CLSID\\%HANDLER%\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}", nullptr, L"%FILTER%",
     common::RegistryRow::None},
    {L".html", nullptr, nullptr, common::RegistryRow::NoRemove},
    {L".html\\PersistentHandler", nullptr, L"%HANDLER%", common::RegistryRow::None},
    {L".htm", nullptr, nullptr, common::RegistryRow::NoRemove},
    {L".htm\\PersistentHandler", nullptr, L"%HANDLER%", common::RegistryRow::None},
};

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

common::CRegistrar MakeRegistrar()
{
    common::CRegistrar registrar(kRows, sizeof(kRows) / sizeof(kRows[0]));
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(g_module, path, MAX_PATH);
    registrar.AddReplacement(L"%MODULE%", path);
    registrar.AddReplacement(L"%FILTER%", GuidText(CLSID_VostrelHtmlFilter));
    registrar.AddReplacement(L"%HANDLER%", GuidText(CLSID_VostrelHtmlPersistentHandler));
    return registrar;
}

common::CClassFactory<CHtmlFilter> g_factory;

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
    if (!IsEqualCLSID(rclsid, CLSID_VostrelHtmlFilter))
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
