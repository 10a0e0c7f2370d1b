/* Force-included into the generated proxy sources: the toolchain declares the
 * IUnknown proxy helpers (exported by rpcrt4) only for C++, while the
 * generated C vtables refer to them. */
#include <objbase.h>
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
