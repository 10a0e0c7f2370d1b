// Owners of MAPI memory for code that builds a buffer before handing it out:
// an out-parameter is filled from release() only once everything succeeded.
#pragma once
#include "ProviderPlatform.h"

#include <memory>

struct CMapiBufferDeleter {
    void operator()(void* block) const
    {
        if (block)
            MAPIFreeBuffer(block);
    }
};

template <typename T>
using MapiPtr = std::unique_ptr<T, CMapiBufferDeleter>;

struct CRowSetDeleter {
    void operator()(SRowSet* rows) const
    {
        if (rows)
            FreeProws(rows);
    }
};

using RowSetPtr = std::unique_ptr<SRowSet, CRowSetDeleter>;

// A root block of size bytes, zeroed; null on failure with the allocator's
// result in hr.
template <typename T>
MapiPtr<T> MapiAllocate(ULONG size, HRESULT& hr)
{
    LPVOID block = nullptr;
    hr = MAPIAllocateBuffer(size, &block);
    if (FAILED(hr))
        return MapiPtr<T>();
    ZeroMemory(block, size);
    return MapiPtr<T>(static_cast<T*>(block));
}
