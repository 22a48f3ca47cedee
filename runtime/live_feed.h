// What the live view reads from a run, without Qt: the records on their way
// to the chart and the counters of the run status. The sampling thread writes,
// the panel's timers read; neither waits on the other. Internal to the
// run-time layer.
#pragma once

#include "spsc_ring.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace tarvo::rt {

inline constexpr int kChartChannels = 8;

// One record as the chart sees it.
struct ChartPoint {
    std::uint32_t index;  // record number in the run, from 1
    std::uint16_t values[kChartChannels];
    std::uint8_t status;  // the digital lines in bits 7..4
    std::uint8_t unused;
    std::uint16_t run;  // the ChartBegin it belongs to (low bits)
};

struct ChartLayout {
    unsigned run = 0;  // counts ChartBegin calls; 0: none yet
    int channels = 0;
    bool digital = false;
    unsigned periodUs = 0;
};

// "Never" as a pass-over count: the chart takes no more records.
inline constexpr int kChartOff = INT_MAX;

class ChartFeed {
public:
    // About a third of a second of the fastest decimated stream, and several
    // seconds of the fastest real board.
    static constexpr std::size_t kRingSize = 16384;

    // ---- the run's side
    void begin(int channels, int digital, unsigned periodUs);
    int record(unsigned index, const unsigned short* values, int status) noexcept;

    // ---- the chart's side (one consumer)
    ChartLayout layout() const;
    std::size_t drain(ChartPoint* out, std::size_t max) noexcept { return ring_.pop(out, max); }
    // While no chart is attached, a run hands over no records at all.
    void attach() { skip_.store(0, std::memory_order_relaxed); }
    void detach() { skip_.store(kChartOff, std::memory_order_relaxed); }
    void setSkip(int n) { skip_.store(n, std::memory_order_relaxed); }
    int skip() const { return skip_.load(std::memory_order_relaxed); }
    // Records handed over and records the ring had no room for.
    std::uint64_t offered() const { return offered_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    SpscRing<ChartPoint, kRingSize> ring_;
    std::atomic<int> skip_{kChartOff};
    std::atomic<int> channels_{0};
    std::atomic<unsigned> run_{0};
    std::atomic<std::uint64_t> offered_{0}, dropped_{0};
    mutable std::mutex mutex_;  // layout_: written by begin, read once a frame
    ChartLayout layout_;
};

// The numbers of the run status at one moment.
struct StatusSample {
    enum class Phase { Idle, Running, Ended } phase = Phase::Idle;
    unsigned records = 0;
    unsigned lost = 0;
    double elapsed = 0;           // seconds since the run began (to its end, once ended)
    std::string fileName;         // as the run named it
    std::int64_t fileBytes = -1;  // -1: the file cannot be read
    unsigned run = 0;             // counts RunStatusBegin calls
    unsigned periodUs = 0;        // 0: not known
};

class StatusFeed {
public:
    using Clock = std::chrono::steady_clock;

    void begin(const std::atomic<unsigned>* records, const std::atomic<unsigned>* lost,
               const char* fileName, unsigned periodUs = 0);
    // Ends the run (once) and tells the listener, each time.
    void end();
    StatusSample sample() const;
    // Sets the note and tells the listener.
    void note(std::string text);
    std::string note() const;

    // `listener` is called, on the calling thread, after each note and end:
    // the window shows them without waiting for its next reading. One
    // listener at a time; unlisten (by the owner that listened) waits for a
    // call under way.
    void listen(const void* owner, std::function<void()> listener);
    void unlisten(const void* owner);

private:
    void tell();

    std::mutex listenMutex_;
    std::function<void()> listener_;
    const void* listenerOwner_ = nullptr;
    mutable std::mutex mutex_;
    const std::atomic<unsigned>* records_ = nullptr;
    const std::atomic<unsigned>* lost_ = nullptr;
    std::string name_;  // as given
    std::string file_;  // absolute: the current directory may change during the run
    Clock::time_point begun_, ended_;
    StatusSample::Phase phase_ = StatusSample::Phase::Idle;
    unsigned run_ = 0;
    unsigned periodUs_ = 0;
    std::string note_;
};

// The process's feeds, alive until it ends.
ChartFeed& chartFeed();
StatusFeed& statusFeed();

}  // namespace tarvo::rt
