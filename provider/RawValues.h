// Property values packed back to back in the server's binary records
// (recipient lists and the like): sizing one value, building an SPropValue
// from its bytes, and the hex dump logged for a record that does not parse.
#pragma once
#include "ProviderPlatform.h"

#include <string>

// Size in bytes of the value of property type `type` (low 16 bits) stored at
// data with max bytes left: -1 when it does not fit, 0 for a type without a
// rule (a caller walking records must stop there, 0 advances nothing).
// Strings count their terminator; PT_BINARY is a 16-bit little-endian length
// and that many bytes.
int GetRawValueSize(ULONG type, const BYTE* data, int max);

// Builds a value of tag from size raw bytes, memory chained to parent.
// Null dst or data: E_INVALIDARG. Fewer bytes than the type's fixed width
// (or than a GUID): MAPI_E_CORRUPT_DATA, dst then a PT_ERROR value holding it.
// Strings are copied and always terminated, even when the bytes carry no
// terminator of their own. Types without a rule keep only the tag.
HRESULT ValueFromBytes(SPropValue* dst, ULONG tag, const BYTE* data, ULONG size, LPVOID parent);

// prefix, "\r\n", then "%02X " per byte with "\r\n" after every 48th byte.
std::wstring FormatHexDump(const wchar_t* prefix, const BYTE* data, ULONG size);

// Writes FormatHexDump as one log line (through a fresh CLastError); 0.
int LogHexDump(const wchar_t* prefix, const BYTE* data, ULONG size);
// The same into the log file of a holder's path (see WriteLogLine).
int LogHexDump(std::wstring& logPath, const wchar_t* prefix, const BYTE* data, ULONG size);
