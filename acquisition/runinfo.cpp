// run.json: the run described for the programs that read its data file
// afterwards. Written when the start byte has gone (the settings, the start,
// no end yet) and again when the run ends, however it ends (its end, the
// counts and the events of the run: each loss the record counter showed, each
// silence of the board). data.txt and config.txt stay as they are.
#include "acquisition.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "runtime.h"
#include "state.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "0"
#endif

namespace {

const char RUNFILE[] = "run.json";
const char PARTIAL[] = "run.json.new";
constexpr size_t MAXEVENTS = 10000;  // beyond these, events are only counted

using Clock = std::chrono::system_clock;

struct Event {
    bool silence;
    unsigned record;   // the records received before it (a loss: the record that showed it)
    unsigned missing;  // a loss: records missing
    Clock::time_point from, to;  // a silence: its start and end (end not yet: from == to)
};

// The sampling thread adds events, the main thread writes them out; the lock
// is taken a few times per event, never per record.
std::mutex eventsmutex;
std::vector<Event> events;
unsigned long long dropped;
bool silent;

Clock::time_point started, ended;
bool running;  // begun, and not yet described as ended
std::string endedby;
unsigned long long wholerecords;

// ISO 8601 local time with the zone's offset: 2026-12-07T18:02:33.125+01:00.
std::string isotime(Clock::time_point t)
{
    const time_t secs = Clock::to_time_t(t);
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    struct tm local = {};
#ifdef _WIN32
    localtime_s(&local, &secs);
    struct tm copy = local;
    const long long offset = (long long)_mkgmtime(&copy) - (long long)secs;
#else
    localtime_r(&secs, &local);
    struct tm copy = local;
    const long long offset = (long long)timegm(&copy) - (long long)secs;
#endif
    const long long off = offset < 0 ? -offset : offset;
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03lld%c%02lld:%02lld",
             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
             local.tm_sec, ms < 0 ? ms + 1000 : ms, offset < 0 ? '-' : '+', off / 3600,
             off / 60 % 60);
    return text;
}

std::string jsonstring(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += (char)ch;
        } else if (ch < 0x20 || ch == 0x7f) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", ch);
            out += esc;
        } else {
            out += (char)ch;
        }
    }
    return out + "\"";
}

const char* boolean(unsigned v) { return v != 0 ? "true" : "false"; }

// The whole description, as it stands now.
std::string describe(void)
{
    char device[256] = "";
    GetComDeviceName((int)com, device, sizeof device);
    std::string j = "{\n";
    j += "  \"format\": \"tarvo-run 1\",\n";
    j += "  \"program\": \"tarvo " TARVO_VERSION "\",\n";
    j += "  \"data_file\": \"data.txt\",\n";
    j += "  \"report_file\": \"config.txt\",\n";
    char settings[512];
    snprintf(settings, sizeof settings,
             "  \"settings\": {\"channels\": %u, \"status_byte\": %s, \"digital_lines\": %s, "
             "\"record_counter\": %s, \"file_format\": \"%s\", \"period_us\": %u, "
             "\"baud_rate\": %u, \"port\": %u, \"device\": ",
             num_ch, boolean(di), boolean(di != 0 && digf != 0), boolean(di != 0 && rec_c != 0),
             wfile != 0 ? "columns" : "raw", SampPer, baudr, com);
    j += settings;
    j += jsonstring(device) + ", \"record_bytes\": " + std::to_string(RecLen) + "},\n";
    j += "  \"start\": " + jsonstring(isotime(started)) + ",\n";
    j += "  \"end\": " + (running ? std::string("null") : jsonstring(isotime(ended))) + ",\n";
    j += "  \"ended_by\": " + (running ? std::string("null") : jsonstring(endedby)) + ",\n";
    j += "  \"records\": " + std::to_string(running ? tot_data.load() : wholerecords) + ",\n";
    j += "  \"lost\": " + std::to_string(lost_data.load()) + ",\n";
    j += "  \"events\": [";
    std::lock_guard<std::mutex> lock(eventsmutex);
    for (size_t i = 0; i < events.size(); i++) {
        const Event& e = events[i];
        j += i == 0 ? "\n    " : ",\n    ";
        if (e.silence)
            j += "{\"type\": \"silence\", \"record\": " + std::to_string(e.record) +
                 ", \"start\": " + jsonstring(isotime(e.from)) + ", \"end\": " +
                 (e.to == e.from ? std::string("null") : jsonstring(isotime(e.to))) + "}";
        else
            j += "{\"type\": \"loss\", \"record\": " + std::to_string(e.record) +
                 ", \"missing\": " + std::to_string(e.missing) + "}";
    }
    j += events.empty() ? "],\n" : "\n  ],\n";
    j += "  \"events_dropped\": " + std::to_string(dropped) + "\n}\n";
    return j;
}

// Beside, then renamed into place: a reader never sees half a description.
void writeout(void)
{
    const std::string text = describe();
    FILE* f = fopen(PARTIAL, "wb");
    if (f == NULL) {
        fprintf(stderr, "tarvo: %s: cannot be written\n", RUNFILE);
        return;
    }
    const bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
    if (fclose(f) != 0 || !written) {
        remove(PARTIAL);
        fprintf(stderr, "tarvo: %s: the disk took no more\n", RUNFILE);
        return;
    }
    std::error_code ec;
    std::filesystem::rename(PARTIAL, RUNFILE, ec);
    if (ec) {
        remove(PARTIAL);
        fprintf(stderr, "tarvo: %s: %s\n", RUNFILE, ec.message().c_str());
    }
}

// Whole records in data.txt: raw records by size, columns by line ends.
unsigned long long datarecords(void)
{
    struct stat st;
    if (stat("data.txt", &st) != 0 || (st.st_mode & S_IFMT) != S_IFREG)
        return wholerecords;  // a FIFO or a device: what the loop wrote is all there is to count
    FILE* f = fopen("data.txt", "rb");
    if (f == NULL)
        return 0;
    unsigned long long n = 0, bytes = 0;
    char buf[1 << 16];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) {
        bytes += got;
        if (wfile != 0)
            for (size_t i = 0; i < got; i++)
                n += buf[i] == '\n';
    }
    fclose(f);
    return wfile != 0 ? n : (RecLen != 0 ? bytes / RecLen : 0);
}

void addevent(const Event& e)
{
    std::lock_guard<std::mutex> lock(eventsmutex);
    if (events.size() < MAXEVENTS)
        events.push_back(e);
    else
        dropped++;
}

}  // namespace

void runinfobegin(void)
{
    {
        std::lock_guard<std::mutex> lock(eventsmutex);
        events.clear();
        dropped = 0;
        silent = false;
    }
    started = ended = Clock::now();
    running = true;
    endedby.clear();
    wholerecords = 0;
    writeout();
}

void runinfoloss(unsigned record, unsigned missing) { addevent({false, record, missing, {}, {}}); }

void runinfosilence(int begins, unsigned record, double since)
{
    const Clock::time_point now = Clock::now();
    if (begins) {
        if (silent)
            return;
        silent = true;
        const auto from =
            now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(since));
        addevent({true, record, 0, from, from});
        return;
    }
    if (!silent)
        return;
    silent = false;
    std::lock_guard<std::mutex> lock(eventsmutex);
    for (size_t i = events.size(); i-- > 0;)
        if (events[i].silence) {
            events[i].to = now;
            break;
        }
}

void runinfoended(const char* failure, unsigned long long records)
{
    ended = Clock::now();
    endedby = failure != NULL ? failure : "";
    wholerecords = records;
    {
        std::lock_guard<std::mutex> lock(eventsmutex);
        silent = false;  // a silence still open stays open: its end is unknown
    }
}

void runinfoend(const char* command)
{
    if (!running)
        return;
    if (endedby.empty())
        endedby = command;
    // After a failed write the file was cut back to its last whole record:
    // count what it holds.
    if (endedby == "write failed")
        wholerecords = datarecords();
    running = false;
    writeout();
}
