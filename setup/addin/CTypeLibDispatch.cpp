#include "Platform.h"
#include "CTypeLibDispatch.h"

#include "CAddInModule.h"

#include <string>

namespace setup {

HRESULT SModuleTypeLibrary::Load(ITypeLib** library)
{
    if (!library)
        return E_POINTER;
    *library = nullptr;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(Module().GetInstance(), &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return HRESULT_FROM_WIN32(GetLastError());
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    // The library carries its type library as resource 1; loading it
    // registers nothing.
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

} // namespace setup
