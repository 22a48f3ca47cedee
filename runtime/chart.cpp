#include "chart.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace tarvo::rt {

namespace {

constexpr int kFullScale = 4095;
constexpr int kLanes = 4;  // digital lines: bits 7..4 of the status byte

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

}  // namespace

StripChart::StripChart(ChartFeed& feed, QWidget* parent)
    : QWidget(parent), feed_(feed), columns_(kColumns), batch_(4096)
{
    setObjectName("liveChart");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    columnUs_ = kWindowSeconds * 1e6 / kColumns;
    clock_.start();
    feed_.attach();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        drain();
        if (dirty_) {
            dirty_ = false;
            update();
        }
    });
    timer_.start(kFrameMs);
}

StripChart::~StripChart()
{
    feed_.detach();
}

void StripChart::restart(const ChartLayout& layout)
{
    layout_ = layout;
    received_ = Received{};
    received_.run = layout.run;
    for (Column& c : columns_)
        c.id = -1;
    latest_ = -1;
    rateIndex_ = 0;
    rateAt_ = clock_.elapsed();
    feed_.setSkip(0);
    dirty_ = true;
}

void StripChart::drain()
{
    for (;;) {
        const std::size_t n = feed_.drain(batch_.data(), batch_.size());
        for (std::size_t i = 0; i < n; ++i) {
            const ChartPoint& p = batch_[i];
            if (p.run != static_cast<std::uint16_t>(layout_.run)) {
                // The first record of a new run: its layout is out already.
                const ChartLayout l = feed_.layout();
                if (p.run != static_cast<std::uint16_t>(l.run))
                    continue;  // left over from an earlier run
                restart(l);
            }
            take(p);
        }
        if (n < batch_.size())
            break;
    }
    adjustSkip();
}

void StripChart::take(const ChartPoint& p)
{
    const double periodUs = std::max(1u, layout_.periodUs);
    const auto id = static_cast<std::int64_t>(std::floor((double(p.index) - 1) * periodUs / columnUs_));
    if (id < 0 || id <= latest_ - kColumns)
        return;  // older than the window
    Column& c = columns_[static_cast<std::size_t>(id % kColumns)];
    const int n = layout_.channels;
    if (c.id != id) {
        c.id = id;
        for (int i = 0; i < n; ++i)
            c.first[i] = c.lo[i] = c.hi[i] = p.values[i];
        c.linesFirst = c.linesLo = c.linesHi = p.status;
    } else {
        for (int i = 0; i < n; ++i) {
            c.lo[i] = std::min(c.lo[i], p.values[i]);
            c.hi[i] = std::max(c.hi[i], p.values[i]);
        }
        c.linesLo &= p.status;
        c.linesHi |= p.status;
    }
    for (int i = 0; i < n; ++i)
        c.last[i] = p.values[i];
    c.linesLast = p.status;
    latest_ = std::max(latest_, id);

    received_.points += 1;
    received_.lastIndex = p.index;
    std::copy_n(p.values, kChartChannels, received_.lastValues.begin());
    received_.lastStatus = p.status;
    dirty_ = true;
}

void StripChart::adjustSkip()
{
    const qint64 now = clock_.elapsed();
    const qint64 span = now - rateAt_;
    if (span < 100)
        return;
    const std::uint32_t index = received_.lastIndex;
    const double rate = index >= rateIndex_ ? (index - rateIndex_) * 1000.0 / double(span) : 0;
    rateIndex_ = index;
    rateAt_ = now;
    const int skip = rate > kMaxTakenPerSecond ? int(std::ceil(rate / kMaxTakenPerSecond)) - 1 : 0;
    if (skip != feed_.skip())
        feed_.setSkip(skip);
}

void StripChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int lineH = fm.height();

    // Legend along the top, a swatch and a name per trace, on as many lines
    // as the width needs.
    const int channels = layout_.run != 0 ? layout_.channels : 0;
    const int legendY = 6;
    int x = 10, y = legendY;
    auto place = [&](const QString& name) {
        const int w = 18 + fm.horizontalAdvance(name);
        if (x > 10 && x + w > width() - 10) {
            x = 10;
            y += lineH + 2;
        }
        const QPoint at(x, y);
        x += w + 12;
        return at;
    };
    for (int i = 0; i < channels; ++i) {
        const QString name = QString("Ch %1").arg(i + 1);
        const QPoint at = place(name);
        p.fillRect(QRect(at.x(), at.y() + lineH / 2 - 2, 14, 4), kTraceColours[i]);
        p.setPen(kTextColour);
        p.drawText(QPoint(at.x() + 18, at.y() + fm.ascent()), name);
    }
    if (layout_.digital) {
        const QString name = "D1-D4 digital lines";
        const QPoint at = place(name);
        p.setPen(QPen(kLineColour, 1.5));
        const int y0 = at.y() + lineH / 2, x0 = at.x();
        p.drawPolyline(QPolygon({QPoint(x0, y0 + 3), QPoint(x0 + 5, y0 + 3), QPoint(x0 + 5, y0 - 3),
                                 QPoint(x0 + 10, y0 - 3), QPoint(x0 + 10, y0 + 3), QPoint(x0 + 14, y0 + 3)}));
        p.setPen(kTextColour);
        p.drawText(QPoint(x0 + 18, at.y() + fm.ascent()), name);
    }
    if (feed_.skip() > 0 && feed_.skip() != kChartOff) {
        const QString note = QString("every %1th record shown").arg(feed_.skip() + 1);
        const QPoint at = place(note);
        p.setPen(kAxisColour);
        p.drawText(QPoint(at.x(), at.y() + fm.ascent()), note);
    }

    // The plot: analog traces above, the digital lines in lanes below.
    const int left = fm.horizontalAdvance("4095") + 14;
    const int right = width() - 12;
    const int top = y + lineH + 10;
    const int bottom = height() - lineH - 10;
    const int laneH = std::max(10, lineH);
    const int digitalH = layout_.digital ? kLanes * laneH + 10 : 0;
    const QRect plot(QPoint(left, top), QPoint(right, bottom - digitalH));
    if (plot.width() < 20 || plot.height() < 20)
        return;

    auto yOf = [&](double v) { return plot.bottom() - v * (plot.height() - 1) / kFullScale; };
    p.setFont(font());
    for (int v : {0, 1024, 2048, 3072, kFullScale}) {
        const double y = yOf(v);
        p.setPen(kGridColour);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kTextColour);
        const QString label = QString::number(v);
        p.drawText(QPointF(left - 6 - fm.horizontalAdvance(label), y + fm.ascent() / 2.0 - 1), label);
    }
    // Seconds back from the newest record, along the bottom.
    const double pxPerColumn = double(plot.width()) / kColumns;
    for (int s = 0; s <= int(kWindowSeconds); ++s) {
        const double xs = plot.right() - s * 1e6 / columnUs_ * pxPerColumn;
        p.setPen(kGridColour);
        p.drawLine(QPointF(xs, plot.top()), QPointF(xs, plot.bottom() + digitalH));
        p.setPen(kTextColour);
        const QString label = s == 0 ? QString("0 s") : QString("-%1 s").arg(s);
        p.drawText(QPointF(xs - fm.horizontalAdvance(label) / 2.0, bottom + fm.ascent() + 4), label);
    }
    p.setPen(kAxisColour);
    p.drawRect(plot.adjusted(0, 0, -1, -1));

    if (latest_ < 0) {
        p.setPen(kTextColour);
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap,
                   layout_.run == 0 ? QString("The last %1 seconds of a run are charted here.")
                                          .arg(int(kWindowSeconds))
                                    : QString("Waiting for records..."));
        return;
    }

    // Column c of the window sits at x; the newest is at the right edge.
    const std::int64_t first = latest_ - kColumns + 1;
    auto xOf = [&](std::int64_t id) { return plot.left() + (double(id - first) + 0.5) * pxPerColumn; };

    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(plot.adjusted(1, 1, -1, -1));
    QPolygonF line;
    line.reserve(4 * kColumns);
    for (int ch = 0; ch < channels; ++ch) {
        line.clear();
        for (std::int64_t id = first; id <= latest_; ++id) {
            const Column& c = columns_[static_cast<std::size_t>(id % kColumns)];
            if (c.id != id)
                continue;
            const double xc = xOf(id);
            // Through the column's extremes in the order the trace most likely
            // took them, from its first value to its last.
            line << QPointF(xc, yOf(c.first[ch]));
            if (c.lo[ch] != c.hi[ch]) {
                const bool rising = c.first[ch] <= c.last[ch];
                line << QPointF(xc, yOf(rising ? c.lo[ch] : c.hi[ch]))
                     << QPointF(xc, yOf(rising ? c.hi[ch] : c.lo[ch]));
            }
            if (c.last[ch] != c.first[ch] || c.lo[ch] != c.hi[ch])
                line << QPointF(xc, yOf(c.last[ch]));
        }
        // One pixel wide: a wider pen goes through the stroker, which costs
        // about five times as much per frame.
        p.setPen(QPen(kTraceColours[ch], 1));
        p.drawPolyline(line);
    }
    p.setClipping(false);

    if (layout_.digital) {
        const int laneTop = plot.bottom() + 10;
        p.setRenderHint(QPainter::Antialiasing, false);
        for (int lane = 0; lane < kLanes; ++lane) {
            const int bit = 7 - lane;
            const double high = laneTop + lane * laneH + 2;
            const double low = laneTop + (lane + 1) * laneH - 3;
            p.setPen(kTextColour);
            const QString label = QString("D%1").arg(lane + 1);
            p.drawText(QPointF(left - 6 - fm.horizontalAdvance(label), low), label);
            line.clear();
            for (std::int64_t id = first; id <= latest_; ++id) {
                const Column& c = columns_[static_cast<std::size_t>(id % kColumns)];
                if (c.id != id)
                    continue;
                auto y = [&](std::uint8_t s) { return (s >> bit) & 1 ? high : low; };
                const double xc = xOf(id);
                if (!line.isEmpty() && line.back().y() != y(c.linesFirst))
                    line << QPointF(xc, line.back().y());
                line << QPointF(xc, y(c.linesFirst));
                if (((c.linesLo ^ c.linesHi) >> bit) & 1)  // toggled within the column
                    line << QPointF(xc, y(c.linesFirst) == high ? low : high);
                line << QPointF(xc, y(c.linesLast));
            }
            if (!line.isEmpty())
                line << QPointF(xOf(latest_) + pxPerColumn / 2, line.back().y());
            p.setPen(QPen(kLineColour, 1));
            p.drawPolyline(line);
        }
    }
}

}  // namespace tarvo::rt
