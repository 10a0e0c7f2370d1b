#pragma once
// The process-wide object reference registry: the one owner
// count of every shared server object, keyed by the object's address. Holders
// (CSharedRef) add a reference when they take an object and release it when
// they let go; the holder that releases the last one destroys the object.
#include "Platform.h"

#include <map>

namespace NJbFramework {

class CObjectRegistry {
public:
    // The registry, created at program start (before the first COM object).
    static CObjectRegistry& Get();

    // null -> 0, nothing changes; an unlisted address enters with 1; a listed
    // one is incremented. Returns the new count.
    long AddReference(const void* object);
    // null or unlisted -> 0; a listed one is decremented and leaves the map at
    // 0. Returns the remaining count.
    long ReleaseReference(const void* object);
    // The current count (0 when unlisted).
    long Count(const void* object);

    CObjectRegistry(const CObjectRegistry&) = delete;
    CObjectRegistry& operator=(const CObjectRegistry&) = delete;

private:
    CObjectRegistry();
    // At exit: frees the storage of every object still listed without running
    // its destructor (the engine is going away with the process), empties the
    // map and deletes the critical section.
    ~CObjectRegistry();

    CRITICAL_SECTION m_lock;
    std::map<const void*, long> m_counts;
};

} // namespace NJbFramework
