// The run-time layer's command line and the unattended script: plain parsers
// over strings, no Qt, no I/O beyond reading the script file, so that every
// input can be checked (and fuzzed) on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::rt {

inline constexpr const char* kVersion = "0.1.0";

struct ComOption {
    int port;
    std::string device;
};

struct Options {
    std::vector<ComOption> com;  // in the order given; the first is preselected
    std::string scriptFile;      // empty: interactive
    bool help = false;
    bool version = false;
    bool noChart = false;             // --no-chart: no live chart (the run status stays)
    bool platformGiven = false;       // -platform was among the Qt options
    std::vector<std::string> qtArgs;  // argv[0] and every Qt option, in order
};

struct OptionsResult {
    bool ok = false;
    Options options;
    std::string error;  // one line, when !ok
};

// `args` is the whole argument vector, argv[0] first. --help and --version
// end the parse where they stand, so a later mistake does not hide them.
OptionsResult parseOptions(const std::vector<std::string>& args);

// The program's own words in the texts below and in scripts: the buttons
// (callback names) a script may press, in the order the texts list them,
// and the usage text's paragraph on the control ids for `set` (each line
// ending in a newline, a blank line last). None until set.
struct ProgramTerms {
    std::vector<std::string> scriptButtons;
    std::string controlIdsHelp;
};
void setProgramTerms(ProgramTerms terms);

// The text --help prints.
std::string usageText();

// ---------------------------------------------------------------------------
// Unattended script

enum class ScriptVerb { Set, Press, Wait };

struct ScriptAction {
    int line = 0;  // 1-based, for messages
    ScriptVerb verb = ScriptVerb::Wait;
    int control = 0;         // set
    std::int64_t value = 0;  // set: INT_MIN..UINT32_MAX
    std::string callback;    // press: one of the program's script buttons
    double seconds = 0;      // wait
};

// The longest wait a script may ask for, in seconds (about 23 days: the
// event loop's timers count milliseconds in an int).
inline constexpr double kMaxWaitSeconds = 2'000'000;
// A script is a short list of actions; anything larger is a mistake (or a
// device file) and is refused before it fills memory.
inline constexpr std::size_t kMaxScriptBytes = 1 << 20;

struct ScriptResult {
    bool ok = false;
    std::vector<ScriptAction> actions;
    int errorLine = 0;  // 0: the error concerns the whole file
    std::string error;  // one line, when !ok
};

ScriptResult parseScript(std::string_view text);
// Reads and parses `path`; a file that cannot be read is an error on line 0.
ScriptResult loadScript(const std::string& path);

// The words of a line, split at blanks (space, tab, CR, VT, FF).
std::vector<std::string_view> tokens(std::string_view line);

// A token quoted for a one-line message: control characters escaped, long
// tokens cut after `limit` bytes, so that arbitrary input cannot break the
// message line.
std::string quoteToken(std::string_view token, std::size_t limit = 40);

// A device or file path quoted for a one-line message, as quoteToken, but
// long enough for any real path (a newline in a name cannot forge a line).
inline std::string quotePath(std::string_view path) { return quoteToken(path, 1024); }

}  // namespace tarvo::rt
