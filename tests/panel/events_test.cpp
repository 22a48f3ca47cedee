// What the user does on the panel reaches the program's callbacks: by name,
// with the control's id and the event, one callback at a time, and nothing
// after Quit.
#include "support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace {

const std::string kControls =
    controlXml("QPushButton", "go", 3, "start") +
    controlXml(
        "QPushButton", "other", 4, "other",
        "<property name=\"minimumSize\"><size><width>200</width><height>40</height></size></property>"
        "<widget class=\"QLabel\" name=\"badge\"><property name=\"geometry\"><rect><x>150</x>"
        "<y>5</y><width>40</width><height>30</height></rect></property>"
        "<property name=\"text\"><string>new</string></property></widget>") +
    controlXml("QCheckBox", "flag", 9, "dig") + spinXml("spin", 6, "pic", 1, 8) +
    comboXml("format", 13, "writef", {"Raw bytes", "Integer columns"}, false,
             numberProperty("currentIndex", 1)) +
    comboXml("baud", 8, "comvel", {"115200", "9600"}, true) + textXml("message", 7, "disp");
const std::string kQuit = controlXml("QPushButton", "quitButton", 5, "quit");

class Events : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        onCall = nullptr;
        ASSERT_EQ(initRunTime(), 1);
    }
    void TearDown() override
    {
        onCall = nullptr;
        if (handle > 0)
            DiscardPanel(handle);
    }

    void load(bool withQuit = true)
    {
        const QString path =
            writeFile(dir, "events.uir", panelXml(1, kControls + (withQuit ? kQuit : "")));
        handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
        ASSERT_GT(handle, 0);
        DisplayPanel(handle);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(widget("panel")));
    }

    // Runs `actions` from inside the event loop, then ends it.
    int runThenQuit(const std::function<void()>& actions)
    {
        QTimer::singleShot(0, [actions] {
            actions();
            QuitUserInterface(0);
        });
        return runGuarded();
    }

    std::vector<std::pair<std::string, int>> events() const
    {
        std::vector<std::pair<std::string, int>> out;
        for (const Call& c : calls)
            out.emplace_back(c.name, c.event);
        return out;
    }

    QTemporaryDir dir;
    int handle = 0;
};

using Seen = std::vector<std::pair<std::string, int>>;

void click(const char* name)
{
    QWidget* w = widget(name);
    ASSERT_NE(w, nullptr) << name;
    // Near the left edge: a check box reacts only on its box and label.
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}

int value(int control)
{
    int v = -12345;
    EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR);
    return v;
}

}  // namespace

TEST_F(Events, AButtonGivesLeftClickThenCommitWithItsIdAndPanel)
{
    load();
    EXPECT_EQ(runThenQuit([] { click("go"); }), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "start");
    EXPECT_EQ(calls[0].panel, handle);
    EXPECT_EQ(calls[0].control, 3);
    EXPECT_EQ(calls[0].event, EVENT_LEFT_CLICK);
    EXPECT_EQ(calls[1].control, 3);
    EXPECT_EQ(calls[1].event, EVENT_COMMIT);
}

TEST_F(Events, EachControlCallsItsOwnCallback)
{
    load();
    runThenQuit([] {
        click("other");
        click("flag");
    });
    EXPECT_EQ(events(), (Seen{{"other", 3}, {"other", 1}, {"dig", 3}, {"dig", 1}}));
    EXPECT_EQ(calls[2].control, 9);
    EXPECT_EQ(value(9), 1);
}

TEST_F(Events, ASpinBoxCommitsTheTypedValueOnEnterAndEachArrowStep)
{
    load();
    std::size_t afterTyping = 99;
    runThenQuit([&] {
        auto* spin = qobject_cast<QSpinBox*>(widget("spin"));
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, "4");
        afterTyping = calls.size();
        QTest::keyClick(spin, Qt::Key_Return);
        QTest::keyClick(spin, Qt::Key_Up);
    });
    EXPECT_EQ(afterTyping, 0u) << "no commit while typing";
    EXPECT_EQ(events(), (Seen{{"pic", 1}, {"pic", 1}}));
    EXPECT_EQ(value(6), 5);
}

TEST_F(Events, APressOnAPartOfAControlIsOneLeftClick)
{
    load();
    runThenQuit([] {
        auto* spin = qobject_cast<QSpinBox*>(widget("spin"));
        QLineEdit* text = spin->findChild<QLineEdit*>();
        QTest::mouseClick(text, Qt::LeftButton, {}, QPoint(4, text->height() / 2));
    });
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "pic");
    EXPECT_EQ(calls[0].control, 6);
    EXPECT_EQ(calls[0].event, EVENT_LEFT_CLICK);

    // A label on a button lets the press through to the button: still one.
    calls.clear();
    runThenQuit([] { click("badge"); });
    EXPECT_EQ(events(), (Seen{{"other", 3}, {"other", 1}}));
}

TEST_F(Events, ComboBoxesCommitTheUsersChoiceAndTypedRates)
{
    load();
    runThenQuit([] {
        auto* format = qobject_cast<QComboBox*>(widget("format"));
        format->setFocus();
        QTest::keyClick(format, Qt::Key_Up);  // Integer columns -> Raw bytes
        auto* baud = qobject_cast<QComboBox*>(widget("baud"));
        baud->setFocus();
        baud->lineEdit()->selectAll();
        QTest::keyClicks(baud->lineEdit(), "250x000");  // the letter is refused
        QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
        QTest::keyClick(baud->lineEdit(), Qt::Key_Return);  // unchanged: no second commit
        format->setFocus();
    });
    EXPECT_EQ(events(), (Seen{{"writef", 1}, {"comvel", 1}}));
    EXPECT_EQ(value(13), 0);
    EXPECT_EQ(value(8), 250000);
    auto* baud = qobject_cast<QComboBox*>(widget("baud"));
    EXPECT_EQ(baud->count(), 2) << "a typed rate is not added to the list";
}

TEST_F(Events, ValuesTheProgramSetsCallNoCallback)
{
    load();
    runThenQuit([] {
        SetCtrlVal(1, 6, 2);
        SetCtrlVal(1, 9, 1);
        SetCtrlVal(1, 13, 0);
        SetCtrlVal(1, 8, 9600);
        SetCtrlVal(1, 7, "hello");
    });
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(value(6), 2);
    EXPECT_EQ(value(8), 9600);
}

TEST_F(Events, QuitEndsTheLoopOnlyAfterItsCallbackReturnsAndNothingRunsAfterIt)
{
    load();
    bool returned = false;
    onCall = [&](const Call& c) {
        if (c.name != "quit" || c.event != EVENT_COMMIT)
            return;
        QuitUserInterface(3);
        click("go");  // the user is faster than the program: too late
        QTest::qWait(20);
        returned = true;
    };
    QTimer::singleShot(0, [] { click("quitButton"); });
    EXPECT_EQ(runGuarded(), 3);
    EXPECT_TRUE(returned);
    EXPECT_EQ(events(), (Seen{{"quit", 3}, {"quit", 1}}));
}

TEST_F(Events, AnEventDuringACallbackWaitsUntilItReturns)
{
    load();
    std::size_t seenAtEnd = 0;
    onCall = [&](const Call& c) {
        if (c.name == "start" && c.event == EVENT_COMMIT) {
            click("flag");                      // arrives while this callback runs
            QCoreApplication::processEvents();  // a nested loop does not let it in
            seenAtEnd = calls.size();
        }
        if (c.name == "dig" && c.event == EVENT_COMMIT)
            QuitUserInterface(0);
    };
    QTimer::singleShot(0, [] { click("go"); });
    EXPECT_EQ(runGuarded(), 0);
    EXPECT_EQ(seenAtEnd, 2u);
    EXPECT_EQ(events(), (Seen{{"start", 3}, {"start", 1}, {"dig", 3}, {"dig", 1}}));
}

TEST_F(Events, ClosingTheWindowPressesQuit)
{
    load();
    onCall = [](const Call& c) {
        if (c.name == "quit" && c.event == EVENT_COMMIT)
            QuitUserInterface(0);
    };
    QTimer::singleShot(0, [] { widget("panel")->close(); });
    EXPECT_EQ(runGuarded(), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].control, 5);
    EXPECT_EQ(calls[0].event, EVENT_COMMIT);
    EXPECT_TRUE(widget("panel")->isVisible())
        << "the program discards the panel, not the close button";
}

TEST_F(Events, ClosingAPanelWithoutQuitEndsTheLoop)
{
    load(false);
    QTimer::singleShot(0, [] { widget("panel")->close(); });
    EXPECT_EQ(runGuarded(), 0);
    EXPECT_TRUE(calls.empty());
}

TEST_F(Events, TerminationSignalsPressQuit)
{
    load();
    onCall = [](const Call& c) {
        if (c.name == "quit" && c.event == EVENT_COMMIT)
            QuitUserInterface(0);
    };
    for (int sig : {SIGTERM, SIGINT}) {
        calls.clear();
        ASSERT_EQ(initRunTime(), 1);  // arms the handlers again
        QTimer::singleShot(0, [sig] { std::raise(sig); });
        EXPECT_EQ(runGuarded(), 0) << sig;
        ASSERT_EQ(calls.size(), 1u) << sig;
        EXPECT_EQ(calls[0].name, "quit");
        EXPECT_EQ(calls[0].control, 5);
    }
}
