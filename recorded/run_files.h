// Where a run's files are. A run folder holds the run in progress or the
// last one (data.txt, config.txt, run.json) and the runs kept before it under
// dated names (data-20261207-180233.txt with config-20261207-180233.txt and
// run-20261207-180233.json beside it).
#pragma once

#include <string>

namespace tarvo::recorded {

struct RunFiles {
    std::string data;    // the data file
    std::string report;  // its run report (config.txt), or empty when there is none
    std::string run;     // its run description (run.json), or empty when there is none
};

// Finds the files of the run that `path` names: a run folder (its data.txt),
// a data file (data.txt, data-STAMP.txt, or a file of any other name, which
// then has no report or description beside it), or the report or
// description of a run (config-STAMP.txt, run.json: the data file beside
// it). False, with the reason in `why`, when there is no such data file.
bool findRun(const std::string& path, RunFiles& out, std::string& why);

}  // namespace tarvo::recorded
