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

void ChartColumns::take(const ChartPoint& p)
{
    const std::int64_t width = std::int64_t(columns_.size());
    if (width == 0)
        return;
    const double periodUs = std::max(1u, layout_.periodUs);
    const auto id =
        static_cast<std::int64_t>(std::floor((double(p.index) - 1) * periodUs / columnUs_));
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
    std::vector<ChartColumn> old = std::move(columns_);
    const double oldUs = columnUs_;
    columns_.assign(static_cast<std::size_t>(width), ChartColumn{});
    columnUs_ = kWindowSeconds * 1e6 / width;
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

}  // namespace tarvo::rt
