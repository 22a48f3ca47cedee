// Loading a panel file: the shipped panel with its controls and defaults, and
// each way a file can be wrong (a negative result and one line on stderr).
#include "support.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

class Load : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(initRunTime(), 1); }

    // Loads `path`, expecting a failure whose one stderr line holds `fragment`.
    void expectFailure(const QString& path, const std::string& fragment, int panelId = 1)
    {
        StderrCapture err;
        const int handle = LoadPanel(0, path.toLocal8Bit().constData(), panelId);
        const std::string text = err.text();
        EXPECT_LT(handle, 0);
        EXPECT_NE(text.find(fragment), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(text.rfind("tarvo: ", 0), 0u) << text;
        EXPECT_EQ(widget("panel"), nullptr) << "a failed load leaves no widget behind";
    }

    QTemporaryDir dir;
};

int value(int control)
{
    int v = -12345;
    EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR) << "control " << control;
    return v;
}

}  // namespace

TEST_F(Load, ShippedPanelHasEveryControlWithItsDefault)
{
    const int handle = LoadPanel(0, TARVO_PANEL_FILE, 1);
    ASSERT_GT(handle, 0);
    expectShippedPanelDefaults();
    int text = 0;
    EXPECT_EQ(GetCtrlVal(1, 7, &text), UIE_BAD_TYPE);  // the message line holds text
    EXPECT_EQ(GetCtrlVal(1, 1, &text), UIE_BAD_CONTROL);
    EXPECT_EQ(DisplayPanel(handle), UIE_NO_ERROR);
    EXPECT_EQ(widget("tarvoPanel")->windowTitle(), "tarvo");
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

TEST_F(Load, ThePortListShowsTheComEntriesAndPreselectsTheFirst)
{
    ASSERT_EQ(initRunTime({"--com", "17=/dev/pts/fake", "--com", "5=virtual"}), 1);
    const int handle = LoadPanel(0, TARVO_PANEL_FILE, 1);
    ASSERT_GT(handle, 0);
    auto* box = qobject_cast<QComboBox*>(widget("comPort"));
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(value(2), 17);
    EXPECT_TRUE(box->currentText().startsWith("COM17  /dev/pts/fake"))
        << box->currentText().toStdString();
    EXPECT_GE(box->findData(5), 0);
    EXPECT_EQ(box->itemText(box->findData(5)), "COM5  virtual board");
    // A script or the program may pick another listed port, not an unlisted one.
    EXPECT_EQ(SetCtrlVal(1, 2, 5), UIE_NO_ERROR);
    EXPECT_EQ(value(2), 5);
    EXPECT_EQ(SetCtrlVal(1, 2, 998), UIE_BAD_TYPE);
    EXPECT_EQ(value(2), 5);
    DiscardPanel(handle);
}

TEST_F(Load, ARelativeNameIsFoundBesideTheExecutable)
{
    const QString name =
        QString("test_panel_beside_%1.uir").arg(QCoreApplication::applicationPid());
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(panelXml(1, controlXml("QSpinBox", "spin", 6, "pic")).c_str());
    }
    const int handle = LoadPanel(0, name.toLocal8Bit().constData(), 1);
    QFile::remove(path);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

TEST_F(Load, APanelInsideTheFormIsTakenOut)
{
    const std::string inner =
        "   <item><widget class=\"QWidget\" name=\"second\">\n"
        "    <property name=\"panelId\" stdset=\"0\"><number>2</number></property>\n"
        "    <layout class=\"QVBoxLayout\" name=\"l2\">\n" +
        controlXml("QCheckBox", "flag", 9, "dig") + "    </layout>\n   </widget></item>\n";
    const QString path =
        writeFile(dir, "two.uir", panelXml(1, controlXml("QSpinBox", "spin", 6, "pic") + inner));
    const int handle = LoadPanel(0, path.toLocal8Bit().constData(), 2);
    ASSERT_GT(handle, 0);
    int v = -1;
    EXPECT_EQ(GetCtrlVal(2, 9, &v), UIE_NO_ERROR);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(GetCtrlVal(2, 6, &v), UIE_BAD_CONTROL) << "the spin box belongs to panel 1";
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

TEST_F(Load, OnePanelAtATimeAndADiscardedHandleIsDead)
{
    const QString path =
        writeFile(dir, "p.uir", panelXml(1, controlXml("QSpinBox", "spin", 6, "pic")));
    const int first = LoadPanel(0, path.toLocal8Bit().constData(), 1);
    ASSERT_GT(first, 0);
    {
        StderrCapture err;
        EXPECT_LT(LoadPanel(0, path.toLocal8Bit().constData(), 1), 0);
        EXPECT_NE(err.text().find("already loaded"), std::string::npos);
    }
    EXPECT_EQ(DiscardPanel(first), UIE_NO_ERROR);
    EXPECT_EQ(DiscardPanel(first), UIE_BAD_PANEL);
    int v = 0;
    EXPECT_EQ(GetCtrlVal(first, 6, &v), UIE_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(1, 6, &v), UIE_BAD_PANEL);
    const int second = LoadPanel(0, path.toLocal8Bit().constData(), 1);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, first) << "a new load, a new handle";
    EXPECT_EQ(GetCtrlVal(1, 6, &v), UIE_NO_ERROR) << "resource id 1 names the new panel";
    EXPECT_EQ(DisplayPanel(second), UIE_NO_ERROR);
    DiscardPanel(second);
}

TEST_F(Load, MissingFile) { expectFailure(dir.filePath("nothing.uir"), "cannot open panel file"); }

TEST_F(Load, MalformedXml)
{
    expectFailure(writeFile(dir, "cut.uir",
                            panelXml(1, controlXml("QSpinBox", "s", 6, "pic")).substr(0, 120)),
                  "Premature end of document");
    expectFailure(writeFile(dir, "text.uir", "not xml at all"), "line 1");
    expectFailure(writeFile(dir, "empty.uir", ""), "empty.uir: ");
}

TEST_F(Load, UnknownWidgetClass)
{
    expectFailure(
        writeFile(dir, "class.uir", panelXml(1, controlXml("QNoSuchWidget", "odd", 6, "pic"))),
        "QNoSuchWidget");
}

TEST_F(Load, NoPanelWithThatId)
{
    const QString path =
        writeFile(dir, "p2.uir", panelXml(2, controlXml("QSpinBox", "s", 6, "pic")));
    expectFailure(path, "no panel 1");
    expectFailure(path, "no panel 7", 7);
}

TEST_F(Load, DuplicateControlId)
{
    expectFailure(writeFile(dir, "dup.uir",
                            panelXml(1, controlXml("QSpinBox", "channels", 6, "pic") +
                                            controlXml("QCheckBox", "flag", 6, "dig"))),
                  "control id 6 is used twice");
}

TEST_F(Load, CallbackTheProgramDoesNotHave)
{
    expectFailure(
        writeFile(dir, "cb.uir", panelXml(1, controlXml("QPushButton", "go", 3, "launch"))),
        "names callback 'launch', which the program does not have");
}

TEST_F(Load, ControlIdThatIsNoNumber)
{
    const std::string body =
        "   <item><widget class=\"QSpinBox\" name=\"s\">\n"
        "    <property name=\"ctrlId\" stdset=\"0\"><string>six</string></property>\n"
        "   </widget></item>\n";
    expectFailure(writeFile(dir, "id.uir", panelXml(1, body)), "ctrlId must be a positive integer");
    expectFailure(writeFile(dir, "zero.uir", panelXml(1, controlXml("QSpinBox", "s", 0, ""))),
                  "ctrlId must be a positive integer");
}

TEST_F(Load, WidgetKindThatCannotBeAControl)
{
    expectFailure(
        writeFile(dir, "slider.uir", panelXml(1, controlXml("QSlider", "level", 6, "pic"))),
        "a QSlider cannot be a control");
}
