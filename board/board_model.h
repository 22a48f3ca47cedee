// A model of the acquisition board's firmware: the handshake, the check of the
// configuration block, and the record stream, with faults that can be switched
// on. It does no I/O and keeps no clock: the driver (tarvo-board on a
// pseudo-terminal or serial port, or the runtime's virtual port) feeds it what
// the recorder sends, takes what it has to send, and paces records by period().
//
// The board's life:
//   Idle --break--> Identified (identification queued)
//        --14 block bytes--> Configured (checksum queued) or Refused (bad block)
//        --start byte 0x00--> Streaming --> Silent / HungUp (faults)
//   A break restarts the handshake from any state, as on a board that resets
//   on a break. Closing the link while streaming (or after a failed handshake)
//   returns it to Idle, so a new recorder process can run the handshake again.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "record_stream.h"

namespace tarvo::board {

inline constexpr char kIdent[] = "KLVDAQ00730019";  // 14 bytes on the wire, no terminator
inline constexpr std::size_t kIdentLen = 14;
inline constexpr std::size_t kBlockLen = 14;
inline constexpr uint8_t kStartByte = 0x00;
inline constexpr unsigned kMaxChannels = 8;

struct Faults {
    enum class Ident {
        Good,
        Wrong,      // another board's identification
        LowerCase,  // the right text in lower case
        Short,      // only the first 10 bytes
        ZeroByte,   // 14 bytes with a zero byte inside
        Extra,      // the identification followed by "\r\n"
    };
    enum class Check {
        Good,
        Wrong,  // the complement of the right checksum
        None,   // no reply byte at all
    };
    Ident ident = Ident::Good;
    Check check = Check::Good;
    bool noise = false;            // bytes already waiting in the line when the recorder opens it
    uint64_t loseRecordEvery = 0;  // records N, 2N, 3N, ... are not sent (0: never)
    uint64_t loseByteAt = 0;       // byte k (1-based) of the record stream is not sent (0: never)
    uint64_t silenceAfter = 0;     // nothing more after record N (0: never)
    uint64_t hangupAfter = 0;      // the link is hung up after record N (0: never)
    bool flood = false;            // no pacing: records as fast as the link takes them
    // When not empty: the record stream to send, record after record, in
    // place of the test signals (whole records only, at most kSignalCycle - 1);
    // the board falls silent after the last one.
    std::vector<uint8_t> records;
};

// What the board made of a configuration block.
struct BoardConfig {
    bool valid = false;
    unsigned channels = 0;  // 1..8
    bool status = false;    // records end in a status byte
    long baud = 0;          // rate class: 115200, 57600, or 0 for the third class
    unsigned recLen = 0;    // bytes per record
    uint32_t count = 0;     // period count, 10 us steps
    uint32_t periodUs = 0;  // record cost + 10 x count + fine delay
    std::string problem;    // why the block was refused
};

// The 8-bit sum with end-around carry: a carry out of bit 7 goes back into bit 0.
uint8_t blockChecksum(const uint8_t* bytes, std::size_t n);

// Decodes and checks a 14-byte configuration block.
BoardConfig checkBlock(const uint8_t* block);

// The test signals: sample of `channel` (0..7) in record n, 0..4095. Each
// channel has its own shape and period (sines, triangles, ramps); every period
// divides kSignalCycle, so the record stream repeats after that many records.
inline constexpr uint64_t kSignalCycle = 4096;
uint16_t sampleValue(unsigned channel, uint64_t n);
// The status byte of record n: bits 7..4 the digital lines (line k, bit 7-k,
// is a square wave that toggles every 2^(k+3) records), bits 3..0 the record
// counter n mod 16.
uint8_t statusByte(uint64_t n);
// Packs `channels` 12-bit samples: channels 2m and 2m+1 share bytes 3m..3m+2
// (2m: high byte, then its low nibble in bits 3-0 of the middle byte; 2m+1:
// its low nibble in bits 7-4 of the middle byte, then its high byte). With an
// odd count the last channel takes two bytes, and `freeNibble` fills the
// unused high nibble of its second byte. Writes (3 * channels + 1) / 2 bytes.
void packSamples(const uint16_t* values, unsigned channels, uint8_t freeNibble, uint8_t* out);

class BoardModel {
public:
    enum class State { Idle, Identified, Configured, Refused, Streaming, Silent, HungUp };

    explicit BoardModel(Faults faults = {});

    // --- from the recorder
    // A real line break: the board starts a handshake, whatever it was doing.
    void lineBreak();
    // What stands in for a break where the line cannot carry one (a pty): the
    // recorder's input flush or its opening of the port. It restarts the
    // handshake from any state but two, where it is one of the recorder's
    // own steps of an exchange under way:
    //  - identified, before the first block byte: the flush between reading
    //    the identification and sending the block. Ignored.
    //  - configured, with the right checksum sent: the reopening at the
    //    acquisition rate and its flush, before the start byte; or the next
    //    handshake of a recorder whose run never started. Held: a start byte
    //    settles it as the former, and the driver calls confirmBreak() when
    //    none came in time.
    // `what` names the event for the log.
    enum class StandIn { Restarted, Ignored, Held };
    StandIn breakStandIn(const char* what);
    // A held stand-in that no start byte followed: the recorder was starting
    // a new handshake, and the board restarts it. Acts only while held.
    void confirmBreak(const char* what);
    bool held() const { return held_; }
    // The line was flushed after the identification went out and before the
    // recorder could have read it (the driver judges that by time): the
    // identification is sent again. Acts only before the first block byte.
    void resendIdent(const char* what);
    void receive(const uint8_t* bytes, std::size_t n);
    void linkOpened();
    void linkClosed();
    // Power cycle: back to idle, faults kept (a driver gives up on a handshake
    // that the recorder abandoned).
    void reset();

    // --- to the recorder
    // Handshake replies (and noise) waiting to go out; taking them empties the queue.
    std::vector<uint8_t> takeOutput();
    bool hasOutput() const { return !output_.empty(); }

    State state() const { return state_; }
    bool streaming() const { return state_ == State::Streaming; }
    bool flood() const { return faults_.flood; }
    std::chrono::microseconds period() const { return std::chrono::microseconds(config_.periodUs); }

    // Runs the stream for up to `slots` record periods: appends what goes on the
    // wire to *out (after the lost-record and lost-byte faults). A lost record
    // uses its slot and sends nothing. With out == nullptr the records are sent
    // but never arrive (the receiver overran). Returns the slots used; fewer
    // than asked when the stream stopped (state() is then Silent or HungUp).
    uint64_t produce(std::vector<uint8_t>* out, uint64_t slots);
    // Lets up to `slots` record periods pass with nothing sent: the records
    // the line had no room for. The record counter goes on, so the recorder
    // sees the gap; recordsSent() does not count them. Returns the slots used.
    uint64_t skip(uint64_t slots);
    // The number of the last record produced or lost (records count from 1).
    uint64_t recordNumber() const { return stream_.recordNumber(); }
    // Record n (1-based) exactly as generated, before faults; config().recLen bytes.
    void makeRecord(uint64_t n, uint8_t* out) const;

    const BoardConfig& config() const { return config_; }
    uint64_t recordsSent() const { return stream_.recordsSent(); }
    const Faults& faults() const { return faults_; }

    // What happened, one line per event, for tests and the --log file:
    //   "open", "close", "break", "flush (break stand-in)", "open (break stand-in)",
    //   "flush (break stand-in, was streaming)", "flush ignored (identified)",
    //   "flush held (configured, a break unless the start byte follows)",
    //   "flush (break stand-in, no start byte followed)",
    //   "flush discarded the identification",
    //   "tx noise FF 00 ...", "tx ident 4B 4C ...", "rx block 06 0A ...",
    //   "config ok channels=6 status=1 baud=115200 reclen=10 count=49 period=2000",
    //   "config refused: <reason>", "tx checksum EE", "checksum withheld",
    //   "rx start 00", "streaming", "rx 41 ignored", "lost record N",
    //   "lost byte K (record N)", "silent after record N", "hangup after record N",
    //   "idle after N records (run over)", "idle (handshake abandoned)".
    // Drivers add their own with note(): "line 115200 8E1",
    // "overrun: N records not delivered", "done after record N", "hung up",
    // "exclusive use left by a closed recorder cleared".
    // Record bytes are not logged (see recordsSent and makeRecord). Undrained,
    // the log keeps its last 10,000 lines.
    const std::deque<std::string>& log() const { return log_; }
    std::vector<std::string> takeLog();
    // Adds a driver's own event to the log.
    void note(std::string line);

private:
    void identify();
    void queueIdent();
    void configure();
    void toIdle(const char* why);
    void queue(const uint8_t* bytes, std::size_t n, const char* what);

    Faults faults_;
    State state_ = State::Idle;
    BoardConfig config_;
    bool replyGood_ = false;  // the checksum reply was the right one
    bool held_ = false;       // a stand-in awaits the start byte or confirmBreak()
    std::vector<uint8_t> block_;
    std::vector<uint8_t> output_;
    RecordStream stream_;
    std::deque<std::string> log_;
};

const char* stateName(BoardModel::State s);

}  // namespace tarvo::board
