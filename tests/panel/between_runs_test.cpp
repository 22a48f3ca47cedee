// Between runs, in the window, on the real panel with the program's own
// callbacks, offscreen, against the virtual board: the settings a run began
// with come back at the next start of tarvo (and what the panel no longer
// takes does not), "Panel file values" goes back, and "Start again after
// Stop" opens a fresh process with the same settings.
//
// The fresh process is this test program again: started with the variable
// that marks a process started again, main plays the user at its window
// (see secondWindow below) and writes what it found into second.txt.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include <fstream>
#include <regex>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "panel_memory.h"
#include "proc.h"
#include "real_window.h"

namespace fs = std::filesystem;
using namespace realwin;

namespace {

unsigned value(int control)
{
    unsigned v = 0;
    EXPECT_EQ(GetCtrlVal(PANEL, control, &v), UIE_NO_ERROR) << control;
    return v;
}

std::vector<unsigned> values(std::initializer_list<int> controls)
{
    std::vector<unsigned> v;
    for (int id : controls)
        v.push_back(value(id));
    return v;
}

std::string note() { return labelText("statusNote"); }

// Lets the event loop run until `pred` holds (up to 10 s).
bool settle(const std::function<bool()>& pred)
{
    return waitUntil(pred, 10, [] { QTest::qWait(20); });
}

std::string settingsFile() { return tarvo::rt::rememberedSettingsPath().toStdString(); }

// The panel line of a settings file the program wrote itself.
std::string panelLine(const std::string& text)
{
    std::smatch m;
    return std::regex_search(text, m, std::regex("panel [0-9a-f]+\n")) ? m.str() : std::string();
}

// Lines "ID VALUE" of the values the window shows, the box, and the note.
std::string windowState()
{
    std::string s;
    for (int id : {PANEL_COMPORT, PANEL_NUMCH, PANEL_BAUD, PANEL_STATUSBYTE, PANEL_PERIOD,
                   PANEL_DIGITAL, PANEL_COUNTER, PANEL_FORMAT})
        s += std::to_string(id) + " " + std::to_string(value(id)) + "\n";
    auto* box = child<QCheckBox>("startAgain");
    s += std::string("ticked ") + (box && box->isChecked() ? "1" : "0") + "\n";
    return s;
}

class BetweenRuns : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(startRunTime());
        fs::remove_all(fs::path(settingsFile()).parent_path());
    }

    // A new start of tarvo's window, as main makes it; returns how many
    // remembered values it put back.
    int open()
    {
        close();
        RunStatusNote("");  // the note of a previous case
        int recalled = -1;
        showWindow(panel, &recalled);
        return recalled;
    }
};

}  // namespace

TEST_F(BetweenRuns, TheSettingsARunBeganWithComeBackAndPanelFileValuesGoesBack)
{
    EXPECT_EQ(open(), 0);  // nothing remembered yet: the panel file's values
    const std::string panelFile = windowState();
    EXPECT_EQ(values({PANEL_NUMCH, PANEL_PERIOD}), (std::vector<unsigned>{6, 2000}));

    setValues(panel,
              {{PANEL_NUMCH, 3}, {PANEL_PERIOD, 5000}, {PANEL_FORMAT, 0}, {PANEL_COUNTER, 0}});
    ASSERT_EQ(stopAfter(20), 0);
    ASSERT_TRUE(exists("config.txt"));
    const std::string kept = readfile(settingsFile());
    for (const char* line : {"\n2 1\n", "\n6 3\n", "\n8 115200\n", "\n9 1\n", "\n10 5000\n",
                             "\n11 1\n", "\n12 0\n", "\n13 0\n"})
        EXPECT_NE(kept.find(line), std::string::npos) << line << " in\n" << kept;
    EXPECT_FALSE(panelLine(kept).empty()) << kept;

    // The next start of tarvo offers them.
    EXPECT_EQ(open(), 8);
    EXPECT_EQ(values({PANEL_NUMCH, PANEL_PERIOD, PANEL_FORMAT, PANEL_COUNTER}),
              (std::vector<unsigned>{3, 5000, 0, 0}));
    EXPECT_TRUE(settle([] { return note().find("those of the last run") != std::string::npos; }))
        << note();
    // The period hint follows the values put back: three channels.
    char expected[256] = {};
    periodhint(PANEL, expected, sizeof expected);
    EXPECT_EQ(labelText("periodHint"), expected);

    auto* back = child<QPushButton>("panelFileValues");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->text().toStdString(), "Panel fi&le values");
    back->click();
    EXPECT_EQ(windowState(), panelFile);
    EXPECT_TRUE(settle([] { return note().find("panel file's again") != std::string::npos; }))
        << note();
    // Going back changes nothing kept: the next Start keeps what it starts with.
    EXPECT_EQ(readfile(settingsFile()), kept);
}

TEST_F(BetweenRuns, WhatThePanelDoesNotTakeIsLeftOutWithANote)
{
    // A file the program wrote itself, for the panel line of this panel file.
    open();
    setValues(panel, {{PANEL_NUMCH, 2}});
    ASSERT_EQ(stopAfter(20), 0);
    const std::string panelOk = panelLine(readfile(settingsFile()));
    ASSERT_FALSE(panelOk.empty());

    enum Place { File, Folder, Fifo };
    struct Case {
        const char* name;
        std::string text;  // the settings file, when `place` is File
        Place place;
        int applied;
        unsigned channels, period, port;
        const char* noteHas;
    };
    const Case cases[] = {
        {"all taken", panelOk + "6 4\n10 3000\n", File, 2, 4, 3000, 1, "those of the last run"},
        {"channels out of range", panelOk + "6 12\n10 3000\n", File, 1, 6, 3000, 1,
         "Left out of the last run's settings: analog channels 12"},
        {"a port no longer listed", panelOk + "2 77\n6 4\n", File, 1, 4, 2000, 1,
         "serial port number 77"},
        {"a control the panel lacks", panelOk + "42 1\n6 4\n", File, 1, 4, 2000, 1,
         "control 42 (not a setting of this panel)"},
        {"another panel file", "panel 0123456789abcdef\n6 4\n10 3000\n", File, 0, 6, 2000, 1,
         "taken with another panel file; the panel file's values stay"},
        {"a word for a number", panelOk + "6 4\n10 fast\n", File, 0, 6, 2000, 1,
         "window.conf:3: not a value: 'fast'); the panel file's values stay"},
        {"a folder in its place", "", Folder, 0, 6, 2000, 1, "not a regular file"},
        {"a FIFO in its place", "", Fifo, 0, 6, 2000, 1, "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(settingsFile());
        fs::create_directories(fs::path(settingsFile()).parent_path());
        if (c.place == Folder)
            fs::create_directories(settingsFile());
        else if (c.place == Fifo)
            ASSERT_EQ(mkfifo(settingsFile().c_str(), 0600), 0);
        else
            std::ofstream(settingsFile(), std::ios::binary) << c.text;
        EXPECT_EQ(open(), c.applied);
        EXPECT_EQ(values({PANEL_NUMCH, PANEL_PERIOD, PANEL_COMPORT}),
                  (std::vector<unsigned>{c.channels, c.period, c.port}));
        EXPECT_TRUE(settle([&] { return note().find(c.noteHas) != std::string::npos; }))
            << "note: " << note();
    }
    fs::remove_all(settingsFile());
}

TEST_F(BetweenRuns, StopWithStartAgainTickedOpensAFreshTarvoWithTheSameSettings)
{
    open();
    auto* box = child<QCheckBox>("startAgain");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());  // off by default
    setValues(panel, {{PANEL_NUMCH, 2}, {PANEL_PERIOD, 4000}, {PANEL_DIGITAL, 0}});
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    const std::string first = windowState();
    ASSERT_EQ(stopAfter(20), 0);
    ASSERT_TRUE(exists("config.txt"));
    const std::optional<qint64> pid = tarvo::rt::lastStartedAgain();
    ASSERT_TRUE(pid.has_value());

    // The fresh process plays its part (secondWindow) and ends by itself.
    const std::string report = dir.file("second.txt");
    ASSERT_TRUE(waitUntil([&] { return readfile(report).find("end\n") != std::string::npos; }, 90))
        << readfile(report);
    EXPECT_TRUE(waitUntil([&] { return ::kill(pid_t(*pid), 0) != 0; }, 30));
    const std::string second = readfile(report);

    // It came up with the settings the first run began with, the box ticked.
    EXPECT_EQ(second.substr(0, first.size()), first);
    EXPECT_NE(second.find("note Started again after Stop"), std::string::npos) << second;
    // Its Start kept the first run under dated names; its own run replaced
    // data.txt and config.txt, with its two channels.
    EXPECT_NE(second.find("running 1\n"), std::string::npos) << second;
    int dated = 0;
    for (const auto& e : fs::directory_iterator(dir.path()))
        dated += std::regex_match(e.path().filename().string(),
                                  std::regex("(data|config)-[0-9]{8}-[0-9]{6}\\.txt|"
                                             "run-[0-9]{8}-[0-9]{6}\\.json"));
    EXPECT_EQ(dated, 3);
    EXPECT_NE(readfile(dir.file("config.txt")).find("Number of Analogical channels:  2"),
              std::string::npos);
    // Unticked before its Stop: the cycle ended there.
    EXPECT_NE(second.find("again 0\n"), std::string::npos) << second;
}

// Quit, even with the report, and a signal in Stop's pause end the cycle.
// The signal comes last: a caught signal stays caught for the rest of this
// process.
TEST_F(BetweenRuns, QuitEvenWithTheReportOrASignalInStopsPauseStartsNothingAgain)
{
    std::thread signaller;
    struct Case {
        const char* name;
        std::function<void()> during;  // once records come; null: no run
        bool report;
    };
    const Case cases[] = {
        {"quit before any run", nullptr, false},
        {"quit during a run, stop and save the report",
         [] {
             // Quit asks from inside the button's click: watch first.
             when([] { return question() != nullptr; },
                  [] { buttonOf(question(), "Stop and save the report")->click(); });
             buttonFor("quit")->click();
         },
         true},
        {"a signal in Stop's pause",
         [&] {
             // Stop pauses 2.25 s before it ends the program.
             signaller = std::thread([] {
                 std::this_thread::sleep_for(std::chrono::milliseconds(500));
                 ::kill(::getpid(), SIGTERM);
             });
             buttonFor("stop")->click();
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(dir.file("config.txt"));
        const std::optional<qint64> before = tarvo::rt::lastStartedAgain();
        open();
        child<QCheckBox>("startAgain")->setChecked(true);
        if (!c.during)
            pressLater("quit");
        const int code = c.during ? runStarted(20, c.during) : runWindow();
        if (signaller.joinable())
            signaller.join();
        ASSERT_EQ(code, 0);
        EXPECT_EQ(exists("config.txt"), c.report);
        EXPECT_EQ(tarvo::rt::lastStartedAgain(), before);
    }
}

namespace {

// The fresh process: the user at the second window. Writes what the window
// came up with into second.txt, starts a run, notes whether the first run's
// files were kept, unticks the box and stops.
int secondWindow(char** argv)
{
    std::ofstream out("second.txt");
    auto say = [&out](const std::string& s) { out << s << std::flush; };
    if (InitRunTime(nullptr, argv, nullptr) != 1 ||
        (panelHandle = LoadPanel(0, "tarvo.uir", 1)) < 0) {
        say("cannot start\nend\n");
        return 1;
    }
    InstallHintFunction(panelHandle, PANEL_PERIODHINT, periodhint);
    RecallPanelSettings(panelHandle);
    DisplayPanel(panelHandle);
    // Once the run status shows the note of a process started again.
    when([] { return !note().empty(); },
         [&] {
             say(windowState());
             say("note " + note() + "\n");
             buttonFor("start")->click();
         });
    when([] { return tot_data.load() > 20; },
         [&] {
             say(std::string("running ") + (functionId != 0 ? "1" : "0") + "\n");
             child<QCheckBox>("startAgain")->setChecked(false);
             buttonFor("stop")->click();
         });
    runWindow();
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
    say(std::string("again ") + (tarvo::rt::lastStartedAgain() ? "1" : "0") + "\nend\n");
    DiscardPanel(panelHandle);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsEmpty(tarvo::rt::kStartedAgainVariable))
        return secondWindow(argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
