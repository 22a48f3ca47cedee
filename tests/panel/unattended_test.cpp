// Unattended mode: the script is checked before the panel is shown, runs its
// actions as a user would, and the message line is echoed to stdout.
#include "line_cases.h"
#include "panel_internal.h"
#include "support.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

const std::string kControls =
    spinXml("spin", 6, "pic", 1, 8) + wholeDoubleSpinXml("period", 10, "freq", 4294967295.0) +
    comboXml("baud", 8, "comvel", {"115200", "57600"}, true) +
    comboXml("format", 13, "writef", {"Raw bytes", "Integer columns"}) +
    controlXml("QCheckBox", "flag", 9, "dig") + textXml("message", 7, "disp", true) +
    controlXml("QPushButton", "go", 3, "start") +
    controlXml("QPushButton", "quitButton", 5, "quit");

class Unattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        onCall = nullptr;
        panelPath = writeFile(dir, "script.uir", panelXml(1, kControls));
    }
    void TearDown() override
    {
        onCall = nullptr;
        if (handle > 0)
            DiscardPanel(handle);
        tarvo::rt::setMessageEchoStream(nullptr);
        if (echo)
            std::fclose(echo);
    }

    QString script(const std::string& text) { return writeFile(dir, "run.txt", text); }

    void start(const QString& scriptPath)
    {
        ASSERT_EQ(initRunTime({"--script", scriptPath.toStdString()}), 1);
        echo = std::tmpfile();
        tarvo::rt::setMessageEchoStream(echo);
        handle = LoadPanel(0, panelPath.toLocal8Bit().constData(), 1);
        ASSERT_GT(handle, 0);
        DisplayPanel(handle);
    }

    std::string echoed()
    {
        EXPECT_TRUE(tarvo::rt::flushMessageEcho(10));  // the echo's writer is a thread
        std::fflush(echo);
        std::rewind(echo);
        std::string out;
        char buf[256];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, echo)) > 0)
            out.append(buf, n);
        return out;
    }

    QTemporaryDir dir;
    QString panelPath;
    std::FILE* echo = nullptr;
    int handle = 0;
};

int value(int control)
{
    int v = -12345;
    EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR);
    return v;
}

std::vector<tarvo::rt::ScriptAction> actions(const std::string& text)
{
    const tarvo::rt::ScriptResult r = tarvo::rt::parseScript(text);
    EXPECT_TRUE(r.ok) << r.error;
    return r.actions;
}

}  // namespace

TEST_F(Unattended, SetPressAndWaitRunInOrderAndMessagesAreEchoed)
{
    start(
        script("# a short run\n"
               "set 6 3\n"
               "set 8 57600\n"
               "set 10 4294967295\n"
               "set 13 0\n"
               "wait 0.3\n"
               "press start\n"
               "press quit\n"
               "set 6 1   # never: the program has quit\n"));
    QElapsedTimer clock;
    double startedAfter = 0;
    onCall = [&](const Call& c) {
        if (c.name == "start") {
            startedAfter = clock.elapsed() / 1000.0;
            SetCtrlVal(1, 7, "Sampling...");
            SetCtrlVal(1, 7, "Sampling...");  // the same text again: not new
            std::thread([] { SetCtrlVal(1, 7, "Lost record\nafter 5"); }).join();
        } else if (c.name == "quit") {
            SetCtrlVal(1, 7, "Bye");
            QuitUserInterface(0);
        }
    };
    clock.start();
    EXPECT_EQ(runGuarded(), 0);

    ASSERT_EQ(calls.size(), 6u);
    const std::pair<const char*, int> expected[] = {{"pic", 6},     {"comvel", 8}, {"freq", 10},
                                                    {"writef", 13}, {"start", 3},  {"quit", 5}};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].name, expected[i].first);
        EXPECT_EQ(calls[i].control, expected[i].second);
        EXPECT_EQ(calls[i].event, EVENT_COMMIT);
        EXPECT_EQ(calls[i].panel, handle);
    }
    EXPECT_GE(startedAfter, 0.29) << "start was pressed before the wait was over";
    EXPECT_EQ(value(6), 3);
    EXPECT_EQ(value(8), 57600);
    unsigned period = 0;
    GetCtrlVal(1, 10, &period);
    EXPECT_EQ(period, 4294967295u);
    EXPECT_EQ(value(13), 0);
    EXPECT_EQ(echoed(),
              "message: Sampling...\n"
              "message: Lost record after 5\n"
              "message: Bye\n");
}

TEST_F(Unattended, TheNextActionWaitsForTheCallbackInProgress)
{
    start(script("wait 0.1\nset 6 2\npress quit\n"));
    // The user presses Start just before the script's wait is over.
    QTimer::singleShot(50, [] { qobject_cast<QAbstractButton*>(widget("go"))->click(); });
    int channelsAtEnd = 0;
    onCall = [&](const Call& c) {
        if (c.name == "start") {
            QTest::qWait(300);  // a nested event loop: the script's timers fire in it
            channelsAtEnd = value(6);
        } else if (c.name == "quit") {
            QuitUserInterface(0);
        }
    };
    EXPECT_EQ(runGuarded(), 0);
    EXPECT_EQ(channelsAtEnd, 1) << "a setting changed under a running callback";
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "start");
    EXPECT_EQ(calls[1].name, "pic");
    EXPECT_EQ(value(6), 2);
}

TEST_F(Unattended, WhenTheScriptRunsOutTheProgramRunsOn)
{
    start(script("set 6 2\n"));
    bool stillRunning = false;
    QTimer::singleShot(300, [&] {
        stillRunning = true;
        QuitUserInterface(9);
    });
    EXPECT_EQ(runGuarded(), 9);
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(value(6), 2);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "pic");
}

TEST_F(Unattended, EveryActionIsCheckedAgainstThePanel)
{
    ASSERT_EQ(initRunTime(), 1);
    handle = LoadPanel(0, panelPath.toLocal8Bit().constData(), 1);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(tarvo::rt::checkScript(actions("set 6 8\nset 8 250000\nset 10 4294967295\nset 13 1\n"
                                             "set 9 1\npress start\npress quit\nwait 1\n"))
                  .line,
              0);
    expectEachRefusedOnLine3(
        {
            {"set 99 1", "the panel has no control 99"},
            {"set 6 9", "control 6 ('spin') takes 1 to 8, not 9"},
            {"set 6 0", "takes 1 to 8, not 0"},
            {"set 10 -1", "takes 0 to 4294967295, not -1"},
            {"set 9 2", "takes 0 or 1, not 2"},
            {"set 13 2", "has no item with value 2 (values: 0, 1)"},
            {"set 8 0", "takes one of its items or 1 to 999999999, not 0"},
            {"set 3 1", "is a QPushButton, not an integer control"},
            {"set 7 1", "is a QLineEdit, not an integer control"},
            {"press stop", "no control on the panel has callback 'stop'"},
        },
        "wait 0\n# line 2\n", [](const std::string& lines) {
            const tarvo::rt::ScriptCheck check = tarvo::rt::checkScript(actions(lines));
            return std::pair(check.line, check.error);
        });
}

TEST_F(Unattended, ABadScriptLineEndsStartUpWithStatusTwo)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = script("set 6 3\nwait 1\njump 4\n").toStdString();
    EXPECT_EXIT(
        initRunTime({"--script", path}), ::testing::ExitedWithCode(2),
        "^tarvo: .*/run\\.txt:3: unknown action 'jump' \\(expected set, press or wait\\)\n$");
    EXPECT_EXIT(initRunTime({"--script", dir.filePath("none.txt").toStdString()}),
                ::testing::ExitedWithCode(2), "none\\.txt: cannot open: No such file");
}

TEST_F(Unattended, AScriptThatDoesNotFitThePanelEndsStartUpBeforeItIsShown)
{
    // LoadPanel refuses the panel with the script's line; the program then
    // ends with status 2 (the start-up tests run the real program).
    const std::string path = script("set 6 3\nset 6 9\n").toStdString();
    ASSERT_EQ(initRunTime({"--script", path}), 1);
    StderrCapture err;
    EXPECT_EQ(LoadPanel(0, panelPath.toLocal8Bit().constData(), 1), LOAD_SCRIPT_MISFIT);
    EXPECT_EQ(err.text(), "tarvo: " + path + ":2: set: control 6 ('spin') takes 1 to 8, not 9\n");
    // Nothing of it stays loaded, nothing is shown.
    EXPECT_EQ(DisplayPanel(1), UIE_BAD_PANEL);
    EXPECT_EQ(SetCtrlVal(1, 6, 3), UIE_BAD_PANEL);
}

TEST(CommandLineStart, HelpAndVersionPrintAndExitWithZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // stdout goes to stderr here, where the death test can read it.
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            initRunTime({"--help"});
        },
        ::testing::ExitedWithCode(0), "Usage: tarvo \\[--com N=DEVICE\\]");
    EXPECT_EXIT(
        {
            ::dup2(2, 1);
            initRunTime({"--version"});
        },
        ::testing::ExitedWithCode(0), "\ntarvo 0\\.1\\.0\n");
}

TEST(CommandLineStart, AnUnknownOptionFailsWithOneLine)
{
    StderrCapture err;
    EXPECT_EQ(initRunTime({"--com", "3=virtual", "--bogus"}), 0);
    EXPECT_EQ(err.text(), "tarvo: unknown option '--bogus' (see --help)\n");
}
