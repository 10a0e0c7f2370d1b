#include "ProviderPlatform.h"
#include "ProviderLog.h"
#include "CLogTimestamp.h"
#include "ProviderFiles.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// Every writer opens the file for writing with read sharing only, so a
// second writer cannot open it until the first has closed it. Within one
// process the lock keeps writers apart; a writer in another process is
// waited for a little before the line is given up.
std::mutex g_writeLock;
constexpr int kOpenAttempts = 50;
constexpr DWORD kOpenRetryMilliseconds = 5;

HANDLE OpenLog(const std::wstring& path, bool& created)
{
    for (int attempt = 0;; ++attempt) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            created = GetLastError() != ERROR_ALREADY_EXISTS;
            return file;
        }
        if (GetLastError() != ERROR_SHARING_VIOLATION || attempt + 1 >= kOpenAttempts)
            return INVALID_HANDLE_VALUE;
        Sleep(kOpenRetryMilliseconds);
    }
}

} // namespace

bool FormatWideV(std::wstring& out, const wchar_t* format, va_list args)
{
    out.clear();
    if (!format)
        return false;
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length < 0)
        return false;
    std::vector<wchar_t> buffer(length + 1);
    if (vswprintf_s(buffer.data(), buffer.size(), format, args) < 0)
        return false;
    out.assign(buffer.data(), length);
    return true;
}

bool FormatWide(std::wstring& out, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const bool formatted = FormatWideV(out, format, args);
    va_end(args);
    return formatted;
}

void WriteLogLine(std::wstring& logPath, const wchar_t* text)
{
    try {
        if (logPath.empty()) {
            std::wstring directory;
            // Without a data directory there is nowhere to put the line; the
            // path stays empty so that the next line tries again.
            if (!GetDataDirectory(directory))
                return;
            logPath = directory + L"\\" + kLogFileName;
        }
        wchar_t threadId[16];
        _snwprintf_s(threadId, 16, _TRUNCATE, L"%08x", static_cast<unsigned>(GetCurrentThreadId()));
        const std::wstring line =
            CLogTimestamp::Process().Get() + L" : " + threadId + L" : " + (text ? text : L"") + L"\r\n";

        std::lock_guard<std::mutex> hold(g_writeLock);
        bool created = false;
        HANDLE file = OpenLog(logPath, created);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        LARGE_INTEGER size = {};
        // A file left empty (a writer that stopped before its first line, a
        // truncated log) gets its byte-order mark as a new one does.
        if (created || (GetFileSizeEx(file, &size) && size.QuadPart == 0)) {
            static const BYTE kBom[] = {0xFF, 0xFE};
            WriteFile(file, kBom, sizeof(kBom), &written, nullptr);
        }
        SetFilePointer(file, 0, nullptr, FILE_END);
        WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
        CloseHandle(file);
    } catch (...) {
        // Logging never fails its caller.
    }
}

void LogFormatV(std::wstring& logPath, const wchar_t* format, va_list args)
{
    std::wstring line;
    bool formatted = false;
    try {
        formatted = FormatWideV(line, format, args);
    } catch (...) {
        formatted = false;
    }
    if (formatted) {
        WriteLogLine(logPath, line.c_str());
        return;
    }
    // The format itself, cut to the length the log has always kept.
    static constexpr int kRawUnits = 8192;
    static constexpr int kRawCopyBound = 8188;
    try {
        std::vector<wchar_t> raw(kRawUnits, L'\0');
        if (format)
            lstrcpynW(raw.data(), format, kRawCopyBound);
        WriteLogLine(logPath, raw.data());
    } catch (...) {
    }
}

void LogFormat(std::wstring& logPath, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    LogFormatV(logPath, format, args);
    va_end(args);
}
