// The live chart: a strip chart of a run, one trace per analog channel
// (0..4095) and the four digital lines as steps below them. Internal to the
// run-time layer; the program reaches it through ChartBegin and ChartRecord.
//
// A timer drains the records from the feed and sorts them into time columns
// (chart_columns.h), one per pixel of the plot's width, a set for each time
// window the chart offers: the drawing does not grow with the record rate or
// the window. The traces are drawn (chart_drawing.h) into an image used as a
// ring, one image column per time column: a frame draws only the columns that
// changed or that the clock moved into since the last one, and a frame is
// drawn only when one of them did; the axes and the legend come from a
// picture made once per layout.
//
// The chart's own row of controls: Pause/Resume (key P) freezes the picture
// while the recording goes on, and resume shows now; the time window. A
// click on a legend entry hides its trace (and shows it again); the mouse
// over the plot gives a readout of the column under it.
#pragma once

#include "chart_columns.h"
#include "chart_drawing.h"
#include "live_feed.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include "laid_out_widget.h"

#include <array>
#include <cstdint>
#include <vector>

class QComboBox;
class QToolButton;

namespace tarvo::rt {

class StripChart final : public LaidOutWidget {
    Q_OBJECT

public:
    // At most 12.5 frames a second. Each frame of a scrolling window copies
    // the whole plot to the screen; at 25 frames the chart alone took about
    // 0.8 % of a core at the board's pace, at 12.5 the whole program stays
    // under 1 % (tarvo-bench --only real).
    static constexpr int kFrameMs = 80;
    static constexpr int kLevels = int(std::size(ChartColumns::kWindows));

    explicit StripChart(ChartFeed& feed, QWidget* parent = nullptr);
    ~StripChart() override;

    const ChartLayout& layout() const { return levels_[0].layout(); }
    // The columns of the window shown, as they are now (paused or not).
    const ChartColumns& columns() const { return levels_[std::size_t(level_)]; }

    // Takes what the feed holds now (the timer does this every frame).
    void drain();

    bool paused() const { return paused_; }
    void setPaused(bool paused);
    // The time window: an index into ChartColumns::kWindows.
    int timeWindow() const { return level_; }
    void setTimeWindow(int level);
    // Hidden traces: bit i channel i + 1, kLinesBit the digital lines.
    unsigned hidden() const { return hidden_; }
    void setHidden(unsigned mask);
    // The readout's lines at widget point `at` (empty: nothing there).
    std::vector<ReadoutLine> readoutAt(QPoint at) const;
    // The column at the plot's right edge (the run's time, paused or not),
    // and where the parts of the chart are.
    std::int64_t rightEdge() const { return headOf(shown(), shownNowUs()); }
    const ChartGeometry& parts() const { return geo_; }
    // Frames drawn so far (the traces brought up to date and shown).
    std::uint64_t frames() const { return frames_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void relayout() override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    void restart(const ChartLayout& layout);
    void adjustSkip();
    void frame();
    void renderTraces();
    // What is drawn: the live columns, or those at the moment of the pause.
    const ChartColumns& shown() const
    {
        return paused_ ? frozen_[std::size_t(level_)] : levels_[std::size_t(level_)];
    }
    ChartColumns& shown()
    {
        return paused_ ? frozen_[std::size_t(level_)] : levels_[std::size_t(level_)];
    }
    double shownNowUs() const { return paused_ ? frozenNowUs_ : nowUs_; }
    std::int64_t headOf(const ChartColumns& c, double nowUs) const;
    QSize reserved() const;

    ChartFeed& feed_;
    QTimer timer_;
    std::vector<ChartPoint> batch_;
    // Time columns: one set a window, each a ring of one column per device
    // pixel of the plot.
    std::array<ChartColumns, kLevels> levels_;
    std::array<ChartColumns, kLevels> frozen_;  // as they were at the pause
    int level_ = 0;
    bool paused_ = false;
    unsigned hidden_ = 0;
    RunClock runClock_;
    double nowUs_ = -1, frozenNowUs_ = -1;

    QToolButton* pause_ = nullptr;
    QComboBox* window_ = nullptr;
    int hoverX_ = -1;  // the readout's place; -1: none

    ChartGeometry geo_;
    double dpr_ = 1;
    QPixmap background_;       // axes, labels, legend
    QImage traces_;            // the traces, in device pixels; column id at x = id mod width
    std::int64_t shown_ = -1;  // the right edge's column when the image was last brought up to date
    int coarsenings_ = 0;      // of the whole run's columns when the labels were made
    bool redrawAll_ = true;
    bool restatic_ = true;
    std::uint64_t frames_ = 0;
    std::int64_t drawnAtMs_ = 0;  // when the traces were last brought up to date

    QElapsedTimer clock_;  // for the record rate and the run's time
};

}  // namespace tarvo::rt
