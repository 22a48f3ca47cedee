// The run status beside the message line: records so far, records per
// second, elapsed time, records lost, the size of the data file. The panel
// file names the labels (property runStatus: records, rate, elapsed, lost,
// file, and note: what happened to the files around the run); a timer reads the counters of the run
// a few times a second and writes each label's text, and its number into the label's `value`
// property. Internal to the run-time layer.
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

    // Reads the counters and writes the labels now (the timer does this).
    void poll();

private:
    enum class Role { Records, Rate, Elapsed, Lost, File, Note };
    void show(Role role, const QString& text, const QVariant& value);

    StatusFeed& feed_;
    QTimer timer_;
    std::vector<std::pair<Role, QPointer<QLabel>>> labels_;
    unsigned run_ = 0;
    bool final_ = false;                              // the ended run is on show
    std::deque<std::pair<double, unsigned>> recent_;  // (elapsed, records) of the last second
};

}  // namespace tarvo::rt
