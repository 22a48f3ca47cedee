// Unattended mode: a script's actions run against the panel as a user's
// would, each checked against the panel before the first runs, and every
// new text of the message line echoed as "message: TEXT".
#pragma once

#include "options.h"
#include "panel_controls.h"
#include "panel_internal.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::rt {

// The message line's echo, any thread: a text like the last one echoed is
// not said again. Only in unattended mode.
class MessageLineEcho {
public:
    void enable(bool on) { on_ = on; }
    void say(const QString& text);
    // Where the echo goes; what was echoed before is written to the old
    // stream first.
    void setStream(std::FILE* stream);

private:
    std::atomic<bool> on_{false};
    std::mutex mutex_;
    std::optional<std::string> last_;
};

// Checks every action of `script` against the panel's controls (null: no
// panel loaded); the first misfit is reported.
ScriptCheck checkScriptAgainst(const std::vector<ScriptAction>& script,
                               const ControlTable* controls);

// What a script's actions act on.
class ScriptTarget {
public:
    // The event loop runs and no quit is under way.
    virtual bool accepting() const = 0;
    // A callback runs (perhaps a nested event loop).
    virtual bool callbackRunning() const = 0;
    // Each returns false, doing nothing, when the control is greyed out: a
    // user could not act on it either.
    virtual bool setByScript(int control, std::int64_t value) = 0;
    virtual bool pressByScript(const QString& callback) = 0;

protected:
    ~ScriptTarget() = default;
};

class UnattendedRunner final : public QObject {
public:
    void configure(std::string scriptFile, std::vector<ScriptAction> script);
    bool active() const { return !scriptFile_.empty(); }
    const std::string& scriptFile() const { return scriptFile_; }
    const std::vector<ScriptAction>& script() const { return script_; }
    // The first time the event loop runs: the actions, one after another.
    void startOnce(ScriptTarget& target);

private:
    void step(ScriptTarget& target, std::size_t i);

    std::string scriptFile_;
    std::vector<ScriptAction> script_;
    bool started_ = false;
};

}  // namespace tarvo::rt
