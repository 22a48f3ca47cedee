// The live chart: a strip chart of the last seconds of a run, one trace per
// analog channel (0..4095) and the four digital lines as steps below them.
// Internal to the run-time layer; the program reaches it through ChartBegin
// and ChartRecord.
//
// A timer drains the records from the feed at a steady rate and sorts them
// into a fixed number of time columns per window, each keeping the least and
// the greatest value of every trace; a frame draws those columns. Drawing
// therefore costs the same at any record rate, and a spike narrower than a
// column still shows.
#pragma once

#include "live_feed.h"

#include <QElapsedTimer>
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
    static constexpr int kColumns = 1000;    // time columns per window
    static constexpr int kFrameMs = 33;      // about 30 frames a second
    // The records per second the chart takes at most; beyond that the run
    // hands over every n-th record. A real board sends at most about 3200.
    static constexpr double kMaxTakenPerSecond = 40000;

    explicit StripChart(ChartFeed& feed, QWidget* parent = nullptr);
    ~StripChart() override;

    // What the chart has received in the current run (for tests and the
    // window's own use).
    struct Received {
        unsigned run = 0;
        std::uint64_t points = 0;   // records taken from the feed
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

private:
    struct Column {
        std::int64_t id = -1;  // absolute column number; another value: empty
        std::array<std::uint16_t, kChartChannels> first{}, lo{}, hi{}, last{};
        std::uint8_t linesFirst = 0, linesLo = 0, linesHi = 0, linesLast = 0;  // lo: AND, hi: OR
    };

    void restart(const ChartLayout& layout);
    void take(const ChartPoint& p);
    void adjustSkip();

    ChartFeed& feed_;
    QTimer timer_;
    ChartLayout layout_;
    Received received_;
    std::vector<Column> columns_;
    std::int64_t latest_ = -1;       // the newest column with data
    double columnUs_ = 0;
    std::vector<ChartPoint> batch_;
    bool dirty_ = true;
    // The record rate, measured from record numbers between frames.
    QElapsedTimer clock_;
    std::uint32_t rateIndex_ = 0;
    qint64 rateAt_ = 0;
};

}  // namespace tarvo::rt
