#include "unattended.h"

#include <cstdio>

#include "std_streams.h"

#include <QTimer>

#include <cmath>

namespace tarvo::rt {

void MessageLineEcho::say(const QString& text)
{
    if (!on_)
        return;
    std::string s = text.toStdString();
    for (char& ch : s)
        if (ch == '\n' || ch == '\r')
            ch = ' ';
    std::lock_guard lock(mutex_);
    if (last_ == s)
        return;
    last_ = s;
    // Handed to the echo's writer, so that no thread waits on stdout.
    MessageEcho::instance().post("message: " + s + "\n");
}

void MessageLineEcho::setStream(std::FILE* stream)
{
    MessageEcho::instance().setStream(stream);  // may wait: outside mutex_
    std::lock_guard lock(mutex_);
    last_.reset();
}

ScriptCheck checkScriptAgainst(const std::vector<ScriptAction>& script,
                               const ControlTable* controls)
{
    for (const ScriptAction& a : script) {
        if (!controls)
            return {a.line, "no panel is loaded"};
        if (a.verb == ScriptVerb::Set) {
            auto it = controls->find(a.control);
            if (it == controls->end())
                return {a.line, "set: the panel has no control " + std::to_string(a.control)};
            const Control& c = it->second;
            const std::string what = "set: control " + std::to_string(c.id) + " (" +
                                     quotedName(c.widget->objectName()) + ")";
            if (!holdsInteger(c.kind))
                return {a.line, what + " is a " + c.widget->metaObject()->className() +
                                    ", not an integer control"};
            if (std::string why = refusal(c, a.value); !why.empty())
                return {a.line, what + " " + why};
        } else if (a.verb == ScriptVerb::Press) {
            if (!boundTo(*controls, QString::fromStdString(a.callback)))
                return {a.line, "press " + a.callback + ": no control on the panel has callback " +
                                    quoteToken(a.callback)};
        }
    }
    return {};
}

void UnattendedRunner::configure(std::string scriptFile, std::vector<ScriptAction> script)
{
    scriptFile_ = std::move(scriptFile);
    script_ = std::move(script);
    started_ = false;
}

void UnattendedRunner::startOnce(ScriptTarget& target)
{
    if (!active() || started_)
        return;
    started_ = true;
    QTimer::singleShot(0, this, [this, &target] { step(target, 0); });
}

void UnattendedRunner::step(ScriptTarget& target, std::size_t i)
{
    if (!target.accepting() || i >= script_.size())
        return;
    if (target.callbackRunning()) {
        // A callback runs a nested event loop: the next action, like any
        // user action, waits until the callback has returned.
        QTimer::singleShot(10, this, [this, &target, i] { step(target, i); });
        return;
    }
    const ScriptAction& a = script_[i];
    int delayMs = 0;
    switch (a.verb) {
    case ScriptVerb::Set:
        if (!target.setByScript(a.control, a.value))
            std::fprintf(stderr, "tarvo: %s:%d: control %d is greyed out; not set\n",
                         scriptFile_.c_str(), a.line, a.control);
        break;
    case ScriptVerb::Press:
        if (!target.pressByScript(QString::fromStdString(a.callback)))
            std::fprintf(stderr, "tarvo: %s:%d: %s is greyed out; not pressed\n",
                         scriptFile_.c_str(), a.line, a.callback.c_str());
        break;
    case ScriptVerb::Wait: delayMs = static_cast<int>(std::llround(a.seconds * 1000)); break;
    }
    QTimer::singleShot(delayMs, Qt::PreciseTimer, this,
                       [this, &target, i] { step(target, i + 1); });
}

}  // namespace tarvo::rt
