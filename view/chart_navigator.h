// The mouse and the keys on a run chart: the wheel zooms about the pointer;
// a drag pans; a drag with the right button (or with Ctrl) draws a box to
// zoom into (its height zooms the values too); a double click, or Home,
// shows the whole run. Left/Right pan by a tenth of the view, Page Up/Down
// by a whole one, + and - zoom about the middle, End goes to the end of the
// run. A click on a legend entry shows or hides its trace.
//
// It filters the chart's events and moves the chart through its public
// calls; the chart asks it for the box being drawn.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

#include "view_range.h"

class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

namespace tarvo::view {

class RunChart;

class ChartNavigator final : public QObject {
public:
    explicit ChartNavigator(RunChart& chart);

    bool dragging() const { return drag_ != Drag::None; }
    // The zoom box being drawn (empty: none).
    QRect box() const { return drag_ == Drag::Box ? box_ : QRect(); }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void press(QMouseEvent* e);
    void move(QMouseEvent* e);
    void release(QMouseEvent* e);
    void doubleClick(QMouseEvent* e);
    void wheel(QWheelEvent* e);
    bool key(QKeyEvent* e);
    void zoomValues(double from, double to);

    RunChart& chart_;
    enum class Drag { None, Pan, Box } drag_ = Drag::None;
    QPoint pressAt_;
    Span pressSpan_;
    double pressVFrom_ = 0, pressVTo_ = 0;
    QRect box_;
};

}  // namespace tarvo::view
