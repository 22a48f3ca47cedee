#include "chart_drawing.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

#include "trace_colours.h"

namespace tarvo::rt {

namespace {

constexpr int kFullScale = 4095;
constexpr int kLanes = 4;    // digital lines: bits 7..4 of the status byte
constexpr int kLaneGap = 8;  // between the analog plot and the lanes
constexpr int kLegendTop = 6;

const QString kLinesName = "D1-D4 digital lines";

QColor channelColour(const QPalette& pal, int ch) { return traceColour(pal, ch, kChartChannels); }
QColor linesColour(const QPalette& pal) { return traceColour(pal, kChartChannels, 0); }

// The legend's entries and where each goes, on as many lines as the width
// needs; returns the bottom of the last line.
struct LegendEntry {
    QString name;
    int channel;  // kLinesBit: the digital lines
    QRect at;     // the swatch and the name
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
        e.at = QRect(x, y, w, fm.height());
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
        entries.push_back({kLinesName, kLinesBit, {}});
    return entries;
}

std::vector<LegendEntry> placedLegend(const QFont& font, QSize size, const ChartLayout& layout,
                                      QSize reserved, int* bottom = nullptr)
{
    const QFontMetrics fm(font);
    std::vector<LegendEntry> legend = legendEntries(layout);
    const int b = legend.empty() ? kLegendTop + fm.height()
                                 : placeLegend(legend, fm, size.width() - reserved.width());
    if (bottom)
        *bottom = std::max(b, reserved.height());
    return legend;
}

}  // namespace

ChartGeometry chartGeometry(const QFont& font, QSize size, const ChartLayout& layout,
                            QSize reserved)
{
    const QFontMetrics fm(font);
    const int lineH = fm.height();
    int legendBottom = 0;
    placedLegend(font, size, layout, reserved, &legendBottom);

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

int legendEntryAt(const QFont& font, QSize size, const ChartLayout& layout, QSize reserved,
                  QPoint at)
{
    for (const LegendEntry& e : placedLegend(font, size, layout, reserved))
        if (e.at.adjusted(-3, -2, 3, 2).contains(at))
            return e.channel;
    return -1;
}

void clearTraceColumns(QImage& traces, const ChartGeometry& geo, double dpr,
                       const QPalette& palette, int x0, int x1)
{
    QPainter p(&traces);
    p.fillRect(QRect(x0, 0, x1 - x0 + 1, traces.height()), palette.color(QPalette::Base));
    const double plotH = geo.plot.height() * dpr;
    p.setPen(gridColour(palette));
    for (int v : {1024, 2048, 3072}) {
        const int y = int((plotH - 1) * (1.0 - double(v) / kFullScale));
        p.drawLine(x0, y, x1, y);
    }
}

// Draws the columns `from`..the newest that fall in image columns x0..x1, where
// column id sits at x = id - origin. Each trace comes from the last column
// before `from` that has data.
void drawTraceColumns(QImage& traces, const ChartColumns& columns, const TraceStyle& style,
                      const ChartGeometry& geo, double dpr, std::int64_t from, std::int64_t oldest,
                      std::int64_t origin, int x0, int x1)
{
    const ChartLayout& layout = columns.layout();
    const QPalette& pal = *style.palette;
    const std::int64_t latest = columns.latest();
    oldest = std::max<std::int64_t>(oldest, 0);
    std::int64_t start = std::max(from, oldest);
    for (std::int64_t id = from - 1; id >= oldest; --id)
        if (columns.column(id)) {
            start = id;
            break;
        }
    // A column with no neighbour holding data gets a dot; the dots may reach
    // a column beyond the one drawn.
    const std::int64_t dotFrom = std::max(oldest, from - 1);
    auto lone = [&](std::int64_t id) {
        return !columns.column(id - 1) && !columns.column(id + 1) && columns.column(id);
    };

    QPainter p(&traces);
    p.setClipRect(QRect(x0, 0, x1 - x0 + 1, traces.height()));
    p.setRenderHint(QPainter::Antialiasing, true);
    const double plotH = geo.plot.height() * dpr;
    auto xOf = [&](std::int64_t id) { return double(id - origin) + 0.5; };
    auto yOf = [&](double v) { return 0.5 + (plotH - 1) * (1.0 - v / kFullScale); };

    QPolygonF line;
    line.reserve(int(4 * (latest - start + 1)));
    for (int ch = 0; ch < layout.channels; ++ch) {
        if (style.hidden & (1u << ch))
            continue;
        line.clear();
        std::int64_t previous = -1;
        for (std::int64_t id = start; id <= latest; ++id) {
            const ChartColumn* c = columns.column(id);
            if (!c)
                continue;
            const double x = xOf(id);
            if (id < from) {  // where the trace comes from
                line << QPointF(x, yOf(c->last[ch]));
                previous = id;
                continue;
            }
            // Records further apart than a column (a long period): the value
            // holds until the next record, as a step.
            if (previous >= 0 && id - previous > 1 && !line.isEmpty())
                line << QPointF(x - 1, line.back().y());
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
            previous = id;
        }
        // One pixel wide: a wider pen goes through the stroker, which costs
        // several times as much.
        const QColor colour = channelColour(pal, ch);
        p.setPen(QPen(colour, 1));
        if (line.size() > 1)
            p.drawPolyline(line);
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        for (std::int64_t id = dotFrom; id <= latest; ++id)
            if (lone(id))
                p.drawEllipse(QPointF(xOf(id), yOf(columns.column(id)->last[ch])), 2.5 * dpr,
                              2.5 * dpr);
        p.setBrush(Qt::NoBrush);
    }

    if (!layout.digital || (style.hidden & (1u << kLinesBit)))
        return;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(linesColour(pal), 1));
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

QString runTimeText(double seconds, int decimals)
{
    const bool negative = seconds < 0;
    double s = std::abs(seconds);
    const QString sign = negative ? "-" : "";
    if (s < 60)
        return sign + QString::number(s, 'f', decimals) + " s";
    const auto whole = static_cast<std::int64_t>(std::floor(s));
    const double frac = s - double(whole);
    const QString secs = QString("%1").arg(double(whole % 60) + frac, decimals ? 3 + decimals : 2,
                                           'f', decimals, QChar('0'));
    if (whole < 3600)
        return sign + QString("%1:%2").arg(whole / 60).arg(secs);
    return sign + QString("%1:%2:%3")
                      .arg(whole / 3600)
                      .arg((whole / 60) % 60, 2, 10, QChar('0'))
                      .arg(secs);
}

std::vector<TimeTick> timeTicks(const ChartColumns& columns, int width, const QFont& font)
{
    std::vector<TimeTick> ticks;
    if (width <= 0 || columns.width() <= 0)
        return ticks;
    const double span =
        columns.wholeRun() ? columns.columnUs() * columns.width() / 1e6 : columns.windowSeconds();
    const QFontMetrics fm(font);
    const double spacing = fm.horizontalAdvance("-00:00:00") + 16;
    const int maxTicks = std::max(1, int(width / spacing));
    static const double kSteps[] = {1,   2,   5,    10,   15,   20,   30,    60,    120,   300,
                                    600, 900, 1200, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps)
        if (span / s <= maxTicks) {
            step = s;
            break;
        }
    for (int i = 0; i * step <= span * (1 + 1e-9); ++i) {
        const double t = i * step;
        if (columns.wholeRun())
            ticks.push_back({(span - t) / span, runTimeText(t, 0)});
        else
            ticks.push_back({t / span, i == 0 ? QString("0 s") : runTimeText(-t, 0)});
    }
    return ticks;
}

QPixmap chartBackground(QSize size, double dpr, const QPalette& palette, const QFont& font,
                        const ChartLayout& layout, const ChartGeometry& geo, QSize reserved,
                        unsigned hidden, const std::vector<TimeTick>& ticks)
{
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(palette.color(QPalette::Base));
    QPainter p(&pm);
    p.setFont(font);
    const QFontMetrics fm(font);
    const QColor text = labelColour(palette), axis = axisColour(palette);
    const QColor faded = mix(palette.color(QPalette::Base), palette.color(QPalette::Text), 0.35);

    // A hidden trace's entry: a hollow swatch and a faded, struck-out name.
    for (const LegendEntry& e : placedLegend(font, size, layout, reserved)) {
        const bool off = hidden & (1u << e.channel);
        const int midY = e.at.y() + fm.height() / 2;
        const int x0 = e.at.x();
        if (e.channel < kLinesBit) {
            const QColor c = channelColour(palette, e.channel);
            if (off) {
                p.setPen(QPen(c, 1));
                p.drawRect(QRect(x0, midY - 3, 13, 6));
            } else {
                p.fillRect(QRect(x0, midY - 2, 14, 4), c);
            }
        } else {
            p.setPen(QPen(off ? faded : linesColour(palette), 1.5));
            p.drawPolyline(QPolygon({QPoint(x0, midY + 3), QPoint(x0 + 5, midY + 3),
                                     QPoint(x0 + 5, midY - 3), QPoint(x0 + 10, midY - 3),
                                     QPoint(x0 + 10, midY + 3), QPoint(x0 + 14, midY + 3)}));
        }
        QFont f = font;
        f.setStrikeOut(off);
        p.setFont(f);
        p.setPen(off ? faded : text);
        p.drawText(QPoint(x0 + 18, e.at.y() + fm.ascent()), e.name);
        p.setFont(font);
    }

    const QRect& plot = geo.plot;
    for (int v : {0, 1024, 2048, 3072, kFullScale}) {
        const double y = plot.top() + (plot.height() - 1) * (1.0 - double(v) / kFullScale);
        p.setPen(axis);
        p.drawLine(QPointF(plot.left() - 4, y), QPointF(plot.left() - 1, y));
        p.setPen(text);
        const QString label = QString::number(v);
        p.drawText(
            QPointF(plot.left() - 6 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1),
            label);
    }
    // Time along the bottom.
    const int below = geo.image.bottom() + 1;
    for (const TimeTick& t : ticks) {
        const double x = plot.right() - t.fromRight * (plot.width() - 1);
        p.setPen(axis);
        p.drawLine(QPointF(x, below), QPointF(x, below + 3));
        p.setPen(text);
        const double w = fm.horizontalAdvance(t.label);
        const double at = std::clamp(x - w / 2, 2.0, size.width() - w - 2);
        p.drawText(QPointF(at, below + 4 + fm.ascent()), t.label);
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

void drawChartOverlay(QPainter& p, const QFont& font, const QPalette& palette,
                      const ChartLayout& layout, const ChartGeometry& geo, double windowSeconds,
                      bool empty, int skip)
{
    p.setPen(axisColour(palette));
    p.drawRect(geo.plot.adjusted(-1, -1, 0, 0));
    if (layout.digital)
        p.drawLine(geo.lanes.topLeft() + QPoint(-1, -kLaneGap / 2),
                   geo.lanes.topRight() + QPoint(0, -kLaneGap / 2));

    const QFontMetrics fm(font);
    if (empty) {
        p.setPen(labelColour(palette));
        const QString what =
            windowSeconds > 0
                ? QString("The last %1 of a run are charted here.")
                      .arg(windowSeconds < 60 ? QString("%1 seconds").arg(windowSeconds)
                                              : QString("%1 minutes").arg(windowSeconds / 60))
                : QString("The whole run is charted here.");
        p.drawText(geo.plot, Qt::AlignCenter | Qt::TextWordWrap,
                   layout.run == 0 ? what : QString("Waiting for records..."));
    }
    if (skip > 0 && skip != kChartOff) {
        const QString note = QString("1 record in %1 shown").arg(skip + 1);
        const QRect box(geo.plot.right() - 8 - fm.horizontalAdvance(note) - 6, geo.plot.top() + 6,
                        fm.horizontalAdvance(note) + 12, fm.height() + 4);
        QColor ground = palette.color(QPalette::Base);
        ground.setAlpha(220);
        p.fillRect(box, ground);
        p.setPen(labelColour(palette));
        p.drawText(box, Qt::AlignCenter, note);
    }
}

void drawReadout(QPainter& p, const QFont& font, const QPalette& palette, const ChartGeometry& geo,
                 int x, const std::vector<ReadoutLine>& lines)
{
    p.setPen(QPen(axisColour(palette), 1, Qt::DashLine));
    p.drawLine(x, geo.image.top(), x, geo.image.bottom());
    if (lines.empty())
        return;
    const QFontMetrics fm(font);
    int w = 0;
    for (const ReadoutLine& l : lines)
        w = std::max(w, fm.horizontalAdvance(l.text) + (l.swatch.isValid() ? 16 : 0));
    const int h = int(lines.size()) * fm.height() + 8;
    QRect box(x + 8, geo.plot.top() + 8, w + 12, h);
    if (box.right() > geo.plot.right() - 4)
        box.moveRight(x - 8);
    QColor ground = palette.color(QPalette::ToolTipBase);
    ground.setAlpha(235);
    p.fillRect(box, ground);
    p.setPen(axisColour(palette));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.setFont(font);
    int y = box.top() + 4;
    for (const ReadoutLine& l : lines) {
        int tx = box.left() + 6;
        if (l.swatch.isValid()) {
            p.fillRect(QRect(tx, y + fm.height() / 2 - 2, 10, 4), l.swatch);
            tx += 16;
        }
        p.setPen(palette.color(QPalette::ToolTipText));
        p.drawText(QPoint(tx, y + fm.ascent()), l.text);
        y += fm.height();
    }
}

}  // namespace tarvo::rt
