// A button with a `launch` property starts that program, found beside this
// one, on the current folder; one that is missing is said, not a silent no.
#include "support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

std::string button(const std::string& name, const std::string& program)
{
    return "   <item><widget class=\"QPushButton\" name=\"" + name +
           "\"><property name=\"launch\" stdset=\"0\"><string>" + program +
           "</string></property></widget></item>\n";
}

}  // namespace

TEST(Launch, AButtonStartsItsProgramBesideThisOneOnTheCurrentFolder)
{
    ASSERT_EQ(initRunTime(), 1);
    QTemporaryDir dir, work;
    // A stand-in for the viewer: it writes down the folder it was given.
    const std::string program =
        QDir(QCoreApplication::applicationDirPath()).filePath("tarvo-launch-probe").toStdString();
    {
        std::ofstream(program) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$1/launched.txt\"\n";
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    const QString path = writeFile(dir, "launch.uir",
                                   panelXml(1, button("probe", "tarvo-launch-probe") +
                                                   button("missing", "tarvo-no-such-program")));
    const int handle = LoadPanel(0, path.toLocal8Bit().constData(), 1);
    ASSERT_GT(handle, 0);
    const QString here = QDir::currentPath();
    QDir::setCurrent(work.path());

    StderrCapture err;
    QTimer::singleShot(0, [] {
        QTest::mouseClick(widget("probe"), Qt::LeftButton);
        QTest::mouseClick(widget("missing"), Qt::LeftButton);
        QuitUserInterface(0);
    });
    EXPECT_EQ(runGuarded(), 0);
    const std::string said = err.text();
    const QString marker = work.filePath("launched.txt");
    for (int i = 0; i < 500 && !QFile::exists(marker); ++i)
        QTest::qWait(10);
    QFile f(marker);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "the program was not started";
    EXPECT_EQ(f.readAll().toStdString(), work.path().toStdString());
    EXPECT_NE(said.find("tarvo-no-such-program cannot be started: '"), std::string::npos) << said;
    EXPECT_NE(said.find("tarvo-no-such-program' is missing"), std::string::npos) << said;

    QDir::setCurrent(here);
    std::filesystem::remove(program);
    DiscardPanel(handle);
}
