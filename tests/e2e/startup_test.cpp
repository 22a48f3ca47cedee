// Starting the real tarvo: what a user sees when the command line, the panel
// file or the script is wrong, and a clean end when all is right.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "proc.h"
#include "pty.h"

namespace fs = std::filesystem;

namespace {

// A copy of tarvo in a directory of its own, with whatever panel file the
// test puts beside it.
struct Installed {
    TempDir dir;
    std::string exe = dir.file("tarvo");
    Installed() { fs::copy_file(binpath("tarvo"), exe); }
    void panel(const std::string& text) { std::ofstream(dir.file("tarvo.uir")) << text; }
    ProcResult run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {exe, "-platform", "offscreen"});
        return Proc(args, dir.path()).wait(30);
    }
};

std::string script(const TempDir& dir, const std::string& text)
{
    std::ofstream(dir.file("script.txt")) << text;
    return dir.file("script.txt");
}

size_t linecount(const std::string& s) { return std::count(s.begin(), s.end(), '\n'); }

}  // namespace

TEST(Startup, QuitAtOnceEndsWithStatus0)
{
    Installed t;
    fs::copy_file(binpath("tarvo.uir"), t.dir.file("tarvo.uir"));
    ProcResult r = t.run({"--script", script(t.dir, "# nothing but quit\npress quit\n")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

TEST(Startup, AMissingOrBrokenPanelFileEndsWith255AndSaysWhy)
{
    Installed t;
    const std::string quit = script(t.dir, "press quit\n");
    ProcResult missing = t.run({"--script", quit});
    EXPECT_EQ(missing.status, 255);
    EXPECT_EQ(linecount(missing.err), 1u) << missing.err;
    EXPECT_NE(missing.err.find("tarvo.uir"), std::string::npos) << missing.err;

    t.panel("<ui version=\"4.0\"><widget class=\"QWidget\"");  // cut short
    ProcResult broken = t.run({"--script", quit});
    EXPECT_EQ(broken.status, 255);
    EXPECT_EQ(linecount(broken.err), 1u) << broken.err;

    t.panel(
        "<?xml version=\"1.0\"?><ui version=\"4.0\"><class>x</class>"
        "<widget class=\"QWidget\" name=\"x\"/></ui>");  // no panel 1 in it
    ProcResult nopanel = t.run({"--script", quit});
    EXPECT_EQ(nopanel.status, 255);
    EXPECT_EQ(linecount(nopanel.err), 1u) << nopanel.err;
}

TEST(Startup, AnUnknownOptionEndsWith255)
{
    Installed t;
    fs::copy_file(binpath("tarvo.uir"), t.dir.file("tarvo.uir"));
    for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"},
                                          {"--com", "0=virtual"},
                                          {"--com", "1"},
                                          {"--script"}}) {
        ProcResult r = t.run(args);
        EXPECT_EQ(r.status, 255) << args[0];
        EXPECT_EQ(linecount(r.err), 1u) << r.err;
    }
}

TEST(Startup, ABadScriptEndsWith2AndNamesTheLine)
{
    Installed t;
    fs::copy_file(binpath("tarvo.uir"), t.dir.file("tarvo.uir"));
    ProcResult syntax = t.run({"--script", script(t.dir, "set 6 4\n\npress start\njump\n")});
    EXPECT_EQ(syntax.status, 2);
    EXPECT_NE(syntax.err.find("script.txt:4"), std::string::npos) << syntax.err;

    // Well formed, but not for this panel: control 77 does not exist.
    ProcResult control = t.run({"--script", script(t.dir, "wait 0\nset 77 1\n")});
    EXPECT_EQ(control.status, 2);
    EXPECT_NE(control.err.find("script.txt:2"), std::string::npos) << control.err;

    ProcResult range = t.run({"--script", script(t.dir, "set 6 9\n")});  // 8 channels at most
    EXPECT_EQ(range.status, 2);
    EXPECT_NE(range.err.find("script.txt:1"), std::string::npos) << range.err;

    ProcResult none = t.run({"--script", t.dir.file("no-such-script")});
    EXPECT_EQ(none.status, 2);
    EXPECT_FALSE(fs::exists(t.dir.file("data.txt")));
}

TEST(Startup, HelpAndVersion)
{
    ProcResult help = Proc({binpath("tarvo"), "--help"}).wait(30);
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"--com", "--script", "-platform", "set", "press", "wait"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    ProcResult version = Proc({binpath("tarvo"), "--version"}).wait(30);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tarvo ", 0), 0u);
}
