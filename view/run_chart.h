// The chart of a recorded run: every channel as a trace over the run's time
// axis, the digital lines as steps in lanes below, the lost records and
// silences marked on the axis, a legend whose entries show and hide the
// traces, and what lies under the pointer.
//
// Mouse and keys: the wheel zooms about the pointer; a drag pans; a drag
// with the right button (or with Ctrl) draws a box to zoom into (its height
// zooms the values too); a double click, or Home, shows the whole run.
// Left/Right pan by a tenth of the view, Page Up/Down by a whole one, + and -
// zoom about the middle, End goes to the end of the run.
//
// The picture of a span comes from the sampler (sampler.h): its cost does
// not grow with the run. It is kept while only the pointer moves.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

#include "run.h"
#include "sampler.h"
#include "view_range.h"

namespace tarvo::view {

class RunChart final : public QWidget {
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
    Limits limits() const;
    // Values shown (0..4095 unless zoomed by a box).
    double valueFrom() const { return vFrom_; }
    double valueTo() const { return vTo_; }

    // The traces: the analog channels, then d1..d4 where the file holds them.
    int traces() const { return int(visible_.size()); }
    QString traceName(int t) const;
    bool traceVisible(int t) const { return visible_[size_t(t)]; }
    void setTraceVisible(int t, bool on);
    QColor traceColour(int t) const;
    QColor lossColour() const;
    QColor silenceColour() const;

    // Where things are, in the widget's coordinates.
    QRect plotRect() const { return geo_.plot; }     // the analog traces
    QRect lanesRect() const { return geo_.lanes; }   // the digital lines (may be empty)
    QRect marksRect() const { return geo_.marks; }   // the marks of losses and silences
    QRect legendRect(int t) const;
    double xOf(double us) const;
    double timeAt(double x) const;

    // What lies under a point: the nearest record to its time.
    struct Readout {
        bool valid = false;
        uint64_t record = 0;   // 0-based
        uint64_t timeUs = 0;
        recorded::Record values;
        QString mark;          // a loss or silence at the point, described
    };
    Readout readoutAt(QPoint at) const;
    // The readout as the window shows it (rich text).
    QString readoutText(const Readout& r) const;

    // The marks of the run's losses and silences, with their times.
    struct MarkAt {
        recorded::Run::Mark mark;
        double fromUs = 0, toUs = 0;  // a loss: its gap; a silence: the record after it
    };
    const std::vector<MarkAt>& marks() const { return marks_; }

    // Draws the whole chart at the widget's size (paintEvent, and the
    // benchmark into an image).
    void render(QPainter& p);

    QSize sizeHint() const override { return {960, 520}; }
    QSize minimumSizeHint() const override { return {360, 240}; }

signals:
    void spanChanged();
    void tracesChanged();
    void readoutChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void changeEvent(QEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    struct Geometry {
        std::vector<QRect> legend;  // per trace
        QRect plot, lanes, marks, axis;
        int laneHeight = 0;
    };
    void relayout();
    void takeMarks();
    void applySpan(Span s, bool whole);
    void zoomValues(double from, double to);
    void hover(QPoint at);
    std::vector<unsigned> shownChannels() const;
    const Picture& picture();
    const QImage& plotImage(double dpr);
    void rasterColumns(const Picture& pic, const std::vector<unsigned>& channels);
    double yOf(double v) const;
    int analogChannels() const;

    void drawGrid(QPainter& p);
    void drawMarks(QPainter& p, bool inPlot);
    void drawTraces(QPainter& p, const Picture& pic, const std::vector<unsigned>& channels);
    void drawLanes(QPainter& p, const Picture& pic, const std::vector<unsigned>& channels);
    void drawLegend(QPainter& p);
    void drawAxes(QPainter& p);
    void drawHover(QPainter& p);

    const recorded::Run* run_ = nullptr;
    uint64_t count_ = 0;  // records when last drawn
    Timeline timeline_;
    Span span_;
    bool whole_ = true;
    double vFrom_ = 0, vTo_ = 4095;
    std::vector<bool> visible_;
    std::vector<MarkAt> marks_;
    QString message_;
    Geometry geo_;

    // The last picture and what it was made of.
    Picture pic_;
    struct Key {
        Span span;
        int width = -1;
        uint64_t count = 0;
        std::vector<unsigned> channels;
        bool operator==(const Key&) const = default;
    } picKey_;
    double dpr_ = 1;
    // The plot's image and what it was made of.
    QImage plot_;
    struct PlotKey {
        Key picture;
        double vFrom = 0, vTo = 0;
        QSize size;
        qint64 palette = 0;
        size_t marks = 0;
        bool operator==(const PlotKey&) const = default;
    } plotKey_;

    // The pointer and the drag under way.
    std::optional<QPoint> hover_;
    enum class Drag { None, Pan, Box } drag_ = Drag::None;
    QPoint pressAt_;
    Span pressSpan_;
    double pressVFrom_ = 0, pressVTo_ = 0;
    QRect box_;
};

}  // namespace tarvo::view
