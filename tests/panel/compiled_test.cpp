// The panel compiled in by uic (the build without Qt's form loader): the
// shipped tarvo.uir gives the same widgets, properties and controls as the
// loader makes of it, and any other file beside the program is refused with
// where it differs and how to change the panel.
#include "panel_form.h"
#include "support.h"

#include <QComboBox>
#include <QFile>
#include <QMetaProperty>
#include <QUiLoader>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace {

std::string shippedBytes()
{
    QFile f(TARVO_PANEL_FILE);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// The line (from 1) that byte `offset` of `text` is on.
int lineAt(const std::string& text, std::size_t offset)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + offset, '\n'));
}

// Every widget of a tree by object name: its class, every stored property
// and every dynamic property, and a combo box's items with their data. Not
// the sizes and places: before the first layout pass they depend on the
// order the widgets were made in, which the form does not say.
std::map<QString, std::map<QString, QString>> describe(QWidget* top)
{
    static const QStringList geometry = {
        "geometry", "frameGeometry", "normalGeometry", "pos",  "size",      "x",
        "y",        "width",         "height",         "rect", "frameRect", "childrenRect"};
    std::map<QString, std::map<QString, QString>> out;
    QList<QWidget*> all = top->findChildren<QWidget*>();
    all.prepend(top);
    for (QWidget* w : all) {
        auto& d = out[w->objectName()];
        d["class"] = w->metaObject()->className();
        const QMetaObject* mo = w->metaObject();
        for (int i = 0; i < mo->propertyCount(); ++i) {
            const QMetaProperty p = mo->property(i);
            if (p.isStored() && p.isReadable() && !geometry.contains(p.name()))
                d[p.name()] = p.read(w).toString();
        }
        for (const QByteArray& name : w->dynamicPropertyNames())
            d["dynamic " + QString(name)] = w->property(name).toString();
        if (auto* box = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < box->count(); ++i)
                d[QString("item %1").arg(i)] =
                    box->itemText(i) + " = " + box->itemData(i).toString();
    }
    return out;
}

class CompiledPanel : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(initRunTime(), 1); }

    int value(int control)
    {
        int v = -12345;
        EXPECT_EQ(GetCtrlVal(1, control, &v), UIE_NO_ERROR) << "control " << control;
        return v;
    }

    QTemporaryDir dir;
};

TEST_F(CompiledPanel, TheShippedFileGivesThePanelWithEveryControlAndItsDefault)
{
    ASSERT_TRUE(tarvo::rt::panelCompiledIn());
    const int handle = LoadPanel(0, TARVO_PANEL_FILE, 1);
    ASSERT_GT(handle, 0);
    expectShippedPanelDefaults();
    EXPECT_EQ(DisplayPanel(handle), UIE_NO_ERROR);
    EXPECT_EQ(widget("tarvoPanel")->windowTitle(), "tarvo");
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

TEST_F(CompiledPanel, IsTheFormTheLoaderBuildsFromTheSameFile)
{
    QFile forLoader(TARVO_PANEL_FILE), forCompiled(TARVO_PANEL_FILE);
    ASSERT_TRUE(forLoader.open(QIODevice::ReadOnly));
    ASSERT_TRUE(forCompiled.open(QIODevice::ReadOnly));
    QUiLoader loader;
    std::unique_ptr<QWidget> loaded(loader.load(&forLoader));
    ASSERT_NE(loaded, nullptr) << loader.errorString().toStdString();
    QString error;
    std::unique_ptr<QWidget> compiled = tarvo::rt::buildPanelForm(forCompiled, error);
    ASSERT_NE(compiled, nullptr) << error.toStdString();

    const auto want = describe(loaded.get());
    const auto got = describe(compiled.get());
    EXPECT_GE(want.size(), 30u) << "the whole panel, not a stub";
    for (const auto& [name, properties] : want) {
        const auto it = got.find(name);
        if (it == got.end()) {
            ADD_FAILURE() << "widget " << name.toStdString() << " is missing";
            continue;
        }
        for (const auto& [property, v] : properties) {
            const auto p = it->second.find(property);
            EXPECT_TRUE(p != it->second.end() && p->second == v)
                << name.toStdString() << "." << property.toStdString() << ": loader "
                << v.toStdString() << ", compiled "
                << (p == it->second.end() ? std::string("(none)") : p->second.toStdString());
        }
    }
    EXPECT_EQ(got.size(), want.size());
    EXPECT_EQ(want.at("comPort").at("dynamic portList"), "true");
    EXPECT_EQ(want.at("startButton").at("dynamic callback"), "start");
}

TEST_F(CompiledPanel, AFileWithCrLfLineEndsIsTheSamePanel)
{
    std::string text = shippedBytes();
    ASSERT_FALSE(text.empty());
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const int handle = LoadPanel(0, writeFile(dir, "tarvo.uir", crlf).toLocal8Bit().constData(), 1);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(value(6), 6);
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

TEST_F(CompiledPanel, AnyOtherFileIsRefusedWithWhereItDiffersAndHowToChangeThePanel)
{
    const std::string shipped = shippedBytes();
    ASSERT_FALSE(shipped.empty());
    // The channels control's id, 6, made 16.
    const std::size_t channels = shipped.find("name=\"channels\"");
    const std::size_t id = shipped.find("<number>6</number>", channels);
    ASSERT_NE(id, std::string::npos);
    std::string changedId = shipped;
    changedId.replace(id, 18, "<number>16</number>");
    const std::size_t middle = shipped.find('\n', shipped.size() / 2) + 5;

    struct Case {
        const char* what;
        std::string bytes;
        int line;
    };
    const Case cases[] = {
        {"a control id changed", changedId, lineAt(shipped, id)},
        {"cut off in the middle", shipped.substr(0, middle), lineAt(shipped, middle)},
        {"a comment added at the end", shipped + "<!-- moved -->\n",
         lineAt(shipped, shipped.size())},
        {"another panel altogether", panelXml(1, controlXml("QSpinBox", "s", 6, "pic")), 2},
        {"empty", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = writeFile(dir, "tarvo.uir", c.bytes);
        StderrCapture err;
        const int handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
        const std::string text = err.text();
        EXPECT_LT(handle, 0);
        EXPECT_EQ(
            text.rfind("tarvo: " + path.toStdString() + ": this program's panel is compiled in", 0),
            0u)
            << text;
        EXPECT_NE(text.find("(they differ from line " + std::to_string(c.line) + " on)"),
                  std::string::npos)
            << text;
        EXPECT_NE(
            text.find("put back the tarvo.uir that came with the program, or, to change the "
                      "panel, rebuild the program with the changed file as resources/tarvo.uir"),
            std::string::npos)
            << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        EXPECT_EQ(widget("tarvoPanel"), nullptr) << "a refused file leaves no widget behind";
    }
}

TEST_F(CompiledPanel, TheLoadTimeChecksStillApply)
{
    {
        StderrCapture err;
        EXPECT_LT(LoadPanel(0, dir.filePath("nothing.uir").toLocal8Bit().constData(), 1), 0);
        EXPECT_NE(err.text().find("cannot open panel file"), std::string::npos);
    }
    {
        StderrCapture err;
        EXPECT_LT(LoadPanel(0, TARVO_PANEL_FILE, 2), 0);
        EXPECT_NE(err.text().find("no panel 2 (no widget with panelId 2)"), std::string::npos);
    }
    EXPECT_EQ(widget("tarvoPanel"), nullptr);
    const int handle = LoadPanel(0, TARVO_PANEL_FILE, 1);
    ASSERT_GT(handle, 0);
    {
        StderrCapture err;
        EXPECT_LT(LoadPanel(0, TARVO_PANEL_FILE, 1), 0);
        EXPECT_NE(err.text().find("a panel is already loaded"), std::string::npos);
    }
    EXPECT_EQ(DiscardPanel(handle), UIE_NO_ERROR);
}

}  // namespace
