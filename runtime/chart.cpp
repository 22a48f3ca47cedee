#include "chart.h"

#include <QComboBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolButton>

#include <algorithm>
#include <cmath>

#include "trace_colours.h"

namespace tarvo::rt {

namespace {

const char* const kWindowNames[] = {"5 s", "30 s", "2 min", "10 min", "Whole run"};
static_assert(std::size(kWindowNames) == std::size(ChartColumns::kWindows));

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

StripChart::StripChart(ChartFeed& feed, QWidget* parent)
    : LaidOutWidget({640, 420}, {320, 240}, parent), feed_(feed), batch_(4096)
{
    setObjectName("liveChart");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMouseTracking(true);
    for (int i = 0; i < kLevels; ++i)
        levels_[std::size_t(i)].setWindow(ChartColumns::kWindows[i]);

    pause_ = new QToolButton(this);
    pause_->setObjectName("chartPause");
    pause_->setText("Pause");
    pause_->setCheckable(true);
    pause_->setShortcut(Qt::Key_P);
    pause_->setToolTip("Pause the picture (P); the recording goes on");
    pause_->setAutoRaise(false);
    connect(pause_, &QToolButton::toggled, this, [this](bool on) { setPaused(on); });
    window_ = new QComboBox(this);
    window_->setObjectName("chartWindow");
    window_->setToolTip("The time the chart shows");
    for (const char* name : kWindowNames)
        window_->addItem(name);
    window_->setFocusPolicy(Qt::StrongFocus);
    connect(window_, &QComboBox::currentIndexChanged, this, [this](int i) { setTimeWindow(i); });

    clock_.start();
    relayout();
    feed_.attach();
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &StripChart::frame);
    timer_.start(kFrameMs);
}

StripChart::~StripChart() { feed_.detach(); }

// ---- data ------------------------------------------------------------------

void StripChart::restart(const ChartLayout& layout)
{
    for (ChartColumns& c : levels_)
        c.restart(layout, clock_.elapsed());
    runClock_.restart();
    nowUs_ = -1;
    feed_.setSkip(0);
    if (paused_)
        pause_->setChecked(false);  // a new run starts live
    relayout();                     // the legend may take another line
    redrawAll_ = true;
    restatic_ = true;
}

// At most a ring's worth a call: when the run hands over records faster than
// the chart takes them, the drain would otherwise go on for as long as they
// come, and how many records the run passes over is set only after it.
void StripChart::drain()
{
    for (std::size_t taken = 0; taken < ChartFeed::kRingSize; taken += batch_.size()) {
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
            for (ChartColumns& c : levels_)
                c.take(p);
        }
        if (n < batch_.size())
            break;
    }
    if (levels_[0].lastIndex() > 0)
        runClock_.record(levels_[0].timeUs(levels_[0].lastIndex()), clock_.elapsed());
    nowUs_ = runClock_.nowUs(clock_.elapsed());
    levels_[kLevels - 1].reach(nowUs_);
    adjustSkip();
}

void StripChart::adjustSkip()
{
    const std::optional<int> skip = levels_[0].skipAt(clock_.elapsed());
    if (skip && *skip != feed_.skip())
        feed_.setSkip(*skip);
}

std::int64_t StripChart::headOf(const ChartColumns& c, double nowUs) const
{
    if (c.wholeRun())
        return c.width() - 1;
    return std::max(c.latest(), nowUs < 0 ? std::int64_t(-1) : c.columnAt(nowUs));
}

// A frame: the records since the last one, and a picture only when a column
// changed or the clock moved the right edge by a column.
void StripChart::frame()
{
    drain();
    const ChartColumns& c = shown();
    if (c.wholeRun() && c.coarsenings() != coarsenings_) {
        coarsenings_ = c.coarsenings();
        restatic_ = true;  // the time labels
        redrawAll_ = true;
    }
    if (restatic_) {
        update();
        return;
    }
    const bool moved = headOf(c, shownNowUs()) != shown_;
    if (!redrawAll_ && !moved && c.changed()) {
        // Records into the columns shown, the right edge where it was: in a
        // wide window a column spans many frames, and its picture is brought
        // up to date once a column's time (a second at most), not each frame.
        const std::int64_t columnMs =
            std::min<std::int64_t>(std::llround(c.columnUs() / 1000), 1000);
        if (clock_.elapsed() - drawnAtMs_ < columnMs)
            return;
    }
    if (redrawAll_ || moved || c.changed())
        update(geo_.image);
}

void StripChart::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    if (paused) {
        frozen_ = levels_;
        frozenNowUs_ = nowUs_;
    }
    paused_ = paused;
    if (pause_->isChecked() != paused)
        pause_->setChecked(paused);
    pause_->setText(paused ? "Resume" : "Pause");
    pause_->setShortcut(Qt::Key_P);  // a new text takes its mnemonic for the shortcut
    redrawAll_ = true;
    restatic_ = true;
    update();
}

void StripChart::setTimeWindow(int level)
{
    level = std::clamp(level, 0, kLevels - 1);
    if (window_->currentIndex() != level)
        window_->setCurrentIndex(level);  // comes back here
    if (level == level_)
        return;
    level_ = level;
    coarsenings_ = shown().coarsenings();
    redrawAll_ = true;
    restatic_ = true;
    update();
}

void StripChart::setHidden(unsigned mask)
{
    if (mask == hidden_)
        return;
    hidden_ = mask;
    redrawAll_ = true;
    restatic_ = true;
    update();
}

// ---- layout ----------------------------------------------------------------

QSize StripChart::reserved() const
{
    const QSize p = pause_->sizeHint(), w = window_->sizeHint();
    return {p.width() + w.width() + 24, std::max(p.height(), w.height()) + 4};
}

void StripChart::relayout()
{
    const QSize room = reserved();
    const QSize p = pause_->sizeHint(), w = window_->sizeHint();
    const int h = room.height() - 4;
    window_->setGeometry(width() - 12 - w.width(), 4, w.width(), h);
    pause_->setGeometry(window_->x() - 6 - p.width(), 4, p.width(), h);

    geo_ = chartGeometry(font(), size(), layout(), room);
    dpr_ = devicePixelRatioF();
    const QSize devicePixels(std::max(1, int(std::lround(geo_.image.width() * dpr_))),
                             std::max(1, int(std::lround(geo_.image.height() * dpr_))));
    if (traces_.size() != devicePixels) {
        traces_ = QImage(devicePixels, QImage::Format_RGB32);
        traces_.fill(palette().color(QPalette::Base));
    }
    if (levels_[0].width() != devicePixels.width()) {
        for (ChartColumns& c : levels_)
            c.rebin(devicePixels.width());
        if (paused_)
            for (ChartColumns& c : frozen_)
                c.rebin(devicePixels.width());
        coarsenings_ = shown().coarsenings();
    }
    redrawAll_ = true;  // also for a palette or font of its own
    restatic_ = true;
}

// ---- the mouse -------------------------------------------------------------

void StripChart::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    const int x = geo_.image.contains(at) ? at.x() : -1;
    setCursor(legendEntryAt(font(), size(), layout(), reserved(), at) >= 0 ? Qt::PointingHandCursor
                                                                           : Qt::ArrowCursor);
    if (x != hoverX_ || x >= 0) {
        hoverX_ = x;
        update();
    }
}

void StripChart::leaveEvent(QEvent*)
{
    if (hoverX_ >= 0) {
        hoverX_ = -1;
        update();
    }
}

void StripChart::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const int entry = legendEntryAt(font(), size(), layout(), reserved(), e->position().toPoint());
    if (entry >= 0)
        setHidden(hidden_ ^ (1u << entry));
}

std::vector<ReadoutLine> StripChart::readoutAt(QPoint at) const
{
    std::vector<ReadoutLine> lines;
    const ChartColumns& c = shown();
    if (!geo_.image.contains(at) || c.latest() < 0 || c.width() <= 0)
        return lines;
    const std::int64_t oldest = headOf(c, shownNowUs()) - c.width() + 1;
    const std::int64_t id = oldest + std::int64_t(std::floor((at.x() - geo_.image.left()) * dpr_));
    // The nearest column with data within a few pixels: a lone record is
    // hard to hit exactly.
    const ChartColumn* col = nullptr;
    const auto reach = std::int64_t(std::lround(4 * dpr_));
    for (std::int64_t d = 0; !col && d <= reach; ++d) {
        for (std::int64_t cand : {id - d, id + d})
            if (!col && cand >= oldest && cand <= c.latest())
                col = c.column(cand);
    }
    const double columnS = c.columnUs() / 1e6;
    const int decimals = std::clamp(int(std::ceil(-std::log10(columnS))), 0, 3);
    lines.push_back(
        {QColor(), runTimeText((double(col ? col->id : id) + 0.5) * columnS, decimals)});
    if (!col) {
        lines.push_back({QColor(), "no record"});
        return lines;
    }
    const ChartLayout& l = c.layout();
    for (int ch = 0; ch < l.channels; ++ch) {
        if (hidden_ & (1u << ch))
            continue;
        const QString value = col->lo[ch] == col->hi[ch]
                                  ? QString::number(col->last[ch])
                                  : QString("%1-%2").arg(col->lo[ch]).arg(col->hi[ch]);
        lines.push_back({traceColour(palette(), ch, kChartChannels),
                         QString("Ch %1  %2").arg(ch + 1).arg(value)});
    }
    if (l.digital && !(hidden_ & (1u << kLinesBit))) {
        QString bits;
        for (int lane = 0; lane < 4; ++lane) {
            const int bit = 7 - lane;
            bits += ((col->linesLo ^ col->linesHi) >> bit) & 1
                        ? QChar('x')
                        : QChar('0' + ((col->linesLast >> bit) & 1));
        }
        lines.push_back({traceColour(palette(), kChartChannels, 0), "D1-D4  " + bits});
    }
    return lines;
}

// ---- drawing ---------------------------------------------------------------

// Brings the traces' image up to date. The image is a ring: column `id` sits
// at x = id mod width, so nothing moves when time goes on; a frame clears and
// draws only the columns that changed, or that the clock moved into, since
// the last one, in at most two stretches of the image, and painting puts the
// two halves in order.
void StripChart::renderTraces()
{
    ChartColumns& columns = shown();
    const std::int64_t width = traces_.width();
    const std::int64_t head = headOf(columns, shownNowUs());
    const TraceStyle style{&palette(), hidden_};
    if (head < 0 || columns.width() != width) {
        clearTraceColumns(traces_, geo_, dpr_, palette(), 0, int(width) - 1);
    } else {
        const std::int64_t oldest = head - width + 1;
        std::int64_t from = oldest;
        if (!redrawAll_ && shown_ >= 0 && head - shown_ < width)
            from = std::max(std::min(columns.oldestChanged(), shown_ + 1), from);
        for (std::int64_t id = from; id <= head;) {
            const std::int64_t origin = floorDiv(id, width) * width;
            const std::int64_t end = std::min(head, origin + width - 1);
            clearTraceColumns(traces_, geo_, dpr_, palette(), int(id - origin), int(end - origin));
            drawTraceColumns(traces_, columns, style, geo_, dpr_, from, oldest, origin,
                             int(id - origin), int(end - origin));
            id = end + 1;
        }
    }
    shown_ = head;
    columns.clearChanged();
    redrawAll_ = false;
}

void StripChart::paintEvent(QPaintEvent* e)
{
    if (!qFuzzyCompare(devicePixelRatioF(), dpr_))
        relayout();
    const ChartColumns& columns = shown();
    if (restatic_) {
        background_ = chartBackground(size(), dpr_, palette(), font(), layout(), geo_, reserved(),
                                      hidden_, timeTicks(columns, geo_.plot.width(), font()));
        restatic_ = false;
    }
    if (redrawAll_ || columns.changed() || headOf(columns, shownNowUs()) != shown_) {
        renderTraces();
        ++frames_;
        drawnAtMs_ = clock_.elapsed();
    }

    QPainter p(this);
    // The image covers its part of the widget: the background goes around it.
    for (const QRect& r : e->region().subtracted(geo_.image))
        p.drawPixmap(r, background_, QRectF(QPointF(r.topLeft()) * dpr_, QSizeF(r.size()) * dpr_));
    // The ring's two halves, oldest first.
    const int width = traces_.width();
    const int split = shown_ >= 0 ? int((shown_ + 1) % width) : 0;
    const QRectF image(geo_.image);
    const double older = (width - split) / dpr_;
    p.drawImage(QRectF(image.left(), image.top(), older, image.height()), traces_,
                QRectF(split, 0, width - split, traces_.height()));
    if (split > 0)
        p.drawImage(QRectF(image.left() + older, image.top(), split / dpr_, image.height()),
                    traces_, QRectF(0, 0, split, traces_.height()));
    drawChartOverlay(p, font(), palette(), layout(), geo_, columns.windowSeconds(),
                     columns.latest() < 0, feed_.skip());
    if (paused_) {
        const QFontMetrics fm(font());
        const QString note = "Paused";
        const QRect box(geo_.plot.left() + 6, geo_.plot.top() + 6, fm.horizontalAdvance(note) + 12,
                        fm.height() + 4);
        p.fillRect(box, palette().color(QPalette::Highlight));
        p.setPen(palette().color(QPalette::HighlightedText));
        p.drawText(box, Qt::AlignCenter, note);
    }
    if (hoverX_ >= 0)
        drawReadout(p, font(), palette(), geo_, hoverX_,
                    readoutAt(QPoint(hoverX_, geo_.plot.center().y())));
}

}  // namespace tarvo::rt
