// tarvo-view-bench: how long tarvo-view's chart takes to draw a large run.
//
//   tarvo-view-bench PATH [PAINTS] [WIDTHxHEIGHT]
//
// Opens the run as tarvo-view does (index and pyramid), then draws the
// chart (every channel and digital line) into an image: the whole run once,
// then PAINTS times (default 300) a view at a random zoom, from the whole run
// down to the narrowest view of single records (evenly on a log scale), at a
// random place, as the wheel and drags give them. Each draw is the chart's
// whole paint() with its picture made anew. Prints "key value" lines: the
// draw times (median, 90th and 99th percentile, worst; also by how many
// records fall in a pixel column), the open time and the peak resident memory.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "run.h"
#include "run_chart.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// CPU time of this thread: what a draw costs, whatever else the machine runs.
double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double peakMb()
{
    struct rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;
}

double at(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvo-view-bench PATH [PAINTS] [WIDTHxHEIGHT]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int paints = argc > 2 ? std::atoi(argv[2]) : 300;
    int width = 1600, height = 900;
    if (argc > 3 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "tarvo-view-bench: size WIDTHxHEIGHT, not %s\n", argv[3]);
        return 2;
    }
    static char platform[] = "-platform", offscreen[] = "offscreen";
    char* qtArgv[] = {argv[0], platform, offscreen, nullptr};
    int qtArgc = 3;
    QApplication app(qtArgc, qtArgv);

    const auto t0 = Clock::now();
    std::string why;
    auto run = tarvo::recorded::Run::open(path, {}, why);
    if (!run) {
        std::fprintf(stderr, "tarvo-view-bench: %s\n", why.c_str());
        return 1;
    }
    std::printf("records %llu\n", (unsigned long long)run->count());
    std::printf("open_s %.3f\n", msSince(t0) / 1000);

    tarvo::view::RunChart chart;
    chart.resize(width, height);
    chart.setRun(run.get());
    QImage image(width, height, QImage::Format_RGB32);
    double cpu = 0;  // of the last draw
    auto draw = [&] {
        const auto t = Clock::now();
        const double c = threadMs();
        QPainter p(&image);
        chart.render(p);
        p.end();
        cpu = threadMs() - c;
        return msSince(t);
    };
    const double whole = draw();
    std::printf("whole_run_ms %.2f (cpu %.2f)\n", whole, cpu);

    const tarvo::view::Limits limits = chart.limits();
    const double plotWidth = chart.plotRect().width();
    const double period = double(run->periodUs());
    std::mt19937_64 rng(13);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<double> all, allCpu;
    std::map<std::string, std::vector<double>> byDensity, byDensityCpu;
    for (int i = 0; i < paints; i++) {
        const double w = limits.minWidth * std::pow(limits.end / limits.minWidth, unit(rng));
        const double from = unit(rng) * (limits.end - w);
        chart.setSpan({from, from + w});
        const double ms = draw();
        all.push_back(ms);
        allCpu.push_back(cpu);
        const double perColumn = chart.span().width() / plotWidth / period;
        const char* density = perColumn < 1    ? "a_points"
                              : perColumn < 16 ? "b_records"
                              : perColumn < 32 ? "c_blocks"
                                               : "d_pyramid";
        byDensity[density].push_back(ms);
        byDensityCpu[density].push_back(cpu);
    }
    std::printf("paints %d\n", paints);
    std::printf("size %dx%d\n", width, height);
    std::printf("paint_ms_median %.2f\n", at(all, 0.5));
    std::printf("paint_ms_p90 %.2f\n", at(all, 0.9));
    std::printf("paint_ms_p99 %.2f\n", at(all, 0.99));
    std::printf("paint_ms_max %.2f\n", at(all, 1.0));
    std::printf("paint_cpu_ms_median %.2f\n", at(allCpu, 0.5));
    std::printf("paint_cpu_ms_p90 %.2f\n", at(allCpu, 0.9));
    std::printf("paint_cpu_ms_p99 %.2f\n", at(allCpu, 0.99));
    std::printf("paint_cpu_ms_max %.2f\n", at(allCpu, 1.0));
    static const std::map<std::string, std::string> names = {
        {"a_points", "below 1 record a column (each record a point)"},
        {"b_records", "1 to 15 records a column (records read)"},
        {"c_blocks", "16 to 31 records a column (the index's blocks)"},
        {"d_pyramid", "32 or more records a column (min/max pyramid)"}};
    for (const auto& [k, v] : byDensity)
        std::printf("paint_ms_median_p99_max[%s] %.2f %.2f %.2f (%zu paints)\n",
                    names.at(k).c_str(), at(v, 0.5), at(v, 0.99), at(v, 1.0), v.size());
    for (const auto& [k, v] : byDensityCpu)
        std::printf("paint_cpu_ms_median_p99_max[%s] %.2f %.2f %.2f\n", names.at(k).c_str(),
                    at(v, 0.5), at(v, 0.99), at(v, 1.0));
    std::printf("peak_rss_mb %.1f\n", peakMb());
    return 0;
}
