#include "live_feed.h"

#include "runtime.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace tarvo::rt {

void ChartFeed::begin(int channels, int digital, unsigned periodUs)
{
    channels = std::clamp(channels, 0, kChartChannels);
    std::lock_guard lock(mutex_);
    layout_.run += 1;
    layout_.channels = channels;
    layout_.digital = digital != 0;
    layout_.periodUs = periodUs;
    channels_.store(channels, std::memory_order_relaxed);
    run_.store(layout_.run, std::memory_order_relaxed);
}

int ChartFeed::record(unsigned index, const unsigned short* values, int status) noexcept
{
    const int skip = skip_.load(std::memory_order_relaxed);
    if (skip == kChartOff)
        return skip;
    ChartPoint p{};
    p.index = index;
    const int n = channels_.load(std::memory_order_relaxed);
    for (int i = 0; i < n; ++i)
        p.values[i] = values[i];
    p.status = static_cast<std::uint8_t>(status);
    p.run = static_cast<std::uint16_t>(run_.load(std::memory_order_relaxed));
    // Only this thread writes the two counters: a load and a store, no
    // locked instruction.
    offered_.store(offered_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (!ring_.push(p))
        dropped_.store(dropped_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    return skip;
}

ChartLayout ChartFeed::layout() const
{
    std::lock_guard lock(mutex_);
    return layout_;
}

void StatusFeed::begin(const std::atomic<unsigned>* records, const std::atomic<unsigned>* lost,
                       const char* fileName, unsigned periodUs)
{
    const std::string name = fileName ? fileName : "";
    std::string file = name;
    if (!file.empty()) {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(file, ec);
        if (!ec)
            file = absolute.string();
    }
    std::lock_guard lock(mutex_);
    records_ = records;
    lost_ = lost;
    name_ = name;
    file_ = std::move(file);
    begun_ = Clock::now();
    phase_ = StatusSample::Phase::Running;
    periodUs_ = periodUs;
    run_ += 1;
}

void StatusFeed::end()
{
    {
        std::lock_guard lock(mutex_);
        if (phase_ == StatusSample::Phase::Running) {
            ended_ = Clock::now();
            phase_ = StatusSample::Phase::Ended;
        }
    }
    tell();
}

void StatusFeed::listen(const void* owner, std::function<void()> listener)
{
    std::lock_guard lock(listenMutex_);
    listener_ = std::move(listener);
    listenerOwner_ = owner;
}

void StatusFeed::unlisten(const void* owner)
{
    std::lock_guard lock(listenMutex_);
    if (listenerOwner_ != owner)
        return;
    listener_ = nullptr;
    listenerOwner_ = nullptr;
}

void StatusFeed::tell()
{
    std::lock_guard lock(listenMutex_);
    if (listener_)
        listener_();
}

StatusSample StatusFeed::sample() const
{
    StatusSample s;
    std::string file;
    {
        std::lock_guard lock(mutex_);
        s.phase = phase_;
        s.run = run_;
        s.periodUs = periodUs_;
        if (phase_ == StatusSample::Phase::Idle)
            return s;
        if (records_)
            s.records = records_->load(std::memory_order_relaxed);
        if (lost_)
            s.lost = lost_->load(std::memory_order_relaxed);
        const auto until = phase_ == StatusSample::Phase::Ended ? ended_ : Clock::now();
        s.elapsed = std::chrono::duration<double>(until - begun_).count();
        file = file_;
        s.fileName = name_;
    }
    // What is on disk: the stream's buffer reaches it at least once a second.
    std::error_code ec;
    const auto size = file.empty() ? 0 : std::filesystem::file_size(file, ec);
    s.fileBytes = file.empty() || ec ? -1 : static_cast<std::int64_t>(size);
    return s;
}

void StatusFeed::note(std::string text)
{
    {
        std::lock_guard lock(mutex_);
        note_ = std::move(text);
    }
    tell();
}

std::string StatusFeed::note() const
{
    std::lock_guard lock(mutex_);
    return note_;
}

ChartFeed& chartFeed()
{
    static ChartFeed feed;
    return feed;
}

StatusFeed& statusFeed()
{
    static StatusFeed feed;
    return feed;
}

}  // namespace tarvo::rt

void ChartBegin(int channels, int digital, unsigned int periodUs)
{
    tarvo::rt::chartFeed().begin(channels, digital, periodUs);
}

int ChartRecord(unsigned int index, const unsigned short* values, int status)
{
    return tarvo::rt::chartFeed().record(index, values, status);
}

void RunStatusBegin(const std::atomic<unsigned int>* records, const std::atomic<unsigned int>* lost,
                    const char* fileName, unsigned int periodUs)
{
    tarvo::rt::statusFeed().begin(records, lost, fileName, periodUs);
}

void RunStatusEnd(void) { tarvo::rt::statusFeed().end(); }

void RunStatusNote(const char* text) { tarvo::rt::statusFeed().note(text ? text : ""); }
