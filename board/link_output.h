// What tarvo-board writes to its link: the model's handshake replies, then
// its records, paced by the model's period (or, in flood mode, as fast as
// the link takes them), up to a given number of records. What the link has
// not taken yet waits here; a reader that falls behind loses the oldest
// records, as on a receiver that overruns.
//
// No line rate is modelled here (the virtual board models one): on a serial
// port the UART itself carries the bytes at the line's pace, and a
// pseudo-terminal has no line. Its baud rate is a setting the recorder
// stores, and the rate classes 115200 and 57600 leave every record time to
// cross its line anyway; the pty stays a link as fast as the machine, which
// the flood measurements and the tests of the recorder's own pace rely on.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "board_model.h"
#include "record_pacer.h"

namespace tarvo::board {

class LinkOutput {
public:
    using Clock = std::chrono::steady_clock;

    // `records`: the stream ends after that many records (0: never).
    LinkOutput(BoardModel& model, uint64_t records);

    // Called after the model took bytes from the recorder: the start byte
    // anchors the record schedule.
    void received();
    // Takes the model's handshake output and the records due by now.
    void take();
    // Writes what the link takes; the record bytes go to `dump` as well.
    void write(int fd, FILE* dump);

    void dropHandshake() { handshake_.clear(); }  // the board reset before sending it
    void dropRecords();  // a new handshake: records not written never will be

    bool handshakeWritten() const { return handshake_.empty(); }
    bool recordsWritten() const { return written_ == recordBytes_.size(); }
    bool allWritten() const { return handshakeWritten() && recordsWritten(); }
    // The last record asked for is made.
    bool recordsDone() const { return records_ && model_.recordNumber() >= records_; }
    // Flood mode always has more to send.
    bool moreToFlood() const { return model_.streaming() && model_.flood() && !recordsDone(); }
    // When the next paced record falls due, if one will.
    std::optional<Clock::time_point> nextDue() const;

private:
    BoardModel& model_;
    const uint64_t records_;
    std::vector<uint8_t> handshake_;    // handshake bytes not yet written
    std::vector<uint8_t> recordBytes_;  // record bytes, written up to written_
    std::size_t written_ = 0;
    RecordPacer pacer_;
    bool streaming_ = false;  // the schedule is anchored
    bool doneNoted_ = false;
};

}  // namespace tarvo::board
