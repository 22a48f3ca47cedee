// The unattended script: every action with its line, every mistake with its
// line number and reason.
#include "options.h"

#include <gtest/gtest.h>

#include "line_cases.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

using namespace tarvo::rt;

namespace {

// The buttons the program's scripts press, as tarvo hands them down.
ProgramTerms tarvoTerms() { return {{"start", "stop", "quit"}, ""}; }

class ProgramTermsEnvironment : public ::testing::Environment {
public:
    void SetUp() override { setProgramTerms(tarvoTerms()); }
};

const auto* const kTermsEnvironment =
    ::testing::AddGlobalTestEnvironment(new ProgramTermsEnvironment);

}  // namespace

TEST(Script, ActionsWithCommentsBlankLinesAndCrLf)
{
    const ScriptResult r = parseScript(
        "# settings\n"
        "set 6 3\n"
        "\n"
        "  set\t10   4294967295  # the longest period\r\n"
        "set 2 -2147483648\n"
        "wait 0.25\n"
        "wait 3\n"
        "wait .5\n"
        "press start#no blank needed\n"
        "   # indented comment\n"
        "press stop\n"
        "press quit");
    ASSERT_TRUE(r.ok) << r.errorLine << ": " << r.error;
    ASSERT_EQ(r.actions.size(), 9u);
    EXPECT_EQ(r.actions[0].verb, ScriptVerb::Set);
    EXPECT_EQ(r.actions[0].line, 2);
    EXPECT_EQ(r.actions[0].control, 6);
    EXPECT_EQ(r.actions[0].value, 3);
    EXPECT_EQ(r.actions[1].line, 4);
    EXPECT_EQ(r.actions[1].control, 10);
    EXPECT_EQ(r.actions[1].value, 4294967295LL);
    EXPECT_EQ(r.actions[2].value, INT_MIN);
    EXPECT_EQ(r.actions[3].verb, ScriptVerb::Wait);
    EXPECT_DOUBLE_EQ(r.actions[3].seconds, 0.25);
    EXPECT_DOUBLE_EQ(r.actions[4].seconds, 3.0);
    EXPECT_DOUBLE_EQ(r.actions[5].seconds, 0.5);
    EXPECT_EQ(r.actions[6].verb, ScriptVerb::Press);
    EXPECT_EQ(r.actions[6].callback, "start");
    EXPECT_EQ(r.actions[6].line, 9);
    EXPECT_EQ(r.actions[7].callback, "stop");
    EXPECT_EQ(r.actions[8].callback, "quit");
    EXPECT_EQ(r.actions[8].line, 12);
}

TEST(Script, EmptyAndCommentOnlyScriptsHaveNoActions)
{
    for (const char* text : {"", "\n\n", "# nothing\n   \n\t# more\n"}) {
        const ScriptResult r = parseScript(text);
        EXPECT_TRUE(r.ok) << text;
        EXPECT_TRUE(r.actions.empty());
    }
}

TEST(Script, EachMistakeIsReportedWithItsLine)
{
    expectEachRefusedOnLine3(
        {
            {"jump 3", "unknown action 'jump'"},
            {"SET 6 3", "unknown action 'SET'"},
            {"set", "set needs a control id and a value"},
            {"set 6", "set needs a control id and a value"},
            {"set x 3", "bad control id 'x'"},
            {"set 0 3", "bad control id '0'"},
            {"set -6 3", "bad control id '-6'"},
            {"set 2147483648 3", "bad control id"},
            {"set 6 4294967296", "bad value '4294967296'"},
            {"set 6 -2147483649", "bad value '-2147483649'"},
            {"set 6 1.5", "bad value '1.5'"},
            {"set 6 +1", "bad value '+1'"},
            {"set 6 0x10", "bad value '0x10'"},
            {"set 6 99999999999999999999999", "bad value"},
            {"set 6 3 4", "unexpected '4' after the action"},
            {"press", "press needs a button"},
            {"press go", "expected start, stop or quit, got 'go'"},
            {"press Start", "got 'Start'"},
            {"press quit now", "unexpected 'now'"},
            {"wait", "wait needs a number of seconds"},
            {"wait -1", "bad number of seconds '-1'"},
            {"wait 1e3", "bad number of seconds '1e3'"},
            {"wait inf", "bad number of seconds 'inf'"},
            {"wait nan", "bad number of seconds"},
            {"wait .", "bad number of seconds '.'"},
            {"wait 1.2.3", "bad number of seconds"},
            {"wait 3000000", "at most 2000000 seconds"},
            {"wait 1 2", "unexpected '2'"},
        },
        "set 6 3\n# fine so far\n", [](const std::string& lines) {
            // Nothing of a script with a mistake is kept, whatever follows it.
            const ScriptResult r = parseScript(lines + "press quit\n");
            EXPECT_FALSE(r.ok) << lines;
            EXPECT_TRUE(r.actions.empty()) << lines;
            return std::pair(r.errorLine, r.error);
        });
}

TEST(Script, TheFirstBadLineIsReported)
{
    const ScriptResult r = parseScript("wait 1\r\nwait 2\r\npress go\r\nset\r\n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorLine, 3);
}

TEST(Script, ControlBytesAreShownEscaped)
{
    const ScriptResult r = parseScript(std::string("set 6 3\nse\0t 6 3\n", 18));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorLine, 2);
    EXPECT_NE(r.error.find("'se\\x00t'"), std::string::npos) << r.error;
}

TEST(Script, AnOversizedScriptIsRefusedWhole)
{
    std::string big;
    while (big.size() <= kMaxScriptBytes)
        big += "wait 0\n";
    const ScriptResult r = parseScript(big);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorLine, 0);
    EXPECT_NE(r.error.find("too large"), std::string::npos);
}

TEST(Script, FilesAreReadOrRefusedWithTheReason)
{
    // A fresh directory on every system (mkdtemp is POSIX only).
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("tarvo-script-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(std::filesystem::create_directory(dir));
    const auto good = dir / "good.txt";
    std::ofstream(good) << "set 6 2\nwait 0.1\npress quit\n";
    const ScriptResult r = loadScript(good.string());
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.actions.size(), 3u);

    const ScriptResult missing = loadScript((dir / "missing.txt").string());
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.errorLine, 0);
    EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;

    const ScriptResult directory = loadScript(dir.string());
    EXPECT_FALSE(directory.ok);
    EXPECT_EQ(directory.errorLine, 0);

#ifndef _WIN32
    // A device that never ends is cut at the size limit, not read forever.
    const ScriptResult zero = loadScript("/dev/zero");
    EXPECT_FALSE(zero.ok);
#endif
    std::filesystem::remove_all(dir);
}

TEST(Script, AByteOrderMarkAtTheStartIsAcceptedAndNowhereElse)
{
    const ScriptResult marked = parseScript("\xEF\xBB\xBFset 6 3\npress start\n");
    ASSERT_TRUE(marked.ok) << marked.error;
    ASSERT_EQ(marked.actions.size(), 2u);
    EXPECT_EQ(marked.actions[0].control, 6);
    EXPECT_EQ(marked.actions[0].value, 3);
    EXPECT_EQ(marked.actions[1].line, 2);

    const ScriptResult second = parseScript("set 6 3\n\xEF\xBB\xBFpress start\n");
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.errorLine, 2);
    EXPECT_NE(second.error.find("'\xEF\xBB\xBFpress'"), std::string::npos) << second.error;
}

TEST(Script, TheButtonsAndControlIdsAreTheProgramsOwn)
{
    setProgramTerms({{"go", "halt"}, "Control ids: 1 speed.\n\n"});
    const ScriptResult ok = parseScript("press go\npress halt\n");
    const ScriptResult other = parseScript("press start\n");
    const ScriptResult none = parseScript("press\n");
    const std::string usage = usageText();
    setProgramTerms(tarvoTerms());

    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.actions[1].callback, "halt");
    EXPECT_EQ(other.error, "press: expected go or halt, got 'start'");
    EXPECT_EQ(none.error, "press needs a button: press go|halt");
    // In the column of the lines around it.
    EXPECT_NE(usage.find("\n                     press go|halt          press that button\n"
                         "                     wait SECONDS           let"),
              std::string::npos)
        << usage;
    EXPECT_NE(usage.find("-nograb, ...\n\nControl ids: 1 speed.\n\nA script may"),
              std::string::npos);
    EXPECT_EQ(usage.find("start|stop|quit"), std::string::npos);
    EXPECT_EQ(parseScript("press go\n").error, "press: expected start, stop or quit, got 'go'");
}
