// The live chart: a strip chart of the last seconds of a run, one trace per
// analog channel (0..4095) and the four digital lines as steps below them.
// Internal to the run-time layer; the program reaches it through ChartBegin
// and ChartRecord.
//
// A timer drains the records from the feed at a steady rate and sorts them
// into time columns, one per pixel of the plot's width, each keeping the
// first, least, greatest and last value of every trace: a spike narrower
// than a column still shows, and the memory and the drawing do not grow with
// the record rate. The traces are drawn into an image used as a ring, one
// image column per time column: a frame draws only the columns that changed
// since the last one, and the axes and the legend come from a picture made
// once per layout.
#pragma once

#include "live_feed.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

namespace tarvo::rt {

class StripChart final : public QWidget {
    Q_OBJECT

public:
    static constexpr double kWindowSeconds = 5.0;
    static constexpr int kFrameMs = 40;  // 25 frames a second
    // The records per second the chart takes at most; beyond that the run
    // hands over every n-th record. A real board sends at most about 3200.
    static constexpr double kMaxTakenPerSecond = 40000;

    explicit StripChart(ChartFeed& feed, QWidget* parent = nullptr);
    ~StripChart() override;

    // What the chart has received in the current run.
    struct Received {
        unsigned run = 0;
        std::uint64_t points = 0;  // records taken from the feed
        std::uint32_t lastIndex = 0;
        std::array<std::uint16_t, kChartChannels> lastValues{};
        std::uint8_t lastStatus = 0;
    };
    const Received& received() const { return received_; }
    const ChartLayout& layout() const { return layout_; }

    // Takes what the feed holds now (the timer does this every frame).
    void drain();

    QSize sizeHint() const override { return {640, 420}; }
    QSize minimumSizeHint() const override { return {320, 240}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void changeEvent(QEvent*) override;

private:
    struct Column {
        std::int64_t id = -1;  // absolute column number (time / column width); else empty
        std::array<std::uint16_t, kChartChannels> first{}, lo{}, hi{}, last{};
        std::uint8_t linesFirst = 0, linesLo = 0, linesHi = 0, linesLast = 0;  // lo: AND, hi: OR
    };
    // Where things go, in the widget's coordinates.
    struct Geometry {
        QRect plot;   // the analog traces
        QRect lanes;  // the digital lines (empty without them)
        QRect image;  // both, with the gap between them: the traces' image
        int laneHeight = 0;
    };

    void restart(const ChartLayout& layout);
    void take(const ChartPoint& p);
    void adjustSkip();
    void relayout();
    void rebin(int columns);
    Column* column(std::int64_t id);
    void renderTraces();
    void clearImageColumns(int x0, int x1);
    void drawColumns(std::int64_t from, std::int64_t origin, int x0, int x1);
    QPixmap staticPicture() const;

    ChartFeed& feed_;
    QTimer timer_;
    ChartLayout layout_;
    Received received_;
    std::vector<ChartPoint> batch_;

    // Time columns: a ring of one column per device pixel of the plot.
    std::vector<Column> columns_;
    double columnUs_ = 0;
    std::int64_t latest_ = -1;  // the newest column with data

    Geometry geo_;
    double dpr_ = 1;
    QPixmap background_;  // axes, labels, legend
    QImage traces_;       // the traces, in device pixels; column id at x = id mod width
    std::int64_t shown_ = -1;  // latest_ when the image was last brought up to date
    std::int64_t dirtyFrom_ = INT64_MAX;  // the oldest column changed since then
    bool redrawAll_ = true;
    bool restatic_ = true;

    // The record rate, measured from record numbers between frames.
    QElapsedTimer clock_;
    std::uint32_t rateIndex_ = 0;
    qint64 rateAt_ = 0;
};

}  // namespace tarvo::rt
