// The test DLL's module: class objects of the test add-in and the test page
// control, their registration, and the shared script.
#include "Platform.h"
#include "CClassFactory.h"
#include "CRegistrar.h"
#include "CTestAddIn.h"
#include "CTestPageControl.h"
#include "ModuleLock.h"
#include "TestAddInScript.h"

#include <iterator>

namespace {

volatile LONG g_locks = 0;
HMODULE g_module = nullptr;

long Lock() { return InterlockedIncrement(&g_locks); }
long Unlock() { return InterlockedDecrement(&g_locks); }

#define TEST_ADDIN_CLSID L"{3B3A755B-CCC6-4B86-A4B8-7686EAF97569}"
#define TEST_PAGE_CLSID L"{E5835D7F-EFE5-4220-97D8-C6C8BA4BDEBA}"

using common::RegistryRow;
const RegistryRow kRows[] = {
    {L"VostrelTest.HostAddIn", nullptr, L"Host test add-in", RegistryRow::None},
    {L"VostrelTest.HostAddIn\\CLSID", nullptr, TEST_ADDIN_CLSID, RegistryRow::None},
    {L"CLSID", nullptr, nullptr, RegistryRow::NoRemove},
    {L"CLSID\\" TEST_ADDIN_CLSID, nullptr, L"Host test add-in", RegistryRow::ForceRemove},
    {L"CLSID\\" TEST_ADDIN_CLSID L"\\InprocServer32", nullptr, L"%MODULE%", RegistryRow::None},
    {L"CLSID\\" TEST_ADDIN_CLSID L"\\InprocServer32", L"ThreadingModel", L"Apartment", RegistryRow::None},
    {L"VostrelTest.PageControl", nullptr, L"Host test page", RegistryRow::None},
    {L"VostrelTest.PageControl\\CLSID", nullptr, TEST_PAGE_CLSID, RegistryRow::None},
    {L"CLSID\\" TEST_PAGE_CLSID, nullptr, L"Host test page", RegistryRow::ForceRemove},
    {L"CLSID\\" TEST_PAGE_CLSID L"\\InprocServer32", nullptr, L"%MODULE%", RegistryRow::None},
    {L"CLSID\\" TEST_PAGE_CLSID L"\\InprocServer32", L"ThreadingModel", L"Apartment", RegistryRow::None},
    {L"CLSID\\" TEST_PAGE_CLSID L"\\Control", nullptr, nullptr, RegistryRow::None},
    {L"CLSID\\" TEST_PAGE_CLSID L"\\MiscStatus", nullptr, L"0", RegistryRow::None},
    {L"CLSID\\" TEST_PAGE_CLSID L"\\MiscStatus\\1", nullptr, L"131473", RegistryRow::None},
};

common::CRegistrar Registrar()
{
    common::CRegistrar registrar(kRows, std::size(kRows));
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_module, path, MAX_PATH);
    registrar.AddReplacement(L"%MODULE%", path);
    return registrar;
}

} // namespace

extern "C" TestAddInScript* WINAPI TestAddInScriptOf()
{
    static TestAddInScript script;
    return &script;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        common::SetModuleLockHandlers(&Lock, &Unlock);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    static common::CClassFactory<olhosttest::CTestAddIn> addInFactory;
    static common::CClassFactory<olhosttest::CTestPageControl> pageFactory;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualCLSID(clsid, kClsidTestAddIn))
        return addInFactory.QueryInterface(riid, ppv);
    if (IsEqualCLSID(clsid, kClsidTestPageControl))
        return pageFactory.QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return Registrar().Register(false);
}

STDAPI DllUnregisterServer()
{
    return Registrar().Unregister(false);
}
