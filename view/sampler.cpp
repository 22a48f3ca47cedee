#include "sampler.h"

#include <algorithm>
#include <cmath>

namespace tarvo::view {

using recorded::Event;
using recorded::Extent;
using recorded::kBlock;
using recorded::Record;
using recorded::Run;

// ---- the timeline -----------------------------------------------------------------

Timeline::Timeline(const Run& run)
    : run_(&run), count_(run.count()), period_(double(run.periodUs()))
{
    // The losses that the index lists (by the counter) or that run.json
    // gives; a loss before the first record does not count (it is at 0).
    uint64_t lost = 0;
    for (const Run::Mark& m : run.marks()) {
        if (m.type != Event::Type::Loss || m.record == 0 || m.record >= count_)
            continue;
        lost += m.missing;
        if (!steps_.empty() && steps_.back().first == m.record)
            steps_.back().lost = lost;
        else
            steps_.push_back({m.record, lost});
    }
    const recorded::Records& rs = run.records();
    known_ = rs.layout().counter && rs.lossesDropped() > 0 && !steps_.empty() ? steps_.back().first
                                                                              : count_;
}

uint64_t Timeline::lostBefore(uint64_t i) const
{
    if (i >= known_ && run_)
        return run_->lostBefore(i);
    auto it = std::upper_bound(steps_.begin(), steps_.end(), i,
                               [](uint64_t v, const Step& s) { return v < s.first; });
    return it == steps_.begin() ? 0 : std::prev(it)->lost;
}

uint64_t Timeline::recordAt(double us) const
{
    if (count_ == 0 || us <= 0)
        return 0;
    if (known_ < count_ && us > timeUs(known_))
        return std::min(count_, run_->recordAt(uint64_t(std::ceil(us))));
    // The last stretch that begins at or before `us`, then the record in it.
    auto it = std::upper_bound(steps_.begin(), steps_.end(), us, [this](double t, const Step& s) {
        return t < double(s.first + s.lost) * period_;
    });
    const uint64_t first = it == steps_.begin() ? 0 : std::prev(it)->first;
    const uint64_t lost = it == steps_.begin() ? 0 : std::prev(it)->lost;
    const uint64_t next = it == steps_.end() ? count_ : it->first;
    const double at = std::ceil(us / period_ - 1e-9) - double(lost);
    const uint64_t i = at <= double(first) ? first : uint64_t(at);
    return std::min({i, next, count_});
}

void Timeline::pieces(uint64_t a, uint64_t b, uint64_t finest, std::vector<Piece>& out) const
{
    if (a >= b)
        return;
    // The listed losses: exact cuts.
    const uint64_t listedEnd = std::min(b, known_);
    auto it = std::upper_bound(steps_.begin(), steps_.end(), a,
                               [](uint64_t v, const Step& s) { return v < s.first; });
    uint64_t at = a;
    uint64_t lost = it == steps_.begin() ? 0 : std::prev(it)->lost;
    for (; at < listedEnd; ++it) {
        const uint64_t end = it == steps_.end() ? listedEnd : std::min(listedEnd, it->first);
        if (end > at)
            out.push_back({at, end, lost});
        at = end;
        if (it == steps_.end())
            break;
        lost = it->lost;
    }
    if (at < b)  // past the listed losses: found by halving
        cut(at, b, run_->lostBefore(at), run_->lostBefore(b), finest, out);
}

void Timeline::cut(uint64_t a, uint64_t b, uint64_t la, uint64_t lb, uint64_t finest,
                   std::vector<Piece>& out) const
{
    if (la == lb || b - a <= finest) {
        out.push_back({a, b, la});
        return;
    }
    uint64_t m = (a + (b - a) / 2) / kBlock * kBlock;  // the count is cheap at a block's start
    if (m <= a)
        m = a + (b - a) / 2;
    const uint64_t lm = run_->lostBefore(m);
    cut(a, m, la, lm, finest, out);
    cut(m, b, lm, lb, finest, out);
}

// ---- the picture ------------------------------------------------------------------

namespace {

// Below this many records a column, the records are read one by one.
constexpr double kReadBelow = 16;

// Reads records [a, b) in order with the records lost before each: by the
// counter's gaps where the file holds it (as the index counts them), else
// by the run's loss events.
template <class Visit>
void readRecords(const Run& run, const Timeline& timeline, uint64_t a, uint64_t b, Visit visit)
{
    const bool counter = run.records().layout().counter;
    recorded::Records::Cursor c = run.records().cursor(a);
    Record r;
    uint64_t lost = timeline.lostBefore(a);
    unsigned previous = 0;
    for (uint64_t i = a; i < b && c.next(r); i++) {
        uint64_t now = lost;
        if (i > a)
            now = counter ? lost + ((unsigned(r.counter) - previous - 1) & 15)
                          : timeline.lostBefore(i);
        previous = r.counter;
        visit(i, r, now, now != lost);
        lost = now;
    }
}

}  // namespace

Picture sample(const Run& run, const Timeline& timeline, const std::vector<unsigned>& channels,
               Span span, unsigned width)
{
    Picture pic;
    pic.width = width;
    const uint64_t count = std::min(run.count(), timeline.count());
    if (width == 0 || count == 0 || span.width() <= 0 || channels.empty())
        return pic;
    const double period = timeline.periodUs();
    const double usPerColumn = span.width() / width;
    const unsigned analog = run.records().layout().channels;
    // The records whose periods begin in the span.
    const uint64_t first = timeline.recordAt(span.from);
    const uint64_t end = std::min(count, timeline.recordAt(span.to));
    auto xOf = [&](uint64_t i, uint64_t lost) {
        return (double(i + lost) * period - span.from) / usPerColumn;
    };
    auto columnOf = [&](double x) {
        return unsigned(std::clamp(std::floor(x), 0.0, double(width - 1)));
    };

    if (usPerColumn < period) {
        // A pixel or more per record: each record a point, with its
        // neighbours outside the span so that the traces run to the edges.
        pic.kind = Picture::Kind::Points;
        pic.values.assign(channels.size(), {});
        const uint64_t a = first > 0 ? first - 1 : 0;
        const uint64_t b = std::min(count, end + 1);
        readRecords(run, timeline, a, b,
                    [&](uint64_t i, const Record& r, uint64_t lost, bool loss) {
                        pic.points.push_back({xOf(i, lost), i, loss});
                        for (size_t k = 0; k < channels.size(); k++)
                            pic.values[k].push_back(valueOf(r, analog, channels[k]));
                    });
        return pic;
    }

    pic.kind = Picture::Kind::Columns;
    pic.columns.assign(channels.size(), std::vector<Extent>(width));
    if (first >= end)
        return pic;
    // Records a..b-1 read one by one, each into its own column.
    auto addRecords = [&](uint64_t a, uint64_t b) {
        readRecords(run, timeline, a, b, [&](uint64_t i, const Record& r, uint64_t lost, bool) {
            const double x = xOf(i, lost);
            if (x < 0 || x >= width)
                return;
            const unsigned col = unsigned(x);
            for (size_t k = 0; k < channels.size(); k++)
                pic.columns[k][col].add(valueOf(r, analog, channels[k]));
        });
    };
    if (usPerColumn < kReadBelow * period || !run.pyramid()) {
        addRecords(first, end);
        return pic;
    }

    std::vector<Timeline::Piece> pieces;
    timeline.pieces(first, end, uint64_t(usPerColumn / period), pieces);
    // Pieces whose losses together move time by less than half a column are
    // drawn as one: a run with a loss in every column costs no more than one
    // without.
    const uint64_t slack = uint64_t(usPerColumn / period / 2);
    std::vector<Timeline::Piece> merged;
    for (const Timeline::Piece& p : pieces) {
        if (!merged.empty() && merged.back().b == p.a && p.lost - merged.back().lost <= slack)
            merged.back().b = p.b;
        else
            merged.push_back(p);
    }
    const recorded::Pyramid& pyramid = *run.pyramid();
    const bool byBlock = usPerColumn < kBlock * period;
    for (const Timeline::Piece& p : merged) {
        if (byBlock) {
            // The index's blocks (one column each in the pyramid's answer),
            // each into the columns its records fall in; the records before
            // the first whole block and after the last, one by one.
            const uint64_t a = std::min(p.b, (p.a + kBlock - 1) / kBlock * kBlock);
            const uint64_t b = std::max(a, p.b / kBlock * kBlock);
            addRecords(p.a, a);
            addRecords(b, p.b);
            if (b == a)
                continue;
            const unsigned blocks = unsigned((b - a) / kBlock);
            const auto ext = pyramid.minmax(channels, a, b - 1, blocks);
            for (unsigned j = 0; j < blocks; j++) {
                const uint64_t r = a + uint64_t(j) * kBlock;
                const unsigned xa = columnOf(xOf(r, p.lost)),
                               xb = columnOf(xOf(r + kBlock - 1, p.lost));
                for (size_t k = 0; k < channels.size(); k++)
                    for (unsigned x = xa; x <= xb; x++)
                        pic.columns[k][x].add(ext[k][j]);
            }
            continue;
        }
        const unsigned xa = columnOf(xOf(p.a, p.lost));
        const unsigned xb = std::max(xa, columnOf(xOf(p.b - 1, p.lost)));
        const auto ext = pyramid.minmax(channels, p.a, p.b - 1, xb - xa + 1);
        for (size_t k = 0; k < channels.size(); k++)
            for (unsigned x = xa; x <= xb; x++)
                pic.columns[k][x].add(ext[k][x - xa]);
    }
    return pic;
}

}  // namespace tarvo::view
