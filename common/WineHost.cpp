#include "Platform.h"
#include "WineHost.h"

namespace common {

bool IsRunningOnWine()
{
    static const bool onWine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return onWine;
}

} // namespace common
