// The losses and silences of a run, with their places on its time axis: a
// loss spans the gap of its missing records, a silence is a moment, the end
// of the last record's period before it. Kept in record order, so the marks
// within a span are found by bisection.
#pragma once

#include <QString>

#include <vector>

#include "run.h"
#include "sampler.h"

namespace tarvo::view {

struct MarkAt {
    recorded::Run::Mark mark;
    double fromUs = 0, toUs = 0;  // a loss: its gap; a silence: the record after it
};

class RunMarks {
public:
    // The marks of the records in the file so far (none without a run). The
    // times of the marks seen before are kept: finding a time can read a few
    // records, and a run in progress is looked at every second.
    void update(const recorded::Run* run, const Timeline& timeline);
    const std::vector<MarkAt>& all() const { return marks_; }
    // The first mark that ends at or after `us`.
    std::vector<MarkAt>::const_iterator endingFrom(double us) const;

private:
    std::vector<MarkAt> marks_;
};

// A mark as the readout tells it: "3 records lost before record 41",
// "silence after record 1200, from ... to ...".
QString describe(const recorded::Run::Mark& m, const recorded::Run& run);

}  // namespace tarvo::view
