#pragma once
// Helpers shared by the MAPI subsystem half of the library: profiles,
// services, sessions and support objects.
#include "MapiStandin.h"
#include "MapiIids.h"

#include <cstring>
#include <string>

// The MAPI stub's component lookup (not declared by the toolchain headers).
extern "C" BOOL WINAPI FGetComponentPath(LPSTR szComponent, LPSTR szQualifier, LPSTR szDllPath, DWORD cchBufferSize,
                                         BOOL fInstall);

namespace common {
template <> struct InterfaceIid<IProfSect> { static const IID& Get() { return IID_IProfSect; } };
template <> struct InterfaceIid<IProfAdmin> { static const IID& Get() { return IID_IProfAdmin; } };
template <> struct InterfaceIid<IMsgServiceAdmin> { static const IID& Get() { return IID_IMsgServiceAdmin; } };
template <> struct InterfaceIid<IProviderAdmin> { static const IID& Get() { return IID_IProviderAdmin; } };
template <> struct InterfaceIid<IMAPISession> { static const IID& Get() { return IID_IMAPISession; } };
template <> struct InterfaceIid<IMAPISupport> { static const IID& Get() { return IID_IMAPISup; } };
template <> struct InterfaceIid<IMsgStore> { static const IID& Get() { return IID_IMsgStore; } };
template <> struct InterfaceIid<IMSLogon> { static const IID& Get() { return IID_IMSLogon; } };
template <> struct InterfaceIid<IMSProvider> { static const IID& Get() { return IID_IMSProvider; } };
template <> struct InterfaceIid<IMAPIFolder> { static const IID& Get() { return IID_IMAPIFolder; } };
template <> struct InterfaceIid<IMAPIContainer> { static const IID& Get() { return IID_IMAPIContainer; } };
template <> struct InterfaceBase<IProfSect> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IMsgStore> { using Type = IMAPIProp; };
template <> struct InterfaceBase<IMAPIFolder> { using Type = IMAPIContainer; };
template <> struct InterfaceBase<IMAPIContainer> { using Type = IMAPIProp; };
} // namespace common

namespace mapistub {

// A MAPI string argument: Unicode when the call's flags say MAPI_UNICODE.
inline std::wstring TextArg(const void* text, ULONG flags)
{
    if (!text)
        return std::wstring();
    if (flags & MAPI_UNICODE)
        return static_cast<const wchar_t*>(text);
    const char* ansi = static_cast<const char*>(text);
    int cch = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring wide(cch > 0 ? cch : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], cch);
    wide.resize(wide.size() - 1);
    return wide;
}

inline std::string AnsiText(const std::wstring& text)
{
    int cb = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(cb > 0 ? cb : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &ansi[0], cb, nullptr, nullptr);
    ansi.resize(ansi.size() - 1);
    return ansi;
}

// GetLastError of objects that keep no error text: no MAPIERROR.
inline HRESULT NoLastError(LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError)
        return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    return S_OK;
}

inline bool SameUid(const MAPIUID& a, const MAPIUID& b)
{
    return std::memcmp(a.ab, b.ab, sizeof(a.ab)) == 0;
}

// A service's or provider's entry point by name, as MAPI finds it in the DLL
// it loaded. This library's own writable store service has its entries here
// without exporting them: Windows's MAPI library exports no such names, and
// this one exports none that Windows's lacks.
FARPROC EntryPointOf(HMODULE module, const char* name);

} // namespace mapistub
