// tarvo-view [PATH] [--screenshot FILE.png]: a window for a recorded run.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "viewer_window.h"

namespace {

const char kHelp[] = R"(usage: tarvo-view [PATH] [--screenshot FILE.png] [Qt options]

Shows a run recorded by tarvo: the whole run on a time axis, every channel as
a trace and the digital lines as steps, the lost records and silences marked,
an overview strip, and the record under the pointer. A run still being
recorded is followed: the axis grows as records come.

  PATH                  a run folder (with data.txt, and run.json or
                        config.txt) or a data file; default: the current folder
  --screenshot FILE.png draw the whole run into FILE.png without a window,
                        then exit (status 0; non-zero when the run cannot be read)
  --help, --version

Mouse and keys: the wheel zooms about the pointer, a drag pans, a drag with
the right button (or Ctrl) zooms into a box, a double click or Home shows the
whole run; Left/Right and Page Up/Down pan, + and - zoom; a click on the
legend shows or hides a trace.

Qt options are handed to Qt, among them -platform NAME (xcb, wayland or
offscreen). Without a display (no DISPLAY or WAYLAND_DISPLAY), and always
for --screenshot, the offscreen platform is used unless one is given.
)";

// Qt's notes that say nothing to a user of a picture made offscreen.
QtMessageHandler qtHandler = nullptr;
void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    if (msg.startsWith("This plugin does not support") ||
        msg.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    if (qtHandler)
        qtHandler(type, context, msg);
}

bool unset(const char* name)
{
    const char* v = std::getenv(name);
    return !v || !*v;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string path, shot;
    bool platformGiven = !unset("QT_QPA_PLATFORM");
    std::vector<char*> qtArgs = {argv[0]};
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("tarvo-view %s\n", TARVO_VERSION);
            return 0;
        }
        if (a == "--screenshot") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tarvo-view: --screenshot needs a file name\n");
                return 2;
            }
            shot = argv[++i];
        } else if (a.rfind("--screenshot=", 0) == 0) {
            shot = a.substr(13);
        } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "tarvo-view: unknown option %s (see --help)\n", a.c_str());
            return 2;
        } else if (a.size() > 1 && a[0] == '-') {
            // A Qt option, with its value where it takes one.
            platformGiven |= a == "-platform";
            qtArgs.push_back(argv[i]);
            static const char* const withValue[] = {"-platform",      "-display",
                                                    "-geometry",      "-style",
                                                    "-stylesheet",    "-qwindowtitle",
                                                    "-plugin",        "-qwindowgeometry",
                                                    "-qwindowicon",   "-platformpluginpath",
                                                    "-platformtheme", "-session"};
            for (const char* w : withValue)
                if (a == w && i + 1 < argc) {
                    qtArgs.push_back(argv[++i]);
                    break;
                }
        } else if (path.empty()) {
            path = a;
        } else {
            std::fprintf(stderr, "tarvo-view: one run at a time (%s and %s)\n", path.c_str(),
                         a.c_str());
            return 2;
        }
    }
    if (shot.empty() && path.empty())
        path = ".";
    if (path.empty())
        path = ".";

    static char platform[] = "-platform", offscreen[] = "offscreen";
    const bool noDisplay = unset("DISPLAY") && unset("WAYLAND_DISPLAY");
#if defined(_WIN32) || defined(__APPLE__)
    const bool headless = !shot.empty() && !platformGiven;
    (void)noDisplay;
#else
    const bool headless = !platformGiven && (noDisplay || !shot.empty());
#endif
    if (headless) {
        qtArgs.push_back(platform);
        qtArgs.push_back(offscreen);
    }
    qtArgs.push_back(nullptr);
    int qtArgc = int(qtArgs.size()) - 1;
    qtHandler = qInstallMessageHandler(quietQt);
    QApplication app(qtArgc, qtArgs.data());
    QGuiApplication::setDesktopFileName("tarvo-view");
    QApplication::setApplicationName("tarvo-view");

    tarvo::view::ViewerWindow window;
    if (!shot.empty()) {
        window.resize(tarvo::view::ViewerWindow::kShotWidth,
                      tarvo::view::ViewerWindow::kShotHeight);
        window.show();
        QEventLoop wait;
        QObject::connect(&window, &tarvo::view::ViewerWindow::opened, &wait, &QEventLoop::quit);
        QObject::connect(&window, &tarvo::view::ViewerWindow::failed, &wait, &QEventLoop::quit);
        window.open(QString::fromLocal8Bit(path.c_str()));
        wait.exec();
        if (!window.run()) {
            std::fprintf(stderr, "tarvo-view: %s\n", window.error().toLocal8Bit().constData());
            return 1;
        }
        QCoreApplication::processEvents();
        const QImage image = window.grab().toImage();
        if (!image.save(QString::fromLocal8Bit(shot.c_str()), "PNG")) {
            std::fprintf(stderr, "tarvo-view: %s: cannot be written\n", shot.c_str());
            return 1;
        }
        return 0;
    }
    window.resize(1280, 800);
    window.show();
    window.open(QString::fromLocal8Bit(path.c_str()));
    return app.exec();
}
