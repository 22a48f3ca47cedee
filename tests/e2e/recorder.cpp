#include "recorder.h"

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

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
        std::vector<std::string>{binpath("tarvo"), "-platform", "offscreen", "--com", "1=" + device,
                                 "--script", dir.file("script.txt")},
        work(), ProcStreams{-1, -1, {}, configHome()});
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
    if (!board)
        return;
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
        if (line.rfind("message: ", 0) == 0)
            m.push_back(line.substr(9));
    return m;
}

bool messageShown(const Proc& tarvo, double seconds)
{
    return waitUntil([&] { return !messages(tarvo.out()).empty(); }, seconds);
}
