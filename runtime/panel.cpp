// The panel, its event loop and unattended mode, on Qt Widgets.
//
// The panel file is a Qt Designer form. The panel is the widget whose dynamic
// property `panelId` is the resource id; its controls are the descendants with
// a dynamic property `ctrlId`, each optionally naming a program callback in
// `callback`. A combo box with `portList` set lists the serial ports, a button
// with `portRefresh` set reads that list again, and the control with
// `messageLine` set is echoed to stdout in unattended mode. The live chart
// goes into the widget with `chart` set, the run status into the labels with
// a `runStatus` property (see run_status.h); a hint function installed on a
// text control is computed again whenever a control's value changes.
//
// Callbacks run on the main thread, one at a time and only while
// RunUserInterface runs: an event that arrives while a callback runs (from a
// nested event loop, or one the callback provokes) waits behind it.
#include "callback_loop.h"
#include "com_table.h"
#include "options.h"
#include "panel_controls.h"
#include "panel_file.h"
#include "panel_fittings.h"
#include "panel_hints.h"
#include "panel_internal.h"
#include "panel_memory.h"
#include "panel_values.h"
#include "qt_start.h"
#include "runtime.h"
#include "startup.h"
#include "std_streams.h"
#include "termination_signals.h"
#include "unattended.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace tarvo::rt {

namespace {

// The loaded panel as Qt widgets: its controls, the event loop that calls
// the program's callbacks, and what other threads and scripts set on it.
class WidgetPanel final : public QObject, ControlWiring, ScriptTarget {
public:
    void configure(Options options, std::vector<ScriptAction> script, QStringList arguments)
    {
        options_ = std::move(options);
        startAgain_.setArguments(std::move(arguments));
        echo_.enable(!options_.scriptFile.empty());
        unattended_.configure(options_.scriptFile, std::move(script));
        signals_.install([this] {
            // A question on screen is withdrawn: nobody may be there to
            // answer it (a closed terminal), and a signal never asks.
            question_.withdraw();
            userQuit(false);
        });
    }

    // ---- panel ------------------------------------------------------------

    int load(int parent, const char* file, int resourceId)
    {
        auto fail = [](const QString& why) {
            std::fprintf(stderr, "tarvo: %s\n", why.toLocal8Bit().constData());
            return LOAD_PANEL_FAILED;
        };
        if (!file || !*file)
            return fail("LoadPanel: no panel file named");
        if (parent != 0)
            return fail("LoadPanel: only top-level panels (parent 0) are supported");
        if (panel_.root)
            return fail("LoadPanel: a panel is already loaded");
        PanelFile loaded = loadPanelFile(file, resourceId);
        if (!loaded.root)
            return fail(loaded.error);

        panel_.root = std::move(loaded.root);
        panel_.handle = nextHandle_++;
        panel_.resourceId = resourceId;
        panel_.controls = std::move(loaded.controls);
        wire();
        values_.posted().open(panel_.handle, panel_.resourceId, panel_.controls);
        memory_.loaded(panel_.controls, loaded.digest);
        startAgain_.attach(panel_.root.get(), unattended_.active());

        if (unattended_.active()) {
            const ScriptCheck check = checkScriptAgainst(unattended_.script(), &panel_.controls);
            if (check.line != 0) {
                std::fprintf(stderr, "tarvo: %s:%d: %s\n", unattended_.scriptFile().c_str(),
                             check.line, check.error.c_str());
                discard(panel_.handle);  // the program ends; nothing stays half started
                return LOAD_SCRIPT_MISFIT;
            }
        }
        return panel_.handle;
    }

    int display(int panel)
    {
        if (!panel_.matches(panel))
            return UIE_BAD_PANEL;
        panel_.root->show();
        return UIE_NO_ERROR;
    }

    int discard(int panel)
    {
        if (!panel_.matches(panel))
            return UIE_BAD_PANEL;
        values_.posted().close();
        panel_.controls.clear();
        controlOf_.clear();
        hints_.clear();
        panel_.handle = panel_.resourceId = 0;
        if (loop_.callbackRunning()) {
            // A callback is discarding its own panel: the widget whose signal
            // called it is still on the stack.
            panel_.root->hide();
            panel_.root.release()->deleteLater();
        } else {
            panel_.root.reset();
        }
        return UIE_NO_ERROR;
    }

    // ---- between runs -----------------------------------------------------

    int recall(int panel)
    {
        if (!panel_.matches(panel) || !onMainThread())
            return UIE_BAD_PANEL;
        if (unattended_.active())
            return 0;
        QStringList notes;
        const int applied = memory_.recall(panel_.controls, values_, notes);
        for (const QString& n : notes)
            std::fprintf(stderr, "tarvo: %s\n", n.toLocal8Bit().constData());
        if (startAgain_.startedAgain())
            notes.prepend(
                "Started again after Stop: untick \"Start again after Stop\" to end "
                "with the next Stop.");
        else if (applied > 0 && notes.isEmpty())
            notes << "The settings are those of the last run (\"Panel file values\" gives the "
                     "panel file's).";
        if (!notes.isEmpty())
            RunStatusNote(notes.join("  ").toUtf8().constData());
        return applied;
    }

    int remember(int panel)
    {
        if (!panel_.matches(panel) || !onMainThread())
            return UIE_BAD_PANEL;
        if (unattended_.active())
            return 0;
        if (const QString why = memory_.remember(panel_.controls); !why.isEmpty()) {
            std::fprintf(stderr, "tarvo: the settings are not kept for the next start: %s\n",
                         why.toLocal8Bit().constData());
            return -1;
        }
        return 0;
    }

    int startAgain(int panel)
    {
        if (!panel_.matches(panel) || !onMainThread())
            return UIE_BAD_PANEL;
        // A signal asks the program to end, whatever the box says.
        if (unattended_.active() || !startAgain_.ticked() || TerminationSignals::caught())
            return 0;
        QString why;
        if (startAgain_.start(why) < 0) {
            std::fprintf(stderr, "tarvo: cannot start again: %s\n", why.toLocal8Bit().constData());
            return -1;
        }
        std::fprintf(stderr, "tarvo: started again for the next run\n");
        return 1;
    }

    const ControlTable* controls() const { return panel_.root ? &panel_.controls : nullptr; }

    PanelValues& values() { return values_; }

    int installHint(int panel, int control, HintFunctionPtr function)
    {
        if (!onMainThread())
            return UIE_BAD_PANEL;
        int err = UIE_NO_ERROR;
        Control* c = panel_.findText(panel, control, err);
        if (!c)
            return err;
        hints_.install(control, function);
        // A wrapping hint keeps room for two lines, so a longer text never
        // asks the window for more height (a top-level window does not grow
        // for a label's height-for-width).
        if (auto* label = qobject_cast<QLabel*>(c->widget); label && label->wordWrap())
            label->setMinimumHeight(
                std::max(label->minimumHeight(),
                         2 * label->fontMetrics().lineSpacing() + 2 * label->margin()));
        if (!function)
            values_.applyText(*c, QString());
        refreshHints();
        return UIE_NO_ERROR;
    }

    void setEchoStream(std::FILE* f) { echo_.setStream(f); }

    int setAttribute(int panel, int control, int attribute, int value)
    {
        if (!onMainThread()) {
            QMetaObject::invokeMethod(
                this, [=, this] { setAttribute(panel, control, attribute, value); },
                Qt::QueuedConnection);
            return UIE_NO_ERROR;
        }
        int err = UIE_NO_ERROR;
        Control* c = panel_.find(panel, control, err);
        if (!c)
            return err;
        if (attribute != ATTR_DIMMED)
            return UIE_BAD_ATTRIBUTE;
        const bool enabled = value == 0;
        c->widget->setEnabled(enabled);
        // The port list's refresh would change the port under a dimmed list,
        // and the panel file's values the settings of a run.
        const bool portList = c->widget->property("portList").toBool();
        const bool editable = PanelMemory::settingsEditable(panel_.controls);
        for (QWidget* w : panel_.root->findChildren<QWidget*>()) {
            if (portList && w->property("portRefresh").toBool())
                w->setEnabled(enabled);
            if (w->property("panelFileValues").toBool())
                w->setEnabled(editable);
        }
        // Greyed out on screen before a long call on this thread (the
        // handshake) keeps the event loop away.
        panel_.root->repaint();
        return UIE_NO_ERROR;
    }

    int getAttribute(int panel, int control, int attribute, int* value)
    {
        if (!onMainThread())
            return UIE_BAD_PANEL;  // widgets belong to the main thread
        int err = UIE_NO_ERROR;
        Control* c = panel_.find(panel, control, err);
        if (!c)
            return err;
        if (attribute != ATTR_DIMMED)
            return UIE_BAD_ATTRIBUTE;
        if (!value)
            return UIE_BAD_TYPE;
        *value = c->widget->isEnabled() ? 0 : 1;
        return UIE_NO_ERROR;
    }

    // ---- event loop -------------------------------------------------------

    int run()
    {
        unattended_.startOnce(*this);
        return loop_.run();
    }

    int quit(int code)
    {
        if (!onMainThread()) {
            QMetaObject::invokeMethod(
                this, [this, code] { quit(code); }, Qt::QueuedConnection);
            return 0;
        }
        loop_.quit(code);
        return 0;
    }

    int popup(const char* title, const char* message, const char* const labels[3], int escape)
    {
        if (!onMainThread())
            return escape;
        QWidget* parent = panel_.root && panel_.root->isVisible() ? panel_.root.get() : nullptr;
        return question_.ask(parent, title, message, labels, escape);
    }

    int interactive() const { return onMainThread() && loop_.interactiveNow() ? 1 : 0; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(e);
            auto it = controlOf_.find(watched);
            // A press travels from the innermost widget outwards: report it
            // where it lands first, not again at each part of the control.
            if (me->button() == Qt::LeftButton && it != controlOf_.end()) {
                QWidget* inner = static_cast<QWidget*>(watched)->childAt(me->position().toPoint());
                if (!inner || !controlOf_.count(inner))
                    dispatch(it->second, EVENT_LEFT_CLICK);
            }
        } else if (e->type() == QEvent::Close && watched == panel_.root.get()) {
            // The window stays until the program discards the panel; closing
            // it asks the program to quit, as the Quit button does.
            e->ignore();
            // After the close has been refused: a question asked from inside
            // it would be closed with the window's transient windows.
            if (!question_.open())  // the question already asked is answered first
                QTimer::singleShot(0, this, [this] {
                    if (!question_.open())
                        userQuit(true);
                });
            return true;
        }
        return QObject::eventFilter(watched, e);
    }

private:
    // ---- what the controls and the script call ---------------------------

    void committed(int id) override
    {
        if (!values_.byProgram())
            dispatch(id, EVENT_COMMIT);
    }

    void comboCommitted(int id, bool always) override
    {
        auto it = panel_.controls.find(id);
        if (it == panel_.controls.end() || values_.byProgram())
            return;
        const QString text = static_cast<QComboBox*>(it->second.widget.data())->currentText();
        if (!always && text == it->second.committedText)
            return;
        it->second.committedText = text;
        dispatch(id, EVENT_COMMIT);
    }

    // Hints follow every change of a value, the program's included.
    void valueChanged() override { refreshHints(); }

    void fillPortList(QComboBox* box) override { fillPorts(box, std::nullopt); }

    bool accepting() const override { return loop_.accepting(); }
    bool callbackRunning() const override { return loop_.callbackRunning(); }

    bool setByScript(int control, std::int64_t value) override
    {
        auto it = panel_.controls.find(control);
        if (it == panel_.controls.end() || !it->second.widget)
            return true;
        if (!it->second.widget->isEnabled())
            return false;
        if (values_.apply(it->second, value) == UIE_NO_ERROR) {
            it->second.widget->repaint();
            dispatch(control, EVENT_COMMIT, false);
        }
        return true;
    }

    bool pressByScript(const QString& callback) override
    {
        const Control* c = boundTo(panel_.controls, callback);
        if (c && c->widget && !c->widget->isEnabled())
            return false;
        if (c)
            dispatch(c->id, EVENT_COMMIT, false);
        return true;
    }

    // ---- helpers ----------------------------------------------------------

    bool onMainThread() const { return QThread::currentThread() == thread(); }

    // Connects the controls' user actions to their callbacks.
    void wire()
    {
        panel_.root->installEventFilter(this);
        for (auto& [id, c] : panel_.controls) {
            QWidget* w = c.widget;
            controlOf_[w] = id;
            w->installEventFilter(this);
            for (QWidget* part : w->findChildren<QWidget*>()) {
                controlOf_[part] = id;
                part->installEventFilter(this);
            }
            adapterOf(c.kind).wire(c, *this);
        }
        connectPanelButtons(panel_.root.get(), [this] { refreshPortLists(); });
        for (QAbstractButton* b : panel_.root->findChildren<QAbstractButton*>())
            if (b->property("panelFileValues").toBool())
                connect(b, &QAbstractButton::clicked, this, [this] {
                    memory_.restore(panel_.controls, values_);
                    RunStatusNote("The settings are the panel file's again.");
                });
        attachLiveView(panel_.root.get(), options_.noChart);
    }

    void refreshHints() { hints_.refresh(panel_.controls, panel_.handle); }

    // The port chosen before (`keep`), else the first --com, else the
    // virtual board.
    void fillPorts(QComboBox* box, std::optional<int> keep)
    {
        values_.setByProgram(true);
        tarvo::rt::fillPortList(
            box, keep ? *keep
                      : (!options_.com.empty() ? options_.com.front().port : kVirtualPortNumber));
        values_.setByProgram(false);
    }

    void refreshPortLists()
    {
        for (auto& [id, c] : panel_.controls) {
            auto* box = qobject_cast<QComboBox*>(c.widget.data());
            if (!box || !box->property("portList").toBool())
                continue;
            std::optional<int> keep;
            if (box->currentIndex() >= 0)
                keep = static_cast<int>(itemValue(box, box->currentIndex()));
            fillPorts(box, keep);
            c.committedText = box->currentText();
        }
    }

    // `interactive`: a person at the window set it off (not a script's
    // action or a signal); unattended mode has no person to ask.
    void dispatch(int control, int event, bool interactive = true)
    {
        loop_.dispatch(control, event, interactive && !unattended_.active());
    }

    // The window's close button and SIGINT/SIGTERM/SIGHUP: as if Quit were
    // pressed (by a person, for the close button).
    void userQuit(bool interactive)
    {
        if (const Control* c =
                boundTo(panel_.controls, QString::fromUtf8(ProgramWords.quitCallback)))
            dispatch(c->id, EVENT_COMMIT, interactive);
        else if (loop_.running())
            quit(0);
    }

    Options options_;
    UnattendedRunner unattended_;
    MessageLineEcho echo_;
    TerminationSignals signals_;
    PanelQuestion question_;
    PanelMemory memory_;
    StartAgain startAgain_;

    LoadedPanel panel_;
    int nextHandle_ = 1;
    std::map<QObject*, int> controlOf_;  // a control and its parts, for clicks
    PanelValues values_{panel_, echo_};

    PanelHints hints_{[this](Control& c, const QString& text) { values_.applyText(c, text); }};
    CallbackLoop loop_{panel_.controls, panel_.handle};
};

// The run-time layer's one panel. Like the application object it lives
// until the process ends: widgets and timers may use it up to the last moment.
WidgetPanel* gPanel = nullptr;

}  // namespace

ScriptCheck checkScript(const std::vector<ScriptAction>& script)
{
    return checkScriptAgainst(script, gPanel ? gPanel->controls() : nullptr);
}

bool flushMessageEcho(double seconds) { return MessageEcho::instance().drain(seconds); }

void setMessageEchoStream(std::FILE* stream)
{
    if (gPanel)
        gPanel->setEchoStream(stream);
}

}  // namespace tarvo::rt

using tarvo::rt::gPanel;

int InitRunTime(void* instance, char** argv, void* reserved)
{
    (void)instance, (void)reserved;
    using namespace tarvo::rt;
    ProgramTerms terms;
    for (int i = 0; i < ProgramWords.scriptButtonCount; ++i)
        terms.scriptButtons.emplace_back(ProgramWords.scriptButtons[i]);
    terms.controlIdsHelp = ProgramWords.controlIdsHelp ? ProgramWords.controlIdsHelp : "";
    setProgramTerms(std::move(terms));
    QStringList arguments;  // as given, for a process started again
    for (char** p = argv && *argv ? argv + 1 : argv; p && *p; ++p)
        arguments << QString::fromLocal8Bit(*p);
    std::optional<Options> o = readCommandLine(argv);
    if (!o)
        return 0;
    std::vector<ScriptAction> script;
    if (!o->scriptFile.empty()) {
        ScriptResult s = loadScript(o->scriptFile);
        if (!s.ok) {
            if (s.errorLine > 0)
                std::fprintf(stderr, "tarvo: %s:%d: %s\n", o->scriptFile.c_str(), s.errorLine,
                             s.error.c_str());
            else
                std::fprintf(stderr, "tarvo: %s: %s\n", o->scriptFile.c_str(), s.error.c_str());
            std::exit(2);
        }
        script = std::move(s.actions);
    }
    mapComDevices(*o);
    startQt(*o);
    if (!gPanel)
        gPanel = new WidgetPanel;
    gPanel->configure(std::move(*o), std::move(script), std::move(arguments));
    return 1;
}

int LoadPanel(int parent, const char* file, int resourceId)
{
    if (!gPanel) {
        std::fprintf(stderr, "tarvo: LoadPanel before InitRunTime\n");
        return LOAD_PANEL_FAILED;
    }
    return gPanel->load(parent, file, resourceId);
}

int DisplayPanel(int panel) { return gPanel ? gPanel->display(panel) : UIE_BAD_PANEL; }

int DiscardPanel(int panel) { return gPanel ? gPanel->discard(panel) : UIE_BAD_PANEL; }

int RunUserInterface() { return gPanel ? gPanel->run() : -1; }

int QuitUserInterface(int returnCode) { return gPanel ? gPanel->quit(returnCode) : 0; }

namespace {

// Either overload of GetCtrlVal: the control's 32 bits into *value.
template <class Int>
int getControlValue(int panel, int control, Int* value)
{
    if (!gPanel)
        return UIE_BAD_PANEL;
    if (!value)
        return UIE_BAD_TYPE;
    std::uint32_t v = 0;
    const int err = gPanel->values().get(panel, control, v);
    if (err == UIE_NO_ERROR)
        *value = static_cast<Int>(v);
    return err;
}

}  // namespace

int GetCtrlVal(int panel, int control, unsigned int* value)
{
    return getControlValue(panel, control, value);
}

int GetCtrlVal(int panel, int control, int* value)
{
    return getControlValue(panel, control, value);
}

int SetCtrlVal(int panel, int control, const char* text)
{
    return gPanel ? gPanel->values().setText(panel, control, tarvo::rt::messageText(text))
                  : UIE_BAD_PANEL;
}

int SetCtrlVal(int panel, int control, int value)
{
    return gPanel ? gPanel->values().setNumber(panel, control, value, true) : UIE_BAD_PANEL;
}

int SetCtrlVal(int panel, int control, unsigned int value)
{
    return gPanel ? gPanel->values().setNumber(panel, control, value, false) : UIE_BAD_PANEL;
}

int InstallHintFunction(int panel, int control, HintFunctionPtr function)
{
    return gPanel ? gPanel->installHint(panel, control, function) : UIE_BAD_PANEL;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value)
{
    return gPanel ? gPanel->setAttribute(panel, control, attribute, value) : UIE_BAD_PANEL;
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value)
{
    return gPanel ? gPanel->getAttribute(panel, control, attribute, value) : UIE_BAD_PANEL;
}

int GenericMessagePopup(const char* title, const char* message, const char* button1,
                        const char* button2, const char* button3, int escapeButton)
{
    const char* const labels[3] = {button1, button2, button3};
    return gPanel ? gPanel->popup(title, message, labels, escapeButton) : escapeButton;
}

int RememberPanelSettings(int panel) { return gPanel ? gPanel->remember(panel) : UIE_BAD_PANEL; }

int RecallPanelSettings(int panel) { return gPanel ? gPanel->recall(panel) : UIE_BAD_PANEL; }

int StartProgramAgain(int panel) { return gPanel ? gPanel->startAgain(panel) : UIE_BAD_PANEL; }

int InteractiveEvent(void) { return gPanel ? gPanel->interactive() : 0; }
