#include "FailingAllocations.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int t_failing = 0;

} // namespace

namespace testing_support {

CFailingAllocations::CFailingAllocations() { ++t_failing; }
CFailingAllocations::~CFailingAllocations() { --t_failing; }

} // namespace testing_support

// The library's array, nothrow and sized forms all end here.
void* operator new(std::size_t size)
{
    if (t_failing > 0)
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
