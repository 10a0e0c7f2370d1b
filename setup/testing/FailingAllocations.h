#pragma once
// Makes the program's allocations fail on demand, so that a test can show an
// entry point answering an exhausted heap with a failure code instead of
// letting std::bad_alloc run into its caller. Compiled into a test program
// itself: it replaces the program's global operator new.

namespace testing_support {

// While one lives, every operator new on the calling thread throws
// std::bad_alloc; other threads allocate as usual.
class CFailingAllocations {
public:
    CFailingAllocations();
    ~CFailingAllocations();
    CFailingAllocations(const CFailingAllocations&) = delete;
    CFailingAllocations& operator=(const CFailingAllocations&) = delete;
};

} // namespace testing_support
