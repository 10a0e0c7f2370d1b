#include "ProviderPlatform.h"
#include "ServerInterfaces.h"
#include "CInterfaceTable.h"

#include <atomic>

namespace {

std::atomic<InterfaceTableSource> g_source{nullptr};

} // namespace

void SetInterfaceTableSource(InterfaceTableSource source)
{
    g_source = source;
}

ComPtr<IGlobalInterfaceTable> ModuleInterfaceTable()
{
    ComPtr<IGlobalInterfaceTable> git;
    InterfaceTableSource source = g_source;
    HRESULT hr = source ? source(git.GetAddressOf()) : common::CreateGlobalInterfaceTable(git.GetAddressOf());
    if (FAILED(hr))
        throw _com_error(hr);
    if (!git)
        throw _com_error(E_UNEXPECTED);
    return git;
}

DWORD RegisterServerInterface(IUnknown* object, REFIID iid)
{
    if (!object)
        throw _com_error(E_POINTER);
    DWORD cookie = 0;
    HRESULT hr = ModuleInterfaceTable()->RegisterInterfaceInGlobal(object, iid, &cookie);
    if (FAILED(hr))
        throw _com_error(hr);
    return cookie;
}

void FetchServerInterface(DWORD cookie, REFIID iid, void** ppv)
{
    *ppv = nullptr;
    HRESULT hr = ModuleInterfaceTable()->GetInterfaceFromGlobal(cookie, iid, ppv);
    if (FAILED(hr))
        throw _com_error(hr);
    if (!*ppv)
        throw _com_error(E_NOINTERFACE);
}

void RevokeServerInterface(DWORD cookie) noexcept
{
    try {
        ModuleInterfaceTable()->RevokeInterfaceFromGlobal(cookie);
    } catch (...) {
    }
}
