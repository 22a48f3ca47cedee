// Test support: a pseudo-terminal whose master side the test holds, playing
// the board, while the recorder opens the slave side as a serial port.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#endif

class Pty {
public:
    Pty();  // raw master and slave; fails the test if none can be had
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slave_; }
    void write(const std::vector<unsigned char>& bytes);
    // What the recorder wrote, waiting up to `seconds` for `n` bytes.
    std::vector<unsigned char> read(size_t n, double seconds);
    void closeMaster();  // the board hangs up

private:
    int master_ = -1;
    int slaveKeep_ = -1;  // keeps the slave's settings while the recorder reopens it
    std::string slave_;
};

// A fresh temporary directory, removed with its files at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string readfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

#ifndef _WIN32
// Up to `n` bytes from either end of a pseudo-terminal, taken as they come
// until `end`. A hang-up or a failed read ends it early; `*ended` then says
// whether the line was hung up (end of file or EIO).
inline std::vector<uint8_t> readUntil(int fd, std::size_t n,
                                      std::chrono::steady_clock::time_point end,
                                      bool* ended = nullptr)
{
    std::vector<uint8_t> got;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            continue;
        uint8_t buf[4096];
        const ssize_t k = ::read(fd, buf, std::min(sizeof buf, n - got.size()));
        if (k < 0 && errno == EAGAIN)
            continue;
        if (k <= 0) {
            if (ended)
                *ended = k == 0 || errno == EIO;
            break;
        }
        got.insert(got.end(), buf, buf + k);
    }
    return got;
}

// The same, waiting up to `seconds` from now.
inline std::vector<uint8_t> readFor(int fd, std::size_t n, double seconds)
{
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(seconds));
    return readUntil(fd, n, end);
}
#endif
