// What a run's files say about it: run.json (through the JSON reader),
// config.txt, a guess from the columns, and the settling of the layout
// against the data file.
#include <gtest/gtest.h>

#include <cstring>

#include "json.h"
#include "run_files.h"
#include "run_info.h"
#include "report_example.h"
#include "temp_dir.h"

using namespace tarvo::recorded;

namespace {

// ------------------------------------------------------------------ JSON

TEST(Json, ReadsEveryKindOfValue)
{
    json::Value v;
    json::Error e;
    ASSERT_TRUE(json::parse(R"( {"a": [1, 2.5, -3e2, true, false, null, "x\u00e9\ud83d\ude00\n"],
                                 "b": {}} )",
                            v, e))
        << e.what;
    const json::Value* a = v.find("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->items.size(), 7u);
    EXPECT_TRUE(a->items[0].integral);
    EXPECT_EQ(a->items[0].integer, 1);
    EXPECT_FALSE(a->items[1].integral);
    EXPECT_DOUBLE_EQ(a->items[1].number, 2.5);
    EXPECT_DOUBLE_EQ(a->items[2].number, -300);
    EXPECT_TRUE(a->items[3].boolean);
    EXPECT_EQ(a->items[4].type, json::Value::Type::Bool);
    EXPECT_TRUE(a->items[5].isNull());
    EXPECT_EQ(a->items[6].text, "x\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_EQ(v.find("b")->type, json::Value::Type::Object);
    EXPECT_EQ(v.find("c"), nullptr);
}

TEST(Json, RefusesMalformedTextWithTheByteOffset)
{
    const struct {
        std::string text;
        size_t offset;
        const char* what;
    } cases[] = {
        {"", 0, "missing"},
        {"tru", 0, "not a JSON value"},
        {"1 2", 2, "text after the value"},
        {"{\"a\": 1,}", 8, "expected a key"},
        {"[1 2]", 3, "expected ',' or ']'"},
        {"{\"a\" 1}", 5, "expected ':'"},
        {"{\"a\": 01}", 6, "leading zero"},
        {"-", 1, "needs digits"},
        {"1.", 2, "after '.'"},
        {"1e+", 3, "exponent"},
        {"\"abc", 0, "never ends"},
        {"\"a\x01\"", 2, "control byte"},
        {"\"\\x\"", 1, "unknown escape"},
        {"\"\\u12g4\"", 5, "hexadecimal"},
        {"\"\\ud800\"", 1, "high surrogate"},
        {"\"\\udc00\"", 1, "lone low surrogate"},
        {"{\"a\": 1, \"a\": 2}", 14, "twice"},
        {"[1e999]", 1, "out of range"},
        {std::string(65, '[') + std::string(65, ']'), 64, "nested"},
        {"{\"a\": 1 2}", 8, "expected ',' or '}'"},
        {"{\"a\": 1", 7, "the text ends inside an object"},
        {"[1,2", 4, "the text ends inside an array"},
        {"[", 1, "a value is missing"},
        {[] {
             std::string deep;
             for (int i = 0; i < 65; i++)
                 deep += "{\"a\":";
             return deep + "1" + std::string(65, '}');
         }(),
         320, "nested more than 64 deep"},
    };
    for (const auto& c : cases) {
        json::Value v;
        json::Error e;
        EXPECT_FALSE(json::parse(c.text, v, e)) << c.text;
        EXPECT_EQ(e.offset, c.offset) << c.text << ": " << e.what;
        EXPECT_NE(e.what.find(c.what), std::string::npos) << c.text << ": " << e.what;
    }
    // 64 deep is allowed.
    json::Value v;
    json::Error e;
    EXPECT_TRUE(json::parse(std::string(64, '[') + std::string(64, ']'), v, e)) << e.what;
}

// ------------------------------------------------------------- run.json

const char kRunJson[] = R"({
  "format": "tarvo-run 1",
  "program": "tarvo 0.1.0",
  "data_file": "data.txt",
  "report_file": "config.txt",
  "settings": {"channels": 6, "status_byte": true, "digital_lines": true,
               "record_counter": true, "file_format": "columns", "period_us": 2000,
               "baud_rate": 115200, "port": 1, "device": "/dev/ttyUSB0", "record_bytes": 10},
  "start": "2026-12-07T18:02:33.125+01:00",
  "end": "2026-12-07T18:12:33.480+01:00",
  "ended_by": "stop",
  "records": 12345,
  "lost": 3,
  "events": [ {"type": "loss", "record": 401, "missing": 1},
              {"type": "flood", "record": 500},
              {"type": "silence", "record": 1200, "start": "2026-12-07T18:02:36.000+01:00", "end": null} ],
  "events_dropped": 0
})";

TEST(RunDescription, ReadsTheSettingsTimesCountsAndEvents)
{
    RunInfo info;
    std::string why;
    ASSERT_TRUE(parseDescription(kRunJson, info, why)) << why;
    EXPECT_EQ(info.source, Source::Description);
    const Settings& s = info.settings;
    EXPECT_EQ(s.channels, 6u);
    EXPECT_TRUE(s.statusByte && s.digitalLines && s.recordCounter);
    EXPECT_EQ(s.format, Format::Columns);
    EXPECT_EQ(s.periodUs, 2000u);
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.port, 1);
    EXPECT_EQ(s.device, "/dev/ttyUSB0");
    EXPECT_EQ(s.columns(), 11u);
    EXPECT_EQ(info.program, "tarvo 0.1.0");
    EXPECT_EQ(info.start, "2026-12-07T18:02:33.125+01:00");
    EXPECT_EQ(info.end, "2026-12-07T18:12:33.480+01:00");
    EXPECT_TRUE(info.ended);
    EXPECT_EQ(info.endedBy, "stop");
    EXPECT_EQ(info.records, 12345u);
    EXPECT_EQ(info.lost, 3u);
    // An event of a kind this reader does not know is left out.
    ASSERT_EQ(info.events.size(), 2u);
    EXPECT_EQ(info.events[0].type, Event::Type::Loss);
    EXPECT_EQ(info.events[0].record, 401u);
    EXPECT_EQ(info.events[0].missing, 1u);
    EXPECT_EQ(info.events[1].type, Event::Type::Silence);
    EXPECT_EQ(info.events[1].record, 1200u);
    EXPECT_EQ(info.events[1].end, "");
}

TEST(RunDescription, ARunInProgressHasNoEnd)
{
    std::string text = kRunJson;
    text.replace(text.find("\"2026-12-07T18:12:33.480+01:00\""), 31, "null");
    text.replace(text.find("\"stop\""), 6, "null");
    RunInfo info;
    std::string why;
    ASSERT_TRUE(parseDescription(text, info, why)) << why;
    EXPECT_FALSE(info.ended);
    EXPECT_EQ(info.end, "");
    EXPECT_EQ(info.endedBy, "");
}

TEST(RunDescription, RefusesWhatDoesNotDescribeARun)
{
    const struct {
        const char* from;
        const char* to;
        const char* what;
    } cases[] = {
        {"\"tarvo-run 1\"", "\"tarvo-run 2\"", "is not \"tarvo-run 1\""},
        {"\"channels\": 6", "\"channels\": 9", "\"channels\" must be a whole number from 1 to 8"},
        {"\"channels\": 6", "\"channels\": 6.5", "\"channels\" must be a whole number"},
        {"\"status_byte\": true", "\"status_byte\": 1", "\"status_byte\" must be true or false"},
        {"\"columns\"", "\"csv\"", "\"file_format\" must be \"columns\" or \"raw\""},
        {"\"record_bytes\": 10", "\"record_bytes\": 9",
         "a record of 6 channels and a status byte is 10 bytes"},
        {"\"records\": 12345", "\"records\": -1", "\"records\" must be a whole number"},
        {"\"missing\": 1", "\"missing\": 0", "\"missing\" must be a whole number from 1"},
        {"\"events\": [", "\"events\": 3, \"x\": [", "\"events\" must be an array"},
        {"\"start\": \"2026-12-07T18:02:33.125+01:00\"", "\"start\": null",
         "\"start\" must be a string"},
        {"\"period_us\": 2000,", "", "\"period_us\" is missing"},
        {"\"tarvo-run 1\"", "1", "\"format\" must be a string"},
        {"{\"type\": \"flood\", \"record\": 500}", "7", "an event must be an object"},
        {"\"type\": \"loss\"", "\"type\": 1", "\"type\" must be a string"},
        {"\"type\": \"loss\", ", "", "\"type\" is missing"},
    };
    for (const auto& c : cases) {
        std::string text = kRunJson;
        const size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        text.replace(at, std::strlen(c.from), c.to);
        RunInfo info;
        std::string why;
        EXPECT_FALSE(parseDescription(text, info, why)) << c.to;
        EXPECT_NE(why.find(c.what), std::string::npos) << why;
        EXPECT_EQ(why.rfind("byte ", 0), 0u) << why;
    }
    RunInfo info;
    std::string why;
    EXPECT_FALSE(parseDescription("[1]", info, why));
    EXPECT_EQ(why, "byte 0: not a run description (an object)");
    EXPECT_FALSE(parseDescription("{\"format\": \"tarvo-run 1\"}", info, why));
    EXPECT_EQ(why, "byte 0: \"settings\" is missing");
    EXPECT_FALSE(parseDescription("{", info, why));
    EXPECT_EQ(why, "byte 1: expected a key in double quotes");
}

// ------------------------------------------------------------- config.txt

const char* const kReport = kWorkedReport;

std::string everyLineEnd(std::string text, const std::string& to)
{
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + to.size()))
        text.replace(at, 1, to);
    return text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(RunReport, ReadsTheRecordersReport)
{
    RunInfo info;
    std::string why;
    ASSERT_TRUE(parseReport(kReport, info, why)) << why;
    EXPECT_EQ(info.source, Source::Report);
    EXPECT_EQ(info.settings.format, Format::Columns);
    EXPECT_EQ(info.settings.channels, 6u);
    EXPECT_TRUE(info.settings.digitalLines);
    EXPECT_TRUE(info.settings.recordCounter);
    EXPECT_EQ(info.settings.periodUs, 2000u);
    EXPECT_EQ(info.records, 960u);
    EXPECT_EQ(info.start, "2007-03-15T14:03:27");
    EXPECT_FALSE(info.statusByteKnown);
    EXPECT_TRUE(info.ended);
}

TEST(RunReport, ReadsEveryFormOfItsLines)
{
    const struct {
        std::string text;
        Format format;
        bool digital, counter;
        std::string start;
    } cases[] = {
        {replaced(kReport, "Colums of int...", "Array of char..."), Format::Raw, true, true,
         "2007-03-15T14:03:27"},
        {replaced(kReport, "The last colum is the record counter 0-15", ""), Format::Columns, true,
         false, "2007-03-15T14:03:27"},
        {replaced(kReport, "And 4 digital channels", ""), Format::Columns, false, true,
         "2007-03-15T14:03:27"},
        {replaced(kReport, "And 4 digital channelsThe last colum is the record counter 0-15", ""),
         Format::Columns, false, false, "2007-03-15T14:03:27"},
        {replaced(kReport, "Thu Mar 15 14:03:27 2007", "Mon Dec  7 09:05:00 2026"), Format::Columns,
         true, true, "2026-12-07T09:05:00"},
        {replaced(kReport, "Thu Mar 15 14:03:27 2007", "never (no run was started)"),
         Format::Columns, true, true, ""},
        {everyLineEnd(kReport, "\r\n"), Format::Columns, true, true, "2007-03-15T14:03:27"},
        {std::string(kReport) + "\n", Format::Columns, true, true, "2007-03-15T14:03:27"},
    };
    for (const auto& c : cases) {
        RunInfo info;
        std::string why;
        ASSERT_TRUE(parseReport(c.text, info, why)) << why << "\n" << c.text;
        EXPECT_EQ(info.settings.format, c.format);
        EXPECT_EQ(info.settings.digitalLines, c.digital);
        EXPECT_EQ(info.settings.recordCounter, c.counter);
        EXPECT_EQ(info.start, c.start);
    }
}

TEST(RunReport, RefusesAnotherTextWithTheLineNumber)
{
    const struct {
        std::string text;
        const char* why;
    } cases[] = {
        {"", "line 1: expected \"A genuine device"},
        {replaced(kReport, "Colums of int...", "Columns of int..."), "line 3: expected"},
        {replaced(kReport, "14:03:27 2007", "14:03 2007"), "line 5: expected a time"},
        {replaced(kReport, "Thu Mar", "Thu Foo"), "line 5: expected a time"},
        {replaced(kReport, "channels:  6", "channels:  9"),
         "line 8: expected a number from 0 to 8"},
        {replaced(kReport, "channels:  6", "channels:  0"), "line 8: no channels"},
        {replaced(kReport, "channels:  6", "channels: 6"),
         "line 8: expected \"Number of Analogical channels:  \" and a number"},
        {replaced(kReport, "And 4 digital", "And 3 digital"), "line 9: expected"},
        {replaced(kReport, "[us]:  2000", "[us]:  -2000"), "line 10: expected a number"},
        {replaced(kReport, "is:  960", "is:  99999999999"), "line 11: expected a number"},
        {replaced(kReport, "\nThe number of samples for every channel is:  960", ""),
         "line 11: the report ends early"},
        {std::string(kReport) + "\nmore", "line 12: text after the number of samples"},
    };
    for (const auto& c : cases) {
        RunInfo info;
        std::string why;
        EXPECT_FALSE(parseReport(c.text, info, why)) << c.text;
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
}

// ------------------------------------------------------ guessed from columns

TEST(GuessedColumns, TellChannelsDigitalLinesAndCounterFromTheFirstLines)
{
    const struct {
        std::string head;
        unsigned channels;
        bool digital, counter;
    } cases[] = {
        {"1,2,3\n4,5,6\n", 3, false, false},
        {"10,0,1,0,1,1\n20,1,1,0,1,2\n30,0,0,0,1,3\n40,0,1,1,1,4\n50,0,1,0,1,5\n", 1, true, true},
        // A loss among them, and the counter wrapping.
        {"100,200,14\n101,201,15\n102,202,0\n103,203,2\n104,204,3\n", 2, false, true},
        // More columns than channels and no counter: the digital lines.
        {"1,2,3,4,5,6,7,8,0,1,0,1\n1,2,3,4,5,6,7,8,1,1,0,1\n", 8, true, false},
        // Values that do not count: a channel.
        {"100,200,7\n101,201,3\n102,202,9\n103,203,1\n", 3, false, false},
        // The head may end inside a line.
        {"1,2\n3,4\n5,", 2, false, false},
    };
    for (const auto& c : cases) {
        RunInfo info;
        std::string why;
        ASSERT_TRUE(guessColumns(c.head, info, why)) << why << "\n" << c.head;
        EXPECT_EQ(info.source, Source::Guessed);
        EXPECT_EQ(info.settings.channels, c.channels) << c.head;
        EXPECT_EQ(info.settings.digitalLines, c.digital) << c.head;
        EXPECT_EQ(info.settings.recordCounter, c.counter) << c.head;
        EXPECT_EQ(info.settings.periodUs, 0u);
        EXPECT_EQ(info.notes.size(), 1u);
    }
    const struct {
        std::string head;
        const char* why;
    } bad[] = {
        {std::string("\x12\x34\x56\n", 4), "line 1: not integer columns"},
        {"1,2,3\n4,5\n", "line 2: 2 columns, line 1 has 3"},
        {"1,2,3,4,5,6,7,8,9,10\n", "line 1: 10 columns that are not"},
        {"1,2,3", "no whole line"},
    };
    for (const auto& c : bad) {
        RunInfo info;
        std::string why;
        EXPECT_FALSE(guessColumns(c.head, info, why));
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
}

// -------------------------------------------------- layout against the file

TEST(Layout, ARawReportsStatusByteComesFromTheSizeOrTheCommandLine)
{
    RunInfo report;
    std::string why;
    ASSERT_TRUE(
        parseReport(replaced(kReport, "Colums of int...", "Array of char..."), report, why));
    // 6 channels: records of 9 bytes, or 10 with the status byte; 960
    // records counted, the last of which may not have been written.
    const struct {
        uint64_t size;
        int option;
        bool ok, status;
    } cases[] = {
        {9600, -1, true, true},  {9590, -1, true, true},   {8640, -1, true, false},
        {8631, -1, true, false}, {9000, -1, false, false}, {0, -1, false, false},
        {9000, 1, true, true},   {9600, 0, true, false},
    };
    for (const auto& c : cases) {
        RunInfo info = report;
        const bool ok = resolveLayout(info, "", c.size, c.option, why);
        EXPECT_EQ(ok, c.ok) << c.size << " " << why;
        if (ok) {
            EXPECT_EQ(info.settings.statusByte, c.status) << c.size;
            EXPECT_TRUE(info.statusByteKnown);
        } else {
            EXPECT_NE(why.find("give --status-byte 0 or 1"), std::string::npos) << why;
        }
    }
}

// A columns file's first line against config.txt (which does not say
// whether there was a status byte: the line does) and against run.json
// (which does), with and without --status-byte.
TEST(Layout, AColumnsFilesFirstLineAgainstTheReportOrRunJson)
{
    RunInfo report, described;
    std::string why;
    ASSERT_TRUE(parseReport(kReport, report, why)) << why;
    ASSERT_TRUE(parseDescription(kRunJson, described, why)) << why;
    enum class Status { Unchecked, With, Without };
    const struct {
        const RunInfo& from;
        const char* line;
        int option;
        Status status;    // when the line is taken
        const char* why;  // when it is not
    } cases[] = {
        {report, "1,2,3,4,5,6,0,1,0,1,1\n", -1, Status::With, nullptr},
        {report, "1,2,3,4,5,6\r\n", -1, Status::Without, nullptr},
        {report, "1,2,3,4,5,6,7,8\n", -1, Status::Unchecked,
         "line 1: 8 columns, but config.txt says 6 channels with the digital lines and the counter "
         "(11 columns, or 6 without a status byte)"},
        {report, "1,2,3,4,5,6\n", 1, Status::Unchecked,
         "line 1: 6 columns, but config.txt says 6 channels with the digital lines and the counter "
         "(11 columns)"},
        {described, "1,2,3,4,5,6,0,1,0,1,1\n", -1, Status::With, nullptr},
        {described, "1,2,3,4,5,6\n", -1, Status::Unchecked,
         "line 1: 6 columns, but run.json says 6 channels with the digital lines and the counter "
         "(11 columns)"},
        {described, "1,2,3,4,5,6,0,1,0,1,1\n", 0, Status::Unchecked,
         "--status-byte 0 contradicts run.json (a status byte)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        RunInfo info = c.from;
        const bool ok = resolveLayout(info, c.line, 0, c.option, why);
        EXPECT_EQ(ok, c.why == nullptr) << why;
        if (c.why != nullptr) {
            EXPECT_EQ(why, c.why);
        } else if (ok && c.status != Status::Unchecked) {
            EXPECT_EQ(info.settings.statusByte, c.status == Status::With);
        }
    }
}

// What the run's files say, or the file at fault: run.json before
// config.txt, config.txt before a guess from the data.
TEST(LoadInfo, ReadsTheFirstOfTheRunsFilesAndNamesTheOneAtFault)
{
    Folder dir;
    const std::string data = dir.write("data.txt", "1,2,3,4,5,6\n");
    const std::string goodJson = dir.write("run.json", kRunJson);
    const std::string badJson = dir.write("bad.json", "[1]");
    const std::string goodReport = dir.write("config.txt", kReport);
    const std::string badReport =
        dir.write("bad.txt", replaced(kReport, "channels:  6", "channels:  0"));
    const std::string none = dir.file("none");
    const struct {
        RunFiles files;
        const char* head;
        std::string why;  // the start of the fault; empty when read
        Source source;
    } cases[] = {
        {{data, badReport, goodJson}, "", "", Source::Description},
        {{data, goodReport, ""}, "", "", Source::Report},
        {{data, "", ""}, "1,2,3\n", "", Source::Guessed},
        {{data, goodReport, none}, "", none + ": cannot be read", Source::Description},
        {{data, goodReport, badJson},
         "",
         badJson + ": byte 0: not a run description",
         Source::Description},
        {{data, none, ""}, "", none + ": cannot be read", Source::Report},
        {{data, badReport, ""}, "", badReport + ": line 8: no channels", Source::Report},
        {{data, "", ""}, "1,x\n", data + ": line 1: ", Source::Guessed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.report + " " + c.files.run + " " + c.head);
        RunInfo info;
        std::string why;
        const bool ok = loadInfo(c.files, c.head, info, why);
        EXPECT_EQ(ok, c.why.empty()) << why;
        if (ok) {
            EXPECT_EQ(info.source, c.source);
        } else {
            EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
        }
    }
}

// ------------------------------------------------------------ a run's files

TEST(RunFilesTest, FindsTheFilesOfARunFromItsFolderOrAnyOfItsFiles)
{
    Folder dir;
    for (const char* name : {"data.txt", "config.txt", "run.json", "data-20261207-180233.txt",
                             "config-20261207-180233.txt", "data-20261207-180233-2.txt",
                             "run-20261207-180233-2.json", "capture.bin", "config-x.txt"})
        dir.write(name, "1\n");
    const struct {
        std::string path;
        std::string data, report, run;
    } cases[] = {
        {dir.path(), "data.txt", "config.txt", "run.json"},
        {dir.file("data.txt"), "data.txt", "config.txt", "run.json"},
        {dir.file("run.json"), "data.txt", "config.txt", "run.json"},
        {dir.file("data-20261207-180233.txt"), "data-20261207-180233.txt",
         "config-20261207-180233.txt", ""},
        {dir.file("config-20261207-180233.txt"), "data-20261207-180233.txt",
         "config-20261207-180233.txt", ""},
        {dir.file("run-20261207-180233-2.json"), "data-20261207-180233-2.txt", "",
         "run-20261207-180233-2.json"},
        {dir.file("capture.bin"), "capture.bin", "", ""},
    };
    for (const auto& c : cases) {
        RunFiles f;
        std::string why;
        ASSERT_TRUE(findRun(c.path, f, why)) << c.path << ": " << why;
        auto name = [](const std::string& p) {
            return std::filesystem::path(p).filename().string();
        };
        EXPECT_EQ(name(f.data), c.data) << c.path;
        EXPECT_EQ(name(f.report), c.report) << c.path;
        EXPECT_EQ(name(f.run), c.run) << c.path;
    }
    RunFiles f;
    std::string why;
    EXPECT_FALSE(findRun(dir.file("config-x.txt"), f, why));
    EXPECT_EQ(why, "no data-x.txt beside it");
    EXPECT_FALSE(findRun(dir.file("nothing"), f, why));
    EXPECT_EQ(why, "no such file or folder");
    std::filesystem::remove(dir.file("data.txt"));
    EXPECT_FALSE(findRun(dir.path(), f, why));
    EXPECT_EQ(why,
              "no data.txt in this folder (runs kept here: data-20261207-180233-2.txt, "
              "data-20261207-180233.txt)");
}

}  // namespace
