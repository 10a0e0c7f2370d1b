#include "Platform.h"
#include "CLocalServerActivation.h"
#include "WineHost.h"

namespace common {
namespace {

constexpr DWORD kStopWaitMilliseconds = 5000;

// Stops the RpcSs service and waits until it has stopped.
bool RestartClassTable()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, L"RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS);
    bool stopped = false;
    if (service) {
        SERVICE_STATUS status = {};
        if (ControlService(service, SERVICE_CONTROL_STOP, &status) || GetLastError() == ERROR_SERVICE_NOT_ACTIVE) {
            const DWORD start = GetTickCount();
            while (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
                   GetTickCount() - start < kStopWaitMilliseconds)
                Sleep(20);
            stopped = status.dwCurrentState == SERVICE_STOPPED;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return stopped;
}

} // namespace

bool IsServerGone(HRESULT hr)
{
    switch (hr) {
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case RPC_E_DISCONNECTED:
        return true;
    default:
        return false;
    }
}

HRESULT CreateLocalServerInstance(REFCLSID clsid, REFIID iid, void** ppv)
{
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, ppv);
    if (SUCCEEDED(hr) || !IsServerGone(hr) || !IsRunningOnWine())
        return hr;
    if (!RestartClassTable())
        return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, ppv);
}

} // namespace common
