#include "chart.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace tarvo::rt {

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

StripChart::~StripChart() { feed_.detach(); }

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
    geo_ = chartGeometry(font(), size(), layout());
    dpr_ = devicePixelRatioF();
    const QSize devicePixels(std::max(1, int(std::lround(geo_.image.width() * dpr_))),
                             std::max(1, int(std::lround(geo_.image.height() * dpr_))));
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
        clearTraceColumns(traces_, geo_, dpr_, palette().color(QPalette::Base), 0, int(width) - 1);
    } else {
        std::int64_t from = latest - width + 1;
        if (!redrawAll_ && shown_ >= 0 && latest - shown_ < width)
            from = std::max(std::min(columns_.oldestChanged(), shown_ + 1), from);
        for (std::int64_t id = from; id <= latest;) {
            const std::int64_t origin = floorDiv(id, width) * width;
            const std::int64_t end = std::min(latest, origin + width - 1);
            clearTraceColumns(traces_, geo_, dpr_, palette().color(QPalette::Base),
                              int(id - origin), int(end - origin));
            drawTraceColumns(traces_, columns_, layout(), geo_, dpr_, from, origin,
                             int(id - origin), int(end - origin));
            id = end + 1;
        }
    }
    shown_ = latest;
    columns_.clearChanged();
    redrawAll_ = false;
}

void StripChart::paintEvent(QPaintEvent* e)
{
    if (!qFuzzyCompare(devicePixelRatioF(), dpr_))
        relayout();
    if (restatic_) {
        background_ = chartBackground(size(), dpr_, palette(), font(), layout(), geo_);
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
        p.drawImage(QRectF(image.left() + older, image.top(), split / dpr_, image.height()),
                    traces_, QRectF(0, 0, split, traces_.height()));
    drawChartOverlay(p, font(), layout(), geo_, columns_.latest() < 0, feed_.skip());
}

}  // namespace tarvo::rt
