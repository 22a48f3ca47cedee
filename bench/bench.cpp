// tarvo-bench: whole-program measurements. The real tarvo, run unattended on
// the offscreen platform, records from tarvo-board on a pseudo-terminal:
//
//   pipeline   the board in flood mode, a fixed number of records of 8
//              channels with the status byte, integer columns; beside it, in
//              the same run, the same stream copied raw by `cat` (what the
//              machine can move through a pty at all)
//   real       the board paced at 115200 baud and the shortest period, for a
//              given time: tarvo's CPU as a share of one core
//   latency    start-up to panel shown, Start to "Sampling...", Quit to exit
//
// Every run's data.txt is checked against the board's record stream, record
// for record. The results are printed as rows of one Markdown table; bench/run
// adds the micro benchmarks' rows and prints the whole.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "board_model.h"
#include "proc.h"
#include "raw_line.h"
#include "record_oracle.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The measured configuration: 8 channels, status byte, 115200 baud, the
// shortest period the cost table allows, digital lines and counter recorded.
constexpr unsigned kPeriod = 1958;
Panel measured(unsigned period)
{
    Panel p;
    p.num_ch = 8, p.di = 1, p.baudr = 115200, p.SampPer = period, p.digf = 1, p.rec_c = 1,
    p.wfile = 1;
    return p;
}
const unsigned kRecLen = measured(kPeriod).recLen();

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// ---------------------------------------------------------------------------
// The programs: tarvo-board and tarvo as children of this process (proc.h)

std::string gBinDir;                   // where tarvo and tarvo-board are
std::vector<std::string> gTarvoExtra;  // extra arguments for tarvo (e.g. a chart switch)

// CPU time (user + system, every thread, living or ended) of a running process.
double cpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto close = s.rfind(')');
    if (close == std::string::npos)
        throw Failure("cannot read /proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name: state is field 3; utime, stime are 14, 15.
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < s.size() && fields.size() < 13) {
        const auto sp = s.find(' ', at);
        fields.push_back(s.substr(at, sp - at));
        at = sp == std::string::npos ? s.size() : sp + 1;
    }
    if (fields.size() < 13)
        throw Failure("short /proc stat");
    const double tick = double(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / tick;
}

// Resident memory of a running process, MB: now (VmRSS) or its peak (VmHWM).
double residentMB(pid_t pid, const char* key = "VmRSS:")
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(std::strlen(key))) / 1024.0;
    return 0;
}

std::unique_ptr<Proc> startBoard(const std::string& dir, const std::vector<std::string>& options,
                                 std::string* slave)
{
    std::vector<std::string> argv = {gBinDir + "/tarvo-board"};
    argv.insert(argv.end(), options.begin(), options.end());
    auto board = std::make_unique<Proc>(argv, dir, Proc::Streams{-1, -1, dir + "/board.err"});
    auto l = board->nextLine(Clock::now() + std::chrono::seconds(10));
    if (!l || l->first.rfind("/dev/", 0) != 0)
        throw Failure("tarvo-board printed no pseudo-terminal");
    *slave = l->first;
    return board;
}

std::unique_ptr<Proc> startTarvo(const std::string& dir, const std::string& device,
                                 const std::string& script)
{
    fs::create_directories(dir + "/work");
    std::ofstream(dir + "/script.txt") << script;
    std::vector<std::string> argv = {gBinDir + "/tarvo", "-platform", "offscreen",        "--com",
                                     "1=" + device,      "--script",  dir + "/script.txt"};
    argv.insert(argv.end(), gTarvoExtra.begin(), gTarvoExtra.end());
    return std::make_unique<Proc>(argv, dir + "/work", Proc::Streams{-1, -1, dir + "/tarvo.err"});
}

// Waits for the message line to show `text`; its moment.
Clock::time_point awaitMessage(Proc& tarvo, const std::string& text, Clock::time_point deadline)
{
    while (auto l = tarvo.nextLine(deadline)) {
        if (l->first == "message: " + text)
            return l->second;
        if (l->first.find("ERROR") != std::string::npos && text.find("ERROR") == std::string::npos)
            throw Failure("tarvo: " + l->first);
    }
    throw Failure("tarvo never showed \"" + text + "\"");
}

// ---------------------------------------------------------------------------
// Output

struct Row {
    std::string what, result, target;
};
std::vector<Row> gRows;

std::string fmt(const char* f, double v)
{
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

void row(const std::string& what, const std::string& result, const std::string& target = "")
{
    gRows.push_back({what, result, target});
    std::fprintf(stderr, "tarvo-bench: %s: %s\n", what.c_str(), result.c_str());
}

// ---------------------------------------------------------------------------
// Measurements

std::string gTmp;

// The same flood stream as the pipeline, copied raw from the slave side by
// cat: the handshake is done here, then cat reads until the board hangs up.
// Returns MB/s.
double rawCopy(uint64_t records)
{
    const std::string dir = gTmp + "/raw";
    fs::create_directories(dir);
    std::string slave;
    auto board = startBoard(
        dir, {"--flood", "--records", std::to_string(records), "--exit-when-done"}, &slave);
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        throw Failure("cannot open " + slave);
    tarvo::board::setRawLine(fd);

    auto readExactly = [&](uint8_t* dst, std::size_t n) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::size_t got = 0;
        while (got < n) {
            pollfd p{fd, POLLIN, 0};
            if (Clock::now() > deadline || poll(&p, 1, 100) < 0)
                throw Failure("raw copy: handshake timed out");
            if (!(p.revents & POLLIN))
                continue;
            const ssize_t r = read(fd, dst + got, n - got);
            if (r > 0)
                got += std::size_t(r);
        }
    };
    tcflush(fd, TCIFLUSH);  // the break's stand-in on a pty
    uint8_t ident[14];
    readExactly(ident, sizeof ident);
    if (std::memcmp(ident, tarvo::board::kIdent, 14) != 0)
        throw Failure("raw copy: wrong identification");
    uint8_t block[14];
    configBlock(measured(kPeriod), block);
    if (write(fd, block, 14) != 14)
        throw Failure("raw copy: cannot send the block");
    uint8_t sum = 0;
    readExactly(&sum, 1);
    if (sum != tarvo::board::blockChecksum(block, 14))
        throw Failure("raw copy: checksum refused");

    const std::string out = dir + "/raw.bin";
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const uint8_t startByte = 0;
    const auto t0 = Clock::now();
    if (write(fd, &startByte, 1) != 1)
        throw Failure("raw copy: cannot send the start byte");
    Proc cat({"/bin/cat"}, dir, Proc::Streams{fd, outFd, dir + "/cat.err"});
    close(fd);
    close(outFd);
    const auto limit = Clock::now() + std::chrono::seconds(120);
    if (!board->awaitExit(limit))
        throw Failure("raw copy: the board did not finish");
    const auto t1 = board->exited()->at;
    if (!cat.awaitExit(Clock::now() + std::chrono::seconds(10)))
        throw Failure("raw copy: cat did not end");
    const uint64_t bytes = fs::file_size(out);
    if (bytes != records * kRecLen)
        throw Failure("raw copy: " + std::to_string(bytes) + " bytes, not " +
                      std::to_string(records * kRecLen));
    fs::remove(out);
    return double(bytes) / std::chrono::duration<double>(t1 - t0).count() / 1e6;
}

struct PipelineResult {
    double seconds = 0, cpu = 0, peakMB = 0, rssStartMB = 0, rssEndMB = 0;
    DataCheck check;
};

// The flood pipeline: tarvo records `records` records as fast as it takes
// them. The board exits once the last record has been read off the line
// (it waits for the slave's queue to empty); then tarvo is ended with
// SIGTERM, which closes data.txt completely.
PipelineResult pipeline(uint64_t records, const ExpectedCycle& want, const std::string& name)
{
    const std::string dir = gTmp + "/" + name;
    fs::create_directories(dir);
    std::string slave;
    auto board = startBoard(
        dir, {"--flood", "--records", std::to_string(records), "--exit-when-done"}, &slave);
    // The wait only bounds the run: the board's end ends it.
    auto tarvo = startTarvo(dir, slave, measured(kPeriod).lines() + "press start\nwait 3600\n");
    const auto t0 = awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
    PipelineResult r;
    const double cpu0 = cpuSeconds(tarvo->pid());
    const auto limit = Clock::now() + std::chrono::seconds(300);
    auto nextRss = Clock::now() + std::chrono::milliseconds(500);
    for (;;) {
        if (board->awaitExit(std::min(limit, nextRss)))
            break;
        if (Clock::now() >= limit)
            throw Failure("pipeline: the board did not finish in 300 s");
        if (tarvo->awaitExit(Clock::now()))
            throw Failure("pipeline: tarvo ended early");
        const double rss = residentMB(tarvo->pid());
        if (r.rssStartMB == 0)
            r.rssStartMB = rss;
        nextRss += std::chrono::milliseconds(500);
    }
    r.seconds = std::chrono::duration<double>(board->exited()->at - t0).count();
    r.cpu = cpuSeconds(tarvo->pid()) - cpu0;
    r.rssEndMB = residentMB(tarvo->pid());
    tarvo->signal(SIGTERM);
    const auto& e = tarvo->awaitExit(Clock::now() + std::chrono::seconds(20));
    if (!e)
        throw Failure("pipeline: tarvo did not end after SIGTERM");
    r.peakMB = double(e->usage.ru_maxrss) / 1024.0;
    r.check = checkData(dir + "/work/data.txt", want);
    fs::remove(dir + "/work/data.txt");
    return r;
}

void reportPipeline(uint64_t records, const PipelineResult& p, double raw, const std::string& label)
{
    const double rate = double(records) / p.seconds;
    const double mbs = rate * kRecLen / 1e6;
    row("pipeline" + label + ": records/s (" + std::to_string(records) + " records in " +
            fmt("%.1f", p.seconds) + " s)",
        fmt("%.2f M", rate / 1e6), "~1.5 M");
    row("pipeline" + label + ": MB/s off the line", fmt("%.1f", mbs), ">= 20");
    row("pipeline" + label + " / raw copy", fmt("%.2f", mbs / raw), "aim 0.5");
    row("pipeline" + label + ": CPU s per million records", fmt("%.2f", p.cpu / (records / 1e6)));
    row("pipeline" + label + ": resident MB at start / end of sampling, peak",
        fmt("%.1f", p.rssStartMB) + " / " + fmt("%.1f", p.rssEndMB) + ", " + fmt("%.1f", p.peakMB),
        "<= 80, flat");
    const bool ok = p.check.lines == records && !p.check.firstBad && !p.check.counterBreaks &&
                    !p.check.partialLast;
    row("pipeline" + label + ": records lost or wrong",
        ok ? "0 (" + std::to_string(p.check.lines) + " lines, all as sent)"
           : std::to_string(p.check.lines) + " lines of " + std::to_string(records) +
                 ", first wrong line " + std::to_string(p.check.firstBad) + ", counter breaks " +
                 std::to_string(p.check.counterBreaks),
        "0");
}

// The real rate: records at the board's own pace for `seconds`.
void realRate(double seconds, const ExpectedCycle& want)
{
    const std::string dir = gTmp + "/real";
    fs::create_directories(dir);
    std::string slave;
    auto board = startBoard(dir, {}, &slave);
    auto tarvo = startTarvo(dir, slave, measured(kPeriod).lines() + "press start\nwait 3600\n");
    awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
    // Past the first second, where the sampling thread starts and the first
    // flush happens.
    if (tarvo->awaitExit(Clock::now() + std::chrono::seconds(1)))
        throw Failure("real rate: tarvo ended early");
    const double cpu0 = cpuSeconds(tarvo->pid());
    const double rss0 = residentMB(tarvo->pid());
    const auto t0 = Clock::now();
    if (tarvo->awaitExit(t0 + std::chrono::milliseconds(std::llround(seconds * 1000))))
        throw Failure("real rate: tarvo ended early");
    const double cpu = cpuSeconds(tarvo->pid()) - cpu0;
    const double span = secondsSince(t0);
    const double rss1 = residentMB(tarvo->pid());
    tarvo->signal(SIGTERM);
    if (!tarvo->awaitExit(Clock::now() + std::chrono::seconds(20)))
        throw Failure("real rate: tarvo did not end");
    board->signal(SIGTERM);
    board->awaitExit(Clock::now() + std::chrono::seconds(10));
    const DataCheck c = checkData(dir + "/work/data.txt", want);
    const uint64_t expected = uint64_t((span + 1) * 1e6 / kPeriod);
    row("real rate, 8 ch + status at " + std::to_string(kPeriod) +
            " us: tarvo CPU, % of one core (" + fmt("%.0f", span) + " s)",
        fmt("%.2f %%", 100 * cpu / span), "<= 1 %");
    row("real rate: resident MB at start / end", fmt("%.1f", rss0) + " / " + fmt("%.1f", rss1),
        "flat");
    const bool ok = !c.firstBad && !c.counterBreaks && c.lines + 50 > expected;
    row("real rate: records lost or wrong",
        ok ? "0 (" + std::to_string(c.lines) + " lines)"
           : std::to_string(c.lines) + " lines (about " + std::to_string(expected) +
                 " due), first wrong " + std::to_string(c.firstBad) + ", counter breaks " +
                 std::to_string(c.counterBreaks),
        "0");
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string msRange(const std::vector<double>& v)
{
    return fmt("%.0f ms", 1000 * median(v)) + " (max " +
           fmt("%.0f", 1000 * *std::max_element(v.begin(), v.end())) + ")";
}

// A Start refused by the period check opens nothing: its message marks the
// moment the script's first action ran, i.e. the panel is shown and its
// event loop runs, and the program is as it was before any Start.
constexpr const char* kRefused = " ERROR: The sampling period results too short!";

void latencies(int runs)
{
    std::vector<double> startup, quit, start;
    for (int i = 0; i < runs; i++) {
        const std::string dir = gTmp + "/latency" + std::to_string(i);
        fs::create_directories(dir);
        {
            auto tarvo =
                startTarvo(dir, "virtual", measured(100).lines() + "press start\npress quit\n");
            const auto shown =
                awaitMessage(*tarvo, kRefused, Clock::now() + std::chrono::seconds(30));
            const auto& e = tarvo->awaitExit(Clock::now() + std::chrono::seconds(30));
            if (!e || e->status != 0)
                throw Failure("latency: Quit did not end tarvo cleanly");
            startup.push_back(std::chrono::duration<double>(shown - tarvo->started()).count());
            quit.push_back(std::chrono::duration<double>(e->at - shown).count());
        }
        {
            std::string slave;
            auto board = startBoard(dir, {"--once"}, &slave);
            auto tarvo =
                startTarvo(dir, slave,
                           measured(100).lines() + "press start\nset 10 " +
                               std::to_string(kPeriod) + "\npress start\nwait 0.2\npress quit\n");
            const auto pressed =
                awaitMessage(*tarvo, kRefused, Clock::now() + std::chrono::seconds(30));
            const auto sampling =
                awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
            start.push_back(std::chrono::duration<double>(sampling - pressed).count());
            if (!tarvo->awaitExit(Clock::now() + std::chrono::seconds(30)))
                throw Failure("latency: tarvo did not quit");
            board->awaitExit(Clock::now() + std::chrono::seconds(10));
        }
        fs::remove_all(dir);
    }
    row("Start to \"Sampling...\", board present (median of " + std::to_string(runs) + ")",
        msRange(start), "<= 1100 ms");
    row("Quit before any Start to process exit", msRange(quit));
    row("start-up to panel shown (offscreen)", msRange(startup));
}

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "tarvo-bench: %s\n"
                 "usage: tarvo-bench [--records N] [--real-seconds S] [--latency-runs K]\n"
                 "                   [--only pipeline|real|latency] [--variant LABEL ARG]...\n"
                 "  --variant LABEL ARG  run the pipeline once more with ARG added to tarvo's\n"
                 "                       command line, labelled LABEL (e.g. a chart switch)\n",
                 why);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t records = 15'000'000;
    double realSeconds = 60;
    int latencyRuns = 5;
    std::string only;
    std::vector<std::pair<std::string, std::string>> variants;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        auto value = [&] {
            if (i + 1 >= argc)
                usage((a + " needs a value").c_str());
            return std::string(argv[++i]);
        };
        if (a == "--records")
            records = std::stoull(value());
        else if (a == "--real-seconds")
            realSeconds = std::stod(value());
        else if (a == "--latency-runs")
            latencyRuns = std::stoi(value());
        else if (a == "--only")
            only = value();
        else if (a == "--tarvo-arg")
            gTarvoExtra.push_back(value());
        else if (a == "--variant") {
            const std::string label = value();
            variants.emplace_back(label, value());
        } else
            usage(("unknown option " + a).c_str());
    }
    gBinDir = fs::canonical("/proc/self/exe").parent_path().string();
    char tmpl[] = "/tmp/tarvo-bench-XXXXXX";
    if (!mkdtemp(tmpl))
        usage("cannot make a temporary directory");
    gTmp = tmpl;
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    try {
        const ExpectedCycle want(measured(kPeriod));
        if (only.empty() || only == "pipeline") {
            // The raw copy on both sides of the pipeline runs: the machine is shared.
            const double raw1 = rawCopy(records);
            const PipelineResult p = pipeline(records, want, "pipeline");
            std::vector<std::pair<std::string, PipelineResult>> more;
            for (const auto& [label, arg] : variants) {
                gTarvoExtra = {arg};
                more.emplace_back(label, pipeline(records, want, "pipeline-" + label));
                gTarvoExtra.clear();
            }
            const double raw2 = rawCopy(records);
            const double raw = (raw1 + raw2) / 2;
            row("raw copy of the same stream by cat: MB/s (two runs)",
                fmt("%.1f", raw) + " (" + fmt("%.1f", raw1) + ", " + fmt("%.1f", raw2) + ")");
            reportPipeline(records, p, raw, "");
            for (const auto& [label, r] : more)
                reportPipeline(records, r, raw, " " + label);
        }
        if (only.empty() || only == "real")
            realRate(realSeconds, want);
        if (only.empty() || only == "latency")
            latencies(latencyRuns);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvo-bench: %s (files kept in %s)\n", e.what(), gTmp.c_str());
        status = 1;
    }
    for (const auto& r : gRows)
        std::printf("| %s | %s | %s |\n", r.what.c_str(), r.result.c_str(), r.target.c_str());
    if (status == 0)
        fs::remove_all(gTmp);
    return status;
}
