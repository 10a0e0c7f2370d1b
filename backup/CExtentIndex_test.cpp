#include "Platform.h"

#include "CExtentIndex.h"

#include "ArchiveStatus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

SExtent Extent(uint32_t first, uint32_t end, uint64_t offset = 0)
{
    return SExtent{first, end, offset, 0};
}

TEST(ExtentIndex, LookupHitsCandidatesAndNeighbouringBuckets)
{
    CExtentIndex index;
    index.SetShift(3);  // bucket = (sector >> 3) & 0xFF
    index.Add(Extent(0, 8, 100));
    index.Add(Extent(20, 30, 200));
    index.Add(Extent(2047, 2049, 300));  // bucket 255, reaches into bucket 0 of the next turn
    index.Add(Extent(2048 + 4, 2048 + 8, 400));

    struct Case {
        uint32_t sector, count;
        SExtentMatch::EKind kind;
        uint64_t offset;
    } cases[] = {
        {0, 1, SExtentMatch::kHit, 100},
        {7, 1, SExtentMatch::kHit, 100},
        {8, 4, SExtentMatch::kNone, 0},        // gap, request ends before the next extent
        {10, 20, SExtentMatch::kCandidate, 200},  // starts in a gap, overlaps a later extent
        {25, 1, SExtentMatch::kHit, 200},
        {2048, 1, SExtentMatch::kHit, 300},    // lookup in bucket 0 finds the extent of bucket 255
        {2048 + 5, 1, SExtentMatch::kHit, 400},
    };
    for (const Case& c : cases) {
        SExtentMatch m = index.Lookup(c.sector, c.count);
        EXPECT_EQ(c.kind, m.kind) << c.sector;
        if (m.kind != SExtentMatch::kNone)
            EXPECT_EQ(c.offset, m.extent.offset) << c.sector;
    }

    CExtentIndex wrap;
    wrap.SetShift(0);
    wrap.Add(Extent(256, 260, 1));   // bucket 0
    // A lookup in bucket 255 (sector 255) asks bucket 0 as its c + 1.
    SExtentMatch m = wrap.Lookup(255, 5);
    EXPECT_EQ(SExtentMatch::kCandidate, m.kind);
    EXPECT_EQ(1u, m.extent.offset);
}

TEST(ExtentIndex, EqualFirstSectorsKeepTheirOrder)
{
    CExtentIndex index;
    index.Add(Extent(5, 6, 1));
    index.Add(Extent(5, 6, 2));
    EXPECT_EQ(1u, index.Lookup(5, 1).extent.offset);
}

TEST(ExtentIndex, SavesAndLoads)
{
    CExtentIndex index;
    index.SetShift(3);
    index.SetRange(11, 22);
    for (uint32_t i = 0; i < 1000; ++i)
        index.Add(SExtent{i * 16, i * 16 + 8, i * 1000000007ull, static_cast<uint8_t>(i & 7)});
    std::vector<uint8_t> saved;
    index.Save(saved);
    ASSERT_EQ(index.GetSavedLength(), saved.size());
    ASSERT_EQ(16u + 256 * 4 + 1000 * 17, saved.size());

    size_t at = 0;
    auto reader = [&](void* buffer, uint32_t n) -> int {
        if (at + n > saved.size())
            return ARCERR_READ;
        memcpy(buffer, saved.data() + at, n);
        at += n;
        return 0;
    };
    CExtentIndex loaded;
    ASSERT_EQ(0, loaded.Load(reader, saved.size()));
    EXPECT_EQ(11u, loaded.GetDataStart());
    EXPECT_EQ(22u, loaded.GetDataEnd());
    EXPECT_EQ(3u, loaded.GetShift());
    std::vector<uint8_t> again;
    loaded.Save(again);
    EXPECT_EQ(saved, again);
    EXPECT_EQ(500 * 1000000007ull, loaded.Lookup(500 * 16 + 3, 1).extent.offset);

    // Lookups search an extent's own bucket, in order: a saved index that
    // breaks either is refused and leaves nothing behind. Bucket 0 holds the
    // extents of sectors 0, 2048, 4096...; its second one lies at byte 37.
    const std::vector<uint8_t> good = saved;
    struct Damage {
        const char* what;
        uint32_t first;
    } damages[] = {{"first sector of bucket 2", 16}, {"after the next one", 6144}};
    for (const Damage& d : damages) {
        saved = good;
        memcpy(&saved[37], &d.first, 4);
        at = 0;
        EXPECT_EQ(ARCERR_FORMAT, loaded.Load(reader, saved.size())) << d.what;
        EXPECT_EQ(0u, loaded.GetCount()) << d.what;
    }
    saved = good;

    // An absurd count fails before anything is allocated for it.
    std::vector<uint8_t> absurd = saved;
    absurd[16] = absurd[17] = absurd[18] = absurd[19] = 0xFF;
    saved = absurd;
    at = 0;
    EXPECT_EQ(ARCERR_READ, loaded.Load(reader, saved.size()));
}

}  // namespace
