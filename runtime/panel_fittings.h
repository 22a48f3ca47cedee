// What a panel file may hold besides controls: port lists and their refresh
// button, buttons that start a program beside this one, the live view's
// places, and the modal question a callback asks.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QComboBox;
class QWidget;

namespace tarvo::rt {

// Fills a combo box with the serial ports ("COM3  /dev/ttyUSB0 (FTDI)") and
// chooses port `want`, else the virtual board, else the first.
void fillPortList(QComboBox* box, int want);

// Connects the buttons with `portRefresh` set to `refreshPorts`, and those
// with a `launch` property to starting that program.
void connectPanelButtons(QWidget* root, const std::function<void()>& refreshPorts);

// The chart into the frame with `chart` set (a note instead with
// `noChart`), the run status into the labels with a `runStatus` property.
void attachLiveView(QWidget* root, bool noChart);

// One modal question at a time.
class PanelQuestion {
public:
    // Returns the number of the button chosen (1..3); `escape` for Escape,
    // closing it, a question already open or one withdrawn.
    int ask(QWidget* parent, const char* title, const char* message, const char* const labels[3],
            int escape);
    bool open() const { return !box_.isNull(); }
    // Closes the open question as if nobody answered (a signal never asks).
    void withdraw();

private:
    QPointer<QMessageBox> box_;
    bool withdrawn_ = false;
};

// A text of the program's, null as empty.
inline QString messageText(const char* text) { return QString::fromUtf8(text ? text : ""); }

}  // namespace tarvo::rt
