// A recorded run, opened for reading: what tarvo-export and a viewer use.
//
//   std::string why;
//   auto run = tarvo::recorded::Run::open("run/", {}, why);   // a folder or a data file
//   if (!run) { report(why); }
//   run->settings().channels; run->info().events; run->count();
//   Record r = run->record(i);                 // channels[], digital lines, counter
//   uint64_t us = run->timeUs(i);              // its time, across lost records
//   auto cols = run->minmax(ch, first, last, widthInPixels);   // Pyramid::minmax
//   run->refresh(why);                         // about once a second while a run writes it
//
// open() reads run.json, else config.txt, else guesses from the columns
// file (RunInfo), settles the file's layout against it, indexes the data
// file (Records, in parallel where it pays, reporting progress) and builds
// the min/max pyramid. It blocks: a viewer calls it from a worker thread and
// shows the progress. After that a Run is used from one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pyramid.h"
#include "records.h"
#include "run_files.h"
#include "run_info.h"

namespace tarvo::recorded {

class Run {
public:
    struct Options {
        int statusByte = -1;   // 0 or 1 where config.txt cannot tell (raw files); -1: not given
        unsigned threads = 2;  // for indexing a large file
        bool pyramid = true;   // false: the index alone (what an export needs)
        // Progress of the indexing, on the thread that calls open() (see
        // Records::Options::progress); returning false cancels.
        std::function<bool(uint64_t done, uint64_t total)> progress;
    };

    // Opens the run that `path` names (a run folder or a data file). Null,
    // with the reason in `why` (naming the file, and the line or byte at
    // fault), when its files cannot be read or do not fit together.
    static std::unique_ptr<Run> open(const std::string& path, const Options& options,
                                     std::string& why);

    const RunFiles& files() const { return files_; }
    const RunInfo& info() const { return info_; }
    const Settings& settings() const { return info_.settings; }
    const Records& records() const { return records_; }
    const Pyramid* pyramid() const { return pyramid_.get(); }

    uint64_t count() const { return records_.count(); }
    Record record(uint64_t i) const { return records_.record(i); }

    // Records lost before record i: by the counter where the file holds it,
    // else by run.json's loss events. Records lost before the first record
    // of the file do not count: it is at time 0.
    uint64_t lostBefore(uint64_t i) const;
    // The sampling period, or one second when it is not known (a file without
    // run.json or config.txt: its times count records).
    uint64_t periodUs() const;
    bool periodKnown() const { return info_.settings.periodUs != 0; }
    // The time of record i from the first record: (i + lostBefore(i)) periods.
    uint64_t timeUs(uint64_t i) const { return (i + lostBefore(i)) * periodUs(); }
    // The first record at or after `us` (count() when there is none).
    uint64_t recordAt(uint64_t us) const;

    // Pyramid::minmax (no columns at all without the pyramid).
    std::vector<Extent> minmax(unsigned channel, uint64_t first, uint64_t last,
                               unsigned columns) const;

    // What to mark on a time axis: every loss (by the counter, or run.json's)
    // and every silence of run.json, by record number (0-based).
    struct Mark {
        Event::Type type = Event::Type::Loss;
        uint64_t record =
            0;  // a loss: the first record after the gap; a silence: the first after it
        uint64_t missing = 0;    // a loss
        std::string start, end;  // a silence
    };
    std::vector<Mark> marks() const;

    // Takes in what a run in progress added to the data file (and a new
    // run.json); cheap when nothing changed. See Records::refresh.
    Records::Growth refresh(std::string& why);

    // Notes for the user: what was guessed or assumed.
    const std::vector<std::string>& notes() const { return info_.notes; }

private:
    Run() = default;
    void takeEvents();
    bool readDescription();

    RunFiles files_;
    RunInfo info_;
    Records records_;
    std::unique_ptr<Pyramid> pyramid_;
    std::vector<std::pair<uint64_t, uint64_t>> eventLost_;  // (record, lost before it, cumulative)
    std::string runStamp_;  // run.json's size and time when last read
};

}  // namespace tarvo::recorded
