#include "ProviderPlatform.h"
#include "SearchPhases.h"

#include <cwchar>

namespace {

LONGLONG Frequency()
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart ? f.QuadPart : 1;
    }();
    return frequency;
}

} // namespace

CSearchPhaseClock::CSearchPhaseClock()
{
    Frequency();
}

LONGLONG CSearchPhaseClock::Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void SearchPhaseBlockName(wchar_t* name, size_t units)
{
    std::swprintf(name, units, L"Local\\VostrelSearchPhases.%lu", static_cast<unsigned long>(GetCurrentProcessId()));
}

void CSearchPhaseClock::Publish() const
{
    wchar_t name[64];
    SearchPhaseBlockName(name, sizeof(name) / sizeof(name[0]));
    HANDLE block = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
    if (!block)
        return;
    if (auto* times = static_cast<SSearchPhaseTimes*>(
            MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(SSearchPhaseTimes)))) {
        // A reader sees the totals of the searches since it last zeroed them.
        for (int i = 0; i < kPhaseCount; ++i)
            times->seconds[i] += static_cast<double>(m_ticks[i]) / static_cast<double>(Frequency());
        times->messages += m_messages;
        ++times->searches;
        UnmapViewOfFile(times);
    }
    CloseHandle(block);
}
