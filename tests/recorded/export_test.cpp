// tarvo-export as a user runs it, on runs whose files the test writes: the
// CSV and its time axis, a part of a run, a raw capture turned into columns,
// and every kind of bad input refused with where it is.
#include <gtest/gtest.h>

#include "proc.h"
#include "temp_dir.h"

namespace {

ProcResult exportRun(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {binpath("tarvo-export")};
    argv.insert(argv.end(), args.begin(), args.end());
    return Proc(argv).wait(60);
}

std::string runJson(const std::string& settings,
                    const std::string& end = "\"2026-12-07T18:12:33.480+01:00\"",
                    const std::string& events = "")
{
    return "{\"format\": \"tarvo-run 1\", \"program\": \"tarvo 0.1.0\", \"data_file\": \"data.txt\",\n"
           " \"report_file\": \"config.txt\",\n \"settings\": {" +
           settings +
           "},\n"
           " \"start\": \"2026-12-07T18:02:33.125+01:00\", \"end\": " +
           end +
           ",\n"
           " \"ended_by\": " +
           (end == "null" ? "null" : "\"stop\"") +
           ", \"records\": 4, \"lost\": 1,\n"
           " \"events\": [" +
           events + "], \"events_dropped\": 0}\n";
}

const char kTwoChannelsCounter[] =
    "\"channels\": 2, \"status_byte\": true, \"digital_lines\": false, \"record_counter\": true, "
    "\"file_format\": \"columns\", \"period_us\": 2000";

// The recorder's report of a run.
std::string report(const char* format, unsigned channels, bool digital, bool counter,
                   unsigned period, unsigned records)
{
    return std::string("A genuine device had sampled data in file DATA.TXT as:\n\n") + format +
           "\n\nThe start flag date/time was sent at:Mon Dec  7 18:02:33 2026\n\n"
           "With the configuration parameters:\nNumber of Analogical channels:  " +
           std::to_string(channels) + "\n" + (digital ? "And 4 digital channels" : "") +
           (counter ? "The last colum is the record counter 0-15" : "") +
           "\nwith a sample period of [us]:  " + std::to_string(period) +
           "\nThe number of samples for every channel is:  " + std::to_string(records);
}

std::string bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int x : b)
        s += char(x);
    return s;
}

// Two records of 3 channels with the status byte (counters 1 and 3: one lost).
const std::string kRaw =
    bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xA1, 0x00, 0xF0, 0xFF, 0x80, 0x10, 0x53});

TEST(Export, TimeSkipsWhereTheCounterShowsLostRecords)
{
    Folder dir;
    dir.write("data.txt", "10,20,1\n11,21,2\n12,22,4\n13,23,5\n");
    dir.write("run.json", runJson(kTwoChannelsCounter));
    ProcResult r = exportRun({dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "time_s,ch1,ch2,counter\n0,10,20,1\n0.002,11,21,2\n0.006,12,22,4\n0.008,13,23,5\n");
    EXPECT_EQ(r.err, "");
}

TEST(Export, WithoutACounterRunJsonsLossesSkipTheTime)
{
    Folder dir;
    dir.write("data.txt", "10,20\n11,21\n12,22\n13,23\n");
    dir.write(
        "run.json",
        runJson(
            "\"channels\": 2, \"status_byte\": true, \"digital_lines\": false, "
            "\"record_counter\": false, \"file_format\": \"columns\", \"period_us\": 2000",
            "\"2026-12-07T18:12:33.480+01:00\"",
            "{\"type\": \"loss\", \"record\": 3, \"missing\": 1}, "
            "{\"type\": \"silence\", \"record\": 4, \"start\": \"2026-12-07T18:02:34\", \"end\": null}"));
    ProcResult r = exportRun({dir.file("data.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "time_s,ch1,ch2\n0,10,20\n0.002,11,21\n0.006,12,22\n0.008,13,23\n");
}

TEST(Export, FromAndToSelectByTime)
{
    Folder dir;
    dir.write("data.txt", "10,20,1\n11,21,2\n12,22,4\n13,23,5\n");
    dir.write("run.json", runJson(kTwoChannelsCounter));
    const struct {
        std::vector<std::string> args;
        std::string rows;
    } cases[] = {
        {{"--from", "0.004", "--to", "0.008"}, "0.006,12,22,4\n0.008,13,23,5\n"},
        {{"--from", "0.0021"}, "0.006,12,22,4\n0.008,13,23,5\n"},
        {{"--to", "0"}, "0,10,20,1\n"},
        {{"--from", "0.003", "--to", "0.005"}, ""},
        {{"--from", "60"}, ""},
        {{"--from", "0.002", "--to", "0.002", "--columns"}, "11,21,2\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {dir.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcResult r = exportRun(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string header = c.args.back() == "--columns" ? "" : "time_s,ch1,ch2,counter\n";
        EXPECT_EQ(r.out, header + c.rows) << c.args[0] << " " << c.args[1];
    }
}

TEST(Export, ARawCaptureBecomesCsvAndTheColumnsTarvoWrites)
{
    Folder dir;
    dir.write("data.txt", kRaw);
    // The report does not tell whether a status byte followed each record:
    // 12 bytes for 2 records say it did.
    dir.write("config.txt", report("Array of char...", 3, true, true, 1000, 2));
    ProcResult r = exportRun({dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "time_s,ch1,ch2,ch3,d1,d2,d3,d4,counter\n"
              "0,292,1379,1930,1,0,1,0,1\n"
              "0.002,0,4095,2048,0,1,0,1,3\n");
    EXPECT_NE(r.err.find("the size of the data file says it did"), std::string::npos) << r.err;

    r = exportRun({dir.path(), "--columns"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "292,1379,1930,1,0,1,0,1\n0,4095,2048,0,1,0,1,3\n");

    // Only the counter chosen: the columns are the recorder's for that
    // choice; the CSV still has all the status byte holds.
    dir.write("config.txt", report("Array of char...", 3, false, true, 1000, 2));
    r = exportRun({dir.path(), "--columns"});
    EXPECT_EQ(r.out, "292,1379,1930,1\n0,4095,2048,3\n");
    r = exportRun({dir.path(), "--to", "0"});
    EXPECT_EQ(r.out, "time_s,ch1,ch2,ch3,d1,d2,d3,d4,counter\n0,292,1379,1930,1,0,1,0,1\n");

    // A count that fits neither length: the command line must tell.
    dir.write("config.txt", report("Array of char...", 3, true, true, 1000, 7));
    r = exportRun({dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("give --status-byte 0 or 1"), std::string::npos) << r.err;
    r = exportRun({dir.path(), "--status-byte", "1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1),
              "0,292,1379,1930,1,0,1,0,1\n0.002,0,4095,2048,0,1,0,1,3\n");
}

TEST(Export, WithNothingBesideTheFileTheColumnsAreGuessedAndTimeCountsRecords)
{
    Folder dir;
    dir.write("data.txt", "5,1\n6,2\n7,3\n8,4\n9,6\n");
    ProcResult r = exportRun({dir.file("data.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "time_s,ch1,counter\n0,5,1\n1,6,2\n2,7,3\n3,8,4\n5,9,6\n");
    EXPECT_NE(r.err.find("the columns read as 1 channel with the counter; the period is not known"),
              std::string::npos)
        << r.err;
}

TEST(Export, BadInputIsRefusedWithWhereItIs)
{
    Folder dir;
    const std::string data = dir.file("data.txt");
    const std::string endless = runJson(kTwoChannelsCounter, "null");
    const struct {
        const char* what;
        std::string data, report, json;
        std::vector<std::string> args;
        int status;
        std::string err;  // a part of stderr
        std::string out;
    } cases[] = {
        {"a malformed line",
         "10,20,1\n11,21,2\n12,x,4\n",
         "",
         runJson(kTwoChannelsCounter),
         {},
         1,
         data + ": line 3 (byte 19): unexpected 'x' in column 2",
         ""},
        {"a truncated raw record",
         kRaw + "\x01",
         report("Array of char...", 3, true, true, 1000, 2),
         "",
         {"--status-byte", "1"},
         1,
         data + ": byte 12: the last record is cut short (1 of 6 bytes)",
         ""},
        {"a last line without its end",
         "10,20,1\n11,21,2\n12,22",
         report("Colums of int...", 2, false, true, 2000, 3),
         "",
         {},
         1,
         data + ": line 3 (byte 16): the last line has no line end",
         ""},
        {"a run still writing its last line",
         "10,20,1\n11,21,2\n12,22",
         "",
         endless,
         {},
         0,
         "the run has not ended: left out",
         "time_s,ch1,ch2,counter\n0,10,20,1\n0.002,11,21,2\n"},
        {"a report of another run",
         "10,20,1\n11,21,2\n12,22,3\n",
         report("Colums of int...", 2, false, true, 2000, 1),
         "",
         {},
         1,
         "3 records, but " + dir.file("config.txt") + " counts 1: the report is not this file's",
         ""},
        {"a report of other settings",
         "10,20,1\n",
         report("Colums of int...", 4, true, true, 2000, 1),
         "",
         {},
         1,
         data + ": line 1: 3 columns, but config.txt says 4 channels",
         ""},
        {"a malformed run.json",
         "10,20,1\n",
         "",
         "{\"format\": \"tarvo-run 1\",}",
         {},
         1,
         dir.file("run.json") + ": byte 25: expected a key in double quotes",
         ""},
        {"a raw file with nothing beside it",
         kRaw,
         "",
         "",
         {},
         1,
         data + ": line 1: not integer columns",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir.file("config.txt"));
        std::filesystem::remove(dir.file("run.json"));
        dir.write("data.txt", c.data);
        if (!c.report.empty())
            dir.write("config.txt", c.report);
        if (!c.json.empty())
            dir.write("run.json", c.json);
        std::vector<std::string> args = {dir.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcResult r = exportRun(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Export, ABadCommandLineIsRefusedWithStatus2)
{
    Folder dir;
    dir.write("data.txt", "1\n");
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{}, "no PATH"},
        {{dir.path(), "--from", "x"}, "--from needs seconds (like 12 or 0.5), not 'x'"},
        {{dir.path(), "--to", "-1"}, "--to needs seconds"},
        {{dir.path(), "--from", "5", "--to", "1"}, "--from is after --to"},
        {{dir.path(), "--status-byte", "2"}, "--status-byte needs 0 or 1, not '2'"},
        {{dir.path(), "--bogus"}, "unknown option '--bogus'"},
        {{dir.path(), "-o"}, "-o needs a value"},
        {{dir.path(), dir.path()}, "one PATH only"},
    };
    for (const auto& c : cases) {
        ProcResult r = exportRun(c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(see --help)"), std::string::npos) << r.err;
    }
    ProcResult r = exportRun({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("usage: tarvo-export PATH [-o FILE] [--from S] [--to S] [--columns] "
                          "[--status-byte 0|1]\n",
                          0),
              0u);
}

TEST(Export, ToAFileWhole)
{
    Folder dir;
    dir.write("data.txt", "10,20,1\n11,21,2\n");
    dir.write("run.json", runJson(kTwoChannelsCounter));
    ProcResult r = exportRun({dir.path(), "-o", dir.file("out.csv")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(contents(dir.file("out.csv")), "time_s,ch1,ch2,counter\n0,10,20,1\n0.002,11,21,2\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.csv.part")));

    // Never over the run's own files; nowhere that cannot be written.
    for (const char* own : {"data.txt", "run.json"}) {
        r = exportRun({dir.path(), "-o", dir.file(own)});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("would overwrite the run's own"), std::string::npos) << r.err;
    }
    EXPECT_EQ(contents(dir.file("data.txt")), "10,20,1\n11,21,2\n");
    r = exportRun({dir.path(), "-o", dir.file("no/such/folder.csv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.file("no/such/folder.csv") + ": "), std::string::npos) << r.err;
}

TEST(Export, ALargeFileIndexedInParallelExportsEveryRecordInOrder)
{
    // 20 MB: the index is built by two threads.
    Folder dir;
    std::string data, want = "time_s,ch1,ch2,ch3,ch4,ch5,ch6,ch7,ch8,d1,d2,d3,d4,counter\n";
    uint64_t t = 0;
    unsigned counter = 1;
    for (unsigned i = 0; i < 500000; i++) {
        if (i % 99991 == 99990) {  // a record lost now and then
            counter++;
            t += 500;
        }
        std::string line;
        for (unsigned ch = 0; ch < 8; ch++)
            line += std::to_string((i * (ch + 3) + ch * 1000) % 4096) + ",";
        line += std::to_string(i >> 3 & 1) + ",0,1," + std::to_string(i >> 5 & 1) + "," +
                std::to_string(counter & 15);
        data += line + "\n";
        char time[32];
        std::snprintf(time, sizeof time, "%llu.%06llu", (unsigned long long)(t / 1000000),
                      (unsigned long long)(t % 1000000));
        std::string ts = time;
        while (ts.back() == '0')
            ts.pop_back();
        if (ts.back() == '.')
            ts.pop_back();
        want += ts + "," + line + "\n";
        counter++;
        t += 500;
    }
    dir.write("data.txt", data);
    dir.write(
        "run.json",
        runJson("\"channels\": 8, \"status_byte\": true, \"digital_lines\": true, "
                "\"record_counter\": true, \"file_format\": \"columns\", \"period_us\": 500"));
    ProcResult r = exportRun({dir.path(), "-o", dir.file("out.csv")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contents(dir.file("out.csv")) == want);
}

}  // namespace
