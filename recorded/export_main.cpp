// tarvo-export: a recorded run as CSV with a time axis, or a raw capture as
// the integer columns tarvo writes. Lines end as tarvo's text files do on
// this system (CR LF on Windows).
//
//   tarvo-export PATH [-o FILE] [--from S] [--to S] [--columns] [--status-byte 0|1]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "recordline.h"
#include "run.h"

namespace {

using namespace tarvo::recorded;

constexpr const char* kHelp =
    R"(usage: tarvo-export PATH [-o FILE] [--from S] [--to S] [--columns] [--status-byte 0|1]

Writes a recorded run as CSV: a header line, then one row per record:
time_s (seconds from the first record; where records were lost, time skips
by the records missing), ch1..chN, then d1..d4 and counter where the data
file holds them.

PATH is a run folder (its data.txt) or a data file (data.txt, a kept
data-STAMP.txt, or a file of another name). The settings come from run.json
beside it, else from config.txt, else from the columns of the file itself.

  -o FILE           write to FILE instead of standard output
  --from S          the records from S seconds on
  --to S            the records up to S seconds
  --columns         no header and no time: the integer columns tarvo writes
                    (a raw capture becomes the usual data.txt)
  --status-byte 0|1 whether each raw record ended in a status byte, where
                    config.txt cannot tell
  --help, --version

Exit status: 0 done, 1 unreadable or bad input (with the line or byte at
fault), 2 a bad command line.
)";

struct Args {
    std::string path, out;
    bool from = false, to = false, columns = false;
    uint64_t fromUs = 0, toUs = 0;
    int statusByte = -1;
};

[[noreturn]] void usage(const std::string& why)
{
    std::fprintf(stderr, "tarvo-export: %s (see --help)\n", why.c_str());
    std::exit(2);
}

// Seconds as whole microseconds: "12", "0.002", "1.5".
bool seconds(const std::string& s, uint64_t& us)
{
    uint64_t whole = 0, frac = 0;
    size_t i = 0, digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++, digits++) {
        if (whole > 1000000000000ull)
            return false;
        whole = whole * 10 + uint64_t(s[i] - '0');
    }
    if (i < s.size() && s[i] == '.') {
        i++;
        static const uint64_t place[6] = {100000, 10000, 1000, 100, 10, 1};
        for (unsigned k = 0; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++, k++, digits++)
            if (k < 6)  // finer than a microsecond: no record is that close
                frac += uint64_t(s[i] - '0') * place[k];
    }
    if (digits == 0 || i != s.size())
        return false;
    us = whole * 1000000 + frac;
    return true;
}

Args parse(int argc, char** argv)
{
    Args a;
    for (int i = 1; i < argc; i++) {
        const std::string opt = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage(opt + " needs a value");
            return argv[++i];
        };
        if (opt == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (opt == "--version") {
            std::printf("tarvo-export %s\n", TARVO_VERSION);
            std::exit(0);
        } else if (opt == "-o") {
            a.out = value();
            if (a.out.empty())
                usage("-o needs a file name");
        } else if (opt == "--from" || opt == "--to") {
            const std::string v = value();
            uint64_t us;
            if (!seconds(v, us))
                usage(opt + " needs seconds (like 12 or 0.5), not '" + v + "'");
            (opt == "--from" ? a.fromUs : a.toUs) = us;
            (opt == "--from" ? a.from : a.to) = true;
        } else if (opt == "--columns") {
            a.columns = true;
        } else if (opt == "--status-byte") {
            const std::string v = value();
            if (v != "0" && v != "1")
                usage("--status-byte needs 0 or 1, not '" + v + "'");
            a.statusByte = v == "1";
        } else if (opt.size() > 1 && opt[0] == '-') {
            usage("unknown option '" + opt + "'");
        } else if (a.path.empty()) {
            a.path = opt;
        } else {
            usage("one PATH only ('" + a.path + "' and '" + opt + "')");
        }
    }
    if (a.path.empty())
        usage("no PATH (a run folder or a data file)");
    if (a.from && a.to && a.fromUs > a.toUs)
        usage("--from is after --to");
    return a;
}

// The output: standard output or FILE, written through a large buffer. A
// regular FILE is written beside under another name and renamed into place
// once whole, so a failed export leaves no half file.
class Output {
public:
    bool open(const std::string& path, std::string& why)
    {
        if (path.empty()) {
#ifdef _WIN32
            _setmode(_fileno(stdout), _O_BINARY);  // the same bytes as on every system
#endif
            f_ = stdout;
            name_ = "standard output";
        } else {
            std::error_code ec;
            const auto st = std::filesystem::status(path, ec);
            through_ = !ec && std::filesystem::exists(st) && !std::filesystem::is_regular_file(st);
            final_ = path;
            name_ = path;
            const std::string name = through_ ? path : path + ".part";
            f_ = std::fopen(name.c_str(), "wb");
            if (f_ == nullptr) {
                why = path + ": " + std::strerror(errno);
                return false;
            }
        }
        buf_.resize(1 << 20);
        return true;
    }
    char* room(size_t n)
    {
        if (used_ + n > buf_.size())
            flush();
        return buf_.data() + used_;
    }
    void wrote(size_t n) { used_ += n; }
    void put(std::string_view s)
    {
        char* p = room(s.size());
        std::memcpy(p, s.data(), s.size());
        wrote(s.size());
    }
    bool close(std::string& why)
    {
        flush();
        const bool ok = !failed_ && std::fflush(f_) == 0 && !std::ferror(f_);
        const int err = errno;
        if (f_ != stdout && std::fclose(f_) != 0 && ok) {
            why = name_ + ": " + std::strerror(errno);
            abandon();
            return false;
        }
        f_ = nullptr;
        if (!ok) {
            why = name_ + ": cannot be written: " + std::strerror(err ? err : EIO);
            abandon();
            return false;
        }
        if (!final_.empty() && !through_) {
            std::error_code ec;
            std::filesystem::rename(final_ + ".part", final_, ec);
            if (ec) {
                why = final_ + ": " + ec.message();
                abandon();
                return false;
            }
        }
        return true;
    }
    void abandon()
    {
        if (f_ != nullptr && f_ != stdout)
            std::fclose(f_);
        f_ = nullptr;
        if (!final_.empty() && !through_)
            std::remove((final_ + ".part").c_str());
    }

private:
    void flush()
    {
        if (used_ > 0 && std::fwrite(buf_.data(), 1, used_, f_) != used_)
            failed_ = true;
        used_ = 0;
    }
    std::FILE* f_ = nullptr;
    std::vector<char> buf_;
    size_t used_ = 0;
    bool failed_ = false, through_ = false;
    std::string final_, name_;
};

// Microseconds as seconds, without trailing zeros: "0", "0.002", "12.5".
char* putTime(char* p, uint64_t us)
{
    char digits[24];
    int n = 0;
    uint64_t whole = us / 1000000;
    do {
        digits[n++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    while (n > 0)
        *p++ = digits[--n];
    unsigned frac = unsigned(us % 1000000);
    if (frac != 0) {
        *p++ = '.';
        for (unsigned div = 100000; frac != 0; div /= 10) {
            *p++ = char('0' + frac / div);
            frac %= div;
        }
    }
    return p;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return !a.empty() && !b.empty() && std::filesystem::equivalent(a, b, ec);
}

int run(const Args& a)
{
    std::string why;
    Run::Options options;
    options.statusByte = a.statusByte;
    options.pyramid = false;
    auto run = Run::open(a.path, options, why);
    if (!run) {
        std::fprintf(stderr, "tarvo-export: %s\n", why.c_str());
        return 1;
    }
    for (const std::string& note : run->notes())
        std::fprintf(stderr, "tarvo-export: %s\n", note.c_str());
    const RunFiles& files = run->files();
    for (const std::string* f : {&files.data, &files.report, &files.run})
        if (!a.out.empty() && sameFile(a.out, *f)) {
            std::fprintf(stderr, "tarvo-export: -o %s would overwrite the run's own %s\n",
                         a.out.c_str(), f->c_str());
            return 2;
        }
    const Records& rs = run->records();
    const Layout& layout = rs.layout();
    if (rs.tail() > 0) {
        const uint64_t at = rs.bytes();
        const std::string where = layout.format == Format::Raw
                                      ? "byte " + std::to_string(at) +
                                            ": the last record is cut short (" +
                                            std::to_string(rs.tail()) + " of " +
                                            std::to_string(layout.recordBytes()) + " bytes)"
                                      : "line " + std::to_string(rs.count() + 1) + " (byte " +
                                            std::to_string(at) + "): the last line has no line end";
        if (run->info().ended) {
            std::fprintf(stderr, "tarvo-export: %s: %s\n", files.data.c_str(), where.c_str());
            return 1;
        }
        // A run in progress (or killed) is still writing its last record.
        std::fprintf(stderr, "tarvo-export: %s: %s; the run has not ended: left out\n",
                     files.data.c_str(), where.c_str());
    }

    const uint64_t first = a.from ? run->recordAt(a.fromUs) : 0;
    const uint64_t end = a.to ? run->recordAt(a.toUs + 1) : rs.count();
    Output out;
    if (!out.open(a.out, why)) {
        std::fprintf(stderr, "tarvo-export: %s\n", why.c_str());
        return 1;
    }
    const Settings& s = run->settings();
    const bool raw = layout.format == Format::Raw;
    if (!a.columns) {
        std::string header = "time_s";
        for (unsigned c = 1; c <= layout.channels; c++)
            header += ",ch" + std::to_string(c);
        if (layout.digital)
            header += ",d1,d2,d3,d4";
        if (layout.counter)
            header += ",counter";
        out.put(header + RECORDLINE_END);
    }
    const uint64_t period = run->periodUs();
    const bool eventLosses = !layout.counter && !run->marks().empty();
    uint64_t lost = first < end ? run->lostBefore(first) : 0;
    int prev = -1;
    Records::Cursor c = rs.cursor(first);
    for (uint64_t i = first; i < end && c.next(); i++) {
        if (layout.counter && !a.columns) {
            const int counter = int(c.counter());
            if (prev >= 0)
                lost += unsigned(counter - prev - 1) & 15;
            prev = counter;
        } else if (eventLosses) {
            lost = run->lostBefore(i);
        }
        const std::string_view text = c.text();
        char* p = out.room(text.size() + 2 * RECORDLINE_MAX + 32);
        char* q = p;
        if (!a.columns) {
            q = putTime(q, (i + lost) * period);
            *q++ = ',';
        }
        if (!raw) {
            std::memcpy(q, text.data(), text.size());
            q += text.size();
            std::memcpy(q, RECORDLINE_END, sizeof RECORDLINE_END - 1);
            q += sizeof RECORDLINE_END - 1;
        } else {
            const auto* rec = reinterpret_cast<const unsigned char*>(text.data());
            if (a.columns)
                q +=
                    formatrecord(rec, s.channels, s.statusByte, s.digitalLines, s.recordCounter, q);
            else
                q += formatrecord(rec, s.channels, s.statusByte, 1, 1, q);
        }
        out.wrote(size_t(q - p));
    }
    if (!out.close(why)) {
        std::fprintf(stderr, "tarvo-export: %s\n", why.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return run(parse(argc, argv)); }
