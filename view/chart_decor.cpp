#include "chart_decor.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <climits>
#include <cmath>

#include "axis.h"
#include "trace_colours.h"
#include "run_chart.h"

namespace tarvo::view {

using recorded::Event;

namespace {

constexpr int kLines = 4;  // digital lines d1..d4

}  // namespace

void drawGrid(QPainter& p, const RunChart& chart)
{
    const QPalette& pal = chart.palette();
    const QColor grid = mix(pal.color(QPalette::Base), pal.color(QPalette::Text), 0.11);
    p.setPen(grid);
    const QFontMetrics fm(chart.font());
    for (const Tick& t : valueTicks(chart.valueFrom(), chart.valueTo(), chart.plotRect().height(),
                                    2.5 * fm.height())) {
        const int y = int(std::lround(chart.yOf(t.at) - 0.5));
        p.drawLine(chart.plotRect().left(), y, chart.plotRect().right(), y);
    }
    if (!chart.run())
        return;
    const double end = chart.limits().end;
    for (const Tick& t :
         timeTicks(chart.span(), chart.plotRect().width(),
                   fm.horizontalAdvance("00:00:00.000") + 24, end, chart.run()->periodKnown())) {
        const int x = int(std::floor(chart.xOf(t.at)));
        p.drawLine(x, chart.plotRect().top(), x, chart.plotRect().bottom());
        if (!chart.lanesRect().isEmpty())
            p.drawLine(x, chart.lanesRect().top(), x, chart.lanesRect().bottom());
    }
}

// Losses and silences: in the plot (`inPlot`, under the traces) a band over
// a loss's gap and a line at each mark; in the row under the lanes, a marker.
// Marks closer than a pixel are drawn once.
void drawMarks(QPainter& p, const RunChart& chart, bool inPlot)
{
    const double lo = chart.span().from, hi = chart.span().to;
    auto firstIn = chart.runMarks().endingFrom(lo);
    const int top = chart.plotRect().top();
    const int bottom =
        chart.lanesRect().isEmpty() ? chart.plotRect().bottom() : chart.lanesRect().bottom();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    if (inPlot)
        p.setClipRect(QRect(chart.plotRect().topLeft(), QPoint(chart.plotRect().right(), bottom)));
    int lastX[2] = {INT32_MIN, INT32_MIN};
    // Lines through the plot only where the marks leave room between them.
    auto lastIn = std::upper_bound(firstIn, chart.marks().end(), hi,
                                   [](double us, const MarkAt& m) { return us < m.fromUs; });
    if (inPlot && (lastIn - firstIn) * 12 > chart.plotRect().width()) {
        p.restore();
        return;
    }
    for (auto it = firstIn; it != lastIn; ++it) {
        const bool loss = it->mark.type == Event::Type::Loss;
        QColor c = loss ? chart.lossColour() : chart.silenceColour();
        const double x0 = chart.xOf(it->fromUs), x1 = chart.xOf(it->toUs);
        const int x = int(std::floor((x0 + x1) / 2));
        if (x == lastX[loss])
            continue;
        lastX[loss] = x;
        if (inPlot) {
            if (x1 - x0 >= 2) {  // the gap itself is wide enough to see
                QColor band = c;
                band.setAlpha(40);
                p.fillRect(QRectF(x0, top, x1 - x0, bottom - top + 1), band);
            }
            c.setAlpha(150);
            p.setPen(QPen(c, 1, loss ? Qt::DashLine : Qt::DotLine));
            p.drawLine(x, top, x, bottom);
        } else {
            // A triangle pointing up at the axis for a loss, a diamond for a silence.
            const int y0 = chart.marksRect().top() + 1, y1 = chart.marksRect().bottom();
            QPolygon shape;
            if (loss)
                shape << QPoint(x, y0) << QPoint(x + 5, y1) << QPoint(x - 5, y1);
            else
                shape << QPoint(x, y0) << QPoint(x + 5, (y0 + y1) / 2) << QPoint(x, y1)
                      << QPoint(x - 5, (y0 + y1) / 2);
            p.setPen(c);
            p.setBrush(c);
            p.drawPolygon(shape);
        }
    }
    p.restore();
}

void drawLegend(QPainter& p, const RunChart& chart)
{
    const QPalette& pal = chart.palette();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int t = 0; t < chart.traces(); t++) {
        const QRect r = chart.legendRect(t);
        const bool on = chart.traceVisible(t);
        const QColor c = chart.traceColour(t);
        const QRect swatch(r.left() + 2, r.center().y() - 1, 16, 3);
        if (on) {
            p.fillRect(swatch, c);
        } else {
            p.setPen(mix(pal.color(QPalette::Window), c, 0.6));
            p.setBrush(Qt::NoBrush);
            p.drawRect(swatch.adjusted(0, -1, -1, 0));
        }
        p.setPen(on ? pal.color(QPalette::WindowText)
                    : mix(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.45));
        QFont f = chart.font();
        f.setStrikeOut(!on);
        p.setFont(f);
        p.drawText(QRect(r.left() + 24, r.top(), r.width() - 24, r.height()),
                   Qt::AlignVCenter | Qt::AlignLeft, chart.traceName(t));
    }
    p.restore();
}

void drawAxes(QPainter& p, const RunChart& chart)
{
    const QPalette& pal = chart.palette();
    const QFontMetrics fm(chart.font());
    p.setPen(pal.color(QPalette::WindowText));
    for (const Tick& t : valueTicks(chart.valueFrom(), chart.valueTo(), chart.plotRect().height(),
                                    2.5 * fm.height())) {
        const int y = int(std::lround(chart.yOf(t.at)));
        p.drawText(QRect(0, y - fm.height() / 2, chart.plotRect().left() - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, QString::fromStdString(t.label));
    }
    for (int lane = 0; !chart.lanesRect().isEmpty() && lane < kLines; lane++) {
        const QRect r(0, chart.lanesRect().top() + lane * chart.laneHeight(),
                      chart.plotRect().left() - 6, chart.laneHeight());
        p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, QString("D%1").arg(lane + 1));
    }
    if (!chart.run())
        return;
    const double end = chart.limits().end;
    const int spacing = fm.horizontalAdvance("00:00:00.000") + 24;
    const QColor tickColour =
        mix(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.5);
    for (const Tick& t : timeTicks(chart.span(), chart.plotRect().width(), spacing, end,
                                   chart.run()->periodKnown())) {
        const int x = int(std::floor(chart.xOf(t.at)));
        const QString label = QString::fromStdString(t.label);
        const int w = fm.horizontalAdvance(label);
        p.setPen(tickColour);
        p.drawLine(x, chart.axisRect().top(), x, chart.axisRect().top() + 3);
        const int lx = std::clamp(x - w / 2, 0, chart.width() - w - 2);
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QRect(lx, chart.axisRect().top() + 4, w + 2, fm.height()),
                   Qt::AlignLeft | Qt::AlignTop, label);
    }
}

void drawHover(QPainter& p, const RunChart& chart, QPoint at)
{
    if (!chart.run())
        return;
    const Readout r = chart.readoutAt(at);
    if (!r.valid)
        return;
    const QPalette& pal = chart.palette();
    const double x = std::floor(chart.xOf(double(r.timeUs))) + 0.5;
    const int bottom =
        chart.lanesRect().isEmpty() ? chart.plotRect().bottom() : chart.lanesRect().bottom();
    QColor c = pal.color(QPalette::Text);
    c.setAlpha(110);
    p.save();
    p.setPen(QPen(c, 1));
    p.drawLine(QPointF(x, chart.plotRect().top()), QPointF(x, bottom));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(chart.plotRect());
    for (int t = 0; t < chart.analogChannels(); t++) {
        if (!chart.traceVisible(t))
            continue;
        p.setPen(QPen(pal.color(QPalette::Base), 1.5));
        p.setBrush(chart.traceColour(t));
        p.drawEllipse(QPointF(x, chart.yOf(r.values.ch[t])), 3.5, 3.5);
    }
    p.restore();
}

}  // namespace tarvo::view
