// The live chart: a strip chart of the last seconds of a run, one trace per
// analog channel (0..4095) and the four digital lines as steps below them.
// Internal to the run-time layer; the program reaches it through ChartBegin
// and ChartRecord.
//
// A timer drains the records from the feed at a steady rate and sorts them
// into time columns (chart_columns.h), one per pixel of the plot's width:
// the drawing does not grow with the record rate. The traces are drawn
// (chart_drawing.h) into an image used as a ring, one image column per time
// column: a frame draws only the columns that changed since the last one,
// and the axes and the legend come from a picture made once per layout.
#pragma once

#include "chart_columns.h"
#include "chart_drawing.h"
#include "live_feed.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>

#include "laid_out_widget.h"

#include <cstdint>
#include <vector>

namespace tarvo::rt {

class StripChart final : public LaidOutWidget {
    Q_OBJECT

public:
    static constexpr int kFrameMs = 40;  // 25 frames a second

    explicit StripChart(ChartFeed& feed, QWidget* parent = nullptr);
    ~StripChart() override;

    const ChartLayout& layout() const { return columns_.layout(); }
    const ChartColumns& columns() const { return columns_; }

    // Takes what the feed holds now (the timer does this every frame).
    void drain();

protected:
    void paintEvent(QPaintEvent*) override;
    void relayout() override;

private:
    void restart(const ChartLayout& layout);
    void adjustSkip();
    void renderTraces();

    ChartFeed& feed_;
    QTimer timer_;
    std::vector<ChartPoint> batch_;
    // Time columns: a ring of one column per device pixel of the plot.
    ChartColumns columns_;

    ChartGeometry geo_;
    double dpr_ = 1;
    QPixmap background_;       // axes, labels, legend
    QImage traces_;            // the traces, in device pixels; column id at x = id mod width
    std::int64_t shown_ = -1;  // the newest column when the image was last brought up to date
    bool redrawAll_ = true;
    bool restatic_ = true;

    QElapsedTimer clock_;  // for the record rate, measured between frames
};

}  // namespace tarvo::rt
