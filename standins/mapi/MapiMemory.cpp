// MAPI memory: every block returned by MAPIAllocateBuffer is the root of a
// chain; MAPIAllocateMore links further blocks to that root and
// MAPIFreeBuffer of the root frees the whole chain at once. A header in front
// of each block carries a marker so that a pointer that never came from here
// is refused instead of corrupting the heap.
#include "MapiStandin.h"
#include "CMapiMalloc.h"

namespace {

constexpr ULONG kRootMarker = 0x4D415042;  // "BPAM"
constexpr ULONG kMoreMarker = 0x4D41504D;  // "MPAM"
constexpr ULONG kFreedMarker = 0x46524545; // "EERF"

// A multiple of 16 bytes (16 on 32-bit Windows, 32 on x64), so that the data
// behind it keeps the heap's alignment for doubles and 64-bit integers in
// property values.
struct BlockHeader {
    ULONG marker;
    BlockHeader* root;            // the chain's root (itself for a root)
    BlockHeader* volatile next;   // next block of the chain (roots only keep the head)
    ULONG size;
};
static_assert(sizeof(BlockHeader) % 16 == 0, "header keeps the heap's alignment");

HANDLE Heap()
{
    static HANDLE heap = GetProcessHeap();
    return heap;
}

BlockHeader* HeaderOf(LPVOID pv)
{
    return reinterpret_cast<BlockHeader*>(static_cast<BYTE*>(pv) - sizeof(BlockHeader));
}

bool IsOurs(LPVOID pv)
{
    if (!pv || reinterpret_cast<ULONG_PTR>(pv) < 0x10000 || (reinterpret_cast<ULONG_PTR>(pv) & 7) != 0)
        return false;
    BlockHeader* header = HeaderOf(pv);
    if (IsBadReadPtr(header, sizeof(BlockHeader)))
        return false;
    return header->marker == kRootMarker || header->marker == kMoreMarker;
}

} // namespace

SCODE WINAPI MAPIAllocateBuffer(ULONG cbSize, LPVOID* lppBuffer)
{
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (cbSize > 0x7FFFFFF0u)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* header = static_cast<BlockHeader*>(HeapAlloc(Heap(), 0, sizeof(BlockHeader) + cbSize));
    if (!header)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    header->marker = kRootMarker;
    header->root = header;
    header->next = nullptr;
    header->size = cbSize;
    *lppBuffer = header + 1;
    return S_OK;
}

SCODE WINAPI MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer)
{
    if (!lppBuffer)
        return MAPI_E_INVALID_PARAMETER;
    *lppBuffer = nullptr;
    if (!IsOurs(lpObject))
        return MAPI_E_INVALID_PARAMETER;
    if (cbSize > 0x7FFFFFF0u)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    // Callers sometimes pass a block that was itself added with
    // MAPIAllocateMore; the new block joins the same root.
    BlockHeader* root = HeaderOf(lpObject)->root;
    auto* header = static_cast<BlockHeader*>(HeapAlloc(Heap(), 0, sizeof(BlockHeader) + cbSize));
    if (!header)
        return MAPI_E_NOT_ENOUGH_MEMORY;
    header->marker = kMoreMarker;
    header->root = root;
    header->size = cbSize;
    // Lock-free push onto the root's chain: several threads may grow one
    // buffer (rare, but harmless to support).
    BlockHeader* head;
    do {
        head = root->next;
        header->next = head;
    } while (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&root->next), header, head) != head);
    *lppBuffer = header + 1;
    return S_OK;
}

ULONG WINAPI MAPIFreeBuffer(LPVOID lpBuffer)
{
    if (!lpBuffer)
        return S_OK;
    if (!IsOurs(lpBuffer))
        return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
    BlockHeader* header = HeaderOf(lpBuffer);
    // Freeing a block of a chain other than its root is not allowed by MAPI;
    // the block is released with its root.
    if (header->marker != kRootMarker)
        return S_OK;
    BlockHeader* block = header->next;
    while (block) {
        BlockHeader* next = block->next;
        block->marker = kFreedMarker;
        HeapFree(Heap(), 0, block);
        block = next;
    }
    header->marker = kFreedMarker;
    HeapFree(Heap(), 0, header);
    return S_OK;
}

STDAPI_(LPMALLOC) MAPIGetDefaultMalloc(VOID)
{
    return CMapiMalloc::Instance();
}

namespace mapistub {

Allocators DefaultAllocators()
{
    Allocators allocators;
    allocators.allocateBuffer = &MAPIAllocateBuffer;
    allocators.allocateMore = &MAPIAllocateMore;
    allocators.freeBuffer = &MAPIFreeBuffer;
    return allocators;
}

} // namespace mapistub
