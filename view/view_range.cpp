#include "view_range.h"

#include <algorithm>

namespace tarvo::view {

Span clamped(Span s, const Limits& limits)
{
    const double end = std::max(0.0, limits.end);
    double width = std::min(std::max(s.width(), limits.minWidth), end);
    if (width <= 0)
        return {0, end};
    double from = s.from;
    if (s.width() < width)  // widened about its middle
        from = (s.from + s.to) / 2 - width / 2;
    from = std::clamp(from, 0.0, end - width);
    return {from, from + width};
}

Span zoomed(Span s, double at, double factor, const Limits& limits)
{
    if (s.width() <= 0)
        return clamped(s, limits);
    double width =
        std::clamp(s.width() * factor, std::min(limits.minWidth, limits.end), limits.end);
    // The pointer's share of the view stays where it is.
    const double share = std::clamp((at - s.from) / s.width(), 0.0, 1.0);
    const double from = at - share * width;
    return clamped({from, from + width}, limits);
}

Span panned(Span s, double by, const Limits& limits)
{
    return clamped({s.from + by, s.to + by}, limits);
}

}  // namespace tarvo::view
