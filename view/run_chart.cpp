#include "run_chart.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "trace_colours.h"
#include "chart_decor.h"
#include "trace_drawing.h"

namespace tarvo::view {

using recorded::Run;

namespace {

constexpr double kFullScale = 4095;
constexpr int kLines = 4;       // digital lines d1..d4
constexpr int kMinPeriods = 8;  // the narrowest view, in periods

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
    const unsigned traces =
        run ? run->records().layout().channels + (run->records().layout().digital ? kLines : 0) : 0;
    visible_.assign(traces, true);
    vFrom_ = 0;
    vTo_ = kFullScale;
    cache_.clear();
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

void RunChart::setFittedSpan(Span s) { applySpan(s, s.from <= 0 && s.to >= limits().end); }

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

int RunChart::analogChannels() const { return run_ ? int(run_->records().layout().channels) : 0; }

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
    return tarvo::traceColour(palette(), t, analogChannels());
}

QColor RunChart::lossColour() const { return tarvo::lossColour(palette()); }

QColor RunChart::silenceColour() const { return tarvo::silenceColour(palette()); }

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
    std::vector<QString> names;
    for (int t = 0; t < traces(); t++)
        names.push_back(traceName(t));
    geo_ = chartGeometry(font(), size(), names, traces() > analogChannels());
    update();
}

QRect RunChart::legendRect(int t) const
{
    return t >= 0 && size_t(t) < geo_.legend.size() ? geo_.legend[size_t(t)] : QRect();
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
    p.drawImage(geo_.plot.topLeft(),
                cache_.image(*this, count_, p.device() ? p.device()->devicePixelRatioF() : 1.0));
    if (!geo_.lanes.isEmpty()) {
        p.save();
        p.setClipRect(geo_.lanes);
        p.fillRect(geo_.lanes, pal.color(QPalette::Base));
        drawGrid(p, *this);
        if (run_ && run_->count() > 0) {
            drawMarks(p, *this, true);
            drawLanes(p, *this, cache_.picture(*this, count_), shownChannels());
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
