// The board's record stream: the records of the test signals (or of a given
// stream) one after the other, each in its period's slot, with the stream
// faults applied: lost records, a lost byte, silence or a hang-up after some
// record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvo::board {

struct BoardConfig;
struct Faults;

// Record n (1-based) of `config` exactly as generated, before faults;
// config.recLen bytes.
void makeRecord(const BoardConfig& config, uint64_t n, uint8_t* out);

class RecordStream {
public:
    // Why the stream stopped.
    enum class End { Running, Silent, HungUp };
    using Note = std::function<void(std::string)>;

    // Makes the records of `config`. A given stream (faults.records) takes
    // the place of the signals and ends in silence after its last record:
    // that silence is written into *faults.
    void configure(const BoardConfig& config, Faults* faults);
    // The start byte: the stream begins again at record 1.
    void restart();
    // Runs the stream with these faults for up to `slots` record periods, as
    // BoardModel::produce(); tells what happened through `note`. Returns the
    // slots used; fewer than asked when the stream stopped, *end says how.
    uint64_t produce(std::vector<uint8_t>* out, uint64_t slots, const Faults& faults,
                     const Note& note, End* end);
    // Lets up to `slots` record periods pass with nothing sent (the line
    // was still busy): the records are made and dropped, and the counter
    // goes on. The end of the stream still comes where it would.
    uint64_t skip(uint64_t slots, const Faults& faults, const Note& note, End* end);

    uint64_t recordNumber() const { return slot_; }
    uint64_t recordsSent() const { return recordsSent_; }

private:
    std::size_t len_ = 0;
    std::vector<uint8_t> cycle_;  // kSignalCycle records, record n at (n % kSignalCycle)
    uint64_t slot_ = 0;
    uint64_t recordsSent_ = 0;
    bool noRecords_ = false;  // a given stream holds no whole record
    uint64_t streamPos_ = 0;  // bytes of the record stream so far, a lost byte included
    bool byteLost_ = false;
};

}  // namespace tarvo::board
