#include "options.h"

#include "com_table.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>

namespace tarvo::rt {

namespace {

struct QtOption {
    std::string_view name;  // without the leading dash
    bool takesValue;
};

// The options Qt's application classes take out of the argument vector.
// Qt accepts them with one dash or two.
constexpr std::array kQtOptions{
    QtOption{"platform", true},
    QtOption{"platformpluginpath", true},
    QtOption{"platformtheme", true},
    QtOption{"plugin", true},
    QtOption{"display", true},
    QtOption{"geometry", true},
    QtOption{"qwindowgeometry", true},
    QtOption{"qwindowtitle", true},
    QtOption{"qwindowicon", true},
    QtOption{"title", true},
    QtOption{"icon", true},
    QtOption{"name", true},
    QtOption{"session", true},
    QtOption{"style", true},
    QtOption{"stylesheet", true},
    QtOption{"reverse", false},
    QtOption{"widgetcount", false},
    QtOption{"nograb", false},
    QtOption{"dograb", false},
    QtOption{"sync", false},
    QtOption{"testability", false},
};

const QtOption* findQtOption(std::string_view arg)
{
    if (arg.starts_with("--"))
        arg.remove_prefix(2);
    else if (arg.starts_with("-"))
        arg.remove_prefix(1);
    else
        return nullptr;
    for (const QtOption& o : kQtOptions)
        if (o.name == arg)
            return &o;
    return nullptr;
}

// Qt's style option also comes as -style=NAME.
bool isStyleAssignment(std::string_view arg)
{
    return arg.starts_with("-style=") || arg.starts_with("--style=");
}

// A whole token of decimal digits (an optional leading '-' when allowed)
// within [lo, hi]; no sign '+', no blanks, no trailing characters.
bool parseInteger(std::string_view s, std::int64_t lo, std::int64_t hi, std::int64_t& out)
{
    if (s.empty() || s.front() == '+')
        return false;
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size() || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// A non-negative decimal: digits, optionally a point and more digits.
bool parseSeconds(std::string_view s, double& out)
{
    bool digits = false, point = false;
    for (char c : s) {
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c == '.' && !point)
            point = true;
        else
            return false;
    }
    if (!digits)
        return false;
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (ec != std::errc{} || end != s.data() + s.size())
        return false;
    out = v;
    return true;
}

bool parseCom(std::string_view value, ComOption& out)
{
    const auto eq = value.find('=');
    if (eq == std::string_view::npos)
        return false;
    std::int64_t port = 0;
    if (!parseInteger(value.substr(0, eq), 1, kMaxPortNumber, port))
        return false;
    const std::string_view device = value.substr(eq + 1);
    if (device.empty())
        return false;
    out = ComOption{static_cast<int>(port), std::string(device)};
    return true;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

std::vector<std::string_view> tokens(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

std::string quoteToken(std::string_view token, std::size_t limit)
{
    std::string out = "'";
    std::size_t n = 0;
    for (unsigned char c : token) {
        if (n++ == limit) {
            out += "...";
            break;
        }
        if (c < 0x20 || c == 0x7f || c == '\\' || c == '\'') {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += "'";
    return out;
}

namespace {

// Whether args[i] is option `name`, as "NAME VALUE" or "NAME=VALUE"; its
// value, if given, into `value` (the first form moves i on to it).
bool optionValue(const std::vector<std::string>& args, std::size_t& i, std::string_view name,
                 std::optional<std::string_view>& value)
{
    const std::string_view arg = args[i];
    if (arg == name) {
        value = i + 1 < args.size() ? std::optional<std::string_view>(args[++i]) : std::nullopt;
        return true;
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

}  // namespace

OptionsResult parseOptions(const std::vector<std::string>& args)
{
    OptionsResult r;
    Options& o = r.options;
    o.qtArgs.push_back(args.empty() ? std::string("tarvo") : args.front());

    auto fail = [&r](std::string why) {
        r.ok = false;
        r.error = std::move(why);
        return r;
    };
    auto addCom = [&o](const ComOption& c) {
        for (const ComOption& e : o.com)
            if (e.port == c.port)
                return false;
        o.com.push_back(c);
        return true;
    };
    auto setScript = [&o](std::string_view file) {
        if (file.empty() || !o.scriptFile.empty())
            return false;
        o.scriptFile = std::string(file);
        return true;
    };
    const std::string comSyntax =
        "N=DEVICE with N from 1 to " + std::to_string(kMaxPortNumber) + ", got ";

    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const bool hasNext = i + 1 < args.size();

        if (arg == "--help" || arg == "-h") {
            o.help = true;
            break;
        }
        if (arg == "--version") {
            o.version = true;
            break;
        }
        if (arg == "--no-chart") {
            o.noChart = true;
            continue;
        }
        std::optional<std::string_view> value;
        if (optionValue(args, i, "--com", value)) {
            if (!value)
                return fail("--com needs N=DEVICE");
            ComOption c;
            if (!parseCom(*value, c))
                return fail("--com: expected " + comSyntax + quoteToken(*value));
            if (!addCom(c))
                return fail("--com: port " + std::to_string(c.port) + " given twice");
            continue;
        }
        if (optionValue(args, i, "--script", value)) {
            if (!value || value->empty())
                return fail("--script needs a FILE");
            if (!setScript(*value))
                return fail("--script given twice");
            continue;
        }
        if (isStyleAssignment(arg)) {
            o.qtArgs.emplace_back(arg);
            continue;
        }
        if (const QtOption* q = findQtOption(arg)) {
            o.qtArgs.emplace_back(arg);
            if (q->takesValue) {
                if (!hasNext)
                    return fail("option " + std::string(arg) + " needs a value");
                o.qtArgs.push_back(args[++i]);
            }
            if (q->name == "platform")
                o.platformGiven = true;
            continue;
        }
        if (arg.starts_with("-"))
            return fail("unknown option " + quoteToken(arg) + " (see --help)");
        return fail("unexpected argument " + quoteToken(arg) + " (see --help)");
    }
    r.ok = true;
    return r;
}

namespace {

ProgramTerms gTerms;

// "start|stop|quit", or "start, stop or quit" with `last` " or ".
std::string buttonList(const char* separator, const char* last)
{
    std::string out;
    const std::vector<std::string>& names = gTerms.scriptButtons;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            out += i + 1 == names.size() ? last : separator;
        out += names[i];
    }
    return out;
}

// The usage text's line on `press`, its explanation in the column of the
// lines around it.
std::string pressUsage()
{
    std::string press = "press " + buttonList("|", "|");
    press.resize(std::max<std::size_t>(press.size() + 2, 23), ' ');
    return press + "press that button";
}

}  // namespace

void setProgramTerms(ProgramTerms terms) { gTerms = std::move(terms); }

std::string usageText()
{
    return R"(Usage: tarvo [--com N=DEVICE]... [--script FILE] [--no-chart] [Qt options]

Records the analog channels, digital lines and record counter of the serial
acquisition board: set the parameters on the panel, press Start, press Stop.
The records go to data.txt and the run report to config.txt, both in the
current directory. During a run the window charts the last five seconds of
every recorded channel and digital line, and shows the records so far, the
records per second, the time, the records lost and the size of data.txt;
beside the period, the shortest period the chosen settings allow.

Options:
  --com N=DEVICE   serial port number N (1 to 999) opens DEVICE: a device path
                   (/dev/ttyUSB0, /dev/pts/7; COM3 on Windows) or "virtual", the
                   built-in virtual board (port 99 unless moved). Repeatable;
                   the first is preselected on the panel. Without it the panel
                   lists the machine's serial ports and the virtual board.
  --script FILE    unattended mode: run the panel actions in FILE, one a line:
                     set ID VALUE           set control ID as a user would and
                                            commit it (VALUE an integer)
                     )" +
           pressUsage() + R"(
                     wait SECONDS           let the program run that long
                   '#' starts a comment; blank lines are ignored. The whole
                   script is checked before the panel is shown: a bad line is
                   reported as FILE:LINE with exit status 2. A set or press
                   of a greyed-out control is refused, as the user's would
                   be, with FILE:LINE on stderr; the script goes on. Every
                   new text of the message line is written to stdout as
                   "message: TEXT".
                   When the script ends, the program runs on as a user left it.
  --no-chart       no live chart of the records during a run (the run status
                   beside the message line stays): the sampling thread then
                   hands nothing to the window, e.g. to measure what the chart
                   costs.
  --help           show this help and exit
  --version        show the version and exit

Qt options are handed to Qt, among them:
  -platform NAME   the window system: xcb (X11), wayland, or offscreen (no
                   display at all). Without a display (no DISPLAY or
                   WAYLAND_DISPLAY) and without this option, offscreen is used,
                   so unattended runs work on a headless machine.
  -display DISPLAY, -geometry WxH+X+Y, -style NAME, -stylesheet FILE,
  -reverse, -plugin NAME, -qwindowtitle TITLE, -nograb, ...

)" + gTerms.controlIdsHelp +
           R"(A script may start with a UTF-8 byte-order mark. Quit or closing the window
during a run asks whether to stop with the run report, quit without it, or
go on; unattended runs and termination signals (SIGINT, SIGTERM, SIGHUP)
end the run without the report and never ask.

Exit status: 0 after a normal end, 255 when start-up fails (unknown option,
missing tarvo.uir, or one that lacks a control the program reads or offers a
value it cannot take; no window system), 2 for a bad script.
)";
}

// ---------------------------------------------------------------------------

namespace {

// Parses one line without its comment. Returns an empty string when it is
// fine (an action or nothing), else the reason.
std::string parseLine(std::string_view line, std::vector<ScriptAction>& actions, int number)
{
    const std::vector<std::string_view> t = tokens(line);
    if (t.empty())
        return {};
    ScriptAction a;
    a.line = number;
    auto extra = [&t](std::size_t expected) {
        return "unexpected " + quoteToken(t[expected]) + " after the action";
    };

    if (t[0] == "set") {
        a.verb = ScriptVerb::Set;
        if (t.size() < 3)
            return "set needs a control id and a value: set ID VALUE";
        std::int64_t id = 0;
        if (!parseInteger(t[1], 1, INT_MAX, id))
            return "set: bad control id " + quoteToken(t[1]) + " (a positive integer)";
        if (!parseInteger(t[2], INT_MIN, UINT32_MAX, a.value))
            return "set: bad value " + quoteToken(t[2]) +
                   " (an integer from -2147483648 to 4294967295)";
        if (t.size() > 3)
            return extra(3);
        a.control = static_cast<int>(id);
    } else if (t[0] == "press") {
        a.verb = ScriptVerb::Press;
        if (t.size() < 2)
            return "press needs a button: press " + buttonList("|", "|");
        if (std::find(gTerms.scriptButtons.begin(), gTerms.scriptButtons.end(), t[1]) ==
            gTerms.scriptButtons.end())
            return "press: expected " + buttonList(", ", " or ") + ", got " + quoteToken(t[1]);
        if (t.size() > 2)
            return extra(2);
        a.callback = std::string(t[1]);
    } else if (t[0] == "wait") {
        a.verb = ScriptVerb::Wait;
        if (t.size() < 2)
            return "wait needs a number of seconds: wait SECONDS";
        if (!parseSeconds(t[1], a.seconds))
            return "wait: bad number of seconds " + quoteToken(t[1]) +
                   " (a non-negative decimal, e.g. 2 or 0.5)";
        if (a.seconds > kMaxWaitSeconds)
            return "wait: at most " + std::to_string(static_cast<long>(kMaxWaitSeconds)) +
                   " seconds";
        if (t.size() > 2)
            return extra(2);
    } else {
        return "unknown action " + quoteToken(t[0]) + " (expected set, press or wait)";
    }
    actions.push_back(std::move(a));
    return {};
}

}  // namespace

ScriptResult parseScript(std::string_view text)
{
    ScriptResult r;
    // Editors on Windows start a UTF-8 file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    if (text.size() > kMaxScriptBytes) {
        r.error = "script too large (more than " + std::to_string(kMaxScriptBytes) + " bytes)";
        return r;
    }
    for (int number = 1;; ++number) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        if (std::string why = parseLine(line, r.actions, number); !why.empty()) {
            r.actions.clear();
            r.errorLine = number;
            r.error = std::move(why);
            return r;
        }
        if (nl == std::string_view::npos)
            break;
    }
    r.ok = true;
    return r;
}

ScriptResult loadScript(const std::string& path)
{
    ScriptResult r;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        r.error = std::string("cannot open: ") + std::strerror(errno);
        return r;
    }
    std::string text;
    char buf[4096];
    std::size_t n = 0;
    // Read one byte past the limit, so that a larger file is recognised
    // without reading all of it (a device file may never end).
    while (text.size() <= kMaxScriptBytes && (n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    const int err = errno;
    std::fclose(f);
    if (failed) {
        r.error = std::string("cannot read: ") + std::strerror(err);
        return r;
    }
    return parseScript(text);
}

}  // namespace tarvo::rt
