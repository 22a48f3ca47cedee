// The program's window used as a user uses it, for test programs that run
// the real panel with the program's own callbacks: its buttons found by the
// callback they are bound to, and the question that quitting during a run
// asks answered.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

// The button bound to `callback`, or null.
inline QPushButton* buttonFor(const char* callback)
{
    for (QWidget* top : QApplication::topLevelWidgets())
        for (QPushButton* b : top->findChildren<QPushButton*>())
            if (b->property("callback").toString() == callback)
                return b;
    return nullptr;
}

// While it lives, answers the question that quitting or closing the window
// during a run asks: quit without the report.
class QuitWithoutTheReport {
public:
    QuitWithoutTheReport()
    {
        QObject::connect(&answer_, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == "Quit without the report")
                        b->click();
        });
        answer_.start(20);
    }

private:
    QTimer answer_;
};
