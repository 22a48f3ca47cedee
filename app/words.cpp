// The program's own words in the run-time layer's texts: the buttons an
// unattended script may press, the one that quits, and --help's paragraph on
// the control ids of tarvo.uir (ctrlids.h).
#include "runtime.h"

namespace {

const char* const kScriptButtons[] = {"start", "stop", "quit"};

}  // namespace

const ProgramWordTable ProgramWords = {
    kScriptButtons,
    sizeof kScriptButtons / sizeof kScriptButtons[0],
    "quit",
    "Control ids for set: 2 port number, 6 channels (1-8), 8 baud rate, 9 status\n"
    "byte (0/1), 10 period in microseconds, 11 record digital lines (0/1),\n"
    "12 record counter (0/1), 13 file format (0 raw bytes, 1 integer columns).\n"
    "\n",
};
