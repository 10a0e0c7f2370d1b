#include "MapiStandin.h"
#include "CMapiMalloc.h"

IMalloc* CMapiMalloc::Instance()
{
    static CMapiMalloc instance;
    instance.AddRef();
    return &instance;
}

STDMETHODIMP CMapiMalloc::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IMalloc))
        return E_NOINTERFACE;
    *ppv = static_cast<IMalloc*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CMapiMalloc::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

STDMETHODIMP_(ULONG) CMapiMalloc::Release()
{
    // Never below 1: the object is static.
    LONG count = InterlockedDecrement(&m_refCount);
    if (count < 1) {
        InterlockedIncrement(&m_refCount);
        count = 1;
    }
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(void*) CMapiMalloc::Alloc(SIZE_T cb)
{
    return HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
}

STDMETHODIMP_(void*) CMapiMalloc::Realloc(void* pv, SIZE_T cb)
{
    if (!pv)
        return Alloc(cb);
    if (cb == 0) {
        Free(pv);
        return nullptr;
    }
    return HeapReAlloc(GetProcessHeap(), 0, pv, cb);
}

STDMETHODIMP_(void) CMapiMalloc::Free(void* pv)
{
    if (pv)
        HeapFree(GetProcessHeap(), 0, pv);
}

STDMETHODIMP_(SIZE_T) CMapiMalloc::GetSize(void* pv)
{
    return pv ? HeapSize(GetProcessHeap(), 0, pv) : static_cast<SIZE_T>(-1);
}

STDMETHODIMP_(int) CMapiMalloc::DidAlloc(void* pv)
{
    return pv ? -1 : 0;
}

STDMETHODIMP_(void) CMapiMalloc::HeapMinimize()
{
}
