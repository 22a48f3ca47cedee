// What lies under a point of a run chart: the nearest record to its time,
// its values, and a loss or silence within a few pixels; and the line the
// window shows of it.
#pragma once

#include <QPoint>
#include <QString>

#include <cstdint>

#include "records.h"

namespace tarvo::view {

class RunChart;

struct Readout {
    bool valid = false;
    uint64_t record = 0;  // 0-based
    uint64_t timeUs = 0;
    recorded::Record values;
    QString mark;  // a loss or silence at the point, described
};

Readout readoutOf(const RunChart& chart, QPoint at);
// The readout as the window shows it (rich text).
QString readoutHtml(const RunChart& chart, const Readout& r);

}  // namespace tarvo::view
