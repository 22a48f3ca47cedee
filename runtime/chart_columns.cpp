#include "chart_columns.h"

#include <algorithm>
#include <cmath>

namespace tarvo::rt {

void ChartColumns::restart(const ChartLayout& layout, std::int64_t nowMs)
{
    layout_ = layout;
    for (ChartColumn& c : columns_)
        c.id = -1;
    latest_ = -1;
    lastIndex_ = 0;
    coarsenings_ = 0;
    if (wholeRun() && !columns_.empty())
        columnUs_ = kWindowSeconds * 1e6 / double(columns_.size());
    rateIndex_ = 0;
    rateAt_ = nowMs;
}

const ChartColumn* ChartColumns::column(std::int64_t id) const
{
    if (id < 0 || columns_.empty())
        return nullptr;
    const ChartColumn& c = columns_[static_cast<std::size_t>(id % std::int64_t(columns_.size()))];
    return c.id == id ? &c : nullptr;
}

double ChartColumns::timeUs(std::uint32_t index) const
{
    return (double(index) - 1) * std::max(1u, layout_.periodUs);
}

std::int64_t ChartColumns::columnAt(double us) const
{
    return static_cast<std::int64_t>(std::floor(us / columnUs_));
}

void ChartColumns::reach(double us)
{
    if (wholeRun() && !columns_.empty() && us >= 0)
        coarsenFor(columnAt(us));
}

void ChartColumns::coarsenFor(std::int64_t id)
{
    const std::int64_t width = std::int64_t(columns_.size());
    int doublings = 0;
    for (; id >= width; id /= 2)
        ++doublings;
    if (doublings == 0)
        return;
    regroup(int(width), columnUs_ * double(std::int64_t(1) << doublings));
    coarsenings_ += doublings;
    if (latest_ >= 0)
        changedFrom_ = 0;
}

void ChartColumns::take(const ChartPoint& p)
{
    const std::int64_t width = std::int64_t(columns_.size());
    if (width == 0)
        return;
    std::int64_t id = columnAt(timeUs(p.index));
    if (wholeRun() && id >= width) {
        coarsenFor(id);
        id = columnAt(timeUs(p.index));
    }
    if (id < 0 || id <= latest_ - width)
        return;  // older than the window
    ChartColumn& c = columns_[static_cast<std::size_t>(id % width)];
    const int n = layout_.channels;
    if (c.id != id) {
        c.id = id;
        for (int i = 0; i < n; ++i)
            c.first[i] = c.lo[i] = c.hi[i] = p.values[i];
        c.linesFirst = c.linesLo = c.linesHi = p.status;
    } else {
        for (int i = 0; i < n; ++i) {
            c.lo[i] = std::min(c.lo[i], p.values[i]);
            c.hi[i] = std::max(c.hi[i], p.values[i]);
        }
        c.linesLo &= p.status;
        c.linesHi |= p.status;
    }
    for (int i = 0; i < n; ++i)
        c.last[i] = p.values[i];
    c.linesLast = p.status;
    latest_ = std::max(latest_, id);
    changedFrom_ = std::min(changedFrom_, id);
    lastIndex_ = p.index;
}

void ChartColumns::rebin(int width)
{
    double us = windowSeconds_ * 1e6 / width;
    if (wholeRun()) {
        // The narrowest doubling of the first 5 s that still holds the run.
        us = kWindowSeconds * 1e6 / width;
        const double reached = latest_ >= 0 ? (double(latest_) + 1) * columnUs_ : 0;
        while (reached > us * width * (1 + 1e-9))
            us *= 2;
    }
    regroup(width, us);
}

void ChartColumns::regroup(int width, double columnUs)
{
    std::vector<ChartColumn> old = std::move(columns_);
    const double oldUs = columnUs_;
    columns_.assign(static_cast<std::size_t>(width), ChartColumn{});
    columnUs_ = columnUs;
    if (old.empty() || latest_ < 0)
        return;
    const std::int64_t oldWidth = std::int64_t(old.size());
    const int n = layout_.channels;
    std::int64_t newest = -1;
    for (std::int64_t id = std::max<std::int64_t>(0, latest_ - oldWidth + 1); id <= latest_; ++id) {
        const ChartColumn& o = old[static_cast<std::size_t>(id % oldWidth)];
        if (o.id != id)
            continue;
        const auto nid = static_cast<std::int64_t>(std::floor(double(id) * oldUs / columnUs_));
        ChartColumn& c = columns_[static_cast<std::size_t>(nid % width)];
        if (c.id != nid) {
            c = o;
            c.id = nid;
        } else {
            for (int i = 0; i < n; ++i) {
                c.lo[i] = std::min(c.lo[i], o.lo[i]);
                c.hi[i] = std::max(c.hi[i], o.hi[i]);
                c.last[i] = o.last[i];
            }
            c.linesLo &= o.linesLo;
            c.linesHi |= o.linesHi;
            c.linesLast = o.linesLast;
        }
        newest = std::max(newest, nid);
    }
    latest_ = newest;
}

std::optional<int> ChartColumns::skipAt(std::int64_t nowMs)
{
    const std::int64_t span = nowMs - rateAt_;
    if (span < 100)
        return std::nullopt;
    const std::uint32_t index = lastIndex_;
    const double rate = index >= rateIndex_ ? (index - rateIndex_) * 1000.0 / double(span) : 0;
    rateIndex_ = index;
    rateAt_ = nowMs;
    return rate > kMaxTakenPerSecond ? int(std::ceil(rate / kMaxTakenPerSecond)) - 1 : 0;
}

void RunClock::record(double recordUs, std::int64_t nowMs)
{
    if (recordUs <= recordUs_)
        return;
    recordUs_ = recordUs;
    seenMs_ = nowMs;
}

double RunClock::nowUs(std::int64_t nowMs)
{
    if (recordUs_ < 0)
        return -1;
    shownUs_ = std::max(shownUs_, recordUs_ + double(nowMs - seenMs_) * 1000);
    return shownUs_;
}

}  // namespace tarvo::rt
