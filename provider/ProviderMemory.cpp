#include "ProviderPlatform.h"
#include "ProviderMemory.h"

#include <atomic>

namespace {

// One set of routines for the whole process; MSProviderInit may run on any
// thread, so each routine is read and written whole.
std::atomic<LPMALLOC> g_malloc{nullptr};
std::atomic<LPALLOCATEBUFFER> g_allocateBuffer{nullptr};
std::atomic<LPALLOCATEMORE> g_allocateMore{nullptr};
std::atomic<LPFREEBUFFER> g_freeBuffer{nullptr};

} // namespace

void KeepMapiMemory(LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                    LPFREEBUFFER lpFreeBuffer)
{
    g_malloc = lpMalloc;
    // The three routines belong together: blocks of one allocator are freed
    // and grown by its partners only.
    if (lpAllocateBuffer && lpAllocateMore && lpFreeBuffer) {
        g_allocateBuffer = lpAllocateBuffer;
        g_allocateMore = lpAllocateMore;
        g_freeBuffer = lpFreeBuffer;
    }
}

void ForgetMapiMemory()
{
    g_malloc = nullptr;
    g_allocateBuffer = nullptr;
    g_allocateMore = nullptr;
    g_freeBuffer = nullptr;
}

SMapiMemory ProviderMapiMemory()
{
    SMapiMemory memory;
    memory.malloc = g_malloc;
    memory.allocateBuffer = g_allocateBuffer;
    memory.allocateMore = g_allocateMore;
    memory.freeBuffer = g_freeBuffer;
    if (!memory.allocateBuffer || !memory.allocateMore || !memory.freeBuffer) {
        memory.allocateBuffer = &MAPIAllocateBuffer;
        memory.allocateMore = &MAPIAllocateMore;
        memory.freeBuffer = &MAPIFreeBuffer;
    }
    return memory;
}

SCODE ProviderAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer)
{
    return ProviderMapiMemory().allocateBuffer(cbSize, lppBuffer);
}

SCODE ProviderAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer)
{
    return ProviderMapiMemory().allocateMore(cbSize, lpObject, lppBuffer);
}

ULONG ProviderFreeBuffer(LPVOID lpBuffer)
{
    if (!lpBuffer)
        return 0;
    return ProviderMapiMemory().freeBuffer(lpBuffer);
}

void FreeProviderRows(LPSRowSet rows)
{
    if (!rows)
        return;
    for (ULONG i = 0; i < rows->cRows; ++i)
        ProviderFreeBuffer(rows->aRow[i].lpProps);
    ProviderFreeBuffer(rows);
}
