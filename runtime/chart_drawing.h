// The live chart's drawing, apart from the widget: where its parts go, the
// time columns' traces drawn into the traces' image, and the pictures under
// and over it (legend, scales and lane names; frame, notes and the readout).
// StripChart (chart.h) puts them together. Every colour but the traces'
// comes from the widget's palette, the traces' from the palette's set
// (trace_colours.h), so a dark style gets a dark chart.
#pragma once

#include "chart_columns.h"

#include <QFont>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QRect>
#include <QColor>
#include <QString>

#include <cstdint>
#include <vector>

class QPainter;

namespace tarvo::rt {

// The bit of the digital lines in a mask of hidden traces (bit i: channel i + 1).
inline constexpr int kLinesBit = kChartChannels;

// Where things go, in the widget's coordinates.
struct ChartGeometry {
    QRect plot;   // the analog traces
    QRect lanes;  // the digital lines (empty without them)
    QRect image;  // both, with the gap between them: the traces' image
    int laneHeight = 0;
};

// `reserved`: the room the chart's own controls take at the top right.
ChartGeometry chartGeometry(const QFont& font, QSize size, const ChartLayout& layout,
                            QSize reserved = {});

// The legend entry at `at` (a channel 0..7, kLinesBit for the digital lines),
// or -1.
int legendEntryAt(const QFont& font, QSize size, const ChartLayout& layout, QSize reserved,
                  QPoint at);

// In the traces' image (`dpr` device pixels to a pixel): image columns x0..x1
// cleared to the palette's ground, with the grid.
void clearTraceColumns(QImage& traces, const ChartGeometry& geo, double dpr,
                       const QPalette& palette, int x0, int x1);

// What drawTraceColumns draws.
struct TraceStyle {
    const QPalette* palette = nullptr;
    unsigned hidden = 0;  // bit i: channel i + 1; kLinesBit: the digital lines
};

// The columns `from`..the newest that fall in image columns x0..x1, column
// id at x = id - origin; `oldest` is the oldest column the image shows. A
// column whose neighbours hold nothing (a long period, or a lost stretch)
// gets a dot, so a lone record shows.
void drawTraceColumns(QImage& traces, const ChartColumns& columns, const TraceStyle& style,
                      const ChartGeometry& geo, double dpr, std::int64_t from, std::int64_t oldest,
                      std::int64_t origin, int x0, int x1);

// The time labels along the bottom: seconds back from the right edge for a
// window, or the run's time for the whole run (`columns` tells which).
struct TimeTick {
    double fromRight;  // the part of the plot's width from the right edge, 0..1
    QString label;
};
std::vector<TimeTick> timeTicks(const ChartColumns& columns, int width, const QFont& font);
// A time into the run, for labels and the readout: "12.5 s", "4:10", "1:02:30".
QString runTimeText(double seconds, int decimals);

// Everything but the traces: the legend (hidden entries greyed), the
// scales, the lane names.
QPixmap chartBackground(QSize size, double dpr, const QPalette& palette, const QFont& font,
                        const ChartLayout& layout, const ChartGeometry& geo, QSize reserved,
                        unsigned hidden, const std::vector<TimeTick>& ticks);
// Over the traces: the frame, the rule above the lanes, a word while no
// column holds data (`empty`), and how many records the run passes over.
void drawChartOverlay(QPainter& p, const QFont& font, const QPalette& palette,
                      const ChartLayout& layout, const ChartGeometry& geo, double windowSeconds,
                      bool empty, int skip);
// The readout: a vertical line at `x` and a box with `lines` beside it,
// each after a swatch of its colour (none when invalid).
struct ReadoutLine {
    QColor swatch;
    QString text;
};
void drawReadout(QPainter& p, const QFont& font, const QPalette& palette, const ChartGeometry& geo,
                 int x, const std::vector<ReadoutLine>& lines);

}  // namespace tarvo::rt
