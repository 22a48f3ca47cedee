#include "run_chart.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "axis.h"

namespace tarvo::view {

using recorded::Event;
using recorded::Extent;
using recorded::Run;

namespace {

constexpr double kFullScale = 4095;
constexpr int kLines = 4;          // digital lines d1..d4
constexpr int kGap = 8;            // between the plot and the lanes
constexpr int kMarksHeight = 11;   // the row of marks under the traces
constexpr double kZoomStep = 0.8;  // one notch of the wheel
constexpr int kMinPeriods = 8;     // the narrowest view, in periods

// Eight colours that stay apart for most colour-blind eyes: on a light
// ground those of the recorder's live chart, on a dark one lighter ones.
const QColor kLight[8] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
};
const QColor kDark[8] = {
    QColor(0x5d, 0xad, 0xec), QColor(0xff, 0xa3, 0x4f), QColor(0x6b, 0xd0, 0x6b), QColor(0xff, 0x70, 0x70),
    QColor(0xc3, 0x9b, 0xf0), QColor(0xd4, 0xa5, 0x7f), QColor(0xff, 0x9c, 0xde), QColor(0x4f, 0xe0, 0xee),
};

QColor mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

bool isDark(const QPalette& p)
{
    return p.color(QPalette::Base).lightness() < 128;
}

}  // namespace

RunChart::RunChart(QWidget* parent) : QWidget(parent)
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
    takeMarks();
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
    takeMarks();
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
        hover(*hover_);
    update();
    if (changed)
        emit spanChanged();
}

void RunChart::zoomValues(double from, double to)
{
    from = std::clamp(from, 0.0, kFullScale);
    to = std::clamp(to, 0.0, kFullScale);
    if (to - from < 4)
        return;
    vFrom_ = from;
    vTo_ = to;
    update();
}

void RunChart::takeMarks()
{
    std::vector<MarkAt> old = std::move(marks_);
    marks_.clear();
    if (!run_)
        return;
    const double period = double(run_->periodUs());
    // The times of the marks seen before are kept: finding a time can read
    // a few records, and a run in progress is looked at every second.
    size_t k = 0;
    for (const Run::Mark& m : run_->marks()) {
        const bool loss = m.type == Event::Type::Loss;
        if (m.record > run_->count() || (loss && m.record == run_->count()))
            continue;  // not in the file yet
        while (k < old.size() && old[k].mark.record < m.record)
            k++;
        MarkAt at{m, 0, 0};
        if (k < old.size() && old[k].mark.record == m.record && old[k].mark.type == m.type) {
            at.fromUs = old[k].fromUs;
            at.toUs = old[k].toUs;
        } else {
            // A loss: the gap before its record; a silence: the end of the
            // last record before it (the run may end in it).
            at.toUs = loss ? timeline_.timeUs(m.record) : m.record == 0 ? 0 : timeline_.timeUs(m.record - 1) + period;
            at.fromUs = loss ? at.toUs - double(m.missing) * period : at.toUs;
        }
        marks_.push_back(at);
    }
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
        hover(*hover_);
}

QColor RunChart::traceColour(int t) const
{
    // Chosen by pointer: GCC 12 with the sanitizers indexed a conditional of
    // the two arrays as if it were the first element alone.
    const QColor* set = isDark(palette()) ? kDark : kLight;
    if (t < analogChannels())
        return set[t % 8];
    return mix(palette().color(QPalette::Base), palette().color(QPalette::Text), 0.72);
}

QColor RunChart::lossColour() const
{
    return isDark(palette()) ? QColor(0xff, 0x4d, 0x5e) : QColor(0xdc, 0x14, 0x3c);
}

QColor RunChart::silenceColour() const
{
    return isDark(palette()) ? QColor(0xff, 0xc8, 0x3d) : QColor(0xc0, 0x8a, 0x00);
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

void RunChart::resizeEvent(QResizeEvent*)
{
    relayout();
}

void RunChart::changeEvent(QEvent* e)
{
    if (e->type() == QEvent::FontChange || e->type() == QEvent::PaletteChange)
        relayout();
    QWidget::changeEvent(e);
}

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

double RunChart::xOf(double us) const
{
    return geo_.plot.left() + (us - span_.from) * geo_.plot.width() / std::max(1e-9, span_.width());
}

double RunChart::timeAt(double x) const
{
    return span_.from + (x - geo_.plot.left()) * span_.width() / std::max(1, geo_.plot.width());
}

double RunChart::yOf(double v) const
{
    const QRect& r = geo_.plot;
    return r.top() + 0.5 + (r.height() - 1) * (1.0 - (v - vFrom_) / (vTo_ - vFrom_));
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
    PlotKey key{picKey_, vFrom_, vTo_, size, palette().cacheKey(), marks_.size()};
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
        drawGrid(ip);
        if (run_ && run_->count() > 0)
            drawMarks(ip, true);
    }
    if (!run_ || run_->count() == 0)
        return plot_;
    const std::vector<unsigned>& channels = picKey_.channels;
    if (pic.kind == Picture::Kind::Columns) {
        rasterColumns(pic, channels);
    } else if (pic.kind == Picture::Kind::Points) {
        QPainter ip(&plot_);
        ip.translate(-geo_.plot.left(), -geo_.plot.top());
        drawTraces(ip, pic, channels);
    }
    return plot_;
}

// The traces of a picture in columns, written straight into the plot's
// image: in each column a vertical run of pixels from the least to the
// greatest value, joined with the previous column's run (so a trace is two
// pixels wide and has no breaks where it is steep). Column by
// column (the rows of one column stay in the cache for the next), the traces
// from the last (drawn on top) to the first; a pixel that a later trace
// covers is not written again, so a column costs at most about its height,
// however many traces cross it.
void RunChart::rasterColumns(const Picture& pic, const std::vector<unsigned>& channels)
{
    const int w = std::min(plot_.width(), int(pic.width)), h = plot_.height();
    const double scale = (h - 1) / (vTo_ - vFrom_);
    auto row = [&](double v) { return int(std::lround((vTo_ - v) * scale)); };
    struct Trace {
        const std::vector<Extent>* cols;
        QRgb colour;
        int prevTop = 0, prevBottom = -1;  // the previous column's run; none when bottom < top
    };
    std::vector<Trace> traces;
    const int analog = analogChannels();
    for (size_t k = channels.size(); k-- > 0;)
        if (int(channels[k]) < analog)
            traces.push_back({&pic.columns[k], traceColour(int(channels[k])).rgb()});
    uchar* const bits = plot_.bits();
    const qsizetype stride = plot_.bytesPerLine();
    for (int x = 0; x < w; x++) {
        int coverTop = 1, coverBottom = 0;  // rows written in this column; none when top > bottom
        uchar* const column = bits + qsizetype(x) * 4;
        for (Trace& t : traces) {
            const Extent& e = (*t.cols)[size_t(x)];
            if (e.empty()) {
                t.prevBottom = t.prevTop - 1;
                continue;
            }
            int top = row(e.hi), bottom = row(e.lo);
            const int runTop = top, runBottom = bottom;
            if (t.prevBottom >= t.prevTop) {  // the previous column's run too: two pixels wide, joined
                top = std::min(top, t.prevTop);
                bottom = std::max(bottom, t.prevBottom);
            }
            t.prevTop = runTop;
            t.prevBottom = runBottom;
            top = std::max(top, 0);
            bottom = std::min(bottom, h - 1);
            if (top > bottom)
                continue;
            auto write = [&](int from, int to) {
                uchar* px = column + qsizetype(from) * stride;
                for (int y = from; y <= to; y++, px += stride)
                    *reinterpret_cast<QRgb*>(px) = t.colour;
            };
            if (coverTop > coverBottom) {
                write(top, bottom);
                coverTop = top;
                coverBottom = bottom;
                continue;
            }
            write(top, std::min(bottom, coverTop - 1));
            write(std::max(top, coverBottom + 1), bottom);
            // What is covered is kept as one stretch: the union where they
            // touch, else the longer of the two.
            if (top <= coverBottom + 1 && bottom >= coverTop - 1) {
                coverTop = std::min(coverTop, top);
                coverBottom = std::max(coverBottom, bottom);
            } else if (bottom - top > coverBottom - coverTop) {
                coverTop = top;
                coverBottom = bottom;
            }
        }
    }
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
        drawGrid(p);
        if (run_ && run_->count() > 0) {
            drawMarks(p, true);
            drawLanes(p, picture(), shownChannels());
        }
        p.restore();
    }
    if (run_ && run_->count() > 0)
        drawMarks(p, false);
    const QColor frame = mix(pal.color(QPalette::Base), pal.color(QPalette::Text), 0.35);
    p.setPen(frame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(geo_.plot.adjusted(0, 0, -1, -1));
    if (!geo_.lanes.isEmpty())
        p.drawRect(geo_.lanes.adjusted(0, 0, -1, -1));
    drawAxes(p);
    drawLegend(p);
    drawHover(p);

    if (drag_ == Drag::Box && !box_.isEmpty()) {
        QColor fill = pal.color(QPalette::Highlight);
        fill.setAlpha(50);
        p.setPen(QPen(pal.color(QPalette::Highlight), 1, Qt::DashLine));
        p.setBrush(fill);
        p.drawRect(box_);
    }
    QString text = message_;
    if (text.isEmpty() && run_ && run_->count() == 0)
        text = tr("No records yet");
    if (!text.isEmpty()) {
        p.setPen(pal.color(QPalette::Text));
        p.drawText(geo_.plot.adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
}

void RunChart::drawGrid(QPainter& p)
{
    const QPalette& pal = palette();
    const QColor grid = mix(pal.color(QPalette::Base), pal.color(QPalette::Text), 0.11);
    p.setPen(grid);
    const QFontMetrics fm(font());
    for (const Tick& t : valueTicks(vFrom_, vTo_, geo_.plot.height(), 2.5 * fm.height())) {
        const int y = int(std::lround(yOf(t.at) - 0.5));
        p.drawLine(geo_.plot.left(), y, geo_.plot.right(), y);
    }
    if (!run_)
        return;
    const double end = limits().end;
    for (const Tick& t : timeTicks(span_, geo_.plot.width(), fm.horizontalAdvance("00:00:00.000") + 24, end,
                                   run_->periodKnown())) {
        const int x = int(std::floor(xOf(t.at)));
        p.drawLine(x, geo_.plot.top(), x, geo_.plot.bottom());
        if (!geo_.lanes.isEmpty())
            p.drawLine(x, geo_.lanes.top(), x, geo_.lanes.bottom());
    }
}

// Losses and silences: in the plot (`inPlot`, under the traces) a band over
// a loss's gap and a line at each mark; in the row under the lanes, a marker.
// Marks closer than a pixel are drawn once.
void RunChart::drawMarks(QPainter& p, bool inPlot)
{
    const double lo = span_.from, hi = span_.to;
    auto firstIn = std::lower_bound(marks_.begin(), marks_.end(), lo,
                                    [](const MarkAt& m, double us) { return m.toUs < us; });
    const int top = geo_.plot.top();
    const int bottom = geo_.lanes.isEmpty() ? geo_.plot.bottom() : geo_.lanes.bottom();
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    if (inPlot)
        p.setClipRect(QRect(geo_.plot.topLeft(), QPoint(geo_.plot.right(), bottom)));
    int lastX[2] = {INT32_MIN, INT32_MIN};
    // Lines through the plot only where the marks leave room between them.
    auto lastIn = std::upper_bound(firstIn, marks_.end(), hi, [](double us, const MarkAt& m) { return us < m.fromUs; });
    if (inPlot && (lastIn - firstIn) * 12 > geo_.plot.width()) {
        p.restore();
        return;
    }
    for (auto it = firstIn; it != lastIn; ++it) {
        const bool loss = it->mark.type == Event::Type::Loss;
        QColor c = loss ? lossColour() : silenceColour();
        const double x0 = xOf(it->fromUs), x1 = xOf(it->toUs);
        const int x = int(std::floor((x0 + x1) / 2));
        if (x == lastX[loss])
            continue;
        lastX[loss] = x;
        if (inPlot) {
            if (x1 - x0 >= 2) {  // the gap itself is wide enough to see
                QColor band = c;
                band.setAlpha(40);
                p.fillRect(QRectF(x0, top, x1 - x0, bottom - top + 1), band);
            }
            c.setAlpha(150);
            p.setPen(QPen(c, 1, loss ? Qt::DashLine : Qt::DotLine));
            p.drawLine(x, top, x, bottom);
        } else {
            // A triangle pointing up at the axis for a loss, a diamond for a silence.
            const int y0 = geo_.marks.top() + 1, y1 = geo_.marks.bottom();
            QPolygon shape;
            if (loss)
                shape << QPoint(x, y0) << QPoint(x + 5, y1) << QPoint(x - 5, y1);
            else
                shape << QPoint(x, y0) << QPoint(x + 5, (y0 + y1) / 2) << QPoint(x, y1) << QPoint(x - 5, (y0 + y1) / 2);
            p.setPen(c);
            p.setBrush(c);
            p.drawPolygon(shape);
        }
    }
    p.restore();
}

void RunChart::drawTraces(QPainter& p, const Picture& pic, const std::vector<unsigned>& channels)
{
    const int analog = analogChannels();
    const double left = geo_.plot.left();
    p.save();
    p.setClipRect(geo_.plot.adjusted(1, 1, -1, -1));
    QPolygonF line;
    for (size_t k = 0; k < channels.size(); k++) {
        const int t = int(channels[k]);
        if (t >= analog)
            continue;
        const QColor colour = traceColour(t);
        if (pic.kind == Picture::Kind::Columns) {
            // One pixel wide and not smoothed: a wider or smoothed pen goes
            // through the stroker, several times the cost for a column each.
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(QPen(colour, 1));
            line.clear();
            const std::vector<Extent>& cols = pic.columns[k];
            auto flush = [&] {
                if (line.size() == 1)
                    p.drawPoint(line.front());
                else if (line.size() > 1)
                    p.drawPolyline(line);
                line.clear();
            };
            for (unsigned x = 0; x < cols.size(); x++) {
                const Extent& e = cols[x];
                if (e.empty()) {  // no record here: records were lost
                    flush();
                    continue;
                }
                const double px = left + x + 0.5;
                const double ylo = yOf(e.lo), yhi = yOf(e.hi);
                if (e.lo == e.hi) {
                    line << QPointF(px, ylo);
                } else if (line.isEmpty() || std::fabs(line.back().y() - ylo) <= std::fabs(line.back().y() - yhi)) {
                    line << QPointF(px, ylo) << QPointF(px, yhi);
                } else {
                    line << QPointF(px, yhi) << QPointF(px, ylo);
                }
            }
            flush();
        } else if (pic.kind == Picture::Kind::Points) {
            const auto& pts = pic.points;
            const double apart = pts.size() > 1 ? (pts.back().x - pts.front().x) / dpr_ / double(pts.size() - 1) : 0;
            // Smoothed, and a little wider, once the records are far apart;
            // closer, one pixel and not smoothed (a smoothed or wider pen
            // costs many times as much for a line of a thousand points).
            p.setRenderHint(QPainter::Antialiasing, apart >= 0);
            p.setPen(QPen(colour, 1));
            line.clear();
            for (size_t i = 0; i < pts.size(); i++) {
                if (pts[i].afterLoss && line.size() > 0) {
                    p.drawPolyline(line);
                    line.clear();
                }
                line << QPointF(left + pts[i].x / dpr_, yOf(pic.values[k][i]));
            }
            if (line.size() > 1)
                p.drawPolyline(line);
            // Each record a dot, once they are far enough apart to tell.
            if (apart >= 6) {
                p.setPen(Qt::NoPen);
                p.setBrush(colour);
                const double r = apart >= 14 ? 2.6 : 1.9;
                for (size_t i = 0; i < pts.size(); i++)
                    p.drawEllipse(QPointF(left + pts[i].x / dpr_, yOf(pic.values[k][i])), r, r);
                p.setBrush(Qt::NoBrush);
            }
        }
    }
    p.restore();
}

void RunChart::drawLanes(QPainter& p, const Picture& pic, const std::vector<unsigned>& channels)
{
    if (geo_.lanes.isEmpty())
        return;
    const int analog = analogChannels();
    const double left = geo_.plot.left();
    p.save();
    p.setClipRect(geo_.lanes.adjusted(1, 0, -1, 0));
    p.setRenderHint(QPainter::Antialiasing, false);
    QPolygonF line;
    for (size_t k = 0; k < channels.size(); k++) {
        const int t = int(channels[k]);
        if (t < analog)
            continue;
        const int lane = t - analog;
        const double high = geo_.lanes.top() + lane * geo_.laneHeight + 3;
        const double low = geo_.lanes.top() + (lane + 1) * geo_.laneHeight - 4;
        p.setPen(QPen(traceColour(t), 1));
        line.clear();
        auto flush = [&] {
            if (line.size() > 1)
                p.drawPolyline(line);
            line.clear();
        };
        auto step = [&](double x, double y) {
            if (!line.isEmpty() && line.back().y() != y)
                line << QPointF(x, line.back().y());
            line << QPointF(x, y);
        };
        if (pic.kind == Picture::Kind::Columns) {
            const std::vector<Extent>& cols = pic.columns[k];
            for (unsigned x = 0; x < cols.size(); x++) {
                const Extent& e = cols[x];
                if (e.empty()) {
                    flush();
                    continue;
                }
                const double px = left + x / dpr_;
                if (e.lo == e.hi) {
                    step(px, e.lo ? high : low);
                    line << QPointF(px + 1 / dpr_, e.lo ? high : low);
                } else {  // both levels in this column
                    const bool fromHigh = !line.isEmpty() && line.back().y() == high;
                    line << QPointF(px, fromHigh ? high : low) << QPointF(px, fromHigh ? low : high)
                         << QPointF(px + 1 / dpr_, fromHigh ? low : high);
                }
            }
        } else if (pic.kind == Picture::Kind::Points) {
            const auto& pts = pic.points;
            for (size_t i = 0; i < pts.size(); i++) {
                if (pts[i].afterLoss)
                    flush();
                const double y = pic.values[k][i] ? high : low;
                step(left + pts[i].x / dpr_, y);
                // A record holds its level for its period.
                const double next = i + 1 < pts.size() && !pts[i + 1].afterLoss
                                        ? pts[i + 1].x / dpr_
                                        : pts[i].x / dpr_ + double(run_->periodUs()) * geo_.plot.width() / span_.width();
                line << QPointF(left + next, y);
            }
        }
        flush();
    }
    p.restore();
}

void RunChart::drawLegend(QPainter& p)
{
    const QPalette& pal = palette();
    const QFontMetrics fm(font());
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int t = 0; t < traces(); t++) {
        const QRect r = geo_.legend[size_t(t)];
        const bool on = visible_[size_t(t)];
        const QColor c = traceColour(t);
        const QRect swatch(r.left() + 2, r.center().y() - 1, 16, 3);
        if (on) {
            p.fillRect(swatch, c);
        } else {
            p.setPen(mix(pal.color(QPalette::Window), c, 0.6));
            p.setBrush(Qt::NoBrush);
            p.drawRect(swatch.adjusted(0, -1, -1, 0));
        }
        p.setPen(on ? pal.color(QPalette::WindowText)
                    : mix(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.45));
        QFont f = font();
        f.setStrikeOut(!on);
        p.setFont(f);
        p.drawText(QRect(r.left() + 24, r.top(), r.width() - 24, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                   traceName(t));
        (void)fm;
    }
    p.restore();
}

void RunChart::drawAxes(QPainter& p)
{
    const QPalette& pal = palette();
    const QFontMetrics fm(font());
    p.setPen(pal.color(QPalette::WindowText));
    for (const Tick& t : valueTicks(vFrom_, vTo_, geo_.plot.height(), 2.5 * fm.height())) {
        const int y = int(std::lround(yOf(t.at)));
        p.drawText(QRect(0, y - fm.height() / 2, geo_.plot.left() - 6, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(t.label));
    }
    for (int lane = 0; !geo_.lanes.isEmpty() && lane < kLines; lane++) {
        const QRect r(0, geo_.lanes.top() + lane * geo_.laneHeight, geo_.plot.left() - 6, geo_.laneHeight);
        p.drawText(r, Qt::AlignRight | Qt::AlignVCenter, QString("D%1").arg(lane + 1));
    }
    if (!run_)
        return;
    const double end = limits().end;
    const int spacing = fm.horizontalAdvance("00:00:00.000") + 24;
    const QColor tickColour = mix(pal.color(QPalette::Window), pal.color(QPalette::WindowText), 0.5);
    for (const Tick& t : timeTicks(span_, geo_.plot.width(), spacing, end, run_->periodKnown())) {
        const int x = int(std::floor(xOf(t.at)));
        const QString label = QString::fromStdString(t.label);
        const int w = fm.horizontalAdvance(label);
        p.setPen(tickColour);
        p.drawLine(x, geo_.axis.top(), x, geo_.axis.top() + 3);
        const int lx = std::clamp(x - w / 2, 0, width() - w - 2);
        p.setPen(pal.color(QPalette::WindowText));
        p.drawText(QRect(lx, geo_.axis.top() + 4, w + 2, fm.height()), Qt::AlignLeft | Qt::AlignTop, label);
    }
}

void RunChart::drawHover(QPainter& p)
{
    if (!hover_ || drag_ != Drag::None || !run_)
        return;
    const Readout r = readoutAt(*hover_);
    if (!r.valid)
        return;
    const QPalette& pal = palette();
    const double x = std::floor(xOf(double(r.timeUs))) + 0.5;
    const int bottom = geo_.lanes.isEmpty() ? geo_.plot.bottom() : geo_.lanes.bottom();
    QColor c = pal.color(QPalette::Text);
    c.setAlpha(110);
    p.save();
    p.setPen(QPen(c, 1));
    p.drawLine(QPointF(x, geo_.plot.top()), QPointF(x, bottom));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(geo_.plot);
    for (int t = 0; t < analogChannels(); t++) {
        if (!visible_[size_t(t)])
            continue;
        p.setPen(QPen(pal.color(QPalette::Base), 1.5));
        p.setBrush(traceColour(t));
        p.drawEllipse(QPointF(x, yOf(r.values.ch[t])), 3.5, 3.5);
    }
    p.restore();
}

// ---- the readout ------------------------------------------------------------------

RunChart::Readout RunChart::readoutAt(QPoint at) const
{
    Readout r;
    if (!run_ || run_->count() == 0)
        return r;
    const int bottom = geo_.lanes.isEmpty() ? geo_.plot.bottom() : geo_.lanes.bottom();
    if (at.x() < geo_.plot.left() || at.x() > geo_.plot.right() || at.y() < geo_.plot.top() ||
        at.y() > std::max(bottom, geo_.marks.bottom()))
        return r;
    // The nearest record by the middle of its period: the one whose period
    // the point is in, where a loss leaves no gap, else the nearer neighbour.
    const double period = double(run_->periodUs());
    const double t = std::max(0.0, timeAt(at.x() + 0.5));
    const uint64_t n = run_->count();
    uint64_t i = std::min(n - 1, timeline_.recordAt(t));
    if (i > 0) {
        const double here = timeline_.timeUs(i), before = timeline_.timeUs(i - 1);
        if (here > t && t - before - period / 2 < here - t)
            i--;
    }
    r.valid = true;
    r.record = i;
    r.timeUs = uint64_t(timeline_.timeUs(i));
    r.values = run_->record(i);
    // A mark within a few pixels.
    const double slack = 5 * span_.width() / std::max(1, geo_.plot.width());
    auto it = std::lower_bound(marks_.begin(), marks_.end(), t - slack,
                               [](const MarkAt& m, double us) { return m.toUs < us; });
    if (it != marks_.end() && it->fromUs <= t + slack) {
        const Run::Mark& m = it->mark;
        if (m.type == Event::Type::Loss)
            r.mark = m.missing == 1 ? tr("1 record lost before record %1").arg(m.record + 1)
                                    : tr("%1 records lost before record %2").arg(m.missing).arg(m.record + 1);
        else
            r.mark = tr("silence after record %1, from %2 to %3")
                         .arg(m.record)
                         .arg(QString::fromStdString(m.start),
                              !m.end.empty()          ? QString::fromStdString(m.end)
                              : run_->info().ended ? tr("the end of the run")
                                                     : tr("now (still silent)"));
    }
    return r;
}

QString RunChart::readoutText(const Readout& r) const
{
    if (!r.valid)
        return {};
    const int analog = analogChannels();
    QString s = QString("<b>%1</b>&nbsp;&nbsp; record %2")
                    .arg(QString::fromStdString(readoutTime(double(r.timeUs), run_->periodKnown())).toHtmlEscaped())
                    .arg(r.record + 1);
    for (int t = 0; t < analog; t++) {
        if (!visible_[size_t(t)])
            continue;
        s += QString("&nbsp;&nbsp; <span style=\"color:%1\">&#9632;</span>&nbsp;Ch&nbsp;%2&nbsp;<b>%3</b>")
                 .arg(traceColour(t).name())
                 .arg(t + 1)
                 .arg(r.values.ch[t]);
    }
    const recorded::Layout& l = run_->records().layout();
    if (l.digital)
        s += QString("&nbsp;&nbsp; D1-D4&nbsp;<b>%1%2%3%4</b>")
                 .arg(int(r.values.line(0)))
                 .arg(int(r.values.line(1)))
                 .arg(int(r.values.line(2)))
                 .arg(int(r.values.line(3)));
    if (l.counter)
        s += QString("&nbsp;&nbsp; counter&nbsp;<b>%1</b>").arg(int(r.values.counter));
    if (!r.mark.isEmpty())
        s += QString("&nbsp;&nbsp; <span style=\"color:%1\">%2</span>")
                 .arg((r.mark.startsWith("silence") ? silenceColour() : lossColour()).name(), r.mark.toHtmlEscaped());
    return s;
}

void RunChart::hover(QPoint at)
{
    hover_ = at;
    emit readoutChanged(readoutText(readoutAt(at)));
    update();
}

void RunChart::leaveEvent(QEvent*)
{
    hover_.reset();
    emit readoutChanged({});
    update();
}

// ---- mouse and keys ---------------------------------------------------------------

void RunChart::mousePressEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    for (int t = 0; t < traces(); t++)
        if (legendRect(t).contains(at) && e->button() == Qt::LeftButton) {
            setTraceVisible(t, !traceVisible(t));
            return;
        }
    if (!run_)
        return;
    pressAt_ = at;
    pressSpan_ = span_;
    pressVFrom_ = vFrom_;
    pressVTo_ = vTo_;
    if (e->button() == Qt::RightButton || (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier))) {
        drag_ = Drag::Box;
        box_ = QRect(at, at);
    } else if (e->button() == Qt::LeftButton || e->button() == Qt::MiddleButton) {
        drag_ = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    }
}

void RunChart::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    if (drag_ == Drag::Pan) {
        const double dt = (pressAt_.x() - at.x()) * pressSpan_.width() / std::max(1, geo_.plot.width());
        const Limits l = limits();
        const Span s = panned(pressSpan_, dt, l);
        if (pressVTo_ - pressVFrom_ < kFullScale) {  // values zoomed: they pan too
            const double dv = (at.y() - pressAt_.y()) * (pressVTo_ - pressVFrom_) / std::max(1, geo_.plot.height());
            const double shift = std::clamp(dv, -pressVFrom_, kFullScale - pressVTo_);
            vFrom_ = pressVFrom_ + shift;
            vTo_ = pressVTo_ + shift;
        }
        applySpan(s, s.from <= 0 && s.to >= l.end);
    } else if (drag_ == Drag::Box) {
        box_ = QRect(pressAt_, at).normalized().intersected(geo_.plot.united(geo_.lanes));
        update();
    } else {
        hover(at);
    }
}

void RunChart::mouseReleaseEvent(QMouseEvent* e)
{
    const Drag was = drag_;
    drag_ = Drag::None;
    unsetCursor();
    if (was == Drag::Box) {
        const QRect b = box_;
        box_ = {};
        if (b.width() >= 4) {
            if (b.height() >= 8 && b.top() < geo_.plot.bottom()) {
                const double v0 = vFrom_ + (geo_.plot.bottom() - std::min(b.bottom(), geo_.plot.bottom())) *
                                               (vTo_ - vFrom_) / std::max(1, geo_.plot.height() - 1);
                const double v1 = vFrom_ + (geo_.plot.bottom() - std::max(b.top(), geo_.plot.top())) *
                                               (vTo_ - vFrom_) / std::max(1, geo_.plot.height() - 1);
                zoomValues(v0, v1);
            }
            setSpan({timeAt(b.left()), timeAt(b.right() + 1)});
        }
        update();
    }
    hover(e->position().toPoint());
}

void RunChart::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && !legendRect(0).united(legendRect(traces() - 1)).contains(e->position().toPoint()))
        showWholeRun();
}

void RunChart::wheelEvent(QWheelEvent* e)
{
    if (!run_)
        return;
    const QPoint d = e->angleDelta();
    if (d.y() != 0) {
        const double at = timeAt(e->position().x());
        const Span s = zoomed(span_, at, std::pow(kZoomStep, d.y() / 120.0), limits());
        applySpan(s, s.from <= 0 && s.to >= limits().end);
    } else if (d.x() != 0) {  // sideways: pan
        setSpan({span_.from - d.x() / 120.0 * span_.width() / 10, span_.to - d.x() / 120.0 * span_.width() / 10});
    }
    e->accept();
}

void RunChart::keyPressEvent(QKeyEvent* e)
{
    if (!run_) {
        QWidget::keyPressEvent(e);
        return;
    }
    const double w = span_.width();
    const double mid = (span_.from + span_.to) / 2;
    switch (e->key()) {
    case Qt::Key_Left:  setSpan({span_.from - w / 10, span_.to - w / 10}); break;
    case Qt::Key_Right: setSpan({span_.from + w / 10, span_.to + w / 10}); break;
    case Qt::Key_PageUp: setSpan({span_.from - w, span_.to - w}); break;
    case Qt::Key_PageDown: setSpan({span_.from + w, span_.to + w}); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: {
        const Span s = zoomed(span_, mid, 0.5, limits());
        applySpan(s, s.from <= 0 && s.to >= limits().end);
        break;
    }
    case Qt::Key_Minus: {
        const Span s = zoomed(span_, mid, 2, limits());
        applySpan(s, s.from <= 0 && s.to >= limits().end);
        break;
    }
    case Qt::Key_Home: showWholeRun(); break;
    case Qt::Key_End: setSpan({limits().end - w, limits().end}); break;
    case Qt::Key_Escape:
        if (drag_ == Drag::Box) {
            drag_ = Drag::None;
            box_ = {};
            update();
        }
        break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
}

}  // namespace tarvo::view
