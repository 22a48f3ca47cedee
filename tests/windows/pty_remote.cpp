// support/pty.h and serial/pty_pair.h under wine: the far end of the line is
// a pseudo-terminal held by tarvo-lines, and the "slave path" the recorder
// opens is its COM name. The test programs that use them build unchanged
// for Windows.
#include <windows.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>

#include <gtest/gtest.h>

#include "lines.h"
#include "pty.h"
#include "pty_pair.h"

namespace {

// The headers keep the POSIX members (descriptors); the remote line of each
// object lives here instead.
template <typename Owner>
class Lines {
public:
    RemoteLine& open(const Owner* owner)
    {
        std::lock_guard lock(mutex_);
        auto& line = lines_[owner];
        line = std::make_unique<RemoteLine>("pty");
        return *line;
    }
    RemoteLine* of(const Owner* owner)
    {
        std::lock_guard lock(mutex_);
        auto it = lines_.find(owner);
        return it == lines_.end() ? nullptr : it->second.get();
    }
    void close(const Owner* owner)
    {
        std::unique_ptr<RemoteLine> gone;
        std::lock_guard lock(mutex_);
        if (auto it = lines_.find(owner); it != lines_.end()) {
            gone = std::move(it->second);
            lines_.erase(it);
        }
    }

private:
    std::mutex mutex_;
    std::map<const Owner*, std::unique_ptr<RemoteLine>> lines_;
};

Lines<Pty> ptyLines;
Lines<PtyPair> pairLines;

}  // namespace

Pty::Pty() { slave_ = ptyLines.open(this).com(); }
Pty::~Pty() { ptyLines.close(this); }

void Pty::write(const std::vector<unsigned char>& bytes)
{
    if (auto* line = ptyLines.of(this))
        line->write(bytes);
}

std::vector<unsigned char> Pty::read(size_t n, double seconds)
{
    auto* line = ptyLines.of(this);
    return line ? line->read(n, seconds) : std::vector<unsigned char>{};
}

void Pty::closeMaster()
{
    if (auto* line = ptyLines.of(this))
        line->hangUp();
}

PtyPair::PtyPair() { slave_ = pairLines.open(this).com(); }
PtyPair::~PtyPair() { pairLines.close(this); }

void PtyPair::write(const std::vector<uint8_t>& bytes)
{
    if (auto* line = pairLines.of(this))
        line->write(bytes);
}

std::vector<uint8_t> PtyPair::read(std::size_t n, double seconds)
{
    auto* line = pairLines.of(this);
    return line ? line->read(n, seconds) : std::vector<uint8_t>{};
}

void PtyPair::closeMaster()
{
    if (auto* line = pairLines.of(this))
        line->hangUp();
}

std::vector<uint8_t> allByteValues()
{
    std::vector<uint8_t> v(256);
    for (int i = 0; i < 256; ++i)
        v[i] = static_cast<uint8_t>(i);
    return v;
}

TempDir::TempDir()
{
    std::random_device seed;
    std::mt19937_64 random(seed() ^ GetCurrentProcessId());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto dir = base / ("tarvo-test-" + std::to_string(random() % 1000000000));
        std::error_code ec;
        if (std::filesystem::create_directory(dir, ec))
            path_ = dir.string();
    }
    if (path_.empty())
        ADD_FAILURE() << "no temporary directory";
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}
