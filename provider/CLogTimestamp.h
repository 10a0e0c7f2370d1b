// The time stamp of log lines: the user's short date and time, rebuilt at
// most every 100 ms and otherwise handed out as it stands. One instance
// serves the whole process; its buffer is guarded, so a line never carries a
// stamp half rebuilt by another thread.
#pragma once
#include "ProviderPlatform.h"

#include <mutex>
#include <string>

class CLogTimestamp {
public:
    static constexpr DWORD kReuseMilliseconds = 100;
    static constexpr size_t kBufferUnits = 64;

    // The stamp for a line written now.
    std::wstring Get();
    // The same with the tick and the local time given (tests drive the clock).
    std::wstring Get(DWORD tick, const SYSTEMTIME& localTime);

    static CLogTimestamp& Process();

private:
    std::mutex m_lock;
    wchar_t m_buffer[kBufferUnits] = {};
    DWORD m_tick = 0;
};
