#include "overview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "run_chart.h"
#include "sampler.h"

namespace tarvo::view {

using recorded::Event;
using recorded::Extent;

Overview::Overview(RunChart& chart, QWidget* parent) : QWidget(parent), chart_(chart)
{
    setObjectName("runOverview");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    connect(&chart_, &RunChart::spanChanged, this, qOverload<>(&QWidget::update));
    connect(&chart_, &RunChart::tracesChanged, this, qOverload<>(&QWidget::update));
}

QRect Overview::track() const
{
    // Under the chart's plot, so that a time is above itself.
    const QRect plot = chart_.plotRect();
    const int left = mapFromGlobal(chart_.mapToGlobal(plot.topLeft())).x();
    return QRect(left, 4, std::max(10, plot.width()), std::max(10, height() - 8));
}

QRectF Overview::shown() const
{
    const QRect t = track();
    const double end = chart_.limits().end;
    if (!chart_.run() || end <= 0)
        return {};
    const Span s = chart_.span();
    const double x0 = t.left() + s.from / end * t.width();
    const double x1 = t.left() + s.to / end * t.width();
    // Never thinner than a few pixels: a view of single records in a long run
    // must still be found.
    const double w = std::max(x1 - x0, 4.0);
    return QRectF(std::min(x0, t.right() + 1 - w), t.top(), w, t.height());
}

double Overview::timeAt(double x) const
{
    const QRect t = track();
    return (x - t.left()) / std::max(1, t.width()) * chart_.limits().end;
}

void Overview::remake()
{
    const QRect t = track();
    const recorded::Run* run = chart_.run();
    Key key{run, run ? run->count() : 0, t.size(), {}, palette().cacheKey()};
    for (int i = 0; i < chart_.traces(); i++)
        key.visible.push_back(chart_.traceVisible(i));
    if (key == key_ && !picture_.isNull())
        return;
    key_ = key;
    const qreal dpr = devicePixelRatioF();
    picture_ = QImage(t.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    picture_.setDevicePixelRatio(dpr);
    picture_.fill(palette().color(QPalette::Base));
    if (!run || run->count() == 0)
        return;

    QPainter p(&picture_);
    const unsigned analog = run->records().layout().channels;
    std::vector<unsigned> channels;
    for (unsigned c = 0; c < analog; c++)
        if (chart_.traceVisible(int(c)))
            channels.push_back(c);
    const Picture pic =
        sample(*run, chart_.timeline(), channels, {0, chart_.limits().end}, unsigned(t.width()));
    const double h = t.height() - 3;
    auto y = [&](double v) { return 1.5 + h * (1 - v / 4095.0); };
    QPolygonF line;
    for (size_t k = 0; k < channels.size() && pic.kind == Picture::Kind::Columns; k++) {
        QColor c = chart_.traceColour(int(channels[k]));
        c.setAlpha(200);
        p.setPen(QPen(c, 1));
        line.clear();
        for (unsigned x = 0; x < pic.columns[k].size(); x++) {
            const Extent& e = pic.columns[k][x];
            if (e.empty())
                continue;
            line << QPointF(x + 0.5, y(e.lo)) << QPointF(x + 0.5, y(e.hi));
        }
        if (!line.isEmpty())
            p.drawPolyline(line);
    }
    if (pic.kind == Picture::Kind::Points) {  // a run shorter than the strip is wide
        for (size_t k = 0; k < channels.size(); k++) {
            p.setPen(QPen(chart_.traceColour(int(channels[k])), 1));
            line.clear();
            for (size_t i = 0; i < pic.points.size(); i++)
                line << QPointF(pic.points[i].x, y(pic.values[k][i]));
            p.drawPolyline(line);
        }
    }
    // The losses and silences as ticks along the bottom.
    const double end = chart_.limits().end;
    for (const RunChart::MarkAt& m : chart_.marks()) {
        const int x = std::min(t.width() - 1, int((m.fromUs + m.toUs) / 2 / end * t.width()));
        p.setPen(m.mark.type == Event::Type::Loss ? chart_.lossColour() : chart_.silenceColour());
        p.drawLine(x, t.height() - 6, x, t.height() - 1);
    }
}

void Overview::paintEvent(QPaintEvent*)
{
    remake();
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Window));
    const QRect t = track();
    p.drawImage(t.topLeft(), picture_);
    const QRectF w = shown();
    if (!w.isEmpty()) {
        // What the chart does not show is dimmed; its view is framed.
        QColor dim = pal.color(QPalette::Window);
        dim.setAlpha(150);
        p.fillRect(QRectF(t.left(), t.top(), w.left() - t.left(), t.height()), dim);
        p.fillRect(QRectF(w.right(), t.top(), t.right() + 1 - w.right(), t.height()), dim);
        QColor frame = pal.color(QPalette::Highlight);
        p.setPen(QPen(frame, 2));
        frame.setAlpha(30);
        p.setBrush(frame);
        p.drawRect(w.adjusted(1, 1, -1, -1));
    }
    QColor border = pal.color(QPalette::WindowText);
    border.setAlpha(90);
    p.setPen(border);
    p.setBrush(Qt::NoBrush);
    p.drawRect(t.adjusted(0, 0, -1, -1));
}

void Overview::centreAt(double x)
{
    const Span s = chart_.span();
    const double at = timeAt(x);
    chart_.setSpan({at - s.width() / 2, at + s.width() / 2});
}

void Overview::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !chart_.run())
        return;
    const double x = e->position().x();
    const QRectF w = shown();
    dragging_ = true;
    if (w.left() <= x && x <= w.right()) {
        grab_ = x - w.left();
    } else {
        centreAt(x);
        grab_ = shown().width() / 2;
    }
}

void Overview::mouseMoveEvent(QMouseEvent* e)
{
    if (!dragging_)
        return;
    const Span s = chart_.span();
    const double from = timeAt(e->position().x() - grab_);
    chart_.setSpan({from, from + s.width()});
}

void Overview::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void Overview::wheelEvent(QWheelEvent* e)
{
    if (!chart_.run() || e->angleDelta().y() == 0)
        return;
    const Span s = zoomed(chart_.span(), timeAt(e->position().x()),
                          std::pow(0.8, e->angleDelta().y() / 120.0), chart_.limits());
    chart_.setSpan(s);
    e->accept();
}

}  // namespace tarvo::view
