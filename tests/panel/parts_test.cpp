// The panel's parts on their own: the adapter of each kind of control on
// real widgets, and the values other threads post.
#include "panel_controls.h"
#include "posted_values.h"
#include "support.h"
#include "unattended.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace tarvo::rt;

namespace {

Control controlOf(QWidget* w, int id = 1)
{
    Control c;
    c.id = id;
    c.kind = *kindOf(w);
    c.widget = w;
    return c;
}

QComboBox* combo(std::initializer_list<const char*> items, bool editable = false)
{
    auto* box = new QComboBox;
    for (const char* item : items)
        box->addItem(item);
    box->setEditable(editable);
    return box;
}

}  // namespace

TEST(ControlAdapters, EachKindReadsSetsAndRefusesAsItsWidgetAllows)
{
    ASSERT_EQ(initRunTime(), 1);  // the application object
    auto spin = [] {
        auto* s = new QSpinBox;
        s->setRange(1, 8);
        return s;
    };
    auto period = [] {
        auto* s = new QDoubleSpinBox;
        s->setDecimals(0);
        s->setRange(0, 4294967295.0);
        return s;
    };
    struct Case {
        std::function<QWidget*()> make;
        std::int64_t accepted;  // set, then read back
        std::int64_t refused;
        const char* why;  // the refusal
    };
    const Case cases[] = {
        {[] { return new QCheckBox; }, 1, 2, "takes 0 or 1, not 2"},
        {spin, 8, 9, "takes 1 to 8, not 9"},
        {period, 4294967295LL, -1, "takes 0 to 4294967295, not -1"},
        {[] {
             return combo({"57600 baud", "9600 baud"});
         },
         9600, 4800, "has no item with value 4800 (values: 57600, 9600)"},
        {[] {
             return combo({"Raw bytes", "Integer columns"});
         },
         1, 2, "has no item with value 2 (values: 0, 1)"},
        {[] { return combo({"115200"}, true); }, 250000, 0,
         "takes one of its items or 1 to 999999999, not 0"},
    };
    for (const Case& k : cases) {
        std::unique_ptr<QWidget> w(k.make());
        Control c = controlOf(w.get());
        const ControlAdapter& a = adapterOf(c.kind);
        SCOPED_TRACE(w->metaObject()->className());
        EXPECT_EQ(a.refuse(c, k.accepted), "");
        a.set(c, k.accepted);
        EXPECT_EQ(a.read(c), k.accepted);
        EXPECT_EQ(a.refuse(c, k.refused), k.why);
        EXPECT_EQ(refusal(c, k.refused), k.why);
    }
    // Buttons and texts hold no integer.
    for (QWidget* w : {static_cast<QWidget*>(new QPushButton), static_cast<QWidget*>(new QLabel)}) {
        std::unique_ptr<QWidget> owner(w);
        const Control c = controlOf(w);
        EXPECT_EQ(adapterOf(c.kind).read(c), std::nullopt);
        EXPECT_EQ(adapterOf(c.kind).refuse(c, 0), "holds no integer");
    }
}

TEST(ControlAdapters, WhatTheProgramNeedsNarrowsWhatAControlTakes)
{
    ASSERT_EQ(initRunTime(), 1);
    QSpinBox box;
    box.setRange(0, 100);
    Control c = controlOf(&box);
    const ControlRequirement need = {1, CTRL_INTEGER, "analog channels", 1, 8};
    EXPECT_EQ(adapterOf(c.kind).misfit(c, need, "; the program takes 1 to 8"),
              "minimum is 0; the program takes 1 to 8");
    c.need = &need;
    EXPECT_EQ(refusal(c, 9), "takes 1 to 8 (analog channels), not 9");
    EXPECT_EQ(refusal(c, 8), "");
}

TEST(PostedValues, TheLatestOfEachControlArrivesOnceWhateverTheThreads)
{
    ASSERT_EQ(initRunTime(), 1);
    QSpinBox spin;
    QDoubleSpinBox period;
    QLabel text;
    ControlTable table;
    table.emplace(6, controlOf(&spin, 6));
    table.emplace(10, controlOf(&period, 10));
    table.emplace(7, controlOf(&text, 7));
    PostedValues posted;
    MessageLineEcho echo;  // off: nothing is echoed
    posted.open(3, 1, table);

    std::atomic<int> wakes{0};
    const std::function<void()> wake = [&wakes] { ++wakes; };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i)
                EXPECT_EQ(
                    posted.post(t % 2 ? 3 : 1, 6, PostedValue{false, {}, i, false}, echo, wake),
                    UIE_NO_ERROR);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(posted.post(1, 10, PostedValue{false, {}, -1, true}, echo, wake), UIE_NO_ERROR);
    EXPECT_EQ(wakes, 1) << "one request on its way, however many values";

    std::map<int, PostedValue> todo = posted.take();
    ASSERT_EQ(todo.size(), 2u);
    EXPECT_EQ(todo[6].value, 999);
    EXPECT_EQ(todo[10].value, 4294967295LL) << "a signed int's 32 bits for a double spin box";
    EXPECT_TRUE(posted.take().empty());

    // Checked at once against the panel loaded.
    EXPECT_EQ(posted.post(2, 6, PostedValue{false, {}, 1, false}, echo, wake), UIE_BAD_PANEL);
    EXPECT_EQ(posted.post(1, 99, PostedValue{false, {}, 1, false}, echo, wake), UIE_BAD_CONTROL);
    EXPECT_EQ(posted.post(1, 6, PostedValue{true, "x", 0, false}, echo, wake), UIE_BAD_TYPE);
    EXPECT_EQ(posted.post(1, 7, PostedValue{true, "x", 0, false}, echo, wake), UIE_NO_ERROR);
    EXPECT_EQ(wakes, 2);
    // A value the main thread set itself, and a discarded panel, drop theirs.
    posted.drop(7);
    EXPECT_TRUE(posted.take().empty());
    EXPECT_EQ(posted.post(1, 6, PostedValue{false, {}, 5, false}, echo, wake), UIE_NO_ERROR);
    posted.close();
    EXPECT_TRUE(posted.take().empty());
    EXPECT_EQ(posted.post(1, 6, PostedValue{false, {}, 5, false}, echo, wake), UIE_BAD_PANEL);
}
