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
#include "chart.h"
#include "com_table.h"
#include "live_feed.h"
#include "options.h"
#include "panel_form.h"
#include "panel_internal.h"
#include "run_status.h"
#include "runtime.h"
#include "std_streams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <QValidator>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarvo::rt {

namespace {

enum class Kind { Button, Check, Spin, DoubleSpin, Combo, Text };

// Qt's messages, as tarvo shows them (defined below).
void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& msg);

// The largest number typed into an editable combo box (a baud rate): nine
// digits keep every typed value within int.
constexpr std::int64_t kMaxTypedValue = 999'999'999;

struct Control {
    int id = 0;
    Kind kind = Kind::Button;
    QPointer<QWidget> widget;
    CtrlCallbackPtr callback = nullptr;
    QString callbackName;
    bool messageLine = false;
    QString committedText;  // editable combo box: its text at the last commit
    // What the program needs of this control (null: nothing), and the
    // numbers an editable combo box takes typed, within that.
    const ControlRequirement* need = nullptr;
    std::int64_t typedMin = 1, typedMax = kMaxTypedValue;
};

std::optional<Kind> kindOf(QWidget* w)
{
    if (qobject_cast<QCheckBox*>(w))
        return Kind::Check;
    if (qobject_cast<QAbstractButton*>(w))
        return Kind::Button;
    if (qobject_cast<QSpinBox*>(w))
        return Kind::Spin;
    if (qobject_cast<QDoubleSpinBox*>(w))
        return Kind::DoubleSpin;
    if (qobject_cast<QComboBox*>(w))
        return Kind::Combo;
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QLabel*>(w))
        return Kind::Text;
    return std::nullopt;
}

bool holdsInteger(Kind k)
{
    return k == Kind::Check || k == Kind::Spin || k == Kind::DoubleSpin || k == Kind::Combo;
}

CtrlCallbackPtr findCallback(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    for (int i = 0; i < ProgramCallbackCount; ++i)
        if (ProgramCallbacks[i].name && utf8 == ProgramCallbacks[i].name)
            return ProgramCallbacks[i].function;
    return nullptr;
}

std::optional<int> intProperty(const QObject* o, const char* name)
{
    const QVariant v = o->property(name);
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const int i = v.toInt(&ok);
    return ok ? std::optional<int>(i) : std::nullopt;
}

std::string q(const QString& s)
{
    return quoteToken(s.toStdString());
}

// The number a text begins with ("115200", "9600 baud"), if any.
std::optional<std::int64_t> leadingNumber(const QString& text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    const bool negative = i < t.size() && t[i] == u'-';
    if (negative)
        ++i;
    std::int64_t v = 0;
    qsizetype digits = 0;
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i, ++digits) {
        if (digits < 12)
            v = v * 10 + (t[i].unicode() - u'0');
    }
    if (digits == 0)
        return std::nullopt;
    v = negative ? -v : v;
    return std::clamp<std::int64_t>(v, INT_MIN, UINT32_MAX);
}

// The value of combo box item i: its data, else the number its text begins
// with, else its index.
std::int64_t itemValue(const QComboBox* box, int i)
{
    bool ok = false;
    const qlonglong data = box->itemData(i).toLongLong(&ok);
    if (ok)
        return data;
    if (auto n = leadingNumber(box->itemText(i)))
        return *n;
    return i;
}

bool typedText(const QComboBox* box)
{
    return box->isEditable() &&
           (box->currentIndex() < 0 || box->currentText() != box->itemText(box->currentIndex()));
}

// The 32 bits of a value, as the program reads them through either overload.
std::uint32_t bits(std::int64_t v)
{
    return static_cast<std::uint32_t>(v);
}

QString messageText(const char* text)
{
    return QString::fromUtf8(text ? text : "");
}

// The requirements LoadPanel checks: the program's, unless a test set others.
const ControlRequirement* gRequirements = nullptr;
int gRequirementCount = 0;
bool gRequirementsSet = false;

const ControlRequirement* requirementFor(int control)
{
    const ControlRequirement* table = gRequirementsSet ? gRequirements : ProgramControls;
    const int count = gRequirementsSet ? gRequirementCount : ProgramControlCount;
    for (int i = 0; table && i < count; ++i)
        if (table[i].control == control)
            return &table[i];
    return nullptr;
}

std::string rangeText(std::int64_t lo, std::int64_t hi)
{
    return lo == hi ? "only " + std::to_string(lo) : std::to_string(lo) + " to " + std::to_string(hi);
}

// An object name as a message shows it: as it stands when it is a plain
// identifier (as Designer makes them), else quoted.
std::string nameText(const QString& name)
{
    static const QRegularExpression plain("^[A-Za-z_][A-Za-z0-9_]{0,39}$");
    return plain.match(name).hasMatch() ? name.toStdString() : quoteToken(name.toStdString());
}

constexpr const char* kIntegerKinds =
    "the program reads an integer from it (a check box, spin box, double spin box or combo box)";
constexpr const char* kTextKinds = "the program sets a text in it (a line edit or a label)";

// Typed numbers of an editable combo box: digits, no leading zero, within
// [lo, hi] (lo >= 1). A number below lo may still grow into the range.
class TypedNumberValidator final : public QValidator {
public:
    TypedNumberValidator(std::int64_t lo, std::int64_t hi, QObject* parent)
        : QValidator(parent), lo_(lo), hi_(hi), digits_(static_cast<int>(std::to_string(hi).size()))
    {
    }
    State validate(QString& input, int&) const override
    {
        if (input.isEmpty())
            return Intermediate;
        if (input.size() > digits_ || input[0] == u'0')
            return Invalid;
        std::int64_t v = 0;
        for (QChar ch : input) {
            if (ch < u'0' || ch > u'9')
                return Invalid;
            v = v * 10 + (ch.unicode() - u'0');
        }
        if (v > hi_)
            return Invalid;
        return v < lo_ ? Intermediate : Acceptable;
    }

private:
    std::int64_t lo_, hi_;
    int digits_;
};

// Why control `c` cannot serve `need` ("" when it can): its kind, or a value
// it offers that the program cannot take. Sets the typed range of an
// editable combo box to what the program takes.
std::string misfit(Control& c, const ControlRequirement& need)
{
    QWidget* w = c.widget;
    const std::string cls = w->metaObject()->className();
    if (need.kind == CTRL_TEXT)
        return c.kind == Kind::Text ? std::string() : "class is " + cls + "; " + kTextKinds;
    if (need.kind != CTRL_INTEGER)
        return {};
    if (!holdsInteger(c.kind))
        return "class is " + cls + "; " + kIntegerKinds;
    const std::string takes = "; the program takes " + rangeText(need.minimum, need.maximum);
    auto outside = [&need](std::int64_t v) { return v < need.minimum || v > need.maximum; };
    switch (c.kind) {
    case Kind::Check:
        return outside(0) || outside(1) ? "class is " + cls + ", which offers 0 and 1" + takes
                                        : std::string();
    case Kind::Spin: {
        auto* box = static_cast<QSpinBox*>(w);
        if (outside(box->minimum()))
            return "minimum is " + std::to_string(box->minimum()) + takes;
        if (outside(box->maximum()))
            return "maximum is " + std::to_string(box->maximum()) + takes;
        return {};
    }
    case Kind::DoubleSpin: {
        // The program reads the value rounded to an integer.
        auto* box = static_cast<QDoubleSpinBox*>(w);
        auto rounded = [](double v) {
            return static_cast<std::int64_t>(std::llround(std::clamp(v, -9e15, 9e15)));
        };
        if (outside(rounded(box->minimum())))
            return "minimum is " + std::to_string(rounded(box->minimum())) + takes;
        if (outside(rounded(box->maximum())))
            return "maximum is " + std::to_string(rounded(box->maximum())) + takes;
        return {};
    }
    case Kind::Combo: {
        auto* box = static_cast<QComboBox*>(w);
        if (box->property("portList").toBool()) {
            // Filled at run time with the port numbers.
            if (outside(1) || outside(kMaxPortNumber))
                return "portList is true, which offers port numbers 1 to " +
                       std::to_string(kMaxPortNumber) + takes;
        } else {
            if (box->count() == 0)
                return "it has no items" + takes;
            for (int i = 0; i < box->count(); ++i)
                if (const std::int64_t v = itemValue(box, i); outside(v))
                    return "item " + quoteToken(box->itemText(i).toStdString()) + " has value " +
                           std::to_string(v) + takes;
        }
        if (box->isEditable()) {
            c.typedMin = std::max<std::int64_t>(1, need.minimum);
            c.typedMax = std::min<std::int64_t>(kMaxTypedValue, need.maximum);
            if (c.typedMin > c.typedMax)
                return "editable is true, which offers typed numbers from 1" + takes;
        }
        // What it shows at start is what Start reads, unless the user changes it.
        if (box->currentIndex() < 0 && !box->property("portList").toBool()) {
            const std::optional<std::int64_t> typed =
                box->isEditable() ? leadingNumber(box->currentText()) : std::nullopt;
            if (!typed || *typed < c.typedMin || *typed > c.typedMax)
                return "currentIndex is -1 (no item chosen)" + takes;
        }
        return {};
    }
    case Kind::Button:
    case Kind::Text:
        break;
    }
    return {};
}

// Every control the program reads or sets is on the panel and fits; else
// the first that does not, one line.
std::string checkRequirements(std::map<int, Control>& controls)
{
    const ControlRequirement* table = gRequirementsSet ? gRequirements : ProgramControls;
    const int count = gRequirementsSet ? gRequirementCount : ProgramControlCount;
    for (int i = 0; table && i < count; ++i) {
        const ControlRequirement& need = table[i];
        const std::string what = need.what ? need.what : "a setting";
        const std::string id = std::to_string(need.control);
        auto it = controls.find(need.control);
        if (it == controls.end())
            return "control " + id + " (" + what + "): no widget has ctrlId " + id + "; " +
                   (need.kind == CTRL_TEXT ? kTextKinds : kIntegerKinds);
        if (std::string why = misfit(it->second, need); !why.empty())
            return "control " + id + " (" + nameText(it->second.widget->objectName()) + ", " + what +
                   "): " + why;
    }
    return {};
}

// Argument vector for QApplication, which keeps references to argc and argv
// for its whole life.
struct QtArgs {
    int argc = 0;
    std::vector<std::string> store;
    std::vector<char*> argv;
};

#ifndef _WIN32
int gSignalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
    errno = saved;
}
#endif

class Runtime final : public QObject {
public:
    void configure(Options options, std::vector<ScriptAction> script)
    {
        options_ = std::move(options);
        scriptMode_ = !options_.scriptFile.empty();
        script_ = std::move(script);
        scriptStarted_ = false;
        installSignalHandlers();
    }

    // ---- panel ------------------------------------------------------------

    int load(int parent, const char* file, int resourceId)
    {
        auto fail = [](const QString& why) {
            std::fprintf(stderr, "tarvo: %s\n", why.toLocal8Bit().constData());
            return -1;
        };
        if (!file || !*file)
            return fail("LoadPanel: no panel file named");
        if (parent != 0)
            return fail("LoadPanel: only top-level panels (parent 0) are supported");
        if (root_)
            return fail("LoadPanel: a panel is already loaded");

        QString path = QFile::decodeName(file);
        if (QFileInfo(path).isRelative())
            path = QDir(QCoreApplication::applicationDirPath()).filePath(path);
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return fail("cannot open panel file " + path + ": " + f.errorString());

        QStringList warnings;
        std::unique_ptr<QWidget> top;
        {
            // The form builder reports what it cannot build only as warnings;
            // gather them, so that a damaged file fails with one line.
            WarningCapture capture(warnings);
            QString error;
            top = buildPanelForm(f, error);
            if (!top && !error.isEmpty())
                warnings.prepend(error);
        }
        if (!top || !warnings.isEmpty())
            return fail(path + ": " + (warnings.isEmpty() ? "not a panel file" : warnings.first()));

        QWidget* panel = nullptr;
        if (intProperty(top.get(), "panelId") == resourceId) {
            panel = top.get();
        } else {
            for (QWidget* w : top->findChildren<QWidget*>())
                if (intProperty(w, "panelId") == resourceId) {
                    panel = w;
                    break;
                }
        }
        if (!panel)
            return fail(path + QString(": no panel %1 (no widget with panelId %1)").arg(resourceId));
        if (panel != top.get()) {
            panel->setParent(nullptr);
            top.reset(panel);
        }

        std::map<int, Control> found;
        for (QWidget* w : panel->findChildren<QWidget*>()) {
            const QVariant idProperty = w->property("ctrlId");
            if (!idProperty.isValid())
                continue;
            const QString name = QString::fromStdString(q(w->objectName()));
            const std::optional<int> id = intProperty(w, "ctrlId");
            if (!id || *id <= 0)
                return fail(path + ": widget " + name + ": ctrlId must be a positive integer");
            const QString what = QString("control %1 (%2)").arg(*id).arg(name);
            if (auto it = found.find(*id); it != found.end())
                return fail(path + QString(": control id %1 is used twice (%2 and %3)")
                                       .arg(*id)
                                       .arg(QString::fromStdString(q(it->second.widget->objectName())))
                                       .arg(name));
            const std::optional<Kind> kind = kindOf(w);
            if (!kind)
                return fail(path + ": " + what + ": a " + w->metaObject()->className() +
                            " cannot be a control");
            Control c;
            c.id = *id;
            c.kind = *kind;
            c.widget = w;
            c.callbackName = w->property("callback").toString();
            c.messageLine = w->property("messageLine").toBool();
            if (!c.callbackName.isEmpty() && !(c.callback = findCallback(c.callbackName)))
                return fail(path + ": " + what + " names callback " +
                            QString::fromStdString(q(c.callbackName)) +
                            ", which the program does not have");
            c.need = requirementFor(c.id);
            found.emplace(c.id, std::move(c));
        }
        if (const std::string why = checkRequirements(found); !why.empty())
            return fail(path + ": " + QString::fromStdString(why));

        root_ = std::move(top);
        handle_ = nextHandle_++;
        resourceId_ = resourceId;
        controls_ = std::move(found);
        wire();
        {
            std::lock_guard lock(mutex_);
            live_ = {handle_, resourceId_, {}, 0};
            for (const auto& [id, c] : controls_) {
                live_.kinds[id] = c.kind;
                if (c.messageLine)
                    live_.messageLine = id;
            }
        }

        if (scriptMode_) {
            const ScriptCheck check = checkScript(script_);
            if (check.line != 0) {
                std::fprintf(stderr, "tarvo: %s:%d: %s\n", options_.scriptFile.c_str(), check.line,
                             check.error.c_str());
                std::exit(2);
            }
        }
        return handle_;
    }

    int display(int panel)
    {
        if (!matches(panel))
            return UIE_BAD_PANEL;
        root_->show();
        return UIE_NO_ERROR;
    }

    int discard(int panel)
    {
        if (!matches(panel))
            return UIE_BAD_PANEL;
        {
            std::lock_guard lock(mutex_);
            live_ = {};
            pending_.clear();
        }
        controls_.clear();
        controlOf_.clear();
        hints_.clear();
        handle_ = resourceId_ = 0;
        if (dispatching_) {
            // A callback is discarding its own panel: the widget whose signal
            // called it is still on the stack.
            root_->hide();
            root_.release()->deleteLater();
        } else {
            root_.reset();
        }
        return UIE_NO_ERROR;
    }

    // ---- values -----------------------------------------------------------

    int get(int panel, int control, std::uint32_t& out)
    {
        if (!onMainThread())
            return UIE_BAD_PANEL;  // widgets belong to the main thread
        int err = UIE_NO_ERROR;
        Control* c = find(panel, control, err);
        if (!c)
            return err;
        flushPending();  // a value another thread set arrives first
        const std::optional<std::int64_t> v = value(*c);
        if (!v)
            return UIE_BAD_TYPE;
        out = bits(*v);
        return UIE_NO_ERROR;
    }

    // `value` is exact (INT_MIN..UINT32_MAX); `fromInt` tells that it came
    // from a signed int, which an unsigned control reads as its 32 bits.
    int setNumber(int panel, int control, std::int64_t value, bool fromInt)
    {
        if (!onMainThread())
            return post(panel, control, Pending{false, {}, value, fromInt});
        int err = UIE_NO_ERROR;
        Control* c = find(panel, control, err);
        if (!c)
            return err;
        dropPending(control);
        if (fromInt && c->kind == Kind::DoubleSpin)
            value = bits(value);
        err = apply(*c, value);
        if (err == UIE_NO_ERROR)
            c->widget->repaint();
        return err;
    }

    int setText(int panel, int control, const QString& text)
    {
        if (!onMainThread())
            return post(panel, control, Pending{true, text, 0, false});
        int err = UIE_NO_ERROR;
        Control* c = find(panel, control, err);
        if (!c)
            return err;
        if (c->kind != Kind::Text)
            return UIE_BAD_TYPE;
        dropPending(control);
        applyText(*c, text);
        // A text set just before the main thread blocks must be on screen.
        c->widget->repaint();
        return UIE_NO_ERROR;
    }

    // ---- event loop -------------------------------------------------------

    int run()
    {
        QEventLoop loop;
        loop_ = &loop;
        loopRunning_ = true;
        quitRequested_ = false;
        quitCode_ = 0;
        queue_.clear();
        if (scriptMode_ && !scriptStarted_) {
            scriptStarted_ = true;
            QTimer::singleShot(0, this, [this] { runScript(0); });
        }
        loop.exec();
        loopRunning_ = false;
        loop_ = nullptr;
        queue_.clear();
        return quitCode_;
    }

    int quit(int code)
    {
        if (!onMainThread()) {
            QMetaObject::invokeMethod(this, [this, code] { quit(code); }, Qt::QueuedConnection);
            return 0;
        }
        quitRequested_ = true;
        quitCode_ = code;
        queue_.clear();
        if (loop_)
            loop_->exit(code);  // takes effect once the calling callback returns
        return 0;
    }

    ScriptCheck check(const std::vector<ScriptAction>& script) const
    {
        for (const ScriptAction& a : script) {
            if (!root_)
                return {a.line, "no panel is loaded"};
            if (a.verb == ScriptVerb::Set) {
                auto it = controls_.find(a.control);
                if (it == controls_.end())
                    return {a.line, "set: the panel has no control " + std::to_string(a.control)};
                const Control& c = it->second;
                const std::string what = "set: control " + std::to_string(c.id) + " (" +
                                         q(c.widget->objectName()) + ")";
                if (!holdsInteger(c.kind))
                    return {a.line, what + " is a " + c.widget->metaObject()->className() +
                                        ", not an integer control"};
                if (std::string why = refusal(c, a.value); !why.empty())
                    return {a.line, what + " " + why};
            } else if (a.verb == ScriptVerb::Press) {
                if (!boundTo(QString::fromStdString(a.callback)))
                    return {a.line, "press " + a.callback + ": no control on the panel has callback " +
                                        quoteToken(a.callback)};
            }
        }
        return {};
    }

    int installHint(int panel, int control, HintFunctionPtr function)
    {
        if (!onMainThread())
            return UIE_BAD_PANEL;
        int err = UIE_NO_ERROR;
        Control* c = find(panel, control, err);
        if (!c)
            return err;
        if (c->kind != Kind::Text)
            return UIE_BAD_TYPE;
        std::erase_if(hints_, [control](const Hint& h) { return h.control == control; });
        if (function)
            hints_.push_back({control, function});
        else
            applyText(*c, QString());
        refreshHints();
        return UIE_NO_ERROR;
    }

    void setEchoStream(std::FILE* f)
    {
        MessageEcho::instance().setStream(f);  // may wait: outside mutex_
        std::lock_guard lock(mutex_);
        lastEcho_.reset();
    }

    // ---- questions --------------------------------------------------------

    int popup(const char* title, const char* message, const char* const labels[3], int escape)
    {
        if (!onMainThread() || activePopup_)
            return escape;
        QMessageBox box(root_ && root_->isVisible() ? root_.get() : nullptr);
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(messageText(title));
        box.setText(messageText(message));
        QAbstractButton* buttons[3] = {};
        int others = 0;
        for (int i = 0; i < 3; ++i) {
            if (!labels[i])
                continue;
            const QMessageBox::ButtonRole role =
                i + 1 == escape ? QMessageBox::RejectRole
                                : (others++ == 0 ? QMessageBox::AcceptRole : QMessageBox::DestructiveRole);
            buttons[i] = box.addButton(messageText(labels[i]), role);
        }
        if (escape >= 1 && escape <= 3 && buttons[escape - 1]) {
            box.setEscapeButton(buttons[escape - 1]);
            // Enter, like Escape, leaves everything as it is.
            box.setDefaultButton(qobject_cast<QPushButton*>(buttons[escape - 1]));
        }
        activePopup_ = &box;
        popupWithdrawn_ = false;
        box.exec();
        activePopup_ = nullptr;
        if (popupWithdrawn_)
            return escape;
        for (int i = 0; i < 3; ++i)
            if (buttons[i] && box.clickedButton() == buttons[i])
                return i + 1;
        return escape;
    }

    int interactive() const { return onMainThread() && dispatching_ && interactiveNow_ ? 1 : 0; }

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
        } else if (e->type() == QEvent::Close && watched == root_.get()) {
            // The window stays until the program discards the panel; closing
            // it asks the program to quit, as the Quit button does.
            e->ignore();
            // After the close has been refused: a question asked from inside
            // it would be closed with the window's transient windows.
            if (!activePopup_)  // the question already asked is answered first
                QTimer::singleShot(0, this, [this] {
                    if (!activePopup_)
                        userQuit(true);
                });
            return true;
        }
        return QObject::eventFilter(watched, e);
    }

private:
    struct Pending {
        bool isText = false;
        QString text;
        std::int64_t value = 0;
        bool fromInt = false;
    };
    // What other threads may read: the panel's identity and its controls'
    // kinds, fixed from load to discard.
    struct Live {
        int handle = 0;
        int resourceId = 0;
        std::map<int, Kind> kinds;
        int messageLine = 0;
    };

    // Restores the previous message handler when it goes.
    class WarningCapture {
    public:
        explicit WarningCapture(QStringList& sink)
        {
            sink_ = &sink;
            previous_ = qInstallMessageHandler(&WarningCapture::handle);
        }
        ~WarningCapture()
        {
            qInstallMessageHandler(previous_);
            sink_ = nullptr;
        }
        WarningCapture(const WarningCapture&) = delete;
        WarningCapture& operator=(const WarningCapture&) = delete;

    private:
        static void handle(QtMsgType type, const QMessageLogContext& context, const QString& msg)
        {
            if (type == QtFatalMsg)
                quietQt(type, context, msg);
            if (type == QtDebugMsg || type == QtInfoMsg || !sink_)
                return;
            QString m = msg.trimmed();
            if (m.size() >= 2 && m.startsWith(u'"') && m.endsWith(u'"'))
                m = m.mid(1, m.size() - 2);
            if (m.startsWith("Designer: "))
                m = m.mid(10);
            sink_->append(m.simplified());
        }
        static inline QStringList* sink_ = nullptr;
        QtMessageHandler previous_ = nullptr;
    };

    bool onMainThread() const { return QThread::currentThread() == thread(); }

    bool matches(int panel) const
    {
        return root_ && panel > 0 && (panel == handle_ || panel == resourceId_);
    }

    Control* find(int panel, int control, int& err)
    {
        if (!matches(panel)) {
            err = UIE_BAD_PANEL;
            return nullptr;
        }
        auto it = controls_.find(control);
        if (it == controls_.end() || !it->second.widget) {
            err = UIE_BAD_CONTROL;
            return nullptr;
        }
        return &it->second;
    }

    Control* boundTo(const QString& callback)
    {
        for (auto& [id, c] : controls_)
            if (c.callbackName == callback)
                return &c;
        return nullptr;
    }
    const Control* boundTo(const QString& callback) const
    {
        return const_cast<Runtime*>(this)->boundTo(callback);
    }

    // Connects the controls' user actions to their callbacks.
    void wire()
    {
        root_->installEventFilter(this);
        for (auto& [id, c] : controls_) {
            QWidget* w = c.widget;
            const int cid = id;
            controlOf_[w] = cid;
            w->installEventFilter(this);
            for (QWidget* part : w->findChildren<QWidget*>()) {
                controlOf_[part] = cid;
                part->installEventFilter(this);
            }
            auto commit = [this, cid] {
                if (!applying_)
                    dispatch(cid, EVENT_COMMIT);
            };
            // Hints follow every change of a value, the program's included,
            // and a typed text as it is typed.
            auto changed = [this] { refreshHints(); };
            switch (c.kind) {
            case Kind::Button:
            case Kind::Check:
                // clicked, unlike toggled, comes from the user only.
                connect(static_cast<QAbstractButton*>(w), &QAbstractButton::clicked, w, commit);
                connect(static_cast<QAbstractButton*>(w), &QAbstractButton::toggled, w, changed);
                break;
            case Kind::Spin: {
                auto* box = static_cast<QSpinBox*>(w);
                // Typing commits on Enter or on leaving the box, an arrow at once.
                box->setKeyboardTracking(false);
                connect(box, &QSpinBox::valueChanged, w, commit);
                connect(box, &QSpinBox::valueChanged, w, changed);
                break;
            }
            case Kind::DoubleSpin: {
                auto* box = static_cast<QDoubleSpinBox*>(w);
                box->setKeyboardTracking(false);
                connect(box, &QDoubleSpinBox::valueChanged, w, commit);
                connect(box, &QDoubleSpinBox::valueChanged, w, changed);
                break;
            }
            case Kind::Combo: {
                auto* box = static_cast<QComboBox*>(w);
                connect(box, &QComboBox::activated, w, [this, cid] { commitCombo(cid, true); });
                connect(box, &QComboBox::currentIndexChanged, w, changed);
                connect(box, &QComboBox::editTextChanged, w, changed);
                if (box->isEditable()) {
                    // Other values may be typed; they stay out of the list.
                    box->setInsertPolicy(QComboBox::NoInsert);
                    if (!box->validator())
                        box->setValidator(new TypedNumberValidator(c.typedMin, c.typedMax, box));
                    connect(box->lineEdit(), &QLineEdit::editingFinished, w,
                            [this, cid] { commitCombo(cid, false); });
                }
                if (box->property("portList").toBool())
                    fillPortList(box, std::nullopt);
                c.committedText = box->currentText();
                break;
            }
            case Kind::Text:
                if (auto* edit = qobject_cast<QLineEdit*>(w); edit && !edit->isReadOnly())
                    connect(edit, &QLineEdit::editingFinished, w, commit);
                break;
            }
        }
        for (QAbstractButton* b : root_->findChildren<QAbstractButton*>()) {
            if (b->property("portRefresh").toBool())
                connect(b, &QAbstractButton::clicked, b, [this] { refreshPortLists(); });
            if (const QString program = b->property("launch").toString(); !program.isEmpty())
                connect(b, &QAbstractButton::clicked, b, [program] { launchBeside(program); });
        }
        attachLiveView();
    }

    // Starts `program` from the folder of this executable on the current
    // folder, apart from this process (it outlives a run's end). A program
    // that is not there is said in the run status.
    static void launchBeside(const QString& program)
    {
        QString path = QDir(QCoreApplication::applicationDirPath()).filePath(program);
#ifdef _WIN32
        path += ".exe";
#endif
        if (!QFileInfo(path).isExecutable() ||
            !QProcess::startDetached(path, {QDir::currentPath()}, QDir::currentPath())) {
            const std::string why = program.toStdString() + " cannot be started: " +
                                    quotePath(path.toStdString()) + " is missing";
            std::fprintf(stderr, "tarvo: %s\n", why.c_str());
            RunStatusNote(why.c_str());
        }
    }

    // The chart into the frame the panel file keeps for it, the run status
    // into its labels.
    void attachLiveView()
    {
        QWidget* host = nullptr;
        for (QWidget* w : root_->findChildren<QWidget*>())
            if (w->property("chart").toBool()) {
                host = w;
                break;
            }
        if (host) {
            QLayout* layout = host->layout();
            if (!layout)
                layout = new QVBoxLayout(host);
            if (options_.noChart) {
                auto* off = new QLabel("The live chart is off (--no-chart).", host);
                off->setObjectName("liveChartOff");
                off->setAlignment(Qt::AlignCenter);
                off->setEnabled(false);
                layout->addWidget(off);
            } else {
                layout->addWidget(new StripChart(chartFeed(), host));
            }
        }
        new RunStatusView(statusFeed(), root_.get());
    }

    void refreshHints()
    {
        if (hints_.empty())
            return;
        if (inHints_) {
            hintsAgain_ = true;  // a value changed while a hint read the controls
            return;
        }
        inHints_ = true;
        // A hint reads controls, which may bring in values other threads
        // set; a few rounds settle it, and a hint that keeps changing values
        // cannot loop for ever.
        for (int round = 0; round < 3; ++round) {
            hintsAgain_ = false;
            for (const Hint& h : std::vector<Hint>(hints_)) {
                auto it = controls_.find(h.control);
                if (it == controls_.end() || !it->second.widget)
                    continue;
                char text[256] = {};
                const int r = h.function(handle_, text, sizeof text);
                text[sizeof text - 1] = 0;
                applyText(it->second, r < 0 ? QString() : QString::fromUtf8(text));
            }
            if (!hintsAgain_)
                break;
        }
        inHints_ = false;
    }

    void commitCombo(int id, bool always)
    {
        auto it = controls_.find(id);
        if (it == controls_.end() || applying_)
            return;
        const QString text = static_cast<QComboBox*>(it->second.widget.data())->currentText();
        if (!always && text == it->second.committedText)
            return;
        it->second.committedText = text;
        dispatch(id, EVENT_COMMIT);
    }

    void fillPortList(QComboBox* box, std::optional<int> keep)
    {
        const int want = keep ? *keep
                              : (!options_.com.empty() ? options_.com.front().port : kVirtualPortNumber);
        applying_ = true;
        box->clear();
        for (const PortInfo& p : listPorts()) {
            QString text = QString("COM%1  ").arg(p.number);
            if (p.device == kVirtualDevice)
                text += QString::fromStdString(p.description.empty() ? "virtual board" : p.description);
            else if (p.description.empty())
                text += QString::fromStdString(p.device);
            else
                text += QString::fromStdString(p.device + " (" + p.description + ")");
            box->addItem(text, p.number);
        }
        int i = box->findData(want);
        if (i < 0)
            i = box->findData(kVirtualPortNumber);
        box->setCurrentIndex(std::max(i, 0));
        applying_ = false;
    }

    void refreshPortLists()
    {
        for (auto& [id, c] : controls_) {
            auto* box = qobject_cast<QComboBox*>(c.widget.data());
            if (!box || !box->property("portList").toBool())
                continue;
            std::optional<int> keep;
            if (box->currentIndex() >= 0)
                keep = static_cast<int>(itemValue(box, box->currentIndex()));
            fillPortList(box, keep);
            c.committedText = box->currentText();
        }
    }

    // The value a control holds, exact; none for buttons and texts.
    std::optional<std::int64_t> value(const Control& c) const
    {
        QWidget* w = c.widget;
        switch (c.kind) {
        case Kind::Check:
            return static_cast<QCheckBox*>(w)->isChecked() ? 1 : 0;
        case Kind::Spin:
            return static_cast<QSpinBox*>(w)->value();
        case Kind::DoubleSpin: {
            const double v = std::round(static_cast<QDoubleSpinBox*>(w)->value());
            return static_cast<std::int64_t>(std::clamp<double>(v, INT_MIN, UINT32_MAX));
        }
        case Kind::Combo: {
            auto* box = static_cast<QComboBox*>(w);
            if (typedText(box))
                return leadingNumber(box->currentText()).value_or(0);
            if (box->currentIndex() < 0)
                return std::nullopt;
            return itemValue(box, box->currentIndex());
        }
        case Kind::Button:
        case Kind::Text:
            break;
        }
        return std::nullopt;
    }

    // Why the control cannot take `v` ("" when it can).
    std::string refusal(const Control& c, std::int64_t v) const
    {
        if (std::string why = controlRefusal(c, v); !why.empty())
            return why;
        // The panel was checked against the program's needs at load; this
        // holds the line should a control change since.
        if (c.need && c.need->kind == CTRL_INTEGER && holdsInteger(c.kind) &&
            (v < c.need->minimum || v > c.need->maximum))
            return "takes " + rangeText(c.need->minimum, c.need->maximum) + " (" +
                   (c.need->what ? c.need->what : "the program's range") + "), not " +
                   std::to_string(v);
        return {};
    }

    // Why the control itself cannot take `v` ("" when it can).
    std::string controlRefusal(const Control& c, std::int64_t v) const
    {
        const std::string sv = std::to_string(v);
        auto range = [&](std::int64_t lo, std::int64_t hi) -> std::string {
            if (v >= lo && v <= hi)
                return {};
            return "takes " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " + sv;
        };
        switch (c.kind) {
        case Kind::Check:
            return v == 0 || v == 1 ? std::string() : "takes 0 or 1, not " + sv;
        case Kind::Spin: {
            auto* box = static_cast<QSpinBox*>(c.widget.data());
            return range(box->minimum(), box->maximum());
        }
        case Kind::DoubleSpin: {
            auto* box = static_cast<QDoubleSpinBox*>(c.widget.data());
            return range(static_cast<std::int64_t>(std::ceil(std::max<double>(box->minimum(), INT_MIN))),
                         static_cast<std::int64_t>(std::floor(std::min<double>(box->maximum(), UINT32_MAX))));
        }
        case Kind::Combo: {
            auto* box = static_cast<QComboBox*>(c.widget.data());
            std::string values;
            for (int i = 0; i < box->count(); ++i) {
                if (itemValue(box, i) == v)
                    return {};
                if (i < 12)
                    values += (i ? ", " : "") + std::to_string(itemValue(box, i));
                else if (i == 12)
                    values += ", ...";
            }
            if (box->isEditable())
                return v >= c.typedMin && v <= c.typedMax
                           ? std::string()
                           : "takes one of its items or " + rangeText(c.typedMin, c.typedMax) +
                                 ", not " + sv;
            return "has no item with value " + sv + " (values: " + values + ")";
        }
        case Kind::Button:
        case Kind::Text:
            break;
        }
        return "holds no integer";
    }

    // Sets a control as the program does: no callback.
    int apply(Control& c, std::int64_t v)
    {
        QWidget* w = c.widget;
        if (c.kind == Kind::Text) {
            applyText(c, QString::number(v));
            return UIE_NO_ERROR;
        }
        if (!refusal(c, v).empty())
            return UIE_BAD_TYPE;
        applying_ = true;
        switch (c.kind) {
        case Kind::Check:
            static_cast<QCheckBox*>(w)->setChecked(v != 0);
            break;
        case Kind::Spin:
            static_cast<QSpinBox*>(w)->setValue(static_cast<int>(v));
            break;
        case Kind::DoubleSpin:
            static_cast<QDoubleSpinBox*>(w)->setValue(static_cast<double>(v));
            break;
        case Kind::Combo: {
            auto* box = static_cast<QComboBox*>(w);
            int index = -1;
            for (int i = 0; i < box->count() && index < 0; ++i)
                if (itemValue(box, i) == v)
                    index = i;
            if (index >= 0) {
                box->setCurrentIndex(index);
                if (box->isEditable())
                    box->setEditText(box->itemText(index));
            } else {
                box->setEditText(QString::number(v));
            }
            c.committedText = box->currentText();
            break;
        }
        case Kind::Button:
        case Kind::Text:
            break;
        }
        applying_ = false;
        return UIE_NO_ERROR;
    }

    // `echoed`: the text already went to the echo when another thread set it.
    void applyText(Control& c, const QString& text, bool echoed = false)
    {
        if (auto* edit = qobject_cast<QLineEdit*>(c.widget.data())) {
            edit->setText(text);
            edit->setCursorPosition(0);  // show the start of a long message
        } else if (auto* label = qobject_cast<QLabel*>(c.widget.data())) {
            label->setText(text);
        }
        if (c.messageLine && !echoed)
            echo(text);
    }

    // ---- other threads ----------------------------------------------------

    // Keeps the latest value per control and asks the main thread to show it;
    // at most one request is on its way, however fast the caller writes.
    int post(int panel, int control, Pending p)
    {
        {
            std::lock_guard lock(mutex_);
            if (panel <= 0 || (panel != live_.handle && panel != live_.resourceId))
                return UIE_BAD_PANEL;
            auto it = live_.kinds.find(control);
            if (it == live_.kinds.end())
                return UIE_BAD_CONTROL;
            if (p.isText && it->second != Kind::Text)
                return UIE_BAD_TYPE;
            if (!p.isText && !holdsInteger(it->second) && it->second != Kind::Text)
                return UIE_BAD_TYPE;
            if (!p.isText && p.fromInt && it->second == Kind::DoubleSpin)
                p.value = bits(p.value);
            // Echoed now, in the callers' order, although the panel may show
            // only the latest of several texts.
            if (control == live_.messageLine)
                echoLocked(p.isText ? p.text : QString::number(p.value));
            pending_[control] = std::move(p);
            if (!posted_) {
                posted_ = true;
                QMetaObject::invokeMethod(this, [this] { flushPending(); }, Qt::QueuedConnection);
            }
        }
        return UIE_NO_ERROR;
    }

    void flushPending()
    {
        std::map<int, Pending> todo;
        {
            std::lock_guard lock(mutex_);
            todo.swap(pending_);
            posted_ = false;
        }
        for (auto& [id, p] : todo) {
            auto it = controls_.find(id);
            if (it == controls_.end() || !it->second.widget)
                continue;
            Control& c = it->second;
            if (p.isText)
                applyText(c, p.text, true);
            else if (c.kind == Kind::Text)
                applyText(c, QString::number(p.value), true);
            else
                apply(c, p.value);
        }
    }

    void dropPending(int control)
    {
        std::lock_guard lock(mutex_);
        pending_.erase(control);
    }

    void echo(const QString& text)
    {
        std::lock_guard lock(mutex_);
        echoLocked(text);
    }

    // Unattended mode writes every new message to stdout (mutex_ held):
    // handed to the echo's writer, so that no thread waits on stdout.
    void echoLocked(const QString& text)
    {
        if (!scriptMode_)
            return;
        std::string s = text.toStdString();
        for (char& ch : s)
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        if (lastEcho_ == s)
            return;
        lastEcho_ = s;
        MessageEcho::instance().post("message: " + s + "\n");
    }

    // ---- callbacks --------------------------------------------------------

    // `interactive`: a person at the window set it off (not a script's
    // action or a signal); unattended mode has no person to ask.
    void dispatch(int control, int event, bool interactive = true)
    {
        if (!loopRunning_ || quitRequested_)
            return;
        queue_.push_back({control, event, interactive && !scriptMode_});
        if (dispatching_)
            return;  // runs when the callback in progress returns
        dispatching_ = true;
        while (!queue_.empty() && !quitRequested_) {
            const Event e = queue_.front();
            queue_.pop_front();
            auto it = controls_.find(e.control);
            if (it == controls_.end() || !it->second.callback)
                continue;
            interactiveNow_ = e.interactive;
            it->second.callback(handle_, e.control, e.event, nullptr, 0, 0);
            interactiveNow_ = false;
        }
        dispatching_ = false;
    }

    // The window's close button and SIGINT/SIGTERM/SIGHUP: as if Quit were
    // pressed (by a person, for the close button).
    void userQuit(bool interactive)
    {
        if (Control* c = boundTo("quit"))
            dispatch(c->id, EVENT_COMMIT, interactive);
        else if (loopRunning_)
            quit(0);
    }

    // ---- unattended mode --------------------------------------------------

    void runScript(std::size_t i)
    {
        if (!loopRunning_ || quitRequested_ || i >= script_.size())
            return;
        if (dispatching_) {
            // A callback runs a nested event loop: the next action, like any
            // user action, waits until the callback has returned.
            QTimer::singleShot(10, this, [this, i] { runScript(i); });
            return;
        }
        const ScriptAction& a = script_[i];
        int delayMs = 0;
        switch (a.verb) {
        case ScriptVerb::Set:
            if (auto it = controls_.find(a.control); it != controls_.end() && it->second.widget) {
                if (apply(it->second, a.value) == UIE_NO_ERROR) {
                    it->second.widget->repaint();
                    dispatch(a.control, EVENT_COMMIT, false);
                }
            }
            break;
        case ScriptVerb::Press:
            if (Control* c = boundTo(QString::fromStdString(a.callback)))
                dispatch(c->id, EVENT_COMMIT, false);
            break;
        case ScriptVerb::Wait:
            delayMs = static_cast<int>(std::llround(a.seconds * 1000));
            break;
        }
        QTimer::singleShot(delayMs, Qt::PreciseTimer, this, [this, i] { runScript(i + 1); });
    }

    void installSignalHandlers()
    {
#ifndef _WIN32
        if (gSignalPipe[0] < 0) {
            if (::pipe(gSignalPipe) != 0)
                return;
            for (int fd : gSignalPipe) {
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            }
            auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] {
                char buf[64];
                while (::read(gSignalPipe[0], buf, sizeof buf) > 0) {
                }
                // A question on screen is withdrawn: nobody may be there to
                // answer it (a closed terminal), and a signal never asks.
                if (activePopup_) {
                    popupWithdrawn_ = true;
                    activePopup_->reject();
                }
                userQuit(false);
            });
        }
        struct sigaction sa = {};
        sa.sa_handler = onTerminationSignal;
        sigemptyset(&sa.sa_mask);
        // One polite request; a second signal ends the process at once, for a
        // program that cannot quit (a callback that never returns).
        sa.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGHUP, &sa, nullptr);  // the terminal or the session closed
#endif
    }

    Options options_;
    std::atomic<bool> scriptMode_{false};
    std::vector<ScriptAction> script_;
    bool scriptStarted_ = false;

    std::unique_ptr<QWidget> root_;
    int handle_ = 0;
    int resourceId_ = 0;
    int nextHandle_ = 1;
    std::map<int, Control> controls_;
    std::map<QObject*, int> controlOf_;  // a control and its parts, for clicks
    bool applying_ = false;              // the program, not the user, sets a value

    struct Hint {
        int control;
        HintFunctionPtr function;
    };
    std::vector<Hint> hints_;
    bool inHints_ = false;
    bool hintsAgain_ = false;

    struct Event {
        int control;
        int event;
        bool interactive;
    };
    std::deque<Event> queue_;
    bool dispatching_ = false;
    bool loopRunning_ = false;
    bool quitRequested_ = false;
    int quitCode_ = 0;
    QEventLoop* loop_ = nullptr;

    std::mutex mutex_;  // live_, pending_, posted_
    Live live_;
    std::map<int, Pending> pending_;
    bool posted_ = false;

    std::optional<std::string> lastEcho_;  // under mutex_

    bool interactiveNow_ = false;  // the callback in progress comes from a person
    QPointer<QMessageBox> activePopup_;
    bool popupWithdrawn_ = false;  // a signal closed the question
};

// Two of Qt's warnings say nothing to a user and would spoil the one-line
// reports of unattended runs: the offscreen platform cannot do what only a
// window manager could (raise, size hints), and a machine without a session
// has no XDG_RUNTIME_DIR.
QtMessageHandler gQtHandler = nullptr;

// While the application object is made, warnings wait: if Qt then gives up
// (no platform plugin, no display), the first of them says why.
bool gStartingQt = false;
std::vector<std::pair<QtMsgType, QString>> gStartMessages;

std::string firstLine(const QString& text)
{
    return text.section(u'\n', 0, 0).trimmed().toStdString();
}

void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (type == QtFatalMsg) {
        // Qt would abort (status 134, a core dump) where a user needs a line
        // and the start-up failure's status.
        std::string line = "tarvo: " + firstLine(msg);
        for (const auto& [t, m] : gStartMessages)
            if (t == QtWarningMsg || t == QtCriticalMsg) {
                line += " (" + firstLine(m) + ")";
                break;
            }
        line += "\n";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        std::_Exit(255);
    }
    if (msg.startsWith("This plugin does not support") ||
        msg.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    if (gStartingQt && type != QtDebugMsg) {
        gStartMessages.emplace_back(type, msg);
        return;
    }
    if (gQtHandler)
        gQtHandler(type, context, msg);
}

// The run-time layer's one instance. Like the application object it lives
// until the process ends: widgets and timers may use it up to the last moment.
Runtime* gRuntime = nullptr;

bool headless(const Options& o)
{
#if defined(_WIN32) || defined(__APPLE__)
    (void)o;
    return false;
#else
    auto unset = [](const char* name) {
        const char* v = std::getenv(name);
        return !v || !*v;
    };
    return !o.platformGiven && unset("QT_QPA_PLATFORM") && unset("DISPLAY") &&
           unset("WAYLAND_DISPLAY");
#endif
}

}  // namespace

void setControlRequirements(const ControlRequirement* table, int count)
{
    gRequirementsSet = table != nullptr;
    gRequirements = table;
    gRequirementCount = table ? count : 0;
}

ScriptCheck checkScript(const std::vector<ScriptAction>& script)
{
    if (!gRuntime)
        return script.empty() ? ScriptCheck{} : ScriptCheck{script.front().line, "no panel is loaded"};
    return gRuntime->check(script);
}

bool flushMessageEcho(double seconds)
{
    return MessageEcho::instance().drain(seconds);
}

void setMessageEchoStream(std::FILE* stream)
{
    if (gRuntime)
        gRuntime->setEchoStream(stream);
}

}  // namespace tarvo::rt

using tarvo::rt::gRuntime;

int InitRunTime(void* instance, char** argv, void* reserved)
{
    (void)instance, (void)reserved;
    using namespace tarvo::rt;
    prepareStandardStreams();
    std::vector<std::string> args;
    for (char** p = argv; p && *p; ++p)
        args.emplace_back(*p);

    OptionsResult parsed = parseOptions(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "tarvo: %s\n", parsed.error.c_str());
        return 0;
    }
    Options& o = parsed.options;
    if (o.help) {
        std::fputs(usageText().c_str(), stdout);
        std::exit(0);
    }
    if (o.version) {
        std::printf("tarvo %s\n", kVersion);
        std::exit(0);
    }
    std::vector<ScriptAction> script;
    if (!o.scriptFile.empty()) {
        ScriptResult s = loadScript(o.scriptFile);
        if (!s.ok) {
            if (s.errorLine > 0)
                std::fprintf(stderr, "tarvo: %s:%d: %s\n", o.scriptFile.c_str(), s.errorLine,
                             s.error.c_str());
            else
                std::fprintf(stderr, "tarvo: %s: %s\n", o.scriptFile.c_str(), s.error.c_str());
            std::exit(2);
        }
        script = std::move(s.actions);
    }

    clearComDevices();
    for (const ComOption& c : o.com)
        setComDevice(c.port, c.device);

    if (!QApplication::instance()) {
        // Kept for the life of the process: QApplication holds on to argc and
        // argv, and widgets may outlive main's last call.
        auto* qt = new QtArgs;
        qt->store = o.qtArgs;
        if (headless(o)) {
            qt->store.push_back("-platform");
            qt->store.push_back("offscreen");
        }
        for (std::string& s : qt->store)
            qt->argv.push_back(s.data());
        qt->argv.push_back(nullptr);
        qt->argc = static_cast<int>(qt->store.size());
        tarvo::rt::gQtHandler = qInstallMessageHandler(tarvo::rt::quietQt);
        tarvo::rt::gStartingQt = true;
        auto* app = new QApplication(qt->argc, qt->argv.data());
        tarvo::rt::gStartingQt = false;
        // It started after all: the warnings are said as usual.
        for (const auto& [type, msg] : std::exchange(tarvo::rt::gStartMessages, {}))
            tarvo::rt::quietQt(type, QMessageLogContext(), msg);
        app->setQuitOnLastWindowClosed(false);
        // The installed menu entry (tarvo.desktop) gives the window its icon.
        QGuiApplication::setDesktopFileName("tarvo");
    }
    if (!gRuntime)
        gRuntime = new Runtime;
    gRuntime->configure(std::move(o), std::move(script));
    return 1;
}

int LoadPanel(int parent, const char* file, int resourceId)
{
    if (!gRuntime) {
        std::fprintf(stderr, "tarvo: LoadPanel before InitRunTime\n");
        return -1;
    }
    return gRuntime->load(parent, file, resourceId);
}

int DisplayPanel(int panel)
{
    return gRuntime ? gRuntime->display(panel) : UIE_BAD_PANEL;
}

int DiscardPanel(int panel)
{
    return gRuntime ? gRuntime->discard(panel) : UIE_BAD_PANEL;
}

int RunUserInterface()
{
    return gRuntime ? gRuntime->run() : -1;
}

int QuitUserInterface(int returnCode)
{
    return gRuntime ? gRuntime->quit(returnCode) : 0;
}

int GetCtrlVal(int panel, int control, unsigned int* value)
{
    if (!gRuntime)
        return UIE_BAD_PANEL;
    if (!value)
        return UIE_BAD_TYPE;
    std::uint32_t v = 0;
    const int err = gRuntime->get(panel, control, v);
    if (err == UIE_NO_ERROR)
        *value = v;
    return err;
}

int GetCtrlVal(int panel, int control, int* value)
{
    if (!gRuntime)
        return UIE_BAD_PANEL;
    if (!value)
        return UIE_BAD_TYPE;
    std::uint32_t v = 0;
    const int err = gRuntime->get(panel, control, v);
    if (err == UIE_NO_ERROR)
        *value = static_cast<int>(v);
    return err;
}

int SetCtrlVal(int panel, int control, const char* text)
{
    return gRuntime ? gRuntime->setText(panel, control, tarvo::rt::messageText(text)) : UIE_BAD_PANEL;
}

int SetCtrlVal(int panel, int control, int value)
{
    return gRuntime ? gRuntime->setNumber(panel, control, value, true) : UIE_BAD_PANEL;
}

int SetCtrlVal(int panel, int control, unsigned int value)
{
    return gRuntime ? gRuntime->setNumber(panel, control, value, false) : UIE_BAD_PANEL;
}

int InstallHintFunction(int panel, int control, HintFunctionPtr function)
{
    return gRuntime ? gRuntime->installHint(panel, control, function) : UIE_BAD_PANEL;
}

int GenericMessagePopup(const char* title, const char* message, const char* button1,
                        const char* button2, const char* button3, int escapeButton)
{
    const char* const labels[3] = {button1, button2, button3};
    return gRuntime ? gRuntime->popup(title, message, labels, escapeButton) : escapeButton;
}

int InteractiveEvent(void)
{
    return gRuntime ? gRuntime->interactive() : 0;
}
