// The settings the window last started a run with, as a small text file of
// the user's: which panel file they were taken from, and each settings
// control's value. A plain parser and writer over strings, no Qt and no I/O,
// so that any file a user (or a crash) leaves behind can be checked on its own.
//
//     # tarvo: the settings the window last started a run with
//     panel 3f2a9c0d51e47b86
//     2 99
//     6 3
//
// `panel` names the panel file by a digest of its bytes; each further line is
// a control id and its value.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tarvo::rt {

struct RememberedSettings {
    std::string panel;                   // the panel file's digest
    std::map<int, std::int64_t> values;  // control id -> value
};

struct RememberedRead {
    bool ok = false;
    RememberedSettings settings;
    int errorLine = 0;  // 0: the error concerns the whole file
    std::string error;  // one line, when !ok
};

// A file larger than this is no file of ours.
inline constexpr std::size_t kMaxRememberedBytes = 64 * 1024;

RememberedRead parseRemembered(std::string_view text);
std::string formatRemembered(const RememberedSettings& settings);

}  // namespace tarvo::rt
