#include "chart.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tarvo::rt {

namespace {

constexpr int kFullScale = 4095;
constexpr int kLanes = 4;     // digital lines: bits 7..4 of the status byte
constexpr int kLaneGap = 8;   // between the analog plot and the lanes
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

StripChart::StripChart(ChartFeed& feed, QWidget* parent)
    : LaidOutWidget({640, 420}, {320, 240}, parent), feed_(feed), batch_(4096)
{
    setObjectName("liveChart");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    clock_.start();
    relayout();
    feed_.attach();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        drain();
        if (restatic_)
            update();
        else if (redrawAll_ || columns_.changed())
            update(geo_.image);
    });
    timer_.start(kFrameMs);
}

StripChart::~StripChart()
{
    feed_.detach();
}

// ---- data ------------------------------------------------------------------

void StripChart::restart(const ChartLayout& layout)
{
    columns_.restart(layout, clock_.elapsed());
    feed_.setSkip(0);
    relayout();  // the legend may take another line
    redrawAll_ = true;
    restatic_ = true;
}

void StripChart::drain()
{
    for (;;) {
        const std::size_t n = feed_.drain(batch_.data(), batch_.size());
        for (std::size_t i = 0; i < n; ++i) {
            const ChartPoint& p = batch_[i];
            if (p.run != static_cast<std::uint16_t>(layout().run)) {
                // The first record of a new run: its layout is out already.
                const ChartLayout l = feed_.layout();
                if (p.run != static_cast<std::uint16_t>(l.run))
                    continue;  // left over from an earlier run
                restart(l);
            }
            columns_.take(p);
        }
        if (n < batch_.size())
            break;
    }
    adjustSkip();
}

void StripChart::adjustSkip()
{
    const std::optional<int> skip = columns_.skipAt(clock_.elapsed());
    if (skip && *skip != feed_.skip())
        feed_.setSkip(*skip);
}

// ---- layout ----------------------------------------------------------------

void StripChart::relayout()
{
    const QFontMetrics fm(font());
    const int lineH = fm.height();
    std::vector<LegendEntry> legend = legendEntries(layout());
    const int legendBottom = legend.empty() ? kLegendTop + lineH : placeLegend(legend, fm, width());

    Geometry g;
    const int left = fm.horizontalAdvance("4095") + 14;
    const int right = std::max(left + 20, width() - 12);
    const int top = legendBottom + 8;
    const int bottom = std::max(top + 40, height() - lineH - 10);  // the time labels below
    g.laneHeight = std::max(10, lineH);
    const int lanesH = layout().digital ? kLanes * g.laneHeight + kLaneGap : 0;
    g.plot = QRect(QPoint(left, top), QPoint(right - 1, std::max(top + 20, bottom - lanesH) - 1));
    if (layout().digital)
        g.lanes = QRect(left, g.plot.bottom() + 1 + kLaneGap, g.plot.width(), kLanes * g.laneHeight);
    g.image = g.plot.united(g.lanes);
    geo_ = g;

    dpr_ = devicePixelRatioF();
    const QSize devicePixels(std::max(1, int(std::lround(g.image.width() * dpr_))),
                             std::max(1, int(std::lround(g.image.height() * dpr_))));
    if (traces_.size() != devicePixels) {
        traces_ = QImage(devicePixels, QImage::Format_RGB32);
        traces_.fill(palette().color(QPalette::Base));
        redrawAll_ = true;
    }
    if (columns_.width() != devicePixels.width()) {
        columns_.rebin(devicePixels.width());
        redrawAll_ = true;
    }
    restatic_ = true;
}

// ---- drawing ---------------------------------------------------------------

namespace {

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

// Brings the traces' image up to date. The image is a ring: column `id` sits
// at x = id mod width, so nothing moves when time goes on; a frame clears and
// draws only the columns that changed since the last one, in at most two
// stretches of the image, and painting puts the two halves in order.
void StripChart::renderTraces()
{
    const std::int64_t width = traces_.width();
    const std::int64_t latest = columns_.latest();
    if (latest < 0) {
        clearImageColumns(0, int(width) - 1);
    } else {
        std::int64_t from = latest - width + 1;
        if (!redrawAll_ && shown_ >= 0 && latest - shown_ < width)
            from = std::max(std::min(columns_.oldestChanged(), shown_ + 1), from);
        for (std::int64_t id = from; id <= latest;) {
            const std::int64_t origin = floorDiv(id, width) * width;
            const std::int64_t end = std::min(latest, origin + width - 1);
            clearImageColumns(int(id - origin), int(end - origin));
            drawColumns(from, origin, int(id - origin), int(end - origin));
            id = end + 1;
        }
    }
    shown_ = latest;
    columns_.clearChanged();
    redrawAll_ = false;
}

void StripChart::clearImageColumns(int x0, int x1)
{
    QPainter p(&traces_);
    p.fillRect(QRect(x0, 0, x1 - x0 + 1, traces_.height()), palette().color(QPalette::Base));
    const double plotH = geo_.plot.height() * dpr_;
    p.setPen(kGridColour);
    for (int v : {1024, 2048, 3072}) {
        const int y = int((plotH - 1) * (1.0 - double(v) / kFullScale));
        p.drawLine(x0, y, x1, y);
    }
}

// Draws the columns `from`..the newest that fall in image columns x0..x1, where
// column id sits at x = id - origin. Each trace comes from the last column
// before `from` that has data.
void StripChart::drawColumns(std::int64_t from, std::int64_t origin, int x0, int x1)
{
    const std::int64_t latest = columns_.latest();
    const std::int64_t oldest = latest - traces_.width() + 1;
    std::int64_t start = std::max(from, std::int64_t(0));
    for (std::int64_t id = from - 1; id >= oldest && id >= 0; --id)
        if (columns_.column(id)) {
            start = id;
            break;
        }

    QPainter p(&traces_);
    p.setClipRect(QRect(x0, 0, x1 - x0 + 1, traces_.height()));
    p.setRenderHint(QPainter::Antialiasing, true);
    const double plotH = geo_.plot.height() * dpr_;
    auto xOf = [&](std::int64_t id) { return double(id - origin) + 0.5; };
    auto yOf = [&](double v) { return 0.5 + (plotH - 1) * (1.0 - v / kFullScale); };

    QPolygonF line;
    line.reserve(int(4 * (latest - start + 1)));
    for (int ch = 0; ch < layout().channels; ++ch) {
        line.clear();
        for (std::int64_t id = start; id <= latest; ++id) {
            const ChartColumn* c = columns_.column(id);
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

    if (!layout().digital)
        return;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kLineColour, 1));
    const double laneTop = (geo_.lanes.top() - geo_.image.top()) * dpr_;
    const double laneH = geo_.laneHeight * dpr_;
    for (int lane = 0; lane < kLanes; ++lane) {
        const int bit = 7 - lane;
        const double high = laneTop + lane * laneH + 2;
        const double low = laneTop + (lane + 1) * laneH - 3;
        auto y = [&](std::uint8_t s) { return (s >> bit) & 1 ? high : low; };
        line.clear();
        for (std::int64_t id = start; id <= latest; ++id) {
            const ChartColumn* c = columns_.column(id);
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
QPixmap StripChart::staticPicture() const
{
    QPixmap pm(size() * dpr_);
    pm.setDevicePixelRatio(dpr_);
    pm.fill(palette().color(QPalette::Base));
    QPainter p(&pm);
    p.setFont(font());
    const QFontMetrics fm(font());

    std::vector<LegendEntry> legend = legendEntries(layout());
    placeLegend(legend, fm, width());
    for (const LegendEntry& e : legend) {
        const int midY = e.at.y() + fm.height() / 2;
        if (e.channel >= 0) {
            p.fillRect(QRect(e.at.x(), midY - 2, 14, 4), kTraceColours[e.channel]);
        } else {
            p.setPen(QPen(kLineColour, 1.5));
            const int x0 = e.at.x();
            p.drawPolyline(QPolygon({QPoint(x0, midY + 3), QPoint(x0 + 5, midY + 3), QPoint(x0 + 5, midY - 3),
                                     QPoint(x0 + 10, midY - 3), QPoint(x0 + 10, midY + 3),
                                     QPoint(x0 + 14, midY + 3)}));
        }
        p.setPen(kTextColour);
        p.drawText(QPoint(e.at.x() + 18, e.at.y() + fm.ascent()), e.name);
    }

    const QRect& plot = geo_.plot;
    for (int v : {0, 1024, 2048, 3072, kFullScale}) {
        const double y = plot.top() + (plot.height() - 1) * (1.0 - double(v) / kFullScale);
        p.setPen(kAxisColour);
        p.drawLine(QPointF(plot.left() - 4, y), QPointF(plot.left() - 1, y));
        p.setPen(kTextColour);
        const QString label = QString::number(v);
        p.drawText(QPointF(plot.left() - 6 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1), label);
    }
    // Seconds back from the newest record, along the bottom.
    const int below = geo_.image.bottom() + 1;
    for (int s = 0; s <= int(kWindowSeconds); ++s) {
        const double x = plot.right() - s * (plot.width() - 1) / kWindowSeconds;
        p.setPen(kAxisColour);
        p.drawLine(QPointF(x, below), QPointF(x, below + 3));
        p.setPen(kTextColour);
        const QString label = s == 0 ? QString("0 s") : QString("-%1 s").arg(s);
        p.drawText(QPointF(x - fm.horizontalAdvance(label) / 2.0, below + 4 + fm.ascent()), label);
    }
    if (layout().digital) {
        for (int lane = 0; lane < kLanes; ++lane) {
            const QString label = QString("D%1").arg(lane + 1);
            const int low = geo_.lanes.top() + (lane + 1) * geo_.laneHeight - 3;
            p.drawText(QPointF(plot.left() - 6 - fm.horizontalAdvance(label), low), label);
        }
    }
    return pm;
}

void StripChart::paintEvent(QPaintEvent* e)
{
    if (!qFuzzyCompare(devicePixelRatioF(), dpr_))
        relayout();
    if (restatic_) {
        background_ = staticPicture();
        restatic_ = false;
    }
    if (redrawAll_ || columns_.changed())
        renderTraces();

    QPainter p(this);
    // The image covers its part of the widget: the background goes around it.
    for (const QRect& r : e->region().subtracted(geo_.image))
        p.drawPixmap(r, background_, QRectF(QPointF(r.topLeft()) * dpr_, QSizeF(r.size()) * dpr_));
    // The ring's two halves, oldest first.
    const int width = traces_.width();
    const int split = columns_.latest() >= 0 ? int((columns_.latest() + 1) % width) : 0;
    const QRectF image(geo_.image);
    const double older = (width - split) / dpr_;
    p.drawImage(QRectF(image.left(), image.top(), older, image.height()), traces_,
                QRectF(split, 0, width - split, traces_.height()));
    if (split > 0)
        p.drawImage(QRectF(image.left() + older, image.top(), split / dpr_, image.height()), traces_,
                    QRectF(0, 0, split, traces_.height()));
    p.setPen(kAxisColour);
    p.drawRect(geo_.plot.adjusted(-1, -1, 0, 0));
    if (layout().digital)
        p.drawLine(geo_.lanes.topLeft() + QPoint(-1, -kLaneGap / 2), geo_.lanes.topRight() + QPoint(0, -kLaneGap / 2));

    const QFontMetrics fm(font());
    if (columns_.latest() < 0) {
        p.setPen(kTextColour);
        p.drawText(geo_.plot, Qt::AlignCenter | Qt::TextWordWrap,
                   layout().run == 0 ? QString("The last %1 seconds of a run are charted here.")
                                          .arg(int(kWindowSeconds))
                                    : QString("Waiting for records..."));
    }
    const int skip = feed_.skip();
    if (skip > 0 && skip != kChartOff) {
        const QString note = QString("1 record in %1 shown").arg(skip + 1);
        const QRect box(geo_.plot.right() - 8 - fm.horizontalAdvance(note) - 6, geo_.plot.top() + 6,
                        fm.horizontalAdvance(note) + 12, fm.height() + 4);
        p.fillRect(box, QColor(255, 255, 255, 220));
        p.setPen(kTextColour);
        p.drawText(box, Qt::AlignCenter, note);
    }
}

}  // namespace tarvo::rt
