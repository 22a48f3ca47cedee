// The start of InitRunTime that every build shares: the standard streams
// made ready and the command line read.
#pragma once

#include "options.h"

#include <optional>

namespace tarvo::rt {

// Reads the argument vector (null-terminated, as main receives it). --help
// and --version print and end the process with status 0; a mistake is said
// in one line on stderr and gives none.
std::optional<Options> readCommandLine(char** argv);

// The serial port numbers the command line maps to devices (--com N=DEVICE).
void mapComDevices(const Options& options);

}  // namespace tarvo::rt
