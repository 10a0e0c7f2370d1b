// The provider's log: one UTF-16LE file shared by every object and process of
// the provider, one time-stamped line per recorded error. The file is opened,
// appended and closed for every line. Nothing here reports a failure: a line
// that cannot be written is lost, a format that cannot be applied is logged
// as it stands.
#pragma once
#include "ProviderPlatform.h"

#include <string>

constexpr wchar_t kLogFileName[] = L"KOLWEN32.log";

// Appends "<stamp> : <thread id> : <text>\r\n". logPath is a holder's
// log-file path: when empty it is set to the data directory's log file
// first (and left empty, the line lost, when there is no data directory).
void WriteLogLine(std::wstring& logPath, const wchar_t* text);

// Formats with wide printf rules and writes the result with WriteLogLine.
void LogFormat(std::wstring& logPath, const wchar_t* format, ...);
void LogFormatV(std::wstring& logPath, const wchar_t* format, va_list args);

// Formats with wide printf rules (the C runtime's own, where %s is a wide
// and %S a narrow string). False when the format cannot be applied.
bool FormatWide(std::wstring& out, const wchar_t* format, ...);
bool FormatWideV(std::wstring& out, const wchar_t* format, va_list args);
