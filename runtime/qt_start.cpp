// Starting Qt: the application object and its message handler.
#include "qt_start.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::rt {

namespace {

// Argument vector for QApplication, which keeps references to argc and argv
// for its whole life.
struct QtArgs {
    int argc = 0;
    std::vector<std::string> store;
    std::vector<char*> argv;
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

void startQt(const Options& o)
{
    if (QApplication::instance())
        return;
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
    gQtHandler = qInstallMessageHandler(quietQt);
    gStartingQt = true;
    auto* app = new QApplication(qt->argc, qt->argv.data());
    gStartingQt = false;
    // It started after all: the warnings are said as usual.
    for (const auto& [type, msg] : std::exchange(gStartMessages, {}))
        quietQt(type, QMessageLogContext(), msg);
    app->setQuitOnLastWindowClosed(false);
    // The installed menu entry (tarvo.desktop) gives the window its icon.
    QGuiApplication::setDesktopFileName("tarvo");
}

}  // namespace tarvo::rt
