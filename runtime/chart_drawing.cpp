#include "chart_drawing.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace tarvo::rt {

namespace {

constexpr int kFullScale = 4095;
constexpr int kLanes = 4;    // digital lines: bits 7..4 of the status byte
constexpr int kLaneGap = 8;  // between the analog plot and the lanes
constexpr int kLegendTop = 6;

// Eight colours that stay apart on a white ground and for most colour-blind eyes.
const QColor kTraceColours[kChartChannels] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
};
const QColor kLineColour(0x44, 0x44, 0x44);
const QColor kGridColour(0xe4, 0xe4, 0xe4);
const QColor kAxisColour(0x88, 0x88, 0x88);
const QColor kTextColour(0x55, 0x55, 0x55);

const QString kLinesName = "D1-D4 digital lines";

// The legend's entries and where each goes, on as many lines as the width
// needs; returns the bottom of the last line.
struct LegendEntry {
    QString name;
    int channel;  // -1: the digital lines
    QPoint at;
};

int placeLegend(std::vector<LegendEntry>& entries, const QFontMetrics& fm, int width)
{
    int x = 10, y = kLegendTop;
    for (LegendEntry& e : entries) {
        const int w = 18 + fm.horizontalAdvance(e.name);
        if (x > 10 && x + w > width - 10) {
            x = 10;
            y += fm.height() + 2;
        }
        e.at = QPoint(x, y);
        x += w + 12;
    }
    return y + fm.height();
}

std::vector<LegendEntry> legendEntries(const ChartLayout& layout)
{
    std::vector<LegendEntry> entries;
    if (layout.run == 0)
        return entries;
    for (int i = 0; i < layout.channels; ++i)
        entries.push_back({QString("Ch %1").arg(i + 1), i, {}});
    if (layout.digital)
        entries.push_back({kLinesName, -1, {}});
    return entries;
}

}  // namespace

ChartGeometry chartGeometry(const QFont& font, QSize size, const ChartLayout& layout)
{
    const QFontMetrics fm(font);
    const int lineH = fm.height();
    std::vector<LegendEntry> legend = legendEntries(layout);
    const int legendBottom =
        legend.empty() ? kLegendTop + lineH : placeLegend(legend, fm, size.width());

    ChartGeometry g;
    const int left = fm.horizontalAdvance("4095") + 14;
    const int right = std::max(left + 20, size.width() - 12);
    const int top = legendBottom + 8;
    const int bottom = std::max(top + 40, size.height() - lineH - 10);  // the time labels below
    g.laneHeight = std::max(10, lineH);
    const int lanesH = layout.digital ? kLanes * g.laneHeight + kLaneGap : 0;
    g.plot = QRect(QPoint(left, top), QPoint(right - 1, std::max(top + 20, bottom - lanesH) - 1));
    if (layout.digital)
        g.lanes =
            QRect(left, g.plot.bottom() + 1 + kLaneGap, g.plot.width(), kLanes * g.laneHeight);
    g.image = g.plot.united(g.lanes);
    return g;
}

void clearTraceColumns(QImage& traces, const ChartGeometry& geo, double dpr, const QColor& ground,
                       int x0, int x1)
{
    QPainter p(&traces);
    p.fillRect(QRect(x0, 0, x1 - x0 + 1, traces.height()), ground);
    const double plotH = geo.plot.height() * dpr;
    p.setPen(kGridColour);
    for (int v : {1024, 2048, 3072}) {
        const int y = int((plotH - 1) * (1.0 - double(v) / kFullScale));
        p.drawLine(x0, y, x1, y);
    }
}

// Draws the columns `from`..the newest that fall in image columns x0..x1, where
// column id sits at x = id - origin. Each trace comes from the last column
// before `from` that has data.
void drawTraceColumns(QImage& traces, const ChartColumns& columns, const ChartLayout& layout,
                      const ChartGeometry& geo, double dpr, std::int64_t from, std::int64_t origin,
                      int x0, int x1)
{
    const std::int64_t latest = columns.latest();
    const std::int64_t oldest = latest - traces.width() + 1;
    std::int64_t start = std::max(from, std::int64_t(0));
    for (std::int64_t id = from - 1; id >= oldest && id >= 0; --id)
        if (columns.column(id)) {
            start = id;
            break;
        }

    QPainter p(&traces);
    p.setClipRect(QRect(x0, 0, x1 - x0 + 1, traces.height()));
    p.setRenderHint(QPainter::Antialiasing, true);
    const double plotH = geo.plot.height() * dpr;
    auto xOf = [&](std::int64_t id) { return double(id - origin) + 0.5; };
    auto yOf = [&](double v) { return 0.5 + (plotH - 1) * (1.0 - v / kFullScale); };

    QPolygonF line;
    line.reserve(int(4 * (latest - start + 1)));
    for (int ch = 0; ch < layout.channels; ++ch) {
        line.clear();
        for (std::int64_t id = start; id <= latest; ++id) {
            const ChartColumn* c = columns.column(id);
            if (!c)
                continue;
            const double x = xOf(id);
            if (id < from) {  // where the trace comes from
                line << QPointF(x, yOf(c->last[ch]));
                continue;
            }
            // Through the column's extremes in the order the trace most likely
            // took them, from its first value to its last.
            line << QPointF(x, yOf(c->first[ch]));
            if (c->lo[ch] != c->hi[ch]) {
                const bool rising = c->first[ch] <= c->last[ch];
                line << QPointF(x, yOf(rising ? c->lo[ch] : c->hi[ch]))
                     << QPointF(x, yOf(rising ? c->hi[ch] : c->lo[ch]));
            }
            if (c->last[ch] != c->first[ch] || c->lo[ch] != c->hi[ch])
                line << QPointF(x, yOf(c->last[ch]));
        }
        // One pixel wide: a wider pen goes through the stroker, which costs
        // several times as much.
        p.setPen(QPen(kTraceColours[ch], 1));
        if (line.size() == 1)
            p.drawPoint(line.front());
        else
            p.drawPolyline(line);
    }

    if (!layout.digital)
        return;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kLineColour, 1));
    const double laneTop = (geo.lanes.top() - geo.image.top()) * dpr;
    const double laneH = geo.laneHeight * dpr;
    for (int lane = 0; lane < kLanes; ++lane) {
        const int bit = 7 - lane;
        const double high = laneTop + lane * laneH + 2;
        const double low = laneTop + (lane + 1) * laneH - 3;
        auto y = [&](std::uint8_t s) { return (s >> bit) & 1 ? high : low; };
        line.clear();
        for (std::int64_t id = start; id <= latest; ++id) {
            const ChartColumn* c = columns.column(id);
            if (!c)
                continue;
            const double x = std::floor(xOf(id));
            if (id < from) {
                line << QPointF(x, y(c->linesLast));
                continue;
            }
            if (!line.isEmpty() && line.back().y() != y(c->linesFirst))
                line << QPointF(x, line.back().y());
            line << QPointF(x, y(c->linesFirst));
            if (((c->linesLo ^ c->linesHi) >> bit) & 1)  // toggled within the column
                line << QPointF(x, y(c->linesFirst) == high ? low : high);
            line << QPointF(x, y(c->linesLast));
        }
        if (!line.isEmpty())
            line << QPointF(std::floor(xOf(latest)) + 1, line.back().y());
        p.drawPolyline(line);
    }
}

// Everything but the traces: the legend, the scales, the lane names.
// Everything but the traces: the legend, the scales, the lane names.
QPixmap chartBackground(QSize size, double dpr, const QPalette& palette, const QFont& font,
                        const ChartLayout& layout, const ChartGeometry& geo)
{
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(palette.color(QPalette::Base));
    QPainter p(&pm);
    p.setFont(font);
    const QFontMetrics fm(font);

    std::vector<LegendEntry> legend = legendEntries(layout);
    placeLegend(legend, fm, size.width());
    for (const LegendEntry& e : legend) {
        const int midY = e.at.y() + fm.height() / 2;
        if (e.channel >= 0) {
            p.fillRect(QRect(e.at.x(), midY - 2, 14, 4), kTraceColours[e.channel]);
        } else {
            p.setPen(QPen(kLineColour, 1.5));
            const int x0 = e.at.x();
            p.drawPolyline(QPolygon({QPoint(x0, midY + 3), QPoint(x0 + 5, midY + 3),
                                     QPoint(x0 + 5, midY - 3), QPoint(x0 + 10, midY - 3),
                                     QPoint(x0 + 10, midY + 3), QPoint(x0 + 14, midY + 3)}));
        }
        p.setPen(kTextColour);
        p.drawText(QPoint(e.at.x() + 18, e.at.y() + fm.ascent()), e.name);
    }

    const QRect& plot = geo.plot;
    for (int v : {0, 1024, 2048, 3072, kFullScale}) {
        const double y = plot.top() + (plot.height() - 1) * (1.0 - double(v) / kFullScale);
        p.setPen(kAxisColour);
        p.drawLine(QPointF(plot.left() - 4, y), QPointF(plot.left() - 1, y));
        p.setPen(kTextColour);
        const QString label = QString::number(v);
        p.drawText(
            QPointF(plot.left() - 6 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
            label);
    }
    // Seconds back from the newest record, along the bottom.
    const int below = geo.image.bottom() + 1;
    for (int s = 0; s <= int(ChartColumns::kWindowSeconds); ++s) {
        const double x = plot.right() - s * (plot.width() - 1) / ChartColumns::kWindowSeconds;
        p.setPen(kAxisColour);
        p.drawLine(QPointF(x, below), QPointF(x, below + 3));
        p.setPen(kTextColour);
        const QString label = s == 0 ? QString("0 s") : QString("-%1 s").arg(s);
        p.drawText(QPointF(x - fm.horizontalAdvance(label) / 2.0, below + 4 + fm.ascent()), label);
    }
    if (layout.digital) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const QString label = QString("D%1").arg(lane + 1);
            const int low = geo.lanes.top() + (lane + 1) * geo.laneHeight - 3;
            p.drawText(QPointF(plot.left() - 6 - fm.horizontalAdvance(label), low), label);
        }
    }
    return pm;
}

void drawChartOverlay(QPainter& p, const QFont& font, const ChartLayout& layout,
                      const ChartGeometry& geo, bool empty, int skip)
{
    p.setPen(kAxisColour);
    p.drawRect(geo.plot.adjusted(-1, -1, 0, 0));
    if (layout.digital)
        p.drawLine(geo.lanes.topLeft() + QPoint(-1, -kLaneGap / 2),
                   geo.lanes.topRight() + QPoint(0, -kLaneGap / 2));

    const QFontMetrics fm(font);
    if (empty) {
        p.setPen(kTextColour);
        p.drawText(geo.plot, Qt::AlignCenter | Qt::TextWordWrap,
                   layout.run == 0 ? QString("The last %1 seconds of a run are charted here.")
                                         .arg(int(ChartColumns::kWindowSeconds))
                                   : QString("Waiting for records..."));
    }
    if (skip > 0 && skip != kChartOff) {
        const QString note = QString("1 record in %1 shown").arg(skip + 1);
        const QRect box(geo.plot.right() - 8 - fm.horizontalAdvance(note) - 6, geo.plot.top() + 6,
                        fm.horizontalAdvance(note) + 12, fm.height() + 4);
        p.fillRect(box, QColor(255, 255, 255, 220));
        p.setPen(kTextColour);
        p.drawText(box, Qt::AlignCenter, note);
    }
}

}  // namespace tarvo::rt
