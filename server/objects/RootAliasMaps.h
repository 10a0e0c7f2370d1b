#pragma once
// The two process-wide maps through which a mailbox root folder stands in for
// its "Top of Information Store" folder: the alias map (that folder's id ->
// the mailbox root id) and the counter map (the mailbox root id -> the nine
// counters of that folder). A root folder object fills them when it finds its
// alias folder; the computed properties read them while rows are delivered.
// Entries are inserted or overwritten, never erased. Every use happens on the
// server's apartment thread, so the maps carry no lock.
#include "Platform.h"

#include <cstdint>

// The counters in map order, named by their 32-bit integer property tags.
constexpr unsigned kRootCounterCount = 9;
extern const ULONG kRootCounterTags[kRootCounterCount];

struct SRootCounters {
    ULONG values[kRootCounterCount];
};

void SetRootAlias(int64_t folderId, int64_t rootId);
// The mailbox root id that stands for folderId, when it has one.
bool FindRootAlias(int64_t folderId, int64_t* rootId);

void SetRootCounters(int64_t rootId, const SRootCounters& counters);
// The counters shown by the mailbox root rootId, or null.
const SRootCounters* FindRootCounters(int64_t rootId);
