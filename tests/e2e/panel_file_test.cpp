// tarvo.uir is meant to be edited in Qt Designer: the real tarvo refuses an
// edited panel that offers a setting the program cannot take, or lacks one
// it reads, before anything is recorded, and says which control and which
// property in one line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>

#include "proc.h"
#include "pty.h"

namespace fs = std::filesystem;

namespace {

// `text` with the first `from` replaced by `to`; fails the test when absent.
std::string edited(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "the panel file has no " << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The element of the widget named `name`, whole.
std::string withoutWidget(const std::string& text, const std::string& cls, const std::string& name)
{
    const std::string open = "<widget class=\"" + cls + "\" name=\"" + name + "\">";
    const size_t at = text.find(open);
    EXPECT_NE(at, std::string::npos) << open;
    if (at == std::string::npos)
        return text;
    const size_t end = text.find("</widget>", at);
    return text.substr(0, at) + text.substr(end + 9);
}

// Runs the copy of tarvo in `dir` on the virtual board with the script, in
// `dir`; waits up to `seconds`.
ProcResult runCopy(const TempDir& dir, const std::string& script, double seconds)
{
    std::ofstream(dir.file("run.txt")) << script;
    return Proc({dir.file("tarvo"), "-platform", "offscreen", "--com", "1=virtual", "--script",
                 dir.file("run.txt")},
                dir.path())
        .wait(seconds);
}

const char kRun[] = "set 2 1\nset 6 6\nset 10 2000\npress start\nwait 1\npress stop\n";

}  // namespace

TEST(PanelFile, AnEditedPanelThatOffersWhatTheProgramCannotTakeIsRefused)
{
    const std::string original = readfile(binpath("tarvo.uir"));
    ASSERT_FALSE(original.empty());
    // Each case replaces the first `from` by `to`, after taking out the
    // widget `removed` (class and name) where one is named.
    struct Case {
        const char* name;
        std::pair<const char*, const char*> removed;
        std::string from, to;
        std::string reason;  // after "tarvo: PATH: "
    };
    const Case cases[] = {
        {"channels up to 200",
         {},
         "<property name=\"maximum\">\n             <number>8</number>",
         "<property name=\"maximum\">\n             <number>200</number>",
         "control 6 (channels, analog channels): maximum is 200; the program takes 1 to 8"},
        {"channels retyped as a line edit",
         {},
         "<widget class=\"QSpinBox\" name=\"channels\">",
         "<widget class=\"QLineEdit\" name=\"channels\">",
         "control 6 (channels, analog channels): class is QLineEdit; the program reads an "
         "integer from it (a check box, spin box, double spin box or combo box)"},
        // Designer removes its tab stop with it.
        {"status byte removed",
         {"QCheckBox", "statusByte"},
         "<tabstop>statusByte</tabstop>",
         "",
         "control 9 (status byte): no widget has ctrlId 9; the program reads an integer from it "
         "(a check box, spin box, double spin box or combo box)"},
        {"a baud rate above 12,000,000",
         {},
         "<string>115200</string>",
         "<string>20000000</string>",
         "control 8 (baudRate, baud rate): item '20000000' has value 20000000; the program takes "
         "1 to 12000000"},
        {"a third file format",
         {},
         "<string>Integer columns</string>\n             </property>\n            </item>",
         "<string>Integer columns</string>\n             </property>\n            </item>\n"
         "            <item><property name=\"text\"><string>Hexadecimal</string>"
         "</property></item>",
         "control 13 (fileFormat, file format): item 'Hexadecimal' has value 2; the program "
         "takes 0 to 1"},
        {"the message line as a spin box",
         {},
         "<widget class=\"QLineEdit\" name=\"message\">",
         "<widget class=\"QSpinBox\" name=\"message\">",
         "control 7 (message, message line): class is QSpinBox; the program sets a text in it "
         "(a line edit or a label)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        // tarvo finds tarvo.uir beside its executable.
        fs::copy_file(binpath("tarvo"), dir.file("tarvo"));
        const std::string panel = edited(
            c.removed.first ? withoutWidget(original, c.removed.first, c.removed.second) : original,
            c.from, c.to);
        ASSERT_NE(panel, original);
        std::ofstream(dir.file("tarvo.uir")) << panel;
        ProcResult r = runCopy(dir, kRun, 30);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "tarvo: " + dir.file("tarvo.uir") + ": " + c.reason + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(fs::exists(dir.file("data.txt")));
        EXPECT_FALSE(fs::exists(dir.file("config.txt")));
    }
}

TEST(PanelFile, TheShippedPanelLoadsAndItsBaudRateBoxTakesOnlyWhatThePortCan)
{
    TempDir dir;
    fs::copy_file(binpath("tarvo"), dir.file("tarvo"));
    fs::copy_file(binpath("tarvo.uir"), dir.file("tarvo.uir"));
    auto run = [&](const std::string& script) { return runCopy(dir, script, 60); };
    ProcResult good = run(kRun);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_FALSE(readfile(dir.file("data.txt")).empty());
    EXPECT_TRUE(fs::exists(dir.file("config.txt")));

    // The baud rate box is editable: a typed rate goes up to 12,000,000.
    ProcResult fastest = run("set 8 12000000\npress quit\n");
    EXPECT_EQ(fastest.status, 0) << fastest.err;
    ProcResult faster = run("set 8 12000001\npress quit\n");
    EXPECT_EQ(faster.status, 2);
    EXPECT_NE(
        faster.err.find("run.txt:1: set: control 8 ('baudRate') takes one of its items or 1 to "
                        "12000000, not 12000001"),
        std::string::npos)
        << faster.err;
}
