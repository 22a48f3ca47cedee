// The panel calls of the build without a window (the Windows core): values
// kept per control, the message line echoed, quitting from another thread,
// the command line.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "com_table.h"
#include "panel_internal.h"
#include "runtime.h"

namespace {

constexpr int kPanel = 1;

class Headless : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(LoadPanel(0, "tarvo.uir", kPanel), kPanel); }
    void TearDown() override
    {
        DiscardPanel(kPanel);
        tarvo::rt::setMessageEchoStream(stdout);
    }
};

// What the message line echoed while `fn` ran.
template <typename Fn>
std::string echoed(Fn fn)
{
    std::FILE* f = std::tmpfile();
    tarvo::rt::setMessageEchoStream(f);
    fn();
    tarvo::rt::setMessageEchoStream(stdout);
    std::string out;
    std::rewind(f);
    for (int ch; (ch = std::fgetc(f)) != EOF;)
        out += static_cast<char>(ch);
    std::fclose(f);
    return out;
}

}  // namespace

TEST_F(Headless, AValueSetIsTheValueReadInEitherType)
{
    ASSERT_EQ(SetCtrlVal(kPanel, 10, 2000u), 0);
    unsigned period = 0;
    ASSERT_EQ(GetCtrlVal(kPanel, 10, &period), 0);
    EXPECT_EQ(period, 2000u);

    // A period above 2^31-1 us keeps its 32 bits through either overload.
    ASSERT_EQ(SetCtrlVal(kPanel, 10, 4000000000u), 0);
    ASSERT_EQ(GetCtrlVal(kPanel, 10, &period), 0);
    EXPECT_EQ(period, 4000000000u);
    int asInt = 0;
    ASSERT_EQ(GetCtrlVal(kPanel, 10, &asInt), 0);
    EXPECT_EQ(static_cast<unsigned>(asInt), 4000000000u);

    ASSERT_EQ(SetCtrlVal(kPanel, 6, -3), 0);
    ASSERT_EQ(GetCtrlVal(kPanel, 6, &asInt), 0);
    EXPECT_EQ(asInt, -3);
}

TEST_F(Headless, BadPanelsControlsAndTypesAreReportedAndChangeNothing)
{
    unsigned v = 77;
    EXPECT_EQ(GetCtrlVal(kPanel, 42, &v), UIE_BAD_CONTROL);  // never set
    EXPECT_EQ(v, 77u);
    EXPECT_EQ(SetCtrlVal(kPanel + 1, 2, 1), UIE_BAD_PANEL);
    EXPECT_EQ(GetCtrlVal(kPanel + 1, 2, &v), UIE_BAD_PANEL);
    EXPECT_EQ(SetCtrlVal(kPanel, 0, 1), UIE_BAD_CONTROL);

    ASSERT_EQ(SetCtrlVal(kPanel, 7, "text"), 0);
    EXPECT_EQ(GetCtrlVal(kPanel, 7, &v), UIE_BAD_TYPE);
    EXPECT_EQ(SetCtrlVal(kPanel, 7, 5), UIE_BAD_TYPE);
    ASSERT_EQ(SetCtrlVal(kPanel, 2, 3), 0);
    EXPECT_EQ(SetCtrlVal(kPanel, 2, "three"), UIE_BAD_TYPE);
    ASSERT_EQ(GetCtrlVal(kPanel, 2, &v), 0);
    EXPECT_EQ(v, 3u);

    // A discarded panel takes its values with it.
    ASSERT_EQ(DiscardPanel(kPanel), 0);
    EXPECT_EQ(GetCtrlVal(kPanel, 2, &v), UIE_BAD_PANEL);
    ASSERT_EQ(LoadPanel(0, "tarvo.uir", kPanel), kPanel);
    EXPECT_EQ(GetCtrlVal(kPanel, 2, &v), UIE_BAD_CONTROL);
}

TEST_F(Headless, EveryNewTextIsEchoedOnce)
{
    const std::string out = echoed([] {
        SetCtrlVal(kPanel, 7, "Sampling...");
        SetCtrlVal(kPanel, 7, "Sampling...");  // the same text: no new line
        SetCtrlVal(kPanel, 7, " WARNING: data loss...Sampling continue!");
        SetCtrlVal(kPanel, 7, static_cast<const char*>(nullptr));
        SetCtrlVal(kPanel, 2, 5);  // numbers are not echoed
    });
    EXPECT_EQ(out,
              "message: Sampling...\n"
              "message:  WARNING: data loss...Sampling continue!\n"
              "message: \n");
}

TEST_F(Headless, TextsSetFromManyThreadsAreEachEchoedWhole)
{
    // The sampling thread sets the message line while the main thread does.
    const std::string out = echoed([] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < 200; ++i)
                    SetCtrlVal(
                        kPanel, 7,
                        ("thread " + std::to_string(t) + " text " + std::to_string(i)).c_str());
            });
        for (auto& th : threads)
            th.join();
    });
    std::istringstream in(out);
    int count = 0;
    for (std::string line; std::getline(in, line); ++count)
        ASSERT_EQ(line.rfind("message: thread ", 0), 0u) << line;
    EXPECT_EQ(count, 800);  // every text differs from the one before it
}

TEST_F(Headless, RunUserInterfaceReturnsWhenAnotherThreadQuits)
{
    auto loop = std::async(std::launch::async, [] { return RunUserInterface(); });
    EXPECT_EQ(loop.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    ASSERT_EQ(QuitUserInterface(7), 0);
    ASSERT_EQ(loop.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(loop.get(), 7);
}

TEST(HeadlessStart, TheCommandLineSetsPortsAndRefusesWhatNeedsAWindow)
{
    char arg0[] = "tarvo", com[] = "--com", entry[] = "4=COM9", platform[] = "-platform",
         offscreen[] = "offscreen";
    char* good[] = {arg0, com, entry, platform, offscreen, nullptr};
    ASSERT_EQ(InitRunTime(nullptr, good, nullptr), 1);
    EXPECT_EQ(tarvo::rt::comDevice(4), "COM9");

    char script[] = "--script", file[] = "run.txt";
    char* unattended[] = {arg0, script, file, nullptr};
    EXPECT_EQ(InitRunTime(nullptr, unattended, nullptr), 0);

    char bad[] = "--bogus";
    char* unknown[] = {arg0, bad, nullptr};
    EXPECT_EQ(InitRunTime(nullptr, unknown, nullptr), 0);
    tarvo::rt::clearComDevices();
}
