// The run status beside the message line: records so far, records per
// second, elapsed time, records lost, the size of the data file. The panel
// file names the labels (property runStatus: records, rate, elapsed, lost,
// file, and note: what happened to the files around the run); a timer reads the counters of the run
// a few times a second and writes each label's text, and its number into the label's `value`
// property. A note, and the end of a run, are shown at once when they come
// from the main thread (which may then block: the handshake, Stop's pause).
// A run whose records are clearly overdue shows, in place of the rate, how
// long ago the last came. Internal to the run-time layer.
#pragma once

#include "live_feed.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <utility>
#include <vector>

namespace tarvo::rt {

class RunStatusView final : public QObject {
public:
    static constexpr int kPollMs = 200;

    // Takes the labels of `panel` that have a runStatus property.
    RunStatusView(StatusFeed& feed, QWidget* panel);
    ~RunStatusView() override;

    // After this long without a record the run counts as silent: three
    // periods, and never less than two seconds.
    static double overdueAfter(unsigned periodUs);

    // Reads the counters and writes the labels now (the timer does this).
    void poll();

private:
    enum class Role { Records, Rate, Elapsed, Lost, File, Note };
    void show(Role role, const QString& text, const QVariant& value);
    // Polls now and paints the labels before returning (main thread).
    void showNow();

    StatusFeed& feed_;
    QTimer timer_;
    std::vector<std::pair<Role, QPointer<QLabel>>> labels_;
    unsigned run_ = 0;
    bool final_ = false;                              // the ended run is on show
    std::deque<std::pair<double, unsigned>> recent_;  // (elapsed, records) of the last second
    unsigned lastRecords_ = 0;                        // records at the last count that rose
    double lastRecordAt_ = 0;                         // elapsed then
};

}  // namespace tarvo::rt
