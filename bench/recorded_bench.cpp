// tarvo-recorded-bench: the readers of recorded runs on a large file.
//
//   tarvo-recorded-bench generate DIR RECORDS   a run folder: data.txt in integer
//                                               columns (8 channels, digital lines,
//                                               counter, a record lost every 100000)
//                                               and its run.json
//   tarvo-recorded-bench index PATH [QUERIES]   opens the run as a viewer does (index
//                                               and pyramid), then draws random
//                                               zooms and pans of every channel
//
// index prints lines "key value" for bench/recorded to put in its table.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "board_model.h"
#include "recordline.h"
#include "run.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// CPU seconds of this process so far (all threads), and of this thread.
double cpuSeconds()
{
    struct rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    struct timespec t = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double peakMb()
{
    struct rusage u = {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

int generate(const std::string& dir, uint64_t records)
{
    namespace board = tarvo::board;
    const unsigned channels = 8;
    std::FILE* f = std::fopen((dir + "/data.txt").c_str(), "wb");
    if (f == nullptr) {
        std::perror("data.txt");
        return 1;
    }
    std::vector<char> buf(1 << 20);
    size_t used = 0;
    unsigned char rec[16];
    uint64_t lost = 0, n = 0;
    for (uint64_t i = 0; i < records; i++) {
        n++;
        if (n % 100000 == 0) {  // the board's record n never arrives
            n++;
            lost++;
        }
        uint16_t v[board::kMaxChannels];
        for (unsigned ch = 0; ch < channels; ch++)
            v[ch] = uint16_t((board::sampleValue(ch, n) + (n / 4096) * 7 * (ch + 1)) % 4096);
        board::packSamples(v, channels, 0, rec);
        rec[reclen(channels, 1) - 1] = board::statusByte(n);
        if (used + RECORDLINE_MAX > buf.size()) {
            std::fwrite(buf.data(), 1, used, f);
            used = 0;
        }
        used += size_t(formatrecord(rec, channels, 1, 1, 1, buf.data() + used));
    }
    std::fwrite(buf.data(), 1, used, f);
    std::fclose(f);
    f = std::fopen((dir + "/run.json").c_str(), "wb");
    std::fprintf(
        f,
        "{\"format\": \"tarvo-run 1\", \"program\": \"tarvo 0.1.0\", \"data_file\": \"data.txt\",\n"
        " \"report_file\": \"config.txt\",\n"
        " \"settings\": {\"channels\": 8, \"status_byte\": true, \"digital_lines\": true,\n"
        "   \"record_counter\": true, \"file_format\": \"columns\", \"period_us\": 1000,\n"
        "   \"baud_rate\": 115200, \"port\": 1, \"device\": \"/dev/ttyUSB0\", \"record_bytes\": 13},\n"
        " \"start\": \"2026-12-07T18:02:33.125+01:00\", \"end\": \"2026-12-08T00:09:13.125+01:00\",\n"
        " \"ended_by\": \"stop\", \"records\": %llu, \"lost\": %llu, \"events\": [], \"events_dropped\": 0}\n",
        (unsigned long long)records, (unsigned long long)lost);
    std::fclose(f);
    return 0;
}

int indexRun(const std::string& path, int queries)
{
    using namespace tarvo::recorded;
    const auto t0 = Clock::now();
    const double cpu0 = cpuSeconds();
    std::string why;
    Run::Options o;
    auto run = Run::open(path, o, why);
    if (!run) {
        std::fprintf(stderr, "tarvo-recorded-bench: %s\n", why.c_str());
        return 1;
    }
    const double build = since(t0);
    const double buildCpu = cpuSeconds() - cpu0;
    std::printf("records %llu\n", (unsigned long long)run->count());
    std::printf("index_s %.3f\n", build);
    std::printf("index_cpu_s %.3f\n", buildCpu);
    std::printf("peak_rss_mb %.1f\n", peakMb());
    std::printf("index_mb %.1f\n",
                double(run->records().memoryBytes() + run->pyramid()->memoryBytes()) / 1048576.0);

    // A viewer 1920 pixels wide showing every channel and digital line:
    // random zooms (from the whole run down to a few hundred records) and
    // pans, as a user's wheel and drags would give.
    const unsigned width = 1920;
    std::vector<unsigned> channels(run->pyramid()->channels());
    for (unsigned c = 0; c < channels.size(); c++)
        channels[c] = c;
    std::mt19937_64 rng(7);
    const uint64_t n = run->count();
    std::vector<double> ms, cpuMs;
    uint64_t sink = 0;
    for (int q = 0; q < queries; q++) {
        const double zoom = std::uniform_real_distribution<double>(0, 1)(rng);
        const uint64_t span = std::max<uint64_t>(200, uint64_t(double(n) * std::pow(1e-5, zoom)));
        const uint64_t first =
            std::uniform_int_distribution<uint64_t>(0, n - std::min(n, span))(rng);
        const auto t = Clock::now();
        const double c = threadCpuSeconds();
        const auto cols = run->pyramid()->minmax(channels, first, first + span - 1, width);
        ms.push_back(since(t) * 1000);
        cpuMs.push_back((threadCpuSeconds() - c) * 1000);
        sink += cols[0][width / 2].hi;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpuMs.begin(), cpuMs.end());
    std::printf("query_cpu_ms_median %.2f\n", cpuMs[cpuMs.size() / 2]);
    std::printf("query_cpu_ms_p99 %.2f\n", cpuMs[cpuMs.size() * 99 / 100]);
    std::printf("query_cpu_ms_max %.2f\n", cpuMs.back());
    std::printf("query_ms_median %.2f\n", ms[ms.size() / 2]);
    std::printf("query_ms_p99 %.2f\n", ms[ms.size() * 99 / 100]);
    std::printf("query_ms_max %.2f\n", ms.back());
    std::printf("query_peak_rss_mb %.1f\n", peakMb());
    std::fprintf(stderr, "(%llu)\n", (unsigned long long)sink);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "generate" && argc == 4)
        return generate(argv[2], std::strtoull(argv[3], nullptr, 10));
    if (cmd == "index" && (argc == 3 || argc == 4))
        return indexRun(argv[2], argc == 4 ? std::atoi(argv[3]) : 200);
    std::fprintf(stderr,
                 "usage: tarvo-recorded-bench generate DIR RECORDS | index PATH [QUERIES]\n");
    return 2;
}
