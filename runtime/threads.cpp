// Delays and the default thread pool.
//
// Each scheduled function runs on a std::thread of its own: the program runs
// one sampling function per process, so a pool of reusable workers would buy
// nothing. Ids count up from 1 and are never reused within a process.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "runtime.h"

void Delay(double seconds)
{
    if (!(seconds > 0))
        return;  // also NaN
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 1e7)));
}

namespace {

// Result codes of the thread-pool calls.
constexpr int kBadArgument = -1;
constexpr int kUnknownId = -2;
constexpr int kNoThread = -3;

struct Job {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

struct Pool {
    std::mutex mutex;
    std::map<int, std::shared_ptr<Job>> jobs;
    int nextId = 1;
};

// Never destroyed: a function still running at exit must not find the pool
// gone, and a joinable std::thread destroyed at exit would terminate.
Pool& pool()
{
    static Pool* p = new Pool;
    return *p;
}

std::shared_ptr<Job> findJob(int id)
{
    auto& p = pool();
    std::lock_guard lock(p.mutex);
    auto it = p.jobs.find(id);
    return it == p.jobs.end() ? nullptr : it->second;
}

}  // namespace

int CmtScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr function, void* data, int* id)
{
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE || !function)
        return kBadArgument;
    auto job = std::make_shared<Job>();
    auto body = [job, function, data] {
        function(data);
        std::lock_guard lock(job->mutex);
        job->finished = true;
        job->done.notify_all();
    };
    auto& p = pool();
    std::lock_guard lock(p.mutex);
    try {
        job->thread = std::thread(body);
    } catch (const std::system_error&) {
        return kNoThread;
    }
    if (!id) {
        // Nobody can wait for a function without an id: it cleans up after itself.
        job->thread.detach();
        return 0;
    }
    *id = p.nextId++;
    p.jobs.emplace(*id, std::move(job));
    return 0;
}

namespace {

// Waits for function `id` to return, for at most `seconds` where given.
// Returns 1 when it has returned (at once for id 0, which nobody can wait
// for), 0 when the time ran out, or a negative code.
int waitForJob(int poolHandle, int id, std::optional<double> seconds)
{
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE)
        return kBadArgument;
    if (id == 0)
        return 1;
    auto job = findJob(id);
    if (!job)
        return kUnknownId;
    std::unique_lock lock(job->mutex);
    auto finished = [&] { return job->finished; };
    if (!seconds) {
        job->done.wait(lock, finished);
        return 1;
    }
    const double bounded = *seconds > 0 ? std::min(*seconds, 1e7) : 0.0;
    return job->done.wait_for(lock, std::chrono::duration<double>(bounded), finished) ? 1 : 0;
}

}  // namespace

int CmtWaitForThreadPoolFunctionCompletion(int poolHandle, int id, int /*options*/)
{
    return std::min(waitForJob(poolHandle, id, std::nullopt), 0);
}

int CmtWaitForThreadPoolFunctionTimed(int poolHandle, int id, double seconds)
{
    return waitForJob(poolHandle, id, seconds);
}

// Releasing a function that is still running waits for it to return, so its
// thread never outlives the id (it may use data its caller frees next). A
// function that releases its own id is detached instead: it cannot wait for
// itself.
int CmtReleaseThreadPoolFunctionID(int poolHandle, int id)
{
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE)
        return kBadArgument;
    if (id == 0)
        return 0;
    std::shared_ptr<Job> job;
    {
        auto& p = pool();
        std::lock_guard lock(p.mutex);
        auto it = p.jobs.find(id);
        if (it == p.jobs.end())
            return kUnknownId;
        job = std::move(it->second);
        p.jobs.erase(it);
    }
    if (job->thread.get_id() == std::this_thread::get_id())
        job->thread.detach();
    else
        job->thread.join();
    return 0;
}
