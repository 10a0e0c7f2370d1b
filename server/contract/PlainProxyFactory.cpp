#include "Platform.h"
#include "PlainProxyFactory.h"
#include "Vostrel2007.h"

#include <initializer_list>

extern "C" {
// From the generated registration routines, compiled with the Plain prefix.
HRESULT WINAPI PlainDllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
void __stdcall GetProxyDllInfo(const void*** proxyFiles, const CLSID** clsid);
}

namespace plain_proxies {
namespace {

// {4B8E2D17-6A0C-4F93-B5D1-8C27E3F90A64}: the linked factory's class id.
const CLSID kPlainFactory = {0x4b8e2d17, 0x6a0c, 0x4f93, {0xb5, 0xd1, 0x8c, 0x27, 0xe3, 0xf9, 0x0a, 0x64}};

} // namespace

HRESULT RegisterForThisApartment()
{
    const void** proxyFiles = nullptr;
    const CLSID* generatedClsid = nullptr;
    GetProxyDllInfo(&proxyFiles, &generatedClsid);
    if (!generatedClsid)
        return E_UNEXPECTED;
    IUnknown* factory = nullptr;
    HRESULT hr = PlainDllGetClassObject(*generatedClsid, IID_IPSFactoryBuffer, reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    DWORD cookie = 0;
    hr = CoRegisterClassObject(kPlainFactory, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    factory->Release();
    for (const IID* iid : {&IID_IEseInstance, &IID_IEseStore, &IID_IEseProperty, &IID_IEseFolder, &IID_IEseMessage,
                           &IID_IEseMailbox, &IID_IEseTable}) {
        if (SUCCEEDED(hr))
            hr = CoRegisterPSClsid(*iid, kPlainFactory);
    }
    return hr;
}

} // namespace plain_proxies
