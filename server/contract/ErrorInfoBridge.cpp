#include "Platform.h"
#include "ErrorInfoBridge.h"
#include "CErrorInfoChannel.h"
#include "WineHost.h"

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace proxy_library {
namespace {

using common::CErrorInfoChannel;

// The extent of a failing call on this thread, between ServerGetSize and
// ServerFillBuffer (COM asks for the size, then for the bytes). Only a call
// that left an error object makes one; should the reply never be filled, the
// next failing call on the thread frees it.
struct SPendingExtent {
    ULONG size;
    BYTE data[1];
};

DWORD g_pendingSlot = TLS_OUT_OF_INDEXES;
volatile LONG g_installed = 0;

SPendingExtent* TakePending()
{
    if (g_pendingSlot == TLS_OUT_OF_INDEXES)
        return nullptr;
    auto* pending = static_cast<SPendingExtent*>(TlsGetValue(g_pendingSlot));
    if (pending)
        TlsSetValue(g_pendingSlot, nullptr);
    return pending;
}

void FreePending(SPendingExtent* pending)
{
    if (pending)
        HeapFree(GetProcessHeap(), 0, pending);
}

// Wine calls the hook inside its own C code: nothing may throw out of it.
class CHook final : public IChannelHook {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IChannelHook)) {
            *ppv = static_cast<IChannelHook*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // Requests carry nothing.
    STDMETHODIMP_(void) ClientGetSize(REFGUID, REFIID, ULONG* dataSize) override { *dataSize = 0; }
    STDMETHODIMP_(void) ClientFillBuffer(REFGUID, REFIID, ULONG* dataSize, void*) override { *dataSize = 0; }

    // Called for every reply, mostly without data (size 0): then nothing is
    // done and the caller's error object stays as it is.
    STDMETHODIMP_(void) ClientNotify(REFGUID extension, REFIID, ULONG size, void* buffer, DWORD dataRep,
                                     HRESULT) override
    {
        if (size == 0 || !buffer || !IsEqualGUID(extension, CErrorInfoChannel::kExtent))
            return;
        IErrorInfo* errorInfo = nullptr;
        if (SUCCEEDED(CErrorInfoChannel::Decode(buffer, size, dataRep, &errorInfo))) {
            SetErrorInfo(0, errorInfo);
            errorInfo->Release();
        }
    }

    STDMETHODIMP_(void) ServerNotify(REFGUID, REFIID, ULONG, void*, DWORD) override {}

    // Wine asks for the size of every reply, with hrFault always S_OK, on the
    // thread that ran the method: an error object set there is this call's.
    // A successful call set none, and asking costs a look at the thread's
    // COM state; only a failing call encodes anything.
    STDMETHODIMP_(void) ServerGetSize(REFGUID extension, REFIID, HRESULT, ULONG* dataSize) override
    {
        *dataSize = 0;
        if (!IsEqualGUID(extension, CErrorInfoChannel::kExtent))
            return;
        IErrorInfo* errorInfo = nullptr;
        if (GetErrorInfo(0, &errorInfo) != S_OK || !errorInfo)
            return;
        FreePending(TakePending());
        SPendingExtent* pending = nullptr;
        try {
            std::vector<BYTE> wire = CErrorInfoChannel::Encode(errorInfo, CErrorInfoChannel::kMaxExtentBytes);
            pending = static_cast<SPendingExtent*>(
                HeapAlloc(GetProcessHeap(), 0, offsetof(SPendingExtent, data) + wire.size()));
            if (pending) {
                pending->size = static_cast<ULONG>(wire.size());
                std::memcpy(pending->data, wire.data(), wire.size());
            }
        } catch (...) {
            pending = nullptr;
        }
        errorInfo->Release();
        if (!pending)
            return; // no memory: the reply goes without the object
        if (!TlsSetValue(g_pendingSlot, pending)) {
            FreePending(pending);
            return;
        }
        *dataSize = pending->size;
    }

    STDMETHODIMP_(void) ServerFillBuffer(REFGUID extension, REFIID, ULONG* dataSize, void* buffer, HRESULT) override
    {
        SPendingExtent* pending = IsEqualGUID(extension, CErrorInfoChannel::kExtent) ? TakePending() : nullptr;
        if (pending && buffer && *dataSize >= pending->size) {
            std::memcpy(buffer, pending->data, pending->size);
            *dataSize = pending->size;
        } else {
            *dataSize = 0;
        }
        FreePending(pending);
    }
};

CHook g_hook;
INIT_ONCE g_installOnce = INIT_ONCE_STATIC_INIT;
HRESULT g_installResult = E_FAIL;

BOOL CALLBACK InstallOnce(PINIT_ONCE, void*, void**)
{
    if (!common::IsRunningOnWine()) {
        g_installResult = S_FALSE;
        return TRUE;
    }
    g_pendingSlot = TlsAlloc();
    if (g_pendingSlot == TLS_OUT_OF_INDEXES) {
        g_installResult = HRESULT_FROM_WIN32(GetLastError());
        return TRUE;
    }
    // The hook's code must stay as long as COM may call it: for the life of
    // the process.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&InstallOnce), &self);
    g_installResult = CoRegisterChannelHook(CErrorInfoChannel::kExtent, &g_hook);
    if (SUCCEEDED(g_installResult))
        InterlockedExchange(&g_installed, 1);
    return TRUE;
}

} // namespace

HRESULT InstallErrorInfoBridge()
{
    InitOnceExecuteOnce(&g_installOnce, InstallOnce, nullptr, nullptr);
    return g_installResult;
}

bool ErrorInfoBridgeInstalled() { return InterlockedCompareExchange(&g_installed, 0, 0) != 0; }

} // namespace proxy_library
