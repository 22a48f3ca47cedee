// The run report reader (config.txt) over arbitrary texts. A text it takes
// must read the same once written again as the recorder writes a report;
// one it refuses must be refused at a line of the text, in printable words.
#include <cstdint>
#include <cstdio>
#include <string>

#include "check.h"
#include "run_info.h"

using namespace tarvo::recorded;

namespace {

// The report as the recorder's Stop writes it, from what was read.
std::string written(const RunInfo& info)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Settings& s = info.settings;
    std::string when = "never (no run was started)";
    if (!info.start.empty()) {
        unsigned y, mo, d, h, mi, se;
        FUZZ_CHECK(std::sscanf(info.start.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &y, &mo, &d, &h, &mi,
                               &se) == 6,
                   "start '%s'", info.start.c_str());
        FUZZ_CHECK(mo >= 1 && mo <= 12, "month %u", mo);
        char t[64];
        std::snprintf(t, sizeof t, "%s %s%3u %02u:%02u:%02u %04u", days[(y + mo + d) % 7],
                      months[mo - 1], d, h, mi, se, y);
        when = t;
    }
    return std::string("A genuine device had sampled data in file DATA.TXT as:\n\n") +
           (s.format == Format::Columns ? "Colums of int..." : "Array of char...") +
           "\n\nThe start flag date/time was sent at:" + when +
           "\n\nWith the configuration parameters:\nNumber of Analogical channels:  " +
           std::to_string(s.channels) + "\n" + (s.digitalLines ? "And 4 digital channels" : "") +
           (s.recordCounter ? "The last colum is the record counter 0-15" : "") +
           "\nwith a sample period of [us]:  " + std::to_string(s.periodUs) +
           "\nThe number of samples for every channel is:  " +
           std::to_string(info.records.value_or(0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    RunInfo info;
    std::string why;
    if (!parseReport(text, info, why)) {
        checkPrintable(why, "the reason");
        unsigned long line = 0;
        FUZZ_CHECK(std::sscanf(why.c_str(), "line %lu: ", &line) == 1 && line >= 1, "%s",
                   why.c_str());
        return 0;
    }
    FUZZ_CHECK(info.settings.channels >= 1 && info.settings.channels <= 8, "%u channels",
               info.settings.channels);
    RunInfo again;
    const std::string text2 = written(info);
    FUZZ_CHECK(parseReport(text2, again, why), "written again, refused: %s\n%s", why.c_str(),
               text2.c_str());
    FUZZ_CHECK(again.settings.channels == info.settings.channels &&
                   again.settings.format == info.settings.format &&
                   again.settings.digitalLines == info.settings.digitalLines &&
                   again.settings.recordCounter == info.settings.recordCounter &&
                   again.settings.periodUs == info.settings.periodUs &&
                   again.records == info.records && again.start == info.start,
               "written again, read otherwise:\n%s", text2.c_str());
    return 0;
}
