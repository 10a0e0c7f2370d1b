#pragma once
// Registration of the message service in MAPI's service file MAPISVC.INF:
// the [Services] entry, the service section and the store provider section
// that MAPI reads when a user adds the service to a profile. The file is the
// one beside the MAPI library that Outlook uses, as the MAPI stub reports it;
// without one, the file in the system directory.
#include "Platform.h"
#include "RegistryKey.h"

#include <memory>
#include <string>

namespace setup {

// One line of MAPISVC.INF. A null key name with a non-zero numeric key names
// the key by that number in lower-case hexadecimal; a null value deletes the
// key, and a null key (numeric key 0) with a null value the whole section.
// A row with a null section ends a table.
struct ProfileRow {
    const wchar_t* section;
    const wchar_t* key;
    ULONG numericKey;
    const wchar_t* value;
};

// Writes one line of an INI file as WritePrivateProfileStringW does.
using ProfileWriteFn = BOOL(WINAPI*)(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR file);

// Writes the rows up to the end row into MAPISVC.INF through write;
// E_INVALIDARG for a null table. The first write refused stops the table and
// its error is returned; what the table had written by then is taken back,
// so the file is as it was before (or absent again), never a service listed
// without its sections.
HRESULT HrSetProfileParameters(const ProfileRow* rows, ProfileWriteFn write = &WritePrivateProfileStringW);

// The full path of MAPISVC.INF into buffer (size characters), or an empty
// buffer when no location is known.
void GetMAPISVCPath(LPWSTR buffer, UINT size);

struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};
using RegistryText = std::unique_ptr<wchar_t, LocalFreeDeleter>;

// The three MSI values of the mail client's key; each out pointer may be
// null, each value is a new string or null.
void GetMapiMsiIds(LPCWSTR client, RegistryText* componentId, RegistryText* appLcid, RegistryText* officeLcid);

// HKLM\Software\Clients\Mail\<client> opened for reading; a null client
// means the default mail client. Holds no key when there is no such key.
CRegistryKey GetMailKey(LPCWSTR client);

// A REG_SZ, REG_DWORD or REG_MULTI_SZ value, always followed by two zero
// characters so that a value stored without its terminator still ends.
// ERROR_INVALID_DATA when the value is missing, empty or of another type.
LONG GetRegistryValue(HKEY key, LPCWSTR name, DWORD* type, RegistryText* value);

using FGetComponentPathFn = BOOL(WINAPI*)(LPSTR, LPSTR, LPSTR, DWORD, BOOL);

// The path getPath (the MAPI stub's FGetComponentPath) gives for the
// component: asked with the application's language, then Office's (each
// when present), then with no qualifier. Empty when every call misses.
std::wstring QueryComponentPath(FGetComponentPathFn getPath, LPCWSTR componentId, LPCWSTR appLcid, LPCWSTR officeLcid);

// The service's section and key names.
extern const wchar_t kServiceSection[];  // "KOLVENOV"
extern const wchar_t kProviderSection[]; // "P_KOLVENOV"

} // namespace setup

// The installer's entries (exported undecorated).
extern "C" HRESULT WINAPI RegProvider();
extern "C" HRESULT WINAPI UnRegProvider();
