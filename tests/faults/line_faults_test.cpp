// Faults on the line, end to end: the real tarvo against tarvo-board with a
// fault switched on, and data.txt compared record by record with what the
// board sent. Cases that the whole-run tests already hold (a lost record,
// silence, a hang-up, Stop during a half-received record, Quit and the
// termination signals) are not repeated here: see tests/e2e/run_test.cpp.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include "faults.h"

namespace {

const char kSampling[] = "Sampling...";
const char kDone[] = "Data recorded in DATA.TXT, config parameter in CONFIG.TXT";
const char kLoss[] = " WARNING: data loss...Sampling continue!";
const char kSilent[] = " WARNING: No data from the board...Sampling continue!";

using Strings = std::vector<std::string>;

}  // namespace

TEST(LineFaults, NoiseOnTheLineBeforeTheBreakIsFlushedAway)
{
    Recording rec;
    rec.startBoard({"--noise", "--flood", "--records", "2000"});
    Panel p;
    ProcResult r = rec.run(p.lines() + "press start\nwait 2\npress stop\n");
    EXPECT_EQ(r.status, 0) << r.err;
    rec.stopBoard();
    // The noise went out before the handshake and was not taken for the reply.
    EXPECT_NE(rec.boardLog().find("tx noise"), std::string::npos);
    Compared c = compareWithBoard(rec.data(), decode(rec.boardDump(), p));
    EXPECT_EQ(c.whole, 2000u);
    EXPECT_FALSE(c.partialTail);
    EXPECT_EQ(messages(r.out), (Strings{kSampling, kSilent, kDone}));
    figures("noise before the break", r.seconds, std::to_string(c.whole) + " records compared");
}

// A byte lost puts every later record off by one: the counter test warns
// and every byte still reaches data.txt, in the board's order.
TEST(LineFaults, ALostByteMisalignsTheStreamAndIsWarnedNeverACrash)
{
    struct Case {
        unsigned wfile, num_ch;
        unsigned long lostByte;
    };
    // The byte in several places of a record: a sample, the status byte.
    for (const Case& k : {Case{1, 6, 4995}, Case{1, 6, 5000}, Case{1, 7, 3}, Case{0, 3, 2000}}) {
        SCOPED_TRACE("format " + std::to_string(k.wfile) + ", " + std::to_string(k.num_ch) +
                     " channels, byte " + std::to_string(k.lostByte));
        Recording rec;
        rec.startBoard({"--flood", "--records", "3000", "--lose-byte", std::to_string(k.lostByte)});
        Panel p;
        p.wfile = k.wfile;
        p.num_ch = k.num_ch;
        ProcResult r = rec.run(p.lines() + "press start\nwait 1.5\npress stop\n");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(r.timedOut);
        rec.stopBoard();
        const std::vector<unsigned char> dump = rec.boardDump();
        const size_t len = p.di + (3 * p.num_ch + 1) / 2;
        ASSERT_EQ(dump.size(), 3000 * len - 1);
        if (k.wfile) {
            Compared c = compareWithBoard(rec.data(), decode(dump, p));
            EXPECT_EQ(c.whole, 2999u);  // the last record waits for its missing byte
            EXPECT_FALSE(c.partialTail);
            figures("byte " + std::to_string(k.lostByte) + " lost", r.seconds,
                    std::to_string(c.whole) + " records compared");
        } else {
            // Raw bytes go to the file as they come: the stream as sent,
            // the bytes of the incomplete last record included.
            EXPECT_EQ(rec.data(), std::string(dump.begin(), dump.end()));
        }
        EXPECT_EQ(messages(r.out), (Strings{kSampling, kLoss, kSilent, kDone}));
    }
}

// A million records as fast as the line takes them: every one in data.txt,
// in order, none twice.
TEST(LineFaults, AMillionFloodedRecordsEqualTheBoardsRecordByRecord)
{
    constexpr long kRecords = 1'000'000;
    Recording rec;
    rec.startBoard({"--flood", "--records", std::to_string(kRecords)});
    Panel p;
    p.num_ch = 8;  // the longest lines
    std::unique_ptr<Proc> t = rec.spawn(p.lines() + "press start\nwait 600\n");
    // The board is done when its dump is whole; data.txt is then complete
    // within the second in which tarvo flushes it.
    const bool sent = waitUntil(
        [&] { return rec.boardLog().find("done after record") != std::string::npos; }, 240);
    EXPECT_TRUE(sent) << "the board did not send its records in time";
    std::vector<std::string> expected = decode(rec.boardDump(), p);
    ASSERT_EQ(expected.size(), (size_t)kRecords);
    size_t bytes = 0;
    for (const std::string& line : expected)
        bytes += line.size() + 1;
    const bool whole = waitUntil(
        [&] {
            struct stat st {};
            return ::stat((rec.work() + "/data.txt").c_str(), &st) == 0 &&
                   (size_t)st.st_size >= bytes;
        },
        60);
    EXPECT_TRUE(whole) << "data.txt did not reach " << bytes << " bytes";
    t->signal(SIGTERM);
    ProcResult r = t->wait(30);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(r.timedOut);
    Compared c = compareWithBoard(rec.data(), expected);
    EXPECT_EQ(c.whole, (size_t)kRecords);
    EXPECT_FALSE(c.partialTail);
    EXPECT_EQ(messages(r.out), (Strings{kSampling, kSilent}));
    figures("flood of a million records", r.seconds,
            std::to_string(c.whole) + " records compared, " + std::to_string(bytes) + " bytes, " +
                std::to_string(r.cpuSeconds) + " s CPU");
}
