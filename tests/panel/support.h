// What the panel tests share: the program's callback table (every callback
// records its call), panel files written on the fly, and a guarded loop.
#pragma once

#include "runtime.h"

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <functional>
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
