// The chart of a recorded run: every channel as a trace over the run's time
// axis, the digital lines as steps in lanes below, the lost records and
// silences marked on the axis, a legend whose entries show and hide the
// traces, and what lies under the pointer.
//
// Mouse and keys: chart_navigator.h. The traces are drawn by
// trace_drawing.h, the rest around them by chart_decor.h.
//
// The picture of a span comes from the sampler (sampler.h): its cost does
// not grow with the run. It is kept while only the pointer moves.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <algorithm>

#include <cstdint>
#include <optional>
#include <vector>

#include "chart_geometry.h"
#include "chart_navigator.h"
#include "plot_cache.h"
#include "laid_out_widget.h"
#include "readout.h"
#include "run.h"
#include "run_marks.h"
#include "sampler.h"
#include "view_range.h"

namespace tarvo::view {

class RunChart final : public LaidOutWidget {
    Q_OBJECT

public:
    explicit RunChart(QWidget* parent = nullptr);

    // The run to show (null: none), from its whole time axis. The run must
    // outlive the chart's use of it; call runGrew() after it took in records.
    void setRun(const recorded::Run* run);
    const recorded::Run* run() const { return run_; }
    const Timeline& timeline() const { return timeline_; }
    // After Run::refresh() added records: the axis extends. A view of the
    // whole run stays the whole run, and a view at the end stays at the end.
    void runGrew();
    // A text in the middle of the plot (opening, an error); empty: none.
    void setMessage(const QString& text);
    QString message() const { return message_; }

    // The view, in µs from the first record.
    Span span() const { return span_; }
    void setSpan(Span s);
    void showWholeRun();
    bool showsWholeRun() const { return whole_; }
    // A span already fitted to the limits (zoomed(), panned()).
    void setFittedSpan(Span s);
    Limits limits() const;
    // Values shown (0..4095 unless zoomed by a box).
    double valueFrom() const { return vFrom_; }
    double valueTo() const { return vTo_; }
    void setValueRange(double from, double to);

    // The traces: the analog channels, then d1..d4 where the file holds them.
    int traces() const { return int(visible_.size()); }
    int analogChannels() const;
    // The traces shown, in order.
    std::vector<unsigned> shownChannels() const;
    QString traceName(int t) const;
    bool traceVisible(int t) const { return visible_[size_t(t)]; }
    void setTraceVisible(int t, bool on);
    QColor traceColour(int t) const;
    QColor lossColour() const;
    QColor silenceColour() const;

    // Where things are, in the widget's coordinates.
    QRect plotRect() const { return geo_.plot; }    // the analog traces
    QRect lanesRect() const { return geo_.lanes; }  // the digital lines (may be empty)
    QRect marksRect() const { return geo_.marks; }  // the marks of losses and silences
    QRect axisRect() const { return geo_.axis; }    // the time labels
    int laneHeight() const { return geo_.laneHeight; }
    QRect legendRect(int t) const;
    double xOf(double us) const
    {
        return geo_.plot.left() +
               (us - span_.from) * geo_.plot.width() / std::max(1e-9, span_.width());
    }
    double timeAt(double x) const
    {
        return span_.from + (x - geo_.plot.left()) * span_.width() / std::max(1, geo_.plot.width());
    }
    double yOf(double v) const
    {
        const QRect& r = geo_.plot;
        return r.top() + 0.5 + (r.height() - 1) * (1.0 - (v - vFrom_) / (vTo_ - vFrom_));
    }
    // Device pixels to a pixel of the plot, as last drawn.
    double pixelRatio() const { return cache_.pixelRatio(); }

    // What lies under a point: the nearest record to its time.
    using Readout = view::Readout;
    Readout readoutAt(QPoint at) const { return readoutOf(*this, at); }
    QString readoutText(const Readout& r) const { return readoutHtml(*this, r); }
    // The pointer moved to `at`, or left the chart: the readout follows.
    void pointerAt(std::optional<QPoint> at);

    // The marks of the run's losses and silences, with their times.
    using MarkAt = view::MarkAt;
    const std::vector<MarkAt>& marks() const { return marks_.all(); }
    const RunMarks& runMarks() const { return marks_; }

    // Draws the whole chart at the widget's size (paintEvent, and the
    // benchmark into an image).
    void render(QPainter& p);

signals:
    void spanChanged();
    void tracesChanged();
    void readoutChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent*) override;
    void relayout() override;

private:
    void applySpan(Span s, bool whole);

    const recorded::Run* run_ = nullptr;
    uint64_t count_ = 0;  // records when last drawn
    Timeline timeline_;
    Span span_;
    bool whole_ = true;
    double vFrom_ = 0, vTo_ = 4095;
    std::vector<bool> visible_;
    RunMarks marks_;
    QString message_;
    ChartGeometry geo_;

    PlotCache cache_;

    // The pointer, and the mouse and keys that move the view.
    std::optional<QPoint> hover_;
    ChartNavigator* navigator_;
};

}  // namespace tarvo::view
