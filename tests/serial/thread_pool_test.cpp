// Delays and the default thread pool, as Start, Stop and main use them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "pty_pair.h"
#include "runtime.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Task {
    std::atomic<bool> release{false};
    std::atomic<bool> returned{false};
    std::thread::id thread;
};

// Stands in for the sampling function: runs until told to stop.
int runUntilReleased(void* data)
{
    auto* run = static_cast<Task*>(data);
    run->thread = std::this_thread::get_id();
    while (!run->release)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    run->returned = true;
    return 0;
}

int sleepThenReturn(void* data)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    static_cast<Task*>(data)->returned = true;
    return 0;
}

}  // namespace

TEST(ThreadPool, AScheduledFunctionRunsOnItsOwnThreadUntilItReturns)
{
    Task run;
    int id = 0;
    ASSERT_EQ(
        CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, runUntilReleased, &run, &id), 0);
    EXPECT_GT(id, 0);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, id, 0.05), 0);
    EXPECT_FALSE(run.returned);

    run.release = true;
    EXPECT_EQ(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, id, 5.0), 1);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id, 0), 0);
    EXPECT_TRUE(run.returned);
    EXPECT_NE(run.thread, std::this_thread::get_id());
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), 0);
    // A released id is forgotten.
    EXPECT_LT(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), 0);
}

TEST(ThreadPool, EveryScheduleGetsAnIdOfItsOwn)
{
    Task a, b;
    a.release = b.release = true;
    int idA = 0, idB = 0;
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, runUntilReleased, &a, &idA),
              0);
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, runUntilReleased, &b, &idB),
              0);
    EXPECT_GT(idA, 0);
    EXPECT_GT(idB, idA);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, idA, 0), 0);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, idB, 0), 0);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, idA), 0);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, idB), 0);
}

TEST(ThreadPool, ReleasingARunningFunctionWaitsForItToReturn)
{
    Task run;
    int id = 0;
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, sleepThenReturn, &run, &id),
              0);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), 0);
    // `run` goes out of scope next: the function must be done with it.
    EXPECT_TRUE(run.returned);
}

TEST(ThreadPool, SeveralThreadsCanWaitForTheSameFunction)
{
    Task run;
    int id = 0;
    ASSERT_EQ(
        CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, runUntilReleased, &run, &id), 0);
    auto waiter = std::async(std::launch::async, [id] {
        return CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.release = true;
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id, 0), 0);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), 0);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), 0);
}

TEST(ThreadPool, IdZeroAndUnknownIdsReturnAtOnce)
{
    // main waits for and releases the sampling function's id even when Start
    // never ran and the id is still 0.
    const auto start = Clock::now();
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, 0, 0), 0);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, 0, 10.0), 1);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, 0), 0);
    EXPECT_LT(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, 123456, 0), 0);
    EXPECT_LT(CmtWaitForThreadPoolFunctionTimed(DEFAULT_THREAD_POOL_HANDLE, 123456, 10.0), 0);
    EXPECT_LT(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, 123456), 0);
    EXPECT_LT(since(start), 2.0);

    int id = 0;
    EXPECT_LT(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, nullptr, nullptr, &id), 0);
    EXPECT_LT(CmtScheduleThreadPoolFunction(5, sleepThenReturn, nullptr, &id), 0);
    EXPECT_EQ(id, 0);
}

TEST(ThreadPool, TheWaitsRefuseAnotherPoolsHandleBeforeLookingAtTheId)
{
    // Id 0 is done at once only in the default pool; no other pool exists.
    EXPECT_LT(CmtWaitForThreadPoolFunctionCompletion(5, 0, 0), 0);
    EXPECT_LT(CmtWaitForThreadPoolFunctionTimed(5, 0, 10.0), 0);
    EXPECT_LT(CmtWaitForThreadPoolFunctionCompletion(5, 123456, 0), 0);
    EXPECT_LT(CmtWaitForThreadPoolFunctionTimed(5, 123456, 10.0), 0);
}

TEST(Delays, DelayBlocksTheCallerForAtLeastItsTime)
{
    auto start = Clock::now();
    Delay(0.25);
    EXPECT_GE(since(start), 0.25);
    EXPECT_LT(since(start), 2.0);
    start = Clock::now();
    Delay(0.0);
    Delay(-1.0);
    EXPECT_LT(since(start), 1.0);
}
