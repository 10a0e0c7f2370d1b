#include "ProviderPlatform.h"
#include "CLogTimestamp.h"

std::wstring CLogTimestamp::Get()
{
    const DWORD tick = GetTickCount();
    SYSTEMTIME now;
    GetLocalTime(&now);
    return Get(tick, now);
}

std::wstring CLogTimestamp::Get(DWORD tick, const SYSTEMTIME& localTime)
{
    std::lock_guard<std::mutex> hold(m_lock);
    // Unsigned difference: correct across the tick counter's wrap.
    if (!m_buffer[0] || tick - m_tick > kReuseMilliseconds) {
        m_tick = tick;
        wchar_t date[520] = {};
        wchar_t time[520] = {};
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &localTime, nullptr, date, 520);
        GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &localTime, nullptr, time, 520);
        _snwprintf_s(m_buffer, kBufferUnits, _TRUNCATE, L"%s %s", date, time);
    }
    return m_buffer;
}

CLogTimestamp& CLogTimestamp::Process()
{
    // Never destroyed: lines may still be logged while the library unloads.
    static CLogTimestamp* instance = new CLogTimestamp;
    return *instance;
}
