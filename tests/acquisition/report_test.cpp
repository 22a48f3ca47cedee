// The run report that Stop writes, byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "acquisition.h"
#include "pty.h"
#include "runtime.h"
#include "state.h"

#include "../panel/no_panel.h"

namespace {

// Stop, run in a directory of the test's own.
std::string stopIn(const TempDir& dir)
{
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    stop(1, 4, EVENT_COMMIT, nullptr, 0, 0);
    std::filesystem::current_path(here);
    return readfile(dir.file("config.txt"));
}

// The report's text with the platform's line ends and asctime's day: the
// Windows C library pads the day with a zero ("Mar 05"), and its text files
// end lines with CR LF.
std::string native(std::string text)
{
#ifdef _WIN32
    for (size_t at = 0; (at = text.find("  5 14:03:27", at)) != std::string::npos;)
        text.replace(at, 3, " 05");
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

}  // namespace

TEST(Report, TheWorkedExampleByteForByte)
{
    TempDir dir;
    struct tm t = {};
    t.tm_sec = 27, t.tm_min = 3, t.tm_hour = 14;
    t.tm_mday = 15, t.tm_mon = 2, t.tm_year = 107, t.tm_wday = 4;  // Thu Mar 15 2007
    timestart = &t;
    wfile = 1, num_ch = 6, digf = 1, rec_c = 1, SampPer = 2000;
    tot_data = 960;
    EXPECT_EQ(stopIn(dir),
              native("A genuine device had sampled data in file DATA.TXT as:\n"
              "\n"
              "Colums of int...\n"
              "\n"
              "The start flag date/time was sent at:Thu Mar 15 14:03:27 2007\n"
              "\n"
              "With the configuration parameters:\n"
              "Number of Analogical channels:  6\n"
              "And 4 digital channelsThe last colum is the record counter 0-15\n"
              "with a sample period of [us]:  2000\n"
              "The number of samples for every channel is:  960"));

    // Raw bytes, neither lines nor counter, a one-digit day padded by asctime.
    t.tm_mday = 5, t.tm_wday = 1;  // Mon Mar 5 2007
    wfile = 0, num_ch = 1, digf = 0, rec_c = 0, SampPer = 167773664;
    tot_data = 0;
    EXPECT_EQ(stopIn(dir),
              native("A genuine device had sampled data in file DATA.TXT as:\n\nArray of char...\n\n"
              "The start flag date/time was sent at:Mon Mar  5 14:03:27 2007\n\n"
              "With the configuration parameters:\nNumber of Analogical channels:  1\n\n"
              "with a sample period of [us]:  167773664\n"
              "The number of samples for every channel is:  0"));

    // The counter alone.
    wfile = 1, digf = 0, rec_c = 1;
    std::string rc = stopIn(dir);
    EXPECT_NE(rc.find(native("channels:  1\nThe last colum is the record counter 0-15\nwith")),
              std::string::npos) << rc;
    timestart = nullptr;
}
