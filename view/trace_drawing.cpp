#include "trace_drawing.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "run_chart.h"

namespace tarvo::view {

using recorded::Extent;

// The traces of a picture in columns, written straight into the plot's
// image: in each column a vertical run of pixels from the least to the
// greatest value, joined with the previous column's run (so a trace is two
// pixels wide and has no breaks where it is steep). Column by
// column (the rows of one column stay in the cache for the next), the traces
// from the last (drawn on top) to the first; a pixel that a later trace
// covers is not written again, so a column costs at most about its height,
// however many traces cross it.
void rasterColumns(QImage& plot, const RunChart& chart, const Picture& pic,
                   const std::vector<unsigned>& channels)
{
    const int w = std::min(plot.width(), int(pic.width)), h = plot.height();
    const double scale = (h - 1) / (chart.valueTo() - chart.valueFrom());
    auto row = [&](double v) { return int(std::lround((chart.valueTo() - v) * scale)); };
    struct Trace {
        const std::vector<Extent>* cols;
        QRgb colour;
        int prevTop = 0, prevBottom = -1;  // the previous column's run; none when bottom < top
    };
    std::vector<Trace> traces;
    const int analog = chart.analogChannels();
    for (size_t k = channels.size(); k-- > 0;)
        if (int(channels[k]) < analog)
            traces.push_back({&pic.columns[k], chart.traceColour(int(channels[k])).rgb()});
    uchar* const bits = plot.bits();
    const qsizetype stride = plot.bytesPerLine();
    for (int x = 0; x < w; x++) {
        int coverTop = 1, coverBottom = 0;  // rows written in this column; none when top > bottom
        uchar* const column = bits + qsizetype(x) * 4;
        for (Trace& t : traces) {
            const Extent& e = (*t.cols)[size_t(x)];
            if (e.empty()) {
                t.prevBottom = t.prevTop - 1;
                continue;
            }
            int top = row(e.hi), bottom = row(e.lo);
            const int runTop = top, runBottom = bottom;
            if (t.prevBottom >=
                t.prevTop) {  // the previous column's run too: two pixels wide, joined
                top = std::min(top, t.prevTop);
                bottom = std::max(bottom, t.prevBottom);
            }
            t.prevTop = runTop;
            t.prevBottom = runBottom;
            top = std::max(top, 0);
            bottom = std::min(bottom, h - 1);
            if (top > bottom)
                continue;
            auto write = [&](int from, int to) {
                uchar* px = column + qsizetype(from) * stride;
                for (int y = from; y <= to; y++, px += stride)
                    *reinterpret_cast<QRgb*>(px) = t.colour;
            };
            if (coverTop > coverBottom) {
                write(top, bottom);
                coverTop = top;
                coverBottom = bottom;
                continue;
            }
            write(top, std::min(bottom, coverTop - 1));
            write(std::max(top, coverBottom + 1), bottom);
            // What is covered is kept as one stretch: the union where they
            // touch, else the longer of the two.
            if (top <= coverBottom + 1 && bottom >= coverTop - 1) {
                coverTop = std::min(coverTop, top);
                coverBottom = std::max(coverBottom, bottom);
            } else if (bottom - top > coverBottom - coverTop) {
                coverTop = top;
                coverBottom = bottom;
            }
        }
    }
}

void drawTraces(QPainter& p, const RunChart& chart, const Picture& pic,
                const std::vector<unsigned>& channels)
{
    const int analog = chart.analogChannels();
    const double left = chart.plotRect().left();
    p.save();
    p.setClipRect(chart.plotRect().adjusted(1, 1, -1, -1));
    QPolygonF line;
    for (size_t k = 0; k < channels.size(); k++) {
        const int t = int(channels[k]);
        if (t >= analog)
            continue;
        const QColor colour = chart.traceColour(t);
        if (pic.kind == Picture::Kind::Columns) {
            // One pixel wide and not smoothed: a wider or smoothed pen goes
            // through the stroker, several times the cost for a column each.
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(QPen(colour, 1));
            line.clear();
            const std::vector<Extent>& cols = pic.columns[k];
            auto flush = [&] {
                if (line.size() == 1)
                    p.drawPoint(line.front());
                else if (line.size() > 1)
                    p.drawPolyline(line);
                line.clear();
            };
            for (unsigned x = 0; x < cols.size(); x++) {
                const Extent& e = cols[x];
                if (e.empty()) {  // no record here: records were lost
                    flush();
                    continue;
                }
                const double px = left + x + 0.5;
                const double ylo = chart.yOf(e.lo), yhi = chart.yOf(e.hi);
                if (e.lo == e.hi) {
                    line << QPointF(px, ylo);
                } else if (line.isEmpty() ||
                           std::fabs(line.back().y() - ylo) <= std::fabs(line.back().y() - yhi)) {
                    line << QPointF(px, ylo) << QPointF(px, yhi);
                } else {
                    line << QPointF(px, yhi) << QPointF(px, ylo);
                }
            }
            flush();
        } else if (pic.kind == Picture::Kind::Points) {
            const auto& pts = pic.points;
            const double apart = pts.size() > 1 ? (pts.back().x - pts.front().x) /
                                                      chart.pixelRatio() / double(pts.size() - 1)
                                                : 0;
            // Smoothed, and a little wider, once the records are far apart;
            // closer, one pixel and not smoothed (a smoothed or wider pen
            // costs many times as much for a line of a thousand points).
            p.setRenderHint(QPainter::Antialiasing, apart >= 0);
            p.setPen(QPen(colour, 1));
            line.clear();
            for (size_t i = 0; i < pts.size(); i++) {
                if (pts[i].afterLoss && line.size() > 0) {
                    p.drawPolyline(line);
                    line.clear();
                }
                line << QPointF(left + pts[i].x / chart.pixelRatio(), chart.yOf(pic.values[k][i]));
            }
            if (line.size() > 1)
                p.drawPolyline(line);
            // Each record a dot, once they are far enough apart to tell.
            if (apart >= 6) {
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
                const double r = apart >= 14 ? 2.6 : 1.9;
                for (size_t i = 0; i < pts.size(); i++)
                    p.drawEllipse(
                        QPointF(left + pts[i].x / chart.pixelRatio(), chart.yOf(pic.values[k][i])),
                        r, r);
                p.setBrush(Qt::NoBrush);
            }
        }
    }
    p.restore();
}

void drawLanes(QPainter& p, const RunChart& chart, const Picture& pic,
               const std::vector<unsigned>& channels)
{
    if (chart.lanesRect().isEmpty())
        return;
    const int analog = chart.analogChannels();
    const double left = chart.plotRect().left();
    p.save();
    p.setClipRect(chart.lanesRect().adjusted(1, 0, -1, 0));
    p.setRenderHint(QPainter::Antialiasing, false);
    QPolygonF line;
    for (size_t k = 0; k < channels.size(); k++) {
        const int t = int(channels[k]);
        if (t < analog)
            continue;
        const int lane = t - analog;
        const double high = chart.lanesRect().top() + lane * chart.laneHeight() + 3;
        const double low = chart.lanesRect().top() + (lane + 1) * chart.laneHeight() - 4;
        p.setPen(QPen(chart.traceColour(t), 1));
        line.clear();
        auto flush = [&] {
            if (line.size() > 1)
                p.drawPolyline(line);
            line.clear();
        };
        auto step = [&](double x, double y) {
            if (!line.isEmpty() && line.back().y() != y)
                line << QPointF(x, line.back().y());
            line << QPointF(x, y);
        };
        if (pic.kind == Picture::Kind::Columns) {
            const std::vector<Extent>& cols = pic.columns[k];
            for (unsigned x = 0; x < cols.size(); x++) {
                const Extent& e = cols[x];
                if (e.empty()) {
                    flush();
                    continue;
                }
                const double px = left + x / chart.pixelRatio();
                if (e.lo == e.hi) {
                    step(px, e.lo ? high : low);
                    line << QPointF(px + 1 / chart.pixelRatio(), e.lo ? high : low);
                } else {  // both levels in this column
                    const bool fromHigh = !line.isEmpty() && line.back().y() == high;
                    line << QPointF(px, fromHigh ? high : low) << QPointF(px, fromHigh ? low : high)
                         << QPointF(px + 1 / chart.pixelRatio(), fromHigh ? low : high);
                }
            }
        } else if (pic.kind == Picture::Kind::Points) {
            const auto& pts = pic.points;
            for (size_t i = 0; i < pts.size(); i++) {
                if (pts[i].afterLoss)
                    flush();
                const double y = pic.values[k][i] ? high : low;
                step(left + pts[i].x / chart.pixelRatio(), y);
                // A record holds its level for its period.
                const double next = i + 1 < pts.size() && !pts[i + 1].afterLoss
                                        ? pts[i + 1].x / chart.pixelRatio()
                                        : pts[i].x / chart.pixelRatio() +
                                              double(chart.run()->periodUs()) *
                                                  chart.plotRect().width() / chart.span().width();
                line << QPointF(left + next, y);
            }
        }
        flush();
    }
    p.restore();
}

}  // namespace tarvo::view
