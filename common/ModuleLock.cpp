#include "ModuleLock.h"

namespace common {
namespace {
ModuleLockFn g_lock = nullptr;
ModuleLockFn g_unlock = nullptr;
} // namespace

void SetModuleLockHandlers(ModuleLockFn lock, ModuleLockFn unlock)
{
    g_lock = lock;
    g_unlock = unlock;
}

long ModuleLock() { return g_lock ? g_lock() : 0; }
long ModuleUnlock() { return g_unlock ? g_unlock() : 0; }

} // namespace common
