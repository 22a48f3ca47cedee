// Where the parts of tarvo-view's chart go, in the widget's coordinates: the
// legend on as many lines as the width needs, the plot of the analog traces,
// the lanes of the digital lines, the row of marks and the time axis.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <vector>

namespace tarvo::view {

struct ChartGeometry {
    std::vector<QRect> legend;  // per trace
    QRect plot, lanes, marks, axis;
    int laneHeight = 0;
};

// A chart `size` big with these traces, and lanes for the digital lines if
// it has them.
ChartGeometry chartGeometry(const QFont& font, QSize size, const std::vector<QString>& traceNames,
                            bool digital);

}  // namespace tarvo::view
