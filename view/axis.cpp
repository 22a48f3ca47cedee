#include "axis.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvo::view {

namespace {

// Steps of 1, 2 and 5 times a power of ten, the first at least `least`.
double niceStep(double least)
{
    if (least <= 0)
        return 1;
    const double p = std::pow(10.0, std::floor(std::log10(least)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= least * (1 - 1e-9))
            return m * p;
    return 10 * p;
}

// Steps of a clock from one second up: seconds, minutes and hours as a
// clock divides them, then days.
double clockStep(double leastUs)
{
    static const double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                   600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    for (double s : steps)
        if (s * 1e6 >= leastUs)
            return s * 1e6;
    return niceStep(leastUs / 86400e6) * 86400e6;
}

int decimalsFor(double stepSeconds)
{
    int d = 0;
    while (d < 6 && std::fabs(stepSeconds * std::pow(10.0, d) -
                              std::round(stepSeconds * std::pow(10.0, d))) > 1e-6)
        d++;
    return d;
}

std::string clockLabel(double seconds, int decimals, bool hours)
{
    const double rounded =
        std::round(seconds * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
    const auto whole = static_cast<long long>(std::floor(rounded));
    const double frac = rounded - double(whole);
    char fracText[16] = "";
    if (decimals > 0) {
        std::snprintf(fracText, sizeof fracText, "%.*f", decimals, frac);
        std::memmove(fracText, fracText + 1, sizeof fracText - 1);  // ".5" of "0.5"
    }
    char text[48];
    if (hours)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld%s", whole / 3600, whole / 60 % 60,
                      whole % 60, fracText);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld%s", whole / 60, whole % 60, fracText);
    return text;
}

}  // namespace

std::vector<Tick> timeTicks(Span span, double pixels, double spacing, double scaleEnd,
                            bool periodKnown)
{
    std::vector<Tick> ticks;
    if (span.width() <= 0 || pixels <= 0)
        return ticks;
    const double least = span.width() * spacing / pixels;
    double step;
    if (!periodKnown)
        step = niceStep(std::max(least, 1e6));  // whole records
    else if (least >= 1e6)
        step = clockStep(least);
    else
        step = niceStep(least);
    const int decimals = periodKnown ? decimalsFor(step / 1e6) : 0;
    const bool clock = periodKnown && scaleEnd >= 60e6;
    for (double at = std::ceil(span.from / step - 1e-9) * step; at <= span.to + 1e-6 * step;
         at += step) {
        char text[48];
        const double s = std::fabs(at) < 1e-6 * step ? 0.0 : at / 1e6;  // never "-0.0"
        if (!periodKnown)
            std::snprintf(text, sizeof text, "%.0f", s);
        else if (clock)
            std::snprintf(text, sizeof text, "%s",
                          clockLabel(s, decimals, scaleEnd >= 3600e6).c_str());
        else
            std::snprintf(text, sizeof text, "%.*f s", decimals, s);
        ticks.push_back({at, text});
    }
    return ticks;
}

std::vector<Tick> valueTicks(double lo, double hi, double pixels, double spacing)
{
    std::vector<Tick> ticks;
    if (hi <= lo || pixels <= 0)
        return ticks;
    const double step = std::max(1.0, niceStep((hi - lo) * spacing / pixels));
    for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
        char text[24];
        std::snprintf(text, sizeof text, "%.0f", v);
        ticks.push_back({v, text});
    }
    return ticks;
}

std::string readoutTime(double us, bool periodKnown)
{
    char text[64];
    if (!periodKnown) {
        std::snprintf(text, sizeof text, "no period known");
        return text;
    }
    const double s = us / 1e6;
    if (s < 60)
        std::snprintf(text, sizeof text, "%.6f s", s);
    else
        std::snprintf(text, sizeof text, "%.6f s (%s)", s, clockLabel(s, 3, s >= 3600).c_str());
    return text;
}

std::string durationText(double us)
{
    const double s = us / 1e6;
    if (s >= 60)
        return clockLabel(std::round(s), 0, s >= 3600);
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    std::string t = text;
    while (t.back() == '0')
        t.pop_back();
    if (t.back() == '.')
        t.pop_back();
    return t + " s";
}

}  // namespace tarvo::view
