#include "support.h"

#include "../support/config_home.h"

#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <utility>

#include <gtest/gtest.h>
#include <unistd.h>

#include "panel_callbacks.h"

std::vector<Call> calls;
std::function<void(const Call&)> onCall;

namespace {

int record(const char* name, int panel, int control, int event)
{
    calls.push_back({name, panel, control, event});
    if (onCall)
        onCall(calls.back());
    return 0;
}

}  // namespace

#define RECORDING_CALLBACK(name)                                 \
    int name(int panel, int control, int event, void*, int, int) \
    {                                                            \
        return record(#name, panel, control, event);             \
    }

// The program's callbacks, and one the program does not have.
TARVO_PANEL_CALLBACKS(RECORDING_CALLBACK)
RECORDING_CALLBACK(other)

const CallbackBinding ProgramCallbacks[] = {TARVO_PANEL_CALLBACKS(TARVO_BIND_CALLBACK)
                                                TARVO_BIND_CALLBACK(other)};
const int ProgramCallbackCount = sizeof ProgramCallbacks / sizeof ProgramCallbacks[0];
// The test panels are small: by default they need no control. A test that
// checks requirements sets its own table (setControlRequirements).
const ControlRequirement ProgramControls[] = {{0, 0, nullptr, 0, 0}};
const int ProgramControlCount = 0;
// The program's words: the buttons its scripts press.
static const char* const kScriptButtons[] = {"start", "stop", "quit"};
const ProgramWordTable ProgramWords = {kScriptButtons, 3, "quit", ""};

int initRunTime(std::vector<std::string> args)
{
    usePrivateConfigHome();
    args.insert(args.begin(), "test_panel");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return InitRunTime(nullptr, argv.data(), nullptr);
}

std::string panelXml(int panelId, const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ui version=\"4.0\">\n"
           " <widget class=\"QWidget\" name=\"panel\">\n"
           "  <property name=\"panelId\" stdset=\"0\"><number>" +
           std::to_string(panelId) +
           "</number></property>\n"
           "  <layout class=\"QVBoxLayout\" name=\"layout\">\n" +
           body + "  </layout>\n </widget>\n</ui>\n";
}

std::string numberProperty(const std::string& name, long long value)
{
    return "<property name=\"" + name + "\"><number>" + std::to_string(value) +
           "</number></property>";
}

std::string flagProperty(const std::string& name, bool value, bool dynamic)
{
    return "<property name=\"" + name + "\"" + (dynamic ? " stdset=\"0\"" : "") + "><bool>" +
           (value ? "true" : "false") + "</bool></property>";
}

std::string itemsXml(std::initializer_list<const char*> texts)
{
    std::string xml;
    for (const char* text : texts)
        xml += std::string("<item><property name=\"text\"><string>") + text +
               "</string></property></item>";
    return xml;
}

std::string spinXml(const std::string& name, int id, const std::string& callback, int minimum,
                    int maximum)
{
    return controlXml("QSpinBox", name, id, callback,
                      numberProperty("minimum", minimum) + numberProperty("maximum", maximum));
}

std::string wholeDoubleSpinXml(const std::string& name, int id, const std::string& callback,
                               double maximum, const std::string& more)
{
    return controlXml("QDoubleSpinBox", name, id, callback,
                      numberProperty("decimals", 0) + "<property name=\"maximum\"><double>" +
                          QString::number(maximum, 'f', 0).toStdString() + "</double></property>" +
                          more);
}

std::string comboXml(const std::string& name, int id, const std::string& callback,
                     std::initializer_list<const char*> items, bool editable,
                     const std::string& more)
{
    return controlXml(
        "QComboBox", name, id, callback,
        (editable ? flagProperty("editable", true) : std::string()) + itemsXml(items) + more);
}

std::string textXml(const std::string& name, int id, const std::string& callback, bool messageLine)
{
    return controlXml("QLineEdit", name, id, callback,
                      flagProperty("readOnly", true) +
                          (messageLine ? flagProperty("messageLine", true, true) : std::string()));
}

std::string controlXml(const std::string& cls, const std::string& name, int id,
                       const std::string& callback, const std::string& more)
{
    std::string x = "   <item><widget class=\"" + cls + "\" name=\"" + name + "\">\n";
    x += "    <property name=\"ctrlId\" stdset=\"0\"><number>" + std::to_string(id) +
         "</number></property>\n";
    if (!callback.empty())
        x += "    <property name=\"callback\" stdset=\"0\"><string>" + callback +
             "</string></property>\n";
    x += more;
    x += "   </widget></item>\n";
    return x;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const std::string& text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text.data(), static_cast<qint64>(text.size()));
    return path;
}

int runGuarded(double seconds)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QuitUserInterface(kTimedOut); });
    guard.start(static_cast<int>(seconds * 1000));
    return RunUserInterface();
}

QWidget* widget(const char* name)
{
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == name)
            return top;
        if (auto* w = top->findChild<QWidget*>(name))
            return w;
    }
    return nullptr;
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = ::dup(2);
    ::dup2(fileno(file_), 2);
}

StderrCapture::~StderrCapture() { text(); }

std::string StderrCapture::text()
{
    if (done_)
        return {};
    done_ = true;
    std::fflush(stderr);
    ::dup2(saved_, 2);
    ::close(saved_);
    std::string out;
    std::rewind(file_);
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
        out.append(buf, n);
    std::fclose(file_);
    return out;
}

void expectShippedPanelDefaults()
{
    const std::pair<int, int> defaults[] = {
        {6, 6},       // channels
        {8, 115200},  // baud rate
        {9, 1},       // status byte
        {10, 2000},   // period, microseconds
        {11, 1},      // digital lines
        {12, 1},      // record counter
        {13, 1},      // integer columns
        {2, 99},      // the port list was filled: the virtual board, with no --com given
    };
    for (const auto& [control, expected] : defaults) {
        int v = -12345;
        EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR) << control;
        EXPECT_EQ(v, expected) << control;
    }
    EXPECT_EQ(SetCtrlVal(1, 7, "ready"), UIE_NO_ERROR);  // the message line
    for (int button : {3, 4, 5})
        EXPECT_EQ(SetCtrlVal(1, button, "x"), UIE_BAD_TYPE) << button;
}
