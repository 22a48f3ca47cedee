// Whole runs on Windows without the window: the settings put on the
// headless panel, Start (configuration step, handshake, start byte, the
// sampling thread) and Stop (data file, run report), against tarvo-board on
// the far end of a COM port. The records in data.txt are checked against
// the board model's test signals, computed here independently of the
// recorder's decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "acquisition.h"
#include "board_model.h"
#include "com_table.h"
#include "ctrlids.h"
#include "lines.h"
#include "panel_internal.h"
#include "pty.h"
#include "runtime.h"
#include "state.h"

namespace {

constexpr int kPort = 5;
constexpr unsigned kChannels = 6;

class Run : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<RemoteLine> board;
    std::filesystem::path home = std::filesystem::current_path();
    std::FILE* echo = nullptr;

    void SetUp() override
    {
        ASSERT_GT(LoadPanel(0, "tarvo.uir", PANEL), 0);
        echo = std::fopen(dir.file("messages.txt").c_str(), "wb");
        tarvo::rt::setMessageEchoStream(echo);
        std::filesystem::current_path(dir.path());
    }

    void TearDown() override
    {
        if (functionId != 0) {
            stopp = 0;
            endrun();
            CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
            functionId = 0;
        }
        tarvo::rt::setMessageEchoStream(stdout);
        if (echo)
            std::fclose(echo);
        std::filesystem::current_path(home);
        tarvo::rt::clearComDevices();
        DiscardPanel(PANEL);
    }

    // The settings a user would put on the panel, then Start.
    void startRun(const std::string& boardOptions, unsigned format)
    {
        board = std::make_unique<RemoteLine>("board " + boardOptions);
        ASSERT_FALSE(board->com().empty());
        tarvo::rt::setComDevice(kPort, board->com());
        const std::pair<int, unsigned> settings[] = {
            {PANEL_COMPORT, kPort}, {PANEL_NUMCH, kChannels}, {PANEL_BAUD, 115200},
            {PANEL_STATUSBYTE, 1},  {PANEL_PERIOD, 2000},     {PANEL_DIGITAL, 1},
            {PANEL_COUNTER, 1},     {PANEL_FORMAT, format},
        };
        for (auto [control, value] : settings)
            ASSERT_EQ(SetCtrlVal(PANEL, control, value), 0);
        start(PANEL, 0, EVENT_COMMIT, nullptr, 0, 0);
        ASSERT_NE(functionId, 0) << messages();
    }

    void waitForRecords(unsigned n, double seconds = 20)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (tot_data.load() < n && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_GE(tot_data.load(), n);
    }

    void stopRun()
    {
        stop(PANEL, 0, EVENT_COMMIT, nullptr, 0, 0);
        CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
        functionId = 0;
        board->stopBoard();
    }

    // What the message line said so far: the echo is written by a thread of
    // its own, so it is drained before the file is read.
    std::string messages() const
    {
        tarvo::rt::flushMessageEcho(10);
        std::fflush(echo);
        return readfile(dir.file("messages.txt"));
    }
};

// The columns of record n as the board model makes them.
std::string expectedLine(uint64_t n)
{
    std::string line;
    for (unsigned ch = 0; ch < kChannels; ++ch)
        line += (ch ? "," : "") + std::to_string(tarvo::board::sampleValue(ch, n));
    const unsigned status = tarvo::board::statusByte(n);
    for (int bit = 7; bit >= 4; --bit)
        line += (status >> bit) & 1 ? ",1" : ",0";
    return line + "," + std::to_string(status & 15);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        out.push_back(l);
    }
    return out;
}

}  // namespace

TEST_F(Run, RecordsInIntegerColumnsAndTheReport)
{
    startRun("", 1);
    waitForRecords(300);
    stopRun();

    // Text files end their lines as Windows' text files do.
    const std::string data = readfile(dir.file("data.txt"));
    ASSERT_GE(data.size(), 2u);
    EXPECT_EQ(data.substr(data.size() - 2), "\r\n");
    EXPECT_EQ(std::count(data.begin(), data.end(), '\n'),
              std::count(data.begin(), data.end(), '\r'));
    const auto got = lines(data);
    ASSERT_GE(got.size(), 300u);
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], expectedLine(i + 1)) << "line " << i + 1;

    const std::string report = readfile(dir.file("config.txt"));
    EXPECT_NE(
        report.find(
            "A genuine device had sampled data in file DATA.TXT as:\r\n\r\nColums of int...\r\n"),
        std::string::npos)
        << report;
    EXPECT_NE(report.find("Number of Analogical channels:  6\r\n"), std::string::npos) << report;
    // asctime as the Windows C library writes it: the day padded with a zero.
    EXPECT_TRUE(std::regex_search(report, std::regex("sent at:[A-Z][a-z]{2} [A-Z][a-z]{2} \\d\\d "
                                                     "\\d\\d:\\d\\d:\\d\\d \\d{4}\r\n\r\n")))
        << report;
    // Every record begun is counted; one begun and cut short by Stop is not written.
    const unsigned counted = std::stoul(report.substr(report.rfind("  ") + 2));
    EXPECT_TRUE(counted == got.size() || counted == got.size() + 1) << counted << " " << got.size();

    const std::string m = messages();
    EXPECT_NE(m.find("message: Sampling...\n"), std::string::npos) << m;
    EXPECT_NE(m.find("message: Data recorded in DATA.TXT, config parameter in CONFIG.TXT\n"),
              std::string::npos)
        << m;
    EXPECT_EQ(m.find("WARNING"), std::string::npos) << m;
}

TEST_F(Run, RawBytesAreWrittenExactlyAsTheBoardSentThem)
{
    startRun("", 0);
    waitForRecords(300);
    stopRun();

    const std::string data = readfile(dir.file("data.txt"));
    constexpr std::size_t kLen = 1 + (3 * kChannels + 1) / 2;
    ASSERT_GE(data.size(), 300 * kLen);
    ASSERT_EQ(data.size() % kLen, 0u);
    // Records hold every byte value, 0x0A and 0x0D among them: a file opened
    // in text mode would turn each 0x0A into 0x0D 0x0A.
    for (std::size_t n = 1; n <= data.size() / kLen; ++n) {
        uint16_t values[kChannels];
        for (unsigned ch = 0; ch < kChannels; ++ch)
            values[ch] = tarvo::board::sampleValue(ch, n);
        uint8_t rec[kLen];
        tarvo::board::packSamples(values, kChannels, 0, rec);
        rec[kLen - 1] = tarvo::board::statusByte(n);
        ASSERT_EQ(data.substr((n - 1) * kLen, kLen), std::string(rec, rec + kLen))
            << "record " << n;
    }
}

TEST_F(Run, ALostRecordIsWarnedAndLeavesAGap)
{
    startRun("--lose-record-every 40", 1);
    waitForRecords(100);
    stopRun();

    const auto got = lines(readfile(dir.file("data.txt")));
    ASSERT_GE(got.size(), 90u);
    EXPECT_EQ(got[38], expectedLine(39));
    EXPECT_EQ(got[39], expectedLine(41));  // record 40 never came
    EXPECT_NE(messages().find("message:  WARNING: data loss...Sampling continue!\n"),
              std::string::npos)
        << messages();
}

TEST_F(Run, APortThatFailsStopsSamplingAndKeepsWhatWasRecorded)
{
    startRun("--hangup-after 30", 1);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, functionId, 10.0), 1)
        << "sampling did not end when the board hung up";
    EXPECT_NE(messages().find("message:  ERROR: The serial port failed! Sampling stopped.\n"),
              std::string::npos)
        << messages();
    stopRun();

    const auto got = lines(readfile(dir.file("data.txt")));
    ASSERT_EQ(got.size(), 30u);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], expectedLine(i + 1));
    EXPECT_NE(readfile(dir.file("config.txt")).find("A genuine device"), std::string::npos);
}
