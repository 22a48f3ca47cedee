// Test support under wine: the far end of a serial line, held by the native
// tarvo-lines server (see line_server.cpp) on a pseudo-terminal that wine
// shows as a COM port. tests/windows/wine-run.sh starts the server and
// tells the test programs its port in TARVO_LINES.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RemoteLine {
public:
    // "pty", or "board OPTION..." for tarvo-board with those options. Fails
    // the test when the server cannot be reached or refuses.
    explicit RemoteLine(const std::string& request);
    ~RemoteLine();
    RemoteLine(const RemoteLine&) = delete;
    RemoteLine& operator=(const RemoteLine&) = delete;

    // "COM23": the port the recorder opens.
    const std::string& com() const { return com_; }

    // pty: the far end sends, reads what the port sent, hangs up.
    void write(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> read(std::size_t n, double seconds);
    void hangUp();

    // board: ends tarvo-board (SIGTERM) and returns its log.
    std::string stopBoard(int* exitStatus = nullptr);

private:
    // One request, one reply line; the reply without "ok ", or empty and a
    // test failure on an error.
    std::string call(const std::string& request);

    std::uintptr_t sock_;
    std::string com_;
};
