// Inside the panel layer: what the tests reach besides runtime.h.
#pragma once

#include "options.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarvo::rt {

struct ScriptCheck {
    int line = 0;        // 0 when the script fits the panel
    std::string error;   // the reason, one line
};

// Checks every action of `script` against the loaded panel: a `set` names an
// integer control that accepts the value, a `press` names a callback bound on
// the panel. The first misfit is reported.
ScriptCheck checkScript(const std::vector<ScriptAction>& script);

// Where unattended mode echoes the message line (stdout unless changed).
void setMessageEchoStream(std::FILE* stream);

}  // namespace tarvo::rt
