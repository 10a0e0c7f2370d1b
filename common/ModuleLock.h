#pragma once
// The lock count of the module that hosts our COM objects. Every object takes
// one lock for its lifetime, class factories move it through LockServer. The
// executable and the library each install their own module's functions; until
// then the calls do nothing (unit tests that create objects directly).

namespace common {

using ModuleLockFn = long (*)();

void SetModuleLockHandlers(ModuleLockFn lock, ModuleLockFn unlock);
long ModuleLock();
long ModuleUnlock();

} // namespace common
