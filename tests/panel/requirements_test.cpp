// A panel file checked against what the program needs of its controls: each
// kind of control and what it offers, against a requirement table of the
// test's own; a value outside the table refused by scripts and SetCtrlVal;
// an editable combo box that takes only the typed numbers the program can.
#include "panel_internal.h"
#include "support.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class Requirements : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(initRunTime(), 1); }
    void TearDown() override
    {
        if (handle > 0)
            DiscardPanel(handle);
        tarvo::rt::setControlRequirements(nullptr, 0);
    }

    // Loads a panel of `controls` against `need`; returns stderr.
    std::string load(const std::string& controls, const ControlRequirement& need)
    {
        table[0] = need;
        tarvo::rt::setControlRequirements(table, 1);
        const QString path = writeFile(dir, "req.uir", panelXml(1, controls));
        StderrCapture err;
        handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
        std::string text = err.text();
        if (handle < 0) {
            // "tarvo: PATH: " comes first.
            const std::string head = "tarvo: " + path.toStdString() + ": ";
            EXPECT_EQ(text.rfind(head, 0), 0u) << text;
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
            text = text.substr(std::min(head.size(), text.size()));
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
        }
        return text;
    }

    QTemporaryDir dir;
    ControlRequirement table[1] = {};
    int handle = 0;
};

std::string item(const std::string& text)
{
    return "<item><property name=\"text\"><string>" + text + "</string></property></item>";
}
std::string prop(const std::string& name, const std::string& value)
{
    return "<property name=\"" + name + "\">" + value + "</property>";
}
std::string number(long long v) { return "<number>" + std::to_string(v) + "</number>"; }
std::string real(double v) { return "<double>" + std::to_string(v) + "</double>"; }

constexpr const char* kReadsInteger =
    "the program reads an integer from it (a check box, spin box, double spin box or combo box)";

}  // namespace

TEST_F(Requirements, EachKindOfControlIsCheckedForWhatItOffers)
{
    struct Case {
        const char* name;
        std::string controls;
        ControlRequirement need;
        std::string refusal;  // empty: the panel loads
    };
    const Case cases[] = {
        {"check box for a flag",
         controlXml("QCheckBox", "flag", 9, ""),
         {9, CTRL_INTEGER, "status byte", 0, 1},
         ""},
        {"check box for channels",
         controlXml("QCheckBox", "flag", 6, ""),
         {6, CTRL_INTEGER, "channels", 1, 8},
         "control 6 (flag, channels): class is QCheckBox, which offers 0 and 1; the program takes 1 to 8"},
        {"spin box within",
         controlXml("QSpinBox", "n", 6, "",
                    prop("minimum", number(1)) + prop("maximum", number(8))),
         {6, CTRL_INTEGER, "channels", 1, 8},
         ""},
        {"spin box from 0",
         controlXml("QSpinBox", "n", 6, "",
                    prop("minimum", number(0)) + prop("maximum", number(8))),
         {6, CTRL_INTEGER, "channels", 1, 8},
         "control 6 (n, channels): minimum is 0; the program takes 1 to 8"},
        {"double spin box past 32 bits",
         controlXml("QDoubleSpinBox", "period", 10, "",
                    prop("decimals", number(0)) + prop("maximum", real(5e9))),
         {10, CTRL_INTEGER, "period", 0, 4294967295LL},
         "control 10 (period, period): maximum is 5000000000; the program takes 0 to 4294967295"},
        {"double spin box read rounded",
         controlXml(
             "QDoubleSpinBox", "x", 6, "",
             prop("decimals", number(1)) + prop("minimum", real(0.6)) + prop("maximum", real(8.4))),
         {6, CTRL_INTEGER, "channels", 1, 8},
         ""},
        {"combo box items by their numbers",
         controlXml("QComboBox", "baud", 8, "", item("9600") + item("115200")),
         {8, CTRL_INTEGER, "baud rate", 1, 12000000},
         ""},
        {"combo box items by their index",
         controlXml("QComboBox", "fmt", 13, "", item("Raw") + item("Int") + item("Hex")),
         {13, CTRL_INTEGER, "format", 0, 1},
         "control 13 (fmt, format): item 'Hex' has value 2; the program takes 0 to 1"},
        {"combo box without items",
         controlXml("QComboBox", "fmt", 13, ""),
         {13, CTRL_INTEGER, "format", 0, 1},
         "control 13 (fmt, format): it has no items; the program takes 0 to 1"},
        {"combo box with nothing chosen",
         controlXml("QComboBox", "fmt", 13, "",
                    prop("currentIndex", number(-1)) + item("Raw") + item("Int")),
         {13, CTRL_INTEGER, "format", 0, 1},
         "control 13 (fmt, format): currentIndex is -1 (no item chosen); the program takes 0 to 1"},
        {"editable combo box where nothing can be typed",
         controlXml("QComboBox", "zero", 4, "", prop("editable", "<bool>true</bool>") + item("0")),
         {4, CTRL_INTEGER, "a constant", 0, 0},
         "control 4 (zero, a constant): editable is true, which offers typed numbers from 1; the program takes only 0"},
        {"port list",
         controlXml("QComboBox", "port", 2, "",
                    "<property name=\"portList\" stdset=\"0\"><bool>true</bool></property>"),
         {2, CTRL_INTEGER, "port", 1, 2147483647},
         ""},
        {"port list for a small range",
         controlXml("QComboBox", "port", 2, "",
                    "<property name=\"portList\" stdset=\"0\"><bool>true</bool></property>"),
         {2, CTRL_INTEGER, "port", 1, 16},
         "control 2 (port, port): portList is true, which offers port numbers 1 to 999; the program takes 1 to 16"},
        {"push button",
         controlXml("QPushButton", "go", 6, ""),
         {6, CTRL_INTEGER, "channels", 1, 8},
         std::string("control 6 (go, channels): class is QPushButton; ") + kReadsInteger},
        {"label for a text",
         controlXml("QLabel", "hint", 14, ""),
         {14, CTRL_TEXT, "hint", 0, 0},
         ""},
        {"line edit for a text",
         controlXml("QLineEdit", "msg", 7, ""),
         {7, CTRL_TEXT, "message", 0, 0},
         ""},
        {"spin box for a text",
         controlXml("QSpinBox", "msg", 7, ""),
         {7, CTRL_TEXT, "message", 0, 0},
         "control 7 (msg, message): class is QSpinBox; the program sets a text in it (a line edit or a label)"},
        {"missing",
         controlXml("QSpinBox", "n", 6, ""),
         {5, CTRL_INTEGER, "something", 0, 1},
         std::string("control 5 (something): no widget has ctrlId 5; ") + kReadsInteger},
        {"odd object name",
         controlXml("QSpinBox", "two words", 6, "", prop("maximum", number(9))),
         {6, CTRL_INTEGER, "channels", 0, 8},
         "control 6 ('two words', channels): maximum is 9; the program takes 0 to 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string err = load(c.controls, c.need);
        EXPECT_EQ(err, c.refusal);
        EXPECT_EQ(handle > 0, c.refusal.empty());
        if (handle > 0) {
            DiscardPanel(handle);
            handle = 0;
        }
    }
}

TEST_F(Requirements, AnEditableBaudRateBoxTakesTypedRatesOnlyUpToTheProgramsLimit)
{
    const std::string err =
        load(controlXml("QComboBox", "baud", 8, "comvel",
                        prop("editable", "<bool>true</bool>") + item("115200") + item("9600")),
             {8, CTRL_INTEGER, "baud rate", 1, 12000000});
    ASSERT_GT(handle, 0) << err;
    DisplayPanel(handle);

    // Scripts and the program: 12,000,000 is the most; items still count.
    using tarvo::rt::parseScript;
    const tarvo::rt::ScriptCheck over =
        tarvo::rt::checkScript(parseScript("set 8 12000001\n").actions);
    EXPECT_EQ(over.line, 1);
    EXPECT_EQ(over.error,
              "set: control 8 ('baud') takes one of its items or 1 to 12000000, not 12000001");
    EXPECT_EQ(tarvo::rt::checkScript(parseScript("set 8 12000000\nset 8 9600\n").actions).line, 0);
    EXPECT_EQ(SetCtrlVal(1, 8, 12000001u), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 8, 0), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(1, 8, 250000), UIE_NO_ERROR);
    unsigned v = 0;
    EXPECT_EQ(GetCtrlVal(1, 8, &v), UIE_NO_ERROR);
    EXPECT_EQ(v, 250000u);

    // Typing: a ninth digit, or a rate past the limit, is not taken.
    auto* box = qobject_cast<QComboBox*>(widget("baud"));
    ASSERT_NE(box, nullptr);
    struct Typed {
        const char* keys;
        const char* shown;
    } typed[] = {{"12000000", "12000000"}, {"13000000", "1300000"}, {"120000009", "12000000"}};
    for (const Typed& t : typed) {
        box->lineEdit()->clear();
        QTest::keyClicks(box->lineEdit(), t.keys);
        EXPECT_EQ(box->currentText().toStdString(), t.shown) << t.keys;
    }
}

TEST_F(Requirements, TheTestPanelsNeedNothingByDefault)
{
    // The test program's own ProgramControls is empty: the panels of the
    // other panel tests load as they are.
    const QString path = writeFile(dir, "bare.uir", panelXml(1, controlXml("QLabel", "l", 1, "")));
    handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
    EXPECT_GT(handle, 0);
}
