#include "Platform.h"
#include "esedb/CObjectRegistry.h"

#include <new>

namespace NJbFramework {
namespace {

// Holds the critical section for one scope.
class CLock {
public:
    explicit CLock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~CLock() { LeaveCriticalSection(&m_section); }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

} // namespace

CObjectRegistry& CObjectRegistry::Get()
{
    static CObjectRegistry registry;
    return registry;
}

// Made during static initialisation, so it exists before any COM object and
// outlives every static object made after it.
static CObjectRegistry& g_registryAtStartup = CObjectRegistry::Get();

CObjectRegistry::CObjectRegistry()
{
    InitializeCriticalSection(&m_lock);
}

CObjectRegistry::~CObjectRegistry()
{
    {
        CLock lock(m_lock);
        for (const auto& entry : m_counts)
            ::operator delete(const_cast<void*>(entry.first));
        m_counts.clear();
    }
    DeleteCriticalSection(&m_lock);
}

long CObjectRegistry::AddReference(const void* object)
{
    CLock lock(m_lock);
    if (!object)
        return 0;
    return ++m_counts[object];
}

long CObjectRegistry::ReleaseReference(const void* object)
{
    CLock lock(m_lock);
    if (!object)
        return 0;
    auto found = m_counts.find(object);
    if (found == m_counts.end())
        return 0;
    long remaining = --found->second;
    if (remaining == 0)
        m_counts.erase(found);
    return remaining;
}

long CObjectRegistry::Count(const void* object)
{
    CLock lock(m_lock);
    auto found = m_counts.find(object);
    return found == m_counts.end() ? 0 : found->second;
}

} // namespace NJbFramework
