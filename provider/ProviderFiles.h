// The provider's folders and files: the data directory that holds the log
// and the settings files, the working folders handed to the server, the
// install location and help file, and the hexadecimal text used in file
// names. Every routine reports failure by a false result and leaves its
// outputs empty; none raises.
#pragma once
#include "ProviderPlatform.h"

#include <cstddef>
#include <string>

// The common application-data folder (else the user's), then the vendor and
// product folders named by strings 387 and 388, created when missing. When
// neither application-data folder is known, the Windows folder itself.
bool GetDataDirectory(std::wstring& path);

// A fresh, empty folder under the temporary folder ("KO" and a hexadecimal
// number), created here.
bool CreateTempDirectory(std::wstring& path);

// Removes the folder and everything below it. Refuses paths shorter than 4
// characters (a drive root). Linked folders (junctions, symbolic links) are
// unlinked, never entered, so nothing outside the tree is deleted.
bool DeleteDirectoryTree(const wchar_t* path);

// Upper-case "%02X" per byte into out, which has room for 2n + 1 units.
void BytesToHex(const BYTE* bytes, size_t n, wchar_t* out);
std::wstring BytesToHex(const BYTE* bytes, size_t n);

// Reads n bytes from 2n hexadecimal digits at the start of text. False (and
// out zeroed) when text is shorter or holds anything else; nothing happens
// for a null output.
bool HexToBytes(const wchar_t* text, BYTE* out, size_t n);

// The product's "InstallLocation" from its uninstall key.
bool GetInstallLocation(std::wstring& path);

// The help file in the install location.
bool GetHelpFilePath(std::wstring& path);
