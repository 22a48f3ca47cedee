#include "recorder.h"

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

std::string Panel::lines() const
{
    return "set 2 1\nset 6 " + std::to_string(num_ch) + "\nset 8 " + std::to_string(baudr) +
           "\nset 9 " + std::to_string(di) + "\nset 10 " + std::to_string(SampPer) +
           "\nset 11 " + std::to_string(digf) + "\nset 12 " + std::to_string(rec_c) +
           "\nset 13 " + std::to_string(wfile) + "\n";
}

void Recording::startBoard(const std::vector<std::string>& options)
{
    std::vector<std::string> argv = {binpath("tarvo-board"), "--log", dir.file("board.log"),
                                     "--dump", dir.file("board.dump")};
    argv.insert(argv.end(), options.begin(), options.end());
    board = std::make_unique<Proc>(argv);
    device = board->firstLine(10);
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << "tarvo-board printed: " << device;
}

std::unique_ptr<Proc> Recording::spawn(const std::string& script)
{
    std::filesystem::create_directories(work());
    {
        std::ofstream s(dir.file("script.txt"));
        s << script;
    }
    return std::make_unique<Proc>(
        std::vector<std::string>{binpath("tarvo"), "-platform", "offscreen", "--com",
                                 "1=" + device, "--script", dir.file("script.txt")},
        work());
}

ProcResult Recording::run(const std::string& script, double seconds)
{
    return spawn(script)->wait(seconds);
}

std::string Recording::data() const { return readfile(work() + "/data.txt"); }
std::string Recording::config() const { return readfile(work() + "/config.txt"); }
bool Recording::exists(const std::string& name) const
{
    return std::filesystem::exists(work() + "/" + name);
}
std::string Recording::boardLog() const { return readfile(dir.file("board.log")); }
std::vector<unsigned char> Recording::boardDump() const
{
    std::string s = readfile(dir.file("board.dump"));
    return {s.begin(), s.end()};
}

void Recording::stopBoard()
{
    if (!board) return;
    board->signal(SIGTERM);
    board->wait(10);
}

std::vector<std::string> splitlines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            out.push_back(text.substr(start));
            break;
        }
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

std::vector<std::string> messages(const std::string& out)
{
    std::vector<std::string> m;
    for (const std::string& line : splitlines(out))
        if (line.rfind("message: ", 0) == 0) m.push_back(line.substr(9));
    return m;
}

std::vector<std::string> decode(const std::vector<unsigned char>& s, const Panel& p)
{
    // Written apart from the recorder's own decoder, from the record layout:
    // channels 2m and 2m+1 share bytes 3m..3m+2.
    const size_t len = p.di + (3 * p.num_ch + 1) / 2;
    std::vector<std::string> lines;
    for (size_t at = 0; at + len <= s.size(); at += len) {
        const unsigned char* r = &s[at];
        std::string line;
        for (unsigned ch = 0; ch < p.num_ch; ch++) {
            unsigned m = ch / 2, v;
            if (ch % 2 == 0)
                v = (r[3 * m] << 4) | (r[3 * m + 1] & 0x0F);
            else
                v = (r[3 * m + 2] << 4) | (r[3 * m + 1] >> 4);
            line += (ch ? "," : "") + std::to_string(v);
        }
        if (p.di) {
            unsigned st = r[len - 1];
            if (p.digf)
                for (int b = 7; b >= 4; b--) line += ((st >> b) & 1) ? ",1" : ",0";
            if (p.rec_c) line += "," + std::to_string(st & 15);
        }
        lines.push_back(line);
    }
    return lines;
}
