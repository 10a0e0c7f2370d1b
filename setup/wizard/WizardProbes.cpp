#include "ProviderPlatform.h"
#include "WizardProbes.h"

#include "ImageMount.h"
#include "RegistryKey.h"

#include <cwchar>
#include <vector>

int MapiLogonShared(LPMAPISESSION* session)
{
    if (!session)
        return 0;
    *session = nullptr;
    static const wchar_t* const kLibraries[] = {L"MSMAPI32.DLL", L"OLMAPI32.DLL", L"MAPI32.DLL"};
    HMODULE library = nullptr;
    for (const wchar_t* name : kLibraries) {
        library = GetModuleHandleW(name);
        if (library)
            break;
    }
    if (!library)
        return 0;
    using LogonFn = HRESULT(STDMETHODCALLTYPE*)(ULONG_PTR, LPTSTR, LPTSTR, ULONG, LPMAPISESSION*);
    auto logon = reinterpret_cast<LogonFn>(reinterpret_cast<void*>(GetProcAddress(library, "MAPILogonEx")));
    if (!logon)
        return 0;
    LPMAPISESSION made = nullptr;
    if (FAILED(logon(0, nullptr, nullptr, 0, &made)) || !made)
        return 0;
    *session = made;
    return 1;
}

int FindFreeDriveLetter(std::wstring& root)
{
    return FindFreeDriveLetterWith(GetDriveTypeW, root);
}

int FindFreeDriveLetterWith(UINT(WINAPI* driveType)(LPCWSTR), std::wstring& root)
{
    root.clear();
    for (wchar_t letter = L'Z'; letter >= L'A'; --letter) {
        const wchar_t candidate[] = {letter, L':', L'\\', L'\0'};
        if (driveType(candidate) == DRIVE_NO_ROOT_DIR) {
            root = candidate;
            return 1;
        }
    }
    return 0;
}

namespace {

// HKLM "SYSTEM\MountedDevices", open for reading.
CRegistryKey MountedDevicesKey() { return CRegistryKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\MountedDevices", KEY_READ); }

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

int FindImageDriveLetter(const std::wstring& imageFileName, std::wstring& root)
{
    root.clear();
    const CRegistryKey key = MountedDevicesKey();
    return key.Get() ? FindImageDriveLetterIn(key.Get(), imageFileName, root) : 0;
}

int FindShownImageDrive(const std::wstring& imagePath, std::wstring& root, uint32_t& imageIndex)
{
    root.clear();
    imageIndex = 0;
    const CRegistryKey key = MountedDevicesKey();
    if (!key.Get())
        return 0;
    for (const std::wstring& candidate : ImageDriveLettersIn(key.Get(), FileNameOf(imagePath))) {
        if (ImageShownAt(candidate[0], imagePath.c_str(), &imageIndex)) {
            root = candidate;
            return 1;
        }
    }
    return 0;
}

int FindImageDriveLetterIn(HKEY mountedDevices, const std::wstring& imageFileName, std::wstring& root)
{
    const std::vector<std::wstring> roots = ImageDriveLettersIn(mountedDevices, imageFileName);
    root = roots.empty() ? std::wstring() : roots.front();
    return roots.empty() ? 0 : 1;
}

std::vector<std::wstring> ImageDriveLettersIn(HKEY mountedDevices, const std::wstring& imageFileName)
{
    static const wchar_t kDosDevices[] = L"\\DosDevices\\";
    static const wchar_t kImagePrefix[] = L"_??_QorBus#ImageDevice#";
    const size_t dosLength = wcslen(kDosDevices);
    const size_t prefixLength = wcslen(kImagePrefix);
    std::vector<std::wstring> roots;

    for (DWORD index = 0;; ++index) {
        wchar_t name[261] = {};
        DWORD nameLength = 261;
        DWORD type = 0;
        DWORD size = 0;
        LONG status = RegEnumValueW(mountedDevices, index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return roots;
        if (nameLength < dosLength || _wcsnicmp(name, kDosDevices, dosLength) != 0 || type != REG_BINARY)
            continue;
        if (size <= prefixLength * sizeof(wchar_t))
            continue;
        // The data is UTF-16 text without a terminator of its own: its last
        // unit gives way to one.
        std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        nameLength = 261;
        if (RegEnumValueW(mountedDevices, index, name, &nameLength, nullptr, &type,
                          reinterpret_cast<BYTE*>(text.data()), &got) != ERROR_SUCCESS)
            continue;
        const size_t units = got / sizeof(wchar_t);
        if (units == 0)
            continue;
        text[units - 1] = L'\0';
        const std::wstring device(text.data());
        if (device.size() < prefixLength || _wcsnicmp(device.c_str(), kImagePrefix, prefixLength) != 0)
            continue;
        const std::wstring head = device.substr(0, device.rfind(L'#'));
        const size_t ampersand = head.rfind(L'&');
        if (ampersand == std::wstring::npos)
            continue;
        if (_wcsicmp(head.c_str() + ampersand + 1, imageFileName.c_str()) != 0)
            continue;
        if (nameLength < dosLength + 2)
            continue;
        roots.push_back(std::wstring(1, name[dosLength]) + L":\\");
    }
}
