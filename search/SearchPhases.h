// Where a search's time goes, phase by phase, for a benchmark to show next
// to the work it compares the search with. The engine keeps the totals of
// its search on its own thread; at the end of a search it publishes them
// only when a reader in the same process has made the named block for them
// (the engine lives in the provider's DLL, the reader in the client's
// program, so no variable of either is shared). Without a reader nothing is
// published and nothing else changes.
#pragma once
#include "ProviderPlatform.h"

enum ESearchPhase : int {
    kPhaseWhole = 0,      // the engine's walk, from the first folder to the notification
    kPhaseServerRows,     // the messages tables and their rows from the server
    kPhaseRowBuilding,    // server rows into MAPI rows, identity columns and recipients
    kPhaseLargeReads,     // values too large for the rows, read from the server
    kPhaseRtf,            // compressed RTF to text
    kPhaseHtml,           // HTML to text
    kPhaseMime,           // MIME text into a message and its body read
    kPhaseWorkingInsert,  // rows into the working table
    kPhaseRestriction,    // the restriction on the working table's view and its rows read
    kPhaseResultInsert,   // matching rows into the result table
    kPhaseCount
};

struct SSearchPhaseTimes {
    double seconds[kPhaseCount];
    ULONG messages; // message rows the engine built
    ULONG searches; // searches published into the block so far
};

// The clock of one search's phases.
class CSearchPhaseClock {
public:
    CSearchPhaseClock();
    static LONGLONG Now();
    void Add(ESearchPhase phase, LONGLONG since) { m_ticks[phase] += Now() - since; }
    void CountMessage() { ++m_messages; }
    // Into the block of this process's reader, when there is one.
    void Publish() const;

private:
    LONGLONG m_ticks[kPhaseCount] = {};
    ULONG m_messages = 0;
};

// Adds the time from its making to its end to a phase.
class CSearchPhaseTimer {
public:
    CSearchPhaseTimer(CSearchPhaseClock& clock, ESearchPhase phase)
        : m_clock(clock), m_phase(phase), m_start(CSearchPhaseClock::Now())
    {
    }
    ~CSearchPhaseTimer() { m_clock.Add(m_phase, m_start); }
    CSearchPhaseTimer(const CSearchPhaseTimer&) = delete;
    CSearchPhaseTimer& operator=(const CSearchPhaseTimer&) = delete;

private:
    CSearchPhaseClock& m_clock;
    ESearchPhase m_phase;
    LONGLONG m_start;
};

// The block's name for this process (a reader makes it with
// CreateFileMappingW over the paging file, sizeof(SSearchPhaseTimes) bytes,
// zeroed).
void SearchPhaseBlockName(wchar_t* name, size_t units);
