// The overview strip: the whole run, small, under the chart, with the part
// the chart shows picked out. A click puts the chart's view there, a drag
// moves it, the wheel zooms the chart about the time under the pointer.
//
// The whole run's picture is made once for each size, set of traces and
// count of records, so moving the view only redraws the frame over it.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>

namespace tarvo::view {

class RunChart;

class Overview final : public QWidget {
    Q_OBJECT

public:
    explicit Overview(RunChart& chart, QWidget* parent = nullptr);

    // The strip's area for the run, in the widget's coordinates, and the
    // part of it that the chart shows.
    QRect track() const;
    QRectF shown() const;

    QSize sizeHint() const override { return {960, 56}; }
    QSize minimumSizeHint() const override { return {200, 40}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    double timeAt(double x) const;
    void centreAt(double x);
    void remake();

    RunChart& chart_;
    QImage picture_;
    struct Key {
        const void* run = nullptr;
        uint64_t count = 0;
        QSize size;
        std::vector<bool> visible;
        qint64 palette = 0;
        bool operator==(const Key&) const = default;
    } key_;
    bool dragging_ = false;
    double grab_ = 0;  // where in the window the drag took it, in pixels
};

}  // namespace tarvo::view
