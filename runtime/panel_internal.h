// Inside the panel layer: what the tests reach besides runtime.h.
#pragma once

#include "options.h"
#include "runtime.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tarvo::rt {

struct ScriptCheck {
    int line = 0;       // 0 when the script fits the panel
    std::string error;  // the reason, one line
};

// Checks every action of `script` against the loaded panel: a `set` names an
// integer control that accepts the value, a `press` names a callback bound on
// the panel. The first misfit is reported.
ScriptCheck checkScript(const std::vector<ScriptAction>& script);

// Where unattended mode echoes the message line (stdout unless changed).
// What was echoed before is written to the old stream first.
void setMessageEchoStream(std::FILE* stream);
// Waits up to `seconds` until every message echoed so far is written;
// returns whether it was. The echo is written by a thread of its own.
bool flushMessageEcho(double seconds);

// The requirements LoadPanel checks panels against: `table` (`count`
// entries) in place of the program's ProgramControls; null restores those.
void setControlRequirements(const ControlRequirement* table, int count);

}  // namespace tarvo::rt
