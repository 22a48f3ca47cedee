// Control values: what each kind of control holds as an integer, what it
// refuses, and texts and values set from another thread.
#include "support.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

const std::string kControls =
    spinXml("spin", 6, "", -5, 100) +
    wholeDoubleSpinXml("period", 10, "", 4294967295.0,
                       "<property name=\"value\"><double>2000</double></property>") +
    controlXml("QCheckBox", "flag", 9, "") +
    comboXml("format", 13, "", {"Raw bytes", "Integer columns"}) +
    comboXml("rates", 14, "", {"57600 baud", "9600 baud"}) +
    comboXml("baud", 8, "", {"115200"}, true) + textXml("message", 7, "") +
    controlXml("QPushButton", "go", 3, "");

class Values : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(initRunTime(), 1);
        const QString path = writeFile(dir, "values.uir", panelXml(1, kControls));
        handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
        ASSERT_GT(handle, 0);
    }
    void TearDown() override { DiscardPanel(handle); }

    QTemporaryDir dir;
    int handle = 0;
};

int value(int control)
{
    int v = -12345;
    EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR) << control;
    return v;
}

unsigned uvalue(int control)
{
    unsigned v = 12345;
    EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR) << control;
    return v;
}

QString text(const char* name) { return qobject_cast<QLineEdit*>(widget(name))->text(); }

}  // namespace

TEST_F(Values, EachKindOfControlHoldsAnInteger)
{
    // As loaded.
    EXPECT_EQ(value(10), 2000);
    EXPECT_EQ(value(9), 0);
    EXPECT_EQ(value(13), 0);      // item texts without a number: the index
    EXPECT_EQ(value(14), 57600);  // item texts that begin with a number: the number
    EXPECT_EQ(value(8), 115200);
    struct Case {
        int control;
        int value;
        const char* what;
    };
    const Case cases[] = {
        {6, -5, "a spin box at its minimum"},
        {9, 1, "a check box"},
        {13, 1, "an item by its index"},
        {14, 9600, "an item by the number its text begins with"},
        {8, 250000, "an editable combo box: a rate that is not in its list"},
        {8, 115200, "an editable combo box: back to an item"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetCtrlVal(1, c.control, c.value), UIE_NO_ERROR) << c.what;
        EXPECT_EQ(value(c.control), c.value) << c.what;
    }
}

TEST_F(Values, APeriodUsesAllThirtyTwoBits)
{
    EXPECT_EQ(SetCtrlVal(1, 10, 4294967295u), UIE_NO_ERROR);
    EXPECT_EQ(uvalue(10), 4294967295u);
    EXPECT_EQ(value(10), -1) << "the same 32 bits through the signed overload";
    EXPECT_EQ(SetCtrlVal(1, 10, -1294967296), UIE_NO_ERROR);  // 3000000000 as a signed int
    EXPECT_EQ(uvalue(10), 3000000000u);
    EXPECT_EQ(SetCtrlVal(1, 10, 0u), UIE_NO_ERROR);
    EXPECT_EQ(uvalue(10), 0u);
}

TEST_F(Values, AValueAControlCannotHoldIsRefusedAndChangesNothing)
{
    SetCtrlVal(1, 6, 7);
    EXPECT_EQ(SetCtrlVal(1, 6, 101), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 6, -6), UIE_BAD_TYPE);
    EXPECT_EQ(value(6), 7);
    EXPECT_EQ(SetCtrlVal(1, 9, 2), UIE_BAD_TYPE);
    EXPECT_EQ(value(9), 0);
    EXPECT_EQ(SetCtrlVal(1, 13, 2), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 14, 4800), UIE_BAD_TYPE);
    EXPECT_EQ(value(14), 57600);
    EXPECT_EQ(SetCtrlVal(1, 8, 0), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 8, 1000000000), UIE_BAD_TYPE);
    EXPECT_EQ(value(8), 115200);
    EXPECT_EQ(SetCtrlVal(1, 6, "3"), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 3, 1), UIE_BAD_TYPE);
    int v = 0;
    EXPECT_EQ(GetCtrlVal(1, 3, &v), UIE_BAD_TYPE);
    EXPECT_EQ(GetCtrlVal(1, 7, &v), UIE_BAD_TYPE);
}

TEST_F(Values, UnknownPanelsAndControlsAreNamedInTheResult)
{
    int v = 0;
    EXPECT_EQ(GetCtrlVal(0, 6, &v), UIE_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(5, 6, &v), UIE_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(1, 99, &v), UIE_BAD_CONTROL);
    EXPECT_EQ(SetCtrlVal(1, 99, "x"), UIE_BAD_CONTROL);
    EXPECT_EQ(SetCtrlVal(5, 7, "x"), UIE_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(1, 6, static_cast<int*>(nullptr)), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 7, static_cast<const char*>(nullptr)), UIE_NO_ERROR);
    EXPECT_EQ(text("message"), "");
}

TEST_F(Values, AnotherThreadNeverWaitsAndItsLatestTextArrives)
{
    // The main thread is blocked in join() while the other thread writes:
    // if a write waited for the main thread, join() would never return.
    std::atomic<int> failures{0};
    std::thread writer([&] {
        for (int i = 0; i < 100000; ++i)
            if (SetCtrlVal(1, 7, ("record " + std::to_string(i)).c_str()) != UIE_NO_ERROR)
                ++failures;
        if (SetCtrlVal(1, 6, 42) != UIE_NO_ERROR)
            ++failures;
        // Refused at once, from this thread as well.
        if (SetCtrlVal(1, 6, "text") != UIE_BAD_TYPE || SetCtrlVal(1, 99, "x") != UIE_BAD_CONTROL)
            ++failures;
        int v = 0;
        if (GetCtrlVal(1, 6, &v) == UIE_NO_ERROR)
            ++failures;  // widgets are read on the main thread only
    });
    writer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(value(6), 42) << "GetCtrlVal sees a value set by another thread";

    // However many texts were written, at most one update is on its way.
    struct Counter : QObject {
        int metaCalls = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            metaCalls += e->type() == QEvent::MetaCall;
            return false;
        }
    } counter;
    qApp->installEventFilter(&counter);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&counter);
    EXPECT_LE(counter.metaCalls, 1);
    EXPECT_EQ(text("message"), "record 99999");
}

TEST_F(Values, ATextSetOnTheMainThreadIsOnScreenAtOnce)
{
    QWidget* panel = widget("panel");
    DisplayPanel(handle);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    QCoreApplication::processEvents();
    QScreen* screen = panel->screen();
    const QImage before = screen->grabWindow(panel->winId()).toImage();

    SetCtrlVal(1, 7, "Sampling...");
    // No event is processed from here: the main thread could now block.
    const QImage now = screen->grabWindow(panel->winId()).toImage();
    EXPECT_NE(now, before) << "the new text is not on screen";

    panel->repaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(screen->grabWindow(panel->winId()).toImage(), now)
        << "painting later shows more than what was on screen";
}
