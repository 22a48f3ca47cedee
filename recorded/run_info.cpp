#include "run_info.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "json.h"
#include "reccost.h"

namespace tarvo::recorded {

unsigned Settings::recordBytes() const { return reclen(channels, statusByte ? 1 : 0); }

unsigned Settings::columns() const
{
    return channels + (statusByte && digitalLines ? 4 : 0) + (statusByte && recordCounter ? 1 : 0);
}

namespace {

// Text of a file in a message: control bytes shown as '?'.
std::string shown(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

std::string describe(const Settings& s)
{
    std::string d = std::to_string(s.channels) + (s.channels == 1 ? " channel" : " channels");
    if (s.digitalLines && s.recordCounter)
        d += " with the digital lines and the counter";
    else if (s.digitalLines)
        d += " with the digital lines";
    else if (s.recordCounter)
        d += " with the counter";
    return d;
}

// ---------------------------------------------------------------- run.json

using json::Value;

// A fault of run.json at byte `offset`: `why` says so, and false.
bool atByte(size_t offset, const std::string& what, std::string& why)
{
    why = "byte " + std::to_string(offset) + ": " + what;
    return false;
}

struct Fields {
    const Value& object;
    std::string& why;

    bool bad(const Value& v, const std::string& what) { return atByte(v.offset, what, why); }
    const Value* get(const char* key, bool required)
    {
        const Value* v = object.find(key);
        if (v == nullptr && required)
            bad(object, std::string("\"") + key + "\" is missing");
        return v;
    }
    bool whole(const char* key, uint64_t lo, uint64_t hi, uint64_t& out, bool required = true)
    {
        const Value* v = get(key, required);
        if (v == nullptr)
            return !required;
        if (v->type != Value::Type::Number || !v->integral || v->integer < 0 ||
            uint64_t(v->integer) < lo || uint64_t(v->integer) > hi)
            return bad(*v, std::string("\"") + key + "\" must be a whole number from " +
                               std::to_string(lo) + " to " + std::to_string(hi));
        out = uint64_t(v->integer);
        return true;
    }
    bool flag(const char* key, bool& out)
    {
        const Value* v = get(key, true);
        if (v == nullptr)
            return false;
        if (v->type != Value::Type::Bool)
            return bad(*v, std::string("\"") + key + "\" must be true or false");
        out = v->boolean;
        return true;
    }
    // A string, or null (then `out` stays empty) when `nullable`.
    bool text(const char* key, std::string& out, bool required, bool nullable)
    {
        const Value* v = get(key, required);
        if (v == nullptr)
            return !required;
        if (v->type == Value::Type::String) {
            out = v->text;
            return true;
        }
        if (nullable && v->isNull())
            return true;
        return bad(*v,
                   std::string("\"") + key + "\" must be a string" + (nullable ? " or null" : ""));
    }
};

constexpr uint64_t kMaxCount = uint64_t(1) << 53;

// An object that says what it is in its string member `key` (run.json's
// "format", an event's "type"): that string into `kind`; false, with
// `notObject` at its byte, when `v` is no object.
bool kindOf(const Value& v, const char* notObject, const char* key, std::string& kind,
            std::string& why)
{
    if (v.type != Value::Type::Object)
        return atByte(v.offset, notObject, why);
    return Fields{v, why}.text(key, kind, true, false);
}

bool describeSettings(const Value& v, Settings& s, std::string& why)
{
    Fields f{v, why};
    uint64_t channels = 0, period = 0, baud = 0, port = 0, bytes = 0;
    std::string format;
    if (!f.whole("channels", 1, 8, channels) || !f.flag("status_byte", s.statusByte) ||
        !f.flag("digital_lines", s.digitalLines) || !f.flag("record_counter", s.recordCounter) ||
        !f.text("file_format", format, true, false) ||
        !f.whole("period_us", 0, UINT32_MAX, period) ||
        !f.whole("baud_rate", 0, UINT32_MAX, baud, false) ||
        !f.whole("port", 0, 1000000, port, false) || !f.text("device", s.device, false, true) ||
        !f.whole("record_bytes", 1, 256, bytes, false))
        return false;
    s.channels = unsigned(channels);
    s.periodUs = uint32_t(period);
    s.baudRate = uint32_t(baud);
    s.port = int(port);
    if (format == "columns")
        s.format = Format::Columns;
    else if (format == "raw")
        s.format = Format::Raw;
    else
        return f.bad(*v.find("file_format"), "\"file_format\" must be \"columns\" or \"raw\"");
    if (bytes != 0 && bytes != s.recordBytes())
        return f.bad(*v.find("record_bytes"),
                     "\"record_bytes\" is " + std::to_string(bytes) + ", but a record of " +
                         std::to_string(s.channels) + " channels" +
                         (s.statusByte ? " and a status byte" : "") + " is " +
                         std::to_string(s.recordBytes()) + " bytes");
    return true;
}

bool describeEvent(const Value& v, RunInfo& out, std::string& why)
{
    std::string type;
    if (!kindOf(v, "an event must be an object", "type", type, why))
        return false;
    Fields f{v, why};
    Event e;
    if (type == "loss") {
        e.type = Event::Type::Loss;
        if (!f.whole("record", 1, kMaxCount, e.record) ||
            !f.whole("missing", 1, kMaxCount, e.missing))
            return false;
    } else if (type == "silence") {
        e.type = Event::Type::Silence;
        if (!f.whole("record", 0, kMaxCount, e.record) || !f.text("start", e.start, true, false) ||
            !f.text("end", e.end, true, true))
            return false;
    } else {
        return true;  // a kind of event of a newer recorder: not this reader's
    }
    out.events.push_back(std::move(e));
    return true;
}

// ---------------------------------------------------------------- config.txt

std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) {
            out.push_back(text.substr(start));
            break;
        }
        std::string_view line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out.push_back(line);
        start = nl + 1;
    }
    return out;
}

bool unsignedNumber(std::string_view s, uint64_t max, uint64_t& out)
{
    if (s.empty() || s.size() > 20)
        return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        out = out * 10 + uint64_t(c - '0');
        if (out > max)
            return false;
    }
    return true;
}

// "Thu Mar 15 14:03:27 2007" (the C library's asctime layout, the day
// padded with a blank: 24 characters) as "2007-03-15T14:03:27".
bool asctimeToIso(std::string_view t, std::string& iso)
{
    static const std::string_view months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const std::string_view days = "SunMonTueWedThuFriSat";
    if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[13] != ':' ||
        t[16] != ':' || t[19] != ' ')
        return false;
    const size_t d = days.find(t.substr(0, 3));
    const size_t m = months.find(t.substr(4, 3));
    if (d == std::string_view::npos || d % 3 != 0 || m == std::string_view::npos || m % 3 != 0)
        return false;
    // A number of `n` digits at `at` (a day may start with a blank).
    auto number = [&](size_t at, size_t n, unsigned& v) {
        v = 0;
        for (size_t i = at; i < at + n; i++) {
            if (t[i] == ' ' && i == at && n == 2)
                continue;
            if (t[i] < '0' || t[i] > '9')
                return false;
            v = v * 10 + unsigned(t[i] - '0');
        }
        return true;
    };
    unsigned mday, hour, min, sec, year;
    if (!number(8, 2, mday) || !number(11, 2, hour) || !number(14, 2, min) || !number(17, 2, sec) ||
        !number(20, 4, year) || mday < 1 || mday > 31 || hour > 23 || min > 59 || sec > 60)
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", year, unsigned(m / 3 + 1),
                  mday, hour, min, sec);
    iso = text;
    return true;
}

// ------------------------------------------------------- guessed from columns

// The values of a line of integer columns, or false when it is none.
bool values(std::string_view line, std::vector<uint64_t>& out)
{
    out.clear();
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        const std::string_view field =
            line.substr(start, comma == std::string_view::npos ? line.npos : comma - start);
        uint64_t v;
        if (!unsignedNumber(field, 4095, v))
            return false;
        out.push_back(v);
        if (comma == std::string_view::npos)
            return true;
        start = comma + 1;
    }
}

}  // namespace

bool parseDescription(std::string_view text, RunInfo& out, std::string& why)
{
    out = RunInfo{};
    Value doc;
    json::Error error;
    if (!json::parse(text, doc, error))
        return atByte(error.offset, error.what, why);
    std::string format;
    if (!kindOf(doc, "not a run description (an object)", "format", format, why))
        return false;
    Fields f{doc, why};
    if (format != "tarvo-run 1")
        return f.bad(*doc.find("format"),
                     "format \"" + shown(format) + "\" is not \"tarvo-run 1\"");
    out.source = Source::Description;
    const Value* settings = f.get("settings", true);
    if (settings == nullptr)
        return false;
    if (settings->type != Value::Type::Object)
        return f.bad(*settings, "\"settings\" must be an object");
    uint64_t records = 0;
    if (!describeSettings(*settings, out.settings, why) ||
        !f.text("program", out.program, false, true) || !f.text("start", out.start, true, false) ||
        !f.text("end", out.end, true, true) || !f.text("ended_by", out.endedBy, false, true) ||
        !f.whole("records", 0, kMaxCount, records) ||
        !f.whole("lost", 0, kMaxCount, out.lost, false) ||
        !f.whole("events_dropped", 0, kMaxCount, out.eventsDropped, false))
        return false;
    out.records = records;
    out.ended = !out.end.empty();
    if (const Value* events = f.get("events", false)) {
        if (events->type != Value::Type::Array)
            return f.bad(*events, "\"events\" must be an array");
        for (const Value& e : events->items)
            if (!describeEvent(e, out, why))
                return false;
    }
    return true;
}

bool parseReport(std::string_view text, RunInfo& out, std::string& why)
{
    out = RunInfo{};
    const std::vector<std::string_view> l = lines(text);
    auto bad = [&](size_t n, const std::string& what) {
        why = "line " + std::to_string(n) + ": " + what;
        return false;
    };
    auto fixed = [&](size_t n, std::string_view want) {
        if (l.size() < n)
            return bad(n, "the report ends early (expected \"" + std::string(want) + "\")");
        if (l[n - 1] != want)
            return bad(n, "expected \"" + std::string(want) + "\"");
        return true;
    };
    // A line of a fixed text and a number after it.
    auto numbered = [&](size_t n, std::string_view label, uint64_t max, uint64_t& v) {
        if (l.size() < n)
            return bad(n, "the report ends early (expected \"" + std::string(label) + "\")");
        if (l[n - 1].substr(0, label.size()) != label)
            return bad(n, "expected \"" + std::string(label) + "\" and a number");
        if (!unsignedNumber(l[n - 1].substr(label.size()), max, v))
            return bad(n, "expected a number from 0 to " + std::to_string(max) + " after \"" +
                              std::string(label) + "\"");
        return true;
    };
    if (!fixed(1, "A genuine device had sampled data in file DATA.TXT as:") || !fixed(2, ""))
        return false;
    Settings& s = out.settings;
    if (l.size() >= 3 && l[2] == "Colums of int...")
        s.format = Format::Columns;
    else if (l.size() >= 3 && l[2] == "Array of char...")
        s.format = Format::Raw;
    else
        return bad(3, "expected \"Colums of int...\" or \"Array of char...\"");
    static const std::string_view started = "The start flag date/time was sent at:";
    if (!fixed(4, ""))
        return false;
    if (l.size() < 5 || l[4].substr(0, started.size()) != started)
        return bad(5, "expected \"" + std::string(started) + "\" and a time");
    const std::string_view when = l[4].substr(started.size());
    if (when != "never (no run was started)" && !asctimeToIso(when, out.start))
        return bad(5, "expected a time like \"Thu Mar 15 14:03:27 2007\" after \"" +
                          std::string(started) + "\"");
    uint64_t channels = 0, period = 0, records = 0;
    if (!fixed(6, "") || !fixed(7, "With the configuration parameters:") ||
        !numbered(8, "Number of Analogical channels:  ", 8, channels))
        return false;
    if (channels == 0)
        return bad(8, "no channels");
    s.channels = unsigned(channels);
    static const std::string_view digital = "And 4 digital channels";
    static const std::string_view counter = "The last colum is the record counter 0-15";
    std::string_view nine = l.size() >= 9 ? l[8] : std::string_view();
    if (l.size() < 9)
        return bad(9, "the report ends early");
    if (nine.substr(0, digital.size()) == digital) {
        s.digitalLines = true;
        nine.remove_prefix(digital.size());
    }
    if (nine == counter) {
        s.recordCounter = true;
        nine = {};
    }
    if (!nine.empty())
        return bad(9, "expected \"" + std::string(digital) + "\", \"" + std::string(counter) +
                          "\", both or nothing");
    if (!numbered(10, "with a sample period of [us]:  ", UINT32_MAX, period) ||
        !numbered(11, "The number of samples for every channel is:  ", UINT32_MAX, records))
        return false;
    for (size_t n = 12; n <= l.size(); n++)
        if (!l[n - 1].empty())
            return bad(n, "text after the number of samples");
    s.periodUs = uint32_t(period);
    out.source = Source::Report;
    out.statusByteKnown = false;
    out.records = records;
    out.ended = true;  // Stop writes the report
    out.endedBy = "stop";
    return true;
}

bool guessColumns(std::string_view head, RunInfo& out, std::string& why)
{
    out = RunInfo{};
    out.source = Source::Guessed;
    // Only digits, commas and line ends: anything else is no columns file.
    const size_t odd = head.find_first_not_of("0123456789,\r\n");
    if (odd != std::string_view::npos) {
        why = "line " +
              std::to_string(std::count(head.begin(), head.begin() + long(odd), '\n') + 1) +
              ": not integer columns (a raw file needs its run.json or config.txt beside it)";
        return false;
    }
    const std::vector<std::string_view> l = lines(head);
    std::vector<std::vector<uint64_t>> rows;
    std::vector<uint64_t> v;
    // Only whole lines: the head may end inside one.
    for (size_t n = 0; n + 1 < l.size() && rows.size() < 64; n++) {
        if (!values(l[n], v)) {
            why = "line " + std::to_string(n + 1) +
                  ": not integer columns (a raw file needs its run.json or config.txt beside it)";
            return false;
        }
        if (!rows.empty() && v.size() != rows[0].size()) {
            why = "line " + std::to_string(n + 1) + ": " + std::to_string(v.size()) +
                  " columns, line 1 has " + std::to_string(rows[0].size());
            return false;
        }
        rows.push_back(v);
    }
    if (rows.empty()) {
        why = "no whole line to tell the columns from";
        return false;
    }
    const size_t cols = rows[0].size();
    // The last column is the record counter when it counts 0..15 upwards
    // from line to line (a lost record now and then allowed).
    bool counter = rows.size() >= 4;
    size_t steps = 0;
    for (size_t r = 0; r < rows.size() && counter; r++) {
        counter = rows[r][cols - 1] <= 15;
        if (r > 0 && (rows[r - 1][cols - 1] + 1) % 16 == rows[r][cols - 1])
            steps++;
    }
    counter = counter && cols >= 2 && steps * 4 >= (rows.size() - 1) * 3;
    // The four columns before it are the digital lines when they hold only
    // 0 and 1, and the status byte is there (the counter is), or there are
    // more columns than channels.
    const size_t before = cols - (counter ? 1 : 0);
    bool digital = before >= 5 && (counter || before > 8);
    for (const auto& row : rows)
        for (size_t c = before - 4; digital && c < before; c++)
            digital = row[c] <= 1;
    const size_t channels = before - (digital ? 4 : 0);
    if (channels < 1 || channels > 8) {
        why = "line 1: " + std::to_string(cols) +
              " columns that are not channels, digital lines "
              "and a counter (without run.json or config.txt only they can be told)";
        return false;
    }
    Settings& s = out.settings;
    s.format = Format::Columns;
    s.channels = unsigned(channels);
    s.statusByte = counter || digital;
    s.digitalLines = digital;
    s.recordCounter = counter;
    out.notes.push_back("no run.json or config.txt: the columns read as " + describe(s) +
                        "; the period is not known, so time_s counts records");
    return true;
}

namespace {

bool readSmall(const std::string& path, std::string& text, std::string& why)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = path + ": cannot be read";
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    if (in.bad()) {
        why = path + ": cannot be read";
        return false;
    }
    return true;
}

// Reads the file at `path` with `parse`; its faults are told with its path.
bool readWith(bool (*parse)(std::string_view, RunInfo&, std::string&), const std::string& path,
              RunInfo& out, std::string& why)
{
    std::string text, what;
    if (!readSmall(path, text, why))
        return false;
    if (!parse(text, out, what)) {
        why = path + ": " + what;
        return false;
    }
    return true;
}

}  // namespace

bool loadInfo(const RunFiles& files, std::string_view dataHead, RunInfo& out, std::string& why)
{
    if (!files.run.empty())
        return readWith(parseDescription, files.run, out, why);
    if (!files.report.empty())
        return readWith(parseReport, files.report, out, why);
    std::string what;
    if (!guessColumns(dataHead, out, what)) {
        why = files.data + ": " + what;
        return false;
    }
    return true;
}

bool resolveLayout(RunInfo& info, std::string_view dataHead, uint64_t dataSize, int statusByte,
                   std::string& why)
{
    Settings& s = info.settings;
    const char* from = info.source == Source::Description ? "run.json" : "config.txt";
    if (statusByte >= 0 && info.statusByteKnown && s.statusByte != (statusByte == 1) &&
        info.source == Source::Description) {
        why = std::string("--status-byte ") + char('0' + statusByte) + " contradicts run.json (" +
              (s.statusByte ? "a status byte" : "no status byte") + ")";
        return false;
    }
    if (s.format == Format::Raw) {
        if (info.statusByteKnown)
            return true;
        if (statusByte >= 0) {
            s.statusByte = statusByte == 1;
            info.statusByteKnown = true;
            return true;
        }
        // The report counts the records begun; the last of them may not have
        // been written. The size must be whole records of exactly one length.
        const uint64_t records = info.records.value_or(0);
        int fits = 0;
        bool with = false;
        for (int di = 0; di <= 1; di++) {
            const uint64_t len = reclen(s.channels, unsigned(di));
            if (records > 0 && (dataSize == len * records || dataSize == len * (records - 1))) {
                fits++;
                with = di == 1;
            }
        }
        if (fits != 1) {
            why =
                "config.txt does not say whether a status byte ended each record, and the size "
                "of the data file (" +
                std::to_string(dataSize) + " bytes for " + std::to_string(records) +
                " records) does not tell: give --status-byte 0 or 1";
            return false;
        }
        s.statusByte = with;
        info.statusByteKnown = true;
        info.notes.push_back(std::string("config.txt does not say whether a status byte ended each "
                                         "record: the size of the data file says ") +
                             (with ? "it did" : "it did not"));
        return true;
    }
    // Integer columns: the first line has the columns of the settings.
    const size_t nl = dataHead.find('\n');
    if (nl == std::string_view::npos)
        return true;  // no whole line yet: nothing to check it against
    std::string_view first = dataHead.substr(0, nl);
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    const size_t cols = size_t(std::count(first.begin(), first.end(), ',')) + 1;
    auto count = [](unsigned n) { return std::to_string(n) + (n == 1 ? " column" : " columns"); };
    if (!info.statusByteKnown && statusByte < 0) {
        // The report does not tell: the columns do, when they are either.
        Settings with = s, without = s;
        with.statusByte = true;
        without.statusByte = false;
        if (cols != with.columns() && cols != without.columns()) {
            why = "line 1: " + count(unsigned(cols)) + ", but " + from + " says " + describe(s) +
                  " (" + count(with.columns()) + ", or " + std::to_string(without.columns()) +
                  " without a status byte)";
            return false;
        }
        s.statusByte = cols == with.columns();
        info.statusByteKnown = true;
        return true;
    }
    if (!info.statusByteKnown) {
        s.statusByte = statusByte == 1;
        info.statusByteKnown = true;
    }
    if (cols != s.columns()) {
        why = "line 1: " + count(unsigned(cols)) + ", but " + from + " says " + describe(s) +
              (s.statusByte ? "" : " and no status byte") + " (" + count(s.columns()) + ")";
        return false;
    }
    return true;
}

}  // namespace tarvo::recorded
