// The traces of a run chart's picture (sampler.h): the analog channels and
// the digital lines, at the chart's span, values, geometry and colours.
#pragma once

#include <QImage>

#include <vector>

#include "sampler.h"

class QPainter;

namespace tarvo::view {

class RunChart;

// A picture in columns, written straight into the plot's image (its pixels
// are the plot's device pixels).
void rasterColumns(QImage& plot, const RunChart& chart, const Picture& pic,
                   const std::vector<unsigned>& channels);
// The analog traces as lines: a picture of points, or one in columns drawn
// with a painter.
void drawTraces(QPainter& p, const RunChart& chart, const Picture& pic,
                const std::vector<unsigned>& channels);
// The digital lines as steps in their lanes.
void drawLanes(QPainter& p, const RunChart& chart, const Picture& pic,
               const std::vector<unsigned>& channels);

}  // namespace tarvo::view
