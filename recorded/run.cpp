#include "run.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarvo::recorded {

namespace {

// The head of the data file: enough lines to tell its columns.
std::string head(const std::string& path, uint64_t& size, std::string& why)
{
    std::error_code ec;
    size = std::filesystem::file_size(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (ec || !in) {
        why = ec ? ec.message() : "cannot be read";
        return {};
    }
    std::string text(64 * 1024, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    return text;
}

std::string stampOf(const std::string& path)
{
    std::error_code ec, ec2;
    const auto size = std::filesystem::file_size(path, ec);
    const auto when = std::filesystem::last_write_time(path, ec2);
    if (ec || ec2)
        return {};
    return std::to_string(size) + "@" + std::to_string(when.time_since_epoch().count());
}

}  // namespace

std::unique_ptr<Run> Run::open(const std::string& path, const Options& options, std::string& why)
{
    std::unique_ptr<Run> run(new Run());
    std::string what;
    if (!findRun(path, run->files_, what)) {
        why = path + ": " + what;
        return nullptr;
    }
    const std::string& data = run->files_.data;
    uint64_t size = 0;
    const std::string text = head(data, size, what);
    if (!what.empty()) {
        why = data + ": " + what;
        return nullptr;
    }
    RunInfo& info = run->info_;
    if (!loadInfo(run->files_, text, info, why))
        return nullptr;
    if (!resolveLayout(info, text, size, options.statusByte, what)) {
        why = data + ": " + what;
        return nullptr;
    }
    run->runStamp_ = run->files_.run.empty() ? "" : stampOf(run->files_.run);

    Records::Options ro;
    ro.threads = options.threads;
    ro.extents = options.pyramid;
    ro.progress = options.progress;
    if (!run->records_.open(data, Layout::of(info.settings), ro, what)) {
        why = data + ": " + what;
        return nullptr;
    }
    const uint64_t count = run->records_.count();
    if (info.source == Source::Report && info.records) {
        // The report counts the records begun; the last may not have been
        // written, and a disk that filled up keeps fewer.
        const uint64_t said = *info.records;
        if (count > said) {
            why = data + ": " + std::to_string(count) + " records, but " + run->files_.report +
                  " counts " + std::to_string(said) + ": the report is not this file's";
            return nullptr;
        }
        if (count + 1 < said)
            info.notes.push_back(run->files_.report + " counts " + std::to_string(said) +
                                 " records; the data file holds " + std::to_string(count));
    }
    if (info.source == Source::Description && info.ended && info.records && *info.records != count)
        info.notes.push_back(run->files_.run + " counts " + std::to_string(*info.records) +
                             " records; the data file holds " + std::to_string(count));
    if (options.pyramid)
        run->pyramid_ = std::make_unique<Pyramid>(run->records_);
    run->records_.releasePages();
    run->takeEvents();
    return run;
}

void Run::takeEvents()
{
    eventLost_.clear();
    uint64_t lost = 0;
    std::vector<std::pair<uint64_t, uint64_t>> losses;
    for (const Event& e : info_.events)
        if (e.type == Event::Type::Loss && e.record >= 2)  // the first record is at time 0
            losses.emplace_back(e.record - 1, e.missing);
    std::stable_sort(losses.begin(), losses.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [record, missing] : losses) {
        lost += missing;
        eventLost_.emplace_back(record, lost);
    }
}

uint64_t Run::lostBefore(uint64_t i) const
{
    if (records_.layout().counter)
        return records_.lostBefore(i);
    auto it = std::upper_bound(eventLost_.begin(), eventLost_.end(), i,
                               [](uint64_t v, const auto& e) { return v < e.first; });
    return it == eventLost_.begin() ? 0 : std::prev(it)->second;
}

uint64_t Run::periodUs() const
{
    return info_.settings.periodUs != 0 ? info_.settings.periodUs : 1000000;
}

uint64_t Run::recordAt(uint64_t us) const
{
    uint64_t lo = 0, hi = count();
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (timeUs(mid) < us)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::vector<Extent> Run::minmax(unsigned channel, uint64_t first, uint64_t last,
                                unsigned columns) const
{
    if (!pyramid_)
        return std::vector<Extent>(columns);
    return pyramid_->minmax(channel, first, last, columns);
}

std::vector<Run::Mark> Run::marks() const
{
    std::vector<Mark> out;
    if (records_.layout().counter) {
        for (const Loss& l : records_.losses())
            out.push_back({Event::Type::Loss, l.record, l.missing, {}, {}});
    }
    for (const Event& e : info_.events) {
        if (e.type == Event::Type::Silence)
            out.push_back({e.type, e.record, 0, e.start, e.end});
        else if (!records_.layout().counter && e.record >= 1)
            out.push_back({e.type, e.record - 1, e.missing, {}, {}});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Mark& a, const Mark& b) { return a.record < b.record; });
    return out;
}

bool Run::readDescription()
{
    if (files_.run.empty())
        return false;
    const std::string stamp = stampOf(files_.run);
    if (stamp.empty() || stamp == runStamp_)
        return false;
    std::ifstream in(files_.run, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RunInfo fresh;
    std::string what;
    // A description being rewritten may be caught half written: the next
    // look reads it whole.
    if (!parseDescription(text, fresh, what))
        return false;
    runStamp_ = stamp;
    fresh.settings = info_.settings;  // the file's layout stays as it was read
    fresh.notes = info_.notes;
    info_ = std::move(fresh);
    takeEvents();
    return true;
}

Records::Growth Run::refresh(std::string& why)
{
    const Records::Growth g = records_.refresh(why);
    if (pyramid_ && g != Records::Growth::Failed && g != Records::Growth::Shrunk)
        pyramid_->update();
    readDescription();
    return g;
}

}  // namespace tarvo::recorded
