#include "Platform.h"
#include "CVostrelModule.h"
#include "CClassFactory.h"
#include "CInterfaceRegistrations.h"
#include "CRegistrar.h"
#include "ModuleLock.h"
#include "objects/CEseInstance.h"
#include "Vostrel2007.h"

#include <cwchar>
#include <string>

CVostrelModule* CVostrelModule::s_instance = nullptr;

namespace {

const wchar_t kAppId[] = L"{A7C04E19-2D85-4B3F-9E61-C48F0A5D7B93}";

// The application id, in the root of the class registry.
const common::RegistryRow kAppIdScript[] = {
    {L"AppID", nullptr, nullptr, common::RegistryRow::NoRemove},
    {L"AppID\\%APPID%", nullptr, L"Morvane.Vostrel2007", 0},
    {L"AppID\\Vostrel.EXE", L"AppID", L"%APPID%", 0},
};

#define VOSTREL_CLSID L"{3F1A7C42-9B6E-4D2A-8C15-7E04B9D2A6F1}"

// The class, its two ProgIDs and its server.
const common::RegistryRow kClassScript[] = {
    {L"Morvane.Vostrel2007.EseInstance.1", nullptr, L"Exchange 2007 ESE Instance Class", 0},
    {L"Morvane.Vostrel2007.EseInstance.1\\CLSID", nullptr, VOSTREL_CLSID, 0},
    {L"Morvane.Vostrel2007.EseInstance", nullptr, L"Exchange 2007 ESE Instance Class", 0},
    {L"Morvane.Vostrel2007.EseInstance\\CLSID", nullptr, VOSTREL_CLSID, 0},
    {L"Morvane.Vostrel2007.EseInstance\\CurVer", nullptr, L"Morvane.Vostrel2007.EseInstance.1", 0},
    {L"CLSID", nullptr, nullptr, common::RegistryRow::NoRemove},
    {L"CLSID\\" VOSTREL_CLSID, nullptr, L"Exchange 2007 ESE Instance Class", common::RegistryRow::ForceRemove},
    {L"CLSID\\" VOSTREL_CLSID, L"AppID", L"%APPID%", 0},
    {L"CLSID\\" VOSTREL_CLSID L"\\ProgID", nullptr, L"Morvane.Vostrel2007.EseInstance.1", 0},
    {L"CLSID\\" VOSTREL_CLSID L"\\VersionIndependentProgID", nullptr, L"Morvane.Vostrel2007.EseInstance", 0},
    {L"CLSID\\" VOSTREL_CLSID L"\\LocalServer32", nullptr, L"%MODULE%", 0},
    {L"CLSID\\" VOSTREL_CLSID L"\\LocalServer32", L"ThreadingModel", L"Apartment", 0},
    {L"CLSID\\" VOSTREL_CLSID L"\\TypeLib", nullptr, L"{8E52D1B7-4C3A-4F69-A0D4-15C9E7B3F208}", 0},
};

common::CClassFactory<CEseInstance> g_instanceFactory;

long LockThunk() { return CVostrelModule::Instance()->Lock(); }
long UnlockThunk() { return CVostrelModule::Instance()->Unlock(); }

bool IsSwitchEnd(wchar_t c) { return c == L'\0' || c == L' ' || c == L'\t'; }

// Whether the word at `at` is exactly `word`, compared in upper case.
bool WordIs(const wchar_t* at, const wchar_t* word)
{
    const wchar_t* p = at;
    for (const wchar_t* w = word; *w; ++w, ++p) {
        if (IsSwitchEnd(*p))
            return false;
        wchar_t a[2] = {*p, 0};
        wchar_t b[2] = {*w, 0};
        CharUpperW(a);
        CharUpperW(b);
        if (a[0] != b[0])
            return false;
    }
    return IsSwitchEnd(*p);
}

using RegisterTypeLibFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

} // namespace

EServerSwitch ParseServerCommandLine(const wchar_t* commandLine, bool* perUser)
{
    struct Known {
        const wchar_t* word;
        EServerSwitch action;
        bool perUser;
    };
    static const Known kSwitches[] = {
        {L"RegServer", EServerSwitch::RegServer, false},
        {L"UnregServer", EServerSwitch::UnregServer, false},
        {L"RegServerPerUser", EServerSwitch::RegServer, true},
        {L"UnregServerPerUser", EServerSwitch::UnregServer, true},
    };
    *perUser = false;
    if (!commandLine)
        return EServerSwitch::None;
    for (const wchar_t* p = commandLine; *p; p = CharNextW(p)) {
        if (*p != L'-' && *p != L'/')
            continue;
        const wchar_t* word = CharNextW(p);
        for (const Known& known : kSwitches) {
            if (WordIs(word, known.word)) {
                *perUser = known.perUser;
                return known.action;
            }
        }
        // An unknown word: go on after it.
        while (!IsSwitchEnd(*word))
            word = CharNextW(word);
        if (!*word)
            break;
        p = word;
    }
    return EServerSwitch::None;
}

CVostrelModule::CVostrelModule() : m_mainThreadId(GetCurrentThreadId())
{
    s_instance = this;
    common::SetModuleLockHandlers(&LockThunk, &UnlockThunk);
    m_shutdownEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    GetModuleFileNameW(nullptr, m_modulePath, MAX_PATH);

    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) {
        m_comInitialized = true;
    } else if (hr != RPC_E_CHANGED_MODE || !GetModuleHandleW(L"Mscoree.dll")) {
        // Another apartment mode is acceptable only where the .NET runtime set it.
        m_startupFailed = true;
    }
}

CVostrelModule::~CVostrelModule()
{
    if (m_comInitialized)
        CoUninitialize();
    if (m_shutdownEvent)
        CloseHandle(m_shutdownEvent);
    common::SetModuleLockHandlers(nullptr, nullptr);
    s_instance = nullptr;
}

int CVostrelModule::Run(const wchar_t* commandLine)
{
    if (m_startupFailed)
        return -1;
    bool perUser = false;
    switch (ParseServerCommandLine(commandLine, &perUser)) {
    case EServerSwitch::RegServer:
        m_perUser = perUser;
        return static_cast<int>(RegisterServer(perUser));
    case EServerSwitch::UnregServer:
        m_perUser = perUser;
        return static_cast<int>(UnregisterServer(perUser));
    case EServerSwitch::None:
        break;
    }
    return static_cast<int>(RunServer());
}

long CVostrelModule::Lock() { return InterlockedIncrement(&m_lockCount); }

long CVostrelModule::Unlock()
{
    long count = InterlockedDecrement(&m_lockCount);
    if (count == 0) {
        if (m_draining) {
            PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
        } else if (m_delayShutdown) {
            InterlockedExchange(&m_activity, 1);
            SetEvent(m_shutdownEvent);
        } else {
            PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
        }
    }
    return count;
}

HRESULT CVostrelModule::RegisterAppId(bool perUser, bool unregister)
{
    common::CRegistrar registrar(kAppIdScript, sizeof kAppIdScript / sizeof kAppIdScript[0]);
    registrar.AddReplacement(L"%APPID%", kAppId);
    registrar.AddReplacement(L"%MODULE%", m_modulePath);
    return unregister ? registrar.Unregister(perUser) : registrar.Register(perUser);
}

HRESULT CVostrelModule::RegisterClass(bool perUser, bool unregister)
{
    common::CRegistrar registrar(kClassScript, sizeof kClassScript / sizeof kClassScript[0]);
    registrar.AddReplacement(L"%APPID%", kAppId);
    registrar.AddReplacement(L"%MODULE%", m_modulePath);
    return unregister ? registrar.Unregister(perUser) : registrar.Register(perUser);
}

HRESULT CVostrelModule::RegisterTypeLibrary(bool perUser, bool unregister)
{
    std::wstring path = m_modulePath;
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib);
    if (FAILED(hr)) {
        // The library is normally resource 1 of the program; a .tlb beside it also serves.
        size_t dot = path.find_last_of(L'.');
        size_t slash = path.find_last_of(L"\\/");
        if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
            path.erase(dot);
        path += L".tlb";
        hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLib);
    }
    if (FAILED(hr))
        return hr;

    HMODULE oleaut = perUser ? GetModuleHandleW(L"OLEAUT32.DLL") : nullptr;
    if (!unregister) {
        RegisterTypeLibFn registerFn = &RegisterTypeLib;
        if (perUser) {
            auto found = oleaut ? reinterpret_cast<RegisterTypeLibFn>(
                                      reinterpret_cast<void*>(GetProcAddress(oleaut, "RegisterTypeLibForUser")))
                                : nullptr;
            if (!found)
                return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
            registerFn = found;
        }
        return registerFn(typeLib.Get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
    }

    TLIBATTR* attr = nullptr;
    hr = typeLib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    UnRegisterTypeLibFn unregisterFn = &UnRegisterTypeLib;
    if (perUser) {
        auto found = oleaut ? reinterpret_cast<UnRegisterTypeLibFn>(
                                  reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLibForUser")))
                            : nullptr;
        if (!found) {
            typeLib->ReleaseTLibAttr(attr);
            return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        }
        unregisterFn = found;
    }
    hr = unregisterFn(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    typeLib->ReleaseTLibAttr(attr);
    return hr;
}

HRESULT CVostrelModule::RegisterServer(bool perUser)
{
    HRESULT hr = RegisterAppId(perUser, false);
    if (SUCCEEDED(hr))
        hr = RegisterClass(perUser, false);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLibrary(perUser, false);
    return hr;
}

HRESULT CVostrelModule::UnregisterServer(bool perUser)
{
    HRESULT hr = RegisterClass(perUser, true);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLibrary(perUser, true);
    if (SUCCEEDED(hr))
        hr = RegisterAppId(perUser, true);
    return hr;
}

bool CVostrelModule::StartMonitor()
{
    if (!m_shutdownEvent)
        return false;
    HANDLE thread = CreateThread(nullptr, 0, &CVostrelModule::MonitorThread, this, 0, nullptr);
    if (!thread) {
        CloseHandle(m_shutdownEvent);
        m_shutdownEvent = nullptr;
        return false;
    }
    CloseHandle(thread);
    return true;
}

void CVostrelModule::PumpMessages()
{
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// An activation can reach the class object after the monitor decided to end
// the process and before the class object is revoked; ending then would take
// that client's new object with it (its next call fails with
// RPC_S_CALL_FAILED). Once the class object is revoked no further activation
// reaches this copy, COM starts a new one, so the objects already handed out
// are served until their clients release them.
void CVostrelModule::ServeRemainingObjects()
{
    InterlockedExchange(&m_draining, 1);
    while (InterlockedCompareExchange(&m_lockCount, 0, 0) > 0)
        PumpMessages();
}

DWORD WINAPI CVostrelModule::MonitorThread(void* self)
{
    static_cast<CVostrelModule*>(self)->Monitor();
    return 0;
}

void CVostrelModule::Monitor()
{
    for (;;) {
        WaitForSingleObject(m_shutdownEvent, INFINITE);
        DWORD wait;
        do {
            InterlockedExchange(&m_activity, 0);
            wait = WaitForSingleObject(m_shutdownEvent, kIdleTimeoutMs);
        } while (wait == WAIT_OBJECT_0);
        if (InterlockedCompareExchange(&m_activity, 0, 0) == 0 && m_lockCount == 0)
            break;
    }
    HANDLE event = m_shutdownEvent;
    m_shutdownEvent = nullptr;
    CloseHandle(event);
    PostThreadMessageW(m_mainThreadId, WM_QUIT, 0, 0);
}

HRESULT CVostrelModule::RunServer()
{
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_X2007EseInstance, &g_instanceFactory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie);
    if (hr != S_OK) {
        m_delayShutdown = false;
    } else if (m_delayShutdown) {
        if (!StartMonitor()) {
            hr = E_FAIL;
        } else {
            // The idle period also runs from the start: a copy that no client
            // ever reaches (two clients launched the server at once, and COM
            // gave both the other copy) ends like one whose last object went,
            // instead of waiting for ever.
            InterlockedExchange(&m_activity, 1);
            SetEvent(m_shutdownEvent);
        }
    }
    if (FAILED(hr))
        return hr;
    server::CInterfaceRegistrations registrations;
    registrations.Hold();
    if (hr == S_OK)
        PumpMessages();
    hr = CoRevokeClassObject(cookie);
    ServeRemainingObjects();
    registrations.Release();
    if (m_delayShutdown)
        Sleep(kPauseBeforeExitMs);
    return hr;
}
