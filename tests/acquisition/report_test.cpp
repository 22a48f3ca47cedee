// The run report that Stop writes, byte for byte.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "../recorded/report_example.h"
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
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

}  // namespace

TEST(Report, TheWorkedExamplesByteForByte)
{
    TempDir dir;
    struct tm t = {};
    t.tm_sec = 27, t.tm_min = 3, t.tm_hour = 14;
    t.tm_mon = 2, t.tm_year = 107;
    timestart = &t;
    const struct {
        int mday, wday;  // Thursday 15 or Monday 5 March 2007
        unsigned format, channels, digital, counter, period, records;
        const char* report;
        bool whole;  // the whole report, else a part of it
    } cases[] = {
        {15, 4, 1, 6, 1, 1, 2000, 960, kWorkedReport, true},
        // Raw bytes, neither lines nor counter, a one-digit day padded by asctime.
        {5, 1, 0, 1, 0, 0, 167773664, 0,
         "A genuine device had sampled data in file DATA.TXT as:\n\nArray of char...\n\n"
         "The start flag date/time was sent at:Mon Mar  5 14:03:27 2007\n\n"
         "With the configuration parameters:\nNumber of Analogical channels:  1\n\n"
         "with a sample period of [us]:  167773664\n"
         "The number of samples for every channel is:  0",
         true},
        // The counter alone.
        {5, 1, 1, 1, 0, 1, 167773664, 0,
         "channels:  1\nThe last colum is the record counter 0-15\nwith", false},
    };
    for (const auto& c : cases) {
        t.tm_mday = c.mday, t.tm_wday = c.wday;
        wfile = c.format, num_ch = c.channels, digf = c.digital, rec_c = c.counter;
        SampPer = c.period;
        tot_data = c.records;
        const std::string report = stopIn(dir);
        if (c.whole)
            EXPECT_EQ(report, native(c.report));
        else
            EXPECT_NE(report.find(native(c.report)), std::string::npos) << report;
    }
    timestart = nullptr;
}
