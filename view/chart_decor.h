// Everything of a run chart around its traces: the grid, the marks of losses
// and silences, the legend, the axes' labels and the pointer's marker.
#pragma once

#include <QPoint>

class QPainter;

namespace tarvo::view {

class RunChart;

void drawGrid(QPainter& p, const RunChart& chart);
// Losses and silences: in the plot (`inPlot`, under the traces) a band over
// a loss's gap and a line at each mark; in the row under the lanes, a marker.
void drawMarks(QPainter& p, const RunChart& chart, bool inPlot);
void drawLegend(QPainter& p, const RunChart& chart);
void drawAxes(QPainter& p, const RunChart& chart);
// A line at the record under `at` and a dot on each shown analog trace.
void drawHover(QPainter& p, const RunChart& chart, QPoint at);

}  // namespace tarvo::view
