#include "Platform.h"
#include "CEseInstance.h"

// The engine's "not implemented" error (-1001) as an HRESULT-shaped value.
constexpr HRESULT kEseNotImplemented = static_cast<HRESULT>(0xFFFFFC17);

STDMETHODIMP CEseInstance::Init(ULONG, LPWSTR, LPWSTR)
{
    return E_NOTIMPL;
}

// Logs are replayed inside OpenStore; this entry only answers.
STDMETHODIMP CEseInstance::PlayLogFiles(LPWSTR, ULONG, _SEseRstMap*)
{
    return kEseNotImplemented;
}

STDMETHODIMP CEseInstance::OpenStore(LPWSTR, LPWSTR, IEseStore** ppStore)
{
    if (ppStore)
        *ppStore = nullptr;
    return E_NOTIMPL;
}
