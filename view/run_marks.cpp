#include "run_marks.h"

#include <QCoreApplication>

#include <algorithm>

namespace tarvo::view {

using recorded::Event;
using recorded::Run;

void RunMarks::update(const Run* run, const Timeline& timeline)
{
    std::vector<MarkAt> old = std::move(marks_);
    marks_.clear();
    if (!run)
        return;
    const double period = double(run->periodUs());
    size_t k = 0;
    for (const Run::Mark& m : run->marks()) {
        const bool loss = m.type == Event::Type::Loss;
        if (m.record > run->count() || (loss && m.record == run->count()))
            continue;  // not in the file yet
        while (k < old.size() && old[k].mark.record < m.record)
            k++;
        MarkAt at{m, 0, 0};
        if (k < old.size() && old[k].mark.record == m.record && old[k].mark.type == m.type) {
            at.fromUs = old[k].fromUs;
            at.toUs = old[k].toUs;
        } else {
            // A loss: the gap before its record; a silence: the end of the
            // last record before it (the run may end in it).
            at.toUs = loss            ? timeline.timeUs(m.record)
                      : m.record == 0 ? 0
                                      : timeline.timeUs(m.record - 1) + period;
            at.fromUs = loss ? at.toUs - double(m.missing) * period : at.toUs;
        }
        marks_.push_back(at);
    }
}

std::vector<MarkAt>::const_iterator RunMarks::endingFrom(double us) const
{
    return std::lower_bound(marks_.begin(), marks_.end(), us,
                            [](const MarkAt& m, double t) { return m.toUs < t; });
}

QString describe(const Run::Mark& m, const Run& run)
{
    // In the chart's context, as its other texts.
    auto tr = [](const char* text) {
        return QCoreApplication::translate("tarvo::view::RunChart", text);
    };
    if (m.type == Event::Type::Loss)
        return m.missing == 1
                   ? tr("1 record lost before record %1").arg(m.record + 1)
                   : tr("%1 records lost before record %2").arg(m.missing).arg(m.record + 1);
    return tr("silence after record %1, from %2 to %3")
        .arg(m.record)
        .arg(QString::fromStdString(m.start), !m.end.empty()     ? QString::fromStdString(m.end)
                                              : run.info().ended ? tr("the end of the run")
                                                                 : tr("now (still silent)"));
}

}  // namespace tarvo::view
