#include "chart_navigator.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "run_chart.h"

namespace tarvo::view {

namespace {

constexpr double kFullScale = 4095;
constexpr double kZoomStep = 0.8;  // one notch of the wheel

}  // namespace

ChartNavigator::ChartNavigator(RunChart& chart) : QObject(&chart), chart_(chart)
{
    chart_.installEventFilter(this);
}

bool ChartNavigator::eventFilter(QObject* watched, QEvent* e)
{
    if (watched != &chart_)
        return false;
    switch (e->type()) {
    case QEvent::MouseButtonPress: press(static_cast<QMouseEvent*>(e)); return true;
    case QEvent::MouseMove: move(static_cast<QMouseEvent*>(e)); return true;
    case QEvent::MouseButtonRelease: release(static_cast<QMouseEvent*>(e)); return true;
    case QEvent::MouseButtonDblClick: doubleClick(static_cast<QMouseEvent*>(e)); return true;
    case QEvent::Wheel: wheel(static_cast<QWheelEvent*>(e)); return true;
    case QEvent::KeyPress: return key(static_cast<QKeyEvent*>(e));
    case QEvent::Leave: chart_.pointerAt(std::nullopt); return false;
    default: return false;
    }
}

void ChartNavigator::press(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    for (int t = 0; t < chart_.traces(); t++)
        if (chart_.legendRect(t).contains(at) && e->button() == Qt::LeftButton) {
            chart_.setTraceVisible(t, !chart_.traceVisible(t));
            return;
        }
    if (!chart_.run())
        return;
    pressAt_ = at;
    pressSpan_ = chart_.span();
    pressVFrom_ = chart_.valueFrom();
    pressVTo_ = chart_.valueTo();
    if (e->button() == Qt::RightButton ||
        (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier))) {
        drag_ = Drag::Box;
        box_ = QRect(at, at);
    } else if (e->button() == Qt::LeftButton || e->button() == Qt::MiddleButton) {
        drag_ = Drag::Pan;
        chart_.setCursor(Qt::ClosedHandCursor);
    }
}

void ChartNavigator::move(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    const QRect plot = chart_.plotRect();
    if (drag_ == Drag::Pan) {
        const double dt = (pressAt_.x() - at.x()) * pressSpan_.width() / std::max(1, plot.width());
        const Span s = panned(pressSpan_, dt, chart_.limits());
        if (pressVTo_ - pressVFrom_ < kFullScale) {  // values zoomed: they pan too
            const double dv =
                (at.y() - pressAt_.y()) * (pressVTo_ - pressVFrom_) / std::max(1, plot.height());
            const double shift = std::clamp(dv, -pressVFrom_, kFullScale - pressVTo_);
            chart_.setValueRange(pressVFrom_ + shift, pressVTo_ + shift);
        }
        chart_.setFittedSpan(s);
    } else if (drag_ == Drag::Box) {
        box_ = QRect(pressAt_, at).normalized().intersected(plot.united(chart_.lanesRect()));
        chart_.update();
    } else {
        chart_.pointerAt(at);
    }
}

void ChartNavigator::release(QMouseEvent* e)
{
    const Drag was = drag_;
    drag_ = Drag::None;
    chart_.unsetCursor();
    if (was == Drag::Box) {
        const QRect b = box_;
        const QRect plot = chart_.plotRect();
        box_ = {};
        if (b.width() >= 4) {
            if (b.height() >= 8 && b.top() < plot.bottom()) {
                const double vFrom = chart_.valueFrom(), vTo = chart_.valueTo();
                const double v0 = vFrom + (plot.bottom() - std::min(b.bottom(), plot.bottom())) *
                                              (vTo - vFrom) / std::max(1, plot.height() - 1);
                const double v1 = vFrom + (plot.bottom() - std::max(b.top(), plot.top())) *
                                              (vTo - vFrom) / std::max(1, plot.height() - 1);
                zoomValues(v0, v1);
            }
            chart_.setSpan({chart_.timeAt(b.left()), chart_.timeAt(b.right() + 1)});
        }
        chart_.update();
    }
    chart_.pointerAt(e->position().toPoint());
}

void ChartNavigator::zoomValues(double from, double to)
{
    from = std::clamp(from, 0.0, kFullScale);
    to = std::clamp(to, 0.0, kFullScale);
    if (to - from >= 4)
        chart_.setValueRange(from, to);
}

void ChartNavigator::doubleClick(QMouseEvent* e)
{
    const QRect legend = chart_.legendRect(0).united(chart_.legendRect(chart_.traces() - 1));
    if (e->button() == Qt::LeftButton && !legend.contains(e->position().toPoint()))
        chart_.showWholeRun();
}

void ChartNavigator::wheel(QWheelEvent* e)
{
    if (!chart_.run())
        return;
    const Span span = chart_.span();
    const QPoint d = e->angleDelta();
    if (d.y() != 0) {
        const double at = chart_.timeAt(e->position().x());
        chart_.setFittedSpan(zoomed(span, at, std::pow(kZoomStep, d.y() / 120.0), chart_.limits()));
    } else if (d.x() != 0) {  // sideways: pan
        chart_.setSpan({span.from - d.x() / 120.0 * span.width() / 10,
                        span.to - d.x() / 120.0 * span.width() / 10});
    }
    e->accept();
}

// Whether the key was taken; the others go on to the chart.
bool ChartNavigator::key(QKeyEvent* e)
{
    if (!chart_.run())
        return false;
    const Span span = chart_.span();
    const double w = span.width();
    const double mid = (span.from + span.to) / 2;
    const double end = chart_.limits().end;
    switch (e->key()) {
    case Qt::Key_Left: chart_.setSpan({span.from - w / 10, span.to - w / 10}); break;
    case Qt::Key_Right: chart_.setSpan({span.from + w / 10, span.to + w / 10}); break;
    case Qt::Key_PageUp: chart_.setSpan({span.from - w, span.to - w}); break;
    case Qt::Key_PageDown: chart_.setSpan({span.from + w, span.to + w}); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: chart_.setFittedSpan(zoomed(span, mid, 0.5, chart_.limits())); break;
    case Qt::Key_Minus: chart_.setFittedSpan(zoomed(span, mid, 2, chart_.limits())); break;
    case Qt::Key_Home: chart_.showWholeRun(); break;
    case Qt::Key_End: chart_.setSpan({end - w, end}); break;
    case Qt::Key_Escape:
        if (drag_ == Drag::Box) {
            drag_ = Drag::None;
            box_ = {};
            chart_.update();
        }
        break;
    default: return false;
    }
    e->accept();
    return true;
}

}  // namespace tarvo::view
