// tarvo-readme-shots: the pictures of the live chart for the README, made
// the way a user makes them: the real window with the program's callbacks, a
// run on the virtual board started with Start, then the chart's own controls
// worked with the mouse and the keyboard, and the window grabbed.
//
//   tarvo-readme-shots OUTDIR          chart-paused.png, chart-10min.png,
//                                      chart-hidden.png
//   tarvo-readme-shots OUTDIR --dark   chart-dark.png (a dark Fusion palette)
//
// scripts/readme-shots.sh runs it on a private X server.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPalette>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../panel/window_user.h"
#include "chart.h"
#include "ctrlids.h"
#include "hint.h"
#include "runtime.h"
#include "state.h"
#include "trace_colours.h"

namespace {

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2e), base(0x1e, 0x1e, 0x20), text(0xe6, 0xe6, 0xe6);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3e));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, QColor(0x33, 0x33, 0x38));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7e, 0xd6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return p;
}

// Where the legend shows trace `ch`: its swatch's colour in the band above
// the plot, as a user finds it.
QPoint swatchOf(tarvo::rt::StripChart* chart, int ch)
{
    const QImage image = chart->grab().toImage();
    const QColor c = tarvo::traceColour(chart->palette(), ch, tarvo::rt::kChartChannels);
    for (int y = 0; y < chart->parts().plot.top(); ++y)
        for (int x = 0; x < image.width() / 2; ++x)
            if (image.pixelColor(x, y) == c)
                return {x + 3, y};
    return {-1, -1};
}

bool save(QWidget* window, const QString& file)
{
    QApplication::processEvents();
    const bool ok = window->grab().save(file);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(file));
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarvo-readme-shots OUTDIR [--dark] [Qt options]\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const bool dark = argc > 2 && std::string(argv[2]) == "--dark";
    std::vector<std::string> args = {argv[0], "--com", "1=virtual"};
    for (int i = dark ? 3 : 2; i < argc; ++i)
        args.push_back(argv[i]);
    std::vector<char*> cargs;
    for (std::string& a : args)
        cargs.push_back(a.data());
    cargs.push_back(nullptr);

    // data.txt and config.txt go to a directory of their own.
    QTemporaryDir work;
    if (!work.isValid() || !QDir::setCurrent(work.path()))
        return 1;
    if (InitRunTime(0, cargs.data(), 0) == 0)
        return 1;
    if (dark) {
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QApplication::setPalette(darkPalette());
    }
    if ((panelHandle = LoadPanel(0, "tarvo.uir", 1)) < 0)
        return 1;
    InstallHintFunction(panelHandle, PANEL_PERIODHINT, periodhint);
    // Six channels with the digital lines, as docs/run.png shows them.
    const std::pair<int, int> settings[] = {
        {PANEL_COMPORT, 1},   {PANEL_NUMCH, 6},   {PANEL_BAUD, 115200}, {PANEL_STATUSBYTE, 1},
        {PANEL_PERIOD, 2000}, {PANEL_DIGITAL, 1}, {PANEL_COUNTER, 1},   {PANEL_FORMAT, 1},
    };
    for (auto [id, v] : settings)
        SetCtrlVal(panelHandle, id, v);
    DisplayPanel(panelHandle);

    QPushButton* start = buttonFor("start");
    auto* chart = qApp->findChild<tarvo::rt::StripChart*>("liveChart");
    for (QWidget* top : QApplication::topLevelWidgets())
        if (!chart)
            chart = top->findChild<tarvo::rt::StripChart*>("liveChart");
    if (!start || !chart) {
        std::fprintf(stderr, "tarvo-readme-shots: no Start button or no chart\n");
        return 1;
    }
    QWidget* window = chart->window();
    int status = 0;
    QTimer::singleShot(500, start, [start] { start->click(); });
    // Well into the run: the 10-minute window shows a stretch of it.
    QTimer::singleShot(dark ? 9000 : 60000, chart, [&] {
        auto* pause = chart->findChild<QToolButton*>("chartPause");
        auto* choice = chart->findChild<QComboBox*>("chartWindow");
        const QRect plot = chart->parts().plot;
        if (dark) {
            QTest::mouseMove(chart, QPoint(plot.left() + plot.width() * 2 / 3, plot.center().y()));
            QTest::qWait(300);  // the X server's pointer motion
            status |= !save(window, out + "/chart-dark.png");
        } else {
            // (c) Ch 2 hidden by a click on its legend entry.
            const QPoint ch2 = swatchOf(chart, 1);
            QTest::mouseClick(chart, Qt::LeftButton, {}, ch2);
            status |= !save(window, out + "/chart-hidden.png");
            QTest::mouseClick(chart, Qt::LeftButton, {}, ch2);
            // (b) The 10-minute window, picked from the list.
            QTest::mouseMove(chart, QPoint(2, 2));
            QTest::keyClick(choice, Qt::Key_Down);
            QTest::keyClick(choice, Qt::Key_Down);
            QTest::keyClick(choice, Qt::Key_Down);
            QTest::qWait(200);
            status |= !save(window, out + "/chart-10min.png");
            // (a) Back to 5 s, paused, with the readout in the middle.
            QTest::keyClick(choice, Qt::Key_Up);
            QTest::keyClick(choice, Qt::Key_Up);
            QTest::keyClick(choice, Qt::Key_Up);
            QTest::mouseClick(pause, Qt::LeftButton);
            QTest::qWait(300);
            QTest::mouseMove(chart, QPoint(plot.left() + plot.width() * 3 / 5, plot.center().y()));
            QTest::qWait(300);
            status |= !save(window, out + "/chart-paused.png");
        }
        // Stop ends the run (its files stay in the temporary directory)
        // and the program.
        if (QPushButton* stop = buttonFor("stop"))
            stop->click();
        else
            QuitUserInterface(0);
    });
    RunUserInterface();
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
    std::fflush(stdout);
    std::_Exit(status);
}
