// Test support: a pseudo-terminal whose master side the test holds, playing
// the board, while the recorder opens the slave side as a serial port.
#pragma once

#include <string>
#include <vector>

class Pty {
public:
    Pty();  // raw master and slave; fails the test if none can be had
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& slavePath() const { return slave_; }
    void write(const std::vector<unsigned char>& bytes);
    // What the recorder wrote, waiting up to `seconds` for at least `n` bytes.
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

std::string readfile(const std::string& path);
