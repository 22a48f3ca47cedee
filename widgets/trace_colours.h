// The colours of tarvo's charts (the recorder's live chart and tarvo-view's
// chart and overview), from the widget's palette: eight trace colours that
// stay apart for most colour-blind eyes (on a light ground one set, on a dark
// one lighter ones), a grey for the digital lines, the colours of losses and
// silences, and the grid, axes and labels, so a dark style gets a dark grid.
#pragma once

#include <QColor>
#include <QPalette>

namespace tarvo {

inline bool isDark(const QPalette& p) { return p.color(QPalette::Base).lightness() < 128; }

// `a` moved towards `b` by `t` (0: a, 1: b).
inline QColor mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// Trace `t` of a run with `analogChannels` analog channels: an analog
// channel's own colour, else the digital lines' grey.
inline QColor traceColour(const QPalette& palette, int t, int analogChannels)
{
    static const QColor kLight[8] = {
        QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
        QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
        QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
    };
    static const QColor kDark[8] = {
        QColor(0x5d, 0xad, 0xec), QColor(0xff, 0xa3, 0x4f), QColor(0x6b, 0xd0, 0x6b),
        QColor(0xff, 0x70, 0x70), QColor(0xc3, 0x9b, 0xf0), QColor(0xd4, 0xa5, 0x7f),
        QColor(0xff, 0x9c, 0xde), QColor(0x4f, 0xe0, 0xee),
    };
    // Chosen by pointer: GCC 12 with the sanitizers indexed a conditional of
    // the two arrays as if it were the first element alone.
    const QColor* set = isDark(palette) ? kDark : kLight;
    if (t < analogChannels)
        return set[t % 8];
    return mix(palette.color(QPalette::Base), palette.color(QPalette::Text), 0.72);
}

inline QColor lossColour(const QPalette& palette)
{
    return isDark(palette) ? QColor(0xff, 0x4d, 0x5e) : QColor(0xdc, 0x14, 0x3c);
}

inline QColor silenceColour(const QPalette& palette)
{
    return isDark(palette) ? QColor(0xff, 0xc8, 0x3d) : QColor(0xc0, 0x8a, 0x00);
}

// The grid inside a plot, the axes and ticks, and the labels.
inline QColor gridColour(const QPalette& p)
{
    return mix(p.color(QPalette::Base), p.color(QPalette::Text), 0.11);
}
inline QColor axisColour(const QPalette& p)
{
    return mix(p.color(QPalette::Base), p.color(QPalette::Text), 0.5);
}
inline QColor labelColour(const QPalette& p)
{
    return mix(p.color(QPalette::Base), p.color(QPalette::Text), 0.75);
}

}  // namespace tarvo
