// The live chart's drawing, apart from the widget: where its parts go, the
// time columns' traces drawn into the traces' image, and the pictures under
// and over it (legend, scales and lane names; frame and notes). StripChart
// (chart.h) puts them together.
#pragma once

#include "chart_columns.h"

#include <QFont>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QRect>

#include <cstdint>

class QPainter;

namespace tarvo::rt {

// Where things go, in the widget's coordinates.
struct ChartGeometry {
    QRect plot;   // the analog traces
    QRect lanes;  // the digital lines (empty without them)
    QRect image;  // both, with the gap between them: the traces' image
    int laneHeight = 0;
};

ChartGeometry chartGeometry(const QFont& font, QSize size, const ChartLayout& layout);

// In the traces' image (`dpr` device pixels to a pixel): image columns x0..x1
// cleared to `ground`, with the grid.
void clearTraceColumns(QImage& traces, const ChartGeometry& geo, double dpr, const QColor& ground,
                       int x0, int x1);
// The columns `from`..the newest that fall in image columns x0..x1, column
// id at x = id - origin.
void drawTraceColumns(QImage& traces, const ChartColumns& columns, const ChartLayout& layout,
                      const ChartGeometry& geo, double dpr, std::int64_t from, std::int64_t origin,
                      int x0, int x1);

// Everything but the traces: the legend, the scales, the lane names.
QPixmap chartBackground(QSize size, double dpr, const QPalette& palette, const QFont& font,
                        const ChartLayout& layout, const ChartGeometry& geo);
// Over the traces: the frame, the rule above the lanes, a word while no
// column holds data (`empty`), and how many records the run passes over.
void drawChartOverlay(QPainter& p, const QFont& font, const ChartLayout& layout,
                      const ChartGeometry& geo, bool empty, int skip);

}  // namespace tarvo::rt
