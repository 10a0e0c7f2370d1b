#pragma once
// Small probes of the add-store wizard and the add-in: a MAPI session from
// the MAPI library already loaded in the process, a free drive letter, and
// the drive at which the image-mounting driver already shows an image.
#include "ProviderPlatform.h"

#include <cstdint>
#include <string>
#include <vector>

// A session from MAPILogonEx of the MAPI library the process has loaded
// ("MSMAPI32.DLL", "OLMAPI32.DLL", then "MAPI32.DLL"); none is loaded here
// and none is unloaded. 1 with the session, else 0.
int MapiLogonShared(LPMAPISESSION* session);

// The first root from Z:\ down to A:\ that names no drive. 1 with the root
// ("Q:\"), 0 when every letter is in use.
int FindFreeDriveLetter(std::wstring& root);
// The same over another drive-type probe (GetDriveTypeW's signature).
int FindFreeDriveLetterWith(UINT(WINAPI* driveType)(LPCWSTR), std::wstring& root);

// The drive at which the driver shows an image of this file name, from
// HKLM "SYSTEM\MountedDevices". 1 with the root, else 0.
int FindImageDriveLetter(const std::wstring& imageFileName, std::wstring& root);
// The same over an open key holding such values.
int FindImageDriveLetterIn(HKEY mountedDevices, const std::wstring& imageFileName, std::wstring& root);
// Every root at which such a value names an image of this file name.
std::vector<std::wstring> ImageDriveLettersIn(HKEY mountedDevices, const std::wstring& imageFileName);

// The drive at which the driver shows this very image file. The values of
// "SYSTEM\MountedDevices" name an image by its file name only, and one may
// be left from an earlier mount: each letter they name is asked of the
// driver, which must show the image of this full path there. 1 with the
// root and the driver's index, else 0.
int FindShownImageDrive(const std::wstring& imagePath, std::wstring& root, uint32_t& imageIndex);
