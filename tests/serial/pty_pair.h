// A pseudo-terminal for the serial tests: the test holds the master side and
// plays the far end of the line, the layer opens the slave path as a port.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair();  // fails the test when no pseudo-terminal can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return master_; }
    const std::string& slavePath() const { return slave_; }

    void write(const std::vector<uint8_t>& bytes);
    // What the layer sent: waits up to `seconds` for `n` bytes.
    std::vector<uint8_t> read(std::size_t n, double seconds);
    // The far end goes away.
    void closeMaster();

private:
    int master_ = -1;
    std::string slave_;
};

// The slave's output rate in bits/s, read through the master side (termios
// requests on a pty master act on its slave); any rate, not only the termios
// constants. -1 when it cannot be read.
long slaveBaud(int masterFd);

// Seconds since `start`.
inline double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every byte value once, in order.
std::vector<uint8_t> allByteValues();
