#include "Platform.h"
#include "CAddInModule.h"

#include "CClassFactory.h"
#include "CConnect.h"
#include "CProvPropPage.h"
#include "CInterfaceTable.h"
#include "CRegistrar.h"
#include "ModuleLock.h"

#include <iterator>
#include <new>

namespace setup {

// {0B7D3E95-E16A-4C28-A4F3-58D9B2C71E60}
const CLSID kClsidConnect = {0x0B7D3E95, 0xE16A, 0x4C28, {0xA4, 0xF3, 0x58, 0xD9, 0xB2, 0xC7, 0x1E, 0x60}};
// {7A41E0D3-9C5B-4F86-B2D7-E06F3A8C14B9}
const CLSID kClsidProvPropPage = {0x7A41E0D3, 0x9C5B, 0x4F86, {0xB2, 0xD7, 0xE0, 0x6F, 0x3A, 0x8C, 0x14, 0xB9}};
// {4D06B8E2-7A19-4C5F-9E3D-A28C61F47B0D}
const GUID kLibidKolven32 = {0x4D06B8E2, 0x7A19, 0x4C5F, {0x9E, 0x3D, 0xA2, 0x8C, 0x61, 0xF4, 0x7B, 0x0D}};

namespace {

using common::RegistryRow;

#define KV_CONNECT_CLSID L"{0B7D3E95-E16A-4C28-A4F3-58D9B2C71E60}"
#define KV_PAGE_CLSID L"{7A41E0D3-9C5B-4F86-B2D7-E06F3A8C14B9}"
#define KV_LIBID L"{4D06B8E2-7A19-4C5F-9E3D-A28C61F47B0D}"

// The add-in class, as Outlook's add-in manager finds it by ProgID.
const RegistryRow kConnectScript[] = {
    {L"KOLVEN32.Connect.1", nullptr, L"Connect Class", RegistryRow::None},
    {L"KOLVEN32.Connect.1\\CLSID", nullptr, KV_CONNECT_CLSID, RegistryRow::None},
    {L"KOLVEN32.Connect", nullptr, L"Connect Class", RegistryRow::None},
    {L"KOLVEN32.Connect\\CLSID", nullptr, KV_CONNECT_CLSID, RegistryRow::None},
    {L"KOLVEN32.Connect\\CurVer", nullptr, L"KOLVEN32.Connect.1", RegistryRow::None},
    {L"CLSID", nullptr, nullptr, RegistryRow::NoRemove},
    {L"CLSID\\" KV_CONNECT_CLSID, nullptr, L"Connect Class", RegistryRow::ForceRemove},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\ProgID", nullptr, L"KOLVEN32.Connect.1", RegistryRow::None},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\VersionIndependentProgID", nullptr, L"KOLVEN32.Connect", RegistryRow::None},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\Programmable", nullptr, nullptr, RegistryRow::ForceRemove},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\InprocServer32", nullptr, L"%MODULE%", RegistryRow::None},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\InprocServer32", L"ThreadingModel", L"Apartment", RegistryRow::None},
    {L"CLSID\\" KV_CONNECT_CLSID L"\\TypeLib", nullptr, KV_LIBID, RegistryRow::None},
};

// The folder property page, a control that Outlook's options dialog hosts.
const RegistryRow kProvPropPageScript[] = {
    {L"KOLVEN32.ProvPropPage.1", nullptr, L"ProvPropPage Class", RegistryRow::None},
    {L"KOLVEN32.ProvPropPage.1\\CLSID", nullptr, KV_PAGE_CLSID, RegistryRow::None},
    {L"KOLVEN32.ProvPropPage", nullptr, L"ProvPropPage Class", RegistryRow::None},
    {L"KOLVEN32.ProvPropPage\\CLSID", nullptr, KV_PAGE_CLSID, RegistryRow::None},
    {L"KOLVEN32.ProvPropPage\\CurVer", nullptr, L"KOLVEN32.ProvPropPage.1", RegistryRow::None},
    {L"CLSID", nullptr, nullptr, RegistryRow::NoRemove},
    {L"CLSID\\" KV_PAGE_CLSID, nullptr, L"ProvPropPage Class", RegistryRow::ForceRemove},
    {L"CLSID\\" KV_PAGE_CLSID L"\\ProgID", nullptr, L"KOLVEN32.ProvPropPage.1", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\VersionIndependentProgID", nullptr, L"KOLVEN32.ProvPropPage", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\Programmable", nullptr, nullptr, RegistryRow::ForceRemove},
    {L"CLSID\\" KV_PAGE_CLSID L"\\InprocServer32", nullptr, L"%MODULE%", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\InprocServer32", L"ThreadingModel", L"Apartment", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\Control", nullptr, nullptr, RegistryRow::ForceRemove},
    {L"CLSID\\" KV_PAGE_CLSID L"\\ToolboxBitmap32", nullptr, L"%MODULE%, 102", RegistryRow::ForceRemove},
    {L"CLSID\\" KV_PAGE_CLSID L"\\MiscStatus", nullptr, L"0", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\MiscStatus\\1", nullptr, L"131473", RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\TypeLib", nullptr, KV_LIBID, RegistryRow::None},
    {L"CLSID\\" KV_PAGE_CLSID L"\\Version", nullptr, L"1.0", RegistryRow::None},
};

IClassFactory* ConnectFactory()
{
    // The add-in is never part of an aggregate.
    static common::CClassFactory<CConnect> factory;
    return &factory;
}

IClassFactory* ProvPropPageFactory()
{
    // The page is an ActiveX control, which a container may aggregate.
    static common::CClassFactory<CProvPropPage, common::EAggregation::Allowed> factory;
    return &factory;
}

struct ClassScript {
    const CLSID* clsid;
    IClassFactory* (*factory)();
    const RegistryRow* rows;
    size_t count;
};
const ClassScript kObjectMap[] = {
    {&kClsidConnect, &ConnectFactory, kConnectScript, std::size(kConnectScript)},
    {&kClsidProvPropPage, &ProvPropPageFactory, kProvPropPageScript, std::size(kProvPropPageScript)},
};

// Gives the thread its locale back however registration ends.
class CThreadLocaleScope {
public:
    explicit CThreadLocaleScope(LCID locale) : m_saved(GetThreadLocale()) { SetThreadLocale(locale); }
    ~CThreadLocaleScope() { SetThreadLocale(m_saved); }
    CThreadLocaleScope(const CThreadLocaleScope&) = delete;
    CThreadLocaleScope& operator=(const CThreadLocaleScope&) = delete;

private:
    LCID m_saved;
};

long LockModule() { return Module().Lock(); }
long UnlockModule() { return Module().Unlock(); }

} // namespace

CAddInModule::CAddInModule()
{
    m_initialised = InitializeCriticalSectionAndSpinCount(&m_lock, 0) != FALSE;
}

CAddInModule::~CAddInModule()
{
    for (auto it = m_termFuncs.rbegin(); it != m_termFuncs.rend(); ++it)
        it->fn(it->context);
    m_termFuncs.clear();
    if (m_git)
        m_git->Release();
    m_git = nullptr;
    if (m_initialised)
        DeleteCriticalSection(&m_lock);
}

long CAddInModule::Lock() { return InterlockedIncrement(&m_lockCount); }
long CAddInModule::Unlock() { return InterlockedDecrement(&m_lockCount); }

HRESULT CAddInModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (size_t n = 0; n < std::size(kObjectMap); ++n) {
        if (!IsEqualCLSID(rclsid, *kObjectMap[n].clsid))
            continue;
        if (!m_initialised)
            return E_UNEXPECTED;
        // Each class's factory is made on its first request and kept for
        // the module's life.
        EnterCriticalSection(&m_lock);
        if (!m_factories[n])
            m_factories[n] = kObjectMap[n].factory();
        IClassFactory* factory = m_factories[n];
        LeaveCriticalSection(&m_lock);
        return factory ? factory->QueryInterface(riid, ppv) : CLASS_E_CLASSNOTAVAILABLE;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

std::wstring CAddInModule::ModulePath() const
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD cch = GetModuleFileNameW(m_instance, &path[0], static_cast<DWORD>(path.size()));
        if (cch == 0)
            return std::wstring();
        if (cch < path.size()) {
            path.resize(cch);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

HRESULT CAddInModule::RegisterClasses(bool unregister)
{
    std::wstring module = ModulePath();
    if (module.empty())
        return HRESULT_FROM_WIN32(GetLastError());
    HRESULT hr = S_OK;
    // Unregistration walks the map backwards, so each class's keys go in the
    // reverse of the order they were written.
    size_t count = std::size(kObjectMap);
    for (size_t n = 0; n < count && SUCCEEDED(hr); ++n) {
        const ClassScript& script = unregister ? kObjectMap[count - 1 - n] : kObjectMap[n];
        common::CRegistrar registrar(script.rows, script.count);
        registrar.AddReplacement(L"%MODULE%", module);
        registrar.AddReplacement(L"%APPID%", L"");
        hr = unregister ? registrar.Unregister(false) : registrar.Register(false);
    }
    return hr;
}

HRESULT CAddInModule::RegisterTypeLibrary(bool unregister)
{
    // The registration sits under the type library's own platform (win32 in
    // the 32-bit build, win64 in the 64-bit one).
    if (unregister)
        return UnRegisterTypeLib(kLibidKolven32, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    std::wstring module = ModulePath();
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &typeLib);
    if (FAILED(hr))
        return hr;
    return RegisterTypeLib(typeLib.Get(), const_cast<OLECHAR*>(module.c_str()), nullptr);
}

HRESULT CAddInModule::RegisterServer() noexcept
{
    // The installer reaches this through a C export: nothing may be thrown
    // past it.
    try {
        CThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
        HRESULT hr = RegisterClasses(false);
        if (SUCCEEDED(hr))
            hr = RegisterTypeLibrary(false);
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CAddInModule::UnregisterServer() noexcept
{
    try {
        CThreadLocaleScope locale(LOCALE_SYSTEM_DEFAULT);
        HRESULT hr = RegisterClasses(true);
        if (SUCCEEDED(hr))
            hr = RegisterTypeLibrary(true);
        return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT CAddInModule::GetGlobalInterfaceTable(IGlobalInterfaceTable** git)
{
    if (!git)
        return E_POINTER;
    *git = nullptr;
    if (!m_initialised)
        return E_UNEXPECTED;
    HRESULT hr = S_OK;
    EnterCriticalSection(&m_lock);
    if (!m_git)
        hr = common::CreateGlobalInterfaceTable(&m_git);
    if (SUCCEEDED(hr)) {
        m_git->AddRef();
        *git = m_git;
    }
    LeaveCriticalSection(&m_lock);
    return hr;
}

HRESULT CAddInModule::AddTermFunc(TermFn fn, void* context)
{
    if (!fn)
        return E_INVALIDARG;
    if (!m_initialised)
        return E_UNEXPECTED;
    EnterCriticalSection(&m_lock);
    HRESULT hr = S_OK;
    try {
        m_termFuncs.push_back({fn, context});
    } catch (...) {
        hr = E_OUTOFMEMORY;
    }
    LeaveCriticalSection(&m_lock);
    return hr;
}

CAddInModule& Module()
{
    static CAddInModule module;
    static const bool installed = (common::SetModuleLockHandlers(&LockModule, &UnlockModule), true);
    (void)installed;
    return module;
}

} // namespace setup
