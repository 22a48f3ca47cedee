// The colours of tarvo-view's chart and overview, from the widget's palette:
// eight trace colours that stay apart for most colour-blind eyes (on a light
// ground those of the recorder's live chart, on a dark one lighter ones), a
// grey for the digital lines, and the colours of losses and silences.
#pragma once

#include <QColor>
#include <QPalette>

namespace tarvo::view {

// `a` moved towards `b` by `t` (0: a, 1: b).
QColor mix(const QColor& a, const QColor& b, double t);

// Trace `t` of a run with `analogChannels` analog channels: an analog
// channel's own colour, else the digital lines' grey.
QColor traceColour(const QPalette& palette, int t, int analogChannels);
QColor lossColour(const QPalette& palette);
QColor silenceColour(const QPalette& palette);

}  // namespace tarvo::view
