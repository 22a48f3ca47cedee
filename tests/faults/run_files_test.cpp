// The run's files against everyday events around them: the next run in the
// same folder, a second tarvo beside a running one, a Stop before any Start,
// a data.txt that is a FIFO, a handshake that fails. The real tarvo, run
// unattended, against tarvo-board and the virtual board.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "faults.h"
#include "serial_lock.h"

namespace fs = std::filesystem;

namespace {

const char kSampling[] = "Sampling...";
const char kDone[] = "Data recorded in DATA.TXT, config parameter in CONFIG.TXT";
const char kNoData[] = " ERROR: Cannot create DATA.TXT!";

using Strings = std::vector<std::string>;

// The files of a folder whose names match `pattern`, sorted.
Strings filesLike(const std::string& dir, const std::string& pattern)
{
    Strings out;
    for (const auto& e : fs::directory_iterator(dir))
        if (std::regex_match(e.path().filename().string(), std::regex(pattern)))
            out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// "The start flag date/time was sent at:Mon Dec  7 18:02:33 2026" as the
// stamp of a kept run's names: 20261207-180233.
std::string stampOf(const std::string& report)
{
    std::smatch m;
    static const std::regex start(
        "sent at:[A-Z][a-z]{2} ([A-Z][a-z]{2}) +(\\d+) (\\d\\d):(\\d\\d):(\\d\\d) (\\d{4})");
    if (!std::regex_search(report, m, start))
        return "?";
    static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    char text[32];
    std::snprintf(text, sizeof text, "%s%02zu%02d-%s%s%s", m[6].str().c_str(),
                  months.find(m[1].str()) / 3 + 1, std::stoi(m[2].str()), m[3].str().c_str(),
                  m[4].str().c_str(), m[5].str().c_str());
    return text;
}

const std::string kRun = "press start\nwait 1\npress stop\n";

}  // namespace

// Each Start keeps the previous run whole under the names of its start; a
// name already taken is never overwritten.
TEST(RunFiles, TheNextRunKeepsThePreviousOneUnderItsDatedNames)
{
    Recording rec;  // the virtual board
    Panel p;
    ProcResult first = rec.run(p.lines() + kRun);
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string data1 = rec.data(), config1 = rec.config();
    ASSERT_GT(data1.size(), 0u);
    const std::string stamp = stampOf(config1);

    // A file of that name is there already (another tool's, or a run kept
    // by hand): the pair goes under the next free name.
    std::ofstream(rec.work() + "/data-" + stamp + ".txt") << "not tarvo's\n";
    ProcResult second = rec.run(p.lines() + kRun);
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(messages(second.out), (Strings{kSampling, kDone}));
    EXPECT_EQ(readfile(rec.work() + "/data-" + stamp + ".txt"), "not tarvo's\n");
    EXPECT_EQ(readfile(rec.work() + "/data-" + stamp + "-2.txt"), data1);
    EXPECT_EQ(readfile(rec.work() + "/config-" + stamp + "-2.txt"), config1);
    EXPECT_NE(second.err.find("the previous run is kept as data-" + stamp + "-2.txt, config-" +
                              stamp + "-2.txt and run-" + stamp + "-2.json"),
              std::string::npos)
        << second.err;
    EXPECT_NE(readfile(rec.work() + "/run-" + stamp + "-2.json").find("\"ended_by\": \"stop\""),
              std::string::npos);
    // The new run's files are its own, under the usual names.
    EXPECT_GT(splitlines(rec.data()).size(), 50u);
    EXPECT_NE(rec.config().find("The number of samples"), std::string::npos);

    // A Stop before any Start writes its report beside, never over, the
    // last run's report; data.txt is left alone.
    const std::string data2 = rec.data(), config2 = rec.config();
    ProcResult stopOnly = rec.run(p.lines() + "press stop\n");
    ASSERT_EQ(stopOnly.status, 0) << stopOnly.err;
    EXPECT_EQ(readfile(rec.work() + "/config-" + stampOf(config2) + ".txt"), config2);
    EXPECT_EQ(rec.data(), data2);
    EXPECT_NE(rec.config().find("never (no run was started)"), std::string::npos);
    EXPECT_EQ(filesLike(rec.work(), "data.*").size(), 3u);
    EXPECT_EQ(filesLike(rec.work(), "config.*").size(), 3u);
}

// A second tarvo in the folder of a running one is refused at Start and
// names the holder; the first run records on untouched.
TEST(RunFiles, ASecondRunInTheSameFolderIsRefusedAndTheFirstIsUntouched)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    std::unique_ptr<Proc> first = rec.spawn(p.lines() + "press start\nwait 3\npress stop\n");
    ASSERT_TRUE(waitUntil([&] { return rec.data().size() > 1000; }, 30)) << first->out();

    Recording other;  // its own board and script, the first run's folder
    std::unique_ptr<Proc> second = std::make_unique<Proc>(
        Strings{binpath("tarvo"), "-platform", "offscreen", "--com", "1=virtual", "--script",
                [&] {
                    std::ofstream(other.dir.file("s.txt"))
                        << p.lines() << "press start\nwait 0.5\npress quit\n";
                    return other.dir.file("s.txt");
                }()},
        rec.work());
    ProcResult r2 = second->wait(60);
    EXPECT_EQ(r2.status, 0) << r2.err;
    EXPECT_EQ(messages(r2.out), (Strings{kNoData}));
    EXPECT_NE(r2.err.find("data.txt: in use by process " + std::to_string(first->pid())),
              std::string::npos)
        << r2.err;

    ProcResult r1 = first->wait(60);
    rec.stopBoard();
    EXPECT_EQ(r1.status, 0) << r1.err;
    EXPECT_EQ(messages(r1.out), (Strings{kSampling, kDone}));
    // Every line as the board sent it: nothing of the second run in it.
    const std::string data = rec.data();
    EXPECT_EQ(data.find('\0'), std::string::npos);
    Compared c = compareWithBoard(data, decode(rec.boardDump(), p));
    EXPECT_EQ(c.whole, splitlines(data).size());
    EXPECT_GT(c.whole, 500u);
    EXPECT_TRUE(filesLike(rec.work(), "data-.*").empty());
}

// A data.txt that is a FIFO: with no reader Start says so at once and the
// program stays usable; with one, the records go to it.
TEST(RunFiles, ADataFileThatIsAFifo)
{
    {
        Recording rec;
        fs::create_directories(rec.work());
        ASSERT_EQ(::mkfifo((rec.work() + "/data.txt").c_str(), 0600), 0);
        ProcResult r = rec.run(Panel().lines() + "press start\nwait 0.2\npress quit\n", 30);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(messages(r.out), (Strings{kNoData}));
        EXPECT_NE(r.err.find("data.txt: a FIFO with no reader"), std::string::npos) << r.err;
    }
    {
        Recording rec;
        rec.startBoard();
        Panel p;
        fs::create_directories(rec.work());
        const std::string fifo = rec.work() + "/data.txt";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::string got;
        std::thread reader([&] {
            // Opened without waiting for the writer, then read to its end.
            const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            if (fd < 0)
                return;
            ::fcntl(fd, F_SETFL, 0);
            char buf[4096];
            ssize_t n;
            for (int idle = 0; idle < 3000;) {
                n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    got.append(buf, n);
                    idle = 0;
                } else if (n == 0 && !got.empty()) {
                    break;  // the writer closed it
                } else {
                    ++idle;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            ::close(fd);
        });
        ProcResult r = rec.run(p.lines() + kRun, 60);
        reader.join();
        rec.stopBoard();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(messages(r.out), (Strings{kSampling, kDone}));
        Compared c = compareWithBoard(got, decode(rec.boardDump(), p));
        EXPECT_GT(c.whole, 100u);
        EXPECT_FALSE(c.partialTail);
        EXPECT_TRUE(fs::is_fifo(fifo));
    }
    {
        // The reader goes away mid-run: a write failure, not the end of tarvo.
        Recording rec;
        fs::create_directories(rec.work());
        const std::string fifo = rec.work() + "/data.txt";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::thread reader([&] {
            const int fd = ::open(fifo.c_str(), O_RDONLY);  // waits for tarvo
            char buf[4096];
            size_t got = 0;
            while (got < 20000) {
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0)
                    break;
                got += n;
            }
            ::close(fd);
        });
        ProcResult r = rec.run(Panel().lines() + "press start\nwait 3\npress stop\n", 60);
        reader.join();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(messages(r.out),
                  (Strings{kSampling, " ERROR: Cannot write DATA.TXT! Sampling stopped.", kDone}));
        EXPECT_NE(rec.config().find("The number of samples"), std::string::npos);
    }
}

// A handshake that fails leaves the port's lock file behind no more: a later
// run (whose process id may be the dead one's) finds the port free.
TEST(RunFiles, AFailedHandshakeReleasesThePortsLockFile)
{
    const std::string dir = tarvo::rt::lockDirectory();
    if (dir.empty() || ::access(dir.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no writable lock directory";
    for (const char* fault : {"--wrong-id", "--bad-checksum"}) {
        Recording rec;
        rec.startBoard({fault});
        const std::string lock = dir + "/" + tarvo::rt::lockFileName(rec.device);
        std::unique_ptr<Proc> t = rec.spawn(Panel().lines() + "press start\n");
        // While the message shows, before the program ends.
        ASSERT_TRUE(waitUntil([&] { return t->out().find(" ERROR:") != std::string::npos; }, 30));
        EXPECT_FALSE(fs::exists(lock)) << fault;
        ProcResult r = t->wait(30);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(fs::exists(lock)) << fault;
    }
}

// run.json describes the run however it ends: its settings, times, counts and
// each loss and silence where the records show them.
TEST(RunFiles, RunJsonDescribesTheRunWithItsLossesAndSilence)
{
    struct Case {
        const char* ending;
        const char* endedBy;
    };
    for (const Case& k : {Case{"press stop", "stop"}, Case{"press quit", "quit"}}) {
        Recording rec;
        // Records 300 and 600 are not sent; after record 700 the board is silent.
        rec.startBoard({"--lose-record-every", "300", "--silence-after", "700"});
        Panel p;
        ProcResult r = rec.run(p.lines() + "press start\nwait 4\n" + k.ending + "\n");
        rec.stopBoard();
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string j = readfile(rec.work() + "/run.json");
        const size_t lines = splitlines(rec.data()).size();
        ASSERT_EQ(lines, 698u) << j;
        const std::string device = rec.device;
        for (const std::string& part :
             {std::string("\"format\": \"tarvo-run 1\""),
              std::string(
                  "\"settings\": {\"channels\": 6, \"status_byte\": true, \"digital_lines\": "
                  "true, \"record_counter\": true, \"file_format\": \"columns\", "
                  "\"period_us\": 2000, \"baud_rate\": 115200, \"port\": 1, \"device\": \"") +
                  device + "\", \"record_bytes\": 10}",
              std::string("\"ended_by\": \"") + k.endedBy + "\"", std::string("\"records\": 698,"),
              std::string("\"lost\": 2,"),
              std::string("{\"type\": \"loss\", \"record\": 300, \"missing\": 1}"),
              std::string("{\"type\": \"loss\", \"record\": 599, \"missing\": 1}"),
              std::string("{\"type\": \"silence\", \"record\": 698, \"start\": \""),
              std::string("\"end\": null}"), std::string("\"events_dropped\": 0")})
            EXPECT_NE(j.find(part), std::string::npos) << k.ending << ": " << part << "\n" << j;
        static const std::regex iso(
            "\"(start|end)\": \"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d\"");
        EXPECT_EQ(
            std::distance(std::sregex_iterator(j.begin(), j.end(), iso), std::sregex_iterator()), 3)
            << j;  // the run's start and end, the silence's start
    }
}
