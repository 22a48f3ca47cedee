#include "run_chart.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "chart_colours.h"
#include "chart_decor.h"
#include "trace_drawing.h"

namespace tarvo::view {

using recorded::Run;

namespace {

constexpr double kFullScale = 4095;
constexpr int kLines = 4;          // digital lines d1..d4
constexpr int kGap = 8;            // between the plot and the lanes
constexpr int kMarksHeight = 11;   // the row of marks under the traces
constexpr int kMinPeriods = 8;     // the narrowest view, in periods

}  // namespace

RunChart::RunChart(QWidget* parent)
    : LaidOutWidget({960, 520}, {360, 240}, parent), navigator_(new ChartNavigator(*this))
{
    setObjectName("runChart");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    relayout();
}

// ---- the run and the view ---------------------------------------------------

void RunChart::setRun(const Run* run)
{
    run_ = run;
    count_ = run ? run->count() : 0;
    timeline_ = run ? Timeline(*run) : Timeline();
    const unsigned traces = run ? run->records().layout().channels + (run->records().layout().digital ? kLines : 0) : 0;
    visible_.assign(traces, true);
    vFrom_ = 0;
    vTo_ = kFullScale;
    pic_ = {};
    picKey_ = {};
    marks_.update(run_, timeline_);
    relayout();
    applySpan({0, limits().end}, true);
    emit tracesChanged();
}

void RunChart::runGrew()
{
    if (!run_)
        return;
    const double oldEnd = timeline_.endUs();
    count_ = run_->count();
    timeline_ = Timeline(*run_);
    marks_.update(run_, timeline_);
    const Limits l = limits();
    if (whole_)
        applySpan({0, l.end}, true);
    else if (span_.to >= oldEnd - 0.5 * span_.width() / std::max(1, geo_.plot.width()))
        applySpan(clamped({l.end - span_.width(), l.end}, l), false);  // at the end: it stays there
    else
        update();
}

void RunChart::setMessage(const QString& text)
{
    message_ = text;
    update();
}

Limits RunChart::limits() const
{
    if (!run_)
        return {1e6, 1};
    return {timeline_.endUs(), double(kMinPeriods * run_->periodUs())};
}

void RunChart::setSpan(Span s)
{
    const Limits l = limits();
    s = clamped(s, l);
    applySpan(s, s.from <= 0 && s.to >= l.end);
}

void RunChart::setFittedSpan(Span s)
{
    applySpan(s, s.from <= 0 && s.to >= limits().end);
}

void RunChart::showWholeRun()
{
    vFrom_ = 0;
    vTo_ = kFullScale;
    applySpan({0, limits().end}, true);
}

void RunChart::applySpan(Span s, bool whole)
{
    const bool changed = !(s == span_);
    span_ = s;
    whole_ = whole;
    if (hover_)
        pointerAt(*hover_);
    update();
    if (changed)
        emit spanChanged();
}

void RunChart::setValueRange(double from, double to)
{
    vFrom_ = from;
    vTo_ = to;
    update();
}

// ---- traces -------------------------------------------------------------------

int RunChart::analogChannels() const
{
    return run_ ? int(run_->records().layout().channels) : 0;
}

QString RunChart::traceName(int t) const
{
    const int n = analogChannels();
    return t < n ? QString("Ch %1").arg(t + 1) : QString("D%1").arg(t - n + 1);
}

void RunChart::setTraceVisible(int t, bool on)
{
    if (t < 0 || t >= traces() || visible_[size_t(t)] == on)
        return;
    visible_[size_t(t)] = on;
    update();
    emit tracesChanged();
    if (hover_)
        pointerAt(*hover_);
}

QColor RunChart::traceColour(int t) const
{
    return view::traceColour(palette(), t, analogChannels());
}

QColor RunChart::lossColour() const
{
    return view::lossColour(palette());
}

QColor RunChart::silenceColour() const
{
    return view::silenceColour(palette());
}

std::vector<unsigned> RunChart::shownChannels() const
{
    std::vector<unsigned> out;
    for (int t = 0; t < traces(); t++)
        if (visible_[size_t(t)])
            out.push_back(unsigned(t));
    return out;
}

// ---- geometry -------------------------------------------------------------------

void RunChart::relayout()
{
    const QFontMetrics fm(font());
    const int lineH = fm.height();
    Geometry g;
    const int left = fm.horizontalAdvance("4095") + 16;
    const int right = std::max(left + 40, width() - 18);

    // The legend, on as many lines as the width needs.
    int x = left, y = 8;
    for (int t = 0; t < traces(); t++) {
        const int w = 26 + fm.horizontalAdvance(traceName(t));
        if (x > left && x + w > right) {
            x = left;
            y += lineH + 4;
        }
        g.legend.push_back(QRect(x, y, w, lineH + 2));
        x += w + 10;
    }
    const int top = y + lineH + 12;

    g.laneHeight = std::max(14, lineH + 2);
    const bool digital = traces() > analogChannels();
    const int axisH = lineH + 6;
    const int bottom = std::max(top + 60, height() - axisH - kMarksHeight - 4);
    const int lanesH = digital ? kLines * g.laneHeight : 0;
    const int plotBottom = std::max(top + 40, bottom - lanesH - (digital ? kGap : 0));
    g.plot = QRect(QPoint(left, top), QPoint(right - 1, plotBottom - 1));
    if (digital)
        g.lanes = QRect(left, plotBottom + kGap, g.plot.width(), lanesH);
    const int under = digital ? g.lanes.bottom() + 1 : g.plot.bottom() + 1;
    g.marks = QRect(left, under + 2, g.plot.width(), kMarksHeight);
    g.axis = QRect(left, g.marks.bottom() + 1, g.plot.width(), axisH);
    geo_ = g;
    update();
}

QRect RunChart::legendRect(int t) const
{
    return t >= 0 && size_t(t) < geo_.legend.size() ? geo_.legend[size_t(t)] : QRect();
}

// ---- the picture ----------------------------------------------------------------

const Picture& RunChart::picture()
{
    Key key{span_, int(std::lround(geo_.plot.width() * dpr_)), count_, shownChannels()};
    if (!(key == picKey_)) {
        pic_ = run_ ? sample(*run_, timeline_, key.channels, span_, unsigned(std::max(0, key.width))) : Picture{};
        picKey_ = std::move(key);
        // The pages of the data file that the picture read are handed back:
        // however much of a large file one looks at, it does not stay in
        // this process's memory (the system keeps it in its cache).
        if (run_)
            run_->records().releasePages();
    }
    return pic_;
}

// The analog plot in device pixels: its ground, grid, marks and traces. Made
// again only when what it shows changed (not when only the pointer moved).
const QImage& RunChart::plotImage(double dpr)
{
    if (dpr != dpr_) {
        dpr_ = dpr;
        picKey_ = {};
    }
    const QSize size(std::max(1, int(std::lround(geo_.plot.width() * dpr))),
                     std::max(1, int(std::lround(geo_.plot.height() * dpr))));
    const Picture& pic = picture();
    PlotKey key{picKey_, vFrom_, vTo_, size, palette().cacheKey(), marks_.all().size()};
    if (key == plotKey_ && !plot_.isNull())
        return plot_;
    plotKey_ = key;
    if (plot_.size() != size)
        plot_ = QImage(size, QImage::Format_RGB32);
    plot_.setDevicePixelRatio(dpr);
    plot_.fill(palette().color(QPalette::Base));
    {
        QPainter ip(&plot_);
        ip.translate(-geo_.plot.left(), -geo_.plot.top());
        drawGrid(ip, *this);
        if (run_ && run_->count() > 0)
            drawMarks(ip, *this, true);
    }
    if (!run_ || run_->count() == 0)
        return plot_;
    const std::vector<unsigned>& channels = picKey_.channels;
    if (pic.kind == Picture::Kind::Columns) {
        rasterColumns(plot_, *this, pic, channels);
    } else if (pic.kind == Picture::Kind::Points) {
        QPainter ip(&plot_);
        ip.translate(-geo_.plot.left(), -geo_.plot.top());
        drawTraces(ip, *this, pic, channels);
    }
    return plot_;
}


void RunChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    render(p);
}

void RunChart::render(QPainter& p)
{
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Window));
    p.drawImage(geo_.plot.topLeft(), plotImage(p.device() ? p.device()->devicePixelRatioF() : 1.0));
    if (!geo_.lanes.isEmpty()) {
        p.save();
        p.setClipRect(geo_.lanes);
        p.fillRect(geo_.lanes, pal.color(QPalette::Base));
        drawGrid(p, *this);
        if (run_ && run_->count() > 0) {
            drawMarks(p, *this, true);
            drawLanes(p, *this, picture(), shownChannels());
        }
        p.restore();
    }
    if (run_ && run_->count() > 0)
        drawMarks(p, *this, false);
    const QColor frame = mix(pal.color(QPalette::Base), pal.color(QPalette::Text), 0.35);
    p.setPen(frame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(geo_.plot.adjusted(0, 0, -1, -1));
    if (!geo_.lanes.isEmpty())
        p.drawRect(geo_.lanes.adjusted(0, 0, -1, -1));
    drawAxes(p, *this);
    drawLegend(p, *this);
    if (hover_ && !navigator_->dragging())
        drawHover(p, *this, *hover_);

    if (const QRect box = navigator_->box(); !box.isEmpty()) {
        QColor fill = pal.color(QPalette::Highlight);
        fill.setAlpha(50);
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DashLine));
        p.setBrush(fill);
        p.drawRect(box);
    }
    QString text = message_;
    if (text.isEmpty() && run_ && run_->count() == 0)
        text = tr("No records yet");
    if (!text.isEmpty()) {
        p.setPen(pal.color(QPalette::Text));
        p.drawText(geo_.plot.adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
}

void RunChart::pointerAt(std::optional<QPoint> at)
{
    hover_ = at;
    emit readoutChanged(at ? readoutText(readoutAt(*at)) : QString());
    update();
}

}  // namespace tarvo::view
