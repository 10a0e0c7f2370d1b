#pragma once
// The process-wide IMalloc that MAPI hands to providers (MAPIGetDefaultMalloc),
// over the process heap. A static object: AddRef/Release only count, the
// object lives as long as the library.
#include "MapiStandin.h"

class CMapiMalloc final : public IMalloc {
public:
    // The one instance; the caller gets a reference it must release.
    static IMalloc* Instance();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP_(void*) Alloc(SIZE_T cb) override;
    STDMETHODIMP_(void*) Realloc(void* pv, SIZE_T cb) override;
    STDMETHODIMP_(void) Free(void* pv) override;
    STDMETHODIMP_(SIZE_T) GetSize(void* pv) override;
    STDMETHODIMP_(int) DidAlloc(void* pv) override;
    STDMETHODIMP_(void) HeapMinimize() override;

private:
    CMapiMalloc() = default;
    volatile LONG m_refCount = 1;
};
