// The real tarvo and the settings its window keeps between runs: a script run
// neither reads nor writes them, and whatever the file holds, the window
// starts (what it cannot use is said on stderr and left out).
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "recorder.h"

namespace fs = std::filesystem;

namespace {

// The digest the window keeps of the panel file beside tarvo: the first 16
// hex digits of its SHA-256.
std::string panelDigest()
{
    const std::string cmd = "sha256sum '" + binpath("tarvo.uir") + "'";
    char buf[128] = {};
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    pclose(p);
    return n >= 16 ? std::string(buf, 16) : std::string();
}

std::string keptFile(const Recording& r) { return r.configHome() + "/tarvo/window.conf"; }

void keep(const Recording& r, const std::string& text)
{
    fs::create_directories(r.configHome() + "/tarvo");
    std::ofstream(keptFile(r), std::ios::binary) << text;
}

}  // namespace

TEST(BetweenRuns, AScriptRunNeitherReadsNorWritesTheKeptSettings)
{
    const std::string digest = panelDigest();
    ASSERT_EQ(digest.size(), 16u);
    struct Case {
        const char* name;
        std::optional<std::string> kept;
    };
    const Case cases[] = {
        {"settings kept with this panel file", "panel " + digest + "\n6 3\n10 5000\n13 0\n"},
        {"nothing kept", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording r;
        if (c.kept)
            keep(r, *c.kept);
        // The panel file's values: six channels, 2000 us, integer columns.
        ProcResult p = r.run("press start\nwait 1\npress stop\n");
        EXPECT_EQ(p.status, 0) << p.err;
        const std::string config = r.config();
        for (const char* line : {"Colums of int...", "Number of Analogical channels:  6",
                                 "with a sample period of [us]:  2000"})
            EXPECT_NE(config.find(line), std::string::npos) << line << " in\n" << config;
        EXPECT_EQ(p.err.find("settings"), std::string::npos) << p.err;
        if (c.kept)
            EXPECT_EQ(readfile(keptFile(r)), *c.kept);
        else
            EXPECT_FALSE(fs::exists(r.configHome() + "/tarvo"));
    }
}

TEST(BetweenRuns, TheWindowStartsWhateverTheKeptSettingsHold)
{
    const std::string digest = panelDigest();
    ASSERT_EQ(digest.size(), 16u);
    struct Case {
        const char* name;
        std::string kept;
        const char* said;  // on stderr
    };
    const Case cases[] = {
        {"a value out of range", "panel " + digest + "\n6 12\n10 3000\n",
         "tarvo: Left out of the last run's settings: analog channels 12 (takes 1 to 8, not 12)"},
        {"a number too large", "panel " + digest + "\n10 99999999999\n",
         "window.conf:2: not a value: '99999999999'"},
        {"binary junk", std::string("\x00\xff\xfe junk\n", 9), "not a text file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recording r;
        keep(r, c.kept);
        fs::create_directories(r.work());
        const std::string err = r.dir.file("stderr.txt");
        Proc tarvo({binpath("tarvo"), "-platform", "offscreen", "--com", "1=virtual"}, r.work(),
                   ProcStreams{-1, -1, err, r.configHome()});
        EXPECT_TRUE(waitUntil([&] { return readfile(err).find(c.said) != std::string::npos; }, 30))
            << readfile(err);
        // The window is up and waits for its user; a signal ends it as Quit would.
        EXPECT_FALSE(tarvo.exited());
        tarvo.signal(SIGTERM);
        const ProcResult p = tarvo.wait(30);
        EXPECT_EQ(p.status, 0) << p.err;
        EXPECT_EQ(readfile(keptFile(r)), c.kept);  // nothing rewritten without a run
    }
}
