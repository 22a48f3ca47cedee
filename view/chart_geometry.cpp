#include "chart_geometry.h"

#include <QFontMetrics>

#include <algorithm>

namespace tarvo::view {

namespace {

constexpr int kLines = 4;         // digital lines d1..d4
constexpr int kGap = 8;           // between the plot and the lanes
constexpr int kMarksHeight = 11;  // the row of marks under the traces

}  // namespace

ChartGeometry chartGeometry(const QFont& font, QSize size, const std::vector<QString>& traceNames,
                            bool digital)
{
    const QFontMetrics fm(font);
    const int lineH = fm.height();
    ChartGeometry g;
    const int left = fm.horizontalAdvance("4095") + 16;
    const int right = std::max(left + 40, size.width() - 18);

    // The legend, on as many lines as the width needs.
    int x = left, y = 8;
    for (const QString& name : traceNames) {
        const int w = 26 + fm.horizontalAdvance(name);
        if (x > left && x + w > right) {
            x = left;
            y += lineH + 4;
        }
        g.legend.push_back(QRect(x, y, w, lineH + 2));
        x += w + 10;
    }
    const int top = y + lineH + 12;

    g.laneHeight = std::max(14, lineH + 2);
    const int axisH = lineH + 6;
    const int bottom = std::max(top + 60, size.height() - axisH - kMarksHeight - 4);
    const int lanesH = digital ? kLines * g.laneHeight : 0;
    const int plotBottom = std::max(top + 40, bottom - lanesH - (digital ? kGap : 0));
    g.plot = QRect(QPoint(left, top), QPoint(right - 1, plotBottom - 1));
    if (digital)
        g.lanes = QRect(left, plotBottom + kGap, g.plot.width(), lanesH);
    const int under = digital ? g.lanes.bottom() + 1 : g.plot.bottom() + 1;
    g.marks = QRect(left, under + 2, g.plot.width(), kMarksHeight);
    g.axis = QRect(left, g.marks.bottom() + 1, g.plot.width(), axisH);
    return g;
}

}  // namespace tarvo::view
