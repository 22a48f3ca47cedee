// The command line: what the run-time layer takes for itself, what it hands
// to Qt, and what it refuses (with a reason on one line).
#include "options.h"

#include <gtest/gtest.h>

using namespace tarvo::rt;

namespace {

OptionsResult parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "tarvo");
    return parseOptions(args);
}

void expectRefused(std::vector<std::string> args, const std::string& fragment)
{
    const OptionsResult r = parse(args);
    std::string all;
    for (const auto& a : args)
        all += a + ' ';
    EXPECT_FALSE(r.ok) << all;
    EXPECT_NE(r.error.find(fragment), std::string::npos) << all << "-> " << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
}

}  // namespace

TEST(CommandLine, ComEntriesKeepTheirOrderInBothSpellings)
{
    const OptionsResult r =
        parse({"--com", "3=/dev/pts/7", "--com=99=virtual", "--com", "12=/dev/serial/by-id/a=b"});
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.options.com.size(), 3u);
    EXPECT_EQ(r.options.com[0].port, 3);
    EXPECT_EQ(r.options.com[0].device, "/dev/pts/7");
    EXPECT_EQ(r.options.com[1].port, 99);
    EXPECT_EQ(r.options.com[1].device, "virtual");
    // Only the first '=' separates: a device path may contain one.
    EXPECT_EQ(r.options.com[2].device, "/dev/serial/by-id/a=b");
    EXPECT_EQ(r.options.qtArgs, std::vector<std::string>{"tarvo"});
}

TEST(CommandLine, PortNumbersFromOneTo999)
{
    EXPECT_TRUE(parse({"--com", "1=/dev/ttyS0"}).ok);
    EXPECT_TRUE(parse({"--com", "999=virtual"}).ok);
    expectRefused({"--com", "0=virtual"}, "'0=virtual'");
    expectRefused({"--com", "1000=virtual"}, "1 to 999");
    expectRefused({"--com", "-1=virtual"}, "N=DEVICE");
    expectRefused({"--com", "+3=virtual"}, "N=DEVICE");
    expectRefused({"--com", " 3=virtual"}, "N=DEVICE");
    expectRefused({"--com", "x=virtual"}, "N=DEVICE");
    expectRefused({"--com", "99999999999999999999=virtual"}, "N=DEVICE");
}

TEST(CommandLine, ComEntryNeedsANumberAndADevice)
{
    expectRefused({"--com"}, "--com needs N=DEVICE");
    expectRefused({"--com", "3"}, "'3'");
    expectRefused({"--com", "3="}, "'3='");
    expectRefused({"--com", "=/dev/ttyS0"}, "N=DEVICE");
    expectRefused({"--com="}, "N=DEVICE");
    expectRefused({"--com", "3=virtual", "--com=3=/dev/ttyS0"}, "port 3 given twice");
}

TEST(CommandLine, ScriptInBothSpellingsOnce)
{
    EXPECT_EQ(parse({"--script", "run.txt"}).options.scriptFile, "run.txt");
    EXPECT_EQ(parse({"--script=dir/run.txt"}).options.scriptFile, "dir/run.txt");
    expectRefused({"--script"}, "--script needs a FILE");
    expectRefused({"--script="}, "--script needs a FILE");
    expectRefused({"--script", "a", "--script", "b"}, "--script given twice");
}

TEST(CommandLine, QtOptionsPassThroughInOrder)
{
    const OptionsResult r = parse({"-platform", "offscreen", "--com", "5=virtual", "-style",
                                   "Fusion", "-reverse", "--nograb", "-style=Windows", "-geometry",
                                   "640x480+0+0", "-qwindowtitle", "x", "-widgetcount"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.platformGiven);
    EXPECT_EQ(r.options.qtArgs,
              (std::vector<std::string>{"tarvo", "-platform", "offscreen", "-style", "Fusion",
                                        "-reverse", "--nograb", "-style=Windows", "-geometry",
                                        "640x480+0+0", "-qwindowtitle", "x", "-widgetcount"}));
    EXPECT_EQ(r.options.com.size(), 1u);
    EXPECT_FALSE(parse({"-style", "Fusion"}).options.platformGiven);
    EXPECT_TRUE(parse({"--platform", "xcb"}).options.platformGiven);
}

TEST(CommandLine, QtOptionWithoutItsValueIsRefused)
{
    expectRefused({"-platform"}, "option -platform needs a value");
    expectRefused({"--com", "1=virtual", "-display"}, "-display needs a value");
}

TEST(CommandLine, UnknownOptionsAndArgumentsAreRefused)
{
    expectRefused({"--bogus"}, "unknown option '--bogus'");
    expectRefused({"-x"}, "unknown option '-x'");
    expectRefused({"--com", "1=virtual", "-platforms", "x"}, "'-platforms'");
    expectRefused({"data.txt"}, "unexpected argument 'data.txt'");
    expectRefused({""}, "unexpected argument ''");
    // A control character in the argument cannot break the message line.
    expectRefused({"--bo\ngus"}, "'--bo\\x0agus'");
}

TEST(CommandLine, HelpAndVersionWinOverWhatFollows)
{
    const OptionsResult h = parse({"--com", "3=virtual", "--help", "--bogus"});
    ASSERT_TRUE(h.ok);
    EXPECT_TRUE(h.options.help);
    EXPECT_TRUE(parse({"-h"}).options.help);
    const OptionsResult v = parse({"--version", "-x"});
    ASSERT_TRUE(v.ok);
    EXPECT_TRUE(v.options.version);
    // A mistake before --help is still a mistake.
    EXPECT_FALSE(parse({"--bogus", "--help"}).ok);
}

TEST(CommandLine, HelpExplainsEveryOption)
{
    const std::string u = usageText();
    for (const char* word : {"--com N=DEVICE", "--script FILE", "--help", "--version", "-platform",
                             "offscreen", "virtual", "set ID VALUE", "press start|stop|quit",
                             "wait SECONDS", "message: TEXT", "exit status 2"})
        EXPECT_NE(u.find(word), std::string::npos) << word;
}

TEST(CommandLine, QuotedTokensStayOnOneShortLine)
{
    EXPECT_EQ(quoteToken("abc"), "'abc'");
    EXPECT_EQ(quoteToken(std::string("a\0b", 3)), "'a\\x00b'");
    EXPECT_EQ(quoteToken("it's"), "'it\\x27s'");
    const std::string q = quoteToken(std::string(500, 'z'));
    EXPECT_LT(q.size(), 50u);
    EXPECT_EQ(q.substr(q.size() - 4), "...'");
}
