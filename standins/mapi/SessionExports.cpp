// MAPIInitialize, MAPIUninitialize, MAPIAdminProfiles, MAPILogonEx and the
// stub library's FGetComponentPath.
#include "MapiSubsystem.h"
#include "CMapiSession.h"
#include "CProfAdmin.h"
#include "CProfileStore.h"

#include <cstring>

namespace {

CRITICAL_SECTION* SubsystemLock()
{
    static CRITICAL_SECTION lock;
    static bool ready = [] {
        InitializeCriticalSection(&lock);
        return true;
    }();
    (void)ready;
    return &lock;
}

LONG g_initCount = 0;
// The session that MAPILogonEx without a profile name joins: the last one
// opened with MAPI_ALLOW_OTHERS (not counted; the session forgets itself).
CMapiSession* g_sharedSession = nullptr;

} // namespace

void ForgetSharedSession(CMapiSession* session)
{
    EnterCriticalSection(SubsystemLock());
    if (g_sharedSession == session)
        g_sharedSession = nullptr;
    LeaveCriticalSection(SubsystemLock());
}

STDAPI MAPIInitialize(LPVOID lpMapiInit)
{
    if (lpMapiInit && static_cast<MAPIINIT_0*>(lpMapiInit)->ulVersion != MAPI_INIT_VERSION)
        return MAPI_E_VERSION;
    InterlockedIncrement(&g_initCount);
    return S_OK;
}

STDAPI_(void) MAPIUninitialize()
{
    if (InterlockedDecrement(&g_initCount) < 0)
        InterlockedIncrement(&g_initCount);
}

STDAPI MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin)
{
    if (!lppProfAdmin)
        return MAPI_E_INVALID_PARAMETER;
    *lppProfAdmin = nullptr;
    if (g_initCount <= 0)
        return MAPI_E_NOT_INITIALIZED;
    (void)ulFlags;
    return CProfAdmin::Create(lppProfAdmin);
}

STDAPI MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword, ULONG ulFlags,
                   LPMAPISESSION* lppSession)
{
    (void)ulUIParam;
    (void)lpszPassword;
    return mapistub::Guarded([&]() -> HRESULT {
        if (!lppSession)
            return MAPI_E_INVALID_PARAMETER;
        *lppSession = nullptr;
        if (g_initCount <= 0)
            return MAPI_E_NOT_INITIALIZED;
        std::wstring name = mapistub::TextArg(lpszProfileName, ulFlags);
        if (name.empty() && !(ulFlags & MAPI_NEW_SESSION)) {
            EnterCriticalSection(SubsystemLock());
            if (g_sharedSession) {
                g_sharedSession->AddRef();
                *lppSession = g_sharedSession;
            }
            LeaveCriticalSection(SubsystemLock());
            if (*lppSession)
                return S_OK;
        }
        if (name.empty() && (ulFlags & MAPI_USE_DEFAULT))
            name = CProfileStore::DefaultProfile();
        if (name.empty() || !CProfileStore::Exists(name))
            return MAPI_E_LOGON_FAILED;
        ComPtr<IMAPISession> session;
        HRESULT hr = CMapiSession::Create(name, ulFlags, session.GetAddressOf());
        if (FAILED(hr))
            return hr;
        if (ulFlags & MAPI_ALLOW_OTHERS) {
            EnterCriticalSection(SubsystemLock());
            g_sharedSession = static_cast<CMapiSession*>(session.Get());
            LeaveCriticalSection(SubsystemLock());
        }
        *lppSession = session.Detach();
        return S_OK;
    });
}

// As the MAPI stub answers: the MAPI library that serves every component is
// this one.
extern "C" BOOL WINAPI FGetComponentPath(LPSTR szComponent, LPSTR szQualifier, LPSTR szDllPath, DWORD cchBufferSize,
                                         BOOL fInstall)
{
    (void)szQualifier;
    (void)fInstall;
    if (!szComponent || !szDllPath || cchBufferSize == 0)
        return FALSE;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&FGetComponentPath), &self))
        return FALSE;
    DWORD cch = GetModuleFileNameA(self, szDllPath, cchBufferSize);
    if (cch == 0 || cch >= cchBufferSize) {
        szDllPath[0] = 0;
        return FALSE;
    }
    return TRUE;
}
