// Runs in the window, on the real panel with the program's own callbacks,
// offscreen, against the virtual board: a person who quits or closes the
// window during a run is asked first, and each answer does what it says; a
// termination signal withdraws the question and ends the run as always.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include "../support/config_home.h"
#include "ctrlids.h"
#include "fresh_run.h"
#include "hint.h"
#include "panel_internal.h"
#include "pty.h"
#include "runtime.h"
#include "serial_virtual.h"
#include "state.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBoardPort = 1;  // --com 1=virtual
const char kTitle[] = "A run is in progress";
const char kStop[] = "Stop and save the report";
const char kQuit[] = "Quit without the report";
const char kCancel[] = "Cancel";

QWidget* window()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "tarvoPanel")
            return top;
    return nullptr;
}

QPushButton* buttonFor(const char* callback)
{
    if (QWidget* w = window())
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->property("callback").toString() == callback)
                return b;
    return nullptr;
}

std::string messageLine()
{
    QWidget* w = window();
    auto* line = w ? w->findChild<QLineEdit*>("message") : nullptr;
    return line ? line->text().toStdString() : std::string();
}

// Calls `fn` from the event loop once `pred` holds (checked every 20 ms).
void when(std::function<bool()> pred, std::function<void()> fn)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, pred, fn] {
        if (!pred())
            return;
        timer->stop();
        timer->deleteLater();
        fn();
    });
    timer->start(20);
}

QMessageBox* question() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

QAbstractButton* buttonOf(QMessageBox* box, const char* text)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

class WindowRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        fresh();
        here = fs::current_path();
        fs::current_path(dir.path());  // data.txt and config.txt go here
        std::vector<std::string> args = {"tarvo", "-platform", "offscreen", "--com", "1=virtual"};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        usePrivateConfigHome();
        ASSERT_EQ(InitRunTime(nullptr, argv.data(), nullptr), 1);
    }

    void open()
    {
        panel = LoadPanel(0, "tarvo.uir", 1);
        ASSERT_GT(panel, 0);
        InstallHintFunction(panel, PANEL_PERIODHINT, periodhint);
        DisplayPanel(panel);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window()));
        const std::pair<int, unsigned> values[] = {
            {PANEL_COMPORT, kBoardPort}, {PANEL_NUMCH, 2},     {PANEL_BAUD, 115200},
            {PANEL_STATUSBYTE, 1},       {PANEL_PERIOD, 2000}, {PANEL_DIGITAL, 1},
            {PANEL_COUNTER, 1},          {PANEL_FORMAT, 1},
        };
        for (auto [id, v] : values)
            ASSERT_EQ(SetCtrlVal(panel, id, v), UIE_NO_ERROR) << id;
    }

    void TearDown() override
    {
        if (panel > 0)
            DiscardPanel(panel);
        fresh();
        tarvo::rt::setControlRequirements(nullptr, 0);
        tarvo::rt::resetVirtualBoard(kBoardPort);
        fs::current_path(here);
    }

    // What a new process starts with: one run per process.
    static void fresh() { freshRunState(); }

    // Presses Start, then calls `during` from the event loop once records
    // come; runs the event loop until the program quits.
    int runWith(std::function<void()> during)
    {
        QTimer::singleShot(0, [] { buttonFor("start")->click(); });
        when([] { return tot_data.load() > 50; }, during);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
            QuitUserInterface(-77);
        });
        guard.start(60000);
        return RunUserInterface();
    }

    bool exists(const char* name) const { return fs::exists(dir.file(name)); }

    TempDir dir;
    fs::path here;
    int panel = 0;
};

enum class Trigger { CloseWindow, QuitButton };
void pull(Trigger t)
{
    if (t == Trigger::CloseWindow)
        window()->close();
    else
        buttonFor("quit")->click();
}

}  // namespace

TEST_F(WindowRun, QuittingDuringARunAsksAndEachAnswerDoesWhatItSays)
{
    struct Case {
        const char* name;
        Trigger trigger;
        const char* answer;  // a button's text; null: the Escape key
        bool goesOn;         // the run goes on (then Stop ends it)
        bool report;         // config.txt at the end
    };
    const Case cases[] = {
        {"close, stop and save", Trigger::CloseWindow, kStop, false, true},
        {"quit, quit without the report", Trigger::QuitButton, kQuit, false, false},
        {"close, cancel", Trigger::CloseWindow, kCancel, true, true},
        {"quit, escape", Trigger::QuitButton, nullptr, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fresh();
        fs::remove(dir.file("data.txt"));
        fs::remove(dir.file("config.txt"));
        open();
        std::string title;
        std::vector<std::string> buttons;
        bool wentOn = false, asked = false;
        const int code = runWith([&] {
            // Quit asks from inside the button's click: watch first.
            when([] { return question() != nullptr; },
                 [&] {
                     QMessageBox* box = question();
                     asked = true;
                     title = box->windowTitle().toStdString();
                     for (QAbstractButton* b : box->buttons())
                         buttons.push_back(b->text().toStdString());
                     if (c.answer)
                         buttonOf(box, c.answer)->click();
                     else
                         QTest::keyClick(box, Qt::Key_Escape);
                     if (!c.goesOn)
                         return;
                     // After the answer the run goes on: more records, the file open.
                     const unsigned records = tot_data.load();
                     when([] { return question() == nullptr; },
                          [&, records] {
                              when([records] { return tot_data.load() > records + 100; },
                                   [&] {
                                       wentOn = fout != nullptr && stopp.load() == 1 &&
                                                window()->isVisible();
                                       buttonFor("stop")->click();  // Stop asks nothing
                                   });
                          });
                 });
            pull(c.trigger);
        });
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(asked);
        EXPECT_EQ(title, kTitle);
        std::sort(buttons.begin(), buttons.end());
        EXPECT_EQ(buttons, (std::vector<std::string>{kCancel, kQuit, kStop}));
        EXPECT_EQ(wentOn, c.goesOn);
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
        EXPECT_EQ(fout, nullptr) << "data.txt was left open";
        const std::string data = readfile(dir.file("data.txt"));
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(data.back(), '\n');
        EXPECT_EQ(exists("config.txt"), c.report);
        if (c.report) {
            EXPECT_EQ(messageLine(), "Data recorded in DATA.TXT, config parameter in CONFIG.TXT");
        }
        DiscardPanel(panel);
        panel = 0;
    }
}

// A termination signal while the question is open (the terminal closed, the
// machine shuts down): nobody answers, the run ends without the report.
TEST_F(WindowRun, ASignalWithdrawsTheQuestionAndEndsTheRun)
{
    open();
    bool asked = false;
    const int code = runWith([&] {
        when([] { return question() != nullptr; },
             [&] {
                 asked = true;
                 std::raise(SIGTERM);
             });
        pull(Trigger::CloseWindow);
    });
    EXPECT_EQ(code, 0);  // not the guard's: the question did not wait for an answer
    EXPECT_TRUE(asked);
    EXPECT_EQ(question(), nullptr);
    EXPECT_EQ(fout, nullptr);
    EXPECT_FALSE(readfile(dir.file("data.txt")).empty());
    EXPECT_FALSE(exists("config.txt"));
}

// Before a run, and for Start and Stop, nothing asks: Quit ends the program.
TEST_F(WindowRun, QuitBeforeAnyRunAsksNothing)
{
    open();
    bool asked = false;
    QTimer::singleShot(0, [] { window()->close(); });
    when([] { return question() != nullptr; },
         [&] {
             asked = true;
             question()->close();
         });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QuitUserInterface(-77); });
    guard.start(30000);
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_FALSE(asked);
    EXPECT_FALSE(exists("data.txt"));
}

// The configuration step checks the settings again where it takes them: with
// the panel's own check set aside, a rate no line runs at still stops Start
// before the board is asked, and nothing is created. (A port that cannot be
// reopened for sampling is Run.PortThatCannotBeReopenedForSamplingIsSaid.)
TEST_F(WindowRun, SettingsOutOfRangeStopStartEvenWithThePanelCheckSetAside)
{
    static const ControlRequirement none[] = {{0, 0, nullptr, 0, 0}};
    tarvo::rt::setControlRequirements(none, 0);
    open();
    ASSERT_EQ(SetCtrlVal(panel, PANEL_BAUD, 999999999u), UIE_NO_ERROR);
    ASSERT_EQ(SetCtrlVal(panel, PANEL_PERIOD, 100000u), UIE_NO_ERROR);
    QTimer::singleShot(0, [] { buttonFor("start")->click(); });
    std::string shown;
    when([] { return !messageLine().empty(); },
         [&] {
             shown = messageLine();
             QuitUserInterface(0);
         });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QuitUserInterface(-77); });
    guard.start(30000);
    EXPECT_EQ(RunUserInterface(), 0);
    EXPECT_EQ(shown, " ERROR: The panel's settings are out of range!");
    EXPECT_EQ(functionId, 0);
    EXPECT_EQ(fout, nullptr);
    EXPECT_FALSE(exists("data.txt"));
}

// The run-time layer's texts say the program's own words (app/words.cpp).
TEST(ProgramWords, TheHelpListsTheProgramsButtonsAndItsControlIds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char program[] = "tarvo", help[] = "--help";
    char* argv[] = {program, help, nullptr};
    const char* const expected[] = {
        "\n                     press start\\|stop\\|quit  press that button\n"
        "                     wait SECONDS  ",
        "-nograb, \\.\\.\\.\n\nControl ids for set: 2 port number, 6 channels \\(1-8\\), 8 baud rate, 9 "
        "status\nbyte \\(0/1\\), 10 period in microseconds, 11 record digital lines \\(0/1\\),\n12 record "
        "counter \\(0/1\\), 13 file format \\(0 raw bytes, 1 integer columns\\)\\.\n\nA script may start",
    };
    for (const char* text : expected)
        // stdout goes to stderr here, where the death test can read it.
        EXPECT_EXIT(
            {
                ::dup2(2, 1);
                InitRunTime(nullptr, argv, nullptr);
            },
            ::testing::ExitedWithCode(0), text);
}
