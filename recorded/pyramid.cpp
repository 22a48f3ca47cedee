#include "pyramid.h"

#include <algorithm>

namespace tarvo::recorded {

namespace {

// Two extents of a lane: min/max, or AND/OR for the digital lines.
inline Extent join(Extent a, const Extent& b, bool digital)
{
    if (digital) {
        a.lo &= b.lo;
        a.hi |= b.hi;
    } else {
        a.add(b);
    }
    return a;
}

// What the query asks of one channel: its lane, and for a digital line the
// bit of the lane's AND/OR masks.
struct Want {
    unsigned lane;
    int bit;  // -1: an analog channel
    Extent of(const Extent& e) const
    {
        if (bit < 0 || e.lo > 0xF)  // analog, or no record
            return e;
        return {uint16_t((e.lo >> bit) & 1), uint16_t((e.hi >> bit) & 1)};
    }
    uint16_t of(const Record& r) const
    {
        return bit < 0 ? r.ch[lane] : uint16_t((r.digital >> bit) & 1);
    }
};

}  // namespace

Pyramid::Pyramid(const Records& records) : rs_(records)
{
    upper_.assign(rs_.layout().lanes(), {});
    build(0);
}

void Pyramid::update()
{
    build(blocks_ == 0 ? 0 : blocks_ - 1);  // the last block may have grown
}

void Pyramid::build(uint64_t from)
{
    const unsigned lanes = rs_.layout().lanes();
    const uint64_t blocks = rs_.blocks();
    if (rs_.blockExtents(0).size() < blocks) {  // indexed without extents
        blocks_ = 0;
        return;
    }
    for (unsigned lane = 0; lane < lanes; lane++) {
        const bool digital = lane == rs_.layout().channels;
        auto& levels = upper_[lane];
        levels.reserve(64);  // `below` points into it: never moved
        const std::vector<Extent>* below = &rs_.blockExtents(lane);
        uint64_t changed = from;
        for (unsigned l = 0; below->size() > 1; l++) {
            if (levels.size() <= l)
                levels.emplace_back();
            std::vector<Extent>& here = levels[l];
            changed /= 2;
            const uint64_t n = (below->size() + 1) / 2;
            here.resize(n);
            for (uint64_t k = changed; k < n; k++) {
                Extent e = (*below)[2 * k];
                if (2 * k + 1 < below->size())
                    e = join(e, (*below)[2 * k + 1], digital);
                here[k] = e;
            }
            below = &here;
        }
    }
    blocks_ = blocks;
}

const std::vector<Extent>& Pyramid::level(unsigned lane, unsigned l) const
{
    return l == 0 ? rs_.blockExtents(lane) : upper_[lane][l - 1];
}

unsigned Pyramid::channels() const
{
    return rs_.layout().channels + (rs_.layout().digital ? 4 : 0);
}

size_t Pyramid::memoryBytes() const
{
    size_t n = 0;
    for (const auto& lane : upper_)
        for (const auto& l : lane)
            n += l.capacity() * sizeof(Extent);
    return n;
}

std::vector<Extent> Pyramid::minmax(unsigned channel, uint64_t first, uint64_t last,
                                    unsigned columns) const
{
    auto all = minmax(std::vector<unsigned>{channel}, first, last, columns);
    return all.empty() ? std::vector<Extent>(columns) : std::move(all[0]);
}

std::vector<std::vector<Extent>> Pyramid::minmax(const std::vector<unsigned>& channels,
                                                 uint64_t first, uint64_t last,
                                                 unsigned columns) const
{
    std::vector<Want> wants;
    const Layout& layout = rs_.layout();
    for (unsigned ch : channels) {
        if (ch < layout.channels)
            wants.push_back({ch, -1});
        else if (layout.digital && ch < layout.channels + 4)
            wants.push_back({layout.channels, int(3 - (ch - layout.channels))});
        else
            wants.push_back({~0u, -1});  // no such channel: every column empty
    }
    std::vector<std::vector<Extent>> out(channels.size(), std::vector<Extent>(columns));
    const uint64_t count = std::min<uint64_t>(rs_.count(), blocks_ * kBlock);
    if (columns == 0 || count == 0 || first > last || first >= count)
        return out;
    last = std::min(last, count - 1);
    const uint64_t n = last - first + 1;
    // Start of column x's share.
    auto share = [&](uint64_t x) { return first + uint64_t((unsigned __int128)x * n / columns); };

    // The records themselves, [a, b), into column x of every channel.
    auto direct = [&](uint64_t a, uint64_t b, auto column) {
        if (a >= b)
            return;
        Records::Cursor c = rs_.cursor(a);
        Record r;
        for (uint64_t i = a; i < b && c.next(r); i++) {
            const uint64_t x = column(i);
            for (size_t w = 0; w < wants.size(); w++)
                if (wants[w].lane != ~0u)
                    out[w][x].add(wants[w].of(r));
        }
        // A viewer that pans over a whole file keeps no more of it resident.
        c.release();
    };
    // Exact extents of [a, b) into column x: whole blocks of the largest
    // levels that fit, the records before the first block and after the last.
    auto exact = [&](uint64_t a, uint64_t b, uint64_t x) {
        auto toX = [x](uint64_t) { return x; };
        const uint64_t head = std::min(b, (a + kBlock - 1) / kBlock * kBlock);
        direct(a, head, toX);
        a = head;
        const uint64_t tail = std::max(a, b / kBlock * kBlock);
        direct(tail, b, toX);
        uint64_t bs = a / kBlock;
        const uint64_t be = tail / kBlock;
        while (bs < be) {
            unsigned l = 0;
            while (l + 1 < levels() && bs % (uint64_t(2) << l) == 0 &&
                   bs + (uint64_t(2) << l) <= be)
                l++;
            for (size_t w = 0; w < wants.size(); w++)
                if (wants[w].lane != ~0u)
                    out[w][x].add(wants[w].of(level(wants[w].lane, l)[bs >> l]));
            bs += uint64_t(1) << l;
        }
    };

    const uint64_t span = n / columns;  // records per column, at least
    if (span < kBlock) {
        direct(first, last + 1,
               [&](uint64_t i) { return uint64_t((unsigned __int128)(i - first) * columns / n); });
        return out;
    }
    if (columns == 1) {
        exact(first, last + 1, 0);
        return out;
    }
    // The level whose blocks are at most a column wide.
    unsigned l = 0;
    while (l + 1 < levels() && (uint64_t(kBlock) << (l + 1)) <= span)
        l++;
    const uint64_t s = uint64_t(kBlock) << l;
    std::vector<uint64_t> edge(columns + 1);
    edge[0] = first;
    edge[columns] = last + 1;
    for (unsigned x = 1; x < columns; x++)
        edge[x] = share(x) / s * s;
    exact(edge[0], edge[1], 0);
    exact(edge[columns - 1], edge[columns], columns - 1);
    for (unsigned x = 1; x + 1 < columns; x++)
        for (uint64_t k = edge[x] / s; k < edge[x + 1] / s; k++)
            for (size_t w = 0; w < wants.size(); w++)
                if (wants[w].lane != ~0u)
                    out[w][x].add(wants[w].of(level(wants[w].lane, l)[k]));
    return out;
}

}  // namespace tarvo::recorded
