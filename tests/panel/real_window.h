// The program's real window in the test's own process, offscreen, with the
// program's own callbacks, against the virtual board: opened as main opens
// it, given the settings of a run, and worked from the event loop.
//
// Everything is in namespace realwin, so a test program with helpers of its
// own by the same names can include this and name these in full.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../support/config_home.h"
#include "ctrlids.h"
#include "fresh_run.h"
#include "hint.h"
#include "pty.h"
#include "runtime.h"
#include "serial_virtual.h"
#include "window_user.h"

namespace realwin {

constexpr int kBoardPort = 1;  // --com 1=virtual

inline QWidget* window()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "tarvoPanel")
            return top;
    return nullptr;
}

template <class T>
T* child(const char* name)
{
    QWidget* w = window();
    return w ? w->findChild<T*>(name) : nullptr;
}

// InitRunTime as `tarvo -platform offscreen --com 1=virtual EXTRA...` with
// the settings kept between runs in a folder of the test program's own.
inline void startRunTime(std::vector<std::string> extra = {})
{
    std::vector<std::string> args = {"tarvo", "-platform", "offscreen", "--com", "1=virtual"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    usePrivateConfigHome();
    ASSERT_EQ(InitRunTime(nullptr, argv.data(), nullptr), 1);
}

// Loads the shipped panel into `panel` and shows it as main does; with
// `recalled`, puts back the remembered settings first and says how many.
inline void showWindow(int& panel, int* recalled = nullptr)
{
    panel = LoadPanel(0, "tarvo.uir", 1);
    ASSERT_GT(panel, 0);
    ASSERT_EQ(InstallHintFunction(panel, PANEL_PERIODHINT, periodhint), UIE_NO_ERROR);
    if (recalled)
        *recalled = RecallPanelSettings(panel);
    DisplayPanel(panel);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
}

// Sets each control `id` to its value `v`, as the program would.
inline void setValues(int panel, std::initializer_list<std::pair<int, unsigned>> values)
{
    for (auto [id, v] : values)
        ASSERT_EQ(SetCtrlVal(panel, id, v), UIE_NO_ERROR) << id;
}

// Two channels with the status byte, 2000 us, digital lines and counter,
// integer columns, at 115200 bit/s on the virtual board.
inline void putRunValues(int panel)
{
    const std::initializer_list<std::pair<int, unsigned>> values = {
        {PANEL_COMPORT, kBoardPort}, {PANEL_NUMCH, 2},     {PANEL_BAUD, 115200},
        {PANEL_STATUSBYTE, 1},       {PANEL_PERIOD, 2000}, {PANEL_DIGITAL, 1},
        {PANEL_COUNTER, 1},          {PANEL_FORMAT, 1},
    };
    setValues(panel, values);
}

inline std::string labelText(const char* name)
{
    auto* label = child<QLabel>(name);
    return label ? label->text().toStdString() : std::string();
}

inline std::string messageLine()
{
    auto* line = child<QLineEdit>("message");
    return line ? line->text().toStdString() : std::string();
}

// The question that quitting during a run asks, while it is open.
inline QMessageBox* question()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

inline QAbstractButton* buttonOf(QMessageBox* box, const char* text)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Watches that an event loop ended before they fired; runWindow drops them.
inline std::vector<QTimer*>& pending()
{
    static std::vector<QTimer*> timers;
    return timers;
}

// Calls `fn` from the event loop once `pred` holds (checked every 20 ms).
inline void when(std::function<bool()> pred, std::function<void()> fn)
{
    auto* timer = new QTimer;
    pending().push_back(timer);
    QObject::connect(timer, &QTimer::timeout, [timer, pred, fn] {
        if (!pred())
            return;
        timer->stop();
        std::erase(pending(), timer);
        timer->deleteLater();
        fn();
    });
    timer->start(20);
}

// Clicks the button bound to `callback` once the event loop runs.
inline void pressLater(const char* callback)
{
    QTimer::singleShot(0, [callback] { buttonFor(callback)->click(); });
}

// Runs the event loop until the program quits it; a guard closes any
// question and quits with -77 after `seconds`.
inline int runWindow(int seconds = 60)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QuitUserInterface(-77);
    });
    guard.start(seconds * 1000);
    const int code = RunUserInterface();
    for (QTimer* t : pending())
        delete t;
    pending().clear();
    return code;
}

// Presses Start, calls `during` from the event loop once more than `records`
// records came, and runs the event loop until the program quits it.
inline int runStarted(unsigned records, std::function<void()> during)
{
    pressLater("start");
    when([records] { return tot_data.load() > records; }, std::move(during));
    return runWindow();
}

inline int stopAfter(unsigned records)
{
    return runStarted(records, [] { buttonFor("stop")->click(); });
}

// Presses Start, quits once the message line says something (expecting the
// loop to end with 0, not the guard's code) and returns what it says.
inline std::string startUntilSaid(int seconds = 60)
{
    pressLater("start");
    when([] { return !messageLine().empty(); }, [] { QuitUserInterface(0); });
    EXPECT_EQ(runWindow(seconds), 0);
    return messageLine();
}

// A test in a folder of its own, where data.txt and config.txt go, with the
// run state of a new process at either end and the window discarded.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        freshRunState();
        here = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
    }

    void TearDown() override
    {
        close();
        tarvo::rt::resetVirtualBoard(kBoardPort);
        std::filesystem::current_path(here);
    }

    void close()
    {
        if (panel > 0)
            DiscardPanel(panel);
        panel = 0;
        freshRunState();
    }

    // Shows the window with the settings of putRunValues.
    void openForRun()
    {
        ASSERT_NO_FATAL_FAILURE(showWindow(panel));
        putRunValues(panel);
    }

    bool exists(const std::string& name) const { return std::filesystem::exists(dir.file(name)); }

    TempDir dir;
    std::filesystem::path here;
    int panel = 0;
};

}  // namespace realwin
