// Owners of MAPI memory for code that builds a buffer before handing it out:
// an out-parameter is filled from release() only once everything succeeded.
// Non-copyable (unique_ptr): a copy would free twice.
//
// Two allocators are in play: the provider's (the routines MSProviderInit
// kept, ProviderMemory.h) for everything the provider makes, and MAPI's own
// for the few buffers MAPI makes for the provider. Each owner frees with the
// allocator its block came from.
#pragma once
#include "ProviderPlatform.h"
#include "ProviderMemory.h"

#include <memory>

// A block of the provider's allocator.
struct CMapiBufferDeleter {
    void operator()(void* block) const
    {
        if (block)
            ProviderFreeBuffer(block);
    }
};

template <typename T>
using MapiPtr = std::unique_ptr<T, CMapiBufferDeleter>;

// A block MAPI allocated (HrGetOneProp, a profile section's GetProps).
struct CSubsystemBufferDeleter {
    void operator()(void* block) const
    {
        if (block)
            MAPIFreeBuffer(block);
    }
};

template <typename T>
using SubsystemPtr = std::unique_ptr<T, CSubsystemBufferDeleter>;

// Rows of the provider's own in-memory tables.
struct CRowSetDeleter {
    void operator()(SRowSet* rows) const { FreeProviderRows(rows); }
};

using RowSetPtr = std::unique_ptr<SRowSet, CRowSetDeleter>;

// A root block of size bytes from the provider's allocator, zeroed; null on
// failure with the allocator's result in hr.
template <typename T>
MapiPtr<T> MapiAllocate(ULONG size, HRESULT& hr)
{
    LPVOID block = nullptr;
    hr = ProviderAllocateBuffer(size, &block);
    if (FAILED(hr))
        return MapiPtr<T>();
    ZeroMemory(block, size);
    return MapiPtr<T>(static_cast<T*>(block));
}

// A block chained to parent, zeroed; null on failure with the result in hr.
template <typename T>
T* MapiAllocateMore(ULONG size, LPVOID parent, HRESULT& hr)
{
    LPVOID block = nullptr;
    hr = ProviderAllocateMore(size, parent, &block);
    if (FAILED(hr))
        return nullptr;
    ZeroMemory(block, size);
    return static_cast<T*>(block);
}
