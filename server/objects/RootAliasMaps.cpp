#include "Platform.h"
#include "objects/RootAliasMaps.h"

#include <map>

const ULONG kRootCounterTags[kRootCounterCount] = {0x36170003, 0x66B20003, 0x66B10003, 0x36020003, 0x36030003,
                                                   0x66380003, 0x66AD0003, 0x66B00003, 0x66AF0003};

namespace {

std::map<int64_t, int64_t>& AliasMap()
{
    static std::map<int64_t, int64_t> map;
    return map;
}

std::map<int64_t, SRootCounters>& CounterMap()
{
    static std::map<int64_t, SRootCounters> map;
    return map;
}

} // namespace

void SetRootAlias(int64_t folderId, int64_t rootId) { AliasMap()[folderId] = rootId; }

bool FindRootAlias(int64_t folderId, int64_t* rootId)
{
    auto found = AliasMap().find(folderId);
    if (found == AliasMap().end())
        return false;
    *rootId = found->second;
    return true;
}

void SetRootCounters(int64_t rootId, const SRootCounters& counters) { CounterMap()[rootId] = counters; }

const SRootCounters* FindRootCounters(int64_t rootId)
{
    auto found = CounterMap().find(rootId);
    return found == CounterMap().end() ? nullptr : &found->second;
}
