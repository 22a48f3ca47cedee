// Whole runs of the real tarvo, unattended, as a script or a user drives it:
// against tarvo-board on a pseudo-terminal and against the virtual board.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "recorder.h"

namespace {

const char kSampling[] = "Sampling...";
const char kDone[] = "Data recorded in DATA.TXT, config parameter in CONFIG.TXT";
const char kLoss[] = " WARNING: data loss...Sampling continue!";
const char kSilent[] = " WARNING: No data from the board...Sampling continue!";

std::string script(const Panel& p, const std::string& actions) { return p.lines() + actions; }

// The run report, every line but the start time, which is checked for its form.
void expectReport(const std::string& text, const Panel& p, const std::string& count)
{
    std::vector<std::string> l = splitlines(text);
    ASSERT_EQ(l.size(), 11u) << text;
    EXPECT_EQ(l[0], "A genuine device had sampled data in file DATA.TXT as:");
    EXPECT_EQ(l[1], "");
    EXPECT_EQ(l[2], p.wfile ? "Colums of int..." : "Array of char...");
    EXPECT_EQ(l[3], "");
    EXPECT_TRUE(std::regex_match(l[4], std::regex("The start flag date/time was sent at:"
                                                  "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d "
                                                  "\\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << l[4];
    EXPECT_EQ(l[5], "");
    EXPECT_EQ(l[6], "With the configuration parameters:");
    EXPECT_EQ(l[7], "Number of Analogical channels:  " + std::to_string(p.num_ch));
    std::string nine;
    if (p.digf)
        nine += "And 4 digital channels";
    if (p.rec_c)
        nine += "The last colum is the record counter 0-15";
    EXPECT_EQ(l[8], nine);
    EXPECT_EQ(l[9], "with a sample period of [us]:  " + std::to_string(p.SampPer));
    EXPECT_EQ(l[10], "The number of samples for every channel is:  " + count);
    EXPECT_NE(text.back(), '\n');
}

unsigned reportCount(const std::string& text)
{
    auto at = text.rfind("  ");
    return at == std::string::npos ? ~0u : std::stoul(text.substr(at + 2));
}

// A run of `seconds` with Start and Stop, checked for what every good run shows.
struct Checked {
    ProcResult r;
    std::vector<std::string> lines;
};

Checked recordFor(Recording& rec, const Panel& p, int seconds)
{
    Checked c;
    c.r = rec.run(script(p, "press start\nwait " + std::to_string(seconds) + "\npress stop\n"));
    EXPECT_EQ(c.r.status, 0) << c.r.err;
    EXPECT_FALSE(c.r.timedOut);
    c.lines = splitlines(rec.data());
    unsigned count = reportCount(rec.config());
    // A record begun when Stop came is counted, though it never completed.
    if (p.wfile) {
        EXPECT_TRUE(count == c.lines.size() || count == c.lines.size() + 1)
            << count << " records reported, " << c.lines.size() << " in data.txt";
    }
    return c;
}

}  // namespace

// --- runs that go well -------------------------------------------------------

TEST(Run, AStreamOfThousandsOfRecordsGivesOneCorrectLineEach)
{
    Recording rec;
    rec.startBoard({"--flood", "--records", "3000"});
    Panel p;
    Checked c = recordFor(rec, p, 3);
    rec.stopBoard();
    std::vector<std::string> sent = decode(rec.boardDump(), p);
    ASSERT_EQ(sent.size(), 3000u);
    EXPECT_EQ(c.lines, sent);
    // The board falls silent after its 3000 records, and the run says so.
    EXPECT_EQ(messages(c.r.out), (std::vector<std::string>{kSampling, kSilent, kDone}));
    // The 3001st record was begun and waited for when Stop came.
    expectReport(rec.config(), p, "3001");
}

TEST(Run, RawBytesAreTheBoardsBytes)
{
    Recording rec;
    rec.startBoard({"--flood", "--records", "2000"});
    Panel p;
    p.wfile = 0;
    p.num_ch = 3;
    recordFor(rec, p, 2);
    rec.stopBoard();
    std::vector<unsigned char> dump = rec.boardDump();
    ASSERT_EQ(dump.size(), 2000u * 6);
    EXPECT_EQ(rec.data(), std::string(dump.begin(), dump.end()));
    expectReport(rec.config(), p, "2001");
}

TEST(Run, PacedRecordsArriveInOrderAtTheirPeriod)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    p.num_ch = 8;
    p.SampPer = 1958;  // the shortest period for 8 channels and the status byte
    Checked c = recordFor(rec, p, 2);
    rec.stopBoard();
    std::vector<std::string> sent = decode(rec.boardDump(), p);
    ASSERT_LE(c.lines.size(), sent.size());
    EXPECT_GT(c.lines.size(), 500u);  // about 1000 in two seconds
    sent.resize(c.lines.size());
    EXPECT_EQ(c.lines, sent);
    EXPECT_EQ(messages(c.r.out), (std::vector<std::string>{kSampling, kDone}));
}

TEST(Run, ReportForEveryFormatAndFlagCombination)
{
    for (unsigned wfile : {1u, 0u})
        for (unsigned digf : {0u, 1u})
            for (unsigned rec_c : {0u, 1u}) {
                SCOPED_TRACE("wfile " + std::to_string(wfile) + " digf " + std::to_string(digf) +
                             " rec_c " + std::to_string(rec_c));
                Recording rec;
                Panel p;
                p.num_ch = 2;
                p.wfile = wfile, p.digf = digf, p.rec_c = rec_c;
                p.SampPer = 5000;
                Checked c = recordFor(rec, p, 0);
                unsigned n = reportCount(rec.config());
                expectReport(rec.config(), p, std::to_string(n));
                if (wfile) {
                    size_t cols = 2 + (digf ? 4 : 0) + (rec_c ? 1 : 0);
                    for (const std::string& line : c.lines)
                        ASSERT_EQ((size_t)std::count(line.begin(), line.end(), ',') + 1, cols);
                }
            }
}

TEST(Run, VirtualBoardRecordsWithoutHardware)
{
    Recording rec;  // device "virtual"
    Panel p;
    Checked c = recordFor(rec, p, 2);
    EXPECT_GT(c.lines.size(), 500u);
    // The counter column runs 1, 2, ..., 15, 0, ... with no warning.
    for (size_t k = 0; k < c.lines.size(); k++)
        ASSERT_EQ(c.lines[k].substr(c.lines[k].rfind(',') + 1), std::to_string((k + 1) % 16));
    EXPECT_EQ(messages(c.r.out), (std::vector<std::string>{kSampling, kDone}));
    expectReport(rec.config(), p, std::to_string(reportCount(rec.config())));
}

// --- records as the board sends them, line by line ---------------------------

namespace {

using Bytes = std::vector<unsigned char>;

// Runs with the board sending exactly these records, then falling silent.
ProcResult recordStream(Recording& rec, const Panel& p, const std::vector<Bytes>& records)
{
    Bytes all;
    for (const Bytes& r : records)
        all.insert(all.end(), r.begin(), r.end());
    std::ofstream(rec.dir.file("stream"), std::ios::binary)
        .write(reinterpret_cast<const char*>(all.data()), all.size());
    rec.startBoard({"--stream", rec.dir.file("stream")});
    return rec.run(script(p, "press start\nwait 0.5\npress stop\n"));
}

const Bytes kThree = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1};

}  // namespace

// Streams of records and the data lines and messages they must give: worked
// examples of the record layout, the switches and the counter check.
TEST(Records, StreamsGiveTheirLinesAndWarnings)
{
    Bytes fa = kThree;
    fa[4] = 0xFA;  // the free high nibble of an odd channel count changes nothing
    fa[5] = 0xA2;
    const std::vector<std::string> good = {kSampling, kDone}, lost = {kSampling, kLoss, kDone};
    struct Case {
        const char* name;
        Panel p;
        std::vector<Bytes> records;
        std::string data;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"three channels with the status byte",
         {.num_ch = 3},
         {kThree, fa},
         "292,1379,1930,1,0,1,0,1\n292,1379,1930,1,0,1,0,2\n",
         good},
        // The digital lines and the counter follow their switches.
        {"without the digital lines",
         {.num_ch = 3, .digf = 0},
         {kThree},
         "292,1379,1930,1\n",
         good},
        {"without the counter",
         {.num_ch = 3, .rec_c = 0},
         {kThree},
         "292,1379,1930,1,0,1,0\n",
         good},
        {"the same record as the second one warns but is written",
         {.num_ch = 3},
         {kThree, kThree},
         "292,1379,1930,1,0,1,0,1\n292,1379,1930,1,0,1,0,1\n",
         lost},
        {"two channels without the status byte span the range",
         {.num_ch = 2, .di = 0},
         {{0xAB, 0x3C, 0x12}, {0xFF, 0xFF, 0xFF}, {0, 0, 0}},
         "2748,291\n4095,4095\n0,0\n",
         good},
        {"a board that starts at counter 0 warns from the first record",
         {.num_ch = 1},
         {{0x10, 0x02, 0x00}, {0x10, 0x02, 0x01}},
         "258,0,0,0,0,0\n258,0,0,0,0,1\n",
         lost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording rec;
        ProcResult r = recordStream(rec, c.p, c.records);
        EXPECT_EQ(rec.data(), c.data);
        EXPECT_EQ(messages(r.out), c.messages);
    }
}

TEST(Records, SixChannelsAtCounter15ThenTheCounterWraps)
{
    Recording rec;
    Panel p;  // 6 channels, status byte, lines and counter
    std::vector<Bytes> records;
    for (unsigned n = 1; n <= 14; n++)
        records.push_back({0, 0, 0, 0, 0, 0, 0, 0, 0, (unsigned char)n});
    records.push_back({0x00, 0xF0, 0xFF, 0x80, 0x10, 0x00, 0x06, 0x04, 0xFA, 0x5F});
    records.push_back({0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80});  // counter 0, line 1 set
    ProcResult r = recordStream(rec, p, records);
    std::vector<std::string> lines = splitlines(rec.data());
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[13], "0,0,0,0,0,0,0,0,0,0,14");
    EXPECT_EQ(lines[14], "0,4095,2048,1,100,4000,0,1,0,1,15");
    EXPECT_EQ(lines[15], "0,0,0,0,0,0,1,0,0,0,0");
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{kSampling, kDone}));
}

TEST(Records, RawBytesOfOneChannelWithStatusAreThreeBytesEach)
{
    Recording rec;
    Panel p;
    p.num_ch = 1, p.wfile = 0;
    ProcResult r =
        recordStream(rec, p, {{0x0A, 0x00, 0x01}, {0x0D, 0x0A, 0x02}, {0xFF, 0x11, 0x04}});
    EXPECT_EQ(rec.data(), std::string("\x0A\x00\x01\x0D\x0A\x02\xFF\x11\x04", 9));
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{kSampling, kLoss, kDone}));
    expectReport(rec.config(), p, "4");  // the fourth record was begun and waited for
}

// --- the board loses something ----------------------------------------------

TEST(Run, ALostRecordWarnsFromTheNextRecordOn)
{
    Recording rec;
    rec.startBoard({"--flood", "--records", "1000", "--lose-record-every", "400"});
    Panel p;
    Checked c = recordFor(rec, p, 3);
    rec.stopBoard();
    std::vector<std::string> sent = decode(rec.boardDump(), p);
    EXPECT_EQ(sent.size(), 998u);
    EXPECT_EQ(c.lines, sent);  // every record that came is written
    EXPECT_EQ(messages(c.r.out), (std::vector<std::string>{kSampling, kLoss, kSilent, kDone}));
}

TEST(Run, StopWhileARecordIsHalfReceived)
{
    Recording rec;
    // A byte lost, then silence: the last record never completes.
    rec.startBoard({"--flood", "--lose-byte", "5", "--silence-after", "100"});
    Panel p;
    ProcResult r = rec.run(script(p, "press start\nwait 1\npress stop\n"));
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(r.seconds, 15);
    std::vector<std::string> lines = splitlines(rec.data());
    EXPECT_EQ(lines.size(), 99u);  // 100 records less one byte
    EXPECT_EQ(reportCount(rec.config()), 100u);
}

// --- Start's checks and the handshake ---------------------------------------

TEST(Run, PeriodTooShortThenTooLongThenCorrected)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    std::string s = p.lines() +
                    "set 10 1000\npress start\nwait 0.2\nset 10 4294967295\n"
                    "press start\nwait 0.2\nset 10 2000\npress start\nwait 1\npress stop\n";
    ProcResult r = rec.run(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{
                                   " ERROR: The sampling period results too short!",
                                   " ERROR: The sampling period is too long!", kSampling, kDone}));
    EXPECT_GT(splitlines(rec.data()).size(), 100u);
}

TEST(Run, HandshakeFailureEndsTheProgramAndLeavesDataAlone)
{
    for (const char* fault : {"--wrong-id", "--bad-checksum"}) {
        SCOPED_TRACE(fault);
        Recording rec;
        rec.startBoard({fault});
        std::filesystem::create_directories(rec.work());
        std::ofstream(rec.work() + "/data.txt") << "an earlier run\n";
        ProcResult r = rec.run(Panel().lines() + "press start\nwait 5\npress stop\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_GE(r.seconds, 2.0);  // the message stays for two seconds
        std::string want =
            std::string(fault) == "--wrong-id" ? " ERROR: Unknown device!" : " ERROR: bad CHK!";
        EXPECT_EQ(messages(r.out), (std::vector<std::string>{want}));
        EXPECT_EQ(rec.data(), "an earlier run\n");
        EXPECT_FALSE(rec.exists("config.txt"));
    }
}

TEST(Run, NoBoardIsAnUnknownDevice)
{
    Recording rec;
    rec.device = rec.dir.file("no-such-port");
    ProcResult r = rec.run(Panel().lines() + "press start\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{" ERROR: Unknown device!"}));
    EXPECT_LT(r.seconds, 15);
}

TEST(Run, QuitBeforeAnyStartCreatesNothing)
{
    Recording rec;
    ProcResult r = rec.run("press quit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(messages(r.out).empty());
    EXPECT_FALSE(rec.exists("data.txt"));
    EXPECT_FALSE(rec.exists("config.txt"));
}

// --- what the recorder does about faults ------------------------------------

TEST(Run, StopBeforeAnyStartWritesAReportOfZeros)
{
    Recording rec;
    ProcResult r = rec.run("press stop\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(rec.config(),
              "A genuine device had sampled data in file DATA.TXT as:\n\nArray of char...\n\n"
              "The start flag date/time was sent at:never (no run was started)\n\n"
              "With the configuration parameters:\nNumber of Analogical channels:  0\n\n"
              "with a sample period of [us]:  0\n"
              "The number of samples for every channel is:  0");
    EXPECT_FALSE(rec.exists("data.txt"));
}

TEST(Run, ASecondStartDuringARunIsIgnored)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    ProcResult r = rec.run(p.lines() +
                           "press start\nwait 0.5\nset 6 2\npress start\nwait 0.5\n"
                           "press stop\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r.out), (std::vector<std::string>{kSampling, kDone}));
    std::vector<std::string> lines = splitlines(rec.data());
    ASSERT_GT(lines.size(), 100u);
    for (size_t k = 0; k < lines.size(); k++) {
        ASSERT_EQ(std::count(lines[k].begin(), lines[k].end(), ','), 10) << k;
        ASSERT_EQ(lines[k].substr(lines[k].rfind(',') + 1), std::to_string((k + 1) % 16)) << k;
    }
    EXPECT_NE(rec.config().find("channels:  6\n"), std::string::npos);
}

TEST(Run, DataFileThatCannotBeCreatedLeavesTheProgramUsable)
{
    Recording rec;                                                  // the virtual board
    std::filesystem::create_directories(rec.work() + "/data.txt");  // not a file
    std::unique_ptr<Proc> t = rec.spawn(Panel().lines() +
                                        "press start\nwait 4\npress start\n"
                                        "wait 1\npress stop\n");
    // The user sees the error, clears the way and presses Start again.
    messageShown(*t);
    ASSERT_EQ(messages(t->out()), (std::vector<std::string>{" ERROR: Cannot create DATA.TXT!"}));
    std::filesystem::remove(rec.work() + "/data.txt");
    ProcResult r = t->wait(30);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r.out),
              (std::vector<std::string>{" ERROR: Cannot create DATA.TXT!", kSampling, kDone}));
    EXPECT_GT(splitlines(rec.data()).size(), 200u);
}

// A rate no line runs at is refused by the panel before any run: the baud
// rate box takes typed rates up to 12,000,000 bit/s.
TEST(Run, ABaudRateNoLineRunsAtIsRefusedBeforeTheRun)
{
    Recording rec;
    ProcResult r = rec.run(Panel().lines() +
                           "set 8 999999999\nset 10 100000\npress start\n"
                           "wait 0.5\npress quit\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("script.txt:9: set: control 8 ('baudRate') takes one of its items or 1 "
                         "to 12000000, not 999999999"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(messages(r.out).empty());
    EXPECT_FALSE(rec.exists("data.txt"));
}

TEST(Run, PortThatCannotBeReopenedForSamplingIsSaid)
{
    // The port's name goes away between the handshake and the reopen: the
    // board has checked the block, and tarvo waits a quarter second before
    // it reads the checksum.
    Recording rec;
    const std::string link = rec.dir.file("board");
    rec.startBoard({"--link", link});
    rec.device = link;
    std::unique_ptr<Proc> t = rec.spawn(Panel().lines() + "press start\nwait 0.5\npress quit\n");
    ASSERT_TRUE(
        waitUntil([&] { return rec.boardLog().find("config ok") != std::string::npos; }, 30));
    std::filesystem::remove(link);
    ProcResult r = t->wait(60);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(messages(r.out),
              (std::vector<std::string>{" ERROR: Cannot open the serial port for sampling!"}));
    EXPECT_EQ(rec.data(), "");  // created before the port was reopened, and nothing in it
}

TEST(Run, ReportThatCannotBeCreatedIsSaid)
{
    Recording rec;
    std::filesystem::create_directories(rec.work() + "/config.txt");
    Panel p;
    ProcResult r = rec.run(script(p, "press start\nwait 0.5\npress stop\n"));
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(r.seconds, 2.0);
    EXPECT_EQ(messages(r.out),
              (std::vector<std::string>{kSampling, kDone, " ERROR: Cannot create CONFIG.TXT!"}));
    EXPECT_GT(splitlines(rec.data()).size(), 50u);
}

TEST(Run, PeriodLongerThanTheReadTimeOutRecordsCleanly)
{
    Recording rec;
    rec.startBoard();
    Panel p;
    p.num_ch = 1, p.di = 1, p.SampPer = 1500000;  // 1.5 s between records
    Checked c = recordFor(rec, p, 4);
    rec.stopBoard();
    ASSERT_GE(c.lines.size(), 2u);
    std::vector<std::string> sent = decode(rec.boardDump(), p);
    sent.resize(std::min(sent.size(), c.lines.size()));
    EXPECT_EQ(c.lines, sent);
    EXPECT_EQ(messages(c.r.out), (std::vector<std::string>{kSampling, kDone}));
}

TEST(Run, APortThatFailsStopsSamplingWithoutSpinning)
{
    Recording rec;
    rec.startBoard({"--flood", "--hangup-after", "500"});
    Panel p;
    ProcResult r = rec.run(script(p, "press start\nwait 3\npress stop\n"));
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(r.cpuSeconds, 2.0);  // three seconds of a dead port burn no core
    std::vector<std::string> m = messages(r.out);
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[1], " ERROR: The serial port failed! Sampling stopped.");
    EXPECT_EQ(splitlines(rec.data()).size(), 500u);
    EXPECT_EQ(reportCount(rec.config()), 501u);
}

TEST(Run, QuitAndSignalsDuringARunEndItCleanly)
{
    for (int how : {0, SIGINT, SIGTERM, SIGHUP}) {  // SIGHUP: the terminal closed
        SCOPED_TRACE(how);
        Recording rec;
        rec.startBoard();
        Panel p;
        std::unique_ptr<Proc> t = rec.spawn(
            script(p, how == 0 ? "press start\nwait 1\npress quit\n" : "press start\nwait 60\n"));
        if (how != 0) {
            ASSERT_TRUE(messageShown(*t));
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            t->signal(how);
        }
        ProcResult r = t->wait(20);
        EXPECT_EQ(r.status, 0);
        EXPECT_FALSE(r.timedOut);
        rec.stopBoard();
        std::vector<std::string> lines = splitlines(rec.data());
        EXPECT_GT(lines.size(), 100u);
        EXPECT_EQ(rec.data().back(), '\n');  // the last line is whole
        std::vector<std::string> sent = decode(rec.boardDump(), p);
        ASSERT_GE(sent.size(), lines.size());
        sent.resize(lines.size());
        EXPECT_EQ(lines, sent);
        EXPECT_FALSE(rec.exists("config.txt"));
    }
}
