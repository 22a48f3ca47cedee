// The controls and the run status in the real window, offscreen, with the
// program's own callbacks against the virtual board (or a silent line): the
// settings greyed out for a run, what the run status says during the
// handshake, when a port does not open, after Stop and when the board falls
// silent; the period hint as the user types; the keyboard mnemonics.
#include <gtest/gtest.h>

#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QRegularExpression>

#include <map>
#include <optional>
#include <set>

#include "panel_memory.h"
#include "real_window.h"

namespace fs = std::filesystem;
using namespace realwin;

namespace {

// The settings a run is made with, by their widgets' names, Start, and the
// way back to the panel file's values (which would change them).
const std::set<std::string> kSettings = {
    "comPort",    "refreshPorts",  "baudRate",      "channels",    "period",         "statusByte",
    "fileFormat", "recordDigital", "recordCounter", "startButton", "panelFileValues"};
// What stays usable during a run ("Start again after Stop" is meant for it).
const std::set<std::string> kAlwaysOn = {"stopButton", "quitButton", "viewRunsButton",
                                         "startAgain"};

// Those of kSettings and kAlwaysOn that are enabled.
std::set<std::string> enabledControls()
{
    std::set<std::string> on;
    for (const auto& names : {kSettings, kAlwaysOn})
        for (const std::string& n : names) {
            QWidget* w = child<QWidget>(n.c_str());
            EXPECT_NE(w, nullptr) << n;
            if (w && w->isEnabled())
                on.insert(n);
        }
    return on;
}

// Records the text of a label (or line) each time it is painted, with what
// the program was doing then.
class PaintLog final : public QObject {
public:
    struct Paint {
        std::string text;
        bool running;     // a sampling thread was scheduled
        int height;       // the widget's height on screen
        bool settingsOn;  // the channels could be changed
    };
    explicit PaintLog(QWidget* widget) : widget_(widget) { widget->installEventFilter(this); }
    std::vector<Paint> paints;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (o != widget_ || e->type() != QEvent::Paint)
            return false;
        QWidget* channels = widget_->window()->findChild<QWidget*>("channels");
        paints.push_back({widget_->property("text").toString().toStdString(), functionId != 0,
                          widget_->height(), channels && channels->isEnabled()});
        return false;
    }

private:
    QWidget* widget_;
};

class Controls : public WindowTest {
protected:
    void open(std::vector<std::string> extra = {})
    {
        ASSERT_NO_FATAL_FAILURE(startRunTime(extra));
        openForRun();
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Greyed out during a run

TEST_F(Controls, TheSettingsAreGreyedForTheRunAndComeBackWhenItDoesNotBegin)
{
    std::set<std::string> all = kSettings;
    all.insert(kAlwaysOn.begin(), kAlwaysOn.end());
    struct Case {
        const char* name;
        std::function<void()> arrange;  // after the window is open
        const char* message;            // the message line after Start
        const char* note;               // in the run status note; null: not checked
    };
    // The settings a run began with are kept for the next start of tarvo,
    // in this test program's own config folder.
    usePrivateConfigHome();
    const fs::path kept = tarvo::rt::rememberedSettingsPath().toStdString();
    ASSERT_EQ(kept.string().rfind(usePrivateConfigHome(), 0), 0u) << kept;
    fs::remove(kept);
    const Case cases[] = {
        {"period too short", [] { SetCtrlVal(PANEL, PANEL_PERIOD, 100u); },
         " ERROR: The sampling period results too short!", nullptr},
        {"data.txt cannot be created", [this] { fs::create_directories(dir.file("data.txt")); },
         " ERROR: Cannot create DATA.TXT!", "data.txt: "},
        {"port does not open", [] { SetCtrlVal(PANEL, PANEL_COMPORT, 2u); },
         " ERROR: Unknown device!", "port 2: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open({"--com", "2=/nonexistent/ttyTARVO"});
        c.arrange();
        EXPECT_EQ(enabledControls(), all) << "before Start";
        PaintLog shown(child<QLineEdit>("message"));
        EXPECT_EQ(startUntilSaid(), c.message);  // the program's own text, unchanged
        EXPECT_EQ(functionId, 0);
        EXPECT_EQ(enabledControls(), all) << "after a Start that did not begin a run";
        EXPECT_FALSE(fs::exists(kept));
        // Back already when the error is on screen (a failed handshake
        // holds the window while it shows).
        const auto first = std::find_if(shown.paints.begin(), shown.paints.end(),
                                        [&](const auto& p) { return p.text == c.message; });
        ASSERT_NE(first, shown.paints.end());
        EXPECT_TRUE(first->settingsOn);
        if (c.note) {
            EXPECT_EQ(labelText("statusNote").rfind(c.note, 0), 0u) << labelText("statusNote");
        }
        fs::remove_all(dir.file("data.txt"));
        close();
    }

    // A run: greyed from Start to its end but for Stop, Quit and View runs.
    open();
    std::set<std::string> during;
    bool sixWhileGreyed = false;
    const int code = runStarted(50, [&] {
        during = enabledControls();
        // The program may still set a greyed control.
        sixWhileGreyed = SetCtrlVal(panel, PANEL_NUMCH, 2u) == UIE_NO_ERROR;
        buttonFor("stop")->click();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(during, kAlwaysOn);
    EXPECT_TRUE(sixWhileGreyed);
    int dimmed = -1;
    EXPECT_EQ(GetCtrlAttribute(panel, PANEL_NUMCH, ATTR_DIMMED, &dimmed), UIE_NO_ERROR);
    EXPECT_EQ(dimmed, 1);
    EXPECT_TRUE(fs::exists(dir.file("config.txt")));
    EXPECT_TRUE(fs::exists(kept));
}

TEST_F(Controls, AttributeCallsCheckThePanelTheControlAndTheAttribute)
{
    open();
    int v = -1;
    EXPECT_EQ(SetCtrlAttribute(panel + 100, PANEL_NUMCH, ATTR_DIMMED, 1), UIE_BAD_PANEL);
    EXPECT_EQ(SetCtrlAttribute(panel, 999, ATTR_DIMMED, 1), UIE_BAD_CONTROL);
    EXPECT_EQ(SetCtrlAttribute(panel, PANEL_NUMCH, 77, 1), UIE_BAD_ATTRIBUTE);
    EXPECT_EQ(GetCtrlAttribute(panel, PANEL_NUMCH, ATTR_DIMMED, nullptr), UIE_BAD_TYPE);
    EXPECT_TRUE(child<QWidget>("channels")->isEnabled());
    // The port list takes its refresh button with it.
    EXPECT_EQ(SetCtrlAttribute(panel, PANEL_COMPORT, ATTR_DIMMED, 1), UIE_NO_ERROR);
    EXPECT_EQ(GetCtrlAttribute(panel, PANEL_COMPORT, ATTR_DIMMED, &v), UIE_NO_ERROR);
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(child<QWidget>("refreshPorts")->isEnabled());
    EXPECT_EQ(SetCtrlAttribute(panel, PANEL_COMPORT, ATTR_DIMMED, 0), UIE_NO_ERROR);
    EXPECT_TRUE(child<QWidget>("refreshPorts")->isEnabled());
    EXPECT_TRUE(child<QWidget>("comPort")->isEnabled());
}

// ---------------------------------------------------------------------------
// The run status

// The handshake holds the window for about a second: the note says which
// board is being checked, painted then, in place of what an earlier Start
// said; a board that does not answer is said too.
TEST_F(Controls, TheHandshakeIsSaidOnTheRunStatusWhileItHoldsTheWindow)
{
    Pty silent;  // a line with nobody behind it
    struct Case {
        const char* name;
        unsigned port;
        std::string checking;  // painted during the handshake
        std::string after;     // the note after Start
        const char* message;   // the message line then
    };
    const Case cases[] = {
        {"virtual board", 1, "Checking the virtual board...", "", "Sampling..."},
        {"a line with no board", 3, "Checking the board on " + silent.slavePath() + "...",
         "No answer from the board on " + silent.slavePath(), " ERROR: Unknown device!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open({"--com", "3=" + silent.slavePath()});
        // An earlier Start's error stands in the note first.
        fs::remove_all(dir.file("data.txt"));
        fs::create_directories(dir.file("data.txt"));
        startUntilSaid();
        ASSERT_EQ(labelText("statusNote").rfind("data.txt: ", 0), 0u) << labelText("statusNote");
        fs::remove_all(dir.file("data.txt"));

        SetCtrlVal(panel, PANEL_COMPORT, c.port);
        PaintLog log(child<QLabel>("statusNote"));
        SetCtrlVal(panel, PANEL_MESSAGE, "");
        std::optional<std::string> noteThen;
        std::optional<std::string> messageThen;
        pressLater("start");
        // A run is ended by Stop, so data.txt is closed for the next case.
        when([] { return tot_data.load() > 20 || messageLine() == " ERROR: Unknown device!"; },
             [&] {
                 noteThen = labelText("statusNote");
                 messageThen = messageLine();
                 if (functionId != 0)
                     buttonFor("stop")->click();
                 else
                     QuitUserInterface(0);
             });
        runWindow();
        // A Start that fails ends the program itself, after its pause.
        EXPECT_EQ(noteThen.value_or(labelText("statusNote")), c.after);
        EXPECT_EQ(messageThen.value_or(messageLine()), c.message);
        // Painted during the handshake (no run yet), on a label with room
        // for it; the earlier error is gone from then on.
        auto p = std::find_if(log.paints.begin(), log.paints.end(), [&](const auto& p) {
            return p.text == c.checking && !p.running && p.height > 0;
        });
        ASSERT_NE(p, log.paints.end()) << "not painted during the handshake: " << c.checking;
        for (; p != log.paints.end(); ++p)
            EXPECT_EQ(p->text.find("data.txt: "), std::string::npos)
                << "the earlier error stood: " << p->text;
        close();
    }
}

// Stop shows the final counts before its pause: the same number as data.txt
// has lines and the report gives.
TEST_F(Controls, AfterStopTheRunStatusShowsTheCountsOfDataTxtAndTheReport)
{
    open();
    PaintLog records(child<QLabel>("statusRecords"));
    EXPECT_EQ(stopAfter(400), 0);
    const std::string data = readfile(dir.file("data.txt"));
    const auto lines = static_cast<unsigned long long>(std::ranges::count(data, '\n'));
    const std::string report = readfile(dir.file("config.txt"));
    const std::string count = report.substr(report.rfind("  ") + 2);
    ASSERT_GT(lines, 400u);
    EXPECT_EQ(count, std::to_string(lines));
    EXPECT_EQ(child<QLabel>("statusRecords")->property("value").toULongLong(), lines);
    ASSERT_FALSE(records.paints.empty());
    // The last picture the window got before the program ended.
    const std::string shown = records.paints.back().text;
    std::string digits = shown;
    std::erase_if(digits, [](char ch) { return ch < '0' || ch > '9'; });
    EXPECT_EQ(digits, count) << shown;
}

// A board that falls silent: the status says how long ago the last record
// came, once it is clearly overdue; records flowing show their rate.
TEST_F(Controls, ASilentBoardIsSaidWithTheTimeSinceTheLastRecord)
{
    tarvo::board::Faults faults;
    faults.silenceAfter = 1500;  // 3 s of records
    tarvo::rt::resetVirtualBoard(kBoardPort, faults);
    open();
    std::string flowing, silent;
    when([] { return QString::fromStdString(labelText("statusRate")).startsWith("last record"); },
         [&] {
             silent = labelText("statusRate");
             buttonFor("stop")->click();
         });
    EXPECT_EQ(runStarted(50, [&] { flowing = labelText("statusRate"); }), 0);
    EXPECT_TRUE(QString::fromStdString(flowing).endsWith(" records/s")) << flowing;
    const QRegularExpressionMatch m =
        QRegularExpression("^last record (\\d+) s ago$").match(QString::fromStdString(silent));
    ASSERT_TRUE(m.hasMatch()) << silent;
    EXPECT_GE(m.captured(1).toInt(), 2);  // never before two seconds
    EXPECT_GE(tot_data.load(), 1500u);
}

// ---------------------------------------------------------------------------
// The period hint

// The hint's text, and room for all of it without widening the settings'
// column or the window.
TEST_F(Controls, ThePeriodHintGivesTheRangeTheVerdictAndTheLinesFloorInItsColumn)
{
    open();
    QLabel* hint = child<QLabel>("periodHint");
    QWidget* column = child<QWidget>("acquisitionGroup");
    ASSERT_TRUE(hint && column);
    QApplication::processEvents();
    const int width = column->width();
    const int windowWidth = window()->width();
    struct Case {
        unsigned ch, status, baud, period;
        const char* text;
    };
    // The longest period is the cost plus 2^24 steps of 10 us (and 9 us):
    // about 167.8 s for every cost. The records' line (8E1, 11 bit times a
    // byte) carries a record of B bytes in B x 11 / baud seconds.
    const Case cases[] = {
        {6, 1, 115200, 2000, "1505 µs to 167.8 s"},
        {6, 1, 115200, 1504, "1505 µs to 167.8 s: too short"},
        {8, 1, 115200, 1958 + 167772160, "1958 µs to 167.8 s: too long"},
        {2, 0, 38400, 100000, "1061 µs to 167.8 s"},           // 3 bytes: 860 µs
        {4, 0, 57600, 1000, "1523 µs to 167.8 s: too short"},  // 6 bytes: 1146 µs
        // 10 bytes at 9600 bit/s: 110 bits, 11458.3 µs, where the table allows 3.4 ms.
        {6, 1, 9600, 20000, "3415 µs to 167.8 s; at 9600 bit/s the line needs 11.5 ms"},
        {6, 1, 9600, 3000, "3415 µs to 167.8 s: too short; at 9600 bit/s the line needs 11.5 ms"},
        // The longest text, shorter ones after it: 13 bytes, 143 bits: 14895.8 µs.
        {8, 1, 9600, 2000, "4441 µs to 167.8 s: too short; at 9600 bit/s the line needs 14.9 ms"},
        // 2 bytes, 22 bits: 2291.7 µs; 13 bytes at 19200, 143 bits: 7447.9 µs.
        {1, 0, 9600, 2000, "693 µs to 167.8 s; at 9600 bit/s the line needs 2292 µs"},
        {8, 1, 19200, 5000, "4441 µs to 167.8 s; at 19200 bit/s the line needs 7448 µs"},
        {8, 1, 115200, 2000, "1958 µs to 167.8 s"},  // 13 bytes: 1242 µs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.ch << " ch, status " << c.status << ", " << c.baud << " at " << c.period);
        ASSERT_NO_FATAL_FAILURE(setValues(panel, {{PANEL_NUMCH, c.ch},
                                                  {PANEL_STATUSBYTE, c.status},
                                                  {PANEL_BAUD, c.baud},
                                                  {PANEL_PERIOD, c.period}}));
        EXPECT_EQ(hint->text().toStdString(), c.text);
        QApplication::processEvents();
        EXPECT_EQ(column->width(), width);
        EXPECT_EQ(window()->width(), windowWidth);
        // The whole text stays on screen, wrapped where it must be.
        EXPECT_GE(hint->height(), hint->heightForWidth(hint->width()));
    }
}

TEST_F(Controls, ThePeriodHintFollowsThePeriodAsItIsTyped)
{
    open();
    SetCtrlVal(panel, PANEL_NUMCH, 6u);  // 1505 µs at 115200 bit/s with the status byte
    QLabel* hint = child<QLabel>("periodHint");
    auto* period = child<QDoubleSpinBox>("period");
    ASSERT_TRUE(hint && period);
    period->setFocus();
    period->selectAll();
    struct Step {
        const char* keys;
        const char* hint;
    };
    const Step steps[] = {
        {"1", "1505 µs to 167.8 s: too short"},
        {"5", "1505 µs to 167.8 s: too short"},   // 15
        {"00", "1505 µs to 167.8 s: too short"},  // 1500
        {"0", "1505 µs to 167.8 s"},              // 15000
    };
    for (const Step& s : steps) {
        QTest::keyClicks(period, s.keys);
        EXPECT_EQ(hint->text().toStdString(), s.hint) << "after " << s.keys;
    }
    // Typing alone commits nothing: the box's value is still the one set.
    EXPECT_EQ(period->value(), 2000);
    QTest::keyClick(period, Qt::Key_Return);
    EXPECT_EQ(period->value(), 15000);
    EXPECT_EQ(hint->text().toStdString(), "1505 µs to 167.8 s");
}

// Alt+letter: each label and button of the window has its own letter, and
// Start's is S.
TEST_F(Controls, EveryMnemonicIsItsOwnAndStartIsAltS)
{
    open();
    std::map<QKeySequence, std::string> owners;
    auto take = [&](const QString& label) {
        const QKeySequence key = QKeySequence::mnemonic(label);
        if (key.isEmpty())
            return;
        const auto [it, added] = owners.emplace(key, label.toStdString());
        EXPECT_TRUE(added) << label.toStdString() << " and " << it->second << " share "
                           << key.toString().toStdString();
    };
    for (QLabel* l : window()->findChildren<QLabel*>())
        take(l->text());
    for (QAbstractButton* b : window()->findChildren<QAbstractButton*>())
        take(b->text());
    for (QGroupBox* g : window()->findChildren<QGroupBox*>())
        take(g->title());
    EXPECT_EQ(owners[QKeySequence(Qt::ALT | Qt::Key_S)], "&Start");
    EXPECT_GE(owners.size(), 12u);
}
