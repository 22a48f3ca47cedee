// A widget whose geometry is worked out from its size, font and palette:
// relayout() runs again whenever one of them changes. Its size hints are
// given once, at construction. A derived class's constructor calls
// relayout() itself (a base cannot reach it then).
#pragma once

#include <QEvent>
#include <QWidget>

namespace tarvo {

class LaidOutWidget : public QWidget {
public:
    QSize sizeHint() const override { return hint_; }
    QSize minimumSizeHint() const override { return minimum_; }

protected:
    LaidOutWidget(QSize hint, QSize minimum, QWidget* parent)
        : QWidget(parent), hint_(hint), minimum_(minimum)
    {
    }

    // Where things go, from the widget's size, font and palette.
    virtual void relayout() = 0;

    void resizeEvent(QResizeEvent*) override { relayout(); }
    void changeEvent(QEvent* e) override
    {
        if (e->type() == QEvent::FontChange || e->type() == QEvent::PaletteChange)
            relayout();
        QWidget::changeEvent(e);
    }

private:
    QSize hint_, minimum_;
};

}  // namespace tarvo
