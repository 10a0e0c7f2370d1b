#pragma once
// Messages on memory storage: the property holders of the toy's objects.
#include "MapiStandin.h"

inline HRESULT NewMemoryMessage(IMessage** out)
{
    *out = nullptr;
    ComPtr<ILockBytes> bytes;
    HRESULT hr = CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.GetAddressOf());
    if (FAILED(hr))
        return hr;
    ComPtr<IStorage> storage;
    hr = StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_SHARE_EXCLUSIVE | STGM_READWRITE, 0,
                                      storage.GetAddressOf());
    if (FAILED(hr))
        return hr;
    return OpenIMsgOnIStg(nullptr, &MAPIAllocateBuffer, &MAPIAllocateMore, &MAPIFreeBuffer, MAPIGetDefaultMalloc(),
                          nullptr, storage.Get(), nullptr, 0, 0, out);
}
