// Closing the window during a run, as a user does: the real panel and the
// program's callbacks on the virtual board, in this process.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include <filesystem>

#include "../panel/window_user.h"
#include "../support/config_home.h"
#include "pty.h"
#include "runtime.h"
#include "state.h"

TEST(CloseWindow, DuringARunLeavesACompleteDataFile)
{
    static char a0[] = "tarvo", a1[] = "-platform", a2[] = "offscreen", a3[] = "--com",
                a4[] = "1=virtual";
    static char* argv[] = {a0, a1, a2, a3, a4, nullptr};
    usePrivateConfigHome();
    ASSERT_EQ(InitRunTime(0, argv, 0), 1);
    int panel = LoadPanel(0, "tarvo.uir", 1);
    ASSERT_GT(panel, 0);
    DisplayPanel(panel);

    TempDir dir;
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());

    QPushButton* start = buttonFor("start");
    ASSERT_NE(start, nullptr);
    QTimer::singleShot(0, start, [start] { start->click(); });
    QTimer::singleShot(2500, [start] { start->window()->close(); });
    // Closing the window during a run asks first: quit without the report.
    QuitWithoutTheReport answer;
    RunUserInterface();
    // As the program does after its loop: wait for the sampler, then release it.
    CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, functionId, 0);
    CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, functionId);
    std::filesystem::current_path(here);

    EXPECT_NE(functionId, 0);  // a run was started
    EXPECT_EQ(fout, nullptr);  // and its data file closed
    const std::string data = readfile(dir.file("data.txt"));
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.back(), '\n');
    // Every record, in order: the counter column runs 1, 2, ..., 15, 0, ...
    size_t lines = 0, at = 0;
    while (at < data.size()) {
        size_t nl = data.find('\n', at);
        std::string line = data.substr(at, nl - at);
        ASSERT_EQ(line.substr(line.rfind(',') + 1), std::to_string(++lines % 16)) << lines;
        at = nl + 1;
    }
    EXPECT_GT(lines, 300u);  // about 750 at 2000 us
    EXPECT_EQ(lines, tot_data.load());
    EXPECT_FALSE(std::filesystem::exists(dir.file("config.txt")));
    DiscardPanel(panel);
}
