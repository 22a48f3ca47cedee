// What the panel tests share: the program's callback table (every callback
// records its call), panel files written on the fly, and a guarded loop.
#pragma once

#include "runtime.h"

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

struct Call {
    std::string name;
    int panel;
    int control;
    int event;
};

// Every call of a callback, in order; `onCall` runs inside the callback.
extern std::vector<Call> calls;
extern std::function<void(const Call&)> onCall;

// InitRunTime with these arguments after the program name; returns its result.
int initRunTime(std::vector<std::string> args = {});

// A panel file: a top-level widget with panelId `panelId` around `body`.
std::string panelXml(int panelId, const std::string& body);
// One control: a widget of `cls` with ctrlId and, if not empty, a callback;
// `more` adds property elements.
std::string controlXml(const std::string& cls, const std::string& name, int id,
                       const std::string& callback, const std::string& more = {});
// Property elements for controlXml's `more`: a number, a flag (`dynamic`
// for a property of tarvo's own, not the widget's) and combo box items.
std::string numberProperty(const std::string& name, long long value);
std::string flagProperty(const std::string& name, bool value, bool dynamic = false);
std::string itemsXml(std::initializer_list<const char*> texts);
// A spin box from `minimum` to `maximum`.
std::string spinXml(const std::string& name, int id, const std::string& callback, int minimum,
                    int maximum);
// A double spin box without decimals, from 0 to `maximum`.
std::string wholeDoubleSpinXml(const std::string& name, int id, const std::string& callback,
                               double maximum, const std::string& more = {});
// A combo box with `items`; `editable` takes typed values too.
std::string comboXml(const std::string& name, int id, const std::string& callback,
                     std::initializer_list<const char*> items, bool editable = false,
                     const std::string& more = {});
// A read-only line edit, the message line when `messageLine` is set.
std::string textXml(const std::string& name, int id, const std::string& callback,
                    bool messageLine = false);

// The shipped panel (TARVO_PANEL_FILE, loaded as panel 1) holds the
// program's defaults, its message line takes a text and its buttons none.
void expectShippedPanelDefaults();

// Writes `text` into `dir` and returns the absolute path.
QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& text);

// Runs the event loop; a guard ends it after `seconds` with kTimedOut.
constexpr int kTimedOut = -77;
int runGuarded(double seconds = 10);

// A widget of the loaded panel by object name.
QWidget* widget(const char* name);

// Collects what is written to stderr (fd 2) while it lives.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    std::string text();  // ends the capture

private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
    bool done_ = false;
};
