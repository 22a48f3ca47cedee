#include "records.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <functional>
#include <thread>

#include "records_scan.h"

namespace tarvo::recorded {

Layout Layout::of(const Settings& s)
{
    Layout l;
    l.format = s.format;
    l.channels = s.channels;
    l.statusByte = s.statusByte;
    l.digital = s.fileHasDigital();
    l.counter = s.fileHasCounter();
    return l;
}

unsigned Layout::recordBytes() const { return reclen(channels, statusByte ? 1 : 0); }
unsigned Layout::columns() const { return channels + (digital ? 4 : 0) + (counter ? 1 : 0); }

Records::Records() = default;
Records::~Records() = default;

void Records::reset()
{
    file_.close();
    memory_.clear();
    data_ = nullptr;
    size_ = bytes_ = count_ = 0;
    offsets_.clear();
    skips_.clear();
    extents_.clear();
    lastCounter_ = -1;
    lost_ = 0;
    losses_.clear();
    lossesDropped_ = 0;
}

bool Records::open(const std::string& path, const Layout& layout, const Options& options,
                   std::string& why)
{
    reset();
    if (!file_.open(path, why))
        return false;
    layout_ = layout;
    data_ = file_.data();
    size_ = file_.size();
    return index(0, size_, options, true, why);
}

bool Records::openBytes(std::string bytes, const Layout& layout, const Options& options,
                        std::string& why)
{
    reset();
    memory_ = std::move(bytes);
    layout_ = layout;
    data_ = memory_.data();
    size_ = memory_.size();
    return index(0, size_, options, true, why);
}

namespace {

// The end of the whole records in [from, to): a raw record's length, or
// the last line end.
uint64_t wholeEnd(const char* data, const Layout& l, uint64_t from, uint64_t to)
{
    if (l.format == Format::Raw)
        return from + (to - from) / l.recordBytes() * l.recordBytes();
    for (uint64_t i = to; i > from; i--)
        if (data[i - 1] == '\n')
            return i;
    return from;
}

// [from, end) cut into one chunk per thread: raw records at block
// boundaries, lines at line starts (a chunk after the first learns the
// number of its first record by counting the lines before it).
std::vector<Records::Chunk> cut(const char* data, const Layout& l, uint64_t from, uint64_t end,
                                unsigned threads, uint64_t firstRecord)
{
    std::vector<Records::Chunk> chunks(threads);
    for (unsigned k = 0; k < threads; k++) {
        Records::Chunk& c = chunks[k];
        if (l.format == Format::Raw) {
            const uint64_t n = (end - from) / l.recordBytes();
            const uint64_t r0 = k == 0 ? 0 : n * k / threads / kBlock * kBlock;
            const uint64_t r1 = k + 1 == threads ? n : n * (k + 1) / threads / kBlock * kBlock;
            c.firstRecord = firstRecord + r0;
            c.from = from + r0 * l.recordBytes();
            c.to = from + r1 * l.recordBytes();
        } else {
            auto lineStart = [&](uint64_t at) {
                if (at <= from)
                    return from;
                const void* nl = std::memchr(data + at - 1, '\n', end - (at - 1));
                return nl ? uint64_t(static_cast<const char*>(nl) - data) + 1 : end;
            };
            c.from = lineStart(from + (end - from) * k / threads);
            c.to = k + 1 == threads ? end : lineStart(from + (end - from) * (k + 1) / threads);
            c.firstRecord = firstRecord;  // chunks after the first count their lines first
        }
    }
    return chunks;
}

// Runs work(0) .. work(threads - 1), each on a thread of its own, while the
// caller's thread reports progress about every 50 ms (cancelling the pass
// when it answers false).
void runThreads(unsigned threads, const std::function<void(unsigned)>& work, scan::Pass& pass,
                const Records::Options& options, uint64_t total)
{
    std::mutex m;
    std::condition_variable cv;
    unsigned finished = 0;
    std::vector<std::thread> pool;
    for (unsigned k = 0; k < threads; k++)
        pool.emplace_back([&, k] {
            work(k);
            std::lock_guard<std::mutex> lock(m);
            finished++;
            cv.notify_one();
        });
    std::unique_lock<std::mutex> lock(m);
    while (!cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return finished == threads; })) {
        if (options.progress && !pass.cancel.load() &&
            !options.progress(std::min(pass.done.load(), total), total))
            pass.cancel.store(true);
    }
    lock.unlock();
    for (auto& t : pool)
        t.join();
}

}  // namespace

bool Records::index(uint64_t from, uint64_t to, const Options& options, bool parallel,
                    std::string& why)
{
    Layout& l = layout_;
    if (l.format == Format::Raw)
        l.digital = l.counter = l.statusByte;
    if (l.channels < 1 || l.channels > 8) {
        why = "channels must be 1 to 8";
        return false;
    }
    if (from == 0) {
        extentsOn_ = options.extents;
        extents_.assign(extentsOn_ ? l.lanes() : 0, {});
    }
    scan::Pass pass;
    pass.data = data_;
    pass.size = size_;
    pass.file = memory_.empty() && data_ != nullptr ? &file_ : nullptr;
    pass.layout = l;
    pass.extents = extentsOn_;

    const uint64_t end = wholeEnd(data_, l, from, to);
    if (end == from)
        return true;

    unsigned threads =
        parallel && end - from >= options.parallelFrom ? std::max(1u, options.threads) : 1;
    std::vector<Chunk> chunks = cut(data_, l, from, end, threads, count_);
    auto work = [&](unsigned k) {
        Chunk& c = chunks[k];
        if (l.format == Format::Raw) {
            scan::scanRaw(pass, c);
            return;
        }
        if (k > 0) {
            scan::Releaser rel{pass.file, from};
            c.firstRecord =
                count_ + scan::countLines(data_ + from, data_ + c.from, pass, rel, data_);
            rel.finish(c.from);
        }
        if (!pass.cancel.load())
            scan::scanColumns(pass, c);
    };
    const uint64_t total = end - from;
    if (threads == 1 && (!options.progress || total < scan::kQuiet))
        work(0);
    else
        runThreads(threads, work, pass, options, total);
    // The first fault in the file: every chunk before it was read whole.
    for (Chunk& c : chunks)
        if (c.failed && c.why != "cancelled") {
            why = c.why;
            return false;
        }
    if (pass.cancel.load() || (options.progress && !options.progress(total, total))) {
        why = "cancelled";
        return false;
    }
    for (Chunk& c : chunks)
        merge(c);
    return true;
}

void Records::merge(Chunk& c)
{
    if (c.records == 0)
        return;
    uint64_t base = lost_;
    if (layout_.counter && c.firstCounter >= 0 && lastCounter_ >= 0) {
        const unsigned gap = scan::counterGap(unsigned(lastCounter_), unsigned(c.firstCounter));
        if (gap != 0) {
            base += gap;
            scan::addLoss(losses_, lossesDropped_, count_, gap);
        }
    }
    offsets_.insert(offsets_.end(), c.offsets.begin(), c.offsets.end());
    for (uint64_t s : c.skips)
        skips_.push_back(base + s);
    for (const Loss& loss : c.losses)
        scan::addLoss(losses_, lossesDropped_, loss.record, loss.missing);
    lossesDropped_ += c.lossesDropped;
    lost_ = base + c.lost;
    for (size_t lane = 0; lane < extents_.size() && lane < c.extents.size(); lane++) {
        std::vector<Extent>& mine = extents_[lane];
        const std::vector<Extent>& theirs = c.extents[lane];
        size_t k = 0;
        if (count_ % kBlock != 0 && !theirs.empty() && !mine.empty()) {
            Extent& last = mine.back();
            if (lane == layout_.channels) {  // the digital lane: AND and OR
                last.lo &= theirs[0].lo;
                last.hi |= theirs[0].hi;
            } else {
                last.add(theirs[0]);
            }
            k = 1;
        }
        mine.insert(mine.end(), theirs.begin() + long(k), theirs.end());
        std::vector<Extent>().swap(c.extents[lane]);
    }
    count_ += c.records;
    bytes_ = c.to;
    lastCounter_ = c.lastCounter;
}

Records::Growth Records::refresh(std::string& why)
{
    if (!memory_.empty() || file_.path().empty())
        return Growth::None;
    bool shrunk = false;
    if (!file_.remap(why, &shrunk))
        return Growth::Failed;
    if (shrunk && file_.size() < bytes_)
        return Growth::Shrunk;
    data_ = file_.data();
    size_ = file_.size();
    const uint64_t before = count_;
    Options serial;
    serial.threads = 1;
    serial.extents = extentsOn_;
    if (size_ > bytes_ && !index(bytes_, size_, serial, false, why))
        return Growth::Failed;
    if (!file_.isAt(file_.path()))
        return Growth::Replaced;
    return count_ > before ? Growth::Added : Growth::None;
}

void Records::releasePages() const
{
    if (memory_.empty())
        file_.release(0, size_);
}

size_t Records::memoryBytes() const
{
    size_t n = offsets_.capacity() * sizeof(uint64_t) + skips_.capacity() * sizeof(uint64_t) +
               losses_.capacity() * sizeof(Loss);
    for (const auto& e : extents_)
        n += e.capacity() * sizeof(Extent);
    return n;
}

}  // namespace tarvo::recorded
