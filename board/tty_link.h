// tarvo-board's link on a real serial port (--device), for a rig with a
// null-modem cable. The line runs 8N1 at the handshake rate, and at the
// acquisition rate with even parity for the records. A break arrives through
// parity marking (see parity_marks.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parity_marks.h"

namespace tarvo::board {

class TtyLink {
public:
    enum class Line { Handshake, Acquisition };

    TtyLink() = default;
    TtyLink(const TtyLink&) = delete;
    TtyLink& operator=(const TtyLink&) = delete;
    ~TtyLink() { close(); }

    // On failure prints a one-line reason on stderr.
    bool open(const std::string& device);
    int fd() const { return fd_; }
    const std::string& device() const { return device_; }

    // Sets the line: 8N1 for the handshake, 8E1 for the records, at `baud`.
    // False when the port did not take the rate.
    bool apply(Line line, long baud);
    Line line() const { return line_; }

    // Reads once: appends what came in to *in. False when nothing waits.
    bool read(std::vector<LineInput>* in);

    void discardOutput();  // what the port has not sent yet
    void discardBoth();    // and what it received
    void drain();          // waits until everything written is sent
    void close();

private:
    int fd_ = -1;
    std::string device_;
    Line line_ = Line::Handshake;
    MarkState marks_ = MarkState::Plain;
};

}  // namespace tarvo::board
