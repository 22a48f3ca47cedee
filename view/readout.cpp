#include "readout.h"

#include <algorithm>

#include "axis.h"
#include "run_chart.h"

namespace tarvo::view {

Readout readoutOf(const RunChart& chart, QPoint at)
{
    Readout r;
    if (!chart.run() || chart.run()->count() == 0)
        return r;
    const int bottom =
        chart.lanesRect().isEmpty() ? chart.plotRect().bottom() : chart.lanesRect().bottom();
    if (at.x() < chart.plotRect().left() || at.x() > chart.plotRect().right() ||
        at.y() < chart.plotRect().top() || at.y() > std::max(bottom, chart.marksRect().bottom()))
        return r;
    // The nearest record by the middle of its period: the one whose period
    // the point is in, where a loss leaves no gap, else the nearer neighbour.
    const double period = double(chart.run()->periodUs());
    const double t = std::max(0.0, chart.timeAt(at.x() + 0.5));
    const uint64_t n = chart.run()->count();
    uint64_t i = std::min(n - 1, chart.timeline().recordAt(t));
    if (i > 0) {
        const double here = chart.timeline().timeUs(i), before = chart.timeline().timeUs(i - 1);
        if (here > t && t - before - period / 2 < here - t)
            i--;
    }
    r.valid = true;
    r.record = i;
    r.timeUs = uint64_t(chart.timeline().timeUs(i));
    r.values = chart.run()->record(i);
    // A mark within a few pixels.
    const double slack = 5 * chart.span().width() / std::max(1, chart.plotRect().width());
    auto it = chart.runMarks().endingFrom(t - slack);
    if (it != chart.marks().end() && it->fromUs <= t + slack)
        r.mark = describe(it->mark, *chart.run());
    return r;
}

QString readoutHtml(const RunChart& chart, const Readout& r)
{
    if (!r.valid)
        return {};
    const int analog = chart.analogChannels();
    QString s =
        QString("<b>%1</b>&nbsp;&nbsp; record %2")
            .arg(QString::fromStdString(readoutTime(double(r.timeUs), chart.run()->periodKnown()))
                     .toHtmlEscaped())
            .arg(r.record + 1);
    for (int t = 0; t < analog; t++) {
        if (!chart.traceVisible(t))
            continue;
        s +=
            QString(
                "&nbsp;&nbsp; <span style=\"color:%1\">&#9632;</span>&nbsp;Ch&nbsp;%2&nbsp;<b>%3</b>")
                .arg(chart.traceColour(t).name())
                .arg(t + 1)
                .arg(r.values.ch[t]);
    }
    const recorded::Layout& l = chart.run()->records().layout();
    if (l.digital)
        s += QString("&nbsp;&nbsp; D1-D4&nbsp;<b>%1%2%3%4</b>")
                 .arg(int(r.values.line(0)))
                 .arg(int(r.values.line(1)))
                 .arg(int(r.values.line(2)))
                 .arg(int(r.values.line(3)));
    if (l.counter)
        s += QString("&nbsp;&nbsp; counter&nbsp;<b>%1</b>").arg(int(r.values.counter));
    if (!r.mark.isEmpty())
        s += QString("&nbsp;&nbsp; <span style=\"color:%1\">%2</span>")
                 .arg((r.mark.startsWith("silence") ? chart.silenceColour() : chart.lossColour())
                          .name(),
                      r.mark.toHtmlEscaped());
    return s;
}

}  // namespace tarvo::view
