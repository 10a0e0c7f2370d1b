#include "CExtentIndex.h"

#include "ArchiveStatus.h"

#include <algorithm>
#include <new>

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t Get32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

CExtentIndex::CExtentIndex() = default;

void CExtentIndex::Clear()
{
    for (auto& bucket : m_buckets)
        bucket.clear();
}

void CExtentIndex::Add(const SExtent& extent)
{
    auto& bucket = m_buckets[(extent.first >> m_shift) & 0xFF];
    auto at = std::upper_bound(bucket.begin(), bucket.end(), extent.first,
                               [](uint32_t first, const SExtent& e) { return first < e.first; });
    bucket.insert(at, extent);
}

size_t CExtentIndex::GetCount() const
{
    size_t n = 0;
    for (const auto& bucket : m_buckets)
        n += bucket.size();
    return n;
}

SExtentMatch CExtentIndex::Lookup(uint32_t sector, uint32_t count) const
{
    const unsigned c = (sector >> m_shift) & 0xFF;
    const unsigned order[3] = {c, (c + 255) & 0xFF, (c + 1) & 0xFF};
    const uint64_t requestEnd = static_cast<uint64_t>(sector) + count;
    SExtentMatch best;
    for (unsigned b : order) {
        for (const SExtent& e : m_buckets[b]) {
            if (e.end <= sector)
                continue;
            if (e.first <= sector) {
                best.kind = SExtentMatch::kHit;
                best.extent = e;
                return best;
            }
            if (e.first < requestEnd && (best.kind == SExtentMatch::kNone || e.first < best.extent.first)) {
                best.kind = SExtentMatch::kCandidate;
                best.extent = e;
            }
            break;
        }
    }
    return best;
}

size_t CExtentIndex::GetSavedLength() const
{
    size_t n = kExtentIndexHeaderLength;
    for (const auto& bucket : m_buckets)
        n += 4 + bucket.size() * kExtentRecordLength;
    return n;
}

void CExtentIndex::Save(std::vector<uint8_t>& out) const
{
    out.reserve(out.size() + GetSavedLength());
    Put32(out, m_dataStart);
    Put32(out, m_dataEnd);
    Put32(out, m_further);
    Put32(out, m_shift);
    for (const auto& bucket : m_buckets) {
        Put32(out, static_cast<uint32_t>(bucket.size()));
        for (const SExtent& e : bucket) {
            Put32(out, e.first);
            Put32(out, e.end);
            Put32(out, static_cast<uint32_t>(e.offset));
            Put32(out, static_cast<uint32_t>(e.offset >> 32));
            out.push_back(e.flags);
        }
    }
}

int CExtentIndex::Load(const std::function<int(void*, uint32_t)>& read, uint64_t available)
{
    uint8_t head[kExtentIndexHeaderLength];
    if (available < sizeof head)
        return ARCERR_READ;
    if (int rc = read(head, sizeof head))
        return rc;
    available -= sizeof head;
    m_dataStart = Get32(head);
    m_dataEnd = Get32(head + 4);
    m_further = Get32(head + 8);
    m_shift = Get32(head + 12);
    if (m_shift > 31)
        return ARCERR_FORMAT;
    Clear();
    int rc = ARCERR_OK;
    try {
        std::vector<uint8_t> records;
        for (unsigned b = 0; b < kExtentBuckets && rc == ARCERR_OK; ++b) {
            auto& bucket = m_buckets[b];
            uint8_t countBytes[4];
            if (available < 4) {
                rc = ARCERR_READ;
                break;
            }
            if ((rc = read(countBytes, 4)))
                break;
            available -= 4;
            uint64_t count = Get32(countBytes);
            // What the file holds bounds the count, and one read of 32 bits
            // takes all of a bucket's extents.
            if (count * kExtentRecordLength > available || count * kExtentRecordLength > 0x7FFFFFFF) {
                rc = ARCERR_READ;
                break;
            }
            records.resize(static_cast<size_t>(count * kExtentRecordLength));
            if (count && (rc = read(records.data(), static_cast<uint32_t>(records.size()))))
                break;
            available -= records.size();
            bucket.reserve(static_cast<size_t>(count));
            for (uint64_t i = 0; i < count; ++i) {
                const uint8_t* p = &records[static_cast<size_t>(i * kExtentRecordLength)];
                SExtent e;
                e.first = Get32(p);
                e.end = Get32(p + 4);
                e.offset = Get32(p + 8) | (static_cast<uint64_t>(Get32(p + 12)) << 32);
                e.flags = p[16];
                // Lookups find an extent only in its own bucket, in order.
                if (((e.first >> m_shift) & 0xFF) != b || (!bucket.empty() && bucket.back().first > e.first)) {
                    rc = ARCERR_FORMAT;
                    break;
                }
                bucket.push_back(e);
            }
        }
    } catch (...) {
        rc = StatusOfException();
    }
    if (rc != ARCERR_OK)
        Clear();
    return rc;
}

void CExtentIndex::ForEach(const std::function<void(const SExtent&)>& visit) const
{
    for (const auto& bucket : m_buckets)
        for (const SExtent& e : bucket)
            visit(e);
}
