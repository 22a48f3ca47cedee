// Runs in the window, on the real panel with the program's own callbacks,
// offscreen, against the virtual board: a person who quits or closes the
// window during a run is asked first, and each answer does what it says; a
// termination signal withdraws the question and ends the run as always.
#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>

#include "panel_internal.h"
#include "real_window.h"

using namespace realwin;

namespace {

const char kTitle[] = "A run is in progress";
const char kStop[] = "Stop and save the report";
const char kQuit[] = "Quit without the report";
const char kCancel[] = "Cancel";

class WindowRun : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(startRunTime());
    }

    void TearDown() override
    {
        tarvo::rt::setControlRequirements(nullptr, 0);
        WindowTest::TearDown();
    }
};

}  // namespace

TEST_F(WindowRun, QuittingDuringARunAsksAndEachAnswerDoesWhatItSays)
{
    struct Case {
        const char* name;
        bool closes;         // closes the window; false: presses Quit
        const char* answer;  // a button's text, "Escape" (the key) or "SIGTERM"
        bool goesOn;         // the run goes on (then Stop ends it)
        bool report;         // config.txt at the end
    };
    const Case cases[] = {
        {"close, stop and save", true, kStop, false, true},
        {"quit, quit without the report", false, kQuit, false, false},
        {"close, cancel", true, kCancel, true, true},
        {"quit, escape", false, "Escape", true, true},
        // Nobody answers: the terminal closed, the machine shuts down. Last,
        // since a caught signal stays caught for the rest of this process.
        {"close, a termination signal", true, "SIGTERM", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        close();
        std::filesystem::remove(dir.file("data.txt"));
        std::filesystem::remove(dir.file("config.txt"));
        openForRun();
        std::string title;
        std::vector<std::string> buttons;
        bool wentOn = false, asked = false;
        const int code = runStarted(50, [&] {
            // Quit asks from inside the button's click: watch first.
            when([] { return question() != nullptr; },
                 [&] {
                     QMessageBox* box = question();
                     asked = true;
                     title = box->windowTitle().toStdString();
                     for (QAbstractButton* b : box->buttons())
                         buttons.push_back(b->text().toStdString());
                     if (c.answer == std::string("Escape"))
                         QTest::keyClick(box, Qt::Key_Escape);
                     else if (c.answer == std::string("SIGTERM"))
                         std::raise(SIGTERM);
                     else
                         buttonOf(box, c.answer)->click();
                     if (!c.goesOn)
                         return;
                     // After the answer the run goes on: more records, the file open.
                     const unsigned records = tot_data.load();
                     when([records] { return !question() && tot_data.load() > records + 100; },
                          [&] {
                              wentOn =
                                  fout != nullptr && stopp.load() == 1 && window()->isVisible();
                              buttonFor("stop")->click();  // Stop asks nothing
                          });
                 });
            if (c.closes)
                window()->close();
            else
                buttonFor("quit")->click();
        });
        EXPECT_EQ(code, 0);  // not the guard's: the question did not wait for ever
        EXPECT_TRUE(asked);
        EXPECT_EQ(question(), nullptr);
        EXPECT_EQ(title, kTitle);
        std::sort(buttons.begin(), buttons.end());
        EXPECT_EQ(buttons, (std::vector<std::string>{kCancel, kQuit, kStop}));
        EXPECT_EQ(wentOn, c.goesOn);
        if (c.answer == std::string("SIGTERM")) {
            EXPECT_EQ(fout, nullptr) << "data.txt still open when the program ended";
        }
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
        EXPECT_EQ(fout, nullptr) << "data.txt was left open";
        const std::string data = readfile(dir.file("data.txt"));
        ASSERT_FALSE(data.empty());
        EXPECT_EQ(data.back(), '\n');
        EXPECT_EQ(exists("config.txt"), c.report);
        if (c.report) {
            EXPECT_EQ(messageLine(), "Data recorded in DATA.TXT, config parameter in CONFIG.TXT");
        }
    }
}

// Before a run, and for Start and Stop, nothing asks: Quit ends the program.
TEST_F(WindowRun, QuitBeforeAnyRunAsksNothing)
{
    openForRun();
    bool asked = false;
    QTimer::singleShot(0, [] { window()->close(); });
    when([] { return question() != nullptr; },
         [&] {
             asked = true;
             question()->close();
         });
    EXPECT_EQ(runWindow(30), 0);
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
    openForRun();
    ASSERT_NO_FATAL_FAILURE(setValues(panel, {{PANEL_BAUD, 999999999}, {PANEL_PERIOD, 100000}}));
    EXPECT_EQ(startUntilSaid(30), " ERROR: The panel's settings are out of range!");
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
