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
#include <sys/syscall.h>
#include <sys/wait.h>
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
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "board_model.h"
#include "raw_line.h"
#include "reccost.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using tarvo::board::BoardModel;

// The measured configuration: 8 channels, status byte, 115200 baud, the
// shortest period the cost table allows, digital lines and counter recorded.
constexpr unsigned kChannels = 8;
constexpr unsigned kStatus = 1;
constexpr unsigned kBaud = 115200;
constexpr unsigned kPeriod = 1958;
const unsigned kRecLen = reclen(kChannels, kStatus);

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// ---------------------------------------------------------------------------
// Child processes

std::string gBinDir;  // where tarvo and tarvo-board are
std::vector<std::string> gTarvoExtra;  // extra arguments for tarvo (e.g. a chart switch)

struct Exit {
    int status = -1;   // exit status, or 128 + signal
    rusage usage{};
    Clock::time_point at;
};

class Child {
public:
    // Starts argv in cwd; stdout to a pipe (read with line()), or to outFd;
    // stdin from inFd when given; stderr to errPath.
    Child(const std::vector<std::string>& argv, const std::string& cwd, const std::string& errPath,
          int inFd = -1, int outFd = -1)
    {
        int p[2] = {-1, -1};
        if (outFd < 0 && pipe2(p, O_CLOEXEC) != 0) throw Failure("pipe: " + std::string(strerror(errno)));
        started_ = Clock::now();
        pid_ = fork();
        if (pid_ < 0) throw Failure("fork: " + std::string(strerror(errno)));
        if (pid_ == 0) {
            if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
            if (inFd >= 0) dup2(inFd, 0);
            dup2(outFd >= 0 ? outFd : p[1], 1);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) dup2(err, 2);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        if (outFd < 0) {
            close(p[1]);
            out_ = p[0];
            fcntl(out_, F_SETFL, O_NONBLOCK);
        }
        pidfd_ = int(syscall(SYS_pidfd_open, pid_, 0));
        if (pidfd_ < 0) throw Failure("pidfd_open: " + std::string(strerror(errno)));
    }
    ~Child()
    {
        // Only this child, by its id: a run that failed leaves nothing behind.
        if (!exit_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        close(pidfd_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    Clock::time_point started() const { return started_; }
    const std::optional<Exit>& exited() const { return exit_; }

    // The next line of stdout with the moment it arrived, waiting until
    // `deadline`; nothing when the deadline passes or the output ends.
    std::optional<std::pair<std::string, Clock::time_point>> line(Clock::time_point deadline)
    {
        for (;;) {
            if (auto nl = buf_.find('\n'); nl != std::string::npos) {
                std::string l = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return std::make_pair(l, lineAt_);
            }
            if (outEnded_) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd fd{out_, POLLIN, 0};
            if (poll(&fd, 1, int(std::min<long long>(left.count() + 1, 1000))) <= 0) continue;
            char tmp[4096];
            const ssize_t n = read(out_, tmp, sizeof tmp);
            lineAt_ = Clock::now();
            if (n > 0)
                buf_.append(tmp, std::size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                outEnded_ = true;
        }
    }

    // Waits for the end until `deadline`; the exit, or nothing if still running.
    const std::optional<Exit>& wait(Clock::time_point deadline)
    {
        while (!exit_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd{pidfd_, POLLIN, 0};
            if (poll(&fd, 1, int(std::max<long long>(0, left.count()))) > 0) {
                Exit e;
                e.at = Clock::now();
                int st = 0;
                if (wait4(pid_, &st, 0, &e.usage) == pid_) {
                    e.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                    exit_ = e;
                }
            } else if (left.count() <= 0) {
                break;
            }
        }
        return exit_;
    }

    void signal(int sig)
    {
        if (!exit_) kill(pid_, sig);
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, pidfd_ = -1;
    std::string buf_;
    bool outEnded_ = false;
    Clock::time_point started_, lineAt_;
    std::optional<Exit> exit_;
};

// CPU time (user + system, every thread, living or ended) of a running process.
double cpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto close = s.rfind(')');
    if (close == std::string::npos) throw Failure("cannot read /proc/" + std::to_string(pid) + "/stat");
    // Fields after the command name: state is field 3; utime, stime are 14, 15.
    std::vector<std::string> fields;
    std::size_t at = close + 2;
    while (at < s.size() && fields.size() < 13) {
        const auto sp = s.find(' ', at);
        fields.push_back(s.substr(at, sp - at));
        at = sp == std::string::npos ? s.size() : sp + 1;
    }
    if (fields.size() < 13) throw Failure("short /proc stat");
    const double tick = double(sysconf(_SC_CLK_TCK));
    return (std::stod(fields[11]) + std::stod(fields[12])) / tick;
}

// Resident memory of a running process, MB: now (VmRSS) or its peak (VmHWM).
double residentMB(pid_t pid, const char* key = "VmRSS:")
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0) return std::stod(line.substr(std::strlen(key))) / 1024.0;
    return 0;
}

std::unique_ptr<Child> startBoard(const std::string& dir, const std::vector<std::string>& options,
                                  std::string* slave)
{
    std::vector<std::string> argv = {gBinDir + "/tarvo-board"};
    argv.insert(argv.end(), options.begin(), options.end());
    auto board = std::make_unique<Child>(argv, dir, dir + "/board.err");
    auto l = board->line(Clock::now() + std::chrono::seconds(10));
    if (!l || l->first.rfind("/dev/", 0) != 0) throw Failure("tarvo-board printed no pseudo-terminal");
    *slave = l->first;
    return board;
}

// The `set` lines for the measured configuration and a period.
std::string settings(unsigned period)
{
    return "set 2 1\nset 6 " + std::to_string(kChannels) + "\nset 8 " + std::to_string(kBaud) +
           "\nset 9 " + std::to_string(kStatus) + "\nset 10 " + std::to_string(period) +
           "\nset 11 1\nset 12 1\nset 13 1\n";
}

std::unique_ptr<Child> startTarvo(const std::string& dir, const std::string& device, const std::string& script)
{
    fs::create_directories(dir + "/work");
    std::ofstream(dir + "/script.txt") << script;
    std::vector<std::string> argv = {gBinDir + "/tarvo", "-platform", "offscreen", "--com",
                                     "1=" + device, "--script", dir + "/script.txt"};
    argv.insert(argv.end(), gTarvoExtra.begin(), gTarvoExtra.end());
    return std::make_unique<Child>(argv, dir + "/work", dir + "/tarvo.err");
}

// Waits for the message line to show `text`; its moment.
Clock::time_point awaitMessage(Child& tarvo, const std::string& text, Clock::time_point deadline)
{
    while (auto l = tarvo.line(deadline)) {
        if (l->first == "message: " + text) return l->second;
        if (l->first.find("ERROR") != std::string::npos && text.find("ERROR") == std::string::npos)
            throw Failure("tarvo: " + l->first);
    }
    throw Failure("tarvo never showed \"" + text + "\"");
}

// ---------------------------------------------------------------------------
// The check of data.txt

// The line tarvo must write for a record, decoded here from the record layout
// (channels 2m and 2m+1 share bytes 3m..3m+2), apart from tarvo's own decoder.
std::string expectedLine(const uint8_t* r)
{
    std::string line;
    for (unsigned ch = 0; ch < kChannels; ch++) {
        const unsigned m = ch / 2;
        const unsigned v = ch % 2 == 0 ? (r[3 * m] << 4) | (r[3 * m + 1] & 0x0F)
                                       : (r[3 * m + 2] << 4) | (r[3 * m + 1] >> 4);
        line += (ch ? "," : "") + std::to_string(v);
    }
    const unsigned st = r[kRecLen - 1];
    for (int b = 7; b >= 4; b--) line += ((st >> b) & 1) ? ",1" : ",0";
    line += "," + std::to_string(st & 15) + "\n";
    return line;
}

// The board's record stream repeats after kSignalCycle records: the expected
// text of one cycle, record 1 first.
struct Expected {
    std::vector<std::string> lines;
    Expected()
    {
        BoardModel model;
        std::vector<uint8_t> rec(kRecLen);
        // A model configured as tarvo configures it, so records have kRecLen bytes.
        uint8_t block[14];
        makeBlock(block);
        model.lineBreak();
        model.takeOutput();
        model.receive(block, 14);
        if (!model.config().valid) throw Failure("block refused: " + model.config().problem);
        for (uint64_t n = 1; n <= tarvo::board::kSignalCycle; n++) {
            model.makeRecord(n, rec.data());
            lines.push_back(expectedLine(rec.data()));
        }
    }
    const std::string& of(uint64_t n) const { return lines[(n - 1) % lines.size()]; }

    // The configuration block for the measured settings, as the configuration
    // step builds it.
    static void makeBlock(uint8_t* b)
    {
        const uint32_t spare = kPeriod - reccost(kChannels, kStatus, kBaud);
        b[0] = kChannels;
        for (unsigned i = 1; i <= 8; i++) b[i] = i <= kChannels ? uint8_t((kChannels - i) * 2) : 0;
        b[9] = uint8_t(0x80 - spare % 10);
        const uint32_t count = spare / 10;
        b[10] = uint8_t(0xFF - (count & 0xFF));
        b[11] = uint8_t(0xFF - ((count >> 8) & 0xFF));
        b[12] = uint8_t(0xFF - ((count >> 16) & 0xFF));
        b[13] = uint8_t((kStatus ? 0 : 0x01) | (kBaud == 115200 ? 0x80 : 0) | (kBaud == 57600 ? 0x40 : 0));
    }
};

struct Check {
    uint64_t lines = 0;
    uint64_t firstBad = 0;  // the first line that is not the record expected there (0: none)
    uint64_t counterBreaks = 0;  // lines whose counter is not the one after the previous
    bool partialLast = false;
};

// Reads data.txt and compares it line for line with records 1, 2, 3, ...
Check checkData(const std::string& path, const Expected& want)
{
    Check c;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw Failure("no data.txt");
    std::vector<char> buf(1 << 20);
    std::string pending;
    int lastCounter = -1;
    auto take = [&](const std::string& line) {
        ++c.lines;
        if (!c.firstBad && line != want.of(c.lines)) c.firstBad = c.lines;
        const auto comma = line.rfind(',');
        const int counter = comma == std::string::npos ? -1 : std::atoi(line.c_str() + comma + 1);
        if (lastCounter >= 0 && counter != (lastCounter + 1) % 16) ++c.counterBreaks;
        lastCounter = counter;
    };
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < n; i++) {
            if (buf[i] != '\n') continue;
            if (pending.empty()) {
                take(std::string(buf.data() + start, i + 1 - start));
            } else {
                pending.append(buf.data() + start, i + 1 - start);
                take(pending);
                pending.clear();
            }
            start = i + 1;
        }
        pending.append(buf.data() + start, n - start);
    }
    std::fclose(f);
    c.partialLast = !pending.empty();
    return c;
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
    auto board = startBoard(dir, {"--flood", "--records", std::to_string(records), "--exit-when-done"}, &slave);
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) throw Failure("cannot open " + slave);
    tarvo::board::setRawLine(fd);

    auto readExactly = [&](uint8_t* dst, std::size_t n) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        std::size_t got = 0;
        while (got < n) {
            pollfd p{fd, POLLIN, 0};
            if (Clock::now() > deadline || poll(&p, 1, 100) < 0) throw Failure("raw copy: handshake timed out");
            if (!(p.revents & POLLIN)) continue;
            const ssize_t r = read(fd, dst + got, n - got);
            if (r > 0) got += std::size_t(r);
        }
    };
    tcflush(fd, TCIFLUSH);  // the break's stand-in on a pty
    uint8_t ident[14];
    readExactly(ident, sizeof ident);
    if (std::memcmp(ident, tarvo::board::kIdent, 14) != 0) throw Failure("raw copy: wrong identification");
    uint8_t block[14];
    Expected::makeBlock(block);
    if (write(fd, block, 14) != 14) throw Failure("raw copy: cannot send the block");
    uint8_t sum = 0;
    readExactly(&sum, 1);
    if (sum != tarvo::board::blockChecksum(block, 14)) throw Failure("raw copy: checksum refused");

    const std::string out = dir + "/raw.bin";
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const uint8_t startByte = 0;
    const auto t0 = Clock::now();
    if (write(fd, &startByte, 1) != 1) throw Failure("raw copy: cannot send the start byte");
    Child cat({"/bin/cat"}, dir, dir + "/cat.err", fd, outFd);
    close(fd);
    close(outFd);
    const auto limit = Clock::now() + std::chrono::seconds(120);
    if (!board->wait(limit)) throw Failure("raw copy: the board did not finish");
    const auto t1 = board->exited()->at;
    if (!cat.wait(Clock::now() + std::chrono::seconds(10))) throw Failure("raw copy: cat did not end");
    const uint64_t bytes = fs::file_size(out);
    if (bytes != records * kRecLen)
        throw Failure("raw copy: " + std::to_string(bytes) + " bytes, not " + std::to_string(records * kRecLen));
    fs::remove(out);
    return double(bytes) / std::chrono::duration<double>(t1 - t0).count() / 1e6;
}

struct PipelineResult {
    double seconds = 0, cpu = 0, peakMB = 0, rssStartMB = 0, rssEndMB = 0;
    Check check;
};

// The flood pipeline: tarvo records `records` records as fast as it takes
// them. The board exits once the last record has been read off the line
// (it waits for the slave's queue to empty); then tarvo is ended with
// SIGTERM, which closes data.txt completely.
PipelineResult pipeline(uint64_t records, const Expected& want, const std::string& name)
{
    const std::string dir = gTmp + "/" + name;
    fs::create_directories(dir);
    std::string slave;
    auto board = startBoard(dir, {"--flood", "--records", std::to_string(records), "--exit-when-done"}, &slave);
    // The wait only bounds the run: the board's end ends it.
    auto tarvo = startTarvo(dir, slave, settings(kPeriod) + "press start\nwait 3600\n");
    const auto t0 = awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
    PipelineResult r;
    const double cpu0 = cpuSeconds(tarvo->pid());
    const auto limit = Clock::now() + std::chrono::seconds(300);
    auto nextRss = Clock::now() + std::chrono::milliseconds(500);
    for (;;) {
        if (board->wait(std::min(limit, nextRss))) break;
        if (Clock::now() >= limit) throw Failure("pipeline: the board did not finish in 300 s");
        if (tarvo->wait(Clock::now())) throw Failure("pipeline: tarvo ended early");
        const double rss = residentMB(tarvo->pid());
        if (r.rssStartMB == 0) r.rssStartMB = rss;
        nextRss += std::chrono::milliseconds(500);
    }
    r.seconds = std::chrono::duration<double>(board->exited()->at - t0).count();
    r.cpu = cpuSeconds(tarvo->pid()) - cpu0;
    r.rssEndMB = residentMB(tarvo->pid());
    tarvo->signal(SIGTERM);
    const auto& e = tarvo->wait(Clock::now() + std::chrono::seconds(20));
    if (!e) throw Failure("pipeline: tarvo did not end after SIGTERM");
    r.peakMB = double(e->usage.ru_maxrss) / 1024.0;
    r.check = checkData(dir + "/work/data.txt", want);
    fs::remove(dir + "/work/data.txt");
    return r;
}

void reportPipeline(uint64_t records, const PipelineResult& p, double raw, const std::string& label)
{
    const double rate = double(records) / p.seconds;
    const double mbs = rate * kRecLen / 1e6;
    row("pipeline" + label + ": records/s (" + std::to_string(records) + " records in " + fmt("%.1f", p.seconds) +
            " s)",
        fmt("%.2f M", rate / 1e6), "~1.5 M");
    row("pipeline" + label + ": MB/s off the line", fmt("%.1f", mbs), ">= 20");
    row("pipeline" + label + " / raw copy", fmt("%.2f", mbs / raw), "aim 0.5");
    row("pipeline" + label + ": CPU s per million records", fmt("%.2f", p.cpu / (records / 1e6)));
    row("pipeline" + label + ": resident MB at start / end of sampling, peak",
        fmt("%.1f", p.rssStartMB) + " / " + fmt("%.1f", p.rssEndMB) + ", " + fmt("%.1f", p.peakMB), "<= 80, flat");
    const bool ok = p.check.lines == records && !p.check.firstBad && !p.check.counterBreaks && !p.check.partialLast;
    row("pipeline" + label + ": records lost or wrong",
        ok ? "0 (" + std::to_string(p.check.lines) + " lines, all as sent)"
           : std::to_string(p.check.lines) + " lines of " + std::to_string(records) + ", first wrong line " +
                 std::to_string(p.check.firstBad) + ", counter breaks " + std::to_string(p.check.counterBreaks),
        "0");
}

// The real rate: records at the board's own pace for `seconds`.
void realRate(double seconds, const Expected& want)
{
    const std::string dir = gTmp + "/real";
    fs::create_directories(dir);
    std::string slave;
    auto board = startBoard(dir, {}, &slave);
    auto tarvo = startTarvo(dir, slave, settings(kPeriod) + "press start\nwait 3600\n");
    awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
    // Past the first second, where the sampling thread starts and the first
    // flush happens.
    if (tarvo->wait(Clock::now() + std::chrono::seconds(1))) throw Failure("real rate: tarvo ended early");
    const double cpu0 = cpuSeconds(tarvo->pid());
    const double rss0 = residentMB(tarvo->pid());
    const auto t0 = Clock::now();
    if (tarvo->wait(t0 + std::chrono::milliseconds(std::llround(seconds * 1000)))) throw Failure("real rate: tarvo ended early");
    const double cpu = cpuSeconds(tarvo->pid()) - cpu0;
    const double span = secondsSince(t0);
    const double rss1 = residentMB(tarvo->pid());
    tarvo->signal(SIGTERM);
    if (!tarvo->wait(Clock::now() + std::chrono::seconds(20))) throw Failure("real rate: tarvo did not end");
    board->signal(SIGTERM);
    board->wait(Clock::now() + std::chrono::seconds(10));
    const Check c = checkData(dir + "/work/data.txt", want);
    const uint64_t expected = uint64_t((span + 1) * 1e6 / kPeriod);
    row("real rate, 8 ch + status at " + std::to_string(kPeriod) + " us: tarvo CPU, % of one core (" +
            fmt("%.0f", span) + " s)",
        fmt("%.2f %%", 100 * cpu / span), "<= 1 %");
    row("real rate: resident MB at start / end", fmt("%.1f", rss0) + " / " + fmt("%.1f", rss1), "flat");
    const bool ok = !c.firstBad && !c.counterBreaks && c.lines + 50 > expected;
    row("real rate: records lost or wrong",
        ok ? "0 (" + std::to_string(c.lines) + " lines)"
           : std::to_string(c.lines) + " lines (about " + std::to_string(expected) + " due), first wrong " +
                 std::to_string(c.firstBad) + ", counter breaks " + std::to_string(c.counterBreaks),
        "0");
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string msRange(const std::vector<double>& v)
{
    return fmt("%.0f ms", 1000 * median(v)) + " (max " + fmt("%.0f", 1000 * *std::max_element(v.begin(), v.end())) +
           ")";
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
            auto tarvo = startTarvo(dir, "virtual", settings(100) + "press start\npress quit\n");
            const auto shown = awaitMessage(*tarvo, kRefused, Clock::now() + std::chrono::seconds(30));
            const auto& e = tarvo->wait(Clock::now() + std::chrono::seconds(30));
            if (!e || e->status != 0) throw Failure("latency: Quit did not end tarvo cleanly");
            startup.push_back(std::chrono::duration<double>(shown - tarvo->started()).count());
            quit.push_back(std::chrono::duration<double>(e->at - shown).count());
        }
        {
            std::string slave;
            auto board = startBoard(dir, {"--once"}, &slave);
            auto tarvo = startTarvo(dir, slave,
                                    settings(100) + "press start\nset 10 " + std::to_string(kPeriod) +
                                        "\npress start\nwait 0.2\npress quit\n");
            const auto pressed = awaitMessage(*tarvo, kRefused, Clock::now() + std::chrono::seconds(30));
            const auto sampling = awaitMessage(*tarvo, "Sampling...", Clock::now() + std::chrono::seconds(30));
            start.push_back(std::chrono::duration<double>(sampling - pressed).count());
            if (!tarvo->wait(Clock::now() + std::chrono::seconds(30))) throw Failure("latency: tarvo did not quit");
            board->wait(Clock::now() + std::chrono::seconds(10));
        }
        fs::remove_all(dir);
    }
    row("Start to \"Sampling...\", board present (median of " + std::to_string(runs) + ")", msRange(start),
        "<= 1100 ms");
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
            if (i + 1 >= argc) usage((a + " needs a value").c_str());
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
    if (!mkdtemp(tmpl)) usage("cannot make a temporary directory");
    gTmp = tmpl;
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    try {
        const Expected want;
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
            for (const auto& [label, r] : more) reportPipeline(records, r, raw, " " + label);
        }
        if (only.empty() || only == "real") realRate(realSeconds, want);
        if (only.empty() || only == "latency") latencies(latencyRuns);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvo-bench: %s (files kept in %s)\n", e.what(), gTmp.c_str());
        status = 1;
    }
    for (const auto& r : gRows) std::printf("| %s | %s | %s |\n", r.what.c_str(), r.result.c_str(), r.target.c_str());
    if (status == 0) fs::remove_all(gTmp);
    return status;
}
